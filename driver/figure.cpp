#include "driver/figure.h"

#include "driver/support.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace e2e {

namespace {

// How far from the outline and the radial edges a pixel must be before it is
// judged: rasterizers differ there (Wine's is not Windows').
constexpr double Margin = 4.0;

// How far from the ideal outline the pen's line may lie.
constexpr int OutlineReach = 3;

// Below this width or height the outline is not judged: too little of it.
constexpr int OutlineMinimumSize = 24;

constexpr DWORD White = 0x00FFFFFF;
constexpr DWORD Magenta = 0x00FF00FF;  // as a 32-bit BGRX pixel

// The default pen is black; nothing else in the client comes near it.
constexpr bool Dark(DWORD pixel)
{
    return (pixel & 0xFF) < 0x50 && ((pixel >> 8) & 0xFF) < 0x50 && ((pixel >> 16) & 0xFF) < 0x50;
}

enum class Zone { Outside, Wedge, Fill };

struct Ideal {
    double cx, cy, a, b;
    double r1x, r1y, r2x, r2y;  // the two rays from the centre

    Ideal(int width, int height)
        : cx(width / 2.0), cy(height / 2.0), a(width / 2.0), b(height / 2.0),
          r1x(width / 3 - cx), r1y(-cy), r2x((2 * width) / 3 - cx), r2y(-cy)
    {
    }

    Zone At(double x, double y) const
    {
        const double nx = (x - cx) / a;
        const double ny = (y - cy) / b;
        if (nx * nx + ny * ny >= 1.0)
            return Zone::Outside;
        const double dx = x - cx;
        const double dy = y - cy;
        // Between the rays, going from the first to the second clockwise on screen.
        const bool afterFirst = r1x * dy - r1y * dx > 0;
        const bool beforeSecond = dx * r2y - dy * r2x > 0;
        return afterFirst && beforeSecond ? Zone::Wedge : Zone::Fill;
    }

    // The zone, when the point lies more than the margin from the outline and
    // from both radial edges; otherwise the pixel is not judged.
    // Compared squared, without roots: every pixel of a large client comes
    // here, and under an emulator a root costs as much as the rest.
    bool Sure(double x, double y, Zone* zone) const
    {
        const double dx = x - cx, dy = y - cy;
        const double f = (dx * dx) / (a * a) + (dy * dy) / (b * b) - 1.0;
        const double gx = 2 * dx / (a * a), gy = 2 * dy / (b * b);
        const double gradient2 = gx * gx + gy * gy;
        if (gradient2 > 0 && f * f <= Margin * Margin * gradient2)
            return false;
        if (NearRay(dx, dy, r1x, r1y) || NearRay(dx, dy, r2x, r2y))
            return false;
        *zone = At(x, y);
        return true;
    }

    // Points on the ideal outline: along the curve (where it is drawn, clear
    // of the corners it makes with the radii) and along both radii.
    std::vector<std::pair<double, double>> OutlineSamples() const
    {
        constexpr int CurveSamples = 96, RadiusSamples = 12;
        std::vector<std::pair<double, double>> samples;
        for (int i = 0; i < CurveSamples; ++i) {
            const double t = 2 * 3.14159265358979 * i / CurveSamples;
            const double dx = a * std::cos(t), dy = b * std::sin(t);
            if (At(cx + 0.9 * dx, cy + 0.9 * dy) == Zone::Wedge || NearRay(dx, dy, r1x, r1y) ||
                NearRay(dx, dy, r2x, r2y))
                continue;
            samples.emplace_back(cx + dx, cy + dy);
        }
        for (const auto& [rx, ry] : {std::pair{r1x, r1y}, std::pair{r2x, r2y}}) {
            // Where the ray meets the ellipse.
            const double scale = 1 / std::sqrt((rx * rx) / (a * a) + (ry * ry) / (b * b));
            for (int i = 1; i <= RadiusSamples; ++i) {
                const double f = scale * i / (RadiusSamples + 1);
                samples.emplace_back(cx + f * rx, cy + f * ry);
            }
        }
        return samples;
    }

    // Within the margin of the ray from the centre along (rx, ry).
    static bool NearRay(double dx, double dy, double rx, double ry)
    {
        const double length2 = rx * rx + ry * ry;
        // Behind the centre, the nearest point of the ray is the centre.
        if (length2 == 0 || dx * rx + dy * ry < 0)
            return dx * dx + dy * dy <= Margin * Margin;
        const double cross = dx * ry - dy * rx;
        return cross * cross <= Margin * Margin * length2;
    }
};

}  // namespace

std::string FigureReport::Summary() const
{
    return "client " + std::to_string(width) + "x" + std::to_string(height) + ": " + std::to_string(checked) +
           " pixels judged, " + std::to_string(magenta) + " magenta; wrong: fill " + std::to_string(wrongFill) +
           ", outside " + std::to_string(wrongOutside) + ", wedge " + std::to_string(wrongWedge) +
           "; outline missing at " + std::to_string(outlineMissing) + " of " + std::to_string(outlineSamples) +
           " samples" +
           (firstWrong.empty() ? "" : "; first at" + firstWrong);
}

namespace {

// The part of a width x height area at (left, top) that lies on the screen,
// in the area's own coordinates. What lies past the screen's edge nobody sees.
RECT OnScreen(int left, int top, int width, int height)
{
    return RECT{std::max(-left, 0), std::max(-top, 0),
                std::min(width, GetSystemMetrics(SM_CXSCREEN) - left),
                std::min(height, GetSystemMetrics(SM_CYSCREEN) - top)};
}

// A 32-bit top-down DIB section with its own memory DC.
class Canvas {
public:
    Canvas(int width, int height) : width_(width), height_(height)
    {
        BITMAPINFO bi{};
        bi.bmiHeader.biSize = sizeof bi.bmiHeader;
        bi.bmiHeader.biWidth = width;
        bi.bmiHeader.biHeight = -height;
        bi.bmiHeader.biPlanes = 1;
        bi.bmiHeader.biBitCount = 32;
        bi.bmiHeader.biCompression = BI_RGB;
        HDC screen = GetDC(nullptr);
        bitmap_ = CreateDIBSection(screen, &bi, DIB_RGB_COLORS, reinterpret_cast<void**>(&bits_), nullptr, 0);
        dc_ = CreateCompatibleDC(screen);
        ReleaseDC(nullptr, screen);
        previous_ = SelectObject(dc_, bitmap_);
    }
    ~Canvas()
    {
        SelectObject(dc_, previous_);
        DeleteDC(dc_);
        DeleteObject(bitmap_);
    }
    Canvas(const Canvas&) = delete;
    Canvas& operator=(const Canvas&) = delete;

    HDC Dc() const { return dc_; }
    // Copies the screen's pixels from (left, top) onto the canvas, only what
    // lies on the screen (Wine copies nothing at all when the source reaches
    // past it); returns that part.
    RECT Grab(int left, int top)
    {
        const RECT seen = OnScreen(left, top, width_, height_);
        if (seen.right <= seen.left || seen.bottom <= seen.top)
            return seen;
        HDC screen = GetDC(nullptr);
        BitBlt(dc_, seen.left, seen.top, seen.right - seen.left, seen.bottom - seen.top, screen, left + seen.left,
               top + seen.top, SRCCOPY);
        ReleaseDC(nullptr, screen);
        GdiFlush();
        return seen;
    }
    void Fill(DWORD colour) { std::fill_n(bits_, width_ * height_, colour); }
    // FNV-1a over the pixels and the size.
    unsigned long long Hash() const
    {
        unsigned long long hash = 14695981039346656037ull ^ (static_cast<unsigned long long>(width_) << 32 | height_);
        for (const DWORD* p = bits_; p != bits_ + static_cast<size_t>(width_) * height_; ++p)
            hash = (hash ^ (*p & 0x00FFFFFF)) * 1099511628211ull;
        return hash;
    }
    // Call GdiFlush() first when GDI has drawn on the canvas since.
    DWORD At(int x, int y) const { return bits_[static_cast<size_t>(y) * width_ + x] & 0x00FFFFFF; }

private:
    int width_, height_;
    HBITMAP bitmap_ = nullptr;
    HDC dc_ = nullptr;
    HGDIOBJ previous_ = nullptr;
    DWORD* bits_ = nullptr;
};

constexpr DWORD ProbeColour = 0x00123412;  // the same as COLORREF and as a BGRX pixel
constexpr int ProbeReach = 16;  // how far from where it belongs the probe's client is looked for

// Runs its function when it goes out of scope, on every path.
template <typename F>
struct Finally {
    F f;
    ~Finally() { f(); }
};
template <typename F>
Finally(F) -> Finally<F>;

// How far from ClientToScreen this platform shows a maximised window's
// client area: Windows and Wine 8 show it where it belongs; Wine 10 shows a
// window that reaches past the screen's top-left edge shifted, as if it
// began at the edge. Learnt with a maximised window of the driver's own.
POINT MeasureMaximisedShift()
{
    WNDCLASSW wc{};
    wc.lpfnWndProc = DefWindowProcW;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.hbrBackground = CreateSolidBrush(ProbeColour);
    wc.lpszClassName = L"AmbrelixDriverProbe";
    RegisterClassW(&wc);
    // Unregistering deletes the class's background brush too.
    const Finally unregister{[&] { UnregisterClassW(wc.lpszClassName, wc.hInstance); }};
    HWND probe = CreateWindowExW(0, wc.lpszClassName, L"probe", WS_OVERLAPPEDWINDOW, CW_USEDEFAULT, CW_USEDEFAULT,
                                 CW_USEDEFAULT, CW_USEDEFAULT, nullptr, nullptr, wc.hInstance, nullptr);
    POINT shift{0, 0};
    if (!CHECK(probe != nullptr, "cannot create a window to learn where a maximised one shows"))
        return shift;
    ShowWindow(probe, SW_SHOWMAXIMIZED);
    UpdateWindow(probe);
    POINT expected{0, 0};
    ClientToScreen(probe, &expected);
    const int left = std::max(0, static_cast<int>(expected.x) - ProbeReach);
    const int top = std::max(0, static_cast<int>(expected.y) - ProbeReach);
    const int size = 2 * ProbeReach + 1;
    Canvas area(size, size);
    const bool found = WaitFor(
        [&] {
            MSG msg;
            while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE))
                DispatchMessageW(&msg);
            area.Grab(left, top);
            // The client's top-left corner: the first row that shows the
            // colour, and that row's first such pixel.
            for (int y = 0; y < size; ++y)
                for (int x = 0; x < size; ++x)
                    if (area.At(x, y) == ProbeColour) {
                        shift = {left + x - expected.x, top + y - expected.y};
                        return true;
                    }
            return false;
        },
        FigureTimeoutMs);
    DestroyWindow(probe);
    CHECK(found, "a maximised window of our own did not show near its client position");
    if (shift.x != 0 || shift.y != 0)
        Note("this platform shows a maximised window's client shifted by " + std::to_string(shift.x) + "," +
             std::to_string(shift.y) + " from where ClientToScreen puts it");
    return shift;
}

// The client area's pixels where they show on the screen.
struct Shot {
    Canvas canvas;
    RECT seen;  // what of the client lies on the screen

    Shot(HWND hwnd, int width, int height) : canvas(width, height)
    {
        POINT origin{0, 0};
        ClientToScreen(hwnd, &origin);
        if (IsZoomed(hwnd)) {
            const POINT shift = MaximisedShift();
            origin.x += shift.x;
            origin.y += shift.y;
        }
        seen = canvas.Grab(origin.x, origin.y);
    }
    bool Seen(int x, int y) const { return x >= seen.left && y >= seen.top && x < seen.right && y < seen.bottom; }
};

// Every pixel clear of the outline and the radial edges: magenta inside the
// figure, white outside it and in the wedge.
void JudgeFill(const Shot& shot, const Ideal& ideal, FigureReport& report)
{
    for (int y = shot.seen.top; y < shot.seen.bottom; ++y) {
        for (int x = shot.seen.left; x < shot.seen.right; ++x) {
            const DWORD pixel = shot.canvas.At(x, y);
            report.magenta += pixel == Magenta;
            Zone zone;
            if (!ideal.Sure(x + 0.5, y + 0.5, &zone))
                continue;
            ++report.checked;
            if (pixel == (zone == Zone::Fill ? Magenta : White))
                continue;
            long& wrong = zone == Zone::Fill    ? report.wrongFill
                          : zone == Zone::Wedge ? report.wrongWedge
                                                : report.wrongOutside;
            if (report.wrongFill + report.wrongOutside + report.wrongWedge < 5)
                report.firstWrong += " (" + std::to_string(x) + "," + std::to_string(y) + ")=" + Hex(pixel);
            ++wrong;
        }
    }
}

// The default pen: a dark pixel near every sample of the ideal outline that
// lies, with all around it, on the screen. Too small a figure is not judged.
void JudgeOutline(const Shot& shot, const Ideal& ideal, FigureReport& report)
{
    report.outlineJudged = report.width >= OutlineMinimumSize && report.height >= OutlineMinimumSize;
    if (!report.outlineJudged)
        return;
    for (const auto& [sx, sy] : ideal.OutlineSamples()) {
        const int px = static_cast<int>(std::floor(sx)), py = static_cast<int>(std::floor(sy));
        if (!shot.Seen(px - OutlineReach, py - OutlineReach) || !shot.Seen(px + OutlineReach, py + OutlineReach))
            continue;
        bool dark = false;
        for (int y = py - OutlineReach; y <= py + OutlineReach && !dark; ++y)
            for (int x = px - OutlineReach; x <= px + OutlineReach && !dark; ++x)
                dark = Dark(shot.canvas.At(x, y));
        ++report.outlineSamples;
        if (dark)
            continue;
        if (report.outlineMissing < 3)
            report.firstWrong += " no outline near (" + std::to_string(px) + "," + std::to_string(py) + ")=" +
                                 Hex(shot.canvas.At(px, py));
        ++report.outlineMissing;
    }
}

}  // namespace

POINT MaximisedShift()
{
    static const POINT shift = MeasureMaximisedShift();
    return shift;
}

FigureReport ReadFigure(HWND hwnd)
{
    FigureReport report;
    RECT client{};
    GetClientRect(hwnd, &client);
    report.width = client.right;
    report.height = client.bottom;
    if (report.width <= 0 || report.height <= 0)
        return report;
    const Shot shot(hwnd, report.width, report.height);
    const Ideal ideal(report.width, report.height);
    report.pixels = shot.canvas.Hash();
    JudgeFill(shot, ideal, report);
    JudgeOutline(shot, ideal, report);
    return report;
}

long IconPixelsDiffering(HWND where, HICON icon, long* opaque)
{
    const int cx = GetSystemMetrics(SM_CXICON), cy = GetSystemMetrics(SM_CYICON);
    RECT rect{};
    GetWindowRect(where, &rect);
    Canvas shown(cx, cy), onBlack(cx, cy), onWhite(cx, cy);
    shown.Grab(rect.left, rect.top);
    onBlack.Fill(0);
    onWhite.Fill(White);
    DrawIconEx(onBlack.Dc(), 0, 0, icon, cx, cy, 0, nullptr, DI_NORMAL);
    DrawIconEx(onWhite.Dc(), 0, 0, icon, cx, cy, 0, nullptr, DI_NORMAL);
    GdiFlush();

    long differing = 0;
    *opaque = 0;
    for (int y = 0; y < cy; ++y)
        for (int x = 0; x < cx; ++x)
            if (onBlack.At(x, y) == onWhite.At(x, y)) {
                ++*opaque;
                differing += shown.At(x, y) != onBlack.At(x, y);
            }
    return differing;
}

namespace {

// Shown, with nothing left to paint, and past any paint begun before: a
// program answers a sent message only between messages, and flushes its
// drawing to the screen before it waits for the next.
bool Quiet(HWND hwnd)
{
    return IsWindowVisible(hwnd) && !GetUpdateRect(hwnd, nullptr, FALSE) && Responsive(hwnd, 1000);
}

// How long a quiet program's pixels must stay the same before they are
// judged: under Wine a window just restored or resized can be quiet while
// the display server still shows what was there before.
constexpr ULONGLONG SettleMs = 2000;

}  // namespace

FigureReport WaitForFigure(HWND hwnd, DWORD timeoutMs)
{
    FigureReport last;
    bool settled = false;
    ULONGLONG sameSince = 0;  // when the quiet, unchanged reads began; 0: not now
    WaitFor(
        [&] {
            const bool quiet = Quiet(hwnd);
            const ULONGLONG now = GetTickCount64();
            const FigureReport read = ReadFigure(hwnd);
            const bool same = read.pixels == last.pixels && read.width == last.width && read.height == last.height;
            sameSince = !quiet ? 0 : same && sameSince ? sameSince : now;
            settled = sameSince && now - sameSince >= SettleMs;
            last = read;
            return last.Ok() || settled;
        },
        timeoutMs, 100);
    if (!last.Ok())
        Note(settled ? "the screen settled on this" : "the screen did not settle");
    return last;
}

void SetClientSize(HWND hwnd, int width, int height)
{
    RECT frame{0, 0, width, height};
    AdjustWindowRectEx(&frame, static_cast<DWORD>(GetWindowLongW(hwnd, GWL_STYLE)), FALSE,
                       static_cast<DWORD>(GetWindowLongW(hwnd, GWL_EXSTYLE)));
    SetWindowPos(hwnd, nullptr, 0, 0, frame.right - frame.left, frame.bottom - frame.top,
                 SWP_NOZORDER | SWP_NOACTIVATE);
}

bool ClientSizeIs(HWND hwnd, int width, int height)
{
    RECT client{};
    GetClientRect(hwnd, &client);
    return client.right == width && client.bottom == height;
}

void ExpectFigure(HWND hwnd, const std::string& when)
{
    const FigureReport report = WaitForFigure(hwnd, FigureTimeoutMs);
    Note(when + ": " + report.Summary());
    CHECK(report.Ok(), "figure wrong " + when + ": " + report.Summary());
}

void ResizeAndExpectFigure(HWND hwnd, int width, int height, const std::string& when)
{
    SetClientSize(hwnd, width, height);
    CHECK(WaitFor([&] { return ClientSizeIs(hwnd, width, height); }, FigureTimeoutMs),
          when + ": client did not become " + std::to_string(width) + "x" + std::to_string(height));
    ExpectFigure(hwnd, when);
}

}  // namespace e2e

// The window driven as its user drives it: mouse and keyboard input through
// SendInput, so that it enters the input queue as a device's does and reaches
// the platform's own sizing loop, caption buttons and system menu. Positions
// come from the window's geometry and its own hit-testing, never from fixed
// screen coordinates.
#include "tests/e2e/cases.h"
#include "driver/figure.h"
#include "driver/support.h"

namespace e2e {

namespace {

// Where the window answers WM_NCHITTEST with want, searching from `from` in
// steps of (dx, dy); false when no point in `steps` answers so.
LRESULT HitTest(HWND hwnd, POINT p)
{
    DWORD_PTR hit = HTNOWHERE;
    SendMessageTimeoutW(hwnd, WM_NCHITTEST, 0, MAKELPARAM(p.x, p.y), SMTO_ABORTIFHUNG, 5000, &hit);
    return static_cast<LRESULT>(hit);
}

bool FindHit(HWND hwnd, POINT from, int dx, int dy, int steps, LRESULT want, POINT* found)
{
    for (int i = 0; i < steps; ++i) {
        const POINT p{from.x + i * dx, from.y + i * dy};
        if (HitTest(hwnd, p) == want) {
            *found = p;
            return true;
        }
    }
    return false;
}

// The middle of a caption button: the run of caption points that hit-test
// as `want`, scanned from the right end of the caption bar.
bool FindButton(HWND hwnd, LRESULT want, POINT* centre)
{
    RECT window{}, client{};
    GetWindowRect(hwnd, &window);
    GetClientRect(hwnd, &client);
    POINT clientTop{0, 0};
    ClientToScreen(hwnd, &clientTop);
    const int y = (window.top + clientTop.y) / 2;  // halfway down the caption bar
    POINT first{};
    if (!FindHit(hwnd, POINT{window.right - 1, y}, -1, 0, window.right - window.left, want, &first))
        return false;
    LONG left = first.x;
    while (left > window.left && HitTest(hwnd, POINT{left - 1, y}) == want)
        --left;
    *centre = POINT{(first.x + left + 1) / 2, y};
    return true;
}

bool Send(std::vector<INPUT> inputs, const std::string& what)
{
    const UINT sent = SendInput(static_cast<UINT>(inputs.size()), inputs.data(), sizeof(INPUT));
    return CHECK(sent == inputs.size(), what + ": SendInput took " + std::to_string(sent) + " of " +
                                            std::to_string(inputs.size()) + " events, error " +
                                            std::to_string(GetLastError()));
}

INPUT Mouse(DWORD flags, LONG dx = 0, LONG dy = 0)
{
    INPUT input{};
    input.type = INPUT_MOUSE;
    input.mi.dx = dx;
    input.mi.dy = dy;
    input.mi.dwFlags = flags;
    return input;
}

INPUT Key(WORD vk, bool up)
{
    INPUT input{};
    input.type = INPUT_KEYBOARD;
    input.ki.wVk = vk;
    input.ki.dwFlags = up ? KEYEVENTF_KEYUP : 0;
    return input;
}

// Moves the pointer to p as a mouse would, and checks that it got there and
// stays: under Wine a late pointer event from the X server can still move it
// after the first arrival, so it must hold for a moment.
bool MoveTo(POINT p)
{
    const int width = GetSystemMetrics(SM_CXSCREEN), height = GetSystemMetrics(SM_CYSCREEN);
    const auto normal = [](LONG at, int size) { return static_cast<LONG>((at * 65535LL + size / 2) / (size - 1)); };
    POINT at{};
    const auto there = [&] { return GetCursorPos(&at) && at.x == p.x && at.y == p.y; };
    for (int attempt = 0; attempt < 5; ++attempt) {
        if (!Send({Mouse(MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE, normal(p.x, width), normal(p.y, height))}, "move"))
            return false;
        if (WaitFor(there, 2000, 10)) {
            Sleep(60);
            if (there())
                return true;
        }
    }
    return CHECK(false, "could not place the pointer at (" + std::to_string(p.x) + "," + std::to_string(p.y) +
                            "): it is at (" + std::to_string(at.x) + "," + std::to_string(at.y) + ")");
}

std::string PointText(POINT p) { return "(" + std::to_string(p.x) + "," + std::to_string(p.y) + ")"; }

std::string RectText(const RECT& r)
{
    return PointText(POINT{r.left, r.top}) + "-" + PointText(POINT{r.right, r.bottom});
}

// The point is on the screen and on the program's window, not on something
// in front of it.
bool Reachable(HWND hwnd, POINT p)
{
    RECT window{};
    GetWindowRect(hwnd, &window);
    const std::string where = PointText(p) + ", the window at " + RectText(window);
    if (!CHECK(p.x >= 0 && p.y >= 0 && p.x < GetSystemMetrics(SM_CXSCREEN) && p.y < GetSystemMetrics(SM_CYSCREEN),
               "aimed past the screen's edge at " + where))
        return false;
    HWND under = WindowFromPoint(p);
    return CHECK(under && GetAncestor(under, GA_ROOT) == hwnd, "another window is in front at " + where);
}

bool Press(HWND hwnd, POINT p)
{
    return Reachable(hwnd, p) && MoveTo(p) && Send({Mouse(MOUSEEVENTF_LEFTDOWN)}, "button down");
}

// Lets go of the button at p, where the pointer should already be.
bool Release(POINT p) { return MoveTo(p) && Send({Mouse(MOUSEEVENTF_LEFTUP)}, "button up"); }

// A click, then a pause as long as a double-click may take, so that the
// next click is never read as the second half of one.
bool Click(HWND hwnd, POINT p)
{
    const bool clicked = Press(hwnd, p) && Release(p);
    Sleep(GetDoubleClickTime() + 50);
    return clicked;
}

// Moves with the button held, in steps, as a hand does, and holds there
// until arrived(); the pauses pace the input, they judge nothing. Under Wine
// a late pointer event from the X server can reach the sizing or moving loop
// after the last step and leave it one step short: the hand then moves a
// pixel and back, as a user's would, until the loop has followed.
template <typename F>
bool DragTo(POINT from, POINT to, F arrived)
{
    constexpr int Steps = 8;
    for (int i = 1; i <= Steps; ++i) {
        if (!MoveTo(POINT{from.x + (to.x - from.x) * i / Steps, from.y + (to.y - from.y) * i / Steps}))
            return false;
        Sleep(15);
    }
    WaitFor([&] { return arrived() || !MoveTo(POINT{to.x - 1, to.y - 1}) || !MoveTo(to); }, FigureTimeoutMs, 500);
    return true;
}

bool Keys(std::initializer_list<WORD> chord, const std::string& what)
{
    std::vector<INPUT> inputs;
    for (WORD vk : chord)
        inputs.push_back(Key(vk, false));
    for (auto vk = std::rbegin(chord); vk != std::rend(chord); ++vk)
        inputs.push_back(Key(*vk, true));
    return Send(inputs, what);
}

}  // namespace

// Brings the window to the front with a click into it, as a user would.
bool Activate(HWND hwnd)
{
    // Windows started one after another cascade across the screen: bring
    // this one to where all of it can be reached.
    SetWindowPos(hwnd, nullptr, 0, 0, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    RECT window{};
    const auto moved = [&] { return GetWindowRect(hwnd, &window) && window.left == 0 && window.top == 0; };
    if (!CHECK(WaitFor(moved, FigureTimeoutMs), "the window did not move to the top-left corner"))
        return false;
    RECT client{};
    GetClientRect(hwnd, &client);
    POINT inside{client.right / 2, client.bottom * 3 / 4};
    ClientToScreen(hwnd, &inside);
    if (!Click(hwnd, inside) || !CHECK(WaitFor([&] { return GetForegroundWindow() == hwnd; }, FigureTimeoutMs),
                                       "the window did not come to the front"))
        return false;
    // Under load the window has been seen to move during this click, by the
    // pointer's way there as a drag of its caption would, past the screen's
    // edge.
    if (moved())
        return true;
    Note("the click that activated the window moved it to " + RectText(window) + "; placing it again");
    SetWindowPos(hwnd, nullptr, 0, 0, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    return CHECK(WaitFor(moved, FigureTimeoutMs), "the window did not move back to the top-left corner");
}

namespace {

SIZE ClientSize(HWND hwnd)
{
    RECT client{};
    GetClientRect(hwnd, &client);
    return SIZE{client.right, client.bottom};
}

std::string SizeText(SIZE s) { return std::to_string(s.cx) + "x" + std::to_string(s.cy); }

bool ClientBecomes(HWND hwnd, SIZE want, const std::string& when)
{
    const bool became = WaitFor([&] { return ClientSizeIs(hwnd, want.cx, want.cy); }, FigureTimeoutMs);
    return CHECK(became, when + ": client is " + SizeText(ClientSize(hwnd)) + ", want " + SizeText(want));
}

// Opens the system menu from the keyboard, presses Up `ups` times and picks
// the item reached with Enter.
bool SystemMenu(int ups, const std::string& what)
{
    if (!Keys({VK_MENU, VK_SPACE}, what + ": Alt+Space"))
        return false;
    const bool open = WaitFor(
        [&] {
            HWND menu = FindWindowW(L"#32768", nullptr);
            return menu && IsWindowVisible(menu);
        },
        FigureTimeoutMs);
    if (!CHECK(open, what + ": Alt+Space opened no system menu"))
        return false;
    for (int i = 0; i < ups; ++i)
        if (!Keys({VK_UP}, what + ": Up"))
            return false;
    // Enter may close the window at once: whether it did is the caller's to judge.
    return Keys({VK_RETURN}, what + ": Enter");
}

// Up, pressed on a system menu just opened, wraps to its last item; how many
// presses reach Close. The platform may add items below Close (Wine adds
// "About Wine"), so they are counted on a system menu of the driver's own.
int UpsToClose()
{
    HWND probe = CreateWindowExW(0, L"Static", L"", WS_OVERLAPPEDWINDOW, 0, 0, 100, 100, nullptr, nullptr, nullptr,
                                 nullptr);
    HMENU menu = GetSystemMenu(probe, FALSE);
    int ups = 1;
    for (int i = GetMenuItemCount(menu) - 1; i >= 0 && GetMenuItemID(menu, i) != SC_CLOSE; --i)
        ups += (GetMenuState(menu, static_cast<UINT>(i), MF_BYPOSITION) & MF_SEPARATOR) ? 0 : 1;
    DestroyWindow(probe);
    return ups;
}

// Clicks a caption button and waits for the state it brings.
template <typename State>
bool ClickButton(HWND hwnd, LRESULT hit, const std::string& name, State reached)
{
    POINT button{};
    return CHECK(FindButton(hwnd, hit, &button), "no " + name + " button found") && Click(hwnd, button) &&
           CHECK(WaitFor(reached, FigureTimeoutMs), "the " + name + " button did not work");
}

}  // namespace

void DragFrameCase(RunningProgram& program, const Args&)
{
    HWND hwnd = program.Window();
    BOOL fullDrag = FALSE;
    SystemParametersInfoW(SPI_GETDRAGFULLWINDOWS, 0, &fullDrag, 0);
    if (!CHECK(fullDrag, "full-window dragging is off on this desktop, so the sizing loop would not paint"))
        return;
    SetClientSize(hwnd, 500, 350);
    ClientBecomes(hwnd, SIZE{500, 350}, "before dragging");

    struct Drag {
        const char* what;
        LRESULT hit;
        int dx, dy;
    };
    for (const Drag& drag : {Drag{"bottom-right corner bigger", HTBOTTOMRIGHT, 180, 120},
                             Drag{"bottom-right corner smaller", HTBOTTOMRIGHT, -260, -170},
                             Drag{"right border (width only)", HTRIGHT, 150, 0},
                             Drag{"bottom border (height only)", HTBOTTOM, 0, 140}}) {
        RECT window{};
        GetWindowRect(hwnd, &window);
        const POINT corner{window.right - 1, window.bottom - 1};
        const POINT start = drag.hit == HTBOTTOMRIGHT ? corner
                            : drag.hit == HTRIGHT    ? POINT{window.right - 1, (window.top + window.bottom) / 2}
                                                     : POINT{(window.left + window.right) / 2, window.bottom - 1};
        POINT grip{};
        if (!CHECK(FindHit(hwnd, start, drag.hit == HTBOTTOM ? 0 : -1, drag.hit == HTRIGHT ? 0 : -1, 10, drag.hit,
                           &grip),
                   std::string(drag.what) + ": no point of the frame hit-tests as expected"))
            return;
        const SIZE before = ClientSize(hwnd);
        const SIZE want{before.cx + drag.dx, before.cy + drag.dy};
        if (!Press(hwnd, grip))
            return;
        const POINT to{grip.x + drag.dx, grip.y + drag.dy};
        const bool dragged = DragTo(grip, to, [&] { return ClientSizeIs(hwnd, want.cx, want.cy); });
        // Still inside the sizing loop: the button is down.
        if (dragged && ClientBecomes(hwnd, want, std::string(drag.what) + ", button down"))
            ExpectFigure(hwnd, std::string(drag.what) + ", button down");
        Release(to);
        ClientBecomes(hwnd, want, std::string(drag.what) + ", released");
        ExpectFigure(hwnd, std::string(drag.what) + ", released");
    }
}

void DragCaptionCase(RunningProgram& program, const Args&)
{
    HWND hwnd = program.Window();
    RECT before{};
    GetWindowRect(hwnd, &before);
    const SIZE size = ClientSize(hwnd);
    POINT grip{};
    if (!CHECK(FindHit(hwnd, POINT{before.left + 60, before.top + 1}, 0, 1, 40, HTCAPTION, &grip),
               "no caption found to drag"))
        return;
    constexpr int Dx = 97, Dy = 61;
    if (!Press(hwnd, grip))
        return;
    const POINT to{grip.x + Dx, grip.y + Dy};
    RECT after{};
    const auto arrived = [&] {
        GetWindowRect(hwnd, &after);
        return after.left == before.left + Dx && after.top == before.top + Dy;
    };
    DragTo(grip, to, arrived);
    Release(to);
    const bool moved = WaitFor(arrived, FigureTimeoutMs);
    CHECK(moved, "window at (" + std::to_string(after.left) + "," + std::to_string(after.top) + "), want (" +
                     std::to_string(before.left + Dx) + "," + std::to_string(before.top + Dy) + ")");
    CHECK(ClientSizeIs(hwnd, size.cx, size.cy), "moving changed the client to " + SizeText(ClientSize(hwnd)));
    ExpectFigure(hwnd, "after moving the window");
}

void MinimiseRestoreCase(RunningProgram& program, const Args&)
{
    HWND hwnd = program.Window();
    const SIZE size = ClientSize(hwnd);
    if (!ClickButton(hwnd, HTMINBUTTON, "minimise", [&] { return IsIconic(hwnd) != FALSE; }))
        return;
    // A minimised window keeps the keyboard only while it is the active one.
    SetForegroundWindow(hwnd);
    CHECK(WaitFor([&] { return GetForegroundWindow() == hwnd; }, FigureTimeoutMs),
          "the minimised window could not be made the active one");
    // Restore is the system menu's first item, and the one chosen when it opens.
    SystemMenu(0, "restore");
    CHECK(WaitFor([&] { return !IsIconic(hwnd); }, FigureTimeoutMs), "the system menu's Restore did not restore");
    ClientBecomes(hwnd, size, "restored");
    ExpectFigure(hwnd, "restored after minimising");
}

void MaximiseRestoreCase(RunningProgram& program, const Args&)
{
    HWND hwnd = program.Window();
    const SIZE size = ClientSize(hwnd);
    // Maximised, the frame lies outside the work area and the caption inside
    // it: the client is the work area less the caption bar.
    RECT work{};
    SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
    RECT frame = work;
    AdjustWindowRectEx(&frame, static_cast<DWORD>(GetWindowLongW(hwnd, GWL_STYLE)), FALSE, 0);
    const LONG caption = (work.top - frame.top) - (frame.bottom - work.bottom);
    const SIZE filling{work.right - work.left, work.bottom - work.top - caption};

    if (!ClickButton(hwnd, HTMAXBUTTON, "maximise", [&] { return IsZoomed(hwnd) != FALSE; }))
        return;
    ClientBecomes(hwnd, filling, "maximised to the work area " + std::to_string(work.right - work.left) + "x" +
                                     std::to_string(work.bottom - work.top));
    ExpectFigure(hwnd, "maximised");

    // The same place now holds the restore button.
    if (!ClickButton(hwnd, HTMAXBUTTON, "restore", [&] { return !IsZoomed(hwnd); }))
        return;
    ClientBecomes(hwnd, size, "restored");
    ExpectFigure(hwnd, "restored after maximising");
}

void CloseByInputCase(const Args& args)
{
    struct Way {
        const char* what;
        bool (*close)(HWND);
    };
    const Way ways[] = {
        {"close button",
         [](HWND hwnd) {
             POINT button{};
             return CHECK(FindButton(hwnd, HTCLOSE, &button), "no close button found") && Click(hwnd, button);
         }},
        {"Alt+F4", [](HWND) { return Keys({VK_MENU, VK_F4}, "Alt+F4"); }},
        {"system menu Close", [](HWND) { return SystemMenu(UpsToClose(), "system menu Close"); }},
    };
    for (const Way& way : ways) {
        RunningProgram program(args.program);
        HWND hwnd = program.Window();
        if (!hwnd || !Activate(hwnd))
            continue;
        if (!CHECK(program.Process().Running(), std::string(way.what) + ": the program ended before it was closed"))
            continue;
        if (way.close(hwnd))
            program.Ended(0, way.what);
    }
}

}  // namespace e2e

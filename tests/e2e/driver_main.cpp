// The end-to-end driver: starts the real executable as a child process and
// checks, through public Win32 APIs only, what a user or a caller can observe.
//
//   ambrelix_e2e CASE PROGRAM [ARGS...]
//
// Exit code 0 when every check held, 1 when one failed, 77 when the case
// cannot run on this platform, 2 for bad usage.
#include "tests/e2e/artifact.h"
#include "tests/e2e/cases.h"
#include "tests/e2e/figure.h"
#include "tests/e2e/support.h"

#include <shellapi.h>

#include <cstdio>
#include <functional>
#include <map>
#include <string>
#include <vector>

using namespace e2e;

namespace e2e {

const std::wstring Caption = L"Pie(hdc, 0, 0, xRight, yBottom, 0, yBottom/2, 0, yBottom/2)";

// Where the program runs under an emulated processor everything takes longer.
static DWORD Slowness()
{
    return GetEnvironmentVariableW(L"AMBRELIX_E2E_SLOW", nullptr, 0) ? 20 : 1;
}
const DWORD StartTimeoutMs = 30000 * Slowness();
const DWORD FigureTimeoutMs = 10000 * Slowness();
const DWORD ExitTimeoutMs = 10000 * Slowness();

static std::string skipReason;

void Skip(const std::string& reason)
{
    skipReason = reason;
    Note("SKIPPED: " + reason);
}
bool Skipped() { return !skipReason.empty(); }

HWND StartedWindow(const Child& child)
{
    HWND hwnd = WaitForWindow(child.Pid(), L"Ambrelix", StartTimeoutMs);
    CHECK(hwnd != nullptr, "no window of class Ambrelix appeared");
    return hwnd;
}

void ExpectExit(Child& child, DWORD want, const std::string& how)
{
    DWORD code = 0xFFFFFFFF;
    const bool ended = child.WaitExit(ExitTimeoutMs, &code);
    if (CHECK(ended, how + ": process still running after " + std::to_string(ExitTimeoutMs) + " ms"))
        CHECK(code == want, how + ": exit code " + std::to_string(code) + ", want " + std::to_string(want));
    Note(how + ": exit code " + std::to_string(code));
}

void CloseAndExpectZero(Child& child, HWND hwnd)
{
    PostMessageW(hwnd, WM_CLOSE, 0, 0);
    ExpectExit(child, 0, "WM_CLOSE");
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

bool Responsive(HWND hwnd, DWORD withinMs)
{
    DWORD_PTR result = 0;
    return SendMessageTimeoutW(hwnd, WM_NULL, 0, 0, SMTO_NORMAL, withinMs, &result) != 0;
}

}  // namespace e2e

namespace {

void WindowCase(const Args& args)
{
    Child child(args.program, L"", SW_SHOWNORMAL);
    HWND hwnd = StartedWindow(child);
    if (!hwnd)
        return;
    WaitFor([&] { return IsWindowVisible(hwnd) != FALSE; }, StartTimeoutMs);

    const std::vector<HWND> visible = TopLevelWindowsOf(child.Pid(), true);
    CHECK(visible.size() == 1 && visible[0] == hwnd,
          std::to_string(visible.size()) + " visible top-level windows, want exactly the Ambrelix one");
    CHECK(TextOf(hwnd) == Caption, "caption \"" + Narrow(TextOf(hwnd)) + "\"");

    const auto style = static_cast<DWORD>(GetWindowLongW(hwnd, GWL_STYLE));
    CHECK((style & WS_OVERLAPPEDWINDOW) == WS_OVERLAPPEDWINDOW && !(style & (WS_CHILD | WS_POPUP)),
          "window style " + Hex(style));
    const auto classStyle = static_cast<DWORD>(GetClassLongPtrW(hwnd, GCL_STYLE));
    CHECK(classStyle == (CS_HREDRAW | CS_VREDRAW), "class style " + Hex(classStyle) + ", want 0x3");
    CHECK(GetMenu(hwnd) == nullptr, "the window has a menu");

    // System icons, cursors and stock objects are shared: the same handles here.
    const auto icon = static_cast<ULONG_PTR>(GetClassLongPtrW(hwnd, GCLP_HICON));
    const auto cursor = static_cast<ULONG_PTR>(GetClassLongPtrW(hwnd, GCLP_HCURSOR));
    const auto brush = static_cast<ULONG_PTR>(GetClassLongPtrW(hwnd, GCLP_HBRBACKGROUND));
    if (RunningOnWine() && !icon && !cursor && !brush) {
        // Wine answers 0 for another process's class icon, cursor and brush.
        // The white background still shows in every figure check.
        Note("not observable here: Wine gives out no other process's class icon, cursor or brush");
    } else {
        CHECK(icon == reinterpret_cast<ULONG_PTR>(LoadIconW(nullptr, IDI_APPLICATION)), "class icon " + Hex(icon));
        CHECK(cursor == reinterpret_cast<ULONG_PTR>(LoadCursorW(nullptr, IDC_ARROW)), "class cursor " + Hex(cursor));
        CHECK(brush == reinterpret_cast<ULONG_PTR>(GetStockObject(WHITE_BRUSH)), "class brush " + Hex(brush));
    }

    CloseAndExpectZero(child, hwnd);
}

// One start that touches everything a user sees; for where starts are costly.
void SmokeCase(const Args& args)
{
    Child child(args.program, L"", SW_SHOWNORMAL);
    HWND hwnd = StartedWindow(child);
    if (!hwnd)
        return;
    CHECK(TextOf(hwnd) == Caption, "caption \"" + Narrow(TextOf(hwnd)) + "\"");
    const auto classStyle = static_cast<DWORD>(GetClassLongPtrW(hwnd, GCL_STYLE));
    CHECK(classStyle == (CS_HREDRAW | CS_VREDRAW), "class style " + Hex(classStyle) + ", want 0x3");
    ExpectFigure(hwnd, "at the start size");
    ResizeAndExpectFigure(hwnd, 601, 401, "601x401");
    ResizeAndExpectFigure(hwnd, 601, 250, "height only changed");
    CloseAndExpectZero(child, hwnd);
}

void FigureCase(const Args& args)
{
    Child child(args.program, L"", SW_SHOWNORMAL);
    HWND hwnd = StartedWindow(child);
    if (!hwnd)
        return;
    ExpectFigure(hwnd, "at the start size");

    struct Size {
        int width, height;
        const char* what;
    };
    const Size sizes[] = {
        {640, 480, "640x480"},
        {151, 301, "odd width 151"},
        {601, 401, "odd width 601"},
        {601, 250, "height only changed"},
        {320, 250, "width only changed"},
        {1600, 1000, "large client"},
        {200, 700, "tall"},
        {700, 120, "wide"},
    };
    for (const Size& size : sizes)
        ResizeAndExpectFigure(hwnd, size.width, size.height, size.what);
    CloseAndExpectZero(child, hwnd);
}

void ShowStatesCase(const Args& args)
{
    struct State {
        int show;
        const char* name;
        bool iconic, zoomed;
    };
    for (const State& s : {State{SW_SHOWMINIMIZED, "SW_SHOWMINIMIZED", true, false},
                           State{SW_SHOWMAXIMIZED, "SW_SHOWMAXIMIZED", false, true},
                           State{SW_SHOWNORMAL, "SW_SHOWNORMAL", false, false}}) {
        Child child(args.program, L"", s.show);
        HWND hwnd = StartedWindow(child);
        if (!hwnd)
            continue;
        const bool shown = WaitFor([&] { return IsWindowVisible(hwnd) != FALSE; }, StartTimeoutMs);
        const bool iconic = IsIconic(hwnd) != FALSE, zoomed = IsZoomed(hwnd) != FALSE;
        Note(std::string(s.name) + ": visible " + std::to_string(shown) + ", minimised " + std::to_string(iconic) +
             ", maximised " + std::to_string(zoomed));
        CHECK(shown && iconic == s.iconic && zoomed == s.zoomed, std::string(s.name) + ": wrong first state");
        if (!s.iconic)
            ExpectFigure(hwnd, s.name);

        if (s.show == SW_SHOWNORMAL) {
            RECT before{};
            GetClientRect(hwnd, &before);
            PostMessageW(hwnd, WM_SYSCOMMAND, SC_MINIMIZE, 0);
            CHECK(WaitFor([&] { return IsIconic(hwnd) != FALSE; }, FigureTimeoutMs), "SC_MINIMIZE did not minimise");
            PostMessageW(hwnd, WM_SYSCOMMAND, SC_RESTORE, 0);
            CHECK(WaitFor([&] { return !IsIconic(hwnd) && ClientSizeIs(hwnd, before.right, before.bottom); },
                          FigureTimeoutMs),
                  "SC_RESTORE did not bring back the client size");
            ExpectFigure(hwnd, "after minimise and restore");
        }
        CloseAndExpectZero(child, hwnd);
    }
}

void CommandLinesCase(const Args& args)
{
    const std::vector<std::pair<std::string, std::wstring>> tails = {
        {"none", L""},
        {"ordinary arguments", L"one two three -x /y --z=1"},
        {"quotes", L"\"quoted arg\" \"with \\\"inner\\\" quotes\" \"\""},
        {"non-ASCII", L"\u00e9t\u00e9 \u4e2d\u6587 \u0416\u0443\u043a \U0001F967"},
        {"one 30000-character argument", std::wstring(30000, L'x')},
    };
    for (const auto& [name, tail] : tails) {
        Child child(args.program, tail, SW_SHOWNORMAL);
        HWND hwnd = StartedWindow(child);
        if (!hwnd)
            continue;
        CHECK(TextOf(hwnd) == Caption, name + ": caption \"" + Narrow(TextOf(hwnd)) + "\"");
        ExpectFigure(hwnd, "command line: " + name);
        CloseAndExpectZero(child, hwnd);
    }
}

void CloseCase(const Args& args)
{
    struct Way {
        const char* name;
        UINT message;
        WPARAM wParam;
    };
    for (const Way& way : {Way{"WM_CLOSE", WM_CLOSE, 0}, Way{"WM_SYSCOMMAND SC_CLOSE", WM_SYSCOMMAND, SC_CLOSE}}) {
        Child child(args.program, L"", SW_SHOWNORMAL);
        HWND hwnd = StartedWindow(child);
        if (!hwnd)
            continue;
        WaitFor([&] { return IsWindowVisible(hwnd) != FALSE; }, StartTimeoutMs);
        PostMessageW(hwnd, way.message, way.wParam, 0);
        ExpectExit(child, 0, way.name);
        CHECK(!IsWindow(hwnd), std::string(way.name) + ": the window is still there");
    }
}

struct BoxParts {
    std::vector<HWND> buttons;
    std::vector<std::wstring> texts;
    HWND iconStatic = nullptr;
    HICON icon = nullptr;
};

// The same shared icon has the same handle in every process on Windows; Wine
// loads one per process, so there the icon is compared as it shows on screen.
void CheckBoxIcon(const BoxParts& parts)
{
    if (!CHECK(parts.iconStatic != nullptr, "the box shows no icon"))
        return;
    const HICON error = LoadIconW(nullptr, IDI_ERROR);
    if (parts.icon == error)
        return;
    long opaque = 0, otherOpaque = 0;
    const long differing = IconPixelsDiffering(parts.iconStatic, error, &opaque);
    const long differingFromWarning = IconPixelsDiffering(parts.iconStatic, LoadIconW(nullptr, IDI_WARNING), &otherOpaque);
    Note("box icon on screen: " + std::to_string(differing) + " of " + std::to_string(opaque) +
         " opaque pixels differ from the error icon, " + std::to_string(differingFromWarning) + " from the warning icon");
    CHECK(opaque > 100 && differing == 0, "the box icon is not the error icon");
    CHECK(differingFromWarning > 0, "the icon comparison cannot tell the error icon from the warning icon");
}

BOOL CALLBACK CollectBoxPart(HWND child, LPARAM param)
{
    auto* parts = reinterpret_cast<BoxParts*>(param);
    const std::wstring cls = ClassOf(child);
    if (_wcsicmp(cls.c_str(), L"Button") == 0 && IsWindowVisible(child))
        parts->buttons.push_back(child);
    if (_wcsicmp(cls.c_str(), L"Static") == 0) {
        if ((GetWindowLongW(child, GWL_STYLE) & SS_TYPEMASK) == SS_ICON) {
            DWORD_PTR icon = 0;
            SendMessageTimeoutW(child, STM_GETICON, 0, 0, SMTO_ABORTIFHUNG, 5000, &icon);
            parts->icon = reinterpret_cast<HICON>(icon);
            parts->iconStatic = child;
        } else {
            parts->texts.push_back(TextOf(child));
        }
    }
    return TRUE;
}

// The program built with the class already registered, so RegisterClassW refuses.
void RefusedCase(const Args& args)
{
    Child child(args.program, L"", SW_SHOWNORMAL);
    HWND box = WaitForWindow(child.Pid(), L"#32770", StartTimeoutMs);
    if (!CHECK(box != nullptr, "no message box appeared"))
        return;
    WaitFor([&] { return IsWindowVisible(box) != FALSE; }, StartTimeoutMs);

    int boxes = 0, mainWindows = 0;
    for (HWND hwnd : TopLevelWindowsOf(child.Pid(), false)) {
        boxes += ClassOf(hwnd) == L"#32770";
        mainWindows += ClassOf(hwnd) == L"Ambrelix";
    }
    CHECK(boxes == 1, std::to_string(boxes) + " message boxes");
    CHECK(mainWindows == 0, "an Ambrelix window exists");
    CHECK(TextOf(box) == L"Ambrelix", "box caption \"" + Narrow(TextOf(box)) + "\"");

    BoxParts parts;
    EnumChildWindows(box, CollectBoxPart, reinterpret_cast<LPARAM>(&parts));
    bool textFound = false;
    for (const std::wstring& text : parts.texts) {
        Note("box text \"" + Narrow(text) + "\"");
        textFound |= text == L"This program requires Windows NT!";
    }
    CHECK(textFound, "no static text \"This program requires Windows NT!\"");
    CheckBoxIcon(parts);
    CHECK(parts.buttons.size() == 1 && GetDlgCtrlID(parts.buttons[0]) == IDOK,
          std::to_string(parts.buttons.size()) + " buttons, want one OK");

    if (!parts.buttons.empty())
        PostMessageW(parts.buttons[0], BM_CLICK, 0, 0);
    ExpectExit(child, 1, "OK pressed");
}

// Not a check: asks the running program's window to close, as a user would.
void PostCloseCase(const Args& args)
{
    HWND hwnd = FindWindowW(args.program.c_str(), nullptr);
    if (CHECK(hwnd != nullptr, "no window of class " + Narrow(args.program)))
        PostMessageW(hwnd, WM_CLOSE, 0, 0);
}

void ArtifactCase(const Args& args)
{
    if (!CHECK(args.extra.size() == 2, "usage: artifact PROGRAM ARCH MANIFEST"))
        return;
    CheckArtifact(args.program, Narrow(args.extra[0]), args.extra[1]);
}

const std::map<std::string, std::function<void(const Args&)>> Cases = {
    {"window", WindowCase},         {"figure", FigureCase}, {"show-states", ShowStatesCase},
    {"command-lines", CommandLinesCase}, {"close", CloseCase},   {"refused", RefusedCase},
    {"artifact", ArtifactCase},     {"smoke", SmokeCase},
    {"storm", StormCase},           {"resize-storm", ResizeStormCase}, {"extreme-size", ExtremeSizeCase},
    {"gdi-objects", GdiObjectsCase}, {"writes-nothing", WritesNothingCase}, {"post-close", PostCloseCase},
};

}  // namespace

int main()
{
    int argc = 0;
    LPWSTR* argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    const auto found = argc >= 3 ? Cases.find(Narrow(argv[1])) : Cases.end();
    if (found == Cases.end()) {
        std::printf("usage: ambrelix_e2e CASE PROGRAM [ARGS...]; cases:");
        for (const auto& entry : Cases)
            std::printf(" %s", entry.first.c_str());
        std::printf("\n");
        return 2;
    }
    Args args{argv[2], std::vector<std::wstring>(argv + 3, argv + argc)};
    for (wchar_t& c : args.program)
        c = c == L'/' ? L'\\' : c;
    LocalFree(argv);

    std::printf("case %s: %s\n", found->first.c_str(), Narrow(args.program).c_str());
    found->second(args);
    if (Skipped() && !Failures()) {
        std::printf("case %s: SKIPPED\n", found->first.c_str());
        return 77;
    }
    std::printf("case %s: %s (%d failed checks)\n", found->first.c_str(), Failures() ? "FAILED" : "passed",
                Failures());
    return Failures() ? 1 : 0;
}

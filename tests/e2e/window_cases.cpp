// The window as started: class, caption and styles; the first show state;
// command lines that must change nothing.
#include "tests/e2e/cases.h"
#include "driver/figure.h"
#include "driver/support.h"

namespace e2e {

const std::wstring Caption = L"Pie(hdc, 0, 0, xRight, yBottom, 0, yBottom/2, 0, yBottom/2)";

void WindowCase(RunningProgram& program, const Args&)
{
    HWND hwnd = program.Window();

    const std::vector<HWND> visible = TopLevelWindowsOf(program.Process().Pid(), true);
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
    ExpectFigure(hwnd, "as started");
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
        RunningProgram program(args.program, Start().Show(s.show));
        HWND hwnd = program.Window();
        if (!hwnd)
            continue;
        const bool shown = IsWindowVisible(hwnd) != FALSE;
        const bool iconic = IsIconic(hwnd) != FALSE, zoomed = IsZoomed(hwnd) != FALSE;
        Note(std::string(s.name) + ": visible " + std::to_string(shown) + ", minimised " + std::to_string(iconic) +
             ", maximised " + std::to_string(zoomed));
        CHECK(shown && iconic == s.iconic && zoomed == s.zoomed, std::string(s.name) + ": wrong first state");
        if (!s.iconic)
            ExpectFigure(hwnd, s.name);
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
        RunningProgram program(args.program, Start().Tail(tail));
        if (!program)
            continue;
        CHECK(TextOf(program.Window()) == Caption, name + ": caption \"" + Narrow(TextOf(program.Window())) + "\"");
        ExpectFigure(program.Window(), "command line: " + name);
    }
}

}  // namespace e2e

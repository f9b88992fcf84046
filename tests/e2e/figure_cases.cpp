// The figure on screen at many client sizes, and at sizes no screen holds.
#include "tests/e2e/cases.h"
#include "driver/figure.h"
#include "driver/support.h"

namespace e2e {

void FigureCase(RunningProgram& program, const Args&)
{
    HWND hwnd = program.Window();
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
}

void ExtremeSizeCase(RunningProgram& program, const Args&)
{
    HWND hwnd = program.Window();
    const std::pair<const char*, LPARAM> sizes[] = {{"65535x65535", static_cast<LPARAM>(0xFFFFFFFFu)}, {"0x0", 0}};
    for (const auto& [name, size] : sizes) {
        DWORD_PTR result = 0;
        CHECK(SendMessageTimeoutW(hwnd, WM_SIZE, SIZE_RESTORED, size, SMTO_NORMAL, 5000, &result) != 0,
              std::string(name) + ": WM_SIZE not answered");
        RedrawWindow(hwnd, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE);
        // The paint is done once nothing is left to update.
        const bool painted = WaitFor([&] { return !GetUpdateRect(hwnd, nullptr, FALSE); }, FigureTimeoutMs);
        CHECK(painted, std::string(name) + ": the repaint did not finish");
        CHECK(Responsive(hwnd, 1000), std::string(name) + ": no answer within 1 s after the repaint");
        CHECK(program.Process().Running(), std::string(name) + ": the program ended");
        Note(std::string(name) + ": repainted, still answering");
    }
    ResizeAndExpectFigure(hwnd, 640, 480, "after the extreme sizes");
}

}  // namespace e2e

// Test-only: registers the program's window class for its own module before
// WinMain runs, so that the program's registration is refused by the real
// platform and its error path can be observed end to end.
#include "platform/platform.h"

static const ATOM Preregistered = [] {
    WNDCLASSW wc{};
    wc.lpfnWndProc = DefWindowProcW;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = L"Ambrelix";
    return RegisterClassW(&wc);
}();

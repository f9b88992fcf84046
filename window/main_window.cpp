#include "window/main_window.h"

// The one piece of state the window keeps between messages.
int ClientWidth = 0;   // NOLINT(cppcoreguidelines-avoid-non-const-global-variables)
int ClientHeight = 0;  // NOLINT(cppcoreguidelines-avoid-non-const-global-variables)

// Both halves are unsigned 16-bit fields: a width of 0x8000 is 32768, never negative.
static LRESULT OnSize(LPARAM lParam) noexcept
{
    ClientWidth = LOWORD(lParam);
    ClientHeight = HIWORD(lParam);
    return 0;
}

static LRESULT OnPaint(HWND hwnd) noexcept
{
    PaintMainWindow(hwnd);
    return 0;
}

static LRESULT OnDestroy() noexcept
{
    PostQuitMessage(0);
    return 0;
}

LRESULT CALLBACK MainWindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) noexcept
{
    switch (message) {
    case WM_SIZE: return OnSize(lParam);
    case WM_PAINT: return OnPaint(hwnd);
    case WM_DESTROY: return OnDestroy();
    default: return DefWindowProcW(hwnd, message, wParam, lParam);
    }
}

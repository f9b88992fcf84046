#include "window/main_window.h"

static constexpr COLORREF FillColour = RGB(255, 0, 255);

// Radial points on the top edge a third of the way in from either side. The
// second doubles before dividing, so a width of 101 gives 33 and 67, not 66.
static constexpr int FirstRadialX(int width) noexcept { return width / 3; }
static constexpr int SecondRadialX(int width) noexcept { return (2 * width) / 3; }

void PaintMainWindow(HWND hwnd) noexcept
{
    const int width = ClientWidth;
    const int height = ClientHeight;

    PAINTSTRUCT ps{};
    HDC hdc = BeginPaint(hwnd, &ps);
    HBRUSH brush = CreateSolidBrush(FillColour);
    HGDIOBJ previous = SelectObject(hdc, brush);
    Pie(hdc, 0, 0, width, height, FirstRadialX(width), 0, SecondRadialX(width), 0);
    // A brush must not be deleted while a device context still holds it.
    SelectObject(hdc, previous);
    DeleteObject(brush);
    EndPaint(hwnd, &ps);
}

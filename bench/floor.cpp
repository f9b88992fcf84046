// The floor for the benchmarks: a window with Ambrelix's class styles,
// background brush and default size that paints nothing beyond the erase.
// Built with FLOOR_AS_AMBRELIX it also takes Ambrelix's caption: a stand-in
// that shows no figure where the program's window is looked for.
#include "platform/platform.h"

#ifdef FLOOR_AS_AMBRELIX
static const WCHAR Caption[] = L"Pie(hdc, 0, 0, xRight, yBottom, 0, yBottom/2, 0, yBottom/2)";
#else
static const WCHAR Caption[] = L"Floor";
#endif

static LRESULT CALLBACK FloorWindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) noexcept
{
    if (message == WM_DESTROY) {
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcW(hwnd, message, wParam, lParam);
}

int WINAPI WinMain(HINSTANCE hInstance, HINSTANCE, LPSTR, int nCmdShow)
{
    WNDCLASSW wc{};
    wc.style = CS_HREDRAW | CS_VREDRAW;
    wc.lpfnWndProc = FloorWindowProc;
    wc.hInstance = hInstance;
    wc.hIcon = LoadIconW(nullptr, IDI_APPLICATION);
    wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    wc.hbrBackground = static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH));
    wc.lpszClassName = L"AmbrelixFloor";
    if (!RegisterClassW(&wc))
        return 1;
    HWND hwnd = CreateWindowExW(0, wc.lpszClassName, Caption, WS_OVERLAPPEDWINDOW, CW_USEDEFAULT, CW_USEDEFAULT,
                                CW_USEDEFAULT, CW_USEDEFAULT, nullptr, nullptr, hInstance, nullptr);
    if (!hwnd)
        return 1;
    ShowWindow(hwnd, nCmdShow);
    UpdateWindow(hwnd);
    MSG msg{};
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    return static_cast<int>(msg.wParam);
}

#include "platform/platform.h"
#include "window/main_window.h"

// Wide character arrays, as the Win32 API takes them.
static const WCHAR AppName[] = L"Ambrelix";  // NOLINT(cppcoreguidelines-avoid-c-arrays)
static const WCHAR WindowCaption[] =           // NOLINT(cppcoreguidelines-avoid-c-arrays)
    L"Pie(hdc, 0, 0, xRight, yBottom, 0, yBottom/2, 0, yBottom/2)";
static const WCHAR NeedsNtText[] = L"This program requires Windows NT!";  // NOLINT(cppcoreguidelines-avoid-c-arrays)

// A failed start or a broken message queue must not look like a normal close
// to whoever launched us.
static constexpr int ExitFailure = 1;

static ATOM RegisterMainWindowClass(HINSTANCE hInstance) noexcept
{
    WNDCLASSW wc{};
    wc.style = CS_HREDRAW | CS_VREDRAW;
    wc.lpfnWndProc = MainWindowProc;
    wc.cbClsExtra = 0;
    wc.cbWndExtra = 0;
    wc.hInstance = hInstance;
    // The system's own icon and cursor are named by integer resource ids.
    wc.hIcon = LoadIconW(nullptr, IDI_APPLICATION);  // NOLINT(cppcoreguidelines-pro-type-reinterpret-cast,performance-no-int-to-ptr)
    wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);  // NOLINT(cppcoreguidelines-pro-type-reinterpret-cast,performance-no-int-to-ptr)
    wc.hbrBackground = static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH));
    wc.lpszMenuName = nullptr;
    wc.lpszClassName = AppName;
    return RegisterClassW(&wc);
}

int WINAPI WinMain(HINSTANCE hInstance, HINSTANCE, LPSTR, int nCmdShow)
{
    if (!RegisterMainWindowClass(hInstance)) {
        MessageBoxW(nullptr, NeedsNtText, AppName, MB_ICONERROR);
        return ExitFailure;
    }

    HWND hwnd = CreateWindowExW(0, AppName, WindowCaption, WS_OVERLAPPEDWINDOW, CW_USEDEFAULT, CW_USEDEFAULT,
                                CW_USEDEFAULT, CW_USEDEFAULT, nullptr, nullptr, hInstance, nullptr);
    if (!hwnd)
        return ExitFailure;

    ShowWindow(hwnd, nCmdShow);
    UpdateWindow(hwnd);

    MSG msg{};
    BOOL got = 0;
    while ((got = GetMessageW(&msg, nullptr, 0, 0)) != 0) {
        if (got == -1)
            return ExitFailure;
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    return static_cast<int>(msg.wParam);
}

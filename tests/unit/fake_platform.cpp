#include "tests/unit/fake_platform.h"

#include <iomanip>
#include <sstream>

namespace fake {

static Platform current;

Platform& Reset()
{
    current = Platform{};
    return current;
}

void Platform::Post(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    MSG msg{};
    msg.hwnd = hwnd;
    msg.message = message;
    msg.wParam = wParam;
    msg.lParam = lParam;
    queue.emplace_back(message == WM_QUIT ? 0 : 1, msg);
}

std::vector<Call> Platform::CallsOf(const std::vector<std::string>& names) const
{
    std::vector<Call> out;
    for (const Call& call : calls)
        for (const std::string& name : names)
            if (call.fn == name)
                out.push_back(call);
    return out;
}

std::ostream& operator<<(std::ostream& os, const Call& call)
{
    os << call.fn << "(";
    const char* sep = "";
    for (std::intptr_t arg : call.args) {
        os << sep << "0x" << std::hex << arg << std::dec;
        sep = ", ";
    }
    for (const std::wstring& text : call.texts) {
        os << sep << "L\"";
        for (wchar_t c : text)
            os << (c < 0x80 ? static_cast<char>(c) : '?');
        os << "\"";
        sep = ", ";
    }
    return os << ")";
}

std::string CompareCalls(const std::vector<Call>& expected, const std::vector<Call>& actual)
{
    size_t i = 0;
    while (i < expected.size() && i < actual.size() && expected[i] == actual[i])
        ++i;
    if (i == expected.size() && i == actual.size())
        return {};
    std::ostringstream os;
    os << "first mismatch at call " << i << "\n";
    for (size_t k = 0; k < std::max(expected.size(), actual.size()); ++k) {
        os << (k == i ? "=> " : "   ") << std::setw(2) << k << "  expected: ";
        if (k < expected.size())
            os << expected[k];
        else
            os << "(none)";
        os << "\n        actual:   ";
        if (k < actual.size())
            os << actual[k];
        else
            os << "(none)";
        os << "\n";
    }
    return os.str();
}

static std::wstring Text(LPCWSTR s)
{
    // Integer resources (MAKEINTRESOURCE) and null carry no text.
    if (reinterpret_cast<std::uintptr_t>(s) <= 0xFFFF)
        return L"#" + std::to_wstring(reinterpret_cast<std::uintptr_t>(s));
    return s;
}

static void Record(Call call) { current.calls.push_back(std::move(call)); }

}  // namespace fake

using namespace fake;

extern "C" {

ATOM WINAPI RegisterClassW(const WNDCLASSW* wc)
{
    Platform& p = current;
    Record(MakeCall("RegisterClassW", wc->style, wc->lpfnWndProc, wc->cbClsExtra, wc->cbWndExtra, wc->hInstance,
                    wc->hIcon, wc->hCursor, wc->hbrBackground, wc->lpszMenuName));
    p.calls.back().texts.push_back(Text(wc->lpszClassName));
    if (p.refuseRegistration)
        return 0;
    p.registeredClassName = Text(wc->lpszClassName);
    p.proc = wc->lpfnWndProc;
    return ClassAtom;
}

HWND WINAPI CreateWindowExW(DWORD exStyle, LPCWSTR className, LPCWSTR caption, DWORD style, int x, int y, int width,
                            int height, HWND parent, HMENU menu, HINSTANCE instance, LPVOID param)
{
    Platform& p = current;
    Record(MakeCall("CreateWindowExW", exStyle, style, x, y, width, height, parent, menu, instance, param));
    p.calls.back().texts = {Text(className), Text(caption)};
    if (p.failCreation || !p.proc || Text(className) != p.registeredClassName)
        return nullptr;
    return Window;
}

BOOL WINAPI ShowWindow(HWND hwnd, int cmdShow)
{
    Platform& p = current;
    Record(MakeCall("ShowWindow", hwnd, cmdShow));
    if (p.proc && hwnd == Window) {
        const LPARAM size = static_cast<LPARAM>((static_cast<DWORD>(p.clientHeight) << 16) |
                                                (static_cast<DWORD>(p.clientWidth) & 0xFFFF));
        p.proc(hwnd, WM_SIZE, 0, size);
        p.invalid = true;
    }
    return FALSE;
}

BOOL WINAPI UpdateWindow(HWND hwnd)
{
    Platform& p = current;
    Record(MakeCall("UpdateWindow", hwnd));
    if (p.proc && p.invalid && hwnd == Window)
        p.proc(hwnd, WM_PAINT, 0, 0);
    return TRUE;
}

BOOL WINAPI GetMessageW(MSG* msg, HWND hwnd, UINT filterMin, UINT filterMax)
{
    Platform& p = current;
    Record(MakeCall("GetMessageW", hwnd, filterMin, filterMax));
    if (p.queue.empty()) {
        // A loop that keeps asking after the script ran out would never end:
        // count it and hand out a quit with a tell-tale code.
        ++p.getMessageOnEmptyQueue;
        *msg = MSG{};
        msg->message = WM_QUIT;
        msg->wParam = 0xDEAD;
        return 0;
    }
    auto [result, next] = p.queue.front();
    p.queue.pop_front();
    *msg = next;
    return result;
}

BOOL WINAPI TranslateMessage(const MSG* msg)
{
    Record(MakeCall("TranslateMessage", msg->hwnd, msg->message, msg->wParam, msg->lParam));
    return FALSE;
}

LRESULT WINAPI DispatchMessageW(const MSG* msg)
{
    Platform& p = current;
    Record(MakeCall("DispatchMessageW", msg->hwnd, msg->message, msg->wParam, msg->lParam));
    if (p.proc && msg->hwnd == Window)
        return p.proc(msg->hwnd, msg->message, msg->wParam, msg->lParam);
    return 0;
}

LRESULT WINAPI DefWindowProcW(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    Platform& p = current;
    Record(MakeCall("DefWindowProcW", hwnd, message, wParam, lParam));
    if (message == WM_CLOSE && p.proc)
        p.proc(hwnd, WM_DESTROY, 0, 0);
    return p.defaultResult;
}

void WINAPI PostQuitMessage(int exitCode)
{
    Record(MakeCall("PostQuitMessage", exitCode));
    current.Post(nullptr, WM_QUIT, static_cast<WPARAM>(exitCode));
}

HDC WINAPI BeginPaint(HWND hwnd, PAINTSTRUCT* ps)
{
    Platform& p = current;
    Record(MakeCall("BeginPaint", hwnd));
    *ps = PAINTSTRUCT{};
    ps->hdc = PaintDc;
    ps->fErase = TRUE;
    ps->rcPaint = RECT{0, 0, p.clientWidth, p.clientHeight};
    p.invalid = false;
    return PaintDc;
}

BOOL WINAPI EndPaint(HWND hwnd, const PAINTSTRUCT* ps)
{
    Record(MakeCall("EndPaint", hwnd, ps->hdc));
    return TRUE;
}

HICON WINAPI LoadIconW(HINSTANCE instance, LPCWSTR name)
{
    Record(MakeCall("LoadIconW", instance, name));
    return AppIcon;
}

HCURSOR WINAPI LoadCursorW(HINSTANCE instance, LPCWSTR name)
{
    Record(MakeCall("LoadCursorW", instance, name));
    return Arrow;
}

int WINAPI MessageBoxW(HWND owner, LPCWSTR text, LPCWSTR caption, UINT type)
{
    Record(MakeCall("MessageBoxW", owner, type));
    current.calls.back().texts = {Text(text), Text(caption)};
    return 1;
}

HGDIOBJ WINAPI GetStockObject(int index)
{
    Record(MakeCall("GetStockObject", index));
    return index == WHITE_BRUSH ? WhiteBrush : nullptr;
}

HBRUSH WINAPI CreateSolidBrush(COLORREF color)
{
    Platform& p = current;
    Record(MakeCall("CreateSolidBrush", color));
    const std::uintptr_t id = p.nextBrush;
    p.nextBrush += 0x10;
    p.brushes[id] = BrushLife{};
    return Handle<HBRUSH>(id);
}

HGDIOBJ WINAPI SelectObject(HDC hdc, HGDIOBJ object)
{
    Platform& p = current;
    Record(MakeCall("SelectObject", hdc, object));
    if (hdc != PaintDc || !object)
        return nullptr;
    HGDIOBJ previous = p.selectedInDc;
    p.selectedInDc = object;
    return previous;
}

BOOL WINAPI Pie(HDC hdc, int left, int top, int right, int bottom, int xr1, int yr1, int xr2, int yr2)
{
    Record(MakeCall("Pie", hdc, left, top, right, bottom, xr1, yr1, xr2, yr2));
    return TRUE;
}

BOOL WINAPI DeleteObject(HGDIOBJ object)
{
    Platform& p = current;
    Record(MakeCall("DeleteObject", object));
    auto it = p.brushes.find(reinterpret_cast<std::uintptr_t>(object));
    if (it == p.brushes.end())
        return FALSE;
    ++it->second.deletions;
    if (p.selectedInDc == object) {
        // The real GDI refuses to delete an object that a DC still holds.
        it->second.deletedWhileSelected = true;
        return FALSE;
    }
    return TRUE;
}

}  // extern "C"

// The one failure a user is shown: the program refused its window class.
// (Every other case ends the program with WM_CLOSE and expects 0; the input
// cases close it by the close button, Alt+F4 and the system menu.)
#include "tests/e2e/cases.h"
#include "driver/figure.h"
#include "driver/support.h"

namespace e2e {

namespace {

struct BoxParts {
    std::vector<HWND> buttons;
    std::vector<std::wstring> texts;
    HWND iconStatic = nullptr;
    HICON icon = nullptr;
};

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

}  // namespace

// The program built with its class already registered, so RegisterClassW refuses.
void RefusedCase(const Args& args)
{
    RunningProgram program(args.program, Start().WindowClass(L"#32770"));
    HWND box = program.Window();
    if (!box)
        return;

    int boxes = 0, mainWindows = 0;
    for (HWND hwnd : TopLevelWindowsOf(program.Process().Pid(), false)) {
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
        Post(parts.buttons[0], BM_CLICK);
    program.Ended(1, "OK pressed");
}

}  // namespace e2e

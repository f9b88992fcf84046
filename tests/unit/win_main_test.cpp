// WinMain against the recording fake: start-up, the failure paths and the loop.
#include "tests/unit/fake_platform.h"
#include "window/main_window.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using fake::Call;
using fake::MakeCall;

namespace {

const std::wstring AppName = L"Ambrelix";
const std::wstring Caption = L"Pie(hdc, 0, 0, xRight, yBottom, 0, yBottom/2, 0, yBottom/2)";
constexpr std::intptr_t IdiApplication = 32512;
constexpr std::intptr_t IdcArrow = 32512;

Call WithTexts(Call call, std::vector<std::wstring> texts)
{
    call.texts = std::move(texts);
    return call;
}

// The class look-ups in their order, then the registration.
std::vector<Call> RegistrationCalls()
{
    return {
        MakeCall("LoadIconW", nullptr, IdiApplication),
        MakeCall("LoadCursorW", nullptr, IdcArrow),
        MakeCall("GetStockObject", 0),
        WithTexts(MakeCall("RegisterClassW", 3, MainWindowProc, 0, 0, fake::Instance, fake::AppIcon, fake::Arrow,
                           fake::WhiteBrush, nullptr),
                  {AppName}),
    };
}

Call CreationCall()
{
    return WithTexts(MakeCall("CreateWindowExW", 0, 0x00CF0000, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT,
                              CW_USEDEFAULT, nullptr, nullptr, fake::Instance, nullptr),
                     {AppName, Caption});
}

std::vector<Call> FirstPaintCalls(int width, int height, int x1, int x2)
{
    const HBRUSH brush = fake::Handle<HBRUSH>(fake::FirstBrush);
    return {
        MakeCall("BeginPaint", fake::Window),
        MakeCall("CreateSolidBrush", 0x00FF00FF),
        MakeCall("SelectObject", fake::PaintDc, brush),
        MakeCall("Pie", fake::PaintDc, 0, 0, width, height, x1, 0, x2, 0),
        MakeCall("SelectObject", fake::PaintDc, fake::DcDefaultBrush),
        MakeCall("DeleteObject", brush),
        MakeCall("EndPaint", fake::Window, fake::PaintDc),
    };
}

template <typename... Lists>
std::vector<Call> Concat(Lists... lists)
{
    std::vector<Call> out;
    (out.insert(out.end(), lists.begin(), lists.end()), ...);
    return out;
}

int RunWinMain(int cmdShow, const char* cmdLine = "")
{
    std::string line = cmdLine;
    return WinMain(fake::Instance, nullptr, line.data(), cmdShow);
}

class WinMainTest : public testing::Test {
protected:
    fake::Platform& platform = fake::Reset();
    void TearDown() override { EXPECT_EQ(platform.getMessageOnEmptyQueue, 0) << "loop outlived its script"; }
};

struct StartCase {
    int cmdShow;
    const char* cmdLine;
};

void PrintTo(const StartCase& c, std::ostream* os) { *os << "show " << c.cmdShow << ", command line '" << c.cmdLine << "'"; }

class StartUpTest : public WinMainTest, public testing::WithParamInterface<StartCase> {};

// A whole run: register, create, show in the given state, first paint, then a
// user's close through the loop ends it with 0. The command line changes nothing.
TEST_P(StartUpTest, InOrderRegistersCreatesShowsPaintsAndEndsOnClose)
{
    platform.clientWidth = 600;
    platform.clientHeight = 400;
    platform.Post(fake::Window, WM_CLOSE);

    const int exitCode = RunWinMain(GetParam().cmdShow, GetParam().cmdLine);

    const std::vector<Call> expected = Concat(
        RegistrationCalls(), std::vector<Call>{CreationCall(), MakeCall("ShowWindow", fake::Window, GetParam().cmdShow),
                                               MakeCall("UpdateWindow", fake::Window)},
        FirstPaintCalls(600, 400, 200, 400),
        std::vector<Call>{
            MakeCall("GetMessageW", nullptr, 0, 0),
            MakeCall("TranslateMessage", fake::Window, WM_CLOSE, 0, 0),
            MakeCall("DispatchMessageW", fake::Window, WM_CLOSE, 0, 0),
            MakeCall("DefWindowProcW", fake::Window, WM_CLOSE, 0, 0),
            MakeCall("PostQuitMessage", 0),
            MakeCall("GetMessageW", nullptr, 0, 0),
        });
    EXPECT_EQ(fake::CompareCalls(expected, platform.calls), "");
    EXPECT_EQ(exitCode, 0);
}

INSTANTIATE_TEST_SUITE_P(ShowStatesAndCommandLines, StartUpTest,
                         testing::Values(StartCase{SW_SHOWNORMAL, ""}, StartCase{SW_SHOWMINIMIZED, ""},
                                         StartCase{SW_SHOWMAXIMIZED, "one two three"},
                                         StartCase{SW_SHOWDEFAULT, "\"quoted arg\" /x -y --z=\xc3\xa9"},
                                         StartCase{0, "ignored"}));

TEST_F(WinMainTest, RefusedRegistrationShowsOneErrorBoxCreatesNothingAndFails)
{
    platform.refuseRegistration = true;

    const int exitCode = RunWinMain(SW_SHOWNORMAL);

    const std::vector<Call> expected = Concat(
        RegistrationCalls(),
        std::vector<Call>{WithTexts(MakeCall("MessageBoxW", nullptr, 0x10), {L"This program requires Windows NT!", AppName})});
    EXPECT_EQ(fake::CompareCalls(expected, platform.calls), "");
    EXPECT_EQ(exitCode, 1);
}

TEST_F(WinMainTest, FailedCreationEndsAtOnceWithoutShowingOrPumping)
{
    platform.failCreation = true;

    const int exitCode = RunWinMain(SW_SHOWNORMAL);

    EXPECT_EQ(fake::CompareCalls(Concat(RegistrationCalls(), std::vector<Call>{CreationCall()}), platform.calls), "");
    EXPECT_EQ(exitCode, 1);
}

Call Get() { return MakeCall("GetMessageW", nullptr, 0, 0); }
Call Translate(UINT message) { return MakeCall("TranslateMessage", fake::Window, message, 0x11, 0x22); }
Call Dispatch(UINT message) { return MakeCall("DispatchMessageW", fake::Window, message, 0x11, 0x22); }
Call Default(UINT message) { return MakeCall("DefWindowProcW", fake::Window, message, 0x11, 0x22); }

struct LoopCase {
    const char* name;
    std::vector<std::pair<BOOL, UINT>> script;  // GetMessageW results and messages; WM_QUIT carries quitCode
    WPARAM quitCode;
    std::vector<Call> expected;  // the loop's calls, from the first GetMessageW on
    int exitCode;
    size_t unread;  // messages left in the queue after the loop
};

void PrintTo(const LoopCase& c, std::ostream* os) { *os << c.name; }

class LoopTest : public WinMainTest, public testing::WithParamInterface<LoopCase> {};

// Each message is translated, then dispatched, then the next one fetched.
TEST_P(LoopTest, InOrderGetsTranslatesDispatchesUntilQuitOrError)
{
    const LoopCase& c = GetParam();
    platform.clientWidth = 10;
    platform.clientHeight = 10;
    for (auto [result, message] : c.script) {
        MSG msg{};
        msg.hwnd = message == WM_QUIT ? nullptr : fake::Window;
        msg.message = message;
        msg.wParam = message == WM_QUIT ? c.quitCode : 0x11;
        msg.lParam = 0x22;
        platform.queue.emplace_back(result, msg);
    }

    const int exitCode = RunWinMain(SW_SHOWNORMAL);

    EXPECT_EQ(fake::CompareCalls(c.expected, platform.CallsOf({"GetMessageW", "TranslateMessage", "DispatchMessageW",
                                                               "DefWindowProcW"})),
              "");
    EXPECT_EQ(platform.queue.size(), c.unread) << "messages after the end must stay unread";
    EXPECT_EQ(exitCode, c.exitCode);
}

INSTANTIATE_TEST_SUITE_P(
    Scripts, LoopTest,
    testing::Values(
        LoopCase{"QuitAtOnce", {{0, WM_QUIT}}, 0, {Get()}, 0, 0},
        LoopCase{"MessagesThenQuit",
                 {{1, WM_USER}, {1, WM_NULL}, {1, 0xC001}, {0, WM_QUIT}},
                 0,
                 {Get(), Translate(WM_USER), Dispatch(WM_USER), Default(WM_USER), Get(), Translate(WM_NULL),
                  Dispatch(WM_NULL), Default(WM_NULL), Get(), Translate(0xC001), Dispatch(0xC001), Default(0xC001),
                  Get()},
                 0,
                 0},
        LoopCase{"QuitCodeIsReturned",
                 {{1, WM_USER}, {0, WM_QUIT}, {1, WM_USER}},
                 7,
                 {Get(), Translate(WM_USER), Dispatch(WM_USER), Default(WM_USER), Get()},
                 7,
                 1},
        LoopCase{"ErrorEndsWithFailure",
                 {{1, WM_USER}, {-1, WM_NULL}, {1, WM_USER}, {0, WM_QUIT}},
                 0,
                 {Get(), Translate(WM_USER), Dispatch(WM_USER), Default(WM_USER), Get()},
                 1,
                 2},
        LoopCase{"ErrorFirst", {{-1, WM_NULL}, {0, WM_QUIT}}, 0, {Get()}, 1, 1}),
    [](const testing::TestParamInfo<LoopCase>& info) { return std::string(info.param.name); });

}  // namespace

// MainWindowProc and PaintMainWindow against the recording fake.
#include "tests/unit/fake_platform.h"
#include "window/main_window.h"

#include <gtest/gtest.h>

#include <vector>

using fake::Call;
using fake::MakeCall;

namespace {

LPARAM SizeParam(std::uint64_t raw) { return static_cast<LPARAM>(raw); }

class MainWindowTest : public testing::Test {
protected:
    fake::Platform& platform = fake::Reset();
};

// A table-driven test: one run per row of Case.
template <typename Case>
class TableTest : public MainWindowTest, public testing::WithParamInterface<Case> {};

struct SizeCase {
    std::uint64_t lParam;
    WPARAM kind;  // SIZE_RESTORED, SIZE_MINIMIZED, ...: must not matter
    int width;
    int height;
};

void PrintTo(const SizeCase& c, std::ostream* os)
{
    *os << "lParam 0x" << std::hex << c.lParam << std::dec << " -> " << c.width << "x" << c.height;
}

using SizeTest = TableTest<SizeCase>;

TEST_P(SizeTest, StoresBothHalvesUnsignedAndDoesNothingElse)
{
    const SizeCase& c = GetParam();
    ClientWidth = -1;
    ClientHeight = -1;

    EXPECT_EQ(MainWindowProc(fake::Window, WM_SIZE, c.kind, SizeParam(c.lParam)), 0);

    EXPECT_EQ(ClientWidth, c.width);
    EXPECT_EQ(ClientHeight, c.height);
    EXPECT_EQ(fake::CompareCalls({}, platform.calls), "") << "a size change neither draws nor goes to the default";
}

INSTANTIATE_TEST_SUITE_P(LParams, SizeTest,
                         testing::Values(SizeCase{(500u << 16) | 800u, 0, 800, 500},
                                         SizeCase{0xFFFF8000u, 0, 32768, 65535},
                                         SizeCase{0x80008000u, 2, 32768, 32768},
                                         SizeCase{0xFFFFFFFFu, 0, 65535, 65535},
                                         SizeCase{0x0000FFFFu, 4, 65535, 0},
                                         SizeCase{0xFFFF0000u, 3, 0, 65535},
                                         SizeCase{0, 1, 0, 0},  // minimised
                                         SizeCase{sizeof(LPARAM) == 8 ? 0xFFFFFFFF00640032ull : 0x00640032u, 0, 50,
                                                  100}));

struct DefaultCase { UINT message; WPARAM wParam; LPARAM lParam; };

void PrintTo(const DefaultCase& c, std::ostream* os)
{
    *os << "message 0x" << std::hex << c.message << " wParam 0x" << c.wParam << " lParam 0x" << c.lParam;
}

using DefaultTest = TableTest<DefaultCase>;

TEST_P(DefaultTest, GoesToDefWindowProcUnchangedAndReturnsItsResult)
{
    const DefaultCase& c = GetParam();
    platform.defaultResult = static_cast<LRESULT>(0x7EADBEEF);
    ClientWidth = 123;
    ClientHeight = 45;

    EXPECT_EQ(MainWindowProc(fake::Window, c.message, c.wParam, c.lParam), static_cast<LRESULT>(0x7EADBEEF));

    ASSERT_FALSE(platform.calls.empty());
    EXPECT_EQ(platform.calls.front(), MakeCall("DefWindowProcW", fake::Window, c.message, c.wParam, c.lParam));
    EXPECT_EQ(ClientWidth, 123);
    EXPECT_EQ(ClientHeight, 45);
}

INSTANTIATE_TEST_SUITE_P(Messages, DefaultTest,
                         testing::Values(DefaultCase{WM_CREATE, 0, 0x1234}, DefaultCase{WM_ERASEBKGND, 0x20020, 0},
                                         DefaultCase{WM_NULL, ~WPARAM{0}, -1}, DefaultCase{0x0112, 0xF060, 0},
                                         DefaultCase{WM_USER + 5, 1, 2}, DefaultCase{0xC0DE, 0x8000, 0x7FFF},
                                         DefaultCase{WM_CLOSE, 0, 0}));

TEST_F(MainWindowTest, DestroyPostsExactlyOneQuitWithZero)
{
    EXPECT_EQ(MainWindowProc(fake::Window, WM_DESTROY, 0, 0), 0);

    EXPECT_EQ(fake::CompareCalls({MakeCall("PostQuitMessage", 0)}, platform.calls), "");
}

struct PaintCase { int width, height, firstX, secondX; };

void PrintTo(const PaintCase& c, std::ostream* os)
{
    *os << c.width << "x" << c.height << " -> radial x " << c.firstX << ", " << c.secondX;
}

using PaintTest = TableTest<PaintCase>;

// The order is the contract: the brush is selected before Pie and put back
// before it is deleted, all inside BeginPaint/EndPaint.
TEST_P(PaintTest, PaintSequenceInOrderDrawsThePieForTheStoredSize)
{
    const PaintCase& c = GetParam();
    MainWindowProc(fake::Window, WM_SIZE, 0, static_cast<LPARAM>((static_cast<DWORD>(c.height) << 16) | static_cast<DWORD>(c.width)));

    EXPECT_EQ(MainWindowProc(fake::Window, WM_PAINT, 0, 0), 0);

    const HBRUSH brush = fake::Handle<HBRUSH>(fake::FirstBrush);
    const std::vector<Call> expected = {
        MakeCall("BeginPaint", fake::Window),
        MakeCall("CreateSolidBrush", 0x00FF00FF),
        MakeCall("SelectObject", fake::PaintDc, brush),
        MakeCall("Pie", fake::PaintDc, 0, 0, c.width, c.height, c.firstX, 0, c.secondX, 0),
        MakeCall("SelectObject", fake::PaintDc, fake::DcDefaultBrush),
        MakeCall("DeleteObject", brush),
        MakeCall("EndPaint", fake::Window, fake::PaintDc),
    };
    EXPECT_EQ(fake::CompareCalls(expected, platform.calls), "");
}

INSTANTIATE_TEST_SUITE_P(Sizes, PaintTest,
                         testing::Values(PaintCase{600, 400, 200, 400}, PaintCase{101, 77, 33, 67},
                                         PaintCase{101, 500, 33, 67},  // height only: radial points stay
                                         PaintCase{1, 1, 0, 0}, PaintCase{2, 9, 0, 1}, PaintCase{0, 0, 0, 0},
                                         PaintCase{0, 300, 0, 0}, PaintCase{300, 0, 100, 200},
                                         PaintCase{65535, 65535, 21845, 43690}, PaintCase{32768, 3, 10922, 21845}));

TEST_F(MainWindowTest, EveryBrushIsDeselectedThenDeletedExactlyOnce)
{
    for (int i = 0; i < 200; ++i) {
        MainWindowProc(fake::Window, WM_SIZE, 0, static_cast<LPARAM>(((i * 7) << 16) | (i * 13)));
        MainWindowProc(fake::Window, WM_PAINT, 0, 0);
    }

    ASSERT_EQ(platform.brushes.size(), 200u);
    for (const auto& [id, life] : platform.brushes) {
        EXPECT_EQ(life.deletions, 1) << "brush 0x" << std::hex << id;
        EXPECT_FALSE(life.deletedWhileSelected) << "brush 0x" << std::hex << id;
    }
    EXPECT_EQ(platform.selectedInDc, fake::DcDefaultBrush) << "the DC must get its own brush back";
    EXPECT_EQ(platform.CallsOf({"BeginPaint"}).size(), platform.CallsOf({"EndPaint"}).size());
}

}  // namespace

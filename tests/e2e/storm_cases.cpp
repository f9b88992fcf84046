// Storms that push the real program: random messages, sent and posted, and
// random resizes; after each it must answer, draw right and close with 0.
#include "tests/e2e/cases.h"
#include "driver/figure.h"
#include "driver/support.h"

#include <psapi.h>

#include <cstdlib>
#include <map>
#include <random>

namespace e2e {

namespace {

// The random sequences start from a fixed, printed value, so a failing run
// can be repeated exactly (the value can also be given as an argument).
constexpr unsigned DefaultStart = 20261208;

std::mt19937 Random(const Args& args, const std::string& what)
{
    const unsigned start =
        args.extra.empty() ? DefaultStart : static_cast<unsigned>(std::wcstoul(args.extra[0].c_str(), nullptr, 10));
    Note(what + ", random start " + std::to_string(start));
    return std::mt19937(start);
}

// Private bytes; Wine fills in only the page-file figure for another
// process, which Windows keeps equal to the private bytes.
SIZE_T PrivateBytes(HANDLE process)
{
    PROCESS_MEMORY_COUNTERS_EX counters{};
    counters.cb = sizeof counters;
    GetProcessMemoryInfo(process, reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&counters), sizeof counters);
    Note("memory: private " + std::to_string(counters.PrivateUsage) + ", page file " +
         std::to_string(counters.PagefileUsage) + ", working set " + std::to_string(counters.WorkingSetSize));
    return counters.PrivateUsage ? counters.PrivateUsage : counters.PagefileUsage;
}

// A size the screen can hold with the frame around it.
SIZE ScreenClient()
{
    return SIZE{GetSystemMetrics(SM_CXSCREEN) - 64, GetSystemMetrics(SM_CYSCREEN) - 64};
}

enum class Sizes { Random, FewFixed };

// Sends and posts count messages of the storm's mix; false when one went
// unanswered. WM_SIZE carries random sizes, or only a few fixed ones.
bool RunStorm(HWND hwnd, std::mt19937& random, int count, Sizes sizes, std::map<std::string, int>& counts)
{
    const LPARAM specialSizes[] = {0,          static_cast<LPARAM>(0xFFFFFFFFu), static_cast<LPARAM>(0x80008000u),
                                   0x0000FFFF, static_cast<LPARAM>(0xFFFF0000u), (480 << 16) | 640,
                                   (200 << 16) | 301};
    const WPARAM sysCommands[] = {SC_MINIMIZE, SC_MAXIMIZE, SC_RESTORE};
    for (int i = 0; i < count; ++i) {
        const unsigned kind = random() % 1000;
        UINT message = WM_NULL;
        WPARAM wParam = random();
        LPARAM lParam = static_cast<LPARAM>(static_cast<DWORD>(random()));
        std::string name;
        if (kind < 300) {
            message = WM_SIZE;
            name = "WM_SIZE";
            if (sizes == Sizes::FewFixed || random() % 4 == 0)
                lParam = specialSizes[random() % 7];
        } else if (kind < 320) {
            ++counts["paint"];
            RedrawWindow(hwnd, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | (random() % 2 ? RDW_UPDATENOW : 0));
            continue;
        } else if (kind < 620) {
            message = WM_USER + random() % (0x7FFF - WM_USER + 1);
            name = "WM_USER range";
        } else if (kind < 920) {
            message = WM_APP + random() % (0xBFFF - WM_APP + 1);
            name = "WM_APP range";
        } else if (kind < 998) {
            name = "WM_NULL";
        } else {
            message = WM_SYSCOMMAND;
            wParam = sysCommands[random() % 3];
            lParam = 0;
            name = "WM_SYSCOMMAND";
        }
        ++counts[name];
        // System commands are always sent: one left in the queue would undo
        // the state set after the storm.
        if (message == WM_SYSCOMMAND || random() % 2) {
            DWORD_PTR result = 0;
            if (!SendMessageTimeoutW(hwnd, message, wParam, lParam, SMTO_NORMAL, 5000, &result))
                return CHECK(false, "message " + std::to_string(i) + " (" + name + ") not answered within 5 s");
        } else if (!Post(hwnd, message, wParam, lParam)) {
            return false;
        }
    }
    return true;
}

// Out of minimised and maximised: a window minimised from maximised
// restores to maximised first.
void Restore(HWND hwnd)
{
    for (int i = 0; i < 2 && (IsIconic(hwnd) || IsZoomed(hwnd)); ++i) {
        DWORD_PTR result = 0;
        SendMessageTimeoutW(hwnd, WM_SYSCOMMAND, SC_RESTORE, 0, SMTO_NORMAL, 5000, &result);
    }
}

// A storm's posted messages may still wait in the program's queue, and a late
// WM_SIZE would undo the size set next. Posted messages are handled in order
// and the storm posts no system command, so once a minimise posted after them
// has happened they are done.
bool WorkedThroughQueue(HWND hwnd, const std::string& when)
{
    Restore(hwnd);
    return Post(hwnd, WM_SYSCOMMAND, SC_MINIMIZE) &&
           CHECK(WaitFor([&] { return IsIconic(hwnd) != FALSE; }, 60000),
                 "the program did not work through its queue within 60 s " + when);
}

// Brings the window to one and the same state (restored, 640x480, painted)
// and reads its private bytes there.
SIZE_T SettleAndMeasure(RunningProgram& program, const std::string& when)
{
    HWND hwnd = program.Window();
    WorkedThroughQueue(hwnd, when);
    Restore(hwnd);
    CHECK(Responsive(hwnd, 1000), "no answer to WM_NULL within 1 s " + when);
    ResizeAndExpectFigure(hwnd, 640, 480, when);
    return PrivateBytes(program.Process().Process());
}

// A sound program grows by nothing over the judged storms, natively and under
// an emulator alike (4 KB at most seen); a brush leaked per paint grows by
// some 65 to 120 bytes a paint, 325 KB or more over the 5,000 repaints.
// 128 KB between them leaves room on both sides.
constexpr long long MemoryGrowthLimit = 128 * 1024;

void CheckGrowth(SIZE_T before, SIZE_T after, const std::string& over)
{
    const long long growth = static_cast<long long>(after) - static_cast<long long>(before);
    Note("private bytes over " + over + ": " + std::to_string(before) + " -> " + std::to_string(after) + " (growth " +
         std::to_string(growth) + ")");
    CHECK(before > 0, "private bytes not readable");
    CHECK(growth < MemoryGrowthLimit, "private bytes grew by " + std::to_string(growth) + " over " + over);
}

}  // namespace

void StormCase(RunningProgram& program, const Args& args)
{
    // Each repaint costs as much as five messages: the counts are the least
    // that show a program that hangs, draws wrong or grows.
    constexpr int Total = 20000;
    constexpr int WarmUp = 2000;
    constexpr int Repaints = 5000;
    std::mt19937 random = Random(args, "message storms of " + std::to_string(Total) + " messages");

    HWND hwnd = program.Window();
    ExpectFigure(hwnd, "before the storms");

    // Memory is judged on storms whose sizes repeat: Wine's rasterizer keeps
    // heap from pies drawn at thousands of different sizes (a storm of only
    // WM_SIZE, or only paints, grows by nothing), which is not the program's.
    std::map<std::string, int> counts;
    if (!RunStorm(hwnd, random, WarmUp, Sizes::FewFixed, counts))
        return;
    const SIZE_T warm = SettleAndMeasure(program, "after the warm-up");
    counts.clear();
    if (!RunStorm(hwnd, random, Total, Sizes::FewFixed, counts))
        return;
    const SIZE_T afterFixed = SettleAndMeasure(program, "after the storm of few sizes");
    CheckGrowth(warm, afterFixed, "the storm of few sizes");

    // A brush or anything else left behind per paint shows here.
    for (int i = 0; i < Repaints; ++i)
        RedrawWindow(hwnd, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW);
    const SIZE_T afterRepaints = SettleAndMeasure(program, "after the repaints");
    CheckGrowth(afterFixed, afterRepaints, std::to_string(Repaints) + " repaints");

    // The storm of random sizes must leave the program answering and right.
    counts.clear();
    const bool answered = RunStorm(hwnd, random, Total, Sizes::Random, counts);
    std::string tally;
    for (const auto& [name, count] : counts)
        tally += name + " " + std::to_string(count) + ", ";
    Note("storm of random sizes, sent or posted: " + tally);
    if (!answered)
        return;
    const SIZE_T afterRandom = SettleAndMeasure(program, "after the storm of random sizes");
    Note("private bytes over the storm of random sizes: growth " +
         std::to_string(static_cast<long long>(afterRandom) - static_cast<long long>(afterRepaints)) +
         " (not judged, see above)");
}

void ResizeStormCase(RunningProgram& program, const Args& args)
{
    constexpr int Resizes = 500;
    std::mt19937 random = Random(args, "resize storm: " + std::to_string(Resizes) + " resizes");

    HWND hwnd = program.Window();
    const SIZE screen = ScreenClient();
    for (int i = 0; i < Resizes; ++i)
        SetClientSize(hwnd, static_cast<int>(random() % (screen.cx + 1)), static_cast<int>(random() % (screen.cy + 1)));
    CHECK(Responsive(hwnd, 1000), "no answer to WM_NULL within 1 s after the resizes");
    ResizeAndExpectFigure(hwnd, 601, 401, "after the resize storm");
}

}  // namespace e2e

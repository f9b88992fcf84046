// Cases that push the real program: message and resize storms, extreme
// sizes, GDI objects over many repaints, and a run that must write nothing.
#include "tests/e2e/cases.h"
#include "tests/e2e/figure.h"

#include <psapi.h>

#include <cstdlib>
#include <map>
#include <random>

namespace e2e {

namespace {

// The random sequences start from a fixed, printed value, so a failing run
// can be repeated exactly (the value can also be given as an argument).
constexpr unsigned DefaultStart = 20261208;

unsigned RandomStart(const Args& args)
{
    return args.extra.empty() ? DefaultStart : static_cast<unsigned>(std::wcstoul(args.extra[0].c_str(), nullptr, 10));
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

// Posts, waiting while the program's queue is full.
void Post(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    for (int tries = 0; !PostMessageW(hwnd, message, wParam, lParam) && tries < 1000; ++tries)
        Sleep(1);
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
        if (random() % 2) {
            DWORD_PTR result = 0;
            if (!SendMessageTimeoutW(hwnd, message, wParam, lParam, SMTO_NORMAL, 5000, &result))
                return CHECK(false, "message " + std::to_string(i) + " (" + name + ") not answered within 5 s");
        } else {
            Post(hwnd, message, wParam, lParam);
        }
    }
    return true;
}

// Brings the window to one and the same state (restored, 640x480, painted)
// and reads its private bytes there.
SIZE_T SettleAndMeasure(const Child& child, HWND hwnd, const std::string& when)
{
    PostMessageW(hwnd, WM_SYSCOMMAND, SC_RESTORE, 0);
    CHECK(Responsive(hwnd, 1000), "no answer to WM_NULL within 1 s " + when);
    ResizeAndExpectFigure(hwnd, 640, 480, when);
    return PrivateBytes(child.Process());
}

void CheckGrowth(SIZE_T before, SIZE_T after, const std::string& over)
{
    const long long growth = static_cast<long long>(after) - static_cast<long long>(before);
    Note("private bytes over " + over + ": " + std::to_string(before) + " -> " + std::to_string(after) + " (growth " +
         std::to_string(growth) + ")");
    CHECK(before > 0, "private bytes not readable");
    CHECK(growth < 1024 * 1024, "private bytes grew by " + std::to_string(growth) + " over " + over);
}

}  // namespace

void StormCase(const Args& args)
{
    const unsigned start = RandomStart(args);
    constexpr int Total = 100000;
    constexpr int WarmUp = 10000;
    constexpr int Repaints = 20000;
    Note("message storms of " + std::to_string(Total) + " messages, random start " + std::to_string(start));
    std::mt19937 random(start);

    Child child(args.program, L"", SW_SHOWNORMAL);
    HWND hwnd = StartedWindow(child);
    if (!hwnd)
        return;
    ExpectFigure(hwnd, "before the storms");

    // Memory is judged on storms whose sizes repeat: Wine's rasterizer keeps
    // heap from pies drawn at thousands of different sizes (a storm of only
    // WM_SIZE, or only paints, grows by nothing), which is not the program's.
    std::map<std::string, int> counts;
    if (!RunStorm(hwnd, random, WarmUp, Sizes::FewFixed, counts))
        return;
    const SIZE_T warm = SettleAndMeasure(child, hwnd, "after the warm-up");
    counts.clear();
    if (!RunStorm(hwnd, random, Total, Sizes::FewFixed, counts))
        return;
    const SIZE_T afterFixed = SettleAndMeasure(child, hwnd, "after the storm of few sizes");
    CheckGrowth(warm, afterFixed, "the storm of few sizes");

    // A brush or anything else left behind per paint shows here.
    for (int i = 0; i < Repaints; ++i)
        RedrawWindow(hwnd, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW);
    const SIZE_T afterRepaints = SettleAndMeasure(child, hwnd, "after the repaints");
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
    const SIZE_T afterRandom = SettleAndMeasure(child, hwnd, "after the storm of random sizes");
    Note("private bytes over the storm of random sizes: growth " +
         std::to_string(static_cast<long long>(afterRandom) - static_cast<long long>(afterRepaints)) +
         " (not judged, see above)");
    CloseAndExpectZero(child, hwnd);
}

void ResizeStormCase(const Args& args)
{
    const unsigned start = RandomStart(args);
    constexpr int Resizes = 2000;
    Note("resize storm: " + std::to_string(Resizes) + " resizes, random start " + std::to_string(start));
    std::mt19937 random(start);

    Child child(args.program, L"", SW_SHOWNORMAL);
    HWND hwnd = StartedWindow(child);
    if (!hwnd)
        return;
    const SIZE screen = ScreenClient();
    for (int i = 0; i < Resizes; ++i)
        SetClientSize(hwnd, static_cast<int>(random() % (screen.cx + 1)), static_cast<int>(random() % (screen.cy + 1)));
    CHECK(Responsive(hwnd, 1000), "no answer to WM_NULL within 1 s after the resizes");
    ResizeAndExpectFigure(hwnd, 601, 401, "after the resize storm");
    CloseAndExpectZero(child, hwnd);
}

void ExtremeSizeCase(const Args& args)
{
    Child child(args.program, L"", SW_SHOWNORMAL);
    HWND hwnd = StartedWindow(child);
    if (!hwnd)
        return;
    const std::pair<const char*, LPARAM> sizes[] = {{"65535x65535", static_cast<LPARAM>(0xFFFFFFFFu)}, {"0x0", 0}};
    for (const auto& [name, size] : sizes) {
        DWORD_PTR result = 0;
        CHECK(SendMessageTimeoutW(hwnd, WM_SIZE, SIZE_RESTORED, size, SMTO_NORMAL, 5000, &result) != 0,
              std::string(name) + ": WM_SIZE not answered");
        RedrawWindow(hwnd, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE);
        // The paint is done once nothing is left to update.
        const bool painted = WaitFor([&] { return !GetUpdateRect(hwnd, nullptr, FALSE); }, FigureTimeoutMs);
        CHECK(painted, std::string(name) + ": the repaint did not finish");
        CHECK(Responsive(hwnd, 1000), std::string(name) + ": no answer within 1 s after the repaint");
        CHECK(WaitForSingleObject(child.Process(), 0) == WAIT_TIMEOUT, std::string(name) + ": the program ended");
        Note(std::string(name) + ": repainted, still answering");
    }
    ResizeAndExpectFigure(hwnd, 640, 480, "after the extreme sizes");
    CloseAndExpectZero(child, hwnd);
}

void GdiObjectsCase(const Args& args)
{
    if (RunningOnWine()) {
        Skip("GetGuiResources is a stub under Wine; the host unit tests prove every brush is deselected and deleted");
        return;
    }
    Child child(args.program, L"", SW_SHOWNORMAL);
    HWND hwnd = StartedWindow(child);
    if (!hwnd)
        return;
    ExpectFigure(hwnd, "before the repaints");
    const DWORD before = GetGuiResources(child.Process(), GR_GDIOBJECTS);
    for (int i = 0; i < 10000; ++i)
        RedrawWindow(hwnd, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW);
    const DWORD after = GetGuiResources(child.Process(), GR_GDIOBJECTS);
    Note("GDI objects " + std::to_string(before) + " -> " + std::to_string(after) + " over 10000 repaints");
    CHECK(before > 0 && after <= before, "GDI objects grew from " + std::to_string(before) + " to " +
                                             std::to_string(after));
    CloseAndExpectZero(child, hwnd);
}

namespace {

struct Entry {
    ULONGLONG size;
    ULONGLONG written;
    bool operator==(const Entry& other) const { return size == other.size && written == other.written; }
};
using Tree = std::map<std::wstring, Entry>;

void Walk(const std::wstring& dir, Tree& tree)
{
    WIN32_FIND_DATAW found{};
    HANDLE search = FindFirstFileW((dir + L"\\*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return;
    do {
        const std::wstring name = found.cFileName;
        if (name == L"." || name == L"..")
            continue;
        const std::wstring path = dir + L"\\" + name;
        const bool isDir = (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
        const bool isLink = (found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
        tree[path] = Entry{isDir ? 0 : (ULONGLONG{found.nFileSizeHigh} << 32) | found.nFileSizeLow,
                           isDir ? 0 : (ULONGLONG{found.ftLastWriteTime.dwHighDateTime} << 32) |
                                           found.ftLastWriteTime.dwLowDateTime};
        if (isDir && !isLink)
            Walk(path, tree);
    } while (FindNextFileW(search, &found));
    FindClose(search);
}

std::wstring Environment(const wchar_t* name)
{
    wchar_t buffer[MAX_PATH] = {};
    GetEnvironmentVariableW(name, buffer, MAX_PATH);
    return buffer;
}

}  // namespace

void WritesNothingCase(const Args& args)
{
    wchar_t temp[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, temp);
    const std::wstring workDir = std::wstring(temp) + L"ambrelix-empty-" + std::to_wstring(GetCurrentProcessId());
    CHECK(CreateDirectoryW(workDir.c_str(), nullptr) != 0, "cannot make an empty folder to run in");
    // On Wine the profile is the prefix's user folder; the driver's own temp
    // folder lies inside it, so both are watched.
    const std::vector<std::wstring> roots = {workDir, Environment(L"USERPROFILE")};

    Tree before;
    for (const std::wstring& root : roots)
        Walk(root, before);
    {
        Child child(args.program, L"", SW_SHOWNORMAL, workDir.c_str());
        HWND hwnd = StartedWindow(child);
        if (hwnd) {
            ExpectFigure(hwnd, "started in an empty folder");
            for (const SIZE size : {SIZE{640, 480}, SIZE{301, 201}, SIZE{900, 700}})
                ResizeAndExpectFigure(hwnd, size.cx, size.cy, std::to_string(size.cx) + "x" + std::to_string(size.cy));
            CloseAndExpectZero(child, hwnd);
        }
    }
    Tree after;
    for (const std::wstring& root : roots)
        Walk(root, after);

    int changes = 0;
    for (const auto& [path, entry] : after) {
        const auto old = before.find(path);
        if (old == before.end() || !(old->second == entry)) {
            ++changes;
            Note((old == before.end() ? "created: " : "changed: ") + Narrow(path));
        }
    }
    for (const auto& [path, entry] : before)
        if (!after.count(path)) {
            ++changes;
            Note("deleted: " + Narrow(path));
        }
    Note(std::to_string(before.size()) + " files and folders watched under " + Narrow(roots[0]) + " and " +
         Narrow(roots[1]) + "; " + std::to_string(changes) + " changed");
    CHECK(before.count(workDir + L"\\") == 0 && !before.empty(), "nothing was watched");
    CHECK(changes == 0, std::to_string(changes) + " files or folders created, changed or deleted");
    RemoveDirectoryW(workDir.c_str());
}

}  // namespace e2e

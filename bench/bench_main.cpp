// Measures Ambrelix against the floor program as a user feels it: launch to
// ready, repaints at several client sizes, a resize storm, and footprint.
// Runs of the two alternate, A B then B A, in every timed block.
//
//   ambrelix_bench AMBRELIX FLOOR EXE_I686 EXE_X86_64 JSON_OUT REPAINT_DAT_OUT
#include "driver/figure.h"
#include "driver/support.h"

#include <psapi.h>
#include <shellapi.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

using namespace e2e;

namespace {

constexpr int LaunchRuns = 80;  // closing takes some 8 ms: many runs before its median holds still
constexpr int RepaintBlocks = 10;
constexpr int RepaintsPerBlock = 20;
// Many short storms, alternating, so that the median holds still from run to run.
constexpr int StormRuns = 12;
constexpr int StormResizes = 100;
const SIZE RepaintSizes[] = {{640, 480}, {1920, 1080}, {3840, 2160}};

// A B, B A, A B, ...: whatever going first or second costs falls on both.
std::array<int, 2> Order(int run) { return run % 2 ? std::array{1, 0} : std::array{0, 1}; }

double Now()
{
    static LARGE_INTEGER frequency = [] {
        LARGE_INTEGER f;
        QueryPerformanceFrequency(&f);
        return f;
    }();
    LARGE_INTEGER counter;
    QueryPerformanceCounter(&counter);
    return static_cast<double>(counter.QuadPart) / static_cast<double>(frequency.QuadPart);
}

struct Program {
    const char* name;
    std::wstring exe;
    const wchar_t* className;
    bool pie;
};

// Ready when the first paint is on screen: a few pixels that only the
// finished picture has (magenta in the figure, white in the wedge and outside).
bool LooksReady(HWND hwnd, bool pie)
{
    RECT client{};
    GetClientRect(hwnd, &client);
    const int w = client.right, h = client.bottom;
    if (w < 16 || h < 16 || !IsWindowVisible(hwnd))
        return false;
    POINT origin{0, 0};
    ClientToScreen(hwnd, &origin);
    HDC screen = GetDC(nullptr);
    auto at = [&](int x, int y) { return GetPixel(screen, origin.x + x, origin.y + y) & 0xFFFFFF; };
    const COLORREF white = RGB(255, 255, 255), magenta = RGB(255, 0, 255);
    bool ready = at(2, 2) == white && at(w - 3, h - 3) == white && at(w / 2, h / 4) == white;
    const COLORREF inside = pie ? magenta : white;
    ready = ready && at(w / 2, 3 * h / 4) == inside && at(w / 4, h / 2) == inside && at(3 * w / 4, h / 2) == inside;
    ReleaseDC(nullptr, screen);
    return ready;
}

struct Stats {
    double median = 0, p25 = 0, p75 = 0;
};

Stats Summarise(std::vector<double> values)
{
    Stats s;
    if (values.empty())
        return s;
    std::sort(values.begin(), values.end());
    auto at = [&](double q) { return values[static_cast<size_t>(q * static_cast<double>(values.size() - 1) + 0.5)]; };
    s.median = at(0.5);
    s.p25 = at(0.25);
    s.p75 = at(0.75);
    return s;
}

std::string Json(const std::vector<double>& values)
{
    std::string out;
    for (const double value : values)
        out += (out.empty() ? "" : ", ") + std::to_string(value);
    return "[" + out + "]";
}

struct Row {
    std::string what, unit;
    std::vector<double> a, b;  // Ambrelix, floor
};

void Print(const Row& row)
{
    const Stats a = Summarise(row.a), b = Summarise(row.b);
    std::printf("| %-28s | %10.3f (%8.3f-%8.3f) | %10.3f (%8.3f-%8.3f) | %5.2f | %s\n", row.what.c_str(), a.median, a.p25,
                a.p75, b.median, b.p25, b.p75, b.median > 0 ? a.median / b.median : 0.0, row.unit.c_str());
}

ULONGLONG FileSize(const std::wstring& path)
{
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data))
        return 0;
    return (ULONGLONG{data.nFileSizeHigh} << 32) | data.nFileSizeLow;
}

void Raise(HWND hwnd) { SetWindowPos(hwnd, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE); }

bool Painted(HWND hwnd) { return !GetUpdateRect(hwnd, nullptr, FALSE) && Responsive(hwnd, 5000); }

}  // namespace

int main()
{
    int argc = 0;
    LPWSTR* argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    if (argc != 7) {
        std::printf("usage: ambrelix_bench AMBRELIX FLOOR EXE_I686 EXE_X86_64 JSON_OUT REPAINT_DAT_OUT\n");
        return 2;
    }
    const Program programs[2] = {{"ambrelix", argv[1], L"Ambrelix", true}, {"floor", argv[2], L"AmbrelixFloor", false}};
    std::vector<Row> rows;

    // 1. Launch to ready, then close to gone; A B, B A, ...
    Row launch{"launch to ready", "ms", {}, {}}, close{"WM_CLOSE to process end", "ms", {}, {}};
    Row workingSet{"peak working set", "KiB", {}, {}}, privateBytes{"private bytes", "KiB", {}, {}};
    for (int run = 0; run < LaunchRuns; ++run) {
        for (const int which : Order(run)) {
            const Program& p = programs[which];
            const double start = Now();
            RunningProgram r(p.exe, Start().WindowClass(p.className));
            if (!r || !WaitFor([&] { return LooksReady(r.Window(), p.pie); }, 30000, 1)) {
                std::printf("bench: launch run %d: %s did not show its first paint within 30 s\n", run + 1, p.name);
                return 1;
            }
            const double ready = Now();
            PROCESS_MEMORY_COUNTERS_EX memory{};
            memory.cb = sizeof memory;
            GetProcessMemoryInfo(r.Process().Process(), reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&memory),
                                 sizeof memory);
            Post(r.Window(), WM_CLOSE);
            r.Ended(0, std::string(p.name) + " closed");
            const double gone = Now();
            (which ? launch.b : launch.a).push_back((ready - start) * 1000);
            (which ? close.b : close.a).push_back((gone - ready) * 1000);
            (which ? workingSet.b : workingSet.a).push_back(static_cast<double>(memory.PeakWorkingSetSize) / 1024);
            const SIZE_T priv = memory.PrivateUsage ? memory.PrivateUsage : memory.PagefileUsage;
            (which ? privateBytes.b : privateBytes.a).push_back(static_cast<double>(priv) / 1024);
        }
    }
    rows.push_back(launch);
    rows.push_back(close);

    // 2. Repaints at three sizes and 3. the resize storm, both programs open.
    RunningProgram running[2] = {RunningProgram(programs[0].exe, Start().WindowClass(programs[0].className)),
                                 RunningProgram(programs[1].exe, Start().WindowClass(programs[1].className))};
    std::string dat = "# client_pixels ambrelix_ms floor_ms (medians)\n";
    for (const SIZE size : RepaintSizes) {
        Row repaint{"repaint " + std::to_string(size.cx) + "x" + std::to_string(size.cy), "ms", {}, {}};
        for (const RunningProgram& r : running) {
            SetClientSize(r.Window(), size.cx, size.cy);
            CHECK(WaitFor([&] { return ClientSizeIs(r.Window(), size.cx, size.cy) && Painted(r.Window()); }, 30000),
                  "client did not become " + std::to_string(size.cx) + "x" + std::to_string(size.cy));
        }
        for (int block = 0; block < RepaintBlocks; ++block) {
            for (const int which : Order(block)) {
                HWND hwnd = running[which].Window();
                Raise(hwnd);
                Painted(hwnd);
                for (int i = 0; i < RepaintsPerBlock; ++i) {
                    const double start = Now();
                    RedrawWindow(hwnd, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW);
                    (which ? repaint.b : repaint.a).push_back((Now() - start) * 1000);
                }
            }
        }
        rows.push_back(repaint);
        char line[128];
        std::snprintf(line, sizeof line, "%ld %.4f %.4f\n", static_cast<long>(size.cx) * size.cy,
                      Summarise(repaint.a).median, Summarise(repaint.b).median);
        dat += line;
    }

    Row storm{"resize storm (" + std::to_string(StormResizes) + " resizes)", "ms", {}, {}};
    for (int round = 0; round < StormRuns; ++round) {
        for (const int which : Order(round)) {
            HWND hwnd = running[which].Window();
            Raise(hwnd);
            const double start = Now();
            for (int i = 0; i < StormResizes; ++i)
                SetClientSize(hwnd, i % 2 ? 2560 : 1920, i % 2 ? 1440 : 1080);
            CHECK(WaitFor([&] { return Painted(hwnd); }, 60000, 1), "not painted after a resize storm");
            (which ? storm.b : storm.a).push_back((Now() - start) * 1000);
        }
    }
    rows.push_back(storm);

    // 4. Footprint.
    rows.push_back(workingSet);
    rows.push_back(privateBytes);
    const ULONGLONG sizeI686 = FileSize(argv[3]), sizeX64 = FileSize(argv[4]);

    std::printf("| %-28s | %-31s | %-31s | %-5s | unit\n", "measure", "Ambrelix median (p25-p75)",
                "floor median (p25-p75)", "ratio");
    std::printf("|%s|%s|%s|%s|-----\n", std::string(30, '-').c_str(), std::string(33, '-').c_str(),
                std::string(33, '-').c_str(), std::string(7, '-').c_str());
    for (const Row& row : rows)
        Print(row);
    std::printf("| %-28s | %10llu bytes (i686), %llu bytes (x86_64)\n", "executable size",
                static_cast<unsigned long long>(sizeI686), static_cast<unsigned long long>(sizeX64));

    std::string json = "{\n  \"executable_bytes\": {\"i686\": " + std::to_string(sizeI686) +
                       ", \"x86_64\": " + std::to_string(sizeX64) + "},\n  \"measures\": [\n";
    for (size_t i = 0; i < rows.size(); ++i) {
        json += "    {\"what\": \"" + rows[i].what + "\", \"unit\": \"" + rows[i].unit +
                "\",\n     \"ambrelix\": " + Json(rows[i].a) + ",\n     \"floor\": " + Json(rows[i].b) + "}";
        json += i + 1 < rows.size() ? ",\n" : "\n";
    }
    json += "  ]\n}\n";
    std::ofstream(argv[5], std::ios::binary) << json;
    std::ofstream(argv[6], std::ios::binary) << dat;
    LocalFree(argv);
    if (Failures()) {
        std::printf("bench: %d checks failed (the FAIL lines above name them); these figures may be wrong\n", Failures());
        return 1;
    }
    return 0;
}

// What the end-to-end driver and the bench share: checks that report what was
// observed, waiting with time-outs, child processes that are always reaped,
// and a running program with its window.
#pragma once

#include "platform/platform.h"

#include <string>
#include <vector>

namespace e2e {

// A failed check prints where and what was seen, and marks the case failed;
// the case goes on so that one run shows every difference.
bool Check(bool ok, const char* file, int line, const std::string& what);
#define CHECK(cond, what) ::e2e::Check((cond), __FILE__, __LINE__, (what))
int Failures();
void Note(const std::string& text);

std::string Narrow(const std::wstring& text);
std::string Hex(unsigned long long value);

// Bounds, not timings: a right answer ends each wait at once. Under an
// emulator on a loaded machine a large client's first paint, and one reading
// of it, each take seconds.
constexpr DWORD StartTimeoutMs = 30000;
constexpr DWORD FigureTimeoutMs = 60000;
constexpr DWORD ExitTimeoutMs = 10000;

// Polls until done() is true or the time-out passes; true when done.
template <typename F>
bool WaitFor(F done, DWORD timeoutMs, DWORD stepMs = 50)
{
    const ULONGLONG end = GetTickCount64() + timeoutMs;
    for (;;) {
        if (done())
            return true;
        if (GetTickCount64() >= end)
            return false;
        Sleep(stepMs);
    }
}

// A started process. The destructor kills and reaps it if it is still
// running, so a failed case never leaves a process behind.
class Child {
public:
    // commandTail goes after the quoted program path; showState < 0 leaves
    // STARTUPINFO without STARTF_USESHOWWINDOW; workDir null keeps ours.
    Child(const std::wstring& exe, const std::wstring& commandTail, int showState, const wchar_t* workDir = nullptr);
    ~Child();
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;

    DWORD Pid() const { return pid_; }
    HANDLE Process() const { return process_; }
    bool Running() const;
    // Waits for the end; true and the code when it ended in time.
    bool WaitExit(DWORD timeoutMs, DWORD* exitCode);

private:
    HANDLE process_ = nullptr;
    DWORD pid_ = 0;
};

// Waits for the process to end and checks its exit code.
void ExpectExit(Child& child, DWORD want, const std::string& how);

// How a program under test is started, and the class of the window to wait for.
struct Start {
    int showState = SW_SHOWNORMAL;
    std::wstring commandTail;
    const wchar_t* workDir = nullptr;
    const wchar_t* className = L"Ambrelix";

    Start& Show(int state) { showState = state; return *this; }
    Start& Tail(std::wstring tail) { commandTail = std::move(tail); return *this; }
    Start& In(const wchar_t* dir) { workDir = dir; return *this; }
    Start& WindowClass(const wchar_t* name) { className = name; return *this; }
};

// A program started and its top-level window found (a failed check when it
// does not appear). Unless a case has taken over its ending (Ended()), the
// destructor closes the window with WM_CLOSE and expects exit code 0.
class RunningProgram {
public:
    explicit RunningProgram(const std::wstring& exe, const Start& start = {});
    ~RunningProgram();
    RunningProgram(const RunningProgram&) = delete;
    RunningProgram& operator=(const RunningProgram&) = delete;

    explicit operator bool() const { return hwnd_ != nullptr; }
    HWND Window() const { return hwnd_; }
    Child& Process() { return child_; }
    // The case ends the program itself and checks how.
    void Ended(DWORD want, const std::string& how);

private:
    Child child_;
    HWND hwnd_ = nullptr;
    bool ended_ = false;
};

// Wine marks itself with an export of ntdll that Windows does not have.
bool RunningOnWine();

std::vector<HWND> TopLevelWindowsOf(DWORD pid, bool visibleOnly);
std::wstring ClassOf(HWND hwnd);
std::wstring TextOf(HWND hwnd);
// The process's one window of the given class, once it exists (or null).
HWND WaitForWindow(DWORD pid, const wchar_t* className, DWORD timeoutMs);
// The window answers a sent message within the time.
bool Responsive(HWND hwnd, DWORD withinMs);
// Posts, waiting while the program's queue is full; a failed check when the
// message cannot be posted at all.
bool Post(HWND hwnd, UINT message, WPARAM wParam = 0, LPARAM lParam = 0);

}  // namespace e2e

// Helpers of the end-to-end driver: checks that report what was observed,
// child processes that are always reaped, and waiting with time-outs.
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

// A started program under test. The destructor kills and reaps it if it is
// still running, so a failed case never leaves a process behind.
class Child {
public:
    // commandTail goes after the quoted program path; showState < 0 leaves
    // STARTUPINFO without STARTF_USESHOWWINDOW; workDir null keeps ours.
    Child(const std::wstring& exe, const std::wstring& commandTail, int showState, const wchar_t* workDir = nullptr);
    ~Child();
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;

    bool Started() const { return process_ != nullptr; }
    DWORD Pid() const { return pid_; }
    HANDLE Process() const { return process_; }
    // Waits for the end; true and the code when it ended in time.
    bool WaitExit(DWORD timeoutMs, DWORD* exitCode);

private:
    HANDLE process_ = nullptr;
    DWORD pid_ = 0;
};

// Wine marks itself with an export of ntdll that Windows does not have.
bool RunningOnWine();

std::vector<HWND> TopLevelWindowsOf(DWORD pid, bool visibleOnly);
std::wstring ClassOf(HWND hwnd);
std::wstring TextOf(HWND hwnd);
// The process's one window of the given class, once it exists (or null).
HWND WaitForWindow(DWORD pid, const wchar_t* className, DWORD timeoutMs);

}  // namespace e2e

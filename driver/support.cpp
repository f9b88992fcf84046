#include "driver/support.h"

#include <cstdio>

namespace e2e {

static int failures = 0;

bool Check(bool ok, const char* file, int line, const std::string& what)
{
    if (!ok) {
        ++failures;
        std::printf("FAIL %s:%d: %s\n", file, line, what.c_str());
        std::fflush(stdout);
    }
    return ok;
}

int Failures() { return failures; }

void Note(const std::string& text)
{
    std::printf("  %s\n", text.c_str());
    std::fflush(stdout);
}

std::string Narrow(const std::wstring& text)
{
    std::string out;
    for (wchar_t c : text)
        out += c < 0x80 ? static_cast<char>(c) : '?';
    return out;
}

std::string Hex(unsigned long long value)
{
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "0x%llx", value);
    return buffer;
}

Child::Child(const std::wstring& exe, const std::wstring& commandTail, int showState, const wchar_t* workDir)
{
    std::wstring commandLine = L"\"" + exe + L"\"";
    if (!commandTail.empty())
        commandLine += L" " + commandTail;
    STARTUPINFOW si{};
    si.cb = sizeof si;
    if (showState >= 0) {
        si.dwFlags = STARTF_USESHOWWINDOW;
        si.wShowWindow = static_cast<WORD>(showState);
    }
    PROCESS_INFORMATION pi{};
    if (CreateProcessW(exe.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, workDir, &si, &pi)) {
        CloseHandle(pi.hThread);
        process_ = pi.hProcess;
        pid_ = pi.dwProcessId;
    } else {
        Note("CreateProcessW failed, error " + std::to_string(GetLastError()));
    }
}

Child::~Child()
{
    if (!process_)
        return;
    if (Running()) {
        Note("killing pid " + std::to_string(pid_) + " left running");
        TerminateProcess(process_, 99);
        WaitForSingleObject(process_, 10000);
    }
    CloseHandle(process_);
}

bool Child::Running() const { return process_ && WaitForSingleObject(process_, 0) == WAIT_TIMEOUT; }

bool Child::WaitExit(DWORD timeoutMs, DWORD* exitCode)
{
    if (!process_ || WaitForSingleObject(process_, timeoutMs) != WAIT_OBJECT_0)
        return false;
    GetExitCodeProcess(process_, exitCode);
    return true;
}

void ExpectExit(Child& child, DWORD want, const std::string& how)
{
    DWORD code = 0xFFFFFFFF;
    const bool ended = child.WaitExit(ExitTimeoutMs, &code);
    if (CHECK(ended, how + ": process still running after " + std::to_string(ExitTimeoutMs) + " ms"))
        CHECK(code == want, how + ": exit code " + std::to_string(code) + ", want " + std::to_string(want));
    Note(how + ": exit code " + std::to_string(code));
}

RunningProgram::RunningProgram(const std::wstring& exe, const Start& start)
    : child_(exe, start.commandTail, start.showState, start.workDir)
{
    hwnd_ = WaitForWindow(child_.Pid(), start.className, StartTimeoutMs);
    if (CHECK(hwnd_ != nullptr, "no window of class " + Narrow(start.className) + " appeared"))
        WaitFor([&] { return IsWindowVisible(hwnd_) != FALSE; }, StartTimeoutMs);
}

RunningProgram::~RunningProgram()
{
    if (ended_ || !hwnd_)
        return;
    // A window already gone cannot be asked to close; whether its program
    // ended with 0 is still judged.
    if (IsWindow(hwnd_))
        Post(hwnd_, WM_CLOSE);
    ExpectExit(child_, 0, "WM_CLOSE");
}

void RunningProgram::Ended(DWORD want, const std::string& how)
{
    ended_ = true;
    ExpectExit(child_, want, how);
}

bool RunningOnWine()
{
    HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    return ntdll && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

namespace {
struct EnumState {
    DWORD pid;
    bool visibleOnly;
    std::vector<HWND> found;
};

BOOL CALLBACK CollectWindow(HWND hwnd, LPARAM param)
{
    auto* state = reinterpret_cast<EnumState*>(param);
    DWORD pid = 0;
    GetWindowThreadProcessId(hwnd, &pid);
    if (pid == state->pid && (!state->visibleOnly || IsWindowVisible(hwnd)))
        state->found.push_back(hwnd);
    return TRUE;
}
}  // namespace

std::vector<HWND> TopLevelWindowsOf(DWORD pid, bool visibleOnly)
{
    EnumState state{pid, visibleOnly, {}};
    EnumWindows(CollectWindow, reinterpret_cast<LPARAM>(&state));
    return state.found;
}

std::wstring ClassOf(HWND hwnd)
{
    wchar_t buffer[256] = {};
    GetClassNameW(hwnd, buffer, 256);
    return buffer;
}

std::wstring TextOf(HWND hwnd)
{
    wchar_t buffer[512] = {};
    // Sent with a time-out so that a hung program cannot hang the driver.
    DWORD_PTR copied = 0;
    SendMessageTimeoutW(hwnd, WM_GETTEXT, 512, reinterpret_cast<LPARAM>(buffer), SMTO_ABORTIFHUNG, 5000, &copied);
    return buffer;
}

HWND WaitForWindow(DWORD pid, const wchar_t* className, DWORD timeoutMs)
{
    HWND found = nullptr;
    WaitFor(
        [&] {
            for (HWND hwnd : TopLevelWindowsOf(pid, false))
                if (ClassOf(hwnd) == className)
                    found = hwnd;
            return found != nullptr;
        },
        timeoutMs);
    return found;
}

bool Responsive(HWND hwnd, DWORD withinMs)
{
    DWORD_PTR result = 0;
    return SendMessageTimeoutW(hwnd, WM_NULL, 0, 0, SMTO_NORMAL, withinMs, &result) != 0;
}

bool Post(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    const bool posted = WaitFor([&] { return PostMessageW(hwnd, message, wParam, lParam) != FALSE; }, 5000, 1);
    return CHECK(posted, "message " + Hex(message) + " could not be posted within 5 s, error " +
                             std::to_string(GetLastError()));
}

}  // namespace e2e

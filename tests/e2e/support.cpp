#include "tests/e2e/support.h"

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
    if (WaitForSingleObject(process_, 0) == WAIT_TIMEOUT) {
        Note("killing pid " + std::to_string(pid_) + " left running");
        TerminateProcess(process_, 99);
        WaitForSingleObject(process_, 10000);
    }
    CloseHandle(process_);
}

bool Child::WaitExit(DWORD timeoutMs, DWORD* exitCode)
{
    if (!process_ || WaitForSingleObject(process_, timeoutMs) != WAIT_OBJECT_0)
        return false;
    GetExitCodeProcess(process_, exitCode);
    return true;
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

}  // namespace e2e

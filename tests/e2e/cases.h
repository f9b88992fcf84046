// The driver's cases and the steps they share.
#pragma once

#include "tests/e2e/support.h"

#include <string>
#include <vector>

namespace e2e {

struct Args {
    std::wstring program;
    std::vector<std::wstring> extra;
};

extern const std::wstring Caption;
extern const DWORD StartTimeoutMs;
extern const DWORD FigureTimeoutMs;
extern const DWORD ExitTimeoutMs;

// Marks the case as skipped (exit code 77) with the reason printed.
void Skip(const std::string& reason);
bool Skipped();

HWND StartedWindow(const Child& child);
void ExpectExit(Child& child, DWORD want, const std::string& how);
void CloseAndExpectZero(Child& child, HWND hwnd);
void ExpectFigure(HWND hwnd, const std::string& when);
// Sizes the client area, waits until it has that size, and checks the figure.
void ResizeAndExpectFigure(HWND hwnd, int width, int height, const std::string& when);
// The window answers a sent message within the time.
bool Responsive(HWND hwnd, DWORD withinMs);

void StormCase(const Args& args);
void ResizeStormCase(const Args& args);
void ExtremeSizeCase(const Args& args);
void GdiObjectsCase(const Args& args);
void WritesNothingCase(const Args& args);

}  // namespace e2e

// The main window: its procedure, its painter and the client size they share.
#pragma once

#include "platform/platform.h"

// Client size in pixels as last reported by WM_SIZE (0 until the first one).
// Written only by MainWindowProc, read only by PaintMainWindow.
extern int ClientWidth;   // NOLINT(cppcoreguidelines-avoid-non-const-global-variables)
extern int ClientHeight;  // NOLINT(cppcoreguidelines-avoid-non-const-global-variables)

LRESULT CALLBACK MainWindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) noexcept;

// Draws the whole client area for one WM_PAINT; owns BeginPaint/EndPaint.
void PaintMainWindow(HWND hwnd) noexcept;

// A recording fake of the Win32 subset in platform/platform.h.
//
// Every call is appended to a log with its arguments; tests compare the log
// with a table of expected calls and report the first mismatch. Beyond
// recording, the fake behaves like a small window manager: it keeps the
// registered window procedure, delivers WM_SIZE on ShowWindow and WM_PAINT on
// UpdateWindow, dispatches queued messages, turns WM_CLOSE into WM_DESTROY,
// and tracks every brush through selection and deletion.
#pragma once

#include "platform/platform.h"

#include <cstdint>
#include <deque>
#include <map>
#include <ostream>
#include <string>
#include <type_traits>
#include <vector>

namespace fake {

struct Call {
    std::string fn;
    std::vector<std::intptr_t> args;
    std::vector<std::wstring> texts;  // string arguments, in order

    bool operator==(const Call& other) const
    {
        return fn == other.fn && args == other.args && texts == other.texts;
    }
};

std::ostream& operator<<(std::ostream& os, const Call& call);

template <typename T>
std::intptr_t Arg(T value)
{
    if constexpr (std::is_null_pointer_v<T>)
        return 0;
    else if constexpr (std::is_pointer_v<T>)
        return reinterpret_cast<std::intptr_t>(value);
    else
        return static_cast<std::intptr_t>(value);
}

template <typename... T>
Call MakeCall(std::string fn, T... args)
{
    return Call{std::move(fn), {Arg(args)...}, {}};
}

// Handles the fake hands out; distinct, recognisable, never dereferenced.
template <typename H>
H Handle(std::uintptr_t value)
{
    return reinterpret_cast<H>(value);
}
inline const HINSTANCE Instance = Handle<HINSTANCE>(0x400000);
inline const HWND Window = Handle<HWND>(0x10010);
inline const HDC PaintDc = Handle<HDC>(0x20020);
inline const HICON AppIcon = Handle<HICON>(0x30030);
inline const HCURSOR Arrow = Handle<HCURSOR>(0x30040);
inline const HGDIOBJ WhiteBrush = Handle<HGDIOBJ>(0x30050);
inline const HGDIOBJ DcDefaultBrush = Handle<HGDIOBJ>(0x30060);
constexpr ATOM ClassAtom = 0xC123;
constexpr std::uintptr_t FirstBrush = 0x50000;

struct BrushLife {
    int deletions = 0;
    bool deletedWhileSelected = false;
};

struct Platform {
    // Scripted behaviour.
    bool refuseRegistration = false;
    bool failCreation = false;
    int clientWidth = 600;   // reported by the WM_SIZE that ShowWindow delivers
    int clientHeight = 400;
    LRESULT defaultResult = 0x5A5A;  // what DefWindowProcW answers
    std::deque<std::pair<BOOL, MSG>> queue;  // what GetMessageW hands out

    // Observed state.
    std::vector<Call> calls;
    std::wstring registeredClassName;
    WNDPROC proc = nullptr;
    bool invalid = false;
    HGDIOBJ selectedInDc = DcDefaultBrush;
    std::uintptr_t nextBrush = FirstBrush;
    std::map<std::uintptr_t, BrushLife> brushes;
    int getMessageOnEmptyQueue = 0;

    void Post(HWND hwnd, UINT message, WPARAM wParam = 0, LPARAM lParam = 0);
    // Only the calls of the named functions, in order.
    std::vector<Call> CallsOf(const std::vector<std::string>& names) const;
};

// Starts a new platform for the fake functions to act on and returns it;
// tests reach the fake only through what this returns.
Platform& Reset();

// Compares actual with expected call by call; on a mismatch names the first
// differing index and dumps both lists.
std::string CompareCalls(const std::vector<Call>& expected, const std::vector<Call>& actual);

}  // namespace fake

// The driver's cases, one family to a file.
#pragma once

#include "driver/support.h"

#include <string>
#include <vector>

namespace e2e {

struct Args {
    std::wstring program;
    std::vector<std::wstring> extra;
};

// Marks the case as skipped (exit code 77) with the reason printed.
void Skip(const std::string& reason);

// Most cases need the program started once and its window found; the driver
// does that for them (and, for input cases, brings the window to the front).
using ProgramCase = void (*)(RunningProgram& program, const Args& args);

// window_cases.cpp: the window as started.
void WindowCase(RunningProgram& program, const Args& args);
void ShowStatesCase(const Args& args);
void CommandLinesCase(const Args& args);
// figure_cases.cpp: the figure at many sizes.
void FigureCase(RunningProgram& program, const Args& args);
void ExtremeSizeCase(RunningProgram& program, const Args& args);
// refused_case.cpp: the error box when the class is refused.
void RefusedCase(const Args& args);
// storm_cases.cpp: message and resize storms.
void StormCase(RunningProgram& program, const Args& args);
void ResizeStormCase(RunningProgram& program, const Args& args);
// footprint_cases.cpp: what the program leaves behind.
void GdiObjectsCase(RunningProgram& program, const Args& args);
void WritesNothingCase(const Args& args);
// input_cases.cpp: mouse and keyboard input as a user's.
void DragFrameCase(RunningProgram& program, const Args& args);
void DragCaptionCase(RunningProgram& program, const Args& args);
void MinimiseRestoreCase(RunningProgram& program, const Args& args);
void MaximiseRestoreCase(RunningProgram& program, const Args& args);
void CloseByInputCase(const Args& args);
bool Activate(HWND hwnd);
// artifact_case.cpp: the executable as a file.
void ArtifactCase(const Args& args);

}  // namespace e2e

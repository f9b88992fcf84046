// The driver's cases, one family to a file.
#pragma once

#include <string>
#include <vector>

namespace e2e {

struct Args {
    std::wstring program;
    std::vector<std::wstring> extra;
};

// Marks the case as skipped (exit code 77) with the reason printed.
void Skip(const std::string& reason);

// window_cases.cpp: the window as started.
void WindowCase(const Args& args);
void ShowStatesCase(const Args& args);
void CommandLinesCase(const Args& args);
// figure_cases.cpp: the figure at many sizes.
void FigureCase(const Args& args);
void ExtremeSizeCase(const Args& args);
// ending_cases.cpp: how the program ends.
void CloseCase(const Args& args);
void RefusedCase(const Args& args);
// storm_cases.cpp: message and resize storms.
void StormCase(const Args& args);
void ResizeStormCase(const Args& args);
// footprint_cases.cpp: what the program leaves behind.
void GdiObjectsCase(const Args& args);
void WritesNothingCase(const Args& args);
// input_cases.cpp: mouse and keyboard input as a user's.
void DragFrameCase(const Args& args);
void DragCaptionCase(const Args& args);
void MinimiseRestoreCase(const Args& args);
void MaximiseRestoreCase(const Args& args);
void CloseByInputCase(const Args& args);
// artifact_case.cpp: the executable as a file.
void ArtifactCase(const Args& args);

}  // namespace e2e

// The figure as a user sees it: the client area's pixels read back from the
// screen and compared with the ideal pie for the client size.
#pragma once

#include "platform/platform.h"

#include <string>

namespace e2e {

struct FigureReport {
    int width = 0;
    int height = 0;
    long checked = 0;       // pixels far enough from every edge to judge
    long wrongFill = 0;     // should be magenta, are not
    long wrongOutside = 0;  // should be white (outside the ellipse), are not
    long wrongWedge = 0;    // should be white (inside the cut-out wedge), are not
    long magenta = 0;
    bool outlineJudged = false;  // not below a minimum size: too little outline there
    long outlineSamples = 0;     // points along the ideal outline judged
    long outlineMissing = 0;  // of those, with no dark pixel of the pen near them
    std::string firstWrong;  // where the first few wrong pixels are
    unsigned long long pixels = 0;  // a hash of every pixel read: equal reads show a settled screen

    bool Ok() const
    {
        return checked > 0 && wrongFill == 0 && wrongOutside == 0 && wrongWedge == 0 &&
               (outlineSamples > 0 || !outlineJudged) && outlineMissing == 0;
    }
    std::string Summary() const;
};

// Where this platform shows a maximised window's client area, from
// ClientToScreen's point, so that a maximised figure is read where a user
// sees it. Learnt once, on first use, with a window of the driver's own:
// call it first while no other window covers the screen's top-left corner.
POINT MaximisedShift();

// One reading of the screen.
FigureReport ReadFigure(HWND hwnd);
// Reads until the figure is right, or until the screen has settled on a
// wrong one (window surfaces reach the screen asynchronously): the window is
// shown with nothing left to paint, answers, and its pixels have stayed the
// same for a while. The time-out bounds only a screen that never settles.
// Returns the last reading.
FigureReport WaitForFigure(HWND hwnd, DWORD timeoutMs);

// Counts the icon's opaque pixels that show on screen at the top-left corner
// of the given window other than the icon would draw them; opaque gets how
// many pixels of the icon are opaque at all.
long IconPixelsDiffering(HWND where, HICON icon, long* opaque);

// Moves the window to the top-left corner and sizes it so that its client
// area is width x height.
void SetClientSize(HWND hwnd, int width, int height);
bool ClientSizeIs(HWND hwnd, int width, int height);

// A failed check when the figure is not right within the time-out.
void ExpectFigure(HWND hwnd, const std::string& when);
// Sizes the client area, waits until it has that size, and checks the figure.
void ResizeAndExpectFigure(HWND hwnd, int width, int height, const std::string& when);

}  // namespace e2e

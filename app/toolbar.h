// The toolbar's platform-free model: where its eleven buttons sit, which
// command and tooltip each carries, how the mouse moves their states, and
// which picture each state shows. toolbar_win32.cpp draws and dispatches
// what these functions decide. Main (user-interface) thread only.
#pragma once

#include <cstddef>
#include <cstdint>

constexpr int kToolbarButtonCount = 11;
constexpr int kToolbarBarHeight = 54;
constexpr int kToolbarButtonWidth = 50, kToolbarButtonHeight = 41;
constexpr int kToolbarPictureWidth = 48, kToolbarPictureHeight = 39;
constexpr int kToolbarLeftMargin = 10;
constexpr int kToolbarButtonPitch = 51;  // one pixel between neighbours
constexpr int kToolbarGap = 30;          // after the buttons marked for it
// Each tooltip text lives in a slot of this many bytes, terminator included.
constexpr size_t kToolbarTooltipSlot = 50;

// A rectangle in toolbar client coordinates; right and bottom are outside
// it, as the platform's rectangles are.
struct ToolbarRect {
    int left = 0, top = 0, right = 0, bottom = 0;
};

// Button states as the window keeps them (u32 each).
enum ToolbarButtonState : uint32_t {
    kToolbarNormal = 0,
    kToolbarPressed = 1,
    kToolbarHot = 2,
};

struct ToolbarButton {
    uint16_t command;     // sent to the frame as WM_COMMAND
    bool gapAfter;        // a 30-pixel gap follows the button
    const char* tooltip;  // fits kToolbarTooltipSlot
};

// The eleven buttons, in order; the picture of button i is picture i of
// both toolbar image lists.
const ToolbarButton& toolbarButton(int index);

// Button `index`'s rectangle; an empty rectangle for an index outside 0..10.
ToolbarRect toolbarButtonRect(int index);

bool toolbarRectHolds(const ToolbarRect& r, int x, int y);

// The button under (x, y), or -1 over the margins, gaps and etched line.
int toolbarButtonAt(int x, int y);

// What the window keeps between messages.
struct ToolbarModel {
    uint32_t state[kToolbarButtonCount] = {};
    bool hovering = false;  // the hover timer runs
};

// Each mouse step returns the set of buttons to redraw (bit i = button i).
//
// Mouse move: the first normal button under the mouse becomes hot and
// every other button normal. Over no normal button nothing changes, so a
// hot button stays hot in the gaps until the mouse leaves the bar.
uint32_t toolbarMouseMove(ToolbarModel& m, int x, int y);
// Button down: the button under the mouse becomes pressed, all others normal.
uint32_t toolbarButtonDown(ToolbarModel& m, int x, int y);
// Button up: a pressed button becomes hot when the mouse is still over it,
// otherwise normal. `command` receives the command to send, or 0: only a
// release over the button that was pressed sends anything, so pressing,
// dragging off and letting go is the way to change one's mind.
uint32_t toolbarButtonUp(ToolbarModel& m, int x, int y, uint16_t& command);
// The hover timer found the cursor outside the bar: every button normal.
uint32_t toolbarMouseLeft(ToolbarModel& m);

// How a button is drawn in a state.
enum ToolbarPictureList { kToolbarNormalPictures = 0, kToolbarHotPictures = 1 };
enum ToolbarEdge { kToolbarNoEdge = 0, kToolbarSunkenOuter, kToolbarRaisedInner };
struct ToolbarPaint {
    ToolbarPictureList list = kToolbarNormalPictures;
    int pictureX = 0, pictureY = 0;  // where picture `index` goes
    bool outline = false;            // `frame` traced with the outline pen first
    ToolbarEdge edge = kToolbarNoEdge;  // drawn on `frame`
    // The button's rectangle grown by one pixel right and down: an edge drawn
    // inside it lands on the right and bottom coordinates, where the outline
    // runs, so the outline of the normal state wipes out every edge pixel.
    ToolbarRect frame;
};
// An unknown state draws as normal.
ToolbarPaint toolbarPaintFor(int index, uint32_t state);

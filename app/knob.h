// The knob control's model: its record, the drag step, and where the needle
// points. knob_win32.cpp is the window around it; everything here is
// platform-free and tested natively.
//
// Main (user-interface) thread only, like the window.
#pragma once

#include <cstdint>

// The record every knob owns, filled by its creator and copied whole into
// the window. The parent reads `maximum` and `value` from it when notified.
// The two handles are the platform's (a pen and an image list); neither is
// owned by the knob.
struct KnobRecord {
    int32_t minimum = 0;
    int32_t maximum = 0;
    int32_t coarseStep = 0;  // per pixel of vertical travel with Shift
    int32_t fineStep = 0;    // per pixel with Ctrl (Ctrl wins over Shift)
    int32_t normalStep = 0;  // per pixel without either
    int32_t value = 0;
    uint8_t dragging = 0;
    int32_t needleDx = 0, needleDy = 0;  // extent of the needle last drawn
    int32_t backgroundX = 0, backgroundY = 0;  // where image 0 of `background` goes, in the knob's coordinates
    int32_t pressX = 0, pressY = 0;  // screen position of the press that began the drag
    void* needlePen = nullptr;
    void* background = nullptr;
    int32_t width = 0, height = 0;
    uint8_t enabled = 0;
    uint8_t repaintPending = 0;  // set by a drag step, cleared by the next paint
    uint16_t identifier = 0;     // command identifier sent to the parent
};

// A float as an integer in lo..hi: limited in floating point before the
// conversion (which is undefined out of range), NaN taken as lo, then
// truncated toward zero.
int32_t clampToInt(double v, int32_t lo, int32_t hi);

// The value change per pixel for the modifier keys held.
int32_t knobStep(const KnobRecord& knob, bool ctrl, bool shift);

// The value after a drag step of `dy` pixels (positive downwards, so
// moving up raises the value): limited to the maximum, then to the minimum.
// Computed wide, so a huge step or travel cannot overflow.
int32_t knobDraggedValue(const KnobRecord& knob, int32_t dy, bool ctrl, bool shift);

// The needle: from (cx, cy) to (cx - dx, cy - dy). It sweeps 270 degrees
// clockwise, lower left at the minimum, up at the middle, lower right at the
// maximum. A knob whose range is empty (or inverted) points at its minimum.
struct KnobNeedle {
    int32_t cx = 0, cy = 0;
    int32_t dx = 0, dy = 0;
};
KnobNeedle knobNeedle(const KnobRecord& knob);

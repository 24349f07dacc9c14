#include "app/toolbar.h"

namespace {

// Commands the frame handles: those of menu 109 and, after the last gap,
// the stage's song and tempo commands (the same numbers as app/resource.h,
// which carries the resource compiler's #defines and is not included by
// platform-free code).
constexpr ToolbarButton kButtons[kToolbarButtonCount] = {
    {32773, false, "New Performance"},
    {32774, false, "Open Performance"},
    {32775, false, "Save Performance"},
    {32798, true, "Open Accompaniment"},
    {32772, false, "Start Live Input"},
    {32813, false, "Enable Metronome"},
    {32794, true, "Record"},
    {32800, true, "Master Section"},
    // For the stage: the set list's songs and the metronome's tempo.
    {32824, false, "Previous Song"},
    {32825, false, "Next Song"},
    {32826, false, "Tap Tempo"},
};

bool validIndex(int index) { return index >= 0 && index < kToolbarButtonCount; }

}  // namespace

const ToolbarButton& toolbarButton(int index) {
    static constexpr ToolbarButton none = {0, false, ""};
    return validIndex(index) ? kButtons[index] : none;
}

ToolbarRect toolbarButtonRect(int index) {
    ToolbarRect r;
    if (!validIndex(index)) return r;
    int gapsBefore = 0;
    for (int i = 0; i < index; ++i)
        if (kButtons[i].gapAfter) ++gapsBefore;
    r.left = kToolbarLeftMargin + index * kToolbarButtonPitch + kToolbarGap * gapsBefore;
    r.right = r.left + kToolbarButtonWidth;
    r.top = (kToolbarBarHeight - kToolbarButtonHeight) / 2;
    r.bottom = r.top + kToolbarButtonHeight;
    return r;
}

bool toolbarRectHolds(const ToolbarRect& r, int x, int y) {
    return x >= r.left && x < r.right && y >= r.top && y < r.bottom;
}

int toolbarButtonAt(int x, int y) {
    for (int i = 0; i < kToolbarButtonCount; ++i)
        if (toolbarRectHolds(toolbarButtonRect(i), x, y)) return i;
    return -1;
}

uint32_t toolbarMouseMove(ToolbarModel& m, int x, int y) {
    int hot = -1;
    for (int i = 0; i < kToolbarButtonCount && hot < 0; ++i)
        if (m.state[i] == kToolbarNormal && toolbarRectHolds(toolbarButtonRect(i), x, y)) hot = i;
    if (hot < 0) return 0;
    uint32_t redraw = 0;
    for (int i = 0; i < kToolbarButtonCount; ++i) {
        const uint32_t next = i == hot ? kToolbarHot : kToolbarNormal;
        if (m.state[i] != next) redraw |= 1u << i;
        m.state[i] = next;
    }
    return redraw;
}

uint32_t toolbarButtonDown(ToolbarModel& m, int x, int y) {
    uint32_t redraw = 0;
    for (int i = 0; i < kToolbarButtonCount; ++i) {
        const uint32_t next = toolbarRectHolds(toolbarButtonRect(i), x, y) ? kToolbarPressed : kToolbarNormal;
        if (m.state[i] != next) redraw |= 1u << i;
        m.state[i] = next;
    }
    return redraw;
}

uint32_t toolbarButtonUp(ToolbarModel& m, int x, int y, uint16_t& command) {
    command = 0;
    uint32_t redraw = 0;
    for (int i = 0; i < kToolbarButtonCount; ++i) {
        if (m.state[i] != kToolbarPressed) continue;
        const bool inside = toolbarRectHolds(toolbarButtonRect(i), x, y);
        m.state[i] = inside ? kToolbarHot : kToolbarNormal;
        redraw |= 1u << i;
        if (inside) command = kButtons[i].command;
    }
    return redraw;
}

uint32_t toolbarMouseLeft(ToolbarModel& m) {
    uint32_t redraw = 0;
    for (int i = 0; i < kToolbarButtonCount; ++i) {
        if (m.state[i] != kToolbarNormal) redraw |= 1u << i;
        m.state[i] = kToolbarNormal;
    }
    m.hovering = false;
    return redraw;
}

ToolbarPaint toolbarPaintFor(int index, uint32_t state) {
    ToolbarPaint p;
    const ToolbarRect r = toolbarButtonRect(index);
    p.frame = {r.left, r.top, r.right + 1, r.bottom + 1};
    switch (state) {
        case kToolbarPressed:
            // The picture shifts one pixel down and right: the face gives way.
            p.list = kToolbarHotPictures;
            p.pictureX = r.left + 2;
            p.pictureY = r.top + 2;
            p.edge = kToolbarSunkenOuter;
            break;
        case kToolbarHot:
            p.list = kToolbarHotPictures;
            p.pictureX = r.left + 1;
            p.pictureY = r.top + 1;
            p.edge = kToolbarRaisedInner;
            break;
        default:
            // The outline in the face colour wipes out the edge a hot or
            // pressed state left behind.
            p.list = kToolbarNormalPictures;
            p.pictureX = r.left + 1;
            p.pictureY = r.top + 1;
            p.outline = true;
            break;
    }
    return p;
}

// The toolbar's model: the buttons' places, what the mouse does to their
// states, which command a click sends and which picture each state shows.
#include <gtest/gtest.h>

#include <cstring>

#include "app/toolbar.h"

namespace {

int centreX(int i) { return (toolbarButtonRect(i).left + toolbarButtonRect(i).right) / 2; }
constexpr int kMiddleY = 26;

TEST(ToolbarLayout, ButtonsSitInFourGroupsSeparatedByTheThreeGaps) {
    const int lefts[kToolbarButtonCount] = {10, 61, 112, 163, 244, 295, 346, 427, 508, 559, 610};
    for (int i = 0; i < kToolbarButtonCount; ++i) {
        const ToolbarRect r = toolbarButtonRect(i);
        EXPECT_EQ(r.left, lefts[i]) << "button " << i;
        EXPECT_EQ(r.right, lefts[i] + 50);
        EXPECT_EQ(r.top, 6);
        EXPECT_EQ(r.bottom, 47);
    }
    EXPECT_EQ(toolbarButtonRect(3).right, 213);
    EXPECT_EQ(toolbarButtonRect(6).right, 396);
    EXPECT_EQ(toolbarButtonRect(7).right, 477);  // the Master Section button, after two gaps
    EXPECT_EQ(toolbarButtonRect(10).right, 660);  // Tap Tempo, the last, after all three
    EXPECT_EQ(toolbarButtonRect(-1).right, 0);
    EXPECT_EQ(toolbarButtonRect(11).right, 0);
}

TEST(ToolbarLayout, HitTestFindsButtonsAndMissesMarginsGapsAndEdges) {
    EXPECT_EQ(toolbarButtonAt(10, 6), 0);
    EXPECT_EQ(toolbarButtonAt(59, 46), 0);
    EXPECT_EQ(toolbarButtonAt(60, 26), -1);  // the pixel between two buttons
    EXPECT_EQ(toolbarButtonAt(61, 26), 1);
    EXPECT_EQ(toolbarButtonAt(9, 26), -1);
    EXPECT_EQ(toolbarButtonAt(230, 26), -1);  // first gap
    EXPECT_EQ(toolbarButtonAt(410, 26), -1);  // second gap
    EXPECT_EQ(toolbarButtonAt(450, 26), 7);
    EXPECT_EQ(toolbarButtonAt(450, 5), -1);
    EXPECT_EQ(toolbarButtonAt(450, 47), -1);
    EXPECT_EQ(toolbarButtonAt(477, 26), -1);  // third gap, from its first pixel
    EXPECT_EQ(toolbarButtonAt(500, 26), -1);
    EXPECT_EQ(toolbarButtonAt(507, 26), -1);  // ... to its last
    EXPECT_EQ(toolbarButtonAt(508, 26), 8);
    EXPECT_EQ(toolbarButtonAt(558, 26), -1);
    EXPECT_EQ(toolbarButtonAt(559, 26), 9);
    EXPECT_EQ(toolbarButtonAt(659, 46), 10);
    EXPECT_EQ(toolbarButtonAt(660, 26), -1);
    EXPECT_EQ(toolbarButtonAt(900, 26), -1);
    EXPECT_EQ(toolbarButtonAt(-30000, -30000), -1);
}

TEST(ToolbarButtons, EachSendsItsMenuCommandAndNamesItInItsTooltip) {
    const struct {
        uint16_t command;
        const char* tip;
    } expected[kToolbarButtonCount] = {
        {32773, "New Performance"},    {32774, "Open Performance"}, {32775, "Save Performance"},
        {32798, "Open Accompaniment"}, {32772, "Start Live Input"}, {32813, "Enable Metronome"},
        {32794, "Record"},             {32800, "Master Section"},   {32824, "Previous Song"},
        {32825, "Next Song"},          {32826, "Tap Tempo"},
    };
    for (int i = 0; i < kToolbarButtonCount; ++i) {
        EXPECT_EQ(toolbarButton(i).command, expected[i].command);
        EXPECT_STREQ(toolbarButton(i).tooltip, expected[i].tip);
        EXPECT_LT(std::strlen(toolbarButton(i).tooltip), kToolbarTooltipSlot);
    }
    EXPECT_EQ(toolbarButton(11).command, 0);
    EXPECT_STREQ(toolbarButton(-1).tooltip, "");
}

TEST(ToolbarMouse, HoverMakesOneButtonHotAndItStaysHotInTheGapsUntilTheMouseLeaves) {
    ToolbarModel m;
    EXPECT_EQ(toolbarMouseMove(m, centreX(2), kMiddleY), 1u << 2);
    EXPECT_EQ(m.state[2], kToolbarHot);
    // Over the same (now hot) button again: nothing to redraw.
    EXPECT_EQ(toolbarMouseMove(m, centreX(2) + 1, kMiddleY), 0u);
    // To the next button: it becomes hot, the old one normal.
    EXPECT_EQ(toolbarMouseMove(m, centreX(3), kMiddleY), (1u << 2) | (1u << 3));
    EXPECT_EQ(m.state[2], kToolbarNormal);
    EXPECT_EQ(m.state[3], kToolbarHot);
    // Into the gap: nothing changes.
    EXPECT_EQ(toolbarMouseMove(m, 230, kMiddleY), 0u);
    EXPECT_EQ(m.state[3], kToolbarHot);
    m.hovering = true;
    EXPECT_EQ(toolbarMouseLeft(m), 1u << 3);
    EXPECT_EQ(m.state[3], kToolbarNormal);
    EXPECT_FALSE(m.hovering);
    EXPECT_EQ(toolbarMouseLeft(m), 0u);
}

TEST(ToolbarMouse, AClickSendsTheCommandOfTheButtonReleasedOn) {
    ToolbarModel m;
    toolbarMouseMove(m, centreX(1), kMiddleY);
    EXPECT_EQ(toolbarButtonDown(m, centreX(1), kMiddleY), 1u << 1);  // hot to pressed
    EXPECT_EQ(m.state[1], kToolbarPressed);
    uint16_t command = 1;
    EXPECT_EQ(toolbarButtonUp(m, centreX(1), kMiddleY, command), 1u << 1);
    EXPECT_EQ(command, 32774);
    EXPECT_EQ(m.state[1], kToolbarHot);  // still under the mouse
}

TEST(ToolbarMouse, PressingDraggingOffAndReleasingSendsNothing) {
    ToolbarModel m;
    toolbarButtonDown(m, centreX(5), kMiddleY);
    uint16_t command = 1;
    // Released in the gap, far outside the bar (the bar holds the capture), or on another button.
    EXPECT_EQ(toolbarButtonUp(m, 410, kMiddleY, command), 1u << 5);
    EXPECT_EQ(command, 0);
    EXPECT_EQ(m.state[5], kToolbarNormal);

    toolbarButtonDown(m, centreX(5), kMiddleY);
    toolbarButtonUp(m, -200, 900, command);
    EXPECT_EQ(command, 0);

    toolbarButtonDown(m, centreX(5), kMiddleY);
    // Dragged over button 6: it lights up, the pressed one gives way.
    toolbarMouseMove(m, centreX(6), kMiddleY);
    EXPECT_EQ(m.state[5], kToolbarNormal);
    EXPECT_EQ(m.state[6], kToolbarHot);
    toolbarButtonUp(m, centreX(6), kMiddleY, command);
    EXPECT_EQ(command, 0);
}

TEST(ToolbarMouse, ButtonDownOffEveryButtonLeavesAllNormalAndTheReleaseSendsNothing) {
    ToolbarModel m;
    toolbarMouseMove(m, centreX(0), kMiddleY);
    EXPECT_EQ(toolbarButtonDown(m, 230, kMiddleY), 1u << 0);
    for (uint32_t s : m.state) EXPECT_EQ(s, kToolbarNormal);
    uint16_t command = 1;
    EXPECT_EQ(toolbarButtonUp(m, centreX(0), kMiddleY, command), 0u);
    EXPECT_EQ(command, 0);
}

TEST(ToolbarMouse, ThePressedButtonIgnoresMovesOverItself) {
    ToolbarModel m;
    toolbarButtonDown(m, centreX(4), kMiddleY);
    EXPECT_EQ(toolbarMouseMove(m, centreX(4) + 3, kMiddleY), 0u);
    EXPECT_EQ(m.state[4], kToolbarPressed);
    uint16_t command = 0;
    toolbarButtonUp(m, centreX(4), kMiddleY, command);
    EXPECT_EQ(command, 32772);
}

TEST(ToolbarMouse, TheStageButtonsAfterTheLastGapLightUpAndSendTheirCommands) {
    ToolbarModel m;
    toolbarMouseMove(m, centreX(7), kMiddleY);
    // Into the gap before them: the Master Section button stays hot.
    EXPECT_EQ(toolbarMouseMove(m, 492, kMiddleY), 0u);
    EXPECT_EQ(m.state[7], kToolbarHot);
    EXPECT_EQ(toolbarMouseMove(m, centreX(8), kMiddleY), (1u << 7) | (1u << 8));
    const uint16_t commands[3] = {32824, 32825, 32826};  // previous, next song, tap tempo
    for (int i = 8; i < kToolbarButtonCount; ++i) {
        toolbarMouseMove(m, centreX(i), kMiddleY);
        EXPECT_EQ(toolbarButtonDown(m, centreX(i), kMiddleY), 1u << i);
        uint16_t command = 0;
        EXPECT_EQ(toolbarButtonUp(m, centreX(i), kMiddleY, command), 1u << i);
        EXPECT_EQ(command, commands[i - 8]) << "button " << i;
        EXPECT_EQ(m.state[i], kToolbarHot);
    }
    // Taps in quick succession: every release sends the command again.
    uint16_t command = 0;
    toolbarButtonDown(m, centreX(10), kMiddleY);
    toolbarButtonUp(m, centreX(10), kMiddleY, command);
    EXPECT_EQ(command, 32826);
    m.hovering = true;
    EXPECT_EQ(toolbarMouseLeft(m), 1u << 10);
}

TEST(ToolbarPaint, EachStateShowsItsPictureAtItsOffsetWithItsEdge) {
    const ToolbarRect r = toolbarButtonRect(7);
    ToolbarPaint p = toolbarPaintFor(7, kToolbarNormal);
    EXPECT_EQ(p.list, kToolbarNormalPictures);
    EXPECT_EQ(p.pictureX, r.left + 1);
    EXPECT_EQ(p.pictureY, r.top + 1);
    EXPECT_TRUE(p.outline);
    EXPECT_EQ(p.edge, kToolbarNoEdge);

    p = toolbarPaintFor(7, kToolbarHot);
    EXPECT_EQ(p.list, kToolbarHotPictures);
    EXPECT_EQ(p.pictureX, r.left + 1);
    EXPECT_EQ(p.edge, kToolbarRaisedInner);
    EXPECT_FALSE(p.outline);

    p = toolbarPaintFor(7, kToolbarPressed);
    EXPECT_EQ(p.list, kToolbarHotPictures);
    EXPECT_EQ(p.pictureX, r.left + 2);
    EXPECT_EQ(p.pictureY, r.top + 2);
    EXPECT_EQ(p.edge, kToolbarSunkenOuter);

    EXPECT_EQ(toolbarPaintFor(7, 99).list, kToolbarNormalPictures);
}

TEST(ToolbarPaint, TheOutlineCoversEveryEdgePixelAndNoNeighboursPicture) {
    for (int i = 0; i < kToolbarButtonCount; ++i) {
        const ToolbarRect r = toolbarButtonRect(i);
        const ToolbarPaint p = toolbarPaintFor(i, kToolbarPressed);
        // The edge runs on the frame's border; the outline traces the same border.
        EXPECT_EQ(p.frame.left, r.left);
        EXPECT_EQ(p.frame.top, r.top);
        EXPECT_EQ(p.frame.right - 1, r.right);
        EXPECT_EQ(p.frame.bottom - 1, r.bottom);
        // The pressed picture stays inside the border, the normal one too.
        EXPECT_LT(p.pictureX + kToolbarPictureWidth, p.frame.right);
        EXPECT_LT(p.pictureY + kToolbarPictureHeight, p.frame.bottom);
        if (i + 1 < kToolbarButtonCount) {
            EXPECT_LE(p.frame.right, toolbarButtonRect(i + 1).left);
        }
    }
}

}  // namespace

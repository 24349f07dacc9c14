// The knob's model: drag steps with their modifier keys and limits, and
// where the needle points.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "app/knob.h"

namespace {

KnobRecord gateKnob(int32_t value) {
    KnobRecord k;
    k.minimum = 0;
    k.maximum = 10000;
    k.coarseStep = 50;
    k.fineStep = 1;
    k.normalStep = 10;
    k.value = value;
    k.width = k.height = 20;
    k.enabled = 1;
    return k;
}

TEST(KnobDrag, MovingUpFivePixelsRaisesByTheStepOfTheKeysHeld) {
    const KnobRecord k = gateKnob(1000);
    EXPECT_EQ(knobDraggedValue(k, -5, false, false), 1050);
    EXPECT_EQ(knobDraggedValue(k, -5, true, false), 1005);
    EXPECT_EQ(knobDraggedValue(k, -5, false, true), 1250);
    EXPECT_EQ(knobDraggedValue(k, -5, true, true), 1005) << "Ctrl wins over Shift";
    EXPECT_EQ(knobDraggedValue(k, 5, false, false), 950) << "moving down lowers the value";
    EXPECT_EQ(knobDraggedValue(k, 0, false, true), 1000);
}

TEST(KnobDrag, DraggingPastEitherLimitStopsAtTheLimit) {
    EXPECT_EQ(knobDraggedValue(gateKnob(9990), -5, false, true), 10000);
    EXPECT_EQ(knobDraggedValue(gateKnob(10000), -1, true, false), 10000);
    EXPECT_EQ(knobDraggedValue(gateKnob(30), 400, false, false), 0);
    // A value stored above the maximum comes back into range at the first step.
    EXPECT_EQ(knobDraggedValue(gateKnob(20000), 1, false, false), 10000);
}

TEST(KnobDrag, HugeStepsAndTravelsNeitherOverflowNorWrap) {
    KnobRecord k = gateKnob(5000);
    k.normalStep = std::numeric_limits<int32_t>::max();
    EXPECT_EQ(knobDraggedValue(k, std::numeric_limits<int32_t>::min(), false, false), 10000);
    EXPECT_EQ(knobDraggedValue(k, std::numeric_limits<int32_t>::max(), false, false), 0);
}

TEST(KnobDrag, CrossedLimitsEndAtTheMinimum) {
    KnobRecord k = gateKnob(5);
    k.minimum = 100;
    k.maximum = 50;
    EXPECT_EQ(knobDraggedValue(k, -1, false, false), 100);
}

TEST(KnobNeedle, SweepsFromLowerLeftOverTheTopToLowerRight) {
    KnobNeedle n = knobNeedle(gateKnob(0));
    EXPECT_EQ(n.cx, 9);
    EXPECT_EQ(n.cy, 9);
    EXPECT_EQ(n.cx - n.dx, 5);
    EXPECT_EQ(n.cy - n.dy, 13);
    n = knobNeedle(gateKnob(5000));
    EXPECT_EQ(n.cx - n.dx, 9);
    EXPECT_EQ(n.cy - n.dy, 3);
    n = knobNeedle(gateKnob(10000));
    EXPECT_EQ(n.cx - n.dx, 13);
    EXPECT_EQ(n.cy - n.dy, 13);
}

TEST(KnobNeedle, AnEmptyOrInvertedRangePointsAtTheMinimumWithoutDividing) {
    KnobRecord k = gateKnob(7);
    k.maximum = 0;
    const KnobNeedle n = knobNeedle(k);
    EXPECT_EQ(n.cx - n.dx, 5);
    EXPECT_EQ(n.cy - n.dy, 13);
    k.minimum = 10;
    k.maximum = -10;
    EXPECT_EQ(knobNeedle(k).dx, n.dx);
}

TEST(KnobNeedle, ExtremeRecordsStayWithinIntegers) {
    KnobRecord k = gateKnob(std::numeric_limits<int32_t>::max());
    k.minimum = std::numeric_limits<int32_t>::min();
    k.maximum = std::numeric_limits<int32_t>::max();
    k.width = k.height = std::numeric_limits<int32_t>::max();
    const KnobNeedle n = knobNeedle(k);
    // The maximum points to the lower right; the range's width as a float
    // divides without overflowing.
    EXPECT_LT(n.dx, 0);
    EXPECT_LT(n.dy, 0);
    EXPECT_GT(n.dx, -n.cx - 2);
}

TEST(ClampToInt, LimitsInFloatingPointAndSendsNaNToTheLowEnd) {
    EXPECT_EQ(clampToInt(std::nan(""), -3, 8), -3);
    EXPECT_EQ(clampToInt(1e300, 0, 10000), 10000);
    EXPECT_EQ(clampToInt(-1e300, 0, 10000), 0);
    EXPECT_EQ(clampToInt(std::numeric_limits<double>::infinity(), 0, 5), 5);
    EXPECT_EQ(clampToInt(4.99, 0, 10), 4);
    EXPECT_EQ(clampToInt(-4.99, -10, 10), -4) << "truncates toward zero";
}

}  // namespace

#include "app/knob.h"

#include <cmath>

int32_t clampToInt(double v, int32_t lo, int32_t hi) {
    if (!(v >= lo)) return lo;  // NaN fails every comparison
    if (v >= hi) return hi;
    return static_cast<int32_t>(v);
}

int32_t knobStep(const KnobRecord& knob, bool ctrl, bool shift) {
    if (ctrl) return knob.fineStep;
    if (shift) return knob.coarseStep;
    return knob.normalStep;
}

int32_t knobDraggedValue(const KnobRecord& knob, int32_t dy, bool ctrl, bool shift) {
    int64_t value = static_cast<int64_t>(knob.value) - static_cast<int64_t>(knobStep(knob, ctrl, shift)) * dy;
    // Maximum first, then minimum: a record whose limits cross ends at the minimum.
    if (value > knob.maximum) value = knob.maximum;
    if (value < knob.minimum) value = knob.minimum;
    return static_cast<int32_t>(value);
}

KnobNeedle knobNeedle(const KnobRecord& knob) {
    KnobNeedle n;
    n.cx = knob.width / 2 - 1;
    n.cy = knob.height / 2 - 1;
    // The angle is worked out in single precision, its cosine and sine in
    // double: at the middle of the range the float angle lies just past a
    // right angle, and the needle is 6 pixels long upwards, not 7.
    const int64_t range = static_cast<int64_t>(knob.maximum) - knob.minimum;
    float f = 0.0f;
    if (range > 0) f = static_cast<float>(static_cast<int64_t>(knob.value) - knob.minimum) / static_cast<float>(range);
    constexpr float kPi = 3.1415927f;
    const float a = 3.0f * kPi / 2.0f * f - kPi / 4.0f;
    const double angle = a;
    n.dx = clampToInt(std::cos(angle) * (knob.width / 2 - 3), INT32_MIN, INT32_MAX);
    n.dy = clampToInt(std::sin(angle) * (knob.height / 2 - 3), INT32_MIN, INT32_MAX);
    return n;
}

#include "app/gatepane.h"

#include <cmath>
#include <cstdio>

#include "app/knob.h"

const GateKnobRow kGateKnobs[kGateKnobCount] = {
    {kKnobOutput, 25, 29, 60, 32},
    {kKnobInput, 25, 54, 60, 58},
    {kKnobAttack, 24, 118, 60, 122},
    {kKnobRelease, 24, 144, 60, 148},
    {kKnobThreshold, 24, 170, 60, 174},
};

const GateKnobRow* gateKnobRow(uint32_t id) {
    for (const GateKnobRow& row : kGateKnobs)
        if (row.id == id) return &row;
    return nullptr;
}

int32_t gateKnobValue(uint32_t id, const GateValues& v) {
    const float m = static_cast<float>(kGateKnobMaximum);
    float position = 0.0f;
    switch (id) {
        case kKnobOutput: position = m * v.masterGain / 4.0f; break;
        case kKnobInput: position = m * v.inputGain / 4.0f; break;
        // Whole milliseconds: integer division, as the knob reports whole steps.
        case kKnobAttack: position = static_cast<float>(kGateKnobMaximum * (v.gateAttackMs - 5) / 195); break;
        case kKnobRelease: position = static_cast<float>(kGateKnobMaximum * (v.gateReleaseMs - 5) / 695); break;
        case kKnobThreshold: position = m * v.gateThreshold * 4.0f; break;
        default: return 0;
    }
    return clampToInt(position, 0, kGateKnobMaximum);
}

bool gateApplyKnob(uint32_t id, int32_t value, int32_t maximum, GateValues& v) {
    if (maximum <= 0 || !gateKnobRow(id)) return false;
    const int64_t at = value < 0 ? 0 : (value > maximum ? maximum : value);
    const double fraction = static_cast<double>(at) / maximum;
    switch (id) {
        case kKnobOutput: v.masterGain = static_cast<float>(fraction * 4.0); break;
        case kKnobInput: v.inputGain = static_cast<float>(fraction * 4.0); break;
        case kKnobAttack: v.gateAttackMs = static_cast<uint16_t>(at * 195 / maximum + 5); break;
        case kKnobRelease: v.gateReleaseMs = static_cast<uint16_t>(at * 695 / maximum + 5); break;
        case kKnobThreshold: v.gateThreshold = static_cast<float>(fraction * 0.25); break;
        default: return false;
    }
    return true;
}

void formatDecibels(float g, char* out, size_t size) {
    if (!out || size == 0) return;
    if (g > 0.0f) std::snprintf(out, size, "%.1f  ", 20.0 * std::log10(static_cast<double>(g)));
    else std::snprintf(out, size, "%s", "-inf.   ");
}

void gateReadout(uint32_t id, const GateValues& v, bool trailingSpaces, char* out, size_t size) {
    if (!out || size == 0) return;
    out[0] = '\0';
    const char* whole = trailingSpaces ? "%d   " : "%d";
    switch (id) {
        case kKnobOutput: formatDecibels(v.masterGain, out, size); break;
        case kKnobInput: formatDecibels(v.inputGain, out, size); break;
        case kKnobThreshold: formatDecibels(v.gateThreshold, out, size); break;
        case kKnobAttack: std::snprintf(out, size, whole, static_cast<int>(v.gateAttackMs)); break;
        case kKnobRelease: std::snprintf(out, size, whole, static_cast<int>(v.gateReleaseMs)); break;
        default: break;
    }
}

bool gateSwitchHit(int32_t x, int32_t y) {
    return x >= kSwitchLeft && x < kSwitchRight && y >= kSwitchTop && y < kSwitchBottom;
}

// The gate pane's model: its five knobs, how each maps between the engine's
// value and the knob's value, the read-out texts, and the DC remover
// switch. mastersection_win32.cpp is the window around it; everything here
// is platform-free and tested natively.
//
// Main (user-interface) thread only.
#pragma once

#include <cstddef>
#include <cstdint>

// Knob identifiers (the command identifiers they send the pane).
constexpr uint16_t kKnobThreshold = 116;
constexpr uint16_t kKnobRelease = 117;
constexpr uint16_t kKnobOutput = 118;
constexpr uint16_t kKnobInput = 119;
constexpr uint16_t kKnobAttack = 120;

// Every knob of the pane has the same range, steps and size.
constexpr int32_t kGateKnobMaximum = 10000;
constexpr int32_t kGateKnobCoarseStep = 50;
constexpr int32_t kGateKnobFineStep = 1;
constexpr int32_t kGateKnobNormalStep = 10;
constexpr int32_t kGateKnobSize = 20;

// One knob: where it sits in the pane and where its read-out is drawn.
struct GateKnobRow {
    uint16_t id;
    int32_t x, y;
    int32_t readoutX, readoutY;
};

// In the order the knobs are created: output, input, attack, release, threshold.
constexpr size_t kGateKnobCount = 5;
extern const GateKnobRow kGateKnobs[kGateKnobCount];

// The row of a knob identifier; null for any other identifier.
const GateKnobRow* gateKnobRow(uint32_t id);

// The engine's values the pane shows and sets.
struct GateValues {
    float masterGain = 1.0f;       // 0..4
    float inputGain = 1.0f;        // 0..4
    float gateThreshold = 0.0039f; // 0..0.25 from the knob (the settings allow up to 0.5)
    uint16_t gateAttackMs = 5;     // 5..200
    uint16_t gateReleaseMs = 100;  // 5..700
};

// The knob's position for the engine's value, within 0..10000 whatever
// the engine holds (a threshold stored above 0.25, an attack below 5 ms,
// a NaN gain all land inside the range). 0 for an unknown identifier.
int32_t gateKnobValue(uint32_t id, const GateValues& values);

// Sets the engine's value of knob `id` from the knob's value and maximum
// as the knob reports them. The report is checked: false (and nothing
// changed) for an unknown identifier or a maximum not above 0; a value
// outside 0..maximum is limited first.
bool gateApplyKnob(uint32_t id, int32_t value, int32_t maximum, GateValues& values);

// The read-out of knob `id`: decibels for the gains and the threshold,
// whole milliseconds for attack and release. `trailingSpaces` is for a
// read-out drawn over its previous text (after a drag step): the spaces
// wipe out the rest of a longer text. Empty for an unknown identifier.
void gateReadout(uint32_t id, const GateValues& values, bool trailingSpaces, char* out, size_t size);

// A linear value in decibels: "%.1f  " of 20 log10 g, or "-inf.   " when g
// is not above 0 (NaN included).
void formatDecibels(float g, char* out, size_t size);

// The DC remover switch: its rectangle in the pane and where the lit
// picture goes.
constexpr int32_t kSwitchLeft = 17, kSwitchTop = 208, kSwitchRight = 100, kSwitchBottom = 223;
bool gateSwitchHit(int32_t x, int32_t y);

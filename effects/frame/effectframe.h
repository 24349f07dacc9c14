// The frame every built-in effect module shares: the command dispatch of
// `pluginQuery`, the audio entry `processPlugin`, presets, the state chunk and
// sample-rate/block-size bookkeeping. An effect fills one EffectDescriptor
// (its tag, chunk size, presets and DSP) and links this frame; the module then
// holds exactly one effect instance in module-wide state.
//
// Threads: `processPlugin` runs on the audio thread, everything else on the
// UI thread. Parameters are relaxed atomics, read once per block. The host
// never sends PQ_SET_SAMPLE_RATE or PQ_CLOSE while a block runs.
#pragma once

#include <atomic>
#include <cstdint>

#include "wrappers/default/effectinterface.h"

struct EffectDescriptor {
    const char* tag;     // chunk tag, written without terminator
    uint32_t chunkSize;  // exact size of the state chunk, tag included
    int presetCount;

    // PQ_OPEN: tables and the preset table. The frame then selects preset 0.
    void (*open)();
    // Name of preset `index` (0 <= index < presetCount), at most 31 characters.
    const char* (*presetName)(int index);
    // Copies preset `index` into the current parameters and re-derives.
    void (*loadPreset)(int index);
    // PQ_SUSPEND: silence the signal history.
    void (*clearSignal)();
    // PQ_SET_SAMPLE_RATE: reallocate and clear the lines for `rate` (may be 0).
    void (*setSampleRate)(uint32_t rate);
    // The chunk after its tag: write `chunkSize - tag length` bytes, or take
    // them from a chunk whose size and tag were checked.
    void (*writeChunk)(uint8_t* body);
    void (*readChunk)(const uint8_t* body);
    // PQ_CLOSE: free the lines and tables.
    void (*close)();
    // One block in place; `right` is null in mono.
    void (*process)(float* left, float* right, uint32_t frames);
    // PQ_SET_TEMPO, or null when the effect has no tempo (answers 0).
    void (*setTempo)(float bpm);
};

// Defined once by each effect module.
extern const EffectDescriptor kEffect;

// The rate and block length last set by the host.
uint32_t effectSampleRate();
uint32_t effectBlockSize();
// Index of the current preset.
int effectCurrentPreset();

// A zero-filled line of `length` floats (null for 0), and its release.
float* effectAllocLine(uint32_t length);
void effectFreeLine(float*& line);

// Replaces a float whose exponent bits are all zero (zero or denormal) by +0.0
// before it is stored into a recursive path.
inline float denormalGuard(float x) {
    uint32_t bits;
    __builtin_memcpy(&bits, &x, sizeof bits);
    return (bits & 0x7f800000u) ? x : 0.0f;
}

inline float loadParam(const std::atomic<float>& p) { return p.load(std::memory_order_relaxed); }
inline uint32_t loadParam(const std::atomic<uint32_t>& p) { return p.load(std::memory_order_relaxed); }
inline void storeParam(std::atomic<float>& p, float v) { p.store(v, std::memory_order_relaxed); }
inline void storeParam(std::atomic<uint32_t>& p, uint32_t v) { p.store(v, std::memory_order_relaxed); }

// Limits `v` to lo ... hi; a value that is not a number becomes lo.
inline float limit(float v, float lo, float hi) {
    if (!(v >= lo)) return lo;
    return v > hi ? hi : v;
}

// A modulated delay's read point behind the write position, brought into
// 0 <= t < length. Adding the length to a point just behind 0 can round to
// the length itself, which is 0 again (interpolating from there would scale
// the difference of two samples by the whole length). Points more than two
// lengths behind, or not a number, come only from damaged chunks; they are
// wrapped without looping and never leave the line.
inline float wrapReadPosition(float t, uint32_t length) {
    const float k = static_cast<float>(length);
    if (t < 0.0f) {
        t += k;
        if (t < 0.0f) t += k;
        if (t < 0.0f) t = __builtin_fmodf(t, k) + k;
    }
    if (t >= k) t -= k;
    return t >= 0.0f && t < k ? t : 0.0f;
}

// Chorus: two modulated delay voices on a mono mix of the input, each with
// its own sweep, delay, feedback, level and panning, added to the unchanged
// dry signal.
#include <algorithm>
#include <cmath>
#include <cstring>

#include "common/bytes.h"
#include "effects/frame/controls.h"
#include "effects/frame/effectframe.h"

namespace {

constexpr float kTwoPi = 6.283185f;
constexpr int kVoices = 2;
constexpr int kVoiceValues = 6;

struct VoiceParams {
    std::atomic<float> range;     // ms, 0.2 ... 3.0
    std::atomic<float> rate;      // Hz, 0.05 ... 5.0
    std::atomic<float> panning;   // -0.5 left ... +0.5 right
    std::atomic<float> level;     // -1 ... +1
    std::atomic<float> feedback;  // 0 ... 1
    std::atomic<float> delay;     // ms, 5 ... 40
};

struct Params {
    VoiceParams voices[kVoices];
    char name[32];  // the preset last loaded
};

struct Preset {
    float voices[kVoices][kVoiceValues];  // in VoiceParams order
    const char* name;
};

constexpr Preset kPresets[] = {
    {{{1.8f, 0.7f, -0.5f, -1.0f, 0.6f, 18.0f}, {2.0f, 1.4f, 0.5f, -1.0f, 0.6f, 30.0f}}, "Default Preset"},
    {{{1.1f, 0.25f, -0.5f, -1.0f, 0.3f, 20.0f}, {0.7f, 0.6f, 0.5f, -1.0f, 0.6f, 35.0f}}, "Invisible"},
};

struct Voice {
    float* line = nullptr;
    uint32_t position = 0;
    float phase = 0.0f;
};

Params params;
Voice voices[kVoices];
uint32_t length = 0;  // K: 43 ms of samples

std::atomic<float>* voiceValue(int voice, int index) {
    VoiceParams& v = params.voices[voice];
    std::atomic<float>* values[kVoiceValues] = {&v.range, &v.rate, &v.panning, &v.level, &v.feedback, &v.delay};
    return values[index];
}

void clearSignal() {
    for (Voice& v : voices)
        if (v.line) std::fill(v.line, v.line + length, 0.0f);
}

void setSampleRate(uint32_t rate) {
    length = static_cast<uint32_t>(rate * 0.043);
    for (Voice& v : voices) {
        effectFreeLine(v.line);
        v.line = effectAllocLine(length);
        v.position = 0;
    }
    if (!voices[0].line || !voices[1].line) length = 0;
    effectHasAvx2();  // asked here, not in the first block
}

// The per-voice values of one block.
struct VoiceBlock {
    float increment, feedback, base, range, panning, level;
};

// One voice over `count` frames from write position `p` to p + count - 1
// (no wrap), frame by frame; `sweep` is its rectified oscillator.
void runVoice(float* line, uint32_t p, const VoiceBlock& b, float s, const float* sweep, float* left, float* right,
              uint32_t count) {
    for (uint32_t k = 0; k < count; ++k) {
        const float t = wrapReadPosition(static_cast<float>(p + k) - (sweep[k] * b.range * s + b.base), length);
        const uint32_t a = static_cast<uint32_t>(t);
        const uint32_t c = a + 1 >= length ? 0 : a + 1;
        // A NaN or infinity that entered the line leaves it again at the
        // next lap instead of circling for ever.
        const float value = finiteGuard((line[c] - line[a]) * (t - static_cast<float>(a)) + line[a]);
        const float x = right ? left[k] + right[k] : left[k];
        left[k] = left[k] + (0.5f - b.panning) * value * b.level;
        if (right) right[k] = right[k] + (b.panning + 0.5f) * value * b.level;
        line[p + k] = (value + 1e-9f) * b.feedback + x;
    }
}

constexpr uint32_t kStretch = kEffectStretch;

// The same as runVoice, in steps that each take the whole stretch at once
// (so that they run as vectors): all read points, then all reads, then all
// writes. That order gives the same samples as long as no frame reads a
// point an earlier frame of the stretch writes, which the delay of at least
// 5 ms ensures at usual rates; false, with nothing done, otherwise.
// N is the width of the read points' vectors; the loops follow the
// compiler's choice for the processor the clone below is built for.
template <int N>
[[gnu::always_inline]] inline bool runVoiceStretchLanes(float* line, uint32_t p, const VoiceBlock& b, float s,
                                                        const float* sweep, float* left, float* right,
                                                        uint32_t count) {
    float offset[kStretch];
    for (uint32_t j = 0; j < kStretch; ++j) offset[j] = sweep[j] * b.range * s + b.base;
    EffectReadPoints points;
    if (!effectReadPointsLanes<N>(offset, p, count, length, points)) return false;
    float value[kStretch];
    for (uint32_t j = 0; j < count; ++j) {
        const float before = line[points.at[j]];
        value[j] = finiteGuard((line[points.next[j]] - before) * points.fraction[j] + before);
    }
    const float toLeft = 0.5f - b.panning, toRight = b.panning + 0.5f;
    float* const write = line + p;
    if (right) {
        for (uint32_t j = 0; j < count; ++j) {
            const float x = left[j] + right[j];
            left[j] = left[j] + toLeft * value[j] * b.level;
            right[j] = right[j] + toRight * value[j] * b.level;
            write[j] = (value[j] + 1e-9f) * b.feedback + x;
        }
    } else {
        for (uint32_t j = 0; j < count; ++j) {
            const float x = left[j];
            left[j] = left[j] + toLeft * value[j] * b.level;
            write[j] = (value[j] + 1e-9f) * b.feedback + x;
        }
    }
    return true;
}

bool runVoiceStretch(float* line, uint32_t p, const VoiceBlock& b, float s, const float* sweep, float* left,
                     float* right, uint32_t count) {
    return runVoiceStretchLanes<4>(line, p, b, s, sweep, left, right, count);
}

#if defined(__x86_64__) || defined(_M_X64)
__attribute__((target("avx2"))) bool runVoiceStretchAvx2(float* line, uint32_t p, const VoiceBlock& b, float s,
                                                         const float* sweep, float* left, float* right,
                                                         uint32_t count) {
    return runVoiceStretchLanes<8>(line, p, b, s, sweep, left, right, count);
}
#endif

void process(float* left, float* right, uint32_t frames) {
    if (length == 0) return;
    const float rate = static_cast<float>(effectSampleRate());
    const float s = rate * 0.001f;
    VoiceBlock b[kVoices];
    for (int n = 0; n < kVoices; ++n) {
        const VoiceParams& p = params.voices[n];
        b[n].increment = kTwoPi * loadParam(p.rate) / rate;
        b[n].feedback = loadParam(p.feedback) * 0.85f;
        b[n].base = static_cast<float>(static_cast<int32_t>(limit(loadParam(p.delay), 5.0f, 40.0f) * s));
        b[n].range = loadParam(p.range);
        b[n].panning = loadParam(p.panning);
        b[n].level = loadParam(p.level);
    }
    // The oscillators do not depend on the signal: a stretch of both first
    // (stepped while the lines of the stretch before run), then the lines,
    // so that the cosines run back to back. Each voice adds to the output
    // of the one before it and mixes that into its own line, so voice 0
    // takes the whole stretch before voice 1 does. A stretch ends at the end
    // of the lines.
    float sweeps[2][kVoices][kStretch] = {};
    uint32_t position = voices[0].position;
    const bool avx2 = effectHasAvx2();
    auto stretchAt = [&](uint32_t start) {
        const uint32_t count = frames - start < kStretch ? frames - start : kStretch;
        return length - position < count ? length - position : count;
    };
    auto step = [&](float (*sweep)[kStretch], uint32_t count) {
        for (int n = 0; n < kVoices; ++n)
            voices[n].phase = effectPhases(voices[n].phase, b[n].increment, kTwoPi, sweep[n], count);
    };
    uint32_t count = stretchAt(0);
    step(sweeps[0], count);
    for (uint32_t start = 0, which = 0; start < frames; which ^= 1) {
        float (*sweep)[kStretch] = sweeps[which];
        for (int n = 0; n < kVoices; ++n) rectifiedCosArray(sweep[n], sweep[n], count);
        // Both voices write at the same position.
        position = position + count >= length ? 0 : position + count;
        const uint32_t nextCount = start + count < frames ? stretchAt(start + count) : 0;
        step(sweeps[which ^ 1], nextCount);
        float* const l = left + start;
        float* const r = right ? right + start : nullptr;
        for (int n = 0; n < kVoices; ++n) {
            Voice& v = voices[n];
#if defined(__x86_64__) || defined(_M_X64)
            const bool whole = avx2 ? runVoiceStretchAvx2(v.line, v.position, b[n], s, sweep[n], l, r, count)
                                    : runVoiceStretch(v.line, v.position, b[n], s, sweep[n], l, r, count);
#else
            const bool whole = runVoiceStretch(v.line, v.position, b[n], s, sweep[n], l, r, count);
#endif
            if (!whole)
                runVoice(v.line, v.position, b[n], s, sweep[n], l, r, count);
            v.position = position;
        }
        start += count;
        count = nextCount;
    }
}

void open() {
    for (Voice& v : voices) v.position = 0, v.phase = 0.0f;
    clearSignal();
}

const char* presetName(int index) { return kPresets[index].name; }

void loadPreset(int index) {
    const Preset& p = kPresets[index];
    for (int n = 0; n < kVoices; ++n)
        for (int k = 0; k < kVoiceValues; ++k) storeParam(*voiceValue(n, k), p.voices[n][k]);
    std::memset(params.name, 0, sizeof params.name);
    std::strncpy(params.name, p.name, sizeof params.name - 1);
}

// Chunk body after "CHRS": version, voice 1's six values, voice 2's, the
// 32-byte preset name.
void writeChunk(uint8_t* body) {
    putU16(body, 100);
    for (int n = 0; n < kVoices; ++n)
        for (int k = 0; k < kVoiceValues; ++k) putF32(body + 2 + 4 * (n * kVoiceValues + k), loadParam(*voiceValue(n, k)));
    std::memcpy(body + 50, params.name, sizeof params.name);
}

// The editor's parameters by index: voice * 6 + the value's place in
// VoiceParams.
double getParam(int index) {
    if (index < 0 || index >= kVoices * kVoiceValues) return 0;
    return loadParam(*voiceValue(index / kVoiceValues, index % kVoiceValues));
}

void setParam(int index, double value) {
    if (index < 0 || index >= kVoices * kVoiceValues) return;
    storeParam(*voiceValue(index / kVoiceValues, index % kVoiceValues),
               static_cast<float>(effectLimitParam(index, value)));
}

// Values from a chunk enter limited to their ranges.
void readChunk(const uint8_t* body) {
    for (int n = 0; n < kVoices; ++n)
        for (int k = 0; k < kVoiceValues; ++k) setParam(n * kVoiceValues + k, getF32(body + 2 + 4 * (n * kVoiceValues + k)));
    std::memcpy(params.name, body + 50, sizeof params.name);
    params.name[sizeof params.name - 1] = '\0';
}

void close() {
    for (Voice& v : voices) effectFreeLine(v.line);
    length = 0;
}

}  // namespace

const EffectDescriptor kEffect = {
    "CHRS",    86,        2,     open,    presetName, loadPreset, clearSignal, setSampleRate,
    writeChunk, readChunk, close, process, nullptr, &kChorusEditor, getParam, setParam,
};

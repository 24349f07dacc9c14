// Flanger: a short modulated delay with feedback and a dry/wet mix. A
// rectified cosine sweeps the delay between the base delay and base plus the
// sweep range; the phase offset shifts one channel's oscillator against the
// other's.
#include <algorithm>
#include <cmath>
#include <cstring>

#include "common/bytes.h"
#include "effects/frame/controls.h"
#include "effects/frame/effectframe.h"

namespace {

constexpr float kTwoPi = 6.283185f;

struct Params {
    std::atomic<float> rate;      // Hz, 0 ... 2
    std::atomic<float> range;     // ms, 1 ... 5
    std::atomic<float> delay;     // ms, 0.1 ... 5
    std::atomic<float> feedback;  // 0 ... 1
    std::atomic<float> mix;       // 0 dry ... 1 wet
    std::atomic<float> phase;     // 0 left ... 1 right
    char name[32];                // the preset last loaded
};

struct Preset {
    const char* name;
    float rate, range, delay, feedback, mix, phase;
};

constexpr Preset kPresets[] = {
    {"Default Preset", 0.3f, 1.5f, 2.0f, 0.5f, 0.5f, 0.35f},
    {"Classic Jet", 0.2f, 1.5f, 0.2f, 0.6f, 0.5f, 0.3f},
    {"Wide Stereo", 0.2f, 2.0f, 0.3f, 0.6f, 0.5f, 1.0f},
    {"Fast", 0.6f, 3.0f, 0.3f, 0.4f, 0.5f, 0.4f},
    {"I'm a Robot", 0.0f, 5.0f, 5.0f, 0.8f, 0.5f, 0.4f},
    {"Light Feedback", 0.4f, 1.2f, 1.1f, 0.2f, 0.5f, 1.0f},
};

Params params;
float* lines[2] = {nullptr, nullptr};
uint32_t length = 0;  // K: 10 ms of samples
uint32_t writePosition = 0;
float phase = 0.0f;

// Every value limited to its range, as presets and chunks are loaded.
void store(float rate, float range, float delay, float feedback, float mix, float offset) {
    storeParam(params.rate, limit(rate, 0.0f, 2.0f));
    storeParam(params.range, limit(range, 1.0f, 5.0f));
    storeParam(params.delay, limit(delay, 0.1f, 5.0f));
    storeParam(params.feedback, limit(feedback, 0.0f, 1.0f));
    storeParam(params.mix, limit(mix, 0.0f, 1.0f));
    storeParam(params.phase, limit(offset, 0.0f, 1.0f));
}

void clearSignal() {
    for (float* line : lines)
        if (line) std::fill(line, line + length, 0.0f);
    writePosition = 0;
    phase = 0.0f;
}

void setSampleRate(uint32_t rate) {
    effectFreeLine(lines[0]);
    effectFreeLine(lines[1]);
    length = static_cast<uint32_t>(rate * 10.0) / 1000;
    lines[0] = effectAllocLine(length);
    lines[1] = effectAllocLine(length);
    if (!lines[0] || !lines[1]) length = 0;
    clearSignal();
    effectHasAvx2();  // asked here, not in the first block
}

// One channel's sample at the current write position; `m` is the rectified
// oscillator of this channel and frame.
inline float flange(float* line, uint32_t writePosition, float input, float m, float depth, float base, float wet,
                    float dry, float feedback) {
    const float t = wrapReadPosition(static_cast<float>(writePosition) - (depth * m + base), length);
    const uint32_t i = static_cast<uint32_t>(t);
    const uint32_t j = i + 1 >= length ? 0 : i + 1;
    const float v = denormalGuard((line[j] - line[i]) * (t - static_cast<float>(i)) + line[i]);
    line[writePosition] = v * feedback + input;
    return v * wet + input * dry;
}

// One block's values of the delay.
struct Stretch {
    float depth, base, wet, dry, feedback;
};

// One channel over a stretch from write position `w` (no wrap), all read
// points, then all reads, then all writes: the same samples as `flange`
// frame by frame unless a point falls where an earlier frame of the stretch
// writes (delays shorter than the stretch); false, with nothing done, then.
// N is the width of the read points' vectors.
template <int N>
[[gnu::always_inline]] inline bool flangeStretchLanes(float* line, uint32_t w, float* io, const float* sweep,
                                                      const Stretch& d, uint32_t count) {
    float offset[kEffectStretch];
    for (uint32_t n = 0; n < kEffectStretch; ++n) offset[n] = d.depth * sweep[n] + d.base;
    EffectReadPoints points;
    if (!effectReadPointsLanes<N>(offset, w, count, length, points)) return false;
    float value[kEffectStretch];
    for (uint32_t n = 0; n < count; ++n) {
        const float before = line[points.at[n]];
        value[n] = denormalGuard((line[points.next[n]] - before) * points.fraction[n] + before);
    }
    for (uint32_t n = 0; n < count; ++n) {
        const float input = io[n];
        line[w + n] = value[n] * d.feedback + input;
        io[n] = value[n] * d.wet + input * d.dry;
    }
    return true;
}

bool flangeStretch(float* line, uint32_t w, float* io, const float* sweep, const Stretch& d, uint32_t count) {
    return flangeStretchLanes<4>(line, w, io, sweep, d, count);
}

#if defined(__x86_64__) || defined(_M_X64)
__attribute__((target("avx2"))) bool flangeStretchAvx2(float* line, uint32_t w, float* io, const float* sweep,
                                                       const Stretch& d, uint32_t count) {
    return flangeStretchLanes<8>(line, w, io, sweep, d, count);
}
#endif

void process(float* left, float* right, uint32_t frames) {
    if (length == 0) return;
    const bool avx2 = effectHasAvx2();
    const float rate = static_cast<float>(effectSampleRate());
    const float increment = kTwoPi * loadParam(params.rate) / rate;
    const float feedback = loadParam(params.feedback) * 0.85f + 0.1f;
    const float base = static_cast<float>(static_cast<int32_t>(limit(loadParam(params.delay), 0.1f, 5.0f) * rate * 0.001f));
    const float depth = static_cast<float>(static_cast<int32_t>(rate * loadParam(params.range) * 0.001f));
    const float wet = loadParam(params.mix);
    const float dry = 1.0f - wet;
    const float offset = loadParam(params.phase) - 0.5f;
    const float leftOffset = 4.0f * limit(offset * -2.0f, 0.0f, 1.0f);
    const float rightOffset = limit(offset * 2.0f, 0.0f, 1.0f);

    // The oscillator does not depend on the signal: a stretch of it first,
    // then the lines, so that the cosines run back to back. A stretch ends
    // at the end of the lines; each channel takes it whole in turn.
    float sweepL[kEffectStretch] = {}, sweepR[kEffectStretch] = {};
    for (uint32_t start = 0, count = 0; start < frames; start += count) {
        count = frames - start < kEffectStretch ? frames - start : kEffectStretch;
        if (length - writePosition < count) count = length - writePosition;
        float phases[kEffectStretch];
        phase = effectPhases(phase, increment, kTwoPi, phases, count);
        for (uint32_t n = 0; n < count; ++n) {
            sweepL[n] = phases[n] + leftOffset;
            sweepR[n] = phases[n] + rightOffset;
        }
        rectifiedCosArray(sweepL, sweepL, count);
        if (right) rectifiedCosArray(sweepR, sweepR, count);
        const uint32_t w = writePosition;
        for (int side = 0; side < (right ? 2 : 1); ++side) {
            float* const line = lines[side];
            float* const io = (side ? right : left) + start;
            const float* const sweep = side ? sweepR : sweepL;
            const Stretch stretch{depth, base, wet, dry, feedback};
#if defined(__x86_64__) || defined(_M_X64)
            const bool whole = avx2 ? flangeStretchAvx2(line, w, io, sweep, stretch, count)
                                    : flangeStretch(line, w, io, sweep, stretch, count);
#else
            const bool whole = flangeStretch(line, w, io, sweep, stretch, count);
#endif
            if (!whole) {
                for (uint32_t n = 0; n < count; ++n)
                    io[n] = flange(line, w + n, io[n], sweep[n], depth, base, wet, dry, feedback);
            }
        }
        writePosition = w + count >= length ? 0 : w + count;
    }
}

void open() {}

const char* presetName(int index) { return kPresets[index].name; }

void loadPreset(int index) {
    const Preset& p = kPresets[index];
    store(p.rate, p.range, p.delay, p.feedback, p.mix, p.phase);
    std::memset(params.name, 0, sizeof params.name);
    std::strncpy(params.name, p.name, sizeof params.name - 1);
}

// Chunk body after "FLNG": version, delay, range, feedback, mix, phase offset,
// rate, then the 32-byte preset name.
void writeChunk(uint8_t* body) {
    putU16(body, 100);
    putF32(body + 2, loadParam(params.delay));
    putF32(body + 6, loadParam(params.range));
    putF32(body + 10, loadParam(params.feedback));
    putF32(body + 14, loadParam(params.mix));
    putF32(body + 18, loadParam(params.phase));
    putF32(body + 22, loadParam(params.rate));
    std::memcpy(body + 26, params.name, sizeof params.name);
}

// The editor's parameters by index, in the parameter block's order: rate,
// range, delay, feedback, mix, phase offset.
std::atomic<float>* paramAt(int index) {
    std::atomic<float>* values[] = {&params.rate, &params.range, &params.delay,
                                    &params.feedback, &params.mix, &params.phase};
    return index >= 0 && index < 6 ? values[index] : nullptr;
}

double getParam(int index) {
    std::atomic<float>* p = paramAt(index);
    return p ? loadParam(*p) : 0;
}

void setParam(int index, double value) {
    if (std::atomic<float>* p = paramAt(index)) storeParam(*p, static_cast<float>(effectLimitParam(index, value)));
}

void readChunk(const uint8_t* body) {
    store(getF32(body + 22), getF32(body + 6), getF32(body + 2), getF32(body + 10), getF32(body + 14),
          getF32(body + 18));
    std::memcpy(params.name, body + 26, sizeof params.name);
    params.name[sizeof params.name - 1] = '\0';
}

void close() {
    effectFreeLine(lines[0]);
    effectFreeLine(lines[1]);
    length = 0;
}

}  // namespace

const EffectDescriptor kEffect = {
    "FLNG",    62,        6,     open,    presetName, loadPreset, clearSignal, setSampleRate,
    writeChunk, readChunk, close, process, nullptr, &kFlangerEditor, getParam, setParam,
};

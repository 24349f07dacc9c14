// Flanger: a short modulated delay with feedback and a dry/wet mix. A
// rectified cosine sweeps the delay between the base delay and base plus the
// sweep range; the phase offset shifts one channel's oscillator against the
// other's.
#include <algorithm>
#include <cmath>
#include <cstring>

#include "common/bytes.h"
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
}

// One channel's sample at the current write position.
inline float flange(float* line, float input, float offset, float depth, float base, float wet, float dry,
                    float feedback) {
    const float m = std::fabs(static_cast<float>(std::cos(static_cast<double>(phase + offset))));
    const float t = wrapReadPosition(static_cast<float>(writePosition) - (depth * m + base), length);
    const uint32_t i = static_cast<uint32_t>(t);
    const uint32_t j = i + 1 >= length ? 0 : i + 1;
    const float v = denormalGuard((line[j] - line[i]) * (t - static_cast<float>(i)) + line[i]);
    line[writePosition] = v * feedback + input;
    return v * wet + input * dry;
}

void process(float* left, float* right, uint32_t frames) {
    if (length == 0) return;
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

    for (uint32_t n = 0; n < frames; ++n) {
        left[n] = flange(lines[0], left[n], leftOffset, depth, base, wet, dry, feedback);
        if (right) right[n] = flange(lines[1], right[n], rightOffset, depth, base, wet, dry, feedback);
        if (++writePosition >= length) writePosition = 0;
        phase = phase + increment;
        if (phase > kTwoPi) phase = 0.0f;
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

void readChunk(const uint8_t* body) {
    store(getF32(body + 22), getF32(body + 6), getF32(body + 2), getF32(body + 10), getF32(body + 14),
          getF32(body + 18));
    std::memcpy(params.name, body + 26, sizeof params.name);
}

void close() {
    effectFreeLine(lines[0]);
    effectFreeLine(lines[1]);
    length = 0;
}

}  // namespace

const EffectDescriptor kEffect = {
    "FLNG",    62,        6,     open,    presetName, loadPreset, clearSignal, setSampleRate,
    writeChunk, readChunk, close, process, nullptr,
};

// Chorus: two modulated delay voices on a mono mix of the input, each with
// its own sweep, delay, feedback, level and panning, added to the unchanged
// dry signal.
#include <algorithm>
#include <cmath>
#include <cstring>

#include "common/bytes.h"
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
}

void process(float* left, float* right, uint32_t frames) {
    if (length == 0) return;
    const float rate = static_cast<float>(effectSampleRate());
    const float s = rate * 0.001f;
    struct Block {
        float increment, feedback, base, range, panning, level;
    } b[kVoices];
    for (int n = 0; n < kVoices; ++n) {
        const VoiceParams& p = params.voices[n];
        b[n].increment = kTwoPi * loadParam(p.rate) / rate;
        b[n].feedback = loadParam(p.feedback) * 0.85f;
        b[n].base = static_cast<float>(static_cast<int32_t>(limit(loadParam(p.delay), 5.0f, 40.0f) * s));
        b[n].range = loadParam(p.range);
        b[n].panning = loadParam(p.panning);
        b[n].level = loadParam(p.level);
    }
    for (uint32_t i = 0; i < frames; ++i) {
        for (int n = 0; n < kVoices; ++n) {
            Voice& v = voices[n];
            const float m = std::fabs(static_cast<float>(std::cos(static_cast<double>(v.phase))));
            const float t = wrapReadPosition(static_cast<float>(v.position) - (m * b[n].range * s + b[n].base), length);
            const uint32_t a = static_cast<uint32_t>(t);
            const uint32_t c = a + 1 >= length ? 0 : a + 1;
            const float value = (v.line[c] - v.line[a]) * (t - static_cast<float>(a)) + v.line[a];
            const float x = right ? left[i] + right[i] : left[i];
            left[i] = left[i] + (0.5f - b[n].panning) * value * b[n].level;
            if (right) right[i] = right[i] + (b[n].panning + 0.5f) * value * b[n].level;
            v.line[v.position] = (value + 1e-9f) * b[n].feedback + x;
            if (++v.position >= length) v.position = 0;
            v.phase = v.phase + b[n].increment;
            if (v.phase > kTwoPi) v.phase = 0.0f;
        }
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

void readChunk(const uint8_t* body) {
    for (int n = 0; n < kVoices; ++n)
        for (int k = 0; k < kVoiceValues; ++k) storeParam(*voiceValue(n, k), getF32(body + 2 + 4 * (n * kVoiceValues + k)));
    std::memcpy(params.name, body + 50, sizeof params.name);
}

void close() {
    for (Voice& v : voices) effectFreeLine(v.line);
    length = 0;
}

}  // namespace

const EffectDescriptor kEffect = {
    "CHRS",    86,        2,     open,    presetName, loadPreset, clearSignal, setSampleRate,
    writeChunk, readChunk, close, process, nullptr,
};

// Reverb: per channel eight low-pass-damped comb filters in parallel and four
// all-pass filters in series, fed with a mono mix of the input; the wet signal
// goes through a predelay line and is added to the unchanged dry signal.
#include <cmath>

#include "common/bytes.h"
#include "effects/frame/controls.h"
#include "effects/frame/effectframe.h"

namespace {

constexpr int kCombs = 8;
constexpr int kAllPasses = 4;
// Lengths in samples at 44.1 kHz; the right channel's are 123 samples longer.
constexpr uint32_t kCombTuning[kCombs] = {1116, 1188, 1277, 1356, 1422, 1491, 1557, 1617};
constexpr uint32_t kAllPassTuning[kAllPasses] = {556, 441, 341, 225};
constexpr uint32_t kStereoSpread = 123;
constexpr uint32_t kMaxPredelayMs = 100;

struct Params {
    std::atomic<uint32_t> predelayMs;
    std::atomic<float> decay;
    std::atomic<float> wet;
    std::atomic<float> brightness;
};

struct Comb {
    float* buffer = nullptr;
    uint32_t length = 0;
    uint32_t position = 0;
    float store = 0.0f;
};

struct AllPass {
    float* buffer = nullptr;
    uint32_t length = 0;
    uint32_t position = 0;
};

struct Channel {
    Comb combs[kCombs];
    AllPass allPasses[kAllPasses];
    float* predelay = nullptr;
};

Params params;
Channel channels[2];
uint32_t predelayLength = 0;  // P: 100 ms of samples
uint32_t predelayWrite = 0;

void clearSignal() {
    for (Channel& ch : channels) {
        for (Comb& c : ch.combs) {
            if (c.buffer) std::fill(c.buffer, c.buffer + c.length, 0.0f);
            c.position = 0;
            c.store = 0.0f;
        }
        for (AllPass& a : ch.allPasses) {
            if (a.buffer) std::fill(a.buffer, a.buffer + a.length, 0.0f);
            a.position = 0;
        }
        if (ch.predelay) std::fill(ch.predelay, ch.predelay + predelayLength, 0.0f);
    }
}

void freeLines() {
    for (Channel& ch : channels) {
        for (Comb& c : ch.combs) effectFreeLine(c.buffer), c.length = 0;
        for (AllPass& a : ch.allPasses) effectFreeLine(a.buffer), a.length = 0;
        effectFreeLine(ch.predelay);
    }
    predelayLength = 0;
}

void setSampleRate(uint32_t rate) {
    freeLines();
    const float scale = static_cast<float>(rate) / 44100.0f;
    predelayLength = static_cast<uint32_t>(static_cast<uint64_t>(rate) * kMaxPredelayMs / 1000);
    for (uint32_t side = 0; side < 2; ++side) {
        Channel& ch = channels[side];
        const uint32_t spread = side ? kStereoSpread : 0;
        for (int k = 0; k < kCombs; ++k) {
            Comb& c = ch.combs[k];
            c.length = static_cast<uint32_t>(scale * static_cast<float>(kCombTuning[k] + spread));
            c.buffer = effectAllocLine(c.length);
            if (!c.buffer) c.length = 0;
        }
        for (int k = 0; k < kAllPasses; ++k) {
            AllPass& a = ch.allPasses[k];
            a.length = static_cast<uint32_t>(scale * static_cast<float>(kAllPassTuning[k] + spread));
            a.buffer = effectAllocLine(a.length);
            if (!a.buffer) a.length = 0;
        }
        ch.predelay = effectAllocLine(predelayLength);
    }
    if (!channels[0].predelay || !channels[1].predelay) predelayLength = 0;
    predelayWrite = 0;
    clearSignal();
}

// Every filter needs a line; a rate too low (or 0) leaves the block dry.
bool linesReady() {
    if (predelayLength == 0) return false;
    for (const Channel& ch : channels) {
        for (const Comb& c : ch.combs)
            if (c.length == 0) return false;
        for (const AllPass& a : ch.allPasses)
            if (a.length == 0) return false;
    }
    return true;
}

inline float reverberate(Channel& ch, float input, float keep, float damp, float feedback) {
    float s = 0.0f;
    for (Comb& c : ch.combs) {
        float y = c.buffer[c.position];
        c.store = denormalGuard(keep * y + damp * c.store);
        c.buffer[c.position] = input + feedback * c.store;
        if (++c.position >= c.length) c.position = 0;
        s = s + y;
    }
    for (AllPass& a : ch.allPasses) {
        float b = a.buffer[a.position];
        a.buffer[a.position] = finiteGuard(s + b * 0.5f);  // a NaN would circle here for ever
        if (++a.position >= a.length) a.position = 0;
        s = b - s;
    }
    return s;
}

void process(float* left, float* right, uint32_t frames) {
    if (!linesReady()) return;
    const uint32_t rate = effectSampleRate();
    uint64_t delay = static_cast<uint64_t>(loadParam(params.predelayMs)) * rate / 1000;
    if (delay > predelayLength) delay = predelayLength;
    const int64_t back = delay ? static_cast<int64_t>(delay) : 1;
    const float damp = 0.3f - loadParam(params.brightness) * 0.3f;
    const float keep = 1.0f - damp;
    const float feedback = std::sqrt(loadParam(params.decay)) * 0.49f + 0.5f;
    const float wet = loadParam(params.wet);
    float* lineL = channels[0].predelay;
    float* lineR = channels[1].predelay;

    for (uint32_t i = 0; i < frames; ++i) {
        const float input = right ? (left[i] + right[i]) * 0.015f : left[i] * 0.03f;
        lineL[predelayWrite] = reverberate(channels[0], input, keep, damp, feedback);
        if (right) lineR[predelayWrite] = reverberate(channels[1], input, keep, damp, feedback);
        if (++predelayWrite >= predelayLength) predelayWrite = 0;
        int64_t read = static_cast<int64_t>(predelayWrite) - back;
        if (read < 0) read += predelayLength;
        left[i] = wet * lineL[read] + left[i];
        if (right) right[i] = wet * lineR[read] + right[i];
    }
}

void open() {}

const char* presetName(int) { return "Default preset"; }

void loadPreset(int) {
    storeParam(params.predelayMs, 15u);
    storeParam(params.decay, 0.75f);
    storeParam(params.wet, 0.3f);
    storeParam(params.brightness, 0.6f);
}

// Chunk body after "QuoReverb": version, predelay, decay, wet, brightness.
void writeChunk(uint8_t* body) {
    putU16(body, 100);
    putU32(body + 2, loadParam(params.predelayMs));
    putF32(body + 6, loadParam(params.decay));
    putF32(body + 10, loadParam(params.wet));
    putF32(body + 14, loadParam(params.brightness));
}

// The editor's parameters by index: predelay, decay, wet out, brightness.
double getParam(int index) {
    switch (index) {
        case 0: return loadParam(params.predelayMs);
        case 1: return loadParam(params.decay);
        case 2: return loadParam(params.wet);
        case 3: return loadParam(params.brightness);
        default: return 0;
    }
}

void setParam(int index, double value) {
    const double v = effectLimitParam(index, value);
    switch (index) {
        case 0: storeParam(params.predelayMs, static_cast<uint32_t>(v)); break;
        case 1: storeParam(params.decay, static_cast<float>(v)); break;
        case 2: storeParam(params.wet, static_cast<float>(v)); break;
        case 3: storeParam(params.brightness, static_cast<float>(v)); break;
        default: break;
    }
}

// Values from a chunk enter limited to their ranges.
void readChunk(const uint8_t* body) {
    setParam(0, getU32(body + 2));
    setParam(1, getF32(body + 6));
    setParam(2, getF32(body + 10));
    setParam(3, getF32(body + 14));
}

void close() { freeLines(); }

}  // namespace

const EffectDescriptor kEffect = {
    "QuoReverb", 27, 1, open, presetName, loadPreset, clearSignal, setSampleRate,
    writeChunk,  readChunk, close, process, nullptr, &kReverbEditor, getParam, setParam,
};

// Echo: a feedback delay of 100 ms to 1 s whose feedback runs through a
// resonant low-pass filter, so each repeat is darker than the last. The dry
// signal passes at unity gain; the delayed signal is added at its level.
#include <algorithm>
#include <cmath>

#include "common/bytes.h"
#include "effects/frame/controls.h"
#include "effects/frame/effectframe.h"

namespace {

constexpr int kTableSize = 1000;

struct Params {
    std::atomic<uint32_t> timeMs;
    std::atomic<float> feedback;
    std::atomic<float> level;
    std::atomic<float> frequency;  // ratio of the table's top entry
    std::atomic<float> resonance;
};

struct Preset {
    uint32_t timeMs;
    float feedback;
    float frequency;
    float resonance;
    float level;
    const char* name;
};

constexpr Preset kPresets[] = {
    {500, 0.5f, 1.0f, 0.5f, 0.3f, "Default Preset"},
    {100, 0.0f, 1.0f, 0.1f, 1.0f, "Hall"},
    {500, 0.65f, 0.2f, 0.1f, 0.6f, "Deep House"},
};

enum class FilterMode { kOpen, kClosed, kFiltering };

struct Coefficients {
    FilterMode mode;
    double b0, b1, b2, a1, a2;
};

// Coefficients are designed on the UI thread while blocks may run. Two sets:
// the UI thread writes the one no block reads, then publishes its index
// (release); a block takes the index once (acquire) and reads that set, so it
// never sees a mix of old and new. Only the UI thread designs, and a block
// lasts far less than the time between two designs, so the set being written
// is never the one a block still reads.
struct Filter {
    Coefficients sets[2]{{FilterMode::kOpen, 0, 0, 0, 0, 0}, {FilterMode::kOpen, 0, 0, 0, 0, 0}};
    std::atomic<uint32_t> active{0};
};

struct FilterState {
    float x1 = 0, x2 = 0, y1 = 0, y2 = 0;
};

Params params;
Filter filter;
uint16_t frequencyTable[kTableSize];
float* lines[2] = {nullptr, nullptr};
uint32_t capacity = 0;  // K: one second of samples
uint32_t position = 0;
FilterState states[2];
float tempo = 120.0f;

void buildFrequencyTable() {
    for (int i = 0; i < kTableSize; ++i)
        frequencyTable[i] = static_cast<uint16_t>(std::pow(2.0, i * 10 * 0.001) * 20);
}

// The coefficients for the current frequency and resonance. UI thread.
Coefficients designCoefficients() {
    const double frequency = loadParam(params.frequency);
    double q = loadParam(params.resonance) * 2.1 + 0.1;
    if (q < 1.0) q = 1.0;
    if (frequency < 0.0001) return {FilterMode::kClosed, 0, 0, 0, 0, 0};
    if (frequency > 0.9999) return {FilterMode::kOpen, 0, 0, 0, 0, 0};
    const uint32_t rate = effectSampleRate();
    const double w = frequency * 3.141592654 * frequencyTable[kTableSize - 1] / (rate ? rate : 1);
    const double alpha = std::sin(w) / (2 * q);
    const double c = std::cos(w);
    const double norm = 1 + alpha;
    return {FilterMode::kFiltering, (0.5 - c / 2) / norm, (1 - c) / norm, (0.5 - c / 2) / norm, (-2 * c) / norm,
            (1 - alpha) / norm};
}

void designFilter() {
    const uint32_t inactive = filter.active.load(std::memory_order_relaxed) ^ 1u;
    filter.sets[inactive] = designCoefficients();
    filter.active.store(inactive, std::memory_order_release);
}

inline float runFilter(const Coefficients& k, FilterState& s, float x) {
    if (k.mode == FilterMode::kOpen) return x;
    if (k.mode == FilterMode::kClosed) return 0.0f;
    float y = denormalGuard(static_cast<float>(k.b0 * x + k.b1 * s.x1 + k.b2 * s.x2 - k.a1 * s.y1 - k.a2 * s.y2));
    s.x2 = s.x1;
    s.x1 = denormalGuard(x);
    s.y2 = s.y1;
    s.y1 = y;
    return y;
}

void clearSignal() {
    for (float* line : lines)
        if (line) std::fill(line, line + capacity, 0.0f);
    position = 0;
    states[0] = states[1] = FilterState{};
}

void setSampleRate(uint32_t rate) {
    effectFreeLine(lines[0]);
    effectFreeLine(lines[1]);
    capacity = static_cast<uint32_t>(static_cast<uint64_t>(rate) * 1000 / 1000);
    lines[0] = effectAllocLine(capacity);
    lines[1] = effectAllocLine(capacity);
    if (!lines[0] || !lines[1]) capacity = 0;
    clearSignal();
    designFilter();
}

void process(float* left, float* right, uint32_t frames) {
    if (capacity == 0) return;
    uint64_t ring = static_cast<uint64_t>(effectSampleRate()) * loadParam(params.timeMs) / 1000;
    if (ring > capacity) ring = capacity;
    const uint32_t length = static_cast<uint32_t>(ring);
    const float gain = static_cast<float>(std::sqrt(static_cast<double>(loadParam(params.feedback))) * 0.7 + 0.05);
    const float level = loadParam(params.level);
    const Coefficients k = filter.sets[filter.active.load(std::memory_order_acquire) & 1u];
    float* lineL = lines[0];
    float* lineR = lines[1];
    for (uint32_t i = 0; i < frames; ++i) {
        // A ring shortened by a time change may leave the position past its
        // end for one frame; the line itself is always a second long.
        float d = denormalGuard(lineL[position]);
        lineL[position] = runFilter(k, states[0], left[i] + gain * d);
        left[i] = left[i] + d * level;
        if (right) {
            d = denormalGuard(lineR[position]);
            lineR[position] = runFilter(k, states[1], right[i] + gain * d);
            right[i] = right[i] + d * level;
        }
        if (++position >= length) position = 0;
    }
}

void open() { buildFrequencyTable(); }

const char* presetName(int index) { return kPresets[index].name; }

void loadPreset(int index) {
    const Preset& p = kPresets[index];
    storeParam(params.timeMs, p.timeMs);
    storeParam(params.feedback, p.feedback);
    storeParam(params.level, p.level);
    storeParam(params.frequency, p.frequency);
    storeParam(params.resonance, p.resonance);
    designFilter();
}

// Chunk body after "ECHO": a float 1.0 as version, then time, feedback,
// level, frequency, resonance.
void writeChunk(uint8_t* body) {
    putF32(body, 1.0f);
    putU32(body + 4, loadParam(params.timeMs));
    putF32(body + 8, loadParam(params.feedback));
    putF32(body + 12, loadParam(params.level));
    putF32(body + 16, loadParam(params.frequency));
    putF32(body + 20, loadParam(params.resonance));
}

// The editor's parameters by index: time, feedback, level, frequency,
// resonance. A frequency or resonance change redesigns the filter at once.
double getParam(int index) {
    switch (index) {
        case 0: return loadParam(params.timeMs);
        case 1: return loadParam(params.feedback);
        case 2: return loadParam(params.level);
        case 3: return loadParam(params.frequency);
        case 4: return loadParam(params.resonance);
        default: return 0;
    }
}

void storeLimited(int index, double value) {
    const double v = effectLimitParam(index, value);
    switch (index) {
        case 0: storeParam(params.timeMs, static_cast<uint32_t>(v)); break;
        case 1: storeParam(params.feedback, static_cast<float>(v)); break;
        case 2: storeParam(params.level, static_cast<float>(v)); break;
        case 3: storeParam(params.frequency, static_cast<float>(v)); break;
        case 4: storeParam(params.resonance, static_cast<float>(v)); break;
        default: break;
    }
}

void setParam(int index, double value) {
    storeLimited(index, value);
    if (index == 3 || index == 4) designFilter();
}

// Values from a chunk enter limited to their ranges.
void readChunk(const uint8_t* body) {
    storeLimited(0, getU32(body + 4));
    storeLimited(1, getF32(body + 8));
    storeLimited(2, getF32(body + 12));
    storeLimited(3, getF32(body + 16));
    storeLimited(4, getF32(body + 20));
    designFilter();
}

void close() {
    effectFreeLine(lines[0]);
    effectFreeLine(lines[1]);
    capacity = 0;
}

// Kept for a tempo-synchronised time; the echo time does not follow it yet.
void setTempo(float bpm) { tempo = bpm; }

}  // namespace

const EffectDescriptor kEffect = {
    "ECHO",    28,        3,     open,    presetName, loadPreset, clearSignal, setSampleRate,
    writeChunk, readChunk, close, process, setTempo, &kEchoEditor, getParam, setParam,
};

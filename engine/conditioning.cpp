// Input conditioning: the DC offset remover and the noise gate with input gain.
//
// Both work in place on the engine's input buffers, sample by sample, with
// running sums over a 50 ms window (one add and one subtract per sample; never
// a sum over the window). The arithmetic mixes float state with double
// divisions on purpose: recordings made with earlier builds must come out the
// same to the sample, so keep each step's precision as it is.
#include <cstdlib>

#include "engine/engine.h"
#include "engine/engine_internal.h"

// 50 ms of samples; one at the least, so that absurd rates cannot divide by 0.
static uint32_t windowFor(uint32_t rate) {
    uint32_t window = rate / 20;
    return window ? window : 1;
}

int32_t dcRemoverConfigure(EngineState& e, uint32_t rate) {
    DcRemoverState& dc = e.dcRemover;
    uint32_t window = windowFor(rate);
    if (window != dc.window || !dc.ring[0] || !dc.ring[1]) {
        engineFreeFloats(dc.ring[0]);
        engineFreeFloats(dc.ring[1]);
        dc.window = 0;
        dc.ring[0] = engineAllocFloats(window);
        dc.ring[1] = engineAllocFloats(window);
        if (!dc.ring[0] || !dc.ring[1]) {
            engineFreeFloats(dc.ring[0]);
            engineFreeFloats(dc.ring[1]);
            return kConfigureNoMemory;
        }
    }
    dc.window = window;
    dc.position = 0;
    for (uint32_t i = 0; i < window; ++i) dc.ring[0][i] = dc.ring[1][i] = 0.0f;
    dc.sum[0] = dc.sum[1] = 0.0f;
    return 0;
}

// One channel's step of the remover. The mean includes the current sample and
// drops the one that entered a window earlier.
static inline float removeDc(float x, float& sum, float* ring, uint32_t position, double window) {
    sum = sum + x;
    sum = sum - ring[position];
    ring[position] = x;
    return static_cast<float>(x - static_cast<double>(sum) / window);
}

void dcRemoverProcess(EngineState& e) {
    DcRemoverState& dc = e.dcRemover;
    if (!dc.ring[0] || !dc.ring[1] || dc.window == 0) return;
    const uint32_t n = e.blockSize;
    const double window = dc.window;
    float* left = e.inputL;
    float* right = e.inputR;
    uint32_t position = dc.position;
    float sumL = dc.sum[0], sumR = dc.sum[1];
    if (right) {
        for (uint32_t i = 0; i < n; ++i) {
            left[i] = removeDc(left[i], sumL, dc.ring[0], position, window);
            right[i] = removeDc(right[i], sumR, dc.ring[1], position, window);
            if (++position == dc.window) position = 0;
        }
    } else {
        for (uint32_t i = 0; i < n; ++i) {
            left[i] = removeDc(left[i], sumL, dc.ring[0], position, window);
            if (++position == dc.window) position = 0;
        }
    }
    dc.position = position;
    dc.sum[0] = sumL;
    dc.sum[1] = sumR;
}

int32_t gateConfigure(EngineState& e, uint32_t rate, bool stereo) {
    GateState& gate = e.gate;
    gate.window = windowFor(rate);
    gate.position = 0;
    gate.fade[0] = 0;
    gate.sum[0] = 0.0f;
    gate.ring[0] = engineAllocFloats(gate.window);
    if (!gate.ring[0]) return kConfigureNoMemory;
    if (stereo) {
        gate.fade[1] = 0;
        gate.sum[1] = 0.0f;
        gate.ring[1] = engineAllocFloats(gate.window);
        if (!gate.ring[1]) return kConfigureNoMemory;
    }
    return 0;
}

namespace {

// Fade lengths in samples for this block. 64-bit: 200 ms at a high rate
// times 1000 does not fit 32 bits.
struct GateTimes {
    int64_t attack;
    int64_t release;
};

// Level update of one channel at the (already advanced) ring position. The
// sum of absolute values cannot really go below zero; float rounding after a
// loud passage followed by digital silence would otherwise leave it slightly
// negative and close a gate whose threshold is 0.
inline double gateLevel(float x, float& sum, float* ring, uint32_t position, double window) {
    sum = sum - ring[position];
    float a = x > 0.0f ? x : -x;
    sum = sum + a;
    ring[position] = a;
    if (sum < 0.0f) sum = 0.0f;
    return static_cast<double>(sum) / window;
}

// Fade of one channel. A change of direction restarts the new fade from its
// beginning. The right channel's fade-in factor uses the counter after its
// step (`rightChannel`), so it runs one sample ahead of the left one.
inline float gateFade(float x, double level, double threshold, int32_t& counter, const GateTimes& t,
                      bool rightChannel) {
    if (level < threshold) {
        if (counter < 0) counter = 0;
        if (counter < t.release) {
            int32_t step = counter++;
            return static_cast<float>(x * (1.0 - static_cast<double>(step) / static_cast<double>(t.release)));
        }
        return 0.0f;
    }
    if (counter > 0) counter = 0;
    if (counter > -t.attack) {
        int32_t step = counter--;
        double factor = static_cast<double>(rightChannel ? counter : step) / -static_cast<double>(t.attack);
        return static_cast<float>(x * factor);
    }
    return x;
}

}  // namespace

void gateProcess(EngineState& e) {
    GateState& gate = e.gate;
    if (!gate.ring[0] || gate.window == 0) return;
    // The fade times follow the rate the engine runs at, whatever device set it.
    const int64_t rate = e.lastConfiguredRate > 0 ? e.lastConfiguredRate : 0;
    const GateTimes times{
        static_cast<int64_t>(e.gateAttackMs.load(std::memory_order_relaxed)) * rate / 1000,
        static_cast<int64_t>(e.gateReleaseMs.load(std::memory_order_relaxed)) * rate / 1000,
    };
    const double threshold = e.gateThreshold.load(std::memory_order_relaxed);
    const float gain = e.inputGain.load(std::memory_order_relaxed);
    const double window = gate.window;
    const uint32_t n = e.blockSize;
    float* left = e.inputL;
    float* right = gate.ring[1] ? e.inputR : nullptr;
    uint32_t position = gate.position;
    float sumL = gate.sum[0], sumR = gate.sum[1];
    int32_t fadeL = gate.fade[0], fadeR = gate.fade[1];

    for (uint32_t i = 0; i < n; ++i) {
        if (++position == gate.window) position = 0;
        float x = left[i];
        double level = gateLevel(x, sumL, gate.ring[0], position, window);
        left[i] = gateFade(x, level, threshold, fadeL, times, false) * gain;
        if (right) {
            x = right[i];
            level = gateLevel(x, sumR, gate.ring[1], position, window);
            right[i] = gateFade(x, level, threshold, fadeR, times, true) * gain;
        }
    }
    gate.position = position;
    gate.sum[0] = sumL;
    gate.fade[0] = fadeL;
    if (right) {
        gate.sum[1] = sumR;
        gate.fade[1] = fadeR;
    }
}

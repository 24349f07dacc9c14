// Input conditioning: the DC offset remover and the noise gate with input gain.
//
// Both work in place on the engine's input buffers, sample by sample, with
// running sums over a 50 ms window (one add and one subtract per sample; never
// a sum over the window). The arithmetic mixes float state with double
// divisions on purpose: recordings made with earlier builds must come out the
// same to the sample, so keep each step's precision as it is.
#include <cstdlib>

#if defined(__x86_64__) || defined(_M_X64)
#include <emmintrin.h>
#endif

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

#if defined(__x86_64__) || defined(_M_X64)
// Both channels at once, left in lane 0 and right in lane 1. The remover's
// means come without a division (two a frame, and divisions are slow): the
// quotient of the running sum by the window is near its product q with
// 1 / window, within 2^-51 relative, so it lies between q - margin and
// q + margin. When both ends round to the same result, that is the
// quotient's result too (rounding is monotonic); otherwise (a few times in
// a million, and always for sums that are not finite) the division decides.
struct PairQuotient {
    __m128d low, high;  // q - margin, q + margin
};

inline PairQuotient pairQuotient(__m128 sums, __m128d inverse) {
    const __m128d q = _mm_mul_pd(_mm_cvtps_pd(sums), inverse);
    const __m128d size = _mm_and_pd(q, _mm_castsi128_pd(_mm_set1_epi64x(0x7fffffffffffffffLL)));
    const __m128d margin = _mm_mul_pd(size, _mm_set1_pd(0x1p-49));
    return {_mm_sub_pd(q, margin), _mm_add_pd(q, margin)};
}

inline float lane1(__m128 v) { return _mm_cvtss_f32(_mm_shuffle_ps(v, v, 0x55)); }

// A gate sum s is below the threshold when double(s) / window < threshold.
// Rounding is monotonic, so among the floats that holds exactly for those
// below one bound: the least float whose level is not below (-inf when none
// is, as for a threshold that is not a number; +inf is never below). The
// stereo pass compares its sums with that bound instead of dividing. Found
// next to its estimate with two or three divisions, else by bisection over
// the floats in order.
inline bool sumBelow(float s, double window, double threshold) {
    return static_cast<double>(s) / window < threshold;
}

// The floats (without NaN) in order as integers, both zeros as 0.
inline int32_t floatRank(float f) {
    int32_t bits;
    __builtin_memcpy(&bits, &f, sizeof bits);
    return bits < 0 ? -(bits & 0x7fffffff) : bits;
}

inline float rankedFloat(int32_t rank) {
    const uint32_t bits = rank < 0 ? static_cast<uint32_t>(-rank) | 0x80000000u : static_cast<uint32_t>(rank);
    float f;
    __builtin_memcpy(&f, &bits, sizeof f);
    return f;
}

float gateBound(double window, double threshold) {
    const float infinity = __builtin_inff();
    if (!sumBelow(-infinity, window, threshold)) return -infinity;
    const double estimate = threshold * window;
    if (estimate > -3.0e38 && estimate < 3.0e38) {
        const int32_t guess = floatRank(static_cast<float>(estimate));
        for (int32_t rank = guess - 1; rank <= guess + 1; ++rank)
            if (!sumBelow(rankedFloat(rank), window, threshold) && sumBelow(rankedFloat(rank - 1), window, threshold))
                return rankedFloat(rank);
    }
    int32_t below = floatRank(-infinity), above = floatRank(infinity);
    while (above - below > 1) {
        const int32_t middle = below + (above - below) / 2;
        (sumBelow(rankedFloat(middle), window, threshold) ? below : above) = middle;
    }
    return rankedFloat(above);
}
#endif

// Fade lengths in samples for this block. 64-bit: 200 ms at a high rate
// times 1000 does not fit 32 bits.
struct GateTimes {
    int64_t attack;
    int64_t release;
};

// This block's fade lengths. They follow the rate the engine runs at,
// whatever device set it.
inline GateTimes gateTimes(const EngineState& e) {
    const int64_t rate = e.lastConfiguredRate > 0 ? e.lastConfiguredRate : 0;
    return {static_cast<int64_t>(e.gateAttackMs.load(std::memory_order_relaxed)) * rate / 1000,
            static_cast<int64_t>(e.gateReleaseMs.load(std::memory_order_relaxed)) * rate / 1000};
}

// Level update of one channel at the (already advanced) ring position. The
// sum of absolute values cannot really go below zero; float rounding after a
// loud passage followed by digital silence would otherwise leave it slightly
// negative and close a gate whose threshold is 0.
inline double gateLevel(float x, float& sum, float* ring, uint32_t position, double window) {
    sum = sum - ring[position];
    float a = __builtin_fabsf(x);
    sum = sum + a;
    ring[position] = a;
    if (sum < 0.0f) sum = 0.0f;
    return static_cast<double>(sum) / window;
}

// Fade of one channel. A change of direction restarts the new fade from its
// beginning. The right channel's fade-in factor uses the counter after its
// step (`rightChannel`), so it runs one sample ahead of the left one.
inline float gateFade(float x, bool below, int32_t& counter, const GateTimes& t, bool rightChannel) {
    if (below) {
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

// The DC offset remover (when `dc`) and the gate in one pass over a stereo
// block: each step's running sums are a chain of dependent adds, and one loop
// lets the four chains overlap. Per sample the results are exactly those of
// the two separate passes (on x86-64 with the quotients as above).
template <bool kDc>
static void conditionStereo(EngineState& e) {
    DcRemoverState& dc = e.dcRemover;
    GateState& gate = e.gate;
    const GateTimes times = gateTimes(e);
    const double threshold = e.gateThreshold.load(std::memory_order_relaxed);
    const float gain = e.inputGain.load(std::memory_order_relaxed);
    const double gateWindow = gate.window;
    const double dcWindow = kDc ? dc.window : 1.0;
    const uint32_t n = e.blockSize;
    float* left = e.inputL;
    float* right = e.inputR;
    float* dcRingL = dc.ring[0];
    float* dcRingR = dc.ring[1];
    float* gateRingL = gate.ring[0];
    float* gateRingR = gate.ring[1];
    uint32_t dcPosition = dc.position;
    uint32_t position = gate.position;
    float dcSumL = dc.sum[0], dcSumR = dc.sum[1];
    float sumL = gate.sum[0], sumR = gate.sum[1];
    int32_t fadeL = gate.fade[0], fadeR = gate.fade[1];

#if defined(__x86_64__) || defined(_M_X64)
    const __m128d dcInverse = _mm_set1_pd(1.0 / dcWindow);
    const __m128 bound = _mm_set1_ps(gateBound(gateWindow, threshold));
    const __m128 magnitude = _mm_castsi128_ps(_mm_set1_epi32(0x7fffffff));
    __m128 dcSum = _mm_setr_ps(dcSumL, dcSumR, 0.0f, 0.0f);
    __m128 sum = _mm_setr_ps(sumL, sumR, 0.0f, 0.0f);
    for (uint32_t i = 0; i < n; ++i) {
        __m128 x = _mm_unpacklo_ps(_mm_load_ss(left + i), _mm_load_ss(right + i));
        if constexpr (kDc) {
            const __m128 old = _mm_unpacklo_ps(_mm_load_ss(dcRingL + dcPosition), _mm_load_ss(dcRingR + dcPosition));
            dcSum = _mm_sub_ps(_mm_add_ps(dcSum, x), old);
            dcRingL[dcPosition] = left[i];
            dcRingR[dcPosition] = right[i];
            if (++dcPosition == dc.window) dcPosition = 0;
            // x - mean in double, rounded to float.
            const PairQuotient mean = pairQuotient(dcSum, dcInverse);
            const __m128d wide = _mm_cvtps_pd(x);
            const __m128 low = _mm_cvtpd_ps(_mm_sub_pd(wide, mean.high));
            const __m128 high = _mm_cvtpd_ps(_mm_sub_pd(wide, mean.low));
            // Compared as bits: +0 and -0 differ.
            if ((_mm_movemask_ps(_mm_castsi128_ps(_mm_cmpeq_epi32(_mm_castps_si128(low), _mm_castps_si128(high)))) &
                 3) == 3) {
                x = low;
            } else {
                const float xL = static_cast<float>(left[i] - static_cast<double>(_mm_cvtss_f32(dcSum)) / dcWindow);
                const float xR = static_cast<float>(right[i] - static_cast<double>(lane1(dcSum)) / dcWindow);
                x = _mm_setr_ps(xL, xR, 0.0f, 0.0f);
            }
        }
        if (++position == gate.window) position = 0;
        // fabs, not a comparison: the sign of noise cannot be predicted, and
        // the sign of a zero here never reaches a level or a sample.
        const __m128 a = _mm_and_ps(x, magnitude);
        const __m128 old = _mm_unpacklo_ps(_mm_load_ss(gateRingL + position), _mm_load_ss(gateRingR + position));
        // max(0, s) with 0 first: a negative sum becomes +0, -0 and NaN stay.
        sum = _mm_max_ps(_mm_setzero_ps(), _mm_add_ps(_mm_sub_ps(sum, old), a));
        _mm_store_ss(gateRingL + position, a);
        gateRingR[position] = lane1(a);
        const int below = _mm_movemask_ps(_mm_cmplt_ps(sum, bound)) & 3;
        if (below == 0 && fadeL <= -times.attack && fadeR <= -times.attack) {
            // Open on both sides, fades done: gateFade would return x.
            const __m128 y = _mm_mul_ps(x, _mm_set1_ps(gain));
            _mm_store_ss(left + i, y);
            right[i] = lane1(y);
        } else {
            left[i] = gateFade(_mm_cvtss_f32(x), below & 1, fadeL, times, false) * gain;
            right[i] = gateFade(lane1(x), below & 2, fadeR, times, true) * gain;
        }
    }
    dcSumL = _mm_cvtss_f32(dcSum);
    dcSumR = lane1(dcSum);
    sumL = _mm_cvtss_f32(sum);
    sumR = lane1(sum);
#else
    for (uint32_t i = 0; i < n; ++i) {
        float xL = left[i], xR = right[i];
        if constexpr (kDc) {
            dcSumL = dcSumL + xL;
            dcSumL = dcSumL - dcRingL[dcPosition];
            dcRingL[dcPosition] = xL;
            dcSumR = dcSumR + xR;
            dcSumR = dcSumR - dcRingR[dcPosition];
            dcRingR[dcPosition] = xR;
            if (++dcPosition == dc.window) dcPosition = 0;
            xL = static_cast<float>(xL - static_cast<double>(dcSumL) / dcWindow);
            xR = static_cast<float>(xR - static_cast<double>(dcSumR) / dcWindow);
        }
        if (++position == gate.window) position = 0;
        double levelL = gateLevel(xL, sumL, gateRingL, position, gateWindow);
        double levelR = gateLevel(xR, sumR, gateRingR, position, gateWindow);
        left[i] = gateFade(xL, levelL < threshold, fadeL, times, false) * gain;
        right[i] = gateFade(xR, levelR < threshold, fadeR, times, true) * gain;
    }
#endif
    if constexpr (kDc) {
        dc.position = dcPosition;
        dc.sum[0] = dcSumL;
        dc.sum[1] = dcSumR;
    }
    gate.position = position;
    gate.sum[0] = sumL;
    gate.fade[0] = fadeL;
    gate.sum[1] = sumR;
    gate.fade[1] = fadeR;
}

void conditionInput(EngineState& e) {
    const bool dcOn = e.dcRemoverOn.load(std::memory_order_relaxed);
    const DcRemoverState& dc = e.dcRemover;
    const GateState& gate = e.gate;
    const bool dcReady = dc.ring[0] && dc.ring[1] && dc.window != 0;
    if (e.inputR && gate.ring[0] && gate.ring[1] && gate.window != 0 && (!dcOn || dcReady)) {
        dcOn ? conditionStereo<true>(e) : conditionStereo<false>(e);
        return;
    }
    if (dcOn) dcRemoverProcess(e);
    gateProcess(e);
}

void gateProcess(EngineState& e) {
    GateState& gate = e.gate;
    if (!gate.ring[0] || gate.window == 0) return;
    const GateTimes times = gateTimes(e);
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
        left[i] = gateFade(x, level < threshold, fadeL, times, false) * gain;
        if (right) {
            x = right[i];
            level = gateLevel(x, sumR, gate.ring[1], position, window);
            right[i] = gateFade(x, level < threshold, fadeR, times, true) * gain;
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

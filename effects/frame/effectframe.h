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

struct EditorModel;

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
    // The editor (effects/<name>/controls.cpp) and the parameters it edits,
    // by index page * pageParams + param. setParam limits the value to the
    // parameter's range and re-derives what depends on it. UI thread.
    const EditorModel* editor;
    double (*getParam)(int index);
    void (*setParam)(int index, double value);
};

// Defined once by each effect module.
extern const EffectDescriptor kEffect;

// The rate and block length last set by the host.
uint32_t effectSampleRate();
uint32_t effectBlockSize();
// Index of the current preset.
int effectCurrentPreset();

// `value` limited to the range of parameter `index` of the editor model;
// not-a-number gives the lower bound. Chunks, presets and the editor all
// store through it, so a damaged chunk never reaches the audio path.
double effectLimitParam(int index, double value);

// The editor dialog (editor_win32.cpp; without windows, no editor): creates
// it under `parent`, writes its width and height; 0 on failure.
intptr_t effectOpenEditor(int32_t* size, intptr_t parent);
// Shows the current parameters in the open editor, if any, without moving
// the keyboard focus.
void effectRefreshEditor();

// Asks the wrapper (PQ_SET_EDITOR_REQUESTS) to tell its host `request`
// (ER_...) about parameter `index`; 0 when the wrapper never gave a way to.
// UI thread.
intptr_t effectEditorRequest(intptr_t request, int index);
// Whether the wrapper listens to editor requests at all.
bool effectEditorRequestsHeard();

// A zero-filled line of `length` floats (null for 0), and its release.
float* effectAllocLine(uint32_t length);
void effectFreeLine(float*& line);

// Replaces a float whose exponent bits are all zero (zero or denormal) or all
// ones (infinite, not a number) by +0.0 before it is stored into a recursive
// path: denormals cost time, and a loop that ran away recovers instead of
// carrying infinity or NaN for ever.
inline float denormalGuard(float x) {
    uint32_t bits;
    __builtin_memcpy(&bits, &x, sizeof bits);
    const uint32_t exponent = bits & 0x7f800000u;
    return exponent != 0 && exponent != 0x7f800000u ? x : 0.0f;
}

// Replaces an infinite or NaN float by +0.0 and leaves every finite one as it
// is: for recursive paths that have no denormal guard of their own (the
// chorus lines, the reverb's all-passes), whose finite samples must stay
// exactly what they are.
inline float finiteGuard(float x) {
    uint32_t bits;
    __builtin_memcpy(&bits, &x, sizeof bits);
    return (bits & 0x7f800000u) != 0x7f800000u ? x : 0.0f;
}

// |cos(x)| rounded to float, bit for bit what fabs(float(cos(double(x))))
// gives with the C library's cos of this build, at a fraction of its cost
// (the modulated delays need one per channel and sample). A polynomial in
// double precision comes within 2^-50 of the exact value; when the whole
// interval of its error and the library's (2^-44 relative plus 2^-56, far
// beyond both, the x87 cos of the Windows build included) rounds to one
// float, that float is the library's too. Otherwise, a few times in a
// million arguments, and for large, infinite or NaN arguments, the library
// answers itself.
inline float rectifiedCos(float x) {
    const double d = x;
    if (!(d > -32768.0 && d < 32768.0)) return __builtin_fabsf(static_cast<float>(__builtin_cos(d)));
    // k = d * 2/pi rounded to an integer (the 1.5 * 2^52 shift rounds to
    // nearest); r = d - k * pi/2 in three parts, exact products for |k| < 2^20.
    const double shifted = d * 0.63661977236758134308 + 0x1.8p52;
    const double k = shifted - 0x1.8p52;
    const double r = ((d - k * 1.57079632673412561417e+00) - k * 6.07710050630396597660e-11) -
                     k * 2.02226624879595063154e-21;
    const double z = r * r;
    // Odd quadrants: |cos| = |sin(r)|, even ones |cos(r)|.
    uint64_t bits;
    __builtin_memcpy(&bits, &shifted, sizeof bits);
    double a;
    if (bits & 1) {
        a = r + r * z * (-1.0 / 6 + z * (1.0 / 120 + z * (-1.0 / 5040 + z * (1.0 / 362880 + z * (-1.0 / 39916800 +
            z * (1.0 / 6227020800 + z * (-1.0 / 1307674368000 + z * (1.0 / 355687428096000))))))));
    } else {
        a = 1.0 + z * (-1.0 / 2 + z * (1.0 / 24 + z * (-1.0 / 720 + z * (1.0 / 40320 + z * (-1.0 / 3628800 +
            z * (1.0 / 479001600 + z * (-1.0 / 87178291200 + z * (1.0 / 20922789888000))))))));
    }
    a = __builtin_fabs(a);
    const double margin = a * 0x1p-44 + 0x1p-56;
    const float low = static_cast<float>(a - margin);
    if (low == static_cast<float>(a + margin)) return low;
    return __builtin_fabsf(static_cast<float>(__builtin_cos(d)));
}

// rectifiedCos of `count` arguments, four or eight at a time in
// double-precision vectors (AVX2 or AVX-512 where the processor has them,
// asked once per process): the same floats as one call per argument,
// whatever the path.
template <int N>
struct EffectLanes;
template <>
struct EffectLanes<4> {
    typedef double Double __attribute__((vector_size(32)));
    typedef int64_t Int __attribute__((vector_size(32)));
    typedef float Float __attribute__((vector_size(16)));
    typedef int32_t Int32 __attribute__((vector_size(16)));
};
template <>
struct EffectLanes<8> {
    typedef double Double __attribute__((vector_size(64)));
    typedef int64_t Int __attribute__((vector_size(64)));
    typedef float Float __attribute__((vector_size(32)));
    typedef int32_t Int32 __attribute__((vector_size(32)));
};
typedef EffectLanes<4>::Float EffectFloat4;
typedef EffectLanes<4>::Int32 EffectInt4x32;

// The two polynomials of rectifiedCos, a vector at a time, evaluated in a
// tree (Estrin's scheme) rather than one term after the other: a shorter
// chain of dependent steps. Its rounding differs from the scalar form's by
// a few units of the last double place, far inside the margin, so the float
// that comes out is the same.
template <typename D>
[[gnu::always_inline]] inline void effectSineTaylor(const D& r, const D& z, D& out) {
    const D z2 = z * z;
    const D z4 = z2 * z2;
    const D p01 = -1.0 / 6 + z * (1.0 / 120);
    const D p23 = -1.0 / 5040 + z * (1.0 / 362880);
    const D p45 = -1.0 / 39916800 + z * (1.0 / 6227020800);
    const D p67 = -1.0 / 1307674368000 + z * (1.0 / 355687428096000);
    const D p03 = p01 + z2 * p23;
    const D p47 = p45 + z2 * p67;
    out = r + r * z * (p03 + z4 * p47);
}
template <typename D>
[[gnu::always_inline]] inline void effectCosineTaylor(const D& z, D& out) {
    const D z2 = z * z;
    const D z4 = z2 * z2;
    const D p01 = 1.0 + z * (-1.0 / 2);
    const D p23 = 1.0 / 24 + z * (-1.0 / 720);
    const D p45 = 1.0 / 40320 + z * (-1.0 / 3628800);
    const D p67 = 1.0 / 479001600 + z * (-1.0 / 87178291200);
    const D p03 = p01 + z2 * p23;
    const D p47 = p45 + z2 * p67;
    out = p03 + z4 * (p47 + z4 * (1.0 / 20922789888000));
}

template <int N>
[[gnu::always_inline]] inline void rectifiedCosLanes(const float* x, float* out, uint32_t count) {
    typedef typename EffectLanes<N>::Double D;
    typedef typename EffectLanes<N>::Int I;
    typedef typename EffectLanes<N>::Float F;
    typedef typename EffectLanes<N>::Int32 I32;
    uint32_t i = 0;
    for (; i + N <= count; i += N) {
        F xf;
        __builtin_memcpy(&xf, x + i, sizeof xf);
        const D d = __builtin_convertvector(xf, D);
        const I32 inRange = (xf > -32768.0f) & (xf < 32768.0f);
        const D shifted = d * 0.63661977236758134308 + 0x1.8p52;
        const D k = shifted - 0x1.8p52;
        const D r = ((d - k * 1.57079632673412561417e+00) - k * 6.07710050630396597660e-11) -
                    k * 2.02226624879595063154e-21;
        const D z = r * r;
        // A slow oscillator keeps neighbours in one quadrant nearly always:
        // then one of the two polynomials does.
        const I odd = (__builtin_bit_cast(I, shifted) & 1) != 0;
        int64_t anyOdd = 0, allOdd = -1;
        for (int lane = 0; lane < N; ++lane) anyOdd |= odd[lane], allOdd &= odd[lane];
        D a;
        if (allOdd) {
            effectSineTaylor(r, z, a);
        } else if (!anyOdd) {
            effectCosineTaylor(z, a);
        } else {
            D sine, cosine;
            effectSineTaylor(r, z, sine);
            effectCosineTaylor(z, cosine);
            a = odd ? sine : cosine;
        }
        a = __builtin_bit_cast(D, __builtin_bit_cast(I, a) & 0x7fffffffffffffffLL);
        const D margin = a * 0x1p-44 + 0x1p-56;
        const F low = __builtin_convertvector(a - margin, F);
        const F high = __builtin_convertvector(a + margin, F);
        const I32 sure = (low == high) & inRange;
        uint64_t sureBits[N / 2];
        __builtin_memcpy(sureBits, &sure, sizeof sure);
        uint64_t all = ~uint64_t{0};
        for (int word = 0; word < N / 2; ++word) all &= sureBits[word];
        if (all == ~uint64_t{0}) {
            __builtin_memcpy(out + i, &low, sizeof low);
        } else {
            for (uint32_t j = i; j < i + N; ++j) out[j] = rectifiedCos(x[j]);
        }
    }
    for (; i < count; ++i) out[i] = rectifiedCos(x[i]);
}

// The widest vectors the loops may use: 8 (AVX-512), 4 (AVX2) or 1. Asked
// once (call it first off the audio thread, as setting the sample rate
// does, so no block waits for the answer).
// The answer is kept in a plain atomic, not a guarded static: a guarded
// static's first use goes through the threads library's once-machinery,
// which in a statically linked module leaves a thread handle and an event
// behind every time the module is loaded and unloaded. Two threads asking
// at once both work out the same answer.
inline int effectVectorLanes() {
#if defined(__x86_64__) || defined(_M_X64)
    static std::atomic<int> known{0};
    int lanes = known.load(std::memory_order_relaxed);
    if (lanes == 0) {
        __builtin_cpu_init();
        lanes = __builtin_cpu_supports("avx512f") ? 8 : __builtin_cpu_supports("avx2") ? 4 : 1;
        known.store(lanes, std::memory_order_relaxed);
    }
    return lanes;
#else
    return 1;
#endif
}
inline bool effectHasAvx2() { return effectVectorLanes() >= 4; }

#if defined(__x86_64__) || defined(_M_X64)
__attribute__((target("avx2"))) inline void rectifiedCosAvx2(const float* x, float* out, uint32_t count) {
    rectifiedCosLanes<4>(x, out, count);
}
__attribute__((target("avx512f"))) inline void rectifiedCosAvx512(const float* x, float* out, uint32_t count) {
    rectifiedCosLanes<8>(x, out, count);
}
#endif

inline void rectifiedCosArray(const float* x, float* out, uint32_t count) {
#if defined(__x86_64__) || defined(_M_X64)
    const int lanes = effectVectorLanes();
    if (lanes == 8) return rectifiedCosAvx512(x, out, count);
    if (lanes == 4) return rectifiedCosAvx2(x, out, count);
#endif
    rectifiedCosLanes<4>(x, out, count);
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

// The read points of a stretch of at most kEffectStretch frames whose write
// positions run from `p` to p + count - 1 without wrapping: t = p + j -
// offset[j] brought into the line as wrapReadPosition does, N frames at a
// time without branches, then split into the sample before the point, the
// one after it (0 past the end) and the fraction between them. `offset` is
// read up to the next multiple of N (at most kEffectStretch). False when a point needs the slow
// wrap (damaged chunks only) or falls on a position that an earlier frame
// of the stretch writes: then the frames must run one by one.
constexpr uint32_t kEffectStretch = 64;

struct EffectReadPoints {
    int32_t at[kEffectStretch];
    int32_t next[kEffectStretch];
    float fraction[kEffectStretch];
};

template <int N>
[[gnu::always_inline]] inline bool effectReadPointsLanes(const float* offset, uint32_t p, uint32_t count,
                                                         uint32_t length, EffectReadPoints& out) {
    typedef typename EffectLanes<N>::Float F;
    typedef typename EffectLanes<N>::Int32 I;
    const float size = static_cast<float>(length);
    const int32_t n = static_cast<int32_t>(length), first = static_cast<int32_t>(p);
    const F k = F{} + size;
    const I lengths = I{} + n;
    I frame;
    for (int lane = 0; lane < N; ++lane) frame[lane] = lane;
    I trouble = I{};
    for (uint32_t j = 0; j < count; j += N, frame += N) {
        F o;
        __builtin_memcpy(&o, offset + j, sizeof o);
        const I position = frame + first;
        F t = __builtin_convertvector(position, F) - o;
        t = t < 0.0f ? t + k : t;
        t = t < 0.0f ? t + k : t;
        const I used = frame < static_cast<int32_t>(count);
        trouble |= used & (t < 0.0f);
        t = t >= k ? t - k : t;
        t = ((t >= 0.0f) & (t < k)) ? t : 0.0f;
        const I a = __builtin_convertvector(t, I);
        I c = a + 1;
        c = c >= lengths ? 0 : c;
        trouble |= used & (((a >= first) & (a < position)) | ((c >= first) & (c < position)));
        __builtin_memcpy(out.at + j, &a, sizeof a);
        __builtin_memcpy(out.next + j, &c, sizeof c);
        const F f = t - __builtin_convertvector(a, F);
        __builtin_memcpy(out.fraction + j, &f, sizeof f);
    }
    uint64_t bits[N / 2];
    __builtin_memcpy(bits, &trouble, sizeof trouble);
    uint64_t any = 0;
    for (int word = 0; word < N / 2; ++word) any |= bits[word];
    return any == 0;
}

inline bool effectReadPoints(const float* offset, uint32_t p, uint32_t count, uint32_t length, EffectReadPoints& out) {
    return effectReadPointsLanes<4>(offset, p, count, length, out);
}

// An oscillator's phases for `count` frames, as the loop
//   out[j] = phase; phase = phase + increment; if (phase > top) phase = 0;
// gives them; returns the phase after the last step. Within one binade
// [2^e, 2^(e+1)) every float is a multiple of one ulp, and adding the
// increment rounds it by the same step (unless it lies exactly halfway
// between two multiples, where the rounding alternates): the phases are
// then phase + j * step, all exact, as long as the last one stays in the
// binade and below `top`. Otherwise (near the binade edges, after a wrap,
// a few stretches in a cycle) the loop runs as written.
inline float effectPhases(float phase, float increment, float top, float* out, uint32_t count) {
    uint32_t bits;
    __builtin_memcpy(&bits, &phase, sizeof bits);
    const uint32_t exponent = bits >> 23;  // sign clear for positive phases
    if (count > 0 && exponent > 24 && exponent < 254 && increment >= 0.0f && increment < 1.0f) {
        const uint32_t ulpBits = (exponent - 23) << 23, edgeBits = (exponent + 1) << 23;
        float ulp, edge;
        __builtin_memcpy(&ulp, &ulpBits, sizeof ulp);
        __builtin_memcpy(&edge, &edgeBits, sizeof edge);
        const float step = (phase + increment) - phase;
        const double rest = static_cast<double>(increment) - static_cast<double>(step);
        const float last = phase + static_cast<float>(count) * step;
        if (__builtin_fabs(rest) != 0.5 * static_cast<double>(ulp) && last < edge && last <= top) {
            for (uint32_t j = 0; j < count; ++j) out[j] = phase + static_cast<float>(j) * step;
            return last;
        }
    }
    for (uint32_t j = 0; j < count; ++j) {
        out[j] = phase;
        phase = phase + increment;
        if (phase > top) phase = 0.0f;
    }
    return phase;
}

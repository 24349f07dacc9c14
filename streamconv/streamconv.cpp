// The sample stream converter.
//
// Every call decides format, channel layout and direction once, then runs one
// tight per-frame loop made for that combination (a template instance per
// codec, layout and direction). Nothing here allocates or calls the system:
// every call runs inside an audio block period.
//
// Integer writes saturate: the engine clips its output to +-1.0, and +1.0 is
// one step beyond the largest positive 8-, 16- and 32-bit sample, so wrapping
// would turn every clipped sample into a full-scale spike of the other sign.
// A value that is not a number is written as silence.
#include "streamconv/streamconv.h"

#include <cstring>

#include "streamconv/fastpaths.h"

namespace {

// Resampling history: one previous sample per channel and slot. Reads keep raw
// device values (integer sample units, or the float value), writes keep float
// buffer values, so a slot belongs to one stream in one direction.
double historyLeft[256];
double historyRight[256];
int32_t currentSlot = 0;

inline void resetHistory() {
    historyLeft[currentSlot & 0xFF] = 0.0;
    historyRight[currentSlot & 0xFF] = 0.0;
}

// Clamps to an integer range and truncates toward zero. Clamping first and
// truncating after gives the same as the other way round for integer bounds,
// and keeps the conversion defined for any input.
template <int64_t Lo, int64_t Hi, int64_t Silence>
inline int64_t saturate(double v) {
    if (v >= static_cast<double>(Lo)) return v <= static_cast<double>(Hi) ? static_cast<int64_t>(v) : Hi;
    return v < static_cast<double>(Lo) ? Lo : Silence;  // the second case: not a number
}

inline int32_t loadLe16(const uint8_t* p) { return static_cast<int16_t>(p[0] | (p[1] << 8)); }
inline void storeLe16(uint8_t* p, int64_t v) {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
}

// One sample format: how a raw sample is loaded and scaled, and how a float
// value is scaled and stored. `Raw` values are what the resampler interpolates
// for reads and what the history of a read slot holds.
struct PcmU8 {
    static double load(const uint8_t* p) { return p[0]; }
    static float toFloat(const uint8_t* p) { return static_cast<float>(static_cast<int>(p[0]) - 128) / 127.0f; }
    static float scaleRaw(double v) { return static_cast<float>((v - 128.0) / 127.0); }
    static void store(uint8_t* p, double x) { p[0] = static_cast<uint8_t>(saturate<0, 255, 128>(x * 127.0 + 128.0)); }
    // The offset 128 is added once: the left value is converted, then the
    // right one added at scale.
    static void storeSum(uint8_t* p, double l, double r) {
        double first = static_cast<double>(saturate<-(1LL << 40), (1LL << 40), 128>(l * 127.0 + 128.0));
        p[0] = static_cast<uint8_t>(saturate<0, 255, 128>(first + r * 127.0));
    }
};

struct PcmS16 {
    static double load(const uint8_t* p) { return loadLe16(p); }
    static float toFloat(const uint8_t* p) { return static_cast<float>(loadLe16(p)) / 32768.0f; }
    static float scaleRaw(double v) { return static_cast<float>(v / 32768.0); }
    static void store(uint8_t* p, double x) { storeLe16(p, saturate<-32768, 32767, 0>(x * 32768.0)); }
    static void storeSum(uint8_t* p, double l, double r) {
        double first = static_cast<double>(saturate<-(1LL << 40), (1LL << 40), 0>(l * 32768.0));
        storeLe16(p, saturate<-32768, 32767, 0>(first + r * 32768.0));
    }
};

// 24-bit data is scaled by 2^23 - 1, not 2^23, and clamps to +-(2^23 - 1).
struct PcmS24 {
    static int32_t raw(const uint8_t* p) {
        uint32_t u = static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
                     (static_cast<uint32_t>(p[2]) << 16);
        return static_cast<int32_t>(u << 8) >> 8;
    }
    static double load(const uint8_t* p) { return raw(p); }
    static float toFloat(const uint8_t* p) { return static_cast<float>(raw(p)) / 8388607.0f; }
    static float scaleRaw(double v) { return static_cast<float>(v / 8388607.0); }
    static void store(uint8_t* p, double x) {
        int64_t v = saturate<-8388607, 8388607, 0>(x * 8388607.0);
        p[0] = static_cast<uint8_t>(v);
        p[1] = static_cast<uint8_t>(v >> 8);
        p[2] = static_cast<uint8_t>(v >> 16);
    }
    // The two values are summed as floats, then converted.
    static void storeSum(uint8_t* p, double l, double r) {
        store(p, static_cast<double>(static_cast<float>(l) + static_cast<float>(r)));
    }
};

struct PcmS32 {
    static int32_t raw(const uint8_t* p) {
        uint32_t u;
        std::memcpy(&u, p, 4);
        return static_cast<int32_t>(u);
    }
    static double load(const uint8_t* p) { return raw(p); }
    static float toFloat(const uint8_t* p) { return static_cast<float>(raw(p) / 2147483648.0); }
    static float scaleRaw(double v) { return static_cast<float>(v / 2147483648.0); }
    static void put(uint8_t* p, int64_t v) {
        uint32_t u = static_cast<uint32_t>(v);
        std::memcpy(p, &u, 4);
    }
    static void store(uint8_t* p, double x) { put(p, saturate<INT32_MIN, INT32_MAX, 0>(x * 2147483648.0)); }
    static void storeSum(uint8_t* p, double l, double r) {
        double first = static_cast<double>(saturate<-(1LL << 40), (1LL << 40), 0>(l * 2147483648.0));
        put(p, saturate<INT32_MIN, INT32_MAX, 0>(first + r * 2147483648.0));
    }
};

struct Float32 {
    static float raw(const uint8_t* p) {
        float f;
        std::memcpy(&f, p, 4);
        return f;
    }
    static double load(const uint8_t* p) { return raw(p); }
    static float toFloat(const uint8_t* p) { return raw(p); }
    static float scaleRaw(double v) { return static_cast<float>(v); }
    static void store(uint8_t* p, double x) {
        float f = static_cast<float>(x);
        std::memcpy(p, &f, 4);
    }
    static void storeSum(uint8_t* p, double l, double r) {
        store(p, static_cast<double>(static_cast<float>(l) + static_cast<float>(r)));
    }
};

struct Float64 {
    static double load(const uint8_t* p) {
        double d;
        std::memcpy(&d, p, 8);
        return d;
    }
    static float toFloat(const uint8_t* p) { return static_cast<float>(load(p)); }
    static float scaleRaw(double v) { return static_cast<float>(v); }
    static void store(uint8_t* p, double x) { std::memcpy(p, &x, 8); }
    static void storeSum(uint8_t* p, double l, double r) {
        store(p, static_cast<double>(static_cast<float>(l) + static_cast<float>(r)));
    }
};

// Device channels and whether a right float buffer is given.
enum Layout { kTwoToTwo, kTwoToOne, kOneToTwo, kOneToOne };

struct Call {
    uint8_t* device;
    float* left;
    float* right;
    uint32_t deviceFrames;
    uint32_t floatFrames;
    unsigned stride;      // block alignment
    unsigned secondAt;    // offset of the second channel's sample
};

// Equal frame counts: a straight per-frame loop, history untouched.
template <class Codec, Layout L>
void readEqual(const Call& c) {
    const uint8_t* d = c.device;
    const unsigned stride = c.stride, second = c.secondAt;
    float* left = c.left;
    float* right = c.right;
    const uint32_t n = c.deviceFrames;
    for (uint32_t i = 0; i < n; ++i, d += stride) {
        if constexpr (L == kTwoToTwo) {
            left[i] = Codec::toFloat(d);
            right[i] = Codec::toFloat(d + second);
        } else if constexpr (L == kTwoToOne) {
            left[i] = Codec::toFloat(d) + Codec::toFloat(d + second);
        } else if constexpr (L == kOneToTwo) {
            float v = Codec::toFloat(d);
            left[i] = v;
            right[i] = v;
        } else {
            left[i] = Codec::toFloat(d);
        }
    }
}

template <class Codec, Layout L>
void writeEqual(const Call& c) {
    uint8_t* d = c.device;
    const unsigned stride = c.stride, second = c.secondAt;
    const float* left = c.left;
    const float* right = c.right;
    const uint32_t n = c.deviceFrames;
    for (uint32_t i = 0; i < n; ++i, d += stride) {
        if constexpr (L == kTwoToTwo) {
            Codec::store(d, left[i]);
            Codec::store(d + second, right[i]);
        } else if constexpr (L == kTwoToOne) {
            Codec::store(d, left[i]);
            Codec::store(d + second, left[i]);
        } else if constexpr (L == kOneToTwo) {
            Codec::storeSum(d, left[i], right[i]);
        } else {
            Codec::store(d, left[i]);
        }
    }
}

// Linear resampling: the read position advances by source/target frames per
// target frame, restarting at 0 every call; each value extrapolates from the
// previous source frame (the slot's history before the first one). The
// target never reads beyond the last source frame.
struct Stepper {
    float p = 0.0f;
    float step;
    float last;  // S - 1
    uint32_t lastIndex;

    Stepper(uint32_t source, uint32_t target)
        : step(static_cast<float>(static_cast<long double>(source) / static_cast<long double>(target))),
          last(static_cast<float>(source - 1)),
          lastIndex(source - 1) {}

    // Index and fraction of the current position.
    uint32_t index(float& fraction) const {
        uint32_t i = static_cast<uint32_t>(p);
        if (i > lastIndex) i = lastIndex;  // a float S - 1 may round up for huge S
        fraction = p - static_cast<float>(i);
        return i;
    }
    void advance(float sourceFrames) {
        p = p + step;
        if (p >= sourceFrames) p = last;
    }
};

inline double extrapolate(double current, double previous, float fraction) {
    return current + static_cast<double>(fraction) * (current - previous);
}

template <class Codec, Layout L>
void readResampled(const Call& c) {
    const uint32_t source = c.deviceFrames, target = c.floatFrames;
    const uint8_t* d = c.device;
    const unsigned stride = c.stride, second = c.secondAt;
    const int slot = currentSlot & 0xFF;
    const double historyL = historyLeft[slot];
    // A two-channel device read into one buffer uses the left history for both.
    const double historyR = L == kTwoToTwo ? historyRight[slot] : historyL;
    Stepper s(source, target);
    const float sourceFrames = static_cast<float>(source);
    for (uint32_t t = 0; t < target; ++t) {
        float f;
        uint32_t i = s.index(f);
        const uint8_t* frame = d + static_cast<size_t>(i) * stride;
        double a = extrapolate(Codec::load(frame), i ? Codec::load(frame - stride) : historyL, f);
        if constexpr (L == kTwoToTwo || L == kTwoToOne) {
            double b = extrapolate(Codec::load(frame + second), i ? Codec::load(frame - stride + second) : historyR, f);
            if constexpr (L == kTwoToTwo) {
                c.left[t] = Codec::scaleRaw(a);
                c.right[t] = Codec::scaleRaw(b);
            } else {
                c.left[t] = Codec::scaleRaw(a) + Codec::scaleRaw(b);
            }
        } else if constexpr (L == kOneToTwo) {
            float v = Codec::scaleRaw(a);
            c.left[t] = v;
            c.right[t] = v;
        } else {
            c.left[t] = Codec::scaleRaw(a);
        }
        s.advance(sourceFrames);
    }
    const uint8_t* lastFrame = d + static_cast<size_t>(source - 1) * stride;
    historyLeft[slot] = Codec::load(lastFrame);
    historyRight[slot] = L == kTwoToTwo ? Codec::load(lastFrame + second) : 0.0;
}

template <class Codec, Layout L>
void writeResampled(const Call& c) {
    const uint32_t source = c.floatFrames, target = c.deviceFrames;
    uint8_t* d = c.device;
    const unsigned stride = c.stride, second = c.secondAt;
    const float* left = c.left;
    const float* right = c.right;
    const int slot = currentSlot & 0xFF;
    const double historyL = historyLeft[slot];
    const double historyR = historyRight[slot];
    Stepper s(source, target);
    const float sourceFrames = static_cast<float>(source);
    for (uint32_t t = 0; t < target; ++t, d += stride) {
        float f;
        uint32_t i = s.index(f);
        double a = extrapolate(left[i], i ? left[i - 1] : historyL, f);
        if constexpr (L == kTwoToTwo || L == kOneToTwo) {
            double b = extrapolate(right[i], i ? right[i - 1] : historyR, f);
            if constexpr (L == kTwoToTwo) {
                Codec::store(d, a);
                Codec::store(d + second, b);
            } else {
                Codec::storeSum(d, a, b);
            }
        } else if constexpr (L == kTwoToOne) {
            Codec::store(d, a);
            Codec::store(d + second, a);
        } else {
            Codec::store(d, a);
        }
        s.advance(sourceFrames);
    }
    historyLeft[slot] = left[source - 1];
    historyRight[slot] = right ? right[source - 1] : 0.0;
}

template <class Codec, Layout L>
void convertLayout(const Call& c, bool toDevice) {
    const bool resample = c.deviceFrames != c.floatFrames;
    if (toDevice)
        resample ? writeResampled<Codec, L>(c) : writeEqual<Codec, L>(c);
    else
        resample ? readResampled<Codec, L>(c) : readEqual<Codec, L>(c);
}

template <class Codec>
void convert(const Call& c, Layout layout, bool toDevice) {
    switch (layout) {
        case kTwoToTwo: convertLayout<Codec, kTwoToTwo>(c, toDevice); break;
        case kTwoToOne: convertLayout<Codec, kTwoToOne>(c, toDevice); break;
        case kOneToTwo: convertLayout<Codec, kOneToTwo>(c, toDevice); break;
        case kOneToOne: convertLayout<Codec, kOneToOne>(c, toDevice); break;
    }
}

enum class Codec { kNone, kU8, kS16, kS24, kS32, kF32, kF64 };

// The codec a format selects; kNone when unsupported. Float formats are
// chosen by block alignment (a float format is one channel per call).
Codec codecFor(const StreamFormat& format, unsigned& sampleBytes) {
    if (format.wFormatTag == kFormatPcm) {
        switch (format.wBitsPerSample) {
            case 8: sampleBytes = 1; return Codec::kU8;
            case 16: sampleBytes = 2; return Codec::kS16;
            case 24: sampleBytes = 3; return Codec::kS24;
            case 32: sampleBytes = 4; return Codec::kS32;
            default: return Codec::kNone;
        }
    }
    if (format.wFormatTag == kFormatIeeeFloat && format.nChannels == 1) {
        if (format.nBlockAlign == 4) { sampleBytes = 4; return Codec::kF32; }
        if (format.nBlockAlign == 8) { sampleBytes = 8; return Codec::kF64; }
    }
    return Codec::kNone;
}

bool isResetForm(const StreamFormat* format, const void* deviceData, const float* left, uint32_t deviceFrames,
                 uint32_t floatFrames) {
    return !format || !deviceData || !left || deviceFrames == 0 || floatFrames == 0;
}

// Big-endian byte order, reversed in place frame by frame: each sample's
// whole container (a channel's share of the block alignment), so that a
// 16- or 24-bit sample right-aligned in four bytes and a 64-bit float come
// out in little-endian order as well as the packed widths do. Returns false
// for 8-bit data, which has no byte order, and for containers of other sizes.
bool swapByteOrder(const StreamFormat& format, uint8_t* data, uint32_t frames) {
    const unsigned stride = format.nBlockAlign;
    const unsigned channels = format.nChannels == 2 ? 2 : 1;
    const unsigned width = stride / channels;
    if (format.wBitsPerSample <= 8 || (width != 2 && width != 3 && width != 4 && width != 8)) return false;
    if (format.wBitsPerSample > 8 * width) return false;
    for (uint32_t i = 0; i < frames; ++i, data += stride) {
        for (unsigned at = 0; at < channels * width; at += width) {
            uint8_t* s = data + at;
            for (unsigned lo = 0, hi = width - 1; lo < hi; ++lo, --hi) {
                uint8_t t = s[lo];
                s[lo] = s[hi];
                s[hi] = t;
            }
        }
    }
    return true;
}

}  // namespace

STREAMCONV_EXPORT int32_t STREAMCONV_CALL setStreamHistory(int32_t slot) {
    currentSlot = slot;
    return slot;
}

STREAMCONV_EXPORT int32_t STREAMCONV_CALL processStream(const StreamFormat* format, void* deviceData, float* left,
                                                        float* right, uint32_t deviceFrames, uint32_t floatFrames,
                                                        uint32_t toDevice) {
    if (isResetForm(format, deviceData, left, deviceFrames, floatFrames)) {
        resetHistory();
        return 1;
    }
    const unsigned channels = format->nChannels;
    if (channels != 1 && channels != 2) return 0;
    unsigned sampleBytes = 0;
    Codec codec = codecFor(*format, sampleBytes);
    if (codec == Codec::kNone) return 0;
    // The second channel's sample sits at half the block alignment; a frame
    // too small for its samples would make the loops read or write past the
    // caller's buffer, so such a format is refused like any unsupported one.
    const unsigned stride = format->nBlockAlign;
    const unsigned secondAt = stride / 2;
    if ((channels == 1 && stride < sampleBytes) || (channels == 2 && secondAt < sampleBytes)) return 0;

    Layout layout = channels == 2 ? (right ? kTwoToTwo : kTwoToOne) : (right ? kOneToTwo : kOneToOne);
    Call c{static_cast<uint8_t*>(deviceData), left, right, deviceFrames, floatFrames, stride, secondAt};
    const bool write = (toDevice & 0xFF) != 0;

    // The everyday device case: packed stereo, one float buffer per channel.
    if (layout == kTwoToTwo && deviceFrames == floatFrames && (codec == Codec::kS16 || codec == Codec::kS24) &&
        stride == 2 * sampleBytes) {
        const unsigned bits = 8 * sampleBytes;
        if (write ? fastWritePacked(bits, c.device, left, right, deviceFrames)
                  : fastReadPacked(bits, c.device, left, right, deviceFrames))
            return 1;
    }
    switch (codec) {
        case Codec::kU8: convert<PcmU8>(c, layout, write); break;
        case Codec::kS16: convert<PcmS16>(c, layout, write); break;
        case Codec::kS24: convert<PcmS24>(c, layout, write); break;
        case Codec::kS32: convert<PcmS32>(c, layout, write); break;
        case Codec::kF32: convert<Float32>(c, layout, write); break;
        case Codec::kF64: convert<Float64>(c, layout, write); break;
        case Codec::kNone: return 0;
    }
    return 1;
}

STREAMCONV_EXPORT int32_t STREAMCONV_CALL processStreamMSB(const StreamFormat* format, void* deviceData, float* left,
                                                           float* right, uint32_t deviceFrames,
                                                           uint32_t floatFrames, uint32_t toDevice) {
    if (isResetForm(format, deviceData, left, deviceFrames, floatFrames))
        return processStream(format, deviceData, left, right, deviceFrames, floatFrames, toDevice);
    uint8_t* data = static_cast<uint8_t*>(deviceData);
    if ((toDevice & 0xFF) != 0) {
        if (processStream(format, deviceData, left, right, deviceFrames, floatFrames, toDevice) == 0) return 0;
        return swapByteOrder(*format, data, deviceFrames) ? 1 : 0;
    }
    swapByteOrder(*format, data, deviceFrames);
    return processStream(format, deviceData, left, right, deviceFrames, floatFrames, toDevice);
}

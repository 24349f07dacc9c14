// Vector loops for the device formats met on every block: packed 16- and
// 24-bit stereo at equal frame counts. Each gives exactly the samples of the
// generic per-frame loops (the tests compare them), only faster.
//
// 16-bit needs nothing beyond SSE2, the x86-64 baseline. The 24-bit loops use
// SSSE3 byte shuffles when the processor has them, and both widths have AVX2
// loops; the processor is asked once per process.
//
// 24-bit scaling without double precision (both identities were checked over
// every input they can meet):
// - read: s / (2^23 - 1) rounds to the same float as s * 2^-23 + s * 2^-46
//   for every 24-bit integer s;
// - write: with y = x * 2^23 (exact) and i = trunc(y), trunc(x * (2^23 - 1))
//   is i, moved one step toward zero when |y - i| < |x|, for every float x in
//   [-1, 1]; beyond that range the sample saturates anyway.
#include "streamconv/fastpaths.h"

#include <cstddef>
#include <cstring>

#if defined(__x86_64__) || defined(_M_X64)
#include <immintrin.h>
#define STREAMCONV_X86 1
#endif

namespace {

#if defined(STREAMCONV_X86)

// ---- SSE2 / SSSE3, four frames at a time ----

// 16-bit write of four floats: scaled (exact, a power of two), clamped,
// truncated toward zero. min and max return their second operand when one is
// not a number, so such a value passes the clamp, converts to 0x80000000 and
// leaves 0 in the low bits that are stored: silence, as in the generic loops.
inline __m128i toPcm16(__m128 x) {
    __m128 v = _mm_mul_ps(x, _mm_set1_ps(32768.0f));
    v = _mm_min_ps(_mm_set1_ps(32767.0f), _mm_max_ps(_mm_set1_ps(-32768.0f), v));
    return _mm_cvttps_epi32(v);
}

inline __m128 fromPcm24(__m128i s) {
    __m128 x = _mm_cvtepi32_ps(s);
    return _mm_add_ps(_mm_mul_ps(x, _mm_set1_ps(0x1p-23f)), _mm_mul_ps(x, _mm_set1_ps(0x1p-46f)));
}

__attribute__((target("ssse3"))) inline __m128i toPcm24(__m128 x) {
    const __m128 magnitude = _mm_castsi128_ps(_mm_set1_epi32(0x7FFFFFFF));
    x = _mm_min_ps(_mm_set1_ps(1.0f), _mm_max_ps(_mm_set1_ps(-1.0f), x));  // not a number stays: see toPcm16
    __m128 y = _mm_mul_ps(x, _mm_set1_ps(0x1p23f));
    __m128i i = _mm_cvttps_epi32(y);
    __m128 fraction = _mm_sub_ps(y, _mm_cvtepi32_ps(i));
    __m128i adjust = _mm_castps_si128(_mm_cmplt_ps(_mm_and_ps(fraction, magnitude), _mm_and_ps(x, magnitude)));
    // One step toward zero: the all-ones mask is -1, negated for negative x.
    return _mm_add_epi32(i, _mm_sign_epi32(adjust, _mm_castps_si128(x)));
}

void readPcm16Stereo(const uint8_t* in, float* left, float* right, size_t frames) {
    const __m128 scale = _mm_set1_ps(1.0f / 32768.0f);
    size_t i = 0;
    for (; i + 4 <= frames; i += 4) {
        __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + 4 * i));
        __m128i l = _mm_srai_epi32(_mm_slli_epi32(x, 16), 16);
        __m128i r = _mm_srai_epi32(x, 16);
        _mm_storeu_ps(left + i, _mm_mul_ps(_mm_cvtepi32_ps(l), scale));
        _mm_storeu_ps(right + i, _mm_mul_ps(_mm_cvtepi32_ps(r), scale));
    }
    for (; i < frames; ++i) {
        int16_t s[2];
        std::memcpy(s, in + 4 * i, 4);
        left[i] = static_cast<float>(s[0]) / 32768.0f;
        right[i] = static_cast<float>(s[1]) / 32768.0f;
    }
}

void writePcm16Stereo(uint8_t* out, const float* left, const float* right, size_t frames) {
    size_t i = 0;
    for (; i + 4 <= frames; i += 4) {
        __m128i l = toPcm16(_mm_loadu_ps(left + i));
        __m128i r = toPcm16(_mm_loadu_ps(right + i));
        __m128i frame = _mm_or_si128(_mm_and_si128(l, _mm_set1_epi32(0xFFFF)), _mm_slli_epi32(r, 16));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 4 * i), frame);
    }
    for (; i < frames; ++i) {
        __m128i v = toPcm16(_mm_setr_ps(left[i], right[i], 0.0f, 0.0f));
        int16_t s[2] = {static_cast<int16_t>(_mm_cvtsi128_si32(v)),
                        static_cast<int16_t>(_mm_cvtsi128_si32(_mm_srli_si128(v, 4)))};
        std::memcpy(out + 4 * i, s, 4);
    }
}

inline void storePcm24(uint8_t* p, int32_t s) {
    p[0] = static_cast<uint8_t>(s);
    p[1] = static_cast<uint8_t>(s >> 8);
    p[2] = static_cast<uint8_t>(s >> 16);
}

inline int32_t loadPcm24(const uint8_t* p) {
    return static_cast<int32_t>((p[0] << 8) | (p[1] << 16) | (static_cast<uint32_t>(p[2]) << 24)) >> 8;
}

void readPcm24StereoTail(const uint8_t* in, float* left, float* right, size_t frames) {
    for (size_t i = 0; i < frames; ++i) {
        const uint8_t* p = in + 6 * i;
        left[i] = static_cast<float>(loadPcm24(p)) / 8388607.0f;
        right[i] = static_cast<float>(loadPcm24(p + 3)) / 8388607.0f;
    }
}

__attribute__((target("ssse3"))) void writePcm24StereoTail(uint8_t* out, const float* left, const float* right, size_t frames) {
    for (size_t i = 0; i < frames; ++i) {
        __m128i v = toPcm24(_mm_setr_ps(left[i], right[i], 0.0f, 0.0f));
        storePcm24(out + 6 * i, _mm_cvtsi128_si32(v));
        storePcm24(out + 6 * i + 3, _mm_cvtsi128_si32(_mm_srli_si128(v, 4)));
    }
}

// Places each 3-byte sample of two frames in the top of a 32-bit lane.
#define PCM24_PLACE -1, 0, 1, 2, -1, 3, 4, 5, -1, 6, 7, 8, -1, 9, 10, 11
// Packs the low three bytes of four lanes into twelve bytes.
#define PCM24_PACK 0, 1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14, -1, -1, -1, -1

__attribute__((target("ssse3"))) void readPcm24StereoSsse3(const uint8_t* in, float* left, float* right,
                                                           size_t frames) {
    const __m128i place = _mm_setr_epi8(PCM24_PLACE);
    size_t i = 0;
    // Each 16-byte load reaches 4 bytes into the frame after its pair.
    for (; i + 5 <= frames; i += 4) {
        const uint8_t* p = in + 6 * i;
        __m128 a = fromPcm24(_mm_srai_epi32(_mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)), place), 8));
        __m128 b = fromPcm24(
            _mm_srai_epi32(_mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 12)), place), 8));
        _mm_storeu_ps(left + i, _mm_shuffle_ps(a, b, _MM_SHUFFLE(2, 0, 2, 0)));
        _mm_storeu_ps(right + i, _mm_shuffle_ps(a, b, _MM_SHUFFLE(3, 1, 3, 1)));
    }
    readPcm24StereoTail(in + 6 * i, left + i, right + i, frames - i);
}

__attribute__((target("ssse3"))) void writePcm24StereoSsse3(uint8_t* out, const float* left, const float* right,
                                                            size_t frames) {
    const __m128i pack = _mm_setr_epi8(PCM24_PACK);
    size_t i = 0;
    // Each 16-byte store spills 4 bytes into the next frame, which the next
    // store (or the tail) overwrites.
    for (; i + 5 <= frames; i += 4) {
        __m128i l = toPcm24(_mm_loadu_ps(left + i));
        __m128i r = toPcm24(_mm_loadu_ps(right + i));
        uint8_t* p = out + 6 * i;
        _mm_storeu_si128(reinterpret_cast<__m128i*>(p), _mm_shuffle_epi8(_mm_unpacklo_epi32(l, r), pack));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(p + 12), _mm_shuffle_epi8(_mm_unpackhi_epi32(l, r), pack));
    }
    writePcm24StereoTail(out + 6 * i, left + i, right + i, frames - i);
}

// ---- AVX2, eight frames at a time ----

#define AVX2 __attribute__((target("avx2")))

AVX2 inline __m256i toPcm16Avx2(__m256 x) {
    __m256 v = _mm256_mul_ps(x, _mm256_set1_ps(32768.0f));
    v = _mm256_min_ps(_mm256_set1_ps(32767.0f), _mm256_max_ps(_mm256_set1_ps(-32768.0f), v));
    return _mm256_cvttps_epi32(v);
}

AVX2 inline __m256 fromPcm24Avx2(__m256i s) {
    __m256 x = _mm256_cvtepi32_ps(s);
    return _mm256_add_ps(_mm256_mul_ps(x, _mm256_set1_ps(0x1p-23f)), _mm256_mul_ps(x, _mm256_set1_ps(0x1p-46f)));
}

AVX2 inline __m256i toPcm24Avx2(__m256 x) {
    const __m256 magnitude = _mm256_castsi256_ps(_mm256_set1_epi32(0x7FFFFFFF));
    x = _mm256_min_ps(_mm256_set1_ps(1.0f), _mm256_max_ps(_mm256_set1_ps(-1.0f), x));
    __m256 y = _mm256_mul_ps(x, _mm256_set1_ps(0x1p23f));
    __m256i i = _mm256_cvttps_epi32(y);
    __m256 fraction = _mm256_sub_ps(y, _mm256_cvtepi32_ps(i));
    __m256i adjust = _mm256_castps_si256(
        _mm256_cmp_ps(_mm256_and_ps(fraction, magnitude), _mm256_and_ps(x, magnitude), _CMP_LT_OQ));
    return _mm256_add_epi32(i, _mm256_sign_epi32(adjust, _mm256_castps_si256(x)));
}

AVX2 void readPcm16StereoAvx2(const uint8_t* in, float* left, float* right, size_t frames) {
    const __m256 scale = _mm256_set1_ps(1.0f / 32768.0f);
    size_t i = 0;
    for (; i + 8 <= frames; i += 8) {
        __m256i x = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(in + 4 * i));
        __m256i l = _mm256_srai_epi32(_mm256_slli_epi32(x, 16), 16);
        __m256i r = _mm256_srai_epi32(x, 16);
        _mm256_storeu_ps(left + i, _mm256_mul_ps(_mm256_cvtepi32_ps(l), scale));
        _mm256_storeu_ps(right + i, _mm256_mul_ps(_mm256_cvtepi32_ps(r), scale));
    }
    _mm256_zeroupper();  // the tail and the caller run SSE code
    readPcm16Stereo(in + 4 * i, left + i, right + i, frames - i);
}

AVX2 void writePcm16StereoAvx2(uint8_t* out, const float* left, const float* right, size_t frames) {
    size_t i = 0;
    for (; i + 8 <= frames; i += 8) {
        __m256i l = toPcm16Avx2(_mm256_loadu_ps(left + i));
        __m256i r = toPcm16Avx2(_mm256_loadu_ps(right + i));
        __m256i frame = _mm256_or_si256(_mm256_and_si256(l, _mm256_set1_epi32(0xFFFF)), _mm256_slli_epi32(r, 16));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + 4 * i), frame);
    }
    _mm256_zeroupper();
    writePcm16Stereo(out + 4 * i, left + i, right + i, frames - i);
}

AVX2 inline __m256i loadPcm24Frames(const uint8_t* p) {
    // Frames 0,1 in the low lane and 2,3 in the high lane, each sample in the
    // top of its 32-bit lane, shifted down with its sign.
    const __m256i place = _mm256_setr_epi8(PCM24_PLACE, PCM24_PLACE);
    __m256i bytes = _mm256_inserti128_si256(
        _mm256_castsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p))),
        _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 12)), 1);
    return _mm256_srai_epi32(_mm256_shuffle_epi8(bytes, place), 8);
}

AVX2 void readPcm24StereoAvx2(const uint8_t* in, float* left, float* right, size_t frames) {
    size_t i = 0;
    for (; i + 9 <= frames; i += 8) {
        const uint8_t* p = in + 6 * i;
        __m256 a = fromPcm24Avx2(loadPcm24Frames(p));       // L0 R0 L1 R1 | L2 R2 L3 R3
        __m256 b = fromPcm24Avx2(loadPcm24Frames(p + 24));  // L4 R4 L5 R5 | L6 R6 L7 R7
        __m256 l = _mm256_shuffle_ps(a, b, _MM_SHUFFLE(2, 0, 2, 0));  // L0 L1 L4 L5 | L2 L3 L6 L7
        __m256 r = _mm256_shuffle_ps(a, b, _MM_SHUFFLE(3, 1, 3, 1));
        _mm256_storeu_ps(left + i, _mm256_castpd_ps(_mm256_permute4x64_pd(_mm256_castps_pd(l), 0xD8)));
        _mm256_storeu_ps(right + i, _mm256_castpd_ps(_mm256_permute4x64_pd(_mm256_castps_pd(r), 0xD8)));
    }
    _mm256_zeroupper();
    readPcm24StereoSsse3(in + 6 * i, left + i, right + i, frames - i);
}

AVX2 void writePcm24StereoAvx2(uint8_t* out, const float* left, const float* right, size_t frames) {
    const __m256i pack = _mm256_setr_epi8(PCM24_PACK, PCM24_PACK);
    size_t i = 0;
    for (; i + 9 <= frames; i += 8) {
        __m256i l = toPcm24Avx2(_mm256_loadu_ps(left + i));
        __m256i r = toPcm24Avx2(_mm256_loadu_ps(right + i));
        __m256i lo = _mm256_shuffle_epi8(_mm256_unpacklo_epi32(l, r), pack);  // frames 0,1 | 4,5
        __m256i hi = _mm256_shuffle_epi8(_mm256_unpackhi_epi32(l, r), pack);  // frames 2,3 | 6,7
        uint8_t* p = out + 6 * i;
        _mm_storeu_si128(reinterpret_cast<__m128i*>(p), _mm256_castsi256_si128(lo));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(p + 12), _mm256_castsi256_si128(hi));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(p + 24), _mm256_extracti128_si256(lo, 1));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(p + 36), _mm256_extracti128_si256(hi, 1));
    }
    _mm256_zeroupper();
    writePcm24StereoSsse3(out + 6 * i, left + i, right + i, frames - i);
}

int levelLimit = 2;

bool hasSsse3() {
    static const bool has = __builtin_cpu_supports("ssse3");
    return has && levelLimit >= 1;
}

bool hasAvx2() {
    static const bool has = __builtin_cpu_supports("avx2");
    return has && levelLimit >= 2;
}

#endif

}  // namespace

void fastPathsLimit(int level) {
#if defined(STREAMCONV_X86)
    levelLimit = level;
#endif
    (void)level;
}

bool fastReadPacked(unsigned bits, const uint8_t* in, float* left, float* right, uint32_t frames) {
#if defined(STREAMCONV_X86)
    if (levelLimit < 1) return false;
    if (bits == 16) {
        hasAvx2() ? readPcm16StereoAvx2(in, left, right, frames) : readPcm16Stereo(in, left, right, frames);
        return true;
    }
    if (bits == 24 && hasSsse3()) {
        hasAvx2() ? readPcm24StereoAvx2(in, left, right, frames) : readPcm24StereoSsse3(in, left, right, frames);
        return true;
    }
#endif
    (void)bits, (void)in, (void)left, (void)right, (void)frames;
    return false;
}

bool fastWritePacked(unsigned bits, uint8_t* out, const float* left, const float* right, uint32_t frames) {
#if defined(STREAMCONV_X86)
    if (levelLimit < 1) return false;
    if (bits == 16) {
        hasAvx2() ? writePcm16StereoAvx2(out, left, right, frames) : writePcm16Stereo(out, left, right, frames);
        return true;
    }
    if (bits == 24 && hasSsse3()) {
        hasAvx2() ? writePcm24StereoAvx2(out, left, right, frames)
                  : writePcm24StereoSsse3(out, left, right, frames);
        return true;
    }
#endif
    (void)bits, (void)out, (void)left, (void)right, (void)frames;
    return false;
}

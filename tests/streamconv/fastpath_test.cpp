// Packed 16- and 24-bit stereo takes vector loops; a padded frame (block
// alignment 8) takes the per-frame loops. Both must give the same samples, at
// every instruction-set level the loops may use.
#include <cmath>
#include <cstring>
#include <limits>
#include <random>

#include "streamconv/fastpaths.h"
#include "tests/streamconv/converter_fixture.h"

namespace {

class FastPath : public ConverterTest, public ::testing::WithParamInterface<int> {
protected:
    void SetUp() override {
        ConverterTest::SetUp();
        fastPathsLimit(GetParam());
    }
    void TearDown() override { fastPathsLimit(2); }

    // Writes through the packed (vector) and the padded (per-frame) layout
    // and returns both sample sequences, as 32-bit integers.
    void writeBoth(uint16_t bits, const std::vector<float>& left, const std::vector<float>& right,
                   std::vector<int32_t>& packed, std::vector<int32_t>& padded) {
        const uint32_t frames = static_cast<uint32_t>(left.size());
        const unsigned bytes = bits / 8;
        StreamFormat fast = format(kFormatPcm, 2, bits, static_cast<uint16_t>(2 * bytes));
        StreamFormat slow = format(kFormatPcm, 2, bits, 8);
        std::vector<uint8_t> a(static_cast<size_t>(frames) * fast.nBlockAlign + 16, 0xEE);
        std::vector<uint8_t> b(static_cast<size_t>(frames) * 8, 0xEE);
        float* l = const_cast<float*>(left.data());
        float* r = const_cast<float*>(right.data());
        ASSERT_EQ(1, lib.process(&fast, a.data(), l, r, frames, frames, 1));
        ASSERT_EQ(1, lib.process(&slow, b.data(), l, r, frames, frames, 1));
        // Nothing is written beyond the last frame.
        for (size_t i = static_cast<size_t>(frames) * fast.nBlockAlign; i < a.size(); ++i) ASSERT_EQ(0xEE, a[i]);
        packed.clear();
        padded.clear();
        for (uint32_t f = 0; f < frames; ++f) {
            for (unsigned c = 0; c < 2; ++c) {
                packed.push_back(load(a.data() + f * fast.nBlockAlign + c * bytes, bytes));
                padded.push_back(load(b.data() + f * 8 + c * 4, bytes));
            }
        }
    }
    static int32_t load(const uint8_t* p, unsigned bytes) {
        uint32_t u = 0;
        std::memcpy(&u, p, bytes);
        return static_cast<int32_t>(u << (32 - 8 * bytes)) >> (32 - 8 * bytes);
    }
    static std::vector<float> specials() {
        const float inf = std::numeric_limits<float>::infinity();
        return {0.0f, -0.0f, 1.0f, -1.0f, 1.5f, -1.5f, inf, -inf, std::numeric_limits<float>::quiet_NaN(),
                1e-40f, -1e-40f, 0.99999994f, -0.99999994f, 1.0f / 32768, 1.0f / 8388607, 0.5f, 3e9f};
    }
};

}  // namespace

TEST_P(FastPath, TwentyFourBitReadsMatchTheDivisionForEverySample) {
    // All 2^24 sample values, left ascending and right descending.
    const uint32_t frames = 1u << 23;
    std::vector<uint8_t> device(static_cast<size_t>(frames) * 6);
    for (uint32_t f = 0; f < frames; ++f) {
        int32_t l = static_cast<int32_t>(f) - 8388608;
        int32_t r = 8388607 - static_cast<int32_t>(f);
        uint8_t* p = &device[static_cast<size_t>(f) * 6];
        p[0] = static_cast<uint8_t>(l), p[1] = static_cast<uint8_t>(l >> 8), p[2] = static_cast<uint8_t>(l >> 16);
        p[3] = static_cast<uint8_t>(r), p[4] = static_cast<uint8_t>(r >> 8), p[5] = static_cast<uint8_t>(r >> 16);
    }
    std::vector<float> left(frames), right(frames);
    StreamFormat f = pcm(2, 24);
    ASSERT_EQ(1, lib.process(&f, device.data(), left.data(), right.data(), frames, frames, 0));
    for (uint32_t i = 0; i < frames; ++i) {
        ASSERT_EQ(static_cast<float>(static_cast<int32_t>(i) - 8388608) / 8388607.0f, left[i]) << i;
        ASSERT_EQ(static_cast<float>(8388607 - static_cast<int32_t>(i)) / 8388607.0f, right[i]) << i;
    }
}

TEST_P(FastPath, WritesMatchThePerFrameLoopsAcrossTheWholeRange) {
    // Every 613th float from 0 to 1 with both signs, then the special values.
    std::vector<float> left, right;
    for (uint32_t bits = 0; bits <= 0x3F800000u; bits += 613) {
        float x;
        std::memcpy(&x, &bits, 4);
        left.push_back(x);
        right.push_back(-x);
    }
    for (float x : specials()) {
        left.push_back(x);
        right.push_back(-x);
    }
    std::vector<int32_t> packed, padded;
    for (uint16_t bits : {16, 24}) {
        writeBoth(bits, left, right, packed, padded);
        ASSERT_EQ(padded.size(), packed.size());
        for (size_t i = 0; i < packed.size(); ++i) {
            const float x = i % 2 ? right[i / 2] : left[i / 2];
            ASSERT_EQ(padded[i], packed[i]) << bits << "-bit, value " << x;
        }
    }
}

TEST_P(FastPath, ShortAndOddBlocksMatchAtEveryLength) {
    std::mt19937 random(3);
    std::uniform_real_distribution<float> value(-1.2f, 1.2f);
    for (uint32_t frames = 1; frames <= 40; ++frames) {
        std::vector<float> left(frames), right(frames);
        for (uint32_t i = 0; i < frames; ++i) left[i] = value(random), right[i] = value(random);
        std::vector<int32_t> packed, padded;
        for (uint16_t bits : {16, 24}) {
            writeBoth(bits, left, right, packed, padded);
            ASSERT_EQ(padded, packed) << bits << "-bit, " << frames << " frames";

            // And back: the packed read gives what the padded read gives.
            StreamFormat fast = format(kFormatPcm, 2, bits, static_cast<uint16_t>(bits / 4));
            StreamFormat slow = format(kFormatPcm, 2, bits, 8);
            std::vector<uint8_t> a(frames * fast.nBlockAlign), b(frames * 8u, 0);
            ASSERT_EQ(1, lib.process(&fast, a.data(), left.data(), right.data(), frames, frames, 1));
            ASSERT_EQ(1, lib.process(&slow, b.data(), left.data(), right.data(), frames, frames, 1));
            std::vector<float> la(frames), ra(frames), lb(frames), rb(frames);
            ASSERT_EQ(1, lib.process(&fast, a.data(), la.data(), ra.data(), frames, frames, 0));
            ASSERT_EQ(1, lib.process(&slow, b.data(), lb.data(), rb.data(), frames, frames, 0));
            ASSERT_EQ(lb, la) << bits << "-bit, " << frames << " frames";
            ASSERT_EQ(rb, ra) << bits << "-bit, " << frames << " frames";
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Levels, FastPath, ::testing::Values(1, 2),
                         [](const ::testing::TestParamInfo<int>& info) {
                             return info.param == 1 ? std::string("Sse") : std::string("Avx2");
                         });

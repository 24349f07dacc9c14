#include <cmath>
#include <limits>

#include "tests/streamconv/converter_fixture.h"

namespace {
using Convert = ConverterTest;
const float kNaN = std::numeric_limits<float>::quiet_NaN();
}  // namespace

TEST_F(Convert, UnsupportedFormatsReturnZeroAndConvertNothing) {
    const StreamFormat unsupported[] = {
        pcm(3, 16),                          // three channels
        pcm(1, 18),                          // odd PCM width
        pcm(2, 64),
        format(kFormatIeeeFloat, 1, 32, 16), // float with block alignment 16
        format(kFormatIeeeFloat, 2, 32, 8),  // two-channel float
        format(2, 1, 16, 2),                 // unknown tag
        format(kFormatPcm, 2, 16, 3),        // frame too small for two samples
        format(kFormatPcm, 1, 24, 2),        // frame too small for one sample
    };
    for (const StreamFormat& f : unsupported) {
        std::vector<uint8_t> device(64, 0xEE);
        std::vector<float> left(4, 7.0f), right(4, 7.0f);
        EXPECT_EQ(0, lib.process(&f, device.data(), left.data(), right.data(), 4, 4, 1));
        EXPECT_EQ(0, lib.process(&f, device.data(), left.data(), right.data(), 4, 4, 0));
        EXPECT_EQ(std::vector<uint8_t>(64, 0xEE), device);
        EXPECT_EQ(std::vector<float>(4, 7.0f), left);
    }
}

TEST_F(Convert, IntegerWritesSaturateAndTruncateTowardZero) {
    std::vector<float> in = {1.0f, -1.0f, 1.5f, -2.0f, 0.5f, -1.5f / 32768, kNaN, 1.5f / 32768};
    auto s16 = samplesOf<int16_t>(write(pcm(1, 16), in, nullptr, 8));
    EXPECT_EQ((std::vector<int16_t>{32767, -32768, 32767, -32768, 16384, -1, 0, 1}), s16);

    auto s32 = samplesOf<int32_t>(write(pcm(1, 32), {1.0f, -1.0f, 3.0f, 0.5f, kNaN}, nullptr, 5));
    EXPECT_EQ((std::vector<int32_t>{2147483647, -2147483647 - 1, 2147483647, 1073741824, 0}), s32);

    auto u8 = write(pcm(1, 8), {1.0f, -1.0f, 0.0f, -5.0f, 0.5f, kNaN}, nullptr, 6);
    EXPECT_EQ((std::vector<uint8_t>{255, 1, 128, 0, 191, 128}), u8);

    auto s24 = write(pcm(1, 24), {1.5f, -1.0f, 1.0f, 0.5f, -3.0f}, nullptr, 5);
    EXPECT_EQ(8388607, sample24(s24, 0));
    EXPECT_EQ(-8388607, sample24(s24, 1));
    EXPECT_EQ(8388607, sample24(s24, 2));
    EXPECT_EQ(4194303, sample24(s24, 3));  // truncated
    EXPECT_EQ(-8388607, sample24(s24, 4));
}

TEST_F(Convert, ReadsScaleEachWidthToFullScale) {
    std::vector<float> out(4);
    auto u8 = std::vector<uint8_t>{128, 255, 0, 1};
    StreamFormat f8 = pcm(1, 8);
    ASSERT_EQ(1, lib.process(&f8, u8.data(), out.data(), nullptr, 4, 4, 0));
    EXPECT_EQ((std::vector<float>{0.0f, 1.0f, -128.0f / 127.0f, -1.0f}), out);

    auto s16 = bytesOf<int16_t>({-32768, 16384, 0, 1});
    StreamFormat f16 = pcm(1, 16);
    ASSERT_EQ(1, lib.process(&f16, s16.data(), out.data(), nullptr, 4, 4, 0));
    EXPECT_EQ((std::vector<float>{-1.0f, 0.5f, 0.0f, 1.0f / 32768}), out);

    auto s24 = bytes24({8388607, -8388608, -1, 4194304});
    StreamFormat f24 = pcm(1, 24);
    ASSERT_EQ(1, lib.process(&f24, s24.data(), out.data(), nullptr, 4, 4, 0));
    EXPECT_EQ(1.0f, out[0]);
    EXPECT_EQ(-8388608.0f / 8388607.0f, out[1]);
    EXPECT_EQ(-1.0f / 8388607.0f, out[2]);

    auto s32 = bytesOf<int32_t>({-2147483647 - 1, 1073741824, 0, 2147483647});
    StreamFormat f32 = pcm(1, 32);
    ASSERT_EQ(1, lib.process(&f32, s32.data(), out.data(), nullptr, 4, 4, 0));
    EXPECT_EQ((std::vector<float>{-1.0f, 0.5f, 0.0f, 1.0f}), out);
}

TEST_F(Convert, FloatFormatsCopyOrChangeWidthOneChannelPerCall) {
    StreamFormat f32 = format(kFormatIeeeFloat, 1, 32, 4);
    auto bytes = write(f32, {0.25f, -3.5f, kNaN}, nullptr, 3);
    auto values = samplesOf<float>(bytes);
    EXPECT_EQ(0.25f, values[0]);
    EXPECT_EQ(-3.5f, values[1]);  // floats are not clipped
    EXPECT_TRUE(std::isnan(values[2]));

    StreamFormat f64 = format(kFormatIeeeFloat, 1, 64, 8);
    auto doubles = samplesOf<double>(write(f64, {0.1f, -1.0f}, nullptr, 2));
    EXPECT_EQ(static_cast<double>(0.1f), doubles[0]);
    std::vector<uint8_t> in = bytesOf<double>({0.1, 2.0});
    std::vector<float> out(2);
    ASSERT_EQ(1, lib.process(&f64, in.data(), out.data(), nullptr, 2, 2, 0));
    EXPECT_EQ((std::vector<float>{0.1f, 2.0f}), out);
}

TEST_F(Convert, ChannelMappingFollowsDeviceChannelsAndTheRightBuffer) {
    StreamFormat stereo = pcm(2, 16), mono = pcm(1, 16);
    std::vector<float> right = {-0.5f, 0.25f};
    // Two device channels, two buffers: one to one.
    EXPECT_EQ((std::vector<int16_t>{8192, -16384, -8192, 8192}),
              samplesOf<int16_t>(write(stereo, {0.25f, -0.25f}, &right, 2)));
    // Two device channels, one buffer: left to both.
    EXPECT_EQ((std::vector<int16_t>{8192, 8192, -8192, -8192}),
              samplesOf<int16_t>(write(stereo, {0.25f, -0.25f}, nullptr, 2)));
    // One device channel, two buffers: a plain sum, saturated.
    std::vector<float> loud = {0.75f, -0.75f};
    EXPECT_EQ((std::vector<int16_t>{-8192, 0}), samplesOf<int16_t>(write(mono, {0.25f, -0.25f}, &right, 2)));
    EXPECT_EQ((std::vector<int16_t>{32767, -32768}), samplesOf<int16_t>(write(mono, {0.5f, -0.5f}, &loud, 2)));

    // Reads: a two-channel device into one buffer sums, a one-channel device
    // into two buffers copies.
    auto pair = bytesOf<int16_t>({3000, -2000});
    std::vector<float> l(1), r(1, 9.0f);
    ASSERT_EQ(1, lib.process(&stereo, pair.data(), l.data(), nullptr, 1, 1, 0));
    EXPECT_EQ(3000.0f / 32768 + -2000.0f / 32768, l[0]);
    ASSERT_EQ(1, lib.process(&stereo, pair.data(), l.data(), r.data(), 1, 1, 0));
    EXPECT_EQ(3000.0f / 32768, l[0]);
    EXPECT_EQ(-2000.0f / 32768, r[0]);
    ASSERT_EQ(1, lib.process(&mono, pair.data(), l.data(), r.data(), 1, 1, 0));
    EXPECT_EQ(l[0], r[0]);
}

TEST_F(Convert, MonoSumsFollowEachWidthsRule) {
    // 16 bit: the left value is converted first, the scaled right value added
    // and truncated again (1 + 1.5 = 2, not 3).
    std::vector<float> r16 = {1.5f / 32768};
    EXPECT_EQ(2, samplesOf<int16_t>(write(pcm(1, 16), {1.5f / 32768}, &r16, 1))[0]);
    // 8 bit: the offset is added once.
    std::vector<float> r8 = {0.5f, 0.0f};
    EXPECT_EQ((std::vector<uint8_t>{254, 128}), write(pcm(1, 8), {0.5f, 0.0f}, &r8, 2));
    // 24 bit: summed as floats, then clamped.
    std::vector<float> r24 = {0.5f, 0.75f};
    auto s24 = write(pcm(1, 24), {0.5f, 0.75f}, &r24, 2);
    EXPECT_EQ(8388607, sample24(s24, 0));
    EXPECT_EQ(8388607, sample24(s24, 1));
    // 8-bit silence is 128 on two channels as well.
    EXPECT_EQ((std::vector<uint8_t>{128, 128}), write(pcm(2, 8), {0.0f}, nullptr, 1));
}

TEST_F(Convert, TwentyFourBitsInAFourByteContainer) {
    StreamFormat f = format(kFormatPcm, 1, 24, 4);
    auto bytes = write(f, {0.5f, -1.0f}, nullptr, 2);
    ASSERT_EQ(8u, bytes.size());
    EXPECT_EQ((std::vector<uint8_t>{0xFF, 0xFF, 0x3F, 0xEE, 0x01, 0x00, 0x80, 0xEE}), bytes);
    std::vector<float> out(2);
    ASSERT_EQ(1, lib.process(&f, bytes.data(), out.data(), nullptr, 2, 2, 0));
    EXPECT_EQ(-1.0f, out[1]);
}

TEST_F(Convert, OnlyTheLowByteOfTheDirectionCounts) {
    StreamFormat f = pcm(1, 16);
    auto bytes = bytesOf<int16_t>({16384});
    std::vector<float> out(1, 0.0f);
    ASSERT_EQ(1, lib.process(&f, bytes.data(), out.data(), nullptr, 1, 1, 0x100));
    EXPECT_EQ(0.5f, out[0]);
}

TEST_F(Convert, BigEndianWritesConvertThenSwap) {
    StreamFormat f = pcm(2, 32);
    std::vector<float> left = {static_cast<float>(0x01020304 / 2147483648.0)};
    std::vector<float> right = {static_cast<float>(0x05060708 / 2147483648.0)};
    std::vector<uint8_t> device(8);
    ASSERT_EQ(1, lib.processMsb(&f, device.data(), left.data(), right.data(), 1, 1, 1));
    EXPECT_EQ((std::vector<uint8_t>{1, 2, 3, 4, 5, 6, 7, 8}), device);

    StreamFormat f24 = pcm(2, 24);
    std::vector<float> l24 = {static_cast<float>((0x010203 + 0.5) / 8388607.0)};
    std::vector<float> r24 = {static_cast<float>((0x040506 + 0.5) / 8388607.0)};
    std::vector<uint8_t> d24(6);
    ASSERT_EQ(1, lib.processMsb(&f24, d24.data(), l24.data(), r24.data(), 1, 1, 1));
    EXPECT_EQ((std::vector<uint8_t>{1, 2, 3, 4, 5, 6}), d24);

    // 8-bit data has no byte order: converted, but reported as not swapped.
    StreamFormat f8 = pcm(1, 8);
    std::vector<float> zero = {0.0f};
    std::vector<uint8_t> d8(1);
    EXPECT_EQ(0, lib.processMsb(&f8, d8.data(), zero.data(), nullptr, 1, 1, 1));
    EXPECT_EQ(128, d8[0]);
}

TEST_F(Convert, BigEndianReadsSwapTheCallersBufferFirst) {
    StreamFormat f = pcm(1, 16);
    std::vector<uint8_t> device = {0x40, 0x00, 0xC0, 0x00};  // 16384, -16384 big-endian
    std::vector<float> out(2);
    ASSERT_EQ(1, lib.processMsb(&f, device.data(), out.data(), nullptr, 2, 2, 0));
    EXPECT_EQ((std::vector<float>{0.5f, -0.5f}), out);
    EXPECT_EQ((std::vector<uint8_t>{0x00, 0x40, 0x00, 0xC0}), device);  // left little-endian

    // A 24-bit sample right-aligned in four bytes, and a 64-bit float: the
    // whole container is reversed.
    StreamFormat f24in32 = pcm(1, 24);
    f24in32.nBlockAlign = 4;
    std::vector<uint8_t> d = {0xFF, 0xC0, 0x00, 0x00};  // -2^22 big-endian
    ASSERT_EQ(1, lib.processMsb(&f24in32, d.data(), out.data(), nullptr, 1, 1, 0));
    EXPECT_NEAR(-0.5f, out[0], 1e-6);
    StreamFormat f64{};
    f64.wFormatTag = kFormatIeeeFloat;
    f64.nChannels = 1;
    f64.nBlockAlign = 8;
    f64.wBitsPerSample = 64;
    std::vector<uint8_t> d64 = {0xBF, 0xE8, 0, 0, 0, 0, 0, 0};  // -0.75 big-endian
    ASSERT_EQ(1, lib.processMsb(&f64, d64.data(), out.data(), nullptr, 1, 1, 0));
    EXPECT_EQ(-0.75f, out[0]);
    out[0] = 0.25f;
    ASSERT_EQ(1, lib.processMsb(&f64, d64.data(), out.data(), nullptr, 1, 1, 1));
    EXPECT_EQ((std::vector<uint8_t>{0x3F, 0xD0, 0, 0, 0, 0, 0, 0}), d64);

    // A reset form through the big-endian entry touches no buffer.
    EXPECT_EQ(1, lib.processMsb(&f, nullptr, out.data(), nullptr, 2, 2, 0));
}

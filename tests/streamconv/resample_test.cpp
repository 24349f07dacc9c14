#include "tests/streamconv/converter_fixture.h"

namespace {

class Resample : public ConverterTest {
protected:
    StreamFormat mono16 = pcm(1, 16);

    // Reads 16-bit mono samples into `targetFrames` floats, in raw units.
    std::vector<float> read16(const std::vector<int16_t>& samples, uint32_t targetFrames) {
        auto bytes = bytesOf<int16_t>(samples);
        std::vector<float> out(targetFrames);
        EXPECT_EQ(1, lib.process(&mono16, bytes.data(), out.data(), nullptr, static_cast<uint32_t>(samples.size()),
                                 targetFrames, 0));
        for (float& x : out) x *= 32768.0f;
        return out;
    }
};

}  // namespace

TEST_F(Resample, DownsamplingPicksFramesAndKeepsTheLastSourceFrameAsHistory) {
    EXPECT_EQ((std::vector<float>{100, 300}), read16({100, 200, 300, 400}, 2));
    // Step 0.5 from positions 0, 0.5, 1.0, 1.5; the second frame extrapolates
    // from the history (400) left by the previous call.
    EXPECT_EQ((std::vector<float>{1000, 1300, 2000, 2500}), read16({1000, 2000}, 4));
}

TEST_F(Resample, ResetFormClearsTheCurrentSlotOnly) {
    EXPECT_EQ(7, lib.setHistory(7));
    read16({0, 800}, 1);  // slot 7 history: 800
    lib.setHistory(3);
    read16({0, 400}, 1);  // slot 3 history: 400

    lib.setHistory(7);
    std::vector<float> left(2);
    EXPECT_EQ(1, lib.process(&mono16, left.data(), left.data(), nullptr, 0, 2, 0));  // zero frames: reset
    EXPECT_EQ((std::vector<float>{1000, 1500, 2000, 2500}), read16({1000, 2000}, 4));

    lib.setHistory(3);
    EXPECT_EQ((std::vector<float>{1000, 1300, 2000, 2500}), read16({1000, 2000}, 4));
    int16_t sample = 0;
    EXPECT_EQ(1, lib.process(&mono16, &sample, nullptr, nullptr, 1, 1, 0));  // null left: reset
    EXPECT_EQ((std::vector<float>{1000, 1500, 2000, 2500}), read16({1000, 2000}, 4));
    lib.setHistory(0);
}

TEST_F(Resample, EqualCountsNeitherReadNorChangeTheHistory) {
    read16({0, 1000}, 1);  // history 1000
    EXPECT_EQ((std::vector<float>{5, 6}), read16({5, 6}, 2));
    EXPECT_EQ((std::vector<float>{2000, 2500, 3000, 3500}), read16({2000, 3000}, 4));
}

TEST_F(Resample, WritesExtrapolateFloatValuesFromTheWriteHistory) {
    std::vector<float> left = {0.25f, 0.5f};
    auto first = samplesOf<int16_t>(write(mono16, left, nullptr, 4));
    EXPECT_EQ((std::vector<int16_t>{8192, 12288, 16384, 20480}), first);
    // History now 0.5: the next block's second frame extrapolates from it.
    auto second = samplesOf<int16_t>(write(mono16, {0.0f, 0.0f}, nullptr, 4));
    EXPECT_EQ((std::vector<int16_t>{0, -8192, 0, 0}), second);
}

TEST_F(Resample, StereoStreamsKeepSeparateHistoriesUnlessReadIntoOneBuffer) {
    StreamFormat stereo = pcm(2, 16);
    auto frames = bytesOf<int16_t>({0, 0, 1000, -1000});  // last frame (1000, -1000)
    std::vector<float> l(1), r(1);
    ASSERT_EQ(1, lib.process(&stereo, frames.data(), l.data(), r.data(), 2, 1, 0));

    auto next = bytesOf<int16_t>({2000, 2000, 4000, 4000});
    std::vector<float> l4(4), r4(4);
    ASSERT_EQ(1, lib.process(&stereo, next.data(), l4.data(), r4.data(), 2, 4, 0));
    EXPECT_EQ(2500.0f / 32768, l4[1]);  // 2000 + 0.5 * (2000 - 1000)
    EXPECT_EQ(3500.0f / 32768, r4[1]);  // 2000 + 0.5 * (2000 + 1000)

    // Into one buffer both channels extrapolate from the left history (4000),
    // and the right history becomes 0.
    std::vector<float> sum(4);
    ASSERT_EQ(1, lib.process(&stereo, next.data(), sum.data(), nullptr, 2, 4, 0));
    EXPECT_EQ(1000.0f / 32768 + 1000.0f / 32768, sum[1]);  // each 2000 + 0.5 * (2000 - 4000)
    ASSERT_EQ(1, lib.process(&stereo, next.data(), l4.data(), r4.data(), 2, 4, 0));
    EXPECT_EQ(1000.0f / 32768, l4[1]);  // 2000 + 0.5 * (2000 - 4000)
    EXPECT_EQ(3000.0f / 32768, r4[1]);  // 2000 + 0.5 * (2000 - 0)
}

TEST_F(Resample, TwentyFourBitDataIsResampledLikeTheOtherWidths) {
    // A 96 kHz 24-bit stream into a 44.1 kHz engine block, and back.
    StreamFormat f = pcm(2, 24);
    const uint32_t device = 960, engine = 441;
    std::vector<int32_t> ramp;
    for (uint32_t i = 0; i < device; ++i) {
        ramp.push_back(static_cast<int32_t>(i * 1000));
        ramp.push_back(-static_cast<int32_t>(i * 1000));
    }
    auto bytes = bytes24(ramp);
    std::vector<float> left(engine), right(engine);
    ASSERT_EQ(1, lib.process(&f, bytes.data(), left.data(), right.data(), device, engine, 0));
    const float step = static_cast<float>(static_cast<long double>(device) / engine);
    float p = 0.0f;
    for (uint32_t t = 0; t < engine; ++t) {
        uint32_t i = static_cast<uint32_t>(p);
        float f2 = p - static_cast<float>(i);
        double previous = i ? (i - 1) * 1000.0 : 0.0;
        double expected = i * 1000.0 + f2 * (i * 1000.0 - previous);
        ASSERT_EQ(static_cast<float>(expected / 8388607.0), left[t]) << t;
        ASSERT_EQ(-left[t], right[t]) << t;
        p += step;
        if (p >= static_cast<float>(device)) p = static_cast<float>(device - 1);
    }

    // The slot now holds read history in device units; a write stream starts clean.
    lib.process(&f, nullptr, left.data(), nullptr, 0, 0, 1);
    std::vector<uint8_t> out(device * 6, 0xEE);
    ASSERT_EQ(1, lib.process(&f, out.data(), left.data(), right.data(), device, engine, 1));
    // Each output frame lands near the ramp it came from.
    // (The first engine frame extrapolates from the clean history.)
    for (uint32_t i = 3; i < device - 2; ++i) ASSERT_NEAR(i * 1000.0, sample24(out, 2 * i), 1200.0) << i;
}

TEST_F(Resample, OddRatiosStayInsideTheSourceBlock) {
    // Under the sanitizers a read beyond the last source frame would trap.
    read16({100}, 2);  // history 100, so that every frame is 100
    for (uint32_t source : {3u, 7u, 1000u, 4097u}) {
        for (uint32_t target : {2u, 3u, 999u, 1001u, 4096u}) {
            std::vector<int16_t> samples(source, 100);
            std::vector<float> out = read16(samples, target);
            for (float x : out) ASSERT_EQ(100.0f, x) << source << " to " << target;
        }
    }
}

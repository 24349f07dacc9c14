// The status bar's latency read-out: the figure for each back-end from what
// the devices and the chain report, and its text. Driver and plug-in
// answers arrive unchecked, so odd ones are tried beside the ordinary.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>

#include "app/statusbar.h"

namespace {

LatencySources directSound(double rate, uint32_t blockFrames, uint32_t delayMs, int32_t chain = 0) {
    LatencySources s;
    s.rate = rate;
    s.blockFrames = blockFrames;
    s.outputDelayMs = delayMs;
    s.chainFrames = chain;
    return s;
}

LatencySources asio(double rate, int32_t in, int32_t out, int32_t chain = 0) {
    LatencySources s;
    s.rate = rate;
    s.asio = true;
    s.asioInputFrames = in;
    s.asioOutputFrames = out;
    s.chainFrames = chain;
    return s;
}

TEST(LatencyReadout, DirectSoundTakesTwoBlocksAndTheOutputDelayPlusTheChain) {
    // 40 ms blocks at 44.1 kHz (1764 frames), 2 ms output delay: 82 ms.
    EXPECT_EQ(82, liveLatencyMs(directSound(44100, 1764, 2)));
    // The test plug-in at 500 samples adds 11.34 ms: 93.3 ms.
    EXPECT_EQ(93, liveLatencyMs(directSound(44100, 1764, 2, 500)));
    // 5 ms at 96 kHz (480 frames), no delay.
    EXPECT_EQ(10, liveLatencyMs(directSound(96000, 480, 0)));
    // The ASIO answers play no part in a DirectSound figure.
    LatencySources s = directSound(48000, 480, 2);
    s.asioInputFrames = s.asioOutputFrames = 48000;
    EXPECT_EQ(22, liveLatencyMs(s));
}

TEST(LatencyReadout, AsioTakesTheDriversAnswersPlusTheChain) {
    EXPECT_EQ(11, liveLatencyMs(asio(48000, 256, 288)));        // 11.33 ms
    EXPECT_EQ(32, liveLatencyMs(asio(48000, 256, 288, 1000)));  // 32.17 ms
    // The block geometry plays no part in an ASIO figure.
    LatencySources s = asio(44100, 441, 441);
    s.blockFrames = 44100;
    s.outputDelayMs = 100;
    EXPECT_EQ(20, liveLatencyMs(s));
}

TEST(LatencyReadout, WasapiAddsItsModePeriodCountsAndFallback) {
    char text[160];
    formatWasapiStatus("Shared", 10.0, 0, 2, "Exclusive mode refused: shared", text, sizeof text);
    EXPECT_STREQ(" | WASAPI Shared, 10.0 ms, under-runs 0, over-runs 2 | Exclusive mode refused: shared", text);
    formatWasapiStatus("Exclusive", 2.9, 1, 0, "", text, sizeof text);
    EXPECT_STREQ(" | WASAPI Exclusive, 2.9 ms, under-runs 1, over-runs 0", text);
    formatWasapiStatus(nullptr, 1e9, 0, 0, nullptr, text, 20);
    EXPECT_STREQ(" | WASAPI ?, 0.0 ms", text);
}

TEST(LatencyReadout, RoundsTheWholeSumToTheNearestMillisecond) {
    // Each part alone would round down; the sum is 1.5 ms.
    EXPECT_EQ(2, liveLatencyMs(asio(48000, 24, 24, 24)));
    EXPECT_EQ(1, liveLatencyMs(asio(48000, 24, 0)));    // 0.5 rounds up
    EXPECT_EQ(0, liveLatencyMs(asio(48000, 23, 0)));    // 0.479
    EXPECT_EQ(0, liveLatencyMs(asio(48000, 0, 0)));
}

TEST(LatencyReadout, NoRateIsNoFigureAndOddAnswersCountAsNothing) {
    EXPECT_EQ(-1, liveLatencyMs(directSound(0, 1764, 2)));
    EXPECT_EQ(-1, liveLatencyMs(directSound(-44100, 1764, 2)));
    EXPECT_EQ(-1, liveLatencyMs(asio(std::numeric_limits<double>::quiet_NaN(), 256, 256)));
    EXPECT_EQ(-1, liveLatencyMs(asio(std::numeric_limits<double>::infinity(), 256, 256)));
    // Negative answers from a driver or a plug-in add nothing.
    EXPECT_EQ(5, liveLatencyMs(asio(48000, -256, 256, -1000)));
    // Absurd answers stay a number that prints.
    const int32_t huge = liveLatencyMs(asio(1, std::numeric_limits<int32_t>::max(),
                                            std::numeric_limits<int32_t>::max(), std::numeric_limits<int32_t>::max()));
    EXPECT_EQ(86400000, huge);
}

TEST(LatencyReadout, TextIsLatencyAndWholeMillisecondsOrNothing) {
    char text[32];
    formatLatencyStatus(82, text, sizeof text);
    EXPECT_STREQ("Latency: 82 ms", text);
    formatLatencyStatus(0, text, sizeof text);
    EXPECT_STREQ("Latency: 0 ms", text);
    formatLatencyStatus(86400000, text, sizeof text);
    EXPECT_STREQ("Latency: 86400000 ms", text);
    std::strcpy(text, "stale");
    formatLatencyStatus(-1, text, sizeof text);
    EXPECT_STREQ("", text);
    // A short buffer keeps a terminated start.
    char small[6] = "xxxxx";
    formatLatencyStatus(82, small, sizeof small);
    EXPECT_STREQ("Laten", small);
    formatLatencyStatus(82, nullptr, 10);  // nothing to write into: no crash
}

}  // namespace

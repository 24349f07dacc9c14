// The WASAPI streaming core against scripted endpoints on a simulated
// clock: opening with its fallbacks and the aligned re-initialisation, the
// signal carried block for block, clocks that drift either way for minutes,
// and a device that goes away mid-stream.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "devices/wasapicore.h"
#include "streamconv/binding.h"
#include "tests/support/appfolder.h"
#include "tests/support/modules.h"
#include "tests/support/transparent.h"
#include "tests/support/wasapiscript.h"

namespace {

using namespace wasapiscript;

class WasapiCore : public ::testing::Test {
protected:
    ScriptedEndpoint capture{true}, render{false};
    EngineState engine;
    WasapiStream stream;
    WasapiCounters counters;
    std::vector<float> left, right;
    WasapiFifo fifo;

    void SetUp() override {
        ASSERT_TRUE(converterBind(stagePath(std::string("streamconv") + librarySuffix()).c_str()));
        makeTransparent(engine);
    }
    void TearDown() override { engineRelease(engine); }

    // Opens, configures the engine at the stream's rate and block, and
    // gives the buffer its storage.
    void open(uint32_t mode) {
        ASSERT_EQ(0, wasapiOpen(capture, render, mode, pcmFormat(44100, 2, 16), stream));
        engine.blockSize = stream.periodFrames;
        ASSERT_EQ(0, engineConfigure(engine, stream.rate, true));
        left.assign(wasapiFifoCapacity(stream), 0.0f);
        right.assign(wasapiFifoCapacity(stream), 0.0f);
        fifo.left = left.data();
        fifo.right = right.data();
        fifo.capacity = static_cast<uint32_t>(left.size());
    }
    void run(Clock& clock) { wasapiRun(capture, render, clock, stream, fifo, engine, counters); }
};

TEST_F(WasapiCore, SharedModeTakesTheMixFormatAndTheDevicePeriodAndTheFallbacksAreNamed) {
    // Shared: the mix format both ways, the default period as the block.
    open(kWasapiShared);
    EXPECT_EQ(kWasapiShared, stream.mode);
    EXPECT_EQ(48000u, stream.rate);
    EXPECT_EQ(480u, stream.periodFrames);
    EXPECT_EQ(kWaveFormatFloat, stream.renderFormat.wFormatTag);
    EXPECT_EQ(0u, stream.fallbacks);
    char text[80];
    wasapiFallbackText(stream, text, sizeof text);
    EXPECT_STREQ("", text);
    EXPECT_EQ(2u * 480 + 32, stream.renderBufferFrames);
    EXPECT_EQ(480u, stream.inputLatencyFrames);
    EXPECT_EQ(960u, stream.outputLatencyFrames);

    // Low latency: the engine's smallest period.
    ScriptedEndpoint c2(true), r2(false);
    WasapiStream s2;
    ASSERT_EQ(0, wasapiOpen(c2, r2, kWasapiSharedLowLatency, pcmFormat(44100, 2, 16), s2));
    EXPECT_EQ(kWasapiSharedLowLatency, s2.mode);
    EXPECT_EQ(144u, s2.periodFrames);

    // Exclusive refused (as Wine refuses it): low latency, said once.
    ScriptedEndpoint c3(true), r3(false);
    r3.exclusiveResult = kAudclntExclusiveNotAllowed;
    WasapiStream s3;
    ASSERT_EQ(0, wasapiOpen(c3, r3, kWasapiExclusive, pcmFormat(44100, 2, 16), s3));
    EXPECT_EQ(kWasapiSharedLowLatency, s3.mode);
    wasapiFallbackText(s3, text, sizeof text);
    EXPECT_STREQ("Exclusive mode refused: shared, low latency", text);

    // ... and without the low-latency client: plain shared.
    ScriptedEndpoint c4(true), r4(false);
    r4.exclusiveResult = kAudclntExclusiveNotAllowed;
    r4.haveLowLatency = false;
    WasapiStream s4;
    ASSERT_EQ(0, wasapiOpen(c4, r4, kWasapiExclusive, pcmFormat(44100, 2, 16), s4));
    EXPECT_EQ(kWasapiShared, s4.mode);
    EXPECT_EQ(kWasapiExclusiveRefused | kWasapiLowLatencyRefused, s4.fallbacks);
    wasapiFallbackText(s4, text, sizeof text);
    EXPECT_STREQ("Exclusive mode refused: shared", text);
    ScriptedEndpoint c5(true), r5(false);
    r5.haveLowLatency = false;
    WasapiStream s5;
    ASSERT_EQ(0, wasapiOpen(c5, r5, kWasapiSharedLowLatency, pcmFormat(44100, 2, 16), s5));
    wasapiFallbackText(s5, text, sizeof text);
    EXPECT_STREQ("Low-latency shared mode refused: shared", text);
}

TEST_F(WasapiCore, ExclusiveModeReinitialisesAtTheAlignedSizeAndRefusedFormatsAreReported) {
    // The first exclusive answer says "not aligned" and gives the size: a
    // fresh client is initialised again at exactly that period.
    render.alignedFrames = 448;
    capture.alignedFrames = 448;
    ASSERT_EQ(0, wasapiOpen(capture, render, kWasapiExclusive, pcmFormat(44100, 2, 16), stream));
    EXPECT_EQ(kWasapiExclusive, stream.mode);
    EXPECT_EQ(448u, stream.periodFrames);
    EXPECT_EQ(kWaveFormatPcm, stream.renderFormat.wFormatTag);
    EXPECT_EQ(44100u, stream.rate);
    ASSERT_EQ(3u, render.calls.size());
    EXPECT_EQ("initialize Exclusive 44100 30000 0", render.calls[0]);
    EXPECT_EQ("renew", render.calls[1]);
    EXPECT_EQ("initialize Exclusive 44100 " + std::to_string(std::llround(1e7 * 448 / 44100)) + " 0",
              render.calls[2]);

    // A shared render side that refuses its own mix format: no stream.
    ScriptedEndpoint c2(true), r2(false);
    r2.refuseFormats = true;
    WasapiStream s2;
    EXPECT_EQ(kWasapiFormatError, wasapiOpen(c2, r2, kWasapiShared, pcmFormat(44100, 2, 16), s2));

    // A capture side at another rate is converted by the platform when it
    // can be; when it cannot, the rates are said to differ.
    ScriptedEndpoint c3(true), r3(false);
    c3.mix = floatFormat(44100, 1);
    WasapiStream s3;
    ASSERT_EQ(0, wasapiOpen(c3, r3, kWasapiShared, pcmFormat(44100, 2, 16), s3));
    EXPECT_EQ(48000u, s3.captureFormat.nSamplesPerSec);
    EXPECT_EQ(1u, s3.captureFormat.nChannels);
    EXPECT_TRUE(s3.fallbacks & kWasapiCaptureConverted);
    ScriptedEndpoint c4(true), r4(false);
    c4.mix = floatFormat(44100, 2);
    c4.refuseOtherRates = true;
    WasapiStream s4;
    EXPECT_EQ(kWasapiRatesDiffer, wasapiOpen(c4, r4, kWasapiShared, pcmFormat(44100, 2, 16), s4));
    EXPECT_EQ("renew", r4.calls.back());

    // A device that is gone while opening.
    ScriptedEndpoint c5(true), r5(false);
    r5.exclusiveResult = kAudclntDeviceInvalidated;
    r5.haveLowLatency = false;
    r5.refuseFormats = true;
    WasapiStream s5;
    EXPECT_NE(0, wasapiOpen(c5, r5, kWasapiExclusive, pcmFormat(44100, 2, 16), s5));
}

TEST_F(WasapiCore, SteadyClocksCarryEverySampleAtAFixedDelay) {
    open(kWasapiShared);
    Clock clock(capture, render, 48000.0, 48000.0, 10.0);
    run(clock);
    EXPECT_EQ(0u, engine.engineStatus.load());
    EXPECT_EQ("start", capture.calls[capture.calls.size() - 2]);
    EXPECT_EQ("stop", capture.calls.back());
    EXPECT_EQ("stop", render.calls.back());
    // The prefilled period, then the captured frames in order and unchanged.
    const std::vector<float>& out = render.played;
    ASSERT_GT(out.size(), 48000u * 9);
    size_t first = 0;
    while (first < out.size() && std::isnan(out[first])) ++first;
    EXPECT_EQ(480u, first) << "only the prefilled period is silent";
    size_t wrong = 0;
    for (size_t i = first; i < out.size(); ++i)
        if (out[i] != captured(i - first, 0)) ++wrong;
    EXPECT_EQ(0u, wrong);
    EXPECT_EQ(0u, counters.underruns.load());
    EXPECT_EQ(0u, counters.overruns.load());
    EXPECT_LE(counters.highWater.load(), 2u * 480);
}

TEST_F(WasapiCore, ClocksThatDriftEitherWayForMinutesKeepTheBufferBounded) {
    for (const double drift : {+0.001, -0.001}) {
        SCOPED_TRACE(drift > 0 ? "capture fast" : "capture slow");
        capture = ScriptedEndpoint(true);
        render = ScriptedEndpoint(false);
        counters.underruns = counters.overruns = counters.highWater = counters.blocks = 0;
        engineRelease(engine);
        open(kWasapiShared);
        const double seconds = 300.0;
        Clock clock(capture, render, 48000.0 * (1.0 + drift), 48000.0, seconds);
        run(clock);
        EXPECT_EQ(0u, engine.engineStatus.load());
        EXPECT_LE(counters.highWater.load(), wasapiFifoLimit(stream));
        // 0.1 % of five minutes is 14400 frames, 30 blocks: reconciled in
        // a bounded number of steps, never more than the drift calls for.
        const uint32_t driftBlocks = static_cast<uint32_t>(seconds * 48000.0 * 0.001 / 480.0);
        if (drift > 0) {
            EXPECT_GE(counters.overruns.load(), 1u);
            EXPECT_LE(counters.overruns.load(), driftBlocks + 1);
            EXPECT_LE(counters.underruns.load(), 1u);
        } else {
            EXPECT_GE(counters.underruns.load(), driftBlocks - 2);
            EXPECT_LE(counters.underruns.load(), driftBlocks + 2);
            EXPECT_EQ(0u, counters.overruns.load());
        }
        // The render side never ran dry: a block for every period.
        EXPECT_GE(counters.blocks.load(), static_cast<uint32_t>(seconds * 100) - 2);
        EXPECT_LE(render.queued, 3u * 480);
    }
}

TEST_F(WasapiCore, ADeviceLostMidStreamEndsTheLoopWithItsOwnStatusBit) {
    open(kWasapiShared);
    Clock clock(capture, render, 48000.0, 48000.0, 60.0);
    clock.loseDeviceAt = 200;
    run(clock);
    EXPECT_EQ(static_cast<uint32_t>(STATUS_DEVICE_LOST), engine.engineStatus.load());
    EXPECT_LE(clock.events, 201);
    EXPECT_EQ("stop", capture.calls.back());
    EXPECT_EQ("stop", render.calls.back());

    // Any other failure is the side's own error.
    engine.engineStatus = 0;
    capture = ScriptedEndpoint(true);
    render = ScriptedEndpoint(false);
    engineRelease(engine);
    open(kWasapiShared);
    capture.failWith = static_cast<int32_t>(0x80004005u);
    Clock again(capture, render, 48000.0, 48000.0, 60.0);
    run(again);
    EXPECT_EQ(static_cast<uint32_t>(STATUS_CAPTURE_ERROR), engine.engineStatus.load());
}

}  // namespace

// WASAPI live input under Wine, whose audio clients reach the test
// PulseAudio daemon: the null sinks "QvOutA" and "QvOutB" and their
// monitors are the endpoints. Wine refuses exclusive mode, so asking for it
// proves the fallback; the stream then runs without a fault and stops and
// starts again without hanging, and an endpoint that is gone is a lost
// device, not a crash.
#include <gtest/gtest.h>

#include <windows.h>
#include <objbase.h>

#include <cstdio>
#include <string>

#include "devices/audiosystem.h"
#include "devices/wasapi.h"
#include "streamconv/binding.h"
#include "tests/support/modules.h"
#include "tests/support/transparent.h"
#include "tests/support/watchdog.h"

namespace {

const WasapiDevice* named(bool capture, const std::string& name) {
    for (int i = 0; i < wasapiDeviceCount(capture); ++i)
        if (name == wasapiDeviceAt(capture, i)->name) return wasapiDeviceAt(capture, i);
    return nullptr;
}

class Wasapi : public ::testing::Test {
protected:
    EngineState engine;

    static void SetUpTestSuite() { CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED); }
    void SetUp() override {
        ASSERT_TRUE(converterBind(stagePath("streamconv.dll").c_str()));
        ASSERT_EQ(0, wasapiEnumerate());
        wasapiSetEngine(&engine);
        makeTransparent(engine);
    }
    void TearDown() override {
        wasapiStop();
        engineRelease(engine);
        wasapiSetEngine(nullptr);
    }
};

TEST_F(Wasapi, EndpointsAreListedByTheirNamesAndExclusiveFallsBackToARunningSharedStream) {
    const WasapiDevice* out = named(false, "QvOutA");
    const WasapiDevice* in = named(true, "Monitor of QvOutB");
    ASSERT_TRUE(out && in) << "the null sinks are not listed";
    EXPECT_TRUE(named(false, "QvOutB"));
    wasapiApply(kWasapiExclusive, in->id, out->id);
    EXPECT_EQ(kAudioSystemWasapi, gAudioSystem);
    EXPECT_FALSE(wasapiFollowsDefault());
    ASSERT_EQ(0, wasapiStart());
    const WasapiStream& s = wasapiLastStream();
    EXPECT_NE(kWasapiExclusive, s.mode);
    EXPECT_TRUE(s.fallbacks & kWasapiExclusiveRefused);
    EXPECT_EQ(s.periodFrames, engine.blockSize);
    std::printf("wasapi: %s at %u Hz, period %u frames, buffers %u/%u frames, latency in %u out %u frames\n",
                wasapiModeName(s.mode), s.rate, s.periodFrames, s.captureBufferFrames, s.renderBufferFrames,
                s.inputLatencyFrames, s.outputLatencyFrames);
    const WasapiCounters& c = wasapiCounters();
    Sleep(2000);
    std::printf("wasapi: %u blocks, %u under-runs, %u over-runs, buffer at most %u frames\n", c.blocks.load(),
                c.underruns.load(), c.overruns.load(), c.highWater.load());
    EXPECT_EQ(0u, engine.engineStatus.load());
    // Two seconds of 10 ms periods, give or take the start.
    EXPECT_GT(c.blocks.load(), 2000u * s.rate / 1000 / s.periodFrames / 2);
    EXPECT_EQ(0, wasapiStop());
    EXPECT_FALSE(wasapiStreaming());
}

TEST_F(Wasapi, StartingAndStoppingInQuickSuccessionNeverHangs) {
    wasapiApply(kWasapiShared, "", "");
    EXPECT_TRUE(wasapiFollowsDefault());
    Watchdog watchdog("start/stop cycles", 60000);
    for (int i = 0; i < 10; ++i) {
        ASSERT_EQ(0, wasapiStart()) << "cycle " << i;
        Sleep(static_cast<DWORD>(i * 7));
        ASSERT_EQ(0, wasapiStop()) << "cycle " << i;
    }
    EXPECT_EQ(0u, engine.engineStatus.load() & (STATUS_PLAYBACK_ERROR | STATUS_CAPTURE_ERROR));
}

TEST_F(Wasapi, AnEndpointThatIsGoneIsALostDevice) {
    wasapiApply(kWasapiShared, "{0.0.1.00000000}.{00000000-0000-0000-0000-000000000000}", "");
    EXPECT_EQ(kWasapiDeviceLost, wasapiStart());
    EXPECT_FALSE(wasapiStreaming());
}

}  // namespace

// DirectSound live input under Wine, whose DirectSound reaches the test
// PulseAudio daemon: two null sinks "QvOutA" and "QvOutB", whose monitors
// are capture devices. The loopback test plays bursts into QvOutB and runs
// live input from its monitor back into QvOutB at half gain, so every burst
// returns as a train of echoes, each one loop later and half as loud.
#include <gtest/gtest.h>

#include <windows.h>
#include <mmsystem.h>
#include <dsound.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "devices/directsound.h"
#include "devices/wasapi.h"
#include "streamconv/binding.h"
#include "tests/support/appfolder.h"
#include "tests/support/devicetiming.h"
#include "tests/support/loopbackrig.h"
#include "tests/support/modules.h"
#include "tests/support/transparent.h"
#include "tests/support/watchdog.h"

namespace {

int indexOf(const DsDevice* list, const std::string& description) {
    int i = 0;
    for (const DsDevice* d = list; d; d = d->next, ++i)
        if (description == d->description) return i;
    return -1;
}

const DsDevice* nodeAt(const DsDevice* list, int index) {
    for (int i = 0; list && i < index; ++i) list = list->next;
    return list;
}

HWND testWindow() {
    static HWND window = CreateWindowA("STATIC", "qvtest", 0, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
    return window;
}

class DirectSound : public ::testing::Test {
protected:
    EngineState engine;
    int outA = -1, outB = -1, monitorA = -1, monitorB = -1;

    static void SetUpTestSuite() {
        ASSERT_EQ(0, dsEnumerateDevices());
    }
    void SetUp() override {
        ASSERT_TRUE(converterBind(stagePath("streamconv.dll").c_str()));
        dsSetEngine(&engine);
        dsSettings() = DsSettings{};
        outA = indexOf(dsPlaybackDevices(), "QvOutA");
        outB = indexOf(dsPlaybackDevices(), "QvOutB");
        monitorA = indexOf(dsCaptureDevices(), "Monitor of QvOutA");
        monitorB = indexOf(dsCaptureDevices(), "Monitor of QvOutB");
        makeTransparent(engine);
    }
    void TearDown() override {
        dsStop();
        dsCloseOutput();
        dsCloseInput();
        engineRelease(engine);
        dsSetEngine(nullptr);
    }
};

TEST_F(DirectSound, DevicesAreListedInThePlatformsOrder) {
    ASSERT_NE(nullptr, dsPlaybackDevices());
    EXPECT_EQ(nullptr, dsPlaybackDevices()->id);  // the default device comes first
    EXPECT_GE(outA, 1);
    EXPECT_GE(outB, 1);
    EXPECT_GE(monitorA, 0);
    EXPECT_GE(monitorB, 0);
    for (const DsDevice* d = dsPlaybackDevices(); d; d = d->next) std::printf("playback: %s\n", d->description);
    for (const DsDevice* d = dsCaptureDevices(); d; d = d->next) std::printf("capture: %s\n", d->description);
    EXPECT_NE(nullptr, nodeAt(dsPlaybackDevices(), outA)->id);
}

TEST_F(DirectSound, ApplyingOpensClampsAndRefusesUnknownFormats) {
    ASSERT_EQ(0, dsApplySettings(outA, monitorB, 5, 40, 70, testWindow()));
    EXPECT_EQ(outA, dsSettings().outputIndex);
    EXPECT_EQ(monitorB, dsSettings().inputIndex);
    EXPECT_EQ(32, dsSettings().buffers);
    EXPECT_EQ(1764u, engine.blockSize);
    EXPECT_EQ(0, dsOpenOutput(outB, testWindow()));  // one is open: nothing happens
    EXPECT_EQ(outA, dsSettings().outputIndex);

    ASSERT_EQ(0, dsApplySettings(outB, monitorB, 1, 20, 4, testWindow()));
    EXPECT_EQ(outB, dsSettings().outputIndex);
    EXPECT_EQ(882u, engine.blockSize);

    EXPECT_EQ(kDsNoOutputDriver, dsApplySettings(99, monitorB, 5, 20, 2, testWindow()));
    EXPECT_EQ(-1, dsSettings().outputIndex);
    EXPECT_EQ(-1, dsSettings().inputIndex);  // the input closes with it

    EXPECT_EQ(kDsNoInputDriver, dsApplySettings(outA, 99, 5, 20, 2, testWindow()));
    EXPECT_EQ(-1, dsSettings().outputIndex);  // the output closes with it

    EXPECT_EQ(kDsFormatRefused, dsApplySettings(outA, monitorB, 16, 20, 2, testWindow()));
    EXPECT_EQ(-1, dsSettings().outputIndex);
    EXPECT_EQ(-1, dsSettings().inputIndex);
    EXPECT_EQ(0, dsStop());  // nothing streams: at once
}

TEST_F(DirectSound, AFormatOutsideTheTableFailsTheStartBeforeAnyBuffer) {
    ASSERT_EQ(0, dsApplySettings(outA, monitorB, 5, 20, 2, testWindow()));
    dsSettings().formatIndex = 16;
    EXPECT_EQ(kDsCaptureFormatError, dsStart());
    EXPECT_FALSE(dsStreaming());
    dsSettings().formatIndex = 5;
    engine.blockSize = 0;  // no block: no buffer
    EXPECT_EQ(kDsCaptureSizeError, dsStart());
    EXPECT_FALSE(dsStreaming());
    engine.blockSize = 882;
    dsSettings().buffers = 1;  // raised to 2 at start
    ASSERT_EQ(0, dsStart());
    EXPECT_EQ(2, dsSettings().buffers);
    Sleep(300);
    EXPECT_EQ(0, dsStop());
    EXPECT_FALSE(dsStreaming());
    EXPECT_EQ(0u, engine.engineStatus.load() & (STATUS_PLAYBACK_ERROR | STATUS_CAPTURE_ERROR));
}

TEST_F(DirectSound, StartingAndStoppingInQuickSuccessionNeverHangs) {
    // 32 kHz, 16-bit, mono: Wine's capture takes no 24-bit format of this kind.
    ASSERT_EQ(0, dsApplySettings(outA, monitorB, 0, 5, 2, testWindow()));
    for (int round = 0; round < 10; ++round) {
        ASSERT_EQ(0, dsStart()) << round;
        EXPECT_TRUE(dsStreaming());
        Sleep(static_cast<DWORD>(round * 7));
        ASSERT_EQ(0, dsStop()) << round;
        EXPECT_FALSE(dsStreaming());
        engineRelease(engine);
    }
    // Closing a device stops the streaming first.
    ASSERT_EQ(0, dsStart());
    EXPECT_EQ(0, dsCloseInput());
    EXPECT_FALSE(dsStreaming());
    EXPECT_EQ(0u, engine.engineStatus.load() & (STATUS_PLAYBACK_ERROR | STATUS_CAPTURE_ERROR));
}

// ---- the loopback ----

// Live input from "Monitor of QvOutB" back into QvOutB itself, with an
// input gain of 0.5: every burst played there comes round again and again,
// each time half as loud, one loop latency later. One recording of that
// monitor holds the burst and its echoes, so no two recordings need to be
// lined up.
//
// Each burst and its echoes (a train) is judged as soon as it has come
// back. Every round must come back at half the level before it, and no
// sooner than the program's own share of the lateness: captured block k
// plays as block k + 2, the output delay after capture began. The sound
// system adds its devices' buffering on top, and under Wine that share
// moves in steps of its own period while a run goes on (device_timing
// reports it), so it is bounded, not predicted. A round that is wrong is a
// fault unless a stall was measured while it was on its way (a late block
// of live input, a device cursor that stopped and caught up, the harness
// itself held up, an echo heard twice, an echo lost beside rounds that came
// back right, or a piece of the echo an excused round ended on); so are
// missing rounds. A train so excused counts as stalled and the next burst's
// train stands in for what it lacked, at most kLoopRepeats times. The
// correct rounds of every train count; two trains' worth are wanted, and
// one train that came back whole.
constexpr int kLoopTrains = 2;
// Two busy loops on a machine already busy (load 8 on two cores) starved the
// sound server of whole trains four times in a row, every time measured.
constexpr int kLoopRepeats = 5;
constexpr size_t kMinRounds = 3;  // 0.5, 0.25, 0.125 and 0.0625 stand clear of the onset threshold
constexpr size_t kLoopRounds = kLoopTrains * kMinRounds;

// Everything above the noise after `from` for `frames`: when (ms after it)
// and how loud, for a train that failed.
std::string heardAfter(const std::vector<float>& heard, size_t from, double frames) {
    std::string text;
    for (size_t onset : findOnsets(heard, 0.01f, static_cast<size_t>(kLoopRate / 100.0))) {
        if (onset < from || static_cast<double>(onset - from) > frames) continue;
        float peak = 0.0f;
        for (size_t i = onset; i < heard.size() && i < onset + static_cast<size_t>(kLoopRate / 50.0); ++i)
            peak = std::max(peak, std::fabs(heard[i]));
        char item[48];
        std::snprintf(item, sizeof item, " %.1f ms %.3f", static_cast<double>(onset - from) * 1000.0 / kLoopRate,
                      peak);
        text += item;
    }
    return text;
}

// Plays bursts into `sink` while live input (`start`, `stop`) runs from
// `monitor` back into it at half gain, and judges every train of echoes;
// `medianMs` is the median round, the loop's latency. The first burst waits
// `settleMs` after the signal flows: a stream that drops its start-up backlog
// while it settles changes its loop once, which no train may straddle.
void runLoopback(EngineState& engine, const DsDevice* monitor, const DsDevice* sink, int32_t (*start)(),
                 int32_t (*stop)(), double blockMs, const LoopExpectation& expected, const char* what,
                 double& medianMs, DWORD settleMs = 0) {
    LoopbackRig rig;
    // Room for the start, the settling and every train that may be played.
    const double seconds = (kLoopTrains + kLoopRepeats + 2) * kTrainMs / 1000.0 + 20.0;
    ASSERT_TRUE(rig.begin(monitor, sink, seconds, engine, testWindow()));
    ASSERT_EQ(0, start());
    ASSERT_TRUE(rig.waitUntilFlowing(1000.0, 10000.0)) << "live input or the recording never started";
    Sleep(settleMs);
    ASSERT_TRUE(rig.play());

    // A train is over when the recording holds this much after its burst.
    const double trainFrames = 0.8 * kTrainMs * kLoopRate / 1000.0;
    const double limitMs = rig.nowMs() + (kLoopTrains + kLoopRepeats + 1) * kTrainMs + 5000.0;
    int stalled = 0, whole = 0;
    size_t judged = 0;
    std::string faults;
    std::vector<double> loops;
    while ((loops.size() < kLoopRounds || whole == 0) && stalled <= kLoopRepeats && faults.empty() &&
           rig.nowMs() < limitMs) {
        Sleep(100);
        const std::vector<float> heard = rig.heard();
        const std::vector<LoopTrain> trains = loopTrains(heard, kLoopRate);
        for (; judged < trains.size() && faults.empty(); ++judged) {
            const LoopTrain& train = trains[judged];
            if (static_cast<double>(heard.size()) < static_cast<double>(train.burst) + trainFrames) break;
            std::vector<StallMeasure> roundStalls;
            std::string rounds;
            for (const LoopRound& r : train.rounds) {
                roundStalls.push_back(
                    rig.stallAround(static_cast<double>(r.from), static_cast<double>(r.to), blockMs));
                char text[80];
                std::snprintf(text, sizeof text, " %.0f ms x%.2f (stall %.0f)", r.loopMs, r.ratio,
                              roundStalls.back().stallMs);
                rounds += text;
            }
            const StallMeasure trainStall = rig.stallAround(static_cast<double>(train.burst),
                                                            static_cast<double>(train.burst) + trainFrames, blockMs);
            char why[160];
            const Verdict verdict = trainVerdict(train, expected, kMinRounds, roundStalls, trainStall, why, sizeof why);
            std::printf(
                "loopback train %zu:%s; %zu echoes doubled, %zu split; over the train: stall %.1f ms (blocks %.1f, "
                "capture %.1f, play %.1f, harness %.1f)\n",
                judged + 1, rounds.c_str(), train.doubled.size(), train.split.size(), trainStall.stallMs, trainStall.blockGapMs,
                trainStall.captureLagMs, trainStall.playLagMs, trainStall.probeGapMs);
            if (verdict == Verdict::Fault) {
                faults = "train " + std::to_string(judged + 1) + ": " + why + "; heard:" +
                         heardAfter(heard, train.burst, trainFrames);
                break;
            }
            for (const LoopRound& r : train.rounds)
                if (roundCorrect(r, expected)) loops.push_back(r.loopMs);
            if (verdict == Verdict::Good) ++whole;
            if (verdict == Verdict::Stalled) {
                ++stalled;
                std::printf("loopback train %zu stalled, %s: repeat %d of %d\n", judged + 1, why, stalled,
                            kLoopRepeats);
            }
        }
    }
    rig.end();
    {
        Watchdog watchdog("stop", 10000);  // a streaming thread that hangs is no stall
        ASSERT_EQ(0, stop());
    }
    EXPECT_EQ(0u, engine.engineStatus.load() & (STATUS_PLAYBACK_ERROR | STATUS_CAPTURE_ERROR));
    ASSERT_EQ("", faults) << "a round was wrong while nothing stalled";
    ASSERT_LE(stalled, kLoopRepeats) << "stalled more often than it may be repeated";
    ASSERT_GE(loops.size(), kLoopRounds) << "rounds that never came back (" << judged << " trains judged)";
    ASSERT_GE(whole, 1) << "no train came back whole";
    std::sort(loops.begin(), loops.end());
    medianMs = loops[loops.size() / 2];
    std::printf("loopback %s: %zu rounds, median %.1f ms\n", what, loops.size(), medianMs);
}

TEST_F(DirectSound, LoopbackCarriesTheSignalScaledAndLateByTheBlockGeometry) {
    const uint32_t latencyMs = 20;
    ASSERT_EQ(0, dsApplySettings(outB, monitorB, 5, latencyMs, 3, testWindow()));
    engine.inputGain = 0.5f;
    LoopExpectation expected;
    const double geometryMs = 2.0 * latencyMs + dsSettings().outputDelayMs;
    expected.minLoopMs = geometryMs - 5.0;
    expected.maxLoopMs = geometryMs + 400.0;

    double medianMs = 0.0;
    runLoopback(engine, nodeAt(dsCaptureDevices(), monitorB), nodeAt(dsPlaybackDevices(), outB), dsStart, dsStop,
                latencyMs, expected, "DirectSound", medianMs);
    std::printf("loopback: the block geometry accounts for %.1f ms of DirectSound's, the sound system for the rest\n",
                geometryMs);
}

// The same loop through WASAPI Shared; and DirectSound at its defaults (40
// ms, 2 buffers) in the same run, for the figure beside it.
TEST_F(DirectSound, WasapiSharedLoopsTheSignalBackSoonerThanDirectSoundAtItsDefaults) {
    ASSERT_EQ(0, wasapiEnumerate());
    const WasapiDevice* out = nullptr;
    const WasapiDevice* in = nullptr;
    for (int i = 0; i < wasapiDeviceCount(false); ++i)
        if (std::string(wasapiDeviceAt(false, i)->name) == "QvOutB") out = wasapiDeviceAt(false, i);
    for (int i = 0; i < wasapiDeviceCount(true); ++i)
        if (std::string(wasapiDeviceAt(true, i)->name) == "Monitor of QvOutB") in = wasapiDeviceAt(true, i);
    ASSERT_TRUE(in && out) << "the null sink is not listed";
    engine.inputGain = 0.5f;
    wasapiSetEngine(&engine);
    wasapiApply(kWasapiShared, in->id, out->id);
    LoopExpectation expected;
    expected.minLoopMs = 10.0;
    expected.maxLoopMs = 400.0;
    double wasapiMs = 0.0;
    runLoopback(engine, nodeAt(dsCaptureDevices(), monitorB), nodeAt(dsPlaybackDevices(), outB), wasapiStart,
                wasapiStop, 10.0, expected, "WASAPI Shared", wasapiMs, 2500);
    wasapiSetEngine(nullptr);
    engineRelease(engine);

    ASSERT_EQ(0, dsApplySettings(outB, monitorB, 5, 40, 2, testWindow()));
    expected.minLoopMs = 2.0 * 40 + dsSettings().outputDelayMs - 5.0;
    expected.maxLoopMs = 1000.0;
    double directSoundMs = 0.0;
    runLoopback(engine, nodeAt(dsCaptureDevices(), monitorB), nodeAt(dsPlaybackDevices(), outB), dsStart, dsStop,
                40.0, expected, "DirectSound at 40 ms, 2 buffers", directSoundMs);
    if (HasFatalFailure()) return;  // no figure to compare
    std::printf("loopback: WASAPI Shared %.1f ms, DirectSound at its defaults %.1f ms\n", wasapiMs, directSoundMs);
    EXPECT_LT(wasapiMs, directSoundMs);
}

}  // namespace

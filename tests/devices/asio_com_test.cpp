// The ASIO layer against the test driver registered as a COM server in the
// Wine prefix, as real drivers register: discovery from the registry,
// creation through COM, and live input driven by the driver's own thread at
// the real period.
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "devices/asiohost.h"
#include "devices/asioloader.h"
#include "streamconv/binding.h"
#include "tests/modules/testasio_core.h"
#include "tests/support/appfolder.h"
#include "tests/support/asiorig.h"
#include "tests/support/modules.h"
#include "tests/support/transparent.h"

namespace {

using SetConfigFn = void (*)(const TestAsioConfig*);
using CurrentFn = TestAsioCore* (*)();

// A round held up by the machine is run again, this many times at most.
constexpr int kRepeats = 3;

class AsioCom : public ::testing::Test {
protected:
    EngineState engine;
    std::string server = testModulePath("testasio");
    AsioRigDriver rig;
    SetConfigFn setConfig = nullptr;
    CurrentFn currentDriver = nullptr;

    void SetUp() override {
        ASSERT_TRUE(converterBind(stagePath("streamconv.dll").c_str()));
        ASSERT_TRUE(asioRigRegister(server));
        ASSERT_TRUE(asioRigLoad(rig, server));
        setConfig = rig.setConfig;
        currentDriver = rig.current;

        gAsioHost = AsioHost{};
        gAsioHost.engine = &engine;
        gAsioLoader = AsioLoader{};
        asioListBuild(gAsioLoader.list);
        makeTransparent(engine);
    }
    void TearDown() override {
        if (gAsioHost.running) asioStop();
        asioRemoveCurrentDriver(gAsioLoader);
        asioListDestroy(gAsioLoader.list);
        gAsioLoader = AsioLoader{};
        gAsioHost = AsioHost{};
        asioRigUnregister();
    }

    TestAsioCore& core() { return *currentDriver(); }

    // Live input on the test driver until the host has processed
    // `millis` milliseconds of switches. What the round proves is checked at
    // once, whatever the machine did meanwhile: the host processed every
    // switch once and in order, wrote the driver's input back unchanged,
    // called outputReady after each, raised no status and stopped. The
    // pace (a switch per period) depends on the scheduler only in how often
    // the driver falls behind; how fast it catches up, running the switches
    // it owes back to back, is the switch's own cost: a switch that costs a
    // period or more is a fault however busy the machine. A round that ended
    // behind with too few back-to-back switches to tell is run again, at
    // most kRepeats times.
    void runRounds(const char* what, const TestAsioConfig& config, double millis) {
        const int64_t target = asioSwitchesIn(millis, config.rate, config.preferredSize);
        ASSERT_LE(target * config.preferredSize, static_cast<int64_t>(TestAsioCore{}.captureLimit));
        const DWORD limit = static_cast<DWORD>(millis * 10 + 5000);
        for (int attempt = 0; attempt <= kRepeats; ++attempt) {
            AsioRound round;
            asioRunRound(rig, engine, config, target, limit, round);
            report(what, attempt, round);
            ASSERT_EQ(0, round.openResult);
            ASSERT_EQ(0, round.startResult);
            ASSERT_EQ(0, round.stopResult);
            ASSERT_TRUE(round.reached) << "the host processed " << round.switchOf.size() << " of " << target
                                       << " switches in " << limit << " ms: it hangs or drops switches";
            EXPECT_EQ(-1, round.firstMisplacedBlock)
                << "block " << round.firstMisplacedBlock << " was switch "
                << round.switchOf[static_cast<size_t>(std::max<int64_t>(round.firstMisplacedBlock, 0))];
            EXPECT_EQ(-1, round.firstWrongFrame)
                << "output " << round.wrongChannel << " at frame " << round.firstWrongFrame << ": " << round.wrongValue
                << " instead of " << round.expectedValue;
            // One outputReady after every switch, and one when the host asked at the start.
            EXPECT_EQ(round.record.switches + 1, round.record.outputReadyCalls);
            EXPECT_EQ(0u, round.status);
            if (HasFailure()) return;
            const Verdict pace = paceVerdict(round.timing);
            if (pace == Verdict::Good) return;
            ASSERT_TRUE(pace != Verdict::Fault)
                << "a switch costs " << round.timing.catchUpMicros << " us run back to back; the period is "
                << round.timing.periodMicros << " us";
            std::printf("%s: round %d stalled, run again\n", what, attempt + 1);
        }
        FAIL() << "every one of " << 1 + kRepeats << " rounds stalled";
    }

    static void report(const char* what, int attempt, const AsioRound& round) {
        const SwitchTiming& t = round.timing;
        std::printf(
            "%s, round %d: %lld switches in %.1f ms (%.1f ms of periods), stall %.1f ms, worst gap %.0f us, "
            "%lld late, %lld run back to back at %.0f us each; the driver counted %lld late, slowest host callback "
            "%.0f us; stop %.1f ms\n",
            what, attempt + 1, static_cast<long long>(t.switches), t.wallMicros / 1000.0, t.expectedMicros / 1000.0,
            t.stallMicros / 1000.0, t.worstGapMicros, static_cast<long long>(t.lateSwitches),
            static_cast<long long>(t.catchUpSwitches), t.catchUpMicros,
            static_cast<long long>(round.record.lateSwitches), round.record.worstHostMicros, round.stopMs);
    }
};

TEST_F(AsioCom, DiscoveryListsRegisteredDriversWithAnExistingServerOnly) {
    std::vector<std::string> names;
    for (int32_t id = 0; id < asioGetNumDev(gAsioLoader.list); ++id) {
        char name[32];
        ASSERT_EQ(0, asioGetDriverName(gAsioLoader.list, id, name, 32));
        names.push_back(name);
    }
    std::sort(names.begin(), names.end());
    EXPECT_EQ((std::vector<std::string>{"Quorvane Test Driver", "QvNoDescription"}), names);
    EXPECT_TRUE(gAsioLoader.list.comStarted);
}

TEST_F(AsioCom, LiveInputRunsAtTheDriversPeriodAndPassesTheSignal) {
    TestAsioConfig config;
    config.inputType = config.outputType = ASIOSTInt32LSB;
    config.rate = 48000.0;
    config.preferredSize = 256;
    runRounds("48 kHz, 256 frames", config, 1500);
}

// The smallest buffers at the highest rate, with a driver whose outputReady
// takes 60 us: no switch is lost or misplaced and the host keeps pace. How
// many periods the shared machine makes it miss is device_timing's figure.
TEST_F(AsioCom, ThirtyTwoFrameBuffersAt96kHzMissNoPeriod) {
    TestAsioConfig config;
    config.rate = 96000.0;
    config.preferredSize = 32;
    config.outputReadyMicros = 60;  // a driver that takes its time
    runRounds("96 kHz, 32 frames", config, 2000);
}

TEST_F(AsioCom, AResetRequestAsksForARestartThatPicksUpTheNewSize) {
    TestAsioConfig config;
    config.preferredSize = 128;
    config.messageAtSwitch = 20;
    config.messageSelector = kAsioResetRequest;
    setConfig(&config);
    ASSERT_EQ(0, asioOpen("Quorvane Test Driver"));
    ASSERT_EQ(0, asioStart());
    for (int wait = 0; wait < 200 && !(engine.engineStatus.load() & STATUS_RESTART_REQUEST); ++wait) Sleep(5);
    ASSERT_TRUE(engine.engineStatus.load() & STATUS_RESTART_REQUEST);
    EXPECT_EQ(1, core().record.messageAnswer);
    // What the refresh timer does: stop, then start with the driver's settings.
    ASSERT_EQ(0, asioStop());
    engine.processingEnabled = true;
    engine.engineStatus = 0;
    core().config.preferredSize = 64;
    ASSERT_EQ(0, asioStart());
    Sleep(200);
    ASSERT_EQ(0, asioStop());
    EXPECT_EQ(64u, static_cast<uint32_t>(core().record.createdSize));
    EXPECT_EQ(2, core().record.disposeCalls);
    EXPECT_EQ(2, core().record.startCalls);
}

}  // namespace

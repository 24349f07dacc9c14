// The timing figures of live input under Wine, reported and never judged:
// how many periods the test ASIO driver's thread misses at 32 frames and
// 96 kHz (and at 256 frames and 48 kHz), how its switches are spread, and
// the round-trip time of the DirectSound loop through the PulseAudio null
// sink QvOutB. They depend on the machine and on what else runs on it;
// the device tests prove what does not.
//
//   device_timing [--asio-seconds S] [--loopback-seconds S] [--no-asio] [--no-loopback]
//
// Exit code 1 when a switch was lost or misplaced, the host's output was not
// the driver's input, or live input could not start; 3 when a stop hung
// (deadlock). Run it under the services of scripts/services.sh.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "devices/asiohost.h"
#include "devices/asioloader.h"
#include "devices/directsound.h"
#include "streamconv/binding.h"
#include "tests/support/appfolder.h"
#include "tests/support/asiorig.h"
#include "tests/support/devicetiming.h"
#include "tests/support/loopbackrig.h"
#include "tests/support/modules.h"
#include "tests/support/transparent.h"
#include "tests/support/watchdog.h"

namespace {

struct Options {
    double asioSeconds = 10.0;
    double loopbackSeconds = 12.0;
    bool asio = true, loopback = true;
};

bool parse(int argc, char** argv, Options& o) {
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--asio-seconds" && i + 1 < argc) {
            o.asioSeconds = std::atof(argv[++i]);
        } else if (a == "--loopback-seconds" && i + 1 < argc) {
            o.loopbackSeconds = std::atof(argv[++i]);
        } else if (a == "--no-asio") {
            o.asio = false;
        } else if (a == "--no-loopback") {
            o.loopback = false;
        } else {
            return false;
        }
    }
    return o.asioSeconds > 0.0 && o.loopbackSeconds > 0.0;
}

// One configuration of the test driver for `seconds`; false when the host
// lost, misplaced or changed a switch.
bool timeAsio(const AsioRigDriver& driver, const char* what, const TestAsioConfig& config, double seconds) {
    EngineState engine;
    makeTransparent(engine);
    gAsioHost = AsioHost{};
    gAsioHost.engine = &engine;
    const int64_t target = asioSwitchesIn(seconds * 1000.0, config.rate, config.preferredSize);
    AsioRound round;
    asioRunRound(driver, engine, config, target, static_cast<DWORD>(seconds * 10000.0 + 5000.0), round);
    asioRemoveCurrentDriver(gAsioLoader);
    gAsioHost = AsioHost{};
    const SwitchTiming& t = round.timing;
    std::printf("ASIO %s, %.0f s: %lld switches in %.1f ms (%.1f ms of periods of %.1f us)\n", what, seconds,
                static_cast<long long>(t.switches), t.wallMicros / 1000.0, t.expectedMicros / 1000.0, t.periodMicros);
    std::printf(
        "  late switches: %lld by their start (%.2f%%), %lld by the driver's count (ended after the next "
        "period began)\n",
        static_cast<long long>(t.lateSwitches),
        t.switches ? 100.0 * static_cast<double>(t.lateSwitches) / static_cast<double>(t.switches) : 0.0,
        static_cast<long long>(round.record.lateSwitches));
    std::printf("  gap between switches: p50 %.0f us, p99 %.0f us, p99.9 %.0f us, worst %.0f us\n", t.gapP50, t.gapP99,
                t.gapP999, t.worstGapMicros);
    std::printf("  lateness behind the schedule: p50 %.0f us, p99 %.0f us, worst %.0f us\n", t.latenessP50,
                t.latenessP99, t.latenessMax);
    std::printf("  a switch run back to back (catching up): %.0f us (median of %lld)\n", t.catchUpMicros,
                static_cast<long long>(t.catchUpSwitches));
    std::printf(
        "  stall (time beyond a period in gaps over %.0f periods): %.1f ms; slowest switch %.0f us, slowest "
        "host callback %.0f us\n",
        kStallGapPeriods, t.stallMicros / 1000.0, round.record.worstCallbackMicros, round.record.worstHostMicros);
    bool ok = round.openResult == 0 && round.startResult == 0 && round.stopResult == 0 && round.reached &&
              round.firstMisplacedBlock < 0 && round.firstWrongFrame < 0 &&
              round.record.outputReadyCalls == round.record.switches + 1 && round.status == 0;
    if (!ok)
        std::printf(
            "  FAULT: open %d, start %d, stop %d, %zu of %lld switches processed, first misplaced block %lld, "
            "first wrong frame %lld, %d outputReady calls for %lld switches, status 0x%x\n",
            round.openResult, round.startResult, round.stopResult, round.switchOf.size(),
            static_cast<long long>(target), static_cast<long long>(round.firstMisplacedBlock),
            static_cast<long long>(round.firstWrongFrame), round.record.outputReadyCalls,
            static_cast<long long>(round.record.switches), round.status);
    return ok;
}

const DsDevice* deviceNamed(const DsDevice* list, const char* description) {
    for (; list; list = list->next)
        if (std::strcmp(list->description, description) == 0) return list;
    return nullptr;
}

int32_t indexNamed(const DsDevice* list, const char* description) {
    int32_t i = 0;
    for (; list; list = list->next, ++i)
        if (std::strcmp(list->description, description) == 0) return i;
    return -1;
}

// The loop through QvOutB at 20 ms blocks, 3 buffers, gain 0.5, for
// `seconds`; false when live input could not run.
bool timeLoopback(double seconds) {
    if (dsEnumerateDevices() != 0) return false;
    const int32_t sink = indexNamed(dsPlaybackDevices(), "QvOutB");
    const int32_t monitor = indexNamed(dsCaptureDevices(), "Monitor of QvOutB");
    if (sink < 0 || monitor < 0) {
        std::printf("Loopback: no QvOutB or its monitor (are the services running?)\n");
        return false;
    }
    HWND window = CreateWindowA("STATIC", "device_timing", 0, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
    EngineState engine;
    makeTransparent(engine);
    engine.inputGain = 0.5f;
    dsSetEngine(&engine);
    const uint32_t latencyMs = 20;
    if (dsApplySettings(sink, monitor, 5, latencyMs, 3, window) != 0) return false;
    const double geometryMs = 2.0 * latencyMs + dsSettings().outputDelayMs;

    LoopbackRig rig;
    bool ok = rig.begin(deviceNamed(dsCaptureDevices(), "Monitor of QvOutB"),
                        deviceNamed(dsPlaybackDevices(), "QvOutB"), seconds + 4.0, engine, window) &&
              dsStart() == 0;
    const double flowing = rig.nowMs();
    ok = ok && rig.waitUntilFlowing(1000.0, 10000.0);
    const double startupMs = rig.nowMs() - flowing;
    ok = ok && rig.play();
    const double playedFrom = rig.nowMs();
    if (ok) Sleep(static_cast<DWORD>(seconds * 1000.0));
    const std::vector<float> heard = rig.heard();
    std::vector<double> loops, ratios, shares;
    std::printf(
        "Loopback (DirectSound, QvOutB, 20 ms blocks, 3 buffers, gain 0.5), %.0f s after %.0f ms of "
        "start-up:\n",
        seconds, startupMs);
    int trainNumber = 0;
    size_t doubled = 0;
    for (const LoopTrain& train : loopTrains(heard, kLoopRate)) {
        std::string rounds;
        double worstStall = 0.0;
        const char* where = "";
        for (const LoopRound& r : train.rounds) {
            const StallMeasure s = rig.stallAround(static_cast<double>(r.from), static_cast<double>(r.to), latencyMs);
            if (s.stallMs > worstStall) {
                worstStall = s.stallMs;
                where = s.source;
            }
            char text[48];
            std::snprintf(text, sizeof text, " %.1f ms x%.3f", r.loopMs, r.ratio);
            rounds += text;
            loops.push_back(r.loopMs);
            ratios.push_back(r.ratio);
            shares.push_back(r.loopMs - geometryMs);
        }
        doubled += train.doubled.size();
        std::printf("  train %d:%s; %zu echoes doubled; worst stall during a round %.1f ms%s%s\n", ++trainNumber,
                    rounds.c_str(), train.doubled.size(), worstStall, *where ? " in " : "", where);
    }
    const std::vector<double> blocks = rig.blocks();
    std::vector<double> blockGaps;
    for (size_t i = 1; i < blocks.size(); ++i)
        if (blocks[i - 1] >= playedFrom) blockGaps.push_back(blocks[i] - blocks[i - 1]);
    rig.end();
    {
        Watchdog watchdog("dsStop", 10000);
        dsStop();
    }
    dsCloseOutput();
    dsCloseInput();
    dsSetEngine(nullptr);
    DestroyWindow(window);
    if (loops.empty()) {
        std::printf("  no round came back\n");
        return ok;
    }
    std::printf(
        "  round trip: %zu rounds, min %.1f ms, p50 %.1f ms, max %.1f ms; the block geometry's share %.1f ms, "
        "the sound system's p50 %.1f ms\n",
        loops.size(), percentile(loops, 0.0), percentile(loops, 50.0), percentile(loops, 100.0), geometryMs,
        percentile(shares, 50.0));
    std::printf("  echoes heard twice (the real-time path glitched): %zu\n", doubled);
    std::printf("  echo level over the one before: min %.3f, p50 %.3f, max %.3f (the loop's gain is 0.5)\n",
                percentile(ratios, 0.0), percentile(ratios, 50.0), percentile(ratios, 100.0));
    std::printf("  live input's blocks while the bursts played: %zu, gap p50 %.1f ms, p99 %.1f ms, worst %.1f ms\n",
                blockGaps.size(), percentile(blockGaps, 50.0), percentile(blockGaps, 99.0),
                percentile(blockGaps, 100.0));
    return ok;
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    if (!parse(argc, argv, options)) {
        std::printf("usage: device_timing [--asio-seconds S] [--loopback-seconds S] [--no-asio] [--no-loopback]\n");
        return 2;
    }
    setvbuf(stdout, nullptr, _IONBF, 0);
    if (!converterBind(stagePath("streamconv.dll").c_str())) {
        std::printf("streamconv.dll not found beside the tests\n");
        return 1;
    }
    bool ok = true;
    if (options.asio) {
        const std::string server = testModulePath("testasio");
        AsioRigDriver driver;
        if (!asioRigRegister(server) || !asioRigLoad(driver, server)) {
            std::printf("the test ASIO driver could not be registered or loaded (%s)\n", server.c_str());
            asioRigUnregister();
            return 1;
        }
        gAsioLoader = AsioLoader{};
        asioListBuild(gAsioLoader.list);
        TestAsioConfig small;
        small.rate = 96000.0;
        small.preferredSize = 32;
        small.outputReadyMicros = 60;
        ok = timeAsio(driver, "96 kHz, 32 frames, outputReady 60 us", small, options.asioSeconds) && ok;
        TestAsioConfig usual;
        usual.inputType = usual.outputType = ASIOSTInt32LSB;
        usual.rate = 48000.0;
        usual.preferredSize = 256;
        ok = timeAsio(driver, "48 kHz, 256 frames", usual, options.asioSeconds) && ok;
        asioListDestroy(gAsioLoader.list);
        gAsioLoader = AsioLoader{};
        asioRigUnregister();
    }
    if (options.loopback) ok = timeLoopback(options.loopbackSeconds) && ok;
    dsFreeDevices();
    return ok ? 0 : 1;
}

// Figures of plug-ins in helper processes on this machine, for people (no
// pass or fail): the round trip of a block through a helper, and how soon
// the program sees a helper end. Run it under Wine for the Windows figures:
//   wine build/windows/tests/bridge_timing.exe
// It uses the staged QvPluginHost, the VST wrapper and the test effects.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "host/bridge.h"
#include "platform/platform.h"
#include "tests/support/appfolder.h"
#include "tests/support/modules.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

std::string helperPath() { return stagePath(std::string("QvPluginHost") + (platformModuleSuffix()[1] == 'd' ? ".exe" : "")); }

BridgeInstance* start(const std::string& effect, uint32_t frames) {
    const std::string suffix = platformModuleSuffix();
    const fs::path folder = fs::temp_directory_path() / "qv-bridge-timing";
    fs::remove_all(folder);
    fs::create_directories(folder);
    fs::copy_file(testModulePath(effect), folder / (effect + suffix));
    platformWriteSetting("VSTDir", folder.string().c_str());
    BridgeInstance* b = bridgeStart(helperPath().c_str(), stagedModule("Wrappers", "vstwrapper").c_str(), 0, 2,
                                    48000, frames);
    if (b && bridgeCommand(*b, BR_CREATE, 0, 0, 0, effect.c_str()) != 1) {
        bridgeEnd(b);
        b = nullptr;
    }
    if (b) bridgeCommand(*b, BR_SET_PROCESSING, 1);
    return b;
}

double microseconds(Clock::duration d) { return std::chrono::duration<double, std::micro>(d).count(); }

void roundTrips(uint32_t frames) {
    BridgeInstance* b = start("tvst_stereo", frames);
    if (!b) {
        std::printf("round trip %u frames: no helper\n", frames);
        return;
    }
    b->deadlineUs = 1000 * 1000;
    std::vector<float> left(frames, 0.25f), right(frames, -0.25f);
    std::vector<double> times;
    for (int i = 0; i < 3000; ++i) {
        const Clock::time_point t0 = Clock::now();
        bridgeProcess(*b, left.data(), right.data(), frames);
        if (i >= 200) times.push_back(microseconds(Clock::now() - t0));
    }
    std::sort(times.begin(), times.end());
    std::printf("round trip %u frames: median %.1f us, p99 %.1f us, max %.1f us (%zu blocks)\n", frames,
                times[times.size() / 2], times[times.size() * 99 / 100], times.back(), times.size());
    bridgeEnd(b);
}

// The block in which the helper ends: how long until the program knows.
void death(const char* fault) {
    char setting[32];
    std::snprintf(setting, sizeof setting, "%s:10", fault);
#if defined(_WIN32)
    _putenv_s("QV_TVST_FAULT", setting);
#else
    setenv("QV_TVST_FAULT", setting, 1);
#endif
    const uint32_t frames = 256;
    BridgeInstance* b = start("tvst_faulty", frames);
    if (!b) {
        std::printf("%s: no helper\n", fault);
        return;
    }
    b->deadlineUs = bridgeDeadlineUs(frames, 48000);
    std::vector<float> left(frames, 0.25f), right(frames, -0.25f);
    double seen = -1;
    int blocks = 0;
    Clock::time_point first{};
    for (int i = 0; i < 2000 && !b->failed.load(); ++i) {
        const Clock::time_point t0 = Clock::now();
        bridgeProcess(*b, left.data(), right.data(), frames);
        if (i == 10) first = t0;
        if (i >= 10) ++blocks;
        if (b->failed.load()) seen = microseconds(Clock::now() - first);
        // Paced as a device would be: a block every 5.3 ms.
        while (Clock::now() - t0 < std::chrono::microseconds(5333)) {
        }
    }
    std::printf("%s in block 11: %s after %.0f us, %d block(s) passed dry (deadline %u us)\n", fault,
                b->failure.load() == kBridgeHung ? "hang seen" : "death seen", seen, blocks, b->deadlineUs);
    bridgeEnd(b);
}

}  // namespace

int main() {
    for (uint32_t frames : {64u, 256u, 512u}) roundTrips(frames);
    for (const char* fault : {"crash", "abort", "overrun", "hang"}) death(fault);
    platformWriteSetting("VSTDir", nullptr);
    return 0;
}

// The cost of a plug-in in a helper process per block: the round trip
// through the shared area (copy in, wake the helper, the helper's
// processPlugin, wake the program, copy out) around a test effect that
// scales its inputs. Set against BM_VstWrapperCall, the difference is the
// bridge's overhead.
#include <benchmark/benchmark.h>

#include <filesystem>
#include <string>
#include <vector>

#include "host/bridge.h"
#include "platform/platform.h"

namespace {

namespace fs = std::filesystem;

// range(0): frames per block.
void BM_BridgeRoundTrip(benchmark::State& state) {
    const uint32_t frames = static_cast<uint32_t>(state.range(0));
    const fs::path folder = fs::temp_directory_path() / "qvbench-bridge";
    fs::remove_all(folder);
    fs::create_directories(folder);
    const std::string suffix = platformModuleSuffix();
    fs::copy_file(std::string(QV_TEST_MODULES_DIR) + "/tvst_stereo" + suffix, folder / ("tvst_stereo" + suffix));
    platformWriteSetting("VSTDir", folder.string().c_str());
    const std::string stage = QV_STAGE_DIR;
    BridgeInstance* b = bridgeStart((stage + "/QvPluginHost").c_str(),
                                    (stage + "/Wrappers/vstwrapper" + suffix).c_str(), 0, 2, 48000, frames);
    if (!b || bridgeCommand(*b, BR_CREATE, 0, 0, 0, "tvst_stereo") != 1) {
        state.SkipWithError("no helper or no test effect");
        bridgeEnd(b);
        return;
    }
    bridgeCommand(*b, BR_SET_PROCESSING, 1);
    // The loop calls as fast as it can, not once a period: a first block
    // slowed by page faults must not count as a hang here.
    b->deadlineUs = 1000 * 1000;
    std::vector<float> left(frames, 0.25f), right(frames, -0.25f);
    for (auto _ : state) {
        bridgeProcess(*b, left.data(), right.data(), frames);
        benchmark::DoNotOptimize(left.data());
    }
    state.counters["misses"] = static_cast<double>(b->misses.load());
    state.counters["failed"] = b->failed.load() ? 1 : 0;
    bridgeEnd(b);
    platformWriteSetting("VSTDir", nullptr);
}
BENCHMARK(BM_BridgeRoundTrip)->Arg(64)->Arg(256)->Arg(512)->Repetitions(5)->ReportAggregatesOnly(true);

}  // namespace

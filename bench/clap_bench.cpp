// The CLAP wrapper's cost per processPlugin call around our test gain
// effect: the plug-in's process called directly with a prepared process
// record against the same plug-in behind the wrapper (event lists,
// transport, scratch outputs and copy-back). Compare the difference with
// BM_VstWrapperCall's for the VST 2 wrapper.
#include <benchmark/benchmark.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "host/wrapperprotocol.h"
#include "platform/platform.h"
#include "wrappers/clap/clapabi.h"

namespace {

namespace fs = std::filesystem;

intptr_t WRAPPER_CALL benchHost(intptr_t opcode, intptr_t a1, intptr_t) {
    if (opcode == HC_GET_HOST_VERSION) *reinterpret_cast<uint16_t*>(a1) = kHostVersion;
    if (opcode == HC_GET_HOST_NAME) *reinterpret_cast<const char**>(a1) = kHostName;
    return 1;
}

std::string module() { return std::string(QV_TEST_MODULES_DIR) + "/clap/QvTestGain.clap"; }

// A host record that offers nothing: the plug-in alone.
const void* CLAP_CALL noExtension(const clap::Host*, const char*) { return nullptr; }
void CLAP_CALL noRequest(const clap::Host*) {}
uint32_t CLAP_CALL noEvents(const clap::InputEvents*) { return 0; }
const clap::EventHeader* CLAP_CALL noEvent(const clap::InputEvents*, uint32_t) { return nullptr; }
bool CLAP_CALL dropEvent(const clap::OutputEvents*, const clap::EventHeader*) { return true; }

// range(0): 0 = the plug-in called directly, 1 = through the wrapper in a
// stereo chain, 2 = through the wrapper in a mono chain. range(1): frames.
void BM_ClapWrapperCall(benchmark::State& state) {
    const int shape = static_cast<int>(state.range(0));
    const int frames = static_cast<int>(state.range(1));
    std::vector<float> left(static_cast<size_t>(frames), 0.25f), right(static_cast<size_t>(frames), -0.25f);
    std::vector<float> outLeft(static_cast<size_t>(frames)), outRight(static_cast<size_t>(frames));

    if (shape == 0) {
        PlatformModule library = platformLoadModule(module().c_str());
        auto* entry = static_cast<const clap::PluginEntry*>(platformFindSymbol(library, clap::kEntrySymbol));
        if (!entry || !entry->init(module().c_str())) {
            state.SkipWithError("test module not built");
            return;
        }
        auto* factory = static_cast<const clap::PluginFactory*>(entry->get_factory(clap::kPluginFactoryId));
        clap::Host host{clap::kHostVersion, nullptr, "bench", "", "", "1", noExtension, noRequest, noRequest, noRequest};
        const clap::Plugin* plugin = factory->create_plugin(factory, &host, "org.quorvane.test.gain");
        plugin->init(plugin);
        plugin->activate(plugin, 48000.0, 1, static_cast<uint32_t>(frames));
        plugin->start_processing(plugin);
        float* ins[2] = {left.data(), right.data()};
        float* outs[2] = {outLeft.data(), outRight.data()};
        clap::AudioBuffer in{ins, nullptr, 2, 0, 0}, out{outs, nullptr, 2, 0, 0};
        clap::InputEvents events{nullptr, noEvents, noEvent};
        clap::OutputEvents sink{nullptr, dropEvent};
        clap::EventTransport transport{};
        clap::Process process{0, static_cast<uint32_t>(frames), &transport, &in, &out, 1, 1, &events, &sink};
        for (auto _ : state) {
            plugin->process(plugin, &process);
            benchmark::ClobberMemory();
        }
        plugin->stop_processing(plugin);
        plugin->deactivate(plugin);
        plugin->destroy(plugin);
        entry->deinit();
        platformUnloadModule(library);
        state.SetLabel("plug-in alone");
        return;
    }

    PlatformModule wrapper =
        platformLoadModule((std::string(QV_STAGE_DIR) + "/Wrappers/clapwrapper" + platformModuleSuffix()).c_str());
    auto dispatch = reinterpret_cast<WrapperDispatcherFn>(platformFindSymbol(wrapper, "wrapperDispatcher"));
    auto process = reinterpret_cast<WrapperProcessFn>(platformFindSymbol(wrapper, "processPlugin"));
    if (!dispatch || !process) {
        state.SkipWithError("clapwrapper not staged");
        return;
    }
    const fs::path folder = fs::temp_directory_path() / "qvbench-clap";
    fs::remove_all(folder);
    fs::create_directories(folder);
    fs::copy_file(module(), folder / "QvTestGain.clap");
    platformWriteSetting("VSTDir", folder.string().c_str());
    platformWriteSetting("CLAPCache", (folder / "cache.txt").string().c_str());
    static std::string appDir = fs::temp_directory_path().string() + "/";
    dispatch(WD_SET_HOST_CALLBACK, reinterpret_cast<intptr_t>(benchHost), 4);
    dispatch(WD_OPEN, reinterpret_cast<intptr_t>(appDir.c_str()), 0);
    dispatch(WD_SET_CHANNELS, 0, shape == 2 ? 1 : 2);
    dispatch(WD_SET_SAMPLE_RATE, 0, 48000);
    dispatch(WD_SET_BLOCK_SIZE, 0, frames);
    dispatch(WD_REFRESH_LIST, 0, 0);
    intptr_t handle = 0;
    dispatch(WD_CREATE_INSTANCE, reinterpret_cast<intptr_t>(&handle), 0);
    if (!handle) {
        state.SkipWithError("effect not instantiated");
        return;
    }
    for (auto _ : state) {
        process(handle, left.data(), shape == 2 ? nullptr : right.data());
        benchmark::ClobberMemory();
        left[0] = 0.25f;
        right[0] = -0.25f;
    }
    dispatch(WD_CLOSE, 0, 0);
    platformUnloadModule(wrapper);
    platformWriteSetting("VSTDir", nullptr);
    platformWriteSetting("CLAPCache", nullptr);
    fs::remove_all(folder);
    state.SetLabel(shape == 1 ? "wrapped, stereo chain" : "wrapped, mono chain");
}
BENCHMARK(BM_ClapWrapperCall)->ArgsProduct({{0, 1, 2}, {64, 512}});

}  // namespace

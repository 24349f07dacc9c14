// The VST wrapper's cost per processPlugin call around a test effect that
// scales its inputs: the effect called directly on the chain's buffers
// against the same effect behind the wrapper (scratch outputs, copy-back,
// channel adaptation). The difference is the wrapper's overhead.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "host/wrapperprotocol.h"
#include "platform/platform.h"
#include "wrappers/vst/vst2abi.h"

namespace {

namespace fs = std::filesystem;

intptr_t WRAPPER_CALL benchHost(intptr_t opcode, intptr_t a1, intptr_t) {
    if (opcode == HC_GET_HOST_VERSION) *reinterpret_cast<uint16_t*>(a1) = kHostVersion;
    if (opcode == HC_GET_HOST_NAME) *reinterpret_cast<const char**>(a1) = kHostName;
    return 1;
}

intptr_t VST2_CALL quietHost(Vst2Effect*, int32_t opcode, int32_t, intptr_t, void*, float) {
    static Vst2TimeInfo time{};
    return opcode == kVst2HostGetTime ? reinterpret_cast<intptr_t>(&time) : 0;
}

// range(0): 0 = the stereo effect called directly, 1 = the stereo effect
// through the wrapper in a stereo chain, 2 = the mono effect through the
// wrapper in a stereo chain (input mix), 3 = the stereo effect through the
// wrapper in a mono chain (output sum). range(1): frames per block.
void BM_VstWrapperCall(benchmark::State& state) {
    const int shape = static_cast<int>(state.range(0));
    const int frames = static_cast<int>(state.range(1));
    const std::string effect = shape == 2 ? "tvst_mono" : "tvst_stereo";
    const fs::path folder = fs::temp_directory_path() / ("qvbench-vst-" + std::to_string(shape));
    fs::remove_all(folder);
    fs::create_directories(folder);
    const std::string source = std::string(QV_TEST_MODULES_DIR) + "/" + effect + platformModuleSuffix();
    fs::copy_file(source, folder / (effect + platformModuleSuffix()));

    std::vector<float> left(static_cast<size_t>(frames), 0.25f), right(static_cast<size_t>(frames), -0.25f);
    std::vector<float> outLeft(static_cast<size_t>(frames)), outRight(static_cast<size_t>(frames));
    PlatformModule wrapper = nullptr, library = nullptr;
    Vst2Effect* direct = nullptr;
    WrapperDispatcherFn dispatch = nullptr;
    WrapperProcessFn process = nullptr;
    intptr_t handle = 0;

    if (shape == 0) {
        library = platformLoadModule((folder / (effect + platformModuleSuffix())).string().c_str());
        auto entry = reinterpret_cast<Vst2Entry>(platformFindSymbol(library, "VSTPluginMain"));
        direct = entry ? entry(quietHost) : nullptr;
        if (!direct) {
            state.SkipWithError("test effect not built");
            return;
        }
        direct->dispatcher(direct, kVst2Open, 0, 0, nullptr, 0.0f);
    } else {
        wrapper = platformLoadModule((std::string(QV_STAGE_DIR) + "/Wrappers/vstwrapper" + platformModuleSuffix()).c_str());
        dispatch = reinterpret_cast<WrapperDispatcherFn>(platformFindSymbol(wrapper, "wrapperDispatcher"));
        process = reinterpret_cast<WrapperProcessFn>(platformFindSymbol(wrapper, "processPlugin"));
        if (!dispatch || !process) {
            state.SkipWithError("vstwrapper not staged");
            return;
        }
        platformWriteSetting("VSTDir", folder.string().c_str());
        static std::string appDir = fs::temp_directory_path().string() + "/";
        dispatch(WD_SET_HOST_CALLBACK, reinterpret_cast<intptr_t>(benchHost), 4);
        dispatch(WD_OPEN, reinterpret_cast<intptr_t>(appDir.c_str()), 0);
        dispatch(WD_SET_SAMPLE_RATE, 0, 48000);
        dispatch(WD_SET_BLOCK_SIZE, 0, frames);
        dispatch(WD_REFRESH_LIST, 0, 0);
        dispatch(WD_CREATE_INSTANCE, reinterpret_cast<intptr_t>(&handle), 0);
        if (!handle) {
            state.SkipWithError("effect not instantiated");
            return;
        }
    }

    float* inputs[2] = {left.data(), right.data()};
    float* outputs[2] = {outLeft.data(), outRight.data()};
    for (auto _ : state) {
        if (direct)
            direct->processReplacing(direct, inputs, outputs, frames);
        else
            process(handle, left.data(), shape == 3 ? nullptr : right.data());
        benchmark::ClobberMemory();
        // Keep the signal bounded: the effect's gain is 1 on the left, 2 on the right.
        left[0] = 0.25f;
        right[0] = -0.25f;
    }

    if (direct) {
        direct->dispatcher(direct, kVst2Close, 0, 0, nullptr, 0.0f);
        platformUnloadModule(library);
    } else {
        dispatch(WD_CLOSE, 0, 0);
        platformUnloadModule(wrapper);
        platformWriteSetting("VSTDir", nullptr);
    }
    fs::remove_all(folder);
    static const char* const labels[] = {"effect alone", "wrapped, stereo chain", "wrapped mono effect, stereo chain",
                                         "wrapped, mono chain"};
    state.SetLabel(labels[shape]);
}
BENCHMARK(BM_VstWrapperCall)->ArgsProduct({{0, 1, 2, 3}, {64, 512}});

}  // namespace

// The VST 3 wrapper's cost per processPlugin call around our test gain
// effect: its processor called directly with a prepared process record
// against the same effect behind the wrapper (parameter lists, silence
// check, transport, scratch outputs and copy-back). Compare the difference
// with BM_VstWrapperCall's for the VST 2 wrapper.
#include <benchmark/benchmark.h>

#include <filesystem>
#include <string>
#include <vector>

#include "host/wrapperprotocol.h"
#include "platform/platform.h"
#include "wrappers/vst3/vst3abi.h"
#include "wrappers/vst3/vst3host.h"

namespace {

namespace fs = std::filesystem;
using namespace vst3;

intptr_t WRAPPER_CALL benchHost(intptr_t opcode, intptr_t a1, intptr_t) {
    if (opcode == HC_GET_HOST_VERSION) *reinterpret_cast<uint16_t*>(a1) = kHostVersion;
    if (opcode == HC_GET_HOST_NAME) *reinterpret_cast<const char**>(a1) = kHostName;
    return 1;
}

std::string bundle() { return std::string(QV_TEST_MODULES_DIR) + "/vst3/QvTestGain.vst3"; }

// range(0): 0 = the processor called directly, 1 = through the wrapper in a
// stereo chain, 2 = through the wrapper in a mono chain. range(1): frames.
void BM_Vst3WrapperCall(benchmark::State& state) {
    const int shape = static_cast<int>(state.range(0));
    const int frames = static_cast<int>(state.range(1));
    std::vector<float> left(static_cast<size_t>(frames), 0.25f), right(static_cast<size_t>(frames), -0.25f);
    std::vector<float> outLeft(static_cast<size_t>(frames)), outRight(static_cast<size_t>(frames));

    if (shape == 0) {
        PlatformModule library = platformLoadModule((bundle() + "/Contents/x86_64-linux/QvTestGain.so").c_str());
        auto entry = reinterpret_cast<ModuleEntryFn>(platformFindSymbol(library, "ModuleEntry"));
        auto getFactory = reinterpret_cast<GetFactoryFn>(platformFindSymbol(library, "GetPluginFactory"));
        if (!library || !getFactory || (entry && !entry(library))) {
            state.SkipWithError("test module not built");
            return;
        }
        IPluginFactory* factory = getFactory();
        PClassInfo info{};
        factory->getClassInfo(0, &info);
        void* object = nullptr;
        factory->createInstance(reinterpret_cast<const char*>(info.cid), reinterpret_cast<const char*>(kIComponentIid.b),
                                &object);
        auto* component = static_cast<IComponent*>(object);
        component->initialize(hostApplication());
        IAudioProcessor* processor = nullptr;
        component->queryInterface(kIAudioProcessorIid.b, reinterpret_cast<void**>(&processor));
        SpeakerArrangement arrangement = kArrStereo;
        processor->setBusArrangements(&arrangement, 1, &arrangement, 1);
        ProcessSetup setup{kRealtime, kSample32, frames, 48000.0};
        processor->setupProcessing(setup);
        component->setActive(1);
        processor->setProcessing(1);
        float* ins[2] = {left.data(), right.data()};
        float* outs[2] = {outLeft.data(), outRight.data()};
        AudioBusBuffers in{2, 0, ins}, out{2, 0, outs};
        ParamChanges changes, reported;
        ProcessContext context{};
        ProcessData data{kRealtime, kSample32, frames, 1, 1, &in, &out, &changes, &reported, nullptr, nullptr, &context};
        for (auto _ : state) {
            processor->process(data);
            benchmark::ClobberMemory();
        }
        processor->setProcessing(0);
        component->setActive(0);
        processor->release();
        component->terminate();
        component->release();
        factory->release();
        if (auto exit = reinterpret_cast<ExitModuleFn>(platformFindSymbol(library, "ModuleExit"))) exit();
        platformUnloadModule(library);
        state.SetLabel("processor alone");
        return;
    }

    PlatformModule wrapper =
        platformLoadModule((std::string(QV_STAGE_DIR) + "/Wrappers/vst3wrapper" + platformModuleSuffix()).c_str());
    auto dispatch = reinterpret_cast<WrapperDispatcherFn>(platformFindSymbol(wrapper, "wrapperDispatcher"));
    auto process = reinterpret_cast<WrapperProcessFn>(platformFindSymbol(wrapper, "processPlugin"));
    if (!dispatch || !process) {
        state.SkipWithError("vst3wrapper not staged");
        return;
    }
    const fs::path folder = fs::temp_directory_path() / "qvbench-vst3";
    fs::remove_all(folder);
    fs::create_directories(folder);
    fs::copy(bundle(), folder / "QvTestGain.vst3", fs::copy_options::recursive);
    platformWriteSetting("VSTDir", folder.string().c_str());
    platformWriteSetting("VST3Cache", (folder / "cache.txt").string().c_str());
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
    platformWriteSetting("VST3Cache", nullptr);
    fs::remove_all(folder);
    state.SetLabel(shape == 1 ? "wrapped, stereo chain" : "wrapped, mono chain");
}
BENCHMARK(BM_Vst3WrapperCall)->ArgsProduct({{0, 1, 2}, {64, 512}});

}  // namespace

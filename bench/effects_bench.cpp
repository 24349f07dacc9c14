// Each built-in effect per stereo frame at 48 kHz with its default preset,
// and the whole engine block with all eight slots filled (two of each).
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "engine/engine.h"
#include "host/host.h"
#include "platform/platform.h"
#include "wrappers/default/effectinterface.h"

namespace {

const char* const kEffects[] = {"reverb", "echo", "flanger", "chorus"};

std::vector<float> testTone(size_t frames) {
    std::vector<float> tone(frames);
    for (size_t i = 0; i < frames; ++i) tone[i] = 0.3f * static_cast<float>(std::sin(i * 0.031));
    return tone;
}

void BM_Effect(benchmark::State& state) {
    const std::string name = kEffects[state.range(0)];
    const uint32_t frames = static_cast<uint32_t>(state.range(1));
    std::string path = std::string(QV_STAGE_DIR) + "/Effects/" + name + platformModuleSuffix();
    PlatformModule module = platformLoadModule(path.c_str());
    auto query = reinterpret_cast<PluginQueryFn>(platformFindSymbol(module, "pluginQuery"));
    auto process = reinterpret_cast<EffectProcessFn>(platformFindSymbol(module, "processPlugin"));
    if (!query || !process) {
        state.SkipWithError("effect not staged");
        return;
    }
    query(PQ_OPEN, 0, 0);
    query(PQ_SET_BLOCK_SIZE, 0, frames);
    query(PQ_SET_SAMPLE_RATE, 0, 48000);
    query(PQ_RESUME, 0, 0);
    const std::vector<float> tone = testTone(48000);
    std::vector<float> left(frames), right(frames);
    size_t at = 0;
    for (auto _ : state) {
        if (at + frames > tone.size()) at = 0;
        std::memcpy(left.data(), &tone[at], frames * sizeof(float));
        std::memcpy(right.data(), &tone[at], frames * sizeof(float));
        at += frames;
        process(left.data(), right.data(), 0);
        benchmark::ClobberMemory();
    }
    query(PQ_CLOSE, 0, 0);
    platformUnloadModule(module);
    state.SetLabel(name);
    state.counters["per_frame"] =
        benchmark::Counter(frames, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_Effect)->ArgsProduct({{0, 1, 2, 3}, {64}});

void BM_EngineFullChain(benchmark::State& state) {
    EngineState engine;
    hostReset(engine, (std::string(QV_STAGE_DIR) + "/").c_str());
    if (wrappersLoadAll() != 0 || wrapperRefreshList(0) != 0) {
        state.SkipWithError("default wrapper not staged");
        return;
    }
    for (int slot = 0; slot < kChainSlots; ++slot)
        for (int i = 0; i < wrapperAvailableCount(0); ++i)
            if (std::string(wrapperAvailableName(0, i)) == kEffects[slot % 4]) chainAttach(slot, 0, i);
    engine.blockSize = static_cast<uint32_t>(state.range(0));
    engineConfigure(engine, 48000, true);
    wrapperSetProcessing(0, false);
    wrapperSetProcessing(0, true);
    const std::vector<float> tone = testTone(48000);
    size_t at = 0;
    for (auto _ : state) {
        if (at + engine.blockSize > tone.size()) at = 0;
        std::memcpy(engine.inputL, &tone[at], engine.blockSize * sizeof(float));
        std::memcpy(engine.inputR, &tone[at], engine.blockSize * sizeof(float));
        at += engine.blockSize;
        processBlock(engine);
        benchmark::ClobberMemory();
    }
    state.counters["per_frame"] = benchmark::Counter(
        engine.blockSize, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
    // Share of one core at 48 kHz: time per frame times frames per second.
    engineRelease(engine);
    wrappersUnloadAll();
    hostReset(gEngine, "");
}
BENCHMARK(BM_EngineFullChain)->Arg(64);

}  // namespace

// processBlock per frame: stereo, DC remover, gate and metronome on, empty chain.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstring>
#include <vector>

#include "engine/engine.h"

static void BM_ProcessBlockStereo(benchmark::State& state) {
    EngineState engine;
    const uint32_t frames = static_cast<uint32_t>(state.range(0));
    engine.blockSize = frames;
    engine.metronomeOn = true;
    engine.dcRemoverOn = true;
    engineConfigure(engine, 48000, true);
    // Four seconds of a tone that stops and starts, so the gate opens and
    // closes; the copy into the input buffers is timed with the block, as a
    // device conversion would be.
    std::vector<float> tone(48000 * 4);
    for (size_t i = 0; i < tone.size(); ++i)
        tone[i] = (i / 24000) % 2 ? 0.0f : 0.3f * static_cast<float>(std::sin(i * 0.05));
    size_t at = 0;
    for (auto _ : state) {
        if (at + frames > tone.size()) at = 0;
        std::memcpy(engine.inputL, &tone[at], frames * sizeof(float));
        std::memcpy(engine.inputR, &tone[at], frames * sizeof(float));
        at += frames;
        processBlock(engine);
        benchmark::DoNotOptimize(engine.outputL[0]);
        benchmark::ClobberMemory();
    }
    state.counters["per_frame"] =
        benchmark::Counter(frames, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_ProcessBlockStereo)->Arg(64)->Arg(512);

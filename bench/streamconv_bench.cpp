// Converter throughput beside memcpy of the same device bytes, and the
// resampled path per target frame.
#include <benchmark/benchmark.h>

#include <cstring>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "streamconv/streamconv.h"

namespace {

struct Converter {
    ProcessStreamFn process = nullptr;
    Converter() {
        std::string path = std::string(QV_STAGE_DIR) + "/streamconv" + platformModuleSuffix();
        PlatformModule module = platformLoadModule(path.c_str());
        process = reinterpret_cast<ProcessStreamFn>(platformFindSymbol(module, "processStream"));
    }
};
const Converter& converter() {
    static Converter c;
    return c;
}

constexpr uint32_t kFrames = 512;

StreamFormat stereoPcm(uint16_t bits) {
    StreamFormat f{};
    f.wFormatTag = kFormatPcm;
    f.nChannels = 2;
    f.wBitsPerSample = bits;
    f.nBlockAlign = static_cast<uint16_t>(2 * bits / 8);
    return f;
}

// range(0): bits; range(1): 1 = write (floats to device).
void BM_ConvertEqual(benchmark::State& state) {
    ProcessStreamFn process = converter().process;
    if (!process) {
        state.SkipWithError("streamconv not staged");
        return;
    }
    StreamFormat f = stereoPcm(static_cast<uint16_t>(state.range(0)));
    const uint32_t toDevice = static_cast<uint32_t>(state.range(1));
    std::vector<uint8_t> device(kFrames * f.nBlockAlign, 0x11);
    std::vector<float> left(kFrames, 0.25f), right(kFrames, -0.5f);
    for (auto _ : state) {
        process(&f, device.data(), left.data(), right.data(), kFrames, kFrames, toDevice);
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(device.size()));
    state.SetLabel(std::to_string(state.range(0)) + "-bit stereo " + (toDevice ? "write" : "read"));
}
BENCHMARK(BM_ConvertEqual)->Args({16, 0})->Args({16, 1})->Args({24, 0})->Args({24, 1});

// memcpy of the same device bytes, the reference for the figures above.
void BM_MemcpyDeviceBytes(benchmark::State& state) {
    const size_t bytes = kFrames * 2 * static_cast<size_t>(state.range(0)) / 8;
    std::vector<uint8_t> from(bytes, 0x11), to(bytes);
    for (auto _ : state) {
        std::memcpy(to.data(), from.data(), bytes);
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(bytes));
}
BENCHMARK(BM_MemcpyDeviceBytes)->Arg(16)->Arg(24);

// 16-bit stereo, 470 device frames to or from 512 float frames.
void BM_ConvertResampled16(benchmark::State& state) {
    ProcessStreamFn process = converter().process;
    if (!process) {
        state.SkipWithError("streamconv not staged");
        return;
    }
    StreamFormat f = stereoPcm(16);
    const uint32_t toDevice = static_cast<uint32_t>(state.range(0));
    const uint32_t deviceFrames = 470;
    std::vector<uint8_t> device(deviceFrames * 4, 0x11);
    std::vector<float> left(kFrames, 0.25f), right(kFrames, -0.5f);
    for (auto _ : state) {
        process(&f, device.data(), left.data(), right.data(), deviceFrames, kFrames, toDevice);
        benchmark::ClobberMemory();
    }
    const double targetFrames = toDevice ? deviceFrames : kFrames;
    state.counters["per_target_frame"] = benchmark::Counter(
        targetFrames, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
    state.SetLabel(toDevice ? "write" : "read");
}
BENCHMARK(BM_ConvertResampled16)->Arg(0)->Arg(1);

}  // namespace

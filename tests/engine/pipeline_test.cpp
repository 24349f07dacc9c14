#include <atomic>
#include <limits>
#include <thread>
#include <vector>

#include <xmmintrin.h>

#include "tests/engine/engine_fixture.h"

namespace {

// A fake wrapper that records what the engine asks of it.
struct FakeWrapper {
    std::vector<intptr_t> processed;            // handles in call order
    std::vector<std::pair<intptr_t, intptr_t>> commands;  // (opcode, a2)
    float gain = 1.0f;
};
FakeWrapper* fake = nullptr;

intptr_t WRAPPER_CALL fakeDispatcher(intptr_t opcode, intptr_t, intptr_t a2) {
    fake->commands.emplace_back(opcode, a2);
    return 1;
}

void WRAPPER_CALL fakeProcess(intptr_t handle, float* left, float* right) {
    fake->processed.push_back(handle);
    // Doubles the signal so that tests see where in the pipeline it ran.
    for (int i = 0; i < 4; ++i) {
        left[i] *= 2.0f;
        if (right) right[i] *= 2.0f;
    }
}

class PipelineTest : public EngineTest {
protected:
    FakeWrapper wrapper;
    void SetUp() override {
        fake = &wrapper;
        engine->wrappers[0] = {fakeDispatcher, fakeProcess};
        engine->wrappers[1] = {fakeDispatcher, nullptr};
        engine->wrapperCount = 2;
    }
    void TearDown() override { fake = nullptr; }
};

}  // namespace

TEST_F(PipelineTest, ConfiguringTwiceKeepsBuffersAndAChangeRebuildsThemZeroFilled) {
    ASSERT_EQ(0, configure(44100, true, 4));
    float* before = engine->outputL;
    engine->outputL[0] = 0.5f;
    EXPECT_EQ(kConfigureUnchanged, engineConfigure(*engine, 44100, true));
    EXPECT_EQ(before, engine->outputL);
    EXPECT_EQ(0.5f, engine->outputL[0]);

    ASSERT_EQ(0, configure(44100, true, 8));
    for (uint32_t i = 0; i < 8; ++i) {
        EXPECT_EQ(0.0f, engine->outputL[i]);
        EXPECT_EQ(0.0f, engine->inputR[i]);
    }
    EXPECT_EQ(44100, engine->lastConfiguredRate);
    EXPECT_EQ(8, engine->lastConfiguredBlockSize);
}

TEST_F(PipelineTest, MonoHasNoRightBuffers) {
    ASSERT_EQ(0, configure(48000, false, 16));
    EXPECT_NE(nullptr, engine->inputL);
    EXPECT_EQ(nullptr, engine->inputR);
    EXPECT_EQ(nullptr, engine->outputR);
    EXPECT_EQ(nullptr, engine->gate.ring[1]);
    // The DC remover keeps both rings in mono.
    EXPECT_NE(nullptr, engine->dcRemover.ring[1]);
}

TEST_F(PipelineTest, ConfigurationKeepsOnlyTheRecorderStatusBits) {
    engine->engineStatus = 0xFF;
    configure(44100, true, 4);
    EXPECT_EQ(0x31u, engine->engineStatus.load());
    engine->engineStatus = 0xFF;
    EXPECT_EQ(kConfigureUnchanged, engineConfigure(*engine, 44100, true));
    EXPECT_EQ(0x31u, engine->engineStatus.load());
}

TEST_F(PipelineTest, ConfigurationTellsEveryWrapperChannelsRateThenBlockSizeAndReleaseTellsNone) {
    configure(96000, true, 32);
    std::vector<std::pair<intptr_t, intptr_t>> expected = {{WD_SET_CHANNELS, 2},         {WD_SET_SAMPLE_RATE, 96000},
                                                           {WD_SET_BLOCK_SIZE, 32},      {WD_SET_CHANNELS, 2},
                                                           {WD_SET_SAMPLE_RATE, 96000}, {WD_SET_BLOCK_SIZE, 32}};
    EXPECT_EQ(expected, wrapper.commands);

    wrapper.commands.clear();
    engineRelease(*engine);
    EXPECT_TRUE(wrapper.commands.empty());
}

TEST_F(PipelineTest, ReleaseFreesBuffersClearsMetersAndForcesTheNextRebuild) {
    configure(44100, true, 4);
    makeNeutral();
    runBlock({0.5f}, {0.25f});
    engine->cpuUsagePercent = 12.0f;
    engineRelease(*engine);
    EXPECT_EQ(4u, engine->blockSize);
    EXPECT_EQ(nullptr, engine->inputL);
    EXPECT_EQ(nullptr, engine->outputR);
    EXPECT_EQ(0, engine->lastConfiguredRate);
    EXPECT_EQ(0, engine->lastConfiguredBlockSize);
    EXPECT_EQ(0.0f, engine->inputPeakL.load());
    EXPECT_EQ(0.0f, engine->outputPeakR.load());
    EXPECT_EQ(0.0f, engine->cpuUsagePercent.load());
    EXPECT_EQ(0, engineConfigure(*engine, 44100, true));
    processBlock(*engine);  // buffers are back
}

TEST_F(PipelineTest, NeutralSettingsPassInputThroughClipped) {
    configure(44100, true, 4);
    makeNeutral();
    std::vector<float> out = runBlock({0.0f, 1.5f, -0.25f, -3.0f}, {0.1f, 0.2f, 0.3f, 0.4f});
    EXPECT_EQ((std::vector<float>{0.0f, 1.0f, -0.25f, -1.0f}), out);
    EXPECT_EQ((std::vector<float>{0.1f, 0.2f, 0.3f, 0.4f}), lastRight);
    EXPECT_EQ(3.0f, engine->inputPeakL.load());
    EXPECT_EQ(1.0f, engine->outputPeakL.load());
    EXPECT_FLOAT_EQ(0.4f, engine->inputPeakR.load());
    EXPECT_FLOAT_EQ(0.4f, engine->outputPeakR.load());
}

// A thread in flush-to-zero and denormals-are-zero mode (a driver's, or one
// a plug-in library set when it was loaded) gets the same samples as any
// other, subnormal ones included, and its mode back after the block.
TEST_F(PipelineTest, TheBlockComputesInTheDefaultModeWhateverTheThreadsModeAndGivesItBack) {
    configure(44100, true, 4);
    makeNeutral();
    const float tiny = std::numeric_limits<float>::denorm_min() * 3;
    const unsigned before = _mm_getcsr();
    _mm_setcsr(before | 0x8040);  // flush to zero, denormals are zero
    std::vector<float> out;
    for (int block = 0; block < 20; ++block) out = runBlock({0.25f, tiny, -0.5f, 0.125f}, {tiny, 0.1f, 0.2f, 0.3f});
    const unsigned after = _mm_getcsr();
    _mm_setcsr(before);
    EXPECT_EQ((std::vector<float>{0.25f, tiny, -0.5f, 0.125f}), out) << "the gate at 0 passes every sample";
    EXPECT_EQ(tiny, lastRight[0]);
    EXPECT_EQ(before | 0x8040, after);
}

TEST_F(PipelineTest, NothingNonFiniteLeavesTheEngine) {
    // Seven frames: the vector loop and the frames after it both see NaN
    // and the infinities.
    configure(44100, true, 7);
    makeNeutral();
    const float nan = std::numeric_limits<float>::quiet_NaN(), inf = std::numeric_limits<float>::infinity();
    std::vector<float> out = runBlock({nan, inf, -inf, 0.5f, 0.25f, nan, -inf}, {-nan, 0.1f, inf, -0.0f, nan, inf, 0.2f});
    EXPECT_EQ((std::vector<float>{0.0f, 1.0f, -1.0f, 0.5f, 0.25f, 0.0f, -1.0f}), out);
    EXPECT_EQ((std::vector<float>{0.0f, 0.1f, 1.0f, -0.0f, 0.0f, 1.0f, 0.2f}), lastRight);
    EXPECT_EQ(1.0f, engine->outputPeakL.load());
    EXPECT_EQ(1.0f, engine->outputPeakR.load());
    EXPECT_EQ(inf, engine->inputPeakL.load());  // a NaN never counts as a peak
}

TEST_F(PipelineTest, SilenceGivesSilenceAndZeroPeaks) {
    configure(44100, true, 4);
    makeNeutral();
    EXPECT_EQ(std::vector<float>(4, 0.0f), runBlock({}));
    EXPECT_EQ(0.0f, engine->inputPeakL.load());
    EXPECT_EQ(0.0f, engine->outputPeakR.load());
}

TEST_F(PipelineTest, MasterGainIsAppliedBeforeClipping) {
    configure(44100, false, 4);
    makeNeutral();
    engine->masterGain = 2.0f;
    std::vector<float> out = runBlock({0.6f, 0.25f, -0.6f, 0.0f});
    EXPECT_EQ((std::vector<float>{1.0f, 0.5f, -1.0f, 0.0f}), out);
}

TEST_F(PipelineTest, MonoPeaksMirrorTheLeftChannel) {
    configure(44100, false, 4);
    makeNeutral();
    runBlock({0.1f, -0.7f, 0.2f, 0.0f});
    EXPECT_FLOAT_EQ(0.7f, engine->inputPeakL.load());
    EXPECT_EQ(engine->inputPeakL.load(), engine->inputPeakR.load());
    EXPECT_EQ(engine->outputPeakL.load(), engine->outputPeakR.load());
}

TEST_F(PipelineTest, ChainRunsFilledValidSlotsInOrderAfterTheInputCopyAndBeforeMasterGain) {
    configure(44100, true, 4);
    makeNeutral();
    engine->masterGain = 0.5f;
    engine->chain[5] = {55, 0};
    engine->chain[1] = {11, 0x100};  // only the low byte of the index counts
    engine->chain[2] = {22, 1};      // wrapper without processPlugin
    engine->chain[3] = {33, 7};      // no such wrapper
    engine->chain[4] = {0, 0};       // empty
    std::vector<float> out = runBlock({0.1f, 0.1f, 0.1f, 0.1f}, {0.2f, 0.2f, 0.2f, 0.2f});
    EXPECT_EQ((std::vector<intptr_t>{11, 55}), wrapper.processed);
    // Input doubled twice by the chain, then halved by the master gain; the
    // input peak is taken before the chain.
    EXPECT_FLOAT_EQ(0.2f, out[0]);
    EXPECT_FLOAT_EQ(0.4f, lastRight[3]);
    EXPECT_FLOAT_EQ(0.1f, engine->inputPeakL.load());
}

namespace {
// Stages that capture what they see: the recorder copies the left output,
// the accompaniment adds a constant.
struct StageProbe {
    std::vector<float> recorded;
    int resets = 0;
    int releases = 0;
    int32_t setupResult = 0;
};

void recordFeed(void* context, EngineState& e) {
    auto* probe = static_cast<StageProbe*>(context);
    probe->recorded.assign(e.outputL, e.outputL + e.blockSize);
}
void accompanimentMix(void*, EngineState& e) {
    for (uint32_t i = 0; i < e.blockSize; ++i) e.outputL[i] += 0.25f;
}
void countReset(void* context) { ++static_cast<StageProbe*>(context)->resets; }
void countRelease(void* context) { ++static_cast<StageProbe*>(context)->releases; }
int32_t probeSetup(void* context, const EngineState&, uint32_t) { return static_cast<StageProbe*>(context)->setupResult; }
}  // namespace

TEST_F(PipelineTest, RecorderTapsDryOrWetSignalButNeverTheClickOrTheClip) {
    StageProbe recorder;
    engine->recorder = {&recorder, countRelease, countReset, probeSetup, recordFeed};
    engine->accompaniment = {nullptr, nullptr, nullptr, nullptr, accompanimentMix};
    configure(44100, false, 4);
    makeNeutral();
    engine->masterGain = 2.0f;
    engine->metronomeOn = true;

    engine->recordDryOnly = true;
    runBlock({0.3f, 0.6f, 0.0f, 0.0f});
    EXPECT_EQ((std::vector<float>{0.6f, 1.2f, 0.0f, 0.0f}), recorder.recorded);

    engine->recordDryOnly = false;
    runBlock({0.3f, 0.6f, 0.0f, 0.0f});
    EXPECT_EQ((std::vector<float>{0.6f + 0.25f, 1.2f + 0.25f, 0.25f, 0.25f}), recorder.recorded);
}

TEST_F(PipelineTest, StagesAreResetAndReleasedWithTheConfiguration) {
    StageProbe recorder, accompaniment;
    engine->recorder = {&recorder, countRelease, countReset, probeSetup, nullptr};
    engine->accompaniment = {&accompaniment, countRelease, countReset, probeSetup, nullptr};
    configure(44100, true, 4);
    // A configuration never rewinds a take: only the recording's start does.
    EXPECT_EQ(0, recorder.resets);
    EXPECT_EQ(1, accompaniment.resets);
    engineRelease(*engine);
    EXPECT_EQ(2, recorder.releases);  // once before the rebuild, once at release
    EXPECT_EQ(2, accompaniment.releases);
}

TEST_F(PipelineTest, RecorderSetupFailureLeavesTheEngineUnconfigured) {
    StageProbe recorder;
    recorder.setupResult = kConfigureNoRecorderMemory;
    engine->recorder = {&recorder, countRelease, countReset, probeSetup, recordFeed};
    EXPECT_EQ(kConfigureNoRecorderMemory, configure(44100, true, 4));
    EXPECT_EQ(nullptr, engine->inputL);
    EXPECT_EQ(nullptr, engine->outputL);
    processBlock(*engine);  // harmless without buffers
    EXPECT_TRUE(recorder.recorded.empty());

    // A second attempt really tries again instead of answering "unchanged".
    recorder.setupResult = 0;
    EXPECT_EQ(0, engineConfigure(*engine, 44100, true));
    EXPECT_NE(nullptr, engine->inputL);
}

TEST_F(PipelineTest, ChainPauseWaitsForTheRunningBlockAndKeepsLaterBlocksOut) {
    configure(44100, true, 4);
    makeNeutral();
    engine->chain[0] = {1, 0};
    std::atomic<bool> stop{false};
    std::atomic<int> blocksInChain{0};
    std::atomic<bool> paused{false};
    std::atomic<int> violations{0};
    std::thread device([&] {
        while (!stop.load()) {
            if (engineBlockBegin(*engine)) {
                if (paused.load()) violations.fetch_add(1);
                processBlock(*engine);
                blocksInChain.fetch_add(1);
            }
            engineBlockEnd(*engine);
        }
    });
    while (blocksInChain.load() < 10) std::this_thread::yield();
    for (int round = 0; round < 50; ++round) {
        engineChainPause(*engine);
        paused = true;
        std::this_thread::sleep_for(std::chrono::microseconds(200));
        paused = false;
        engineChainResume(*engine);
        std::this_thread::yield();
    }
    stop = true;
    device.join();
    EXPECT_EQ(0, violations.load());
}

TEST_F(PipelineTest, CpuFigureUsesTheLowWordsOfTheCounterDifferences) {
    engine->cpuMeterReady = false;
    engineMeasureCpu(*engine, 1000, 1500);
    EXPECT_EQ(0.0f, engine->cpuUsagePercent.load());
    EXPECT_EQ(0u, engine->cpuPreviousStart);

    engine->cpuMeterReady = true;
    engine->cpuPreviousStart = 0xFFFFFF00ull;
    // Period crosses the 32-bit boundary: 0x100 + 0x300 counts.
    engineMeasureCpu(*engine, 0x100000300ull, 0x100000300ull + 0x100);
    EXPECT_FLOAT_EQ(25.0f, engine->cpuUsagePercent.load());
    EXPECT_EQ(0x100000300ull, engine->cpuPreviousStart);

    // A zero period keeps the last figure but still moves the start.
    engineMeasureCpu(*engine, 0x100000300ull, 0x100000400ull);
    EXPECT_FLOAT_EQ(25.0f, engine->cpuUsagePercent.load());
}

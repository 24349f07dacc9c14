// The song switch at a block boundary: the next chain taken whole, the old
// one ringing out on silence and released only after its tail.
#include <atomic>
#include <cmath>
#include <cstdio>
#include <thread>
#include <vector>

#include "tests/engine/engine_fixture.h"

namespace {

// Handles 1 ... 4 are "reverbs": a slow one-pole sum of their input added to
// it, so that they ring on after the input stops; 4 also adds a steady 0.1
// (a drone that shows the tail's fade). Each remembers the largest
// input it had since `watchInput` and whether it ran after being released.
struct Reverb {
    float state = 0.0f;
    float loudestInput = 0.0f;
    std::atomic<bool> released{false};
    std::atomic<int> runsAfterRelease{0};
    std::atomic<long> blocks{0};
};
Reverb reverbs[5];
uint32_t fakeBlock = 64;

void WRAPPER_CALL reverbProcess(intptr_t handle, float* left, float* right) {
    Reverb& r = reverbs[handle];
    if (r.released.load()) r.runsAfterRelease.fetch_add(1);
    r.blocks.fetch_add(1, std::memory_order_relaxed);
    for (uint32_t i = 0; i < fakeBlock; ++i) {
        const float in = left[i];
        r.loudestInput = std::fabs(in) > r.loudestInput ? std::fabs(in) : r.loudestInput;
        r.state = 0.999f * r.state + 0.002f * in;
        left[i] = in + r.state + (handle == 4 ? 0.1f : 0.0f);
        if (right) right[i] = left[i];
    }
}

class ChainSwapTest : public EngineTest {
protected:
    void SetUp() override {
        for (Reverb& r : reverbs) {
            r.state = r.loudestInput = 0.0f;
            r.released = false;
            r.runsAfterRelease = 0;
            r.blocks = 0;
        }
        engine->wrappers[0] = {nullptr, reverbProcess};
        engine->wrapperCount = 1;
        fakeBlock = 64;
        ASSERT_EQ(0, configure(48000, true, fakeBlock));
        makeNeutral();
    }
    // A square tone of +-0.3, 100 samples a period: never near silence.
    static float tone(uint64_t at) { return (at / 50) % 2 ? -0.3f : 0.3f; }
    uint64_t played = 0;
    std::vector<float> block() {
        std::vector<float> in(fakeBlock);
        for (float& x : in) x = tone(played++);
        return runBlock(in, in);
    }
};

}  // namespace

TEST_F(ChainSwapTest, SteadyToneSwitchesInTheNextBlockWithoutGapAndTheTailRingsOutThenGoes) {
    engine->chain[0] = {1, 0};
    engine->chain[1] = {4, 0};
    for (int i = 0; i < 200; ++i) block();

    ChainSlot dry[kChainSlots] = {};  // the next song: no plug-in
    const uint32_t tailFrames = engineTailFrames(48000);
    const uint64_t requestedBefore = engine->blockCount.load();
    ASSERT_EQ(0, engineChainSwapRequest(*engine, dry, tailFrames));
    EXPECT_FALSE(engineChainSwapDone(*engine));
    EXPECT_EQ(kSwapBusy, engineChainSwapRequest(*engine, dry, tailFrames));

    reverbs[1].loudestInput = 0.0f;
    const uint64_t firstAfter = played;
    std::vector<float> out;
    const long tailBlocks = (tailFrames + fakeBlock - 1) / fakeBlock;
    for (long i = 0; i < tailBlocks + 20; ++i) {
        std::vector<float> b = block();
        out.insert(out.end(), b.begin(), b.end());
        if (i == 0) {
            EXPECT_TRUE(engineChainSwapDone(*engine));
            EXPECT_FALSE(engineChainTailDone(*engine));
        }
    }
    // 1: the first block after the request took the switch.
    const uint64_t latency = engine->swapBlock.load() - requestedBefore + 1;
    long silent = 0, tailHeard = 0, tailAfterEnd = 0;
    for (size_t i = 0; i < out.size(); ++i) {
        silent += std::fabs(out[i]) < 0.01f;
        const float tailPart = out[i] - tone(firstAfter + i);
        if (i < 10 * fakeBlock) tailHeard += tailPart != 0.0f;
        if (i >= tailFrames) tailAfterEnd += tailPart != 0.0f;
    }
    std::printf("switch: in block %llu after the request, %ld silent samples, tail heard in %ld of the first %u samples\n",
                static_cast<unsigned long long>(latency), silent, tailHeard, 10 * fakeBlock);
    EXPECT_EQ(1u, latency);
    EXPECT_EQ(0, silent);
    EXPECT_GT(tailHeard, static_cast<long>(9 * fakeBlock));
    EXPECT_EQ(0, tailAfterEnd);
    EXPECT_EQ(0.0f, reverbs[1].loudestInput);  // the old chain only ever heard silence
    // The drone shows the fade: whole until its last part, half way through
    // it, nothing audible at its end.
    const uint32_t fade = static_cast<uint32_t>(kSwitchFadeSeconds * 48000);
    auto tailAt = [&](uint32_t i) { return out[i] - tone(firstAfter + i); };
    EXPECT_NEAR(0.1f, tailAt(tailFrames - fade - 100), 1e-6f);
    EXPECT_NEAR(0.05f, tailAt(tailFrames - fade / 2), 1e-4f);
    EXPECT_LT(std::fabs(tailAt(tailFrames - 1)), 1e-5f);

    EXPECT_TRUE(engineChainTailDone(*engine));
    const long runs = reverbs[1].blocks.load();
    block();
    EXPECT_EQ(runs, reverbs[1].blocks.load());  // the tail chain no longer runs
    ChainSlot old[kChainSlots] = {};
    ASSERT_TRUE(engineChainTailTake(*engine, old));
    EXPECT_EQ(1, old[0].instance);
    EXPECT_EQ(4, old[1].instance);
    for (const ChainSlot& s : engine->tailChain) EXPECT_EQ(0, s.instance);
}

// (The settle without blocks is in the host's song switch tests.)
TEST_F(ChainSwapTest, APauseAppliesAPendingSwapAndAStopEndsTheTail) {
    engine->chain[0] = {1, 0};
    ChainSlot next[kChainSlots] = {};
    next[4] = {3, 0};
    ASSERT_EQ(0, engineChainSwapRequest(*engine, next, 4800));
    engineChainPause(*engine);  // a chain edit now sees the chain that will play
    EXPECT_EQ(3, engine->chain[4].instance);
    EXPECT_EQ(0, engine->chain[0].instance);
    engineChainResume(*engine);
    block();
    EXPECT_GT(reverbs[1].blocks.load(), 0);  // the tail rings on after the resume
    EXPECT_EQ(kSwapBusy, engineChainSwapRequest(*engine, next, 4800));
    engineRelease(*engine);
    ChainSlot old[kChainSlots] = {};
    ASSERT_TRUE(engineChainTailTake(*engine, old));
    EXPECT_EQ(1, old[0].instance);
}

// Blocks on a device thread while the UI switches back and forth and
// releases each old chain as soon as the engine says its tail is over: no
// released instance ever runs, and every switch is taken.
TEST_F(ChainSwapTest, SwitchesUnderRunningBlocksNeverRunAReleasedChain) {
    engine->chain[0] = {1, 0};
    std::atomic<bool> stop{false};
    std::thread device([&] {
        while (!stop.load()) {
            if (engineBlockBegin(*engine)) processBlock(*engine);
            engineBlockEnd(*engine);
        }
    });
    intptr_t playing = 1;
    for (int round = 0; round < 40; ++round) {
        const intptr_t nextHandle = playing == 4 ? 1 : playing + 1;
        reverbs[nextHandle].released = false;
        ChainSlot next[kChainSlots] = {};
        next[round % kChainSlots] = {nextHandle, 0};
        ASSERT_EQ(0, engineChainSwapRequest(*engine, next, 64 * (round % 4)));
        ChainSlot old[kChainSlots] = {};
        while (!engineChainTailTake(*engine, old)) std::this_thread::yield();
        for (const ChainSlot& s : old)
            if (s.instance) reverbs[s.instance].released = true;
        playing = nextHandle;
    }
    stop = true;
    device.join();
    for (const Reverb& r : reverbs) EXPECT_EQ(0, r.runsAfterRelease.load());
}

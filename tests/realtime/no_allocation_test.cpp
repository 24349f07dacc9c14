// The block path allocates nothing: the engine's block with every stage on,
// the handshake, the CPU figure, every converter path and a full chain of
// the built-in effects, counted at the allocator itself.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "engine/engine.h"
#include "host/host.h"
#include "platform/platform.h"
#include "tests/support/allocation_counter.h"
#include "tests/support/modules.h"

namespace {
void WRAPPER_CALL halve(intptr_t, float* left, float* right) {
    left[0] *= 0.5f;
    if (right) right[0] *= 0.5f;
}
}  // namespace

TEST(NoAllocation, EngineBlocksWithEveryStageOn) {
    for (bool stereo : {false, true}) {
        EngineState engine;
        engine.wrappers[0] = {nullptr, halve};
        engine.wrapperCount = 1;
        for (int slot = 0; slot < kChainSlots; ++slot) engine.chain[slot] = {slot + 1, 0};
        engine.metronomeOn = true;
        engine.blockSize = 64;
        ASSERT_EQ(0, engineConfigure(engine, 48000, stereo));
        engine.cpuMeterReady = true;

        allocationCountingStart();
        for (int block = 0; block < 3000; ++block) {
            uint64_t start = 0, end = 0;
            platformReadCounter(start);
            if (engineBlockBegin(engine)) {
                for (uint32_t i = 0; i < engine.blockSize; ++i) {
                    engine.inputL[i] = (block % 50 < 25) ? 0.5f : 0.0f;
                    if (engine.inputR) engine.inputR[i] = -engine.inputL[i];
                }
                processBlock(engine);
            }
            engineBlockEnd(engine);
            platformReadCounter(end);
            engineMeasureCpu(engine, start, end);
        }
        EXPECT_EQ(0, allocationCountingStop()) << (stereo ? "stereo" : "mono");
    }
}

TEST(NoAllocation, ConverterInBothDirectionsWithAndWithoutResampling) {
    const StreamConverter& lib = streamConverter();
    ASSERT_NE(nullptr, lib.process);
    struct Case { uint16_t tag, channels, bits, align; };
    const Case cases[] = {{1, 2, 8, 2},  {1, 1, 16, 2}, {1, 2, 16, 4}, {1, 2, 24, 6},
                          {1, 1, 24, 4}, {1, 2, 32, 8}, {3, 1, 32, 4}, {3, 1, 64, 8}};
    std::vector<uint8_t> device(2048 * 8);
    std::vector<float> left(2048, 0.25f), right(2048, -0.25f);
    allocationCountingStart();
    for (const Case& c : cases) {
        StreamFormat f{};
        f.wFormatTag = c.tag;
        f.nChannels = c.channels;
        f.wBitsPerSample = c.bits;
        f.nBlockAlign = c.align;
        for (uint32_t deviceFrames : {512u, 1024u, 470u}) {
            for (uint32_t toDevice : {0u, 1u}) {
                lib.setHistory(2);
                lib.process(&f, device.data(), left.data(), right.data(), deviceFrames, 512, toDevice);
                lib.process(&f, device.data(), left.data(), nullptr, deviceFrames, 512, toDevice);
                lib.processMsb(&f, device.data(), left.data(), right.data(), deviceFrames, 512, toDevice);
            }
        }
    }
    EXPECT_EQ(0, allocationCountingStop());
}

TEST(NoAllocation, FullChainOfBuiltInEffectsThroughTheDefaultWrapper) {
    EngineState engine;
    hostReset(engine, stagePath("").c_str());
    ASSERT_EQ(0, wrappersLoadAll());
    ASSERT_EQ(1, wrapperCount());
    ASSERT_EQ(0, wrapperRefreshList(0));
    const char* order[] = {"reverb", "echo", "flanger", "chorus"};
    for (int slot = 0; slot < kChainSlots; ++slot) {
        int index = -1;
        for (int i = 0; i < wrapperAvailableCount(0); ++i)
            if (std::string(wrapperAvailableName(0, i)) == order[slot % 4]) index = i;
        ASSERT_EQ(0, chainAttach(slot, 0, index));
    }
    engine.blockSize = 64;
    ASSERT_EQ(0, engineConfigure(engine, 48000, true));
    wrapperSetProcessing(0, false);
    wrapperSetProcessing(0, true);
    chainToggleBypass(3);  // one bypassed instance on the way

    allocationCountingStart();
    for (int block = 0; block < 2000; ++block) {
        for (uint32_t i = 0; i < engine.blockSize; ++i)
            engine.inputL[i] = engine.inputR[i] = (block % 40 < 20) ? 0.25f : -0.25f;
        processBlock(engine);
    }
    EXPECT_EQ(0, allocationCountingStop());
    wrappersUnloadAll();
    hostReset(gEngine, "");
}

TEST(NoAllocation, TheCounterSeesAllocations) {
    allocationCountingStart();
    void* volatile p = std::malloc(16);
    int* q = new int(3);
    std::string s(100, 'x');
    const long counted = allocationCountingStop();
    std::free(p);
    delete q;
    EXPECT_GE(counted, 3);
}

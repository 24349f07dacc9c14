// The block path allocates nothing: the engine's block with every stage on,
// the handshake, the CPU figure and every converter path, counted at the
// allocator itself.
#include <gtest/gtest.h>

#include <vector>

#include "engine/engine.h"
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

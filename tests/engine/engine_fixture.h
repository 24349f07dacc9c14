// A fresh engine per test, with helpers to run blocks of known input.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "engine/engine.h"

class EngineTest : public ::testing::Test {
protected:
    std::unique_ptr<EngineState> engine = std::make_unique<EngineState>();

    // Configures for `frames` per block.
    int32_t configure(uint32_t rate, bool stereo, uint32_t frames) {
        engine->blockSize = frames;
        return engineConfigure(*engine, rate, stereo);
    }

    // Every stage neutral: output equals input (clipped). A gate at threshold
    // 0 is always open, but after configuration it fades in over the attack
    // time; attack 0 makes it pass from the first sample.
    void makeNeutral() {
        engine->gateThreshold = 0.0f;
        engine->gateAttackMs = 0;
        engine->dcRemoverOn = false;
        engine->inputGain = 1.0f;
        engine->masterGain = 1.0f;
        engine->metronomeOn = false;
    }

    // Runs one block with the given input; returns the left (and right) output.
    std::vector<float> runBlock(const std::vector<float>& left, const std::vector<float>& right = {}) {
        EngineState& e = *engine;
        for (uint32_t i = 0; i < e.blockSize; ++i) {
            e.inputL[i] = i < left.size() ? left[i] : 0.0f;
            if (e.inputR) e.inputR[i] = i < right.size() ? right[i] : 0.0f;
        }
        processBlock(e);
        lastRight.assign(e.outputR ? e.outputR : e.outputL, (e.outputR ? e.outputR : e.outputL) + e.blockSize);
        return std::vector<float>(e.outputL, e.outputL + e.blockSize);
    }

    // Runs `total` samples of a constant (or silence) through in blocks and
    // returns the whole left output.
    std::vector<float> runSignal(const std::vector<float>& signal) {
        std::vector<float> out;
        const uint32_t n = engine->blockSize;
        for (size_t at = 0; at < signal.size(); at += n) {
            std::vector<float> block(signal.begin() + at, signal.begin() + std::min(signal.size(), at + n));
            std::vector<float> result = runBlock(block, block);
            out.insert(out.end(), result.begin(), result.begin() + std::min<size_t>(n, signal.size() - at));
        }
        return out;
    }

    std::vector<float> lastRight;
};

// An effect module from the stage, driven through its two exports the way
// the default wrapper drives it. Each test opens the module afresh.
#pragma once

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "tests/support/appfolder.h"
#include "wrappers/default/effectinterface.h"

struct EffectModule {
    PlatformModule module = nullptr;
    PluginQueryFn query = nullptr;
    EffectProcessFn process = nullptr;
};

// Loaded once per test program and kept: the module is the instance.
inline const EffectModule& effectModule(const std::string& name) {
    static std::vector<std::pair<std::string, EffectModule>> loaded;
    for (auto& [n, m] : loaded)
        if (n == name) return m;
    EffectModule m;
    m.module = platformLoadModule(stagedModule("Effects", name).c_str());
    m.query = reinterpret_cast<PluginQueryFn>(platformFindSymbol(m.module, "pluginQuery"));
    m.process = reinterpret_cast<EffectProcessFn>(platformFindSymbol(m.module, "processPlugin"));
    loaded.emplace_back(name, m);
    return loaded.back().second;
}

class EffectTest : public ::testing::Test {
protected:
    EffectModule fx;

    // Opens `name` at `rate` with `frames` per block, as the wrapper does.
    void open(const std::string& name, uint32_t rate = 44100, uint32_t frames = 64) {
        fx = effectModule(name);
        ASSERT_NE(nullptr, fx.query) << name << " not staged";
        ASSERT_NE(nullptr, fx.process);
        fx.query(PQ_CLOSE, 0, 0);
        ASSERT_NE(0, fx.query(PQ_OPEN, 0, 0));
        query(PQ_SET_BLOCK_SIZE, 0, frames);
        query(PQ_SET_SAMPLE_RATE, 0, rate);
        query(PQ_RESUME, 0, 0);
        blockSize = frames;
    }
    void TearDown() override {
        if (fx.query) fx.query(PQ_CLOSE, 0, 0);
    }

    intptr_t query(intptr_t opcode, intptr_t p, intptr_t q) { return fx.query(opcode, p, q); }

    std::vector<uint8_t> state() {
        uint8_t* chunk = nullptr;
        intptr_t size = query(PQ_GET_STATE, reinterpret_cast<intptr_t>(&chunk), 0);
        return size > 0 && chunk ? std::vector<uint8_t>(chunk, chunk + size) : std::vector<uint8_t>{};
    }
    intptr_t setState(const std::vector<uint8_t>& chunk) {
        return query(PQ_SET_STATE, reinterpret_cast<intptr_t>(chunk.data()), static_cast<intptr_t>(chunk.size()));
    }

    // Runs a whole signal through in blocks; `right` may be empty for mono.
    void run(std::vector<float>& left, std::vector<float>* right = nullptr) {
        for (size_t at = 0; at + blockSize <= left.size(); at += blockSize)
            fx.process(&left[at], right ? &(*right)[at] : nullptr, 0);
    }

    // A settings chunk that must leave a tone untouched, mono.
    void expectToneUnchanged(float step) {
        std::vector<float> tone(4096);
        for (size_t i = 0; i < tone.size(); ++i) tone[i] = std::sin(i * step);
        std::vector<float> out = tone;
        run(out);
        EXPECT_EQ(tone, out);
    }

    static std::vector<float> impulse(size_t length, float value = 1.0f) {
        std::vector<float> v(length, 0.0f);
        v[0] = value;
        return v;
    }

    uint32_t blockSize = 64;
};

// Chunk editing helpers for tests.
inline void putFloatAt(std::vector<uint8_t>& chunk, size_t offset, float value) {
    std::memcpy(&chunk[offset], &value, 4);
}
inline float floatAt(const std::vector<uint8_t>& chunk, size_t offset) {
    float v;
    std::memcpy(&v, &chunk[offset], 4);
    return v;
}
inline void putU32At(std::vector<uint8_t>& chunk, size_t offset, uint32_t value) {
    std::memcpy(&chunk[offset], &value, 4);
}

// The contract between the default wrapper and an effect module: two
// exports, `pluginQuery` (commands) and `processPlugin` (audio, in place).
// Every argument and result is a machine word.
#pragma once

#include <cstdint>

#if defined(_WIN32) && !defined(_WIN64)
#define EFFECT_CALL __stdcall
#else
#define EFFECT_CALL
#endif

#if defined(_WIN32)
#define EFFECT_EXPORT extern "C" __declspec(dllexport)
#else
#define EFFECT_EXPORT extern "C" __attribute__((visibility("default")))
#endif

using PluginQueryFn = intptr_t(EFFECT_CALL*)(intptr_t opcode, intptr_t p, intptr_t q);
using EffectProcessFn = void(EFFECT_CALL*)(float* left, float* right, intptr_t reserved);

enum : intptr_t {
    PQ_RESUME = 0,
    PQ_SUSPEND = 1,
    PQ_OPEN = 2,
    PQ_OPEN_EDITOR = 3,
    PQ_SET_SAMPLE_RATE = 4,
    PQ_SET_BLOCK_SIZE = 5,
    PQ_GET_STATE = 6,
    PQ_SET_STATE = 7,
    PQ_GET_PRESET_NAME = 8,
    PQ_SELECT_PRESET = 9,
    PQ_CLOSE = 10,
    PQ_SET_TEMPO = 11,
};

// The wrapper's buffer for PQ_GET_PRESET_NAME.
constexpr int kPresetNameBuffer = 112;

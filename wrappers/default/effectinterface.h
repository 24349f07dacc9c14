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
    // Added later (a module that does not know them answers 0): the
    // controls of the effect's editor as parameters, UI thread.
    PQ_GET_PARAM_COUNT = 12,  // answers the count
    PQ_GET_PARAM = 13,        // p an EffectParameter*, q the index
    PQ_SET_PARAM = 14,        // p a const double* (normalised 0 ... 1), q the index
    // Added later: p an EffectEditorRequestFn (null: none), q a word the
    // effect passes back with every request (the wrapper's instance). The
    // effect's own editor asks through it for what the wrapper tells its host
    // about a parameter. A module that does not know it answers 0 and never
    // asks; a wrapper that never sends it is never asked. UI thread.
    PQ_SET_EDITOR_REQUESTS = 15,
};

// The requests of an effect's editor about parameter `index` (the index of
// PQ_GET_PARAM). UI thread; the answer is the host's, 0 when nobody listens.
enum : intptr_t {
    ER_PARAMETER_CHANGED = 1,  // the user moved its control
    ER_LEARN_PARAMETER = 2,    // "Learn MIDI Control" on its control
    ER_FORGET_PARAMETER = 3,   // "Forget MIDI Control" on its control
};
using EffectEditorRequestFn = intptr_t(EFFECT_CALL*)(intptr_t context, intptr_t request, intptr_t index);

// The record behind PQ_GET_PARAM: the value normalised over the control's
// range, the label and the caption the editor shows.
struct EffectParameter {
    double value;
    char name[64];
    char display[64];
};

// The wrapper's buffer for PQ_GET_PRESET_NAME.
constexpr int kPresetNameBuffer = 112;

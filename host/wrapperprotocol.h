// The one contract between the host and every wrapper module.
//
// A wrapper exports exactly two functions, `wrapperDispatcher` and
// `processPlugin`; the host hands it one callback. Every argument and result
// is a machine word (pointer-sized), so the same binary contract holds on
// 32- and 64-bit builds. Wrappers are separate deliverables: nothing in this
// header may change meaning without breaking modules built against it.
#pragma once

#include <cstdint>

#if defined(_WIN32) && !defined(_WIN64)
#define WRAPPER_CALL __stdcall
#else
#define WRAPPER_CALL
#endif

#if defined(_WIN32)
#define WRAPPER_EXPORT extern "C" __declspec(dllexport)
#else
#define WRAPPER_EXPORT extern "C" __attribute__((visibility("default")))
#endif

using WrapperDispatcherFn = intptr_t(WRAPPER_CALL*)(intptr_t opcode, intptr_t a1, intptr_t a2);
using WrapperProcessFn = void(WRAPPER_CALL*)(intptr_t handle, float* left, float* right);
using HostCallbackFn = intptr_t(WRAPPER_CALL*)(intptr_t opcode, intptr_t a1, intptr_t a2);

// Commands from the host to a wrapper (`wrapperDispatcher`).
enum : intptr_t {
    WD_SET_HOST_CALLBACK = 0,
    WD_OPEN = 1,
    WD_REFRESH_LIST = 2,
    WD_GET_NAME = 3,
    WD_SET_PROCESSING = 4,
    WD_GET_AVAILABLE_COUNT = 5,
    WD_GET_AVAILABLE_NAME = 6,
    WD_CREATE_INSTANCE = 7,
    WD_REPLACE_INSTANCE = 8,
    WD_DESTROY_INSTANCE = 9,
    WD_DESTROY_ALL = 10,
    WD_GET_INSTANCE_COUNT = 11,
    WD_GET_INSTANCE_NAME = 12,
    WD_SET_INSTANCE_ACTIVE = 13,
    WD_GET_INSTANCE_ACTIVE = 14,
    WD_GET_INSTANCE = 15,
    WD_SHOW_EDITOR = 16,
    WD_CLOSE_EDITOR = 17,
    WD_IS_INSTANCE = 18,
    WD_GET_USER_DATA = 19,
    WD_SET_USER_DATA = 20,
    WD_CLOSE = 21,
    WD_SET_SAMPLE_RATE = 22,
    WD_SET_BLOCK_SIZE = 23,
    WD_LOAD_STATE = 24,
    WD_SAVE_STATE = 25,
    WD_SET_TEMPO = 26,
    // Added later; a wrapper that does not know them answers 0, which the
    // host reads as "nothing to tell".
    WD_GET_LATENCY = 27,   // a1 instance, a2 int32_t*: the frames it delays its output by
    WD_SET_CHANNELS = 28,  // a2 1 or 2: the engine's channels, before its rate and block size
    WD_IDLE = 29,          // UI thread, about every 50 ms while live input runs
    // An instance's parameters (normalised 0 ... 1): a1 instance, a2 an
    // int32_t* for the count, or a WrapperParameter* for the others.
    WD_GET_PARAMETER_COUNT = 30,
    WD_GET_PARAMETER = 31,  // fills value, name and display for `index`
    WD_SET_PARAMETER = 32,  // sets `index` to `value`
    // As WD_LOAD_STATE, but the wrapper's present instances stay and the
    // blob's are appended after them (in creation order). The host prepares
    // the next song's chain with it while the current one plays; a wrapper
    // that answers 0 gets the stop-and-load of opening a file instead.
    WD_ADD_STATE = 33,
};

// The record behind WD_GET_PARAMETER and WD_SET_PARAMETER.
struct WrapperParameter {
    int32_t index;
    double value;
    char name[64];
    char display[64];
};

// Requests from a wrapper to the host (`hostCallback`).
enum : intptr_t {
    HC_GET_HOST_NAME = 0,
    HC_GET_HOST_VERSION = 1,
    HC_REPAINT_CHAIN = 2,
    HC_INSTANCE_DESTROYED = 3,
    HC_ALL_INSTANCES_DESTROYED = 4,
    HC_EDITOR_CLOSED = 5,
    HC_SCAN_PROGRESS = 6,
    HC_WRAPPER_CLOSED = 7,
    // Added later; an older host answers 0. a1 the instance, a2 the
    // parameter's index. UI thread.
    HC_PARAMETER_CHANGED = 8,  // the user moved it in the plug-in's editor
    HC_LEARN_PARAMETER = 9,    // "Learn MIDI Control" on its row of the generic editor
    HC_FORGET_PARAMETER = 10,  // "Forget MIDI Control" on that row
};

// The record behind WD_GET_USER_DATA and WD_SET_USER_DATA: three words.
struct WrapperUserData {
    intptr_t handle;
    intptr_t data;  // pointer to the bytes
    intptr_t size;  // in bytes
};
static_assert(sizeof(WrapperUserData) == 3 * sizeof(void*), "three machine words");

// Our wrappers list a plug-in built for the other processor than the
// program's (a 32-bit one, to the 64-bit program) with this after its name.
// They never load it; the host runs it in a helper process of its width.
constexpr const char* kSuffix32Bit = " (32-bit)";
// The folder beside the program's Wrappers holding the 32-bit builds of the
// wrappers and their scanners.
constexpr const char* kWrappers32 = "Wrappers32";

constexpr unsigned kHostVersion = 121;
constexpr const char* kHostName = "Quorvane Live";
constexpr int kWrapperNameBuffer = 100;
constexpr int kMaxWrappers = 10;
constexpr int kChainSlots = 8;

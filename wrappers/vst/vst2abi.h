// The VST 2 binary interface, as far as the VST wrapper uses it, declared
// here from its published table of layouts. Third-party plug-ins are built
// against it, so every offset below is checked at compile time on both
// targets.
#pragma once

#include <cstddef>
#include <cstdint>

#if defined(_WIN32) && !defined(_WIN64)
#define VST2_CALL __cdecl
#else
#define VST2_CALL
#endif

struct Vst2Effect;

using Vst2HostCallback = intptr_t(VST2_CALL*)(Vst2Effect* effect, int32_t opcode, int32_t index, intptr_t value,
                                              void* ptr, float opt);
using Vst2Dispatcher = intptr_t(VST2_CALL*)(Vst2Effect* effect, int32_t opcode, int32_t index, intptr_t value,
                                            void* ptr, float opt);
using Vst2Process = void(VST2_CALL*)(Vst2Effect* effect, float** inputs, float** outputs, int32_t frames);
using Vst2ProcessDouble = void(VST2_CALL*)(Vst2Effect* effect, double** inputs, double** outputs, int32_t frames);
using Vst2SetParameter = void(VST2_CALL*)(Vst2Effect* effect, int32_t index, float value);
using Vst2GetParameter = float(VST2_CALL*)(Vst2Effect* effect, int32_t index);
// The library's entry point ("main", "Main" or "VSTPluginMain").
using Vst2Entry = Vst2Effect*(VST2_CALL*)(Vst2HostCallback host);

constexpr int32_t kVst2Magic = 0x56737450;     // "VstP"
constexpr intptr_t kVst2IdentifyAnswer = 0x4E764566;  // "NvEf"

struct Vst2Effect {
    int32_t magic;
    Vst2Dispatcher dispatcher;
    Vst2Process process;  // accumulating (old)
    Vst2SetParameter setParameter;
    Vst2GetParameter getParameter;
    int32_t numPrograms;
    int32_t numParams;
    int32_t numInputs;
    int32_t numOutputs;
    int32_t flags;
    intptr_t reserved1;
    intptr_t reserved2;
    int32_t initialDelay;
    int32_t realQualities;
    int32_t offQualities;
    float ioRatio;
    void* object;
    void* user;
    int32_t uniqueID;
    int32_t version;
    Vst2Process processReplacing;
    Vst2ProcessDouble processDoubleReplacing;
    char future[56];
};

// Effect flags.
enum : int32_t {
    kVst2FlagHasEditor = 1 << 0,
    kVst2FlagCanReplace = 1 << 4,
    kVst2FlagProgramChunks = 1 << 5,
    kVst2FlagIsSynth = 1 << 8,
    kVst2FlagNoSoundInStop = 1 << 9,
    kVst2FlagCanDoubleReplace = 1 << 12,
};

// Dispatcher opcodes (host to plug-in).
enum : int32_t {
    kVst2Open = 0,
    kVst2Close = 1,
    kVst2SetProgram = 2,
    kVst2GetProgram = 3,
    kVst2SetProgramName = 4,
    kVst2GetProgramName = 5,
    kVst2GetParamLabel = 6,
    kVst2GetParamDisplay = 7,
    kVst2GetParamName = 8,
    kVst2SetSampleRate = 10,
    kVst2SetBlockSize = 11,
    kVst2MainsChanged = 12,
    kVst2EditorGetRect = 13,
    kVst2EditorOpen = 14,
    kVst2EditorClose = 15,
    kVst2EditorDraw = 16,
    kVst2EditorIdle = 19,
    kVst2Identify = 22,
    kVst2GetChunk = 23,
    kVst2SetChunk = 24,
    kVst2GetProgramNameIndexed = 29,
    kVst2CanDo = 51,
};

// Host callback opcodes (plug-in to host).
enum : int32_t {
    kVst2HostAutomate = 0,
    kVst2HostVersion = 1,
    kVst2HostCurrentId = 2,
    kVst2HostIdle = 3,
    kVst2HostPinConnected = 4,
    kVst2HostGetTime = 7,
    kVst2HostTempoAt = 10,
    kVst2HostSizeWindow = 15,
    kVst2HostGetSampleRate = 16,
    kVst2HostGetBlockSize = 17,
    kVst2HostWillReplaceOrAccumulate = 22,
    kVst2HostCanDo = 37,
    kVst2HostGetDirectory = 41,
};

struct Vst2TimeInfo {
    double samplePos;
    double sampleRate;
    double nanoSeconds;
    double ppqPos;
    double tempo;
    double barStartPos;
    double cycleStartPos;
    double cycleEndPos;
    int32_t timeSigNumerator;
    int32_t timeSigDenominator;
    int32_t smpteOffset;
    int32_t smpteFrameRate;
    int32_t samplesToNextClock;
    int32_t flags;
};
constexpr int32_t kVst2TimeTempoValid = 0x400;

struct Vst2Rect {
    int16_t top, left, bottom, right;
};

// The layouts plug-ins were built against.
#if INTPTR_MAX == INT64_MAX
static_assert(offsetof(Vst2Effect, dispatcher) == 8);
static_assert(offsetof(Vst2Effect, process) == 16);
static_assert(offsetof(Vst2Effect, setParameter) == 24);
static_assert(offsetof(Vst2Effect, getParameter) == 32);
static_assert(offsetof(Vst2Effect, numPrograms) == 40);
static_assert(offsetof(Vst2Effect, numParams) == 44);
static_assert(offsetof(Vst2Effect, numInputs) == 48);
static_assert(offsetof(Vst2Effect, numOutputs) == 52);
static_assert(offsetof(Vst2Effect, flags) == 56);
static_assert(offsetof(Vst2Effect, reserved1) == 64);
static_assert(offsetof(Vst2Effect, reserved2) == 72);
static_assert(offsetof(Vst2Effect, initialDelay) == 80);
static_assert(offsetof(Vst2Effect, realQualities) == 84);
static_assert(offsetof(Vst2Effect, offQualities) == 88);
static_assert(offsetof(Vst2Effect, ioRatio) == 92);
static_assert(offsetof(Vst2Effect, object) == 96);
static_assert(offsetof(Vst2Effect, user) == 104);
static_assert(offsetof(Vst2Effect, uniqueID) == 112);
static_assert(offsetof(Vst2Effect, version) == 116);
static_assert(offsetof(Vst2Effect, processReplacing) == 120);
static_assert(offsetof(Vst2Effect, processDoubleReplacing) == 128);
static_assert(offsetof(Vst2Effect, future) == 136);
static_assert(sizeof(Vst2Effect) == 192);
#else
static_assert(offsetof(Vst2Effect, dispatcher) == 4);
static_assert(offsetof(Vst2Effect, process) == 8);
static_assert(offsetof(Vst2Effect, numPrograms) == 20);
static_assert(offsetof(Vst2Effect, flags) == 36);
static_assert(offsetof(Vst2Effect, reserved1) == 40);
static_assert(offsetof(Vst2Effect, initialDelay) == 48);
static_assert(offsetof(Vst2Effect, ioRatio) == 60);
static_assert(offsetof(Vst2Effect, object) == 64);
static_assert(offsetof(Vst2Effect, uniqueID) == 72);
static_assert(offsetof(Vst2Effect, processReplacing) == 80);
static_assert(offsetof(Vst2Effect, processDoubleReplacing) == 84);
static_assert(offsetof(Vst2Effect, future) == 88);
static_assert(sizeof(Vst2Effect) == 144);
#endif
static_assert(offsetof(Vst2TimeInfo, tempo) == 32);
static_assert(offsetof(Vst2TimeInfo, timeSigNumerator) == 64);
static_assert(offsetof(Vst2TimeInfo, flags) == 84);
static_assert(sizeof(Vst2TimeInfo) == 88);
static_assert(sizeof(Vst2Rect) == 8);

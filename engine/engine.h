// The real-time engine: one record of state and one block operation.
//
// The device layer fills `inputL`/`inputR`, calls `processBlock` and takes
// `outputL`/`outputR` back; the engine knows no device, file or window.
//
// Threads: `processBlock` runs only on the real-time context (the streaming
// thread or the driver's callback). The UI thread writes the parameters at any
// time (relaxed atomics: a change lands at the next block) and reads the
// meters. `engineConfigure` runs on the UI thread while no block can run
// (the device is stopped); a driver's change of size or rate only asks for
// a restart through engineStatus. The chain slots change only
// under the processingEnabled/blockInProgress handshake.
#pragma once

#include <atomic>
#include <cstdint>

#include "host/wrapperprotocol.h"

// engineStatus bits.
enum : uint32_t {
    STATUS_RECORD_WRITE_ERROR = 0x01,
    STATUS_INPUT_FORMAT_ERROR = 0x02,
    STATUS_OUTPUT_FORMAT_ERROR = 0x04,
    STATUS_RESTART_REQUEST = 0x08,
    STATUS_RECORD_FULL = 0x10,
    STATUS_RECORD_DISCARDED = 0x20,
    STATUS_PLAYBACK_ERROR = 0x40,
    STATUS_CAPTURE_ERROR = 0x80,
    // The sound device went away or was changed under live input.
    STATUS_DEVICE_LOST = 0x100,
};

// Bits a configuration keeps: they belong to the recorder, whose stop clears them.
constexpr uint32_t kStatusRecorderBits =
    STATUS_RECORD_WRITE_ERROR | STATUS_RECORD_FULL | STATUS_RECORD_DISCARDED;

// engineConfigure results beside 0 (rebuilt or released).
constexpr int32_t kConfigureUnchanged = 1;
constexpr int32_t kConfigureNoRecorderMemory = 176;  // "Not enought memory to save to RAM..."
constexpr int32_t kConfigureNoMemory = 110;          // "No memory to finish an operation."

struct EngineState;

// A stage that lives outside the engine (the recorder, the accompaniment
// player) but runs at a fixed point of configuration and of every block.
// Any entry may be null; a stage with a null `process` does nothing.
struct EngineStage {
    void* context = nullptr;
    // Configuration step 4: free the stage's per-run buffer.
    void (*release)(void* context) = nullptr;
    // Accompaniment: its resampling history starts clean at every
    // configuration. The recorder has none: a configuration (a device
    // restart in the middle of a take) never rewinds a recording.
    void (*reset)(void* context) = nullptr;
    // Steps 7 and 8: per-run set-up for this rate and block size. Non-zero
    // result is a message id and ends the configuration.
    int32_t (*setup)(void* context, const EngineState& engine, uint32_t rate) = nullptr;
    // The block step (recorder feed, accompaniment mix). Real-time context.
    void (*process)(void* context, EngineState& engine) = nullptr;
};

// One loaded wrapper as the engine sees it.
struct EngineWrapper {
    WrapperDispatcherFn dispatcher = nullptr;
    WrapperProcessFn processPlugin = nullptr;
};

struct ChainSlot {
    intptr_t instance = 0;     // 0 = empty
    int32_t wrapperIndex = 0;  // only the low byte counts; -1 after "Select None"
    // The instance runs in a helper process: `instance` is then the host's
    // record of it, and the block goes through the engine's `separateProcess`.
    bool separate = false;
};

inline bool slotIsSeparate(const ChainSlot& s) { return s.instance != 0 && s.separate; }

// Noise gate and DC offset remover (input conditioning).
struct DcRemoverState {
    uint32_t window = 0;  // samples; 0 until first configured
    float* ring[2] = {nullptr, nullptr};
    uint32_t position = 0;
    float sum[2] = {0.0f, 0.0f};
};

struct GateState {
    uint32_t window = 0;
    float* ring[2] = {nullptr, nullptr};  // right ring only in stereo
    uint32_t position = 0;
    float sum[2] = {0.0f, 0.0f};
    int32_t fade[2] = {0, 0};  // >0 fading out, <0 fading in
};

struct MetronomeState {
    float phase = 0.0f;
    float phaseStep = 0.04f;
    float amplitude = 0.5f;
    uint32_t counter = 0;  // samples since the current click began
    bool alternate = false;
    uint32_t clickLength = 0;
    // Beats are placed on the exact tempo grid: beat k starts at
    // round(k * beatPeriod) samples after configuration.
    double beatPeriod = 0.0;
    uint64_t sampleIndex = 0;     // samples played since configuration
    uint64_t beatIndex = 0;       // index of the next beat
    uint64_t nextBeatStart = 0;   // sample at which the next beat starts
};

struct EngineState {
    EngineState() = default;
    ~EngineState();
    EngineState(const EngineState&) = delete;
    EngineState& operator=(const EngineState&) = delete;

    uint32_t blockSize = 0;  // frames per block; set by the device layer before configuring
    int32_t lastConfiguredRate = -1;
    int32_t lastConfiguredBlockSize = -1;

    float* inputL = nullptr;
    float* inputR = nullptr;  // absent in mono
    float* outputL = nullptr;
    float* outputR = nullptr;  // absent in mono

    // Parameters written by the UI thread.
    std::atomic<float> inputGain{1.0f};
    std::atomic<float> masterGain{1.0f};
    std::atomic<float> gateThreshold{0.0039f};
    std::atomic<uint16_t> gateAttackMs{5};
    std::atomic<uint16_t> gateReleaseMs{100};
    std::atomic<bool> dcRemoverOn{true};
    std::atomic<bool> metronomeOn{false};
    std::atomic<float> metronomeTempo{120.0f};
    std::atomic<bool> recordDryOnly{true};

    // Meters written by the real-time side.
    std::atomic<float> inputPeakL{0.0f};
    std::atomic<float> inputPeakR{0.0f};
    std::atomic<float> outputPeakL{0.0f};
    std::atomic<float> outputPeakR{0.0f};
    std::atomic<float> cpuUsagePercent{0.0f};
    std::atomic<bool> cpuMeterReady{false};
    uint64_t cpuPreviousStart = 0;

    std::atomic<uint32_t> engineStatus{0};
    std::atomic<bool> processingEnabled{true};
    std::atomic<bool> blockInProgress{false};

    // The plug-in chain and the wrappers it calls (filled by the host).
    ChainSlot chain[kChainSlots];
    EngineWrapper wrappers[kMaxWrappers];
    uint32_t wrapperCount = 0;
    // Slots in helper processes (set by the host): one block, and the
    // engine's channels, rate and block size whenever it is configured.
    void (*separateProcess)(intptr_t instance, float* left, float* right, uint32_t frames) = nullptr;
    void (*separateConfigure)(int channels, uint32_t rate, uint32_t blockSize) = nullptr;

    EngineStage recorder;
    EngineStage accompaniment;

    DcRemoverState dcRemover;
    GateState gate;
    MetronomeState metronome;
};

// The program's one engine. Tests make their own.
extern EngineState gEngine;

// Rebuilds the block buffers and all rate- or size-dependent state for
// `blockSize` frames. With `blockSize` 0 it releases them. UI thread, with
// the device stopped. Returns 0, kConfigureUnchanged, or a
// message id (kConfigureNoRecorderMemory, kConfigureNoMemory); on an id the
// engine is left without buffers.
int32_t engineConfigure(EngineState& engine, uint32_t rate, bool stereo);

// The live-input stop: releases every buffer (the next start always rebuilds),
// keeps `blockSize`, and clears the meters.
void engineRelease(EngineState& engine);

// One block, in place: conditioning, meters, chain, master gain, recorder,
// accompaniment, metronome, clip. Real-time context; allocates nothing.
void processBlock(EngineState& engine);

// The real-time caller's side of the handshake: marks the block busy and
// tells whether it may process. Always pair with engineBlockEnd.
bool engineBlockBegin(EngineState& engine);
void engineBlockEnd(EngineState& engine);

// The UI side of the handshake around a change of the chain: after
// engineChainPause returns, no block touches the chain until engineChainResume.
void engineChainPause(EngineState& engine);
void engineChainResume(EngineState& engine);

// CPU figure of one cycle from performance-counter readings: `start` taken
// before the block, `end` after it. Updates cpuUsagePercent and the previous
// start; does nothing unless cpuMeterReady.
void engineMeasureCpu(EngineState& engine, uint64_t start, uint64_t end);

// Input conditioning and metronome, the engine's own steps.
int32_t dcRemoverConfigure(EngineState& engine, uint32_t rate);
void dcRemoverProcess(EngineState& engine);
int32_t gateConfigure(EngineState& engine, uint32_t rate, bool stereo);
void gateProcess(EngineState& engine);
// Both of them, as processBlock runs them: the remover when dcRemoverOn.
void conditionInput(EngineState& engine);
void metronomeReset(EngineState& engine);
void metronomeConfigure(EngineState& engine, uint32_t rate);
void metronomeProcess(EngineState& engine);

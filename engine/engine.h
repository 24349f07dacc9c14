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

    // The song switch: a next chain handed over whole, taken at the start
    // of a block; the chain it replaced rings out as the tail chain on
    // silent input, added to the output after the chain (see
    // engineChainSwapRequest). `nextChain` and `nextTailFrames` are the UI
    // thread's until it sets `swapPending`, the audio thread's until that
    // clears. `tailChain` is the audio thread's while `tailActive`, the UI
    // thread's (to take and release) once the swap is done and the tail is not.
    ChainSlot nextChain[kChainSlots];
    uint32_t nextTailFrames = 0;
    ChainSlot tailChain[kChainSlots];
    uint32_t tailLength = 0;     // frames the running tail lasts in all
    uint32_t tailRemaining = 0;  // frames of it still to play
    float* tailL = nullptr;      // the tail chain's block: silence in, its sound out
    float* tailR = nullptr;
    std::atomic<bool> swapPending{false};
    std::atomic<bool> tailActive{false};
    // Blocks processed since the engine was made, and the index of the block
    // that took the last swap (for the UI's figures).
    std::atomic<uint64_t> blockCount{0};
    std::atomic<uint64_t> swapBlock{0};

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
// engineChainPause returns, no block touches the chain or the tail chain
// until engineChainResume. A pending swap is applied by the pause itself,
// so the chain the UI then edits is the one that will play; its tail goes
// on after the resume.
void engineChainPause(EngineState& engine);
void engineChainResume(EngineState& engine);

// ---- the song switch ----

// How long the replaced chain's reverb and echo tails ring out after a
// switch, and the last part of it over which they fade to nothing.
constexpr double kSwitchTailSeconds = 4.0;
constexpr double kSwitchFadeSeconds = 1.5;

// engineChainSwapRequest's refusal: a swap is still pending, a tail still
// rings, or the last tail chain was not taken yet.
constexpr int32_t kSwapBusy = 1;

// UI thread. Hands the engine `next` whole: the next block takes it as the
// chain at its start, and the chain it replaces plays on as the tail chain
// for `tailFrames` on silence, faded out over its last part, added to the
// output before master gain. The instances of both stay the caller's.
// Returns 0 or kSwapBusy (nothing was handed over).
int32_t engineChainSwapRequest(EngineState& engine, const ChainSlot next[kChainSlots], uint32_t tailFrames);
// UI thread, when no block may come (live input stopped or stopping):
// applies a pending swap itself and ends a running tail at once, under the
// pause handshake, so that a block that starts meanwhile waits outside.
// The processing flag is left as it was.
void engineChainSwapSettle(EngineState& engine);
// UI thread. Whether the handed-over chain is the chain yet; whether the old
// one has finished ringing out (true as well when there is none).
bool engineChainSwapDone(const EngineState& engine);
bool engineChainTailDone(const EngineState& engine);
// UI thread, once the swap and its tail are done: copies the old chain to
// `old` (to release its instances) and empties the tail chain. False, and
// nothing copied, while either is still under way.
bool engineChainTailTake(EngineState& engine, ChainSlot old[kChainSlots]);
// The tail's frames for a rate: kSwitchTailSeconds.
uint32_t engineTailFrames(uint32_t rate);

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

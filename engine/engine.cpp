// Engine configuration, the block pipeline, the handshake and the CPU figure.
#include "engine/engine.h"

#include <chrono>
#include <cstdlib>
#include <thread>

#if defined(__x86_64__) || defined(_M_X64)
#include <emmintrin.h>
#endif

#include "engine/engine_internal.h"

EngineState gEngine;

float* engineAllocFloats(uint32_t count) {
    return static_cast<float*>(std::calloc(count ? count : 1, sizeof(float)));
}

void engineFreeFloats(float*& buffer) {
    std::free(buffer);
    buffer = nullptr;
}

static void releaseBlockBuffers(EngineState& e) {
    engineFreeFloats(e.outputL);
    engineFreeFloats(e.outputR);
    engineFreeFloats(e.inputL);
    engineFreeFloats(e.inputR);
    // Without its buffer a tail cannot play on: it is over, and its chain
    // is the UI's to release.
    engineFreeFloats(e.tailL);
    engineFreeFloats(e.tailR);
    e.tailRemaining = 0;
    e.tailActive.store(false);
    if (e.accompaniment.release) e.accompaniment.release(e.accompaniment.context);
    engineFreeFloats(e.gate.ring[0]);
    engineFreeFloats(e.gate.ring[1]);
    if (e.recorder.release) e.recorder.release(e.recorder.context);
}

EngineState::~EngineState() {
    releaseBlockBuffers(*this);
    engineFreeFloats(dcRemover.ring[0]);
    engineFreeFloats(dcRemover.ring[1]);
}

// A failed allocation leaves the engine unconfigured, and forgets the last
// configuration so that the next attempt rebuilds instead of answering 1.
static int32_t failConfiguration(EngineState& e, int32_t result) {
    releaseBlockBuffers(e);
    e.lastConfiguredRate = 0;
    e.lastConfiguredBlockSize = 0;
    return result;
}

int32_t engineConfigure(EngineState& e, uint32_t rate, bool stereo) {
    e.engineStatus.fetch_and(kStatusRecorderBits);
    if (static_cast<int32_t>(rate) == e.lastConfiguredRate &&
        static_cast<int32_t>(e.blockSize) == e.lastConfiguredBlockSize)
        return kConfigureUnchanged;
    e.lastConfiguredRate = static_cast<int32_t>(rate);
    e.lastConfiguredBlockSize = static_cast<int32_t>(e.blockSize);

    releaseBlockBuffers(e);
    if (e.blockSize == 0) return 0;

    metronomeReset(e);
    // The recorder's count is not reset here: a take that runs while live
    // input restarts for a device reason goes on where it was. Its count
    // starts at 0 when the recording starts.
    if (e.recorder.setup) {
        int32_t result = e.recorder.setup(e.recorder.context, e, rate);
        if (result != 0) return failConfiguration(e, result);
    }
    if (e.accompaniment.setup) {
        int32_t result = e.accompaniment.setup(e.accompaniment.context, e, rate);
        if (result != 0) return failConfiguration(e, result);
    }

    e.outputL = engineAllocFloats(e.blockSize);
    e.inputL = engineAllocFloats(e.blockSize);
    e.tailL = engineAllocFloats(e.blockSize);
    if (!e.outputL || !e.inputL || !e.tailL) return failConfiguration(e, kConfigureNoMemory);
    if (stereo) {
        e.outputR = engineAllocFloats(e.blockSize);
        e.inputR = engineAllocFloats(e.blockSize);
        e.tailR = engineAllocFloats(e.blockSize);
        if (!e.outputR || !e.inputR || !e.tailR) return failConfiguration(e, kConfigureNoMemory);
    }

    if (gateConfigure(e, rate, stereo) != 0) return failConfiguration(e, kConfigureNoMemory);
    metronomeConfigure(e, rate);
    if (dcRemoverConfigure(e, rate) != 0) return failConfiguration(e, kConfigureNoMemory);

    if (e.accompaniment.reset) e.accompaniment.reset(e.accompaniment.context);

    for (uint32_t i = 0; i < e.wrapperCount && i < kMaxWrappers; ++i) {
        WrapperDispatcherFn dispatch = e.wrappers[i].dispatcher;
        if (!dispatch) continue;
        dispatch(WD_SET_CHANNELS, 0, stereo ? 2 : 1);
        dispatch(WD_SET_SAMPLE_RATE, 0, static_cast<intptr_t>(rate));
        dispatch(WD_SET_BLOCK_SIZE, 0, static_cast<intptr_t>(e.blockSize));
    }
    if (e.separateConfigure) e.separateConfigure(stereo ? 2 : 1, rate, e.blockSize);
    return 0;
}

void engineRelease(EngineState& e) {
    uint32_t savedBlockSize = e.blockSize;
    e.blockSize = 0;
    engineConfigure(e, 0, false);
    e.blockSize = savedBlockSize;
    e.inputPeakL.store(0.0f, std::memory_order_relaxed);
    e.inputPeakR.store(0.0f, std::memory_order_relaxed);
    e.outputPeakL.store(0.0f, std::memory_order_relaxed);
    e.outputPeakR.store(0.0f, std::memory_order_relaxed);
    e.cpuUsagePercent.store(0.0f, std::memory_order_relaxed);
}

// Largest absolute value; NaN never counts, 0.0 for an empty or silent
// block. The order of comparisons cannot change a maximum, so four lanes
// give the same figure as one.
static float peakOf(const float* samples, uint32_t count) {
    float peak = 0.0f;
    uint32_t i = 0;
#if defined(__x86_64__) || defined(_M_X64)
    const __m128 magnitude = _mm_castsi128_ps(_mm_set1_epi32(0x7FFFFFFF));
    __m128 lanes = _mm_setzero_ps();
    for (; i + 4 <= count; i += 4)  // max(a, p) is a > p ? a : p: a NaN a keeps p
        lanes = _mm_max_ps(_mm_and_ps(_mm_loadu_ps(samples + i), magnitude), lanes);
    float lane[4];
    _mm_storeu_ps(lane, lanes);
    for (float a : lane) peak = a > peak ? a : peak;
#endif
    for (; i < count; ++i) {
        float a = samples[i] < 0.0f ? -samples[i] : samples[i];
        peak = a > peak ? a : peak;
    }
    return peak;
}

static void scale(float* samples, uint32_t count, float gain) {
    for (uint32_t i = 0; i < count; ++i) samples[i] *= gain;
}

// Limits every sample to -1.0 ... 1.0 (infinities included) and turns NaN
// into silence, so that nothing non-finite reaches a device; returns the
// peak of the clipped block.
static float clipAndPeak(float* samples, uint32_t count) {
    uint32_t i = 0;
#if defined(__x86_64__) || defined(_M_X64)
    const __m128 one = _mm_set1_ps(1.0f), minusOne = _mm_set1_ps(-1.0f);
    for (; i + 4 <= count; i += 4) {
        const __m128 x = _mm_loadu_ps(samples + i);
        // min(x, 1) gives 1 for NaN; the ordered mask then clears it.
        const __m128 y = _mm_max_ps(_mm_min_ps(x, one), minusOne);
        _mm_storeu_ps(samples + i, _mm_and_ps(y, _mm_cmpord_ps(x, x)));
    }
#endif
    for (; i < count; ++i) {
        float x = samples[i];
        x = x > 1.0f ? 1.0f : x;
        x = x < -1.0f ? -1.0f : x;
        samples[i] = x == x ? x : 0.0f;
    }
    return peakOf(samples, count);
}

static void copySamples(float* to, const float* from, uint32_t count) {
    for (uint32_t i = 0; i < count; ++i) to[i] = from[i];
}

// The block path computes in the default floating-point mode (round to
// nearest, every exception masked, subnormals kept): its results are exact
// to the sample only there. A thread may come with another mode (a driver's,
// or one a plug-in library set when it was loaded), and a plug-in may leave
// another behind after its block (flush-to-zero, denormals-are-zero): the
// mode is set at the start of a block and again after every plug-in, and
// the thread's own is given back at the end.
static constexpr unsigned kBlockMxcsr = 0x1F80;

// Runs `chain` in place over `left`/`right` (right null in mono).
static void runChain(EngineState& e, const ChainSlot* chain, float* left, float* right) {
    for (int s = 0; s < kChainSlots; ++s) {
        const ChainSlot& slot = chain[s];
        if (slot.instance == 0) continue;
        if (slotIsSeparate(slot)) {
            if (e.separateProcess) e.separateProcess(slot.instance, left, right, e.blockSize);
            _mm_setcsr(kBlockMxcsr);
            continue;
        }
        const uint32_t index = static_cast<uint32_t>(slot.wrapperIndex) & 0xFF;
        if (index >= e.wrapperCount || index >= kMaxWrappers) continue;
        WrapperProcessFn process = e.wrappers[index].processPlugin;
        if (!process) continue;
        process(slot.instance, left, right);
        _mm_setcsr(kBlockMxcsr);
    }
}

// ---- the song switch ----

static bool chainEmpty(const ChainSlot* chain) {
    for (int s = 0; s < kChainSlots; ++s)
        if (chain[s].instance != 0) return false;
    return true;
}

// The next chain becomes the chain, the chain the tail chain. Runs at the
// start of a block on the real-time side, or on the UI thread while no
// block can run (the pause); `ringOut` false when no block will play the
// tail. Clearing `swapPending` last publishes both chains to the UI.
static void takeSwap(EngineState& e, bool ringOut) {
    for (int s = 0; s < kChainSlots; ++s) {
        e.tailChain[s] = e.chain[s];
        e.chain[s] = e.nextChain[s];
    }
    const bool rings = ringOut && e.tailL && e.nextTailFrames > 0 && !chainEmpty(e.tailChain);
    e.tailLength = rings ? e.nextTailFrames : 0;
    e.tailRemaining = e.tailLength;
    e.swapBlock.store(e.blockCount.load(std::memory_order_relaxed), std::memory_order_relaxed);
    e.tailActive.store(rings);
    e.swapPending.store(false);
}

// The tail chain's block: silence through the old chain, faded linearly to
// nothing over the tail's last kSwitchFadeSeconds, added to the output. The
// last block of the tail clears `tailActive` after its last use of the chain.
static void runTail(EngineState& e, uint32_t n, bool stereo) {
    float* right = stereo ? e.tailR : nullptr;
    for (uint32_t i = 0; i < n; ++i) e.tailL[i] = 0.0f;
    if (right)
        for (uint32_t i = 0; i < n; ++i) right[i] = 0.0f;
    runChain(e, e.tailChain, e.tailL, right);

    const double rate = e.lastConfiguredRate > 0 ? e.lastConfiguredRate : 44100.0;
    uint32_t fade = static_cast<uint32_t>(kSwitchFadeSeconds * rate);
    if (fade > e.tailLength) fade = e.tailLength;
    const uint32_t remaining = e.tailRemaining;
    for (uint32_t i = 0; i < n; ++i) {
        const uint32_t rest = remaining > i ? remaining - i : 0;
        const float gain = rest >= fade ? 1.0f : static_cast<float>(rest) / static_cast<float>(fade);
        e.outputL[i] += gain * e.tailL[i];
        if (right) e.outputR[i] += gain * right[i];
    }
    e.tailRemaining = remaining > n ? remaining - n : 0;
    if (e.tailRemaining == 0) e.tailActive.store(false);
}

static void runStage(EngineStage& stage, EngineState& e) {
    if (stage.process) stage.process(stage.context, e);
}

static void processInMode(EngineState& e);

void processBlock(EngineState& e) {
    // An unconfigured engine has nothing to work on.
    if (!e.inputL || !e.outputL) return;
    const unsigned threadMode = _mm_getcsr();
    _mm_setcsr(kBlockMxcsr);
    processInMode(e);
    _mm_setcsr(threadMode);
}

static void processInMode(EngineState& e) {
    const uint32_t n = e.blockSize;
    const bool stereo = e.inputR && e.outputR;

    if (e.swapPending.load()) takeSwap(e, true);

    conditionInput(e);

    float peakL = peakOf(e.inputL, n);
    e.inputPeakL.store(peakL, std::memory_order_relaxed);
    e.inputPeakR.store(stereo ? peakOf(e.inputR, n) : peakL, std::memory_order_relaxed);

    copySamples(e.outputL, e.inputL, n);
    if (stereo) copySamples(e.outputR, e.inputR, n);

    runChain(e, e.chain, e.outputL, e.outputR);
    // Only this thread sets the flag while blocks run.
    if (e.tailActive.load(std::memory_order_relaxed)) runTail(e, n, stereo);

    // A gain of exactly 1 changes no sample.
    const float master = e.masterGain.load(std::memory_order_relaxed);
    if (master != 1.0f) {
        scale(e.outputL, n, master);
        if (stereo) scale(e.outputR, n, master);
    }

    const bool dryOnly = e.recordDryOnly.load(std::memory_order_relaxed);
    if (dryOnly) runStage(e.recorder, e);
    runStage(e.accompaniment, e);
    if (!dryOnly) runStage(e.recorder, e);

    if (e.metronomeOn.load(std::memory_order_relaxed)) metronomeProcess(e);

    peakL = clipAndPeak(e.outputL, n);
    e.outputPeakL.store(peakL, std::memory_order_relaxed);
    e.outputPeakR.store(stereo ? clipAndPeak(e.outputR, n) : peakL, std::memory_order_relaxed);
    e.blockCount.store(e.blockCount.load(std::memory_order_relaxed) + 1, std::memory_order_relaxed);
}

// Marking the block busy before testing the enable flag, both sequentially
// consistent, means a UI thread that cleared the flag and then saw the block
// idle can be sure no block is inside the chain or about to enter it.
bool engineBlockBegin(EngineState& e) {
    e.blockInProgress.store(true);
    return e.processingEnabled.load();
}

void engineBlockEnd(EngineState& e) { e.blockInProgress.store(false); }

static void waitForBlockOut(EngineState& e) {
    while (e.blockInProgress.load()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

void engineChainPause(EngineState& e) {
    e.processingEnabled.store(false);
    waitForBlockOut(e);
    if (e.swapPending.load()) takeSwap(e, true);
}

void engineChainResume(EngineState& e) { e.processingEnabled.store(true); }

int32_t engineChainSwapRequest(EngineState& e, const ChainSlot next[kChainSlots], uint32_t tailFrames) {
    if (e.swapPending.load() || e.tailActive.load() || !chainEmpty(e.tailChain)) return kSwapBusy;
    for (int s = 0; s < kChainSlots; ++s) e.nextChain[s] = next[s];
    e.nextTailFrames = tailFrames;
    e.swapPending.store(true);
    return 0;
}

void engineChainSwapSettle(EngineState& e) {
    const bool enabled = e.processingEnabled.exchange(false);
    waitForBlockOut(e);
    if (e.swapPending.load()) takeSwap(e, false);
    e.tailRemaining = 0;
    e.tailActive.store(false);
    e.processingEnabled.store(enabled);
}

bool engineChainSwapDone(const EngineState& e) { return !e.swapPending.load(); }

bool engineChainTailDone(const EngineState& e) { return !e.swapPending.load() && !e.tailActive.load(); }

bool engineChainTailTake(EngineState& e, ChainSlot old[kChainSlots]) {
    if (!engineChainTailDone(e)) return false;
    for (int s = 0; s < kChainSlots; ++s) {
        old[s] = e.tailChain[s];
        e.tailChain[s] = ChainSlot{};
    }
    return true;
}

uint32_t engineTailFrames(uint32_t rate) { return static_cast<uint32_t>(kSwitchTailSeconds * rate); }

void engineMeasureCpu(EngineState& e, uint64_t start, uint64_t end) {
    if (!e.cpuMeterReady.load(std::memory_order_relaxed)) return;
    // Both differences are taken modulo 2^32, as the counter's low word.
    uint32_t period = static_cast<uint32_t>(start - e.cpuPreviousStart);
    uint32_t busy = static_cast<uint32_t>(end - start);
    if (period != 0)
        e.cpuUsagePercent.store(static_cast<float>(100.0 * busy / period), std::memory_order_relaxed);
    e.cpuPreviousStart = start;
}

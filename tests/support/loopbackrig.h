// The loopback through a PulseAudio null sink under Wine: a harness player
// of bursts into the sink, a harness recording of its monitor, a thread
// that keeps looking at both devices' cursors, and a log of live input's
// blocks (through the engine's accompaniment stage), all on one clock. A
// round of the loop found in the recording can then be placed in wall time
// and any stall during it measured: of live input's streaming thread (a
// late block), of the sound system (a cursor that stopped and caught up)
// or of the harness itself. Shared by the device tests and device_timing.
// Windows only.
#pragma once

#include <windows.h>
#include <mmsystem.h>
#include <dsound.h>

#include <atomic>
#include <cstdint>
#include <vector>

#include "devices/directsound.h"
#include "engine/engine.h"
#include "tests/support/devicetiming.h"

// The bursts: 20 ms of 1 kHz at amplitude 0.5, one every train period.
constexpr double kLoopRate = 44100.0;
constexpr double kTrainMs = 2000.0;

class LoopbackRig {
public:
    LoopbackRig() = default;
    ~LoopbackRig() { end(); }
    LoopbackRig(const LoopbackRig&) = delete;
    LoopbackRig& operator=(const LoopbackRig&) = delete;

    // Starts recording `monitor` (room for `seconds`), playing silence into
    // `sink`, looking at the cursors and logging `engine`'s blocks. Before
    // live input starts: a player that joined the sink later would move
    // Wine's mixing while live input runs.
    bool begin(const DsDevice* monitor, const DsDevice* sink, double seconds, EngineState& engine, HWND window);
    // Waits until live input has processed blocks for `settleMs` and the
    // recording moves (the sound system takes its time to start); false
    // when that has not happened within `limitMs`.
    bool waitUntilFlowing(double settleMs, double limitMs);
    // Puts the bursts into what the player plays, the first shortly.
    bool play();
    // Stops everything the rig started and takes its stage out of the engine.
    void end();

    double nowMs() const;
    // What has arrived so far: the recording's left channel, the looks at
    // the cursors, the times of live input's blocks.
    std::vector<float> heard();
    std::vector<CursorSample> cursors() const;
    std::vector<double> blocks() const;
    // Frames the recording holds so far.
    double capturedFrames();

    // Stalls during the stretch from shortly before `from` arrived (the
    // signal was in flight before the recording got it) until `to` had.
    StallMeasure stallAround(double fromFrame, double toFrame, double blockMs) const;

private:
    static DWORD WINAPI lookLoop(void* self);
    static void logBlock(void* context, EngineState& engine);

    EngineState* engine_ = nullptr;
    HWND window_ = nullptr;
    double zero_ = 0.0, ticksPerMs_ = 0.0;

    IDirectSoundCapture* capture_ = nullptr;
    IDirectSoundCaptureBuffer* recording_ = nullptr;
    DWORD recordingBytes_ = 0;

    IDirectSound* playback_ = nullptr;
    IDirectSoundBuffer* player_ = nullptr;
    DWORD playerBytes_ = 0;
    std::atomic<bool> playing_{false};

    bool startPlayer(const DsDevice* sink);

    // Filled by the look thread and the streaming thread; sized at begin.
    std::vector<CursorSample> looks_;
    std::atomic<size_t> lookCount_{0};
    std::vector<double> blocks_;
    std::atomic<size_t> blockCount_{0};
    HANDLE lookThread_ = nullptr;
    std::atomic<bool> looking_{false};
};

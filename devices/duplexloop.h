// The streaming loop of duplex live input, apart from the sound interface
// it runs on: one pass per captured block, converted into the engine,
// processed, and written two blocks further on into the playback ring.
// DirectSound drives it on Windows; tests drive it with their own device.
//
// Runs on the streaming thread. Failures end the loop and set the engine's
// STATUS_PLAYBACK_ERROR or STATUS_CAPTURE_ERROR; nothing is reported here.
#pragma once

#include <atomic>
#include <cstdint>

#include "engine/engine.h"
#include "streamconv/streamconv.h"

// The calls the loop makes on the two ring buffers; each returns false on
// failure. Locks return the first region only (blocks never wrap).
class DuplexDevice {
public:
    virtual bool lockCapture(uint32_t offset, uint32_t bytes, void** region, uint32_t* regionBytes) = 0;
    virtual bool unlockCapture(void* region, uint32_t regionBytes) = 0;
    virtual bool lockPlayback(uint32_t offset, uint32_t bytes, void** region, uint32_t* regionBytes) = 0;
    virtual bool unlockPlayback(void* region, uint32_t regionBytes) = 0;
    // The start sequence: capture looping, then (after the output delay)
    // the primary and the streaming playback buffer looping, then the
    // playback position back to 0.
    virtual bool startCapture() = 0;
    virtual bool startPlayback() = 0;
    virtual bool rewindPlayback() = 0;
    // The playback buffer's status: false when it cannot be read.
    virtual bool playbackStatus(bool& lost) = 0;
    virtual bool restorePlayback() = 0;
    virtual void resetEvents() = 0;
    // Blocks until the capture cursor passes the end of a block (or a stop
    // request signals the same event).
    virtual void waitForCapture() = 0;
    virtual void sleepMs(uint32_t ms) = 0;
    virtual void stopAll() = 0;

protected:
    ~DuplexDevice() = default;
};

struct DuplexSettings {
    StreamFormat format{};
    int32_t buffers = 2;      // blocks per ring
    uint32_t outputDelayMs = 2;
};

// Runs until a stop request or a device failure. The engine must be
// configured for the format with its blockSize.
void duplexRun(DuplexDevice& device, const DuplexSettings& settings, EngineState& engine,
               const std::atomic<bool>& stopRequest);

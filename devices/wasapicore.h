// The WASAPI back-end of live input apart from the platform: opening a
// capture and a render stream in the mode asked for (with its fallbacks),
// and the duplex loop that moves the captured packets through a small
// bounded buffer into the engine and the engine's blocks into the render
// buffer. wasapi_win32.cpp drives it with the platform's audio clients;
// tests drive it with scripted endpoints.
//
// Threads: wasapiOpen runs on the user-interface thread, wasapiRun on the
// streaming thread (it allocates nothing, takes no lock and waits only on
// the endpoints' events).
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

#include "engine/engine.h"
#include "streamconv/streamconv.h"

enum : uint32_t { kWasapiShared = 0, kWasapiSharedLowLatency = 1, kWasapiExclusive = 2 };
constexpr uint32_t kWasapiModeCount = 3;
// "Shared", "Shared, low latency", "Exclusive"; null outside the modes.
const char* wasapiModeName(uint32_t mode);

// Results of the platform's audio clients the core acts on (their values).
constexpr int32_t kAudclntNotInitialized = static_cast<int32_t>(0x88890001u);
constexpr int32_t kAudclntDeviceInvalidated = static_cast<int32_t>(0x88890004u);
constexpr int32_t kAudclntUnsupportedFormat = static_cast<int32_t>(0x88890008u);
constexpr int32_t kAudclntExclusiveNotAllowed = static_cast<int32_t>(0x8889000Eu);
constexpr int32_t kAudclntBufferSizeNotAligned = static_cast<int32_t>(0x88890019u);
constexpr int32_t kNoInterface = static_cast<int32_t>(0x80004002u);
constexpr uint32_t kCaptureSilent = 0x2;         // AUDCLNT_BUFFERFLAGS_SILENT
constexpr uint32_t kCaptureDiscontinuity = 0x1;  // AUDCLNT_BUFFERFLAGS_DATA_DISCONTINUITY

// Format tags the core reads (WAVE_FORMAT_PCM, WAVE_FORMAT_IEEE_FLOAT): an
// endpoint resolves the extensible form to one of these.
constexpr uint16_t kWaveFormatPcm = 1, kWaveFormatFloat = 3;

// The record of an integer PCM format.
StreamFormat pcmFormat(uint32_t rate, uint16_t channels, uint16_t bits);

// One direction of the device, as the core drives it: the calls map one to
// one onto the platform's audio client, capture client and render client.
// Every call returns the platform's result (0 for success).
class WasapiEndpoint {
public:
    // The shared-mode mix format (tag resolved, cbSize 0).
    virtual int32_t mixFormat(StreamFormat& format) = 0;
    // Default and minimum periods of the device, in 100-ns units.
    virtual int32_t devicePeriod(int64_t& defaultPeriod, int64_t& minimumPeriod) = 0;
    // Low-latency shared mode: the engine's periods for `format` in frames
    // (kNoInterface where the platform has no such client).
    virtual int32_t sharedPeriods(const StreamFormat& format, uint32_t& defaultFrames, uint32_t& minimumFrames) = 0;
    // Event-driven initialisation. Shared: `duration` 0 takes the device's
    // period. Exclusive: `duration` is both buffer and period. Low latency:
    // `periodFrames` is the engine period asked for.
    virtual int32_t initialize(uint32_t mode, const StreamFormat& format, int64_t duration, uint32_t periodFrames) = 0;
    // A fresh client after a failed initialisation (the platform's clients
    // take one initialisation each).
    virtual int32_t renew() = 0;
    virtual int32_t bufferFrames(uint32_t& frames) = 0;
    // The stream latency the client reports, in 100-ns units.
    virtual int32_t streamLatency(int64_t& latency) = 0;
    virtual int32_t start() = 0;
    virtual int32_t stop() = 0;
    // Capture.
    virtual int32_t nextPacket(uint32_t& frames) = 0;
    virtual int32_t readPacket(const uint8_t*& data, uint32_t& frames, uint32_t& flags) = 0;
    virtual int32_t releasePacket(uint32_t frames) = 0;
    // Render.
    virtual int32_t padding(uint32_t& frames) = 0;
    virtual int32_t renderBuffer(uint32_t frames, uint8_t*& data) = 0;
    virtual int32_t releaseRender(uint32_t frames, bool silent) = 0;

protected:
    ~WasapiEndpoint() = default;
};

// What the loop waits on: the two endpoints' events and the stop request.
enum class WasapiWake { Capture, Render, Stop, Timeout };
class WasapiEvents {
public:
    virtual WasapiWake wait(uint32_t timeoutMs) = 0;

protected:
    ~WasapiEvents() = default;
};

// Why a mode gave way to the next one (bits of WasapiStream::fallbacks).
enum : uint32_t { kWasapiExclusiveRefused = 1, kWasapiLowLatencyRefused = 2, kWasapiCaptureConverted = 4 };

// Both streams as they were opened.
struct WasapiStream {
    uint32_t mode = kWasapiShared;  // the mode obtained
    uint32_t fallbacks = 0;
    StreamFormat captureFormat{};
    StreamFormat renderFormat{};
    uint32_t rate = 0;
    uint32_t periodFrames = 0;  // the engine's block
    uint32_t captureBufferFrames = 0, renderBufferFrames = 0;
    // What the clients report, plus the buffering the loop adds, in frames.
    uint32_t inputLatencyFrames = 0, outputLatencyFrames = 0;
};

// Result codes of opening (message ids).
constexpr int32_t kWasapiOpenError = 270;      // "The WASAPI device can't be opened"
constexpr int32_t kWasapiFormatError = 271;    // "The WASAPI device refuses every format ..."
constexpr int32_t kWasapiRatesDiffer = 272;    // "The WASAPI input and output devices run at different rates"
constexpr int32_t kWasapiDeviceLost = 273;     // "The sound device was removed ... Live input stopped."
constexpr int32_t kWasapiDeviceFollowed = -274;  // notice: "... goes on with the default device."

// Opens both streams in `mode`, falling back from exclusive to low-latency
// shared to shared. `exclusiveFormat` is the format exclusive mode asks for
// first. On success the endpoints are initialised (not started).
int32_t wasapiOpen(WasapiEndpoint& capture, WasapiEndpoint& render, uint32_t mode, const StreamFormat& exclusiveFormat,
                   WasapiStream& out);

// The text of the fallbacks taken, for the status area ("Exclusive mode
// refused: shared, low latency"); empty when none.
void wasapiFallbackText(const WasapiStream& stream, char* out, size_t size);

// The bounded buffer between capture and render: two channels of floats.
// Its storage is given once (wasapiFifoCapacity frames); the loop never
// lets it hold more than `limit` frames.
struct WasapiFifo {
    float* left = nullptr;
    float* right = nullptr;
    uint32_t capacity = 0;
    uint32_t readAt = 0;
    uint32_t count = 0;
};
// Frames the buffer needs for a stream: room for the largest capture
// packet on top of the most the loop keeps.
uint32_t wasapiFifoCapacity(const WasapiStream& stream);
// The most frames the loop keeps between two render periods before it
// drops the oldest (capture running fast).
uint32_t wasapiFifoLimit(const WasapiStream& stream);

// What the loop counts; read by the user-interface thread.
struct WasapiCounters {
    std::atomic<uint32_t> underruns{0};  // blocks rendered without captured frames behind them
    std::atomic<uint32_t> overruns{0};   // times captured frames were dropped or lost
    std::atomic<uint32_t> highWater{0};  // the most frames the buffer held
    std::atomic<uint32_t> blocks{0};
};

// Runs until a stop request or a device failure: invalidation sets
// STATUS_DEVICE_LOST, any other failure STATUS_CAPTURE_ERROR or
// STATUS_PLAYBACK_ERROR. Starts and stops both endpoints. The engine must
// be configured at stream.rate with blockSize stream.periodFrames.
void wasapiRun(WasapiEndpoint& capture, WasapiEndpoint& render, WasapiEvents& events, const WasapiStream& stream,
               WasapiFifo& fifo, EngineState& engine, WasapiCounters& counters);

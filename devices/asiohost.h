// The ASIO back-end of live input: initialises the loaded driver, creates
// its double buffers for up to two inputs and two outputs, and runs the
// engine from the driver's buffer-switch callback.
//
// Threads: everything here runs on the UI thread except the four callbacks,
// which run on the driver's thread. The callbacks reach the engine only
// through the handshake flags and engineStatus.
#pragma once

#include <cstdint>

#include "devices/asioabi.h"
#include "devices/audiosystem.h"
#include "engine/engine.h"
#include "streamconv/streamconv.h"

// asioStart/asioOpen/asioControlPanel results beside 0.
constexpr int32_t kAsioNoDriverNotice = -187;  // "You must open ASIO driver before live input!"
constexpr int32_t kAsioOpenError = 185;        // "Error opening asio device"
constexpr int32_t kAsioInitError = 186;        // "Can't initialize asio device"
constexpr int32_t kAsioChannelsError = 188;    // "Error starting live input" (and 189..192)
constexpr int32_t kAsioBufferSizeError = 189;
constexpr int32_t kAsioRateError = 190;
constexpr int32_t kAsioSetRateError = 191;
constexpr int32_t kAsioStartError = 192;
constexpr int32_t kAsioPanelError = 193;  // "Unable to open ASIO control panel"

constexpr int kAsioMaxBuffers = 4;

struct AsioHost {
    AsioDriver* driver = nullptr;  // the current driver (set by the loader)
    AsioDriverInfo info{};
    void* systemReference = nullptr;  // the main window
    int32_t inputChannels = 0, outputChannels = 0;
    int32_t minimumSize = 0, maximumSize = 0, preferredSize = 0, granularity = 0;
    int32_t inputLatency = 0, outputLatency = 0;
    double sampleRate = 0.0;
    bool postOutput = false;
    int32_t usedInputs = 0, usedOutputs = 0;
    AsioBufferInfo bufferInfos[kAsioMaxBuffers]{};
    AsioChannelInfo channelInfos[kAsioMaxBuffers]{};
    // Each channel's converter record, worked out when the buffers are
    // created and when the rate changes, not in every callback.
    struct ChannelFormat {
        StreamFormat format{};
        bool bigEndian = false;
        bool supported = false;
    } channelFormats[kAsioMaxBuffers]{};
    AsioCallbacks callbacks{};
    bool running = false;
    EngineState* engine = &gEngine;  // tests run their own
};

extern AsioHost gAsioHost;


// Driver-method wrappers: the current driver's result, or ASE_NotPresent
// (with cleared outputs) when there is none.
AsioError asioDriverStart();
AsioError asioDriverStop();
AsioError asioDriverGetChannels(int32_t* inputs, int32_t* outputs);
AsioError asioDriverGetLatencies(int32_t* input, int32_t* output);
AsioError asioDriverGetBufferSize(int32_t* minimum, int32_t* maximum, int32_t* preferred, int32_t* granularity);
AsioError asioDriverGetSampleRate(AsioSampleRate* rate);
AsioError asioDriverSetSampleRate(AsioSampleRate rate);
AsioError asioDriverGetSamplePosition(AsioSamples* position, AsioTimeStamp* time);
AsioError asioDriverGetChannelInfo(AsioChannelInfo* info);
AsioError asioDriverCreateBuffers(AsioBufferInfo* infos, int32_t count, int32_t size, AsioCallbacks* callbacks);
AsioError asioDriverDisposeBuffers();
AsioError asioDriverControlPanel();
AsioError asioDriverOutputReady();

// The driver's init with the name, version and error text it reports.
AsioError asioInitialise(AsioDriverInfo& info);

// Loads and initialises the named driver ("<none>" or empty: no driver).
int32_t asioOpen(const char* name);
int32_t asioStart();
int32_t asioStop();
int32_t asioControlPanel();

// The format record the converter gets for one channel of a sample type;
// false for types the program does not convert. `bigEndian` tells which of
// the converter's two entries takes it.
bool asioChannelFormat(AsioSampleType type, uint32_t rate, StreamFormat& format, bool& bigEndian);

// The callbacks handed to the driver.
void asioBufferSwitch(int32_t index, AsioBool directProcess);
void asioSampleRateChanged(AsioSampleRate rate);
int32_t asioMessage(int32_t selector, int32_t value, void* message, double* opt);
AsioTime* asioBufferSwitchTimeInfo(AsioTime* time, int32_t index, AsioBool directProcess);

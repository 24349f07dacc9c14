#include "devices/asiohost.h"

#include <cmath>
#include <cstdio>
#include <cstring>

#include "devices/asioloader.h"
#include "platform/platform.h"
#include "streamconv/binding.h"

AsioHost gAsioHost;
uint32_t gAudioSystem = kAudioSystemAsio;

namespace {

AsioHost& host() { return gAsioHost; }
AsioDriver* driver() { return gAsioHost.driver; }

// Rates a driver may report that the engine can run at.
bool usableRate(double rate) { return rate > 0.0 && rate <= 1000000.0; }

uint32_t engineRate() { return usableRate(host().sampleRate) ? static_cast<uint32_t>(host().sampleRate) : 0; }

bool engineStereo() { return host().usedOutputs == 2; }

void setStatus(uint32_t bit) { host().engine->engineStatus.fetch_or(bit); }

// Converts one channel of the driver's buffer half to or from an engine
// buffer. Returns false when it could not (unsupported type, no buffer).
bool convertChannel(int info, int32_t index, float* engineBuffer, uint32_t toDevice) {
    AsioHost& h = host();
    const AsioHost::ChannelFormat& channel = h.channelFormats[info];
    if (!channel.supported) return false;
    void* data = h.bufferInfos[info].buffers[index];
    ProcessStreamFn convert = channel.bigEndian ? gConverter.processMsb : gConverter.process;
    if (!data || !convert) return false;
    const uint32_t frames = static_cast<uint32_t>(h.preferredSize);
    return convert(&channel.format, data, engineBuffer, nullptr, frames, frames, toDevice) != 0;
}

// The converter records of the used channels at the current rate.
void prepareChannelFormats() {
    AsioHost& h = host();
    for (int i = 0; i < h.usedInputs + h.usedOutputs; ++i) {
        AsioHost::ChannelFormat& c = h.channelFormats[i];
        c.supported = asioChannelFormat(h.channelInfos[i].type, engineRate(), c.format, c.bigEndian);
    }
}

}  // namespace

// ---- driver-method wrappers ----

AsioError asioDriverStart() { return driver() ? driver()->start() : ASE_NotPresent; }
AsioError asioDriverStop() { return driver() ? driver()->stop() : ASE_NotPresent; }

AsioError asioDriverGetChannels(int32_t* inputs, int32_t* outputs) {
    if (!driver()) {
        *inputs = *outputs = 0;
        return ASE_NotPresent;
    }
    return driver()->getChannels(inputs, outputs);
}

AsioError asioDriverGetLatencies(int32_t* input, int32_t* output) {
    if (!driver()) {
        *input = *output = 0;
        return ASE_NotPresent;
    }
    return driver()->getLatencies(input, output);
}

AsioError asioDriverGetBufferSize(int32_t* minimum, int32_t* maximum, int32_t* preferred, int32_t* granularity) {
    if (!driver()) {
        *minimum = *maximum = *preferred = *granularity = 0;
        return ASE_NotPresent;
    }
    return driver()->getBufferSize(minimum, maximum, preferred, granularity);
}

AsioError asioDriverGetSampleRate(AsioSampleRate* rate) {
    return driver() ? driver()->getSampleRate(rate) : ASE_NotPresent;
}
AsioError asioDriverSetSampleRate(AsioSampleRate rate) {
    return driver() ? driver()->setSampleRate(rate) : ASE_NotPresent;
}
AsioError asioDriverGetSamplePosition(AsioSamples* position, AsioTimeStamp* time) {
    return driver() ? driver()->getSamplePosition(position, time) : ASE_NotPresent;
}

AsioError asioDriverGetChannelInfo(AsioChannelInfo* info) {
    if (!driver()) {
        info->channelGroup = -1;
        info->type = 0;
        std::snprintf(info->name, sizeof info->name, "None");
        return ASE_NotPresent;
    }
    return driver()->getChannelInfo(info);
}

AsioError asioDriverCreateBuffers(AsioBufferInfo* infos, int32_t count, int32_t size, AsioCallbacks* callbacks) {
    if (!driver()) {
        for (int32_t i = 0; i < count; ++i) infos[i].buffers[0] = infos[i].buffers[1] = nullptr;
        return ASE_NotPresent;
    }
    return driver()->createBuffers(infos, count, size, callbacks);
}

AsioError asioDriverDisposeBuffers() { return driver() ? driver()->disposeBuffers() : ASE_NotPresent; }
AsioError asioDriverControlPanel() { return driver() ? driver()->controlPanel() : ASE_NotPresent; }
AsioError asioDriverOutputReady() { return driver() ? driver()->outputReady() : ASE_NotPresent; }

AsioError asioInitialise(AsioDriverInfo& info) {
    info.driverVersion = 0;
    std::snprintf(info.name, sizeof info.name, "No ASIO Driver");
    if (!driver()) return ASE_NotPresent;
    // Drivers write texts of their own length: give them room, keep what fits.
    char text[512] = "";
    if (driver()->init(info.sysRef)) {
        std::snprintf(info.errorMessage, sizeof info.errorMessage, "No ASIO Driver Error");
        driver()->getDriverName(text);
        text[sizeof text - 1] = '\0';
        std::snprintf(info.name, sizeof info.name, "%s", text);
        info.driverVersion = driver()->getDriverVersion();
        return ASE_OK;
    }
    driver()->getErrorMessage(text);
    text[sizeof text - 1] = '\0';
    std::snprintf(info.errorMessage, sizeof info.errorMessage, "%s", text);
    gAsioHost.driver = nullptr;  // not released: the loader owns it
    return ASE_NotPresent;
}

// ---- open, start, stop ----

int32_t asioOpen(const char* name) {
    AsioHost& h = host();
    asioRemoveCurrentDriver(gAsioLoader);
    h.driver = nullptr;
    if (!name || !name[0] || std::strcmp(name, "<none>") == 0) return 0;
    if (!asioLoadDriver(gAsioLoader, name)) return kAsioOpenError;
    h.info = AsioDriverInfo{};
    h.info.asioVersion = 2;
    h.info.sysRef = h.systemReference;
    if (asioInitialise(h.info) != ASE_OK) return kAsioInitError;
    gAudioSystem = kAudioSystemAsio;
    h.info = AsioDriverInfo{};
    h.inputChannels = h.outputChannels = 0;
    h.minimumSize = h.maximumSize = h.preferredSize = h.granularity = 0;
    h.sampleRate = 0.0;
    for (AsioBufferInfo& b : h.bufferInfos) b = AsioBufferInfo{};
    for (AsioChannelInfo& c : h.channelInfos) c = AsioChannelInfo{};
    for (AsioHost::ChannelFormat& f : h.channelFormats) f = AsioHost::ChannelFormat{};
    return 0;
}

namespace {

// Creates the double buffers of the used channels and learns their types.
AsioError createBuffers() {
    AsioHost& h = host();
    h.usedInputs = h.inputChannels < 0 ? 0 : (h.inputChannels > 2 ? 2 : h.inputChannels);
    h.usedOutputs = h.outputChannels < 0 ? 0 : (h.outputChannels > 2 ? 2 : h.outputChannels);
    int n = 0;
    for (int i = 0; i < h.usedInputs; ++i, ++n) h.bufferInfos[n] = AsioBufferInfo{1, i, {nullptr, nullptr}};
    for (int j = 0; j < h.usedOutputs; ++j, ++n) h.bufferInfos[n] = AsioBufferInfo{0, j, {nullptr, nullptr}};
    AsioError result = asioDriverCreateBuffers(h.bufferInfos, n, h.preferredSize, &h.callbacks);
    if (result != ASE_OK) return result;
    for (int i = 0; i < n; ++i) {
        h.channelInfos[i] = AsioChannelInfo{};
        h.channelInfos[i].channel = h.bufferInfos[i].channelNum;
        h.channelInfos[i].isInput = h.bufferInfos[i].isInput;
        result = asioDriverGetChannelInfo(&h.channelInfos[i]);
        if (result != ASE_OK) break;
    }
    if (result == ASE_OK) result = asioDriverGetLatencies(&h.inputLatency, &h.outputLatency);
    // Buffers of a failed start are given back, so the next start can create them.
    if (result != ASE_OK) asioDriverDisposeBuffers();
    return result;
}

}  // namespace

int32_t asioStart() {
    AsioHost& h = host();
    if (h.running) return 0;
    if (asioCurrentIndex(gAsioLoader) < 0) return kAsioNoDriverNotice;
    if (asioDriverGetChannels(&h.inputChannels, &h.outputChannels) != ASE_OK) return kAsioChannelsError;
    if (asioDriverGetBufferSize(&h.minimumSize, &h.maximumSize, &h.preferredSize, &h.granularity) != ASE_OK ||
        h.preferredSize <= 0)
        return kAsioBufferSizeError;
    if (asioDriverGetSampleRate(&h.sampleRate) != ASE_OK) return kAsioRateError;
    if (!(h.sampleRate > 0.0) || h.sampleRate > 96000.0) {
        if (asioDriverSetSampleRate(44100.0) != ASE_OK) return kAsioSetRateError;
        if (asioDriverGetSampleRate(&h.sampleRate) != ASE_OK) return kAsioStartError;
    }
    h.postOutput = asioDriverOutputReady() == ASE_OK;
    // The driver may keep the callbacks' address or copy them at creation.
    h.callbacks.bufferSwitch = asioBufferSwitch;
    h.callbacks.sampleRateDidChange = asioSampleRateChanged;
    h.callbacks.asioMessage = asioMessage;
    h.callbacks.bufferSwitchTimeInfo = asioBufferSwitchTimeInfo;
    if (createBuffers() != ASE_OK) return kAsioStartError;
    prepareChannelFormats();
    h.engine->blockSize = static_cast<uint32_t>(h.preferredSize);
    // The engine is configured here, on the UI thread, before the driver
    // runs: its rate and size are the driver's from now until the next
    // restart (a change the driver announces asks for one).
    h.sampleRate = static_cast<float>(h.sampleRate);
    if (!usableRate(h.sampleRate)) h.sampleRate = 0.0;
    prepareChannelFormats();
    h.engine->lastConfiguredRate = -1;
    const int32_t configured = engineConfigure(*h.engine, engineRate(), engineStereo());
    if (configured > kConfigureUnchanged) {
        asioDriverDisposeBuffers();
        return configured;
    }
    if (asioDriverStart() != ASE_OK) {
        asioDriverDisposeBuffers();
        return kAsioStartError;
    }
    h.running = true;
    return 0;
}

int32_t asioStop() {
    AsioHost& h = host();
    EngineState& e = *h.engine;
    // No callback may be inside a block when the buffers go.
    engineChainPause(e);
    asioDriverStop();
    asioDriverDisposeBuffers();
    e.blockSize = 0;
    engineConfigure(e, 0, false);
    h.running = false;
    return 0;
}

int32_t asioControlPanel() { return asioDriverControlPanel() != ASE_OK ? kAsioPanelError : 0; }

// ---- channel formats ----

bool asioChannelFormat(AsioSampleType type, uint32_t rate, StreamFormat& format, bool& bigEndian) {
    struct Row {
        AsioSampleType type;
        uint16_t tag, bytes, bits;
        bool bigEndian;
    };
    static const Row rows[] = {
        {ASIOSTInt16MSB, kFormatPcm, 2, 16, true},        {ASIOSTInt24MSB, kFormatPcm, 3, 24, true},
        {ASIOSTInt32MSB, kFormatPcm, 4, 32, true},        {ASIOSTFloat32MSB, kFormatIeeeFloat, 4, 32, true},
        {ASIOSTFloat64MSB, kFormatIeeeFloat, 8, 64, true}, {ASIOSTInt32MSB16, kFormatPcm, 4, 16, true},
        {ASIOSTInt32MSB18, kFormatPcm, 4, 18, true},      {ASIOSTInt32MSB20, kFormatPcm, 4, 20, true},
        {ASIOSTInt32MSB24, kFormatPcm, 4, 24, true},      {ASIOSTInt16LSB, kFormatPcm, 2, 16, false},
        {ASIOSTInt24LSB, kFormatPcm, 3, 24, false},       {ASIOSTInt32LSB, kFormatPcm, 4, 32, false},
        {ASIOSTFloat32LSB, kFormatIeeeFloat, 4, 32, false}, {ASIOSTFloat64LSB, kFormatIeeeFloat, 8, 64, false},
        {ASIOSTInt32LSB16, kFormatPcm, 4, 16, false},     {ASIOSTInt32LSB18, kFormatPcm, 4, 18, false},
        {ASIOSTInt32LSB20, kFormatPcm, 4, 20, false},     {ASIOSTInt32LSB24, kFormatPcm, 4, 24, false},
    };
    for (const Row& row : rows) {
        if (row.type != type) continue;
        format = StreamFormat{};
        format.wFormatTag = row.tag;
        format.nChannels = 1;
        format.nSamplesPerSec = rate;
        format.nBlockAlign = row.bytes;
        format.nAvgBytesPerSec = rate * row.bytes;
        format.wBitsPerSample = row.bits;
        bigEndian = row.bigEndian;
        return true;
    }
    return false;
}

// ---- the callbacks (the driver's thread) ----

void asioBufferSwitch(int32_t index, AsioBool directProcess) {
    AsioTime time{};
    if (asioDriverGetSamplePosition(&time.timeInfo.samplePosition, &time.timeInfo.systemTime) == ASE_OK)
        time.timeInfo.flags = kAsioSystemTimeValid | kAsioSamplePositionValid;
    asioBufferSwitchTimeInfo(&time, index, directProcess);
}

// A new rate from the driver: nothing is reconfigured on the driver's
// thread. The UI thread's refresh timer restarts live input, and the start
// reads the new rate (a take that is recording goes on across it).
void asioSampleRateChanged(AsioSampleRate rate) {
    AsioHost& h = host();
    if (static_cast<float>(rate) == h.sampleRate) return;
    // A rate no engine can run at is damage from the driver: keep the old one.
    if (!usableRate(rate)) return;
    setStatus(STATUS_RESTART_REQUEST);
}

int32_t asioMessage(int32_t selector, int32_t value, void*, double*) {
    switch (selector) {
        case kAsioSelectorSupported:
            return (value == kAsioEngineVersion || value == kAsioResetRequest || value == kAsioResyncRequest ||
                    value == kAsioLatenciesChanged || value == kAsioSupportsTimeInfo ||
                    value == kAsioSupportsTimeCode || value == kAsioMMCCommand)
                       ? 1
                       : 0;
        case kAsioEngineVersion:
            return 2;
        case kAsioResetRequest:
        case kAsioResyncRequest:
            setStatus(STATUS_RESTART_REQUEST);
            return 1;
        case kAsioBufferSizeChange:
            // Taken up by a restart, as a reset request is: the start asks
            // the driver for its buffer size again.
            if (value > 0 && value != host().preferredSize) setStatus(STATUS_RESTART_REQUEST);
            return 1;
        case kAsioLatenciesChanged:
        case kAsioSupportsTimeInfo:
            return 1;
        default:
            return 0;
    }
}

AsioTime* asioBufferSwitchTimeInfo(AsioTime*, int32_t index, AsioBool) {
    AsioHost& h = host();
    EngineState& e = *h.engine;
    uint64_t start = 0;
    platformReadCounter(start);
    // The half index comes from the driver: anything but 0 or 1 is no block.
    const bool validHalf = index == 0 || index == 1;
    if (engineBlockBegin(e) && validHalf && e.inputL && gConverter.setHistory) {
        gConverter.setHistory(kSlotInputDevice);
        for (int i = 0; i < h.usedInputs; ++i) {
            float* target = i == 0 ? e.inputL : e.inputR;
            // A mono engine has no right input: that channel is not needed.
            if (!target) continue;
            if (!convertChannel(i, index, target, 0)) setStatus(STATUS_INPUT_FORMAT_ERROR);
        }
        // A single input feeds both sides of a stereo engine.
        if (h.usedInputs == 1 && e.inputR && !convertChannel(0, index, e.inputR, 0))
            setStatus(STATUS_INPUT_FORMAT_ERROR);
        processBlock(e);
        gConverter.setHistory(kSlotOutputDevice);
        for (int j = 0; j < h.usedOutputs; ++j) {
            float* source = j == 0 ? e.outputL : e.outputR;
            if (!source || !convertChannel(h.usedInputs + j, index, source, 1)) setStatus(STATUS_OUTPUT_FORMAT_ERROR);
        }
    }
    engineBlockEnd(e);
    if (h.postOutput) asioDriverOutputReady();
    uint64_t end = 0;
    platformReadCounter(end);
    engineMeasureCpu(e, start, end);
    return nullptr;
}

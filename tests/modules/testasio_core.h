// A test ASIO driver's behaviour, shared by the native fake (whose buffer
// switches the test calls itself) and the Windows COM driver (whose own
// thread calls them at the real period). Tests choose channel counts,
// sample types, rate, buffer sizes, failing calls and requests; the driver
// feeds a known signal into every input and decodes what the host writes
// into every output.
#pragma once

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <vector>

#include "devices/asioabi.h"

// Calls a test can make fail (bits of TestAsioConfig::failing).
enum : uint32_t {
    kFailInit = 1 << 0,
    kFailGetChannels = 1 << 1,
    kFailGetBufferSize = 1 << 2,
    kFailGetSampleRate = 1 << 3,
    kFailSetSampleRate = 1 << 4,
    kFailCreateBuffers = 1 << 5,
    kFailGetChannelInfo = 1 << 6,
    kFailGetLatencies = 1 << 7,
    kFailStart = 1 << 8,
    kFailControlPanel = 1 << 9,
    kFailOutputReady = 1 << 10,  // "not supported"
    kFailSamplePosition = 1 << 11,
};

struct TestAsioConfig {
    int32_t inputs = 2, outputs = 2;
    AsioSampleType inputType = ASIOSTInt16LSB, outputType = ASIOSTInt16LSB;
    double rate = 48000.0;
    int32_t minimumSize = 32, maximumSize = 2048, preferredSize = 256, granularity = -1;
    uint32_t failing = 0;
    // A message the driver sends before switch number `messageAtSwitch`
    // (-1: none).
    // A buffer-size change message also makes `messageValue` the size the
    // driver prefers from then on, as a driver whose panel changed it does.
    int64_t messageAtSwitch = -1;
    int32_t messageSelector = 0, messageValue = 0;
    // Before switch number `rateChangeAtSwitch` (-1: never) the driver's
    // clock moves to `changedRate` and it tells the host.
    int64_t rateChangeAtSwitch = -1;
    double changedRate = 0.0;
    // Time the driver's outputReady takes, in microseconds.
    int32_t outputReadyMicros = 0;
    // Use the time-info callback when the host says it supports it.
    bool preferTimeInfo = true;
    char name[32] = "Quorvane Test Driver";
};

// What the driver saw; written by the driver, read by tests.
struct TestAsioRecord {
    int64_t switches = 0;
    int64_t lateSwitches = 0;      // callbacks that ended after the next period began
    int64_t firstLateSwitch = -1;
    int64_t lastLateSwitch = -1;
    double worstCallbackMicros = 0.0;  // the whole switch, the driver's own work included
    double worstHostMicros = 0.0;      // the host's callback alone
    int32_t createdBuffers = 0;    // channels of the last createBuffers
    int32_t createdSize = 0;
    AsioBufferInfo created[8]{};
    int32_t disposeCalls = 0, startCalls = 0, stopCalls = 0, outputReadyCalls = 0;
    double setRate = 0.0;          // last setSampleRate
    int32_t messageAnswer = -12345;
    bool usedTimeInfo = false;
};

// The signal every input carries: a deterministic pattern over the
// absolute frame number, different per channel, within +-0.97.
inline double testAsioInput(int64_t frame, int channel) {
    return 0.97 * std::sin(0.01 * static_cast<double>(frame) * (1.0 + 0.37 * channel) + channel);
}

inline int testAsioBytes(AsioSampleType type) {
    switch (type) {
        case ASIOSTInt16MSB:
        case ASIOSTInt16LSB:
            return 2;
        case ASIOSTInt24MSB:
        case ASIOSTInt24LSB:
            return 3;
        case ASIOSTFloat64MSB:
        case ASIOSTFloat64LSB:
            return 8;
        default:
            return 4;
    }
}

inline bool testAsioBigEndian(AsioSampleType type) { return type < 16; }

// Bits of the integer sample in its container (0 for floats).
inline int testAsioBits(AsioSampleType type) {
    switch (type & 15) {
        case 0: return 16;
        case 1: return 24;
        case 2: return 32;
        case 8: return 16;
        case 9: return 18;
        case 10: return 20;
        case 11: return 24;
        default: return 0;
    }
}

inline bool testAsioFloat(AsioSampleType type) { return (type & 15) == 3 || (type & 15) == 4; }

// Writes `value` as one sample of `type` (full scale 2^(bits-1), clamped).
inline void testAsioEncode(AsioSampleType type, double value, uint8_t* out) {
    const int bytes = testAsioBytes(type);
    uint8_t le[8] = {};
    if (testAsioFloat(type)) {
        if (bytes == 4) {
            const float f = static_cast<float>(value);
            std::memcpy(le, &f, 4);
        } else {
            std::memcpy(le, &value, 8);
        }
    } else if (const int bits = testAsioBits(type); bits > 0) {
        const double scale = std::ldexp(1.0, bits - 1);
        double v = std::floor(value * scale);
        if (v > scale - 1) v = scale - 1;
        if (v < -scale) v = -scale;
        const int64_t i = static_cast<int64_t>(v);
        for (int b = 0; b < bytes; ++b) le[b] = static_cast<uint8_t>(static_cast<uint64_t>(i) >> (8 * b));
    }
    for (int b = 0; b < bytes; ++b) out[b] = testAsioBigEndian(type) ? le[bytes - 1 - b] : le[b];
}

inline double testAsioDecode(AsioSampleType type, const uint8_t* in) {
    const int bytes = testAsioBytes(type);
    uint8_t le[8] = {};
    for (int b = 0; b < bytes; ++b) le[b] = testAsioBigEndian(type) ? in[bytes - 1 - b] : in[b];
    if (testAsioFloat(type)) {
        if (bytes == 4) {
            float f;
            std::memcpy(&f, le, 4);
            return f;
        }
        double d;
        std::memcpy(&d, le, 8);
        return d;
    }
    const int bits = testAsioBits(type);
    if (bits == 0) return 0.0;  // a type no driver uses
    uint64_t u = 0;
    for (int b = 0; b < bytes; ++b) u |= static_cast<uint64_t>(le[b]) << (8 * b);
    // Right-aligned: sign-extend from the sample's own width.
    const int64_t i = static_cast<int64_t>(u << (64 - bits)) >> (64 - bits);
    return std::ldexp(static_cast<double>(i), -(bits - 1));
}

class TestAsioCore {
public:
    TestAsioConfig config;
    TestAsioRecord record;
    // Decoded outputs, per output channel, in frame order.
    std::vector<double> captured[8];
    size_t captureLimit = 1 << 19;

    AsioBool init(void*) { return (config.failing & kFailInit) ? 0 : 1; }
    void getDriverName(char* name) { std::snprintf(name, 32, "%s", config.name); }
    int32_t getDriverVersion() { return 7; }
    void getErrorMessage(char* text) { std::snprintf(text, 124, "%s", "The test driver refused"); }
    AsioError start() {
        ++record.startCalls;
        return (config.failing & kFailStart) ? ASE_HWMalfunction : ASE_OK;
    }
    AsioError stop() {
        ++record.stopCalls;
        return ASE_OK;
    }
    AsioError getChannels(int32_t* inputs, int32_t* outputs) {
        if (config.failing & kFailGetChannels) return ASE_NotPresent;
        *inputs = config.inputs;
        *outputs = config.outputs;
        return ASE_OK;
    }
    AsioError getLatencies(int32_t* input, int32_t* output) {
        if (config.failing & kFailGetLatencies) return ASE_NotPresent;
        *input = *output = config.preferredSize;
        return ASE_OK;
    }
    AsioError getBufferSize(int32_t* minimum, int32_t* maximum, int32_t* preferred, int32_t* granularity) {
        if (config.failing & kFailGetBufferSize) return ASE_NotPresent;
        *minimum = config.minimumSize;
        *maximum = config.maximumSize;
        *preferred = config.preferredSize;
        *granularity = config.granularity;
        return ASE_OK;
    }
    AsioError canSampleRate(AsioSampleRate) { return ASE_OK; }
    AsioError getSampleRate(AsioSampleRate* rate) {
        if (config.failing & kFailGetSampleRate) return ASE_NoClock;
        *rate = config.rate;
        return ASE_OK;
    }
    AsioError setSampleRate(AsioSampleRate rate) {
        record.setRate = rate;
        if (config.failing & kFailSetSampleRate) return ASE_NoClock;
        config.rate = rate;
        return ASE_OK;
    }
    AsioError getClockSources(AsioClockSource*, int32_t* count) {
        *count = 0;
        return ASE_OK;
    }
    AsioError setClockSource(int32_t) { return ASE_OK; }
    AsioError getSamplePosition(AsioSamples* position, AsioTimeStamp* time) {
        if (config.failing & kFailSamplePosition) return ASE_SPNotAdvancing;
        const uint64_t frames = static_cast<uint64_t>(record.switches) * static_cast<uint64_t>(config.preferredSize);
        position->hi = static_cast<uint32_t>(frames >> 32);
        position->lo = static_cast<uint32_t>(frames);
        time->hi = time->lo = 0;
        return ASE_OK;
    }
    AsioError getChannelInfo(AsioChannelInfo* info) {
        if (config.failing & kFailGetChannelInfo) return ASE_InvalidParameter;
        const int32_t count = info->isInput ? config.inputs : config.outputs;
        if (info->channel < 0 || info->channel >= count) return ASE_InvalidParameter;
        info->isActive = 1;
        info->channelGroup = 0;
        info->type = info->isInput ? config.inputType : config.outputType;
        std::snprintf(info->name, sizeof info->name, "%s %d", info->isInput ? "In" : "Out", info->channel + 1);
        return ASE_OK;
    }
    AsioError createBuffers(AsioBufferInfo* infos, int32_t count, int32_t size, AsioCallbacks* callbacks) {
        if (config.failing & kFailCreateBuffers) return ASE_InvalidMode;
        if (count < 0 || count > 8 || size <= 0) return ASE_InvalidParameter;
        releaseBuffers();
        for (int32_t i = 0; i < count; ++i) {
            const AsioSampleType type = infos[i].isInput ? config.inputType : config.outputType;
            const size_t bytes = static_cast<size_t>(size) * static_cast<size_t>(testAsioBytes(type));
            for (int half = 0; half < 2; ++half) {
                storage_[i][half].assign(bytes, 0);
                infos[i].buffers[half] = storage_[i][half].data();
            }
            record.created[i] = infos[i];
        }
        record.createdBuffers = count;
        record.createdSize = size;
        callbacks_ = callbacks;
        frames_ = size;
        // Room for the whole capture now: growing it inside a switch would
        // make the driver itself miss periods.
        int outputs = 0;
        for (int32_t i = 0; i < count; ++i) outputs += infos[i].isInput ? 0 : 1;
        for (int c = 0; c < 8; ++c) {
            captured[c].clear();
            if (c < outputs) captured[c].reserve(captureLimit);
        }
        if (callbacks->asioMessage) {
            const bool timeInfo = callbacks->asioMessage(kAsioSelectorSupported, kAsioSupportsTimeInfo, nullptr,
                                                         nullptr) == 1 &&
                                  callbacks->asioMessage(kAsioSupportsTimeInfo, 0, nullptr, nullptr) == 1;
            useTimeInfo_ = config.preferTimeInfo && timeInfo;
        }
        return ASE_OK;
    }
    AsioError disposeBuffers() {
        ++record.disposeCalls;
        releaseBuffers();
        return ASE_OK;
    }
    AsioError controlPanel() { return (config.failing & kFailControlPanel) ? ASE_NotPresent : ASE_OK; }
    AsioError future(int32_t, void*) { return ASE_InvalidParameter; }
    AsioError outputReady() {
        if (config.failing & kFailOutputReady) return ASE_NotPresent;
        ++record.outputReadyCalls;
        if (config.outputReadyMicros > 0) spinMicros(config.outputReadyMicros);
        return ASE_OK;
    }

    // One buffer switch: fills the inputs of the half the host gets, calls
    // it, then decodes what it wrote. Returns false when no buffers exist.
    bool bufferSwitch() {
        if (!callbacks_ || frames_ <= 0) return false;
        if (record.switches == config.messageAtSwitch) {
            if (config.messageSelector == kAsioBufferSizeChange) config.preferredSize = config.messageValue;
            record.messageAnswer = callbacks_->asioMessage(config.messageSelector, config.messageValue, nullptr, nullptr);
        }
        if (record.switches == config.rateChangeAtSwitch && callbacks_->sampleRateDidChange) {
            config.rate = config.changedRate;
            callbacks_->sampleRateDidChange(config.changedRate);
        }
        const int half = static_cast<int>(record.switches & 1);
        const int64_t first = record.switches * frames_;
        int inputIndex = 0;
        for (int i = 0; i < record.createdBuffers; ++i) {
            if (!record.created[i].isInput) continue;
            const int bytes = testAsioBytes(config.inputType);
            for (int32_t f = 0; f < frames_; ++f)
                testAsioEncode(config.inputType, testAsioInput(first + f, inputIndex),
                               &storage_[i][half][static_cast<size_t>(f) * bytes]);
            ++inputIndex;
        }
        const auto began = std::chrono::steady_clock::now();
        if (useTimeInfo_ && callbacks_->bufferSwitchTimeInfo) {
            AsioTime time{};
            time.timeInfo.flags = kAsioSamplePositionValid;
            callbacks_->bufferSwitchTimeInfo(&time, half, 0);
            record.usedTimeInfo = true;
        } else {
            callbacks_->bufferSwitch(half, 0);
        }
        const double host = std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - began).count();
        if (host > record.worstHostMicros) record.worstHostMicros = host;
        int outputIndex = 0;
        for (int i = 0; i < record.createdBuffers; ++i) {
            if (record.created[i].isInput) continue;
            const int bytes = testAsioBytes(config.outputType);
            std::vector<double>& out = captured[outputIndex++];
            for (int32_t f = 0; f < frames_ && out.size() < captureLimit; ++f)
                out.push_back(testAsioDecode(config.outputType, &storage_[i][half][static_cast<size_t>(f) * bytes]));
        }
        ++record.switches;
        return true;
    }

    static void spinMicros(int micros);

private:
    void releaseBuffers() {
        for (auto& channel : storage_)
            for (auto& half : channel) half.clear();
        record.createdBuffers = 0;
        callbacks_ = nullptr;
        frames_ = 0;
    }

    std::vector<uint8_t> storage_[8][2];
    AsioCallbacks* callbacks_ = nullptr;
    int32_t frames_ = 0;
    bool useTimeInfo_ = false;
};

inline void TestAsioCore::spinMicros(int micros) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::microseconds(micros);
    while (std::chrono::steady_clock::now() < end) {
    }
}

// Scripted WASAPI endpoints on a simulated clock, for the streaming core's
// tests: each side answers the opening calls as told, and while running
// moves on a clock that delivers capture packets and render periods in
// time order, at rates that may drift apart.
#pragma once

#include <cmath>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "devices/wasapicore.h"

namespace wasapiscript {

StreamFormat floatFormat(uint32_t rate, uint16_t channels) {
    StreamFormat f{};
    f.wFormatTag = kWaveFormatFloat;
    f.nChannels = channels;
    f.nSamplesPerSec = rate;
    f.wBitsPerSample = 32;
    f.nBlockAlign = static_cast<uint16_t>(4 * channels);
    f.nAvgBytesPerSec = rate * f.nBlockAlign;
    return f;
}

// The sample the capture side delivers at frame n: exact in a float, so
// the output can be compared bit for bit.
float captured(uint64_t n, int channel) {
    return static_cast<float>(static_cast<int>((n * 7 + channel * 3) % 2048) - 1024) / 2048.0f;
}

// One direction of a device: it answers the opening calls as scripted, and
// while running it moves on the simulated clock (Clock below).
class ScriptedEndpoint final : public WasapiEndpoint {
public:
    explicit ScriptedEndpoint(bool isCapture) : capture(isCapture) {}

    bool capture;
    StreamFormat mix = floatFormat(48000, 2);
    int64_t defaultPeriod = 100000, minimumPeriod = 30000;  // 10 ms, 3 ms
    bool haveLowLatency = true;
    uint32_t lowLatencyMinimum = 144;
    int32_t exclusiveResult = 0;      // what an exclusive initialisation answers
    uint32_t alignedFrames = 0;       // non-zero: the first exclusive answer is "not aligned", with this size
    bool refuseOtherRates = false;    // shared initialisation refuses a rate other than the mix format's
    bool refuseFormats = false;       // shared initialisation refuses every format
    std::vector<std::string> calls;
    bool log = true;  // off where nothing may be allocated while running

    // Running state.
    uint32_t buffer = 0;
    uint32_t period = 0;
    StreamFormat format{};
    uint32_t queued = 0;            // render: frames waiting to be played
    uint32_t pendingPackets = 0;    // capture: packets waiting
    uint64_t producedFrames = 0;    // capture: frames delivered so far
    std::vector<uint8_t> packet;
    int32_t failWith = 0;           // non-zero: every running call answers this
    std::vector<float> played;      // render: the left channel as it was played (non-silent blocks)
    uint64_t silentFrames = 0;
    std::vector<uint8_t> renderScratch;
    bool initialised = false;

    int32_t mixFormat(StreamFormat& f) override {
        f = mix;
        return 0;
    }
    int32_t devicePeriod(int64_t& d, int64_t& m) override {
        d = defaultPeriod;
        m = minimumPeriod;
        return 0;
    }
    int32_t sharedPeriods(const StreamFormat&, uint32_t& d, uint32_t& m) override {
        if (!haveLowLatency) return kNoInterface;
        d = 480;
        m = lowLatencyMinimum;
        return 0;
    }
    int32_t initialize(uint32_t mode, const StreamFormat& f, int64_t duration, uint32_t periodFrames) override {
        calls.push_back("initialize " + std::string(wasapiModeName(mode)) + " " + std::to_string(f.nSamplesPerSec) +
                        " " + std::to_string(duration) + " " + std::to_string(periodFrames));
        if (initialised) return static_cast<int32_t>(0x88890002u);  // already initialised
        if (mode == kWasapiExclusive) {
            if (exclusiveResult != 0) return exclusiveResult;
            if (alignedFrames && duration != static_cast<int64_t>(std::llround(1e7 * alignedFrames / f.nSamplesPerSec))) {
                buffer = alignedFrames;
                return kAudclntBufferSizeNotAligned;
            }
            period = static_cast<uint32_t>(std::llround(duration * f.nSamplesPerSec / 1e7));
            buffer = period;
        } else if (mode == kWasapiSharedLowLatency) {
            period = periodFrames;
            buffer = 2 * periodFrames;
        } else {
            if (refuseFormats) return kAudclntUnsupportedFormat;
            if (refuseOtherRates && f.nSamplesPerSec != mix.nSamplesPerSec) return kAudclntUnsupportedFormat;
            period = static_cast<uint32_t>(std::llround(defaultPeriod * f.nSamplesPerSec / 1e7));
            buffer = 2 * period + 32;
        }
        format = f;
        initialised = true;
        packet.assign(static_cast<size_t>(period) * f.nBlockAlign, 0);
        renderScratch.assign(static_cast<size_t>(buffer) * f.nBlockAlign, 0);
        return 0;
    }
    int32_t renew() override {
        calls.push_back("renew");
        initialised = false;
        return 0;
    }
    int32_t bufferFrames(uint32_t& frames) override {
        frames = buffer;
        return 0;
    }
    int32_t streamLatency(int64_t& latency) override {
        latency = 0;
        return 0;
    }
    int32_t start() override {
        if (log) calls.push_back("start");
        return failWith;
    }
    int32_t stop() override {
        if (log) calls.push_back("stop");
        return 0;
    }
    int32_t nextPacket(uint32_t& frames) override {
        frames = pendingPackets ? period : 0;
        return failWith;
    }
    int32_t readPacket(const uint8_t*& data, uint32_t& frames, uint32_t& flags) override {
        if (failWith) return failWith;
        frames = period;
        flags = 0;
        const bool pcm = format.wFormatTag == kWaveFormatPcm;
        for (uint32_t i = 0; i < period; ++i)
            for (int c = 0; c < format.nChannels && c < 2; ++c) {
                const float v = captured(producedFrames + i, c);
                uint8_t* at = &packet[i * format.nBlockAlign + c * format.wBitsPerSample / 8];
                if (pcm) {
                    const int16_t x = static_cast<int16_t>(v * 32768.0f);
                    std::memcpy(at, &x, 2);
                } else {
                    std::memcpy(at, &v, 4);
                }
            }
        data = packet.data();
        return 0;
    }
    int32_t releasePacket(uint32_t frames) override {
        producedFrames += frames;
        --pendingPackets;
        return failWith;
    }
    int32_t padding(uint32_t& frames) override {
        frames = queued;
        return failWith;
    }
    int32_t renderBuffer(uint32_t frames, uint8_t*& data) override {
        if (failWith) return failWith;
        if (queued + frames > buffer) return static_cast<int32_t>(0x88890006u);  // buffer too large
        data = renderScratch.data();
        return 0;
    }
    int32_t releaseRender(uint32_t frames, bool silent) override {
        if (silent) {
            silentFrames += frames;
            played.insert(played.end(), frames, std::nanf(""));
        } else {
            for (uint32_t i = 0; i < frames; ++i) {
                float v = 0.0f;
                if (format.wFormatTag == kWaveFormatPcm) {
                    int16_t x = 0;
                    std::memcpy(&x, &renderScratch[i * format.nBlockAlign], 2);
                    v = static_cast<float>(x) / 32768.0f;
                } else {
                    std::memcpy(&v, &renderScratch[i * format.nBlockAlign], 4);
                }
                played.push_back(v);
            }
        }
        queued += frames;
        return failWith;
    }
};

// The simulated clock: capture packets arrive every capture period at the
// capture side's real rate, the render side consumes a period at each of
// its events; both events are delivered in time order.
class Clock final : public WasapiEvents {
public:
    Clock(ScriptedEndpoint& c, ScriptedEndpoint& r, double captureRate, double renderRate, double seconds)
        : c_(c), r_(r), captureRate_(captureRate), renderRate_(renderRate), end_(seconds) {}

    int events = 0;
    int loseDeviceAt = -1;  // the event at which both sides start failing as invalidated

    WasapiWake wait(uint32_t) override {
        if (++events == loseDeviceAt) c_.failWith = r_.failWith = kAudclntDeviceInvalidated;
        const double nextCapture = (captures_ + 1) * c_.period / captureRate_;
        const double nextRender = (renders_ + 1) * r_.period / renderRate_;
        const double t = nextCapture <= nextRender ? nextCapture : nextRender;
        if (t > end_) return WasapiWake::Stop;
        // A tie goes to the capture side.
        if (nextCapture <= nextRender) {
            ++captures_;
            ++c_.pendingPackets;
            return WasapiWake::Capture;
        }
        ++renders_;
        r_.queued -= r_.queued < r_.period ? r_.queued : r_.period;
        return WasapiWake::Render;
    }

private:
    ScriptedEndpoint& c_;
    ScriptedEndpoint& r_;
    double captureRate_, renderRate_, end_;
    uint64_t captures_ = 0, renders_ = 0;
};

}  // namespace wasapiscript

#include "devices/wasapicore.h"

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "platform/platform.h"
#include "streamconv/binding.h"

namespace {

constexpr double kHundredNs = 10000000.0;

uint32_t framesOf(int64_t duration, uint32_t rate) {
    return static_cast<uint32_t>(std::llround(static_cast<double>(duration) * rate / kHundredNs));
}
int64_t durationOf(uint32_t frames, uint32_t rate) {
    return rate ? static_cast<int64_t>(std::llround(kHundredNs * frames / rate)) : 0;
}

// A format the loop can carry: PCM of 8 to 32 bits or 32-bit float, one or
// more channels, a block alignment that matches, a rate in the engine's range.
bool usable(const StreamFormat& f) {
    if (f.nChannels == 0 || f.nChannels > 32 || f.nSamplesPerSec < 8000 || f.nSamplesPerSec > 384000) return false;
    if (f.wFormatTag == kWaveFormatFloat) return f.wBitsPerSample == 32 && f.nBlockAlign == 4u * f.nChannels;
    if (f.wFormatTag != kWaveFormatPcm) return false;
    const uint16_t bits = f.wBitsPerSample;
    return (bits == 8 || bits == 16 || bits == 24 || bits == 32) && f.nBlockAlign == bits / 8u * f.nChannels &&
           f.nChannels <= 2;
}

// Exclusive initialisation at the device's minimum period, once more at the
// aligned size when the first one says the size is not aligned.
int32_t initExclusive(WasapiEndpoint& e, const StreamFormat& f, uint32_t& periodFrames) {
    int64_t defaultPeriod = 0, minimumPeriod = 0;
    int32_t rc = e.devicePeriod(defaultPeriod, minimumPeriod);
    if (rc != 0) return rc;
    int64_t duration = minimumPeriod > 0 ? minimumPeriod : defaultPeriod;
    if (duration <= 0) return kWasapiOpenError;
    rc = e.initialize(kWasapiExclusive, f, duration, 0);
    if (rc == kAudclntBufferSizeNotAligned) {
        uint32_t frames = 0;
        rc = e.bufferFrames(frames);
        if (rc == 0 && frames == 0) rc = kWasapiOpenError;
        if (rc == 0) rc = e.renew();
        if (rc == 0) {
            duration = durationOf(frames, f.nSamplesPerSec);
            rc = e.initialize(kWasapiExclusive, f, duration, 0);
        }
    }
    if (rc == 0) periodFrames = framesOf(duration, f.nSamplesPerSec);
    return rc;
}

int32_t openExclusive(WasapiEndpoint& capture, WasapiEndpoint& render, const StreamFormat& asked, WasapiStream& out) {
    StreamFormat mix{};
    const bool haveMix = render.mixFormat(mix) == 0;
    const StreamFormat candidates[] = {asked, pcmFormat(haveMix ? mix.nSamplesPerSec : asked.nSamplesPerSec, 2, 24),
                                       pcmFormat(haveMix ? mix.nSamplesPerSec : asked.nSamplesPerSec, 2, 16)};
    int32_t rc = kAudclntUnsupportedFormat;
    for (const StreamFormat& f : candidates) {
        if (!usable(f)) continue;
        uint32_t period = 0, capturePeriod = 0;
        rc = initExclusive(render, f, period);
        if (rc == 0) rc = initExclusive(capture, f, capturePeriod);
        if (rc == 0) {
            out.captureFormat = out.renderFormat = f;
            out.periodFrames = period;
            return 0;
        }
        render.renew();
        capture.renew();
        // Only a refused format is worth another format.
        if (rc != kAudclntUnsupportedFormat) break;
    }
    return rc;
}

int32_t openLowLatency(WasapiEndpoint& capture, WasapiEndpoint& render, WasapiStream& out) {
    StreamFormat f{}, cf{};
    int32_t rc = render.mixFormat(f);
    if (rc == 0) rc = capture.mixFormat(cf);
    if (rc != 0) return rc;
    if (!usable(f) || !usable(cf)) return kAudclntUnsupportedFormat;
    if (cf.nSamplesPerSec != f.nSamplesPerSec) return kWasapiRatesDiffer;
    uint32_t defaultFrames = 0, minimumFrames = 0, captureDefault = 0, captureMinimum = 0;
    rc = render.sharedPeriods(f, defaultFrames, minimumFrames);
    if (rc == 0) rc = capture.sharedPeriods(cf, captureDefault, captureMinimum);
    if (rc == 0 && (minimumFrames == 0 || captureMinimum == 0)) rc = kWasapiOpenError;
    if (rc == 0) rc = render.initialize(kWasapiSharedLowLatency, f, 0, minimumFrames);
    if (rc == 0) rc = capture.initialize(kWasapiSharedLowLatency, cf, 0, captureMinimum);
    if (rc != 0) {
        render.renew();
        capture.renew();
        return rc;
    }
    out.renderFormat = f;
    out.captureFormat = cf;
    out.periodFrames = minimumFrames;
    return 0;
}

int32_t openShared(WasapiEndpoint& capture, WasapiEndpoint& render, WasapiStream& out) {
    StreamFormat f{}, cf{};
    int32_t rc = render.mixFormat(f);
    if (rc == 0) rc = capture.mixFormat(cf);
    if (rc != 0) return rc;
    if (!usable(f)) return kWasapiFormatError;
    int64_t defaultPeriod = 0, minimumPeriod = 0;
    rc = render.devicePeriod(defaultPeriod, minimumPeriod);
    if (rc != 0) return rc;
    if (defaultPeriod <= 0) return kWasapiOpenError;
    rc = render.initialize(kWasapiShared, f, 0, 0);
    if (rc != 0) {
        render.renew();
        return rc == kAudclntUnsupportedFormat ? kWasapiFormatError : rc;
    }
    if (!usable(cf) || cf.nSamplesPerSec != f.nSamplesPerSec) {
        // The capture side at the render rate, converted by the platform.
        StreamFormat converted = cf;
        if (!usable(converted)) converted = f;
        converted.nSamplesPerSec = f.nSamplesPerSec;
        converted.nAvgBytesPerSec = converted.nSamplesPerSec * converted.nBlockAlign;
        rc = capture.initialize(kWasapiShared, converted, 0, 0);
        if (rc != 0) {
            render.renew();
            capture.renew();
            return usable(cf) ? kWasapiRatesDiffer : kWasapiFormatError;
        }
        cf = converted;
        out.fallbacks |= kWasapiCaptureConverted;
    } else {
        rc = capture.initialize(kWasapiShared, cf, 0, 0);
        if (rc != 0) {
            render.renew();
            capture.renew();
            return rc == kAudclntUnsupportedFormat ? kWasapiFormatError : rc;
        }
    }
    out.renderFormat = f;
    out.captureFormat = cf;
    out.periodFrames = framesOf(defaultPeriod, f.nSamplesPerSec);
    return 0;
}

// Copies frames out of the bounded buffer (which never wraps more than once).
void fifoPop(WasapiFifo& q, float* left, float* right, uint32_t frames) {
    const uint32_t first = q.capacity - q.readAt < frames ? q.capacity - q.readAt : frames;
    std::memcpy(left, q.left + q.readAt, first * sizeof(float));
    std::memcpy(left + first, q.left, (frames - first) * sizeof(float));
    if (right) {
        std::memcpy(right, q.right + q.readAt, first * sizeof(float));
        std::memcpy(right + first, q.right, (frames - first) * sizeof(float));
    }
    q.readAt = (q.readAt + frames) % q.capacity;
    q.count -= frames;
}

void fifoDrop(WasapiFifo& q, uint32_t frames) {
    q.readAt = (q.readAt + frames) % q.capacity;
    q.count -= frames;
}

// Appends `frames` captured frames of format `f` (null data: silence).
// Converts straight into the buffer, in at most two runs.
void fifoPush(WasapiFifo& q, const StreamFormat& f, const uint8_t* data, uint32_t frames) {
    uint32_t writeAt = (q.readAt + q.count) % q.capacity;
    uint32_t done = 0;
    while (done < frames) {
        const uint32_t room = q.capacity - writeAt;
        const uint32_t run = frames - done < room ? frames - done : room;
        float* l = q.left + writeAt;
        float* r = q.right + writeAt;
        if (!data) {
            std::memset(l, 0, run * sizeof(float));
            std::memset(r, 0, run * sizeof(float));
        } else if (f.wFormatTag == kWaveFormatFloat) {
            const uint32_t channels = f.nChannels;
            const uint8_t* p = data + static_cast<size_t>(done) * f.nBlockAlign;
            for (uint32_t i = 0; i < run; ++i, p += f.nBlockAlign) {
                float a = 0.0f, b = 0.0f;
                std::memcpy(&a, p, sizeof a);
                if (channels > 1) std::memcpy(&b, p + 4, sizeof b);
                else b = a;
                l[i] = std::isfinite(a) ? a : 0.0f;
                r[i] = std::isfinite(b) ? b : 0.0f;
            }
        } else {
            gConverter.setHistory(kSlotInputDevice);
            gConverter.process(&f, const_cast<uint8_t*>(data + static_cast<size_t>(done) * f.nBlockAlign), l, r, run,
                               run, 0);
            if (f.nChannels == 1) std::memcpy(r, l, run * sizeof(float));
        }
        done += run;
        writeAt = (writeAt + run) % q.capacity;
    }
    q.count += frames;
}

// Writes one engine block into the render buffer in the render format.
void renderBlock(const StreamFormat& f, uint8_t* data, const float* left, const float* right, uint32_t frames) {
    if (f.wFormatTag == kWaveFormatFloat) {
        const uint32_t channels = f.nChannels;
        for (uint32_t i = 0; i < frames; ++i) {
            uint8_t* p = data + static_cast<size_t>(i) * f.nBlockAlign;
            std::memset(p, 0, f.nBlockAlign);
            std::memcpy(p, &left[i], sizeof(float));
            if (channels > 1) std::memcpy(p + 4, right ? &right[i] : &left[i], sizeof(float));
        }
        return;
    }
    gConverter.setHistory(kSlotOutputDevice);
    gConverter.process(&f, data, const_cast<float*>(left), const_cast<float*>(right), frames, frames, 1);
}

constexpr uint32_t kDeviceErrors = STATUS_PLAYBACK_ERROR | STATUS_CAPTURE_ERROR | STATUS_DEVICE_LOST;

void fail(EngineState& e, int32_t rc, uint32_t bit) {
    e.engineStatus.fetch_or(rc == kAudclntDeviceInvalidated ? STATUS_DEVICE_LOST : bit);
}

// Takes every packet the capture client holds into the buffer, dropping the
// oldest frames when it would hold more than the limit. Drops count as
// over-runs once the stream has settled (`counting`): the backlog a capture
// side starts with is dropped silently.
bool drainCapture(WasapiEndpoint& capture, const WasapiStream& s, WasapiFifo& q, uint32_t limit, EngineState& e,
                  WasapiCounters& c, bool counting) {
    for (int guard = 0; guard < 64; ++guard) {
        uint32_t waiting = 0;
        int32_t rc = capture.nextPacket(waiting);
        if (rc != 0) return fail(e, rc, STATUS_CAPTURE_ERROR), false;
        if (waiting == 0) return true;
        const uint8_t* data = nullptr;
        uint32_t frames = 0, flags = 0;
        rc = capture.readPacket(data, frames, flags);
        if (rc != 0) return fail(e, rc, STATUS_CAPTURE_ERROR), false;
        // A packet larger than the buffer can ever take keeps only its end.
        uint32_t skip = 0;
        if (frames > q.capacity) {
            skip = frames - q.capacity;
            if (counting) c.overruns.fetch_add(1, std::memory_order_relaxed);
        }
        const uint32_t take = frames - skip;
        if (q.count + take > q.capacity) fifoDrop(q, q.count + take - q.capacity);
        if ((flags & kCaptureDiscontinuity) && counting) c.overruns.fetch_add(1, std::memory_order_relaxed);
        fifoPush(q, s.captureFormat,
                 (flags & kCaptureSilent) || !data ? nullptr : data + static_cast<size_t>(skip) * s.captureFormat.nBlockAlign,
                 take);
        rc = capture.releasePacket(frames);
        if (rc != 0) return fail(e, rc, STATUS_CAPTURE_ERROR), false;
        // Capture running ahead of render: the oldest frames go, back to
        // one block under the limit.
        if (q.count > limit) {
            fifoDrop(q, q.count - (limit - s.periodFrames));
            if (counting) c.overruns.fetch_add(1, std::memory_order_relaxed);
        }
        if (q.count > c.highWater.load(std::memory_order_relaxed))
            c.highWater.store(q.count, std::memory_order_relaxed);
    }
    return true;
}

// Fills the render buffer up to `ahead` frames (two periods at first, more
// after an under-run): one engine block per period, from captured frames
// when there are enough. Without them, the
// device is given a silent period only when it holds less than a period
// (an under-run once capture has begun: before, the capture side is still
// starting); otherwise the captured period is awaited.
constexpr uint32_t kSettlingWindows = 2;

// What the loop keeps between passes.
struct LoopState {
    uint32_t ahead = 0;        // frames the render side is kept ahead
    bool captured = false;     // the capture side has delivered
    bool played = false;       // captured frames have been played
    uint32_t window = 0;       // render periods in the current settling window
    uint32_t settled = 0;      // settling windows done
    uint32_t minimumSpare = UINT32_MAX;
};

// While the stream settles (its first two seconds of played frames): what
// the buffer held beyond the block that was taken, at its lowest over a
// second, was never needed (a capture side's start-up backlog) and is only
// delay; it is dropped at the end of each window.
void settle(const WasapiStream& s, WasapiFifo& q, LoopState& l) {
    if (!l.played || l.settled >= kSettlingWindows) return;
    if (q.count < l.minimumSpare) l.minimumSpare = q.count;
    const uint32_t periodsPerSecond = s.rate / s.periodFrames;
    if (++l.window < (periodsPerSecond > 10 ? periodsPerSecond : 10)) return;
    if (l.minimumSpare != UINT32_MAX && l.minimumSpare > 0 && l.minimumSpare <= q.count) fifoDrop(q, l.minimumSpare);
    l.window = 0;
    l.minimumSpare = UINT32_MAX;
    ++l.settled;
}

bool serveRender(WasapiEndpoint& render, const WasapiStream& s, WasapiFifo& q, EngineState& e, WasapiCounters& c,
                 LoopState& l) {
    const uint32_t block = s.periodFrames;
    uint32_t& ahead = l.ahead;
    const bool captured = l.captured;
    for (int guard = 0; guard < 8; ++guard) {
        uint32_t queued = 0;
        int32_t rc = render.padding(queued);
        if (rc != 0) return fail(e, rc, STATUS_PLAYBACK_ERROR), false;
        if (queued + block > ahead || queued + block > s.renderBufferFrames) return true;
        if (q.count < block && queued >= block) return true;  // the device has a period; the capture comes
        uint64_t start = 0, end = 0;
        platformReadCounter(start);
        uint8_t* data = nullptr;
        rc = render.renderBuffer(block, data);
        if (rc != 0) return fail(e, rc, STATUS_PLAYBACK_ERROR), false;
        bool silent = true;
        if (q.count >= block) {
            fifoPop(q, e.inputL, e.inputR, block);
            l.played = true;
            settle(s, q, l);
            if (engineBlockBegin(e)) {
                processBlock(e);
                renderBlock(s.renderFormat, data, e.outputL, e.outputR, block);
                silent = false;
            }
            engineBlockEnd(e);
        } else if (captured) {
            c.underruns.fetch_add(1, std::memory_order_relaxed);
            // A device that takes its periods unevenly is kept a period
            // further ahead, as far as its buffer goes.
            if (ahead + block <= s.renderBufferFrames) ahead += block;
        }
        rc = render.releaseRender(block, silent);
        if (rc != 0) return fail(e, rc, STATUS_PLAYBACK_ERROR), false;
        c.blocks.fetch_add(1, std::memory_order_relaxed);
        platformReadCounter(end);
        engineMeasureCpu(e, start, end);
    }
    return true;
}

}  // namespace

StreamFormat pcmFormat(uint32_t rate, uint16_t channels, uint16_t bits) {
    StreamFormat f{};
    f.wFormatTag = kWaveFormatPcm;
    f.nChannels = channels;
    f.nSamplesPerSec = rate;
    f.wBitsPerSample = bits;
    f.nBlockAlign = static_cast<uint16_t>(channels * bits / 8);
    f.nAvgBytesPerSec = rate * f.nBlockAlign;
    return f;
}

const char* wasapiModeName(uint32_t mode) {
    switch (mode) {
        case kWasapiShared: return "Shared";
        case kWasapiSharedLowLatency: return "Shared, low latency";
        case kWasapiExclusive: return "Exclusive";
    }
    return nullptr;
}

int32_t wasapiOpen(WasapiEndpoint& capture, WasapiEndpoint& render, uint32_t mode, const StreamFormat& exclusiveFormat,
                   WasapiStream& out) {
    out = WasapiStream{};
    int32_t rc = -1;
    if (mode == kWasapiExclusive) {
        rc = openExclusive(capture, render, exclusiveFormat, out);
        if (rc == 0) out.mode = kWasapiExclusive;
        else out.fallbacks |= kWasapiExclusiveRefused;
    }
    if (rc != 0 && mode >= kWasapiSharedLowLatency && mode < kWasapiModeCount) {
        rc = openLowLatency(capture, render, out);
        if (rc == 0) out.mode = kWasapiSharedLowLatency;
        else out.fallbacks |= kWasapiLowLatencyRefused;
    }
    if (rc != 0) {
        rc = openShared(capture, render, out);
        if (rc == 0) out.mode = kWasapiShared;
    }
    if (rc == kAudclntDeviceInvalidated) return kWasapiDeviceLost;
    if (rc != 0) return rc > 0 ? rc : kWasapiOpenError;
    out.rate = out.renderFormat.nSamplesPerSec;
    if (out.periodFrames == 0 || out.periodFrames > 16384 || out.captureFormat.nSamplesPerSec != out.rate) {
        render.renew();
        capture.renew();
        return kWasapiOpenError;
    }
    if (render.bufferFrames(out.renderBufferFrames) != 0 || capture.bufferFrames(out.captureBufferFrames) != 0 ||
        out.renderBufferFrames < out.periodFrames) {
        render.renew();
        capture.renew();
        return kWasapiOpenError;
    }
    int64_t inputLatency = 0, outputLatency = 0;
    capture.streamLatency(inputLatency);
    render.streamLatency(outputLatency);
    // Beside the clients' own figures: a captured packet waits up to one
    // period for the render event, and the loop keeps up to two periods
    // queued ahead of the device (one in exclusive mode, whose buffer is a period).
    out.inputLatencyFrames = framesOf(inputLatency > 0 ? inputLatency : 0, out.rate) + out.periodFrames;
    out.outputLatencyFrames = framesOf(outputLatency > 0 ? outputLatency : 0, out.rate) +
                              (out.mode == kWasapiExclusive ? out.renderBufferFrames : 2 * out.periodFrames);
    return 0;
}

void wasapiFallbackText(const WasapiStream& s, char* out, size_t size) {
    if (!out || size == 0) return;
    out[0] = '\0';
    if (s.fallbacks & kWasapiExclusiveRefused)
        std::snprintf(out, size, "Exclusive mode refused: %s", s.mode == kWasapiShared ? "shared" : "shared, low latency");
    else if (s.fallbacks & kWasapiLowLatencyRefused)
        std::snprintf(out, size, "Low-latency shared mode refused: shared");
}

uint32_t wasapiFifoLimit(const WasapiStream& s) {
    // Three render periods, or a capture period and a render period when
    // the capture side delivers larger packets.
    const uint32_t capturePeriod = s.captureBufferFrames > s.periodFrames ? s.captureBufferFrames : s.periodFrames;
    const uint32_t byRender = 3 * s.periodFrames;
    const uint32_t byCapture = capturePeriod + 2 * s.periodFrames;
    return byRender > byCapture ? byRender : byCapture;
}

uint32_t wasapiFifoCapacity(const WasapiStream& s) {
    const uint32_t packet = s.captureBufferFrames > s.periodFrames ? s.captureBufferFrames : s.periodFrames;
    return wasapiFifoLimit(s) + packet;
}

void wasapiRun(WasapiEndpoint& capture, WasapiEndpoint& render, WasapiEvents& events, const WasapiStream& s,
               WasapiFifo& q, EngineState& e, WasapiCounters& c) {
    q.readAt = q.count = 0;
    const uint32_t limit = wasapiFifoLimit(s);
    const bool exclusive = s.mode == kWasapiExclusive;
    LoopState l;
    l.ahead = exclusive ? s.renderBufferFrames : 2 * s.periodFrames;
    bool ready = q.capacity >= wasapiFifoCapacity(s) && q.left && q.right && e.blockSize == s.periodFrames;
    if (!ready) e.engineStatus.fetch_or(STATUS_PLAYBACK_ERROR);
    gConverter.setHistory(kSlotOutputDevice);
    float unused = 0.0f;
    gConverter.process(nullptr, nullptr, &unused, nullptr, 0, 0, 0);
    gConverter.setHistory(kSlotInputDevice);
    gConverter.process(nullptr, nullptr, &unused, nullptr, 0, 0, 0);

    // One period of silence before the start: the device has something to
    // play while the first packet is captured.
    if (ready) {
        uint8_t* data = nullptr;
        const uint32_t prefill = exclusive ? s.renderBufferFrames : s.periodFrames;
        int32_t rc = render.renderBuffer(prefill, data);
        if (rc == 0) rc = render.releaseRender(prefill, true);
        if (rc != 0) fail(e, rc, STATUS_PLAYBACK_ERROR), ready = false;
    }
    platformReadCounter(e.cpuPreviousStart);
    if (ready) {
        int32_t rc = capture.start();
        if (rc != 0) fail(e, rc, STATUS_CAPTURE_ERROR), ready = false;
    }
    if (ready) {
        int32_t rc = render.start();
        if (rc != 0) fail(e, rc, STATUS_PLAYBACK_ERROR), ready = false;
    }
    // A device that stops signalling is a lost device: two seconds without
    // an event while running.
    uint32_t silentWaits = 0;
    while (ready && !(e.engineStatus.load() & kDeviceErrors)) {
        const WasapiWake wake = events.wait(200);
        if (wake == WasapiWake::Stop) break;
        if (wake == WasapiWake::Timeout) {
            if (++silentWaits >= 10) {
                e.engineStatus.fetch_or(STATUS_DEVICE_LOST);
                break;
            }
            continue;
        }
        silentWaits = 0;
        // Whichever event woke the loop, both sides are looked at: the
        // capture side first, so a render period finds the newest frames.
        if (!drainCapture(capture, s, q, limit, e, c, l.played && l.settled >= kSettlingWindows)) break;
        l.captured = l.captured || q.count > 0;
        if (wake == WasapiWake::Render || exclusive || q.count >= s.periodFrames) {
            if (!serveRender(render, s, q, e, c, l)) break;
        }
    }
    render.stop();
    capture.stop();
}

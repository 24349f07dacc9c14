#include "devices/duplexloop.h"

#include <cstring>

#include "platform/platform.h"
#include "streamconv/binding.h"

namespace {

void resetConverterHistories() {
    float unused = 0.0f;
    gConverter.setHistory(kSlotOutputDevice);
    gConverter.process(nullptr, nullptr, &unused, nullptr, 0, 0, 0);
    gConverter.setHistory(kSlotInputDevice);
    gConverter.process(nullptr, nullptr, &unused, nullptr, 0, 0, 0);
}

// A lost playback buffer is restored while it stays lost (10 ms apart);
// false when its status cannot be read or it cannot be restored.
bool keepPlaybackAlive(DuplexDevice& device) {
    bool lost = false;
    if (!device.playbackStatus(lost)) return false;
    while (lost) {
        if (!device.restorePlayback() || !device.playbackStatus(lost)) return false;
        if (lost) device.sleepMs(10);
    }
    return true;
}

uint32_t framesIn(uint32_t bytes, uint32_t align, uint32_t limit) {
    const uint32_t frames = bytes / align;
    return frames < limit ? frames : limit;
}

}  // namespace

void duplexRun(DuplexDevice& device, const DuplexSettings& settings, EngineState& e,
               const std::atomic<bool>& stopRequest) {
    const StreamFormat& format = settings.format;
    const uint32_t align = format.nBlockAlign;
    const uint32_t blockFrames = e.blockSize;
    const uint32_t blockBytes = blockFrames * align;
    const uint32_t ringBytes = blockBytes * static_cast<uint32_t>(settings.buffers);
    uint32_t readAt = ringBytes - blockBytes;  // the last block: the first pass runs on silence
    uint32_t writeAt = blockBytes;             // two blocks after the block being played

    bool ready = align > 0 && blockBytes > 0;
    void* region = nullptr;
    uint32_t regionBytes = 0;
    if (ready && device.lockPlayback(0, blockBytes, &region, &regionBytes)) {
        std::memset(region, 0, regionBytes);
        ready = device.unlockPlayback(region, regionBytes);
    } else {
        ready = false;
    }
    resetConverterHistories();
    device.resetEvents();
    platformReadCounter(e.cpuPreviousStart);
    ready = ready && device.startCapture();
    if (ready) device.sleepMs(settings.outputDelayMs);
    ready = ready && device.startPlayback() && device.rewindPlayback();

    constexpr uint32_t kDeviceErrors = STATUS_PLAYBACK_ERROR | STATUS_CAPTURE_ERROR;
    while (ready && !stopRequest.load() && !(e.engineStatus.load() & kDeviceErrors)) {
        uint64_t start = 0;
        platformReadCounter(start);
        if (!keepPlaybackAlive(device)) {
            e.engineStatus.fetch_or(STATUS_PLAYBACK_ERROR);
            break;
        }
        void* captured = nullptr;
        uint32_t capturedBytes = 0;
        if (!device.lockCapture(readAt, blockBytes, &captured, &capturedBytes)) {
            e.engineStatus.fetch_or(STATUS_CAPTURE_ERROR);
            break;
        }
        void* played = nullptr;
        uint32_t playedBytes = 0;
        if (!device.lockPlayback(writeAt, blockBytes, &played, &playedBytes)) {
            device.unlockCapture(captured, capturedBytes);
            e.engineStatus.fetch_or(STATUS_PLAYBACK_ERROR);
            break;
        }
        if (engineBlockBegin(e)) {
            uint32_t frames = framesIn(capturedBytes, align, blockFrames);
            gConverter.setHistory(kSlotInputDevice);
            gConverter.process(&format, captured, e.inputL, e.inputR, frames, frames, 0);
            processBlock(e);
            frames = framesIn(playedBytes, align, blockFrames);
            gConverter.setHistory(kSlotOutputDevice);
            gConverter.process(&format, played, e.outputL, e.outputR, frames, frames, 1);
        }
        engineBlockEnd(e);
        if (!device.unlockPlayback(played, playedBytes)) {
            device.unlockCapture(captured, capturedBytes);
            e.engineStatus.fetch_or(STATUS_PLAYBACK_ERROR);
            break;
        }
        if (!device.unlockCapture(captured, capturedBytes)) {
            e.engineStatus.fetch_or(STATUS_CAPTURE_ERROR);
            break;
        }
        readAt = (readAt + blockBytes) % ringBytes;
        writeAt = (writeAt + blockBytes) % ringBytes;
        uint64_t end = 0;
        platformReadCounter(end);
        engineMeasureCpu(e, start, end);
        device.waitForCapture();
    }
    device.stopAll();
}

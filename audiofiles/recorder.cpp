// The WAV recorder.
#include "audiofiles/recorder.h"

#include <cstdlib>
#include <cstring>

#include "common/bytes.h"
#include "streamconv/binding.h"

Recorder gRecorder;

namespace {

constexpr uint32_t kRates[4] = {32000, 44100, 48000, 96000};
constexpr uint32_t kStopBits = STATUS_RECORD_WRITE_ERROR | STATUS_RECORD_FULL;

Recorder& r() { return gRecorder; }

int limitIndex(int index) { return index < 0 ? 0 : (index >= kRecordFormats ? kRecordFormats - 1 : index); }

// The 44-byte PCM header with the given data size.
bool writeHeader(PlatformFile file, const StreamFormat& f, uint32_t dataBytes) {
    uint8_t h[44];
    std::memcpy(h, "RIFF", 4);
    putU32(h + 4, dataBytes ? dataBytes + 36 : 0);
    std::memcpy(h + 8, "WAVEfmt ", 8);
    putU32(h + 16, 16);
    putU16(h + 20, 1);
    putU16(h + 22, f.nChannels);
    putU32(h + 24, f.nSamplesPerSec);
    putU32(h + 28, f.nAvgBytesPerSec);
    putU16(h + 32, f.nBlockAlign);
    putU16(h + 34, f.wBitsPerSample);
    std::memcpy(h + 36, "data", 4);
    putU32(h + 40, dataBytes);
    return platformFileWrite(file, h, 44) == 44;
}

// Both sizes at the end of a recording.
bool writeSizes(PlatformFile file, uint32_t dataBytes) {
    uint8_t word[4];
    putU32(word, dataBytes + 36);
    bool ok = platformFileSeek(file, 4) == 4 && platformFileWrite(file, word, 4) == 4;
    putU32(word, dataBytes);
    return ok && platformFileSeek(file, 40) == 40 && platformFileWrite(file, word, 4) == 4;
}

void closeAndDelete() {
    platformFileClose(r().file);
    r().file = nullptr;
    platformDeleteFile(r().target);
}

void releasePool() {
    std::free(r().pool);
    r().pool = nullptr;
    r().poolSize = 0;
}

void abandonStart() {
    if (r().file) closeAndDelete();
    r().recording = false;
    if (r().stopAccompanimentPlaying) r().stopAccompanimentPlaying();
    releasePool();
    r().framesRecorded = 0;
}

bool sameFile(const char* a, const char* b) {
#if defined(_WIN32)
    return _stricmp(a, b) == 0;
#else
    return std::strcmp(a, b) == 0;
#endif
}

// ---- engine hooks ----

void releaseBuffer(void*) {
    std::free(r().buffer);
    r().buffer = nullptr;
    r().bufferCapacity = 0;
}

void resetCount(void*) { r().framesRecorded = 0; }

int32_t setupRun(void*, const EngineState& engine, uint32_t rate) {
    if (!r().recording.load() || rate == 0) return 0;
    r().engineRate = rate;
    r().blockSize = engine.blockSize;
    r().carry = 0;
    const uint64_t frames = (static_cast<uint64_t>(engine.blockSize) * r().format.nSamplesPerSec + rate - 1) / rate;
    const uint64_t bytes = frames * r().format.nBlockAlign;
    if (bytes > 0x7FFFFFFF) return kRecordNoMemory;
    r().buffer = static_cast<uint8_t*>(std::malloc(bytes ? bytes : 1));
    if (!r().buffer) return kRecordNoMemory;
    r().bufferCapacity = static_cast<uint32_t>(bytes);
    return 0;
}

// Audio thread: one block of the output into the file or the pool. Frames
// per block carry their fraction, so a recording at another rate than the
// engine's keeps time over any length.
void feed(void*, EngineState& e) {
    Recorder& s = r();
    if (!s.recording.load() || !(s.ramMode || s.file) || (e.engineStatus.load() & kStopBits) || !gConverter.process)
        return;
    const uint64_t total = s.carry + static_cast<uint64_t>(e.blockSize) * s.format.nSamplesPerSec;
    uint32_t frames = static_cast<uint32_t>(total / s.engineRate);
    s.carry = total % s.engineRate;
    const uint32_t align = s.format.nBlockAlign;
    const uint32_t recorded = s.framesRecorded.load(std::memory_order_relaxed);

    if (!s.ramMode) {
        const uint32_t bytes = frames * align;
        if (!s.buffer || s.bufferCapacity == 0 || bytes > s.bufferCapacity) return;
        gConverter.setHistory(kSlotRecorder);
        gConverter.process(&s.format, s.buffer, e.outputL, e.outputR, frames, e.blockSize, 1);
        s.framesRecorded.store(recorded + frames, std::memory_order_relaxed);
        if (platformFileWrite(s.file, s.buffer, static_cast<long>(bytes)) != static_cast<long>(bytes))
            e.engineStatus.fetch_or(STATUS_RECORD_WRITE_ERROR);
        return;
    }

    if (!s.pool || s.poolSize == 0 || frames == 0) return;
    uint32_t floats = e.blockSize;
    if ((static_cast<uint64_t>(recorded) + frames) * align >= s.poolSize) {
        const uint32_t room = static_cast<uint32_t>(s.poolSize / align - recorded);
        floats = static_cast<uint32_t>(static_cast<uint64_t>(e.blockSize) * room / frames);
        frames = room;
        e.engineStatus.fetch_or(STATUS_RECORD_FULL);
    }
    if (frames == 0) return;
    gConverter.setHistory(kSlotRecorder);
    gConverter.process(&s.format, s.pool + static_cast<uint64_t>(align) * recorded, e.outputL, e.outputR, frames,
                       floats, 1);
    s.framesRecorded.store(recorded + frames, std::memory_order_relaxed);
}

}  // namespace

RecordFormat recordFormat(int index) {
    index = limitIndex(index);
    return RecordFormat{kRates[index & 3], static_cast<uint16_t>(index >= 8 ? 3 : 2),
                        static_cast<uint16_t>((index & 4) ? 2 : 1)};
}

StreamFormat recordStreamFormat(int index) {
    const RecordFormat row = recordFormat(index);
    StreamFormat f{};
    f.wFormatTag = kFormatPcm;
    f.nChannels = row.channels;
    f.nSamplesPerSec = row.rate;
    f.wBitsPerSample = static_cast<uint16_t>(8 * row.bytesPerSample);
    f.nBlockAlign = static_cast<uint16_t>(row.channels * row.bytesPerSample);
    f.nAvgBytesPerSec = row.rate * f.nBlockAlign;
    return f;
}

uint16_t recorderLimitSeconds(long typed) {
    return static_cast<uint16_t>(typed < 10 ? 10 : (typed > 600 ? 600 : typed));
}

int32_t recorderStart() {
    Recorder& s = r();
    if (s.target[0] == '\0') return 0;
    s.formatIndex = limitIndex(s.formatIndex);
    const char* accompaniment = s.accompanimentPath ? s.accompanimentPath() : nullptr;
    if (accompaniment && accompaniment[0] && sameFile(accompaniment, s.target)) return kRecordIsAccompaniment;

    s.format = recordStreamFormat(s.formatIndex);
    uint8_t scratch[8];
    float left = 0.0f, right = 0.0f;
    if (!gConverter.process || gConverter.process(&s.format, scratch, &left, &right, 1, 1, 1) == 0)
        return kRecordUnsupported;

    if (!s.ramMode) {
        s.file = platformFileOpen(s.target, kFileCreate);
        if (!s.file) return kRecordCannotCreate;
        if (!writeHeader(s.file, s.format, 0)) {
            closeAndDelete();
            return kRecordHeaderError;
        }
    }
    gConverter.setHistory(kSlotRecorder);
    gConverter.process(nullptr, nullptr, &left, nullptr, 0, 0, 1);
    s.framesRecorded = 0;
    s.recording = true;
    if (s.startAccompaniment && s.startAccompanimentPlaying) s.startAccompanimentPlaying();

    if (s.ramMode) {
        s.poolSize = static_cast<uint64_t>(s.maxSeconds) * s.format.nSamplesPerSec * s.format.nBlockAlign;
        s.pool = static_cast<uint8_t*>(std::calloc(s.poolSize ? s.poolSize : 1, 1));
        if (!s.pool) {
            abandonStart();
            return kRecordNoMemory;
        }
    }
    s.engine->engineStatus = 0;
    const int32_t started = s.startLiveInput ? s.startLiveInput() : 0;
    if (started != 0) {
        abandonStart();
        return started;
    }
    return 0;
}

int32_t recorderStop() {
    Recorder& s = r();
    if (s.stopLiveInput) s.stopLiveInput();
    int32_t result = 0;
    const uint32_t frames = s.framesRecorded.load();
    const uint32_t align = s.format.nBlockAlign;
    if (s.ramMode && frames > 0) {
        if (!s.askStore || s.askStore()) {
            s.file = platformFileOpen(s.target, kFileCreate);
            if (!s.file) {
                result = kRecordCannotCreate;
            } else if (!writeHeader(s.file, s.format, 0)) {
                closeAndDelete();
                result = kRecordHeaderError;
            } else {
                const uint64_t bytes = static_cast<uint64_t>(frames) * align;
                if (bytes > 0x7FFFFFFF ||
                    platformFileWrite(s.file, s.pool, static_cast<long>(bytes)) != static_cast<long>(bytes)) {
                    s.engine->engineStatus.fetch_or(STATUS_RECORD_WRITE_ERROR);
                    result = kRecordPoolWriteError;
                }
            }
        } else {
            s.engine->engineStatus.fetch_or(STATUS_RECORD_DISCARDED);
        }
    }
    if (s.ramMode) releasePool();
    if (s.file) {
        const bool written = writeSizes(s.file, frames * align);
        platformFileClose(s.file);
        s.file = nullptr;
        const uint32_t status = s.engine->engineStatus.load();
        if (!written || (status & (STATUS_RECORD_WRITE_ERROR | STATUS_RECORD_DISCARDED))) {
            platformDeleteFile(s.target);
            if (!written && result == 0) result = kRecordWriteError;
        }
    }
    s.engine->engineStatus = 0;
    s.recording = false;
    s.framesRecorded = 0;
    return result;
}

void recorderAttach(EngineState& engine) {
    engine.recorder = EngineStage{nullptr, releaseBuffer, resetCount, setupRun, feed};
    gRecorder.engine = &engine;
}

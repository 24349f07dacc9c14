// The WAV recorder.
#include "audiofiles/recorder.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "common/bytes.h"
#include "streamconv/binding.h"

Recorder gRecorder;

namespace {

constexpr uint32_t kRates[4] = {32000, 44100, 48000, 96000};
constexpr uint32_t kStopBits = STATUS_RECORD_WRITE_ERROR | STATUS_RECORD_FULL;

Recorder& r() { return gRecorder; }

int limitIndex(int index) { return index < 0 ? 0 : (index >= kRecordFormats ? kRecordFormats - 1 : index); }

// The 44-byte PCM header with the given data size: at the start of a take
// that of an empty file, valid from the first byte on.
bool writeHeader(PlatformFile file, const StreamFormat& f, uint32_t dataBytes) {
    uint8_t h[44];
    std::memcpy(h, "RIFF", 4);
    putU32(h + 4, dataBytes + 36);
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

// The full long form of a path, or the path itself without a seam (or when
// the seam finds none: a file that does not exist yet).
void fullForm(const char* path, char* out, size_t size) {
    if (!r().fullPath || !r().fullPath(path, out, size)) std::snprintf(out, size, "%s", path);
}

// The sizes from what is on disk: the data counted, but no more than the
// whole frames the file holds. Opened anew with the C library, which
// shares the file with the recording's own handle: so the header can be
// kept up to date while the audio thread writes (the two never write the
// same bytes), and after a failed write, whose multimedia handle keeps its
// failed buffer and would try to flush it again. Returns false when the
// sizes cannot be written; the file is kept all the same.
bool repairSizes(const char* path, uint64_t countedBytes, uint32_t align) {
    const int64_t size = platformFileSize(path);
    if (size < 44 || align == 0) return false;
    uint64_t onDisk = static_cast<uint64_t>(size - 44) / align * align;
    if (onDisk > kRecordDataLimit) onDisk = kRecordDataLimit / align * align;
    const uint32_t dataBytes = static_cast<uint32_t>(countedBytes < onDisk ? countedBytes : onDisk);
    std::FILE* file = std::fopen(path, "r+b");
    if (!file) return false;
    uint8_t word[4];
    putU32(word, dataBytes + 36);
    bool ok = std::fseek(file, 4, SEEK_SET) == 0 && std::fwrite(word, 1, 4, file) == 4;
    putU32(word, dataBytes);
    ok = ok && std::fseek(file, 40, SEEK_SET) == 0 && std::fwrite(word, 1, 4, file) == 4;
    return std::fclose(file) == 0 && ok;
}

// The header on disk gives `dataBytes`, and the file holds them.
bool sizesOnDisk(const char* path, uint64_t dataBytes) {
    if (platformFileSize(path) < static_cast<int64_t>(44 + dataBytes)) return false;
    std::FILE* file = std::fopen(path, "rb");
    if (!file) return false;
    uint8_t h[44];
    const bool read = std::fread(h, 1, sizeof h, file) == sizeof h;
    std::fclose(file);
    return read && getU32(h + 4) == dataBytes + 36 && getU32(h + 40) == dataBytes;
}

// Closes the recording file with sizes for `dataBytes` (whole frames), and
// reads them back: buffered multimedia writes do not report every failure
// (Wine's flush drops them), so what reached the disk is what counts.
// After a failed write the sizes come from the file. False when the sizes
// could not be written; the file is kept all the same.
bool finishFile(uint64_t dataBytes, bool writeFailed) {
    Recorder& s = r();
    if (s.pathGone) {
        // Only the open handle still reaches the file: the sizes of what it
        // holds (whole frames, no more than was counted) are written there.
        const long end = platformFileSeekEnd(s.file);
        const uint32_t align = s.format.nBlockAlign ? s.format.nBlockAlign : 1;
        if (end >= 44) {
            const uint64_t held = static_cast<uint64_t>(end - 44) / align * align;
            if (held < dataBytes) dataBytes = held;
        }
        const bool sized = writeSizes(s.file, static_cast<uint32_t>(dataBytes));
        platformFileClose(s.file);
        s.file = nullptr;
        return sized;
    }
    if (!writeFailed) writeSizes(s.file, static_cast<uint32_t>(dataBytes));
    platformFileClose(s.file);
    s.file = nullptr;
    if (!writeFailed && sizesOnDisk(s.target, dataBytes)) return true;
    return repairSizes(s.target, dataBytes, s.format.nBlockAlign);
}

// Writes the pool's `frames` to the target: 0, 175 (cannot create), 181
// (header; the empty file is removed) or 183 (a short write; the file keeps
// what reached it, with its sizes). Written in pieces so that a failure
// still knows how much of the take is on disk.
int32_t storePoolOnce(uint32_t frames) {
    Recorder& s = r();
    const uint32_t align = s.format.nBlockAlign;
    s.file = platformFileOpen(s.target, kFileCreate);
    if (!s.file) return kRecordCannotCreate;
    if (!writeHeader(s.file, s.format, 0)) {
        closeAndDelete();
        return kRecordStoreHeaderError;
    }
    constexpr uint64_t kPiece = 1u << 20;
    const uint64_t total = static_cast<uint64_t>(frames) * align;
    uint64_t done = 0;
    bool shortWrite = false;
    while (done < total) {
        const long piece = static_cast<long>(total - done < kPiece ? total - done : kPiece);
        const long moved = s.writeFile(s.file, s.pool + done, piece);
        if (moved > 0) done += static_cast<uint64_t>(moved);
        if (moved != piece) {
            shortWrite = true;
            break;
        }
    }
    const bool sized = finishFile(done / align * align, shortWrite);
    if (shortWrite) return kRecordPoolWriteError;
    return sized ? 0 : kRecordStoreHeaderError;
}

// The store of a memory recording: on a failure the user may choose another
// file for as long as the take is still in memory.
int32_t storePool(uint32_t frames) {
    for (;;) {
        const int32_t failure = storePoolOnce(frames);
        if (failure == 0) return 0;
        if (!r().offerAnotherTarget) return failure;
        if (!r().offerAnotherTarget(failure)) return 0;
    }
}

// ---- engine hooks ----

void releaseBuffer(void*) {
    std::free(r().buffer);
    r().buffer = nullptr;
    r().bufferCapacity = 0;
}

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
        if (!s.buffer || s.bufferCapacity == 0 || static_cast<uint64_t>(frames) * align > s.bufferCapacity) return;
        // The last block before the header's limit is shortened like the
        // memory pool's, and the recording then stops as full.
        uint32_t floats = e.blockSize;
        const uint64_t already = static_cast<uint64_t>(recorded) * align;
        const bool full = frames > 0 && already + static_cast<uint64_t>(frames) * align > s.dataLimit;
        if (full) {
            const uint32_t room = already >= s.dataLimit ? 0 : static_cast<uint32_t>((s.dataLimit - already) / align);
            floats = static_cast<uint32_t>(static_cast<uint64_t>(e.blockSize) * room / frames);
            frames = room;
        }
        if (frames > 0) {
            const long bytes = static_cast<long>(frames * align);
            gConverter.setHistory(kSlotRecorder);
            gConverter.process(&s.format, s.buffer, e.outputL, e.outputR, frames, floats, 1);
            const long written = s.writeFile(s.file, s.buffer, bytes);
            if (written != bytes) {
                // Only whole frames that reached the file count.
                if (written > 0) s.framesRecorded.store(recorded + static_cast<uint32_t>(written) / align,
                                                        std::memory_order_relaxed);
                s.writeFailed.store(true, std::memory_order_relaxed);
                e.engineStatus.fetch_or(STATUS_RECORD_WRITE_ERROR);
                return;
            }
            s.framesRecorded.store(recorded + frames, std::memory_order_relaxed);
        }
        if (full) e.engineStatus.fetch_or(STATUS_RECORD_FULL);
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

bool recorderSamePath(const char* a, const char* b) {
    if (!a || !b) return false;
    char fullA[2 * kRecordPathMax], fullB[2 * kRecordPathMax];
    fullForm(a, fullA, sizeof fullA);
    fullForm(b, fullB, sizeof fullB);
    size_t i = 0;
    for (; fullA[i] && fullB[i]; ++i) {
        if (std::tolower(static_cast<unsigned char>(fullA[i])) != std::tolower(static_cast<unsigned char>(fullB[i])))
            return false;
    }
    return fullA[i] == fullB[i];
}

int32_t recorderCheckTarget(const char* path) {
    const char* accompaniment = r().accompanimentPath ? r().accompanimentPath() : nullptr;
    if (path && accompaniment && accompaniment[0] && recorderSamePath(accompaniment, path))
        return kRecordIsAccompaniment;
    return 0;
}

int32_t recorderStart() {
    Recorder& s = r();
    if (s.target[0] == '\0' || s.recording.load() || s.stopping) return 0;
    s.formatIndex = limitIndex(s.formatIndex);
    s.maxSeconds = recorderLimitSeconds(s.maxSeconds);
    if (const int32_t refused = recorderCheckTarget(s.target)) return refused;
    // A take of an earlier run (or any other file) is only replaced when the
    // user has said so: in the save dialog just now, or here.
    if (!s.targetConfirmed && platformFileExists(s.target) && s.confirmOverwrite && !s.confirmOverwrite(s.target))
        return 0;

    s.format = recordStreamFormat(s.formatIndex);
    uint8_t scratch[8];
    float left = 0.0f, right = 0.0f;
    if (!gConverter.process || gConverter.process(&s.format, scratch, &left, &right, 1, 1, 1) == 0)
        return kRecordUnsupported;

    if (!s.ramMode) {
        s.file = platformFileOpen(s.target, kFileCreate);
        if (!s.file) return kRecordCannotCreate;
        // On disk at once: the header kept up to date beside this handle
        // must never be overwritten by a late flush of its first bytes.
        if (!writeHeader(s.file, s.format, 0) || !platformFileFlush(s.file)) {
            closeAndDelete();
            return kRecordHeaderError;
        }
    }
    s.headerFrames = 0;
    s.headerWrittenMs = 0;
    s.targetConfirmed = false;
    gConverter.setHistory(kSlotRecorder);
    gConverter.process(nullptr, nullptr, &left, nullptr, 0, 0, 1);
    s.framesRecorded = 0;
    s.writeFailed = false;
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
    // The store question and the reports run modal loops in which the
    // timers go on; a second stop from them must wait for this one.
    if (s.stopping) return 0;
    s.stopping = true;
    if (s.stopLiveInput) s.stopLiveInput();
    int32_t result = 0;
    const uint32_t frames = s.framesRecorded.load();
    const uint32_t align = s.format.nBlockAlign;
    if (s.ramMode && frames > 0 && s.pool) {
        if (!s.askStore || s.askStore())
            result = storePool(frames);
        else
            s.engine->engineStatus.fetch_or(STATUS_RECORD_DISCARDED);
    }
    if (s.ramMode) releasePool();
    if (s.file) {
        // File mode: the take stays, whatever happened to it.
        const bool failed = s.writeFailed.load() || (s.engine->engineStatus.load() & STATUS_RECORD_WRITE_ERROR);
        // A failure already known was reported by whoever took its status
        // bit: the user hears of it once.
        if (!finishFile(static_cast<uint64_t>(frames) * align, failed) && result == 0 && !failed)
            result = kRecordWriteError;
    }
    s.engine->engineStatus = 0;
    s.recording = false;
    s.framesRecorded = 0;
    s.writeFailed = false;
    s.pathGone = false;
    s.stopping = false;
    if (s.stopped) s.stopped();
    return result;
}

void recorderWatchFile() {
    Recorder& s = r();
    if (!s.recording.load() || s.ramMode || !s.file || s.writeFailed.load()) return;
    // The size as the directory has it: the file is open for writing, so it
    // cannot be opened again to ask.
    std::error_code error;
    const uintmax_t size = std::filesystem::file_size(s.target, error);
    // The file we hold open is no longer where we wrote it: its disk was
    // taken away. Nothing more will reach it; the take keeps what its last
    // header counted.
    if (error) {
        s.pathGone = true;
        s.writeFailed = true;
        s.engine->engineStatus.fetch_or(STATUS_RECORD_WRITE_ERROR);
        return;
    }
    const uint64_t counted = 44 + static_cast<uint64_t>(s.framesRecorded.load()) * s.format.nBlockAlign;
    if (counted > size + kRecordWriteSlack) {
        s.writeFailed = true;
        s.engine->engineStatus.fetch_or(STATUS_RECORD_WRITE_ERROR);
    }
}

bool recorderKeepHeader(uint64_t nowMs) {
    Recorder& s = r();
    if (!s.recording.load() || s.ramMode || !s.file || s.stopping || s.writeFailed.load()) return false;
    const uint32_t frames = s.framesRecorded.load();
    if (frames == s.headerFrames) return false;
    const bool due = s.headerFrames == 0 || frames - s.headerFrames >= s.format.nSamplesPerSec ||
                     nowMs - s.headerWrittenMs >= kRecordHeaderPeriodMs;
    if (!due) return false;
    const uint32_t align = s.format.nBlockAlign;
    if (!repairSizes(s.target, static_cast<uint64_t>(frames) * align, align)) return false;
    s.headerFrames = frames;
    s.headerWrittenMs = nowMs;
    return true;
}

void recorderAttach(EngineState& engine) {
    engine.recorder = EngineStage{nullptr, releaseBuffer, nullptr, setupRun, feed};
    gRecorder.engine = &engine;
}

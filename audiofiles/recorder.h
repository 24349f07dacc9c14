// The WAV recorder: the engine's processed output, converted (and resampled
// when the file's rate differs) block by block and appended to a PCM WAV
// file, or collected in a memory pool and stored when the recording stops.
// Start and stop run on the UI thread, the feed on the audio thread.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

#include "engine/engine.h"
#include "platform/platform.h"
#include "streamconv/streamconv.h"

constexpr int32_t kRecordCannotCreate = 175;     // "Can't create file !"
constexpr int32_t kRecordNoMemory = 176;         // "Not enought memory to save to RAM..."
constexpr int32_t kRecordWriteError = 179;       // "Error writing file"
constexpr int32_t kRecordHeaderError = 181;      // "Error writing file": the header of a file take
constexpr int32_t kRecordStoreHeaderError = 182; // "Error writing file": the header of a stored memory take
constexpr int32_t kRecordPoolWriteError = 183;   // "Error writing file"
constexpr int32_t kRecordUnsupported = 242;      // "Selected audio format is unsupported"
constexpr int32_t kRecordIsAccompaniment = 260;  // "This file is already opened for accompaniment"

constexpr int kRecordFormats = 16;
constexpr int kRecordPathMax = 260;

// The most data a file recording holds: the header's RIFF size (data + 36)
// is a 32-bit field, so a take stops as full before it would pass it.
constexpr uint32_t kRecordDataLimit = 0xFFFFFFFFu - 36;

// One of the sixteen record formats: rates by index & 3, stereo from index
// 4 in each half, 24-bit from index 8.
struct RecordFormat {
    uint32_t rate;
    uint16_t bytesPerSample;
    uint16_t channels;
};
RecordFormat recordFormat(int index);
// The format record the converter and the WAV header take.
StreamFormat recordStreamFormat(int index);

struct Recorder {
    char target[kRecordPathMax + 1] = "";
    int formatIndex = 5;
    bool startAccompaniment = false;
    bool ramMode = false;
    uint16_t maxSeconds = 60;  // 10 ... 600
    // The target was just confirmed in the save dialog (which asked before
    // overwriting); a start uses the confirmation up.
    bool targetConfirmed = false;

    std::atomic<bool> recording{false};
    PlatformFile file = nullptr;
    std::atomic<uint32_t> framesRecorded{0};
    uint8_t* pool = nullptr;
    uint64_t poolSize = 0;
    StreamFormat format{};
    // Set by the feed with STATUS_RECORD_WRITE_ERROR: the refresh timer takes
    // the status bit before it stops the recording, the stop still has to
    // know that the file holds less than was counted.
    std::atomic<bool> writeFailed{false};
    // The file is no longer at its path (its disk was taken away): its
    // sizes can only be written through the handle that is still open.
    bool pathGone = false;
    // A stop is under way (its store question or a report is open, and the
    // timers keep running in their modal loops).
    bool stopping = false;
    // A file recording stops as full when its data would pass this.
    uint32_t dataLimit = kRecordDataLimit;
    // The header's sizes on disk while a file recording runs (UI thread):
    // the frames they last gave and when they were written.
    uint32_t headerFrames = 0;
    uint64_t headerWrittenMs = 0;
    // Appends samples to the recording file: the feed's blocks (audio thread)
    // and the memory's store (UI thread). A test replaces it to fail where
    // it likes.
    long (*writeFile)(PlatformFile file, const void* data, long size) = platformFileWrite;

    // Per run: record frames per block carry their fraction from block to
    // block; the buffer holds the largest block.
    uint32_t engineRate = 0;
    uint32_t blockSize = 0;
    uint64_t carry = 0;
    uint8_t* buffer = nullptr;
    uint32_t bufferCapacity = 0;

    EngineState* engine = &gEngine;
    // Live input around a recording, the store question of the memory mode
    // (true: store), and the accompaniment's path and play button (null: none).
    int32_t (*startLiveInput)() = nullptr;
    void (*stopLiveInput)() = nullptr;
    bool (*askStore)() = nullptr;
    const char* (*accompanimentPath)() = nullptr;
    void (*startAccompanimentPlaying)() = nullptr;
    void (*stopAccompanimentPlaying)() = nullptr;
    // Starting onto an existing file that was not just confirmed: true to
    // overwrite it. Null: the caller has decided (a tool's output file).
    bool (*confirmOverwrite)(const char* path) = nullptr;
    // Storing the memory failed with `failure`: report it and choose another
    // target; false when the user gives up (the take is then released).
    // Null: the stop returns the failure.
    bool (*offerAnotherTarget)(int32_t failure) = nullptr;
    // The full long form of `path` (Windows: GetFullPathNameA and
    // GetLongPathNameA); false when it has none. Null: the path as given.
    bool (*fullPath)(const char* path, char* out, size_t size) = nullptr;
    // Called at the end of every stop, whoever stopped (the dialog, the
    // refresh timer), so the dialog can show the idle state.
    void (*stopped)() = nullptr;
};

extern Recorder gRecorder;

// Limits a typed maximum time to 10 ... 600 seconds.
uint16_t recorderLimitSeconds(long typed);
// Two spellings of one file: their full long forms compared without regard
// to case (the file system does not tell case apart).
bool recorderSamePath(const char* a, const char* b);
// A target the recorder may write: 0, or 260 when it is the open
// accompaniment's file under any spelling.
int32_t recorderCheckTarget(const char* path);
// Starts a recording to the target; 0 or a message id (nothing recording).
// Without a target, or when the user declines to overwrite an existing
// file, nothing starts and the result is 0.
int32_t recorderStart();
// Stops and finalises the file, or stores or discards the memory; 0 or a
// message id. A take is never deleted: after a write error the file keeps
// what reached it, with sizes to match. A write error of the feed is not in
// the result: whoever takes STATUS_RECORD_WRITE_ERROR reports 179.
int32_t recorderStop();

// How far the file may fall behind the count before the watch below calls
// it a write error: far more than any write buffer holds.
constexpr uint64_t kRecordWriteSlack = 256 * 1024;
// UI thread, while a file recording runs (the refresh timer's read-outs):
// a file that stops growing while blocks are counted has lost its writes
// (a full disk, a size limit) even when no write said so. Sets
// STATUS_RECORD_WRITE_ERROR, as the feed does for a failure it sees.
void recorderWatchFile();

// How often a running file recording's header is brought up to date: a
// crash or a kill then loses at most about this much of the take, and the
// file stays a valid WAV of what reached the disk.
constexpr uint64_t kRecordHeaderPeriodMs = 1000;
// UI thread (or a render loop between blocks), while a file recording runs:
// when a period of time or of recorded audio has passed since the last
// time (or nothing was written yet), writes the header's sizes for the
// whole frames on disk, through a handle of its own beside the recording's.
// `nowMs` is any millisecond clock. True when it wrote.
bool recorderKeepHeader(uint64_t nowMs);

// Hooks the recorder into the engine's configuration and block.
void recorderAttach(EngineState& engine);

// The WAV recorder: the engine's processed output, converted (and resampled
// when the file's rate differs) block by block and appended to a PCM WAV
// file, or collected in a memory pool and stored when the recording stops.
// Start and stop run on the UI thread, the feed on the audio thread.
#pragma once

#include <atomic>
#include <cstdint>

#include "engine/engine.h"
#include "platform/platform.h"
#include "streamconv/streamconv.h"

constexpr int32_t kRecordCannotCreate = 175;     // "Can't create file !"
constexpr int32_t kRecordNoMemory = 176;         // "Not enought memory to save to RAM..."
constexpr int32_t kRecordWriteError = 179;       // "Error writing file"
constexpr int32_t kRecordHeaderError = 181;      // "Error writing file"
constexpr int32_t kRecordPoolWriteError = 183;   // "Error writing file"
constexpr int32_t kRecordUnsupported = 242;      // "Selected audio format is unsupported"
constexpr int32_t kRecordIsAccompaniment = 260;  // "This file is already opened for accompaniment"

constexpr int kRecordFormats = 16;
constexpr int kRecordPathMax = 260;

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

    std::atomic<bool> recording{false};
    PlatformFile file = nullptr;
    std::atomic<uint32_t> framesRecorded{0};
    uint8_t* pool = nullptr;
    uint64_t poolSize = 0;
    StreamFormat format{};

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
};

extern Recorder gRecorder;

// Limits a typed maximum time to 10 ... 600 seconds.
uint16_t recorderLimitSeconds(long typed);
// Starts a recording to the target; 0 or a message id (nothing recording).
int32_t recorderStart();
// Stops, finalises (or stores, or discards) the file; 0 or a message id.
int32_t recorderStop();

// Hooks the recorder into the engine's configuration and block.
void recorderAttach(EngineState& engine);

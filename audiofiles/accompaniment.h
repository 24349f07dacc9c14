// The accompaniment: one WAV file that loops under the live signal. Opened
// and checked on the UI thread; read, converted to the engine's rate and
// mixed in by the engine's accompaniment step on the audio thread.
#pragma once

#include <atomic>
#include <cstdint>

#include "engine/engine.h"
#include "platform/platform.h"
#include "streamconv/streamconv.h"

constexpr int32_t kAccompCannotOpen = 194;     // "Unable to open accompaniment file"
constexpr int32_t kAccompNoRiff = 195;         // "This file is damaged or has unsupported format"
constexpr int32_t kAccompNoWave = 196;
constexpr int32_t kAccompNoFmt = 197;
constexpr int32_t kAccompNoData = 198;
constexpr int32_t kAccompUnsupported = 199;    // "This audio file has unsupported format"
constexpr int32_t kAccompBeyondFile = 211;     // "File has invalid structure. "
constexpr int32_t kAccompEmpty = 212;          // "The audio data is zero size - nothing to play"
constexpr int32_t kAccompBadAlignment = 213;   // "This file is damaged"

constexpr int kAccompPathMax = 260;

struct Accompaniment {
    char path[kAccompPathMax + 1] = "";
    char title[101] = "<no accompaniment>";
    PlatformFile file = nullptr;
    StreamFormat format{};
    uint64_t dataOffset = 0;
    uint64_t dataSize = 0;
    // Shared with the audio thread: the UI writes the start position before
    // it requests a restart, and only ever requests a stop.
    std::atomic<uint64_t> position{0};
    std::atomic<uint64_t> startPosition{0};
    std::atomic<bool> playing{false};
    std::atomic<bool> stopRequest{false};
    std::atomic<bool> restartRequest{false};
    std::atomic<bool> resetRequest{false};
    // accompanimentReplace's hand-over: while `held`, no block enters the
    // player; `mixing` is set while one is in it.
    std::atomic<bool> held{false};
    std::atomic<bool> mixing{false};

    // Per run: the engine's rate and block, and the block buffer sized for
    // the most source frames one block can take.
    uint32_t engineRate = 0;
    uint32_t blockSize = 0;
    uint64_t carry = 0;  // remainder of block * file rate / engine rate
    uint8_t* block = nullptr;
    uint32_t blockCapacity = 0;
    bool running = false;  // between the run's set-up and its release

    // The accompaniment bar, and live input around Open and Close (null: none).
    void (*barChanged)() = nullptr;
    void (*stopLiveInput)() = nullptr;
};

extern Accompaniment gAccompaniment;

// Opens and checks `path`; 0 or a message id (after which nothing is open).
int32_t accompanimentLoad(const char* path);
// Stops live input, closes the file and forgets the path.
void accompanimentClose();
// Another file in place of the one open, or none for "" or null, without
// stopping live input (a song change on stage): the new file is opened and
// checked beside the current one, and blocks are held out of the player
// only for the moment the two change places. 0 or a message id; after a
// refusal nothing is open. The new file waits to be started, as after
// accompanimentLoad.
int32_t accompanimentReplace(const char* path);
bool accompanimentIsOpen();
// Play/stop (UI thread): starts playing, or asks the audio thread to stop
// after the current block. What counts as playing is what the bar shows:
// playing with no stop pending, so a press while a stop is pending plays on.
void accompanimentToggle();
// The explicit forms (UI thread), for callers that know what they want,
// such as the recorder's "start accompaniment" option: start does nothing
// while playing, stop nothing while stopped or already asked to stop.
void accompanimentStart();
void accompanimentStop();
// Playing with no stop pending: what the bar's button shows.
bool accompanimentShowsPlaying();
// Live input's stop, after the device has stopped: no audio thread is left
// to serve a stop request, so playing and the request are cleared here.
void accompanimentHalt();
// The start position from the bar's trackbar (0 ... 1000); playback resumes
// there at the next block.
void accompanimentSetStart(int trackbarPosition);

// Hooks the player into the engine's configuration and block.
void accompanimentAttach(EngineState& engine);

// The accompaniment player.
#include "audiofiles/accompaniment.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>
#include <vector>

#include "common/bytes.h"
#include "streamconv/binding.h"

Accompaniment gAccompaniment;

namespace {

Accompaniment& a() { return gAccompaniment; }

void closeFile() {
    platformFileClose(a().file);
    a().file = nullptr;
}

// The file name without its folder, less its last four characters when it
// is longer than four (".wav"), at most 100 characters.
void setTitle(const char* path) {
    const char* name = path;
    for (const char* p = path; *p; ++p)
        if (*p == '\\' || *p == '/' || *p == ':') name = p + 1;
    size_t n = std::strlen(name);
    if (n > 4) n -= 4;
    if (n > 100) n = 100;
    std::memcpy(a().title, name, n);
    a().title[n] = '\0';
}

// An opened file's facts, checked.
struct Opened {
    PlatformFile file = nullptr;
    StreamFormat format{};
    uint64_t dataOffset = 0;
    uint64_t dataSize = 0;
};

bool readExact(PlatformFile file, void* data, long size) { return platformFileRead(file, data, size) == size; }

int32_t parse(Opened& o, int64_t fileSize) {
    PlatformFile file = o.file;
    uint8_t word[4];
    if (!readExact(file, word, 4)) return kAccompCannotOpen;
    if (std::memcmp(word, "RIFF", 4) != 0) return kAccompNoRiff;
    if (!readExact(file, word, 4)) return kAccompCannotOpen;
    if (!readExact(file, word, 4)) return kAccompCannotOpen;
    if (std::memcmp(word, "WAVE", 4) != 0) return kAccompNoWave;
    if (!readExact(file, word, 4)) return kAccompCannotOpen;
    if (std::memcmp(word, "fmt ", 4) != 0) return kAccompNoFmt;
    if (!readExact(file, word, 4)) return kAccompCannotOpen;
    const uint64_t formatSize = getU32(word);
    // The data chunk must follow the format body directly.
    if (formatSize > static_cast<uint64_t>(fileSize) ||
        platformFileSeek(file, static_cast<long>(20 + formatSize)) != static_cast<long>(20 + formatSize))
        return kAccompCannotOpen;
    if (!readExact(file, word, 4)) return kAccompCannotOpen;
    if (std::memcmp(word, "data", 4) != 0) return kAccompNoData;
    if (!readExact(file, word, 4)) return kAccompCannotOpen;
    const uint64_t dataSize = getU32(word);
    const uint64_t dataOffset = formatSize + 28;
    if (dataSize == 0) return kAccompEmpty;
    if (dataOffset + dataSize > static_cast<uint64_t>(fileSize)) return kAccompBeyondFile;

    uint8_t fields[16];
    if (platformFileSeek(file, 20) != 20 || !readExact(file, fields, 16)) return kAccompCannotOpen;
    StreamFormat f{};
    f.wFormatTag = getU16(fields);
    f.nChannels = getU16(fields + 2);
    f.nSamplesPerSec = getU32(fields + 4);
    f.nAvgBytesPerSec = getU32(fields + 8);
    f.nBlockAlign = getU16(fields + 12);
    f.wBitsPerSample = getU16(fields + 14);
    if (f.nBlockAlign == 0 || dataSize % f.nBlockAlign != 0) return kAccompBadAlignment;

    // The converter must accept the format: two frames, read direction.
    std::vector<uint8_t> scratch(2u * f.nBlockAlign, 0);
    float left[2], right[2];
    if (!gConverter.process ||
        gConverter.process(&f, scratch.data(), left, right, 2, 2, 0) == 0 || f.nSamplesPerSec == 0)
        return kAccompUnsupported;

    if (platformFileSeek(file, static_cast<long>(dataOffset)) != static_cast<long>(dataOffset))
        return kAccompCannotOpen;
    o.format = f;
    o.dataOffset = dataOffset;
    o.dataSize = dataSize;
    return 0;
}

// Opens and checks `path`; on a refusal nothing stays open.
int32_t openChecked(const char* path, Opened& o) {
    const int64_t fileSize = platformFileSize(path);
    o.file = fileSize >= 0 ? platformFileOpen(path, kFileRead) : nullptr;
    if (!o.file) return kAccompCannotOpen;
    const int32_t result = parse(o, fileSize);
    if (result != 0) {
        platformFileClose(o.file);
        o.file = nullptr;
    }
    return result;
}

// Takes an opened file as the one to play, stopped, from its start.
void install(const Opened& o, const char* path) {
    Accompaniment& s = a();
    std::snprintf(s.path, sizeof s.path, "%s", path);
    s.file = o.file;
    s.format = o.format;
    s.dataOffset = o.dataOffset;
    s.dataSize = o.dataSize;
    setTitle(s.path);
    s.playing = false;
    s.stopRequest = false;
    s.restartRequest = false;
    s.startPosition = 0;
    s.position = 0;
    s.carry = 0;
}

// The block buffer's size for `format` at the run's rate and block: the
// frames per block carry their fraction from block to block, so one block
// may take one frame more than the truncated quotient. 0: none can be had.
uint64_t blockBytes(const StreamFormat& format, uint32_t blockSize, uint32_t rate) {
    if (rate == 0) return 0;
    const uint64_t frames = (static_cast<uint64_t>(blockSize) * format.nSamplesPerSec + rate - 1) / rate;
    const uint64_t bytes = frames * format.nBlockAlign;
    return bytes > 0x7FFFFFFF ? 0 : bytes;
}

// ---- engine hooks ----

void releaseBlock(void*) {
    std::free(a().block);
    a().block = nullptr;
    a().blockCapacity = 0;
    a().running = false;
}

// Sizes the block buffer for the largest source block.
int32_t setupRun(void*, const EngineState& engine, uint32_t rate) {
    releaseBlock(nullptr);
    a().engineRate = rate;
    a().blockSize = engine.blockSize;
    a().carry = 0;
    a().running = rate != 0;
    if (!a().file || rate == 0) return 0;
    const uint64_t bytes = blockBytes(a().format, engine.blockSize, rate);
    if (bytes == 0) return 0;
    a().block = static_cast<uint8_t*>(std::malloc(bytes));  // a failure only silences the mix
    a().blockCapacity = a().block ? static_cast<uint32_t>(bytes) : 0;
    return 0;
}

void resetStream(void*) {
    if (!gConverter.setHistory) return;
    gConverter.setHistory(kSlotAccompaniment);
    float dummy = 0.0f;
    gConverter.process(nullptr, nullptr, &dummy, nullptr, 0, 0, 0);
}

// Audio thread: one block of the file, converted to the engine's rate into
// the input buffers (free at this point of the block) and added to the output.
void mixBlock(EngineState& e) {
    Accompaniment& s = a();
    if (!s.file || !s.playing.load(std::memory_order_acquire) || e.engineStatus.load() != 0 || !s.block ||
        s.blockCapacity == 0 || !gConverter.process)
        return;
    if (s.resetRequest.exchange(false)) resetStream(nullptr);
    uint64_t position = s.position.load(std::memory_order_relaxed);
    if (s.restartRequest.exchange(false, std::memory_order_acquire)) {
        position = s.startPosition.load(std::memory_order_relaxed);
        platformFileSeek(s.file, static_cast<long>(s.dataOffset + position));
    }
    const uint64_t total = s.carry + static_cast<uint64_t>(e.blockSize) * s.format.nSamplesPerSec;
    const uint32_t frames = static_cast<uint32_t>(total / s.engineRate);
    s.carry = total % s.engineRate;
    const uint32_t blockBytes = frames * s.format.nBlockAlign;
    if (frames == 0 || blockBytes > s.blockCapacity) return;

    uint64_t n = blockBytes;
    const bool last = position + n >= s.dataSize;
    if (last) n = s.dataSize - position;
    long got = n ? platformFileRead(s.file, s.block, static_cast<long>(n)) : 0;
    if (got < 0) got = 0;
    // What the file did not give (its end, or a short read) is silence.
    std::memset(s.block + got, 0, blockBytes - static_cast<uint32_t>(got));
    if (last) {
        platformFileSeek(s.file, static_cast<long>(s.dataOffset));
        position = 0;
    } else {
        position += n;
    }
    s.position.store(position, std::memory_order_relaxed);

    gConverter.setHistory(kSlotAccompaniment);
    gConverter.process(&s.format, s.block, e.inputL, e.outputR ? e.inputR : nullptr, frames, e.blockSize, 0);
    for (uint32_t i = 0; i < e.blockSize; ++i) e.outputL[i] += e.inputL[i];
    if (e.outputR && e.inputR)
        for (uint32_t i = 0; i < e.blockSize; ++i) e.outputR[i] += e.inputR[i];

    if (s.stopRequest.exchange(false)) s.playing.store(false);
}

// The player's step, kept out while accompanimentReplace changes files.
void mix(void*, EngineState& e) {
    Accompaniment& s = a();
    s.mixing.store(true);
    if (!s.held.load()) mixBlock(e);
    s.mixing.store(false);
}

}  // namespace

int32_t accompanimentLoad(const char* path) {
    Opened o;
    const int32_t result = openChecked(path ? path : "", o);
    if (result != 0) {
        std::snprintf(a().path, sizeof a().path, "%s", path ? path : "");
        return result;
    }
    install(o, path);
    if (a().barChanged) a().barChanged();
    return 0;
}

int32_t accompanimentReplace(const char* path) {
    Accompaniment& s = a();
    Opened o;
    int32_t result = path && *path ? openChecked(path, o) : 0;
    uint8_t* block = nullptr;
    uint32_t capacity = 0;
    if (o.file && s.running) {
        const uint64_t bytes = blockBytes(o.format, s.blockSize, s.engineRate);
        block = bytes ? static_cast<uint8_t*>(std::malloc(bytes)) : nullptr;
        capacity = block ? static_cast<uint32_t>(bytes) : 0;
    }
    // Blocks are held out of the player; one already in it is waited for.
    s.held.store(true);
    while (s.mixing.load()) std::this_thread::yield();
    closeFile();
    std::free(s.block);
    s.block = block;
    s.blockCapacity = capacity;
    if (o.file) {
        install(o, path);
        s.resetRequest = true;  // the converter's history was the old file's
    } else {
        s.path[0] = '\0';
        std::snprintf(s.title, sizeof s.title, "<no accompaniment>");
        s.playing = false;
        s.stopRequest = false;
    }
    s.held.store(false);
    if (s.barChanged) s.barChanged();
    return result;
}

void accompanimentClose() {
    Accompaniment& s = a();
    if (s.stopLiveInput) s.stopLiveInput();
    closeFile();
    s.path[0] = '\0';
    std::snprintf(s.title, sizeof s.title, "<no accompaniment>");
    s.playing = false;
    if (s.barChanged) s.barChanged();
}

bool accompanimentIsOpen() { return a().file != nullptr; }

void accompanimentStart() {
    Accompaniment& s = a();
    if (accompanimentShowsPlaying()) return;
    // A stop still pending is withdrawn and playback goes on; from a stop the
    // audio thread resets the stream itself: selecting a converter slot from
    // this thread could change the slot of a conversion it is making.
    if (!s.playing.load()) s.resetRequest = true;
    s.stopRequest = false;
    s.playing.store(true, std::memory_order_release);
    if (s.barChanged) s.barChanged();
}

void accompanimentStop() {
    Accompaniment& s = a();
    if (!accompanimentShowsPlaying()) return;
    s.stopRequest = true;
    if (s.barChanged) s.barChanged();
}

void accompanimentToggle() {
    if (accompanimentShowsPlaying())
        accompanimentStop();
    else
        accompanimentStart();
}

bool accompanimentShowsPlaying() { return a().playing.load() && !a().stopRequest.load(); }

void accompanimentHalt() {
    Accompaniment& s = a();
    s.stopRequest = false;
    s.playing = false;
    if (s.barChanged) s.barChanged();
}

void accompanimentSetStart(int trackbarPosition) {
    Accompaniment& s = a();
    if (s.format.nBlockAlign == 0) return;
    const uint64_t frames = s.dataSize / s.format.nBlockAlign;
    s.startPosition.store(frames * static_cast<uint64_t>(trackbarPosition) / 1000 * s.format.nBlockAlign,
                          std::memory_order_relaxed);
    s.restartRequest.store(true, std::memory_order_release);
}

void accompanimentAttach(EngineState& engine) {
    engine.accompaniment = EngineStage{nullptr, releaseBlock, resetStream, setupRun, mix};
}

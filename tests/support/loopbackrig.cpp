#include "tests/support/loopbackrig.h"

#include <cmath>
#include <cstring>

namespace {

// The signal was in flight this long before the recording got it: the
// stretch in which a round is judged begins this much earlier.
constexpr double kInFlightMs = 100.0;

template <typename T>
void release(T*& object) {
    if (object) object->Release();
    object = nullptr;
}

}  // namespace

double LoopbackRig::nowMs() const {
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return static_cast<double>(now.QuadPart) / ticksPerMs_ - zero_;
}

bool LoopbackRig::begin(const DsDevice* monitor, const DsDevice* sink, double seconds, EngineState& engine,
                        HWND window) {
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    ticksPerMs_ = static_cast<double>(frequency.QuadPart) / 1000.0;
    zero_ = 0.0;
    zero_ = nowMs();
    window_ = window;

    // One look a millisecond or so, one block every few milliseconds at most.
    looks_.assign(static_cast<size_t>(seconds * 1500.0) + 1000, CursorSample{});
    blocks_.assign(static_cast<size_t>(seconds * 500.0) + 1000, 0.0);
    engine_ = &engine;
    engine.accompaniment = EngineStage{};
    engine.accompaniment.context = this;
    engine.accompaniment.process = logBlock;

    WAVEFORMATEX format = dsFormatRecord(5);  // 44100 Hz, 16-bit, stereo
    recordingBytes_ = static_cast<DWORD>(format.nAvgBytesPerSec * seconds);
    DSCBUFFERDESC description{};
    description.dwSize = sizeof description;
    description.dwBufferBytes = recordingBytes_;
    description.lpwfxFormat = &format;
    if (FAILED(DirectSoundCaptureCreate(static_cast<const GUID*>(monitor->id), &capture_, nullptr)) ||
        FAILED(capture_->CreateCaptureBuffer(&description, &recording_, nullptr)) || FAILED(recording_->Start(0)) ||
        !startPlayer(sink))
        return false;
    looking_ = true;
    lookThread_ = CreateThread(nullptr, 0, lookLoop, this, 0, nullptr);
    return lookThread_ != nullptr;
}

bool LoopbackRig::waitUntilFlowing(double settleMs, double limitMs) {
    const double began = nowMs();
    while (nowMs() - began < limitMs) {
        Sleep(10);
        const size_t n = blockCount_.load(std::memory_order_acquire);
        if (n > 0 && nowMs() - blocks_[0] >= settleMs && capturedFrames() >= settleMs * kLoopRate / 2000.0) return true;
    }
    return false;
}

bool LoopbackRig::startPlayer(const DsDevice* sink) {
    WAVEFORMATEX format = dsFormatRecord(5);
    playerBytes_ = static_cast<DWORD>(kLoopRate * kTrainMs / 1000.0) * format.nBlockAlign;
    DSBUFFERDESC description{};
    description.dwSize = sizeof description;
    description.dwFlags = DSBCAPS_GETCURRENTPOSITION2 | DSBCAPS_GLOBALFOCUS;
    description.dwBufferBytes = playerBytes_;
    description.lpwfxFormat = &format;
    if (FAILED(DirectSoundCreate(static_cast<const GUID*>(sink->id), &playback_, nullptr)) ||
        FAILED(playback_->SetCooperativeLevel(window_, DSSCL_PRIORITY)) ||
        FAILED(playback_->CreateSoundBuffer(&description, &player_, nullptr)))
        return false;
    void* region = nullptr;
    DWORD bytes = 0;
    if (FAILED(player_->Lock(0, playerBytes_, &region, &bytes, nullptr, nullptr, 0))) return false;
    std::memset(region, 0, bytes);
    player_->Unlock(region, bytes, nullptr, 0);
    if (FAILED(player_->Play(0, 0, DSBPLAY_LOOPING))) return false;
    playing_ = true;
    return true;
}

bool LoopbackRig::play() {
    // The burst goes 100 ms ahead of the play cursor, well clear of what the
    // mixer has taken already; the buffer loops, so it comes every period.
    DWORD play = 0, write = 0;
    if (!player_ || FAILED(player_->GetCurrentPosition(&play, &write))) return false;
    const DWORD burstFrames = static_cast<DWORD>(kLoopRate / 50.0);
    DWORD at = (play + static_cast<DWORD>(kLoopRate / 10.0) * 4) % playerBytes_;
    at -= at % 4;
    void* first = nullptr;
    void* second = nullptr;
    DWORD firstBytes = 0, secondBytes = 0;
    if (FAILED(player_->Lock(at, burstFrames * 4, &first, &firstBytes, &second, &secondBytes, 0))) return false;
    for (DWORD i = 0; i < burstFrames; ++i) {
        const double v = 0.5 * std::sin(2 * 3.141592653589793 * 1000.0 * i / kLoopRate);
        const auto sample = static_cast<int16_t>(std::lround(v * 32767));
        const DWORD byte = i * 4;
        auto* target = byte < firstBytes ? static_cast<int16_t*>(first) + byte / 2
                                         : static_cast<int16_t*>(second) + (byte - firstBytes) / 2;
        target[0] = target[1] = sample;
    }
    return SUCCEEDED(player_->Unlock(first, firstBytes, second, secondBytes));
}

void LoopbackRig::end() {
    if (lookThread_) {
        looking_ = false;
        WaitForSingleObject(lookThread_, INFINITE);
        CloseHandle(lookThread_);
        lookThread_ = nullptr;
    }
    playing_ = false;
    if (player_) player_->Stop();
    release(player_);
    release(playback_);
    if (recording_) recording_->Stop();
    release(recording_);
    release(capture_);
    if (engine_) {
        // Live input may still run: no block is inside the engine while
        // the stage goes.
        engineChainPause(*engine_);
        engine_->accompaniment = EngineStage{};
        engineChainResume(*engine_);
    }
    engine_ = nullptr;
}

double LoopbackRig::capturedFrames() {
    DWORD capturePosition = 0, readPosition = 0;
    if (!recording_ || FAILED(recording_->GetCurrentPosition(&capturePosition, &readPosition))) return 0.0;
    return readPosition / 4.0;
}

std::vector<float> LoopbackRig::heard() {
    std::vector<float> left;
    DWORD capturePosition = 0, readPosition = 0;
    if (!recording_ || FAILED(recording_->GetCurrentPosition(&capturePosition, &readPosition)) || readPosition == 0)
        return left;
    void* region = nullptr;
    DWORD bytes = 0;
    if (SUCCEEDED(recording_->Lock(0, readPosition, &region, &bytes, nullptr, nullptr, 0))) {
        const auto* s = static_cast<const int16_t*>(region);
        left.reserve(bytes / 4);
        for (DWORD i = 0; i + 1 < bytes / 2; i += 2) left.push_back(s[i] / 32768.0f);
        recording_->Unlock(region, bytes, nullptr, 0);
    }
    return left;
}

std::vector<CursorSample> LoopbackRig::cursors() const {
    const size_t n = lookCount_.load(std::memory_order_acquire);
    return std::vector<CursorSample>(looks_.begin(), looks_.begin() + static_cast<std::ptrdiff_t>(n));
}

std::vector<double> LoopbackRig::blocks() const {
    const size_t n = blockCount_.load(std::memory_order_acquire);
    return std::vector<double>(blocks_.begin(), blocks_.begin() + static_cast<std::ptrdiff_t>(n));
}

StallMeasure LoopbackRig::stallAround(double fromFrame, double toFrame, double blockMs) const {
    const std::vector<CursorSample> looks = cursors();
    const double from = arrivalMs(looks, fromFrame);
    double to = arrivalMs(looks, toFrame);
    if (to < 0.0) to = nowMs();
    return stallBetween((from < 0.0 ? to : from) - kInFlightMs, to, blocks(), blockMs, looks, kLoopRate);
}

// The streaming thread, once per block: its time, nothing else.
void LoopbackRig::logBlock(void* context, EngineState&) {
    auto* rig = static_cast<LoopbackRig*>(context);
    const size_t i = rig->blockCount_.load(std::memory_order_relaxed);
    if (i >= rig->blocks_.size()) return;
    rig->blocks_[i] = rig->nowMs();
    rig->blockCount_.store(i + 1, std::memory_order_release);
}

DWORD WINAPI LoopbackRig::lookLoop(void* self) {
    auto* rig = static_cast<LoopbackRig*>(self);
    double played = 0.0;
    DWORD lastPlay = 0;
    bool seenPlay = false;
    while (rig->looking_) {
        const size_t i = rig->lookCount_.load(std::memory_order_relaxed);
        if (i >= rig->looks_.size()) break;
        CursorSample look;
        look.atMs = rig->nowMs();
        look.captureFrames = rig->capturedFrames();
        look.playFrames = NAN;  // no bursts yet: the play cursor does not count
        DWORD play = 0, write = 0;
        if (rig->playing_ && SUCCEEDED(rig->player_->GetCurrentPosition(&play, &write))) {
            // The player loops: a cursor that went back has wrapped.
            if (seenPlay && play < lastPlay) played += rig->playerBytes_;
            seenPlay = true;
            lastPlay = play;
            look.playFrames = (played + play) / 4.0;
        }
        rig->looks_[i] = look;
        rig->lookCount_.store(i + 1, std::memory_order_release);
        Sleep(1);
    }
    return 0;
}

#include "devices/directsound.h"

#include <windows.h>
#include <mmsystem.h>
#include <dsound.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "devices/audiosystem.h"
#include "devices/duplexloop.h"
#include "platform/platform.h"
#include "streamconv/binding.h"

struct DsState {
    DsDevice* playbackDevices = nullptr;
    DsDevice* captureDevices = nullptr;
    DsSettings settings;
    EngineState* engine = &gEngine;

    IDirectSound* playback = nullptr;
    IDirectSoundBuffer* primary = nullptr;
    IDirectSoundBuffer* secondary = nullptr;
    IDirectSoundNotify* playbackNotify = nullptr;
    IDirectSoundCapture* capture = nullptr;
    IDirectSoundCaptureBuffer* captureBuffer = nullptr;
    IDirectSoundNotify* captureNotify = nullptr;
    HANDLE playbackEvent = nullptr;
    HANDLE captureEvent = nullptr;
    HANDLE thread = nullptr;
    std::atomic<bool> stopRequest{false};
};

namespace {
DsState state;
}
DsState* gDs = &state;

namespace {

template <typename T>
void release(T*& object) {
    if (object) object->Release();
    object = nullptr;
}

// Appends a device to a list; the GUID the callback sees is valid only
// during the callback, so the node keeps its own copy.
bool appendDevice(DsDevice*& list, const GUID* id, const char* description) {
    auto* node = static_cast<DsDevice*>(std::calloc(1, sizeof(DsDevice)));
    if (!node) return false;
    if (id) {
        std::memcpy(node->guid, id, sizeof(GUID));
        node->id = node->guid;
    }
    std::snprintf(node->description, sizeof node->description, "%s", description ? description : "");
    DsDevice** tail = &list;
    while (*tail) tail = &(*tail)->next;
    *tail = node;
    return true;
}

int32_t enumerationResult = 0;

BOOL CALLBACK playbackFound(GUID* id, const char* description, const char*, void*) {
    if (appendDevice(state.playbackDevices, id, description)) return TRUE;
    enumerationResult = kDsNoMemoryPlayback;
    return FALSE;
}

BOOL CALLBACK captureFound(GUID* id, const char* description, const char*, void*) {
    if (appendDevice(state.captureDevices, id, description)) return TRUE;
    enumerationResult = kDsNoMemoryCapture;
    return FALSE;
}

const DsDevice* deviceAt(const DsDevice* list, int32_t index) {
    for (int32_t i = 0; list && i < index; ++i) list = list->next;
    return index >= 0 ? list : nullptr;
}

int32_t hresult(HRESULT result) { return static_cast<int32_t>(result); }

// ---- buffers ----

// One notification per block, at the block's last byte, signalling `event`.
HRESULT setNotifications(IDirectSoundNotify* notify, const DsGeometry& g, int32_t buffers, HANDLE event) {
    DSBPOSITIONNOTIFY positions[kMaxBuffers];
    for (int32_t k = 0; k < buffers; ++k) {
        positions[k].dwOffset = dsNotificationOffset(g, k);
        positions[k].hEventNotify = event;
    }
    return notify->SetNotificationPositions(static_cast<DWORD>(buffers), positions);
}

int32_t createCaptureBuffer() {
    DsState& s = state;
    if (s.settings.formatIndex >= kAudioFormats) return kDsCaptureFormatError;
    if (!s.capture || s.captureBuffer) return 0;
    if (s.engine->blockSize == 0) return kDsCaptureSizeError;
    WAVEFORMATEX format = dsFormatRecord(s.settings.formatIndex);
    const DsGeometry g = dsGeometry(s.settings.formatIndex, s.settings.latencyMs, s.settings.buffers);
    // The first version of the description (20 bytes on 32-bit Windows).
    DSCBUFFERDESC description{};
    description.dwSize = sizeof(DSCBUFFERDESC1);
    description.dwBufferBytes = g.ringBytes;
    description.lpwfxFormat = &format;
    HRESULT result = s.capture->CreateCaptureBuffer(&description, &s.captureBuffer, nullptr);
    if (SUCCEEDED(result))
        result = s.captureBuffer->QueryInterface(IID_IDirectSoundNotify, reinterpret_cast<void**>(&s.captureNotify));
    if (SUCCEEDED(result)) result = setNotifications(s.captureNotify, g, s.settings.buffers, s.captureEvent);
    if (FAILED(result)) {
        release(s.captureNotify);
        release(s.captureBuffer);
        return hresult(result);
    }
    return 0;
}

int32_t createPlaybackBuffers() {
    DsState& s = state;
    if (s.settings.formatIndex >= kAudioFormats) return kDsPlaybackFormatError;
    if (!s.playback || s.primary || s.secondary) return 0;
    if (s.engine->blockSize == 0) return kDsPlaybackSizeError;
    WAVEFORMATEX format = dsFormatRecord(s.settings.formatIndex);
    const DsGeometry g = dsGeometry(s.settings.formatIndex, s.settings.latencyMs, s.settings.buffers);
    DSBUFFERDESC primary{};
    primary.dwSize = sizeof(DSBUFFERDESC);  // 36 bytes on 32-bit Windows
    primary.dwFlags = DSBCAPS_PRIMARYBUFFER;
    HRESULT result = s.playback->CreateSoundBuffer(&primary, &s.primary, nullptr);
    if (SUCCEEDED(result)) result = s.primary->SetFormat(&format);
    if (SUCCEEDED(result)) {
        DSBUFFERDESC secondary{};
        secondary.dwSize = sizeof(DSBUFFERDESC);
        secondary.dwFlags = DSBCAPS_GETCURRENTPOSITION2 | DSBCAPS_CTRLPOSITIONNOTIFY;
        secondary.dwBufferBytes = g.ringBytes;
        secondary.lpwfxFormat = &format;
        result = s.playback->CreateSoundBuffer(&secondary, &s.secondary, nullptr);
    }
    if (SUCCEEDED(result))
        result = s.secondary->QueryInterface(IID_IDirectSoundNotify, reinterpret_cast<void**>(&s.playbackNotify));
    if (SUCCEEDED(result)) result = setNotifications(s.playbackNotify, g, s.settings.buffers, s.playbackEvent);
    if (FAILED(result)) {
        release(s.secondary);
        release(s.primary);
        release(s.playbackNotify);
        return hresult(result);
    }
    return 0;
}

void releaseStreamBuffers() {
    DsState& s = state;
    release(s.captureNotify);
    release(s.captureBuffer);
    release(s.playbackNotify);
    release(s.secondary);
    release(s.primary);
}

// The DirectSound buffers behind the streaming loop.
class DirectSoundDuplex final : public DuplexDevice {
public:
    bool lockCapture(uint32_t offset, uint32_t bytes, void** region, uint32_t* regionBytes) override {
        DWORD got = 0;
        const bool ok = SUCCEEDED(state.captureBuffer->Lock(offset, bytes, region, &got, nullptr, nullptr, 0));
        *regionBytes = got;
        return ok;
    }
    bool unlockCapture(void* region, uint32_t regionBytes) override {
        return SUCCEEDED(state.captureBuffer->Unlock(region, regionBytes, nullptr, 0));
    }
    bool lockPlayback(uint32_t offset, uint32_t bytes, void** region, uint32_t* regionBytes) override {
        DWORD got = 0;
        const bool ok = SUCCEEDED(state.secondary->Lock(offset, bytes, region, &got, nullptr, nullptr, 0));
        *regionBytes = got;
        return ok;
    }
    bool unlockPlayback(void* region, uint32_t regionBytes) override {
        return SUCCEEDED(state.secondary->Unlock(region, regionBytes, nullptr, 0));
    }
    bool startCapture() override { return SUCCEEDED(state.captureBuffer->Start(DSCBSTART_LOOPING)); }
    bool startPlayback() override {
        return SUCCEEDED(state.primary->Play(0, 0, DSBPLAY_LOOPING)) &&
               SUCCEEDED(state.secondary->Play(0, 0, DSBPLAY_LOOPING));
    }
    bool rewindPlayback() override { return SUCCEEDED(state.secondary->SetCurrentPosition(0)); }
    bool playbackStatus(bool& lost) override {
        DWORD status = 0;
        if (FAILED(state.secondary->GetStatus(&status))) return false;
        lost = (status & DSBSTATUS_BUFFERLOST) != 0;
        return true;
    }
    bool restorePlayback() override { return SUCCEEDED(state.secondary->Restore()); }
    void resetEvents() override {
        ResetEvent(state.playbackEvent);
        ResetEvent(state.captureEvent);
    }
    void waitForCapture() override { WaitForSingleObject(state.captureEvent, INFINITE); }
    void sleepMs(uint32_t ms) override { Sleep(ms); }
    void stopAll() override {
        if (state.captureBuffer) state.captureBuffer->Stop();
        if (state.secondary) state.secondary->Stop();
        if (state.primary) state.primary->Stop();
    }
};

DWORD WINAPI streamingThread(void*) {
    DirectSoundDuplex device;
    DuplexSettings settings;
    settings.format = dsFormatRecord(state.settings.formatIndex);
    settings.buffers = state.settings.buffers;
    settings.outputDelayMs = state.settings.outputDelayMs;
    duplexRun(device, settings, *state.engine, state.stopRequest);
    releaseStreamBuffers();
    return 0;
}

// The size of a format test's buffer: 1000 bytes per ring block.
DWORD testBufferBytes() { return static_cast<DWORD>(state.settings.buffers) * 1000; }

}  // namespace

const DsDevice* dsPlaybackDevices() { return state.playbackDevices; }
const DsDevice* dsCaptureDevices() { return state.captureDevices; }
DsSettings& dsSettings() { return state.settings; }
void dsSetEngine(EngineState* engine) { state.engine = engine ? engine : &gEngine; }
bool dsStreaming() { return state.thread != nullptr; }

int32_t dsEnumerateDevices() {
    enumerationResult = 0;
    DirectSoundEnumerateA(playbackFound, nullptr);
    if (enumerationResult == 0) DirectSoundCaptureEnumerateA(captureFound, nullptr);
    return enumerationResult;
}

void dsFreeDevices() {
    for (DsDevice** list : {&state.playbackDevices, &state.captureDevices}) {
        while (DsDevice* node = *list) {
            *list = node->next;
            std::free(node);
        }
    }
}

int32_t dsOpenOutput(int32_t index, void* window) {
    DsState& s = state;
    if (s.playback || index < 0) return 0;
    const DsDevice* device = deviceAt(s.playbackDevices, index);
    if (!device) return kDsNoOutputDriver;
    HRESULT result = DirectSoundCreate(static_cast<const GUID*>(device->id), &s.playback, nullptr);
    if (FAILED(result)) {
        s.playback = nullptr;
        return hresult(result);
    }
    result = s.playback->SetCooperativeLevel(static_cast<HWND>(window), DSSCL_PRIORITY);
    if (FAILED(result)) {
        release(s.playback);
        return hresult(result);
    }
    s.settings.outputIndex = index;
    return 0;
}

int32_t dsOpenInput(int32_t index) {
    DsState& s = state;
    if (s.capture || index < 0) return 0;
    const DsDevice* device = deviceAt(s.captureDevices, index);
    if (!device) return kDsNoInputDriver;
    HRESULT result = DirectSoundCaptureCreate(static_cast<const GUID*>(device->id), &s.capture, nullptr);
    if (FAILED(result)) {
        s.capture = nullptr;
        return hresult(result);
    }
    s.settings.inputIndex = index;
    return 0;
}

int32_t dsCloseOutput() {
    DsState& s = state;
    if (!s.playback) return 0;
    dsStop();
    const ULONG left = s.playback->Release();
    (void)left;
    s.playback = nullptr;
    s.settings.outputIndex = -1;
    return 0;
}

int32_t dsCloseInput() {
    DsState& s = state;
    if (!s.capture) return 0;
    dsStop();
    s.capture->Release();
    s.capture = nullptr;
    s.settings.inputIndex = -1;
    return 0;
}

int32_t dsTestOutputFormat(int formatIndex) {
    DsState& s = state;
    if (!s.playback) return 1;
    if (formatIndex < 0 || formatIndex >= kAudioFormats) return 0;
    WAVEFORMATEX format = dsFormatRecord(formatIndex);
    DSBUFFERDESC description{};
    description.dwSize = sizeof(DSBUFFERDESC1);  // 20 bytes on 32-bit Windows
    description.dwFlags = DSBCAPS_CTRLPOSITIONNOTIFY;
    description.dwBufferBytes = testBufferBytes();
    description.lpwfxFormat = &format;
    IDirectSoundBuffer* buffer = nullptr;
    const bool ok = SUCCEEDED(s.playback->CreateSoundBuffer(&description, &buffer, nullptr));
    release(buffer);
    return ok ? 1 : 0;
}

int32_t dsTestInputFormat(int formatIndex) {
    DsState& s = state;
    if (!s.capture) return 1;
    if (formatIndex < 0 || formatIndex >= kAudioFormats) return 0;
    WAVEFORMATEX format = dsFormatRecord(formatIndex);
    DSCBUFFERDESC description{};
    description.dwSize = sizeof(DSCBUFFERDESC1);
    description.dwBufferBytes = testBufferBytes();
    description.lpwfxFormat = &format;
    IDirectSoundCaptureBuffer* buffer = nullptr;
    const bool ok = SUCCEEDED(s.capture->CreateCaptureBuffer(&description, &buffer, nullptr));
    release(buffer);
    return ok ? 1 : 0;
}

int32_t dsApplySettings(int32_t outputIndex, int32_t inputIndex, int formatIndex, uint32_t latencyMs, int32_t buffers,
                        void* window) {
    DsState& s = state;
    gAudioSystem = kAudioSystemDirectSound;
    s.settings.latencyMs = latencyMs;
    s.engine->blockSize = dsGeometry(s.settings.formatIndex, latencyMs, 1).blockFrames;
    s.settings.buffers = buffers >= 65 ? 32 : buffers;

    int32_t result = 0;
    if (outputIndex != s.settings.outputIndex) {
        if ((result = dsCloseOutput()) != 0 || (outputIndex >= 0 && (result = dsOpenOutput(outputIndex, window)) != 0)) {
            dsCloseInput();
            return result;
        }
    }
    if (inputIndex != s.settings.inputIndex) {
        if ((result = dsCloseInput()) != 0 || (inputIndex >= 0 && (result = dsOpenInput(inputIndex)) != 0)) {
            dsCloseOutput();
            return result;
        }
    }
    if (dsTestInputFormat(formatIndex) + dsTestOutputFormat(formatIndex) == 2) {
        s.settings.formatIndex = static_cast<uint8_t>(formatIndex);
        s.engine->blockSize = dsGeometry(formatIndex, latencyMs, 1).blockFrames;
        return 0;
    }
    dsCloseInput();
    dsCloseOutput();
    return kDsFormatRefused;
}

int32_t dsStart() {
    DsState& s = state;
    s.settings.buffers = dsClampBuffers(s.settings.buffers);
    for (HANDLE* event : {&s.playbackEvent, &s.captureEvent}) {
        if (*event) CloseHandle(*event);
        *event = CreateEventA(nullptr, FALSE, FALSE, nullptr);
        if (!*event) return kDsEventError;
    }
    if (s.settings.formatIndex >= kAudioFormats) return kDsCaptureFormatError;
    const StreamFormat format = dsFormatRecord(s.settings.formatIndex);
    const int32_t configured = engineConfigure(*s.engine, format.nSamplesPerSec, format.nChannels == 2);
    // "Unchanged" is no failure: the buffers of the last configuration stand.
    if (configured != 0 && configured != kConfigureUnchanged) return configured;
    int32_t result = createCaptureBuffer();
    if (result != 0) return result;
    result = createPlaybackBuffers();
    if (result != 0) {
        releaseStreamBuffers();
        return result;
    }
    s.stopRequest = false;
    if (s.thread) CloseHandle(s.thread);
    s.thread = CreateThread(nullptr, 0, streamingThread, nullptr, 0, nullptr);
    if (!s.thread) {
        releaseStreamBuffers();
        return kDsThreadError;
    }
    SetThreadPriority(s.thread, THREAD_PRIORITY_ABOVE_NORMAL);
    return 0;
}

int32_t dsStop() {
    DsState& s = state;
    if (!s.thread) return 0;
    s.stopRequest = true;
    // The thread waits for the capture device's next block; a device that
    // stopped signalling must not keep it waiting.
    if (s.captureEvent) SetEvent(s.captureEvent);
    WaitForSingleObject(s.thread, INFINITE);
    CloseHandle(s.thread);
    s.thread = nullptr;
    for (HANDLE* event : {&s.playbackEvent, &s.captureEvent}) {
        if (*event) CloseHandle(*event);
        *event = nullptr;
    }
    return 0;
}

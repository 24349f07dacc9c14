// The WASAPI back-end on the platform's audio clients: endpoint discovery,
// one audio client per direction behind the core's endpoint calls, the
// streaming thread (MMCSS "Pro Audio" where the system has it) waiting on
// both clients' events, and the device notifications that turn a lost or
// changed endpoint into the engine's STATUS_DEVICE_LOST.
#include <windows.h>
#include <initguid.h>
#include <mmdeviceapi.h>
#include <audioclient.h>
#include <functiondiscoverykeys_devpkey.h>
#include <ks.h>
#include <ksmedia.h>

#include <atomic>
#include <cstring>
#include <vector>

#include "devices/audiosystem.h"
#include "devices/wasapi.h"

namespace {

constexpr int kMaxDevices = 64;
// The extensible format's sub-types (the format tag in the first field).
constexpr GUID kSubtypePcm = {0x00000001, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xaa, 0x00, 0x38, 0x9b, 0x71}};
constexpr GUID kSubtypeFloat = {0x00000003, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xaa, 0x00, 0x38, 0x9b, 0x71}};

template <class T>
void release(T*& p) {
    if (p) p->Release();
    p = nullptr;
}

void toNarrow(const wchar_t* text, char* out, size_t size, UINT codePage) {
    out[0] = '\0';
    if (!text) return;
    const int n = WideCharToMultiByte(codePage, 0, text, -1, out, static_cast<int>(size), nullptr, nullptr);
    if (n <= 0) out[0] = '\0';
    out[size - 1] = '\0';
}

bool toWide(const char* text, wchar_t* out, int size) {
    return MultiByteToWideChar(CP_UTF8, 0, text, -1, out, size) > 0;
}

// The format record of a platform format: the extensible form resolved to
// PCM or float, cbSize 0.
bool resolveFormat(const WAVEFORMATEX* w, StreamFormat& f) {
    if (!w) return false;
    f = *w;
    f.cbSize = 0;
    if (w->wFormatTag == WAVE_FORMAT_EXTENSIBLE) {
        if (w->cbSize < 22) return false;
        const auto* x = reinterpret_cast<const WAVEFORMATEXTENSIBLE*>(w);
        if (IsEqualGUID(x->SubFormat, kSubtypeFloat)) f.wFormatTag = kWaveFormatFloat;
        else if (IsEqualGUID(x->SubFormat, kSubtypePcm)) f.wFormatTag = kWaveFormatPcm;
        else return false;
    }
    return true;
}

// The extensible form of a format record, as the clients are given it.
WAVEFORMATEXTENSIBLE extensible(const StreamFormat& f, DWORD mixMask) {
    WAVEFORMATEXTENSIBLE x{};
    x.Format = f;
    x.Format.wFormatTag = WAVE_FORMAT_EXTENSIBLE;
    x.Format.cbSize = 22;
    x.Samples.wValidBitsPerSample = f.wBitsPerSample;
    x.dwChannelMask = f.nChannels == 1 ? SPEAKER_FRONT_CENTER
                      : f.nChannels == 2 ? (SPEAKER_FRONT_LEFT | SPEAKER_FRONT_RIGHT)
                                         : mixMask;
    x.SubFormat = f.wFormatTag == kWaveFormatFloat ? kSubtypeFloat : kSubtypePcm;
    return x;
}

class ComEndpoint final : public WasapiEndpoint {
public:
    IMMDevice* device = nullptr;
    IAudioClient* client = nullptr;
    IAudioCaptureClient* captureClient = nullptr;
    IAudioRenderClient* renderClient = nullptr;
    HANDLE event = nullptr;
    bool capture = false;
    bool converted = false;  // the capture side was asked for the render side's rate

    ~ComEndpoint() { close(); }

    int32_t open(IMMDevice* d, bool isCapture) {
        close();
        device = d;
        device->AddRef();
        capture = isCapture;
        event = CreateEventA(nullptr, FALSE, FALSE, nullptr);
        if (!event) return kWasapiOpenError;
        return activate();
    }
    void close() {
        releaseClient();
        release(device);
        if (event) CloseHandle(event);
        event = nullptr;
    }

    int32_t mixFormat(StreamFormat& f) override {
        WAVEFORMATEX* w = nullptr;
        const HRESULT hr = client->GetMixFormat(&w);
        if (FAILED(hr)) return hr;
        if (w && w->wFormatTag == WAVE_FORMAT_EXTENSIBLE && w->cbSize >= 22)
            mixMask_ = reinterpret_cast<WAVEFORMATEXTENSIBLE*>(w)->dwChannelMask;
        const bool ok = resolveFormat(w, f);
        CoTaskMemFree(w);
        return ok ? 0 : kAudclntUnsupportedFormat;
    }
    int32_t devicePeriod(int64_t& d, int64_t& m) override {
        REFERENCE_TIME a = 0, b = 0;
        const HRESULT hr = client->GetDevicePeriod(&a, &b);
        d = a;
        m = b;
        return hr;
    }
    int32_t sharedPeriods(const StreamFormat& f, uint32_t& d, uint32_t& m) override {
        IAudioClient3* c3 = nullptr;
        if (FAILED(client->QueryInterface(__uuidof(IAudioClient3), reinterpret_cast<void**>(&c3))) || !c3)
            return kNoInterface;
        WAVEFORMATEXTENSIBLE x = extensible(f, mixMask_);
        UINT32 def = 0, fundamental = 0, minimum = 0, maximum = 0;
        const HRESULT hr = c3->GetSharedModeEnginePeriod(&x.Format, &def, &fundamental, &minimum, &maximum);
        c3->Release();
        d = def;
        m = minimum;
        return hr;
    }
    int32_t initialize(uint32_t mode, const StreamFormat& f, int64_t duration, uint32_t periodFrames) override {
        WAVEFORMATEXTENSIBLE x = extensible(f, mixMask_);
        HRESULT hr = E_FAIL;
        if (mode == kWasapiSharedLowLatency) {
            IAudioClient3* c3 = nullptr;
            if (FAILED(client->QueryInterface(__uuidof(IAudioClient3), reinterpret_cast<void**>(&c3))) || !c3)
                return kNoInterface;
            hr = c3->InitializeSharedAudioStream(AUDCLNT_STREAMFLAGS_EVENTCALLBACK, periodFrames, &x.Format, nullptr);
            c3->Release();
        } else if (mode == kWasapiExclusive) {
            hr = client->Initialize(AUDCLNT_SHAREMODE_EXCLUSIVE, AUDCLNT_STREAMFLAGS_EVENTCALLBACK, duration, duration,
                                    &x.Format, nullptr);
        } else {
            DWORD flags = AUDCLNT_STREAMFLAGS_EVENTCALLBACK;
            StreamFormat mix{};
            if (mixFormat(mix) == 0 && mix.nSamplesPerSec != f.nSamplesPerSec)
                flags |= AUDCLNT_STREAMFLAGS_AUTOCONVERTPCM | AUDCLNT_STREAMFLAGS_SRC_DEFAULT_QUALITY;
            hr = client->Initialize(AUDCLNT_SHAREMODE_SHARED, flags, 0, 0, &x.Format, nullptr);
        }
        if (FAILED(hr)) return hr;
        hr = client->SetEventHandle(event);
        if (SUCCEEDED(hr)) {
            hr = capture ? client->GetService(__uuidof(IAudioCaptureClient), reinterpret_cast<void**>(&captureClient))
                         : client->GetService(__uuidof(IAudioRenderClient), reinterpret_cast<void**>(&renderClient));
        }
        return hr;
    }
    int32_t renew() override {
        releaseClient();
        return activate();
    }
    int32_t bufferFrames(uint32_t& frames) override {
        UINT32 n = 0;
        const HRESULT hr = client->GetBufferSize(&n);
        frames = n;
        return hr;
    }
    int32_t streamLatency(int64_t& latency) override {
        REFERENCE_TIME t = 0;
        const HRESULT hr = client->GetStreamLatency(&t);
        latency = t;
        return hr;
    }
    int32_t start() override { return client->Start(); }
    int32_t stop() override { return client ? client->Stop() : 0; }
    int32_t nextPacket(uint32_t& frames) override {
        UINT32 n = 0;
        const HRESULT hr = captureClient->GetNextPacketSize(&n);
        frames = n;
        return hr;
    }
    int32_t readPacket(const uint8_t*& data, uint32_t& frames, uint32_t& flags) override {
        BYTE* p = nullptr;
        UINT32 n = 0;
        DWORD f = 0;
        const HRESULT hr = captureClient->GetBuffer(&p, &n, &f, nullptr, nullptr);
        data = p;
        frames = n;
        flags = f;
        return hr == AUDCLNT_S_BUFFER_EMPTY ? 0 : hr;
    }
    int32_t releasePacket(uint32_t frames) override { return captureClient->ReleaseBuffer(frames); }
    int32_t padding(uint32_t& frames) override {
        UINT32 n = 0;
        const HRESULT hr = client->GetCurrentPadding(&n);
        frames = n;
        return hr;
    }
    int32_t renderBuffer(uint32_t frames, uint8_t*& data) override {
        BYTE* p = nullptr;
        const HRESULT hr = renderClient->GetBuffer(frames, &p);
        data = p;
        return hr;
    }
    int32_t releaseRender(uint32_t frames, bool silent) override {
        return renderClient->ReleaseBuffer(frames, silent ? AUDCLNT_BUFFERFLAGS_SILENT : 0);
    }

private:
    DWORD mixMask_ = 0;

    int32_t activate() {
        if (!device) return kWasapiOpenError;
        return device->Activate(__uuidof(IAudioClient), CLSCTX_ALL, nullptr, reinterpret_cast<void**>(&client));
    }
    void releaseClient() {
        release(captureClient);
        release(renderClient);
        release(client);
    }
};

class EventWait final : public WasapiEvents {
public:
    HANDLE handles[3] = {};  // stop, capture, render
    WasapiWake wait(uint32_t timeoutMs) override {
        const DWORD r = WaitForMultipleObjects(3, handles, FALSE, timeoutMs);
        if (r == WAIT_OBJECT_0) return WasapiWake::Stop;
        if (r == WAIT_OBJECT_0 + 1) return WasapiWake::Capture;
        if (r == WAIT_OBJECT_0 + 2) return WasapiWake::Render;
        if (r == WAIT_TIMEOUT) return WasapiWake::Timeout;
        return WasapiWake::Stop;
    }
};

// Device notifications: the endpoint in use removed, disabled or replaced
// as the default one that was followed.
class Notifications final : public IMMNotificationClient {
public:
    std::atomic<bool> watching{false};
    wchar_t inputId[kWasapiIdSize] = L"";
    wchar_t outputId[kWasapiIdSize] = L"";
    bool followInput = false, followOutput = false;
    EngineState* engine = nullptr;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, __uuidof(IMMNotificationClient))) {
            *out = static_cast<IMMNotificationClient*>(this);
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return 1; }  // a static object
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    HRESULT STDMETHODCALLTYPE OnDeviceStateChanged(LPCWSTR id, DWORD state) override {
        if (state != DEVICE_STATE_ACTIVE) lost(id);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE OnDeviceAdded(LPCWSTR) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE OnDeviceRemoved(LPCWSTR id) override {
        lost(id);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE OnDefaultDeviceChanged(EDataFlow flow, ERole role, LPCWSTR) override {
        if (!watching.load() || role != eConsole) return S_OK;
        if ((flow == eCapture && followInput) || (flow == eRender && followOutput)) signal();
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE OnPropertyValueChanged(LPCWSTR, const PROPERTYKEY) override { return S_OK; }

private:
    void lost(LPCWSTR id) {
        if (!watching.load() || !id) return;
        if (lstrcmpiW(id, inputId) == 0 || lstrcmpiW(id, outputId) == 0) signal();
    }
    void signal() {
        if (engine) engine->engineStatus.fetch_or(STATUS_DEVICE_LOST);
    }
};

struct WasapiState {
    EngineState* engine = &gEngine;
    WasapiSettings settings;
    std::vector<WasapiDevice> lists[2];  // render, capture
    IMMDeviceEnumerator* enumerator = nullptr;
    Notifications notifications;
    bool registered = false;
    ComEndpoint capture, render;
    EventWait events;
    WasapiStream stream;
    WasapiCounters counters;
    std::vector<float> fifoLeft, fifoRight;
    WasapiFifo fifo;
    HANDLE thread = nullptr;
    HANDLE stopEvent = nullptr;
};
WasapiState state;

bool haveEnumerator() {
    WasapiState& s = state;
    if (s.enumerator) return true;
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    if (FAILED(CoCreateInstance(__uuidof(MMDeviceEnumerator), nullptr, CLSCTX_ALL, __uuidof(IMMDeviceEnumerator),
                                reinterpret_cast<void**>(&s.enumerator))))
        s.enumerator = nullptr;
    if (s.enumerator && !s.registered)
        s.registered = SUCCEEDED(s.enumerator->RegisterEndpointNotificationCallback(&s.notifications));
    return s.enumerator != nullptr;
}

// The endpoint of a direction: by id, or the default one for an empty id.
IMMDevice* endpointFor(bool capture, const char* id) {
    WasapiState& s = state;
    IMMDevice* device = nullptr;
    if (!id[0]) {
        if (FAILED(s.enumerator->GetDefaultAudioEndpoint(capture ? eCapture : eRender, eConsole, &device)))
            return nullptr;
        return device;
    }
    wchar_t wide[kWasapiIdSize];
    if (!toWide(id, wide, kWasapiIdSize) || FAILED(s.enumerator->GetDevice(wide, &device))) return nullptr;
    return device;
}

void idOf(IMMDevice* device, wchar_t* out, size_t size) {
    out[0] = L'\0';
    LPWSTR id = nullptr;
    if (SUCCEEDED(device->GetId(&id)) && id) {
        lstrcpynW(out, id, static_cast<int>(size));
        CoTaskMemFree(id);
    }
}

DWORD WINAPI streamingThread(void*) {
    WasapiState& s = state;
    CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    // MMCSS where the system has it; the thread's own priority otherwise.
    HANDLE task = nullptr;
    HMODULE avrt = LoadLibraryA("avrt.dll");
    using SetCharacteristics = HANDLE(WINAPI*)(LPCSTR, LPDWORD);
    using RevertCharacteristics = BOOL(WINAPI*)(HANDLE);
    auto set = avrt ? reinterpret_cast<SetCharacteristics>(
                          reinterpret_cast<void*>(GetProcAddress(avrt, "AvSetMmThreadCharacteristicsA")))
                    : nullptr;
    auto revert = avrt ? reinterpret_cast<RevertCharacteristics>(
                             reinterpret_cast<void*>(GetProcAddress(avrt, "AvRevertMmThreadCharacteristics")))
                       : nullptr;
    DWORD taskIndex = 0;
    if (set) task = set("Pro Audio", &taskIndex);
    if (!task) SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_TIME_CRITICAL);
    wasapiRun(s.capture, s.render, s.events, s.stream, s.fifo, *s.engine, s.counters);
    if (task && revert) revert(task);
    if (avrt) FreeLibrary(avrt);
    CoUninitialize();
    return 0;
}

void closeStreams() {
    WasapiState& s = state;
    s.notifications.watching = false;
    s.capture.close();
    s.render.close();
}

}  // namespace

WasapiSettings& wasapiSettings() { return state.settings; }
void wasapiSetEngine(EngineState* engine) { state.engine = engine ? engine : &gEngine; }

int32_t wasapiEnumerate() {
    WasapiState& s = state;
    s.lists[0].clear();
    s.lists[1].clear();
    if (!haveEnumerator()) return kWasapiOpenError;
    for (int direction = 0; direction < 2; ++direction) {
        IMMDeviceCollection* all = nullptr;
        if (FAILED(s.enumerator->EnumAudioEndpoints(direction == 0 ? eRender : eCapture, DEVICE_STATE_ACTIVE, &all)))
            continue;
        UINT count = 0;
        all->GetCount(&count);
        for (UINT i = 0; i < count && i < kMaxDevices; ++i) {
            IMMDevice* device = nullptr;
            if (FAILED(all->Item(i, &device)) || !device) continue;
            WasapiDevice entry{};
            wchar_t id[kWasapiIdSize];
            idOf(device, id, kWasapiIdSize);
            toNarrow(id, entry.id, sizeof entry.id, CP_UTF8);
            IPropertyStore* properties = nullptr;
            if (SUCCEEDED(device->OpenPropertyStore(STGM_READ, &properties)) && properties) {
                PROPVARIANT name;
                PropVariantInit(&name);
                if (SUCCEEDED(properties->GetValue(PKEY_Device_FriendlyName, &name)) && name.vt == VT_LPWSTR)
                    toNarrow(name.pwszVal, entry.name, sizeof entry.name, CP_ACP);
                PropVariantClear(&name);
                properties->Release();
            }
            if (!entry.name[0]) lstrcpynA(entry.name, entry.id, sizeof entry.name);
            if (entry.id[0]) s.lists[direction].push_back(entry);
            device->Release();
        }
        all->Release();
    }
    return 0;
}

int wasapiDeviceCount(bool capture) { return static_cast<int>(state.lists[capture ? 1 : 0].size()); }
const WasapiDevice* wasapiDeviceAt(bool capture, int index) {
    const std::vector<WasapiDevice>& list = state.lists[capture ? 1 : 0];
    return index >= 0 && index < static_cast<int>(list.size()) ? &list[static_cast<size_t>(index)] : nullptr;
}

void wasapiApply(uint32_t mode, const char* inputId, const char* outputId) {
    WasapiSettings& w = state.settings;
    w.mode = mode < kWasapiModeCount ? mode : kWasapiShared;
    lstrcpynA(w.inputId, inputId ? inputId : "", sizeof w.inputId);
    lstrcpynA(w.outputId, outputId ? outputId : "", sizeof w.outputId);
    gAudioSystem = kAudioSystemWasapi;
}

bool wasapiFollowsDefault() { return !state.settings.inputId[0] && !state.settings.outputId[0]; }
const WasapiStream& wasapiLastStream() { return state.stream; }
const WasapiCounters& wasapiCounters() { return state.counters; }
bool wasapiStreaming() { return state.thread != nullptr; }

int32_t wasapiStart() {
    WasapiState& s = state;
    if (s.thread) return 0;
    if (!haveEnumerator()) return kWasapiOpenError;
    IMMDevice* in = endpointFor(true, s.settings.inputId);
    IMMDevice* out = endpointFor(false, s.settings.outputId);
    int32_t result = in && out ? 0 : kWasapiDeviceLost;
    if (result == 0 && (s.capture.open(in, true) != 0 || s.render.open(out, false) != 0)) result = kWasapiOpenError;
    if (result == 0) {
        idOf(in, s.notifications.inputId, kWasapiIdSize);
        idOf(out, s.notifications.outputId, kWasapiIdSize);
        s.notifications.followInput = !s.settings.inputId[0];
        s.notifications.followOutput = !s.settings.outputId[0];
        s.notifications.engine = s.engine;
    }
    release(in);
    release(out);
    // Exclusive mode asks for 48 kHz 24-bit stereo first, then the mix
    // format's rate at 24 and 16 bits.
    const StreamFormat asked = pcmFormat(48000, 2, 24);
    if (result == 0) result = wasapiOpen(s.capture, s.render, s.settings.mode, asked, s.stream);
    if (result != 0) {
        closeStreams();
        return result;
    }
    s.engine->blockSize = s.stream.periodFrames;
    const int32_t configured = engineConfigure(*s.engine, s.stream.rate, s.stream.renderFormat.nChannels >= 2);
    if (configured != 0 && configured != kConfigureUnchanged) {
        closeStreams();
        return configured;
    }
    const uint32_t capacity = wasapiFifoCapacity(s.stream);
    s.fifoLeft.assign(capacity, 0.0f);
    s.fifoRight.assign(capacity, 0.0f);
    s.fifo = WasapiFifo{s.fifoLeft.data(), s.fifoRight.data(), capacity, 0, 0};
    s.counters.underruns = s.counters.overruns = s.counters.highWater = s.counters.blocks = 0;
    if (!s.stopEvent) s.stopEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (!s.stopEvent) {
        closeStreams();
        return kWasapiOpenError;
    }
    ResetEvent(s.stopEvent);
    s.events.handles[0] = s.stopEvent;
    s.events.handles[1] = s.capture.event;
    s.events.handles[2] = s.render.event;
    s.notifications.watching = true;
    s.thread = CreateThread(nullptr, 0, streamingThread, nullptr, 0, nullptr);
    if (!s.thread) {
        closeStreams();
        return kWasapiOpenError;
    }
    return 0;
}

int32_t wasapiStop() {
    WasapiState& s = state;
    if (!s.thread) return 0;
    s.notifications.watching = false;
    SetEvent(s.stopEvent);
    WaitForSingleObject(s.thread, INFINITE);
    CloseHandle(s.thread);
    s.thread = nullptr;
    closeStreams();
    return 0;
}

void wasapiShutdown() {
    WasapiState& s = state;
    wasapiStop();
    if (s.enumerator && s.registered) s.enumerator->UnregisterEndpointNotificationCallback(&s.notifications);
    s.registered = false;
    release(s.enumerator);
    if (s.stopEvent) CloseHandle(s.stopEvent);
    s.stopEvent = nullptr;
}

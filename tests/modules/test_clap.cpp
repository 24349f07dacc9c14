// A CLAP module for tests: a gain effect and an instrument a host that keeps
// effects must skip. Built as testmodules/clap/QvTestGain.clap in the build
// tree (a shared library natively, a DLL on Windows). Compile definitions
// make the hostile variants (testmodules/clap-hostile/):
//   TCLAP_NO_ENTRY     no clap_entry export
//   TCLAP_OLD_VERSION  clap_entry declares interface version 0.9.0
//   TCLAP_FAIL_ENTRY   clap_entry's init always fails
//   TCLAP_GARBAGE      a factory of 1000000 descriptors: null records, null
//                      ids, names and feature lists, version 0 records,
//                      empty and 64 KiB long strings, one effect id repeated
//                      that cannot be created
//   TCLAP_CRASH        get_factory writes through a bad pointer
//
// Plug-ins:
//   "Qv Test Gain"   org.quorvane.test.gain   {"audio-effect", "stereo"}
//   "Qv Test Synth"  org.quorvane.test.synth  {"instrument"}; listed only
//
// Parameters (plain values): 0 "Gain" 0..2 (default 1, automatable), 1
// "Latency" 0..1000 samples (stepped; a change while active asks the host
// for a restart and takes effect at the next activate), 2 "Peak" (read-only,
// the output peak of every processed block, sent as an output event whenever
// it changes). The state is "QVCL", u32 version 1, f64 gain, f64 latency
// (little-endian, 24 bytes), written at most 7 bytes per call.
//
// The environment variable QV_TCLAP switches behaviour at run time; it may
// hold several words. It is read on the main thread only (at creation,
// init, activate and save):
//   mono-ports          one channel per port instead of two
//   damaged-state       save writes 7 garbage bytes
//   no-gui              no gui extension (there is none natively)
//   fail-init           the plug-in's init fails
//   fail-activate       activate fails
//   wrong-thread        process calls the host's params rescan (a main-thread
//                       function) once per activation
//   restart-in-process  process calls request_restart once per activation
//   log                 init logs one info message through the host
//
// Tests load the same library file as the host and read what the host did
// through tclapCounts and the tclapLast* functions.
#include <atomic>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "wrappers/clap/clapabi.h"

#if defined(_WIN32)
#include <windows.h>
#include <windowsx.h>
#endif

#if defined(_WIN32)
#define TCLAP_EXPORT extern "C" __declspec(dllexport)
#else
#define TCLAP_EXPORT extern "C" __attribute__((visibility("default")))
#endif

namespace {

constexpr char kGainPluginId[] = "org.quorvane.test.gain";
constexpr char kSynthPluginId[] = "org.quorvane.test.synth";
constexpr clap::Id kGainParam = 0, kLatencyParam = 1, kPeakParam = 2;
constexpr uint32_t kParamCount = 3;
constexpr double kMaxGain = 2.0, kMaxLatency = 1000.0;
constexpr uint32_t kStateBytes = 24;
constexpr uint64_t kStatePiece = 7;  // bytes per stream call, so hosts must loop
constexpr uint32_t kTimerPeriodMs = 50;
constexpr uint32_t kMaxChannels = 64;

// ---- what tests read ----

enum Count {
    kModuleInits, kModuleExits, kLivePlugins, kInitCalls, kDestroyCalls, kActivations, kDeactivations,
    kProcessingStarts, kProcessingStops, kProcessCalls, kLastMaxFrames, kLastSampleRate, kRestartRequests,
    kTimerTicks, kThreadViolations, kFlushCalls, kCounts
};
// Written on whatever thread the host calls from (process on its audio
// thread), read by tests on theirs.
std::atomic<int32_t> counts[kCounts];
std::atomic<double> lastTempo{-1.0};
std::atomic<int64_t> lastPosition{-1};
std::atomic<int32_t> lastLatency{-1};

void bump(Count c) { counts[c].fetch_add(1, std::memory_order_relaxed); }
void drop(Count c) { counts[c].fetch_sub(1, std::memory_order_relaxed); }

// ---- small helpers ----

// Whether QV_TCLAP holds `word`. Read on every question so a test can
// change it between calls; never on the audio thread. Windows' own
// environment block is read, which both SetEnvironmentVariable and the C
// library's putenv change.
bool switched(const char* word) {
    char value[256];
#if defined(_WIN32)
    const DWORD n = GetEnvironmentVariableA("QV_TCLAP", value, sizeof value);
    if (n == 0 || n >= sizeof value) return false;
#else
    const char* text = std::getenv("QV_TCLAP");
    if (!text) return false;
    std::snprintf(value, sizeof value, "%s", text);
#endif
    return std::strstr(value, word) != nullptr;
}

double clampTo(double v, double top) { return v > top ? top : v >= 0.0 ? v : 0.0; }
double latencyStep(double v) { return std::round(clampTo(v, kMaxLatency)); }

void putU32(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}
uint32_t getU32(const uint8_t* p) {
    uint32_t v = 0;
    for (int i = 0; i < 4; ++i) v |= static_cast<uint32_t>(p[i]) << (8 * i);
    return v;
}
void putF64(uint8_t* p, double d) {
    uint64_t v;
    std::memcpy(&v, &d, 8);
    for (int i = 0; i < 8; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}
double getF64(const uint8_t* p) {
    uint64_t v = 0;
    for (int i = 0; i < 8; ++i) v |= static_cast<uint64_t>(p[i]) << (8 * i);
    double d;
    std::memcpy(&d, &v, 8);
    return d;
}

// ---- the module's entry and the factory's records ----

// init may come more than once; the factory answers while any init is
// outstanding.
std::atomic<int32_t> entryRefs{0};
char entryPath[clap::kPathSize] = "";

const char* const kGainFeatures[] = {clap::kFeatureAudioEffect, "stereo", nullptr};
const char* const kSynthFeatures[] = {clap::kFeatureInstrument, nullptr};

const clap::PluginDescriptor kGainDescriptor = {
    clap::kHostVersion, kGainPluginId, "Qv Test Gain", "Quorvane Tests", "", "", "", "1.0.0",
    "A gain for tests", kGainFeatures};
const clap::PluginDescriptor kSynthDescriptor = {
    clap::kHostVersion, kSynthPluginId, "Qv Test Synth", "Quorvane Tests", "", "", "", "1.0.0",
    "An instrument for tests", kSynthFeatures};

// ---- the gain plug-in ----

struct Instance {
    clap::Plugin plugin;
    const clap::Host* host = nullptr;
    // The host's extensions, asked for in init.
    const clap::HostParams* hostParams = nullptr;
    const clap::HostLatency* hostLatency = nullptr;
    const clap::HostLog* hostLog = nullptr;
    const clap::HostThreadCheck* threadCheck = nullptr;
    const clap::HostTimerSupport* timers = nullptr;
    // Switches read on the main thread.
    bool monoPorts = false, noGui = false;
    bool initialized = false;
    std::atomic<bool> active{false}, processing{false};
    std::atomic<bool> wrongThreadOnce{false}, restartOnce{false};
    // Plain parameter values, shared by the main and audio threads. The
    // latency parameter is what the host set; activeLatency is what the
    // plug-in reports, changed only while deactivated.
    std::atomic<double> gain{1.0}, latency{0.0}, peak{0.0};
    std::atomic<uint32_t> activeLatency{0};
    std::atomic<bool> restartRequested{false};
    double peakSent = -1.0;  // audio thread
    // An edit made in the editor, waiting to reach the host as output events.
    std::atomic<bool> editPending{false};
    std::atomic<double> editValue{1.0};
    // The editor (main thread).
    bool guiCreated = false;
    clap::Id timerId = clap::kInvalidId;
    uint32_t width = 300, height = 200;
#if defined(_WIN32)
    HWND child = nullptr;
#endif
};

Instance* self(const clap::Plugin* plugin) {
    return plugin ? static_cast<Instance*>(plugin->plugin_data) : nullptr;
}

// Counts a call made on the wrong thread, when the host can tell.
void expectMainThread(const Instance* p) {
    if (p->threadCheck && p->threadCheck->is_main_thread && !p->threadCheck->is_main_thread(p->host))
        bump(kThreadViolations);
}
void expectAudioThread(const Instance* p) {
    if (p->threadCheck && p->threadCheck->is_audio_thread && !p->threadCheck->is_audio_thread(p->host))
        bump(kThreadViolations);
}

template <class T>
const T* hostExtension(const clap::Host* host, const char* id) {
    return host->get_extension ? static_cast<const T*>(host->get_extension(host, id)) : nullptr;
}

void requestRestart(Instance* p) {
    bump(kRestartRequests);
    if (p->host->request_restart) p->host->request_restart(p->host);
}

// Any thread. Deactivated (main thread), the latency changes at once and the
// host hears of it; active, the host is asked for a restart and the new
// latency waits for the next activate.
void setLatencyParam(Instance* p, double samples) {
    samples = latencyStep(samples);
    p->latency.store(samples, std::memory_order_relaxed);
    const auto wanted = static_cast<uint32_t>(samples);
    if (!p->active.load()) {
        if (p->activeLatency.exchange(wanted) != wanted && p->hostLatency && p->hostLatency->changed)
            p->hostLatency->changed(p->host);
    } else if (wanted != p->activeLatency.load() && !p->restartRequested.exchange(true)) {
        requestRestart(p);
    }
}

// A parameter value event from the host; gestures and the read-only peak
// are ignored.
void applyEvent(Instance* p, const clap::EventHeader* e) {
    if (!e || e->space_id != clap::kCoreEventSpace) return;
    if (e->type == clap::kEventParamValue && e->size >= sizeof(clap::EventParamValue)) {
        const auto* v = reinterpret_cast<const clap::EventParamValue*>(e);
        if (!std::isfinite(v->value)) return;
        if (v->param_id == kGainParam)
            p->gain.store(clampTo(v->value, kMaxGain), std::memory_order_relaxed);
        else if (v->param_id == kLatencyParam)
            setLatencyParam(p, v->value);
    } else if (e->type == clap::kEventTransport && e->size >= sizeof(clap::EventTransport)) {
        const auto* t = reinterpret_cast<const clap::EventTransport*>(e);
        if (t->flags & clap::kTransportHasTempo) lastTempo.store(t->tempo, std::memory_order_relaxed);
        if (t->flags & clap::kTransportHasSecondsTimeline)
            lastPosition.store(t->song_pos_seconds, std::memory_order_relaxed);
    }
}

bool pushValue(const clap::OutputEvents* out, clap::Id id, double value) {
    clap::EventParamValue e{};
    e.header = {sizeof e, 0, clap::kCoreEventSpace, clap::kEventParamValue, 0};
    e.param_id = id;
    e.note_id = -1;
    e.port_index = e.channel = e.key = -1;
    e.value = value;
    return out->try_push(out, &e.header);
}

bool pushGesture(const clap::OutputEvents* out, uint16_t type, clap::Id id) {
    clap::EventParamGesture e{};
    e.header = {sizeof e, 0, clap::kCoreEventSpace, type, 0};
    e.param_id = id;
    return out->try_push(out, &e.header);
}

// Audio thread while active, else main thread: an edit from the editor
// reaches the host as one gesture.
void sendEdit(Instance* p, const clap::OutputEvents* out) {
    if (!out || !out->try_push || !p->editPending.exchange(false)) return;
    const double value = p->editValue.load(std::memory_order_relaxed);
    pushGesture(out, clap::kEventParamGestureBegin, kGainParam);
    if (!pushValue(out, kGainParam, value)) p->editPending.store(true);  // the next block tries again
    pushGesture(out, clap::kEventParamGestureEnd, kGainParam);
}

// Main thread: the editor changes the gain, as a user would. The host hears
// of it in the next process, or in a flush it is asked for when not
// processing.
void editGain(Instance* p, double value) {
    value = clampTo(value, kMaxGain);
    p->gain.store(value, std::memory_order_relaxed);
    p->editValue.store(value, std::memory_order_relaxed);
    p->editPending.store(true);
    if (!p->processing.load() && p->hostParams && p->hostParams->request_flush)
        p->hostParams->request_flush(p->host);
}

// The gain a click at `x` in an editor `width` wide sets.
[[maybe_unused]] double gainAtClick(int x, int width) { return width > 0 ? clampTo(kMaxGain * x / width, kMaxGain) : 0.0; }

// ---- plug-in functions ----

bool CLAP_CALL pluginInit(const clap::Plugin* plugin) {
    Instance* p = self(plugin);
    bump(kInitCalls);
    const clap::Host* h = p->host;
    p->threadCheck = hostExtension<clap::HostThreadCheck>(h, clap::kExtThreadCheck);
    expectMainThread(p);
    if (p->initialized || switched("fail-init")) return false;
    p->hostParams = hostExtension<clap::HostParams>(h, clap::kExtParams);
    p->hostLatency = hostExtension<clap::HostLatency>(h, clap::kExtLatency);
    p->hostLog = hostExtension<clap::HostLog>(h, clap::kExtLog);
    p->timers = hostExtension<clap::HostTimerSupport>(h, clap::kExtTimerSupport);
    p->monoPorts = switched("mono-ports");
    p->noGui = switched("no-gui");
    if (p->hostLog && p->hostLog->log && switched("log")) p->hostLog->log(h, clap::kLogInfo, "Qv Test Gain: init");
    p->initialized = true;
    return true;
}

void CLAP_CALL guiDestroy(const clap::Plugin* plugin);

void CLAP_CALL pluginDestroy(const clap::Plugin* plugin) {
    Instance* p = self(plugin);
    bump(kDestroyCalls);
    expectMainThread(p);
    if (p->guiCreated) guiDestroy(plugin);  // a host that forgot the editor
    delete p;
    drop(kLivePlugins);
}

bool CLAP_CALL pluginActivate(const clap::Plugin* plugin, double rate, uint32_t, uint32_t maxFrames) {
    Instance* p = self(plugin);
    bump(kActivations);
    expectMainThread(p);
    counts[kLastMaxFrames].store(static_cast<int32_t>(maxFrames > 0x7FFFFFFFu ? 0x7FFFFFFFu : maxFrames),
                                 std::memory_order_relaxed);
    counts[kLastSampleRate].store(rate > 0.0 && rate < 1e9 ? static_cast<int32_t>(rate) : 0,
                                  std::memory_order_relaxed);
    if (p->active.load() || switched("fail-activate")) return false;
    // A latency set while active takes effect now, before processing.
    const auto wanted = static_cast<uint32_t>(p->latency.load(std::memory_order_relaxed));
    if (p->activeLatency.exchange(wanted) != wanted && p->hostLatency && p->hostLatency->changed)
        p->hostLatency->changed(p->host);
    p->restartRequested.store(false);
    p->wrongThreadOnce.store(switched("wrong-thread"));
    p->restartOnce.store(switched("restart-in-process"));
    p->peakSent = -1.0;
    p->active.store(true);
    return true;
}

void CLAP_CALL pluginDeactivate(const clap::Plugin* plugin) {
    Instance* p = self(plugin);
    bump(kDeactivations);
    expectMainThread(p);
    p->active.store(false);
}

bool CLAP_CALL pluginStartProcessing(const clap::Plugin* plugin) {
    Instance* p = self(plugin);
    bump(kProcessingStarts);
    expectAudioThread(p);
    p->processing.store(true);
    return true;
}

void CLAP_CALL pluginStopProcessing(const clap::Plugin* plugin) {
    Instance* p = self(plugin);
    bump(kProcessingStops);
    expectAudioThread(p);
    p->processing.store(false);
}

void CLAP_CALL pluginReset(const clap::Plugin*) {}

// Audio thread: allocates nothing, waits on nothing. The block is split at
// every event's frame, so a value takes effect at exactly its sample.
int32_t CLAP_CALL pluginProcess(const clap::Plugin* plugin, const clap::Process* process) {
    Instance* p = self(plugin);
    bump(kProcessCalls);
    expectAudioThread(p);
    if (!process) return clap::kProcessError;
    if (p->wrongThreadOnce.exchange(false) && p->hostParams && p->hostParams->rescan)
        p->hostParams->rescan(p->host, clap::kParamRescanValues);  // deliberately off the main thread
    if (p->restartOnce.exchange(false)) requestRestart(p);
    if (const clap::EventTransport* t = process->transport) {
        if (t->flags & clap::kTransportHasTempo) lastTempo.store(t->tempo, std::memory_order_relaxed);
        if (t->flags & clap::kTransportHasSecondsTimeline)
            lastPosition.store(t->song_pos_seconds, std::memory_order_relaxed);
    }
    const clap::InputEvents* in = process->in_events;
    const uint32_t eventCount = in && in->size && in->get ? in->size(in) : 0;
    const uint32_t frames = process->frames_count;

    const float* const* inputs = nullptr;
    float* const* outputs = nullptr;
    uint32_t inChannels = 0, outChannels = 0;
    if (frames > 0 && process->audio_outputs_count > 0 && process->audio_outputs) {
        clap::AudioBuffer& out = process->audio_outputs[0];
        if (!out.data32 || out.channel_count > kMaxChannels) return clap::kProcessError;
        outputs = out.data32;
        outChannels = out.channel_count;
        out.constant_mask = 0;
        if (process->audio_inputs_count > 0 && process->audio_inputs && process->audio_inputs[0].data32) {
            inputs = process->audio_inputs[0].data32;
            inChannels = process->audio_inputs[0].channel_count;
        }
    }

    float peak = 0.0f;
    uint32_t next = 0, frame = 0;
    while (frame < frames || next < eventCount) {
        for (; next < eventCount; ++next) {
            const clap::EventHeader* e = in->get(in, next);
            if (e && e->time > frame && frame < frames) break;
            applyEvent(p, e);
        }
        if (frame >= frames) break;
        uint32_t end = frames;
        if (next < eventCount) {
            const clap::EventHeader* e = in->get(in, next);
            if (e && e->time < end) end = e->time;
        }
        const float gain = static_cast<float>(p->gain.load(std::memory_order_relaxed));
        for (uint32_t c = 0; c < outChannels; ++c) {
            float* o = outputs[c];
            const float* i = c < inChannels ? inputs[c] : nullptr;
            if (!o) continue;
            for (uint32_t k = frame; k < end; ++k) {
                o[k] = i ? i[k] * gain : 0.0f;  // in place when the host passes one buffer
                const float a = std::fabs(o[k]);
                if (a > peak) peak = a;
            }
        }
        frame = end;
    }

    const clap::OutputEvents* out = process->out_events;
    if (outputs) {
        const double level = peak < 1.0f ? peak : 1.0;
        p->peak.store(level, std::memory_order_relaxed);
        if (level != p->peakSent && out && out->try_push && pushValue(out, kPeakParam, level)) p->peakSent = level;
    }
    sendEdit(p, out);
    return clap::kProcessContinue;
}

// ---- params ----

uint32_t CLAP_CALL paramsCount(const clap::Plugin*) { return kParamCount; }

bool CLAP_CALL paramsGetInfo(const clap::Plugin*, uint32_t index, clap::ParamInfo* info) {
    if (!info || index >= kParamCount) return false;
    static const char* const names[kParamCount] = {"Gain", "Latency", "Peak"};
    static const uint32_t flags[kParamCount] = {clap::kParamIsAutomatable, clap::kParamIsStepped,
                                                clap::kParamIsReadonly};
    static const double tops[kParamCount] = {kMaxGain, kMaxLatency, 1.0};
    static const double defaults[kParamCount] = {1.0, 0.0, 0.0};
    std::memset(info, 0, sizeof *info);
    info->id = index;
    info->flags = flags[index];
    std::snprintf(info->name, sizeof info->name, "%s", names[index]);
    info->min_value = 0.0;
    info->max_value = tops[index];
    info->default_value = defaults[index];
    return true;
}

bool CLAP_CALL paramsGetValue(const clap::Plugin* plugin, clap::Id id, double* value) {
    Instance* p = self(plugin);
    if (!value) return false;
    switch (id) {
        case kGainParam: *value = p->gain.load(std::memory_order_relaxed); return true;
        case kLatencyParam: *value = p->latency.load(std::memory_order_relaxed); return true;
        case kPeakParam: *value = p->peak.load(std::memory_order_relaxed); return true;
        default: return false;
    }
}

bool CLAP_CALL paramsValueToText(const clap::Plugin*, clap::Id id, double value, char* out, uint32_t capacity) {
    if (!out || capacity == 0 || !std::isfinite(value)) return false;
    int n;
    switch (id) {
        case kGainParam: n = std::snprintf(out, capacity, "%.2f", clampTo(value, kMaxGain)); break;
        case kLatencyParam: n = std::snprintf(out, capacity, "%d", static_cast<int>(latencyStep(value))); break;
        case kPeakParam: n = std::snprintf(out, capacity, "%.3f", clampTo(value, 1.0)); break;
        default: return false;
    }
    return n >= 0 && static_cast<uint32_t>(n) < capacity;
}

bool CLAP_CALL paramsTextToValue(const clap::Plugin*, clap::Id id, const char* text, double* value) {
    if (!text || !value || id >= kParamCount) return false;
    char* end = nullptr;
    const double v = std::strtod(text, &end);
    if (end == text || !std::isfinite(v)) return false;
    while (*end == ' ') ++end;
    if (*end) return false;
    *value = id == kGainParam ? clampTo(v, kMaxGain) : id == kLatencyParam ? latencyStep(v) : clampTo(v, 1.0);
    return true;
}

// Main thread when deactivated, the audio thread when active; never during
// process.
void CLAP_CALL paramsFlush(const clap::Plugin* plugin, const clap::InputEvents* in, const clap::OutputEvents* out) {
    Instance* p = self(plugin);
    bump(kFlushCalls);
    if (p->active.load())
        expectAudioThread(p);
    else
        expectMainThread(p);
    const uint32_t n = in && in->size && in->get ? in->size(in) : 0;
    for (uint32_t i = 0; i < n; ++i) applyEvent(p, in->get(in, i));
    sendEdit(p, out);
}

const clap::PluginParams kParams = {paramsCount, paramsGetInfo, paramsGetValue, paramsValueToText,
                                    paramsTextToValue, paramsFlush};

// ---- state ----

bool CLAP_CALL stateSave(const clap::Plugin* plugin, const clap::OStream* stream) {
    Instance* p = self(plugin);
    expectMainThread(p);
    if (!stream || !stream->write) return false;
    uint8_t bytes[kStateBytes];
    uint64_t size = kStateBytes;
    if (switched("damaged-state")) {
        const uint8_t garbage[7] = {'Q', 'V', 0xFF, 0x00, 0x13, 0x37, 0x80};
        std::memcpy(bytes, garbage, sizeof garbage);
        size = sizeof garbage;
    } else {
        std::memcpy(bytes, "QVCL", 4);
        putU32(bytes + 4, 1);
        putF64(bytes + 8, p->gain.load(std::memory_order_relaxed));
        putF64(bytes + 16, p->latency.load(std::memory_order_relaxed));
    }
    for (uint64_t done = 0; done < size;) {
        const uint64_t piece = size - done < kStatePiece ? size - done : kStatePiece;
        const int64_t n = stream->write(stream, bytes + done, piece);
        if (n <= 0 || static_cast<uint64_t>(n) > piece) return false;
        done += static_cast<uint64_t>(n);
    }
    return true;
}

// A damaged state (short, another tag or version, values out of range or
// not numbers) is refused as a whole.
bool CLAP_CALL stateLoad(const clap::Plugin* plugin, const clap::IStream* stream) {
    Instance* p = self(plugin);
    expectMainThread(p);
    if (!stream || !stream->read) return false;
    uint8_t bytes[kStateBytes];
    uint64_t got = 0;
    while (got < kStateBytes) {
        const int64_t n = stream->read(stream, bytes + got, kStateBytes - got);
        if (n <= 0 || static_cast<uint64_t>(n) > kStateBytes - got) break;
        got += static_cast<uint64_t>(n);
    }
    if (got != kStateBytes || std::memcmp(bytes, "QVCL", 4) != 0 || getU32(bytes + 4) != 1) return false;
    const double gain = getF64(bytes + 8), latency = getF64(bytes + 16);
    if (!(gain >= 0.0 && gain <= kMaxGain) || !(latency >= 0.0 && latency <= kMaxLatency)) return false;
    p->gain.store(gain, std::memory_order_relaxed);
    setLatencyParam(p, latency);
    return true;
}

const clap::PluginState kState = {stateSave, stateLoad};

// ---- latency, audio ports, timers ----

uint32_t CLAP_CALL latencyGet(const clap::Plugin* plugin) {
    const uint32_t n = self(plugin)->activeLatency.load();
    lastLatency.store(static_cast<int32_t>(n), std::memory_order_relaxed);
    return n;
}

const clap::PluginLatency kLatency = {latencyGet};

uint32_t CLAP_CALL portsCount(const clap::Plugin*, bool) { return 1; }

bool CLAP_CALL portsGet(const clap::Plugin* plugin, uint32_t index, bool isInput, clap::AudioPortInfo* info) {
    if (!info || index != 0) return false;
    const bool mono = self(plugin)->monoPorts;
    std::memset(info, 0, sizeof *info);
    info->id = 0;
    std::snprintf(info->name, sizeof info->name, "%s", isInput ? "Input" : "Output");
    info->flags = clap::kAudioPortIsMain;
    info->channel_count = mono ? 1 : 2;
    info->port_type = mono ? clap::kPortMono : clap::kPortStereo;
    info->in_place_pair = 0;
    return true;
}

const clap::PluginAudioPorts kAudioPorts = {portsCount, portsGet};

void CLAP_CALL timerTick(const clap::Plugin* plugin, clap::Id id) {
    if (id == self(plugin)->timerId) bump(kTimerTicks);
}

const clap::PluginTimerSupport kTimerSupport = {timerTick};

// ---- the editor ----

#if defined(_WIN32)
const char kViewClass[] = "QvTestClapView";
int viewWindows = 0;  // children alive; the class is registered while any is

// Thin: paints the name, turns a click into an edit.
LRESULT CALLBACK viewProc(HWND window, UINT message, WPARAM wp, LPARAM lp) {
    if (message == WM_NCCREATE)
        SetWindowLongPtrA(window, GWLP_USERDATA,
                          reinterpret_cast<LONG_PTR>(reinterpret_cast<CREATESTRUCTA*>(lp)->lpCreateParams));
    if (message == WM_LBUTTONDOWN) {
        auto* p = reinterpret_cast<Instance*>(GetWindowLongPtrA(window, GWLP_USERDATA));
        RECT client;
        GetClientRect(window, &client);
        if (p) editGain(p, gainAtClick(GET_X_LPARAM(lp), client.right));
        return 0;
    }
    if (message == WM_PAINT) {
        PAINTSTRUCT ps;
        HDC dc = BeginPaint(window, &ps);
        RECT client;
        GetClientRect(window, &client);
        HBRUSH fill = CreateSolidBrush(RGB(40, 64, 96));
        FillRect(dc, &client, fill);
        DeleteObject(fill);
        SetBkMode(dc, TRANSPARENT);
        SetTextColor(dc, RGB(255, 255, 255));
        DrawTextA(dc, "Qv Test Gain", -1, &client, DT_CENTER | DT_VCENTER | DT_SINGLELINE);
        EndPaint(window, &ps);
        return 0;
    }
    return DefWindowProcA(window, message, wp, lp);
}

HINSTANCE thisModule() {
    HMODULE module = nullptr;
    GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<LPCSTR>(&viewProc), &module);
    return module;
}

void destroyChild(Instance* p) {
    if (!p->child) return;
    if (IsWindow(p->child)) DestroyWindow(p->child);
    p->child = nullptr;
    if (--viewWindows == 0) UnregisterClassA(kViewClass, thisModule());
}

bool isWin32(const char* api, bool floating) { return api && !floating && std::strcmp(api, clap::kWindowApiWin32) == 0; }

bool CLAP_CALL guiIsApiSupported(const clap::Plugin* plugin, const char* api, bool floating) {
    expectMainThread(self(plugin));
    return isWin32(api, floating);
}
bool CLAP_CALL guiGetPreferredApi(const clap::Plugin* plugin, const char** api, bool* floating) {
    expectMainThread(self(plugin));
    if (!api || !floating) return false;
    *api = clap::kWindowApiWin32;
    *floating = false;
    return true;
}
bool CLAP_CALL guiCreate(const clap::Plugin* plugin, const char* api, bool floating) {
    Instance* p = self(plugin);
    expectMainThread(p);
    if (p->guiCreated || !isWin32(api, floating)) return false;
    p->guiCreated = true;
    if (p->timers && p->timers->register_timer && !p->timers->register_timer(p->host, kTimerPeriodMs, &p->timerId))
        p->timerId = clap::kInvalidId;
    return true;
}
bool CLAP_CALL guiSetScale(const clap::Plugin* plugin, double) {
    expectMainThread(self(plugin));
    return false;  // sizes are in physical pixels
}
bool CLAP_CALL guiGetSize(const clap::Plugin* plugin, uint32_t* width, uint32_t* height) {
    Instance* p = self(plugin);
    expectMainThread(p);
    if (!width || !height) return false;
    *width = p->width;
    *height = p->height;
    return true;
}
bool CLAP_CALL guiCanResize(const clap::Plugin* plugin) {
    expectMainThread(self(plugin));
    return true;
}
bool CLAP_CALL guiGetResizeHints(const clap::Plugin* plugin, clap::GuiResizeHints* hints) {
    expectMainThread(self(plugin));
    if (!hints) return false;
    *hints = clap::GuiResizeHints{true, true, false, 0, 0};
    return true;
}
bool CLAP_CALL guiAdjustSize(const clap::Plugin* plugin, uint32_t* width, uint32_t* height) {
    expectMainThread(self(plugin));
    if (!width || !height) return false;
    if (*width < 100) *width = 100;
    if (*height < 80) *height = 80;
    return true;
}
bool CLAP_CALL guiSetSize(const clap::Plugin* plugin, uint32_t width, uint32_t height) {
    Instance* p = self(plugin);
    expectMainThread(p);
    guiAdjustSize(plugin, &width, &height);
    p->width = width;
    p->height = height;
    if (p->child)
        SetWindowPos(p->child, nullptr, 0, 0, static_cast<int>(width), static_cast<int>(height),
                     SWP_NOZORDER | SWP_NOMOVE | SWP_NOACTIVATE);
    return true;
}
bool CLAP_CALL guiSetParent(const clap::Plugin* plugin, const clap::Window* window) {
    Instance* p = self(plugin);
    expectMainThread(p);
    if (!p->guiCreated || p->child || !window || !window->win32 || !window->api ||
        std::strcmp(window->api, clap::kWindowApiWin32) != 0)
        return false;
    HINSTANCE module = thisModule();
    if (viewWindows == 0) {
        WNDCLASSA wc{};
        wc.lpfnWndProc = viewProc;
        wc.hInstance = module;
        wc.hCursor = LoadCursor(nullptr, IDC_ARROW);
        wc.lpszClassName = kViewClass;
        if (!RegisterClassA(&wc) && GetLastError() != ERROR_CLASS_ALREADY_EXISTS) return false;
    }
    p->child = CreateWindowExA(0, kViewClass, "", WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS, 0, 0,
                               static_cast<int>(p->width), static_cast<int>(p->height),
                               static_cast<HWND>(window->win32), nullptr, module, p);
    if (!p->child) {
        if (viewWindows == 0) UnregisterClassA(kViewClass, module);
        return false;
    }
    ++viewWindows;
    return true;
}
bool CLAP_CALL guiSetTransient(const clap::Plugin* plugin, const clap::Window*) {
    expectMainThread(self(plugin));
    return false;
}
void CLAP_CALL guiSuggestTitle(const clap::Plugin* plugin, const char*) { expectMainThread(self(plugin)); }
bool CLAP_CALL guiShow(const clap::Plugin* plugin) {
    Instance* p = self(plugin);
    expectMainThread(p);
    if (!p->child) return false;
    ShowWindow(p->child, SW_SHOW);
    return true;
}
bool CLAP_CALL guiHide(const clap::Plugin* plugin) {
    Instance* p = self(plugin);
    expectMainThread(p);
    if (!p->child) return false;
    ShowWindow(p->child, SW_HIDE);
    return true;
}

const clap::PluginGui kGui = {guiIsApiSupported, guiGetPreferredApi, guiCreate,        guiDestroy,
                              guiSetScale,       guiGetSize,         guiCanResize,     guiGetResizeHints,
                              guiAdjustSize,     guiSetSize,         guiSetParent,     guiSetTransient,
                              guiSuggestTitle,   guiShow,            guiHide};
#endif

// Main thread. Also called by destroy when the host left the editor open.
void CLAP_CALL guiDestroy(const clap::Plugin* plugin) {
    Instance* p = self(plugin);
    expectMainThread(p);
#if defined(_WIN32)
    destroyChild(p);
#endif
    if (p->timerId != clap::kInvalidId && p->timers && p->timers->unregister_timer)
        p->timers->unregister_timer(p->host, p->timerId);
    p->timerId = clap::kInvalidId;
    p->guiCreated = false;
}

// ---- extensions and creation ----

const void* CLAP_CALL pluginGetExtension(const clap::Plugin* plugin, const char* id) {
    if (!id) return nullptr;
    if (std::strcmp(id, clap::kExtParams) == 0) return &kParams;
    if (std::strcmp(id, clap::kExtState) == 0) return &kState;
    if (std::strcmp(id, clap::kExtLatency) == 0) return &kLatency;
    if (std::strcmp(id, clap::kExtAudioPorts) == 0) return &kAudioPorts;
    if (std::strcmp(id, clap::kExtTimerSupport) == 0) return &kTimerSupport;
#if defined(_WIN32)
    if (std::strcmp(id, clap::kExtGui) == 0 && !self(plugin)->noGui) return &kGui;
#else
    (void)plugin;
#endif
    return nullptr;
}

void CLAP_CALL pluginOnMainThread(const clap::Plugin*) {}

// Main thread.
[[maybe_unused]] const clap::Plugin* createGain(const clap::Host* host) {
    auto* p = new Instance;
    p->plugin = {&kGainDescriptor, p,           pluginInit,           pluginDestroy,
                 pluginActivate,   pluginDeactivate, pluginStartProcessing, pluginStopProcessing,
                 pluginReset,      pluginProcess,    pluginGetExtension,    pluginOnMainThread};
    p->host = host;
    p->monoPorts = switched("mono-ports");
    p->noGui = switched("no-gui");
    bump(kLivePlugins);
    return &p->plugin;
}

// ---- the factory ----

#if defined(TCLAP_GARBAGE)
constexpr uint32_t kGarbageCount = 1000000;

// Eight kinds of broken record, by index modulo 8.
const clap::PluginDescriptor* garbageDescriptor(uint32_t index) {
    static char longName[65536];
    static const bool filled = [] {
        std::memset(longName, 'A', sizeof longName - 1);
        return true;
    }();
    (void)filled;
    static const clap::PluginDescriptor kinds[8] = {
        {},  // not used: kind 0 is a null record
        {clap::kHostVersion, nullptr, "Qv Garbage No Id", "", "", "", "", "", "", kGainFeatures},
        {clap::kHostVersion, "org.quorvane.garbage.noname", nullptr, "", "", "", "", "", "", kGainFeatures},
        {clap::kHostVersion, "org.quorvane.garbage.nofeatures", "Qv Garbage", "", "", "", "", "", "", nullptr},
        {{0, 0, 0}, "org.quorvane.garbage.old", "Qv Garbage Old", "", "", "", "", "", "", kGainFeatures},
        {clap::kHostVersion, "", "", nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, kGainFeatures},
        {clap::kHostVersion, "org.quorvane.garbage.long", longName, longName, longName, longName, longName, longName,
         longName, kGainFeatures},
        {clap::kHostVersion, "org.quorvane.garbage.effect", "Qv Garbage Effect", "", "", "", "", "", "",
         kGainFeatures},
    };
    if (index >= kGarbageCount || index % 8 == 0) return nullptr;
    return &kinds[index % 8];
}
#endif

uint32_t CLAP_CALL factoryCount(const clap::PluginFactory*) {
#if defined(TCLAP_GARBAGE)
    return kGarbageCount;
#else
    return 2;
#endif
}

const clap::PluginDescriptor* CLAP_CALL factoryDescriptor(const clap::PluginFactory*, uint32_t index) {
#if defined(TCLAP_GARBAGE)
    return garbageDescriptor(index);
#else
    return index == 0 ? &kGainDescriptor : index == 1 ? &kSynthDescriptor : nullptr;
#endif
}

// Main thread. The synth is only listed; the garbage factory creates nothing.
const clap::Plugin* CLAP_CALL factoryCreate(const clap::PluginFactory*, const clap::Host* host, const char* id) {
#if defined(TCLAP_GARBAGE)
    (void)host;
    (void)id;
    return nullptr;
#else
    if (!host || !id || !clap::versionIsCompatible(host->clap_version)) return nullptr;
    return std::strcmp(id, kGainPluginId) == 0 ? createGain(host) : nullptr;
#endif
}

const clap::PluginFactory kFactory = {factoryCount, factoryDescriptor, factoryCreate};

// ---- the entry ----

[[maybe_unused]] bool CLAP_CALL entryInit(const char* path) {
    bump(kModuleInits);
#if defined(TCLAP_FAIL_ENTRY)
    (void)path;
    return false;
#else
    if (entryRefs.fetch_add(1) == 0) std::snprintf(entryPath, sizeof entryPath, "%s", path ? path : "");
    return true;
#endif
}

[[maybe_unused]] void CLAP_CALL entryDeinit() {
    bump(kModuleExits);
    int32_t refs = entryRefs.load();
    while (refs > 0 && !entryRefs.compare_exchange_weak(refs, refs - 1)) {
    }
}

// Before init and after the last deinit there is no factory.
[[maybe_unused]] const void* CLAP_CALL entryGetFactory(const char* id) {
#if defined(TCLAP_CRASH)
    volatile intptr_t bad = 16;
    *reinterpret_cast<volatile int*>(bad) = 1;
#endif
    if (!id || entryRefs.load() == 0 || std::strcmp(id, clap::kPluginFactoryId) != 0) return nullptr;
    return &kFactory;
}

#if defined(TCLAP_OLD_VERSION)
[[maybe_unused]] constexpr clap::Version kEntryVersion{0, 9, 0};
#else
[[maybe_unused]] constexpr clap::Version kEntryVersion = clap::kHostVersion;
#endif

}  // namespace

// ---- exports ----

#if !defined(TCLAP_NO_ENTRY)
TCLAP_EXPORT const clap::PluginEntry clap_entry = {kEntryVersion, entryInit, entryDeinit, entryGetFactory};
#endif

// ---- what tests read ----

// Module init and deinit calls, live plug-ins, plug-in init, destroy,
// activate, deactivate, start_processing, stop_processing and process calls,
// the last activate's max frames and sample rate, request_restart calls
// made, timer ticks, calls on the wrong thread (when the host offers
// thread-check), params flush calls.
TCLAP_EXPORT void tclapCounts(int32_t out[16]) {
    for (int i = 0; i < kCounts; ++i) out[i] = counts[i].load(std::memory_order_relaxed);
}
// The tempo of the last transport that had one (-1 before any).
TCLAP_EXPORT double tclapLastTempo() { return lastTempo.load(std::memory_order_relaxed); }
// song_pos_seconds (fixed point, 2^31 per second) of the last transport that
// had a seconds timeline (-1 before any).
TCLAP_EXPORT int64_t tclapLastPosition() { return lastPosition.load(std::memory_order_relaxed); }
// The last answer of the latency extension's get (-1 before any).
TCLAP_EXPORT int32_t tclapLastLatency() { return lastLatency.load(std::memory_order_relaxed); }
// The path the last first init was given ("" before any).
TCLAP_EXPORT const char* tclapEntryPath() { return entryPath; }
// Main thread: the editor's edit without a window (as a click at 2 * gain /
// width would make it): the gain changes, the host gets a gesture on the
// next process or flush, and is asked for a flush when not processing.
TCLAP_EXPORT void tclapEditGain(const clap::Plugin* plugin, double gain) {
    if (Instance* p = self(plugin)) editGain(p, gain);
}

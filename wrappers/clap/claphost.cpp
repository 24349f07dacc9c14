// The host's side of the CLAP interface: the host record and the host
// extensions a plug-in may ask for (params, state, latency, gui, log,
// thread-check, timer-support, audio-ports), the event lists of a process
// call, and the main thread's service of what plug-ins request.
//
// CLAP says which thread may call what. Functions a plug-in may call from
// any thread only set flags; main-thread functions called on another
// thread are refused, counted and logged (and stop a debug build), so a
// plug-in's fault shows in tests instead of corrupting the wrapper.
#include <atomic>
#include <cassert>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <thread>

#include "wrappers/clap/clapinstance.h"

namespace clap {

namespace {

std::thread::id mainThread;
thread_local bool audioThread = false;
std::atomic<int32_t> violations{0};

Instance& instanceOf(const Host* host) { return *static_cast<Instance*>(host->host_data); }

void CLAP_CALL hostLog(const Host*, int32_t severity, const char* message) {
    static const char* const kSeverity[] = {"debug",   "info",  "warning", "error",
                                            "fatal",   "host misbehaving", "plug-in misbehaving"};
    const char* word = severity >= 0 && severity <= kLogPluginMisbehaving ? kSeverity[severity] : "?";
    std::fprintf(stderr, "CLAP %s: %s\n", word, message ? message : "");
}

// ---- the core requests: any thread ----

void CLAP_CALL requestRestart(const Host* host) { instanceOf(host).restartRequested.store(true); }
void CLAP_CALL requestProcess(const Host*) {}  // every block is processed anyway
void CLAP_CALL requestCallback(const Host* host) { instanceOf(host).callbackRequested.store(true); }

// ---- params ----

void CLAP_CALL paramsRescan(const Host* host, uint32_t flags) {
    if (!clapCheckMainThread("params.rescan")) return;
    Instance& instance = instanceOf(host);
    if (flags & (kParamRescanValues | kParamRescanText | kParamRescanInfo | kParamRescanAll))
        instance.rescanRequested.store(true);
}
void CLAP_CALL paramsClear(const Host*, Id, uint32_t) { clapCheckMainThread("params.clear"); }
void CLAP_CALL paramsRequestFlush(const Host* host) { instanceOf(host).flushRequested.store(true); }
const HostParams kParams{paramsRescan, paramsClear, paramsRequestFlush};

// ---- state, latency ----

// The performance's changed state is found by comparing the plug-ins'
// states with the saved ones, so a plug-in's word adds nothing to it.
void CLAP_CALL stateMarkDirty(const Host*) { clapCheckMainThread("state.mark_dirty"); }
const HostState kState{stateMarkDirty};

void CLAP_CALL latencyChanged(const Host* host) {
    if (clapCheckMainThread("latency.changed")) clapReadLatency(instanceOf(host));
}
const HostLatency kLatency{latencyChanged};

// ---- gui ----

void CLAP_CALL guiResizeHintsChanged(const Host* host) {
    Instance& instance = instanceOf(host);
    if (clapCheckMainThread("gui.resize_hints_changed") && instance.gui && instance.guiCreated)
        instance.editor.resizable = instance.gui->can_resize(instance.plugin);
}
bool CLAP_CALL guiRequestResize(const Host* host, uint32_t width, uint32_t height) {
    Instance& instance = instanceOf(host);
    if (instance.guiFloating || width > static_cast<uint32_t>(kEditorMaxSide) ||
        height > static_cast<uint32_t>(kEditorMaxSide))
        return false;
    return editorSizeWindow(instance.editor, static_cast<int32_t>(width), static_cast<int32_t>(height)) != 0;
}
bool CLAP_CALL guiRequestShow(const Host* host) { return instanceOf(host).editor.frame.load() != nullptr; }
bool CLAP_CALL guiRequestHide(const Host*) { return false; }
void CLAP_CALL guiClosed(const Host* host, bool wasDestroyed) {
    if (!clapCheckMainThread("gui.closed")) return;
    Instance& instance = instanceOf(host);
    // A floating window the user closed: its frame goes with it.
    if (wasDestroyed) instance.guiCreated = false;
    editorClose(instance.editor);
}
const HostGui kGui{guiResizeHintsChanged, guiRequestResize, guiRequestShow, guiRequestHide, guiClosed};

// ---- log, thread-check, timer-support, audio-ports ----

const HostLog kLog{hostLog};

bool CLAP_CALL isMainThread(const Host*) { return clapOnMainThread(); }
bool CLAP_CALL isAudioThread(const Host*) { return clapOnAudioThread(); }
const HostThreadCheck kThreadCheck{isMainThread, isAudioThread};

int64_t nowMs();

bool CLAP_CALL registerTimer(const Host* host, uint32_t periodMs, Id* timerId) {
    Instance& instance = instanceOf(host);
    if (!clapCheckMainThread("timer-support.register_timer") || !timerId || instance.timerCount >= kMaxTimers)
        return false;
    // The service runs every 10 ms at best; a period of 0 asks for that.
    const uint32_t period = periodMs < 10 ? 10 : periodMs;
    Timer& timer = instance.timers[instance.timerCount++];
    timer = Timer{instance.nextTimerId++, period, nowMs() + period};
    *timerId = timer.id;
    return true;
}
bool CLAP_CALL unregisterTimer(const Host* host, Id timerId) {
    Instance& instance = instanceOf(host);
    if (!clapCheckMainThread("timer-support.unregister_timer")) return false;
    for (int i = 0; i < instance.timerCount; ++i) {
        if (instance.timers[i].id == timerId) {
            instance.timers[i] = instance.timers[--instance.timerCount];
            return true;
        }
    }
    return false;
}
const HostTimerSupport kTimers{registerTimer, unregisterTimer};

bool CLAP_CALL portsRescanFlagSupported(const Host*, uint32_t) { return true; }
void CLAP_CALL portsRescan(const Host* host, uint32_t) {
    // Ports change only while the plug-in is inactive; the next activation
    // negotiates them, and an active plug-in is restarted for it.
    if (clapCheckMainThread("audio-ports.rescan")) instanceOf(host).restartRequested.store(true);
}
const HostAudioPorts kAudioPorts{portsRescanFlagSupported, portsRescan};

const void* CLAP_CALL getExtension(const Host*, const char* id) {
    if (!id) return nullptr;
    struct Extension {
        const char* id;
        const void* table;
    };
    static const Extension kExtensions[] = {{kExtParams, &kParams},       {kExtState, &kState},
                                            {kExtLatency, &kLatency},     {kExtGui, &kGui},
                                            {kExtLog, &kLog},             {kExtThreadCheck, &kThreadCheck},
                                            {kExtTimerSupport, &kTimers}, {kExtAudioPorts, &kAudioPorts}};
    for (const Extension& e : kExtensions)
        if (std::strcmp(e.id, id) == 0) return e.table;
    return nullptr;
}

int64_t nowMs() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

// ---- the event lists ----

uint32_t CLAP_CALL inSize(const InputEvents* list) { return static_cast<const EventList*>(list->ctx)->count; }

const EventHeader* CLAP_CALL inGet(const InputEvents* list, uint32_t index) {
    const auto* events = static_cast<const EventList*>(list->ctx);
    return index < events->count ? &events->events[index].header : nullptr;
}

// Keeps what the host acts on (parameter values and gestures), copied
// within the size the plug-in gives and the size of our record.
bool CLAP_CALL outTryPush(const OutputEvents* list, const EventHeader* event) {
    auto* events = static_cast<EventList*>(list->ctx);
    if (!event || events->count >= kMaxBlockEvents) return false;
    if (event->space_id != kCoreEventSpace) return true;
    size_t size = 0;
    if (event->type == kEventParamValue) size = sizeof(EventParamValue);
    if (event->type == kEventParamGestureBegin || event->type == kEventParamGestureEnd) size = sizeof(EventParamGesture);
    if (size == 0) return true;
    if (event->size < size) return false;
    std::memcpy(&events->events[events->count++], event, size);
    return true;
}

}  // namespace

void clapHostInit(Instance& instance) {
    instance.host.clap_version = kHostVersion;
    instance.host.host_data = &instance;
    instance.host.name = "Quorvane Live";
    instance.host.vendor = "Quorvane";
    instance.host.url = "";
    instance.host.version = "1.0";
    instance.host.get_extension = getExtension;
    instance.host.request_restart = requestRestart;
    instance.host.request_process = requestProcess;
    instance.host.request_callback = requestCallback;
}

bool clapOnMainThread() { return std::this_thread::get_id() == mainThread; }
bool clapOnAudioThread() { return audioThread; }
void clapSetMainThread() {
    mainThread = std::this_thread::get_id();
    violations.store(0);
}

AudioThreadScope::AudioThreadScope() : was(audioThread) { audioThread = true; }
AudioThreadScope::~AudioThreadScope() { audioThread = was; }

int32_t clapThreadViolations() { return violations.load(); }

bool clapCheckMainThread(const char* function) {
    if (clapOnMainThread() && !audioThread) return true;
    violations.fetch_add(1);
    hostLog(nullptr, kLogPluginMisbehaving, function);
#if !defined(NDEBUG) && !defined(QV_CLAP_NO_THREAD_ASSERT)
    assert(!"a CLAP main-thread function was called on another thread");
#endif
    return false;
}

void clapEventListsInit(Instance& instance) {
    instance.inList = InputEvents{&instance.inEvents, inSize, inGet};
    instance.outList = OutputEvents{&instance.outEvents, outTryPush};
}

void clapDrainToAudio(Instance& instance) {
    EventList& list = instance.inEvents;
    list.count = 0;
    ParamEvent e;
    while (list.count < kMaxBlockEvents && instance.toAudio.pop(e)) {
        EventList::Event& event = list.events[list.count++];
        if (e.type == kEventParamValue) {
            event.value = EventParamValue{};
            event.value.header = EventHeader{sizeof(EventParamValue), 0, kCoreEventSpace, kEventParamValue, kEventIsLive};
            event.value.param_id = e.id;
            event.value.note_id = -1;
            event.value.port_index = event.value.channel = event.value.key = -1;
            event.value.value = e.value;
        } else {
            event.gesture = EventParamGesture{EventHeader{sizeof(EventParamGesture), 0, kCoreEventSpace, e.type, 0}, e.id};
        }
    }
    instance.outEvents.count = 0;
}

void clapReportOutput(Instance& instance) {
    const EventList& list = instance.outEvents;
    for (uint32_t i = 0; i < list.count; ++i) {
        const EventHeader& h = list.events[i].header;
        if (h.type == kEventParamValue)
            instance.fromAudio.push(ParamEvent{h.type, list.events[i].value.param_id, list.events[i].value.value});
    }
}

void clapServeMainThread(Instance& instance, int64_t now) {
    if (now == 0) now = nowMs();
    if (instance.restartRequested.exchange(false)) clapConfigure(instance);
    if (instance.flushRequested.exchange(false)) clapFlush(instance);
    if (instance.callbackRequested.exchange(false) && instance.plugin->on_main_thread)
        instance.plugin->on_main_thread(instance.plugin);
    // What the plug-in reported reaches the generic editor.
    ParamEvent e;
    bool reported = false;
    while (instance.fromAudio.pop(e)) {
        reported = true;
        if (e.type == kEventParamValue) clapReportEdit(instance, e.id);
    }
    if (reported || instance.rescanRequested.exchange(false) || instance.valuesChanged.exchange(false))
        if (clapRefreshParameters(instance)) editorRepaint(instance.editor);
    if (instance.timerSupport && instance.timerSupport->on_timer) {
        for (int i = 0; i < instance.timerCount; ++i) {
            Timer& t = instance.timers[i];
            if (now < t.dueMs) continue;
            t.dueMs = now + t.periodMs;
            const Id id = t.id;
            instance.timerSupport->on_timer(instance.plugin, id);  // may unregister timers
        }
    }
}

}  // namespace clap

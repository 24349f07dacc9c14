// One hosted CLAP plug-in: the record behind an instance handle (the handle
// is its address), shared by the wrapper (clapwrapper.cpp), the host side
// of the interface (claphost.cpp) and the editor frame's calls
// (clapeditor.cpp).
//
// Threads. The plug-in's main thread is the thread that opened the wrapper
// (the program's user-interface thread); its audio thread is whichever
// thread calls processPlugin. Values the user sets travel to the audio
// thread through `toAudio`; values the plug-in reports come back through
// `fromAudio`. Requests the plug-in makes from any thread are flags the
// main thread serves in `clapServeMainThread`.
#pragma once

#include <atomic>
#include <cstdint>

#include "wrappers/clap/clapabi.h"
#include "wrappers/clap/clapmodule.h"
#include "wrappers/common/editorframe.h"
#include "wrappers/common/pluginscan.h"
#include "wrappers/common/spscring.h"

namespace clap {

// A parameter value or gesture between the threads.
struct ParamEvent {
    uint16_t type;  // kEventParamValue, kEventParamGestureBegin or kEventParamGestureEnd
    Id id;
    double value;  // plain
};
using ParamEventRing = SpscRing<ParamEvent, 256>;

// The events of one process call, in storage of their own.
constexpr uint32_t kMaxBlockEvents = 128;

struct EventList {
    union Event {
        EventHeader header;
        EventParamValue value;
        EventParamGesture gesture;
    };
    Event events[kMaxBlockEvents];
    uint32_t count;
};

struct Timer {
    Id id;
    uint32_t periodMs;
    int64_t dueMs;
};
constexpr int kMaxTimers = 16;

struct Instance {
    Instance();

    Module* module = nullptr;
    char path[kScanPathSize] = "";
    PluginClass effect{};
    Host host{};  // host_data is this record
    const Plugin* plugin = nullptr;
    const PluginParams* params = nullptr;
    const PluginState* state = nullptr;
    const PluginLatency* latencyExtension = nullptr;
    const PluginAudioPorts* audioPorts = nullptr;
    const PluginGui* gui = nullptr;
    const PluginTimerSupport* timerSupport = nullptr;

    bool active = false;
    // The arrangement in use: 1 or 2 channels each way; no input port at all
    // leaves the plug-in without input.
    int32_t inputChannels = 2, outputChannels = 2;
    bool hasInput = true;
    std::atomic<int32_t> latency{0};
    std::atomic<uint8_t> bypassed{0};
    // The audio thread's side of the handshake around changes: `ready` says
    // the plug-in is active, `busy` that a block is inside it.
    std::atomic<bool> ready{false};
    std::atomic<bool> busy{false};
    // Whether start_processing has been called (by the audio thread) since
    // the last activation.
    std::atomic<bool> processing{false};
    // Requests from the plug-in, served on the main thread.
    std::atomic<bool> restartRequested{false}, callbackRequested{false}, flushRequested{false};
    std::atomic<bool> rescanRequested{false};
    // Parameters whose values changed and the generic editor should show.
    std::atomic<bool> valuesChanged{false};

    ParamEventRing toAudio;    // UI -> audio
    ParamEventRing fromAudio;  // audio -> UI
    EventList inEvents{}, outEvents{};
    InputEvents inList{};
    OutputEvents outList{};
    EventTransport transport{};
    AudioBuffer inputBuffer{}, outputBuffer{};
    float* inputs[2] = {nullptr, nullptr};
    float* outputs[2] = {nullptr, nullptr};
    Process process{};
    int64_t steadyTime = 0;

    EditorFrame editor;
    bool guiCreated = false;
    bool guiFloating = false;
    Timer timers[kMaxTimers]{};
    int timerCount = 0;
    Id nextTimerId = 1;

    uint8_t* userData = nullptr;
    uint32_t userSize = 0;
    Instance* next = nullptr;
};

// ---- the host side (claphost.cpp) ----

// The host record of an instance, with the program's name and version.
void clapHostInit(Instance& instance);
// Whether the calling thread is the plug-ins' main thread / acts as their
// audio thread now.
bool clapOnMainThread();
bool clapOnAudioThread();
// The main thread from now on (WD_OPEN's thread).
void clapSetMainThread();
// Marks the calling thread as the audio thread while it is in a plug-in.
struct AudioThreadScope {
    AudioThreadScope();
    ~AudioThreadScope();
    bool was;
};
// Calls to main-thread functions made on another thread, since the wrapper
// was opened (each is also written to the log).
int32_t clapThreadViolations();
// Counts and logs a call of `function` on the wrong thread; false then.
bool clapCheckMainThread(const char* function);

// The plug-in's requests, timers and queued values served: on the main
// thread, from the wrapper's idle and its own timer.
void clapServeMainThread(Instance& instance, int64_t nowMs);

// The input event list over `list` and the output list that keeps
// parameter values (and drops what does not fit).
void clapEventListsInit(Instance& instance);
// The user's values since the last block into the input list (audio
// thread, or the main thread while the plug-in is not processing).
void clapDrainToAudio(Instance& instance);
// What the plug-in reported into the output list goes to `fromAudio`.
void clapReportOutput(Instance& instance);

// ---- the wrapper (clapwrapper.cpp) ----

// Off the audio thread: deactivates, negotiates the ports, activates at the
// engine's rate and block again.
void clapConfigure(Instance& instance);
// The plug-in's latency read again (main thread).
void clapReadLatency(Instance& instance);
// Values reach a plug-in that is not processing (or, asked to, one that
// is, with its audio thread held) through a flush.
void clapFlush(Instance& instance, bool evenWhileProcessing = false);
int32_t clapParameterCount(Instance& instance);
bool clapParameterInfo(Instance& instance, int32_t index, ParamInfo& info);
// A value the plug-in reported (its own editor moved it), on the main
// thread: the host hears the parameter's index.
void clapReportEdit(Instance& instance, Id id);
// A plain value into 0..1 of the parameter's range and back.
double clapNormalized(const ParamInfo& info, double plain);
double clapPlain(const ParamInfo& info, double normalized);

// ---- the editor (clapeditor.cpp) ----

extern const EditorCalls kClapEditorCalls;
constexpr EditorClasses kClapEditorClasses{"CLAP_Wrapper_Editor", "CLAP_Default_Editor", 106, 107};
// The generic editor's cache read again; true when a value or the count changed.
bool clapRefreshParameters(Instance& instance);
void clapFreeEditorParts(Instance& instance);

}  // namespace clap

// The CLAP binary interface as this program uses it: plain C records of
// data and function pointers, versioned, found by string ids. Written from
// the interface's published description; every record's layout is checked
// below, for 64-bit targets and for 32-bit Windows.
//
// Type names are ours; member names, ids and constants are the interface's,
// since plug-ins are written against those.
#pragma once

#include <cstddef>
#include <cstdint>

#if defined(_WIN32)
#define CLAP_CALL __cdecl
#else
#define CLAP_CALL
#endif

namespace clap {

using Id = uint32_t;
constexpr Id kInvalidId = 0xFFFFFFFFu;
constexpr size_t kNameSize = 256;
constexpr size_t kPathSize = 1024;

struct Version {
    uint32_t major, minor, revision;
};
// What this host declares itself as; it speaks any 1.x plug-in.
constexpr Version kHostVersion{1, 2, 0};
inline bool versionIsCompatible(const Version& v) { return v.major >= 1; }

struct Host;
struct Plugin;

// ---- the module's entry and its factory ----

constexpr const char kPluginFactoryId[] = "clap.plugin-factory";

struct PluginEntry {
    Version clap_version;
    bool(CLAP_CALL* init)(const char* plugin_path);
    void(CLAP_CALL* deinit)();
    const void*(CLAP_CALL* get_factory)(const char* factory_id);
};

struct PluginDescriptor {
    Version clap_version;
    const char* id;
    const char* name;
    const char* vendor;
    const char* url;
    const char* manual_url;
    const char* support_url;
    const char* version;
    const char* description;
    const char* const* features;  // null-terminated
};

constexpr const char kFeatureAudioEffect[] = "audio-effect";
constexpr const char kFeatureInstrument[] = "instrument";

struct PluginFactory {
    uint32_t(CLAP_CALL* get_plugin_count)(const PluginFactory* factory);
    const PluginDescriptor*(CLAP_CALL* get_plugin_descriptor)(const PluginFactory* factory, uint32_t index);
    const Plugin*(CLAP_CALL* create_plugin)(const PluginFactory* factory, const Host* host, const char* plugin_id);
};

// ---- the host and the plug-in ----

struct Host {
    Version clap_version;
    void* host_data;
    const char* name;
    const char* vendor;
    const char* url;
    const char* version;
    const void*(CLAP_CALL* get_extension)(const Host* host, const char* extension_id);
    void(CLAP_CALL* request_restart)(const Host* host);
    void(CLAP_CALL* request_process)(const Host* host);
    void(CLAP_CALL* request_callback)(const Host* host);
};

// ---- events ----

struct EventHeader {
    uint32_t size;  // the whole event's
    uint32_t time;  // frame within the block
    uint16_t space_id;
    uint16_t type;
    uint32_t flags;
};

constexpr uint16_t kCoreEventSpace = 0;
enum : uint16_t {
    kEventParamValue = 5,
    kEventParamMod = 6,
    kEventParamGestureBegin = 7,
    kEventParamGestureEnd = 8,
    kEventTransport = 9,
};
enum : uint32_t { kEventIsLive = 1 << 0, kEventDontRecord = 1 << 1 };

struct EventParamValue {
    EventHeader header;
    Id param_id;
    void* cookie;
    int32_t note_id;
    int16_t port_index;
    int16_t channel;
    int16_t key;
    double value;
};

struct EventParamGesture {
    EventHeader header;
    Id param_id;
};

enum : uint32_t {
    kTransportHasTempo = 1 << 0,
    kTransportHasBeatsTimeline = 1 << 1,
    kTransportHasSecondsTimeline = 1 << 2,
    kTransportHasTimeSignature = 1 << 3,
    kTransportIsPlaying = 1 << 4,
};
constexpr int64_t kFixedPointFactor = int64_t{1} << 31;  // beats and seconds

struct EventTransport {
    EventHeader header;
    uint32_t flags;
    int64_t song_pos_beats;
    int64_t song_pos_seconds;
    double tempo;
    double tempo_inc;
    int64_t loop_start_beats;
    int64_t loop_end_beats;
    int64_t loop_start_seconds;
    int64_t loop_end_seconds;
    int64_t bar_start;
    int32_t bar_number;
    uint16_t tsig_num;
    uint16_t tsig_denom;
};

struct InputEvents {
    void* ctx;
    uint32_t(CLAP_CALL* size)(const InputEvents* list);
    const EventHeader*(CLAP_CALL* get)(const InputEvents* list, uint32_t index);
};

struct OutputEvents {
    void* ctx;
    bool(CLAP_CALL* try_push)(const OutputEvents* list, const EventHeader* event);
};

// ---- processing ----

struct AudioBuffer {
    float** data32;
    double** data64;
    uint32_t channel_count;
    uint32_t latency;
    uint64_t constant_mask;
};

enum : int32_t {
    kProcessError = 0,
    kProcessContinue = 1,
    kProcessContinueIfNotQuiet = 2,
    kProcessTail = 3,
    kProcessSleep = 4,
};

struct Process {
    int64_t steady_time;
    uint32_t frames_count;
    const EventTransport* transport;
    const AudioBuffer* audio_inputs;
    AudioBuffer* audio_outputs;
    uint32_t audio_inputs_count;
    uint32_t audio_outputs_count;
    const InputEvents* in_events;
    const OutputEvents* out_events;
};

struct Plugin {
    const PluginDescriptor* desc;
    void* plugin_data;
    bool(CLAP_CALL* init)(const Plugin* plugin);
    void(CLAP_CALL* destroy)(const Plugin* plugin);
    bool(CLAP_CALL* activate)(const Plugin* plugin, double sample_rate, uint32_t min_frames_count,
                              uint32_t max_frames_count);
    void(CLAP_CALL* deactivate)(const Plugin* plugin);
    bool(CLAP_CALL* start_processing)(const Plugin* plugin);
    void(CLAP_CALL* stop_processing)(const Plugin* plugin);
    void(CLAP_CALL* reset)(const Plugin* plugin);
    int32_t(CLAP_CALL* process)(const Plugin* plugin, const Process* process);
    const void*(CLAP_CALL* get_extension)(const Plugin* plugin, const char* id);
    void(CLAP_CALL* on_main_thread)(const Plugin* plugin);
};

// ---- streams ----

struct IStream {
    void* ctx;
    int64_t(CLAP_CALL* read)(const IStream* stream, void* buffer, uint64_t size);
};

struct OStream {
    void* ctx;
    int64_t(CLAP_CALL* write)(const OStream* stream, const void* buffer, uint64_t size);
};

// ---- extensions ----

constexpr const char kExtParams[] = "clap.params";
constexpr const char kExtState[] = "clap.state";
constexpr const char kExtLatency[] = "clap.latency";
constexpr const char kExtAudioPorts[] = "clap.audio-ports";
constexpr const char kExtGui[] = "clap.gui";
constexpr const char kExtLog[] = "clap.log";
constexpr const char kExtThreadCheck[] = "clap.thread-check";
constexpr const char kExtTimerSupport[] = "clap.timer-support";

enum : uint32_t {
    kParamIsStepped = 1 << 0,
    kParamIsHidden = 1 << 2,
    kParamIsReadonly = 1 << 3,
    kParamIsBypass = 1 << 4,
    kParamIsAutomatable = 1 << 5,
    kParamRequiresProcess = 1 << 15,
    kParamIsEnum = 1 << 16,
};

struct ParamInfo {
    Id id;
    uint32_t flags;
    void* cookie;
    char name[kNameSize];
    char module[kPathSize];
    double min_value;
    double max_value;
    double default_value;
};

struct PluginParams {
    uint32_t(CLAP_CALL* count)(const Plugin* plugin);
    bool(CLAP_CALL* get_info)(const Plugin* plugin, uint32_t param_index, ParamInfo* param_info);
    bool(CLAP_CALL* get_value)(const Plugin* plugin, Id param_id, double* out_value);
    bool(CLAP_CALL* value_to_text)(const Plugin* plugin, Id param_id, double value, char* out_buffer,
                                   uint32_t out_buffer_capacity);
    bool(CLAP_CALL* text_to_value)(const Plugin* plugin, Id param_id, const char* param_value_text,
                                   double* out_value);
    void(CLAP_CALL* flush)(const Plugin* plugin, const InputEvents* in, const OutputEvents* out);
};

enum : uint32_t {
    kParamRescanValues = 1 << 0,
    kParamRescanText = 1 << 1,
    kParamRescanInfo = 1 << 2,
    kParamRescanAll = 1 << 3,
};

struct HostParams {
    void(CLAP_CALL* rescan)(const Host* host, uint32_t flags);
    void(CLAP_CALL* clear)(const Host* host, Id param_id, uint32_t flags);
    void(CLAP_CALL* request_flush)(const Host* host);
};

struct PluginState {
    bool(CLAP_CALL* save)(const Plugin* plugin, const OStream* stream);
    bool(CLAP_CALL* load)(const Plugin* plugin, const IStream* stream);
};

struct HostState {
    void(CLAP_CALL* mark_dirty)(const Host* host);
};

struct PluginLatency {
    uint32_t(CLAP_CALL* get)(const Plugin* plugin);
};

struct HostLatency {
    void(CLAP_CALL* changed)(const Host* host);
};

enum : uint32_t { kAudioPortIsMain = 1 << 0 };
constexpr const char kPortMono[] = "mono";
constexpr const char kPortStereo[] = "stereo";

struct AudioPortInfo {
    Id id;
    char name[kNameSize];
    uint32_t flags;
    uint32_t channel_count;
    const char* port_type;
    Id in_place_pair;
};

struct PluginAudioPorts {
    uint32_t(CLAP_CALL* count)(const Plugin* plugin, bool is_input);
    bool(CLAP_CALL* get)(const Plugin* plugin, uint32_t index, bool is_input, AudioPortInfo* info);
};

struct HostAudioPorts {
    bool(CLAP_CALL* is_rescan_flag_supported)(const Host* host, uint32_t flag);
    void(CLAP_CALL* rescan)(const Host* host, uint32_t flags);
};

constexpr const char kWindowApiWin32[] = "win32";

struct Window {
    const char* api;
    union {
        void* win32;
        unsigned long x11;
        void* ptr;
    };
};

struct GuiResizeHints {
    bool can_resize_horizontally;
    bool can_resize_vertically;
    bool preserve_aspect_ratio;
    uint32_t aspect_ratio_width;
    uint32_t aspect_ratio_height;
};

struct PluginGui {
    bool(CLAP_CALL* is_api_supported)(const Plugin* plugin, const char* api, bool is_floating);
    bool(CLAP_CALL* get_preferred_api)(const Plugin* plugin, const char** api, bool* is_floating);
    bool(CLAP_CALL* create)(const Plugin* plugin, const char* api, bool is_floating);
    void(CLAP_CALL* destroy)(const Plugin* plugin);
    bool(CLAP_CALL* set_scale)(const Plugin* plugin, double scale);
    bool(CLAP_CALL* get_size)(const Plugin* plugin, uint32_t* width, uint32_t* height);
    bool(CLAP_CALL* can_resize)(const Plugin* plugin);
    bool(CLAP_CALL* get_resize_hints)(const Plugin* plugin, GuiResizeHints* hints);
    bool(CLAP_CALL* adjust_size)(const Plugin* plugin, uint32_t* width, uint32_t* height);
    bool(CLAP_CALL* set_size)(const Plugin* plugin, uint32_t width, uint32_t height);
    bool(CLAP_CALL* set_parent)(const Plugin* plugin, const Window* window);
    bool(CLAP_CALL* set_transient)(const Plugin* plugin, const Window* window);
    void(CLAP_CALL* suggest_title)(const Plugin* plugin, const char* title);
    bool(CLAP_CALL* show)(const Plugin* plugin);
    bool(CLAP_CALL* hide)(const Plugin* plugin);
};

struct HostGui {
    void(CLAP_CALL* resize_hints_changed)(const Host* host);
    bool(CLAP_CALL* request_resize)(const Host* host, uint32_t width, uint32_t height);
    bool(CLAP_CALL* request_show)(const Host* host);
    bool(CLAP_CALL* request_hide)(const Host* host);
    void(CLAP_CALL* closed)(const Host* host, bool was_destroyed);
};

enum : int32_t {
    kLogDebug = 0,
    kLogInfo = 1,
    kLogWarning = 2,
    kLogError = 3,
    kLogFatal = 4,
    kLogHostMisbehaving = 5,
    kLogPluginMisbehaving = 6,
};

struct HostLog {
    void(CLAP_CALL* log)(const Host* host, int32_t severity, const char* msg);
};

struct HostThreadCheck {
    bool(CLAP_CALL* is_main_thread)(const Host* host);
    bool(CLAP_CALL* is_audio_thread)(const Host* host);
};

struct PluginTimerSupport {
    void(CLAP_CALL* on_timer)(const Plugin* plugin, Id timer_id);
};

struct HostTimerSupport {
    bool(CLAP_CALL* register_timer)(const Host* host, uint32_t period_ms, Id* timer_id);
    bool(CLAP_CALL* unregister_timer)(const Host* host, Id timer_id);
};

// The module's exported record.
constexpr const char kEntrySymbol[] = "clap_entry";

// ---- layouts ----
// Both widths: 64-bit targets, and 32-bit Windows (for the 32-bit helper),
// where 64-bit integers and doubles in records are aligned to 8 bytes.

static_assert(sizeof(Version) == 12 && sizeof(EventHeader) == 16 && sizeof(EventParamGesture) == 20);
static_assert(offsetof(EventTransport, song_pos_beats) == 24 && offsetof(EventTransport, tempo) == 40 &&
              offsetof(EventTransport, bar_number) == 96 && offsetof(EventTransport, tsig_denom) == 102 &&
              sizeof(EventTransport) == 104);
static_assert(sizeof(GuiResizeHints) == 12 && offsetof(GuiResizeHints, aspect_ratio_width) == 4);
#if defined(_WIN32) && !defined(_WIN64)
static_assert(offsetof(PluginEntry, init) == 12 && sizeof(PluginEntry) == 24);
static_assert(offsetof(PluginDescriptor, id) == 12 && offsetof(PluginDescriptor, features) == 44 &&
              sizeof(PluginDescriptor) == 48);
static_assert(sizeof(PluginFactory) == 12);
static_assert(offsetof(Host, host_data) == 12 && offsetof(Host, get_extension) == 32 && sizeof(Host) == 48);
static_assert(offsetof(EventParamValue, param_id) == 16 && offsetof(EventParamValue, cookie) == 20 &&
              offsetof(EventParamValue, note_id) == 24 && offsetof(EventParamValue, value) == 40 &&
              sizeof(EventParamValue) == 48);
static_assert(sizeof(InputEvents) == 12 && sizeof(OutputEvents) == 8);
static_assert(offsetof(AudioBuffer, channel_count) == 8 && offsetof(AudioBuffer, constant_mask) == 16 &&
              sizeof(AudioBuffer) == 24);
static_assert(offsetof(Process, frames_count) == 8 && offsetof(Process, transport) == 12 &&
              offsetof(Process, audio_inputs_count) == 24 && offsetof(Process, in_events) == 32 &&
              sizeof(Process) == 40);
static_assert(offsetof(Plugin, init) == 8 && offsetof(Plugin, process) == 36 &&
              offsetof(Plugin, on_main_thread) == 44 && sizeof(Plugin) == 48);
static_assert(sizeof(IStream) == 8 && sizeof(OStream) == 8);
static_assert(offsetof(ParamInfo, cookie) == 8 && offsetof(ParamInfo, name) == 12 &&
              offsetof(ParamInfo, module) == 268 && offsetof(ParamInfo, min_value) == 1296 &&
              sizeof(ParamInfo) == 1320);
static_assert(sizeof(PluginParams) == 24 && sizeof(HostParams) == 12);
static_assert(sizeof(PluginState) == 8 && sizeof(HostState) == 4);
static_assert(offsetof(AudioPortInfo, flags) == 260 && offsetof(AudioPortInfo, port_type) == 268 &&
              offsetof(AudioPortInfo, in_place_pair) == 272 && sizeof(AudioPortInfo) == 276);
static_assert(sizeof(Window) == 8);
static_assert(sizeof(PluginGui) == 15 * 4 && sizeof(HostGui) == 5 * 4);
static_assert(sizeof(HostThreadCheck) == 8 && sizeof(HostTimerSupport) == 8);
#else
static_assert(sizeof(void*) == 8, "declared for 64-bit targets and 32-bit Windows");
static_assert(sizeof(Version) == 12);
static_assert(offsetof(PluginEntry, init) == 16 && sizeof(PluginEntry) == 40);
static_assert(offsetof(PluginDescriptor, id) == 16 && offsetof(PluginDescriptor, features) == 80 &&
              sizeof(PluginDescriptor) == 88);
static_assert(sizeof(PluginFactory) == 24);
static_assert(offsetof(Host, host_data) == 16 && offsetof(Host, get_extension) == 56 && sizeof(Host) == 88);
static_assert(sizeof(EventHeader) == 16);
static_assert(offsetof(EventParamValue, param_id) == 16 && offsetof(EventParamValue, cookie) == 24 &&
              offsetof(EventParamValue, note_id) == 32 && offsetof(EventParamValue, value) == 48 &&
              sizeof(EventParamValue) == 56);
static_assert(sizeof(EventParamGesture) == 20);
static_assert(offsetof(EventTransport, song_pos_beats) == 24 && offsetof(EventTransport, tempo) == 40 &&
              offsetof(EventTransport, bar_number) == 96 && offsetof(EventTransport, tsig_denom) == 102 &&
              sizeof(EventTransport) == 104);
static_assert(sizeof(InputEvents) == 24 && sizeof(OutputEvents) == 16);
static_assert(offsetof(AudioBuffer, channel_count) == 16 && offsetof(AudioBuffer, constant_mask) == 24 &&
              sizeof(AudioBuffer) == 32);
static_assert(offsetof(Process, frames_count) == 8 && offsetof(Process, transport) == 16 &&
              offsetof(Process, audio_inputs_count) == 40 && offsetof(Process, in_events) == 48 &&
              sizeof(Process) == 64);
static_assert(offsetof(Plugin, init) == 16 && offsetof(Plugin, process) == 72 &&
              offsetof(Plugin, on_main_thread) == 88 && sizeof(Plugin) == 96);
static_assert(sizeof(IStream) == 16 && sizeof(OStream) == 16);
static_assert(offsetof(ParamInfo, cookie) == 8 && offsetof(ParamInfo, name) == 16 &&
              offsetof(ParamInfo, module) == 272 && offsetof(ParamInfo, min_value) == 1296 &&
              sizeof(ParamInfo) == 1320);
static_assert(sizeof(PluginParams) == 48 && sizeof(HostParams) == 24);
static_assert(sizeof(PluginState) == 16 && sizeof(HostState) == 8);
static_assert(offsetof(AudioPortInfo, flags) == 260 && offsetof(AudioPortInfo, port_type) == 272 &&
              offsetof(AudioPortInfo, in_place_pair) == 280 && sizeof(AudioPortInfo) == 288);
static_assert(sizeof(Window) == 16);
static_assert(offsetof(GuiResizeHints, aspect_ratio_width) == 4 && sizeof(GuiResizeHints) == 12);
static_assert(sizeof(PluginGui) == 15 * 8 && sizeof(HostGui) == 5 * 8);
static_assert(sizeof(HostThreadCheck) == 16 && sizeof(HostTimerSupport) == 16);
#endif

}  // namespace clap

// The CLAP wrapper: hosts the audio effects of CLAP modules behind the
// wrapper protocol.
//
// Threads: every command arrives on the UI thread, the plug-ins' main
// thread (WD_REFRESH_LIST on the host's scanning thread while the UI sits
// in a modal dialog), except `processPlugin`, which runs on the audio
// thread with the instance it is given: it allocates nothing and waits on
// nothing. Requests plug-ins make from any thread are served on the main
// thread by WD_IDLE and by the wrapper's own timer.
//
// A module is third-party code: every count, size and string it gives is
// checked before it sizes a buffer or an index, and a state blob from a
// file is checked against the bytes left before anything is read.
#include <atomic>
#include <chrono>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <thread>

#include "common/bytes.h"
#include "host/wrapperprotocol.h"
#include "platform/platform.h"
#include "wrappers/clap/clapinstance.h"
#include "wrappers/common/hostcheck.h"
#include "wrappers/common/instancelist.h"
#include "wrappers/common/wrapperparts.h"

using namespace clap;

namespace clap {

Instance::Instance() {
    clapHostInit(*this);
    clapEventListsInit(*this);
    editorFrameInit(editor, &kClapEditorCalls, this);
    editor.programMenu = false;  // CLAP plug-ins keep their presets to themselves
}

}  // namespace clap

namespace {

constexpr const char* kWrapperName = "CLAP Plugins";
constexpr const char* kVersionCaption = "Host version is not correct";
constexpr const char* kBlobTag = "CLAPWRAP";
constexpr size_t kBlobTagLength = 8;
constexpr int32_t kFallbackRate = 44100;
constexpr int32_t kFallbackBlockSize = 1024;
constexpr int32_t kMaxBlock = 1 << 16;
constexpr size_t kMaxStateSize = 64u << 20;  // a larger state is taken as damage

struct Available {
    char path[kScanPathSize];
    PluginClass effect;
    bool bits32;  // a 32-bit module's, listed for the 32-bit helper
    Available* next;
};

HostCallbackFn hostCallback = nullptr;
char applicationDirectory[kScanPathSize] = "";
std::atomic<int32_t> sampleRate{0};
std::atomic<int32_t> blockSize{0};
std::atomic<float> tempo{120.0f};
int32_t engineChannels = 2;
bool processingOn = true;
WrapperScratch scratch;
Available* availableList = nullptr;
Instance* instances = nullptr;
uint8_t* savedState = nullptr;

intptr_t callHost(intptr_t opcode, intptr_t a1, intptr_t a2) {
    return hostCallback ? hostCallback(opcode, a1, a2) : 0;
}

int32_t currentRate() {
    const int32_t rate = sampleRate.load(std::memory_order_relaxed);
    return rate > 0 ? rate : kFallbackRate;
}

int32_t currentBlock() {
    const int32_t frames = blockSize.load(std::memory_order_relaxed);
    return frames > 0 ? frames : kFallbackBlockSize;
}



// ---- the available list and the scan ----

// A listed plug-in this process can create: a 32-bit one is only listed
// here, for the 32-bit helper.
Available* availableAt(intptr_t index) {
    Available* entry = ::availableAt(availableList, index);
    return entry && !entry->bits32 ? entry : nullptr;
}

void addClass(void* context, const char* path, const PluginClass& c, bool bits32) {
    Available**& tail = *static_cast<Available***>(context);
    auto* entry = new (std::nothrow) Available();
    if (!entry) return;
    std::snprintf(entry->path, sizeof entry->path, "%s", path);
    entry->effect = c;
    entry->bits32 = bits32;
    *tail = entry;
    tail = &entry->next;
}

// The folders searched: the system's shared and per-user CLAP folders,
// those of CLAP_PATH, then the program's VST directory.
void searchFolders(ScanFolders& folders) {
    char base[kScanPathSize], folder[kScanPathSize];
#if defined(_WIN32)
    if (platformEnvironment("COMMONPROGRAMFILES", base, sizeof base) &&
        std::snprintf(folder, sizeof folder, "%s\\CLAP", base) < static_cast<int>(sizeof folder))
        scanFoldersAdd(folders, folder);
    if (platformEnvironment("LOCALAPPDATA", base, sizeof base) &&
        std::snprintf(folder, sizeof folder, "%s\\Programs\\Common\\CLAP", base) < static_cast<int>(sizeof folder))
        scanFoldersAdd(folders, folder);
#else
    if (platformEnvironment("HOME", base, sizeof base) &&
        std::snprintf(folder, sizeof folder, "%s/.clap", base) < static_cast<int>(sizeof folder))
        scanFoldersAdd(folders, folder);
    scanFoldersAdd(folders, "/usr/lib/clap");
#endif
    static char list[8 * 1024];
    if (platformEnvironment("CLAP_PATH", list, sizeof list)) scanFoldersAddList(folders, list);
    if (platformReadSetting("VSTDir", folder, sizeof folder) && folder[0])
        scanFoldersAdd(folders, folder);
    else if (std::snprintf(folder, sizeof folder, "%sVST Plugins", applicationDirectory) < static_cast<int>(sizeof folder))
        scanFoldersAdd(folders, folder);
}

intptr_t refreshList() {
    freeAvailable(availableList);
    ScanFolders folders{};
    searchFolders(folders);
    Available** tail = &availableList;
    scanModules(kClapScan, folders, hostCallback, addClass, &tail);
    return 1;
}

// ---- instances ----

// UI thread: keeps the audio thread out of the plug-in, waiting for a
// block that is inside it (both flags sequentially consistent, as the
// engine's own handshake). Returns whether it was ready.
bool holdAudio(Instance& instance) {
    const bool was = instance.ready.exchange(false);
    while (instance.busy.load()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    return was;
}

// With the audio thread held: stops processing on its behalf and
// deactivates.
void deactivate(Instance& instance) {
    holdAudio(instance);
    if (instance.processing.exchange(false)) {
        AudioThreadScope audio;
        if (instance.plugin->stop_processing) instance.plugin->stop_processing(instance.plugin);
    }
    if (instance.active) instance.plugin->deactivate(instance.plugin);
    instance.active = false;
}

// The main ports' channel counts; false when the plug-in has no main
// output of one or two channels, or an input of more than two.
bool readPorts(Instance& instance) {
    instance.hasInput = true;
    instance.inputChannels = instance.outputChannels = 2;
    if (!instance.audioPorts) return true;  // no ports extension: stereo in and out is taken
    const PluginAudioPorts& ports = *instance.audioPorts;
    const uint32_t ins = ports.count ? ports.count(instance.plugin, true) : 0;
    const uint32_t outs = ports.count ? ports.count(instance.plugin, false) : 0;
    if (outs < 1 || outs > 16 || ins > 16) return false;
    AudioPortInfo info{};
    if (!ports.get(instance.plugin, 0, false, &info) || info.channel_count < 1 || info.channel_count > 2) return false;
    instance.outputChannels = static_cast<int32_t>(info.channel_count);
    instance.hasInput = ins > 0;
    if (instance.hasInput) {
        info = AudioPortInfo{};
        if (!ports.get(instance.plugin, 0, true, &info) || info.channel_count < 1 || info.channel_count > 2)
            return false;
        instance.inputChannels = static_cast<int32_t>(info.channel_count);
    }
    return true;
}

}  // namespace

namespace clap {

void clapReadLatency(Instance& instance) {
    const uint32_t frames = instance.latencyExtension && instance.latencyExtension->get
                                ? instance.latencyExtension->get(instance.plugin)
                                : 0;
    instance.latency.store(frames > 0x7FFFFFFFu ? 0 : static_cast<int32_t>(frames), std::memory_order_relaxed);
}

// Off the audio thread: deactivates, reads the ports, activates at the
// engine's rate and maximum block; the audio thread starts processing at
// its next block.
void clapConfigure(Instance& instance) {
    deactivate(instance);
    if (!readPorts(instance)) return;
    if (!instance.plugin->activate(instance.plugin, static_cast<double>(currentRate()), 1,
                                   static_cast<uint32_t>(currentBlock())))
        return;
    instance.active = true;
    clapReadLatency(instance);
    Process& p = instance.process;
    p = Process{};
    p.steady_time = -1;
    instance.inputBuffer = AudioBuffer{instance.inputs, nullptr, static_cast<uint32_t>(instance.inputChannels), 0, 0};
    instance.outputBuffer = AudioBuffer{instance.outputs, nullptr, static_cast<uint32_t>(instance.outputChannels), 0, 0};
    p.transport = &instance.transport;
    p.audio_inputs = instance.hasInput ? &instance.inputBuffer : nullptr;
    p.audio_inputs_count = instance.hasInput ? 1 : 0;
    p.audio_outputs = &instance.outputBuffer;
    p.audio_outputs_count = 1;
    p.in_events = &instance.inList;
    p.out_events = &instance.outList;
    instance.transport = EventTransport{};
    instance.transport.header = EventHeader{sizeof(EventTransport), 0, kCoreEventSpace, kEventTransport, 0};
    instance.ready.store(processingOn);
}

void clapFlush(Instance& instance, bool evenWhileProcessing) {
    if (!instance.params || !instance.params->flush) return;
    // A processing plug-in takes the values with its next block.
    if (!evenWhileProcessing && instance.ready.load() && instance.processing.load() &&
        !instance.bypassed.load(std::memory_order_relaxed))
        return;
    const bool wasReady = holdAudio(instance);
    clapDrainToAudio(instance);
    if (instance.active) {
        // Flushing an active plug-in is the audio thread's; that thread is held.
        AudioThreadScope audio;
        instance.params->flush(instance.plugin, &instance.inList, &instance.outList);
    } else {
        instance.params->flush(instance.plugin, &instance.inList, &instance.outList);
    }
    clapReportOutput(instance);
    instance.valuesChanged.store(true);
    if (wasReady) instance.ready.store(true);
}

int32_t clapParameterCount(Instance& instance) {
    if (!instance.params || !instance.params->count) return 0;
    const uint32_t n = instance.params->count(instance.plugin);
    return n < (1u << 16) ? static_cast<int32_t>(n) : 0;
}

bool clapParameterInfo(Instance& instance, int32_t index, ParamInfo& info) {
    if (index < 0 || index >= clapParameterCount(instance) || !instance.params->get_info) return false;
    std::memset(&info, 0, sizeof info);
    if (!instance.params->get_info(instance.plugin, static_cast<uint32_t>(index), &info)) return false;
    info.name[kNameSize - 1] = '\0';
    info.module[kPathSize - 1] = '\0';
    return std::isfinite(info.min_value) && std::isfinite(info.max_value) && info.max_value >= info.min_value;
}

void clapReportEdit(Instance& instance, Id id) {
    if (!findInstance(instances, reinterpret_cast<intptr_t>(&instance))) return;  // not the host's yet
    const int32_t n = clapParameterCount(instance);
    for (int32_t i = 0; i < n; ++i) {
        ParamInfo info;
        if (clapParameterInfo(instance, i, info) && info.id == id) {
            // A read-only parameter is the plug-in's meter, not an edit.
            if (!(info.flags & kParamIsReadonly))
                callHost(HC_PARAMETER_CHANGED, reinterpret_cast<intptr_t>(&instance), i);
            return;
        }
    }
}

double clapNormalized(const ParamInfo& info, double plain) {
    const double span = info.max_value - info.min_value;
    if (!(span > 0.0) || !std::isfinite(plain)) return 0.0;
    const double v = (plain - info.min_value) / span;
    return v < 0.0 ? 0.0 : v > 1.0 ? 1.0 : v;
}

double clapPlain(const ParamInfo& info, double normalized) {
    const double v = normalized < 0.0 ? 0.0 : normalized > 1.0 ? 1.0 : normalized;
    double plain = info.min_value + v * (info.max_value - info.min_value);
    if (info.flags & kParamIsStepped) plain = std::round(plain);
    return plain;
}

}  // namespace clap

namespace {

template <class T>
const T* extension(const Plugin* plugin, const char* id) {
    return plugin->get_extension ? static_cast<const T*>(plugin->get_extension(plugin, id)) : nullptr;
}

void releasePlugin(Instance& instance) {
    clapFreeEditorParts(instance);
    if (instance.plugin) {
        deactivate(instance);
        instance.plugin->destroy(instance.plugin);
    }
    instance.plugin = nullptr;
    instance.params = nullptr;
    instance.state = nullptr;
    instance.latencyExtension = nullptr;
    instance.audioPorts = nullptr;
    instance.gui = nullptr;
    instance.timerSupport = nullptr;
    instance.timerCount = 0;
    moduleClose(instance.module);
    instance.module = nullptr;
}

// Creates and initialises the plug-in `id` of the module at `path` for
// the record and activates it. False when any required step fails; the
// record then holds no plug-in.
bool makePlugin(Instance& instance, const char* path, const char* id, const char* name) {
    std::snprintf(instance.path, sizeof instance.path, "%s", path);
    std::snprintf(instance.effect.id, sizeof instance.effect.id, "%s", id);
    classNameFrom(name, kClassNameSize, instance.effect.name);
    instance.module = moduleOpen(path);
    const PluginFactory* factory = instance.module ? instance.module->factory : nullptr;
    const Plugin* plugin = factory ? factory->create_plugin(factory, &instance.host, id) : nullptr;
    if (plugin && (!plugin->init || !plugin->destroy || !plugin->activate || !plugin->deactivate ||
                   !plugin->process)) {
        if (plugin->destroy) plugin->destroy(plugin);
        plugin = nullptr;
    }
    if (plugin && !plugin->init(plugin)) {
        plugin->destroy(plugin);
        plugin = nullptr;
    }
    if (!plugin) {
        moduleClose(instance.module);
        instance.module = nullptr;
        return false;
    }
    instance.plugin = plugin;
    instance.params = extension<PluginParams>(plugin, kExtParams);
    instance.state = extension<PluginState>(plugin, kExtState);
    instance.latencyExtension = extension<PluginLatency>(plugin, kExtLatency);
    instance.audioPorts = extension<PluginAudioPorts>(plugin, kExtAudioPorts);
    instance.timerSupport = extension<PluginTimerSupport>(plugin, kExtTimerSupport);
#if defined(_WIN32)
    instance.gui = extension<PluginGui>(plugin, kExtGui);
#endif
    if (instance.params && (!instance.params->count || !instance.params->get_info || !instance.params->get_value))
        instance.params = nullptr;
    if (instance.audioPorts && (!instance.audioPorts->count || !instance.audioPorts->get))
        instance.audioPorts = nullptr;
    clapConfigure(instance);
    if (!instance.active) {
        releasePlugin(instance);
        return false;
    }
    clapRefreshParameters(instance);
    return true;
}

Instance* createInstance(const char* path, const char* id, const char* name) {
    auto* instance = new (std::nothrow) Instance();
    if (!instance) return nullptr;
    if (!makePlugin(*instance, path, id, name)) {
        delete instance;
        return nullptr;
    }
    appendInstance(instances, instance);
    return instance;
}

void unlinkAndFree(Instance* instance) {
    unlinkInstance(instances, instance);
    releasePlugin(*instance);
    std::free(instance->userData);
    delete instance;
}

void destroyAll() {
    while (instances) unlinkAndFree(instances);
}

// The record behind the chain's handle takes another plug-in. The plug-in
// holds its host record, which is this record's, so it is made here: first
// tried in a record of its own, so that one that cannot be made leaves the
// old plug-in in place.
intptr_t replaceInstance(Instance* instance, intptr_t index) {
    Available* entry = availableAt(index);
    if (!entry) return 0;
    Instance* trial = new (std::nothrow) Instance();
    if (!trial) return 0;
    const bool made = makePlugin(*trial, entry->path, entry->effect.id, entry->effect.name);
    // The trial keeps the module loaded across the switch.
    Module* keep = made ? moduleOpen(entry->path) : nullptr;
    if (made) releasePlugin(*trial);
    delete trial;
    if (!made) return 0;
    releasePlugin(*instance);
    std::free(instance->userData);
    instance->userData = nullptr;
    instance->userSize = 0;
    const bool ok = makePlugin(*instance, entry->path, entry->effect.id, entry->effect.name);
    moduleClose(keep);
    return ok ? 1 : 0;
}


// The main thread's service; not again from inside itself (a plug-in's
// modal loop runs the timer that calls it).
void serveAll() {
    static bool serving = false;
    if (serving) return;
    serving = true;
    for (Instance* i = instances; i; i = i->next) clapServeMainThread(*i, 0);
    serving = false;
}

// ---- the state blob ----

struct Buffer {
    uint8_t* data;
    size_t size, capacity;
    bool failed;
};

int64_t CLAP_CALL bufferWrite(const OStream* stream, const void* bytes, uint64_t size) {
    auto* b = static_cast<Buffer*>(stream->ctx);
    if (b->failed || !bytes) return -1;
    if (size > kMaxStateSize - b->size) {
        b->failed = true;
        return -1;
    }
    if (b->size + size > b->capacity) {
        size_t capacity = b->capacity ? b->capacity : 4096;
        while (capacity < b->size + size) capacity *= 2;
        auto* grown = static_cast<uint8_t*>(std::realloc(b->data, capacity));
        if (!grown) {
            b->failed = true;
            return -1;
        }
        b->data = grown;
        b->capacity = capacity;
    }
    std::memcpy(b->data + b->size, bytes, static_cast<size_t>(size));
    b->size += static_cast<size_t>(size);
    return static_cast<int64_t>(size);
}

struct Reader {
    const uint8_t* data;
    size_t size, at;
};

int64_t CLAP_CALL readerRead(const IStream* stream, void* bytes, uint64_t size) {
    auto* r = static_cast<Reader*>(stream->ctx);
    if (!bytes) return -1;
    const size_t left = r->size - r->at;
    const size_t n = size < left ? static_cast<size_t>(size) : left;
    if (n) std::memcpy(bytes, r->data + r->at, n);
    r->at += n;
    return static_cast<int64_t>(n);
}

// The plug-in's state, or an empty one when it has none; false when it
// failed to write one.
bool capture(Instance& instance, Buffer& out) {
    out = Buffer{};
    if (!instance.state || !instance.state->save) return true;
    OStream stream{&out, bufferWrite};
    if (!instance.state->save(instance.plugin, &stream) || out.failed) {
        std::free(out.data);
        out = Buffer{};
        return false;
    }
    return true;
}

// "CLAPWRAP", then per instance: "PLUG", u16 path length, path, u16 id
// length, id, u32 state size, state, "DATA", u32 user data size, user data.
intptr_t saveState(intptr_t out) {
    // Values still on their way reach the plug-ins first: a running block
    // takes them at its start, else they are flushed.
    for (Instance* i = instances; i; i = i->next) {
        for (int waited = 0; waited < 200 && !i->toAudio.empty() && i->ready.load() && i->processing.load() &&
                             !i->bypassed.load(std::memory_order_relaxed);
             ++waited)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        // No block came for them: the engine may have stopped without a word.
        if (!i->toAudio.empty()) clapFlush(*i, true);
    }
    const int32_t count = countInstances(instances);
    Buffer* states = count ? static_cast<Buffer*>(std::calloc(static_cast<size_t>(count), sizeof(Buffer))) : nullptr;
    if (count && !states) return 0;
    uint64_t total = kBlobTagLength;
    bool ok = true;
    int32_t k = 0;
    for (Instance* i = instances; i; i = i->next, ++k) {
        if (!capture(*i, states[k])) ok = false;
        total += 6 + std::strlen(i->path) + 2 + std::strlen(i->effect.id) + 4 + states[k].size + 8 + i->userSize;
    }
    std::free(savedState);
    savedState = nullptr;
    if (ok && total <= 0x7FFFFFFFu) savedState = static_cast<uint8_t*>(std::malloc(static_cast<size_t>(total)));
    if (savedState) {
        uint8_t* p = savedState;
        std::memcpy(p, kBlobTag, kBlobTagLength);
        p += kBlobTagLength;
        k = 0;
        for (Instance* i = instances; i; i = i->next, ++k) {
            const size_t n = std::strlen(i->path);
            std::memcpy(p, "PLUG", 4);
            putU16(p + 4, static_cast<uint16_t>(n));
            std::memcpy(p + 6, i->path, n);
            p += 6 + n;
            const size_t idLength = std::strlen(i->effect.id);
            putU16(p, static_cast<uint16_t>(idLength));
            std::memcpy(p + 2, i->effect.id, idLength);
            p += 2 + idLength;
            putU32(p, static_cast<uint32_t>(states[k].size));
            if (states[k].size) std::memcpy(p + 4, states[k].data, states[k].size);
            p += 4 + states[k].size;
            std::memcpy(p, "DATA", 4);
            putU32(p + 4, i->userSize);
            if (i->userSize) std::memcpy(p + 8, i->userData, i->userSize);
            p += 8 + i->userSize;
        }
    }
    for (k = 0; k < count; ++k) std::free(states[k].data);
    std::free(states);
    if (!savedState) return 0;
    if (out) *reinterpret_cast<uint8_t**>(out) = savedState;
    return static_cast<intptr_t>(total);
}

void restoreState(Instance& instance, const uint8_t* state, uint32_t size) {
    if (!instance.state || !instance.state->load || size == 0) return;
    const bool wasReady = holdAudio(instance);
    Reader reader{state, size, 0};
    IStream stream{&reader, readerRead};
    instance.state->load(instance.plugin, &stream);
    clapReadLatency(instance);
    if (wasReady) instance.ready.store(true);
    // A state that changes the latency asks for a restart: served now, so
    // the performance opens with the plug-in as it will run.
    clapServeMainThread(instance, 0);
    clapRefreshParameters(instance);
}

// The module a blob names, or the scanned module with the same plug-in id
// when it has moved.
const char* findModule(const char* path, const char* id) {
    if (isLocalModulePath(path, ".clap") && platformFileExists(path)) return path;
    for (Available* a = availableList; a; a = a->next)
        if (!a->bits32 && std::strcmp(a->effect.id, id) == 0) return a->path;
    return nullptr;
}

const char* nameIn(const char* path, const char* id) {
    for (Available* a = availableList; a; a = a->next)
        if (std::strcmp(a->effect.id, id) == 0 && std::strcmp(a->path, path) == 0) return a->effect.name;
    return nullptr;
}

// Appends the instances of a blob, checking every length against the bytes
// left before it is used. A plug-in that cannot be created is reported and
// skipped; a malformed blob stops with 0, keeping what was created.
intptr_t loadState(const uint8_t* blob, intptr_t size) {
    if (!blob || size < static_cast<intptr_t>(kBlobTagLength) || std::memcmp(blob, kBlobTag, kBlobTagLength) != 0)
        return 0;
    size_t at = kBlobTagLength;
    const size_t end = static_cast<size_t>(size);
    while (at < end) {
        if (end - at < 6 || std::memcmp(blob + at, "PLUG", 4) != 0) return 0;
        const size_t n = getU16(blob + at + 4);
        at += 6;
        if (n < 6 || n >= kScanPathSize || end - at < n + 2) return 0;
        char path[kScanPathSize];
        std::memcpy(path, blob + at, n);
        path[n] = '\0';
        at += n;
        const size_t idLength = getU16(blob + at);
        at += 2;
        if (idLength < 1 || idLength >= kClassIdSize || end - at < idLength + 4) return 0;
        char id[kClassIdSize];
        std::memcpy(id, blob + at, idLength);
        id[idLength] = '\0';
        at += idLength;
        const uint32_t stateSize = getU32(blob + at);
        at += 4;
        if (stateSize > end - at) return 0;
        const uint8_t* state = blob + at;
        at += stateSize;
        if (end - at < 8 || std::memcmp(blob + at, "DATA", 4) != 0) return 0;
        const uint32_t userSize = getU32(blob + at + 4);
        at += 8;
        if (userSize > end - at) return 0;
        const uint8_t* user = blob + at;
        at += userSize;

        // A path or id with a NUL inside is not what was saved.
        const bool whole = std::strlen(path) == n && std::strlen(id) == idLength && classIdValid(id);
        const char* found = whole ? findModule(path, id) : nullptr;
        const char* name = found ? nameIn(found, id) : nullptr;
        Instance* instance = found ? createInstance(found, id, name ? name : "CLAP Effect") : nullptr;
        if (!instance) {
            char text[kScanPathSize + 32];
            std::snprintf(text, sizeof text, "Unable to load plugin:\n%s", path);
            platformMessageBox(text, kWrapperName, kMessageIconInformation);
            continue;
        }
        restoreState(*instance, state, stateSize);
        if (userSize > 0) storeUserData(*instance, user, static_cast<intptr_t>(userSize));
    }
    return 1;
}


void runBlock(Instance& instance, float* left, float* right);

}  // namespace

WRAPPER_EXPORT intptr_t WRAPPER_CALL wrapperDispatcher(intptr_t opcode, intptr_t a1, intptr_t a2) {
    intptr_t answer = 0;
    if (answerListCommand(instances, opcode, a1, a2, answer)) return answer;
    if (answerNamingCommand(instances, availableList, kWrapperName, opcode, a1, a2, answer)) return answer;
    Instance* instance = nullptr;
    switch (opcode) {
        case WD_SET_HOST_CALLBACK:
            hostCallback = reinterpret_cast<HostCallbackFn>(a1);
            editorSetHost(hostCallback);
            return 1;
        case WD_OPEN:
            if (!openForHost(hostCallback, reinterpret_cast<const char*>(a1), applicationDirectory,
                             sizeof applicationDirectory, kVersionCaption))
                return 0;
            clapSetMainThread();
            if (!editorWindowsOpen(kClapEditorClasses)) return 0;
            editorServiceStart(serveAll);
            return 1;
        case WD_REFRESH_LIST:
            return refreshList();
        case WD_SET_PROCESSING:
            processingOn = a2 != 0;
            for (Instance* i = instances; i; i = i->next) {
                if (!i->active) continue;
                if (processingOn) {
                    i->ready.store(true);
                } else {
                    holdAudio(*i);
                    if (i->processing.exchange(false)) {
                        AudioThreadScope audio;
                        if (i->plugin->stop_processing) i->plugin->stop_processing(i->plugin);
                    }
                }
            }
            return 1;
        case WD_CREATE_INSTANCE: {
            Available* entry = availableAt(a2);
            if (!entry || !a1) return 0;
            instance = createInstance(entry->path, entry->effect.id, entry->effect.name);
            if (!instance) return 0;
            *reinterpret_cast<intptr_t*>(a1) = reinterpret_cast<intptr_t>(instance);
            return 1;
        }
        case WD_REPLACE_INSTANCE:
            instance = findInstance(instances, a1);
            return instance ? replaceInstance(instance, a2) : 0;
        case WD_DESTROY_INSTANCE:
            instance = findInstance(instances, a1);
            if (!instance) return 0;
            unlinkAndFree(instance);
            callHost(HC_INSTANCE_DESTROYED, a1, 0);
            return 1;
        case WD_DESTROY_ALL:
            destroyAll();
            callHost(HC_ALL_INSTANCES_DESTROYED, 0, 0);
            return 1;
        case WD_SHOW_EDITOR:
            instance = findInstance(instances, a1);
            if (!instance) return 0;
            clapRefreshParameters(*instance);
            return editorShow(instance->editor, instance->effect.name, reinterpret_cast<void*>(a2));
        case WD_CLOSE_EDITOR:
            instance = findInstance(instances, a1);
            if (!instance) return 0;
            editorClose(instance->editor);
            callHost(HC_EDITOR_CLOSED, a1, 0);
            return 1;
        case WD_CLOSE:
            editorServiceStop();
            std::free(savedState);
            savedState = nullptr;
            destroyAll();
            freeAvailable(availableList);
            scratch.allocate(0);
            editorWindowsClose();
            callHost(HC_WRAPPER_CLOSED, a1, 0);
            return 1;
        case WD_SET_CHANNELS: {
            const int32_t channels = a2 == 1 ? 1 : 2;
            if (channels == engineChannels) return 1;
            engineChannels = channels;
            return 1;
        }
        case WD_SET_SAMPLE_RATE: {
            const int32_t rate = static_cast<int32_t>(a2);
            // A rate of 0 only says the engine has stopped.
            if (rate <= 0 || rate > 1000000 || rate == sampleRate.load(std::memory_order_relaxed)) return 1;
            sampleRate.store(rate, std::memory_order_relaxed);
            for (Instance* i = instances; i; i = i->next) clapConfigure(*i);
            return 1;
        }
        case WD_SET_BLOCK_SIZE: {
            const int32_t frames = a2 > 0 && a2 <= kMaxBlock ? static_cast<int32_t>(a2) : 0;
            if (frames == blockSize.load(std::memory_order_relaxed) && frames == scratch.frames) return 1;
            if (frames > 0 && frames != blockSize.load(std::memory_order_relaxed)) {
                blockSize.store(frames, std::memory_order_relaxed);
                for (Instance* i = instances; i; i = i->next) clapConfigure(*i);
            }
            return scratch.allocate(frames) ? 1 : 0;
        }
        case WD_LOAD_STATE:
            return loadState(reinterpret_cast<const uint8_t*>(a1), a2);
        case WD_ADD_STATE:
            return addStateAppending(
                instances, [&] { return loadState(reinterpret_cast<const uint8_t*>(a1), a2); }, unlinkAndFree);
        case WD_SAVE_STATE:
            return saveState(a1);
        case WD_SET_TEMPO:
            if (!a1) return 0;
            tempo.store(*reinterpret_cast<const float*>(a1), std::memory_order_relaxed);
            return 1;
        case WD_GET_LATENCY:
            instance = findInstance(instances, a1);
            if (!instance || !a2) return 0;
            *reinterpret_cast<int32_t*>(a2) = instance->latency.load(std::memory_order_relaxed);
            return 1;
        case WD_IDLE:
            serveAll();
            return 1;
        case WD_GET_PARAMETER_COUNT:
            instance = findInstance(instances, a1);
            if (!instance || !a2) return 0;
            *reinterpret_cast<int32_t*>(a2) = clapParameterCount(*instance);
            return 1;
        case WD_GET_PARAMETER:
        case WD_SET_PARAMETER: {
            instance = findInstance(instances, a1);
            auto* p = reinterpret_cast<WrapperParameter*>(a2);
            ParamInfo info;
            if (!instance || !p || !clapParameterInfo(*instance, p->index, info)) return 0;
            if (opcode == WD_SET_PARAMETER) {
                if (info.flags & kParamIsReadonly) return 0;
                const double plain = clapPlain(info, p->value);
                const ParamEvent event{kEventParamValue, info.id, plain};
                if (!instance->toAudio.push(event)) {
                    clapFlush(*instance);
                    instance->toAudio.push(event);
                }
                clapFlush(*instance);
                return 1;
            }
            double plain = 0.0;
            if (!instance->params->get_value(instance->plugin, info.id, &plain)) plain = info.default_value;
            p->value = clapNormalized(info, plain);
            std::snprintf(p->name, sizeof p->name, "%s", info.name);
            char text[128] = "";
            if (instance->params->value_to_text &&
                instance->params->value_to_text(instance->plugin, info.id, plain, text, sizeof text)) {
                text[sizeof text - 1] = '\0';
                std::snprintf(p->display, sizeof p->display, "%s", text);
            } else {
                std::snprintf(p->display, sizeof p->display, "%.3f", plain);
            }
            return 1;
        }
        default:
            return 0;
    }
}

// Audio thread: the block through the instance's plug-in, adapting its
// channel counts to the engine's.
WRAPPER_EXPORT void WRAPPER_CALL processPlugin(intptr_t handle, float* left, float* right) {
    auto* instance = reinterpret_cast<Instance*>(handle);
    if (!instance || !left || instance->bypassed.load(std::memory_order_relaxed) || scratch.frames <= 0) return;
    // Entering needs the full fence against holdAudio's clearing of
    // `ready`; leaving only has to publish the block's work to it.
    instance->busy.store(true);
    if (instance->ready.load()) runBlock(*instance, left, right);
    instance->busy.store(false, std::memory_order_release);
}

// How many main-thread functions plug-ins called on other threads since
// the wrapper was opened: for tests.
WRAPPER_EXPORT int32_t WRAPPER_CALL clapWrapperThreadViolations() { return clapThreadViolations(); }

namespace {

void runBlock(Instance& instance, float* left, float* right) {
    AudioThreadScope audio;
    if (!instance.processing.load(std::memory_order_relaxed)) {
        if (instance.plugin->start_processing && !instance.plugin->start_processing(instance.plugin)) return;
        instance.processing.store(true);
    }
    const int32_t n = scratch.frames;
    clapDrainToAudio(instance);

    // Inputs: the engine's channels, a mono mix for a mono plug-in, the one
    // channel twice for a stereo plug-in in a mono engine.
    if (instance.inputChannels == 1) {
        if (right) {
            for (int32_t i = 0; i < n; ++i) scratch.mono[i] = left[i] + right[i];
            instance.inputs[0] = scratch.mono;
        } else {
            instance.inputs[0] = left;
        }
    } else {
        instance.inputs[0] = left;
        instance.inputs[1] = right ? right : left;
    }
    instance.outputs[0] = scratch.left;
    instance.outputs[1] = scratch.right;
    instance.outputBuffer.constant_mask = 0;

    EventTransport& t = instance.transport;
    const double rate = static_cast<double>(currentRate());
    const double beatsPerSecond = tempo.load(std::memory_order_relaxed) / 60.0;
    const double seconds = static_cast<double>(instance.steadyTime < 0 ? 0 : instance.steadyTime) / rate;
    t.flags = kTransportHasTempo | kTransportHasBeatsTimeline | kTransportHasSecondsTimeline |
              kTransportHasTimeSignature | kTransportIsPlaying;
    t.tempo = beatsPerSecond * 60.0;
    t.song_pos_seconds = static_cast<int64_t>(std::llround(seconds * static_cast<double>(kFixedPointFactor)));
    t.song_pos_beats = static_cast<int64_t>(std::llround(seconds * beatsPerSecond * static_cast<double>(kFixedPointFactor)));
    t.tsig_num = 4;
    t.tsig_denom = 4;

    Process& p = instance.process;
    p.steady_time = instance.steadyTime;
    p.frames_count = static_cast<uint32_t>(n);
    const int32_t status = instance.plugin->process(instance.plugin, &p);
    instance.steadyTime += n;
    if (status == kProcessError) return;
    clapReportOutput(instance);

    const size_t bytes = static_cast<size_t>(n) * sizeof(float);
    if (right) {
        std::memcpy(left, scratch.left, bytes);
        std::memcpy(right, instance.outputChannels == 2 ? scratch.right : scratch.left, bytes);
    } else if (instance.outputChannels == 2) {
        for (int32_t i = 0; i < n; ++i) left[i] = scratch.left[i] + scratch.right[i];
    } else {
        std::memcpy(left, scratch.left, bytes);
    }
}

}  // namespace

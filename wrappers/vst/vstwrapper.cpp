// The VST wrapper: hosts third-party VST 2 effect libraries from the VST
// directory behind the wrapper protocol.
//
// Threads: every command arrives on the UI thread (WD_REFRESH_LIST on the
// host's scanning thread while the UI sits in a modal dialog) except
// `processPlugin`, which runs on the audio thread and uses only the instance
// it is given and the three preallocated scratch buffers. Effects call the
// host callback on whichever thread is calling them; its answers read single
// values and walk the instance list without locks, which the host's pause
// discipline around destruction keeps consistent.
//
// A library is third-party code: every value read from the effect object
// (channel counts, parameter and program counts, chunk sizes, names) is
// checked before it sizes a buffer or an index.
#include <atomic>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

#include "common/bytes.h"
#include "host/wrapperprotocol.h"
#include "wrappers/common/libraryarch.h"
#include "wrappers/common/hostcheck.h"
#include "wrappers/common/instancelist.h"
#include "platform/platform.h"
#include "wrappers/vst/vst2abi.h"
#include "wrappers/vst/vsteditor.h"
#include "wrappers/vst/vstinstance.h"

namespace {

constexpr const char* kWrapperName = "VST Plugins";
constexpr const char* kVersionCaption = "Host version is not correct";
constexpr const char* kBlobTag = "VSTWRAP_";
constexpr size_t kBlobTagLength = 8;
constexpr size_t kPathSize = kVstPathSize;
constexpr size_t kNameMax = 63;
// Effects are asked for texts into buffers far larger than the nominal
// sizes: many write past them.
constexpr size_t kEffectText = 256;
constexpr intptr_t kHostUniqueId = 0x51756F20;  // "Quo "
constexpr intptr_t kHostVstVersion = 2;
constexpr float kFallbackRate = 44100.0f;
constexpr int32_t kFallbackBlockSize = 1000;
// Above this a plug-in's counts are taken as damage, not as a request for
// memory: no real effect has a million parameters or programs.
constexpr int32_t kMaxCount = 1 << 20;

struct Available {
    char path[kPathSize];
    // Built for the other processor (a 32-bit library seen from the 64-bit
    // program): listed, never loaded here; the program runs it in a helper
    // of its width.
    bool foreign;
    Available* next;
};

using Instance = VstInstance;

HostCallbackFn hostCallback = nullptr;
char applicationDirectory[kPathSize] = "";
char vstDirectory[kPathSize] = "";
std::atomic<int32_t> sampleRate{0};
std::atomic<int32_t> blockSize{0};
std::atomic<float> tempo{120.0f};
uint8_t processing = 1;
// The audio thread's scratch: output left, output right, mono input mix.
float* outputLeft = nullptr;
float* outputRight = nullptr;
float* monoMix = nullptr;
int32_t scratchFrames = 0;
Vst2TimeInfo timeInfo{};
char directoryAnswer[kPathSize] = "";
Available* availableList = nullptr;
Instance* instances = nullptr;
uint8_t* savedState = nullptr;
// The thread that opened the wrapper: the UI thread, the only one on which
// the host is told of an effect's edits.
std::atomic<uint64_t> uiThread{0};  // read on any thread

intptr_t callHost(intptr_t opcode, intptr_t a1, intptr_t a2) {
    return hostCallback ? hostCallback(opcode, a1, a2) : 0;
}

intptr_t dispatch(Vst2Effect* effect, int32_t opcode, int32_t index = 0, intptr_t value = 0, void* ptr = nullptr,
                  float opt = 0.0f) {
    return vstDispatch(effect, opcode, index, value, ptr, opt);
}

bool isSeparator(char c) { return c == '\\' || c == '/'; }

// The file title of a library path: after the last separator, cut at the
// last ".", at most 63 characters.
void fileTitle(const char* path, char* out, size_t size) {
    const char* name = path;
    for (const char* c = path; *c; ++c)
        if (isSeparator(*c)) name = c + 1;
    const char* dot = std::strrchr(name, '.');
    size_t n = dot ? static_cast<size_t>(dot - name) : std::strlen(name);
    if (n > kNameMax) n = kNameMax;
    if (n + 1 > size) n = size - 1;
    std::memcpy(out, name, n);
    out[n] = '\0';
}

bool hasLibrarySuffix(const char* name) {
    const char* dot = std::strrchr(name, '.');
    return dot && std::strcmp(dot, platformModuleSuffix()) == 0;
}

// A path from a state blob is loaded only when it names a library file on
// a local disk by its full path: a drive-letter path on Windows (never a
// share, a device path or a path relative to the current folder), an
// absolute path elsewhere. A performance file from elsewhere must not make
// the program run code from a share or from the current folder.
bool isLocalLibraryPath(const char* path) {
#if defined(_WIN32)
    if (!std::isalpha(static_cast<unsigned char>(path[0])) || path[1] != ':' || !isSeparator(path[2])) return false;
    if (std::strchr(path + 2, ':')) return false;  // alternate data streams
#else
    if (path[0] != '/') return false;
#endif
    return hasLibrarySuffix(path);
}

// ---- the available list ----

void freeAvailableList() {
    while (availableList) {
        Available* next = availableList->next;
        std::free(availableList);
        availableList = next;
    }
}

Available* availableAt(intptr_t index) {
    if (index < 0) return nullptr;
    Available* entry = availableList;
    for (intptr_t i = 0; entry && i < index; ++i) entry = entry->next;
    return entry;
}

// The VST directory: the stored setting, else the application directory's
// "VST Plugins" folder. Always ends with a separator.
void findVstDirectory() {
    const char separator = platformPathSeparator();
    char stored[kPathSize];
    if (platformReadSetting("VSTDir", stored, sizeof stored) && stored[0]) {
        const size_t n = std::strlen(stored);
        if (isSeparator(stored[n - 1]))
            std::snprintf(vstDirectory, sizeof vstDirectory, "%s", stored);
        else if (n + 1 < sizeof vstDirectory)
            std::snprintf(vstDirectory, sizeof vstDirectory, "%s%c", stored, separator);
        else
            vstDirectory[0] = '\0';
        return;
    }
    int written = std::snprintf(vstDirectory, sizeof vstDirectory, "%sVST Plugins%c", applicationDirectory, separator);
    if (written < 0 || static_cast<size_t>(written) >= sizeof vstDirectory) vstDirectory[0] = '\0';
}

struct Scan {
    const char* folder;
    Available*** tail;
    int* counter;
    bool* goOn;
};

bool scanFolder(const char* folder, Available**& tail, int& counter, bool& goOn);

// Lists every library in the tree, depth first in directory order; the
// host's answer to each progress report decides whether the scan goes on.
bool scanEntry(void* context, const char* name, bool isDirectory) {
    auto* scan = static_cast<Scan*>(context);
    if (std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0) return *scan->goOn;
    char path[kPathSize];
    const int written = isDirectory ? std::snprintf(path, sizeof path, "%s%s%c", scan->folder, name,
                                                    platformPathSeparator())
                                    : std::snprintf(path, sizeof path, "%s%s", scan->folder, name);
    // A path too long for the state blob is left out.
    if (written < 0 || static_cast<size_t>(written) >= sizeof path) return *scan->goOn;
    if (isDirectory) {
        scanFolder(path, *scan->tail, *scan->counter, *scan->goOn);
        return *scan->goOn;
    }
    if (!hasLibrarySuffix(name)) return true;
    auto* entry = static_cast<Available*>(std::calloc(1, sizeof(Available)));
    if (!entry) return *scan->goOn = false;
    std::memcpy(entry->path, path, static_cast<size_t>(written) + 1);
    const LibraryArch arch = libraryArchOfFile(path);
    entry->foreign = arch != LibraryArch::Unknown && nativeLibraryArch() != LibraryArch::Unknown &&
                     arch != nativeLibraryArch();
    **scan->tail = entry;
    *scan->tail = &entry->next;
    char progress[kPathSize + 32];
    std::snprintf(progress, sizeof progress, "VST Plugin %d: %s", *scan->counter, path);
    ++*scan->counter;
    *scan->goOn = callHost(HC_SCAN_PROGRESS, reinterpret_cast<intptr_t>(progress), 0) != 0;
    return *scan->goOn;
}

bool scanFolder(const char* folder, Available**& tail, int& counter, bool& goOn) {
    Scan scan{folder, &tail, &counter, &goOn};
    return platformListDirectory(folder, scanEntry, &scan);
}

intptr_t refreshList() {
    findVstDirectory();
    freeAvailableList();
    bool goOn = true;
    int counter = 0;
    Available** tail = &availableList;
    if (!vstDirectory[0]) return 0;
    return scanFolder(vstDirectory, tail, counter, goOn) ? 1 : 0;
}

// ---- instances ----

Instance* instanceOfEffect(const Vst2Effect* effect) {
    if (!effect) return nullptr;
    for (Instance* i = instances; i; i = i->next)
        if (i->effect == effect) return i;
    return nullptr;
}

float currentRate() {
    const int32_t rate = sampleRate.load(std::memory_order_relaxed);
    return rate > 0 ? static_cast<float>(rate) : kFallbackRate;
}

int32_t currentBlockSize() {
    const int32_t frames = blockSize.load(std::memory_order_relaxed);
    return frames > 0 ? frames : kFallbackBlockSize;
}

// The host callback every effect gets.
intptr_t VST2_CALL effectHost(Vst2Effect* effect, int32_t opcode, int32_t index, intptr_t value, void* ptr,
                              float opt) {
    switch (opcode) {
        case kVst2HostAutomate: {
            // An edit in the effect's own editor. Effects also automate
            // while they process: off the UI thread the host is never called.
            if (platformThreadId() != uiThread.load(std::memory_order_relaxed)) return 0;
            Instance* instance = instanceOfEffect(effect);
            if (!instance || index < 0 || index >= instance->editor.parameterCount) return 0;
            instance->editor.parameters[index] = opt >= 0.0f ? (opt <= 1.0f ? opt : 1.0f) : 0.0f;
            callHost(HC_PARAMETER_CHANGED, reinterpret_cast<intptr_t>(instance), index);
            return 0;
        }
        case kVst2HostVersion:
            return kHostVstVersion;
        case kVst2HostCurrentId:
            return kHostUniqueId;
        case kVst2HostIdle:
            return 100;
        case kVst2HostPinConnected:
            return 1;
        case kVst2HostGetTime:
            timeInfo = Vst2TimeInfo{};
            timeInfo.sampleRate = currentRate();
            timeInfo.tempo = tempo.load(std::memory_order_relaxed);
            timeInfo.flags = kVst2TimeTempoValid;
            return reinterpret_cast<intptr_t>(&timeInfo);
        case kVst2HostTempoAt:
            return static_cast<intptr_t>(tempo.load(std::memory_order_relaxed) * 10000.0);
        case kVst2HostSizeWindow: {
            Instance* instance = instanceOfEffect(effect);
            if (!instance) return 0;
            // Effects ask on any thread, the audio thread included: the
            // window layer posts the resize there instead of waiting. An
            // absurd size leaves the frame as it is.
            if (value >= INT32_MIN && value <= INT32_MAX) editorSizeWindow(instance->editor, index, static_cast<int32_t>(value));
            return 1;
        }
        case kVst2HostGetSampleRate:
            return static_cast<intptr_t>(currentRate());
        case kVst2HostGetBlockSize:
            return currentBlockSize();
        case kVst2HostWillReplaceOrAccumulate:
            return 1;
        case kVst2HostCanDo: {
            const char* text = static_cast<const char*>(ptr);
            if (!text) return 0;
            for (const char* known : {"sizeWindow", "supplyIdle", "sendVstTimeInfo"})
                if (std::strcmp(text, known) == 0) return 1;
            return 0;
        }
        case kVst2HostGetDirectory: {
            Instance* instance = instanceOfEffect(effect);
            if (!instance) return 0;
            const char* last = nullptr;
            for (const char* c = instance->path; *c; ++c)
                if (isSeparator(*c)) last = c;
            if (last)
                std::snprintf(directoryAnswer, sizeof directoryAnswer, "%.*s",
                              static_cast<int>(last - instance->path + 1), instance->path);
            else
                std::snprintf(directoryAnswer, sizeof directoryAnswer, "Error (folder)");
            return reinterpret_cast<intptr_t>(directoryAnswer);
        }
        default:
            return 0;
    }
}

// What instantiation produces before it becomes an instance record.
struct Opened {
    PlatformModule module = nullptr;
    Vst2Effect* effect = nullptr;
    char path[kPathSize] = "";
};

PlatformModule loadByTitle(const char* path, char* loadedPath) {
    char wanted[kNameMax + 1];
    char title[kNameMax + 1];
    fileTitle(path, wanted, sizeof wanted);
    for (Available* entry = availableList; entry; entry = entry->next) {
        fileTitle(entry->path, title, sizeof title);
        if (std::strcmp(title, wanted) != 0) continue;
        PlatformModule module = platformLoadModule(entry->path);
        if (module) std::memcpy(loadedPath, entry->path, kPathSize);
        return module;
    }
    return nullptr;
}

Vst2Entry findEntry(PlatformModule module) {
    for (const char* name : {"main", "Main", "VSTPluginMain"})
        if (void* symbol = platformFindSymbol(module, name)) return reinterpret_cast<Vst2Entry>(symbol);
    return nullptr;
}

// Loads a library and creates its effect. A library that cannot be loaded
// is looked for among the scanned ones by its file title, so performances
// survive a moved VST directory. `trusted` is false for paths from a
// state blob, which must pass the local-path rule to be loaded directly.
bool openEffect(const char* path, bool trusted, Opened& opened) {
    opened = Opened{};
    if (std::strlen(path) >= kPathSize) return false;
    if (trusted || isLocalLibraryPath(path)) {
        opened.module = platformLoadModule(path);
        if (opened.module) std::snprintf(opened.path, sizeof opened.path, "%s", path);
    }
    if (!opened.module) opened.module = loadByTitle(path, opened.path);
    if (!opened.module) return false;

    Vst2Entry entry = findEntry(opened.module);
    Vst2Effect* effect = entry ? entry(effectHost) : nullptr;
    bool valid = effect && effect->magic == kVst2Magic && effect->dispatcher;
    if (valid) {
        const intptr_t answer = dispatch(effect, kVst2Identify);
        // Current effects no longer answer this old request and give 0.
        if (answer != kVst2IdentifyAnswer && answer != 0) {
            dispatch(effect, kVst2Close);
            valid = false;
        }
    }
    if (!valid) {
        platformUnloadModule(opened.module);
        opened = Opened{};
        return false;
    }
    opened.effect = effect;
    const float rate = currentRate();
    const int32_t frames = currentBlockSize();
    dispatch(effect, kVst2SetSampleRate, 0, 0, nullptr, rate);
    dispatch(effect, kVst2SetBlockSize, 0, frames);
    dispatch(effect, kVst2Open);
    dispatch(effect, kVst2MainsChanged, 0, processing);
    dispatch(effect, kVst2SetSampleRate, 0, 0, nullptr, rate);
    dispatch(effect, kVst2SetBlockSize, 0, frames);
    return true;
}

void closeEffect(Vst2Effect* effect, PlatformModule module) {
    if (effect) {
        dispatch(effect, kVst2MainsChanged, 0, 0);
        dispatch(effect, kVst2Close);
    }
    platformUnloadModule(module);
}

int32_t checkedCount(int32_t n) { return n > 0 && n <= kMaxCount ? n : 0; }

void refreshParameters(Instance* instance) { vstRefreshParameters(instance); }

// The program menu's data: distinct program names in program order, from
// get-program-name-indexed or, for effects that do not answer it, by
// switching to each program and asking its name. Effects are given large
// buffers (many write past the nominal 24 bytes) that are cleared first, so
// an unterminated answer stops at the buffer's end.
void buildProgramMenu(Instance* instance) {
    Vst2Effect* effect = instance->effect;
    ProgramMenu& menu = instance->editor.menu;
    char text[kEffectText] = "";
    dispatch(effect, kVst2GetProgramName, 0, 0, text);
    programMenuSetTitle(menu, text, sizeof text);

    const int32_t programs = programMenuLimit(checkedCount(effect->numPrograms));
    if (programs == 0) return;
    menu.items = static_cast<ProgramItem*>(std::calloc(static_cast<size_t>(programs), sizeof(ProgramItem)));
    if (!menu.items) return;
    menu.capacity = programs;
    for (int32_t k = 0; k < programs; ++k) {
        std::memset(text, 0, sizeof text);
        dispatch(effect, kVst2GetProgramNameIndexed, k, -1, text);
        if (!text[0]) {
            dispatch(effect, kVst2SetProgram, 0, k);
            std::memset(text, 0, sizeof text);
            dispatch(effect, kVst2GetProgramName, 0, 0, text);
        }
        programMenuAdd(menu, k, text, sizeof text);
    }
}

void freeRecordParts(Instance* instance) {
    std::free(instance->editor.parameters);
    instance->editor.parameters = nullptr;
    instance->editor.parameterCount = 0;
    std::free(instance->editor.menu.items);
    instance->editor.menu = ProgramMenu{};
}

// Fills a record from an opened effect: program menu, program 0, the
// parameter cache.
bool adopt(Instance* instance, Opened& opened) {
    std::memcpy(instance->path, opened.path, kPathSize);
    instance->module = opened.module;
    instance->effect = opened.effect;
    editorFrameInit(instance->editor, &kVstEditorCalls, instance);
    buildProgramMenu(instance);
    dispatch(instance->effect, kVst2SetProgram, 0, 0);
    const int32_t parameters = checkedCount(instance->effect->numParams);
    if (parameters > 0) {
        instance->editor.parameters = static_cast<float*>(std::calloc(static_cast<size_t>(parameters), sizeof(float)));
        if (!instance->editor.parameters) {
            freeRecordParts(instance);
            return false;
        }
        instance->editor.parameterCount = parameters;
        refreshParameters(instance);
    }
    return true;
}

Instance* createInstance(const char* path, bool trusted) {
    auto* instance = new (std::nothrow) Instance();
    if (!instance) return nullptr;
    Opened opened;
    if (!openEffect(path, trusted, opened)) {
        delete instance;
        return nullptr;
    }
    if (!adopt(instance, opened)) {
        closeEffect(opened.effect, opened.module);
        delete instance;
        return nullptr;
    }
    appendInstance(instances, instance);
    return instance;
}

void releaseEffect(Instance* instance) {
    editorForget(instance->editor);
    closeEffect(instance->effect, instance->module);
    instance->effect = nullptr;
    instance->module = nullptr;
    freeRecordParts(instance);
}

void unlinkAndFree(Instance* instance) {
    unlinkInstance(instances, instance);
    releaseEffect(instance);
    std::free(instance->userData);
    std::free(instance->scratch);
    delete instance;
}

void destroyAll() {
    while (instances) unlinkAndFree(instances);
}

intptr_t replaceInstance(Instance* instance, intptr_t index) {
    Available* entry = availableAt(index);
    if (!entry || entry->foreign) return 0;
    Opened opened;
    if (!openEffect(entry->path, true, opened)) return 0;
    Instance fresh{};
    if (!adopt(&fresh, opened)) {
        closeEffect(opened.effect, opened.module);
        return 0;
    }
    releaseEffect(instance);
    std::free(instance->userData);
    instance->userData = nullptr;
    instance->userSize = 0;
    std::memcpy(instance->path, fresh.path, kPathSize);
    instance->module = fresh.module;
    instance->effect = fresh.effect;
    // The frame keeps its place on the screen.
    const int32_t x = instance->editor.x, y = instance->editor.y;
    editorFrameInit(instance->editor, &kVstEditorCalls, instance);
    instance->editor.x = x;
    instance->editor.y = y;
    instance->editor.menu = fresh.editor.menu;
    instance->editor.parameters = fresh.editor.parameters;
    instance->editor.parameterCount = fresh.editor.parameterCount;
    return 1;
}

void setMains(Instance* instance, bool on) { dispatch(instance->effect, kVst2MainsChanged, 0, on ? 1 : 0); }

// The audio thread's buffers; allocated only while the engine is being
// configured, never while it runs.
bool allocateScratch(int32_t frames) {
    std::free(outputLeft);
    std::free(outputRight);
    std::free(monoMix);
    outputLeft = outputRight = monoMix = nullptr;
    scratchFrames = 0;
    if (frames <= 0) return true;
    const size_t bytes = static_cast<size_t>(frames) * sizeof(float);
    outputLeft = static_cast<float*>(std::calloc(1, bytes));
    outputRight = static_cast<float*>(std::calloc(1, bytes));
    monoMix = static_cast<float*>(std::calloc(1, bytes));
    if (!outputLeft || !outputRight || !monoMix) return allocateScratch(0) && false;
    scratchFrames = frames;
    return true;
}

// ---- the state blob ----

// The effect's state in its saved form: "CHUNK" with the current
// program's chunk for effects that keep their state as a chunk, else
// "PARAM" with every parameter's value.
bool captureState(Instance* instance) {
    std::free(instance->scratch);
    instance->scratch = nullptr;
    instance->scratchSize = 0;
    Vst2Effect* effect = instance->effect;
    const uint8_t* data = nullptr;
    uint32_t dataSize = 0;
    const char* tag = "PARAM";
    uint32_t count = 0;
    if (effect->flags & kVst2FlagProgramChunks) {
        tag = "CHUNK";
        void* chunk = nullptr;
        intptr_t size = dispatch(effect, kVst2GetChunk, 1, 0, &chunk);
        if (size < 0 || !chunk || static_cast<uint64_t>(size) > 0x7FFFFF00u) size = 0;
        data = static_cast<const uint8_t*>(chunk);
        dataSize = count = static_cast<uint32_t>(size);
    } else {
        refreshParameters(instance);
        count = static_cast<uint32_t>(instance->editor.parameterCount);
        dataSize = count * 4;
    }
    instance->scratchSize = 9 + dataSize;
    instance->scratch = static_cast<uint8_t*>(std::malloc(instance->scratchSize));
    if (!instance->scratch) {
        instance->scratchSize = 0;
        return false;
    }
    std::memcpy(instance->scratch, tag, 5);
    putU32(instance->scratch + 5, count);
    if (effect->flags & kVst2FlagProgramChunks) {
        if (dataSize) std::memcpy(instance->scratch + 9, data, dataSize);
    } else {
        for (uint32_t i = 0; i < count; ++i) putF32(instance->scratch + 9 + 4 * i, instance->editor.parameters[i]);
    }
    return true;
}

void freeScratch() {
    for (Instance* i = instances; i; i = i->next) {
        std::free(i->scratch);
        i->scratch = nullptr;
        i->scratchSize = 0;
    }
}

// "VSTWRAP_", then per instance: "PLUG", u16 path length, path, u32 state
// size, state, "DATA", u32 user data size, user data.
intptr_t saveState(intptr_t out) {
    uint64_t total = kBlobTagLength;
    for (Instance* i = instances; i; i = i->next) {
        if (!captureState(i)) {
            freeScratch();
            return 0;
        }
        total += 18 + std::strlen(i->path) + i->scratchSize + i->userSize;
    }
    std::free(savedState);
    savedState = nullptr;
    if (total > 0x7FFFFFFFu || !(savedState = static_cast<uint8_t*>(std::malloc(static_cast<size_t>(total))))) {
        freeScratch();
        return 0;
    }
    uint8_t* p = savedState;
    std::memcpy(p, kBlobTag, kBlobTagLength);
    p += kBlobTagLength;
    for (Instance* i = instances; i; i = i->next) {
        const size_t n = std::strlen(i->path);
        std::memcpy(p, "PLUG", 4);
        putU16(p + 4, static_cast<uint16_t>(n));
        std::memcpy(p + 6, i->path, n);
        p += 6 + n;
        putU32(p, i->scratchSize);
        std::memcpy(p + 4, i->scratch, i->scratchSize);
        p += 4 + i->scratchSize;
        std::memcpy(p, "DATA", 4);
        putU32(p + 4, i->userSize);
        if (i->userSize) std::memcpy(p + 8, i->userData, i->userSize);
        p += 8 + i->userSize;
    }
    freeScratch();
    if (out) *reinterpret_cast<uint8_t**>(out) = savedState;
    return static_cast<intptr_t>(total);
}

// Restores the saved plug-in state (one of the two forms) into an
// instance, if there is one. `state` holds exactly the s bytes of the record.
bool restoreState(Instance* instance, const uint8_t* state, size_t size) {
    if (size < 9) return false;
    const uint32_t count = getU32(state + 5);
    const size_t rest = size - 9;
    const uint8_t* body = state + 9;
    if (std::memcmp(state, "CHUNK", 5) == 0) {
        if (count > rest) return false;
        if (instance && count > 0)
            dispatch(instance->effect, kVst2SetChunk, 1, static_cast<intptr_t>(count), const_cast<uint8_t*>(body));
    } else if (std::memcmp(state, "PARAM", 5) == 0) {
        if (count > rest / 4) return false;
        if (instance && instance->effect->setParameter) {
            for (uint32_t i = 0; i < count && i < static_cast<uint32_t>(instance->editor.parameterCount); ++i) {
                const float value = getF32(body + 4 * i);
                instance->effect->setParameter(instance->effect, static_cast<int32_t>(i), value);
                instance->editor.parameters[i] = value;
            }
        }
    } else {
        return false;
    }
    if (instance) refreshParameters(instance);
    return true;
}

// Appends the instances of a blob, checking every length against the bytes
// left before it is used. A library that cannot be loaded is reported and
// skipped; a malformed blob stops with 0, keeping what was created.
intptr_t loadState(const uint8_t* blob, intptr_t size) {
    if (!blob || size < static_cast<intptr_t>(kBlobTagLength) || std::memcmp(blob, kBlobTag, kBlobTagLength) != 0)
        return 0;
    size_t at = kBlobTagLength;
    const size_t end = static_cast<size_t>(size);
    while (at < end) {
        if (end - at < 14 || std::memcmp(blob + at, "PLUG", 4) != 0) return 0;
        const size_t n = getU16(blob + at + 4);
        at += 6;
        if (n < 5 || n > kPathSize || end - at < n) return 0;
        char path[kPathSize + 1];
        std::memcpy(path, blob + at, n);
        path[n] = '\0';
        at += n;
        // A path with a NUL inside is not the path that was saved.
        Instance* instance = std::strlen(path) == n ? createInstance(path, false) : nullptr;
        if (!instance) {
            char text[kPathSize + 32];
            std::snprintf(text, sizeof text, "Unable to load plugin:\n%s", path);
            platformMessageBox(text, kWrapperName, kMessageIconInformation);
        }
        if (end - at < 4) return 0;
        const uint32_t stateSize = getU32(blob + at);
        at += 4;
        if (stateSize > 0x7FFFFFFFu || stateSize > end - at) return 0;
        if (!restoreState(instance, blob + at, stateSize)) return 0;
        at += stateSize;
        if (end - at < 8 || std::memcmp(blob + at, "DATA", 4) != 0) return 0;
        const uint32_t userSize = getU32(blob + at + 4);
        at += 8;
        if (userSize > end - at) return 0;
        if (instance && userSize > 0) storeUserData(*instance, blob + at, static_cast<intptr_t>(userSize));
        at += userSize;
    }
    return 1;
}

void copyName(char* out, const char* path) { fileTitle(path, out, kWrapperNameBuffer); }

// ---- parameters ----

// A parameter's text into a cleared scratch far larger than the record's
// field (effects write past the nominal 8 or 24 bytes), then at most
// `size` - 1 characters of it.
void effectText(Vst2Effect* effect, int32_t opcode, int32_t index, char* out, size_t size) {
    char text[kEffectText];
    std::memset(text, 0, sizeof text);
    dispatch(effect, opcode, index, 0, text);
    size_t n = strnlen(text, sizeof text);
    if (n > size - 1) n = size - 1;
    std::memcpy(out, text, n);
    out[n] = '\0';
}

// `text` after `out` (both terminated), cut to the `size` bytes of `out`.
void appendText(char* out, size_t size, const char* text) {
    size_t at = std::strlen(out);
    for (; *text && at + 1 < size; ++text) out[at++] = *text;
    out[at] = '\0';
}

float limitedValue(double value) {
    if (!(value >= 0.0)) return 0.0f;  // NaN too
    return value > 1.0 ? 1.0f : static_cast<float>(value);
}

bool validParameter(const Instance* instance, int32_t index) {
    return instance && instance->effect && index >= 0 && index < instance->editor.parameterCount;
}

// WD_GET_PARAMETER: the value, the name, and the display with its label
// ("50 %"). UI thread.
intptr_t getParameter(Instance* instance, WrapperParameter& p) {
    if (!validParameter(instance, p.index)) return 0;
    Vst2Effect* effect = instance->effect;
    const float value = effect->getParameter ? limitedValue(effect->getParameter(effect, p.index)) : 0.0f;
    instance->editor.parameters[p.index] = value;
    p.value = value;
    effectText(effect, kVst2GetParamName, p.index, p.name, sizeof p.name);
    char label[sizeof p.display];
    effectText(effect, kVst2GetParamDisplay, p.index, p.display, sizeof p.display);
    effectText(effect, kVst2GetParamLabel, p.index, label, sizeof label);
    if (label[0]) {
        appendText(p.display, sizeof p.display, " ");
        appendText(p.display, sizeof p.display, label);
    }
    return 1;
}

// WD_SET_PARAMETER, UI thread: as the generic editor's drag does (VST 2
// effects take parameters on any thread), the cache and the open editor
// follow.
intptr_t setParameter(Instance* instance, const WrapperParameter& p) {
    if (!validParameter(instance, p.index) || !instance->effect->setParameter) return 0;
    const float value = limitedValue(p.value);
    instance->effect->setParameter(instance->effect, p.index, value);
    instance->editor.parameters[p.index] = value;
    editorRepaint(instance->editor);
    return 1;
}

}  // namespace

WRAPPER_EXPORT intptr_t WRAPPER_CALL wrapperDispatcher(intptr_t opcode, intptr_t a1, intptr_t a2) {
    intptr_t answer = 0;
    if (answerListCommand(instances, opcode, a1, a2, answer)) return answer;
    Instance* instance = nullptr;
    switch (opcode) {
        case WD_SET_HOST_CALLBACK:
            hostCallback = reinterpret_cast<HostCallbackFn>(a1);
            editorSetHost(hostCallback);
            return 1;
        case WD_OPEN:
            uiThread.store(platformThreadId(), std::memory_order_relaxed);
            if (!openForHost(hostCallback, reinterpret_cast<const char*>(a1), applicationDirectory,
                             sizeof applicationDirectory, kVersionCaption))
                return 0;
            return editorWindowsOpen(kVstEditorClasses) ? 1 : 0;
        case WD_REFRESH_LIST:
            return refreshList();
        case WD_GET_NAME: {
            size_t size = a2 > 0 ? static_cast<size_t>(a2) : kWrapperNameBuffer;
            if (!a1) return 0;
            std::snprintf(reinterpret_cast<char*>(a1), size, "%s", kWrapperName);
            return 1;
        }
        case WD_SET_PROCESSING:
            processing = a2 != 0 ? 1 : 0;
            for (Instance* i = instances; i; i = i->next) setMains(i, processing);
            return 1;
        case WD_GET_AVAILABLE_COUNT: {
            if (!a1) return 0;
            int32_t n = 0;
            for (Available* e = availableList; e; e = e->next) ++n;
            *reinterpret_cast<int32_t*>(a1) = n;
            return 1;
        }
        case WD_GET_AVAILABLE_NAME: {
            Available* entry = availableAt(a2);
            if (!entry || !a1) return 0;
            copyName(reinterpret_cast<char*>(a1), entry->path);
            if (entry->foreign) {
                char* name = reinterpret_cast<char*>(a1);
                const size_t n = std::strlen(name);
                std::snprintf(name + n, kWrapperNameBuffer - n, "%s",
                              nativeLibraryArch() == LibraryArch::X64 ? kSuffix32Bit : " (64-bit)");
            }
            return 1;
        }
        case WD_CREATE_INSTANCE: {
            Available* entry = availableAt(a2);
            if (!entry || !a1 || entry->foreign) return 0;
            instance = createInstance(entry->path, true);
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
        case WD_GET_INSTANCE_NAME:
            instance = findInstance(instances, a1);
            if (!instance || !a2) return 0;
            copyName(reinterpret_cast<char*>(a2), instance->path);
            return 1;
        case WD_SET_INSTANCE_ACTIVE: {
            instance = findInstance(instances, a1);
            if (!instance) return 0;
            const uint8_t bypass = a2 == 0 ? 1 : 0;
            if (instance->bypassed.load(std::memory_order_relaxed) != bypass) {
                instance->bypassed.store(bypass, std::memory_order_relaxed);
                setMains(instance, !bypass);
            }
            return 1;
        }
        case WD_SHOW_EDITOR: {
            instance = findInstance(instances, a1);
            if (!instance) return 0;
            char title[kProgramNameSize];
            vstEditorTitle(instance->path, title);
            return editorShow(instance->editor, title, reinterpret_cast<void*>(a2));
        }
        case WD_CLOSE_EDITOR:
            instance = findInstance(instances, a1);
            if (!instance) return 0;
            editorClose(instance->editor);
            callHost(HC_EDITOR_CLOSED, a1, 0);
            return 1;
        case WD_CLOSE:
            std::free(savedState);
            savedState = nullptr;
            destroyAll();
            freeAvailableList();
            allocateScratch(0);
            editorWindowsClose();
            callHost(HC_WRAPPER_CLOSED, a1, 0);
            return 1;
        case WD_SET_SAMPLE_RATE: {
            const int32_t rate = static_cast<int32_t>(a2);
            if (rate == sampleRate.load(std::memory_order_relaxed)) return 1;
            sampleRate.store(rate, std::memory_order_relaxed);
            // A rate of 0 only says the engine has stopped; effects divide
            // by what they are given, so they keep their last rate.
            if (rate > 0)
                for (Instance* i = instances; i; i = i->next)
                    dispatch(i->effect, kVst2SetSampleRate, 0, 0, nullptr, static_cast<float>(rate));
            return 1;
        }
        case WD_SET_BLOCK_SIZE: {
            const int32_t frames = a2 > 0 && a2 <= (1 << 24) ? static_cast<int32_t>(a2) : 0;
            if (frames == blockSize.load(std::memory_order_relaxed) && frames == scratchFrames) return 1;
            blockSize.store(frames, std::memory_order_relaxed);
            if (frames > 0)
                for (Instance* i = instances; i; i = i->next) dispatch(i->effect, kVst2SetBlockSize, 0, frames);
            return allocateScratch(frames) ? 1 : 0;
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
        case WD_GET_LATENCY: {
            // The effect's own figure, read anew: effects change it when
            // their settings do. A negative one is damage.
            instance = findInstance(instances, a1);
            if (!instance || !a2) return 0;
            const int32_t delay = instance->effect ? instance->effect->initialDelay : 0;
            *reinterpret_cast<int32_t*>(a2) = delay > 0 ? delay : 0;
            return 1;
        }
        case WD_GET_PARAMETER_COUNT:
            instance = findInstance(instances, a1);
            if (!instance || !a2) return 0;
            *reinterpret_cast<int32_t*>(a2) = instance->editor.parameterCount;
            return 1;
        case WD_GET_PARAMETER:
            instance = findInstance(instances, a1);
            return a2 ? getParameter(instance, *reinterpret_cast<WrapperParameter*>(a2)) : 0;
        case WD_SET_PARAMETER:
            instance = findInstance(instances, a1);
            return a2 ? setParameter(instance, *reinterpret_cast<const WrapperParameter*>(a2)) : 0;
        default:
            return 0;
    }
}

// Audio thread: runs the instance's effect on the block, adapting its
// channel counts to the chain's.
WRAPPER_EXPORT void WRAPPER_CALL processPlugin(intptr_t handle, float* left, float* right) {
    auto* instance = reinterpret_cast<Instance*>(handle);
    if (!instance || !left || instance->bypassed.load(std::memory_order_relaxed)) return;
    Vst2Effect* effect = instance->effect;
    const int32_t n = scratchFrames;
    if (!effect || n <= 0) return;
    const int32_t ins = effect->numInputs;
    const int32_t outs = effect->numOutputs;
    if (ins < 0 || ins > 2 || outs < 0 || outs > 2) return;

    float* inputs[2] = {left, right ? right : left};
    if (right && ins == 1) {
        for (int32_t i = 0; i < n; ++i) monoMix[i] = left[i] + right[i];
        inputs[0] = monoMix;
    }
    float* outputs[2] = {outputLeft, outputRight};
    if ((effect->flags & kVst2FlagCanReplace) && effect->processReplacing) {
        effect->processReplacing(effect, inputs, outputs, n);
    } else if (effect->process) {
        std::memset(outputLeft, 0, static_cast<size_t>(n) * sizeof(float));
        if (outs == 2) std::memset(outputRight, 0, static_cast<size_t>(n) * sizeof(float));
        effect->process(effect, inputs, outputs, n);
    } else {
        return;
    }

    const size_t bytes = static_cast<size_t>(n) * sizeof(float);
    if (outs == 0) return;
    if (right) {
        std::memcpy(left, outputLeft, bytes);
        std::memcpy(right, outs == 2 ? outputRight : outputLeft, bytes);
    } else if (outs == 2) {
        for (int32_t i = 0; i < n; ++i) left[i] = outputLeft[i] + outputRight[i];
    } else {
        std::memcpy(left, outputLeft, bytes);
    }
}

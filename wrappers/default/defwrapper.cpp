// The default wrapper: hosts the program's own effect modules from the
// application's Effects folder behind the wrapper protocol.
//
// Everything runs on the UI thread (WD_REFRESH_LIST on the host's scanning
// thread) except `processPlugin`, which runs on the audio thread and touches
// nothing but the instance record it is given. No locks: the host pauses the
// audio thread's plug-in stage around every destruction or replacement.
//
// An effect module holds one effect in module-wide state, so a second live
// instance of the same module file runs from a private copy of the file,
// loaded separately and deleted when the instance goes.
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

#include "common/bytes.h"
#include "host/wrapperprotocol.h"
#include "wrappers/common/hostcheck.h"
#include "wrappers/common/instancelist.h"
#include "platform/platform.h"
#include "wrappers/default/defeditor.h"
#include "wrappers/default/effectinterface.h"

namespace {

constexpr const char* kWrapperName = "Quorvane Plugins";
constexpr const char* kVersionCaption = "Quo Plugins: host version is not correct";
constexpr const char* kBlobTag = "DEFWRAP_";
constexpr size_t kBlobTagLength = 8;
constexpr size_t kNameMax = 63;
constexpr size_t kPathMax = 1024;
// The window system's "default position" value for editor frames.
constexpr int32_t kDefaultPosition = static_cast<int32_t>(0x80000000u);

struct Available {
    char name[kNameMax + 1];
    Available* next;
};

// The editor slot comes first: the frame keeps the slot's address, which is
// the instance handle.
struct Instance {
    EditorSlot editor;
    PlatformModule module;
    char name[kNameMax + 1];  // the module's file name with its extension
    EffectProcessFn process;
    PluginQueryFn query;
    std::atomic<uint8_t> bypassed;  // read by the audio thread
    uint8_t* userData;
    uint32_t userSize;
    uint8_t* scratch;  // the effect's state while a blob is built
    uint32_t scratchSize;
    Instance* next;
    char privateCopy[kPathMax];  // empty when the module file itself is loaded
};

HostCallbackFn hostCallback = nullptr;
char applicationDirectory[kPathMax] = "";
uint32_t sampleRate = 0;
uint32_t blockSize = 0;
float tempo = 120.0f;
bool processing = true;
Available* availableList = nullptr;
Instance* instances = nullptr;
uint8_t* savedState = nullptr;

intptr_t callHost(intptr_t opcode, intptr_t a1, intptr_t a2) {
    return hostCallback ? hostCallback(opcode, a1, a2) : 0;
}

// Copies `text` up to the first "." (at most 63 characters) into a buffer of
// `size` bytes.
void copyDisplayName(char* out, size_t size, const char* text) {
    if (!out || size == 0) return;
    size_t n = 0;
    while (text[n] && text[n] != '.' && n < kNameMax && n + 1 < size) ++n;
    std::memcpy(out, text, n);
    out[n] = '\0';
}

bool effectsPath(char* out, size_t size, const char* fileName) {
    const char separator = platformPathSeparator();
    int written = std::snprintf(out, size, "%sEffects%c%s", applicationDirectory, separator, fileName);
    return written > 0 && static_cast<size_t>(written) < size;
}

// ---- the available list ----

void freeAvailableList() {
    while (availableList) {
        Available* next = availableList->next;
        std::free(availableList);
        availableList = next;
    }
}

bool hasModuleSuffix(const char* name) {
    // The extension from the last "." must be exactly the platform's library
    // suffix, compared case-sensitively.
    const char* dot = std::strrchr(name, '.');
    return dot && std::strcmp(dot, platformModuleSuffix()) == 0;
}

bool addAvailable(void* tailSlot, const char* name, bool isDirectory) {
    if (isDirectory || std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0 || !hasModuleSuffix(name))
        return true;
    auto* tail = static_cast<Available***>(tailSlot);
    auto* entry = static_cast<Available*>(std::calloc(1, sizeof(Available)));
    if (!entry) return false;
    std::snprintf(entry->name, sizeof entry->name, "%s", name);
    **tail = entry;
    *tail = &entry->next;
    return true;
}

intptr_t refreshList() {
    freeAvailableList();
    char folder[kPathMax];
    if (!effectsPath(folder, sizeof folder, "")) return 0;
    Available** tail = &availableList;
    if (!platformListDirectory(folder, addAvailable, &tail)) {
        platformMessageBox("Plugin directory does not exist", kWrapperName, kMessageIconError);
        return 0;
    }
    return 1;
}

Available* availableAt(intptr_t index) {
    Available* entry = availableList;
    for (intptr_t i = 0; entry && i < index; ++i) entry = entry->next;
    return index >= 0 ? entry : nullptr;
}

// ---- instances ----

bool moduleInUse(const char* name, const Instance* except) {
    for (Instance* i = instances; i; i = i->next)
        if (i != except && i->module && std::strcmp(i->name, name) == 0) return true;
    return false;
}

// A name from a state blob must stay a plain file name inside Effects.
bool isPlainFileName(const char* name) {
    return !std::strchr(name, '\\') && !std::strchr(name, '/') && !std::strchr(name, ':') &&
           !std::strstr(name, "..") && name[0] != '\0';
}

struct OpenedModule {
    PlatformModule module = nullptr;
    PluginQueryFn query = nullptr;
    EffectProcessFn process = nullptr;
    char privateCopy[kPathMax] = "";
};

void closeModule(OpenedModule& m) {
    if (m.query) m.query(PQ_CLOSE, 0, 0);
    platformUnloadModule(m.module);
    if (m.privateCopy[0]) platformDeleteFile(m.privateCopy);
    m = OpenedModule{};
}

// The file to load for `name`. A performance saved by the Windows build
// names "x.dll"; the native build then loads its own "x.so".
bool modulePath(const char* name, char* out, size_t size) {
    if (!effectsPath(out, size, name)) return false;
    const char* suffix = platformModuleSuffix();
    if (platformFileExists(out) || std::strcmp(suffix, ".dll") == 0) return true;
    const char* dot = std::strrchr(name, '.');
    if (!dot || std::strcmp(dot, ".dll") != 0) return true;
    char native[kNameMax + 8];
    std::snprintf(native, sizeof native, "%.*s%s", static_cast<int>(dot - name), name, suffix);
    return effectsPath(out, size, native);
}

// Loads, resolves and opens an effect module, then hands it the wrapper's
// block size, rate, tempo and processing flag.
bool openModule(const char* name, OpenedModule& m, const Instance* except) {
    m = OpenedModule{};
    char path[kPathMax];
    if (!isPlainFileName(name) || !modulePath(name, path, sizeof path)) return false;
    const char* load = path;
    if (moduleInUse(name, except)) {
        const char* dot = std::strrchr(path, '.');
        if (!platformTemporaryPath(dot ? dot : "", m.privateCopy, sizeof m.privateCopy) ||
            !platformCopyFile(path, m.privateCopy)) {
            m.privateCopy[0] = '\0';
            return false;
        }
        load = m.privateCopy;
    }
    m.module = platformLoadModule(load);
    if (m.module) {
        m.query = reinterpret_cast<PluginQueryFn>(platformFindSymbol(m.module, "pluginQuery"));
        m.process = reinterpret_cast<EffectProcessFn>(platformFindSymbol(m.module, "processPlugin"));
    }
    if (!m.module || !m.query || !m.process) {
        m.query = nullptr;
        closeModule(m);
        return false;
    }
    if (m.query(PQ_OPEN, 0, 0) == 0) {
        closeModule(m);
        return false;
    }
    m.query(PQ_SET_BLOCK_SIZE, 0, blockSize);
    m.query(PQ_SET_SAMPLE_RATE, 0, sampleRate);
    m.query(PQ_SET_TEMPO, reinterpret_cast<intptr_t>(&tempo), 0);
    m.query(processing ? PQ_RESUME : PQ_SUSPEND, 0, 0);
    return true;
}

void closeEditor(Instance* instance) { editorClose(instance->editor); }

// The host request an effect editor's request makes; 0 for one it does not
// know.
intptr_t hostOpcodeOf(intptr_t request) {
    switch (request) {
        case ER_PARAMETER_CHANGED:
            return HC_PARAMETER_CHANGED;
        case ER_LEARN_PARAMETER:
            return HC_LEARN_PARAMETER;
        case ER_FORGET_PARAMETER:
            return HC_FORGET_PARAMETER;
        default:
            return 0;
    }
}

// An effect's editor asks (PQ_SET_EDITOR_REQUESTS), on the UI thread: the
// host hears of the instance's parameter `index`, which is the wrapper's
// parameter index too. An instance that is gone or an index it does not have
// is never told.
intptr_t EFFECT_CALL editorRequest(intptr_t context, intptr_t request, intptr_t index) {
    Instance* instance = findInstance(instances, context);
    const intptr_t opcode = hostOpcodeOf(request);
    if (!instance || !instance->query || !opcode || index < 0 ||
        index >= instance->query(PQ_GET_PARAM_COUNT, 0, 0))
        return 0;
    return callHost(opcode, context, index);
}

intptr_t showEditor(Instance* instance, void* mdiClient) {
    if (!instance->query) return 0;
    char title[kNameMax + 1];
    copyDisplayName(title, sizeof title, instance->name);
    instance->editor.query = instance->query;
    // The module holds this one instance, so its editor's requests are this
    // instance's; a module built before them answers 0 and never asks.
    instance->query(PQ_SET_EDITOR_REQUESTS, reinterpret_cast<intptr_t>(editorRequest),
                    reinterpret_cast<intptr_t>(instance));
    return editorShow(instance->editor, title, mdiClient);
}

void releasePlugin(Instance* instance) {
    closeEditor(instance);
    OpenedModule m;
    m.module = instance->module;
    m.query = instance->query;
    std::memcpy(m.privateCopy, instance->privateCopy, sizeof m.privateCopy);
    closeModule(m);
    instance->module = nullptr;
    instance->query = nullptr;
    instance->process = nullptr;
    instance->privateCopy[0] = '\0';
}

Instance* createInstance(const char* name) {
    auto* instance = new (std::nothrow) Instance();
    if (!instance) return nullptr;
    OpenedModule m;
    if (!openModule(name, m, nullptr)) {
        delete instance;
        return nullptr;
    }
    instance->module = m.module;
    instance->query = m.query;
    instance->process = m.process;
    std::memcpy(instance->privateCopy, m.privateCopy, sizeof instance->privateCopy);
    std::snprintf(instance->name, sizeof instance->name, "%s", name);
    instance->editor.x = instance->editor.y = kDefaultPosition;
    appendInstance(instances, instance);
    return instance;
}

void unlinkAndFree(Instance* instance) {
    unlinkInstance(instances, instance);
    releasePlugin(instance);
    std::free(instance->userData);
    std::free(instance->scratch);
    delete instance;
}

void destroyAll() {
    while (instances) unlinkAndFree(instances);
}

intptr_t replaceInstance(Instance* instance, intptr_t index) {
    Available* entry = availableAt(index);
    if (!entry) return 0;
    OpenedModule m;
    if (!openModule(entry->name, m, instance)) return 0;
    releasePlugin(instance);
    std::free(instance->userData);
    instance->userData = nullptr;
    instance->userSize = 0;
    instance->module = m.module;
    instance->query = m.query;
    instance->process = m.process;
    std::memcpy(instance->privateCopy, m.privateCopy, sizeof instance->privateCopy);
    std::snprintf(instance->name, sizeof instance->name, "%s", entry->name);
    return 1;
}

void forwardToAll(intptr_t opcode, intptr_t p, intptr_t q) {
    for (Instance* i = instances; i; i = i->next)
        if (i->query) i->query(opcode, p, q);
}

// ---- the state blob ----

// "DEFWRAP_", then per instance: "PLUG", u16 name length, name, u32 state
// size, state, u32 user data size, user data.
intptr_t saveState(intptr_t out) {
    size_t total = kBlobTagLength;
    for (Instance* i = instances; i; i = i->next) {
        std::free(i->scratch);
        i->scratch = nullptr;
        i->scratchSize = 0;
        uint8_t* state = nullptr;
        intptr_t size = i->query ? i->query(PQ_GET_STATE, reinterpret_cast<intptr_t>(&state), 0) : 0;
        if (size > 0 && state) {
            i->scratch = static_cast<uint8_t*>(std::malloc(static_cast<size_t>(size)));
            if (i->scratch) {
                std::memcpy(i->scratch, state, static_cast<size_t>(size));
                i->scratchSize = static_cast<uint32_t>(size);
            }
        }
        total += 14 + std::strlen(i->name) + i->scratchSize + i->userSize;
    }
    std::free(savedState);
    savedState = static_cast<uint8_t*>(std::malloc(total));
    if (!savedState) return 0;
    uint8_t* p = savedState;
    std::memcpy(p, kBlobTag, kBlobTagLength);
    p += kBlobTagLength;
    for (Instance* i = instances; i; i = i->next) {
        const size_t n = std::strlen(i->name);
        std::memcpy(p, "PLUG", 4);
        putU16(p + 4, static_cast<uint16_t>(n));
        std::memcpy(p + 6, i->name, n);
        p += 6 + n;
        putU32(p, i->scratchSize);
        if (i->scratchSize) std::memcpy(p + 4, i->scratch, i->scratchSize);
        p += 4 + i->scratchSize;
        putU32(p, i->userSize);
        if (i->userSize) std::memcpy(p + 4, i->userData, i->userSize);
        p += 4 + i->userSize;
        std::free(i->scratch);
        i->scratch = nullptr;
        i->scratchSize = 0;
    }
    if (out) *reinterpret_cast<uint8_t**>(out) = savedState;
    return static_cast<intptr_t>(total);
}

// Builds the blob's instances after the present ones, checking every
// length against the bytes left before it is used. A module that cannot be
// loaded is reported and skipped; a malformed blob stops with 0, keeping
// what was created.
intptr_t parseState(const uint8_t* blob, intptr_t size) {
    if (!blob || size < static_cast<intptr_t>(kBlobTagLength) || std::memcmp(blob, kBlobTag, kBlobTagLength) != 0)
        return 0;
    size_t at = kBlobTagLength;
    const size_t end = static_cast<size_t>(size);
    while (at < end) {
        if (end - at < 14 || std::memcmp(blob + at, "PLUG", 4) != 0) return 0;
        const size_t n = getU16(blob + at + 4);
        at += 6;
        if (end - at < n || n < 5 || n > kNameMax) return 0;
        char name[kNameMax + 1];
        std::memcpy(name, blob + at, n);
        name[n] = '\0';
        at += n;
        Instance* instance = createInstance(name);
        if (!instance) platformMessageBox("Unable to load plugin library!", name, kMessageIconInformation);
        if (end - at < 4) return 0;
        const uint32_t stateSize = getU32(blob + at);
        at += 4;
        if (stateSize > end - at) return 0;
        if (instance && stateSize > 0)
            instance->query(PQ_SET_STATE, reinterpret_cast<intptr_t>(blob + at), static_cast<intptr_t>(stateSize));
        at += stateSize;
        if (end - at < 4) return 0;
        const uint32_t userSize = getU32(blob + at);
        at += 4;
        if (userSize > end - at) return 0;
        if (instance && userSize > 0) storeUserData(*instance, blob + at, static_cast<intptr_t>(userSize));
        at += userSize;
    }
    return 1;
}

// WD_LOAD_STATE: the blob's instances replace all others.
intptr_t loadState(const uint8_t* blob, intptr_t size) {
    destroyAll();
    return parseState(blob, size);
}

// WD_ADD_STATE: the present instances stay (the chain that plays keeps
// running them) and the blob's follow them. A malformed blob leaves the
// list as it was: the instances made from it are destroyed again.
intptr_t addState(const uint8_t* blob, intptr_t size) {
    Instance* last = instances;
    while (last && last->next) last = last->next;
    if (parseState(blob, size)) return 1;
    Instance*& firstAdded = last ? last->next : instances;
    while (firstAdded) unlinkAndFree(firstAdded);
    return 0;
}

}  // namespace

WRAPPER_EXPORT intptr_t WRAPPER_CALL wrapperDispatcher(intptr_t opcode, intptr_t a1, intptr_t a2) {
    intptr_t answer = 0;
    if (answerListCommand(instances, opcode, a1, a2, answer)) return answer;
    Instance* instance = nullptr;
    switch (opcode) {
        case WD_SET_HOST_CALLBACK:
            hostCallback = reinterpret_cast<HostCallbackFn>(a1);
            return 1;
        case WD_OPEN:
            if (!openForHost(hostCallback, reinterpret_cast<const char*>(a1), applicationDirectory,
                             sizeof applicationDirectory, kVersionCaption))
                return 0;
            return editorClassRegister() ? 1 : 0;
        case WD_REFRESH_LIST:
            return refreshList();
        case WD_GET_NAME: {
            size_t size = a2 > 0 ? static_cast<size_t>(a2) : kWrapperNameBuffer;
            if (!a1) return 0;
            std::snprintf(reinterpret_cast<char*>(a1), size, "%s", kWrapperName);
            return 1;
        }
        case WD_SET_PROCESSING:
            processing = a2 != 0;
            forwardToAll(processing ? PQ_RESUME : PQ_SUSPEND, 0, 0);
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
            copyDisplayName(reinterpret_cast<char*>(a1), kWrapperNameBuffer, entry->name);
            return 1;
        }
        case WD_CREATE_INSTANCE: {
            Available* entry = availableAt(a2);
            if (!entry || !a1) return 0;
            instance = createInstance(entry->name);
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
            copyDisplayName(reinterpret_cast<char*>(a2), kWrapperNameBuffer, instance->name);
            return 1;
        case WD_SET_INSTANCE_ACTIVE: {
            instance = findInstance(instances, a1);
            if (!instance) return 0;
            const uint8_t bypass = a2 == 0 ? 1 : 0;
            if (instance->bypassed.load(std::memory_order_relaxed) != bypass) {
                instance->bypassed.store(bypass, std::memory_order_relaxed);
                if (instance->query) instance->query(bypass ? PQ_SUSPEND : PQ_RESUME, 0, 0);
            }
            return 1;
        }
        case WD_SHOW_EDITOR:
            instance = findInstance(instances, a1);
            return instance ? showEditor(instance, reinterpret_cast<void*>(a2)) : 0;
        case WD_CLOSE_EDITOR:
            instance = findInstance(instances, a1);
            if (!instance) return 0;
            closeEditor(instance);
            callHost(HC_EDITOR_CLOSED, a1, 0);
            return 1;
        case WD_CLOSE:
            std::free(savedState);
            savedState = nullptr;
            destroyAll();
            freeAvailableList();
            editorClassRelease();
            callHost(HC_WRAPPER_CLOSED, a1, 0);
            return 1;
        case WD_SET_SAMPLE_RATE:
            if (static_cast<uint32_t>(a2) != sampleRate) {
                sampleRate = static_cast<uint32_t>(a2);
                forwardToAll(PQ_SET_SAMPLE_RATE, 0, sampleRate);
            }
            return 1;
        case WD_SET_BLOCK_SIZE:
            if (static_cast<uint32_t>(a2) != blockSize) {
                blockSize = static_cast<uint32_t>(a2);
                forwardToAll(PQ_SET_BLOCK_SIZE, 0, blockSize);
            }
            return 1;
        case WD_LOAD_STATE:
            return loadState(reinterpret_cast<const uint8_t*>(a1), a2);
        case WD_ADD_STATE:
            return addState(reinterpret_cast<const uint8_t*>(a1), a2);
        case WD_SAVE_STATE:
            return saveState(a1);
        case WD_SET_TEMPO: {
            if (!a1) return 0;
            const float value = *reinterpret_cast<const float*>(a1);
            if (value != tempo) {
                tempo = value;
                forwardToAll(PQ_SET_TEMPO, reinterpret_cast<intptr_t>(&tempo), 0);
            }
            return 1;
        }
        case WD_GET_LATENCY:
            // The built-in effects delay nothing.
            if (!findInstance(instances, a1) || !a2) return 0;
            *reinterpret_cast<int32_t*>(a2) = 0;
            return 1;
        case WD_GET_PARAMETER_COUNT: {
            // The effect's editor controls; a module without them has none.
            instance = findInstance(instances, a1);
            if (!instance || !a2) return 0;
            const intptr_t n = instance->query ? instance->query(PQ_GET_PARAM_COUNT, 0, 0) : 0;
            *reinterpret_cast<int32_t*>(a2) = n > 0 && n < 1024 ? static_cast<int32_t>(n) : 0;
            return 1;
        }
        case WD_GET_PARAMETER: {
            instance = findInstance(instances, a1);
            auto* p = reinterpret_cast<WrapperParameter*>(a2);
            if (!instance || !p || !instance->query) return 0;
            EffectParameter e{};
            if (!instance->query(PQ_GET_PARAM, reinterpret_cast<intptr_t>(&e), p->index)) return 0;
            p->value = e.value;
            e.name[sizeof e.name - 1] = e.display[sizeof e.display - 1] = '\0';
            std::snprintf(p->name, sizeof p->name, "%s", e.name);
            std::snprintf(p->display, sizeof p->display, "%s", e.display);
            return 1;
        }
        case WD_SET_PARAMETER: {
            // UI thread, as the effect's own editor: the effect stores the
            // control's value into its relaxed atomics.
            instance = findInstance(instances, a1);
            auto* p = reinterpret_cast<WrapperParameter*>(a2);
            if (!instance || !p || !instance->query) return 0;
            const double value = p->value;
            return instance->query(PQ_SET_PARAM, reinterpret_cast<intptr_t>(&value), p->index) ? 1 : 0;
        }
        default:
            return 0;
    }
}

// Audio thread: runs the instance's effect in place unless it is bypassed.
WRAPPER_EXPORT void WRAPPER_CALL processPlugin(intptr_t handle, float* left, float* right) {
    auto* instance = reinterpret_cast<Instance*>(handle);
    if (!instance || instance->bypassed.load(std::memory_order_relaxed) || !instance->process) return;
    instance->process(left, right, 0);
}

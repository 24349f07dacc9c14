// Wrapper table, wrapper loading, the host's operations and the chain.
#include "host/host.h"

#include <cctype>
#include <cstdio>
#include <cstring>
#include <new>

#include "app/report.h"

Host gHost;

namespace {

constexpr const char* kNoName = "<noname>";

EngineState& engine() { return *gHost.engine; }

bool usable(int w) {
    const EngineState& e = engine();
    return w >= 0 && w < static_cast<int>(e.wrapperCount) && w < kMaxWrappers && gHost.modules[w] &&
           e.wrappers[w].dispatcher;
}

intptr_t dispatch(int w, intptr_t opcode, intptr_t a1, intptr_t a2) {
    return engine().wrappers[w].dispatcher(opcode, a1, a2);
}

// 0 when the wrapper answered non-zero, else -1; -1 for an unusable index.
int command(int w, intptr_t opcode, intptr_t a1, intptr_t a2) {
    if (!usable(w)) return -1;
    return dispatch(w, opcode, a1, a2) ? 0 : -1;
}

void repaintChain() {
    if (gHost.repaintChain) gHost.repaintChain();
}

void clearEntry(int w) {
    gHost.modules[w] = nullptr;
    engine().wrappers[w] = EngineWrapper{};
}

// Asks wrapper `w` for a name into `buffer` (100 bytes), which holds
// "<noname>" until the wrapper writes; null when it fails.
const char* queryName(char* buffer, int w, intptr_t opcode, intptr_t a1, intptr_t a2) {
    if (!usable(w)) return nullptr;
    std::strcpy(buffer, kNoName);
    if (!dispatch(w, opcode, a1, a2)) return nullptr;
    buffer[kWrapperNameBuffer - 1] = '\0';
    return buffer;
}

ChainSlot& slotAt(int slot) {
    if (slot < 0) slot = 0;
    if (slot >= kChainSlots) slot = kChainSlots - 1;
    return engine().chain[slot];
}

int slotWrapper(const ChainSlot& s) { return static_cast<int>(static_cast<uint32_t>(s.wrapperIndex) & 0xFF); }

int strncasecmpPortable(const char* a, const char* b, size_t n) {
    for (size_t i = 0; i < n; ++i) {
        const int x = std::tolower(static_cast<unsigned char>(a[i])), y = std::tolower(static_cast<unsigned char>(b[i]));
        if (x != y || x == 0) return x - y;
    }
    return 0;
}

bool hasLibrarySuffix(const char* name) {
    const char* dot = std::strrchr(name, '.');
    return dot && std::strcmp(dot, platformModuleSuffix()) == 0;
}

// Application directory + "Wrappers" + separator + file name; false when it
// does not fit (a cut path would name another file).
bool wrappersPath(char* out, size_t size, const char* fileName) {
    int written = std::snprintf(out, size, "%sWrappers%c%s", gHost.applicationDirectory, platformPathSeparator(),
                                fileName);
    return written > 0 && static_cast<size_t>(written) < size;
}

// The wrapper files found, loaded in a fixed order once all are known.
struct SearchState {
    static constexpr int kMaxFiles = 64;
    char names[kMaxFiles][kPathBuffer];
    int count = 0;
};

bool visitWrapperFile(void* context, const char* name, bool isDirectory) {
    if (isDirectory || std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0 || !hasLibrarySuffix(name))
        return true;
    auto* state = static_cast<SearchState*>(context);
    if (state->count < SearchState::kMaxFiles && std::strlen(name) < kPathBuffer)
        std::snprintf(state->names[state->count++], kPathBuffer, "%s", name);
    return true;
}

// Wrappers that came after the first release load after the others, in the
// order they came, so the wrappers a performance file was written with keep
// their order in it (and in Select Effect:); the others load in name order
// whatever order the folder lists them in.
int wrapperRank(const char* name) {
    static const char* const kLater[] = {"clapwrapper"};
    const size_t stem = std::strlen(name) - std::strlen(platformModuleSuffix());
    for (int i = 0; i < static_cast<int>(sizeof kLater / sizeof *kLater); ++i)
        if (std::strlen(kLater[i]) == stem && strncasecmpPortable(name, kLater[i], stem) == 0) return i + 1;
    return 0;
}

bool loadsBefore(const char* a, const char* b) {
    const int ra = wrapperRank(a), rb = wrapperRank(b);
    if (ra != rb) return ra < rb;
    return strncasecmpPortable(a, b, kPathBuffer) < 0;
}

// ---- plug-ins in helper processes ----

#if defined(_WIN32)
constexpr const char* kHelperProgram = "QvPluginHost.exe";
constexpr const char* kHelperProgram32 = "QvPluginHost32.exe";
#else
constexpr const char* kHelperProgram = "QvPluginHost";
constexpr const char* kHelperProgram32 = "QvPluginHost32";
#endif

// The listed name of a plug-in only the 32-bit helper can run, and the
// name its wrapper there lists it by (without the suffix); false for others.
bool listedAs32Bit(const char* listed, char* plain, size_t size) {
    const size_t n = std::strlen(listed), suffix = std::strlen(kSuffix32Bit);
    if (n <= suffix || std::strcmp(listed + n - suffix, kSuffix32Bit) != 0) return false;
    std::snprintf(plain, size, "%.*s", static_cast<int>(n - suffix), listed);
    return true;
}

BridgeInstance* bridgeOf(intptr_t handle) {
    if (handle == 0) return nullptr;
    for (BridgeInstance* b : gHost.separate)
        if (b && reinterpret_cast<intptr_t>(b) == handle) return b;
    return nullptr;
}

void forgetBridge(BridgeInstance* b) {
    for (BridgeInstance*& held : gHost.separate)
        if (held == b) held = nullptr;
}

// Ends the helper and drops the record; the slot that held it is emptied.
void endSeparate(BridgeInstance* b) {
    for (ChainSlot& s : engine().chain)
        if (s.instance == reinterpret_cast<intptr_t>(b)) s = ChainSlot{};
    forgetBridge(b);
    bridgeEnd(b);
}

void processSeparate(intptr_t instance, float* left, float* right, uint32_t frames) {
    bridgeProcess(*reinterpret_cast<BridgeInstance*>(instance), left, right, frames);
}

void configureSeparate(int channels, uint32_t rate, uint32_t blockSize) {
    gHost.channels = channels;
    gHost.rate = rate;
    gHost.blockSize = blockSize;
    for (BridgeInstance* b : gHost.separate) {
        if (!b) continue;
        b->rate = rate;
        b->deadlineUs = gHost.separateDeadlineUs;
        if (bridgeCommand(*b, BR_CONFIGURE, channels, rate, blockSize) == 1) b->blockSize = blockSize;
    }
}

// For each helper of wrapper `w`.
template <typename Fn>
void eachSeparateOf(int w, Fn fn) {
    for (BridgeInstance* b : gHost.separate)
        if (b && static_cast<int>(b->wrapper) == w) fn(*b);
}

// The wrapper an instance of the program belongs to: the one owning the
// chain slot that holds it, else the one that knows it; -1 for none.
int wrapperOfInstance(intptr_t instance) {
    if (!instance) return -1;
    for (const ChainSlot& s : engine().chain)
        if (s.instance == instance && !s.separate) return slotWrapper(s);
    for (int w = 0; w < wrapperCount(); ++w)
        if (usable(w) && dispatch(w, WD_IS_INSTANCE, instance, 0)) return w;
    return -1;
}

// The hook a parameter report goes to (HC_PARAMETER_CHANGED,
// HC_LEARN_PARAMETER or HC_FORGET_PARAMETER).
void (*parameterHook(intptr_t opcode))(int, intptr_t, int32_t) {
    return opcode == HC_LEARN_PARAMETER    ? gHost.learnParameter
           : opcode == HC_FORGET_PARAMETER ? gHost.forgetParameter
                                           : gHost.parameterChanged;
}

// A parameter report of a wrapper to its hook; 0 when no hook listens.
intptr_t parameterReport(void (*hook)(int, intptr_t, int32_t), intptr_t instance, intptr_t index) {
    if (!hook || index < 0 || index > INT32_MAX) return 0;
    const int w = wrapperOfInstance(instance);
    if (w < 0) return 0;
    hook(w, instance, static_cast<int32_t>(index));
    return 1;
}

}  // namespace

void hostReset(EngineState& e, const char* applicationDirectory) {
    gHost = Host{};
    gHost.engine = &e;
    e.separateProcess = processSeparate;
    e.separateConfigure = configureSeparate;
    std::snprintf(gHost.applicationDirectory, sizeof gHost.applicationDirectory, "%s", applicationDirectory);
}

intptr_t WRAPPER_CALL hostCallback(intptr_t opcode, intptr_t a1, intptr_t a2) {
    switch (opcode) {
        case HC_GET_HOST_NAME:
            if (a1) *reinterpret_cast<const char**>(a1) = kHostName;
            return 1;
        case HC_GET_HOST_VERSION:
            if (a1) *reinterpret_cast<uint16_t*>(a1) = kHostVersion;
            return 1;
        case HC_REPAINT_CHAIN:
            repaintChain();
            return 1;
        case HC_INSTANCE_DESTROYED:
            for (ChainSlot& s : engine().chain) {
                if (s.instance == a1) {
                    s = ChainSlot{};
                    break;
                }
            }
            repaintChain();
            return 1;
        case HC_ALL_INSTANCES_DESTROYED:
            for (ChainSlot& s : engine().chain) s = ChainSlot{};
            repaintChain();
            return 1;
        case HC_EDITOR_CLOSED:
        case HC_WRAPPER_CLOSED:
            return 1;
        case HC_SCAN_PROGRESS:
            if (a1 && gHost.scanProgress) return gHost.scanProgress(reinterpret_cast<const char*>(a1)) ? 1 : 0;
            return 1;
        case HC_PARAMETER_CHANGED:
        case HC_LEARN_PARAMETER:
        case HC_FORGET_PARAMETER:
            return parameterReport(parameterHook(opcode), a1, a2);
        default:
            return 0;
    }
}

int32_t wrappersLoadAll() {
    for (int w = 0; w < kMaxWrappers; ++w) clearEntry(w);
    engine().wrapperCount = 0;
    char folder[kPathBuffer];
    static SearchState state;
    state.count = 0;
    if (!wrappersPath(folder, sizeof folder, "") || !platformListDirectory(folder, visitWrapperFile, &state))
        return kResultNoWrappersDirectory;
    int order[SearchState::kMaxFiles];
    for (int i = 0; i < state.count; ++i) {
        int at = i;
        while (at > 0 && loadsBefore(state.names[i], state.names[order[at - 1]])) {
            order[at] = order[at - 1];
            --at;
        }
        order[at] = i;
    }
    for (int i = 0; i < state.count; ++i) {
        const int32_t result = wrapperLoad(state.names[order[i]]);
        if (result != 0) return result;
    }
    return 0;
}

int32_t wrapperLoad(const char* fileName) {
    EngineState& e = engine();
    if (e.wrapperCount >= kMaxWrappers) return kResultTooManyWrappers;
    const int w = static_cast<int>(e.wrapperCount);
    char path[kPathBuffer];
    PlatformModule module = wrappersPath(path, sizeof path, fileName) ? platformLoadModule(path) : nullptr;
    if (!module) {
        ReportResult(kResultCannotLoadWrapper);
        return 0;
    }
    // A refused file is unloaded and reported; the search goes on.
    auto refuse = [&](int32_t code) {
        platformUnloadModule(module);
        clearEntry(w);
        ReportResult(code);
        return 0;
    };
    auto dispatcher = reinterpret_cast<WrapperDispatcherFn>(platformFindSymbol(module, "wrapperDispatcher"));
    if (!dispatcher) return refuse(kResultNoDispatcher);
    auto process = reinterpret_cast<WrapperProcessFn>(platformFindSymbol(module, "processPlugin"));
    if (!process) return refuse(kResultNoProcessFunction);
    dispatcher(WD_SET_HOST_CALLBACK, reinterpret_cast<intptr_t>(hostCallback), 4);
    if (dispatcher(WD_OPEN, reinterpret_cast<intptr_t>(gHost.applicationDirectory), 0) == 0) {
        dispatcher(WD_CLOSE, 0, 0);
        return refuse(kResultWrapperInitFailed);
    }
    dispatcher(WD_SET_SAMPLE_RATE, 0, 44100);
    dispatcher(WD_SET_BLOCK_SIZE, 0, 44);
    gHost.modules[w] = module;
    std::snprintf(gHost.moduleFiles[w], sizeof gHost.moduleFiles[w], "%s", fileName);
    e.wrappers[w] = EngineWrapper{dispatcher, process};
    e.wrapperCount = static_cast<uint32_t>(w + 1);
    return 0;
}

void wrappersUnloadAll() {
    EngineState& e = engine();
    for (BridgeInstance* b : gHost.separate)
        if (b) endSeparate(b);
    for (int w = static_cast<int>(e.wrapperCount) - 1; w >= 0; --w) {
        if (e.wrappers[w].dispatcher) e.wrappers[w].dispatcher(WD_CLOSE, 0, 0);
        platformUnloadModule(gHost.modules[w]);
        clearEntry(w);
    }
    e.wrapperCount = 0;
}

int wrapperCount() { return static_cast<int>(engine().wrapperCount); }

const char* wrapperName(int w) {
    return queryName(gHost.wrapperName, w, WD_GET_NAME, reinterpret_cast<intptr_t>(gHost.wrapperName),
                     kWrapperNameBuffer);
}

int wrapperAvailableCount(int w) {
    int32_t n = 0;
    if (!usable(w) || !dispatch(w, WD_GET_AVAILABLE_COUNT, reinterpret_cast<intptr_t>(&n), 4)) return -1;
    return n;
}

const char* wrapperAvailableName(int w, int index) {
    return queryName(gHost.pluginName, w, WD_GET_AVAILABLE_NAME, reinterpret_cast<intptr_t>(gHost.pluginName), index);
}

intptr_t wrapperCreateInstance(int w, int index) {
    intptr_t handle = 0;
    if (!usable(w) || !dispatch(w, WD_CREATE_INSTANCE, reinterpret_cast<intptr_t>(&handle), index)) return 0;
    return handle;
}

int wrapperInstanceCount(int w) {
    int32_t n = 0;
    if (!usable(w) || !dispatch(w, WD_GET_INSTANCE_COUNT, reinterpret_cast<intptr_t>(&n), 4)) return -1;
    return n;
}

const char* wrapperInstanceName(int w, intptr_t handle) {
    if (BridgeInstance* b = bridgeOf(handle)) {
        std::snprintf(gHost.pluginName, sizeof gHost.pluginName, "%s", b->pluginName);
        return gHost.pluginName;
    }
    return queryName(gHost.pluginName, w, WD_GET_INSTANCE_NAME, handle, reinterpret_cast<intptr_t>(gHost.pluginName));
}

int wrapperDestroyInstance(int w, intptr_t handle) {
    if (BridgeInstance* b = bridgeOf(handle)) {
        forgetBridge(b);
        bridgeEnd(b);
        return 0;
    }
    return command(w, WD_DESTROY_INSTANCE, handle, 4);
}
int wrapperSetSampleRate(int w, uint32_t rate) { return command(w, WD_SET_SAMPLE_RATE, 0, rate); }
int wrapperSetBlockSize(int w, uint32_t frames) { return command(w, WD_SET_BLOCK_SIZE, 0, frames); }
int wrapperSetInstanceActive(int w, intptr_t handle, bool active) {
    if (BridgeInstance* b = bridgeOf(handle)) {
        b->active = active;
        return bridgeCommand(*b, BR_SET_ACTIVE, active ? 1 : 0) > 0 ? 0 : -1;
    }
    return command(w, WD_SET_INSTANCE_ACTIVE, handle, active ? 1 : 0);
}
int wrapperSetProcessing(int w, bool on) {
    eachSeparateOf(w, [&](BridgeInstance& b) { bridgeCommand(b, BR_SET_PROCESSING, on ? 1 : 0); });
    return command(w, WD_SET_PROCESSING, 0, on ? 1 : 0);
}
int wrapperRefreshList(int w) { return command(w, WD_REFRESH_LIST, 0, 0); }

int32_t wrapperLatency(int w, intptr_t handle) {
    int32_t frames = 0;
    if (BridgeInstance* b = bridgeOf(handle)) {
        const int64_t answer = bridgeCommand(*b, BR_GET_LATENCY);
        frames = answer > 0 ? static_cast<int32_t>(answer) : 0;
    } else if (!usable(w) || !dispatch(w, WD_GET_LATENCY, handle, reinterpret_cast<intptr_t>(&frames))) return 0;
    return frames > 0 && frames < (1 << 24) ? frames : 0;
}

int wrapperParameterCount(int w, intptr_t handle) {
    int32_t n = 0;
    if (BridgeInstance* b = bridgeOf(handle)) {
        const int64_t answer = bridgeCommand(*b, BR_GET_PARAMETER_COUNT);
        if (answer < 0) return -1;
        n = answer < (1 << 20) ? static_cast<int32_t>(answer) : 0;
    } else if (!usable(w)) {
        return -1;
    } else if (!dispatch(w, WD_GET_PARAMETER_COUNT, handle, reinterpret_cast<intptr_t>(&n))) {
        return 0;
    }
    return n > 0 && n < (1 << 20) ? n : 0;
}

int wrapperGetParameter(int w, intptr_t handle, WrapperParameter& p) {
    if (BridgeInstance* b = bridgeOf(handle)) {
        uint32_t size = 0;
        const uint8_t* answer =
            bridgeCommand(*b, BR_GET_PARAMETER, p.index) == 1 ? bridgeAnswerBlob(*b, size) : nullptr;
        if (!answer || size != sizeof(BridgeParameter)) return -1;
        BridgeParameter r;
        std::memcpy(&r, answer, sizeof r);
        p.value = r.value;
        std::memcpy(p.name, r.name, sizeof p.name);
        std::memcpy(p.display, r.display, sizeof p.display);
    } else if (!usable(w) || !dispatch(w, WD_GET_PARAMETER, handle, reinterpret_cast<intptr_t>(&p))) {
        return -1;
    }
    p.name[sizeof p.name - 1] = p.display[sizeof p.display - 1] = '\0';
    return 0;
}

int wrapperSetParameter(int w, intptr_t handle, int32_t index, double value) {
    if (BridgeInstance* b = bridgeOf(handle)) {
        int64_t bits = 0;
        std::memcpy(&bits, &value, sizeof bits);
        return bridgeCommand(*b, BR_SET_PARAMETER, index, bits) == 1 ? 0 : -1;
    }
    WrapperParameter p{};
    p.index = index;
    p.value = value;
    return command(w, WD_SET_PARAMETER, handle, reinterpret_cast<intptr_t>(&p));
}

int32_t chainLatency() {
    int32_t total = 0;
    for (const ChainSlot& slot : engine().chain)
        if (slot.instance && !(slotIsSeparate(slot) && bridgeOf(slot.instance)->failed.load()))
            total += wrapperLatency(slot.wrapperIndex & 0xFF, slot.instance);
    return total;
}

void wrappersIdle() {
    for (int w = 0; w < wrapperCount(); ++w)
        if (usable(w)) dispatch(w, WD_IDLE, 0, 0);
}
int wrapperDestroyAll(int w) {
    eachSeparateOf(w, [](BridgeInstance& b) { endSeparate(&b); });
    return command(w, WD_DESTROY_ALL, 0, 0);
}
int wrapperShowEditor(int w, intptr_t handle, void* mdiClient) {
    if (BridgeInstance* b = bridgeOf(handle)) {
        // The helper's window says which slot it belongs to.
        int slot = 0;
        while (slot < kChainSlots && engine().chain[slot].instance != handle) ++slot;
        char caption[kWrapperNameBuffer + 16];
        std::snprintf(caption, sizeof caption, "Slot %d: %s", slot + 1, b->pluginName);
        return bridgeCommand(*b, BR_SHOW_EDITOR, static_cast<int64_t>(reinterpret_cast<intptr_t>(mdiClient)), 0, 0,
                             caption) == 1
                   ? 0
                   : -1;
    }
    return command(w, WD_SHOW_EDITOR, handle, reinterpret_cast<intptr_t>(mdiClient));
}

void wrapperProcessSlot(int w, intptr_t handle, float* left, float* right) {
    if (BridgeInstance* b = bridgeOf(handle)) {
        bridgeProcess(*b, left, right, engine().blockSize);
        return;
    }
    if (handle == 0 || w < 0 || w >= static_cast<int>(engine().wrapperCount) || w >= kMaxWrappers) return;
    WrapperProcessFn process = engine().wrappers[w].processPlugin;
    if (process) process(handle, left, right);
}

int wrapperLoadState(int w, const uint8_t* blob, uint32_t size) {
    return command(w, WD_LOAD_STATE, reinterpret_cast<intptr_t>(blob), size);
}

const uint8_t* wrapperSaveState(int w, uint32_t& size) {
    if (!usable(w)) return nullptr;
    uint8_t* blob = nullptr;
    intptr_t n = dispatch(w, WD_SAVE_STATE, reinterpret_cast<intptr_t>(&blob), 4);
    if (n == 0) return nullptr;
    size = static_cast<uint32_t>(n);
    return blob;
}

int wrapperReplaceInstance(int w, intptr_t handle, int index) { return command(w, WD_REPLACE_INSTANCE, handle, index); }

int wrapperInstanceActive(int w, intptr_t handle) {
    // Only the host sets a helper's instance active or bypassed: what it set
    // is the answer, without asking the helper (the pane asks on every paint).
    if (BridgeInstance* b = bridgeOf(handle)) return b->active ? 1 : 0;
    if (!usable(w)) return -1;
    return static_cast<int>(dispatch(w, WD_GET_INSTANCE_ACTIVE, handle, 4)) - 1;
}

int wrapperCloseEditor(int w, intptr_t handle) {
    if (BridgeInstance* b = bridgeOf(handle)) return bridgeCommand(*b, BR_CLOSE_EDITOR) == 1 ? 0 : -1;
    return command(w, WD_CLOSE_EDITOR, handle, 4);
}

int wrapperGetInstance(int w, int index, intptr_t& handle) {
    return command(w, WD_GET_INSTANCE, reinterpret_cast<intptr_t>(&handle), index);
}

int wrapperIsInstance(int w, intptr_t handle) {
    if (bridgeOf(handle)) return 0;
    return command(w, WD_IS_INSTANCE, handle, 4);
}

int wrapperSetUserData(int w, intptr_t handle, const uint8_t* data, uint32_t size) {
    WrapperUserData record{handle, reinterpret_cast<intptr_t>(data), static_cast<intptr_t>(size)};
    return command(w, WD_SET_USER_DATA, reinterpret_cast<intptr_t>(&record), 12);
}

const uint8_t* wrapperGetUserData(int w, intptr_t handle, uint32_t& size) {
    size = 0;
    WrapperUserData record{handle, 0, 0};
    if (command(w, WD_GET_USER_DATA, reinterpret_cast<intptr_t>(&record), 12) != 0) return nullptr;
    size = static_cast<uint32_t>(record.size);
    return reinterpret_cast<const uint8_t*>(record.data);
}

int wrapperSetTempo(int w, float bpm) {
    float limited = bpm < 50.0f ? 50.0f : (bpm > 250.0f ? 250.0f : bpm);
    eachSeparateOf(w, [&](BridgeInstance& b) {
        bridgeCommand(b, BR_SET_TEMPO, static_cast<int64_t>(static_cast<double>(limited) * 1000.0 + 0.5));
    });
    return command(w, WD_SET_TEMPO, reinterpret_cast<intptr_t>(&limited), 4);
}

// ---- chain operations ----

int32_t chainAttach(int slot, int w, int index) {
    if (w < 0 || index < 0) return 0;
    // A 32-bit plug-in always runs in a helper of its width.
    char plain[kWrapperNameBuffer];
    const char* listed = wrapperAvailableName(w, index);
    if (listed && listedAs32Bit(listed, plain, sizeof plain)) return chainAttachSeparate(slot, w, index);
    const intptr_t handle = wrapperCreateInstance(w, index);
    if (handle == 0) {
        ReportResult(kResultAttachFailed);
        return kResultAttachFailed;
    }
    int32_t result = 0;
    engineChainPause(engine());
    ChainSlot& s = slotAt(slot);
    if (s.instance != 0 && wrapperDestroyInstance(slotWrapper(s), s.instance) != 0) {
        ReportResult(kResultDetachFailed);
        result = kResultDetachFailed;
    }
    s = ChainSlot{handle, w};
    engineChainResume(engine());
    repaintChain();
    return result;
}

int32_t chainDetach(int slot) {
    int32_t result = 0;
    engineChainPause(engine());
    ChainSlot& s = slotAt(slot);
    if (s.instance != 0 && wrapperDestroyInstance(slotWrapper(s), s.instance) != 0) {
        ReportResult(kResultDetachFailed);
        result = kResultDetachFailed;
    }
    s = ChainSlot{0, -1};
    engineChainResume(engine());
    repaintChain();
    return result;
}

static void swapSlots(int a, int b) {
    engineChainPause(engine());
    ChainSlot held = engine().chain[a];
    engine().chain[a] = engine().chain[b];
    engine().chain[b] = held;
    engineChainResume(engine());
    repaintChain();
}

void chainMoveUp(int slot) {
    if (slot < 0) slot = 0;
    if (slot >= kChainSlots) slot = kChainSlots - 1;
    if (slot > 0) swapSlots(slot - 1, slot);
}

void chainMoveDown(int slot) {
    if (slot < 0) slot = 0;
    if (slot >= kChainSlots) slot = kChainSlots - 1;
    if (slot < kChainSlots - 1) swapSlots(slot, slot + 1);
}

void chainToggleBypass(int slot) {
    const ChainSlot s = slotAt(slot);
    const int w = slotWrapper(s);
    const int active = wrapperInstanceActive(w, s.instance);
    if (active == 1) wrapperSetInstanceActive(w, s.instance, false);
    if (active == 0) wrapperSetInstanceActive(w, s.instance, true);
    repaintChain();
}

int32_t chainShowEditor(int slot, void* mdiClient) {
    const ChainSlot s = slotAt(slot);
    if (s.instance == 0) return 0;
    if (wrapperShowEditor(slotWrapper(s), s.instance, mdiClient) != 0) {
        // A helper that crashed or hung making its editor is told as that,
        // once, by the check for failed helpers.
        if (chainSlotFailed(slot)) return kResultShowEditorFailed;
        ReportResult(kResultShowEditorFailed);
        return kResultShowEditorFailed;
    }
    return 0;
}

// ---- plug-ins in helper processes ----

namespace {

// A helper for wrapper `w`, opened for the engine's present configuration;
// null when there is no room or it does not start.
BridgeInstance* startSeparate(int w, bool bits32) {
    if (!wrapperCanRunOutside(w)) return nullptr;
    bool room = false;
    for (BridgeInstance* held : gHost.separate) room |= held == nullptr;
    char helper[kPathBuffer], module[kPathBuffer];
    const int written =
        bits32 ? std::snprintf(module, sizeof module, "%s%s%c%s", gHost.applicationDirectory, kWrappers32,
                               platformPathSeparator(), gHost.moduleFiles[w])
               : (wrappersPath(module, sizeof module, gHost.moduleFiles[w]) ? 1 : -1);
    if (!room || written < 0 || written >= static_cast<int>(sizeof module) ||
        std::snprintf(helper, sizeof helper, "%s%s", gHost.applicationDirectory,
                      bits32 ? kHelperProgram32 : kHelperProgram) >= static_cast<int>(sizeof helper))
        return nullptr;
    BridgeInstance* b =
        bridgeStart(helper, module, static_cast<uint32_t>(w), gHost.channels, gHost.rate, gHost.blockSize);
    if (b) {
        b->deadlineUs = gHost.separateDeadlineUs;
        b->rate = gHost.rate;
        b->bits32 = bits32;
    }
    return b;
}

// Names the helper's plug-in, keeps its state and files it in the table.
void adoptSeparate(BridgeInstance* b, const char* fallbackName) {
    std::snprintf(b->pluginName, sizeof b->pluginName, "%s%s",
                  bridgeCommand(*b, BR_GET_NAME) == 1 ? bridgeAnswerText(*b) : fallbackName,
                  b->bits32 ? kSuffix32Bit : "");
    separateSaveState(*b, kSlotByteNone);
    for (BridgeInstance*& held : gHost.separate)
        if (!held) {
            held = b;
            break;
        }
}

// Puts `handle` of wrapper index `index` (in a helper: `separate`) into `slot`,
// destroying what was there.
int32_t placeInSlot(int slot, intptr_t handle, int32_t index, bool separate) {
    int32_t result = 0;
    engineChainPause(engine());
    ChainSlot& s = slotAt(slot);
    if (s.instance != 0 && s.instance != handle && wrapperDestroyInstance(slotWrapper(s), s.instance) != 0) {
        ReportResult(kResultDetachFailed);
        result = kResultDetachFailed;
    }
    s = ChainSlot{handle, index, separate};
    engineChainResume(engine());
    repaintChain();
    return result;
}

int32_t attachFailed() {
    ReportResult(kResultAttachFailed);
    return kResultAttachFailed;
}

}  // namespace

bool separateSaveState(BridgeInstance& b, uint8_t slotByte) {
    if (bridgeCommand(b, BR_SAVE_STATE, slotByte) != 1) return false;
    uint32_t size = 0;
    const uint8_t* blob = bridgeAnswerBlob(b, size);
    if (!blob) return false;
    auto* copy = new (std::nothrow) uint8_t[size];
    if (!copy) return false;
    std::memcpy(copy, blob, size);
    delete[] b.lastState;
    b.lastState = copy;
    b.lastStateSize = size;
    return true;
}

BridgeInstance* separateFromState(int w, const uint8_t* blob, uint32_t size, uint8_t& slotByte, bool bits32) {
    BridgeInstance* b = startSeparate(w, bits32);
    if (!b) return nullptr;
    uint32_t answered = 0;
    const uint8_t* data = nullptr;
    if (bridgeCommand(*b, BR_LOAD_STATE, 0, 0, 0, nullptr, blob, size) != 1 ||
        !(data = bridgeAnswerBlob(*b, answered))) {
        bridgeEnd(b);
        return nullptr;
    }
    slotByte = answered == 1 ? data[0] : kSlotByteNone;
    adoptSeparate(b, "");
    return b;
}

int32_t chainAttachSeparate(int slot, int w, int index) {
    if (w < 0 || index < 0) return 0;
    const char* listed = wrapperAvailableName(w, index);
    if (!listed) return attachFailed();
    char name[kWrapperNameBuffer];
    const bool bits32 = listedAs32Bit(listed, name, sizeof name);
    if (!bits32) std::snprintf(name, sizeof name, "%s", listed);
    BridgeInstance* b = startSeparate(w, bits32);
    if (!b) return attachFailed();
    if (bridgeCommand(*b, BR_CREATE, index, 0, 0, name) != 1) {
        bridgeEnd(b);
        return attachFailed();
    }
    adoptSeparate(b, name);
    return placeInSlot(slot, reinterpret_cast<intptr_t>(b), w, true);
}

BridgeInstance* separateFromInstance(int w, intptr_t handle) {
    // The wrapper's blob holds all of its instances; this one is marked so
    // that the helper keeps it alone. The mark replaces its user data.
    static const char kMark[] = "separate";
    if (wrapperSetUserData(w, handle, reinterpret_cast<const uint8_t*>(kMark), sizeof kMark - 1) != 0)
        return nullptr;
    const int active = wrapperInstanceActive(w, handle);
    uint32_t size = 0;
    const uint8_t* blob = wrapperSaveState(w, size);
    BridgeInstance* b = blob ? startSeparate(w, false) : nullptr;
    if (b && bridgeCommand(*b, BR_ADOPT, 0, 0, 0, kMark, blob, size) != 1) {
        bridgeEnd(b);
        b = nullptr;
    }
    if (!b) return nullptr;
    adoptSeparate(b, "");
    if (active == 0) wrapperSetInstanceActive(w, reinterpret_cast<intptr_t>(b), false);
    return b;
}

int32_t chainMoveOutside(int slot) {
    const ChainSlot s = slotAt(slot);
    if (s.instance == 0 || slotIsSeparate(s)) return 0;
    const int w = slotWrapper(s);
    BridgeInstance* b = separateFromInstance(w, s.instance);
    if (!b) return attachFailed();
    return placeInSlot(slot, reinterpret_cast<intptr_t>(b), w, true);
}

int32_t chainMoveInside(int slot) {
    const ChainSlot s = slotAt(slot);
    BridgeInstance* b = slotIsSeparate(s) ? bridgeOf(s.instance) : nullptr;
    if (!b) return 0;
    if (b->bits32) return attachFailed();  // it cannot run inside
    const int w = slotWrapper(s);
    const bool active = wrapperInstanceActive(w, s.instance) != 0;
    if (!b->failed.load()) separateSaveState(*b, kSlotByteNone);
    const int before = wrapperInstanceCount(w);
    intptr_t handle = 0;
    if (!b->lastState || before < 0 || wrapperLoadState(w, b->lastState, b->lastStateSize) != 0 ||
        wrapperInstanceCount(w) != before + 1 || wrapperGetInstance(w, before, handle) != 0 || handle == 0)
        return attachFailed();
    wrapperSetInstanceActive(w, handle, active);
    return placeInSlot(slot, handle, w, false);
}

uint8_t separateSlotByte(int slot, const BridgeInstance& b) {
    return static_cast<uint8_t>((slot & 0x7F) | (b.active ? 0x80 : 0));
}

bool wrapperCanRunOutside(int w) {
    return w >= 0 && w < kMaxWrappers && usable(w) && std::strncmp(gHost.moduleFiles[w], "defwrapper", 10) != 0;
}

bool wrapperRunsOutside(int w) { return gHost.allSeparate && wrapperCanRunOutside(w); }

void chainMoveAllOutside() {
    if (!gHost.allSeparate) return;
    for (int slot = 0; slot < kChainSlots; ++slot) {
        const ChainSlot s = engine().chain[slot];
        if (s.instance && !slotIsSeparate(s) && wrapperRunsOutside(slotWrapper(s))) chainMoveOutside(slot);
    }
}

int32_t chainReload(int slot) {
    const ChainSlot s = slotAt(slot);
    BridgeInstance* old = slotIsSeparate(s) ? bridgeOf(s.instance) : nullptr;
    if (!old || !old->lastState) return 0;
    uint8_t slotByte = 0;
    BridgeInstance* b = separateFromState(slotWrapper(s), old->lastState, old->lastStateSize, slotByte, old->bits32);
    if (!b) return attachFailed();
    if (!old->active) wrapperSetInstanceActive(slotWrapper(s), reinterpret_cast<intptr_t>(b), false);
    return placeInSlot(slot, reinterpret_cast<intptr_t>(b), s.wrapperIndex, true);
}

BridgeInstance* chainSeparate(int slot) {
    const ChainSlot& s = slotAt(slot);
    return slotIsSeparate(s) ? bridgeOf(s.instance) : nullptr;
}

bool chainSlotFailed(int slot) {
    const BridgeInstance* b = chainSeparate(slot);
    return b && b->failed.load();
}

int chainCheckSeparate(SeparateFailureFn tell) {
    int told = 0;
    for (int slot = 0; slot < kChainSlots; ++slot) {
        BridgeInstance* b = chainSeparate(slot);
        if (!b || !b->failed.load() || b->reported) continue;
        b->reported = true;
        // A hung helper may still hold the CPU: it is ended now, while no
        // block can be using its area.
        engineChainPause(engine());
        platformHelperEnd(b->helper);
        b->helper = nullptr;
        engineChainResume(engine());
        ++told;
        if (tell) tell(slot, b->pluginName, b->failure.load(), b->failedAtFrame.load());
        repaintChain();
    }
    return told;
}

void chainTakeSeparateReports() {
    for (int slot = 0; slot < kChainSlots; ++slot) {
        BridgeInstance* b = chainSeparate(slot);
        if (!b) continue;
        BridgeReport reports[kBridgeReportCapacity];
        const int n = bridgeTakeReports(*b, reports, kBridgeReportCapacity);
        const ChainSlot s = slotAt(slot);
        for (int i = 0; i < n; ++i) {
            void (*hook)(int, intptr_t, int32_t) = parameterHook(reports[i].opcode);
            // A hook may change the chain: the slot is looked at again.
            if (hook && slotAt(slot).instance == s.instance) hook(slotWrapper(s), s.instance, reports[i].index);
        }
    }
}

void separateFailureText(char* out, size_t size, int slot, const char* plugin, int32_t why) {
    std::snprintf(out, size,
                  "The plug-in \"%s\" in slot %d %s. Its slot now passes the sound through unchanged; "
                  "live input and recording go on.\n\nChoose \"Reload Plug-in\" in the slot's menu to start it "
                  "again.",
                  plugin, slot + 1, why == kBridgeHung ? "stopped responding" : "crashed");
}

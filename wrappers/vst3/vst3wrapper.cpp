// The VST 3 wrapper: hosts the effect classes of VST 3 modules behind the
// wrapper protocol.
//
// Threads: every command arrives on the UI thread (WD_REFRESH_LIST on the
// host's scanning thread while the UI sits in a modal dialog) except
// `processPlugin`, which runs on the audio thread with the instance it is
// given: it allocates nothing and waits on nothing. Parameter values reach
// it through a lock-free ring from the UI thread, and the values the
// plug-in reports come back through another one, read by WD_IDLE.
//
// A module is third-party code: every count, size and string it gives is
// checked before it sizes a buffer or an index, and a state blob from a
// file is checked against the bytes left before anything is read.
#include <atomic>
#include <chrono>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <thread>

#include "common/bytes.h"
#include "host/wrapperprotocol.h"
#include "platform/platform.h"
#include "wrappers/common/hostcheck.h"
#include "wrappers/common/instancelist.h"
#include "wrappers/common/wrapperparts.h"
#include "wrappers/vst3/vst3abi.h"
#include "wrappers/vst3/vst3editor.h"
#include "wrappers/vst3/vst3host.h"
#include "wrappers/vst3/vst3instance.h"
#include "wrappers/vst3/vst3module.h"

using namespace vst3;

namespace {

constexpr const char* kWrapperName = "VST3 Plugins";
constexpr const char* kVersionCaption = "Host version is not correct";
constexpr const char* kBlobTag = "VST3WRAP";
constexpr size_t kBlobTagLength = 8;
constexpr int32_t kFallbackRate = 44100;
constexpr int32_t kFallbackBlockSize = 1024;
constexpr int32_t kMaxBlock = 1 << 16;

struct Available {
    char path[kPathSize];
    EffectClass effect;
    bool bits32;  // a 32-bit module's, listed for the 32-bit helper
    Available* next;
};

HostCallbackFn hostCallback = nullptr;
// The thread that opened the wrapper: the UI thread, the only one on which
// the host is told of a plug-in's edits.
std::atomic<uint64_t> uiThread{0};  // read on any thread
char applicationDirectory[kPathSize] = "";
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

// A class the scan found, listed under its module; a class id that is not
// 32 hex digits is not a VST 3 class.
void addClass(void* context, const char* path, const PluginClass& c, bool bits32) {
    Available**& tail = *static_cast<Available***>(context);
    auto* entry = new (std::nothrow) Available();
    if (!entry) return;
    if (!classIdBytes(c.id, entry->effect.cid)) {
        delete entry;
        return;
    }
    std::snprintf(entry->path, sizeof entry->path, "%s", path);
    std::memcpy(entry->effect.name, c.name, sizeof entry->effect.name);
    entry->bits32 = bits32;
    *tail = entry;
    tail = &entry->next;
}

// The folders searched: the system's shared and per-user VST 3 folders,
// then the program's VST directory.
void searchFolders(ScanFolders& folders) {
    char base[kPathSize], folder[kPathSize];
#if defined(_WIN32)
    if (platformEnvironment("COMMONPROGRAMFILES", base, sizeof base) &&
        std::snprintf(folder, sizeof folder, "%s\\VST3", base) < static_cast<int>(sizeof folder))
        scanFoldersAdd(folders, folder);
    if (platformEnvironment("LOCALAPPDATA", base, sizeof base) &&
        std::snprintf(folder, sizeof folder, "%s\\Programs\\Common\\VST3", base) < static_cast<int>(sizeof folder))
        scanFoldersAdd(folders, folder);
#else
    if (platformEnvironment("HOME", base, sizeof base) &&
        std::snprintf(folder, sizeof folder, "%s/.vst3", base) < static_cast<int>(sizeof folder))
        scanFoldersAdd(folders, folder);
    scanFoldersAdd(folders, "/usr/lib/vst3");
    scanFoldersAdd(folders, "/usr/local/lib/vst3");
#endif
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
    scanModules(kVst3Scan, folders, hostCallback, addClass, &tail);
    return 1;
}

// ---- instances ----

}  // namespace

namespace {
void deliverParameters(Instance* instance);
void reportEdit(Instance& instance, ParamID id);
}  // namespace

bool vst3::vst3SendToAudio(Instance& instance, ParamID id, ParamValue value) {
    if (instance.toAudio.push(id, value)) return true;
    deliverParameters(&instance);
    return instance.toAudio.push(id, value);
}

// An edit in the plug-in's editor.
tresult VST3_CALL Handler::performEdit(ParamID id, ParamValue value) {
    const bool sent = vst3SendToAudio(*owner_, id, value);
    reportEdit(*owner_, id);
    return sent ? kResultOk : kResultFalse;
}

namespace {

// UI thread: keeps the audio thread out of the plug-in, waiting for a
// block that is inside it (both flags sequentially consistent, as the
// engine's own handshake). Returns whether it was ready.
bool holdAudio(Instance* instance) {
    const bool was = instance->ready.exchange(false);
    while (instance->busy.load()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    return was;
}

void readLatency(Instance* instance) {
    const uint32_t frames = instance->processor->getLatencySamples();
    instance->latency.store(frames > 0x7FFFFFFFu ? 0 : static_cast<int32_t>(frames), std::memory_order_relaxed);
}

void configure(Instance* instance);

}  // namespace

tresult VST3_CALL Handler::restartComponent(int32_t flags) {
    Instance* instance = owner_;
    tresult result = kResultOk;
    if (flags & kLatencyChanged) readLatency(instance);
    if (flags & kIoChanged) {
        // The arrangement is negotiated again; the audio thread is kept out
        // while it happens.
        configure(instance);
    }
    if (flags & (kParamValuesChanged | kParamTitlesChanged)) {
        if (flags & kParamTitlesChanged) vst3BuildProgramMenu(*instance);
        vst3RefreshParameters(*instance);
        editorRepaint(instance->editor);
        callHost(HC_REPAINT_CHAIN, 0, 0);
    }
    if (flags & ~(kLatencyChanged | kIoChanged | kParamValuesChanged | kParamTitlesChanged)) result = kNotImplemented;
    return result;
}

namespace {

template <class T>
T* query(FUnknown* object, const Uid& iid) {
    void* out = nullptr;
    if (!object || object->queryInterface(iid.b, &out) != kResultOk) return nullptr;
    return static_cast<T*>(out);
}

// The arrangement for the engine's channels: what the plug-in accepts
// first among the likely ones, else what it says it has if that is mono
// or stereo.
bool arrange(Instance* instance) {
    IComponent* component = instance->component;
    instance->inputBuses = component->getBusCount(kAudio, kInput);
    instance->outputBuses = component->getBusCount(kAudio, kOutput);
    if (instance->inputBuses < 0 || instance->inputBuses > 16 || instance->outputBuses < 1 ||
        instance->outputBuses > 16)
        return false;
    SpeakerArrangement ins[16], outs[16];
    for (int32_t b = 0; b < instance->inputBuses; ++b)
        if (instance->processor->getBusArrangement(kInput, b, ins[b]) != kResultOk) ins[b] = 0;
    for (int32_t b = 0; b < instance->outputBuses; ++b)
        if (instance->processor->getBusArrangement(kOutput, b, outs[b]) != kResultOk) outs[b] = 0;
    const SpeakerArrangement wanted = engineChannels == 1 ? kArrMono : kArrStereo;
    const SpeakerArrangement other = engineChannels == 1 ? kArrStereo : kArrMono;
    const SpeakerArrangement tries[4][2] = {{wanted, wanted}, {other, wanted}, {wanted, other}, {other, other}};
    bool accepted = false;
    for (const auto& t : tries) {
        if (instance->inputBuses > 0) ins[0] = t[0];
        outs[0] = t[1];
        if (instance->processor->setBusArrangements(ins, instance->inputBuses, outs, instance->outputBuses) ==
            kResultOk) {
            accepted = true;
            break;
        }
    }
    // Refused every one: the plug-in keeps what it has, if we can feed it.
    SpeakerArrangement in = 0, out = 0;
    if (instance->inputBuses > 0 && instance->processor->getBusArrangement(kInput, 0, in) != kResultOk) in = 0;
    if (instance->processor->getBusArrangement(kOutput, 0, out) != kResultOk) out = 0;
    auto channels = [](SpeakerArrangement a) {
        int32_t n = 0;
        for (; a; a &= a - 1) ++n;
        return n;
    };
    const int32_t inCount = instance->inputBuses > 0 ? channels(in) : 0;
    const int32_t outCount = channels(out);
    if (!accepted && (inCount < 1 || inCount > 2 || outCount < 1 || outCount > 2)) return false;
    if (inCount > 2 || outCount < 1 || outCount > 2) return false;
    instance->inputChannels = inCount;
    instance->outputChannels = outCount;
    component->activateBus(kAudio, kOutput, 0, 1);
    if (instance->inputBuses > 0) component->activateBus(kAudio, kInput, 0, 1);
    return true;
}

// Off the audio thread: stops the plug-in, negotiates the arrangement,
// sets it up for the engine's rate and block and starts it again.
void configure(Instance* instance) {
    holdAudio(instance);
    if (instance->processing) instance->processor->setProcessing(0);
    if (instance->active) instance->component->setActive(0);
    instance->processing = instance->active = false;
    if (!arrange(instance)) return;
    ProcessSetup setup{kRealtime, kSample32, currentBlock(), static_cast<double>(currentRate())};
    if (instance->processor->setupProcessing(setup) != kResultOk) return;
    if (instance->component->setActive(1) != kResultOk) return;
    instance->active = true;
    readLatency(instance);
    if (processingOn) {
        instance->processor->setProcessing(1);  // many plug-ins answer "not implemented"; it still counts
        instance->processing = true;
    }
    // The process call's records point at the instance's own storage.
    ProcessData& d = instance->data;
    d = ProcessData{};
    d.processMode = kRealtime;
    d.symbolicSampleSize = kSample32;
    d.numInputs = instance->inputBuses > 0 ? 1 : 0;
    d.numOutputs = 1;
    instance->inputBus.numChannels = instance->inputChannels;
    instance->inputBus.channelBuffers32 = instance->inputs;
    instance->outputBus.numChannels = instance->outputChannels;
    instance->outputBus.channelBuffers32 = instance->outputs;
    d.inputs = &instance->inputBus;
    d.outputs = &instance->outputBus;
    d.inputParameterChanges = &instance->inputChanges;
    d.outputParameterChanges = &instance->outputChanges;
    d.processContext = &instance->context;
    instance->context = ProcessContext{};
    instance->context.sampleRate = currentRate();
    instance->ready.store(instance->processing);
}

void releaseObjects(Instance* instance) {
    vst3FreeEditorParts(*instance);
    holdAudio(instance);
    if (instance->processing) instance->processor->setProcessing(0);
    if (instance->active) instance->component->setActive(0);
    instance->processing = instance->active = false;
    if (instance->componentPoint && instance->controllerPoint) {
        instance->componentPoint->disconnect(instance->controllerPoint);
        instance->controllerPoint->disconnect(instance->componentPoint);
    }
    if (instance->componentPoint) instance->componentPoint->release();
    if (instance->controllerPoint) instance->controllerPoint->release();
    instance->componentPoint = instance->controllerPoint = nullptr;
    if (instance->controller) {
        instance->controller->setComponentHandler(nullptr);
        if (instance->separateController) instance->controller->terminate();
        instance->controller->release();
    }
    instance->controller = nullptr;
    if (instance->processor) instance->processor->release();
    instance->processor = nullptr;
    if (instance->component) {
        instance->component->terminate();
        instance->component->release();
    }
    instance->component = nullptr;
    moduleClose(instance->module);
    instance->module = nullptr;
}

// The plug-in's current component state copied into its controller, as a
// host does after creating both halves and after loading a state.
void syncController(Instance* instance) {
    if (!instance->controller) return;
    MemoryStream* stream = MemoryStream::create();
    if (!stream) return;
    if (instance->component->getState(stream) == kResultOk) {
        stream->rewind();
        instance->controller->setComponentState(stream);
    }
    stream->release();
}

// Creates, initialises and connects both halves of the class `cid` of the
// module at `path`, and sets them up. Null when any required step fails.
Instance* createInstance(const char* path, const uint8_t* cid, const char* name) {
    auto* instance = new (std::nothrow) Instance();
    if (!instance) return nullptr;
    std::snprintf(instance->path, sizeof instance->path, "%s", path);
    std::memcpy(instance->effect.cid, cid, 16);
    std::snprintf(instance->effect.name, sizeof instance->effect.name, "%s", name);
    instance->module = moduleOpen(path);
    IPluginFactory* factory = instance->module ? instance->module->factory : nullptr;
    void* object = nullptr;
    if (!factory ||
        factory->createInstance(reinterpret_cast<const char*>(cid), reinterpret_cast<const char*>(kIComponentIid.b),
                                &object) != kResultOk ||
        !object) {
        releaseObjects(instance);
        delete instance;
        return nullptr;
    }
    instance->component = static_cast<IComponent*>(object);
    if (instance->component->initialize(hostApplication()) != kResultOk) {
        instance->component->release();
        instance->component = nullptr;
        releaseObjects(instance);
        delete instance;
        return nullptr;
    }
    instance->processor = query<IAudioProcessor>(instance->component, kIAudioProcessorIid);
    if (!instance->processor || instance->processor->canProcessSampleSize(kSample32) != kResultOk) {
        releaseObjects(instance);
        delete instance;
        return nullptr;
    }
    // The controller: the component itself, or a class of its own.
    instance->controller = query<IEditController>(instance->component, kIEditControllerIid);
    if (!instance->controller) {
        uint8_t controllerId[16];
        void* controller = nullptr;
        if (instance->component->getControllerClassId(controllerId) == kResultOk &&
            factory->createInstance(reinterpret_cast<const char*>(controllerId),
                                    reinterpret_cast<const char*>(kIEditControllerIid.b), &controller) == kResultOk &&
            controller) {
            instance->controller = static_cast<IEditController*>(controller);
            if (instance->controller->initialize(hostApplication()) == kResultOk) {
                instance->separateController = true;
            } else {
                instance->controller->release();
                instance->controller = nullptr;
            }
        }
        if (instance->controller) {
            instance->componentPoint = query<IConnectionPoint>(instance->component, kIConnectionPointIid);
            instance->controllerPoint = query<IConnectionPoint>(instance->controller, kIConnectionPointIid);
            if (instance->componentPoint && instance->controllerPoint) {
                instance->componentPoint->connect(instance->controllerPoint);
                instance->controllerPoint->connect(instance->componentPoint);
            }
        }
    }
    if (instance->controller) {
        instance->controller->setComponentHandler(&instance->handler);
        if (instance->separateController) syncController(instance);
    }
    configure(instance);
    if (!instance->active) {
        releaseObjects(instance);
        delete instance;
        return nullptr;
    }
    vst3BuildProgramMenu(*instance);
    vst3RefreshParameters(*instance);
    appendInstance(instances, instance);
    return instance;
}

void unlinkAndFree(Instance* instance) {
    unlinkInstance(instances, instance);
    releaseObjects(instance);
    std::free(instance->userData);
    delete instance;
}

void destroyAll() {
    while (instances) unlinkAndFree(instances);
}

intptr_t replaceInstance(Instance* instance, intptr_t index) {
    Available* entry = availableAt(index);
    if (!entry) return 0;
    Instance* fresh = createInstance(entry->path, entry->effect.cid, entry->effect.name);
    if (!fresh) return 0;
    // The fresh record takes the old one's place in the list, and the old
    // handle (the chain's) now names the fresh plug-in: the records swap
    // their plug-in objects.
    unlinkInstance(instances, fresh);
    releaseObjects(instance);
    vst3FreeEditorParts(*fresh);
    std::free(instance->userData);
    instance->userData = nullptr;
    instance->userSize = 0;
    instance->module = fresh->module;
    std::memcpy(instance->path, fresh->path, sizeof instance->path);
    instance->effect = fresh->effect;
    instance->component = fresh->component;
    instance->processor = fresh->processor;
    instance->controller = fresh->controller;
    instance->separateController = fresh->separateController;
    instance->componentPoint = fresh->componentPoint;
    instance->controllerPoint = fresh->controllerPoint;
    if (instance->controller) instance->controller->setComponentHandler(&instance->handler);
    fresh->module = nullptr;
    fresh->component = nullptr;
    fresh->processor = nullptr;
    fresh->controller = nullptr;
    fresh->componentPoint = fresh->controllerPoint = nullptr;
    fresh->active = fresh->processing = false;
    delete fresh;
    configure(instance);
    vst3BuildProgramMenu(*instance);
    vst3RefreshParameters(*instance);
    return instance->active ? 1 : 0;
}


// An edit in the plug-in's own editor: on the UI thread the host hears the
// parameter's index; a plug-in editing from a thread of its own is not
// reported (the host is never called off the UI thread).
void reportEdit(Instance& instance, ParamID id) {
    if (!hostCallback || platformThreadId() != uiThread.load(std::memory_order_relaxed) ||
        !instance.controller || !findInstance(instances, reinterpret_cast<intptr_t>(&instance)))
        return;
    const int32_t n = instance.controller->getParameterCount();
    for (int32_t i = 0; i < n && i < (1 << 20); ++i) {
        ParameterInfo info;
        std::memset(&info, 0, sizeof info);
        if (instance.controller->getParameterInfo(i, info) == kResultOk && info.id == id) {
            hostCallback(HC_PARAMETER_CHANGED, reinterpret_cast<intptr_t>(&instance), i);
            return;
        }
    }
}

// UI thread: what the plug-ins reported from the audio thread goes to
// their controllers.
void idle() {
    for (Instance* i = instances; i; i = i->next) {
        ParamPoint point;
        while (i->fromAudio.pop(point))
            if (i->controller) i->controller->setParamNormalized(point.id, point.value);
        // The generic editor follows the plug-in's own changes.
        if (i->editor.client && !i->editor.viewOpen && vst3RefreshParameters(*i)) editorRepaint(i->editor);
    }
}

// UI thread: the values waiting for the processor reach it now. A running
// block takes them at its start; without one (live input stopped, the
// plug-in bypassed, or no block came for a while) they go in a process
// call of one silent frame whose output is thrown away, since a plug-in
// reads its parameter changes only in process.
void deliverParameters(Instance* instance) {
    if (instance->toAudio.empty()) return;
    if (instance->ready.load() && !instance->bypassed.load(std::memory_order_relaxed)) {
        for (int waited = 0; waited < 200 && !instance->toAudio.empty(); ++waited)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        if (instance->toAudio.empty()) return;
    }
    const bool wasReady = holdAudio(instance);
    if (instance->active) {
        const bool wasProcessing = instance->processing;
        if (!wasProcessing) instance->processor->setProcessing(1);
        instance->inputChanges.clear();
        instance->outputChanges.clear();
        ParamPoint point;
        while (instance->toAudio.pop(point)) {
            if (ParamQueue* queue = instance->inputChanges.queueFor(point.id)) {
                int32_t index = 0;
                queue->addPoint(0, point.value, index);
            }
        }
        float in[2][1] = {{0.0f}, {0.0f}}, out[2][1] = {{0.0f}, {0.0f}};
        float* ins[2] = {in[0], in[1]};
        float* outs[2] = {out[0], out[1]};
        const uint64_t silent = instance->inputChannels == 2 ? 3u : 1u;
        AudioBusBuffers inBus{instance->inputChannels, silent, ins}, outBus{instance->outputChannels, 0, outs};
        ProcessData d = instance->data;
        d.numSamples = 1;
        d.inputs = instance->inputBuses > 0 ? &inBus : nullptr;
        d.outputs = &outBus;
        instance->processor->process(d);
        instance->outputChanges.lastValues([&](ParamID id, ParamValue value) {
            if (instance->controller) instance->controller->setParamNormalized(id, value);
        });
        if (!wasProcessing) instance->processor->setProcessing(0);
    }
    if (wasReady) instance->ready.store(true);
}

// ---- the state blob ----

// A stream's bytes, or none; `size` set to the count.
MemoryStream* capture(FUnknown* half, bool component) {
    MemoryStream* stream = MemoryStream::create();
    if (!stream) return nullptr;
    const tresult result = component ? static_cast<IComponent*>(half)->getState(stream)
                                     : static_cast<IEditController*>(half)->getState(stream);
    if (result != kResultOk && result != kNotImplemented) {
        stream->release();
        return nullptr;
    }
    return stream;
}

// "VST3WRAP", then per instance: "PLUG", u16 path length, path, the class
// id (16 bytes, in the Windows layout), u32 component state size, component state, u32 controller
// state size, controller state, "DATA", u32 user data size, user data.
intptr_t saveState(intptr_t out) {
    struct Part {
        MemoryStream* component;
        MemoryStream* controller;
    };
    for (Instance* i = instances; i; i = i->next) deliverParameters(i);
    int32_t count = countInstances(instances);
    Part* parts = count ? static_cast<Part*>(std::calloc(static_cast<size_t>(count), sizeof(Part))) : nullptr;
    if (count && !parts) return 0;
    uint64_t total = kBlobTagLength;
    bool ok = true;
    int32_t k = 0;
    for (Instance* i = instances; i; i = i->next, ++k) {
        parts[k].component = capture(i->component, true);
        parts[k].controller = i->separateController ? capture(i->controller, false) : nullptr;
        if (!parts[k].component) ok = false;
        total += 6 + std::strlen(i->path) + 16 + 4 + (parts[k].component ? parts[k].component->size() : 0) + 4 +
                 (parts[k].controller ? parts[k].controller->size() : 0) + 8 + i->userSize;
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
            uidInFileOrder(i->effect.cid, p);
            p += 16;
            for (MemoryStream* s : {parts[k].component, parts[k].controller}) {
                const uint32_t size = s ? static_cast<uint32_t>(s->size()) : 0;
                putU32(p, size);
                if (size) std::memcpy(p + 4, s->data(), size);
                p += 4 + size;
            }
            std::memcpy(p, "DATA", 4);
            putU32(p + 4, i->userSize);
            if (i->userSize) std::memcpy(p + 8, i->userData, i->userSize);
            p += 8 + i->userSize;
        }
    }
    for (k = 0; k < count; ++k) {
        if (parts[k].component) parts[k].component->release();
        if (parts[k].controller) parts[k].controller->release();
    }
    std::free(parts);
    if (!savedState) return 0;
    if (out) *reinterpret_cast<uint8_t**>(out) = savedState;
    return static_cast<intptr_t>(total);
}

// The component state, then the same into the controller, then the
// controller's own: the order plug-ins expect.
void restoreState(Instance* instance, const uint8_t* component, uint32_t componentSize, const uint8_t* controller,
                  uint32_t controllerSize) {
    const bool wasReady = holdAudio(instance);
    if (MemoryStream* stream = MemoryStream::reading(component, componentSize)) {
        instance->component->setState(stream);
        stream->rewind();
        if (instance->separateController) instance->controller->setComponentState(stream);
        stream->release();
    }
    if (instance->separateController && controllerSize > 0) {
        if (MemoryStream* stream = MemoryStream::reading(controller, controllerSize)) {
            instance->controller->setState(stream);
            stream->release();
        }
    }
    readLatency(instance);
    if (wasReady) instance->ready.store(true);
    vst3RefreshParameters(*instance);
}

// The module a blob names, or the scanned module with the same class when
// it has moved.
const char* findModule(const char* path, const uint8_t* cid) {
    if (isLocalModulePath(path, ".vst3") && (platformIsDirectory(path) || platformFileExists(path))) return path;
    for (Available* a = availableList; a; a = a->next)
        if (!a->bits32 && std::memcmp(a->effect.cid, cid, 16) == 0) return a->path;
    return nullptr;
}

const char* classNameIn(const char* path, const uint8_t* cid) {
    for (Available* a = availableList; a; a = a->next)
        if (std::memcmp(a->effect.cid, cid, 16) == 0 && std::strcmp(a->path, path) == 0) return a->effect.name;
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
        if (n < 6 || n >= kPathSize || end - at < n + 16 + 4) return 0;
        char path[kPathSize];
        std::memcpy(path, blob + at, n);
        path[n] = '\0';
        at += n;
        uint8_t cid[16];
        uidInFileOrder(blob + at, cid);
        at += 16;
        const uint32_t componentSize = getU32(blob + at);
        at += 4;
        if (componentSize > end - at) return 0;
        const uint8_t* component = blob + at;
        at += componentSize;
        if (end - at < 4) return 0;
        const uint32_t controllerSize = getU32(blob + at);
        at += 4;
        if (controllerSize > end - at) return 0;
        const uint8_t* controller = blob + at;
        at += controllerSize;
        if (end - at < 8 || std::memcmp(blob + at, "DATA", 4) != 0) return 0;
        const uint32_t userSize = getU32(blob + at + 4);
        at += 8;
        if (userSize > end - at) return 0;
        const uint8_t* user = blob + at;
        at += userSize;

        // A path with a NUL inside is not the path that was saved.
        const char* found = std::strlen(path) == n ? findModule(path, cid) : nullptr;
        const char* name = found ? classNameIn(found, cid) : nullptr;
        Instance* instance = found ? createInstance(found, cid, name ? name : "VST3 Effect") : nullptr;
        if (!instance) {
            char text[kPathSize + 32];
            std::snprintf(text, sizeof text, "Unable to load plugin:\n%s", path);
            platformMessageBox(text, kWrapperName, kMessageIconInformation);
            continue;
        }
        restoreState(instance, component, componentSize, controller, controllerSize);
        if (userSize > 0) storeUserData(*instance, user, static_cast<intptr_t>(userSize));
    }
    return 1;
}


// The controller's description of parameter `index`; false without one.
bool parameterInfo(Instance* instance, int32_t index, ParameterInfo& info) {
    if (!instance->controller || index < 0 || index >= instance->controller->getParameterCount()) return false;
    std::memset(&info, 0, sizeof info);
    return instance->controller->getParameterInfo(index, info) == kResultOk;
}

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
            uiThread.store(platformThreadId(), std::memory_order_relaxed);
            if (!openForHost(hostCallback, reinterpret_cast<const char*>(a1), applicationDirectory,
                             sizeof applicationDirectory, kVersionCaption))
                return 0;
            return editorWindowsOpen(kVst3EditorClasses) ? 1 : 0;
        case WD_REFRESH_LIST:
            return refreshList();
        case WD_SET_PROCESSING:
            processingOn = a2 != 0;
            for (Instance* i = instances; i; i = i->next) {
                if (!i->active || i->processing == processingOn) continue;
                holdAudio(i);
                i->processor->setProcessing(processingOn ? 1 : 0);
                i->processing = processingOn;
                i->ready.store(processingOn);
            }
            return 1;
        case WD_CREATE_INSTANCE: {
            Available* entry = availableAt(a2);
            if (!entry || !a1) return 0;
            instance = createInstance(entry->path, entry->effect.cid, entry->effect.name);
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
            vst3RefreshParameters(*instance);
            return editorShow(instance->editor, instance->effect.name, reinterpret_cast<void*>(a2));
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
            freeAvailable(availableList);
            scratch.allocate(0);
            editorWindowsClose();
            callHost(HC_WRAPPER_CLOSED, a1, 0);
            return 1;
        case WD_SET_CHANNELS: {
            const int32_t channels = a2 == 1 ? 1 : 2;
            if (channels == engineChannels) return 1;
            engineChannels = channels;
            for (Instance* i = instances; i; i = i->next) configure(i);
            return 1;
        }
        case WD_SET_SAMPLE_RATE: {
            const int32_t rate = static_cast<int32_t>(a2);
            // A rate of 0 only says the engine has stopped.
            if (rate <= 0 || rate > 1000000 || rate == sampleRate.load(std::memory_order_relaxed)) return 1;
            sampleRate.store(rate, std::memory_order_relaxed);
            for (Instance* i = instances; i; i = i->next) configure(i);
            return 1;
        }
        case WD_SET_BLOCK_SIZE: {
            const int32_t frames = a2 > 0 && a2 <= kMaxBlock ? static_cast<int32_t>(a2) : 0;
            if (frames == blockSize.load(std::memory_order_relaxed) && frames == scratch.frames) return 1;
            if (frames > 0 && frames != blockSize.load(std::memory_order_relaxed)) {
                blockSize.store(frames, std::memory_order_relaxed);
                for (Instance* i = instances; i; i = i->next) configure(i);
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
            // Asked anew: a plug-in's processor takes a new setting at its
            // next block, and may then delay by more or less.
            instance = findInstance(instances, a1);
            if (!instance || !a2) return 0;
            if (instance->active) readLatency(instance);
            *reinterpret_cast<int32_t*>(a2) = instance->latency.load(std::memory_order_relaxed);
            return 1;
        case WD_IDLE:
            idle();
            return 1;
        case WD_GET_PARAMETER_COUNT: {
            instance = findInstance(instances, a1);
            if (!instance || !a2) return 0;
            const int32_t n = instance->controller ? instance->controller->getParameterCount() : 0;
            *reinterpret_cast<int32_t*>(a2) = n > 0 && n < (1 << 20) ? n : 0;
            return 1;
        }
        case WD_GET_PARAMETER:
        case WD_SET_PARAMETER: {
            instance = findInstance(instances, a1);
            auto* p = reinterpret_cast<WrapperParameter*>(a2);
            ParameterInfo info;
            if (!instance || !p || !parameterInfo(instance, p->index, info)) return 0;
            if (opcode == WD_SET_PARAMETER) {
                const double value = p->value >= 0.0 && p->value <= 1.0 ? p->value : (p->value > 1.0 ? 1.0 : 0.0);
                instance->controller->setParamNormalized(info.id, value);
                vst3SendToAudio(*instance, info.id, value);
                if (vst3RefreshParameters(*instance)) editorRepaint(instance->editor);
                return 1;
            }
            p->value = instance->controller->getParamNormalized(info.id);
            narrowName(info.title, 128, p->name, sizeof p->name);
            String128 text{};
            if (instance->controller->getParamStringByValue(info.id, p->value, text) == kResultOk)
                narrowName(text, 128, p->display, sizeof p->display);
            else
                std::snprintf(p->display, sizeof p->display, "%.3f", p->value);
            return 1;
        }
        default:
            return 0;
    }
}

namespace {
void runBlock(Instance* instance, float* left, float* right);
}  // namespace

// Audio thread: the block through the instance's plug-in, adapting its
// channel counts to the engine's.
WRAPPER_EXPORT void WRAPPER_CALL processPlugin(intptr_t handle, float* left, float* right) {
    auto* instance = reinterpret_cast<Instance*>(handle);
    if (!instance || !left || instance->bypassed.load(std::memory_order_relaxed) || scratch.frames <= 0) return;
    // Entering needs the full fence against holdAudio's clearing of
    // `ready`; leaving only has to publish the block's work to it.
    instance->busy.store(true);
    if (instance->ready.load()) runBlock(instance, left, right);
    instance->busy.store(false, std::memory_order_release);
}

namespace {

void runBlock(Instance* instance, float* left, float* right) {
    const int32_t n = scratch.frames;

    // The user's edits since the last block, at its start.
    instance->inputChanges.clear();
    ParamPoint point;
    while (instance->toAudio.pop(point)) {
        if (ParamQueue* queue = instance->inputChanges.queueFor(point.id)) {
            int32_t index = 0;
            queue->addPoint(0, point.value, index);
        }
    }
    instance->outputChanges.clear();

    // Inputs: the engine's channels, a mono mix for a mono plug-in, the one
    // channel twice for a stereo plug-in in a mono engine.
    if (instance->inputChannels == 1) {
        if (right) {
            for (int32_t i = 0; i < n; ++i) scratch.mono[i] = left[i] + right[i];
            instance->inputs[0] = scratch.mono;
        } else {
            instance->inputs[0] = left;
        }
    } else {
        instance->inputs[0] = left;
        instance->inputs[1] = right ? right : left;
    }
    instance->outputs[0] = scratch.left;
    instance->outputs[1] = scratch.right;
    bool silent = true;
    for (int32_t c = 0; c < instance->inputChannels && silent; ++c)
        for (int32_t i = 0; i < n; ++i)
            if (instance->inputs[c][i] != 0.0f) {
                silent = false;
                break;
            }
    const uint64_t allChannels = instance->inputChannels == 2 ? 3u : 1u;
    instance->inputBus.silenceFlags = silent ? allChannels : 0;
    instance->outputBus.silenceFlags = 0;

    ProcessContext& context = instance->context;
    context.state = ProcessContext::kPlaying | ProcessContext::kTempoValid | ProcessContext::kContTimeValid;
    context.sampleRate = static_cast<double>(currentRate());
    context.tempo = tempo.load(std::memory_order_relaxed);
    context.timeSigNumerator = 4;
    context.timeSigDenominator = 4;

    instance->data.numSamples = n;
    if (instance->processor->process(instance->data) != kResultOk) {
        context.projectTimeSamples += n;
        context.continousTimeSamples += n;
        return;
    }
    context.projectTimeSamples += n;
    context.continousTimeSamples += n;

    // What the plug-in reports goes to the UI thread.
    instance->outputChanges.lastValues([&](ParamID id, ParamValue value) { instance->fromAudio.push(id, value); });

    const size_t bytes = static_cast<size_t>(n) * sizeof(float);
    for (int32_t c = 0; c < instance->outputChannels; ++c)
        if (instance->outputBus.silenceFlags & (uint64_t{1} << c)) std::memset(instance->outputs[c], 0, bytes);
    if (right) {
        std::memcpy(left, scratch.left, bytes);
        std::memcpy(right, instance->outputChannels == 2 ? scratch.right : scratch.left, bytes);
    } else if (instance->outputChannels == 2) {
        for (int32_t i = 0; i < n; ++i) left[i] = scratch.left[i] + scratch.right[i];
    } else {
        std::memcpy(left, scratch.left, bytes);
    }
}

}  // namespace

// A VST 3 module for tests: a gain effect whose processor and controller are
// separate objects, the same effect as one object, and a synth class a host
// that keeps effects must skip. Built as a bundle in the build tree
// (testmodules/vst3/QvTestGain.vst3). Compile definitions make the hostile
// variants (testmodules/vst3-hostile/):
//   TVST3_NO_FACTORY   no GetPluginFactory export
//   TVST3_GARBAGE      a factory of 1000000 classes whose records are
//                      unterminated pseudo-random bytes (now and then the
//                      category is a terminated "Audio Module Class")
//   TVST3_FAIL_INIT    one effect class whose initialize always fails
//   TVST3_CRASH        GetPluginFactory writes through a bad pointer
//
// Classes (vst3::makeUid words):
//   "Qv Test Gain"            51765433 4761696E 8A3C51E7 00000001
//       audio component and processor; its controller is the next class
//   "Qv Test Gain Controller" 51765433 43746C72 8A3C51E7 00000002
//   "Qv Test Synth"           51765433 53796E74 8A3C51E7 00000003
//       listed as an instrument; cannot be created
//   "Qv Test Single"          51765433 53676C65 8A3C51E7 00000004
//       component, processor and controller in one object
//   "Qv Test Fail Init"       51765433 4661696C 8A3C51E7 00000005
//       (TVST3_FAIL_INIT only)
//
// Parameters: 100 "Gain" (gain 2 * v), 101 "Latency" (round(v * 1000)
// samples), 102 "Program" ("Soft", "Unity", "Loud": gain values 0.25, 0.5,
// 1.0), 103 "Peak" (read-only, the output peak of every processed block).
// The component's state is "QVT3", u32 version 1, f64 gain value, f64
// latency value (normalized, little-endian, 24 bytes); the controller's own
// state is "QVTC", u32 program index.
//
// The environment variable QV_TVST3 switches behaviour at run time; it may
// hold several words:
//   fail-initialize  the component's initialize fails
//   refuse-stereo    setBusArrangements accepts only mono in and out
//   damaged-state    the component's getState writes 7 garbage bytes
//   resize-on-open   the editor asks its frame for 320 x 240 when attached
//   no-editor        createView answers null
//   fast-math        the entry function sets flush-to-zero and
//                    denormals-are-zero in the caller's MXCSR, as the
//                    start-up code of a library linked with -ffast-math does
//
// The editor (Windows) is a child window that shows the gain; a left click
// at x sets "Gain" to x / width, a right click "Latency", each as a
// plug-in's own interface does: through the component handler (beginEdit,
// performEdit, endEdit) with the controller's value set.
//
// Tests load the same library file as the host and read what the host did
// through tvst3Counts and the tvst3Last* functions.
#include <atomic>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#if defined(__x86_64__) || defined(_M_X64)
#include <xmmintrin.h>
#endif

#include "wrappers/vst3/vst3abi.h"

#if defined(_WIN32)
#include <windows.h>
#endif

#if defined(_WIN32)
#define TVST3_EXPORT extern "C" __declspec(dllexport)
#else
#define TVST3_EXPORT extern "C" __attribute__((visibility("default")))
#endif

using namespace vst3;

namespace {

constexpr Uid kGainCid = makeUid(0x51765433, 0x4761696E, 0x8A3C51E7, 0x00000001);
constexpr Uid kControllerCid = makeUid(0x51765433, 0x43746C72, 0x8A3C51E7, 0x00000002);
constexpr Uid kSynthCid = makeUid(0x51765433, 0x53796E74, 0x8A3C51E7, 0x00000003);
constexpr Uid kSingleCid = makeUid(0x51765433, 0x53676C65, 0x8A3C51E7, 0x00000004);
[[maybe_unused]] constexpr Uid kFailInitCid = makeUid(0x51765433, 0x4661696C, 0x8A3C51E7, 0x00000005);

constexpr ParamID kGainId = 100, kLatencyId = 101, kProgramId = 102, kPeakId = 103;
constexpr int kPrograms = 3;
const char* const kProgramNames[kPrograms] = {"Soft", "Unity", "Loud"};
constexpr double kProgramGains[kPrograms] = {0.25, 0.5, 1.0};
constexpr ProgramListID kProgramListId = 1;
constexpr int32_t kStateBytes = 24;
constexpr int32_t kControllerStateBytes = 8;

// ---- what tests read ----

enum Count {
    kModuleInits, kModuleExits, kLiveObjects, kInitializeCalls, kTerminateCalls, kSetupCalls, kActivations,
    kProcessingStarts, kProcessCalls, kLastMaxBlock, kLastSampleRate, kRestartCalls, kCounts
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

// Whether QV_TVST3 holds `word`. Read on every question so a test can
// change it between calls; never on the audio thread. Windows' own
// environment block is read, which both SetEnvironmentVariable and the C
// library's putenv change.
bool switched(const char* word) {
    char value[256];
#if defined(_WIN32)
    const DWORD n = GetEnvironmentVariableA("QV_TVST3", value, sizeof value);
    if (n == 0 || n >= sizeof value) return false;
#else
    const char* text = std::getenv("QV_TVST3");
    if (!text) return false;
    std::snprintf(value, sizeof value, "%s", text);
#endif
    return std::strstr(value, word) != nullptr;
}

// "fast-math": what a library linked with -ffast-math does when it is
// loaded (its start-up code sets FTZ and DAZ on the loading thread).
void fastMathIfSwitched() {
#if defined(__x86_64__) || defined(_M_X64)
    if (switched("fast-math")) _mm_setcsr(_mm_getcsr() | 0x8040u);
#endif
}

void copyText(char* out, size_t size, const char* text) { std::snprintf(out, size, "%s", text); }

void copyText16(char16* out, size_t size, const char* text) {
    size_t i = 0;
    for (; i + 1 < size && text[i]; ++i) out[i] = static_cast<char16>(static_cast<unsigned char>(text[i]));
    out[i] = 0;
}

// A host's string in ASCII, at most `size` - 1 characters.
void narrow(char* out, size_t size, const char16* text) {
    size_t i = 0;
    for (; text && i + 1 < size && text[i]; ++i) out[i] = text[i] < 128 ? static_cast<char>(text[i]) : '?';
    out[i] = 0;
}

double clampUnit(double v) { return v > 1.0 ? 1.0 : v >= 0.0 ? v : 0.0; }
int32_t latencySamples(double v) { return static_cast<int32_t>(std::lround(clampUnit(v) * 1000.0)); }
int programIndex(double v) {
    const int k = static_cast<int>(clampUnit(v) * kPrograms);
    return k < kPrograms ? k : kPrograms - 1;
}
int32_t channelCount(SpeakerArrangement arrangement) {
    int32_t n = 0;
    for (; arrangement; arrangement &= arrangement - 1) ++n;
    return n;
}

// Reads up to `size` bytes, however the stream splits them; the count read.
int32_t readUpTo(IBStream* stream, uint8_t* out, int32_t size) {
    int32_t got = 0;
    while (got < size) {
        int32_t n = 0;
        if (stream->read(out + got, size - got, &n) != kResultOk || n <= 0 || n > size - got) break;
        got += n;
    }
    return got;
}

bool writeAll(IBStream* stream, uint8_t* bytes, int32_t size) {
    int32_t written = 0;
    return stream->write(bytes, size, &written) == kResultOk && written == size;
}

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

// The component's state. A damaged one (short, wrong magic or version,
// values outside 0..1 or not numbers) is refused as a whole.
bool readComponentState(IBStream* stream, double& gain, double& latency) {
    uint8_t bytes[kStateBytes];
    if (!stream || readUpTo(stream, bytes, kStateBytes) != kStateBytes) return false;
    if (std::memcmp(bytes, "QVT3", 4) != 0 || getU32(bytes + 4) != 1) return false;
    const double g = getF64(bytes + 8), l = getF64(bytes + 16);
    if (!(g >= 0.0 && g <= 1.0) || !(l >= 0.0 && l <= 1.0)) return false;
    gain = g;
    latency = l;
    return true;
}

// Sends a message made by the host (its IHostApplication makes IMessage
// objects) to `peer`; nothing when the host cannot make one. UI thread.
void sendValue(FUnknown* context, IConnectionPoint* peer, FIDString id, double value) {
    if (!context || !peer) return;
    IHostApplication* host = nullptr;
    if (context->queryInterface(kIHostApplicationIid.b, reinterpret_cast<void**>(&host)) != kResultOk || !host) return;
    Uid cid = kIMessageIid, iid = kIMessageIid;
    void* made = nullptr;
    if (host->createInstance(cid.b, iid.b, &made) == kResultOk && made) {
        auto* message = static_cast<IMessage*>(made);
        message->setMessageID(id);
        if (IAttributeList* attributes = message->getAttributes()) attributes->setFloat("value", value);
        peer->notify(message);
        message->release();
    }
    host->release();
}

// Reads a message's "value" if its id is `id`.
bool receivedValue(IMessage* message, FIDString id, double& value) {
    if (!message) return false;
    FIDString got = message->getMessageID();
    if (!got || std::strcmp(got, id) != 0) return false;
    IAttributeList* attributes = message->getAttributes();
    return attributes && attributes->getFloat("value", value) == kResultOk;
}

template <class T>
void setReference(T*& slot, T* value) {
    if (value) value->addRef();
    if (slot) slot->release();
    slot = value;
}

class Component;
class Controller;
#if defined(_WIN32)
IPlugView* makeView(Controller* controller);
#endif

// ---- the edit controller ----

// Alone (class 2) it counts itself as a live object; inside the single
// object it is that object's controller face and shares its count and
// identity. Every method runs on the UI thread.
class Controller final : public IEditController, public IConnectionPoint, public IUnitInfo {
public:
    explicit Controller(Component* owner) : owner_(owner) {
        if (!owner_) bump(kLiveObjects);
    }
    ~Controller() {
        dropReferences();
        if (!owner_) drop(kLiveObjects);
    }

    void dropReferences() {
        setReference<FUnknown>(context_, nullptr);
        setReference<IComponentHandler>(handler_, nullptr);
        setReference<IConnectionPoint>(peer_, nullptr);
    }
    // The single object's component sets the values its state holds.
    void setComponentValues(double gain, double latency) {
        values_[0] = gain;
        values_[1] = latency;
    }

    tresult VST3_CALL queryInterface(const uint8_t* iid, void** object) override;
    uint32_t VST3_CALL addRef() override;
    uint32_t VST3_CALL release() override;

    // IPluginBase
    tresult VST3_CALL initialize(FUnknown* context) override;
    tresult VST3_CALL terminate() override;

    // IEditController
    tresult VST3_CALL setComponentState(IBStream* state) override {
        double gain, latency;
        if (!readComponentState(state, gain, latency)) return kResultFalse;
        setComponentValues(gain, latency);
        return kResultOk;
    }
    tresult VST3_CALL setState(IBStream* state) override {
        uint8_t bytes[kControllerStateBytes];
        if (!state || readUpTo(state, bytes, kControllerStateBytes) != kControllerStateBytes) return kResultFalse;
        if (std::memcmp(bytes, "QVTC", 4) != 0 || getU32(bytes + 4) >= kPrograms) return kResultFalse;
        values_[2] = getU32(bytes + 4) / double(kPrograms - 1);
        return kResultOk;
    }
    tresult VST3_CALL getState(IBStream* state) override {
        if (!state) return kInvalidArgument;
        uint8_t bytes[kControllerStateBytes];
        std::memcpy(bytes, "QVTC", 4);
        putU32(bytes + 4, static_cast<uint32_t>(programIndex(values_[2])));
        return writeAll(state, bytes, kControllerStateBytes) ? kResultOk : kResultFalse;
    }
    int32_t VST3_CALL getParameterCount() override { return 4; }
    tresult VST3_CALL getParameterInfo(int32_t index, ParameterInfo& info) override {
        if (index < 0 || index >= 4) return kInvalidArgument;
        static const char* const titles[4] = {"Gain", "Latency", "Program", "Peak"};
        static const char* const units[4] = {"x", "samples", "", ""};
        static const int32_t steps[4] = {0, 0, kPrograms - 1, 0};
        static const double defaults[4] = {0.5, 0.0, 0.5, 0.0};
        static const int32_t flags[4] = {ParameterInfo::kCanAutomate, 0,
                                         ParameterInfo::kIsProgramChange | ParameterInfo::kIsList,
                                         ParameterInfo::kIsReadOnly};
        info = ParameterInfo{};
        info.id = kGainId + static_cast<ParamID>(index);
        copyText16(info.title, 128, titles[index]);
        copyText16(info.shortTitle, 128, titles[index]);
        copyText16(info.units, 128, units[index]);
        info.stepCount = steps[index];
        info.defaultNormalizedValue = defaults[index];
        info.unitId = kRootUnitId;
        info.flags = flags[index];
        return kResultOk;
    }
    tresult VST3_CALL getParamStringByValue(ParamID id, ParamValue v, char16* string) override {
        if (!string) return kInvalidArgument;
        char text[32];
        switch (id) {
            case kGainId: std::snprintf(text, sizeof text, "%.2f", 2.0 * clampUnit(v)); break;
            case kLatencyId: std::snprintf(text, sizeof text, "%d", static_cast<int>(latencySamples(v))); break;
            case kProgramId: copyText(text, sizeof text, kProgramNames[programIndex(v)]); break;
            case kPeakId: std::snprintf(text, sizeof text, "%.3f", clampUnit(v)); break;
            default: return kInvalidArgument;
        }
        copyText16(string, 128, text);
        return kResultOk;
    }
    tresult VST3_CALL getParamValueByString(ParamID id, char16* string, ParamValue& v) override {
        if (!string) return kInvalidArgument;
        char text[128];
        narrow(text, sizeof text, string);
        if (id == kProgramId) {
            for (int k = 0; k < kPrograms; ++k)
                if (std::strcmp(text, kProgramNames[k]) == 0) {
                    v = k / double(kPrograms - 1);
                    return kResultOk;
                }
            return kResultFalse;
        }
        char* end = nullptr;
        const double plain = std::strtod(text, &end);
        if (end == text || !std::isfinite(plain)) return kResultFalse;
        if (id != kGainId && id != kLatencyId && id != kPeakId) return kInvalidArgument;
        v = plainParamToNormalized(id, plain);
        return kResultOk;
    }
    ParamValue VST3_CALL normalizedParamToPlain(ParamID id, ParamValue v) override {
        switch (id) {
            case kGainId: return 2.0 * clampUnit(v);
            case kLatencyId: return latencySamples(v);
            case kProgramId: return programIndex(v);
            default: return clampUnit(v);
        }
    }
    ParamValue VST3_CALL plainParamToNormalized(ParamID id, ParamValue plain) override {
        switch (id) {
            case kGainId: return clampUnit(plain / 2.0);
            case kLatencyId: return clampUnit(plain / 1000.0);
            case kProgramId: return clampUnit(plain / (kPrograms - 1));
            default: return clampUnit(plain);
        }
    }
    ParamValue VST3_CALL getParamNormalized(ParamID id) override {
        return id >= kGainId && id <= kPeakId ? values_[id - kGainId] : 0.0;
    }
    tresult VST3_CALL setParamNormalized(ParamID id, ParamValue value) override;
    // The editor's edit of one parameter, told to the host as a gesture.
    void editFromView(ParamID id, ParamValue value) {
        if (handler_) handler_->beginEdit(id);
        setParamNormalized(id, value);
        if (handler_) {
            handler_->performEdit(id, getParamNormalized(id));
            handler_->endEdit(id);
        }
    }
    tresult VST3_CALL setComponentHandler(IComponentHandler* handler) override {
        setReference(handler_, handler);
        return kResultOk;
    }
    IPlugView* VST3_CALL createView(FIDString name) override {
        if (!name || std::strcmp(name, kEditorViewType) != 0 || switched("no-editor")) return nullptr;
#if defined(_WIN32)
        return makeView(this);
#else
        return nullptr;  // no windows in the native build
#endif
    }

    // IConnectionPoint
    tresult VST3_CALL connect(IConnectionPoint* other) override {
        if (!other) return kInvalidArgument;
        if (peer_) return kResultFalse;
        setReference(peer_, other);
        return kResultOk;
    }
    tresult VST3_CALL disconnect(IConnectionPoint* other) override {
        if (!other || other != peer_) return kInvalidArgument;
        setReference<IConnectionPoint>(peer_, nullptr);
        return kResultOk;
    }
    tresult VST3_CALL notify(IMessage* message) override {
        double value;
        if (!receivedValue(message, "gain", value) || !(value >= 0.0 && value <= 1.0)) return kResultFalse;
        values_[0] = value;
        return kResultOk;
    }

    // IUnitInfo: the root unit with one program list.
    int32_t VST3_CALL getUnitCount() override { return 1; }
    tresult VST3_CALL getUnitInfo(int32_t index, UnitInfo& info) override {
        if (index != 0) return kInvalidArgument;
        info = UnitInfo{};
        info.id = kRootUnitId;
        info.parentUnitId = kNoParentUnitId;
        copyText16(info.name, 128, "Root");
        info.programListId = kProgramListId;
        return kResultOk;
    }
    int32_t VST3_CALL getProgramListCount() override { return 1; }
    tresult VST3_CALL getProgramListInfo(int32_t index, ProgramListInfo& info) override {
        if (index != 0) return kInvalidArgument;
        info = ProgramListInfo{};
        info.id = kProgramListId;
        copyText16(info.name, 128, "Programs");
        info.programCount = kPrograms;
        return kResultOk;
    }
    tresult VST3_CALL getProgramName(ProgramListID listId, int32_t index, char16* name) override {
        if (listId != kProgramListId || index < 0 || index >= kPrograms || !name) return kInvalidArgument;
        copyText16(name, 128, kProgramNames[index]);
        return kResultOk;
    }
    tresult VST3_CALL getProgramInfo(ProgramListID, int32_t, const char*, char16*) override { return kResultFalse; }
    tresult VST3_CALL hasProgramPitchNames(ProgramListID, int32_t) override { return kResultFalse; }
    tresult VST3_CALL getProgramPitchName(ProgramListID, int32_t, int16_t, char16*) override { return kResultFalse; }
    UnitID VST3_CALL getSelectedUnit() override { return kRootUnitId; }
    tresult VST3_CALL selectUnit(UnitID id) override { return id == kRootUnitId ? kResultOk : kInvalidArgument; }
    tresult VST3_CALL getUnitByBus(MediaType, BusDirection, int32_t, int32_t, UnitID& id) override {
        id = kRootUnitId;
        return kResultOk;
    }
    tresult VST3_CALL setUnitProgramData(int32_t, int32_t, IBStream*) override { return kNotImplemented; }

private:
    std::atomic<uint32_t> refs_{1};
    Component* owner_;
    bool initialized_ = false;
    FUnknown* context_ = nullptr;
    IComponentHandler* handler_ = nullptr;
    IConnectionPoint* peer_ = nullptr;
    // Normalized values of 100..103.
    double values_[4] = {0.5, 0.0, 0.5, 0.0};
};

// ---- the audio component and processor ----

enum class Kind { kGain, kSingle, kFailInit };

class Component final : public IComponent, public IAudioProcessor, public IConnectionPoint {
public:
    explicit Component(Kind kind) : kind_(kind) {
        bump(kLiveObjects);
        if (kind_ != Kind::kGain) face_ = new Controller(this);
    }
    ~Component() {
        dropReferences();
        delete face_;
        drop(kLiveObjects);
    }

    tresult VST3_CALL queryInterface(const uint8_t* iid, void** object) override {
        if (!object) return kInvalidArgument;
        *object = nullptr;
        if (sameUid(iid, kFUnknownIid) || sameUid(iid, kIPluginBaseIid) || sameUid(iid, kIComponentIid))
            *object = static_cast<IComponent*>(this);
        else if (sameUid(iid, kIAudioProcessorIid))
            *object = static_cast<IAudioProcessor*>(this);
        else if (sameUid(iid, kIConnectionPointIid))
            *object = static_cast<IConnectionPoint*>(this);
        else if (face_ && sameUid(iid, kIEditControllerIid))
            *object = static_cast<IEditController*>(face_);
        else if (face_ && sameUid(iid, kIUnitInfoIid))
            *object = static_cast<IUnitInfo*>(face_);
        else
            return kNoInterface;
        addRef();
        return kResultOk;
    }
    uint32_t VST3_CALL addRef() override { return ++refs_; }
    uint32_t VST3_CALL release() override {
        const uint32_t n = --refs_;
        if (n == 0) delete this;
        return n;
    }

    // IPluginBase, UI thread. A second initialize without terminate is refused.
    tresult VST3_CALL initialize(FUnknown* context) override {
        bump(kInitializeCalls);
        if (initialized_) return kResultFalse;
        if (kind_ == Kind::kFailInit || switched("fail-initialize")) return kResultFalse;
        setReference(context_, context);
        initialized_ = true;
        return kResultOk;
    }
    tresult VST3_CALL terminate() override {
        bump(kTerminateCalls);
        initialized_ = false;
        // Terminating breaks every reference cycle a host may leave (a peer it
        // never disconnected), so releasing the last reference frees all.
        dropReferences();
        return kResultOk;
    }

    // IComponent, UI thread.
    tresult VST3_CALL getControllerClassId(uint8_t* classId) override {
        if (!classId) return kInvalidArgument;
        if (kind_ != Kind::kGain) return kResultFalse;
        std::memcpy(classId, kControllerCid.b, 16);
        return kResultOk;
    }
    tresult VST3_CALL setIoMode(int32_t) override { return kResultOk; }
    int32_t VST3_CALL getBusCount(MediaType type, BusDirection dir) override {
        return type == kAudio && (dir == kInput || dir == kOutput) ? 1 : 0;
    }
    tresult VST3_CALL getBusInfo(MediaType type, BusDirection dir, int32_t index, BusInfo& bus) override {
        if (type != kAudio || (dir != kInput && dir != kOutput) || index != 0) return kInvalidArgument;
        bus = BusInfo{};
        bus.mediaType = kAudio;
        bus.direction = dir;
        bus.channelCount = channelCount(arrangement_);
        copyText16(bus.name, 128, dir == kInput ? "Input" : "Output");
        bus.busType = kMain;
        bus.flags = BusInfo::kDefaultActive;
        return kResultOk;
    }
    tresult VST3_CALL getRoutingInfo(RoutingInfo&, RoutingInfo&) override { return kNotImplemented; }
    tresult VST3_CALL activateBus(MediaType type, BusDirection dir, int32_t index, TBool) override {
        return type == kAudio && (dir == kInput || dir == kOutput) && index == 0 ? kResultOk : kInvalidArgument;
    }
    tresult VST3_CALL setActive(TBool state) override {
        if (state) bump(kActivations);
        return kResultOk;
    }
    tresult VST3_CALL setState(IBStream* state) override {
        double gain, latency;
        if (!readComponentState(state, gain, latency)) return kResultFalse;
        gain_.store(gain, std::memory_order_relaxed);
        latency_.store(latency, std::memory_order_relaxed);
        if (face_)
            face_->setComponentValues(gain, latency);
        else
            sendValue(context_, peer_, "gain", gain);
        return kResultOk;
    }
    tresult VST3_CALL getState(IBStream* state) override {
        if (!state) return kInvalidArgument;
        if (switched("damaged-state")) {
            uint8_t garbage[7] = {'Q', 'V', 0xFF, 0x00, 0x13, 0x37, 0x80};
            return writeAll(state, garbage, sizeof garbage) ? kResultOk : kResultFalse;
        }
        uint8_t bytes[kStateBytes];
        std::memcpy(bytes, "QVT3", 4);
        putU32(bytes + 4, 1);
        putF64(bytes + 8, gain_.load(std::memory_order_relaxed));
        putF64(bytes + 16, latency_.load(std::memory_order_relaxed));
        return writeAll(state, bytes, kStateBytes) ? kResultOk : kResultFalse;
    }

    // IAudioProcessor. Everything but process runs on the UI thread while
    // processing is off.
    tresult VST3_CALL setBusArrangements(SpeakerArrangement* inputs, int32_t numIns, SpeakerArrangement* outputs,
                                         int32_t numOuts) override {
        if (numIns != 1 || numOuts != 1 || !inputs || !outputs || inputs[0] != outputs[0]) return kResultFalse;
        const bool stereo = inputs[0] == kArrStereo && !switched("refuse-stereo");
        if (!stereo && inputs[0] != kArrMono) return kResultFalse;
        arrangement_ = inputs[0];
        return kResultOk;
    }
    tresult VST3_CALL getBusArrangement(BusDirection dir, int32_t index, SpeakerArrangement& arr) override {
        if ((dir != kInput && dir != kOutput) || index != 0) return kInvalidArgument;
        arr = arrangement_;
        return kResultOk;
    }
    tresult VST3_CALL canProcessSampleSize(int32_t size) override {
        return size == kSample32 ? kResultOk : kResultFalse;
    }
    uint32_t VST3_CALL getLatencySamples() override {
        const int32_t n = latencySamples(latency_.load(std::memory_order_relaxed));
        lastLatency.store(n, std::memory_order_relaxed);
        return static_cast<uint32_t>(n);
    }
    tresult VST3_CALL setupProcessing(ProcessSetup& setup) override {
        bump(kSetupCalls);
        counts[kLastMaxBlock].store(setup.maxSamplesPerBlock, std::memory_order_relaxed);
        const double rate = setup.sampleRate > 0.0 && setup.sampleRate < 1e9 ? setup.sampleRate : 0.0;
        counts[kLastSampleRate].store(static_cast<int32_t>(rate), std::memory_order_relaxed);
        return setup.symbolicSampleSize == kSample32 ? kResultOk : kResultFalse;
    }
    tresult VST3_CALL setProcessing(TBool state) override {
        if (state) bump(kProcessingStarts);
        return kResultOk;
    }
    // Audio thread: allocates nothing, waits on nothing.
    tresult VST3_CALL process(ProcessData& data) override {
        bump(kProcessCalls);
        if (const ProcessContext* context = data.processContext) {
            if (context->state & ProcessContext::kTempoValid)
                lastTempo.store(context->tempo, std::memory_order_relaxed);
            lastPosition.store(context->projectTimeSamples, std::memory_order_relaxed);
        }
        applyChanges(data.inputParameterChanges);
        if (data.numSamples <= 0 || data.numInputs < 1 || data.numOutputs < 1 || !data.inputs || !data.outputs)
            return kResultOk;  // a parameter flush
        const AudioBusBuffers& in = data.inputs[0];
        AudioBusBuffers& out = data.outputs[0];
        if (in.numChannels < 1 || out.numChannels < 1 || in.numChannels > 64 || out.numChannels > 64 ||
            !in.channelBuffers32 || !out.channelBuffers32)
            return kInvalidArgument;
        const uint64_t inMask = in.numChannels == 64 ? ~0ull : (1ull << in.numChannels) - 1;
        const uint64_t outMask = out.numChannels == 64 ? ~0ull : (1ull << out.numChannels) - 1;
        float peak = 0.0f;
        if ((in.silenceFlags & inMask) == inMask) {
            out.silenceFlags = outMask;
        } else {
            const float gain = static_cast<float>(2.0 * gain_.load(std::memory_order_relaxed));
            for (int32_t c = 0; c < out.numChannels; ++c) {
                float* o = out.channelBuffers32[c];
                const float* i = c < in.numChannels ? in.channelBuffers32[c] : nullptr;
                if (!o) continue;
                for (int32_t k = 0; k < data.numSamples; ++k) {
                    o[k] = i ? i[k] * gain : 0.0f;
                    const float a = std::fabs(o[k]);
                    if (a > peak) peak = a;
                }
            }
            out.silenceFlags = 0;
        }
        if (IParameterChanges* changes = data.outputParameterChanges) {
            int32_t index = 0;
            if (IParamValueQueue* queue = changes->addParameterData(kPeakId, index))
                queue->addPoint(0, peak < 1.0f ? peak : 1.0, index);
        }
        return kResultOk;
    }
    uint32_t VST3_CALL getTailSamples() override { return 0; }

    // IConnectionPoint, UI thread.
    tresult VST3_CALL connect(IConnectionPoint* other) override {
        if (!other) return kInvalidArgument;
        if (peer_) return kResultFalse;
        setReference(peer_, other);
        return kResultOk;
    }
    tresult VST3_CALL disconnect(IConnectionPoint* other) override {
        if (!other || other != peer_) return kInvalidArgument;
        setReference<IConnectionPoint>(peer_, nullptr);
        return kResultOk;
    }
    tresult VST3_CALL notify(IMessage* message) override {
        double value;
        if (!receivedValue(message, "latency", value) || !(value >= 0.0 && value <= 1.0)) return kResultFalse;
        latency_.store(value, std::memory_order_relaxed);
        return kResultOk;
    }

    // The controller face's latency reaches the processor directly.
    void setLatencyValue(double value) { latency_.store(value, std::memory_order_relaxed); }
    Controller* face() const { return face_; }

private:
    void dropReferences() {
        setReference<FUnknown>(context_, nullptr);
        setReference<IConnectionPoint>(peer_, nullptr);
        if (face_) face_->dropReferences();
    }

    // The last point of every queue; a program applies its gain value.
    void applyChanges(IParameterChanges* changes) {
        if (!changes) return;
        const int32_t n = changes->getParameterCount();
        for (int32_t q = 0; q < n; ++q) {
            IParamValueQueue* queue = changes->getParameterData(q);
            if (!queue) continue;
            const int32_t points = queue->getPointCount();
            int32_t offset = 0;
            ParamValue value = 0.0;
            if (points < 1 || queue->getPoint(points - 1, offset, value) != kResultOk) continue;
            switch (queue->getParameterId()) {
                case kGainId: gain_.store(clampUnit(value), std::memory_order_relaxed); break;
                case kLatencyId: latency_.store(clampUnit(value), std::memory_order_relaxed); break;
                case kProgramId:
                    gain_.store(kProgramGains[programIndex(value)], std::memory_order_relaxed);
                    break;
                default: break;
            }
        }
    }

    std::atomic<uint32_t> refs_{1};
    Kind kind_;
    Controller* face_ = nullptr;
    bool initialized_ = false;
    FUnknown* context_ = nullptr;
    IConnectionPoint* peer_ = nullptr;
    SpeakerArrangement arrangement_ = kArrStereo;
    // Normalized values, shared by the UI and audio threads.
    std::atomic<double> gain_{0.5}, latency_{0.0};
};

// ---- the controller's methods that reach the component ----

tresult VST3_CALL Controller::queryInterface(const uint8_t* iid, void** object) {
    if (!object) return kInvalidArgument;
    *object = nullptr;
    if (owner_ && (sameUid(iid, kFUnknownIid) || sameUid(iid, kIPluginBaseIid) || sameUid(iid, kIComponentIid) ||
                   sameUid(iid, kIAudioProcessorIid) || sameUid(iid, kIConnectionPointIid)))
        return owner_->queryInterface(iid, object);
    if (sameUid(iid, kFUnknownIid) || sameUid(iid, kIPluginBaseIid) || sameUid(iid, kIEditControllerIid))
        *object = static_cast<IEditController*>(this);
    else if (sameUid(iid, kIConnectionPointIid))
        *object = static_cast<IConnectionPoint*>(this);
    else if (sameUid(iid, kIUnitInfoIid))
        *object = static_cast<IUnitInfo*>(this);
    else
        return kNoInterface;
    addRef();
    return kResultOk;
}

uint32_t VST3_CALL Controller::addRef() { return owner_ ? owner_->addRef() : ++refs_; }

uint32_t VST3_CALL Controller::release() {
    if (owner_) return owner_->release();
    const uint32_t n = --refs_;
    if (n == 0) delete this;
    return n;
}

tresult VST3_CALL Controller::initialize(FUnknown* context) {
    // The single object has one initialize, whichever face is asked.
    if (owner_) return owner_->initialize(context);
    bump(kInitializeCalls);
    if (initialized_) return kResultFalse;
    setReference(context_, context);
    initialized_ = true;
    return kResultOk;
}

tresult VST3_CALL Controller::terminate() {
    if (owner_) return owner_->terminate();
    bump(kTerminateCalls);
    initialized_ = false;
    dropReferences();
    return kResultOk;
}

// UI thread. A new latency reaches the processor before the host hears of
// it, so the host's next getLatencySamples already answers it.
tresult VST3_CALL Controller::setParamNormalized(ParamID id, ParamValue value) {
    if (id < kGainId || id > kPeakId) return kInvalidArgument;
    value = clampUnit(value);
    const double before = values_[id - kGainId];
    values_[id - kGainId] = value;
    if (id == kProgramId) values_[0] = kProgramGains[programIndex(value)];
    if (id == kLatencyId && value != before) {
        if (owner_)
            owner_->setLatencyValue(value);
        else
            sendValue(context_, peer_, "latency", value);
    }
    // The host hears only of a change in samples.
    if (id == kLatencyId && latencySamples(value) != latencySamples(before)) {
        if (handler_) {
            bump(kRestartCalls);
            handler_->restartComponent(kLatencyChanged);
        }
    }
    return kResultOk;
}

// ---- the editor (Windows only) ----

#if defined(_WIN32)
const char kViewClass[] = "QvTestVst3View";
int viewWindows = 0;  // children alive; the class is registered while any is

// The child window's controller, set when it is created.
Controller* viewController(HWND window) {
    return reinterpret_cast<Controller*>(GetWindowLongPtrA(window, GWLP_USERDATA));
}

LRESULT CALLBACK viewProc(HWND window, UINT message, WPARAM wp, LPARAM lp) {
    switch (message) {
        case WM_NCCREATE:
            SetWindowLongPtrA(window, GWLP_USERDATA,
                              reinterpret_cast<LONG_PTR>(reinterpret_cast<CREATESTRUCTA*>(lp)->lpCreateParams));
            break;
        case WM_LBUTTONDOWN:
        case WM_RBUTTONDOWN: {
            RECT client;
            GetClientRect(window, &client);
            Controller* controller = viewController(window);
            if (!controller || client.right <= 0) return 0;
            const int x = static_cast<short>(LOWORD(lp));
            controller->editFromView(message == WM_LBUTTONDOWN ? kGainId : kLatencyId,
                                     clampUnit(static_cast<double>(x) / client.right));
            InvalidateRect(window, nullptr, TRUE);
            return 0;
        }
        case WM_PAINT: {
            PAINTSTRUCT ps;
            HDC dc = BeginPaint(window, &ps);
            RECT client;
            GetClientRect(window, &client);
            HBRUSH fill = CreateSolidBrush(RGB(40, 64, 96));
            FillRect(dc, &client, fill);
            DeleteObject(fill);
            SetBkMode(dc, TRANSPARENT);
            SetTextColor(dc, RGB(255, 255, 255));
            char text[80] = "Qv Test Gain";
            if (Controller* controller = viewController(window))
                std::snprintf(text, sizeof text, "Qv Test Gain  %.2f x  %d samples",
                              2.0 * controller->getParamNormalized(kGainId),
                              static_cast<int>(latencySamples(controller->getParamNormalized(kLatencyId))));
            DrawTextA(dc, text, -1, &client, DT_CENTER | DT_VCENTER | DT_SINGLELINE);
            EndPaint(window, &ps);
            return 0;
        }
        default:
            break;
    }
    return DefWindowProcA(window, message, wp, lp);
}

HINSTANCE thisModule() {
    HMODULE module = nullptr;
    GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<LPCSTR>(&viewProc), &module);
    return module;
}

// The editor: a child window of the host's. It holds its controller; the
// frame is the host's and is kept without a reference (the host clears it
// before it goes). UI thread only.
class View final : public IPlugView {
public:
    explicit View(Controller* controller) : controller_(controller) {
        controller_->addRef();
        bump(kLiveObjects);
    }
    ~View() {
        destroyChild();
        controller_->release();
        drop(kLiveObjects);
    }

    tresult VST3_CALL queryInterface(const uint8_t* iid, void** object) override {
        if (!object) return kInvalidArgument;
        *object = nullptr;
        if (!sameUid(iid, kFUnknownIid) && !sameUid(iid, kIPlugViewIid)) return kNoInterface;
        *object = static_cast<IPlugView*>(this);
        addRef();
        return kResultOk;
    }
    uint32_t VST3_CALL addRef() override { return ++refs_; }
    uint32_t VST3_CALL release() override {
        const uint32_t n = --refs_;
        if (n == 0) delete this;
        return n;
    }

    tresult VST3_CALL isPlatformTypeSupported(FIDString type) override {
        return type && std::strcmp(type, kPlatformTypeHwnd) == 0 ? kResultOk : kResultFalse;
    }
    tresult VST3_CALL attached(void* parent, FIDString type) override {
        if (!parent || isPlatformTypeSupported(type) != kResultOk || child_) return kResultFalse;
        HINSTANCE instance = thisModule();
        if (viewWindows == 0) {
            WNDCLASSA wc{};
            wc.lpfnWndProc = viewProc;
            wc.hInstance = instance;
            wc.hCursor = LoadCursor(nullptr, IDC_ARROW);
            wc.lpszClassName = kViewClass;
            if (!RegisterClassA(&wc) && GetLastError() != ERROR_CLASS_ALREADY_EXISTS) return kResultFalse;
        }
        child_ = CreateWindowExA(0, kViewClass, "", WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS, rect_.left, rect_.top,
                                 rect_.right - rect_.left, rect_.bottom - rect_.top, static_cast<HWND>(parent),
                                 nullptr, instance, controller_);
        if (!child_) {
            if (viewWindows == 0) UnregisterClassA(kViewClass, instance);
            return kResultFalse;
        }
        ++viewWindows;
        if (frame_ && switched("resize-on-open")) {
            ViewRect wanted{0, 0, 320, 240};
            frame_->resizeView(this, &wanted);
        }
        return kResultOk;
    }
    tresult VST3_CALL removed() override {
        if (!child_) return kResultFalse;
        destroyChild();
        return kResultOk;
    }
    tresult VST3_CALL onWheel(float) override { return kResultFalse; }
    tresult VST3_CALL onKeyDown(char16, int16_t, int16_t) override { return kResultFalse; }
    tresult VST3_CALL onKeyUp(char16, int16_t, int16_t) override { return kResultFalse; }
    tresult VST3_CALL getSize(ViewRect* size) override {
        if (!size) return kInvalidArgument;
        *size = rect_;
        return kResultOk;
    }
    tresult VST3_CALL onSize(ViewRect* size) override {
        if (!size) return kInvalidArgument;
        rect_ = *size;
        if (child_)
            SetWindowPos(child_, nullptr, 0, 0, rect_.right - rect_.left, rect_.bottom - rect_.top,
                         SWP_NOZORDER | SWP_NOMOVE | SWP_NOACTIVATE);
        return kResultOk;
    }
    tresult VST3_CALL onFocus(TBool) override { return kResultOk; }
    tresult VST3_CALL setFrame(IPlugFrame* frame) override {
        frame_ = frame;
        return kResultOk;
    }
    tresult VST3_CALL canResize() override { return kResultOk; }
    tresult VST3_CALL checkSizeConstraint(ViewRect* rect) override {
        if (!rect) return kInvalidArgument;
        if (rect->right - rect->left < 100) rect->right = rect->left + 100;
        if (rect->bottom - rect->top < 80) rect->bottom = rect->top + 80;
        return kResultOk;
    }

private:
    void destroyChild() {
        if (!child_) return;
        if (IsWindow(child_)) DestroyWindow(child_);
        child_ = nullptr;
        if (--viewWindows == 0) UnregisterClassA(kViewClass, thisModule());
    }

    std::atomic<uint32_t> refs_{1};
    Controller* controller_;
    IPlugFrame* frame_ = nullptr;
    HWND child_ = nullptr;
    ViewRect rect_{0, 0, 300, 200};
};

IPlugView* makeView(Controller* controller) { return new View(controller); }
#endif

// ---- the factory ----

#if !defined(TVST3_NO_FACTORY)
struct ClassEntry {
    const Uid* cid;
    const char* category;
    const char* name;
    const char* subCategories;
};

#if defined(TVST3_FAIL_INIT)
const ClassEntry kClasses[] = {{&kFailInitCid, kAudioEffectClass, "Qv Test Fail Init", "Fx"}};
#else
const ClassEntry kClasses[] = {
    {&kGainCid, kAudioEffectClass, "Qv Test Gain", "Fx|Dynamics"},
    {&kControllerCid, kComponentControllerClass, "Qv Test Gain Controller", ""},
    {&kSynthCid, kAudioEffectClass, "Qv Test Synth", "Instrument|Synth"},
    {&kSingleCid, kAudioEffectClass, "Qv Test Single", "Fx"},
};
#endif
constexpr int32_t kClassCount = sizeof kClasses / sizeof kClasses[0];

#if defined(TVST3_GARBAGE)
constexpr int32_t kGarbageClasses = 1000000;

// Bytes that never end a string: 1..255, the same for the same seed.
void garble(void* out, size_t size, uint32_t seed) {
    uint32_t x = seed * 2654435761u + 0x9E3779B9u;
    auto* p = static_cast<uint8_t*>(out);
    for (size_t i = 0; i < size; ++i) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        p[i] = static_cast<uint8_t>(x % 255u + 1u);
    }
}
// Every seventh class claims to be an effect, with a proper category.
bool claimsEffect(int32_t index) { return index % 7 == 3; }
#endif

class Factory final : public IPluginFactory2 {
public:
    tresult VST3_CALL queryInterface(const uint8_t* iid, void** object) override {
        if (!object) return kInvalidArgument;
        *object = nullptr;
        if (!sameUid(iid, kFUnknownIid) && !sameUid(iid, kIPluginFactoryIid) && !sameUid(iid, kIPluginFactory2Iid))
            return kNoInterface;
        *object = static_cast<IPluginFactory2*>(this);
        addRef();
        return kResultOk;
    }
    uint32_t VST3_CALL addRef() override { return ++refs_; }
    uint32_t VST3_CALL release() override;

    tresult VST3_CALL getFactoryInfo(PFactoryInfo* info) override {
        if (!info) return kInvalidArgument;
        *info = PFactoryInfo{};
#if defined(TVST3_GARBAGE)
        garble(info, sizeof *info, 0xFAC7u);
#else
        copyText(info->vendor, sizeof info->vendor, "Quorvane Tests");
#endif
        return kResultOk;
    }
    int32_t VST3_CALL countClasses() override {
#if defined(TVST3_GARBAGE)
        return kGarbageClasses;
#else
        return kClassCount;
#endif
    }
    tresult VST3_CALL getClassInfo(int32_t index, PClassInfo* info) override {
        if (!info) return kInvalidArgument;
#if defined(TVST3_GARBAGE)
        if (index < 0 || index >= kGarbageClasses) return kInvalidArgument;
        garble(info, sizeof *info, static_cast<uint32_t>(index));
        if (claimsEffect(index)) copyText(info->category, sizeof info->category, kAudioEffectClass);
#else
        if (index < 0 || index >= kClassCount) return kInvalidArgument;
        const ClassEntry& c = kClasses[index];
        *info = PClassInfo{};
        std::memcpy(info->cid, c.cid->b, 16);
        info->cardinality = PClassInfo::kManyInstances;
        copyText(info->category, sizeof info->category, c.category);
        copyText(info->name, sizeof info->name, c.name);
#endif
        return kResultOk;
    }
    tresult VST3_CALL getClassInfo2(int32_t index, PClassInfo2* info) override {
        if (!info) return kInvalidArgument;
#if defined(TVST3_GARBAGE)
        if (index < 0 || index >= kGarbageClasses) return kInvalidArgument;
        garble(info, sizeof *info, static_cast<uint32_t>(index));
        if (claimsEffect(index)) {
            copyText(info->category, sizeof info->category, kAudioEffectClass);
            copyText(info->subCategories, sizeof info->subCategories, "Fx");
        }
#else
        if (index < 0 || index >= kClassCount) return kInvalidArgument;
        const ClassEntry& c = kClasses[index];
        *info = PClassInfo2{};
        std::memcpy(info->cid, c.cid->b, 16);
        info->cardinality = PClassInfo::kManyInstances;
        copyText(info->category, sizeof info->category, c.category);
        copyText(info->name, sizeof info->name, c.name);
        copyText(info->subCategories, sizeof info->subCategories, c.subCategories);
        copyText(info->vendor, sizeof info->vendor, "Quorvane Tests");
        copyText(info->version, sizeof info->version, "1.0.0");
        copyText(info->sdkVersion, sizeof info->sdkVersion, "VST 3.7.0");
#endif
        return kResultOk;
    }
    tresult VST3_CALL createInstance(const char* cid, const char* iid, void** object) override {
        if (!object) return kInvalidArgument;
        *object = nullptr;
        if (!cid || !iid) return kInvalidArgument;
        FUnknown* made = nullptr;
#if defined(TVST3_FAIL_INIT)
        if (sameUid(cid, kFailInitCid)) made = static_cast<IComponent*>(new Component(Kind::kFailInit));
#elif !defined(TVST3_GARBAGE)
        if (sameUid(cid, kGainCid))
            made = static_cast<IComponent*>(new Component(Kind::kGain));
        else if (sameUid(cid, kSingleCid))
            made = static_cast<IComponent*>(new Component(Kind::kSingle));
        else if (sameUid(cid, kControllerCid))
            made = static_cast<IEditController*>(new Controller(nullptr));
#endif
        if (!made) return kResultFalse;  // unknown, or the synth, which is only listed
        const tresult result = made->queryInterface(reinterpret_cast<const uint8_t*>(iid), object);
        made->release();
        return result;
    }

private:
    std::atomic<uint32_t> refs_{1};
};

// The one factory, made by the first GetPluginFactory and freed with its
// last reference. Hosts ask for it on their UI thread.
Factory* factory = nullptr;

uint32_t VST3_CALL Factory::release() {
    const uint32_t n = --refs_;
    if (n == 0) {
        if (factory == this) factory = nullptr;
        delete this;
    }
    return n;
}
#endif

}  // namespace

// ---- entry points ----

#if !defined(TVST3_NO_FACTORY)
TVST3_EXPORT IPluginFactory* VST3_CALL GetPluginFactory() {
#if defined(TVST3_CRASH)
    volatile intptr_t bad = 16;
    *reinterpret_cast<volatile int*>(bad) = 1;
#endif
    if (factory)
        factory->addRef();
    else
        factory = new Factory;
    return factory;
}
#endif

#if defined(_WIN32)
TVST3_EXPORT bool InitDll() {
    bump(kModuleInits);
    fastMathIfSwitched();
    return true;
}
TVST3_EXPORT bool ExitDll() {
    bump(kModuleExits);
    return true;
}
#else
TVST3_EXPORT bool ModuleEntry(void*) {
    bump(kModuleInits);
    fastMathIfSwitched();
    return true;
}
TVST3_EXPORT bool ModuleExit() {
    bump(kModuleExits);
    return true;
}
#endif

// ---- what tests read ----

// Module init and exit calls, live objects (components, controllers,
// views), initialize and terminate calls, setupProcessing calls,
// setActive(true), setProcessing(true) and process calls, the last
// maxSamplesPerBlock and sample rate, restartComponent calls made.
TVST3_EXPORT void tvst3Counts(int32_t out[12]) {
    for (int i = 0; i < kCounts; ++i) out[i] = counts[i].load(std::memory_order_relaxed);
}
// The tempo of the last process context that had one (-1 before any).
TVST3_EXPORT double tvst3LastTempo() { return lastTempo.load(std::memory_order_relaxed); }
// The project time in samples of the last process context (-1 before any).
TVST3_EXPORT int64_t tvst3LastPosition() { return lastPosition.load(std::memory_order_relaxed); }
// The last answer of getLatencySamples (-1 before any).
TVST3_EXPORT int32_t tvst3LastLatency() { return lastLatency.load(std::memory_order_relaxed); }

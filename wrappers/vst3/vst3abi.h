// The VST 3 binary interface as this program uses it: COM-style interfaces
// (a table of methods behind every object, reference counting and
// queryInterface by 16-byte interface ids), the records that cross it, and
// the module's entry points. Written from the interface's published
// description; every record's layout is checked below.
//
// The interfaces are declared as C++ classes with pure virtual methods only,
// in the interface's method order, so a plug-in's object can be called
// through them and our own objects can be handed to a plug-in.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#if defined(_WIN32) && !defined(_WIN64)
#define VST3_CALL __stdcall
#else
#define VST3_CALL
#endif

namespace vst3 {

using tresult = int32_t;
using TBool = uint8_t;
using char16 = char16_t;
using String128 = char16[128];
using FIDString = const char*;
using ParamID = uint32_t;
using ParamValue = double;
using SpeakerArrangement = uint64_t;
using MediaType = int32_t;
using BusDirection = int32_t;
using UnitID = int32_t;
using ProgramListID = int32_t;

// Result codes: COM's on Windows, a small enumeration elsewhere.
#if defined(_WIN32)
constexpr tresult kResultOk = 0;
constexpr tresult kResultFalse = 1;
constexpr tresult kNoInterface = static_cast<tresult>(0x80004002u);
constexpr tresult kInvalidArgument = static_cast<tresult>(0x80070057u);
constexpr tresult kNotImplemented = static_cast<tresult>(0x80004001u);
constexpr tresult kInternalError = static_cast<tresult>(0x80004005u);
constexpr tresult kNotInitialized = static_cast<tresult>(0x8000FFFFu);
constexpr tresult kOutOfMemory = static_cast<tresult>(0x8007000Eu);
#else
constexpr tresult kNoInterface = -1;
constexpr tresult kResultOk = 0;
constexpr tresult kResultFalse = 1;
constexpr tresult kInvalidArgument = 2;
constexpr tresult kNotImplemented = 3;
constexpr tresult kInternalError = 4;
constexpr tresult kNotInitialized = 5;
constexpr tresult kOutOfMemory = 6;
#endif

// A 16-byte id. Its four 32-bit words are laid out as a Windows GUID on
// Windows (first word and the two halves of the second little-endian) and
// as plain big-endian words elsewhere.
struct Uid {
    uint8_t b[16];
};
constexpr Uid makeUid(uint32_t l1, uint32_t l2, uint32_t l3, uint32_t l4) {
#if defined(_WIN32)
    return Uid{{static_cast<uint8_t>(l1), static_cast<uint8_t>(l1 >> 8), static_cast<uint8_t>(l1 >> 16),
                static_cast<uint8_t>(l1 >> 24), static_cast<uint8_t>(l2 >> 16), static_cast<uint8_t>(l2 >> 24),
                static_cast<uint8_t>(l2), static_cast<uint8_t>(l2 >> 8), static_cast<uint8_t>(l3 >> 24),
                static_cast<uint8_t>(l3 >> 16), static_cast<uint8_t>(l3 >> 8), static_cast<uint8_t>(l3),
                static_cast<uint8_t>(l4 >> 24), static_cast<uint8_t>(l4 >> 16), static_cast<uint8_t>(l4 >> 8),
                static_cast<uint8_t>(l4)}};
#else
    return Uid{{static_cast<uint8_t>(l1 >> 24), static_cast<uint8_t>(l1 >> 16), static_cast<uint8_t>(l1 >> 8),
                static_cast<uint8_t>(l1), static_cast<uint8_t>(l2 >> 24), static_cast<uint8_t>(l2 >> 16),
                static_cast<uint8_t>(l2 >> 8), static_cast<uint8_t>(l2), static_cast<uint8_t>(l3 >> 24),
                static_cast<uint8_t>(l3 >> 16), static_cast<uint8_t>(l3 >> 8), static_cast<uint8_t>(l3),
                static_cast<uint8_t>(l4 >> 24), static_cast<uint8_t>(l4 >> 16), static_cast<uint8_t>(l4 >> 8),
                static_cast<uint8_t>(l4)}};
#endif
}
inline bool sameUid(const void* a, const Uid& b) { return a && std::memcmp(a, b.b, 16) == 0; }

// Saved ids (performance files) are in the Windows layout on every system,
// so a file moves between them: the conversion either way (the same swap
// of the first word's bytes and of each half of the second).
inline void uidInFileOrder(const uint8_t* in, uint8_t* out) {
#if defined(_WIN32)
    std::memcpy(out, in, 16);
#else
    const uint8_t order[16] = {3, 2, 1, 0, 5, 4, 7, 6, 8, 9, 10, 11, 12, 13, 14, 15};
    uint8_t copy[16];
    std::memcpy(copy, in, 16);
    for (int i = 0; i < 16; ++i) out[i] = copy[order[i]];
#endif
}

constexpr Uid kFUnknownIid = makeUid(0x00000000, 0x00000000, 0xC0000000, 0x00000046);
constexpr Uid kIPluginBaseIid = makeUid(0x22888DDB, 0x156E45AE, 0x8358B348, 0x08190625);
constexpr Uid kIPluginFactoryIid = makeUid(0x7A4D811C, 0x52114A1F, 0xAED9D2EE, 0x0B43BF9F);
constexpr Uid kIPluginFactory2Iid = makeUid(0x0007B650, 0xF24B4C0B, 0xA464EDB9, 0xF00B2ABB);
constexpr Uid kIPluginFactory3Iid = makeUid(0x4555A2AB, 0xC1234E57, 0x9B122910, 0x36878931);
constexpr Uid kIBStreamIid = makeUid(0xC3BF6EA2, 0x30994752, 0x9B6BF990, 0x1EE33E9B);
constexpr Uid kIComponentIid = makeUid(0xE831FF31, 0xF2D54301, 0x928EBBEE, 0x25697802);
constexpr Uid kIAudioProcessorIid = makeUid(0x42043F99, 0xB7DA453C, 0xA569E79D, 0x9AAEC33D);
constexpr Uid kIEditControllerIid = makeUid(0xDCD7BBE3, 0x7742448D, 0xA874AACC, 0x979C759E);
constexpr Uid kIComponentHandlerIid = makeUid(0x93A0BEA3, 0x0BD045DB, 0x8E890B0C, 0xC1E46AC6);
constexpr Uid kIHostApplicationIid = makeUid(0x58E595CC, 0xDB2D4969, 0x8B6AAF8C, 0x36A664E5);
constexpr Uid kIParamValueQueueIid = makeUid(0x01263A18, 0xED074F6F, 0x98C9D356, 0x4686F9BA);
constexpr Uid kIParameterChangesIid = makeUid(0xA4779663, 0x0BB64A56, 0xB44384A8, 0x466FEB9D);
constexpr Uid kIConnectionPointIid = makeUid(0x70A4156F, 0x6E6E4026, 0x989148BF, 0xAA60D8D1);
constexpr Uid kIMessageIid = makeUid(0x936F033B, 0xC6C047DB, 0xBB0882F8, 0x13C1E613);
constexpr Uid kIAttributeListIid = makeUid(0x1E5F0AEB, 0xCC7F4533, 0xA2544011, 0x38AD5EE4);
constexpr Uid kIPlugViewIid = makeUid(0x5BC32507, 0xD06049EA, 0xA6151B52, 0x2B755B29);
constexpr Uid kIPlugFrameIid = makeUid(0x367FAF01, 0xAFA94693, 0x8D4DA2A0, 0xED0882A3);
constexpr Uid kIUnitInfoIid = makeUid(0x3D4BD6B5, 0x913A4FD2, 0xA886E768, 0xA5EB92C1);

// ---- records ----

struct PClassInfo {
    enum : int32_t { kManyInstances = 0x7FFFFFFF };
    uint8_t cid[16];
    int32_t cardinality;
    char category[32];
    char name[64];
};

struct PClassInfo2 {
    uint8_t cid[16];
    int32_t cardinality;
    char category[32];
    char name[64];
    uint32_t classFlags;
    char subCategories[128];
    char vendor[64];
    char version[64];
    char sdkVersion[64];
};

struct PFactoryInfo {
    char vendor[64];
    char url[256];
    char email[128];
    int32_t flags;
};

enum : int32_t { kAudio = 0, kEvent = 1 };
enum : int32_t { kInput = 0, kOutput = 1 };
enum : int32_t { kMain = 0, kAux = 1 };
enum : int32_t { kRealtime = 0, kPrefetch = 1, kOffline = 2 };
enum : int32_t { kSample32 = 0, kSample64 = 1 };

constexpr SpeakerArrangement kSpeakerL = 1u << 0;
constexpr SpeakerArrangement kSpeakerR = 1u << 1;
constexpr SpeakerArrangement kSpeakerM = 1u << 19;
constexpr SpeakerArrangement kArrMono = kSpeakerM;
constexpr SpeakerArrangement kArrStereo = kSpeakerL | kSpeakerR;

struct BusInfo {
    enum : uint32_t { kDefaultActive = 1 << 0 };
    MediaType mediaType;
    BusDirection direction;
    int32_t channelCount;
    String128 name;
    int32_t busType;
    uint32_t flags;
};

struct RoutingInfo {
    MediaType mediaType;
    int32_t busIndex;
    int32_t channel;
};

struct ProcessSetup {
    int32_t processMode;
    int32_t symbolicSampleSize;
    int32_t maxSamplesPerBlock;
    double sampleRate;
};

struct AudioBusBuffers {
    int32_t numChannels;
    uint64_t silenceFlags;
    float** channelBuffers32;  // (a union with the 64-bit buffers)
};

struct FrameRate {
    uint32_t framesPerSecond;
    uint32_t flags;
};

struct Chord {
    uint8_t keyNote;
    uint8_t rootNote;
    int16_t chordMask;
};

struct ProcessContext {
    enum : uint32_t {
        kPlaying = 1 << 1,
        kSystemTimeValid = 1 << 8,
        kProjectTimeMusicValid = 1 << 9,
        kTempoValid = 1 << 10,
        kTimeSigValid = 1 << 13,
        kContTimeValid = 1 << 17,
    };
    uint32_t state;
    double sampleRate;
    int64_t projectTimeSamples;
    int64_t systemTime;
    int64_t continousTimeSamples;
    double projectTimeMusic;
    double barPositionMusic;
    double cycleStartMusic;
    double cycleEndMusic;
    double tempo;
    int32_t timeSigNumerator;
    int32_t timeSigDenominator;
    Chord chord;
    int32_t smpteOffsetSubframes;
    FrameRate frameRate;
    int32_t samplesToNextClock;
};

class IParameterChanges;
class IEventList;

struct ProcessData {
    int32_t processMode;
    int32_t symbolicSampleSize;
    int32_t numSamples;
    int32_t numInputs;
    int32_t numOutputs;
    AudioBusBuffers* inputs;
    AudioBusBuffers* outputs;
    IParameterChanges* inputParameterChanges;
    IParameterChanges* outputParameterChanges;
    IEventList* inputEvents;
    IEventList* outputEvents;
    ProcessContext* processContext;
};

struct ParameterInfo {
    enum : int32_t { kCanAutomate = 1 << 0, kIsReadOnly = 1 << 1, kIsList = 1 << 3, kIsHidden = 1 << 4,
                     kIsProgramChange = 1 << 15, kIsBypass = 1 << 16 };
    ParamID id;
    String128 title;
    String128 shortTitle;
    String128 units;
    int32_t stepCount;
    ParamValue defaultNormalizedValue;
    UnitID unitId;
    int32_t flags;
};

// restartComponent's flags.
enum : int32_t {
    kReloadComponent = 1 << 0,
    kIoChanged = 1 << 1,
    kParamValuesChanged = 1 << 2,
    kLatencyChanged = 1 << 3,
    kParamTitlesChanged = 1 << 4,
};

struct ViewRect {
    int32_t left, top, right, bottom;
};

struct UnitInfo {
    UnitID id;
    UnitID parentUnitId;
    String128 name;
    ProgramListID programListId;
};

struct ProgramListInfo {
    ProgramListID id;
    String128 name;
    int32_t programCount;
};

constexpr UnitID kRootUnitId = 0;
constexpr UnitID kNoParentUnitId = -1;
constexpr ProgramListID kNoProgramListId = -1;

// ---- interfaces ----

class FUnknown {
public:
    virtual tresult VST3_CALL queryInterface(const uint8_t* iid, void** object) = 0;
    virtual uint32_t VST3_CALL addRef() = 0;
    virtual uint32_t VST3_CALL release() = 0;
};

class IPluginBase : public FUnknown {
public:
    virtual tresult VST3_CALL initialize(FUnknown* context) = 0;
    virtual tresult VST3_CALL terminate() = 0;
};

class IPluginFactory : public FUnknown {
public:
    virtual tresult VST3_CALL getFactoryInfo(PFactoryInfo* info) = 0;
    virtual int32_t VST3_CALL countClasses() = 0;
    virtual tresult VST3_CALL getClassInfo(int32_t index, PClassInfo* info) = 0;
    virtual tresult VST3_CALL createInstance(const char* cid, const char* iid, void** object) = 0;
};

class IPluginFactory2 : public IPluginFactory {
public:
    virtual tresult VST3_CALL getClassInfo2(int32_t index, PClassInfo2* info) = 0;
};

class IPluginFactory3 : public IPluginFactory2 {
public:
    // (The class information in UTF-16, which this program does not read.)
    virtual tresult VST3_CALL getClassInfoUnicode(int32_t index, void* info) = 0;
    virtual tresult VST3_CALL setHostContext(FUnknown* context) = 0;
};

class IBStream : public FUnknown {
public:
    enum : int32_t { kSeekSet = 0, kSeekCur = 1, kSeekEnd = 2 };
    virtual tresult VST3_CALL read(void* buffer, int32_t bytes, int32_t* bytesRead) = 0;
    virtual tresult VST3_CALL write(void* buffer, int32_t bytes, int32_t* bytesWritten) = 0;
    virtual tresult VST3_CALL seek(int64_t position, int32_t mode, int64_t* result) = 0;
    virtual tresult VST3_CALL tell(int64_t* position) = 0;
};

class IComponent : public IPluginBase {
public:
    virtual tresult VST3_CALL getControllerClassId(uint8_t* classId) = 0;
    virtual tresult VST3_CALL setIoMode(int32_t mode) = 0;
    virtual int32_t VST3_CALL getBusCount(MediaType type, BusDirection dir) = 0;
    virtual tresult VST3_CALL getBusInfo(MediaType type, BusDirection dir, int32_t index, BusInfo& bus) = 0;
    virtual tresult VST3_CALL getRoutingInfo(RoutingInfo& in, RoutingInfo& out) = 0;
    virtual tresult VST3_CALL activateBus(MediaType type, BusDirection dir, int32_t index, TBool state) = 0;
    virtual tresult VST3_CALL setActive(TBool state) = 0;
    virtual tresult VST3_CALL setState(IBStream* state) = 0;
    virtual tresult VST3_CALL getState(IBStream* state) = 0;
};

class IAudioProcessor : public FUnknown {
public:
    virtual tresult VST3_CALL setBusArrangements(SpeakerArrangement* inputs, int32_t numIns,
                                                 SpeakerArrangement* outputs, int32_t numOuts) = 0;
    virtual tresult VST3_CALL getBusArrangement(BusDirection dir, int32_t index, SpeakerArrangement& arr) = 0;
    virtual tresult VST3_CALL canProcessSampleSize(int32_t symbolicSampleSize) = 0;
    virtual uint32_t VST3_CALL getLatencySamples() = 0;
    virtual tresult VST3_CALL setupProcessing(ProcessSetup& setup) = 0;
    virtual tresult VST3_CALL setProcessing(TBool state) = 0;
    virtual tresult VST3_CALL process(ProcessData& data) = 0;
    virtual uint32_t VST3_CALL getTailSamples() = 0;
};

class IComponentHandler : public FUnknown {
public:
    virtual tresult VST3_CALL beginEdit(ParamID id) = 0;
    virtual tresult VST3_CALL performEdit(ParamID id, ParamValue valueNormalized) = 0;
    virtual tresult VST3_CALL endEdit(ParamID id) = 0;
    virtual tresult VST3_CALL restartComponent(int32_t flags) = 0;
};

class IPlugView;

class IEditController : public IPluginBase {
public:
    virtual tresult VST3_CALL setComponentState(IBStream* state) = 0;
    virtual tresult VST3_CALL setState(IBStream* state) = 0;
    virtual tresult VST3_CALL getState(IBStream* state) = 0;
    virtual int32_t VST3_CALL getParameterCount() = 0;
    virtual tresult VST3_CALL getParameterInfo(int32_t paramIndex, ParameterInfo& info) = 0;
    virtual tresult VST3_CALL getParamStringByValue(ParamID id, ParamValue valueNormalized, char16* string) = 0;
    virtual tresult VST3_CALL getParamValueByString(ParamID id, char16* string, ParamValue& valueNormalized) = 0;
    virtual ParamValue VST3_CALL normalizedParamToPlain(ParamID id, ParamValue valueNormalized) = 0;
    virtual ParamValue VST3_CALL plainParamToNormalized(ParamID id, ParamValue plainValue) = 0;
    virtual ParamValue VST3_CALL getParamNormalized(ParamID id) = 0;
    virtual tresult VST3_CALL setParamNormalized(ParamID id, ParamValue value) = 0;
    virtual tresult VST3_CALL setComponentHandler(IComponentHandler* handler) = 0;
    virtual IPlugView* VST3_CALL createView(FIDString name) = 0;
};

class IHostApplication : public FUnknown {
public:
    virtual tresult VST3_CALL getName(char16* name) = 0;
    virtual tresult VST3_CALL createInstance(uint8_t* cid, uint8_t* iid, void** object) = 0;
};

class IParamValueQueue : public FUnknown {
public:
    virtual ParamID VST3_CALL getParameterId() = 0;
    virtual int32_t VST3_CALL getPointCount() = 0;
    virtual tresult VST3_CALL getPoint(int32_t index, int32_t& sampleOffset, ParamValue& value) = 0;
    virtual tresult VST3_CALL addPoint(int32_t sampleOffset, ParamValue value, int32_t& index) = 0;
};

class IParameterChanges : public FUnknown {
public:
    virtual int32_t VST3_CALL getParameterCount() = 0;
    virtual IParamValueQueue* VST3_CALL getParameterData(int32_t index) = 0;
    virtual IParamValueQueue* VST3_CALL addParameterData(const ParamID& id, int32_t& index) = 0;
};

class IAttributeList : public FUnknown {
public:
    using AttrID = const char*;
    virtual tresult VST3_CALL setInt(AttrID id, int64_t value) = 0;
    virtual tresult VST3_CALL getInt(AttrID id, int64_t& value) = 0;
    virtual tresult VST3_CALL setFloat(AttrID id, double value) = 0;
    virtual tresult VST3_CALL getFloat(AttrID id, double& value) = 0;
    virtual tresult VST3_CALL setString(AttrID id, const char16* string) = 0;
    virtual tresult VST3_CALL getString(AttrID id, char16* string, uint32_t sizeInBytes) = 0;
    virtual tresult VST3_CALL setBinary(AttrID id, const void* data, uint32_t sizeInBytes) = 0;
    virtual tresult VST3_CALL getBinary(AttrID id, const void*& data, uint32_t& sizeInBytes) = 0;
};

class IMessage : public FUnknown {
public:
    virtual FIDString VST3_CALL getMessageID() = 0;
    virtual void VST3_CALL setMessageID(FIDString id) = 0;
    virtual IAttributeList* VST3_CALL getAttributes() = 0;
};

class IConnectionPoint : public FUnknown {
public:
    virtual tresult VST3_CALL connect(IConnectionPoint* other) = 0;
    virtual tresult VST3_CALL disconnect(IConnectionPoint* other) = 0;
    virtual tresult VST3_CALL notify(IMessage* message) = 0;
};

class IPlugFrame;

class IPlugView : public FUnknown {
public:
    virtual tresult VST3_CALL isPlatformTypeSupported(FIDString type) = 0;
    virtual tresult VST3_CALL attached(void* parent, FIDString type) = 0;
    virtual tresult VST3_CALL removed() = 0;
    virtual tresult VST3_CALL onWheel(float distance) = 0;
    virtual tresult VST3_CALL onKeyDown(char16 key, int16_t keyCode, int16_t modifiers) = 0;
    virtual tresult VST3_CALL onKeyUp(char16 key, int16_t keyCode, int16_t modifiers) = 0;
    virtual tresult VST3_CALL getSize(ViewRect* size) = 0;
    virtual tresult VST3_CALL onSize(ViewRect* newSize) = 0;
    virtual tresult VST3_CALL onFocus(TBool state) = 0;
    virtual tresult VST3_CALL setFrame(IPlugFrame* frame) = 0;
    virtual tresult VST3_CALL canResize() = 0;
    virtual tresult VST3_CALL checkSizeConstraint(ViewRect* rect) = 0;
};

class IPlugFrame : public FUnknown {
public:
    virtual tresult VST3_CALL resizeView(IPlugView* view, ViewRect* newSize) = 0;
};

class IUnitInfo : public FUnknown {
public:
    virtual int32_t VST3_CALL getUnitCount() = 0;
    virtual tresult VST3_CALL getUnitInfo(int32_t unitIndex, UnitInfo& info) = 0;
    virtual int32_t VST3_CALL getProgramListCount() = 0;
    virtual tresult VST3_CALL getProgramListInfo(int32_t listIndex, ProgramListInfo& info) = 0;
    virtual tresult VST3_CALL getProgramName(ProgramListID listId, int32_t programIndex, char16* name) = 0;
    virtual tresult VST3_CALL getProgramInfo(ProgramListID listId, int32_t programIndex, const char* attributeId,
                                             char16* attributeValue) = 0;
    virtual tresult VST3_CALL hasProgramPitchNames(ProgramListID listId, int32_t programIndex) = 0;
    virtual tresult VST3_CALL getProgramPitchName(ProgramListID listId, int32_t programIndex, int16_t midiPitch,
                                                  char16* name) = 0;
    virtual UnitID VST3_CALL getSelectedUnit() = 0;
    virtual tresult VST3_CALL selectUnit(UnitID unitId) = 0;
    virtual tresult VST3_CALL getUnitByBus(MediaType type, BusDirection dir, int32_t busIndex, int32_t channel,
                                           UnitID& unitId) = 0;
    virtual tresult VST3_CALL setUnitProgramData(int32_t listOrUnitId, int32_t programIndex, IBStream* data) = 0;
};

// The module's entry points: GetPluginFactory everywhere; InitDll and
// ExitDll on Windows, ModuleEntry (with the library's handle) and
// ModuleExit elsewhere.
using GetFactoryFn = IPluginFactory*(VST3_CALL*)();
using InitModuleFn = bool(VST3_CALL*)();
using ModuleEntryFn = bool(VST3_CALL*)(void* libraryHandle);
using ExitModuleFn = bool(VST3_CALL*)();

constexpr const char* kAudioEffectClass = "Audio Module Class";
constexpr const char* kComponentControllerClass = "Component Controller Class";
constexpr const char* kPlatformTypeHwnd = "HWND";
constexpr const char* kEditorViewType = "editor";

// ---- layout checks (64-bit and 32-bit builds alike) ----

static_assert(sizeof(Uid) == 16);
static_assert(sizeof(PClassInfo) == 116);
static_assert(offsetof(PClassInfo2, classFlags) == 116 && offsetof(PClassInfo2, subCategories) == 120 &&
              sizeof(PClassInfo2) == 440);
static_assert(sizeof(PFactoryInfo) == 452);
static_assert(offsetof(BusInfo, name) == 12 && offsetof(BusInfo, busType) == 268 && sizeof(BusInfo) == 276);
static_assert(offsetof(ProcessSetup, sampleRate) == 16 && sizeof(ProcessSetup) == 24);
static_assert(offsetof(AudioBusBuffers, silenceFlags) == 8 && offsetof(AudioBusBuffers, channelBuffers32) == 16);
static_assert(offsetof(ParameterInfo, title) == 4 && offsetof(ParameterInfo, stepCount) == 772 &&
              offsetof(ParameterInfo, defaultNormalizedValue) == 776 && offsetof(ParameterInfo, flags) == 788 &&
              sizeof(ParameterInfo) == 792);
static_assert(offsetof(ProcessContext, sampleRate) == 8 && offsetof(ProcessContext, tempo) == 72 &&
              offsetof(ProcessContext, chord) == 88 && offsetof(ProcessContext, frameRate) == 96 &&
              offsetof(ProcessContext, samplesToNextClock) == 104 && sizeof(ProcessContext) == 112);
static_assert(sizeof(UnitInfo) == 268 && offsetof(UnitInfo, programListId) == 264);
static_assert(sizeof(ProgramListInfo) == 264);
#if defined(_WIN64) || defined(__x86_64__) || defined(__aarch64__)
static_assert(sizeof(AudioBusBuffers) == 24);
static_assert(offsetof(ProcessData, inputs) == 24 && offsetof(ProcessData, processContext) == 72 &&
              sizeof(ProcessData) == 80);
#elif defined(_WIN32)
static_assert(sizeof(AudioBusBuffers) == 24);
static_assert(offsetof(ProcessData, inputs) == 20 && offsetof(ProcessData, processContext) == 44 &&
              sizeof(ProcessData) == 48);
#endif

}  // namespace vst3

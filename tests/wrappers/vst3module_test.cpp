// The VST 3 test module (tests/modules/test_vst3.cpp) loaded straight from
// its bundle and driven through our own interface declarations, so the
// wrapper's tests can rely on what it does: its classes, processing to the
// sample, state, messages through the host's objects, reference counts.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "tests/support/modules.h"
#include "wrappers/vst3/vst3abi.h"

#if defined(_WIN32)
#include <windows.h>
#endif

using namespace vst3;
namespace fs = std::filesystem;

namespace {

enum { kInits, kExits, kLive, kInitializes, kTerminates, kSetups, kActivations, kStarts, kProcesses, kMaxBlock,
       kRate, kRestarts };

// The library inside testmodules/FOLDER/NAME.vst3.
std::string bundleBinary(const std::string& folder = "vst3", const std::string& name = "QvTestGain") {
#if defined(_WIN32)
    const char* arch = "x86_64-win";
    const char* suffix = ".vst3";
#else
    const char* arch = "x86_64-linux";
    const char* suffix = ".so";
#endif
    fs::path build = fs::path(stagePath("")).parent_path().parent_path();
    return (build / "testmodules" / folder / (name + ".vst3") / "Contents" / arch / (name + suffix)).string();
}

// The module, loaded and entered once per test program, never unloaded.
struct Module {
    PlatformModule library = nullptr;
    IPluginFactory2* factory = nullptr;
    void (*counts)(int32_t*) = nullptr;
    double (*lastTempo)() = nullptr;
    int64_t (*lastPosition)() = nullptr;
    int32_t (*lastLatency)() = nullptr;

    std::vector<int32_t> count() const {
        std::vector<int32_t> c(12);
        counts(c.data());
        return c;
    }
};

const Module& module() {
    static Module m = [] {
        Module m;
        m.library = platformLoadModule(bundleBinary().c_str());
        if (!m.library) return m;
#if defined(_WIN32)
        auto enter = reinterpret_cast<InitModuleFn>(platformFindSymbol(m.library, "InitDll"));
        if (!enter || !enter()) return m;
#else
        auto enter = reinterpret_cast<ModuleEntryFn>(platformFindSymbol(m.library, "ModuleEntry"));
        if (!enter || !enter(m.library)) return m;
#endif
        auto get = reinterpret_cast<GetFactoryFn>(platformFindSymbol(m.library, "GetPluginFactory"));
        IPluginFactory* plain = get ? get() : nullptr;
        if (plain) {
            void* f2 = nullptr;
            if (plain->queryInterface(kIPluginFactory2Iid.b, &f2) == kResultOk)
                m.factory = static_cast<IPluginFactory2*>(f2);
            plain->release();
        }
        m.counts = reinterpret_cast<void (*)(int32_t*)>(platformFindSymbol(m.library, "tvst3Counts"));
        m.lastTempo = reinterpret_cast<double (*)()>(platformFindSymbol(m.library, "tvst3LastTempo"));
        m.lastPosition = reinterpret_cast<int64_t (*)()>(platformFindSymbol(m.library, "tvst3LastPosition"));
        m.lastLatency = reinterpret_cast<int32_t (*)()>(platformFindSymbol(m.library, "tvst3LastLatency"));
        return m;
    }();
    return m;
}

void setSwitches(const char* value) {
#if defined(_WIN32)
    _putenv_s("QV_TVST3", value ? value : "");
#else
    if (value)
        setenv("QV_TVST3", value, 1);
    else
        unsetenv("QV_TVST3");
#endif
}

std::string narrow(const char16* text) {
    std::string s;
    for (; *text; ++text) s += static_cast<char>(*text);
    return s;
}

template <class T>
T* query(FUnknown* object, const Uid& iid) {
    void* out = nullptr;
    return object && object->queryInterface(iid.b, &out) == kResultOk ? static_cast<T*>(out) : nullptr;
}

tresult createIn(IPluginFactory* factory, const void* cid, const Uid& iid, void** out) {
    return factory->createInstance(static_cast<const char*>(cid), reinterpret_cast<const char*>(iid.b), out);
}

template <class T>
T* create(const Uid& cid, const Uid& iid) {
    void* out = nullptr;
    createIn(module().factory, cid.b, iid, &out);
    return static_cast<T*>(out);
}

// ---- the host's side: objects the test owns, so their counts are not kept ----

class MemoryStream final : public IBStream {
public:
    std::vector<uint8_t> bytes;
    size_t at = 0;
    tresult VST3_CALL queryInterface(const uint8_t*, void** object) override {
        *object = nullptr;
        return kNoInterface;
    }
    uint32_t VST3_CALL addRef() override { return 1; }
    uint32_t VST3_CALL release() override { return 1; }
    tresult VST3_CALL read(void* buffer, int32_t n, int32_t* got) override {
        const size_t k = std::min(static_cast<size_t>(n < 0 ? 0 : n), bytes.size() - at);
        std::memcpy(buffer, bytes.data() + at, k);
        at += k;
        if (got) *got = static_cast<int32_t>(k);
        return kResultOk;
    }
    tresult VST3_CALL write(void* buffer, int32_t n, int32_t* written) override {
        const auto* p = static_cast<const uint8_t*>(buffer);
        bytes.insert(bytes.begin() + static_cast<std::ptrdiff_t>(at), p, p + n);
        at += static_cast<size_t>(n);
        if (written) *written = n;
        return kResultOk;
    }
    tresult VST3_CALL seek(int64_t, int32_t, int64_t*) override { return kNotImplemented; }
    tresult VST3_CALL tell(int64_t* position) override {
        *position = static_cast<int64_t>(at);
        return kResultOk;
    }
};

std::atomic<int> liveMessages{0};

// Messages the module asks the host for; these are counted and freed.
class Message final : public IMessage, public IAttributeList {
public:
    Message() { ++liveMessages; }
    ~Message() { --liveMessages; }
    tresult VST3_CALL queryInterface(const uint8_t*, void** object) override {
        *object = nullptr;
        return kNoInterface;
    }
    uint32_t VST3_CALL addRef() override { return ++refs_; }
    uint32_t VST3_CALL release() override {
        const uint32_t n = --refs_;
        if (n == 0) delete this;
        return n;
    }
    FIDString VST3_CALL getMessageID() override { return id_.c_str(); }
    void VST3_CALL setMessageID(FIDString id) override { id_ = id ? id : ""; }
    IAttributeList* VST3_CALL getAttributes() override { return this; }
    tresult VST3_CALL setInt(AttrID, int64_t) override { return kNotImplemented; }
    tresult VST3_CALL getInt(AttrID, int64_t&) override { return kResultFalse; }
    tresult VST3_CALL setFloat(AttrID id, double value) override {
        floats_[id] = value;
        return kResultOk;
    }
    tresult VST3_CALL getFloat(AttrID id, double& value) override {
        auto it = floats_.find(id);
        if (it == floats_.end()) return kResultFalse;
        value = it->second;
        return kResultOk;
    }
    tresult VST3_CALL setString(AttrID, const char16*) override { return kNotImplemented; }
    tresult VST3_CALL getString(AttrID, char16*, uint32_t) override { return kResultFalse; }
    tresult VST3_CALL setBinary(AttrID, const void*, uint32_t) override { return kNotImplemented; }
    tresult VST3_CALL getBinary(AttrID, const void*&, uint32_t&) override { return kResultFalse; }

private:
    std::atomic<uint32_t> refs_{1};
    std::string id_;
    std::map<std::string, double> floats_;
};

class Host final : public IHostApplication, public IComponentHandler {
public:
    std::vector<int32_t> restarts;
    tresult VST3_CALL queryInterface(const uint8_t* iid, void** object) override {
        *object = nullptr;
        if (sameUid(iid, kIHostApplicationIid) || sameUid(iid, kFUnknownIid))
            *object = static_cast<IHostApplication*>(this);
        else if (sameUid(iid, kIComponentHandlerIid))
            *object = static_cast<IComponentHandler*>(this);
        return *object ? kResultOk : kNoInterface;
    }
    uint32_t VST3_CALL addRef() override { return 1; }
    uint32_t VST3_CALL release() override { return 1; }
    tresult VST3_CALL getName(char16* name) override {
        name[0] = 0;
        return kResultOk;
    }
    tresult VST3_CALL createInstance(uint8_t* cid, uint8_t* iid, void** object) override {
        *object = nullptr;
        if (!sameUid(cid, kIMessageIid) || !sameUid(iid, kIMessageIid)) return kResultFalse;
        *object = static_cast<IMessage*>(new Message);
        return kResultOk;
    }
    tresult VST3_CALL beginEdit(ParamID) override { return kResultOk; }
    tresult VST3_CALL performEdit(ParamID, ParamValue) override { return kResultOk; }
    tresult VST3_CALL endEdit(ParamID) override { return kResultOk; }
    tresult VST3_CALL restartComponent(int32_t flags) override {
        restarts.push_back(flags);
        return kResultOk;
    }
};

class Queue final : public IParamValueQueue {
public:
    ParamID id = 0;
    std::vector<std::pair<int32_t, double>> points;
    tresult VST3_CALL queryInterface(const uint8_t*, void** object) override {
        *object = nullptr;
        return kNoInterface;
    }
    uint32_t VST3_CALL addRef() override { return 1; }
    uint32_t VST3_CALL release() override { return 1; }
    ParamID VST3_CALL getParameterId() override { return id; }
    int32_t VST3_CALL getPointCount() override { return static_cast<int32_t>(points.size()); }
    tresult VST3_CALL getPoint(int32_t index, int32_t& offset, ParamValue& value) override {
        if (index < 0 || index >= getPointCount()) return kInvalidArgument;
        offset = points[static_cast<size_t>(index)].first;
        value = points[static_cast<size_t>(index)].second;
        return kResultOk;
    }
    tresult VST3_CALL addPoint(int32_t offset, ParamValue value, int32_t& index) override {
        index = getPointCount();
        points.emplace_back(offset, value);
        return kResultOk;
    }
};

// Room for eight queues, reserved, so a test's process allocates nothing.
class Changes final : public IParameterChanges {
public:
    Queue queues[8];
    int32_t used = 0;
    tresult VST3_CALL queryInterface(const uint8_t*, void** object) override {
        *object = nullptr;
        return kNoInterface;
    }
    uint32_t VST3_CALL addRef() override { return 1; }
    uint32_t VST3_CALL release() override { return 1; }
    int32_t VST3_CALL getParameterCount() override { return used; }
    IParamValueQueue* VST3_CALL getParameterData(int32_t index) override {
        return index >= 0 && index < used ? &queues[index] : nullptr;
    }
    IParamValueQueue* VST3_CALL addParameterData(const ParamID& id, int32_t& index) override {
        for (index = 0; index < used; ++index)
            if (queues[index].id == id) return &queues[index];
        if (used == 8) return nullptr;
        queues[used] = Queue{};
        queues[used].id = id;
        index = used;
        return &queues[used++];
    }
    void add(ParamID id, double value) {
        int32_t index;
        addParameterData(id, index)->addPoint(0, value, index);
    }
};

constexpr Uid kGainCid = makeUid(0x51765433, 0x4761696E, 0x8A3C51E7, 0x00000001);
constexpr Uid kControllerCid = makeUid(0x51765433, 0x43746C72, 0x8A3C51E7, 0x00000002);
constexpr Uid kSynthCid = makeUid(0x51765433, 0x53796E74, 0x8A3C51E7, 0x00000003);
constexpr Uid kSingleCid = makeUid(0x51765433, 0x53676C65, 0x8A3C51E7, 0x00000004);

class Vst3Module : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(module().factory) << bundleBinary();
        ASSERT_TRUE(module().counts && module().lastTempo && module().lastPosition && module().lastLatency);
        setSwitches(nullptr);
    }
    void TearDown() override { setSwitches(nullptr); }
};

TEST_F(Vst3Module, ListsItsClassesAndTheSingleObjectIsItsOwnController) {
    IPluginFactory2* f = module().factory;
    PFactoryInfo info{};
    ASSERT_EQ(f->getFactoryInfo(&info), kResultOk);
    EXPECT_STREQ(info.vendor, "Quorvane Tests");
    ASSERT_EQ(f->countClasses(), 4);
    struct Expected {
        const Uid* cid;
        const char *name, *category, *sub;
    } expected[4] = {{&kGainCid, "Qv Test Gain", kAudioEffectClass, "Fx|Dynamics"},
                     {&kControllerCid, "Qv Test Gain Controller", "Component Controller Class", ""},
                     {&kSynthCid, "Qv Test Synth", kAudioEffectClass, "Instrument|Synth"},
                     {&kSingleCid, "Qv Test Single", kAudioEffectClass, "Fx"}};
    for (int32_t i = 0; i < 4; ++i) {
        PClassInfo2 c{};
        ASSERT_EQ(f->getClassInfo2(i, &c), kResultOk);
        EXPECT_TRUE(sameUid(c.cid, *expected[i].cid)) << i;
        EXPECT_STREQ(c.name, expected[i].name);
        EXPECT_STREQ(c.category, expected[i].category);
        EXPECT_STREQ(c.subCategories, expected[i].sub);
        EXPECT_STREQ(c.vendor, "Quorvane Tests");
    }
    PClassInfo beyond{};
    EXPECT_NE(f->getClassInfo(4, &beyond), kResultOk);

    const int32_t live = module().count()[kLive];
    EXPECT_EQ(create<FUnknown>(kSynthCid, kIComponentIid), nullptr);

    auto* single = create<IComponent>(kSingleCid, kIComponentIid);
    ASSERT_TRUE(single);
    EXPECT_EQ(module().count()[kLive], live + 1);
    Host host;
    ASSERT_EQ(single->initialize(static_cast<IHostApplication*>(&host)), kResultOk);
    uint8_t cid[16];
    EXPECT_EQ(single->getControllerClassId(cid), kResultFalse);
    auto* controller = query<IEditController>(single, kIEditControllerIid);
    ASSERT_TRUE(controller);
    EXPECT_EQ(controller->getParameterCount(), 4);
    // One identity: the controller face leads back to the same object.
    auto* identity = query<FUnknown>(controller, kFUnknownIid);
    auto* direct = query<FUnknown>(single, kFUnknownIid);
    EXPECT_EQ(identity, direct);
    identity->release();
    direct->release();

    // Its state reaches its own parameters without messages.
    MemoryStream state;
    ASSERT_EQ(single->getState(&state), kResultOk);
    ASSERT_EQ(state.bytes.size(), 24u);
    const double quarter = 0.25;
    std::memcpy(state.bytes.data() + 8, &quarter, 8);  // the test machines are little-endian
    state.at = 0;
    ASSERT_EQ(single->setState(&state), kResultOk);
    EXPECT_EQ(controller->getParamNormalized(100), 0.25);
    EXPECT_EQ(liveMessages.load(), 0);

    controller->release();
    EXPECT_EQ(single->terminate(), kResultOk);
    EXPECT_EQ(single->release(), 0u);
    EXPECT_EQ(module().count()[kLive], live);
}

TEST_F(Vst3Module, GainEffectProcessesToTheSampleKeepsItsStateAndFreesEverything) {
    const std::vector<int32_t> before = module().count();
    Host host;
    auto* component = create<IComponent>(kGainCid, kIComponentIid);
    ASSERT_TRUE(component);
    ASSERT_EQ(component->initialize(static_cast<IHostApplication*>(&host)), kResultOk);
    EXPECT_EQ(component->initialize(static_cast<IHostApplication*>(&host)), kResultFalse);
    uint8_t cid[16];
    ASSERT_EQ(component->getControllerClassId(cid), kResultOk);
    ASSERT_TRUE(sameUid(cid, kControllerCid));
    auto* controller = create<IEditController>(kControllerCid, kIEditControllerIid);
    ASSERT_TRUE(controller);
    ASSERT_EQ(controller->initialize(static_cast<IHostApplication*>(&host)), kResultOk);
    ASSERT_EQ(controller->setComponentHandler(&host), kResultOk);
    auto* componentPoint = query<IConnectionPoint>(component, kIConnectionPointIid);
    auto* controllerPoint = query<IConnectionPoint>(controller, kIConnectionPointIid);
    ASSERT_TRUE(componentPoint && controllerPoint);
    ASSERT_EQ(componentPoint->connect(controllerPoint), kResultOk);
    ASSERT_EQ(controllerPoint->connect(componentPoint), kResultOk);
    EXPECT_EQ(module().count()[kLive], before[kLive] + 2);

    // Buses and arrangements, with and without stereo refused.
    BusInfo bus{};
    ASSERT_EQ(component->getBusCount(kAudio, kInput), 1);
    ASSERT_EQ(component->getBusInfo(kAudio, kInput, 0, bus), kResultOk);
    EXPECT_EQ(narrow(bus.name), "Input");
    EXPECT_EQ(bus.channelCount, 2);
    EXPECT_EQ(bus.flags, static_cast<uint32_t>(BusInfo::kDefaultActive));
    auto* processor = query<IAudioProcessor>(component, kIAudioProcessorIid);
    ASSERT_TRUE(processor);
    SpeakerArrangement mono = kArrMono, stereo = kArrStereo, arrangement = 0;
    EXPECT_EQ(processor->setBusArrangements(&stereo, 1, &mono, 1), kResultFalse);
    setSwitches("refuse-stereo");
    EXPECT_EQ(processor->setBusArrangements(&stereo, 1, &stereo, 1), kResultFalse);
    EXPECT_EQ(processor->setBusArrangements(&mono, 1, &mono, 1), kResultOk);
    ASSERT_EQ(processor->getBusArrangement(kOutput, 0, arrangement), kResultOk);
    EXPECT_EQ(arrangement, kArrMono);
    setSwitches(nullptr);
    EXPECT_EQ(processor->setBusArrangements(&stereo, 1, &stereo, 1), kResultOk);
    EXPECT_EQ(processor->canProcessSampleSize(kSample64), kResultFalse);
    EXPECT_EQ(processor->canProcessSampleSize(kSample32), kResultOk);

    ProcessSetup setup{kRealtime, kSample32, 64, 48000.0};
    ASSERT_EQ(processor->setupProcessing(setup), kResultOk);
    ASSERT_EQ(component->setActive(1), kResultOk);
    ASSERT_EQ(processor->setProcessing(1), kResultOk);

    // A block at gain value 0.3: the last point of the queue counts.
    constexpr int kFrames = 64;
    float in[2][kFrames], out[2][kFrames];
    for (int i = 0; i < kFrames; ++i) {
        in[0][i] = 0.01f * static_cast<float>(i) - 0.3f;
        in[1][i] = 0.7f - 0.013f * static_cast<float>(i);
    }
    float* ins[2] = {in[0], in[1]};
    float* outs[2] = {out[0], out[1]};
    AudioBusBuffers inBus{2, 0, ins}, outBus{2, 0, outs};
    Changes inChanges, outChanges;
    int32_t index;
    inChanges.addParameterData(100, index)->addPoint(0, 0.9, index);
    inChanges.queues[0].addPoint(10, 0.3, index);
    ProcessContext context{};
    context.state = ProcessContext::kTempoValid;
    context.tempo = 97.5;
    context.projectTimeSamples = 12345;
    ProcessData data{};
    data.processMode = kRealtime;
    data.symbolicSampleSize = kSample32;
    data.numSamples = kFrames;
    data.numInputs = data.numOutputs = 1;
    data.inputs = &inBus;
    data.outputs = &outBus;
    data.inputParameterChanges = &inChanges;
    data.outputParameterChanges = &outChanges;
    data.processContext = &context;
    ASSERT_EQ(processor->process(data), kResultOk);
    const float gain = static_cast<float>(2.0 * 0.3);
    float peak = 0.0f;
    for (int c = 0; c < 2; ++c)
        for (int i = 0; i < kFrames; ++i) {
            ASSERT_EQ(out[c][i], in[c][i] * gain) << c << " " << i;
            peak = std::max(peak, std::abs(out[c][i]));
        }
    ASSERT_EQ(outChanges.used, 1);
    EXPECT_EQ(outChanges.queues[0].id, 103u);
    ASSERT_EQ(outChanges.queues[0].points.size(), 1u);
    EXPECT_EQ(outChanges.queues[0].points[0].second, static_cast<double>(peak));
    EXPECT_EQ(module().lastTempo(), 97.5);
    EXPECT_EQ(module().lastPosition(), 12345);

    // Silent input: the output is marked silent and left alone. The program
    // "Loud" sets gain value 1.0 for the blocks after.
    inBus.silenceFlags = 3;
    std::fill(&out[0][0], &out[0][0] + 2 * kFrames, 7.0f);
    inChanges = Changes{};
    inChanges.add(102, 1.0);
    ASSERT_EQ(processor->process(data), kResultOk);
    EXPECT_EQ(outBus.silenceFlags, 3u);
    EXPECT_EQ(out[1][kFrames - 1], 7.0f);
    inBus.silenceFlags = 0;
    inChanges = Changes{};
    ASSERT_EQ(processor->process(data), kResultOk);
    EXPECT_EQ(outBus.silenceFlags, 0u);
    EXPECT_EQ(out[1][5], in[1][5] * 2.0f);

    // The latency set through the controller: the host hears of it, and the
    // processor already answers the new value.
    ASSERT_EQ(controller->setParamNormalized(101, 0.256), kResultOk);
    ASSERT_EQ(host.restarts.size(), 1u);
    EXPECT_EQ(host.restarts[0], kLatencyChanged);
    EXPECT_EQ(processor->getLatencySamples(), 256u);
    EXPECT_EQ(module().lastLatency(), 256);
    ASSERT_EQ(controller->setParamNormalized(101, 0.2561), kResultOk);  // still 256 samples
    EXPECT_EQ(host.restarts.size(), 1u);
    char16 text[128];
    ASSERT_EQ(controller->getParamStringByValue(100, 0.5, text), kResultOk);
    EXPECT_EQ(narrow(text), "1.00");

    // State round trip; a new state reaches the controller as a host message.
    MemoryStream state;
    ASSERT_EQ(component->getState(&state), kResultOk);
    ASSERT_EQ(state.bytes.size(), 24u);
    EXPECT_EQ(std::memcmp(state.bytes.data(), "QVT3\x01\0\0\0", 8), 0);
    double saved[2];
    std::memcpy(saved, state.bytes.data() + 8, 16);
    EXPECT_EQ(saved[0], 1.0);
    EXPECT_EQ(saved[1], 0.2561);
    const double eighth = 0.125;
    std::memcpy(state.bytes.data() + 8, &eighth, 8);
    state.at = 0;
    ASSERT_EQ(component->setState(&state), kResultOk);
    EXPECT_EQ(controller->getParamNormalized(100), 0.125);
    EXPECT_EQ(liveMessages.load(), 0);

    // Damaged states change nothing.
    for (int damage = 0; damage < 4; ++damage) {
        MemoryStream bad;
        bad.bytes = state.bytes;
        if (damage == 0) bad.bytes.pop_back();
        if (damage == 1) bad.bytes[0] = 'X';
        if (damage == 2) bad.bytes[4] = 2;
        if (damage == 3) std::memset(bad.bytes.data() + 16, 0xFF, 8);  // not a number
        EXPECT_EQ(component->setState(&bad), kResultFalse) << damage;
        EXPECT_EQ(controller->setComponentState(&bad), kResultFalse) << damage;
    }
    setSwitches("damaged-state");
    MemoryStream garbage;
    ASSERT_EQ(component->getState(&garbage), kResultOk);
    EXPECT_EQ(garbage.bytes.size(), 7u);
    EXPECT_EQ(component->setState(&garbage), kResultFalse);
    setSwitches(nullptr);
    MemoryStream again;
    ASSERT_EQ(component->getState(&again), kResultOk);
    EXPECT_EQ(again.bytes, state.bytes);

    // The controller's own state is its program.
    ASSERT_EQ(controller->setParamNormalized(102, 0.0), kResultOk);
    MemoryStream programState;
    ASSERT_EQ(controller->getState(&programState), kResultOk);
    EXPECT_EQ(programState.bytes, (std::vector<uint8_t>{'Q', 'V', 'T', 'C', 0, 0, 0, 0}));
    programState.bytes[4] = 2;
    programState.at = 0;
    ASSERT_EQ(controller->setState(&programState), kResultOk);
    EXPECT_EQ(controller->getParamNormalized(102), 1.0);
    auto* units = query<IUnitInfo>(controller, kIUnitInfoIid);
    ASSERT_TRUE(units);
    EXPECT_EQ(units->getProgramName(1, 2, text), kResultOk);
    EXPECT_EQ(narrow(text), "Loud");
    units->release();

    ASSERT_EQ(processor->setProcessing(0), kResultOk);
    ASSERT_EQ(component->setActive(0), kResultOk);
    const std::vector<int32_t> after = module().count();
    EXPECT_EQ(after[kInitializes], before[kInitializes] + 3);
    EXPECT_EQ(after[kSetups], before[kSetups] + 1);
    EXPECT_EQ(after[kActivations], before[kActivations] + 1);
    EXPECT_EQ(after[kStarts], before[kStarts] + 1);
    EXPECT_EQ(after[kProcesses], before[kProcesses] + 3);
    EXPECT_EQ(after[kMaxBlock], 64);
    EXPECT_EQ(after[kRate], 48000);
    EXPECT_EQ(after[kRestarts], before[kRestarts] + 1);
    EXPECT_GE(after[kInits], 1);

    // The host forgets to disconnect: terminate still breaks the cycle.
    EXPECT_EQ(controllerPoint->disconnect(componentPoint), kResultOk);
    componentPoint->release();
    controllerPoint->release();
    processor->release();
    EXPECT_EQ(controller->terminate(), kResultOk);
    EXPECT_EQ(component->terminate(), kResultOk);
    EXPECT_EQ(controller->release(), 0u);
    EXPECT_EQ(component->release(), 0u);
    EXPECT_EQ(module().count()[kLive], 0);
    EXPECT_EQ(module().count()[kTerminates], before[kTerminates] + 2);
}

// The hostile modules do what the wrapper's tests expect of them (all but
// the crash, which the wrapper's tests meet).
TEST_F(Vst3Module, HostileModulesMisbehaveAsTheirNamesSay) {
    PlatformModule noFactory = platformLoadModule(bundleBinary("vst3-hostile", "QvNoFactory").c_str());
    ASSERT_TRUE(noFactory);
    EXPECT_EQ(platformFindSymbol(noFactory, "GetPluginFactory"), nullptr);
    platformUnloadModule(noFactory);

    PlatformModule garbage = platformLoadModule(bundleBinary("vst3-hostile", "QvGarbage").c_str());
    ASSERT_TRUE(garbage);
    auto get = reinterpret_cast<GetFactoryFn>(platformFindSymbol(garbage, "GetPluginFactory"));
    ASSERT_TRUE(get);
    IPluginFactory* f = get();
    ASSERT_TRUE(f);
    EXPECT_EQ(f->countClasses(), 1000000);
    int effects = 0;
    for (int32_t i = 0; i < 14; ++i) {
        PClassInfo c{};
        ASSERT_EQ(f->getClassInfo(i, &c), kResultOk);
        EXPECT_EQ(std::memchr(c.name, 0, sizeof c.name), nullptr) << i;  // unterminated
        effects += std::memcmp(c.category, "Audio Module Class", 19) == 0;
    }
    EXPECT_EQ(effects, 2);
    void* object = &object;
    EXPECT_NE(createIn(f, kGainCid.b, kIComponentIid, &object), kResultOk);
    EXPECT_EQ(object, nullptr);
    EXPECT_EQ(f->release(), 0u);
    platformUnloadModule(garbage);

    PlatformModule failing = platformLoadModule(bundleBinary("vst3-hostile", "QvFailInit").c_str());
    ASSERT_TRUE(failing);
    get = reinterpret_cast<GetFactoryFn>(platformFindSymbol(failing, "GetPluginFactory"));
    ASSERT_TRUE(get);
    f = get();
    ASSERT_TRUE(f);
    ASSERT_EQ(f->countClasses(), 1);
    PClassInfo c{};
    ASSERT_EQ(f->getClassInfo(0, &c), kResultOk);
    EXPECT_STREQ(c.category, kAudioEffectClass);
    void* made = nullptr;
    ASSERT_EQ(createIn(f, c.cid, kIComponentIid, &made), kResultOk);
    auto* component = static_cast<IComponent*>(made);
    Host host;
    EXPECT_NE(component->initialize(static_cast<IHostApplication*>(&host)), kResultOk);
    EXPECT_EQ(component->release(), 0u);
    EXPECT_EQ(f->release(), 0u);
    platformUnloadModule(failing);
}

#if defined(_WIN32)
class Frame final : public IPlugFrame {
public:
    std::vector<ViewRect> asked;
    tresult VST3_CALL queryInterface(const uint8_t*, void** object) override {
        *object = nullptr;
        return kNoInterface;
    }
    uint32_t VST3_CALL addRef() override { return 1; }
    uint32_t VST3_CALL release() override { return 1; }
    tresult VST3_CALL resizeView(IPlugView* view, ViewRect* size) override {
        asked.push_back(*size);
        return view->onSize(size);
    }
};

// The editor is a child window of the host's, sized as the host says.
TEST_F(Vst3Module, EditorIsAChildWindowThatFollowsItsSize) {
    auto* controller = create<IEditController>(kControllerCid, kIEditControllerIid);
    ASSERT_TRUE(controller);
    Host host;
    ASSERT_EQ(controller->initialize(static_cast<IHostApplication*>(&host)), kResultOk);
    setSwitches("no-editor");
    EXPECT_EQ(controller->createView(kEditorViewType), nullptr);
    setSwitches("resize-on-open");
    IPlugView* view = controller->createView(kEditorViewType);
    ASSERT_TRUE(view);
    EXPECT_EQ(module().count()[kLive], 2);
    EXPECT_EQ(view->isPlatformTypeSupported(kPlatformTypeHwnd), kResultOk);
    EXPECT_NE(view->isPlatformTypeSupported("NSView"), kResultOk);
    ViewRect size{};
    ASSERT_EQ(view->getSize(&size), kResultOk);
    EXPECT_EQ(size.right - size.left, 300);
    EXPECT_EQ(size.bottom - size.top, 200);
    HWND parent = CreateWindowExA(0, "STATIC", "host", WS_OVERLAPPEDWINDOW, 0, 0, 400, 300, nullptr, nullptr, nullptr,
                                  nullptr);
    ASSERT_TRUE(parent);
    Frame frame;
    ASSERT_EQ(view->setFrame(&frame), kResultOk);
    ASSERT_EQ(view->attached(parent, kPlatformTypeHwnd), kResultOk);
    HWND child = FindWindowExA(parent, nullptr, "QvTestVst3View", nullptr);
    ASSERT_TRUE(child);
    ASSERT_EQ(frame.asked.size(), 1u);
    EXPECT_EQ(frame.asked[0].right, 320);
    EXPECT_EQ(frame.asked[0].bottom, 240);
    RECT r;
    GetClientRect(child, &r);
    EXPECT_EQ(r.right, 320);
    EXPECT_EQ(r.bottom, 240);
    ViewRect tiny{0, 0, 10, 10};
    ASSERT_EQ(view->checkSizeConstraint(&tiny), kResultOk);
    EXPECT_EQ(tiny.right, 100);
    EXPECT_EQ(tiny.bottom, 80);
    EXPECT_EQ(view->canResize(), kResultOk);
    ASSERT_EQ(view->removed(), kResultOk);
    EXPECT_FALSE(IsWindow(child));
    view->setFrame(nullptr);
    EXPECT_EQ(view->release(), 0u);
    DestroyWindow(parent);
    EXPECT_EQ(controller->terminate(), kResultOk);
    EXPECT_EQ(controller->release(), 0u);
    EXPECT_EQ(module().count()[kLive], 0);
}
#endif

}  // namespace

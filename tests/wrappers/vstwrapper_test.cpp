// The VST wrapper from the stage, over a folder tree of test effects, driven
// through its two exports with a recording host callback. The tests load the
// same effect libraries themselves to read what each effect was told.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "common/bytes.h"
#include "tests/support/messages.h"
#include "tests/support/wrapperdriver.h"
#include "wrappers/common/libraryarch.h"
#include "wrappers/vst/vst2abi.h"

namespace fs = std::filesystem;

namespace {

struct TestVstCall {
    int32_t opcode, index;
    intptr_t value;
    float opt;
};

// The test functions every test effect library exports.
struct EffectLibrary {
    PlatformModule module = nullptr;
    int (*liveCount)() = nullptr;
    Vst2Effect* (*live)(int) = nullptr;
    const TestVstCall* (*calls)(Vst2Effect*, int*) = nullptr;
    Vst2HostCallback (*host)(Vst2Effect*) = nullptr;
    intptr_t (*entryVersion)() = nullptr;
    void (*counts)(Vst2Effect*, int*, int*, double*) = nullptr;
    void (*chunkCall)(Vst2Effect*, int32_t*, intptr_t*) = nullptr;

    explicit EffectLibrary(const std::string& path) {
        module = platformLoadModule(path.c_str());
        liveCount = reinterpret_cast<int (*)()>(platformFindSymbol(module, "testVstLiveCount"));
        live = reinterpret_cast<Vst2Effect* (*)(int)>(platformFindSymbol(module, "testVstLive"));
        calls = reinterpret_cast<const TestVstCall* (*)(Vst2Effect*, int*)>(platformFindSymbol(module, "testVstCalls"));
        host = reinterpret_cast<Vst2HostCallback (*)(Vst2Effect*)>(platformFindSymbol(module, "testVstHost"));
        entryVersion = reinterpret_cast<intptr_t (*)()>(platformFindSymbol(module, "testVstEntryVersion"));
        counts = reinterpret_cast<void (*)(Vst2Effect*, int*, int*, double*)>(platformFindSymbol(module, "testVstCounts"));
        chunkCall =
            reinterpret_cast<void (*)(Vst2Effect*, int32_t*, intptr_t*)>(platformFindSymbol(module, "testVstChunkCall"));
    }
    ~EffectLibrary() { platformUnloadModule(module); }
    EffectLibrary(const EffectLibrary&) = delete;
    EffectLibrary& operator=(const EffectLibrary&) = delete;

    std::vector<TestVstCall> log(Vst2Effect* effect) const {
        int n = 0;
        const TestVstCall* c = calls(effect, &n);
        return std::vector<TestVstCall>(c, c + n);
    }
    std::vector<int32_t> opcodes(Vst2Effect* effect) const {
        std::vector<int32_t> ops;
        for (const TestVstCall& c : log(effect)) ops.push_back(c.opcode);
        return ops;
    }
};

const WrapperDriver& vstwrapper() {
    static WrapperDriver w = WrapperDriver::staged("vstwrapper");
    return w;
}

const char kSeparator = platformPathSeparator();

class VstWrapper : public ::testing::Test {
protected:
    AppFolder app;
    const WrapperDriver& w = vstwrapper();
    std::string vstDir;

    void SetUp() override {
        ASSERT_NE(nullptr, w.dispatch) << "vstwrapper not staged";
        ASSERT_TRUE(platformWriteSetting("VSTDir", nullptr));
        vstDir = app.path() + "VST Plugins" + kSeparator;
        addEffect("tvst_stereo", "Guitar/stereo");
        addEffect("tvst_mono", "Guitar/Deep/mono");
        for (const char* name : {"six", "accumulate", "chunk", "editor", "capmain", "identzero", "identwrong",
                                 "badmagic", "noentry"})
            addEffect(std::string("tvst_") + name, name);
        fs::copy_file(testModulePath("tvst_stereo"), vstDir + "shout" + upper(librarySuffix()));
        std::ofstream(vstDir + "notes.txt") << "not a library";
        messagesStart();
        ASSERT_EQ(1, w.open(app.path()));
        w.call(WD_SET_SAMPLE_RATE, 0, 0);
        w.call(WD_SET_BLOCK_SIZE, 0, 0);
        const float tempo = 120.0f;
        w.call(WD_SET_TEMPO, reinterpret_cast<intptr_t>(&tempo), 4);
        ASSERT_EQ(1, w.call(WD_REFRESH_LIST));
    }
    void TearDown() override {
        w.call(WD_CLOSE);
        w.call(WD_SET_SAMPLE_RATE, 0, 0);
        w.call(WD_SET_BLOCK_SIZE, 0, 0);
        platformWriteSetting("VSTDir", nullptr);
    }

    static std::string upper(std::string s) {
        for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        return s;
    }
    static std::string native(std::string path) {
        for (char& c : path)
            if (c == '/') c = kSeparator;
        return path;
    }
    void addEffect(const std::string& module, const std::string& relative) {
        fs::path target(vstDir + native(relative) + librarySuffix());
        fs::create_directories(target.parent_path());
        fs::copy_file(testModulePath(module), target);
    }
    std::string effectPath(const std::string& relative) const { return vstDir + native(relative) + librarySuffix(); }

    // The effect object behind the only live instance of a library.
    static Vst2Effect* onlyEffect(const EffectLibrary& lib) {
        EXPECT_EQ(1, lib.liveCount());
        return lib.live(0);
    }

    void configure(int rate, int frames) {
        w.call(WD_SET_SAMPLE_RATE, 0, rate);
        w.call(WD_SET_BLOCK_SIZE, 0, frames);
    }

    // One block of constant left/right input through an instance.
    std::pair<float, float> run(intptr_t handle, float left, float right, bool stereo = true, int frames = 64) {
        std::vector<float> l(static_cast<size_t>(frames), left), r(static_cast<size_t>(frames), right);
        w.process(handle, l.data(), stereo ? r.data() : nullptr);
        for (int i = 1; i < frames; ++i) {
            EXPECT_EQ(l[0], l[static_cast<size_t>(i)]);
            EXPECT_EQ(r[0], r[static_cast<size_t>(i)]);
        }
        return {l[0], r[0]};
    }
};

TEST_F(VstWrapper, OpenChecksTheHostVersionWithItsOwnCaption) {
    w.call(WD_CLOSE);
    RecordingHost::current().version = 120;
    RecordingHost::current().requests.clear();
    EXPECT_EQ(0, w.call(WD_OPEN, reinterpret_cast<intptr_t>(app.path().c_str()), 0));
    std::vector<ShownMessage> shown = messagesTaken();
    ASSERT_EQ(1u, shown.size());
    EXPECT_EQ("Wrapper will work with Quorvane Live v1.21 only!", shown[0].text);
    EXPECT_EQ("Host version is not correct", shown[0].caption);
    char name[kWrapperNameBuffer];
    ASSERT_EQ(1, w.call(WD_GET_NAME, reinterpret_cast<intptr_t>(name), 100));
    EXPECT_STREQ("VST Plugins", name);
}

TEST_F(VstWrapper, ScanListsEveryLibraryOfTheTreeWithNumberedProgress) {
    std::vector<std::string> names = w.available();
    EXPECT_EQ((std::multiset<std::string>{"stereo", "mono", "six", "accumulate", "chunk", "editor", "capmain",
                                          "identzero", "identwrong", "badmagic", "noentry"}),
              std::multiset<std::string>(names.begin(), names.end()));
    EXPECT_EQ(11, w.count(WD_GET_AVAILABLE_COUNT));
    std::vector<std::string> texts = RecordingHost::current().scanTexts();
    ASSERT_EQ(names.size(), texts.size());
    std::set<std::string> paths;
    for (size_t i = 0; i < texts.size(); ++i) {
        const std::string prefix = "VST Plugin " + std::to_string(i) + ": " + vstDir;
        ASSERT_EQ(prefix, texts[i].substr(0, prefix.size()));
        paths.insert(texts[i].substr(prefix.size() - vstDir.size()));
    }
    EXPECT_TRUE(paths.count(effectPath("Guitar/Deep/mono")));
    EXPECT_TRUE(paths.count(effectPath("chunk")));
    char name[kWrapperNameBuffer];
    EXPECT_EQ(0, w.call(WD_GET_AVAILABLE_NAME, reinterpret_cast<intptr_t>(name), 11));
    EXPECT_EQ(0, w.call(WD_GET_AVAILABLE_NAME, reinterpret_cast<intptr_t>(name), -1));
}

TEST_F(VstWrapper, AnAbortedScanKeepsWhatItFoundAndSucceeds) {
    RecordingHost::current() = RecordingHost{};
    RecordingHost::current().scanReportsBeforeAbort = 2;
    EXPECT_EQ(1, w.call(WD_REFRESH_LIST));
    EXPECT_EQ(3u, RecordingHost::current().scanTexts().size());
    EXPECT_EQ(3, w.count(WD_GET_AVAILABLE_COUNT));
}

TEST_F(VstWrapper, TheStoredDirectoryIsScannedAndAMissingOneFails) {
    fs::create_directories(app.path() + "Other");
    fs::copy_file(testModulePath("tvst_mono"), app.path() + "Other" + kSeparator + "solo" + librarySuffix());
    // Stored without its trailing separator.
    ASSERT_TRUE(platformWriteSetting("VSTDir", (app.path() + "Other").c_str()));
    EXPECT_EQ(1, w.call(WD_REFRESH_LIST));
    EXPECT_EQ(std::vector<std::string>{"solo"}, w.available());
    ASSERT_TRUE(platformWriteSetting("VSTDir", (app.path() + "Nowhere" + kSeparator).c_str()));
    EXPECT_EQ(0, w.call(WD_REFRESH_LIST));
    EXPECT_EQ(0, w.count(WD_GET_AVAILABLE_COUNT));
}

TEST_F(VstWrapper, InstantiationSendsRateBlockOpenAndMainsInOrder) {
    configure(48000, 64);
    intptr_t h = w.create("stereo");
    ASSERT_NE(0, h);
    EXPECT_EQ("stereo", w.instanceName(h));
    EffectLibrary lib(effectPath("Guitar/stereo"));
    Vst2Effect* effect = onlyEffect(lib);
    EXPECT_EQ(2, lib.entryVersion());  // asked with no effect yet
    std::vector<TestVstCall> log = lib.log(effect);
    ASSERT_GE(log.size(), 7u);
    const std::vector<int32_t> start{kVst2Identify,     kVst2SetSampleRate, kVst2SetBlockSize, kVst2Open,
                                     kVst2MainsChanged, kVst2SetSampleRate, kVst2SetBlockSize};
    const std::vector<int32_t> ops = lib.opcodes(effect);
    EXPECT_EQ(start, std::vector<int32_t>(ops.begin(), ops.begin() + 7));
    EXPECT_EQ(48000.0f, log[1].opt);
    EXPECT_EQ(64, log[2].value);
    EXPECT_EQ(1, log[4].value);
    // Then the program menu's names, and program 0.
    const std::vector<int32_t> rest{kVst2GetProgramName,        kVst2GetProgramNameIndexed, kVst2GetProgramNameIndexed,
                                    kVst2GetProgramNameIndexed, kVst2GetProgramNameIndexed, kVst2SetProgram};
    EXPECT_EQ(rest, std::vector<int32_t>(ops.begin() + 7, ops.end()));
    EXPECT_EQ(-1, log[8].value);
    EXPECT_EQ(3, log[11].index);
    EXPECT_EQ(0, log.back().value);
}

TEST_F(VstWrapper, WithoutConfigurationEffectsGetTheFallbackRateAndBlockSize) {
    intptr_t h = w.create("mono");  // its entry point is only "VSTPluginMain"
    ASSERT_NE(0, h);
    EffectLibrary lib(effectPath("Guitar/Deep/mono"));
    Vst2Effect* effect = onlyEffect(lib);
    std::vector<TestVstCall> log = lib.log(effect);
    EXPECT_EQ(44100.0f, log[1].opt);
    EXPECT_EQ(1000, log[2].value);
    // No indexed names: each program is selected and asked for its name.
    const std::vector<int32_t> ops = lib.opcodes(effect);
    std::vector<int32_t> menu(ops.begin() + 7, ops.end());
    EXPECT_EQ((std::vector<int32_t>{kVst2GetProgramName, kVst2GetProgramNameIndexed, kVst2SetProgram,
                                    kVst2GetProgramName, kVst2GetProgramNameIndexed, kVst2SetProgram,
                                    kVst2GetProgramName, kVst2GetProgramNameIndexed, kVst2SetProgram,
                                    kVst2GetProgramName, kVst2GetProgramNameIndexed, kVst2SetProgram,
                                    kVst2GetProgramName, kVst2SetProgram}),
              menu);
    EXPECT_EQ(1, w.count(WD_GET_INSTANCE_COUNT));
}

TEST_F(VstWrapper, EntryPointsAndIdentifyAnswersDecideWhatLoads) {
    EXPECT_NE(0, w.create("capmain"));
    EXPECT_NE(0, w.create("editor"));
    EXPECT_NE(0, w.create("identzero"));  // current effects answer 0
    EXPECT_EQ(0, w.create("identwrong"));
    EXPECT_EQ(0, w.create("badmagic"));
    EXPECT_EQ(0, w.create("noentry"));
    EXPECT_EQ(3, w.count(WD_GET_INSTANCE_COUNT));
    EffectLibrary wrong(effectPath("identwrong"));
    EXPECT_EQ(0, wrong.liveCount());  // refused effects are closed
    intptr_t handle = 0;
    EXPECT_EQ(0, w.call(WD_CREATE_INSTANCE, reinterpret_cast<intptr_t>(&handle), 99));
}

TEST_F(VstWrapper, HostCallbackAnswersEveryRequestOfItsTable) {
    configure(96000, 128);
    intptr_t h = w.create("stereo");
    ASSERT_NE(0, h);
    EffectLibrary lib(effectPath("Guitar/stereo"));
    Vst2Effect* e = onlyEffect(lib);
    const float bpm = 133.5f;
    ASSERT_EQ(1, w.call(WD_SET_TEMPO, reinterpret_cast<intptr_t>(&bpm), 4));
    auto ask = [&](int32_t opcode, void* ptr = nullptr, Vst2Effect* who = nullptr) {
        return lib.host(e)(who ? who : e, opcode, 0, 0, ptr, 0.0f);
    };
    EXPECT_EQ(0, ask(kVst2HostAutomate));
    EXPECT_EQ(2, ask(kVst2HostVersion));
    EXPECT_EQ(0x51756F20, ask(kVst2HostCurrentId));
    EXPECT_EQ(100, ask(kVst2HostIdle));
    EXPECT_EQ(1, ask(kVst2HostPinConnected));
    auto* time = reinterpret_cast<const Vst2TimeInfo*>(ask(kVst2HostGetTime));
    ASSERT_NE(nullptr, time);
    EXPECT_EQ(96000.0, time->sampleRate);
    EXPECT_EQ(133.5, time->tempo);
    EXPECT_EQ(kVst2TimeTempoValid, time->flags);
    EXPECT_EQ(0.0, time->samplePos);
    EXPECT_EQ(0, time->timeSigNumerator);
    EXPECT_EQ(1335000, ask(kVst2HostTempoAt));
    EXPECT_EQ(1, ask(kVst2HostSizeWindow));
    EXPECT_EQ(96000, ask(kVst2HostGetSampleRate));
    EXPECT_EQ(128, ask(kVst2HostGetBlockSize));
    EXPECT_EQ(1, ask(kVst2HostWillReplaceOrAccumulate));
    for (const char* yes : {"sizeWindow", "supplyIdle", "sendVstTimeInfo"})
        EXPECT_EQ(1, ask(kVst2HostCanDo, const_cast<char*>(yes))) << yes;
    for (const char* no : {"sendVstEvents", "sizewindow", ""})
        EXPECT_EQ(0, ask(kVst2HostCanDo, const_cast<char*>(no))) << no;
    EXPECT_EQ(0, ask(kVst2HostCanDo));
    auto* folder = reinterpret_cast<const char*>(ask(kVst2HostGetDirectory));
    ASSERT_NE(nullptr, folder);
    EXPECT_EQ(vstDir + "Guitar" + kSeparator, std::string(folder));
    for (int32_t other : {5, 6, 23, 42, 100, -1}) EXPECT_EQ(0, ask(other)) << other;

    // Requests naming an effect the wrapper does not host find no instance.
    Vst2Effect stranger{};
    EXPECT_EQ(0, ask(kVst2HostSizeWindow, nullptr, &stranger));
    EXPECT_EQ(0, ask(kVst2HostGetDirectory, nullptr, &stranger));

    // Unconfigured, the fallbacks.
    configure(0, 0);
    EXPECT_EQ(44100, ask(kVst2HostGetSampleRate));
    EXPECT_EQ(1000, ask(kVst2HostGetBlockSize));
}

TEST_F(VstWrapper, ChannelsAreAdaptedBetweenChainAndEffect) {
    configure(44100, 64);
    const intptr_t stereo = w.create("stereo"), mono = w.create("mono"), six = w.create("six");
    ASSERT_NE(0, stereo);
    ASSERT_NE(0, mono);
    ASSERT_NE(0, six);  // created, but passed through
    // Output k is (k + 1) times input k of the effect.
    EXPECT_EQ(std::make_pair(0.1f, 0.4f), run(stereo, 0.1f, 0.2f));
    // A mono effect in a stereo chain hears left + right, on both sides.
    EXPECT_EQ(std::make_pair(0.1f + 0.2f, 0.1f + 0.2f), run(mono, 0.1f, 0.2f));
    // A stereo effect in a mono chain hears left twice; left is the sum.
    EXPECT_EQ(0.1f + 0.2f, run(stereo, 0.1f, 0.0f, false).first);
    EXPECT_EQ(0.25f, run(mono, 0.25f, 0.0f, false).first);
    EXPECT_EQ(std::make_pair(0.1f, 0.2f), run(six, 0.1f, 0.2f));
    EXPECT_EQ(0.5f, run(six, 0.5f, 0.0f, false).first);
    w.process(0, nullptr, nullptr);
}

TEST_F(VstWrapper, AccumulatingEffectsGetClearedOutputsAndReplacingIsPreferred) {
    configure(44100, 32);
    const intptr_t acc = w.create("accumulate"), stereo = w.create("stereo");
    for (int block = 0; block < 3; ++block) EXPECT_EQ(std::make_pair(0.1f, 0.4f), run(acc, 0.1f, 0.2f, true, 32));
    run(stereo, 0.1f, 0.2f, true, 32);
    EffectLibrary accLib(effectPath("accumulate")), stereoLib(effectPath("Guitar/stereo"));
    int replacing = 0, accumulating = 0;
    double tempo = 0;
    accLib.counts(onlyEffect(accLib), &replacing, &accumulating, &tempo);
    EXPECT_EQ(0, replacing);
    EXPECT_EQ(3, accumulating);
    EXPECT_EQ(120.0, tempo);  // read through the host during processing
    stereoLib.counts(onlyEffect(stereoLib), &replacing, &accumulating, &tempo);
    EXPECT_EQ(1, replacing);
    EXPECT_EQ(0, accumulating);
}

TEST_F(VstWrapper, BypassProcessingAndFormatChangesReachEffectsAsMainsRateAndBlock) {
    configure(44100, 64);
    const intptr_t h = w.create("stereo");
    EffectLibrary lib(effectPath("Guitar/stereo"));
    Vst2Effect* e = onlyEffect(lib);
    auto since = [&](size_t from) {
        std::vector<TestVstCall> log = lib.log(e);
        return std::vector<TestVstCall>(log.begin() + static_cast<long>(from), log.end());
    };
    size_t mark = lib.log(e).size();
    EXPECT_EQ(1, w.call(WD_SET_INSTANCE_ACTIVE, h, 0));
    EXPECT_EQ(1, w.call(WD_SET_INSTANCE_ACTIVE, h, 0));  // no change, nothing sent
    EXPECT_EQ(1, w.call(WD_GET_INSTANCE_ACTIVE, h, 4));
    EXPECT_EQ(std::make_pair(0.1f, 0.2f), run(h, 0.1f, 0.2f));
    EXPECT_EQ(1, w.call(WD_SET_INSTANCE_ACTIVE, h, 1));
    EXPECT_EQ(2, w.call(WD_GET_INSTANCE_ACTIVE, h, 4));
    EXPECT_EQ(0, w.call(WD_GET_INSTANCE_ACTIVE, 0, 4));
    std::vector<TestVstCall> calls = since(mark);
    ASSERT_EQ(2u, calls.size());
    EXPECT_EQ(kVst2MainsChanged, calls[0].opcode);
    EXPECT_EQ(0, calls[0].value);
    EXPECT_EQ(1, calls[1].value);

    mark = lib.log(e).size();
    w.call(WD_SET_PROCESSING, 0, 0);
    w.call(WD_SET_PROCESSING, 0, 1);
    w.call(WD_SET_SAMPLE_RATE, 0, 44100);  // unchanged: nothing
    w.call(WD_SET_SAMPLE_RATE, 0, 48000);
    w.call(WD_SET_BLOCK_SIZE, 0, 256);
    calls = since(mark);
    ASSERT_EQ(4u, calls.size());
    EXPECT_EQ(kVst2MainsChanged, calls[0].opcode);
    EXPECT_EQ(0, calls[0].value);
    EXPECT_EQ(1, calls[1].value);
    EXPECT_EQ(kVst2SetSampleRate, calls[2].opcode);
    EXPECT_EQ(48000.0f, calls[2].opt);
    EXPECT_EQ(kVst2SetBlockSize, calls[3].opcode);
    EXPECT_EQ(256, calls[3].value);
    EXPECT_EQ(std::make_pair(0.1f, 0.4f), run(h, 0.1f, 0.2f, true, 256));

    // A stopped engine (0) is stored but not passed on, and nothing runs.
    mark = lib.log(e).size();
    configure(0, 0);
    EXPECT_TRUE(since(mark).empty());
    EXPECT_EQ(std::make_pair(0.1f, 0.2f), run(h, 0.1f, 0.2f));
}

TEST_F(VstWrapper, InstancesAreListedDestroyedAndReplaced) {
    const intptr_t a = w.create("stereo"), b = w.create("chunk"), c = w.create("mono");
    ASSERT_NE(0, c);
    RecordingHost::current().requests.clear();
    EXPECT_EQ(1, w.call(WD_DESTROY_INSTANCE, a, 4));
    EXPECT_EQ((std::vector<HostRequest>{{HC_INSTANCE_DESTROYED, a, ""}}), RecordingHost::current().requests);
    EffectLibrary stereoLib(effectPath("Guitar/stereo"));
    EXPECT_EQ(0, stereoLib.liveCount());
    intptr_t first = 0;
    ASSERT_EQ(1, w.call(WD_GET_INSTANCE, reinterpret_cast<intptr_t>(&first), 0));
    EXPECT_EQ(b, first);
    EXPECT_EQ(0, w.call(WD_IS_INSTANCE, a, 4));
    EXPECT_EQ(0, w.call(WD_DESTROY_INSTANCE, a, 4));

    ASSERT_EQ(1, w.setUserData(b, "slot"));
    EXPECT_EQ(1, w.call(WD_REPLACE_INSTANCE, b, w.indexOf("editor")));
    EXPECT_EQ("editor", w.instanceName(b));
    EXPECT_EQ("", w.userData(b));
    EffectLibrary chunkLib(effectPath("chunk"));
    EXPECT_EQ(0, chunkLib.liveCount());
    EXPECT_EQ(0, w.call(WD_REPLACE_INSTANCE, b, w.indexOf("badmagic")));
    EXPECT_EQ("editor", w.instanceName(b));

    EXPECT_EQ(0, w.call(WD_SHOW_EDITOR, b, 0));
    RecordingHost::current().requests.clear();
    EXPECT_EQ(1, w.call(WD_CLOSE_EDITOR, b, 4));
    EXPECT_EQ((std::vector<HostRequest>{{HC_EDITOR_CLOSED, b, ""}}), RecordingHost::current().requests);

    RecordingHost::current().requests.clear();
    EXPECT_EQ(1, w.call(WD_DESTROY_ALL));
    EXPECT_EQ((std::vector<HostRequest>{{HC_ALL_INSTANCES_DESTROYED, 0, ""}}), RecordingHost::current().requests);
    EXPECT_EQ(0, w.count(WD_GET_INSTANCE_COUNT));
    EXPECT_EQ(0, w.call(WD_DESTROY_INSTANCE, 0, 4));
    EXPECT_EQ(0, w.call(27, 0, 0));
}

// ---- the state blob ----

std::vector<uint8_t> blobTag() { return {'V', 'S', 'T', 'W', 'R', 'A', 'P', '_'}; }

void addRecord(std::vector<uint8_t>& blob, const std::string& path, const std::string& form,
               const std::vector<uint8_t>& body, uint32_t count, const std::string& user) {
    uint8_t word[4];
    blob.insert(blob.end(), {'P', 'L', 'U', 'G'});
    putU16(word, static_cast<uint16_t>(path.size()));
    blob.insert(blob.end(), word, word + 2);
    blob.insert(blob.end(), path.begin(), path.end());
    putU32(word, static_cast<uint32_t>(9 + body.size()));
    blob.insert(blob.end(), word, word + 4);
    blob.insert(blob.end(), form.begin(), form.end());
    putU32(word, count);
    blob.insert(blob.end(), word, word + 4);
    blob.insert(blob.end(), body.begin(), body.end());
    blob.insert(blob.end(), {'D', 'A', 'T', 'A'});
    putU32(word, static_cast<uint32_t>(user.size()));
    blob.insert(blob.end(), word, word + 4);
    blob.insert(blob.end(), user.begin(), user.end());
}

std::vector<uint8_t> floats(std::initializer_list<float> values) {
    std::vector<uint8_t> bytes;
    for (float v : values) {
        uint8_t b[4];
        putF32(b, v);
        bytes.insert(bytes.end(), b, b + 4);
    }
    return bytes;
}

TEST_F(VstWrapper, StateIsSavedAsParametersOrTheCurrentProgramsChunk) {
    const intptr_t p = w.create("stereo"), c = w.create("chunk");
    w.setUserData(p, "slot0");
    std::vector<uint8_t> expected = blobTag();
    addRecord(expected, effectPath("Guitar/stereo"), "PARAM", floats({0.25f, 0.5f, 0.75f}), 3, "slot0");
    std::vector<uint8_t> chunk = {'T', 'V', 'C', 'H'};
    std::vector<uint8_t> gain = floats({0.25f});
    chunk.insert(chunk.end(), gain.begin(), gain.end());
    chunk.insert(chunk.end(), {0, 0, 0, 0});
    addRecord(expected, effectPath("chunk"), "CHUNK", chunk, 12, "");
    EXPECT_EQ(expected, w.save());
    EffectLibrary lib(effectPath("chunk"));
    int32_t index = -1;
    intptr_t size = 0;
    lib.chunkCall(onlyEffect(lib), &index, &size);
    EXPECT_EQ(1, index);  // the current program only
    (void)c;

    w.call(WD_DESTROY_ALL);
    EXPECT_EQ(blobTag(), w.save());
}

TEST_F(VstWrapper, LoadingRestoresStateAndUserDataAfterTheInstancesThereAre) {
    configure(44100, 64);
    w.create("mono");
    std::vector<uint8_t> blob = blobTag();
    addRecord(blob, effectPath("Guitar/stereo"), "PARAM", floats({0.5f, 0.1f, 0.2f, 0.9f}), 4, "two");
    std::vector<uint8_t> chunk = {'T', 'V', 'C', 'H'};
    std::vector<uint8_t> gain = floats({0.75f});
    chunk.insert(chunk.end(), gain.begin(), gain.end());
    chunk.insert(chunk.end(), {2, 0, 0, 0});
    addRecord(blob, effectPath("chunk"), "CHUNK", chunk, 12, "");
    ASSERT_EQ(1, w.load(blob));
    ASSERT_EQ(3, w.count(WD_GET_INSTANCE_COUNT));
    intptr_t stereo = 0, chunky = 0;
    w.call(WD_GET_INSTANCE, reinterpret_cast<intptr_t>(&stereo), 1);
    w.call(WD_GET_INSTANCE, reinterpret_cast<intptr_t>(&chunky), 2);
    EXPECT_EQ("stereo", w.instanceName(stereo));
    EXPECT_EQ("two", w.userData(stereo));
    EXPECT_EQ(std::make_pair(0.2f, 0.8f), run(stereo, 0.1f, 0.2f));  // gain 4 * 0.5
    EXPECT_EQ(std::make_pair(3.0f * 0.1f, 6.0f * 0.1f), run(chunky, 0.1f, 0.1f));  // gain 4 * 0.75
    EffectLibrary lib(effectPath("chunk"));
    int32_t index = -1;
    intptr_t size = 0;
    lib.chunkCall(onlyEffect(lib), &index, &size);
    EXPECT_EQ(1, index);
    EXPECT_EQ(12, size);

    // Saving again gives the loaded state back (the extra parameter is gone).
    std::vector<uint8_t> again = w.save();
    std::vector<uint8_t> expected = blobTag();
    addRecord(expected, effectPath("Guitar/Deep/mono"), "PARAM", floats({0.25f, 0.5f, 0.75f}), 3, "");
    addRecord(expected, effectPath("Guitar/stereo"), "PARAM", floats({0.5f, 0.1f, 0.2f}), 3, "two");
    addRecord(expected, effectPath("chunk"), "CHUNK", chunk, 12, "");
    EXPECT_EQ(expected, again);
    EXPECT_EQ(1, w.load(blobTag()));
    EXPECT_EQ(3, w.count(WD_GET_INSTANCE_COUNT));
}

TEST_F(VstWrapper, AMovedLibraryIsFoundByItsTitleAmongTheScannedOnes) {
    w.setUserData(w.create("stereo"), "u");
    std::vector<uint8_t> blob = w.save();
    w.call(WD_CLOSE);
    fs::rename(app.path() + "VST Plugins", app.path() + "Moved");
    ASSERT_EQ(1, w.open(app.path()));
    ASSERT_TRUE(platformWriteSetting("VSTDir", (app.path() + "Moved" + kSeparator).c_str()));
    ASSERT_EQ(1, w.call(WD_REFRESH_LIST));
    ASSERT_EQ(1, w.load(blob));
    intptr_t h = 0;
    ASSERT_EQ(1, w.call(WD_GET_INSTANCE, reinterpret_cast<intptr_t>(&h), 0));
    EXPECT_EQ("stereo", w.instanceName(h));
    EXPECT_EQ("u", w.userData(h));
    EXPECT_TRUE(messagesTaken().empty());
    // The instance now names the library where it was found.
    std::vector<uint8_t> saved = w.save();
    const std::string moved = app.path() + native("Moved/Guitar/stereo") + librarySuffix();
    EXPECT_EQ(moved, std::string(saved.begin() + 14, saved.begin() + 14 + static_cast<long>(moved.size())));
}

TEST_F(VstWrapper, OnlyLocalAbsolutePathsFromABlobAreLoaded) {
    // A library in the current folder that the scan does not know.
    const std::string cwdName = "qvcwd_only" + librarySuffix();
    // (A copy left by an interrupted run goes first: MinGW's copy_file does
    // not overwrite.)
    fs::remove(fs::current_path() / cwdName);
    fs::copy_file(testModulePath("tvst_stereo"), fs::current_path() / cwdName, fs::copy_options::overwrite_existing);
    std::vector<std::string> refused = {std::string(".") + kSeparator + cwdName, cwdName,
#if defined(_WIN32)
                                        "C:qvcwd_only.dll", "\\\\server\\share\\qvcwd_only.dll",
                                        "\\\\?\\" + fs::absolute(cwdName).string(),
#endif
                                        fs::absolute(cwdName).string() + ".txt"};
    for (const std::string& path : refused) {
        messagesStart();
        std::vector<uint8_t> blob = blobTag();
        addRecord(blob, path, "PARAM", {}, 0, "");
        EXPECT_EQ(1, w.load(blob)) << path;
        EXPECT_EQ(0, w.count(WD_GET_INSTANCE_COUNT)) << path;
        std::vector<ShownMessage> shown = messagesTaken();
        ASSERT_EQ(1u, shown.size()) << path;
        EXPECT_EQ("Unable to load plugin:\n" + path, shown[0].text);
        EXPECT_EQ("VST Plugins", shown[0].caption);
    }
    // The same file by its full local path loads.
    std::vector<uint8_t> blob = blobTag();
    addRecord(blob, fs::absolute(cwdName).string(), "PARAM", {}, 0, "");
    EXPECT_EQ(1, w.load(blob));
    EXPECT_EQ(1, w.count(WD_GET_INSTANCE_COUNT));
    w.call(WD_DESTROY_ALL);
    fs::remove(fs::current_path() / cwdName);

    // A refused path whose title was scanned still loads the scanned library.
    blob = blobTag();
    addRecord(blob, std::string("..") + kSeparator + "stereo" + librarySuffix(), "PARAM", {}, 0, "");
    EXPECT_EQ(1, w.load(blob));
    EXPECT_EQ(1, w.count(WD_GET_INSTANCE_COUNT));
}

TEST_F(VstWrapper, MalformedBlobsStopWithZeroAndKeepWhatWasCreated) {
    const std::string stereo = effectPath("Guitar/stereo");
    std::vector<uint8_t> good = blobTag();
    addRecord(good, stereo, "PARAM", floats({0.3f}), 1, "a");
    addRecord(good, effectPath("chunk"), "CHUNK", {1, 2, 3}, 3, "b");
    // Every cut of a valid blob is refused or complete, never read past.
    for (size_t n = 0; n < good.size(); ++n) {
        std::vector<uint8_t> cut(good.begin(), good.begin() + static_cast<long>(n));
        const size_t firstRecordEnd = 8 + 18 + stereo.size() + 13 + 1;
        const intptr_t expected = n == 8 || n == firstRecordEnd;
        EXPECT_EQ(expected, w.load(cut)) << n;
        w.call(WD_DESTROY_ALL);
    }
    EXPECT_EQ(0, w.load({'V', 'S', 'T', 'W', 'R', 'A', 'P'}));
    EXPECT_EQ(0, w.load({'D', 'E', 'F', 'W', 'R', 'A', 'P', '_'}));

    auto withForm = [&](const std::string& form, uint32_t count, size_t bodyBytes) {
        std::vector<uint8_t> blob = blobTag();
        addRecord(blob, stereo, "PARAM", {}, 0, "kept");
        addRecord(blob, stereo, form, std::vector<uint8_t>(bodyBytes, 0), count, "");
        return blob;
    };
    EXPECT_EQ(0, w.load(withForm("BLOB!", 0, 0)));
    EXPECT_EQ(2, w.count(WD_GET_INSTANCE_COUNT));  // both records' libraries were created
    intptr_t first = 0;
    w.call(WD_GET_INSTANCE, reinterpret_cast<intptr_t>(&first), 0);
    EXPECT_EQ("kept", w.userData(first));
    w.call(WD_DESTROY_ALL);
    EXPECT_EQ(0, w.load(withForm("PARAM", 0x40000001u, 4)));  // 4p wraps in 32 bits
    w.call(WD_DESTROY_ALL);
    EXPECT_EQ(0, w.load(withForm("CHUNK", 0xFFFFFFFFu, 2)));
    w.call(WD_DESTROY_ALL);

    // Path lengths outside 5..260, and a state size beyond the blob.
    for (uint16_t n : {uint16_t{4}, uint16_t{261}, uint16_t{0xFFFF}}) {
        std::vector<uint8_t> blob = blobTag();
        addRecord(blob, std::string(n, 'x'), "PARAM", {}, 0, "");
        EXPECT_EQ(0, w.load(blob)) << n;
    }
    std::vector<uint8_t> big = good;
    putU32(&big[8 + 6 + stereo.size()], 0x7FFFFFFFu);
    EXPECT_EQ(0, w.load(big));
    w.call(WD_DESTROY_ALL);
    std::vector<uint8_t> noData = good;
    noData[8 + 6 + stereo.size() + 4 + 13] = 'X';  // "DATA" damaged
    EXPECT_EQ(0, w.load(noData));
}

TEST_F(VstWrapper, AMissingLibraryIsReportedAndTheRestLoads) {
    const std::string missing = vstDir + "gone" + librarySuffix();
    std::vector<uint8_t> blob = blobTag();
    addRecord(blob, missing, "PARAM", floats({0.1f}), 1, "x");
    addRecord(blob, effectPath("Guitar/stereo"), "PARAM", {}, 0, "y");
    EXPECT_EQ(1, w.load(blob));
    std::vector<ShownMessage> shown = messagesTaken();
    ASSERT_EQ(1u, shown.size());
    EXPECT_EQ("Unable to load plugin:\n" + missing, shown[0].text);
    EXPECT_EQ("VST Plugins", shown[0].caption);
    intptr_t h = 0;
    ASSERT_EQ(1, w.call(WD_GET_INSTANCE, reinterpret_cast<intptr_t>(&h), 0));
    EXPECT_EQ("y", w.userData(h));
    EXPECT_EQ(1, w.count(WD_GET_INSTANCE_COUNT));
}

}  // namespace

// A library's processor, from its PE header, with every offset checked.
TEST(LibraryArch, ThePeHeaderNamesTheProcessorAndDamagedHeadersNameNone) {
    auto image = [](uint32_t peAt, uint16_t machine, size_t size) {
        std::vector<uint8_t> d(size, 0);
        if (size >= 2) d[0] = 'M', d[1] = 'Z';
        if (size >= 0x40) for (int i = 0; i < 4; ++i) d[0x3C + i] = static_cast<uint8_t>(peAt >> (8 * i));
        if (peAt + 6 <= size) {
            std::memcpy(&d[peAt], "PE\0\0", 4);
            d[peAt + 4] = static_cast<uint8_t>(machine);
            d[peAt + 5] = static_cast<uint8_t>(machine >> 8);
        }
        return d;
    };
    auto arch = [](const std::vector<uint8_t>& d) { return libraryArchOf(d.data(), d.size()); };
    EXPECT_EQ(LibraryArch::X86, arch(image(0x80, 0x014C, 0x100)));
    EXPECT_EQ(LibraryArch::X64, arch(image(0x80, 0x8664, 0x100)));
    EXPECT_EQ(LibraryArch::Unknown, arch(image(0x80, 0xAA64, 0x100)));      // another processor
    EXPECT_EQ(LibraryArch::Unknown, arch(image(0x80, 0x014C, 0x85)));       // cut within the header
    EXPECT_EQ(LibraryArch::Unknown, arch(image(0xFFFFFFF0u, 0x014C, 0x100)));  // offset past the end
    EXPECT_EQ(LibraryArch::Unknown, arch(image(0x80, 0x014C, 0x3F)));       // no room for the offset
    std::vector<uint8_t> elf = image(0x80, 0x014C, 0x100);
    elf[0] = 0x7F;
    EXPECT_EQ(LibraryArch::Unknown, arch(elf));
}

// A library built for the other processor (a 32-bit one in the 64-bit
// program) is listed with its width after its name, never loaded: creating
// it fails without a message, and the program runs it in a helper instead.
TEST_F(VstWrapper, ALibraryOfTheOtherWidthIsListedAsSuchAndNeverLoaded) {
    std::vector<uint8_t> x86(0x200, 0);
    x86[0] = 'M', x86[1] = 'Z', x86[0x3C] = 0x80;
    std::memcpy(&x86[0x80], "PE\0\0\x4C\x01", 6);
    fs::create_directories(app.path() + "Old");
    std::ofstream(app.path() + "Old" + kSeparator + "vintage" + librarySuffix(), std::ios::binary)
        .write(reinterpret_cast<const char*>(x86.data()), static_cast<std::streamsize>(x86.size()));
    fs::copy_file(testModulePath("tvst_mono"), app.path() + "Old" + kSeparator + "solo" + librarySuffix());
    ASSERT_TRUE(platformWriteSetting("VSTDir", (app.path() + "Old").c_str()));
    ASSERT_EQ(1, w.call(WD_REFRESH_LIST));
    std::vector<std::string> names = w.available();
    std::sort(names.begin(), names.end());
    const bool windows64 = nativeLibraryArch() == LibraryArch::X64;
    EXPECT_EQ((std::vector<std::string>{"solo", windows64 ? "vintage (32-bit)" : "vintage"}), names);
    if (windows64) {
        const std::vector<std::string> listed = w.available();
        const int at = static_cast<int>(std::find(listed.begin(), listed.end(), "vintage (32-bit)") - listed.begin());
        intptr_t handle = 0;
        EXPECT_EQ(0, w.call(WD_CREATE_INSTANCE, reinterpret_cast<intptr_t>(&handle), at));
        EXPECT_EQ(0, handle);
        EXPECT_TRUE(messagesTaken().empty());
    }
}

// The effect's parameters: value, name, display with its label; a set
// reaches the sound and the save; texts an effect writes too long for the
// record are cut, never spilled.
TEST_F(VstWrapper, ParametersRoundTripAndOverlongTextsAreCut) {
    configure(44100, 64);
    const intptr_t h = w.create("stereo");
    ASSERT_EQ(3, w.parameterCount(h));
    WrapperParameter gain = w.parameter(h, 0);
    EXPECT_STREQ("Gain", gain.name);
    EXPECT_FLOAT_EQ(0.25f, static_cast<float>(gain.value));
    EXPECT_STREQ("25 %", gain.display);
    ASSERT_TRUE(w.setParameter(h, 0, 0.5));
    EXPECT_STREQ("50 %", w.parameter(h, 0).display);
    EXPECT_EQ(std::make_pair(0.2f, 0.8f), run(h, 0.1f, 0.2f));  // gain 4 * 0.5
    ASSERT_TRUE(w.setParameter(h, 2, 3.0));  // limited to 1
    EXPECT_EQ(1.0, w.parameter(h, 2).value);
    EXPECT_FALSE(w.setParameter(h, 3, 0.5));
    EXPECT_EQ(-1, w.parameter(h, -1).index);
    std::vector<uint8_t> expected = blobTag();
    addRecord(expected, effectPath("Guitar/stereo"), "PARAM", floats({0.5f, 0.5f, 1.0f}), 3, "");
    EXPECT_EQ(expected, w.save());

    EffectLibrary lib(effectPath("Guitar/stereo"));
    auto longTexts = reinterpret_cast<void (*)(int)>(platformFindSymbol(lib.module, "testVstLongTexts"));
    ASSERT_NE(nullptr, longTexts);
    longTexts(1);
    WrapperParameter tone{};
    std::memset(&tone, 0x55, sizeof tone);
    tone.index = 1;
    ASSERT_EQ(1, w.call(WD_GET_PARAMETER, h, reinterpret_cast<intptr_t>(&tone)));
    longTexts(0);
    EXPECT_EQ(std::string(63, 'N'), tone.name);
    EXPECT_EQ(std::string(63, 'D'), tone.display);
    EXPECT_EQ(0.5, tone.value);
}

// Adding a state appends its instances after the present ones; a malformed
// blob leaves exactly the present ones, and the effects it made are closed.
TEST_F(VstWrapper, AddingAStateAppendsAndAMalformedOneLeavesExactlyThePresentInstances) {
    configure(44100, 64);
    const intptr_t present = w.create("mono");
    w.setUserData(present, "present");
    std::vector<uint8_t> blob = blobTag();
    addRecord(blob, effectPath("Guitar/stereo"), "PARAM", floats({0.5f}), 1, "added");
    addRecord(blob, effectPath("chunk"), "CHUNK", {}, 0, "");
    ASSERT_EQ(1, w.add(blob));
    ASSERT_EQ(3, w.count(WD_GET_INSTANCE_COUNT));
    intptr_t handles[3] = {};
    for (int i = 0; i < 3; ++i) w.call(WD_GET_INSTANCE, reinterpret_cast<intptr_t>(&handles[i]), i);
    EXPECT_EQ(present, handles[0]);
    EXPECT_EQ("present", w.userData(present));
    EXPECT_EQ("added", w.userData(handles[1]));
    EXPECT_EQ(std::make_pair(0.2f, 0.8f), run(handles[1], 0.1f, 0.2f));  // gain 4 * 0.5
    EffectLibrary stereo(effectPath("Guitar/stereo")), chunk(effectPath("chunk"));
    EXPECT_EQ(1, stereo.liveCount());

    std::vector<uint8_t> bad = blob;
    bad[bad.size() - 8] = 'X';  // the last record's "DATA", after both effects were made
    messagesStart();
    EXPECT_EQ(0, w.add(bad));
    ASSERT_EQ(3, w.count(WD_GET_INSTANCE_COUNT));
    for (int i = 0; i < 3; ++i) {
        intptr_t h = 0;
        w.call(WD_GET_INSTANCE, reinterpret_cast<intptr_t>(&h), i);
        EXPECT_EQ(handles[i], h) << i;
    }
    EXPECT_EQ(1, stereo.liveCount());
    EXPECT_EQ(1, chunk.liveCount());
    EXPECT_TRUE(messagesTaken().empty());
    EXPECT_EQ(0, w.add({'V', 'S', 'T'}));
    EXPECT_EQ(3, w.count(WD_GET_INSTANCE_COUNT));
}

// An edit in the effect's own editor (its automate request) on the UI
// thread tells the host which parameter moved; from any other thread (an
// effect automating while it processes) the host is not called.
TEST_F(VstWrapper, AnEditOnTheUiThreadIsReportedAndOneElsewhereIsNot) {
    const intptr_t h = w.create("stereo");
    EffectLibrary lib(effectPath("Guitar/stereo"));
    Vst2Effect* e = onlyEffect(lib);
    auto changes = [] {
        std::vector<HostRequest> seen;
        for (const HostRequest& r : RecordingHost::current().requests)
            if (r.opcode == HC_PARAMETER_CHANGED) seen.push_back(r);
        return seen;
    };
    std::thread([&] { lib.host(e)(e, kVst2HostAutomate, 1, 0, nullptr, 0.75f); }).join();
    EXPECT_TRUE(changes().empty());
    lib.host(e)(e, kVst2HostAutomate, 2, 0, nullptr, 0.125f);
    lib.host(e)(e, kVst2HostAutomate, 3, 0, nullptr, 0.5f);  // no such parameter
    ASSERT_EQ((std::vector<HostRequest>{{HC_PARAMETER_CHANGED, h, ""}}), changes());
    EXPECT_EQ(2, changes()[0].a2);
}

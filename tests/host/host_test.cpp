// Loading wrapper modules, the host's operations and the chain, over a
// throwaway application folder with test wrappers and the real default
// wrapper.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "tests/host/host_fixture.h"
#include "tests/support/modules.h"


TEST_F(HostTest, MissingWrappersFolderIsReturnedForTheCallerToReport) {
    app.removeFolder("Wrappers");
    EXPECT_EQ(kResultNoWrappersDirectory, wrappersLoadAll());
    EXPECT_EQ(0, wrapperCount());
    EXPECT_TRUE(reported.empty());
}

TEST_F(HostTest, TenWrappersAtMostAndTheRestIsNotLookedAt) {
    for (int i = 0; i < 12; ++i) addTestWrapper("testwrap_ok", "w" + std::to_string(i / 10) + std::to_string(i % 10));
    EXPECT_EQ(kResultTooManyWrappers, wrappersLoadAll());
    EXPECT_EQ(10, wrapperCount());
    EXPECT_TRUE(reported.empty());
}

// Wrappers load in name order whatever order the folder lists them in, and
// the CLAP wrapper, which came later, after the others: a performance file
// keeps the chunk order it had, and Select Effect: its tree.
TEST_F(HostTest, WrappersLoadInNameOrderAndLaterWrappersLast) {
    for (const char* name : {"clapwrapper", "vstwrapper", "defwrapper", "vst3wrapper"})
        app.addWrapper(stagedModule("Wrappers", name), name + librarySuffix());
    ASSERT_EQ(0, wrappersLoadAll());
    std::vector<std::string> names;
    for (int w = 0; w < wrapperCount(); ++w) names.push_back(wrapperName(w));
    EXPECT_EQ((std::vector<std::string>{"Quorvane Plugins", "VST3 Plugins", "VST Plugins", "CLAP Plugins"}), names);
}

TEST_F(HostTest, OnlyTheExactLowerCaseSuffixIsLoaded) {
    const std::string suffix = librarySuffix();
    std::string upper = suffix;
    for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    app.addWrapper(testModulePath("testwrap_ok"), "a" + upper);
    app.addWrapper(testModulePath("testwrap_ok"), "b" + suffix.substr(0, suffix.size() - 1));
    app.addWrapper(testModulePath("testwrap_ok"), "c" + suffix + ".bak");
    std::filesystem::create_directories(app.path() + "Wrappers/d" + suffix);
    EXPECT_EQ(0, wrappersLoadAll());
    EXPECT_EQ(0, wrapperCount());
    EXPECT_TRUE(reported.empty());
}

TEST_F(HostTest, BrokenWrappersAreReportedAndSkipped) {
    addTestWrapper("testwrap_nodispatcher", "a");
    addTestWrapper("testwrap_noprocess", "b");
    addTestWrapper("testwrap_refuse", "c");
    std::ofstream(app.path() + "Wrappers/d" + librarySuffix()) << "not a library";
    addTestWrapper("testwrap_ok", "e");
    EXPECT_EQ(0, wrappersLoadAll());
    EXPECT_EQ(1, wrapperCount());
    // Directory order is the platform's; compare as a set.
    std::vector<int32_t> sorted = reported;
    std::sort(sorted.begin(), sorted.end());
    EXPECT_EQ((std::vector<int32_t>{kResultCannotLoadWrapper, kResultNoDispatcher, kResultNoProcessFunction,
                                    kResultWrapperInitFailed}),
              sorted);
    // The wrapper that refused to open was closed before it was unloaded.
    std::ifstream closed(app.path() + "closed.log");
    std::string line;
    EXPECT_TRUE(std::getline(closed, line));
    EXPECT_EQ("Test Wrapper", std::string(wrapperName(0)));
}

TEST_F(HostTest, LoadingSendsCallbackOpenAndProvisionalSettingsAndUnloadingCloses) {
    addTestWrapper("testwrap_ok", "a");
    ASSERT_EQ(0, wrappersLoadAll());
    std::vector<TestCommand> log = commands(0);
    ASSERT_EQ(4u, log.size());
    EXPECT_EQ(WD_SET_HOST_CALLBACK, log[0].opcode);
    EXPECT_EQ(reinterpret_cast<intptr_t>(hostCallback), log[0].a1);
    EXPECT_EQ(WD_OPEN, log[1].opcode);
    EXPECT_EQ(app.path(), std::string(reinterpret_cast<const char*>(log[1].a1)));
    EXPECT_EQ(WD_SET_SAMPLE_RATE, log[2].opcode);
    EXPECT_EQ(44100, log[2].a2);
    EXPECT_EQ(WD_SET_BLOCK_SIZE, log[3].opcode);
    EXPECT_EQ(44, log[3].a2);
    wrappersUnloadAll();
    EXPECT_EQ(0, wrapperCount());
    EXPECT_TRUE(std::filesystem::exists(app.path() + "closed.log"));
}

TEST_F(HostTest, OperationsCheckTheWrapperIndexAndTempoIsLimited) {
    addTestWrapper("testwrap_ok", "a");
    ASSERT_EQ(0, wrappersLoadAll());
    EXPECT_EQ(nullptr, wrapperName(1));
    EXPECT_EQ(-1, wrapperAvailableCount(-1));
    EXPECT_EQ(0, wrapperCreateInstance(5, 0));
    EXPECT_EQ(-1, wrapperSetTempo(3, 120.0f));
    auto* tempo = static_cast<float*>(platformFindSymbol(gHost.modules[0], "testLastTempo"));
    ASSERT_NE(nullptr, tempo);
    float bpm = 20.0f;
    EXPECT_EQ(0, wrapperSetTempo(0, bpm));
    EXPECT_EQ(50.0f, *tempo);
    EXPECT_EQ(20.0f, bpm);
    EXPECT_EQ(0, wrapperSetTempo(0, 400.0f));
    EXPECT_EQ(250.0f, *tempo);
    EXPECT_EQ(0, wrapperSetTempo(0, 97.5f));
    EXPECT_EQ(97.5f, *tempo);
}

TEST_F(HostTest, EngineConfigurationReachesEveryLoadedWrapper) {
    addTestWrapper("testwrap_ok", "a");
    addTestWrapper("testwrap_ok", "b");
    ASSERT_EQ(0, wrappersLoadAll());
    engine.blockSize = 128;
    ASSERT_EQ(0, engineConfigure(engine, 48000, true));
    for (int w = 0; w < 2; ++w) {
        std::vector<TestCommand> log = commands(w);
        ASSERT_GE(log.size(), 7u);
        EXPECT_EQ(WD_SET_CHANNELS, log[4].opcode);
        EXPECT_EQ(2, log[4].a2);
        EXPECT_EQ(WD_SET_SAMPLE_RATE, log[5].opcode);
        EXPECT_EQ(48000, log[5].a2);
        EXPECT_EQ(WD_SET_BLOCK_SIZE, log[6].opcode);
        EXPECT_EQ(128, log[6].a2);
    }
}

TEST_F(HostTest, AttachReplacesTheSlotsInstanceAndAFailedCreateKeepsIt) {
    const int w = loadDefault();
    ASSERT_GE(w, 0);
    EXPECT_EQ(0, chainAttach(3, w, pluginIndex(w, "echo")));
    const intptr_t first = engine.chain[3].instance;
    ASSERT_NE(0, first);
    EXPECT_EQ(w, engine.chain[3].wrapperIndex);
    EXPECT_EQ(0, chainAttach(3, w, pluginIndex(w, "reverb")));
    EXPECT_NE(first, engine.chain[3].instance);
    EXPECT_EQ(1, wrapperInstanceCount(w));
    EXPECT_EQ(std::string("reverb"), wrapperInstanceName(w, engine.chain[3].instance));

    const intptr_t kept = engine.chain[3].instance;
    EXPECT_EQ(kResultAttachFailed, chainAttach(3, w, 99));
    EXPECT_EQ(kept, engine.chain[3].instance);
    EXPECT_EQ((std::vector<int32_t>{kResultAttachFailed}), reported);
    EXPECT_EQ(0, chainAttach(3, -1, 0));  // a wrapper node, not a plug-in
    EXPECT_EQ(kept, engine.chain[3].instance);
    EXPECT_TRUE(engine.processingEnabled.load());
    EXPECT_GE(repaints, 2);
}

TEST_F(HostTest, DetachMoveAndBypass) {
    const int w = loadDefault();
    chainAttach(0, w, pluginIndex(w, "echo"));
    chainAttach(5, w, pluginIndex(w, "flanger"));
    const ChainSlot zero = engine.chain[0], five = engine.chain[5];

    chainMoveUp(0);
    chainMoveDown(7);
    EXPECT_EQ(zero.instance, engine.chain[0].instance);
    chainMoveDown(0);
    EXPECT_EQ(zero.instance, engine.chain[1].instance);
    EXPECT_EQ(0, engine.chain[0].instance);
    chainMoveUp(5);
    EXPECT_EQ(five.instance, engine.chain[4].instance);

    EXPECT_EQ(1, wrapperInstanceActive(w, five.instance));
    chainToggleBypass(4);
    EXPECT_EQ(0, wrapperInstanceActive(w, five.instance));
    chainToggleBypass(4);
    EXPECT_EQ(1, wrapperInstanceActive(w, five.instance));
    chainToggleBypass(6);  // empty slot: nothing is sent

    EXPECT_EQ(0, chainDetach(1));
    EXPECT_EQ(0, engine.chain[1].instance);
    EXPECT_EQ(-1, engine.chain[1].wrapperIndex);
    EXPECT_EQ(1, wrapperInstanceCount(w));
    EXPECT_EQ(kResultShowEditorFailed, chainShowEditor(4, nullptr));
    EXPECT_EQ(0, chainShowEditor(2, nullptr));
}

TEST_F(HostTest, WrapperSideDestructionEmptiesTheSlot) {
    const int w = loadDefault();
    chainAttach(3, w, pluginIndex(w, "chorus"));
    chainAttach(6, w, pluginIndex(w, "echo"));
    EXPECT_EQ(0, wrapperDestroyInstance(w, engine.chain[3].instance));
    EXPECT_EQ(0, engine.chain[3].instance);
    EXPECT_NE(0, engine.chain[6].instance);
    EXPECT_EQ(0, wrapperDestroyAll(w));
    for (const ChainSlot& s : engine.chain) EXPECT_EQ(0, s.instance);
}

TEST_F(HostTest, TheEngineRunsTheChainThroughTheRealWrapper) {
    const int w = loadDefault();
    engine.blockSize = 64;
    ASSERT_EQ(0, engineConfigure(engine, 44100, true));
    engine.gateThreshold = 0.0f;
    engine.gateAttackMs = 0;
    engine.dcRemoverOn = false;
    wrapperSetProcessing(w, false);
    wrapperSetProcessing(w, true);
    chainAttach(2, w, pluginIndex(w, "echo"));  // default: 500 ms, level 0.3
    std::vector<float> out;
    for (int block = 0; block < 400; ++block) {
        for (uint32_t i = 0; i < 64; ++i) engine.inputL[i] = engine.inputR[i] = 0.0f;
        if (block == 0) engine.inputL[0] = engine.inputR[0] = 0.5f;
        processBlock(engine);
        out.insert(out.end(), engine.outputL, engine.outputL + 64);
    }
    EXPECT_EQ(0.5f, out[0]);
    EXPECT_EQ(0.0f, out[22049]);
    EXPECT_EQ(0.5f * 0.3f, out[22050]);

    const uint8_t* data = nullptr;
    uint32_t size = 0;
    data = wrapperSaveState(w, size);
    ASSERT_NE(nullptr, data);
    EXPECT_EQ(0, std::memcmp(data, "DEFWRAP_", 8));
}

// Parameters reach a plug-in in the program and one in a helper alike; an
// editor's reports go to the hook of the wrapper owning the instance, and a
// wrapper hears 0 when no hook listens.
namespace {
std::vector<std::vector<intptr_t>> parameterReports;
void recordParameterReport(intptr_t kind, int w, intptr_t instance, int32_t index) {
    parameterReports.push_back({kind, w, instance, index});
}
}  // namespace

TEST_F(HostTest, ParametersReachPlugInsInAHelperAndEditorReportsReachTheHooks) {
    namespace fs = std::filesystem;
    const std::string helper = std::string("QvPluginHost") + (librarySuffix() == ".dll" ? ".exe" : "");
    fs::copy_file(stagePath(helper), app.path() + helper);
    fs::create_directories(app.path() + "Vst");
    fs::copy_file(testModulePath("tvst_stereo"), app.path() + "Vst/tvst_stereo" + librarySuffix());
    ASSERT_TRUE(platformWriteSetting("VSTDir", (app.path() + "Vst").c_str()));
    app.addWrapper(stagedModule("Wrappers", "vstwrapper"), "vstwrapper" + librarySuffix());
    const int w = loadDefault();
    const int v = wrapperNamed("VST Plugins");
    ASSERT_EQ(0, wrapperRefreshList(v));

    ASSERT_EQ(0, chainAttach(0, w, pluginIndex(w, "echo")));
    const intptr_t echo = engine.chain[0].instance;
    EXPECT_EQ(5, wrapperParameterCount(w, echo));
    EXPECT_EQ(0, wrapperSetParameter(w, echo, 2, 0.5));
    WrapperParameter p{};
    p.index = 2;
    ASSERT_EQ(0, wrapperGetParameter(w, echo, p));
    EXPECT_STREQ("Wet Out", p.name);
    EXPECT_STREQ("0.00 dB", p.display);
    EXPECT_EQ(-1, wrapperParameterCount(7, echo));

    ASSERT_EQ(0, chainAttachSeparate(2, v, pluginIndex(v, "tvst_stereo")));
    const intptr_t outside = engine.chain[2].instance;
    ASSERT_NE(nullptr, chainSeparate(2));
    EXPECT_EQ(3, wrapperParameterCount(v, outside));
    EXPECT_EQ(0, wrapperSetParameter(v, outside, 0, 0.5));
    p = WrapperParameter{};
    p.index = 0;
    ASSERT_EQ(0, wrapperGetParameter(v, outside, p));
    EXPECT_EQ(0.5, p.value);
    EXPECT_STREQ("Gain", p.name);
    EXPECT_STREQ("50 %", p.display);
    p.index = 3;
    EXPECT_EQ(-1, wrapperGetParameter(v, outside, p));
    EXPECT_EQ(-1, wrapperSetParameter(v, outside, 3, 0.5));

    EXPECT_EQ(0, hostCallback(HC_PARAMETER_CHANGED, echo, 1));  // nobody listens
    parameterReports.clear();
    gHost.parameterChanged = [](int w, intptr_t i, int32_t k) { recordParameterReport(HC_PARAMETER_CHANGED, w, i, k); };
    gHost.learnParameter = [](int w, intptr_t i, int32_t k) { recordParameterReport(HC_LEARN_PARAMETER, w, i, k); };
    gHost.forgetParameter = [](int w, intptr_t i, int32_t k) { recordParameterReport(HC_FORGET_PARAMETER, w, i, k); };
    const intptr_t loose = wrapperCreateInstance(w, pluginIndex(w, "chorus"));  // in no slot
    EXPECT_EQ(1, hostCallback(HC_PARAMETER_CHANGED, echo, 1));
    EXPECT_EQ(1, hostCallback(HC_LEARN_PARAMETER, echo, 4));
    EXPECT_EQ(1, hostCallback(HC_FORGET_PARAMETER, loose, 7));
    EXPECT_EQ(0, hostCallback(HC_LEARN_PARAMETER, 12345, 0));  // no such instance
    EXPECT_EQ(0, hostCallback(HC_LEARN_PARAMETER, echo, -1));
    EXPECT_EQ((std::vector<std::vector<intptr_t>>{{HC_PARAMETER_CHANGED, w, echo, 1},
                                                  {HC_LEARN_PARAMETER, w, echo, 4},
                                                  {HC_FORGET_PARAMETER, w, loose, 7}}),
              parameterReports);

    // A plug-in in a helper tells the same through the shared area's ring,
    // handed to the hooks on the UI thread; a full ring drops what is more.
    parameterReports.clear();
    fs::copy_file(testModulePath("tvst_faulty"), app.path() + "Vst/tvst_faulty" + librarySuffix());
    ASSERT_EQ(0, wrapperRefreshList(v));
#if defined(_WIN32)
    _putenv_s("QV_TVST_FAULT", "echo-edits");
#else
    setenv("QV_TVST_FAULT", "echo-edits", 1);
#endif
    ASSERT_EQ(0, chainAttachSeparate(3, v, pluginIndex(v, "tvst_faulty")));
    const intptr_t reporting = engine.chain[3].instance;
    for (int i = 0; i < 70; ++i) EXPECT_EQ(0, wrapperSetParameter(v, reporting, i % 2 ? 2 : 1, 0.25));
    chainTakeSeparateReports();
    ASSERT_EQ(kBridgeReportCapacity, parameterReports.size());
    EXPECT_EQ((std::vector<intptr_t>{HC_PARAMETER_CHANGED, v, reporting, 1}), parameterReports[0]);
    EXPECT_EQ((std::vector<intptr_t>{HC_PARAMETER_CHANGED, v, reporting, 2}), parameterReports[63]);
    EXPECT_EQ(0, wrapperSetParameter(v, reporting, 2, 0.5));
    chainTakeSeparateReports();
    EXPECT_EQ(kBridgeReportCapacity + 1, parameterReports.size());
#if defined(_WIN32)
    _putenv_s("QV_TVST_FAULT", "");
#else
    unsetenv("QV_TVST_FAULT");
#endif
    platformWriteSetting("VSTDir", nullptr);
}

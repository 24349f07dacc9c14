// Performance files written and read through the real default wrapper.
#include <algorithm>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <thread>

#include "common/bytes.h"
#include "host/performance.h"
#include "tests/host/host_fixture.h"
#include "tests/support/modules.h"

namespace {

std::string openAccompaniment;  // what the fake player holds
bool playerOpens = true;

class PerformanceTest : public HostTest {
protected:
    int w = -1;

    void SetUp() override {
        HostTest::SetUp();
        gPerformance = Performance{};
        openAccompaniment.clear();
        playerOpens = true;
        gPerformance.accompanimentPath = [] { return openAccompaniment.c_str(); };
        gPerformance.openAccompaniment = [](const char* path) {
            if (!playerOpens) return false;
            openAccompaniment = path;
            return true;
        };
        gPerformance.closeAccompaniment = [] { openAccompaniment.clear(); };
        w = loadDefault();
        ASSERT_GE(w, 0);
        performanceTakeSnapshot();
    }
    void TearDown() override {
        performanceFreeSnapshot();
        gPerformance = Performance{};
        HostTest::TearDown();
    }

    std::string file(const std::string& name) { return app.path() + name; }

    static std::vector<uint8_t> bytesOf(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
    }
    static void writeBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
        std::ofstream out(path, std::ios::binary);
        out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    }

    // The helper program beside the program, the VST wrapper loaded after
    // the default one with `plugins` in its folder; the VST wrapper's index.
    int loadVstWrapperWith(std::initializer_list<const char*> plugins) {
        namespace fs = std::filesystem;
        const std::string helper = std::string("QvPluginHost") + (librarySuffix() == ".dll" ? ".exe" : "");
        fs::copy_file(stagePath(helper), app.path() + helper, fs::copy_options::overwrite_existing);
        fs::create_directories(app.path() + "Vst");
        for (const char* plugin : plugins)
            fs::copy_file(testModulePath(plugin), app.path() + "Vst/" + plugin + librarySuffix());
        platformWriteSetting("VSTDir", (app.path() + "Vst").c_str());
        app.addWrapper(stagedModule("Wrappers", "vstwrapper"), "vstwrapper" + librarySuffix());
        wrappersUnloadAll();
        if (wrappersLoadAll() != 0) return -1;
        w = defaultWrapperIndex();
        const int v = wrapperNamed("VST Plugins");
        if (wrapperRefreshList(w) != 0 || wrapperRefreshList(v) != 0) return -1;
        performanceTakeSnapshot();
        return v;
    }

    // Forgets the chain as New and Open do before reading.
    void clearAll() {
        wrapperDestroyAll(w);
        for (ChainSlot& s : engine.chain) s = ChainSlot{};
        openAccompaniment.clear();
    }

    // Echo in slot 5 bypassed, reverb in slot 0, a chorus in no slot.
    void buildChain() {
        chainAttach(5, w, pluginIndex(w, "echo"));
        chainToggleBypass(5);
        chainAttach(0, w, pluginIndex(w, "reverb"));
        ASSERT_NE(0, wrapperCreateInstance(w, pluginIndex(w, "chorus")));
    }

    static std::vector<uint8_t> header(const std::string& accompaniment = "") {
        std::vector<uint8_t> h = {'P', 'E', 'R', 'F', 0x00, 0x00, 0xF2, 0x42, 'A', 'C', 'C', 'O', 'M', 'P'};
        const uint16_t length = accompaniment.empty() ? 0 : static_cast<uint16_t>(accompaniment.size() + 1);
        h.push_back(static_cast<uint8_t>(length));
        h.push_back(static_cast<uint8_t>(length >> 8));
        if (length) h.insert(h.end(), accompaniment.c_str(), accompaniment.c_str() + length);
        return h;
    }
    static void addChunk(std::vector<uint8_t>& f, const std::string& wrapper, const std::vector<uint8_t>& blob) {
        f.insert(f.end(), {'W', 'R', 'A', 'P', 'P', 'E', 'R'});
        uint8_t n[2];
        putU16(n, static_cast<uint16_t>(wrapper.size() + 1));
        f.insert(f.end(), n, n + 2);
        f.insert(f.end(), wrapper.c_str(), wrapper.c_str() + wrapper.size() + 1);
        f.insert(f.end(), {'S', 'T', 'A', 'T', 'E'});
        uint8_t s[4];
        putU32(s, static_cast<uint32_t>(blob.size()));
        f.insert(f.end(), s, s + 4);
        f.insert(f.end(), blob.begin(), blob.end());
    }
};

}  // namespace

TEST_F(PerformanceTest, WrittenChainReadsBackIntoTheSameSlotsAndBypassState) {
    buildChain();
    const intptr_t unchained = [&] {
        intptr_t h = 0;
        wrapperGetInstance(w, 2, h);
        return h;
    }();
    openAccompaniment = "song.wav";
    ASSERT_EQ(0, performanceWrite(file("a.qvp").c_str()));
    EXPECT_EQ(file("a.qvp"), std::string(gPerformance.currentPath));

    // The slot bytes: echo 0x05 (bypassed), reverb 0x80, the chorus 0x7F.
    uint32_t size = 0;
    intptr_t echo = engine.chain[5].instance, reverb = engine.chain[0].instance;
    EXPECT_EQ(0x05, wrapperGetUserData(w, echo, size)[0]);
    EXPECT_EQ(0x80, wrapperGetUserData(w, reverb, size)[0]);
    EXPECT_EQ(kSlotNone, wrapperGetUserData(w, unchained, size)[0]);

    const std::vector<uint8_t> bytes = bytesOf(file("a.qvp"));
    std::vector<uint8_t> expectedStart = header("song.wav");
    ASSERT_GE(bytes.size(), expectedStart.size() + 7);
    EXPECT_TRUE(std::equal(expectedStart.begin(), expectedStart.end(), bytes.begin()));
    EXPECT_EQ(0, std::memcmp(&bytes[expectedStart.size()], "WRAPPER\x11\x00Quorvane Plugins", 9 + 16));

    clearAll();
    ASSERT_EQ(0, performanceRead(file("a.qvp").c_str()));
    EXPECT_EQ("song.wav", openAccompaniment);
    EXPECT_EQ(3, wrapperInstanceCount(w));
    ASSERT_NE(0, engine.chain[5].instance);
    EXPECT_EQ(std::string("echo"), wrapperInstanceName(w, engine.chain[5].instance));
    EXPECT_EQ(0, wrapperInstanceActive(w, engine.chain[5].instance));
    EXPECT_EQ(std::string("reverb"), wrapperInstanceName(w, engine.chain[0].instance));
    EXPECT_EQ(1, wrapperInstanceActive(w, engine.chain[0].instance));
    int filled = 0;
    for (const ChainSlot& s : engine.chain) filled += s.instance != 0;
    EXPECT_EQ(2, filled);  // the chorus stays out of the chain
    EXPECT_TRUE(reported.empty());
}

TEST_F(PerformanceTest, SavingTwiceIsByteIdenticalAndOpenThenSaveAsksNothing) {
    buildChain();
    ASSERT_EQ(0, performanceWrite(file("a.qvp").c_str()));
    ASSERT_EQ(0, performanceWrite(file("b.qvp").c_str()));
    EXPECT_EQ(bytesOf(file("a.qvp")), bytesOf(file("b.qvp")));
    EXPECT_FALSE(performanceChanged());

    clearAll();
    ASSERT_EQ(0, performanceRead(file("a.qvp").c_str()));
    EXPECT_FALSE(performanceChanged());
    ASSERT_EQ(0, performanceWrite(file("c.qvp").c_str()));
    EXPECT_EQ(bytesOf(file("a.qvp")), bytesOf(file("c.qvp")));
    EXPECT_FALSE(performanceChanged());
}

TEST_F(PerformanceTest, ChangesAreDetected) {
    EXPECT_FALSE(performanceChanged());  // nothing in the chain, no accompaniment
    buildChain();
    EXPECT_TRUE(performanceChanged());
    ASSERT_EQ(0, performanceWrite(file("a.qvp").c_str()));
    EXPECT_FALSE(performanceChanged());
    chainMoveUp(5);
    EXPECT_TRUE(performanceChanged());
    chainMoveDown(4);
    EXPECT_FALSE(performanceChanged());
    openAccompaniment = "other.wav";
    EXPECT_TRUE(performanceChanged());
}

TEST_F(PerformanceTest, HeaderOnlyFileIsAnEmptyPerformance) {
    writeBytes(file("empty.qvp"), header());
    EXPECT_EQ(0, performanceRead(file("empty.qvp").c_str()));
    EXPECT_EQ(0, wrapperInstanceCount(w));
}

TEST_F(PerformanceTest, UnknownWrappersAndEmptyStatesAreSkipped) {
    buildChain();
    ASSERT_EQ(0, performanceWrite(file("a.qvp").c_str()));
    std::vector<uint8_t> original = bytesOf(file("a.qvp"));
    std::vector<uint8_t> edited = header();
    addChunk(edited, "VST Plugins", {1, 2, 3});
    addChunk(edited, "Quorvane Plugins", {});
    edited.insert(edited.end(), original.begin() + 16, original.end());
    writeBytes(file("b.qvp"), edited);
    clearAll();
    EXPECT_EQ(0, performanceRead(file("b.qvp").c_str()));
    EXPECT_EQ(3, wrapperInstanceCount(w));
    EXPECT_TRUE(reported.empty());
}

TEST_F(PerformanceTest, TruncationInsideAChunkIsDamageButNotInsideItsTag) {
    chainAttach(2, w, pluginIndex(w, "flanger"));
    ASSERT_EQ(0, performanceWrite(file("a.qvp").c_str()));
    const std::vector<uint8_t> whole = bytesOf(file("a.qvp"));
    for (size_t n = 16; n <= whole.size(); ++n) {
        writeBytes(file("cut.qvp"), std::vector<uint8_t>(whole.begin(), whole.begin() + n));
        clearAll();
        const int32_t expected = (n < 16 + 7 || n == whole.size()) ? 0 : kResultDamaged;
        ASSERT_EQ(expected, performanceRead(file("cut.qvp").c_str())) << n;
    }
    for (size_t n : {size_t{0}, size_t{3}, size_t{7}, size_t{13}, size_t{15}}) {
        writeBytes(file("cut.qvp"), std::vector<uint8_t>(whole.begin(), whole.begin() + n));
        EXPECT_EQ(kResultDamaged, performanceRead(file("cut.qvp").c_str())) << n;
    }
}

TEST_F(PerformanceTest, DamagedFilesGiveTheirMessages) {
    EXPECT_EQ(kResultCannotOpen, performanceRead(file("missing.qvp").c_str()));
    EXPECT_EQ(kResultCannotCreate, performanceWrite(app.path().c_str()));

    std::vector<uint8_t> bad = header();
    bad[0] = 'X';
    writeBytes(file("x.qvp"), bad);
    EXPECT_EQ(kResultNotPerformance, performanceRead(file("x.qvp").c_str()));

    bad = header();
    bad[8] = 'a';
    writeBytes(file("x.qvp"), bad);
    EXPECT_EQ(kResultNoAccompTag, performanceRead(file("x.qvp").c_str()));

    bad = header();
    bad[14] = 0x05;  // L = 261
    bad[15] = 0x01;
    bad.resize(bad.size() + 300, 'a');
    writeBytes(file("x.qvp"), bad);
    EXPECT_EQ(kResultDamaged, performanceRead(file("x.qvp").c_str()));

    bad = header();
    bad[14] = 40;  // more than the file holds
    writeBytes(file("x.qvp"), bad);
    EXPECT_EQ(kResultDamaged, performanceRead(file("x.qvp").c_str()));

    bad = header();
    addChunk(bad, std::string(300, 'n'), {1});
    writeBytes(file("x.qvp"), bad);
    EXPECT_EQ(kResultDamaged, performanceRead(file("x.qvp").c_str()));

    bad = header();
    addChunk(bad, "Quorvane Plugins", {1, 2, 3, 4});
    putU32(&bad[bad.size() - 8], 0x7FFFFFF0u);  // a state far longer than the file
    writeBytes(file("x.qvp"), bad);
    EXPECT_EQ(kResultDamaged, performanceRead(file("x.qvp").c_str()));

    bad = header();
    addChunk(bad, "Quorvane Plugins", {});
    bad[16] = 'w';
    writeBytes(file("x.qvp"), bad);
    EXPECT_EQ(kResultDamaged, performanceRead(file("x.qvp").c_str()));
    EXPECT_STREQ("", gPerformance.currentPath);  // only a successful read makes a path current
}

TEST_F(PerformanceTest, RejectedStateIsReportedAndTheReadGoesOn) {
    std::vector<uint8_t> f = header();
    addChunk(f, "Quorvane Plugins", {'n', 'o', 'p', 'e'});
    writeBytes(file("x.qvp"), f);
    EXPECT_EQ(0, performanceRead(file("x.qvp").c_str()));
    EXPECT_EQ((std::vector<int32_t>{kResultWrapperRejected}), reported);
}

TEST_F(PerformanceTest, AnAccompanimentThatDoesNotOpenIsClosed) {
    playerOpens = false;
    writeBytes(file("x.qvp"), header("gone.wav"));
    EXPECT_EQ(0, performanceRead(file("x.qvp").c_str()));
    EXPECT_EQ("", openAccompaniment);
}

namespace {

// A shell that logs what the commands ask of it.
std::vector<std::string> shellLog;
int nextAnswer = kAnswerNo;
std::string chosenPath;
bool running = false;

class PerformanceCommands : public PerformanceTest {
protected:
    void SetUp() override {
        PerformanceTest::SetUp();
        shellLog.clear();
        nextAnswer = kAnswerNo;
        chosenPath.clear();
        running = true;
        gPerformanceShell = PerformanceShell{};
        PerformanceShell& s = gPerformanceShell;
        s.liveInputRunning = [] { return running; };
        s.stopLiveInput = [] {
            shellLog.push_back("stop");
            running = false;
            return 0;
        };
        s.startLiveInput = [] {
            shellLog.push_back("start");
            running = true;
            return 0;
        };
        s.askSave = [](bool withCancel) {
            shellLog.push_back(withCancel ? "ask yes/no/cancel" : "ask yes/no");
            return nextAnswer;
        };
        auto choose = [](char* path, size_t size) {
            shellLog.push_back(std::string("dialog ") + path);
            if (chosenPath.empty()) return false;
            std::snprintf(path, size, "%s", chosenPath.c_str());
            return true;
        };
        s.chooseOpenPath = choose;
        s.chooseSavePath = choose;
    }
    void TearDown() override {
        gPerformanceShell = PerformanceShell{};
        PerformanceTest::TearDown();
    }
};

}  // namespace

TEST_F(PerformanceCommands, NewAsksOnlyAfterAChangeAndCancelKeepsEverything) {
    performanceNew();
    EXPECT_EQ((std::vector<std::string>{"stop", "start"}), shellLog);

    buildChain();
    shellLog.clear();
    nextAnswer = kAnswerCancel;
    performanceNew();
    EXPECT_EQ((std::vector<std::string>{"stop", "ask yes/no/cancel"}), shellLog);  // stays stopped
    EXPECT_NE(0, engine.chain[5].instance);

    shellLog.clear();
    running = true;
    nextAnswer = kAnswerYes;
    chosenPath = file("kept.qvp");
    performanceNew();
    EXPECT_EQ((std::vector<std::string>{"stop", "ask yes/no/cancel", "stop", "dialog ", "start"}), shellLog);
    EXPECT_TRUE(std::filesystem::exists(file("kept.qvp")));
    EXPECT_EQ(0, wrapperInstanceCount(w));
    EXPECT_STREQ("", gPerformance.currentPath);
    EXPECT_FALSE(performanceChanged());
}

TEST_F(PerformanceCommands, OpenReadsTheChosenFileAndRemembersIt) {
    buildChain();
    ASSERT_EQ(0, performanceWrite(file("a.qvp").c_str()));
    clearAll();
    performanceTakeSnapshot();

    chosenPath.clear();
    performanceOpen();  // cancelled
    EXPECT_EQ((std::vector<std::string>{"stop", "dialog ", "start"}), shellLog);

    shellLog.clear();
    chosenPath = file("a.qvp");
    performanceOpen();
    EXPECT_EQ((std::vector<std::string>{"stop", "dialog ", "stop", "start"}), shellLog);
    EXPECT_EQ(3, wrapperInstanceCount(w));
    EXPECT_EQ(file("a.qvp"), std::string(gPerformanceShell.lastOpenPath));
    EXPECT_EQ(file("a.qvp"), std::string(gPerformance.currentPath));

    shellLog.clear();
    performanceOpen();  // unchanged: no question; the dialog starts at the last file
    EXPECT_EQ((std::vector<std::string>{"stop", "dialog " + file("a.qvp"), "stop", "start"}), shellLog);
}

TEST_F(PerformanceCommands, SaveUsesTheCurrentPathAndClosingAsksYesOrNo) {
    buildChain();
    chosenPath = file("first.qvp");
    performanceSave();  // untitled: Save As
    EXPECT_EQ(file("first.qvp"), std::string(gPerformance.currentPath));
    shellLog.clear();
    chainMoveUp(5);
    performanceSave();
    EXPECT_TRUE(shellLog.empty());
    EXPECT_FALSE(performanceChanged());

    chainMoveUp(4);
    nextAnswer = kAnswerNo;
    performanceClosing();
    EXPECT_EQ((std::vector<std::string>{"stop", "ask yes/no"}), shellLog);
    EXPECT_TRUE(reported.empty());
}

// Plug-ins in helper processes: attached there or moved there and back with
// their state, saved with a host chunk that says which chunks they are, read
// back into helpers, and read by a reader that starts no helper (as a
// release without them does) into the same slots, inside. A helper that
// failed is told once and reloaded from its last known state. The built-in
// effects stay inside (their wrapper's state replaces all its instances).
TEST_F(PerformanceTest, PlugInsInHelperProcessesKeepSlotsAndStatesAndOlderReadersKeepTheChain) {
    const int v = loadVstWrapperWith({"tvst_stereo", "tvst_chunk"});
    ASSERT_GE(v, 0);

    chainAttach(0, w, pluginIndex(w, "reverb"));
    EXPECT_EQ(kResultAttachFailed, chainMoveOutside(0));
    EXPECT_EQ(std::vector<int32_t>{kResultAttachFailed}, reported);
    reported.clear();
    ASSERT_EQ(0, chainAttachSeparate(2, v, pluginIndex(v, "tvst_stereo")));
    chainAttach(4, v, pluginIndex(v, "tvst_chunk"));
    ASSERT_NE(nullptr, chainSeparate(2));
    EXPECT_EQ(std::string("tvst_stereo"), wrapperInstanceName(v, engine.chain[2].instance));
    chainToggleBypass(2);
    EXPECT_EQ(0, wrapperInstanceActive(v, engine.chain[2].instance));
    // The second moves out with its bypass and back.
    chainToggleBypass(4);
    ASSERT_EQ(0, chainMoveOutside(4));
    ASSERT_NE(nullptr, chainSeparate(4));
    EXPECT_EQ(0, wrapperInstanceCount(v));
    EXPECT_EQ(0, wrapperInstanceActive(v, engine.chain[4].instance));
    ASSERT_EQ(0, chainMoveInside(4));
    EXPECT_EQ(nullptr, chainSeparate(4));
    EXPECT_EQ(std::string("tvst_chunk"), wrapperInstanceName(v, engine.chain[4].instance));
    EXPECT_EQ(0, wrapperInstanceActive(v, engine.chain[4].instance));
    EXPECT_TRUE(performanceChanged());

    ASSERT_EQ(0, performanceWrite(file("s.qvp").c_str()));
    EXPECT_FALSE(performanceChanged());
    const std::vector<uint8_t> bytes = bytesOf(file("s.qvp"));
    EXPECT_EQ(0, std::memcmp(&bytes[16], "WRAPPER\x13\x00Quorvane Live Host", 9 + 19));
    // Saving again gives the same bytes.
    ASSERT_EQ(0, performanceWrite(file("s2.qvp").c_str()));
    EXPECT_EQ(bytes, bytesOf(file("s2.qvp")));

    auto expectChain = [&](bool outside) {
        EXPECT_EQ(outside, chainSeparate(2) != nullptr);
        ASSERT_NE(0, engine.chain[2].instance);
        EXPECT_EQ(std::string("tvst_stereo"), wrapperInstanceName(v, engine.chain[2].instance));
        EXPECT_EQ(0, wrapperInstanceActive(v, engine.chain[2].instance));
        EXPECT_EQ(std::string("reverb"), wrapperInstanceName(w, engine.chain[0].instance));
        EXPECT_EQ(std::string("tvst_chunk"), wrapperInstanceName(v, engine.chain[4].instance));
        EXPECT_EQ(0, wrapperInstanceActive(v, engine.chain[4].instance));
    };
    auto clearChain = [&] {
        wrapperDestroyAll(w);
        wrapperDestroyAll(v);
        for (ChainSlot& s : engine.chain) s = ChainSlot{};
    };
    clearChain();
    EXPECT_EQ(nullptr, chainSeparate(2));
    ASSERT_EQ(0, performanceRead(file("s.qvp").c_str()));
    expectChain(true);
    EXPECT_FALSE(performanceChanged());

    // A failed helper is told once; Reload brings the plug-in back with its state.
    static std::vector<std::string> told;
    told.clear();
    chainSeparate(2)->failed = true;
    EXPECT_TRUE(chainSlotFailed(2));
    EXPECT_EQ(1, chainCheckSeparate([](int slot, const char* plugin, int32_t, uint64_t) {
                  told.push_back(std::to_string(slot) + plugin);
              }));
    EXPECT_EQ(0, chainCheckSeparate(nullptr));
    EXPECT_EQ(std::vector<std::string>{"2tvst_stereo"}, told);
    ASSERT_EQ(0, chainReload(2));
    EXPECT_FALSE(chainSlotFailed(2));
    expectChain(true);

    // Without helpers the plug-ins of the file open inside, in their slots.
    clearChain();
    std::filesystem::remove(app.path() + "QvPluginHost" + (librarySuffix() == ".dll" ? ".exe" : ""));
    ASSERT_EQ(0, performanceRead(file("s.qvp").c_str()));
    expectChain(false);
    EXPECT_TRUE(reported.empty());
    platformWriteSetting("VSTDir", nullptr);
}

static void setFault(const char* fault) {
#if defined(_WIN32)
    _putenv_s("QV_TVST_FAULT", fault ? fault : "");
#else
    if (fault) setenv("QV_TVST_FAULT", fault, 1);
    else unsetenv("QV_TVST_FAULT");
#endif
}

// A plug-in in a helper that crashes or hangs outside processing: making it
// fails in time and is reported; one that crashes while its state is saved
// is told once, and the file keeps its last known state.
TEST_F(PerformanceTest, HelpersThatCrashOrHangInUserInterfaceCallsEndInTime) {
    const int v = loadVstWrapperWith({"tvst_faulty"});
    ASSERT_GE(v, 0);
    const int faulty = pluginIndex(v, "tvst_faulty");
    for (const char* fault : {"open-crash", "open-hang"}) {
        SCOPED_TRACE(fault);
        setFault(fault);
        reported.clear();
        const auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(kResultAttachFailed, chainAttachSeparate(1, v, faulty));
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(kBridgeCommandTimeoutMs + 3000));
        EXPECT_EQ(std::vector<int32_t>{kResultAttachFailed}, reported);
        EXPECT_EQ(0, engine.chain[1].instance);
    }
    setFault("save-crash");
    reported.clear();
    engine.separateConfigure(2, 44100, 64);  // as the engine tells its helpers its block size
    ASSERT_EQ(0, chainAttachSeparate(1, v, faulty));
    const std::vector<uint8_t> known(chainSeparate(1)->lastState,
                                     chainSeparate(1)->lastState + chainSeparate(1)->lastStateSize);
    engine.blockSize = 64;
    std::vector<float> left(64, 0.5f), right(64, 0.5f);
    wrapperProcessSlot(v, engine.chain[1].instance, left.data(), right.data());
    EXPECT_FALSE(chainSlotFailed(1));
    ASSERT_EQ(0, performanceWrite(file("saved.qvp").c_str()));
    EXPECT_TRUE(chainSlotFailed(1));
    EXPECT_EQ(1, chainCheckSeparate(nullptr));
    // The file holds the state from its start, in slot 2.
    const std::vector<uint8_t> bytes = bytesOf(file("saved.qvp"));
    EXPECT_NE(bytes.end(), std::search(bytes.begin(), bytes.end(), known.begin(), known.end()));
    setFault(nullptr);
    EXPECT_TRUE(reported.empty());
    platformWriteSetting("VSTDir", nullptr);
}

#if defined(_WIN32)
// A plug-in that crashes while its editor is made, in a helper (the only
// place an editor of a plug-in outside is made): the slot fails at once and
// passes its input, the crash is told once (not also as an editor that did
// not open), and Reload brings the plug-in back.
TEST_F(PerformanceTest, AHelperWhoseEditorCrashesFailsItsSlotOnceAndReloads) {
    const int v = loadVstWrapperWith({"tvst_faulty"});
    ASSERT_GE(v, 0);
    setFault("editor-crash");
    engine.separateConfigure(2, 44100, 64);
    ASSERT_EQ(0, chainAttachSeparate(1, v, pluginIndex(v, "tvst_faulty")));
    reported.clear();
    // The editor crashes when it paints, during the command or just after.
    const auto start = std::chrono::steady_clock::now();
    chainShowEditor(1, nullptr);
    engine.blockSize = 64;
    std::vector<float> left(64), right(64);
    while (!chainSlotFailed(1) && std::chrono::steady_clock::now() - start < std::chrono::seconds(3)) {
        wrapperProcessSlot(v, engine.chain[1].instance, left.data(), right.data());
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(1000));
    EXPECT_TRUE(chainSlotFailed(1));
    EXPECT_TRUE(reported.empty());
    int32_t why = -1;
    static int32_t* told = nullptr;
    told = &why;
    EXPECT_EQ(1, chainCheckSeparate([](int, const char*, int32_t failure, uint64_t) { *told = failure; }));
    EXPECT_EQ(kBridgeDied, why);
    EXPECT_EQ(0, chainCheckSeparate(nullptr));
    std::fill(left.begin(), left.end(), 0.25f);
    std::fill(right.begin(), right.end(), -0.25f);
    wrapperProcessSlot(v, engine.chain[1].instance, left.data(), right.data());
    EXPECT_EQ(0.25f, left[63]);
    EXPECT_EQ(-0.25f, right[0]);
    setFault(nullptr);
    ASSERT_EQ(0, chainReload(1));
    EXPECT_FALSE(chainSlotFailed(1));
    EXPECT_TRUE(reported.empty());
    platformWriteSetting("VSTDir", nullptr);
}
#endif

// Song switches between performance files of the real default wrapper's
// effects while blocks of a steady tone run.
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "host/songswitch.h"
#include "tests/host/host_fixture.h"
#include "tests/support/modules.h"

namespace {

class SongSwitchTest : public HostTest {
protected:
    int w = -1;
    uint64_t played = 0;
    std::string songA, songB;

    void SetUp() override {
        HostTest::SetUp();
        gPerformance = Performance{};
        gSongSwitch = SongSwitch{};
        w = loadDefault();
        ASSERT_GE(w, 0);
        engine.gateThreshold = 0.0f;
        engine.gateAttackMs = 0;
        engine.dcRemoverOn = false;
        engine.blockSize = 256;
        ASSERT_EQ(0, engineConfigure(engine, 48000, true));

        // Song A: reverb in slot 0, echo in slot 3. Song B: a bypassed
        // chorus in slot 1, a flanger in slot 2, a chorus in no slot.
        songA = app.path() + "a.qvp";
        songB = app.path() + "b.qvp";
        ASSERT_EQ(0, chainAttach(0, w, pluginIndex(w, "reverb")));
        ASSERT_EQ(0, chainAttach(3, w, pluginIndex(w, "echo")));
        ASSERT_EQ(0, performanceWrite(songA.c_str()));
        clearAll();
        ASSERT_EQ(0, chainAttach(1, w, pluginIndex(w, "chorus")));
        chainToggleBypass(1);
        ASSERT_EQ(0, chainAttach(2, w, pluginIndex(w, "flanger")));
        ASSERT_NE(0, wrapperCreateInstance(w, pluginIndex(w, "chorus")));
        ASSERT_EQ(0, performanceWrite(songB.c_str()));
        clearAll();
        ASSERT_EQ(0, performanceRead(songA.c_str()));
    }
    void TearDown() override {
        songSwitchCancel();
        performanceFreeSnapshot();
        gPerformance = Performance{};
        HostTest::TearDown();
    }

    void clearAll() {
        for (int i = 0; i < wrapperCount(); ++i) wrapperDestroyAll(i);
        for (ChainSlot& s : engine.chain) s = ChainSlot{};
    }
    // The helper program beside the program and the VST wrapper after the
    // default one, with the test's stereo effect; the VST wrapper's index.
    int loadVstWrapper() {
        namespace fs = std::filesystem;
        const std::string helper = std::string("QvPluginHost") + (librarySuffix() == ".dll" ? ".exe" : "");
        fs::copy_file(stagePath(helper), app.path() + helper, fs::copy_options::overwrite_existing);
        fs::create_directories(app.path() + "Vst");
        fs::copy_file(testModulePath("tvst_stereo"), app.path() + "Vst/tvst_stereo" + librarySuffix());
        platformWriteSetting("VSTDir", (app.path() + "Vst").c_str());
        app.addWrapper(stagedModule("Wrappers", "vstwrapper"), "vstwrapper" + librarySuffix());
        clearAll();
        wrappersUnloadAll();
        if (wrappersLoadAll() != 0) return -1;
        w = defaultWrapperIndex();
        const int v = wrapperNamed("VST Plugins");
        if (wrapperRefreshList(w) != 0 || wrapperRefreshList(v) != 0) return -1;
        return v;
    }
    // The file with `wrapper`'s own chunk (its first) written empty, as the
    // writer writes a wrapper without a state; the chunks keep their numbers.
    static std::vector<uint8_t> withoutOwnChunk(const std::vector<uint8_t>& f, const std::string& wrapper) {
        size_t at = 16 + (f[14] | f[15] << 8);
        while (at + 9 <= f.size()) {
            const size_t nameLength = f[at + 7] | f[at + 8] << 8;
            const std::string name(reinterpret_cast<const char*>(&f[at + 9]));
            const size_t sizeAt = at + 9 + nameLength + 5;
            const size_t size = f[sizeAt] | f[sizeAt + 1] << 8 | f[sizeAt + 2] << 16 | size_t{f[sizeAt + 3]} << 24;
            if (name == wrapper) {
                std::vector<uint8_t> out(f.begin(), f.begin() + static_cast<long>(sizeAt));
                out.insert(out.end(), {0, 0, 0, 0});
                out.insert(out.end(), f.begin() + static_cast<long>(sizeAt + 4 + size), f.end());
                return out;
            }
            at = sizeAt + 4 + size;
        }
        return f;
    }
    int helpersHeld() {
        int n = 0;
        for (BridgeInstance* b : gHost.separate) n += b != nullptr;
        return n;
    }
    // One block of a square tone of +-0.3 (100 samples a period), as a device runs it.
    std::vector<float> block() {
        for (uint32_t i = 0; i < engine.blockSize; ++i, ++played)
            engine.inputL[i] = engine.inputR[i] = (played / 50) % 2 ? -0.3f : 0.3f;
        if (engineBlockBegin(engine)) processBlock(engine);
        engineBlockEnd(engine);
        return std::vector<float>(engine.outputL, engine.outputL + engine.blockSize);
    }
    std::vector<intptr_t> chainHandles() {
        std::vector<intptr_t> h;
        for (const ChainSlot& s : engine.chain) h.push_back(s.instance);
        return h;
    }
    static std::vector<uint8_t> bytesOf(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
    }
    static void writeBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
        std::ofstream out(path, std::ios::binary);
        out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    }
};

}  // namespace

TEST_F(SongSwitchTest, SwitchUnderASteadyToneHasNoGapAndReleasesTheOldSongAfterItsTail) {
    for (int i = 0; i < 100; ++i) block();
    const std::vector<intptr_t> chainA = chainHandles();
    ASSERT_EQ(2, wrapperInstanceCount(w));

    ASSERT_EQ(0, songSwitchPrepare(songB.c_str()));
    EXPECT_EQ(kSwitchPrepared, songSwitchState());
    EXPECT_EQ(chainA, chainHandles());          // A plays on untouched
    EXPECT_EQ(4, wrapperInstanceCount(w));      // B's chorus in no slot is gone already

    std::vector<float> out;
    for (int i = 0; i < 20; ++i) {
        std::vector<float> b = block();
        out.insert(out.end(), b.begin(), b.end());
    }
    ASSERT_EQ(0, songSwitchCommit(true));
    EXPECT_EQ(kResultSwitchBusy, songSwitchPrepare(songA.c_str()));
    long blocksToFinish = 0;
    bool finished = false;
    while (!finished && blocksToFinish < 2000) {
        std::vector<float> b = block();
        out.insert(out.end(), b.begin(), b.end());
        ++blocksToFinish;
        finished = songSwitchPoll(true);
        if (blocksToFinish == 1) {
            EXPECT_EQ(kSwitchTail, songSwitchState());
            EXPECT_EQ(4, wrapperInstanceCount(w));  // the old chain still rings
        }
    }
    ASSERT_TRUE(finished);
    // Exact silence anywhere; quiet runs near the switch (20 blocks of A came
    // first). A crossing of zero is one quiet sample at most (the flanger's
    // delayed copy makes the square's edges cross); a gap would be a run.
    const size_t switchAt = 20 * 256;
    long silent = 0, run = 0, longestQuiet = 0;
    for (size_t i = 0; i < out.size(); ++i) {
        silent += out[i] == 0.0f;
        run = std::fabs(out[i]) < 1e-3f ? run + 1 : 0;
        if (i + 1024 >= switchAt && i < switchAt + 1024) longestQuiet = run > longestQuiet ? run : longestQuiet;
    }
    const uint64_t latency = gSongSwitch.swapBlock - gSongSwitch.requestBlock + 1;
    std::printf("song switch: in block %llu after the request, %ld silent samples, longest run below 1e-3 within 4 blocks of the switch: %ld, "
                "released after %ld blocks of 256 (tail %.1f s)\n",
                static_cast<unsigned long long>(latency), silent, longestQuiet, blocksToFinish, kSwitchTailSeconds);
    EXPECT_EQ(1u, latency);
    EXPECT_EQ(0, silent);
    EXPECT_LE(longestQuiet, 1);
    EXPECT_EQ(static_cast<long>((engineTailFrames(48000) + 255) / 256), blocksToFinish);

    // Only B is left, in its slots and bypass state, and it is the performance.
    EXPECT_EQ(kSwitchIdle, songSwitchState());
    EXPECT_EQ(2, wrapperInstanceCount(w));
    for (intptr_t h : chainA)
        if (h) EXPECT_NE(0, wrapperIsInstance(w, h));  // -1: no longer an instance
    EXPECT_STREQ("chorus", wrapperInstanceName(w, engine.chain[1].instance));
    EXPECT_EQ(0, wrapperInstanceActive(w, engine.chain[1].instance));
    EXPECT_STREQ("flanger", wrapperInstanceName(w, engine.chain[2].instance));
    EXPECT_EQ(0, engine.chain[0].instance);
    EXPECT_EQ(songB, gPerformance.currentPath);
    EXPECT_FALSE(performanceChanged());
    EXPECT_TRUE(reported.empty());
}

TEST_F(SongSwitchTest, RefusedFilesRefusingWrappersAndCancelsLeaveTheCurrentSongAsItWas) {
    const std::vector<intptr_t> chainA = chainHandles();
    const std::vector<uint8_t> good = bytesOf(songB);
    const std::string damaged = app.path() + "damaged.qvp";
    auto unchanged = [&](const char* what) {
        EXPECT_EQ(kSwitchIdle, songSwitchState()) << what;
        EXPECT_EQ(chainA, chainHandles()) << what;
        EXPECT_EQ(2, wrapperInstanceCount(w)) << what;
        EXPECT_EQ(songA, gPerformance.currentPath) << what;
    };

    // Cut inside the wrapper chunk: the reader's damage, nothing left over.
    writeBytes(damaged, std::vector<uint8_t>(good.begin(), good.end() - 5));
    EXPECT_EQ(kResultDamaged, songSwitchPrepare(damaged.c_str()));
    unchanged("truncated");
    std::vector<uint8_t> notPerformance = good;
    notPerformance[0] = 'X';
    writeBytes(damaged, notPerformance);
    EXPECT_EQ(kResultNotPerformance, songSwitchPrepare(damaged.c_str()));
    unchanged("tag");
    EXPECT_EQ(kResultCannotOpen, songSwitchPrepare((app.path() + "none.qvp").c_str()));
    EXPECT_EQ(kResultNothingPrepared, songSwitchCommit(true));
    // A prepared song cancelled, or prepared again, leaves nothing behind.
    ASSERT_EQ(0, songSwitchPrepare(songB.c_str()));
    songSwitchCancel();
    unchanged("cancelled");
    ASSERT_EQ(0, songSwitchPrepare(songB.c_str()));
    ASSERT_EQ(0, songSwitchPrepare(songB.c_str()));
    EXPECT_EQ(4, wrapperInstanceCount(w));
    songSwitchCancel();

    // A well-formed file whose blob the wrapper finds malformed after its
    // first record: the last record's user data size (the u32 before its
    // one byte) grows past the end.
    std::vector<uint8_t> malformed = good;
    malformed[malformed.size() - 2] = 0x40;
    writeBytes(damaged, malformed);
    EXPECT_EQ(kResultWrapperRejected, songSwitchPrepare(damaged.c_str()));
    unchanged("malformed blob");

    // The test wrapper knows no WD_ADD_STATE: B's instances, made before its
    // chunk, are destroyed again.
    wrappersUnloadAll();
    addTestWrapper("testwrap_ok", "twrap");
    ASSERT_EQ(0, wrappersLoadAll());
    w = defaultWrapperIndex();
    ASSERT_EQ(0, wrapperRefreshList(w));
    for (ChainSlot& s : engine.chain) s = ChainSlot{};
    ASSERT_EQ(0, performanceRead(songA.c_str()));
    const std::vector<intptr_t> reloaded = chainHandles();
    std::vector<uint8_t> twoWrappers = good;
    const char chunk[] = "WRAPPER\x0d\x00Test Wrapper\x00STATE\x04\x00\x00\x00" "abcd";
    twoWrappers.insert(twoWrappers.end(), chunk, chunk + sizeof chunk - 1);
    writeBytes(damaged, twoWrappers);
    EXPECT_EQ(kResultWrapperRejected, songSwitchPrepare(damaged.c_str()));
    EXPECT_EQ(reloaded, chainHandles());
    EXPECT_EQ(2, wrapperInstanceCount(w));

    // Without live input the commit switches at once.
    ASSERT_EQ(0, songSwitchPrepare(songB.c_str()));
    ASSERT_EQ(0, songSwitchCommit(false));
    EXPECT_EQ(kSwitchIdle, songSwitchState());
    EXPECT_EQ(2, wrapperInstanceCount(w));
    EXPECT_STREQ("flanger", wrapperInstanceName(w, engine.chain[2].instance));
    EXPECT_EQ(songB, gPerformance.currentPath);
    EXPECT_FALSE(performanceChanged());
}

TEST_F(SongSwitchTest, PlugInsInHelpersOfBothSongsRunSideBySideAndTheOldOnesEnd) {
    const int v = loadVstWrapper();
    ASSERT_GE(v, 0);
    gHost.separateDeadlineUs = 1000 * 1000;  // blocks come as fast as they can here
    ASSERT_EQ(0, engineConfigure(engine, 44100, true));
    const std::string songC = app.path() + "c.qvp", songD = app.path() + "d.qvp", songE = app.path() + "e.qvp";
    ASSERT_EQ(0, chainAttach(0, w, pluginIndex(w, "reverb")));
    ASSERT_EQ(0, chainAttach(1, v, pluginIndex(v, "tvst_stereo")));
    chainToggleBypass(1);
    ASSERT_EQ(0, performanceWrite(songE.c_str()));
    clearAll();
    ASSERT_EQ(0, chainAttach(0, w, pluginIndex(w, "reverb")));
    ASSERT_EQ(0, chainAttachSeparate(2, v, pluginIndex(v, "tvst_stereo")));
    ASSERT_EQ(0, performanceWrite(songC.c_str()));
    clearAll();
    ASSERT_EQ(0, chainAttachSeparate(3, v, pluginIndex(v, "tvst_stereo")));
    chainToggleBypass(3);
    ASSERT_EQ(0, performanceWrite(songD.c_str()));
    clearAll();
    // The VST wrapper does not add states yet: its own (empty) chunk is left out.
    writeBytes(songD, withoutOwnChunk(bytesOf(songD), "VST Plugins"));
    ASSERT_EQ(0, helpersHeld());
    ASSERT_EQ(0, performanceRead(songC.c_str()));
    BridgeInstance* old = chainSeparate(2);
    ASSERT_NE(nullptr, old);

    for (int i = 0; i < 10; ++i) block();
    ASSERT_EQ(0, songSwitchPrepare(songD.c_str()));
    EXPECT_EQ(2, helpersHeld());
    EXPECT_EQ(old, chainSeparate(2));
    ASSERT_EQ(0, songSwitchCommit(true));
    int blocks = 0;
    while (!songSwitchPoll(true) && blocks < 2000) {
        block();
        ++blocks;
        if (blocks == 1) EXPECT_EQ(old, reinterpret_cast<BridgeInstance*>(engine.tailChain[2].instance));
    }
    EXPECT_EQ(kSwitchIdle, songSwitchState());
    EXPECT_EQ(1, helpersHeld());
    EXPECT_EQ(nullptr, chainSeparate(2));
    ASSERT_NE(nullptr, chainSeparate(3));
    EXPECT_EQ(0, wrapperInstanceActive(v, engine.chain[3].instance));
    EXPECT_EQ(0u, chainSeparate(3)->misses.load());
    EXPECT_EQ(0, engine.chain[0].instance);
    EXPECT_EQ(0, wrapperInstanceCount(w));
    EXPECT_FALSE(performanceChanged());

    // "Run All Plug-ins in Separate Processes" holds for a prepared song: its
    // plug-in starts in a helper, bypassed as saved; the built-in effect
    // stays inside.
    gHost.allSeparate = true;
    ASSERT_EQ(0, songSwitchPrepare(songE.c_str()));
    ASSERT_TRUE(gSongSwitch.pending[1].separate);
    EXPECT_EQ(0, wrapperInstanceActive(v, gSongSwitch.pending[1].instance));
    EXPECT_FALSE(gSongSwitch.pending[0].separate);
    EXPECT_EQ(0, wrapperInstanceCount(v));
    ASSERT_EQ(0, songSwitchCommit(false));
    EXPECT_NE(nullptr, chainSeparate(1));
    EXPECT_EQ(1, helpersHeld());
    gHost.allSeparate = false;
}

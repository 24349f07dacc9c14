// The VST 3 wrapper from the stage over our own test modules
// (testmodules/vst3, testmodules/vst3-hostile), driven through its two
// exports with a recording host. The tests load the same test library to
// read what the wrapper did to it.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#if defined(__x86_64__) || defined(_M_X64)
#include <xmmintrin.h>
#endif

#include "tests/support/messages.h"
#include "tests/support/module32.h"
#include "wrappers/common/libraryarch.h"
#include "tests/support/wrapperdriver.h"

namespace fs = std::filesystem;

namespace {

std::string testModules(const std::string& folder) {
    return (fs::path(testModulePath("x")).parent_path() / folder).string();
}

std::string bundleLibrary(const std::string& bundle) {
#if defined(_WIN32)
    return bundle + "\\Contents\\x86_64-win\\QvTestGain.vst3";
#else
    return bundle + "/Contents/x86_64-linux/QvTestGain.so";
#endif
}

void setEnvironment(const char* name, const char* value) {
#if defined(_WIN32)
    _putenv_s(name, value ? value : "");
#else
    if (value)
        setenv(name, value, 1);
    else
        unsetenv(name);
#endif
}

// The counters of the test module (the same library the wrapper loaded).
struct TestModule {
    PlatformModule module;
    void (*counts)(int32_t*);
    double (*tempo)();
    int64_t (*position)();
    explicit TestModule(const std::string& library) {
        module = platformLoadModule(library.c_str());
        counts = reinterpret_cast<void (*)(int32_t*)>(platformFindSymbol(module, "tvst3Counts"));
        tempo = reinterpret_cast<double (*)()>(platformFindSymbol(module, "tvst3LastTempo"));
        position = reinterpret_cast<int64_t (*)()>(platformFindSymbol(module, "tvst3LastPosition"));
    }
    ~TestModule() { platformUnloadModule(module); }
    int32_t count(int which) const {
        int32_t c[12] = {};
        counts(c);
        return c[which];
    }
};
enum { kInits, kExits, kLive, kInitialize, kTerminate, kSetups, kActivations, kProcessingOn, kProcessCalls,
       kMaxBlock, kRate, kRestarts };

class Vst3Wrapper : public ::testing::Test {
protected:
    AppFolder folder;
    WrapperDriver w = WrapperDriver::staged("vst3wrapper");
    std::string plugins;

    void SetUp() override {
        ASSERT_NE(nullptr, w.dispatch);
        plugins = folder.path() + "Plugins";
        fs::copy(testModules("vst3"), plugins, fs::copy_options::recursive);
        ASSERT_TRUE(platformWriteSetting("VSTDir", plugins.c_str()));
        ASSERT_TRUE(platformWriteSetting("VST3Cache", (folder.path() + "scan.txt").c_str()));
        ASSERT_EQ(1, w.open(folder.path()));
        ASSERT_EQ(1, w.call(WD_REFRESH_LIST));
    }
    void TearDown() override {
        w.call(WD_CLOSE);
        setEnvironment("QV_TVST3", nullptr);
        platformWriteSetting("VSTDir", nullptr);
        platformWriteSetting("VST3Cache", nullptr);
    }

    std::string library() const { return bundleLibrary(plugins + (char)platformPathSeparator() + "QvTestGain.vst3"); }

    void start(int channels, int rate, int block) {
        w.call(WD_SET_CHANNELS, 0, channels);
        w.call(WD_SET_SAMPLE_RATE, 0, rate);
        w.call(WD_SET_BLOCK_SIZE, 0, block);
        w.call(WD_SET_PROCESSING, 0, 1);
    }
    // One block of `n` frames of a ramp through the instance; returns left, right.
    std::pair<std::vector<float>, std::vector<float>> block(intptr_t handle, int n, bool stereo = true) {
        std::vector<float> l(n), r(n);
        for (int i = 0; i < n; ++i) {
            l[i] = 0.001f * static_cast<float>(i) - 0.2f;
            r[i] = -0.5f * l[i];
        }
        w.process(handle, l.data(), stereo ? r.data() : nullptr);
        return {l, r};
    }
    bool setParameter(intptr_t handle, int index, double value) {
        WrapperParameter p{};
        p.index = index;
        p.value = value;
        return w.call(WD_SET_PARAMETER, handle, reinterpret_cast<intptr_t>(&p)) == 1;
    }
    WrapperParameter parameter(intptr_t handle, int index) {
        WrapperParameter p{};
        p.index = index;
        EXPECT_EQ(1, w.call(WD_GET_PARAMETER, handle, reinterpret_cast<intptr_t>(&p)));
        return p;
    }
    int32_t latency(intptr_t handle) {
        int32_t frames = -1;
        EXPECT_EQ(1, w.call(WD_GET_LATENCY, handle, reinterpret_cast<intptr_t>(&frames)));
        return frames;
    }
};

std::vector<std::string> expectedList() {
#if defined(_WIN32)
    // The bundle, and the same module as a single file beside it.
    return {"Qv Test Gain", "Qv Test Single", "Qv Test Gain", "Qv Test Single"};
#else
    return {"Qv Test Gain", "Qv Test Single"};
#endif
}

// The scan lists the effect classes (never the synth), reports its
// progress, and keeps what it found: a rescan of unchanged modules takes
// their classes from the cache, a changed module is read again.
TEST_F(Vst3Wrapper, TheScanListsEffectsAndARescanOfUnchangedModulesUsesTheCache) {
    EXPECT_EQ(expectedList(), w.available());
    const std::vector<std::string> progress = RecordingHost::current().scanTexts();
    ASSERT_FALSE(progress.empty());
    EXPECT_NE(std::string::npos, progress[0].find("VST3 Plugin 0: ")) << progress[0];

    // The cache names the classes; renamed there, the rescan shows the new
    // name: nothing was loaded to ask.
    const std::string cacheFile = folder.path() + "scan.txt";
    std::ifstream in(cacheFile);
    std::string text((std::istreambuf_iterator<char>(in)), {});
    in.close();
    const size_t at = text.find(" Qv Test Single\n");
    ASSERT_NE(std::string::npos, at) << text;
    text.replace(at, 16, " Cached Single\n");
    std::ofstream(cacheFile, std::ios::binary) << text;
    ASSERT_EQ(1, w.call(WD_REFRESH_LIST));
    const std::vector<std::string> cached = w.available();
    EXPECT_EQ(1, static_cast<int>(std::count(cached.begin(), cached.end(), "Cached Single")));

    // The bundle's library changed: read again.
    fs::last_write_time(library(), fs::last_write_time(library()) + std::chrono::seconds(5));
    ASSERT_EQ(1, w.call(WD_REFRESH_LIST));
    std::vector<std::string> names = w.available();
    EXPECT_EQ(expectedList().size(), names.size());
    EXPECT_EQ("Qv Test Single", names[1]);
}

// Hostile modules (no factory, a factory of garbage, a crash in the
// factory, a class whose initialize fails): the scan survives them, skips
// the unreadable ones and says so once; the class that fails to start is
// listed but cannot be created.
TEST_F(Vst3Wrapper, HostileModulesAreSkippedAndReportedOnce) {
    ASSERT_TRUE(platformWriteSetting("VSTDir", testModules("vst3-hostile").c_str()));
    messagesStart();
    ASSERT_EQ(1, w.call(WD_REFRESH_LIST));
    const std::vector<ShownMessage> boxes = messagesTaken();
    ASSERT_EQ(1u, boxes.size());
    EXPECT_EQ("VST3 Plugins", boxes[0].caption);
    EXPECT_NE(std::string::npos, boxes[0].text.find("3 VST3 modules could not be read")) << boxes[0].text;
    for (const char* name : {"QvNoFactory", "QvGarbage", "QvCrash"})
        EXPECT_NE(std::string::npos, boxes[0].text.find(name)) << boxes[0].text;
    ASSERT_EQ(std::vector<std::string>{"Qv Test Fail Init"}, w.available());
    EXPECT_EQ(0, w.create("Qv Test Fail Init"));
    // A rescan keeps the verdicts without loading anything again.
    messagesStart();
    ASSERT_EQ(1, w.call(WD_REFRESH_LIST));
    EXPECT_EQ(1u, messagesTaken().size());
}

// A bundle with only a 32-bit library is read by the 32-bit scanner (which
// cannot run on every machine: then it is reported as unread), listed from
// the cache with " (32-bit)" and never loaded here.
TEST_F(Vst3Wrapper, ABundleWithOnlyA32BitLibraryIsListedForThe32BitHelper) {
    if (nativeLibraryArch() != LibraryArch::X64) GTEST_SKIP() << "only the 64-bit build lists 32-bit modules";
    writeX86Module(plugins + "\\Vintage.vst3\\Contents\\x86-win\\Vintage.vst3");
    messagesStart();
    ASSERT_EQ(1, w.call(WD_REFRESH_LIST));
    const std::vector<ShownMessage> boxes = messagesTaken();
    ASSERT_EQ(1u, boxes.size());
    EXPECT_NE(std::string::npos, boxes[0].text.find("Vintage.vst3")) << boxes[0].text;
    ASSERT_TRUE(cacheAsRead(folder.path() + "scan.txt", "Vintage.vst3", "C 0123456789ABCDEF0123456789ABCDEF Vintage Gain"));
    messagesStart();
    ASSERT_EQ(1, w.call(WD_REFRESH_LIST));
    EXPECT_TRUE(messagesTaken().empty());
    const int at = w.indexOf("Vintage Gain (32-bit)");
    ASSERT_LE(0, at);
    intptr_t handle = 0;
    EXPECT_EQ(0, w.call(WD_CREATE_INSTANCE, reinterpret_cast<intptr_t>(&handle), at));
    EXPECT_EQ(0, handle);
    EXPECT_NE(0, w.create("Qv Test Gain"));  // the 64-bit ones as before
}

// Both halves are created, set up for the engine and processed exactly;
// a parameter set from the UI reaches the processor at the next block,
// the transport reaches the plug-in, and nothing is left when it goes.
TEST_F(Vst3Wrapper, InstancesProcessExactSamplesAndFollowTheUiAndTheTransport) {
    TestModule probe(library());
    ASSERT_NE(nullptr, probe.counts);
    for (const char* name : {"Qv Test Gain", "Qv Test Single"}) {
        start(2, 48000, 64);
        const intptr_t handle = w.create(name);
        ASSERT_NE(0, handle) << name;
        EXPECT_EQ(name, w.instanceName(handle));
        EXPECT_EQ(64, probe.count(kMaxBlock));
        EXPECT_EQ(48000, probe.count(kRate));
        auto [l, r] = block(handle, 64);
        for (int i = 0; i < 64; ++i) {
            ASSERT_EQ(0.001f * static_cast<float>(i) - 0.2f, l[i]) << i;  // gain 1 at the default 0.5
            ASSERT_EQ(-0.5f * (0.001f * static_cast<float>(i) - 0.2f), r[i]) << i;
        }
        int32_t count = 0;
        ASSERT_EQ(1, w.call(WD_GET_PARAMETER_COUNT, handle, reinterpret_cast<intptr_t>(&count)));
        ASSERT_EQ(4, count);
        EXPECT_STREQ("Gain", parameter(handle, 0).name);
        ASSERT_TRUE(setParameter(handle, 0, 0.75));
        EXPECT_EQ(0.75, parameter(handle, 0).value);
        std::tie(l, r) = block(handle, 64);
        EXPECT_EQ((0.001f * 10 - 0.2f) * 1.5f, l[10]);
        EXPECT_FALSE(setParameter(handle, 9, 0.5));

        float bpm = 100.0f;
        w.call(WD_SET_TEMPO, reinterpret_cast<intptr_t>(&bpm));
        block(handle, 64);
        EXPECT_EQ(100.0, probe.tempo());
        EXPECT_EQ(2 * 64, probe.position());  // the third block's start

        // The plug-in reports its output peak; the idle call takes it to the
        // controller.
        w.call(WD_IDLE);
        EXPECT_GT(parameter(handle, 3).value, 0.0);

        // Bypassed: the block is the host's, untouched.
        w.call(WD_SET_INSTANCE_ACTIVE, handle, 0);
        const int calls = probe.count(kProcessCalls);
        std::tie(l, r) = block(handle, 64);
        EXPECT_EQ(calls, probe.count(kProcessCalls));
        w.call(WD_SET_INSTANCE_ACTIVE, handle, 1);

        w.call(WD_DESTROY_ALL);
        EXPECT_EQ(0, probe.count(kLive)) << name;
        EXPECT_EQ(probe.count(kInitialize), probe.count(kTerminate));
    }
}

// Mono: a mono engine gets a mono arrangement; a plug-in that refuses
// stereo in a stereo engine gets the mix of both channels and its one
// output on both.
TEST_F(Vst3Wrapper, ArrangementsFollowTheEngineAndWhatThePlugInAccepts) {
    start(1, 44100, 32);
    intptr_t handle = w.create("Qv Test Gain");
    ASSERT_NE(0, handle);
    auto [l, r] = block(handle, 32, false);
    EXPECT_EQ(0.001f * 5 - 0.2f, l[5]);  // one channel through at gain 1, not summed twice
    w.call(WD_DESTROY_ALL);

    setEnvironment("QV_TVST3", "refuse-stereo");
    w.call(WD_SET_CHANNELS, 0, 2);
    handle = w.create("Qv Test Gain");
    ASSERT_NE(0, handle);
    std::tie(l, r) = block(handle, 32);
    const float mix = (0.001f * 5 - 0.2f) * 0.5f;  // left + right = left / 2
    EXPECT_FLOAT_EQ(mix, l[5]);
    EXPECT_FLOAT_EQ(mix, r[5]);
}

// A module that sets flush-to-zero and denormals-are-zero when it is
// entered (as a library linked with -ffast-math does at load) leaves the
// host thread's control as it was: under denormals-are-zero the engine's
// gate took every block as below a threshold of 0 and faded it out.
TEST_F(Vst3Wrapper, AModuleThatSetsFlushToZeroLeavesTheHostsControlAsItWas) {
#if defined(__x86_64__) || defined(_M_X64)
    start(2, 44100, 32);
    setEnvironment("QV_TVST3", "fast-math");
    const unsigned before = _mm_getcsr();
    const intptr_t handle = w.create("Qv Test Gain");
    ASSERT_NE(0, handle);
    EXPECT_EQ(before, _mm_getcsr());
    block(handle, 32);
    w.call(WD_DESTROY_ALL);
    EXPECT_EQ(before, _mm_getcsr());
#endif
}

// The state round trip through the blob, a module that moved is found by
// its class, damaged blobs stop cleanly, and the latency follows the
// plug-in's restart request.
TEST_F(Vst3Wrapper, StateRoundTripsFindsAMovedModuleAndLatencyFollowsTheRestart) {
    start(2, 48000, 64);
    const intptr_t handle = w.create("Qv Test Gain");
    ASSERT_NE(0, handle);
    ASSERT_TRUE(setParameter(handle, 0, 0.25));
    block(handle, 64);
    ASSERT_EQ(1, w.setUserData(handle, "slot 3"));
    EXPECT_EQ(0, latency(handle));
    ASSERT_TRUE(setParameter(handle, 1, 0.256));
    block(handle, 64);
    EXPECT_EQ(256, latency(handle));
    const std::vector<uint8_t> blob = w.save();
    ASSERT_GT(blob.size(), 40u);
    w.call(WD_DESTROY_ALL);

    ASSERT_EQ(1, w.load(blob));
    intptr_t loaded = 0;
    ASSERT_EQ(1, w.call(WD_GET_INSTANCE, reinterpret_cast<intptr_t>(&loaded), 0));
    EXPECT_EQ("slot 3", w.userData(loaded));
    EXPECT_EQ(0.25, parameter(loaded, 0).value);
    EXPECT_EQ(256, latency(loaded));
    auto [l, r] = block(loaded, 64);
    EXPECT_EQ((0.001f * 7 - 0.2f) * 0.5f, l[7]);
    w.call(WD_DESTROY_ALL);

    // Moved: the blob's path is gone, the scanned module with its class is used.
    fs::rename(plugins, folder.path() + "Moved");
    ASSERT_TRUE(platformWriteSetting("VSTDir", (folder.path() + "Moved").c_str()));
    ASSERT_EQ(1, w.call(WD_REFRESH_LIST));
    messagesStart();
    ASSERT_EQ(1, w.load(blob));
    EXPECT_TRUE(messagesTaken().empty());
    ASSERT_EQ(1, w.call(WD_GET_INSTANCE, reinterpret_cast<intptr_t>(&loaded), 0));
    EXPECT_EQ(0.25, parameter(loaded, 0).value);
    w.call(WD_DESTROY_ALL);

    // Every cut of the blob and a few damaged bytes: never a crash, never
    // more instances than the blob held.
    messagesStart();
    for (size_t cut = 0; cut < blob.size(); ++cut) {
        std::vector<uint8_t> part(blob.begin(), blob.begin() + static_cast<long>(cut));
        w.load(part);
        w.call(WD_DESTROY_ALL);
    }
    std::vector<uint8_t> damaged = blob;
    damaged[12] = damaged[13] = 0xFF;  // the path's length
    EXPECT_EQ(0, w.load(damaged));
    damaged = blob;
    damaged[damaged.size() - 10] ^= 0x40;  // inside the states: the plug-in refuses, the blob still parses
    w.load(damaged);
    EXPECT_LE(w.count(WD_GET_INSTANCE_COUNT), 1);
}

// Values set while no block runs (live input stopped, or the plug-in
// bypassed) reach the plug-in before its state is saved, the last of a
// long drag included.
TEST_F(Vst3Wrapper, ValuesSetWhileNothingProcessesAreInTheSavedState) {
    start(2, 48000, 64);
    w.call(WD_SET_PROCESSING, 0, 0);
    const intptr_t handle = w.create("Qv Test Gain");
    ASSERT_NE(0, handle);
    for (int step = 0; step <= 300; ++step) ASSERT_TRUE(setParameter(handle, 0, step / 1000.0));  // ends at 0.3
    std::vector<uint8_t> blob = w.save();
    w.call(WD_DESTROY_ALL);
    ASSERT_EQ(1, w.load(blob));
    intptr_t loaded = 0;
    ASSERT_EQ(1, w.call(WD_GET_INSTANCE, reinterpret_cast<intptr_t>(&loaded), 0));
    EXPECT_DOUBLE_EQ(0.3, parameter(loaded, 0).value);
    w.call(WD_SET_PROCESSING, 0, 1);
    auto [l, r] = block(loaded, 64);
    EXPECT_FLOAT_EQ((0.001f * 9 - 0.2f) * 0.6f, l[9]);

    // Bypassed while live input runs: the same.
    w.call(WD_SET_INSTANCE_ACTIVE, loaded, 0);
    ASSERT_TRUE(setParameter(loaded, 0, 0.125));
    blob = w.save();
    w.call(WD_DESTROY_ALL);
    ASSERT_EQ(1, w.load(blob));
    ASSERT_EQ(1, w.call(WD_GET_INSTANCE, reinterpret_cast<intptr_t>(&loaded), 0));
    EXPECT_DOUBLE_EQ(0.125, parameter(loaded, 0).value);
}

}  // namespace

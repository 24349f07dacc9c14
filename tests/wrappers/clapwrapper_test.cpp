// The CLAP wrapper from the stage over our own test modules
// (testmodules/clap, testmodules/clap-hostile), driven through its exports
// with a recording host. The tests load the same test library to read what
// the wrapper did to it.
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "tests/support/messages.h"
#include "tests/support/module32.h"
#include "wrappers/common/libraryarch.h"
#include "tests/support/wrapperdriver.h"

namespace fs = std::filesystem;

namespace {

std::string testModules(const std::string& folder) {
    return (fs::path(testModulePath("x")).parent_path() / folder).string();
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
enum { kInits, kExits, kLive, kInitCalls, kDestroys, kActivations, kDeactivations, kStarts, kStops, kProcessCalls,
       kMaxFrames, kRate, kRestartRequests, kTimerTicks, kThreadViolations, kFlushes };
struct TestModule {
    PlatformModule module;
    void (*counts)(int32_t*);
    double (*tempo)();
    int64_t (*position)();
    explicit TestModule(const std::string& library) {
        module = platformLoadModule(library.c_str());
        counts = reinterpret_cast<void (*)(int32_t*)>(platformFindSymbol(module, "tclapCounts"));
        tempo = reinterpret_cast<double (*)()>(platformFindSymbol(module, "tclapLastTempo"));
        position = reinterpret_cast<int64_t (*)()>(platformFindSymbol(module, "tclapLastPosition"));
    }
    ~TestModule() { platformUnloadModule(module); }
    int32_t count(int which) const {
        int32_t c[16] = {};
        counts(c);
        return c[which];
    }
};

class ClapWrapper : public ::testing::Test {
protected:
    AppFolder folder;
    PlatformModule wrapper = platformLoadModule(stagedModule("Wrappers", "clapwrapper").c_str());
    WrapperDriver w;
    int32_t (*violations)() = nullptr;
    std::string plugins;

    void SetUp() override {
        w.dispatch = reinterpret_cast<WrapperDispatcherFn>(platformFindSymbol(wrapper, "wrapperDispatcher"));
        w.process = reinterpret_cast<WrapperProcessFn>(platformFindSymbol(wrapper, "processPlugin"));
        violations = reinterpret_cast<int32_t (*)()>(platformFindSymbol(wrapper, "clapWrapperThreadViolations"));
        ASSERT_TRUE(w.dispatch && w.process && violations);
        plugins = folder.path() + "Plugins";
        fs::copy(testModules("clap"), plugins, fs::copy_options::recursive);
        ASSERT_TRUE(platformWriteSetting("VSTDir", plugins.c_str()));
        ASSERT_TRUE(platformWriteSetting("CLAPCache", (folder.path() + "scan.txt").c_str()));
        setEnvironment("CLAP_PATH", nullptr);
        ASSERT_EQ(1, w.open(folder.path()));
        ASSERT_EQ(1, w.call(WD_REFRESH_LIST));
    }
    void TearDown() override {
        w.call(WD_CLOSE);
        platformUnloadModule(wrapper);
        setEnvironment("QV_TCLAP", nullptr);
        platformWriteSetting("VSTDir", nullptr);
        platformWriteSetting("CLAPCache", nullptr);
    }

    std::string library() const { return plugins + static_cast<char>(platformPathSeparator()) + "QvTestGain.clap"; }

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

float ramp(int i) { return 0.001f * static_cast<float>(i) - 0.2f; }

// The scan lists the effect (never the instrument) with its progress and
// caches it: a rescan of the unchanged module takes the cache's word, a
// changed one is read again. Hostile modules are skipped and reported
// once; none of them takes the scan down.
TEST_F(ClapWrapper, TheScanListsEffectsCachesThemAndSkipsHostileModulesOnce) {
    EXPECT_EQ(std::vector<std::string>{"Qv Test Gain"}, w.available());
    const std::vector<std::string> progress = RecordingHost::current().scanTexts();
    ASSERT_FALSE(progress.empty());
    EXPECT_NE(std::string::npos, progress[0].find("CLAP Plugin 0: ")) << progress[0];

    const std::string cacheFile = folder.path() + "scan.txt";
    std::ifstream in(cacheFile);
    std::string text((std::istreambuf_iterator<char>(in)), {});
    in.close();
    EXPECT_EQ(0u, text.find("QVCLAPCACHE 1\n")) << text;
    const size_t at = text.find("C org.quorvane.test.gain Qv Test Gain\n");
    ASSERT_NE(std::string::npos, at) << text;
    text.replace(at, 38, "C org.quorvane.test.gain Cached Gain\n");
    std::ofstream(cacheFile, std::ios::binary) << text;
    ASSERT_EQ(1, w.call(WD_REFRESH_LIST));
    EXPECT_EQ(std::vector<std::string>{"Cached Gain"}, w.available());
    fs::last_write_time(library(), fs::last_write_time(library()) + std::chrono::seconds(5));
    ASSERT_EQ(1, w.call(WD_REFRESH_LIST));
    EXPECT_EQ(std::vector<std::string>{"Qv Test Gain"}, w.available());

    // Hostile modules in CLAP_PATH beside the good one.
    setEnvironment("CLAP_PATH", testModules("clap-hostile").c_str());
    messagesStart();
    ASSERT_EQ(1, w.call(WD_REFRESH_LIST));
    std::vector<ShownMessage> boxes = messagesTaken();
    setEnvironment("CLAP_PATH", nullptr);
    ASSERT_EQ(1u, boxes.size());
    EXPECT_EQ("CLAP Plugins", boxes[0].caption);
    EXPECT_NE(std::string::npos, boxes[0].text.find("CLAP modules could not be read")) << boxes[0].text;
    for (const char* name : {"QvNoEntry", "QvOldVersion", "QvFailEntry", "QvCrash"})
        EXPECT_NE(std::string::npos, boxes[0].text.find(name)) << boxes[0].text;
    const std::vector<std::string> listed = w.available();
    EXPECT_EQ(1, std::count(listed.begin(), listed.end(), "Qv Test Gain"));
}

// An instance processes exactly; a value set from the UI reaches the
// plug-in at the next block, values it reports reach the UI, the transport
// reaches it, every call is on its thread, and nothing is left when it goes.
// A 32-bit module: listed from what the 32-bit scanner found, with
// " (32-bit)", and never loaded here.
TEST_F(ClapWrapper, A32BitModuleIsListedForThe32BitHelper) {
    if (nativeLibraryArch() != LibraryArch::X64) GTEST_SKIP() << "only the 64-bit build lists 32-bit modules";
    writeX86Module(plugins + "\\Vintage.clap");
    messagesStart();
    ASSERT_EQ(1, w.call(WD_REFRESH_LIST));
    ASSERT_EQ(1u, messagesTaken().size());
    ASSERT_TRUE(cacheAsRead(folder.path() + "scan.txt", "Vintage.clap", "C org.example.vintage Vintage Gain"));
    ASSERT_EQ(1, w.call(WD_REFRESH_LIST));
    const int at = w.indexOf("Vintage Gain (32-bit)");
    ASSERT_LE(0, at);
    intptr_t handle = 0;
    EXPECT_EQ(0, w.call(WD_CREATE_INSTANCE, reinterpret_cast<intptr_t>(&handle), at));
    EXPECT_EQ(0, handle);
}

TEST_F(ClapWrapper, InstancesProcessExactlyWithParametersBothWaysOnTheirThreads) {
    TestModule probe(library());
    ASSERT_NE(nullptr, probe.counts);
    start(2, 48000, 64);
    const intptr_t handle = w.create("Qv Test Gain");
    ASSERT_NE(0, handle);
    EXPECT_EQ(64, probe.count(kMaxFrames));
    EXPECT_EQ(48000, probe.count(kRate));
    auto [l, r] = block(handle, 64);
    for (int i = 0; i < 64; ++i) {
        ASSERT_EQ(ramp(i), l[i]) << i;  // gain 1 by default
        ASSERT_EQ(-0.5f * ramp(i), r[i]) << i;
    }
    EXPECT_EQ(1, probe.count(kStarts)) << "processing starts on the audio thread's first block";

    int32_t count = 0;
    ASSERT_EQ(1, w.call(WD_GET_PARAMETER_COUNT, handle, reinterpret_cast<intptr_t>(&count)));
    ASSERT_EQ(3, count);
    WrapperParameter gain = parameter(handle, 0);
    EXPECT_STREQ("Gain", gain.name);
    EXPECT_EQ(0.5, gain.value);
    ASSERT_TRUE(setParameter(handle, 0, 0.75));
    std::tie(l, r) = block(handle, 64);
    EXPECT_EQ(ramp(10) * 1.5f, l[10]);
    EXPECT_EQ(0.75, parameter(handle, 0).value);
    EXPECT_FALSE(setParameter(handle, 2, 0.5)) << "the peak is read-only";
    EXPECT_FALSE(setParameter(handle, 9, 0.5));

    float bpm = 100.0f;
    w.call(WD_SET_TEMPO, reinterpret_cast<intptr_t>(&bpm));
    block(handle, 64);
    EXPECT_EQ(100.0, probe.tempo());
    EXPECT_EQ(std::llround(128.0 / 48000.0 * 2147483648.0), probe.position());  // the third block's start

    // The plug-in reports its output peak; the idle call serves it.
    w.call(WD_IDLE);
    EXPECT_GT(parameter(handle, 2).value, 0.0);

    // Bypassed: the block is the host's, untouched.
    w.call(WD_SET_INSTANCE_ACTIVE, handle, 0);
    const int calls = probe.count(kProcessCalls);
    block(handle, 64);
    EXPECT_EQ(calls, probe.count(kProcessCalls));
    w.call(WD_SET_INSTANCE_ACTIVE, handle, 1);

    // Stopped and started: processing stops and starts again on the audio
    // thread's side; no call came on a wrong thread either way.
    w.call(WD_SET_PROCESSING, 0, 0);
    EXPECT_EQ(1, probe.count(kStops));
    w.call(WD_SET_PROCESSING, 0, 1);
    block(handle, 64);
    EXPECT_EQ(2, probe.count(kStarts));
    EXPECT_EQ(0, probe.count(kThreadViolations));
    EXPECT_EQ(0, violations());

    w.call(WD_DESTROY_ALL);
    EXPECT_EQ(0, probe.count(kLive));
    EXPECT_EQ(probe.count(kActivations), probe.count(kDeactivations));
}

// A mono engine feeds one channel; mono ports in a stereo engine get the
// mix of both channels and give their one output to both.
TEST_F(ClapWrapper, PortsFollowWhatThePlugInHas) {
    start(1, 44100, 32);
    intptr_t handle = w.create("Qv Test Gain");
    ASSERT_NE(0, handle);
    auto [l, r] = block(handle, 32, false);
    EXPECT_FLOAT_EQ(ramp(5) * 2.0f, l[5]) << "a stereo plug-in's two outputs are summed into the mono engine";
    w.call(WD_DESTROY_ALL);

    setEnvironment("QV_TCLAP", "mono-ports");
    w.call(WD_SET_CHANNELS, 0, 2);
    handle = w.create("Qv Test Gain");
    ASSERT_NE(0, handle);
    std::tie(l, r) = block(handle, 32);
    const float mix = ramp(5) * 0.5f;  // left + right = left / 2
    EXPECT_FLOAT_EQ(mix, l[5]);
    EXPECT_FLOAT_EQ(mix, r[5]);
}

// A latency change asks for a restart, served on the main thread; so is a
// restart asked for from inside process; a main-thread call from the audio
// thread is caught and refused.
TEST_F(ClapWrapper, RestartsAreServedOnTheMainThreadAndWrongThreadCallsAreCaught) {
    TestModule probe(library());
    start(2, 48000, 64);
    intptr_t handle = w.create("Qv Test Gain");
    ASSERT_NE(0, handle);
    block(handle, 64);
    EXPECT_EQ(0, latency(handle));
    ASSERT_TRUE(setParameter(handle, 1, 0.25));
    block(handle, 64);
    const int activations = probe.count(kActivations);
    w.call(WD_IDLE);
    EXPECT_EQ(activations + 1, probe.count(kActivations));
    EXPECT_EQ(250, latency(handle));
    auto [l, r] = block(handle, 64);
    EXPECT_EQ(ramp(3), l[3]) << "processing goes on after the restart";
    w.call(WD_DESTROY_ALL);

    setEnvironment("QV_TCLAP", "restart-in-process wrong-thread");
    handle = w.create("Qv Test Gain");
    ASSERT_NE(0, handle);
    block(handle, 64);
    EXPECT_EQ(1, violations()) << "params.rescan from process";
    const int before = probe.count(kActivations);
    w.call(WD_IDLE);
    EXPECT_EQ(before + 1, probe.count(kActivations));
    std::tie(l, r) = block(handle, 64);
    EXPECT_EQ(ramp(3), l[3]);
    EXPECT_EQ(0, probe.count(kThreadViolations)) << "the wrapper called the plug-in on its threads";
}

// The state round trip through the blob, a module that moved is found by
// its id, a damaged state is refused by the plug-in and damaged blobs stop
// cleanly.
TEST_F(ClapWrapper, StateRoundTripsFindsAMovedModuleAndSurvivesDamage) {
    start(2, 48000, 64);
    const intptr_t handle = w.create("Qv Test Gain");
    ASSERT_NE(0, handle);
    ASSERT_TRUE(setParameter(handle, 0, 0.25));
    ASSERT_TRUE(setParameter(handle, 1, 0.128));
    block(handle, 64);
    w.call(WD_IDLE);
    ASSERT_EQ(1, w.setUserData(handle, "slot 2"));
    const std::vector<uint8_t> blob = w.save();
    ASSERT_GT(blob.size(), 40u);
    w.call(WD_DESTROY_ALL);

    ASSERT_EQ(1, w.load(blob));
    intptr_t loaded = 0;
    ASSERT_EQ(1, w.call(WD_GET_INSTANCE, reinterpret_cast<intptr_t>(&loaded), 0));
    EXPECT_EQ("slot 2", w.userData(loaded));
    EXPECT_EQ(0.25, parameter(loaded, 0).value);
    EXPECT_EQ(128, latency(loaded));
    auto [l, r] = block(loaded, 64);
    EXPECT_EQ(ramp(7) * 0.5f, l[7]);
    w.call(WD_DESTROY_ALL);

    // Moved: the blob's path is gone, the scanned module with its id is used.
    fs::rename(plugins, folder.path() + "Moved");
    ASSERT_TRUE(platformWriteSetting("VSTDir", (folder.path() + "Moved").c_str()));
    ASSERT_EQ(1, w.call(WD_REFRESH_LIST));
    messagesStart();
    ASSERT_EQ(1, w.load(blob));
    EXPECT_TRUE(messagesTaken().empty());
    ASSERT_EQ(1, w.call(WD_GET_INSTANCE, reinterpret_cast<intptr_t>(&loaded), 0));
    EXPECT_EQ(0.25, parameter(loaded, 0).value);
    w.call(WD_DESTROY_ALL);

    // A plug-in that saves garbage: the load is refused by it, the instance
    // stays with its defaults.
    setEnvironment("QV_TCLAP", "damaged-state");
    const intptr_t damagedOne = w.create("Qv Test Gain");
    ASSERT_NE(0, damagedOne);
    const std::vector<uint8_t> garbage = w.save();
    w.call(WD_DESTROY_ALL);
    setEnvironment("QV_TCLAP", nullptr);
    ASSERT_EQ(1, w.load(garbage));
    ASSERT_EQ(1, w.call(WD_GET_INSTANCE, reinterpret_cast<intptr_t>(&loaded), 0));
    EXPECT_EQ(0.5, parameter(loaded, 0).value);
    w.call(WD_DESTROY_ALL);

    // Every cut of the blob and a damaged length: never a crash, never more
    // instances than the blob held.
    messagesStart();
    for (size_t cut = 0; cut < blob.size(); ++cut) {
        std::vector<uint8_t> part(blob.begin(), blob.begin() + static_cast<long>(cut));
        w.load(part);
        EXPECT_LE(w.count(WD_GET_INSTANCE_COUNT), 1);
        w.call(WD_DESTROY_ALL);
    }
    std::vector<uint8_t> damaged = blob;
    damaged[12] = damaged[13] = 0xFF;  // the path's length
    EXPECT_EQ(0, w.load(damaged));
}

}  // namespace

// The default wrapper from the stage, driven through its two exports with a
// recording host callback, over a throwaway application folder.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "common/bytes.h"
#include "host/wrapperprotocol.h"
#include "platform/platform.h"
#include "tests/support/appfolder.h"
#include "tests/support/messages.h"
#include "tests/support/wrapperdriver.h"

#if defined(_WIN32)
#include <windows.h>
static unsigned long processId() { return GetCurrentProcessId(); }
#else
#include <unistd.h>
static unsigned long processId() { return static_cast<unsigned long>(getpid()); }
#endif

namespace {

struct Call {
    intptr_t opcode, a1;
    bool operator==(const Call&) const = default;
};
std::vector<Call> hostCalls;
uint16_t answeredVersion = kHostVersion;

intptr_t WRAPPER_CALL recordingHost(intptr_t opcode, intptr_t a1, intptr_t) {
    hostCalls.push_back({opcode, a1});
    if (opcode == HC_GET_HOST_VERSION) *reinterpret_cast<uint16_t*>(a1) = answeredVersion;
    if (opcode == HC_GET_HOST_NAME) *reinterpret_cast<const char**>(a1) = kHostName;
    return 1;
}

const WrapperDriver& defwrapper() {
    static WrapperDriver w = WrapperDriver::staged("defwrapper");
    return w;
}

class DefWrapper : public ::testing::Test {
protected:
    AppFolder app;
    const WrapperDriver& w = defwrapper();

    void SetUp() override {
        ASSERT_NE(nullptr, w.dispatch) << "defwrapper not staged";
        app.addStagedEffects();
        app.addEffect(testModulePath("testfx_plain"), "plain" + librarySuffix());
        app.addEffect(testModulePath("testfx_refuse"), "refuse" + librarySuffix());
        app.addEffect(testModulePath("testfx_noprocess"), "noprocess" + librarySuffix());
        app.addEffect(testModulePath("testfx_plain"), "upper" + upper(librarySuffix()));
        messagesStart();
        hostCalls.clear();
        answeredVersion = kHostVersion;
        ASSERT_EQ(1, w.call(WD_SET_HOST_CALLBACK, reinterpret_cast<intptr_t>(recordingHost), 4));
        ASSERT_EQ(1, w.call(WD_OPEN, reinterpret_cast<intptr_t>(app.path().c_str()), 0));
        w.call(WD_SET_SAMPLE_RATE, 0, 44100);
        w.call(WD_SET_BLOCK_SIZE, 0, 64);
        ASSERT_EQ(1, w.call(WD_REFRESH_LIST, 0, 0));
    }
    void TearDown() override { w.call(WD_CLOSE, 0, 0); }

    static std::string upper(std::string s) {
        for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        return s;
    }

    // A blob record by hand.
    static void addRecord(std::vector<uint8_t>& blob, const std::string& name, const std::vector<uint8_t>& state,
                          const std::string& user) {
        blob.insert(blob.end(), {'P', 'L', 'U', 'G'});
        uint8_t n[2];
        putU16(n, static_cast<uint16_t>(name.size()));
        blob.insert(blob.end(), n, n + 2);
        blob.insert(blob.end(), name.begin(), name.end());
        uint8_t size[4];
        putU32(size, static_cast<uint32_t>(state.size()));
        blob.insert(blob.end(), size, size + 4);
        blob.insert(blob.end(), state.begin(), state.end());
        putU32(size, static_cast<uint32_t>(user.size()));
        blob.insert(blob.end(), size, size + 4);
        blob.insert(blob.end(), user.begin(), user.end());
    }
    static std::vector<uint8_t> emptyBlob() { return {'D', 'E', 'F', 'W', 'R', 'A', 'P', '_'}; }

    std::vector<float> processImpulse(intptr_t handle, size_t frames) {
        std::vector<float> left(frames, 0.0f);
        left[0] = 1.0f;
        for (size_t at = 0; at < frames; at += 64) w.process(handle, &left[at], nullptr);
        return left;
    }
};

}  // namespace

TEST_F(DefWrapper, OpenAsksVersionThenNameAndRefusesAnotherHostVersion) {
    w.call(WD_CLOSE, 0, 0);
    hostCalls.clear();
    answeredVersion = 120;
    EXPECT_EQ(0, w.call(WD_OPEN, reinterpret_cast<intptr_t>(app.path().c_str()), 0));
    ASSERT_GE(hostCalls.size(), 2u);
    EXPECT_EQ(HC_GET_HOST_VERSION, hostCalls[0].opcode);
    EXPECT_EQ(HC_GET_HOST_NAME, hostCalls[1].opcode);
    std::vector<ShownMessage> shown = messagesTaken();
    ASSERT_EQ(1u, shown.size());
    EXPECT_EQ("Wrapper will work with Quorvane Live v1.21 only!", shown[0].text);
    EXPECT_EQ("Quo Plugins: host version is not correct", shown[0].caption);
    answeredVersion = kHostVersion;
    EXPECT_EQ(1, w.call(WD_OPEN, reinterpret_cast<intptr_t>(app.path().c_str()), 0));
}

TEST_F(DefWrapper, ListsModulesWithTheLowerCaseSuffixOnly) {
    char name[kWrapperNameBuffer];
    ASSERT_EQ(1, w.call(WD_GET_NAME, reinterpret_cast<intptr_t>(name), 100));
    EXPECT_STREQ("Quorvane Plugins", name);
    std::vector<std::string> names = w.available();
    std::set<std::string> set(names.begin(), names.end());
    EXPECT_EQ((std::set<std::string>{"chorus", "echo", "flanger", "reverb", "plain", "refuse", "noprocess"}), set);
    EXPECT_EQ(7, w.count(WD_GET_AVAILABLE_COUNT));
    EXPECT_EQ(0, w.call(WD_GET_AVAILABLE_NAME, reinterpret_cast<intptr_t>(name), 7));
}

TEST_F(DefWrapper, MissingEffectsFolderIsReported) {
    app.removeFolder("Effects");
    messagesStart();
    EXPECT_EQ(0, w.call(WD_REFRESH_LIST, 0, 0));
    std::vector<ShownMessage> shown = messagesTaken();
    ASSERT_EQ(1u, shown.size());
    EXPECT_EQ("Plugin directory does not exist", shown[0].text);
    EXPECT_EQ("Quorvane Plugins", shown[0].caption);
    EXPECT_EQ(0, w.count(WD_GET_AVAILABLE_COUNT));
}

TEST_F(DefWrapper, InstancesKeepCreationOrderAcrossDestruction) {
    intptr_t a = w.create("echo"), b = w.create("reverb"), c = w.create("chorus");
    ASSERT_NE(0, a);
    ASSERT_NE(0, c);
    EXPECT_EQ("reverb", w.instanceName(b));
    EXPECT_EQ(3, w.count(WD_GET_INSTANCE_COUNT));
    hostCalls.clear();
    EXPECT_EQ(1, w.call(WD_DESTROY_INSTANCE, a, 4));
    EXPECT_EQ((std::vector<Call>{{HC_INSTANCE_DESTROYED, a}}), hostCalls);
    EXPECT_EQ(2, w.count(WD_GET_INSTANCE_COUNT));
    intptr_t first = 0;
    ASSERT_EQ(1, w.call(WD_GET_INSTANCE, reinterpret_cast<intptr_t>(&first), 0));
    EXPECT_EQ(b, first);
    EXPECT_EQ(0, w.call(WD_GET_INSTANCE, reinterpret_cast<intptr_t>(&first), 2));
    EXPECT_EQ(0, w.call(WD_IS_INSTANCE, a, 4));
    EXPECT_EQ(1, w.call(WD_IS_INSTANCE, c, 4));

    hostCalls.clear();
    EXPECT_EQ(1, w.call(WD_DESTROY_ALL, 0, 0));
    EXPECT_EQ((std::vector<Call>{{HC_ALL_INSTANCES_DESTROYED, 0}}), hostCalls);
    EXPECT_EQ(0, w.count(WD_GET_INSTANCE_COUNT));
}

TEST_F(DefWrapper, ModulesThatCannotOpenAreNotInstantiated) {
    EXPECT_EQ(0, w.create("refuse"));
    EXPECT_EQ(0, w.create("noprocess"));
    intptr_t handle = 0;
    EXPECT_EQ(0, w.call(WD_CREATE_INSTANCE, reinterpret_cast<intptr_t>(&handle), 99));
    EXPECT_EQ(0, w.count(WD_GET_INSTANCE_COUNT));
}

TEST_F(DefWrapper, BypassSkipsTheEffectAndReportsItsState) {
    intptr_t h = w.create("plain");  // halves the first sample
    EXPECT_EQ(2, w.call(WD_GET_INSTANCE_ACTIVE, h, 4));
    EXPECT_EQ(0.5f, processImpulse(h, 64)[0]);
    EXPECT_EQ(1, w.call(WD_SET_INSTANCE_ACTIVE, h, 0));
    EXPECT_EQ(1, w.call(WD_SET_INSTANCE_ACTIVE, h, 0));
    EXPECT_EQ(1, w.call(WD_GET_INSTANCE_ACTIVE, h, 4));
    EXPECT_EQ(1.0f, processImpulse(h, 64)[0]);
    EXPECT_EQ(0, w.call(WD_GET_INSTANCE_ACTIVE, 0, 4));
    w.process(0, nullptr, nullptr);  // a null handle does nothing
}

TEST_F(DefWrapper, TwoInstancesOfOneEffectKeepTheirOwnState) {
    intptr_t first = w.create("echo"), second = w.create("echo");
    ASSERT_NE(0, first);
    ASSERT_NE(0, second);
    std::vector<uint8_t> blob = w.save();
    // Give the instances different echo times through a blob.
    std::vector<uint8_t> edited = emptyBlob();
    const size_t record = 8, chunkAt = record + 4 + 2 + std::strlen("echo") + librarySuffix().size() + 4;
    std::vector<uint8_t> chunk(blob.begin() + chunkAt, blob.begin() + chunkAt + 28);
    putU32(&chunk[8], 100);
    addRecord(edited, "echo" + librarySuffix(), chunk, "");
    putU32(&chunk[8], 300);
    addRecord(edited, "echo" + librarySuffix(), chunk, "");
    ASSERT_EQ(1, w.load(edited));
    EXPECT_EQ(edited, w.save());

    intptr_t a = 0, b = 0;
    w.call(WD_GET_INSTANCE, reinterpret_cast<intptr_t>(&a), 0);
    w.call(WD_GET_INSTANCE, reinterpret_cast<intptr_t>(&b), 1);
    auto firstRepeat = [](const std::vector<float>& v) {
        for (size_t i = 1; i < v.size(); ++i)
            if (v[i] != 0.0f) return i;
        return v.size();
    };
    EXPECT_EQ(4410u, firstRepeat(processImpulse(a, 44100 / 64 * 64)));
    EXPECT_EQ(13230u, firstRepeat(processImpulse(b, 44100 / 64 * 64)));
}

TEST_F(DefWrapper, PrivateModuleCopiesGoAwayWithTheirInstances) {
    namespace fs = std::filesystem;
    // Copies are named "qv<process id>_<n>" with the library suffix.
    const std::string prefix = "qv" + std::to_string(processId()) + "_";
    auto copies = [&] {
        int n = 0;
        for (const auto& entry : fs::directory_iterator(fs::temp_directory_path()))
            if (entry.path().filename().string().rfind(prefix, 0) == 0 &&
                entry.path().extension().string() == librarySuffix())
                ++n;
        return n;
    };
    const int before = copies();
    intptr_t a = w.create("flanger"), b = w.create("flanger"), c = w.create("flanger");
    EXPECT_EQ(before + 2, copies());
    w.call(WD_DESTROY_INSTANCE, b, 4);
    EXPECT_EQ(before + 1, copies());
    w.call(WD_DESTROY_INSTANCE, a, 4);
    w.call(WD_DESTROY_INSTANCE, c, 4);
    EXPECT_EQ(before, copies());
}

TEST_F(DefWrapper, EmptyStateIsTheTagAloneAndLoadsAsSuccess) {
    std::vector<uint8_t> blob = w.save();
    EXPECT_EQ(emptyBlob(), blob);
    w.create("echo");
    EXPECT_EQ(1, w.load(blob));
    EXPECT_EQ(0, w.count(WD_GET_INSTANCE_COUNT));
}

TEST_F(DefWrapper, StateRoundTripIsByteIdenticalWithUserData) {
    intptr_t a = w.create("echo"), b = w.create("plain"), c = w.create("chorus");
    w.setUserData(a, std::string("\x03", 1));
    w.setUserData(c, "slot");
    w.call(WD_SET_INSTANCE_ACTIVE, b, 0);
    std::vector<uint8_t> blob = w.save();
    // Record sizes: 14 + name + state + user data, the plain effect without state.
    const size_t n = librarySuffix().size();
    EXPECT_EQ(8 + (14 + 4 + n + 28 + 1) + (14 + 5 + n + 0 + 0) + (14 + 6 + n + 86 + 4), blob.size());
    ASSERT_EQ(1, w.load(blob));
    EXPECT_EQ(3, w.count(WD_GET_INSTANCE_COUNT));
    EXPECT_EQ(blob, w.save());
    intptr_t first = 0;
    w.call(WD_GET_INSTANCE, reinterpret_cast<intptr_t>(&first), 0);
    EXPECT_EQ(std::string("\x03", 1), w.userData(first));
}

TEST_F(DefWrapper, UserDataIsCopiedAndReplaced) {
    intptr_t h = w.create("echo");
    EXPECT_EQ("", w.userData(h));
    std::string data = "abc";
    w.setUserData(h, data);
    data[0] = 'x';
    EXPECT_EQ("abc", w.userData(h));
    w.setUserData(h, "");
    EXPECT_EQ("", w.userData(h));
    WrapperUserData none{0, 0, 0};
    EXPECT_EQ(0, w.call(WD_SET_USER_DATA, reinterpret_cast<intptr_t>(&none), 12));
}

TEST_F(DefWrapper, MissingModulesAreReportedAndTheRestStillLoads) {
    std::vector<uint8_t> blob = emptyBlob();
    addRecord(blob, "nosuch" + librarySuffix(), {}, "a");
    addRecord(blob, "..\\echo.dll", {}, "");
    addRecord(blob, "C:x.dll", {}, "");
    addRecord(blob, "sub/echo" + librarySuffix(), {}, "");
    addRecord(blob, "echo" + librarySuffix(), {}, "b");
    messagesStart();
    EXPECT_EQ(1, w.load(blob));
    EXPECT_EQ(1, w.count(WD_GET_INSTANCE_COUNT));
    std::vector<ShownMessage> shown = messagesTaken();
    ASSERT_EQ(4u, shown.size());
    EXPECT_EQ("Unable to load plugin library!", shown[0].text);
    EXPECT_EQ("nosuch" + librarySuffix(), shown[0].caption);
    EXPECT_EQ("..\\echo.dll", shown[1].caption);
}

TEST_F(DefWrapper, MalformedBlobsStopAfterTheRecordsBeforeTheFault) {
    for (size_t badLength : {size_t{4}, size_t{64}}) {
        std::vector<uint8_t> blob = emptyBlob();
        addRecord(blob, "echo" + librarySuffix(), {}, "");
        addRecord(blob, std::string(badLength, 'x'), {}, "");
        EXPECT_EQ(0, w.load(blob)) << badLength;
        EXPECT_EQ(1, w.count(WD_GET_INSTANCE_COUNT));
    }
    std::vector<uint8_t> wrongTag = emptyBlob();
    wrongTag[7] = '-';
    EXPECT_EQ(0, w.load(wrongTag));
    EXPECT_EQ(0, w.load({'D', 'E', 'F'}));
}

TEST_F(DefWrapper, HugeLengthFieldsAreDamageNotAllocations) {
    std::vector<uint8_t> blob = emptyBlob();
    addRecord(blob, "echo" + librarySuffix(), {}, "");
    std::vector<uint8_t> state = blob;
    putU32(&state[8 + 6 + 4 + librarySuffix().size()], 0xFFFFFFF0u);
    EXPECT_EQ(0, w.load(state));
    std::vector<uint8_t> user = blob;
    putU32(&user[user.size() - 4], 0x80000000u);
    EXPECT_EQ(0, w.load(user));
}

TEST_F(DefWrapper, EveryTruncationOfAValidBlobIsRefusedSafely) {
    w.create("echo");
    intptr_t h = w.create("reverb");
    w.setUserData(h, "xyz");
    const std::vector<uint8_t> blob = w.save();
    // Cut at a record boundary the rest is a valid, shorter blob.
    const size_t firstRecordEnd = 8 + 14 + std::strlen("echo") + librarySuffix().size() + 28;
    for (size_t n = 0; n < blob.size(); ++n) {
        std::vector<uint8_t> cut(blob.begin(), blob.begin() + n);
        intptr_t result = w.load(cut);
        EXPECT_EQ(n == 8 || n == firstRecordEnd ? 1 : 0, result) << n;
    }
    EXPECT_EQ(1, w.load(blob));
}

TEST_F(DefWrapper, EditorCommandsAndCallbacks) {
    intptr_t h = w.create("echo");
    EXPECT_EQ(0, w.call(WD_SHOW_EDITOR, h, 0));  // no editor frame in this build
    hostCalls.clear();
    EXPECT_EQ(1, w.call(WD_CLOSE_EDITOR, h, 4));
    EXPECT_EQ((std::vector<Call>{{HC_EDITOR_CLOSED, h}}), hostCalls);
    EXPECT_EQ(0, w.call(WD_CLOSE_EDITOR, 0, 4));
    EXPECT_EQ(0, w.call(27, 0, 0));
    float tempo = 140.0f;
    EXPECT_EQ(1, w.call(WD_SET_TEMPO, reinterpret_cast<intptr_t>(&tempo), 4));
    hostCalls.clear();
    w.call(WD_CLOSE, 0, 0);
    EXPECT_EQ((std::vector<Call>{{HC_WRAPPER_CLOSED, 0}}), hostCalls);
    EXPECT_EQ(0, w.count(WD_GET_INSTANCE_COUNT));
}

// The parameters are the editor's controls: their labels, their captions,
// the trackbar's travel as 0 ... 1 (a vertical one's top at 1), and a set
// reaches the sound.
TEST_F(DefWrapper, ParametersAreTheEditorsControlsAndMoveTheSound) {
    intptr_t echo = w.create("echo");
    ASSERT_EQ(5, w.parameterCount(echo));
    std::vector<std::string> names;
    for (int i = 0; i < 5; ++i) names.push_back(w.parameter(echo, i).name);
    EXPECT_EQ((std::vector<std::string>{"Time", "Feedback", "Wet Out", "Lowpass Frequency", "Lowpass Resonance"}),
              names);
    EXPECT_EQ(-1, w.parameter(echo, 5).index);
    EXPECT_FALSE(w.setParameter(echo, -1, 0.5));
    ASSERT_TRUE(w.setParameter(echo, 0, 0.0));
    EXPECT_STREQ("Time: 0.10 sec. (450 bpm, 3/4)", w.parameter(echo, 0).display);
    ASSERT_TRUE(w.setParameter(echo, 1, 0.0));

    ASSERT_TRUE(w.setParameter(echo, 2, 0.0));
    WrapperParameter wet = w.parameter(echo, 2);
    EXPECT_EQ(0.0, wet.value);
    EXPECT_STREQ("-96.0 dB", wet.display);
    const std::vector<float> silent = processImpulse(echo, 8192);
    ASSERT_TRUE(w.setParameter(echo, 2, 0.5));
    wet = w.parameter(echo, 2);
    EXPECT_NEAR(0.5, wet.value, 1e-9);
    EXPECT_STREQ("0.00 dB", wet.display);
    ASSERT_TRUE(w.setParameter(echo, 2, 7.0));  // limited to the top
    EXPECT_EQ(1.0, w.parameter(echo, 2).value);
    EXPECT_STREQ("6.02 dB", w.parameter(echo, 2).display);
    const std::vector<float> loud = processImpulse(echo, 8192);
    double before = 0, after = 0;
    for (size_t i = 4000; i < 8192; ++i) before += silent[i] * silent[i], after += loud[i] * loud[i];
    EXPECT_EQ(0.0, before);
    EXPECT_GT(after, 0.01);

    // The chorus's second voice follows the first; both flanger captions show.
    intptr_t chorus = w.create("chorus");
    ASSERT_EQ(12, w.parameterCount(chorus));
    EXPECT_STREQ("Source 1 Sweep Range", w.parameter(chorus, 0).name);
    EXPECT_STREQ("Source 2 Sweep Rate", w.parameter(chorus, 7).name);
    const std::string firstRate = w.parameter(chorus, 1).display;
    ASSERT_TRUE(w.setParameter(chorus, 7, 1.0));
    EXPECT_STREQ("5.00 Hz", w.parameter(chorus, 7).display);
    EXPECT_EQ(firstRate, w.parameter(chorus, 1).display);
    intptr_t flanger = w.create("flanger");
    ASSERT_TRUE(w.setParameter(flanger, 4, 0.25));
    EXPECT_STREQ("Mixing (Wet / Dry)", w.parameter(flanger, 4).name);
    EXPECT_STREQ("25.0% / 75.0%", w.parameter(flanger, 4).display);
    EXPECT_EQ(4, w.parameterCount(w.create("reverb")));
    // A module of the first kind has no controls to offer.
    EXPECT_EQ(0, w.parameterCount(w.create("plain")));
}

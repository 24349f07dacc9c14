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

struct Wrapper {
    WrapperDispatcherFn dispatch = nullptr;
    WrapperProcessFn process = nullptr;
};

const Wrapper& defwrapper() {
    static Wrapper w = [] {
        Wrapper loaded;
        PlatformModule m = platformLoadModule(stagedModule("Wrappers", "defwrapper").c_str());
        loaded.dispatch = reinterpret_cast<WrapperDispatcherFn>(platformFindSymbol(m, "wrapperDispatcher"));
        loaded.process = reinterpret_cast<WrapperProcessFn>(platformFindSymbol(m, "processPlugin"));
        return loaded;
    }();
    return w;
}

class DefWrapper : public ::testing::Test {
protected:
    AppFolder app;
    Wrapper w = defwrapper();

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
        ASSERT_EQ(1, call(WD_SET_HOST_CALLBACK, reinterpret_cast<intptr_t>(recordingHost), 4));
        ASSERT_EQ(1, call(WD_OPEN, reinterpret_cast<intptr_t>(app.path().c_str()), 0));
        call(WD_SET_SAMPLE_RATE, 0, 44100);
        call(WD_SET_BLOCK_SIZE, 0, 64);
        ASSERT_EQ(1, call(WD_REFRESH_LIST, 0, 0));
    }
    void TearDown() override { call(WD_CLOSE, 0, 0); }

    static std::string upper(std::string s) {
        for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        return s;
    }

    intptr_t call(intptr_t opcode, intptr_t a1 = 0, intptr_t a2 = 0) { return w.dispatch(opcode, a1, a2); }

    int count(intptr_t opcode) {
        int32_t n = -1;
        call(opcode, reinterpret_cast<intptr_t>(&n), 4);
        return n;
    }

    std::vector<std::string> available() {
        std::vector<std::string> names;
        char buffer[kWrapperNameBuffer];
        for (int i = 0; call(WD_GET_AVAILABLE_NAME, reinterpret_cast<intptr_t>(buffer), i); ++i)
            names.push_back(buffer);
        return names;
    }

    int indexOf(const std::string& name) {
        std::vector<std::string> names = available();
        auto it = std::find(names.begin(), names.end(), name);
        return it == names.end() ? -1 : static_cast<int>(it - names.begin());
    }

    intptr_t create(const std::string& name) {
        intptr_t handle = 0;
        call(WD_CREATE_INSTANCE, reinterpret_cast<intptr_t>(&handle), indexOf(name));
        return handle;
    }

    std::string instanceName(intptr_t handle) {
        char buffer[kWrapperNameBuffer] = "";
        return call(WD_GET_INSTANCE_NAME, handle, reinterpret_cast<intptr_t>(buffer)) ? buffer : "<none>";
    }

    std::vector<uint8_t> save() {
        uint8_t* blob = nullptr;
        intptr_t size = call(WD_SAVE_STATE, reinterpret_cast<intptr_t>(&blob), 4);
        return std::vector<uint8_t>(blob, blob + size);
    }

    intptr_t load(const std::vector<uint8_t>& blob) {
        return call(WD_LOAD_STATE, reinterpret_cast<intptr_t>(blob.data()), static_cast<intptr_t>(blob.size()));
    }

    void setUserData(intptr_t handle, const std::string& data) {
        WrapperUserData record{handle, reinterpret_cast<intptr_t>(data.data()), static_cast<intptr_t>(data.size())};
        ASSERT_EQ(1, call(WD_SET_USER_DATA, reinterpret_cast<intptr_t>(&record), 12));
    }
    std::string userData(intptr_t handle) {
        WrapperUserData record{handle, 0, 0};
        if (!call(WD_GET_USER_DATA, reinterpret_cast<intptr_t>(&record), 12)) return "<none>";
        return std::string(reinterpret_cast<const char*>(record.data), static_cast<size_t>(record.size));
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
    call(WD_CLOSE, 0, 0);
    hostCalls.clear();
    answeredVersion = 120;
    EXPECT_EQ(0, call(WD_OPEN, reinterpret_cast<intptr_t>(app.path().c_str()), 0));
    ASSERT_GE(hostCalls.size(), 2u);
    EXPECT_EQ(HC_GET_HOST_VERSION, hostCalls[0].opcode);
    EXPECT_EQ(HC_GET_HOST_NAME, hostCalls[1].opcode);
    std::vector<ShownMessage> shown = messagesTaken();
    ASSERT_EQ(1u, shown.size());
    EXPECT_EQ("Wrapper will work with Quorvane Live v1.21 only!", shown[0].text);
    EXPECT_EQ("Quo Plugins: host version is not correct", shown[0].caption);
    answeredVersion = kHostVersion;
    EXPECT_EQ(1, call(WD_OPEN, reinterpret_cast<intptr_t>(app.path().c_str()), 0));
}

TEST_F(DefWrapper, ListsModulesWithTheLowerCaseSuffixOnly) {
    char name[kWrapperNameBuffer];
    ASSERT_EQ(1, call(WD_GET_NAME, reinterpret_cast<intptr_t>(name), 100));
    EXPECT_STREQ("Quorvane Plugins", name);
    std::vector<std::string> names = available();
    std::set<std::string> set(names.begin(), names.end());
    EXPECT_EQ((std::set<std::string>{"chorus", "echo", "flanger", "reverb", "plain", "refuse", "noprocess"}), set);
    EXPECT_EQ(7, count(WD_GET_AVAILABLE_COUNT));
    EXPECT_EQ(0, call(WD_GET_AVAILABLE_NAME, reinterpret_cast<intptr_t>(name), 7));
}

TEST_F(DefWrapper, MissingEffectsFolderIsReported) {
    app.removeFolder("Effects");
    messagesStart();
    EXPECT_EQ(0, call(WD_REFRESH_LIST, 0, 0));
    std::vector<ShownMessage> shown = messagesTaken();
    ASSERT_EQ(1u, shown.size());
    EXPECT_EQ("Plugin directory does not exist", shown[0].text);
    EXPECT_EQ("Quorvane Plugins", shown[0].caption);
    EXPECT_EQ(0, count(WD_GET_AVAILABLE_COUNT));
}

TEST_F(DefWrapper, InstancesKeepCreationOrderAcrossDestruction) {
    intptr_t a = create("echo"), b = create("reverb"), c = create("chorus");
    ASSERT_NE(0, a);
    ASSERT_NE(0, c);
    EXPECT_EQ("reverb", instanceName(b));
    EXPECT_EQ(3, count(WD_GET_INSTANCE_COUNT));
    hostCalls.clear();
    EXPECT_EQ(1, call(WD_DESTROY_INSTANCE, a, 4));
    EXPECT_EQ((std::vector<Call>{{HC_INSTANCE_DESTROYED, a}}), hostCalls);
    EXPECT_EQ(2, count(WD_GET_INSTANCE_COUNT));
    intptr_t first = 0;
    ASSERT_EQ(1, call(WD_GET_INSTANCE, reinterpret_cast<intptr_t>(&first), 0));
    EXPECT_EQ(b, first);
    EXPECT_EQ(0, call(WD_GET_INSTANCE, reinterpret_cast<intptr_t>(&first), 2));
    EXPECT_EQ(0, call(WD_IS_INSTANCE, a, 4));
    EXPECT_EQ(1, call(WD_IS_INSTANCE, c, 4));

    hostCalls.clear();
    EXPECT_EQ(1, call(WD_DESTROY_ALL, 0, 0));
    EXPECT_EQ((std::vector<Call>{{HC_ALL_INSTANCES_DESTROYED, 0}}), hostCalls);
    EXPECT_EQ(0, count(WD_GET_INSTANCE_COUNT));
}

TEST_F(DefWrapper, ModulesThatCannotOpenAreNotInstantiated) {
    EXPECT_EQ(0, create("refuse"));
    EXPECT_EQ(0, create("noprocess"));
    intptr_t handle = 0;
    EXPECT_EQ(0, call(WD_CREATE_INSTANCE, reinterpret_cast<intptr_t>(&handle), 99));
    EXPECT_EQ(0, count(WD_GET_INSTANCE_COUNT));
}

TEST_F(DefWrapper, BypassSkipsTheEffectAndReportsItsState) {
    intptr_t h = create("plain");  // halves the first sample
    EXPECT_EQ(2, call(WD_GET_INSTANCE_ACTIVE, h, 4));
    EXPECT_EQ(0.5f, processImpulse(h, 64)[0]);
    EXPECT_EQ(1, call(WD_SET_INSTANCE_ACTIVE, h, 0));
    EXPECT_EQ(1, call(WD_SET_INSTANCE_ACTIVE, h, 0));
    EXPECT_EQ(1, call(WD_GET_INSTANCE_ACTIVE, h, 4));
    EXPECT_EQ(1.0f, processImpulse(h, 64)[0]);
    EXPECT_EQ(0, call(WD_GET_INSTANCE_ACTIVE, 0, 4));
    w.process(0, nullptr, nullptr);  // a null handle does nothing
}

TEST_F(DefWrapper, TwoInstancesOfOneEffectKeepTheirOwnState) {
    intptr_t first = create("echo"), second = create("echo");
    ASSERT_NE(0, first);
    ASSERT_NE(0, second);
    std::vector<uint8_t> blob = save();
    // Give the instances different echo times through a blob.
    std::vector<uint8_t> edited = emptyBlob();
    const size_t record = 8, chunkAt = record + 4 + 2 + std::strlen("echo") + librarySuffix().size() + 4;
    std::vector<uint8_t> chunk(blob.begin() + chunkAt, blob.begin() + chunkAt + 28);
    putU32(&chunk[8], 100);
    addRecord(edited, "echo" + librarySuffix(), chunk, "");
    putU32(&chunk[8], 300);
    addRecord(edited, "echo" + librarySuffix(), chunk, "");
    ASSERT_EQ(1, load(edited));
    EXPECT_EQ(edited, save());

    intptr_t a = 0, b = 0;
    call(WD_GET_INSTANCE, reinterpret_cast<intptr_t>(&a), 0);
    call(WD_GET_INSTANCE, reinterpret_cast<intptr_t>(&b), 1);
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
    intptr_t a = create("flanger"), b = create("flanger"), c = create("flanger");
    EXPECT_EQ(before + 2, copies());
    call(WD_DESTROY_INSTANCE, b, 4);
    EXPECT_EQ(before + 1, copies());
    call(WD_DESTROY_INSTANCE, a, 4);
    call(WD_DESTROY_INSTANCE, c, 4);
    EXPECT_EQ(before, copies());
}

TEST_F(DefWrapper, EmptyStateIsTheTagAloneAndLoadsAsSuccess) {
    std::vector<uint8_t> blob = save();
    EXPECT_EQ(emptyBlob(), blob);
    create("echo");
    EXPECT_EQ(1, load(blob));
    EXPECT_EQ(0, count(WD_GET_INSTANCE_COUNT));
}

TEST_F(DefWrapper, StateRoundTripIsByteIdenticalWithUserData) {
    intptr_t a = create("echo"), b = create("plain"), c = create("chorus");
    setUserData(a, std::string("\x03", 1));
    setUserData(c, "slot");
    call(WD_SET_INSTANCE_ACTIVE, b, 0);
    std::vector<uint8_t> blob = save();
    // Record sizes: 14 + name + state + user data, the plain effect without state.
    const size_t n = librarySuffix().size();
    EXPECT_EQ(8 + (14 + 4 + n + 28 + 1) + (14 + 5 + n + 0 + 0) + (14 + 6 + n + 86 + 4), blob.size());
    ASSERT_EQ(1, load(blob));
    EXPECT_EQ(3, count(WD_GET_INSTANCE_COUNT));
    EXPECT_EQ(blob, save());
    intptr_t first = 0;
    call(WD_GET_INSTANCE, reinterpret_cast<intptr_t>(&first), 0);
    EXPECT_EQ(std::string("\x03", 1), userData(first));
}

TEST_F(DefWrapper, UserDataIsCopiedAndReplaced) {
    intptr_t h = create("echo");
    EXPECT_EQ("", userData(h));
    std::string data = "abc";
    setUserData(h, data);
    data[0] = 'x';
    EXPECT_EQ("abc", userData(h));
    setUserData(h, "");
    EXPECT_EQ("", userData(h));
    WrapperUserData none{0, 0, 0};
    EXPECT_EQ(0, call(WD_SET_USER_DATA, reinterpret_cast<intptr_t>(&none), 12));
}

TEST_F(DefWrapper, MissingModulesAreReportedAndTheRestStillLoads) {
    std::vector<uint8_t> blob = emptyBlob();
    addRecord(blob, "nosuch" + librarySuffix(), {}, "a");
    addRecord(blob, "..\\echo.dll", {}, "");
    addRecord(blob, "C:x.dll", {}, "");
    addRecord(blob, "sub/echo" + librarySuffix(), {}, "");
    addRecord(blob, "echo" + librarySuffix(), {}, "b");
    messagesStart();
    EXPECT_EQ(1, load(blob));
    EXPECT_EQ(1, count(WD_GET_INSTANCE_COUNT));
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
        EXPECT_EQ(0, load(blob)) << badLength;
        EXPECT_EQ(1, count(WD_GET_INSTANCE_COUNT));
    }
    std::vector<uint8_t> wrongTag = emptyBlob();
    wrongTag[7] = '-';
    EXPECT_EQ(0, load(wrongTag));
    EXPECT_EQ(0, load({'D', 'E', 'F'}));
}

TEST_F(DefWrapper, HugeLengthFieldsAreDamageNotAllocations) {
    std::vector<uint8_t> blob = emptyBlob();
    addRecord(blob, "echo" + librarySuffix(), {}, "");
    std::vector<uint8_t> state = blob;
    putU32(&state[8 + 6 + 4 + librarySuffix().size()], 0xFFFFFFF0u);
    EXPECT_EQ(0, load(state));
    std::vector<uint8_t> user = blob;
    putU32(&user[user.size() - 4], 0x80000000u);
    EXPECT_EQ(0, load(user));
}

TEST_F(DefWrapper, EveryTruncationOfAValidBlobIsRefusedSafely) {
    create("echo");
    intptr_t h = create("reverb");
    setUserData(h, "xyz");
    const std::vector<uint8_t> blob = save();
    // Cut at a record boundary the rest is a valid, shorter blob.
    const size_t firstRecordEnd = 8 + 14 + std::strlen("echo") + librarySuffix().size() + 28;
    for (size_t n = 0; n < blob.size(); ++n) {
        std::vector<uint8_t> cut(blob.begin(), blob.begin() + n);
        intptr_t result = load(cut);
        EXPECT_EQ(n == 8 || n == firstRecordEnd ? 1 : 0, result) << n;
    }
    EXPECT_EQ(1, load(blob));
}

TEST_F(DefWrapper, EditorCommandsAndCallbacks) {
    intptr_t h = create("echo");
    EXPECT_EQ(0, call(WD_SHOW_EDITOR, h, 0));  // no editor frame in this build
    hostCalls.clear();
    EXPECT_EQ(1, call(WD_CLOSE_EDITOR, h, 4));
    EXPECT_EQ((std::vector<Call>{{HC_EDITOR_CLOSED, h}}), hostCalls);
    EXPECT_EQ(0, call(WD_CLOSE_EDITOR, 0, 4));
    EXPECT_EQ(0, call(27, 0, 0));
    float tempo = 140.0f;
    EXPECT_EQ(1, call(WD_SET_TEMPO, reinterpret_cast<intptr_t>(&tempo), 4));
    hostCalls.clear();
    call(WD_CLOSE, 0, 0);
    EXPECT_EQ((std::vector<Call>{{HC_WRAPPER_CLOSED, 0}}), hostCalls);
    EXPECT_EQ(0, count(WD_GET_INSTANCE_COUNT));
}

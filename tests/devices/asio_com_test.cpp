// The ASIO layer against the test driver registered as a COM server in the
// Wine prefix, as real drivers register: discovery from the registry,
// creation through COM, and live input driven by the driver's own thread at
// the real period.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

#include "devices/asiohost.h"
#include "devices/asioloader.h"
#include "streamconv/binding.h"
#include "tests/modules/testasio_core.h"
#include "tests/support/appfolder.h"
#include "tests/support/modules.h"
#include "tests/support/transparent.h"

namespace {

const char* const kClass = "{5A1C0E21-3B7D-4C8E-9F10-2A6B4D8E0C31}";
const char* const kOtherClass = "{5A1C0E21-3B7D-4C8E-9F10-2A6B4D8E0C32}";
const char* const kMissingClass = "{5A1C0E21-3B7D-4C8E-9F10-2A6B4D8E0C33}";
const char* const kUnregisteredClass = "{5A1C0E21-3B7D-4C8E-9F10-2A6B4D8E0C34}";

void setString(HKEY root, const std::string& key, const char* name, const std::string& value) {
    HKEY k;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(root, key.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &k, nullptr)) << key;
    ASSERT_EQ(ERROR_SUCCESS, RegSetValueExA(k, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                                            static_cast<DWORD>(value.size() + 1)));
    RegCloseKey(k);
}

void registerClass(const char* classId, const std::string& server) {
    const std::string key = std::string("Software\\Classes\\CLSID\\") + classId;
    setString(HKEY_LOCAL_MACHINE, key + "\\InprocServer32", nullptr, server);
    setString(HKEY_LOCAL_MACHINE, key + "\\InprocServer32", "ThreadingModel", "Apartment");
}

void unregisterAll() {
    RegDeleteTreeA(HKEY_LOCAL_MACHINE, "Software\\ASIO");
    for (const char* c : {kClass, kOtherClass, kMissingClass})
        RegDeleteTreeA(HKEY_LOCAL_MACHINE, (std::string("Software\\Classes\\CLSID\\") + c).c_str());
}

using SetConfigFn = void (*)(const TestAsioConfig*);
using CurrentFn = TestAsioCore* (*)();

class AsioCom : public ::testing::Test {
protected:
    EngineState engine;
    std::string server = testModulePath("testasio");
    HMODULE library = nullptr;
    SetConfigFn setConfig = nullptr;
    CurrentFn currentDriver = nullptr;

    void SetUp() override {
        ASSERT_TRUE(converterBind(stagePath("streamconv.dll").c_str()));
        unregisterAll();
        registerClass(kClass, server);
        registerClass(kOtherClass, server);
        registerClass(kMissingClass, server + ".missing");
        setString(HKEY_LOCAL_MACHINE, "Software\\ASIO\\QvTestDriver", "CLSID", kClass);
        setString(HKEY_LOCAL_MACHINE, "Software\\ASIO\\QvTestDriver", "Description", "Quorvane Test Driver");
        setString(HKEY_LOCAL_MACHINE, "Software\\ASIO\\QvNoDescription", "CLSID", kOtherClass);
        setString(HKEY_LOCAL_MACHINE, "Software\\ASIO\\QvNoClsid", "Description", "Never listed");
        setString(HKEY_LOCAL_MACHINE, "Software\\ASIO\\QvMissingServer", "CLSID", kMissingClass);
        setString(HKEY_LOCAL_MACHINE, "Software\\ASIO\\QvUnregistered", "CLSID", kUnregisteredClass);
        library = LoadLibraryA(server.c_str());
        ASSERT_NE(nullptr, library);
        setConfig = reinterpret_cast<SetConfigFn>(reinterpret_cast<void*>(GetProcAddress(library, "testAsioSetConfig")));
        currentDriver = reinterpret_cast<CurrentFn>(reinterpret_cast<void*>(GetProcAddress(library, "testAsioCurrent")));
        ASSERT_TRUE(setConfig && currentDriver);

        gAsioHost = AsioHost{};
        gAsioHost.engine = &engine;
        gAsioLoader = AsioLoader{};
        asioListBuild(gAsioLoader.list);
        makeTransparent(engine);
    }
    void TearDown() override {
        if (gAsioHost.running) asioStop();
        asioRemoveCurrentDriver(gAsioLoader);
        asioListDestroy(gAsioLoader.list);
        gAsioLoader = AsioLoader{};
        gAsioHost = AsioHost{};
        unregisterAll();
    }

    TestAsioCore& core() { return *currentDriver(); }

    // Live input on the test driver for `millis` milliseconds.
    void run(const TestAsioConfig& config, int millis) {
        setConfig(&config);
        ASSERT_EQ(0, asioOpen("Quorvane Test Driver"));
        ASSERT_EQ(0, asioStart());
        Sleep(static_cast<DWORD>(millis));
        ASSERT_EQ(0, asioStop());
        engine.processingEnabled = true;
    }

    void report(const char* what) {
        const TestAsioRecord& r = core().record;
        std::printf("%s: %lld periods, %lld late (first %lld, last %lld); slowest switch %.1f us, slowest host "
                    "callback %.1f us\n",
                    what, static_cast<long long>(r.switches), static_cast<long long>(r.lateSwitches),
                    static_cast<long long>(r.firstLateSwitch), static_cast<long long>(r.lastLateSwitch),
                    r.worstCallbackMicros, r.worstHostMicros);
    }
};

TEST_F(AsioCom, DiscoveryListsRegisteredDriversWithAnExistingServerOnly) {
    std::vector<std::string> names;
    for (int32_t id = 0; id < asioGetNumDev(gAsioLoader.list); ++id) {
        char name[32];
        ASSERT_EQ(0, asioGetDriverName(gAsioLoader.list, id, name, 32));
        names.push_back(name);
    }
    std::sort(names.begin(), names.end());
    EXPECT_EQ((std::vector<std::string>{"Quorvane Test Driver", "QvNoDescription"}), names);
    EXPECT_TRUE(gAsioLoader.list.comStarted);
}

TEST_F(AsioCom, LiveInputRunsAtTheDriversPeriodAndPassesTheSignal) {
    TestAsioConfig config;
    config.inputType = config.outputType = ASIOSTInt32LSB;
    config.rate = 48000.0;
    config.preferredSize = 256;
    run(config, 1500);
    report("48 kHz, 256 frames");
    const TestAsioRecord& r = core().record;
    EXPECT_GT(r.switches, 200);
    EXPECT_EQ(0, r.lateSwitches);
    EXPECT_EQ(0u, engine.engineStatus.load());
    for (int channel = 0; channel < 2; ++channel) {
        ASSERT_GE(core().captured[channel].size(), 200u * 256u);
        for (size_t f = 0; f < core().captured[channel].size(); ++f)
            ASSERT_NEAR(testAsioInput(static_cast<int64_t>(f), channel), core().captured[channel][f], 1e-6) << f;
    }
}

TEST_F(AsioCom, ThirtyTwoFrameBuffersAt96kHzMissNoPeriod) {
    TestAsioConfig config;
    config.rate = 96000.0;
    config.preferredSize = 32;
    config.outputReadyMicros = 60;  // a driver that takes its time
    run(config, 2000);
    report("96 kHz, 32 frames");
    const TestAsioRecord& r = core().record;
    EXPECT_GT(r.switches, 4000);
    // A period missed now and then is the shared machine's scheduler (the
    // figures are printed); the callback itself must fit a period easily.
    EXPECT_LE(r.lateSwitches * 100, r.switches);
    EXPECT_GT(r.outputReadyCalls, 4000);
    EXPECT_EQ(0u, engine.engineStatus.load());
}

TEST_F(AsioCom, AResetRequestAsksForARestartThatPicksUpTheNewSize) {
    TestAsioConfig config;
    config.preferredSize = 128;
    config.messageAtSwitch = 20;
    config.messageSelector = kAsioResetRequest;
    setConfig(&config);
    ASSERT_EQ(0, asioOpen("Quorvane Test Driver"));
    ASSERT_EQ(0, asioStart());
    for (int wait = 0; wait < 200 && !(engine.engineStatus.load() & STATUS_RESTART_REQUEST); ++wait) Sleep(5);
    ASSERT_TRUE(engine.engineStatus.load() & STATUS_RESTART_REQUEST);
    EXPECT_EQ(1, core().record.messageAnswer);
    // What the refresh timer does: stop, then start with the driver's settings.
    ASSERT_EQ(0, asioStop());
    engine.processingEnabled = true;
    engine.engineStatus = 0;
    core().config.preferredSize = 64;
    ASSERT_EQ(0, asioStart());
    Sleep(200);
    ASSERT_EQ(0, asioStop());
    EXPECT_EQ(64u, static_cast<uint32_t>(core().record.createdSize));
    EXPECT_EQ(2, core().record.disposeCalls);
    EXPECT_EQ(2, core().record.startCalls);
}

}  // namespace

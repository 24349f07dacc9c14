// The ASIO driver list and host against the test driver, created directly
// (no COM): the test plays the driver's thread and calls each buffer switch.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "devices/asiohost.h"
#include "devices/asioloader.h"
#include "streamconv/binding.h"
#include "tests/modules/testasio_driver.h"
#include "tests/support/appfolder.h"
#include "tests/support/modules.h"
#include "tests/support/transparent.h"

namespace {

class OwnedDriver final : public TestAsioDriver {
public:
    void released() override { delete this; }
};

TestAsioConfig nextConfig;
int createdDrivers = 0;
int32_t createFailure = 0;

int32_t createTestDriver(const AsioGuid&, AsioDriver** out) {
    if (createFailure != 0) return createFailure;
    auto* driver = new OwnedDriver;
    driver->core.config = nextConfig;
    ++createdDrivers;
    *out = driver;
    return 0;
}

class Asio : public ::testing::Test {
protected:
    EngineState engine;

    void SetUp() override {
        ASSERT_TRUE(converterBind(stagePath(std::string("streamconv") + librarySuffix()).c_str()));
        gAsioHost = AsioHost{};
        gAsioHost.engine = &engine;
        gAsioLoader = AsioLoader{};
        gAsioLoader.list.create = createTestDriver;
        nextConfig = TestAsioConfig{};
        createFailure = 0;
        asioListAppend(gAsioLoader.list, AsioGuid{}, "Quorvane Test Driver");
        makeTransparent(engine);
    }
    void TearDown() override {
        if (gAsioHost.running) asioStop();
        asioRemoveCurrentDriver(gAsioLoader);
        asioListDestroy(gAsioLoader.list);
        gAsioLoader = AsioLoader{};
        gAsioHost = AsioHost{};
    }

    static TestAsioCore& core() { return static_cast<TestAsioDriver*>(gAsioHost.driver)->core; }

    void open(const TestAsioConfig& config) {
        nextConfig = config;
        ASSERT_EQ(0, asioOpen("Quorvane Test Driver"));
        ASSERT_NE(nullptr, gAsioHost.driver);
    }
    void start(const TestAsioConfig& config) {
        open(config);
        ASSERT_EQ(0, asioStart());
    }
    void switches(int n) {
        for (int i = 0; i < n; ++i) ASSERT_TRUE(core().bufferSwitch());
    }
};

TEST_F(Asio, NamesAreShortenedAndTheFirstOfTwoEqualNamesIsLoaded) {
    const std::string forty(40, 'n');
    asioListAppend(gAsioLoader.list, AsioGuid{}, forty.c_str());
    asioListAppend(gAsioLoader.list, AsioGuid{}, "Quorvane Test Driver");
    EXPECT_EQ(3, asioGetNumDev(gAsioLoader.list));
    char name[32];
    ASSERT_EQ(0, asioGetDriverName(gAsioLoader.list, 1, name, 32));
    EXPECT_EQ(std::string(28, 'n') + "...", name);
    EXPECT_EQ(kAsioDeviceNotFound, asioGetDriverName(gAsioLoader.list, 3, name, 32));
    EXPECT_STREQ("", name);
    EXPECT_EQ(kAsioInvalidParameter, asioGetDriverName(gAsioLoader.list, 0, nullptr, 32));

    ASSERT_TRUE(asioLoadDriver(gAsioLoader, "Quorvane Test Driver"));
    EXPECT_EQ(0, asioCurrentIndex(gAsioLoader));
    ASSERT_TRUE(asioGetCurrentDriverName(gAsioLoader, name));
    EXPECT_STREQ("Quorvane Test Driver", name);
    EXPECT_FALSE(asioLoadDriver(gAsioLoader, "nobody"));
    EXPECT_EQ(0, asioCurrentIndex(gAsioLoader));
}

TEST_F(Asio, OpeningChecksItsArgumentsAndAFailedLoadRestoresThePreviousDriver) {
    AsioDriver* driver = nullptr;
    EXPECT_EQ(kAsioInvalidParameter, asioOpenDriver(gAsioLoader.list, 0, nullptr));
    EXPECT_EQ(kAsioDeviceNotFound, asioOpenDriver(gAsioLoader.list, 5, &driver));
    ASSERT_EQ(0, asioOpenDriver(gAsioLoader.list, 0, &driver));
    EXPECT_EQ(kAsioDeviceAlreadyOpen, asioOpenDriver(gAsioLoader.list, 0, &driver));
    EXPECT_EQ(0, asioCloseDriver(gAsioLoader.list, 0));

    asioListAppend(gAsioLoader.list, AsioGuid{}, "Second");
    ASSERT_TRUE(asioLoadDriver(gAsioLoader, "Quorvane Test Driver"));
    createFailure = -2147221164;  // the class is not registered
    EXPECT_FALSE(asioLoadDriver(gAsioLoader, "Second"));
    // The first driver could not come back either: nothing is loaded.
    EXPECT_EQ(-1, asioCurrentIndex(gAsioLoader));
    EXPECT_EQ(nullptr, gAsioHost.driver);
    createFailure = 0;
    ASSERT_TRUE(asioLoadDriver(gAsioLoader, "Quorvane Test Driver"));
    AsioDriverRecord* second = gAsioLoader.list.head->next;
    second->classId.Data1 = 1;  // only the creation of "Second" fails now
    gAsioLoader.list.create = [](const AsioGuid& id, AsioDriver** out) -> int32_t {
        return id.Data1 == 1 ? -2147221164 : createTestDriver(id, out);
    };
    EXPECT_FALSE(asioLoadDriver(gAsioLoader, "Second"));
    EXPECT_EQ(0, asioCurrentIndex(gAsioLoader));
    EXPECT_NE(nullptr, gAsioHost.driver);
}

TEST_F(Asio, OpenInitialisesTheDriverOrReportsWhyNot) {
    EXPECT_EQ(0, asioOpen("<none>"));
    EXPECT_EQ(0, asioOpen(""));
    EXPECT_EQ(nullptr, gAsioHost.driver);
    EXPECT_EQ(kAsioOpenError, asioOpen("nobody"));
    nextConfig.failing = kFailInit;
    EXPECT_EQ(kAsioInitError, asioOpen("Quorvane Test Driver"));
    EXPECT_EQ(nullptr, gAsioHost.driver);
    EXPECT_EQ(0, asioCurrentIndex(gAsioLoader));  // still loaded, not usable
    EXPECT_EQ(kAsioChannelsError, asioStart());

    AsioDriverInfo info{};
    EXPECT_EQ(ASE_NotPresent, asioInitialise(info));
    EXPECT_STREQ("No ASIO Driver", info.name);
    gAsioHost.driver = nullptr;
    int32_t a = 5, b = 5, c = 5, d = 5;
    EXPECT_EQ(ASE_NotPresent, asioDriverGetChannels(&a, &b));
    EXPECT_EQ(ASE_NotPresent, asioDriverGetBufferSize(&a, &b, &c, &d));
    EXPECT_EQ(0, a + b + c + d);
    AsioChannelInfo channel{};
    EXPECT_EQ(ASE_NotPresent, asioDriverGetChannelInfo(&channel));
    EXPECT_EQ(-1, channel.channelGroup);
    EXPECT_STREQ("None", channel.name);
    AsioBufferInfo buffers[2] = {{1, 0, {&a, &b}}, {0, 0, {&c, &d}}};
    EXPECT_EQ(ASE_NotPresent, asioDriverCreateBuffers(buffers, 2, 64, nullptr));
    EXPECT_EQ(nullptr, buffers[1].buffers[1]);

    asioRemoveCurrentDriver(gAsioLoader);
    EXPECT_EQ(kAsioNoDriverNotice, asioStart());
}

TEST_F(Asio, EachFailingStepOfTheStartHasItsCode) {
    struct Case {
        uint32_t failing;
        double rate;
        int32_t expected;
    };
    const Case cases[] = {{kFailGetChannels, 48000, kAsioChannelsError},
                          {kFailGetBufferSize, 48000, kAsioBufferSizeError},
                          {kFailGetSampleRate, 48000, kAsioRateError},
                          {kFailSetSampleRate, 192000, kAsioSetRateError},
                          {kFailCreateBuffers, 48000, kAsioStartError},
                          {kFailGetChannelInfo, 48000, kAsioStartError},
                          {kFailGetLatencies, 48000, kAsioStartError},
                          {kFailStart, 48000, kAsioStartError}};
    for (const Case& c : cases) {
        TestAsioConfig config;
        config.failing = c.failing;
        config.rate = c.rate;
        open(config);
        EXPECT_EQ(c.expected, asioStart()) << c.failing;
        EXPECT_FALSE(gAsioHost.running);
        // Buffers created on the way are given back.
        if (c.failing & (kFailGetChannelInfo | kFailGetLatencies | kFailStart)) {
            EXPECT_EQ(1, core().record.disposeCalls);
        }
        EXPECT_EQ(0, core().record.createdBuffers);
    }
}

TEST_F(Asio, RatesAboveNinetySixKilohertzAreSetTo44100) {
    TestAsioConfig config;
    config.rate = 192000.0;
    start(config);
    EXPECT_EQ(44100.0, core().record.setRate);
    EXPECT_EQ(44100.0, gAsioHost.sampleRate);
    EXPECT_EQ(44100, engine.lastConfiguredRate);
    asioStop();
    engine.processingEnabled = true;
    config.rate = 96000.0;
    start(config);
    EXPECT_EQ(0.0, core().record.setRate);
    EXPECT_EQ(96000, engine.lastConfiguredRate);
}

TEST_F(Asio, OnlyTwoChannelsEachWayAreUsedAndOutputsDecideStereo) {
    TestAsioConfig config;
    config.inputs = config.outputs = 8;
    start(config);
    const TestAsioRecord& r = core().record;
    ASSERT_EQ(4, r.createdBuffers);
    EXPECT_EQ(1, r.created[0].isInput);
    EXPECT_EQ(1, r.created[1].channelNum);
    EXPECT_EQ(0, r.created[2].isInput);
    EXPECT_EQ(0, r.created[2].channelNum);
    EXPECT_EQ(1, r.created[3].channelNum);
    EXPECT_EQ(256, r.createdSize);
    EXPECT_NE(nullptr, engine.inputR);
    EXPECT_EQ(256u, engine.blockSize);
    asioStop();
    engine.processingEnabled = true;

    config.inputs = 2;
    config.outputs = 1;
    start(config);
    EXPECT_EQ(nullptr, engine.inputR);  // mono
    switches(4);
    EXPECT_EQ(0u, engine.engineStatus.load());  // the unused right input is no error
    ASSERT_EQ(4u * 256u, core().captured[0].size());
    for (size_t f = 0; f < core().captured[0].size(); ++f)
        ASSERT_NEAR(testAsioInput(static_cast<int64_t>(f), 0), core().captured[0][f], 1.0 / 32768) << f;
}

TEST_F(Asio, OneInputFeedsBothSidesOfAStereoEngine) {
    TestAsioConfig config;
    config.inputs = 1;
    config.outputs = 2;
    config.inputType = config.outputType = ASIOSTFloat32LSB;
    start(config);
    // Right is written with something else first: it must not survive.
    std::fill(engine.inputR, engine.inputR + engine.blockSize, 0.5f);
    switches(3);
    for (int channel = 0; channel < 2; ++channel)
        for (size_t f = 0; f < 3 * 256; ++f)
            ASSERT_EQ(static_cast<float>(testAsioInput(static_cast<int64_t>(f), 0)), core().captured[channel][f])
                << channel << " " << f;
}

TEST_F(Asio, EverySupportedSampleTypeGoesThroughUnchanged) {
    const AsioSampleType types[] = {ASIOSTInt16MSB,   ASIOSTInt24MSB,   ASIOSTInt32MSB,   ASIOSTFloat32MSB,
                                    ASIOSTFloat64MSB, ASIOSTInt32MSB16, ASIOSTInt32MSB24, ASIOSTInt16LSB,
                                    ASIOSTInt24LSB,   ASIOSTInt32LSB,   ASIOSTFloat32LSB, ASIOSTFloat64LSB,
                                    ASIOSTInt32LSB16, ASIOSTInt32LSB24};
    for (AsioSampleType type : types) {
        TestAsioConfig config;
        config.inputType = config.outputType = type;
        config.preferredSize = 64;
        start(config);
        switches(6);
        EXPECT_EQ(0u, engine.engineStatus.load()) << type;
        const int bits = testAsioBits(type);
        // One step of the narrower of the sample and the engine's float.
        const double step = bits ? std::ldexp(1.0, -(std::min(bits, 24) - 1)) : 1e-7;
        for (int channel = 0; channel < 2; ++channel) {
            ASSERT_EQ(6u * 64u, core().captured[channel].size()) << type;
            for (size_t f = 0; f < core().captured[channel].size(); ++f)
                ASSERT_NEAR(testAsioInput(static_cast<int64_t>(f), channel), core().captured[channel][f], 2.01 * step)
                    << "type " << type << " channel " << channel << " frame " << f;
        }
        asioStop();
        engine.processingEnabled = true;
    }
}

TEST_F(Asio, UnsupportedTypesRaiseTheFormatBitsAndTheCallbackGoesOn) {
    for (AsioSampleType type : std::vector<AsioSampleType>{ASIOSTInt32LSB20, ASIOSTInt32MSB18, 5, 40}) {
        TestAsioConfig config;
        config.inputType = type;
        config.outputType = ASIOSTInt16LSB;
        start(config);
        switches(2);
        EXPECT_EQ(STATUS_INPUT_FORMAT_ERROR, engine.engineStatus.load()) << type;
        EXPECT_EQ(2, core().record.switches);
        asioStop();
        engine.processingEnabled = true;
        engine.engineStatus = 0;

        config.inputType = ASIOSTInt16LSB;
        config.outputType = type;
        start(config);
        switches(2);
        EXPECT_EQ(STATUS_OUTPUT_FORMAT_ERROR, engine.engineStatus.load()) << type;
        asioStop();
        engine.processingEnabled = true;
        engine.engineStatus = 0;
    }
}

TEST_F(Asio, MessagesAreAnsweredAsTheTableSays) {
    TestAsioConfig config;
    start(config);
    for (int32_t value : {2, 3, 5, 6, 7, 8, 9}) EXPECT_EQ(1, asioMessage(kAsioSelectorSupported, value, nullptr, nullptr));
    for (int32_t value : {1, 4, 10, 0}) EXPECT_EQ(0, asioMessage(kAsioSelectorSupported, value, nullptr, nullptr));
    EXPECT_EQ(2, asioMessage(kAsioEngineVersion, 0, nullptr, nullptr));
    EXPECT_EQ(1, asioMessage(kAsioLatenciesChanged, 0, nullptr, nullptr));
    EXPECT_EQ(1, asioMessage(kAsioSupportsTimeInfo, 0, nullptr, nullptr));
    EXPECT_EQ(0, asioMessage(kAsioSupportsTimeCode, 0, nullptr, nullptr));
    EXPECT_EQ(0, asioMessage(99, 0, nullptr, nullptr));
    EXPECT_EQ(0u, engine.engineStatus.load());
    EXPECT_EQ(1, asioMessage(kAsioResetRequest, 0, nullptr, nullptr));
    EXPECT_EQ(STATUS_RESTART_REQUEST, engine.engineStatus.load());
    engine.engineStatus = 0;
    EXPECT_EQ(1, asioMessage(kAsioResyncRequest, 0, nullptr, nullptr));
    EXPECT_EQ(STATUS_RESTART_REQUEST, engine.engineStatus.load());

    engine.engineStatus = 0;
    // The size in use, or none at all, asks for nothing.
    EXPECT_EQ(1, asioMessage(kAsioBufferSizeChange, 256, nullptr, nullptr));
    EXPECT_EQ(1, asioMessage(kAsioBufferSizeChange, 0, nullptr, nullptr));
    EXPECT_EQ(0u, engine.engineStatus.load());
}

// A driver that changes its buffer size or its rate while it runs gets a
// restart from the UI thread: on its own thread nothing is reconfigured,
// the engine keeps its buffers and blocks go on at the old geometry until
// the restart picks up the new one.
TEST_F(Asio, SizeAndRateChangesOnlyAskForARestartThatPicksThemUp) {
    TestAsioConfig config;
    config.messageAtSwitch = 3;
    config.messageSelector = kAsioBufferSizeChange;
    config.messageValue = 128;
    config.rateChangeAtSwitch = 5;
    config.changedRate = 44100.0;
    start(config);
    const float* inputL = engine.inputL;
    switches(4);
    EXPECT_EQ(1, core().record.messageAnswer);
    EXPECT_EQ(STATUS_RESTART_REQUEST, engine.engineStatus.load());
    engine.engineStatus = 0;
    switches(4);
    EXPECT_EQ(STATUS_RESTART_REQUEST, engine.engineStatus.load());
    EXPECT_EQ(inputL, engine.inputL);
    EXPECT_EQ(256u, engine.blockSize);
    EXPECT_EQ(48000, engine.lastConfiguredRate);
    EXPECT_EQ(8u * 256u, core().captured[0].size());

    // The restart, as the refresh timer makes it.
    asioStop();
    engine.processingEnabled = true;
    engine.engineStatus = 0;
    ASSERT_EQ(0, asioStart());
    EXPECT_EQ(128u, engine.blockSize);
    EXPECT_EQ(44100, engine.lastConfiguredRate);
    EXPECT_EQ(128, core().record.createdSize);
    switches(2);
    EXPECT_EQ(0u, engine.engineStatus.load());
    EXPECT_EQ(2u * 128u, core().captured[0].size());
}

TEST_F(Asio, StartTwiceStopAndTheOutputReadyCall) {
    TestAsioConfig config;
    start(config);
    EXPECT_EQ(0, asioStart());
    EXPECT_EQ(1, core().record.startCalls);
    switches(3);
    EXPECT_TRUE(core().record.usedTimeInfo);
    EXPECT_EQ(3, core().record.outputReadyCalls - 1);  // one at start to ask
    EXPECT_EQ(0, asioStop());
    EXPECT_EQ(1, core().record.stopCalls);
    EXPECT_EQ(1, core().record.disposeCalls);
    EXPECT_EQ(nullptr, engine.inputL);
    EXPECT_FALSE(engine.processingEnabled.load());
    engine.processingEnabled = true;

    config.failing = kFailOutputReady;
    config.preferTimeInfo = false;  // the plain switch asks for the position itself
    start(config);
    switches(3);
    EXPECT_EQ(0, core().record.outputReadyCalls);
    EXPECT_FALSE(core().record.usedTimeInfo);
    EXPECT_EQ(3u * 256u, core().captured[1].size());
}

TEST_F(Asio, ControlPanelAndAPausedChainConvertNothing) {
    TestAsioConfig config;
    config.failing = kFailControlPanel;
    start(config);
    EXPECT_EQ(kAsioPanelError, asioControlPanel());
    core().config.failing = 0;
    EXPECT_EQ(0, asioControlPanel());
    engine.processingEnabled = false;
    switches(2);
    // Nothing was written: the output halves keep their zeros.
    for (double v : core().captured[0]) ASSERT_EQ(0.0, v);
    engine.processingEnabled = true;
    switches(1);
    EXPECT_NE(0.0, core().captured[0][2 * 256 + 5]);
}

}  // namespace

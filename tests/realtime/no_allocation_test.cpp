// The block path allocates nothing: the engine's block with every stage on,
// the handshake, the CPU figure, every converter path, a full chain of the
// built-in effects and a song switch's tail, counted at the allocator itself.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "devices/asiohost.h"
#include "devices/asioloader.h"
#include "devices/dsgeometry.h"
#include "devices/duplexloop.h"
#include "devices/midiin.h"
#include "devices/wasapicore.h"
#include "engine/engine.h"
#include "streamconv/binding.h"
#include "tests/modules/testasio_driver.h"
#include "host/host.h"
#include "platform/platform.h"
#include "tests/support/allocation_counter.h"
#include "tests/support/appfolder.h"
#include "tests/support/modules.h"
#include "tests/support/wasapiscript.h"

namespace {
void WRAPPER_CALL halve(intptr_t, float* left, float* right) {
    left[0] *= 0.5f;
    if (right) right[0] *= 0.5f;
}

int wrapperNamed(const std::string& name) {
    for (int w = 0; w < wrapperCount(); ++w)
        if (name == wrapperName(w)) return w;
    return -1;
}

int availableIndex(int w, const std::string& name) {
    for (int i = 0; i < wrapperAvailableCount(w); ++i)
        if (name == wrapperAvailableName(w, i)) return i;
    return -1;
}

// Runs blocks of a square wave through the configured engine and counts the
// allocations made meanwhile.
long countAllocationsOfBlocks(EngineState& engine, int blocks) {
    allocationCountingStart();
    for (int block = 0; block < blocks; ++block) {
        for (uint32_t i = 0; i < engine.blockSize; ++i) {
            engine.inputL[i] = (block % 40 < 20) ? 0.25f : -0.25f;
            if (engine.inputR) engine.inputR[i] = engine.inputL[i];
        }
        processBlock(engine);
    }
    return allocationCountingStop();
}
}  // namespace

TEST(NoAllocation, EngineBlocksWithEveryStageOn) {
    for (bool stereo : {false, true}) {
        EngineState engine;
        engine.wrappers[0] = {nullptr, halve};
        engine.wrapperCount = 1;
        for (int slot = 0; slot < kChainSlots; ++slot) engine.chain[slot] = {slot + 1, 0};
        engine.metronomeOn = true;
        engine.blockSize = 64;
        ASSERT_EQ(0, engineConfigure(engine, 48000, stereo));
        engine.cpuMeterReady = true;

        allocationCountingStart();
        for (int block = 0; block < 3000; ++block) {
            uint64_t start = 0, end = 0;
            platformReadCounter(start);
            if (engineBlockBegin(engine)) {
                for (uint32_t i = 0; i < engine.blockSize; ++i) {
                    engine.inputL[i] = (block % 50 < 25) ? 0.5f : 0.0f;
                    if (engine.inputR) engine.inputR[i] = -engine.inputL[i];
                }
                processBlock(engine);
            }
            engineBlockEnd(engine);
            platformReadCounter(end);
            engineMeasureCpu(engine, start, end);
        }
        EXPECT_EQ(0, allocationCountingStop()) << (stereo ? "stereo" : "mono");
    }
}

TEST(NoAllocation, ConverterInBothDirectionsWithAndWithoutResampling) {
    const StreamConverter& lib = streamConverter();
    ASSERT_NE(nullptr, lib.process);
    struct Case { uint16_t tag, channels, bits, align; };
    const Case cases[] = {{1, 2, 8, 2},  {1, 1, 16, 2}, {1, 2, 16, 4}, {1, 2, 24, 6},
                          {1, 1, 24, 4}, {1, 2, 32, 8}, {3, 1, 32, 4}, {3, 1, 64, 8}};
    std::vector<uint8_t> device(2048 * 8);
    std::vector<float> left(2048, 0.25f), right(2048, -0.25f);
    allocationCountingStart();
    for (const Case& c : cases) {
        StreamFormat f{};
        f.wFormatTag = c.tag;
        f.nChannels = c.channels;
        f.wBitsPerSample = c.bits;
        f.nBlockAlign = c.align;
        for (uint32_t deviceFrames : {512u, 1024u, 470u}) {
            for (uint32_t toDevice : {0u, 1u}) {
                lib.setHistory(2);
                lib.process(&f, device.data(), left.data(), right.data(), deviceFrames, 512, toDevice);
                lib.process(&f, device.data(), left.data(), nullptr, deviceFrames, 512, toDevice);
                lib.processMsb(&f, device.data(), left.data(), right.data(), deviceFrames, 512, toDevice);
            }
        }
    }
    EXPECT_EQ(0, allocationCountingStop());
}

TEST(NoAllocation, FullChainOfBuiltInEffectsThroughTheDefaultWrapper) {
    EngineState engine;
    hostReset(engine, stagePath("").c_str());
    ASSERT_EQ(0, wrappersLoadAll());
    const int w = wrapperNamed("Quorvane Plugins");
    ASSERT_EQ(0, wrapperRefreshList(w));
    const char* order[] = {"reverb", "echo", "flanger", "chorus"};
    for (int slot = 0; slot < kChainSlots; ++slot) ASSERT_EQ(0, chainAttach(slot, w, availableIndex(w, order[slot % 4])));
    engine.blockSize = 64;
    ASSERT_EQ(0, engineConfigure(engine, 48000, true));
    wrapperSetProcessing(w, false);
    wrapperSetProcessing(w, true);
    chainToggleBypass(3);  // one bypassed instance on the way

    EXPECT_EQ(0, countAllocationsOfBlocks(engine, 2000));
    wrappersUnloadAll();
    hostReset(gEngine, "");
}

// A song switch: the built-in effects' chain swapped for another at a block
// boundary, the old one ringing out on silence and fading, then gone.
TEST(NoAllocation, SongSwitchAcrossTheSwapAndItsTail) {
    EngineState engine;
    hostReset(engine, stagePath("").c_str());
    ASSERT_EQ(0, wrappersLoadAll());
    const int w = wrapperNamed("Quorvane Plugins");
    ASSERT_EQ(0, wrapperRefreshList(w));
    ASSERT_EQ(0, chainAttach(0, w, availableIndex(w, "reverb")));
    ASSERT_EQ(0, chainAttach(1, w, availableIndex(w, "echo")));
    ChainSlot next[kChainSlots] = {};
    next[2] = {wrapperCreateInstance(w, availableIndex(w, "chorus")), w};
    next[5] = {wrapperCreateInstance(w, availableIndex(w, "flanger")), w};
    engine.blockSize = 64;
    ASSERT_EQ(0, engineConfigure(engine, 48000, true));
    countAllocationsOfBlocks(engine, 100);

    ASSERT_EQ(0, engineChainSwapRequest(engine, next, engineTailFrames(48000)));
    const long tailBlocks = static_cast<long>(engineTailFrames(48000) / 64);
    EXPECT_EQ(0, countAllocationsOfBlocks(engine, static_cast<int>(tailBlocks + 100)));
    EXPECT_EQ(next[2].instance, engine.chain[2].instance);
    EXPECT_TRUE(engineChainTailDone(engine));
    ChainSlot old[kChainSlots] = {};
    ASSERT_TRUE(engineChainTailTake(engine, old));
    EXPECT_NE(0, old[0].instance);
    wrappersUnloadAll();
    hostReset(gEngine, "");
}

TEST(NoAllocation, VstEffectsOfEveryChannelShapeThroughTheVstWrapper) {
    namespace fs = std::filesystem;
    AppFolder app;
    app.addWrapper(stagedModule("Wrappers", "vstwrapper"), "vstwrapper" + librarySuffix());
    const std::string vst = app.path() + "VST Plugins/";
    fs::create_directories(vst);
    for (const char* name : {"tvst_stereo", "tvst_mono", "tvst_accumulate", "tvst_six"})
        fs::copy_file(testModulePath(name), vst + name + librarySuffix());
    platformWriteSetting("VSTDir", nullptr);
    for (bool stereo : {true, false}) {
        EngineState engine;
        hostReset(engine, app.path().c_str());
        ASSERT_EQ(0, wrappersLoadAll());
        const int w = wrapperNamed("VST Plugins");
        ASSERT_EQ(0, wrapperRefreshList(w));
        const char* order[] = {"tvst_stereo", "tvst_mono", "tvst_accumulate", "tvst_six"};
        for (int slot = 0; slot < kChainSlots; ++slot)
            ASSERT_EQ(0, chainAttach(slot, w, availableIndex(w, order[slot % 4])));
        engine.blockSize = 128;
        ASSERT_EQ(0, engineConfigure(engine, 44100, stereo));
        chainToggleBypass(5);
        EXPECT_EQ(0, countAllocationsOfBlocks(engine, 2000)) << (stereo ? "stereo" : "mono");
        // The effects did run: the stereo one counted its calls.
        PlatformModule lib = platformLoadModule((vst + "tvst_stereo" + librarySuffix()).c_str());
        auto live = reinterpret_cast<void* (*)(int)>(platformFindSymbol(lib, "testVstLive"));
        auto counts = reinterpret_cast<void (*)(void*, int*, int*, double*)>(platformFindSymbol(lib, "testVstCounts"));
        int replacing = 0, accumulating = 0;
        double tempo = 0;
        ASSERT_TRUE(live && counts && live(0));
        counts(live(0), &replacing, &accumulating, &tempo);
        EXPECT_EQ(2000, replacing);
        platformUnloadModule(lib);
        wrappersUnloadAll();
    }
    hostReset(gEngine, "");
}

// Plug-ins in helper processes, mono and stereo: the program's side of the
// bridge (copy in, wake, wait with a deadline, copy out) allocates nothing,
// and the output is what the same chain gives inside the program.
TEST(NoAllocation, PlugInsInHelperProcessesThroughTheBridge) {
    namespace fs = std::filesystem;
    AppFolder app;
    app.addWrapper(stagedModule("Wrappers", "vstwrapper"), "vstwrapper" + librarySuffix());
    const std::string helper = std::string("QvPluginHost") + (librarySuffix() == ".dll" ? ".exe" : "");
    fs::copy_file(stagePath(helper), app.path() + helper);
    const std::string vst = app.path() + "VST Plugins/";
    fs::create_directories(vst);
    fs::copy_file(testModulePath("tvst_stereo"), vst + "tvst_stereo" + librarySuffix());
    platformWriteSetting("VSTDir", nullptr);
    for (bool stereo : {true, false}) {
        float inside[2] = {0, 0};
        for (bool outside : {false, true}) {
            EngineState engine;
            hostReset(engine, app.path().c_str());
            gHost.separateDeadlineUs = 1000 * 1000;  // blocks come as fast as they can here
            ASSERT_EQ(0, wrappersLoadAll());
            const int w = wrapperNamed("VST Plugins");
            ASSERT_EQ(0, wrapperRefreshList(w));
            for (int slot : {1, 4}) {
                const int index = availableIndex(w, "tvst_stereo");
                ASSERT_EQ(0, outside ? chainAttachSeparate(slot, w, index) : chainAttach(slot, w, index));
            }
            engine.dcRemoverOn = false;
            engine.gateThreshold = 0.0f;
            engine.blockSize = 128;
            ASSERT_EQ(0, engineConfigure(engine, 44100, stereo));
            if (outside) {
                EXPECT_EQ(0, countAllocationsOfBlocks(engine, 2000)) << (stereo ? "stereo" : "mono");
                EXPECT_EQ(0u, chainSeparate(1)->misses.load());
                EXPECT_FALSE(chainSlotFailed(1) || chainSlotFailed(4));
                EXPECT_EQ(inside[0], engine.outputL[0]);
                if (stereo) EXPECT_EQ(inside[1], engine.outputR[0]);
                // The helpers ring out as a song switch's tail chain.
                const ChainSlot none[kChainSlots] = {};
                ASSERT_EQ(0, engineChainSwapRequest(engine, none, 44100 / 2));
                EXPECT_EQ(0, countAllocationsOfBlocks(engine, 400)) << "tail";
                EXPECT_TRUE(engineChainTailDone(engine));
                ASSERT_TRUE(slotIsSeparate(engine.tailChain[1]));
                EXPECT_EQ(0u, reinterpret_cast<BridgeInstance*>(engine.tailChain[1].instance)->misses.load());
            } else {
                countAllocationsOfBlocks(engine, 2000);
                inside[0] = engine.outputL[0];
                if (stereo) inside[1] = engine.outputR[0];
                EXPECT_NE(0.0f, inside[0]);
            }
            wrappersUnloadAll();
        }
    }
    hostReset(gEngine, "");
}

// The WASAPI loop, its bounded buffer dropping and padding as the clocks
// drift, with a 16-bit exclusive stream through the converter as well.
TEST(NoAllocation, WasapiDuplexLoopWhileItsClocksDrift) {
    using namespace wasapiscript;
    ASSERT_TRUE(converterBind(stagePath(std::string("streamconv") + librarySuffix()).c_str()));
    for (uint32_t mode : {kWasapiShared, kWasapiExclusive}) {
        for (double drift : {0.01, -0.01}) {
            ScriptedEndpoint capture(true), render(false);
            capture.log = render.log = false;
            capture.mix = render.mix = mode == kWasapiExclusive ? floatFormat(44100, 2) : floatFormat(48000, 2);
            WasapiStream stream;
            ASSERT_EQ(0, wasapiOpen(capture, render, mode, pcmFormat(44100, 2, 16), stream));
            ASSERT_EQ(mode, stream.mode);
            EngineState engine;
            engine.blockSize = stream.periodFrames;
            ASSERT_EQ(0, engineConfigure(engine, stream.rate, true));
            std::vector<float> left(wasapiFifoCapacity(stream)), right(left.size());
            WasapiFifo fifo{left.data(), right.data(), static_cast<uint32_t>(left.size())};
            WasapiCounters counters;
            render.played.reserve(static_cast<size_t>(stream.rate) * 12);
            Clock clock(capture, render, stream.rate * (1.0 + drift), stream.rate, 10.0);
            allocationCountingStart();
            wasapiRun(capture, render, clock, stream, fifo, engine, counters);
            EXPECT_EQ(0, allocationCountingStop()) << wasapiModeName(mode) << " drift " << drift;
            EXPECT_GT(counters.underruns.load() + counters.overruns.load(), 0u);
            EXPECT_EQ(0u, engine.engineStatus.load());
            engineRelease(engine);
        }
    }
}

// VST 3 plug-ins through their wrapper, with parameter values arriving
// from the UI between blocks and the plug-in reporting one every block.
TEST(NoAllocation, Vst3EffectsWithParameterChangesThroughTheVst3Wrapper) {
    namespace fs = std::filesystem;
    AppFolder app;
    app.addWrapper(stagedModule("Wrappers", "vst3wrapper"), "vst3wrapper" + librarySuffix());
    const std::string plugins = app.path() + "VST Plugins";
    fs::copy(fs::path(testModulePath("x")).parent_path() / "vst3", plugins, fs::copy_options::recursive);
    platformWriteSetting("VSTDir", nullptr);
    platformWriteSetting("VST3Cache", (app.path() + "cache.txt").c_str());
    for (bool stereo : {true, false}) {
        EngineState engine;
        hostReset(engine, app.path().c_str());
        ASSERT_EQ(0, wrappersLoadAll());
        const int w = wrapperNamed("VST3 Plugins");
        ASSERT_GE(w, 0);
        ASSERT_EQ(0, wrapperRefreshList(w));
        for (int slot = 0; slot < 4; ++slot)
            ASSERT_EQ(0, chainAttach(slot, w, availableIndex(w, slot % 2 ? "Qv Test Single" : "Qv Test Gain")));
        engine.blockSize = 128;
        engine.dcRemoverOn = false;
        engine.gateThreshold = 0.0f;
        ASSERT_EQ(0, engineConfigure(engine, 48000, stereo));
        WrapperDispatcherFn dispatch = engine.wrappers[w].dispatcher;
        allocationCountingStart();
        for (int block = 0; block < 1000; ++block) {
            WrapperParameter p{};
            p.index = 0;
            p.value = 0.25 + (block % 10) * 0.05;
            // (The UI side's set, between blocks, touches no allocator either.)
            dispatch(WD_SET_PARAMETER, engine.chain[block % 4].instance, reinterpret_cast<intptr_t>(&p));
            for (uint32_t i = 0; i < engine.blockSize; ++i) {
                engine.inputL[i] = (block % 40 < 20) ? 0.25f : -0.25f;
                if (engine.inputR) engine.inputR[i] = engine.inputL[i];
            }
            processBlock(engine);
        }
        EXPECT_EQ(0, allocationCountingStop()) << (stereo ? "stereo" : "mono");
        EXPECT_GT(engine.outputPeakL.load(), 0.0f);
        wrappersUnloadAll();
    }
    platformWriteSetting("VST3Cache", nullptr);
    hostReset(gEngine, "");
}

// CLAP plug-ins through their wrapper: values from the UI between blocks
// (a flush while the plug-in processes is left to the block), the plug-in's
// output events every block, and the transport.
TEST(NoAllocation, ClapEffectsWithParameterEventsThroughTheClapWrapper) {
    namespace fs = std::filesystem;
    AppFolder app;
    app.addWrapper(stagedModule("Wrappers", "clapwrapper"), "clapwrapper" + librarySuffix());
    const std::string plugins = app.path() + "VST Plugins";
    fs::copy(fs::path(testModulePath("x")).parent_path() / "clap", plugins, fs::copy_options::recursive);
    platformWriteSetting("VSTDir", nullptr);
    platformWriteSetting("CLAPCache", (app.path() + "cache.txt").c_str());
    for (bool stereo : {true, false}) {
        EngineState engine;
        hostReset(engine, app.path().c_str());
        ASSERT_EQ(0, wrappersLoadAll());
        const int w = wrapperNamed("CLAP Plugins");
        ASSERT_GE(w, 0);
        ASSERT_EQ(0, wrapperRefreshList(w));
        for (int slot = 0; slot < 4; ++slot) ASSERT_EQ(0, chainAttach(slot, w, availableIndex(w, "Qv Test Gain")));
        engine.blockSize = 128;
        engine.dcRemoverOn = false;
        engine.gateThreshold = 0.0f;
        ASSERT_EQ(0, engineConfigure(engine, 48000, stereo));
        WrapperDispatcherFn dispatch = engine.wrappers[w].dispatcher;
        processBlock(engine);  // processing starts on the first block
        allocationCountingStart();
        for (int block = 0; block < 1000; ++block) {
            WrapperParameter p{};
            p.index = 0;
            p.value = 0.25 + (block % 10) * 0.05;
            dispatch(WD_SET_PARAMETER, engine.chain[block % 4].instance, reinterpret_cast<intptr_t>(&p));
            for (uint32_t i = 0; i < engine.blockSize; ++i) {
                engine.inputL[i] = (block % 40 < 20) ? 0.25f : -0.25f;
                if (engine.inputR) engine.inputR[i] = engine.inputL[i];
            }
            processBlock(engine);
        }
        EXPECT_EQ(0, allocationCountingStop()) << (stereo ? "stereo" : "mono");
        EXPECT_GT(engine.outputPeakL.load(), 0.0f);
        wrappersUnloadAll();
    }
    platformWriteSetting("CLAPCache", nullptr);
    hostReset(gEngine, "");
}

// A MIDI driver's callback: parsing (running status, clock bytes, SysEx)
// and queueing, a full queue dropping, all without an allocation.
TEST(NoAllocation, MidiDriverCallbackParsingAndQueueing) {
    static MidiPort port;
    port.open = true;
    allocationCountingStart();
    for (uint32_t i = 0; i < 2000; ++i) {
        midiPortReceive(port, 1, kMidiEventData, 0x0000B0u | ((i % 128) << 8) | ((i * 7 % 128) << 16), i);
        midiPortReceive(port, 1, kMidiEventData, 0xF8u, i);
        midiPortReceive(port, 1, kMidiEventData, (i % 128) | (64u << 8), i);  // running status
        if (i % 64 == 63) {
            MidiMessage m;
            while (midiQueuePop(port.queue, m)) {
            }
        }
    }
    midiPortReceive(port, 1, kMidiEventError, 0, 0);
    EXPECT_EQ(0, allocationCountingStop());
    EXPECT_EQ(0u, port.queue.dropped.load());
}

TEST(NoAllocation, TheCounterSeesAllocations) {
    allocationCountingStart();
    void* volatile p = std::malloc(16);
    int* q = new int(3);
    std::string s(100, 'x');
    const long counted = allocationCountingStop();
    std::free(p);
    delete q;
    EXPECT_GE(counted, 3);
}

// ---- the device back-ends' real-time paths ----

namespace {

class OwnedAsioDriver final : public TestAsioDriver {
public:
    void released() override { delete this; }
};

TestAsioConfig asioConfig;

int32_t createAsioDriver(const AsioGuid&, AsioDriver** out) {
    auto* driver = new OwnedAsioDriver;
    driver->core.config = asioConfig;
    *out = driver;
    return 0;
}

// Rings that capture a square wave, without bookkeeping of their own.
class QuietDuplex final : public DuplexDevice {
public:
    QuietDuplex(uint32_t bytes, std::atomic<bool>& stop, int passes)
        : capture_(bytes, 0x40), playback_(bytes), stop_(stop), passes_(passes) {}
    bool lockCapture(uint32_t offset, uint32_t bytes, void** region, uint32_t* got) override {
        *region = &capture_[offset];
        *got = bytes;
        return true;
    }
    bool unlockCapture(void*, uint32_t) override { return true; }
    bool lockPlayback(uint32_t offset, uint32_t bytes, void** region, uint32_t* got) override {
        *region = &playback_[offset];
        *got = bytes;
        return true;
    }
    bool unlockPlayback(void*, uint32_t) override { return true; }
    bool startCapture() override { return true; }
    bool startPlayback() override { return true; }
    bool rewindPlayback() override { return true; }
    bool playbackStatus(bool& lost) override {
        lost = false;
        return true;
    }
    bool restorePlayback() override { return true; }
    void resetEvents() override {}
    void waitForCapture() override {
        if (++pass_ >= passes_) stop_ = true;
    }
    void sleepMs(uint32_t) override {}
    void stopAll() override {}

private:
    std::vector<uint8_t> capture_, playback_;
    std::atomic<bool>& stop_;
    int passes_;
    int pass_ = 0;
};

}  // namespace

TEST(NoAllocation, AsioBufferSwitchesOfEverySampleTypeWidth) {
    ASSERT_TRUE(converterBind(stagePath(std::string("streamconv") + platformModuleSuffix()).c_str()));
    for (AsioSampleType type : {ASIOSTInt16LSB, ASIOSTInt24LSB, ASIOSTInt32LSB, ASIOSTFloat32LSB, ASIOSTFloat64MSB,
                                ASIOSTInt32MSB24}) {
        EngineState engine;
        gAsioHost = AsioHost{};
        gAsioHost.engine = &engine;
        gAsioLoader = AsioLoader{};
        gAsioLoader.list.create = createAsioDriver;
        asioListAppend(gAsioLoader.list, AsioGuid{}, "Quorvane Test Driver");
        asioConfig = TestAsioConfig{};
        asioConfig.inputType = asioConfig.outputType = type;
        asioConfig.preferredSize = 128;
        // The driver changes its buffer size and its rate while the blocks
        // are counted: the host only asks for a restart.
        asioConfig.messageAtSwitch = 300;
        asioConfig.messageSelector = kAsioBufferSizeChange;
        asioConfig.messageValue = 256;
        asioConfig.rateChangeAtSwitch = 600;
        asioConfig.changedRate = 96000.0;
        ASSERT_EQ(0, asioOpen("Quorvane Test Driver"));
        ASSERT_EQ(0, asioStart());
        auto& core = static_cast<TestAsioDriver*>(gAsioHost.driver)->core;
        core.bufferSwitch();  // the first block may still settle the engine
        allocationCountingStart();
        for (int i = 0; i < 1000; ++i) core.bufferSwitch();
        EXPECT_EQ(0, allocationCountingStop()) << type;
        EXPECT_EQ(STATUS_RESTART_REQUEST, engine.engineStatus.load()) << type;
        EXPECT_EQ(128u, engine.blockSize) << type;
        asioStop();
        asioRemoveCurrentDriver(gAsioLoader);
        asioListDestroy(gAsioLoader.list);
        gAsioHost = AsioHost{};
    }
}

TEST(NoAllocation, DuplexStreamingLoop) {
    ASSERT_TRUE(converterBind(stagePath(std::string("streamconv") + platformModuleSuffix()).c_str()));
    EngineState engine;
    engine.blockSize = 441;
    ASSERT_EQ(0, engineConfigure(engine, 44100, true));
    DuplexSettings settings;
    settings.format = dsFormatRecord(5);
    settings.buffers = 3;
    std::atomic<bool> stop{false};
    QuietDuplex device(441 * 4 * 3, stop, 2000);
    allocationCountingStart();
    duplexRun(device, settings, engine, stop);
    EXPECT_EQ(0, allocationCountingStop());
}

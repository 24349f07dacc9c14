// Mutation fuzzing of every parser of untrusted input: performance files,
// the default wrapper's state blobs, accompaniment WAV files, effect chunks
// and converter calls with arbitrary formats. Seeds are valid inputs; each
// round flips, inserts, deletes and overwrites bytes (length fields with
// extreme values among them) and hands the result to the parser. Under the
// sanitizers any read or write out of bounds fails the run; a parser that
// hangs trips the test's time limit.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "audiofiles/accompaniment.h"
#include "common/bytes.h"
#include "host/performance.h"
#include "streamconv/binding.h"
#include "tests/host/host_fixture.h"
#include "tests/support/messages.h"
#include "tests/support/modules.h"
#include "wrappers/default/effectinterface.h"

namespace {

using Bytes = std::vector<uint8_t>;

// One mutation of `seed`.
Bytes mutate(const Bytes& seed, std::mt19937& random) {
    Bytes b = seed;
    const int edits = 1 + static_cast<int>(random() % 4);
    for (int e = 0; e < edits; ++e) {
        const size_t at = b.empty() ? 0 : random() % b.size();
        switch (random() % 6) {
            case 0:  // flip a bit
                if (!b.empty()) b[at] ^= static_cast<uint8_t>(1u << (random() % 8));
                break;
            case 1:  // truncate
                b.resize(at);
                break;
            case 2:  // insert bytes
                b.insert(b.begin() + static_cast<long>(at), 1 + random() % 8, static_cast<uint8_t>(random()));
                break;
            case 3:  // delete bytes
                if (!b.empty()) b.erase(b.begin() + static_cast<long>(at), b.begin() + static_cast<long>(std::min(b.size(), at + 1 + random() % 8)));
                break;
            case 4: {  // an extreme 16- or 32-bit value where a length may be
                static const uint32_t extremes[] = {0, 1, 0x7F, 0x80, 0xFF, 0x100, 0xFFFF, 0x10000, 0x7FFFFFFF, 0x80000000u, 0xFFFFFFFFu};
                const uint32_t v = extremes[random() % std::size(extremes)];
                if (at + 4 <= b.size()) putU32(&b[at], v);
                else if (at + 2 <= b.size()) putU16(&b[at], static_cast<uint16_t>(v));
                break;
            }
            default:  // overwrite a byte
                if (!b.empty()) b[at] = static_cast<uint8_t>(random());
        }
    }
    return b;
}

void writeFile(const std::string& path, const Bytes& bytes) {
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                                static_cast<std::streamsize>(bytes.size()));
}

Bytes readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
}

// Under Wine every message box of a damaged blob waits for the watcher, so
// the Windows run is shorter; the native runs go deep.
#if defined(_WIN32)
constexpr int kRounds = 80;
constexpr int kVstRounds = 30;  // most damaged VST paths raise a box
#else
constexpr int kRounds = 1500;
constexpr int kVstRounds = 1500;
#endif

class Fuzz : public HostTest {
protected:
    void SetUp() override {
        HostTest::SetUp();
        messagesStart();  // damaged blobs name modules that do not load
        ASSERT_TRUE(converterBind(stagePath(std::string("streamconv") + librarySuffix()).c_str()));
    }

    // A performance file of the current chain and wrapper w's state blob.
    struct Seeds {
        std::string path;
        Bytes performance, blob;
    };
    Seeds seedsOf(int w) {
        Seeds s{app.path() + "seed.qvp", {}, {}};
        EXPECT_EQ(0, performanceWrite(s.path.c_str()));
        s.performance = readFile(s.path);
        uint32_t size = 0;
        const uint8_t* blob = wrapperSaveState(w, size);
        s.blob.assign(blob, blob + size);
        return s;
    }
    // One round: a damaged performance file read, then a damaged blob loaded
    // into the emptied wrapper.
    void mutatedRound(int w, const Seeds& seeds, std::mt19937& random) {
        writeFile(seeds.path, mutate(seeds.performance, random));
        wrapperDestroyAll(w);
        performanceRead(seeds.path.c_str());
        const Bytes mutated = mutate(seeds.blob, random);
        wrapperDestroyAll(w);
        wrapperLoadState(w, mutated.data(), static_cast<uint32_t>(mutated.size()));
    }
};

}  // namespace

TEST_F(Fuzz, PerformanceFilesAndStateBlobs) {
    const int w = loadDefault();
    ASSERT_GE(w, 0);
    const char* effects[] = {"reverb", "echo", "flanger", "chorus"};
    for (int slot = 0; slot < 4; ++slot) chainAttach(slot * 2, w, pluginIndex(w, effects[slot]));
    const Seeds seeds = seedsOf(w);
    std::mt19937 random(1234);
    for (int round = 0; round < kRounds; ++round) mutatedRound(w, seeds, random);
    wrapperDestroyAll(w);
}

TEST_F(Fuzz, VstStateBlobsAndPerformancesHoldingThem) {
    namespace fs = std::filesystem;
    app.addWrapper(stagedModule("Wrappers", "vstwrapper"), "vstwrapper" + librarySuffix());
    const std::string vst = app.path() + "VST Plugins" + platformPathSeparator();
    fs::create_directories(vst);
    for (const char* name : {"tvst_stereo", "tvst_chunk", "tvst_mono", "tvst_six"})
        fs::copy_file(testModulePath(name), vst + name + librarySuffix());
    ASSERT_TRUE(platformWriteSetting("VSTDir", nullptr));
    ASSERT_EQ(0, wrappersLoadAll());
    const int w = wrapperNamed("VST Plugins");
    ASSERT_GE(w, 0);
    ASSERT_EQ(0, wrapperRefreshList(w));
    const char* effects[] = {"tvst_stereo", "tvst_chunk", "tvst_mono", "tvst_six"};
    for (int slot = 0; slot < 4; ++slot) ASSERT_EQ(0, chainAttach(slot, w, pluginIndex(w, effects[slot])));
    const Seeds seeds = seedsOf(w);

    engine.blockSize = 16;
    std::mt19937 random(4321);
    for (int round = 0; round < kVstRounds; ++round) {
        mutatedRound(w, seeds, random);
        // What was restored runs.
        ASSERT_EQ(0, engineConfigure(engine, 44100, round % 2 == 0));
        for (int i = 0; i < wrapperInstanceCount(w) && i < kChainSlots; ++i) {
            wrapperGetInstance(w, i, engine.chain[i].instance);
            engine.chain[i].wrapperIndex = w;
        }
        processBlock(engine);
        engineRelease(engine);
        for (ChainSlot& slot : engine.chain) slot = ChainSlot{};
    }
    wrapperDestroyAll(w);
}

TEST_F(Fuzz, AccompanimentFiles) {
    Bytes seed(44);
    std::memcpy(&seed[0], "RIFF", 4);
    std::memcpy(&seed[8], "WAVEfmt ", 8);
    putU32(&seed[16], 16);
    putU16(&seed[20], 1);
    putU16(&seed[22], 2);
    putU32(&seed[24], 44100);
    putU32(&seed[28], 176400);
    putU16(&seed[32], 4);
    putU16(&seed[34], 16);
    std::memcpy(&seed[36], "data", 4);
    putU32(&seed[40], 64);
    seed.resize(44 + 64, 0x10);
    const std::string path = app.path() + "seed.wav";
    EngineState player;
    accompanimentAttach(player);
    std::mt19937 random(99);
    for (int round = 0; round < kRounds; ++round) {
        writeFile(path, mutate(seed, random));
        if (accompanimentLoad(path.c_str()) == 0) {
            // Whatever loads also plays, through rate conversion.
            player.blockSize = 37;
            engineConfigure(player, 48000, true);
            player.gateThreshold = 0.0f;
            accompanimentToggle();
            for (int block = 0; block < 4; ++block) processBlock(player);
            engineRelease(player);
        }
        accompanimentClose();
    }
    player.accompaniment = EngineStage{};
}

TEST_F(Fuzz, EffectChunks) {
    std::mt19937 random(7);
    for (const char* name : {"reverb", "echo", "flanger", "chorus"}) {
        PlatformModule module = platformLoadModule(stagedModule("Effects", name).c_str());
        auto query = reinterpret_cast<PluginQueryFn>(platformFindSymbol(module, "pluginQuery"));
        auto process = reinterpret_cast<EffectProcessFn>(platformFindSymbol(module, "processPlugin"));
        ASSERT_NE(nullptr, query);
        query(PQ_OPEN, 0, 0);
        query(PQ_SET_BLOCK_SIZE, 0, 32);
        query(PQ_SET_SAMPLE_RATE, 0, 22050);
        uint8_t* chunk = nullptr;
        const intptr_t size = query(PQ_GET_STATE, reinterpret_cast<intptr_t>(&chunk), 0);
        const Bytes seed(chunk, chunk + size);
        std::vector<float> left(32, 0.5f), right(32, -0.5f);
        for (int round = 0; round < kRounds / 3; ++round) {
            Bytes mutated = mutate(seed, random);
            if (round % 2) mutated.resize(seed.size(), 0);  // keep the size so the values are taken
            std::memcpy(mutated.data(), seed.data(), std::min<size_t>(4, mutated.size()));
            query(PQ_SET_STATE, reinterpret_cast<intptr_t>(mutated.data()), static_cast<intptr_t>(mutated.size()));
            process(left.data(), right.data(), 0);
            process(left.data(), nullptr, 0);
        }
        query(PQ_CLOSE, 0, 0);
        platformUnloadModule(module);
    }
}

TEST_F(Fuzz, ConverterFormatsAndCounts) {
    std::mt19937 random(5);
    // Device buffers sized for the largest frame the format can name.
    std::vector<uint8_t> device;
    std::vector<float> left(300), right(300);
    for (int round = 0; round < kRounds * 4; ++round) {
        StreamFormat f{};
        f.wFormatTag = static_cast<uint16_t>(random() % 4);
        f.nChannels = static_cast<uint16_t>(random() % 4);
        f.wBitsPerSample = static_cast<uint16_t>((random() % 9) * 4 + (random() % 2 ? 0 : 2));
        f.nBlockAlign = static_cast<uint16_t>(random() % 17);
        const uint32_t deviceFrames = static_cast<uint32_t>(random() % 300);
        const uint32_t floatFrames = static_cast<uint32_t>(random() % 300);
        device.assign(static_cast<size_t>(deviceFrames) * f.nBlockAlign + 1, 0x55);
        gConverter.setHistory(static_cast<int32_t>(random() % 256));
        const uint32_t toDevice = static_cast<uint32_t>(random() % 2);
        gConverter.process(&f, device.data(), left.data(), random() % 2 ? right.data() : nullptr, deviceFrames,
                           floatFrames, toDevice);
        gConverter.processMsb(&f, device.data(), left.data(), random() % 2 ? right.data() : nullptr, deviceFrames,
                              floatFrames, toDevice);
    }
    gConverter.setHistory(0);
}

// Mutation fuzzing of every parser of untrusted input: performance files,
// the default wrapper's state blobs, accompaniment WAV files, effect chunks
// and converter calls with arbitrary formats. Seeds are valid inputs; each
// round flips, inserts, deletes and overwrites bytes (length fields with
// extreme values among them) and hands the result to the parser. Under the
// sanitizers any read or write out of bounds fails the run; a parser that
// hangs trips the test's time limit. The seed corpora of the preset,
// settings and effect-state fuzzers (tests/fuzz/corpus, copied beside the
// tests) are replayed through those fuzzers' own entries, then mutated.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "app/settings.h"
#include "audiofiles/accompaniment.h"
#include "common/bytes.h"
#include "host/performance.h"
#include "streamconv/binding.h"
#include "tests/fuzz/fuzz_targets.h"
#include "tests/host/host_fixture.h"
#include "tests/support/messages.h"
#include "tests/support/modules.h"
#include "wrappers/default/effectinterface.h"
#include "wrappers/default/presetfile.h"

#if defined(_WIN32)
// Under Windows the wrappers' boxes about mutated blobs ("Unable to load
// plugin") are answered here: no watcher thread runs for these tests.
extern "C" __declspec(dllexport) int qvMessageHook(const char*, const char*, unsigned) { return 1; }
#endif

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
#if !defined(_WIN32)
        messagesStart();  // damaged blobs name modules that do not load
#endif
        // (Under Windows the program's own qvMessageHook answers them: a
        // watcher thread beside the module loads deadlocked Wine's loader.)
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

namespace {

// ---- The corpora of the preset, settings and effect-state fuzzers ----

// The files of one target's corpus, by name.
std::vector<std::pair<std::string, Bytes>> corpus(const char* target) {
    namespace fs = std::filesystem;
    std::vector<std::pair<std::string, Bytes>> files;
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(stagePath(std::string("../tests/fuzzcorpus/") + target), error))
        files.push_back({entry.path().filename().string(), readFile(entry.path().string())});
    std::sort(files.begin(), files.end());
    return files;
}

const char* const kEffects[] = {"reverb", "echo", "flanger", "chorus"};

// A staged effect, opened as the default wrapper opens it.
struct StagedEffect {
    PlatformModule module = nullptr;
    PluginQueryFn query = nullptr;
    explicit StagedEffect(const char* name) {
        module = platformLoadModule(stagedModule("Effects", name).c_str());
        query = reinterpret_cast<PluginQueryFn>(platformFindSymbol(module, "pluginQuery"));
        if (!query) return;
        query(PQ_OPEN, 0, 0);
        query(PQ_SET_BLOCK_SIZE, 0, 64);
        query(PQ_SET_SAMPLE_RATE, 0, 44100);
    }
    ~StagedEffect() {
        if (query) query(PQ_CLOSE, 0, 0);
        platformUnloadModule(module);
    }
    Bytes state() const {
        uint8_t* chunk = nullptr;
        const intptr_t size = query(PQ_GET_STATE, reinterpret_cast<intptr_t>(&chunk), 0);
        return size > 0 && chunk ? Bytes(chunk, chunk + size) : Bytes{};
    }
};

bool renameOver(const char* from, const char* to) {
    std::error_code error;
    std::filesystem::rename(from, to, error);
    return !error;
}

// One value of the settings key in the settings fuzzer's layout.
void addValue(Bytes& key, const char* name, uint32_t type, const uint8_t* data, size_t size) {
    int index = 0;
    while (index < kFuzzSettingNames && std::strcmp(kFuzzSettingName[index], name) != 0) ++index;
    key.push_back(static_cast<uint8_t>(index));
    key.push_back(static_cast<uint8_t>(type));
    key.push_back(static_cast<uint8_t>(size));
    key.push_back(static_cast<uint8_t>(size >> 8));
    key.insert(key.end(), data, data + size);
}
void addString(Bytes& key, const char* name, const std::string& text) {
    addValue(key, name, kRegString, reinterpret_cast<const uint8_t*>(text.c_str()), text.size() + 1);
}

// The key as SaveSettings writes it for a program with these records, and
// the application directory as setup writes it.
Bytes settingsKey(const MasterSettings& master, const FramePlacement& placement, const char* device) {
    Bytes key;
    addString(key, "AppDir", "C:\\Program Files\\Quorvane Live");
    addString(key, "DxOutput", device);
    addString(key, "DxInput", device);
    addString(key, "AsioDevice", "<none>");
    uint8_t st001[kSt001Size], st002[kSt002Size], st003[kSt003Size], ww001[kWw001Size], ww002[kWw002Size];
    encodeDeviceSettings(DeviceSettings{}, st001);
    encodeMasterSettings(master, st002);
    encodeRecorderSettings(RecorderSettings{}, st003);
    encodeFramePlacement(placement, ww001);
    encodeWindowPositions(WindowPositions{}, ww002);
    addValue(key, "st001", kRegBinary, st001, sizeof st001);
    addValue(key, "st002", kRegBinary, st002, sizeof st002);
    addValue(key, "st003", kRegBinary, st003, sizeof st003);
    addValue(key, "ww001", kRegBinary, ww001, sizeof ww001);
    addValue(key, "ww002", kRegBinary, ww002, sizeof ww002);
    addString(key, "PrfLoad", "C:\\Users\\me\\Documents\\room.qvp");
    addString(key, "PrfSave", "");
    addString(key, "AccOpen", "C:\\Users\\me\\Music\\");
    return key;
}

// Every seed the writers make, valid ones first: each target's folder and
// file name, and whether the parser must take it.
struct Seed {
    std::string target, name;
    Bytes bytes;
    bool valid;
};

std::vector<Seed> writtenSeeds(const std::string& scratch) {
    std::vector<Seed> seeds;
    for (int index = 0; index < 4; ++index) {
        const char* name = kEffects[index];
        StagedEffect effect(name);
        const std::string pst = scratch + name + ".pst";
        EXPECT_TRUE(presetSaveFile(pst.c_str(), effect.query, renameOver));
        seeds.push_back({"preset", std::string(name) + ".pst", readFile(pst), true});
        // Each effect's chunk, stereo at 44.1 kHz with blocks of 64, mono at
        // 96 kHz with blocks of 256; its last preset where it has several.
        Bytes state = effect.state();
        state.insert(state.begin(), static_cast<uint8_t>(index));
        seeds.push_back({"effectstate", std::string(name) + "-44100.bin", state, true});
        if (effect.query(PQ_SELECT_PRESET, 0, 5) || effect.query(PQ_SELECT_PRESET, 0, 2) ||
            effect.query(PQ_SELECT_PRESET, 0, 1)) {
            state = effect.state();
            state.insert(state.begin(), static_cast<uint8_t>(index | 4 | 2 << 3 | 2 << 6));
            seeds.push_back({"effectstate", std::string(name) + "-preset-mono-96000.bin", state, true});
        }
    }
    FramePlacement placement;
    placement.showState = 1, placement.left = 40, placement.right = 840, placement.top = 30, placement.bottom = 630;
    seeds.push_back({"settings", "saved.bin", settingsKey(MasterSettings{}, placement, "Primary Sound Driver"), true});
    MasterSettings master;
    master.masterGain = 4.0f, master.inputGain = 0.0f, master.gateThreshold = 0.5f, master.gateAttackMs = 200;
    master.gateReleaseMs = 700, master.metronomeTempo = 300.0f, master.metronomeOn = true, master.dcRemoverOn = false;
    placement.showState = 3;
    seeds.push_back({"settings", "limits.bin", settingsKey(master, placement, std::string(199, 'd').c_str()), true});

    // Damaged ones: cut short, one byte too long, the wrong tag, values out
    // of range or not numbers.
    const auto find = [&](const std::string& target, const std::string& name) -> const Bytes& {
        for (const Seed& s : seeds)
            if (s.target == target && s.name == name) return s.bytes;
        return seeds.front().bytes;
    };
    Bytes b = find("preset", "echo.pst");
    b.pop_back();
    seeds.push_back({"preset", "damaged-short.pst", b, false});
    b = find("preset", "reverb.pst");
    b.push_back(0);
    seeds.push_back({"preset", "damaged-long.pst", b, false});
    b = find("preset", "chorus.pst");
    b[0] = 'X';
    seeds.push_back({"preset", "damaged-tag.pst", b, false});
    b = find("preset", "flanger.pst");
    for (int k = 0; k < 6; ++k) putU32(&b[6 + 4 * k], k % 2 ? 0xFF800000u : 0x7FC00000u);  // NaN, -inf
    seeds.push_back({"preset", "flanger-not-numbers.pst", b, true});
    b = find("effectstate", "echo-44100.bin");
    putU32(&b[1 + 8], 0xFFFFFFFFu);  // an echo of 4 294 967 295 ms
    putU32(&b[1 + 12], 0x7F800000u);  // infinite feedback
    seeds.push_back({"effectstate", "echo-extreme.bin", b, true});
    b = find("effectstate", "chorus-44100.bin");
    for (size_t at = 1 + 4 + 2; at + 4 <= 1 + 4 + 50; at += 4) putU32(&b[at], 0x7FC00000u);
    b[0] |= 6 << 3;  // 1000 Hz: lines of a few samples
    seeds.push_back({"effectstate", "chorus-not-numbers-1000.bin", b, true});
    b = find("effectstate", "reverb-44100.bin");
    b.resize(b.size() - 3);
    seeds.push_back({"effectstate", "damaged-short.bin", b, false});
    b = find("settings", "saved.bin");
    b.resize(b.size() - 5);  // the last value cut short
    b[1] = kRegBinary;  // AppDir (the first value) of another type
    seeds.push_back({"settings", "damaged-cut.bin", b, false});
    Bytes key;
    addString(key, "AppDir", std::string(260, 'a'));  // no room left for its paths
    const std::string unterminated(200, 'x');
    addValue(key, "DxInput", kRegString, reinterpret_cast<const uint8_t*>(unterminated.data()), unterminated.size());
    const uint8_t st001[kSt001Size + 1] = {1, 0x80, 0xFF, 0x80, 0xFF, 0};
    addValue(key, "st001", kRegBinary, st001, kSt001Size);
    addValue(key, "st003", kRegBinary, st001, sizeof st001);
    uint8_t st002[kSt002Size];
    std::memset(st002, 0xFF, sizeof st002);  // every float not a number
    addValue(key, "st002", kRegBinary, st002, sizeof st002);
    uint8_t ww001[kWw001Size] = {};
    putU32(ww001, 0), putU32(ww001 + 4, 0x80000000u), putU32(ww001 + 8, 0x7FFFFFFFu);
    addValue(key, "ww001", kRegBinary, ww001, sizeof ww001);
    seeds.push_back({"settings", "damaged-values.bin", key, false});
    return seeds;
}

}  // namespace

// The corpus seeds are what the writers write now, so the fuzzers start from
// files the program makes (QV_FUZZ_SEEDS=<folder> writes them there
// instead), and the valid ones are taken.
TEST_F(Fuzz, CorpusSeedsAreWhatTheWritersWrite) {
    const char* rewrite = std::getenv("QV_FUZZ_SEEDS");
    for (const Seed& seed : writtenSeeds(app.path())) {
        SCOPED_TRACE(seed.target + "/" + seed.name);
        if (rewrite) {
            std::filesystem::create_directories(std::string(rewrite) + "/" + seed.target);
            writeFile(std::string(rewrite) + "/" + seed.target + "/" + seed.name, seed.bytes);
            continue;
        }
        bool found = false;
        for (const auto& [name, bytes] : corpus(seed.target.c_str())) {
            if (name != seed.name) continue;
            found = true;
            EXPECT_EQ(seed.bytes, bytes);
        }
        EXPECT_TRUE(found);
        if (!seed.valid) continue;
        if (seed.target == "preset" || seed.target == "effectstate") {
            const bool preset = seed.target == "preset";
            const std::string effect = seed.name.substr(0, seed.name.find_first_of("-."));
            StagedEffect staged(effect.c_str());
            const Bytes chunk(seed.bytes.begin() + (preset ? 0 : 1), seed.bytes.end());
            EXPECT_NE(0, staged.query(PQ_SET_STATE, reinterpret_cast<intptr_t>(chunk.data()),
                                      static_cast<intptr_t>(chunk.size())));
        } else {
            // Every value of a saved key is read back.
            FuzzSettingsKey key{seed.bytes.data(), seed.bytes.size()};
            StoredSettings stored;
            readStoredSettings(fuzzReadSettingsValue, &key, stored);
            EXPECT_TRUE(stored.dxInput[0] && stored.dxOutput[0] && stored.asioDevice[0] && stored.haveMaster &&
                        stored.haveRecorder && stored.havePlacement && stored.havePositions && stored.lastOpenPath[0] &&
                        stored.lastAccompanimentPath[0]);
            char directory[260];
            EXPECT_TRUE(readStoredApplicationDirectory(fuzzReadSettingsValue, &key, directory, sizeof directory));
        }
    }
}

// Each corpus file through its fuzzer's entry, then mutated.
TEST_F(Fuzz, PresetSettingsAndEffectStateCorpora) {
    ASSERT_TRUE(fuzzLoadEffects(stagePath(std::string("Effects") + platformPathSeparator()).c_str()));
    const struct {
        const char* target;
        void (*entry)(const uint8_t*, size_t);
    } targets[] = {{"preset", fuzzPresetFile}, {"settings", fuzzSettings}, {"effectstate", fuzzEffectState},
                   {"stage", fuzzStage}};
    std::mt19937 random(2003);
    for (const auto& t : targets) {
        const auto files = corpus(t.target);
        EXPECT_GE(files.size(), 4u) << t.target;
        for (const auto& [name, bytes] : files) {
            SCOPED_TRACE(std::string(t.target) + "/" + name);
            t.entry(bytes.data(), bytes.size());
            for (int round = 0; round < kRounds / 10; ++round) {
                const Bytes mutated = mutate(bytes, random);
                t.entry(mutated.data(), mutated.size());
            }
        }
    }
}

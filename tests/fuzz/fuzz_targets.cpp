#include "tests/fuzz/fuzz_targets.h"

#include "app/setlist.h"
#include "app/stagecontrol.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

#include "app/report.h"
#include "app/settings.h"
#include "audiofiles/accompaniment.h"
#include "host/host.h"
#include "wrappers/vst3/vst3module.h"
#include "host/performance.h"
#include "platform/platform.h"
#include "streamconv/binding.h"
#include "wrappers/default/effectinterface.h"
#include "wrappers/clap/clapmodule.h"
#include "wrappers/default/presetfile.h"

namespace {

EngineState engine;
std::string scratchFile;
int defaultWrapper = -1;
int vstWrapper = -1;
int vst3Wrapper = -1;
int clapWrapper = -1;

int wrapperNamed(const char* name) {
    for (int w = 0; w < wrapperCount(); ++w)
        if (std::strcmp(wrapperName(w), name) == 0) return w;
    return -1;
}

// A VST folder of test effects for the VST wrapper to find by file title.
bool makeVstFolder(const std::string& stage) {
    namespace fs = std::filesystem;
    std::error_code error;
    const fs::path folder = fs::temp_directory_path() / "qvfuzz-vst";
    fs::create_directories(folder, error);
    for (const char* name : {"tvst_stereo", "tvst_chunk", "tvst_mono"}) {
        const std::string file = std::string(name) + platformModuleSuffix();
        fs::copy_file(fs::path(stage) / ".." / "testmodules" / file, folder / file,
                      fs::copy_options::overwrite_existing, error);
        if (error) return false;
    }
    // Our VST 3 test bundle beside them, for the VST 3 wrapper.
    fs::copy(fs::path(stage) / ".." / "testmodules" / "vst3" / "QvTestGain.vst3", folder / "QvTestGain.vst3",
             fs::copy_options::recursive | fs::copy_options::overwrite_existing, error);
    if (error) return false;
    // And our CLAP test module, for the CLAP wrapper.
    fs::copy_file(fs::path(stage) / ".." / "testmodules" / "clap" / "QvTestGain.clap", folder / "QvTestGain.clap",
                  fs::copy_options::overwrite_existing, error);
    if (error) return false;
    platformWriteSetting("CLAPCache", (folder / "clap-cache.txt").string().c_str());
    platformWriteSetting("VST3Cache", (folder / "vst3-cache.txt").string().c_str());
    return platformWriteSetting("VSTDir", (folder.string() + "/").c_str());
}

bool writeScratch(const uint8_t* data, size_t size) {
    FILE* f = std::fopen(scratchFile.c_str(), "wb");
    if (!f) return false;
    const bool ok = std::fwrite(data, 1, size, f) == size;
    return std::fclose(f) == 0 && ok;
}

// A broken promise of a parser: reported, then the run ends as a crash
// would, so the fuzzer keeps the input.
void require(bool holds, const char* what) {
    if (holds) return;
    std::fprintf(stderr, "fuzz: %s\n", what);
    std::abort();
}

// The built-in effects, loaded once and never unloaded.
struct FuzzEffect {
    const char* name;
    PlatformModule module;
    PluginQueryFn query;
    EffectProcessFn process;
};
FuzzEffect effects[4] = {{"reverb", nullptr, nullptr, nullptr},
                         {"echo", nullptr, nullptr, nullptr},
                         {"flanger", nullptr, nullptr, nullptr},
                         {"chorus", nullptr, nullptr, nullptr}};

// An instance as the default wrapper opens one.
void openEffect(const FuzzEffect& e, uint32_t rate, uint32_t block) {
    float tempo = 120.0f;
    e.query(PQ_OPEN, 0, 0);
    e.query(PQ_SET_BLOCK_SIZE, 0, block);
    e.query(PQ_SET_SAMPLE_RATE, 0, rate);
    e.query(PQ_SET_TEMPO, reinterpret_cast<intptr_t>(&tempo), 0);
    e.query(PQ_RESUME, 0, 0);
}

// A few blocks of a plucked tone with one full-scale sample, in place.
void runBlocks(const FuzzEffect& e, uint32_t block, bool stereo, int blocks) {
    static float left[256], right[256];
    for (int b = 0; b < blocks; ++b) {
        for (uint32_t i = 0; i < block; ++i) {
            const float t = static_cast<float>(b * block + i);
            left[i] = 0.5f * std::sin(t * 0.05f) * std::exp(-t * 0.002f);
            right[i] = -left[i];
        }
        if (b == 0) left[0] = right[0] = 1.0f;
        e.process(left, stereo ? right : nullptr, 0);
    }
}

bool terminatedWithin(const char* text, size_t size) { return std::memchr(text, 0, size) != nullptr; }

// What every record decoded from the key must hold: its fields within their
// limits, and written back and read again, the same record.
void checkStored(const StoredSettings& s) {
    require(terminatedWithin(s.dxInput, sizeof s.dxInput) && terminatedWithin(s.dxOutput, sizeof s.dxOutput) &&
                terminatedWithin(s.asioDevice, sizeof s.asioDevice) &&
                terminatedWithin(s.lastOpenPath, sizeof s.lastOpenPath) &&
                terminatedWithin(s.lastSavePath, sizeof s.lastSavePath) &&
                terminatedWithin(s.lastAccompanimentPath, sizeof s.lastAccompanimentPath),
            "a stored string is not terminated within its buffer");

    const DeviceSettings& d = s.device;
    require(d.system <= 1 && d.latencyMs >= 5 && d.latencyMs <= 100 && d.formatIndex < 16 && d.buffers >= 2 &&
                d.buffers <= 64 && d.outputDelayMs <= 10,
            "device settings outside their limits");
    uint8_t st001[kSt001Size];
    encodeDeviceSettings(d, st001);
    DeviceSettings device;
    require(decodeDeviceSettings(kRegBinary, st001, sizeof st001, device) && device.system == d.system &&
                device.latencyMs == d.latencyMs && device.formatIndex == d.formatIndex &&
                device.buffers == d.buffers && device.outputDelayMs == d.outputDelayMs,
            "device settings change when saved and read again");

    if (s.haveMaster) {
        const MasterSettings& m = s.master;
        require(m.masterGain >= 0.0f && m.masterGain <= 4.0f && m.inputGain >= 0.0f && m.inputGain <= 4.0f &&
                    m.gateThreshold >= 0.0f && m.gateThreshold <= 0.5f && m.gateAttackMs <= 200 &&
                    m.gateReleaseMs <= 700 && std::isfinite(m.metronomeTempo),
                "master settings outside their limits");
        uint8_t st002[kSt002Size];
        encodeMasterSettings(m, st002);
        MasterSettings master;
        require(decodeMasterSettings(kRegBinary, st002, sizeof st002, master) && master.masterGain == m.masterGain &&
                    master.inputGain == m.inputGain && master.gateThreshold == m.gateThreshold &&
                    master.gateAttackMs == m.gateAttackMs && master.gateReleaseMs == m.gateReleaseMs &&
                    master.metronomeTempo == m.metronomeTempo && master.metronomeOn == m.metronomeOn &&
                    master.dcRemoverOn == m.dcRemoverOn,
                "master settings change when saved and read again");
    }
    if (s.haveRecorder) {
        const RecorderSettings& r = s.recorder;
        require(r.formatIndex >= 0 && r.formatIndex <= 15 && r.maxSeconds >= 10 && r.maxSeconds <= 600,
                "recorder settings outside their limits");
        uint8_t st003[kSt003Size];
        encodeRecorderSettings(r, st003);
        RecorderSettings recorder;
        require(decodeRecorderSettings(kRegBinary, st003, sizeof st003, recorder) && recorder.dryOnly == r.dryOnly &&
                    recorder.startAccompaniment == r.startAccompaniment && recorder.ramMode == r.ramMode &&
                    recorder.formatIndex == r.formatIndex && recorder.maxSeconds == r.maxSeconds,
                "recorder settings change when saved and read again");
    }
    if (s.havePlacement) {
        const FramePlacement& p = s.placement;
        require(p.showState >= 1 && p.showState <= 3, "a frame placement that would hide the frame");
        require(!p.haveRectangle || frameRectangleUsable(p.left, p.top, p.right, p.bottom),
                "a frame rectangle that cannot be used");
        uint8_t ww001[kWw001Size];
        encodeFramePlacement(p, ww001);
        FramePlacement placement;
        require(decodeFramePlacement(kRegBinary, ww001, sizeof ww001, placement) &&
                    placement.showState == p.showState && placement.haveRectangle == p.haveRectangle &&
                    (!p.haveRectangle || (placement.left == p.left && placement.top == p.top &&
                                          placement.right == p.right && placement.bottom == p.bottom)),
                "the frame placement changes when saved and read again");
    }
    if (s.havePositions) {
        uint8_t ww002[kWw002Size];
        encodeWindowPositions(s.positions, ww002);
        WindowPositions w;
        require(decodeWindowPositions(kRegBinary, ww002, sizeof ww002, w) && w.masterX == s.positions.masterX &&
                    w.masterY == s.positions.masterY && w.masterOpen == s.positions.masterOpen &&
                    w.inputMeterX == s.positions.inputMeterX && w.inputMeterY == s.positions.inputMeterY &&
                    w.outputMeterX == s.positions.outputMeterX && w.outputMeterY == s.positions.outputMeterY,
                "window positions change when saved and read again");
    }
}

}  // namespace

bool fuzzReadSettingsValue(void* context, const char* name, uint32_t& type, uint8_t* out, size_t& size) {
    const FuzzSettingsKey& key = *static_cast<const FuzzSettingsKey*>(context);
    for (size_t at = 0; at + 4 <= key.size;) {
        const uint8_t* record = key.data + at;
        const size_t length = std::min<size_t>(record[2] | record[3] << 8, key.size - at - 4);
        at += 4 + length;
        if (std::strcmp(kFuzzSettingName[record[0] % kFuzzSettingNames], name) != 0) continue;
        if (length > size) return false;
        type = record[1];
        std::memcpy(out, record + 4, length);
        size = length;
        return true;
    }
    return false;
}

const char* const kFuzzSettingName[kFuzzSettingNames] = {"DxInput", "DxOutput", "AsioDevice", "st001",
                                                         "st002",   "st003",    "ww001",      "ww002",
                                                         "PrfLoad", "PrfSave",  "AccOpen",    "AppDir"};
const uint32_t kFuzzEffectRates[8] = {44100, 48000, 96000, 32000, 22050, 8000, 1000, 1};
const uint32_t kFuzzEffectBlocks[4] = {64, 37, 256, 16};

bool fuzzSetUp(const char* stageDirectory) {
    setReporter([](int32_t) {});
    const std::string stage = stageDirectory;
    if (!converterBind((stage + "streamconv" + platformModuleSuffix()).c_str())) return false;
    if (!makeVstFolder(stage)) return false;
    hostReset(engine, stage.c_str());
    if (wrappersLoadAll() != 0) return false;
    defaultWrapper = wrapperNamed("Quorvane Plugins");
    vstWrapper = wrapperNamed("VST Plugins");
    vst3Wrapper = wrapperNamed("VST3 Plugins");
    clapWrapper = wrapperNamed("CLAP Plugins");
    if (defaultWrapper < 0 || vstWrapper < 0 || vst3Wrapper < 0 || clapWrapper < 0) return false;
    wrapperRefreshList(defaultWrapper);
    wrapperRefreshList(vstWrapper);
    wrapperRefreshList(vst3Wrapper);
    wrapperRefreshList(clapWrapper);
    char path[1024];
    if (!platformTemporaryPath(".bin", path, sizeof path)) return false;
    scratchFile = path;
    accompanimentAttach(engine);
    return true;
}

void fuzzPerformance(const uint8_t* data, size_t size) {
    if (writeScratch(data, size)) performanceRead(scratchFile.c_str());
    wrapperDestroyAll(defaultWrapper);
    wrapperLoadState(defaultWrapper, data, static_cast<uint32_t>(size));
    wrapperDestroyAll(defaultWrapper);
    wrapperDestroyAll(vstWrapper);
    for (ChainSlot& s : engine.chain) s = ChainSlot{};
}

namespace {

// A wrapper's state blob restored; whatever was restored runs for a block
// in the chain and saves again.
void restoreRunAndSave(int wrapper, const uint8_t* data, size_t size) {
    wrapperLoadState(wrapper, data, static_cast<uint32_t>(size));
    engine.blockSize = 32;
    if (engineConfigure(engine, 44100, true) == 0) {
        for (int i = 0; i < wrapperInstanceCount(wrapper) && i < kChainSlots; ++i) {
            wrapperGetInstance(wrapper, i, engine.chain[i].instance);
            engine.chain[i].wrapperIndex = wrapper;
        }
        processBlock(engine);
        engineRelease(engine);
    }
    uint32_t saved = 0;
    wrapperSaveState(wrapper, saved);
    wrapperDestroyAll(wrapper);
    for (ChainSlot& s : engine.chain) s = ChainSlot{};
}

}  // namespace

void fuzzVstState(const uint8_t* data, size_t size) { restoreRunAndSave(vstWrapper, data, size); }

void fuzzVst3State(const uint8_t* data, size_t size) {
    // The same bytes as the scan cache's text, which is read as untrusted too.
    cacheFree(cacheParse(vst3::kVst3Scan.cacheTag, reinterpret_cast<const char*>(data), size));
    restoreRunAndSave(vst3Wrapper, data, size);
}

void fuzzClapState(const uint8_t* data, size_t size) {
    // The same bytes as the scan cache's text, which is read as untrusted too.
    cacheFree(cacheParse(clap::kClapScan.cacheTag, reinterpret_cast<const char*>(data), size));
    restoreRunAndSave(clapWrapper, data, size);
}

void fuzzAccompaniment(const uint8_t* data, size_t size) {
    if (!writeScratch(data, size)) return;
    if (accompanimentLoad(scratchFile.c_str()) == 0) {
        engine.blockSize = 37;
        engineConfigure(engine, 48000, true);
        engine.gateThreshold = 0.0f;
        accompanimentToggle();
        for (int block = 0; block < 3; ++block) processBlock(engine);
        engineRelease(engine);
    }
    accompanimentClose();
}

bool fuzzLoadEffects(const char* folder) {
    for (FuzzEffect& e : effects) {
        if (e.module) continue;
        const std::string path = std::string(folder) + e.name + platformModuleSuffix();
        e.module = platformLoadModule(path.c_str());
        e.query = reinterpret_cast<PluginQueryFn>(platformFindSymbol(e.module, "pluginQuery"));
        e.process = reinterpret_cast<EffectProcessFn>(platformFindSymbol(e.module, "processPlugin"));
        if (!e.query || !e.process) return false;
    }
    return true;
}

bool fuzzEffectsSetUp(const char* stageDirectory) {
    return fuzzLoadEffects((std::string(stageDirectory) + ".." + platformPathSeparator() + "fuzzers" +
                            platformPathSeparator() + "effects" + platformPathSeparator())
                               .c_str());
}

bool fuzzNothingToSetUp(const char*) { return true; }

void fuzzPresetFile(const uint8_t* data, size_t size) {
    // Every run opens each effect afresh; a low rate keeps its lines short.
    // A file does not depend on the rate (fuzzEffectState tries the others).
    for (const FuzzEffect& e : effects) {
        openEffect(e, 8000, 64);
        if (presetLoadBytes(data, size, e.query) == PresetLoad::kLoaded) runBlocks(e, 64, true, 2);
        e.query(PQ_CLOSE, 0, 0);
    }
}

void fuzzSettings(const uint8_t* data, size_t size) {
    FuzzSettingsKey key{data, size};
    StoredSettings stored;
    readStoredSettings(fuzzReadSettingsValue, &key, stored);
    checkStored(stored);
    // The application directory as start-up reads it into its 260 bytes.
    char directory[260];
    if (readStoredApplicationDirectory(fuzzReadSettingsValue, &key, directory, sizeof directory)) {
        const size_t length = std::strlen(directory);
        require(length > 0 && (directory[length - 1] == '\\' || directory[length - 1] == '/') &&
                    length + std::strlen("streamconv.dll") < sizeof directory,
                "an application directory whose paths do not fit");
    }
}

void fuzzEffectState(const uint8_t* data, size_t size) {
    if (size == 0) return;
    const FuzzEffect& e = effects[data[0] & 3];
    const bool stereo = (data[0] & 4) == 0;
    const uint32_t rate = kFuzzEffectRates[(data[0] >> 3) & 7];
    const uint32_t block = kFuzzEffectBlocks[data[0] >> 6];
    openEffect(e, rate, block);
    const bool taken =
        e.query(PQ_SET_STATE, reinterpret_cast<intptr_t>(data + 1), static_cast<intptr_t>(size - 1)) != 0;
    runBlocks(e, block, stereo, 3);
    if (taken) {
        // What was taken is kept limited: saved, loaded and saved again, the
        // chunk stays the same.
        uint8_t* chunk = nullptr;
        const intptr_t length = e.query(PQ_GET_STATE, reinterpret_cast<intptr_t>(&chunk), 0);
        require(length > 0 && chunk, "an effect that took a chunk gives none back");
        uint8_t* const saved = static_cast<uint8_t*>(std::malloc(static_cast<size_t>(length)));
        require(saved != nullptr, "out of memory");
        std::memcpy(saved, chunk, static_cast<size_t>(length));
        require(e.query(PQ_SET_STATE, reinterpret_cast<intptr_t>(saved), length) != 0,
                "an effect refuses the chunk it saved");
        uint8_t* again = nullptr;
        require(e.query(PQ_GET_STATE, reinterpret_cast<intptr_t>(&again), 0) == length && again &&
                    std::memcmp(saved, again, static_cast<size_t>(length)) == 0,
                "a chunk changes when it is loaded and saved again");
        std::free(saved);
    }
    e.query(PQ_CLOSE, 0, 0);
}

namespace {
bool noFileExists(const char*) { return false; }
bool everyFileExists(const char*) { return true; }
double halfway(uint8_t, uint8_t, uint16_t) { return 0.5; }
}  // namespace

void fuzzStage(const uint8_t* data, size_t size) {
    if (size == 0) return;
    const uint8_t pick = data[0];
    ++data;
    --size;
    if (pick <= 85) {
        static SetList list;
        const char* text = reinterpret_cast<const char*>(data);
        if (setListParse(text, size, "C:\\gig\\list.qvs", noFileExists, list) == 0) std::abort();
        if (setListParse(text, size, "C:\\gig\\list.qvs", everyFileExists, list) != 0) return;
        if (list.count < 1 || list.count > kSetListMaxSongs) std::abort();
        for (int i = 0; i < list.count; ++i)
            if (std::strlen(list.songs[i]) > kSetListPathMax) std::abort();
        static char out[kSetListMaxBytes * 2];
        setListFormat(list, "C:\\gig\\list.qvs", out, sizeof out);
        return;
    }
    if (pick <= 170) {
        StageBindings b;
        if (!stageReadBindings(data, size, b)) return;
        uint8_t back[kBindingsHeader + kBindingEntry * kMaxBindings];
        if (stageWriteBindings(b, back, sizeof back) != size || std::memcmp(back, data, size) != 0) std::abort();
        return;
    }
    StageControl c;
    MidiParser parser;
    StageAction actions[8];
    int learnt = 0;
    for (size_t i = 0; i < size; ++i) {
        MidiMessage m;
        if (!midiParseByte(parser, data[i], m)) continue;
        // The first messages learn targets chosen by their own bytes.
        if (learnt < 12) {
            stageLearn(c, static_cast<uint8_t>(1 + learnt % kTargetLast), static_cast<uint8_t>(learnt % 8),
                       static_cast<uint16_t>(m.data2));
            if (c.learnTarget.target == kTargetKnob) c.learnTarget.a = 116 + learnt % 5;
            ++learnt;
        }
        const int n = stageHandle(c, m, halfway, actions, 8);
        if (n < 0 || n > 8) std::abort();
        for (int k = 0; k < n; ++k)
            if (actions[k].kind == kActionSetValue && (actions[k].value < 0.0 || actions[k].value > 1.0)) std::abort();
    }
    if (c.performance.count > kMaxBindings || c.global.count > kMaxBindings) std::abort();
}

#include "tests/fuzz/fuzz_targets.h"

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>

#include "app/report.h"
#include "audiofiles/accompaniment.h"
#include "host/host.h"
#include "host/performance.h"
#include "platform/platform.h"
#include "streamconv/binding.h"

namespace {

EngineState engine;
std::string scratchFile;
int defaultWrapper = -1;
int vstWrapper = -1;

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
    return platformWriteSetting("VSTDir", (folder.string() + "/").c_str());
}

bool writeScratch(const uint8_t* data, size_t size) {
    FILE* f = std::fopen(scratchFile.c_str(), "wb");
    if (!f) return false;
    const bool ok = std::fwrite(data, 1, size, f) == size;
    return std::fclose(f) == 0 && ok;
}

}  // namespace

// The fuzzer answers the wrappers' message boxes itself.
extern "C" __attribute__((visibility("default"))) int qvMessageHook(const char*, const char*, unsigned) { return 1; }

bool fuzzSetUp(const char* stageDirectory) {
    setReporter([](int32_t) {});
    const std::string stage = stageDirectory;
    if (!converterBind((stage + "streamconv" + platformModuleSuffix()).c_str())) return false;
    if (!makeVstFolder(stage)) return false;
    hostReset(engine, stage.c_str());
    if (wrappersLoadAll() != 0) return false;
    defaultWrapper = wrapperNamed("Quorvane Plugins");
    vstWrapper = wrapperNamed("VST Plugins");
    if (defaultWrapper < 0 || vstWrapper < 0) return false;
    wrapperRefreshList(defaultWrapper);
    wrapperRefreshList(vstWrapper);
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

void fuzzVstState(const uint8_t* data, size_t size) {
    wrapperLoadState(vstWrapper, data, static_cast<uint32_t>(size));
    // Whatever was restored runs for a block and saves again.
    engine.blockSize = 32;
    if (engineConfigure(engine, 44100, true) == 0) {
        for (int i = 0; i < wrapperInstanceCount(vstWrapper) && i < kChainSlots; ++i) {
            wrapperGetInstance(vstWrapper, i, engine.chain[i].instance);
            engine.chain[i].wrapperIndex = vstWrapper;
        }
        processBlock(engine);
        engineRelease(engine);
    }
    uint32_t saved = 0;
    wrapperSaveState(vstWrapper, saved);
    wrapperDestroyAll(vstWrapper);
    for (ChainSlot& s : engine.chain) s = ChainSlot{};
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

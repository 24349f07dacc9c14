#include "tests/fuzz/fuzz_targets.h"

#include <cstdio>
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
    hostReset(engine, stage.c_str());
    if (wrappersLoadAll() != 0 || wrapperCount() != 1) return false;
    defaultWrapper = 0;
    wrapperRefreshList(defaultWrapper);
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

// A libFuzzer program for one parser, chosen at build time (FUZZ_TARGET,
// with what it needs loaded first: FUZZ_SET_UP). The stage is the one
// beside the program's build tree.
#include <cstdlib>
#include <string>

#include "platform/platform.h"
#include "tests/fuzz/fuzz_targets.h"

// The fuzzer answers the wrappers' message boxes itself.
extern "C" __attribute__((visibility("default"))) int qvMessageHook(const char*, const char*, unsigned) { return 1; }

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    char directory[1024];
    if (!platformExecutableDirectory(directory, sizeof directory)) std::abort();
    const std::string stage = std::string(directory) + "../stage/";
    if (!FUZZ_SET_UP(stage.c_str())) std::abort();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FUZZ_TARGET(data, size);
    return 0;
}

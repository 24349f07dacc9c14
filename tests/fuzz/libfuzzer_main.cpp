// A libFuzzer program for one parser, chosen at build time (FUZZ_TARGET).
// The stage is the one beside the program's build tree.
#include <cstdlib>
#include <string>

#include "platform/platform.h"
#include "tests/fuzz/fuzz_targets.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    char directory[1024];
    if (!platformExecutableDirectory(directory, sizeof directory)) std::abort();
    const std::string stage = std::string(directory) + "../stage/";
    if (!fuzzSetUp(stage.c_str())) std::abort();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FUZZ_TARGET(data, size);
    return 0;
}

// vst3scan: reads one VST 3 module's effect classes in a process of its
// own, so that a module that crashes or hangs while it is loaded takes only
// this process down. The wrapper runs it with a time limit and reads what
// it prints: the scan cache's form of one module.
//
//   vst3scan MODULE-PATH
//
// Exit code 0 with the module's classes, 1 when the module cannot be read
// (its line then says so), 2 for a wrong command line.
#include <cstdio>
#include <cstring>

#include "platform/platform.h"
#include "wrappers/vst3/vst3module.h"

using namespace vst3;

int main(int argc, char** argv) {
    platformEndOnCrash();
    if (argc != 2 || std::strlen(argv[1]) >= kPathSize) return 2;
    CachedModule record{};
    std::snprintf(record.path, sizeof record.path, "%s", argv[1]);
    EffectClass found[kMaxClasses];
    Module* module = moduleOpen(argv[1]);
    const int32_t count = module ? moduleEffects(module, found, kMaxClasses) : -1;
    moduleClose(module);
    record.readable = count >= 0;
    record.classCount = count > 0 ? count : 0;
    record.classes = found;
    cacheWriteTo(stdout, &record);
    std::fflush(stdout);
    return record.readable ? 0 : 1;
}

#include <dlfcn.h>
#include <time.h>

#include "platform/platform.h"

bool platformReadCounter(uint64_t& value) {
    timespec now;
    if (clock_gettime(CLOCK_MONOTONIC, &now) != 0) return false;
    value = static_cast<uint64_t>(now.tv_sec) * 1000000000u + static_cast<uint64_t>(now.tv_nsec);
    return true;
}

uint64_t platformCounterFrequency() { return 1000000000u; }

PlatformModule platformLoadModule(const char* path) { return dlopen(path, RTLD_NOW | RTLD_LOCAL); }

void* platformFindSymbol(PlatformModule module, const char* name) { return module ? dlsym(module, name) : nullptr; }

void platformUnloadModule(PlatformModule module) {
    if (module) dlclose(module);
}

const char* platformModuleSuffix() { return ".so"; }

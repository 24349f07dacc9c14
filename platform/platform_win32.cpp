#include <windows.h>

#include "platform/platform.h"

bool platformReadCounter(uint64_t& value) {
    LARGE_INTEGER now;
    if (!QueryPerformanceCounter(&now)) return false;
    value = static_cast<uint64_t>(now.QuadPart);
    return true;
}

uint64_t platformCounterFrequency() {
    LARGE_INTEGER frequency;
    if (!QueryPerformanceFrequency(&frequency)) return 0;
    return static_cast<uint64_t>(frequency.QuadPart);
}

PlatformModule platformLoadModule(const char* path) { return reinterpret_cast<PlatformModule>(LoadLibraryA(path)); }

void* platformFindSymbol(PlatformModule module, const char* name) {
    if (!module) return nullptr;
    return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(module), name));
}

void platformUnloadModule(PlatformModule module) {
    if (module) FreeLibrary(static_cast<HMODULE>(module));
}

const char* platformModuleSuffix() { return ".dll"; }

// The thin seam between the platform-free code and the operating system.
// One implementation per platform; nothing else in the tree includes an OS
// header for these facilities.
#pragma once

#include <cstdint>

// High-resolution counter for the CPU figure: the performance counter on
// Windows, a monotonic clock elsewhere. Both may be called from the
// real-time context. A failed read returns false.
bool platformReadCounter(uint64_t& value);
// Counts per second; 0 when the platform has no usable counter.
uint64_t platformCounterFrequency();

// Shared libraries (wrappers, effects, the converter). A null module means
// the library could not be loaded.
using PlatformModule = void*;
PlatformModule platformLoadModule(const char* path);
void* platformFindSymbol(PlatformModule module, const char* name);
void platformUnloadModule(PlatformModule module);
// The platform's library file suffix with its dot: ".dll" or ".so".
const char* platformModuleSuffix();

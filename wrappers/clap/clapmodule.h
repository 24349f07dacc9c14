// CLAP modules on disk: loading a module once for all its users (its entry
// initialised with the module's path, deinitialised when the last user is
// gone), listing its effects, and what the shared scan needs to know of
// them. UI thread (and the host's scanning thread while the UI waits).
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/platform.h"
#include "wrappers/clap/clapabi.h"
#include "wrappers/common/pluginscan.h"

namespace clap {

struct Module {
    char path[kScanPathSize];
    PlatformModule library;
    const PluginEntry* entry;
    const PluginFactory* factory;
    int users;
    Module* next;
};

// Loads a module (or finds it loaded) and takes one use of it: the entry's
// version checked, init(path), then the plug-in factory. Null when any of
// it fails; the module is then deinitialised (if it was initialised) and
// unloaded again.
Module* moduleOpen(const char* path);
// Gives one use back; the last one deinitialises and unloads the module.
void moduleClose(Module* module);

// The effects of an opened module: descriptors with an id the cache can
// hold, a name and the "audio-effect" feature (instruments are left out:
// they take no audio input). Returns the count written (at most
// `capacity`), or -1 when the factory's count makes no sense.
int32_t moduleEffects(Module* module, PluginClass* out, int32_t capacity);

// How the shared scan finds and reads CLAP modules.
extern const ScanFormat kClapScan;

}  // namespace clap

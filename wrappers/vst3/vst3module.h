// VST 3 modules on disk: where a bundle keeps its library, loading a module
// once for all its users, listing its effect classes, and what the shared
// scan needs to know of them. UI thread (and the host's
// scanning thread while the UI waits).
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "platform/platform.h"
#include "wrappers/common/pluginscan.h"
#include "wrappers/vst3/vst3abi.h"

namespace vst3 {

constexpr size_t kPathSize = 260;  // NUL included, as in the state blob
constexpr int32_t kMaxClasses = kMaxModuleClasses;

// The library of a module: inside a bundle folder
// (Name.vst3/Contents/<architecture>/Name.<suffix>) or the file itself
// (the older single-file layout). False when it does not fit.
bool moduleLibrary(const char* path, char* out, size_t size);

struct Module {
    char path[kPathSize];
    PlatformModule library;
    IPluginFactory* factory;
    int users;
    Module* next;
};

// Loads a module (or finds it loaded) and takes one use of it: the entry
// function (InitDll, or ModuleEntry with the library), then the factory.
// Null when any of it fails; the module is then unloaded again.
Module* moduleOpen(const char* path);
// Gives one use back; the last one releases the factory, calls the exit
// function (ExitDll or ModuleExit) and unloads the library.
void moduleClose(Module* module);

// One effect class of a module as the scan lists it.
struct EffectClass {
    uint8_t cid[16];
    char name[kClassNameSize];
};

// The effect classes of an opened module: category "Audio Module Class"
// and "Fx" among the sub-categories (instruments are left out: they take
// no audio input). Every string from the module is read within its field.
// Returns the count written (at most `capacity`), or -1 when the factory's
// answers make no sense (a class count beyond kMaxClasses or below 0).
int32_t moduleEffects(Module* module, EffectClass* out, int32_t capacity);

// ---- the scan ----

// How the shared scan finds and reads VST 3 modules; the class ids are the
// 32 hex digits of the class id, as the cache has always held them.
extern const ScanFormat kVst3Scan;
void classIdText(const uint8_t cid[16], char out[kClassIdSize]);
bool classIdBytes(const char* text, uint8_t cid[16]);

}  // namespace vst3

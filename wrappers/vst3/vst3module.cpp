// VST 3 modules: loading, class lists and the scan cache.
#include "wrappers/vst3/vst3module.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

#if defined(__x86_64__) || defined(_M_X64)
#include <xmmintrin.h>
#endif

#include "wrappers/vst3/vst3host.h"

namespace vst3 {

namespace {

// A bundle with only the other width's library names that one: the scan
// tells its width from the library's header (the 64-bit build lists a
// 32-bit one for the 32-bit helper; the 32-bit build leaves a 64-bit one).
#if defined(_WIN64)
constexpr const char* kArchitecture = "x86_64-win";
constexpr const char* kOtherArchitecture = "x86-win";
constexpr const char* kLibrarySuffix = ".vst3";
#elif defined(_WIN32)
constexpr const char* kArchitecture = "x86-win";
constexpr const char* kOtherArchitecture = "x86_64-win";
constexpr const char* kLibrarySuffix = ".vst3";
#else
constexpr const char* kArchitecture = "x86_64-linux";
constexpr const char* kLibrarySuffix = ".so";
#endif

Module* modules = nullptr;

bool isSeparator(char c) { return c == '\\' || c == '/'; }

// The thread's floating-point control (SSE and x87). A module may change it
// while it is loaded, entered, left or unloaded: a library linked with
// -ffast-math sets flush-to-zero and denormals-are-zero from its start-up
// code, on the thread that loads it. The engine's own arithmetic (the
// gate's bound search, for one) counts on the default behaviour, so the
// caller's control is put back after each of those steps.
struct FloatControl {
    uint32_t sse = 0;
    uint16_t x87 = 0;
};

FloatControl floatControl() {
    FloatControl c;
#if defined(__x86_64__) || defined(_M_X64)
    c.sse = _mm_getcsr();
    __asm__ volatile("fnstcw %0" : "=m"(c.x87));
#endif
    return c;
}

void restoreFloatControl(const FloatControl& c) {
#if defined(__x86_64__) || defined(_M_X64)
    _mm_setcsr(c.sse);
    __asm__ volatile("fldcw %0" : : "m"(c.x87));
#else
    (void)c;
#endif
}

Module* openLibrary(const char* path, const char* library);

// A field of a record from the module: its text up to the first NUL, but
// never past the field.
size_t fieldLength(const char* field, size_t size) {
    size_t n = 0;
    while (n < size && field[n]) ++n;
    return n;
}

bool fieldIs(const char* field, size_t size, const char* text) {
    const size_t n = fieldLength(field, size);
    return n == std::strlen(text) && std::memcmp(field, text, n) == 0;
}

// "Fx" as one of the '|'-separated sub-categories.
bool isEffect(const char* field, size_t size) {
    const size_t n = fieldLength(field, size);
    size_t start = 0;
    for (size_t i = 0; i <= n; ++i) {
        if (i == n || field[i] == '|') {
            if (i - start == 2 && field[start] == 'F' && field[start + 1] == 'x') return true;
            start = i + 1;
        }
    }
    return false;
}

void copyField(char* out, size_t outSize, const char* field, size_t fieldSize) {
    size_t n = fieldLength(field, fieldSize);
    if (n >= outSize) n = outSize - 1;
    for (size_t i = 0; i < n; ++i) {
        const unsigned char c = static_cast<unsigned char>(field[i]);
        out[i] = c < 0x20 ? ' ' : static_cast<char>(c);  // no line breaks in names (or in the cache)
    }
    out[n] = '\0';
}

}  // namespace

bool moduleLibrary(const char* path, char* out, size_t size) {
    if (!platformIsDirectory(path)) {
        const int n = std::snprintf(out, size, "%s", path);
        return n >= 0 && static_cast<size_t>(n) < size;
    }
    size_t end = std::strlen(path);
    while (end > 0 && isSeparator(path[end - 1])) --end;
    size_t start = end;
    while (start > 0 && !isSeparator(path[start - 1])) --start;
    size_t titleEnd = end;
    if (titleEnd - start > 5 && std::memcmp(path + titleEnd - 5, ".vst3", 5) == 0) titleEnd -= 5;
    const char sep = platformPathSeparator();
    const auto inFolder = [&](const char* architecture) {
        const int n = std::snprintf(out, size, "%.*s%cContents%c%s%c%.*s%s", static_cast<int>(end), path, sep, sep,
                                    architecture, sep, static_cast<int>(titleEnd - start), path + start,
                                    kLibrarySuffix);
        return n >= 0 && static_cast<size_t>(n) < size;
    };
#if defined(_WIN32)
    if (inFolder(kOtherArchitecture) && platformFileExists(out) && inFolder(kArchitecture) && !platformFileExists(out))
        return inFolder(kOtherArchitecture);
#endif
    return inFolder(kArchitecture);
}

Module* moduleOpen(const char* path) {
    for (Module* m = modules; m; m = m->next) {
        if (std::strcmp(m->path, path) == 0) {
            ++m->users;
            return m;
        }
    }
    char library[kPathSize];
    if (std::strlen(path) >= kPathSize || !moduleLibrary(path, library, sizeof library)) return nullptr;
    const FloatControl caller = floatControl();
    Module* module = openLibrary(path, library);
    restoreFloatControl(caller);
    return module;
}

namespace {

// Loads and enters the library of a module not yet open.
Module* openLibrary(const char* path, const char* library) {
    PlatformModule handle = platformLoadModule(library);
    if (!handle) return nullptr;
#if defined(_WIN32)
    auto init = reinterpret_cast<InitModuleFn>(platformFindSymbol(handle, "InitDll"));
    const bool entered = !init || init();
#else
    auto entry = reinterpret_cast<ModuleEntryFn>(platformFindSymbol(handle, "ModuleEntry"));
    const bool entered = !entry || entry(handle);
#endif
    auto getFactory = reinterpret_cast<GetFactoryFn>(platformFindSymbol(handle, "GetPluginFactory"));
    IPluginFactory* factory = entered && getFactory ? getFactory() : nullptr;
    auto* module = factory ? new (std::nothrow) Module() : nullptr;
    if (!module) {
        if (factory) factory->release();
        if (entered) {
#if defined(_WIN32)
            auto exit = reinterpret_cast<ExitModuleFn>(platformFindSymbol(handle, "ExitDll"));
#else
            auto exit = reinterpret_cast<ExitModuleFn>(platformFindSymbol(handle, "ModuleExit"));
#endif
            if (exit) exit();
        }
        platformUnloadModule(handle);
        return nullptr;
    }
    std::snprintf(module->path, sizeof module->path, "%s", path);
    module->library = handle;
    module->factory = factory;
    module->users = 1;
    module->next = modules;
    modules = module;
    // The factory gets the host context when it can take it (factory 3).
    IPluginFactory3* third = nullptr;
    if (factory->queryInterface(kIPluginFactory3Iid.b, reinterpret_cast<void**>(&third)) == kResultOk && third) {
        third->setHostContext(hostApplication());
        third->release();
    }
    return module;
}

}  // namespace

void moduleClose(Module* module) {
    if (!module || --module->users > 0) return;
    const FloatControl caller = floatControl();
    for (Module** link = &modules; *link; link = &(*link)->next) {
        if (*link == module) {
            *link = module->next;
            break;
        }
    }
    module->factory->release();
#if defined(_WIN32)
    auto exit = reinterpret_cast<ExitModuleFn>(platformFindSymbol(module->library, "ExitDll"));
#else
    auto exit = reinterpret_cast<ExitModuleFn>(platformFindSymbol(module->library, "ModuleExit"));
#endif
    if (exit) exit();
    platformUnloadModule(module->library);
    delete module;
    restoreFloatControl(caller);
}

int32_t moduleEffects(Module* module, EffectClass* out, int32_t capacity) {
    IPluginFactory* factory = module->factory;
    const int32_t count = factory->countClasses();
    if (count < 0 || count > kMaxClasses) return -1;
    IPluginFactory2* second = nullptr;
    if (factory->queryInterface(kIPluginFactory2Iid.b, reinterpret_cast<void**>(&second)) != kResultOk)
        second = nullptr;
    int32_t found = 0;
    for (int32_t i = 0; i < count && found < capacity; ++i) {
        PClassInfo2 info;
        std::memset(&info, 0, sizeof info);
        if (second) {
            if (second->getClassInfo2(i, &info) != kResultOk) continue;
        } else {
            PClassInfo plain;
            std::memset(&plain, 0, sizeof plain);
            if (factory->getClassInfo(i, &plain) != kResultOk) continue;
            std::memcpy(info.cid, plain.cid, 16);
            std::memcpy(info.category, plain.category, sizeof info.category);
            std::memcpy(info.name, plain.name, sizeof info.name);
            std::memcpy(info.subCategories, "Fx", 3);  // no sub-categories to say otherwise
        }
        if (!fieldIs(info.category, sizeof info.category, kAudioEffectClass)) continue;
        if (!isEffect(info.subCategories, sizeof info.subCategories)) continue;
        std::memcpy(out[found].cid, info.cid, 16);
        copyField(out[found].name, sizeof out[found].name, info.name, sizeof info.name);
        if (!out[found].name[0]) std::snprintf(out[found].name, sizeof out[found].name, "VST3 Effect %d", i);
        ++found;
    }
    if (second) second->release();
    return found;
}

// ---- the scan ----

void classIdText(const uint8_t cid[16], char out[kClassIdSize]) {
    for (int k = 0; k < 16; ++k) std::snprintf(out + 2 * k, 3, "%02X", cid[k]);
}

bool classIdBytes(const char* text, uint8_t cid[16]) {
    if (std::strlen(text) != 32) return false;
    for (int i = 0; i < 16; ++i) {
        int value = 0;
        for (int k = 0; k < 2; ++k) {
            const char c = text[2 * i + k];
            const int digit = std::isdigit(static_cast<unsigned char>(c)) ? c - '0'
                              : (c >= 'A' && c <= 'F')                   ? c - 'A' + 10
                              : (c >= 'a' && c <= 'f')                   ? c - 'a' + 10
                                                                         : -1;
            if (digit < 0) return false;
            value = value * 16 + digit;
        }
        cid[i] = static_cast<uint8_t>(value);
    }
    return true;
}

namespace {

int32_t readModuleClasses(const char* path, PluginClass* out, int32_t capacity) {
    static EffectClass found[kMaxClasses];
    Module* module = moduleOpen(path);
    const int32_t count = module ? moduleEffects(module, found, capacity < kMaxClasses ? capacity : kMaxClasses) : -1;
    moduleClose(module);
    for (int32_t i = 0; i < count; ++i) {
        classIdText(found[i].cid, out[i].id);
        std::memcpy(out[i].name, found[i].name, kClassNameSize);
    }
    return count;
}

}  // namespace

const ScanFormat kVst3Scan{".vst3",
                           "QVVST3CACHE",
                           "vst3scan",
                           "VST3",
                           "VST3 Plugins",
                           "VST3Cache",
                           "Quorvane Live VST3 cache.txt",
                           ".quorvane-live-vst3-cache",
                           moduleLibrary,
                           readModuleClasses};

}  // namespace vst3

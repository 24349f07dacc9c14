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

#if defined(_WIN32)
constexpr const char* kArchitecture = "x86_64-win";
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
    const int n = std::snprintf(out, size, "%.*s%cContents%c%s%c%.*s%s", static_cast<int>(end), path, sep, sep,
                                kArchitecture, sep, static_cast<int>(titleEnd - start), path + start, kLibrarySuffix);
    return n >= 0 && static_cast<size_t>(n) < size;
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

// ---- the scan cache ----

namespace {

constexpr size_t kMaxCacheBytes = 4u << 20;
constexpr int32_t kMaxCachedModules = 10000;

// The next line of `text` from `at`: its start and length (without the
// line break); false at the end. Lines longer than the widest valid one
// are damage.
bool nextLine(const char* text, size_t length, size_t& at, const char*& line, size_t& lineLength) {
    if (at >= length) return false;
    line = text + at;
    size_t n = 0;
    while (at + n < length && text[at + n] != '\n') ++n;
    at += n + 1;
    // Lines may end with CR LF (a helper's text-mode output, an edited file).
    if (n > 0 && line[n - 1] == '\r') --n;
    lineLength = n;
    return true;
}

bool parseHex(const char* text, uint8_t* out) {
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
        out[i] = static_cast<uint8_t>(value);
    }
    return true;
}

}  // namespace

CachedModule* cacheParse(const char* text, size_t length) {
    if (!text || length > kMaxCacheBytes) return nullptr;
    size_t at = 0;
    const char* line = nullptr;
    size_t n = 0;
    if (!nextLine(text, length, at, line, n) || n != 13 || std::memcmp(line, "QVVST3CACHE 1", 13) != 0) return nullptr;
    CachedModule* head = nullptr;
    CachedModule** tail = &head;
    CachedModule* current = nullptr;
    int32_t modulesRead = 0;
    bool damaged = false;
    while (!damaged && nextLine(text, length, at, line, n)) {
        char buffer[kPathSize + 80];
        if (n == 0) continue;
        if (n >= sizeof buffer) {
            damaged = true;
            break;
        }
        std::memcpy(buffer, line, n);
        buffer[n] = '\0';
        if (std::strlen(buffer) != n) {
            damaged = true;
            break;
        }
        if (buffer[0] == 'M' && buffer[1] == ' ') {
            long long size = 0, time = 0;
            int readable = 0, consumed = 0;
            if (++modulesRead > kMaxCachedModules ||
                std::sscanf(buffer + 2, "%lld %lld %d %n", &size, &time, &readable, &consumed) != 3 || consumed <= 0 ||
                (readable != 0 && readable != 1) || std::strlen(buffer + 2 + consumed) >= kPathSize ||
                !buffer[2 + consumed]) {
                damaged = true;
                break;
            }
            current = new (std::nothrow) CachedModule();
            if (!current) {
                damaged = true;
                break;
            }
            std::snprintf(current->path, sizeof current->path, "%s", buffer + 2 + consumed);
            current->size = size;
            current->time = time;
            current->readable = readable == 1;
            *tail = current;
            tail = &current->next;
        } else if (buffer[0] == 'C' && buffer[1] == ' ' && current && n >= 35 && buffer[34] == ' ') {
            if (current->classCount >= kMaxClasses) {
                damaged = true;
                break;
            }
            auto* grown = static_cast<EffectClass*>(
                std::realloc(current->classes, sizeof(EffectClass) * static_cast<size_t>(current->classCount + 1)));
            if (!grown) {
                damaged = true;
                break;
            }
            current->classes = grown;
            EffectClass& c = current->classes[current->classCount];
            if (!parseHex(buffer + 2, c.cid)) {
                damaged = true;
                break;
            }
            std::snprintf(c.name, sizeof c.name, "%s", buffer + 35);
            ++current->classCount;
        } else {
            damaged = true;
        }
    }
    if (damaged) {
        cacheFree(head);
        return nullptr;
    }
    return head;
}

CachedModule* cacheRead(const char* path) {
    std::FILE* file = path && path[0] ? std::fopen(path, "rb") : nullptr;
    if (!file) return nullptr;
    char* text = static_cast<char*>(std::malloc(kMaxCacheBytes + 1));
    size_t length = text ? std::fread(text, 1, kMaxCacheBytes + 1, file) : 0;
    std::fclose(file);
    CachedModule* modules = text && length <= kMaxCacheBytes ? cacheParse(text, length) : nullptr;
    std::free(text);
    return modules;
}

bool cacheWrite(const char* path, const CachedModule* modules) {
    std::FILE* file = path && path[0] ? std::fopen(path, "wb") : nullptr;
    if (!file) return false;
    const bool ok = cacheWriteTo(file, modules);
    return std::fclose(file) == 0 && ok;
}

bool cacheWriteTo(std::FILE* file, const CachedModule* modules) {
    bool ok = std::fputs("QVVST3CACHE 1\n", file) >= 0;
    for (const CachedModule* m = modules; m && ok; m = m->next) {
        ok = std::fprintf(file, "M %lld %lld %d %s\n", static_cast<long long>(m->size),
                          static_cast<long long>(m->time), m->readable ? 1 : 0, m->path) > 0;
        for (int32_t i = 0; i < m->classCount && ok; ++i) {
            char hex[33];
            for (int k = 0; k < 16; ++k) std::snprintf(hex + 2 * k, 3, "%02X", m->classes[i].cid[k]);
            ok = std::fprintf(file, "C %s %s\n", hex, m->classes[i].name) > 0;
        }
    }
    return ok;
}

void cacheFree(CachedModule* modules) {
    while (modules) {
        CachedModule* next = modules->next;
        std::free(modules->classes);
        delete modules;
        modules = next;
    }
}

const CachedModule* cacheFind(const CachedModule* modules, const char* path, int64_t size, int64_t time) {
    for (const CachedModule* m = modules; m; m = m->next)
        if (m->size == size && m->time == time && std::strcmp(m->path, path) == 0) return m;
    return nullptr;
}

}  // namespace vst3

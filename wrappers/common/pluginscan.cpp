// The plug-in scan shared by the VST 3 and CLAP wrappers: search folders,
// the scan cache, the scanner process and the skip report.
#include "wrappers/common/pluginscan.h"

#include <cstdlib>
#include <cstring>
#include <new>

#include "platform/platform.h"
#include "wrappers/common/libraryarch.h"

bool classIdValid(const char* id) {
    size_t n = 0;
    for (; id[n]; ++n)
        if (n + 1 >= kClassIdSize || static_cast<unsigned char>(id[n]) <= 0x20 || static_cast<unsigned char>(id[n]) >= 0x7F)
            return false;
    return n > 0;
}

void classNameFrom(const char* text, size_t size, char out[kClassNameSize]) {
    size_t i = 0;
    for (; text && i < size && i < kClassNameSize - 1 && text[i]; ++i) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        out[i] = c < 0x20 ? ' ' : static_cast<char>(c);  // no line breaks in names (or in the cache)
    }
    out[i] = '\0';
}

// ---- the scan cache ----

namespace {

constexpr size_t kMaxCacheBytes = 4u << 20;
constexpr int32_t kMaxCachedModules = 10000;

// The next line of `text` from `at`: its start and length (without the
// line break); false at the end.
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

// "C <id> <name>": the id up to the next space, the name after it.
bool parseClass(char* text, PluginClass& c) {
    char* space = std::strchr(text, ' ');
    if (!space) return false;
    *space = '\0';
    if (!classIdValid(text)) return false;
    std::snprintf(c.id, sizeof c.id, "%s", text);
    classNameFrom(space + 1, kClassNameSize, c.name);
    return true;
}

}  // namespace

CachedModule* cacheParse(const char* tag, const char* text, size_t length) {
    if (!text || length > kMaxCacheBytes) return nullptr;
    size_t at = 0;
    const char* line = nullptr;
    size_t n = 0;
    const size_t tagLength = std::strlen(tag);
    if (!nextLine(text, length, at, line, n) || n != tagLength + 2 || std::memcmp(line, tag, tagLength) != 0 ||
        std::memcmp(line + tagLength, " 1", 2) != 0)
        return nullptr;
    CachedModule* head = nullptr;
    CachedModule** tail = &head;
    CachedModule* current = nullptr;
    int32_t modulesRead = 0;
    bool damaged = false;
    while (!damaged && nextLine(text, length, at, line, n)) {
        char buffer[kScanPathSize + kClassIdSize + 80];
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
                (readable != 0 && readable != 1) || std::strlen(buffer + 2 + consumed) >= kScanPathSize ||
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
        } else if (buffer[0] == 'C' && buffer[1] == ' ' && current) {
            if (current->classCount >= kMaxModuleClasses) {
                damaged = true;
                break;
            }
            auto* grown = static_cast<PluginClass*>(
                std::realloc(current->classes, sizeof(PluginClass) * static_cast<size_t>(current->classCount + 1)));
            if (!grown) {
                damaged = true;
                break;
            }
            current->classes = grown;
            if (!parseClass(buffer + 2, current->classes[current->classCount])) {
                damaged = true;
                break;
            }
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

CachedModule* cacheRead(const char* tag, const char* path) {
    std::FILE* file = path && path[0] ? std::fopen(path, "rb") : nullptr;
    if (!file) return nullptr;
    char* text = static_cast<char*>(std::malloc(kMaxCacheBytes + 1));
    size_t length = text ? std::fread(text, 1, kMaxCacheBytes + 1, file) : 0;
    std::fclose(file);
    CachedModule* modules = text && length <= kMaxCacheBytes ? cacheParse(tag, text, length) : nullptr;
    std::free(text);
    return modules;
}

bool cacheWrite(const char* tag, const char* path, const CachedModule* modules) {
    std::FILE* file = path && path[0] ? std::fopen(path, "wb") : nullptr;
    if (!file) return false;
    const bool ok = cacheWriteTo(tag, file, modules);
    return std::fclose(file) == 0 && ok;
}

bool cacheWriteTo(const char* tag, std::FILE* file, const CachedModule* modules) {
    bool ok = std::fprintf(file, "%s 1\n", tag) > 0;
    for (const CachedModule* m = modules; m && ok; m = m->next) {
        ok = std::fprintf(file, "M %lld %lld %d %s\n", static_cast<long long>(m->size),
                          static_cast<long long>(m->time), m->readable ? 1 : 0, m->path) > 0;
        for (int32_t i = 0; i < m->classCount && ok; ++i)
            ok = std::fprintf(file, "C %s %s\n", m->classes[i].id, m->classes[i].name) > 0;
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

// ---- the folders ----

void scanFoldersAdd(ScanFolders& folders, const char* folder) {
    const size_t n = folder ? std::strlen(folder) : 0;
    if (n == 0 || n + 2 >= kScanPathSize || folders.count >= ScanFolders::kMax) return;
    const char last = folder[n - 1];
    const bool ends = last == '/' || last == '\\';
    char full[kScanPathSize];
    std::snprintf(full, sizeof full, "%s%s", folder, ends ? "" : (platformPathSeparator() == '/' ? "/" : "\\"));
    for (int i = 0; i < folders.count; ++i)
        if (std::strcmp(folders.path[i], full) == 0) return;
    std::snprintf(folders.path[folders.count++], kScanPathSize, "%s", full);
}

void scanFoldersAddList(ScanFolders& folders, const char* list) {
#if defined(_WIN32)
    constexpr char kListSeparator = ';';
#else
    constexpr char kListSeparator = ':';
#endif
    while (list && *list) {
        const char* end = std::strchr(list, kListSeparator);
        const size_t n = end ? static_cast<size_t>(end - list) : std::strlen(list);
        if (n > 0 && n < kScanPathSize) {
            char folder[kScanPathSize];
            std::memcpy(folder, list, n);
            folder[n] = '\0';
            scanFoldersAdd(folders, folder);
        }
        list = end ? end + 1 : nullptr;
    }
}

// ---- the scan ----

namespace {

constexpr uint32_t kScanTimeoutMs = 15000;
constexpr int32_t kClassesPerModule = 64;

struct Scan {
    const ScanFormat* format;
    HostCallbackFn host;
    void (*found)(void*, const char*, const PluginClass&, bool);
    void* context;
    CachedModule* oldCache;
    CachedModule* newCache;
    CachedModule** newTail;
    int counter;
    int32_t skipped;
    bool goOn;
    char skippedPaths[512];
};

// The scanner beside the wrapper, or for a 32-bit module the 32-bit
// build's in Wrappers32 beside the wrapper's folder; false when it is not there.
bool scannerPath(const ScanFormat& format, bool bits32, char* out, size_t size) {
#if defined(_WIN32)
    constexpr const char* kSuffix = ".exe";
#else
    constexpr const char* kSuffix = "";
#endif
    char folder[kScanPathSize];
    if (!platformModuleDirectory(reinterpret_cast<const void*>(format.readClasses), folder, sizeof folder)) return false;
    const char sep = platformPathSeparator();
    if (bits32) {
        // "...\Wrappers\" becomes "...\Wrappers32\".
        size_t end = std::strlen(folder);
        if (end > 0) --end;
        while (end > 0 && folder[end - 1] != sep) --end;
        std::snprintf(folder + end, sizeof folder - end, "%s%c", kWrappers32, sep);
    }
    const int n = std::snprintf(out, size, "%s%s%s", folder, format.scanner, kSuffix);
    return n > 0 && static_cast<size_t>(n) < size && platformFileExists(out);
}

// A module's classes, read by the scanner in a process of its own, or here
// when there is no scanner (never for a 32-bit module). -1: it cannot be read.
int32_t readClasses(const ScanFormat& format, const char* path, bool bits32, PluginClass* out, int32_t capacity) {
    char scanner[kScanPathSize];
    if (!scannerPath(format, bits32, scanner, sizeof scanner))
        return bits32 ? -1 : format.readClasses(path, out, capacity);
    static char answer[64 * 1024];
    const char* arguments[] = {path};
    const int code = platformRunProgram(scanner, arguments, 1, kScanTimeoutMs, answer, sizeof answer);
    if (code != 0) return -1;
    // The scanner's answer is read as the cache is: as untrusted text.
    CachedModule* read = cacheParse(format.cacheTag, answer, std::strlen(answer));
    int32_t count = -1;
    if (read && !read->next && read->readable && std::strcmp(read->path, path) == 0) {
        count = read->classCount < capacity ? read->classCount : capacity;
        if (count > 0) std::memcpy(out, read->classes, sizeof(PluginClass) * static_cast<size_t>(count));
    }
    cacheFree(read);
    return count;
}

bool copyClasses(CachedModule& record, const PluginClass* classes, int32_t count) {
    if (count <= 0) return true;
    record.classes = static_cast<PluginClass*>(std::malloc(sizeof(PluginClass) * static_cast<size_t>(count)));
    if (!record.classes) return false;
    std::memcpy(record.classes, classes, sizeof(PluginClass) * static_cast<size_t>(count));
    record.classCount = count;
    return true;
}

// One module: from the cache when its file is unchanged, else read by the
// scanner. A module that cannot be read is counted.
void scanModule(Scan& scan, const char* path) {
    const ScanFormat& format = *scan.format;
    char stampedFile[kScanPathSize];
    int64_t size = 0, time = 0;
    const bool stamped =
        format.stampedFile(path, stampedFile, sizeof stampedFile) && platformFileStamp(stampedFile, size, time);
    const CachedModule* cached = stamped ? cacheFind(scan.oldCache, path, size, time) : nullptr;
    const ModuleWidth width =
        stamped ? moduleWidth(libraryArchOfFile(stampedFile), nativeLibraryArch()) : ModuleWidth::Native;
    auto* record = new (std::nothrow) CachedModule();
    if (!record) return;
    std::snprintf(record->path, sizeof record->path, "%s", path);
    record->size = size;
    record->time = time;
    if (cached) {
        record->readable = cached->readable;
        copyClasses(*record, cached->classes, cached->classCount);
    } else if (stamped && width != ModuleWidth::OtherBuild) {
        PluginClass found[kClassesPerModule];
        const int32_t count = readClasses(format, path, width == ModuleWidth::Helper32, found, kClassesPerModule);
        record->readable = count >= 0;
        copyClasses(*record, found, count);
    }
    if (width == ModuleWidth::OtherBuild) {
        // Neither listed nor reported here; its record, if any, stays.
        if (cached) {
            *scan.newTail = record;
            scan.newTail = &record->next;
        } else {
            cacheFree(record);
        }
        return;
    }
    if (!record->readable) {
        ++scan.skipped;
        const size_t used = std::strlen(scan.skippedPaths);
        if (used + 4 < sizeof scan.skippedPaths)
            std::snprintf(scan.skippedPaths + used, sizeof scan.skippedPaths - used, "\n%s", path);
    }
    for (int32_t i = 0; i < record->classCount; ++i)
        scan.found(scan.context, path, record->classes[i], width == ModuleWidth::Helper32);
    // Only modules whose file could be stamped are remembered.
    if (stamped) {
        *scan.newTail = record;
        scan.newTail = &record->next;
    } else {
        cacheFree(record);
    }
    char progress[kScanPathSize + 32];
    std::snprintf(progress, sizeof progress, "%s Plugin %d: %s", format.label, scan.counter++, path);
    scan.goOn = !scan.host || scan.host(HC_SCAN_PROGRESS, reinterpret_cast<intptr_t>(progress), 0) != 0;
}

struct Folder {
    Scan* scan;
    const char* folder;
};

bool scanFolder(Scan& scan, const char* folder);

// Modules are files or bundle folders with the format's extension; other
// folders are searched on.
bool scanEntry(void* context, const char* name, bool isDirectory) {
    auto* f = static_cast<Folder*>(context);
    Scan& scan = *f->scan;
    if (std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0) return scan.goOn;
    char path[kScanPathSize];
    const int written = std::snprintf(path, sizeof path, "%s%s", f->folder, name);
    if (written < 0 || static_cast<size_t>(written) + 2 >= sizeof path) return scan.goOn;
    const size_t n = std::strlen(name);
    const size_t e = std::strlen(scan.format->extension);
    if (n > e && std::strcmp(name + n - e, scan.format->extension) == 0) {
        scanModule(scan, path);
    } else if (isDirectory) {
        path[written] = platformPathSeparator();
        path[written + 1] = '\0';
        scanFolder(scan, path);
    }
    return scan.goOn;
}

bool scanFolder(Scan& scan, const char* folder) {
    Folder f{&scan, folder};
    return platformListDirectory(folder, scanEntry, &f);
}

// The cache's file: the format's setting when there is one, else beside
// the user's other program data.
void cachePath(const ScanFormat& format, char* out, size_t size) {
    out[0] = '\0';
    if (platformReadSetting(format.cacheSetting, out, size) && out[0]) return;
    char base[kScanPathSize];
#if defined(_WIN32)
    if (platformEnvironment("LOCALAPPDATA", base, sizeof base)) std::snprintf(out, size, "%s\\%s", base, format.cacheName);
#else
    if (platformEnvironment("HOME", base, sizeof base)) std::snprintf(out, size, "%s/%s", base, format.cacheDotName);
#endif
}

}  // namespace

int32_t scanModules(const ScanFormat& format, const ScanFolders& folders, HostCallbackFn host,
                    void (*found)(void* context, const char* path, const PluginClass& c, bool bits32),
                    void* context) {
    char cacheFile[kScanPathSize];
    cachePath(format, cacheFile, sizeof cacheFile);
    Scan scan{};
    scan.format = &format;
    scan.host = host;
    scan.found = found;
    scan.context = context;
    scan.oldCache = cacheRead(format.cacheTag, cacheFile);
    scan.newTail = &scan.newCache;
    scan.goOn = true;
    for (int i = 0; i < folders.count && scan.goOn; ++i) scanFolder(scan, folders.path[i]);
    // An aborted scan keeps the old cache: the next one finishes the work.
    if (scan.goOn) cacheWrite(format.cacheTag, cacheFile, scan.newCache);
    cacheFree(scan.oldCache);
    cacheFree(scan.newCache);
    if (scan.skipped > 0) {
        char text[700];
        std::snprintf(text, sizeof text, "%d %s module%s could not be read and %s left out:%s", scan.skipped,
                      format.label, scan.skipped == 1 ? "" : "s", scan.skipped == 1 ? "was" : "were",
                      scan.skippedPaths);
        platformMessageBox(text, format.caption, kMessageIconInformation);
    }
    return scan.skipped;
}

int scannerMain(const ScanFormat& format, int argc, char** argv) {
    platformEndOnCrash();
    if (argc != 2 || std::strlen(argv[1]) >= kScanPathSize) return 2;
    CachedModule record{};
    std::snprintf(record.path, sizeof record.path, "%s", argv[1]);
    static PluginClass found[kMaxModuleClasses];
    const int32_t count = format.readClasses(argv[1], found, kMaxModuleClasses);
    record.readable = count >= 0;
    record.classCount = count > 0 ? count : 0;
    record.classes = found;
    cacheWriteTo(format.cacheTag, stdout, &record);
    std::fflush(stdout);
    return record.readable ? 0 : 1;
}

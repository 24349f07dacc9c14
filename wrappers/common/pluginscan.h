// The scan of plug-in modules the VST 3 and CLAP wrappers share: walking
// the search folders for modules by their extension, reading each module
// not seen before in a scanner process of its own (a module that crashes
// or hangs there is only skipped), the scan cache that spares loading
// unchanged modules again, progress and Abort through the host, and one
// report of what was skipped. UI thread (and the host's scanning thread
// while the UI waits).
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "host/wrapperprotocol.h"

constexpr size_t kScanPathSize = 260;  // NUL included
constexpr size_t kClassIdSize = 128;   // a class's id as text, NUL included
constexpr size_t kClassNameSize = 64;
// Above this a module's class count is taken as damage.
constexpr int32_t kMaxModuleClasses = 1024;

// One plug-in class of a module as the scan lists it: its id as text
// (printable, no spaces) and its name (no control characters).
struct PluginClass {
    char id[kClassIdSize];
    char name[kClassNameSize];
};

// Whether `id` can stand in the cache: 1 to 127 printable characters
// other than the space.
bool classIdValid(const char* id);
// A module's name for a class, at most 63 characters of `text` (which need
// not be terminated within `size`), control characters made spaces.
void classNameFrom(const char* text, size_t size, char out[kClassNameSize]);

// ---- the scan cache ----
// A text file: a first line "<tag> 1", then per module a line
// "M <size> <time> <readable 0|1> <path>" followed by one line
// "C <id> <name>" per class. Read as untrusted input.

struct CachedModule {
    char path[kScanPathSize];
    int64_t size, time;
    bool readable;
    int32_t classCount;
    PluginClass* classes;
    CachedModule* next;
};

// Parses a cache file's bytes; null for none or a damaged file (a damaged
// file is simply scanned anew).
CachedModule* cacheParse(const char* tag, const char* text, size_t length);
CachedModule* cacheRead(const char* tag, const char* path);
bool cacheWrite(const char* tag, const char* path, const CachedModule* modules);
bool cacheWriteTo(const char* tag, std::FILE* file, const CachedModule* modules);
void cacheFree(CachedModule* modules);
const CachedModule* cacheFind(const CachedModule* modules, const char* path, int64_t size, int64_t time);

// ---- the scan ----

struct ScanFormat {
    const char* extension;    // of a module, e.g. ".clap"
    const char* cacheTag;     // the cache's first word
    const char* scanner;      // the scanner beside the wrapper, without ".exe"
    const char* label;        // "CLAP": progress "<label> Plugin N: <path>"
    const char* caption;      // the skip report's box caption
    const char* cacheSetting;  // the setting naming the cache file
    const char* cacheName;    // the cache file's name in the user's local data (Windows)
    const char* cacheDotName;  // its name in the home folder elsewhere
    // The file whose size and time stand for a module (a bundle's library).
    bool (*stampedFile)(const char* path, char* out, size_t size);
    // Reads a module's classes in this process: the count written (at most
    // `capacity`), or -1 when the module cannot be read.
    int32_t (*readClasses)(const char* path, PluginClass* out, int32_t capacity);
};

// The folders searched, each ending with a separator, none twice.
struct ScanFolders {
    static constexpr int kMax = 16;
    char path[kMax][kScanPathSize];
    int count;
};
void scanFoldersAdd(ScanFolders& folders, const char* folder);
// Every folder of a list separated by the system's path-list separator.
void scanFoldersAddList(ScanFolders& folders, const char* list);

// Walks the folders (and their subfolders) and calls `found` for each
// class of each module, in order, telling the host the progress; the host
// may abort. Writes the cache anew unless aborted, and reports the modules
// that could not be read in one box. Returns how many were skipped.
//
// The 64-bit build reads a 32-bit module with the 32-bit scanner in
// Wrappers32 beside its own folder and lists its classes with `bits32`: it
// never loads them. The 32-bit build leaves 64-bit modules out silently
// and keeps their cache records for the 64-bit build.
int32_t scanModules(const ScanFormat& format, const ScanFolders& folders, HostCallbackFn host,
                    void (*found)(void* context, const char* path, const PluginClass& c, bool bits32),
                    void* context);

// The scanner program's whole work: `<scanner> MODULE-PATH` prints the
// cache's form of one module. Exit code 0 with its classes, 1 when it
// cannot be read, 2 for a wrong command line.
int scannerMain(const ScanFormat& format, int argc, char** argv);

#include <windows.h>
#include <mmsystem.h>

#include <cstdio>
#include <cstring>

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

char platformPathSeparator() { return '\\'; }

bool platformListDirectory(const char* directory, PlatformVisitFn visit, void* context) {
    char pattern[MAX_PATH + 2];
    if (std::snprintf(pattern, sizeof pattern, "%s*", directory) >= static_cast<int>(sizeof pattern)) return false;
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA(pattern, &found);
    if (search == INVALID_HANDLE_VALUE) return false;
    do {
        if (!visit(context, found.cFileName, (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0)) break;
    } while (FindNextFileA(search, &found));
    FindClose(search);
    return true;
}

// A console program answers message boxes itself by exporting this.
using MessageHookFn = int (*)(const char* text, const char* caption, unsigned flags);

int platformMessageBox(const char* text, const char* caption, unsigned flags) {
    auto hook = reinterpret_cast<MessageHookFn>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA(nullptr), "qvMessageHook")));
    if (hook) return hook(text, caption, flags);
    return MessageBoxA(nullptr, text, caption, flags);
}

bool platformFileExists(const char* path) {
    DWORD attributes = GetFileAttributesA(path);
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool platformCopyFile(const char* from, const char* to) { return CopyFileA(from, to, FALSE) != 0; }

bool platformDeleteFile(const char* path) { return DeleteFileA(path) != 0; }

bool platformTemporaryPath(const char* suffix, char* out, size_t size) {
    static LONG counter = 0;
    char folder[MAX_PATH + 1];
    DWORD length = GetTempPathA(sizeof folder, folder);
    if (length == 0 || length > MAX_PATH) return false;
    for (int attempt = 0; attempt < 100; ++attempt) {
        LONG n = InterlockedIncrement(&counter);
        int written = std::snprintf(out, size, "%sqv%lu_%ld%s", folder, GetCurrentProcessId(), n, suffix);
        if (written < 0 || static_cast<size_t>(written) >= size) return false;
        if (GetFileAttributesA(out) == INVALID_FILE_ATTRIBUTES) return true;
    }
    return false;
}

PlatformFile platformFileOpen(const char* path, PlatformFileMode mode) {
    // A file being written is shared: its header is kept up to date
    // through a second handle while the recording's handle appends.
    DWORD flags = mode == kFileRead ? MMIO_READ : (MMIO_CREATE | MMIO_WRITE | MMIO_ALLOCBUF | MMIO_DENYNONE);
    return reinterpret_cast<PlatformFile>(mmioOpenA(const_cast<char*>(path), nullptr, flags));
}

long platformFileRead(PlatformFile file, void* data, long size) {
    return mmioRead(static_cast<HMMIO>(file), static_cast<HPSTR>(data), size);
}

long platformFileWrite(PlatformFile file, const void* data, long size) {
    return mmioWrite(static_cast<HMMIO>(file), static_cast<const char*>(data), size);
}

long platformFileSeek(PlatformFile file, long offset) { return mmioSeek(static_cast<HMMIO>(file), offset, SEEK_SET); }

bool platformFileFlush(PlatformFile file) { return file && mmioFlush(static_cast<HMMIO>(file), 0) == 0; }

void platformFileClose(PlatformFile file) {
    if (file) mmioClose(static_cast<HMMIO>(file), 0);
}

bool platformFileStamp(const char* path, int64_t& size, int64_t& time) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExA(path, GetFileExInfoStandard, &data) || (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
        return false;
    size = static_cast<int64_t>((static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow);
    time = static_cast<int64_t>((static_cast<uint64_t>(data.ftLastWriteTime.dwHighDateTime) << 32) |
                                data.ftLastWriteTime.dwLowDateTime);
    return true;
}

bool platformIsDirectory(const char* path) {
    const DWORD attributes = GetFileAttributesA(path);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool platformEnvironment(const char* name, char* out, size_t size) {
    if (!name || !out || size == 0 || size > 32767) return false;
    const DWORD n = GetEnvironmentVariableA(name, out, static_cast<DWORD>(size));
    return n > 0 && n < size;
}

int64_t platformFileSize(const char* path) {
    // Attributes only: the size of a file that is open for writing
    // elsewhere (a recording) can be read too.
    HANDLE file = CreateFileA(path, FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return -1;
    LARGE_INTEGER size;
    BOOL ok = GetFileSizeEx(file, &size);
    CloseHandle(file);
    return ok ? size.QuadPart : -1;
}

bool platformExecutableDirectory(char* out, size_t size) {
    char path[MAX_PATH];
    DWORD length = GetModuleFileNameA(nullptr, path, sizeof path);
    if (length == 0 || length >= sizeof path) return false;
    char* slash = std::strrchr(path, '\\');
    if (!slash) return false;
    slash[1] = '\0';
    return std::snprintf(out, size, "%s", path) < static_cast<int>(size);
}

namespace {
constexpr const char* kSettingsKey = "SOFTWARE\\Quorvane Software\\Quorvane Live\\1";
}

bool platformReadSetting(const char* name, char* out, size_t size) {
    if (!out || size == 0) return false;
    HKEY key;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, kSettingsKey, 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
    DWORD type = 0;
    DWORD bytes = static_cast<DWORD>(size > 0xFFFF ? 0xFFFF : size);
    LONG status = RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(out), &bytes);
    RegCloseKey(key);
    if (status != ERROR_SUCCESS || type != REG_SZ) return false;
    // A stored string need not carry its terminator.
    if (bytes > 0 && out[bytes - 1] == '\0') return true;
    if (bytes >= size) return false;
    out[bytes] = '\0';
    return true;
}

bool platformWriteSetting(const char* name, const char* value) {
    HKEY key;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, kSettingsKey, 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr) !=
        ERROR_SUCCESS)
        return false;
    LONG status = value ? RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value),
                                         static_cast<DWORD>(std::strlen(value)))
                        : RegDeleteValueA(key, name);
    RegCloseKey(key);
    return status == ERROR_SUCCESS || (!value && status == ERROR_FILE_NOT_FOUND);
}

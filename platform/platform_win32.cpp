#include <windows.h>
#include <mmsystem.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>

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

long platformFileSeekEnd(PlatformFile file) { return file ? mmioSeek(static_cast<HMMIO>(file), 0, SEEK_END) : -1; }

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

int platformRunProgram(const char* program, const char* const* arguments, int argumentCount, uint32_t timeoutMs,
                       char* out, size_t size) {
    if (!out || size == 0 || argumentCount < 0) return kRunNotStarted;
    out[0] = '\0';
    // The command line: every part in quotes (paths hold spaces, never quotes).
    char line[4096];
    size_t at = 0;
    for (int i = -1; i < argumentCount; ++i) {
        const char* part = i < 0 ? program : arguments[i];
        if (std::strchr(part, '"')) return kRunNotStarted;
        const int n = std::snprintf(line + at, sizeof line - at, "%s\"%s\"", i < 0 ? "" : " ", part);
        if (n < 0 || static_cast<size_t>(n) >= sizeof line - at) return kRunNotStarted;
        at += static_cast<size_t>(n);
    }
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    HANDLE readEnd = nullptr, writeEnd = nullptr;
    if (!CreatePipe(&readEnd, &writeEnd, &inherit, 0)) return kRunNotStarted;
    SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = writeEnd;
    startup.hStdError = writeEnd;
    startup.hStdInput = nullptr;
    PROCESS_INFORMATION process{};
    const BOOL started = CreateProcessA(program, line, nullptr, nullptr, TRUE, CREATE_NO_WINDOW, nullptr, nullptr,
                                        &startup, &process);
    CloseHandle(writeEnd);
    if (!started) {
        CloseHandle(readEnd);
        return kRunNotStarted;
    }
    CloseHandle(process.hThread);
    size_t used = 0;
    const ULONGLONG deadline = GetTickCount64() + timeoutMs;
    bool timedOut = false;
    for (;;) {
        DWORD waiting = 0;
        if (PeekNamedPipe(readEnd, nullptr, 0, nullptr, &waiting, nullptr) && waiting > 0) {
            char chunk[4096];
            DWORD got = 0;
            if (!ReadFile(readEnd, chunk, sizeof chunk, &got, nullptr) || got == 0) break;
            const size_t keep = used + got < size ? got : size - 1 - used;
            std::memcpy(out + used, chunk, keep);
            used += keep;
            continue;
        }
        if (WaitForSingleObject(process.hProcess, 5) == WAIT_OBJECT_0) {
            // What it wrote before it ended is still in the pipe.
            DWORD got = 0;
            char chunk[4096];
            while (PeekNamedPipe(readEnd, nullptr, 0, nullptr, &waiting, nullptr) && waiting > 0 &&
                   ReadFile(readEnd, chunk, sizeof chunk, &got, nullptr) && got > 0) {
                const size_t keep = used + got < size ? got : size - 1 - used;
                std::memcpy(out + used, chunk, keep);
                used += keep;
            }
            break;
        }
        if (GetTickCount64() >= deadline) {
            timedOut = true;
            TerminateProcess(process.hProcess, 1);
            WaitForSingleObject(process.hProcess, 5000);
            break;
        }
    }
    out[used] = '\0';
    DWORD code = 1;
    GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(process.hProcess);
    CloseHandle(readEnd);
    if (timedOut) return kRunTimedOut;
    return static_cast<int>(code);
}

namespace {
LONG WINAPI endAtOnce(EXCEPTION_POINTERS*) {
    TerminateProcess(GetCurrentProcess(), 3);
    return EXCEPTION_EXECUTE_HANDLER;
}

// Exceptions that only a fault raises.
bool isFault(DWORD code) {
    switch (code) {
        case EXCEPTION_ACCESS_VIOLATION:
        case EXCEPTION_ILLEGAL_INSTRUCTION:
        case EXCEPTION_PRIV_INSTRUCTION:
        case EXCEPTION_STACK_OVERFLOW:
        case EXCEPTION_INT_DIVIDE_BY_ZERO:
        case EXCEPTION_ARRAY_BOUNDS_EXCEEDED:
        case EXCEPTION_IN_PAGE_ERROR:
        case EXCEPTION_DATATYPE_MISALIGNMENT:
        case 0xC0000374:  // the heap found itself corrupted
        case 0xC0000409:  // a stack buffer overran its guard
            return true;
        default:
            return false;
    }
}

// The system's own libraries probe memory and catch their own faults.
bool inSystemLibrary(const void* address) {
    HMODULE module = nullptr;
    if (!GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                            static_cast<LPCSTR>(address), &module))
        return false;
    for (const char* name : {"ntdll.dll", "kernelbase.dll", "kernel32.dll", "user32.dll", "win32u.dll", "gdi32.dll"})
        if (module == GetModuleHandleA(name)) return true;
    return false;
}

// Sees every exception before any handler does. A fault inside a window
// procedure that the system called back is otherwise swallowed where the
// call returns, and the plug-in would go on broken; a fault outside the
// system's libraries ends the process at once.
LONG WINAPI endOnFault(EXCEPTION_POINTERS* e) {
    if (isFault(e->ExceptionRecord->ExceptionCode) && !inSystemLibrary(e->ExceptionRecord->ExceptionAddress))
        TerminateProcess(GetCurrentProcess(), 3);
    return EXCEPTION_CONTINUE_SEARCH;
}
}  // namespace

void platformEndOnCrash() {
    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX | SEM_NOOPENFILEERRORBOX);
    SetUnhandledExceptionFilter(endAtOnce);
    AddVectoredExceptionHandler(1, endOnFault);
}

bool platformModuleDirectory(const void* address, char* out, size_t size) {
    HMODULE module = nullptr;
    if (!GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                            static_cast<LPCSTR>(address), &module))
        return false;
    char path[MAX_PATH];
    const DWORD n = GetModuleFileNameA(module, path, sizeof path);
    if (n == 0 || n >= sizeof path) return false;
    char* slash = std::strrchr(path, '\\');
    if (!slash) return false;
    slash[1] = '\0';
    return std::snprintf(out, size, "%s", path) < static_cast<int>(size);
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

// ---- helper processes -----------------------------------------------------------------

namespace {

struct Helper {
    HANDLE mapping = nullptr;
    void* view = nullptr;
    HANDLE request[2] = {};  // program -> helper
    HANDLE answer[2] = {};   // helper -> program
    HANDLE peer = nullptr;   // the helper's process (program side) or the program's (helper side)
};

// Every helper is in this job: closing its last handle, which the system
// does when the program ends however it ends, ends them all.
HANDLE helperJob() {
    static HANDLE job = [] {
        HANDLE made = CreateJobObjectW(nullptr, nullptr);
        if (made) {
            JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits = {};
            limits.BasicLimitInformation.LimitFlags =
                JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE | JOB_OBJECT_LIMIT_DIE_ON_UNHANDLED_EXCEPTION;
            SetInformationJobObject(made, JobObjectExtendedLimitInformation, &limits, sizeof limits);
        }
        return made;
    }();
    return job;
}

void closeHelper(Helper* h) {
    if (h->view) UnmapViewOfFile(h->view);
    for (HANDLE e : {h->mapping, h->request[0], h->request[1], h->answer[0], h->answer[1], h->peer})
        if (e) CloseHandle(e);
    delete h;
}

// The objects' names: "Local\QvBridge.<program id>.<n>.<suffix>".
void objectName(char* out, size_t size, const char* base, const char* suffix) {
    std::snprintf(out, size, "Local\\%s.%s", base, suffix);
}

bool makeObjects(Helper* h, const char* base, bool create, size_t areaSize) {
    char name[160];
    objectName(name, sizeof name, base, "area");
    h->mapping = create ? CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE,
                                             static_cast<DWORD>(static_cast<uint64_t>(areaSize) >> 32),
                                             static_cast<DWORD>(areaSize), name)
                        : OpenFileMappingA(FILE_MAP_ALL_ACCESS, FALSE, name);
    if (!h->mapping) return false;
    h->view = MapViewOfFile(h->mapping, FILE_MAP_ALL_ACCESS, 0, 0, areaSize);
    if (!h->view) return false;
    const char* suffixes[4] = {"r0", "r1", "a0", "a1"};
    HANDLE* slots[4] = {&h->request[0], &h->request[1], &h->answer[0], &h->answer[1]};
    for (int i = 0; i < 4; ++i) {
        objectName(name, sizeof name, base, suffixes[i]);
        *slots[i] = create ? CreateEventA(nullptr, FALSE, FALSE, name)
                           : OpenEventA(EVENT_MODIFY_STATE | SYNCHRONIZE, FALSE, name);
        if (!*slots[i]) return false;
    }
    return true;
}

int waitWithPeer(HANDLE event, HANDLE peer, DWORD ms) {
    HANDLE both[2] = {event, peer};
    const DWORD r = WaitForMultipleObjects(peer ? 2 : 1, both, FALSE, ms);
    if (r == WAIT_OBJECT_0) return 1;
    if (r == WAIT_TIMEOUT) return 0;
    return -1;
}

// Sets `signal` and waits for `event` in one call to the kernel (under Wine,
// one request to its server instead of two). The peer is asked only after a
// time-out.
int signalAndWait(HANDLE signal, HANDLE event, HANDLE peer, DWORD ms) {
    const DWORD r = SignalObjectAndWait(signal, event, ms, FALSE);
    if (r == WAIT_OBJECT_0) return 1;
    if (r != WAIT_TIMEOUT) return -1;
    return peer && WaitForSingleObject(peer, 0) != WAIT_TIMEOUT ? -1 : 0;
}

}  // namespace

PlatformHelper platformHelperStart(const char* program, size_t areaSize, void** area) {
    static LONG counter = 0;
    char base[96];
    std::snprintf(base, sizeof base, "QvBridge.%lu.%ld", GetCurrentProcessId(), InterlockedIncrement(&counter));
    auto* h = new Helper;
    if (!makeObjects(h, base, true, areaSize)) {
        closeHelper(h);
        return nullptr;
    }
    std::memset(h->view, 0, areaSize);
    char line[1400];
    std::snprintf(line, sizeof line, "\"%s\" %s %llu %lu", program, base, static_cast<unsigned long long>(areaSize),
                  GetCurrentProcessId());
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    if (!CreateProcessA(program, line, nullptr, nullptr, FALSE, CREATE_SUSPENDED | CREATE_NO_WINDOW, nullptr, nullptr,
                        &startup, &process)) {
        closeHelper(h);
        return nullptr;
    }
    if (HANDLE job = helperJob()) AssignProcessToJobObject(job, process.hProcess);
    ResumeThread(process.hThread);
    CloseHandle(process.hThread);
    h->peer = process.hProcess;
    *area = h->view;
    return h;
}

void platformHelperSignal(PlatformHelper helper, int channel) {
    SetEvent(static_cast<Helper*>(helper)->request[channel & 1]);
}

int platformHelperWait(PlatformHelper helper, int channel, uint32_t timeoutUs) {
    auto* h = static_cast<Helper*>(helper);
    return waitWithPeer(h->answer[channel & 1], h->peer, (timeoutUs + 999) / 1000);
}

int platformHelperSignalAndWait(PlatformHelper helper, int channel, uint32_t timeoutUs) {
    auto* h = static_cast<Helper*>(helper);
    return signalAndWait(h->request[channel & 1], h->answer[channel & 1], h->peer, (timeoutUs + 999) / 1000);
}

void platformHelperEnd(PlatformHelper helper) {
    if (!helper) return;
    auto* h = static_cast<Helper*>(helper);
    if (h->peer && WaitForSingleObject(h->peer, 0) == WAIT_TIMEOUT) {
        TerminateProcess(h->peer, 1);
        WaitForSingleObject(h->peer, 2000);
    }
    closeHelper(h);
}

PlatformHelper platformHelperAttach(int argc, char** argv, size_t& areaSize, void** area) {
    if (argc < 4) return nullptr;
    areaSize = static_cast<size_t>(std::strtoull(argv[2], nullptr, 10));
    auto* h = new Helper;
    if (areaSize == 0 || !makeObjects(h, argv[1], false, areaSize)) {
        closeHelper(h);
        return nullptr;
    }
    h->peer = OpenProcess(SYNCHRONIZE, FALSE, static_cast<DWORD>(std::strtoul(argv[3], nullptr, 10)));
    *area = h->view;
    return h;
}

int platformHelperWaitRequest(PlatformHelper helper, int channel, uint32_t timeoutMs, bool messages) {
    auto* h = static_cast<Helper*>(helper);
    if (!messages) return waitWithPeer(h->request[channel & 1], h->peer, timeoutMs);
    HANDLE both[2] = {h->request[channel & 1], h->peer};
    const DWORD count = h->peer ? 2 : 1;
    // Messages already queued (a paint after a command was served) count too.
    const DWORD r = MsgWaitForMultipleObjectsEx(count, both, timeoutMs, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
    if (r == WAIT_OBJECT_0) return 1;
    if (r == WAIT_OBJECT_0 + count) {
        MSG message;
        while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&message);
            DispatchMessageA(&message);
        }
        return 0;
    }
    return r == WAIT_TIMEOUT ? 0 : -1;
}

void platformHelperAnswer(PlatformHelper helper, int channel) { SetEvent(static_cast<Helper*>(helper)->answer[channel & 1]); }

int platformHelperAnswerAndWait(PlatformHelper helper, int channel, uint32_t timeoutMs) {
    auto* h = static_cast<Helper*>(helper);
    return signalAndWait(h->answer[channel & 1], h->request[channel & 1], h->peer, timeoutMs);
}

bool platformGuardPages(void* address, size_t size) {
    DWORD old = 0;
    return VirtualProtect(address, size, PAGE_NOACCESS, &old) != 0;
}

void platformAudioThreadPriority() { SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_TIME_CRITICAL); }
uint64_t platformThreadId() { return GetCurrentThreadId(); }

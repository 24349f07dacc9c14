// The thin seam between the platform-free code and the operating system.
// One implementation per platform; nothing else in the tree includes an OS
// header for these facilities.
#pragma once

#include <cstddef>
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

// The separator that ends the application directory and joins folder names:
// '\\' on Windows, '/' elsewhere.
char platformPathSeparator();

// Calls `visit` for every entry of `directory` (which ends with the
// separator) in the order the platform's directory search gives them; the
// native build sorts by name, as NTFS does. `visit` returns false to stop.
// Returns false when the directory cannot be searched.
using PlatformVisitFn = bool (*)(void* context, const char* name, bool isDirectory);
bool platformListDirectory(const char* directory, PlatformVisitFn visit, void* context);

// A message box without owner. `flags` are the Windows MB_* values; the
// result is the button pressed (1 = OK). A program that exports
// `qvMessageHook` (a console tool, a test) sees and answers every box
// itself. Otherwise the native build, which has no windows, writes the
// message to standard error and answers OK.
constexpr unsigned kMessageIconError = 0x10;
constexpr unsigned kMessageIconInformation = 0x40;
int platformMessageBox(const char* text, const char* caption, unsigned flags);

// Files for private module copies.
bool platformFileExists(const char* path);
bool platformCopyFile(const char* from, const char* to);
bool platformDeleteFile(const char* path);
// A new, unused path in the temporary folder whose name ends with `suffix`.
bool platformTemporaryPath(const char* suffix, char* out, size_t size);

// Sound files: the multimedia file calls on Windows, plain files elsewhere.
// Reads and writes return the byte count moved (-1 on failure); a seek
// returns the new position from the file's start, or -1.
using PlatformFile = void*;
enum PlatformFileMode { kFileRead, kFileCreate };
PlatformFile platformFileOpen(const char* path, PlatformFileMode mode);
long platformFileRead(PlatformFile file, void* data, long size);
long platformFileWrite(PlatformFile file, const void* data, long size);
long platformFileSeek(PlatformFile file, long offset);
// The file's end as its own handle sees it (the size, also when the path
// no longer leads to it), or -1.
long platformFileSeekEnd(PlatformFile file);
// Hands what the file's buffer holds to the system; true on success.
bool platformFileFlush(PlatformFile file);
void platformFileClose(PlatformFile file);
// The size of the file at `path` in bytes, or -1 when it cannot be opened.
int64_t platformFileSize(const char* path);

// A file's size and last-write time (any monotonic unit the platform
// keeps), to tell a changed file from the one seen before; false when the
// file cannot be found.
bool platformFileStamp(const char* path, int64_t& size, int64_t& time);
// True for an existing folder.
bool platformIsDirectory(const char* path);
// An environment variable of the process; false when it is not set or does
// not fit `size` with its terminator.
bool platformEnvironment(const char* name, char* out, size_t size);

// Runs `program` with `arguments` (each one argument, no shell), waits at
// most `timeoutMs` for it, and keeps up to `size` - 1 bytes of what it
// writes to its standard output in `out` (terminated). Returns its exit
// code; -1 when it could not be started, -2 when it was ended for taking
// too long. A crash ends it with a non-zero code. No window is shown.
constexpr int kRunNotStarted = -1;
constexpr int kRunTimedOut = -2;
int platformRunProgram(const char* program, const char* const* arguments, int argumentCount, uint32_t timeoutMs,
                       char* out, size_t size);
// For a helper program that runs third-party code: a crash ends the process
// at once with a non-zero code, never with a debugger's or an error dialog.
void platformEndOnCrash();
// Helper processes that host plug-ins outside the program. The program
// starts one with a shared area of `areaSize` bytes (zeroed, mapped in
// both) and two channels, each a wake-up per direction. A helper ends with
// the program, even a program that is killed. Null when it cannot start.
using PlatformHelper = void*;
PlatformHelper platformHelperStart(const char* program, size_t areaSize, void** area);
// Wakes the helper on `channel` (0 or 1). Real-time safe.
void platformHelperSignal(PlatformHelper helper, int channel);
// Waits at most `timeoutUs` for the helper's wake-up on `channel`: 1 woken,
// 0 timed out, -1 the helper has ended. Real-time safe (it waits, nothing else).
int platformHelperWait(PlatformHelper helper, int channel, uint32_t timeoutUs);
// platformHelperSignal and platformHelperWait as one step: one trip through
// the kernel where the platform has it. A time-out also tells whether the
// helper has ended (-1). Real-time safe.
int platformHelperSignalAndWait(PlatformHelper helper, int channel, uint32_t timeoutUs);
// Ends the helper if it still runs and releases everything; null is ignored.
void platformHelperEnd(PlatformHelper helper);
// The helper's side: the area and channels the program made, from the
// helper's command line; null when they do not exist.
PlatformHelper platformHelperAttach(int argc, char** argv, size_t& areaSize, void** area);
// Waits at most `timeoutMs` for the program on `channel`: 1 woken, 0 timed
// out (or window messages came and were dispatched, with `messages`), -1
// the program has ended.
int platformHelperWaitRequest(PlatformHelper helper, int channel, uint32_t timeoutMs, bool messages);
void platformHelperAnswer(PlatformHelper helper, int channel);
// platformHelperAnswer and platformHelperWaitRequest (without messages) as one step.
int platformHelperAnswerAndWait(PlatformHelper helper, int channel, uint32_t timeoutMs);
// Makes `size` bytes at `address` (whole pages) unusable: any access ends the process.
bool platformGuardPages(void* address, size_t size);
// Raises the calling thread to the priority of audio processing.
void platformAudioThreadPriority();
// The calling thread's id in the system; asks nothing of the threads
// library (no allocation), so the audio thread may call it too.
uint64_t platformThreadId();
// The folder of the module (program or library) that holds `address`,
// ending with the separator.
bool platformModuleDirectory(const void* address, char* out, size_t size);

// The folder of the running program, ending with the separator.
bool platformExecutableDirectory(char* out, size_t size);

// The program's per-user string settings: values under the current user's
// key "SOFTWARE\Quorvane Software\Quorvane Live\1" on Windows; the native
// build, which has no registry, reads the environment variable
// "QUORVANE_<NAME>" (the name in upper case) instead. A read fails for a
// missing value, one of another type, or one that does not fit `size` with
// its terminator. Writing a null value deletes it.
bool platformReadSetting(const char* name, char* out, size_t size);
bool platformWriteSetting(const char* name, const char* value);

#include <dirent.h>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <errno.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/wait.h>
#include <dlfcn.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "platform/platform.h"

bool platformReadCounter(uint64_t& value) {
    timespec now;
    if (clock_gettime(CLOCK_MONOTONIC, &now) != 0) return false;
    value = static_cast<uint64_t>(now.tv_sec) * 1000000000u + static_cast<uint64_t>(now.tv_nsec);
    return true;
}

uint64_t platformCounterFrequency() { return 1000000000u; }

PlatformModule platformLoadModule(const char* path) { return dlopen(path, RTLD_NOW | RTLD_LOCAL); }

void* platformFindSymbol(PlatformModule module, const char* name) { return module ? dlsym(module, name) : nullptr; }

void platformUnloadModule(PlatformModule module) {
    if (module) dlclose(module);
}

const char* platformModuleSuffix() { return ".so"; }

char platformPathSeparator() { return '/'; }

bool platformListDirectory(const char* directory, PlatformVisitFn visit, void* context) {
    DIR* dir = opendir(directory);
    if (!dir) return false;
    std::vector<std::pair<std::string, bool>> entries;
    while (dirent* entry = readdir(dir)) {
        std::string path = std::string(directory) + entry->d_name;
        struct stat info;
        bool isDirectory = stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
        entries.emplace_back(entry->d_name, isDirectory);
    }
    closedir(dir);
    std::sort(entries.begin(), entries.end());
    for (const auto& [name, isDirectory] : entries)
        if (!visit(context, name.c_str(), isDirectory)) break;
    return true;
}

// A test or console program defines this to see and answer message boxes.
using MessageHookFn = int (*)(const char* text, const char* caption, unsigned flags);

int platformMessageBox(const char* text, const char* caption, unsigned flags) {
    auto hook = reinterpret_cast<MessageHookFn>(dlsym(RTLD_DEFAULT, "qvMessageHook"));
    if (hook) return hook(text, caption, flags);
    std::fprintf(stderr, "%s: %s\n", caption, text);
    return 1;
}

bool platformFileStamp(const char* path, int64_t& size, int64_t& time) {
    struct stat info;
    if (stat(path, &info) != 0 || !S_ISREG(info.st_mode)) return false;
    size = static_cast<int64_t>(info.st_size);
    time = static_cast<int64_t>(info.st_mtim.tv_sec) * 1000000000 + info.st_mtim.tv_nsec;
    return true;
}

bool platformIsDirectory(const char* path) {
    struct stat info;
    return stat(path, &info) == 0 && S_ISDIR(info.st_mode);
}

bool platformEnvironment(const char* name, char* out, size_t size) {
    const char* value = name ? std::getenv(name) : nullptr;
    if (!value || !out || std::strlen(value) >= size) return false;
    std::strcpy(out, value);
    return true;
}

bool platformFileExists(const char* path) {
    struct stat info;
    return stat(path, &info) == 0 && S_ISREG(info.st_mode);
}

bool platformCopyFile(const char* from, const char* to) {
    FILE* in = std::fopen(from, "rb");
    if (!in) return false;
    FILE* out = std::fopen(to, "wb");
    if (!out) {
        std::fclose(in);
        return false;
    }
    char buffer[65536];
    bool ok = true;
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, in)) > 0)
        if (std::fwrite(buffer, 1, n, out) != n) ok = false;
    if (std::ferror(in)) ok = false;
    std::fclose(in);
    if (std::fclose(out) != 0) ok = false;
    if (!ok) std::remove(to);
    return ok;
}

bool platformDeleteFile(const char* path) { return std::remove(path) == 0; }

bool platformTemporaryPath(const char* suffix, char* out, size_t size) {
    static std::atomic<unsigned> counter{0};
    const char* folder = std::getenv("TMPDIR");
    if (!folder || !*folder) folder = "/tmp";
    for (int attempt = 0; attempt < 100; ++attempt) {
        unsigned n = ++counter;
        int written = std::snprintf(out, size, "%s/qv%d_%u%s", folder, static_cast<int>(getpid()), n, suffix);
        if (written < 0 || static_cast<size_t>(written) >= size) return false;
        struct stat info;
        if (stat(out, &info) != 0) return true;
    }
    return false;
}

PlatformFile platformFileOpen(const char* path, PlatformFileMode mode) {
    return std::fopen(path, mode == kFileRead ? "rb" : "wb");
}

long platformFileRead(PlatformFile file, void* data, long size) {
    if (!file || size < 0) return -1;
    size_t n = std::fread(data, 1, static_cast<size_t>(size), static_cast<FILE*>(file));
    return std::ferror(static_cast<FILE*>(file)) ? -1 : static_cast<long>(n);
}

long platformFileWrite(PlatformFile file, const void* data, long size) {
    if (!file || size < 0) return -1;
    return static_cast<long>(std::fwrite(data, 1, static_cast<size_t>(size), static_cast<FILE*>(file)));
}

long platformFileSeek(PlatformFile file, long offset) {
    if (!file || std::fseek(static_cast<FILE*>(file), offset, SEEK_SET) != 0) return -1;
    return std::ftell(static_cast<FILE*>(file));
}

long platformFileSeekEnd(PlatformFile file) {
    if (!file || std::fseek(static_cast<FILE*>(file), 0, SEEK_END) != 0) return -1;
    return std::ftell(static_cast<FILE*>(file));
}

bool platformFileFlush(PlatformFile file) { return file && std::fflush(static_cast<FILE*>(file)) == 0; }

void platformFileClose(PlatformFile file) {
    if (file) std::fclose(static_cast<FILE*>(file));
}

int64_t platformFileSize(const char* path) {
    struct stat info;
    if (stat(path, &info) != 0 || !S_ISREG(info.st_mode)) return -1;
    return static_cast<int64_t>(info.st_size);
}

int platformRunProgram(const char* program, const char* const* arguments, int argumentCount, uint32_t timeoutMs,
                       char* out, size_t size) {
    if (!out || size == 0 || argumentCount < 0 || argumentCount > 30) return kRunNotStarted;
    out[0] = '\0';
    int pipeEnds[2];
    if (pipe(pipeEnds) != 0) return kRunNotStarted;
    const char* argv[32];
    argv[0] = program;
    for (int i = 0; i < argumentCount; ++i) argv[i + 1] = arguments[i];
    argv[argumentCount + 1] = nullptr;
    const pid_t child = fork();
    if (child < 0) {
        close(pipeEnds[0]);
        close(pipeEnds[1]);
        return kRunNotStarted;
    }
    if (child == 0) {
        dup2(pipeEnds[1], 1);
        close(pipeEnds[0]);
        close(pipeEnds[1]);
        execv(program, const_cast<char* const*>(argv));
        _exit(127);
    }
    close(pipeEnds[1]);
    size_t used = 0;
    bool timedOut = false;
    timespec start;
    clock_gettime(CLOCK_MONOTONIC, &start);
    for (;;) {
        timespec now;
        clock_gettime(CLOCK_MONOTONIC, &now);
        const int64_t elapsed = (now.tv_sec - start.tv_sec) * 1000 + (now.tv_nsec - start.tv_nsec) / 1000000;
        if (elapsed >= static_cast<int64_t>(timeoutMs)) {
            timedOut = true;
            break;
        }
        pollfd p{pipeEnds[0], POLLIN, 0};
        const int ready = poll(&p, 1, static_cast<int>(timeoutMs - elapsed));
        if (ready < 0 && errno == EINTR) continue;
        if (ready <= 0) continue;
        char chunk[4096];
        const ssize_t got = read(pipeEnds[0], chunk, sizeof chunk);
        if (got <= 0) break;  // the child closed its output (ended)
        const size_t keep = used + static_cast<size_t>(got) < size ? static_cast<size_t>(got) : size - 1 - used;
        std::memcpy(out + used, chunk, keep);
        used += keep;
    }
    close(pipeEnds[0]);
    out[used] = '\0';
    if (timedOut) kill(child, SIGKILL);
    int status = 0;
    while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    if (timedOut) return kRunTimedOut;
    if (WIFEXITED(status)) return WEXITSTATUS(status) == 127 ? kRunNotStarted : WEXITSTATUS(status);
    return 128 + (WIFSIGNALED(status) ? WTERMSIG(status) : 0);
}

void platformEndOnCrash() {}

bool platformModuleDirectory(const void* address, char* out, size_t size) {
    Dl_info info;
    if (!dladdr(address, &info) || !info.dli_fname) return false;
    const char* slash = std::strrchr(info.dli_fname, '/');
    if (!slash) return false;
    const int n = std::snprintf(out, size, "%.*s/", static_cast<int>(slash - info.dli_fname), info.dli_fname);
    return n > 0 && static_cast<size_t>(n) < size;
}

bool platformExecutableDirectory(char* out, size_t size) {
    char path[4096];
    ssize_t length = readlink("/proc/self/exe", path, sizeof path - 1);
    if (length <= 0) return false;
    path[length] = '\0';
    char* slash = std::strrchr(path, '/');
    if (!slash) return false;
    slash[1] = '\0';
    return std::snprintf(out, size, "%s", path) < static_cast<int>(size);
}

namespace {
bool settingVariable(const char* name, char* out, size_t size) {
    int written = std::snprintf(out, size, "QUORVANE_%s", name);
    if (written < 0 || static_cast<size_t>(written) >= size) return false;
    for (char* c = out; *c; ++c) *c = static_cast<char>(std::toupper(static_cast<unsigned char>(*c)));
    return true;
}
}  // namespace

bool platformReadSetting(const char* name, char* out, size_t size) {
    char variable[128];
    if (!out || size == 0 || !settingVariable(name, variable, sizeof variable)) return false;
    const char* value = std::getenv(variable);
    if (!value || std::strlen(value) >= size) return false;
    std::strcpy(out, value);
    return true;
}

bool platformWriteSetting(const char* name, const char* value) {
    char variable[128];
    if (!settingVariable(name, variable, sizeof variable)) return false;
    return (value ? setenv(variable, value, 1) : unsetenv(variable)) == 0;
}

// ---- helper processes -----------------------------------------------------------------
// The area is an unlinked temporary file mapped in both processes; each
// wake-up is a byte through a pipe. A process that ends closes its pipe
// ends, which the other side sees as a hang-up.

namespace {

struct Helper {
    void* view = nullptr;
    size_t size = 0;
    int wakeOut[2] = {-1, -1};  // this side writes
    int wakeIn[2] = {-1, -1};   // this side reads
    pid_t pid = 0;              // the helper (program side)
};

void closeHelper(Helper* h) {
    if (h->view) munmap(h->view, h->size);
    for (int fd : {h->wakeOut[0], h->wakeOut[1], h->wakeIn[0], h->wakeIn[1]})
        if (fd >= 0) close(fd);
    delete h;
}

int waitByte(int fd, int64_t timeoutUs) {
    pollfd p{fd, POLLIN, 0};
    const timespec limit{static_cast<time_t>(timeoutUs / 1000000), static_cast<long>(timeoutUs % 1000000) * 1000};
    const int r = ppoll(&p, 1, &limit, nullptr);
    if (r == 0) return 0;
    if (r < 0) return errno == EINTR ? 0 : -1;
    char drain[64];
    const ssize_t n = read(fd, drain, sizeof drain);
    return n > 0 ? 1 : (n < 0 && errno == EAGAIN ? 0 : -1);
}

void wake(int fd) {
    const char one = 1;
    [[maybe_unused]] ssize_t n = write(fd, &one, 1);
}

}  // namespace

PlatformHelper platformHelperStart(const char* program, size_t areaSize, void** area) {
    signal(SIGPIPE, SIG_IGN);  // a helper that ended must not end the program
    char path[] = "/tmp/qvbridge-XXXXXX";
    const int file = mkstemp(path);
    if (file < 0) return nullptr;
    unlink(path);
    auto* h = new Helper;
    h->size = areaSize;
    int toHelper[2][2], fromHelper[2][2];
    bool ok = ftruncate(file, static_cast<off_t>(areaSize)) == 0;
    for (int c = 0; c < 2 && ok; ++c) ok = pipe(toHelper[c]) == 0 && pipe(fromHelper[c]) == 0;
    if (ok) h->view = mmap(nullptr, areaSize, PROT_READ | PROT_WRITE, MAP_SHARED, file, 0);
    if (!ok || h->view == MAP_FAILED) {
        h->view = nullptr;
        close(file);
        closeHelper(h);
        return nullptr;
    }
    char fds[96], size[32], parent[32];
    std::snprintf(fds, sizeof fds, "%d,%d,%d,%d,%d", file, toHelper[0][0], toHelper[1][0], fromHelper[0][1],
                  fromHelper[1][1]);
    std::snprintf(size, sizeof size, "%zu", areaSize);
    std::snprintf(parent, sizeof parent, "%d", static_cast<int>(getpid()));
    const pid_t pid = fork();
    if (pid == 0) {
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        for (int c = 0; c < 2; ++c) close(toHelper[c][1]), close(fromHelper[c][0]);
        execl(program, program, fds, size, parent, static_cast<char*>(nullptr));
        _exit(127);
    }
    close(file);
    for (int c = 0; c < 2; ++c) {
        close(toHelper[c][0]);
        close(fromHelper[c][1]);
        h->wakeOut[c] = toHelper[c][1];
        h->wakeIn[c] = fromHelper[c][0];
        fcntl(h->wakeOut[c], F_SETFL, O_NONBLOCK);
        fcntl(h->wakeIn[c], F_SETFL, O_NONBLOCK);
        fcntl(h->wakeOut[c], F_SETFD, FD_CLOEXEC);
        fcntl(h->wakeIn[c], F_SETFD, FD_CLOEXEC);
    }
    if (pid < 0) {
        closeHelper(h);
        return nullptr;
    }
    h->pid = pid;
    *area = h->view;
    return h;
}

void platformHelperSignal(PlatformHelper helper, int channel) { wake(static_cast<Helper*>(helper)->wakeOut[channel & 1]); }

int platformHelperWait(PlatformHelper helper, int channel, uint32_t timeoutUs) {
    return waitByte(static_cast<Helper*>(helper)->wakeIn[channel & 1], timeoutUs);
}

int platformHelperSignalAndWait(PlatformHelper helper, int channel, uint32_t timeoutUs) {
    platformHelperSignal(helper, channel);
    return platformHelperWait(helper, channel, timeoutUs);
}

void platformHelperEnd(PlatformHelper helper) {
    if (!helper) return;
    auto* h = static_cast<Helper*>(helper);
    if (h->pid > 0) {
        int status = 0;
        if (waitpid(h->pid, &status, WNOHANG) == 0) {
            kill(h->pid, SIGKILL);
            waitpid(h->pid, &status, 0);
        }
    }
    closeHelper(h);
}

PlatformHelper platformHelperAttach(int argc, char** argv, size_t& areaSize, void** area) {
    int fds[5];
    if (argc < 4 || std::sscanf(argv[1], "%d,%d,%d,%d,%d", &fds[0], &fds[1], &fds[2], &fds[3], &fds[4]) != 5)
        return nullptr;
    areaSize = static_cast<size_t>(std::strtoull(argv[2], nullptr, 10));
    auto* h = new Helper;
    h->size = areaSize;
    h->wakeIn[0] = fds[1], h->wakeIn[1] = fds[2], h->wakeOut[0] = fds[3], h->wakeOut[1] = fds[4];
    for (int c = 0; c < 2; ++c) fcntl(h->wakeIn[c], F_SETFL, O_NONBLOCK), fcntl(h->wakeOut[c], F_SETFL, O_NONBLOCK);
    void* view = areaSize ? mmap(nullptr, areaSize, PROT_READ | PROT_WRITE, MAP_SHARED, fds[0], 0) : MAP_FAILED;
    close(fds[0]);
    if (view == MAP_FAILED) {
        closeHelper(h);
        return nullptr;
    }
    h->view = view;
    *area = view;
    return h;
}

int platformHelperWaitRequest(PlatformHelper helper, int channel, uint32_t timeoutMs, bool) {
    return waitByte(static_cast<Helper*>(helper)->wakeIn[channel & 1], static_cast<int64_t>(timeoutMs) * 1000);
}

void platformHelperAnswer(PlatformHelper helper, int channel) { wake(static_cast<Helper*>(helper)->wakeOut[channel & 1]); }

int platformHelperAnswerAndWait(PlatformHelper helper, int channel, uint32_t timeoutMs) {
    platformHelperAnswer(helper, channel);
    return platformHelperWaitRequest(helper, channel, timeoutMs, false);
}

bool platformGuardPages(void* address, size_t size) { return mprotect(address, size, PROT_NONE) == 0; }

void platformAudioThreadPriority() {}
uint64_t platformThreadId() { return static_cast<uint64_t>(pthread_self()); }

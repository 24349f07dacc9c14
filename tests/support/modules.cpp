#include "tests/support/modules.h"

#include <gtest/gtest.h>

#include "platform/platform.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <limits.h>
#include <unistd.h>
#endif

static std::string executableDirectory() {
#if defined(_WIN32)
    char path[MAX_PATH];
    DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string text(path, length);
    return text.substr(0, text.find_last_of("\\/"));
#else
    char path[PATH_MAX];
    ssize_t length = readlink("/proc/self/exe", path, sizeof path);
    std::string text(path, length > 0 ? static_cast<size_t>(length) : 0);
    return text.substr(0, text.find_last_of('/'));
#endif
}

std::string stagePath(const std::string& relative) {
#if defined(_WIN32)
    const char separator = '\\';
#else
    const char separator = '/';
#endif
    std::string path = executableDirectory() + separator + ".." + separator + "stage" + separator + relative;
    for (char& c : path)
        if (c == '/' || c == '\\') c = separator;
    return path;
}

const StreamConverter& streamConverter() {
    static StreamConverter converter = [] {
        StreamConverter c;
        std::string path = stagePath(std::string("streamconv") + platformModuleSuffix());
        PlatformModule module = platformLoadModule(path.c_str());
        if (!module) return c;
        c.process = reinterpret_cast<ProcessStreamFn>(platformFindSymbol(module, "processStream"));
        c.processMsb = reinterpret_cast<ProcessStreamFn>(platformFindSymbol(module, "processStreamMSB"));
        c.setHistory = reinterpret_cast<SetStreamHistoryFn>(platformFindSymbol(module, "setStreamHistory"));
        return c;
    }();
    return converter;
}

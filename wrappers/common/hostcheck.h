// WD_OPEN's part every wrapper shares: ask the host for its version, then
// its name, keep the application directory, and refuse any other host
// version with an information box under the wrapper's own caption.
#pragma once

#include <cstdio>
#include <cstring>

#include "host/wrapperprotocol.h"
#include "platform/platform.h"

inline intptr_t openForHost(HostCallbackFn host, const char* directory, char* applicationDirectory, size_t size,
                            const char* caption) {
    uint16_t version = 0;
    const char* hostName = nullptr;
    if (host) {
        host(HC_GET_HOST_VERSION, reinterpret_cast<intptr_t>(&version), 0);
        host(HC_GET_HOST_NAME, reinterpret_cast<intptr_t>(&hostName), 0);
    }
    if (!directory || std::strlen(directory) >= size) return 0;
    std::strcpy(applicationDirectory, directory);
    if (version != kHostVersion) {
        char text[128];
        std::snprintf(text, sizeof text, "Wrapper will work with %s v%g only!", kHostName, kHostVersion / 100.0);
        platformMessageBox(text, caption, kMessageIconInformation);
        return 0;
    }
    return 1;
}

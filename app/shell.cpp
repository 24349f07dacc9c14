#include "app/shell.h"

#include <cstdio>
#include <cstring>

#include "app/report.h"

ReportBox describeReport(int32_t code, MessageLookupFn lookup) {
    ReportBox box;
    if (code == 0) return box;
    box.show = true;
    const int32_t mapped = reportedMessage(code);
    const char* text = nullptr;
    // Ids are unsigned 16-bit; anything else (a COM result, say) has no text.
    if (mapped >= -0xFFFF && mapped <= 0xFFFF && lookup) text = lookup(mapped < 0 ? -mapped : mapped);
    if (!text || !*text) {
        box.id = mapped;
        box.icon = kBoxStopIcon;
        std::snprintf(box.caption, sizeof box.caption, "Error #%d", mapped);
        std::snprintf(box.text, sizeof box.text, "%s", "Unknown error");
        return box;
    }
    if (mapped > 0) {
        box.id = mapped;
        box.icon = kBoxStopIcon;
        std::snprintf(box.caption, sizeof box.caption, "Error #%d", mapped);
    } else {
        box.id = -mapped;
        box.icon = kBoxInformationIcon;
        std::snprintf(box.caption, sizeof box.caption, "%s", kProductName);
    }
    std::snprintf(box.text, sizeof box.text, "%s", text);
    return box;
}

void formatFrameTitle(const char* fileTitle, const char* path, char* out, size_t size) {
    if (!out || size == 0) return;
    const char* name = fileTitle && *fileTitle ? fileTitle : nullptr;
    if (!name && path && *path) {
        name = path;
        for (const char* p = path; *p; ++p)
            if (*p == '\\' || *p == '/') name = p + 1;
        if (!*name) name = nullptr;
    }
    if (!name) {
        std::snprintf(out, size, "%s %.2f", kProductName, kProductVersion);
        return;
    }
    // The display title holds at most 100 bytes.
    char cut[101];
    std::snprintf(cut, sizeof cut, "%s", name);
    if (char* dot = std::strrchr(cut, '.')) *dot = '\0';
    std::snprintf(out, size, "%s %.2f (%s)", kProductName, kProductVersion, cut);
}

int32_t commandLinePath(const char* commandLine, char* out, size_t size) {
    constexpr int32_t kTooLong = 204;  // "Can't create file. Disk error"
    if (!out || size == 0) return kTooLong;
    out[0] = '\0';
    if (!commandLine) return 0;
    const char* p = commandLine;
    while (*p == '"' || *p == ' ') ++p;
    size_t length = 0;
    while (p[length] && p[length] != '"') ++length;
    if (length > kCommandLinePathMax || length + 1 > size) return kTooLong;
    std::memcpy(out, p, length);
    out[length] = '\0';
    return 0;
}

int32_t vstDirectoryToStore(const char* chosen, char* out, size_t size) {
    constexpr int32_t kNotValid = 252;
    constexpr size_t kWrapperRead = 260;  // bytes, terminator included
    if (!chosen || !*chosen || !out || size == 0) return kNotValid;
    const size_t length = std::strlen(chosen);
    const bool hasSeparator = chosen[length - 1] == '\\';
    const size_t stored = length + (hasSeparator ? 0 : 1);
    if (stored + 1 > kWrapperRead || stored + 1 > size) return kNotValid;
    std::snprintf(out, size, hasSeparator ? "%s" : "%s\\", chosen);
    return 0;
}

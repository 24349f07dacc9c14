// Discovery and creation of ASIO drivers: the registry and COM.
#include <windows.h>
#include <objbase.h>

#include <cctype>
#include <cstdio>
#include <cstring>

#include "devices/asioloader.h"

namespace {

// A string value of at most `size` bytes with its terminator; false when
// missing, of another type or too long.
bool readString(HKEY key, const char* name, char* out, DWORD size) {
    DWORD type = 0;
    DWORD bytes = size;
    if (RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(out), &bytes) != ERROR_SUCCESS ||
        (type != REG_SZ && type != REG_EXPAND_SZ))
        return false;
    if (bytes > 0 && out[bytes - 1] == '\0') return true;
    if (bytes >= size) return false;
    out[bytes] = '\0';
    return true;
}

// The class is registered when its in-process server names a file that
// exists.
bool classRegistered(const char* classId) {
    char lower[300];
    std::snprintf(lower, sizeof lower, "clsid\\%s", classId);
    for (char* c = lower; *c; ++c) *c = static_cast<char>(std::tolower(static_cast<unsigned char>(*c)));
    HKEY classKey;
    if (RegOpenKeyExA(HKEY_CLASSES_ROOT, lower, 0, KEY_READ, &classKey) != ERROR_SUCCESS) return false;
    HKEY server;
    bool found = false;
    if (RegOpenKeyExA(classKey, "InprocServer32", 0, KEY_READ, &server) == ERROR_SUCCESS) {
        char path[512];
        OFSTRUCT info{};
        found = readString(server, nullptr, path, sizeof path) && path[0] &&
                OpenFile(path, &info, OF_EXIST) != HFILE_ERROR;
        RegCloseKey(server);
    }
    RegCloseKey(classKey);
    return found;
}

}  // namespace

void asioPlatformDiscover(AsioDriverList& list) {
    HKEY asio;
    if (RegOpenKeyA(HKEY_LOCAL_MACHINE, "software\\asio", &asio) != ERROR_SUCCESS) return;
    char keyName[128];
    for (DWORD index = 0; RegEnumKeyA(asio, index, keyName, sizeof keyName) == ERROR_SUCCESS; ++index) {
        HKEY driverKey;
        if (RegOpenKeyExA(asio, keyName, 0, KEY_READ, &driverKey) != ERROR_SUCCESS) continue;
        char classId[256];
        char description[256];
        const bool haveClass = readString(driverKey, "clsid", classId, sizeof classId);
        const bool haveName = haveClass && readString(driverKey, "description", description, sizeof description);
        RegCloseKey(driverKey);
        if (!haveClass || !classRegistered(classId)) continue;
        wchar_t wide[100];
        GUID parsed{};
        if (MultiByteToWideChar(CP_ACP, 0, classId, -1, wide, 100) == 0 || CLSIDFromString(wide, &parsed) != NOERROR)
            parsed = GUID{};
        asioListAppend(list, parsed, haveName ? description : keyName);
    }
    RegCloseKey(asio);
}

int32_t asioPlatformCreate(const AsioGuid& classId, AsioDriver** out) {
    return static_cast<int32_t>(
        CoCreateInstance(classId, nullptr, CLSCTX_INPROC_SERVER, classId, reinterpret_cast<void**>(out)));
}

void asioPlatformComStart() { CoInitialize(nullptr); }
void asioPlatformComEnd() { CoUninitialize(); }

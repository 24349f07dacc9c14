// The installed ASIO drivers: a list discovered in the registry, addressed by
// position, and a loader that keeps one of them open as the current driver.
// UI thread only.
#pragma once

#include <cstdint>

#include "devices/asioabi.h"

// Results of the list operations beside 0 and the COM results of creation.
constexpr int32_t kAsioInvalidParameter = -5001;
constexpr int32_t kAsioDeviceAlreadyOpen = -5002;
constexpr int32_t kAsioDeviceNotFound = -5003;

constexpr int kAsioNameSize = 128;
constexpr int kAsioShortName = 32;  // every caller asks for names of this size

struct AsioDriverRecord {
    int32_t id;
    AsioGuid classId;  // zero when the registry's text did not parse
    char dllPath[512];  // reserved, empty
    char name[kAsioNameSize];
    AsioDriver* driver;  // null while not open
    AsioDriverRecord* next;
};

// Creates a driver object of a class (COM on Windows). Returns 0 or a
// negative COM result.
using AsioCreateFn = int32_t (*)(const AsioGuid& classId, AsioDriver** out);

struct AsioDriverList {
    AsioDriverRecord* head = nullptr;
    int32_t count = 0;
    bool comStarted = false;
    AsioCreateFn create = nullptr;  // null: the platform's creation
};

struct AsioLoader {
    AsioDriverList list;
    int32_t current = -1;
};

// The two lists of the program: driver names for the settings dialog, and
// the loader that opens the chosen driver.
extern AsioDriverList gAsioNames;
extern AsioLoader gAsioLoader;

// Discovers the drivers (the registry on Windows; nothing elsewhere) and
// starts COM when there is at least one.
void asioListBuild(AsioDriverList& list);
// Releases every open driver, frees the records, ends COM if it was started.
void asioListDestroy(AsioDriverList& list);
// Appends a record (the discovery's last step; tests add drivers this way).
bool asioListAppend(AsioDriverList& list, const AsioGuid& classId, const char* name);

int32_t asioGetNumDev(const AsioDriverList& list);
int32_t asioOpenDriver(AsioDriverList& list, int32_t id, AsioDriver** out);
int32_t asioCloseDriver(AsioDriverList& list, int32_t id);
// The name shortened to `size` - 1 characters with "..." when it is longer.
int32_t asioGetDriverName(const AsioDriverList& list, int32_t id, char* buffer, int32_t size);

// Closes the current driver and opens the one named `name` (the first with
// that name); on failure the previous driver is reopened if possible.
// Also sets the host layer's current driver.
bool asioLoadDriver(AsioLoader& loader, const char* name);
void asioRemoveCurrentDriver(AsioLoader& loader);
bool asioGetCurrentDriverName(const AsioLoader& loader, char* buffer);
int32_t asioCurrentIndex(const AsioLoader& loader);

// Platform pieces (asio_platform_win32.cpp; empty elsewhere).
void asioPlatformDiscover(AsioDriverList& list);
int32_t asioPlatformCreate(const AsioGuid& classId, AsioDriver** out);
void asioPlatformComStart();
void asioPlatformComEnd();

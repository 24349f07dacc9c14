#include "devices/asioloader.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "devices/asiohost.h"

AsioDriverList gAsioNames;
AsioLoader gAsioLoader;

namespace {

AsioDriverRecord* findRecord(const AsioDriverList& list, int32_t id) {
    for (AsioDriverRecord* r = list.head; r; r = r->next)
        if (r->id == id) return r;
    return nullptr;
}

}  // namespace

bool asioListAppend(AsioDriverList& list, const AsioGuid& classId, const char* name) {
    auto* record = static_cast<AsioDriverRecord*>(std::calloc(1, sizeof(AsioDriverRecord)));
    if (!record) return false;
    record->classId = classId;
    std::snprintf(record->name, sizeof record->name, "%s", name ? name : "");
    AsioDriverRecord** tail = &list.head;
    int32_t id = 0;
    while (*tail) {
        tail = &(*tail)->next;
        ++id;
    }
    record->id = id;
    *tail = record;
    list.count = id + 1;
    return true;
}

void asioListBuild(AsioDriverList& list) {
    asioPlatformDiscover(list);
    if (list.count > 0) {
        asioPlatformComStart();
        list.comStarted = true;
    }
}

void asioListDestroy(AsioDriverList& list) {
    if (list.count == 0) return;
    while (AsioDriverRecord* r = list.head) {
        if (r->driver) r->driver->Release();
        list.head = r->next;
        std::free(r);
    }
    list.count = 0;
    if (list.comStarted) asioPlatformComEnd();
    list.comStarted = false;
}

int32_t asioGetNumDev(const AsioDriverList& list) { return list.count; }

int32_t asioOpenDriver(AsioDriverList& list, int32_t id, AsioDriver** out) {
    if (!out) return kAsioInvalidParameter;
    AsioDriverRecord* r = findRecord(list, id);
    if (!r) return kAsioDeviceNotFound;
    if (r->driver) return kAsioDeviceAlreadyOpen;
    *out = nullptr;
    const int32_t result = (list.create ? list.create : asioPlatformCreate)(r->classId, out);
    if (result != 0 || !*out) {
        *out = nullptr;
        return result != 0 ? result : kAsioDeviceNotFound;
    }
    r->driver = *out;
    return 0;
}

int32_t asioCloseDriver(AsioDriverList& list, int32_t id) {
    AsioDriverRecord* r = findRecord(list, id);
    if (r && r->driver) {
        r->driver->Release();
        r->driver = nullptr;
    }
    return 0;
}

int32_t asioGetDriverName(const AsioDriverList& list, int32_t id, char* buffer, int32_t size) {
    if (!buffer) return kAsioInvalidParameter;
    const AsioDriverRecord* r = findRecord(list, id);
    if (!r) {
        if (size > 0) buffer[0] = '\0';
        return kAsioDeviceNotFound;
    }
    if (size <= 0) return kAsioInvalidParameter;
    const size_t length = std::strlen(r->name);
    if (size >= 4 && length >= static_cast<size_t>(size)) {
        std::memcpy(buffer, r->name, static_cast<size_t>(size - 4));
        std::memcpy(buffer + size - 4, "...", 4);
    } else {
        std::snprintf(buffer, static_cast<size_t>(size), "%s", r->name);
    }
    return 0;
}

bool asioLoadDriver(AsioLoader& loader, const char* name) {
    if (!name) return false;
    for (int32_t id = 0; id < loader.list.count; ++id) {
        char candidate[kAsioShortName];
        if (asioGetDriverName(loader.list, id, candidate, kAsioShortName) != 0 || std::strcmp(candidate, name) != 0)
            continue;
        char previous[kAsioShortName] = "";
        asioGetCurrentDriverName(loader, previous);
        asioRemoveCurrentDriver(loader);
        AsioDriver* driver = nullptr;
        if (asioOpenDriver(loader.list, id, &driver) == 0) {
            loader.current = id;
            gAsioHost.driver = driver;
            return true;
        }
        gAsioHost.driver = nullptr;
        if (previous[0] && std::strcmp(previous, name) != 0) asioLoadDriver(loader, previous);
        return false;
    }
    return false;
}

void asioRemoveCurrentDriver(AsioLoader& loader) {
    if (loader.current != -1) {
        AsioDriverRecord* r = findRecord(loader.list, loader.current);
        if (r && gAsioHost.driver == r->driver) gAsioHost.driver = nullptr;
        asioCloseDriver(loader.list, loader.current);
    }
    loader.current = -1;
}

bool asioGetCurrentDriverName(const AsioLoader& loader, char* buffer) {
    if (!buffer) return false;
    if (loader.current < 0) {
        buffer[0] = '\0';
        return false;
    }
    return asioGetDriverName(loader.list, loader.current, buffer, kAsioShortName) == 0;
}

int32_t asioCurrentIndex(const AsioLoader& loader) { return loader.current; }

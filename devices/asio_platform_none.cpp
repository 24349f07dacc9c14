// Builds without ASIO: no driver is ever found; tests add their own with
// their own creation function.
#include "devices/asioloader.h"

void asioPlatformDiscover(AsioDriverList&) {}
int32_t asioPlatformCreate(const AsioGuid&, AsioDriver** out) {
    *out = nullptr;
    return kAsioDeviceNotFound;
}
void asioPlatformComStart() {}
void asioPlatformComEnd() {}

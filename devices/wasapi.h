// The WASAPI back-end of live input on Windows: the endpoint lists, the
// chosen endpoints and mode, and the streaming thread that runs the core's
// duplex loop (wasapicore.h) on the platform's audio clients.
//
// Threads: the UI thread enumerates, applies, starts and stops; the
// streaming thread reports only through the engine's status bits; the
// platform's device notifications only set a status bit.
#pragma once

#include <cstddef>
#include <cstdint>

#include "devices/wasapicore.h"
#include "engine/engine.h"

constexpr size_t kWasapiIdSize = 200;    // an endpoint id (as the settings keep it)
constexpr size_t kWasapiNameSize = 128;  // its friendly name

struct WasapiDevice {
    char id[kWasapiIdSize];
    char name[kWasapiNameSize];
};

// The choice: an empty id is "Default device", which follows the system's
// default endpoint of that direction.
struct WasapiSettings {
    uint32_t mode = kWasapiShared;
    char inputId[kWasapiIdSize] = "";
    char outputId[kWasapiIdSize] = "";
};
WasapiSettings& wasapiSettings();
void wasapiSetEngine(EngineState* engine);

// Lists the active endpoints of both directions (replacing the last lists).
int32_t wasapiEnumerate();
int wasapiDeviceCount(bool capture);
const WasapiDevice* wasapiDeviceAt(bool capture, int index);

// Makes WASAPI the system with this choice (checked when live input starts).
void wasapiApply(uint32_t mode, const char* inputId, const char* outputId);

int32_t wasapiStart();
int32_t wasapiStop();
bool wasapiStreaming();
// Whether both directions follow the default endpoints (a lost device then
// restarts live input on the new default).
bool wasapiFollowsDefault();
// The streams of the last start and what the loop counts.
const WasapiStream& wasapiLastStream();
const WasapiCounters& wasapiCounters();
// Ends streaming and the device notifications (at exit).
void wasapiShutdown();

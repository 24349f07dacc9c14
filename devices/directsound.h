// The DirectSound back-end of live input: the device lists, opening the
// chosen playback and capture devices, and the streaming thread that runs
// the engine once per captured block (Windows only).
//
// Threads: the UI thread enumerates, opens, closes, applies, starts and
// stops; the streaming thread runs the loop and reports failures only
// through the engine's status bits.
#pragma once

#include <atomic>
#include <cstdint>

#include "devices/dsgeometry.h"
#include "engine/engine.h"

// Results beside 0 and DirectSound's own codes.
constexpr int32_t kDsNoMemoryPlayback = 121;   // "No memory to scan audio drivers"
constexpr int32_t kDsNoMemoryCapture = 120;
constexpr int32_t kDsNoOutputDriver = 126;     // "Can't find driver in the list"
constexpr int32_t kDsNoInputDriver = 127;
constexpr int32_t kDsEventError = 122;         // "Cant' create switch event"
constexpr int32_t kDsCaptureFormatError = 128;  // "Unknown error"
constexpr int32_t kDsCaptureSizeError = 129;
constexpr int32_t kDsThreadError = 132;        // "Can't create thread"
constexpr int32_t kDsPlaybackFormatError = 133;
constexpr int32_t kDsPlaybackSizeError = 134;
constexpr int32_t kDsNoOutputNotice = -136;    // "You should open an output sound device ..."
constexpr int32_t kDsNoInputNotice = -137;
constexpr int32_t kDsFormatRefused = 237;      // "The DirectX device does not supports selected audio format "

constexpr int kDsDescription = 64;

struct DsDevice {
    void* id;  // the device's GUID (a copy the node owns); null for the default device
    char description[kDsDescription];
    DsDevice* next;
    unsigned char guid[16];
};

// The settings this back-end uses, as the settings store keeps them.
struct DsSettings {
    int32_t outputIndex = -1;
    int32_t inputIndex = -1;
    uint8_t formatIndex = kDefaultAudioFormat;
    uint32_t latencyMs = 40;
    int32_t buffers = 2;
    uint8_t outputDelayMs = 2;
};

struct DsState;
extern DsState* gDs;

// The two device lists, in the platform's order.
const DsDevice* dsPlaybackDevices();
const DsDevice* dsCaptureDevices();
DsSettings& dsSettings();
// The engine the streaming thread drives (the program's by default).
void dsSetEngine(EngineState* engine);

int32_t dsEnumerateDevices();
int32_t dsOpenOutput(int32_t index, void* window);
int32_t dsOpenInput(int32_t index);
int32_t dsCloseOutput();
int32_t dsCloseInput();
int32_t dsTestOutputFormat(int formatIndex);
int32_t dsTestInputFormat(int formatIndex);
int32_t dsApplySettings(int32_t outputIndex, int32_t inputIndex, int formatIndex, uint32_t latencyMs, int32_t buffers,
                        void* window);
// The live-input start and stop of this back-end; the notices for a missing
// device are the live-input command's own checks.
int32_t dsStart();
int32_t dsStop();
bool dsStreaming();
// Frees the device lists (at exit).
void dsFreeDevices();

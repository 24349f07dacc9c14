// The sample stream converter: device and file sample buffers to and from the
// engine's float channel buffers, with linear resampling when the two sides
// hold different frame counts.
//
// The library is loaded by name and its three exports are resolved at
// start-up; the function pointer types below are what callers resolve them to.
#pragma once

#include <cstddef>
#include <cstdint>

#if defined(_WIN32)
#include <windows.h>
#include <mmreg.h>
// The platform's own format record.
using StreamFormat = WAVEFORMATEX;
#else
// The same 18-byte record as the platform's WAVEFORMATEX, for the native build.
#pragma pack(push, 1)
struct StreamFormat {
    uint16_t wFormatTag;
    uint16_t nChannels;
    uint32_t nSamplesPerSec;
    uint32_t nAvgBytesPerSec;
    uint16_t nBlockAlign;
    uint16_t wBitsPerSample;
    uint16_t cbSize;
};
#pragma pack(pop)
#endif

static_assert(sizeof(StreamFormat) == 18, "format record is 18 bytes");
static_assert(offsetof(StreamFormat, wFormatTag) == 0);
static_assert(offsetof(StreamFormat, nChannels) == 2);
static_assert(offsetof(StreamFormat, nSamplesPerSec) == 4);
static_assert(offsetof(StreamFormat, nAvgBytesPerSec) == 8);
static_assert(offsetof(StreamFormat, nBlockAlign) == 12);
static_assert(offsetof(StreamFormat, wBitsPerSample) == 14);
static_assert(offsetof(StreamFormat, cbSize) == 16);

constexpr uint16_t kFormatPcm = 1;
constexpr uint16_t kFormatIeeeFloat = 3;

// History slots the program assigns.
constexpr int32_t kSlotAccompaniment = 0;
constexpr int32_t kSlotRecorder = 1;
constexpr int32_t kSlotOutputDevice = 2;
constexpr int32_t kSlotInputDevice = 3;

#if defined(_WIN32) && !defined(_WIN64)
#define STREAMCONV_CALL __stdcall
#else
#define STREAMCONV_CALL
#endif

using ProcessStreamFn = int32_t(STREAMCONV_CALL*)(const StreamFormat* format, void* deviceData, float* left,
                                                  float* right, uint32_t deviceFrames, uint32_t floatFrames,
                                                  uint32_t toDevice);
using SetStreamHistoryFn = int32_t(STREAMCONV_CALL*)(int32_t slot);

#if defined(STREAMCONV_BUILDING)
#if defined(_WIN32)
#define STREAMCONV_EXPORT extern "C" __declspec(dllexport)
#else
#define STREAMCONV_EXPORT extern "C" __attribute__((visibility("default")))
#endif
#else
#define STREAMCONV_EXPORT extern "C"
#endif

// Makes `slot` (0 to 255, not checked) the history slot of every later call
// and returns it.
STREAMCONV_EXPORT int32_t STREAMCONV_CALL setStreamHistory(int32_t slot);

// Converts one block between `deviceData` (`deviceFrames` frames of the
// format) and the float buffers (`floatFrames` samples each; `right` may be
// null). Only the low byte of `toDevice` counts: non-zero writes the floats
// into the device buffer. Returns 1, or 0 for an unsupported format with
// nothing converted. A null buffer or format, or a zero count, converts
// nothing, clears the current slot's history and returns 1.
STREAMCONV_EXPORT int32_t STREAMCONV_CALL processStream(const StreamFormat* format, void* deviceData, float* left,
                                                        float* right, uint32_t deviceFrames, uint32_t floatFrames,
                                                        uint32_t toDevice);

// The same for big-endian device buffers. A read swaps the caller's buffer in
// place (it is left little-endian); a write converts, then swaps.
STREAMCONV_EXPORT int32_t STREAMCONV_CALL processStreamMSB(const StreamFormat* format, void* deviceData, float* left,
                                                           float* right, uint32_t deviceFrames,
                                                           uint32_t floatFrames, uint32_t toDevice);

// The block geometry of DirectSound streaming, from the settings: platform-
// free so both builds test it.
#pragma once

#include <cstdint>

#include "audiofiles/recorder.h"

constexpr int kAudioFormats = 16;
constexpr uint8_t kDefaultAudioFormat = 5;  // 44100 Hz, 16-bit, stereo
constexpr int32_t kMinBuffers = 2, kMaxBuffers = 64;

// The format record of a format-table entry as the device buffers and the
// converter see it (an extra-size field of 18, as the devices were given).
inline StreamFormat dsFormatRecord(int index) {
    StreamFormat f = recordStreamFormat(index);
    f.cbSize = 18;
    return f;
}

struct DsGeometry {
    uint32_t blockFrames = 0;  // rate x latency / 1000
    uint32_t blockBytes = 0;
    uint32_t ringBytes = 0;    // buffers x block bytes
};

inline DsGeometry dsGeometry(int formatIndex, uint32_t latencyMs, int32_t buffers) {
    const StreamFormat f = dsFormatRecord(formatIndex);
    DsGeometry g;
    g.blockFrames = static_cast<uint32_t>(static_cast<uint64_t>(f.nSamplesPerSec) * latencyMs / 1000);
    g.blockBytes = g.blockFrames * f.nBlockAlign;
    g.ringBytes = g.blockBytes * static_cast<uint32_t>(buffers);
    return g;
}

// The notification offset of block k: the last byte of the block.
inline uint32_t dsNotificationOffset(const DsGeometry& g, int32_t k) {
    return static_cast<uint32_t>(k + 1) * g.blockBytes - 1;
}

inline int32_t dsClampBuffers(int32_t buffers) {
    return buffers < kMinBuffers ? kMinBuffers : (buffers > kMaxBuffers ? kMaxBuffers : buffers);
}

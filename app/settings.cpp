#include "app/settings.h"

#include <cmath>
#include <cstdio>
#include <cstring>


namespace {

bool isRecord(uint32_t type, const uint8_t* data, size_t size, size_t expected) {
    return type == kRegBinary && data != nullptr && size == expected;
}

int32_t readI32(const uint8_t* p) {
    uint32_t v = static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16 |
                 static_cast<uint32_t>(p[3]) << 24;
    return static_cast<int32_t>(v);
}

uint16_t readU16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }

float readF32(const uint8_t* p) {
    uint32_t bits = static_cast<uint32_t>(readI32(p));
    float v;
    std::memcpy(&v, &bits, sizeof v);
    return v;
}

void writeI32(uint8_t* p, int32_t value) {
    uint32_t v = static_cast<uint32_t>(value);
    for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

void writeU16(uint8_t* p, uint16_t v) {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
}

void writeF32(uint8_t* p, float value) {
    uint32_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    writeI32(p, static_cast<int32_t>(bits));
}

// A stored gain or threshold limited to 0 ... limit; a value that is not a
// finite number keeps the current one (a NaN gain would silence the program
// for good, an infinite one would clip everything).
void readLimited(const uint8_t* p, float limit, float& field) {
    const float v = readF32(p);
    if (!std::isfinite(v)) return;
    field = v < 0.0f ? 0.0f : (v > limit ? limit : v);
}

}  // namespace

bool decodeDeviceSettings(uint32_t type, const uint8_t* data, size_t size, DeviceSettings& out) {
    if (!isRecord(type, data, size, kSt001Size)) return false;
    out.system = data[0] == 0 ? 0u : 1u;
    // The latency byte is signed, then compared unsigned: a "negative" byte is
    // a huge latency and becomes the maximum.
    const uint32_t latency = static_cast<uint32_t>(static_cast<int32_t>(static_cast<int8_t>(data[1])));
    out.latencyMs = latency > 100 ? 100 : (latency < 5 ? 5 : latency);
    out.formatIndex = data[2] >= 16 ? 5 : data[2];
    const int32_t buffers = static_cast<int8_t>(data[3]);
    out.buffers = buffers < 2 ? 2 : (buffers > 64 ? 64 : buffers);
    out.outputDelayMs = data[4] > 10 ? 10 : data[4];
    return true;
}

bool decodeWasapiChoice(uint32_t type, const uint8_t* data, size_t size, WasapiChoice& out) {
    if (!isRecord(type, data, size, kSt004Size)) return false;
    out.chosen = data[0] == 1;
    out.mode = data[1] <= 2 ? data[1] : 0;
    std::memcpy(out.deviceRecord, data + 2, kSt001Size);
    return true;
}

void encodeWasapiChoice(const WasapiChoice& in, uint8_t out[kSt004Size]) {
    out[0] = in.chosen ? 1 : 0;
    out[1] = static_cast<uint8_t>(in.mode <= 2 ? in.mode : 0);
    std::memcpy(out + 2, in.deviceRecord, kSt001Size);
}

bool wasapiChosen(const StoredSettings& s) {
    if (!s.haveWasapi || !s.wasapi.chosen) return false;
    uint8_t device[kSt001Size];
    encodeDeviceSettings(s.device, device);
    return std::memcmp(device, s.wasapi.deviceRecord, kSt001Size) == 0;
}

const char* wasapiEndpointId(const char* stored) {
    return !stored || std::strcmp(stored, kWasapiDefaultToken) == 0 ? "" : stored;
}

bool decodeMasterSettings(uint32_t type, const uint8_t* data, size_t size, MasterSettings& out) {
    if (!isRecord(type, data, size, kSt002Size)) return false;
    readLimited(data + 0, 4.0f, out.masterGain);
    readLimited(data + 4, 4.0f, out.inputGain);
    readLimited(data + 8, 0.5f, out.gateThreshold);
    const uint16_t attack = readU16(data + 12), release = readU16(data + 14);
    out.gateAttackMs = attack > 200 ? 200 : attack;
    out.gateReleaseMs = release > 700 ? 700 : release;
    const float tempo = readF32(data + 16);
    if (std::isfinite(tempo)) out.metronomeTempo = tempo;
    out.metronomeOn = data[20] != 0;
    out.dcRemoverOn = data[21] != 0;
    return true;
}

bool decodeRecorderSettings(uint32_t type, const uint8_t* data, size_t size, RecorderSettings& out) {
    if (!isRecord(type, data, size, kSt003Size)) return false;
    out.dryOnly = data[0] != 0;
    out.startAccompaniment = data[1] != 0;
    out.ramMode = data[2] != 0;
    const int32_t format = static_cast<int8_t>(data[3]);
    out.formatIndex = format < 0 || format > 15 ? 5 : format;
    const uint16_t seconds = readU16(data + 4);
    out.maxSeconds = seconds < 10 ? 10 : (seconds > 600 ? 600 : seconds);
    return true;
}

bool frameRectangleUsable(int32_t left, int32_t top, int32_t right, int32_t bottom) {
    // A minimised window is parked at -32000; no screen is 16k pixels away.
    constexpr int64_t kFar = 16384;
    const int64_t l = left, t = top, r = right, b = bottom;
    if (r <= l || b <= t) return false;
    if (l < -kFar || t < -kFar || r > 2 * kFar || b > 2 * kFar) return false;
    return r - l <= kFar && b - t <= kFar;
}

bool decodeFramePlacement(uint32_t type, const uint8_t* data, size_t size, FramePlacement& out) {
    if (!isRecord(type, data, size, kWw001Size)) return false;
    const int32_t show = readI32(data);
    // Any other state (hidden among them) would leave the program without a window.
    out.showState = show >= 1 && show <= 3 ? show : 1;
    // Stored in the order left, right, top, bottom.
    const int32_t left = readI32(data + 4), right = readI32(data + 8), top = readI32(data + 12),
                  bottom = readI32(data + 16);
    out.haveRectangle = frameRectangleUsable(left, top, right, bottom);
    if (out.haveRectangle) {
        out.left = left;
        out.right = right;
        out.top = top;
        out.bottom = bottom;
    }
    return true;
}

bool decodeWindowPositions(uint32_t type, const uint8_t* data, size_t size, WindowPositions& out) {
    if (!isRecord(type, data, size, kWw002Size)) return false;
    out.masterX = readI32(data + 0);
    out.masterY = readI32(data + 4);
    out.masterOpen = data[8] != 0;
    out.inputMeterX = readI32(data + 9);
    out.inputMeterY = readI32(data + 13);
    out.outputMeterX = readI32(data + 17);
    out.outputMeterY = readI32(data + 21);
    return true;
}

void encodeDeviceSettings(const DeviceSettings& in, uint8_t out[kSt001Size]) {
    out[0] = static_cast<uint8_t>(in.system);
    out[1] = static_cast<uint8_t>(in.latencyMs);
    out[2] = in.formatIndex;
    out[3] = static_cast<uint8_t>(in.buffers);
    out[4] = in.outputDelayMs;
}

void encodeMasterSettings(const MasterSettings& in, uint8_t out[kSt002Size]) {
    writeF32(out + 0, in.masterGain);
    writeF32(out + 4, in.inputGain);
    writeF32(out + 8, in.gateThreshold);
    writeU16(out + 12, in.gateAttackMs);
    writeU16(out + 14, in.gateReleaseMs);
    writeF32(out + 16, in.metronomeTempo);
    out[20] = in.metronomeOn ? 1 : 0;
    out[21] = in.dcRemoverOn ? 1 : 0;
}

void encodeRecorderSettings(const RecorderSettings& in, uint8_t out[kSt003Size]) {
    out[0] = in.dryOnly ? 1 : 0;
    out[1] = in.startAccompaniment ? 1 : 0;
    out[2] = in.ramMode ? 1 : 0;
    out[3] = static_cast<uint8_t>(in.formatIndex);
    writeU16(out + 4, in.maxSeconds);
}

void encodeFramePlacement(const FramePlacement& in, uint8_t out[kWw001Size]) {
    writeI32(out + 0, in.showState);
    writeI32(out + 4, in.left);
    writeI32(out + 8, in.right);
    writeI32(out + 12, in.top);
    writeI32(out + 16, in.bottom);
}

void encodeWindowPositions(const WindowPositions& in, uint8_t out[kWw002Size]) {
    writeI32(out + 0, in.masterX);
    writeI32(out + 4, in.masterY);
    out[8] = in.masterOpen ? 1 : 0;
    writeI32(out + 9, in.inputMeterX);
    writeI32(out + 13, in.inputMeterY);
    writeI32(out + 17, in.outputMeterX);
    writeI32(out + 21, in.outputMeterY);
}

bool decodeStringSetting(uint32_t type, const uint8_t* data, size_t bytes, char* out, size_t size) {
    if (type != kRegString || !data || !out || size == 0) return false;
    // The stored bytes may or may not carry their terminator.
    size_t length = 0;
    while (length < bytes && data[length] != 0) ++length;
    if (length == 0 || length >= size) return false;
    std::memcpy(out, data, length);
    out[length] = '\0';
    return true;
}

bool applicationDirectoryFrom(const char* stored, char* out, size_t size) {
    constexpr size_t kPlatformPath = 260;                   // bytes, terminator included
    constexpr size_t kLongestName = sizeof "streamconv.dll";  // with its terminator
    if (!stored || !out || size == 0) return false;
    const size_t length = std::strlen(stored);
    if (length == 0) return false;
    const bool hasSeparator = stored[length - 1] == '\\' || stored[length - 1] == '/';
    const size_t directory = length + (hasSeparator ? 0 : 1);
    if (directory + kLongestName - 1 > kPlatformPath - 1 || directory + 1 > size) return false;
    std::snprintf(out, size, hasSeparator ? "%s" : "%s\\", stored);
    return true;
}

namespace {

// The most bytes offered for a string value: the platform's longest path and
// its terminator, or less for a smaller buffer.
constexpr size_t kStringReadMax = 261;
// One byte more than any record, so that a longer value shows as the wrong
// size instead of being cut to the right one.
constexpr size_t kRecordReadMax = 32;

bool readString(SettingReaderFn read, void* context, const char* name, char* out, size_t size) {
    uint8_t stored[kStringReadMax];
    size_t bytes = size < sizeof stored ? size : sizeof stored;
    uint32_t type = 0;
    return read(context, name, type, stored, bytes) && bytes <= sizeof stored &&
           decodeStringSetting(type, stored, bytes, out, size);
}

template <typename Record>
bool readRecord(SettingReaderFn read, void* context, const char* name, Record& record,
                bool (*decode)(uint32_t, const uint8_t*, size_t, Record&)) {
    uint8_t stored[kRecordReadMax];
    size_t bytes = sizeof stored;
    uint32_t type = 0;
    return read(context, name, type, stored, bytes) && bytes <= sizeof stored && decode(type, stored, bytes, record);
}

}  // namespace

void readStoredSettings(SettingReaderFn read, void* context, StoredSettings& s) {
    if (!read) return;
    readString(read, context, "DxInput", s.dxInput, sizeof s.dxInput);
    readString(read, context, "DxOutput", s.dxOutput, sizeof s.dxOutput);
    readString(read, context, "AsioDevice", s.asioDevice, sizeof s.asioDevice);
    readRecord(read, context, "st001", s.device, decodeDeviceSettings);
    s.haveWasapi = readRecord(read, context, "st004", s.wasapi, decodeWasapiChoice);
    readString(read, context, "WasapiInput", s.wasapiInput, sizeof s.wasapiInput);
    readString(read, context, "WasapiOutput", s.wasapiOutput, sizeof s.wasapiOutput);
    s.haveMaster = readRecord(read, context, "st002", s.master, decodeMasterSettings);
    s.haveRecorder = readRecord(read, context, "st003", s.recorder, decodeRecorderSettings);
    s.havePlacement = readRecord(read, context, "ww001", s.placement, decodeFramePlacement);
    s.havePositions = readRecord(read, context, "ww002", s.positions, decodeWindowPositions);
    readString(read, context, "PrfLoad", s.lastOpenPath, sizeof s.lastOpenPath);
    readString(read, context, "PrfSave", s.lastSavePath, sizeof s.lastSavePath);
    readString(read, context, "AccOpen", s.lastAccompanimentPath, sizeof s.lastAccompanimentPath);
}

bool readStoredApplicationDirectory(SettingReaderFn read, void* context, char* out, size_t size) {
    constexpr size_t kPlatformPath = 260;
    uint8_t stored[kPlatformPath + 1] = {};
    size_t bytes = kPlatformPath;
    uint32_t type = 0;
    char directory[kPlatformPath] = "";
    return read && read(context, "AppDir", type, stored, bytes) && bytes <= kPlatformPath &&
           decodeStringSetting(type, stored, bytes, directory, sizeof directory) &&
           applicationDirectoryFrom(directory, out, size);
}

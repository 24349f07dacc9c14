// The settings the program keeps between runs, and the codec of their
// binary records. The records are untrusted registry data: a record counts
// only with the exact type and size, every field is limited on the way in,
// and a rejected field keeps the value the program already had.
//
// The codec is platform-free; settings_win32.cpp reads and writes the key
// and applies the values to the engine, the devices and the windows.
#pragma once

#include <cstddef>
#include <cstdint>

// Registry value types the codec cares about (the platform's numbers).
constexpr uint32_t kRegString = 1;  // REG_SZ
constexpr uint32_t kRegBinary = 3;  // REG_BINARY

constexpr size_t kSt001Size = 5;
constexpr size_t kSt002Size = 22;
constexpr size_t kSt003Size = 6;
constexpr size_t kWw001Size = 20;
constexpr size_t kWw002Size = 25;
constexpr size_t kSt004Size = 7;

// The platform's "default position" (CW_USEDEFAULT).
constexpr int32_t kDefaultPosition = static_cast<int32_t>(0x80000000u);

// Device parameters (st001).
struct DeviceSettings {
    uint32_t system = 0;  // 0 DirectSound, 1 ASIO
    uint32_t latencyMs = 40;
    uint8_t formatIndex = 5;
    int32_t buffers = 2;
    uint8_t outputDelayMs = 2;
};

// The WASAPI choice (st004), kept beside the device record: releases that
// know only DirectSound and ASIO read the device record as DirectSound and
// never see this one. `deviceRecord` is the device record written with it:
// a device record that differs was written since by such a release, whose
// choice then stands.
struct WasapiChoice {
    bool chosen = false;
    uint32_t mode = 0;  // 0 shared, 1 shared low latency, 2 exclusive
    uint8_t deviceRecord[kSt001Size] = {};
};

// Master section and metronome (st002).
struct MasterSettings {
    float masterGain = 1.0f;
    float inputGain = 1.0f;
    float gateThreshold = 0.0039f;
    uint16_t gateAttackMs = 5;
    uint16_t gateReleaseMs = 100;
    float metronomeTempo = 120.0f;
    bool metronomeOn = false;
    bool dcRemoverOn = true;
};

// Recorder options (st003).
struct RecorderSettings {
    bool dryOnly = true;
    bool startAccompaniment = true;
    bool ramMode = false;
    int32_t formatIndex = 5;
    uint16_t maxSeconds = 200;
};

// Frame placement (ww001): show state and the rectangle in screen coordinates.
struct FramePlacement {
    int32_t showState = 1;
    bool haveRectangle = false;  // false: the frame keeps its default rectangle
    int32_t left = 0, top = 0, right = 0, bottom = 0;
};

// Master Section and VU meter positions (ww002).
struct WindowPositions {
    int32_t masterX = kDefaultPosition, masterY = kDefaultPosition;
    bool masterOpen = false;
    int32_t inputMeterX = 40, inputMeterY = 100;
    int32_t outputMeterX = 40, outputMeterY = 170;
};

// Each decoder reads one registry value (its type and bytes as stored) into
// `out`. It returns false, leaving `out` untouched, unless the type and the
// size are exactly the record's; fields are then limited as they are read.
bool decodeDeviceSettings(uint32_t type, const uint8_t* data, size_t size, DeviceSettings& out);
bool decodeMasterSettings(uint32_t type, const uint8_t* data, size_t size, MasterSettings& out);
bool decodeRecorderSettings(uint32_t type, const uint8_t* data, size_t size, RecorderSettings& out);
bool decodeFramePlacement(uint32_t type, const uint8_t* data, size_t size, FramePlacement& out);
bool decodeWindowPositions(uint32_t type, const uint8_t* data, size_t size, WindowPositions& out);
bool decodeWasapiChoice(uint32_t type, const uint8_t* data, size_t size, WasapiChoice& out);

// Encoders write the record's exact size into `out`.
void encodeDeviceSettings(const DeviceSettings& in, uint8_t out[kSt001Size]);
void encodeMasterSettings(const MasterSettings& in, uint8_t out[kSt002Size]);
void encodeRecorderSettings(const RecorderSettings& in, uint8_t out[kSt003Size]);
void encodeFramePlacement(const FramePlacement& in, uint8_t out[kWw001Size]);
void encodeWindowPositions(const WindowPositions& in, uint8_t out[kWw002Size]);
void encodeWasapiChoice(const WasapiChoice& in, uint8_t out[kSt004Size]);

// Whether a stored frame rectangle can be used: not empty, not inverted, not
// the parked rectangle of a minimised window, not larger than any screen.
bool frameRectangleUsable(int32_t left, int32_t top, int32_t right, int32_t bottom);

// A string value: accepted only as a non-empty string type whose bytes fit
// `size` with a terminator; `out` is always terminated when accepted.
bool decodeStringSetting(uint32_t type, const uint8_t* data, size_t bytes, char* out, size_t size);

// The application directory from the stored AppDir string: a missing
// trailing backslash is added. False when the directory is empty or when a
// path the program builds from it (the longest is the converter library's)
// would not fit the platform's 260-byte paths.
bool applicationDirectoryFrom(const char* stored, char* out, size_t size);

// Reads one value of the settings key: its type, and its bytes into `data`
// when they fit the `size` offered; `size` then says how many it gave. False
// when the value is missing or larger than `size` (it is never cut).
// settings_win32.cpp reads the registry; the tests read bytes they hold.
using SettingReaderFn = bool (*)(void* context, const char* name, uint32_t& type, uint8_t* data, size_t& size);

// String buffers of the settings the program keeps (terminator included).
constexpr size_t kDeviceNameSize = 200;  // DxInput, DxOutput, AsioDevice
constexpr size_t kSavedPathSize = 259;   // PrfLoad, PrfSave, AccOpen

// Everything the program takes from the settings key at start-up. The
// caller fills the records with the values it already has; each value that
// is missing, of another type or size, or otherwise refused leaves its field
// as it was. The strings start empty and stay so unless their value is read.
struct StoredSettings {
    char dxInput[kDeviceNameSize] = "";
    char dxOutput[kDeviceNameSize] = "";
    char asioDevice[kDeviceNameSize] = "";
    // WASAPI endpoint ids; "<default>" (or nothing stored) follows the system's default.
    char wasapiInput[kDeviceNameSize] = "";
    char wasapiOutput[kDeviceNameSize] = "";
    DeviceSettings device;
    bool haveWasapi = false;
    WasapiChoice wasapi;
    bool haveMaster = false;
    MasterSettings master;
    bool haveRecorder = false;
    RecorderSettings recorder;
    bool havePlacement = false;
    FramePlacement placement;
    bool havePositions = false;
    WindowPositions positions;
    char lastOpenPath[kSavedPathSize] = "";
    char lastSavePath[kSavedPathSize] = "";
    char lastAccompanimentPath[kSavedPathSize] = "";
};

// Whether the stored choice is WASAPI: chosen, and the device record is
// still the one written with the choice.
bool wasapiChosen(const StoredSettings& settings);
// The endpoint id a stored WASAPI device string stands for: "" for the
// default device.
const char* wasapiEndpointId(const char* stored);
constexpr const char* kWasapiDefaultToken = "<default>";

// Reads every value through its decoder, offering each no more bytes than
// its record (a longer value counts as missing). UI thread.
void readStoredSettings(SettingReaderFn read, void* context, StoredSettings& settings);

// The application directory from the value AppDir, as the program
// needs it at start-up: a string of at most 260 bytes, then
// applicationDirectoryFrom. False when it is missing or unusable.
bool readStoredApplicationDirectory(SettingReaderFn read, void* context, char* out, size_t size);

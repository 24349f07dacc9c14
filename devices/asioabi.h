// The ASIO driver interface, declared here from its published table of
// layouts. Drivers are third-party binaries built against it, so every
// record's offsets are checked at compile time on both targets.
//
// The driver is an in-process COM object: a C++ class of virtual methods
// after the three IUnknown slots, in the order below. On Windows it derives
// from the platform's IUnknown (MinGW's g++ lays out the table as COM does);
// the native build, which has no COM, declares the same three slots itself so
// the host layer can run against test drivers there too. No virtual
// destructor: it would add slots the binary interface does not have.
#pragma once

#include <cstddef>
#include <cstdint>

#if defined(_WIN32)
#include <unknwn.h>
using AsioUnknown = IUnknown;
using AsioGuid = GUID;
#else
// Field names as the platform's GUID has them.
struct AsioGuid {
    uint32_t Data1;
    uint16_t Data2, Data3;
    uint8_t Data4[8];
};
class AsioUnknown {
public:
    virtual long QueryInterface(const AsioGuid& iid, void** object) = 0;
    virtual unsigned long AddRef() = 0;
    virtual unsigned long Release() = 0;
};
#endif

using AsioBool = int32_t;
using AsioError = int32_t;
using AsioSampleType = int32_t;
using AsioSampleRate = double;

enum : AsioError {
    ASE_OK = 0,
    ASE_SUCCESS = 0x3F4847A0,
    ASE_NotPresent = -1000,
    ASE_HWMalfunction = -999,
    ASE_InvalidParameter = -998,
    ASE_InvalidMode = -997,
    ASE_SPNotAdvancing = -996,
    ASE_NoClock = -995,
    ASE_NoMemory = -994,
};

// Sample types.
enum : AsioSampleType {
    ASIOSTInt16MSB = 0,
    ASIOSTInt24MSB = 1,
    ASIOSTInt32MSB = 2,
    ASIOSTFloat32MSB = 3,
    ASIOSTFloat64MSB = 4,
    ASIOSTInt32MSB16 = 8,
    ASIOSTInt32MSB18 = 9,
    ASIOSTInt32MSB20 = 10,
    ASIOSTInt32MSB24 = 11,
    ASIOSTInt16LSB = 16,
    ASIOSTInt24LSB = 17,
    ASIOSTInt32LSB = 18,
    ASIOSTFloat32LSB = 19,
    ASIOSTFloat64LSB = 20,
    ASIOSTInt32LSB16 = 24,
    ASIOSTInt32LSB18 = 25,
    ASIOSTInt32LSB20 = 26,
    ASIOSTInt32LSB24 = 27,
};

// Message selectors.
enum : int32_t {
    kAsioSelectorSupported = 1,
    kAsioEngineVersion = 2,
    kAsioResetRequest = 3,
    kAsioBufferSizeChange = 4,
    kAsioResyncRequest = 5,
    kAsioLatenciesChanged = 6,
    kAsioSupportsTimeInfo = 7,
    kAsioSupportsTimeCode = 8,
    kAsioMMCCommand = 9,
    kAsioSupportsInputMonitor = 10,
};

// AsioTimeInfo flags.
enum : uint32_t {
    kAsioSystemTimeValid = 1,
    kAsioSamplePositionValid = 2,
    kAsioSampleRateValid = 4,
    kAsioSpeedValid = 8,
    kAsioSampleRateChanged = 16,
    kAsioClockSourceChanged = 32,
};

#pragma pack(push, 4)

struct AsioSamples {
    uint32_t hi, lo;
};
struct AsioTimeStamp {
    uint32_t hi, lo;
};

struct AsioClockSource {
    int32_t index;
    int32_t associatedChannel;
    int32_t associatedGroup;
    AsioBool isCurrentSource;
    char name[32];
};

struct AsioChannelInfo {
    int32_t channel;   // in
    AsioBool isInput;  // in
    AsioBool isActive;
    int32_t channelGroup;
    AsioSampleType type;
    char name[32];
};

struct AsioBufferInfo {
    AsioBool isInput;  // in
    int32_t channelNum;  // in
    void* buffers[2];    // out: the two halves of the double buffer
};

struct AsioTimeInfo {
    double speed;
    AsioTimeStamp systemTime;
    AsioSamples samplePosition;
    AsioSampleRate sampleRate;
    uint32_t flags;
    char reserved[12];
};

struct AsioTimeCode {
    double speed;
    AsioSamples timeCodeSamples;
    uint32_t flags;
    char future[64];
};

struct AsioTime {
    int32_t reserved[4];
    AsioTimeInfo timeInfo;
    AsioTimeCode timeCode;
};

// Plain C functions (__cdecl on 32-bit Windows).
struct AsioCallbacks {
    void (*bufferSwitch)(int32_t doubleBufferIndex, AsioBool directProcess);
    void (*sampleRateDidChange)(AsioSampleRate rate);
    int32_t (*asioMessage)(int32_t selector, int32_t value, void* message, double* opt);
    AsioTime* (*bufferSwitchTimeInfo)(AsioTime* params, int32_t doubleBufferIndex, AsioBool directProcess);
};

// The host's own record; the driver's init sees only the system handle.
struct AsioDriverInfo {
    int32_t asioVersion;
    int32_t driverVersion;
    char name[32];
    char errorMessage[124];
    void* sysRef;
};

#pragma pack(pop)

static_assert(sizeof(AsioClockSource) == 48);
static_assert(offsetof(AsioClockSource, name) == 16);
static_assert(sizeof(AsioChannelInfo) == 52);
static_assert(offsetof(AsioChannelInfo, type) == 16);
static_assert(offsetof(AsioChannelInfo, name) == 20);
static_assert(offsetof(AsioBufferInfo, buffers) == 8);
static_assert(sizeof(AsioBufferInfo) == 8 + 2 * sizeof(void*));
static_assert(sizeof(AsioTimeInfo) == 48);
static_assert(offsetof(AsioTimeInfo, systemTime) == 8);
static_assert(offsetof(AsioTimeInfo, samplePosition) == 16);
static_assert(offsetof(AsioTimeInfo, sampleRate) == 24);
static_assert(offsetof(AsioTimeInfo, flags) == 32);
static_assert(sizeof(AsioTimeCode) == 84);
static_assert(offsetof(AsioTimeCode, flags) == 16);
static_assert(sizeof(AsioTime) == 148);
static_assert(offsetof(AsioTime, timeInfo) == 16);
static_assert(offsetof(AsioTime, timeCode) == 64);
static_assert(sizeof(AsioCallbacks) == 4 * sizeof(void*));
static_assert(offsetof(AsioDriverInfo, errorMessage) == 40);
static_assert(offsetof(AsioDriverInfo, sysRef) == 164);

// The driver object.
class AsioDriver : public AsioUnknown {
public:
    virtual AsioBool init(void* systemHandle) = 0;
    virtual void getDriverName(char* name) = 0;  // at least 32 bytes
    virtual int32_t getDriverVersion() = 0;
    virtual void getErrorMessage(char* text) = 0;  // at least 124 bytes
    virtual AsioError start() = 0;
    virtual AsioError stop() = 0;
    virtual AsioError getChannels(int32_t* inputs, int32_t* outputs) = 0;
    virtual AsioError getLatencies(int32_t* input, int32_t* output) = 0;
    virtual AsioError getBufferSize(int32_t* minimum, int32_t* maximum, int32_t* preferred, int32_t* granularity) = 0;
    virtual AsioError canSampleRate(AsioSampleRate rate) = 0;
    virtual AsioError getSampleRate(AsioSampleRate* rate) = 0;
    virtual AsioError setSampleRate(AsioSampleRate rate) = 0;
    virtual AsioError getClockSources(AsioClockSource* clocks, int32_t* count) = 0;
    virtual AsioError setClockSource(int32_t reference) = 0;
    virtual AsioError getSamplePosition(AsioSamples* position, AsioTimeStamp* time) = 0;
    virtual AsioError getChannelInfo(AsioChannelInfo* info) = 0;
    virtual AsioError createBuffers(AsioBufferInfo* infos, int32_t count, int32_t bufferSize,
                                    AsioCallbacks* callbacks) = 0;
    virtual AsioError disposeBuffers() = 0;
    virtual AsioError controlPanel() = 0;
    virtual AsioError future(int32_t selector, void* argument) = 0;
    virtual AsioError outputReady() = 0;
};

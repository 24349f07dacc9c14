// Live input on the test ASIO driver, registered as a COM server in the Wine
// prefix, round by round: every block the host processes is stamped on the
// driver's own thread (through the engine's accompaniment stage) with the
// driver's switch number and the time, so a round tells what the host did
// with each switch and when each switch came. Shared by the device tests
// and device_timing. Windows only.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "engine/engine.h"
#include "tests/modules/testasio_core.h"
#include "tests/support/devicetiming.h"

extern const char* const kTestAsioClassId;
extern const char* const kTestAsioOtherClassId;         // registered, listed without a description
extern const char* const kTestAsioMissingClassId;       // its server file does not exist
extern const char* const kTestAsioUnregisteredClassId;  // no class entry at all
constexpr const char* kTestAsioName = "Quorvane Test Driver";

// Registers the test driver under HKLM\Software\ASIO and its classes, with
// the broken entries discovery must skip; false when the registry refuses.
bool asioRigRegister(const std::string& server);
void asioRigUnregister();

// The driver's DLL loaded by the harness, to configure the next driver it
// creates and to read the current one.
struct AsioRigDriver {
    HMODULE library = nullptr;
    void (*setConfig)(const TestAsioConfig*) = nullptr;
    TestAsioCore* (*current)() = nullptr;
};
bool asioRigLoad(AsioRigDriver& driver, const std::string& server);

struct AsioRound {
    int32_t openResult = 0, startResult = 0, stopResult = 0;
    int64_t target = 0;
    bool reached = false;  // the host processed `target` blocks within the limit
    // Per block the host processed, up to the target: the driver's switch
    // number and when it came (microseconds after the first).
    std::vector<int64_t> switchOf;
    std::vector<double> atMicros;
    int64_t firstMisplacedBlock = -1;  // first block that is not the switch of its own number
    // The first output frame, within the target's switches, that does not
    // carry the driver's input signal.
    int64_t firstWrongFrame = -1;
    int wrongChannel = -1;
    double wrongValue = 0.0, expectedValue = 0.0;
    TestAsioRecord record;  // the driver's own, after the stop
    uint32_t status = 0;    // the engine's status bits after the stop
    double stopMs = 0.0;    // how long asioStop took
    SwitchTiming timing;
};

// Runs live input with `config` until the host has processed `target`
// blocks (waiting at most `limitMs`), then stops it; a stop that does not
// return within 10 s ends the process as a deadlock. gAsioHost and
// gAsioLoader must be set up, gAsioHost.engine being `engine`. UI thread.
void asioRunRound(const AsioRigDriver& driver, EngineState& engine, const TestAsioConfig& config, int64_t target,
                  DWORD limitMs, AsioRound& round);

// Blocks of `frames` frames at `rate` in `millis` milliseconds.
int64_t asioSwitchesIn(double millis, double rate, int32_t frames);

#include "tests/support/asiorig.h"

#include <algorithm>
#include <atomic>
#include <cmath>

#include "devices/asiohost.h"
#include "tests/support/watchdog.h"

const char* const kTestAsioClassId = "{5A1C0E21-3B7D-4C8E-9F10-2A6B4D8E0C31}";
const char* const kTestAsioOtherClassId = "{5A1C0E21-3B7D-4C8E-9F10-2A6B4D8E0C32}";
const char* const kTestAsioMissingClassId = "{5A1C0E21-3B7D-4C8E-9F10-2A6B4D8E0C33}";
const char* const kTestAsioUnregisteredClassId = "{5A1C0E21-3B7D-4C8E-9F10-2A6B4D8E0C34}";

namespace {

bool setString(const std::string& key, const char* name, const std::string& value) {
    HKEY k;
    if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, key.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &k, nullptr) !=
        ERROR_SUCCESS)
        return false;
    const bool ok = RegSetValueExA(k, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                                   static_cast<DWORD>(value.size() + 1)) == ERROR_SUCCESS;
    RegCloseKey(k);
    return ok;
}

bool registerClass(const char* classId, const std::string& server) {
    const std::string key = std::string("Software\\Classes\\CLSID\\") + classId + "\\InprocServer32";
    return setString(key, nullptr, server) && setString(key, "ThreadingModel", "Apartment");
}

double counterMicros() {
    static const double perMicro = [] {
        LARGE_INTEGER f;
        QueryPerformanceFrequency(&f);
        return static_cast<double>(f.QuadPart) / 1e6;
    }();
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return static_cast<double>(now.QuadPart) / perMicro;
}

// Filled on the driver's thread, once per processed block; the arrays are
// sized before the start, so the stage allocates nothing.
struct BlockLog {
    const TestAsioCore* core = nullptr;
    int64_t* switchOf = nullptr;
    double* at = nullptr;
    int64_t target = 0;
    std::atomic<int64_t> count{0};
    HANDLE reached = nullptr;
};

void logBlock(void* context, EngineState&) {
    auto* log = static_cast<BlockLog*>(context);
    const int64_t i = log->count.load(std::memory_order_relaxed);
    if (i >= log->target) return;
    // The driver counts a switch when it returns: inside it, the count is
    // the switch's own number.
    log->switchOf[i] = log->core->record.switches;
    log->at[i] = counterMicros();
    log->count.store(i + 1, std::memory_order_release);
    if (i + 1 == log->target) SetEvent(log->reached);
}

// What the host must write into output `channel` at `frame`: the input of
// the same channel as the driver encoded it, within half a step of the
// output's resolution (or the float path's, for wider samples).
bool outputMatches(const TestAsioConfig& config, int64_t frame, int channel, double got, double& expected) {
    uint8_t sample[8];
    testAsioEncode(config.inputType, testAsioInput(frame, channel), sample);
    expected = testAsioDecode(config.inputType, sample);
    const int bits = testAsioBits(config.outputType);
    const double tolerance = bits > 0 && bits <= 20 ? std::ldexp(0.5, 1 - bits) : 1e-6;
    return std::fabs(got - expected) <= tolerance;
}

}  // namespace

bool asioRigRegister(const std::string& server) {
    asioRigUnregister();
    const std::string driverKey = "Software\\ASIO\\";
    return registerClass(kTestAsioClassId, server) && registerClass(kTestAsioOtherClassId, server) &&
           registerClass(kTestAsioMissingClassId, server + ".missing") &&
           setString(driverKey + "QvTestDriver", "CLSID", kTestAsioClassId) &&
           setString(driverKey + "QvTestDriver", "Description", kTestAsioName) &&
           setString(driverKey + "QvNoDescription", "CLSID", kTestAsioOtherClassId) &&
           setString(driverKey + "QvNoClsid", "Description", "Never listed") &&
           setString(driverKey + "QvMissingServer", "CLSID", kTestAsioMissingClassId) &&
           setString(driverKey + "QvUnregistered", "CLSID", kTestAsioUnregisteredClassId);
}

void asioRigUnregister() {
    RegDeleteTreeA(HKEY_LOCAL_MACHINE, "Software\\ASIO");
    for (const char* c : {kTestAsioClassId, kTestAsioOtherClassId, kTestAsioMissingClassId})
        RegDeleteTreeA(HKEY_LOCAL_MACHINE, (std::string("Software\\Classes\\CLSID\\") + c).c_str());
}

bool asioRigLoad(AsioRigDriver& driver, const std::string& server) {
    driver.library = LoadLibraryA(server.c_str());
    if (!driver.library) return false;
    driver.setConfig = reinterpret_cast<void (*)(const TestAsioConfig*)>(
        reinterpret_cast<void*>(GetProcAddress(driver.library, "testAsioSetConfig")));
    driver.current = reinterpret_cast<TestAsioCore* (*)()>(
        reinterpret_cast<void*>(GetProcAddress(driver.library, "testAsioCurrent")));
    return driver.setConfig && driver.current;
}

int64_t asioSwitchesIn(double millis, double rate, int32_t frames) {
    return static_cast<int64_t>(millis / 1000.0 * rate / frames);
}

void asioRunRound(const AsioRigDriver& driver, EngineState& engine, const TestAsioConfig& config, int64_t target,
                  DWORD limitMs, AsioRound& round) {
    round = AsioRound{};
    round.target = target;
    driver.setConfig(&config);
    round.openResult = asioOpen(kTestAsioName);
    TestAsioCore* core = driver.current();
    if (round.openResult != 0 || !core) return;

    std::vector<int64_t> switchOf(static_cast<size_t>(target));
    std::vector<double> at(static_cast<size_t>(target));
    BlockLog log;
    log.core = core;
    log.switchOf = switchOf.data();
    log.at = at.data();
    log.target = target;
    log.reached = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    engine.accompaniment = EngineStage{};
    engine.accompaniment.context = &log;
    engine.accompaniment.process = logBlock;

    round.startResult = asioStart();
    if (round.startResult == 0) {
        round.reached = WaitForSingleObject(log.reached, limitMs) == WAIT_OBJECT_0;
        const double stopBegan = counterMicros();
        {
            Watchdog watchdog("asioStop", 10000);
            round.stopResult = asioStop();
        }
        round.stopMs = (counterMicros() - stopBegan) / 1000.0;
    }
    engine.processingEnabled = true;
    engine.accompaniment = EngineStage{};
    CloseHandle(log.reached);

    round.record = core->record;
    round.status = engine.engineStatus.load();
    const int64_t logged = log.count.load(std::memory_order_acquire);
    round.switchOf.assign(switchOf.begin(), switchOf.begin() + logged);
    round.atMicros.reserve(static_cast<size_t>(logged));
    for (int64_t i = 0; i < logged; ++i) round.atMicros.push_back(at[static_cast<size_t>(i)] - at[0]);
    for (int64_t i = 0; i < logged && round.firstMisplacedBlock < 0; ++i)
        if (round.switchOf[static_cast<size_t>(i)] != i) round.firstMisplacedBlock = i;
    round.timing = switchTiming(round.atMicros, 1e6 * config.preferredSize / config.rate);

    // Every frame of the logged switches, on every output, is the input (as
    // far as the driver keeps what the host wrote).
    const int64_t frames = std::min<int64_t>(logged * config.preferredSize, static_cast<int64_t>(core->captureLimit));
    const int outputs = config.outputs < 2 ? config.outputs : 2;
    for (int64_t f = 0; f < frames && round.firstWrongFrame < 0; ++f)
        for (int c = 0; c < outputs; ++c) {
            const std::vector<double>& out = core->captured[c];
            const double got = static_cast<size_t>(f) < out.size() ? out[static_cast<size_t>(f)] : NAN;
            double expected = 0.0;
            if (!outputMatches(config, f, c, got, expected)) {
                round.firstWrongFrame = f;
                round.wrongChannel = c;
                round.wrongValue = got;
                round.expectedValue = expected;
                break;
            }
        }
}

// The test ASIO driver as an in-process COM server, registered in the test
// prefix the way real drivers register. Its own thread calls the buffer
// switch at the real period (buffer frames / rate), scheduled against
// absolute deadlines, and counts every callback that ended after the next
// period had begun. Tests load the same DLL to set the next driver's
// configuration and to read what the driver saw.
#include <windows.h>
#include <objbase.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "tests/modules/testasio_driver.h"

// {5A1C0E21-3B7D-4C8E-9F10-2A6B4D8E0C31}
static const GUID kTestAsioClass = {0x5a1c0e21, 0x3b7d, 0x4c8e, {0x9f, 0x10, 0x2a, 0x6b, 0x4d, 0x8e, 0x0c, 0x31}};

namespace {

TestAsioConfig nextConfig;
std::atomic<int> liveDrivers{0};

class ComDriver;
ComDriver* current = nullptr;

class ComDriver final : public TestAsioDriver {
public:
    ComDriver() {
        core.config = nextConfig;
        fromEnvironment();
        ++liveDrivers;
        current = this;
        note("create");
    }
    AsioError controlPanel() override {
        note("control panel");
        return TestAsioDriver::controlPanel();
    }
    void released() override {
        stopThread();
        if (current == this) current = nullptr;
        --liveDrivers;
        delete this;
    }

    AsioError start() override {
        const AsioError result = core.start();
        note(result == ASE_OK ? "start" : "start failed");
        if (result != ASE_OK) return result;
        running_ = true;
        thread_ = std::thread([this] { run(); });
        return ASE_OK;
    }
    AsioError stop() override {
        stopThread();
        note("stop");
        return core.stop();
    }
    AsioError disposeBuffers() override {
        stopThread();
        return core.disposeBuffers();
    }

private:
    // A program under test cannot call testAsioSetConfig: the environment
    // tells its driver what to do instead. QV_TESTASIO_LOG names a file
    // that gets one line per create, start, stop and control panel call;
    // QV_TESTASIO_RESET_AT=N makes the first driver of the process ask for
    // a reset before its N-th buffer switch (once, so the reopened driver
    // runs on); QV_TESTASIO_INPUT_TYPE=T gives its inputs sample type T.
    // QV_TESTASIO_SIZE_AT=N,SIZE and QV_TESTASIO_RATE_AT=N,RATE make the
    // first driver of the process change its buffer size or its rate before
    // its N-th buffer switch and tell the host, as a driver does whose
    // control panel was used while it ran.
    void fromEnvironment() {
        char value[260] = "";
        if (GetEnvironmentVariableA("QV_TESTASIO_LOG", value, sizeof value) - 1 < sizeof value - 1)
            lstrcpynA(logPath_, value, sizeof logPath_);
        static bool resetAsked = false;
        if (!resetAsked && GetEnvironmentVariableA("QV_TESTASIO_RESET_AT", value, sizeof value) - 1 < 31) {
            resetAsked = true;
            core.config.messageAtSwitch = atoi(value);
            core.config.messageSelector = kAsioResetRequest;
        }
        if (GetEnvironmentVariableA("QV_TESTASIO_INPUT_TYPE", value, sizeof value) - 1 < 31)
            core.config.inputType = static_cast<AsioSampleType>(atoi(value));
        static bool sizeChanged = false;
        if (!sizeChanged && GetEnvironmentVariableA("QV_TESTASIO_SIZE_AT", value, sizeof value) - 1 < 31) {
            sizeChanged = true;
            const char* comma = strchr(value, ',');
            core.config.messageAtSwitch = atoi(value);
            core.config.messageSelector = kAsioBufferSizeChange;
            core.config.messageValue = comma ? atoi(comma + 1) : 0;
        }
        static bool rateChanged = false;
        if (!rateChanged && GetEnvironmentVariableA("QV_TESTASIO_RATE_AT", value, sizeof value) - 1 < 31) {
            rateChanged = true;
            const char* comma = strchr(value, ',');
            core.config.rateChangeAtSwitch = atoi(value);
            core.config.changedRate = comma ? atof(comma + 1) : 0.0;
        }
    }
    void note(const char* what) {
        if (!logPath_[0]) return;
        HANDLE file = CreateFileA(logPath_, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file == INVALID_HANDLE_VALUE) return;
        char line[64];
        const int n = wsprintfA(line, "%s\r\n", what);
        DWORD written = 0;
        WriteFile(file, line, static_cast<DWORD>(n), &written, nullptr);
        CloseHandle(file);
    }

    char logPath_[260] = "";
    void stopThread() {
        running_ = false;
        if (thread_.joinable()) thread_.join();
    }

    // One buffer switch per period until stopped.
    void run() {
        SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_TIME_CRITICAL);
        LARGE_INTEGER frequency, now;
        QueryPerformanceFrequency(&frequency);
        QueryPerformanceCounter(&now);
        const double ticksPerPeriod =
            static_cast<double>(frequency.QuadPart) * core.config.preferredSize / core.config.rate;
        const double start = static_cast<double>(now.QuadPart);
        for (int64_t k = 0; running_; ++k) {
            const double deadline = start + ticksPerPeriod * static_cast<double>(k);
            // Sleep while far from the deadline, spin the last stretch.
            for (;;) {
                QueryPerformanceCounter(&now);
                const double left = deadline - static_cast<double>(now.QuadPart);
                if (left <= 0 || !running_) break;
                if (left > 0.003 * static_cast<double>(frequency.QuadPart)) Sleep(1);
            }
            if (!running_) break;
            const double began = static_cast<double>(now.QuadPart);
            if (!core.bufferSwitch()) break;
            QueryPerformanceCounter(&now);
            const double ended = static_cast<double>(now.QuadPart);
            const double micros = (ended - began) * 1e6 / static_cast<double>(frequency.QuadPart);
            if (micros > core.record.worstCallbackMicros) core.record.worstCallbackMicros = micros;
            if (ended > deadline + ticksPerPeriod) {
                if (core.record.lateSwitches++ == 0) core.record.firstLateSwitch = k;
                core.record.lastLateSwitch = k;
                // A missed period is not made up: the schedule moves on.
            }
        }
    }

    std::atomic<bool> running_{false};
    std::thread thread_;
};

class Factory : public IClassFactory {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
        if (iid == IID_IUnknown || iid == IID_IClassFactory) {
            *object = this;
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID, void** object) override {
        if (outer) return CLASS_E_NOAGGREGATION;
        *object = static_cast<AsioDriver*>(new ComDriver);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE LockServer(BOOL) override { return S_OK; }
};

Factory factory;

}  // namespace

extern "C" __declspec(dllexport) HRESULT STDAPICALLTYPE DllGetClassObject(REFCLSID classId, REFIID iid, void** object) {
    if (classId != kTestAsioClass) return CLASS_E_CLASSNOTAVAILABLE;
    return factory.QueryInterface(iid, object);
}

// Tests load and unload the driver many times in one process; the DLL stays.
extern "C" __declspec(dllexport) HRESULT STDAPICALLTYPE DllCanUnloadNow() { return S_FALSE; }

extern "C" __declspec(dllexport) void testAsioSetConfig(const TestAsioConfig* config) { nextConfig = *config; }
extern "C" __declspec(dllexport) TestAsioCore* testAsioCurrent() { return current ? &current->core : nullptr; }
extern "C" __declspec(dllexport) int testAsioLiveDrivers() { return liveDrivers; }

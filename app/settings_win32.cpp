// Reading and writing the settings key, and applying what was read to the
// engine, the devices, the recorder and the windows.
#include <windows.h>

#include <cstdio>
#include <cstring>

#include "app/report.h"
#include "app/resource.h"
#include "app/settings.h"
#include "app/shell_win32.h"
#include "audiofiles/recorder.h"
#include "devices/asiohost.h"
#include "devices/asioloader.h"
#include "devices/audiosystem.h"
#include "devices/directsound.h"
#include "devices/wasapi.h"
#include "engine/engine.h"
#include "host/performance.h"

namespace {

constexpr const char* kSettingsKey = "SOFTWARE\\Quorvane Software\\Quorvane Live\\1";
constexpr size_t kSavedPathBuffer = 259;  // the last-used paths, terminator included
static_assert(kSavedPathBuffer == kSavedPathSize, "the stored paths fit the program's buffers");

int32_t indexOfDevice(const DsDevice* list, const char* description) {
    int32_t index = 0;
    for (const DsDevice* d = list; d; d = d->next, ++index)
        if (std::strcmp(d->description, description) == 0) return index;
    return -1;
}

const char* deviceDescription(const DsDevice* list, int32_t index) {
    int32_t i = 0;
    for (const DsDevice* d = list; d; d = d->next, ++i)
        if (i == index) return d->description;
    return nullptr;
}

void writeString(HKEY key, const char* name, const char* value) {
    RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value), static_cast<DWORD>(std::strlen(value) + 1));
}

void writeBinary(HKEY key, const char* name, const uint8_t* data, size_t size) {
    RegSetValueExA(key, name, 0, REG_BINARY, data, static_cast<DWORD>(size));
}

MasterSettings currentMaster() {
    MasterSettings m;
    m.masterGain = gEngine.masterGain.load(std::memory_order_relaxed);
    m.inputGain = gEngine.inputGain.load(std::memory_order_relaxed);
    m.gateThreshold = gEngine.gateThreshold.load(std::memory_order_relaxed);
    m.gateAttackMs = gEngine.gateAttackMs.load(std::memory_order_relaxed);
    m.gateReleaseMs = gEngine.gateReleaseMs.load(std::memory_order_relaxed);
    m.metronomeTempo = gEngine.metronomeTempo.load(std::memory_order_relaxed);
    m.metronomeOn = gEngine.metronomeOn.load(std::memory_order_relaxed);
    m.dcRemoverOn = gEngine.dcRemoverOn.load(std::memory_order_relaxed);
    return m;
}

void applyMaster(const MasterSettings& m) {
    gEngine.masterGain.store(m.masterGain, std::memory_order_relaxed);
    gEngine.inputGain.store(m.inputGain, std::memory_order_relaxed);
    gEngine.gateThreshold.store(m.gateThreshold, std::memory_order_relaxed);
    gEngine.gateAttackMs.store(m.gateAttackMs, std::memory_order_relaxed);
    gEngine.gateReleaseMs.store(m.gateReleaseMs, std::memory_order_relaxed);
    gEngine.metronomeTempo.store(m.metronomeTempo, std::memory_order_relaxed);
    gEngine.metronomeOn.store(m.metronomeOn, std::memory_order_relaxed);
    gEngine.dcRemoverOn.store(m.dcRemoverOn, std::memory_order_relaxed);
}

RecorderSettings currentRecorder() {
    RecorderSettings r;
    r.dryOnly = gEngine.recordDryOnly.load(std::memory_order_relaxed);
    r.startAccompaniment = gRecorder.startAccompaniment;
    r.ramMode = gRecorder.ramMode;
    r.formatIndex = gRecorder.formatIndex;
    r.maxSeconds = gRecorder.maxSeconds;
    return r;
}

void applyRecorder(const RecorderSettings& r) {
    gEngine.recordDryOnly.store(r.dryOnly, std::memory_order_relaxed);
    gRecorder.startAccompaniment = r.startAccompaniment;
    gRecorder.ramMode = r.ramMode;
    gRecorder.formatIndex = r.formatIndex;
    gRecorder.maxSeconds = r.maxSeconds;
}

}  // namespace

// The window positions of the Master Section and the meters, as they last
// reported themselves.
WindowPositions gWindowPositions;

bool ReadSettingsValue(void* key, const char* name, uint32_t& type, uint8_t* data, size_t& size) {
    DWORD t = 0, bytes = static_cast<DWORD>(size);
    if (RegQueryValueExA(static_cast<HKEY>(key), name, nullptr, &t, data, &bytes) != ERROR_SUCCESS) return false;
    type = t;
    size = bytes;
    return true;
}

int32_t LoadSettings() {
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, kSettingsKey, 0, KEY_READ, &key) != ERROR_SUCCESS) return -1;
    if (!key) return 0;

    // Every value is decoded first (settings.cpp), then applied in order.
    StoredSettings stored;
    stored.device.latencyMs = dsSettings().latencyMs;
    stored.device.formatIndex = dsSettings().formatIndex;
    stored.device.buffers = dsSettings().buffers;
    stored.device.outputDelayMs = dsSettings().outputDelayMs;
    stored.master = currentMaster();
    stored.recorder = currentRecorder();
    stored.positions = gWindowPositions;
    readStoredSettings(ReadSettingsValue, key, stored);
    RegCloseKey(key);

    const int32_t inputIndex = stored.dxInput[0] ? indexOfDevice(dsCaptureDevices(), stored.dxInput) : -1;
    const int32_t outputIndex = stored.dxOutput[0] ? indexOfDevice(dsPlaybackDevices(), stored.dxOutput) : -1;

    const DeviceSettings& device = stored.device;
    dsSettings().outputDelayMs = device.outputDelayMs;
    gAsioHost.systemReference = gShell.frame;
    if (device.system == kAudioSystemDirectSound) {
        ReportResult(dsApplySettings(outputIndex, inputIndex, device.formatIndex, device.latencyMs, device.buffers,
                                     gShell.frame));
    } else {
        dsSettings().latencyMs = device.latencyMs;
        dsSettings().formatIndex = device.formatIndex;
        dsSettings().buffers = device.buffers;
        ReportResult(asioOpen(stored.asioDevice));
        gAudioSystem = kAudioSystemAsio;
        if (asioCurrentIndex(gAsioLoader) >= 0) SetMenuItemEnabled(IDM_ASIO_CONTROL_PANEL, true);
    }

    // WASAPI finds its endpoints when live input starts; the DirectSound
    // devices stay open as they were stored, for the day DirectSound is
    // chosen again (and for releases that know only DirectSound).
    if (wasapiChosen(stored))
        wasapiApply(stored.wasapi.mode, wasapiEndpointId(stored.wasapiInput), wasapiEndpointId(stored.wasapiOutput));

    if (stored.haveMaster) {
        applyMaster(stored.master);
        SetMenuItemChecked(IDM_METRONOME, stored.master.metronomeOn);
    }
    if (stored.haveRecorder) applyRecorder(stored.recorder);
    LoadAllSeparate();

    const FramePlacement& placement = stored.placement;
    if (stored.havePlacement && placement.showState != SW_SHOWMAXIMIZED && placement.haveRectangle)
        SetWindowPos(gShell.frame, nullptr, placement.left, placement.top, placement.right - placement.left,
                     placement.bottom - placement.top, SWP_NOZORDER | SWP_NOACTIVATE);
    gWindowPositions = stored.positions;
    if (stored.havePositions && gWindowPositions.masterOpen) ShowMasterSection();

    // A stored path replaces the one the program has only when it was read.
    if (stored.lastOpenPath[0]) std::memcpy(gPerformanceShell.lastOpenPath, stored.lastOpenPath, kSavedPathBuffer);
    if (stored.lastSavePath[0]) std::memcpy(gPerformanceShell.lastSavePath, stored.lastSavePath, kSavedPathBuffer);
    if (stored.lastAccompanimentPath[0])
        std::memcpy(gShell.lastAccompanimentPath, stored.lastAccompanimentPath, kSavedPathBuffer);
    return stored.havePlacement ? placement.showState : SW_SHOWNORMAL;
}

int32_t SaveSettings() {
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, kSettingsKey, 0, KEY_WRITE, &key) != ERROR_SUCCESS || !key) return -1;

    const char* output = deviceDescription(dsPlaybackDevices(), dsSettings().outputIndex);
    const char* input = deviceDescription(dsCaptureDevices(), dsSettings().inputIndex);
    writeString(key, "DxOutput", output ? output : "<none>");
    writeString(key, "DxInput", input ? input : "<none>");
    char asioName[kAsioShortName + 1] = "";
    writeString(key, "AsioDevice", asioGetCurrentDriverName(gAsioLoader, asioName) && asioName[0] ? asioName : "<none>");

    DeviceSettings device;
    // WASAPI is stored beside the device record, which says DirectSound.
    device.system = gAudioSystem == kAudioSystemAsio ? 1u : 0u;
    device.latencyMs = dsSettings().latencyMs;
    device.formatIndex = dsSettings().formatIndex;
    device.buffers = dsSettings().buffers;
    device.outputDelayMs = dsSettings().outputDelayMs;
    uint8_t st001[kSt001Size], st002[kSt002Size], st003[kSt003Size], ww001[kWw001Size], ww002[kWw002Size];
    encodeDeviceSettings(device, st001);
    encodeMasterSettings(currentMaster(), st002);
    encodeRecorderSettings(currentRecorder(), st003);
    writeBinary(key, "st001", st001, sizeof st001);
    WasapiChoice wasapi;
    wasapi.chosen = gAudioSystem == kAudioSystemWasapi;
    wasapi.mode = wasapiSettings().mode;
    std::memcpy(wasapi.deviceRecord, st001, sizeof st001);
    uint8_t st004[kSt004Size];
    encodeWasapiChoice(wasapi, st004);
    writeBinary(key, "st004", st004, sizeof st004);
    writeString(key, "WasapiInput", wasapiSettings().inputId[0] ? wasapiSettings().inputId : kWasapiDefaultToken);
    writeString(key, "WasapiOutput", wasapiSettings().outputId[0] ? wasapiSettings().outputId : kWasapiDefaultToken);
    writeBinary(key, "st002", st002, sizeof st002);
    writeBinary(key, "st003", st003, sizeof st003);

    // A minimised or maximised frame stores the rectangle it returns to, never
    // the parked rectangle of a minimised window.
    FramePlacement placement;
    WINDOWPLACEMENT wp{};
    wp.length = sizeof wp;
    RECT r{};
    if (gShell.frame && GetWindowPlacement(gShell.frame, &wp)) {
        placement.showState = wp.showCmd == SW_SHOWMINIMIZED ? 2 : (wp.showCmd == SW_SHOWMAXIMIZED ? 3 : 1);
        if (placement.showState == 1) GetWindowRect(gShell.frame, &r);
        else r = wp.rcNormalPosition;
    }
    placement.left = r.left;
    placement.right = r.right;
    placement.top = r.top;
    placement.bottom = r.bottom;
    encodeFramePlacement(placement, ww001);
    writeBinary(key, "ww001", ww001, sizeof ww001);

    WindowPositions positions = gWindowPositions;
    positions.masterOpen = gShell.masterSection && IsWindow(gShell.masterSection);
    encodeWindowPositions(positions, ww002);
    writeBinary(key, "ww002", ww002, sizeof ww002);

    writeString(key, "PrfLoad", gPerformanceShell.lastOpenPath);
    writeString(key, "PrfSave", gPerformanceShell.lastSavePath);
    writeString(key, "AccOpen", gShell.lastAccompanimentPath);
    RegCloseKey(key);
    return 0;
}

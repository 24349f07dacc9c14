// Live input: starting and stopping the selected devices, and the 50 ms
// refresh timer that repaints the meters and turns the engine's status bits
// into reports. Main thread only.
#include <windows.h>

#include <atomic>

#include "app/liveinput.h"
#include "app/meters.h"
#include "app/report.h"
#include "app/resource.h"
#include "app/shell_win32.h"
#include "audiofiles/accompaniment.h"
#include "audiofiles/recorder.h"
#include "devices/asiohost.h"
#include "devices/asioloader.h"
#include "devices/audiosystem.h"
#include "devices/directsound.h"
#include "devices/wasapi.h"
#include "engine/engine.h"
#include "host/host.h"

void (*gRecordingReadouts)() = nullptr;

namespace {

struct LiveInput {
    bool running = false;
    UINT_PTR timer = 0;
    // The timer's procedure may open a box (or the recorder's store
    // question), whose modal loop dispatches this very timer again.
    bool inTick = false;
    bool barShowedPlaying = false;
};
LiveInput live;

bool recording() { return gRecorder.recording.load(); }

void closeMeters() {
    ShowMeter(nullptr, kOutputMeter, true);
    ShowMeter(nullptr, kInputMeter, true);
}

void redrawLoadReadout() {
    if (!gShell.frame) return;
    if (HDC dc = GetDC(gShell.frame)) {
        DrawLoadReadout(dc);
        ReleaseDC(gShell.frame, dc);
    }
}

void positionTrackbar() {
    if (!gShell.accompanimentBar) return;
    const int p = accompanimentTrackbarPosition(gAccompaniment.position.load(std::memory_order_relaxed),
                                                gAccompaniment.dataSize);
    SendDlgItemMessageA(gShell.accompanimentBar, IDC_ACCOMP_POSITION, TBM_SETPOS, TRUE, p);
}

// Takes one bit out of engineStatus: set at this moment, and cleared in the
// same step so that the next tick (or a box's modal loop) does not act on
// it twice.
bool takeStatus(uint32_t bit) {
    return (gEngine.engineStatus.fetch_and(~bit, std::memory_order_relaxed) & bit) != 0;
}

// A restart for a device reason (the driver asked for it, or changed its
// size or rate): a take that is recording goes on in the same file or
// memory, and an accompaniment that was playing goes on where it was.
bool restartLiveInput() {
    const bool accompanimentPlayed = accompanimentShowsPlaying();
    const int32_t stopped = StopLiveInput(true);
    if (stopped != 0) {
        ReportResult(stopped);
        if (recording()) ReportResult(recorderStop());
        return false;
    }
    const int32_t started = StartLiveInput();
    if (started != 0) {
        ReportResult(started);
        // No device runs the take any longer: it is finished with what it has.
        if (recording()) ReportResult(recorderStop());
        closeMeters();
        return false;
    }
    if (accompanimentPlayed) accompanimentStart();
    return true;
}

void actOnStatus() {
    for (int i = 0; i < kLiveStatusCount; ++i) {
        const uint32_t bit = kLiveStatusOrder[i];
        if (!takeStatus(bit)) continue;
        const LiveStatusStep step = liveStatusStep(bit, recording(), wasapiFollowsDefault());
        // A restart that failed has said why: a message that it went on would be wrong.
        if (step.restart && !restartLiveInput()) continue;
        // A write error or a full recording may arrive when the recording has
        // already stopped (from its dialog): then there is nothing to stop.
        if (step.stopRecording && recording()) ReportResult(recorderStop());
        if (step.stopLiveInput) ReportResult(StopLiveInput(false));
        if (step.message) ReportResult(step.message);
    }
}

void CALLBACK refreshTick(HWND, UINT, UINT_PTR, DWORD) {
    if (live.inTick || !live.running) return;
    live.inTick = true;
    wrappersIdle();
    CheckSeparatePlugins();
    redrawLoadReadout();
    UpdateLatencyStatus(true);
    if (accompanimentIsOpen()) {
        // The audio thread serves a stop request at a block boundary; the bar
        // follows once what the button should show has changed.
        const bool showsPlaying = accompanimentShowsPlaying();
        if (showsPlaying != live.barShowedPlaying) {
            live.barShowedPlaying = showsPlaying;
            UpdateAccompanimentBar();
        }
        if (gAccompaniment.playing.load()) positionTrackbar();
    }
    if (recording()) {
        // A crash or a kill from now on loses at most about a second of the take.
        recorderKeepHeader(GetTickCount64());
        if (gRecordingReadouts) gRecordingReadouts();
    }
    if (gShell.outputMeter && IsWindow(gShell.outputMeter)) SendMessageA(gShell.outputMeter, WM_USER, 0, 0);
    if (gShell.inputMeter && IsWindow(gShell.inputMeter)) SendMessageA(gShell.inputMeter, WM_USER, 0, 0);
    actOnStatus();
    live.inTick = false;
}

// Every loaded wrapper, in wrapper order: processing off, and on again for
// a start (a start tells them even when it is then refused).
void tellWrappers(bool on) {
    const int count = wrapperCount();
    for (int w = 0; w < count; ++w) {
        wrapperSetProcessing(w, false);
        if (on) wrapperSetProcessing(w, true);
    }
}

}  // namespace

bool LiveInputRunning() { return live.running; }

int32_t StartLiveInput() {
    if (live.running) return 0;
    tellWrappers(true);
    if (gAudioSystem == kAudioSystemWasapi) {
        const int32_t result = wasapiStart();
        if (result != 0) {
            ReportResult(result);
            return result;
        }
    } else if (gAudioSystem == kAudioSystemAsio) {
        if (asioCurrentIndex(gAsioLoader) < 0) return kAsioNoDriverNotice;
        const int32_t result = asioStart();
        if (result != 0) {
            ReportResult(result);
            return result;
        }
    } else {
        const DsSettings& ds = dsSettings();
        if (ds.outputIndex < 0) return kDsNoOutputNotice;
        if (ds.inputIndex < 0) return kDsNoInputNotice;
        const int32_t result = dsStart();
        if (result != 0) {
            ReportResult(result);
            return result;
        }
    }
    live.running = true;
    live.barShowedPlaying = accompanimentShowsPlaying();
    if (!live.timer) live.timer = SetTimer(nullptr, 0, 50, refreshTick);
    UpdateLatencyStatus(true);
    UpdateAccompanimentBar();
    // A recording starts live input itself and leaves the item as it was.
    if (!recording()) SetMenuItemChecked(IDM_LIVE_INPUT, true);
    StageLiveInputStarted();
    return 0;
}

int32_t StopLiveInput(bool keepMeters) {
    if (!live.running) return 0;
    // Whichever back-end streams (the system cannot change while live input
    // runs; both are asked all the same). The result goes to the caller, who
    // reports it: reporting it here too would show the box twice.
    int32_t result = 0;
    if (dsStreaming()) result = dsStop();
    if (wasapiStreaming()) result = wasapiStop();
    if (gAsioHost.running) {
        const int32_t stopped = asioStop();
        if (result == 0) result = stopped;
    }
    // Killed before anything below reports: no tick may run on a stopped device.
    KillLiveInputTimer();
    gEngine.processingEnabled.store(true);
    gEngine.inputPeakL.store(0.0f, std::memory_order_relaxed);
    gEngine.inputPeakR.store(0.0f, std::memory_order_relaxed);
    gEngine.outputPeakL.store(0.0f, std::memory_order_relaxed);
    gEngine.outputPeakR.store(0.0f, std::memory_order_relaxed);
    gEngine.cpuUsagePercent.store(0.0f, std::memory_order_relaxed);
    redrawLoadReadout();
    // The device has stopped: no block is left to serve a stop request.
    accompanimentHalt();
    live.running = false;
    if (!keepMeters) closeMeters();
    UpdateLatencyStatus(false);
    engineRelease(gEngine);
    tellWrappers(false);
    UpdateAccompanimentBar();
    SetMenuItemChecked(IDM_LIVE_INPUT, false);
    return result;
}

void KillLiveInputTimer() {
    if (live.timer) KillTimer(nullptr, live.timer);
    live.timer = 0;
}

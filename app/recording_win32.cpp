// The "Recording:" dialog: target file, format, options, start and stop,
// and the read-outs of a running take. The texts, limits and which control
// may be used when come from recording.cpp; the take itself is the
// recorder's (audiofiles/recorder.cpp). Main thread only.
//
// The dialog is modal. Live input runs only while a take runs: the
// recorder starts and stops it through the hooks set here, and live
// input's 50 ms refresh timer, which keeps running in this dialog's modal
// loop, refreshes the read-outs and stops the take on a write error or when
// it is full. Whoever stops it, the recorder's `stopped` hook brings the
// dialog back to its idle state.
#include <windows.h>
#include <commdlg.h>

#include <cstdio>

#include "app/recording.h"
#include "app/report.h"
#include "app/resource.h"
#include "app/shell_win32.h"
#include "app/meters.h"
#include "audiofiles/accompaniment.h"
#include "audiofiles/recorder.h"
#include "devices/asioloader.h"
#include "devices/audiosystem.h"
#include "devices/directsound.h"
#include "engine/engine.h"

namespace {

struct RecordingDialog {
    HWND window = nullptr;
};
RecordingDialog dialog;

HWND control(int id) { return GetDlgItem(dialog.window, id); }

void setText(int id, const char* text) {
    if (dialog.window) SetDlgItemTextA(dialog.window, id, text);
}

bool isChecked(int id) { return IsDlgButtonChecked(dialog.window, id) == BST_CHECKED; }

// ---- the controls ----

void showTarget() { setText(IDC_RECORD_TARGET, gRecorder.target[0] ? gRecorder.target : kRecordingNoTarget); }

void showMaxTime() {
    char text[32];
    recordingSecondsText(gRecorder.maxSeconds, text, sizeof text);
    setText(IDC_RECORD_MAX_TIME, text);
}

// What the edit holds now. Read again at Start and at Done: Enter presses
// the default button while the edit still has the focus, so its kill-focus
// never comes.
void applyMaxTime() {
    if (!dialog.window) return;
    char typed[32] = "";
    GetDlgItemTextA(dialog.window, IDC_RECORD_MAX_TIME, typed, sizeof typed);
    gRecorder.maxSeconds = recordingParseSeconds(typed);
    showMaxTime();
}

void enableControls() {
    const RecordingControls c = recordingControls(gRecorder.recording.load(), accompanimentIsOpen(), gRecorder.ramMode);
    EnableWindow(control(IDC_RECORD_TARGET), c.target);
    EnableWindow(control(IDC_RECORD_CHOOSE), c.target);
    EnableWindow(control(IDC_RECORD_FORMATS), c.formats);
    EnableWindow(control(IDC_RECORD_START_ACCOMPANIMENT), c.accompanimentOptions);
    EnableWindow(control(IDC_RECORD_DRY_ONLY), c.accompanimentOptions);
    EnableWindow(control(IDC_RECORD_TO_RAM), c.ramMode);
    EnableWindow(control(IDC_RECORD_MAX_TIME), c.maxTime);
    EnableWindow(control(IDC_RECORD_MAX_TIME_LABEL), c.maxTime);
}

// The refresh timer's step while a take runs (also set as its hook).
void showReadouts() {
    if (!dialog.window || !gRecorder.recording.load()) return;
    recorderWatchFile();
    char text[64];
    const uint32_t frames = gRecorder.framesRecorded.load(std::memory_order_relaxed);
    recordingTimeText(frames, gRecorder.format.nSamplesPerSec, text, sizeof text);
    setText(IDC_RECORD_TIME, text);
    recordingSizeText(frames, gRecorder.format.nBlockAlign, text, sizeof text);
    setText(IDC_RECORD_SIZE, text);
}

void showIdle(const char* startText) {
    setText(IDC_RECORD_START, startText);
    setText(IDC_RECORD_TIME, kRecordingIdleTime);
    setText(IDC_RECORD_SIZE, kRecordingIdleSize);
    enableControls();
}

// ---- the target ----

// The save dialog; a path the recorder may not write (the accompaniment's
// file) is refused with its message and the target stays as it was.
bool chooseTarget(HWND owner) {
    char path[MAX_PATH];
    std::snprintf(path, sizeof path, "%s", gRecorder.target);
    OPENFILENAMEA file{};
    file.lStructSize = sizeof file;
    file.hwndOwner = owner;
    file.lpstrFilter = "Microsoft Wave Files (*.wav)\0*.wav\0";
    file.lpstrFile = path;
    file.nMaxFile = sizeof path;
    file.lpstrTitle = "Wave File To Record";
    file.lpstrDefExt = "wav";
    file.Flags = OFN_HIDEREADONLY | OFN_OVERWRITEPROMPT;
    if (!GetSaveFileNameA(&file)) return false;
    if (const int32_t refused = recorderCheckTarget(path)) {
        ReportResult(refused);
        return false;
    }
    std::snprintf(gRecorder.target, sizeof gRecorder.target, "%s", path);
    // The save dialog asked before overwriting: the next start need not.
    gRecorder.targetConfirmed = true;
    showTarget();
    return true;
}

// ---- the recorder's hooks ----

int32_t startLiveInputHook() { return StartLiveInput(); }

void stopLiveInputHook() { ReportResult(StopLiveInput(false)); }

bool askStoreHook() {
    if (questionBox(dialog.window, kRecordingStoreQuestion, kRecordingStoreCaption, MB_YESNO | MB_ICONQUESTION) !=
        IDYES)
        return false;
    SetCursor(LoadCursorA(nullptr, IDC_WAIT));
    return true;
}

const char* accompanimentPathHook() { return accompanimentIsOpen() ? gAccompaniment.path : nullptr; }

bool confirmOverwriteHook(const char* path) {
    char text[2 * MAX_PATH];
    recordingOverwriteQuestion(path, text, sizeof text);
    return questionBox(dialog.window, text, kRecordingOverwriteCaption, MB_YESNO | MB_ICONWARNING) == IDYES;
}

// The memory still holds the take: say what went wrong, then offer the
// save dialog again until the user stores it or gives up.
bool offerAnotherTargetHook(int32_t failure) {
    ReportResult(failure);
    if (questionBox(dialog.window, kRecordingStoreAgainQuestion, kRecordingStoreCaption, MB_YESNO | MB_ICONQUESTION) !=
        IDYES)
        return false;
    if (!chooseTarget(dialog.window)) return false;
    SetCursor(LoadCursorA(nullptr, IDC_WAIT));
    return true;
}

// Full long form, so that a short (8.3) name, a relative path or another
// case of the accompaniment's file is still recognised. A file that does
// not exist yet has no long form; its full path then stands.
bool fullPathHook(const char* path, char* out, size_t size) {
    char full[MAX_PATH];
    const DWORD length = GetFullPathNameA(path, sizeof full, full, nullptr);
    if (length == 0 || length >= sizeof full) return false;
    char longForm[MAX_PATH];
    const DWORD longLength = GetLongPathNameA(full, longForm, sizeof longForm);
    const char* chosen = longLength > 0 && longLength < sizeof longForm ? longForm : full;
    return std::snprintf(out, size, "%s", chosen) < static_cast<int>(size);
}

void stoppedHook() {
    if (!dialog.window) return;
    showIdle(kRecordingStartText);
    SetCursor(LoadCursorA(nullptr, IDC_ARROW));
}

void connectRecorder() {
    gRecorder.startLiveInput = startLiveInputHook;
    gRecorder.stopLiveInput = stopLiveInputHook;
    gRecorder.askStore = askStoreHook;
    gRecorder.accompanimentPath = accompanimentPathHook;
    gRecorder.startAccompanimentPlaying = accompanimentStart;
    gRecorder.stopAccompanimentPlaying = accompanimentStop;
    gRecorder.confirmOverwrite = confirmOverwriteHook;
    gRecorder.offerAnotherTarget = offerAnotherTargetHook;
    gRecorder.fullPath = fullPathHook;
    gRecorder.stopped = stoppedHook;
}

// ---- start and stop ----

void stopRecording() {
    // Taken before the stop clears it: a write error the refresh timer has
    // not seen yet is reported here instead.
    const bool writeError = (gRecorder.engine->engineStatus.load() & STATUS_RECORD_WRITE_ERROR) != 0;
    ReportResult(recorderStop());
    if (writeError) ReportResult(kRecordWriteError);
}

// A failure after the file and the pool were made abandons the start;
// refusals before that leave the button as it was.
bool abandoned(int32_t result) {
    return result != kRecordIsAccompaniment && result != kRecordUnsupported && result != kRecordCannotCreate &&
           result != kRecordHeaderError;
}

void startRecording() {
    applyMaxTime();
    if (!gRecorder.target[0] && !chooseTarget(dialog.window)) return;
    const int32_t result = recorderStart();
    if (result != 0) {
        ReportResult(result);
        if (abandoned(result)) showIdle(kRecordingAbandonedText);
        return;
    }
    if (!gRecorder.recording.load()) return;  // the user kept the existing file
    ShowMeter(dialog.window, kOutputMeter, false);
    ShowMeter(dialog.window, kInputMeter, false);
    setText(IDC_RECORD_START, kRecordingStopText);
    enableControls();
    showReadouts();
}

void closeDialog() {
    applyMaxTime();
    if (gRecorder.recording.load()) stopRecording();
    EndDialog(dialog.window, 0);
}

// ---- the dialog ----

void initDialog(HWND window) {
    dialog.window = window;
    const HWND formats = control(IDC_RECORD_FORMATS);
    for (int i = 0; i < kRecordingFormatCount; ++i) {
        char name[64];
        recordingFormatName(i, name, sizeof name);
        SendMessageA(formats, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(name));
    }
    gRecorder.formatIndex = recordingLimitFormat(gRecorder.formatIndex);
    // The settings limit both already; the dialog does not rely on it.
    gRecorder.maxSeconds = recorderLimitSeconds(gRecorder.maxSeconds);
    SendMessageA(formats, CB_SETCURSEL, gRecorder.formatIndex, 0);
    CheckDlgButton(window, IDC_RECORD_START_ACCOMPANIMENT, gRecorder.startAccompaniment ? BST_CHECKED : BST_UNCHECKED);
    CheckDlgButton(window, IDC_RECORD_DRY_ONLY,
                   gEngine.recordDryOnly.load(std::memory_order_relaxed) ? BST_CHECKED : BST_UNCHECKED);
    CheckDlgButton(window, IDC_RECORD_TO_RAM, gRecorder.ramMode ? BST_CHECKED : BST_UNCHECKED);
    showMaxTime();
    showTarget();
    showIdle(kRecordingStartText);
    gRecordingReadouts = showReadouts;
}

void onCommand(int id, int code) {
    switch (id) {
        case IDC_RECORD_CHOOSE:
            if (code == BN_CLICKED) chooseTarget(dialog.window);
            break;
        case IDC_RECORD_FORMATS:
            if (code == CBN_SELCHANGE) {
                const LRESULT selected = SendMessageA(control(IDC_RECORD_FORMATS), CB_GETCURSEL, 0, 0);
                gRecorder.formatIndex = recordingLimitFormat(static_cast<int>(selected));
            }
            break;
        case IDC_RECORD_START_ACCOMPANIMENT:
            if (code == BN_CLICKED) gRecorder.startAccompaniment = isChecked(id);
            break;
        case IDC_RECORD_DRY_ONLY:
            if (code == BN_CLICKED) gEngine.recordDryOnly.store(isChecked(id), std::memory_order_relaxed);
            break;
        case IDC_RECORD_TO_RAM:
            if (code == BN_CLICKED) {
                gRecorder.ramMode = isChecked(id);
                showMaxTime();
                enableControls();
            }
            break;
        case IDC_RECORD_MAX_TIME:
            if (code == EN_KILLFOCUS) applyMaxTime();
            break;
        case IDC_RECORD_START:
            if (code != BN_CLICKED) break;
            if (gRecorder.recording.load())
                stopRecording();
            else
                startRecording();
            break;
        case IDC_RECORD_DONE:
        case IDCANCEL: closeDialog(); break;
        default: break;
    }
}

INT_PTR CALLBACK recordingProc(HWND window, UINT message, WPARAM wParam, LPARAM) {
    switch (message) {
        case WM_INITDIALOG: initDialog(window); return TRUE;
        case WM_COMMAND: onCommand(LOWORD(wParam), HIWORD(wParam)); return TRUE;
        case WM_CLOSE: closeDialog(); return TRUE;
        case WM_DESTROY:
            gRecordingReadouts = nullptr;
            dialog.window = nullptr;
            return FALSE;
        default: return FALSE;
    }
}

}  // namespace

// Runs the dialog modally, owned by the MDI client. Live input has been
// stopped by the command; the dialog only opens when it could run again.
void RunRecordingDialog() {
    const DsSettings& ds = dsSettings();
    int32_t refused = recordingOpenCheck(gAudioSystem == kAudioSystemAsio, ds.outputIndex, ds.inputIndex,
                                               asioCurrentIndex(gAsioLoader));
    // WASAPI finds its endpoints (or the defaults) when live input starts.
    if (gAudioSystem == kAudioSystemWasapi) refused = 0;
    if (refused != 0) {
        ReportResult(refused);
        return;
    }
    connectRecorder();
    DialogBoxParamA(gShell.instance, MAKEINTRESOURCEA(IDD_RECORDING), gShell.mdiClient, recordingProc, 0);
    // The dialog never closes with a take running; should it be destroyed
    // some other way, the take is still finished.
    if (gRecorder.recording.load()) ReportResult(recorderStop());
}

// The "Audio Settings:" dialog: device system, DirectSound devices with
// format, latency, buffers and output delay, the ASIO driver, the tempo.
// The mappings, texts and limits are audiosettings.cpp's; this file fills
// the controls, routes their notifications and applies Accept through the
// device layers. Main (user-interface) thread only.
#include <windows.h>
#include <commctrl.h>

#include "app/audiosettings.h"
#include "app/report.h"
#include "app/resource.h"
#include "app/shell_win32.h"
#include "devices/asiohost.h"
#include "devices/asioloader.h"
#include "devices/audiosystem.h"
#include "devices/directsound.h"
#include "devices/wasapi.h"
#include "engine/engine.h"
#include "host/host.h"

namespace {

constexpr int kTextBuffer = 64;
constexpr int kDriverNameBuffer = 100;

// ---- small control helpers ----

LRESULT itemMessage(HWND dialog, int id, UINT message, WPARAM wParam = 0, LPARAM lParam = 0) {
    return SendDlgItemMessageA(dialog, id, message, wParam, lParam);
}

// The selected item of a combo box, -1 (CB_ERR) when there is none.
int comboSelection(HWND dialog, int id) { return static_cast<int>(itemMessage(dialog, id, CB_GETCURSEL)); }

void editText(HWND dialog, int id, char* out, int size) {
    if (GetDlgItemTextA(dialog, id, out, size) <= 0) out[0] = '\0';
}

// ---- the values the edits stand for ----

void showLatency(HWND dialog, uint32_t latencyMs) {
    char text[kTextBuffer];
    formatLatency(latencyMs, text, sizeof text);
    SetDlgItemTextA(dialog, IDC_AUDIO_LATENCY, text);
}

void showTempo(HWND dialog, float bpm) {
    char text[kTextBuffer];
    formatTempo(bpm, text, sizeof text);
    SetDlgItemTextA(dialog, IDC_AUDIO_TEMPO, text);
}

void showOutputDelay(HWND dialog, uint32_t delay) {
    char text[kTextBuffer];
    formatOutputDelay(delay, text, sizeof text);
    SetDlgItemTextA(dialog, IDC_AUDIO_DELAY, text);
}

// The tempo takes effect at once, in the engine and in every wrapper (in
// wrapper order), whatever becomes of the dialog.
void applyTempo(float bpm) {
    gEngine.metronomeTempo.store(bpm, std::memory_order_relaxed);
    for (int w = 0; w < wrapperCount(); ++w) wrapperSetTempo(w, bpm);
}

void showSystem(HWND dialog, uint32_t system) {
    CheckDlgButton(dialog, IDC_AUDIO_DIRECTSOUND, system == kSystemDirectSound ? BST_CHECKED : BST_UNCHECKED);
    CheckDlgButton(dialog, IDC_AUDIO_ASIO, system == kSystemAsio ? BST_CHECKED : BST_UNCHECKED);
    CheckDlgButton(dialog, IDC_AUDIO_WASAPI, system == kSystemWasapi ? BST_CHECKED : BST_UNCHECKED);
    for (int i = 0; i < kAudioGroupControlCount; ++i) {
        const int id = kAudioGroupControls[i];
        if (HWND control = GetDlgItem(dialog, id)) EnableWindow(control, audioControlEnabled(id, system));
    }
}

// The ASIO control panel can be asked for exactly while a driver is open.
void refreshAsioPanelItem() { SetMenuItemEnabled(IDM_ASIO_CONTROL_PANEL, asioCurrentIndex(gAsioLoader) >= 0); }

// ---- filling the lists ----

void fillDeviceList(HWND dialog, int id, const DsDevice* devices, int32_t selected) {
    itemMessage(dialog, id, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>("<none>"));
    for (const DsDevice* d = devices; d; d = d->next) {
        // The description came from the platform: make sure it ends.
        char description[kDsDescription + 1];
        lstrcpynA(description, d->description, sizeof description);
        itemMessage(dialog, id, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(description));
    }
    if (itemMessage(dialog, id, CB_SETCURSEL, static_cast<WPARAM>(selected + 1)) == CB_ERR)
        itemMessage(dialog, id, CB_SETCURSEL, 0);
}

void fillFormatList(HWND dialog, int current) {
    for (int index = 0; index < kAudioFormatCount; ++index) {
        char name[kTextBuffer];
        audioFormatName(index, name, sizeof name);
        const LRESULT item = itemMessage(dialog, IDC_AUDIO_FORMATS, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(name));
        if (item >= 0) itemMessage(dialog, IDC_AUDIO_FORMATS, LB_SETITEMDATA, static_cast<WPARAM>(item), index);
    }
    if (current >= 0 && current < kAudioFormatCount)
        itemMessage(dialog, IDC_AUDIO_FORMATS, LB_SETCURSEL, static_cast<WPARAM>(current));
}

void fillBufferList(HWND dialog, int32_t current) {
    for (int item = 0; item < kBufferChoices; ++item) {
        char text[kTextBuffer];
        formatOutputDelay(static_cast<uint32_t>(bufferCountOfItem(item)), text, sizeof text);
        itemMessage(dialog, IDC_AUDIO_BUFFERS, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text));
    }
    const int item = bufferItemOfCount(current);
    if (item >= 0) itemMessage(dialog, IDC_AUDIO_BUFFERS, CB_SETCURSEL, static_cast<WPARAM>(item));
}

void fillDriverList(HWND dialog) {
    itemMessage(dialog, IDC_AUDIO_ASIO_DRIVER, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>("<none>"));
    const int32_t count = asioGetNumDev(gAsioNames);
    for (int32_t id = 0; id < count; ++id) {
        char name[kDriverNameBuffer];
        if (asioGetDriverName(gAsioNames, id, name, sizeof name) != 0) name[0] = '\0';
        itemMessage(dialog, IDC_AUDIO_ASIO_DRIVER, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(name));
    }
    const int32_t current = asioCurrentIndex(gAsioLoader);
    if (itemMessage(dialog, IDC_AUDIO_ASIO_DRIVER, CB_SETCURSEL, static_cast<WPARAM>(current + 1)) == CB_ERR)
        itemMessage(dialog, IDC_AUDIO_ASIO_DRIVER, CB_SETCURSEL, 0);
}

// "Default device", then the endpoints by their friendly names; the chosen
// id selects its item (a stored endpoint that is gone: the default).
void fillEndpointList(HWND dialog, int id, bool capture, const char* chosen) {
    itemMessage(dialog, id, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>("Default device"));
    int selected = 0;
    for (int i = 0; i < wasapiDeviceCount(capture); ++i) {
        const WasapiDevice* d = wasapiDeviceAt(capture, i);
        itemMessage(dialog, id, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(d->name));
        if (chosen[0] && lstrcmpA(chosen, d->id) == 0) selected = i + 1;
    }
    itemMessage(dialog, id, CB_SETCURSEL, static_cast<WPARAM>(selected));
}

void fillWasapiGroup(HWND dialog) {
    wasapiEnumerate();
    const WasapiSettings& w = wasapiSettings();
    fillEndpointList(dialog, IDC_WASAPI_INPUT, true, w.inputId);
    fillEndpointList(dialog, IDC_WASAPI_OUTPUT, false, w.outputId);
    for (uint32_t mode = 0; mode < kWasapiModeCount; ++mode)
        itemMessage(dialog, IDC_WASAPI_MODE, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(wasapiModeName(mode)));
    itemMessage(dialog, IDC_WASAPI_MODE, CB_SETCURSEL, static_cast<WPARAM>(w.mode));
    char readout[128];
    const WasapiStream& last = wasapiLastStream();
    formatWasapiReadout(last.rate ? &last : nullptr, wasapiModeName(last.mode), readout, sizeof readout);
    SetDlgItemTextA(dialog, IDC_WASAPI_READOUT, readout);
}

uint32_t currentSystem() {
    return gAudioSystem == kAudioSystemAsio ? kSystemAsio : gAudioSystem == kAudioSystemWasapi ? kSystemWasapi
                                                                                                : kSystemDirectSound;
}

void initialise(HWND dialog) {
    ReportResult(StopLiveInput(false));
    const DsSettings& ds = dsSettings();
    const float tempo = gEngine.metronomeTempo.load(std::memory_order_relaxed);

    itemMessage(dialog, IDC_AUDIO_LATENCY_SLIDER, TBM_SETRANGE, FALSE, MAKELPARAM(0, kLatencyTrackbarMax));
    itemMessage(dialog, IDC_AUDIO_LATENCY_SLIDER, TBM_SETPOS, TRUE, latencyToTrackbar(ds.latencyMs));
    itemMessage(dialog, IDC_AUDIO_TEMPO_SLIDER, TBM_SETRANGE, FALSE, MAKELPARAM(0, kTempoTrackbarMax));
    itemMessage(dialog, IDC_AUDIO_TEMPO_SLIDER, TBM_SETPOS, TRUE, tempoToTrackbar(tempo));

    fillDeviceList(dialog, IDC_AUDIO_OUTPUT, dsPlaybackDevices(), ds.outputIndex);
    fillDeviceList(dialog, IDC_AUDIO_INPUT, dsCaptureDevices(), ds.inputIndex);
    fillFormatList(dialog, ds.formatIndex);
    showLatency(dialog, ds.latencyMs);
    showTempo(dialog, tempo);
    fillBufferList(dialog, ds.buffers);
    showOutputDelay(dialog, ds.outputDelayMs);
    fillDriverList(dialog);
    fillWasapiGroup(dialog);
    showSystem(dialog, currentSystem());
}

// ---- notifications ----

void latencyLeft(HWND dialog) {
    char text[kTextBuffer];
    editText(dialog, IDC_AUDIO_LATENCY, text, sizeof text);
    const uint32_t latency = latencyFromText(text);
    showLatency(dialog, latency);
    itemMessage(dialog, IDC_AUDIO_LATENCY_SLIDER, TBM_SETPOS, TRUE, latencyToTrackbar(latency));
}

void outputDelayLeft(HWND dialog) {
    char text[kTextBuffer];
    editText(dialog, IDC_AUDIO_DELAY, text, sizeof text);
    showOutputDelay(dialog, outputDelayFromText(text));
}

void tempoLeft(HWND dialog) {
    char text[kTextBuffer];
    editText(dialog, IDC_AUDIO_TEMPO, text, sizeof text);
    const float tempo = tempoFromText(text);
    showTempo(dialog, tempo);
    itemMessage(dialog, IDC_AUDIO_TEMPO_SLIDER, TBM_SETPOS, TRUE, tempoToTrackbar(tempo));
    applyTempo(tempo);
}

void trackbarMoved(HWND dialog, HWND trackbar) {
    const int32_t position = static_cast<int32_t>(SendMessageA(trackbar, TBM_GETPOS, 0, 0));
    switch (GetDlgCtrlID(trackbar)) {
        case IDC_AUDIO_LATENCY_SLIDER: showLatency(dialog, latencyFromTrackbar(position)); break;
        case IDC_AUDIO_TEMPO_SLIDER: {
            const float tempo = tempoFromTrackbar(position);
            applyTempo(tempo);
            showTempo(dialog, tempo);
            break;
        }
    }
}

// ---- Accept ----

AudioDialogChoice readControls(HWND dialog, char (&latency)[kTextBuffer], char (&delay)[kTextBuffer],
                               char (&tempo)[kTextBuffer]) {
    AudioDialogControls c;
    c.asioChecked = IsDlgButtonChecked(dialog, IDC_AUDIO_ASIO) == BST_CHECKED;
    c.wasapiChecked = IsDlgButtonChecked(dialog, IDC_AUDIO_WASAPI) == BST_CHECKED;
    c.wasapiInputItem = comboSelection(dialog, IDC_WASAPI_INPUT);
    c.wasapiOutputItem = comboSelection(dialog, IDC_WASAPI_OUTPUT);
    c.wasapiModeItem = comboSelection(dialog, IDC_WASAPI_MODE);
    c.outputItem = comboSelection(dialog, IDC_AUDIO_OUTPUT);
    c.inputItem = comboSelection(dialog, IDC_AUDIO_INPUT);
    c.formatItem = static_cast<int>(itemMessage(dialog, IDC_AUDIO_FORMATS, LB_GETCURSEL));
    if (c.formatItem >= 0)
        c.formatItemData = itemMessage(dialog, IDC_AUDIO_FORMATS, LB_GETITEMDATA, static_cast<WPARAM>(c.formatItem));
    c.bufferItem = comboSelection(dialog, IDC_AUDIO_BUFFERS);
    c.asioItem = comboSelection(dialog, IDC_AUDIO_ASIO_DRIVER);
    editText(dialog, IDC_AUDIO_LATENCY, latency, kTextBuffer);
    editText(dialog, IDC_AUDIO_DELAY, delay, kTextBuffer);
    editText(dialog, IDC_AUDIO_TEMPO, tempo, kTextBuffer);
    c.latencyText = latency;
    c.delayText = delay;
    c.tempoText = tempo;
    return audioChoiceFromControls(c, dsSettings().formatIndex);
}

// Opens the chosen DirectSound devices; ASIO is closed first.
int32_t acceptDirectSound(const AudioDialogChoice& choice) {
    dsSettings().outputDelayMs = choice.outputDelay;
    ReportResult(asioOpen(""));
    const int32_t result = dsApplySettings(choice.outputIndex, choice.inputIndex, choice.formatIndex, choice.latencyMs,
                                           choice.buffers, gShell.frame);
    ReportResult(result);
    return result;
}

// Closes both DirectSound devices and opens the chosen driver. The driver
// is opened by the name the loader compares with (cut to 32 bytes the same
// way), so a driver with a long name opens too.
int32_t acceptAsio(const AudioDialogChoice& choice) {
    const DsSettings& ds = dsSettings();
    ReportResult(dsApplySettings(-1, -1, ds.formatIndex, ds.latencyMs, ds.buffers, gShell.frame));
    char name[kAsioShortName] = "";
    if (choice.asioDriver >= 0 && asioGetDriverName(gAsioNames, choice.asioDriver, name, sizeof name) != 0)
        name[0] = '\0';
    gAsioHost.systemReference = gShell.frame;
    // A listed driver whose name cannot be had is no driver to close to.
    const int32_t result = choice.asioDriver >= 0 && !name[0] ? kAsioOpenError : asioOpen(name);
    gAudioSystem = kAudioSystemAsio;
    ReportResult(result);
    return result;
}

// WASAPI: ASIO is closed; the DirectSound devices stay as they are (their
// names stay in the settings for the day DirectSound is chosen again).
int32_t acceptWasapi(const AudioDialogChoice& choice) {
    ReportResult(asioOpen(""));
    const WasapiDevice* in = wasapiDeviceAt(true, choice.wasapiInput);
    const WasapiDevice* out = wasapiDeviceAt(false, choice.wasapiOutput);
    wasapiApply(choice.wasapiMode, in ? in->id : "", out ? out->id : "");
    return 0;
}

void accept(HWND dialog) {
    char latency[kTextBuffer], delay[kTextBuffer], tempo[kTextBuffer];
    const AudioDialogChoice choice = readControls(dialog, latency, delay, tempo);
    // Show what is applied: a value typed out of range comes back limited.
    showLatency(dialog, choice.latencyMs);
    itemMessage(dialog, IDC_AUDIO_LATENCY_SLIDER, TBM_SETPOS, TRUE, latencyToTrackbar(choice.latencyMs));
    showOutputDelay(dialog, choice.outputDelay);
    showTempo(dialog, choice.tempo);
    itemMessage(dialog, IDC_AUDIO_TEMPO_SLIDER, TBM_SETPOS, TRUE, tempoToTrackbar(choice.tempo));
    applyTempo(choice.tempo);

    const int32_t result = choice.system == kSystemWasapi ? acceptWasapi(choice)
                           : choice.system == kSystemAsio ? acceptAsio(choice)
                                                          : acceptDirectSound(choice);
    refreshAsioPanelItem();
    if (result == 0) EndDialog(dialog, 1);
}

void command(HWND dialog, int id, int code) {
    switch (id) {
        case IDC_AUDIO_DIRECTSOUND:
            if (code == BN_CLICKED) showSystem(dialog, kSystemDirectSound);
            break;
        case IDC_AUDIO_ASIO:
            if (code == BN_CLICKED) showSystem(dialog, kSystemAsio);
            break;
        case IDC_AUDIO_WASAPI:
            if (code == BN_CLICKED) showSystem(dialog, kSystemWasapi);
            break;
        case IDC_AUDIO_LATENCY:
            if (code == EN_KILLFOCUS) latencyLeft(dialog);
            break;
        case IDC_AUDIO_DELAY:
            if (code == EN_KILLFOCUS) outputDelayLeft(dialog);
            break;
        case IDC_AUDIO_TEMPO:
            if (code == EN_KILLFOCUS) tempoLeft(dialog);
            break;
        case IDC_AUDIO_ACCEPT:
            if (code == BN_CLICKED) accept(dialog);
            break;
        case IDC_AUDIO_CANCEL:
        case IDCANCEL:
            // Tempo changes already made stay; the panel item follows
            // whatever an earlier, failed Accept left open.
            refreshAsioPanelItem();
            EndDialog(dialog, 0);
            break;
    }
}

INT_PTR CALLBACK audioSettingsProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_INITDIALOG: initialise(dialog); return TRUE;
        case WM_COMMAND: command(dialog, LOWORD(wParam), HIWORD(wParam)); return TRUE;
        case WM_HSCROLL:
            if (lParam) trackbarMoved(dialog, reinterpret_cast<HWND>(lParam));
            return TRUE;
    }
    return FALSE;
}

}  // namespace

// Runs the dialog modally, owned by the MDI client; live input stays
// stopped afterwards.
void RunAudioSettingsDialog() {
    DialogBoxParamA(gShell.instance, MAKEINTRESOURCEA(IDD_AUDIO_SETTINGS), gShell.mdiClient, audioSettingsProc, 0);
}

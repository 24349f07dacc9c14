// Playing live: the MIDI input ports and their timer, the learn menus,
// bindings applied to the program's controls, the set list window, song
// changes and tap tempo. The decisions are stagecontrol.cpp and setlist.cpp;
// this file routes them. Main thread only: the driver callbacks only queue.
#include <windows.h>
#include <windowsx.h>
#include <commdlg.h>
#include <mmsystem.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "app/gatepane.h"
#include "app/report.h"
#include "app/resource.h"
#include "app/setlist.h"
#include "app/shell_win32.h"
#include "app/stagecontrol.h"
#include "devices/midi.h"
#include "engine/engine.h"
#include "host/host.h"
#include "host/performance.h"
#include "host/songswitch.h"
#include "audiofiles/accompaniment.h"
#include "platform/platform.h"

StageControl gStage;

namespace {

constexpr int32_t kResultBindingsDamaged = 285;
constexpr int32_t kResultMidiUnplugged = 286;
constexpr int32_t kResultMidiCannotOpen = 287;

constexpr const char* kInputsSetting = "MidiInputs";
constexpr const char* kBindingsSetting = "MidiBindings";
// The test driver's messages: WM_COPYDATA with this tag, honoured only when
// the program was started with QV_TEST_MIDI=1 in its environment.
constexpr ULONG_PTR kTestMidiTag = 0x494D5651;  // "QVMI"

constexpr UINT kMenuLearn = 1, kMenuForget = 2, kMenuMomentary = 3, kMenuPickUp = 4;

UINT_PTR midiTimer = 0;
bool testPath = false;
char chosenInputs[kMidiMaxPorts][kMidiNameSize] = {};
int chosenCount = 0;
SetList gSetList;
TapTempo gTap;
HWND setListWindow = nullptr;
char statusText[128] = "";

void setStatus(const char* text) {
    std::snprintf(statusText, sizeof statusText, "%s", text ? text : "");
    SetStageStatus(statusText);
}

// ---- names ----

void targetName(uint8_t target, uint8_t a, uint16_t b, char* out, size_t size) {
    switch (target) {
        case kTargetKnob: {
            const char* name = a == kKnobOutput      ? "Output"
                               : a == kKnobInput     ? "Input"
                               : a == kKnobAttack    ? "Attack"
                               : a == kKnobRelease   ? "Release"
                                                     : "Threshold";
            std::snprintf(out, size, "%s knob", name);
            return;
        }
        case kTargetDcRemover: std::snprintf(out, size, "DC remover"); return;
        case kTargetBypass: std::snprintf(out, size, "slot %d bypass", a + 1); return;
        case kTargetParameter: {
            WrapperParameter p{};
            p.index = b;
            const ChainSlot& s = gEngine.chain[a & 7];
            if (s.instance && wrapperGetParameter(s.wrapperIndex & 0xFF, s.instance, p) == 0) {
                p.name[sizeof p.name - 1] = '\0';
                std::snprintf(out, size, "slot %d: %s", a + 1, p.name);
            } else {
                std::snprintf(out, size, "slot %d: parameter %d", a + 1, b + 1);
            }
            return;
        }
        case kTargetSongNext: std::snprintf(out, size, "Next Song"); return;
        case kTargetSongPrevious: std::snprintf(out, size, "Previous Song"); return;
        case kTargetTapTempo: std::snprintf(out, size, "Tap Tempo"); return;
        default: std::snprintf(out, size, "?"); return;
    }
}

// ---- settings ----

void saveMidiSettings() {
    char inputs[kMidiMaxPorts * kMidiNameSize + 1] = "";
    for (int i = 0; i < chosenCount; ++i) {
        const size_t used = std::strlen(inputs);
        std::snprintf(inputs + used, sizeof inputs - used, "%s%s", i ? "\n" : "", chosenInputs[i]);
    }
    platformWriteSetting(kInputsSetting, inputs);
    uint8_t blob[kBindingsChunkMax];
    const size_t size = stageWriteBindings(gStage.global, blob, sizeof blob);
    char hex[2 * kBindingsChunkMax + 1] = "";
    for (size_t i = 0; i < size; ++i) std::snprintf(hex + 2 * i, 3, "%02X", blob[i]);
    platformWriteSetting(kBindingsSetting, hex);
}

void loadMidiSettings() {
    char inputs[kMidiMaxPorts * kMidiNameSize + 1] = "";
    chosenCount = 0;
    if (platformReadSetting(kInputsSetting, inputs, sizeof inputs)) {
        for (char* line = inputs; *line && chosenCount < kMidiTestPort;) {
            char* end = std::strchr(line, '\n');
            if (end) *end = '\0';
            if (*line) std::snprintf(chosenInputs[chosenCount++], kMidiNameSize, "%s", line);
            if (!end) break;
            line = end + 1;
        }
    }
    char hex[2 * kBindingsChunkMax + 1] = "";
    if (!platformReadSetting(kBindingsSetting, hex, sizeof hex)) return;
    uint8_t blob[kBindingsChunkMax];
    const size_t length = std::strlen(hex);
    if (length % 2 || length / 2 > sizeof blob) return;
    for (size_t i = 0; i < length / 2; ++i) {
        char pair[3] = {hex[2 * i], hex[2 * i + 1], 0};
        char* end = nullptr;
        blob[i] = static_cast<uint8_t>(std::strtoul(pair, &end, 16));
        if (end != pair + 2) return;
    }
    stageReadBindings(blob, length / 2, gStage.global);  // a damaged value leaves none
}

// ---- the performance's bindings ----

size_t performanceBindings(uint8_t* out, size_t size) {
    return gStage.performance.count ? stageWriteBindings(gStage.performance, out, size) : 0;
}

bool takePerformanceBindings(const uint8_t* blob, uint32_t size) {
    if (stageReadBindings(blob, size, gStage.performance)) return true;
    gStage.performance.count = 0;
    ReportResult(kResultBindingsDamaged);
    return false;
}

void clearPerformanceBindings() {
    gStage.performance.count = 0;
    gStage.learning = false;
}

// ---- applying what a message asks ----

double currentValue(uint8_t target, uint8_t a, uint16_t b) {
    if (target == kTargetKnob) return gateKnobValue(a, EngineGateValues()) / static_cast<double>(kGateKnobMaximum);
    if (target == kTargetParameter) {
        const ChainSlot& s = gEngine.chain[a & 7];
        WrapperParameter p{};
        p.index = b;
        if (s.instance && wrapperGetParameter(s.wrapperIndex & 0xFF, s.instance, p) == 0) return p.value;
    }
    return -1.0;
}

void setKnob(uint8_t id, double value) {
    GateValues v = EngineGateValues();
    const int32_t position = static_cast<int32_t>(std::lround(value * kGateKnobMaximum));
    if (!gateApplyKnob(id, position, kGateKnobMaximum, v)) return;
    StoreEngineGateValue(id, v);
    MasterSectionShowValues();
}

void setSwitch(uint8_t target, uint8_t a, bool toggle, bool on) {
    if (target == kTargetDcRemover) {
        const bool now = gEngine.dcRemoverOn.load(std::memory_order_relaxed);
        gEngine.dcRemoverOn.store(toggle ? !now : on, std::memory_order_relaxed);
        MasterSectionShowValues();
        return;
    }
    const int slot = a & 7;
    const ChainSlot& s = gEngine.chain[slot];
    if (!s.instance) return;
    const bool active = wrapperInstanceActive(s.wrapperIndex & 0xFF, s.instance) > 0;
    if (toggle || active != on) chainToggleBypass(slot);
}

void tapTempo() {
    const double now = static_cast<double>(GetTickCount64()) / 1000.0;
    const float bpm = tapTempoTap(gTap, now);
    if (bpm <= 0.0f) return;
    gEngine.metronomeTempo.store(bpm, std::memory_order_relaxed);
    for (int w = 0; w < wrapperCount(); ++w) wrapperSetTempo(w, bpm);
    char text[64];
    std::snprintf(text, sizeof text, "Tempo %.1f BPM", bpm);
    setStatus(text);
}

void songGo(int index);

void apply(const StageAction& a) {
    switch (a.kind) {
        case kActionSetValue:
            if (a.target == kTargetKnob) {
                setKnob(a.a, a.value);
            } else if (a.target == kTargetParameter) {
                const ChainSlot& s = gEngine.chain[a.a & 7];
                if (s.instance) wrapperSetParameter(s.wrapperIndex & 0xFF, s.instance, a.b, a.value);
            }
            break;
        case kActionSetSwitch: setSwitch(a.target, a.a, false, a.on); break;
        case kActionToggle: setSwitch(a.target, a.a, true, false); break;
        case kActionSongNext: songGo(setListNext(gSetList)); break;
        case kActionSongPrevious: songGo(setListPrevious(gSetList)); break;
        case kActionSongSelect: songGo(setListSelect(gSetList, a.song)); break;
        case kActionTap: tapTempo(); break;
        case kActionLearnt: {
            char name[96], source[48], text[160];
            targetName(a.target, a.a, a.b, name, sizeof name);
            const StageBinding* b = stageFind(gStage, a.target, a.a, a.b);
            if (b) stageDescribeSource(*b, source, sizeof source);
            else source[0] = '\0';
            std::snprintf(text, sizeof text, "MIDI control learnt: %s moves the %s", source, name);
            setStatus(text);
            if (stageTargetIsGlobal(a.target)) saveMidiSettings();
            break;
        }
        default: break;
    }
}

void reportLostPorts() {
    char lost[kMidiMaxPorts][kMidiNameSize];
    if (midiCloseLost(lost, kMidiMaxPorts) > 0) ReportResult(kResultMidiUnplugged);
}

void CALLBACK midiTick(HWND, UINT, UINT_PTR, DWORD) {
    if (gShell.scanning) return;  // the wrappers belong to the scan
    for (int port = 0; port < kMidiMaxPorts; ++port) {
        MidiPort& p = gMidiPorts[port];
        if (p.lost.load()) {
            reportLostPorts();
            continue;
        }
        MidiMessage m;
        // A bounded number per tick: a flood cannot hold the window's thread.
        for (int n = 0; n < 64 && midiQueuePop(p.queue, m); ++n) {
            StageAction actions[8];
            const int count = stageHandle(gStage, m, currentValue, actions, 8);
            for (int i = 0; i < count; ++i) apply(actions[i]);
        }
    }
}

void openPorts() {
    const int failed = midiOpenInputs(chosenInputs, chosenCount);
    if (failed) ReportResult(kResultMidiCannotOpen);
    bool any = testPath;
    for (int port = 0; port < kMidiTestPort; ++port) any |= midiPortName(port) != nullptr;
    if (any && !midiTimer) midiTimer = SetTimer(nullptr, 0, 10, midiTick);
}

// ---- the MIDI Settings dialog ----

INT_PTR CALLBACK midiSettingsProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
    static MidiDeviceList list;
    switch (message) {
        case WM_INITDIALOG: {
            midiListInputs(list);
            HWND box = GetDlgItem(dialog, IDC_MIDI_INPUTS);
            for (int i = 0; i < list.count; ++i) {
                SendMessageA(box, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(list.names[i]));
                for (int k = 0; k < chosenCount; ++k)
                    if (std::strcmp(chosenInputs[k], list.names[i]) == 0) SendMessageA(box, LB_SETSEL, TRUE, i);
            }
            SetDlgItemTextA(dialog, IDC_MIDI_NONE, list.count ? "" : "No MIDI input device is present.");
            return TRUE;
        }
        case WM_COMMAND:
            if (LOWORD(wParam) == IDOK) {
                HWND box = GetDlgItem(dialog, IDC_MIDI_INPUTS);
                chosenCount = 0;
                for (int i = 0; i < list.count && chosenCount < kMidiTestPort; ++i)
                    if (SendMessageA(box, LB_GETSEL, i, 0) > 0)
                        std::snprintf(chosenInputs[chosenCount++], kMidiNameSize, "%s", list.names[i]);
                EndDialog(dialog, IDOK);
                return TRUE;
            }
            if (LOWORD(wParam) == IDCANCEL) {
                EndDialog(dialog, IDCANCEL);
                return TRUE;
            }
            break;
    }
    return FALSE;
}

void runMidiSettings() {
    if (DialogBoxParamA(gShell.instance, MAKEINTRESOURCEA(IDD_MIDI_SETTINGS), gShell.frame, midiSettingsProc, 0) !=
        IDOK)
        return;
    saveMidiSettings();
    openPorts();
}

// ---- set lists ----

bool fileExists(const char* path) {
    const DWORD a = GetFileAttributesA(path);
    return a != INVALID_FILE_ATTRIBUTES && !(a & FILE_ATTRIBUTE_DIRECTORY);
}

void refreshSetListWindow();

// ---- song changes ----

UINT_PTR switchTimer = 0;

// The song after the current one is read beside it while it plays, so that
// the next change only swaps chains.
void prepareNext() {
    const int next = setListNext(gSetList);
    if (next >= 0 && LiveInputRunning()) songSwitchPrepare(gSetList.songs[next]);  // on failure the change falls back
}

void CALLBACK switchTick(HWND, UINT, UINT_PTR, DWORD) {
    if (gShell.scanning) return;
    if (songSwitchPoll(LiveInputRunning())) {
        RefreshMasterSection();
        refreshSetListWindow();
        prepareNext();
    }
    const SongSwitchState state = songSwitchState();
    if ((state == kSwitchIdle || state == kSwitchPrepared) && switchTimer) {
        KillTimer(nullptr, switchTimer);
        switchTimer = 0;
    }
}

// The change without a gap: the engine swaps chains at a block boundary and
// the old one rings out; the song's accompaniment takes the place of the
// one open (the same one plays on). False when it cannot be had (live input
// stopped, a file or wrapper that refuses): the caller opens the song the
// ordinary way.
bool switchWithoutGap(const char* path) {
    if (!LiveInputRunning()) return false;
    const SongSwitchState state = songSwitchState();
    if (state == kSwitchSwitching || state == kSwitchTail) songSwitchCancel();  // the last tail is cut short
    if (!(songSwitchState() == kSwitchPrepared && std::strcmp(gSongSwitch.path, path) == 0) &&
        songSwitchPrepare(path) != 0)
        return false;
    char next[sizeof gSongSwitch.accompaniment];
    std::snprintf(next, sizeof next, "%s", songSwitchAccompaniment());
    if (songSwitchCommit(true) != 0) {
        songSwitchCancel();
        return false;
    }
    if (!switchTimer) switchTimer = SetTimer(nullptr, 0, 20, switchTick);
    // As Open does: a file that cannot be played is told, and none is open.
    const char* playing = accompanimentIsOpen() ? gAccompaniment.path : "";
    if (std::strcmp(next, playing) != 0) ReportResult(accompanimentReplace(next));
    return true;
}

void songGo(int index) {
    if (index < 0 || index >= gSetList.count || gShell.scanning) return;
    const char* path = gSetList.songs[index];
    if (!switchWithoutGap(path)) {
        songSwitchCancel();
        ReportResult(performanceOpenPath(path));
    }
    gSetList.current = index;
    gTap = TapTempo{};
    MasterSectionShowValues();
    refreshSetListWindow();
    // After an ordinary open the next song is read at once; after a change
    // without a gap, once its tail is over.
    if (songSwitchState() == kSwitchIdle) prepareNext();
}

char setListDialogPath[MAX_PATH] = "";

bool chooseSetList(bool save, char* path) {
    OPENFILENAMEA file{};
    file.lStructSize = sizeof file;
    file.hwndOwner = gShell.frame;
    file.lpstrFile = path;
    file.nMaxFile = MAX_PATH;
    file.lpstrFilter = "Quorvane Set List (*.qvs)\0*.qvs\0";
    file.Flags = OFN_HIDEREADONLY | (save ? OFN_OVERWRITEPROMPT : OFN_FILEMUSTEXIST);
    if (save) {
        file.lpstrTitle = "Save Set List As...";
        file.lpstrDefExt = "qvs";
        return GetSaveFileNameA(&file) != 0;
    }
    file.lpstrTitle = "Open Set List";
    return GetOpenFileNameA(&file) != 0;
}

// Reads a list file whole, refusing one larger than any list can be.
int32_t readSetList(const char* path) {
    FILE* f = std::fopen(path, "rb");
    if (!f) return kResultSetListCannotOpen;
    static char text[kSetListMaxBytes + 1];
    const size_t n = std::fread(text, 1, sizeof text, f);
    const bool failed = std::ferror(f) != 0;
    std::fclose(f);
    if (failed) return kResultSetListCannotOpen;
    return setListParse(text, n, path, fileExists, gSetList);
}

void openSetList(const char* path) {
    const int32_t result = readSetList(path);
    ReportResult(result);
    if (result != 0) return;
    ShowSetList();
    songGo(0);
}

void saveSetList() {
    if (gSetList.count == 0) {
        ReportResult(kResultSetListEmpty);
        return;
    }
    char path[MAX_PATH];
    std::snprintf(path, sizeof path, "%s", gSetList.path[0] ? gSetList.path : setListDialogPath);
    if (!chooseSetList(true, path)) return;
    static char text[kSetListMaxBytes];
    const size_t n = setListFormat(gSetList, path, text, sizeof text);
    FILE* f = std::fopen(path, "wb");
    const bool ok = f && std::fwrite(text, 1, n, f) == n;
    if (f && std::fclose(f) != 0) ReportResult(kResultSetListCannotSave);
    else if (!ok) ReportResult(kResultSetListCannotSave);
    else std::snprintf(gSetList.path, sizeof gSetList.path, "%s", path);
}

// ---- the set list window ----

constexpr int kSetListWidth = 520, kSetListHeight = 360;
constexpr int kIdPrevious = 201, kIdNext = 202, kIdTap = 203, kIdAdd = 204, kIdRemove = 205, kIdSongs = 206;
HFONT bigFont = nullptr, nextFont = nullptr;

void refreshSetListWindow() {
    if (!setListWindow) return;
    HWND box = GetDlgItem(setListWindow, kIdSongs);
    SendMessageA(box, WM_SETREDRAW, FALSE, 0);
    SendMessageA(box, LB_RESETCONTENT, 0, 0);
    for (int i = 0; i < gSetList.count; ++i) {
        char title[kSetListPathMax + 16];
        setListSongTitle(gSetList, i, title, sizeof title);
        SendMessageA(box, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(title));
    }
    SendMessageA(box, LB_SETCURSEL, gSetList.current, 0);
    SendMessageA(box, WM_SETREDRAW, TRUE, 0);
    InvalidateRect(setListWindow, nullptr, TRUE);
}

void layoutSetList(HWND window, int width, int height) {
    const int buttonsTop = 130, buttonWidth = 90, gap = 8;
    const int ids[] = {kIdPrevious, kIdNext, kIdTap, kIdAdd, kIdRemove};
    for (int i = 0; i < 5; ++i)
        MoveWindow(GetDlgItem(window, ids[i]), 10 + i * (buttonWidth + gap), buttonsTop, buttonWidth, 26, TRUE);
    const int listTop = buttonsTop + 36;
    MoveWindow(GetDlgItem(window, kIdSongs), 10, listTop, width - 20 > 50 ? width - 20 : 50,
               height - listTop - 10 > 40 ? height - listTop - 10 : 40, TRUE);
}

void paintSetList(HWND window) {
    PAINTSTRUCT ps;
    HDC dc = BeginPaint(window, &ps);
    RECT client;
    GetClientRect(window, &client);
    SetBkMode(dc, TRANSPARENT);
    char now[kSetListPathMax + 16], next[kSetListPathMax + 16], line[kSetListPathMax + 32];
    setListSongTitle(gSetList, gSetList.current, now, sizeof now);
    setListSongTitle(gSetList, setListNext(gSetList), next, sizeof next);
    HGDIOBJ old = SelectObject(dc, bigFont ? bigFont : GetStockObject(DEFAULT_GUI_FONT));
    RECT r = {10, 6, client.right - 10, 70};
    SetTextColor(dc, RGB(0, 0, 0));
    DrawTextA(dc, gSetList.count ? now : "No set list", -1, &r, DT_LEFT | DT_SINGLELINE | DT_END_ELLIPSIS | DT_NOPREFIX);
    SelectObject(dc, nextFont ? nextFont : GetStockObject(DEFAULT_GUI_FONT));
    std::snprintf(line, sizeof line, "Next: %s", next[0] ? next : "(end of the list)");
    r = RECT{10, 74, client.right - 10, 122};
    SetTextColor(dc, RGB(64, 64, 64));
    DrawTextA(dc, gSetList.count ? line : "", -1, &r, DT_LEFT | DT_SINGLELINE | DT_END_ELLIPSIS | DT_NOPREFIX);
    SelectObject(dc, old);
    EndPaint(window, &ps);
}

void addCurrentPerformance() {
    if (gPerformance.currentPath[0] == '\0' || gSetList.count >= kSetListMaxSongs) return;
    std::snprintf(gSetList.songs[gSetList.count++], kSetListPathMax + 1, "%s", gPerformance.currentPath);
    if (gSetList.current < 0) gSetList.current = gSetList.count - 1;
    refreshSetListWindow();
}

void removeSelectedSong() {
    const int i = static_cast<int>(SendMessageA(GetDlgItem(setListWindow, kIdSongs), LB_GETCURSEL, 0, 0));
    if (i < 0 || i >= gSetList.count) return;
    for (int k = i + 1; k < gSetList.count; ++k) std::memcpy(gSetList.songs[k - 1], gSetList.songs[k], kSetListPathMax + 1);
    --gSetList.count;
    if (gSetList.current >= i) --gSetList.current;
    refreshSetListWindow();
}

}  // namespace

LRESULT CALLBACK SetListProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_CREATE: {
            setListWindow = window;
            const struct {
                int id;
                const char* text;
            } buttons[] = {{kIdPrevious, "<< Previous"}, {kIdNext, "Next >>"}, {kIdTap, "Tap Tempo"},
                           {kIdAdd, "Add Current"},     {kIdRemove, "Remove"}};
            for (const auto& b : buttons)
                CreateWindowExA(0, "BUTTON", b.text, WS_CHILD | WS_VISIBLE | BS_PUSHBUTTON, 0, 0, 10, 10, window,
                                reinterpret_cast<HMENU>(static_cast<INT_PTR>(b.id)), gShell.instance, nullptr);
            HWND box = CreateWindowExA(WS_EX_CLIENTEDGE, "LISTBOX", nullptr,
                                       WS_CHILD | WS_VISIBLE | WS_VSCROLL | LBS_NOTIFY | LBS_NOINTEGRALHEIGHT, 0, 0,
                                       10, 10, window, reinterpret_cast<HMENU>(static_cast<INT_PTR>(kIdSongs)),
                                       gShell.instance, nullptr);
            HGDIOBJ gui = GetStockObject(DEFAULT_GUI_FONT);
            for (HWND child = GetWindow(window, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT))
                SendMessageA(child, WM_SETFONT, reinterpret_cast<WPARAM>(gui), FALSE);
            (void)box;
            if (!bigFont)
                bigFont = CreateFontA(-52, 0, 0, 0, FW_BOLD, 0, 0, 0, ANSI_CHARSET, 0, 0, ANTIALIASED_QUALITY, 0, "Arial");
            if (!nextFont)
                nextFont = CreateFontA(-34, 0, 0, 0, FW_NORMAL, 0, 0, 0, ANSI_CHARSET, 0, 0, ANTIALIASED_QUALITY, 0, "Arial");
            refreshSetListWindow();
            break;
        }
        case WM_SIZE: layoutSetList(window, LOWORD(lParam), HIWORD(lParam)); break;
        case WM_PAINT: paintSetList(window); return 0;
        case WM_COMMAND:
            switch (LOWORD(wParam)) {
                case kIdPrevious: songGo(setListPrevious(gSetList)); return 0;
                case kIdNext: songGo(setListNext(gSetList)); return 0;
                case kIdTap: tapTempo(); return 0;
                case kIdAdd: addCurrentPerformance(); return 0;
                case kIdRemove: removeSelectedSong(); return 0;
                case kIdSongs:
                    if (HIWORD(wParam) == LBN_DBLCLK)
                        songGo(static_cast<int>(SendMessageA(reinterpret_cast<HWND>(lParam), LB_GETCURSEL, 0, 0)));
                    return 0;
            }
            break;
        case WM_CONTEXTMENU: {
            const int id = GetDlgCtrlID(reinterpret_cast<HWND>(wParam));
            const uint8_t target = id == kIdPrevious ? kTargetSongPrevious
                                   : id == kIdNext   ? kTargetSongNext
                                   : id == kIdTap    ? kTargetTapTempo
                                                     : kTargetNone;
            if (target == kTargetNone) break;
            POINT at{GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)};
            StageMenu(window, at, target, 0, 0);
            return 0;
        }
        case WM_DESTROY:
            if (setListWindow == window) setListWindow = nullptr;
            break;
    }
    return DefMDIChildProcA(window, message, wParam, lParam);
}

// ---- the rest of the program's entries ----

void StageConnect() {
    gPerformance.bindings = performanceBindings;
    gPerformance.takeBindings = takePerformanceBindings;
    gPerformance.clearBindings = clearPerformanceBindings;
    gHost.learnParameter = [](int, intptr_t instance, int32_t index) {
        for (int s = 0; s < kChainSlots; ++s)
            if (gEngine.chain[s].instance == instance) {
                StageLearnFor(kTargetParameter, static_cast<uint8_t>(s), static_cast<uint16_t>(index));
                return;
            }
    };
    gHost.forgetParameter = [](int, intptr_t instance, int32_t index) {
        for (int s = 0; s < kChainSlots; ++s)
            if (gEngine.chain[s].instance == instance) {
                stageForget(gStage, kTargetParameter, static_cast<uint8_t>(s), static_cast<uint16_t>(index));
                return;
            }
    };
}

void StageLiveInputStarted() {
    if (gSetList.count > 0 && songSwitchState() == kSwitchIdle) prepareNext();
}

void StageStartUp() {
    char flag[8] = "";
    const DWORD n = GetEnvironmentVariableA("QV_TEST_MIDI", flag, sizeof flag);
    testPath = n > 0 && n < sizeof flag && std::strcmp(flag, "1") == 0;
    if (testPath) midiOpenTestPort();
    loadMidiSettings();
    openPorts();
}

void StageShutDown() {
    if (midiTimer) KillTimer(nullptr, midiTimer);
    midiTimer = 0;
    midiCloseInputs();
    if (bigFont) DeleteObject(bigFont);
    if (nextFont) DeleteObject(nextFont);
    bigFont = nextFont = nullptr;
}

bool StageCommand(UINT id) {
    switch (id) {
        case IDM_MIDI_SETTINGS: runMidiSettings(); return true;
        case IDM_OPEN_SET_LIST: {
            char path[MAX_PATH];
            std::snprintf(path, sizeof path, "%s", setListDialogPath);
            if (!chooseSetList(false, path)) return true;
            std::snprintf(setListDialogPath, sizeof setListDialogPath, "%s", path);
            openSetList(path);
            return true;
        }
        case IDM_SAVE_SET_LIST: saveSetList(); return true;
        case IDM_SHOW_SET_LIST: ShowSetList(); return true;
        case IDM_SONG_PREVIOUS: songGo(setListPrevious(gSetList)); return true;
        case IDM_SONG_NEXT: songGo(setListNext(gSetList)); return true;
        case IDM_TAP_TEMPO: tapTempo(); return true;
        default: return false;
    }
}

void ShowSetList() {
    if (setListWindow && IsWindow(setListWindow)) {
        SendMessageA(gShell.mdiClient, WM_MDIACTIVATE, reinterpret_cast<WPARAM>(setListWindow), 0);
        return;
    }
    if (!gShell.mdiClient) return;
    CreateMDIWindowA("Quorvane_SetList_Class", "Set List", WS_VISIBLE | WS_CLIPSIBLINGS | WS_OVERLAPPEDWINDOW,
                     CW_USEDEFAULT, CW_USEDEFAULT, kSetListWidth, kSetListHeight, gShell.mdiClient, gShell.instance, 0);
}

void StageLearnFor(uint8_t target, uint8_t a, uint16_t b) {
    stageLearn(gStage, target, a, b);
    char name[96], text[160];
    targetName(target, a, b, name, sizeof name);
    std::snprintf(text, sizeof text, "Learn MIDI Control: move a control or press a pedal for the %s", name);
    setStatus(text);
}

void StageMenu(HWND owner, POINT screen, uint8_t target, uint8_t a, uint16_t b) {
    HMENU menu = CreatePopupMenu();
    if (!menu) return;
    StageBinding* bound = stageFind(gStage, target, a, b);
    AppendMenuA(menu, MF_STRING, kMenuLearn, "&Learn MIDI Control");
    AppendMenuA(menu, MF_STRING | (bound ? 0 : MF_GRAYED), kMenuForget, "&Forget MIDI Control");
    if (stageTargetIsSwitch(target)) {
        AppendMenuA(menu, MF_SEPARATOR, 0, nullptr);
        AppendMenuA(menu, MF_STRING | (bound ? 0 : MF_GRAYED) | (bound && (bound->flags & kBindingMomentary) ? MF_CHECKED : 0),
                    kMenuMomentary, "&Momentary (On While Held)");
    } else if (target == kTargetKnob || target == kTargetParameter) {
        AppendMenuA(menu, MF_SEPARATOR, 0, nullptr);
        AppendMenuA(menu, MF_STRING | (bound ? 0 : MF_GRAYED) | (bound && (bound->flags & kBindingPickUp) ? MF_CHECKED : 0),
                    kMenuPickUp, "&Pick Up (Soft Takeover)");
    }
    const UINT chosen = TrackPopupMenu(menu, TPM_LEFTALIGN | TPM_TOPALIGN | TPM_RETURNCMD | TPM_RIGHTBUTTON, screen.x,
                                       screen.y, 0, owner, nullptr);
    DestroyMenu(menu);
    switch (chosen) {
        case kMenuLearn: StageLearnFor(target, a, b); break;
        case kMenuForget:
            stageForget(gStage, target, a, b);
            setStatus("");
            if (stageTargetIsGlobal(target)) saveMidiSettings();
            break;
        case kMenuMomentary:
        case kMenuPickUp:
            if (bound) {
                bound->flags ^= chosen == kMenuMomentary ? kBindingMomentary : kBindingPickUp;
                if (stageTargetIsGlobal(target)) saveMidiSettings();
                else gStage.changed = true;
            }
            break;
        default: break;
    }
}

void StageSlotsSwapped(int from, int to) { stageSwapSlots(gStage, from, to); }
void StageSlotCleared(int slot) { stageForgetSlot(gStage, slot); }

bool StageCopyData(const COPYDATASTRUCT* data) {
    if (!testPath || !data || data->dwData != kTestMidiTag || data->cbData % 4 || !data->lpData) return false;
    const auto* bytes = static_cast<const uint8_t*>(data->lpData);
    for (DWORD i = 0; i < data->cbData; i += 4) {
        const uint32_t packed = static_cast<uint32_t>(bytes[i]) | (static_cast<uint32_t>(bytes[i + 1]) << 8) |
                                (static_cast<uint32_t>(bytes[i + 2]) << 16) |
                                (static_cast<uint32_t>(bytes[i + 3]) << 24);
        midiInputCallback(nullptr, MIM_DATA, kMidiTestPort, packed, GetTickCount());
    }
    return true;
}

void StageDevicesChanged() { reportLostPorts(); }

void StageBeforeCommand(UINT id) {
    switch (id) {
        // What a prepared song or a tail would get in the way of: the
        // performance's own file commands, the wrappers' refresh and the exit.
        case IDM_NEW_PERFORMANCE:
        case IDM_OPEN_PERFORMANCE:
        case IDM_SAVE_PERFORMANCE:
        case IDM_SAVE_PERFORMANCE_AS:
        case IDM_REFRESH_PLUGINS:
        case IDM_CHANGE_VST_DIRECTORY:
        case IDM_EXIT:
        case IDM_OPEN_SET_LIST:
            songSwitchCancel();
            break;
        default: break;
    }
}

const char* StageStatusText() { return statusText; }

// The frame: window classes, the frame procedure with its commands, the
// title, the About box and the manual.
#include <windows.h>
#include <commdlg.h>

#include <cstdio>
#include <cstring>

#include "app/report.h"
#include "app/resource.h"
#include "app/shell.h"
#include "app/shell_win32.h"
#include "audiofiles/accompaniment.h"
#include "devices/asiohost.h"
#include "engine/engine.h"
#include "host/bridge.h"
#include "host/host.h"
#include "host/performance.h"

namespace {

struct ClassRow {
    const char* name;
    UINT style;
    WNDPROC procedure;
    bool icons;
    int patternBitmap;  // 0: the button-face colour
    int menu;
};

int32_t registerClass(const ClassRow& row) {
    WNDCLASSEXA c{};
    c.cbSize = sizeof c;
    c.style = row.style;
    c.lpfnWndProc = row.procedure;
    c.hInstance = gShell.instance;
    c.hCursor = LoadCursor(nullptr, IDC_ARROW);
    if (row.icons) {
        c.hIcon = LoadIconA(gShell.instance, MAKEINTRESOURCEA(IDI_QUORVANE));
        c.hIconSm = static_cast<HICON>(
            LoadImageA(gShell.instance, MAKEINTRESOURCEA(IDI_QUORVANE_SMALL), IMAGE_ICON, 16, 16, 0));
    }
    c.hbrBackground = row.patternBitmap ? SharedPatternBrush(row.patternBitmap)
                                        : reinterpret_cast<HBRUSH>(static_cast<INT_PTR>(COLOR_BTNFACE + 1));
    c.lpszMenuName = row.menu ? MAKEINTRESOURCEA(row.menu) : nullptr;
    c.lpszClassName = row.name;
    return RegisterClassExA(&c) ? 0 : 1;
}

// ---- commands ----

void liveInputToggle() {
    if (LiveInputRunning()) {
        ReportResult(StopLiveInput(false));
        return;
    }
    ReportResult(StartLiveInput());
    if (LiveInputRunning()) OpenVuMeters();
}

void toggleMetronome() {
    const bool on = !gEngine.metronomeOn.load(std::memory_order_relaxed);
    gEngine.metronomeOn.store(on, std::memory_order_relaxed);
    SetMenuItemChecked(IDM_METRONOME, on);
}

void asioPanel() {
    ReportResult(StopLiveInput(true));
    ReportResult(asioControlPanel());
}

void refreshPlugins() {
    ReportResult(StopLiveInput(true));
    RefreshPluginList(false);
}

HWND activeChild() {
    return reinterpret_cast<HWND>(SendMessageA(gShell.mdiClient, WM_MDIGETACTIVE, 0, 0));
}

void closeAllChildren() {
    // A child that refuses to go would otherwise keep this loop running.
    for (HWND child = activeChild(); child;) {
        SendMessageA(gShell.mdiClient, WM_MDIDESTROY, reinterpret_cast<WPARAM>(child), 0);
        HWND next = activeChild();
        if (next == child) break;
        child = next;
    }
}

INT_PTR CALLBACK aboutProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
    switch (message) {
        case WM_INITDIALOG: {
            char version[16];
            std::snprintf(version, sizeof version, "%.2f", kProductVersion);
            SetDlgItemTextA(dialog, IDC_ABOUT_NAME, kProductName);
            SetDlgItemTextA(dialog, IDC_ABOUT_VERSION, version);
            SetDlgItemTextA(dialog, IDC_ABOUT_DATE, kReleaseDate);
            return TRUE;
        }
        case WM_COMMAND:
            if (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL) {
                EndDialog(dialog, LOWORD(wParam));
                return TRUE;
            }
            break;
    }
    return FALSE;
}

// Returns true when the command was the frame's own.
bool runCommand(UINT id) {
    switch (id) {
        case IDM_NEW_PERFORMANCE: performanceNew(); return true;
        case IDM_OPEN_PERFORMANCE: performanceOpen(); return true;
        case IDM_SAVE_PERFORMANCE: performanceSave(); return true;
        case IDM_SAVE_PERFORMANCE_AS: performanceSaveAs(); return true;
        case IDM_OPEN_ACCOMPANIMENT: {
            const bool wasRunning = LiveInputRunning();
            ReportResult(StopLiveInput(true));
            OPENFILENAMEA open{};
            char path[MAX_PATH];
            std::snprintf(path, sizeof path, "%s", gShell.lastAccompanimentPath);
            open.lStructSize = sizeof open;
            open.hwndOwner = gShell.frame;
            open.lpstrFilter = "Microsoft Wave (*.wav)\0*.wav\0";
            open.lpstrFile = path;
            open.nMaxFile = sizeof path;
            open.lpstrTitle = "Accompaniment Wave File";
            open.Flags = OFN_HIDEREADONLY | OFN_PATHMUSTEXIST | OFN_FILEMUSTEXIST;
            if (GetOpenFileNameA(&open)) {
                std::snprintf(gShell.lastAccompanimentPath, sizeof gShell.lastAccompanimentPath, "%s", path);
                accompanimentClose();
                ReportResult(accompanimentLoad(path));
            }
            if (wasRunning) ReportResult(StartLiveInput());
            return true;
        }
        case IDM_CLOSE_ACCOMPANIMENT: accompanimentClose(); return true;
        case IDM_EXIT:
            ReportResult(StopLiveInput(false));
            SaveSettings();
            DestroyWindow(gShell.frame);
            return true;
        case IDM_LIVE_INPUT: liveInputToggle(); return true;
        case IDM_METRONOME: toggleMetronome(); return true;
        case IDM_SEPARATE_PROCESSES: SetAllSeparate(!AllSeparate()); return true;
        case IDM_RECORD:
            ReportResult(StopLiveInput(true));
            RunRecordingDialog();
            return true;
        case IDM_SHOW_MASTER_SECTION: ShowMasterSection(); return true;
        case IDM_AUDIO_SETTINGS: RunAudioSettingsDialog(); return true;
        case IDM_ASIO_CONTROL_PANEL: asioPanel(); return true;
        case IDM_CHANGE_VST_DIRECTORY: ChangeVstDirectory(); return true;
        case IDM_REFRESH_PLUGINS: refreshPlugins(); return true;
        case IDM_WINDOW_CLOSE:
            if (HWND child = activeChild()) SendMessageA(gShell.mdiClient, WM_MDIDESTROY, reinterpret_cast<WPARAM>(child), 0);
            return true;
        case IDM_WINDOW_CLOSE_ALL: closeAllChildren(); return true;
        case IDM_WINDOW_NEXT:
            SendMessageA(gShell.mdiClient, WM_MDINEXT, reinterpret_cast<WPARAM>(activeChild()), 0);
            return true;
        case IDM_WINDOW_PREVIOUS:
            SendMessageA(gShell.mdiClient, WM_MDINEXT, reinterpret_cast<WPARAM>(activeChild()), 1);
            return true;
        case IDM_WINDOW_CASCADE: SendMessageA(gShell.mdiClient, WM_MDICASCADE, 0, 0); return true;
        case IDM_WINDOW_TILE_VERTICAL: SendMessageA(gShell.mdiClient, WM_MDITILE, MDITILE_VERTICAL, 0); return true;
        case IDM_WINDOW_TILE_HORIZONTAL:
            SendMessageA(gShell.mdiClient, WM_MDITILE, MDITILE_HORIZONTAL, 0);
            return true;
        case IDM_MANUAL: ShowHelp(); return true;
        case IDM_ABOUT:
            DialogBoxParamA(gShell.instance, MAKEINTRESOURCEA(IDD_ABOUT), gShell.mdiClient, aboutProc, 0);
            return true;
        default: return false;
    }
}

// The status bar places itself at the bottom when told of the size; the
// accompaniment bar sits on it. Returns the status bar's height.
int onSize(int width, int height) {
    if (gShell.toolbar) MoveWindow(gShell.toolbar, 0, 0, width, kToolbarHeight, TRUE);
    if (gShell.statusBar) SendMessageA(gShell.statusBar, WM_SIZE, 0, 0);
    const int status = StatusBarHeight();
    if (gShell.accompanimentBar) {
        RECT bar;
        GetWindowRect(gShell.accompanimentBar, &bar);
        MoveWindow(gShell.accompanimentBar, 0, height - status - kAccompanimentBarHeight, bar.right - bar.left,
                   bar.bottom - bar.top, TRUE);
    }
    return status;
}

void onClose() {
    StageBeforeCommand(IDM_EXIT);
    ReportResult(StopLiveInput(false));
    // Yes/No only: closing cannot be cancelled.
    performanceClosing();
    SaveSettings();
}

// ---- the hooks the performance, accompaniment and host layers call ----

bool chooseFile(bool save, char* path, size_t size) {
    OPENFILENAMEA file{};
    file.lStructSize = sizeof file;
    file.hwndOwner = gShell.frame;
    file.lpstrFile = path;
    file.nMaxFile = static_cast<DWORD>(size < MAX_PATH ? size : MAX_PATH);
    file.Flags = OFN_OVERWRITEPROMPT | OFN_HIDEREADONLY;
    if (save) {
        file.lpstrFilter = "Quorvane Performance File (*.qvp)\0*.qvp\0";
        file.lpstrTitle = "Save Performance File As...";
        file.lpstrDefExt = "qvp";
        return GetSaveFileNameA(&file) != 0;
    }
    file.lpstrFilter = "Quorvane Performance File(*.qvp)\0*.qvp\0";
    file.lpstrTitle = "Open Performance File";
    return GetOpenFileNameA(&file) != 0;
}

bool chooseOpenPath(char* path, size_t size) { return chooseFile(false, path, size); }
bool chooseSavePath(char* path, size_t size) { return chooseFile(true, path, size); }

int askSave(bool withCancel) {
    return questionBox(gShell.frame, "Performance was changed. Do you want to save it?", "Confirm",
                       (withCancel ? MB_YESNOCANCEL : MB_YESNO) | MB_ICONQUESTION);
}

int32_t stopForPerformance() { return StopLiveInput(true); }

void performancePathChanged() { SetFrameTitle(gPerformance.currentPath); }

const char* accompanimentPathHook() { return gAccompaniment.path; }

// The performance's ACCOMP chunk reopens its file like the menu command
// does, and the user hears why it could not.
bool openAccompanimentHook(const char* path) {
    const int32_t result = accompanimentLoad(path);
    ReportResult(result);
    return result == 0;
}

void closeAccompanimentHook() { accompanimentClose(); }

void stopLiveInputForAccompaniment() { ReportResult(StopLiveInput(true)); }

void accompanimentChanged() {
    SetMenuItemEnabled(IDM_CLOSE_ACCOMPANIMENT, accompanimentIsOpen());
    UpdateAccompanimentBar();
}

}  // namespace

int32_t RegisterProgramClasses() {
    const UINT redraw = CS_HREDRAW | CS_VREDRAW;
    const ClassRow rows[] = {
        {"Quorvane_Main_Class", redraw, FrameProc, true, 0, IDR_MAINMENU},
        {"Quorvane_MDIClient_Class", redraw, MasterSectionProc, true, 0, 0},
        {"Quorvane_FX_Class", redraw | CS_DBLCLKS, ChainPaneProc, false, IDB_FX_PANE, 0},
        {"Quorvane_Gate_Class", redraw, GatePaneProc, false, IDB_GATE_PANE, 0},
        {"Quorvane_Meter_Class", redraw, MeterProc, false, IDB_METER, 0},
        {"Quorvane_Toolbar_Class", redraw, ToolbarProc, false, 0, 0},
        {"Quorvane_SetList_Class", redraw, SetListProc, true, 0, 0},
    };
    for (size_t i = 0; i < sizeof rows / sizeof rows[0]; ++i)
        if (registerClass(rows[i]) != 0) return i == 0 ? 163 : 243;
    return 0;
}

LRESULT CALLBACK FrameProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_SIZE: {
            const int width = LOWORD(lParam);
            int height = HIWORD(lParam);
            const int status = onSize(width, height);
            height -= kToolbarHeight + kAccompanimentBarHeight + status;
            if (height < 0) height = 0;
            DefFrameProcA(window, gShell.mdiClient, message, wParam, MAKELPARAM(width, height));
            if (gShell.mdiClient) {
                SetWindowPos(gShell.mdiClient, nullptr, 0, kToolbarHeight, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
                // The work area's pattern is not redrawn by the client itself when it grows.
                InvalidateRect(gShell.mdiClient, nullptr, TRUE);
            }
            return 0;
        }
        case WM_ERASEBKGND: {
            const LRESULT erased = DefFrameProcA(window, gShell.mdiClient, message, wParam, lParam);
            (void)erased;
            DrawLoadReadout(reinterpret_cast<HDC>(wParam));
            return 1;
        }
        case WM_CLOSE:
            if (gShell.scanning) return 0;  // the scan dialog ends first
            onClose();
            break;
        case WM_DESTROY:
            PostQuitMessage(0);
            break;
        case WM_SIZING: {
            RECT* r = reinterpret_cast<RECT*>(lParam);
            if (r->right - r->left < 300) r->right = r->left + 300;
            if (r->bottom - r->top < 150) r->bottom = r->top + 150;
            break;
        }
        case WM_COMMAND:
            if (gShell.scanning) return 0;
            StageBeforeCommand(LOWORD(wParam));
            if (runCommand(LOWORD(wParam)) || StageCommand(LOWORD(wParam))) return 1;
            break;
        case WM_COPYDATA:
            return StageCopyData(reinterpret_cast<const COPYDATASTRUCT*>(lParam)) ? 1 : 0;
        case WM_DEVICECHANGE:
            StageDevicesChanged();
            break;
        case kBridgeReportMessage:  // an editor in a helper said something
            CheckSeparatePlugins();
            return 0;
        default:
            break;
    }
    if (gShell.mdiClient && message != WM_DESTROY && message != WM_CLOSE)
        SetWindowPos(gShell.mdiClient, nullptr, 0, kToolbarHeight, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    return DefFrameProcA(window, gShell.mdiClient, message, wParam, lParam);
}

void SetFrameTitle(const char* path) {
    if (!gShell.frame) return;
    char title[200];
    if (!path || !*path) {
        formatFrameTitle(nullptr, nullptr, title, sizeof title);
    } else {
        char display[101] = "";
        // The platform's display name; when it cannot be had, the path's last part.
        const bool named = GetFileTitleA(path, display, sizeof display) == 0;
        formatFrameTitle(named ? display : nullptr, path, title, sizeof title);
    }
    SetWindowTextA(gShell.frame, title);
}

void SetMenuItemChecked(UINT id, bool checked) {
    if (gShell.frame) CheckMenuItem(GetMenu(gShell.frame), id, MF_BYCOMMAND | (checked ? MF_CHECKED : MF_UNCHECKED));
}

void SetMenuItemEnabled(UINT id, bool enabled) {
    if (gShell.frame) EnableMenuItem(GetMenu(gShell.frame), id, MF_BYCOMMAND | (enabled ? MF_ENABLED : MF_GRAYED));
}

void ShowHelp() {
    using HtmlHelpFn = HWND(WINAPI*)(HWND, LPCSTR, UINT, DWORD_PTR);
    static HtmlHelpFn htmlHelp = nullptr;
    static bool unavailable = false;
    ReportResult(StopLiveInput(true));
    if (unavailable) return;
    if (!htmlHelp) {
        HMODULE library = nullptr;
        char server[MAX_PATH + 1] = "";
        LONG size = MAX_PATH;
        if (RegQueryValueA(HKEY_CLASSES_ROOT, "CLSID\\{ADB880A6-D8FF-11CF-9377-00AA003B7A11}\\InprocServer32", server,
                           &size) == ERROR_SUCCESS) {
            server[MAX_PATH] = '\0';
            library = LoadLibraryA(server);
        }
        if (!library) library = LoadLibraryA("hhctrl.ocx");
        if (library) htmlHelp = reinterpret_cast<HtmlHelpFn>(reinterpret_cast<void*>(GetProcAddress(library, MAKEINTRESOURCEA(14))));
        if (!htmlHelp) {
            unavailable = true;
            return;
        }
    }
    char file[MAX_PATH + 16];
    std::snprintf(file, sizeof file, "%sManual.chm", gShell.applicationDirectory);
    htmlHelp(gShell.frame, file, 0 /* HH_DISPLAY_TOPIC */, reinterpret_cast<DWORD_PTR>("html\\manual.htm"));
}

void ConnectShellHooks() {
    gPerformance.accompanimentPath = accompanimentPathHook;
    gPerformance.openAccompaniment = openAccompanimentHook;
    gPerformance.closeAccompaniment = closeAccompanimentHook;
    gPerformance.pathChanged = performancePathChanged;
    gPerformanceShell.liveInputRunning = LiveInputRunning;
    gPerformanceShell.stopLiveInput = stopForPerformance;
    gPerformanceShell.startLiveInput = StartLiveInput;
    gPerformanceShell.askSave = askSave;
    gPerformanceShell.chooseOpenPath = chooseOpenPath;
    gPerformanceShell.chooseSavePath = chooseSavePath;
    gPerformanceShell.refreshMasterSection = RefreshMasterSection;
    gAccompaniment.barChanged = accompanimentChanged;
    gAccompaniment.stopLiveInput = stopLiveInputForAccompaniment;
}

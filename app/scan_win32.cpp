// The plug-in scan behind its modal progress dialog, and the choice of the
// VST directory.
//
// The scan thread runs every wrapper's list refresh while the UI thread sits
// in the dialog. The dialog ends only after the thread has finished, so no
// wrapper command ever overlaps the scan; failures are collected by the
// thread and reported by the UI thread once the dialog is gone.
#include <windows.h>
#include <shlobj.h>

#include <atomic>
#include <cstdio>
#include <cstring>

#include "app/report.h"
#include "app/resource.h"
#include "app/shell.h"
#include "app/shell_win32.h"
#include "host/host.h"

namespace {

constexpr UINT kScanFinished = WM_APP + 1;

struct Scan {
    HWND dialog = nullptr;
    HANDLE thread = nullptr;
    std::atomic<bool> abort{false};
    std::atomic<bool> finished{false};
    std::atomic<int> failedWrappers{0};
};

Scan scan;

// Called by the wrappers on the scan thread.
bool scanProgress(const char* text) {
    if (scan.dialog) SetDlgItemTextA(scan.dialog, IDC_SCAN_STATUS, text);
    return !scan.abort.load();
}

DWORD WINAPI scanThread(void*) {
    Sleep(400);  // the dialog gets painted first
    // The flag was cleared when the dialog opened: an Escape or a close given
    // while the dialog was being painted still counts.
    EnableWindow(GetDlgItem(scan.dialog, IDC_SCAN_ABORT), TRUE);
    int total = 0;
    for (int w = 0; w < wrapperCount(); ++w) {
        if (wrapperRefreshList(w) == 0) {
            const int available = wrapperAvailableCount(w);
            if (available > 0) total += available;
        } else {
            scan.failedWrappers.fetch_add(1);
        }
    }
    EnableWindow(GetDlgItem(scan.dialog, IDC_SCAN_ABORT), FALSE);
    char text[160];
    std::snprintf(text, sizeof text, "Scanning plugins has been finished succesfully.\n %d plugins have been detected", total);
    SetDlgItemTextA(scan.dialog, IDC_SCAN_STATUS, text);
    Sleep(1300);
    scan.finished.store(true);
    PostMessageA(scan.dialog, kScanFinished, 0, 0);
    return 0;
}

// The start-up form: the dialog takes the splash picture's width (dialog
// units depend on the system font), the status line and the button below it.
void fitSplash(HWND dialog) {
    HWND picture = GetDlgItem(dialog, IDC_SPLASH_PICTURE);
    if (!picture) return;
    RECT image, status, button, client;
    GetWindowRect(picture, &image);
    GetWindowRect(GetDlgItem(dialog, IDC_SCAN_STATUS), &status);
    GetWindowRect(GetDlgItem(dialog, IDC_SCAN_ABORT), &button);
    const int width = image.right - image.left, height = image.bottom - image.top;
    const int statusHeight = status.bottom - status.top;
    const int buttonWidth = button.right - button.left, buttonHeight = button.bottom - button.top;
    constexpr int kMargin = 8;
    SetWindowPos(picture, nullptr, 0, 0, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
    MoveWindow(GetDlgItem(dialog, IDC_SCAN_STATUS), kMargin, height + kMargin / 2, width - 2 * kMargin, statusHeight,
               FALSE);
    const int buttonTop = height + kMargin / 2 + statusHeight + kMargin / 2;
    MoveWindow(GetDlgItem(dialog, IDC_SCAN_ABORT), (width - buttonWidth) / 2, buttonTop, buttonWidth, buttonHeight,
               FALSE);
    client = {0, 0, width, buttonTop + buttonHeight + kMargin};
    AdjustWindowRectEx(&client, static_cast<DWORD>(GetWindowLongPtrA(dialog, GWL_STYLE)), FALSE,
                       static_cast<DWORD>(GetWindowLongPtrA(dialog, GWL_EXSTYLE)));
    const int outerWidth = client.right - client.left, outerHeight = client.bottom - client.top;
    RECT owner;
    GetWindowRect(GetParent(dialog) ? GetParent(dialog) : GetDesktopWindow(), &owner);
    if (!IsWindowVisible(GetParent(dialog))) SystemParametersInfoA(SPI_GETWORKAREA, 0, &owner, 0);
    SetWindowPos(dialog, nullptr, (owner.left + owner.right - outerWidth) / 2, (owner.top + owner.bottom - outerHeight) / 2,
                 outerWidth, outerHeight, SWP_NOZORDER);
}

INT_PTR CALLBACK scanDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
    switch (message) {
        case WM_INITDIALOG:
            fitSplash(dialog);
            scan.dialog = dialog;
            if (scan.thread) {
                CloseHandle(scan.thread);
                scan.thread = nullptr;
            }
            scan.finished.store(false);
            scan.abort.store(false);
            scan.thread = CreateThread(nullptr, 0, scanThread, nullptr, 0, nullptr);
            if (!scan.thread) {
                ReportResult(253);
                scan.dialog = nullptr;
                EndDialog(dialog, 0);
            }
            return TRUE;
        case WM_COMMAND:
            // The Abort button, Escape and the close box all only ask the
            // running wrapper to stop at its next progress report.
            if (LOWORD(wParam) == IDC_SCAN_ABORT || LOWORD(wParam) == IDCANCEL) scan.abort.store(true);
            return TRUE;
        case WM_CLOSE:
            scan.abort.store(true);
            return TRUE;
        case kScanFinished:
            if (scan.thread) {
                WaitForSingleObject(scan.thread, INFINITE);  // already past its last step
                CloseHandle(scan.thread);
                scan.thread = nullptr;
            }
            scan.dialog = nullptr;
            EndDialog(dialog, 1);
            return TRUE;
        default:
            return FALSE;
    }
}

}  // namespace

void RefreshPluginList(bool startUp) {
    ReportResult(StopLiveInput(true));
    scan.failedWrappers.store(0);
    gHost.scanProgress = scanProgress;
    gShell.scanning = true;
    DialogBoxParamA(gShell.instance, MAKEINTRESOURCEA(startUp ? IDD_SCANNING_SPLASH : IDD_SCANNING), gShell.frame,
                    scanDialogProc, 0);
    gShell.scanning = false;
    gHost.scanProgress = nullptr;
    for (int i = scan.failedWrappers.exchange(0); i > 0; --i) ReportResult(229);
}


void ChangeVstDirectory() {
    BROWSEINFOA browse{};
    char display[MAX_PATH] = "";
    browse.hwndOwner = gShell.mdiClient;
    browse.pszDisplayName = display;
    browse.lpszTitle = "Change VST Directory";
    browse.ulFlags = BIF_RETURNONLYFSDIRS;
    LPITEMIDLIST chosen = SHBrowseForFolderA(&browse);
    if (!chosen) return;
    char path[MAX_PATH] = "";
    const BOOL named = SHGetPathFromIDListA(chosen, path);
    CoTaskMemFree(chosen);
    if (!named || !path[0]) return;

    char directory[MAX_PATH];
    if (const int32_t refused = vstDirectoryToStore(path, directory, sizeof directory)) {
        ReportResult(refused);
        return;
    }
    char pattern[MAX_PATH + 2];
    std::snprintf(pattern, sizeof pattern, "%s*", directory);
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA(pattern, &found);
    if (search == INVALID_HANDLE_VALUE) {
        ReportResult(252);
        return;
    }
    FindClose(search);

    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, "SOFTWARE\\Quorvane Software\\Quorvane Live\\1", 0, KEY_WRITE, &key) !=
            ERROR_SUCCESS ||
        !key) {
        ReportResult(250);
        return;
    }
    const LONG written = RegSetValueExA(key, "VSTDir", 0, REG_SZ, reinterpret_cast<const BYTE*>(directory),
                                        static_cast<DWORD>(std::strlen(directory)));
    RegCloseKey(key);
    if (written != ERROR_SUCCESS) {
        ReportResult(251);
        return;
    }
    if (questionBox(gShell.mdiClient,
                    "Do you wish to update plugins list right now?\nIf no, you should do it later if you going to use plugins.",
                    "Refresh Plugins List", MB_YESNO | MB_ICONQUESTION) == IDYES)
        RefreshPluginList(false);
}

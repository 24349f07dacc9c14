// The accompaniment bar along the frame's bottom edge: the title of the
// backing track, its play/stop button and its position.
#include <windows.h>
#include <commctrl.h>

#include "app/resource.h"
#include "app/shell_win32.h"
#include "audiofiles/accompaniment.h"

namespace {
INT_PTR CALLBACK accompanimentBarProc(HWND dialog, UINT message, WPARAM, LPARAM) {
    if (message == WM_INITDIALOG) {
        SendDlgItemMessageA(dialog, IDC_ACCOMP_POSITION, TBM_SETRANGE, TRUE, MAKELPARAM(0, 1000));
        if (HBITMAP play = LoadBitmapA(gShell.instance, MAKEINTRESOURCEA(IDB_PLAY)))
            SendDlgItemMessageA(dialog, IDC_ACCOMP_PLAY, BM_SETIMAGE, IMAGE_BITMAP, reinterpret_cast<LPARAM>(play));
        return TRUE;
    }
    return FALSE;
}
}  // namespace

HWND CreateAccompanimentBar() {
    return CreateDialogParamA(gShell.instance, MAKEINTRESOURCEA(IDD_ACCOMPANIMENT_BAR), gShell.frame,
                              accompanimentBarProc, 0);
}

// The bar shows the accompaniment's title; playing and positioning need live
// input, so the button and the trackbar stay disabled until it exists.
void UpdateAccompanimentBar() {
    if (!gShell.accompanimentBar) return;
    SetDlgItemTextA(gShell.accompanimentBar, IDC_ACCOMP_TITLE, gAccompaniment.title);
    EnableWindow(GetDlgItem(gShell.accompanimentBar, IDC_ACCOMP_TITLE), accompanimentIsOpen());
    const bool playable = accompanimentIsOpen() && LiveInputRunning();
    EnableWindow(GetDlgItem(gShell.accompanimentBar, IDC_ACCOMP_PLAY), playable);
    EnableWindow(GetDlgItem(gShell.accompanimentBar, IDC_ACCOMP_POSITION), playable);
}

// The accompaniment bar along the frame's bottom edge: the title of the
// backing track, its play/stop button and its position. Main thread only.
//
// The button draws itself: its pictures sit on the light grey (192, 192,
// 192) of the art, which must not show as a square on a button face of
// another colour, so they go through an image list masked on that grey.
#include <windows.h>
#include <commctrl.h>

#include "app/liveinput.h"
#include "app/resource.h"
#include "app/shell_win32.h"
#include "audiofiles/accompaniment.h"

namespace {

constexpr COLORREF kPictureKey = RGB(192, 192, 192);

struct Bar {
    HIMAGELIST pictures = nullptr;  // 0: play, 1: stop
    int pictureWidth = 0, pictureHeight = 0;
    bool showsStop = false;
};
Bar bar;

// Loads the program's own copies: adding a bitmap masked changes it, and the
// shared pictures belong to others.
void createPictures() {
    HBITMAP play = LoadBitmapA(gShell.instance, MAKEINTRESOURCEA(IDB_PLAY));
    HBITMAP stop = LoadBitmapA(gShell.instance, MAKEINTRESOURCEA(IDB_STOP));
    BITMAP info{};
    if (play && stop && GetObjectA(play, sizeof info, &info) && info.bmWidth > 0 && info.bmHeight > 0) {
        bar.pictureWidth = info.bmWidth;
        bar.pictureHeight = info.bmHeight;
        bar.pictures = ImageList_Create(info.bmWidth, info.bmHeight, ILC_COLOR24 | ILC_MASK, 2, 0);
        if (bar.pictures && (ImageList_AddMasked(bar.pictures, play, kPictureKey) != 0 ||
                             ImageList_AddMasked(bar.pictures, stop, kPictureKey) != 1)) {
            ImageList_Destroy(bar.pictures);
            bar.pictures = nullptr;
        }
    }
    if (play) DeleteObject(play);
    if (stop) DeleteObject(stop);
}

void drawButton(const DRAWITEMSTRUCT& item) {
    RECT r = item.rcItem;
    const bool pressed = (item.itemState & ODS_SELECTED) != 0;
    const bool disabled = (item.itemState & ODS_DISABLED) != 0;
    DrawFrameControl(item.hDC, &r, DFC_BUTTON, DFCS_BUTTONPUSH | (pressed ? DFCS_PUSHED : 0));
    const int shift = pressed ? 1 : 0;
    if (bar.pictures) {
        const int x = r.left + (r.right - r.left - bar.pictureWidth) / 2 + shift;
        const int y = r.top + (r.bottom - r.top - bar.pictureHeight) / 2 + shift;
        ImageList_DrawEx(bar.pictures, bar.showsStop ? 1 : 0, item.hDC, x, y, 0, 0, CLR_NONE, CLR_DEFAULT,
                         disabled ? ILD_BLEND50 : ILD_TRANSPARENT);
    } else {
        // Without pictures the button still says what it does.
        char text[8] = "";
        GetWindowTextA(item.hwndItem, text, sizeof text);
        SetBkMode(item.hDC, TRANSPARENT);
        SetTextColor(item.hDC, GetSysColor(disabled ? COLOR_GRAYTEXT : COLOR_BTNTEXT));
        OffsetRect(&r, shift, shift);
        DrawTextA(item.hDC, text, -1, &r, DT_CENTER | DT_VCENTER | DT_SINGLELINE);
    }
    if (item.itemState & ODS_FOCUS) {
        RECT focus = item.rcItem;
        InflateRect(&focus, -3, -3);
        DrawFocusRect(item.hDC, &focus);
    }
}

// A trackbar position from the control, checked: any scroll message counts,
// and a position outside 0 ... 1000 is limited to it.
void seek(HWND dialog) {
    if (!accompanimentIsOpen()) return;
    LRESULT p = SendDlgItemMessageA(dialog, IDC_ACCOMP_POSITION, TBM_GETPOS, 0, 0);
    if (p < 0) p = 0;
    if (p > 1000) p = 1000;
    accompanimentSetStart(static_cast<int>(p));
}

INT_PTR CALLBACK accompanimentBarProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_INITDIALOG: {
            SendDlgItemMessageA(dialog, IDC_ACCOMP_POSITION, TBM_SETRANGE, TRUE, MAKELPARAM(0, 1000));
            if (HWND button = GetDlgItem(dialog, IDC_ACCOMP_PLAY)) {
                const LONG_PTR style = GetWindowLongPtrA(button, GWL_STYLE);
                SetWindowLongPtrA(button, GWL_STYLE, (style & ~static_cast<LONG_PTR>(BS_TYPEMASK | BS_BITMAP)) | BS_OWNERDRAW);
            }
            createPictures();
            bar.showsStop = false;
            return TRUE;
        }
        case WM_DRAWITEM: {
            const auto* item = reinterpret_cast<const DRAWITEMSTRUCT*>(lParam);
            if (wParam != IDC_ACCOMP_PLAY || !item || item->CtlType != ODT_BUTTON) return FALSE;
            drawButton(*item);
            return TRUE;
        }
        case WM_COMMAND:
            if (LOWORD(wParam) != IDC_ACCOMP_PLAY || HIWORD(wParam) != BN_CLICKED) return FALSE;
            if (LiveInputRunning()) accompanimentToggle();
            return TRUE;
        case WM_HSCROLL:
            if (reinterpret_cast<HWND>(lParam) != GetDlgItem(dialog, IDC_ACCOMP_POSITION)) return FALSE;
            seek(dialog);
            return TRUE;
        case WM_DESTROY:
            if (bar.pictures) ImageList_Destroy(bar.pictures);
            bar.pictures = nullptr;
            return FALSE;
        default: return FALSE;
    }
}

}  // namespace

HWND CreateAccompanimentBar() {
    return CreateDialogParamA(gShell.instance, MAKEINTRESOURCEA(IDD_ACCOMPANIMENT_BAR), gShell.frame,
                              accompanimentBarProc, 0);
}

void UpdateAccompanimentBar() {
    HWND dialog = gShell.accompanimentBar;
    if (!dialog) return;
    const Accompaniment& a = gAccompaniment;
    const bool open = accompanimentIsOpen();
    const AccompanimentBarView view =
        accompanimentBarView(open, a.playing.load(), a.stopRequest.load(), LiveInputRunning());
    if (open) {
        // A start point chosen and not yet played from stays where it was put.
        const uint64_t shown = a.restartRequest.load() ? a.startPosition.load() : a.position.load();
        SendDlgItemMessageA(dialog, IDC_ACCOMP_POSITION, TBM_SETPOS, TRUE,
                            accompanimentTrackbarPosition(shown, a.dataSize));
    }
    SetDlgItemTextA(dialog, IDC_ACCOMP_TITLE, a.title);
    EnableWindow(GetDlgItem(dialog, IDC_ACCOMP_TITLE), view.titleEnabled);
    EnableWindow(GetDlgItem(dialog, IDC_ACCOMP_PLAY), view.buttonEnabled);
    EnableWindow(GetDlgItem(dialog, IDC_ACCOMP_POSITION), view.trackbarEnabled);
    SetDlgItemTextA(dialog, IDC_ACCOMP_PLAY, view.buttonText);
    bar.showsStop = view.picture == IDB_STOP;
    InvalidateRect(GetDlgItem(dialog, IDC_ACCOMP_PLAY), nullptr, TRUE);
}

// The effect's editor: dialog 101 of the module's own resources, a modeless
// child of the window the wrapper gives. The dialog only carries numbers and
// texts between its trackbars and the effect; the mappings, captions and
// ranges are the effect's EditorModel (effects/<name>/controls.cpp).
//
// UI thread only. Trackbar moves store straight into the parameters, which
// the audio thread reads once per block.
#include <windows.h>
#include <windowsx.h>
#include <commctrl.h>

#include <atomic>

#include "effects/frame/controls.h"
#include "effects/frame/editor_ids.h"
#include "effects/frame/effectframe.h"

namespace {

// The open editor, cleared when the dialog is destroyed (by its parent, which
// the wrapper owns), so a later refresh never reaches a stale handle. Read
// by a refresh on whichever thread sets the sample rate.
std::atomic<HWND> editorWindow{nullptr};
// The page the trackbars show (the chorus's voice); 0 for the others.
int currentPage = 0;
// lParam of the WM_INITDIALOG the effect sends itself to refresh the
// controls; the dialog manager's own one carries 0.
constexpr LPARAM kRefresh = 0x51564658;

// Rack colours: the graphite face and the light label ink of the program.
constexpr COLORREF kFace = RGB(44, 46, 51);
constexpr COLORREF kInk = RGB(220, 223, 228);

HMODULE thisModule() {
    HMODULE module = nullptr;
    GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<LPCSTR>(&thisModule), &module);
    return module;
}

int paramIndex(const TrackbarControl& c) { return currentPage * kEffect.editor->pageParams + c.param; }

void showCaptions(HWND dialog, const TrackbarControl& c, double value) {
    char text[kCaptionSize];
    c.caption(value, text, sizeof text);
    SetDlgItemTextA(dialog, c.captionId, text);
    if (c.secondCaptionId && c.secondCaption) {
        c.secondCaption(value, text, sizeof text);
        SetDlgItemTextA(dialog, c.secondCaptionId, text);
    }
}

// Every trackbar and caption from the current parameters.
void showParameters(HWND dialog) {
    const EditorModel& model = *kEffect.editor;
    for (int i = 0; i < model.controlCount; ++i) {
        const TrackbarControl& c = model.controls[i];
        const double value = kEffect.getParam(paramIndex(c));
        showCaptions(dialog, c, value);
        SendDlgItemMessageA(dialog, c.trackbarId, TBM_SETRANGE, TRUE, MAKELPARAM(0, kTrackbarMax));
        SendDlgItemMessageA(dialog, c.trackbarId, TBM_SETPOS, TRUE, trackbarPosition(c.toPosition(value)));
    }
    if (model.pageButtons[0])
        CheckRadioButton(dialog, model.pageButtons[0], model.pageButtons[model.pageCount - 1],
                         model.pageButtons[currentPage]);
}

bool takeTrackbar(HWND dialog, HWND trackbar) {
    const TrackbarControl* c = findTrackbar(*kEffect.editor, GetDlgCtrlID(trackbar));
    if (!c) return false;
    const int position = static_cast<int>(SendMessageA(trackbar, TBM_GETPOS, 0, 0));
    const int index = paramIndex(*c);
    const double before = kEffect.getParam(index);
    kEffect.setParam(index, c->toValue(position));
    const double after = kEffect.getParam(index);
    showCaptions(dialog, *c, after);
    // Every scroll message comes here (the thumb's release repeats the last
    // position): the host hears only of a value that changed.
    if (after != before)
        effectEditorRequest(ER_PARAMETER_CHANGED, controlIdParam(*kEffect.editor, c->trackbarId, currentPage));
    return true;
}

// A right-click (or the menu key) on a parameter's trackbar: MIDI learn for
// that parameter, when the wrapper listens. False for any other window.
bool controlMenu(HWND dialog, HWND control, LPARAM at) {
    if (!control || GetParent(control) != dialog || !effectEditorRequestsHeard()) return false;
    const int index = controlIdParam(*kEffect.editor, GetDlgCtrlID(control), currentPage);
    if (index < 0) return false;
    POINT p{GET_X_LPARAM(at), GET_Y_LPARAM(at)};
    if (at == -1) {  // from the keyboard: below the control
        RECT r;
        GetWindowRect(control, &r);
        p = {r.left, r.bottom};
    }
    HMENU menu = CreatePopupMenu();
    if (!menu) return true;
    for (const ControlMenuItem& item : kControlMenuItems) AppendMenuA(menu, MF_STRING, item.command, item.text);
    const int command = TrackPopupMenu(menu, TPM_LEFTALIGN | TPM_TOPALIGN | TPM_RIGHTBUTTON | TPM_RETURNCMD, p.x, p.y,
                                       0, dialog, nullptr);
    DestroyMenu(menu);
    if (const intptr_t request = controlMenuRequest(command)) effectEditorRequest(request, index);
    return true;
}

bool choosePage(HWND dialog, int id) {
    const EditorModel& model = *kEffect.editor;
    for (int page = 0; page < model.pageCount && page < 2; ++page) {
        if (model.pageButtons[page] && model.pageButtons[page] == id) {
            currentPage = page;
            showParameters(dialog);
            return true;
        }
    }
    return false;
}

INT_PTR CALLBACK editorProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_INITDIALOG:
            showParameters(dialog);
            // Only the dialog's own first initialisation places the focus;
            // a refresh leaves it where the user has it.
            if (lParam != kRefresh && kEffect.editor->focusTrackbar) {
                SetFocus(GetDlgItem(dialog, kEffect.editor->focusTrackbar));
                return FALSE;
            }
            return TRUE;
        case WM_HSCROLL:
        case WM_VSCROLL:
            return lParam && takeTrackbar(dialog, reinterpret_cast<HWND>(lParam)) ? TRUE : FALSE;
        case WM_CONTEXTMENU:
            return controlMenu(dialog, reinterpret_cast<HWND>(wParam), lParam) ? TRUE : FALSE;
        case WM_COMMAND:
            return HIWORD(wParam) == BN_CLICKED && choosePage(dialog, LOWORD(wParam)) ? TRUE : FALSE;
        case WM_CTLCOLORDLG:
        case WM_CTLCOLORSTATIC: {
            HDC dc = reinterpret_cast<HDC>(wParam);
            SetTextColor(dc, kInk);
            SetBkColor(dc, kFace);
            SetDCBrushColor(dc, kFace);
            return reinterpret_cast<INT_PTR>(GetStockObject(DC_BRUSH));
        }
        case WM_DESTROY:
            {
                HWND open = dialog;
                editorWindow.compare_exchange_strong(open, nullptr);
            }
            return FALSE;
        default:
            return FALSE;
    }
}

}  // namespace

intptr_t effectOpenEditor(int32_t* size, intptr_t parent) {
    if (!kEffect.editor || !parent) return 0;
    INITCOMMONCONTROLSEX classes{sizeof classes, ICC_BAR_CLASSES};
    InitCommonControlsEx(&classes);
    currentPage = 0;  // a new editor starts on the first voice
    HWND dialog = CreateDialogParamA(thisModule(), MAKEINTRESOURCEA(IDD_EFFECT_EDITOR), reinterpret_cast<HWND>(parent),
                                     editorProc, 0);
    if (!dialog) return 0;
    editorWindow = dialog;
    const EditorModel& model = *kEffect.editor;
    // The editor is exactly the size it reports, whatever the dialog units
    // come to with the font at hand.
    SetWindowPos(dialog, nullptr, 0, 0, model.width, model.height, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    if (size) {
        size[0] = model.width;
        size[1] = model.height;
    }
    return reinterpret_cast<intptr_t>(dialog);
}

// PQ_SET_SAMPLE_RATE may come on a driver's thread (an ASIO rate change)
// while the UI thread waits for that thread: only the dialog's own thread
// refreshes at once, any other posts the refresh and never waits.
void effectRefreshEditor() {
    HWND dialog = editorWindow.load();
    if (!dialog || !IsWindow(dialog)) return;
    if (GetWindowThreadProcessId(dialog, nullptr) == GetCurrentThreadId())
        SendMessageA(dialog, WM_INITDIALOG, 0, kRefresh);
    else
        PostMessageA(dialog, WM_INITDIALOG, 0, kRefresh);
}

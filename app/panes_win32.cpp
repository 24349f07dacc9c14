// Shared graphics and the windows that the frame creates but that are filled
// in by their own stages: the Master Section with its panes, the knob, the
// toolbar and its tooltips, the meters, the accompaniment bar, the audio
// settings and recording dialogs. Each entry here does what exists today
// and says what its window will do; none pretends to work.
#include <windows.h>
#include <commctrl.h>

#include <cstdio>

#include "app/resource.h"
#include "app/shell_win32.h"
#include "audiofiles/accompaniment.h"

namespace {

struct PatternBrush {
    int bitmapId;
    HBITMAP bitmap;
    HBRUSH brush;
};

PatternBrush patterns[] = {
    {IDB_FX_PANE, nullptr, nullptr},
    {IDB_GATE_PANE, nullptr, nullptr},
    {IDB_MDI_PATTERN, nullptr, nullptr},
    {IDB_METER, nullptr, nullptr},
};

HFONT smallFont = nullptr;

}  // namespace

HBRUSH SharedPatternBrush(int bitmapId) {
    for (PatternBrush& p : patterns) {
        if (p.bitmapId != bitmapId) continue;
        if (!p.brush) {
            p.bitmap = LoadBitmapA(gShell.instance, MAKEINTRESOURCEA(bitmapId));
            if (p.bitmap) p.brush = CreatePatternBrush(p.bitmap);
        }
        return p.brush;
    }
    return nullptr;
}

bool CreateSharedGraphics() {
    for (PatternBrush& p : patterns) SharedPatternBrush(p.bitmapId);
    smallFont = CreateFontA(-11, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, ANSI_CHARSET, OUT_DEFAULT_PRECIS,
                            CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH | FF_SWISS, "MS Sans Serif");
    return smallFont != nullptr;
}

void DestroySharedGraphics() {
    for (PatternBrush& p : patterns) {
        if (p.brush) DeleteObject(p.brush);
        if (p.bitmap) DeleteObject(p.bitmap);
        p.brush = nullptr;
        p.bitmap = nullptr;
    }
    if (smallFont) DeleteObject(smallFont);
    smallFont = nullptr;
}

// The Master Section (an MDI child holding the gate and chain panes) comes
// with the knobs; until then its class only behaves as an MDI child.
LRESULT CALLBACK MasterSectionProc(HWND w, UINT m, WPARAM wp, LPARAM lp) { return DefMDIChildProcA(w, m, wp, lp); }
LRESULT CALLBACK ChainPaneProc(HWND w, UINT m, WPARAM wp, LPARAM lp) { return DefWindowProcA(w, m, wp, lp); }
LRESULT CALLBACK GatePaneProc(HWND w, UINT m, WPARAM wp, LPARAM lp) { return DefWindowProcA(w, m, wp, lp); }
LRESULT CALLBACK MeterProc(HWND w, UINT m, WPARAM wp, LPARAM lp) { return DefWindowProcA(w, m, wp, lp); }
// The toolbar's buttons come with their pictures; the bar keeps its place.
LRESULT CALLBACK ToolbarProc(HWND w, UINT m, WPARAM wp, LPARAM lp) { return DefWindowProcA(w, m, wp, lp); }

// The knob control registers its class with the Master Section.
BOOL RegisterKnobClass() { return TRUE; }

// The chain pane's pop-up menu ("Select Effect", bypass, move) comes with the pane.
void CreateChainMenu() {}
void DestroyChainMenu() {
    if (gShell.chainMenu) DestroyMenu(gShell.chainMenu);
    gShell.chainMenu = nullptr;
}

// The tooltip control exists from the start so that the message loop can
// relay mouse messages; the toolbar registers its tools with its buttons.
void CreateToolbarTooltips() {
    gShell.tooltip = CreateWindowExA(0, TOOLTIPS_CLASSA, nullptr, WS_POPUP | TTS_ALWAYSTIP, CW_USEDEFAULT,
                                     CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, gShell.frame, nullptr,
                                     gShell.instance, nullptr);
}

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

// Opens (or activates) the Master Section window once it is built.
void ShowMasterSection() {}
void RefreshMasterSection() {}
// The load read-out is drawn into the frame with the meters.
void DrawLoadReadout(HDC) {}
// The audio settings dialog (devices, format, latency) and the recording
// dialog come with live input.
void RunAudioSettingsDialog() {}
void RunRecordingDialog() {}
void OpenVuMeters() {}

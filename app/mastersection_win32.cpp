// The Master Section: an MDI child titled "Master Section" holding the
// effect chain pane on the left and the gate pane on the right. The gate
// pane carries five knobs (output and input gain, the gate's attack,
// release and threshold) with a read-out beside each and the DC remover
// switch; the values live in the engine and take effect at its next block.
// The mappings and texts are gatepane.cpp. Main thread only.
#include <windows.h>
#include <commctrl.h>

#include <cstring>

#include "app/gatepane.h"
#include "app/knob.h"
#include "app/report.h"
#include "app/settings.h"
#include "app/stagecontrol.h"
#include "app/shell_win32.h"
#include "engine/engine.h"

GateValues EngineGateValues() {
    GateValues v;
    v.masterGain = gEngine.masterGain.load(std::memory_order_relaxed);
    v.inputGain = gEngine.inputGain.load(std::memory_order_relaxed);
    v.gateThreshold = gEngine.gateThreshold.load(std::memory_order_relaxed);
    v.gateAttackMs = gEngine.gateAttackMs.load(std::memory_order_relaxed);
    v.gateReleaseMs = gEngine.gateReleaseMs.load(std::memory_order_relaxed);
    return v;
}

// Stores only the value the knob `id` sets: the audio thread may read the
// others at any moment and must not see them rewritten.
void StoreEngineGateValue(uint32_t id, const GateValues& v) {
    switch (id) {
        case kKnobOutput: gEngine.masterGain.store(v.masterGain, std::memory_order_relaxed); break;
        case kKnobInput: gEngine.inputGain.store(v.inputGain, std::memory_order_relaxed); break;
        case kKnobAttack: gEngine.gateAttackMs.store(v.gateAttackMs, std::memory_order_relaxed); break;
        case kKnobRelease: gEngine.gateReleaseMs.store(v.gateReleaseMs, std::memory_order_relaxed); break;
        case kKnobThreshold: gEngine.gateThreshold.store(v.gateThreshold, std::memory_order_relaxed); break;
        default: break;
    }
}

namespace {

constexpr UINT kRefreshMessage = 0x110;  // sent by New and Open: the chain pane repaints whole
constexpr int kChainPaneWidth = 291, kPaneHeight = 235, kGatePaneWidth = 228;
constexpr COLORREF kReadoutInk = RGB(255, 255, 255);
constexpr COLORREF kReadoutBox = RGB(34, 36, 47);  // the read-out boxes' face in the gate picture

HWND chainPane = nullptr;
HWND gatePane = nullptr;

// ---- the gate pane ----

void drawReadout(HDC dc, const GateKnobRow& row, const GateValues& v, bool overPrevious) {
    char text[32];
    gateReadout(row.id, v, overPrevious, text, sizeof text);
    TextOutA(dc, row.readoutX, row.readoutY, text, static_cast<int>(std::strlen(text)));
}

void drawSwitch(HDC dc) {
    if (HIMAGELIST lit = SharedImageList(kImagesSwitch)) ImageList_Draw(lit, 0, dc, kSwitchLeft, kSwitchTop, ILD_NORMAL);
}

void createKnobs(HWND pane) {
    const GateValues v = EngineGateValues();
    for (const GateKnobRow& row : kGateKnobs) {
        KnobRecord k;
        k.minimum = 0;
        k.maximum = kGateKnobMaximum;
        k.coarseStep = kGateKnobCoarseStep;
        k.fineStep = kGateKnobFineStep;
        k.normalStep = kGateKnobNormalStep;
        k.value = gateKnobValue(row.id, v);
        k.needlePen = SharedNeedlePen();
        k.background = SharedImageList(kImagesGateBackground);
        k.backgroundX = -row.x;
        k.backgroundY = -row.y;
        k.width = k.height = kGateKnobSize;
        k.enabled = 1;
        k.identifier = row.id;
        CreateKnob(pane, gShell.instance, row.x, row.y, k);  // a knob that cannot be made is simply absent
    }
}

LRESULT gateErase(HWND pane, HDC dc) {
    DefWindowProcA(pane, WM_ERASEBKGND, reinterpret_cast<WPARAM>(dc), 0);
    const GateValues v = EngineGateValues();
    const int mode = SetBkMode(dc, TRANSPARENT);
    const COLORREF ink = SetTextColor(dc, kReadoutInk);
    HGDIOBJ font = SharedInterfaceFont() ? SelectObject(dc, SharedInterfaceFont()) : nullptr;
    for (const GateKnobRow& row : kGateKnobs) drawReadout(dc, row, v, false);
    if (gEngine.dcRemoverOn.load(std::memory_order_relaxed)) drawSwitch(dc);
    if (font) SelectObject(dc, font);
    SetTextColor(dc, ink);
    SetBkMode(dc, mode);
    return 1;
}

// A command counts as a knob's only when it names one of the five and
// carries the very record that knob owns: anything else posted to the
// pane could point anywhere.
const KnobRecord* knobReport(HWND pane, WPARAM wParam, LPARAM lParam) {
    if (HIWORD(wParam) != 0 || !gateKnobRow(LOWORD(wParam)) || lParam == 0) return nullptr;
    HWND knob = GetDlgItem(pane, LOWORD(wParam));
    if (!knob) return nullptr;
    const LRESULT own = SendMessageA(knob, WM_USER, 0, 0);
    if (own != lParam) return nullptr;
    return reinterpret_cast<const KnobRecord*>(own);
}

bool gateCommand(HWND pane, WPARAM wParam, LPARAM lParam) {
    const KnobRecord* k = knobReport(pane, wParam, lParam);
    if (!k) return false;
    const uint32_t id = LOWORD(wParam);
    GateValues v = EngineGateValues();
    if (!gateApplyKnob(id, k->value, k->maximum, v)) return true;
    StoreEngineGateValue(id, v);
    if (HDC dc = GetDC(pane)) {
        SetBkMode(dc, OPAQUE);
        SetBkColor(dc, kReadoutBox);
        SetTextColor(dc, kReadoutInk);
        if (HFONT font = SharedInterfaceFont()) SelectObject(dc, font);
        drawReadout(dc, *gateKnobRow(id), v, true);
        ReleaseDC(pane, dc);
    }
    return true;
}

void gateClick(HWND pane, LPARAM lParam) {
    const int x = static_cast<short>(LOWORD(lParam)), y = static_cast<short>(HIWORD(lParam));
    if (!gateSwitchHit(x, y)) return;
    const bool on = !gEngine.dcRemoverOn.load(std::memory_order_relaxed);
    gEngine.dcRemoverOn.store(on, std::memory_order_relaxed);
    if (on) {
        if (HDC dc = GetDC(pane)) {
            drawSwitch(dc);
            ReleaseDC(pane, dc);
        }
        return;
    }
    // The pane does not clip its knobs: they repaint with it, or their
    // needles would be erased with the lit switch.
    RedrawWindow(pane, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN);
}

// A right-click on a knob or on the DC remover switch offers MIDI learn.
void gateContextMenu(HWND pane, WPARAM wParam, LPARAM lParam) {
    POINT at{static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam))};
    if (lParam == -1) return;  // from the keyboard: no knob is meant
    HWND from = reinterpret_cast<HWND>(wParam);
    if (from != pane) {
        const int id = GetDlgCtrlID(from);
        if (gateKnobRow(static_cast<uint32_t>(id))) StageMenu(pane, at, kTargetKnob, static_cast<uint8_t>(id), 0);
        return;
    }
    POINT local = at;
    ScreenToClient(pane, &local);
    if (gateSwitchHit(local.x, local.y)) StageMenu(pane, at, kTargetDcRemover, 0, 0);
}

// ---- the window ----

// The position the window is re-created at: its outer top-left corner in
// the MDI client's coordinates (WM_MOVE reports the client area's origin,
// which would creep down and right by the frame at every run).
void recordPosition(HWND window) {
    if (IsIconic(window) || IsZoomed(window) || !gShell.mdiClient) return;
    RECT outer;
    if (!GetWindowRect(window, &outer)) return;
    POINT corner{outer.left, outer.top};
    if (!ScreenToClient(gShell.mdiClient, &corner)) return;
    gWindowPositions.masterX = corner.x;
    gWindowPositions.masterY = corner.y;
}

void createPanes(HWND window) {
    const DWORD style = WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS;
    chainPane = CreateWindowExA(0, "Quorvane_FX_Class", nullptr, style, 0, 0, kChainPaneWidth, kPaneHeight, window,
                                nullptr, gShell.instance, nullptr);
    CreateWindowExA(0, "Quorvane_Gate_Class", nullptr, style, kChainPaneWidth, 0, kGatePaneWidth, kPaneHeight, window,
                    nullptr, gShell.instance, nullptr);
}

}  // namespace

LRESULT CALLBACK MasterSectionProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_CREATE:
            gShell.masterSection = window;
            createPanes(window);
            break;
        case WM_MOVE: recordPosition(window); break;
        case kRefreshMessage:
            if (chainPane) InvalidateRect(chainPane, nullptr, TRUE);
            return 1;
        case WM_DESTROY:
            chainPane = nullptr;
            if (gShell.masterSection == window) gShell.masterSection = nullptr;
            break;
        default: break;
    }
    return DefMDIChildProcA(window, message, wParam, lParam);
}

LRESULT CALLBACK GatePaneProc(HWND pane, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_CREATE:
            gatePane = pane;
            createKnobs(pane);
            break;
        case WM_DESTROY:
            if (gatePane == pane) gatePane = nullptr;
            break;
        case WM_CONTEXTMENU: gateContextMenu(pane, wParam, lParam); return 0;
        case WM_ERASEBKGND: return gateErase(pane, reinterpret_cast<HDC>(wParam));
        case WM_COMMAND:
            if (gateCommand(pane, wParam, lParam)) return 0;
            break;
        case WM_LBUTTONDOWN: gateClick(pane, lParam); break;
        default: break;
    }
    return DefWindowProcA(pane, message, wParam, lParam);
}

// The "Show Master Section" command and the settings' open flag: brings the
// window forward, or makes it anew at the position it last had.
void ShowMasterSection() {
    if (gShell.masterSection && IsWindow(gShell.masterSection)) {
        SendMessageA(gShell.mdiClient, WM_MDIACTIVATE, reinterpret_cast<WPARAM>(gShell.masterSection), 0);
        return;
    }
    gShell.masterSection = nullptr;
    HWND window = gShell.mdiClient
                      ? CreateMDIWindowA("Quorvane_MDIClient_Class", "Master Section", WS_VISIBLE | WS_CLIPSIBLINGS,
                                         gWindowPositions.masterX, gWindowPositions.masterY, gShell.masterWidth,
                                         gShell.masterHeight, gShell.mdiClient, gShell.instance, 0)
                      : nullptr;
    if (!window) {
        gShell.masterSection = nullptr;
        ReportResult(169);
    }
}

void MasterSectionShowValues() {
    if (!gatePane) return;
    const GateValues v = EngineGateValues();
    for (const GateKnobRow& row : kGateKnobs) {
        HWND knob = GetDlgItem(gatePane, row.id);
        auto* record = knob ? reinterpret_cast<KnobRecord*>(SendMessageA(knob, WM_USER, 0, 0)) : nullptr;
        if (!record || record->dragging) continue;
        record->value = gateKnobValue(row.id, v);
    }
    RedrawWindow(gatePane, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN);
}

void RefreshMasterSection() {
    if (gShell.masterSection && IsWindow(gShell.masterSection)) SendMessageA(gShell.masterSection, kRefreshMessage, 0, 0);
}

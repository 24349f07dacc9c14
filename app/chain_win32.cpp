// The effect chain pane inside the Master Section, its pop-up menu and the
// "Select Effect:" dialog. The pane's class is registered at start-up; the
// Master Section creates the pane (one at a time) when it is created.
//
// Main (user-interface) thread only. Every chain change goes through the
// host's chain operations, which pause the engine's plug-in stage and
// report their own failures; the pane never calls a wrapper while the
// plug-in scan owns them.
#include <windows.h>
#include <commctrl.h>
#include <windowsx.h>

#include "app/chain.h"
#include "app/report.h"
#include "app/resource.h"
#include "app/shell_win32.h"
#include "app/stagecontrol.h"
#include "host/host.h"
#include "platform/platform.h"

#include <cstring>

namespace {

HWND pane = nullptr;
// The slot the last click or double-click chose; the menu commands act on it.
int selectedSlot = 0;
// The rows as last painted: a paint during the scan draws these again.
ChainView view;

// The host calls this after every chain change and for the wrappers'
// repaint callbacks; it only invalidates, the paint reads the chain.
void invalidatePane() {
    if (pane) InvalidateRect(pane, nullptr, TRUE);
}

bool slotFilled(int slot) { return gEngine.chain[chainClampSlot(slot)].instance != 0; }

// Painting happens when the background is erased: the class's pattern
// brush first, then the rows on top of it.
void paintRows(HWND window, HDC dc) {
    ChainReader reader;
    reader.instanceName = wrapperInstanceName;
    reader.instanceActive = wrapperInstanceActive;
    reader.slotFailed = chainSlotFailed;
    chainRefreshView(view, gEngine.chain, reader, gShell.scanning);

    DefWindowProcA(window, WM_ERASEBKGND, reinterpret_cast<WPARAM>(dc), 0);
    const int savedDc = SaveDC(dc);
    SetBkMode(dc, TRANSPARENT);
    if (HFONT font = SharedInterfaceFont()) SelectObject(dc, font);
    HIMAGELIST bypass = SharedImageList(kImagesChainPane);
    for (int r = 0; r < kChainRows; ++r) {
        const ChainRowView& row = view.rows[r];
        SetTextColor(dc, static_cast<COLORREF>(row.colour));
        TextOutA(dc, kChainTextX, chainRowTextY(r), row.text, lstrlenA(row.text));
        if (row.bypassed && bypass) ImageList_Draw(bypass, 0, dc, kChainBypassX, chainRowTextY(r), ILD_NORMAL);
    }
    RestoreDC(dc, savedDc);
}

// ---- plug-ins in helper processes ----

constexpr const char* kSeparateSetting = "SeparateProcesses";

struct FailureNote {
    char text[400];
};
FailureNote failures[kChainSlots];
int failureCount = 0;
UINT_PTR failureTimer = 0;

void CALLBACK showFailures(HWND, UINT, UINT_PTR id, DWORD) {
    KillTimer(nullptr, id);
    failureTimer = 0;
    // Copied first: a box's message loop may queue more.
    FailureNote shown[kChainSlots];
    const int n = failureCount;
    for (int i = 0; i < n; ++i) shown[i] = failures[i];
    failureCount = 0;
    for (int i = 0; i < n; ++i) MessageBoxA(gShell.frame, shown[i].text, "Quorvane Live", MB_OK | MB_ICONWARNING);
}

void noteFailure(int slot, const char* plugin, int32_t why, uint64_t) {
    if (failureCount < kChainSlots)
        separateFailureText(failures[failureCount++].text, sizeof failures[0].text, slot, plugin, why);
}

// ---- "Select Effect:" ----

EffectChoice choice;

void fillEffectTree(HWND dialog) {
    HWND tree = GetDlgItem(dialog, IDC_EFFECT_TREE);
    SendMessageA(tree, TVM_DELETEITEM, 0, reinterpret_cast<LPARAM>(TVI_ROOT));
    EffectSource source;
    source.wrapperCount = wrapperCount;
    source.availableCount = wrapperAvailableCount;
    source.wrapperName = wrapperName;
    source.availableName = wrapperAvailableName;
    const EffectTree built = chainBuildEffectTree(source);

    // Children arrive sorted; each wrapper node is expanded once its children exist.
    HTREEITEM parent = nullptr;
    for (const EffectTreeNode& node : built.nodes) {
        TVINSERTSTRUCTA insert = {};
        insert.hParent = node.parent < 0 ? TVI_ROOT : parent;
        insert.hInsertAfter = TVI_LAST;
        insert.item.mask = TVIF_TEXT | TVIF_PARAM;
        insert.item.pszText = const_cast<char*>(node.name);
        insert.item.lParam = static_cast<LPARAM>(node.data);
        HTREEITEM item =
            reinterpret_cast<HTREEITEM>(SendMessageA(tree, TVM_INSERTITEMA, 0, reinterpret_cast<LPARAM>(&insert)));
        if (node.parent < 0) {
            if (parent) SendMessageA(tree, TVM_EXPAND, TVE_EXPAND, reinterpret_cast<LPARAM>(parent));
            parent = item;
        }
    }
    if (parent) SendMessageA(tree, TVM_EXPAND, TVE_EXPAND, reinterpret_cast<LPARAM>(parent));
    for (int32_t code : built.reports) ReportResult(code);
}

INT_PTR CALLBACK selectEffectProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_INITDIALOG:
            fillEffectTree(dialog);
            return TRUE;
        case WM_NOTIFY: {
            const NMHDR* header = reinterpret_cast<const NMHDR*>(lParam);
            if (!header || header->idFrom != IDC_EFFECT_TREE) return FALSE;
            // Both forms carry the new item at the same place.
            if (header->code == TVN_SELCHANGEDA || header->code == TVN_SELCHANGEDW) {
                const NMTREEVIEWA* change = reinterpret_cast<const NMTREEVIEWA*>(lParam);
                choice = chainChoiceFromItem(static_cast<uintptr_t>(change->itemNew.lParam));
            }
            return FALSE;
        }
        case WM_COMMAND:
            switch (LOWORD(wParam)) {
                case IDC_EFFECT_OK:
                    EndDialog(dialog, 1);
                    return TRUE;
                case IDC_EFFECT_CANCEL:
                case IDCANCEL:
                    EndDialog(dialog, 0);
                    return TRUE;
            }
            return FALSE;
        case WM_CLOSE:
            EndDialog(dialog, 0);
            return TRUE;
    }
    return FALSE;
}

// Attach to the selected slot: the user picks a plug-in first; a cancelled
// dialog or a wrapper node attaches nothing. chainAttach reports its failures.
void attachToSelectedSlot() {
    choice = EffectChoice{};
    const INT_PTR chosen = DialogBoxParamA(gShell.instance, MAKEINTRESOURCEA(IDD_SELECT_EFFECT), gShell.frame,
                                           selectEffectProc, 0);
    if (chosen != 1 || !chainChoiceAttaches(choice)) return;
    if (wrapperRunsOutside(choice.wrapper))
        chainAttachSeparate(chainClampSlot(selectedSlot), choice.wrapper, choice.plugin);
    else
        chainAttach(chainClampSlot(selectedSlot), choice.wrapper, choice.plugin);
}

// ---- pane events ----

void openSlotMenu(HWND window, int row) {
    if (!gShell.chainMenu) return;
    selectedSlot = row;
    ChainSlotState slotState;
    slotState.filled = slotFilled(row);
    slotState.separate = chainSeparate(row) != nullptr;
    slotState.bits32 = slotState.separate && chainSeparate(row)->bits32;
    slotState.failed = chainSlotFailed(row);
    slotState.canSeparate = wrapperCanRunOutside(gEngine.chain[chainClampSlot(row)].wrapperIndex & 0xFF);
    const ChainMenuState state = chainMenuState(row, slotState);
    const struct {
        UINT id;
        bool enabled;
    } items[] = {
        {kChainCommandSelect, state.select},         {kChainCommandSelectNone, state.selectNone},
        {kChainCommandShowEditor, state.showEditor}, {kChainCommandMoveUp, state.moveUp},
        {kChainCommandMoveDown, state.moveDown},     {kChainCommandSeparate, state.separate},
        {kChainCommandReload, state.reload},
    };
    for (const auto& item : items)
        EnableMenuItem(gShell.chainMenu, item.id, MF_BYCOMMAND | (item.enabled ? MF_ENABLED : MF_GRAYED));
    CheckMenuItem(gShell.chainMenu, kChainCommandSeparate,
                  MF_BYCOMMAND | (state.separateChecked ? MF_CHECKED : MF_UNCHECKED));
    POINT at = {kChainMenuX, chainMenuY(row)};
    ClientToScreen(window, &at);
    TrackPopupMenu(gShell.chainMenu, TPM_LEFTALIGN | TPM_TOPALIGN | TPM_LEFTBUTTON, at.x, at.y, 0, window, nullptr);
}

void onLeftButtonDown(HWND window, LPARAM lParam) {
    const ChainHit hit = chainHitTest(GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam));
    if (hit.row < 0) return;
    if (hit.zone == ChainZone::MenuButton) openSlotMenu(window, hit.row);
    else if (hit.zone == ChainZone::Bypass && slotFilled(hit.row)) chainToggleBypass(hit.row);
}

void onLeftDoubleClick(LPARAM lParam) {
    const ChainHit hit = chainHitTest(GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam));
    if (hit.row < 0 || hit.zone != ChainZone::Name) return;
    selectedSlot = hit.row;
    attachToSelectedSlot();
}

// The editor opens for the row under the pointer; the selected slot stays.
// On the bypass picture the button offers MIDI learn for the slot's bypass.
void onRightButtonUp(HWND window, LPARAM lParam) {
    const ChainHit hit = chainHitTest(GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam));
    if (hit.row >= 0 && hit.zone == ChainZone::Bypass && slotFilled(hit.row)) {
        POINT at{GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)};
        ClientToScreen(window, &at);
        StageMenu(window, at, kTargetBypass, static_cast<uint8_t>(hit.row), 0);
        return;
    }
    if (hit.row < 0 || hit.zone != ChainZone::Name || !slotFilled(hit.row)) return;
    chainShowEditor(hit.row, gShell.mdiClient);
}

void onCommand(int id) {
    const int slot = chainClampSlot(selectedSlot);
    const intptr_t before = gEngine.chain[slot].instance;
    switch (id) {
        // A slot's MIDI bindings follow its plug-in, and go with it.
        case kChainCommandSelect:
            attachToSelectedSlot();
            if (gEngine.chain[slot].instance != before) StageSlotCleared(slot);
            break;
        case kChainCommandSelectNone:
            chainDetach(slot);
            if (!gEngine.chain[slot].instance) StageSlotCleared(slot);
            break;
        case kChainCommandShowEditor: chainShowEditor(slot, gShell.mdiClient); break;
        case kChainCommandMoveUp:
            chainMoveUp(slot);
            if (slot > 0 && gEngine.chain[slot].instance != before) StageSlotsSwapped(slot, slot - 1);
            break;
        case kChainCommandMoveDown:
            chainMoveDown(slot);
            if (slot < kChainSlots - 1 && gEngine.chain[slot].instance != before) StageSlotsSwapped(slot, slot + 1);
            break;
        case kChainCommandSeparate:
            if (chainSeparate(slot)) chainMoveInside(slot);
            else chainMoveOutside(slot);
            break;
        case kChainCommandReload: chainReload(slot); break;
    }
    CheckSeparatePlugins();
}

}  // namespace

LRESULT CALLBACK ChainPaneProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        // The host's repaint request (after every chain change and for the
        // wrappers' callbacks) reaches the pane while it exists. hostReset at
        // start-up clears the host, so the hook is set here, not earlier.
        case WM_CREATE:
            pane = window;
            gHost.repaintChain = invalidatePane;
            return 0;
        case WM_DESTROY:
            if (pane == window) {
                pane = nullptr;
                gHost.repaintChain = nullptr;
            }
            return 0;
        case WM_ERASEBKGND:
            paintRows(window, reinterpret_cast<HDC>(wParam));
            return 1;
        case WM_PAINT: {
            PAINTSTRUCT ps;
            BeginPaint(window, &ps);
            EndPaint(window, &ps);
            return 0;
        }
    }
    // While the scan thread owns the wrappers nothing here may reach them.
    if (gShell.scanning) return DefWindowProcA(window, message, wParam, lParam);
    switch (message) {
        case WM_LBUTTONDOWN:
            onLeftButtonDown(window, lParam);
            return 0;
        case WM_LBUTTONDBLCLK:
            onLeftDoubleClick(lParam);
            return 0;
        case WM_RBUTTONUP:
            onRightButtonUp(window, lParam);
            return 0;
        case WM_COMMAND:
            if (lParam == 0) onCommand(LOWORD(wParam));
            return 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

// The pop-up menu lives from start-up to exit.
void CreateChainMenu() {
    if (gShell.chainMenu) return;
    HMENU menu = CreatePopupMenu();
    if (!menu) return;
    AppendMenuA(menu, MF_STRING, kChainCommandSelect, "&Select");
    AppendMenuA(menu, MF_STRING, kChainCommandSelectNone, "Select &None");
    AppendMenuA(menu, MF_SEPARATOR, 0, nullptr);
    AppendMenuA(menu, MF_STRING, kChainCommandShowEditor, "Show &Editor");
    AppendMenuA(menu, MF_SEPARATOR, 0, nullptr);
    AppendMenuA(menu, MF_STRING, kChainCommandMoveUp, "Move &Up");
    AppendMenuA(menu, MF_STRING, kChainCommandMoveDown, "Move &Down");
    AppendMenuA(menu, MF_SEPARATOR, 0, nullptr);
    AppendMenuA(menu, MF_STRING, kChainCommandSeparate, "Run in Separate &Process");
    AppendMenuA(menu, MF_STRING, kChainCommandReload, "&Reload Plug-in");
    gShell.chainMenu = menu;
}

void CheckSeparatePlugins() {
    chainTakeSeparateReports();
    if (chainCheckSeparate(noteFailure) > 0 && !failureTimer)
        failureTimer = SetTimer(nullptr, 0, 0, showFailures);
}

bool AllSeparate() { return gHost.allSeparate; }

void SetAllSeparate(bool on) {
    gHost.allSeparate = on;
    SetMenuItemChecked(IDM_SEPARATE_PROCESSES, on);
    platformWriteSetting(kSeparateSetting, on ? "1" : "0");
    chainMoveAllOutside();
    CheckSeparatePlugins();
}

// The stored choice, at start-up (the chain is empty then).
void LoadAllSeparate() {
    char value[8] = "";
    gHost.allSeparate = platformReadSetting(kSeparateSetting, value, sizeof value) && std::strcmp(value, "1") == 0;
    SetMenuItemChecked(IDM_SEPARATE_PROCESSES, gHost.allSeparate);
}

void DestroyChainMenu() {
    if (gShell.chainMenu) DestroyMenu(gShell.chainMenu);
    gShell.chainMenu = nullptr;
    if (gHost.repaintChain == invalidatePane) gHost.repaintChain = nullptr;
}

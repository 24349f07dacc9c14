// The editor frame window: class "Default_Wrapper_Editor", an MDI child of
// the host's client. Its left strip carries the preset button; the effect's
// editor sits to the right of it at (15, 0). The menu's contents and the
// preset files are presetmenu.cpp and presetfile.cpp; this file only shows
// them.
//
// UI thread only.
#include <windows.h>
#include <windowsx.h>
#include <commctrl.h>
#include <commdlg.h>

#include <cstring>

#include "wrappers/default/defeditor.h"
#include "wrappers/default/presetfile.h"
#include "wrappers/default/presetmenu.h"
#include "wrappers/default/resource.h"

namespace {

constexpr const char* kClassName = "Default_Wrapper_Editor";
// The glyph is drawn on this key colour; the image list masks it out so the
// strip's own face colour shows around the button.
constexpr COLORREF kGlyphKey = RGB(192, 192, 192);

bool classRegistered = false;
HIMAGELIST glyphList = nullptr;
HICON smallIcon = nullptr;
// The popup last built, kept until the next one (or the frame's end) so a
// command it sent can still be checked against it.
HMENU popup = nullptr;
HWND menuFrame = nullptr;  // the frame the model was read for
PresetMenu menuModel;

HMODULE thisModule() {
    HMODULE module = nullptr;
    GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<LPCSTR>(&thisModule), &module);
    return module;
}

EditorSlot* slotOf(HWND frame) { return reinterpret_cast<EditorSlot*>(GetWindowLongPtrA(frame, GWLP_USERDATA)); }

void destroyPopup() {
    if (popup) DestroyMenu(popup);
    popup = nullptr;
    menuFrame = nullptr;
}

void showPresetMenu(HWND frame, EditorSlot& slot) {
    destroyPopup();
    buildPresetMenu(menuModel, slot.query);
    menuFrame = frame;
    popup = CreatePopupMenu();
    if (!popup) return;
    AppendMenuA(popup, MF_STRING, kMenuLoadPreset, "&Load Preset");
    AppendMenuA(popup, MF_STRING, kMenuSavePreset, "&Save Preset");
    AppendMenuA(popup, MF_SEPARATOR, 0, nullptr);
    AppendMenuA(popup, MF_STRING, kMenuCurrentPreset, menuModel.current);
    SetMenuDefaultItem(popup, kMenuCurrentPreset, FALSE);
    AppendMenuA(popup, MF_SEPARATOR, 0, nullptr);
    for (int k = 0; k < menuModel.presetCount; ++k)
        AppendMenuA(popup, MF_STRING, kMenuFirstPreset + k, menuModel.presets[k]);
    POINT at;
    GetCursorPos(&at);
    TrackPopupMenu(popup, TPM_LEFTALIGN | TPM_TOPALIGN | TPM_LEFTBUTTON, at.x, at.y, 0, frame, nullptr);
}

bool askPresetPath(HWND frame, bool save, char* path, DWORD size) {
    path[0] = '\0';
    OPENFILENAMEA dialog{};
    dialog.lStructSize = sizeof dialog;
    dialog.hwndOwner = frame;
    dialog.lpstrFilter = "Preset (*.pst)\0*.pst\0";
    dialog.lpstrFile = path;
    dialog.nMaxFile = size;
    dialog.lpstrTitle = save ? "Save Preset" : "Load Preset";
    dialog.lpstrDefExt = save ? "pst" : nullptr;
    dialog.Flags = OFN_OVERWRITEPROMPT | OFN_HIDEREADONLY;
    return save ? GetSaveFileNameA(&dialog) != 0 : GetOpenFileNameA(&dialog) != 0;
}

bool replaceFile(const char* from, const char* to) {
    return MoveFileExA(from, to, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
}

void loadPreset(HWND frame, EditorSlot& slot) {
    char path[MAX_PATH];
    if (!askPresetPath(frame, false, path, sizeof path)) return;
    if (presetLoadFile(path, slot.query) == PresetLoad::kInvalid)
        MessageBoxA(frame, "Preset is not valid", "Failed", MB_OK | MB_ICONERROR);
}

void savePreset(HWND frame, EditorSlot& slot) {
    char path[MAX_PATH];
    if (!askPresetPath(frame, true, path, sizeof path)) return;
    if (!presetSaveFile(path, slot.query, replaceFile))
        MessageBoxA(frame, "Preset could not be saved", "Failed", MB_OK | MB_ICONERROR);
}

// A menu command. Without a menu built yet (a command posted from outside)
// the preset list is read now, so only ids the menu would hold are acted on.
void onCommand(HWND frame, EditorSlot& slot, int id) {
    if (!popup || menuFrame != frame) {
        buildPresetMenu(menuModel, slot.query);
        menuFrame = frame;
    }
    int preset = 0;
    switch (presetMenuAction(menuModel, id, preset)) {
        case PresetAction::kLoad:
            loadPreset(frame, slot);
            break;
        case PresetAction::kSave:
            savePreset(frame, slot);
            break;
        case PresetAction::kSelect:
            if (slot.query) slot.query(PQ_SELECT_PRESET, 0, preset);
            break;
        case PresetAction::kNone:
            break;
    }
}

void paintStrip(HWND frame) {
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(frame, &paint);
    if (glyphList) ImageList_Draw(glyphList, 0, dc, kPresetGlyphX, kPresetGlyphY, ILD_NORMAL);
    EndPaint(frame, &paint);
}

void rememberPosition(HWND frame, EditorSlot& slot) {
    RECT r;
    GetWindowRect(frame, &r);
    MapWindowPoints(nullptr, GetParent(frame), reinterpret_cast<POINT*>(&r), 2);
    slot.x = r.left;
    slot.y = r.top;
}

LRESULT CALLBACK frameProc(HWND frame, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_NCCREATE) {
        const auto* create = reinterpret_cast<const CREATESTRUCTA*>(lParam);
        const auto* mdi = static_cast<const MDICREATESTRUCTA*>(create->lpCreateParams);
        if (mdi) SetWindowLongPtrA(frame, GWLP_USERDATA, mdi->lParam);
    }
    EditorSlot* slot = slotOf(frame);
    switch (message) {
        case WM_PAINT:
            paintStrip(frame);
            return 0;
        case WM_LBUTTONDOWN:
            if (slot && presetButtonHit(GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam))) showPresetMenu(frame, *slot);
            return 0;
        case WM_COMMAND:
            if (slot && lParam == 0 && HIWORD(wParam) == 0) onCommand(frame, *slot, LOWORD(wParam));
            return 0;
        case WM_MOVE:
            if (slot && slot->frame == frame) rememberPosition(frame, *slot);
            break;
        case WM_DESTROY:
            if (slot && slot->frame == frame) {
                slot->frame = nullptr;
                slot->effectEditor = nullptr;
            }
            SetWindowLongPtrA(frame, GWLP_USERDATA, 0);
            destroyPopup();
            break;
        default:
            break;
    }
    return DefMDIChildProcA(frame, message, wParam, lParam);
}

}  // namespace

bool editorClassRegister() {
    if (classRegistered) return true;
    HMODULE module = thisModule();
    INITCOMMONCONTROLSEX classes{sizeof classes, ICC_BAR_CLASSES};
    InitCommonControlsEx(&classes);
    smallIcon = static_cast<HICON>(LoadImageA(module, MAKEINTRESOURCEA(IDI_DEFWRAPPER), IMAGE_ICON,
                                              GetSystemMetrics(SM_CXSMICON), GetSystemMetrics(SM_CYSMICON), 0));
    WNDCLASSEXA wc{};
    wc.cbSize = sizeof wc;
    wc.style = CS_HREDRAW | CS_VREDRAW;
    wc.lpfnWndProc = frameProc;
    wc.hInstance = module;
    wc.hCursor = LoadCursorA(nullptr, reinterpret_cast<LPCSTR>(IDC_ARROW));
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    wc.lpszClassName = kClassName;
    wc.hIconSm = smallIcon;
    if (!RegisterClassExA(&wc)) {
        if (smallIcon) DestroyIcon(smallIcon);
        smallIcon = nullptr;
        return false;
    }
    classRegistered = true;
    glyphList = ImageList_Create(11, 20, ILC_COLOR24 | ILC_MASK, 1, 0);
    if (HBITMAP glyph = LoadBitmapA(module, MAKEINTRESOURCEA(IDB_PRESET_BUTTON))) {
        if (glyphList) ImageList_AddMasked(glyphList, glyph, kGlyphKey);
        DeleteObject(glyph);
    }
    return true;
}

void editorClassRelease() {
    destroyPopup();
    if (glyphList) ImageList_Destroy(glyphList);
    glyphList = nullptr;
    if (classRegistered) UnregisterClassA(kClassName, thisModule());
    classRegistered = false;
    if (smallIcon) DestroyIcon(smallIcon);
    smallIcon = nullptr;
}

intptr_t editorShow(EditorSlot& slot, const char* title, void* mdiClient) {
    HWND client = static_cast<HWND>(mdiClient);
    if (slot.frame) {
        SendMessageA(client, WM_MDIACTIVATE, reinterpret_cast<WPARAM>(slot.frame), 0);
        return 1;
    }
    if (!client || !slot.query || !classRegistered) return 0;
    HWND frame = CreateMDIWindowA(kClassName, title, WS_CHILD | WS_CLIPSIBLINGS, slot.x, slot.y, 10, 10, client,
                                  thisModule(), reinterpret_cast<LPARAM>(&slot));
    if (!frame) return 0;
    slot.frame = frame;
    int32_t size[2] = {0, 0};
    HWND editor = reinterpret_cast<HWND>(slot.query(PQ_OPEN_EDITOR, reinterpret_cast<intptr_t>(size),
                                                    reinterpret_cast<intptr_t>(frame)));
    if (!editor) {
        editorClose(slot);
        return 0;
    }
    slot.effectEditor = editor;
    RECT outer{0, 0, kPresetStripWidth + size[0], size[1]};
    AdjustWindowRectEx(&outer, static_cast<DWORD>(GetWindowLongA(frame, GWL_STYLE)), FALSE,
                       static_cast<DWORD>(GetWindowLongA(frame, GWL_EXSTYLE)));
    SetWindowPos(frame, nullptr, 0, 0, outer.right - outer.left, outer.bottom - outer.top,
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    SetWindowPos(editor, nullptr, kPresetStripWidth, 0, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    ShowWindow(frame, SW_SHOW);
    rememberPosition(frame, slot);
    return 1;
}

void editorClose(EditorSlot& slot) {
    HWND frame = static_cast<HWND>(slot.frame);
    if (frame && IsWindow(frame)) {
        HWND client = GetParent(frame);
        if (client)
            SendMessageA(client, WM_MDIDESTROY, reinterpret_cast<WPARAM>(frame), 0);
        else
            DestroyWindow(frame);
    }
    slot.frame = nullptr;
    slot.effectEditor = nullptr;
}

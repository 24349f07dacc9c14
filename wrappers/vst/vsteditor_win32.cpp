// The VST wrapper's editor windows: the frame (an MDI child of the host's
// client, class "VST_Wrapper_Editor") with the program button in its left
// strip, and its client (class "VST_Default_Editor"), which either holds
// the effect's own editor or lists the parameters with draggable bars.
//
// Threads: everything here runs on the UI thread, except editorSizeWindow,
// which effects may call from the audio thread: there it only posts.
// Layout, hit-tests, menu texts and drag arithmetic are in vsteditor.cpp.
#include <windows.h>
#include <windowsx.h>
#include <commctrl.h>

#include <cstdio>
#include <cstring>

#include "wrappers/vst/vsteditor.h"
#include "wrappers/vst/vstinstance.h"

namespace {

constexpr const char* kFrameClass = "VST_Wrapper_Editor";
constexpr const char* kClientClass = "VST_Default_Editor";
constexpr int kButtonBitmap = 106;
constexpr int kSmallIcon = 107;
constexpr UINT_PTR kIdleTimer = 1;
constexpr UINT kIdleMs = 100;
// A resize asked for on another thread: wParam width, lParam height.
constexpr UINT kSizeMessage = WM_APP + 0x56;
constexpr size_t kEffectText = 256;

// What WD_OPEN makes and WD_CLOSE releases.
struct Gdi {
    bool registered;
    HIMAGELIST buttons;
    HFONT normal, bold;
    HBRUSH black, red;
    HICON smallIcon;
};
Gdi gdi{};

// The generic editors' one drag (there is one mouse).
ParameterDrag drag{nullptr, -1, 0, 0, 0};
bool cursorHidden = false;

HINSTANCE thisModule() {
    HMODULE module = nullptr;
    GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<LPCSTR>(&thisModule), &module);
    return module;
}

VstInstance* instanceOf(HWND window) { return reinterpret_cast<VstInstance*>(GetWindowLongPtrA(window, GWLP_USERDATA)); }

HWND frameOf(const VstInstance* instance) { return static_cast<HWND>(instance->editorFrame.load()); }

// ---- sizes ----

FrameInsets insetsOf(HWND frame) {
    RECT r{0, 0, 0, 0};
    AdjustWindowRectEx(&r, static_cast<DWORD>(GetWindowLongA(frame, GWL_STYLE)), FALSE,
                       static_cast<DWORD>(GetWindowLongA(frame, GWL_EXSTYLE)));
    return {-r.left, -r.top, r.right, r.bottom};
}

// Sizes the client to the editor and the frame around it, keeping the
// frame where it is. UI thread.
void applyEditorSize(VstInstance* instance, EditorSize size) {
    HWND frame = frameOf(instance);
    if (!frame) return;
    if (instance->editorClient)
        SetWindowPos(static_cast<HWND>(instance->editorClient), nullptr, kProgramStripWidth, 0, size.width,
                     size.height, SWP_NOZORDER | SWP_NOACTIVATE);
    const EditorSize outer = editorFrameSize(insetsOf(frame), size);
    SetWindowPos(frame, nullptr, 0, 0, outer.width, outer.height, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

// ---- the program menu ----

HMENU programPopup(VstInstance* instance) {
    if (instance->programPopup) return static_cast<HMENU>(instance->programPopup);
    HMENU menu = CreatePopupMenu();
    if (!menu) return nullptr;
    char text[kProgramMenuTextSize];
    programMenuText(instance->menu.title, text, sizeof text);
    AppendMenuA(menu, MF_STRING, kProgramCurrentCommand, text);
    SetMenuDefaultItem(menu, kProgramCurrentCommand, FALSE);
    AppendMenuA(menu, MF_SEPARATOR, 0, nullptr);
    for (int32_t j = 0; j < instance->menu.count; ++j) {
        const ProgramItem& item = instance->menu.items[j];
        programMenuText(item.name, text, sizeof text);
        const UINT id = static_cast<UINT>(kProgramFirstCommand + item.program);
        AppendMenuA(menu, MF_STRING, id, text);
        MENUITEMINFOA info{};
        info.cbSize = sizeof info;
        info.fMask = MIIM_DATA;
        info.dwItemData = static_cast<ULONG_PTR>(item.program);
        SetMenuItemInfoA(menu, id, FALSE, &info);
    }
    instance->programPopup = menu;
    return menu;
}

void chooseProgram(HWND frame, VstInstance* instance, int32_t command) {
    const ProgramChoice choice = programMenuCommand(instance->menu, command);
    if (choice.kind == ProgramChoice::None) return;
    if (choice.kind == ProgramChoice::Program) {
        // The item's data is the program; the menu was built from the same list.
        MENUITEMINFOA info{};
        info.cbSize = sizeof info;
        info.fMask = MIIM_DATA;
        HMENU menu = static_cast<HMENU>(instance->programPopup);
        if (!menu || !GetMenuItemInfoA(menu, static_cast<UINT>(command), FALSE, &info) ||
            static_cast<int32_t>(info.dwItemData) != choice.program)
            return;
        instance->currentProgram = choice.program;
    }
    vstDispatch(instance->effect, kVst2SetProgram, 0, instance->currentProgram);
    vstRefreshParameters(instance);
    if (instance->editorClient) InvalidateRect(static_cast<HWND>(instance->editorClient), nullptr, TRUE);
    (void)frame;
}

// ---- the generic editor ----

// The effect's text for a parameter, at most 31 characters. Effects write
// past the nominal sizes: the buffer is large and cleared first.
void parameterText(VstInstance* instance, int32_t opcode, int32_t row, char out[kParameterTextMax + 1]) {
    char text[kEffectText];
    std::memset(text, 0, sizeof text);
    vstDispatch(instance->effect, opcode, row, 0, text);
    text[kParameterTextMax] = '\0';
    std::memcpy(out, text, kParameterTextMax + 1);
}

void drawText(HDC dc, int x, int y, const char* text) { TextOutA(dc, x, y, text, static_cast<int>(std::strlen(text))); }

void drawRow(HDC dc, VstInstance* instance, int32_t row) {
    const int y = parameterRowTop(row);
    RECT band{5, y, 300, y + kRowHeight};
    FillRect(dc, &band, GetSysColorBrush(COLOR_3DFACE));
    SelectObject(dc, gdi.normal);
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, RGB(0, 0, 0));
    char text[kParameterTextMax + 1];
    parameterText(instance, kVst2GetParamName, row, text);
    drawText(dc, 8, y, text);
    parameterText(instance, kVst2GetParamDisplay, row, text);
    drawText(dc, 108, y, text);
    parameterText(instance, kVst2GetParamLabel, row, text);
    drawText(dc, 188, y, text);
    RECT bar{kBarLeft, y + 4, kBarRight, y + 12};
    FillRect(dc, &bar, gdi.black);
    RECT fill{kBarLeft + 1, y + 5, parameterBarFillRight(instance->parameters[row]), y + 11};
    FillRect(dc, &fill, gdi.red);
}

void drawGeneric(HWND window, HDC dc, VstInstance* instance) {
    RECT all;
    GetClientRect(window, &all);
    FillRect(dc, &all, GetSysColorBrush(COLOR_3DFACE));
    RECT head{4, 3, 350, 24};
    FillRect(dc, &head, gdi.black);
    SelectObject(dc, gdi.bold);
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, RGB(255, 255, 255));
    drawText(dc, 5, 7, " Parameter           Display       Label");
    // Each row asks the effect three texts: an effect announcing a million
    // parameters must not hold the UI thread on rows no one can see.
    const int32_t rows = parameterRowsShown(instance->parameterCount, all.bottom);
    for (int32_t row = 0; row < rows; ++row) drawRow(dc, instance, row);
}

void endDrag(HWND window, bool restoreCursor) {
    const ParameterDrag was = drag;
    if (!parameterDragEnd(drag, window)) return;
    if (restoreCursor) SetCursorPos(was.screenX, was.screenY);
    if (cursorHidden) {
        ShowCursor(TRUE);
        cursorHidden = false;
    }
    if (GetCapture() == window) ReleaseCapture();
}

LRESULT CALLBACK clientProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    VstInstance* instance = instanceOf(window);
    const bool generic = instance && instance->effect && !vstHasOwnEditor(instance);
    if (!generic) {
        if (message == WM_DESTROY) endDrag(window, false);
        return DefWindowProcA(window, message, wParam, lParam);
    }
    switch (message) {
        case WM_ERASEBKGND:
            drawGeneric(window, reinterpret_cast<HDC>(wParam), instance);
            return 1;
        case WM_LBUTTONDOWN: {
            POINT screen;
            GetCursorPos(&screen);
            if (parameterDragBegin(drag, window, GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam), instance->parameterCount,
                                   screen.x, screen.y)) {
                SetCapture(window);
                if (!cursorHidden) {
                    ShowCursor(FALSE);
                    cursorHidden = true;
                }
            }
            return 0;
        }
        case WM_MOUSEMOVE: {
            int32_t row = 0;
            float value = 0.0f;
            if (parameterDragMove(drag, window, GET_X_LPARAM(lParam), instance->parameters, instance->parameterCount,
                                  row, value)) {
                if (instance->effect->setParameter) instance->effect->setParameter(instance->effect, row, value);
                instance->parameters[row] = value;
                if (HDC dc = GetDC(window)) {
                    drawRow(dc, instance, row);
                    ReleaseDC(window, dc);
                }
            } else if (drag.window == nullptr && cursorHidden) {
                endDrag(window, false);  // the cache shrank under the drag
            }
            return 0;
        }
        case WM_LBUTTONUP:
            endDrag(window, true);
            return 0;
        case WM_CAPTURECHANGED:
            if (reinterpret_cast<HWND>(lParam) != window) endDrag(window, false);
            return 0;
        case WM_DESTROY:
            endDrag(window, false);
            return 0;
        default:
            return DefWindowProcA(window, message, wParam, lParam);
    }
}

// ---- the frame ----

void rememberPosition(HWND frame, VstInstance* instance) {
    RECT r;
    if (!GetWindowRect(frame, &r)) return;
    MapWindowPoints(nullptr, GetParent(frame), reinterpret_cast<POINT*>(&r), 2);
    instance->editorX = r.left;
    instance->editorY = r.top;
}

LRESULT CALLBACK frameProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_NCCREATE) {
        // The instance comes through the MDI creation record.
        auto* create = reinterpret_cast<CREATESTRUCTA*>(lParam);
        auto* mdi = create ? static_cast<MDICREATESTRUCTA*>(create->lpCreateParams) : nullptr;
        if (mdi) SetWindowLongPtrA(window, GWLP_USERDATA, mdi->lParam);
    }
    VstInstance* instance = instanceOf(window);
    if (!instance || !instance->effect) return DefMDIChildProcA(window, message, wParam, lParam);
    switch (message) {
        case WM_TIMER:
            if (wParam == kIdleTimer && frameOf(instance) == window && vstHasOwnEditor(instance))
                vstDispatch(instance->effect, kVst2EditorIdle);
            return 0;
        case WM_LBUTTONDOWN:
            if (programButtonHit(GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam))) {
                if (HMENU menu = programPopup(instance)) {
                    POINT at;
                    GetCursorPos(&at);
                    TrackPopupMenu(menu, TPM_LEFTALIGN | TPM_TOPALIGN | TPM_LEFTBUTTON, at.x, at.y, 0, window,
                                   nullptr);
                }
            }
            return 0;
        case WM_COMMAND:
            if (lParam == 0) chooseProgram(window, instance, LOWORD(wParam));
            return 0;
        case WM_PAINT: {
            PAINTSTRUCT paint;
            HDC dc = BeginPaint(window, &paint);
            if (gdi.buttons) ImageList_Draw(gdi.buttons, 0, dc, kProgramButtonX, kProgramButtonY, ILD_NORMAL);
            EndPaint(window, &paint);
            if (vstHasOwnEditor(instance)) {
                Vst2Rect* rect = nullptr;
                vstDispatch(instance->effect, kVst2EditorGetRect, 0, 0, &rect);
                if (rect) vstDispatch(instance->effect, kVst2EditorDraw, 0, 0, rect);
            }
            return 0;
        }
        case WM_MOVE:
            rememberPosition(window, instance);
            break;
        case kSizeMessage:
            if (plausibleEditorSize(static_cast<int32_t>(wParam), static_cast<int32_t>(lParam)))
                applyEditorSize(instance, {static_cast<int32_t>(wParam), static_cast<int32_t>(lParam)});
            return 0;
        case WM_DESTROY:
            KillTimer(window, kIdleTimer);
            if (frameOf(instance) == window) {
                instance->editorFrame = nullptr;
                instance->editorClient = nullptr;
                if (vstHasOwnEditor(instance)) vstDispatch(instance->effect, kVst2EditorClose);
            }
            break;
        default:
            break;
    }
    return DefMDIChildProcA(window, message, wParam, lParam);
}

void releaseGdi() {
    if (gdi.registered) {
        UnregisterClassA(kFrameClass, thisModule());
        UnregisterClassA(kClientClass, thisModule());
    }
    if (gdi.buttons) ImageList_Destroy(gdi.buttons);
    for (HGDIOBJ object : {static_cast<HGDIOBJ>(gdi.normal), static_cast<HGDIOBJ>(gdi.bold),
                           static_cast<HGDIOBJ>(gdi.black), static_cast<HGDIOBJ>(gdi.red)})
        if (object) DeleteObject(object);
    if (gdi.smallIcon) DestroyIcon(gdi.smallIcon);
    gdi = Gdi{};
}

}  // namespace

bool editorWindowsOpen() {
    releaseGdi();  // opened twice without a close: start afresh
    HINSTANCE module = thisModule();
    gdi.smallIcon = static_cast<HICON>(LoadImageA(module, MAKEINTRESOURCEA(kSmallIcon), IMAGE_ICON,
                                                  GetSystemMetrics(SM_CXSMICON), GetSystemMetrics(SM_CYSMICON), 0));
    WNDCLASSEXA frame{};
    frame.cbSize = sizeof frame;
    frame.lpfnWndProc = frameProc;
    frame.hInstance = module;
    frame.hCursor = LoadCursorA(nullptr, MAKEINTRESOURCEA(32512));  // IDC_ARROW
    frame.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_3DFACE + 1);
    frame.lpszClassName = kFrameClass;
    frame.hIconSm = gdi.smallIcon;
    frame.hIcon = gdi.smallIcon;
    WNDCLASSEXA client{};
    client.cbSize = sizeof client;
    client.lpfnWndProc = clientProc;
    client.hInstance = module;
    client.hCursor = frame.hCursor;
    client.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_3DFACE + 1);
    client.lpszClassName = kClientClass;
    if (!RegisterClassExA(&frame)) {
        releaseGdi();
        return false;
    }
    if (!RegisterClassExA(&client)) {
        UnregisterClassA(kFrameClass, module);
        releaseGdi();
        return false;
    }
    gdi.registered = true;
    // The button: masked by the art's key colour, so the strip's real face
    // colour shows round it.
    gdi.buttons = ImageList_Create(kProgramButtonWidth, kProgramButtonHeight, ILC_COLOR24 | ILC_MASK, 1, 0);
    if (gdi.buttons) {
        HBITMAP bitmap = static_cast<HBITMAP>(LoadImageA(module, MAKEINTRESOURCEA(kButtonBitmap), IMAGE_BITMAP, 0, 0,
                                                         LR_CREATEDIBSECTION));
        if (bitmap) {
            ImageList_AddMasked(gdi.buttons, bitmap, RGB(192, 192, 192));
            DeleteObject(bitmap);
        }
    }
    gdi.normal = CreateFontA(8, 8, 0, 0, FW_NORMAL, 0, 0, 0, ANSI_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS,
                             NONANTIALIASED_QUALITY, DEFAULT_PITCH | FF_SWISS, "MS Sans Serif");
    gdi.bold = CreateFontA(8, 8, 0, 0, FW_BOLD, 0, 0, 0, ANSI_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS,
                           NONANTIALIASED_QUALITY, DEFAULT_PITCH | FF_SWISS, "MS Sans Serif");
    gdi.black = CreateSolidBrush(RGB(0, 0, 0));
    gdi.red = CreateSolidBrush(RGB(255, 100, 100));
    return true;
}

void editorWindowsClose() { releaseGdi(); }

intptr_t editorShow(VstInstance* instance, void* mdiClient) {
    if (HWND frame = frameOf(instance)) {
        SendMessageA(GetParent(frame), WM_MDIACTIVATE, reinterpret_cast<WPARAM>(frame), 0);
        return 1;
    }
    if (!mdiClient || !gdi.registered) return 0;
    char title[kProgramNameSize];
    {
        // The display name: the library's file title.
        const char* name = instance->path;
        for (const char* c = instance->path; *c; ++c)
            if (*c == '\\' || *c == '/') name = c + 1;
        const char* dot = std::strrchr(name, '.');
        size_t n = dot ? static_cast<size_t>(dot - name) : std::strlen(name);
        if (n > kProgramNameSize - 1) n = kProgramNameSize - 1;
        std::memcpy(title, name, n);
        title[n] = '\0';
    }
    HWND frame = CreateMDIWindowA(kFrameClass, title, WS_CHILD | WS_CLIPSIBLINGS | WS_CAPTION | WS_SYSMENU |
                                  WS_MINIMIZEBOX, instance->editorX, instance->editorY, 10, 10,
                                  static_cast<HWND>(mdiClient), thisModule(), reinterpret_cast<LPARAM>(instance));
    if (!frame) return 0;
    instance->editorFrame = frame;
    programPopup(instance);  // commands are checked against it from now on
    EditorSize size = genericEditorSize(instance->parameterCount);
    HWND client = CreateWindowExA(0, kClientClass, "", WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS, kProgramStripWidth, 0,
                                  size.width, size.height, frame, nullptr, thisModule(), nullptr);
    if (!client) {
        SendMessageA(static_cast<HWND>(mdiClient), WM_MDIDESTROY, reinterpret_cast<WPARAM>(frame), 0);
        return 0;
    }
    SetWindowLongPtrA(client, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(instance));
    instance->editorClient = client;
    if (vstHasOwnEditor(instance)) {
        const intptr_t opened = vstDispatch(instance->effect, kVst2EditorOpen, 0, 0, client);
        // Some effects answer 0 although they made their window: a child in
        // the client says the editor is there.
        if (!opened && !GetWindow(client, GW_CHILD)) {
            // Not open, so the frame's destruction must not close it.
            instance->editorFrame = nullptr;
            instance->editorClient = nullptr;
            SendMessageA(static_cast<HWND>(mdiClient), WM_MDIDESTROY, reinterpret_cast<WPARAM>(frame), 0);
            return 0;
        }
        Vst2Rect* rect = nullptr;
        vstDispatch(instance->effect, kVst2EditorGetRect, 0, 0, &rect);
        editorSizeFromRect(rect, size);
        SetTimer(frame, kIdleTimer, kIdleMs, nullptr);
    }
    applyEditorSize(instance, size);
    ShowWindow(frame, SW_SHOW);
    return 1;
}

void editorClose(VstInstance* instance) {
    HWND frame = frameOf(instance);
    if (!frame) return;
    HWND mdiClient = GetParent(frame);
    if (mdiClient)
        SendMessageA(mdiClient, WM_MDIDESTROY, reinterpret_cast<WPARAM>(frame), 0);
    else
        DestroyWindow(frame);
    instance->editorFrame = nullptr;
    instance->editorClient = nullptr;
}

void editorForget(VstInstance* instance) {
    editorClose(instance);
    if (instance->programPopup) DestroyMenu(static_cast<HMENU>(instance->programPopup));
    instance->programPopup = nullptr;
}

intptr_t editorSizeWindow(VstInstance* instance, int32_t width, int32_t height) {
    HWND frame = frameOf(instance);
    if (!frame || !plausibleEditorSize(width, height)) return 0;
    if (GetWindowThreadProcessId(frame, nullptr) == GetCurrentThreadId()) {
        applyEditorSize(instance, {width, height});
        return 1;
    }
    // The UI thread may be waiting for this very block (the chain
    // handshake): never send, post.
    return PostMessageA(frame, kSizeMessage, static_cast<WPARAM>(width), static_cast<LPARAM>(height)) ? 1 : 0;
}

// The wrappers' editor frame: an MDI child of the host's client with the
// program button in its left strip, and its client, which either holds the
// plug-in's own editor or lists the parameters with draggable bars. Each
// wrapper module registers the two classes under names of its own.
//
// Threads: everything here runs on the UI thread, except editorSizeWindow,
// which plug-ins may call from the audio thread: there it only posts.
// Layout, hit-tests, menu texts and drag arithmetic are in editorframe.cpp.
#include <windows.h>
#include <windowsx.h>
#include <commctrl.h>

#include <cstdio>
#include <cstring>

#include "wrappers/common/editorframe.h"

namespace {

constexpr UINT_PTR kIdleTimer = 1;
constexpr UINT kIdleMs = 100;
// A resize asked for on another thread: wParam width, lParam height.
constexpr UINT kSizeMessage = WM_APP + 0x56;

// What WD_OPEN makes and WD_CLOSE releases.
struct Gdi {
    bool registered;
    char frameClass[64];
    char clientClass[64];
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

EditorFrame* editorOf(HWND window) { return reinterpret_cast<EditorFrame*>(GetWindowLongPtrA(window, GWLP_USERDATA)); }

HWND frameOf(const EditorFrame& editor) { return static_cast<HWND>(editor.frame.load()); }

// ---- sizes ----

FrameInsets insetsOf(HWND frame) {
    RECT r{0, 0, 0, 0};
    AdjustWindowRectEx(&r, static_cast<DWORD>(GetWindowLongA(frame, GWL_STYLE)), FALSE,
                       static_cast<DWORD>(GetWindowLongA(frame, GWL_EXSTYLE)));
    return {-r.left, -r.top, r.right, r.bottom};
}

// Sizes the client to the editor and the frame around it, keeping the
// frame where it is. UI thread.
void applyEditorSize(EditorFrame& editor, EditorSize size) {
    HWND frame = frameOf(editor);
    if (!frame) return;
    editor.resizing = true;
    if (editor.client)
        SetWindowPos(static_cast<HWND>(editor.client), nullptr, kProgramStripWidth, 0, size.width, size.height,
                     SWP_NOZORDER | SWP_NOACTIVATE);
    const EditorSize outer = editorFrameSize(insetsOf(frame), size);
    SetWindowPos(frame, nullptr, 0, 0, outer.width, outer.height, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    editor.resizing = false;
}

// ---- the program menu ----

HMENU programPopup(EditorFrame& editor) {
    if (editor.programPopup) return static_cast<HMENU>(editor.programPopup);
    HMENU menu = CreatePopupMenu();
    if (!menu) return nullptr;
    char text[kProgramMenuTextSize];
    programMenuText(editor.menu.title, text, sizeof text);
    AppendMenuA(menu, MF_STRING, kProgramCurrentCommand, text);
    SetMenuDefaultItem(menu, kProgramCurrentCommand, FALSE);
    AppendMenuA(menu, MF_SEPARATOR, 0, nullptr);
    for (int32_t j = 0; j < editor.menu.count; ++j) {
        const ProgramItem& item = editor.menu.items[j];
        programMenuText(item.name, text, sizeof text);
        const UINT id = static_cast<UINT>(kProgramFirstCommand + item.program);
        AppendMenuA(menu, MF_STRING, id, text);
        MENUITEMINFOA info{};
        info.cbSize = sizeof info;
        info.fMask = MIIM_DATA;
        info.dwItemData = static_cast<ULONG_PTR>(item.program);
        SetMenuItemInfoA(menu, id, FALSE, &info);
    }
    editor.programPopup = menu;
    return menu;
}

void chooseProgram(EditorFrame& editor, int32_t command) {
    const ProgramChoice choice = programMenuCommand(editor.menu, command);
    if (choice.kind == ProgramChoice::None) return;
    if (choice.kind == ProgramChoice::Program) {
        // The item's data is the program; the menu was built from the same list.
        MENUITEMINFOA info{};
        info.cbSize = sizeof info;
        info.fMask = MIIM_DATA;
        HMENU menu = static_cast<HMENU>(editor.programPopup);
        if (!menu || !GetMenuItemInfoA(menu, static_cast<UINT>(command), FALSE, &info) ||
            static_cast<int32_t>(info.dwItemData) != choice.program)
            return;
        editor.currentProgram = choice.program;
    }
    if (editor.calls->selectProgram) editor.calls->selectProgram(editor);
    if (editor.client) InvalidateRect(static_cast<HWND>(editor.client), nullptr, TRUE);
}

// ---- the generic editor ----

void drawText(HDC dc, int x, int y, const char* text) { TextOutA(dc, x, y, text, static_cast<int>(std::strlen(text))); }

void drawRow(HDC dc, EditorFrame& editor, int32_t row) {
    const int y = parameterRowTop(row);
    RECT band{5, y, 300, y + kRowHeight};
    FillRect(dc, &band, GetSysColorBrush(COLOR_3DFACE));
    SelectObject(dc, gdi.normal);
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, RGB(0, 0, 0));
    char name[kParameterTextMax + 1] = "", display[kParameterTextMax + 1] = "", label[kParameterTextMax + 1] = "";
    if (editor.calls->parameterTexts) editor.calls->parameterTexts(editor, row, name, display, label);
    name[kParameterTextMax] = display[kParameterTextMax] = label[kParameterTextMax] = '\0';
    drawText(dc, 8, y, name);
    drawText(dc, 108, y, display);
    drawText(dc, 188, y, label);
    RECT bar{kBarLeft, y + 4, kBarRight, y + 12};
    FillRect(dc, &bar, gdi.black);
    RECT fill{kBarLeft + 1, y + 5, parameterBarFillRight(editor.parameters[row]), y + 11};
    FillRect(dc, &fill, gdi.red);
}

void drawGeneric(HWND window, HDC dc, EditorFrame& editor) {
    RECT all;
    GetClientRect(window, &all);
    FillRect(dc, &all, GetSysColorBrush(COLOR_3DFACE));
    RECT head{4, 3, 350, 24};
    FillRect(dc, &head, gdi.black);
    SelectObject(dc, gdi.bold);
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, RGB(255, 255, 255));
    drawText(dc, 5, 7, " Parameter           Display       Label");
    // Each row asks the plug-in three texts: one announcing a million
    // parameters must not hold the UI thread on rows no one can see.
    const int32_t rows = parameterRowsShown(editor.parameters ? editor.parameterCount : 0, all.bottom);
    for (int32_t row = 0; row < rows; ++row) drawRow(dc, editor, row);
}

// The row's menu at the cursor; the chosen command goes to the host as
// its request for that row.
void rowMenu(HWND window, EditorFrame& editor, int32_t row) {
    HMENU menu = CreatePopupMenu();
    if (!menu) return;
    for (const ParameterMenuItem& item : kParameterMenuItems)
        AppendMenuA(menu, MF_STRING, static_cast<UINT_PTR>(item.command), item.text);
    POINT at;
    GetCursorPos(&at);
    const int command = static_cast<int>(TrackPopupMenu(
        menu, TPM_LEFTALIGN | TPM_TOPALIGN | TPM_RIGHTBUTTON | TPM_RETURNCMD | TPM_NONOTIFY, at.x, at.y, 0, window,
        nullptr));
    DestroyMenu(menu);
    if (const intptr_t request = parameterMenuRequest(command)) editorHostRequest(editor, request, row);
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
    EditorFrame* editor = editorOf(window);
    const bool generic = editor && !editor->viewOpen;
    if (!generic) {
        if (message == WM_DESTROY) endDrag(window, false);
        return DefWindowProcA(window, message, wParam, lParam);
    }
    const int32_t parameters = editor->parameters ? editor->parameterCount : 0;
    switch (message) {
        case WM_ERASEBKGND:
            drawGeneric(window, reinterpret_cast<HDC>(wParam), *editor);
            return 1;
        case WM_LBUTTONDOWN: {
            POINT screen;
            GetCursorPos(&screen);
            if (parameterDragBegin(drag, window, GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam), parameters, screen.x,
                                   screen.y)) {
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
            if (parameterDragMove(drag, window, GET_X_LPARAM(lParam), editor->parameters, parameters, row, value)) {
                if (editor->calls->setParameter) editor->calls->setParameter(*editor, row, value);
                editor->parameters[row] = value;
                if (HDC dc = GetDC(window)) {
                    drawRow(dc, *editor, row);
                    ReleaseDC(window, dc);
                }
                editorHostRequest(*editor, HC_PARAMETER_CHANGED, row);
            } else if (drag.window == nullptr && cursorHidden) {
                endDrag(window, false);  // the cache shrank under the drag
            }
            return 0;
        }
        case WM_LBUTTONUP:
            endDrag(window, true);
            return 0;
        case WM_RBUTTONUP: {
            const int32_t x = GET_X_LPARAM(lParam), y = GET_Y_LPARAM(lParam);
            const int32_t row = drag.window ? -1 : parameterMenuRow(x, y, parameters);
            if (row >= 0) rowMenu(window, *editor, row);
            return 0;
        }
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

void rememberPosition(HWND frame, EditorFrame& editor) {
    RECT r;
    if (!GetWindowRect(frame, &r)) return;
    MapWindowPoints(nullptr, GetParent(frame), reinterpret_cast<POINT*>(&r), 2);
    editor.x = r.left;
    editor.y = r.top;
}

// The own editor's end, exactly once, and the record closed.
void closeView(EditorFrame& editor) {
    const bool wasOpen = editor.viewOpen;
    editor.viewOpen = false;
    editor.frame = nullptr;
    editor.client = nullptr;
    if (wasOpen && editor.calls->closeView) editor.calls->closeView(editor);
}

LRESULT CALLBACK frameProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_NCCREATE) {
        // The record comes through the MDI creation record.
        auto* create = reinterpret_cast<CREATESTRUCTA*>(lParam);
        auto* mdi = create ? static_cast<MDICREATESTRUCTA*>(create->lpCreateParams) : nullptr;
        if (mdi) SetWindowLongPtrA(window, GWLP_USERDATA, mdi->lParam);
    }
    EditorFrame* editor = editorOf(window);
    if (!editor || !editor->calls) return DefMDIChildProcA(window, message, wParam, lParam);
    const bool current = frameOf(*editor) == window;
    switch (message) {
        case WM_TIMER:
            if (wParam == kIdleTimer && current && editor->viewOpen && editor->calls->idleView)
                editor->calls->idleView(*editor);
            return 0;
        case WM_LBUTTONDOWN:
            if (current && editor->programMenu && programButtonHit(GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam))) {
                if (HMENU menu = programPopup(*editor)) {
                    POINT at;
                    GetCursorPos(&at);
                    TrackPopupMenu(menu, TPM_LEFTALIGN | TPM_TOPALIGN | TPM_LEFTBUTTON, at.x, at.y, 0, window,
                                   nullptr);
                }
            }
            return 0;
        case WM_COMMAND:
            if (current && editor->programMenu && lParam == 0) chooseProgram(*editor, LOWORD(wParam));
            return 0;
        case WM_PAINT: {
            PAINTSTRUCT paint;
            HDC dc = BeginPaint(window, &paint);
            if (gdi.buttons && editor->programMenu) ImageList_Draw(gdi.buttons, 0, dc, kProgramButtonX, kProgramButtonY, ILD_NORMAL);
            EndPaint(window, &paint);
            if (current && editor->viewOpen && editor->calls->paintView) editor->calls->paintView(*editor);
            return 0;
        }
        case WM_MOVE:
            if (current) rememberPosition(window, *editor);
            break;
        case WM_SIZE: {
            // The user's resizing of a frame whose view can follow: the
            // view says what it takes, and the frame fits round that.
            if (!current || wParam == SIZE_MINIMIZED || editor->resizing || !editor->viewOpen || !editor->resizable ||
                !editor->calls->resizeView)
                break;
            EditorSize size = editorSizeInFrame(LOWORD(lParam), HIWORD(lParam));
            if (editor->calls->resizeView(*editor, size) && plausibleEditorSize(size.width, size.height)) {
                editor->resizing = true;
                SetWindowPos(static_cast<HWND>(editor->client), nullptr, kProgramStripWidth, 0, size.width,
                             size.height, SWP_NOZORDER | SWP_NOACTIVATE);
                editor->resizing = false;
            }
            break;
        }
        case kSizeMessage:
            if (current && plausibleEditorSize(static_cast<int32_t>(wParam), static_cast<int32_t>(lParam)))
                applyEditorSize(*editor, {static_cast<int32_t>(wParam), static_cast<int32_t>(lParam)});
            return 0;
        case WM_DESTROY:
            KillTimer(window, kIdleTimer);
            if (current) closeView(*editor);
            break;
        default:
            break;
    }
    return DefMDIChildProcA(window, message, wParam, lParam);
}

void releaseGdi() {
    if (gdi.registered) {
        UnregisterClassA(gdi.frameClass, thisModule());
        UnregisterClassA(gdi.clientClass, thisModule());
    }
    if (gdi.buttons) ImageList_Destroy(gdi.buttons);
    for (HGDIOBJ object : {static_cast<HGDIOBJ>(gdi.normal), static_cast<HGDIOBJ>(gdi.bold),
                           static_cast<HGDIOBJ>(gdi.black), static_cast<HGDIOBJ>(gdi.red)})
        if (object) DeleteObject(object);
    if (gdi.smallIcon) DestroyIcon(gdi.smallIcon);
    gdi = Gdi{};
}

}  // namespace

bool editorWindowsOpen(const EditorClasses& classes) {
    releaseGdi();  // opened twice without a close: start afresh
    HINSTANCE module = thisModule();
    std::snprintf(gdi.frameClass, sizeof gdi.frameClass, "%s", classes.frameClass);
    std::snprintf(gdi.clientClass, sizeof gdi.clientClass, "%s", classes.clientClass);
    gdi.smallIcon = static_cast<HICON>(LoadImageA(module, MAKEINTRESOURCEA(classes.smallIcon), IMAGE_ICON,
                                                  GetSystemMetrics(SM_CXSMICON), GetSystemMetrics(SM_CYSMICON), 0));
    WNDCLASSEXA frame{};
    frame.cbSize = sizeof frame;
    frame.lpfnWndProc = frameProc;
    frame.hInstance = module;
    frame.hCursor = LoadCursorA(nullptr, MAKEINTRESOURCEA(32512));  // IDC_ARROW
    frame.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_3DFACE + 1);
    frame.lpszClassName = gdi.frameClass;
    frame.hIconSm = gdi.smallIcon;
    frame.hIcon = gdi.smallIcon;
    WNDCLASSEXA client{};
    client.cbSize = sizeof client;
    client.lpfnWndProc = clientProc;
    client.hInstance = module;
    client.hCursor = frame.hCursor;
    client.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_3DFACE + 1);
    client.lpszClassName = gdi.clientClass;
    if (!RegisterClassExA(&frame)) {
        releaseGdi();
        return false;
    }
    if (!RegisterClassExA(&client)) {
        UnregisterClassA(gdi.frameClass, module);
        releaseGdi();
        return false;
    }
    gdi.registered = true;
    // The button: masked by the art's key colour, so the strip's real face
    // colour shows round it.
    gdi.buttons = ImageList_Create(kProgramButtonWidth, kProgramButtonHeight, ILC_COLOR24 | ILC_MASK, 1, 0);
    if (gdi.buttons) {
        HBITMAP bitmap = static_cast<HBITMAP>(LoadImageA(module, MAKEINTRESOURCEA(classes.buttonBitmap),
                                                         IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION));
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

intptr_t editorShow(EditorFrame& editor, const char* title, void* mdiClient) {
    if (HWND frame = frameOf(editor)) {
        SendMessageA(GetParent(frame), WM_MDIACTIVATE, reinterpret_cast<WPARAM>(frame), 0);
        return 1;
    }
    if (!mdiClient || !gdi.registered || !editor.calls) return 0;
    // The generic editor's size first; the own editor says its own. Whether
    // the user may resize the frame is known once the view is open.
    DWORD style = WS_CHILD | WS_CLIPSIBLINGS | WS_CLIPCHILDREN | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;
    HWND frame = CreateMDIWindowA(gdi.frameClass, title ? title : "", style, editor.x, editor.y, 10, 10,
                                  static_cast<HWND>(mdiClient), thisModule(), reinterpret_cast<LPARAM>(&editor));
    if (!frame) return 0;
    editor.frame = frame;
    if (editor.programMenu) programPopup(editor);  // commands are checked against it from now on
    EditorSize size = genericEditorSize(editor.parameters ? editor.parameterCount : 0);
    HWND client = CreateWindowExA(0, gdi.clientClass, "", WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS | WS_CLIPCHILDREN,
                                  kProgramStripWidth, 0, size.width, size.height, frame, nullptr, thisModule(),
                                  nullptr);
    if (!client) {
        editor.frame = nullptr;
        SendMessageA(static_cast<HWND>(mdiClient), WM_MDIDESTROY, reinterpret_cast<WPARAM>(frame), 0);
        return 0;
    }
    SetWindowLongPtrA(client, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(&editor));
    editor.client = client;
    editor.resizable = false;
    if (editor.calls->openView) {
        EditorSize own = size;
        const int32_t opened = editor.calls->openView(editor, client, own);
        if (opened < 0) {
            // Not open, so the frame's destruction must not close it.
            editor.frame = nullptr;
            editor.client = nullptr;
            SendMessageA(static_cast<HWND>(mdiClient), WM_MDIDESTROY, reinterpret_cast<WPARAM>(frame), 0);
            return 0;
        }
        editor.viewOpen = opened > 0;
        if (editor.viewOpen) {
            if (plausibleEditorSize(own.width, own.height)) size = own;
            if (editor.calls->idleView) SetTimer(frame, kIdleTimer, kIdleMs, nullptr);
            if (editor.resizable) {
                SetWindowLongA(frame, GWL_STYLE, static_cast<LONG>(style | WS_THICKFRAME | WS_MAXIMIZEBOX));
                SetWindowPos(frame, nullptr, 0, 0, 0, 0,
                             SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE | SWP_FRAMECHANGED);
            }
        }
    }
    applyEditorSize(editor, size);
    ShowWindow(frame, SW_SHOW);
    return 1;
}

void editorClose(EditorFrame& editor) {
    HWND frame = frameOf(editor);
    if (!frame) return;
    HWND mdiClient = GetParent(frame);
    if (mdiClient)
        SendMessageA(mdiClient, WM_MDIDESTROY, reinterpret_cast<WPARAM>(frame), 0);
    else
        DestroyWindow(frame);
    closeView(editor);
}

void editorForget(EditorFrame& editor) {
    editorClose(editor);
    if (editor.programPopup) DestroyMenu(static_cast<HMENU>(editor.programPopup));
    editor.programPopup = nullptr;
}

intptr_t editorSizeWindow(EditorFrame& editor, int32_t width, int32_t height) {
    HWND frame = frameOf(editor);
    if (!frame || !plausibleEditorSize(width, height)) return 0;
    if (GetWindowThreadProcessId(frame, nullptr) == GetCurrentThreadId()) {
        applyEditorSize(editor, {width, height});
        return 1;
    }
    // The UI thread may be waiting for this very block (the chain
    // handshake): never send, post.
    return PostMessageA(frame, kSizeMessage, static_cast<WPARAM>(width), static_cast<LPARAM>(height)) ? 1 : 0;
}

void editorRepaint(EditorFrame& editor) {
    if (editor.client && !editor.viewOpen) InvalidateRect(static_cast<HWND>(editor.client), nullptr, TRUE);
}

bool editorClientHasChild(void* parent) { return parent && GetWindow(static_cast<HWND>(parent), GW_CHILD); }

namespace {
UINT_PTR serviceTimer = 0;
void (*serviceCall)() = nullptr;
void CALLBACK serviceTick(HWND, UINT, UINT_PTR, DWORD) {
    if (serviceCall) serviceCall();
}
}  // namespace

void editorServiceStart(void (*service)()) {
    editorServiceStop();
    serviceCall = service;
    serviceTimer = SetTimer(nullptr, 0, 15, serviceTick);
}

void editorServiceStop() {
    if (serviceTimer) KillTimer(nullptr, serviceTimer);
    serviceTimer = 0;
    serviceCall = nullptr;
}

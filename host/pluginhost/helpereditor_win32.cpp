// The editor window of a plug-in run in a helper process. The wrapper makes
// its editor frame an MDI child, as inside the program; here its MDI client
// fills a top-level window of the helper that the program's main window
// owns, so it stays above the program and goes with it. The frame's caption
// is taken off: the window's own caption names the slot and the plug-in.
#include <windows.h>

#include "host/pluginhost/helpereditor.h"

namespace {

constexpr const char* kClass = "QvHelperEditor";
HWND top = nullptr;
HWND client = nullptr;
BridgeServer* owner = nullptr;
HWND programFrame = nullptr;  // told of the editor's reports

void tellProgram() {
    if (programFrame) PostMessageA(programFrame, kBridgeReportMessage, 0, 0);
}

HWND frameOf() { return client ? GetWindow(client, GW_CHILD) : nullptr; }

void fit() {
    HWND frame = frameOf();
    if (!top || !frame) return;
    RECT want;
    GetWindowRect(frame, &want);
    const int width = want.right - want.left, height = want.bottom - want.top;
    RECT have;
    GetClientRect(top, &have);
    if (have.right == width && have.bottom == height) return;
    RECT outer = {0, 0, width, height};
    AdjustWindowRectEx(&outer, static_cast<DWORD>(GetWindowLongA(top, GWL_STYLE)), FALSE,
                       static_cast<DWORD>(GetWindowLongA(top, GWL_EXSTYLE)));
    SetWindowPos(top, nullptr, 0, 0, outer.right - outer.left, outer.bottom - outer.top,
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

LRESULT CALLBACK topProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_SIZE:
            if (client) MoveWindow(client, 0, 0, LOWORD(lParam), HIWORD(lParam), TRUE);
            return 0;
        case WM_CLOSE:
            if (owner) helperCloseEditor(*owner);
            return 0;
        case WM_DESTROY:
            if (window == top) top = client = nullptr;
            return 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

bool registerClass() {
    static bool registered = false;
    if (registered) return true;
    WNDCLASSA c = {};
    c.lpfnWndProc = topProc;
    c.hInstance = GetModuleHandleA(nullptr);
    c.hCursor = LoadCursor(nullptr, IDC_ARROW);
    c.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    c.lpszClassName = kClass;
    registered = RegisterClassA(&c) != 0;
    return registered;
}

}  // namespace

int64_t helperShowEditor(BridgeServer& server, intptr_t programWindow, const char* caption) {
    owner = &server;
    if (top) {
        ShowWindow(top, SW_SHOWNORMAL);
        SetForegroundWindow(top);
        return 1;
    }
    if (!server.dispatcher || !server.instance || !registerClass()) return 0;
    HWND programClient = reinterpret_cast<HWND>(programWindow);
    programFrame = IsWindow(programClient) ? GetAncestor(programClient, GA_ROOT) : nullptr;
    gBridgeReported = tellProgram;
    // Over the program's client area, a little in from its corner, as an
    // editor inside the program would open.
    POINT at = {CW_USEDEFAULT, CW_USEDEFAULT};
    if (programClient && IsWindow(programClient)) {
        at = {40, 40};
        ClientToScreen(programClient, &at);
    }
    top = CreateWindowExA(WS_EX_TOOLWINDOW, kClass, caption, WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_CLIPCHILDREN,
                          at.x, at.y, 300, 200, programFrame, nullptr, GetModuleHandleA(nullptr), nullptr);
    if (!top) return 0;
    CLIENTCREATESTRUCT mdi = {nullptr, 0xFF00};
    client = CreateWindowExA(0, "MDICLIENT", "", WS_CHILD | WS_VISIBLE | WS_CLIPCHILDREN, 0, 0, 300, 200, top,
                             nullptr, GetModuleHandleA(nullptr), &mdi);
    if (!client ||
        !server.dispatcher(WD_SHOW_EDITOR, server.instance, reinterpret_cast<intptr_t>(client))) {
        DestroyWindow(top);
        top = client = nullptr;
        return 0;
    }
    if (HWND frame = frameOf()) {
        const LONG style = GetWindowLongA(frame, GWL_STYLE);
        SetWindowLongA(frame, GWL_STYLE, style & ~(WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | WS_MAXIMIZEBOX));
        SetWindowPos(frame, nullptr, 0, 0, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_FRAMECHANGED);
    }
    fit();
    ShowWindow(top, SW_SHOWNORMAL);
    SetForegroundWindow(top);
    return 1;
}

int64_t helperCloseEditor(BridgeServer& server) {
    if (server.dispatcher && server.instance && frameOf()) server.dispatcher(WD_CLOSE_EDITOR, server.instance, 4);
    if (top) DestroyWindow(top);
    top = client = nullptr;
    return 1;
}

void helperEditorClosed() {
    if (top) DestroyWindow(top);
    top = client = nullptr;
}

void helperEditorTick() {
    if (top && !frameOf()) helperEditorClosed();
    fit();
}

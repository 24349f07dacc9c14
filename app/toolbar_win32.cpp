// The toolbar along the frame's top edge and its tooltips. The bar draws
// and tracks its eleven picture buttons itself; app/toolbar.cpp decides
// where they are, what state the mouse puts them in and what each sends.
// Main (user-interface) thread only.
#include <windows.h>
#include <windowsx.h>
#include <commctrl.h>

#include "app/resource.h"
#include "app/shell_win32.h"
#include "app/toolbar.h"

namespace {

constexpr UINT_PTR kHoverTimer = 1;
constexpr UINT kHoverPeriodMs = 50;
constexpr COLORREF kPictureKeyColour = RGB(192, 192, 192);

ToolbarModel model;

// The pictures are drawn on the classic light-grey face, which is their key
// colour: masked out, it lets the face of whatever colour scheme through.
// The shared toolbar image lists are plain 24-bit lists without a mask, so
// the bar keeps masked lists of its own: made when first drawn, released
// with the bar.
HIMAGELIST pictures[2] = {nullptr, nullptr};

HIMAGELIST loadPictures(int bitmapId) {
    HBITMAP bitmap = static_cast<HBITMAP>(
        LoadImageA(gShell.instance, MAKEINTRESOURCEA(bitmapId), IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION));
    if (!bitmap) return nullptr;
    HIMAGELIST list = ImageList_Create(kToolbarPictureWidth, kToolbarPictureHeight, ILC_COLOR24 | ILC_MASK,
                                       kToolbarButtonCount, 0);
    if (list && ImageList_AddMasked(list, bitmap, kPictureKeyColour) < 0) {
        ImageList_Destroy(list);
        list = nullptr;
    }
    DeleteObject(bitmap);
    return list;
}

HIMAGELIST toolbarPictures(ToolbarPictureList which) {
    HIMAGELIST& list = pictures[which == kToolbarHotPictures ? 1 : 0];
    if (!list) list = loadPictures(which == kToolbarHotPictures ? IDB_TOOLBAR_HOT : IDB_TOOLBAR_NORMAL);
    return list;
}

void releaseGraphics() {
    for (HIMAGELIST& list : pictures) {
        if (list) ImageList_Destroy(list);
        list = nullptr;
    }
}

void drawButton(HDC dc, int index) {
    const ToolbarPaint paint = toolbarPaintFor(index, model.state[index]);
    RECT frame = {paint.frame.left, paint.frame.top, paint.frame.right, paint.frame.bottom};
    // The pictures are see-through around their glyphs: the face goes down
    // first, or a glyph of the previous state (drawn a pixel off) would show.
    FillRect(dc, &frame, GetSysColorBrush(COLOR_BTNFACE));
    if (paint.outline) {
        // Clockwise from the top left; the last corner closes the square.
        if (HPEN pen = SharedOutlinePen()) {
            HGDIOBJ old = SelectObject(dc, pen);
            const int right = frame.right - 1, bottom = frame.bottom - 1;
            MoveToEx(dc, frame.left, frame.top, nullptr);
            LineTo(dc, right, frame.top);
            LineTo(dc, right, bottom);
            LineTo(dc, frame.left, bottom);
            LineTo(dc, frame.left, frame.top);
            SelectObject(dc, old);
        }
    }
    if (HIMAGELIST list = toolbarPictures(paint.list))
        ImageList_Draw(list, index, dc, paint.pictureX, paint.pictureY, ILD_NORMAL);
    if (paint.edge == kToolbarSunkenOuter) DrawEdge(dc, &frame, BDR_SUNKENOUTER, BF_RECT);
    if (paint.edge == kToolbarRaisedInner) DrawEdge(dc, &frame, BDR_RAISEDINNER, BF_RECT);
}

void drawButtons(HWND window, uint32_t which) {
    if (!which) return;
    HDC dc = GetDC(window);
    if (!dc) return;
    for (int i = 0; i < kToolbarButtonCount; ++i)
        if (which & (1u << i)) drawButton(dc, i);
    ReleaseDC(window, dc);
}

constexpr uint32_t kAllButtons = (1u << kToolbarButtonCount) - 1;

void onEraseBackground(HWND window, HDC dc) {
    DefWindowProcA(window, WM_ERASEBKGND, reinterpret_cast<WPARAM>(dc), 0);
    RECT client;
    GetClientRect(window, &client);
    // An empty rectangle one pixel down: its two sides make the etched line.
    RECT line = {0, 1, client.right, 1};
    DrawEdge(dc, &line, BDR_SUNKENOUTER, BF_RECT);
    for (int i = 0; i < kToolbarButtonCount; ++i) drawButton(dc, i);
}

void onMouseMove(HWND window, int x, int y) {
    if (!model.hovering && SetTimer(window, kHoverTimer, kHoverPeriodMs, nullptr)) model.hovering = true;
    drawButtons(window, toolbarMouseMove(model, x, y));
}

void onButtonDown(HWND window, int x, int y) {
    toolbarButtonDown(model, x, y);
    // The release must come here even off the bar, so that a press dragged
    // away is seen to end without a command.
    SetCapture(window);
    drawButtons(window, kAllButtons);
}

void onButtonUp(HWND window, int x, int y) {
    if (GetCapture() == window) ReleaseCapture();
    uint16_t command = 0;
    drawButtons(window, toolbarButtonUp(model, x, y, command));
    if (command) SendMessageA(GetParent(window), WM_COMMAND, command, 0);
}

void onHoverTimer(HWND window) {
    POINT cursor;
    RECT bar;
    if (GetCursorPos(&cursor) && GetWindowRect(window, &bar) && PtInRect(&bar, cursor)) return;
    drawButtons(window, toolbarMouseLeft(model));
    KillTimer(window, kHoverTimer);
}

}  // namespace

LRESULT CALLBACK ToolbarProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_ERASEBKGND:
            onEraseBackground(window, reinterpret_cast<HDC>(wParam));
            return 1;
        case WM_MOUSEMOVE: onMouseMove(window, GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)); break;
        case WM_LBUTTONDOWN: onButtonDown(window, GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)); break;
        case WM_LBUTTONUP: onButtonUp(window, GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)); break;
        case WM_TIMER:
            if (wParam != kHoverTimer) break;
            onHoverTimer(window);
            return 0;
        case WM_DESTROY:
            KillTimer(window, kHoverTimer);
            model = ToolbarModel{};
            releaseGraphics();
            break;
        default: break;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

// Start-up step 22, after the toolbar exists. Without the control the bar
// works all the same, only without tips.
void CreateToolbarTooltips() {
    gShell.tooltip = CreateWindowExA(0, TOOLTIPS_CLASSA, nullptr, TTS_ALWAYSTIP, CW_USEDEFAULT, CW_USEDEFAULT,
                                     CW_USEDEFAULT, CW_USEDEFAULT, nullptr, nullptr, gShell.instance, nullptr);
    if (!gShell.tooltip) {
        MessageBoxA(nullptr, "Failted", nullptr, MB_OK);
        return;
    }
    if (!gShell.toolbar) return;
    for (int i = 0; i < kToolbarButtonCount; ++i) {
        const ToolbarRect r = toolbarButtonRect(i);
        TOOLINFOA tool{};
        // The size every common-controls version accepts; the full record
        // of newer headers is refused by the version-5 control Windows
        // gives a program without a manifest.
        tool.cbSize = TTTOOLINFOA_V2_SIZE;
        tool.uFlags = 0;
        tool.hwnd = gShell.toolbar;
        tool.uId = static_cast<UINT_PTR>(i);
        tool.rect = {r.left, r.top, r.right, r.bottom};
        tool.hinst = gShell.instance;
        tool.lpszText = const_cast<char*>(toolbarButton(i).tooltip);
        SendMessageA(gShell.tooltip, TTM_ADDTOOLA, 0, reinterpret_cast<LPARAM>(&tool));
    }
}

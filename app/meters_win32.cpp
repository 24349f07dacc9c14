// The input and output VU meter windows and the processor-load read-out
// drawn into the frame. app/meters.cpp turns the engine's figures into
// segments, columns and texts; this file paints them. Main thread only: the
// peaks and the load figure are written by the audio thread and read here
// one relaxed atomic float at a time.
#include <windows.h>
#include <commctrl.h>

#include <atomic>

#include "app/meters.h"
#include "app/shell_win32.h"
#include "engine/engine.h"

namespace {

// The brushes, the font and the load bar picture are the shared graphics
// (graphics_win32.cpp); a resource that could not be made is left out.
HBRUSH segmentBrush(MeterSegmentColour colour) {
    return SharedMeterBrush(colour == kSegmentLit ? kMeterLit : colour == kSegmentPeak ? kMeterPeak : kMeterUnlit);
}

HWND& meterHandle(int which) { return which == kInputMeter ? gShell.inputMeter : gShell.outputMeter; }

// The window's meter, kept in its user data from creation on (which + 1,
// so that 0 means a window this file did not create); -1 when unknown.
int meterOf(HWND window) {
    const LONG_PTR stored = GetWindowLongPtrA(window, GWLP_USERDATA);
    if (stored == kOutputMeter + 1 || stored == kInputMeter + 1) return static_cast<int>(stored - 1);
    return -1;
}

void drawBars(HDC dc, int which) {
    const bool input = which == kInputMeter;
    const float peaks[2] = {
        (input ? gEngine.inputPeakL : gEngine.outputPeakL).load(std::memory_order_relaxed),
        (input ? gEngine.inputPeakR : gEngine.outputPeakR).load(std::memory_order_relaxed),
    };
    for (int channel = 0; channel < 2; ++channel) {
        const int lit = meterLitSegments(peaks[channel]);
        for (int k = 0; k < kMeterSegments; ++k) {
            const MeterRect m = meterSegmentRect(channel, k);
            const RECT r = {m.left, m.top, m.right, m.bottom};
            if (HBRUSH brush = segmentBrush(meterSegmentColour(k, lit))) FillRect(dc, &r, brush);
        }
    }
}

void repaintBars(HWND window) {
    const int which = meterOf(window);
    if (which < 0) return;
    if (HDC dc = GetDC(window)) {
        drawBars(dc, which);
        ReleaseDC(window, dc);
    }
}

// The outer top-left on the screen: the point the window is created at, so
// re-opening puts it back exactly where it was.
void recordPosition(HWND window) {
    const int which = meterOf(window);
    RECT outer;
    if (which < 0 || !GetWindowRect(window, &outer)) return;
    recordMeterPosition(gWindowPositions, which, outer.left, outer.top);
}

}  // namespace

LRESULT CALLBACK MeterProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_NCCREATE: {
            const auto* create = reinterpret_cast<const CREATESTRUCTA*>(lParam);
            const LONG_PTR which = create ? reinterpret_cast<LONG_PTR>(create->lpCreateParams) : -1;
            if (which == kOutputMeter || which == kInputMeter) SetWindowLongPtrA(window, GWLP_USERDATA, which + 1);
            break;
        }
        case WM_MOVE: recordPosition(window); break;
        case WM_ERASEBKGND: {
            // The background picture comes through the class brush.
            DefWindowProcA(window, message, wParam, lParam);
            const int which = meterOf(window);
            if (which >= 0) drawBars(reinterpret_cast<HDC>(wParam), which);
            return 1;
        }
        case WM_USER:
            repaintBars(window);
            return 1;
        case WM_DESTROY: {
            // Closed by the user or destroyed with its owner: forgotten, so
            // the next opening creates it again.
            const int which = meterOf(window);
            if (which >= 0 && meterHandle(which) == window) meterHandle(which) = nullptr;
            break;
        }
        default: break;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

void ShowMeter(HWND owner, int which, bool close) {
    if (which != kOutputMeter && which != kInputMeter) return;
    HWND& handle = meterHandle(which);
    if (handle && !IsWindow(handle)) handle = nullptr;
    if (close) {
        if (handle) DestroyWindow(handle);  // WM_DESTROY forgets it
        handle = nullptr;
        return;
    }
    if (handle) return;
    int x = 0, y = 0;
    meterPosition(gWindowPositions, which, x, y);
    const MeterWindowPlace place = meterWindowPlace(which, x, y, GetSystemMetrics(SM_CXFIXEDFRAME),
                                                    GetSystemMetrics(SM_CYFIXEDFRAME), GetSystemMetrics(SM_CYSMCAPTION));
    handle = CreateWindowExA(WS_EX_TOOLWINDOW, "Quorvane_Meter_Class", place.title, WS_POPUP | WS_VISIBLE | WS_CAPTION,
                             place.x, place.y, place.width, place.height, owner, nullptr, gShell.instance,
                             reinterpret_cast<void*>(static_cast<INT_PTR>(which)));
}

// Live input has just started: the output meter first, then the input meter
// (which therefore comes out on top), owned by the MDI client.
void OpenVuMeters() {
    ShowMeter(gShell.mdiClient, kOutputMeter, false);
    ShowMeter(gShell.mdiClient, kInputMeter, false);
}

void RefreshMeters() {
    if (gShell.frame) {
        if (HDC dc = GetDC(gShell.frame)) {
            DrawLoadReadout(dc);
            ReleaseDC(gShell.frame, dc);
        }
    }
    if (gShell.outputMeter && IsWindow(gShell.outputMeter)) SendMessageA(gShell.outputMeter, WM_USER, 0, 0);
    if (gShell.inputMeter && IsWindow(gShell.inputMeter)) SendMessageA(gShell.inputMeter, WM_USER, 0, 0);
}

// After every erase of the frame, on every refresh tick and when live input
// stops. Nothing without a performance counter, nor in a narrow frame.
void DrawLoadReadout(HDC dc) {
    if (!dc || !gShell.frame || !gEngine.cpuMeterReady.load(std::memory_order_relaxed)) return;
    RECT client;
    if (!GetClientRect(gShell.frame, &client)) return;
    const float load = gEngine.cpuUsagePercent.load(std::memory_order_relaxed);

    HFONT font = SharedInterfaceFont();
    HGDIOBJ oldFont = font ? SelectObject(dc, font) : nullptr;
    const int oldMode = SetBkMode(dc, TRANSPARENT);
    const COLORREF oldText = SetTextColor(dc, RGB(0, 0, 0));
    const COLORREF oldBack = GetBkColor(dc);
    SIZE label = {0, 0};
    GetTextExtentPoint32A(dc, kLoadLabel, lstrlenA(kLoadLabel), &label);
    // Above the status bar, beside the accompaniment bar.
    const LoadReadoutLayout l = loadReadoutLayout(client.right, client.bottom - StatusBarHeight(), label.cx);
    if (l.visible) {
        TextOutA(dc, l.textX, l.textY, kLoadLabel, lstrlenA(kLoadLabel));
        RECT box = {l.box.left, l.box.top, l.box.right, l.box.bottom};
        DrawEdge(dc, &box, BDR_SUNKENOUTER, BF_RECT);
        const int columns = loadBarColumns(load);
        if (columns > 0) {
            if (HIMAGELIST bar = SharedImageList(kImagesLoadBar))
                ImageList_DrawEx(bar, 0, dc, l.barX, l.barY, columns, l.barHeight, CLR_NONE, CLR_NONE, ILD_NORMAL);
        }
        const RECT rest = {l.barX + columns, l.barY, l.barX + l.barWidth, l.barY + l.barHeight};
        if (HBRUSH black = SharedBlackBrush()) FillRect(dc, &rest, black);
        char percent[40];
        formatLoadPercent(load, percent, sizeof percent);
        SetBkMode(dc, OPAQUE);
        SetBkColor(dc, GetSysColor(COLOR_BTNFACE));
        TextOutA(dc, l.percentX, l.percentY, percent, lstrlenA(percent));
    }
    SetBkColor(dc, oldBack);
    SetTextColor(dc, oldText);
    SetBkMode(dc, oldMode);
    if (oldFont) SelectObject(dc, oldFont);
}

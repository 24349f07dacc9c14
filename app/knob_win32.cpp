// The knob control (class "AUDIO_KNOBCLASS"): a small round control turned
// by dragging the mouse up and down. During a drag the cursor is hidden and
// held at the press point, so the travel is unlimited; every vertical step
// repaints the needle and tells the parent (WM_COMMAND with the knob's
// identifier and the address of its record). The model (steps, limits,
// needle) is knob.cpp. Main thread only.
#include <windows.h>
#include <commctrl.h>

#include <cstdlib>

#include "app/knob.h"
#include "app/shell_win32.h"

namespace {

constexpr const char* kKnobClass = "AUDIO_KNOBCLASS";

KnobRecord* recordOf(HWND knob) { return reinterpret_cast<KnobRecord*>(GetWindowLongPtrA(knob, GWLP_USERDATA)); }

void drawBackground(const KnobRecord& k, HDC dc) {
    if (k.background)
        ImageList_Draw(static_cast<HIMAGELIST>(k.background), 0, dc, k.backgroundX, k.backgroundY, ILD_NORMAL);
}

// Paints the knob into `dc`. A drag step whose needle would end on the same
// pixel as the one drawn draws nothing, so fine drags do not flicker.
void paintKnob(KnobRecord& k, HDC dc) {
    if (!k.enabled) {
        drawBackground(k, dc);
        return;
    }
    const KnobNeedle n = knobNeedle(k);
    if (k.repaintPending && n.dx == k.needleDx && n.dy == k.needleDy) {
        k.repaintPending = 0;
        return;
    }
    k.needleDx = n.dx;
    k.needleDy = n.dy;
    k.repaintPending = 0;
    drawBackground(k, dc);
    HGDIOBJ previous = k.needlePen ? SelectObject(dc, static_cast<HPEN>(k.needlePen)) : nullptr;
    MoveToEx(dc, n.cx, n.cy, nullptr);
    LineTo(dc, n.cx - n.dx, n.cy - n.dy);
    if (previous) SelectObject(dc, previous);
}

// Every way a drag ends comes here: the button's release, a move that
// arrives without the button (the release went elsewhere), the capture
// taken away, the knob disabled or destroyed mid-drag. The flag is cleared
// first: releasing the capture sends WM_CAPTURECHANGED back here.
void endDrag(HWND knob, KnobRecord& k) {
    if (!k.dragging) return;
    k.dragging = 0;
    SetCursorPos(k.pressX, k.pressY);
    ShowCursor(TRUE);
    if (GetCapture() == knob) ReleaseCapture();
}

void onButtonDown(HWND knob, KnobRecord& k) {
    // A second press while dragging would hide the cursor a second time and
    // leave it hidden after the one release.
    if (!k.enabled || k.dragging) return;
    POINT at{};
    if (!GetCursorPos(&at)) return;
    SetCapture(knob);
    ShowCursor(FALSE);
    k.dragging = 1;
    k.pressX = at.x;
    k.pressY = at.y;
}

void onMouseMove(HWND knob, KnobRecord& k, WPARAM keys) {
    if (!k.dragging) return;
    if (!k.enabled || !(keys & MK_LBUTTON)) {
        endDrag(knob, k);
        return;
    }
    POINT at{};
    if (!GetCursorPos(&at)) return;
    SetCursorPos(k.pressX, k.pressY);
    const int32_t dy = at.y - k.pressY;
    k.value = knobDraggedValue(k, dy, (keys & MK_CONTROL) != 0, (keys & MK_SHIFT) != 0);
    if (dy == 0) return;
    k.repaintPending = 1;
    if (HDC dc = GetDC(knob)) {
        paintKnob(k, dc);
        ReleaseDC(knob, dc);
    }
    // Also at a limit, where the value did not change: the parent redraws
    // the read-out either way.
    if (HWND parent = GetParent(knob))
        SendMessageA(parent, WM_COMMAND, MAKEWPARAM(k.identifier, 0), reinterpret_cast<LPARAM>(&k));
}

LRESULT CALLBACK knobProc(HWND knob, UINT message, WPARAM wParam, LPARAM lParam) {
    KnobRecord* k = recordOf(knob);
    switch (message) {
        case WM_CREATE: {
            auto* record = static_cast<KnobRecord*>(std::calloc(1, sizeof(KnobRecord)));
            if (record) *record = KnobRecord{};
            SetWindowLongPtrA(knob, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(record));
            break;
        }
        case WM_DESTROY:
            if (k) {
                endDrag(knob, *k);
                SetWindowLongPtrA(knob, GWLP_USERDATA, 0);
                std::free(k);
            }
            break;
        case WM_USER: return reinterpret_cast<LRESULT>(k);
        case WM_LBUTTONDOWN:
            if (k) onButtonDown(knob, *k);
            break;
        case WM_MOUSEMOVE:
            if (k) onMouseMove(knob, *k, wParam);
            break;
        case WM_LBUTTONUP:
            if (k) endDrag(knob, *k);
            break;
        case WM_CAPTURECHANGED:
            if (k && reinterpret_cast<HWND>(lParam) != knob) endDrag(knob, *k);
            break;
        case WM_ERASEBKGND:
            if (k) paintKnob(*k, reinterpret_cast<HDC>(wParam));
            return 1;
        default:
            break;
    }
    return DefWindowProcA(knob, message, wParam, lParam);
}

}  // namespace

int32_t RegisterKnobClass() {
    WNDCLASSEXA c{};
    c.cbSize = sizeof c;
    c.style = CS_HREDRAW | CS_VREDRAW;
    c.lpfnWndProc = knobProc;
    c.hInstance = gShell.instance;
    c.hCursor = LoadCursor(nullptr, IDC_ARROW);
    c.hbrBackground = reinterpret_cast<HBRUSH>(static_cast<INT_PTR>(COLOR_BTNFACE + 1));
    c.lpszClassName = kKnobClass;
    return RegisterClassExA(&c) ? 0 : -1;
}

HWND CreateKnob(HWND parent, HINSTANCE instance, int32_t x, int32_t y, const KnobRecord& parameters) {
    // The identifier doubles as the child's control id, so the parent can
    // find the knob that claims to have sent a command.
    HWND knob = CreateWindowExA(0, kKnobClass, nullptr, WS_CHILD | WS_CLIPSIBLINGS, x, y, parameters.width,
                                parameters.height, parent,
                                reinterpret_cast<HMENU>(static_cast<INT_PTR>(parameters.identifier)), instance,
                                nullptr);
    if (!knob) return nullptr;
    auto* record = reinterpret_cast<KnobRecord*>(SendMessageA(knob, WM_USER, 0, 0));
    if (!record) return knob;  // no record: shows nothing, ignores the mouse
    *record = parameters;
    record->dragging = 0;  // a drag begins only with a press on this window
    ShowWindow(knob, SW_SHOW);
    return knob;
}

// The toolbar along the frame's top edge and its tooltips.
#include <windows.h>
#include <commctrl.h>

#include "app/shell_win32.h"

// The toolbar's buttons come with their pictures; the bar keeps its place.
LRESULT CALLBACK ToolbarProc(HWND w, UINT m, WPARAM wp, LPARAM lp) { return DefWindowProcA(w, m, wp, lp); }

// The tooltip control exists from the start so that the message loop can
// relay mouse messages; the toolbar registers its tools with its buttons.
void CreateToolbarTooltips() {
    gShell.tooltip = CreateWindowExA(0, TOOLTIPS_CLASSA, nullptr, WS_POPUP | TTS_ALWAYSTIP, CW_USEDEFAULT,
                                     CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, gShell.frame, nullptr,
                                     gShell.instance, nullptr);
}

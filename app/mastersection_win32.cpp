// The Master Section: an MDI child holding the chain pane and the gate pane
// with its knobs. Until the knobs exist its class only behaves as an MDI
// child, and the command that opens it does nothing.
#include <windows.h>

#include "app/shell_win32.h"

LRESULT CALLBACK MasterSectionProc(HWND w, UINT m, WPARAM wp, LPARAM lp) { return DefMDIChildProcA(w, m, wp, lp); }
LRESULT CALLBACK GatePaneProc(HWND w, UINT m, WPARAM wp, LPARAM lp) { return DefWindowProcA(w, m, wp, lp); }

// Opens (or activates) the Master Section window once it is built.
void ShowMasterSection() {}
void RefreshMasterSection() {}

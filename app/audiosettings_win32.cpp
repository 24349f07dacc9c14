// The "Audio Settings:" dialog: device system, DirectSound devices with
// format, latency, buffers and output delay, the ASIO driver, the tempo.
#include <windows.h>

#include "app/shell_win32.h"

// Runs the dialog modally, owned by the MDI client (comes next).
void RunAudioSettingsDialog() {}

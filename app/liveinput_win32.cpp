// Live input as the frame sees it. Starting it (with the refresh timer that
// turns the engine's status bits into reports) comes with the audio settings
// dialog; stopping already stops whatever device streams, so every command
// that must stop live input first is safe today.
#include <windows.h>

#include "app/shell_win32.h"
#include "devices/asiohost.h"
#include "devices/directsound.h"

bool LiveInputRunning() { return dsStreaming() || gAsioHost.running; }

int32_t StartLiveInput() { return 0; }

int32_t StopLiveInput(bool) {
    int32_t result = 0;
    if (dsStreaming()) result = dsStop();
    if (gAsioHost.running) {
        const int32_t stopped = asioStop();
        if (result == 0) result = stopped;
    }
    return result;
}

void KillLiveInputTimer() {}

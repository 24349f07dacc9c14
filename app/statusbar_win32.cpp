// The frame's status bar: one part, the latency read-out while live input
// runs. statusbar.cpp computes the figure and its text. Main thread only.
#include <windows.h>
#include <commctrl.h>

#include <cstdio>
#include <cstring>

#include "app/resource.h"
#include "app/shell_win32.h"
#include "app/statusbar.h"
#include "devices/asiohost.h"
#include "devices/directsound.h"
#include "devices/wasapi.h"
#include "engine/engine.h"
#include "host/host.h"

namespace {

// What the bar shows now: a text is set only when it changes, so the
// 50 ms timer causes no repaint while the figure stays.
char shown[200] = "";
// What playing live has to say (learning, a tempo tapped), after the latency.
char stage[128] = "";

}  // namespace

void SetStageStatus(const char* text) {
    std::snprintf(stage, sizeof stage, "%s", text ? text : "");
    UpdateLatencyStatus(LiveInputRunning());
}

HWND CreateStatusBar() {
    shown[0] = '\0';
    return CreateWindowExA(0, STATUSCLASSNAMEA, "", WS_CHILD | WS_VISIBLE | SBARS_SIZEGRIP, 0, 0, 0, 0, gShell.frame,
                           reinterpret_cast<HMENU>(static_cast<INT_PTR>(IDC_STATUS_BAR)), gShell.instance, nullptr);
}

int StatusBarHeight() {
    RECT r;
    // Its own style, not IsWindowVisible: the frame lays out before it is shown.
    if (!gShell.statusBar || !(GetWindowLongPtrA(gShell.statusBar, GWL_STYLE) & WS_VISIBLE) ||
        !GetWindowRect(gShell.statusBar, &r))
        return 0;
    return r.bottom - r.top;
}

void UpdateLatencyStatus(bool running) {
    if (!gShell.statusBar) return;
    LatencySources s;
    if (running) {
        s.rate = gEngine.lastConfiguredRate > 0 ? gEngine.lastConfiguredRate : 0.0;
        s.asio = gAsioHost.running;
        s.blockFrames = gEngine.blockSize;
        s.outputDelayMs = dsSettings().outputDelayMs;
        s.asioInputFrames = gAsioHost.inputLatency;
        s.asioOutputFrames = gAsioHost.outputLatency;
        if (wasapiStreaming()) {
            // The stream's own figures stand in for a driver's answers.
            const WasapiStream& w = wasapiLastStream();
            s.asio = true;
            s.asioInputFrames = static_cast<int32_t>(w.inputLatencyFrames);
            s.asioOutputFrames = static_cast<int32_t>(w.outputLatencyFrames);
        }
        // Asked anew each time: a plug-in may change its delay while it runs.
        s.chainFrames = chainLatency();
    }
    char text[sizeof shown];
    formatLatencyStatus(running ? liveLatencyMs(s) : -1, text, sizeof text);
    if (running && wasapiStreaming()) {
        const WasapiStream& w = wasapiLastStream();
        const WasapiCounters& c = wasapiCounters();
        char fallback[96], more[160];
        wasapiFallbackText(w, fallback, sizeof fallback);
        formatWasapiStatus(wasapiModeName(w.mode), w.rate ? 1000.0 * w.periodFrames / w.rate : 0.0,
                           c.underruns.load(std::memory_order_relaxed), c.overruns.load(std::memory_order_relaxed),
                           fallback, more, sizeof more);
        const size_t used = std::strlen(text);
        std::snprintf(text + used, sizeof text - used, "%s", more);
    }
    if (stage[0]) {
        const size_t used = std::strlen(text);
        std::snprintf(text + used, sizeof text - used, "%s%s", used ? " | " : "", stage);
    }
    if (std::strcmp(text, shown) == 0) return;
    std::memcpy(shown, text, sizeof shown);
    SendMessageA(gShell.statusBar, SB_SETTEXTA, 0, reinterpret_cast<LPARAM>(text));
}

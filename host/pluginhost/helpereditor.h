// The plug-in's editor in the helper process: a window of the helper,
// owned by the program's main window, holding the wrapper's editor frame.
#pragma once

#include <cstdint>

#include "host/bridge.h"

// Opens (or brings up) the editor; `programWindow` is the program's MDI
// client, whose top-level window owns the helper's. 1 when it shows.
int64_t helperShowEditor(BridgeServer& server, intptr_t programWindow, const char* caption);
int64_t helperCloseEditor(BridgeServer& server);
// The wrapper closed the editor itself.
void helperEditorClosed();
// Keeps the window fitted to the frame the wrapper sizes (every wake).
void helperEditorTick();

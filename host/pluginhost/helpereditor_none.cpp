// Platforms without windows have no editors.
#include "host/pluginhost/helpereditor.h"

int64_t helperShowEditor(BridgeServer&, intptr_t, const char*) { return 0; }
int64_t helperCloseEditor(BridgeServer&) { return 1; }
void helperEditorClosed() {}
void helperEditorTick() {}

// Builds without a window system (the native test build) have no editor
// windows: nothing to register, and no editor can be shown.
#include "wrappers/vst/vstinstance.h"

bool editorWindowsOpen() { return true; }
void editorWindowsClose() {}
intptr_t editorShow(VstInstance*, void*) { return 0; }
void editorClose(VstInstance* instance) {
    instance->editorFrame = nullptr;
    instance->editorClient = nullptr;
}
void editorForget(VstInstance* instance) {
    editorClose(instance);
    instance->programPopup = nullptr;
}
intptr_t editorSizeWindow(VstInstance*, int32_t, int32_t) { return 0; }

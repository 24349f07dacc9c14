// The native build shows no windows: no VST 3 editor.
#include "wrappers/vst3/vst3editor.h"

bool vst3EditorsOpen() { return true; }
void vst3EditorsClose() {}
intptr_t vst3EditorShow(Vst3Editor&, vst3::IEditController*, const char*, void*) { return 0; }
void vst3EditorClose(Vst3Editor&) {}

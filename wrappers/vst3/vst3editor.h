// A VST 3 plug-in's own editor in an editor frame: an MDI child of the
// host's client holding the plug-in's view, sized to it, resizable when the
// view is. UI thread only. The native build has no windows: showing
// answers 0 there.
#pragma once

#include <cstdint>

#include "wrappers/vst3/vst3abi.h"

struct Vst3Editor {
    void* frame = nullptr;  // the MDI child while the editor is open
    void* client = nullptr;
    vst3::IPlugView* view = nullptr;
    void* plugFrame = nullptr;  // our IPlugFrame for the view
    int32_t x = static_cast<int32_t>(0x80000000u), y = static_cast<int32_t>(0x80000000u);
};

bool vst3EditorsOpen();
void vst3EditorsClose();
// Opens (or brings forward) the controller's editor view in a frame titled
// `title` in `mdiClient`. 1 when shown; 0 when the plug-in has no view for
// this platform.
intptr_t vst3EditorShow(Vst3Editor& editor, vst3::IEditController* controller, const char* title, void* mdiClient);
// Closes the frame and releases the view, once.
void vst3EditorClose(Vst3Editor& editor);

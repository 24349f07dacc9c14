// Without a window system the default wrapper has no editor frames.
#include "wrappers/default/defeditor.h"

bool editorClassRegister() { return true; }
void editorClassRelease() {}
intptr_t editorShow(EditorSlot&, const char*, void*) { return 0; }
void editorClose(EditorSlot& slot) {
    slot.frame = nullptr;
    slot.effectEditor = nullptr;
}

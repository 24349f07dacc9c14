// Builds without a window system (the native test build) have no editor
// windows: nothing to register, and no editor can be shown.
#include "wrappers/common/editorframe.h"

bool editorWindowsOpen(const EditorClasses&) { return true; }
void editorWindowsClose() {}
intptr_t editorShow(EditorFrame&, const char*, void*) { return 0; }
void editorClose(EditorFrame& editor) {
    editor.frame = nullptr;
    editor.client = nullptr;
    editor.viewOpen = false;
}
void editorForget(EditorFrame& editor) {
    editorClose(editor);
    editor.programPopup = nullptr;
}
intptr_t editorSizeWindow(EditorFrame&, int32_t, int32_t) { return 0; }
void editorRepaint(EditorFrame&) {}
bool editorClientHasChild(void*) { return false; }
void editorServiceStart(void (*)()) {}
void editorServiceStop() {}

// The default wrapper's editor frame: an MDI child of the host's client
// holding the preset button and the effect's own editor. The Windows build
// has the window (defeditor_win32.cpp); elsewhere there is none.
//
// UI thread only.
#pragma once

#include <cstdint>

#include "wrappers/default/effectinterface.h"

// The editor part of an instance record; it is the record's first field, so
// its address is the instance handle the frame keeps in its user data.
struct EditorSlot {
    void* frame;          // the MDI child; null when no editor is open
    void* effectEditor;   // the effect's dialog inside it; null when closed
    int32_t x, y;         // the frame's last position in the client
    PluginQueryFn query;  // the effect the frame talks to, set when it opens
};

// WD_OPEN: the frame class and the preset glyph. False if the class cannot
// be registered.
bool editorClassRegister();
// WD_CLOSE: class, glyph, icon and menu released, so the wrapper can be
// opened again in the same process.
void editorClassRelease();

// WD_SHOW_EDITOR: activates the open frame, or creates it with the effect's
// editor inside. 1, or 0 when the frame or the editor cannot be created.
intptr_t editorShow(EditorSlot& slot, const char* title, void* mdiClient);
// Destroys the frame if open; the slot's window fields are cleared.
void editorClose(EditorSlot& slot);

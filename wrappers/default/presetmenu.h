// The editor frame's preset menu as data: what the popup shows, which
// commands it answers, and where the preset button sits. Platform-free;
// defeditor_win32.cpp turns it into a menu and back.
//
// UI thread only.
#pragma once

#include <cstddef>

#include "wrappers/default/effectinterface.h"

enum : int {
    kMenuLoadPreset = 101,
    kMenuSavePreset = 102,
    kMenuCurrentPreset = 103,
    kMenuFirstPreset = 104,
};

// Presets beyond this many are not listed: a module that never ends its list
// is cut off, and 104 + k stays far below every other command id.
constexpr int kMenuMaxPresets = 256;
// An effect's name (at most 111 characters in its 112-byte buffer) with
// every "&" doubled, and the terminator.
constexpr size_t kMenuTextSize = 2 * (kPresetNameBuffer - 1) + 1;

struct PresetMenu {
    char current[kMenuTextSize];  // the bold item, 103
    int presetCount;
    char presets[kMenuMaxPresets][kMenuTextSize];  // item 104 + k
};

// Fills the menu from the effect: the current preset's name (or "Default
// presets" when it has none), then presets 0, 1, ... until the effect says
// there are no more or the cap is reached. Names are terminated whatever the
// effect wrote, and their "&" escaped.
void buildPresetMenu(PresetMenu& menu, PluginQueryFn query);

// `text` with every "&" doubled, cut to fit and terminated.
void escapeMenuText(const char* text, char* out, size_t size);

enum class PresetAction { kNone, kLoad, kSave, kSelect };

// What command `id` of the menu asks for; a selection sets `preset` to the
// index for PQ_SELECT_PRESET (-1, the current one, for the bold item). Ids
// the menu does not hold ask for nothing.
PresetAction presetMenuAction(const PresetMenu& menu, int id, int& preset);

// The preset button: the strip left of the effect's editor, and whether a
// click at client (x, y) presses it.
constexpr int kPresetStripWidth = 15;
constexpr int kPresetGlyphX = 2, kPresetGlyphY = 2;
bool presetButtonHit(int x, int y);

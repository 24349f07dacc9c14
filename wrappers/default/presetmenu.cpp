#include "wrappers/default/presetmenu.h"

#include <cstring>

void escapeMenuText(const char* text, char* out, size_t size) {
    if (!out || size == 0) return;
    size_t at = 0;
    for (const char* c = text; c && *c; ++c) {
        const size_t need = *c == '&' ? 2 : 1;
        if (at + need >= size) break;
        out[at++] = *c;
        if (*c == '&') out[at++] = '&';
    }
    out[at] = '\0';
}

namespace {

// One name from the effect. The buffer is larger than the 112 bytes the
// effect is promised and cut at 111 characters, so a name without its
// terminator never runs on.
bool presetName(PluginQueryFn query, intptr_t index, char* out, size_t size) {
    char name[2 * kPresetNameBuffer] = {};
    if (!query || query(PQ_GET_PRESET_NAME, reinterpret_cast<intptr_t>(name), index) == 0) return false;
    name[kPresetNameBuffer - 1] = '\0';
    escapeMenuText(name, out, size);
    return true;
}

}  // namespace

void buildPresetMenu(PresetMenu& menu, PluginQueryFn query) {
    if (!presetName(query, -1, menu.current, sizeof menu.current))
        escapeMenuText("Default presets", menu.current, sizeof menu.current);
    menu.presetCount = 0;
    while (menu.presetCount < kMenuMaxPresets &&
           presetName(query, menu.presetCount, menu.presets[menu.presetCount], sizeof menu.presets[0]))
        ++menu.presetCount;
}

PresetAction presetMenuAction(const PresetMenu& menu, int id, int& preset) {
    if (id == kMenuLoadPreset) return PresetAction::kLoad;
    if (id == kMenuSavePreset) return PresetAction::kSave;
    if (id < kMenuCurrentPreset || id >= kMenuFirstPreset + menu.presetCount) return PresetAction::kNone;
    preset = id - kMenuFirstPreset;
    return PresetAction::kSelect;
}

bool presetButtonHit(int x, int y) { return x <= kPresetStripWidth && y <= 22; }

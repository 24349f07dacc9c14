// Preset files ("*.pst"): exactly the effect's state blob, nothing around
// it. Platform-free (C files); the editor frame asks for the path and shows
// the outcome.
//
// UI thread only.
#pragma once

#include <cstddef>
#include <cstdint>

#include "wrappers/default/effectinterface.h"

// No effect's state comes near this; a larger file is not a preset.
constexpr long kPresetFileMax = 16L * 1024 * 1024;

enum class PresetLoad {
    kNothing,  // the file cannot be opened or is empty: nothing happens
    kInvalid,  // too large, short, or refused by the effect: "Preset is not valid"
    kLoaded,
};

// Hands a preset file's bytes, as read, to PQ_SET_STATE: empty bytes are
// nothing, more than kPresetFileMax are invalid.
PresetLoad presetLoadBytes(const uint8_t* data, size_t size, PluginQueryFn query);

// Reads the whole file (its size checked before anything is allocated) and
// loads its bytes as presetLoadBytes does.
PresetLoad presetLoadFile(const char* path, PluginQueryFn query);

// Moves `from` over `to`, replacing it (MoveFileEx on Windows, rename
// elsewhere). True on success.
using ReplaceFileFn = bool (*)(const char* from, const char* to);

// The temporary file a save writes first: beside the target, so the final
// replace stays on one volume.
bool presetTemporaryPath(const char* target, char* out, size_t size);

// Saves without ever losing the old file: takes the effect's state first,
// writes it to the temporary file, then replaces the target with it. On any
// failure the temporary file is removed, the target is untouched and the
// result is false. An effect without state writes an empty file.
bool presetSaveFile(const char* path, PluginQueryFn query, ReplaceFileFn replace);

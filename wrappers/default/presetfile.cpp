#include "wrappers/default/presetfile.h"

#include <cstdio>
#include <cstdlib>

PresetLoad presetLoadBytes(const uint8_t* data, size_t size, PluginQueryFn query) {
    if (!query || size == 0) return PresetLoad::kNothing;
    if (!data || size > static_cast<size_t>(kPresetFileMax)) return PresetLoad::kInvalid;
    const bool taken = query(PQ_SET_STATE, reinterpret_cast<intptr_t>(data), static_cast<intptr_t>(size)) != 0;
    return taken ? PresetLoad::kLoaded : PresetLoad::kInvalid;
}

PresetLoad presetLoadFile(const char* path, PluginQueryFn query) {
    if (!path || !query) return PresetLoad::kNothing;
    std::FILE* file = std::fopen(path, "rb");
    if (!file) return PresetLoad::kNothing;
    long size = -1;
    if (std::fseek(file, 0, SEEK_END) == 0) size = std::ftell(file);
    if (size == 0) {
        std::fclose(file);
        return PresetLoad::kNothing;
    }
    if (size < 0 || size > kPresetFileMax || std::fseek(file, 0, SEEK_SET) != 0) {
        std::fclose(file);
        return PresetLoad::kInvalid;
    }
    auto* data = static_cast<uint8_t*>(std::malloc(static_cast<size_t>(size)));
    const bool whole = data && std::fread(data, 1, static_cast<size_t>(size), file) == static_cast<size_t>(size);
    std::fclose(file);
    const PresetLoad result = whole ? presetLoadBytes(data, static_cast<size_t>(size), query) : PresetLoad::kInvalid;
    std::free(data);
    return result;
}

bool presetTemporaryPath(const char* target, char* out, size_t size) {
    if (!target || !out) return false;
    const int written = std::snprintf(out, size, "%s.tmp", target);
    return written > 0 && static_cast<size_t>(written) < size;
}

bool presetSaveFile(const char* path, PluginQueryFn query, ReplaceFileFn replace) {
    if (!path || !query || !replace) return false;
    // The state first: if the effect cannot give one, nothing is touched.
    uint8_t* state = nullptr;
    intptr_t size = query(PQ_GET_STATE, reinterpret_cast<intptr_t>(&state), 0);
    if (size < 0) size = 0;
    if (size > 0 && !state) return false;
    char temporary[1024];
    if (!presetTemporaryPath(path, temporary, sizeof temporary)) return false;
    std::FILE* file = std::fopen(temporary, "wb");
    if (!file) return false;
    bool written = size == 0 || std::fwrite(state, 1, static_cast<size_t>(size), file) == static_cast<size_t>(size);
    written = std::fclose(file) == 0 && written;
    if (written && replace(temporary, path)) return true;
    std::remove(temporary);
    return false;
}

// One hosted VST effect: the record behind an instance handle (the
// handle is its address), shared by the wrapper (vstwrapper.cpp) and its
// editor frame's calls (vsteditor.cpp).
#pragma once

#include <atomic>
#include <cstdint>

#include "platform/platform.h"
#include "wrappers/vst/vst2abi.h"
#include "wrappers/vst/vsteditor.h"

constexpr size_t kVstPathSize = 260;  // paths, NUL included, as in the state blob

struct VstInstance {
    // The editor frame; its parameter cache (one value per effect
    // parameter) and program menu are the wrapper's to keep.
    EditorFrame editor;
    PlatformModule module;
    char path[kVstPathSize];
    Vst2Effect* effect;
    std::atomic<uint8_t> bypassed;  // read by the audio thread
    uint8_t* userData;
    uint32_t userSize;
    uint8_t* scratch;  // the effect's state while a blob is built
    uint32_t scratchSize;
    VstInstance* next;
};

inline intptr_t vstDispatch(Vst2Effect* effect, int32_t opcode, int32_t index = 0, intptr_t value = 0,
                            void* ptr = nullptr, float opt = 0.0f) {
    return effect->dispatcher(effect, opcode, index, value, ptr, opt);
}

inline bool vstHasOwnEditor(const VstInstance* instance) {
    return instance->effect && (instance->effect->flags & kVst2FlagHasEditor);
}

// Re-reads every parameter into the cache (after a program change or a load).
inline void vstRefreshParameters(VstInstance* instance) {
    Vst2Effect* effect = instance->effect;
    if (!effect || !effect->getParameter) return;
    for (int32_t i = 0; i < instance->editor.parameterCount; ++i)
        instance->editor.parameters[i] = effect->getParameter(effect, i);
}

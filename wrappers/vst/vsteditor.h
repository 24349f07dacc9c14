// The VST wrapper's part of the editor frame: what the frame asks of a VST
// effect (its parameter texts and values, programs, and its own editor),
// and the one size rule of its own editor.
#pragma once

#include <cstdint>

#include "wrappers/common/editorframe.h"
#include "wrappers/vst/vst2abi.h"

// The size of an effect's own editor from its get-rect answer; false (the
// generic size stays) for no rectangle or one with a side <= 0 or > 4096.
bool editorSizeFromRect(const Vst2Rect* rect, EditorSize& out);

// The frame's caption: the library's file title (no folder, no extension),
// at most 63 characters.
void vstEditorTitle(const char* path, char out[kProgramNameSize]);

// The frame's classes and pictures in the VST wrapper's module.
constexpr EditorClasses kVstEditorClasses{"VST_Wrapper_Editor", "VST_Default_Editor", 106, 107};

// What the frame asks of an instance (its `owner` is the VstInstance).
extern const EditorCalls kVstEditorCalls;

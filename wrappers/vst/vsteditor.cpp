// What the editor frame asks of a VST effect: the generic editor's texts
// and values, the program chosen from the menu, and the effect's own
// editor (opened into the frame's client, idled, drawn, closed once).
#include "wrappers/vst/vsteditor.h"

#include <cstring>

#include "wrappers/vst/vstinstance.h"

bool editorSizeFromRect(const Vst2Rect* rect, EditorSize& out) {
    if (!rect) return false;
    const int32_t width = static_cast<int32_t>(rect->right) - rect->left;
    const int32_t height = static_cast<int32_t>(rect->bottom) - rect->top;
    if (!plausibleEditorSize(width, height)) return false;
    out = {width, height};
    return true;
}

void vstEditorTitle(const char* path, char out[kProgramNameSize]) {
    const char* name = path;
    for (const char* c = path; *c; ++c)
        if (*c == '\\' || *c == '/') name = c + 1;
    const char* dot = std::strrchr(name, '.');
    size_t n = dot ? static_cast<size_t>(dot - name) : std::strlen(name);
    if (n > kProgramNameSize - 1) n = kProgramNameSize - 1;
    std::memcpy(out, name, n);
    out[n] = '\0';
}

namespace {

constexpr size_t kEffectText = 256;

VstInstance* instanceOf(EditorFrame& editor) { return static_cast<VstInstance*>(editor.owner); }

// The effect's text for a parameter, at most 31 characters. Effects write
// past the nominal sizes: the buffer is large and cleared first.
void parameterText(Vst2Effect* effect, int32_t opcode, int32_t row, char out[kParameterTextMax + 1]) {
    char text[kEffectText];
    std::memset(text, 0, sizeof text);
    vstDispatch(effect, opcode, row, 0, text);
    text[kParameterTextMax] = '\0';
    std::memcpy(out, text, kParameterTextMax + 1);
}

void parameterTexts(EditorFrame& editor, int32_t index, char name[kParameterTextMax + 1],
                    char display[kParameterTextMax + 1], char label[kParameterTextMax + 1]) {
    Vst2Effect* effect = instanceOf(editor)->effect;
    if (!effect) return;
    parameterText(effect, kVst2GetParamName, index, name);
    parameterText(effect, kVst2GetParamDisplay, index, display);
    parameterText(effect, kVst2GetParamLabel, index, label);
}

void setParameter(EditorFrame& editor, int32_t index, float value) {
    Vst2Effect* effect = instanceOf(editor)->effect;
    if (effect && effect->setParameter) effect->setParameter(effect, index, value);
}

void selectProgram(EditorFrame& editor) {
    VstInstance* instance = instanceOf(editor);
    if (!instance->effect) return;
    vstDispatch(instance->effect, kVst2SetProgram, 0, editor.currentProgram);
    vstRefreshParameters(instance);
}

int32_t openView(EditorFrame& editor, void* parent, EditorSize& size) {
    VstInstance* instance = instanceOf(editor);
    if (!vstHasOwnEditor(instance)) return 0;
    const intptr_t opened = vstDispatch(instance->effect, kVst2EditorOpen, 0, 0, parent);
    // Some effects answer 0 although they made their window: a child in
    // the client says the editor is there.
    if (!opened && !editorClientHasChild(parent)) return -1;
    Vst2Rect* rect = nullptr;
    vstDispatch(instance->effect, kVst2EditorGetRect, 0, 0, &rect);
    editorSizeFromRect(rect, size);
    return 1;
}

void closeView(EditorFrame& editor) {
    VstInstance* instance = instanceOf(editor);
    if (instance->effect) vstDispatch(instance->effect, kVst2EditorClose);
}

void idleView(EditorFrame& editor) {
    VstInstance* instance = instanceOf(editor);
    if (instance->effect) vstDispatch(instance->effect, kVst2EditorIdle);
}

void paintView(EditorFrame& editor) {
    VstInstance* instance = instanceOf(editor);
    if (!instance->effect) return;
    Vst2Rect* rect = nullptr;
    vstDispatch(instance->effect, kVst2EditorGetRect, 0, 0, &rect);
    if (rect) vstDispatch(instance->effect, kVst2EditorDraw, 0, 0, rect);
}

}  // namespace

const EditorCalls kVstEditorCalls{parameterTexts, setParameter, selectProgram, openView,
                                  closeView,      idleView,     paintView,     nullptr};

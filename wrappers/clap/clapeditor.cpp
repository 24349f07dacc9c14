// What the editor frame asks of a CLAP plug-in: the generic editor's texts
// and values through the params extension, and the plug-in's own "win32"
// GUI, embedded in the frame's client, or floating beside it when the
// plug-in only floats. Main thread only.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "wrappers/clap/clapinstance.h"

namespace clap {

namespace {

Instance& instanceOf(EditorFrame& editor) { return *static_cast<Instance*>(editor.owner); }

bool plainValue(Instance& instance, const ParamInfo& info, double& plain) {
    if (instance.params->get_value(instance.plugin, info.id, &plain) && plain == plain) return true;
    plain = info.default_value;
    return false;
}

void parameterTexts(EditorFrame& editor, int32_t index, char name[kParameterTextMax + 1],
                    char display[kParameterTextMax + 1], char label[kParameterTextMax + 1]) {
    Instance& instance = instanceOf(editor);
    ParamInfo info;
    if (!clapParameterInfo(instance, index, info)) return;
    // (A CLAP parameter has no unit: its value text carries one. Its
    // `module` is a grouping path, not a label.)
    std::snprintf(name, kParameterTextMax + 1, "%s", info.name);
    label[0] = '\0';
    double plain = 0.0;
    plainValue(instance, info, plain);
    char text[128] = "";
    if (instance.params->value_to_text &&
        instance.params->value_to_text(instance.plugin, info.id, plain, text, sizeof text)) {
        text[sizeof text - 1] = '\0';
        std::snprintf(display, kParameterTextMax + 1, "%s", text);
    } else {
        std::snprintf(display, kParameterTextMax + 1, "%.3f", plain);
    }
}

void setParameter(EditorFrame& editor, int32_t index, float value) {
    Instance& instance = instanceOf(editor);
    ParamInfo info;
    if (!clapParameterInfo(instance, index, info) || (info.flags & kParamIsReadonly)) return;
    const double plain = clapPlain(info, value);
    instance.toAudio.push(ParamEvent{kEventParamGestureBegin, info.id, 0.0});
    instance.toAudio.push(ParamEvent{kEventParamValue, info.id, plain});
    instance.toAudio.push(ParamEvent{kEventParamGestureEnd, info.id, 0.0});
    clapFlush(instance);
}

void destroyGui(Instance& instance) {
    if (!instance.guiCreated) return;
    instance.guiCreated = false;
    instance.gui->destroy(instance.plugin);
}

// The GUI embedded when the plug-in can be, else floating; none leaves the
// generic editor.
int32_t openView(EditorFrame& editor, void* parent, EditorSize& size) {
    Instance& instance = instanceOf(editor);
    const PluginGui* gui = instance.gui;
    if (!gui || !gui->is_api_supported || !gui->create || !gui->destroy) return 0;
    Window window{};
    window.api = kWindowApiWin32;
    window.win32 = parent;
    if (gui->is_api_supported(instance.plugin, kWindowApiWin32, false) && gui->set_parent && gui->get_size &&
        gui->create(instance.plugin, kWindowApiWin32, false)) {
        instance.guiCreated = true;
        instance.guiFloating = false;
        uint32_t width = 0, height = 0;
        if (!gui->set_parent(instance.plugin, &window) || !gui->get_size(instance.plugin, &width, &height) ||
            !plausibleEditorSize(static_cast<int32_t>(width), static_cast<int32_t>(height))) {
            destroyGui(instance);
            return 0;
        }
        if (gui->show) gui->show(instance.plugin);
        size = {static_cast<int32_t>(width), static_cast<int32_t>(height)};
        editor.resizable = gui->can_resize && gui->can_resize(instance.plugin);
        return 1;
    }
    if (gui->is_api_supported(instance.plugin, kWindowApiWin32, true) &&
        gui->create(instance.plugin, kWindowApiWin32, true)) {
        // A window of its own: the frame stays as its handle, with the
        // generic editor, and closing it closes the plug-in's window.
        instance.guiCreated = true;
        instance.guiFloating = true;
        if (gui->set_transient) gui->set_transient(instance.plugin, &window);
        if (gui->suggest_title) gui->suggest_title(instance.plugin, instance.effect.name);
        if (gui->show) gui->show(instance.plugin);
    }
    return 0;
}

void closeView(EditorFrame& editor) { destroyGui(instanceOf(editor)); }

bool resizeView(EditorFrame& editor, EditorSize& size) {
    Instance& instance = instanceOf(editor);
    const PluginGui* gui = instance.gui;
    if (!instance.guiCreated || instance.guiFloating || !gui->set_size || size.width <= 0 || size.height <= 0)
        return false;
    uint32_t width = static_cast<uint32_t>(size.width), height = static_cast<uint32_t>(size.height);
    if (gui->adjust_size && !gui->adjust_size(instance.plugin, &width, &height)) return false;
    if (!plausibleEditorSize(static_cast<int32_t>(width), static_cast<int32_t>(height)) ||
        !gui->set_size(instance.plugin, width, height))
        return false;
    size = {static_cast<int32_t>(width), static_cast<int32_t>(height)};
    return true;
}

}  // namespace

const EditorCalls kClapEditorCalls{parameterTexts, setParameter, nullptr, openView,
                                   closeView,      nullptr,      nullptr, resizeView};

bool clapRefreshParameters(Instance& instance) {
    EditorFrame& editor = instance.editor;
    const int32_t count = clapParameterCount(instance);
    bool changed = false;
    if (count != editor.parameterCount || (count > 0 && !editor.parameters)) {
        float* cache = count > 0 ? static_cast<float*>(std::calloc(static_cast<size_t>(count), sizeof(float))) : nullptr;
        std::free(editor.parameters);
        editor.parameters = cache;
        editor.parameterCount = cache ? count : 0;
        changed = true;
    }
    for (int32_t i = 0; i < editor.parameterCount; ++i) {
        ParamInfo info;
        double plain = 0.0;
        const float value =
            clapParameterInfo(instance, i, info) ? (plainValue(instance, info, plain), static_cast<float>(clapNormalized(info, plain))) : 0.0f;
        if (value != editor.parameters[i]) {
            editor.parameters[i] = value;
            changed = true;
        }
    }
    return changed;
}

void clapFreeEditorParts(Instance& instance) {
    editorForget(instance.editor);
    // A floating window is not the frame's: it goes with the plug-in.
    destroyGui(instance);
    std::free(instance.editor.parameters);
    instance.editor.parameters = nullptr;
    instance.editor.parameterCount = 0;
}

}  // namespace clap

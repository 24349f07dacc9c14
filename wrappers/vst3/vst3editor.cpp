// What the editor frame asks of a VST 3 plug-in. The generic editor and
// the program menu go through the controller; values the user sets reach
// the processor through the instance's ring, as the view's own edits do.
// The view is the plug-in's "editor" view for HWND, sized by its frame and
// told of the user's resizing when it can follow. UI thread only.
#include "wrappers/vst3/vst3editor.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "wrappers/vst3/vst3instance.h"

namespace vst3 {

namespace {

Instance& instanceOf(EditorFrame& editor) { return *static_cast<Instance*>(editor.owner); }

bool infoAt(Instance& instance, int32_t index, ParameterInfo& info) {
    if (!instance.controller || index < 0 || index >= instance.editor.parameterCount) return false;
    std::memset(&info, 0, sizeof info);
    return instance.controller->getParameterInfo(index, info) == kResultOk;
}

void parameterTexts(EditorFrame& editor, int32_t index, char name[kParameterTextMax + 1],
                    char display[kParameterTextMax + 1], char label[kParameterTextMax + 1]) {
    Instance& instance = instanceOf(editor);
    ParameterInfo info;
    if (!infoAt(instance, index, info)) return;
    narrowName(info.title, 128, name, kParameterTextMax + 1);
    narrowName(info.units, 128, label, kParameterTextMax + 1);
    String128 text{};
    const ParamValue value = instance.controller->getParamNormalized(info.id);
    if (instance.controller->getParamStringByValue(info.id, value, text) == kResultOk)
        narrowName(text, 128, display, kParameterTextMax + 1);
    else
        std::snprintf(display, kParameterTextMax + 1, "%.3f", value);
}

void setParameter(EditorFrame& editor, int32_t index, float value) {
    Instance& instance = instanceOf(editor);
    ParameterInfo info;
    if (!infoAt(instance, index, info) || (info.flags & ParameterInfo::kIsReadOnly)) return;
    instance.controller->setParamNormalized(info.id, value);
    vst3SendToAudio(instance, info.id, value);
}

void selectProgram(EditorFrame& editor) {
    Instance& instance = instanceOf(editor);
    if (!instance.controller || instance.programCount <= 0) return;
    const double value = vst3ValueOfProgram(editor.currentProgram, instance.programCount);
    instance.controller->setParamNormalized(instance.programParameter, value);
    vst3SendToAudio(instance, instance.programParameter, value);
    vst3RefreshParameters(instance);
}

bool plausibleView(const ViewRect& rect) { return plausibleEditorSize(rect.right - rect.left, rect.bottom - rect.top); }

// The view, if the plug-in has one for this platform; none leaves the
// generic editor.
int32_t openView(EditorFrame& editor, void* parent, EditorSize& size) {
    Instance& instance = instanceOf(editor);
    if (!instance.controller) return 0;
    IPlugView* view = instance.controller->createView(kEditorViewType);
    if (!view) return 0;
    ViewRect rect{0, 0, 0, 0};
    if (view->isPlatformTypeSupported(kPlatformTypeHwnd) != kResultOk || view->getSize(&rect) != kResultOk ||
        !plausibleView(rect)) {
        view->release();
        return 0;
    }
    instance.view = view;
    view->setFrame(&instance.plugFrame);
    if (view->attached(parent, kPlatformTypeHwnd) != kResultOk) {
        // Never attached: only released.
        view->setFrame(nullptr);
        view->release();
        instance.view = nullptr;
        return 0;
    }
    // The view may have asked for another size while it was attached.
    if (view->getSize(&rect) == kResultOk && plausibleView(rect))
        size = {rect.right - rect.left, rect.bottom - rect.top};
    editor.resizable = view->canResize() == kResultOk;
    return 1;
}

// The view's end, exactly once: removed, no frame, released.
void closeView(EditorFrame& editor) {
    Instance& instance = instanceOf(editor);
    IPlugView* view = instance.view;
    if (!view) return;
    instance.view = nullptr;
    view->removed();
    view->setFrame(nullptr);
    view->release();
}

bool resizeView(EditorFrame& editor, EditorSize& size) {
    Instance& instance = instanceOf(editor);
    if (!instance.view) return false;
    ViewRect rect{0, 0, size.width, size.height};
    if (instance.view->checkSizeConstraint(&rect) != kResultOk || !plausibleView(rect)) return false;
    instance.view->onSize(&rect);
    size = {rect.right - rect.left, rect.bottom - rect.top};
    return true;
}

}  // namespace

const EditorCalls kVst3EditorCalls{parameterTexts, setParameter, selectProgram, openView,
                                   closeView,      nullptr,      nullptr,       resizeView};

tresult VST3_CALL Vst3PlugFrame::queryInterface(const uint8_t* iid, void** object) {
    static const Uid* const iids[] = {&kFUnknownIid, &kIPlugFrameIid};
    return answer(iid, object, iids, 2);
}

tresult VST3_CALL Vst3PlugFrame::resizeView(IPlugView* view, ViewRect* rect) {
    if (!rect || !view || view != owner_->view) return kInvalidArgument;
    const int32_t width = rect->right - rect->left, height = rect->bottom - rect->top;
    if (!plausibleEditorSize(width, height) || !editorSizeWindow(owner_->editor, width, height))
        return kResultFalse;
    ViewRect given{0, 0, width, height};
    view->onSize(&given);
    return kResultOk;
}

bool vst3RefreshParameters(Instance& instance) {
    EditorFrame& editor = instance.editor;
    int32_t count = instance.controller ? instance.controller->getParameterCount() : 0;
    if (count < 0 || count > kMaxEditorParameters) count = 0;
    bool changed = false;
    if (count != editor.parameterCount || (count > 0 && !editor.parameters)) {
        float* cache = count > 0 ? static_cast<float*>(std::calloc(static_cast<size_t>(count), sizeof(float))) : nullptr;
        std::free(editor.parameters);
        editor.parameters = cache;
        editor.parameterCount = cache ? count : 0;
        changed = true;
    }
    for (int32_t i = 0; i < editor.parameterCount; ++i) {
        ParameterInfo info{};
        const float value = instance.controller->getParameterInfo(i, info) == kResultOk
                                ? static_cast<float>(instance.controller->getParamNormalized(info.id))
                                : 0.0f;
        if (value != editor.parameters[i]) {
            editor.parameters[i] = value;
            changed = true;
        }
    }
    return changed;
}

int32_t vst3ProgramOfValue(double value, int32_t count) {
    if (count <= 1 || !(value > 0.0)) return 0;
    if (value >= 1.0) return count - 1;
    return static_cast<int32_t>(std::lround(value * (count - 1)));
}

double vst3ValueOfProgram(int32_t program, int32_t count) {
    if (count <= 1 || program <= 0) return 0.0;
    if (program >= count - 1) return 1.0;
    return static_cast<double>(program) / (count - 1);
}

void vst3BuildProgramMenu(Instance& instance) {
    EditorFrame& editor = instance.editor;
    std::free(editor.menu.items);
    editor.menu = ProgramMenu{};
    editor.programMenu = false;
    instance.programList = kNoProgramListId;
    instance.programCount = 0;
    if (!instance.controller) return;

    // The parameter that selects the root unit's programs.
    const int32_t parameters = instance.controller->getParameterCount();
    bool found = false;
    int32_t steps = 0;
    for (int32_t i = 0; i < parameters && i < kMaxEditorParameters && !found; ++i) {
        ParameterInfo info{};
        if (instance.controller->getParameterInfo(i, info) == kResultOk &&
            (info.flags & ParameterInfo::kIsProgramChange) && info.unitId == kRootUnitId) {
            instance.programParameter = info.id;
            steps = info.stepCount;
            found = true;
        }
    }
    void* object = nullptr;
    if (!found || instance.controller->queryInterface(kIUnitInfoIid.b, &object) != kResultOk || !object) return;
    auto* units = static_cast<IUnitInfo*>(object);
    ProgramListID list = kNoProgramListId;
    const int32_t unitCount = units->getUnitCount();
    for (int32_t u = 0; u < unitCount && u < 4096; ++u) {
        UnitInfo unit{};
        if (units->getUnitInfo(u, unit) == kResultOk && unit.id == kRootUnitId) {
            list = unit.programListId;
            break;
        }
    }
    int32_t programs = 0;
    const int32_t lists = units->getProgramListCount();
    for (int32_t l = 0; l < lists && l < 4096 && list != kNoProgramListId; ++l) {
        ProgramListInfo info{};
        if (units->getProgramListInfo(l, info) == kResultOk && info.id == list) {
            programs = programMenuLimit(info.programCount);
            break;
        }
    }
    if (programs > 0)
        editor.menu.items = static_cast<ProgramItem*>(std::calloc(static_cast<size_t>(programs), sizeof(ProgramItem)));
    if (editor.menu.items) {
        editor.menu.capacity = programs;
        char name[kProgramNameSize];
        for (int32_t k = 0; k < programs; ++k) {
            String128 text{};
            if (units->getProgramName(list, k, text) != kResultOk) continue;
            narrowName(text, 128, name, sizeof name);
            programMenuAdd(editor.menu, k, name, sizeof name);
        }
        instance.programList = list;
        // Values map onto the parameter's steps, which should be one fewer
        // than the programs; a continuous parameter spreads the list.
        instance.programCount = steps > 0 && steps < kProgramMenuMaxPrograms ? steps + 1 : programs;
        editor.programMenu = editor.menu.count > 0;
        // The title: the program the plug-in starts with.
        const int32_t current =
            vst3ProgramOfValue(instance.controller->getParamNormalized(instance.programParameter), instance.programCount);
        String128 text{};
        name[0] = '\0';
        if (units->getProgramName(list, current, text) == kResultOk) narrowName(text, 128, name, sizeof name);
        programMenuSetTitle(editor.menu, name, sizeof name);
        editor.currentProgram = current;
    }
    units->release();
}

void vst3FreeEditorParts(Instance& instance) {
    editorForget(instance.editor);
    std::free(instance.editor.parameters);
    instance.editor.parameters = nullptr;
    instance.editor.parameterCount = 0;
    std::free(instance.editor.menu.items);
    instance.editor.menu = ProgramMenu{};
    instance.editor.programMenu = false;
}

}  // namespace vst3

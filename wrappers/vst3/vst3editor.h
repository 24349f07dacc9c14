// The VST 3 wrapper's part of the editor frame: what the frame asks of a
// plug-in (its parameters through the controller, its program list, and
// its own view), the IPlugFrame a view asks for sizes through, and the
// menu and parameter cache the wrapper keeps for the frame. UI thread.
#pragma once

#include <cstdint>

#include "wrappers/common/editorframe.h"
#include "wrappers/vst3/vst3abi.h"
#include "wrappers/vst3/vst3host.h"

namespace vst3 {

struct Instance;

// The view's frame: a view asks for a new size here. Lives in its
// instance, which outlives every view.
class Vst3PlugFrame final : public Owned<IPlugFrame> {
public:
    explicit Vst3PlugFrame(Instance* owner) : owner_(owner) {}
    tresult VST3_CALL queryInterface(const uint8_t* iid, void** object) override;
    tresult VST3_CALL resizeView(IPlugView* view, ViewRect* rect) override;

private:
    Instance* owner_;
};

// The frame's classes and pictures in the VST 3 wrapper's module.
constexpr EditorClasses kVst3EditorClasses{"VST3_Wrapper_Editor", "VST3_Default_Editor", 106, 107};

// What the frame asks of an instance (its `owner` is the Instance).
extern const EditorCalls kVst3EditorCalls;

// The parameter cache read anew from the controller, sized to its count
// (a count beyond kMaxEditorParameters or none leaves the cache empty).
// True when a value or the count changed.
bool vst3RefreshParameters(Instance& instance);
constexpr int32_t kMaxEditorParameters = 1 << 16;

// The program menu from the controller's unit information: the root unit's
// program list, selected through the parameter marked as the program
// change. Without both the frame shows no menu.
void vst3BuildProgramMenu(Instance& instance);

// The program a program-change value selects among `count`, and back.
int32_t vst3ProgramOfValue(double value, int32_t count);
double vst3ValueOfProgram(int32_t program, int32_t count);

// The cache and the menu freed (the frame closed first).
void vst3FreeEditorParts(Instance& instance);

}  // namespace vst3

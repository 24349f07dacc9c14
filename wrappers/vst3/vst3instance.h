// One hosted VST 3 plug-in: the record behind an instance handle (the
// handle is its address), shared by the wrapper (vst3wrapper.cpp) and the
// editor frame's calls (vst3editor.cpp).
#pragma once

#include <atomic>
#include <cstdint>

#include "wrappers/common/editorframe.h"
#include "wrappers/vst3/vst3abi.h"
#include "wrappers/vst3/vst3editor.h"
#include "wrappers/vst3/vst3host.h"
#include "wrappers/vst3/vst3module.h"

namespace vst3 {

// The component handler of one instance: edits from the plug-in's editor
// go to the audio thread; restarts are served on the UI thread.
// Owned by its instance, which outlives every plug-in reference.
class Handler final : public Owned<IComponentHandler> {
public:
    explicit Handler(Instance* owner) : owner_(owner) {}
    tresult VST3_CALL queryInterface(const uint8_t* iid, void** object) override {
        static const Uid* const iids[] = {&kFUnknownIid, &kIComponentHandlerIid};
        return answer(iid, object, iids, 2);
    }
    tresult VST3_CALL beginEdit(ParamID) override { return kResultOk; }
    tresult VST3_CALL performEdit(ParamID id, ParamValue value) override;
    tresult VST3_CALL endEdit(ParamID) override { return kResultOk; }
    tresult VST3_CALL restartComponent(int32_t flags) override;

private:
    Instance* owner_;
};

struct Instance {
    explicit Instance() : handler(this) { editorFrameInit(editor, &kVst3EditorCalls, this); }

    Module* module = nullptr;
    char path[kPathSize] = "";
    EffectClass effect{};
    IComponent* component = nullptr;
    IAudioProcessor* processor = nullptr;
    IEditController* controller = nullptr;
    bool separateController = false;
    IConnectionPoint* componentPoint = nullptr;
    IConnectionPoint* controllerPoint = nullptr;
    Handler handler;
    bool active = false;
    bool processing = false;
    // The arrangement in use: 1 or 2 channels each way.
    int32_t inputChannels = 2, outputChannels = 2;
    int32_t inputBuses = 0, outputBuses = 0;
    std::atomic<int32_t> latency{0};
    std::atomic<uint8_t> bypassed{0};
    // The audio thread's side of the handshake around changes: `ready` says
    // the plug-in is set up and processing, `busy` that a block is inside it.
    std::atomic<bool> ready{false};
    std::atomic<bool> busy{false};
    ParamRing toAudio;              // UI -> audio: values the user set
    ParamRing fromAudio;            // audio -> UI: values the plug-in reports
    ParamChanges inputChanges, outputChanges;
    ProcessContext context{};
    float* inputs[2] = {nullptr, nullptr};
    float* outputs[2] = {nullptr, nullptr};
    AudioBusBuffers inputBus{}, outputBus{};
    ProcessData data{};
    // The editor frame (its parameter cache and program menu are kept
    // here) and the plug-in's own view while it is open.
    EditorFrame editor;
    vst3::IPlugView* view = nullptr;
    Vst3PlugFrame plugFrame{this};
    // The program list the menu offers, and the parameter that selects it.
    vst3::ProgramListID programList = vst3::kNoProgramListId;
    vst3::ParamID programParameter = 0;
    int32_t programCount = 0;
    uint8_t* userData = nullptr;
    uint32_t userSize = 0;
    Instance* next = nullptr;
};

// A value for the processor (UI thread). While no block takes the values,
// a full ring is delivered to the plug-in first, so a long drag keeps its end.
bool vst3SendToAudio(Instance& instance, ParamID id, ParamValue value);

}  // namespace vst3

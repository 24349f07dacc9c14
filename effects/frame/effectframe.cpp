// The effect frame's command dispatch and audio entry.
#include "effects/frame/effectframe.h"

#include "effects/frame/controls.h"

#include <cstdlib>
#include <cstring>

namespace {

uint32_t sampleRate = 0;
uint32_t blockSize = 0;
int currentPreset = 0;
// The chunk returned by the last PQ_GET_STATE; the module owns it until the
// next PQ_GET_STATE or PQ_CLOSE.
uint8_t* chunk = nullptr;
// The wrapper's way to its host for the editor's requests (UI thread).
EffectEditorRequestFn editorRequests = nullptr;
intptr_t editorRequestContext = 0;

size_t tagLength() { return std::strlen(kEffect.tag); }

// A preset number from the host: negative means the current preset; -1 when
// it is out of range.
int presetIndex(intptr_t requested) {
    if (requested < 0) return currentPreset;
    if (requested >= kEffect.presetCount) return -1;
    return static_cast<int>(requested);
}

intptr_t getState(intptr_t out) {
    std::free(chunk);
    chunk = static_cast<uint8_t*>(std::malloc(kEffect.chunkSize));
    if (!chunk || !out) return 0;
    const size_t tag = tagLength();
    std::memcpy(chunk, kEffect.tag, tag);
    kEffect.writeChunk(chunk + tag);
    *reinterpret_cast<uint8_t**>(out) = chunk;
    return kEffect.chunkSize;
}

intptr_t setState(intptr_t data, intptr_t size) {
    const size_t tag = tagLength();
    if (!data || size != static_cast<intptr_t>(kEffect.chunkSize)) return 0;
    const uint8_t* bytes = reinterpret_cast<const uint8_t*>(data);
    if (std::memcmp(bytes, kEffect.tag, tag) != 0) return 0;
    kEffect.readChunk(bytes + tag);
    effectRefreshEditor();
    return 1;
}

// A parameter is a control of the editor: setting it stores exactly what
// moving that trackbar stores, through the same setParam, so the audio
// thread sees it as it sees an edit in the dialog.
intptr_t getParameter(intptr_t out, intptr_t index) {
    auto* p = reinterpret_cast<EffectParameter*>(out);
    int effectIndex = 0;
    const TrackbarControl* c =
        kEffect.editor ? controlParam(*kEffect.editor, static_cast<int>(index), &effectIndex) : nullptr;
    if (!c || !p) return 0;
    const double value = kEffect.getParam(effectIndex);
    p->value = controlNormalised(*c, value);
    controlParamName(*kEffect.editor, static_cast<int>(index), p->name, sizeof p->name);
    controlParamDisplay(*c, value, p->display, sizeof p->display);
    return 1;
}

intptr_t setParameter(intptr_t value, intptr_t index) {
    int effectIndex = 0;
    const TrackbarControl* c =
        kEffect.editor ? controlParam(*kEffect.editor, static_cast<int>(index), &effectIndex) : nullptr;
    if (!c || !value) return 0;
    kEffect.setParam(effectIndex, controlValue(*c, *reinterpret_cast<const double*>(value)));
    effectRefreshEditor();
    return 1;
}

}  // namespace

uint32_t effectSampleRate() { return sampleRate; }

intptr_t effectEditorRequest(intptr_t request, int index) {
    return editorRequests && index >= 0 ? editorRequests(editorRequestContext, request, index) : 0;
}
bool effectEditorRequestsHeard() { return editorRequests != nullptr; }

double effectLimitParam(int index, double value) {
    return kEffect.editor ? limitToRange(value, paramRange(*kEffect.editor, index)) : value;
}
uint32_t effectBlockSize() { return blockSize; }
int effectCurrentPreset() { return currentPreset; }

float* effectAllocLine(uint32_t length) {
    return length ? static_cast<float*>(std::calloc(length, sizeof(float))) : nullptr;
}

void effectFreeLine(float*& line) {
    std::free(line);
    line = nullptr;
}

EFFECT_EXPORT intptr_t EFFECT_CALL pluginQuery(intptr_t opcode, intptr_t p, intptr_t q) {
    switch (opcode) {
        case PQ_RESUME:
            return 1;
        case PQ_SUSPEND:
            kEffect.clearSignal();
            return 1;
        case PQ_OPEN:
            kEffect.open();
            currentPreset = 0;
            kEffect.loadPreset(0);
            return 1;
        case PQ_OPEN_EDITOR:
            return effectOpenEditor(reinterpret_cast<int32_t*>(p), q);
        case PQ_SET_SAMPLE_RATE:
            sampleRate = static_cast<uint32_t>(q);
            kEffect.setSampleRate(sampleRate);
            effectRefreshEditor();
            return 1;
        case PQ_SET_BLOCK_SIZE:
            blockSize = static_cast<uint32_t>(q);
            return 1;
        case PQ_GET_STATE:
            return getState(p);
        case PQ_SET_STATE:
            return setState(p, q);
        case PQ_GET_PRESET_NAME: {
            int index = presetIndex(q);
            if (index < 0 || !p) return 0;
            std::strcpy(reinterpret_cast<char*>(p), kEffect.presetName(index));
            return 1;
        }
        case PQ_SELECT_PRESET: {
            int index = presetIndex(q);
            if (index < 0) return 0;
            kEffect.loadPreset(index);
            currentPreset = index;
            effectRefreshEditor();
            return 1;
        }
        case PQ_CLOSE:
            std::free(chunk);
            chunk = nullptr;
            editorRequests = nullptr;  // its instance goes with the module
            editorRequestContext = 0;
            kEffect.close();
            return 1;
        case PQ_SET_TEMPO:
            if (!kEffect.setTempo || !p) return 0;
            kEffect.setTempo(*reinterpret_cast<const float*>(p));
            return 1;
        case PQ_GET_PARAM_COUNT:
            return kEffect.editor ? controlParamCount(*kEffect.editor) : 0;
        case PQ_GET_PARAM:
            return getParameter(p, q);
        case PQ_SET_PARAM:
            return setParameter(p, q);
        case PQ_SET_EDITOR_REQUESTS:
            editorRequests = reinterpret_cast<EffectEditorRequestFn>(p);
            editorRequestContext = q;
            return 1;
        default:
            return 0;
    }
}

EFFECT_EXPORT void EFFECT_CALL processPlugin(float* left, float* right, intptr_t) {
    if (!left || blockSize == 0 || sampleRate == 0) return;
    kEffect.process(left, right, blockSize);
}

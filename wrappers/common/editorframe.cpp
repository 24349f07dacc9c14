// The editor frame's platform-free part: menu items, layout, hit-tests,
// drag arithmetic, frame size. UI thread only, like the windows using it.
#include "wrappers/common/editorframe.h"

#include <cstring>

int32_t programMenuLimit(int32_t programs) {
    if (programs <= 0) return 0;
    return programs < kProgramMenuMaxPrograms ? programs : kProgramMenuMaxPrograms;
}

void programNameFrom(const char* answer, size_t size, char out[kProgramNameSize]) {
    size_t n = 0;
    if (answer)
        while (n < size && n < kProgramNameSize - 1 && answer[n]) ++n;
    if (n) std::memcpy(out, answer, n);
    out[n] = '\0';
}

void programMenuSetTitle(ProgramMenu& menu, const char* answer, size_t size) {
    programNameFrom(answer, size, menu.title);
    if (!menu.title[0]) std::memcpy(menu.title, "Default", sizeof "Default");
}

bool programMenuAdd(ProgramMenu& menu, int32_t k, const char* answer, size_t size) {
    if (k < 0 || k >= kProgramMenuMaxPrograms || !menu.items || menu.count >= menu.capacity) return false;
    char name[kProgramNameSize];
    programNameFrom(answer, size, name);
    if (!name[0]) return false;
    for (int32_t j = 0; j < menu.count; ++j)
        if (std::strcmp(menu.items[j].name, name) == 0) return false;
    ProgramItem& item = menu.items[menu.count++];
    item.program = k;
    std::memcpy(item.name, name, kProgramNameSize);
    return true;
}

void programMenuText(const char* name, char* out, size_t size) {
    if (!size) return;
    size_t o = 0;
    for (size_t i = 0; name && name[i] && i < kProgramNameSize - 1; ++i) {
        const size_t need = name[i] == '&' ? 2 : 1;
        if (o + need >= size) break;
        out[o++] = name[i];
        if (need == 2) out[o++] = '&';
    }
    out[o] = '\0';
}

ProgramChoice programMenuCommand(const ProgramMenu& menu, int32_t command) {
    if (command == kProgramCurrentCommand) return {ProgramChoice::Current, 0};
    for (int32_t j = 0; j < menu.count && menu.items; ++j)
        if (kProgramFirstCommand + menu.items[j].program == command)
            return {ProgramChoice::Program, menu.items[j].program};
    return {ProgramChoice::None, 0};
}

EditorSize genericEditorSize(int32_t parameters) {
    // Beyond what a window can be, the rows are cut off rather than the
    // height wrapping.
    const int32_t rows = parameters < 0 ? 0 : parameters > 1900 ? 1900 : parameters;
    return {360, rows * kRowHeight + 70};
}

bool plausibleEditorSize(int32_t width, int32_t height) {
    return width > 0 && height > 0 && width <= kEditorMaxSide && height <= kEditorMaxSide;
}

int32_t parameterRowTop(int32_t row) { return kRowTop + kRowHeight * row; }

int32_t parameterRowsShown(int32_t parameters, int32_t height) {
    if (parameters <= 0 || height <= kRowTop) return 0;
    const int32_t rows = (height - kRowTop + kRowHeight - 1) / kRowHeight;
    return rows < parameters ? rows : parameters;
}

bool programButtonHit(int32_t x, int32_t y) { return x >= 0 && y >= 0 && x <= kProgramStripWidth && y <= 22; }

int32_t parameterBarHit(int32_t x, int32_t y, int32_t parameters) {
    if (x <= kBarLeft || x >= kHitRight || y <= kRowTop) return -1;
    const int32_t offset = y - kRowTop;
    if (offset % kRowHeight == 0) return -1;  // the line between two rows
    const int32_t row = offset / kRowHeight;
    return row < parameters ? row : -1;
}

int32_t parameterBarFillRight(float value) {
    if (!(value >= 0.0f)) value = 0.0f;  // NaN too
    if (value > 1.0f) value = 1.0f;
    return kBarLeft + 1 + static_cast<int32_t>(value * static_cast<float>(kBarSpan));
}

float parameterDragValue(float value, int32_t dx) {
    float next = value + static_cast<float>(dx) * 0.01f;
    if (!(next >= 0.0f)) next = 0.0f;
    if (next > 1.0f) next = 1.0f;
    return next;
}

bool parameterDragBegin(ParameterDrag& drag, const void* window, int32_t x, int32_t y, int32_t parameters,
                        int32_t screenX, int32_t screenY) {
    const int32_t row = parameterBarHit(x, y, parameters);
    if (!window || row < 0) return false;
    drag = {window, row, x, screenX, screenY};
    return true;
}

bool parameterDragMove(ParameterDrag& drag, const void* window, int32_t x, const float* cache, int32_t parameters,
                       int32_t& row, float& value) {
    if (!window || drag.window != window) return false;
    if (!cache || drag.row < 0 || drag.row >= parameters) {
        drag.window = nullptr;
        return false;
    }
    const float before = cache[drag.row];
    const float after = parameterDragValue(before, x - drag.lastX);
    drag.lastX = x;
    if (after == before) return false;
    row = drag.row;
    value = after;
    return true;
}

bool parameterDragEnd(ParameterDrag& drag, const void* window) {
    if (!window || drag.window != window) return false;
    drag.window = nullptr;
    drag.row = -1;
    return true;
}

int32_t parameterMenuRow(int32_t x, int32_t y, int32_t parameters) {
    if (x < 5 || x >= kBarRight || y < kRowTop) return -1;
    const int32_t row = (y - kRowTop) / kRowHeight;
    return row < parameters ? row : -1;
}

intptr_t parameterMenuRequest(int32_t command) {
    if (command == kLearnCommand) return HC_LEARN_PARAMETER;
    if (command == kForgetCommand) return HC_FORGET_PARAMETER;
    return 0;
}

namespace {
HostCallbackFn editorHost = nullptr;
}  // namespace

void editorSetHost(HostCallbackFn host) { editorHost = host; }

intptr_t editorHostRequest(const EditorFrame& editor, intptr_t opcode, int32_t index) {
    if (!editorHost || !editor.owner || index < 0) return 0;
    return editorHost(opcode, reinterpret_cast<intptr_t>(editor.owner), index);
}

EditorSize editorFrameSize(const FrameInsets& insets, EditorSize client) {
    return {kProgramStripWidth + client.width + insets.left + insets.right, client.height + insets.top + insets.bottom};
}

EditorSize editorSizeInFrame(int32_t width, int32_t height) {
    const int32_t w = width - kProgramStripWidth;
    return {w > 0 ? w : 1, height > 0 ? height : 1};
}

void editorFrameInit(EditorFrame& editor, const EditorCalls* calls, void* owner) {
    editor.frame = nullptr;
    editor.client = nullptr;
    editor.x = editor.y = kEditorDefaultPosition;
    editor.menu = ProgramMenu{};
    editor.programPopup = nullptr;
    editor.currentProgram = 0;
    editor.programMenu = true;
    editor.parameters = nullptr;
    editor.parameterCount = 0;
    editor.viewOpen = editor.resizable = editor.resizing = false;
    editor.calls = calls;
    editor.owner = owner;
}

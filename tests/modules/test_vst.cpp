// A VST 2 effect library for tests. Compile definitions choose the variant:
//   TVST_INPUTS, TVST_OUTPUTS   channel counts (default 2 and 2)
//   TVST_ACCUMULATE_ONLY        only the old accumulating process function
//   TVST_CHUNKS                 state as an opaque chunk
//   TVST_PROGRAMS               four programs ("Clean", "Warm", "Warm", "Bright")
//   TVST_SWITCHED_NAMES         programs named only through set-program + get-program-name
//   TVST_EDITOR                 has-editor flag and rectangle; on Windows its editor is a
//                               child window of the host's client. Tests switch at run time
//                               what editor-open answers, whether the child is made and
//                               which rectangle get-rect gives (testVstEditorBehaviour).
//   TVST_IDENTIFY=x             answer to the identify request (default "NvEf")
//   TVST_BAD_MAGIC              a wrong magic number
//   TVST_FAULTS                 misbehaves in processing as the environment variable
//                               QV_TVST_FAULT (or the file QV_TVST_FAULT_FILE names,
//                               read when an effect is made) says: "crash:N" writes through a bad pointer
//                               in block N + 1, "abort:N" aborts there, "hang:N" loops
//                               forever there, "overrun:N" writes past the end of its
//                               outputs from there on, "slow:MS" takes MS milliseconds per block;
//                               "open-crash", "open-hang", "editor-crash" and "save-crash"
//                               misbehave outside processing (see faultIs); "echo-edits"
//                               reports each value set as an edit
//   TVST_ENTRY_MAIN / TVST_ENTRY_CAPITAL_MAIN / TVST_ENTRY_PLUGIN_MAIN
//                               which entry points exist (none: no entry point)
//
// Output k is gain * (k + 1) times input min(k, inputs - 1), gain being four
// times parameter 0, so tests can tell every channel route apart. Tests
// load the same library file as the wrapper and read each effect's log of
// dispatcher calls through the exported test functions.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "wrappers/vst/vst2abi.h"

#if (defined(TVST_EDITOR) || defined(TVST_FAULTS)) && defined(_WIN32)
#include <windows.h>
#elif defined(TVST_FAULTS)
#include <time.h>
#endif

#ifndef TVST_INPUTS
#define TVST_INPUTS 2
#endif
#ifndef TVST_OUTPUTS
#define TVST_OUTPUTS 2
#endif
#ifndef TVST_IDENTIFY
#define TVST_IDENTIFY 0x4E764566
#endif

#if defined(_WIN32)
#define TVST_EXPORT extern "C" __declspec(dllexport)
#else
#define TVST_EXPORT extern "C" __attribute__((visibility("default")))
#endif

struct TestVstCall {
    int32_t opcode, index;
    intptr_t value;
    float opt;
};

namespace {

constexpr int kMaxCalls = 512;
constexpr int kMaxLive = 16;
constexpr int kParameters = 3;
#if defined(TVST_PROGRAMS) || defined(TVST_SWITCHED_NAMES)
constexpr int kPrograms = 4;
const char* const kProgramNames[kPrograms] = {"Clean", "Warm", "Warm", "Bright"};
#else
constexpr int kPrograms = 0;
const char* const kProgramNames[1] = {""};
#endif

struct TestEffect {
    Vst2Effect effect;  // first: the effect pointer is the record's
    Vst2HostCallback host;
    float parameters[kParameters];
    int32_t program;
    TestVstCall calls[kMaxCalls];
    int callCount;
    int replacingCalls, accumulatingCalls;
    double lastTempo;
    uint8_t chunk[12];
    int32_t chunkIndex;
    intptr_t chunkSize;
    // The editor: when idle calls came (ms), how often it was closed, its window.
    uint32_t idleTicks[64];
    int idleCount, editorCloses;
    void* editorChild;
    // The fault asked for when the effect was made (TVST_FAULTS).
    char fault[32];
};

TestEffect* live[kMaxLive];
int liveCount = 0;
// Shared by every effect of the library: parameter 1's name and display
// run to 199 characters, far past the nominal 8 bytes, as careless effects write.
int longTexts = 0;

TestEffect* of(Vst2Effect* effect) { return reinterpret_cast<TestEffect*>(effect); }

#if defined(TVST_FAULTS)
// Faults outside processing: "open-crash" and "open-hang" when the host
// opens the effect, "editor-crash" when an editor asks for a parameter's
// name or display, "save-crash" when the host reads a parameter after
// processing began (as it does to save the state).
bool faultIs(const TestEffect* t, const char* name) { return std::strcmp(t->fault, name) == 0; }
void crashNow() {
    volatile intptr_t bad = 16;
    *reinterpret_cast<volatile int*>(bad) = 1;
}
[[noreturn]] void hangNow() {
    for (volatile unsigned spin = 0;; spin = spin + 1u) {
    }
}
#endif

#if defined(TVST_EDITOR)
// Shared by every effect of the library; tests set it before showing an editor.
struct EditorBehaviour {
    intptr_t openAnswer;  // what editor-open answers
    int makeChild;        // whether editor-open makes its window
    int rect;             // get-rect: 0 300 x 120, 1 no rectangle, 2 absurd (0 wide)
};
EditorBehaviour editorBehaviour{1, 1, 0};

intptr_t openEditor(TestEffect* t, void* parent) {
#if defined(_WIN32)
    if (editorBehaviour.makeChild && parent)
        t->editorChild = CreateWindowExA(0, "STATIC", "Test VST editor", WS_CHILD | WS_VISIBLE | SS_CENTER, 0, 0, 300,
                                         120, static_cast<HWND>(parent), nullptr, nullptr, nullptr);
#else
    (void)t;
    (void)parent;
#endif
    return editorBehaviour.openAnswer;
}

void closeEditor(TestEffect* t) {
    ++t->editorCloses;
#if defined(_WIN32)
    if (t->editorChild && IsWindow(static_cast<HWND>(t->editorChild))) DestroyWindow(static_cast<HWND>(t->editorChild));
#endif
    t->editorChild = nullptr;
}

void editorIdle(TestEffect* t) {
#if defined(_WIN32)
    if (t->idleCount < 64) t->idleTicks[t->idleCount] = GetTickCount();
#endif
    ++t->idleCount;
}
#endif

void setProgram(TestEffect* t, int32_t k) {
    t->program = k;
    t->parameters[0] = 0.25f + 0.125f * static_cast<float>(k);
}

void copyText(void* out, const char* text) {
    if (out) std::strcpy(static_cast<char*>(out), text);
}

intptr_t VST2_CALL dispatcher(Vst2Effect* effect, int32_t opcode, int32_t index, intptr_t value, void* ptr,
                              float opt) {
    TestEffect* t = of(effect);
    if (t->callCount < kMaxCalls) t->calls[t->callCount++] = {opcode, index, value, opt};
#if defined(TVST_FAULTS)
    if (opcode == kVst2Open && faultIs(t, "open-crash")) crashNow();
    if (opcode == kVst2Open && faultIs(t, "open-hang")) hangNow();
    if ((opcode == kVst2GetParamDisplay || opcode == kVst2GetParamName) && faultIs(t, "editor-crash")) crashNow();
#endif
    switch (opcode) {
        case kVst2Close:
            for (int i = 0; i < liveCount; ++i)
                if (live[i] == t) live[i] = live[--liveCount];
            std::free(t);
            return 1;
        case kVst2SetProgram:
            if (value >= 0 && value < kPrograms) setProgram(t, static_cast<int32_t>(value));
            return 0;
        case kVst2GetProgram:
            return t->program;
        case kVst2GetProgramName:
            copyText(ptr, kPrograms ? kProgramNames[t->program] : "");
            return 0;
        case kVst2GetParamName: {
            static const char* const names[kParameters] = {"Gain", "Tone", "Mix"};
            if (longTexts && index == 1 && ptr) {
                std::memset(ptr, 'N', 199);
                static_cast<char*>(ptr)[199] = '\0';
                return 0;
            }
            copyText(ptr, index >= 0 && index < kParameters ? names[index] : "");
            return 0;
        }
        case kVst2GetParamDisplay: {
            char text[16] = "";
            if (index >= 0 && index < kParameters)
                std::snprintf(text, sizeof text, "%d", static_cast<int>(t->parameters[index] * 100.0f + 0.5f));
            if (longTexts && index == 1 && ptr) {
                std::memset(ptr, 'D', 199);
                static_cast<char*>(ptr)[199] = '\0';
                return 0;
            }
            copyText(ptr, text);
            return 0;
        }
        case kVst2GetParamLabel:
            copyText(ptr, index >= 0 && index < kParameters ? "%" : "");
            return 0;
        case kVst2GetProgramNameIndexed:
#if defined(TVST_PROGRAMS)
            if (index < 0 || index >= kPrograms) return 0;
            copyText(ptr, kProgramNames[index]);
            return 1;
#else
            return 0;
#endif
#if defined(TVST_EDITOR)
        case kVst2EditorGetRect: {
            static Vst2Rect rect{0, 0, 120, 300};
            static Vst2Rect absurd{10, 10, 200, 10};
            if (ptr)
                *static_cast<Vst2Rect**>(ptr) =
                    editorBehaviour.rect == 0 ? &rect : editorBehaviour.rect == 2 ? &absurd : nullptr;
            return editorBehaviour.rect == 1 ? 0 : 1;
        }
        case kVst2EditorOpen:
            return openEditor(t, ptr);
        case kVst2EditorClose:
            closeEditor(t);
            return 1;
        case kVst2EditorIdle:
            editorIdle(t);
            return 1;
#endif
        case kVst2Identify:
            return static_cast<intptr_t>(TVST_IDENTIFY);
        case kVst2GetChunk: {
            std::memcpy(t->chunk, "TVCH", 4);
            std::memcpy(t->chunk + 4, &t->parameters[0], 4);
            std::memcpy(t->chunk + 8, &t->program, 4);
            if (ptr) *static_cast<void**>(ptr) = t->chunk;
            t->chunkIndex = index;
            return sizeof t->chunk;
        }
        case kVst2SetChunk:
            t->chunkIndex = index;
            t->chunkSize = value;
            if (value == 12 && ptr && std::memcmp(ptr, "TVCH", 4) == 0) {
                std::memcpy(&t->parameters[0], static_cast<uint8_t*>(ptr) + 4, 4);
                std::memcpy(&t->program, static_cast<uint8_t*>(ptr) + 8, 4);
            }
            return 1;
        default:
            return 0;
    }
}

void run(Vst2Effect* effect, float** inputs, float** outputs, int32_t frames, bool accumulate) {
    TestEffect* t = of(effect);
    // Asks for the time on every block, as tempo-synced effects do.
    auto* time = reinterpret_cast<Vst2TimeInfo*>(t->host(effect, kVst2HostGetTime, 0, 0, nullptr, 0.0f));
    t->lastTempo = time ? time->tempo : -1.0;
    const float gain = 4.0f * t->parameters[0];
    for (int k = 0; k < TVST_OUTPUTS; ++k) {
        const float* in = inputs[k < TVST_INPUTS ? k : TVST_INPUTS - 1];
        const float scale = gain * static_cast<float>(k + 1);
        for (int32_t i = 0; i < frames; ++i)
            outputs[k][i] = (accumulate ? outputs[k][i] : 0.0f) + scale * in[i];
    }
}

#if defined(TVST_FAULTS)
// The fault an effect takes when it is made: the first line of the file
// QV_TVST_FAULT_FILE names (so that a test can change it for the next
// effect while the host runs), else QV_TVST_FAULT.
void readFault(char* fault, size_t size) {
    fault[0] = '\0';
    if (const char* file = std::getenv("QV_TVST_FAULT_FILE")) {
        if (FILE* f = std::fopen(file, "r")) {
            if (!std::fgets(fault, static_cast<int>(size), f)) fault[0] = '\0';
            std::fclose(f);
        }
        fault[std::strcspn(fault, "\r\n")] = '\0';
    } else if (const char* named = std::getenv("QV_TVST_FAULT")) {
        std::snprintf(fault, size, "%s", named);
    }
}

// What the effect's fault asks of the block with this number (from 1).
void misbehave(const char* fault, int block) {
    if (!fault[0]) return;
    if (std::strncmp(fault, "crash:", 6) == 0 && block > std::atoi(fault + 6)) crashNow();
    if (std::strncmp(fault, "abort:", 6) == 0 && block > std::atoi(fault + 6)) std::abort();
    if (std::strncmp(fault, "hang:", 5) == 0 && block > std::atoi(fault + 5)) hangNow();
    if (std::strncmp(fault, "slow:", 5) == 0) {
        const int ms = std::atoi(fault + 5);
#if defined(_WIN32)
        Sleep(static_cast<DWORD>(ms));
#else
        const timespec pause{ms / 1000, (ms % 1000) * 1000000L};
        nanosleep(&pause, nullptr);
#endif
    }
}
#endif

[[maybe_unused]] void VST2_CALL processReplacing(Vst2Effect* effect, float** inputs, float** outputs, int32_t frames) {
    ++of(effect)->replacingCalls;
#if defined(TVST_FAULTS)
    const char* fault = of(effect)->fault;
    misbehave(fault, of(effect)->replacingCalls);
    // "overrun:N": from block N + 1 on, writes a page's worth past the end of its inputs (the
    // host's buffers, which the wrapper hands on as they are).
    if (std::strncmp(fault, "overrun:", 8) == 0 && of(effect)->replacingCalls > std::atoi(fault + 8))
        for (int32_t i = frames; i < frames + 4096; ++i) inputs[1][i] = 0.5f;
#endif
    run(effect, inputs, outputs, frames, false);
}

void VST2_CALL processAccumulating(Vst2Effect* effect, float** inputs, float** outputs, int32_t frames) {
    ++of(effect)->accumulatingCalls;
    run(effect, inputs, outputs, frames, true);
}

void VST2_CALL setParameter(Vst2Effect* effect, int32_t index, float value) {
    if (index >= 0 && index < kParameters) of(effect)->parameters[index] = value;
#if defined(TVST_FAULTS)
    // Some effects report every value the host sets as an edit of their own.
    if (faultIs(of(effect), "echo-edits")) of(effect)->host(effect, kVst2HostAutomate, index, 0, nullptr, value);
#endif
}

float VST2_CALL getParameter(Vst2Effect* effect, int32_t index) {
#if defined(TVST_FAULTS)
    if (faultIs(of(effect), "save-crash") && of(effect)->replacingCalls > 0) crashNow();
#endif
    return index >= 0 && index < kParameters ? of(effect)->parameters[index] : 0.0f;
}

intptr_t entryVersion = -1;

[[maybe_unused]] Vst2Effect* create(Vst2HostCallback host) {
    // Plug-ins ask for the host's version before they have an effect.
    entryVersion = host(nullptr, kVst2HostVersion, 0, 0, nullptr, 0.0f);
#if defined(TVST_BAD_MAGIC)
    // A host cannot close an object it refused, so it is not allocated.
    static TestEffect refused;
    refused = TestEffect{};
    TestEffect* t = &refused;
#else
    if (liveCount == kMaxLive) return nullptr;
    auto* t = static_cast<TestEffect*>(std::calloc(1, sizeof(TestEffect)));
    if (!t) return nullptr;
#endif
    t->host = host;
#if defined(TVST_FAULTS)
    readFault(t->fault, sizeof t->fault);
#endif
    Vst2Effect& e = t->effect;
#if defined(TVST_BAD_MAGIC)
    e.magic = 0x12345678;
#else
    e.magic = kVst2Magic;
#endif
    e.dispatcher = dispatcher;
    e.process = processAccumulating;
#if !defined(TVST_ACCUMULATE_ONLY)
    e.processReplacing = processReplacing;
    e.flags |= kVst2FlagCanReplace;
#endif
#if defined(TVST_CHUNKS)
    e.flags |= kVst2FlagProgramChunks;
#endif
#if defined(TVST_EDITOR)
    e.flags |= kVst2FlagHasEditor;
#endif
    e.setParameter = setParameter;
    e.getParameter = getParameter;
    e.numPrograms = kPrograms;
    e.numParams = kParameters;
    e.numInputs = TVST_INPUTS;
    e.numOutputs = TVST_OUTPUTS;
    e.uniqueID = 0x54565354;
    e.version = 1;
    t->parameters[1] = 0.5f;
    t->parameters[2] = 0.75f;
    setProgram(t, 0);
#if !defined(TVST_BAD_MAGIC)
    live[liveCount++] = t;
#endif
    return &e;
}

}  // namespace

#if defined(TVST_ENTRY_MAIN)
// "main" cannot be declared as such in C++; the assembler name gives the
// export its old name.
TVST_EXPORT Vst2Effect* VST2_CALL entryMain(Vst2HostCallback host) __asm__("main");
TVST_EXPORT Vst2Effect* VST2_CALL entryMain(Vst2HostCallback host) { return create(host); }
#endif
#if defined(TVST_ENTRY_CAPITAL_MAIN)
TVST_EXPORT Vst2Effect* VST2_CALL Main(Vst2HostCallback host) { return create(host); }
#endif
#if defined(TVST_ENTRY_PLUGIN_MAIN)
TVST_EXPORT Vst2Effect* VST2_CALL VSTPluginMain(Vst2HostCallback host) { return create(host); }
#endif

// ---- what tests read ----

TVST_EXPORT int testVstLiveCount() { return liveCount; }
TVST_EXPORT void testVstLongTexts(int on) { longTexts = on; }
TVST_EXPORT Vst2Effect* testVstLive(int i) { return i >= 0 && i < liveCount ? &live[i]->effect : nullptr; }
TVST_EXPORT const TestVstCall* testVstCalls(Vst2Effect* effect, int* count) {
    *count = of(effect)->callCount;
    return of(effect)->calls;
}
// The host callback the effect was created with.
TVST_EXPORT Vst2HostCallback testVstHost(Vst2Effect* effect) { return of(effect)->host; }
TVST_EXPORT intptr_t testVstEntryVersion() { return entryVersion; }
TVST_EXPORT void testVstCounts(Vst2Effect* effect, int* replacing, int* accumulating, double* tempo) {
    *replacing = of(effect)->replacingCalls;
    *accumulating = of(effect)->accumulatingCalls;
    *tempo = of(effect)->lastTempo;
}
TVST_EXPORT void testVstChunkCall(Vst2Effect* effect, int32_t* index, intptr_t* size) {
    *index = of(effect)->chunkIndex;
    *size = of(effect)->chunkSize;
}

#if defined(TVST_EDITOR)
TVST_EXPORT void testVstEditorBehaviour(intptr_t openAnswer, int makeChild, int rect) {
    editorBehaviour = {openAnswer, makeChild, rect};
}
TVST_EXPORT void testVstEditorStats(Vst2Effect* effect, int* idles, int* closes, const uint32_t** idleTicks,
                                    void** child) {
    *idles = of(effect)->idleCount;
    *closes = of(effect)->editorCloses;
    *idleTicks = of(effect)->idleTicks;
    *child = of(effect)->editorChild;
}
#endif

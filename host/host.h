// The host side of plug-in hosting: the wrapper table, loading and
// unloading wrapper modules, the host's thin operations over each wrapper
// command, the host callback, and the chain operations.
//
// Threads: everything here runs on the UI thread, except wrapperRefreshList
// and wrapperAvailableCount, which the scan runs on its own thread while the
// UI waits. The engine's audio thread only reads the chain and the wrappers'
// processPlugin entries.
#pragma once

#include <cstdint>

#include "engine/engine.h"
#include "host/bridge.h"
#include "host/wrapperprotocol.h"
#include "platform/platform.h"

// Result codes of this layer (message ids; negative = notice).
constexpr int32_t kResultNoWrappersDirectory = 214;
constexpr int32_t kResultTooManyWrappers = -215;
constexpr int32_t kResultCannotLoadWrapper = 216;
constexpr int32_t kResultNoDispatcher = 217;
constexpr int32_t kResultNoProcessFunction = 227;
constexpr int32_t kResultWrapperInitFailed = 228;
constexpr int32_t kResultShowEditorFailed = 224;
constexpr int32_t kResultDetachFailed = 225;
constexpr int32_t kResultAttachFailed = 226;

constexpr int kPathBuffer = 1024;

struct Host {
    // The engine whose chain and wrapper entries this host fills.
    EngineState* engine = &gEngine;
    PlatformModule modules[kMaxWrappers] = {};
    // Application directory, ending with the path separator.
    char applicationDirectory[kPathBuffer] = "";
    // Name buffers: one for wrapper names, one shared by plug-in and instance
    // names; a returned name stays valid until the next query of its kind.
    char wrapperName[kWrapperNameBuffer] = "";
    char pluginName[kWrapperNameBuffer] = "";
    // The chain window's repaint and the scan dialog's progress line (null:
    // no window). `scanProgress` returns false once the user aborted.
    void (*repaintChain)() = nullptr;
    bool (*scanProgress)(const char* text) = nullptr;
    // Each wrapper's file name in Wrappers, for helpers that load it.
    char moduleFiles[kMaxWrappers][kWrapperNameBuffer] = {};
    // Plug-ins in helper processes: the records chain slots point at. Room
    // for two chains: a song switch prepares the next one beside the current.
    BridgeInstance* separate[2 * kChainSlots] = {};
    // The engine's last configuration, for helpers started later.
    int channels = 2;
    uint32_t rate = 44100;
    uint32_t blockSize = 512;
    // The audio deadline of every helper; 0: a fraction of the block's period.
    uint32_t separateDeadlineUs = 0;
    // "Run All Plug-ins in Separate Processes".
    bool allSeparate = false;
    // A plug-in's editor reports (UI thread; null: nobody listens, and the
    // wrapper hears 0): the user moved parameter `index` of `instance`, of
    // wrapper `w`, or asked to learn or forget a MIDI control for it.
    void (*parameterChanged)(int w, intptr_t instance, int32_t index) = nullptr;
    void (*learnParameter)(int w, intptr_t instance, int32_t index) = nullptr;
    void (*forgetParameter)(int w, intptr_t instance, int32_t index) = nullptr;
};

// The program's host. Tests reset it with hostReset.
extern Host gHost;

// Clears the host (the wrapper table must be empty) and binds it to `engine`
// and the application directory.
void hostReset(EngineState& engine, const char* applicationDirectory);

// The host callback handed to every wrapper.
intptr_t WRAPPER_CALL hostCallback(intptr_t opcode, intptr_t a1, intptr_t a2);

// Loads every wrapper module of Wrappers in directory order. Returns 0,
// kResultNoWrappersDirectory, or kResultTooManyWrappers (both for the caller
// to report); failures of single files are reported here and skipped.
int32_t wrappersLoadAll();
// Loads one file of Wrappers; 0, or kResultTooManyWrappers when the table is full.
int32_t wrapperLoad(const char* fileName);
// Closes and unloads every wrapper, the last loaded first.
void wrappersUnloadAll();

// The host's operations over the wrapper commands. Each checks that `w`
// names a loaded wrapper first. Results: a count or -1, a name or null, a
// handle or 0, otherwise 0 for success and -1 for failure.
int wrapperCount();
const char* wrapperName(int w);
int wrapperAvailableCount(int w);
const char* wrapperAvailableName(int w, int index);
intptr_t wrapperCreateInstance(int w, int index);
int wrapperInstanceCount(int w);
const char* wrapperInstanceName(int w, intptr_t handle);
int wrapperDestroyInstance(int w, intptr_t handle);
int wrapperSetSampleRate(int w, uint32_t rate);
int wrapperSetBlockSize(int w, uint32_t frames);
int wrapperSetInstanceActive(int w, intptr_t handle, bool active);
int wrapperSetProcessing(int w, bool on);
int wrapperRefreshList(int w);
int wrapperDestroyAll(int w);
int wrapperShowEditor(int w, intptr_t handle, void* mdiClient);
void wrapperProcessSlot(int w, intptr_t handle, float* left, float* right);
int wrapperLoadState(int w, const uint8_t* blob, uint32_t size);
// The wrapper's blob (owned by it) and its size, or null (size untouched).
const uint8_t* wrapperSaveState(int w, uint32_t& size);
int wrapperReplaceInstance(int w, intptr_t handle, int index);
// 1 active, 0 bypassed, -1 no such instance.
int wrapperInstanceActive(int w, intptr_t handle);
int wrapperCloseEditor(int w, intptr_t handle);
int wrapperGetInstance(int w, int index, intptr_t& handle);
int wrapperIsInstance(int w, intptr_t handle);
int wrapperSetUserData(int w, intptr_t handle, const uint8_t* data, uint32_t size);
// The instance's user data (owned by the wrapper) and its size, or null.
const uint8_t* wrapperGetUserData(int w, intptr_t handle, uint32_t& size);
// Sends a copy of the tempo limited to 50 ... 250 beats per minute.
int wrapperSetTempo(int w, float bpm);
// The frames the instance delays its output by; 0 from a wrapper that
// does not say.
int32_t wrapperLatency(int w, intptr_t handle);
// An instance's parameters (normalised 0 ... 1), in the program or, for a
// chain slot's plug-in in a helper, there (a bounded wait, as every helper
// command). The count is 0 from a wrapper that does not say and -1 when
// `w` is not loaded or the helper failed; the others return 0 or -1.
// wrapperGetParameter fills `p` for `p.index`.
int wrapperParameterCount(int w, intptr_t handle);
int wrapperGetParameter(int w, intptr_t handle, WrapperParameter& p);
int wrapperSetParameter(int w, intptr_t handle, int32_t index, double value);
// The chain's plug-ins' delays added up, in frames.
int32_t chainLatency();
// Every wrapper's idle call (UI thread, while live input runs).
void wrappersIdle();

// Chain operations on slot `slot` (limited to 0 ... 7). Each reports its own
// failures and returns the code it reported (0 when none).
int32_t chainAttach(int slot, int w, int index);
int32_t chainDetach(int slot);
void chainMoveUp(int slot);
void chainMoveDown(int slot);
void chainToggleBypass(int slot);
int32_t chainShowEditor(int slot, void* mdiClient);

// Plug-ins in helper processes (QvPluginHost beside the program, and
// QvPluginHost32 with the 32-bit wrappers in Wrappers32 for plug-ins listed
// with kSuffix32Bit). Attaches the listed plug-in `index` of wrapper `w` to
// `slot`, running in a helper of its own; reports and returns
// kResultAttachFailed when the helper does not start or does not create it.
// chainAttach comes here for a 32-bit plug-in.
int32_t chainAttachSeparate(int slot, int w, int index);
// Moves the slot's plug-in, with its state, into a helper of its own, or
// back into the program ("Run in Separate Process"); reports and returns
// kResultAttachFailed when that fails (the plug-in stays where it was).
int32_t chainMoveOutside(int slot);
int32_t chainMoveInside(int slot);
// Starts a new helper for the slot's plug-in with its last known state
// ("Reload Plug-in"); the old helper, failed or not, is ended.
int32_t chainReload(int slot);
// The plug-in's state with `slotByte` as its user data, kept as its last
// known state; false when the helper does not give it.
constexpr uint8_t kSlotByteNone = 0x7F;
bool separateSaveState(BridgeInstance& b, uint8_t slotByte);
// The slot byte of a plug-in in a helper in `slot`.
uint8_t separateSlotByte(int slot, const BridgeInstance& b);
// A helper for wrapper `w` with the one instance of `blob`; `slotByte` is
// the user data it was saved with (kSlotByteNone when not one byte).
BridgeInstance* separateFromState(int w, const uint8_t* blob, uint32_t size, uint8_t& slotByte, bool bits32);
// Whether plug-ins of wrapper `w` can run in helpers: all but the built-in
// effects, whose wrapper's state replaces all of its instances when loaded
// (a file's chunk for one of them in a helper would end the others).
bool wrapperCanRunOutside(int w);
// Whether plug-ins of wrapper `w` entering the chain run in helpers: those
// that can, when allSeparate is set.
bool wrapperRunsOutside(int w);
// A helper that runs a copy of wrapper `w`'s instance `handle` (its state,
// its bypass), which stays as it is; null when none starts. The instance's
// user data is replaced by a mark.
BridgeInstance* separateFromInstance(int w, intptr_t handle);
// With allSeparate, moves every plug-in that should run outside there.
void chainMoveAllOutside();
// The slot's helper record, or null when the slot's plug-in runs inside.
BridgeInstance* chainSeparate(int slot);
// Whether the slot's helper has failed (it then passes its input).
bool chainSlotFailed(int slot);
// Tells `tell` once about every helper that failed since the last call and
// ends its process; the slot stays, passing its input. UI thread. Returns
// how many were told now.
using SeparateFailureFn = void (*)(int slot, const char* plugin, int32_t why, uint64_t frame);
int chainCheckSeparate(SeparateFailureFn tell);
// Hands what the editors of plug-ins in helpers reported (a parameter
// moved, "Learn MIDI Control", "Forget MIDI Control") to the Host's hooks,
// as the wrappers' callbacks do for plug-ins inside. UI thread.
void chainTakeSeparateReports();
// The failure message for a slot's plug-in.
void separateFailureText(char* out, size_t size, int slot, const char* plugin, int32_t why);

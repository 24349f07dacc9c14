// Performance files: the accompaniment in use and every wrapper's instances
// with their plug-in states and chain positions, and the change detection
// behind "Performance was changed. Do you want to save it?".
//
// UI thread only; live input is stopped before a performance is read.
#pragma once

#include <cstdint>

#include "host/host.h"

constexpr int32_t kResultCannotCreate = 203;      // "Can't create file. Disk error"
constexpr int32_t kResultCannotOpen = 204;        // "Can't create file. Disk error"
constexpr int32_t kResultNotPerformance = 205;    // "File is damaged"
constexpr int32_t kResultDamaged = 206;           // "File is damaged or disk error"
constexpr int32_t kResultWriteFailed = 209;       // "Disk error occured while saving file"
constexpr int32_t kResultNoAccompTag = 259;       // "File is damaged"
constexpr int32_t kResultWrapperRejected = 234;   // "Wrapper error while loading performance"
constexpr int32_t kResultNoInstance = 235;
constexpr int32_t kResultNoUserData = 236;

constexpr int kPathMax = 260;

// The slot byte kept as each instance's user data: bits 0-6 the chain slot,
// bit 7 set when the instance is active. An instance in no slot is saved as
// 0x7F, which reading leaves out of the chain.
constexpr uint8_t kSlotNone = 0x7F;
constexpr uint8_t kSlotActive = 0x80;

constexpr size_t kBindingsChunkMax = 1024;

struct Performance {
    char currentPath[kPathMax + 1] = "";
    // The accompaniment is the player's; the performance reaches it through
    // these (null: no player, nothing opens and the path stays empty).
    const char* (*accompanimentPath)() = nullptr;    // "" when none is open
    bool (*openAccompaniment)(const char* path) = nullptr;
    void (*closeAccompaniment)() = nullptr;
    // Called after the current path changed (the main window's title).
    void (*pathChanged)() = nullptr;

    // The state right after the last save, open or new.
    intptr_t snapshotSlots[kChainSlots] = {};
    char snapshotAccompaniment[kPathMax + 1] = "";
    uint8_t* snapshotBlob[kMaxWrappers] = {};
    uint32_t snapshotSize[kMaxWrappers] = {};
    // The states of the plug-ins in helper processes, by slot.
    uint8_t* snapshotSeparate[kChainSlots] = {};
    uint32_t snapshotSeparateSize[kChainSlots] = {};

    // The program's own chunk after the wrappers' (the MIDI bindings):
    // `bindings` writes its bytes into `out` and returns how many (0: none),
    // `takeBindings` gets them from a file and returns false when it refused
    // them (it reports why), `clearBindings` empties them before a file is
    // read and at New. Null: the performance has none.
    size_t (*bindings)(uint8_t* out, size_t size) = nullptr;
    bool (*takeBindings)(const uint8_t* blob, uint32_t size) = nullptr;
    void (*clearBindings)() = nullptr;
    uint8_t snapshotBindings[kBindingsChunkMax] = {};
    uint32_t snapshotBindingsSize = 0;
};

// The chunk that tells which wrapper chunks hold a plug-in that runs in a
// helper process. Its name is no wrapper's, so a release that does not know
// it skips it, and loads those chunks' plug-ins inside, into their slots.
constexpr const char* kHostChunkName = "Quorvane Live Host";
// The chunk of the MIDI bindings, written after every wrapper's: a release
// that does not know it skips it like the chunk of a wrapper it lacks.
constexpr const char* kBindingsChunkName = "Quorvane Live MIDI";

extern Performance gPerformance;

// Writes the current performance to `path`: 0, kResultCannotCreate or
// kResultWriteFailed. On success the path becomes current and the snapshot is taken.
int32_t performanceWrite(const char* path);
// Reads `path` into the (cleared) chain: 0, kResultCannotOpen,
// kResultNotPerformance, kResultDamaged or kResultNoAccompTag. Errors of
// single wrappers are reported on the way and do not end the read.
int32_t performanceRead(const char* path);
// The reader behind performanceRead and the song switch: every check of the
// file is its own; what becomes of the file's contents is the target's.
struct PerformanceHelperEntry {
    uint8_t slotByte = kSlotNone;  // the plug-in's slot and bypass
    bool bits32 = false;           // in the 32-bit helper
};
struct PerformanceReadTarget {
    void* context = nullptr;
    // The file names an accompaniment: called before its path is read, and
    // with the path once it was read whole. Either may be null.
    void (*accompanimentFollows)(void* context) = nullptr;
    void (*accompaniment)(void* context, const char* path) = nullptr;
    // A chunk of loaded wrapper `w` (chunks of wrappers not loaded are
    // skipped); `helper` non-null when the file's host chunk says its one
    // plug-in ran in a helper process. A non-zero result ends the read with it.
    int32_t (*chunk)(void* context, int w, const uint8_t* blob, uint32_t size,
                     const PerformanceHelperEntry* helper) = nullptr;
    // The MIDI bindings' chunk, as it stands in the file. May be null.
    void (*bindings)(void* context, const uint8_t* blob, uint32_t size) = nullptr;
};
// performanceRead's results; the chain, the accompaniment and the current
// path are the target's business.
int32_t performanceReadWith(const char* path, const PerformanceReadTarget& target);
// Sets the current path and tells the main window.
void performanceSetCurrentPath(const char* path);
// Whether anything differs from the snapshot.
bool performanceChanged();
void performanceTakeSnapshot();
void performanceFreeSnapshot();

// ---- the file commands ----

// Answers of the save question.
constexpr int kAnswerYes = 6;
constexpr int kAnswerNo = 7;
constexpr int kAnswerCancel = 2;

// What the commands need from the shell: live input, the question box
// ("Performance was changed. Do you want to save it?", Yes/No/Cancel or
// Yes/No), the file dialogs (the buffer holds the initial file name and
// receives the choice; false when cancelled) and the Master Section's
// refresh. Null entries are skipped (no live input, no question: No, no
// dialog: cancelled).
struct PerformanceShell {
    bool (*liveInputRunning)() = nullptr;
    int32_t (*stopLiveInput)() = nullptr;
    int32_t (*startLiveInput)() = nullptr;
    int (*askSave)(bool withCancel) = nullptr;
    bool (*chooseOpenPath)(char* path, size_t size) = nullptr;
    bool (*chooseSavePath)(char* path, size_t size) = nullptr;
    void (*refreshMasterSection)() = nullptr;
    char lastOpenPath[kPathMax + 1] = "";
    char lastSavePath[kPathMax + 1] = "";
};

extern PerformanceShell gPerformanceShell;

// "&New Performance", "&Open Performance", "&Save Performance", "Save
// Performance &As..." and the question when the program closes. Each
// reports its own results.
void performanceNew();
void performanceOpen();
void performanceSave();
void performanceSaveAs();
void performanceClosing();
// A set list's song: opened as Open Performance opens a file, without the
// dialog and without the question (on stage nothing waits for an answer).
// Live input stops while the chain is rebuilt. Returns the read's result.
int32_t performanceOpenPath(const char* path);

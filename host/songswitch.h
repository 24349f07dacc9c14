// Switching songs of a set list while live input plays: the next
// performance file is read into a pending chain beside the current one,
// the engine takes it at a block boundary, the old chain rings out as the
// engine's tail chain and is released once that is over.
//
//   idle --prepare--> prepared --commit--> switching --(block takes it)-->
//   tail --(tail over: old instances released, snapshot)--> idle
//   prepared --cancel--> idle          prepared --prepare--> prepared (another song)
//
// Preparing (or committing) while a switch or its tail is under way is
// refused with kResultSwitchBusy: the tail ends kSwitchTailSeconds after
// the switch, and the caller either waits for songSwitchPoll to report
// idle or falls back to the stop-and-open. Any other failure of
// songSwitchPrepare leaves nothing behind, and the caller falls back to the
// stop-and-open (performanceOpen's path).
//
// UI thread only. Between songSwitchCommit and the state leaving
// kSwitchSwitching (at most one block) the engine owns `chain`; a chain
// edit goes through engineChainPause as always, which then applies the
// switch first. Don't save the performance during the tail: the old
// instances are still in their wrappers.
#pragma once

#include <cstdint>

#include "host/performance.h"

enum SongSwitchState : int32_t {
    kSwitchIdle = 0,
    kSwitchPrepared = 1,   // a pending chain is ready; the current one plays
    kSwitchSwitching = 2,  // handed to the engine, not taken yet
    kSwitchTail = 3,       // the new chain plays, the old one rings out
};

// Answers for the caller's logic, not messages: never give them to
// ReportResult. A switch or its tail is still under way:
constexpr int32_t kResultSwitchBusy = -1;
// songSwitchCommit without a prepared song:
constexpr int32_t kResultNothingPrepared = -2;

struct SongSwitch {
    SongSwitchState state = kSwitchIdle;
    ChainSlot pending[kChainSlots] = {};
    char path[kPathMax + 1] = "";
    char accompaniment[kPathMax + 1] = "";  // the prepared song's, "" for none
    // The prepared song's MIDI bindings as its file holds them; they replace
    // the current ones at the commit (bindingsSize 0: it has none).
    uint8_t bindings[kBindingsChunkMax] = {};
    uint32_t bindingsSize = 0;
    // Figures of the last switch: the block count at the request and the
    // block that took it (equal when it was the very next block).
    uint64_t requestBlock = 0;
    uint64_t swapBlock = 0;
};

extern SongSwitch gSongSwitch;

// Reads `path` into a pending chain; the current chain, the accompaniment
// and the current path stay as they are. Each wrapper chunk goes through
// WD_ADD_STATE; plug-ins that ran in helpers start in new helpers. Returns
// 0 (state prepared), kResultSwitchBusy, performanceRead's codes for a file
// it refuses, or kResultWrapperRejected when a wrapper answers 0 to
// WD_ADD_STATE (one that does not know it, or a malformed blob): on any of
// these every instance it created is gone again. Instances the file puts in
// no slot are destroyed at once. A plug-in that ran in a helper and cannot
// start in one loads inside, as performanceRead does. A song prepared
// before and not committed is cancelled first.
int32_t songSwitchPrepare(const char* path);
// The prepared song's accompaniment ("" for none). Not opened here: the
// caller opens (or closes) it right after songSwitchCommit, so that the
// snapshot taken at the end describes it.
const char* songSwitchAccompaniment();
// Hands the pending chain to the engine with the kSwitchTailSeconds tail.
// Without blocks running (`liveInputRunning` false) it applies the switch
// itself and the old chain is released at once (state idle on return).
// Returns 0, kResultNothingPrepared or kResultSwitchBusy.
int32_t songSwitchCommit(bool liveInputRunning);
// The UI timer's step: notices the switch and the tail's end; once the tail
// is over it destroys the old chain's instances (and every other instance
// left from the old song), sets the current path and takes the snapshot.
// With live input stopped meanwhile, it finishes the switch at once.
// Returns true when this call finished a switch (the title and the chain
// pane want a refresh).
bool songSwitchPoll(bool liveInputRunning);
// Back to idle at once, before any stop-and-open, New or close: a prepared
// song is destroyed; a switch under way is finished now (the tail is cut,
// under the pause handshake) and its old chain released, so that nothing
// of it outlives a clear of the wrappers.
void songSwitchCancel();
SongSwitchState songSwitchState();

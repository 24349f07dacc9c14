// The song switch: preparation beside the current chain, the engine's swap,
// the release of the old chain after its tail.
#include "host/songswitch.h"

#include <cstdio>
#include <cstring>

SongSwitch gSongSwitch;

namespace {

EngineState& engine() { return *gHost.engine; }

int slotWrapper(const ChainSlot& s) { return static_cast<int>(static_cast<uint32_t>(s.wrapperIndex) & 0xFF); }

// Destroys every instance of `chain` (in helpers too) and empties it.
void destroyChain(ChainSlot* chain) {
    for (int s = 0; s < kChainSlots; ++s) {
        if (chain[s].instance) wrapperDestroyInstance(slotWrapper(chain[s]), chain[s].instance);
        chain[s] = ChainSlot{};
    }
}

struct Preparation {
    ChainSlot chain[kChainSlots] = {};
    char accompaniment[kPathMax + 1] = "";
};

// Puts a new instance into the pending chain where its slot byte says, or
// destroys it when it belongs in no slot (or loses its slot to a later one).
void place(Preparation& p, uint8_t slotByte, const ChainSlot& instance) {
    const int w = slotWrapper(instance);
    const int slot = slotByte & 0x7F;
    if (slot >= kChainSlots) {
        wrapperDestroyInstance(w, instance.instance);
        return;
    }
    ChainSlot& target = p.chain[slot];
    if (target.instance) wrapperDestroyInstance(slotWrapper(target), target.instance);
    target = instance;
    wrapperSetInstanceActive(w, instance.instance, (slotByte & kSlotActive) != 0);
}

int32_t addChunk(void* context, int w, const uint8_t* blob, uint32_t size, const PerformanceHelperEntry* helper) {
    Preparation& p = *static_cast<Preparation*>(context);
    if (helper) {
        uint8_t saved = 0;
        if (BridgeInstance* b = separateFromState(w, blob, size, saved, helper->bits32)) {
            place(p, helper->slotByte, ChainSlot{reinterpret_cast<intptr_t>(b), w, true});
            return 0;
        }
    }
    // Only the instances after those the wrapper had are this song's.
    const int before = wrapperInstanceCount(w);
    WrapperDispatcherFn dispatch = engine().wrappers[w].dispatcher;
    if (before < 0 || !dispatch ||
        dispatch(WD_ADD_STATE, reinterpret_cast<intptr_t>(blob), static_cast<intptr_t>(size)) == 0)
        return kResultWrapperRejected;
    const int after = wrapperInstanceCount(w);
    for (int i = before; i < after; ++i) {
        intptr_t handle = 0;
        if (wrapperGetInstance(w, i, handle) != 0 || handle == 0) continue;
        uint32_t userSize = 0;
        const uint8_t* data = wrapperGetUserData(w, handle, userSize);
        place(p, data && userSize == 1 ? data[0] : kSlotNone, ChainSlot{handle, w});
    }
    // "Run All Plug-ins in Separate Processes" holds for the next song too;
    // a plug-in whose helper does not start plays inside.
    for (ChainSlot& slot : p.chain) {
        if (!slot.instance || slot.separate || slotWrapper(slot) != w || !wrapperRunsOutside(w)) continue;
        if (BridgeInstance* b = separateFromInstance(w, slot.instance)) {
            wrapperDestroyInstance(w, slot.instance);
            slot = ChainSlot{reinterpret_cast<intptr_t>(b), w, true};
        }
    }
    return 0;
}

void keepAccompaniment(void* context, const char* path) {
    Preparation& p = *static_cast<Preparation*>(context);
    std::snprintf(p.accompaniment, sizeof p.accompaniment, "%s", path);
}

bool inChain(const EngineState& e, intptr_t handle) {
    for (const ChainSlot& s : e.chain)
        if (s.instance == handle) return true;
    return false;
}

// After the tail: the old chain goes, and with it every instance the old
// song left in its wrappers outside the chain; then the new song is the
// performance.
void finishSwitch(ChainSlot* old) {
    SongSwitch& s = gSongSwitch;
    destroyChain(old);
    for (int w = 0; w < wrapperCount(); ++w) {
        intptr_t stale[64];
        int count = 0;
        const int n = wrapperInstanceCount(w);
        for (int i = 0; i < n && count < 64; ++i) {
            intptr_t handle = 0;
            if (wrapperGetInstance(w, i, handle) == 0 && handle && !inChain(engine(), handle)) stale[count++] = handle;
        }
        for (int i = 0; i < count; ++i) wrapperDestroyInstance(w, stale[i]);
    }
    s.state = kSwitchIdle;
    performanceSetCurrentPath(s.path);
    performanceTakeSnapshot();
}

}  // namespace

int32_t songSwitchPrepare(const char* path) {
    SongSwitch& s = gSongSwitch;
    if (s.state == kSwitchSwitching || s.state == kSwitchTail) return kResultSwitchBusy;
    if (s.state == kSwitchPrepared) songSwitchCancel();
    Preparation p;
    PerformanceReadTarget target;
    target.context = &p;
    target.accompaniment = keepAccompaniment;
    target.chunk = addChunk;
    s.bindingsSize = 0;
    target.bindings = [](void*, const uint8_t* blob, uint32_t size) {
        SongSwitch& song = gSongSwitch;
        // Larger than any table of bindings: taken as damaged at the commit.
        song.bindingsSize = size <= sizeof song.bindings ? size : 1;
        std::memcpy(song.bindings, blob, size <= sizeof song.bindings ? size : 1);
    };
    const int32_t result = performanceReadWith(path, target);
    if (result != 0) {
        destroyChain(p.chain);
        return result;
    }
    for (int slot = 0; slot < kChainSlots; ++slot) s.pending[slot] = p.chain[slot];
    std::snprintf(s.path, sizeof s.path, "%s", path);
    std::snprintf(s.accompaniment, sizeof s.accompaniment, "%s", p.accompaniment);
    s.state = kSwitchPrepared;
    return 0;
}

const char* songSwitchAccompaniment() { return gSongSwitch.accompaniment; }

int32_t songSwitchCommit(bool liveInputRunning) {
    SongSwitch& s = gSongSwitch;
    if (s.state == kSwitchIdle) return kResultNothingPrepared;
    if (s.state != kSwitchPrepared) return kResultSwitchBusy;
    EngineState& e = engine();
    const uint32_t rate = e.lastConfiguredRate > 0 ? static_cast<uint32_t>(e.lastConfiguredRate) : gHost.rate;
    s.requestBlock = e.blockCount.load();
    if (engineChainSwapRequest(e, s.pending, engineTailFrames(rate)) != 0) return kResultSwitchBusy;
    for (ChainSlot& slot : s.pending) slot = ChainSlot{};
    s.state = kSwitchSwitching;
    // The new chain's bindings from the block it plays in.
    if (gPerformance.clearBindings) gPerformance.clearBindings();
    if (s.bindingsSize && gPerformance.takeBindings) gPerformance.takeBindings(s.bindings, s.bindingsSize);
    s.bindingsSize = 0;
    if (!liveInputRunning) songSwitchPoll(false);
    return 0;
}

bool songSwitchPoll(bool liveInputRunning) {
    SongSwitch& s = gSongSwitch;
    if (s.state != kSwitchSwitching && s.state != kSwitchTail) return false;
    EngineState& e = engine();
    // No block will come to take the switch or play the tail.
    if (!liveInputRunning) engineChainSwapSettle(e);
    if (s.state == kSwitchSwitching) {
        if (!engineChainSwapDone(e)) return false;
        s.swapBlock = e.swapBlock.load();
        s.state = kSwitchTail;
    }
    ChainSlot old[kChainSlots];
    if (!engineChainTailTake(e, old)) return false;
    finishSwitch(old);
    return true;
}

void songSwitchCancel() {
    SongSwitch& s = gSongSwitch;
    if (s.state == kSwitchPrepared) {
        destroyChain(s.pending);
        s.state = kSwitchIdle;
    } else if (s.state != kSwitchIdle) {
        songSwitchPoll(false);
    }
}

SongSwitchState songSwitchState() { return gSongSwitch.state; }

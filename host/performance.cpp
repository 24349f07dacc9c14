// The performance file writer and reader, and the change snapshot.
//
// File: "PERF", float 121.0, "ACCOMP", u16 L, L bytes of path (NUL
// included), then per wrapper "WRAPPER", u16 N, N bytes of name (NUL
// included), "STATE", i32 S, S bytes of the wrapper's state blob.
#include "host/performance.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "app/report.h"
#include "common/bytes.h"

Performance gPerformance;

namespace {

const char* accompanimentPath() {
    const char* path = gPerformance.accompanimentPath ? gPerformance.accompanimentPath() : nullptr;
    return path ? path : "";
}

void closeAccompaniment() {
    if (gPerformance.closeAccompaniment) gPerformance.closeAccompaniment();
}

void setCurrentPath(const char* path) {
    std::snprintf(gPerformance.currentPath, sizeof gPerformance.currentPath, "%s", path);
    if (gPerformance.pathChanged) gPerformance.pathChanged();
}

// Every write must write all of its bytes; the first failure sticks.
struct Writer {
    FILE* file;
    bool ok = true;
    void bytes(const void* data, size_t size) {
        if (ok && size && std::fwrite(data, 1, size, file) != size) ok = false;
    }
    void u16(uint16_t v) {
        uint8_t b[2];
        putU16(b, v);
        bytes(b, 2);
    }
    void u32(uint32_t v) {
        uint8_t b[4];
        putU32(b, v);
        bytes(b, 4);
    }
};

// Gives every instance of wrapper `w` its slot byte.
void refreshSlotBytes(int w) {
    const EngineState& e = *gHost.engine;
    const int n = wrapperInstanceCount(w);
    for (int i = 0; i < n; ++i) {
        intptr_t handle = 0;
        if (wrapperGetInstance(w, i, handle) != 0 || handle == 0) continue;
        uint8_t slotByte = kSlotNone;
        for (int s = 0; s < kChainSlots; ++s) {
            if (e.chain[s].instance == handle) {
                const int owner = static_cast<int>(static_cast<uint32_t>(e.chain[s].wrapperIndex) & 0xFF);
                slotByte = static_cast<uint8_t>(s | (wrapperInstanceActive(owner, handle) > 0 ? kSlotActive : 0));
                break;
            }
        }
        wrapperSetUserData(w, handle, &slotByte, 1);
    }
}

// Reads exactly `size` bytes, checked against what the file has left.
struct Reader {
    FILE* file;
    long remaining;
    bool exact(void* data, size_t size) {
        if (static_cast<long>(size) > remaining) return false;
        if (size && std::fread(data, 1, size, file) != size) return false;
        remaining -= static_cast<long>(size);
        return true;
    }
    bool u16(uint16_t& v) {
        uint8_t b[2];
        if (!exact(b, 2)) return false;
        v = getU16(b);
        return true;
    }
    bool i32(int32_t& v) {
        uint8_t b[4];
        if (!exact(b, 4)) return false;
        v = static_cast<int32_t>(getU32(b));
        return true;
    }
};

long fileSize(FILE* file) {
    if (std::fseek(file, 0, SEEK_END) != 0) return -1;
    long size = std::ftell(file);
    if (std::fseek(file, 0, SEEK_SET) != 0) return -1;
    return size;
}

int findWrapper(const char* name) {
    for (int w = 0; w < wrapperCount(); ++w) {
        const char* loaded = wrapperName(w);
        if (loaded && std::strcmp(loaded, name) == 0) return w;
    }
    return -1;
}

// Puts every instance of wrapper `w` back into the slot its user data names.
void restoreSlots(int w) {
    const int n = wrapperInstanceCount(w);
    for (int i = 0; i < n; ++i) {
        intptr_t handle = 0;
        if (wrapperGetInstance(w, i, handle) != 0) {
            ReportResult(kResultNoInstance);
            return;
        }
        uint32_t size = 0;
        const uint8_t* data = wrapperGetUserData(w, handle, size);
        if (!data || size == 0) {
            ReportResult(kResultNoUserData);
            return;
        }
        const int slot = data[0] & 0x7F;
        const bool active = (data[0] & kSlotActive) != 0;
        if (slot < kChainSlots && size == 1) {
            gHost.engine->chain[slot] = ChainSlot{handle, w};
            wrapperSetInstanceActive(w, handle, active);
        }
    }
}

// The host chunk's blob: "QVHOST", u16 version 1, u16 n, then n entries of
// u16 chunk number (counting every chunk of the file from 0), u8 slot byte
// and u8 flags (bit 0: runs in a helper process; bit 1: the 32-bit one).
constexpr char kHostTag[6] = {'Q', 'V', 'H', 'O', 'S', 'T'};
constexpr uint8_t kEntrySeparate = 1;
constexpr uint8_t kEntry32Bit = 2;  // in the 32-bit helper

struct SeparateEntry {
    uint16_t chunk;
    uint8_t slotByte;
    uint8_t flags;
    PerformanceHelperEntry helper() const { return {slotByte, (flags & kEntry32Bit) != 0}; }
};

struct SeparateTable {
    SeparateEntry entries[kChainSlots];
    int count = 0;
    const SeparateEntry* find(int chunk) const {
        for (int i = 0; i < count; ++i)
            if (entries[i].chunk == chunk && (entries[i].flags & kEntrySeparate)) return &entries[i];
        return nullptr;
    }
};

// A table that does not parse is ignored as a whole: the chunks load inside.
void parseHostChunk(const uint8_t* blob, uint32_t size, SeparateTable& table) {
    table.count = 0;
    if (size < 10 || std::memcmp(blob, kHostTag, 6) != 0 || getU16(blob + 6) != 1) return;
    const uint32_t n = getU16(blob + 8);
    if (n > kChainSlots || size < 10 + 4 * n) return;
    for (uint32_t i = 0; i < n; ++i) {
        const uint8_t* e = blob + 10 + 4 * i;
        table.entries[i] = SeparateEntry{getU16(e), e[2], e[3]};
    }
    table.count = static_cast<int>(n);
}

// A chunk of one plug-in that ran in a helper: started in one again and put
// into its slot; false when no helper takes it.
bool restoreSeparate(int w, const uint8_t* blob, uint32_t size, const PerformanceHelperEntry& entry) {
    uint8_t saved = 0;
    BridgeInstance* b = separateFromState(w, blob, size, saved, entry.bits32);
    if (!b) return false;
    const int slot = entry.slotByte & 0x7F;
    if (slot >= kChainSlots) {
        wrapperDestroyInstance(w, reinterpret_cast<intptr_t>(b));
        return true;
    }
    gHost.engine->chain[slot] = ChainSlot{reinterpret_cast<intptr_t>(b), w, true};
    wrapperSetInstanceActive(w, reinterpret_cast<intptr_t>(b), (entry.slotByte & kSlotActive) != 0);
    return true;
}

int32_t readChunks(Reader& in, const PerformanceReadTarget& target) {
    SeparateTable separate;
    for (int chunk = 0;; ++chunk) {
        char tag[7];
        if (in.remaining < 7) {
            // Fewer than seven bytes left: the end of the file.
            return std::ferror(in.file) ? kResultDamaged : 0;
        }
        if (!in.exact(tag, 7)) return kResultDamaged;
        if (std::memcmp(tag, "WRAPPER", 7) != 0) return kResultDamaged;
        uint16_t nameLength = 0;
        if (!in.u16(nameLength) || nameLength > kPathMax) return kResultDamaged;
        char name[kPathMax + 1] = {};
        if (!in.exact(name, nameLength)) return kResultDamaged;
        char stateTag[5];
        if (!in.exact(stateTag, 5)) return kResultDamaged;
        int32_t size = 0;
        if (!in.i32(size)) return kResultDamaged;
        if (size <= 0) continue;
        if (size > in.remaining) return kResultDamaged;
        auto* blob = static_cast<uint8_t*>(std::malloc(static_cast<size_t>(size)));
        if (!blob || !in.exact(blob, static_cast<size_t>(size))) {
            std::free(blob);
            return kResultDamaged;
        }
        if (std::strcmp(name, kHostChunkName) == 0) {
            parseHostChunk(blob, static_cast<uint32_t>(size), separate);
            std::free(blob);
            continue;
        }
        if (std::strcmp(name, kBindingsChunkName) == 0) {
            if (target.bindings) target.bindings(target.context, blob, static_cast<uint32_t>(size));
            std::free(blob);
            continue;
        }
        const int w = findWrapper(name);
        const SeparateEntry* entry = separate.find(chunk);
        int32_t result = 0;
        if (w >= 0 && target.chunk) {
            const PerformanceHelperEntry helper = entry ? entry->helper() : PerformanceHelperEntry{};
            result = target.chunk(target.context, w, blob, static_cast<uint32_t>(size), entry ? &helper : nullptr);
        }
        std::free(blob);
        if (result != 0) return result;
    }
}

int32_t readFile(FILE* file, const PerformanceReadTarget& target) {
    Reader in{file, fileSize(file)};
    if (in.remaining < 0) return kResultDamaged;
    char tag[6];
    if (!in.exact(tag, 4)) return kResultDamaged;
    if (std::memcmp(tag, "PERF", 4) != 0) return kResultNotPerformance;
    uint8_t version[4];
    if (!in.exact(version, 4)) return kResultDamaged;
    if (!in.exact(tag, 6)) return kResultDamaged;
    if (std::memcmp(tag, "ACCOMP", 6) != 0) return kResultNoAccompTag;
    uint16_t pathLength = 0;
    if (!in.u16(pathLength)) return kResultDamaged;
    if (pathLength != 0) {
        if (target.accompanimentFollows) target.accompanimentFollows(target.context);
        char path[kPathMax + 1] = {};
        if (pathLength > kPathMax || !in.exact(path, pathLength)) return kResultDamaged;
        if (target.accompaniment) target.accompaniment(target.context, path);
    }
    return readChunks(in, target);
}

// performanceRead's target: the current chain and the accompaniment player.
// Errors of single wrappers are reported and do not end the read.
int32_t loadChunk(void*, int w, const uint8_t* blob, uint32_t size, const PerformanceHelperEntry* helper) {
    if (helper && restoreSeparate(w, blob, size, *helper)) return 0;  // in its helper
    if (wrapperLoadState(w, blob, size) != 0)
        ReportResult(kResultWrapperRejected);
    else
        restoreSlots(w);
    return 0;
}

void openAccompaniment(void*, const char* path) {
    if (!gPerformance.openAccompaniment || !gPerformance.openAccompaniment(path)) closeAccompaniment();
}

void writeChunk(Writer& out, const char* name, const uint8_t* blob, uint32_t size) {
    out.bytes("WRAPPER", 7);
    const size_t n = std::strlen(name) + 1;
    out.u16(static_cast<uint16_t>(n));
    out.bytes(name, n);
    if (!blob) size = 0;
    out.bytes("STATE", 5);
    out.u32(size);
    if (size) out.bytes(blob, size);
}

}  // namespace

int32_t performanceWrite(const char* path) {
    FILE* file = std::fopen(path, "wb");
    if (!file) return kResultCannotCreate;
    Writer out{file};
    out.bytes("PERF", 4);
    out.bytes("\x00\x00\xF2\x42", 4);  // 121.0f
    out.bytes("ACCOMP", 6);
    const char* accompaniment = accompanimentPath();
    const size_t length = std::strlen(accompaniment);
    if (length == 0) {
        out.u16(0);
    } else {
        out.u16(static_cast<uint16_t>(length + 1));
        out.bytes(accompaniment, length + 1);
    }
    // Plug-ins in helper processes: each one's state is a chunk of its own
    // after its wrapper's, and the host chunk, first, says which chunks those are.
    uint8_t slotBytes[kChainSlots] = {};
    int separateCount = 0;
    for (int s = 0; s < kChainSlots; ++s) {
        BridgeInstance* b = chainSeparate(s);
        if (!b) continue;
        ++separateCount;
        slotBytes[s] = separateSlotByte(s, *b);
        // A failed helper cannot be asked: its last known state is saved.
        if (!b->failed.load()) separateSaveState(*b, slotBytes[s]);
    }
    uint8_t table[10 + 4 * kChainSlots];
    if (separateCount) {
        std::memcpy(table, kHostTag, 6);
        putU16(table + 6, 1);
        putU16(table + 8, static_cast<uint16_t>(separateCount));
        int entry = 0, next = 1;
        for (int w = 0; w < wrapperCount(); ++w) {
            ++next;  // the wrapper's own chunk
            for (int s = 0; s < kChainSlots; ++s) {
                BridgeInstance* b = chainSeparate(s);
                if (!b || static_cast<int>(b->wrapper) != w) continue;
                uint8_t* e = table + 10 + 4 * entry++;
                putU16(e, static_cast<uint16_t>(next++));
                e[2] = slotBytes[s];
                e[3] = static_cast<uint8_t>(kEntrySeparate | (b->bits32 ? kEntry32Bit : 0));
            }
        }
        writeChunk(out, kHostChunkName, table, static_cast<uint32_t>(10 + 4 * separateCount));
    }
    for (int w = 0; out.ok && w < wrapperCount(); ++w) {
        refreshSlotBytes(w);
        const char* name = wrapperName(w);
        if (!name) {
            out.ok = false;
            break;
        }
        char held[kWrapperNameBuffer];
        std::snprintf(held, sizeof held, "%s", name);
        uint32_t size = 0;
        const uint8_t* blob = wrapperSaveState(w, size);
        writeChunk(out, held, blob, blob ? size : 0);
        for (int s = 0; s < kChainSlots; ++s) {
            BridgeInstance* b = chainSeparate(s);
            if (b && static_cast<int>(b->wrapper) == w) writeChunk(out, held, b->lastState, b->lastStateSize);
        }
    }
    uint8_t bindings[kBindingsChunkMax];
    const size_t bindingsSize = gPerformance.bindings ? gPerformance.bindings(bindings, sizeof bindings) : 0;
    if (bindingsSize) writeChunk(out, kBindingsChunkName, bindings, static_cast<uint32_t>(bindingsSize));
    const bool closed = std::fclose(file) == 0;
    if (!out.ok || !closed) return kResultWriteFailed;
    setCurrentPath(path);
    performanceTakeSnapshot();
    return 0;
}

int32_t performanceReadWith(const char* path, const PerformanceReadTarget& target) {
    FILE* file = std::fopen(path, "rb");
    if (!file) return kResultCannotOpen;
    const int32_t result = readFile(file, target);
    std::fclose(file);
    return result;
}

void performanceSetCurrentPath(const char* path) { setCurrentPath(path); }

int32_t performanceRead(const char* path) {
    PerformanceReadTarget target;
    target.accompanimentFollows = [](void*) { closeAccompaniment(); };
    target.accompaniment = openAccompaniment;
    target.chunk = loadChunk;
    target.bindings = [](void*, const uint8_t* blob, uint32_t size) {
        if (gPerformance.takeBindings) gPerformance.takeBindings(blob, size);
    };
    if (gPerformance.clearBindings) gPerformance.clearBindings();
    const int32_t result = performanceReadWith(path, target);
    if (result != 0) return result;
    chainMoveAllOutside();
    setCurrentPath(path);
    performanceTakeSnapshot();
    return 0;
}

void performanceFreeSnapshot() {
    for (int w = 0; w < kMaxWrappers; ++w) {
        std::free(gPerformance.snapshotBlob[w]);
        gPerformance.snapshotBlob[w] = nullptr;
        gPerformance.snapshotSize[w] = 0;
    }
    for (int s = 0; s < kChainSlots; ++s) {
        std::free(gPerformance.snapshotSeparate[s]);
        gPerformance.snapshotSeparate[s] = nullptr;
        gPerformance.snapshotSeparateSize[s] = 0;
    }
}

void performanceTakeSnapshot() {
    for (int s = 0; s < kChainSlots; ++s) gPerformance.snapshotSlots[s] = gHost.engine->chain[s].instance;
    performanceFreeSnapshot();
    for (int w = 0; w < wrapperCount() && w < kMaxWrappers; ++w) {
        uint32_t size = 0;
        const uint8_t* blob = wrapperSaveState(w, size);
        if (!blob || size == 0) continue;
        gPerformance.snapshotBlob[w] = static_cast<uint8_t*>(std::malloc(size));
        if (!gPerformance.snapshotBlob[w]) continue;
        std::memcpy(gPerformance.snapshotBlob[w], blob, size);
        gPerformance.snapshotSize[w] = size;
    }
    for (int s = 0; s < kChainSlots; ++s) {
        BridgeInstance* b = chainSeparate(s);
        if (!b) continue;
        if (!b->failed.load()) separateSaveState(*b, separateSlotByte(s, *b));
        if (!b->lastState) continue;
        gPerformance.snapshotSeparate[s] = static_cast<uint8_t*>(std::malloc(b->lastStateSize));
        if (!gPerformance.snapshotSeparate[s]) continue;
        std::memcpy(gPerformance.snapshotSeparate[s], b->lastState, b->lastStateSize);
        gPerformance.snapshotSeparateSize[s] = b->lastStateSize;
    }
    std::snprintf(gPerformance.snapshotAccompaniment, sizeof gPerformance.snapshotAccompaniment, "%s",
                  accompanimentPath());
    gPerformance.snapshotBindingsSize = gPerformance.bindings ? static_cast<uint32_t>(gPerformance.bindings(
                                            gPerformance.snapshotBindings, sizeof gPerformance.snapshotBindings))
                                                              : 0;
}

bool performanceChanged() {
    // Bindings learnt or forgotten count even without a plug-in or an accompaniment.
    uint8_t bindings[kBindingsChunkMax];
    const size_t bindingsSize = gPerformance.bindings ? gPerformance.bindings(bindings, sizeof bindings) : 0;
    if (bindingsSize != gPerformance.snapshotBindingsSize ||
        std::memcmp(bindings, gPerformance.snapshotBindings, bindingsSize) != 0)
        return true;
    const EngineState& e = *gHost.engine;
    bool anyInstance = false;
    for (const ChainSlot& s : e.chain) anyInstance |= s.instance != 0;
    const char* accompaniment = accompanimentPath();
    if (!anyInstance && accompaniment[0] == '\0') return false;
    if (std::strcmp(accompaniment, gPerformance.snapshotAccompaniment) != 0) return true;
    for (int s = 0; s < kChainSlots; ++s)
        if (e.chain[s].instance != gPerformance.snapshotSlots[s]) return true;
    for (int w = 0; w < wrapperCount() && w < kMaxWrappers; ++w) {
        uint32_t size = 0;
        const uint8_t* blob = wrapperSaveState(w, size);
        if (!blob) continue;
        if (size != gPerformance.snapshotSize[w]) return true;
        if (size && std::memcmp(blob, gPerformance.snapshotBlob[w], size) != 0) return true;
    }
    for (int s = 0; s < kChainSlots; ++s) {
        BridgeInstance* b = chainSeparate(s);
        if (!b || b->failed.load() || !separateSaveState(*b, separateSlotByte(s, *b))) continue;
        if (b->lastStateSize != gPerformance.snapshotSeparateSize[s] ||
            std::memcmp(b->lastState, gPerformance.snapshotSeparate[s], b->lastStateSize) != 0)
            return true;
    }
    return false;
}

// ---- the file commands ----

PerformanceShell gPerformanceShell;

namespace {

PerformanceShell& shell() { return gPerformanceShell; }

bool liveInputRunning() { return shell().liveInputRunning && shell().liveInputRunning(); }

void stopLiveInput() {
    if (shell().stopLiveInput) ReportResult(shell().stopLiveInput());
}

void restartLiveInput(bool wasRunning) {
    if (wasRunning && shell().startLiveInput) ReportResult(shell().startLiveInput());
}

// The save question when something changed; false when the user cancelled.
bool offerSave(bool withCancel) {
    if (!performanceChanged()) return true;
    const int answer = shell().askSave ? shell().askSave(withCancel) : kAnswerNo;
    if (answer == kAnswerCancel && withCancel) return false;
    if (answer == kAnswerYes) performanceSaveAs();
    return true;
}

// Destroys every instance and empties the chain and the accompaniment.
void clearPerformance() {
    for (int w = 0; w < wrapperCount(); ++w) wrapperDestroyAll(w);
    for (ChainSlot& s : gHost.engine->chain) s = ChainSlot{};
    closeAccompaniment();
}

void refreshMasterSection() {
    if (shell().refreshMasterSection) shell().refreshMasterSection();
}

}  // namespace

void performanceNew() {
    const bool running = liveInputRunning();
    stopLiveInput();
    if (!offerSave(true)) return;
    clearPerformance();
    if (gPerformance.clearBindings) gPerformance.clearBindings();
    setCurrentPath("");
    performanceTakeSnapshot();
    refreshMasterSection();
    restartLiveInput(running);
}

void performanceOpen() {
    const bool running = liveInputRunning();
    stopLiveInput();
    char path[kPathMax + 1];
    std::snprintf(path, sizeof path, "%s", shell().lastOpenPath);
    if (!shell().chooseOpenPath || !shell().chooseOpenPath(path, sizeof path)) {
        restartLiveInput(running);
        return;
    }
    std::snprintf(shell().lastOpenPath, sizeof shell().lastOpenPath, "%s", path);
    stopLiveInput();
    if (!offerSave(true)) return;
    clearPerformance();
    ReportResult(performanceRead(path));
    refreshMasterSection();
    restartLiveInput(running);
}

void performanceSave() {
    if (gPerformance.currentPath[0] == '\0') {
        performanceSaveAs();
        return;
    }
    ReportResult(performanceWrite(gPerformance.currentPath));
}

void performanceSaveAs() {
    const bool running = liveInputRunning();
    stopLiveInput();
    char path[kPathMax + 1];
    std::snprintf(path, sizeof path, "%s", shell().lastSavePath);
    if (shell().chooseSavePath && shell().chooseSavePath(path, sizeof path)) {
        std::snprintf(shell().lastSavePath, sizeof shell().lastSavePath, "%s", path);
        ReportResult(performanceWrite(path));
    }
    restartLiveInput(running);
}

void performanceClosing() {
    stopLiveInput();
    offerSave(false);
}

int32_t performanceOpenPath(const char* path) {
    const bool running = liveInputRunning();
    stopLiveInput();
    clearPerformance();
    const int32_t result = performanceRead(path);
    refreshMasterSection();
    restartLiveInput(running);
    return result;
}

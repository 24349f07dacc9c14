// Both sides of the helper bridge over the shared area.
#include "host/bridge.h"

#include <cstdio>
#include <cstring>

#include "platform/platform.h"

void (*gBridgeEditorClosed)() = nullptr;
void (*gBridgeReported)() = nullptr;

namespace {

// The helper's one server, for the wrapper's callback.
BridgeServer* gServer = nullptr;

bool isParameterReport(intptr_t opcode) {
    return opcode == HC_PARAMETER_CHANGED || opcode == HC_LEARN_PARAMETER || opcode == HC_FORGET_PARAMETER;
}

// Puts one of the editor's reports in the ring for the program.
intptr_t postReport(intptr_t opcode, intptr_t instance, intptr_t index) {
    if (!gServer || !gServer->area || instance != gServer->instance || index < 0 || index > INT32_MAX) return 0;
    BridgeReports& r = bridgeHeader(gServer->area)->reports;
    const uint32_t written = r.written.load(std::memory_order_relaxed);
    if (written - r.read.load() >= kBridgeReportCapacity) return 0;
    r.entry[written % kBridgeReportCapacity] = BridgeReport{static_cast<int32_t>(opcode), static_cast<int32_t>(index)};
    r.written.store(written + 1);
    if (gBridgeReported) gBridgeReported();
    return 1;
}

void copyText(char* to, const char* from) {
    std::snprintf(to, kBridgeTextCapacity, "%s", from ? from : "");
}

// ---- the helper's side ----

intptr_t WRAPPER_CALL helperCallback(intptr_t opcode, intptr_t a1, intptr_t a2) {
    switch (opcode) {
        case HC_GET_HOST_NAME:
            if (a1) *reinterpret_cast<const char**>(a1) = kHostName;
            return 1;
        case HC_GET_HOST_VERSION:
            if (a1) *reinterpret_cast<uint16_t*>(a1) = kHostVersion;
            return 1;
        case HC_EDITOR_CLOSED:
            if (gBridgeEditorClosed) gBridgeEditorClosed();
            return 1;
        case HC_PARAMETER_CHANGED:
        case HC_LEARN_PARAMETER:
        case HC_FORGET_PARAMETER:
            return postReport(opcode, a1, a2);
        case HC_SCAN_PROGRESS:
        case HC_REPAINT_CHAIN:
        case HC_INSTANCE_DESTROYED:
        case HC_ALL_INSTANCES_DESTROYED:
        case HC_WRAPPER_CLOSED:
            return 1;
        default:
            return 0;
    }
}

intptr_t call(BridgeServer& s, intptr_t opcode, intptr_t a1, intptr_t a2) {
    return s.dispatcher ? s.dispatcher(opcode, a1, a2) : 0;
}

void configure(BridgeServer& s, const BridgeChannel& c) {
    call(s, WD_SET_CHANNELS, 0, static_cast<intptr_t>(c.arg[0]));
    call(s, WD_SET_SAMPLE_RATE, 0, static_cast<intptr_t>(c.arg[1]));
    call(s, WD_SET_BLOCK_SIZE, 0, static_cast<intptr_t>(c.arg[2]));
}

int64_t open(BridgeServer& s, BridgeChannel& c, const char* path) {
    if (s.module) return 0;
    gServer = &s;
    s.module = platformLoadModule(path);
    if (!s.module) return 0;
    s.dispatcher = reinterpret_cast<WrapperDispatcherFn>(platformFindSymbol(s.module, "wrapperDispatcher"));
    s.processPlugin = reinterpret_cast<WrapperProcessFn>(platformFindSymbol(s.module, "processPlugin"));
    if (!s.dispatcher || !s.processPlugin) return 0;
    call(s, WD_SET_HOST_CALLBACK, reinterpret_cast<intptr_t>(helperCallback), 4);
    if (!call(s, WD_OPEN, reinterpret_cast<intptr_t>(s.applicationDirectory), 0)) {
        s.dispatcher = nullptr;
        return 0;
    }
    configure(s, c);
    return 1;
}

int64_t create(BridgeServer& s, const char* name) {
    if (!s.dispatcher || s.instance) return 0;
    call(s, WD_REFRESH_LIST, 0, 0);
    int32_t count = 0;
    call(s, WD_GET_AVAILABLE_COUNT, reinterpret_cast<intptr_t>(&count), 4);
    char listed[kWrapperNameBuffer];
    for (int32_t i = 0; i < count; ++i) {
        listed[0] = '\0';
        if (!call(s, WD_GET_AVAILABLE_NAME, reinterpret_cast<intptr_t>(listed), i)) continue;
        listed[kWrapperNameBuffer - 1] = '\0';
        if (std::strcmp(listed, name) != 0) continue;
        intptr_t handle = 0;
        if (!call(s, WD_CREATE_INSTANCE, reinterpret_cast<intptr_t>(&handle), i) || !handle) return 0;
        s.instance = handle;
        return 1;
    }
    return 0;
}

// The instance's user data into the blob area (for the program's slot byte).
void answerUserData(BridgeServer& s, BridgeChannel& c, uint8_t* out) {
    WrapperUserData data{s.instance, 0, 0};
    c.blobSize = 0;
    if (call(s, WD_GET_USER_DATA, reinterpret_cast<intptr_t>(&data), 12) && data.data && data.size > 0 &&
        static_cast<uintptr_t>(data.size) <= kBridgeTextCapacity) {
        std::memmove(out, reinterpret_cast<const void*>(data.data), static_cast<size_t>(data.size));
        c.blobSize = static_cast<uint32_t>(data.size);
    }
}

// Loads a wrapper blob and keeps the instance whose user data is `keep`
// (any one, the first, when `keep` is null), destroying the others.
int64_t loadState(BridgeServer& s, BridgeChannel& c, uint8_t* blob, uint32_t size, const char* keep) {
    if (!s.dispatcher || s.instance) return 0;
    if (!call(s, WD_LOAD_STATE, reinterpret_cast<intptr_t>(blob), size)) return 0;
    int32_t count = 0;
    call(s, WD_GET_INSTANCE_COUNT, reinterpret_cast<intptr_t>(&count), 4);
    intptr_t others[64];
    int otherCount = 0;
    for (int32_t i = 0; i < count; ++i) {
        intptr_t handle = 0;
        if (!call(s, WD_GET_INSTANCE, reinterpret_cast<intptr_t>(&handle), i) || !handle) continue;
        WrapperUserData data{handle, 0, 0};
        const bool matches =
            !keep || (call(s, WD_GET_USER_DATA, reinterpret_cast<intptr_t>(&data), 12) && data.data &&
                      static_cast<size_t>(data.size) == std::strlen(keep) &&
                      std::memcmp(reinterpret_cast<const void*>(data.data), keep, std::strlen(keep)) == 0);
        if (matches && !s.instance) s.instance = handle;
        else if (otherCount < 64) others[otherCount++] = handle;
    }
    for (int i = 0; i < otherCount; ++i) call(s, WD_DESTROY_INSTANCE, others[i], 4);
    if (!s.instance) return 0;
    answerUserData(s, c, blob);
    return 1;
}

int64_t saveState(BridgeServer& s, BridgeChannel& c, uint8_t* out) {
    c.blobSize = 0;
    if (!s.instance) return 0;
    const uint8_t slotByte = static_cast<uint8_t>(c.arg[0]);
    WrapperUserData data{s.instance, reinterpret_cast<intptr_t>(&slotByte), 1};
    call(s, WD_SET_USER_DATA, reinterpret_cast<intptr_t>(&data), 12);
    uint8_t* blob = nullptr;
    const intptr_t n = call(s, WD_SAVE_STATE, reinterpret_cast<intptr_t>(&blob), 4);
    if (n <= 0 || !blob || static_cast<uintptr_t>(n) > kBridgeBlobCapacity) return 0;
    std::memcpy(out, blob, static_cast<size_t>(n));
    c.blobSize = static_cast<uint32_t>(n);
    return 1;
}

int64_t parameterCount(BridgeServer& s) {
    int32_t n = 0;
    if (!s.instance || !call(s, WD_GET_PARAMETER_COUNT, s.instance, reinterpret_cast<intptr_t>(&n))) return 0;
    return n > 0 ? n : 0;
}

int64_t getParameter(BridgeServer& s, BridgeChannel& c, uint8_t* out) {
    c.blobSize = 0;
    WrapperParameter p{};
    p.index = static_cast<int32_t>(c.arg[0]);
    if (!s.instance || !call(s, WD_GET_PARAMETER, s.instance, reinterpret_cast<intptr_t>(&p))) return 0;
    BridgeParameter answer{};
    answer.index = p.index;
    answer.value = p.value;
    std::memcpy(answer.name, p.name, sizeof answer.name);
    std::memcpy(answer.display, p.display, sizeof answer.display);
    answer.name[sizeof answer.name - 1] = answer.display[sizeof answer.display - 1] = '\0';
    std::memcpy(out, &answer, sizeof answer);
    c.blobSize = sizeof answer;
    return 1;
}

int64_t setParameter(BridgeServer& s, const BridgeChannel& c) {
    WrapperParameter p{};
    p.index = static_cast<int32_t>(c.arg[0]);
    std::memcpy(&p.value, &c.arg[1], sizeof p.value);
    return s.instance && call(s, WD_SET_PARAMETER, s.instance, reinterpret_cast<intptr_t>(&p)) ? 1 : 0;
}

}  // namespace

void bridgeServeCommand(BridgeServer& s) {
    BridgeHeader* h = bridgeHeader(s.area);
    BridgeChannel& c = h->command;
    const uint32_t request = c.request.load();
    if (request == c.answer.load(std::memory_order_relaxed)) return;
    h->text[kBridgeTextCapacity - 1] = '\0';
    const uint32_t blobSize = c.blobSize <= kBridgeBlobCapacity ? c.blobSize : 0;
    int64_t result = 0;
    switch (c.opcode) {
        case BR_OPEN:
            result = open(s, c, h->text);
            break;
        case BR_CREATE:
            result = create(s, h->text);
            break;
        case BR_LOAD_STATE:
            result = loadState(s, c, bridgeBlob(s.area), blobSize, nullptr);
            break;
        case BR_ADOPT:
            result = loadState(s, c, bridgeBlob(s.area), blobSize, h->text);
            break;
        case BR_SAVE_STATE:
            result = saveState(s, c, bridgeBlob(s.area));
            break;
        case BR_GET_NAME: {
            char name[kWrapperNameBuffer] = "";
            result = s.instance && call(s, WD_GET_INSTANCE_NAME, s.instance, reinterpret_cast<intptr_t>(name)) ? 1 : 0;
            name[kWrapperNameBuffer - 1] = '\0';
            copyText(h->text, name);
            break;
        }
        case BR_SET_ACTIVE:
            result = s.instance ? call(s, WD_SET_INSTANCE_ACTIVE, s.instance, c.arg[0] ? 1 : 0) : 0;
            break;
        case BR_GET_ACTIVE:
            result = s.instance ? call(s, WD_GET_INSTANCE_ACTIVE, s.instance, 4) - 1 : -1;
            break;
        case BR_GET_LATENCY: {
            int32_t frames = 0;
            if (s.instance) call(s, WD_GET_LATENCY, s.instance, reinterpret_cast<intptr_t>(&frames));
            result = frames;
            break;
        }
        case BR_GET_PARAMETER_COUNT:
            result = parameterCount(s);
            break;
        case BR_GET_PARAMETER:
            result = getParameter(s, c, bridgeBlob(s.area));
            break;
        case BR_SET_PARAMETER:
            result = setParameter(s, c);
            break;
        case BR_CONFIGURE:
            configure(s, c);
            result = 1;
            break;
        case BR_SET_PROCESSING:
            result = call(s, WD_SET_PROCESSING, 0, c.arg[0] ? 1 : 0);
            break;
        case BR_SET_TEMPO: {
            float bpm = static_cast<float>(c.arg[0]) / 1000.0f;
            result = call(s, WD_SET_TEMPO, reinterpret_cast<intptr_t>(&bpm), 4);
            break;
        }
        case BR_SHOW_EDITOR:
            result = s.showEditor ? s.showEditor(s, static_cast<intptr_t>(c.arg[0]), h->text) : 0;
            break;
        case BR_CLOSE_EDITOR:
            result = s.closeEditor ? s.closeEditor(s) : 1;
            break;
        case BR_CLOSE:
            if (s.closeEditor) s.closeEditor(s);
            if (s.instance) call(s, WD_DESTROY_INSTANCE, s.instance, 4);
            s.instance = 0;
            if (s.dispatcher) call(s, WD_CLOSE, 0, 0);
            s.dispatcher = nullptr;
            s.closed = true;
            result = 1;
            break;
        default:
            result = 0;
    }
    c.result = result;
    c.answer.store(request);
}

void bridgeServeAudio(BridgeServer& s) {
    BridgeChannel& c = bridgeHeader(s.area)->audio;
    const uint32_t request = c.request.load();
    if (request == c.answer.load(std::memory_order_relaxed)) return;
    const int64_t frames = c.arg[0];
    if (s.instance && s.processPlugin && frames > 0 && frames <= kBridgeMaxFrames) {
        const uint32_t n = static_cast<uint32_t>(frames);
        s.processPlugin(s.instance, bridgeLeft(s.area, n), c.arg[1] == 2 ? bridgeRight(s.area, n) : nullptr);
    }
    c.answer.store(request);
}

// ---- the program's side ----

uint32_t bridgeDeadlineUs(uint32_t frames, uint32_t rate) {
    if (rate == 0) return 1000;
    const uint64_t period = static_cast<uint64_t>(frames) * 1000000u / rate;
    const uint64_t deadline = period * 3 / 4;
    return deadline < 1000 ? 1000 : static_cast<uint32_t>(deadline);
}

namespace {

void markFailed(BridgeInstance& b, int32_t why) {
    if (b.failed.load()) return;
    b.failure.store(why);
    b.failedAtFrame.store(b.framesDone);
    b.failed.store(true);
}

// A block passed dry for want of an answer. A second's worth of them in a
// row (or one miss of a deadline of a second or more) is a hang.
void missed(BridgeInstance& b, uint32_t frames) {
    b.misses.fetch_add(1, std::memory_order_relaxed);
    b.missedInARow += frames;
    if (b.missedInARow >= b.rate || b.deadlineUs >= 1000000) markFailed(b, kBridgeHung);
}

// The time in microseconds from the platform's counter.
uint64_t nowUs() {
    uint64_t count = 0;
    const uint64_t frequency = platformCounterFrequency();
    if (!frequency || !platformReadCounter(count)) return 0;
    return static_cast<uint64_t>(static_cast<double>(count) * 1e6 / static_cast<double>(frequency));
}

// Waits until `channel` answers `request` or `limitUs` have passed: 1
// answered, 0 not in time, -1 the helper ended. With no time at all it
// still looks once. `wake` (the audio channel's block) wakes the helper in
// the same step as the first wait; a command's wait also watches the
// helper's end, so that a death there is seen at once.
int awaitAnswer(BridgeInstance& b, int channel, uint32_t request, uint32_t limitUs, bool wake) {
    BridgeChannel& c = channel == 0 ? bridgeHeader(b.area)->audio : bridgeHeader(b.area)->command;
    const uint64_t start = nowUs();
    uint64_t waited = 0;
    for (;;) {
        if (!wake && c.answer.load() == request) return 1;
        if (!wake && waited >= limitUs && limitUs) return 0;
        const uint32_t left = static_cast<uint32_t>(limitUs - waited);
        const int woken = wake ? platformHelperSignalAndWait(b.helper, channel, left)
                               : platformHelperWait(b.helper, channel, left);
        wake = false;
        if (c.answer.load() == request) return 1;
        if (woken < 0) return -1;
        if (limitUs == 0) return 0;
        waited = nowUs() - start;
        if (woken == 0 && waited < limitUs) waited = limitUs;  // the wait itself ran out
    }
}

}  // namespace

BridgeInstance* bridgeStart(const char* helperPath, const char* modulePath, uint32_t wrapper, int channels,
                            uint32_t rate, uint32_t blockSize) {
    constexpr BridgeLayout layout = bridgeLayout();
    auto* b = new BridgeInstance;
    b->wrapper = wrapper;
    b->rate = rate ? rate : 44100;
    b->blockSize = blockSize;
    b->helper = platformHelperStart(helperPath, layout.size, &b->area);
    if (!b->helper) {
        delete b;
        return nullptr;
    }
    BridgeHeader* h = bridgeHeader(b->area);
    h->magic = kBridgeMagic;
    h->version = kBridgeVersion;
    h->areaSize = layout.size;
    // The first answer waits for the helper to start as well.
    if (bridgeCommand(*b, BR_OPEN, channels, rate, blockSize, modulePath) != 1) {
        bridgeEnd(b);
        return nullptr;
    }
    return b;
}

void bridgeEnd(BridgeInstance* b) {
    if (!b) return;
    delete[] b->lastState;
    if (!b->failed.load()) {
        BridgeChannel& c = bridgeHeader(b->area)->command;
        c.opcode = BR_CLOSE;
        c.blobSize = 0;
        const uint32_t request = c.request.load() + 1;
        c.request.store(request);
        platformHelperSignal(b->helper, 1);
        awaitAnswer(*b, 1, request, 2000 * 1000, false);
    }
    platformHelperEnd(b->helper);
    delete b;
}

int64_t bridgeCommand(BridgeInstance& b, int32_t opcode, int64_t a0, int64_t a1, int64_t a2, const char* text,
                      const uint8_t* blob, uint32_t blobSize) {
    if (b.failed.load() || blobSize > kBridgeBlobCapacity) return -1;
    BridgeHeader* h = bridgeHeader(b.area);
    BridgeChannel& c = h->command;
    c.opcode = opcode;
    c.arg[0] = a0, c.arg[1] = a1, c.arg[2] = a2;
    c.result = 0;
    if (text) copyText(h->text, text);
    c.blobSize = blob ? blobSize : 0;
    if (blob && blobSize) std::memcpy(bridgeBlob(b.area), blob, blobSize);
    const uint32_t request = c.request.load() + 1;
    c.request.store(request);
    platformHelperSignal(b.helper, 1);
    const int answered = awaitAnswer(b, 1, request, kBridgeCommandTimeoutMs * 1000, false);
    if (answered != 1) {
        markFailed(b, answered < 0 ? kBridgeDied : kBridgeHung);
        return -1;
    }
    return c.result;
}

const uint8_t* bridgeAnswerBlob(BridgeInstance& b, uint32_t& size) {
    const BridgeChannel& c = bridgeHeader(b.area)->command;
    if (c.blobSize == 0 || c.blobSize > kBridgeBlobCapacity) return nullptr;
    size = c.blobSize;
    return bridgeBlob(b.area);
}

const char* bridgeAnswerText(BridgeInstance& b) {
    BridgeHeader* h = bridgeHeader(b.area);
    h->text[kBridgeTextCapacity - 1] = '\0';
    return h->text;
}

void bridgeProcess(BridgeInstance& b, float* left, float* right, uint32_t frames) {
    if (b.failed.load(std::memory_order_relaxed) || frames == 0 || frames > kBridgeMaxFrames || frames != b.blockSize) {
        b.framesDone += frames;
        return;
    }
    BridgeChannel& c = bridgeHeader(b.area)->audio;
    // A block still being worked on from before: the helper may not be
    // given another until it answers.
    if (b.pendingRequest) {
        const int late = awaitAnswer(b, 0, b.pendingRequest, 0, false);
        if (late < 0) {
            markFailed(b, kBridgeDied);
        } else if (late == 0) {
            missed(b, frames);
        } else {
            b.pendingRequest = 0;
        }
        if (b.pendingRequest) {
            b.framesDone += frames;
            return;
        }
    }
    std::memcpy(bridgeLeft(b.area, frames), left, frames * sizeof(float));
    if (right) std::memcpy(bridgeRight(b.area, frames), right, frames * sizeof(float));
    c.opcode = BR_PROCESS;
    c.arg[0] = frames;
    c.arg[1] = right ? 2 : 1;
    const uint32_t request = c.request.load(std::memory_order_relaxed) + 1;
    c.request.store(request);
    if (b.deadlineUs == 0) b.deadlineUs = bridgeDeadlineUs(frames, b.rate);
    const int answered = awaitAnswer(b, 0, request, b.deadlineUs, true);
    if (answered == 1) {
        std::memcpy(left, bridgeLeft(b.area, frames), frames * sizeof(float));
        if (right) std::memcpy(right, bridgeRight(b.area, frames), frames * sizeof(float));
        b.missedInARow = 0;
    } else if (answered < 0) {
        markFailed(b, kBridgeDied);
    } else {
        b.pendingRequest = request;
        missed(b, frames);
    }
    b.framesDone += frames;
}

int bridgeTakeReports(BridgeInstance& b, BridgeReport* out, int max) {
    if (!b.area || b.failed.load()) return 0;
    BridgeReports& r = bridgeHeader(b.area)->reports;
    const uint32_t written = r.written.load();
    uint32_t read = r.read.load(std::memory_order_relaxed);
    // A helper that wrote past the ring (or wrote nonsense) is resynchronised.
    if (written - read > kBridgeReportCapacity) read = written;
    int taken = 0;
    for (; read != written && taken < max; ++read) {
        const BridgeReport e = r.entry[read % kBridgeReportCapacity];
        if (isParameterReport(e.opcode) && e.index >= 0) out[taken++] = e;
    }
    r.read.store(read);
    return taken;
}

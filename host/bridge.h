// Plug-ins in helper processes. A helper (QvPluginHost.exe, or the 32-bit
// QvPluginHost32.exe) loads one wrapper module and hosts one instance of it;
// the program talks to it through one shared area with two channels:
//
//   audio    the block: frames in, processed in place, out; one wake-up
//            each way, the program waiting with a deadline;
//   command  the wrapper protocol's words, names and blobs, one request at
//            a time, the program waiting with a limit.
//
// The area's layout is made of fixed-width fields only, so a 64-bit program
// and a 32-bit helper read it alike. The audio buffers sit right before a
// guard page each (no access in the helper): a plug-in writing past the
// block's end ends its helper instead of corrupting anything else.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

#include "host/wrapperprotocol.h"

constexpr uint32_t kBridgeMagic = 0x31425651;  // "QVB1"
constexpr uint32_t kBridgeVersion = 2;
constexpr uint32_t kBridgePage = 4096;
constexpr uint32_t kBridgeMaxFrames = 16384;
constexpr uint32_t kBridgeBlobCapacity = 8u << 20;
constexpr uint32_t kBridgeTextCapacity = 1024;

// Requests on the command channel (the helper's answer is in `result`,
// names in `text`, blobs in the blob area).
enum : int32_t {
    BR_OPEN = 1,            // text: wrapper module path; arg 0 channels, 1 rate, 2 block size
    BR_CREATE = 2,          // text: the plug-in's listed name; result 1 when created
    BR_LOAD_STATE = 3,      // blob: a wrapper state blob with this instance; blob out: its user data
    BR_SAVE_STATE = 4,      // arg 0 the slot byte; blob out: the wrapper's state blob
    BR_GET_NAME = 5,        // text out: the instance's name
    BR_SET_ACTIVE = 6,      // arg 0: 1 active, 0 bypassed
    BR_GET_ACTIVE = 7,      // result 1 active, 0 bypassed
    BR_GET_LATENCY = 8,     // result: frames
    BR_CONFIGURE = 9,       // arg 0 channels, 1 rate, 2 block size
    BR_SET_PROCESSING = 10, // arg 0 on
    BR_SET_TEMPO = 11,      // arg 0: beats per minute times 1000
    BR_CLOSE = 12,          // destroys the instance, closes the wrapper; the helper ends
    BR_ADOPT = 13,          // blob: a wrapper state blob; text: the user data of the one
                            // instance to keep (the others are destroyed)
    BR_SHOW_EDITOR = 14,    // arg 0: the program's MDI client; text: the window's caption
    BR_CLOSE_EDITOR = 15,
    BR_GET_PARAMETER_COUNT = 16,  // result: the instance's parameters (0 from a wrapper that does not say)
    BR_GET_PARAMETER = 17,        // arg 0 the index; blob out: a BridgeParameter; result 1 or 0
    BR_SET_PARAMETER = 18,        // arg 0 the index, arg 1 the value's bits (a double, 0 ... 1); result 1 or 0
    BR_PROCESS = 20,        // audio channel: arg 0 frames, arg 1 channels
};

struct BridgeChannel {
    std::atomic<uint32_t> request;  // sequence number, written by the program last
    std::atomic<uint32_t> answer;   // the request's number, written by the helper last
    int32_t opcode;
    uint32_t blobSize;
    int64_t arg[3];
    int64_t result;
};
static_assert(std::atomic<uint32_t>::is_always_lock_free, "shared between processes");
static_assert(sizeof(BridgeChannel) == 48, "same layout in 32- and 64-bit builds");
static_assert(offsetof(BridgeChannel, arg) == 16 && offsetof(BridgeChannel, result) == 40, "fixed offsets");

// BR_GET_PARAMETER's answer in the blob area: WrapperParameter with its
// padding spelled out.
struct BridgeParameter {
    int32_t index;
    int32_t reserved;
    double value;
    char name[64];
    char display[64];
};
static_assert(sizeof(BridgeParameter) == 144 && offsetof(BridgeParameter, value) == 8 &&
                  offsetof(BridgeParameter, name) == 16 && offsetof(BridgeParameter, display) == 80,
              "same layout in 32- and 64-bit builds");
static_assert(sizeof(BridgeParameter::name) == sizeof(WrapperParameter::name) &&
                  sizeof(BridgeParameter::display) == sizeof(WrapperParameter::display),
              "the wrapper record's texts fit");

// What the plug-in's editor tells the host (HC_PARAMETER_CHANGED,
// HC_LEARN_PARAMETER, HC_FORGET_PARAMETER, with the parameter's index),
// on its way from the helper to the program: a ring the helper writes and
// the program reads. A full ring drops the report.
constexpr uint32_t kBridgeReportCapacity = 64;
struct BridgeReport {
    int32_t opcode;
    int32_t index;
};
struct BridgeReports {
    std::atomic<uint32_t> written;  // by the helper, after the entry
    std::atomic<uint32_t> read;     // by the program
    BridgeReport entry[kBridgeReportCapacity];
};
// Posted to the program's frame (WM_APP + 0x51) after a report, once the
// helper knows that window (from its editor's first showing).
constexpr uint32_t kBridgeReportMessage = 0x8000 + 0x51;

struct BridgeHeader {
    uint32_t magic;
    uint32_t version;
    uint32_t areaSize;
    uint32_t helperPid;  // set by the helper once it is ready
    BridgeChannel audio;
    BridgeChannel command;
    char text[kBridgeTextCapacity];
    BridgeReports reports;
};
static_assert(sizeof(BridgeHeader) == 16 + 2 * 48 + kBridgeTextCapacity + 8 + 8 * kBridgeReportCapacity,
              "same layout in 32- and 64-bit builds");
static_assert(sizeof(BridgeHeader) <= kBridgePage, "the header fits the page before the blob");

// Offsets within the area, each a whole number of pages.
struct BridgeLayout {
    uint32_t blob;       // kBridgeBlobCapacity bytes
    uint32_t leftEnd;    // end of the left buffer; a guard page follows
    uint32_t rightEnd;   // end of the right buffer; a guard page follows
    uint32_t size;       // the whole area
};
constexpr uint32_t bridgeRoundUp(uint32_t n) { return (n + kBridgePage - 1) / kBridgePage * kBridgePage; }
constexpr BridgeLayout bridgeLayout() {
    const uint32_t blob = bridgeRoundUp(sizeof(BridgeHeader));
    const uint32_t buffer = bridgeRoundUp(kBridgeMaxFrames * 4);
    const uint32_t leftEnd = blob + kBridgeBlobCapacity + buffer;
    const uint32_t rightEnd = leftEnd + kBridgePage + buffer;
    return BridgeLayout{blob, leftEnd, rightEnd, rightEnd + kBridgePage};
}

inline BridgeHeader* bridgeHeader(void* area) { return static_cast<BridgeHeader*>(area); }
inline uint8_t* bridgeBlob(void* area) { return static_cast<uint8_t*>(area) + bridgeLayout().blob; }
// The block of `frames` frames ends where the buffer ends.
inline float* bridgeLeft(void* area, uint32_t frames) {
    return reinterpret_cast<float*>(static_cast<uint8_t*>(area) + bridgeLayout().leftEnd) - frames;
}
inline float* bridgeRight(void* area, uint32_t frames) {
    return reinterpret_cast<float*>(static_cast<uint8_t*>(area) + bridgeLayout().rightEnd) - frames;
}

// ---- the helper's side --------------------------------------------------------------

// The wrapper module a helper hosts and its one instance.
struct BridgeServer {
    void* area = nullptr;
    void* module = nullptr;  // PlatformModule
    WrapperDispatcherFn dispatcher = nullptr;
    WrapperProcessFn processPlugin = nullptr;
    intptr_t instance = 0;
    char applicationDirectory[1024] = "";
    bool closed = false;
    // The helper's editor window (null: no editors here).
    int64_t (*showEditor)(BridgeServer& server, intptr_t programWindow, const char* caption) = nullptr;
    int64_t (*closeEditor)(BridgeServer& server) = nullptr;
};

// Called when the wrapper tells that it closed the editor itself.
extern void (*gBridgeEditorClosed)();
// Called after a report was put in the ring (the helper's editor window
// tells the program).
extern void (*gBridgeReported)();

// Serves the command channel's request and the audio channel's block (the
// answer is written, not yet signalled).
void bridgeServeCommand(BridgeServer& server);
void bridgeServeAudio(BridgeServer& server);

// ---- the program's side -------------------------------------------------------------

// A plug-in in a helper: the handle a chain slot holds for it.
struct BridgeInstance {
    void* helper = nullptr;  // PlatformHelper
    void* area = nullptr;
    uint32_t wrapper = 0;    // the wrapper index in the program
    bool bits32 = false;
    char pluginName[100] = "";

    // The audio thread's record.
    uint32_t pendingRequest = 0;   // a request not answered by its deadline
    uint32_t deadlineUs = 0;
    uint32_t rate = 44100;
    // The block size the helper's wrapper was given: its instance works on
    // that many frames, so a block of another length is not sent.
    uint32_t blockSize = 0;
    uint64_t framesDone = 0;       // frames the slot was asked to process
    uint64_t missedInARow = 0;     // frames passed dry since the last answer
    std::atomic<uint32_t> misses{0};
    // Set by the audio thread (or a command that saw the helper end); read
    // by the UI thread, which reports it once.
    std::atomic<bool> failed{false};
    std::atomic<uint64_t> failedAtFrame{0};
    std::atomic<int32_t> failure{0};  // kBridgeDied, kBridgeHung
    bool reported = false;

    // The UI thread's: the plug-in's last known state (a wrapper blob with
    // this instance alone), kept from its start, every save and every
    // snapshot, for "Reload Plug-in".
    uint8_t* lastState = nullptr;
    uint32_t lastStateSize = 0;
    // Active (not bypassed), as last set: the wrapper's state does not hold it.
    bool active = true;
};

enum : int32_t { kBridgeDied = 1, kBridgeHung = 2 };

// The limit of a command on the UI thread.
constexpr uint32_t kBridgeCommandTimeoutMs = 5000;
// The audio deadline: three quarters of the block's period, at least 1 ms.
uint32_t bridgeDeadlineUs(uint32_t frames, uint32_t rate);

// Starts a helper (the 32-bit one for `bits32`) for the wrapper module
// `modulePath`, opened for the engine's channels, rate and block size.
// Null when it does not start or does not open the wrapper.
BridgeInstance* bridgeStart(const char* helperPath, const char* modulePath, uint32_t wrapper, int channels,
                            uint32_t rate, uint32_t blockSize);
// Ends the helper (asked to close, then terminated after a short wait) and
// frees the record.
void bridgeEnd(BridgeInstance* instance);

// Commands (UI thread). Each returns the helper's result, or -1 when the
// helper is failed, ended, or did not answer in time (then it is failed).
int64_t bridgeCommand(BridgeInstance& b, int32_t opcode, int64_t a0 = 0, int64_t a1 = 0, int64_t a2 = 0,
                      const char* text = nullptr, const uint8_t* blob = nullptr, uint32_t blobSize = 0);
// Takes the helper's reports (UI thread): at most `max` into `out`, each
// checked (a known opcode, an index from 0); returns how many.
int bridgeTakeReports(BridgeInstance& b, BridgeReport* out, int max);
// The blob of the last command's answer.
const uint8_t* bridgeAnswerBlob(BridgeInstance& b, uint32_t& size);
const char* bridgeAnswerText(BridgeInstance& b);

// One block through the helper, in place (audio thread). When the helper
// does not answer by the deadline, or is failed, the block stays as it is:
// the slot passes its input.
void bridgeProcess(BridgeInstance& b, float* left, float* right, uint32_t frames);

// The "Audio Settings:" dialog's platform-free pieces: the names of the 16
// sample formats, the latency and tempo trackbar mappings both ways, the
// reading and limiting of what the user typed, the buffer counts offered,
// which controls belong to which device system, and what Accept applies
// from the controls as they stand. audiosettings_win32.cpp fills the
// controls and applies the choice through the device layers.
//
// Every text here comes from an edit control the user types into: it is
// untrusted and may be empty, huge or not a number at all.
//
// Main (user-interface) thread only.
#pragma once

#include <cstddef>
#include <cstdint>

// ---- the format table ----

constexpr int kAudioFormatCount = 16;

struct AudioFormatEntry {
    uint32_t rate = 0;
    uint8_t bytesPerSample = 0;
    bool stereo = false;
};

// The entry of format `index`: rate by index AND 3 (32000, 44100, 48000,
// 96000), stereo when bit 2 is set, 2 bytes below index 8 and 3 from 8 on.
// An index outside 0 ... 15 gives the zero entry.
AudioFormatEntry audioFormatEntry(int index);

// "44100 smp/sec, 16 Bits, Stereo" (or ", Mono"); empty for an index
// outside the table.
void audioFormatName(int index, char* out, size_t size);

// ---- limits ----

constexpr uint32_t kLatencyMinMs = 5, kLatencyMaxMs = 100;
constexpr uint32_t kOutputDelayMax = 10;
constexpr float kTempoMin = 60.0f, kTempoMax = 200.0f;
constexpr int32_t kLatencyTrackbarMax = 950;
constexpr int32_t kTempoTrackbarMax = 1000;

// ---- trackbar mappings ----

// Position = (latency - 5) x 10; a latency outside 5 ... 100 gives the
// nearest end of the trackbar.
int32_t latencyToTrackbar(uint32_t latencyMs);
// Latency = position / 10 + 5 (integer division); a position outside
// 0 ... 950 is taken at the nearest end.
uint32_t latencyFromTrackbar(int32_t position);

// Position = (tempo - 60) x 1000 / 140, truncated, kept within 0 ... 1000
// (a stored tempo may lie outside the dialog's range; not a number gives 0).
int32_t tempoToTrackbar(float bpm);
// Tempo = position x 0.001 x 140 + 60, the position kept within 0 ... 1000.
float tempoFromTrackbar(int32_t position);

// ---- typed values ----

// The number the text starts with (leading spaces skipped, then decimal
// digits); 0 when there is none, saturating at 0xFFFFFFFF.
uint32_t leadingNumber(const char* text);

// The latency edit's number limited to 5 ... 100.
uint32_t latencyFromText(const char* text);
// The output delay edit's number limited to 0 ... 10.
uint8_t outputDelayFromText(const char* text);
// The tempo edit's decimal number ("120.5 bpm", "97"): a value not at least
// 60, a negative one and a text that is no number become 60; above 200
// becomes 200. Only plain decimal notation counts ("nan", "inf" and
// exponents are not numbers here, so nothing unbounded can get through).
float tempoFromText(const char* text);

// "%d ms", "%d", "%.1f bpm".
void formatLatency(uint32_t latencyMs, char* out, size_t size);
void formatOutputDelay(uint32_t delay, char* out, size_t size);
void formatTempo(float bpm, char* out, size_t size);

// ---- buffer counts ----

// The list offers 2, 4, 8, 16, 32, 64: item k is 2 to the power k + 1.
constexpr int kBufferChoices = 6;
// The count of list item `item`; 1 when nothing (or something outside the
// list) is selected, which the streaming start raises to its minimum.
int32_t bufferCountOfItem(int item);
// The item showing `count`, or -1 when the list has no such entry (a
// stored count of 3 leaves the list without a selection).
int bufferItemOfCount(int32_t count);

// ---- device systems and their controls ----

constexpr uint32_t kSystemDirectSound = 0, kSystemAsio = 1, kSystemWasapi = 2;

// Whether control `id` of the dialog is enabled while `system` is chosen:
// the DirectSound group with DirectSound, the ASIO group with ASIO, every
// other control (tempo, buttons, radios, unlabelled labels) always.
bool audioControlEnabled(int id, uint32_t system);
// The controls of both groups, for the window code to walk.
extern const int kAudioGroupControls[];
extern const int kAudioGroupControlCount;

// The device index of a device list's item: item 0 is "<none>", so item
// k is device k - 1; no selection (or any item below 1) means none (-1).
int32_t deviceIndexOfItem(int item);

// ---- Accept ----

// What the controls hold when Accept is pressed. Items are -1 when the
// list has no selection; the texts are the edits' contents.
struct AudioDialogControls {
    bool asioChecked = false;
    bool wasapiChecked = false;
    int wasapiInputItem = -1;   // item 0: "Default device"
    int wasapiOutputItem = -1;
    int wasapiModeItem = -1;    // "Shared", "Shared, low latency", "Exclusive"
    int outputItem = -1;
    int inputItem = -1;
    int formatItem = -1;
    intptr_t formatItemData = -1;  // the selected format item's data
    int bufferItem = -1;
    int asioItem = -1;
    const char* latencyText = "";
    const char* delayText = "";
    const char* tempoText = "";
};

// What Accept applies. The edits are read and limited again here: Enter on
// the default button reaches Accept without the edits ever losing the
// focus, so nothing typed may pass unlimited.
struct AudioDialogChoice {
    uint32_t system = kSystemDirectSound;
    int32_t outputIndex = -1;
    int32_t inputIndex = -1;
    int formatIndex = 5;
    uint32_t latencyMs = 40;
    int32_t buffers = 1;
    uint8_t outputDelay = 2;
    float tempo = 120.0f;
    int32_t asioDriver = -1;  // position in the driver list, -1 for none
    int32_t wasapiInput = -1;   // position in the endpoint list, -1 for the default device
    int32_t wasapiOutput = -1;
    uint32_t wasapiMode = 0;
};

// The WASAPI group's read-out: what the last start obtained ("Shared:
// input 10.0 ms, output 20.0 ms, period 10.0 ms"; `modeName` names the
// mode obtained), or how to see it.
struct WasapiStream;
void formatWasapiReadout(const WasapiStream* stream, const char* modeName, char* out, size_t size);

// `currentFormat` stands when no format (or an item with data outside the
// table) is selected.
AudioDialogChoice audioChoiceFromControls(const AudioDialogControls& controls, int currentFormat);

// The "Recording:" dialog's platform-free pieces: the names of the sixteen
// record formats, the time and size read-outs of a running take, reading
// the maximum recording time the user typed, which controls may be used in
// which state, and the checks the dialog makes before it opens.
// recording_win32.cpp fills the controls and drives the recorder.
//
// The maximum time comes from an edit control: untrusted, it may be empty,
// huge, negative or not a number at all. Frame counts and rates come from
// the recorder and may be 0.
//
// Main (user-interface) thread only.
#pragma once

#include <cstddef>
#include <cstdint>

constexpr int kRecordingFormatCount = 16;
constexpr uint16_t kRecordingMinSeconds = 10, kRecordingMaxSeconds = 600;

// Rate, bits and channels of record format `index`: rate by index AND 3
// (32000, 44100, 48000, 96000), stereo when bit 2 is set, 16 bits below
// index 8 and 24 from 8 on. An index outside 0 ... 15 gives zeros.
struct RecordingFormatRow {
    uint32_t rate = 0;
    int bits = 0;
    int channels = 0;
};
RecordingFormatRow recordingFormatRow(int index);

// "44100 smp/sec, 16 Bits, Stereo" (or ", Mono"); empty outside the table.
void recordingFormatName(int index, char* out, size_t size);
// A selection from the list, limited to 0 ... 15 (the list may report -1).
int recordingLimitFormat(int index);

// The recorded time: "%d min, %d sec " from frames / rate; the idle text
// "0 min, 0 sec" for a rate of 0.
void recordingTimeText(uint32_t frames, uint32_t rate, char* out, size_t size);
// The recorded size: "%.1f Mbytes" from frames x block alignment / 1048576.
void recordingSizeText(uint32_t frames, uint32_t blockAlign, char* out, size_t size);
constexpr const char* kRecordingIdleTime = "0 min, 0 sec";
constexpr const char* kRecordingIdleSize = "0 Mb";

// The number at the start of what was typed ("200 sec" is 200), limited to
// 10 ... 600; no number at all counts as 0 and gives 10.
uint16_t recordingParseSeconds(const char* typed);
// "%d sec", as the edit shows the maximum time.
void recordingSecondsText(uint16_t seconds, char* out, size_t size);

// Start/stop button captions. An abandoned start leaves the shorter one.
constexpr const char* kRecordingStartText = "Start Recording";
constexpr const char* kRecordingStopText = "Stop Recording";
constexpr const char* kRecordingAbandonedText = "Start Record";
constexpr const char* kRecordingNoTarget = "<no file selected>";

// Which controls may be used: while a take runs only Start/Stop and Done;
// otherwise the accompaniment options need an open accompaniment and the
// maximum time the memory mode.
struct RecordingControls {
    bool target = false;                 // 1108 and 1106 "..."
    bool formats = false;                // 1048
    bool accompanimentOptions = false;   // 1115, 1116
    bool ramMode = false;                // 1119
    bool maxTime = false;                // 1002 and its label 1005
};
RecordingControls recordingControls(bool recording, bool accompanimentOpen, bool ramMode);

// Whether live input can run for a recording, before the dialog opens:
// DirectSound needs an output (notice 136) and an input device (notice
// 137), ASIO an open driver (notice 187). 0 when it can; otherwise minus
// the notice, as live input's own start reports it.
int32_t recordingOpenCheck(bool asio, int32_t outputIndex, int32_t inputIndex, int32_t asioIndex);

// The question before a start replaces an existing file the user did not
// just confirm in the save dialog.
constexpr const char* kRecordingOverwriteCaption = "Record";
void recordingOverwriteQuestion(const char* path, char* out, size_t size);
// The store question of the memory mode, and the offer after a failed store.
constexpr const char* kRecordingStoreCaption = "Record";
constexpr const char* kRecordingStoreQuestion = "The record now should be stored to disk.\nContinue?";
constexpr const char* kRecordingStoreAgainQuestion =
    "The recording is still in memory.\nDo you want to store it to another file?";

// Live input without windows: what the refresh timer does with each of the
// engine's status bits, and how the accompaniment bar shows the player.
// The timer (liveinput_win32.cpp) and the bar (accompanimentbar_win32.cpp)
// carry these out on the main thread.
#pragma once

#include <cstdint>

// The status bits the refresh timer acts on, in the order it takes them.
// (STATUS_RECORD_DISCARDED is the recorder's own: its stop clears it.)
extern const uint32_t kLiveStatusOrder[];
constexpr int kLiveStatusCount = 8;

// What one status bit, once taken from engineStatus, leads to.
struct LiveStatusStep {
    bool stopRecording = false;  // recorderStop(), its result reported
    bool stopLiveInput = false;  // StopLiveInput(false), its result reported (meters close)
    bool restart = false;        // StopLiveInput(true), then StartLiveInput (meters stay)
    int32_t message = 0;         // reported last; 0: none
};

// `recording`: a recording runs at the moment the bit is taken. A device
// error stops the recording when one runs (the recorder stops live input
// itself), otherwise live input. A lost device restarts live input instead
// when it followed the system's default devices (`followsDefault`): the
// take goes on.
LiveStatusStep liveStatusStep(uint32_t bit, bool recording, bool followsDefault = false);

// Messages of the refresh timer.
constexpr int32_t kLiveRecordWriteError = 179;   // "Error writing file"
constexpr int32_t kLiveInputFormatError = 245;
constexpr int32_t kLiveOutputFormatError = 247;
constexpr int32_t kLiveCaptureError = 254;
constexpr int32_t kLivePlaybackError = 255;
constexpr int32_t kLiveDeviceLost = 273;        // "The sound device was removed or changed. Live input stopped."
constexpr int32_t kLiveDeviceFollowed = -274;   // "... Live input goes on with the default device."

// How the accompaniment bar shows the player.
struct AccompanimentBarView {
    bool titleEnabled = false;
    bool buttonEnabled = false;
    bool trackbarEnabled = false;
    bool showsPlaying = false;   // "||" and the stop picture; otherwise "|>" and the play picture
    const char* buttonText = "|>";
    int picture = 0;             // IDB_PLAY or IDB_STOP
};

// `stopPending`: a stop was asked for and the audio thread has not yet
// served it. The button shows playing only while playing with no stop
// pending; the trackbar moves only while the button offers play.
AccompanimentBarView accompanimentBarView(bool open, bool playing, bool stopPending, bool liveInput);

// The trackbar (0 ... 1000) for a play position in a file of `dataSize`
// bytes; 0 for an empty file, never beyond 1000.
int accompanimentTrackbarPosition(uint64_t position, uint64_t dataSize);

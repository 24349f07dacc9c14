#include "app/liveinput.h"

#include "app/resource.h"
#include "engine/engine.h"

const uint32_t kLiveStatusOrder[kLiveStatusCount] = {
    STATUS_RECORD_WRITE_ERROR, STATUS_RESTART_REQUEST, STATUS_INPUT_FORMAT_ERROR, STATUS_OUTPUT_FORMAT_ERROR,
    STATUS_CAPTURE_ERROR,      STATUS_PLAYBACK_ERROR,  STATUS_DEVICE_LOST,         STATUS_RECORD_FULL,
};

LiveStatusStep liveStatusStep(uint32_t bit, bool recording, bool followsDefault) {
    struct DeviceRow {
        uint32_t bit;
        int32_t message;
    };
    static const DeviceRow deviceRows[] = {
        {STATUS_INPUT_FORMAT_ERROR, kLiveInputFormatError},
        {STATUS_OUTPUT_FORMAT_ERROR, kLiveOutputFormatError},
        {STATUS_CAPTURE_ERROR, kLiveCaptureError},
        {STATUS_PLAYBACK_ERROR, kLivePlaybackError},
    };
    LiveStatusStep step;
    if (bit == STATUS_RECORD_WRITE_ERROR) {
        step.stopRecording = true;
        step.message = kLiveRecordWriteError;
    } else if (bit == STATUS_RESTART_REQUEST) {
        step.restart = true;
    } else if (bit == STATUS_DEVICE_LOST && followsDefault) {
        step.restart = true;
        step.message = kLiveDeviceFollowed;
    } else if (bit == STATUS_DEVICE_LOST) {
        step.stopRecording = recording;
        step.stopLiveInput = !recording;
        step.message = kLiveDeviceLost;
    } else if (bit == STATUS_RECORD_FULL) {
        step.stopRecording = true;
    } else {
        for (const DeviceRow& row : deviceRows) {
            if (row.bit != bit) continue;
            step.stopRecording = recording;
            step.stopLiveInput = !recording;
            step.message = row.message;
        }
    }
    return step;
}

AccompanimentBarView accompanimentBarView(bool open, bool playing, bool stopPending, bool liveInput) {
    AccompanimentBarView v;
    v.showsPlaying = open && playing && !stopPending;
    v.titleEnabled = open;
    v.buttonEnabled = open && liveInput;
    v.trackbarEnabled = open && !v.showsPlaying;
    v.buttonText = v.showsPlaying ? "||" : "|>";
    v.picture = v.showsPlaying ? IDB_STOP : IDB_PLAY;
    return v;
}

int accompanimentTrackbarPosition(uint64_t position, uint64_t dataSize) {
    if (dataSize == 0) return 0;
    const double p = static_cast<double>(position) / static_cast<double>(dataSize) * 1000.0;
    if (!(p > 0.0)) return 0;
    return p >= 1000.0 ? 1000 : static_cast<int>(p);
}

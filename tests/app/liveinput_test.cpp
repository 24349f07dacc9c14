// Live input without windows: what the refresh timer makes of each status
// bit, and how the accompaniment bar shows the player.
#include <gtest/gtest.h>

#include <cstring>

#include "app/liveinput.h"
#include "app/resource.h"
#include "engine/engine.h"

namespace {

TEST(LiveStatus, EveryBitTheTimerActsOnComesOnceInTheOrderOfUrgency) {
    uint32_t seen = 0;
    for (int i = 0; i < kLiveStatusCount; ++i) {
        EXPECT_EQ(0u, seen & kLiveStatusOrder[i]) << i;
        seen |= kLiveStatusOrder[i];
    }
    // The recorder's discarded bit is its own; the timer leaves it alone.
    EXPECT_EQ(0x1FFu & ~static_cast<uint32_t>(STATUS_RECORD_DISCARDED), seen);
    EXPECT_EQ(static_cast<uint32_t>(STATUS_RECORD_WRITE_ERROR), kLiveStatusOrder[0]);
    EXPECT_EQ(static_cast<uint32_t>(STATUS_RESTART_REQUEST), kLiveStatusOrder[1]);
    EXPECT_EQ(static_cast<uint32_t>(STATUS_RECORD_FULL), kLiveStatusOrder[kLiveStatusCount - 1]);
}

TEST(LiveStatus, ADeviceErrorStopsTheRecordingWhenOneRunsOtherwiseLiveInputAndSaysWhich) {
    const struct {
        uint32_t bit;
        int32_t message;
    } rows[] = {{STATUS_INPUT_FORMAT_ERROR, 245},
                {STATUS_OUTPUT_FORMAT_ERROR, 247},
                {STATUS_CAPTURE_ERROR, 254},
                {STATUS_PLAYBACK_ERROR, 255},
                {STATUS_DEVICE_LOST, 273}};
    for (const auto& row : rows) {
        LiveStatusStep idle = liveStatusStep(row.bit, false);
        EXPECT_TRUE(idle.stopLiveInput) << row.bit;
        EXPECT_FALSE(idle.stopRecording) << row.bit;
        EXPECT_FALSE(idle.restart) << row.bit;
        EXPECT_EQ(row.message, idle.message) << row.bit;
        LiveStatusStep recording = liveStatusStep(row.bit, true);
        EXPECT_TRUE(recording.stopRecording) << row.bit;  // the recorder stops live input itself
        EXPECT_FALSE(recording.stopLiveInput) << row.bit;
        EXPECT_EQ(row.message, recording.message) << row.bit;
    }
}

// A lost device that was the system's default is followed to the new
// default: live input restarts (a take goes on) and a notice says so.
TEST(LiveStatus, ALostDefaultDeviceRestartsLiveInputWithANoticeWhateverRuns) {
    for (bool recording : {false, true}) {
        const LiveStatusStep step = liveStatusStep(STATUS_DEVICE_LOST, recording, true);
        EXPECT_TRUE(step.restart);
        EXPECT_FALSE(step.stopRecording || step.stopLiveInput);
        EXPECT_EQ(-274, step.message);
    }
    // Following the default changes nothing for the other device errors.
    EXPECT_TRUE(liveStatusStep(STATUS_CAPTURE_ERROR, false, true).stopLiveInput);
}

TEST(LiveStatus, RecorderBitsStopTheRecordingAndOnlyAWriteErrorSaysSo) {
    for (bool recording : {false, true}) {
        LiveStatusStep write = liveStatusStep(STATUS_RECORD_WRITE_ERROR, recording);
        EXPECT_TRUE(write.stopRecording);
        EXPECT_FALSE(write.stopLiveInput);
        EXPECT_EQ(179, write.message);
        LiveStatusStep full = liveStatusStep(STATUS_RECORD_FULL, recording);
        EXPECT_TRUE(full.stopRecording);
        EXPECT_EQ(0, full.message);
    }
}

TEST(LiveStatus, ARestartRequestRestartsQuietlyAndUnknownBitsDoNothing) {
    LiveStatusStep restart = liveStatusStep(STATUS_RESTART_REQUEST, true);
    EXPECT_TRUE(restart.restart);
    EXPECT_FALSE(restart.stopRecording);
    EXPECT_FALSE(restart.stopLiveInput);
    EXPECT_EQ(0, restart.message);
    for (uint32_t bit : {static_cast<uint32_t>(STATUS_RECORD_DISCARDED), 0x200u, 0u}) {
        LiveStatusStep none = liveStatusStep(bit, false);
        EXPECT_FALSE(none.restart || none.stopRecording || none.stopLiveInput || none.message) << bit;
    }
}

TEST(AccompanimentBar, WithNothingOpenEveryControlIsDisabledAndOffersPlay) {
    for (bool live : {false, true}) {
        AccompanimentBarView v = accompanimentBarView(false, true, false, live);
        EXPECT_FALSE(v.titleEnabled || v.buttonEnabled || v.trackbarEnabled || v.showsPlaying);
        EXPECT_STREQ("|>", v.buttonText);
        EXPECT_EQ(IDB_PLAY, v.picture);
    }
}

TEST(AccompanimentBar, TheButtonNeedsLiveInputAndShowsPlayingOnlyWithNoStopPending) {
    AccompanimentBarView stopped = accompanimentBarView(true, false, false, false);
    EXPECT_TRUE(stopped.titleEnabled);
    EXPECT_FALSE(stopped.buttonEnabled);  // stopping live input leaves it disabled, showing play
    EXPECT_TRUE(stopped.trackbarEnabled);
    EXPECT_STREQ("|>", stopped.buttonText);
    EXPECT_EQ(IDB_PLAY, stopped.picture);

    AccompanimentBarView playing = accompanimentBarView(true, true, false, true);
    EXPECT_TRUE(playing.buttonEnabled);
    EXPECT_FALSE(playing.trackbarEnabled);  // no seeking while playing
    EXPECT_STREQ("||", playing.buttonText);
    EXPECT_EQ(IDB_STOP, playing.picture);

    AccompanimentBarView stopping = accompanimentBarView(true, true, true, true);
    EXPECT_FALSE(stopping.showsPlaying);
    EXPECT_TRUE(stopping.trackbarEnabled);
    EXPECT_STREQ("|>", stopping.buttonText);
    EXPECT_EQ(IDB_PLAY, stopping.picture);
}

TEST(AccompanimentBar, TheTrackbarFollowsThePlayPositionInThousandths) {
    EXPECT_EQ(0, accompanimentTrackbarPosition(0, 1000));
    EXPECT_EQ(500, accompanimentTrackbarPosition(500, 1000));
    EXPECT_EQ(333, accompanimentTrackbarPosition(1, 3));      // truncated
    EXPECT_EQ(999, accompanimentTrackbarPosition(999999, 1000000));
    EXPECT_EQ(1000, accompanimentTrackbarPosition(1000, 1000));
    EXPECT_EQ(0, accompanimentTrackbarPosition(10, 0));       // no division by an empty file
    EXPECT_EQ(1000, accompanimentTrackbarPosition(5000, 1000));  // never beyond the range
    EXPECT_EQ(750, accompanimentTrackbarPosition(3000000000ull, 4000000000ull));  // beyond 32 bits
}

}  // namespace

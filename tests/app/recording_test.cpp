// The Recording dialog's model: format names, read-outs, the typed maximum
// time (untrusted text), which controls may be used, and the checks before
// the dialog opens.
#include <gtest/gtest.h>

#include <string>

#include "app/recording.h"

namespace {

std::string formatName(int index) {
    char text[64];
    recordingFormatName(index, text, sizeof text);
    return text;
}

std::string timeText(uint32_t frames, uint32_t rate) {
    char text[64];
    recordingTimeText(frames, rate, text, sizeof text);
    return text;
}

std::string sizeText(uint32_t frames, uint32_t align) {
    char text[64];
    recordingSizeText(frames, align, text, sizeof text);
    return text;
}

TEST(RecordingFormats, EveryRowHasItsRateBitsAndChannelsInItsName) {
    EXPECT_EQ("32000 smp/sec, 16 Bits, Mono", formatName(0));
    EXPECT_EQ("44100 smp/sec, 16 Bits, Stereo", formatName(5));
    EXPECT_EQ("96000 smp/sec, 16 Bits, Stereo", formatName(7));
    EXPECT_EQ("48000 smp/sec, 24 Bits, Mono", formatName(10));
    EXPECT_EQ("44100 smp/sec, 24 Bits, Stereo", formatName(13));
    EXPECT_EQ("96000 smp/sec, 24 Bits, Stereo", formatName(15));
    for (int i = 0; i < kRecordingFormatCount; ++i) {
        const RecordingFormatRow row = recordingFormatRow(i);
        EXPECT_EQ(i >= 8 ? 24 : 16, row.bits) << i;
        EXPECT_EQ((i & 4) ? 2 : 1, row.channels) << i;
    }
}

TEST(RecordingFormats, IndexesOutsideTheTableHaveNoNameAndASelectionIsLimited) {
    EXPECT_EQ("", formatName(-1));
    EXPECT_EQ("", formatName(16));
    EXPECT_EQ(0u, recordingFormatRow(99).rate);
    EXPECT_EQ(0, recordingLimitFormat(-1));  // CB_ERR
    EXPECT_EQ(15, recordingLimitFormat(16));
    EXPECT_EQ(9, recordingLimitFormat(9));
    char tiny[6];
    recordingFormatName(5, tiny, sizeof tiny);
    EXPECT_STREQ("44100", tiny);
}

TEST(RecordingReadouts, TimeSplitsIntoMinutesAndSecondsWithItsTrailingSpace) {
    EXPECT_EQ("0 min, 0 sec ", timeText(0, 44100));
    EXPECT_EQ("0 min, 59 sec ", timeText(44100 * 60 - 1, 44100));
    EXPECT_EQ("1 min, 0 sec ", timeText(44100 * 60, 44100));
    EXPECT_EQ("10 min, 0 sec ", timeText(441000 * 60, 44100));
    EXPECT_EQ("1623 min, 11 sec ", timeText(0xFFFFFFFFu, 44100));  // 97391 s
    EXPECT_EQ("0 min, 0 sec", timeText(12345, 0));  // no format yet: the idle text
}

TEST(RecordingReadouts, SizeCountsMebibytesOfWholeFrames) {
    EXPECT_EQ("0.0 Mbytes", sizeText(0, 4));
    EXPECT_EQ("1.7 Mbytes", sizeText(441000, 4));   // 1764000 bytes
    EXPECT_EQ("1.0 Mbytes", sizeText(174763, 6));   // 1048578 bytes
    EXPECT_EQ("24576.0 Mbytes", sizeText(0xFFFFFFFFu, 6));
    EXPECT_EQ("4096.0 Mbytes", sizeText(0x80000000u, 2));  // no 32-bit overflow
}

TEST(RecordingMaxTime, TheNumberTypedIsLimitedToTenToSixHundredSeconds) {
    EXPECT_EQ(200, recordingParseSeconds("200 sec"));
    EXPECT_EQ(200, recordingParseSeconds("  200"));
    EXPECT_EQ(10, recordingParseSeconds("5"));
    EXPECT_EQ(600, recordingParseSeconds("1000"));
    EXPECT_EQ(10, recordingParseSeconds("10"));
    EXPECT_EQ(600, recordingParseSeconds("600 sec"));
    EXPECT_EQ(45, recordingParseSeconds("+45"));
}

TEST(RecordingMaxTime, TextThatIsNoNumberOrTooLongForOneStaysInsideTheLimits) {
    EXPECT_EQ(10, recordingParseSeconds(""));
    EXPECT_EQ(10, recordingParseSeconds(nullptr));
    EXPECT_EQ(10, recordingParseSeconds("sec"));
    EXPECT_EQ(10, recordingParseSeconds("-300"));
    EXPECT_EQ(600, recordingParseSeconds("99999999999999999999999999999"));
    EXPECT_EQ(600, recordingParseSeconds("4294967496"));  // 200 + 2^32: no wrap to 200
    EXPECT_EQ(10, recordingParseSeconds("x200"));
    char text[16];
    recordingSecondsText(600, text, sizeof text);
    EXPECT_STREQ("600 sec", text);
}

TEST(RecordingControlsState, ATakeLeavesOnlyStartStopAndDone) {
    const RecordingControls running = recordingControls(true, true, true);
    EXPECT_FALSE(running.target);
    EXPECT_FALSE(running.formats);
    EXPECT_FALSE(running.accompanimentOptions);
    EXPECT_FALSE(running.ramMode);
    EXPECT_FALSE(running.maxTime);
}

TEST(RecordingControlsState, IdleOptionsFollowTheAccompanimentAndTheMemoryMode) {
    RecordingControls idle = recordingControls(false, false, false);
    EXPECT_TRUE(idle.target);
    EXPECT_TRUE(idle.formats);
    EXPECT_TRUE(idle.ramMode);
    EXPECT_FALSE(idle.accompanimentOptions);
    EXPECT_FALSE(idle.maxTime);
    idle = recordingControls(false, true, true);
    EXPECT_TRUE(idle.accompanimentOptions);
    EXPECT_TRUE(idle.maxTime);
}

TEST(RecordingOpenCheck, LiveInputMustBeAbleToRunForTheDialogToOpen) {
    EXPECT_EQ(0, recordingOpenCheck(false, 0, 0, -1));
    EXPECT_EQ(-136, recordingOpenCheck(false, -1, -1, 3));  // the output is named first
    EXPECT_EQ(-137, recordingOpenCheck(false, 2, -1, 3));
    EXPECT_EQ(-187, recordingOpenCheck(true, 0, 0, -1));
    EXPECT_EQ(0, recordingOpenCheck(true, -1, -1, 0));  // ASIO needs no DirectSound device
}

TEST(RecordingQuestions, TheOverwriteQuestionNamesTheFile) {
    char text[128];
    recordingOverwriteQuestion("C:\\takes\\a.wav", text, sizeof text);
    EXPECT_STREQ("C:\\takes\\a.wav already exists.\nDo you want to replace it?", text);
}

}  // namespace

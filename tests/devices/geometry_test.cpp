// The block geometry the settings give.
#include <gtest/gtest.h>

#include "app/messages.h"
#include "app/report.h"
#include "devices/dsgeometry.h"

TEST(DsGeometry, FortyMillisecondsOfCdAudioInTwoBuffers) {
    const DsGeometry g = dsGeometry(5, 40, 2);
    EXPECT_EQ(1764u, g.blockFrames);
    EXPECT_EQ(7056u, g.blockBytes);
    EXPECT_EQ(14112u, g.ringBytes);
    EXPECT_EQ(7055u, dsNotificationOffset(g, 0));
    EXPECT_EQ(14111u, dsNotificationOffset(g, 1));
    // 96 kHz, 24-bit mono (entry 11), 5 ms.
    const DsGeometry h = dsGeometry(11, 5, 3);
    EXPECT_EQ(480u, h.blockFrames);
    EXPECT_EQ(1440u, h.blockBytes);
    EXPECT_EQ(1, dsFormatRecord(11).nChannels);
    EXPECT_EQ(18, dsFormatRecord(11).cbSize);
    EXPECT_EQ(288000u, dsFormatRecord(11).nAvgBytesPerSec);
}

TEST(DsGeometry, BufferCountsAreClampedAtStart) {
    EXPECT_EQ(2, dsClampBuffers(1));
    EXPECT_EQ(2, dsClampBuffers(-5));
    EXPECT_EQ(64, dsClampBuffers(70));
    EXPECT_EQ(7, dsClampBuffers(7));
}

TEST(DirectSoundResults, ShowTheirOwnMessages) {
    EXPECT_EQ(139, reportedMessage(static_cast<int32_t>(0x88780064)));  // bad format
    EXPECT_EQ(138, reportedMessage(static_cast<int32_t>(0x8878000A)));  // allocated elsewhere
    EXPECT_EQ(143, reportedMessage(static_cast<int32_t>(0x80070057)));
    EXPECT_STREQ("DirectX: Sound format not supported", messageText(reportedMessage(static_cast<int32_t>(0x88780064))));
    EXPECT_EQ(237, reportedMessage(237));
    EXPECT_EQ(-136, reportedMessage(-136));
    EXPECT_EQ(0, reportedMessage(0));
}

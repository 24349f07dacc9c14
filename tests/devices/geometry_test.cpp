// The block geometry the settings give.
#include <gtest/gtest.h>

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

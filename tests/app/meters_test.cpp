// The meters' model: segments lit by a peak and their colours, the load
// bar and its percentage, the read-out's layout and the windows' places.
// The figures come from the audio thread unchecked, so the odd ones
// (NaN, infinities, negatives) are tried alongside the ordinary ones.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <string>

#include "app/meters.h"

namespace {

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
constexpr float kInf = std::numeric_limits<float>::infinity();

TEST(MeterSegments, PeaksLightTheDocumentedNumberOfSegments) {
    EXPECT_EQ(meterLitSegments(0.5f), 39);  // -6.02 dB: the last one in the peak zone
    EXPECT_EQ(meterLitSegments(0.1f), 32);  // -20 dB
    EXPECT_EQ(meterLitSegments(0.0f), 0);
    EXPECT_EQ(meterLitSegments(1.0f), 43);
    EXPECT_EQ(meterLitSegments(2.0f), 43);
    EXPECT_EQ(meterLitSegments(0.0001f), 0);  // -80 dB
    EXPECT_EQ(meterLitSegments(0.00001f), 0);  // below the floor
    // The first peak-zone segment lights from about -7.4 dB.
    EXPECT_EQ(meterLitSegments(std::pow(10.0f, -7.5f / 20.0f)), 38);
    EXPECT_EQ(meterLitSegments(std::pow(10.0f, -7.3f / 20.0f)), 39);
}

TEST(MeterSegments, FiguresNoPeakCanBeStayInsideTheBar) {
    EXPECT_EQ(meterLitSegments(kNaN), 0);
    EXPECT_EQ(meterLitSegments(-kNaN), 0);
    EXPECT_EQ(meterLitSegments(-0.5f), 0);
    EXPECT_EQ(meterLitSegments(kInf), 43);
    EXPECT_EQ(meterLitSegments(-kInf), 0);
    EXPECT_EQ(meterLitSegments(std::numeric_limits<float>::denorm_min()), 0);
    EXPECT_EQ(meterLitSegments(std::numeric_limits<float>::max()), 43);
}

TEST(MeterSegments, LitSegmentsBelowThePeakZoneAreGreenInItRedAndTheRestUnlit) {
    EXPECT_EQ(meterSegmentColour(0, 39), kSegmentLit);
    EXPECT_EQ(meterSegmentColour(37, 39), kSegmentLit);
    EXPECT_EQ(meterSegmentColour(38, 39), kSegmentPeak);
    EXPECT_EQ(meterSegmentColour(39, 39), kSegmentUnlit);
    EXPECT_EQ(meterSegmentColour(42, 43), kSegmentPeak);
    EXPECT_EQ(meterSegmentColour(0, 0), kSegmentUnlit);
}

TEST(MeterSegments, SegmentsAreFourPixelsWideOnePixelApartInTwoRows) {
    MeterRect r = meterSegmentRect(0, 0);
    EXPECT_EQ(r.left, 65);
    EXPECT_EQ(r.right, 69);
    EXPECT_EQ(r.top, 11);
    EXPECT_EQ(r.bottom, 22);
    r = meterSegmentRect(1, 42);
    EXPECT_EQ(r.left, 275);
    EXPECT_EQ(r.right, 279);
    EXPECT_EQ(r.top, 34);
    EXPECT_EQ(r.bottom, 45);
    EXPECT_LE(r.right, kMeterClientWidth);
    EXPECT_EQ(meterSegmentRect(0, 1).left - meterSegmentRect(0, 0).right, 1);
}

TEST(LoadReadout, BarColumnsFollowTheFigureTruncatedAndClamped) {
    EXPECT_EQ(loadBarColumns(37.5f), 37);
    EXPECT_EQ(loadBarColumns(120.0f), 100);
    EXPECT_EQ(loadBarColumns(100.0f), 100);
    EXPECT_EQ(loadBarColumns(0.0f), 0);
    EXPECT_EQ(loadBarColumns(0.99f), 0);
    EXPECT_EQ(loadBarColumns(-5.0f), 0);
    EXPECT_EQ(loadBarColumns(kNaN), 0);
    EXPECT_EQ(loadBarColumns(kInf), 100);
    EXPECT_EQ(loadBarColumns(-kInf), 0);
    EXPECT_EQ(loadBarColumns(3e38f), 100);  // would overflow an int unclamped
}

TEST(LoadReadout, PercentageShowsOneDecimalAtMostHundredAndWipesALongerText) {
    char text[40];
    formatLoadPercent(37.5f, text, sizeof text);
    EXPECT_EQ(std::string(text), "37.5 %               ");
    formatLoadPercent(120.0f, text, sizeof text);
    EXPECT_EQ(std::string(text).substr(0, 7), "100.0 %");
    formatLoadPercent(kNaN, text, sizeof text);
    EXPECT_EQ(std::string(text).substr(0, 5), "0.0 %");
    formatLoadPercent(-3.0f, text, sizeof text);
    EXPECT_EQ(std::string(text).substr(0, 5), "0.0 %");
    // A short buffer is cut, never overrun.
    char small[4] = {'x', 'x', 'x', 'x'};
    formatLoadPercent(37.5f, small, 3);
    EXPECT_STREQ(small, "37");
    formatLoadPercent(37.5f, nullptr, 10);
}

TEST(LoadReadout, LayoutPlacesTheLabelBoxBarAndPercentageFromTheBottomRight) {
    const LoadReadoutLayout l = loadReadoutLayout(800, 600, 60);
    ASSERT_TRUE(l.visible);
    EXPECT_EQ(l.textX, 570);
    EXPECT_EQ(l.textY, 570);
    EXPECT_EQ(l.box.left, 635);
    EXPECT_EQ(l.box.right, 737);
    EXPECT_EQ(l.box.top, 570);
    EXPECT_EQ(l.box.bottom, 586);
    EXPECT_EQ(l.barX, 636);
    EXPECT_EQ(l.barY, 571);
    EXPECT_EQ(l.barX + l.barWidth, l.box.right - 1);  // the bar fills the box inside its edge
    EXPECT_EQ(l.barY + l.barHeight, l.box.bottom - 1);
    EXPECT_EQ(l.percentX, 741);
    EXPECT_EQ(l.percentY, 569);
}

TEST(LoadReadout, AFrameNarrowerThanSixHundredPixelsShowsNone) {
    EXPECT_FALSE(loadReadoutLayout(599, 600, 60).visible);
    EXPECT_TRUE(loadReadoutLayout(600, 600, 60).visible);
    EXPECT_FALSE(loadReadoutLayout(0, 0, 0).visible);
    EXPECT_EQ(loadReadoutLayout(600, 600, -40).box.left, 375);  // a nonsense width counts as none
}

TEST(MeterWindows, TitlesSizesAndPositionsFollowWhichMeter) {
    MeterWindowPlace p = meterWindowPlace(kOutputMeter, 40, 170, 3, 3, 15);
    EXPECT_STREQ(p.title, "Output VU Meter");
    EXPECT_EQ(p.x, 40);
    EXPECT_EQ(p.y, 170);
    EXPECT_EQ(p.width, 306);
    EXPECT_EQ(p.height, 77);
    p = meterWindowPlace(kInputMeter, -120, -5, 3, 3, 15);
    EXPECT_STREQ(p.title, "Input VU Meter");
    EXPECT_EQ(p.x, -120);  // partly off the screen: reopens there
    EXPECT_EQ(p.y, -5);
}

TEST(MeterWindows, EachMeterRecordsAndReopensAtItsOwnPairOfTheSettingsRecord) {
    WindowPositions w;
    int x = 0, y = 0;
    meterPosition(w, kInputMeter, x, y);
    EXPECT_EQ(x, 40);
    EXPECT_EQ(y, 100);
    meterPosition(w, kOutputMeter, x, y);
    EXPECT_EQ(y, 170);

    recordMeterPosition(w, kOutputMeter, -37, 900);
    recordMeterPosition(w, 5, 1, 1);  // no such meter: nothing recorded
    EXPECT_EQ(w.inputMeterX, 40);
    EXPECT_EQ(w.inputMeterY, 100);
    meterPosition(w, kOutputMeter, x, y);
    EXPECT_EQ(x, -37);
    EXPECT_EQ(y, 900);
    EXPECT_EQ(w.masterX, WindowPositions{}.masterX);

    // Round trip through ww002: the meter reopens where it was moved to.
    uint8_t stored[kWw002Size];
    encodeWindowPositions(w, stored);
    WindowPositions back;
    ASSERT_TRUE(decodeWindowPositions(kRegBinary, stored, sizeof stored, back));
    meterPosition(back, kOutputMeter, x, y);
    EXPECT_EQ(x, -37);
    EXPECT_EQ(y, 900);
}

}  // namespace

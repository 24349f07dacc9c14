// The gate pane's model: each knob's mapping between the engine's value and
// the knob's position, what the read-outs say, and the DC remover switch.
#include <gtest/gtest.h>

#include <cstring>
#include <limits>
#include <set>
#include <string>

#include "app/gatepane.h"

namespace {

std::string readout(uint32_t id, const GateValues& v, bool trailing) {
    char text[32];
    gateReadout(id, v, trailing, text, sizeof text);
    return text;
}

TEST(GateKnobs, AreCreatedOutputInputAttackReleaseThresholdAtTheirPlaces) {
    const uint16_t order[] = {118, 119, 120, 117, 116};
    for (size_t i = 0; i < kGateKnobCount; ++i) EXPECT_EQ(kGateKnobs[i].id, order[i]);
    const GateKnobRow* threshold = gateKnobRow(116);
    ASSERT_NE(threshold, nullptr);
    EXPECT_EQ(threshold->x, 24);
    EXPECT_EQ(threshold->y, 170);
    EXPECT_EQ(threshold->readoutY, 174);
    EXPECT_EQ(gateKnobRow(115), nullptr);
    EXPECT_EQ(gateKnobRow(121), nullptr);
    EXPECT_EQ(gateKnobRow(0x10000 + 118), nullptr) << "only the low 16 bits of a command are an identifier";
}

TEST(GateKnobs, OutputKnobAtItsLimitsGivesFourTimesAndSilence) {
    GateValues v;
    ASSERT_TRUE(gateApplyKnob(kKnobOutput, 10000, 10000, v));
    EXPECT_EQ(v.masterGain, 4.0f);
    EXPECT_EQ(readout(kKnobOutput, v, true), "12.0  ");
    ASSERT_TRUE(gateApplyKnob(kKnobOutput, 0, 10000, v));
    EXPECT_EQ(v.masterGain, 0.0f);
    EXPECT_EQ(readout(kKnobOutput, v, true), "-inf.   ");
    ASSERT_TRUE(gateApplyKnob(kKnobInput, 2500, 10000, v));
    EXPECT_EQ(v.inputGain, 1.0f);
    EXPECT_EQ(readout(kKnobInput, v, false), "0.0  ");
}

TEST(GateKnobs, ThresholdAtItsMaximumIsAQuarterShownAsMinusTwelve) {
    GateValues v;
    ASSERT_TRUE(gateApplyKnob(kKnobThreshold, 10000, 10000, v));
    EXPECT_EQ(v.gateThreshold, 0.25f);
    EXPECT_EQ(readout(kKnobThreshold, v, true), "-12.0  ");
    EXPECT_EQ(gateKnobValue(kKnobThreshold, v), 10000);
}

TEST(GateKnobs, AttackAndReleaseRunInWholeMillisecondsBetweenTheirLimits) {
    GateValues v;
    ASSERT_TRUE(gateApplyKnob(kKnobAttack, 10000, 10000, v));
    EXPECT_EQ(v.gateAttackMs, 200);
    EXPECT_EQ(readout(kKnobAttack, v, true), "200   ");
    EXPECT_EQ(readout(kKnobAttack, v, false), "200");
    ASSERT_TRUE(gateApplyKnob(kKnobAttack, 0, 10000, v));
    EXPECT_EQ(v.gateAttackMs, 5);
    ASSERT_TRUE(gateApplyKnob(kKnobAttack, 5000, 10000, v));
    EXPECT_EQ(v.gateAttackMs, 102);  // 5000 * 195 / 10000 = 97, truncated
    ASSERT_TRUE(gateApplyKnob(kKnobRelease, 10000, 10000, v));
    EXPECT_EQ(v.gateReleaseMs, 700);
    ASSERT_TRUE(gateApplyKnob(kKnobRelease, 1, 10000, v));
    EXPECT_EQ(v.gateReleaseMs, 5);
    EXPECT_EQ(readout(kKnobRelease, v, false), "5");
}

TEST(GateKnobs, StoredValuesPlaceTheKnobs) {
    GateValues v;  // the first-run values
    EXPECT_EQ(gateKnobValue(kKnobOutput, v), 2500);
    EXPECT_EQ(gateKnobValue(kKnobInput, v), 2500);
    EXPECT_EQ(gateKnobValue(kKnobAttack, v), 0);
    EXPECT_EQ(gateKnobValue(kKnobRelease, v), 1366);  // 10000 * 95 / 695
    EXPECT_EQ(gateKnobValue(kKnobThreshold, v), 156);
    v.gateAttackMs = 200;
    EXPECT_EQ(gateKnobValue(kKnobAttack, v), 10000);
    v.gateReleaseMs = 700;
    EXPECT_EQ(gateKnobValue(kKnobRelease, v), 10000);
    EXPECT_EQ(gateKnobValue(99, v), 0);
}

TEST(GateKnobs, EngineValuesOutsideTheKnobsRangeLandInsideIt) {
    GateValues v;
    v.gateThreshold = 0.5f;  // the settings accept it; the knob stops at 0.25
    v.masterGain = std::numeric_limits<float>::quiet_NaN();
    v.inputGain = std::numeric_limits<float>::infinity();
    v.gateAttackMs = 0;
    v.gateReleaseMs = 65535;
    EXPECT_EQ(gateKnobValue(kKnobThreshold, v), 10000);
    EXPECT_EQ(gateKnobValue(kKnobOutput, v), 0);
    EXPECT_EQ(gateKnobValue(kKnobInput, v), 10000);
    EXPECT_EQ(gateKnobValue(kKnobAttack, v), 0);
    EXPECT_EQ(gateKnobValue(kKnobRelease, v), 10000);
}

TEST(GateKnobs, EveryKnobRoundTripsThroughTheEngineWithinOneStep) {
    for (const GateKnobRow& row : kGateKnobs) {
        for (int32_t position : {0, 1, 2500, 5000, 9999, 10000}) {
            GateValues v;
            ASSERT_TRUE(gateApplyKnob(row.id, position, 10000, v));
            const int32_t back = gateKnobValue(row.id, v);
            // Attack and release are whole milliseconds: one step is 10000/195 or 10000/695.
            const int32_t tolerance = row.id == kKnobAttack ? 52 : (row.id == kKnobRelease ? 15 : 1);
            EXPECT_NEAR(back, position, tolerance) << "knob " << row.id << " at " << position;
        }
    }
}

TEST(GateKnobs, AForgedReportChangesNothing) {
    GateValues v;
    v.masterGain = 0.5f;
    EXPECT_FALSE(gateApplyKnob(kKnobOutput, 5000, 0, v)) << "a zero maximum is never divided by";
    EXPECT_FALSE(gateApplyKnob(kKnobOutput, 5000, -10000, v));
    EXPECT_FALSE(gateApplyKnob(121, 5000, 10000, v));
    EXPECT_EQ(v.masterGain, 0.5f);
    // A value outside the reported range is limited to it.
    ASSERT_TRUE(gateApplyKnob(kKnobOutput, 50000, 10000, v));
    EXPECT_EQ(v.masterGain, 4.0f);
    ASSERT_TRUE(gateApplyKnob(kKnobAttack, std::numeric_limits<int32_t>::min(), 10000, v));
    EXPECT_EQ(v.gateAttackMs, 5);
    ASSERT_TRUE(gateApplyKnob(kKnobRelease, std::numeric_limits<int32_t>::max(), std::numeric_limits<int32_t>::max(), v));
    EXPECT_EQ(v.gateReleaseMs, 700);
}

TEST(GateReadouts, DecibelsOfNothingOrNaNAreMinusInfinity) {
    char text[16];
    formatDecibels(-1.0f, text, sizeof text);
    EXPECT_STREQ(text, "-inf.   ");
    formatDecibels(std::numeric_limits<float>::quiet_NaN(), text, sizeof text);
    EXPECT_STREQ(text, "-inf.   ");
    formatDecibels(0.5f, text, sizeof text);
    EXPECT_STREQ(text, "-6.0  ");
    formatDecibels(1.0f, text, 3);
    EXPECT_STREQ(text, "0.") << "cut to the buffer, terminated";
    EXPECT_EQ(readout(55, GateValues{}, true), "");
}

TEST(GateSwitch, IsHitInsideItsRectangleOnly) {
    EXPECT_TRUE(gateSwitchHit(17, 208));
    EXPECT_TRUE(gateSwitchHit(99, 222));
    EXPECT_FALSE(gateSwitchHit(100, 215));
    EXPECT_FALSE(gateSwitchHit(50, 223));
    EXPECT_FALSE(gateSwitchHit(16, 215));
    EXPECT_FALSE(gateSwitchHit(50, 207));
}

}  // namespace

// The sound of each effect at points the arithmetic fixes exactly: when an
// impulse first comes back, and at what level.
#include <cmath>
#include <limits>

#include "tests/effects/effect_fixture.h"

namespace {

using Reverb = EffectTest;
using Echo = EffectTest;
using Flanger = EffectTest;
using Chorus = EffectTest;

// A flanger chunk: delay and range in ms, feedback, mix, phase offset, rate.
std::vector<uint8_t> flangerChunk(std::vector<uint8_t> chunk, float delay, float range, float feedback, float mix,
                                  float phase, float rate) {
    const float values[6] = {delay, range, feedback, mix, phase, rate};
    for (int k = 0; k < 6; ++k) putFloatAt(chunk, 6 + 4 * k, values[k]);
    return chunk;
}

size_t firstNonZeroAfter(const std::vector<float>& v, size_t from) {
    for (size_t i = from; i < v.size(); ++i)
        if (v[i] != 0.0f) return i;
    return v.size();
}

}  // namespace

TEST_F(Reverb, ImpulseReturnsAfterTheShortestCombAndThePredelay) {
    open("reverb", 44100);
    // Default preset: predelay 15 ms = 661 samples, heard 660 samples late;
    // the shortest left comb is 1116 samples. Four all-passes pass the first
    // comb output with its sign restored.
    std::vector<float> left = impulse(4096);
    run(left);
    EXPECT_EQ(1.0f, left[0]);
    EXPECT_EQ(1116u + 660u, firstNonZeroAfter(left, 1));
    EXPECT_EQ(0.3f * (1.0f * 0.03f), left[1776]);
}

TEST_F(Reverb, RightChannelCombsAre123SamplesLonger) {
    open("reverb", 44100);
    std::vector<float> left = impulse(4096), right(4096, 0.0f);
    run(left, &right);
    EXPECT_EQ(1776u, firstNonZeroAfter(left, 1));
    EXPECT_EQ(1239u + 660u, firstNonZeroAfter(right, 0));
    EXPECT_EQ(0.3f * (1.0f * 0.015f), right[1899]);  // stereo input mix is (l + r) * 0.015
}

TEST_F(Reverb, LinesScaleWithTheRate) {
    open("reverb", 48000);
    std::vector<float> left = impulse(4096);
    run(left);
    // x = 48000 / 44100: first comb 1214 samples; predelay 720, heard 719 late.
    EXPECT_EQ(1214u + 719u, firstNonZeroAfter(left, 1));
}

TEST_F(Reverb, PredelayLimitsAndWetZero) {
    open("reverb", 44100);
    std::vector<uint8_t> chunk = state();
    putU32At(chunk, 11, 0);  // predelay 0 ms reads like 1
    ASSERT_EQ(1, setState(chunk));
    std::vector<float> left = impulse(8192);
    run(left);
    EXPECT_EQ(1116u, firstNonZeroAfter(left, 1));

    query(PQ_SUSPEND, 0, 0);
    putU32At(chunk, 11, 5000);  // beyond 100 ms: the whole line, 4409 samples late
    ASSERT_EQ(1, setState(chunk));
    left = impulse(8192);
    run(left);
    EXPECT_EQ(1116u + 4409u, firstNonZeroAfter(left, 1));

    query(PQ_SUSPEND, 0, 0);
    putFloatAt(chunk, 19, 0.0f);  // wet out 0
    ASSERT_EQ(1, setState(chunk));
    expectToneUnchanged(0.01f);
}

TEST_F(Echo, ImpulseRepeatsAtTheRingLengthWithFallingFeedback) {
    open("echo", 44100);
    // Time 100 ms, feedback 0 (0.05 remains), level 0.5, open filter.
    std::vector<uint8_t> chunk = state();
    putU32At(chunk, 8, 100);
    putFloatAt(chunk, 12, 0.0f);
    putFloatAt(chunk, 16, 0.5f);
    putFloatAt(chunk, 20, 1.0f);
    ASSERT_EQ(1, setState(chunk));
    std::vector<float> left = impulse(4410 * 4);
    run(left);
    const float g = 0.05f;
    EXPECT_EQ(1.0f, left[0]);
    EXPECT_EQ(4410u, firstNonZeroAfter(left, 1));
    EXPECT_EQ(0.5f, left[4410]);
    EXPECT_EQ(g * 0.5f, left[2 * 4410]);
    EXPECT_EQ((g * g) * 0.5f, left[3 * 4410]);
}

TEST_F(Echo, OneSecondFillsTheWholeLineAndAClosedFilterSilencesRepeats) {
    open("echo", 44100);
    std::vector<uint8_t> chunk = state();
    putU32At(chunk, 8, 1000);
    putFloatAt(chunk, 20, 1.0f);
    ASSERT_EQ(1, setState(chunk));
    std::vector<float> left = impulse(44100 + 64);
    run(left);
    EXPECT_EQ(44100u, firstNonZeroAfter(left, 1));

    query(PQ_SUSPEND, 0, 0);
    putU32At(chunk, 8, 100);
    putFloatAt(chunk, 20, 0.00005f);  // below 0.0001: the filter is closed
    ASSERT_EQ(1, setState(chunk));
    left = impulse(4410 * 3);
    run(left);
    EXPECT_EQ(1.0f, left[0]);
    EXPECT_EQ(left.size(), firstNonZeroAfter(left, 1));
}

TEST_F(Echo, DeepHouseFiltersTheFirstRepeatThroughTheDesignedLowPass) {
    open("echo", 44100);
    ASSERT_EQ(1, query(PQ_SELECT_PRESET, 0, 2));  // 500 ms, frequency 0.2, resonance 0.1, level 0.6
    std::vector<float> left = impulse(22050 + 64);
    run(left);
    const double q = 1.0;  // 0.1 * 2.1 + 0.1 is below 1
    const double w = 0.2f * 3.141592654 * 20338 / 44100;
    const double alpha = std::sin(w) / (2 * q);
    const double b0 = (0.5 - std::cos(w) / 2) / (1 + alpha);
    EXPECT_EQ(static_cast<float>(b0) * 0.6f, left[22050]);
    EXPECT_EQ(0.0f, left[22049]);
}

TEST_F(Flanger, StaticCombAtTheLongestDelayWithRateZero) {
    open("flanger", 44100);
    // Delay 5, range 5: base 220 + depth 220; phase 0.5 shifts neither
    // channel; mix 1 is wet only.
    ASSERT_EQ(1, setState(flangerChunk(state(), 5.0f, 5.0f, 0.0f, 1.0f, 0.5f, 0.0f)));
    std::vector<float> left = impulse(1024), right = impulse(1024);
    run(left, &right);
    EXPECT_EQ(0.0f, left[0]);  // wet only
    EXPECT_EQ(440u, firstNonZeroAfter(left, 0));
    EXPECT_EQ(1.0f, left[440]);
    EXPECT_EQ(1.0f, right[440]);
}

TEST_F(Flanger, PhaseOffsetZeroShiftsTheLeftOscillatorByFourRadians) {
    open("flanger", 44100);
    ASSERT_EQ(1, setState(flangerChunk(state(), 5.0f, 5.0f, 0.0f, 1.0f, 0.0f, 0.0f)));
    std::vector<float> left = impulse(1024), right = impulse(1024);
    run(left, &right);
    // Left: 220 * |cos 4| + 220 = 363.8 samples; right unshifted at 440.
    EXPECT_EQ(363u, firstNonZeroAfter(left, 0));
    EXPECT_EQ(440u, firstNonZeroAfter(right, 0));
}

TEST_F(Flanger, ChunkValuesAreLimitedToTheirRanges) {
    open("flanger", 44100);
    std::vector<uint8_t> chunk = state();
    putFloatAt(chunk, 6, 0.0f);     // delay -> 0.1
    putFloatAt(chunk, 10, 9.0f);    // range -> 5
    putFloatAt(chunk, 14, -1.0f);   // feedback -> 0
    putFloatAt(chunk, 26, std::numeric_limits<float>::quiet_NaN());  // rate -> 0
    ASSERT_EQ(1, setState(chunk));
    std::vector<uint8_t> loaded = state();
    EXPECT_EQ(0.1f, floatAt(loaded, 6));
    EXPECT_EQ(5.0f, floatAt(loaded, 10));
    EXPECT_EQ(0.0f, floatAt(loaded, 14));
    EXPECT_EQ(0.0f, floatAt(loaded, 26));
}

TEST_F(Flanger, MixZeroIsTheDrySignal) {
    open("flanger", 44100);
    std::vector<uint8_t> chunk = state();
    putFloatAt(chunk, 18, 0.0f);
    ASSERT_EQ(1, setState(chunk));
    expectToneUnchanged(0.03f);
}

TEST_F(Chorus, VoiceWithLevelMinusOnePanLeftInvertsTheImpulse) {
    open("chorus", 44100);
    // Voice 1: range 0, pan -0.5, level -1, feedback 0, delay 10 ms (the
    // base is computed in single precision). Voice 2 silent.
    std::vector<uint8_t> chunk = state();
    const float voice1[6] = {0.0f, 1.0f, -0.5f, -1.0f, 0.0f, 10.0f};
    const float voice2[6] = {0.0f, 1.0f, 0.0f, 0.0f, 0.0f, 10.0f};
    for (int k = 0; k < 6; ++k) {
        putFloatAt(chunk, 6 + 4 * k, voice1[k]);
        putFloatAt(chunk, 30 + 4 * k, voice2[k]);
    }
    ASSERT_EQ(1, setState(chunk));
    std::vector<float> left = impulse(1024), right(1024, 0.0f);
    run(left, &right);
    EXPECT_EQ(1.0f, left[0]);
    const size_t delay = static_cast<size_t>(10.0f * (44100.0f * 0.001f));
    EXPECT_EQ(delay, firstNonZeroAfter(left, 1));
    EXPECT_EQ(-1.0f, left[delay]);
    EXPECT_EQ(0.0f, right[delay]);  // share (pan + 0.5) = 0
}

TEST_F(Chorus, VoicePannedRightIsSilentInMono) {
    open("chorus", 44100);
    std::vector<uint8_t> chunk = state();
    putFloatAt(chunk, 6 + 12, 0.0f);   // voice 1 level 0
    putFloatAt(chunk, 30 + 8, 0.5f);   // voice 2 fully right
    putFloatAt(chunk, 30 + 12, 1.0f);  // at full level
    ASSERT_EQ(1, setState(chunk));
    expectToneUnchanged(0.02f);
}

TEST_F(Chorus, DamagedChunkValuesNeitherHangNorLeaveTheLine) {
    open("chorus", 44100);
    std::vector<uint8_t> chunk = state();
    putFloatAt(chunk, 6, 1e30f);                                        // range
    putFloatAt(chunk, 6 + 20, std::numeric_limits<float>::quiet_NaN());  // delay
    putFloatAt(chunk, 30, -1e30f);
    putFloatAt(chunk, 30 + 4, std::numeric_limits<float>::infinity());  // rate
    ASSERT_EQ(1, setState(chunk));
    std::vector<float> left(8192, 0.25f), right(8192, -0.25f);
    run(left, &right);  // returns; the sanitizers watch the line reads
    std::vector<uint8_t> flanger = chunk;
    std::memcpy(flanger.data(), "FLNG", 4);
    EXPECT_EQ(0, setState(flanger));
}

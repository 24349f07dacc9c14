// The sound of each effect at points the arithmetic fixes exactly: when an
// impulse first comes back, and at what level.
#include <cmath>
#include <limits>

#include "effects/frame/effectframe.h"
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
    // Voice 1: the narrowest, slowest sweep (0.2 ms at 0.05 Hz: over this
    // block the oscillator stays within 0.01 rad of 0, so the read point
    // sits 0.2 ms beyond the 10 ms base), pan -0.5, level -1, feedback 0.
    // Voice 2 silent. The impulse comes back inverted, split between the
    // two samples around the read point, and only on the left.
    std::vector<uint8_t> chunk = state();
    const float voice1[6] = {0.2f, 0.05f, -0.5f, -1.0f, 0.0f, 10.0f};
    const float voice2[6] = {0.2f, 0.05f, 0.0f, 0.0f, 0.0f, 10.0f};
    for (int k = 0; k < 6; ++k) {
        putFloatAt(chunk, 6 + 4 * k, voice1[k]);
        putFloatAt(chunk, 30 + 4 * k, voice2[k]);
    }
    ASSERT_EQ(1, setState(chunk));
    std::vector<float> left = impulse(1024), right(1024, 0.0f);
    run(left, &right);
    EXPECT_EQ(1.0f, left[0]);
    const float s = 44100.0f * 0.001f;
    const size_t base = static_cast<size_t>(10.0f * s);
    const size_t delay = base + static_cast<size_t>(0.2f * s);  // 441 + 8
    EXPECT_EQ(delay, firstNonZeroAfter(left, 1));
    EXPECT_NEAR(-1.0f, left[delay] + left[delay + 1], 1e-3f);
    EXPECT_LT(left[delay], 0.0f);
    EXPECT_LT(left[delay + 1], 0.0f);
    EXPECT_EQ(0.0f, right[delay]);  // share (pan + 0.5) = 0
    EXPECT_EQ(0.0f, right[delay + 1]);
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

// The modulated delays' oscillator: a polynomial with a proven margin, and
// the C library wherever the margin cannot decide. Every float the sweeps can
// reach (0 ... 2 pi plus the flanger's 4 radians) was compared once; here a
// spread of them, the points next to the zeros, and what damaged chunks give.
TEST(RectifiedCos, GivesTheLibraryCosineBitForBit) {
    std::vector<float> x;
    for (float v = 0.0f; v < 12.0f; v += 0.0000137f) x.push_back(v);
    for (int k = 0; k < 8; ++k) {
        float zero = static_cast<float>((2 * k + 1) * 1.5707963267948966);
        for (int step = 0; step < 64; ++step) {
            x.push_back(zero);
            zero = std::nextafter(zero, 0.0f);
        }
    }
    const float odd[] = {-0.0f, -3.5f, 1e-30f, 40000.0f, -1e30f, 3e38f, std::numeric_limits<float>::infinity(),
                         std::numeric_limits<float>::quiet_NaN()};
    x.insert(x.end(), std::begin(odd), std::end(odd));
    std::vector<float> together(x.size());
    rectifiedCosArray(x.data(), together.data(), static_cast<uint32_t>(x.size()));
    size_t differ = 0;
    for (size_t i = 0; i < x.size(); ++i) {
        const float want = std::fabs(static_cast<float>(std::cos(static_cast<double>(x[i]))));
        const float one = rectifiedCos(x[i]);
        if (std::memcmp(&want, &one, 4) != 0 || std::memcmp(&want, &together[i], 4) != 0) ++differ;
    }
    EXPECT_EQ(0u, differ) << "of " << x.size();
}

// A burst of NaN and infinities at the input (a damaged plug-in before this
// one, say) passes, and the output is finite again once the lines have
// turned over: nothing non-finite keeps circling in a recursive path.
TEST(EffectRecovery, EveryEffectRecoversFromANonFiniteBurst) {
    for (const char* name : {"reverb", "echo", "flanger", "chorus"}) {
        for (int preset : {0, 2}) {
            const EffectModule& fx = effectModule(name);
            ASSERT_NE(nullptr, fx.query) << name;
            fx.query(PQ_CLOSE, 0, 0);
            fx.query(PQ_OPEN, 0, 0);
            fx.query(PQ_SET_BLOCK_SIZE, 0, 64);
            fx.query(PQ_SET_SAMPLE_RATE, 0, 44100);
            fx.query(PQ_SELECT_PRESET, 0, preset);  // echo's Deep House filters: its states see the burst
            std::vector<float> left(3 * 44100), right(3 * 44100);
            for (size_t i = 0; i < left.size(); ++i) {
                left[i] = 0.3f * static_cast<float>(std::sin(i * 0.01));
                right[i] = 0.3f * static_cast<float>(std::cos(i * 0.013));
            }
            for (size_t i = 1000; i < 1064; ++i) {
                left[i] = i % 3 == 0 ? std::numeric_limits<float>::quiet_NaN() : std::numeric_limits<float>::infinity();
                right[i] = -std::numeric_limits<float>::infinity();
            }
            for (size_t at = 0; at + 64 <= left.size(); at += 64) fx.process(&left[at], &right[at], 0);
            size_t bad = 0;
            for (size_t i = 2 * 44100; i < left.size(); ++i) bad += !std::isfinite(left[i]) + !std::isfinite(right[i]);
            EXPECT_EQ(0u, bad) << name << " preset " << preset;
            fx.query(PQ_CLOSE, 0, 0);
        }
    }
}

TEST_F(Echo, DesigningTwiceOverPublishesTheLatestCoefficients) {
    open("echo", 44100);
    // Deep House, then the default (an open filter), then Deep House again:
    // each design goes to the set no block reads and is then made current.
    query(PQ_SELECT_PRESET, 0, 2);
    std::vector<float> first = impulse(44100);
    run(first);
    query(PQ_SELECT_PRESET, 0, 0);
    query(PQ_SUSPEND, 0, 0);
    query(PQ_SELECT_PRESET, 0, 2);
    std::vector<float> second = impulse(44100);
    run(second);
    EXPECT_EQ(first, second);
}

// The modulated delays step their oscillators a stretch at a time by
// multiples of one rounded step; every phase must be the float the
// one-by-one loop gives: across binade edges, at the wrap, and where the
// increment lies exactly halfway between two multiples of an ulp.
TEST(EffectPhases, GiveThePhasesOfTheLoopBitForBit) {
    const float top = 6.283185f;
    std::vector<float> increments;
    for (float rate : {8000.0f, 22050.0f, 44100.0f, 48000.0f, 96000.0f, 192000.0f})
        for (float hz : {0.0f, 0.01f, 0.05f, 0.2f, 0.7f, 1.4f, 5.0f, 2.0f})
            increments.push_back(top * hz / rate);
    for (int e = -30; e <= -4; ++e)  // halfway between two multiples of the ulp in some binades
        for (float halves : {1.5f, 2.5f, 3.5f}) increments.push_back(std::ldexp(halves, e));
    increments.push_back(1.5f);
    increments.push_back(-0.001f);
    increments.push_back(std::numeric_limits<float>::quiet_NaN());
    size_t differ = 0, stretches = 0;
    for (const float increment : increments) {
        for (float start : {0.0f, 1e-30f, 0.999999f, 1.0f, 1.0000001f, 1.9999f, 2.0000002f, 3.99999f, 4.0000005f,
                            6.2831f, 6.3f, -1.0f}) {
            float fast = start, slow = start;
            for (int stretch = 0; stretch < 400; ++stretch, ++stretches) {
                const uint32_t count = 64 - static_cast<uint32_t>(stretch * 7) % 64;
                float got[64], want[64];
                fast = effectPhases(fast, increment, top, got, count);
                for (uint32_t j = 0; j < count; ++j) {
                    want[j] = slow;
                    slow = slow + increment;
                    if (slow > top) slow = 0.0f;
                }
                if (std::memcmp(got, want, count * sizeof(float)) != 0 || std::memcmp(&fast, &slow, sizeof fast) != 0)
                    ++differ;
            }
        }
    }
    EXPECT_EQ(0u, differ) << "of " << stretches << " stretches";
}

// A stretch whose read points all lie behind its first write position
// gives wrapReadPosition's points; one that reads where an earlier frame of
// the stretch writes is refused, as is a point that needs the slow wrap.
TEST(EffectReadPoints, FollowWrapReadPositionAndRefuseReadsOfTheStretch) {
    const uint32_t length = 1000;
    float offset[kEffectStretch];
    EffectReadPoints points;
    for (uint32_t j = 0; j < kEffectStretch; ++j) offset[j] = 100.25f + 0.5f * static_cast<float>(j);
    ASSERT_TRUE(effectReadPoints(offset, 20, 64, length, points));
    EffectReadPoints wide;  // eight lanes, as the AVX2 clones take them
    ASSERT_TRUE(effectReadPointsLanes<8>(offset, 20, 64, length, wide));
    EXPECT_EQ(0, std::memcmp(&points, &wide, sizeof points));
    for (uint32_t j = 0; j < 64; ++j) {
        const float t = wrapReadPosition(static_cast<float>(20 + j) - offset[j], length);
        const uint32_t a = static_cast<uint32_t>(t);
        EXPECT_EQ(static_cast<int32_t>(a), points.at[j]) << j;
        EXPECT_EQ(a + 1 >= length ? 0 : static_cast<int32_t>(a + 1), points.next[j]) << j;
        EXPECT_EQ(t - static_cast<float>(a), points.fraction[j]) << j;
    }
    for (uint32_t j = 0; j < kEffectStretch; ++j) offset[j] = 999.5f;  // the next sample is the lap's first
    EXPECT_TRUE(effectReadPoints(offset, 936, 64, length, points));
    offset[10] = 3.0f;  // frame 10 reads what frame 7 writes
    EXPECT_FALSE(effectReadPoints(offset, 0, 64, length, points));
    EXPECT_FALSE(effectReadPointsLanes<8>(offset, 0, 64, length, points));
    EXPECT_TRUE(effectReadPoints(offset, 0, 7, length, points));  // ... unless the stretch ends before
    offset[10] = 2500.0f;  // more than two laps behind
    EXPECT_FALSE(effectReadPoints(offset, 0, 64, length, points));
}

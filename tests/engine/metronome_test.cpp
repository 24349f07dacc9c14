#include <cmath>

#include "tests/engine/engine_fixture.h"

namespace {

class MetronomeTest : public EngineTest {
protected:
    void setUpClick(uint32_t rate, bool stereo, float tempo, uint32_t frames = 512) {
        engine->metronomeTempo = tempo;
        configure(rate, stereo, frames);
        makeNeutral();
        engine->metronomeOn = true;
    }
    std::vector<float> silence(size_t samples) { return runSignal(std::vector<float>(samples, 0.0f)); }
};

// The second sample of a click that started at phase `phase`.
float secondSample(float phase, uint32_t clickLength) {
    float amplitude = static_cast<float>(0.5f - 0.5 / clickLength);
    return static_cast<float>(amplitude * std::sin(static_cast<double>(phase + 0.04f)));
}

}  // namespace

TEST_F(MetronomeTest, FirstClickStartsAtTheFirstSampleWithTheSpecifiedShape) {
    setUpClick(44100, true, 120.0f);
    std::vector<float> out = runBlock({});
    EXPECT_EQ(0.0f, out[0]);  // sin(0)
    EXPECT_EQ(secondSample(0.0f, 2205), out[1]);
    EXPECT_EQ(secondSample(0.0f, 2205), lastRight[1]);
    std::vector<float> rest = silence(2300 - 512);
    out.insert(out.end(), rest.begin(), rest.end());
    // The click lasts 2205 samples, then silence until the next beat.
    EXPECT_NE(0.0f, out[2204]);
    for (size_t i = 2205; i < out.size(); ++i) ASSERT_EQ(0.0f, out[i]) << i;
}

TEST_F(MetronomeTest, BeatsFallExactlyOnTheTempoAndAlternateTheirStartPhase) {
    setUpClick(44100, false, 120.0f);
    std::vector<float> out = silence(22050 * 4 + 10);
    for (int beat = 1; beat <= 4; ++beat) {
        size_t start = 22050 * beat;
        float phase = beat % 2 ? 0.0f : 0.4f;
        EXPECT_EQ(0.0f, out[start - 1]) << "beat " << beat;
        EXPECT_EQ(static_cast<float>(0.5f * std::sin(static_cast<double>(phase))), out[start]) << "beat " << beat;
        EXPECT_EQ(secondSample(phase, 2205), out[start + 1]) << "beat " << beat;
    }
    // Every click lasts the full click length.
    EXPECT_NE(0.0f, out[22050 * 2 + 2204]);
    EXPECT_EQ(0.0f, out[22050 * 2 + 2205]);
}

TEST_F(MetronomeTest, FractionalBeatPeriodsDoNotDrift) {
    // 97 bpm at 44.1 kHz: 27278.35... samples per beat.
    setUpClick(44100, false, 97.0f, 4096);
    const double period = 44100 * 60.0 / static_cast<double>(97.0f);
    const int beats = 60;
    std::vector<float> out = silence(static_cast<size_t>(period * beats) + 4096);
    const float phaseStart = static_cast<float>(0.5f * std::sin(static_cast<double>(0.4f)));
    for (int beat = 2; beat <= beats; beat += 2) {
        size_t start = static_cast<size_t>(std::llround(beat * period));
        ASSERT_EQ(phaseStart, out[start]) << "beat " << beat;
        ASSERT_EQ(0.0f, out[start - 1]) << "beat " << beat;
    }
}

TEST_F(MetronomeTest, SwitchedOffLeavesOutputAndPositionAlone) {
    setUpClick(44100, false, 120.0f);
    silence(1000);
    engine->metronomeOn = false;
    const MetronomeState before = engine->metronome;
    EXPECT_EQ(std::vector<float>(512, 0.0f), silence(512));
    EXPECT_EQ(before.sampleIndex, engine->metronome.sampleIndex);
    EXPECT_EQ(before.counter, engine->metronome.counter);
    // Switched on again it resumes in the middle of the click.
    engine->metronomeOn = true;
    std::vector<float> out = silence(1);
    EXPECT_NE(0.0f, out[0]);
}

TEST_F(MetronomeTest, MonoClicksOnlyTheLeftChannel) {
    setUpClick(44100, false, 120.0f);
    std::vector<float> out = silence(4);
    EXPECT_EQ(nullptr, engine->outputR);
    EXPECT_NE(0.0f, out[1]);
}

TEST_F(MetronomeTest, ClickIsAddedBeforeClipping) {
    setUpClick(44100, true, 120.0f);
    std::vector<float> out = runSignal(std::vector<float>(100, 1.0f));
    for (float x : out) ASSERT_LE(x, 1.0f);
    EXPECT_EQ(1.0f, out[5]);
    EXPECT_EQ(1.0f, engine->outputPeakL.load());
}

TEST_F(MetronomeTest, TempoChangesTakeEffectAtTheNextConfiguration) {
    setUpClick(44100, false, 120.0f);
    engine->metronomeTempo = 60.0f;
    std::vector<float> out = silence(22052);
    EXPECT_EQ(secondSample(0.0f, 2205), out[22051]);  // still 120 bpm
    engineRelease(*engine);
    configure(44100, false, 512);
    out = silence(44102);
    EXPECT_EQ(0.0f, out[22051]);
    EXPECT_EQ(secondSample(0.0f, 2205), out[44101]);
}

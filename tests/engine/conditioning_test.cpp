#include <cmath>
#include <cstring>
#include <random>

#include "tests/engine/engine_fixture.h"

namespace {

class DcRemoverTest : public EngineTest {
protected:
    void SetUp() override {
        configure(44100, true, 441);
        makeNeutral();
        engine->dcRemoverOn = true;
    }
};

class GateTest : public EngineTest {
protected:
    // A threshold so low that one full-scale sample opens the gate and
    // silence closes it.
    void setUpGate(uint32_t rate, bool stereo, uint16_t attackMs, uint16_t releaseMs) {
        configure(rate, stereo, 64);
        makeNeutral();
        engine->gateThreshold = 1e-6f;
        engine->gateAttackMs = attackMs;
        engine->gateReleaseMs = releaseMs;
    }
};

}  // namespace

TEST_F(DcRemoverTest, ConstantInputDecaysLinearlyToZeroOverTheWindow) {
    const uint32_t window = 44100 / 20;
    std::vector<float> out = runSignal(std::vector<float>(3 * window, 0.25f));
    for (uint32_t k = 1; k <= 3 * window; ++k) {
        float expected = k < window ? static_cast<float>(0.25 - 0.25 * k / window) : 0.0f;
        ASSERT_EQ(expected, out[k - 1]) << "sample " << k;
    }
    EXPECT_EQ(0.0f, lastRight.back());
}

TEST_F(DcRemoverTest, SwitchedOffPassesSamplesAndKeepsItsHistory) {
    runSignal(std::vector<float>(100, 0.5f));
    const float sum = engine->dcRemover.sum[0];
    const uint32_t position = engine->dcRemover.position;
    engine->dcRemoverOn = false;
    std::vector<float> out = runSignal(std::vector<float>(441, -0.125f));
    EXPECT_EQ(std::vector<float>(441, -0.125f), out);
    EXPECT_EQ(sum, engine->dcRemover.sum[0]);
    EXPECT_EQ(position, engine->dcRemover.position);
    EXPECT_EQ(0.5f, engine->dcRemover.ring[0][99]);
}

TEST_F(DcRemoverTest, ReconfiguringClearsTheRemover) {
    runSignal(std::vector<float>(500, 0.5f));
    configure(48000, true, 441);
    EXPECT_EQ(2400u, engine->dcRemover.window);
    EXPECT_EQ(0.0f, engine->dcRemover.sum[0]);
    EXPECT_EQ(0u, engine->dcRemover.position);
    std::vector<float> out = runSignal({0.25f});
    EXPECT_EQ(static_cast<float>(0.25 - 0.25 / 2400), out[0]);
}

TEST_F(GateTest, ThresholdZeroPassesEverySampleEvenAfterLoudInputThenDigitalSilence) {
    setUpGate(44100, true, 0, 100);
    engine->gateThreshold = 0.0f;
    // Loud noise leaves float rounding in the running sum; the silence after
    // it must not make the level negative and close the gate.
    std::mt19937 random(7);
    std::uniform_real_distribution<float> noise(-1.0f, 1.0f);
    std::vector<float> signal(20000);
    for (float& x : signal) x = noise(random) * 0.9f + 0.05f;
    signal.resize(signal.size() + 5000, 0.0f);
    for (int i = 0; i < 2000; ++i) signal.push_back(1e-7f * ((i % 7) + 1));
    std::vector<float> out = runSignal(signal);
    ASSERT_EQ(signal.size(), out.size());
    for (size_t i = 0; i < signal.size(); ++i) ASSERT_EQ(signal[i], out[i]) << "sample " << i;
    EXPECT_GE(engine->gate.sum[0], 0.0f);
}

TEST_F(GateTest, ReleaseZeroSilencesTheFirstQuietSampleAndAttackZeroPassesTheFirstLoudOne) {
    setUpGate(44100, false, 0, 0);
    engine->gateThreshold = 0.3f;
    // Level is a 50 ms mean: a long loud passage opens, a long quiet one closes.
    std::vector<float> signal(3000, 1.0f);
    std::vector<float> out = runSignal(signal);
    EXPECT_EQ(1.0f, out.back());
    size_t firstOpen = 0;
    while (out[firstOpen] == 0.0f) ++firstOpen;
    EXPECT_EQ(1.0f, out[firstOpen]);  // no fade-in
    // Level 0.3 is reached when 30% of the window is loud.
    EXPECT_EQ(static_cast<size_t>(std::ceil(0.3 * 2205)) - 1, firstOpen);

    out = runSignal(std::vector<float>(3000, 0.1f));
    size_t firstClosed = 0;
    while (out[firstClosed] != 0.0f) ++firstClosed;
    EXPECT_EQ(0.1f, out[firstClosed - 1]);
    EXPECT_EQ(0.0f, out.back());
}

TEST_F(GateTest, BurstAfterSilenceFadesInLeftFromZeroAndRightOneStepAhead) {
    setUpGate(44100, true, 5, 100);
    runSignal(std::vector<float>(10000, 0.0f));  // closed: fade counter at its end
    std::vector<float> out = runSignal(std::vector<float>(400, 1.0f));
    const double attack = 5 * 44100 / 1000;  // 220 samples
    EXPECT_EQ(0.0f, out[0]);
    for (int k = 0; k < 220; ++k) ASSERT_EQ(static_cast<float>(k / attack), out[k]) << "left sample " << k;
    EXPECT_EQ(1.0f, out[220]);
    EXPECT_EQ(1.0f, out[399]);
}

TEST_F(GateTest, RightChannelFadeInRunsOneSampleAhead) {
    setUpGate(44100, true, 5, 100);
    runSignal(std::vector<float>(10000, 0.0f));
    std::vector<float> ones(64, 1.0f);
    runBlock(ones, ones);
    for (int k = 0; k < 64; ++k) ASSERT_EQ(static_cast<float>((k + 1) / 220.0), lastRight[k]) << "right sample " << k;
}

TEST_F(GateTest, ClosingFadesLinearlyOverTheReleaseAtTheConfiguredRate) {
    // 48 kHz: 100 ms release is 4800 samples, whatever any device format says.
    setUpGate(48000, false, 5, 100);
    runSignal(std::vector<float>(5000, 0.5f));
    engine->gateThreshold = 0.6f;  // now below threshold: closing
    std::vector<float> out = runSignal(std::vector<float>(5000, 0.5f));
    for (int t = 0; t < 4800; t += 97)
        ASSERT_EQ(static_cast<float>(0.5 * (1.0 - t / 4800.0)), out[t]) << "sample " << t;
    EXPECT_GT(out[4799], 0.0f);
    EXPECT_EQ(0.0f, out[4800]);
}

TEST_F(GateTest, ChangeOfDirectionRestartsTheNewFadeFromItsBeginning) {
    setUpGate(44100, false, 5, 100);
    runSignal(std::vector<float>(5000, 0.5f));
    engine->gateThreshold = 0.6f;
    runSignal(std::vector<float>(1000, 0.5f));  // part way through the release
    engine->gateThreshold = 0.4f;
    std::vector<float> out = runSignal(std::vector<float>(300, 0.5f));
    EXPECT_EQ(0.0f, out[0]);  // fade-in starts from silence
    EXPECT_EQ(static_cast<float>(0.5 * 110 / 220.0), out[110]);
    EXPECT_EQ(0.5f, out[250]);
}

TEST_F(GateTest, InputGainFollowsTheGate) {
    setUpGate(44100, false, 0, 100);
    engine->gateThreshold = 0.0f;
    engine->inputGain = 3.0f;
    std::vector<float> out = runSignal(std::vector<float>(64, 0.25f));
    EXPECT_EQ(0.75f, engine->inputPeakL.load());
    EXPECT_EQ(0.75f, out[10]);
}

TEST_F(GateTest, MonoNeverTouchesTheRightChannelState) {
    setUpGate(44100, false, 5, 100);
    engine->gate.fade[1] = 12345;
    engine->gate.sum[1] = 42.0f;
    runSignal(std::vector<float>(5000, 0.5f));
    EXPECT_EQ(nullptr, engine->gate.ring[1]);
    EXPECT_EQ(12345, engine->gate.fade[1]);
    EXPECT_EQ(42.0f, engine->gate.sum[1]);
}

// processBlock runs the remover and the gate in one pass over a stereo block;
// it must give exactly what the two separate passes give, through gate
// openings and closings and with the remover's window turning over.
TEST_F(GateTest, OnePassConditioningEqualsTheRemoverThenTheGate) {
    EngineState other;
    for (EngineState* e : {engine.get(), &other}) {
        e->blockSize = 100;
        engineConfigure(*e, 44100, true);
        e->gateThreshold = 0.05f;
        e->gateAttackMs = 3;
        e->gateReleaseMs = 20;
        e->inputGain = 1.5f;
        e->dcRemoverOn = true;
    }
    std::mt19937 random(7);
    std::uniform_real_distribution<float> noise(-0.5f, 0.5f);
    for (int block = 0; block < 300; ++block) {
        const float loud = (block / 40) % 2 ? 0.01f : 1.0f;  // opens and closes the gate
        for (uint32_t i = 0; i < 100; ++i) {
            engine->inputL[i] = other.inputL[i] = 0.2f + loud * noise(random);
            engine->inputR[i] = other.inputR[i] = loud * noise(random);
        }
        conditionInput(*engine);
        dcRemoverProcess(other);
        gateProcess(other);
        ASSERT_EQ(0, std::memcmp(engine->inputL, other.inputL, 100 * sizeof(float))) << "block " << block;
        ASSERT_EQ(0, std::memcmp(engine->inputR, other.inputR, 100 * sizeof(float))) << "block " << block;
    }
}

// The one-pass gate compares its sums with the least float whose level is
// not below the threshold: levels exactly at it, a threshold of 0 and one
// between two levels must decide as the division does.
TEST_F(GateTest, OnePassGateDecidesLevelsAtTheThresholdAsTheDivisionDoes) {
    for (const float threshold : {0.25f, 0.0f, 0.1f, 1e-30f}) {
        EngineState one, two;
        for (EngineState* e : {&one, &two}) {
            e->blockSize = 64;
            engineConfigure(*e, 44100, true);
            e->gateThreshold = threshold;
            e->gateAttackMs = 1;
            e->gateReleaseMs = 1;
            e->dcRemoverOn = false;
        }
        for (int block = 0; block < 200; ++block) {
            // A constant level of 0.25 that drops to 0 and comes back.
            const float level = (block / 50) % 2 ? 0.0f : 0.25f;
            for (uint32_t i = 0; i < 64; ++i) {
                one.inputL[i] = two.inputL[i] = level;
                one.inputR[i] = two.inputR[i] = -level * 0.4f;
            }
            conditionInput(one);
            gateProcess(two);
            ASSERT_EQ(0, std::memcmp(one.inputL, two.inputL, 64 * sizeof(float))) << threshold << " block " << block;
            ASSERT_EQ(0, std::memcmp(one.inputR, two.inputR, 64 * sizeof(float))) << threshold << " block " << block;
        }
    }
}

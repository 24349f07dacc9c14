// The figures and verdicts the real-time device tests rest on: a stall of
// the machine must be measured where it happened, and no fault (a wrong
// scale, a wrong lateness, a host too slow for its period) may ever come out
// as a stall.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <ostream>
#include <vector>

#include "tests/support/devicetiming.h"

// Verdicts by name in failure messages.
void PrintTo(Verdict v, std::ostream* os) {
    *os << (v == Verdict::Good ? "Good" : v == Verdict::Stalled ? "Stalled" : "Fault");
}

namespace {

constexpr double kPeriod = 1e6 * 32 / 96000.0;  // 333.3 us

// `n` switches one per period, each `cost` long when the driver is behind.
std::vector<double> onSchedule(size_t n) {
    std::vector<double> at;
    for (size_t k = 0; k < n; ++k) at.push_back(kPeriod * static_cast<double>(k));
    return at;
}

// The driver's own loop: switch k is due at k periods; a held-up driver
// runs the missed ones back to back, `cost` apart. `awayFrom`/`awayMicros`:
// the thread gets no CPU for that long from that time.
std::vector<double> driverLoop(size_t n, double cost, double awayFrom = -1.0, double awayMicros = 0.0) {
    std::vector<double> at;
    double now = 0.0;
    bool away = awayFrom >= 0.0;
    for (size_t k = 0; k < n; ++k) {
        now = std::max(now, kPeriod * static_cast<double>(k));
        if (away && now >= awayFrom) {
            now += awayMicros;
            away = false;
        }
        at.push_back(now);
        now += cost;
    }
    return at;
}

TEST(SwitchTiming, FiguresOfASteadyDriverAndOfOneThatWasHeldUp) {
    const SwitchTiming steady = switchTiming(onSchedule(6000), kPeriod);
    EXPECT_EQ(6000, steady.switches);
    EXPECT_EQ(0, steady.lateSwitches);
    EXPECT_EQ(0.0, steady.stallMicros);
    EXPECT_EQ(0, steady.catchUpSwitches);
    EXPECT_NEAR(kPeriod, steady.worstGapMicros, 1e-6);
    EXPECT_NEAR(steady.expectedMicros, steady.wallMicros, 1e-6);
    EXPECT_EQ(Verdict::Good, paceVerdict(steady));

    // 5 ms away in the middle: the switches due meanwhile come late, back
    // to back, and the driver is on time again afterwards.
    const SwitchTiming held = switchTiming(driverLoop(6000, 75.0, 1e6, 5000.0), kPeriod);
    EXPECT_NEAR(5000.0 + kPeriod, held.worstGapMicros, 1.0);
    EXPECT_NEAR(5000.0, held.stallMicros, 1.0);
    EXPECT_GT(held.lateSwitches, 10);
    EXPECT_LT(held.lateSwitches, 30);
    EXPECT_NEAR(5000.0, held.latenessMax, 1.0);
    EXPECT_EQ(0.0, held.latenessP50);
    EXPECT_EQ(held.lateSwitches, held.catchUpSwitches);
    EXPECT_NEAR(75.0, held.catchUpMicros, 1e-6);
    EXPECT_EQ(Verdict::Good, paceVerdict(held));  // caught up: nothing lost
}

TEST(SwitchTiming, OnlyAStallCanExcuseLostPaceAndNeverASlowHost) {
    // Away for 800 ms shortly before the round ended: still behind by a
    // quarter of the round at its end, but every switch since ran back to
    // back in 75 us, so it was catching up.
    const SwitchTiming late = switchTiming(driverLoop(6000, 75.0, 1.6e6, 8e5), kPeriod);
    EXPECT_GT(late.wallMicros - late.expectedMicros, 0.2 * late.expectedMicros);
    EXPECT_EQ(Verdict::Good, paceVerdict(late));
    // Away for 400 ms ten switches before the end: behind, and too few
    // switches since to tell what one costs.
    const SwitchTiming end = switchTiming(driverLoop(6000, 75.0, 5990 * kPeriod, 4e5), kPeriod);
    EXPECT_LT(end.catchUpSwitches, kMinCatchUpSwitches);
    EXPECT_EQ(Verdict::Stalled, paceVerdict(end));
    // A switch of 0.9 periods catches up, slowly.
    EXPECT_EQ(Verdict::Good, paceVerdict(switchTiming(driverLoop(6000, 0.9 * kPeriod, 1e6, 3e4), kPeriod)));

    // A host whose switch takes 1.2 periods: no gap is long, and the driver
    // never catches up.
    const SwitchTiming slow = switchTiming(driverLoop(6000, 1.2 * kPeriod), kPeriod);
    EXPECT_EQ(0.0, slow.stallMicros);
    EXPECT_NEAR(1.2 * kPeriod, slow.catchUpMicros, 1e-6);
    EXPECT_EQ(Verdict::Fault, paceVerdict(slow));
    // Four periods a switch: every gap is as long as a stall, which must not
    // make the host's slowness a stall.
    const SwitchTiming slower = switchTiming(driverLoop(600, 4.0 * kPeriod), kPeriod);
    EXPECT_GT(slower.stallMicros, 0.9 * (slower.wallMicros - slower.expectedMicros));
    EXPECT_EQ(Verdict::Fault, paceVerdict(slower));
    // Slow and held up as well, for longer than its own slowness costs.
    EXPECT_EQ(Verdict::Fault, paceVerdict(switchTiming(driverLoop(6000, 1.05 * kPeriod, 1e6, 8e5), kPeriod)));
    // Slow by one period in four (busy machine or not): the median gap is a
    // period, yet the cost of a switch shows.
    std::vector<double> uneven;
    double now = 0.0;
    for (int k = 0; k < 6000; ++k, now += (k % 4 == 0 ? 2.0 : 1.0) * kPeriod) uneven.push_back(now);
    EXPECT_EQ(Verdict::Fault, paceVerdict(switchTiming(uneven, kPeriod)));
}

// A recording at 44.1 kHz with bursts (20 ms of 1 kHz) of the given levels
// at the given times.
std::vector<float> recording(double seconds, const std::vector<std::pair<double, float>>& bursts) {
    std::vector<float> x(static_cast<size_t>(seconds * 44100.0), 0.0f);
    for (const auto& [atMs, level] : bursts) {
        const size_t first = static_cast<size_t>(atMs * 44.1);
        for (size_t i = 0; i < 882 && first + i < x.size(); ++i)
            x[first + i] = level * static_cast<float>(std::sin(2 * 3.141592653589793 * 1000.0 * i / 44100.0));
    }
    return x;
}

// A burst at `at` and its echoes, `loop` apart, each `ratio` of the one
// before, down to the onset threshold.
void addTrain(std::vector<std::pair<double, float>>& bursts, double at, double loop, float ratio) {
    float level = 0.5f;
    for (double t = at; level >= 0.02f; t += loop, level *= ratio) bursts.push_back({t, level});
}

TEST(LoopTrains, BurstsAndTheirEchoesAreSplitIntoTrainsOfRounds) {
    std::vector<std::pair<double, float>> bursts;
    addTrain(bursts, 300.0, 205.0, 0.5f);
    addTrain(bursts, 2300.0, 205.0, 0.5f);
    const std::vector<LoopTrain> trains = loopTrains(recording(4.0, bursts), 44100.0);
    ASSERT_EQ(2u, trains.size());
    EXPECT_NEAR(300.0 * 44.1, static_cast<double>(trains[1].burst) - 2000.0 * 44.1, 2.0);
    ASSERT_EQ(4u, trains[0].rounds.size());  // 0.5, 0.25, 0.125, 0.0625, 0.03125
    for (const LoopRound& r : trains[0].rounds) {
        EXPECT_NEAR(205.0, r.loopMs, 0.1);
        EXPECT_NEAR(0.5, r.ratio, 0.01);
    }
    EXPECT_EQ(trains[0].rounds[0].to, trains[0].rounds[1].from);

    // Wine's sound system has come round in 107 ms: the rounds are still there.
    std::vector<std::pair<double, float>> quick;
    addTrain(quick, 300.0, 107.0, 0.5f);
    const std::vector<LoopTrain> quickTrains = loopTrains(recording(2.0, quick), 44100.0);
    ASSERT_EQ(1u, quickTrains.size());
    EXPECT_EQ(4u, quickTrains[0].rounds.size());

    // An echo heard twice (here again 62 ms later): no echo of its own; the
    // rounds go from echo to echo across it.
    const std::vector<LoopTrain> doubled = loopTrains(
        recording(2.0, {{300.0, 0.5f}, {490.0, 0.25f}, {552.0, 0.25f}, {680.0, 0.125f}, {870.0, 0.0625f}}), 44100.0);
    ASSERT_EQ(1u, doubled.size());
    ASSERT_EQ(1u, doubled[0].doubled.size());
    ASSERT_EQ(3u, doubled[0].rounds.size());
    EXPECT_NEAR(190.0, doubled[0].rounds[1].loopMs, 0.5);
    EXPECT_NEAR(0.5, doubled[0].rounds[1].ratio, 0.01);
    EXPECT_EQ(1, doubled[0].rounds[0].doubled);  // heard within a loop after its end
    EXPECT_EQ(1, doubled[0].rounds[1].doubled);
    EXPECT_EQ(0, doubled[0].rounds[2].doubled);
    // Heard again 60 ms later, partly overwritten by then: still doubled.
    const std::vector<LoopTrain> partly = loopTrains(
        recording(2.0, {{300.0, 0.5f}, {500.0, 0.25f}, {560.0, 0.16f}, {700.0, 0.125f}, {900.0, 0.0625f}}), 44100.0);
    ASSERT_EQ(1u, partly.size());
    EXPECT_EQ(1u, partly[0].doubled.size());
    EXPECT_EQ(3u, partly[0].rounds.size());
    // A first piece of an echo on time and the rest 60 ms later, the loop
    // longer from then on: the piece is set apart and the round spans the
    // whole echo.
    const std::vector<LoopTrain> broken = loopTrains(
        recording(2.0, {{300.0, 0.5f}, {517.0, 0.035f}, {577.0, 0.25f}, {854.0, 0.125f}, {1131.0, 0.0625f}}),
        44100.0);
    ASSERT_EQ(1u, broken.size());
    ASSERT_EQ(1u, broken[0].split.size());
    ASSERT_EQ(3u, broken[0].rounds.size());
    EXPECT_NEAR(277.0, broken[0].rounds[0].loopMs, 0.5);
    EXPECT_NEAR(0.5, broken[0].rounds[0].ratio, 0.01);
    EXPECT_EQ(1, broken[0].rounds[0].split);
    EXPECT_EQ(0, broken[0].rounds[1].split);
    // A quieter onset soon after is a wrong echo, not a doubled one.
    const std::vector<LoopTrain> quieter =
        loopTrains(recording(2.0, {{300.0, 0.5f}, {490.0, 0.25f}, {550.0, 0.1f}, {680.0, 0.05f}}), 44100.0);
    ASSERT_EQ(1u, quieter.size());
    EXPECT_TRUE(quieter[0].doubled.empty());
    EXPECT_NEAR(0.4, quieter[0].rounds[1].ratio, 0.01);
    // A loop whose gain is 1: every echo is the one before again, so no
    // round is left to pass.
    std::vector<std::pair<double, float>> unity;
    addTrain(unity, 300.0, 150.0, 0.5f);
    for (auto& b : unity) b.second = b.first > 300.0 ? 0.25f : 0.5f;
    const std::vector<LoopTrain> flat = loopTrains(recording(2.0, unity), 44100.0);
    ASSERT_EQ(1u, flat.size());
    EXPECT_EQ(1u, flat[0].rounds.size());

    // An onset louder than the one before it begins a train of its own.
    const std::vector<LoopTrain> split =
        loopTrains(recording(2.0, {{300.0, 0.5f}, {500.0, 0.25f}, {1000.0, 0.5f}, {1200.0, 0.25f}}), 44100.0);
    ASSERT_EQ(2u, split.size());
    EXPECT_EQ(1u, split[0].rounds.size());
    EXPECT_EQ(1u, split[1].rounds.size());
}

TEST(LoopTrains, ARoundIsCorrectOnlyAtTheLoopsGainAndNoSoonerThanTheGeometry) {
    LoopExpectation e;
    e.minLoopMs = 37.0;
    e.maxLoopMs = 442.0;
    EXPECT_TRUE(roundCorrect(LoopRound{0, 0, 205.0, 0.5}, e));
    EXPECT_TRUE(roundCorrect(LoopRound{0, 0, 37.0, 0.44}, e));
    EXPECT_FALSE(roundCorrect(LoopRound{0, 0, 205.0, 0.42}, e));  // a scale of 0.42
    EXPECT_FALSE(roundCorrect(LoopRound{0, 0, 205.0, 0.25}, e));
    EXPECT_FALSE(roundCorrect(LoopRound{0, 0, 205.0, 1.0}, e));
    EXPECT_FALSE(roundCorrect(LoopRound{0, 0, 21.0, 0.5}, e));  // a block fewer than the program's share
    EXPECT_FALSE(roundCorrect(LoopRound{0, 0, 450.0, 0.5}, e));
}

// Devices that keep time: a block every 20 ms, looks every millisecond with
// cursors running at 44.1 kHz behind a fixed latency.
struct Timeline {
    std::vector<double> blocks;
    std::vector<CursorSample> looks;
    Timeline() {
        for (double t = 0.0; t < 3000.0; t += 20.0) blocks.push_back(t);
        for (double t = 0.0; t < 3000.0; t += 1.0)
            looks.push_back(CursorSample{t, (t - 30.0) * 44.1, (t - 50.0) * 44.1});
    }
    StallMeasure between(double from, double to) const { return stallBetween(from, to, blocks, 20.0, looks, 44100.0); }
};

TEST(StallBetween, EachKindOfStallIsMeasuredOnlyWhereItHappened) {
    Timeline steady;
    const StallMeasure none = steady.between(1000.0, 1400.0);
    EXPECT_LT(none.stallMs, kLoopStallMs);
    EXPECT_EQ(0.0, none.blockGapMs);

    Timeline lateBlock;  // live input's thread away for 80 ms
    lateBlock.blocks.erase(lateBlock.blocks.begin() + 60, lateBlock.blocks.begin() + 63);
    EXPECT_NEAR(60.0, lateBlock.between(1000.0, 1400.0).blockGapMs, 1e-9);
    EXPECT_STREQ("live input's blocks", lateBlock.between(1000.0, 1400.0).source);
    EXPECT_EQ(0.0, lateBlock.between(1500.0, 1900.0).blockGapMs);  // after it: nothing

    Timeline captureStall;  // the capture cursor stands still 50 ms, then catches up
    for (CursorSample& c : captureStall.looks)
        if (c.atMs >= 1200.0 && c.atMs < 1250.0) c.captureFrames = (1200.0 - 50.0) * 44.1;
    const StallMeasure captured = captureStall.between(1000.0, 1400.0);
    EXPECT_NEAR(50.0 - kPacketMs, captured.captureLagMs, 1.5);
    EXPECT_STREQ("the capture cursor", captured.source);

    Timeline playStall;  // the play cursor stands still 40 ms; no player before 500 ms
    for (CursorSample& c : playStall.looks) {
        if (c.atMs < 500.0) c.playFrames = NAN;
        if (c.atMs >= 1200.0 && c.atMs < 1240.0) c.playFrames = (1200.0 - 30.0) * 44.1;
    }
    EXPECT_NEAR(40.0 - kPacketMs, playStall.between(1000.0, 1400.0).playLagMs, 1.5);
    EXPECT_EQ(0.0, playStall.between(300.0, 700.0).playLagMs);

    Timeline blind;  // the harness did not look for 45 ms
    blind.looks.erase(blind.looks.begin() + 1201, blind.looks.begin() + 1245);
    EXPECT_NEAR(45.0, blind.between(1000.0, 1400.0).probeGapMs, 1e-9);
    EXPECT_STREQ("the harness's own looks", blind.between(1000.0, 1400.0).source);

    // Live input that has not processed a block since: its wait so far counts.
    Timeline stopped;
    stopped.blocks.resize(60);
    EXPECT_NEAR(1400.0 - 1180.0 - 20.0, stopped.between(1000.0, 1400.0).blockGapMs, 1e-9);
}

TEST(StallBetween, ARecordingFrameArrivesWhenTheCaptureCursorPassesIt) {
    Timeline t;
    EXPECT_NEAR(1050.0, arrivalMs(t.looks, 1000.0 * 44.1), 1.0);
    EXPECT_EQ(-1.0, arrivalMs(t.looks, 4000.0 * 44.1));
}

LoopTrain trainOf(const std::vector<double>& ratios) {
    LoopTrain t;
    for (size_t i = 0; i < ratios.size(); ++i) t.rounds.push_back(LoopRound{i, i + 1, 205.0, ratios[i]});
    return t;
}

StallMeasure stall(double ms) {
    StallMeasure m;
    m.stallMs = ms;
    m.source = "the play cursor";
    return m;
}

TEST(TrainVerdict, AWrongRoundIsExcusedOnlyByAStallDuringItself) {
    LoopExpectation e;
    e.minLoopMs = 37.0;
    e.maxLoopMs = 442.0;
    const std::vector<StallMeasure> quiet(4, stall(0.0));
    char why[160];
    EXPECT_EQ(Verdict::Good, trainVerdict(trainOf({0.5, 0.5, 0.5, 0.5}), e, 3, quiet, stall(0.0), why, sizeof why));
    // A stall elsewhere changes nothing about a correct train.
    EXPECT_EQ(Verdict::Good, trainVerdict(trainOf({0.5, 0.5, 0.5}), e, 3, quiet, stall(90.0), why, sizeof why));

    // The loop's gain is wrong in every round: a fault, whatever stalled in
    // some of them.
    std::vector<StallMeasure> some = quiet;
    some[0] = stall(90.0);
    EXPECT_EQ(Verdict::Fault, trainVerdict(trainOf({0.4, 0.4, 0.4, 0.4}), e, 3, some, stall(90.0), why, sizeof why));
    EXPECT_NE(nullptr, std::strstr(why, "round 1 took 205.0 ms with 0.400"));
    // One round wrong while nothing stalled during it, though the train stalled.
    EXPECT_EQ(Verdict::Fault, trainVerdict(trainOf({0.5, 0.21, 0.5}), e, 3, quiet, stall(90.0), why, sizeof why));
    // A round that came back wrong while the play cursor stood still.
    std::vector<StallMeasure> second = quiet;
    second[1] = stall(45.0);
    EXPECT_EQ(Verdict::Stalled, trainVerdict(trainOf({0.5, 0.21, 0.5}), e, 3, second, stall(45.0), why, sizeof why));
    EXPECT_NE(nullptr, std::strstr(why, "in the play cursor"));
    // An echo heard twice in the round shows the real-time path glitched.
    LoopTrain glitch = trainOf({0.5, 0.21, 0.5});
    glitch.rounds[1].doubled = 1;
    EXPECT_EQ(Verdict::Stalled, trainVerdict(glitch, e, 3, quiet, stall(0.0), why, sizeof why));
    EXPECT_NE(nullptr, std::strstr(why, "1 echoes doubled"));
    // So does an echo that came in two pieces, even when the round spanning
    // it looks right.
    LoopTrain pieces = trainOf({0.5, 0.5, 0.5});
    pieces.rounds[0].split = 1;
    EXPECT_EQ(Verdict::Stalled, trainVerdict(pieces, e, 3, quiet, stall(0.0), why, sizeof why));
    EXPECT_NE(nullptr, std::strstr(why, "1 split"));
    // An echo lost on the way: two loops long at a quarter of the level,
    // beside rounds that came back right. A gain of a quarter is wrong in
    // every round and no lost echo; nor is a quarter one loop long, nor a
    // round of two loops at another level.
    LoopTrain dropout = trainOf({0.5, 0.23, 0.5});
    dropout.rounds[1].loopMs = 450.0;
    EXPECT_EQ(Verdict::Stalled, trainVerdict(dropout, e, 3, quiet, stall(0.0), why, sizeof why));
    EXPECT_NE(nullptr, std::strstr(why, "1 lost"));
    LoopTrain quarter = trainOf({0.25, 0.25, 0.25});
    for (LoopRound& r : quarter.rounds) r.loopMs = 410.0;
    EXPECT_EQ(Verdict::Fault, trainVerdict(quarter, e, 3, quiet, stall(0.0), why, sizeof why));
    EXPECT_EQ(Verdict::Fault, trainVerdict(trainOf({0.5, 0.25, 0.5}), e, 3, quiet, stall(0.0), why, sizeof why));
    EXPECT_EQ(1, lostEchoes(LoopRound{0, 0, 450.0, 0.21, 0}, e, 200.0, 220.0));  // a dropout in a flaky run
    EXPECT_EQ(1, lostEchoes(LoopRound{0, 0, 288.0, 0.25, 0}, e, 82.0, 148.0));   // and in a loaded one
    EXPECT_EQ(2, lostEchoes(LoopRound{0, 0, 600.0, 0.125, 0}, e, 200.0, 200.0));
    EXPECT_EQ(0, lostEchoes(LoopRound{0, 0, 450.0, 0.35, 0}, e, 200.0, 220.0));
    EXPECT_EQ(0, lostEchoes(LoopRound{0, 0, 205.0, 0.25, 0}, e, 200.0, 220.0));
    // A dropout split the echo a stalled round ended on: its second piece
    // came 47 ms later, sooner than any loop. A round of a whole loop after
    // it, or a wrong round before any disturbance, is still a fault.
    std::vector<StallMeasure> middle = quiet;
    middle[1] = stall(45.0);
    LoopTrain split = trainOf({0.5, 0.25, 0.64});
    split.rounds[2].loopMs = 47.0;
    EXPECT_EQ(Verdict::Stalled, trainVerdict(split, e, 3, middle, stall(45.0), why, sizeof why));
    EXPECT_EQ(Verdict::Fault, trainVerdict(trainOf({0.5, 0.25, 0.64}), e, 3, middle, stall(45.0), why, sizeof why));
    std::vector<StallMeasure> third = quiet;
    third[2] = stall(45.0);
    split.rounds[1].loopMs = 47.0;
    split.rounds[2].loopMs = 205.0;
    EXPECT_EQ(Verdict::Fault, trainVerdict(split, e, 3, third, stall(45.0), why, sizeof why));
    // A stall below the limit is the sound system's ordinary jitter.
    second[1] = stall(kLoopStallMs);
    EXPECT_EQ(Verdict::Fault, trainVerdict(trainOf({0.5, 0.21, 0.5}), e, 3, second, stall(0.0), why, sizeof why));

    // A round too early for the block geometry is as wrong as a wrong gain.
    LoopTrain soon = trainOf({0.5, 0.5, 0.5});
    soon.rounds[2].loopMs = 21.0;
    EXPECT_EQ(Verdict::Fault, trainVerdict(soon, e, 3, quiet, stall(0.0), why, sizeof why));

    // No echo came back: a fault unless the train's stretch stalled.
    EXPECT_EQ(Verdict::Fault, trainVerdict(LoopTrain{}, e, 3, quiet, stall(0.0), why, sizeof why));
    EXPECT_NE(nullptr, std::strstr(why, "0 rounds of at least 3"));
    EXPECT_EQ(Verdict::Stalled, trainVerdict(LoopTrain{}, e, 3, quiet, stall(300.0), why, sizeof why));
    // Echoes that stopped after a correct round lost one on the way; after
    // a wrong one they are no excuse.
    EXPECT_EQ(Verdict::Stalled, trainVerdict(trainOf({0.5}), e, 3, quiet, stall(0.0), why, sizeof why));
    EXPECT_NE(nullptr, std::strstr(why, "1 rounds of at least 3 (stall 0.0 ms, its echoes stopped)"));
    EXPECT_EQ(Verdict::Fault, trainVerdict(trainOf({0.4}), e, 3, quiet, stall(0.0), why, sizeof why));
}

}  // namespace

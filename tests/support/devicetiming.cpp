#include "tests/support/devicetiming.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

double percentile(std::vector<double> values, double p) {
    if (values.empty()) return 0.0;
    std::sort(values.begin(), values.end());
    const double rank = std::ceil(p / 100.0 * static_cast<double>(values.size()));
    const size_t index = rank < 1.0 ? 0 : std::min(values.size() - 1, static_cast<size_t>(rank) - 1);
    return values[index];
}

SwitchTiming switchTiming(const std::vector<double>& at, double periodMicros) {
    SwitchTiming t;
    t.switches = static_cast<int64_t>(at.size());
    t.periodMicros = periodMicros;
    if (at.size() < 2 || !(periodMicros > 0.0)) return t;
    t.wallMicros = at.back() - at.front();
    t.expectedMicros = periodMicros * static_cast<double>(at.size() - 1);
    // The schedule's start: switch k is due at anchor + k periods, and none
    // began before it was due.
    double anchor = at[0];
    for (size_t k = 0; k < at.size(); ++k) anchor = std::min(anchor, at[k] - periodMicros * static_cast<double>(k));
    std::vector<double> gaps, lateness, catchUp;
    gaps.reserve(at.size());
    lateness.reserve(at.size());
    for (size_t k = 0; k < at.size(); ++k) {
        const double late = at[k] - anchor - periodMicros * static_cast<double>(k);
        lateness.push_back(late);
        if (late > periodMicros) ++t.lateSwitches;
        if (k == 0) continue;
        const double gap = at[k] - at[k - 1];
        gaps.push_back(gap);
        // Switch k was due before switch k - 1 began: nothing but switch
        // k - 1 itself (and any stall) stood between them.
        if (lateness[k - 1] > periodMicros) catchUp.push_back(gap);
        t.worstGapMicros = std::max(t.worstGapMicros, gap);
        if (gap > kStallGapPeriods * periodMicros) t.stallMicros += gap - periodMicros;
    }
    t.catchUpSwitches = static_cast<int64_t>(catchUp.size());
    t.catchUpMicros = percentile(catchUp, 50.0);
    t.gapP50 = percentile(gaps, 50.0);
    t.gapP99 = percentile(gaps, 99.0);
    t.gapP999 = percentile(gaps, 99.9);
    t.latenessP50 = percentile(lateness, 50.0);
    t.latenessP99 = percentile(lateness, 99.0);
    t.latenessMax = percentile(lateness, 100.0);
    return t;
}

Verdict paceVerdict(const SwitchTiming& t) {
    if (t.switches < 2) return Verdict::Good;
    // A held-up driver runs its missed switches back to back, so most gaps
    // stay at a period or below; most gaps longer than that are switches
    // that take longer than their period, whatever the scheduler does.
    if (t.gapP50 > kSlowSwitchPeriods * t.periodMicros) return Verdict::Fault;
    const bool costKnown = t.catchUpSwitches >= kMinCatchUpSwitches;
    if (costKnown && t.catchUpMicros >= t.periodMicros) return Verdict::Fault;
    if (t.wallMicros - t.expectedMicros <= kPaceSlack * t.expectedMicros) return Verdict::Good;
    return costKnown ? Verdict::Good : Verdict::Stalled;
}

std::vector<size_t> findOnsets(const std::vector<float>& x, float threshold, size_t quietFrames) {
    std::vector<size_t> found;
    size_t quiet = 0;
    for (size_t i = 0; i < x.size(); ++i) {
        if (std::fabs(x[i]) >= threshold) {
            if (quiet >= quietFrames) found.push_back(i);
            quiet = 0;
        } else {
            ++quiet;
        }
    }
    return found;
}

namespace {

float peakAfter(const std::vector<float>& x, size_t at, size_t length) {
    float peak = 0.0f;
    for (size_t i = at; i < x.size() && i < at + length; ++i) peak = std::max(peak, std::fabs(x[i]));
    return peak;
}

}  // namespace

std::vector<LoopTrain> loopTrains(const std::vector<float>& heard, double rate) {
    // Onsets above 0.02 after 30 ms of quiet (a loop through Wine's sound
    // system takes 80 ms or more, a burst 20 ms); peaks over a burst.
    const std::vector<size_t> found = findOnsets(heard, 0.02f, static_cast<size_t>(rate * 0.03));
    const size_t burstFrames = static_cast<size_t>(rate / 50.0);
    std::vector<size_t> kept, doubled, split;
    for (size_t onset : found) {
        const float level = peakAfter(heard, onset, burstFrames);
        bool again = false;
        for (size_t k = kept.size(); k-- > 0 && !again;) {
            if (static_cast<double>(onset - kept[k]) * 1000.0 / rate > kDoubledWithinMs) break;
            const float before = peakAfter(heard, kept[k], burstFrames);
            again = level >= kDoubledLevel * before && level <= 1.33f * before;
        }
        if (again) {
            doubled.push_back(onset);
            continue;
        }
        const size_t n = kept.size();
        if (n >= 2 && static_cast<double>(onset - kept[n - 1]) * 1000.0 / rate < kSplitWithinMs &&
            static_cast<double>(kept[n - 1] - kept[n - 2]) * 1000.0 / rate <= 1000.0 &&
            level > peakAfter(heard, kept[n - 1], burstFrames) &&
            level <= 1.1f * peakAfter(heard, kept[n - 2], burstFrames)) {
            split.push_back(kept[n - 1]);
            kept[n - 1] = onset;
            continue;
        }
        kept.push_back(onset);
    }

    std::vector<LoopTrain> trains;
    for (size_t i = 0; i < kept.size(); ++i) {
        if (i == 0) {
            trains.push_back(LoopTrain{kept[i], {}, {}, {}});
            continue;
        }
        const double gapMs = static_cast<double>(kept[i] - kept[i - 1]) * 1000.0 / rate;
        const float now = peakAfter(heard, kept[i - 1], burstFrames);
        const float next = peakAfter(heard, kept[i], burstFrames);
        if (gapMs > 1000.0 || next > now) {
            trains.push_back(LoopTrain{kept[i], {}, {}, {}});
            continue;
        }
        trains.back().rounds.push_back(LoopRound{kept[i - 1], kept[i], gapMs, now > 0.0f ? next / now : 0.0, 0, 0});
    }
    for (size_t d : doubled) {
        LoopTrain* owner = nullptr;
        for (LoopTrain& t : trains)
            if (t.burst <= d) owner = &t;
        if (!owner) continue;
        owner->doubled.push_back(d);
        for (LoopRound& round : owner->rounds)
            if (d > round.from && d <= round.to + (round.to - round.from)) ++round.doubled;
    }
    for (size_t piece : split)
        for (LoopTrain& t : trains)
            for (LoopRound& round : t.rounds)
                if (piece > round.from && piece < round.to) {
                    t.split.push_back(piece);
                    ++round.split;
                }
    return trains;
}

bool roundCorrect(const LoopRound& round, const LoopExpectation& expected) {
    return std::fabs(round.ratio - expected.ratio) <= expected.ratioTolerance && round.loopMs >= expected.minLoopMs &&
           round.loopMs <= expected.maxLoopMs;
}

double arrivalMs(const std::vector<CursorSample>& cursors, double frame) {
    auto it = std::lower_bound(cursors.begin(), cursors.end(), frame,
                               [](const CursorSample& c, double f) { return c.captureFrames < f; });
    return it == cursors.end() ? -1.0 : it->atMs;
}

StallMeasure stallBetween(double fromMs, double toMs, const std::vector<double>& blocks, double blockMs,
                          const std::vector<CursorSample>& cursors, double rate) {
    StallMeasure m;
    // Live input's blocks: the longest wait that overlaps the stretch, the
    // stretch's end counting as a block that had not come yet.
    double worstGap = 0.0;
    double previous = -1.0;
    for (double at : blocks) {
        if (previous >= 0.0 && at >= fromMs && previous <= toMs) worstGap = std::max(worstGap, at - previous);
        previous = at;
        if (at > toMs) break;
    }
    const double lastBefore = [&] {
        double last = -1.0;
        for (double at : blocks)
            if (at <= toMs) last = at;
        return last;
    }();
    worstGap = std::max(worstGap, toMs - std::max(lastBefore, fromMs));
    m.blockGapMs = std::max(0.0, worstGap - blockMs);

    // The cursors' lag behind the clock: steady while the sound system keeps
    // time, growing while it stalls.
    double captureLow = 1e300, captureHigh = -1e300, playLow = 1e300, playHigh = -1e300;
    double previousLook = -1.0, worstLookGap = 0.0;
    for (const CursorSample& c : cursors) {
        if (c.atMs < fromMs) {
            previousLook = c.atMs;
            continue;
        }
        if (previousLook >= 0.0 && previousLook <= toMs) worstLookGap = std::max(worstLookGap, c.atMs - previousLook);
        previousLook = c.atMs;
        if (c.atMs > toMs) break;
        const double captureLag = c.atMs - c.captureFrames * 1000.0 / rate;
        captureLow = std::min(captureLow, captureLag);
        captureHigh = std::max(captureHigh, captureLag);
        if (std::isnan(c.playFrames)) continue;  // nothing playing yet
        const double playLag = c.atMs - c.playFrames * 1000.0 / rate;
        playLow = std::min(playLow, playLag);
        playHigh = std::max(playHigh, playLag);
    }
    if (captureHigh >= captureLow) m.captureLagMs = std::max(0.0, captureHigh - captureLow - kPacketMs);
    if (playHigh >= playLow) m.playLagMs = std::max(0.0, playHigh - playLow - kPacketMs);
    // No look at all during the stretch: the harness was away for all of it.
    m.probeGapMs = previousLook < fromMs ? toMs - fromMs : worstLookGap;

    const struct {
        double value;
        const char* name;
    } measures[] = {{m.blockGapMs, "live input's blocks"},
                    {m.captureLagMs, "the capture cursor"},
                    {m.playLagMs, "the play cursor"},
                    {m.probeGapMs, "the harness's own looks"}};
    for (const auto& measure : measures)
        if (measure.value > m.stallMs) {
            m.stallMs = measure.value;
            m.source = measure.name;
        }
    return m;
}

int lostEchoes(const LoopRound& round, const LoopExpectation& expected, double shortestMs, double longestMs) {
    for (int m = 2; m <= 3; ++m) {
        const double level = std::pow(expected.ratio, m);
        const double tolerance = expected.ratioTolerance * m * std::pow(expected.ratio, m - 1);
        if (std::fabs(round.ratio - level) <= tolerance && round.loopMs >= (m - 0.5) * shortestMs &&
            round.loopMs <= (m + 0.5) * longestMs)
            return m - 1;
    }
    return 0;
}

Verdict trainVerdict(const LoopTrain& train, const LoopExpectation& expected, size_t minRounds,
                     const std::vector<StallMeasure>& roundStalls, const StallMeasure& trainStall, char* why,
                     size_t whySize) {
    Verdict verdict = Verdict::Good;
    if (whySize > 0) why[0] = '\0';
    // The loops of the rounds that came back right: what a lost echo spans.
    double shortest = 1e300, longest = 0.0;
    for (const LoopRound& r : train.rounds)
        if (roundCorrect(r, expected)) {
            shortest = std::min(shortest, r.loopMs);
            longest = std::max(longest, r.loopMs);
        }
    const bool anyCorrect = longest > 0.0;
    bool previousExcused = false;
    for (size_t i = 0; i < train.rounds.size(); ++i) {
        const LoopRound& r = train.rounds[i];
        if (roundCorrect(r, expected) && r.split == 0) {
            previousExcused = false;
            continue;
        }
        const double stall = i < roundStalls.size() ? roundStalls[i].stallMs : 0.0;
        const bool stalledHere = stall > kLoopStallMs;
        const int lost = anyCorrect ? lostEchoes(r, expected, shortest, longest) : 0;
        // A piece of the echo a disturbed round ended on: it came sooner
        // than any loop of the train could bring it.
        const bool fragment = previousExcused && anyCorrect && r.loopMs < kFragmentOfLoop * shortest;
        const bool stalled = stalledHere || r.doubled > 0 || r.split > 0 || lost > 0 || fragment;
        std::snprintf(why, whySize,
                      "round %zu took %.1f ms with %.3f of the level before (stall %.1f ms%s%s, %d echoes doubled, %d "
                      "split, %d lost)",
                      i, r.loopMs, r.ratio, stall, stalledHere ? " in " : "", stalledHere ? roundStalls[i].source : "",
                      r.doubled, r.split, lost);
        if (!stalled) return Verdict::Fault;
        verdict = Verdict::Stalled;
        previousExcused = true;
    }
    if (train.rounds.size() < minRounds) {
        // Echoes that stopped after rounds that came back right lost one on
        // the way, as a dropout does; none at all needs a measured stall.
        const bool stalledHere = trainStall.stallMs > kLoopStallMs;
        const bool stalled = stalledHere || anyCorrect;
        if (verdict == Verdict::Good || !stalled)
            std::snprintf(why, whySize, "%zu rounds of at least %zu (stall %.1f ms%s%s%s)", train.rounds.size(),
                          minRounds, trainStall.stallMs, stalledHere ? " in " : "",
                          stalledHere ? trainStall.source : "", anyCorrect ? ", its echoes stopped" : "");
        if (!stalled) return Verdict::Fault;
        verdict = Verdict::Stalled;
    }
    return verdict;
}

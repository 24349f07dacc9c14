// Telling a scheduling stall from a fault in the device tests that run at
// real time under Wine. A shared machine takes the CPU from a driver's or a
// sound server's thread now and then; what a round of such a test proves
// (the signal, its scale, its lateness in blocks, no switch lost) must not
// depend on that, and a fault must never pass as a stall. Platform-free
// figures over timestamps and recordings; the Windows rigs collect them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// ---- buffer switches on a driver's thread ----

// A gap between two switches longer than this many periods means the
// thread was away (preempted, or the machine busy): its time beyond one
// period counts as stall.
constexpr double kStallGapPeriods = 3.0;
// How far a round may end behind its periods before its pace is in question.
constexpr double kPaceSlack = 0.10;
// Half the switches taking longer than this many periods is the switches'
// own doing.
constexpr double kSlowSwitchPeriods = 1.5;
// Back-to-back switches needed to tell what one switch costs.
constexpr int64_t kMinCatchUpSwitches = 20;

struct SwitchTiming {
    int64_t switches = 0;
    double periodMicros = 0.0;
    double wallMicros = 0.0;      // first switch to last
    double expectedMicros = 0.0;  // (switches - 1) periods
    double worstGapMicros = 0.0;
    double stallMicros = 0.0;  // time beyond one period in gaps longer than kStallGapPeriods
    int64_t lateSwitches = 0;  // began more than a period behind the schedule
    double gapP50 = 0.0, gapP99 = 0.0, gapP999 = 0.0;
    double latenessP50 = 0.0, latenessP99 = 0.0, latenessMax = 0.0;
    // What a switch costs: the median gap before the switches the driver ran
    // back to back (the one before had begun more than a period late), and
    // how many there were. The scheduler decides how often the driver falls
    // behind, not how fast it catches up.
    double catchUpMicros = 0.0;
    int64_t catchUpSwitches = 0;
};

// Figures of switches that began at `at` (microseconds, ascending), one per
// period on the driver's schedule. The schedule is anchored where no switch
// began before its time.
SwitchTiming switchTiming(const std::vector<double>& at, double periodMicros);

enum class Verdict { Good, Stalled, Fault };

// Whether the switches kept pace with the periods. A driver held up by the
// scheduler runs the switches it owes back to back and catches up as long
// as a switch costs less than a period; a host whose callback does not fit
// its period never does. Fault when a switch costs a period or more (or most
// gaps are longer than kSlowSwitchPeriods); Good when the round kept pace or
// was catching up; Stalled when it ended behind with too few back-to-back
// switches to tell which.
Verdict paceVerdict(const SwitchTiming& timing);

// ---- the loopback: bursts and their echoes in one recording ----

// Sample indices where a burst begins: the level passes `threshold` after
// at least `quietFrames` of quiet.
std::vector<size_t> findOnsets(const std::vector<float>& x, float threshold, size_t quietFrames);

// One round of the loop: an echo (or the burst) and the echo that follows it.
struct LoopRound {
    size_t from = 0, to = 0;  // onsets in the recording
    double loopMs = 0.0;
    double ratio = 0.0;  // the later peak over the earlier one
    int doubled = 0;     // echoes heard twice during it or within a loop after it
    int split = 0;       // echoes that came in two pieces during it
};

// A burst and the rounds of its echoes.
struct LoopTrain {
    size_t burst = 0;
    std::vector<LoopRound> rounds;
    std::vector<size_t> doubled;  // onsets that repeated an echo heard before
    std::vector<size_t> split;    // onsets that were only the first piece of an echo
};

// Every echo of a train is half as loud as the one before; an onset as loud
// as an echo heard less than this long before it is that echo again: the
// same audio reached the output twice (the mixer took a block of the
// output ring before the streaming thread had rewritten it, or the thread
// read a capture block the device had not refilled), a glitch of the
// real-time path like an under-run. It is no echo of its own. A repeat
// partly overwritten by then is quieter: down to kDoubledLevel of the echo,
// which stands clear of the loop's gain and its tolerance.
constexpr double kDoubledWithinMs = 500.0;
constexpr float kDoubledLevel = 0.6f;

// An onset louder than the one just before it, this soon after it, and no
// louder than the echo before that, is the rest of an echo whose first
// piece the sound system let through on time before it fell behind (the
// loop is longer from then on). The piece is no echo of its own.
constexpr double kSplitWithinMs = 150.0;

// Splits a recording at `rate` into trains: an onset louder than the one
// before, or more than a second after it, begins a train. Doubled echoes
// and the first pieces of split ones are set apart.
std::vector<LoopTrain> loopTrains(const std::vector<float>& heard, double rate);

// What every round must show: the loop's gain and how late the loop may
// come back. The lower limit is the program's own share of the lateness
// (its block geometry); the sound system adds its share on top.
struct LoopExpectation {
    double ratio = 0.5, ratioTolerance = 0.06;
    double minLoopMs = 0.0, maxLoopMs = 0.0;
};

bool roundCorrect(const LoopRound& round, const LoopExpectation& expected);

// ---- stalls during a stretch of wall time ----

// One look at the devices: when (ms), the harness player's play cursor and
// the harness recording's capture cursor, in frames since they started
// (unwrapped; the play cursor NaN before the player started).
struct CursorSample {
    double atMs = 0.0;
    double playFrames = 0.0;
    double captureFrames = 0.0;
};

// The sound system delivers in packets of about this length: cursors move
// in such steps, so lag changes below it are no stall.
constexpr double kPacketMs = 10.0;
// A stretch with a stall larger than this is stalled.
constexpr double kLoopStallMs = 20.0;

struct StallMeasure {
    double blockGapMs = 0.0;    // longest wait between two blocks of live input, beyond one block
    double captureLagMs = 0.0;  // how far the capture cursor fell behind the clock and caught up, beyond a packet
    double playLagMs = 0.0;     // the same for the play cursor
    double probeGapMs = 0.0;    // longest time the harness itself was not looking
    double stallMs = 0.0;       // the largest of the four
    const char* source = "";    // which one
};

// Stalls during [fromMs, toMs]: `blocks` are the times live input processed
// its blocks of `blockMs`, `cursors` the harness's looks at the devices.
StallMeasure stallBetween(double fromMs, double toMs, const std::vector<double>& blocks, double blockMs,
                          const std::vector<CursorSample>& cursors, double rate);

// When the recording's frame `frame` had arrived (the first look whose
// capture cursor had passed it); -1 when it never did.
double arrivalMs(const std::vector<CursorSample>& cursors, double frame);

// Echoes a round lost on the way (a dropout): it spans about `m` loops of
// its train (whose correct rounds took `shortestMs` to `longestMs`), m = 2
// or 3, and the level fell by the loop's gain m times, within m
// tolerances; 0 for any other round.
int lostEchoes(const LoopRound& round, const LoopExpectation& expected, double shortestMs, double longestMs);

// A dropout can split an echo: the second piece comes sooner than a loop.
constexpr double kFragmentOfLoop = 0.75;

// A whole train judged: Good when it has at least `minRounds` rounds and
// each is correct. A wrong round is Stalled only when a stall was measured
// during it (`roundStalls`, one per round), a doubled echo was heard in it
// or one of its echoes came in two pieces (such a round is never Good),
// it lost echoes while another round of the train came back correct (a
// wrong gain is wrong in every round, so it never passes as lost echoes),
// or it is a piece of the echo an excused round just before it ended on
// (sooner than kFragmentOfLoop of the train's shortest correct loop).
// Missing rounds are Stalled when the train's echoes stopped after correct
// rounds, or with none at all when `trainStall` shows a stall. Anything else
// is a Fault; `why` tells which round and what. (A loop that always loses
// its echoes early never makes a Good train: a caller wants one.)
Verdict trainVerdict(const LoopTrain& train, const LoopExpectation& expected, size_t minRounds,
                     const std::vector<StallMeasure>& roundStalls, const StallMeasure& trainStall, char* why,
                     size_t whySize);

// Nearest-rank percentile (0..100) of unsorted values; 0 when empty.
double percentile(std::vector<double> values, double p);

#!/usr/bin/env python3
"""Silent gaps in a recording of a sink's monitor (or in a take).

    gaps.py FILE.wav [--start EPOCH] [--events FILE [--open on --close off]]
            [--from S --to S] [--excuse FEED.wav --excuse-after 1.5]
            [--starved LATENCY.txt --starved-ms 30 --starved-pressure 90
             --starved-margin 1]
            [--window-ms 5] [--threshold 0.01] [--limit-ms 20]
            [--on-margin 1.5] [--off-margin 0.5] [--list N]

The signal is cut into windows of --window-ms; a window whose RMS (all
channels, full scale 1.0) is below --threshold is silent, and a run of
silent windows is a gap. Only the stretches where a signal must be are
looked at: with --events, lines "WORD EPOCH" in the order they happened,
a stretch running from each --open word (e.g. "on": live input asked to
start) to the next --close word ("off"); the start counts from --on-margin
seconds later (the devices start, the first blocks pass), the end from
--off-margin seconds earlier (the recording's own start lags the clock it
was launched by); --start is the epoch at which the recording was
launched. Without events, --from/--to (seconds into the file) give one
stretch, by default the whole file.

With --excuse, FEED.wav is a recording of what went in, started with this
one: a gap here that begins from half a second before a gap of the feed
until --excuse-after seconds after it ended (the way through the program,
and the rest of a stall that held the feed up too) is counted apart as
excused.

With --starved, LATENCY.txt is latency.py's record of the same run; a
second in which its sleeper woke more than --starved-ms late, or in which
some task waited for a CPU --starved-pressure percent of the time or more,
is a starved one. A gap that begins within --starved-margin seconds of a
starved second is the machine's and is counted apart as starved;
starved-time is how much of the checked time lies that close to one.

Prints one line "checked SECONDS gaps N longest MS over-limit M excused E
silent MS worst-second MS starved G starved-time SECONDS" (silent: all the
gaps' milliseconds together;
worst-second: the most of them that begin within one second) and then up to
--list lines "gap AT-SECONDS MS" (file time) of the longest gaps, longest
first, each with the last event line before it ("after WORD +SECONDS").
Exits 0 always; the scenario judges the figures.
"""
import argparse
import sys
import warnings
import wave

# audioop is deprecated in Python 3.11 (and gone in 3.13); Debian 12 has it.
warnings.filterwarnings("ignore", category=DeprecationWarning)
import audioop  # noqa: E402


def stretches(args, duration):
    if not args.events:
        lo = args.frm if args.frm is not None else 0.0
        hi = args.to if args.to is not None else duration
        return [(max(0.0, lo), min(duration, hi))]
    out, on = [], None
    with open(args.events) as f:
        for line in f:
            parts = line.split()
            if len(parts) < 2 or parts[0] not in (args.open, args.close):
                continue
            t = float(parts[1]) - args.start
            if parts[0] == args.open:
                if on is None:
                    on = t + args.on_margin
            elif on is not None:
                end = t - args.off_margin
                if end > on:
                    out.append((max(0.0, on), min(duration, end)))
                on = None
    if on is not None and duration > on:
        out.append((max(0.0, on), duration))
    return [(a, b) for a, b in out if b > a]


def find_gaps(w, lo, hi, args):
    """(milliseconds, start second) of every gap between lo and hi."""
    rate, width, channels = w.getframerate(), w.getsampwidth(), w.getnchannels()
    window = max(1, int(rate * args.window_ms / 1000))
    limit = args.threshold * float(1 << (8 * width - 1))
    gaps = []
    first, last = int(lo * rate), int(hi * rate)
    w.setpos(first)
    pos, run_start, run = first, None, 0
    while pos + window <= last:
        chunk = w.readframes(window)
        if len(chunk) < window * width * channels:
            break
        if audioop.rms(chunk, width) < limit:
            if run_start is None:
                run_start = pos
            run += window
        elif run_start is not None:
            gaps.append((run * 1000.0 / rate, run_start / rate))
            run_start, run = None, 0
        pos += window
    if run_start is not None:
        gaps.append((run * 1000.0 / rate, run_start / rate))
    return gaps


def main():
    p = argparse.ArgumentParser()
    p.add_argument("file")
    p.add_argument("--start", type=float, default=0.0)
    p.add_argument("--events")
    p.add_argument("--open", default="on")
    p.add_argument("--close", default="off")
    p.add_argument("--excuse")
    p.add_argument("--excuse-after", type=float, default=1.5)
    p.add_argument("--starved")
    p.add_argument("--starved-ms", type=float, default=30.0)
    p.add_argument("--starved-pressure", type=float, default=90.0)
    p.add_argument("--starved-margin", type=float, default=1.0)
    p.add_argument("--from", dest="frm", type=float)
    p.add_argument("--to", type=float)
    p.add_argument("--window-ms", type=float, default=5.0)
    p.add_argument("--threshold", type=float, default=0.01)
    p.add_argument("--limit-ms", type=float, default=20.0)
    p.add_argument("--on-margin", type=float, default=1.5)
    p.add_argument("--off-margin", type=float, default=0.5)
    p.add_argument("--list", type=int, default=10)
    args = p.parse_args()

    w = wave.open(args.file, "rb")
    duration = w.getnframes() / w.getframerate()
    gaps = []
    checked = 0.0
    spans = stretches(args, duration)
    for lo, hi in spans:
        checked += hi - lo
        gaps += find_gaps(w, lo, hi, args)
    starved_spans = []
    if args.starved:
        with open(args.starved) as f:
            for line in f:
                parts = line.split()
                if len(parts) >= 3 and (float(parts[1]) > args.starved_ms or
                                        float(parts[2]) >= args.starved_pressure):
                    at = float(parts[0]) - args.start
                    starved_spans.append((at - args.starved_margin, at + 1.0 + args.starved_margin))
    starved_time = 0.0
    for lo, hi in spans:
        edge = lo
        for a, b in sorted(starved_spans):
            a, b = max(a, edge), min(b, hi)
            if b > a:
                starved_time += b - a
                edge = b
    starved = [g for g in gaps if any(a <= g[1] <= b for a, b in starved_spans)]
    gaps = [g for g in gaps if g not in starved]
    excused = []
    if args.excuse:
        feed = wave.open(args.excuse, "rb")
        feed_gaps = find_gaps(feed, 0.0, feed.getnframes() / feed.getframerate(), args)
        kept = []
        for g in gaps:
            feed_made = any(at - 0.5 <= g[1] <= at + ms / 1000.0 + args.excuse_after for ms, at in feed_gaps)
            (excused if feed_made else kept).append(g)
        gaps = kept
    # The worst second: the most silence among gaps that begin within one
    # second of each other (a burst of short under-runs sounds as one).
    by_time = sorted(gaps, key=lambda g: g[1])
    worst, lo, inside = 0.0, 0, 0.0
    for ms, at in by_time:
        inside += ms
        while by_time[lo][1] < at - 1.0:
            inside -= by_time[lo][0]
            lo += 1
        worst = max(worst, inside)
    gaps.sort(reverse=True)
    longest = gaps[0][0] if gaps else 0.0
    over = sum(1 for g in gaps if g[0] > args.limit_ms)
    silent = sum(g[0] for g in gaps)
    print("checked %.1f gaps %d longest %.0f over-limit %d excused %d silent %.0f worst-second %.0f"
          " starved %d starved-time %.1f"
          % (checked, len(gaps), longest, over, len(excused), silent, worst, len(starved), starved_time))
    marks = []
    if args.events:
        with open(args.events) as f:
            for line in f:
                parts = line.split()
                if len(parts) >= 2:
                    marks.append((float(parts[1]) - args.start, parts[0]))
    for ms, at in gaps[: args.list]:
        before = [m for m in marks if m[0] <= at]
        label = " after %s +%.1f" % (before[-1][1], at - before[-1][0]) if before else ""
        print("gap %.3f %.0f%s" % (at, ms, label))
    return 0


if __name__ == "__main__":
    sys.exit(main())

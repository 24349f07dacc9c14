#!/usr/bin/env python3
"""How starved the machine is, second by second, while a soak runs.

    latency.py OUT.txt [--period-ms 5]

Until it is killed, a thread sleeps PERIOD ms again and again and, once a
second, appends a line "EPOCH LATE-MS PRESSURE" to OUT.txt: EPOCH is when
that second began (the same clock as `date +%s.%N`), LATE-MS the most any
wake-up came later than asked within it, PRESSURE the percentage of that
second in which some task waited for a CPU (/proc/pressure/cpu; -1
without it). A sleeper of ordinary priority that wakes hundreds of
milliseconds late means every other ordinary process - Wine's audio
threads, PulseAudio's clients - may have been held up as long: the soak
counts audio faults at such moments apart.
"""
import argparse
import time


def pressure_total():
    try:
        with open("/proc/pressure/cpu") as f:
            for line in f:
                if line.startswith("some "):
                    for part in line.split():
                        if part.startswith("total="):
                            return int(part[6:])
    except OSError:
        pass
    return None


def main():
    p = argparse.ArgumentParser()
    p.add_argument("out")
    p.add_argument("--period-ms", type=float, default=5.0)
    args = p.parse_args()
    period = args.period_ms / 1000.0
    with open(args.out, "a", buffering=1) as out:
        second_start = time.time()
        mono_start = time.monotonic()
        pressure_start = pressure_total()
        late = 0.0
        while True:
            before = time.monotonic()
            time.sleep(period)
            after = time.monotonic()
            late = max(late, after - before - period)
            if after - mono_start >= 1.0:
                pressure_now = pressure_total()
                if pressure_start is None or pressure_now is None:
                    share = -1.0
                else:
                    share = 100.0 * (pressure_now - pressure_start) / 1e6 / (after - mono_start)
                out.write("%.3f %.1f %.1f\n" % (second_start, late * 1000.0, share))
                second_start, mono_start, pressure_start, late = time.time(), after, pressure_now, 0.0


if __name__ == "__main__":
    try:
        main()
    except KeyboardInterrupt:
        pass

// The frame's status bar without windows: the latency read-out's figure
// and text. statusbar_win32.cpp shows what these decide, from the refresh
// timer while live input runs.
#pragma once

#include <cstddef>
#include <cstdint>

// What the latency of live input is made of, as the running devices and
// the chain report it. The figures come from drivers and plug-ins and are
// taken as they are: negative frame counts count as 0.
struct LatencySources {
    double rate = 0.0;  // the running rate, Hz; not positive: live input does not run
    bool asio = false;
    // DirectSound: the frames per block and the delay between the start of
    // capture and the start of playback.
    uint32_t blockFrames = 0;
    uint32_t outputDelayMs = 0;
    // ASIO: the driver's answers to its latency question, in frames (they
    // include the buffers).
    int32_t asioInputFrames = 0, asioOutputFrames = 0;
    // The plug-ins' delay: chainLatency(), in frames.
    int32_t chainFrames = 0;
};

// The time from a sample at the input to the same sample at the output, in
// whole milliseconds (rounded to the nearest), or -1 when there is no rate.
//   DirectSound: a block is captured whole before it is processed, and is
//   written one block ahead of the one being played, so the loop takes two
//   blocks plus the output delay: 2 x blockFrames / rate + outputDelayMs.
//   ASIO: (input + output latency) / rate, as the driver reports them.
// Both add chainFrames / rate, the delay the plug-ins report.
int32_t liveLatencyMs(const LatencySources& s);

// What a WASAPI stream adds to the read-out: its mode and period, the
// blocks rendered without captured frames behind them (under-runs) and the
// times captured frames were dropped (over-runs), and the fallback taken:
// " | WASAPI Shared, 10.0 ms, under-runs 0, over-runs 0 | Exclusive mode
// refused: shared". `fallback` may be empty or null.
void formatWasapiStatus(const char* mode, double periodMs, uint32_t underruns, uint32_t overruns, const char* fallback,
                        char* out, size_t size);

// "Latency: N ms" for N >= 0; an empty text for a negative N (live input
// stopped). Always terminated when size > 0.
void formatLatencyStatus(int32_t ms, char* out, size_t size);

#include "app/statusbar.h"

#include <cmath>
#include <cstdio>

namespace {

double frames(int32_t n) { return n > 0 ? static_cast<double>(n) : 0.0; }

}  // namespace

int32_t liveLatencyMs(const LatencySources& s) {
    if (!(s.rate > 0.0) || !std::isfinite(s.rate)) return -1;
    double ms = 0.0;
    if (s.asio)
        ms = (frames(s.asioInputFrames) + frames(s.asioOutputFrames)) * 1000.0 / s.rate;
    else
        ms = 2.0 * static_cast<double>(s.blockFrames) * 1000.0 / s.rate + static_cast<double>(s.outputDelayMs);
    ms += frames(s.chainFrames) * 1000.0 / s.rate;
    // Beyond a day is no latency a device or plug-in means; it stays readable.
    if (ms > 86400000.0) ms = 86400000.0;
    return static_cast<int32_t>(std::lround(ms));
}

void formatWasapiStatus(const char* mode, double periodMs, uint32_t underruns, uint32_t overruns, const char* fallback,
                        char* out, size_t size) {
    if (!out || size == 0) return;
    std::snprintf(out, size, " | WASAPI %s, %.1f ms, under-runs %u, over-runs %u%s%s", mode ? mode : "?",
                  periodMs > 0.0 && periodMs < 10000.0 ? periodMs : 0.0, static_cast<unsigned>(underruns),
                  static_cast<unsigned>(overruns), fallback && fallback[0] ? " | " : "", fallback ? fallback : "");
}

void formatLatencyStatus(int32_t ms, char* out, size_t size) {
    if (!out || size == 0) return;
    if (ms < 0)
        out[0] = '\0';
    else
        std::snprintf(out, size, "Latency: %d ms", static_cast<int>(ms));
}

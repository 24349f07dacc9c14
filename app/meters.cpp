#include "app/meters.h"

#include <cmath>
#include <cstdio>

namespace {

// NaN fails every comparison, so it is tested first and sent to `low`.
double clampFigure(double v, double low, double high) {
    if (std::isnan(v) || v < low) return low;
    if (v > high) return high;
    return v;
}

}  // namespace

int meterLitSegments(float peak) {
    const double p = peak;
    const double level = p > 0.0 ? 20.0 * std::log10(p) : static_cast<double>(kMeterFloorDb);
    const double lit = (80.0 + level) * kMeterSegments / 80.0;
    return static_cast<int>(clampFigure(lit, 0.0, kMeterSegments));
}

MeterSegmentColour meterSegmentColour(int segment, int lit) {
    if (segment >= lit) return kSegmentUnlit;
    return segment < kMeterPeakFrom ? kSegmentLit : kSegmentPeak;
}

MeterRect meterSegmentRect(int channel, int segment) {
    MeterRect r;
    r.left = 65 + 5 * segment;
    r.right = r.left + 4;
    r.top = channel == 0 ? 11 : 34;
    r.bottom = channel == 0 ? 22 : 45;
    return r;
}

int loadBarColumns(float cpuPercent) {
    return static_cast<int>(clampFigure(100.0 * static_cast<double>(cpuPercent) / 100.0, 0.0, 100.0));
}

void formatLoadPercent(float cpuPercent, char* out, size_t size) {
    if (!out || size == 0) return;
    std::snprintf(out, size, "%.1f %%               ", clampFigure(cpuPercent, 0.0, 100.0));
}

LoadReadoutLayout loadReadoutLayout(int clientWidth, int clientHeight, int labelWidth) {
    LoadReadoutLayout l;
    const int x = clientWidth - 230;
    const int y = clientHeight - 30;
    if (x < 370) return l;
    if (labelWidth < 0) labelWidth = 0;
    l.visible = true;
    l.textX = x;
    l.textY = y;
    l.box.left = x + labelWidth + 5;
    l.box.top = y;
    l.box.right = l.box.left + 102;
    l.box.bottom = y + 16;
    l.barX = l.box.left + 1;
    l.barY = y + 1;
    l.percentX = l.box.left + 106;
    l.percentY = y - 1;
    return l;
}

MeterWindowPlace meterWindowPlace(int which, int x, int y, int fixedFrameX, int fixedFrameY, int smallCaption) {
    MeterWindowPlace p;
    p.title = which == kInputMeter ? "Input VU Meter" : "Output VU Meter";
    p.x = x;
    p.y = y;
    p.width = kMeterClientWidth + 2 * fixedFrameX;
    p.height = kMeterClientHeight + smallCaption + 2 * fixedFrameY;
    return p;
}

void recordMeterPosition(WindowPositions& positions, int which, int x, int y) {
    if (which == kInputMeter) {
        positions.inputMeterX = x;
        positions.inputMeterY = y;
    } else if (which == kOutputMeter) {
        positions.outputMeterX = x;
        positions.outputMeterY = y;
    }
}

void meterPosition(const WindowPositions& positions, int which, int& x, int& y) {
    x = which == kInputMeter ? positions.inputMeterX : positions.outputMeterX;
    y = which == kInputMeter ? positions.inputMeterY : positions.outputMeterY;
}

// The VU meters' and the processor-load read-out's platform-free model:
// how many segments a peak lights and in which colour, where each segment
// sits, how wide the load bar is and what the percentage says, and where
// the meter windows open. meters_win32.cpp paints what these decide.
//
// The figures come from the engine, written by the audio thread and read
// here one float at a time; anything may arrive (NaN, infinities,
// negative values), so every conversion clamps in floating point before it
// becomes an integer, NaN going to the low end.
#pragma once

#include <cstddef>
#include <cstdint>

#include "app/settings.h"

constexpr int kMeterSegments = 43;
constexpr int kMeterPeakFrom = 38;  // segments 38..42 are the peak zone
constexpr int kMeterClientWidth = 300, kMeterClientHeight = 56;
constexpr int kMeterFloorDb = -80;

// Which meter: the numbers the meter operations take.
enum MeterWhich { kOutputMeter = 0, kInputMeter = 1 };

// Lit segments for a linear peak (1.0 = full scale): 0 for a peak of 0,
// a negative one, NaN or anything at or below -80 dB; 43 from full scale up.
int meterLitSegments(float peak);

enum MeterSegmentColour { kSegmentUnlit = 0, kSegmentLit, kSegmentPeak };
MeterSegmentColour meterSegmentColour(int segment, int lit);

struct MeterRect {
    int left = 0, top = 0, right = 0, bottom = 0;  // right and bottom outside
};
// Segment k (0..42) of channel 0 (left, upper row) or 1 (right, lower row),
// in the meter's client coordinates.
MeterRect meterSegmentRect(int channel, int segment);

// Columns of the load bar picture shown for a load figure in percent: 0..100.
int loadBarColumns(float cpuPercent);

// The percentage text: "%.1f %%" and enough trailing spaces to wipe out a
// longer text drawn before; figures above 100 show 100.0, below 0 and NaN 0.0.
void formatLoadPercent(float cpuPercent, char* out, size_t size);

// Where the read-out's parts go in the frame's client area.
struct LoadReadoutLayout {
    bool visible = false;   // false in a frame too narrow for it
    int textX = 0, textY = 0;  // "CPU Usage:"
    MeterRect box;             // the sunken box around the bar
    int barX = 0, barY = 0;    // the bar picture's top-left
    int barWidth = 100, barHeight = 14;
    int percentX = 0, percentY = 0;
};
LoadReadoutLayout loadReadoutLayout(int clientWidth, int clientHeight, int labelWidth);

constexpr const char* kLoadLabel = "CPU Usage:";

// A meter window's title, screen position and outer size.
struct MeterWindowPlace {
    const char* title = "";
    int x = 0, y = 0, width = 0, height = 0;
};
// `x`, `y`: the recorded position; the system metrics are the fixed frame's
// width and height and the small caption's height.
MeterWindowPlace meterWindowPlace(int which, int x, int y, int fixedFrameX, int fixedFrameY, int smallCaption);

// The meter's recorded position in the ww002 record (input or output pair).
// A meter window records its outer top-left on the screen whenever it
// moves: the point it is created at, so re-opening puts it back.
void recordMeterPosition(WindowPositions& positions, int which, int x, int y);
void meterPosition(const WindowPositions& positions, int which, int& x, int& y);

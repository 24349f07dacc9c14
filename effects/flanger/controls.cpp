// The flanger editor: six horizontal trackbars; mix and phase offset each
// show two shares (dry/wet, left/right) beside their trackbar.
#include <cstdio>

#include "effects/flanger/resource.h"
#include "effects/frame/controls.h"

namespace {

constexpr double kDelaySpan = 4.9f;  // single precision, as the delay has always been mapped
constexpr double kDelayBase = 0.1f;

double rateValue(int position) { return static_cast<float>(position * 2 * 0.001); }
double ratePosition(double hz) { return hz * 1000 / 2; }
void hzCaption(double hz, char* out, size_t size) { std::snprintf(out, size, "%.2f Hz", hz); }

double rangeValue(int position) { return static_cast<float>(position * 4 * 0.001 + 1); }
double rangePosition(double ms) { return (ms - 1) * 1000 / 4; }
void msCaption(double ms, char* out, size_t size) { std::snprintf(out, size, "%.1f ms", ms); }

double delayValue(int position) { return static_cast<float>(position * kDelaySpan * 0.001 + kDelayBase); }
double delayPosition(double ms) { return (ms - kDelayBase) * 1000 / kDelaySpan; }

double fractionValue(int position) { return static_cast<float>(position * 0.001); }
double fractionPosition(double value) { return value * 1000; }
void feedbackCaption(double value, char* out, size_t size) { std::snprintf(out, size, "%.1f %%", value * 100); }
void wetCaption(double mix, char* out, size_t size) { std::snprintf(out, size, "%.1f%%", mix * 100); }
void dryCaption(double mix, char* out, size_t size) { std::snprintf(out, size, "%.1f%%", (1 - mix) * 100); }

// Limited to 0 ... 1; a zero share is +0, never shown as "-0.0%".
double share(double v) { return v > 0 ? (v > 1 ? 1 : v) : 0; }
void leftCaption(double offset, char* out, size_t size) {
    std::snprintf(out, size, "%.1f%%", share((offset - 0.5) * -2) * 100);
}
void rightCaption(double offset, char* out, size_t size) {
    std::snprintf(out, size, "%.1f%%", share((offset - 0.5) * 2) * 100);
}

// The sweep range comes first: it is the trackbar that gets the focus.
const TrackbarControl kControls[] = {
    {IDC_FLANGER_RANGE, IDC_FLANGER_RANGE_CAPTION, 0, false, 1, rangeValue, rangePosition, msCaption, nullptr,
     "Sweep Range"},
    {IDC_FLANGER_RATE, IDC_FLANGER_RATE_CAPTION, 0, false, 0, rateValue, ratePosition, hzCaption, nullptr,
     "Sweep Rate"},
    {IDC_FLANGER_FEEDBACK, IDC_FLANGER_FEEDBACK_CAPTION, 0, false, 3, fractionValue, fractionPosition,
     feedbackCaption, nullptr, "Feedback"},
    {IDC_FLANGER_DELAY, IDC_FLANGER_DELAY_CAPTION, 0, false, 2, delayValue, delayPosition, msCaption, nullptr, "Delay"},
    {IDC_FLANGER_MIX, IDC_FLANGER_WET_CAPTION, IDC_FLANGER_DRY_CAPTION, false, 4, fractionValue, fractionPosition,
     wetCaption, dryCaption, "Mixing (Wet / Dry)"},
    {IDC_FLANGER_PHASE, IDC_FLANGER_LEFT_CAPTION, IDC_FLANGER_RIGHT_CAPTION, false, 5, fractionValue,
     fractionPosition, leftCaption, rightCaption, "Phase Offset (Left / Right)"},
};

// Rate, range, delay, feedback, mix, phase offset: the parameter block's order.
const ParamRange kRanges[] = {{0, 2}, {1, 5}, {kDelayBase, 5}, {0, 1}, {0, 1}, {0, 1}};

}  // namespace

const EditorModel kFlangerEditor = {
    320, 360, kControls, 6, kRanges, 6, 1, {0, 0}, IDC_FLANGER_RANGE,
};

// The chorus editor: six trackbars showing one voice at a time; the radio
// buttons "Source 1" and "Source 2" choose the voice (the page).
#include <cstdio>

#include "effects/chorus/resource.h"
#include "effects/frame/controls.h"

namespace {

// Single-precision constants, as the mappings have always used them.
constexpr double kRangeSpan = 2.8f, kRangeBase = 0.2f;
constexpr double kRateSpan = 4.95f, kRateBase = 0.05f;

double rangeValue(int position) { return static_cast<float>(position * kRangeSpan * 0.001 + kRangeBase); }
double rangePosition(double ms) { return (ms - kRangeBase) * 1000 / kRangeSpan; }
void msCaption(double ms, char* out, size_t size) { std::snprintf(out, size, "%.1f ms", ms); }

double rateValue(int position) { return static_cast<float>(position * kRateSpan * 0.001 + kRateBase); }
double ratePosition(double hz) { return (hz - kRateBase) * 1000 / kRateSpan; }
void hzCaption(double hz, char* out, size_t size) { std::snprintf(out, size, "%.2f Hz", hz); }

double panningValue(int position) { return static_cast<float>(position * 0.001 - 0.5); }
double panningPosition(double panning) { return (panning + 0.5) * 1000; }
void panningCaption(double panning, char* out, size_t size) {
    if (panning == 0)
        std::snprintf(out, size, "Center");
    else if (panning < 0)
        std::snprintf(out, size, "%.1f%% Left", (0.5 - panning) * 100);
    else
        std::snprintf(out, size, "%.1f%% Right", (panning + 0.5) * 100);
}

double levelValue(int position) { return static_cast<float>(position * 0.002 - 1); }
double levelPosition(double level) { return (level * 0.5 + 0.5) * 1000; }
void levelPercent(double level, char* out, size_t size) { std::snprintf(out, size, "%.1f%%", level * 100); }

double feedbackValue(int position) { return static_cast<float>(position * 0.001); }
double feedbackPosition(double value) { return value * 1000; }
void feedbackCaption(double value, char* out, size_t size) { std::snprintf(out, size, "%.1f %%", value * 100); }

double delayValue(int position) { return static_cast<float>(position * 35 * 0.001 + 5); }
double delayPosition(double ms) { return (ms - 5) * 1000 / 35; }

const TrackbarControl kControls[] = {
    {IDC_CHORUS_RANGE, IDC_CHORUS_RANGE_CAPTION, 0, false, 0, rangeValue, rangePosition, msCaption, nullptr,
     "Sweep Range"},
    {IDC_CHORUS_RATE, IDC_CHORUS_RATE_CAPTION, 0, false, 1, rateValue, ratePosition, hzCaption, nullptr, "Sweep Rate"},
    {IDC_CHORUS_PANNING, IDC_CHORUS_PANNING_CAPTION, 0, false, 2, panningValue, panningPosition, panningCaption,
     nullptr, "Panning"},
    {IDC_CHORUS_LEVEL, IDC_CHORUS_LEVEL_CAPTION, 0, false, 3, levelValue, levelPosition, levelPercent, nullptr,
     "Level"},
    {IDC_CHORUS_FEEDBACK, IDC_CHORUS_FEEDBACK_CAPTION, 0, false, 4, feedbackValue, feedbackPosition,
     feedbackCaption, nullptr, "Feedback"},
    {IDC_CHORUS_DELAY, IDC_CHORUS_DELAY_CAPTION, 0, false, 5, delayValue, delayPosition, msCaption, nullptr, "Delay"},
};

// Per voice: range, rate, panning, level, feedback, delay.
const ParamRange kRanges[] = {{kRangeBase, 3.0}, {kRateBase, 5.0}, {-0.5, 0.5}, {-1, 1}, {0, 1}, {5, 40}};

}  // namespace

const EditorModel kChorusEditor = {
    340, 310, kControls, 6, kRanges, 6, 2, {IDC_CHORUS_SOURCE1, IDC_CHORUS_SOURCE2}, IDC_CHORUS_RANGE,
};

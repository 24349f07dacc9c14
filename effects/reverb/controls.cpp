// The reverb editor: four horizontal trackbars, predelay in whole
// milliseconds, the others fractions shown in percent or dB.
#include <cstdio>

#include "effects/frame/controls.h"
#include "effects/reverb/resource.h"

namespace {

double predelayValue(int position) { return position * 100 / 1000; }
double predelayPosition(double ms) { return ms * 1000 / 100; }
void predelayCaption(double ms, char* out, size_t size) { std::snprintf(out, size, "%d ms", static_cast<int>(ms)); }

double fractionValue(int position) { return static_cast<float>(position * 0.001); }
double fractionPosition(double value) { return value * 1000; }
void percentCaption(double value, char* out, size_t size) { std::snprintf(out, size, "%.1f %%", value * 100); }

double wetValue(int position) { return static_cast<float>(position * 1.0 / 1000); }

const TrackbarControl kControls[] = {
    {IDC_REVERB_PREDELAY, IDC_REVERB_PREDELAY_CAPTION, 0, false, 0, predelayValue, predelayPosition, predelayCaption,
     nullptr, "Predelay"},
    {IDC_REVERB_DECAY, IDC_REVERB_DECAY_CAPTION, 0, false, 1, fractionValue, fractionPosition, percentCaption, nullptr,
     "Decay"},
    {IDC_REVERB_WET, IDC_REVERB_WET_CAPTION, 0, false, 2, wetValue, fractionPosition, levelCaption, nullptr, "Wet Out"},
    {IDC_REVERB_BRIGHTNESS, IDC_REVERB_BRIGHTNESS_CAPTION, 0, false, 3, fractionValue, fractionPosition,
     percentCaption, nullptr, "Brightness"},
};

// Predelay (ms), decay, wet out, brightness.
const ParamRange kRanges[] = {{0, 100}, {0, 1}, {0, 1}, {0, 1}};

}  // namespace

const EditorModel kReverbEditor = {
    340, 240, kControls, 4, kRanges, 4, 1, {0, 0}, 0,
};

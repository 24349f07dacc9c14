// The echo editor: time, feedback, the low-pass filter's frequency and
// resonance on horizontal trackbars, the wet level on a vertical one whose
// top is loudest.
#include <cstdio>

#include "effects/echo/resource.h"
#include "effects/frame/controls.h"

namespace {

constexpr int kTop = 999;  // the frequency table's last index

// Whole milliseconds, as the chunk stores them.
double timeValue(int position) { return position * 900 / 1000 + 100; }
double timePosition(double ms) { return (ms - 100) * 1000 / 900; }
void timeCaption(double ms, char* out, size_t size) {
    const int time = static_cast<int>(ms);
    if (time <= 0)
        std::snprintf(out, size, "Time: %.2f sec. (--- bpm, 3/4)", ms / 1000);
    else
        std::snprintf(out, size, "Time: %.2f sec. (%d bpm, 3/4)", ms / 1000, 45000 / time);
}

double fractionValue(int position) { return static_cast<float>(position * 0.001); }
double fractionPosition(double value) { return value * 1000; }
void feedbackCaption(double value, char* out, size_t size) {
    std::snprintf(out, size, "Feedback: %.1f %%", value * 100);
}

double levelValue(int position) { return static_cast<float>((1000 - position) * 2.0 / 1000); }
double levelPosition(double level) { return 1000 - level * 1000 / 2; }

double frequencyValue(int position) {
    const int i = position < 0 ? 0 : position > kTop ? kTop : position;
    return static_cast<float>(static_cast<double>(echoFrequencyEntry(i)) / echoFrequencyEntry(kTop));
}
// The first index whose entry reaches the frequency; a float frequency may
// land a hair above the entry it came from, which still counts as reaching it.
double frequencyPosition(double frequency) {
    const double hz = echoFrequencyEntry(kTop) * frequency;
    for (int i = 0; i <= kTop; ++i)
        if (hz <= echoFrequencyEntry(i) * (1 + 1e-6)) return i;
    return 1000;
}
void frequencyCaption(double frequency, char* out, size_t size) {
    std::snprintf(out, size, "Frequency: %.3f kHz", echoFrequencyEntry(kTop) * frequency * 0.001);
}

double resonanceValue(int position) { return static_cast<float>(position / 1000.0); }
void resonanceCaption(double value, char* out, size_t size) {
    std::snprintf(out, size, "Resonance: %.1f %%", value * 100);
}

const TrackbarControl kControls[] = {
    {IDC_ECHO_TIME, IDC_ECHO_TIME_CAPTION, 0, false, 0, timeValue, timePosition, timeCaption, nullptr, "Time"},
    {IDC_ECHO_FEEDBACK, IDC_ECHO_FEEDBACK_CAPTION, 0, false, 1, fractionValue, fractionPosition, feedbackCaption,
     nullptr, "Feedback"},
    {IDC_ECHO_LEVEL, IDC_ECHO_LEVEL_CAPTION, 0, true, 2, levelValue, levelPosition, levelCaption, nullptr, "Wet Out"},
    {IDC_ECHO_FREQUENCY, IDC_ECHO_FREQUENCY_CAPTION, 0, false, 3, frequencyValue, frequencyPosition,
     frequencyCaption, nullptr, "Lowpass Frequency"},
    {IDC_ECHO_RESONANCE, IDC_ECHO_RESONANCE_CAPTION, 0, false, 4, resonanceValue, fractionPosition,
     resonanceCaption, nullptr, "Lowpass Resonance"},
};

// Time (ms), feedback, level, frequency, resonance.
const ParamRange kRanges[] = {{100, 1000}, {0, 1}, {0, 2}, {0, 1}, {0, 1}};

}  // namespace

const EditorModel kEchoEditor = {
    430, 210, kControls, 5, kRanges, 5, 1, {0, 0}, IDC_ECHO_TIME,
};

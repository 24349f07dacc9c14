// Helpers every effect's editor model shares.
#include "effects/frame/controls.h"

#include <cmath>
#include <cstdio>

double limitToRange(double value, ParamRange range) {
    if (!(value >= range.lo)) return range.lo;
    return value > range.hi ? range.hi : value;
}

int trackbarPosition(double unrounded) {
    if (!(unrounded >= 0.0)) return 0;
    if (unrounded >= kTrackbarMax) return kTrackbarMax;
    return static_cast<int>(std::lround(unrounded));
}

ParamRange paramRange(const EditorModel& model, int index) {
    if (index < 0 || model.pageParams <= 0) return {0.0, 0.0};
    return model.ranges[index % model.pageParams];
}

const TrackbarControl* findTrackbar(const EditorModel& model, int id) {
    for (int i = 0; i < model.controlCount; ++i)
        if (model.controls[i].trackbarId == id) return &model.controls[i];
    return nullptr;
}

void levelCaption(double gain, char* out, size_t size) {
    if (gain > 0.0)
        std::snprintf(out, size, "%.2f dB", 20.0 * std::log10(gain));
    else
        std::snprintf(out, size, "-96.0 dB");
}

int echoFrequencyEntry(int index) {
    if (index < 0) index = 0;
    if (index > 999) index = 999;
    return static_cast<int>(std::pow(2.0, index * 10 * 0.001) * 20);
}

// Helpers every effect's editor model shares.
#include "effects/frame/controls.h"

#include "wrappers/default/effectinterface.h"

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

int controlParamCount(const EditorModel& model) { return model.controlCount * model.pageCount; }

const TrackbarControl* controlParam(const EditorModel& model, int index, int* effectIndex) {
    if (index < 0 || index >= controlParamCount(model)) return nullptr;
    const TrackbarControl& c = model.controls[index % model.controlCount];
    if (effectIndex) *effectIndex = index / model.controlCount * model.pageParams + c.param;
    return &c;
}

double controlNormalised(const TrackbarControl& c, double value) {
    const double position = c.toPosition(value);
    double n = position >= 0.0 ? (position <= kTrackbarMax ? position / kTrackbarMax : 1.0) : 0.0;
    return c.vertical ? 1.0 - n : n;
}

double controlValue(const TrackbarControl& c, double normalised) {
    double n = normalised >= 0.0 ? (normalised <= 1.0 ? normalised : 1.0) : 0.0;
    if (c.vertical) n = 1.0 - n;
    return c.toValue(trackbarPosition(n * kTrackbarMax));
}

void controlParamName(const EditorModel& model, int index, char* out, size_t size) {
    const TrackbarControl* c = controlParam(model, index, nullptr);
    if (!c) {
        if (size) out[0] = '\0';
        return;
    }
    if (model.pageCount > 1)
        std::snprintf(out, size, "Source %d %s", index / model.controlCount + 1, c->name ? c->name : "");
    else
        std::snprintf(out, size, "%s", c->name ? c->name : "");
}

void controlParamDisplay(const TrackbarControl& c, double value, char* out, size_t size) {
    char first[kCaptionSize] = "", second[kCaptionSize] = "";
    c.caption(value, first, sizeof first);
    if (c.secondCaption) {
        c.secondCaption(value, second, sizeof second);
        std::snprintf(out, size, "%s / %s", first, second);
    } else {
        std::snprintf(out, size, "%s", first);
    }
}

int controlIdParam(const EditorModel& model, int id, int page) {
    if (page < 0 || page >= model.pageCount) return -1;
    for (int i = 0; i < model.controlCount; ++i)
        if (model.controls[i].trackbarId == id) return page * model.controlCount + i;
    return -1;
}

intptr_t controlMenuRequest(int command) {
    if (command == kControlMenuItems[0].command) return ER_LEARN_PARAMETER;
    if (command == kControlMenuItems[1].command) return ER_FORGET_PARAMETER;
    return 0;
}

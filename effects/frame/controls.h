// The model of a built-in effect's editor: which trackbar edits which
// parameter, how a trackbar position (0 ... 1000) maps to the value and
// back, the caption texts, and each parameter's range. Platform-free: the
// dialog (editor_win32.cpp) only moves these numbers and texts between the
// controls and the effect, and the native tests check every table.
//
// UI thread only, like the dialog; nothing here touches the audio path.
#pragma once

#include <cstddef>
#include <cstdint>

constexpr int kTrackbarMax = 1000;
constexpr size_t kCaptionSize = 64;

// The range a parameter is limited to whenever a chunk, a preset or the
// editor stores it.
struct ParamRange {
    double lo, hi;
};

// One trackbar and the parameter it edits. `param` is the parameter's index
// within its page (the chorus shows one voice at a time; everything else has
// one page). Values travel as double: float parameters are narrowed by the
// effect, integer ones (milliseconds) hold exact integers.
struct TrackbarControl {
    int trackbarId;
    int captionId;
    int secondCaptionId;  // 0: none
    bool vertical;
    int param;
    double (*toValue)(int position);
    // The unrounded inverse; trackbarPosition() rounds and limits it.
    double (*toPosition)(double value);
    void (*caption)(double value, char* out, size_t size);
    void (*secondCaption)(double value, char* out, size_t size);
    // The label the dialog shows beside the trackbar: the parameter's name
    // in the wrapper's parameter list.
    const char* name;
};

struct EditorModel {
    int width, height;  // pixels, as PQ_OPEN_EDITOR reports them
    const TrackbarControl* controls;
    int controlCount;
    const ParamRange* ranges;  // one per parameter of a page
    int pageParams;            // parameters per page
    int pageCount;             // 1, or the chorus's two voices
    int pageButtons[2];        // radio buttons choosing the page (0: none)
    int focusTrackbar;         // given the focus when the editor opens (0: none)
};

// The four effects' editors, defined in effects/<name>/controls.cpp.
extern const EditorModel kReverbEditor;
extern const EditorModel kEchoEditor;
extern const EditorModel kFlangerEditor;
extern const EditorModel kChorusEditor;

// `value` limited to the range; a value that is not a number becomes lo.
double limitToRange(double value, ParamRange range);

// A trackbar position from an unrounded inverse: rounded to nearest,
// limited to 0 ... 1000, not-a-number giving 0.
int trackbarPosition(double unrounded);

// The range of parameter `index` (page * pageParams + param).
ParamRange paramRange(const EditorModel& model, int index);

// The control whose trackbar id is `id`, or null.
const TrackbarControl* findTrackbar(const EditorModel& model, int id);

// "%.2f dB" of 20 log10(g) for a gain above 0, else "-96.0 dB".
void levelCaption(double gain, char* out, size_t size);

// The editor's controls as a flat parameter list (the wrapper's parameters,
// which MIDI control changes move): every control of page 0, then every
// control of page 1. `normalised` is the trackbar's position over 0 ... 1,
// with the top of a vertical trackbar (the loudest end) at 1.
int controlParamCount(const EditorModel& model);
// The control of parameter `index` and the effect parameter it edits (page *
// pageParams + param); null when `index` is out of range.
const TrackbarControl* controlParam(const EditorModel& model, int index, int* effectIndex);
double controlNormalised(const TrackbarControl& c, double value);
double controlValue(const TrackbarControl& c, double normalised);
// "Source 2 Sweep Rate" for a page of the chorus, the plain label otherwise.
void controlParamName(const EditorModel& model, int index, char* out, size_t size);
// The caption as the editor shows it; with a second caption, "first / second".
void controlParamDisplay(const TrackbarControl& c, double value, char* out, size_t size);

// The parameter (the index of controlParam) that the control `id` edits
// while the editor shows `page`; -1 for any control that is no parameter (a
// caption, a label, the logo, a page button) and for a page out of range.
int controlIdParam(const EditorModel& model, int id, int page);

// The menu a right-click on a parameter's control opens, and the editor
// request (ER_LEARN_PARAMETER, ER_FORGET_PARAMETER) each command makes; 0
// for any other command (the menu was dismissed).
struct ControlMenuItem {
    int command;
    const char* text;
};
constexpr ControlMenuItem kControlMenuItems[] = {{1, "Learn MIDI Control"}, {2, "Forget MIDI Control"}};
intptr_t controlMenuRequest(int command);

// The echo's frequency table: truncate(20 * 2^(i / 100)), i = 0 ... 999.
int echoFrequencyEntry(int index);

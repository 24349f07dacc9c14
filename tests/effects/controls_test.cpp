// The effects' editor models: every trackbar's mapping and its inverse over
// the whole travel, the captions, and the ranges the values keep.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "effects/chorus/resource.h"
#include "effects/echo/resource.h"
#include "effects/flanger/resource.h"
#include "effects/frame/controls.h"
#include "effects/reverb/resource.h"
#include "wrappers/default/effectinterface.h"

namespace {

const EditorModel* const kEditors[] = {&kReverbEditor, &kEchoEditor, &kFlangerEditor, &kChorusEditor};

std::string caption(const EditorModel& model, int trackbar, double value, bool second = false) {
    const TrackbarControl* c = findTrackbar(model, trackbar);
    if (!c) return "<no control>";
    char text[kCaptionSize] = "";
    (second ? c->secondCaption : c->caption)(value, text, sizeof text);
    return text;
}

double valueAt(const EditorModel& model, int trackbar, int position) {
    return findTrackbar(model, trackbar)->toValue(position);
}

int positionOf(const EditorModel& model, int trackbar, double value) {
    return trackbarPosition(findTrackbar(model, trackbar)->toPosition(value));
}

}  // namespace

TEST(EditorModels, EveryPositionMapsIntoItsParametersRange) {
    for (const EditorModel* m : kEditors) {
        for (int i = 0; i < m->controlCount; ++i) {
            const TrackbarControl& c = m->controls[i];
            const ParamRange r = m->ranges[c.param];
            for (int p = 0; p <= kTrackbarMax; ++p) {
                const double v = c.toValue(p);
                ASSERT_GE(v, static_cast<float>(r.lo)) << c.trackbarId << " at " << p;
                ASSERT_LE(v, r.hi) << c.trackbarId << " at " << p;
            }
        }
    }
}

// A refresh after a move puts the thumb back where the user left it. Where
// fewer values than positions exist (whole milliseconds of predelay, the
// frequency table's repeated entries) the value itself comes back; the
// echo's time (900 whole milliseconds over 1000 positions, truncated) comes
// back within one position.
TEST(EditorModels, TheInverseOfEveryMoveGivesBackThePositionOrItsValue) {
    for (const EditorModel* m : kEditors) {
        for (int i = 0; i < m->controlCount; ++i) {
            const TrackbarControl& c = m->controls[i];
            const bool echoTime = m == &kEchoEditor && c.trackbarId == IDC_ECHO_TIME;
            const bool lossy = echoTime || (m == &kEchoEditor && c.trackbarId == IDC_ECHO_FREQUENCY) ||
                               (m == &kReverbEditor && c.trackbarId == IDC_REVERB_PREDELAY);
            for (int p = 0; p <= kTrackbarMax; ++p) {
                const double v = static_cast<float>(c.toValue(p));
                const int back = trackbarPosition(c.toPosition(v));
                if (!lossy) {
                    ASSERT_EQ(p, back) << c.trackbarId;
                } else if (echoTime) {
                    ASSERT_NEAR(p, back, 1) << p;
                } else {
                    ASSERT_EQ(v, c.toValue(back)) << c.trackbarId << " at " << p;
                }
            }
        }
    }
}

TEST(EditorModels, MappingsFollowTheirFormulas) {
    EXPECT_EQ(50, valueAt(kReverbEditor, IDC_REVERB_PREDELAY, 505));
    EXPECT_EQ(100, valueAt(kEchoEditor, IDC_ECHO_TIME, 0));
    EXPECT_EQ(1000, valueAt(kEchoEditor, IDC_ECHO_TIME, 1000));
    EXPECT_EQ(2.0f, valueAt(kEchoEditor, IDC_ECHO_LEVEL, 0));  // top is loudest
    EXPECT_EQ(0.0f, valueAt(kEchoEditor, IDC_ECHO_LEVEL, 1000));
    EXPECT_EQ(1.0f, valueAt(kEchoEditor, IDC_ECHO_FREQUENCY, 999));
    EXPECT_EQ(1.0f, valueAt(kEchoEditor, IDC_ECHO_FREQUENCY, 1000));
    EXPECT_EQ(static_cast<float>(20.0 / 20338), valueAt(kEchoEditor, IDC_ECHO_FREQUENCY, 0));
    EXPECT_EQ(static_cast<float>(1000 * 4.9f * 0.001 + 0.1f), valueAt(kFlangerEditor, IDC_FLANGER_DELAY, 1000));
    EXPECT_EQ(-0.5f, valueAt(kChorusEditor, IDC_CHORUS_PANNING, 0));
    EXPECT_EQ(-1.0f, valueAt(kChorusEditor, IDC_CHORUS_LEVEL, 0));
    EXPECT_EQ(250, positionOf(kFlangerEditor, IDC_FLANGER_RANGE, 2.0));
    EXPECT_EQ(1000, positionOf(kEchoEditor, IDC_ECHO_FREQUENCY, 1.5));
    EXPECT_EQ(444, positionOf(kEchoEditor, IDC_ECHO_TIME, 500));
}

TEST(EditorModels, TrackbarPositionsAreRoundedAndKeptWithinTheTravel) {
    EXPECT_EQ(445, trackbarPosition(444.5));
    EXPECT_EQ(444, trackbarPosition(444.49));
    EXPECT_EQ(0, trackbarPosition(-3));
    EXPECT_EQ(1000, trackbarPosition(1e12));
    EXPECT_EQ(0, trackbarPosition(std::numeric_limits<double>::quiet_NaN()));
}

TEST(EditorModels, RangesLimitValuesAndSendNotANumberToTheLowerBound) {
    EXPECT_EQ(100, limitToRange(5000, paramRange(kReverbEditor, 0)));
    EXPECT_EQ(100, limitToRange(0, paramRange(kEchoEditor, 0)));
    EXPECT_EQ(0.0, limitToRange(std::nan(""), paramRange(kEchoEditor, 1)));
    EXPECT_EQ(-1.0, limitToRange(std::nan(""), paramRange(kChorusEditor, 9)));  // voice 2's level
    EXPECT_EQ(40, limitToRange(1e30, paramRange(kChorusEditor, 11)));
}

TEST(EditorCaptions, EchoTimeShowsSecondsAndTheTempoOfThreeRepeatsPerBar) {
    EXPECT_EQ("Time: 0.50 sec. (90 bpm, 3/4)", caption(kEchoEditor, IDC_ECHO_TIME, 500));
    EXPECT_EQ("Time: 0.10 sec. (450 bpm, 3/4)", caption(kEchoEditor, IDC_ECHO_TIME, 100));
    EXPECT_EQ("Time: 0.00 sec. (--- bpm, 3/4)", caption(kEchoEditor, IDC_ECHO_TIME, 0));
}

TEST(EditorCaptions, LevelsShowDecibelsAndSilenceAsMinus96) {
    EXPECT_EQ("-96.0 dB", caption(kEchoEditor, IDC_ECHO_LEVEL, 0));
    EXPECT_EQ("6.02 dB", caption(kEchoEditor, IDC_ECHO_LEVEL, 2));
    EXPECT_EQ("-10.46 dB", caption(kReverbEditor, IDC_REVERB_WET, 0.3f));
    EXPECT_EQ("-96.0 dB", caption(kReverbEditor, IDC_REVERB_WET, std::nan("")));
}

TEST(EditorCaptions, EveryEffectFormatsItsValues) {
    EXPECT_EQ("15 ms", caption(kReverbEditor, IDC_REVERB_PREDELAY, 15));
    EXPECT_EQ("75.0 %", caption(kReverbEditor, IDC_REVERB_DECAY, 0.75f));
    EXPECT_EQ("Feedback: 50.0 %", caption(kEchoEditor, IDC_ECHO_FEEDBACK, 0.5f));
    EXPECT_EQ("Frequency: 20.338 kHz", caption(kEchoEditor, IDC_ECHO_FREQUENCY, 1.0));
    EXPECT_EQ("Frequency: 0.640 kHz", caption(kEchoEditor, IDC_ECHO_FREQUENCY, valueAt(kEchoEditor, IDC_ECHO_FREQUENCY, 500)));
    EXPECT_EQ("Resonance: 10.0 %", caption(kEchoEditor, IDC_ECHO_RESONANCE, 0.1f));
    EXPECT_EQ("0.30 Hz", caption(kFlangerEditor, IDC_FLANGER_RATE, 0.3f));
    EXPECT_EQ("1.5 ms", caption(kFlangerEditor, IDC_FLANGER_RANGE, 1.5f));
    EXPECT_EQ("30.0%", caption(kFlangerEditor, IDC_FLANGER_MIX, 0.3f));
    EXPECT_EQ("70.0%", caption(kFlangerEditor, IDC_FLANGER_MIX, 0.3f, true));
    EXPECT_EQ("18.0 ms", caption(kChorusEditor, IDC_CHORUS_DELAY, 18));
    EXPECT_EQ("-100.0%", caption(kChorusEditor, IDC_CHORUS_LEVEL, -1));
}

TEST(EditorCaptions, FlangerPhaseOffsetShowsTheShiftedChannelsShare) {
    EXPECT_EQ("0.0%", caption(kFlangerEditor, IDC_FLANGER_PHASE, 0.5));
    EXPECT_EQ("0.0%", caption(kFlangerEditor, IDC_FLANGER_PHASE, 0.5, true));
    EXPECT_EQ("100.0%", caption(kFlangerEditor, IDC_FLANGER_PHASE, 0.0));
    EXPECT_EQ("0.0%", caption(kFlangerEditor, IDC_FLANGER_PHASE, 0.0, true));
    EXPECT_EQ("100.0%", caption(kFlangerEditor, IDC_FLANGER_PHASE, 1.0, true));
}

TEST(EditorCaptions, ChorusPanningNamesTheSideOrCenter) {
    EXPECT_EQ("Center", caption(kChorusEditor, IDC_CHORUS_PANNING, 0));
    EXPECT_EQ("100.0% Left", caption(kChorusEditor, IDC_CHORUS_PANNING, -0.5));
    EXPECT_EQ("75.0% Right", caption(kChorusEditor, IDC_CHORUS_PANNING, 0.25));
}

TEST(EditorModels, EchoFrequencyTableRisesAnOctavePerHundredSteps) {
    EXPECT_EQ(20, echoFrequencyEntry(0));
    EXPECT_EQ(40, echoFrequencyEntry(100));
    EXPECT_EQ(640, echoFrequencyEntry(500));
    EXPECT_EQ(20338, echoFrequencyEntry(999));
}

TEST(EditorModels, SizesFocusAndPagesAreThoseTheEditorsReport) {
    EXPECT_EQ(340, kReverbEditor.width);
    EXPECT_EQ(240, kReverbEditor.height);
    EXPECT_EQ(0, kReverbEditor.focusTrackbar);
    EXPECT_EQ(430, kEchoEditor.width);
    EXPECT_EQ(IDC_ECHO_TIME, kEchoEditor.focusTrackbar);
    EXPECT_EQ(360, kFlangerEditor.height);
    EXPECT_EQ(IDC_FLANGER_RANGE, kFlangerEditor.focusTrackbar);
    EXPECT_EQ(310, kChorusEditor.height);
    EXPECT_EQ(2, kChorusEditor.pageCount);
    EXPECT_EQ(IDC_CHORUS_SOURCE2, kChorusEditor.pageButtons[1]);
}

// A right-click on a control asks for MIDI learn of the parameter the
// wrapper lists for it: each trackbar, on each page, is the parameter named
// by its label (with the chorus's voice before it) and edits the effect
// parameter the trackbar moves; captions, labels, the logo and the page
// buttons are no parameter.
TEST(EditorModels, EveryTrackbarIsTheParameterNamedByItsLabelAndNothingElseIsOne) {
    for (const EditorModel* m : kEditors) {
        std::vector<bool> seen(controlParamCount(*m), false);
        for (int page = 0; page < m->pageCount; ++page) {
            for (int i = 0; i < m->controlCount; ++i) {
                const TrackbarControl& c = m->controls[i];
                const int index = controlIdParam(*m, c.trackbarId, page);
                ASSERT_GE(index, 0) << c.trackbarId;
                ASSERT_LT(index, controlParamCount(*m));
                EXPECT_FALSE(seen[index]) << "two controls are parameter " << index;
                seen[index] = true;
                char name[kCaptionSize];
                controlParamName(*m, index, name, sizeof name);
                const std::string label =
                    m->pageCount > 1 ? "Source " + std::to_string(page + 1) + " " + c.name : std::string(c.name);
                EXPECT_EQ(label, name) << c.trackbarId;
                int effectIndex = -1;
                EXPECT_EQ(&c, controlParam(*m, index, &effectIndex));
                EXPECT_EQ(page * m->pageParams + c.param, effectIndex);
            }
            for (int i = 0; i < m->controlCount; ++i) {
                EXPECT_EQ(-1, controlIdParam(*m, m->controls[i].captionId, page));
                if (m->controls[i].secondCaptionId)
                    EXPECT_EQ(-1, controlIdParam(*m, m->controls[i].secondCaptionId, page));
            }
            for (int button : m->pageButtons)
                if (button) EXPECT_EQ(-1, controlIdParam(*m, button, page));
            EXPECT_EQ(-1, controlIdParam(*m, IDC_EFFECT_LOGO, page));
            EXPECT_EQ(-1, controlIdParam(*m, -1, page));  // the labels' id
            EXPECT_EQ(-1, controlIdParam(*m, 0, page));
        }
        EXPECT_EQ(std::vector<bool>(seen.size(), true), seen) << "every parameter has its control";
        EXPECT_EQ(-1, controlIdParam(*m, m->controls[0].trackbarId, m->pageCount));  // no such page
        EXPECT_EQ(-1, controlIdParam(*m, m->controls[0].trackbarId, -1));
    }
    EXPECT_EQ(ER_LEARN_PARAMETER, controlMenuRequest(kControlMenuItems[0].command));
    EXPECT_EQ(ER_FORGET_PARAMETER, controlMenuRequest(kControlMenuItems[1].command));
    EXPECT_STREQ("Learn MIDI Control", kControlMenuItems[0].text);
    EXPECT_STREQ("Forget MIDI Control", kControlMenuItems[1].text);
    EXPECT_EQ(0, controlMenuRequest(0));  // dismissed
}

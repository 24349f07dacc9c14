// The audio settings dialog's model: format names, the two trackbar
// mappings, what typed texts become, the buffer list, the groups of
// controls and what Accept applies from the controls as they stand.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>

#include "app/audiosettings.h"
#include "app/resource.h"
#include "devices/wasapicore.h"

namespace {

std::string formatName(int index) {
    char text[64];
    audioFormatName(index, text, sizeof text);
    return text;
}

std::string shown(void (*format)(uint32_t, char*, size_t), uint32_t value) {
    char text[64];
    format(value, text, sizeof text);
    return text;
}

std::string shownTempo(float bpm) {
    char text[64];
    formatTempo(bpm, text, sizeof text);
    return text;
}

TEST(AudioFormats, NamesFollowTheTableInIndexOrder) {
    EXPECT_EQ(formatName(0), "32000 smp/sec, 16 Bits, Mono");
    EXPECT_EQ(formatName(5), "44100 smp/sec, 16 Bits, Stereo");
    EXPECT_EQ(formatName(7), "96000 smp/sec, 16 Bits, Stereo");
    EXPECT_EQ(formatName(8), "32000 smp/sec, 24 Bits, Mono");
    EXPECT_EQ(formatName(10), "48000 smp/sec, 24 Bits, Mono");
    EXPECT_EQ(formatName(15), "96000 smp/sec, 24 Bits, Stereo");
    EXPECT_EQ(formatName(-1), "");
    EXPECT_EQ(formatName(16), "");
}

TEST(AudioFormats, EveryEntryHasItsRateWidthAndChannels) {
    const uint32_t rates[4] = {32000, 44100, 48000, 96000};
    for (int i = 0; i < kAudioFormatCount; ++i) {
        const AudioFormatEntry e = audioFormatEntry(i);
        EXPECT_EQ(e.rate, rates[i % 4]) << i;
        EXPECT_EQ(e.stereo, (i / 4) % 2 == 1) << i;
        EXPECT_EQ(e.bytesPerSample, i < 8 ? 2 : 3) << i;
    }
}

TEST(AudioFormats, NameIsCutToTheBufferAndAlwaysEnds) {
    char text[8];
    std::memset(text, 'x', sizeof text);
    audioFormatName(5, text, sizeof text);
    EXPECT_STREQ(text, "44100 s");
}

TEST(LatencyTrackbar, MapsBothWaysAsTheDialogShowsIt) {
    EXPECT_EQ(latencyToTrackbar(40), 350);
    EXPECT_EQ(latencyToTrackbar(5), 0);
    EXPECT_EQ(latencyToTrackbar(100), 950);
    EXPECT_EQ(latencyFromTrackbar(950), 100u);
    EXPECT_EQ(latencyFromTrackbar(0), 5u);
    EXPECT_EQ(latencyFromTrackbar(359), 40u);  // integer division: no rounding up
    for (uint32_t ms = 5; ms <= 100; ++ms) EXPECT_EQ(latencyFromTrackbar(latencyToTrackbar(ms)), ms);
}

TEST(LatencyTrackbar, ValuesOutsideTheRangeStopAtItsEnds) {
    EXPECT_EQ(latencyToTrackbar(0), 0);
    EXPECT_EQ(latencyToTrackbar(4000000000u), 950);
    EXPECT_EQ(latencyFromTrackbar(-20), 5u);
    EXPECT_EQ(latencyFromTrackbar(5000), 100u);
}

TEST(TempoTrackbar, MapsBothWaysAsTheDialogShowsIt) {
    EXPECT_EQ(tempoToTrackbar(120.0f), 428);
    EXPECT_EQ(tempoToTrackbar(60.0f), 0);
    EXPECT_EQ(tempoToTrackbar(200.0f), 1000);
    EXPECT_FLOAT_EQ(tempoFromTrackbar(1000), 200.0f);
    EXPECT_FLOAT_EQ(tempoFromTrackbar(0), 60.0f);
    EXPECT_NEAR(tempoFromTrackbar(428), 119.92f, 1e-4f);
    EXPECT_EQ(shownTempo(tempoFromTrackbar(1000)), "200.0 bpm");
}

TEST(TempoTrackbar, StoredTemposOutsideTheRangeStayOnTheTrackbar) {
    EXPECT_EQ(tempoToTrackbar(10.0f), 0);
    EXPECT_EQ(tempoToTrackbar(1e30f), 1000);
    EXPECT_EQ(tempoToTrackbar(-1e30f), 0);
    EXPECT_EQ(tempoToTrackbar(std::nanf("")), 0);
    EXPECT_FLOAT_EQ(tempoFromTrackbar(-5), 60.0f);
    EXPECT_FLOAT_EQ(tempoFromTrackbar(99999), 200.0f);
}

TEST(TypedValues, LeadingNumberReadsDigitsUpToTheFirstOther) {
    EXPECT_EQ(leadingNumber("40 ms"), 40u);
    EXPECT_EQ(leadingNumber("  7"), 7u);
    EXPECT_EQ(leadingNumber(""), 0u);
    EXPECT_EQ(leadingNumber("ms"), 0u);
    EXPECT_EQ(leadingNumber("-3"), 0u);
    EXPECT_EQ(leadingNumber(nullptr), 0u);
    EXPECT_EQ(leadingNumber("99999999999999999999999"), 0xFFFFFFFFu);
}

TEST(TypedValues, LatencyAndDelayAreLimitedToTheirRanges) {
    EXPECT_EQ(latencyFromText("250"), 100u);
    EXPECT_EQ(latencyFromText("2"), 5u);
    EXPECT_EQ(latencyFromText("abc"), 5u);
    EXPECT_EQ(latencyFromText("30 ms"), 30u);
    EXPECT_EQ(latencyFromText("4294967296"), 100u);  // no wrap to a small value
    EXPECT_EQ(outputDelayFromText("11"), 10);
    EXPECT_EQ(outputDelayFromText("0"), 0);
    EXPECT_EQ(outputDelayFromText(""), 0);
    EXPECT_EQ(outputDelayFromText("256"), 10);  // no wrap through the byte
}

TEST(TypedValues, TempoBelowSixtyOrNoNumberBecomesSixty) {
    EXPECT_FLOAT_EQ(tempoFromText("250"), 200.0f);
    EXPECT_FLOAT_EQ(tempoFromText("letters"), 60.0f);
    EXPECT_FLOAT_EQ(tempoFromText(""), 60.0f);
    EXPECT_FLOAT_EQ(tempoFromText("59.9"), 60.0f);
    EXPECT_FLOAT_EQ(tempoFromText("-120"), 60.0f);
    EXPECT_FLOAT_EQ(tempoFromText("97.5 bpm"), 97.5f);
    EXPECT_FLOAT_EQ(tempoFromText(" 120.0 bpm"), 120.0f);
    EXPECT_FLOAT_EQ(tempoFromText(".5"), 60.0f);
    EXPECT_FLOAT_EQ(tempoFromText("200.04"), 200.0f);
    EXPECT_EQ(shownTempo(tempoFromText("250")), "200.0 bpm");
    EXPECT_EQ(shownTempo(tempoFromText("xyz")), "60.0 bpm");
}

TEST(TypedValues, TempoTextsThatAreNotPlainDecimalsCannotEscapeTheRange) {
    EXPECT_FLOAT_EQ(tempoFromText("nan"), 60.0f);
    EXPECT_FLOAT_EQ(tempoFromText("inf"), 60.0f);
    EXPECT_FLOAT_EQ(tempoFromText("1e9"), 60.0f);  // the 1 counts, the exponent does not
    EXPECT_FLOAT_EQ(tempoFromText("0x1p8"), 60.0f);
    EXPECT_FLOAT_EQ(tempoFromText(std::string(5000, '9').c_str()), 200.0f);
    EXPECT_FLOAT_EQ(tempoFromText(nullptr), 60.0f);
}

TEST(TypedValues, EditsShowTheirUnits) {
    EXPECT_EQ(shown(formatLatency, 40), "40 ms");
    EXPECT_EQ(shown(formatOutputDelay, 2), "2");
    EXPECT_EQ(shownTempo(120.0f), "120.0 bpm");
    EXPECT_EQ(shownTempo(97.24f), "97.2 bpm");
}

TEST(BufferList, OffersPowersOfTwoFromTwoToSixtyFour) {
    const int32_t expected[kBufferChoices] = {2, 4, 8, 16, 32, 64};
    for (int item = 0; item < kBufferChoices; ++item) {
        EXPECT_EQ(bufferCountOfItem(item), expected[item]);
        EXPECT_EQ(bufferItemOfCount(expected[item]), item);
    }
}

TEST(BufferList, ACountNotOfferedSelectsNothingAndNothingSelectedPassesOne) {
    EXPECT_EQ(bufferItemOfCount(3), -1);
    EXPECT_EQ(bufferItemOfCount(0), -1);
    EXPECT_EQ(bufferItemOfCount(128), -1);
    EXPECT_EQ(bufferCountOfItem(-1), 1);
    EXPECT_EQ(bufferCountOfItem(6), 1);
}

TEST(ControlGroups, DirectSoundAndAsioControlsTakeTurns) {
    const int directSound[] = {IDC_AUDIO_INPUT,         IDC_AUDIO_OUTPUT,          IDC_AUDIO_FORMATS,
                               IDC_AUDIO_LATENCY,       IDC_AUDIO_DS_GROUP,        IDC_AUDIO_INPUT_LABEL,
                               IDC_AUDIO_OUTPUT_LABEL,  IDC_AUDIO_LATENCY_LABEL,   IDC_AUDIO_LATENCY_SLIDER,
                               IDC_AUDIO_BUFFERS,       IDC_AUDIO_DELAY};
    const int asio[] = {IDC_AUDIO_ASIO_DRIVER, IDC_AUDIO_ASIO_GROUP, IDC_AUDIO_ASIO_LABEL};
    for (int id : directSound) {
        EXPECT_TRUE(audioControlEnabled(id, kSystemDirectSound)) << id;
        EXPECT_FALSE(audioControlEnabled(id, kSystemAsio)) << id;
    }
    for (int id : asio) {
        EXPECT_FALSE(audioControlEnabled(id, kSystemDirectSound)) << id;
        EXPECT_TRUE(audioControlEnabled(id, kSystemAsio)) << id;
    }
    for (int id : {IDC_WASAPI_GROUP, IDC_WASAPI_INPUT, IDC_WASAPI_OUTPUT, IDC_WASAPI_MODE, IDC_WASAPI_READOUT}) {
        EXPECT_TRUE(audioControlEnabled(id, kSystemWasapi)) << id;
        EXPECT_FALSE(audioControlEnabled(id, kSystemDirectSound) || audioControlEnabled(id, kSystemAsio)) << id;
    }
    EXPECT_FALSE(audioControlEnabled(IDC_AUDIO_INPUT, kSystemWasapi));
}

TEST(ControlGroups, TempoButtonsRadiosAndUnlabelledLabelsStayEnabled) {
    for (int id : {IDC_AUDIO_TEMPO, IDC_AUDIO_TEMPO_SLIDER, IDC_AUDIO_ACCEPT, IDC_AUDIO_CANCEL, IDC_AUDIO_DIRECTSOUND,
                   IDC_AUDIO_ASIO, IDC_AUDIO_WASAPI, -1}) {
        EXPECT_TRUE(audioControlEnabled(id, kSystemDirectSound)) << id;
        EXPECT_TRUE(audioControlEnabled(id, kSystemAsio)) << id;
    }
}

TEST(ControlGroups, TheWalkedListHoldsEveryGroupedControlOnce) {
    int grouped = 0;
    for (int i = 0; i < kAudioGroupControlCount; ++i) {
        const int id = kAudioGroupControls[i];
        EXPECT_EQ(1, audioControlEnabled(id, kSystemDirectSound) + audioControlEnabled(id, kSystemAsio) +
                         audioControlEnabled(id, kSystemWasapi))
            << id;
        for (int j = i + 1; j < kAudioGroupControlCount; ++j) EXPECT_NE(id, kAudioGroupControls[j]);
        ++grouped;
    }
    EXPECT_EQ(grouped, 22);
}

TEST(DeviceItems, ItemZeroAndNoSelectionMeanNoDevice) {
    EXPECT_EQ(deviceIndexOfItem(-1), -1);
    EXPECT_EQ(deviceIndexOfItem(0), -1);
    EXPECT_EQ(deviceIndexOfItem(1), 0);
    EXPECT_EQ(deviceIndexOfItem(3), 2);
}

AudioDialogControls typical() {
    AudioDialogControls c;
    c.outputItem = 2;
    c.inputItem = 1;
    c.formatItem = 9;
    c.formatItemData = 9;
    c.bufferItem = 2;
    c.asioItem = 0;
    c.latencyText = "30 ms";
    c.delayText = "3";
    c.tempoText = "97.0 bpm";
    return c;
}

TEST(Accept, TakesEveryControlAsItStands) {
    const AudioDialogChoice c = audioChoiceFromControls(typical(), 5);
    EXPECT_EQ(c.system, kSystemDirectSound);
    EXPECT_EQ(c.outputIndex, 1);
    EXPECT_EQ(c.inputIndex, 0);
    EXPECT_EQ(c.formatIndex, 9);
    EXPECT_EQ(c.latencyMs, 30u);
    EXPECT_EQ(c.buffers, 8);
    EXPECT_EQ(c.outputDelay, 3);
    EXPECT_FLOAT_EQ(c.tempo, 97.0f);
    EXPECT_EQ(c.asioDriver, -1);
}

TEST(Accept, LimitsEditsThatNeverLostTheFocus) {
    AudioDialogControls controls = typical();
    controls.latencyText = "250";
    controls.delayText = "99";
    controls.tempoText = "5";
    AudioDialogChoice c = audioChoiceFromControls(controls, 5);
    EXPECT_EQ(c.latencyMs, 100u);
    EXPECT_EQ(c.outputDelay, 10);
    EXPECT_FLOAT_EQ(c.tempo, 60.0f);

    controls.latencyText = "1";
    controls.tempoText = "900.5";
    c = audioChoiceFromControls(controls, 5);
    EXPECT_EQ(c.latencyMs, 5u);
    EXPECT_FLOAT_EQ(c.tempo, 200.0f);
}

TEST(Accept, EmptyListsMeanNoDevicesTheCurrentFormatAndOneBuffer) {
    AudioDialogControls controls;
    controls.formatItemData = 12;  // data of no selected item counts for nothing
    const AudioDialogChoice c = audioChoiceFromControls(controls, 7);
    EXPECT_EQ(c.outputIndex, -1);
    EXPECT_EQ(c.inputIndex, -1);
    EXPECT_EQ(c.formatIndex, 7);
    EXPECT_EQ(c.buffers, 1);
    EXPECT_EQ(c.asioDriver, -1);
    EXPECT_EQ(c.latencyMs, 5u);
    EXPECT_FLOAT_EQ(c.tempo, 60.0f);
}

TEST(Accept, FormatItemDataOutsideTheTableKeepsTheCurrentFormat) {
    AudioDialogControls controls = typical();
    controls.formatItemData = 16;
    EXPECT_EQ(audioChoiceFromControls(controls, 3).formatIndex, 3);
    controls.formatItemData = -7;
    EXPECT_EQ(audioChoiceFromControls(controls, 3).formatIndex, 3);
    // A current format that is itself out of the table falls back to the default.
    EXPECT_EQ(audioChoiceFromControls(controls, 40).formatIndex, 5);
}

TEST(Accept, AsioTakesTheDriverBehindTheSelectedItem) {
    AudioDialogControls controls = typical();
    controls.asioChecked = true;
    controls.asioItem = 2;
    AudioDialogChoice c = audioChoiceFromControls(controls, 5);
    EXPECT_EQ(c.system, kSystemAsio);
    EXPECT_EQ(c.asioDriver, 1);
    controls.asioItem = 0;
    EXPECT_EQ(audioChoiceFromControls(controls, 5).asioDriver, -1);
}

// WASAPI: item 0 of each endpoint list is the default device; a mode item
// outside the three is Shared.
TEST(Accept, WasapiTakesTheEndpointsAndModeAndTheReadoutShowsWhatAStartObtained) {
    AudioDialogControls controls = typical();
    controls.asioChecked = true;  // the WASAPI radio wins: the radios are one group
    controls.wasapiChecked = true;
    controls.wasapiInputItem = 0;
    controls.wasapiOutputItem = 3;
    controls.wasapiModeItem = 2;
    AudioDialogChoice c = audioChoiceFromControls(controls, 5);
    EXPECT_EQ(c.system, kSystemWasapi);
    EXPECT_EQ(c.wasapiInput, -1);
    EXPECT_EQ(c.wasapiOutput, 2);
    EXPECT_EQ(c.wasapiMode, 2u);
    controls.wasapiModeItem = 9;
    EXPECT_EQ(audioChoiceFromControls(controls, 5).wasapiMode, 0u);

    char text[128];
    formatWasapiReadout(nullptr, "Shared", text, sizeof text);
    EXPECT_STREQ("Start live input to see the latencies.", text);
    WasapiStream s;
    s.rate = 48000;
    s.periodFrames = 480;
    s.inputLatencyFrames = 960;
    s.outputLatencyFrames = 1440;
    formatWasapiReadout(&s, "Shared", text, sizeof text);
    EXPECT_STREQ("Shared: input 20.0 ms, output 30.0 ms, period 10.0 ms", text);
    formatWasapiReadout(&s, "Shared", text, 8);
    EXPECT_STREQ("Shared:", text);
}

}  // namespace

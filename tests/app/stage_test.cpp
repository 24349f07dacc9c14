// MIDI parsing and queueing, bindings (learn, toggle, momentary, pick-up,
// their bytes), tap tempo, and set lists.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "app/gatepane.h"
#include "app/setlist.h"
#include "app/stagecontrol.h"
#include "devices/midiin.h"

namespace {

std::vector<MidiMessage> parseBytes(const std::vector<uint8_t>& bytes) {
    MidiParser p;
    std::vector<MidiMessage> out;
    for (uint8_t b : bytes) {
        MidiMessage m;
        if (midiParseByte(p, b, m)) out.push_back(m);
    }
    return out;
}

MidiMessage message(uint8_t status, uint8_t d1, uint8_t d2 = 0) {
    MidiMessage m;
    m.status = status;
    m.data1 = d1;
    m.data2 = d2;
    return m;
}

}  // namespace

TEST(Midi, RunningStatusRealTimeAndSystemMessages) {
    // A control change, two more on running status with a clock byte inside
    // one, SysEx skipped, then a program change whose status runs on.
    auto got = parseBytes({0xB1, 7, 100, 7, 0xF8, 90, 11, 64, 0xF0, 1, 2, 3, 0xF7, 0xC0, 5, 6, 0xFE});
    ASSERT_EQ(5u, got.size());
    EXPECT_EQ(0xB1, got[0].status);
    EXPECT_EQ(100, got[0].data2);
    EXPECT_EQ(90, got[1].data2);
    EXPECT_EQ(11, got[2].data1);
    EXPECT_EQ(0xC0, got[3].status);
    EXPECT_EQ(5, got[3].data1);
    EXPECT_EQ(6, got[4].data1);
    // A system common message ends running status: its data is not a note.
    EXPECT_EQ(1u, parseBytes({0x90, 60, 100, 0xF2, 1, 2, 61, 100}).size());
    // Data with no status before it binds nothing.
    EXPECT_TRUE(parseBytes({60, 100, 0xF7}).empty());

    // Packed short messages as a driver delivers them, running status included.
    MidiParser p;
    MidiMessage m;
    EXPECT_EQ(1, midiParseShort(p, 0x00403A90u, m));
    EXPECT_EQ(0x3A, m.data1);
    EXPECT_EQ(1, midiParseShort(p, 0x0000003Bu, m));  // note 0x3B velocity 0
    EXPECT_EQ(0x90, m.status);
    EXPECT_EQ(0, midiParseShort(p, 0x000000F8u, m));
    EXPECT_EQ(1, midiParseShort(p, 0x000003C2u, m));
    EXPECT_EQ(3, m.data1);
}

TEST(Midi, PortsQueueBoundedAndDropRealTimeCheaply) {
    static MidiPort port;
    port.open = true;
    for (int i = 0; i < 300; ++i) midiPortReceive(port, 2, kMidiEventData, 0x7F00B0u | (static_cast<uint32_t>(i % 128) << 8), 0);
    for (int i = 0; i < 50; ++i) midiPortReceive(port, 2, kMidiEventData, 0xF8u, 0);
    EXPECT_EQ(300u - kMidiQueueCapacity, port.queue.dropped.load());
    MidiMessage m;
    int n = 0;
    while (midiQueuePop(port.queue, m)) {
        EXPECT_EQ(2, m.port);
        EXPECT_EQ(n % 128, m.data1);
        ++n;
    }
    EXPECT_EQ(static_cast<int>(kMidiQueueCapacity), n);
    EXPECT_FALSE(port.lost.load());
    midiPortReceive(port, 2, kMidiEventClosed, 0, 0);
    EXPECT_TRUE(port.lost.load());
}

TEST(Stage, LearnToggleMomentaryAndSongs) {
    StageControl c;
    StageAction a[4];
    // A bypass learns a note; the note off does not bind.
    stageLearn(c, kTargetBypass, 2, 0);
    EXPECT_EQ(0, stageHandle(c, message(0x80, 60), nullptr, a, 4));
    ASSERT_EQ(1, stageHandle(c, message(0x92, 60, 100), nullptr, a, 4));
    EXPECT_EQ(kActionLearnt, a[0].kind);
    EXPECT_TRUE(c.changed);
    // Toggle: each press flips it, the release does nothing.
    ASSERT_EQ(1, stageHandle(c, message(0x92, 60, 1), nullptr, a, 4));
    EXPECT_EQ(kActionToggle, a[0].kind);
    EXPECT_EQ(2, a[0].a);
    EXPECT_EQ(0, stageHandle(c, message(0x92, 60, 0), nullptr, a, 4));
    EXPECT_EQ(0, stageHandle(c, message(0x91, 60, 100), nullptr, a, 4));  // another channel
    // Momentary: on while held.
    stageFind(c, kTargetBypass, 2, 0)->flags = kBindingMomentary;
    ASSERT_EQ(1, stageHandle(c, message(0x92, 60, 100), nullptr, a, 4));
    EXPECT_TRUE(a[0].kind == kActionSetSwitch && a[0].on);
    ASSERT_EQ(1, stageHandle(c, message(0x82, 60, 64), nullptr, a, 4));
    EXPECT_TRUE(a[0].kind == kActionSetSwitch && !a[0].on);

    // The DC remover learns a pedal's control; 64 and above presses it.
    stageLearn(c, kTargetDcRemover, 0, 0);
    stageHandle(c, message(0xB0, 64, 127), nullptr, a, 4);
    EXPECT_EQ(1, stageHandle(c, message(0xB0, 64, 64), nullptr, a, 4));
    EXPECT_EQ(0, stageHandle(c, message(0xB0, 64, 63), nullptr, a, 4));
    // Learning the same pedal for next song moves it there, into the global table.
    stageLearn(c, kTargetSongNext, 0, 0);
    stageHandle(c, message(0xB0, 64, 127), nullptr, a, 4);
    EXPECT_EQ(nullptr, stageFind(c, kTargetDcRemover, 0, 0));
    EXPECT_EQ(1, c.global.count);
    ASSERT_EQ(1, stageHandle(c, message(0xB0, 64, 127), nullptr, a, 4));
    EXPECT_EQ(kActionSongNext, a[0].kind);
    // A program change selects a song whatever is bound.
    ASSERT_EQ(1, stageHandle(c, message(0xC5, 2), nullptr, a, 4));
    EXPECT_TRUE(a[0].kind == kActionSongSelect && a[0].song == 2);

    // Moving a plug-in moves its bindings; removing it forgets them.
    stageSwapSlots(c, 2, 5);
    EXPECT_NE(nullptr, stageFind(c, kTargetBypass, 5, 0));
    stageForgetSlot(c, 5);
    EXPECT_EQ(0, c.performance.count);
}

namespace {
double gKnobNow = 0.5;
double knobNow(uint8_t, uint8_t, uint16_t) { return gKnobNow; }
}  // namespace

TEST(Stage, KnobsFollowOrPickUp) {
    StageControl c;
    StageAction a[2];
    stageLearn(c, kTargetKnob, kKnobOutput, 0);
    stageHandle(c, message(0xB3, 7, 0), knobNow, a, 2);
    ASSERT_EQ(1, stageHandle(c, message(0xB3, 7, 127), knobNow, a, 2));
    EXPECT_DOUBLE_EQ(1.0, a[0].value);
    EXPECT_EQ(kKnobOutput, a[0].a);

    // With pick-up the control waits until it reaches the knob's value...
    stageFind(c, kTargetKnob, kKnobOutput, 0)->flags = kBindingPickUp;
    gKnobNow = 0.5;
    EXPECT_EQ(0, stageHandle(c, message(0xB3, 7, 10), knobNow, a, 2));
    EXPECT_EQ(0, stageHandle(c, message(0xB3, 7, 40), knobNow, a, 2));
    // ... or passes it between two messages, then follows.
    ASSERT_EQ(1, stageHandle(c, message(0xB3, 7, 80), knobNow, a, 2));
    gKnobNow = a[0].value;
    ASSERT_EQ(1, stageHandle(c, message(0xB3, 7, 20), knobNow, a, 2));
    gKnobNow = a[0].value;
    // Moved elsewhere (the mouse): it waits again.
    gKnobNow = 0.9;
    EXPECT_EQ(0, stageHandle(c, message(0xB3, 7, 25), knobNow, a, 2));
    EXPECT_EQ(1, stageHandle(c, message(0xB3, 7, 115), knobNow, a, 2));
}

TEST(Stage, BindingsBytesRoundTripAndRefuseDamage) {
    StageControl c;
    StageAction a[1];
    stageLearn(c, kTargetParameter, 7, 300);
    stageHandle(c, message(0xBF, 20, 1), nullptr, a, 1);
    stageLearn(c, kTargetKnob, kKnobThreshold, 0);
    stageHandle(c, message(0x99, 36, 1), nullptr, a, 1);
    c.performance.items[1].flags = kBindingPickUp;
    uint8_t blob[kBindingsHeader + kBindingEntry * kMaxBindings];
    const size_t size = stageWriteBindings(c.performance, blob, sizeof blob);
    ASSERT_EQ(kBindingsHeader + 2 * kBindingEntry, size);
    StageBindings back;
    ASSERT_TRUE(stageReadBindings(blob, size, back));
    ASSERT_EQ(2, back.count);
    EXPECT_EQ(300, back.items[0].b);
    EXPECT_EQ(15, back.items[0].channel);
    EXPECT_EQ(kSourceNote, back.items[1].source);
    EXPECT_EQ(kBindingPickUp, back.items[1].flags);

    // Every fault refuses the whole blob and leaves the table as it was.
    auto refused = [&](size_t at, uint8_t value, size_t length) {
        std::vector<uint8_t> bad(blob, blob + size);
        if (at < bad.size()) bad[at] = value;
        StageBindings keep = back;
        const bool ok = stageReadBindings(bad.data(), length, keep);
        return !ok && keep.count == 2;
    };
    EXPECT_TRUE(refused(0, 'X', size));                     // tag
    EXPECT_TRUE(refused(6, 2, size));                       // version
    EXPECT_TRUE(refused(8, 3, size));                       // count past the end
    EXPECT_TRUE(refused(99, 0, size - 1));                  // short
    EXPECT_TRUE(refused(kBindingsHeader, 99, size));        // target
    EXPECT_TRUE(refused(kBindingsHeader + 1, 8, size));     // slot
    EXPECT_TRUE(refused(kBindingsHeader + 5, 16, size));    // channel
    EXPECT_TRUE(refused(kBindingsHeader + 6, 200, size));   // number
    EXPECT_TRUE(refused(kBindingsHeader + 8 + 1, 1, size)); // no such knob
    EXPECT_TRUE(refused(kBindingsHeader + 8 + 7, 4, size)); // flags
    uint8_t huge[kBindingsHeader] = {'Q', 'V', 'M', 'I', 'D', 'I', 1, 0, 0xFF, 0xFF};
    EXPECT_FALSE(stageReadBindings(huge, sizeof huge, back));
}

TEST(Stage, TapTempo) {
    TapTempo t;
    EXPECT_EQ(0.0f, tapTempoTap(t, 10.0));
    EXPECT_FLOAT_EQ(120.0f, tapTempoTap(t, 10.5));
    EXPECT_FLOAT_EQ(120.0f, tapTempoTap(t, 11.0));
    // Uneven taps average; only the last five intervals count.
    for (double s : {11.6, 12.2, 12.8, 13.4, 14.0}) tapTempoTap(t, s);
    EXPECT_FLOAT_EQ(100.0f, tapTempoTap(t, 14.6));
    // A pause starts again; limits hold.
    EXPECT_EQ(0.0f, tapTempoTap(t, 20.0));
    EXPECT_FLOAT_EQ(250.0f, tapTempoTap(t, 20.05));
    EXPECT_EQ(0.0f, tapTempoTap(t, 22.1));
    EXPECT_FLOAT_EQ(50.0f, tapTempoTap(t, 24.0));
}

namespace {
bool gMissing = false;
bool existsUnlessMissing(const char* path) { return !gMissing || std::strstr(path, "missing") == nullptr; }
}  // namespace

TEST(SetList, ParseResolveFormatAndMove) {
    const std::string text = "# tonight\r\nintro.qvp\r\n\r\n  songs\\ballad.qvp  \nD:\\other\\closer.qvp\n\\\\share\\x.qvp";
    static SetList list;
    ASSERT_EQ(0, setListParse(text.data(), text.size(), "C:\\gig\\tonight.qvs", existsUnlessMissing, list));
    ASSERT_EQ(4, list.count);
    EXPECT_STREQ("C:\\gig\\intro.qvp", list.songs[0]);
    EXPECT_STREQ("C:\\gig\\songs\\ballad.qvp", list.songs[1]);
    EXPECT_STREQ("D:\\other\\closer.qvp", list.songs[2]);
    EXPECT_STREQ("\\\\share\\x.qvp", list.songs[3]);

    char out[2048];
    const size_t n = setListFormat(list, "c:\\GIG\\tonight.qvs", out, sizeof out);
    EXPECT_EQ("intro.qvp\r\nsongs\\ballad.qvp\r\nD:\\other\\closer.qvp\r\n\\\\share\\x.qvp\r\n", std::string(out, n));
    EXPECT_EQ(0u, setListFormat(list, "C:\\gig\\t.qvs", out, 20));

    char title[80];
    setListSongTitle(list, 1, title, sizeof title);
    EXPECT_STREQ("2. ballad", title);
    setListSongTitle(list, 4, title, sizeof title);
    EXPECT_STREQ("", title);

    EXPECT_EQ(0, setListNext(list));
    EXPECT_EQ(-1, setListPrevious(list));
    list.current = 3;
    EXPECT_EQ(-1, setListNext(list));
    EXPECT_EQ(2, setListPrevious(list));
    EXPECT_EQ(1, setListSelect(list, 1));
    EXPECT_EQ(-1, setListSelect(list, 4));
}

TEST(SetList, HostileFilesAreRefusedAndTheListKept) {
    static SetList list;
    const std::string good = "a.qvp\nb.qvp\n";
    ASSERT_EQ(0, setListParse(good.data(), good.size(), "/x/l.qvs", nullptr, list));
    auto refuse = [&](const std::string& text, int32_t code, int line) {
        const int32_t got = setListParse(text.data(), text.size(), "/x/l.qvs", existsUnlessMissing, list);
        EXPECT_EQ(code, got) << text.substr(0, 40);
        EXPECT_EQ(line, list.faultLine);
        EXPECT_EQ(2, list.count);
        EXPECT_STREQ("/x/b.qvp", list.songs[1]);
    };
    std::string many;
    for (int i = 0; i <= kSetListMaxSongs; ++i) many += "s.qvp\n";
    refuse(many, kResultSetListTooLong, kSetListMaxSongs + 1);
    refuse("a.qvp\n" + std::string(300, 'x') + "\n", kResultSetListDamaged, 2);
    refuse(std::string(257, 'y') + "\n", kResultSetListDamaged, 1);  // too long once resolved
    refuse(std::string("a.qvp\nb\0c.qvp\n", 14), kResultSetListDamaged, 2);
    refuse(std::string(kSetListMaxBytes + 1, '#'), kResultSetListDamaged, 0);
    refuse("\n# nothing\n  \n", kResultSetListEmpty, 0);
    gMissing = true;
    refuse("a.qvp\nmissing.qvp\n", kResultSetListMissingSong, 2);
    gMissing = false;
}

// The winmm layer under Wine: the driver callback is called as a driver
// calls it, from a thread of its own, and what it queued is what the user
// interface drains. Wine here has no MIDI devices, so opening is proven
// only as far as a device that is absent.
#include <gtest/gtest.h>

#include <windows.h>
#include <mmsystem.h>

#include <thread>

#include "devices/midi.h"

TEST(MidiInput, TheDriverCallbackQueuesWhatTheInterfaceDrains) {
    MidiPort& port = gMidiPorts[2];
    midiQueueClear(port.queue);
    port.parser = MidiParser{};
    port.open = true;
    port.lost = false;
    // A driver thread: a control change, one on running status, clock and
    // active sensing in between, an error, and a program change.
    std::thread driver([] {
        const DWORD_PTR messages[] = {0x7F07B0, 0xF8, 0x0007, 0xFE, 0x05C1};
        for (DWORD_PTR m : messages) midiInputCallback(nullptr, MIM_DATA, 2, m, 1234);
        midiInputCallback(nullptr, MIM_ERROR, 2, 0x123456, 0);
        midiInputCallback(nullptr, MIM_OPEN, 2, 0, 0);
        midiInputCallback(nullptr, MIM_DATA, 99, 0x7F07B0, 0);  // no such port: ignored
    });
    driver.join();
    MidiMessage m;
    ASSERT_TRUE(midiQueuePop(port.queue, m));
    EXPECT_EQ(0xB0, m.status);
    EXPECT_EQ(127, m.data2);
    EXPECT_EQ(2, m.port);
    EXPECT_EQ(1234u, m.time);
    ASSERT_TRUE(midiQueuePop(port.queue, m));
    EXPECT_EQ(0, m.data2);
    ASSERT_TRUE(midiQueuePop(port.queue, m));
    EXPECT_EQ(0xC1, m.status);
    EXPECT_EQ(5, m.data1);
    EXPECT_FALSE(midiQueuePop(port.queue, m));
    EXPECT_EQ(1u, port.errors.load());

    // The driver closing the port by itself (the device was unplugged) is
    // noticed; the program's own close is not.
    midiInputCallback(nullptr, MIM_CLOSE, 2, 0, 0);
    EXPECT_TRUE(port.lost.load());
    port.open = false;
    port.lost = false;
    midiInputCallback(nullptr, MIM_CLOSE, 2, 0, 0);
    EXPECT_FALSE(port.lost.load());
}

TEST(MidiInput, AbsentDevicesAreCountedNotOpened) {
    MidiDeviceList list;
    midiListInputs(list);
    EXPECT_LE(list.count, kMidiMaxDevices);
    const char names[2][kMidiNameSize] = {"No Such Keyboard", "Nor This Pedal"};
    EXPECT_EQ(2, midiOpenInputs(names, 2));
    for (int port = 0; port < kMidiTestPort; ++port) EXPECT_EQ(nullptr, midiPortName(port));
    char lost[kMidiMaxPorts][kMidiNameSize];
    EXPECT_EQ(0, midiCloseLost(lost, kMidiMaxPorts));
    midiOpenTestPort();
    EXPECT_STREQ("Test MIDI Input", midiPortName(kMidiTestPort));
    midiCloseInputs();
    EXPECT_STREQ("Test MIDI Input", midiPortName(kMidiTestPort));  // not a device: stays
}

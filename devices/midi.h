// MIDI input through the platform's multimedia library (winmm): the list
// of input devices, opening and closing them, and the driver callback that
// feeds each port's parser and queue (devices/midiin.h).
//
// Everything but the callback runs on the user-interface thread.
#pragma once

#include <cstdint>

#include "devices/midiin.h"

constexpr int kMidiNameSize = 32;  // the platform's device name length, terminator included
constexpr int kMidiMaxDevices = 32;

struct MidiDeviceList {
    char names[kMidiMaxDevices][kMidiNameSize] = {};
    int count = 0;
};

// The ports the program reads, indexed as MidiMessage::port.
extern MidiPort gMidiPorts[kMidiMaxPorts];

// The input devices present now, in the platform's order.
void midiListInputs(MidiDeviceList& list);

// Opens every device named in `names` (count of them) that is present,
// each into a port of its own; the ports already open are closed first.
// Returns how many could not be opened (absent or refused).
int midiOpenInputs(const char (*names)[kMidiNameSize], int count);
void midiCloseInputs();
// The name of an open port, or null.
const char* midiPortName(int port);

// Closes the ports whose device is gone: the driver closed it without
// being asked, or it is no longer listed. Returns how many; each such name
// is copied into `lost` (up to `max`).
int midiCloseLost(char (*lost)[kMidiNameSize], int max);

// The driver callback (MidiInProc), as the platform calls it: `port` is the
// instance word the port was opened with. Public so tests can play the
// driver. It only parses and queues.
void __stdcall midiInputCallback(void* device, unsigned message, uintptr_t port, uintptr_t param1,
                                 uintptr_t param2);

// A port without a device, for the test driver only: the last port, named
// "Test MIDI Input". Messages reach it through midiInputCallback like a
// device's.
constexpr int kMidiTestPort = kMidiMaxPorts - 1;
void midiOpenTestPort();

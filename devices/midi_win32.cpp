#include "devices/midi.h"

#include <windows.h>
#include <mmsystem.h>

#include <cstdio>
#include <cstring>

MidiPort gMidiPorts[kMidiMaxPorts];

namespace {

struct PortDevice {
    HMIDIIN handle = nullptr;
    char name[kMidiNameSize] = "";
};
PortDevice gDevices[kMidiMaxPorts];

void closePort(int port) {
    PortDevice& d = gDevices[port];
    gMidiPorts[port].open.store(false);
    if (d.handle) {
        midiInStop(d.handle);
        midiInReset(d.handle);
        midiInClose(d.handle);
    }
    d = PortDevice{};
    midiQueueClear(gMidiPorts[port].queue);
    gMidiPorts[port].parser = MidiParser{};
    gMidiPorts[port].lost.store(false);
}

// A device's index by name now, or -1.
int deviceIndex(const MidiDeviceList& list, const char* name) {
    for (int i = 0; i < list.count; ++i)
        if (std::strcmp(list.names[i], name) == 0) return i;
    return -1;
}

}  // namespace

void __stdcall midiInputCallback(void*, unsigned message, uintptr_t port, uintptr_t param1, uintptr_t param2) {
    if (port >= static_cast<uintptr_t>(kMidiMaxPorts)) return;
    MidiPort& p = gMidiPorts[port];
    switch (message) {
        case MIM_DATA:
            midiPortReceive(p, static_cast<int>(port), kMidiEventData, static_cast<uint32_t>(param1),
                            static_cast<uint32_t>(param2));
            break;
        case MIM_ERROR:
        case MIM_LONGERROR: midiPortReceive(p, static_cast<int>(port), kMidiEventError, 0, 0); break;
        case MIM_CLOSE: midiPortReceive(p, static_cast<int>(port), kMidiEventClosed, 0, 0); break;
        default: break;  // MIM_OPEN, MIM_MOREDATA, SysEx buffers: none are given
    }
}

void midiListInputs(MidiDeviceList& list) {
    list.count = 0;
    const UINT n = midiInGetNumDevs();
    for (UINT i = 0; i < n && list.count < kMidiMaxDevices; ++i) {
        MIDIINCAPSA caps{};
        if (midiInGetDevCapsA(i, &caps, sizeof caps) != MMSYSERR_NOERROR) continue;
        std::snprintf(list.names[list.count++], kMidiNameSize, "%s", caps.szPname);
    }
}

int midiOpenInputs(const char (*names)[kMidiNameSize], int count) {
    midiCloseInputs();
    MidiDeviceList present;
    midiListInputs(present);
    int failed = 0, port = 0;
    for (int k = 0; k < count; ++k) {
        const int index = deviceIndex(present, names[k]);
        if (index < 0 || port >= kMidiTestPort) {
            ++failed;
            continue;
        }
        // The device's position in the platform's list, not in ours (a
        // device whose capabilities failed is not in ours).
        UINT id = 0;
        const UINT n = midiInGetNumDevs();
        for (UINT i = 0; i < n; ++i) {
            MIDIINCAPSA caps{};
            if (midiInGetDevCapsA(i, &caps, sizeof caps) == MMSYSERR_NOERROR && std::strcmp(caps.szPname, names[k]) == 0) {
                id = i;
                break;
            }
        }
        PortDevice& d = gDevices[port];
        gMidiPorts[port].parser = MidiParser{};
        gMidiPorts[port].lost.store(false);
        gMidiPorts[port].open.store(true);
        HMIDIIN handle = nullptr;
        if (midiInOpen(&handle, id, reinterpret_cast<DWORD_PTR>(&midiInputCallback), static_cast<DWORD_PTR>(port),
                       CALLBACK_FUNCTION) != MMSYSERR_NOERROR) {
            gMidiPorts[port].open.store(false);
            ++failed;
            continue;
        }
        d.handle = handle;
        std::snprintf(d.name, sizeof d.name, "%s", names[k]);
        midiInStart(handle);
        ++port;
    }
    return failed;
}

void midiCloseInputs() {
    for (int port = 0; port < kMidiTestPort; ++port) closePort(port);
}

const char* midiPortName(int port) {
    if (port < 0 || port >= kMidiMaxPorts || !gMidiPorts[port].open.load()) return nullptr;
    return gDevices[port].name;
}

int midiCloseLost(char (*lost)[kMidiNameSize], int max) {
    MidiDeviceList present;
    midiListInputs(present);
    int n = 0;
    for (int port = 0; port < kMidiTestPort; ++port) {
        if (!gDevices[port].handle) continue;
        const bool gone = gMidiPorts[port].lost.load() || deviceIndex(present, gDevices[port].name) < 0;
        if (!gone) continue;
        if (n < max) std::snprintf(lost[n], kMidiNameSize, "%s", gDevices[port].name);
        ++n;
        closePort(port);
    }
    return n;
}

void midiOpenTestPort() {
    gMidiPorts[kMidiTestPort].parser = MidiParser{};
    std::snprintf(gDevices[kMidiTestPort].name, kMidiNameSize, "Test MIDI Input");
    gMidiPorts[kMidiTestPort].open.store(true);
}

// MIDI input, the platform-free half: the byte parser with running status,
// and the bounded single-producer queue that carries messages from a
// driver's callback thread to the thread that acts on them.
//
// The driver's callback only parses and pushes: no waiting, no allocation,
// no user-interface call. The user-interface thread drains the queues.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

// One channel message. `status` carries the kind in its high nibble and the
// channel in its low one; system messages never reach the queue.
struct MidiMessage {
    uint8_t status = 0;
    uint8_t data1 = 0;
    uint8_t data2 = 0;
    uint8_t port = 0;
    uint32_t time = 0;  // the driver's milliseconds since the port started
};

constexpr uint8_t kMidiNoteOff = 0x80;
constexpr uint8_t kMidiNoteOn = 0x90;
constexpr uint8_t kMidiControlChange = 0xB0;
constexpr uint8_t kMidiProgramChange = 0xC0;

inline uint8_t midiKind(const MidiMessage& m) { return static_cast<uint8_t>(m.status & 0xF0); }
inline uint8_t midiChannel(const MidiMessage& m) { return static_cast<uint8_t>(m.status & 0x0F); }

// Running status and system messages. System real-time bytes (clock,
// active sensing, start/stop) may arrive anywhere, even inside a message:
// they are dropped without disturbing it. System exclusive is skipped to
// its end; system common messages cancel running status.
struct MidiParser {
    uint8_t running = 0;  // the status of the message being built, 0: none
    uint8_t data[2] = {0, 0};
    uint8_t have = 0;      // data bytes collected
    uint8_t skipping = 0;  // data bytes still to skip (system common), 0xFF inside SysEx
};

// Feeds one byte; true when it completes a channel message (written to `out`,
// port and time untouched).
bool midiParseByte(MidiParser& parser, uint8_t byte, MidiMessage& out);

// The data bytes a channel message of this status carries (1 or 2); 0 for
// anything that is not a channel status.
int midiDataBytes(uint8_t status);

// A driver's short message: up to three bytes packed low byte first. A
// first byte below 0x80 continues the running status. Returns how many
// messages it completed (0 or 1; a packed word carries at most one).
int midiParseShort(MidiParser& parser, uint32_t packed, MidiMessage& out);

// A bounded ring, one producer (a port's callback) and one consumer (the
// user-interface thread). A full ring drops the message and counts it.
constexpr uint32_t kMidiQueueCapacity = 256;  // a power of two
struct MidiQueue {
    MidiMessage ring[kMidiQueueCapacity];
    std::atomic<uint32_t> head{0};  // written by the consumer
    std::atomic<uint32_t> tail{0};  // written by the producer
    std::atomic<uint32_t> dropped{0};
};
bool midiQueuePush(MidiQueue& q, const MidiMessage& m);
bool midiQueuePop(MidiQueue& q, MidiMessage& m);
void midiQueueClear(MidiQueue& q);  // consumer side, with the producer stopped

// Open ports: each has its parser and queue, and what the callback saw.
constexpr int kMidiMaxPorts = 8;
struct MidiPort {
    MidiParser parser;
    MidiQueue queue;
    std::atomic<bool> open{false};
    // The driver closed the port without being asked (the device was
    // unplugged), or reported an error; the UI reports it once.
    std::atomic<bool> lost{false};
    std::atomic<uint32_t> errors{0};
};

// What the driver's callback does with one event. Real-time bytes and
// system messages are dropped here, cheaply, before the queue.
enum MidiEvent : int {
    kMidiEventData = 0,   // a short message (packed) arrived
    kMidiEventError = 1,  // an invalid or incomplete message
    kMidiEventClosed = 2, // the driver closed the port
};
void midiPortReceive(MidiPort& port, int index, MidiEvent event, uint32_t packed, uint32_t time);

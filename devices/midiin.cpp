#include "devices/midiin.h"

int midiDataBytes(uint8_t status) {
    switch (status & 0xF0) {
        case 0x80:
        case 0x90:
        case 0xA0:
        case 0xB0:
        case 0xE0: return 2;
        case 0xC0:
        case 0xD0: return 1;
        default: return 0;
    }
}

namespace {

// Data bytes of the system common messages (F1 ... F6).
int systemCommonBytes(uint8_t status) {
    switch (status) {
        case 0xF1:
        case 0xF3: return 1;
        case 0xF2: return 2;
        default: return 0;
    }
}

}  // namespace

bool midiParseByte(MidiParser& p, uint8_t byte, MidiMessage& out) {
    if (byte >= 0xF8) return false;  // real time: clock, start, stop, active sensing, reset
    if (byte == 0xF7) {              // end of SysEx
        p.skipping = 0;
        return false;
    }
    if (byte >= 0xF0) {
        p.running = 0;
        p.have = 0;
        p.skipping = byte == 0xF0 ? 0xFF : static_cast<uint8_t>(systemCommonBytes(byte));
        return false;
    }
    if (byte >= 0x80) {
        p.running = byte;
        p.have = 0;
        p.skipping = 0;
        return false;
    }
    if (p.skipping == 0xFF) return false;
    if (p.skipping) {
        --p.skipping;
        return false;
    }
    if (!p.running) return false;  // data with no status to belong to
    p.data[p.have++] = byte;
    if (p.have < midiDataBytes(p.running)) return false;
    out.status = p.running;
    out.data1 = p.data[0];
    out.data2 = p.have > 1 ? p.data[1] : 0;
    p.have = 0;  // the status keeps running
    return true;
}

int midiParseShort(MidiParser& p, uint32_t packed, MidiMessage& out) {
    // A short message never continues an unfinished one.
    p.have = 0;
    if (p.skipping == 0xFF) p.skipping = 0;
    const uint8_t first = static_cast<uint8_t>(packed & 0xFF);
    if (first >= 0xF8) return 0;
    const int bytes = first >= 0x80 ? 1 + (first >= 0xF0 ? systemCommonBytes(first) : midiDataBytes(first))
                                    : midiDataBytes(p.running);
    if (bytes == 0) {
        if (first >= 0x80) midiParseByte(p, first, out);
        return 0;
    }
    for (int i = 0; i < bytes && i < 3; ++i)
        if (midiParseByte(p, static_cast<uint8_t>(packed >> (8 * i)), out)) return 1;
    return 0;
}

bool midiQueuePush(MidiQueue& q, const MidiMessage& m) {
    const uint32_t tail = q.tail.load(std::memory_order_relaxed);
    if (tail - q.head.load(std::memory_order_acquire) >= kMidiQueueCapacity) {
        q.dropped.fetch_add(1, std::memory_order_relaxed);
        return false;
    }
    q.ring[tail & (kMidiQueueCapacity - 1)] = m;
    q.tail.store(tail + 1, std::memory_order_release);
    return true;
}

bool midiQueuePop(MidiQueue& q, MidiMessage& m) {
    const uint32_t head = q.head.load(std::memory_order_relaxed);
    if (head == q.tail.load(std::memory_order_acquire)) return false;
    m = q.ring[head & (kMidiQueueCapacity - 1)];
    q.head.store(head + 1, std::memory_order_release);
    return true;
}

void midiQueueClear(MidiQueue& q) { q.head.store(q.tail.load(std::memory_order_acquire), std::memory_order_release); }

void midiPortReceive(MidiPort& port, int index, MidiEvent event, uint32_t packed, uint32_t time) {
    switch (event) {
        case kMidiEventData: {
            // Clock and active sensing arrive many times a second: gone at once.
            if ((packed & 0xFF) >= 0xF8) return;
            MidiMessage m;
            if (!midiParseShort(port.parser, packed, m)) return;
            m.port = static_cast<uint8_t>(index);
            m.time = time;
            midiQueuePush(port.queue, m);
            return;
        }
        case kMidiEventError: port.errors.fetch_add(1, std::memory_order_relaxed); return;
        case kMidiEventClosed:
            if (port.open.load()) port.lost.store(true);
            return;
    }
}

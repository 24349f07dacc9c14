#include "app/stagecontrol.h"

#include <cmath>
#include <cstdio>
#include <cstring>

#include "app/gatepane.h"
#include "common/bytes.h"

namespace {

bool sameTarget(const StageBinding& x, uint8_t target, uint8_t a, uint16_t b) {
    if (x.target != target) return false;
    switch (target) {
        case kTargetKnob:
        case kTargetBypass: return x.a == a;
        case kTargetParameter: return x.a == a && x.b == b;
        default: return true;
    }
}

bool sameSource(const StageBinding& x, uint8_t source, uint8_t channel, uint8_t number) {
    return x.source == source && x.channel == channel && x.number == number;
}

void removeAt(StageBindings& t, int i) {
    for (int k = i + 1; k < t.count; ++k) t.items[k - 1] = t.items[k];
    --t.count;
}

StageBindings& tableFor(StageControl& c, uint8_t target) {
    return stageTargetIsGlobal(target) ? c.global : c.performance;
}

// A binding of a slot's plug-in or bypass follows the slot number `a`.
bool slotTarget(uint8_t target) { return target == kTargetBypass || target == kTargetParameter; }

bool validBinding(const StageBinding& b) {
    if (b.target == kTargetNone || b.target > kTargetLast) return false;
    if (b.source > kSourceNote || b.channel > 15 || b.number > 127) return false;
    if (b.flags & ~(kBindingMomentary | kBindingPickUp)) return false;
    if (b.target == kTargetKnob && !gateKnobRow(b.a)) return false;
    if (slotTarget(b.target) && b.a >= 8) return false;
    return true;
}

}  // namespace

bool stageTargetIsSwitch(uint8_t target) { return target == kTargetDcRemover || target == kTargetBypass; }

bool stageTargetIsGlobal(uint8_t target) {
    return target == kTargetSongNext || target == kTargetSongPrevious || target == kTargetTapTempo;
}

void stageLearn(StageControl& c, uint8_t target, uint8_t a, uint16_t b) {
    c.learning = true;
    c.learnTarget = StageBinding{};
    c.learnTarget.target = target;
    c.learnTarget.a = a;
    c.learnTarget.b = b;
}

void stageCancelLearn(StageControl& c) { c.learning = false; }

int stageForget(StageControl& c, uint8_t target, uint8_t a, uint16_t b) {
    StageBindings& t = tableFor(c, target);
    int n = 0;
    for (int i = t.count - 1; i >= 0; --i) {
        if (!sameTarget(t.items[i], target, a, b)) continue;
        removeAt(t, i);
        ++n;
    }
    if (n && &t == &c.performance) c.changed = true;
    return n;
}

StageBinding* stageFind(StageControl& c, uint8_t target, uint8_t a, uint16_t b) {
    StageBindings& t = tableFor(c, target);
    for (int i = 0; i < t.count; ++i)
        if (sameTarget(t.items[i], target, a, b)) return &t.items[i];
    return nullptr;
}

void stageSwapSlots(StageControl& c, int from, int to) {
    for (int i = 0; i < c.performance.count; ++i) {
        StageBinding& x = c.performance.items[i];
        if (!slotTarget(x.target)) continue;
        if (x.a == from) {
            x.a = static_cast<uint8_t>(to);
            c.changed = true;
        } else if (x.a == to) {
            x.a = static_cast<uint8_t>(from);
            c.changed = true;
        }
    }
}

void stageForgetSlot(StageControl& c, int slot) {
    for (int i = c.performance.count - 1; i >= 0; --i) {
        const StageBinding& x = c.performance.items[i];
        if (slotTarget(x.target) && x.a == slot) {
            removeAt(c.performance, i);
            c.changed = true;
        }
    }
}

namespace {

// The message as a binding's source: false for anything that binds nothing.
// `press` is a note on or a control at 64 and above, `level` its value.
bool sourceOf(const MidiMessage& m, uint8_t& source, uint8_t& number, bool& press, double& level) {
    switch (midiKind(m)) {
        case kMidiControlChange:
            source = kSourceControl;
            number = m.data1;
            press = m.data2 >= 64;
            level = m.data2 / 127.0;
            return true;
        case kMidiNoteOn:
        case kMidiNoteOff:
            source = kSourceNote;
            number = m.data1;
            press = midiKind(m) == kMidiNoteOn && m.data2 > 0;
            level = press ? m.data2 / 127.0 : 0.0;
            return true;
        default: return false;
    }
}

// Whether a control with pick-up may move its target now.
bool pickedUp(StageBinding& x, double value, int control, double current) {
    constexpr double kNear = 1.5 / 127.0;
    if (current < 0.0) return true;
    // Moved elsewhere (the mouse, a song change) since the control last set it.
    if (x.engaged && std::fabs(current - x.lastSent) > kNear) x.engaged = false;
    if (!x.engaged) {
        const double before = x.lastControl >= 0 ? x.lastControl / 127.0 : value;
        const bool crossed = (before - current) * (value - current) <= 0.0 && x.lastControl >= 0;
        if (std::fabs(value - current) <= kNear || crossed) x.engaged = true;
    }
    x.lastControl = control;
    return x.engaged;
}

}  // namespace

int stageHandle(StageControl& c, const MidiMessage& m, StageValueFn current, StageAction* out, int max) {
    int n = 0;
    auto emit = [&](const StageAction& a) {
        if (n < max) out[n++] = a;
    };
    if (midiKind(m) == kMidiProgramChange) {
        StageAction a;
        a.kind = kActionSongSelect;
        a.song = m.data1;
        emit(a);
        return n;
    }
    uint8_t source = 0, number = 0;
    bool press = false;
    double level = 0.0;
    if (!sourceOf(m, source, number, press, level)) return 0;
    const uint8_t channel = midiChannel(m);

    if (c.learning) {
        // A note off or a control let go does not bind: the press does.
        if (source == kSourceNote && !press) return 0;
        StageBinding b = c.learnTarget;
        b.source = source;
        b.channel = channel;
        b.number = number;
        // One binding per target and one target per control: learning again moves it.
        stageForget(c, b.target, b.a, b.b);
        for (StageBindings* t : {&c.performance, &c.global})
            for (int i = t->count - 1; i >= 0; --i)
                if (sameSource(t->items[i], source, channel, number)) {
                    removeAt(*t, i);
                    if (t == &c.performance) c.changed = true;
                }
        StageBindings& t = tableFor(c, b.target);
        c.learning = false;
        if (t.count >= kMaxBindings) return 0;
        t.items[t.count++] = b;
        if (&t == &c.performance) c.changed = true;
        StageAction a;
        a.kind = kActionLearnt;
        a.target = b.target;
        a.a = b.a;
        a.b = b.b;
        emit(a);
        return n;
    }

    for (StageBindings* t : {&c.performance, &c.global}) {
        for (int i = 0; i < t->count; ++i) {
            StageBinding& x = t->items[i];
            if (!sameSource(x, source, channel, number)) continue;
            StageAction a;
            a.target = x.target;
            a.a = x.a;
            a.b = x.b;
            if (stageTargetIsSwitch(x.target)) {
                if (x.flags & kBindingMomentary) {
                    a.kind = kActionSetSwitch;
                    a.on = press;
                } else if (press) {
                    a.kind = kActionToggle;
                } else {
                    continue;
                }
            } else if (x.target == kTargetSongNext || x.target == kTargetSongPrevious || x.target == kTargetTapTempo) {
                if (!press) continue;
                a.kind = x.target == kTargetSongNext       ? kActionSongNext
                         : x.target == kTargetSongPrevious ? kActionSongPrevious
                                                           : kActionTap;
            } else {
                if (source == kSourceNote && !press) continue;
                if (x.flags & kBindingPickUp) {
                    const double now = current ? current(x.target, x.a, x.b) : -1.0;
                    if (!pickedUp(x, level, source == kSourceControl ? m.data2 : -1, now)) continue;
                }
                x.lastSent = level;
                a.kind = kActionSetValue;
                a.value = level;
            }
            emit(a);
        }
    }
    return n;
}

size_t stageBindingsSize(const StageBindings& b) { return kBindingsHeader + kBindingEntry * static_cast<size_t>(b.count); }

size_t stageWriteBindings(const StageBindings& b, uint8_t* out, size_t size) {
    const size_t need = stageBindingsSize(b);
    if (size < need) return 0;
    std::memcpy(out, "QVMIDI", 6);
    putU16(out + 6, 1);
    putU16(out + 8, static_cast<uint16_t>(b.count));
    for (int i = 0; i < b.count; ++i) {
        const StageBinding& x = b.items[i];
        uint8_t* e = out + kBindingsHeader + kBindingEntry * i;
        e[0] = x.target;
        e[1] = x.a;
        putU16(e + 2, x.b);
        e[4] = x.source;
        e[5] = x.channel;
        e[6] = x.number;
        e[7] = x.flags;
    }
    return need;
}

bool stageReadBindings(const uint8_t* blob, size_t size, StageBindings& out) {
    if (!blob || size < kBindingsHeader || std::memcmp(blob, "QVMIDI", 6) != 0 || getU16(blob + 6) != 1) return false;
    const size_t n = getU16(blob + 8);
    if (n > kMaxBindings || size != kBindingsHeader + kBindingEntry * n) return false;
    StageBindings read;
    for (size_t i = 0; i < n; ++i) {
        const uint8_t* e = blob + kBindingsHeader + kBindingEntry * i;
        StageBinding x;
        x.target = e[0];
        x.a = e[1];
        x.b = getU16(e + 2);
        x.source = e[4];
        x.channel = e[5];
        x.number = e[6];
        x.flags = e[7];
        if (!validBinding(x)) return false;
        read.items[read.count++] = x;
    }
    out = read;
    return true;
}

void stageDescribeSource(const StageBinding& b, char* out, size_t size) {
    if (b.source == kSourceNote) {
        static const char* const kNames[12] = {"C", "C#", "D", "D#", "E", "F", "F#", "G", "G#", "A", "A#", "B"};
        std::snprintf(out, size, "Note %s%d, channel %d", kNames[b.number % 12], b.number / 12 - 1, b.channel + 1);
    } else {
        std::snprintf(out, size, "CC %d, channel %d", b.number, b.channel + 1);
    }
}

float tapTempoTap(TapTempo& t, double seconds) {
    constexpr int kKeep = 6;
    if (t.count > 0 && (seconds - t.times[t.count - 1] > kTapTimeout || seconds <= t.times[t.count - 1])) t.count = 0;
    if (t.count == kKeep) {
        for (int i = 1; i < kKeep; ++i) t.times[i - 1] = t.times[i];
        --t.count;
    }
    t.times[t.count++] = seconds;
    if (t.count < 2) return 0.0f;
    const double beat = (t.times[t.count - 1] - t.times[0]) / (t.count - 1);
    double bpm = 60.0 / beat;
    if (bpm < 50.0) bpm = 50.0;
    if (bpm > 250.0) bpm = 250.0;
    return static_cast<float>(bpm);
}

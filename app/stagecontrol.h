// Hands-free control: MIDI bindings to the program's controls, learning
// them, pick-up (soft takeover), and tap tempo. Platform-free; the window
// code applies the actions it returns.
//
// User-interface thread only: the MIDI callbacks only queue messages.
#pragma once

#include <cstddef>
#include <cstdint>

#include "devices/midiin.h"

// What a binding moves.
enum StageTarget : uint8_t {
    kTargetNone = 0,
    kTargetKnob = 1,       // a Master Section knob: `a` its identifier
    kTargetDcRemover = 2,  // the DC remover switch
    kTargetBypass = 3,     // chain slot `a`'s bypass (on: the plug-in runs)
    kTargetParameter = 4,  // chain slot `a`'s plug-in, parameter `b`
    kTargetSongNext = 5,
    kTargetSongPrevious = 6,
    kTargetTapTempo = 7,
    kTargetLast = kTargetTapTempo,
};

// What it is moved by.
enum StageSource : uint8_t {
    kSourceControl = 0,  // a control change, number 0 ... 127
    kSourceNote = 1,     // a note, on and off
};

constexpr uint8_t kBindingMomentary = 1;  // a switch is on only while held
constexpr uint8_t kBindingPickUp = 2;     // a knob waits until the control reaches its value

struct StageBinding {
    uint8_t target = kTargetNone;
    uint8_t a = 0;
    uint16_t b = 0;
    uint8_t source = kSourceControl;
    uint8_t channel = 0;  // 0 ... 15
    uint8_t number = 0;   // controller or note
    uint8_t flags = 0;
    // Pick-up state, never stored.
    bool engaged = false;
    double lastSent = -1.0;
    int lastControl = -1;
};

// Switches and knobs (continuous) behave differently.
bool stageTargetIsSwitch(uint8_t target);
bool stageTargetIsGlobal(uint8_t target);  // song changes and tap tempo: kept in the settings

constexpr int kMaxBindings = 64;

struct StageBindings {
    StageBinding items[kMaxBindings];
    int count = 0;
};

struct StageControl {
    StageBindings performance;  // stored in the performance file
    StageBindings global;       // stored in the settings
    // Learning: the next control change or note is bound to this target.
    bool learning = false;
    StageBinding learnTarget;
    // Something the user sees changed (the bindings of the performance).
    bool changed = false;
};

// Learning and forgetting. `learnFor` arms learning for a target (a1, b as
// in StageBinding); the next message binds it. Forgetting removes every
// binding of that target; returns how many.
void stageLearn(StageControl& c, uint8_t target, uint8_t a, uint16_t b);
void stageCancelLearn(StageControl& c);
int stageForget(StageControl& c, uint8_t target, uint8_t a, uint16_t b);
// The binding of a target, or null.
StageBinding* stageFind(StageControl& c, uint8_t target, uint8_t a, uint16_t b);
// A slot's bindings follow its plug-in: moving slot `from` to `to` (both
// 0 ... 7) exchanges the two slots' bindings; clearing one forgets them.
void stageSwapSlots(StageControl& c, int from, int to);
void stageForgetSlot(StageControl& c, int slot);

// What a message asks the program to do.
enum StageActionKind : uint8_t {
    kActionNone = 0,
    kActionSetValue,  // a knob or parameter to `value` (0 ... 1)
    kActionSetSwitch, // a switch or bypass to `on`
    kActionToggle,    // a switch or bypass to the opposite of its state
    kActionSongNext,
    kActionSongPrevious,
    kActionSongSelect,  // `song`, 0-based (program change N selects song N+1)
    kActionTap,
    kActionLearnt,  // learning bound the message; `binding` says to what
};

struct StageAction {
    uint8_t kind = kActionNone;
    uint8_t target = kTargetNone;
    uint8_t a = 0;
    uint16_t b = 0;
    double value = 0.0;
    bool on = false;
    int song = 0;
};

// The current value of a continuous target (0 ... 1), for pick-up; a
// negative answer means unknown (the control then moves it at once).
using StageValueFn = double (*)(uint8_t target, uint8_t a, uint16_t b);

// Turns one message into at most `max` actions (one per binding it moves,
// plus a program change's song). Returns how many.
int stageHandle(StageControl& c, const MidiMessage& m, StageValueFn current, StageAction* out, int max);

// Bindings as bytes: "QVMIDI", u16 version 1, u16 n, then n entries of 8
// bytes (target, a, u16 b, source, channel, number, flags). Reading checks
// everything and takes nothing from a blob with any fault.
constexpr size_t kBindingsHeader = 10;
constexpr size_t kBindingEntry = 8;
size_t stageBindingsSize(const StageBindings& b);
size_t stageWriteBindings(const StageBindings& b, uint8_t* out, size_t size);
bool stageReadBindings(const uint8_t* blob, size_t size, StageBindings& out);

// A binding's description for menus and the status bar, e.g. "CC 64 ch 1"
// or "Note C3 ch 10".
void stageDescribeSource(const StageBinding& b, char* out, size_t size);

// Tap tempo: the tempo of the last taps (up to five intervals), limited to
// 50 ... 250 beats per minute. A pause of more than two seconds starts a
// new count. Returns 0 until two taps are in.
struct TapTempo {
    double times[6] = {};
    int count = 0;
};
constexpr double kTapTimeout = 2.0;
float tapTempoTap(TapTempo& t, double seconds);

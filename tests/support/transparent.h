// An engine that passes its input through unchanged: the gate always open
// from the first sample, no DC remover, unity gains, no metronome.
#pragma once

#include "engine/engine.h"

inline void makeTransparent(EngineState& engine) {
    engine.gateThreshold = 0.0f;
    engine.gateAttackMs = 0;
    engine.dcRemoverOn = false;
    engine.inputGain = 1.0f;
    engine.masterGain = 1.0f;
    engine.metronomeOn = false;
}

// The metronome: a decaying sine click with a downward glide, once per beat.
//
// Beats sit on the exact tempo grid: beat k starts round(k * rate * 60 / tempo)
// samples after configuration, so the fractional part of the beat period is
// carried and clicks never drift against a backing track at the same tempo.
// Every click lasts the click length; start phases run 0.0 (first click),
// 0.0, 0.4, 0.0, 0.4, ...
#include <cmath>

#include "engine/engine.h"

namespace {

constexpr float kStartStep = 0.04f;      // rad per sample, about 281 Hz at 44.1 kHz
constexpr float kStartAmplitude = 0.5f;
constexpr float kAlternatePhase = 0.4f;
constexpr uint64_t kNever = UINT64_MAX;

uint64_t beatStart(const MetronomeState& m, uint64_t beat) {
    double at = std::round(static_cast<double>(beat) * m.beatPeriod);
    if (!(at < 1.0e18)) return kNever;  // also catches an infinite period
    return static_cast<uint64_t>(at);
}

}  // namespace

void metronomeReset(EngineState& e) {
    MetronomeState& m = e.metronome;
    m.phaseStep = kStartStep;
    m.amplitude = kStartAmplitude;
    m.phase = 0.0f;
    m.counter = 0;
    m.alternate = false;
    m.sampleIndex = 0;
    m.beatIndex = 1;
}

void metronomeConfigure(EngineState& e, uint32_t rate) {
    MetronomeState& m = e.metronome;
    const double tempo = e.metronomeTempo.load(std::memory_order_relaxed);
    m.clickLength = static_cast<uint32_t>(rate * 0.05);
    // A tempo of zero or less (or not a number) plays the first click only.
    double period = tempo > 0.0 ? rate * 60.0 / tempo : HUGE_VAL;
    if (!(period >= 1.0)) period = tempo > 0.0 ? 1.0 : HUGE_VAL;
    m.beatPeriod = period;
    m.nextBeatStart = beatStart(m, m.beatIndex);
}

void metronomeProcess(EngineState& e) {
    MetronomeState& m = e.metronome;
    const uint32_t n = e.blockSize;
    const double clickLength = m.clickLength;
    float* left = e.outputL;
    float* right = e.outputR;
    for (uint32_t i = 0; i < n; ++i) {
        if (m.sampleIndex == m.nextBeatStart) {
            m.phaseStep = kStartStep;
            m.amplitude = kStartAmplitude;
            m.phase = m.alternate ? kAlternatePhase : 0.0f;
            m.counter = 0;
            m.alternate = !m.alternate;
            m.nextBeatStart = beatStart(m, ++m.beatIndex);
        }
        if (m.counter < m.clickLength) {
            float s = static_cast<float>(m.amplitude * std::sin(static_cast<double>(m.phase)));
            left[i] += s;
            if (right) right[i] += s;
            m.phase = m.phase + m.phaseStep;
            if (m.phase > 6.283185) m.phase = 0.0f;
            m.phaseStep = static_cast<float>(m.phaseStep - 0.05 / clickLength);
            m.amplitude = static_cast<float>(m.amplitude - 0.5 / clickLength);
            ++m.counter;
        }
        ++m.sampleIndex;
    }
}

// Entry points for coverage-guided fuzzing of the parsers of untrusted
// input. Each takes arbitrary bytes and must neither crash, hang nor touch
// memory it does not own.
#pragma once

#include <cstddef>
#include <cstdint>

// Loads the wrappers and the converter from `stageDirectory`, and gives the
// VST wrapper a folder of test effects.
bool fuzzSetUp(const char* stageDirectory);
// Loads the four built-in effects from `folder` (ending with the separator)
// for the preset and effect-state targets; they stay loaded, so that
// coverage of their code can be followed from run to run.
bool fuzzLoadEffects(const char* folder);
// fuzzLoadEffects of the fuzzers' own instrumented copies of the effects,
// in effects/ beside the stage's parent.
bool fuzzEffectsSetUp(const char* stageDirectory);
// The settings target needs nothing loaded.
bool fuzzNothingToSetUp(const char* stageDirectory);
// The bytes as a performance file, then as the default wrapper's state blob.
void fuzzPerformance(const uint8_t* data, size_t size);
// The bytes as an accompaniment file, played for a few blocks if it loads.
void fuzzAccompaniment(const uint8_t* data, size_t size);
// The bytes as the VST wrapper's state blob; restored effects run a block.
void fuzzVstState(const uint8_t* data, size_t size);
// The bytes as the VST 3 wrapper's state blob (restored plug-ins run a
// block) and as its scan cache's text.
void fuzzVst3State(const uint8_t* data, size_t size);
void fuzzClapState(const uint8_t* data, size_t size);
// The bytes as a .pst file loaded in the default wrapper's editor, into each
// built-in effect in turn (a preset saved from one effect may be opened in
// another's editor); an effect that takes it runs a block.
void fuzzPresetFile(const uint8_t* data, size_t size);
// The bytes as the values of the settings key, each read and decoded as the
// program reads it at start-up. Layout: records of a name byte (index into
// the key's names), a type byte, a 16-bit little-endian length and the
// value's bytes (cut short by the end of the input).
void fuzzSettings(const uint8_t* data, size_t size);
// The first byte picks a built-in effect (bits 0-1: reverb, echo, flanger,
// chorus), mono (bit 2), the sample rate (bits 3-5) and the block size
// (bits 6-7); the rest is a state chunk for PQ_SET_STATE. The effect runs
// blocks after it, and a chunk it took must save and load back unchanged.
void fuzzEffectState(const uint8_t* data, size_t size);
// Playing live's untrusted bytes. The first byte picks: 0 ... 85 the rest
// as a set list file (no file exists, then all do), 86 ... 170 as a
// performance's MIDI bindings (taken ones write back to the same bytes),
// the rest as a MIDI byte stream handled against the bindings learnt from
// its first messages.
void fuzzStage(const uint8_t* data, size_t size);

// The settings key as fuzzSettings reads it from its input, and its reader
// (a SettingReaderFn over a FuzzSettingsKey): the first value of a name,
// not read at all when it is larger than the buffer offered.
struct FuzzSettingsKey {
    const uint8_t* data;
    size_t size;
};
bool fuzzReadSettingsValue(void* context, const char* name, uint32_t& type, uint8_t* data, size_t& size);

// The names of the settings key in the order fuzzSettings numbers them.
constexpr int kFuzzSettingNames = 12;
extern const char* const kFuzzSettingName[kFuzzSettingNames];
// The sample rates and block sizes fuzzEffectState picks from.
extern const uint32_t kFuzzEffectRates[8];
extern const uint32_t kFuzzEffectBlocks[4];

// Entry points for coverage-guided fuzzing of the parsers of untrusted
// input. Each takes arbitrary bytes and must neither crash, hang nor touch
// memory it does not own.
#pragma once

#include <cstddef>
#include <cstdint>

// Loads the wrappers and the converter from `stageDirectory`, and gives the
// VST wrapper a folder of test effects.
bool fuzzSetUp(const char* stageDirectory);
// The bytes as a performance file, then as the default wrapper's state blob.
void fuzzPerformance(const uint8_t* data, size_t size);
// The bytes as an accompaniment file, played for a few blocks if it loads.
void fuzzAccompaniment(const uint8_t* data, size_t size);
// The bytes as the VST wrapper's state blob; restored effects run a block.
void fuzzVstState(const uint8_t* data, size_t size);

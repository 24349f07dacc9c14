// Vector loops for packed two-channel 16- and 24-bit PCM at equal frame
// counts. Each returns false when this processor or build has no such loop;
// the caller then runs its generic loop.
#pragma once

#include <cstdint>

bool fastReadPacked(unsigned bits, const uint8_t* in, float* left, float* right, uint32_t frames);
bool fastWritePacked(unsigned bits, uint8_t* out, const float* left, const float* right, uint32_t frames);

// Caps the instruction sets the loops may use, for tests on processors that
// have more: 0 none (generic loops only), 1 SSE2 and SSSE3, 2 AVX2 (default).
void fastPathsLimit(int level);

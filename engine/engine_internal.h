// Helpers shared by the engine's own source files.
#pragma once

#include <cstdint>

// Zero-filled float buffer (at least one element), or null when memory runs out.
float* engineAllocFloats(uint32_t count);
// Frees a buffer from engineAllocFloats and clears the reference.
void engineFreeFloats(float*& buffer);

// Which back-end live input uses; the settings keep it, the back-ends set it
// when their settings are applied.
#pragma once

#include <cstdint>

enum : uint32_t { kAudioSystemDirectSound = 0, kAudioSystemAsio = 1, kAudioSystemWasapi = 2 };
extern uint32_t gAudioSystem;

// Test helpers: finding and loading the staged modules.
#pragma once

#include <string>

#include "streamconv/streamconv.h"

// Path of a file in the stage folder, which sits beside the tests folder.
std::string stagePath(const std::string& relative);

// The converter, loaded from the stage once per test program, as the program
// loads it: by file name, exports resolved by name.
struct StreamConverter {
    ProcessStreamFn process = nullptr;
    ProcessStreamFn processMsb = nullptr;
    SetStreamHistoryFn setHistory = nullptr;
};
const StreamConverter& streamConverter();

// The converter a converter test program drives: the staged library, or the
// converter's code linked into the program.
const StreamConverter& converterUnderTest();

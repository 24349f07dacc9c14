// The program's binding to the converter library, resolved by name at
// start-up; every conversion of the program goes through it.
#pragma once

#include "streamconv/streamconv.h"

struct ConverterBinding {
    ProcessStreamFn process = nullptr;
    ProcessStreamFn processMsb = nullptr;
    SetStreamHistoryFn setHistory = nullptr;
};

extern ConverterBinding gConverter;

// Loads the library at `path` and resolves its three exports. False (and an
// unchanged binding) when the library or an export is missing.
bool converterBind(const char* path);

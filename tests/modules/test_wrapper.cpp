// A wrapper module for the host's tests. It records every command it gets
// (the test reads the record through its exports) and, built with one of
// the TEST_* definitions, lacks an export or refuses to open.
#include <cstdio>
#include <cstring>

#include "host/wrapperprotocol.h"

struct TestCommand {
    intptr_t opcode, a1, a2;
};

#if defined(_WIN32)
#define TEST_DATA __declspec(dllexport)
#else
#define TEST_DATA __attribute__((visibility("default")))
#endif

extern "C" {
TEST_DATA TestCommand testCommands[512];
TEST_DATA int testCommandCount = 0;
TEST_DATA float testLastTempo = 0.0f;
TEST_DATA int testProcessCount = 0;
}

[[maybe_unused]] static char directory[1024];

#if !defined(TEST_NO_DISPATCHER)
WRAPPER_EXPORT intptr_t WRAPPER_CALL wrapperDispatcher(intptr_t opcode, intptr_t a1, intptr_t a2) {
    if (testCommandCount < 512) testCommands[testCommandCount++] = {opcode, a1, a2};
    switch (opcode) {
        case WD_OPEN:
            std::snprintf(directory, sizeof directory, "%s", reinterpret_cast<const char*>(a1));
#if defined(TEST_REFUSE_OPEN)
            return 0;
#else
            return 1;
#endif
        case WD_CLOSE: {
            // Leaves a mark the test can see after the host unloaded the module.
            char path[1100];
            std::snprintf(path, sizeof path, "%sclosed.log", directory);
            if (FILE* f = std::fopen(path, "a")) {
                std::fputs("closed\n", f);
                std::fclose(f);
            }
            return 1;
        }
        case WD_GET_NAME:
            std::snprintf(reinterpret_cast<char*>(a1), 100, "Test Wrapper");
            return 1;
        case WD_SET_TEMPO:
            testLastTempo = *reinterpret_cast<const float*>(a1);
            return 1;
        case WD_CREATE_INSTANCE:
            *reinterpret_cast<intptr_t*>(a1) = 1000 + a2;
            return 1;
        default:
            return opcode <= WD_SET_TEMPO ? 1 : 0;
    }
}
#endif

#if !defined(TEST_NO_PROCESS)
WRAPPER_EXPORT void WRAPPER_CALL processPlugin(intptr_t, float* left, float*) {
    ++testProcessCount;
    if (left) left[0] += 1.0f;
}
#endif

// An effect module for the default wrapper's tests: it halves the left
// channel, has no state, and built with TEST_REFUSE_OPEN or TEST_NO_PROCESS
// fails to open or lacks its audio entry.
#include "wrappers/default/effectinterface.h"

EFFECT_EXPORT intptr_t EFFECT_CALL pluginQuery(intptr_t opcode, intptr_t, intptr_t) {
    switch (opcode) {
        case PQ_OPEN:
#if defined(TEST_REFUSE_OPEN)
            return 0;
#else
            return 1;
#endif
        case PQ_GET_STATE:
            return 0;  // no state
        case PQ_RESUME:
        case PQ_SUSPEND:
        case PQ_SET_SAMPLE_RATE:
        case PQ_SET_BLOCK_SIZE:
        case PQ_CLOSE:
            return 1;
        default:
            return 0;
    }
}

#if !defined(TEST_NO_PROCESS)
EFFECT_EXPORT void EFFECT_CALL processPlugin(float* left, float*, intptr_t) {
    if (left) left[0] *= 0.5f;
}
#endif

// The converter's code linked in, so that the tests can cap the instruction
// sets its vector loops use and cover every level on this processor.
#include "streamconv/fastpaths.h"
#include "tests/support/modules.h"

const StreamConverter& converterUnderTest() {
    static const StreamConverter linked{processStream, processStreamMSB, setStreamHistory};
    return linked;
}

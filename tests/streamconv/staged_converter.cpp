#include "tests/support/modules.h"

const StreamConverter& converterUnderTest() { return streamConverter(); }

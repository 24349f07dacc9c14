// Counts every heap allocation of the process (C allocator and operator new
// alike) between start and stop. Linked only into test programs built
// without the sanitizers, which own the allocator there.
#pragma once

void allocationCountingStart();
// Number of allocations since the start.
long allocationCountingStop();

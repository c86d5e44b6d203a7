// The per-thread count of failed hook allocations.
#include "common/ashooks_access.h"

namespace ascommon {

namespace {
thread_local uint64_t t_allocationFailures = 0;
}  // namespace

uint64_t AllocationFailures() {
    return t_allocationFailures;
}

void CountAllocationFailure() {
    ++t_allocationFailures;
}

}  // namespace ascommon

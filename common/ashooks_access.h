// The hook table in force for the binary that links this code. The module defines it as its
// installed hooks (replaced by GetClassFactory); a host that links the common classes defines it as
// its own table. All memory and error reporting of the common classes goes through it, so that
// blocks made on one side of the library boundary can be freed on the other.
#pragma once

#include <cstddef>
#include <cstdint>

#include "common/ashooks.h"

namespace ascommon {

extern ASHookTable installed_hooks;

// The allocations through the hooks that failed on the calling thread so far. Code that goes on
// after a failure it cannot tell from bad input (a list file that does not load, a parser that
// swallows its errors) compares the count before and after, so that running out of memory is
// reported rather than taken for bad input.
uint64_t AllocationFailures();
// Counts one failed allocation of the calling thread.
void CountAllocationFailure();

// Non-throwing allocation through the hooks: null on failure.
inline void* MemAlloc(size_t size) {
    void* block = installed_hooks._as_new(size, false);
    if (block == nullptr) CountAllocationFailure();
    return block;
}
// Throwing allocation through the hooks: never returns null.
inline void* MemAllocOrThrow(size_t size) {
    try {
        return installed_hooks._as_new(size, true);
    } catch (...) {
        CountAllocationFailure();
        throw;
    }
}
inline void MemFree(void* block) {
    installed_hooks._as_delete(block);
}

}  // namespace ascommon

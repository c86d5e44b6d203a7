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

// Non-throwing allocation through the hooks: null on failure.
inline void* MemAlloc(size_t size) {
    return installed_hooks._as_new(size, false);
}
// Throwing allocation through the hooks: never returns null.
inline void* MemAllocOrThrow(size_t size) {
    return installed_hooks._as_new(size, true);
}
inline void MemFree(void* block) {
    installed_hooks._as_delete(block);
}

}  // namespace ascommon

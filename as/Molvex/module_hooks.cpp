// The module's hook tables (installed and saved), its default hooks, and its replaced global
// allocation operators, which send every allocation of the module through the installed hooks.
// The library links the C++ runtime statically and exports none of these symbols, so the
// operators bind inside the library only and never take over the host's allocations.
#include <cstdint>
#include <cstdlib>
#include <new>

#include "common/ashooks_access.h"
#include "common/aserrno.h"

namespace {

class BadAllocation : public std::bad_alloc {
  public:
    const char* what() const noexcept override { return "bad allocation"; }
};

void* DefaultNew(uint64_t size, bool throwOnFailure) {
    void* block = std::malloc(size != 0 ? size : 1);
    if (block == nullptr && throwOnFailure) throw BadAllocation();
    return block;
}

void DefaultDelete(void* block) {
    std::free(block);
}

void DefaultTrace(int32_t, const char*, ...) {}

}  // namespace

namespace ascommon {

// Both tables are constant-initialised, so they are in force before any static constructor runs.
extern const ASHookTable kDefaultHooks = {DefaultNew,    DefaultDelete, DefaultSetErrMsg,
                                          DefaultSetErr, DefaultGetErr, DefaultTrace};

ASHookTable installed_hooks = {DefaultNew,    DefaultDelete, DefaultSetErrMsg,
                               DefaultSetErr, DefaultGetErr, DefaultTrace};

}  // namespace ascommon

// Global operators: the throwing forms rely on _as_new never returning null with the flag set.
// Every failure is counted for the calling thread (ascommon::AllocationFailures).
void* operator new(std::size_t size) {
    return ascommon::MemAllocOrThrow(size);
}
void* operator new[](std::size_t size) {
    return ascommon::MemAllocOrThrow(size);
}
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    try {
        return ascommon::MemAlloc(size);
    } catch (...) {
        ascommon::CountAllocationFailure();
        return nullptr;
    }
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
    try {
        return ascommon::MemAlloc(size);
    } catch (...) {
        ascommon::CountAllocationFailure();
        return nullptr;
    }
}
void operator delete(void* block) noexcept {
    ascommon::installed_hooks._as_delete(block);
}
void operator delete[](void* block) noexcept {
    ascommon::installed_hooks._as_delete(block);
}
void operator delete(void* block, std::size_t) noexcept {
    ascommon::installed_hooks._as_delete(block);
}
void operator delete[](void* block, std::size_t) noexcept {
    ascommon::installed_hooks._as_delete(block);
}
void operator delete(void* block, const std::nothrow_t&) noexcept {
    ascommon::installed_hooks._as_delete(block);
}
void operator delete[](void* block, const std::nothrow_t&) noexcept {
    ascommon::installed_hooks._as_delete(block);
}

// Over-aligned forms: over-allocate through the hooks and keep the block's start just before
// the aligned address.
namespace {
void* AlignedNew(std::size_t size, std::align_val_t alignment, bool throwOnFailure) {
    const std::size_t align = static_cast<std::size_t>(alignment);
    if (size > SIZE_MAX - align - sizeof(void*)) {
        ascommon::CountAllocationFailure();
        if (throwOnFailure) throw BadAllocation();
        return nullptr;
    }
    const std::size_t total = size + align + sizeof(void*);
    void* block = throwOnFailure ? ascommon::MemAllocOrThrow(total) : ascommon::MemAlloc(total);
    if (block == nullptr) return nullptr;
    std::uintptr_t start = reinterpret_cast<std::uintptr_t>(block) + sizeof(void*);
    std::uintptr_t aligned = (start + align - 1) & ~(static_cast<std::uintptr_t>(align) - 1);
    reinterpret_cast<void**>(aligned)[-1] = block;
    return reinterpret_cast<void*>(aligned);
}
void AlignedDelete(void* block) {
    if (block != nullptr) ascommon::installed_hooks._as_delete(static_cast<void**>(block)[-1]);
}
}  // namespace

void* operator new(std::size_t size, std::align_val_t a) {
    return AlignedNew(size, a, true);
}
void* operator new[](std::size_t size, std::align_val_t a) {
    return AlignedNew(size, a, true);
}
void* operator new(std::size_t size, std::align_val_t a, const std::nothrow_t&) noexcept {
    try {
        return AlignedNew(size, a, false);
    } catch (...) {
        return nullptr;
    }
}
void* operator new[](std::size_t size, std::align_val_t a, const std::nothrow_t&) noexcept {
    try {
        return AlignedNew(size, a, false);
    } catch (...) {
        return nullptr;
    }
}
void operator delete(void* block, std::align_val_t) noexcept {
    AlignedDelete(block);
}
void operator delete[](void* block, std::align_val_t) noexcept {
    AlignedDelete(block);
}
void operator delete(void* block, std::size_t, std::align_val_t) noexcept {
    AlignedDelete(block);
}
void operator delete[](void* block, std::size_t, std::align_val_t) noexcept {
    AlignedDelete(block);
}
void operator delete(void* block, std::align_val_t, const std::nothrow_t&) noexcept {
    AlignedDelete(block);
}
void operator delete[](void* block, std::align_val_t, const std::nothrow_t&) noexcept {
    AlignedDelete(block);
}

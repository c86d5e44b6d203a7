// The host side's hook table, shared by tests, tools and the scanner. Every block it hands out
// carries a tag ahead of it, so a free of a block that did not come from these hooks is caught
// and counted instead of corrupting the heap. It counts allocations, frees and live bytes, can
// fail a chosen allocation, and captures trace lines from a chosen level. All functions are
// thread-safe. The host's own copy of the common classes allocates through the same table.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "common/ashooks.h"

namespace host {

struct HookCounters {
    uint64_t allocations;    // successful _as_new calls
    uint64_t frees;          // _as_delete calls on tagged blocks
    uint64_t untaggedFrees;  // _as_delete calls on blocks these hooks never made
    uint64_t liveBytes;      // bytes allocated and not yet freed
    uint64_t failedAllocations;
};

// The host's table: counting, tagging allocation; per-thread error records; captured traces.
const ASHookTable& HostHooks();

HookCounters Counters();

// Makes the n-th allocation from now (1 = the next) fail; 0 switches failing off.
void FailAllocationNumber(uint64_t n);

// Trace capture: lines of level <= maxLevel are kept (0 keeps none of the module's lines, whose
// levels run from 1 to 4), or passed to the sink instead when one is set (for example to print
// them).
void CaptureTraces(int32_t maxLevel);
void SetTraceSink(std::function<void(int32_t level, const std::string& line)> sink);
std::vector<std::string> TakeTraces();  // returns and clears the kept lines
// True when a kept line contains `text`.
bool TraceContains(const std::string& text);

}  // namespace host

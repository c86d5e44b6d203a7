// Helpers shared by the benchmarks.
#pragma once

#include <benchmark/benchmark.h>

#include <cstdint>

#include "host/host_hooks.h"

namespace benchsupport {

// Hook allocation accounting around one benchmark run: Start/Stop bracket the timed loop (for the
// per-iteration figure), Finish runs once every object of the run is gone (for the leak check).
class HookAudit {
  public:
    HookAudit() : m_begin(host::Counters()), m_loopBegin(m_begin), m_loopEnd(m_begin) {}

    void Start() { m_loopBegin = host::Counters(); }
    void Stop() { m_loopEnd = host::Counters(); }

    void Finish(benchmark::State& state) {
        const host::HookCounters end = host::Counters();
        state.counters["allocs/iter"] =
            benchmark::Counter(static_cast<double>(m_loopEnd.allocations - m_loopBegin.allocations),
                               benchmark::Counter::kAvgIterations);
        const uint64_t made = end.allocations - m_begin.allocations;
        const uint64_t freed = end.frees - m_begin.frees;
        state.counters["leaked"] = static_cast<double>(made - freed);
        if (made != freed || end.untaggedFrees != m_begin.untaggedFrees) {
            state.SkipWithError("hook blocks leaked or freed twice");
        }
    }

  private:
    host::HookCounters m_begin;
    host::HookCounters m_loopBegin;
    host::HookCounters m_loopEnd;
};

}  // namespace benchsupport

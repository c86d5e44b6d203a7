// CMap and CArray costs. CMap<uint64_t, uint32_t>: inserting and looking up a million random keys
// (fixed seed) at about one key per bucket, present keys in shuffled order, absent keys, and a
// dependent chain of lookups that shows the latency of one lookup on its own. CArray: appending N
// elements to an empty array. Every benchmark reports the hook allocations per iteration and fails
// when it leaves a block behind.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <numeric>
#include <random>
#include <unordered_set>
#include <vector>

#include "common/carray.h"
#include "common/cmap.h"
#include "bench/bench_support.h"
#include "host/host_hooks.h"

namespace {

using Map = ascommon::CMap<uint64_t, uint32_t>;

using benchsupport::HookAudit;

// Time per processed item, printed in seconds with an SI prefix (for example "31.2ns").
benchmark::Counter TimePerItem(uint64_t items) {
    return benchmark::Counter(static_cast<double>(items),
                              benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

constexpr uint64_t kKeyCount = 1000000;

// Distinct random keys drawn from a fixed seed, never repeated between the two sets.
struct KeySets {
    std::vector<uint64_t> present;
    std::vector<uint64_t> absent;
};

const KeySets& Keys() {
    static const KeySets sets = [] {
        KeySets s;
        std::mt19937_64 random(0x6D6F6C766578ull);
        std::unordered_set<uint64_t> seen;
        seen.reserve(2 * kKeyCount);
        auto draw = [&](std::vector<uint64_t>& out) {
            out.reserve(kKeyCount);
            while (out.size() < kKeyCount) {
                const uint64_t key = random();
                if (seen.insert(key).second) out.push_back(key);
            }
        };
        draw(s.present);
        draw(s.absent);
        return s;
    }();
    return sets;
}

// A shuffled permutation of 0..n-1, fixed seed.
std::vector<uint32_t> Shuffled(uint64_t n) {
    std::vector<uint32_t> order(n);
    std::iota(order.begin(), order.end(), 0u);
    std::shuffle(order.begin(), order.end(), std::mt19937_64(20240601));
    return order;
}

// murmur3's 64-bit finalizer folded to 32 bits: a comparison point for the default hash.
uint32_t MixHash(const uint64_t& key) {
    uint64_t h = key;
    h ^= h >> 33;
    h *= 0xFF51AFD7ED558CCDull;
    h ^= h >> 33;
    h *= 0xC4CEB9FE1A85EC53ull;
    h ^= h >> 33;
    return static_cast<uint32_t>(h);
}

// Map shape after filling: share of empty buckets, longest chain, and the mean number of nodes a
// successful lookup visits (1.5 for a perfectly random hash at one key per bucket).
void ReportChains(const Map& map, benchmark::State& state) {
    uint64_t empty = 0, longest = 0, visits = 0;
    for (uint32_t b = 0; b < map.bucket_count(); ++b) {
        uint64_t length = 0;
        for (const Map::Node* n = map.head(b); n; n = n->next) ++length;
        if (length == 0) ++empty;
        longest = std::max(longest, length);
        visits += length * (length + 1) / 2;
    }
    state.counters["empty%"] = 100.0 * static_cast<double>(empty) / map.bucket_count();
    state.counters["max_chain"] = static_cast<double>(longest);
    state.counters["visits/hit"] = static_cast<double>(visits) / map.size();
}

// ---- CMap insert ----------------------------------------------------------------------------

// range(0) keys into a map rehashed to range(1) buckets; map set-up and tear-down are not timed.
void BM_CMapInsert(benchmark::State& state) {
    HookAudit audit;
    const std::vector<uint64_t>& keys = Keys().present;
    const uint64_t count = static_cast<uint64_t>(state.range(0));
    const uint32_t buckets = static_cast<uint32_t>(state.range(1));
    uint64_t failures = 0;
    audit.Start();
    for (auto _ : state) {
        state.PauseTiming();
        Map* map = new Map();
        map->rehash(buckets);
        state.ResumeTiming();
        for (uint64_t i = 0; i < count; ++i) {
            failures += map->insert(keys[i], static_cast<uint32_t>(i)) != 0;
        }
        state.PauseTiming();
        delete map;
        state.ResumeTiming();
    }
    audit.Stop();
    const uint64_t items = static_cast<uint64_t>(state.iterations()) * count;
    state.SetItemsProcessed(static_cast<int64_t>(items));
    state.counters["time/insert"] = TimePerItem(items);
    audit.Finish(state);
    if (failures != 0) state.SkipWithError("insert failed");
}
BENCHMARK(BM_CMapInsert)
    ->Args({kKeyCount, 1 << 20})
    ->Args({kKeyCount, 1000003})
    ->Unit(benchmark::kMillisecond);

// ---- CMap lookup ----------------------------------------------------------------------------

enum class Probe { kPresent, kAbsent, kChain };

// Fills a map of range(1) buckets with the first range(0) keys, then times passes over range(0)
// lookups. kPresent and kAbsent probe in a fixed shuffled order with independent lookups (the
// processor may overlap them); kChain makes each lookup's key depend on the previous value, so
// it shows one lookup's full latency (plus the read of the next key from the 8 MB key table).
void RunLookup(benchmark::State& state, Map::HashFunction hash, Probe probe) {
    HookAudit audit;
    {
        const KeySets& sets = Keys();
        const uint64_t count = static_cast<uint64_t>(state.range(0));
        const uint32_t buckets = static_cast<uint32_t>(state.range(1));
        const std::vector<uint32_t> order = Shuffled(count);

        Map map(hash);
        map.rehash(buckets);
        // Key i maps to i; for kChain, to the index of the key visited after it, which makes the
        // visits one cycle through every key. Keys go in in index order and are probed shuffled,
        // so nodes are not met in allocation order.
        std::vector<uint32_t> successor(count);
        for (uint64_t k = 0; k < count; ++k) successor[order[k]] = order[(k + 1) % count];
        for (uint64_t i = 0; i < count; ++i) {
            const uint32_t value = probe == Probe::kChain ? successor[i] : static_cast<uint32_t>(i);
            if (map.insert(sets.present[i], value) != 0) {
                state.SkipWithError("insert failed");
                break;
            }
        }
        ReportChains(map, state);

        // Probe keys gathered in visiting order, so the benchmark's own reads stay sequential.
        std::vector<uint64_t> probes(count);
        for (uint64_t k = 0; k < count; ++k) {
            probes[k] = probe == Probe::kAbsent ? sets.absent[order[k]] : sets.present[order[k]];
        }
        // Present keys: the values sum to 0 + 1 + ... + count-1. Absent keys: nothing is found.
        const uint64_t expected = probe == Probe::kPresent ? count * (count - 1) / 2 : 0;

        bool wrong = false;
        audit.Start();
        for (auto _ : state) {
            uint64_t sum = 0;
            if (probe == Probe::kChain) {
                uint32_t next = order[0];
                for (uint64_t k = 0; k < count; ++k) {
                    const uint32_t* value = map.lookup(sets.present[next]);
                    next = *value;
                }
                sum = next == order[0] ? 0 : 1;
            } else {
                uint64_t found = 0;
                for (uint64_t key : probes) {
                    const uint32_t* value = map.lookup(key);
                    if (value) {
                        sum += *value;
                        ++found;
                    }
                }
                wrong |= found != (probe == Probe::kPresent ? count : 0);
            }
            benchmark::DoNotOptimize(sum);
            wrong |= sum != expected;
        }
        audit.Stop();
        const uint64_t items = static_cast<uint64_t>(state.iterations()) * count;
        state.SetItemsProcessed(static_cast<int64_t>(items));
        state.counters["time/lookup"] = TimePerItem(items);
        if (wrong) state.SkipWithError("lookup returned a wrong value");
    }
    audit.Finish(state);
}

void BM_CMapLookupHit(benchmark::State& state) {
    RunLookup(state, nullptr, Probe::kPresent);
}
void BM_CMapLookupMiss(benchmark::State& state) {
    RunLookup(state, nullptr, Probe::kAbsent);
}
void BM_CMapLookupChain(benchmark::State& state) {
    RunLookup(state, nullptr, Probe::kChain);
}
void BM_CMapLookupHitMixHash(benchmark::State& state) {
    RunLookup(state, MixHash, Probe::kPresent);
}
void BM_CMapLookupMissMixHash(benchmark::State& state) {
    RunLookup(state, MixHash, Probe::kAbsent);
}

BENCHMARK(BM_CMapLookupHit)
    ->Args({kKeyCount, 1 << 20})
    ->Args({kKeyCount, 1000003})
    ->Args({4096, 4096})  // cache-resident: the arithmetic alone
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CMapLookupMiss)
    ->Args({kKeyCount, 1 << 20})
    ->Args({kKeyCount, 1000003})
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CMapLookupChain)->Args({kKeyCount, 1 << 20})->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CMapLookupHitMixHash)
    ->Args({kKeyCount, 1 << 20})
    ->Args({4096, 4096})
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CMapLookupMissMixHash)->Args({kKeyCount, 1 << 20})->Unit(benchmark::kMillisecond);

// ---- CArray add -----------------------------------------------------------------------------

template <class T>
T Element(uint64_t i);
template <>
void* Element<void*>(uint64_t i) {
    return reinterpret_cast<void*>(static_cast<uintptr_t>(i));
}
template <>
uint64_t Element<uint64_t>(uint64_t i) {
    return i;
}

// range(0) adds to an empty CArray<T, 64>, and its release; storage grows 64 elements at a time.
template <class T>
void BM_CArrayAdd(benchmark::State& state) {
    HookAudit audit;
    const uint64_t count = static_cast<uint64_t>(state.range(0));
    uint64_t failures = 0;
    audit.Start();
    for (auto _ : state) {
        ascommon::CArray<T, 64> array;
        for (uint64_t i = 0; i < count; ++i) failures += array.add(Element<T>(i)) != 0;
        benchmark::DoNotOptimize(array.data());
    }
    audit.Stop();
    const uint64_t items = static_cast<uint64_t>(state.iterations()) * count;
    state.SetItemsProcessed(static_cast<int64_t>(items));
    state.counters["time/add"] = TimePerItem(items);
    audit.Finish(state);
    if (failures != 0) state.SkipWithError("add failed");
}
BENCHMARK_TEMPLATE(BM_CArrayAdd, void*)
    ->Arg(64)
    ->Arg(4096)
    ->Arg(kKeyCount)
    ->Unit(benchmark::kMicrosecond);
BENCHMARK_TEMPLATE(BM_CArrayAdd, uint64_t)
    ->Arg(64)
    ->Arg(4096)
    ->Arg(kKeyCount)
    ->Unit(benchmark::kMicrosecond);

}  // namespace

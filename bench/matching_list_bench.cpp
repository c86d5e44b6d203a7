// CMatchingList costs. The wildcard matcher on its worst inputs: 127 "*" separated by single
// letters against a 4 KB address that almost fits (the recursive definition would try more runs
// than can be counted), the same pattern fitting, and a 128-star pattern (refused after counting).
// Match through the list: a hit and a miss among 100,000 exact expressions, and a miss across 100
// wildcard expressions. Every benchmark reports the hook allocations per iteration and fails when
// it leaves a block behind.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <numeric>
#include <random>
#include <string>
#include <vector>

#include "engines/matchinglist/MatchingList.h"
#include "glyphkit/glyphkitlib.h"
#include "bench/bench_support.h"
#include "host/host_hooks.h"

namespace {

using ascommon::CMatchingList;
using ascommon::sstring;

using benchsupport::HookAudit;

// Time per processed item, printed in seconds with an SI prefix (for example "31.2ns").
benchmark::Counter TimePerItem(uint64_t items) {
    return benchmark::Counter(static_cast<double>(items),
                              benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

// A list initialised with stand-in bindings (never used through the pointers).
struct InitialisedList {
    ascommon::GlyphkitLib unicode;
    CMatchingList list;
    InitialisedList() { list.Init(&unicode, reinterpret_cast<ascommon::RexkitLib*>(&unicode)); }
};

// ---- The wildcard matcher's worst inputs ----------------------------------------------------

constexpr size_t kAddressSize = 4096;
const char kDomain[] = "@example.com";

// 4 KB of "ab" pairs, then the domain.
std::string LongAddress() {
    std::string text;
    while (text.size() + sizeof kDomain - 1 < kAddressSize) text += "ab";
    text.resize(kAddressSize - (sizeof kDomain - 1), 'a');
    return text + kDomain;
}

// `stars` "*", each followed by one letter ("a" and "b" in turn), the last by `last` instead.
std::string StarPattern(int stars, const std::string& last) {
    std::string pattern;
    for (int i = 0; i < stars - 1; ++i) pattern += i % 2 == 0 ? "*a" : "*b";
    return pattern + "*" + last;
}

// range(0) stars; `last` ends the pattern; `fits` is the expected answer.
void RunWildcard(benchmark::State& state, const std::string& last, bool fits) {
    HookAudit audit;
    const std::string text = LongAddress();
    const std::string pattern = StarPattern(static_cast<int>(state.range(0)), last);
    bool wrong = false;
    audit.Start();
    for (auto _ : state) {
        const bool answer = CMatchingList::MatchWildcard(text.c_str(), pattern.c_str());
        benchmark::DoNotOptimize(answer);
        wrong |= answer != fits;
    }
    audit.Stop();
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
    audit.Finish(state);
    if (wrong) state.SkipWithError("wrong answer");
}

// Ends in ".con": every letter finds its place, the last byte never does.
void BM_WildcardAlmostFits(benchmark::State& state) {
    RunWildcard(state, "@example.con", false);
}
// Ends in ".com": fits.
void BM_WildcardFits(benchmark::State& state) {
    RunWildcard(state, "@example.com", true);
}
// 128 stars: would fit, but the count alone refuses it.
void BM_WildcardTooManyStars(benchmark::State& state) {
    RunWildcard(state, "@example.com", false);
}
BENCHMARK(BM_WildcardAlmostFits)->Arg(127)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_WildcardFits)->Arg(127)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_WildcardTooManyStars)->Arg(128)->Unit(benchmark::kMicrosecond);

// ---- Match through the list -----------------------------------------------------------------

constexpr int kExactCount = 100000;

std::string ExactAddress(int i) {
    return "User" + std::to_string(i) + "@Domain" + std::to_string(i % 997) + ".Example.com";
}

// kExactCount exact expressions; probes present (hit) or absent (miss) addresses, in a fixed
// shuffled order, one Match per item.
void RunExact(benchmark::State& state, bool hit) {
    HookAudit audit;
    {
        InitialisedList l;
        for (int i = 0; i < kExactCount; ++i) {
            if (l.list.Add(ExactAddress(i).c_str(), ascommon::kExact) != 0) {
                state.SkipWithError("add failed");
                break;
            }
        }
        std::vector<int> order(kExactCount);
        std::iota(order.begin(), order.end(), 0);
        std::shuffle(order.begin(), order.end(), std::mt19937(20240611));
        std::vector<sstring> probes;
        probes.reserve(kExactCount);
        for (int i : order) {
            probes.emplace_back((hit ? ExactAddress(i) : ExactAddress(i) + ".invalid").c_str());
        }
        state.counters["buckets"] = l.list.Exact().bucket_count();

        sstring matched;
        uint64_t found = 0;
        audit.Start();
        for (auto _ : state) {
            for (const sstring& probe : probes) found += l.list.Match(probe, matched);
        }
        audit.Stop();
        const uint64_t items = static_cast<uint64_t>(state.iterations()) * kExactCount;
        state.SetItemsProcessed(static_cast<int64_t>(items));
        state.counters["time/match"] = TimePerItem(items);
        if (found != (hit ? items : 0)) state.SkipWithError("wrong answer");
    }
    audit.Finish(state);
}

void BM_MatchExactHit(benchmark::State& state) {
    RunExact(state, true);
}
void BM_MatchExactMiss(benchmark::State& state) {
    RunExact(state, false);
}
BENCHMARK(BM_MatchExactHit)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_MatchExactMiss)->Unit(benchmark::kMillisecond);

// 100 wildcard expressions of the usual shapes, none of which the address fits: every Match
// tries them all.
void BM_MatchWildcardMiss(benchmark::State& state) {
    HookAudit audit;
    {
        InitialisedList l;
        for (int i = 0; i < 100; ++i) {
            const std::string n = std::to_string(i);
            const std::string shapes[] = {"*@Bulk" + n + ".Example.net", "*.promo" + n + "@*",
                                          "news?" + n + "*@*.example.org", "*@mail" + n + ".*"};
            if (l.list.Add(shapes[i % 4].c_str(), ascommon::kWildcard) != 0) {
                state.SkipWithError("add failed");
            }
        }
        const sstring text("Someone.Ordinary@Post.Example.org");
        sstring matched;
        bool wrong = false;
        audit.Start();
        for (auto _ : state) wrong |= l.list.Match(text, matched);
        audit.Stop();
        state.counters["time/pattern"] =
            TimePerItem(static_cast<uint64_t>(state.iterations()) * l.list.WildcardCount());
        if (wrong) state.SkipWithError("wrong answer");
    }
    audit.Finish(state);
}
BENCHMARK(BM_MatchWildcardMiss)->Unit(benchmark::kMicrosecond);

}  // namespace

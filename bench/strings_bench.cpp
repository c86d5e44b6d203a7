// sstring costs: construction from a C string and by copy, inline (text + NUL under 24 bytes)
// and on the heap, and building a text by appends. Every benchmark reports the hook allocations
// per iteration ("allocs/iter") and fails when it leaves a block behind.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <string>

#include "common/sstring.h"
#include "bench/bench_support.h"
#include "host/host_hooks.h"

namespace {

using ascommon::sstring;

using benchsupport::HookAudit;

std::string Text(int64_t length) {
    std::string text;
    for (int64_t i = 0; i < length; ++i) text.push_back(static_cast<char>('a' + i % 26));
    return text;
}

// Construction (and destruction) from a C string of range(0) characters.
void BM_SstringFromCString(benchmark::State& state) {
    HookAudit audit;
    const std::string text = Text(state.range(0));
    const char* source = text.c_str();
    audit.Start();
    for (auto _ : state) {
        sstring s(source);
        benchmark::DoNotOptimize(s);
    }
    audit.Stop();
    audit.Finish(state);
}
BENCHMARK(BM_SstringFromCString)->Arg(10)->Arg(22)->Arg(23)->Arg(100);

// Copy construction (and destruction) of a string of range(0) characters.
void BM_SstringCopy(benchmark::State& state) {
    HookAudit audit;
    {
        const sstring source(Text(state.range(0)).c_str());
        audit.Start();
        for (auto _ : state) {
            sstring s(source);
            benchmark::DoNotOptimize(s);
        }
        audit.Stop();
    }
    audit.Finish(state);
}
BENCHMARK(BM_SstringCopy)->Arg(10)->Arg(22)->Arg(23)->Arg(100);

// Builds a text of range(0) characters from 10-byte pieces, starting from an empty string. Up to
// 22 characters the text stays inline; past that every append reallocates to the exact size.
void BM_SstringAppend(benchmark::State& state) {
    HookAudit audit;
    const std::string piece = Text(10);
    const int64_t pieces = state.range(0) / 10;
    audit.Start();
    for (auto _ : state) {
        sstring s("");
        for (int64_t i = 0; i < pieces; ++i) s.append(piece.data(), piece.size());
        benchmark::DoNotOptimize(s);
    }
    audit.Stop();
    audit.Finish(state);
}
BENCHMARK(BM_SstringAppend)->Arg(20)->Arg(100);

}  // namespace

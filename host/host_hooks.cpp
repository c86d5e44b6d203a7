// The host hook table and the host's binding of the common classes to it.
#include "host/host_hooks.h"

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <new>

#include "common/ashooks_access.h"
#include "common/aserrno.h"

namespace host {

namespace {

constexpr uint64_t kTag = 0x4D4F4C5645584D45ull;  // marks blocks made by these hooks
constexpr size_t kHeader = 16;                    // tag + size, keeps 16-byte alignment

std::atomic<uint64_t> g_allocations{0};
std::atomic<uint64_t> g_frees{0};
std::atomic<uint64_t> g_untagged{0};
std::atomic<uint64_t> g_liveBytes{0};
std::atomic<uint64_t> g_failed{0};
std::atomic<uint64_t> g_failCountdown{0};

std::mutex g_traceMutex;
std::atomic<int32_t> g_traceLevel{0};  // read without the lock: most lines are not wanted
std::vector<std::string> g_traces;
std::function<void(int32_t, const std::string&)> g_sink;

bool ShouldFail() {
    uint64_t left = g_failCountdown.load();
    while (left != 0) {
        if (g_failCountdown.compare_exchange_weak(left, left - 1)) return left == 1;
    }
    return false;
}

void* HostNew(uint64_t size, bool throwOnFailure) {
    void* raw = nullptr;
    if (!ShouldFail() && size <= UINT64_MAX - kHeader) raw = std::malloc(size + kHeader);
    if (raw == nullptr) {
        ++g_failed;
        if (throwOnFailure) throw std::bad_alloc();
        return nullptr;
    }
    uint64_t* header = static_cast<uint64_t*>(raw);
    header[0] = kTag;
    header[1] = size;
    ++g_allocations;
    g_liveBytes += size;
    return static_cast<char*>(raw) + kHeader;
}

void HostDelete(void* block) {
    if (block == nullptr) return;
    uint64_t* header = reinterpret_cast<uint64_t*>(static_cast<char*>(block) - kHeader);
    if (header[0] != kTag) {
        ++g_untagged;  // not ours: leave it alone rather than corrupt the heap
        return;
    }
    header[0] = 0;
    ++g_frees;
    g_liveBytes -= header[1];
    std::free(header);
}

void HostTrace(int32_t level, const char* format, ...) {
    if (level > g_traceLevel.load(std::memory_order_relaxed) || format == nullptr) return;
    char buffer[4096];
    va_list args;
    va_start(args, format);
    std::vsnprintf(buffer, sizeof buffer, format, args);
    va_end(args);
    std::lock_guard<std::mutex> lock(g_traceMutex);
    if (level > g_traceLevel.load(std::memory_order_relaxed)) return;
    if (g_sink) {
        g_sink(level, buffer);  // a sink takes the lines; nothing piles up in long runs
    } else {
        g_traces.emplace_back(buffer);
    }
}

constexpr ASHookTable kHostHooks = {HostNew,
                                    HostDelete,
                                    ascommon::DefaultSetErrMsg,
                                    ascommon::DefaultSetErr,
                                    ascommon::DefaultGetErr,
                                    HostTrace};

}  // namespace

const ASHookTable& HostHooks() {
    return kHostHooks;
}

HookCounters Counters() {
    return HookCounters{g_allocations.load(), g_frees.load(), g_untagged.load(), g_liveBytes.load(),
                        g_failed.load()};
}

void FailAllocationNumber(uint64_t n) {
    g_failCountdown = n;
}

void CaptureTraces(int32_t maxLevel) {
    std::lock_guard<std::mutex> lock(g_traceMutex);
    g_traceLevel = maxLevel;
}

void SetTraceSink(std::function<void(int32_t, const std::string&)> sink) {
    std::lock_guard<std::mutex> lock(g_traceMutex);
    g_sink = std::move(sink);
}

std::vector<std::string> TakeTraces() {
    std::lock_guard<std::mutex> lock(g_traceMutex);
    std::vector<std::string> out;
    out.swap(g_traces);
    return out;
}

bool TraceContains(const std::string& text) {
    std::lock_guard<std::mutex> lock(g_traceMutex);
    for (const std::string& line : g_traces) {
        if (line.find(text) != std::string::npos) return true;
    }
    return false;
}

}  // namespace host

// The host's copy of the common classes allocates and traces through the host table.
namespace ascommon {
ASHookTable installed_hooks = host::kHostHooks;
}

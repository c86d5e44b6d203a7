// URL key costs: the three keys (domain, sub-domain, URL from its host on) of one URL, as the URL
// filter takes them, for a mix of typical URLs and for a few kinds alone. Each iteration makes
// the record forget its keys and takes them again, so the time per iteration is the cost per URL
// ("ns/URL"). Reports the hook allocations per URL ("allocs/iter") and fails on a leak.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <string>
#include <vector>

#include "engines/urlparser/urlparser.h"
#include "bench/bench_support.h"
#include "host/host_hooks.h"
#include "host/message_builder.h"

namespace {

using nsEmlComponents::ParsedURL;

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
        if (end.allocations - m_begin.allocations != end.frees - m_begin.frees) {
            state.SkipWithError("hook blocks leaked");
        }
    }

  private:
    host::HookCounters m_begin;
    host::HookCounters m_loopBegin;
    host::HookCounters m_loopEnd;
};

// Typical URLs of spam and ham: names with and without www, country suffixes, a port, query.
const char* const kTypical[] = {
    "http://www.example.com/index.html",
    "https://www.shop-online.co.uk/cart?item=42&ref=mail",
    "http://click.mailer.example.net/track/abc123",
    "http://bit.ly/3xYzAbC",
    "https://secure.login.bank.com.au/signin",
    "http://WWW.Pharmacy-Deals.BIZ/",
    "http://news.example.org:8080/feed.xml",
    "https://images.cdn.example-content.com/img/header.png",
};

std::vector<ParsedURL> Records(const std::vector<std::string>& urls) {
    std::vector<ParsedURL> records(urls.size());
    for (size_t i = 0; i < urls.size(); ++i) host::FillParsedURL(urls[i], &records[i]);
    return records;
}

// The filter's sequence: domain, sub-domain, then the URL key (copied into an sstring when
// `copyUrl`, else taken in place).
void RunKeys(benchmark::State& state, const std::vector<std::string>& urls, bool copyUrl) {
    HookAudit audit;
    {
        std::vector<ParsedURL> records = Records(urls);
        size_t next = 0;
        audit.Start();
        for (auto _ : state) {
            ParsedURL& r = records[next];
            next = next + 1 == records.size() ? 0 : next + 1;
            r.m_subDomain = "";  // computed again on every round
            r.m_domain = "";
            r.m_decodedHost = "";
            benchmark::DoNotOptimize(nsEmlComponents::GetDomain(r).c_str());
            benchmark::DoNotOptimize(nsEmlComponents::GetSubDomain(r).c_str());
            if (copyUrl) {
                ascommon::sstring key = nsEmlComponents::GetUrlFromHost(r);
                benchmark::DoNotOptimize(key.c_str());
            } else {
                uint64_t length = 0;
                benchmark::DoNotOptimize(nsEmlComponents::UrlFromHost(r, &length));
            }
        }
        audit.Stop();
    }
    audit.Finish(state);
    state.SetItemsProcessed(state.iterations());
}

void BM_UrlKeysTypical(benchmark::State& state) {
    RunKeys(state, std::vector<std::string>(std::begin(kTypical), std::end(kTypical)), false);
}
BENCHMARK(BM_UrlKeysTypical);

void BM_UrlKeysTypicalCopyUrl(benchmark::State& state) {
    RunKeys(state, std::vector<std::string>(std::begin(kTypical), std::end(kTypical)), true);
}
BENCHMARK(BM_UrlKeysTypicalCopyUrl);

void BM_UrlKeysOne(benchmark::State& state, const char* url) {
    RunKeys(state, {url}, false);
}
BENCHMARK_CAPTURE(BM_UrlKeysOne, www_co_uk, "http://www.shop-online.co.uk/cart?item=42");
BENCHMARK_CAPTURE(BM_UrlKeysOne, ipv4, "http://192.168.10.20:8080/admin");
BENCHMARK_CAPTURE(BM_UrlKeysOne, percent_escaped, "http://%77%77%77.%65xample.com/x");
BENCHMARK_CAPTURE(BM_UrlKeysOne, non_ascii,
                  "http://www.b\xC3\xBC"
                  "cher.de/");
BENCHMARK_CAPTURE(BM_UrlKeysOne, long_host,
                  "http://a1.b2.c3.d4.e5.f6.g7.h8.i9.j10.k11.l12.m13.example.com/");

// The suffix lookup alone, a hit and a miss.
void BM_SuffixLookup(benchmark::State& state) {
    const char* const tails[] = {".co.uk", ".example.com", ".com.au", ".bank.de"};
    size_t next = 0;
    for (auto _ : state) {
        const char* tail = tails[next];
        next = (next + 1) & 3;
        benchmark::DoNotOptimize(
            nsEmlComponents::IsRegistrationSuffix(tail, std::char_traits<char>::length(tail)));
    }
}
BENCHMARK(BM_SuffixLookup);

}  // namespace

// The multipurpose filter's verbs through the loaded module, on a typical message (a few KB:
// two text/plain parts, one HTML part) and GTUBE on a 1 MB part. Message building is not timed.
#include <benchmark/benchmark.h>

#include <memory>
#include <string>

#include "host/host_hooks.h"
#include "host/message_builder.h"
#include "host/module_host.h"
#include "host/settings_store.h"

namespace {

void NoTrace(int32_t, const char*, ...) {}

// One loaded module with one configured session, shared by all benchmarks.
struct Fixture {
    host::ModuleLibrary library;
    host::SettingsStore settings;
    CAFilter* filter = nullptr;

    Fixture() {
        if (!library.Open(host::DefaultModulePath())) return;
        static ASHookTable hooks = host::HostHooks();
        hooks._as_trace = NoTrace;
        CAClassFactory* factory = library.GetClassFactory(&hooks);
        filter = static_cast<CAFilter*>(factory->CreateModule(2));
        filter->m_settings = &settings;
        settings.SetInt("/eml/filter/multi/SexuallyExplicit", 1);
        settings.SetInt("/eml/filter/multi/AsianCharsets", 1);
        settings.SetInt("/eml/filter/multi/CyrilicCharsets", 1);
        settings.SetInt("/eml/filter/multi/MaxFileSize", 1 << 20);
        host::OpenSession(filter, 1);
    }
};

Fixture& Shared() {
    static Fixture fixture;
    return fixture;
}

std::string Paragraphs(size_t bytes) {
    const std::string sentence =
        "The quick brown fox jumps over the lazy dog near the river bank. ";
    std::string text;
    while (text.size() < bytes) text += sentence;
    return text;
}

std::unique_ptr<host::Message> TypicalMessage() {
    const std::string stats =
        "{\"Total\": 3000, \"Groups\": {\"European\": 2900, \"Other\": 100}, "
        "\"Scripts\": {\"Latin\": 2900}}";
    return host::MessageBuilder()
        .Subject("Quarterly report", "utf-8")
        .ContentType("multipart/alternative", nullptr)
        .From({"alice@example.com"})
        .To({"bob@example.org"})
        .TextPart(Paragraphs(1500))
        .TextPart(Paragraphs(800))
        .HtmlPart("<html><body><p>" + Paragraphs(1200) + "</p></body></html>")
        .Size(4200)
        .Statistics(stats)
        .Build();
}

void BM_Verb(benchmark::State& state) {
    Fixture& f = Shared();
    if (f.filter == nullptr) {
        state.SkipWithError("module not loaded");
        return;
    }
    auto message = TypicalMessage();
    ASEntity entity = {nullptr, nullptr, &message->blackbox(), nullptr};
    const uint32_t verb = static_cast<uint32_t>(state.range(0));
    for (auto _ : state) {
        benchmark::DoNotOptimize(f.filter->ProcessEntity(1, &entity, verb));
    }
}
BENCHMARK(BM_Verb)->DenseRange(1804, 1809)->ArgName("verb");

void BM_GtubeLargePart(benchmark::State& state) {
    Fixture& f = Shared();
    if (f.filter == nullptr) {
        state.SkipWithError("module not loaded");
        return;
    }
    auto message = host::MessageBuilder().TextPart(Paragraphs(1 << 20)).Build();
    ASEntity entity = {nullptr, nullptr, &message->blackbox(), nullptr};
    for (auto _ : state) {
        benchmark::DoNotOptimize(f.filter->ProcessEntity(1, &entity, 1804));
    }
    state.SetBytesProcessed(state.iterations() * (int64_t{1} << 20));
}
BENCHMARK(BM_GtubeLargePart);

}  // namespace

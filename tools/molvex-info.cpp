// molvex-info: loads the module as a host does (dlopen, GetClassFactory with the host's hooks),
// prints its version and module types, creates one module of each type and releases them all,
// printing the module's trace lines as they come.
//
//   molvex-info [--library PATH] [--level N]
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <string>

#include "host/host_hooks.h"
#include "host/module_host.h"
#include "host/settings_store.h"

namespace {

int Usage() {
    std::fprintf(stderr, "usage: molvex-info [--library PATH] [--level 1-4]\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    std::string path = host::DefaultModulePath();
    int level = 4;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--library") == 0 && i + 1 < argc) {
            path = argv[++i];
        } else if (std::strcmp(argv[i], "--level") == 0 && i + 1 < argc) {
            level = std::atoi(argv[++i]);
        } else {
            return Usage();
        }
    }

    host::ModuleLibrary library;
    if (!library.Open(path)) {
        std::fprintf(stderr, "molvex-info: %s\n", library.error().c_str());
        return 1;
    }
    host::CaptureTraces(level);
    host::SetTraceSink([](int32_t, const std::string& line) { std::fputs(line.c_str(), stdout); });

    uint32_t version[4] = {0, 0, 0, 0};
    library.GetASVersion(version);
    std::printf("module:  %s\nversion: %u.%u.%u.%u\n", path.c_str(), version[0], version[1],
                version[2], version[3]);

    CAClassFactory* factory = library.GetClassFactory(&host::HostHooks());
    if (factory == nullptr) {
        std::fprintf(stderr, "molvex-info: the module could not create its class factory\n");
        return 1;
    }
    host::SettingsStore settings;
    try {
        const uint64_t count = factory->GetModuleCount();
        std::printf("module types: %llu\n", static_cast<unsigned long long>(count));
        for (uint64_t i = 0; i < count; ++i) {
            std::printf("  [%llu] %s\n", static_cast<unsigned long long>(i),
                        factory->GetModuleName(i)->c_str());
        }
        for (uint64_t i = 0; i < count; ++i) {
            CAModule* module = factory->CreateModule(i);
            module->m_settings = &settings;
            std::printf("created [%s]: enabled %s, shared data %s\n", module->m_name.c_str(),
                        module->IsEnabled(1) ? "yes" : "no",
                        module->m_sharedDataReady ? "ready" : "missing");
        }
    } catch (const std::exception& e) {
        std::fprintf(stderr, "molvex-info: %s\n", e.what());
        library.ReleaseClassFactory();
        return 1;
    }
    std::printf("releasing the class factory\n");
    library.ReleaseClassFactory();
    host::SetTraceSink(nullptr);

    const host::HookCounters c = host::Counters();
    std::printf("allocations %llu, frees %llu, live bytes %llu\n",
                static_cast<unsigned long long>(c.allocations),
                static_cast<unsigned long long>(c.frees),
                static_cast<unsigned long long>(c.liveBytes));
    return c.untaggedFrees == 0 ? 0 : 1;
}

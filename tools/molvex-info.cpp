// molvex-info: loads the module as a host does (dlopen, GetClassFactory with the host's hooks),
// prints its version and module types, creates one module of each type and releases them all,
// printing the module's trace lines as they come.
//
//   molvex-info [--library PATH] [--level N] [--help] [--version]
#include <getopt.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <string>

#include "host/cli.h"
#include "host/host_hooks.h"
#include "host/module_host.h"
#include "host/settings_store.h"

namespace {

const char kUsage[] =
    "usage: molvex-info [--library PATH] [--level N]\n"
    "Loads the module as a host does, prints its version and module types, creates one module\n"
    "of each type and releases them, printing the module's trace lines.\n"
    "  -l, --library PATH  the module (default: the one installed or built with this tool)\n"
    "  -L, --level N       trace lines up to level N, 0 to 4 (default 4)\n"
    "  -h, --help          this text\n"
    "      --version       the version\n";

int Usage(const std::string& problem) {
    return host::UsageError("molvex-info", problem);
}

}  // namespace

int main(int argc, char** argv) {
    std::string path = host::DefaultModulePath();
    int64_t level = 4;
    static const option kLong[] = {{"library", required_argument, nullptr, 'l'},
                                   {"level", required_argument, nullptr, 'L'},
                                   {"help", no_argument, nullptr, 'h'},
                                   {"version", no_argument, nullptr, 'V'},
                                   {nullptr, 0, nullptr, 0}};
    opterr = 0;
    for (int c; (c = getopt_long(argc, argv, ":l:L:h", kLong, nullptr)) != -1;) {
        switch (c) {
            case 'l':
                path = optarg;
                break;
            case 'L':
                if (!host::ParseInteger(optarg, 0, 4, &level))
                    return Usage(std::string("--level takes 0 to 4, not '") + optarg + "'");
                break;
            case 'h':
                std::fputs(kUsage, stdout);
                return 0;
            case 'V':
                host::PrintVersion("molvex-info");
                return 0;
            default:
                return host::OptionError("molvex-info", c, argv);
        }
    }
    if (optind < argc) return Usage(std::string("unexpected argument ") + argv[optind]);

    host::ModuleLibrary library;
    if (!library.Open(path)) {
        std::fprintf(stderr, "molvex-info: %s\n", library.error().c_str());
        return 1;
    }
    host::CaptureTraces(static_cast<int32_t>(level));
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

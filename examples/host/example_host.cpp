// example-host: loads the Molvex module with the host-side classes of Molvex::host, creates its
// class factory with the host's hooks and prints the module's version and module types.
//
//   example-host [MODULE]     (default: the module of the Molvex installation built against)
#include <cstdio>

#include "host/host_hooks.h"
#include "host/module_host.h"

int main(int argc, char** argv) {
    const char* path = argc > 1 ? argv[1] : EXAMPLE_MODULE;
    host::ModuleLibrary library;
    if (!library.Open(path)) {
        std::fprintf(stderr, "example-host: %s\n", library.error().c_str());
        return 1;
    }
    uint32_t version[4] = {0, 0, 0, 0};
    library.GetASVersion(version);
    std::printf("Molvex %u.%u.%u.%u from %s\n", version[0], version[1], version[2], version[3],
                path);
    CAClassFactory* factory = library.GetClassFactory(&host::HostHooks());
    if (factory == nullptr) {
        std::fprintf(stderr, "example-host: the module could not create its class factory\n");
        return 1;
    }
    for (uint64_t i = 0; i < factory->GetModuleCount(); ++i)
        std::printf("module type %llu: %s\n", static_cast<unsigned long long>(i),
                    factory->GetModuleName(i)->c_str());
    library.ReleaseClassFactory();
    return 0;
}

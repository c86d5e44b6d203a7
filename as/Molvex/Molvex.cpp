// The module's entry points and its class factory with the three filter types. The entry points
// are called by one host thread while no other thread uses the module.
#include "as/Molvex/Molvex.h"

#include <new>

#include "as/Molvex/bwfilter/bwfilter.h"
#include "as/Molvex/multipurposefilter/eml_multipurpose.h"
#include "as/Molvex/urlfilter/urlfilter.h"
#include "common/ashooks_access.h"
#include "common/trace.h"

namespace ascommon {
extern const ASHookTable kDefaultHooks;
}

namespace {

// The module type names, in factory index order.
const char kBWFilterName[] = "Eml Blacklist/Whitelist Filter";
const char kURLFilterName[] = "Eml URL Filter";
const char kMultiFilterName[] = "Eml Multipurpose Filter";

class CMolvexClassFactory : public CClassFactory {
  public:
    CMolvexClassFactory() {
        try {
            AddType(new TAllocator<nsEmlModules::CBWFilter>(kBWFilterName));
            AddType(new TAllocator<nsEmlModules::CURLFilter>(kURLFilterName));
            AddType(new TAllocator<nsEmlModules::CMultiFilter>(kMultiFilterName));
        } catch (...) {
            ReleaseAllocators();
            throw;
        }
    }

    ~CMolvexClassFactory() override { AS_TRACE(4, "Releasing CMolvexClassFactory"); }

  private:
    void AddType(CBasicAllocator* allocator) {
        if (m_allocators.add(allocator) != 0) {
            delete allocator;
            throw std::bad_alloc();
        }
    }

    void ReleaseAllocators() {
        for (uint64_t i = 0; i < m_allocators.size(); ++i) delete m_allocators.data()[i];
        m_allocators.clear();
    }
};

CAClassFactory* g_factory = nullptr;
ASHookTable g_savedHooks = {nullptr, nullptr, nullptr, nullptr, nullptr, nullptr};

// A host table with a missing entry keeps the module's default for that hook.
ASHookTable CompleteTable(const ASHookTable& given) {
    const ASHookTable& d = ascommon::kDefaultHooks;
    return ASHookTable{given._as_new ? given._as_new : d._as_new,
                       given._as_delete ? given._as_delete : d._as_delete,
                       given._as_set_err_msg ? given._as_set_err_msg : d._as_set_err_msg,
                       given._as_set_err ? given._as_set_err : d._as_set_err,
                       given._as_get_err ? given._as_get_err : d._as_get_err,
                       given._as_trace ? given._as_trace : d._as_trace};
}

}  // namespace

extern "C" MOLVEX_EXPORT CAClassFactory* GetClassFactory(const ASHookTable* hooks) {
    g_savedHooks = ascommon::installed_hooks;
    ascommon::installed_hooks = CompleteTable(hooks ? *hooks : ascommon::kDefaultHooks);
    if (g_factory != nullptr) return g_factory;
    // A factory that cannot be built whole (an allocator or its name could not be allocated) is
    // not built at all: the host gets null, as for the factory object itself, and may try again.
    // No exception crosses the C entry point.
    try {
        g_factory = new (std::nothrow) CMolvexClassFactory();
    } catch (const std::exception&) {
        g_factory = nullptr;
    }
    return g_factory;
}

extern "C" MOLVEX_EXPORT int32_t ReleaseClassFactory() {
    if (g_factory != nullptr) delete g_factory;
    g_factory = nullptr;
    // Before any GetClassFactory nothing was saved: the module's defaults stay.
    if (g_savedHooks._as_new != nullptr) ascommon::installed_hooks = g_savedHooks;
    return 0;
}

extern "C" MOLVEX_EXPORT void GetASVersion(uint32_t* version) {
    if (version == nullptr) return;
    version[0] = 2;
    version[1] = 21;
    version[2] = 1;
    version[3] = 1625;
}

// CClassFactory: module types by index, module creation and release of everything it made.
#include "class_factory.h"

#include <new>

#include "common/ashooks_access.h"
#include "common/asexception.h"

void ReportSharedDataFailure() {
    ascommon::installed_hooks._as_set_err(
        -102, "Memory error while trying to allocate a new Shared data structure");
}

CClassFactory::~CClassFactory() {
    for (uint64_t i = 0; i < m_modules.size(); ++i) {
        CAModule* module = m_modules.data()[i];
        if (module == nullptr) continue;
        try {
            module->ReleaseModule();
        } catch (const std::exception& e) {
            // Only a locker already marked for deletion gets here; the module goes all the same.
            ascommon::installed_hooks._as_set_err(-104, "%s", e.what());
        }
        delete module;
    }
    for (uint64_t i = 0; i < m_allocators.size(); ++i) {
        delete m_allocators.data()[i];
    }
    m_modules.clear();
    m_allocators.clear();
}

uint64_t CClassFactory::GetModuleCount() {
    return m_allocators.data() != nullptr ? m_allocators.size() : 0;
}

const ascommon::sstring* CClassFactory::GetModuleName(uint64_t index) {
    if (index >= GetModuleCount()) throw ascommon::InvalidIndexException();
    return m_allocators.data()[index]->GetName();
}

CAModule* CClassFactory::CreateModule(uint64_t index) {
    if (index >= GetModuleCount()) throw ascommon::InvalidIndexException();
    // Room for the new module first: every module handed out is recorded, and so released with
    // the factory. Without that room no module is made, as when the module itself cannot be
    // allocated.
    if (m_modules.resize(m_modules.size() + 1, false) != 0) throw std::bad_alloc();
    CAModule* module = m_allocators.data()[index]->Create();
    m_modules.add(module);  // cannot fail: the room is there
    return module;
}

// ModuleLibrary and the session helpers.
#include "host/module_host.h"

#include "common/platform.h"
#include "host/install_layout.h"

namespace host {

bool ModuleLibrary::Open(const std::string& path) {
    Close();
    // The module links its own C++ runtime, which keeps an exception-handling pool for the life
    // of the process: keep the image mapped after Close so that pool stays owned.
    m_library = platform::OpenLibrary(path.c_str(), true);
    if (m_library == nullptr) {
        char text[1024];
        platform::LibraryError(text, sizeof text);
        m_error = "cannot load " + path + ": " + text;
        return false;
    }
    GetClassFactory =
        reinterpret_cast<GetClassFactoryFn>(platform::LibrarySymbol(m_library, "GetClassFactory"));
    ReleaseClassFactory = reinterpret_cast<ReleaseClassFactoryFn>(
        platform::LibrarySymbol(m_library, "ReleaseClassFactory"));
    GetASVersion =
        reinterpret_cast<GetASVersionFn>(platform::LibrarySymbol(m_library, "GetASVersion"));
    if (!GetClassFactory || !ReleaseClassFactory || !GetASVersion) {
        m_error = path + " does not export GetClassFactory, ReleaseClassFactory and GetASVersion";
        Close();
        return false;
    }
    m_error.clear();
    return true;
}

void ModuleLibrary::Close() {
    if (m_library) platform::CloseLibrary(m_library);
    m_library = nullptr;
    GetClassFactory = nullptr;
    ReleaseClassFactory = nullptr;
    GetASVersion = nullptr;
}

std::string DefaultModulePath() {
    return FindInstallLayout().module;
}

int32_t OpenSession(CAModule* module, uint64_t session) {
    void* data = module->CreateSessionData();
    if (data == nullptr) return ascommon::kErrMemory;
    if (module->m_sessions.insert(session, nobjSessionInfo{data, false}) != 0) {
        module->DestroySessionData(data);
        return ascommon::kErrMemory;
    }
    return module->ApplySessionSettings(session);
}

bool CloseSession(CAModule* module, uint64_t session) {
    nobjSessionInfo* info = module->m_sessions.lookup(session);
    if (info == nullptr) return false;
    void* data = info->data;
    module->m_sessions.remove(session);
    module->DestroySessionData(data);
    return true;
}

}  // namespace host

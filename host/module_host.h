// ModuleLibrary loads the module with the platform loader and resolves its three entry points;
// the session helpers open and close sessions the way a host does (the host owns the session
// map's entries). Use from one thread at a time per module, as the module requires.
#pragma once

#include <cstdint>
#include <string>

#include "as/Molvex/Molvex.h"

namespace host {

class ModuleLibrary {
  public:
    ModuleLibrary() = default;
    ~ModuleLibrary() { Close(); }
    ModuleLibrary(const ModuleLibrary&) = delete;
    ModuleLibrary& operator=(const ModuleLibrary&) = delete;

    // Loads the library and resolves the entry points; false with error() set on failure.
    bool Open(const std::string& path);
    void Close();
    const std::string& error() const { return m_error; }
    bool loaded() const { return m_library != nullptr; }

    GetClassFactoryFn GetClassFactory = nullptr;
    ReleaseClassFactoryFn ReleaseClassFactory = nullptr;
    GetASVersionFn GetASVersion = nullptr;

  private:
    void* m_library = nullptr;
    std::string m_error;
};

// $MOLVEX_LIBRARY, else the module of the installed or build tree the program runs from
// (install_layout.h).
std::string DefaultModulePath();

// Creates the session data, adds the entry to the module's session map and applies the session
// settings. Returns ApplySessionSettings's result, or -102 when the data or entry could not be
// made (nothing is left behind then).
int32_t OpenSession(CAModule* module, uint64_t session);
// Removes the entry and destroys its data; false when the session is unknown.
bool CloseSession(CAModule* module, uint64_t session);

}  // namespace host

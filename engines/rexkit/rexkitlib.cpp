// RexkitLib: binding of the regular-expression library through the platform loader.
#include "engines/rexkit/rexkitlib.h"

#include <cstddef>
#include <cstring>
#include <new>

#include "common/ashooks_access.h"
#include "common/platform.h"
#include "common/trace.h"

namespace ascommon {

// The record's layout: the handle, then the entry points with nothing in between.
static_assert(offsetof(RexkitLib, module) == 0, "handle first");
static_assert(offsetof(RexkitLib, NewRegEx) == 1 * sizeof(void*), "entry points follow");
static_assert(offsetof(RexkitLib, NewFastRegEx) == 2 * sizeof(void*), "entry point order");
static_assert(offsetof(RexkitLib, DeleteRegEx) == 3 * sizeof(void*), "entry point order");
static_assert(offsetof(RexkitLib, MakeBuffMap) == 4 * sizeof(void*), "entry point order");
static_assert(offsetof(RexkitLib, DeleteBuffMap) == 5 * sizeof(void*), "entry point order");
static_assert(sizeof(RexkitLib) == 6 * sizeof(void*), "no trailing fields");

namespace {

// The required exports, in the order they are resolved and stored.
struct EntryPoint {
    const char* name;
    void* RexkitLib::*field;
};
constexpr EntryPoint kEntryPoints[] = {
    {"NewRegEx", &RexkitLib::NewRegEx},           {"NewFastRegEx", &RexkitLib::NewFastRegEx},
    {"DeleteRegEx", &RexkitLib::DeleteRegEx},     {"MakeBuffMap", &RexkitLib::MakeBuffMap},
    {"DeleteBuffMap", &RexkitLib::DeleteBuffMap},
};

// Present when the library can load precompiled regexes; probed, never stored.
constexpr const char* kCompiledProbe = "InitCompiledExists";

// The loader's last error text, at most 1023 bytes, empty when there is none. The loader clears
// it on reading, so it is taken right after the call that failed.
struct LoaderError {
    char text[1024];
    LoaderError() { platform::LibraryError(text, sizeof text); }
};

void FreeRecord(RexkitLib* record) {
    record->~RexkitLib();
    MemFree(record);
}

// <directory>/<library name>, adding the separator only when the folder does not end in one.
bool BuildPath(const sstring& directory, sstring* path) {
    *path = directory;
    if (!path->initialised() || path->last_error() != 0) return false;
    const uint64_t length = path->length();
    if (length == 0 || path->c_str()[length - 1] != platform::kPathSeparator) {
        if (path->append(&platform::kPathSeparator, 1) != 0) return false;
    }
    return path->append(platform::kRexkitLibraryName, std::strlen(platform::kRexkitLibraryName)) ==
           0;
}

}  // namespace

RexkitLib* LoadRexkitLib(const sstring& directory) {
    if (!directory.initialised()) return nullptr;
    void* block = MemAlloc(sizeof(RexkitLib));
    if (block == nullptr) return nullptr;
    RexkitLib* record = new (block) RexkitLib();

    sstring path;
    if (!BuildPath(directory, &path)) {
        FreeRecord(record);
        return nullptr;
    }
    AS_TRACE(4, "Trying to load the lib %s", path.c_str());
    record->module = platform::OpenLibrary(path.c_str());
    if (record->module == nullptr) {
        const LoaderError error;
        AS_TRACE(1, "WARNING: cannot load the regex library (%s): %s", path.c_str(), error.text);
        FreeRecord(record);
        return nullptr;
    }

    for (const EntryPoint& entry : kEntryPoints) {
        void* address = platform::LibrarySymbol(record->module, entry.name);
        record->*entry.field = address;
        if (address == nullptr) {
            const LoaderError error;
            AS_TRACE(1,
                     "WARNING: invalid Regex DLL library ! The product will run, but with a lot "
                     "less functionality.");
            AS_TRACE(1, "WARNING: could not obtain functor %s. The error was: %s", entry.name,
                     error.text);
            platform::CloseLibrary(record->module);
            FreeRecord(record);
            return nullptr;
        }
    }

    if (platform::LibrarySymbol(record->module, kCompiledProbe) == nullptr) {
        const LoaderError error;
        AS_TRACE(1,
                 "WARNING: rexkit.dll/librexkit.so cannot load compiled regexes . The error "
                 "was: %s",
                 error.text);
    } else {
        AS_TRACE(1, "rexkit.dll/librexkit.so can load compiled regexes ");
    }
    return record;
}

void ReleaseRexkitLib(RexkitLib* record) {
    try {
        if (record == nullptr || record->module == nullptr) {
            AS_TRACE(4, "WARNING: could not release the regex lib!");
            return;
        }
        platform::CloseLibrary(record->module);
        FreeRecord(record);
    } catch (...) {
        AS_TRACE(4, "WARNING: could not release the regex lib!");
    }
}

}  // namespace ascommon

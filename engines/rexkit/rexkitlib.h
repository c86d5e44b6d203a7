// RexkitLib: the run-time binding of the regular-expression library (librexkit.so). The loader
// opens the library found in a configured folder and resolves its five required entry points;
// the record it returns belongs to the caller, who hands it back to ReleaseRexkitLib. The module
// only binds: it never calls the library through the record.
#pragma once

#include "common/sstring.h"

namespace ascommon {

// The library record: the module handle (never null in a record the loader returns), then the
// addresses of the entry points, in the library's export order.
struct RexkitLib {
    void* module;
    void* NewRegEx;
    void* NewFastRegEx;
    void* DeleteRegEx;
    void* MakeBuffMap;
    void* DeleteBuffMap;
};

// Loads <directory>/librexkit.so (no separator is added when the folder ends in one) and
// resolves its entry points. Null, with a level-1 warning, when the library cannot be loaded or
// lacks an entry point (it is unloaded again); null without a trace for a null directory or when
// memory runs out. Whether the library can load compiled regexes is traced either way.
RexkitLib* LoadRexkitLib(const sstring& directory);

// Unloads the library and frees the record. A null record or handle is only traced.
void ReleaseRexkitLib(RexkitLib* record);

}  // namespace ascommon

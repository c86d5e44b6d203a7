// Where a host program finds the module, its companions and the bundled data: relative to its own
// executable, so that both an installed tree and a build tree can be moved as a whole. Installed
// (bin/ beside lib/molvex/ and share/molvex/): the module in lib/molvex/, the data in
// share/molvex/, the sample sender lists in share/molvex/lists/. Build tree (the executable, or
// the folder above it, holds molvex-source-dir.txt, written at configure time): the module beside
// that file, the data in its samples/ folder, the sample lists in the source tree's samples/lists.
// $MOLVEX_LIBRARY names the module and $MOLVEX_DATA_DIR the data folder (its lists/ the sample
// lists) over both. Plain functions; any thread.
#pragma once

#include <string>

namespace host {

struct InstallLayout {
    std::string module;  // the module file (a bare name, left to the loader's search, when unknown)
    std::string data;    // folder of the bundled URL list; "" when unknown
    std::string lists;   // folder of the sample sender lists; "" when unknown
    std::string origin;  // "installed", "build tree" or "unknown", then "+environment" if any
};

// The layout of the running executable, with the environment's overrides applied.
InstallLayout FindInstallLayout();

// The layout of the program at `executable`, without the environment's overrides.
InstallLayout LayoutOf(const std::string& executable);

}  // namespace host

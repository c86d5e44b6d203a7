// Checks of URL list data files as a host sees them before handing them to the module: whether
// a file exists, is a data file whose digest matches, holds the entries its counts promise, and
// can be copied to the temporary folder the module reads through. The module itself only says
// that loading failed; these checks say which file and why. Plain functions; any thread.
#pragma once

#include <cstdint>
#include <string>

namespace host {

struct UrlListCounts {
    uint32_t urls = 0;
    uint32_t subDomains = 0;
    uint32_t domains = 0;
};

// Reads the whole file through the binary streamer (as the module does, with a temporary copy
// in `tempFolder`). False with the reason in *reason: no such file, not a regular file, shorter
// than the header, digest mismatch (with the position), entries of another width, truncated
// (fewer entries than counted), temporary folder missing or full.
bool InspectUrlList(const std::string& path, const std::string& tempFolder, UrlListCounts* counts,
                    std::string* reason);

}  // namespace host

// Writes URL list data files for tests: the streamer frame with the list payload (digest words,
// three counts, then the digest keys of the URLs, sub-domains and domains).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "common/binstreamer.h"
#include "engines/urldb2/urldb2.h"

namespace testfiles {

struct ListEntries {
    std::vector<std::string> urls, subDomains, domains;
    uint32_t digestWords = 2;
    uint32_t extraCount = 0;  // added to the domain count: promises entries the file lacks
};

inline void WriteListFile(const std::string& path, const ListEntries& list,
                          const std::string& tempFolder) {
    ascommon::CBinaryStreamer out(ascommon::sstring(path.c_str()), 1,
                                  ascommon::sstring(tempFolder.c_str()), 0);
    for (size_t count : {size_t{list.digestWords}, list.urls.size(), list.subDomains.size(),
                         list.domains.size() + list.extraCount})
        out.WriteUInt32(static_cast<uint32_t>(count));
    for (const auto* section : {&list.urls, &list.subDomains, &list.domains}) {
        for (const std::string& entry : *section) {
            const uint64_t key = ascommon::DigestKey(entry.data(), entry.size());
            out.WriteUInt32(static_cast<uint32_t>(key));
            out.WriteUInt32(static_cast<uint32_t>(key >> 32));
        }
    }
    out.Close();
}

}  // namespace testfiles

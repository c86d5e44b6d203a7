// CURLDB2: the URL black list as three sets of 64-bit digest keys (whole URLs, sub-domains,
// domains), filled from scrambled, digest-checked data files and reduced by a white-list file.
// A key is the first 8 bytes of the MD5 digest of the string's bytes, as a little-endian
// integer; no text is stored. No lock of its own: the URL filter guards it with its module's
// locker (lookups shared, loads and clears exclusive).
#pragma once

#include <cstddef>
#include <cstdint>

#include "common/carray.h"
#include "common/cmap.h"
#include "common/sstring.h"

namespace ascommon {

// The digest key of a string: the first 8 MD5 bytes, little-endian.
uint64_t DigestKey(const char* bytes, size_t length);

class CURLDB2 {
  public:
    typedef CMap<uint64_t, uint32_t> KeySet;

    CURLDB2() = default;
    CURLDB2(const CURLDB2&) = delete;
    CURLDB2& operator=(const CURLDB2&) = delete;

    // Empties the three sets; their bucket counts stay.
    void ClearAll();
    // Results of the list operations.
    static constexpr int32_t kNoMemory = -2;          // memory ran out
    static constexpr int32_t kWrongDigestWidth = -9;  // the file's digests are not two words
    static constexpr int32_t kNothingLoaded = -12;    // no file of the list loaded
    static constexpr int32_t kNotADataFile = -13;     // missing, bad digest, no temporary copy
    static constexpr int32_t kCorrupt = -14;          // short file, or a set could not take it

    // Adds the entries of one data file: 0, kWrongDigestWidth, kNotADataFile or kCorrupt (also
    // when a set could not be grown or take an entry). Entries read before a failure stay.
    int32_t LoadDataFile(const sstring& fileName, const sstring& tempFolder);
    // 0 when at least one file loaded, else kNothingLoaded (an empty list too). A file that does
    // not load is passed over, unless it failed for want of memory: then kNoMemory at once, since
    // the list would silently lack its entries.
    int32_t LoadDataFiles(const CArray<sstring, 64>& fileNames, const sstring& tempFolder);
    // Removes the entries of a data file: 0, whatever the file holds or lacks, unless the
    // subtraction failed for want of memory (kNoMemory; the removals made stay made).
    int32_t SubtractDataFile(const sstring& fileName, const sstring& tempFolder);

    bool ContainsURL(const char* bytes, size_t length);
    bool ContainsSubDomain(const char* bytes, size_t length);
    bool ContainsDomain(const char* bytes, size_t length);

    KeySet m_URLs;
    KeySet m_subDomains;
    KeySet m_domains;

  private:
    bool Subtract(const sstring& fileName, const sstring& tempFolder);
};

}  // namespace ascommon

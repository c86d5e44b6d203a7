// CURLDB2.
#include "engines/urldb2/urldb2.h"

#include <cstring>
#include <exception>
#include <memory>

#include "common/ashooks_access.h"
#include "common/binstreamer.h"
#include "common/trace.h"

namespace ascommon {

namespace {

constexpr uint32_t kDigestWords = 2;

// Reads one entry: two 32-bit values whose 8 bytes, in file order, are the key's bytes.
uint64_t ReadKey(CBinaryStreamer& streamer) {
    const uint32_t low = streamer.ReadUInt32();
    const uint32_t high = streamer.ReadUInt32();
    return static_cast<uint64_t>(low) | (static_cast<uint64_t>(high) << 32);
}

// The bucket count for a section of `count` entries: the count plus ten, but never more entries
// than the rest of the file can hold (8 bytes each), so that a hostile count cannot make the
// sets ask for memory the file does not justify. Reading such a file fails at its end.
uint32_t BucketsFor(uint32_t count, const CBinaryStreamer& streamer) {
    const uint64_t room = streamer.Remaining() / 8;
    return static_cast<uint32_t>((count < room ? count : room) + 10);
}

bool Contains(CMap<uint64_t, uint32_t>& set, const char* bytes, size_t length) {
    const uint64_t key = DigestKey(bytes, length);
    return set.lookup(key) != nullptr;
}

// Opens a data file for reading; null (traced) when it cannot be opened.
std::unique_ptr<CBinaryStreamer> OpenDataFile(const sstring& fileName, const sstring& tempFolder) {
    try {
        return std::unique_ptr<CBinaryStreamer>(new CBinaryStreamer(fileName, 0, tempFolder, 0));
    } catch (const std::exception&) {
        AS_TRACE(1, "[URLDB2 Engine] Signature file not found");
        return nullptr;
    }
}

// Closes and destroys the streamer; false (traced) when either step throws.
bool CloseDataFile(std::unique_ptr<CBinaryStreamer>& streamer) {
    try {
        streamer->Close();
        streamer.reset();
        return true;
    } catch (const std::exception&) {
        streamer.reset();
        AS_TRACE(1, "[URLDB2 Engine] Signature file not found");
        return false;
    }
}

}  // namespace

uint64_t DigestKey(const char* bytes, size_t length) {
    unsigned char digest[16];
    ComputeCRC(reinterpret_cast<const unsigned char*>(bytes ? bytes : ""), bytes ? length : 0,
               digest);
    uint64_t key = 0;
    for (int i = 7; i >= 0; --i) key = (key << 8) | digest[i];
    return key;
}

void CURLDB2::ClearAll() {
    m_URLs.clear();
    m_subDomains.clear();
    m_domains.clear();
}

int32_t CURLDB2::LoadDataFile(const sstring& fileName, const sstring& tempFolder) {
    std::unique_ptr<CBinaryStreamer> streamer = OpenDataFile(fileName, tempFolder);
    if (!streamer) return kNotADataFile;
    try {
        if (streamer->ReadUInt32() != kDigestWords) {
            AS_TRACE(1,
                     "[URLDB2 Engine] The data file was created using another number of md5 "
                     "bytes!");
            streamer.reset();
            return kWrongDigestWidth;
        }
        const uint32_t urls = streamer->ReadUInt32();
        if (m_URLs.rehash(BucketsFor(urls, *streamer)) != 0) {
            AS_TRACE(1, "Cannot resize m_URLs");
            streamer.reset();
            return kCorrupt;
        }
        const uint32_t subDomains = streamer->ReadUInt32();
        if (m_subDomains.rehash(BucketsFor(subDomains, *streamer)) != 0) {
            AS_TRACE(1, "Cannot resize m_subDomains");
            streamer.reset();
            return kCorrupt;
        }
        const uint32_t domains = streamer->ReadUInt32();
        m_domains.rehash(BucketsFor(domains, *streamer));  // on failure the map keeps its buckets
        KeySet* sets[] = {&m_URLs, &m_subDomains, &m_domains};
        const uint32_t counts[] = {urls, subDomains, domains};
        for (int section = 0; section < 3; ++section) {
            for (uint32_t i = 0; i < counts[section]; ++i) {
                const uint64_t key = ReadKey(*streamer);
                // A key already present is skipped; one that finds no node fails the load.
                if (sets[section]->insert(key, sets[section]->size()) == kNoMemory) {
                    AS_TRACE(1, "[URLDB2 Engine] Not enough memory for the entries of [%s]",
                             fileName.c_str());
                    streamer.reset();
                    return kCorrupt;
                }
            }
        }
    } catch (const std::exception&) {
        AS_TRACE(1, "[URLDB2 Engine] Data File Corrupt!");
        streamer.reset();
        return kCorrupt;
    }
    return CloseDataFile(streamer) ? 0 : kNotADataFile;
}

int32_t CURLDB2::LoadDataFiles(const CArray<sstring, 64>& fileNames, const sstring& tempFolder) {
    int32_t result = kNothingLoaded;
    for (uint64_t i = 0; i < fileNames.size(); ++i) {
        const uint64_t failures = AllocationFailures();
        if (LoadDataFile(fileNames.data()[i], tempFolder) == 0) {
            result = 0;
        } else if (AllocationFailures() != failures) {
            AS_TRACE(1, "[URLDB2 Engine] Not enough memory to load [%s]",
                     fileNames.data()[i].c_str());
            return kNoMemory;
        }
    }
    return result;
}

int32_t CURLDB2::SubtractDataFile(const sstring& fileName, const sstring& tempFolder) {
    const uint64_t failures = AllocationFailures();
    if (Subtract(fileName, tempFolder) || AllocationFailures() == failures) return 0;
    AS_TRACE(1, "[URLDB2 Engine] Not enough memory to subtract [%s]", fileName.c_str());
    return kNoMemory;
}

// The work of SubtractDataFile: false when the file could not be read whole.
bool CURLDB2::Subtract(const sstring& fileName, const sstring& tempFolder) {
    std::unique_ptr<CBinaryStreamer> streamer = OpenDataFile(fileName, tempFolder);
    if (!streamer) return false;
    try {
        if (streamer->ReadUInt32() != kDigestWords) {
            AS_TRACE(1,
                     "[URLDB2 Engine] The data file was created using another number of md5 "
                     "bytes!");
            streamer.reset();
            return false;
        }
        uint32_t counts[3];
        for (uint32_t& count : counts) count = streamer->ReadUInt32();
        KeySet* sets[] = {&m_URLs, &m_subDomains, &m_domains};
        for (int section = 0; section < 3; ++section) {
            for (uint32_t i = 0; i < counts[section]; ++i) {
                sets[section]->remove(ReadKey(*streamer));  // absent keys and bucketless maps pass
            }
        }
    } catch (const std::exception&) {
        AS_TRACE(1, "[URLDB2 Engine] Data File Corrupt!");
        streamer.reset();
        return false;
    }
    return CloseDataFile(streamer);
}

bool CURLDB2::ContainsURL(const char* bytes, size_t length) {
    return Contains(m_URLs, bytes, length);
}

bool CURLDB2::ContainsSubDomain(const char* bytes, size_t length) {
    return Contains(m_subDomains, bytes, length);
}

bool CURLDB2::ContainsDomain(const char* bytes, size_t length) {
    return Contains(m_domains, bytes, length);
}

}  // namespace ascommon

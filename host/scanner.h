// Scanner: the reference host's driver of the module. Open() loads libmolvex with the platform
// loader, installs the host hooks, creates the three filters, hands them the settings, opens one
// session and loads the address lists; Scan() runs one raw message through parsing, records and
// every verb of the three filters. Open and Close from one thread; between them, any number of
// threads may call Scan at once (the module takes concurrent host threads on one session).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "as/Molvex/Molvex.h"
#include "host/module_host.h"
#include "host/scan_config.h"
#include "host/settings_store.h"

namespace host {

struct ScanConfig {
    std::string libraryPath;             // the module
    SettingList settings;                // applied in order
    std::vector<std::string> blacklist;  // address expressions, UTF-8
    std::vector<std::string> whitelist;
    int traceLevel = 0;  // module trace lines up to this level go to standard error
};

// The module built with this tree with the essential settings (companions beside the module,
// `tempFolder`, URL lists in `dataFolder`) followed by the built-in defaults; no address lists.
ScanConfig BuiltInScanConfig(const std::string& tempFolder, const std::string& dataFolder);

// The verdicts a scan reads back, in output order.
struct VerdictKey {
    uint32_t key;
    const char* name;
};
constexpr VerdictKey kVerdictKeys[] = {
    {asbb::kWhitelisted, "whitelisted"},
    {asbb::kBlacklisted, "blacklisted"},
    {asbb::kUrlListed, "url"},
    {asbb::kGtube, "gtube"},
    {asbb::kSexuallyExplicit, "explicit"},
    {asbb::kCharsetHit, "charset"},
    {asbb::kAsianCharset, "asian-charset"},
    {asbb::kOversized, "oversized"},
    {asbb::kAsianShare, "asian"},
    {asbb::kCyrillicShare, "cyrillic"},
};
constexpr size_t kVerdictCount = sizeof(kVerdictKeys) / sizeof(kVerdictKeys[0]);

struct ScanResult {
    bool ok = false;
    std::string error;                // why the message could not be scanned (ok false)
    int32_t verdicts[kVerdictCount];  // -1: not written
    std::string expression;           // the list expression that matched, if written
    bool hasExpression = false;
    std::string urlKeys;                    // the URL keys that hit, space-separated
    std::string extracted;                  // the extract verb's keys, one per line, when asked for
    std::vector<std::string> defects;       // from parsing
    std::vector<std::string> charsets;      // per text part: the charset read in and why
    std::vector<std::string> moduleErrors;  // verbs that failed, with the module's message
    uint64_t size = 0;                      // the whole message's size
    std::string truncated;  // why only the first part of the message was scanned, if it was
    uint64_t urls = 0;
    double asianPercent = 0;  // shares as the multipurpose filter computes them
    double cyrillicPercent = 0;
    std::vector<std::string> declaredCharsets;
    std::string senderDomain;
    double parseSeconds = 0;   // parsing, URL finding, statistics, records
    double moduleSeconds = 0;  // the filters' calls

    ScanResult() {
        for (int32_t& v : verdicts) v = -1;
    }
    bool Hit(size_t index) const { return verdicts[index] > 0; }
    bool HitOf(uint32_t key) const {
        for (size_t i = 0; i < kVerdictCount; ++i) {
            if (kVerdictKeys[i].key == key) return Hit(i);
        }
        return false;
    }
};

class Scanner {
  public:
    Scanner() = default;
    ~Scanner() { Close(); }
    Scanner(const Scanner&) = delete;
    Scanner& operator=(const Scanner&) = delete;

    // False with *error set when the module cannot be loaded or configured (nothing stays open).
    bool Open(const ScanConfig& config, std::string* error);
    // Scans one message; extractUrls adds verb 21 of the URL filter. `fullSize`, when above
    // `size`, is the size of a message of which only the first `size` bytes are given: the
    // filters see that size. Running out of memory gives a result with an error.
    ScanResult Scan(const char* data, size_t size, bool extractUrls, uint64_t fullSize = 0);
    void Close();

  private:
    ScanResult ScanMessage(const char* data, size_t size, bool extractUrls, uint64_t fullSize);
    bool Configure(const ScanConfig& config, std::string* error);
    bool LoadLists(const ScanConfig& config, std::string* error);

    static constexpr uint64_t kSession = 1;
    ModuleLibrary m_library;
    CAClassFactory* m_factory = nullptr;
    CAFilter* m_filters[3] = {nullptr, nullptr, nullptr};  // bw, url, multipurpose
    bool m_sessionOpen[3] = {false, false, false};
    SettingsStore m_settings;
};

}  // namespace host

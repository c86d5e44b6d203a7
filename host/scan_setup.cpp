// Scan setup shared by the host programs (see scan_setup.h).
#include "host/scan_setup.h"

#include <cstdlib>
#include <utility>

#include "host/url_lists.h"

namespace host {

std::string EffectiveSetting(const SettingList& settings, const std::string& key) {
    std::string value;
    for (const auto& [k, v] : settings) {
        if (k == key) value = v;
    }
    return value;
}

std::vector<std::string> FillHostFolders(SettingList* settings, const std::string& libraryPath,
                                         const std::string& dataFolder) {
    const char* temp = std::getenv("TMPDIR");
    const std::pair<const char*, std::string> folders[] = {
        {"/eml/global/SharedLibsPathNew", FolderOf(libraryPath)},
        {"/eml/global/GlobalTempPath", temp && *temp ? temp : "/tmp"},
        {"/eml/global/SharedDataPath", dataFolder},
    };
    std::vector<std::string> filled;
    for (const auto& [key, fallback] : folders) {
        if (!EffectiveSetting(*settings, key).empty()) continue;
        settings->emplace_back(key, fallback);
        filled.push_back(key);
    }
    return filled;
}

bool CheckUrlListSettings(SettingList* settings, bool allowBad, std::string* report,
                          std::vector<std::string>* warnings, std::string* error) {
    const std::string dataFolder = EffectiveSetting(*settings, "/eml/global/SharedDataPath");
    const std::string tempFolder = EffectiveSetting(*settings, "/eml/global/GlobalTempPath");
    for (const char* key : {"/eml/filter/url/filesbl", "/eml/filter/url/filewl"}) {
        std::string kept;
        for (const std::string& name : SplitBlanks(EffectiveSetting(*settings, key))) {
            const std::string path = dataFolder + "/" + name;
            UrlListCounts counts;
            std::string reason;
            if (InspectUrlList(path, tempFolder, &counts, &reason)) {
                *report += "#   " + std::string(key) + ": " + path + ": " +
                           std::to_string(counts.domains) + " domains, " +
                           std::to_string(counts.subDomains) + " sub-domains, " +
                           std::to_string(counts.urls) + " URLs\n";
                kept += (kept.empty() ? "" : " ") + name;
                continue;
            }
            if (!allowBad) {
                *error = "URL list " + path + ": " + reason;
                return false;
            }
            warnings->push_back("URL list " + path + " left out: " + reason);
        }
        settings->emplace_back(key, kept);
    }
    return true;
}

bool LoadHostConfig(const std::string& configFile, const std::string& libraryPath,
                    const std::string& dataFolder, ScanConfig* config, std::string* error) {
    ScanConfig c;
    c.libraryPath = libraryPath.empty() ? DefaultModulePath() : libraryPath;
    c.settings = DefaultSettings();
    if (!configFile.empty() && !ReadSettingsFile(configFile, &c.settings, error)) return false;
    FillHostFolders(&c.settings, c.libraryPath, dataFolder);
    const std::string black = EffectiveSetting(c.settings, "/molvex/lists/SenderBlacklist");
    const std::string white = EffectiveSetting(c.settings, "/molvex/lists/SenderWhitelist");
    if (!black.empty() && !ReadListFile(black, &c.blacklist, error)) return false;
    if (!white.empty() && !ReadListFile(white, &c.whitelist, error)) return false;
    std::string report;
    std::vector<std::string> warnings;
    if (!CheckUrlListSettings(&c.settings, false, &report, &warnings, error)) return false;
    *config = std::move(c);
    return true;
}

}  // namespace host

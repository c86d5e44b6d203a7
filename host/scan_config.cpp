// Scan configuration: defaults, settings files and list files.
#include "host/scan_config.h"

#include <cerrno>
#include <cstring>
#include <fstream>

namespace host {

namespace {

std::string Trim(const std::string& text) {
    const char* blanks = " \t\r\n\v\f";
    const size_t first = text.find_first_not_of(blanks);
    if (first == std::string::npos) return "";
    return text.substr(first, text.find_last_not_of(blanks) - first + 1);
}

bool OpenText(const std::string& path, std::ifstream* in, std::string* error) {
    in->open(path, std::ios::binary);
    if (!*in) {
        *error = path + ": " + std::strerror(errno ? errno : ENOENT);
        return false;
    }
    return true;
}

}  // namespace

SettingList EssentialSettings(const std::string& libraryFolder, const std::string& tempFolder,
                              const std::string& dataFolder) {
    return {{"/eml/global/SharedLibsPathNew", libraryFolder},
            {"/eml/global/GlobalTempPath", tempFolder},
            {"/eml/global/SharedDataPath", dataFolder}};
}

SettingList DefaultSettings() {
    return {
        {"/eml/filter/bwfilter/Enabled", "1"},
        {"/eml/filter/urlfilter/Enabled", "1"},
        {"/eml/filter/multi/Enabled", "1"},
        {"/eml/filter/url/filesbl", "urlbl.dat"},
        {"/eml/filter/multi/SexuallyExplicit", "1"},
        {"/eml/filter/multi/AsianCharsets", "1"},
        {"/eml/filter/multi/CyrilicCharsets", "1"},
        {"/eml/filter/multi/charset/AsianExcludeJapanese", "0"},
        {"/eml/filter/multi/charset/JapaneseMinPercent", "20"},
        {"/eml/filter/multi/PercentOfAllowedAsianChars", "30"},
        {"/eml/filter/multi/PercentOfAllowedCyrillicChars", "30"},
        {"/eml/filter/multi/MaxFileSize", "102400"},
    };
}

bool ReadSettingsFile(const std::string& path, SettingList* settings, std::string* error) {
    std::ifstream in;
    if (!OpenText(path, &in, error)) return false;
    std::string line;
    for (int number = 1; std::getline(in, line); ++number) {
        const std::string text = Trim(line);
        if (text.empty() || text[0] == '#' || text[0] == ';') continue;
        const size_t equals = text.find('=');
        const std::string key = equals == std::string::npos ? "" : Trim(text.substr(0, equals));
        if (key.empty()) {
            *error = path + ":" + std::to_string(number) + ": expected \"key = value\"";
            return false;
        }
        settings->emplace_back(key, Trim(text.substr(equals + 1)));
    }
    if (in.bad()) {
        *error = path + ": read error";
        return false;
    }
    return true;
}

bool ParseSetting(const std::string& text, std::pair<std::string, std::string>* setting,
                  std::string* error) {
    const size_t equals = text.find('=');
    const std::string key = equals == std::string::npos ? "" : Trim(text.substr(0, equals));
    if (key.empty()) {
        *error = "expected KEY=VALUE, got \"" + text + "\"";
        return false;
    }
    *setting = {key, Trim(text.substr(equals + 1))};
    return true;
}

bool ReadListFile(const std::string& path, std::vector<std::string>* expressions,
                  std::string* error) {
    std::ifstream in;
    if (!OpenText(path, &in, error)) return false;
    std::string line;
    while (std::getline(in, line)) {
        const std::string text = Trim(line);
        if (!text.empty() && text[0] != '#') expressions->push_back(text);
    }
    if (in.bad()) {
        *error = path + ": read error";
        return false;
    }
    return true;
}

std::string FolderOf(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

}  // namespace host

// The registry of every setting that the module and the host programs read: its key, type,
// range, default and meaning. The built-in defaults, the sample configuration file, the
// configuration reference in docs/ and the checks of configuration files all come from this one
// table. Read-only data and pure functions; any thread.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace host {

enum class SettingType {
    kBool,    // 0/1, yes/no, true/false, on/off; stored as 0 or 1
    kInt,     // a decimal integer within [min, max]
    kSize,    // bytes: a decimal integer with an optional K, M or G suffix (binary), within range
    kText,    // any text
    kPath,    // a file or folder; the host programs fill it in when it is left empty
    kAction,  // a policy action: none, tag, quarantine, reject
};

// Who reads a setting: the module through the host's settings object, or the host programs.
enum class SettingReader { kModule, kHost };

struct SettingInfo {
    const char* key;
    SettingType type;
    SettingReader reader;
    int64_t min;
    int64_t max;
    const char* defaultValue;  // as written in a configuration file; "" for none
    const char* meaning;
};

// Every known setting, in the order of the configuration reference.
const std::vector<SettingInfo>& SettingsRegistry();

// The entry of a key, or null when the key is unknown. Keys are compared exactly.
const SettingInfo* FindSetting(const std::string& key);

// The known key closest to an unknown one (letter case, typos, a missing segment), or "" when
// none is close enough to be the one meant.
std::string NearestSettingKey(const std::string& key);

// Checks a value against the key's entry; on success *normalised is the value the module reads
// (booleans as 0/1, sizes in bytes). False with a reason naming the key, the value and the
// accepted form, for an unknown key too (with the nearest known key, when there is one).
bool CheckSetting(const std::string& key, const std::string& value, std::string* normalised,
                  std::string* error);

// The registry's defaults as "key = value" pairs (settings with an empty default left out).
std::vector<std::pair<std::string, std::string>> RegistryDefaults();

// The registry as a commented configuration file, and as a Markdown reference table.
std::string RegistryAsConfigFile();
std::string RegistryAsMarkdown();

}  // namespace host

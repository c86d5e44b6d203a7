// The settings registry: the table, value checks, nearest-key suggestions and the generated
// configuration file and reference.
#include "host/settings_registry.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <sstream>

namespace host {

namespace {

constexpr int64_t kInt32Max = 2147483647;
using T = SettingType;
using R = SettingReader;

// The policy's entries for one test: its score and its action.
#define MOLVEX_POLICY_TEST(name, score, action, what)                                         \
    {"/molvex/policy/" name "/Score",                                                         \
     T::kInt,                                                                                 \
     R::kHost,                                                                                \
     -1000,                                                                                   \
     1000,                                                                                    \
     score,                                                                                   \
     "points that a hit of the " what " adds to the message's score"},                        \
    {                                                                                         \
        "/molvex/policy/" name "/Action", T::kAction, R::kHost, 0, 0, action,                 \
            "decision that a hit of the " what " asks for at least (none: the score decides)" \
    }

const std::vector<SettingInfo> kRegistry = {
    // The module: which filters run.
    {"/eml/global/AllFiltersEnabled", T::kBool, R::kModule, 0, 1, "0",
     "1 runs every filter whatever its own Enabled setting says"},
    {"/eml/filter/bwfilter/Enabled", T::kBool, R::kModule, 0, 1, "1",
     "the black/white list filter judges the sender's address"},
    {"/eml/filter/urlfilter/Enabled", T::kBool, R::kModule, 0, 1, "1",
     "the URL filter looks up the message's URLs in the URL black list"},
    {"/eml/filter/multi/Enabled", T::kBool, R::kModule, 0, 1, "1",
     "the multipurpose filter runs its tests (GTUBE, subject, charsets, shares, size)"},
    // The module: files and folders.
    {"/eml/global/SharedLibsPathNew", T::kPath, R::kModule, 0, 0, "",
     "folder of the companion libraries (empty: beside the module)"},
    {"/eml/global/GlobalTempPath", T::kPath, R::kModule, 0, 0, "",
     "folder for the temporary copies of the URL list files (empty: the system's)"},
    {"/eml/global/SharedDataPath", T::kPath, R::kModule, 0, 0, "",
     "folder of the URL list files (empty: the bundled lists' folder)"},
    {"/eml/filter/url/filesbl", T::kText, R::kModule, 0, 0, "urlbl.dat",
     "URL black-list files in SharedDataPath, separated by blanks"},
    {"/eml/filter/url/filewl", T::kText, R::kModule, 0, 0, "",
     "one URL white-list file in SharedDataPath: its entries are taken out of the black list"},
    // The module: the multipurpose filter's tests.
    {"/eml/filter/multi/SexuallyExplicit", T::kBool, R::kModule, 0, 1, "1",
     "the subject test for a sexually-explicit marker runs"},
    {"/eml/filter/multi/AsianCharsets", T::kBool, R::kModule, 0, 1, "1",
     "declared Asian charsets count, and the Asian share test runs"},
    {"/eml/filter/multi/CyrilicCharsets", T::kBool, R::kModule, 0, 1, "1",
     "declared Cyrillic charsets count, and the Cyrillic share test runs"},
    {"/eml/filter/multi/charset/AsianExcludeJapanese", T::kBool, R::kModule, 0, 1, "0",
     "Japanese charsets do not count as Asian unless the text is Japanese enough"},
    {"/eml/filter/multi/charset/JapaneseMinPercent", T::kInt, R::kModule, 0, 100, "20",
     "with AsianExcludeJapanese: percent of kana that makes Japanese text count as Asian"},
    {"/eml/filter/multi/PercentOfAllowedAsianChars", T::kInt, R::kModule, 0, 100, "30",
     "a larger percent of Asian characters is a hit of the Asian share test"},
    {"/eml/filter/multi/PercentOfAllowedCyrillicChars", T::kInt, R::kModule, 0, 100, "30",
     "a larger percent of Cyrillic characters is a hit of the Cyrillic share test"},
    {"/eml/filter/multi/MaxFileSize", T::kSize, R::kModule, 0, kInt32Max, "100K",
     "a larger message is oversized (0: the test is off)"},
    // The host programs.
    {"/molvex/lists/SenderBlacklist", T::kPath, R::kHost, 0, 0, "",
     "address black list: one expression a line, such as *@spam.example"},
    {"/molvex/lists/SenderWhitelist", T::kPath, R::kHost, 0, 0, "",
     "address white list: one expression a line; a listed sender is whitelisted"},
    {"/molvex/scan/MaxMessageSize", T::kSize, R::kHost, 1024, int64_t(1) << 40, "64M",
     "a larger message is not read whole: its first bytes are scanned, and it is reported"},
    {"/molvex/milter/Socket", T::kText, R::kHost, 0, 0, "inet:8895@127.0.0.1",
     "molvex-milter listens here: unix:PATH or inet:PORT@ADDRESS (--socket overrides it)"},
    {"/molvex/milter/MaxMessagesInFlight", T::kInt, R::kHost, 1, 100000, "64",
     "molvex-milter holds at most this many messages at once; more are told to retry later"},
    // The policy: thresholds, then each test.
    {"/molvex/policy/TagScore", T::kInt, R::kHost, 0, 1000, "5",
     "a score from here on tags the message (0: never)"},
    {"/molvex/policy/QuarantineScore", T::kInt, R::kHost, 0, 1000, "10",
     "a score from here on quarantines the message (0: never)"},
    {"/molvex/policy/RejectScore", T::kInt, R::kHost, 0, 1000, "15",
     "a score from here on rejects the message (0: never)"},
    {"/molvex/policy/WhitelistAccepts", T::kBool, R::kHost, 0, 1, "1",
     "a whitelisted sender is accepted whatever else hits, except GTUBE"},
    MOLVEX_POLICY_TEST("whitelisted", "-100", "none", "sender white list"),
    MOLVEX_POLICY_TEST("blacklisted", "100", "reject", "sender black list"),
    MOLVEX_POLICY_TEST("url", "8", "none", "URL black list"),
    MOLVEX_POLICY_TEST("gtube", "100", "reject", "GTUBE test string"),
    MOLVEX_POLICY_TEST("explicit", "6", "none", "sexually-explicit subject marker"),
    MOLVEX_POLICY_TEST("charset", "2", "none", "declared Asian or Cyrillic charset"),
    MOLVEX_POLICY_TEST("asian-charset", "0", "none", "declared Asian charset"),
    MOLVEX_POLICY_TEST("oversized", "0", "none", "size test"),
    MOLVEX_POLICY_TEST("asian", "3", "none", "Asian share test"),
    MOLVEX_POLICY_TEST("cyrillic", "3", "none", "Cyrillic share test"),
};

#undef MOLVEX_POLICY_TEST

std::string Lower(std::string text) {
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

size_t EditDistance(const std::string& a, const std::string& b) {
    std::vector<size_t> row(b.size() + 1);
    for (size_t j = 0; j <= b.size(); ++j) row[j] = j;
    for (size_t i = 1; i <= a.size(); ++i) {
        size_t diagonal = row[0];
        row[0] = i;
        for (size_t j = 1; j <= b.size(); ++j) {
            const size_t up = row[j];
            row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (a[i - 1] != b[j - 1])});
            diagonal = up;
        }
    }
    return row[b.size()];
}

// Reads a whole signed decimal number; false on anything else or on overflow.
bool ParseInteger(const std::string& text, int64_t* value) {
    if (text.empty()) return false;
    const size_t digits = (text[0] == '-' || text[0] == '+') ? 1 : 0;
    if (digits == text.size()) return false;
    for (size_t i = digits; i < text.size(); ++i) {
        if (!std::isdigit(static_cast<unsigned char>(text[i]))) return false;
    }
    errno = 0;
    const long long parsed = std::strtoll(text.c_str(), nullptr, 10);
    if (errno == ERANGE) return false;
    *value = parsed;
    return true;
}

const char* TypeName(SettingType type) {
    switch (type) {
        case T::kBool:
            return "boolean";
        case T::kInt:
            return "integer";
        case T::kSize:
            return "size";
        case T::kText:
            return "text";
        case T::kPath:
            return "path";
        case T::kAction:
            return "action";
    }
    return "";
}

std::string Range(const SettingInfo& info) {
    switch (info.type) {
        case T::kBool:
            return "0/1, yes/no, true/false, on/off";
        case T::kInt:
            return std::to_string(info.min) + " to " + std::to_string(info.max);
        case T::kSize:
            return std::to_string(info.min) + " to " + std::to_string(info.max) +
                   " bytes; K, M, G suffixes";
        case T::kAction:
            return "none, tag, quarantine, reject";
        default:
            return "";
    }
}

}  // namespace

const std::vector<SettingInfo>& SettingsRegistry() {
    return kRegistry;
}

const SettingInfo* FindSetting(const std::string& key) {
    for (const SettingInfo& info : kRegistry) {
        if (key == info.key) return &info;
    }
    return nullptr;
}

std::string NearestSettingKey(const std::string& key) {
    const std::string lower = Lower(key);
    std::string best;
    size_t bestDistance = std::max<size_t>(3, key.size() / 6) + 1;
    for (const SettingInfo& info : kRegistry) {
        const size_t distance = EditDistance(lower, Lower(info.key));
        if (distance < bestDistance) {
            bestDistance = distance;
            best = info.key;
        }
    }
    return best;
}

bool CheckSetting(const std::string& key, const std::string& value, std::string* normalised,
                  std::string* error) {
    const SettingInfo* info = FindSetting(key);
    if (info == nullptr) {
        const std::string nearest = NearestSettingKey(key);
        *error = "unknown setting " + key;
        if (!nearest.empty()) *error += " (did you mean " + nearest + "?)";
        return false;
    }
    auto refuse = [&](const std::string& expected) {
        *error = key + " = \"" + value + "\": expected " + expected;
        return false;
    };
    const std::string lower = Lower(value);
    switch (info->type) {
        case T::kBool:
            if (lower == "1" || lower == "yes" || lower == "true" || lower == "on") {
                *normalised = "1";
            } else if (lower == "0" || lower == "no" || lower == "false" || lower == "off") {
                *normalised = "0";
            } else {
                return refuse("a boolean (" + Range(*info) + ")");
            }
            return true;
        case T::kInt:
        case T::kSize: {
            std::string digits = value;
            int64_t unit = 1;
            if (info->type == T::kSize && !digits.empty()) {
                const char suffix = static_cast<char>(std::toupper(digits.back()));
                const size_t shift = suffix == 'K'   ? 10
                                     : suffix == 'M' ? 20
                                     : suffix == 'G' ? 30
                                                     : 0;
                if (shift != 0) {
                    unit = int64_t(1) << shift;
                    digits.pop_back();
                }
            }
            int64_t number = 0;
            if (!ParseInteger(digits, &number) || number > INT64_MAX / unit ||
                number < INT64_MIN / unit || number * unit < info->min ||
                number * unit > info->max) {
                return refuse(std::string(info->type == T::kSize ? "a size" : "an integer") +
                              " from " + Range(*info));
            }
            *normalised = std::to_string(number * unit);
            return true;
        }
        case T::kAction:
            if (lower != "none" && lower != "tag" && lower != "quarantine" && lower != "reject") {
                return refuse("one of " + Range(*info));
            }
            *normalised = lower;
            return true;
        case T::kText:
        case T::kPath:
            *normalised = value;
            return true;
    }
    return false;
}

std::vector<std::pair<std::string, std::string>> RegistryDefaults() {
    std::vector<std::pair<std::string, std::string>> defaults;
    for (const SettingInfo& info : kRegistry) {
        std::string value;
        std::string error;
        if (*info.defaultValue != '\0' &&
            CheckSetting(info.key, info.defaultValue, &value, &error)) {
            defaults.emplace_back(info.key, value);
        }
    }
    return defaults;
}

std::string RegistryAsConfigFile() {
    std::ostringstream out;
    out << "# Molvex configuration: one \"key = value\" a line; '#' starts a comment line.\n"
           "# Every known setting is listed with its default; a setting left out keeps it.\n";
    for (const SettingInfo& info : kRegistry) {
        out << "\n# " << info.meaning << "\n# " << TypeName(info.type);
        const std::string range = Range(info);
        if (!range.empty()) out << ": " << range;
        out << "\n"
            << info.key << " =" << (*info.defaultValue ? " " : "") << info.defaultValue << "\n";
    }
    return out.str();
}

std::string RegistryAsMarkdown() {
    std::ostringstream out;
    out << "| key | read by | type | accepted values | default | meaning |\n"
           "|---|---|---|---|---|---|\n";
    for (const SettingInfo& info : kRegistry) {
        out << "| `" << info.key << "` | " << (info.reader == R::kModule ? "module" : "host")
            << " | " << TypeName(info.type) << " | " << Range(info) << " | "
            << (*info.defaultValue ? std::string("`") + info.defaultValue + "`" : "") << " | "
            << info.meaning << " |\n";
    }
    return out.str();
}

}  // namespace host

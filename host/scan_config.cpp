// Scan configuration: defaults, settings files and list files.
#include "host/scan_config.h"

#include <cerrno>
#include <cstring>
#include <fstream>

#include "host/settings_registry.h"

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

// Reads the next line without its end (LF or CRLF) and, on the first line, without a UTF-8
// byte-order mark.
bool NextLine(std::ifstream& in, int number, std::string* line) {
    if (!std::getline(in, *line)) return false;
    if (number == 1 && line->compare(0, 3, "\xEF\xBB\xBF") == 0) line->erase(0, 3);
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
    return RegistryDefaults();
}

bool ReadSettingsFile(const std::string& path, SettingList* settings, std::string* error) {
    std::ifstream in;
    if (!OpenText(path, &in, error)) return false;
    std::string line;
    for (int number = 1; NextLine(in, number, &line); ++number) {
        std::string text = Trim(line);
        if (text.empty() || text[0] == '#' || text[0] == ';') continue;
        // A '#' after a blank starts a comment at the end of the line.
        const size_t comment = text.find_first_of("#");
        if (comment != std::string::npos && comment > 0 &&
            (text[comment - 1] == ' ' || text[comment - 1] == '\t')) {
            text = Trim(text.substr(0, comment));
        }
        std::pair<std::string, std::string> setting;
        if (!ParseSetting(text, &setting, error)) {
            *error = path + ":" + std::to_string(number) + ": " + *error;
            return false;
        }
        settings->push_back(std::move(setting));
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
        *error = "expected \"key = value\", got \"" + text + "\"";
        return false;
    }
    std::string value;
    if (!CheckSetting(key, Trim(text.substr(equals + 1)), &value, error)) return false;
    *setting = {key, value};
    return true;
}

bool ReadListFile(const std::string& path, std::vector<std::string>* expressions,
                  std::string* error) {
    std::ifstream in;
    if (!OpenText(path, &in, error)) return false;
    std::string line;
    for (int number = 1; NextLine(in, number, &line); ++number) {
        const std::string text = Trim(line);
        if (!text.empty() && text[0] != '#') expressions->push_back(text);
    }
    if (in.bad()) {
        *error = path + ": read error";
        return false;
    }
    return true;
}

std::vector<std::string> SplitBlanks(const std::string& text) {
    std::vector<std::string> words;
    size_t start = 0;
    while ((start = text.find_first_not_of(" \t\r\n", start)) != std::string::npos) {
        const size_t end = text.find_first_of(" \t\r\n", start);
        words.push_back(text.substr(start, end - start));
        start = end;
    }
    return words;
}

std::string FolderOf(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

}  // namespace host

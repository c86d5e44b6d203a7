// Scan configuration of the reference host: the settings it hands the module (built-in defaults,
// a "key = value" settings file, single overrides) and the address lists it loads (text files,
// one expression per line). Plain functions over caller-owned values; any thread.
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace host {

typedef std::vector<std::pair<std::string, std::string>> SettingList;  // in order; last one wins

// What every scan needs whatever the settings file says: the folder of the companion libraries,
// the temporary folder and the folder of the URL list data files.
SettingList EssentialSettings(const std::string& libraryFolder, const std::string& tempFolder,
                              const std::string& dataFolder);

// The built-in defaults: all three filters and every test on, the URL filter on the bundled
// black list "urlbl.dat", oversized above 100 KiB, more than 30 percent Asian or Cyrillic
// characters counted as a hit.
SettingList DefaultSettings();

// Reads a settings file: "key = value" lines; blank lines and lines starting with "#" or ";"
// are skipped; blanks around key and value are trimmed. False with "path:line: reason" in *error
// for a line without "=" or with an empty key, or when the file cannot be read.
bool ReadSettingsFile(const std::string& path, SettingList* settings, std::string* error);

// One "KEY=VALUE" override (from the command line).
bool ParseSetting(const std::string& text, std::pair<std::string, std::string>* setting,
                  std::string* error);

// Reads an address list: one expression per line, trimmed; blank lines and "#" lines skipped.
bool ReadListFile(const std::string& path, std::vector<std::string>* expressions,
                  std::string* error);

// The folder part of a path ("." when there is none).
std::string FolderOf(const std::string& path);

}  // namespace host

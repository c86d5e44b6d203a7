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

// The built-in defaults of host/settings_registry.h: all three filters and every test on, the
// URL filter on the bundled black list "urlbl.dat", oversized above 100 KiB, more than 30
// percent Asian or Cyrillic characters counted as a hit, and the decision policy.
SettingList DefaultSettings();

// Reads a settings file: "key = value" lines; blank lines and lines starting with "#" or ";"
// are skipped, and so is the end of a line from a "#" that follows a blank; blanks around key and
// value are trimmed; a UTF-8 byte-order mark and CRLF line ends are taken as they come. Every key
// must be known and every value valid (ParseSetting). False with "path:line: reason" in *error, or
// when the file cannot be read.
bool ReadSettingsFile(const std::string& path, SettingList* settings, std::string* error);

// One "KEY=VALUE" setting, checked against the registry; the value comes back normalised
// (booleans as 0/1, sizes in bytes). False with the reason (the nearest known key for an
// unknown one).
bool ParseSetting(const std::string& text, std::pair<std::string, std::string>* setting,
                  std::string* error);

// Reads an address list: one expression per line, trimmed; blank lines and "#" lines skipped;
// a byte-order mark and CRLF line ends are taken as they come.
bool ReadListFile(const std::string& path, std::vector<std::string>* expressions,
                  std::string* error);

// The words of a text separated by blanks (space, tab, CR, LF), as the URL filter reads its list
// of file names.
std::vector<std::string> SplitBlanks(const std::string& text);

// The folder part of a path ("." when there is none).
std::string FolderOf(const std::string& path);

}  // namespace host

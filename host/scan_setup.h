// Scan setup shared by the host programs: the folders a host fills in where the configuration
// leaves them empty, the check of the URL lists the settings name, and the whole configuration
// of a daemon built from one configuration file. Plain functions over caller-owned values; any
// thread.
#pragma once

#include <string>
#include <vector>

#include "host/scan_config.h"
#include "host/scanner.h"

namespace host {

// The value a setting ends up with: the last one in the list, or "" when there is none.
std::string EffectiveSetting(const SettingList& settings, const std::string& key);

// Appends the folders the settings leave empty: the companions beside the module at
// `libraryPath`, $TMPDIR (else /tmp) for temporary files, `dataFolder` for the URL lists.
// Returns the keys it filled in.
std::vector<std::string> FillHostFolders(SettingList* settings, const std::string& libraryPath,
                                         const std::string& dataFolder);

// Checks every URL list the settings name and appends the list keys again with the lists that
// load. A list that does not load fails with *error naming it and why, or with `allowBad` is left
// out with a line in *warnings. *report gets one line per list that loads.
bool CheckUrlListSettings(SettingList* settings, bool allowBad, std::string* report,
                          std::vector<std::string>* warnings, std::string* error);

// A daemon's configuration: the registry's defaults, then `configFile` (none when empty), the
// folders (FillHostFolders), the sender lists the configuration names and the checked URL
// lists. False with *error naming the file or list at fault.
bool LoadHostConfig(const std::string& configFile, const std::string& libraryPath,
                    const std::string& dataFolder, ScanConfig* config, std::string* error);

}  // namespace host

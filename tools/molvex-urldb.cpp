// molvex-urldb: builds, inspects and queries the URL list data files that the URL filter loads.
//
//   molvex-urldb build [--domains FILE] [--subdomains FILE] [--urls FILE] [--follow-symlinks]
//                      -o OUT
//   molvex-urldb info FILE
//   molvex-urldb check FILE KEY|URL...
//
// Text lists hold one entry per line; blank lines and lines starting with "#" are skipped and
// surrounding blanks are trimmed. Entries are normalised by the module's own key functions, the
// way the URL filter derives its keys from a URL: a scheme and a www prefix are dropped, the
// host is lower-cased (a path keeps its case); a domain or sub-domain entry is a host (a port
// and a final dot are dropped). An entry that can never match is reported with its file and
// line: one with a path or no host is skipped, a domain entry that is not a registrable domain
// is kept (it still matches sender domains). check takes keys as stored, or URLs ("scheme://"),
// whose three keys it derives and looks up.
// build writes a new file beside OUT and renames it over OUT: an OUT that exists must be a
// regular file, and a symbolic link is only written through with --follow-symlinks.

#include <getopt.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <filesystem>
#include <fstream>
#include <string>
#include <unordered_set>
#include <vector>

#include "common/ascii.h"
#include "host/cli.h"
#include "host/url_lists.h"
#include "common/asfile.h"
#include "common/binstreamer.h"
#include "common/platform.h"
#include "engines/urldb2/urldb2.h"
#include "engines/urlparser/urlparser.h"
#include "host/message_builder.h"

namespace {

using ascommon::sstring;

const char* const kSectionNames[3] = {"URLs", "sub-domains", "domains"};

const char kUsage[] =
    "usage: molvex-urldb build [--domains FILE] [--subdomains FILE] [--urls FILE]\n"
    "                          [--follow-symlinks] -o OUT\n"
    "       molvex-urldb info FILE\n"
    "       molvex-urldb check FILE KEY|URL...\n"
    "Builds, inspects and queries the URL list data files of the URL filter.\n"
    "  build   compiles text lists (one entry a line, '#' comments) into OUT, written beside it\n"
    "          and renamed over it; entries are normalised as the filter derives its keys\n"
    "  info    checks a data file (digest, counts) and prints its counts\n"
    "  check   prints which sections list each key, or for a URL its three keys\n"
    "  -h, --help, --version\n";

int Usage(const std::string& problem) {
    return host::UsageError("molvex-urldb", problem);
}

int Fail(const std::string& message) {
    std::fprintf(stderr, "molvex-urldb: %s\n", message.c_str());
    return 1;
}

std::string TempFolder() {
    const char* folder = std::getenv("TMPDIR");
    return folder && *folder ? folder : "/tmp";
}

std::string Trim(const std::string& line) {
    const char* blanks = " \t\r\n";
    const size_t first = line.find_first_not_of(blanks);
    if (first == std::string::npos) return std::string();
    return line.substr(first, line.find_last_not_of(blanks) - first + 1);
}

// One section of a data file being built: keys in first-seen order, duplicates counted.
struct Section {
    std::vector<uint64_t> keys;
    std::unordered_set<uint64_t> seen;  // hashed: constant time per entry for long lists
    size_t duplicates = 0;
    size_t skipped = 0;  // entries that can never match
};

enum ListKind { kUrlList = 0, kSubDomainList = 1, kDomainList = 2 };  // the file's section order

// The three keys the URL filter derives from a URL, computed by the module's own functions.
struct UrlKeys {
    std::string domain, subDomain, url;
};

UrlKeys DeriveKeys(const std::string& url) {
    nsEmlComponents::ParsedURL record;
    host::FillParsedURL(url, &record);
    UrlKeys keys;
    const auto text = [](const sstring& key) {
        return key.c_str() ? std::string(key.c_str(), key.length()) : std::string();
    };
    keys.subDomain = text(nsEmlComponents::GetSubDomain(record));  // sets the www flag first
    keys.domain = text(nsEmlComponents::GetDomain(record));
    uint64_t length = 0;
    const char* fromHost = nsEmlComponents::UrlFromHost(record, &length);
    keys.url.assign(fromHost, length);
    return keys;
}

// An entry as the filter's keys hold it, or false with *problem when it can never match (then
// *entry is left as it was). A domain entry that is not a registrable domain is normalised and
// kept, with *problem set.
bool Normalise(ListKind kind, std::string* entry, std::string* problem) {
    problem->clear();
    std::string text = *entry;
    const size_t scheme = text.find("://");
    if (kind != kUrlList) {
        if (scheme != std::string::npos) text.erase(0, scheme + 3);
        if (text.find_first_of("/?#") != std::string::npos) {
            *problem = "has a path, but a domain or sub-domain entry is a host";
            return false;
        }
    }
    const UrlKeys keys = DeriveKeys(text);
    if (keys.subDomain.empty()) {
        *problem = "has no host (or a port out of range)";
        return false;
    }
    if (kind == kUrlList) {
        // The host is the key's start, up to the path, query or fragment.
        const size_t hostEnd = std::min(keys.url.find_first_of("/?#"), keys.url.size());
        *entry = keys.url;
        ascommon::AsciiLowerInPlace(&(*entry)[0], hostEnd);
        return true;
    }
    std::string host = keys.subDomain;
    ascommon::AsciiLowerInPlace(host);
    if (kind == kSubDomainList) {
        *entry = host;
        return true;
    }
    if (keys.domain.empty()) {
        *problem = "gives no domain key (not valid UTF-8)";
        return false;
    }
    // The domain key is the end of the host folded to lower case: the same length when whole.
    if (keys.domain.size() != keys.subDomain.size()) {
        *problem = "is not a registrable domain (a URL's domain key would be " + keys.domain +
                   "); kept for sender domains";
        *entry = host;
        return true;
    }
    *entry = keys.domain;
    return true;
}

bool ReadList(const std::string& path, ListKind kind, Section* section, std::string* error) {
    std::ifstream in(path);
    if (!in) {
        *error = "cannot read " + path + ": " + std::strerror(errno);
        return false;
    }
    std::string line;
    for (size_t number = 1; std::getline(in, line); ++number) {
        if (number == 1 && line.compare(0, 3, "\xEF\xBB\xBF") == 0) line.erase(0, 3);
        std::string entry = Trim(line);
        if (entry.empty() || entry[0] == '#') continue;
        const std::string written = entry;
        std::string problem;
        const bool kept = Normalise(kind, &entry, &problem);
        if (!problem.empty()) {
            std::fprintf(stderr, "molvex-urldb: %s:%zu: %s %s%s\n", path.c_str(), number,
                         written.c_str(), problem.c_str(), kept ? "" : "; skipped");
        }
        if (!kept) {
            ++section->skipped;
            continue;
        }
        const uint64_t key = ascommon::DigestKey(entry.data(), entry.size());
        if (section->seen.insert(key).second) {
            section->keys.push_back(key);
        } else {
            ++section->duplicates;
        }
    }
    if (in.bad()) {
        *error = "error while reading " + path;
        return false;
    }
    return true;
}

namespace fs = std::filesystem;

// The file that building OUT replaces: OUT itself, or with followLinks the file its symbolic
// links lead to. False with *error when that is something other than a regular file, or a link
// that is not to be followed.
bool OutputTarget(const std::string& out, bool followLinks, std::string* target,
                  std::string* error) {
    std::error_code ec;
    *target = out;
    fs::file_status status = fs::symlink_status(out, ec);
    if (fs::is_symlink(status)) {
        if (!followLinks) {
            *error = out + " is a symbolic link (give --follow-symlinks to write to its target)";
            return false;
        }
        const fs::path resolved = fs::weakly_canonical(out, ec);
        if (ec) {
            *error = "cannot follow " + out + ": " + ec.message();
            return false;
        }
        *target = resolved.string();
        status = fs::symlink_status(resolved, ec);
    }
    if (ec && ec != std::errc::no_such_file_or_directory) {
        *error = "cannot write " + out + ": " + ec.message();
        return false;
    }
    if (fs::exists(status) && !fs::is_regular_file(status)) {
        *error = "cannot write " + out + ": it exists and is not a regular file";
        return false;
    }
    return true;
}

// Writes the data file to a new temporary file beside OUT and renames it over OUT, so a failure
// never leaves a partial file under the final name; the temporary file goes on any failure.
int Build(const std::string lists[3], const std::string& out, bool followLinks) {
    Section sections[3];
    bool any = false;
    for (int i = 0; i < 3; ++i) {
        if (lists[i].empty()) continue;
        any = true;
        std::string error;
        if (!ReadList(lists[i], static_cast<ListKind>(i), &sections[i], &error)) return Fail(error);
    }
    if (!any) return Fail("build needs at least one of --domains, --subdomains, --urls");
    std::string target, error;
    if (!OutputTarget(out, followLinks, &target, &error)) return Fail(error);
    const fs::path targetPath(target);
    const std::string folder =
        targetPath.has_parent_path() ? targetPath.parent_path().string() : std::string(".");
    const std::string prefix = "." + targetPath.filename().string() + ".";
    char name[4096];
    size_t length = 0;
    if (!platform::CreateUniqueFileUtf8(folder.c_str(), prefix.c_str(), name, sizeof name,
                                        &length)) {
        return Fail("cannot write " + out + ": cannot create a file in " + folder + ": " +
                    std::strerror(errno));
    }
    const std::string partial(name, length);
    try {
        ascommon::CBinaryStreamer writer(sstring(partial.c_str()), 1, sstring(TempFolder().c_str()),
                                         0);
        writer.WriteUInt32(2);
        for (const Section& section : sections) {
            writer.WriteUInt32(static_cast<uint32_t>(section.keys.size()));
        }
        for (const Section& section : sections) {
            for (uint64_t key : section.keys) {
                writer.WriteUInt32(static_cast<uint32_t>(key));
                writer.WriteUInt32(static_cast<uint32_t>(key >> 32));
            }
        }
        writer.Close();
    } catch (const std::exception& e) {
        platform::RemoveFileUtf8(partial.c_str());
        return Fail("cannot write " + out + ": " + e.what());
    }
    // The new file gets the permissions of the one it replaces, or the usual rw-r--r--.
    std::error_code ec;
    const fs::file_status old = fs::status(targetPath, ec);
    fs::permissions(partial,
                    fs::exists(old) ? old.permissions()
                                    : fs::perms::owner_read | fs::perms::owner_write |
                                          fs::perms::group_read | fs::perms::others_read,
                    ec);
    if (std::rename(partial.c_str(), target.c_str()) != 0) {
        const std::string reason = std::strerror(errno);
        platform::RemoveFileUtf8(partial.c_str());
        return Fail("cannot write " + out + ": " + reason);
    }
    size_t duplicates = 0, skipped = 0;
    for (const Section& section : sections) {
        duplicates += section.duplicates;
        skipped += section.skipped;
    }
    std::printf("%s: %zu domains, %zu sub-domains, %zu URLs written; %zu duplicates dropped",
                out.c_str(), sections[2].keys.size(), sections[1].keys.size(),
                sections[0].keys.size(), duplicates);
    if (skipped != 0) std::printf("; %zu entries that can never match skipped", skipped);
    std::printf("\n");
    return 0;
}

// Reads a whole data file as the module does (digest, temporary copy, counts) and reports it.
int Info(const std::string& path) {
    host::UrlListCounts counts;
    std::string reason;
    if (!host::InspectUrlList(path, TempFolder(), &counts, &reason))
        return Fail(path + ": " + reason);
    std::printf("%s: digest ok; %u domains, %u sub-domains, %u URLs\n", path.c_str(),
                counts.domains, counts.subDomains, counts.urls);
    return 0;
}

int Check(const std::string& path, const std::vector<std::string>& keys) {
    if (!ascommon::FileExists(path.c_str())) return Fail(path + ": no such file");
    ascommon::CURLDB2 database;
    const int32_t result =
        database.LoadDataFile(sstring(path.c_str()), sstring(TempFolder().c_str()));
    if (result != 0) {
        return Fail(path + ": not a valid data file (code " + std::to_string(result) + ")");
    }
    for (const std::string& key : keys) {
        if (key.find("://") != std::string::npos) {
            // A URL: its three keys, each looked up in its own section.
            const UrlKeys derived = DeriveKeys(key);
            const auto show = [&](const char* name, const std::string& text,
                                  bool (ascommon::CURLDB2::*contains)(const char*, size_t)) {
                if (text.empty()) return std::string(name) + " (none)";
                const bool listed = (database.*contains)(text.data(), text.size());
                return std::string(name) + " " + text + (listed ? " listed" : " not listed");
            };
            std::printf("%s: %s; %s; %s\n", key.c_str(),
                        show("domain", derived.domain, &ascommon::CURLDB2::ContainsDomain).c_str(),
                        show("sub-domain", derived.subDomain, &ascommon::CURLDB2::ContainsSubDomain)
                            .c_str(),
                        show("URL", derived.url, &ascommon::CURLDB2::ContainsURL).c_str());
            continue;
        }
        std::string where;
        auto note = [&](bool listed, int section) {
            if (!listed) return;
            if (!where.empty()) where += ", ";
            where += kSectionNames[section];
        };
        note(database.ContainsURL(key.data(), key.size()), 0);
        note(database.ContainsSubDomain(key.data(), key.size()), 1);
        note(database.ContainsDomain(key.data(), key.size()), 2);
        std::printf("%s: %s\n", key.c_str(), where.empty() ? "not listed" : where.c_str());
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    enum { kFollow = 256, kVersion };
    static const option kLong[] = {{"domains", required_argument, nullptr, 'd'},
                                   {"subdomains", required_argument, nullptr, 's'},
                                   {"urls", required_argument, nullptr, 'u'},
                                   {"output", required_argument, nullptr, 'o'},
                                   {"follow-symlinks", no_argument, nullptr, kFollow},
                                   {"help", no_argument, nullptr, 'h'},
                                   {"version", no_argument, nullptr, kVersion},
                                   {nullptr, 0, nullptr, 0}};
    std::string lists[3];  // URLs, sub-domains, domains: the file's section order
    std::string out;
    bool followLinks = false;
    opterr = 0;
    for (int c; (c = getopt_long(argc, argv, ":d:s:u:o:h", kLong, nullptr)) != -1;) {
        switch (c) {
            case 'u':
                lists[0] = optarg;
                break;
            case 's':
                lists[1] = optarg;
                break;
            case 'd':
                lists[2] = optarg;
                break;
            case 'o':
                out = optarg;
                break;
            case kFollow:
                followLinks = true;
                break;
            case 'h':
                std::fputs(kUsage, stdout);
                return 0;
            case kVersion:
                host::PrintVersion("molvex-urldb");
                return 0;
            default:
                return host::OptionError("molvex-urldb", c, argv);
        }
    }
    const std::vector<std::string> words(argv + optind, argv + argc);
    const std::string command = words.empty() ? "" : words[0];
    if (command == "build" && words.size() == 1) {
        if (out.empty()) return Usage("build needs -o OUT");
        return Build(lists, out, followLinks);
    }
    if (command != "build" && (!out.empty() || followLinks || !lists[0].empty() ||
                               !lists[1].empty() || !lists[2].empty())) {
        return Usage("the list and output options go with build");
    }
    if (command == "info" && words.size() == 2) return Info(words[1]);
    if (command == "check" && words.size() >= 3) {
        return Check(words[1], std::vector<std::string>(words.begin() + 2, words.end()));
    }
    return Usage(command.empty() ? "no command: build, info or check" : "bad use of " + command);
}

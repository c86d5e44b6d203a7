// molvex-scan: the reference host. Scans messages, folders of them and mbox files with the three
// filters of libmolvex, applies the decision policy and prints one line (or JSON object) per
// message in input order, or writes one message with the X-Molvex header fields added.
//
//   molvex-scan [options] PATH...     (PATH "-" is standard input)
//
// Exit status: 0 when every input was scanned, 1 when an input could not be read or scanned
// (the others are still scanned), when nothing was scanned, on a write error, or when the module
// or a list could not be set up, 2 on bad usage; with --exit-status, 20/21/22 for the most
// severe decision tag/quarantine/reject (errors keep 1).
#include <getopt.h>
#include <malloc.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "host/cli.h"
#include "host/install_layout.h"
#include "host/mail_inputs.h"
#include "host/policy.h"
#include "host/scan_config.h"
#include "host/scan_report.h"
#include "host/scan_setup.h"
#include "host/scanner.h"
#include "host/settings_registry.h"

namespace {

const char kUsage[] =
    "usage: molvex-scan [options] PATH...\n"
    "Scans messages, folders of them (recursively) and mbox files with libmolvex; PATH - is\n"
    "standard input.\n"
    "  -j, --jobs N            scan with N threads (default 1); output stays in input order\n"
    "      --json              one JSON object per message (docs/scan-output.md)\n"
    "      --extract-urls      print the URL keys of every message instead of the verdicts\n"
    "      --headers           write the one message given with X-Molvex-Status and\n"
    "                          X-Molvex-Report added\n"
    "      --exit-status       exit 20, 21 or 22 when a message is tagged, quarantined or\n"
    "                          rejected (errors still exit 1)\n"
    "  -c, --config FILE       \"key = value\" configuration (see --print-config)\n"
    "      --set KEY=VALUE     one setting, applied after the file (repeatable)\n"
    "      --blacklist FILE    sender black list, one expression a line\n"
    "      --whitelist FILE    sender white list, one expression a line\n"
    "      --url-blacklist FILE  URL black-list data file (repeatable; molvex-urldb builds it)\n"
    "      --url-whitelist FILE  URL white-list data file\n"
    "      --allow-bad-lists   scan without a URL list that does not load, instead of failing\n"
    "      --max-message-size SIZE  read at most SIZE bytes of a message (K, M, G; default 64M)\n"
    "      --library PATH      the module (default: the one installed or built with this\n"
    "                          tool; environment: MOLVEX_LIBRARY, MOLVEX_DATA_DIR)\n"
    "      --print-config      print the effective configuration and lists, then exit\n"
    "      --print-defaults[=conf|markdown]  every setting with its default, as a\n"
    "                          configuration file or as the reference table; then exit\n"
    "  -v, --verbose N         module trace lines up to level N (0-4) and the charset each\n"
    "                          text part was read in, on standard error\n"
    "      --progress, --no-progress  the progress bar always / never (default: on a terminal)\n"
    "  -q, --quiet             no summary\n"
    "  -h, --help              this text\n"
    "      --version           the version\n"
    "Without a configuration file or list options the bundled sample address lists are used.\n";

int Usage(const std::string& problem) {
    return host::UsageError("molvex-scan", problem);
}

enum ExitStatus : int {
    kExitOk = 0,
    kExitError = 1,
    kExitUsage = 2,
    kExitTagged = 20,
    kExitQuarantined = 21,
    kExitRejected = 22,
};

struct Options {
    int threads = 1;
    bool json = false;
    bool extractUrls = false;
    bool headers = false;
    bool exitStatus = false;
    bool quiet = false;
    bool printConfig = false;
    bool allowBadLists = false;
    int progress = -1;  // -1: automatic
    std::string configFile;
    std::string blacklistFile;
    std::string whitelistFile;
    std::vector<std::string> urlBlacklists;
    std::string urlWhitelist;
    std::vector<std::pair<std::string, std::string>> overrides;  // with their sources
    std::vector<std::string> overrideSources;
    std::vector<std::string> paths;
    host::ScanConfig config;
    std::map<std::string, std::string> sources;  // where each setting's value came from
    uint64_t maxMessageSize = 0;
    std::string tempFolder;
    std::string dataFolder;
    host::InstallLayout layout = host::FindInstallLayout();
    bool sampleLists = false;  // the bundled sample sender lists are used
};

// One message to scan, or an input that failed before scanning.
struct Job {
    uint64_t sequence = 0;
    std::string name;
    std::string content;  // the message, or its first bytes when it is over the limit
    uint64_t size = 0;    // the whole message's size
    bool inFolder = false;
    std::string error;  // set: nothing to scan
};

// Writes to standard output and remembers the first failure: a closed pipe ends the run quietly,
// any other write error ends it with a message and exit status 1.
class Output {
  public:
    bool Write(const std::string& text) {
        if (m_failed) return false;
        if (std::fwrite(text.data(), 1, text.size(), stdout) == text.size()) return true;
        Fail(errno);
        return false;
    }
    bool Flush() {
        if (m_failed) return false;
        if (std::fflush(stdout) == 0) return true;
        Fail(errno);
        return false;
    }
    bool failed() const { return m_failed; }
    bool closedPipe() const { return m_error == EPIPE; }
    int error() const { return m_error; }

  private:
    void Fail(int error) {
        m_failed = true;
        m_error = error;
    }
    std::atomic<bool> m_failed{false};
    int m_error = 0;
};

// Orders the results, prints them, keeps the counts and draws the progress bar (on standard
// error, a terminal; it stays when standard output goes elsewhere).
class Reporter {
  public:
    Reporter(const Options& options, const host::Policy& policy, Output& out, uint64_t totalBytes)
        : m_options(options),
          m_policy(policy),
          m_out(out),
          m_totalBytes(totalBytes),
          m_start(Clock::now()) {
        m_bar = options.progress == 1 || (options.progress == -1 && isatty(STDERR_FILENO));
        m_barSharesTerminal = isatty(STDOUT_FILENO);
    }

    // Formats the result on the calling thread, then prints whatever is next in input order.
    void Deliver(Job&& job, host::ScanResult&& result, std::string&& message) {
        Line line;
        if (!job.error.empty()) {
            result.ok = false;
            result.error = job.error;
        }
        // A file of a folder that holds no header is not a message: counted, not an error.
        line.notMessage = job.inFolder && !result.ok && result.error == "no header line found";
        line.failed = !result.ok && !line.notMessage;
        if (result.ok) line.verdict = m_policy.Decide(result);
        if (result.ok && m_options.config.traceLevel > 0) {
            for (const std::string& charset : result.charsets)
                line.errorText += job.name + ": " + charset + "\n";
        }
        if (line.notMessage) {
            if (m_options.config.traceLevel > 0) line.errorText = job.name + ": not a message\n";
        } else if (m_options.extractUrls) {
            if (line.failed) {
                line.errorText = host::ScanTextLine(job.name, result, line.verdict);
            } else {
                line.text = m_options.json ? host::ExtractedJson(job.name, result)
                                           : host::ExtractedText(job.name, result);
            }
        } else if (m_options.headers) {
            // A message that could not be scanned still goes on, as it came.
            if (line.failed) line.errorText = host::ScanTextLine(job.name, result, line.verdict);
            line.text = line.failed ? std::move(message)
                                    : host::WithStatusHeaders(message, result, line.verdict);
        } else {
            line.text = m_options.json ? host::ScanJsonLine(job.name, result, line.verdict)
                                       : host::ScanTextLine(job.name, result, line.verdict);
        }
        line.result = std::move(result);
        std::lock_guard<std::mutex> lock(m_mutex);
        m_pending.emplace(job.sequence, std::move(line));
        for (auto it = m_pending.find(m_next); it != m_pending.end(); it = m_pending.find(m_next)) {
            Print(it->second);
            m_pending.erase(it);
            ++m_next;
        }
        DrawBar(false);
    }

    void AddBytes(uint64_t bytes) { m_doneBytes += bytes; }
    bool stopped() const { return m_out.failed(); }

    // Prints the summary; returns the exit status.
    int Finish() {
        std::lock_guard<std::mutex> lock(m_mutex);
        DrawBar(true);
        m_out.Flush();
        if (m_out.failed()) {
            if (m_out.closedPipe()) return kExitOk;
            std::fprintf(stderr, "molvex-scan: cannot write the results: %s\n",
                         std::strerror(m_out.error()));
            return kExitError;
        }
        const uint64_t scanned = m_messages - m_errors - m_notMessages;
        const double seconds = std::chrono::duration<double>(Clock::now() - m_start).count();
        if (!m_options.quiet) {
            std::fprintf(stderr, "scanned %llu messages (%llu errors) in %.2f s: %.0f messages/s",
                         static_cast<unsigned long long>(scanned + m_errors),
                         static_cast<unsigned long long>(m_errors), seconds,
                         seconds > 0 ? m_messages / seconds : 0.0);
            if (scanned > 0) {
                std::fprintf(stderr, "; per message: parsing %.1f us, module %.1f us",
                             m_parseSeconds / scanned * 1e6, m_moduleSeconds / scanned * 1e6);
            }
            if (m_truncated) {
                std::fprintf(stderr, "; %llu over the size limit, scanned in part",
                             static_cast<unsigned long long>(m_truncated));
            }
            if (m_notMessages) {
                std::fprintf(stderr, "; %llu files that are not messages skipped",
                             static_cast<unsigned long long>(m_notMessages));
            }
            std::fprintf(stderr, "\ndecisions:");
            for (int d = 0; d < 4; ++d) {
                std::fprintf(stderr, "%s %s %llu", d ? "," : "",
                             host::DecisionName(static_cast<host::Decision>(d)),
                             static_cast<unsigned long long>(m_decisions[d]));
            }
            std::fprintf(stderr, "\nhits:");
            for (size_t i = 0; i < host::kVerdictCount; ++i) {
                std::fprintf(stderr, "%s %s %llu", i ? "," : "", host::kVerdictKeys[i].name,
                             static_cast<unsigned long long>(m_hits[i]));
            }
            std::fprintf(stderr, "\n");
        }
        if (m_errors > 0) return kExitError;
        if (scanned == 0) {
            std::fprintf(stderr, "molvex-scan: no message was scanned (%llu inputs)\n",
                         static_cast<unsigned long long>(m_messages));
            return kExitError;
        }
        if (m_options.exitStatus && m_worst != host::Decision::kAccept) {
            return kExitTagged + static_cast<int>(m_worst) - 1;
        }
        return kExitOk;
    }

  private:
    using Clock = std::chrono::steady_clock;

    struct Line {
        std::string text;       // for standard output
        std::string errorText;  // for standard error
        bool failed = false;
        bool notMessage = false;
        host::ScanResult result;
        host::PolicyVerdict verdict;
    };

    void Print(const Line& line) {
        ++m_messages;
        ClearBar();
        if (!line.text.empty()) m_out.Write(line.text);
        if (!line.errorText.empty()) std::fputs(line.errorText.c_str(), stderr);
        if (line.notMessage) {
            ++m_notMessages;
            return;
        }
        if (line.failed) {
            ++m_errors;
            return;
        }
        if (!line.result.truncated.empty()) ++m_truncated;
        m_parseSeconds += line.result.parseSeconds;
        m_moduleSeconds += line.result.moduleSeconds;
        for (size_t i = 0; i < host::kVerdictCount; ++i) m_hits[i] += line.result.Hit(i) ? 1 : 0;
        ++m_decisions[static_cast<int>(line.verdict.decision)];
        if (line.verdict.decision > m_worst) m_worst = line.verdict.decision;
    }

    // The bar shares the terminal with the results only when both go to it.
    void ClearBar() {
        if (m_barShown && m_barSharesTerminal) {
            m_out.Flush();
            std::fputs("\r\033[K", stderr);
            m_barShown = false;
        }
    }

    // Redrawn at most ten times a second, and only once the run has lasted a second.
    void DrawBar(bool final) {
        if (!m_bar) return;
        const auto now = Clock::now();
        if (final) {
            if (m_barShown) std::fputs("\r\033[K", stderr);
            m_barShown = false;
            return;
        }
        if (now - m_start < std::chrono::seconds(1) ||
            now - m_lastDraw < std::chrono::milliseconds(100)) {
            return;
        }
        m_lastDraw = now;
        const double done = m_totalBytes ? static_cast<double>(m_doneBytes) / m_totalBytes : 1.0;
        const int width = 30;
        const int filled = static_cast<int>(width * (done > 1 ? 1 : done));
        const double seconds = std::chrono::duration<double>(now - m_start).count();
        if (m_barSharesTerminal) m_out.Flush();
        std::fprintf(stderr, "\r[%.*s%*s] %3.0f%% %llu messages, %.0f/s\033[K", filled,
                     "==============================", width - filled, "", done * 100,
                     static_cast<unsigned long long>(m_messages), m_messages / seconds);
        m_barShown = true;
    }

    const Options& m_options;
    const host::Policy& m_policy;
    Output& m_out;
    const uint64_t m_totalBytes;
    std::atomic<uint64_t> m_doneBytes{0};
    const Clock::time_point m_start;
    Clock::time_point m_lastDraw{};
    bool m_bar = false;
    bool m_barSharesTerminal = false;
    bool m_barShown = false;

    std::mutex m_mutex;
    std::map<uint64_t, Line> m_pending;
    uint64_t m_next = 0;
    uint64_t m_messages = 0;  // inputs and messages delivered
    uint64_t m_errors = 0;
    uint64_t m_notMessages = 0;
    uint64_t m_truncated = 0;  // scanned in part: over the size limit
    uint64_t m_hits[host::kVerdictCount] = {};
    uint64_t m_decisions[4] = {};
    host::Decision m_worst = host::Decision::kAccept;
    double m_parseSeconds = 0;
    double m_moduleSeconds = 0;
};

// A bounded queue of jobs between the reading thread and the scanning threads.
class JobQueue {
  public:
    explicit JobQueue(uint64_t maxBytes) : m_maxBytes(maxBytes) {}

    void Push(Job&& job) {
        std::unique_lock<std::mutex> lock(m_mutex);
        m_space.wait(lock, [&] { return m_bytes < m_maxBytes || m_jobs.empty(); });
        m_bytes += job.content.size();
        m_jobs.push_back(std::move(job));
        m_ready.notify_one();
    }

    bool Pop(Job* job) {
        std::unique_lock<std::mutex> lock(m_mutex);
        m_ready.wait(lock, [&] { return !m_jobs.empty() || m_closed; });
        if (m_jobs.empty()) return false;
        *job = std::move(m_jobs.front());
        m_jobs.pop_front();
        m_bytes -= job->content.size();
        m_space.notify_one();
        return true;
    }

    void Close() {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_closed = true;
        m_ready.notify_all();
    }

  private:
    const uint64_t m_maxBytes;
    std::mutex m_mutex;
    std::condition_variable m_ready, m_space;
    std::deque<Job> m_jobs;
    uint64_t m_bytes = 0;
    bool m_closed = false;
};

// Parses the command line; returns -1 to go on, else the exit status.
int ParseOptions(int argc, char** argv, Options* o) {
    enum {
        kJson = 256,
        kExtractUrls,
        kHeaders,
        kExitStatusOption,
        kSet,
        kBlacklist,
        kWhitelist,
        kUrlBlacklist,
        kUrlWhitelist,
        kAllowBadLists,
        kMaxMessageSize,
        kLibrary,
        kPrintConfig,
        kProgress,
        kNoProgress,
        kVersion,
        kPrintDefaults,
    };
    static const option kLong[] = {
        {"jobs", required_argument, nullptr, 'j'},
        {"json", no_argument, nullptr, kJson},
        {"extract-urls", no_argument, nullptr, kExtractUrls},
        {"headers", no_argument, nullptr, kHeaders},
        {"exit-status", no_argument, nullptr, kExitStatusOption},
        {"config", required_argument, nullptr, 'c'},
        {"settings", required_argument, nullptr, 'c'},
        {"set", required_argument, nullptr, kSet},
        {"blacklist", required_argument, nullptr, kBlacklist},
        {"whitelist", required_argument, nullptr, kWhitelist},
        {"url-blacklist", required_argument, nullptr, kUrlBlacklist},
        {"url-whitelist", required_argument, nullptr, kUrlWhitelist},
        {"allow-bad-lists", no_argument, nullptr, kAllowBadLists},
        {"max-message-size", required_argument, nullptr, kMaxMessageSize},
        {"library", required_argument, nullptr, kLibrary},
        {"print-config", no_argument, nullptr, kPrintConfig},
        {"print-defaults", optional_argument, nullptr, kPrintDefaults},
        {"verbose", required_argument, nullptr, 'v'},
        {"progress", no_argument, nullptr, kProgress},
        {"no-progress", no_argument, nullptr, kNoProgress},
        {"quiet", no_argument, nullptr, 'q'},
        {"help", no_argument, nullptr, 'h'},
        {"version", no_argument, nullptr, kVersion},
        {nullptr, 0, nullptr, 0},
    };
    opterr = 0;
    int c;
    int64_t number = 0;
    std::string problem;
    while ((c = getopt_long(argc, argv, ":j:c:v:qh", kLong, nullptr)) != -1) {
        switch (c) {
            case 'j':
                if (!host::ParseInteger(optarg, 1, 256, &number))
                    return Usage(std::string("-j takes 1 to 256, not '") + optarg + "'");
                o->threads = static_cast<int>(number);
                break;
            case kJson:
                o->json = true;
                break;
            case kExtractUrls:
                o->extractUrls = true;
                break;
            case kHeaders:
                o->headers = true;
                break;
            case kExitStatusOption:
                o->exitStatus = true;
                break;
            case 'c':
                o->configFile = optarg;
                break;
            case kSet: {
                std::pair<std::string, std::string> setting;
                if (!host::ParseSetting(optarg, &setting, &problem))
                    return Usage("--set " + std::string(optarg) + ": " + problem);
                o->overrides.push_back(setting);
                o->overrideSources.push_back("--set");
                break;
            }
            case kBlacklist:
                o->blacklistFile = optarg;
                break;
            case kWhitelist:
                o->whitelistFile = optarg;
                break;
            case kUrlBlacklist:
                o->urlBlacklists.push_back(optarg);
                break;
            case kUrlWhitelist:
                o->urlWhitelist = optarg;
                break;
            case kAllowBadLists:
                o->allowBadLists = true;
                break;
            case kMaxMessageSize: {
                std::pair<std::string, std::string> setting;
                if (!host::ParseSetting(std::string("/molvex/scan/MaxMessageSize=") + optarg,
                                        &setting, &problem)) {
                    return Usage("--max-message-size " + std::string(optarg) + ": " + problem);
                }
                o->overrides.push_back(setting);
                o->overrideSources.push_back("--max-message-size");
                break;
            }
            case kLibrary:
                o->config.libraryPath = optarg;
                break;
            case kPrintConfig:
                o->printConfig = true;
                break;
            case kPrintDefaults:
                if (optarg != nullptr && std::strcmp(optarg, "markdown") == 0) {
                    std::fputs(host::RegistryAsMarkdown().c_str(), stdout);
                } else if (optarg == nullptr || std::strcmp(optarg, "conf") == 0) {
                    std::fputs(host::RegistryAsConfigFile().c_str(), stdout);
                } else {
                    return Usage("--print-defaults takes conf or markdown");
                }
                return kExitOk;
            case 'v':
                if (!host::ParseInteger(optarg, 0, 4, &number))
                    return Usage(std::string("-v takes a level from 0 to 4, not '") + optarg + "'");
                o->config.traceLevel = static_cast<int>(number);
                break;
            case kProgress:
            case kNoProgress:
                o->progress = c == kProgress ? 1 : 0;
                break;
            case 'q':
                o->quiet = true;
                break;
            case 'h':
                std::fputs(kUsage, stdout);
                return kExitOk;
            case kVersion:
                host::PrintVersion("molvex-scan");
                return kExitOk;
            default:
                return host::OptionError("molvex-scan", c, argv);
        }
    }
    for (int i = optind; i < argc; ++i) o->paths.push_back(argv[i]);
    if (o->paths.empty() && !o->printConfig) return Usage("no PATH to scan");
    if (o->headers && (o->json || o->extractUrls)) {
        return Usage(
            "--headers writes the message itself: it goes with neither --json nor "
            "--extract-urls");
    }
    return -1;
}

std::string Absolute(const std::string& path) {
    std::error_code error;
    const std::filesystem::path absolute = std::filesystem::absolute(path, error);
    return error ? path : absolute.lexically_normal().string();
}

using host::EffectiveSetting;

// Settings: the registry's defaults, the configuration file, the overrides, then the folders
// that the host fills in where the configuration leaves them empty, and the URL lists given as
// options. Records where each value came from.
bool BuildSettings(Options* o, std::string* error) {
    host::ScanConfig& c = o->config;
    if (c.libraryPath.empty()) c.libraryPath = o->layout.module;
    host::SettingList settings;
    auto add = [&](const std::string& key, const std::string& value, const std::string& source) {
        settings.emplace_back(key, value);
        o->sources[key] = source;
    };
    for (const auto& [key, value] : host::DefaultSettings()) add(key, value, "default");
    if (!o->configFile.empty()) {
        host::SettingList file;
        if (!host::ReadSettingsFile(o->configFile, &file, error)) return false;
        for (const auto& [key, value] : file) add(key, value, o->configFile);
    }
    for (size_t i = 0; i < o->overrides.size(); ++i) {
        add(o->overrides[i].first, o->overrides[i].second, o->overrideSources[i]);
    }
    // Folders left empty are the host's to fill in.
    for (const std::string& key : host::FillHostFolders(&settings, c.libraryPath, o->layout.data))
        o->sources[key] = "built-in";
    // URL lists given by path: the module reads names inside one data folder.
    if (!o->urlBlacklists.empty() || !o->urlWhitelist.empty()) {
        const std::string first =
            Absolute(o->urlBlacklists.empty() ? o->urlWhitelist : o->urlBlacklists.front());
        const std::filesystem::path folder = std::filesystem::path(first).parent_path();
        auto name = [&](const std::string& path) {
            return std::filesystem::path(Absolute(path)).lexically_relative(folder).string();
        };
        std::string black;
        for (const std::string& path : o->urlBlacklists) {
            if (path.find_first_of(" \t\r\n") != std::string::npos) {
                *error = "URL list " + path + ": a path with blanks cannot be handed to the module";
                return false;
            }
            black += (black.empty() ? "" : " ") + name(path);
        }
        add("/eml/global/SharedDataPath", folder.string(), "--url-blacklist/--url-whitelist");
        add("/eml/filter/url/filesbl", black, "--url-blacklist");
        add("/eml/filter/url/filewl", o->urlWhitelist.empty() ? "" : name(o->urlWhitelist),
            "--url-whitelist");
    }
    c.settings = std::move(settings);
    o->tempFolder = EffectiveSetting(c.settings, "/eml/global/GlobalTempPath");
    o->dataFolder = EffectiveSetting(c.settings, "/eml/global/SharedDataPath");
    o->maxMessageSize = std::strtoull(
        EffectiveSetting(c.settings, "/molvex/scan/MaxMessageSize").c_str(), nullptr, 10);
    return true;
}

// The sender lists: the options, else the configuration's files, else (with no configuration
// file at all) the bundled samples.
bool LoadSenderLists(Options* o, std::string* error) {
    host::ScanConfig& c = o->config;
    std::string black = o->blacklistFile, white = o->whitelistFile;
    if (black.empty()) black = EffectiveSetting(c.settings, "/molvex/lists/SenderBlacklist");
    if (white.empty()) white = EffectiveSetting(c.settings, "/molvex/lists/SenderWhitelist");
    if (o->configFile.empty() && black.empty() && white.empty() && !o->layout.lists.empty()) {
        black = o->layout.lists + "/blacklist.txt";
        white = o->layout.lists + "/whitelist.txt";
        o->sampleLists = true;
    }
    o->sources["sender black list"] = black;
    o->sources["sender white list"] = white;
    if (!black.empty() && !host::ReadListFile(black, &c.blacklist, error)) return false;
    if (!white.empty() && !host::ReadListFile(white, &c.whitelist, error)) return false;
    return true;
}

// Checks every URL list the module will load; a list that does not load fails the run, or with
// --allow-bad-lists is left out with a warning. Fills `report` with one line per list.
bool CheckUrlLists(Options* o, std::string* report, std::string* error) {
    std::vector<std::string> warnings;
    const bool ok =
        host::CheckUrlListSettings(&o->config.settings, o->allowBadLists, report, &warnings, error);
    for (const std::string& warning : warnings)
        std::fprintf(stderr, "molvex-scan: %s\n", warning.c_str());
    return ok;
}

void PrintConfig(const Options& o, const std::string& lists) {
    std::printf("# layout: %s\n# module: %s\n# companions folder: %s\n# data folder: %s\n",
                o.layout.origin.c_str(), o.config.libraryPath.c_str(),
                EffectiveSetting(o.config.settings, "/eml/global/SharedLibsPathNew").c_str(),
                o.dataFolder.c_str());
    std::printf("# temporary folder: %s\n", o.tempFolder.c_str());
    if (o.sampleLists) std::printf("# sample lists folder: %s\n", o.layout.lists.c_str());
    for (const char* list : {"sender black list", "sender white list"}) {
        const auto it = o.sources.find(list);
        const std::string file = it == o.sources.end() ? "" : it->second;
        const size_t count = std::string(list) == "sender black list" ? o.config.blacklist.size()
                                                                      : o.config.whitelist.size();
        std::printf("# %s: %s (%zu expressions)\n", list, file.empty() ? "none" : file.c_str(),
                    count);
    }
    std::printf("%s", lists.empty() ? "# URL lists: none\n" : ("# URL lists:\n" + lists).c_str());
    for (const host::SettingInfo& info : host::SettingsRegistry()) {
        const auto source = o.sources.find(info.key);
        std::printf("%s = %s    # %s\n", info.key,
                    EffectiveSetting(o.config.settings, info.key).c_str(),
                    source == o.sources.end() ? "unset" : source->second.c_str());
    }
}

// Queues the messages of one input file, one at a time; returns false with *error when the
// file cannot be opened or read (the messages queued before stay queued).
bool ReadInput(const host::InputFile& file, uint64_t limit, uint64_t* sequence, JobQueue* queue,
               Reporter* reporter, std::string* error) {
    host::MailReader reader;
    if (!reader.Open(file.path, limit, error)) return false;
    host::MailMessage message;
    uint64_t count = 0;
    while (!reporter->stopped() && reader.Next(&message, error)) {
        Job job;
        job.sequence = (*sequence)++;
        job.name = reader.mbox() ? file.path + "#" + std::to_string(++count) : file.path;
        job.size = message.size;
        job.inFolder = file.inFolder;
        job.content = std::move(message.bytes);
        reporter->AddBytes(job.size - job.content.size());  // the skipped rest is done with
        queue->Push(std::move(job));
    }
    if (!error->empty()) return false;
    if (reader.mbox() && count == 0) *error = "empty mbox file";
    return error->empty();
}

// Reads the inputs in order and queues their messages; inputs that cannot be read become error
// jobs, and so does one that the memory does not hold.
void ReadInputs(const std::vector<host::InputFile>& files, uint64_t limit, JobQueue* queue,
                Reporter* reporter) {
    uint64_t sequence = 0;
    for (const host::InputFile& file : files) {
        if (reporter->stopped()) return;
        std::string error = file.error;
        if (error.empty()) {
            try {
                if (!ReadInput(file, limit, &sequence, queue, reporter, &error) && error.empty())
                    error = "cannot read";
                if (!error.empty()) error = "cannot read: " + error;
            } catch (const std::bad_alloc&) {
                error = "out of memory while reading";
            }
        }
        if (error.empty()) continue;
        Job job;
        job.sequence = sequence++;
        job.name = file.path;
        job.error = error;
        reporter->AddBytes(file.size);
        queue->Push(std::move(job));
    }
}

}  // namespace

int main(int argc, char** argv) {
    // Messages come and go by the thousand: keep freed memory in the process rather than giving
    // it back to the system after each one (page faults cost more than the parsing).
    mallopt(M_TRIM_THRESHOLD, 256 << 20);
    mallopt(M_MMAP_THRESHOLD, 64 << 20);
    std::signal(SIGPIPE, SIG_IGN);  // a closed pipe shows as EPIPE on the next write
    Options options;
    const int parsed = ParseOptions(argc, argv, &options);
    if (parsed >= 0) return parsed;

    std::string error, lists;
    if (!BuildSettings(&options, &error) || !LoadSenderLists(&options, &error) ||
        !CheckUrlLists(&options, &lists, &error)) {
        std::fprintf(stderr, "molvex-scan: %s\n", error.c_str());
        return kExitError;
    }
    if (options.printConfig) {
        PrintConfig(options, lists);
        return std::fflush(stdout) == 0 ? kExitOk : kExitError;
    }
    const std::vector<host::InputFile> files = host::CollectInputs(options.paths);
    if (options.headers && (files.size() != 1 || files[0].inFolder)) {
        return Usage("--headers takes one message (a file or -)");
    }
    const host::Policy policy(options.config.settings);

    host::Scanner scanner;
    if (!scanner.Open(options.config, &error)) {
        std::fprintf(stderr, "molvex-scan: %s\n", error.c_str());
        return kExitError;
    }
    uint64_t totalBytes = 0;
    for (const host::InputFile& file : files) totalBytes += file.size;
    Output out;
    Reporter reporter(options, policy, out, totalBytes);
    JobQueue queue(64ull << 20);  // at most this much read ahead of the scanning threads

    std::vector<std::thread> workers;
    for (int t = 0; t < options.threads; ++t) {
        workers.emplace_back([&] {
            Job job;
            while (queue.Pop(&job)) {
                host::ScanResult result;
                if (job.error.empty() && !reporter.stopped()) {
                    result = scanner.Scan(job.content.data(), job.content.size(),
                                          options.extractUrls, job.size);
                    if (result.ok && job.size > job.content.size()) {
                        result.truncated = "message of " + std::to_string(job.size) +
                                           " bytes is over the size limit; its first " +
                                           std::to_string(job.content.size()) + " bytes scanned";
                    }
                }
                reporter.AddBytes(job.content.size());
                std::string message;
                if (options.headers) message.swap(job.content);
                std::string().swap(job.content);  // the message goes as soon as it is scanned
                reporter.Deliver(std::move(job), std::move(result), std::move(message));
            }
        });
    }
    ReadInputs(files, options.maxMessageSize, &queue, &reporter);
    queue.Close();
    for (std::thread& worker : workers) worker.join();
    const int status = reporter.Finish();
    scanner.Close();
    return status;
}

// molvex-scan: the reference host. Scans .eml files, folders of them and mbox files with the
// three filters of libmolvex and prints the verdicts, one line per message, in input order.
//
//   molvex-scan [options] PATH...
//
// Inputs are read one message at a time; a message larger than --max-message-size is not read
// whole: its first part is scanned and the line says so. Exit status: 0 when every input was
// scanned, 1 when an input could not be read or parsed (the others are still scanned) or the
// module could not be set up, 2 on bad usage.
#include <malloc.h>
#include <unistd.h>

#include <json/json.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <new>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "host/mail_inputs.h"
#include "host/scan_config.h"
#include "host/scanner.h"

#ifndef MOLVEX_SAMPLE_DATA_DIR
#define MOLVEX_SAMPLE_DATA_DIR "."
#endif
#ifndef MOLVEX_SAMPLE_LISTS_DIR
#define MOLVEX_SAMPLE_LISTS_DIR "."
#endif

namespace {

const char kUsage[] =
    "usage: molvex-scan [options] PATH...\n"
    "Scans .eml files, folders of them (recursively) and mbox files with libmolvex.\n"
    "  -j N               scan with N threads (default 1); output stays in input order\n"
    "  --json             one JSON object per message\n"
    "  --extract-urls     print the URL keys of every message instead of the verdicts\n"
    "  --settings FILE    \"key = value\" settings instead of the built-in defaults\n"
    "  --set KEY=VALUE    one setting, applied after the others (repeatable)\n"
    "  --blacklist FILE   black list of addresses, one expression per line\n"
    "  --whitelist FILE   white list of addresses, one expression per line\n"
    "  --library PATH     the module (default: the one built with this tool)\n"
    "  -v N               module trace lines up to level N (1-4), and the charsets read, on\n"
    "                     standard error\n"
    "  --progress         always show the progress bar (otherwise: on a terminal, long runs)\n"
    "  --no-progress      never show it\n"
    "  --max-message-size N  scan at most the first N bytes of a message (suffix K, M or G;\n"
    "                     default 64M); the rest of a larger one is skipped and reported\n"
    "  -q                 no summary\n"
    "Without --settings, --blacklist and --whitelist the bundled sample lists are used.\n";

int Usage(const std::string& problem) {
    if (!problem.empty()) std::fprintf(stderr, "molvex-scan: %s\n", problem.c_str());
    std::fputs(kUsage, stderr);
    return 2;
}

struct Options {
    int threads = 1;
    bool json = false;
    bool extractUrls = false;
    bool quiet = false;
    int progress = -1;  // -1: automatic
    uint64_t maxMessageSize = 64ull << 20;
    std::string settingsFile;
    std::string blacklistFile;
    std::string whitelistFile;
    host::SettingList overrides;
    std::vector<std::string> paths;
    host::ScanConfig config;
};

// One message to scan, or an input that failed before scanning.
struct Job {
    uint64_t sequence = 0;
    std::string name;
    std::string content;  // the message, or its first part when it is larger than the limit
    uint64_t size = 0;    // the whole message's size
    std::string error;    // set: nothing to scan
};

std::string Quote(const std::string& text) {
    std::string out = "\"";
    for (char c : text) {
        if (c == '"' || c == '\\') out += '\\';
        out += c == '\n' ? ' ' : c;
    }
    return out + "\"";
}

std::string TextLine(const Job& job, const host::ScanResult& r) {
    std::string line = job.name + ":";
    if (!job.error.empty() || !r.ok) {
        return line + " error: " + (job.error.empty() ? r.error : job.error) + "\n";
    }
    for (size_t i = 0; i < host::kVerdictCount; ++i) {
        if (r.verdicts[i] >= 0) {
            line +=
                " " + std::string(host::kVerdictKeys[i].name) + "=" + std::to_string(r.verdicts[i]);
        }
    }
    if (!r.truncated.empty()) line += " truncated=" + Quote(r.truncated);
    if (r.hasExpression && !r.expression.empty()) line += " expression=" + Quote(r.expression);
    if (!r.urlKeys.empty()) line += " url-keys=" + Quote(r.urlKeys);
    for (const std::string& e : r.moduleErrors) line += " module-error=" + Quote(e);
    return line + "\n";
}

std::string JsonLine(const Job& job, const host::ScanResult& r) {
    Json::Value v(Json::objectValue);
    v["file"] = job.name;
    if (!job.error.empty() || !r.ok) {
        v["error"] = job.error.empty() ? r.error : job.error;
    } else {
        for (size_t i = 0; i < host::kVerdictCount; ++i) {
            if (r.verdicts[i] >= 0) v[host::kVerdictKeys[i].name] = r.verdicts[i];
        }
        if (r.hasExpression) v["expression"] = r.expression;
        if (!r.truncated.empty()) v["truncated"] = r.truncated;
        Json::Value keys(Json::arrayValue);
        std::istringstream in(r.urlKeys);
        for (std::string key; in >> key;) keys.append(key);
        v["url-keys"] = keys;
        v["size"] = Json::UInt64(r.size);
        v["urls"] = Json::UInt64(r.urls);
        for (const std::string& d : r.defects) v["defects"].append(d);
        for (const std::string& c : r.charsets) v["charsets"].append(c);
        for (const std::string& e : r.moduleErrors) v["module-errors"].append(e);
    }
    Json::StreamWriterBuilder writer;
    writer["indentation"] = "";
    writer["emitUTF8"] = true;
    return Json::writeString(writer, v) + "\n";
}

// Orders the results, prints them, keeps the counts and draws the progress bar.
class Reporter {
  public:
    Reporter(const Options& options, uint64_t totalBytes)
        : m_options(options), m_totalBytes(totalBytes), m_start(Clock::now()) {
        m_bar = options.progress == 1 || (options.progress == -1 && isatty(STDERR_FILENO));
    }

    // Formats the result on the calling thread, then prints whatever is next in input order.
    void Deliver(Job&& job, host::ScanResult&& result) {
        Output output;
        output.failed = !job.error.empty() || !result.ok;
        output.toStderr = output.failed && m_options.extractUrls;
        if (m_options.extractUrls && !output.failed) {
            output.text = std::move(result.extracted);
        } else {
            output.text =
                m_options.json && !output.toStderr ? JsonLine(job, result) : TextLine(job, result);
        }
        if (m_options.config.traceLevel > 0 && !result.charsets.empty()) {
            output.trace = job.name + ": charsets:";  // with -v: the charsets, after the line
            for (const std::string& c : result.charsets) output.trace += " " + c + ";";
            output.trace.back() = '\n';
        }
        output.result = std::move(result);
        std::lock_guard<std::mutex> lock(m_mutex);
        m_pending.emplace(job.sequence, std::move(output));
        for (auto it = m_pending.find(m_next); it != m_pending.end(); it = m_pending.find(m_next)) {
            Print(it->second);
            m_pending.erase(it);
            ++m_next;
        }
        DrawBar(false);
    }

    void AddBytes(uint64_t bytes) { m_doneBytes += bytes; }

    // Prints the summary; returns the exit status.
    int Finish() {
        std::lock_guard<std::mutex> lock(m_mutex);
        DrawBar(true);
        std::fflush(stdout);
        const double seconds = std::chrono::duration<double>(Clock::now() - m_start).count();
        if (!m_options.quiet) {
            std::fprintf(stderr, "scanned %llu messages (%llu errors) in %.2f s: %.0f messages/s",
                         static_cast<unsigned long long>(m_messages),
                         static_cast<unsigned long long>(m_errors), seconds,
                         seconds > 0 ? m_messages / seconds : 0.0);
            if (m_messages > m_errors) {
                const double scanned = static_cast<double>(m_messages - m_errors);
                std::fprintf(stderr, "; per message: parsing %.1f us, module %.1f us",
                             m_parseSeconds / scanned * 1e6, m_moduleSeconds / scanned * 1e6);
            }
            if (m_truncated) {
                std::fprintf(stderr, "; %llu over the size limit, scanned in part",
                             static_cast<unsigned long long>(m_truncated));
            }
            std::fprintf(stderr, "\nhits:");
            for (size_t i = 0; i < host::kVerdictCount; ++i) {
                std::fprintf(stderr, "%s %s %llu", i ? "," : "", host::kVerdictKeys[i].name,
                             static_cast<unsigned long long>(m_hits[i]));
            }
            std::fprintf(stderr, "\n");
        }
        return m_errors ? 1 : 0;
    }

  private:
    using Clock = std::chrono::steady_clock;

    struct Output {
        std::string text;   // the line(s) to print
        std::string trace;  // for standard error after them
        bool failed = false;
        bool toStderr = false;
        host::ScanResult result;  // for the summary
    };

    void Print(const Output& o) {
        ++m_messages;
        if (o.failed) ++m_errors;
        ClearBar();
        std::fwrite(o.text.data(), 1, o.text.size(), o.toStderr ? stderr : stdout);
        if (o.failed) return;
        std::fputs(o.trace.c_str(), stderr);
        if (!o.result.truncated.empty()) ++m_truncated;
        m_parseSeconds += o.result.parseSeconds;
        m_moduleSeconds += o.result.moduleSeconds;
        for (size_t i = 0; i < host::kVerdictCount; ++i) m_hits[i] += o.result.Hit(i) ? 1 : 0;
    }

    void ClearBar() {
        if (m_barShown) {
            std::fflush(stdout);
            std::fputs("\r\033[K", stderr);
            m_barShown = false;
        }
    }

    // Redrawn at most ten times a second, and only once the run has lasted a second.
    void DrawBar(bool final) {
        if (!m_bar) return;
        const auto now = Clock::now();
        if (final) {
            ClearBar();
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
        std::fflush(stdout);
        std::fprintf(stderr, "\r[%.*s%*s] %3.0f%% %llu messages, %.0f/s\033[K", filled,
                     "==============================", width - filled, "", done * 100,
                     static_cast<unsigned long long>(m_messages), m_messages / seconds);
        m_barShown = true;
    }

    const Options& m_options;
    const uint64_t m_totalBytes;
    std::atomic<uint64_t> m_doneBytes{0};
    const Clock::time_point m_start;
    Clock::time_point m_lastDraw{};
    bool m_bar = false;
    bool m_barShown = false;

    std::mutex m_mutex;
    std::map<uint64_t, Output> m_pending;
    uint64_t m_next = 0;
    uint64_t m_messages = 0;
    uint64_t m_errors = 0;
    uint64_t m_truncated = 0;  // scanned in part: over the size limit
    uint64_t m_hits[host::kVerdictCount] = {};
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

// A positive size in bytes with an optional K, M or G (binary) suffix.
bool ParseSize(const std::string& text, uint64_t* size) {
    char* end = nullptr;
    errno = 0;
    const unsigned long long n = std::strtoull(text.c_str(), &end, 10);
    if (end == text.c_str() || errno != 0 || n == 0 || text[0] == '-') return false;
    int shift = 0;
    if (*end == 'K' || *end == 'k') shift = 10;
    if (*end == 'M' || *end == 'm') shift = 20;
    if (*end == 'G' || *end == 'g') shift = 30;
    if (shift != 0) ++end;
    if (*end != '\0' || n > (UINT64_MAX >> shift)) return false;
    *size = static_cast<uint64_t>(n) << shift;
    return true;
}

// Parses the command line; returns 0 to go on, else the exit status.
int ParseOptions(int argc, char** argv, Options* o) {
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        auto value = [&](std::string* out) {
            if (i + 1 >= argc) return false;
            *out = argv[++i];
            return true;
        };
        std::string text;
        if (arg == "-h" || arg == "--help") {
            std::fputs(kUsage, stdout);
            return -1;
        } else if (arg == "-j") {
            if (!value(&text)) return Usage("-j needs a number");
            char* end = nullptr;
            const long n = std::strtol(text.c_str(), &end, 10);
            if (*end != '\0' || n < 1 || n > 256) return Usage("-j takes 1 to 256");
            o->threads = static_cast<int>(n);
        } else if (arg == "--json") {
            o->json = true;
        } else if (arg == "--extract-urls") {
            o->extractUrls = true;
        } else if (arg == "-q") {
            o->quiet = true;
        } else if (arg == "--progress" || arg == "--no-progress") {
            o->progress = arg == "--progress" ? 1 : 0;
        } else if (arg == "--settings") {
            if (!value(&o->settingsFile)) return Usage("--settings needs a file");
        } else if (arg == "--set") {
            std::pair<std::string, std::string> setting;
            std::string problem;
            if (!value(&text)) return Usage("--set needs KEY=VALUE");
            if (!host::ParseSetting(text, &setting, &problem)) return Usage(problem);
            o->overrides.push_back(setting);
        } else if (arg == "--max-message-size") {
            if (!value(&text) || !ParseSize(text, &o->maxMessageSize)) {
                return Usage("--max-message-size takes a size in bytes (suffix K, M or G)");
            }
        } else if (arg == "--blacklist") {
            if (!value(&o->blacklistFile)) return Usage("--blacklist needs a file");
        } else if (arg == "--whitelist") {
            if (!value(&o->whitelistFile)) return Usage("--whitelist needs a file");
        } else if (arg == "--library") {
            if (!value(&o->config.libraryPath)) return Usage("--library needs a path");
        } else if (arg == "-v") {
            if (!value(&text) || text.size() != 1 || text[0] < '0' || text[0] > '4') {
                return Usage("-v takes a level from 0 to 4");
            }
            o->config.traceLevel = text[0] - '0';
        } else if (arg.size() > 1 && arg[0] == '-') {
            return Usage("unknown option " + arg);
        } else {
            o->paths.push_back(arg);
        }
    }
    if (o->paths.empty()) return Usage("no PATH to scan");
    return 0;
}

// Settings and lists: built-in defaults or the files given, then the overrides.
bool BuildConfig(Options* o, std::string* error) {
    host::ScanConfig& c = o->config;
    if (c.libraryPath.empty()) c.libraryPath = host::DefaultModulePath();
    const char* temp = std::getenv("TMPDIR");
    c.settings = host::EssentialSettings(host::FolderOf(c.libraryPath),
                                         temp && *temp ? temp : "/tmp", MOLVEX_SAMPLE_DATA_DIR);
    host::SettingList chosen;
    if (o->settingsFile.empty()) {
        chosen = host::DefaultSettings();
    } else if (!host::ReadSettingsFile(o->settingsFile, &chosen, error)) {
        return false;
    }
    c.settings.insert(c.settings.end(), chosen.begin(), chosen.end());
    c.settings.insert(c.settings.end(), o->overrides.begin(), o->overrides.end());
    std::string black = o->blacklistFile, white = o->whitelistFile;
    if (o->settingsFile.empty() && black.empty() && white.empty()) {
        black = MOLVEX_SAMPLE_LISTS_DIR "/blacklist.txt";
        white = MOLVEX_SAMPLE_LISTS_DIR "/whitelist.txt";
    }
    if (!black.empty() && !host::ReadListFile(black, &c.blacklist, error)) return false;
    if (!white.empty() && !host::ReadListFile(white, &c.whitelist, error)) return false;
    return true;
}

// Queues the messages of one input file, one at a time; returns false with *error when the
// file cannot be opened or read (the messages queued before stay queued).
bool ReadInput(const host::InputFile& file, uint64_t limit, uint64_t* sequence, JobQueue* queue,
               Reporter* reporter, std::string* error) {
    host::MailReader reader;
    if (!reader.Open(file.path, limit, error)) return false;
    host::MailMessage message;
    uint64_t count = 0;
    while (reader.Next(&message, error)) {
        Job job;
        job.sequence = (*sequence)++;
        job.name = reader.mbox() ? file.path + "#" + std::to_string(++count) : file.path;
        job.size = message.size;
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
    Options options;
    const int parsed = ParseOptions(argc, argv, &options);
    if (parsed != 0) return parsed < 0 ? 0 : parsed;

    std::string error;
    if (!BuildConfig(&options, &error)) {
        std::fprintf(stderr, "molvex-scan: %s\n", error.c_str());
        return 1;
    }
    const std::vector<host::InputFile> files = host::CollectInputs(options.paths);

    host::Scanner scanner;
    if (!scanner.Open(options.config, &error)) {
        std::fprintf(stderr, "molvex-scan: %s\n", error.c_str());
        return 1;
    }
    uint64_t totalBytes = 0;
    for (const host::InputFile& file : files) totalBytes += file.size;
    Reporter reporter(options, totalBytes);
    JobQueue queue(64ull << 20);  // at most this much read ahead of the scanning threads

    std::vector<std::thread> workers;
    for (int t = 0; t < options.threads; ++t) {
        workers.emplace_back([&] {
            Job job;
            while (queue.Pop(&job)) {
                host::ScanResult result;
                if (job.error.empty()) {
                    result = scanner.Scan(job.content.data(), job.content.size(),
                                          options.extractUrls, job.size);
                    if (result.ok && job.size > job.content.size()) {
                        result.truncated = "message of " + std::to_string(job.size) +
                                           " bytes is over the size limit; its first " +
                                           std::to_string(job.content.size()) + " bytes scanned";
                    }
                }
                reporter.AddBytes(job.content.size());
                std::string().swap(job.content);  // the message goes as soon as it is scanned
                reporter.Deliver(std::move(job), std::move(result));
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

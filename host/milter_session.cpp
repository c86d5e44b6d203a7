// The per-message logic of molvex-milter (see milter_session.h).
#include "host/milter_session.h"

#include <strings.h>

#include <algorithm>
#include <cstdio>

#include "host/scan_report.h"
#include "host/scan_setup.h"

namespace host {

namespace {

const char kStatusField[] = "X-Molvex-Status";
const char kReportField[] = "X-Molvex-Report";
constexpr size_t kRecentTimes = 10000;  // the percentiles cover this many last messages

// A field value folded before 78 columns (counting the name) at blanks, with the "\n\t" line
// breaks a milter hands over.
std::string Fold(const std::string& name, const std::string& value) {
    std::string folded;
    size_t column = name.size() + 2, start = 0;
    while (start < value.size()) {
        size_t end = value.find(' ', start + 1);
        if (end == std::string::npos) end = value.size();
        const std::string word = value.substr(start, end - start);  // with its leading blank
        if (column + word.size() > 78 && !folded.empty() && word[0] == ' ') {
            folded += "\n\t" + word.substr(1);
            column = 8 + word.size() - 1;
        } else {
            folded += word;
            column += word.size();
        }
        start = end;
    }
    return folded;
}

// Text for an SMTP reply: one line, without the "%" that a reply template would expand.
std::string ReplyText(std::string text) {
    for (char& c : text) {
        if (c == '\r' || c == '\n' || c == '%') c = ' ';
    }
    return text;
}

std::string TestList(const PolicyVerdict& verdict) {
    std::string tests;
    for (const std::string& test : verdict.tests) tests += (tests.empty() ? "" : ",") + test;
    return tests.empty() ? "none" : tests;
}

}  // namespace

std::shared_ptr<MilterState> LoadMilterState(const std::string& configFile,
                                             const std::string& libraryPath,
                                             const std::string& dataFolder, bool open,
                                             std::string* error) {
    ScanConfig config;
    if (!LoadHostConfig(configFile, libraryPath, dataFolder, &config, error)) return nullptr;
    auto state = std::make_shared<MilterState>(config.settings);
    state->config = config;
    state->maxMessageSize = std::strtoull(
        EffectiveSetting(config.settings, "/molvex/scan/MaxMessageSize").c_str(), nullptr, 10);
    state->maxInFlight = std::strtoul(
        EffectiveSetting(config.settings, "/molvex/milter/MaxMessagesInFlight").c_str(), nullptr,
        10);
    state->socket = EffectiveSetting(config.settings, "/molvex/milter/Socket");
    if (open && !state->scanner.Open(config, error)) return nullptr;
    return state;
}

void MilterMessage::Append(const char* data, size_t size, uint64_t cap) {
    m_size += size;
    if (m_raw.size() < cap) m_raw.append(data, std::min<uint64_t>(size, cap - m_raw.size()));
}

void MilterMessage::AddHeader(const std::string& name, const std::string& value, uint64_t cap) {
    if (strcasecmp(name.c_str(), kStatusField) == 0) ++m_statusFields;
    if (strcasecmp(name.c_str(), kReportField) == 0) ++m_reportFields;
    // Folded values come with bare line feeds; the message is scanned with CRLF line ends.
    std::string field = name + ": ";
    for (size_t i = 0; i < value.size(); ++i) {
        if (value[i] == '\n' && (i == 0 || value[i - 1] != '\r')) field += '\r';
        field += value[i];
    }
    field += "\r\n";
    Append(field.data(), field.size(), cap);
}

void MilterMessage::EndHeaders(uint64_t cap) {
    Append("\r\n", 2, cap);
}

void MilterMessage::AddBody(const char* data, size_t size, uint64_t cap) {
    Append(data, size, cap);
}

MilterReply MilterMessage::Finish(MilterState& state) const {
    MilterReply reply;
    ScanResult result = state.scanner.Scan(m_raw.data(), m_raw.size(), false, m_size);
    if (!result.ok) {
        reply.kind = MilterReply::kTempFail;
        reply.code = "451";
        reply.extended = "4.3.0";
        reply.text = ReplyText("Molvex could not scan the message: " + result.error);
        return reply;
    }
    if (m_size > m_raw.size()) {
        result.truncated = "message of " + std::to_string(m_size) +
                           " bytes is over the size limit; its first " +
                           std::to_string(m_raw.size()) + " bytes scanned";
    }
    reply.scanned = true;
    reply.verdict = state.policy.Decide(result);
    const std::string summary =
        "score=" + std::to_string(reply.verdict.score) + ", tests=" + TestList(reply.verdict);
    if (reply.verdict.decision == Decision::kReject) {
        reply.kind = MilterReply::kReject;
        reply.code = "550";
        reply.extended = "5.7.1";
        reply.text = ReplyText("Message rejected as spam (" + summary + ")");
        return reply;
    }
    // Fields of the same names that came with the message go: only ours stay.
    for (int i = m_statusFields; i > 0; --i)
        reply.removeHeaders.emplace_back(kStatusField, std::to_string(i));
    for (int i = m_reportFields; i > 0; --i)
        reply.removeHeaders.emplace_back(kReportField, std::to_string(i));
    reply.addHeaders.emplace_back(kStatusField,
                                  Fold(kStatusField, StatusFieldValue(reply.verdict)));
    reply.addHeaders.emplace_back(kReportField,
                                  Fold(kReportField, ReportFieldValue(result, reply.verdict)));
    if (reply.verdict.decision == Decision::kQuarantine) reply.quarantine = "Molvex: " + summary;
    return reply;
}

std::string MilterMessage::LogLine(const std::string& queueId, const MilterReply& reply,
                                   double seconds) const {
    char time[32];
    std::snprintf(time, sizeof time, "%.1fms", seconds * 1e3);
    std::string line = (queueId.empty() ? "NOQUEUE" : queueId) + ": from=<" + m_sender + ">";
    line += " client=" + (m_client.empty() ? "unknown" : m_client);
    line += " size=" + std::to_string(m_size);
    if (!reply.scanned) {
        line += " decision=tempfail reason=\"" + reply.text + "\"";
    } else {
        line += " decision=" + std::string(DecisionName(reply.verdict.decision)) +
                " score=" + std::to_string(reply.verdict.score) +
                " tests=" + TestList(reply.verdict);
    }
    return line + " time=" + time;
}

MilterEngine::Outcome OutcomeOf(const MilterReply& reply) {
    if (!reply.scanned) return MilterEngine::kTempFailed;
    return static_cast<MilterEngine::Outcome>(static_cast<int>(reply.verdict.decision));
}

std::shared_ptr<MilterState> MilterEngine::Current() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_state;
}

bool MilterEngine::Reload(const Loader& load, std::string* error, std::chrono::milliseconds drain) {
    std::shared_ptr<MilterState> fresh = load(error);  // read and checked while scans go on
    if (!fresh) return false;
    {
        // New messages wait; those in flight finish on the current state.
        std::unique_lock<std::mutex> lock(m_mutex);
        m_reloading = true;
        m_changed.wait_for(lock, drain, [this] { return m_inFlight == 0; });
    }
    bool opened = false;
    {
        std::unique_lock<std::shared_mutex> scans(m_scanMutex);
        std::shared_ptr<MilterState> current = Current();
        current->scanner.Close();
        opened = fresh->scanner.Open(fresh->config, error);
        if (!opened) {
            std::string again;
            if (!current->scanner.Open(current->config, &again)) *error += "; and again: " + again;
        }
    }
    std::lock_guard<std::mutex> lock(m_mutex);
    if (opened) m_state.swap(fresh);
    m_reloading = false;
    m_changed.notify_all();
    return opened;
}

bool MilterEngine::Admit() {
    std::unique_lock<std::mutex> lock(m_mutex);
    m_changed.wait(lock, [this] { return !m_reloading; });
    if (m_inFlight >= m_state->maxInFlight) return false;
    ++m_inFlight;
    return true;
}

void MilterEngine::Release() {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_inFlight > 0) --m_inFlight;
    m_changed.notify_all();
}

size_t MilterEngine::inFlight() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_inFlight;
}

void MilterEngine::Record(Outcome outcome, double seconds) {
    std::lock_guard<std::mutex> lock(m_mutex);
    ++m_outcomes[outcome];
    m_totalSeconds += seconds;
    if (m_recent.size() < kRecentTimes) {
        m_recent.push_back(seconds);
    } else {
        m_recent[m_next] = seconds;
        m_next = (m_next + 1) % kRecentTimes;
    }
}

std::string MilterEngine::Counters() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    static const char* const kNames[kOutcomes] = {"accept", "tag", "quarantine", "reject",
                                                  "tempfail"};
    uint64_t messages = 0;
    std::string counts;
    for (int i = 0; i < kOutcomes; ++i) {
        messages += m_outcomes[i];
        counts += " " + std::string(kNames[i]) + "=" + std::to_string(m_outcomes[i]);
    }
    std::vector<double> times = m_recent;
    double p50 = 0, p99 = 0;
    if (!times.empty()) {
        std::sort(times.begin(), times.end());
        p50 = times[(times.size() - 1) / 2];
        p99 = times[(times.size() - 1) * 99 / 100];
    }
    char text[128];
    std::snprintf(text, sizeof text, " mean=%.2fms p50=%.2fms p99=%.2fms",
                  messages ? m_totalSeconds / messages * 1e3 : 0.0, p50 * 1e3, p99 * 1e3);
    return "messages=" + std::to_string(messages) + counts + text;
}

}  // namespace host

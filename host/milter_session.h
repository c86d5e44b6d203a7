// The per-message logic of molvex-milter, free of libmilter so that it can be tested alone.
// MilterMessage gathers one message as the MTA hands it over (envelope, header fields, body up
// to the size cap) and at its end turns the scan and the policy's decision into what the milter
// tells the MTA: header fields to add, a quarantine, a rejection with its reply, or a temporary
// failure. MilterEngine is the state all connections share: the current scan state (swapped whole
// on reload between two scans; a message in progress keeps the size cap it started with), the
// bound on messages in flight and the counters.
// Threads: a MilterMessage belongs to one connection's thread; any thread may call MilterEngine.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <shared_mutex>
#include <string>
#include <utility>
#include <vector>

#include "host/policy.h"
#include "host/scanner.h"

namespace host {

// What a milter works with, built from one configuration file; read-only once built, except
// that MilterEngine opens and closes its scanner (the module is one instance per process: only
// one state's scanner is open at a time).
struct MilterState {
    ScanConfig config;
    Scanner scanner;
    Policy policy;
    uint64_t maxMessageSize = 64ull << 20;
    size_t maxInFlight = 64;
    std::string socket;

    explicit MilterState(const SettingList& settings) : policy(settings) {}
};

// Loads a state: the configuration file (defaults when empty) and the lists, checked; with
// `open` the scanner is opened too. Null with *error naming the file or list at fault.
std::shared_ptr<MilterState> LoadMilterState(const std::string& configFile,
                                             const std::string& libraryPath,
                                             const std::string& dataFolder, bool open,
                                             std::string* error);

// What to tell the MTA at the end of a message.
struct MilterReply {
    enum Kind { kAccept, kReject, kTempFail };
    Kind kind = kAccept;
    std::string code, extended, text;  // the SMTP reply for kReject and kTempFail
    std::vector<std::pair<std::string, std::string>> removeHeaders;  // name, 1-based index
    std::vector<std::pair<std::string, std::string>> addHeaders;     // on top, in this order
    std::string quarantine;  // the reason to quarantine with; empty: none
    PolicyVerdict verdict;
    bool scanned = false;  // false: the scan failed (a temporary failure)
};

class MilterMessage {
  public:
    MilterMessage() = default;

    void SetConnection(const std::string& host) { m_client = host; }
    void SetSender(const std::string& sender) { m_sender = sender; }
    void AddRecipient(const std::string& recipient) { m_recipients.push_back(recipient); }
    // A header field as the MTA gives it: the name and the value after the colon.
    void AddHeader(const std::string& name, const std::string& value, uint64_t cap);
    void EndHeaders(uint64_t cap);
    void AddBody(const char* data, size_t size, uint64_t cap);

    // Scans the gathered message with `state` and applies its policy.
    MilterReply Finish(MilterState& state) const;
    // The log line: queue id, sender, decision, score, tests, time.
    std::string LogLine(const std::string& queueId, const MilterReply& reply, double seconds) const;

    const std::string& raw() const { return m_raw; }
    uint64_t size() const { return m_size; }

  private:
    void Append(const char* data, size_t size, uint64_t cap);

    std::string m_client, m_sender;
    std::vector<std::string> m_recipients;
    std::string m_raw;                           // header, blank line and body, up to the cap
    uint64_t m_size = 0;                         // the whole message's size
    int m_statusFields = 0, m_reportFields = 0;  // X-Molvex fields that came with the message
};

// The shared state of all connections.
class MilterEngine {
  public:
    typedef std::function<std::shared_ptr<MilterState>(std::string*)> Loader;

    explicit MilterEngine(std::shared_ptr<MilterState> state) : m_state(std::move(state)) {}

    // The state new messages start with (its policy and size cap).
    std::shared_ptr<MilterState> Current() const;
    // Scans are made with Current()'s scanner while holding this lock; a reload waits for them.
    std::shared_lock<std::shared_mutex> ScanLock() const {
        return std::shared_lock<std::shared_mutex>(m_scanMutex);
    }
    // Builds a new state with `load` (its scanner not yet open) while scans go on; then holds
    // new messages back, lets the messages in flight finish on the current state (waiting at
    // most `drain`), closes the current scanner, opens the new one and swaps it in. A failure
    // at any step keeps the current state (its scanner reopened) and gives the reason in *error.
    bool Reload(const Loader& load, std::string* error,
                std::chrono::milliseconds drain = std::chrono::seconds(10));

    // Takes one of the places for messages in flight; false when all are taken (the message is
    // to be retried later). During a reload it waits for the new state. Every successful Admit
    // is paired with one Release.
    bool Admit();
    void Release();
    size_t inFlight() const;

    enum Outcome { kAccepted, kTagged, kQuarantined, kRejected, kTempFailed, kOutcomes };
    void Record(Outcome outcome, double seconds);
    // "messages=N accept=N tag=N quarantine=N reject=N tempfail=N mean=Xms p99=Yms".
    std::string Counters() const;

  private:
    mutable std::shared_mutex m_scanMutex;
    mutable std::mutex m_mutex;
    std::condition_variable m_changed;  // a reload began or ended, a message left
    bool m_reloading = false;
    std::shared_ptr<MilterState> m_state;
    size_t m_inFlight = 0;
    uint64_t m_outcomes[kOutcomes] = {};
    double m_totalSeconds = 0;
    std::vector<double> m_recent;  // the last times, for the percentiles
    size_t m_next = 0;
};

MilterEngine::Outcome OutcomeOf(const MilterReply& reply);

}  // namespace host

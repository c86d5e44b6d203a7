// The policy that turns a scan's test results into one score and one decision a mail flow can
// act on: each test has a score and an optional action; thresholds on the total tag, quarantine
// or reject; a whitelisted sender is accepted unless GTUBE hits. Built once from the checked
// settings (the policy keys of host/settings_registry.h), then read-only: any thread may decide.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "host/scan_config.h"
#include "host/scanner.h"

namespace host {

// In increasing severity; a message gets the most severe decision any rule asks for.
enum class Decision { kAccept, kTag, kQuarantine, kReject };

const char* DecisionName(Decision decision);

struct PolicyVerdict {
    Decision decision = Decision::kAccept;
    int32_t score = 0;
    std::vector<std::string> tests;  // the tests that hit, in output order
};

class Policy {
  public:
    // The policy of the registry's defaults, overridden by the policy keys in `settings` (values
    // already checked; a later pair wins).
    explicit Policy(const SettingList& settings = {});

    PolicyVerdict Decide(const ScanResult& result) const;

  private:
    struct Rule {
        int32_t score = 0;
        Decision action = Decision::kAccept;  // kAccept: the score decides
    };
    Rule m_rules[kVerdictCount];
    int32_t m_tagScore = 0;
    int32_t m_quarantineScore = 0;
    int32_t m_rejectScore = 0;
    bool m_whitelistAccepts = true;
};

}  // namespace host

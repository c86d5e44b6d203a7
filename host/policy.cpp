// The policy: rules per test, thresholds, the whitelisting precedence.
#include "host/policy.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "host/settings_registry.h"

namespace host {

namespace {

// Indexed by Decision, in increasing severity.
constexpr const char* kDecisionNames[] = {"accept", "tag", "quarantine", "reject"};

// The decision an action names; "none" (and anything else) leaves it to the score.
Decision ActionOf(const std::string& value) {
    for (int d = static_cast<int>(Decision::kTag); d <= static_cast<int>(Decision::kReject); ++d) {
        if (value == kDecisionNames[d]) return static_cast<Decision>(d);
    }
    return Decision::kAccept;
}

// The decision that a score reaches; a threshold of 0 is never reached.
Decision ByScore(int32_t score, int32_t tag, int32_t quarantine, int32_t reject) {
    if (reject > 0 && score >= reject) return Decision::kReject;
    if (quarantine > 0 && score >= quarantine) return Decision::kQuarantine;
    if (tag > 0 && score >= tag) return Decision::kTag;
    return Decision::kAccept;
}

}  // namespace

const char* DecisionName(Decision decision) {
    return kDecisionNames[static_cast<int>(decision)];
}

Policy::Policy(const SettingList& settings) {
    SettingList effective = RegistryDefaults();
    effective.insert(effective.end(), settings.begin(), settings.end());
    const std::string prefix = "/molvex/policy/";
    for (const auto& [key, value] : effective) {
        if (key.compare(0, prefix.size(), prefix) != 0) continue;
        const std::string name = key.substr(prefix.size());
        const int32_t number = static_cast<int32_t>(std::strtol(value.c_str(), nullptr, 10));
        if (name == "TagScore") m_tagScore = number;
        if (name == "QuarantineScore") m_quarantineScore = number;
        if (name == "RejectScore") m_rejectScore = number;
        if (name == "WhitelistAccepts") m_whitelistAccepts = number != 0;
        for (size_t i = 0; i < kVerdictCount; ++i) {
            const std::string test = kVerdictKeys[i].name;
            if (name == test + "/Score") m_rules[i].score = number;
            if (name == test + "/Action") m_rules[i].action = ActionOf(value);
        }
    }
}

PolicyVerdict Policy::Decide(const ScanResult& result) const {
    PolicyVerdict verdict;
    Decision asked = Decision::kAccept;
    bool whitelisted = false;
    bool gtube = false;
    for (size_t i = 0; i < kVerdictCount; ++i) {
        if (result.verdicts[i] != 1) continue;
        verdict.tests.push_back(kVerdictKeys[i].name);
        verdict.score += m_rules[i].score;
        asked = std::max(asked, m_rules[i].action);
        if (kVerdictKeys[i].key == asbb::kWhitelisted) whitelisted = true;
        if (kVerdictKeys[i].key == asbb::kGtube) gtube = true;
    }
    verdict.decision =
        std::max(asked, ByScore(verdict.score, m_tagScore, m_quarantineScore, m_rejectScore));
    if (whitelisted && m_whitelistAccepts && !gtube) verdict.decision = Decision::kAccept;
    return verdict;
}

}  // namespace host

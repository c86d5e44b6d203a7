// Public suffix lookup (see public_suffix.h): the suffixes of the host, longest first, against
// the sorted rules, with the list's wildcard ("*.") and exception ("!") rules.
#include "host/public_suffix.h"

#include <algorithm>

#include "common/ascii.h"

namespace host {
namespace {

bool IsRule(std::string_view rule) {
    using public_suffix_data::kRuleCount;
    using public_suffix_data::kRules;
    const std::string_view* end = kRules + kRuleCount;
    const std::string_view* hit = std::lower_bound(kRules, end, rule);
    return hit != end && *hit == rule;
}

}  // namespace

size_t PublicSuffixLabels(std::string_view host) {
    if (host.empty() || host.size() > 253) return 0;
    char name[253];
    for (size_t i = 0; i < host.size(); ++i) name[i] = ascommon::AsciiToLower(host[i]);
    const std::string_view lower(name, host.size());
    // The rule text: a prefix ("!", "*." or none) and a suffix of the host.
    char rule[2 + 253];
    auto isRule = [&rule](std::string_view prefix, std::string_view suffix) {
        std::copy(prefix.begin(), prefix.end(), rule);
        std::copy(suffix.begin(), suffix.end(), rule + prefix.size());
        return IsRule(std::string_view(rule, prefix.size() + suffix.size()));
    };
    size_t labels = std::count(lower.begin(), lower.end(), '.') + 1;
    for (size_t start = 0; labels > 0; start = lower.find('.', start) + 1, --labels) {
        const std::string_view suffix = lower.substr(start);
        if (suffix.empty() || suffix[0] == '.') return 0;  // an empty label
        if (isRule("!", suffix)) return labels - 1;        // an exception to a wildcard
        if (isRule("", suffix)) return labels;
        const size_t dot = suffix.find('.');
        if (dot != std::string_view::npos && isRule("*", suffix.substr(dot))) return labels;
    }
    return 0;
}

}  // namespace host

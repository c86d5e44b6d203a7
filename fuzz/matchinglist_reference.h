// Plain references of CMatchingList, shared by its unit test and its fuzz target: a wildcard fit
// by dynamic programming and a model list that keeps the folded expressions in a set and a
// vector. Header-only; each instance belongs to one thread.
#pragma once

#include <algorithm>
#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include "engines/matchinglist/MatchingList.h"

namespace reference {

// "A".."Z" to "a".."z"; every other byte as it is.
inline std::string Fold(std::string text) {
    for (char& c : text) c = c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
    return text;
}

// Whether text fits pattern (both up to their first NUL): "?" one byte, "*" any run. Every "*"
// passed is one level deeper, and a level of 128 fails: 128 stars or more fit nothing.
inline bool Fits(const std::string& text, const std::string& pattern) {
    const std::string t = text.c_str(), p = pattern.c_str();
    if (std::count(p.begin(), p.end(), '*') >= 128) return false;
    // fit[i][j]: t from i fits p from j
    std::vector<std::vector<bool>> fit(t.size() + 2, std::vector<bool>(p.size() + 1, false));
    fit[t.size()][p.size()] = true;
    for (size_t j = p.size(); j-- > 0;) {
        for (size_t i = t.size() + 1; i-- > 0;) {
            const bool one = i < t.size() && (p[j] == '?' || p[j] == t[i]);
            fit[i][j] = p[j] == '*' ? fit[i][j + 1] || (i < t.size() && fit[i + 1][j])
                                    : one && fit[i + 1][j + 1];
        }
    }
    return fit[0][0];
}

// The list's rules over plain containers: exact expressions whole (NUL bytes included), wildcards
// in the order they came, exact before wildcard in a match.
struct Model {
    std::set<std::string> exact;
    std::vector<std::string> wildcards;

    int32_t Add(const std::string& expression, int32_t kind) {
        if (expression.empty()) return ascommon::CMatchingList::kEmptyExpression;
        if (kind == ascommon::kExact && !exact.insert(Fold(expression)).second)
            return ascommon::CMatchingList::kDuplicate;
        if (kind == ascommon::kWildcard) wildcards.push_back(Fold(expression));
        return ascommon::CMatchingList::kOk;
    }
    // The expression that text matches; "" when none does.
    std::string Match(const std::string& text) const {
        const std::string folded = Fold(text);
        if (exact.count(folded)) return folded;
        for (const std::string& w : wildcards)
            if (Fits(folded, w)) return w;
        return "";
    }
};

}  // namespace reference

// Plain references of CMatchingList, shared by its unit test and its fuzz target: the recursive
// definition of a wildcard fit and a model list that keeps the folded expressions in a set and a
// vector. Header-only; each instance belongs to one thread.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "engines/matchinglist/MatchingList.h"

namespace reference {

// "A".."Z" to "a".."z"; every other byte as it is.
inline std::string Fold(std::string text) {
    for (char& c : text) c = c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
    return text;
}

// Whether text fits pattern (both up to their first NUL): at a "*" try the rest against every
// tail, shortest run first; every "*" passed goes one level deeper and an attempt at depth 128
// fails. Memoised over the positions (the depth follows from the pattern position).
inline bool Fits(const std::string& text, const std::string& pattern) {
    const char* t0 = text.c_str();
    const char* p0 = pattern.c_str();
    std::map<std::pair<size_t, size_t>, bool> memo;
    std::function<bool(size_t, size_t, int)> attempt = [&](size_t t, size_t p, int depth) {
        if (depth >= 128) return false;
        const auto known = memo.find({t, p});
        if (known != memo.end()) return known->second;
        bool fits = false;
        if (p0[p] == '*') {
            for (size_t tail = t; !fits; ++tail) {
                fits = attempt(tail, p + 1, depth + 1);
                if (t0[tail] == '\0') break;
            }
        } else if (p0[p] == '\0') {
            fits = t0[t] == '\0';
        } else {
            fits =
                t0[t] != '\0' && (p0[p] == '?' || p0[p] == t0[t]) && attempt(t + 1, p + 1, depth);
        }
        return memo[{t, p}] = fits;
    };
    return attempt(0, 0, 0);
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

// Fuzz target: the matching list against a plain reference written here from the list's rules.
// The input is a sequence of operations, one per line: "e" + expression adds an exact
// expression, "w" + expression a wildcard one, "x" + expression one of an unknown kind, "m" +
// text matches, "c" and "C" clear the exact and the wildcard expressions. The reference keeps the
// folded exact expressions in a set and the folded wildcard ones in order, and matches wildcards
// with the plain recursive definition ("*" tries every tail, shortest run first; an attempt
// past 127 "*" fails), memoised so that hostile patterns stay cheap. Every result, every matched
// expression and the list's size must agree.
#include <cstring>
#include <map>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "engines/matchinglist/MatchingList.h"
#include "fuzz/fuzz_support.h"

namespace {

using ascommon::CMatchingList;
using ascommon::sstring;

std::string Fold(std::string text) {
    for (char& c : text) c = (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
    return text;
}

// Whether text[t..] fits pattern[p..]; `stars` is the number of "*" passed before p, the depth
// of the attempt.
class Reference {
  public:
    Reference(const std::string& text, const std::string& pattern)
        : m_text(text.c_str()), m_pattern(pattern.c_str()) {}  // both end at their first NUL

    bool Fits() { return Attempt(0, 0, 0); }

  private:
    bool Attempt(size_t t, size_t p, int stars) {
        if (stars >= 128) return false;
        const auto key = std::make_pair(t, p);
        const auto known = m_memo.find(key);
        if (known != m_memo.end()) return known->second;
        bool fits = false;
        for (;;) {
            if (m_pattern[p] == '*') {
                for (size_t tail = t;; ++tail) {
                    if (Attempt(tail, p + 1, stars + 1)) {
                        fits = true;
                        break;
                    }
                    if (m_text[tail] == '\0') break;
                }
                break;
            }
            if (m_pattern[p] == '\0') {
                fits = m_text[t] == '\0';
                break;
            }
            if (m_text[t] == '\0' || (m_pattern[p] != '?' && m_pattern[p] != m_text[t])) break;
            ++p;
            ++t;
        }
        m_memo[key] = fits;
        return fits;
    }

    const char* m_text;
    const char* m_pattern;
    std::map<std::pair<size_t, size_t>, bool> m_memo;
};

sstring Bytes(const std::string& text) {
    sstring s;
    s.assign(text.data(), text.size());
    return s;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::Input input(data, size);
    CMatchingList list;
    static int unicode, regex;  // the bindings are only kept: any non-null handles do
    list.Init(reinterpret_cast<ascommon::GlyphkitLib*>(&unicode),
              reinterpret_cast<ascommon::RexkitLib*>(&regex));
    std::set<std::string> exact;
    std::vector<std::string> wildcards;
    for (int operations = 0; !input.empty() && operations < 200; ++operations) {
        const char op = static_cast<char>(input.Byte());
        const std::string argument = input.Until('\n');
        if (argument.size() > 300) continue;  // keeps every match cheap
        const std::string folded = Fold(argument);
        switch (op) {
            case 'e':
            case 'w':
            case 'x': {
                const int32_t kind = op == 'e'   ? ascommon::kExact
                                     : op == 'w' ? ascommon::kWildcard
                                                 : 7;
                int32_t expected = 0;
                if (argument.empty()) {
                    expected = CMatchingList::kEmptyExpression;
                } else if (op == 'e' && !exact.insert(folded).second) {
                    expected = CMatchingList::kDuplicate;
                } else if (op == 'w') {
                    wildcards.push_back(folded);
                }
                const int32_t result = list.Add(Bytes(argument), kind);
                FUZZ_CHECK(result == expected, "Add gave %d, the reference %d", result, expected);
                break;
            }
            case 'm': {
                std::string want;
                bool found = exact.count(folded) != 0;
                if (found) want = folded;
                for (size_t w = 0; !found && w < wildcards.size(); ++w) {
                    if (Reference(folded, wildcards[w]).Fits()) {
                        found = true;
                        want = wildcards[w];
                    }
                }
                sstring matched("(unchanged)");
                const bool result = list.Match(Bytes(argument), matched);
                FUZZ_CHECK(result == found, "Match gave %d, the reference %d", result, found);
                const std::string got(matched.c_str(), matched.length());
                FUZZ_CHECK(got == (found ? want : std::string("(unchanged)")), "matched differs");
                break;
            }
            case 'c':
                list.ClearExact();
                exact.clear();
                break;
            case 'C':
                list.ClearWildcard();
                wildcards.clear();
                break;
            default:
                break;
        }
        FUZZ_CHECK(list.ExactCount() == exact.size() && list.WildcardCount() == wildcards.size(),
                   "sizes %llu and %llu, the reference %zu and %zu",
                   static_cast<unsigned long long>(list.ExactCount()),
                   static_cast<unsigned long long>(list.WildcardCount()), exact.size(),
                   wildcards.size());
    }
    return 0;
}

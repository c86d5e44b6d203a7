// CMatchingList: the wildcard matcher against a plain recursive matcher, adding and matching
// against a plain model of the list, folding, map growth, clearing, and failing allocations.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <functional>
#include <random>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "common/asexception.h"
#include "engines/matchinglist/MatchingList.h"
#include "glyphkit/glyphkitlib.h"
#include "host/host_hooks.h"

namespace {

using ascommon::CMatchingList;
using ascommon::sstring;

using ascommon::kExact;
using ascommon::kWildcard;

// The plain definition: at a "*" try the rest against every tail, shortest run first; every "*"
// passed goes one level deeper and an attempt at depth 128 fails.
bool ReferenceMatch(const char* text, const char* pattern, int depth) {
    if (depth >= 128) return false;
    while (*pattern != '\0') {
        if (*pattern == '*') {
            ++pattern;
            for (const char* tail = text;; ++tail) {
                if (ReferenceMatch(tail, pattern, depth + 1)) return true;
                if (*tail == '\0') return false;
            }
        }
        if (*text == '\0') return false;
        if (*pattern != '?' && *pattern != *text) return false;
        ++pattern;
        ++text;
    }
    return *text == '\0';
}

bool ReferenceMatch(const std::string& text, const std::string& pattern) {
    return ReferenceMatch(text.c_str(), pattern.c_str(), 0);
}

std::string FoldAscii(std::string text) {
    for (char& c : text) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return text;
}

std::string Repeat(const std::string& piece, int times) {
    std::string out;
    for (int i = 0; i < times; ++i) out += piece;
    return out;
}

// A binding pair for Init; neither is ever used through the pointer.
struct Bindings {
    ascommon::GlyphkitLib unicode;
    ascommon::RexkitLib* regex = reinterpret_cast<ascommon::RexkitLib*>(&unicode);
};

// The list's content: exact expressions with their values (sorted), wildcards in order. A void
// string shows as "<void>".
struct Content {
    std::vector<std::pair<std::string, int>> exact;
    std::vector<std::string> wildcards;
    bool operator==(const Content& other) const {
        return exact == other.exact && wildcards == other.wildcards;
    }
};

std::string Text(const sstring& s) {
    return s.initialised() ? std::string(s.c_str(), s.length()) : std::string("<void>");
}

Content Snapshot(const CMatchingList& list) {
    Content content;
    const auto& map = list.Exact();
    for (uint32_t b = 0; b < map.bucket_count(); ++b) {
        for (auto* n = map.head(b); n; n = n->next)
            content.exact.emplace_back(Text(n->key), n->value);
    }
    std::sort(content.exact.begin(), content.exact.end());
    for (uint64_t i = 0; i < list.Wildcards().size(); ++i) {
        content.wildcards.push_back(Text(list.Wildcards().at(i)));
    }
    return content;
}

class MatchingListTest : public ::testing::Test {
  protected:
    void SetUp() override {
        m_liveBytes = host::Counters().liveBytes;
        host::CaptureTraces(4);
        host::TakeTraces();
    }
    void TearDown() override {
        host::FailAllocationNumber(0);
        host::CaptureTraces(0);
        host::TakeTraces();
        EXPECT_EQ(host::Counters().liveBytes, m_liveBytes);  // every list of the test is gone
    }

    Bindings bindings;

  private:
    uint64_t m_liveBytes = 0;
};

// ---- MatchWildcard --------------------------------------------------------------------------

struct WildcardCase {
    std::string text;
    std::string pattern;
    bool fits;
};

TEST(MatchWildcardTest, Table) {
    const std::vector<WildcardCase> cases = {
        {"abc", "a?c", true},
        {"ac", "a?c", false},    // "?" needs a byte
        {"abbc", "a?c", false},  // and takes exactly one
        {"ab", "ab?", false},    // "?" never matches the end of the text
        {"a", "a*", true},       // "*" may be empty
        {"", "*", true},
        {"anyone@example.com", "*", true},
        {"", "", true},
        {"a", "", false},
        {"", "a", false},
        {"", "?", false},
        {"", "**", true},
        {"ac", "a*c", true},
        {"abbbc", "a*c", true},
        {"acb", "a*c", false},  // the pattern's end must meet the text's end
        {"ab", "a**b", true},
        {"abcabd", "*abd", true},  // the first "abd" try fails at "abc": the run grows
        {"mississippi", "m*iss*ppi", true},
        {"mississippi", "m*iss*ppx", false},
        {"aaaa", "*a*a*a*a*", true},
        {"aaa", "*a*a*a*a*", false},
        {"a*c", "a*c", true},  // a "*" in the text is an ordinary byte
        {"a?c", "a?c", true},
        {"ABC", "abc", false},  // the matcher itself does not fold
        {"joe@example.com", "*@example.com", true},
        {"joe@example.com.evil", "*@example.com", false},
        {"\xC3\xA9t\xC3\xA9", "\xC3\xA9t\xC3\xA9", true},  // UTF-8 bytes compare as they are
        {"\xC3\xA9", "?", false},                          // "?" is one byte, not one character
        {"\xC3\xA9", "??", true},
        {"\xC3\x89", "\xC3\xA9", false},  // upper and lower case E-acute are different bytes
        {"\xFF\x80", "\xFF*", true},
        {"\xFF\x80", "*\x80", true},
        {"\x80", "\x81", false},
    };
    for (const WildcardCase& c : cases) {
        EXPECT_EQ(CMatchingList::MatchWildcard(c.text.c_str(), c.pattern.c_str()), c.fits)
            << "text \"" << c.text << "\" pattern \"" << c.pattern << "\"";
        EXPECT_EQ(ReferenceMatch(c.text, c.pattern), c.fits) << c.text << " / " << c.pattern;
    }
}

TEST(MatchWildcardTest, StarLimit) {
    const std::vector<WildcardCase> cases = {
        {"", Repeat("*", 127), true},
        {"", Repeat("*", 128), false},  // would fit, but 128 stars fit nothing
        {"abc", Repeat("*", 127), true},
        {"abc", Repeat("*", 200), false},
        {Repeat("a", 127), Repeat("*a", 127), true},
        {Repeat("a", 128), Repeat("*a", 128), false},
        // 127 stars, the last two adjacent.
        {Repeat("ab", 126) + "x", Repeat("a*", 126) + "*x", true},
        {Repeat("ab", 127) + "x", Repeat("a*", 127) + "*x", false},
        {Repeat("a", 50), Repeat("*", 127) + "b", false},  // fewer than 128 but does not fit
    };
    for (const WildcardCase& c : cases) {
        EXPECT_EQ(CMatchingList::MatchWildcard(c.text.c_str(), c.pattern.c_str()), c.fits)
            << "text length " << c.text.size() << " pattern " << c.pattern.substr(0, 16) << "...";
    }
}

TEST(MatchWildcardTest, NullArgumentsFitNothing) {
    EXPECT_FALSE(CMatchingList::MatchWildcard(nullptr, "*"));
    EXPECT_FALSE(CMatchingList::MatchWildcard("", nullptr));
}

TEST(MatchWildcardTest, AgreesWithTheRecursiveDefinition) {
    std::mt19937 random(20240611);
    const char alphabet[] = {'a', 'b', '?', '*'};
    auto draw = [&](size_t maxLength) {
        std::string s(random() % (maxLength + 1), ' ');
        for (char& c : s) c = alphabet[random() % 4];
        return s;
    };
    int fits = 0;
    for (int i = 0; i < 60000; ++i) {
        const std::string text = draw(12);
        const std::string pattern = draw(12);
        const bool expected = ReferenceMatch(text, pattern);
        ASSERT_EQ(CMatchingList::MatchWildcard(text.c_str(), pattern.c_str()), expected)
            << "text \"" << text << "\" pattern \"" << pattern << "\"";
        fits += expected;
    }
    EXPECT_GT(fits, 3000);  // both answers are well represented

    // Around the star limit: mostly stars with a few letters, short texts (the recursive
    // definition is exponential in the text length here).
    for (int i = 0; i < 400; ++i) {
        std::string pattern(120 + random() % 11, '*');
        for (int letters = random() % 3; letters > 0; --letters) {
            pattern.insert(random() % (pattern.size() + 1), 1, "ab?"[random() % 3]);
        }
        const std::string text = draw(2);
        ASSERT_EQ(CMatchingList::MatchWildcard(text.c_str(), pattern.c_str()),
                  ReferenceMatch(text, pattern))
            << "text \"" << text << "\" stars " << std::count(pattern.begin(), pattern.end(), '*')
            << " pattern " << pattern;
    }
}

// ---- Init, Add, Match ----------------------------------------------------------------------

TEST_F(MatchingListTest, BeforeInit) {
    CMatchingList list;
    EXPECT_EQ(list.Add("abc", kExact), -22);
    EXPECT_TRUE(host::TraceContains("the matching list was not properly initialized"));
    sstring matched("unchanged");
    try {
        list.Match("abc", matched);
        FAIL() << "Match before Init must throw";
    } catch (const ascommon::ASException& e) {
        EXPECT_STREQ(e.what(),
                     "ASException - MESSAGE: the matching list was not properly initialized");
    }
    EXPECT_STREQ(matched.c_str(), "unchanged");
    EXPECT_EQ(list.Size(), 0u);
}

TEST_F(MatchingListTest, InitNeedsBothHandles) {
    CMatchingList list;
    typedef std::pair<ascommon::GlyphkitLib*, ascommon::RexkitLib*> Handles;
    for (const Handles& pair : {Handles(nullptr, nullptr), Handles(&bindings.unicode, nullptr),
                                Handles(nullptr, bindings.regex)}) {
        try {
            list.Init(pair.first, pair.second);
            FAIL() << "Init with a null handle must throw";
        } catch (const ascommon::ASException& e) {
            EXPECT_STREQ(e.what(),
                         "ASException - MESSAGE: invalid handles passed for init routine");
        }
        EXPECT_EQ(list.Add("abc", kExact), -22);  // still unusable
    }
    list.Init(&bindings.unicode, bindings.regex);
    EXPECT_EQ(list.Add("abc", kExact), 0);
    list.Init(&bindings.unicode, bindings.regex);  // again: the content stays
    EXPECT_EQ(list.Add("abc", kExact), -50);
    // A failed Init after a good one leaves the list usable.
    EXPECT_THROW(list.Init(nullptr, bindings.regex), ascommon::ASException);
    EXPECT_EQ(list.Add("abd", kExact), 0);
}

TEST_F(MatchingListTest, AddResults) {
    CMatchingList list;
    list.Init(&bindings.unicode, bindings.regex);
    struct Row {
        sstring expression;
        int32_t kind;
        int32_t result;
    };
    sstring withNul;
    withNul.assign("A\0B", 3);
    // clang-format off
    const Row rows[] = {
        {"ABC", kExact, 0},
        {"abc", kExact, -50},      // equal once folded
        {"aBc", kWildcard, 0},     // the two collections are independent
        {"abc", kWildcard, 0},     // wildcards may repeat
        {"", kExact, -12},
        {"", kWildcard, -12},
        {sstring(), kExact, -12},  // void
        {"", 7, -12},              // emptiness is checked before the kind
        {"x", 2, 0},               // unknown kinds store nothing
        {"x", -1, 0},
        {withNul, kExact, 0},      // embedded NUL: kept, length 3
    };
    // clang-format on
    for (const Row& row : rows) {
        host::TakeTraces();
        EXPECT_EQ(list.Add(row.expression, row.kind), row.result)
            << Text(row.expression) << " kind " << row.kind;
        EXPECT_EQ(host::TraceContains("the expression to add is empty or void"), row.result == -12);
    }
    const Content content = Snapshot(list);
    const std::vector<std::pair<std::string, int>> exact = {{std::string("a\0b", 3), 2},
                                                            {"abc", 1}};
    EXPECT_EQ(content.exact, exact);
    EXPECT_EQ(content.wildcards, (std::vector<std::string>{"abc", "abc"}));
    EXPECT_EQ(list.ExactCount(), 2u);
    EXPECT_EQ(list.WildcardCount(), 2u);
    EXPECT_EQ(list.Size(), 4u);  // the duplicate wildcard counts twice
}

TEST_F(MatchingListTest, MatchCases) {
    CMatchingList list;
    list.Init(&bindings.unicode, bindings.regex);
    ASSERT_EQ(list.Add("*@Example.COM", kWildcard), 0);
    ASSERT_EQ(list.Add("Joe@Example.com", kExact), 0);
    ASSERT_EQ(list.Add("a*", kWildcard), 0);
    ASSERT_EQ(list.Add("ABC", kExact), 0);
    const std::string upperE = "\xC3\x89";  // E-acute, upper and lower case
    const std::string lowerE = "\xC3\xA9";
    ASSERT_EQ(list.Add((upperE + "COLE@X.FR").c_str(), kExact), 0);
    ASSERT_EQ(list.Add("*", kWildcard), 0);
    struct Row {
        std::string text;
        std::string matched;
    };
    // clang-format off
    const Row rows[] = {
        {"aBc", "abc"},                          // exact: matched is the folded text
        {"JOE@EXAMPLE.COM", "joe@example.com"},  // exact beats the earlier wildcard
        {"ann@example.com", "*@example.com"},    // the first wildcard wins over "a*" and "*"
        {"anne", "a*"},
        {"", "*"},                               // the empty text reaches only wildcards
        {upperE + "cole@x.fr", upperE + "cole@x.fr"},  // only ASCII letters fold
        {lowerE + "cole@x.fr", "*"},             // the lower-case letter is another byte
    };
    // clang-format on
    for (const Row& row : rows) {
        sstring matched("unchanged");
        EXPECT_TRUE(list.Match(sstring(row.text.c_str(), row.text.size()), matched)) << row.text;
        EXPECT_EQ(Text(matched), row.matched) << row.text;
    }

    list.ClearWildcard();
    sstring matched("unchanged");
    EXPECT_FALSE(list.Match("", matched));
    EXPECT_FALSE(list.Match("anne", matched));
    EXPECT_FALSE(list.Match(sstring(), matched));  // void text
    EXPECT_STREQ(matched.c_str(), "unchanged");
    EXPECT_FALSE(list.Match("abc ", matched));  // exact means the whole text
}

TEST_F(MatchingListTest, EmbeddedNulComparesWholeLength) {
    CMatchingList list;
    list.Init(&bindings.unicode, bindings.regex);
    sstring expression;
    expression.assign("A\0B", 3);
    ASSERT_EQ(list.Add(expression, kExact), 0);
    sstring matched;
    EXPECT_FALSE(list.Match("a", matched));  // same C string, shorter text
    sstring text;
    text.assign("a\0b", 3);
    EXPECT_TRUE(list.Match(text, matched));
    EXPECT_EQ(matched.length(), 3u);
}

// Random adds and matches over a small alphabet against a plain model of the list.
TEST_F(MatchingListTest, AgreesWithAPlainModel) {
    std::mt19937 random(7);
    const char alphabet[] = {'a', 'A', 'b', 'B', '@', '*', '?', '\xC3'};
    auto draw = [&](size_t maxLength) {
        std::string s(random() % (maxLength + 1), ' ');
        for (char& c : s) c = alphabet[random() % sizeof alphabet];
        return s;
    };
    CMatchingList list;
    list.Init(&bindings.unicode, bindings.regex);
    std::set<std::string> exact;
    std::vector<std::string> wildcards;
    for (int i = 0; i < 3000; ++i) {
        const std::string expression = draw(6);
        const int32_t kind = static_cast<int32_t>(random() % 3);
        int32_t expected = 0;
        if (expression.empty()) {
            expected = -12;
        } else if (kind == kExact) {
            expected = exact.insert(FoldAscii(expression)).second ? 0 : -50;
        } else if (kind == kWildcard && wildcards.size() < 40) {
            wildcards.push_back(FoldAscii(expression));
        } else if (kind == kWildcard) {
            continue;  // keep the wildcard list short
        }
        ASSERT_EQ(list.Add(expression.c_str(), kind), expected) << expression << " kind " << kind;

        const std::string text = draw(8);
        const std::string folded = FoldAscii(text);
        std::string want = "<none>";
        if (exact.count(folded)) {
            want = folded;
        } else {
            for (const std::string& w : wildcards) {
                if (ReferenceMatch(folded, w)) {
                    want = w;
                    break;
                }
            }
        }
        sstring matched("<none>");
        EXPECT_EQ(list.Match(text.c_str(), matched), want != "<none>") << text;
        ASSERT_EQ(Text(matched), want) << text;
    }
    EXPECT_EQ(list.ExactCount(), exact.size());
    EXPECT_EQ(list.WildcardCount(), wildcards.size());
}

// ---- Growth and clearing ---------------------------------------------------------------------

std::string Address(int i) {
    return "User" + std::to_string(i) + "@Example.com";
}

TEST_F(MatchingListTest, ExactMapGrowsBeforeTenPerBucket) {
    CMatchingList list;
    list.Init(&bindings.unicode, bindings.regex);
    struct Step {
        int entries;       // expressions held after the add
        uint32_t buckets;  // bucket count after it
    };
    const Step steps[] = {
        {1, 32},    {321, 32},  // 321 entries: the next add checks 321 > 320
        {322, 160}, {1601, 160}, {1602, 800}, {8002, 4000},
    };
    int added = 0;
    for (const Step& step : steps) {
        while (added < step.entries) {
            ASSERT_EQ(list.Add(Address(added).c_str(), kExact), 0);
            ++added;
        }
        EXPECT_EQ(list.Exact().bucket_count(), step.buckets) << step.entries << " entries";
    }
    const Content content = Snapshot(list);
    ASSERT_EQ(content.exact.size(), 8002u);
    for (const auto& entry : content.exact) {
        const int i = std::stoi(entry.first.substr(4));
        EXPECT_EQ(entry.second, i + 1) << entry.first;  // the count before it, plus one
    }
    sstring matched;
    for (int i = 0; i < added; i += 97) {
        ASSERT_TRUE(list.Match(Address(i).c_str(), matched));
        EXPECT_EQ(Text(matched), FoldAscii(Address(i)));
    }

    // ClearExact keeps the grown bucket count; values start again at 1.
    list.ClearExact();
    EXPECT_EQ(list.ExactCount(), 0u);
    EXPECT_EQ(list.Exact().bucket_count(), 4000u);
    EXPECT_FALSE(list.Match(Address(5).c_str(), matched));
    ASSERT_EQ(list.Add("again", kExact), 0);
    EXPECT_EQ(Snapshot(list).exact, (std::vector<std::pair<std::string, int>>{{"again", 1}}));
}

TEST_F(MatchingListTest, GrowthIsCheckedBeforeTheDuplicateCheck) {
    CMatchingList list;
    list.Init(&bindings.unicode, bindings.regex);
    for (int i = 0; i < 321; ++i) ASSERT_EQ(list.Add(Address(i).c_str(), kExact), 0);
    EXPECT_EQ(list.Add(Address(0).c_str(), kExact), -50);
    EXPECT_EQ(list.Exact().bucket_count(), 160u);  // grown although nothing was added
    EXPECT_EQ(list.ExactCount(), 321u);
    ASSERT_EQ(list.Add("next", kExact), 0);
    bool found = false;
    for (const auto& entry : Snapshot(list).exact)
        found |= entry == std::make_pair(std::string("next"), 322);
    EXPECT_TRUE(found);  // a refused duplicate leaves no gap in the values
}

TEST_F(MatchingListTest, ClearWildcardFreesStorage) {
    CMatchingList list;
    list.Init(&bindings.unicode, bindings.regex);
    for (int i = 0; i < 100; ++i) ASSERT_EQ(list.Add(("*" + Address(i)).c_str(), kWildcard), 0);
    EXPECT_EQ(list.Wildcards().capacity(), 128u);
    list.ClearWildcard();
    EXPECT_EQ(list.WildcardCount(), 0u);
    EXPECT_EQ(list.Wildcards().capacity(), 0u);
    EXPECT_EQ(list.Wildcards().data(), nullptr);
    ASSERT_EQ(list.Add("*", kWildcard), 0);
    EXPECT_EQ(list.Wildcards().capacity(), 64u);
}

TEST_F(MatchingListTest, DestructionFreesEverything) {
    const uint64_t before = host::Counters().liveBytes;
    {
        CMatchingList list;
        list.Init(&bindings.unicode, bindings.regex);
        for (int i = 0; i < 500; ++i) {
            ASSERT_EQ(list.Add(("A long exact expression " + Address(i)).c_str(), kExact), 0);
            ASSERT_EQ(list.Add(("*a long wildcard expression " + Address(i)).c_str(), kWildcard),
                      0);
        }
        sstring matched;
        EXPECT_TRUE(list.Match("x a long wildcard expression user7@example.com", matched));
        EXPECT_GT(host::Counters().liveBytes, before);
    }
    EXPECT_EQ(host::Counters().liveBytes, before);
}

// ---- Failing allocations -------------------------------------------------------------------

// Fails the first, second, ... allocation of one Add, each time on a fresh list that `fill`
// prepares, until an Add runs without a failure. A failed Add must answer -10 and leave the
// content as it was; an Add that survives its failure (a copy tried again) must leave exactly the
// content of a clean add. Returns the number of -10 answers; `traced` tells whether any of them
// left a trace line containing `trace`.
int CheckEveryFailure(const std::function<void(CMatchingList&)>& fill,
                      const std::string& expression, int32_t kind, const char* trace = "",
                      bool* traced = nullptr) {
    Bindings bindings;
    int failures = 0;
    for (uint64_t n = 1;; ++n) {
        CMatchingList list;
        list.Init(&bindings.unicode, bindings.regex);
        fill(list);
        const Content before = Snapshot(list);
        Content after = before;
        if (kind == kExact) {
            after.exact.emplace_back(FoldAscii(expression),
                                     static_cast<int>(before.exact.size()) + 1);
            std::sort(after.exact.begin(), after.exact.end());
        } else {
            after.wildcards.push_back(FoldAscii(expression));
        }
        const sstring added(expression.c_str());
        const uint64_t failed = host::Counters().failedAllocations;
        host::TakeTraces();
        host::FailAllocationNumber(n);
        const int32_t result = list.Add(added, kind);
        host::FailAllocationNumber(0);
        const bool didFail = host::Counters().failedAllocations != failed;
        if (result == -10) {
            EXPECT_TRUE(didFail) << "allocation " << n;
            EXPECT_TRUE(Snapshot(list) == before) << "allocation " << n;
            ++failures;
            if (traced) *traced = *traced || host::TraceContains(trace);
            continue;
        }
        EXPECT_EQ(result, 0) << "allocation " << n;
        EXPECT_TRUE(Snapshot(list) == after) << "allocation " << n;
        if (!didFail || result != 0) break;
    }
    return failures;
}

TEST_F(MatchingListTest, FailedExactAddChangesNothing) {
    auto fill = [](CMatchingList& list) {
        for (int i = 0; i < 5; ++i) list.Add(("a long exact " + Address(i)).c_str(), kExact);
    };
    // The folded copy and the node; a failed copy of the node's key is tried again.
    EXPECT_EQ(CheckEveryFailure(fill, "Another Long Exact Expression@example.com", kExact), 2);
}

TEST_F(MatchingListTest, FailedMapGrowthChangesNothing) {
    auto fill = [](CMatchingList& list) {
        for (int i = 0; i < 321; ++i) list.Add(Address(i).c_str(), kExact);
    };
    bool traced = false;
    // The folded copy, both bucket arrays, the node.
    EXPECT_EQ(CheckEveryFailure(fill, "the three hundred and twenty-second@example.com", kExact,
                                "CMatchingList::Add(..) - Could not resize map array", &traced),
              4);
    EXPECT_TRUE(traced);
}

TEST_F(MatchingListTest, FailedWildcardAddChangesNothing) {
    for (int held : {5, 63}) {  // 63: the add grows the array and moves every element
        auto fill = [held](CMatchingList& list) {
            for (int i = 0; i < held; ++i) {
                list.Add(("*a long wildcard " + Address(i)).c_str(), kWildcard);
            }
        };
        // Without growth only the folded copy; with it also the saved copies of the 63 and the
        // new storage. Failed moves and a failed copy of the new element are tried again.
        EXPECT_EQ(
            CheckEveryFailure(fill, "*Another Long Wildcard Expression@example.com", kWildcard),
            held == 63 ? 1 + 1 + 63 + 1 : 1)
            << held;
    }
}

// A failure to copy the text is an exception; a failure to copy into `matched` leaves it as it
// was, with its error set.
TEST_F(MatchingListTest, FailedCopiesInMatch) {
    CMatchingList list;
    list.Init(&bindings.unicode, bindings.regex);
    const sstring text("Someone.With.A.Long.Name@example.com");
    ASSERT_EQ(list.Add(text, kExact), 0);
    sstring matched("unchanged");
    host::FailAllocationNumber(1);
    try {
        list.Match(text, matched);
        FAIL() << "Match must throw when the text cannot be copied";
    } catch (const ascommon::ASException& e) {
        EXPECT_STREQ(e.what(),
                     "ASException - MESSAGE: can't create a lowercase copy of match string");
    }
    host::FailAllocationNumber(2);
    EXPECT_TRUE(list.Match(text, matched));
    host::FailAllocationNumber(0);
    EXPECT_STREQ(matched.c_str(), "unchanged");
    EXPECT_EQ(matched.last_error(), -2);
    EXPECT_TRUE(list.Match(text, matched));
    EXPECT_STREQ(matched.c_str(), "someone.with.a.long.name@example.com");
}

}  // namespace

// CMatchingList: the wildcard matcher against a plain recursive matcher, adding and matching
// against a plain model of the list, folding, map growth, clearing, and failing allocations.
#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <random>
#include <set>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "common/asexception.h"
#include "engines/matchinglist/MatchingList.h"
#include "glyphkit/glyphkitlib.h"
#include "host/host_hooks.h"

namespace {

using ascommon::CMatchingList;
using ascommon::kExact;
using ascommon::kWildcard;
using ascommon::sstring;

// The plain definition: at a "*" try the rest against every tail, shortest run first; every "*"
// passed goes one level deeper and an attempt at depth 128 fails.
bool Reference(const char* text, const char* pattern, int depth = 0) {
    if (depth >= 128) return false;
    for (; *pattern != '*'; ++pattern, ++text) {
        if (*pattern == '\0') return *text == '\0';
        if (*text == '\0' || (*pattern != '?' && *pattern != *text)) return false;
    }
    for (const char* tail = text;; ++tail) {
        if (Reference(tail, pattern + 1, depth + 1)) return true;
        if (*tail == '\0') return false;
    }
}

std::string Fold(std::string text) {
    for (char& c : text) c = c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
    return text;
}

std::string Address(int i) {
    return "User" + std::to_string(i) + "@Example.com";
}

sstring Bytes(const std::string& text) {
    sstring s;
    s.assign(text.data(), text.size());
    return s;
}

std::string Text(const sstring& s) {
    return s.initialised() ? std::string(s.c_str(), s.length()) : std::string("<void>");
}

// The list's content: "expression=value" for each exact expression in byte order, then
// "|expression" for each wildcard in order.
std::string Snapshot(const CMatchingList& list) {
    std::multiset<std::string> exact;
    for (uint32_t b = 0; b < list.Exact().bucket_count(); ++b) {
        for (auto* n = list.Exact().head(b); n; n = n->next)
            exact.insert(Text(n->key) + "=" + std::to_string(n->value));
    }
    std::string content;
    for (const std::string& e : exact) content += e + " ";
    for (uint64_t i = 0; i < list.Wildcards().size(); ++i)
        content += "|" + Text(list.Wildcards().at(i));
    return content;
}

// The message of the ASException fn throws; "" when it throws none.
std::string Thrown(const std::function<void()>& fn) {
    try {
        fn();
    } catch (const ascommon::ASException& e) {
        return e.what();
    }
    return "";
}
const std::string kMessage = "ASException - MESSAGE: ";

// Every block taken while it lives is back when it ends.
struct NoLeak {
    const uint64_t live = host::Counters().liveBytes;
    ~NoLeak() { EXPECT_EQ(host::Counters().liveBytes, live); }
};

// An initialised list; traces captured from level 4. The binding pair is never used through its
// pointers.
class MatchingListTest : public ::testing::Test {
  protected:
    MatchingListTest() {
        list.Init(&unicode, regex);
        host::CaptureTraces(4);
        host::TakeTraces();
    }
    ~MatchingListTest() override {
        host::FailAllocationNumber(0);
        host::CaptureTraces(0);
        host::TakeTraces();
    }

    // Fails the first, second, ... allocation of one Add of the given kind, each time on a fresh
    // list holding `held` long expressions of that kind, until an Add runs without a failure. A
    // failed Add must answer -10 and leave the content as it was; an Add that survives its
    // failure (a copy tried again) must leave the content of a clean add. Returns the number of
    // -10 answers.
    int CheckEveryFailure(int32_t kind, int held) {
        const std::string prefix = kind == kExact ? "a long exact " : "*a long wildcard ";
        auto fill = [&](CMatchingList& l) {
            l.Init(&unicode, regex);
            for (int i = 0; i < held; ++i) l.Add((prefix + Address(i)).c_str(), kind);
        };
        const sstring added((prefix + "Another Long Expression").c_str());
        CMatchingList clean;
        fill(clean);
        EXPECT_EQ(clean.Add(added, kind), 0);
        for (int n = 1, failures = 0;; ++n) {
            CMatchingList l;
            fill(l);
            const std::string before = Snapshot(l);
            const uint64_t failedBefore = host::Counters().failedAllocations;
            host::FailAllocationNumber(n);
            const int32_t result = l.Add(added, kind);
            host::FailAllocationNumber(0);
            const bool failed = host::Counters().failedAllocations != failedBefore;
            failures += result == -10;
            EXPECT_EQ(std::make_pair(result == -10 ? failed : result == 0, Snapshot(l)),
                      std::make_pair(true, result == -10 ? before : Snapshot(clean)))
                << "allocation " << n << " result " << result;
            if (!failed) return failures;
        }
    }

    NoLeak noLeak;  // first: checked after every list of the test is gone
    ascommon::GlyphkitLib unicode;
    ascommon::RexkitLib* regex = reinterpret_cast<ascommon::RexkitLib*>(&unicode);
    CMatchingList list;
};

// ---- MatchWildcard --------------------------------------------------------------------------

TEST(MatchWildcardTest, CasesAndTheStarLimit) {
    const std::tuple<std::string, std::string, bool> cases[] = {
        // text, pattern, fits
        {"abbc", "a?c", false},    // "?" takes exactly one byte
        {"ab", "ab?", false},      // and never matches the end of the text
        {"abcabd", "*abd", true},  // the first "abd" try fails at "abc": the run grows
        {"ABC", "abc", false},     // the matcher itself does not fold
        {"\303\251", "?", false},  // "?" is one byte, not one character
        {"\303\251", "??", true},
        {"\303\211", "\303\251", false},  // bytes above 127 compare as they are
        {"\377\200", "\377*", true},
        {"abc", std::string(127, '*'), true},
        {"", std::string(128, '*'), false},  // 128 "*" or more fit nothing
        {"abc", std::string(200, '*'), false},
    };
    for (const auto& [text, pattern, fits] : cases) {
        EXPECT_EQ(CMatchingList::MatchWildcard(text.c_str(), pattern.c_str()), fits)
            << "text \"" << text << "\" pattern \"" << pattern.substr(0, 20) << "\"";
    }
    EXPECT_FALSE(CMatchingList::MatchWildcard(nullptr, "*"));
    EXPECT_FALSE(CMatchingList::MatchWildcard("", nullptr));
}

TEST(MatchWildcardTest, AgreesWithTheRecursiveDefinition) {
    std::mt19937 random(20240611);
    auto draw = [&](size_t maxLength) {
        std::string s(random() % (maxLength + 1), ' ');
        for (char& c : s) c = "ab?*"[random() % 4];
        return s;
    };
    auto agree = [](const std::string& text, const std::string& pattern) {
        EXPECT_EQ(CMatchingList::MatchWildcard(text.c_str(), pattern.c_str()),
                  Reference(text.c_str(), pattern.c_str()))
            << "text \"" << text << "\" pattern \"" << pattern << "\"";
    };
    for (int i = 0; i < 60000 && !::testing::Test::HasFailure(); ++i) agree(draw(12), draw(12));
    // Around the star limit: mostly stars with a few letters, short texts (the recursive
    // definition is exponential in the text length here).
    for (int i = 0; i < 400 && !::testing::Test::HasFailure(); ++i) {
        std::string pattern(120 + random() % 11, '*');
        for (int letters = random() % 3; letters > 0; --letters)
            pattern.insert(random() % (pattern.size() + 1), 1, "ab?"[random() % 3]);
        agree(draw(2), pattern);
    }
}

// ---- Init, Add, Match ----------------------------------------------------------------------

TEST_F(MatchingListTest, InitNeedsBothHandles) {
    CMatchingList fresh;
    EXPECT_EQ(fresh.Add("abc", kExact), -22);
    EXPECT_TRUE(host::TraceContains("the matching list was not properly initialized"));
    sstring matched("unchanged");
    EXPECT_EQ(Thrown([&] { fresh.Match("abc", matched); }),
              kMessage + "the matching list was not properly initialized");
    EXPECT_STREQ(matched.c_str(), "unchanged");
    typedef std::pair<ascommon::GlyphkitLib*, ascommon::RexkitLib*> Handles;
    for (const Handles& h :
         {Handles(nullptr, nullptr), Handles(&unicode, nullptr), Handles(nullptr, regex)}) {
        EXPECT_EQ(Thrown([&] { fresh.Init(h.first, h.second); }),
                  kMessage + "invalid handles passed for init routine");
        EXPECT_EQ(fresh.Add("abc", kExact), -22);  // still unusable
    }
    EXPECT_EQ(fresh.Size(), 0u);
    fresh.Init(&unicode, regex);
    EXPECT_EQ(fresh.Add("abc", kExact), 0);
    fresh.Init(&unicode, regex);  // again: the content stays
    EXPECT_EQ(fresh.Add("abc", kExact), -50);
    EXPECT_THROW(fresh.Init(nullptr, regex), ascommon::ASException);  // the list stays usable
    EXPECT_EQ(fresh.Add("abd", kExact), 0);
}

// What the random model below does not reach: void texts, unknown kinds, embedded NUL bytes,
// non-ASCII letters, the trace of an empty expression, clearing.
TEST_F(MatchingListTest, AddAndMatchCases) {
    const std::tuple<sstring, int32_t, int32_t> adds[] = {
        // expression, kind, result
        {"ABC", kExact, 0},
        {"abc", kExact, -50},  // equal once folded
        {"*X", kWildcard, 0},
        {"*x", kWildcard, 0},  // wildcards may repeat
        {sstring(), kWildcard, -12},
        {"", 7, -12},                                // emptiness is checked before the kind
        {"x", -1, 0},                                // unknown kinds store nothing
        {Bytes(std::string("A\0B", 3)), kExact, 0},  // kept whole, folded after the NUL too
        {"\303\211COLE", kExact, 0},                 // E-acute: only ASCII letters fold
    };
    for (const auto& [expression, kind, result] : adds) {
        host::TakeTraces();
        EXPECT_EQ(list.Add(expression, kind), result) << Text(expression);
        EXPECT_EQ(host::TraceContains("the expression to add is empty or void"), result == -12);
    }
    EXPECT_EQ(list.Size(), 5u);  // the repeated wildcard counts twice; unknown kinds add nothing

    // text, what it matched ("<none>": nothing, and matched unchanged)
    const std::pair<std::string, std::string> matches[] = {
        {"ABX", "*x"},
        {std::string("a\0B", 3), std::string("a\0b", 3)},
        {"A", "<none>"},  // the same C string as "a\0b", but shorter
        {"\303\211cole", "\303\211cole"},
        {"\303\251cole", "<none>"},  // lower-case E-acute is another byte
    };
    for (const auto& [text, expected] : matches) {
        sstring matched("<none>");
        EXPECT_EQ(list.Match(Bytes(text), matched), expected != "<none>") << text;
        EXPECT_EQ(Text(matched), expected) << text;
    }
    sstring matched("unchanged");
    EXPECT_FALSE(list.Match(sstring(), matched));  // void text
    EXPECT_STREQ(matched.c_str(), "unchanged");

    list.ClearWildcard();  // the expressions and their storage
    EXPECT_EQ(list.WildcardCount(), 0u);
    EXPECT_EQ(list.Wildcards().data(), nullptr);
    EXPECT_FALSE(list.Match("abx", matched));
}

// Random adds and matches over a small alphabet against a plain model of the list.
TEST_F(MatchingListTest, AgreesWithAPlainModel) {
    std::mt19937 random(7);
    auto draw = [&](size_t maxLength) {
        std::string s(random() % (maxLength + 1), ' ');
        for (char& c : s) c = "aAzZ@[*?\xC3"[random() % 9];  // the ends of the folded range
        return s;
    };
    std::set<std::string> exact;
    std::vector<std::string> wildcards;
    for (int i = 0; i < 3000; ++i) {
        const std::string expression = draw(6);
        int32_t kind = static_cast<int32_t>(random() % 3);          // 2: stores nothing
        if (kind == kWildcard && wildcards.size() >= 40) kind = 2;  // keep the wildcards few
        const bool empty = expression.empty();
        const bool duplicate = !empty && kind == kExact && !exact.insert(Fold(expression)).second;
        if (!empty && kind == kWildcard) wildcards.push_back(Fold(expression));
        const int32_t result = empty ? -12 : duplicate ? -50 : 0;
        ASSERT_EQ(list.Add(expression.c_str(), kind), result) << expression << " kind " << kind;

        const std::string text = draw(8), folded = Fold(text);
        std::string want = exact.count(folded) ? folded : "<none>";
        for (size_t w = 0; w < wildcards.size() && want == "<none>"; ++w)
            if (Reference(folded.c_str(), wildcards[w].c_str())) want = wildcards[w];
        sstring matched("<none>");
        EXPECT_EQ(list.Match(text.c_str(), matched), want != "<none>") << text;
        ASSERT_EQ(Text(matched), want) << text;
    }
}

// ---- Growth and clearing ---------------------------------------------------------------------

// An add that finds more than ten expressions per bucket first grows the map fivefold; the
// check comes before the duplicate check. Each value is the count before its add, plus one.
TEST_F(MatchingListTest, ExactMapGrowsBeforeTenPerBucket) {
    int added = 0;
    auto addUpTo = [&](int count) {
        for (; added < count; ++added) ASSERT_EQ(list.Add(Address(added).c_str(), kExact), 0);
    };
    addUpTo(321);
    EXPECT_EQ(list.Exact().bucket_count(), 32u);
    EXPECT_EQ(list.Add(Address(0).c_str(), kExact), -50);  // 321 > 320: grows, adds nothing
    EXPECT_EQ(list.Exact().bucket_count(), 160u);
    addUpTo(1601);
    EXPECT_EQ(list.Exact().bucket_count(), 160u);
    addUpTo(1602);
    EXPECT_EQ(list.Exact().bucket_count(), 800u);
    ASSERT_EQ(list.ExactCount(), 1602u);
    for (uint32_t b = 0; b < list.Exact().bucket_count(); ++b) {  // no gap for the duplicate
        for (auto* n = list.Exact().head(b); n; n = n->next)
            EXPECT_EQ(n->value, std::stoi(Text(n->key).substr(4)) + 1) << Text(n->key);
    }
    sstring matched;
    for (int i = 0; i < added; i += 97) EXPECT_TRUE(list.Match(Address(i).c_str(), matched)) << i;

    list.ClearExact();  // keeps the grown bucket count; values start again at 1
    EXPECT_EQ(list.Exact().bucket_count(), 800u);
    EXPECT_FALSE(list.Match(Address(5).c_str(), matched));
    ASSERT_EQ(list.Add("again", kExact), 0);
    EXPECT_EQ(Snapshot(list), "again=1 ");
}

// ---- Failing allocations -------------------------------------------------------------------

TEST_F(MatchingListTest, FailedAddsChangeNothing) {
    // kind, expressions held, -10 answers, a line traced on the way
    const std::tuple<int32_t, int, int, std::string> rows[] = {
        // The folded copy, the node and the node's copy of the key.
        {kExact, 5, 3, ""},
        // 321 held: also both bucket arrays of the growth.
        {kExact, 321, 5, "CMatchingList::Add(..) - Could not resize map array"},
        {kWildcard, 5, 2, ""},  // the folded copy and the element's copy
        // 63 held: the add grows the array, so also the new storage and the copies of the 63.
        {kWildcard, 63, 1 + 1 + 63 + 1, ""},
    };
    for (const auto& [kind, held, failures, trace] : rows) {
        host::TakeTraces();
        EXPECT_EQ(CheckEveryFailure(kind, held), failures) << held;
        EXPECT_TRUE(trace.empty() || host::TraceContains(trace)) << held;
    }
}

// A failure to copy the text is an exception; a failure to copy into `matched` leaves it as it
// was, with its error set.
TEST_F(MatchingListTest, FailedCopiesInMatch) {
    const sstring text("Someone.With.A.Long.Name@example.com");
    ASSERT_EQ(list.Add(text, kExact), 0);
    sstring matched("unchanged");
    host::FailAllocationNumber(1);
    EXPECT_EQ(Thrown([&] { list.Match(text, matched); }),
              kMessage + "can't create a lowercase copy of match string");
    host::FailAllocationNumber(2);
    EXPECT_TRUE(list.Match(text, matched));
    host::FailAllocationNumber(0);
    EXPECT_STREQ(matched.c_str(), "unchanged");
    EXPECT_EQ(matched.last_error(), -2);
    EXPECT_TRUE(list.Match(text, matched));
    EXPECT_STREQ(matched.c_str(), "someone.with.a.long.name@example.com");
}

}  // namespace

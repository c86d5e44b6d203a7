// CMatchingList: the wildcard matcher against a plain definition (fuzz/matchinglist_reference.h),
// folding and the precedence of exact over wildcard expressions, map growth, clearing, and failing
// allocations. Random adds and matches against the plain model of the list run as the corpus of
// the matchinglist fuzz target (FuzzReplay.matchinglist).
#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <random>
#include <set>
#include <string>
#include <tuple>
#include <utility>

#include "common/asexception.h"
#include "engines/matchinglist/MatchingList.h"
#include "fuzz/fuzz_support.h"
#include "fuzz/matchinglist_reference.h"
#include "glyphkit/glyphkitlib.h"
#include "host/host_hooks.h"

namespace {

using ascommon::CMatchingList;
using ascommon::kExact;
using ascommon::kWildcard;
using ascommon::sstring;
using fuzz::Bytes;
using fuzz::Text;

std::string Address(int i) {
    return "User" + std::to_string(i) + "@Example.com";
}

// The list's content: "expression=value" for each exact expression in byte order, then
// "|expression" for each wildcard in order.
std::string Snapshot(const CMatchingList& list) {
    std::multiset<std::string> exact;
    for (uint32_t b = 0; b < list.Exact().bucket_count(); ++b)
        for (auto* n = list.Exact().head(b); n; n = n->next)
            exact.insert(Text(n->key) + "=" + std::to_string(n->value));
    std::string content;
    for (const std::string& e : exact) content += e + " ";
    for (uint64_t i = 0; i < list.Wildcards().size(); ++i)
        content += "|" + Text(list.Wildcards().at(i));
    return content;
}

// The message of the ASException fn throws, after the common prefix; "" when it throws none.
std::string Thrown(const std::function<void()>& fn) {
    try {
        fn();
    } catch (const ascommon::ASException& e) {
        return std::string(e.what()).substr(std::string("ASException - MESSAGE: ").size());
    }
    return "";
}

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
    // failed Add must answer kNoMemory and leave the content as it was; an Add that survives its
    // failure (a copy tried again) must leave the content of a clean add. Returns the number of
    // kNoMemory answers.
    int CheckEveryFailure(int32_t kind, int held) {
        const std::string prefix = kind == kExact ? "a long exact " : "*a long wildcard ";
        auto fill = [&](CMatchingList& l) {
            l.Init(&unicode, regex);
            for (int i = 0; i < held; ++i) l.Add((prefix + Address(i)).c_str(), kind);
        };
        const sstring added((prefix + "Another Long Expression").c_str());
        CMatchingList clean;
        fill(clean);
        EXPECT_EQ(clean.Add(added, kind), CMatchingList::kOk);
        for (int n = 1, failures = 0;; ++n) {
            CMatchingList l;
            fill(l);
            const std::string before = Snapshot(l);
            const uint64_t failedBefore = host::Counters().failedAllocations;
            host::FailAllocationNumber(n);
            const int32_t result = l.Add(added, kind);
            host::FailAllocationNumber(0);
            const bool failed = host::Counters().failedAllocations != failedBefore;
            const bool refused = result == CMatchingList::kNoMemory;
            failures += refused;
            EXPECT_EQ(std::make_pair(refused ? failed : result == 0, Snapshot(l)),
                      std::make_pair(true, refused ? before : Snapshot(clean)))
                << "allocation " << n << " result " << result;
            if (!failed) return failures;
        }
    }

    ascommon::GlyphkitLib unicode;
    ascommon::RexkitLib* regex = reinterpret_cast<ascommon::RexkitLib*>(&unicode);
    CMatchingList list;
};

// ---- MatchWildcard --------------------------------------------------------------------------

// "?" takes exactly one byte, never the end of the text, and never one of two bytes of a
// character; when the first "abd" try fails at "abc" the run grows; the matcher itself does not
// fold; bytes above 127 compare as they are; 128 "*" or more fit nothing.
TEST(MatchWildcardTest, CasesTheStarLimitAndAPlainDefinition) {
    const std::string stars127(127, '*'), stars128(128, '*'), stars200(200, '*');
    const std::tuple<std::string, std::string, bool> cases[] = {
        {"abbc", "a?c", false},          {"ab", "ab?", false},        {"\303\251", "?", false},
        {"\303\251", "??", true},        {"abcabd", "*abd", true},    {"ABC", "abc", false},
        {"\303\211", "\303\251", false}, {"\377\200", "\377*", true}, {"abc", stars127, true},
        {"", stars128, false},           {"abc", stars200, false}};
    for (const auto& [text, pattern, fits] : cases) {
        EXPECT_EQ(CMatchingList::MatchWildcard(text.c_str(), pattern.c_str()), fits)
            << "text \"" << text << "\" pattern \"" << pattern.substr(0, 20) << "\"";
    }
    EXPECT_FALSE(CMatchingList::MatchWildcard(nullptr, "*"));
    EXPECT_FALSE(CMatchingList::MatchWildcard("", nullptr));

    // Random texts and patterns over a small alphabet, then patterns around the star limit:
    // mostly stars with a few letters.
    std::mt19937 random(20240611);
    auto draw = [&](size_t maxLength) {
        std::string s(random() % (maxLength + 1), ' ');
        for (char& c : s) c = "ab?*"[random() % 4];
        return s;
    };
    for (int i = 0; i < 60400 && !::testing::Test::HasFailure(); ++i) {
        std::string text = draw(12), pattern = draw(12);
        if (i >= 60000) {
            text = draw(2);
            pattern.assign(120 + random() % 11, '*');
            for (int letters = random() % 3; letters > 0; --letters)
                pattern.insert(random() % (pattern.size() + 1), 1, "ab?"[random() % 3]);
        }
        EXPECT_EQ(CMatchingList::MatchWildcard(text.c_str(), pattern.c_str()),
                  reference::Fits(text, pattern))
            << "text \"" << text << "\" pattern \"" << pattern << "\"";
    }
}

// ---- Init, Add, Match ----------------------------------------------------------------------

// An uninitialised list refuses everything until Init gets both handles. Then what the random
// model of the fuzz target does not reach: void texts, unknown kinds, embedded NUL bytes,
// non-ASCII letters, folding both ways, exact expressions before wildcards whatever came first,
// wildcards in the order they came, the trace of an empty expression, clearing.
TEST_F(MatchingListTest, InitAddAndMatchCases) {
    CMatchingList fresh;
    EXPECT_EQ(fresh.Add("abc", kExact), CMatchingList::kNotInitialised);
    EXPECT_TRUE(host::TraceContains("the matching list was not properly initialized"));
    sstring matched("unchanged");
    EXPECT_EQ(Thrown([&] { fresh.Match("abc", matched); }),
              "the matching list was not properly initialized");
    EXPECT_STREQ(matched.c_str(), "unchanged");
    using Handles = std::pair<ascommon::GlyphkitLib*, ascommon::RexkitLib*>;
    for (const Handles& h :
         {Handles(nullptr, nullptr), Handles(&unicode, nullptr), Handles(nullptr, regex)}) {
        EXPECT_EQ(Thrown([&] { fresh.Init(h.first, h.second); }),
                  "invalid handles passed for init routine");
        EXPECT_EQ(fresh.Add("abc", kExact), CMatchingList::kNotInitialised);  // still unusable
    }
    fresh.Init(&unicode, regex);
    EXPECT_EQ(fresh.Add("abc", kExact), CMatchingList::kOk);
    fresh.Init(&unicode, regex);  // again: the content stays
    EXPECT_EQ(fresh.Add("abc", kExact), CMatchingList::kDuplicate);
    EXPECT_THROW(fresh.Init(nullptr, regex), ascommon::ASException);  // the list stays usable
    EXPECT_EQ(fresh.Add("abd", kExact), CMatchingList::kOk);
    EXPECT_EQ(fresh.Size(), 2u);

    // Expression, kind, result. A duplicate is one equal once folded; a later wildcard that
    // fits the same texts is never chosen; wildcards may repeat; emptiness is checked before the
    // kind; unknown kinds store nothing; an expression with a NUL byte is kept and folded whole;
    // of E-acute only the ASCII letters fold.
    const sstring withNul = Bytes(std::string("A\0B", 3)), none;
    constexpr int32_t kDuplicate = CMatchingList::kDuplicate,
                      kEmpty = CMatchingList::kEmptyExpression;
    // clang-format off
    const std::tuple<sstring, int32_t, int32_t> adds[] = {
        {"*@PARTNER.example", kWildcard, 0}, {"Boss@Partner.Example", kExact, 0},
        {"BOSS@partner.EXAMPLE", kExact, kDuplicate}, {"B*@Partner.Example", kWildcard, 0},
        {"*X", kWildcard, 0}, {"*x", kWildcard, 0}, {"ZED@AZ.example", kExact, 0},
        {none, kWildcard, kEmpty}, {"", 7, kEmpty}, {"x", -1, 0}, {withNul, kExact, 0},
        {"\303\211COLE", kExact, 0}};
    // clang-format on
    for (const auto& [expression, kind, result] : adds) {
        host::TakeTraces();
        EXPECT_EQ(list.Add(expression, kind), result) << Text(expression);
        EXPECT_EQ(host::TraceContains("the expression to add is empty or void"), result == kEmpty);
    }
    EXPECT_EQ(list.Size(), 8u);  // the repeated wildcard counts twice; unknown kinds add nothing

    // Text, what it matched ("<none>": nothing, and matched unchanged). The exact expression
    // comes before the wildcard added first; "A" is the same C string as "a\0b" but shorter; a
    // lower-case E-acute is another byte.
    // clang-format off
    const std::pair<std::string, std::string> matches[] = {
        {"bOSS@PARTNER.example", "boss@partner.example"}, {"Bob@partner.EXAMPLE", "*@partner.example"},
        {"BOB@partner.example.net", "<none>"}, {"zed@az.EXAMPLE", "zed@az.example"}, {"ABX", "*x"},
        {std::string("a\0B", 3), std::string("a\0b", 3)}, {"A", "<none>"},
        {"\303\211cole", "\303\211cole"}, {"\303\251cole", "<none>"}};
    // clang-format on
    for (const auto& [text, expected] : matches) {
        sstring matched("<none>");
        EXPECT_EQ(list.Match(Bytes(text), matched), expected != "<none>") << text;
        EXPECT_EQ(Text(matched), expected) << text;
    }
    EXPECT_FALSE(list.Match(sstring(), matched));  // void text
    EXPECT_STREQ(matched.c_str(), "unchanged");

    list.ClearWildcard();  // the expressions and their storage
    EXPECT_EQ(list.WildcardCount(), 0u);
    EXPECT_EQ(list.Wildcards().data(), nullptr);
    EXPECT_FALSE(list.Match("abx", matched));
}

// ---- Growth and clearing ---------------------------------------------------------------------

// An add that finds more than ten expressions per bucket first grows the map fivefold; the
// check comes before the duplicate check. Each value is the count before its add, plus one.
TEST_F(MatchingListTest, ExactMapGrowsBeforeTenPerBucket) {
    int added = 0;
    auto addUpTo = [&](int count) {
        for (; added < count; ++added) EXPECT_EQ(list.Add(Address(added).c_str(), kExact), 0);
        return list.Exact().bucket_count();
    };
    EXPECT_EQ(addUpTo(321), 32u);
    EXPECT_EQ(list.Add(Address(0).c_str(), kExact), CMatchingList::kDuplicate);  // 321 > 320
    EXPECT_EQ(list.Exact().bucket_count(), 160u);  // grown, nothing added
    EXPECT_EQ(addUpTo(1601), 160u);
    EXPECT_EQ(addUpTo(1602), 800u);
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
    ASSERT_EQ(list.Add(Address(7).c_str(), kExact), 0);  // cleared keys are no duplicates
    EXPECT_EQ(Snapshot(list), "user7@example.com=1 ");
}

// ---- Failing allocations -------------------------------------------------------------------

TEST_F(MatchingListTest, FailedAllocations) {
    // kind, expressions held, kNoMemory answers, a line traced on the way
    // Exact: the folded copy, the node and its key; with 32 held also the key index's growth;
    // with 321 held also both bucket arrays of the growth. Wildcard: the folded copy and the
    // element's copy; with 63 held the add grows the array, so also the new storage and the
    // copies of the 63.
    // clang-format off
    const std::tuple<int32_t, int, int, std::string> rows[] = {
        {kExact, 5, 3, ""}, {kExact, 32, 4, ""},
        {kExact, 321, 5, "CMatchingList::Add(..) - Could not resize map array"},
        {kWildcard, 5, 2, ""}, {kWildcard, 63, 1 + 1 + 63 + 1, ""}};
    // clang-format on
    for (const auto& [kind, held, failures, trace] : rows) {
        host::TakeTraces();
        EXPECT_EQ(CheckEveryFailure(kind, held), failures) << held;
        EXPECT_TRUE(trace.empty() || host::TraceContains(trace)) << held;
    }

    // A failure to copy the text is an exception; a failure to copy into `matched` leaves it as
    // it was, with its error set.
    const sstring text("Someone.With.A.Long.Name@example.com");
    ASSERT_EQ(list.Add(text, kExact), 0);
    sstring matched("unchanged");
    host::FailAllocationNumber(1);
    EXPECT_EQ(Thrown([&] { list.Match(text, matched); }),
              "can't create a lowercase copy of match string");
    host::FailAllocationNumber(2);
    EXPECT_TRUE(list.Match(text, matched));
    host::FailAllocationNumber(0);
    EXPECT_STREQ(matched.c_str(), "unchanged");
    EXPECT_EQ(matched.last_error(), ascommon::kNoBuffer);
    EXPECT_TRUE(list.Match(text, matched));
    EXPECT_STREQ(matched.c_str(), "someone.with.a.long.name@example.com");
}

}  // namespace

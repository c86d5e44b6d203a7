// StringInfoParser: counts from the character-statistics document: its shapes, how each kind of
// value counts, and the parser before and after a document it cannot read. The statistics fuzz
// replay checks integer, text and clamped counts on built documents.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "common/sstring.h"
#include "glyphkit/unicodeutils.h"
#include "host/host_hooks.h"

using ascommon::StringInfoParser;
constexpr int32_t kNotInitialised = StringInfoParser::kNotInitialised;
constexpr int32_t kMissing = StringInfoParser::kMissing;

// The document; GetGroupCount("Letter"), GetScriptCount("Latin"), GetTotalWithoutOther().
TEST(StringInfoParserTest, Queries) {
    // clang-format off
    const std::tuple<std::string, int32_t, int32_t, int32_t> rows[] = {
        {R"({"Total":12,"Groups":{"Letter":9,"Other":2},"Scripts":{"Latin":9}})", 9, 9, 10},
        {R"({"Total":10,"Groups":{"Other":10}})", 0, kMissing, kNotInitialised},  // nothing left
        {R"({"Total":"12","Groups":{"Other":2}})", 0, kMissing, 10},  // counts as text
        {R"({"Groups":{"Letter":3}})", 3, kMissing, kMissing},        // no total
        {R"({"Total":4})", kMissing, kMissing, kMissing},             // no groups
        {R"({"Total":4,"Groups":[],"Scripts":"none"})", 0, 0, 0},  // empty or not containers
        {R"({"Total":4,"Groups":[1,2]})", 0, kMissing, 4},         // arrays have no names
        {"not json at all", kMissing, kMissing, kMissing},
        // A document cut short keeps what was read before the end; comments are skipped.
        {R"({"Total":6,"Groups":{"Letter":4)", 4, kMissing, 6},
        {"// statistics\n{\"Total\":3,\"Groups\":{\"Letter\":3}}", 3, kMissing, 3},
        {std::string("{\"Groups\":{\"Letter\":1}}\0{garbage", 32), 1, kMissing, kMissing},
        // Beyond the 32-bit range (unsigned 64-bit, exponents, numeric text): clamped.
        {R"({"Total":1e12,"Groups":{"Letter":18446744073709551615,"Other":-5}})", INT32_MAX, kMissing, INT32_MAX},
        {R"({"Total":-1e12,"Groups":{"Letter":"-99999999999","Other":1e12}})", INT32_MIN, kMissing, kNotInitialised},
        // Fractions toward zero, booleans by value, text like atoi, anything else 0.
        {R"({"Total":1,"Groups":{"Letter":-2.9},"Scripts":{"Latin":"  42abc"}})", -2, 42, 1},
        {R"({"Total":true,"Groups":{"Letter":2.9},"Scripts":{"Latin":false}})", 2, 0, 1},
        {R"({"Total":3,"Groups":{"Letter":null},"Scripts":{"Latin":[5]}})", 0, 0, 3},
        {R"({"Total":3,"Groups":{"Letter":"x"},"Scripts":{"Latin":{}}})", 0, 0, 3},
    };
    // clang-format on
    for (const auto& [text, letters, latin, withoutOther] : rows) {
        ascommon::sstring document;
        document.assign(text.data(), text.size());
        StringInfoParser parser;
        EXPECT_TRUE(parser.initialize(document)) << text;
        EXPECT_EQ(std::make_tuple(parser.GetGroupCount("Letter"), parser.GetScriptCount("Latin"),
                                  parser.GetTotalWithoutOther()),
                  std::make_tuple(letters, latin, withoutOther))
            << text;
    }
}

// Not initialised: never, by an uninitialised document (which also drops the previous one), or
// by a document the reader throws on (traced).
TEST(StringInfoParserTest, UninitialisedParser) {
    // clang-format off
    host::CaptureTraces(4); host::TakeTraces();
    // clang-format on
    StringInfoParser parser;
    EXPECT_EQ(std::make_tuple(parser.GetGroupCount("Letter"), parser.GetScriptCount("Latin"),
                              parser.GetTotalWithoutOther()),
              std::make_tuple(kNotInitialised, kNotInitialised, kNotInitialised));
    const std::string deep(5000, '[');  // past the reader's nesting limit
    for (const ascommon::sstring& next : {ascommon::sstring(), ascommon::sstring(deep.c_str())}) {
        EXPECT_TRUE(parser.initialize(ascommon::sstring(R"({"Groups":{"Letter":2}})")));
        EXPECT_EQ(parser.GetGroupCount(nullptr), -1);
        EXPECT_FALSE(parser.initialize(next));
        EXPECT_EQ(parser.GetGroupCount("Letter"), kNotInitialised);
    }
    const std::vector<std::string> lines = host::TakeTraces();
    host::CaptureTraces(0);
    const std::string start =
        "[StringInfoParser::initialize]Exception when trying to parse string with message: ";
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_TRUE(lines[0].find(start) != std::string::npos &&
                lines[0].substr(lines[0].size() - 2) == "!\n")
        << lines[0];
}

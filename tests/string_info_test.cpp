// StringInfoParser: counts from the character-statistics document.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "common/sstring.h"
#include "glyphkit/unicodeutils.h"
#include "host/host_hooks.h"

using ascommon::StringInfoParser;

namespace {

constexpr int32_t kNotInitialised = StringInfoParser::kNotInitialised;
constexpr int32_t kMissing = StringInfoParser::kMissing;

}  // namespace

TEST(StringInfoParserTest, Queries) {
    struct Row {
        const char* document;
        int32_t letters;  // GetGroupCount("Letter")
        int32_t latin;    // GetScriptCount("Latin")
        int32_t withoutOther;
    } rows[] = {
        {R"({"Total":12,"Groups":{"Letter":9,"Other":2},"Scripts":{"Latin":9}})", 9, 9, 10},
        {R"({"Total":10,"Groups":{"Other":10}})", 0, kMissing, kNotInitialised},  // nothing left
        {R"({"Total":5,"Groups":{"Other":7}})", 0, kMissing, kNotInitialised},
        {R"({"Total":"12","Groups":{"Other":2}})", 0, kMissing, 10},  // counts as text
        {R"({"Groups":{"Letter":3}})", 3, kMissing, kMissing},        // no total
        {R"({"Total":4})", kMissing, kMissing, kMissing},             // no groups
        {R"({"Total":4,"Groups":{},"Scripts":{}})", 0, 0, 0},
        {R"({"Total":4,"Groups":[],"Scripts":"none"})", 0, 0, 0},  // empty or not containers
        {R"({"Total":4,"Groups":[1,2]})", 0, kMissing, 4},         // arrays have no names
        {R"([{"Total":4,"Groups":{"Letter":1}}])", kMissing, kMissing, kMissing},
        {"not json at all", kMissing, kMissing, kMissing},
        {"", kMissing, kMissing, kMissing},
        // A document cut short keeps what was read before the end.
        {R"({"Total":6,"Groups":{"Letter":4)", 4, kMissing, 6},
        {"// statistics\n{\"Total\":3,\"Groups\":{\"Letter\":3}}", 3, kMissing, 3},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.document);
        StringInfoParser parser;
        EXPECT_TRUE(parser.initialize(ascommon::sstring(row.document)));
        EXPECT_EQ(parser.GetGroupCount("Letter"), row.letters);
        EXPECT_EQ(parser.GetScriptCount("Latin"), row.latin);
        EXPECT_EQ(parser.GetTotalWithoutOther(), row.withoutOther);
    }
}

TEST(StringInfoParserTest, CountValues) {
    struct Row {
        const char* value;
        int32_t count;
    } rows[] = {
        {"7", 7},
        {"-3", -3},
        {"true", 1},
        {"false", 0},
        {"2.9", 2},  // fractions are truncated toward zero
        {"-2.9", -2},
        {"null", 0},
        {"{}", 0},
        {"[5]", 0},
        {"\"  42abc\"", 42},  // text reads like atoi
        {"\"x\"", 0},
        {"\"\"", 0},
        // Beyond the 32-bit range: clamped.
        {"3000000000", INT32_MAX},
        {"-3000000000", INT32_MIN},
        {"18446744073709551615", INT32_MAX},
        {"1e12", INT32_MAX},
        {"-1e12", INT32_MIN},
        {"\"99999999999\"", INT32_MAX},
        {"\"-99999999999\"", INT32_MIN},
    };
    for (const Row& row : rows) {
        const std::string document = std::string(R"({"Groups":{"Letter":)") + row.value + "}}";
        StringInfoParser parser;
        parser.initialize(ascommon::sstring(document.c_str()));
        EXPECT_EQ(parser.GetGroupCount("Letter"), row.count) << row.value;
    }
}

TEST(StringInfoParserTest, TotalWithoutOtherStaysInRange) {
    StringInfoParser parser;
    parser.initialize(ascommon::sstring(R"({"Total":1e12,"Groups":{"Other":-5}})"));
    EXPECT_EQ(parser.GetTotalWithoutOther(), INT32_MAX);
    parser.initialize(ascommon::sstring(R"({"Total":-1e12,"Groups":{"Other":1e12}})"));
    EXPECT_EQ(parser.GetTotalWithoutOther(), kNotInitialised);
}

TEST(StringInfoParserTest, UninitialisedParserAndDocument) {
    StringInfoParser parser;
    EXPECT_EQ(parser.GetGroupCount("Letter"), kNotInitialised);
    EXPECT_EQ(parser.GetScriptCount("Latin"), kNotInitialised);
    EXPECT_EQ(parser.GetTotalWithoutOther(), kNotInitialised);
    EXPECT_FALSE(parser.initialize(ascommon::sstring()));
    EXPECT_EQ(parser.GetGroupCount("Letter"), kNotInitialised);

    EXPECT_TRUE(parser.initialize(ascommon::sstring(R"({"Groups":{"Letter":2}})")));
    EXPECT_EQ(parser.GetGroupCount(nullptr), -1);
    EXPECT_FALSE(parser.initialize(ascommon::sstring()));  // a new document replaces the old
    EXPECT_EQ(parser.GetGroupCount("Letter"), kNotInitialised);
}

TEST(StringInfoParserTest, TextEndsAtTheFirstNul) {
    const char bytes[] = "{\"Groups\":{\"Letter\":1}}\0{garbage";
    ascommon::sstring document;
    document.assign(bytes, sizeof bytes - 1);
    StringInfoParser parser;
    EXPECT_TRUE(parser.initialize(document));
    EXPECT_EQ(parser.GetGroupCount("Letter"), 1);
}

TEST(StringInfoParserTest, ReaderExceptionIsTracedAndLeavesTheParserUninitialised) {
    host::CaptureTraces(4);
    host::TakeTraces();
    const std::string deep(5000, '[');  // past the reader's nesting limit
    StringInfoParser parser;
    EXPECT_TRUE(parser.initialize(ascommon::sstring(R"({"Groups":{"Letter":2}})")));
    EXPECT_FALSE(parser.initialize(ascommon::sstring(deep.c_str())));
    EXPECT_EQ(parser.GetGroupCount("Letter"), kNotInitialised);
    EXPECT_TRUE(host::TraceContains(
        "[StringInfoParser::initialize]Exception when trying to parse string with message: "));
    const std::vector<std::string> lines = host::TakeTraces();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].back(), '\n');
    EXPECT_NE(lines[0].find("!\n"), std::string::npos);
    host::CaptureTraces(0);
}

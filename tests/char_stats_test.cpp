// CharStats: script counts of UTF-8 text, the statistics document, the group names, and the
// script-to-group table against ICU.
#include "host/char_stats.h"

#include <gtest/gtest.h>
#include <unicode/uchar.h>
#include <unicode/uscript.h>
#include <unicode/utf8.h>

#include <string>

using host::CharStats;

namespace {

std::string Utf8(UChar32 c) {
    char buffer[4];
    int length = 0;
    U8_APPEND_UNSAFE(buffer, length, c);
    return std::string(buffer, length);
}

}  // namespace

// ASCII is counted eight bytes at a time: the counts must not depend on where a block starts
// or on how many blocks a text has (a run longer than a byte lane can count is a row of the
// documents table). The sample holds the bytes next to each class boundary: @ [ ` { around the
// letters, space and ! ~ DEL around the visible characters, a control byte and a Cyrillic letter.
// Han, Hiragana, Katakana, the ideographic full stop (Common) and half-width katakana; Thai
// vowel signs are Thai too; an emoji is Common, U+20000 is Han; a combining acute is Inherited.
// White space, controls and format characters (BOM, zero-width space) are not counted. Invalid
// UTF-8: a lead before ASCII, a truncated sequence, overlong forms of '/' and of U+07FF, an
// encoded surrogate, a cut 4-byte sequence, U+110000, never-valid bytes. The document whole:
// groups in their number order, scripts by ICU code (Thai before Tagalog), empty sections when
// nothing was counted. (How the filter reads it: string_info_test and the statistics fuzz target.)
TEST(CharStatsTest, CountsAndDocuments) {
    const std::string sample = "Az@[`{09 \t\x7F\x01!~\xD0\xAF.";
    for (size_t offset = 0; offset <= 16; ++offset) {
        CharStats stats;
        stats.Add(std::string(offset, 'q') + sample + sample);
        EXPECT_EQ(offset + 4, stats.ScriptCount(USCRIPT_LATIN)) << offset;
        EXPECT_EQ(18u, stats.ScriptCount(USCRIPT_COMMON)) << offset;
        EXPECT_EQ(2u, stats.ScriptCount(USCRIPT_CYRILLIC)) << offset;
        EXPECT_EQ(offset + 24, stats.total()) << offset;
    }
    // clang-format off
    const std::pair<std::string, const char*> rows[] = {
        {"Hello, World 42! Привет, мир", R"({"Total": 24, "Groups": {"European": 19, "Other": 5}, "Scripts": {"Common": 5, "Cyrillic": 9, "Latin": 10}})"},
        {"日本語のカタカナ。ｶﾅ", R"({"Total": 11, "Groups": {"EastAsian": 10, "Other": 1}, "Scripts": {"Common": 1, "Han": 3, "Hiragana": 1, "Katakana": 6}})"},
        {"สวัสดี مرحبا 안녕하세요 नमस्ते ᜀᜁ", R"({"Total": 24, "Groups": {"MiddleEastern": 5, "SouthAsian": 6, "SoutheastAsian": 6, "Philippine": 2, "EastAsian": 5}, "Scripts": {"Arabic": 5, "Devanagari": 6, "Hangul": 5, "Thai": 6, "Tagalog": 2}})"},
        {"a\U0001F600\U00020000", R"({"Total": 3, "Groups": {"European": 1, "EastAsian": 1, "Other": 1}, "Scripts": {"Common": 1, "Han": 1, "Latin": 1}})"},
        {"e\u0301", R"({"Total": 2, "Groups": {"European": 1, "Other": 1}, "Scripts": {"Inherited": 1, "Latin": 1}})"},
        {"\t a\u00A0b\u3000c\u2028\uFEFF\u200B\x01\x7F\u0085\r\n", R"({"Total": 3, "Groups": {"European": 3}, "Scripts": {"Latin": 3}})"},
        {"a\xC3(b\xE3\x81" "c\xC0\xAF\xE0\x9F\xBF" "d\xED\xA0\x80" "e\xF0\x9F\x98\xF4\x90\x80\x80" "f\xF5\xFF\x80",
         R"({"Total": 7, "Groups": {"European": 6, "Other": 1}, "Scripts": {"Common": 1, "Latin": 6}})"},
        {std::string(4099, 'a') + "!", R"({"Total": 4100, "Groups": {"European": 4099, "Other": 1}, "Scripts": {"Common": 1, "Latin": 4099}})"},
        {"", R"({"Total": 0, "Groups": {}, "Scripts": {}})"}};
    // clang-format on
    for (const auto& [text, document] : rows) {
        CharStats stats;
        stats.Add(text);
        EXPECT_EQ(stats.Json(), document) << text.substr(0, 40);
    }
    CharStats twice;  // calls add up
    twice.Add("ab");
    twice.Add("-c");
    EXPECT_EQ(twice.Json(), R"({"Total": 4, "Groups": {"European": 3, "Other": 1}, )"
                            R"("Scripts": {"Common": 1, "Latin": 3}})");
    // Group names by number (the names the filter looks up), none outside; the group of codes
    // ICU does not name.
    std::string names;
    for (int group = -1; group <= host::kScriptGroupCount; ++group) {
        const char* name = host::ScriptGroupName(group);
        names += name ? std::string(name) + " " : "- ";
    }
    EXPECT_EQ(names,
              "- NULL European PhoneticSymbols African MiddleEastern CentralAsian SouthAsian "
              "SoutheastAsian Philippine EastAsian American Other - ");
    EXPECT_EQ(host::ScriptGroup(USCRIPT_INVALID_CODE), 11);
    EXPECT_EQ(host::ScriptGroup(USCRIPT_CODE_LIMIT + 5), 11);
}

// Every code ICU defines has a group; every code point of a real script (not Common, Inherited,
// Unknown or Braille) lands in a regional group; and counting each code point alone through the
// tables and the UTF-8 decoder gives ICU's own answer.
TEST(CharStatsTest, AgreesWithIcu) {
    for (int code = 0; code < USCRIPT_CODE_LIMIT; ++code) {
        const int group = host::ScriptGroup(code);
        EXPECT_TRUE(group >= 1 && group <= 11) << uscript_getName(UScriptCode(code));
    }
    int mismatches = 0;
    for (UChar32 c = 0; c <= 0x10FFFF && mismatches < 10; ++c) {
        if (U_IS_SURROGATE(c)) continue;
        UErrorCode status = U_ZERO_ERROR;
        const UScriptCode script = uscript_getScript(c, &status);
        const int group = host::ScriptGroup(script);
        const bool symbolic = script == USCRIPT_COMMON || script == USCRIPT_INHERITED ||
                              script == USCRIPT_UNKNOWN || script == USCRIPT_BRAILLE;
        const int8_t type = u_charType(c);
        const bool counted = !u_isUWhiteSpace(c) && type != U_CONTROL_CHAR && type != U_FORMAT_CHAR;
        CharStats stats;
        stats.Add(Utf8(c));
        if ((group == 11) != symbolic || stats.total() != (counted ? 1u : 0u) ||
            (counted && stats.ScriptCount(script) != 1)) {
            ADD_FAILURE() << "U+" << std::hex << c << " script " << uscript_getName(script);
            ++mismatches;
        }
    }
}

// sstring, usstring and the free string helpers. The UTF fuzz replay checks UTF8_tolower against
// the structural check on any bytes; these rows pin the buffers it sizes and its trace lines.
#include <gtest/gtest.h>

#include <clocale>
#include <cstring>
#include <string>
#include <tuple>

#include "common/asexception.h"
#include "common/sstring.h"
#include "common/status.h"
#include "common/ustring.h"
#include "host/host_hooks.h"

using ascommon::sstring;
using ascommon::usstring;

namespace {

// Where the text lives, length/capacity, the text up to its terminator and any last error, e.g.
// "inline 3/4 abc" or "heap 30/31 ... error -2"; "none" when uninitialised.
std::string State(const sstring& s) {
    if (!s.initialised()) return "none";
    return (s.is_inline() ? "inline " : "heap ") + std::to_string(s.length()) + "/" +
           std::to_string(s.capacity()) + " " + s.c_str() +
           (s.last_error() ? " error " + std::to_string(s.last_error()) : "");
}

// Length/capacity and the (ASCII) units, e.g. "5/6 hello"; "none" when uninitialised.
std::string State(const usstring& s) {
    if (!s.initialised()) return "none";
    return std::to_string(s.length()) + "/" + std::to_string(s.capacity()) + " " +
           std::string(s.c_str(), s.c_str() + s.length());
}

// A call's result, then the state it left: "0 inline 3/4 abc".
template <class S>
std::string After(int32_t result, const S& s) {
    return std::to_string(result) + " " + State(s);
}

}  // namespace

// Texts under 24 bytes live inline, copies too; appending is exact, moves to the heap once the
// text no longer fits, and keeps the content when the buffer cannot be had. A fill over a longer
// inline text ends the new one.
TEST(SstringTest, InlineBufferAppendAndFailedAllocation) {
    for (size_t length : {0, 22, 23, 100}) {
        const std::string text(length, 'x');
        const std::string want = (length < 23 ? "inline " : "heap ") + std::to_string(length) +
                                 "/" + std::to_string(length + 1) + " " + text;
        const sstring s(text.c_str());
        EXPECT_EQ(State(s) + ", " + State(sstring(s)), want + ", " + want);
    }
    sstring s("0123456789");
    EXPECT_EQ(After(s.append("0123456789", 10), s), "0 inline 20/21 01234567890123456789");
    EXPECT_EQ(After(s.append(sstring("abc")), s), "0 heap 23/24 01234567890123456789abc");
    s.append(s);  // appending itself
    EXPECT_EQ(State(s), "heap 46/47 01234567890123456789abc01234567890123456789abc");
    sstring none, small("short text");
    // Appending to an uninitialised string assigns; nothing comes from an uninitialised source.
    // clang-format off
    none.append("xy", 2); none.append(sstring()); none.append("", 0);
    EXPECT_EQ(State(none), "inline 2/3 xy");
    host::FailAllocationNumber(1);
    EXPECT_EQ(After(small.append(std::string(40, 'z').c_str(), 40), small), "-2 inline 10/11 short text error -2");
    host::FailAllocationNumber(0);
    // clang-format on
    EXPECT_EQ(After(small.assign("", 0), small), "0 inline 0/1 ");  // the error is cleared
    EXPECT_EQ(After(small.fill(5, 'a'), small), "0 inline 5/5 aaaaa");
    EXPECT_EQ(After(small.fill(30, '\0'), small) + std::to_string(small.c_str()[29]),
              "0 heap 0/30 0");
}

// Counted construction stops the length at a NUL; assign keeps it, and so does a copy.
// Uninitialised (default, from null, assigned null or from an uninitialised string) is not empty,
// and compares as neither equal nor unequal to another, less than any text both ways.
TEST(SstringTest, EmbeddedNulUninitialisedStateAndComparison) {
    const std::string bytes("ab\0de", 5);
    EXPECT_EQ(sstring(bytes.data(), 5).length(), 2u);
    sstring s, none, target("abc");
    EXPECT_EQ(s.assign(bytes.data(), 5), 0);
    const sstring copy(s);
    EXPECT_EQ(std::string(copy.c_str(), copy.length()), bytes);
    EXPECT_EQ(s.assign(nullptr, 3), 0);
    target = none;
    EXPECT_FALSE(s.initialised() || s.length() || target.initialised() ||
                 sstring(none).initialised() ||
                 sstring(static_cast<const char*>(nullptr)).initialised());
    // a, b (null: uninitialised), and which of a == b, a != b, a < b hold ('.' where not).
    // clang-format off
    const char* const rows[][3] = {
        {"abc", "abc", "=.."}, {"abc", "abd", ".!<"}, {"abd", "abc", ".!."},
        {"a", "\xff", ".!<"},  // unsigned byte comparison
        {nullptr, nullptr, "..."}, {nullptr, "abc", ".!<"}, {"abc", nullptr, ".!<"},
    };
    // clang-format on
    auto holds = [](const sstring& a, const sstring& b) {
        return std::string{a == b ? '=' : '.', a != b ? '!' : '.', a < b ? '<' : '.'};
    };
    for (const auto& row : rows) {
        EXPECT_EQ(holds(sstring(row[0]), sstring(row[1])), row[2]) << row[0] << " vs " << row[1];
    }
    EXPECT_EQ(holds(none, none), "=..");  // any string, even an uninitialised one, equals itself
}

TEST(SstringTest, Utf8ToLower) {
    host::CaptureTraces(4);
    // Input, validate, status, text after, capacity after (0: not checked).
    const std::tuple<const char*, bool, int32_t, const char*, uint64_t> rows[] = {
        // U+0042 U+00C0 U+0130 (shrinks by one byte) U+10570 U+1E900 U+10428 (already lower case)
        {"B\xC3\x80\xC4\xB0\xF0\x90\x95\xB0\xF0\x9E\xA4\x80\xF0\x90\x90\xA8", true, 0,
         "b\xC3\xA0i\xF0\x90\x96\x97\xF0\x9E\xA4\xA2\xF0\x90\x90\xA8", 0},
        {"MIXED Case 123 WITH A LONG TAIL", true, 0, "mixed case 123 with a long tail", 0},
        // Room 10 is too small (4 bytes are kept free), the estimate grows to 13: capacity 15.
        {"ABCDEFGHIJ", false, 0, "abcdefghij", 15},
        {"abc\xC3", true, ascommon::kIllFormed, "abc\xC3", 0},  // refused by the structural check
        {"ab\xC3", false, ascommon::kIllFormed, "ab\xC3", 0},   // the lower-caser fails on its own
    };
    for (const auto& [input, validate, rc, expected, capacity] : rows) {
        sstring s(input);
        EXPECT_EQ(s.UTF8_tolower(validate), rc) << input;
        EXPECT_STREQ(s.c_str(), expected);
        EXPECT_TRUE(s.is_inline() == (s.length() + 1 < 24) &&
                    (capacity == 0 || s.capacity() == capacity))
            << input << " " << s.capacity();
    }
    EXPECT_TRUE(host::TraceContains("[sstring::UTF8_tolower] invalid UTF-8 buffer"));
    EXPECT_TRUE(host::TraceContains("UNICODETOLOWER::UTF8_tolower failed ( iRet=-50 )"));
    // The structural check: lead and continuation bytes only, so overlongs and surrogates pass;
    // a continuation byte or 0xF8 in lead position, a cut sequence or a bad continuation fail.
    std::string verdicts;
    for (const char* text :
         {"", "plain", "\xC3\xA9", "\xE2\x82\xAC", "\xF0\x9F\x98\x80", "\xC0\x80", "\xED\xA0\x80",
          "\x80", "\x80\x80", "\xF8\x88\x80\x80", "\xC3", "\xE2\x82", "\xC3\x28", "\xC3\xC3"})
        verdicts += ascommon::IsStructurallyValidUtf8(text, std::strlen(text)) ? '+' : '-';
    EXPECT_EQ(verdicts, "+++++++-------");
    // clang-format off
    host::CaptureTraces(0); host::TakeTraces();
    // clang-format on
}

TEST(StringHelpersTest, CaseSearchTokenizeAndHash) {
    char lower[] = "MiXeD \xC3\x80 Z[", upper[] = "content-type";
    EXPECT_STREQ(ascommon::strlwr_ascii(lower), "mixed \xC3\x80 z[");
    EXPECT_EQ(ascommon::strlwr_ascii(nullptr), nullptr);
    EXPECT_STREQ(ascommon::_strupr(upper), "CONTENT-TYPE");
    const char* subject = "Re: SEXUALLY-Explicit offer";
    EXPECT_EQ(ascommon::stristr(subject, "sexually-explicit"), subject + 4);
    EXPECT_EQ(ascommon::stristr(subject, ""), subject);
    EXPECT_STREQ(ascommon::stristr("aaab", "AAB"), "aab");
    // The last: the end of the text must not match the byte 0xFF.
    const char* const misses[][2] = {{"", "a"},          {"", ""},        {nullptr, "a"},
                                     {subject, nullptr}, {"abc", "abcd"}, {"ab", "B\xFF"}};
    for (const auto& m : misses) EXPECT_EQ(ascommon::stristr(m[0], m[1]), nullptr) << m[0];

    char text[] = "  one\ttwo \n\nthree  ", *context = nullptr;
    std::string tokens;
    auto next = [&context](char* from) { return ascommon::tokenize(from, " \t\r\n", &context); };
    // Bounded, so a tokenizer that never reports the end fails instead of hanging.
    for (char* t = next(text); t && tokens.size() < 40; t = next(nullptr))
        tokens += t + std::string("|");
    EXPECT_EQ(tokens, "one|two|three|");
    EXPECT_EQ(ascommon::tokenize(nullptr, " ", &context), nullptr);
    // h = 5381 * 33 ^ byte; a byte 0xFF enters as 0xFFFFFFFF.
    EXPECT_EQ(ascommon::hash_sstring(sstring("a")), 177604u);
    EXPECT_EQ(ascommon::hash_sstring(sstring("\xff")), (5381u * 33u) ^ 0xFFFFFFFFu);
    EXPECT_EQ(ascommon::hash_sstring(sstring("")) + ascommon::hash_sstring(sstring()), 0u);
}

// Copies take the source's capacity, also where it exceeds the length + 1.
TEST(UsstringTest, AssignmentFillFindAndConversion) {
    usstring a, b;
    EXPECT_EQ(a.assign(u"hello", 5), 0);
    a.set_case_flag(7);
    b = a;
    EXPECT_EQ(State(b) + " flag " + std::to_string(b.case_flag()), "5/6 hello flag 7");
    uint64_t pos = 99;
    EXPECT_TRUE(b.find(u'l', &pos) && pos == 2u && !b.find(u'z', &pos)) << pos;
    EXPECT_STREQ(a.to_sstring().c_str(), "hello");
    b = usstring();  // an uninitialised source resets the target
    EXPECT_EQ(State(b), "none");
    EXPECT_EQ(After(b.fill(3, u'x'), b), "0 3/4 xxx");
    EXPECT_EQ(b.fill(6, 0), 0);
    usstring c;
    c = b;
    EXPECT_EQ(State(b) + ", " + State(c), "0/6 , 0/6 ");

    // Converting an uninitialised string traces and gives none; an unconvertible one throws.
    host::CaptureTraces(4);
    EXPECT_FALSE(usstring().to_sstring().initialised());
    EXPECT_TRUE(host::TraceContains(
        "ascommon::usstring::to_sstring - trying to convert an uninitialized string"));
    a.assign(u"caf\u4e2d", 4);
    std::setlocale(LC_ALL, "C");  // no C locale holds U+4E2D (ASCII on Linux, ANSI on Windows)
    EXPECT_THROW(a.to_sstring(), ascommon::ASException);
    EXPECT_TRUE(host::TraceContains("[ANTISPAM EXCEPTION]") &&
                host::TraceContains("- ASException - MESSAGE: conversion failed\n"));
    // clang-format off
    host::CaptureTraces(0); host::TakeTraces();
    // clang-format on
}

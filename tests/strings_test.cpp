// sstring, usstring and the free string helpers.
#include <gtest/gtest.h>

#include <clocale>
#include <cstring>
#include <functional>
#include <vector>
#include <string>

#include "common/sstring.h"
#include "common/asexception.h"
#include "common/ustring.h"
#include "host/host_hooks.h"

using ascommon::sstring;
using ascommon::usstring;

namespace {

std::string Bytes(const sstring& s) {
    return std::string(s.c_str(), s.length());
}

uint64_t AllocationsDuring(const std::function<void()>& work) {
    const uint64_t before = host::Counters().allocations;
    work();
    return host::Counters().allocations - before;
}

}  // namespace

TEST(SstringTest, InlineBufferHoldsTextsUnder24BytesWithTerminator) {
    struct Row {
        size_t length;
        bool inlined;
    } rows[] = {{0, true}, {1, true}, {22, true}, {23, false}, {100, false}};
    for (const Row& row : rows) {
        const std::string text(row.length, 'x');
        uint64_t allocations = AllocationsDuring([&] {
            sstring s(text.c_str());
            EXPECT_EQ(s.is_inline(), row.inlined) << row.length;
            EXPECT_EQ(s.length(), row.length);
            EXPECT_EQ(s.capacity(), row.length + 1);
            sstring copy(s);
            EXPECT_EQ(copy.is_inline(), row.inlined);
            EXPECT_TRUE(copy == s);
        });
        EXPECT_EQ(allocations, row.inlined ? 0u : 2u) << row.length;
    }
}

TEST(SstringTest, CountedConstructionStopsLengthAtNulButAssignKeepsIt) {
    const char bytes[] = {'a', 'b', '\0', 'd', 'e'};
    sstring counted(bytes, 5);
    EXPECT_EQ(counted.length(), 2u);
    sstring assigned;
    EXPECT_EQ(assigned.assign(bytes, 5), 0);
    EXPECT_EQ(assigned.length(), 5u);
    EXPECT_EQ(Bytes(assigned), std::string(bytes, 5));
    sstring copy(assigned);  // embedded NUL bytes survive a copy
    EXPECT_EQ(Bytes(copy), std::string(bytes, 5));
    EXPECT_EQ(assigned.assign(nullptr, 3), 0);
    EXPECT_FALSE(assigned.initialised());
}

TEST(SstringTest, UninitialisedAndEmptyAreDifferentStates) {
    sstring none;
    sstring empty("");
    sstring fromNull(static_cast<const char*>(nullptr));
    EXPECT_FALSE(none.initialised());
    EXPECT_FALSE(fromNull.initialised());
    EXPECT_TRUE(empty.initialised());
    EXPECT_EQ(empty.length(), 0u);
    sstring copy(none);
    EXPECT_FALSE(copy.initialised());
    sstring target("abc");
    target = none;
    EXPECT_FALSE(target.initialised());
}

TEST(SstringTest, ComparisonRules) {
    sstring a("abc"), b("abd"), a2("abc"), u1, u2;
    EXPECT_TRUE(a == a2);
    EXPECT_TRUE(a == a);
    EXPECT_FALSE(a == b);
    EXPECT_FALSE(u1 == u2);  // two distinct uninitialised strings are not equal...
    EXPECT_FALSE(u1 != u2);  // ...and not unequal either
    EXPECT_TRUE(u1 == u1);
    EXPECT_TRUE(a != u1);
    EXPECT_TRUE(a < b);
    EXPECT_FALSE(b < a);
    EXPECT_FALSE(a < a2);
    EXPECT_TRUE(u1 < a);  // exactly one side uninitialised: true both ways
    EXPECT_TRUE(a < u1);
    EXPECT_FALSE(u1 < u2);
    sstring high("\xff"), low("a");
    EXPECT_TRUE(low < high);  // unsigned byte comparison
}

TEST(SstringTest, AppendIsExactAndMovesToTheHeapPastTheInlineBuffer) {
    sstring s("0123456789");
    EXPECT_EQ(AllocationsDuring([&] { EXPECT_EQ(s.append("0123456789", 10), 0); }), 0u);
    EXPECT_TRUE(s.is_inline());
    EXPECT_EQ(s.length(), 20u);
    EXPECT_EQ(AllocationsDuring([&] { EXPECT_EQ(s.append(sstring("abc")), 0); }), 1u);
    EXPECT_FALSE(s.is_inline());
    EXPECT_EQ(s.length(), 23u);
    EXPECT_EQ(s.capacity(), 24u);
    EXPECT_EQ(Bytes(s), "01234567890123456789abc");
    s.append(s);  // appending itself
    EXPECT_EQ(Bytes(s), "01234567890123456789abc01234567890123456789abc");
    EXPECT_EQ(s.capacity(), 47u);

    sstring none;
    none.append("xy", 2);  // appending to an uninitialised string assigns
    EXPECT_EQ(Bytes(none), "xy");
    none.append(sstring());  // nothing from an uninitialised source
    none.append("", 0);
    EXPECT_EQ(Bytes(none), "xy");
}

TEST(SstringTest, FailedAllocationKeepsContent) {
    sstring s("short");
    host::FailAllocationNumber(1);
    EXPECT_EQ(s.append(std::string(40, 'z').c_str(), 40), -2);
    host::FailAllocationNumber(0);
    EXPECT_EQ(s.last_error(), -2);
    EXPECT_EQ(Bytes(s), "short");
    EXPECT_EQ(s.assign("", 0), 0);
    EXPECT_EQ(s.last_error(), 0);
}

TEST(SstringTest, FillSizesBuffers) {
    sstring s;
    EXPECT_EQ(s.fill(5, 'a'), 0);
    EXPECT_EQ(Bytes(s), "aaaaa");
    EXPECT_EQ(s.capacity(), 5u);
    EXPECT_EQ(s.fill(30, '\0'), 0);
    EXPECT_EQ(s.length(), 0u);
    EXPECT_EQ(s.capacity(), 30u);
    EXPECT_FALSE(s.is_inline());
    EXPECT_EQ(s.c_str()[29], '\0');
}

TEST(SstringTest, Utf8ToLower) {
    struct Row {
        const char* input;
        const char* expected;
    } rows[] = {
        {"\xC3\x80"
         "B",
         "\xC3\xA0"
         "b"},                                     // U+00C0 U+0042
        {"\xC4\xB0", "i"},                         // U+0130 shrinks by one byte
        {"\xF0\x90\x95\xB0", "\xF0\x90\x96\x97"},  // U+10570 -> U+10597
        {"\xF0\x9E\xA4\x80", "\xF0\x9E\xA4\xA2"},  // U+1E900 -> U+1E922
        {"\xF0\x90\x90\xA8", "\xF0\x90\x90\xA8"},  // U+10428 is lower case already
        {"", ""},
        {"MIXED Case 123 WITH A LONG TAIL", "mixed case 123 with a long tail"},
    };
    for (const Row& row : rows) {
        sstring s(row.input);
        EXPECT_EQ(s.UTF8_tolower(true), 0) << row.input;
        EXPECT_EQ(Bytes(s), row.expected) << row.input;
        EXPECT_EQ(s.is_inline(), s.length() + 1 < 24) << row.input;
    }
}

TEST(SstringTest, Utf8ToLowerGrowsItsEstimate) {
    // Ten ASCII bytes: room 10 is too small (4 bytes are kept free), room 13 fits.
    sstring s("ABCDEFGHIJ");
    EXPECT_EQ(s.UTF8_tolower(false), 0);
    EXPECT_EQ(Bytes(s), "abcdefghij");
    EXPECT_TRUE(s.is_inline());
    EXPECT_EQ(s.capacity(), 15u);
}

TEST(SstringTest, Utf8ToLowerRefusesInvalidText) {
    host::CaptureTraces(4);
    sstring s("abc\xC3");
    EXPECT_EQ(s.UTF8_tolower(true), -50);
    EXPECT_EQ(Bytes(s), "abc\xC3");
    EXPECT_TRUE(host::TraceContains("[sstring::UTF8_tolower] invalid UTF-8 buffer"));
    sstring t("ab\xC3");
    EXPECT_EQ(t.UTF8_tolower(false), -50);  // the lower-caser fails on its own, text kept
    EXPECT_EQ(Bytes(t), "ab\xC3");
    EXPECT_TRUE(host::TraceContains("UNICODETOLOWER::UTF8_tolower failed ( iRet=-50 )"));
    host::CaptureTraces(0);
    host::TakeTraces();
}

TEST(StructuralUtf8Test, Cases) {
    struct Row {
        const char* text;
        bool valid;
    } rows[] = {
        {"", true},
        {"plain", true},
        {"\xC3\xA9", true},
        {"\xE2\x82\xAC", true},
        {"\xF0\x9F\x98\x80", true},
        {"\xC0\x80", true},      // overlong forms pass the structural check
        {"\xED\xA0\x80", true},  // so do surrogates
        {"\x80", false},         // continuation byte in lead position
        {"\xF8\x88\x80\x80\x80", false},
        {"\xC3", false},  // cut off by the end
        {"\xE2\x82", false},
        {"\xC3\x28", false},  // malformed continuation
    };
    for (const Row& row : rows) {
        EXPECT_EQ(ascommon::IsStructurallyValidUtf8(row.text, std::strlen(row.text)), row.valid)
            << row.text;
    }
}

TEST(StringHelpersTest, CaseAndSearch) {
    char lower[] = "MiXeD \xC3\x80 Z";
    EXPECT_STREQ(ascommon::strlwr_ascii(lower), "mixed \xC3\x80 z");
    EXPECT_EQ(ascommon::strlwr_ascii(nullptr), nullptr);
    char upper[] = "content-type";
    EXPECT_STREQ(ascommon::_strupr(upper), "CONTENT-TYPE");

    const char* subject = "Re: SEXUALLY-Explicit offer";
    EXPECT_EQ(ascommon::stristr(subject, "sexually-explicit"), subject + 4);
    EXPECT_EQ(ascommon::stristr(subject, ""), subject);
    EXPECT_EQ(ascommon::stristr("", "a"), nullptr);
    EXPECT_EQ(ascommon::stristr(nullptr, "a"), nullptr);
    EXPECT_EQ(ascommon::stristr(subject, nullptr), nullptr);
    EXPECT_STREQ(ascommon::stristr("aaab", "AAB"), "aab");
    EXPECT_EQ(ascommon::stristr("abc", "abcd"), nullptr);
}

TEST(StringHelpersTest, TokenizeSkipsDelimiterRuns) {
    char text[] = "  one\ttwo \n\nthree  ";
    char* context = nullptr;
    std::vector<std::string> tokens;
    for (char* t = ascommon::tokenize(text, " \t\r\n", &context); t;
         t = ascommon::tokenize(nullptr, " \t\r\n", &context)) {
        tokens.push_back(t);
    }
    EXPECT_EQ(tokens, (std::vector<std::string>{"one", "two", "three"}));
    EXPECT_EQ(ascommon::tokenize(nullptr, " ", &context), nullptr);
}

TEST(StringHelpersTest, HashSstring) {
    EXPECT_EQ(ascommon::hash_sstring(sstring("a")), 177604u);
    EXPECT_EQ(ascommon::hash_sstring(sstring("")), 0u);
    EXPECT_EQ(ascommon::hash_sstring(sstring()), 0u);
    // A byte 0xFF enters as 0xFFFFFFFF: (5381 * 33) ^ 0xFFFFFFFF.
    EXPECT_EQ(ascommon::hash_sstring(sstring("\xff")), (5381u * 33u) ^ 0xFFFFFFFFu);
}

TEST(UsstringTest, AssignmentFillFindAndConversion) {
    usstring a;
    EXPECT_FALSE(a.initialised());
    EXPECT_EQ(a.assign(u"hello", 5), 0);
    a.set_case_flag(7);
    usstring b;
    b = a;
    EXPECT_EQ(std::u16string(b.c_str(), b.length()), u"hello");
    EXPECT_EQ(b.case_flag(), 7);
    uint64_t pos = 99;
    EXPECT_TRUE(b.find(u'l', &pos));
    EXPECT_EQ(pos, 2u);
    EXPECT_FALSE(b.find(u'z', &pos));

    usstring none;
    b = none;  // an uninitialised source resets the target
    EXPECT_FALSE(b.initialised());

    EXPECT_EQ(b.fill(3, u'x'), 0);
    EXPECT_EQ(std::u16string(b.c_str(), b.length()), u"xxx");
    EXPECT_EQ(b.capacity(), 4u);
    EXPECT_EQ(b.fill(6, 0), 0);
    EXPECT_EQ(b.length(), 0u);
    EXPECT_EQ(b.capacity(), 6u);

    sstring narrow = a.to_sstring();
    EXPECT_EQ(Bytes(narrow), "hello");
}

TEST(UsstringTest, ToSstringOfUninitialisedAndUnconvertible) {
    host::CaptureTraces(4);
    usstring none;
    sstring out = none.to_sstring();
    EXPECT_FALSE(out.initialised());
    EXPECT_TRUE(host::TraceContains(
        "ascommon::usstring::to_sstring - trying to convert an uninitialized string"));

    usstring accented;
    accented.assign(u"caf\u00e9", 4);
    std::setlocale(LC_ALL, "C");  // the C locale cannot hold U+00E9
    try {
        accented.to_sstring();
        FAIL() << "expected an exception";
    } catch (const ascommon::ASException& e) {
        EXPECT_STREQ(e.what(), "ASException - MESSAGE: conversion failed");
    }
    EXPECT_TRUE(host::TraceContains("[ANTISPAM EXCEPTION]"));
    host::CaptureTraces(0);
    host::TakeTraces();
}

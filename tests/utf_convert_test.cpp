// UTF buffer conversions and the charset conversions built on them.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "common/convert.h"
#include "glyphkit/utfconvert.h"
#include "host/host_hooks.h"

using ascommon::kLenientConversion;
using ascommon::kStrictConversion;

namespace {

constexpr size_t kGuardUnits = 4;

template <typename T>
struct Outcome {
    int result;
    size_t consumed;
    std::vector<T> produced;
};

// Runs a conversion over an exactly sized source into `capacity` units followed by guard units,
// and checks that the guards were not touched.
template <typename S, typename T, typename Convert>
Outcome<T> RunConversion(Convert convert, const std::vector<S>& source, size_t capacity) {
    const T guard = static_cast<T>(0x5A);
    std::vector<T> target(capacity + kGuardUnits, guard);
    const S* s = source.data();
    T* t = target.data();
    const int result = convert(&s, source.data() + source.size(), &t, target.data() + capacity);
    for (size_t i = capacity; i < target.size(); ++i) EXPECT_EQ(target[i], guard) << "wrote past";
    return {result, static_cast<size_t>(s - source.data()), std::vector<T>(target.data(), t)};
}

std::vector<uint8_t> Bytes(const std::string& text) {
    return std::vector<uint8_t>(text.begin(), text.end());
}

}  // namespace

TEST(UtfBufferTest, Utf8ToUtf16) {
    struct Row {
        std::string bytes;
        int flags;
        size_t capacity;
        int result;
        size_t consumed;
        std::u16string units;
    } rows[] = {
        {"", kStrictConversion, 4, 0, 0, u""},
        {"a\xC3\xA9\xE2\x82\xAC", kStrictConversion, 8, 0, 6, u"a\u00E9\u20AC"},
        {"\xF0\x9F\x98\x80", kStrictConversion, 2, 0, 4, u"\U0001F600"},
        {"\xF4\x8F\xBF\xBF", kStrictConversion, 2, 0, 4, u"\U0010FFFF"},
        {"\xE2\x82", kStrictConversion, 4, 1, 0, u""},  // cut short: nothing consumed
        {"a\xE2\x82", kLenientConversion, 4, 1, 1, u"a"},
        {"\xFC", kLenientConversion, 4, 1, 0, u""},  // a six-byte lead alone
        {"\xED\xA0\x80", kStrictConversion, 4, 3, 0, u""},
        {"\xED\xA0\x80", kLenientConversion, 4, 0, 3, u"\uFFFD"},  // surrogate value
        {"\xC3\x28", kStrictConversion, 4, 3, 0, u""},
        {"\xC0\x80", kStrictConversion, 4, 3, 0, u""},  // overlong
        {"\xC0\x80", kLenientConversion, 4, 0, 2, std::u16string(1, u'\0')},
        {"\xE0\x9F\xBF", kStrictConversion, 4, 3, 0, u""},
        {"\xF0\x8F\xBF\xBF", kStrictConversion, 4, 3, 0, u""},
        {"\xC1\xBF", kStrictConversion, 4, 3, 0, u""},
        {"\x80", kStrictConversion, 4, 3, 0, u""},
        {"\x80", kLenientConversion, 4, 0, 1, u"\u0080"},  // stray continuation byte
        {"\xF4\x90\x80\x80", kStrictConversion, 4, 3, 0, u""},
        {"\xF4\x90\x80\x80", kLenientConversion, 4, 0, 4, u"\uFFFD"},  // above U+10FFFF
        {"\xF8\x88\x80\x80\x80", kStrictConversion, 4, 3, 0, u""},
        {"\xF8\x88\x80\x80\x80", kLenientConversion, 4, 0, 5, u"\uFFFD"},
        {"\xF0\x9F\x98\x80", kStrictConversion, 1, 2, 0, u""},  // the pair needs two units
        {"ab", kStrictConversion, 1, 2, 1, u"a"},
        {"ab\xF0\x9F\x98\x80", kStrictConversion, 3, 2, 2, u"ab"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(::testing::PrintToString(row.bytes) + " flags " + std::to_string(row.flags));
        const auto out = RunConversion<uint8_t, char16_t>(
            [&](const uint8_t** s, const uint8_t* se, char16_t** t, char16_t* te) {
                return ascommon::ConvertUTF8toUTF16(s, se, t, te, row.flags);
            },
            Bytes(row.bytes), row.capacity);
        EXPECT_EQ(out.result, row.result);
        EXPECT_EQ(out.consumed, row.consumed);
        EXPECT_EQ(std::u16string(out.produced.begin(), out.produced.end()), row.units);
    }
}

TEST(UtfBufferTest, Utf8ToUtf32) {
    struct Row {
        std::string bytes;
        int flags;
        size_t capacity;
        int result;
        size_t consumed;
        std::u32string points;
    } rows[] = {
        {"a\xF0\x9F\x98\x80", kStrictConversion, 4, 0, 5, U"a\U0001F600"},
        {"\xED\xA0\x80", kStrictConversion, 4, 3, 0, U""},
        {"\xED\xA0\x80", kLenientConversion, 4, 0, 3, U"\uFFFD"},
        // Out of range: replaced and reported, and the conversion goes on.
        {"\xF4\x90\x80\x80"
         "b",
         kLenientConversion, 4, 3, 5, U"\uFFFDb"},
        {"\xE2\x82", kStrictConversion, 4, 1, 0, U""},
        {"ab", kStrictConversion, 1, 2, 1, U"a"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(::testing::PrintToString(row.bytes));
        const auto out = RunConversion<uint8_t, char32_t>(
            [&](const uint8_t** s, const uint8_t* se, char32_t** t, char32_t* te) {
                return ascommon::ConvertUTF8toUTF32(s, se, t, te, row.flags);
            },
            Bytes(row.bytes), row.capacity);
        EXPECT_EQ(out.result, row.result);
        EXPECT_EQ(out.consumed, row.consumed);
        EXPECT_EQ(std::u32string(out.produced.begin(), out.produced.end()), row.points);
    }
}

TEST(UtfBufferTest, Utf16ToUtf8) {
    struct Row {
        std::u16string units;
        size_t capacity;
        int result;
        size_t consumed;
        std::string bytes;
    } rows[] = {
        {u"a\u00E9\u20AC", 8, 0, 3, "a\xC3\xA9\xE2\x82\xAC"},
        {u"\U0001F600", 4, 0, 2, "\xF0\x9F\x98\x80"},
        {std::u16string{0xD83D}, 4, 1, 0, ""},  // the low half may follow in the next buffer
        {std::u16string{u'a', 0xD83D}, 4, 1, 1, "a"},
        {std::u16string{0xDE00, u'a'}, 8, 0, 2,
         "\xED\xB8\x80"
         "a"},  // unpaired: encoded as it is
        {std::u16string{0xD83D, u'a'}, 8, 0, 2,
         "\xED\xA0\xBD"
         "a"},
        {u"\u20AC", 2, 2, 0, ""},
        {u"\U0001F600", 3, 2, 0, ""},
        {u"a\u00E9", 2, 2, 1, "a"},
    };
    for (const Row& row : rows) {
        const auto out = RunConversion<char16_t, uint8_t>(
            ascommon::ConvertUTF16toUTF8, std::vector<char16_t>(row.units.begin(), row.units.end()),
            row.capacity);
        EXPECT_EQ(out.result, row.result) << row.bytes;
        EXPECT_EQ(out.consumed, row.consumed) << row.bytes;
        EXPECT_EQ(std::string(out.produced.begin(), out.produced.end()), row.bytes);
    }
}

TEST(UtfBufferTest, Utf32ToUtf8) {
    struct Row {
        std::u32string points;
        size_t capacity;
        int result;
        size_t consumed;
        std::string bytes;
    } rows[] = {
        {U"$\U00010348", 8, 0, 2, "$\xF0\x90\x8D\x88"},
        {std::u32string{0x110000, U'a'}, 8, 3, 2,
         "\xEF\xBF\xBD"
         "a"},  // replaced, reported, goes on
        {std::u32string{0xD800}, 4, 0, 1, "\xED\xA0\x80"},
        {U"\u20AC", 2, 2, 0, ""},
        {std::u32string{0x110000}, 2, 2, 0, ""},  // no room wins over the bad value
    };
    for (const Row& row : rows) {
        const auto out = RunConversion<char32_t, uint8_t>(
            ascommon::ConvertUTF32toUTF8,
            std::vector<char32_t>(row.points.begin(), row.points.end()), row.capacity);
        EXPECT_EQ(out.result, row.result) << row.bytes;
        EXPECT_EQ(out.consumed, row.consumed) << row.bytes;
        EXPECT_EQ(std::string(out.produced.begin(), out.produced.end()), row.bytes);
    }
}

TEST(UtfBufferTest, NullPointerArgumentsAreRefused) {
    const uint8_t byte = 'a';
    const uint8_t* source = &byte;
    char16_t unit = 0;
    char16_t* target = &unit;
    EXPECT_EQ(ascommon::ConvertUTF8toUTF16(nullptr, &byte + 1, &target, &unit + 1, 0), 3);
    EXPECT_EQ(ascommon::ConvertUTF8toUTF16(&source, &byte + 1, nullptr, &unit + 1, 0), 3);
    const uint8_t* none = nullptr;
    EXPECT_EQ(ascommon::ConvertUTF8toUTF16(&none, &byte + 1, &target, &unit + 1, 0), 3);
}

// ---- Charset conversions ------------------------------------------------------------------------

TEST(CharsetConversionTest, Utf8ToWide) {
    struct Row {
        std::string bytes;
        size_t capacity;
        int32_t result;
        std::u16string units;
    } rows[] = {
        {"", 4, 0, u""},
        {"abc", 3, 0, u"abc"},
        {"a\xC3\x28", 8, -50, u"a"},
        {"\xED\xA0\x80", 8, -50, u""},  // surrogates are refused
        {"\xC3\xA9", 0, -51, u""},
        {"ab\xE2\x82", 8, -51, u"ab"},
        {"\xF0\x9F\x98\x80", 1, -51, u""},
    };
    for (const Row& row : rows) {
        std::vector<char16_t> buffer(row.capacity + kGuardUnits, u'#');
        size_t count = row.capacity;
        EXPECT_EQ(ascommon::Utf8ToWide(row.bytes.data(), row.bytes.size(), buffer.data(), &count),
                  row.result)
            << row.bytes;
        EXPECT_EQ(std::u16string(buffer.data(), count), row.units) << row.bytes;
        for (size_t i = row.capacity; i < buffer.size(); ++i) EXPECT_EQ(buffer[i], u'#');
    }
    char16_t buffer[4];
    size_t count = 4;
    EXPECT_EQ(ascommon::Utf8ToWide(nullptr, 3, buffer, &count), -1);
    EXPECT_EQ(ascommon::Utf8ToWide("abc", 3, nullptr, &count), -1);
    EXPECT_EQ(ascommon::Utf8ToWide("abc", 3, buffer, nullptr), -1);
}

TEST(CharsetConversionTest, Utf8ToUsstring) {
    struct Row {
        std::string bytes;
        int32_t result;
        std::u16string text;
    } rows[] = {
        {"abc", 0, u"abc"},
        {"caf\xC3\xA9", 0, u"caf\u00E9"},
        {std::string("a\0b", 3), 0, u"a"},  // the length stops at the first NUL
        {"ab\xC3\x28", -50, u"ab"},         // what came before the problem stays
        {"ab\xE2\x82", -51, u"ab"},
        {"", 0, u""},
    };
    for (const Row& row : rows) {
        ascommon::usstring out;
        EXPECT_EQ(ascommon::Utf8ToUsstring(row.bytes.data(), row.bytes.size(), out), row.result);
        EXPECT_EQ(std::u16string(out.c_str(), out.length()), row.text) << row.bytes;
        EXPECT_EQ(out.capacity(), row.bytes.size() + 1);
        EXPECT_EQ(out.c_str()[out.length()], 0);
    }

    ascommon::usstring viaSstring;
    EXPECT_EQ(ascommon::SstringToUsstring(ascommon::sstring("\xE2\x82\xAC"), viaSstring), 0);
    EXPECT_EQ(std::u16string(viaSstring.c_str(), viaSstring.length()), u"\u20AC");
    EXPECT_EQ(ascommon::SstringToUsstring(ascommon::sstring(), viaSstring), -1);
    EXPECT_TRUE(viaSstring.initialised());
    EXPECT_EQ(viaSstring.length(), 0u);

    ascommon::usstring kept;
    kept.assign(u"keep", 4);
    host::FailAllocationNumber(1);
    EXPECT_EQ(ascommon::Utf8ToUsstring("abc", 3, kept), -2);
    host::FailAllocationNumber(0);
    EXPECT_EQ(std::u16string(kept.c_str(), kept.length()), u"keep");
}

TEST(CharsetConversionTest, WideToUtf8) {
    const char16_t text[] = {0x61, 0xE9, 0x20AC};
    size_t size = 0;
    EXPECT_EQ(ascommon::WideToUtf8(text, 3, nullptr, &size), 0);  // a size query
    EXPECT_EQ(size, 6u);

    struct Row {
        std::u16string units;
        size_t capacity;
        int32_t result;
        std::string bytes;
    } rows[] = {
        {u"a\u00E9\u20AC", 6, 0, "a\xC3\xA9\xE2\x82\xAC"},
        {u"a\u00E9\u20AC", 3, -51, "a\xC3\xA9"},
        {std::u16string{u'a', 0xD83D}, 8, -51, "a"},  // ends inside a pair
        {u"", 4, 0, ""},
    };
    for (const Row& row : rows) {
        std::vector<char> buffer(row.capacity + kGuardUnits, '#');
        size = row.capacity;
        EXPECT_EQ(ascommon::WideToUtf8(row.units.data(), row.units.size(), buffer.data(), &size),
                  row.result);
        EXPECT_EQ(std::string(buffer.data(), size), row.bytes);
        for (size_t i = row.capacity; i < buffer.size(); ++i) EXPECT_EQ(buffer[i], '#');
    }
    char buffer[4];
    EXPECT_EQ(ascommon::WideToUtf8(nullptr, 2, buffer, &size), -1);
    EXPECT_EQ(ascommon::WideToUtf8(text, 3, buffer, nullptr), -1);
}

TEST(CharsetConversionTest, UsstringToSstring) {
    ascommon::usstring pair;
    pair.assign(u"\U0001F600", 2);
    ascommon::sstring out;
    EXPECT_EQ(ascommon::UsstringToSstring(pair, out), 0);
    EXPECT_EQ(std::string(out.c_str(), out.length()), "\xF0\x9F\x98\x80");
    EXPECT_EQ(out.capacity(), 7u);  // sized for 6 bytes and the terminator

    ascommon::usstring cut;
    const char16_t cutText[] = {u'a', u'b', 0xD83D};
    cut.assign(cutText, 3);
    EXPECT_EQ(ascommon::UsstringToSstring(cut, out), -51);
    EXPECT_EQ(std::string(out.c_str(), out.length()), "ab");

    EXPECT_EQ(ascommon::UsstringToSstring(ascommon::usstring(), out), -1);
    EXPECT_TRUE(out.initialised());
    EXPECT_EQ(out.length(), 0u);
}

TEST(CharsetConversionTest, Utf8LengthOfWide) {
    struct Row {
        std::u16string units;
        uint64_t bytes;
    } rows[] = {
        {u"", 0},       {u"\u007F", 1}, {u"\u0080", 2},     {u"\u07FF", 2},
        {u"\u0800", 3}, {u"\uFFFF", 3}, {u"\U0001F600", 6},  // a pair counts 3 + 3 and takes 4
    };
    for (const Row& row : rows) {
        EXPECT_EQ(ascommon::Utf8LengthOfWide(row.units.data(), row.units.size()), row.bytes);
    }
    EXPECT_EQ(ascommon::Utf8LengthOfWide(nullptr, 5), 0u);
}

TEST(CharsetConversionTest, ConversionsLeaveNothingAllocated) {
    const uint64_t before = host::Counters().liveBytes;
    {
        ascommon::usstring wide;
        ascommon::sstring narrow;
        const std::string text(100, 'x');
        EXPECT_EQ(ascommon::Utf8ToUsstring(text.data(), text.size(), wide), 0);
        EXPECT_EQ(ascommon::UsstringToSstring(wide, narrow), 0);
        EXPECT_EQ(ascommon::Utf8ToUsstring("\xC3", 1, wide), -51);
    }
    EXPECT_EQ(host::Counters().liveBytes, before);
}

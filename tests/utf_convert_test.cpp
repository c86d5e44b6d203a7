// UTF buffer conversions and the charset conversions built on them.
#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <type_traits>
#include <vector>

#include "common/convert.h"
#include "common/status.h"
#include "glyphkit/utfconvert.h"
#include "host/host_hooks.h"

namespace {

using namespace ascommon;
constexpr int kStrict = kStrictConversion, kLenient = kLenientConversion;
constexpr size_t kGuardUnits = 4;

// A literal as an exactly sized vector of the conversions' units (UTF-8 as uint8_t).
template <typename C, size_t N,
          typename U = std::conditional_t<std::is_same_v<C, char>, uint8_t, C>>
std::vector<U> V(const C (&text)[N]) {
    return std::vector<U>(text, text + N - 1);
}

// Source, flags (UTF-8 sources only), capacity, result, units consumed, units produced.
template <typename S, typename T>
using Case = std::tuple<std::vector<S>, int, size_t, int, size_t, std::vector<T>>;

// Converts each source into `capacity` units followed by guard units that must stay untouched.
template <typename S, typename T, typename Convert>
void CheckCases(Convert convert, const std::vector<Case<S, T>>& cases) {
    for (const auto& [source, flags, capacity, result, consumed, produced] : cases) {
        std::vector<T> target(capacity + kGuardUnits, T(0x5A));
        const S* s = source.data();
        T* t = target.data();
        const int got = convert(&s, s + source.size(), &t, t + capacity, flags);
        EXPECT_EQ(std::make_tuple(got, size_t(s - source.data()), std::vector<T>(target.data(), t),
                                  std::vector<T>(target.begin() + capacity, target.end())),
                  std::make_tuple(result, consumed, produced, std::vector<T>(kGuardUnits, T(0x5A))))
            << ::testing::PrintToString(source) << " flags " << flags << " capacity " << capacity;
    }
}

// The UTF-16 and UTF-32 sources take no flags.
template <typename Convert>
auto NoFlags(Convert convert) {
    return [convert](auto s, auto se, auto t, auto te, int) { return convert(s, se, t, te); };
}

}  // namespace

// Source, flags, capacity, result, units consumed, units produced. Strict refusals consume
// nothing; lenient decoding replaces or keeps the value and goes on.
TEST(UtfBufferTest, Utf8ToUtf16AndUtf32) {
    // clang-format off
    CheckCases<uint8_t, char16_t>(ConvertUTF8toUTF16, {
        {V(""), kStrict, 4, 0, 0, V(u"")},
        {V("a\xC3\xA9\xE2\x82\xAC"), kStrict, 8, 0, 6, V(u"a\u00E9\u20AC")},
        {V("\xC2\x80\xE0\xA0\x80"), kStrict, 4, 0, 5, V(u"\u0080\u0800")},  // the lowest of 2 and 3
        {V("\xF0\x9F\x98\x80"), kStrict, 2, 0, 4, V(u"\U0001F600")},
        {V("\xF4\x8F\xBF\xBF"), kStrict, 2, 0, 4, V(u"\U0010FFFF")},
        {V("\xE2\x82"), kStrict, 4, 1, 0, V(u"")},  // cut short: nothing consumed
        {V("a\xE2\x82"), kLenient, 4, 1, 1, V(u"a")},
        {V("\xFC"), kLenient, 4, 1, 0, V(u"")},  // a six-byte lead alone
        {V("\xED\x9F\xBF\xED\xA0\x80"), kStrict, 4, 3, 3, V(u"\uD7FF")},  // the last before them
        {V("\xED\xA0\x80"), kLenient, 4, 0, 3, V(u"\uFFFD")},  // surrogate value
        {V("\xC3\x28"), kStrict, 4, 3, 0, V(u"")},
        {V("\xC1\xBF"), kStrict, 4, 3, 0, V(u"")},  // overlong
        {V("\xC0\x80"), kLenient, 4, 0, 2, {u'\0'}},
        {V("\xE0\x9F\xBF"), kStrict, 4, 3, 0, V(u"")},
        {V("\xF0\x8F\xBF\xBF"), kStrict, 4, 3, 0, V(u"")},
        {V("\x80"), kStrict, 4, 3, 0, V(u"")},
        {V("\x80"), kLenient, 4, 0, 1, V(u"\u0080")},  // stray continuation byte
        {V("\xF4\x90\x80\x80"), kStrict, 4, 3, 0, V(u"")},
        {V("\xF4\x90\x80\x80"), kLenient, 4, 0, 4, V(u"\uFFFD")},  // above U+10FFFF
        {V("\xF8\x88\x80\x80\x80"), kLenient, 4, 0, 5, V(u"\uFFFD")},
        {V("\xF0\x9F\x98\x80"), kStrict, 1, 2, 0, V(u"")},  // the pair needs two units
        {V("ab"), kStrict, 1, 2, 1, V(u"a")},
    });
    CheckCases<uint8_t, char32_t>(ConvertUTF8toUTF32, {
        {V("a\xF0\x9F\x98\x80"), kStrict, 4, 0, 5, V(U"a\U0001F600")},
        {V("\xED\xA0\x80"), kStrict, 4, 3, 0, V(U"")},
        {V("\xED\xA0\x80"), kLenient, 4, 0, 3, V(U"\uFFFD")},
        {V("\xF4\x90\x80\x80z"), kLenient, 4, 3, 5, V(U"\uFFFDz")},  // replaced, reported, goes on
        {V("\xE2\x82"), kStrict, 4, 1, 0, V(U"")},
        {V("ab"), kStrict, 1, 2, 1, V(U"a")},
    });
    // clang-format on
    const uint8_t byte = 'a';
    const uint8_t *source = &byte, *none = nullptr;
    char16_t unit = 0, *target = &unit;
    for (const int result : {ConvertUTF8toUTF16(nullptr, &byte + 1, &target, &unit + 1, 0),
                             ConvertUTF8toUTF16(&source, &byte + 1, nullptr, &unit + 1, 0),
                             ConvertUTF8toUTF16(&none, &byte + 1, &target, &unit + 1, 0)})
        EXPECT_EQ(result, 3);
}

// Both strict decoders refuse each lead byte above 0xF4, whatever follows, and consume nothing
// (the plain-buffer conversions use the UTF-16 one).
TEST(UtfBufferTest, StrictRefusesLeadBytesAboveF4) {
    for (int lead = 0xF5; lead <= 0xFF; ++lead) {
        const std::vector<uint8_t> bytes = {uint8_t(lead), 0x80, 0x80, 0x80, 0x80, 0x80};
        CheckCases<uint8_t, char16_t>(ConvertUTF8toUTF16, {{bytes, kStrict, 8, 3, 0, {}}});
        CheckCases<uint8_t, char32_t>(ConvertUTF8toUTF32, {{bytes, kStrict, 8, 3, 0, {}}});
    }
}

TEST(UtfBufferTest, Utf16AndUtf32ToUtf8) {
    // clang-format off
    CheckCases<char16_t, uint8_t>(NoFlags(ConvertUTF16toUTF8), {
        {V(u"\U0001F600"), 0, 4, 0, 2, V("\xF0\x9F\x98\x80")},
        {V(u"\u07FF\u0800"), 0, 8, 0, 2, V("\xDF\xBF\xE0\xA0\x80")},
        {{0xD83D}, 0, 4, 1, 0, V("")},  // the low half may follow in the next buffer
        {{u'a', 0xD83D}, 0, 4, 1, 1, V("a")},
        {{0xDE00, u'z'}, 0, 8, 0, 2, V("\xED\xB8\x80z")},  // unpaired: encoded as it is
        {{0xD83D, u'z'}, 0, 8, 0, 2, V("\xED\xA0\xBDz")},
        {V(u"\u20AC"), 0, 2, 2, 0, V("")},
        {V(u"\U0001F600"), 0, 3, 2, 0, V("")},
    });
    CheckCases<char32_t, uint8_t>(NoFlags(ConvertUTF32toUTF8), {
        {V(U"$\U00010348"), 0, 8, 0, 2, V("$\xF0\x90\x8D\x88")},
        {{0x110000, U'z'}, 0, 8, 3, 2, V("\xEF\xBF\xBDz")},  // replaced, reported, goes on
        {{0xD800}, 0, 4, 0, 1, V("\xED\xA0\x80")},
        {V(U"\u20AC"), 0, 2, 2, 0, V("")},
        {{0x110000}, 0, 2, 2, 0, V("")},  // no room wins over the bad value
    });
    // clang-format on
}

// ---- Charset conversions ------------------------------------------------------------------------

// Both directions between plain buffers: the count in is the capacity, the count out what was
// written; guard units past the capacity stay untouched.
TEST(CharsetConversionTest, BetweenBuffers) {
    // clang-format off
    const std::tuple<std::string, size_t, int32_t, std::u16string> toWide[] = {
        {"abc", 3, kOk, u"abc"}, {"\xC3\xA9", 0, kShortBuffer, u""},
        {"ab\xE2\x82", 8, kShortBuffer, u"ab"},  // a sequence cut by the end
    };
    const std::tuple<std::u16string, size_t, int32_t, std::string> toUtf8[] = {
        {u"a\u00E9\u20AC", 6, kOk, "a\xC3\xA9\xE2\x82\xAC"}, {u"", 4, kOk, ""},
        {u"a\u00E9\u20AC", 3, kShortBuffer, "a\xC3\xA9"},
    };
    // clang-format on
    for (const auto& [bytes, capacity, result, units] : toWide) {
        std::u16string buffer(capacity + kGuardUnits, u'#');
        size_t count = capacity;
        EXPECT_EQ(Utf8ToWide(bytes.data(), bytes.size(), buffer.data(), &count), result) << bytes;
        EXPECT_EQ(buffer.substr(0, count) + u"|" + buffer.substr(capacity), units + u"|####");
    }
    for (const auto& [units, capacity, result, bytes] : toUtf8) {
        std::string buffer(capacity + kGuardUnits, '#');
        size_t size = capacity;
        EXPECT_EQ(WideToUtf8(units.data(), units.size(), buffer.data(), &size), result) << bytes;
        EXPECT_EQ(buffer.substr(0, size) + "|" + buffer.substr(capacity), bytes + "|####");
    }
    size_t size = 0;
    EXPECT_EQ(WideToUtf8(u"ab\u00E9\u20AC", 4, nullptr, &size), kOk);  // a size query
    EXPECT_EQ(size, 7u);
    // 1 + 2 + 2 + 3 + 3 bytes, and a pair counts 3 + 3 though it takes 4.
    EXPECT_EQ(Utf8LengthOfWide(u"\u007F\u0080\u07FF\u0800\uFFFF\U0001F600", 7), 17u);
    char16_t wide[4];
    char narrow[4];
    EXPECT_EQ(Utf8LengthOfWide(nullptr, 5), 0u);
    for (const int32_t result :
         {Utf8ToWide(nullptr, 3, wide, &size), Utf8ToWide("abc", 3, nullptr, &size),
          Utf8ToWide("abc", 3, wide, nullptr), WideToUtf8(nullptr, 2, narrow, &size),
          WideToUtf8(u"abc", 3, narrow, nullptr)}) {
        EXPECT_EQ(result, kNullArgument);
    }
}

// The string classes: sized for the worst case plus the terminator; what came before a problem
// stays; the length stops at the first NUL; an uninitialised source gives an empty target; a
// failed allocation keeps the target.
TEST(CharsetConversionTest, StringClasses) {
    auto wideText = [](const usstring& s) { return std::u16string(s.c_str(), s.length() + 1); };
    auto narrowText = [](const sstring& s) { return std::string(s.c_str(), s.length() + 1); };
    usstring wide;
    sstring narrow;
    EXPECT_EQ(Utf8ToUsstring("ab\xC3\x28", 4, wide), kIllFormed);
    EXPECT_EQ(wideText(wide) + char16_t(u'0' + wide.capacity()), std::u16string(u"ab\0"
                                                                                u"5",
                                                                                4));
    EXPECT_EQ(Utf8ToUsstring("a\0b", 3, wide), kOk);
    EXPECT_EQ(wideText(wide), std::u16string(u"a", 2));
    EXPECT_EQ(SstringToUsstring(sstring(), wide), kNullArgument);
    EXPECT_EQ(wideText(wide), std::u16string(1, u'\0'));
    const char16_t cut[] = {u'a', u'b', 0xD83D};  // ends inside a pair
    wide.assign(cut, 3);
    EXPECT_EQ(UsstringToSstring(wide, narrow), kShortBuffer);
    EXPECT_EQ(narrowText(narrow), std::string("ab", 3));
    wide.assign(u"\U0001F600", 2);
    EXPECT_EQ(UsstringToSstring(wide, narrow), kOk);
    EXPECT_EQ(narrowText(narrow) + std::to_string(narrow.capacity()),
              std::string("\xF0\x9F\x98\x80\0"
                          "7",
                          6));
    EXPECT_EQ(UsstringToSstring(usstring(), narrow), kNullArgument);
    EXPECT_EQ(narrowText(narrow), std::string(1, '\0'));
    host::FailAllocationNumber(1);
    EXPECT_EQ(Utf8ToUsstring("abc", 3, wide), kNoBuffer);
    host::FailAllocationNumber(0);
    EXPECT_EQ(wideText(wide), std::u16string(u"\U0001F600", 3));
}

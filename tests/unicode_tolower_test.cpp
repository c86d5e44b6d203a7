// Tests for ascommon::UNICODETOLOWER and the generated UCD 15.1 lower-case tables.
//
// The full check against the Unicode data runs when MOLVEX_UCD_LOWER_DUMP names the dump
// written by `node tools/gen_unicode_lower.js --ucd ... --dump FILE`; it is skipped otherwise.
#include "common/unicode_tolower.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <initializer_list>
#include <sstream>
#include <string>
#include <unordered_map>
#include <vector>

#include "common/status.h"

namespace {

using ascommon::UNICODETOLOWER;
namespace data = ascommon::unicode_lower_data;
using ascommon::kIllFormed;
using ascommon::kShortBuffer;
constexpr uint32_t kMaxCodePoint = 0x10FFFF;

// Shortest-form UTF-8, written independently of the code under test; surrogates are encoded
// like any other 3-byte value.
std::string Utf8(std::initializer_list<uint32_t> cps) {
    static const unsigned char kLead[] = {0, 0, 0xC0, 0xE0, 0xF0};  // by byte count
    std::string s;
    for (uint32_t cp : cps) {
        const int n = cp < 0x80 ? 1 : cp < 0x800 ? 2 : cp < 0x10000 ? 3 : 4;
        s += static_cast<char>(kLead[n] | (cp >> (6 * (n - 1))));
        for (int k = n - 2; k >= 0; --k) s += static_cast<char>(0x80 | ((cp >> (6 * k)) & 0x3F));
    }
    return s;
}

std::string Hex(const std::string& s) {
    std::ostringstream os;
    for (char ch : s) os << std::hex << std::uppercase << (ch & 0xFF) << ' ';
    return os.str();
}

// UTF8_tolower over `in` minus its last `cut` bytes with exactly `room` bytes of room, followed
// by guard bytes: "<status> <bytes written, hex>", plus " overrun" when a guard byte changed.
std::string Lower(const std::string& in, size_t room, size_t cut = 0) {
    std::vector<char> buf(room + 16, '\x5A');
    size_t outLen = 0xBAD;
    const int32_t rc =
        UNICODETOLOWER::UTF8_tolower(in.data(), in.size() - cut, buf.data(), room, &outLen);
    std::string result = std::to_string(rc) + " " +
                         (outLen <= room ? Hex(std::string(buf.data(), outLen)) : "outLen?");
    if (std::count(buf.begin() + room, buf.end(), '\x5A') != 16) result += " overrun";
    return result;
}

std::string Expected(int32_t rc, const std::string& written) {
    return std::to_string(rc) + " " + Hex(written);
}

// Runs check over every code point up to last; check returns "" or a note on a mismatch. One
// systematic fault reports its count and first ten notes, not a million lines.
void ExpectNoMismatch(uint32_t last, const std::function<std::string(uint32_t)>& check) {
    size_t count = 0;
    std::string first;
    for (uint32_t cp = 0; cp <= last; ++cp) {
        const std::string note = check(cp);
        if (!note.empty() && count++ < 10) first += note + "\n";
    }
    EXPECT_EQ(count, 0u) << first;
}

// Every code point up to last lowers to its entry in map, or to itself without one.
void ExpectLowerFollows(const std::unordered_map<uint32_t, uint32_t>& map, uint32_t last) {
    ExpectNoMismatch(last, [&](uint32_t cp) -> std::string {
        const auto it = map.find(cp);
        const uint32_t want = it == map.end() ? cp : it->second, got = UNICODETOLOWER::ToLower(cp);
        if (got == want) return "";
        std::ostringstream os;
        os << std::hex << "U+" << cp << " -> " << got << ", want " << want;
        return os.str();
    });
}

// --- ToLower and the tables ---------------------------------------------------------------

// Named code points, the tables' sizes for UCD 15.1, and every code point (between and around
// the entries, and past U+10FFFF) against the tables: a pair maps, anything else is unchanged.
TEST(UnicodeToLowerTest, EveryCodePointFollowsTheTables) {
    const std::unordered_map<uint32_t, uint32_t> known = {
        {'B', 'b'},        {0x00C0, 0x00E0},   {0x0130, 0x0069},   {0x0178, 0x00FF},
        {0x023A, 0x2C65},  {0x1E9E, 0x00DF},   {0x2126, 0x03C9},   {0x212A, 0x006B},
        {0xFF21, 0xFF41},  {0x10400, 0x10428}, {0x10570, 0x10597}, {0x1E900, 0x1E922},
        {0x1E921, 0x1E943}};
    for (const auto& [cp, lower] : known) EXPECT_EQ(UNICODETOLOWER::ToLower(cp), lower) << cp;
    EXPECT_EQ(UNICODETOLOWER::ToLower(0xFFFFFFFF), 0xFFFFFFFFu);
    EXPECT_EQ(data::kBmpPairCount, 1173u);
    EXPECT_EQ(data::kSupplementaryPairCount, 260u);
    std::unordered_map<uint32_t, uint32_t> tables;
    for (size_t i = 0; i < data::kBmpPairCount; ++i)
        tables.emplace(data::kBmpPairs[i][0], data::kBmpPairs[i][1]);
    for (size_t i = 0; i < data::kSupplementaryPairCount; ++i)
        tables.emplace(data::kSupplementaryPairs[i][0], data::kSupplementaryPairs[i][1]);
    ExpectLowerFollows(tables, kMaxCodePoint + 0x100);
}

// Compares every code point with the UCD dump written by the generator (absent = identity).
TEST(UnicodeToLowerTest, EveryCodePointMatchesUcdDump) {
    const char* path = std::getenv("MOLVEX_UCD_LOWER_DUMP");
    if (path == nullptr || *path == '\0') GTEST_SKIP() << "MOLVEX_UCD_LOWER_DUMP not set";
    std::ifstream in(path);
    ASSERT_TRUE(in) << "cannot read " << path;
    std::unordered_map<uint32_t, uint32_t> ucd;
    for (std::string line; std::getline(in, line);) {
        std::istringstream fields(line);
        uint32_t cp = 0, lower = 0;
        if (fields >> std::hex >> cp >> lower) ucd.emplace(cp, lower);
    }
    ASSERT_FALSE(ucd.empty()) << path << " has no mappings";
    ExpectLowerFollows(ucd, kMaxCodePoint);
}

// --- UTF8_tolower ------------------------------------------------------------------------

// Status, bytes written and guard bytes, at a given room. Four bytes of room must be left
// before each code point, whatever it encodes to; decoding looks only at the lead byte and the
// continuation-byte pattern, so the lenient rows are accepted on purpose and come out in
// shortest form.
TEST(Utf8ToLowerTest, StatusOutputAndRoom) {
    constexpr size_t kPlenty = 200;
    const std::string tenUpper = "ABCDEFGHIJ", agrave = Utf8({0xC0});
    // Name, input, room, status, the whole output or what was written before the failure, bytes
    // hidden from inLen (truncation is judged by inLen, not by valid bytes that follow).
    // clang-format off
    const std::tuple<const char*, std::string, size_t, int32_t, std::string, size_t> cases[] = {
        {"ascii", "Hello, WORLD 0123456789 [@`{]", kPlenty, 0, "hello, world 0123456789 [@`{]", 0},
        // U+00C0 U+00D7 U+0130 (shrinks) U+212A (shrinks) U+023A (grows) U+10570 U+1E900 U+10400
        // U+10428 (already lower case)
        {"named examples", Utf8({0xC0, 0xD7, 0x130, 0x212A, 0x23A, 0x10570, 0x1E900, 0x10400, 0x10428}),
         kPlenty, 0, Utf8({0xE0, 0xD7, 'i', 'k', 0x2C65, 0x10597, 0x1E922, 0x10428, 0x10428}), 0},
        {"embedded NUL", std::string("A\0B", 3), kPlenty, 0, std::string("a\0b", 3), 0},
        {"empty, no room", "", 0, 0, "", 0},
        // Lenient decoding: a stray continuation byte leads a 2-byte code point.
        {"stray continuation 0xBF lead", "\xBF\x81", kPlenty, 0, Utf8({0x7C1}), 0},
        {"overlong 'A' is lowered", "\xC1\x81", kPlenty, 0, "a", 0},
        {"surrogate passes through", "\xED\xA0\x80", kPlenty, 0, "\xED\xA0\x80", 0},
        {"0xF8 lead uses 3 payload bits", "\xF8\x88\x80\x80", kPlenty, 0, Utf8({0x8000}), 0},
        // Undecodable input.
        {"lone stray continuation", "\x80", kPlenty, kIllFormed, "", 0},
        {"bad 2nd byte of 3", "\xE2\x28\xA1", kPlenty, kIllFormed, "", 0},
        {"bad 4th byte of 4", "X\xF0\x9F\x98\x41", kPlenty, kIllFormed, "x", 0},
        {"lead where continuation expected", "\xC3\xC3\x80", kPlenty, kIllFormed, "", 0},
        {"error after multibyte", agrave + "\xE2", kPlenty, kIllFormed, Utf8({0xE0}), 0},
        {"bad sequence wins over no room", "\xC3", 0, kIllFormed, "", 0},
        {"cut 2-byte", "a\xC3\x80", kPlenty, kIllFormed, "a", 1},
        // Room.
        {"ten ascii, room 12", tenUpper, 12, kShortBuffer, "abcdefghi", 0},
        {"ten ascii, room 13", tenUpper, 13, 0, "abcdefghij", 0},
        {"U+0130 needs 4 though it writes 1", Utf8({0x0130}), 3, kShortBuffer, "", 0},
        {"U+00C0 BC, room 5", agrave + "BC", 5, kShortBuffer, Utf8({0xE0}), 0},
        {"U+00C0 BC, room 7", agrave + "BC", 7, 0, Utf8({0xE0}) + "bc", 0},
    };
    // clang-format on
    for (const auto& [name, in, room, rc, written, cut] : cases) {
        EXPECT_EQ(Lower(in, room, cut), Expected(rc, written)) << name;
    }
    char out[16];
    size_t outLen = 0;
    for (const int32_t rc : {UNICODETOLOWER::UTF8_tolower(nullptr, 1, out, sizeof out, &outLen),
                             UNICODETOLOWER::UTF8_tolower(nullptr, 0, out, sizeof out, &outLen),
                             UNICODETOLOWER::UTF8_tolower("A", 1, nullptr, sizeof out, &outLen),
                             UNICODETOLOWER::UTF8_tolower("A", 1, out, sizeof out, nullptr)}) {
        EXPECT_EQ(rc, -1);
    }
}

// Against ToLower + encode: each code point on its own, in shortest form (surrogates included),
// at the smallest room. The room rule on longer texts is pinned by the rows above, and the UTF
// fuzz replay checks that well-formed text never writes past its room.
TEST(Utf8ToLowerTest, MatchesToLowerPerCodePoint) {
    ExpectNoMismatch(kMaxCodePoint, [](uint32_t cp) -> std::string {
        const std::string got = Lower(Utf8({cp}), 4);
        const std::string want = Expected(0, Utf8({UNICODETOLOWER::ToLower(cp)}));
        return got == want ? "" : Hex(Utf8({cp})) + ": " + got + ", want " + want;
    });
}

}  // namespace

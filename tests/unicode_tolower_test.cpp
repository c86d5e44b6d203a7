// Tests for ascommon::UNICODETOLOWER and the generated UCD 15.1 lower-case tables. The check of
// every code point against the Unicode data runs when MOLVEX_UCD_LOWER_DUMP names the dump written
// by `node tools/gen_unicode_lower.js --ucd ... --dump FILE`; it is skipped otherwise.
#include "common/unicode_tolower.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <cstdint>
#include <functional>
#include <initializer_list>
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

// UTF8_tolower over `in` minus its last `cut` bytes with exactly `room` bytes of room, followed
// by guard bytes: "<status> <bytes written>", plus " overrun" when a guard byte changed.
std::string Lower(const std::string& in, size_t room, size_t cut = 0) {
    std::vector<char> buf(room + 16, '\x5A');
    size_t outLen = 0xBAD;
    const int32_t rc =
        UNICODETOLOWER::UTF8_tolower(in.data(), in.size() - cut, buf.data(), room, &outLen);
    std::string result =
        std::to_string(rc) + " " + (outLen <= room ? std::string(buf.data(), outLen) : "outLen?");
    if (std::count(buf.begin() + room, buf.end(), '\x5A') != 16) result += " overrun";
    return result;
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
        return got == want ? ""
                           : std::to_string(cp) + " -> " + std::to_string(got) + ", want " +
                                 std::to_string(want);
    });
}

// --- ToLower and the tables ---------------------------------------------------------------

// Every code point (between and around the entries, and past U+10FFFF) against the tables: a pair
// maps, anything else is unchanged.
TEST(UnicodeToLowerTest, EveryCodePointFollowsTheTables) {
    EXPECT_EQ(UNICODETOLOWER::ToLower(0xFFFFFFFF), 0xFFFFFFFFu);
    std::unordered_map<uint32_t, uint32_t> tables;
    for (size_t i = 0; i < data::kBmpPairCount; ++i)
        tables.emplace(data::kBmpPairs[i][0], data::kBmpPairs[i][1]);
    for (size_t i = 0; i < data::kSupplementaryPairCount; ++i)
        tables.emplace(data::kSupplementaryPairs[i][0], data::kSupplementaryPairs[i][1]);
    ExpectLowerFollows(tables, kMaxCodePoint + 0x100);
}

// Every code point against the UCD dump the generator writes ("XXXX YYYY" a line; absent means
// unchanged). The full run (scripts/test.sh) names it in MOLVEX_UCD_LOWER_DUMP.
TEST(UnicodeToLowerTest, EveryCodePointMatchesUcdDump) {
    const char* path = std::getenv("MOLVEX_UCD_LOWER_DUMP");
    if (path == nullptr || *path == '\0') GTEST_SKIP() << "MOLVEX_UCD_LOWER_DUMP not set";
    std::ifstream in(path);
    std::unordered_map<uint32_t, uint32_t> ucd;
    for (uint32_t cp = 0, lower = 0; in >> std::hex >> cp >> lower;) ucd.emplace(cp, lower);
    ASSERT_TRUE(in.eof() && !ucd.empty()) << "cannot read all of " << path;
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
        // U+00D7 (no lower case), U+0130 (shrinks), U+023A (grows), U+10400, U+10428 (lower)
        {"named examples", Utf8({0xD7, 0x130, 0x23A, 0x10400, 0x10428}), kPlenty, 0,
         Utf8({0xD7, 'i', 0x2C65, 0x10428, 0x10428}), 0},
        {"embedded NUL", std::string("A\0B", 3), kPlenty, 0, std::string("a\0b", 3), 0},
        {"empty, no room", "", 0, 0, "", 0},
        // Lenient decoding: a stray continuation byte leads a 2-byte code point.
        {"stray continuation 0xBF lead", "\xBF\x81", kPlenty, 0, Utf8({0x7C1}), 0},
        {"0xF8 lead uses 3 payload bits", "\xF8\x88\x80\x80", kPlenty, 0, Utf8({0x8000}), 0},
        // Undecodable input.
        {"lone stray continuation", "\x80", kPlenty, kIllFormed, "", 0},
        {"bad 2nd byte of 3", "\xE2\x28\xA1", kPlenty, kIllFormed, "", 0},
        {"bad 4th byte of 4", "X\xF0\x9F\x98\x41", kPlenty, kIllFormed, "x", 0},
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
        EXPECT_EQ(Lower(in, room, cut), std::to_string(rc) + " " + written) << name;
    }
    char out[16];
    size_t n = 0;
    auto lower = UNICODETOLOWER::UTF8_tolower;
    for (const int32_t rc : {lower(nullptr, 1, out, 16, &n), lower(nullptr, 0, out, 16, &n),
                             lower("A", 1, nullptr, 16, &n), lower("A", 1, out, 16, nullptr)})
        EXPECT_EQ(rc, -1);
}

// Against ToLower + encode: each code point on its own, in shortest form (surrogates included),
// at the smallest room. The room rule on longer texts is pinned by the rows above, and the UTF
// fuzz replay checks that well-formed text never writes past its room.
TEST(Utf8ToLowerTest, MatchesToLowerPerCodePoint) {
    ExpectNoMismatch(kMaxCodePoint, [](uint32_t cp) -> std::string {
        const std::string got = Lower(Utf8({cp}), 4);
        const std::string want = "0 " + Utf8({UNICODETOLOWER::ToLower(cp)});
        return got == want ? "" : std::to_string(cp) + ": " + got + ", want " + want;
    });
}

}  // namespace

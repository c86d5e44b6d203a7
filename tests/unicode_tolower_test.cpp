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
#include <random>
#include <sstream>
#include <string>
#include <unordered_map>
#include <vector>

namespace {

using ascommon::UNICODETOLOWER;
namespace data = ascommon::unicode_lower_data;

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

// Runs UTF8_tolower over in minus its last `cut` bytes with exactly `room` bytes of room,
// followed by guard bytes that must survive.
struct LowerRun {
    int32_t rc;
    size_t outLen;
    std::string out;  // the first outLen bytes written
    bool guardIntact;
};

LowerRun RunLower(const std::string& in, size_t room, size_t cut = 0) {
    std::vector<char> buf(room + 16, '\x5A');
    size_t outLen = 0xBAD;
    const int32_t rc =
        UNICODETOLOWER::UTF8_tolower(in.data(), in.size() - cut, buf.data(), room, &outLen);
    LowerRun r{rc, outLen, std::string(), true};
    if (outLen <= room) r.out.assign(buf.data(), outLen);
    for (size_t k = room; k < buf.size(); ++k) r.guardIntact = r.guardIntact && buf[k] == '\x5A';
    return r;
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

std::string Note(uint32_t cp, uint32_t got, uint32_t want) {
    if (got == want) return "";
    std::ostringstream os;
    os << std::hex << "U+" << cp << " -> " << got << ", want " << want;
    return os.str();
}

// Every code point up to last lowers to its entry in map, or to itself without one.
void ExpectLowerFollows(const std::unordered_map<uint32_t, uint32_t>& map, uint32_t last) {
    ExpectNoMismatch(last, [&](uint32_t cp) {
        const auto it = map.find(cp);
        return Note(cp, UNICODETOLOWER::ToLower(cp), it == map.end() ? cp : it->second);
    });
}

std::unordered_map<uint32_t, uint32_t> TableMap() {
    std::unordered_map<uint32_t, uint32_t> m;
    for (size_t i = 0; i < data::kBmpPairCount; ++i)
        m[data::kBmpPairs[i][0]] = data::kBmpPairs[i][1];
    for (size_t i = 0; i < data::kSupplementaryPairCount; ++i)
        m[data::kSupplementaryPairs[i][0]] = data::kSupplementaryPairs[i][1];
    return m;
}

// --- ToLower and the tables ---------------------------------------------------------------

TEST(UnicodeToLowerTest, KnownCodePoints) {
    const uint32_t cases[][2] = {
        {0x0000, 0x0000},   {'B', 'b'},           {'Z', 'z'},           {'[', '['},
        {0x00C0, 0x00E0},   {0x00D7, 0x00D7},     {0x0130, 0x0069},     {0x0178, 0x00FF},
        {0x023A, 0x2C65},   {0x1E9E, 0x00DF},     {0x2126, 0x03C9},     {0x212A, 0x006B},
        {0xFF21, 0xFF41},   {0xD800, 0xD800},     {0xFFFF, 0xFFFF},     {0x10400, 0x10428},
        {0x10428, 0x10428}, {0x10570, 0x10597},   {0x1E900, 0x1E922},   {0x1E921, 0x1E943},
        {0x1F600, 0x1F600}, {0x10FFFF, 0x10FFFF}, {0x110000, 0x110000}, {0xFFFFFFFF, 0xFFFFFFFF},
    };
    for (const auto& c : cases) EXPECT_EQ(Note(c[0], UNICODETOLOWER::ToLower(c[0]), c[1]), "");
}

TEST(UnicodeLowerTablesTest, SortedInRangeAndSizedForUcd151) {
    EXPECT_EQ(data::kBmpPairCount, 1173u);
    EXPECT_EQ(data::kSupplementaryPairCount, 260u);
    auto check = [](const uint32_t(*pairs)[2], size_t count, uint32_t lo, uint32_t hi) {
        for (size_t i = 0; i < count; ++i) {
            const uint32_t cp = pairs[i][0];
            const bool sorted = i == 0 || pairs[i - 1][0] < cp;
            EXPECT_TRUE(sorted && cp >= lo && cp <= hi && cp != pairs[i][1]) << std::hex << cp;
        }
    };
    check(data::kBmpPairs, data::kBmpPairCount, 0, 0xFFFF);
    check(data::kSupplementaryPairs, data::kSupplementaryPairCount, 0x10000, kMaxCodePoint);
}

// Each table pair maps, and every other code point (between and around the entries, and past
// U+10FFFF) comes back unchanged.
TEST(UnicodeToLowerTest, EveryCodePointFollowsTheTables) {
    ExpectLowerFollows(TableMap(), kMaxCodePoint + 0x100);
}

// Compares every code point with the UCD dump written by the generator (absent = identity).
TEST(UnicodeToLowerTest, EveryCodePointMatchesUcdDump) {
    const char* path = std::getenv("MOLVEX_UCD_LOWER_DUMP");
    if (path == nullptr || *path == '\0') {
        GTEST_SKIP() << "MOLVEX_UCD_LOWER_DUMP not set (make one with tools/gen_unicode_lower.js "
                        "--dump FILE)";
    }
    std::ifstream in(path);
    if (!in) GTEST_SKIP() << "cannot read MOLVEX_UCD_LOWER_DUMP file " << path;

    std::unordered_map<uint32_t, uint32_t> ucd;
    std::string line, extra;
    for (size_t lineNo = 1; std::getline(in, line); ++lineNo) {
        if (line.empty()) continue;
        std::istringstream fields(line);
        uint32_t cp = 0, lower = 0;
        fields >> std::hex >> cp >> lower;
        ASSERT_TRUE(fields && !(fields >> extra)) << path << ":" << lineNo << ": " << line;
        ASSERT_LE(cp, kMaxCodePoint) << path << ":" << lineNo;
        ASSERT_TRUE(ucd.emplace(cp, lower).second) << path << ":" << lineNo << " duplicate";
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
    struct Case {
        const char* name;
        std::string in;
        size_t room;
        int32_t rc;
        std::string written;  // the whole output, or what was written before the failure
        size_t cut = 0;       // bytes hidden from inLen
    };
    constexpr size_t kPlenty = 200;
    const std::string tenUpper = "ABCDEFGHIJ";
    const Case cases[] = {
        {"ascii", "Hello, WORLD 0123456789 [@`{]", kPlenty, 0, "hello, world 0123456789 [@`{]"},
        // U+00C0 U+00D7 U+0130 (shrinks) U+212A (shrinks) U+023A (grows) U+10570 U+1E900 U+10400
        // U+10428 (already lower case)
        {"named examples",
         Utf8({0xC0, 0xD7, 0x130, 0x212A, 0x23A, 0x10570, 0x1E900, 0x10400, 0x10428}), kPlenty, 0,
         Utf8({0xE0, 0xD7, 'i', 'k', 0x2C65, 0x10597, 0x1E922, 0x10428, 0x10428})},
        {"embedded NUL", std::string("A\0B", 3), kPlenty, 0, std::string("a\0b", 3)},
        {"empty, no room", "", 0, 0, ""},
        // Lenient decoding: a stray continuation byte leads a 2-byte code point.
        {"stray continuation 0xBF lead", "\xBF\x81", kPlenty, 0, Utf8({0x7C1})},
        {"overlong 'A' is lowered", "\xC1\x81", kPlenty, 0, "a"},
        {"overlong 3-byte U+00C0", "\xE0\x83\x80", kPlenty, 0, Utf8({0xE0})},
        {"surrogate passes through", "\xED\xA0\x80", kPlenty, 0, "\xED\xA0\x80"},
        {"above U+10FFFF passes through", "\xF4\x90\x80\x80", kPlenty, 0, "\xF4\x90\x80\x80"},
        {"0xF8 lead uses 3 payload bits", "\xF8\x88\x80\x80", kPlenty, 0, Utf8({0x8000})},
        // Undecodable input.
        {"lone stray continuation", "\x80", kPlenty, -50, ""},
        {"bad 2nd byte of 3", "\xE2\x28\xA1", kPlenty, -50, ""},
        {"bad 4th byte of 4", "X\xF0\x9F\x98\x41", kPlenty, -50, "x"},
        {"lead where continuation expected", "\xC3\xC3\x80", kPlenty, -50, ""},
        {"error after multibyte", Utf8({0xC0}) + "\xE2", kPlenty, -50, Utf8({0xE0})},
        {"bad sequence wins over no room", "\xC3", 0, -50, ""},
        // Truncation is judged by inLen, not by valid bytes that follow in memory.
        {"cut 2-byte", "a\xC3\x80", kPlenty, -50, "a", 1},
        {"cut 4-byte", "a\xF0\x9F\x98\x80", kPlenty, -50, "a", 1},
        // Room.
        {"ten ascii, room 10", tenUpper, 10, -51, "abcdefg"},
        {"ten ascii, room 13", tenUpper, 13, 0, "abcdefghij"},
        {"A, room 3", "A", 3, -51, ""},
        {"A, room 4", "A", 4, 0, "a"},
        {"U+0130 needs 4 though it writes 1", Utf8({0x0130}), 3, -51, ""},
        {"U+00C0 BC, room 5", Utf8({0xC0}) + "BC", 5, -51, Utf8({0xE0})},
        {"U+00C0 BC, room 7", Utf8({0xC0}) + "BC", 7, 0, Utf8({0xE0}) + "bc"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const LowerRun r = RunLower(c.in, c.room, c.cut);
        EXPECT_EQ(r.rc, c.rc);
        EXPECT_EQ(r.outLen, c.written.size());
        EXPECT_EQ(Hex(r.out), Hex(c.written));
        EXPECT_TRUE(r.guardIntact);
    }
}

TEST(Utf8ToLowerTest, NullArguments) {
    char out[16];
    size_t outLen = 0;
    EXPECT_EQ(UNICODETOLOWER::UTF8_tolower(nullptr, 1, out, sizeof out, &outLen), -1);
    EXPECT_EQ(UNICODETOLOWER::UTF8_tolower(nullptr, 0, out, sizeof out, &outLen), -1);
    EXPECT_EQ(UNICODETOLOWER::UTF8_tolower("A", 1, nullptr, sizeof out, &outLen), -1);
    EXPECT_EQ(UNICODETOLOWER::UTF8_tolower("A", 1, out, sizeof out, nullptr), -1);
}

// Each code point on its own, in shortest form (surrogates included), at the smallest room,
// against ToLower + encode.
TEST(Utf8ToLowerTest, EveryCodePointMatchesToLower) {
    ExpectNoMismatch(kMaxCodePoint, [](uint32_t cp) -> std::string {
        const LowerRun r = RunLower(Utf8({cp}), 4);
        const std::string want = Utf8({UNICODETOLOWER::ToLower(cp)});
        if (r.rc == 0 && r.out == want && r.guardIntact) return "";
        std::ostringstream os;
        os << std::hex << "U+" << cp << ": rc " << std::dec << r.rc << ", got " << Hex(r.out)
           << "want " << Hex(want);
        return os.str();
    });
}

// Generated well-formed text against ToLower + encode per code point, at the smallest room that
// fits and at one byte less.
TEST(Utf8ToLowerTest, MatchesReferenceOnGeneratedText) {
    std::mt19937 rng(20240515);
    std::vector<uint32_t> cased;
    for (const auto& kv : TableMap()) cased.insert(cased.end(), {kv.first, kv.second});
    std::sort(cased.begin(), cased.end());  // a reproducible pick whatever the map's order
    auto pick = [&rng](uint32_t lo, uint32_t hi) {
        return std::uniform_int_distribution<uint32_t>(lo, hi)(rng);
    };
    auto randomCodePoint = [&]() -> uint32_t {
        const uint32_t kind = pick(0, 5);
        if (kind < 2) return pick(0, 0x7F);
        if (kind == 2) return cased[pick(0, static_cast<uint32_t>(cased.size() - 1))];
        if (kind == 3) return pick(0x80, 0x7FF);
        if (kind == 5) return pick(0x10000, kMaxCodePoint);
        const uint32_t cp = pick(0x800, 0xFFFF);  // 3 bytes, no surrogates
        return (cp >= 0xD800 && cp <= 0xDFFF) ? cp - 0x800 : cp;
    };

    for (int n = 0; n < 4000; ++n) {
        std::string text, lowered;
        size_t minRoom = 0;  // 4 bytes must be free before the last code point is written
        for (uint32_t k = pick(0, 24); k > 0; --k) {
            const uint32_t cp = randomCodePoint();
            text += Utf8({cp});
            minRoom = lowered.size() + 4;
            lowered += Utf8({UNICODETOLOWER::ToLower(cp)});
        }
        SCOPED_TRACE(Hex(text));
        const LowerRun tight = RunLower(text, minRoom);
        ASSERT_EQ(tight.rc, 0);
        ASSERT_EQ(Hex(tight.out), Hex(lowered));
        ASSERT_TRUE(tight.guardIntact);
        if (minRoom > 0) {
            const LowerRun shortOne = RunLower(text, minRoom - 1);
            ASSERT_EQ(shortOne.rc, -51);
            ASSERT_TRUE(shortOne.guardIntact);
            ASSERT_EQ(Hex(shortOne.out), Hex(lowered.substr(0, shortOne.outLen)));
        }
    }
}

}  // namespace

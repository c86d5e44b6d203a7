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

// --- Reference helpers, written independently of the code under test -----------------------

// Shortest-form UTF-8; surrogates are encoded like any other 3-byte value.
std::string Utf8(uint32_t cp) {
    std::string s;
    if (cp < 0x80) {
        s += static_cast<char>(cp);
    } else if (cp < 0x800) {
        s += static_cast<char>(0xC0 | (cp >> 6));
        s += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        s += static_cast<char>(0xE0 | (cp >> 12));
        s += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        s += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        s += static_cast<char>(0xF0 | (cp >> 18));
        s += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        s += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        s += static_cast<char>(0x80 | (cp & 0x3F));
    }
    return s;
}

std::string Utf8(std::initializer_list<uint32_t> cps) {
    std::string s;
    for (uint32_t cp : cps) s += Utf8(cp);
    return s;
}

// Decodes well-formed UTF-8 the plain way, lower-cases each code point and re-encodes.
// minRoom is the smallest output room that lets the whole text through (4 bytes must be free
// before each code point is written).
struct Reference {
    std::string lowered;
    size_t minRoom = 0;
};

Reference ReferenceLower(const std::string& text) {
    Reference ref;
    size_t i = 0;
    while (i < text.size()) {
        const auto b = static_cast<unsigned char>(text[i]);
        const size_t len = b < 0x80 ? 1 : b < 0xE0 ? 2 : b < 0xF0 ? 3 : 4;
        uint32_t cp = len == 1 ? b : len == 2 ? (b & 0x1F) : len == 3 ? (b & 0x0F) : (b & 0x07);
        for (size_t k = 1; k < len; ++k) cp = (cp << 6) | (text[i + k] & 0x3F);
        ref.minRoom = ref.lowered.size() + 4;
        ref.lowered += Utf8(UNICODETOLOWER::ToLower(cp));
        i += len;
    }
    return ref;
}

// Runs UTF8_tolower with exactly `room` bytes of room, followed by guard bytes that must
// survive.
struct LowerRun {
    int32_t rc;
    size_t outLen;
    std::string out;  // the first outLen bytes written
    bool guardIntact;
};

LowerRun RunLower(const std::string& in, size_t room) {
    constexpr size_t kGuard = 16;
    constexpr char kFill = '\x5A';
    std::vector<char> buf(room + kGuard, kFill);
    size_t outLen = 0xBAD;
    const int32_t rc =
        UNICODETOLOWER::UTF8_tolower(in.data(), in.size(), buf.data(), room, &outLen);
    LowerRun r{rc, outLen, std::string(), true};
    if (outLen <= room) r.out.assign(buf.data(), outLen);
    for (size_t k = room; k < buf.size(); ++k) r.guardIntact = r.guardIntact && buf[k] == kFill;
    return r;
}

std::string Hex(const std::string& s) {
    std::ostringstream os;
    for (char ch : s) {
        const auto c = static_cast<unsigned char>(ch);
        os << std::hex << std::uppercase << (c < 0x10 ? "0" : "") << +c << ' ';
    }
    return os.str();
}

// Collects mismatches of a long sweep so one systematic fault does not print a million lines.
class MismatchLog {
  public:
    void Add(const std::string& what) {
        if (count_++ < 10) first_ += what + "\n";
    }
    size_t count() const { return count_; }
    const std::string& first() const { return first_; }

  private:
    size_t count_ = 0;
    std::string first_;
};

std::unordered_map<uint32_t, uint32_t> TableMap() {
    std::unordered_map<uint32_t, uint32_t> m;
    for (size_t i = 0; i < data::kBmpPairCount; ++i)
        m[data::kBmpPairs[i][0]] = data::kBmpPairs[i][1];
    for (size_t i = 0; i < data::kSupplementaryPairCount; ++i)
        m[data::kSupplementaryPairs[i][0]] = data::kSupplementaryPairs[i][1];
    return m;
}

// --- ToLower -----------------------------------------------------------------------------

TEST(UnicodeToLowerTest, KnownCodePoints) {
    struct Case {
        uint32_t cp;
        uint32_t lower;
    };
    const Case cases[] = {
        {0x0000, 0x0000},     {'B', 'b'},           {'Z', 'z'},
        {'a', 'a'},           {'@', '@'},           {'[', '['},
        {0x00C0, 0x00E0},     {0x00E0, 0x00E0},     {0x00D7, 0x00D7},
        {0x0130, 0x0069},     {0x0178, 0x00FF},     {0x023A, 0x2C65},
        {0x1E9E, 0x00DF},     {0x2126, 0x03C9},     {0x212A, 0x006B},
        {0xFF21, 0xFF41},     {0xFF3A, 0xFF5A},     {0xD800, 0xD800},
        {0xFFFF, 0xFFFF},     {0x10400, 0x10428},   {0x10428, 0x10428},
        {0x10570, 0x10597},   {0x1E900, 0x1E922},   {0x1E921, 0x1E943},
        {0x1E922, 0x1E922},   {0x1F600, 0x1F600},   {0x10FFFF, 0x10FFFF},
        {0x110000, 0x110000}, {0x1FFFFF, 0x1FFFFF}, {0xFFFFFFFF, 0xFFFFFFFF},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(UNICODETOLOWER::ToLower(c.cp), c.lower) << std::hex << "U+" << c.cp;
    }
    for (uint32_t d = '0'; d <= '9'; ++d) EXPECT_EQ(UNICODETOLOWER::ToLower(d), d);
}

TEST(UnicodeLowerTablesTest, SortedInRangeAndSizedForUcd151) {
    EXPECT_EQ(data::kBmpPairCount, 1173u);
    ASSERT_EQ(data::kSupplementaryPairCount, 260u);

    for (size_t i = 0; i < data::kBmpPairCount; ++i) {
        const uint32_t cp = data::kBmpPairs[i][0];
        EXPECT_LT(cp, 0x10000u) << i;
        EXPECT_NE(cp, data::kBmpPairs[i][1]) << i;
        if (i > 0) {
            EXPECT_LT(data::kBmpPairs[i - 1][0], cp) << i;
        }
    }
    for (size_t i = 0; i < data::kSupplementaryPairCount; ++i) {
        const uint32_t cp = data::kSupplementaryPairs[i][0];
        EXPECT_GE(cp, 0x10000u) << i;
        EXPECT_LE(cp, kMaxCodePoint) << i;
        EXPECT_NE(cp, data::kSupplementaryPairs[i][1]) << i;
        if (i > 0) {
            EXPECT_LT(data::kSupplementaryPairs[i - 1][0], cp) << i;
        }
    }
}

TEST(UnicodeLowerTablesTest, EveryPairRoundTripsThroughToLower) {
    for (size_t i = 0; i < data::kBmpPairCount; ++i) {
        EXPECT_EQ(UNICODETOLOWER::ToLower(data::kBmpPairs[i][0]), data::kBmpPairs[i][1])
            << std::hex << "U+" << data::kBmpPairs[i][0];
    }
    for (size_t i = 0; i < data::kSupplementaryPairCount; ++i) {
        EXPECT_EQ(UNICODETOLOWER::ToLower(data::kSupplementaryPairs[i][0]),
                  data::kSupplementaryPairs[i][1])
            << std::hex << "U+" << data::kSupplementaryPairs[i][0];
    }
}

// Every code point not in the tables must come back unchanged (checks the BMP fill and the
// supplementary search for absent keys, e.g. between and around the table's entries).
TEST(UnicodeToLowerTest, EveryCodePointFollowsTheTables) {
    const auto map = TableMap();
    MismatchLog log;
    for (uint32_t cp = 0; cp <= kMaxCodePoint + 0x100; ++cp) {
        const auto it = map.find(cp);
        const uint32_t want = it == map.end() ? cp : it->second;
        const uint32_t got = UNICODETOLOWER::ToLower(cp);
        if (got != want) {
            std::ostringstream os;
            os << std::hex << "U+" << cp << " -> " << got << ", want " << want;
            log.Add(os.str());
        }
    }
    EXPECT_EQ(log.count(), 0u) << log.first();
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
    std::string line;
    size_t lineNo = 0;
    while (std::getline(in, line)) {
        ++lineNo;
        if (line.empty()) continue;
        std::istringstream fields(line);
        uint32_t cp = 0;
        uint32_t lower = 0;
        std::string extra;
        fields >> std::hex >> cp >> lower;
        ASSERT_TRUE(fields && !(fields >> extra)) << path << ":" << lineNo << ": " << line;
        ASSERT_LE(cp, kMaxCodePoint) << path << ":" << lineNo;
        ASSERT_TRUE(ucd.emplace(cp, lower).second) << path << ":" << lineNo << " duplicate";
    }
    ASSERT_FALSE(ucd.empty()) << path << " has no mappings";

    MismatchLog log;
    for (uint32_t cp = 0; cp <= kMaxCodePoint; ++cp) {
        const auto it = ucd.find(cp);
        const uint32_t want = it == ucd.end() ? cp : it->second;
        const uint32_t got = UNICODETOLOWER::ToLower(cp);
        if (got != want) {
            std::ostringstream os;
            os << std::hex << "U+" << cp << " -> " << got << ", UCD says " << want;
            log.Add(os.str());
        }
    }
    EXPECT_EQ(log.count(), 0u) << log.first();
}

// --- UTF8_tolower ------------------------------------------------------------------------

struct TextCase {
    const char* name;
    std::string in;
    std::string want;
};

void ExpectLowered(const std::vector<TextCase>& cases) {
    for (const TextCase& c : cases) {
        SCOPED_TRACE(c.name);
        const LowerRun r = RunLower(c.in, 4 * c.in.size() + 4);
        EXPECT_EQ(r.rc, 0);
        EXPECT_EQ(r.outLen, c.want.size());
        EXPECT_EQ(Hex(r.out), Hex(c.want));
        EXPECT_TRUE(r.guardIntact);
    }
}

TEST(Utf8ToLowerTest, LowersText) {
    ExpectLowered({
        {"ascii", "Hello, WORLD 0123456789 [@`{]", "hello, world 0123456789 [@`{]"},
        {"latin-1", Utf8({0xC0, 'B', 0xC9, 0xE0, 0xD7}), Utf8({0xE0, 'b', 0xE9, 0xE0, 0xD7})},
        {"dotted capital I shrinks", Utf8({'X', 0x0130, 'Y'}), "xiy"},
        {"kelvin sign shrinks", Utf8({0x212A}), "k"},
        {"ohm sign shrinks", Utf8({0x2126}), Utf8({0x03C9})},
        {"2 bytes grow to 3", Utf8({0x023A, 0x023E}), Utf8({0x2C65, 0x2C66})},
        {"greek", Utf8({0x0391, 0x03A3, 0x03A9}), Utf8({0x03B1, 0x03C3, 0x03C9})},
        {"cyrillic", Utf8({0x0416, 0x0401, 'a'}), Utf8({0x0436, 0x0451, 'a'})},
        {"fullwidth", Utf8({0xFF21, 0xFF3A}), Utf8({0xFF41, 0xFF5A})},
        {"vithkuqi", Utf8({0x10570}), Utf8({0x10597})},
        {"adlam", Utf8({0x1E900, 'Q'}), Utf8({0x1E922, 'q'})},
        {"deseret small unchanged", Utf8({0x10428}), Utf8({0x10428})},
        {"deseret capital", Utf8({0x10400}), Utf8({0x10428})},
        {"emoji unchanged", Utf8({0x1F600, 'A'}), Utf8({0x1F600, 'a'})},
        {"embedded NUL", std::string("A\0B", 3), std::string("a\0b", 3)},
    });
}

// The decoder only looks at the lead byte and the continuation-byte pattern; these inputs
// are accepted on purpose and come out in shortest form.
TEST(Utf8ToLowerTest, LenientDecoding) {
    ExpectLowered({
        {"stray continuation pair is a 2-byte code point", "\x80\x80", std::string(1, '\0')},
        {"stray continuation 0xBF lead", "\xBF\x81", Utf8({0x7C1})},
        {"overlong 'A' is lowered", "\xC1\x81", "a"},
        {"overlong NUL", "\xC0\x80", std::string(1, '\0')},
        {"overlong 3-byte U+00C0", "\xE0\x83\x80", Utf8({0xE0})},
        {"surrogate passes through", "\xED\xA0\x80", "\xED\xA0\x80"},
        {"above U+10FFFF passes through", "\xF4\x90\x80\x80", "\xF4\x90\x80\x80"},
        {"0xF8 lead uses 3 payload bits", "\xF8\x88\x80\x80", Utf8({0x8000})},
        {"0xFF lead", "\xFF\xBF\xBF\xBF", "\xF7\xBF\xBF\xBF"},
    });
}

TEST(Utf8ToLowerTest, RejectsUndecodableInput) {
    struct Case {
        const char* name;
        std::string in;
        std::string writtenBefore;
    };
    const Case cases[] = {
        {"truncated 2-byte", "\xC3", ""},
        {"truncated 3-byte", "\xE2\x82", ""},
        {"truncated 4-byte", "\xF0\x9F\x98", ""},
        {"lone stray continuation", "\x80", ""},
        {"truncated after text", "AB\xC3", "ab"},
        {"bad 2nd byte of 2", "\xC3\x41", ""},
        {"bad 2nd byte of 3", "\xE2\x28\xA1", ""},
        {"bad 3rd byte of 3", "\xE2\x82\xC0", ""},
        {"bad 4th byte of 4", "X\xF0\x9F\x98\x41", "x"},
        {"lead where continuation expected", "\xC3\xC3\x80", ""},
        {"error after multibyte", Utf8({0xC0}) + "\xE2", Utf8({0xE0})},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const LowerRun r = RunLower(c.in, 64);
        EXPECT_EQ(r.rc, -50);
        EXPECT_EQ(r.outLen, c.writtenBefore.size());
        EXPECT_EQ(Hex(r.out), Hex(c.writtenBefore));
        EXPECT_TRUE(r.guardIntact);
    }
    // A bad sequence is reported as such even when there is no room left for it.
    EXPECT_EQ(RunLower("\xC3", 0).rc, -50);

    // Truncation is judged by inLen, not by valid bytes that happen to follow in memory.
    for (const std::string full : {"a\xC3\x80", "a\xE2\x82\xAC", "a\xF0\x9F\x98\x80"}) {
        char out[16];
        size_t outLen = 0;
        EXPECT_EQ(
            UNICODETOLOWER::UTF8_tolower(full.data(), full.size() - 1, out, sizeof out, &outLen),
            -50)
            << Hex(full);
        EXPECT_EQ(outLen, 1u);
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

TEST(Utf8ToLowerTest, EmptyInput) {
    for (size_t room : {size_t{0}, size_t{16}}) {
        const LowerRun r = RunLower("", room);
        EXPECT_EQ(r.rc, 0) << room;
        EXPECT_EQ(r.outLen, 0u) << room;
        EXPECT_TRUE(r.guardIntact) << room;
    }
}

// Four bytes of room must be left before each code point, whatever it encodes to.
TEST(Utf8ToLowerTest, OutputRoom) {
    struct Case {
        std::string in;
        size_t room;
        int32_t rc;
        std::string written;
    };
    const std::string tenUpper = "ABCDEFGHIJ";
    const Case cases[] = {
        {tenUpper, 10, -51, "abcdefg"},
        {tenUpper, 12, -51, "abcdefghi"},
        {tenUpper, 13, 0, "abcdefghij"},
        {"A", 0, -51, ""},
        {"A", 3, -51, ""},
        {"A", 4, 0, "a"},
        {Utf8({0x0130}), 3, -51, ""},  // would need only 1 byte
        {Utf8({0x0130}), 4, 0, "i"},
        {Utf8({0x10400, 0x10400}), 7, -51, Utf8({0x10428})},
        {Utf8({0x10400, 0x10400}), 8, 0, Utf8({0x10428, 0x10428})},
        {Utf8({0xC0}) + "BC", 5, -51, Utf8({0xE0})},
        {Utf8({0xC0}) + "BC", 7, 0, Utf8({0xE0}) + "bc"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(Hex(c.in) + "room " + std::to_string(c.room));
        const LowerRun r = RunLower(c.in, c.room);
        EXPECT_EQ(r.rc, c.rc);
        EXPECT_EQ(r.outLen, c.written.size());
        EXPECT_EQ(Hex(r.out), Hex(c.written));
        EXPECT_TRUE(r.guardIntact);
    }
}

// Each code point on its own, encoded in shortest form (surrogates included), against
// ToLower + encode.
TEST(Utf8ToLowerTest, EveryCodePointMatchesToLower) {
    MismatchLog log;
    char out[8];
    for (uint32_t cp = 0; cp <= kMaxCodePoint; ++cp) {
        const std::string in = Utf8(cp);
        const std::string want = Utf8(UNICODETOLOWER::ToLower(cp));
        size_t outLen = 0;
        const int32_t rc = UNICODETOLOWER::UTF8_tolower(in.data(), in.size(), out, 4, &outLen);
        if (rc != 0 || std::string(out, outLen) != want) {
            std::ostringstream os;
            os << std::hex << "U+" << cp << ": rc " << std::dec << rc << ", got "
               << Hex(std::string(out, rc == 0 ? outLen : 0)) << "want " << Hex(want);
            log.Add(os.str());
        }
    }
    EXPECT_EQ(log.count(), 0u) << log.first();
}

// Generated well-formed text, compared with the plain reference, at the smallest room that
// fits, one byte less, and with plenty of room.
TEST(Utf8ToLowerTest, MatchesReferenceOnGeneratedText) {
    std::mt19937 rng(20240515);
    const auto map = TableMap();
    std::vector<uint32_t> cased;
    for (const auto& kv : map) {
        cased.push_back(kv.first);
        cased.push_back(kv.second);
    }
    std::sort(cased.begin(), cased.end());

    auto pick = [&rng](uint32_t lo, uint32_t hi) {
        return std::uniform_int_distribution<uint32_t>(lo, hi)(rng);
    };
    auto randomCodePoint = [&]() -> uint32_t {
        switch (pick(0, 5)) {
            case 0:
            case 1:
                return pick(0, 0x7F);
            case 2:
                return cased[pick(0, static_cast<uint32_t>(cased.size() - 1))];
            case 3:
                return pick(0x80, 0x7FF);
            case 4: {
                const uint32_t cp = pick(0x800, 0xFFFF);
                return (cp >= 0xD800 && cp <= 0xDFFF) ? cp - 0x800 : cp;
            }
            default:
                return pick(0x10000, kMaxCodePoint);
        }
    };

    for (int n = 0; n < 4000; ++n) {
        std::string text;
        const uint32_t count = pick(0, 24);
        for (uint32_t k = 0; k < count; ++k) text += Utf8(randomCodePoint());
        const Reference ref = ReferenceLower(text);
        SCOPED_TRACE(Hex(text));

        const LowerRun roomy = RunLower(text, 4 * text.size() + 4);
        ASSERT_EQ(roomy.rc, 0);
        ASSERT_EQ(Hex(roomy.out), Hex(ref.lowered));

        const LowerRun tight = RunLower(text, ref.minRoom);
        ASSERT_EQ(tight.rc, 0);
        ASSERT_EQ(Hex(tight.out), Hex(ref.lowered));
        ASSERT_TRUE(tight.guardIntact);

        if (ref.minRoom > 0) {
            const LowerRun shortOne = RunLower(text, ref.minRoom - 1);
            ASSERT_EQ(shortOne.rc, -51);
            ASSERT_TRUE(shortOne.guardIntact);
            ASSERT_LE(shortOne.outLen, ref.lowered.size());
            ASSERT_EQ(Hex(shortOne.out), Hex(ref.lowered.substr(0, shortOne.outLen)));
        }
    }
}

}  // namespace

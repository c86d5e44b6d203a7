// The Unicode services binding (GlyphkitLib, CStringConversion::LoadUnicodeLibrary) against the
// companion library and a stand-in that lacks "ConvertFromUTF16ToUTF32"; then the companion's
// statistics, conversions, lower-casing, tokens and categories, called through the binding.
#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "common/convert.h"
#include "common/platform.h"
#include "companions/glyphkit/glyphkit.h"
#include "glyphkit/glyphkitlib.h"
#include "glyphkit/unicodeutils.h"
#include "host/host_hooks.h"

using ascommon::GlyphkitLib;

namespace {

constexpr int kCount = GlyphkitLib::kEntryPointCount;

// folder + separator + the library's file name.
std::string InFolder(const std::string& folder) {
    return folder + platform::kPathSeparator + platform::kGlyphkitLibraryName;
}
const std::string kNowhere = InFolder("/nonexistent");

// Whether the stand-in is mapped in the process (without loading it).
bool StandInLoaded() {
    return platform::LibraryLoaded(GLYPHKIT_MISSING);
}

// Checks the binding against what it holds: every entry point is the address of its name in the
// library held (null when it lacks the name, or when nothing is held).
void ExpectBinding(const GlyphkitLib& lib, int32_t status, int resolved) {
    EXPECT_EQ(lib.GetStatus(), status);
    EXPECT_EQ(lib.Module() != nullptr, status != GlyphkitLib::kNotLoaded);
    int n = 0;
    for (int i = 0; i < kCount; ++i) {
        void* expected = lib.Module()
                             ? platform::LibrarySymbol(lib.Module(), GlyphkitLib::EntryPointName(i))
                             : nullptr;
        EXPECT_EQ(lib.EntryPoint(i), expected) << GlyphkitLib::EntryPointName(i);
        n += lib.EntryPoint(i) != nullptr;
    }
    EXPECT_EQ(n, resolved);
    EXPECT_EQ(lib.EntryPoint(kCount), nullptr);
}

}  // namespace

// 37 distinct names, the stand-in's missing one last. Each load first releases what was held:
// after a failed one, a complete one or a Reset the stand-in is no longer mapped, and neither
// after the binding is destroyed.
TEST(GlyphkitLibTest, LoadsReloadsAndReleases) {
    std::set<std::string> names;
    for (int i = 0; i < kCount; ++i) names.insert(GlyphkitLib::EntryPointName(i));
    EXPECT_EQ(names.size(), 37u);
    EXPECT_STREQ(GlyphkitLib::EntryPointName(kCount - 1), "ConvertFromUTF16ToUTF32");
    EXPECT_TRUE(!GlyphkitLib::EntryPointName(-1) && !GlyphkitLib::EntryPointName(kCount));
    {
        GlyphkitLib lib;
        ExpectBinding(lib, GlyphkitLib::kNotLoaded, 0);
        const std::tuple<const char*, int32_t, int> steps[] = {
            {kNowhere.c_str(), -4, 0},   {nullptr, -4, 0},           {GLYPHKIT_COMPANION, 0, 37},
            {GLYPHKIT_MISSING, -5, 36},  {kNowhere.c_str(), -4, 0},  {GLYPHKIT_MISSING, -5, 36},
            {GLYPHKIT_COMPANION, 0, 37}, {GLYPHKIT_MISSING, -5, 36},
        };
        for (const auto& [path, status, resolved] : steps) {
            SCOPED_TRACE(path ? path : "null");
            EXPECT_EQ(lib.Load(path), status);
            ExpectBinding(lib, status, resolved);
            EXPECT_EQ(StandInLoaded(), status == -5);
        }
        lib.Reset();
        ExpectBinding(lib, GlyphkitLib::kNotLoaded, 0);
        EXPECT_FALSE(StandInLoaded());
        EXPECT_EQ(lib.Load(GLYPHKIT_MISSING), -5);
    }
    EXPECT_FALSE(StandInLoaded());
}

TEST(GlyphkitLibTest, LoadUnicodeLibraryTraces) {
    const std::string companionDir = GLYPHKIT_COMPANION_DIR, missingDir = GLYPHKIT_MISSING_DIR;
    const std::string withSeparator = companionDir + platform::kPathSeparator;
    const std::tuple<std::string, int32_t, std::string> rows[] = {
        {companionDir, 0, "Successfully loaded dynamic library " + InFolder(companionDir)},
        // No check for a separator at the end of the folder.
        {withSeparator, 0, "Successfully loaded dynamic library " + InFolder(withSeparator)},
        {"/nonexistent", -4, "Could not load dynamic library " + kNowhere},
        {missingDir, -5,
         "Could not load all procedures from dynamic library " + InFolder(missingDir)},
    };
    host::CaptureTraces(1);
    host::TakeTraces();
    for (const auto& [folder, result, trace] : rows) {
        {
            ascommon::CStringConversion conversion;
            EXPECT_EQ(conversion.LoadUnicodeLibrary(ascommon::sstring(folder.c_str())), result);
            EXPECT_EQ(conversion.Library().GetStatus(), result);
        }
        const std::vector<std::string> lines = host::TakeTraces();
        ASSERT_EQ(lines.size(), 1u) << folder;
        EXPECT_NE(lines[0].find(trace + "\n"), std::string::npos) << lines[0];
    }
    EXPECT_FALSE(StandInLoaded());
    host::CaptureTraces(0);
}

// ---- The companion, called through the binding ----------------------------------------------

class GlyphkitCompanionTest : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_EQ(m_lib.Load(GLYPHKIT_COMPANION), 0); }
    template <typename Fn>
    Fn Export(const char* name) const {
        return reinterpret_cast<Fn>(platform::LibrarySymbol(m_lib.Module(), name));
    }
    GlyphkitLib m_lib;
};

TEST_F(GlyphkitCompanionTest, StatisticsConversionsTokensAndCategories) {
    EXPECT_STREQ(Export<const char* (*)()>("GetLibVersion")(), "1.2.0");
    auto info = Export<decltype(&GetUTF8StringInfo)>("GetUTF8StringInfo");
    // Latin letters with accents, a Cyrillic 'а' among them, a Georgian letter, a combining
    // acute, digits, spaces, '!' and one ill-formed byte (counted as Other).
    const std::string text = "H\xC3\xA9llo p\xD0\xB0yp \xE1\x83\x90\xCC\x81 42!\xFF";
    size_t size = 0;
    ASSERT_EQ(info(text.data(), text.size(), nullptr, &size), 0);
    std::vector<char> json(size);
    ASSERT_EQ(info(text.data(), text.size(), json.data(), &size), 0);
    ASSERT_EQ(json.back(), '\0');
    ascommon::StringInfoParser parser;
    ASSERT_TRUE(parser.initialize(ascommon::sstring(json.data())));
    EXPECT_EQ((std::vector<int>{parser.GetGroupCount("Letter"), parser.GetGroupCount("Digit"),
                                parser.GetGroupCount("Space"), parser.GetGroupCount("Punctuation"),
                                parser.GetScriptCount("Latin"), parser.GetScriptCount("Cyrillic"),
                                parser.GetScriptCount("Georgian"), parser.GetGroupCount("Mark"),
                                parser.GetScriptCount("Inherited"), parser.GetTotalWithoutOther()}),
              (std::vector<int>{10, 2, 3, 1, 8, 1, 1, 1, 1, 17}))  // 18 characters, one Other
        << json.data();

    auto utf7 = Export<decltype(&ConvertFromUTF7ToUTF32)>("ConvertFromUTF7ToUTF32");
    // clang-format off
    const std::tuple<const char*, int32_t, std::u32string> rows[] = {
        {"Hi Mom -+Jjo--!", 0, U"Hi Mom -\u263A-!"}, {"1 +- 1", 0, U"1 + 1"},
        {"+2D3eAA-", 0, U"\U0001F600"}, {"+2D0-", GK_ILL_FORMED, U""},  // a pair; a lone high half
        {"caf\xC3\xA9", GK_ILL_FORMED, U""},
    };
    // clang-format on
    for (const auto& [input, result, decoded] : rows) {
        uint32_t out[16];
        size = 16;
        EXPECT_EQ(utf7(input, std::strlen(input), out, &size), result) << input;
        EXPECT_EQ(result == 0 ? std::u32string(out, out + size) : U"", decoded) << input;
    }

    // No room: the size needed, nothing written. U+01C4 and, in the supplementary table, U+10400.
    auto lower = Export<decltype(&TolowerUTF8)>("TolowerUTF8");
    char out[32];
    size = 2;
    EXPECT_EQ(lower("\xC7\x84T\xF0\x90\x90\x80", 7, out, &size), GK_NO_ROOM);
    EXPECT_EQ(size, 7u);
    EXPECT_EQ(lower("\xC7\x84T\xF0\x90\x90\x80", 7, out, &size), 0);
    EXPECT_EQ(std::string(out, size), "\xC7\x86t\xF0\x90\x90\xA8");

    // v2 splits "p" "а" "ypal" where the Cyrillic letter sits among Latin ones.
    auto tokenize = Export<decltype(&TokenizeUTF8_v2)>("TokenizeUTF8_v2");
    const std::string mixed = "p\xD0\xB0ypal 42x";
    uint32_t tokens[16];
    size_t count = 8;
    ASSERT_EQ(tokenize(mixed.data(), mixed.size(), tokens, &count), 0);
    EXPECT_EQ(std::vector<uint32_t>(tokens, tokens + 2 * count),
              (std::vector<uint32_t>{0, 1, 1, 2, 3, 4, 8, 2, 10, 1}));

    auto category = Export<decltype(&GetUnicodeCategory)>("GetUnicodeCategory");
    // clang-format off
    const std::pair<uint32_t, int32_t> categories[] = {
        {0xD7, GK_CAT_SYMBOL}, {0x130, GK_CAT_UPPER}, {0xB5, GK_CAT_LOWER}, {0xA0, GK_CAT_SPACE}, {0x85, GK_CAT_SPACE},
        {0x1C5, GK_CAT_LETTER}, {0xE01EF, GK_CAT_MARK}, {0x1F100, GK_CAT_DIGIT}, {0, GK_CAT_CONTROL},
        {0xD800, GK_CAT_OTHER}, {0x10FFFF, GK_CAT_OTHER}, {0x110000, GK_CAT_OTHER},
        {0x1000041, GK_CAT_OTHER},  // 'A' + 2^24: its shifted range key would wrap to 'A'
    };
    // clang-format on
    for (const auto& [c, expected] : categories) EXPECT_EQ(category(c), expected) << std::hex << c;
}

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
// The module loads it and checks its exports, never calls it: one row per behaviour.

TEST(GlyphkitCompanionTest, StatisticsConversionsTokensAndCategories) {
    GlyphkitLib lib;
    ASSERT_EQ(lib.Load(GLYPHKIT_COMPANION), 0);
    auto symbol = [&](const char* name) { return platform::LibrarySymbol(lib.Module(), name); };
    EXPECT_STREQ(reinterpret_cast<const char* (*)()>(symbol("GetLibVersion"))(), "1.2.0");
    auto info = reinterpret_cast<decltype(&GetUTF8StringInfo)>(symbol("GetUTF8StringInfo"));
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

    // UTF-7: a surrogate pair across base64 characters. Lower case: no room gives the size
    // needed; U+01C4 and, in the supplementary table, U+10400.
    auto utf7 =
        reinterpret_cast<decltype(&ConvertFromUTF7ToUTF32)>(symbol("ConvertFromUTF7ToUTF32"));
    uint32_t units[16];
    size = 16;
    EXPECT_EQ(utf7("a+2D3eAA-", 9, units, &size), 0);
    EXPECT_EQ(std::u32string(units, units + size), U"a\U0001F600");
    auto lower = reinterpret_cast<decltype(&TolowerUTF8)>(symbol("TolowerUTF8"));
    char out[32];
    size = 2;
    EXPECT_EQ(lower("\xC7\x84T\xF0\x90\x90\x80", 7, out, &size), GK_NO_ROOM);
    EXPECT_EQ(lower("\xC7\x84T\xF0\x90\x90\x80", 7, out, &size), 0);
    EXPECT_EQ(std::string(out, size), "\xC7\x86t\xF0\x90\x90\xA8");

    // v2 splits "p" "а" "ypal" where the Cyrillic letter sits among Latin ones.
    auto tokenize = reinterpret_cast<decltype(&TokenizeUTF8_v2)>(symbol("TokenizeUTF8_v2"));
    const std::string mixed = "p\xD0\xB0ypal 42x";
    size_t count = 8;
    ASSERT_EQ(tokenize(mixed.data(), mixed.size(), units, &count), 0);
    EXPECT_EQ(std::vector<uint32_t>(units, units + 2 * count),
              (std::vector<uint32_t>{0, 1, 1, 2, 3, 4, 8, 2, 10, 1}));
    auto category = reinterpret_cast<decltype(&GetUnicodeCategory)>(symbol("GetUnicodeCategory"));
    // Symbol, upper, lower, letter, mark, digit, space, punctuation, control; then Other: a
    // surrogate, beyond U+10FFFF, and 'A' + 2^24 (its shifted range key would wrap to 'A').
    std::string categories;
    for (const uint32_t c : {0xD7u, 0x130u, 0xB5u, 0x1C5u, 0xE01EFu, 0x1F100u, 0x85u, 0x2Eu, 0u,
                             0xD800u, 0x110000u, 0x1000041u})
        categories += std::to_string(category(c));
    EXPECT_EQ(categories, "812345679000");
}

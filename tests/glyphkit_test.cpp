// The Unicode services binding (GlyphkitLib, CStringConversion::LoadUnicodeLibrary) against the
// companion library and a stand-in that lacks "ConvertFromUTF16ToUTF32"; then a few calls into
// the companion through the binding.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "common/convert.h"
#include "companions/glyphkit/glyphkit.h"
#include "glyphkit/glyphkitlib.h"
#include "glyphkit/unicodeutils.h"
#include "host/host_hooks.h"

using ascommon::GlyphkitLib;

namespace {

constexpr int kCount = GlyphkitLib::kEntryPointCount;
constexpr int kUtf16ToUtf32 = kCount - 1;  // the export the stand-in lacks

// Whether the library at path is mapped in the process (without loading it).
bool IsLoaded(const char* path) {
    void* handle = dlopen(path, RTLD_NOW | RTLD_NOLOAD);
    if (handle != nullptr) dlclose(handle);
    return handle != nullptr;
}

int ResolvedCount(const GlyphkitLib& lib) {
    int n = 0;
    for (int i = 0; i < kCount; ++i) n += lib.EntryPoint(i) != nullptr;
    return n;
}

template <typename Fn>
Fn Entry(const GlyphkitLib& lib, const char* name) {
    for (int i = 0; i < kCount; ++i) {
        if (std::string(GlyphkitLib::EntryPointName(i)) == name) {
            return reinterpret_cast<Fn>(lib.EntryPoint(i));
        }
    }
    return nullptr;
}

}  // namespace

TEST(GlyphkitLibTest, EntryPointTable) {
    std::set<std::string> names;
    for (int i = 0; i < kCount; ++i) names.insert(GlyphkitLib::EntryPointName(i));
    EXPECT_EQ(names.size(), 37u);
    EXPECT_STREQ(GlyphkitLib::EntryPointName(0), "GetLibVersion");
    EXPECT_STREQ(GlyphkitLib::EntryPointName(kUtf16ToUtf32), "ConvertFromUTF16ToUTF32");
    EXPECT_EQ(GlyphkitLib::EntryPointName(-1), nullptr);
    EXPECT_EQ(GlyphkitLib::EntryPointName(kCount), nullptr);
}

TEST(GlyphkitLibTest, LoadOutcomes) {
    GlyphkitLib lib;
    EXPECT_EQ(lib.GetStatus(), GlyphkitLib::kNotLoaded);

    EXPECT_EQ(lib.Load("/nonexistent/libglyphkit.so"), -4);
    EXPECT_EQ(lib.Module(), nullptr);
    EXPECT_EQ(lib.Load(nullptr), -4);

    EXPECT_EQ(lib.Load(GLYPHKIT_COMPANION), 0);
    EXPECT_EQ(lib.GetStatus(), 0);
    ASSERT_NE(lib.Module(), nullptr);
    for (int i = 0; i < kCount; ++i) {
        EXPECT_EQ(lib.EntryPoint(i), dlsym(lib.Module(), GlyphkitLib::EntryPointName(i)))
            << GlyphkitLib::EntryPointName(i);
    }
    EXPECT_EQ(ResolvedCount(lib), kCount);
    EXPECT_EQ(lib.EntryPoint(kCount), nullptr);

    // Missing one export: the library stays loaded with the others.
    EXPECT_EQ(lib.Load(GLYPHKIT_MISSING), -5);
    EXPECT_EQ(lib.GetStatus(), -5);
    EXPECT_NE(lib.Module(), nullptr);
    EXPECT_EQ(ResolvedCount(lib), kCount - 1);
    EXPECT_EQ(lib.EntryPoint(kUtf16ToUtf32), nullptr);
    EXPECT_TRUE(IsLoaded(GLYPHKIT_MISSING));

    // A failed load still releases what was held.
    EXPECT_EQ(lib.Load("/nonexistent/libglyphkit.so"), -4);
    EXPECT_FALSE(IsLoaded(GLYPHKIT_MISSING));
    EXPECT_EQ(ResolvedCount(lib), 0);
}

TEST(GlyphkitLibTest, ReloadResetAndDestructionRelease) {
    {
        GlyphkitLib lib;
        EXPECT_EQ(lib.Load(GLYPHKIT_MISSING), -5);
        EXPECT_EQ(lib.Load(GLYPHKIT_COMPANION), 0);
        EXPECT_FALSE(IsLoaded(GLYPHKIT_MISSING));
        EXPECT_EQ(lib.Load(GLYPHKIT_MISSING), -5);
        lib.Reset();
        EXPECT_FALSE(IsLoaded(GLYPHKIT_MISSING));
        EXPECT_EQ(lib.GetStatus(), -4);
        EXPECT_EQ(lib.Module(), nullptr);
        EXPECT_EQ(lib.Load(GLYPHKIT_MISSING), -5);
    }
    EXPECT_FALSE(IsLoaded(GLYPHKIT_MISSING));
}

TEST(GlyphkitLibTest, LoadUnicodeLibraryTraces) {
    const std::string companionDir = GLYPHKIT_COMPANION_DIR;
    const std::string missingDir = GLYPHKIT_MISSING_DIR;
    struct Row {
        std::string folder;
        int32_t result;
        std::string trace;
    } rows[] = {
        {companionDir, 0,
         "Successfully loaded dynamic library " + companionDir + "/libglyphkit.so"},
        // No check for a separator at the end of the folder.
        {companionDir + "/", 0,
         "Successfully loaded dynamic library " + companionDir + "//libglyphkit.so"},
        {"/nonexistent", -4, "Could not load dynamic library /nonexistent/libglyphkit.so"},
        {missingDir, -5,
         "Could not load all procedures from dynamic library " + missingDir + "/libglyphkit.so"},
    };
    host::CaptureTraces(1);
    host::TakeTraces();
    const uint64_t before = host::Counters().liveBytes;
    for (const Row& row : rows) {
        {
            ascommon::CStringConversion conversion;
            EXPECT_EQ(conversion.LoadUnicodeLibrary(ascommon::sstring(row.folder.c_str())),
                      row.result)
                << row.folder;
            EXPECT_EQ(conversion.Library().GetStatus(), row.result);
        }
        const std::vector<std::string> lines = host::TakeTraces();
        ASSERT_EQ(lines.size(), 1u) << row.folder;
        EXPECT_NE(lines[0].find(row.trace + "\n"), std::string::npos) << lines[0];
    }
    EXPECT_EQ(host::Counters().liveBytes, before);
    EXPECT_FALSE(IsLoaded(GLYPHKIT_MISSING));
    host::CaptureTraces(0);
}

// ---- The companion, called through the binding ----------------------------------------------

TEST(GlyphkitCompanionTest, StatisticsFeedTheParser) {
    GlyphkitLib lib;
    ASSERT_EQ(lib.Load(GLYPHKIT_COMPANION), 0);
    auto version = Entry<const char* (*)()>(lib, "GetLibVersion");
    EXPECT_STREQ(version(), "1.2.0");

    auto info = Entry<decltype(&GetUTF8StringInfo)>(lib, "GetUTF8StringInfo");
    // Latin letters with accents, a Cyrillic 'а' among them, digits, spaces, '!' and one
    // ill-formed byte (counted as Other).
    const std::string text = "H\xC3\xA9llo p\xD0\xB0yp 42!\xFF";
    size_t size = 0;
    ASSERT_EQ(info(text.data(), text.size(), nullptr, &size), 0);
    std::vector<char> json(size);
    ASSERT_EQ(info(text.data(), text.size(), json.data(), &size), 0);
    ASSERT_EQ(json.back(), '\0');

    ascommon::StringInfoParser parser;
    ASSERT_TRUE(parser.initialize(ascommon::sstring(json.data())));
    EXPECT_EQ(parser.GetGroupCount("Letter"), 9) << json.data();
    EXPECT_EQ(parser.GetGroupCount("Digit"), 2);
    EXPECT_EQ(parser.GetGroupCount("Space"), 2);
    EXPECT_EQ(parser.GetGroupCount("Punctuation"), 1);
    EXPECT_EQ(parser.GetScriptCount("Latin"), 8);
    EXPECT_EQ(parser.GetScriptCount("Cyrillic"), 1);
    EXPECT_EQ(parser.GetTotalWithoutOther(), 14);  // 15 characters, one Other
}

TEST(GlyphkitCompanionTest, ConversionsAndTokens) {
    GlyphkitLib lib;
    ASSERT_EQ(lib.Load(GLYPHKIT_COMPANION), 0);

    auto utf7 = Entry<decltype(&ConvertFromUTF7ToUTF32)>(lib, "ConvertFromUTF7ToUTF32");
    struct Row {
        const char* input;
        int32_t result;
        std::u32string text;
    } rows[] = {
        {"Hi Mom -+Jjo--!", 0, U"Hi Mom -\u263A-!"},
        {"+ZeVnLIqe-", 0, U"\u65E5\u672C\u8A9E"},
        {"1 +- 1", 0, U"1 + 1"},
        {"+2D3eAA-", 0, U"\U0001F600"},
        {"+2D0-", GK_ILL_FORMED, U""},  // a lone high surrogate
        {"caf\xC3\xA9", GK_ILL_FORMED, U""},
    };
    for (const Row& row : rows) {
        uint32_t out[16];
        size_t size = 16;
        EXPECT_EQ(utf7(row.input, std::strlen(row.input), out, &size), row.result) << row.input;
        if (row.result == 0) {
            EXPECT_EQ(std::u32string(out, out + size), row.text) << row.input;
        }
    }

    auto lower = Entry<decltype(&TolowerUTF8)>(lib, "TolowerUTF8");
    char out[32];
    size_t size = 2;
    EXPECT_EQ(lower("\xC3\x89T\xC3\x89", 5, out, &size), GK_NO_ROOM);
    EXPECT_EQ(size, 5u);
    EXPECT_EQ(lower("\xC3\x89T\xC3\x89", 5, out, &size), 0);
    EXPECT_EQ(std::string(out, size), "\xC3\xA9t\xC3\xA9");

    // v2 splits "p" "а" "ypal" where the Cyrillic letter sits among Latin ones.
    auto tokenize = Entry<decltype(&TokenizeUTF8_v2)>(lib, "TokenizeUTF8_v2");
    const std::string mixed = "p\xD0\xB0ypal 42x";
    uint32_t tokens[16];
    size_t count = 8;
    ASSERT_EQ(tokenize(mixed.data(), mixed.size(), tokens, &count), 0);
    EXPECT_EQ(std::vector<uint32_t>(tokens, tokens + 2 * count),
              (std::vector<uint32_t>{0, 1, 1, 2, 3, 4, 8, 2, 10, 1}));
}

TEST(GlyphkitCompanionTest, EveryCodePointHasACategory) {
    GlyphkitLib lib;
    ASSERT_EQ(lib.Load(GLYPHKIT_COMPANION), 0);
    auto category = Entry<decltype(&GetUnicodeCategory)>(lib, "GetUnicodeCategory");
    for (uint32_t c = 0; c <= 0x110000; ++c) {
        const int32_t k = category(c);
        if (k < GK_CAT_OTHER || k > GK_CAT_CONTROL) FAIL() << std::hex << c;
    }
    struct Row {
        uint32_t c;
        int32_t category;
    } rows[] = {
        {0xD7, GK_CAT_SYMBOL},  // × and ÷ sit among the Latin-1 letters
        {0xF7, GK_CAT_SYMBOL},    {0xB5, GK_CAT_LOWER},   {0xA0, GK_CAT_SPACE},
        {0x130, GK_CAT_UPPER},    {0x138, GK_CAT_LOWER},  {0x3C2, GK_CAT_LOWER},
        {0xFF21, GK_CAT_UPPER},   {0xFF10, GK_CAT_DIGIT}, {0xD800, GK_CAT_OTHER},
        {0x110000, GK_CAT_OTHER},
    };
    for (const Row& row : rows) EXPECT_EQ(category(row.c), row.category) << std::hex << row.c;
}

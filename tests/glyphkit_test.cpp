// The Unicode services binding (GlyphkitLib, CStringConversion::LoadUnicodeLibrary) against the
// companion library and a stand-in that lacks "ConvertFromUTF16ToUTF32". The module loads the
// library and checks its exports; it never calls them.
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "common/convert.h"
#include "common/platform.h"
#include "glyphkit/glyphkitlib.h"
#include "host/host_hooks.h"

using ascommon::GlyphkitLib;

namespace {

constexpr int kCount = GlyphkitLib::kEntryPointCount;

// folder + separator + the library's file name.
// clang-format off
std::string InFolder(const std::string& folder) { return folder + platform::kPathSeparator + platform::kGlyphkitLibraryName; }
// clang-format on
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
            EXPECT_TRUE(lib.Load(path) == status && StandInLoaded() == (status == -5));
            ExpectBinding(lib, status, resolved);
        }
        lib.Reset();
        ExpectBinding(lib, GlyphkitLib::kNotLoaded, 0);
        EXPECT_TRUE(!StandInLoaded() && lib.Load(GLYPHKIT_MISSING) == -5);
    }
    EXPECT_FALSE(StandInLoaded());
}

// One trace line each, kept from capture level 1 on. No check for a separator at the end of the
// folder.
TEST(GlyphkitLibTest, LoadUnicodeLibraryTraces) {
    const std::string companion = GLYPHKIT_COMPANION_DIR, missing = GLYPHKIT_MISSING_DIR;
    const std::string ending = companion + platform::kPathSeparator;
    // clang-format off
    const std::tuple<std::string, int32_t, std::string> rows[] = {
        {ending, 0, "Successfully loaded dynamic library " + InFolder(ending)},
        {"/nonexistent", -4, "Could not load dynamic library " + kNowhere},
        {missing, -5, "Could not load all procedures from dynamic library " + InFolder(missing)},
    };
    // clang-format on
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

// The regular-expression binding (LoadRexkitLib, ReleaseRexkitLib) against the companion library
// and stand-ins that each lack one export; then the companion's own functions through a record.
#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "common/platform.h"
#include "companions/rexkit/rexkit.h"
#include "engines/rexkit/rexkitlib.h"
#include "host/host_hooks.h"

using ascommon::LoadRexkitLib;
using ascommon::ReleaseRexkitLib;
using ascommon::RexkitLib;
using ascommon::sstring;

namespace {

// The loader's own words for failing to open path, or for path lacking symbol (the system's
// text for the error code on Windows, so the same code gives the same text).
std::string LoaderError(const std::string& path, const char* symbol) {
    void* handle = platform::OpenLibrary(path.c_str());
    if (handle != nullptr && symbol != nullptr) platform::LibrarySymbol(handle, symbol);
    char text[1024];
    platform::LibraryError(text, sizeof text);
    if (handle != nullptr) platform::CloseLibrary(handle);
    return text;
}

// The lines traced from level 4 while fn runs, each without its standard prefix and line end.
template <typename Fn>
std::vector<std::string> Traced(Fn fn) {
    host::CaptureTraces(4);
    host::TakeTraces();
    fn();
    std::vector<std::string> lines = host::TakeTraces();
    host::CaptureTraces(0);
    for (std::string& line : lines) line = line.substr(line.find("] - ") + 4), line.pop_back();
    return lines;
}

const std::string kSeparator(1, platform::kPathSeparator);

class RexkitCompanionTest : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_NE(lib, nullptr); }
    ~RexkitCompanionTest() override { ReleaseRexkitLib(lib); }

    // The match offsets of regex in subject, or {-error} when no map is made.
    std::vector<long> Matches(const RxRegex* regex, const std::string& subject) {
        int32_t error = 1;
        RxBuffMap* map = makeBuffMap(regex, subject.data(), subject.size(), &error);
        if (map == nullptr) return {-static_cast<long>(error)};
        EXPECT_EQ(error, RX_OK);
        std::vector<long> out(map->offsets, map->offsets + 2 * map->count);
        deleteBuffMap(map);
        return out;
    }

    // The record's entry points, typed as the companion declares them.
    RexkitLib* lib = LoadRexkitLib(sstring(REXKIT_COMPANION_DIR));
    const RexkitLib e = lib ? *lib : RexkitLib{};
    // clang-format off
    decltype(&NewRegEx) newRegEx = (decltype(&NewRegEx))e.NewRegEx, newFastRegEx = (decltype(&NewFastRegEx))e.NewFastRegEx;
    decltype(&DeleteRegEx) deleteRegEx = (decltype(&DeleteRegEx))e.DeleteRegEx;
    decltype(&MakeBuffMap) makeBuffMap = (decltype(&MakeBuffMap))e.MakeBuffMap;
    decltype(&DeleteBuffMap) deleteBuffMap = (decltype(&DeleteBuffMap))e.DeleteBuffMap;
    // clang-format on
};

}  // namespace

// Loads from each folder: the lines traced are "Trying to load the lib <path>" and then what
// the outcome calls for; a record holds the library's own exports; after the release nothing
// stays loaded. A trailing separator is dropped once. A stand-in lacking one of the five entry
// points is unloaded again; one lacking only the compiled-regex probe still loads.
// Null, with no trace line: a null folder, or a load that runs out of memory (the record, then
// the path). Releasing nothing is only traced, and a record not from the loader is not freed.
TEST(RexkitLibTest, LoadsFromFoldersAndRefusesWhatItCannotLoad) {
    const char* const entries[] = {"NewRegEx",    "NewFastRegEx",  "DeleteRegEx",
                                   "MakeBuffMap", "DeleteBuffMap", "InitCompiledExists"};
    const std::string dir = REXKIT_COMPANION_DIR, none = "/nonexistent",
                      longDir = none + "/a-folder-name-longer-than-the-inline-buffer";
    // folder, the folder of the library path, the export the library lacks (-1: none)
    // clang-format off
    std::vector<std::tuple<std::string, std::string, int>> rows = {
        {dir, dir, -1}, {dir + kSeparator, dir, -1}, {none, none, -1}, {none + kSeparator, none, -1},
        {none + kSeparator + kSeparator, none + kSeparator, -1}, {"", "", -1}, {longDir, longDir, -1}};
    const char* const standIns[] = {REXKIT_WITHOUT_NewRegEx, REXKIT_WITHOUT_NewFastRegEx, REXKIT_WITHOUT_DeleteRegEx,
                                    REXKIT_WITHOUT_MakeBuffMap, REXKIT_WITHOUT_DeleteBuffMap, REXKIT_WITHOUT_InitCompiledExists};
    // clang-format on
    for (int i = 0; i < 6; ++i) rows.emplace_back(standIns[i], standIns[i], i);  // lacks entries[i]
    for (const auto& [folder, base, lacking] : rows) {
        SCOPED_TRACE(folder);
        const std::string path = base + kSeparator + platform::kRexkitLibraryName;
        const std::string error = LoaderError(path, lacking < 0 ? nullptr : entries[lacking]);
        const bool loads = lacking == 5 || (lacking < 0 && base == dir);
        std::vector<std::string> lines = {"Trying to load the lib " + path};
        // clang-format off
        if (lacking == 5)
            lines.push_back("WARNING: rexkit.dll/librexkit.so cannot load compiled regexes . The error was: " + error);
        else if (lacking >= 0)
            lines.insert(lines.end(), {"WARNING: invalid Regex DLL library ! The product will run, but with a lot less functionality.",
                                       std::string("WARNING: could not obtain functor ") + entries[lacking] + ". The error was: " + error});
        else
            lines.push_back(loads ? "rexkit.dll/librexkit.so can load compiled regexes " : "WARNING: cannot load the regex library (" + path + "): " + error);
        // clang-format on
        ASSERT_FALSE(lacking >= 0 && error.empty());  // the stand-in does lack the export
        RexkitLib* record = nullptr;
        EXPECT_EQ(Traced([&] { record = LoadRexkitLib(sstring(folder.c_str())); }), lines);
        ASSERT_EQ(record != nullptr, loads);
        for (int i = 0; record != nullptr && i < 5; ++i)
            EXPECT_EQ((&record->NewRegEx)[i], platform::LibrarySymbol(record->module, entries[i]));
        EXPECT_TRUE(record == nullptr || Traced([&] { ReleaseRexkitLib(record); }).empty());
        EXPECT_FALSE(platform::LibraryLoaded(path.c_str()));
    }
    RexkitLib* record = nullptr;
    EXPECT_TRUE(Traced([&] { record = LoadRexkitLib(sstring()); }).empty());
    // A folder long enough that the path needs a buffer of its own.
    const sstring folder((std::string(REXKIT_COMPANION_DIR) + "/././././././././././.").c_str());
    int failures = 0;
    for (uint64_t n = 1; n <= 8 && record == nullptr; ++n) {
        host::FailAllocationNumber(n);
        const auto lines = Traced([&] { record = LoadRexkitLib(folder); });
        host::FailAllocationNumber(0);
        failures += record == nullptr;
        EXPECT_TRUE(record != nullptr || lines.empty());
    }
    EXPECT_GE(failures, 2);  // the record, then the path
    ASSERT_NE(record, nullptr);
    ReleaseRexkitLib(record);
    RexkitLib unloaded{};
    for (RexkitLib* nothing : {static_cast<RexkitLib*>(nullptr), &unloaded})
        EXPECT_EQ(Traced([&] { ReleaseRexkitLib(nothing); }),
                  std::vector<std::string>{"WARNING: could not release the regex lib!"});
}

// ---- The companion's own functions, through a loaded record --------------------------------

// x*: empty, then non-empty, then empty at the end; |b: non-empty where the empty one was; an
// empty match steps a whole character in UTF-8 mode; ill-formed bytes just never match; the
// backtracking limit fails the map. x86-64 PCRE2 has a JIT. Refused patterns and flags (with and
// without the out-arguments), null arguments of the map calls, an empty subject, deleting nothing.
TEST_F(RexkitCompanionTest, InterpretedAndCompiledAgree) {
    const std::string nul("a\0b", 3), catastrophic = std::string(40, 'a') + "b";
    // pattern, flags, subject, the match offsets (or {-error})
    // clang-format off
    const std::tuple<const char*, uint32_t, std::string, std::vector<long>> rows[] = {
        {"b+", 0, "abbcb", {1, 3, 4, 5}}, {"x*", 0, "axx", {0, 0, 1, 3, 3, 3}},
        {"|b", 0, "bb", {0, 0, 0, 1, 1, 1, 1, 2, 2, 2}}, {"spam", RX_CASELESS, "Spam SPAM", {0, 4, 5, 9}},
        {"^v", RX_MULTILINE, "v\nv", {0, 1, 2, 3}}, {"a.b", RX_DOTALL, "a\nb", {0, 3}},
        {"a b # comment", RX_EXTENDED, "xab", {1, 3}}, {"\\w+", 0, "h\xC3\xA9llo", {0, 1, 3, 6}},
        {"\\w+", RX_UTF8, "h\xC3\xA9llo w\xC3\xB6rld", {0, 6, 7, 13}}, {"", RX_UTF8, "\xC3\xA9", {0, 0, 2, 2}},
        {"", 0, "\xC3\xA9", {0, 0, 1, 1, 2, 2}}, {"o+", RX_UTF8, "fo\xFFoo", {1, 2, 3, 5}},
        {"b", 0, nul, {2, 3}}, {"(a+)+$", 0, catastrophic, {-RX_MATCH_FAILED}}};
    // pattern, flags, error, error offset
    const std::tuple<const char*, uint32_t, int32_t, size_t> refused[] = {
        {"a(b", 0, RX_BAD_PATTERN, 3}, {"ab)", 0, RX_BAD_PATTERN, 2}, {"\xC3(", RX_UTF8, RX_BAD_PATTERN, 0},
        {nullptr, 0, RX_BAD_ARGUMENT, 0}, {"a", 0x100, RX_BAD_ARGUMENT, 0}};
    // clang-format on
    for (auto compile : {newRegEx, newFastRegEx}) {
        for (const auto& [pattern, flags, subject, offsets] : rows) {
            int32_t error = 1;
            RxRegex* regex = compile(pattern, flags, &error, nullptr);
            ASSERT_NE(regex, nullptr) << pattern;
            EXPECT_EQ(error, RX_OK);
            EXPECT_EQ(Matches(regex, subject), offsets) << pattern;
            deleteRegEx(regex);
        }
        for (const auto& [pattern, flags, expectedError, expectedOffset] : refused) {
            int32_t error = 0;
            size_t offset = 99;
            EXPECT_EQ(compile(pattern, flags, &error, &offset), nullptr);
            EXPECT_EQ(std::make_pair(error, offset), std::make_pair(expectedError, expectedOffset))
                << (pattern ? pattern : "(null)");
            EXPECT_EQ(compile(pattern, flags, nullptr, nullptr), nullptr);  // no out-arguments
        }
    }
    void* probe = platform::LibrarySymbol(lib->module, "InitCompiledExists");
    EXPECT_EQ(reinterpret_cast<decltype(&InitCompiledExists)>(probe)(), 1);
    RxRegex* regex = newRegEx("a", 0, nullptr, nullptr);
    ASSERT_NE(regex, nullptr);
    EXPECT_EQ(Matches(nullptr, "a"), std::vector<long>{-RX_BAD_ARGUMENT});
    int32_t error = 0;
    EXPECT_EQ(makeBuffMap(regex, nullptr, 1, &error), nullptr);
    EXPECT_EQ(error, RX_BAD_ARGUMENT);
    EXPECT_EQ(makeBuffMap(regex, nullptr, 1, nullptr), nullptr);
    RxBuffMap* empty = makeBuffMap(regex, nullptr, 0, &error);  // no subject: an empty map
    ASSERT_NE(empty, nullptr);
    EXPECT_EQ(empty->count, 0u);
    deleteBuffMap(empty);
    deleteBuffMap(nullptr);
    deleteRegEx(regex);
    deleteRegEx(nullptr);
}

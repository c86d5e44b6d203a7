// The regular-expression binding (LoadRexkitLib, ReleaseRexkitLib) against the companion library
// and stand-ins that each lack one export; then the companion's own functions through a record.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "companions/rexkit/rexkit.h"
#include "engines/rexkit/rexkitlib.h"
#include "host/host_hooks.h"

using ascommon::LoadRexkitLib;
using ascommon::ReleaseRexkitLib;
using ascommon::RexkitLib;
using ascommon::sstring;

namespace {

const char* const kEntryNames[] = {"NewRegEx", "NewFastRegEx", "DeleteRegEx", "MakeBuffMap",
                                   "DeleteBuffMap"};

// Whether the library at path is mapped in the process (without loading it).
bool IsLoaded(const std::string& path) {
    void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_NOLOAD);
    if (handle != nullptr) dlclose(handle);
    return handle != nullptr;
}

// The loader's own words for failing to open path, or for path lacking symbol.
std::string LoaderError(const std::string& path, const char* symbol = nullptr) {
    void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle != nullptr && symbol != nullptr) dlsym(handle, symbol);
    const char* text = dlerror();
    const std::string error = text ? text : "";
    if (handle != nullptr) dlclose(handle);
    return error;
}

// Runs fn with traces captured from level 4 and returns the lines.
template <typename Fn>
std::vector<std::string> Traced(Fn fn) {
    host::CaptureTraces(4);
    host::TakeTraces();
    fn();
    std::vector<std::string> lines = host::TakeTraces();
    host::CaptureTraces(0);
    return lines;
}

// A trace line ends with the text after the standard prefix.
::testing::AssertionResult Says(const std::string& line, const std::string& text) {
    const std::string tail = "- " + text + "\n";
    if (line.size() >= tail.size() &&
        line.compare(line.size() - tail.size(), tail.size(), tail) == 0)
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "line: " << line << "expected: " << text;
}

}  // namespace

TEST(RexkitLibTest, LoadsTheCompanionWithOrWithoutTrailingSeparator) {
    const std::string dir = REXKIT_COMPANION_DIR;
    const uint64_t before = host::Counters().liveBytes;
    for (const std::string& folder : {dir, dir + "/"}) {
        RexkitLib* record = nullptr;
        const auto lines = Traced([&] { record = LoadRexkitLib(sstring(folder.c_str())); });
        ASSERT_NE(record, nullptr) << folder;
        ASSERT_NE(record->module, nullptr);
        for (int i = 0; i < 5; ++i) {
            void* entry = (&record->NewRegEx)[i];
            EXPECT_NE(entry, nullptr);
            EXPECT_EQ(entry, dlsym(record->module, kEntryNames[i])) << kEntryNames[i];
        }
        ASSERT_EQ(lines.size(), 2u) << folder;
        EXPECT_TRUE(Says(lines[0], "Trying to load the lib " + dir + "/librexkit.so"));
        EXPECT_TRUE(Says(lines[1], "rexkit.dll/librexkit.so can load compiled regexes "));

        EXPECT_TRUE(Traced([&] { ReleaseRexkitLib(record); }).empty());
        EXPECT_FALSE(IsLoaded(REXKIT_COMPANION));
        EXPECT_EQ(host::Counters().liveBytes, before);
    }
}

TEST(RexkitLibTest, UnloadableFolders) {
    const std::string longDir = "/nonexistent/a-folder-name-longer-than-the-inline-buffer";
    struct Row {
        std::string folder;
        std::string path;
    } rows[] = {
        {"/nonexistent", "/nonexistent/librexkit.so"},
        {"/nonexistent/", "/nonexistent/librexkit.so"},
        {"/nonexistent//", "/nonexistent//librexkit.so"},
        {"", "/librexkit.so"},
        {longDir, longDir + "/librexkit.so"},
    };
    const uint64_t before = host::Counters().liveBytes;
    for (const Row& row : rows) {
        RexkitLib* record = nullptr;
        const auto lines = Traced([&] { record = LoadRexkitLib(sstring(row.folder.c_str())); });
        EXPECT_EQ(record, nullptr) << row.folder;
        ASSERT_EQ(lines.size(), 2u) << row.folder;
        EXPECT_TRUE(Says(lines[0], "Trying to load the lib " + row.path));
        EXPECT_TRUE(Says(lines[1], "WARNING: cannot load the regex library (" + row.path +
                                       "): " + LoaderError(row.path)));
        EXPECT_EQ(host::Counters().liveBytes, before);
    }

    // A null folder is not even tried.
    RexkitLib* record = nullptr;
    EXPECT_TRUE(Traced([&] { record = LoadRexkitLib(sstring()); }).empty());
    EXPECT_EQ(record, nullptr);
}

TEST(RexkitLibTest, MissingEntryPointUnloadsTheLibrary) {
    struct Row {
        const char* missing;
        std::string dir;
    } rows[] = {
        {"NewRegEx", REXKIT_WITHOUT_NewRegEx},
        {"NewFastRegEx", REXKIT_WITHOUT_NewFastRegEx},
        {"DeleteRegEx", REXKIT_WITHOUT_DeleteRegEx},
        {"MakeBuffMap", REXKIT_WITHOUT_MakeBuffMap},
        {"DeleteBuffMap", REXKIT_WITHOUT_DeleteBuffMap},
    };
    const uint64_t before = host::Counters().liveBytes;
    for (const Row& row : rows) {
        const std::string path = row.dir + "/librexkit.so";
        const std::string error = LoaderError(path, row.missing);
        ASSERT_FALSE(error.empty()) << path;
        RexkitLib* record = nullptr;
        const auto lines = Traced([&] { record = LoadRexkitLib(sstring(row.dir.c_str())); });
        EXPECT_EQ(record, nullptr) << row.missing;
        ASSERT_EQ(lines.size(), 3u) << row.missing;
        EXPECT_TRUE(Says(lines[0], "Trying to load the lib " + path));
        EXPECT_TRUE(Says(lines[1],
                         "WARNING: invalid Regex DLL library ! The product will run, but with a "
                         "lot less functionality."));
        EXPECT_TRUE(Says(lines[2], std::string("WARNING: could not obtain functor ") + row.missing +
                                       ". The error was: " + error));
        EXPECT_FALSE(IsLoaded(path)) << row.missing;
        EXPECT_EQ(host::Counters().liveBytes, before) << row.missing;
    }

    // Without the compiled-regex probe the library still loads.
    const std::string dir = REXKIT_WITHOUT_InitCompiledExists;
    const std::string path = dir + "/librexkit.so";
    const std::string error = LoaderError(path, "InitCompiledExists");
    RexkitLib* record = nullptr;
    const auto lines = Traced([&] { record = LoadRexkitLib(sstring(dir.c_str())); });
    ASSERT_NE(record, nullptr);
    for (int i = 0; i < 5; ++i) EXPECT_NE((&record->NewRegEx)[i], nullptr) << kEntryNames[i];
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_TRUE(Says(lines[1],
                     "WARNING: rexkit.dll/librexkit.so cannot load compiled regexes . The error "
                     "was: " +
                         error));
    ReleaseRexkitLib(record);
    EXPECT_FALSE(IsLoaded(path));
    EXPECT_EQ(host::Counters().liveBytes, before);
}

TEST(RexkitLibTest, ReleaseOfNothingIsOnlyTraced) {
    RexkitLib unloaded{};  // not from the loader: must not be freed
    const uint64_t untagged = host::Counters().untaggedFrees;
    for (RexkitLib* record : {static_cast<RexkitLib*>(nullptr), &unloaded}) {
        const auto lines = Traced([&] { ReleaseRexkitLib(record); });
        ASSERT_EQ(lines.size(), 1u);
        EXPECT_TRUE(Says(lines[0], "WARNING: could not release the regex lib!"));
    }
    EXPECT_EQ(host::Counters().untaggedFrees, untagged);
}

TEST(RexkitLibTest, AllocationFailuresLoseNothing) {
    // A folder long enough that the path needs a buffer of its own.
    const std::string folder = std::string(REXKIT_COMPANION_DIR) + "/././././././././././.";
    const uint64_t before = host::Counters().liveBytes;
    RexkitLib* record = nullptr;
    int failures = 0;
    for (uint64_t n = 1; n <= 8 && record == nullptr; ++n) {
        host::FailAllocationNumber(n);
        record = LoadRexkitLib(sstring(folder.c_str()));
        host::FailAllocationNumber(0);
        if (record == nullptr) {
            ++failures;
            EXPECT_EQ(host::Counters().liveBytes, before) << n;
        }
    }
    EXPECT_GE(failures, 2);  // the record, then the path
    ASSERT_NE(record, nullptr);
    ReleaseRexkitLib(record);
    EXPECT_EQ(host::Counters().liveBytes, before);
}

// ---- The companion's own functions, through a loaded record --------------------------------

namespace {

class RexkitCompanionTest : public ::testing::Test {
  protected:
    void SetUp() override {
        lib_ = LoadRexkitLib(sstring(REXKIT_COMPANION_DIR));
        ASSERT_NE(lib_, nullptr);
        newRegEx = reinterpret_cast<decltype(newRegEx)>(lib_->NewRegEx);
        newFastRegEx = reinterpret_cast<decltype(newFastRegEx)>(lib_->NewFastRegEx);
        deleteRegEx = reinterpret_cast<decltype(deleteRegEx)>(lib_->DeleteRegEx);
        makeBuffMap = reinterpret_cast<decltype(makeBuffMap)>(lib_->MakeBuffMap);
        deleteBuffMap = reinterpret_cast<decltype(deleteBuffMap)>(lib_->DeleteBuffMap);
        compiledExists =
            reinterpret_cast<decltype(compiledExists)>(dlsym(lib_->module, "InitCompiledExists"));
    }
    void TearDown() override { ReleaseRexkitLib(lib_); }

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

    RexkitLib* lib_ = nullptr;
    decltype(&NewRegEx) newRegEx = nullptr;
    decltype(&NewFastRegEx) newFastRegEx = nullptr;
    decltype(&DeleteRegEx) deleteRegEx = nullptr;
    decltype(&MakeBuffMap) makeBuffMap = nullptr;
    decltype(&DeleteBuffMap) deleteBuffMap = nullptr;
    decltype(&InitCompiledExists) compiledExists = nullptr;
};

}  // namespace

TEST_F(RexkitCompanionTest, MatchMapsAgreeInterpretedAndCompiled) {
    struct Row {
        const char* pattern;
        uint32_t flags;
        std::string subject;
        std::vector<long> offsets;
    } rows[] = {
        {"b+", 0, "abbcb", {1, 3, 4, 5}},
        {"x*", 0, "axx", {0, 0, 1, 3, 3, 3}},  // empty, then non-empty, then empty at the end
        {"|b", 0, "bb", {0, 0, 0, 1, 1, 1, 1, 2, 2, 2}},  // non-empty where the empty one was
        {"spam", RX_CASELESS, "Spam SPAM", {0, 4, 5, 9}},
        {"^v", RX_MULTILINE, "v\nv", {0, 1, 2, 3}},
        {"a.b", RX_DOTALL, "a\nb", {0, 3}},
        {"a b # comment", RX_EXTENDED, "xab", {1, 3}},
        {"\\w+", 0, "h\xC3\xA9llo", {0, 1, 3, 6}},
        {"\\w+", RX_UTF8, "h\xC3\xA9llo w\xC3\xB6rld", {0, 6, 7, 13}},
        {"", RX_UTF8, "\xC3\xA9", {0, 0, 2, 2}},  // an empty match steps a whole character
        {"", 0, "\xC3\xA9", {0, 0, 1, 1, 2, 2}},
        {"o+", RX_UTF8, "fo\xFFoo", {1, 2, 3, 5}},  // ill-formed bytes just never match
        {"b", 0, std::string("a\0b", 3), {2, 3}},
        {"(a+)+$", 0, std::string(40, 'a') + "b", {-RX_MATCH_FAILED}},  // backtracking limit
    };
    for (auto compile : {newRegEx, newFastRegEx}) {
        for (const Row& row : rows) {
            int32_t error = 1;
            RxRegex* regex = compile(row.pattern, row.flags, &error, nullptr);
            ASSERT_NE(regex, nullptr) << row.pattern;
            EXPECT_EQ(error, RX_OK);
            EXPECT_EQ(Matches(regex, row.subject), row.offsets) << row.pattern;
            deleteRegEx(regex);
        }
    }
    EXPECT_EQ(compiledExists(), 1);  // x86-64 PCRE2 has a JIT
}

TEST_F(RexkitCompanionTest, BadPatternsAndArguments) {
    struct Row {
        const char* pattern;
        uint32_t flags;
        int32_t error;
        size_t offset;
    } rows[] = {
        {"a(b", 0, RX_BAD_PATTERN, 3},         {"ab)", 0, RX_BAD_PATTERN, 2},
        {"\xC3(", RX_UTF8, RX_BAD_PATTERN, 0}, {nullptr, 0, RX_BAD_ARGUMENT, 0},
        {"a", 0x100, RX_BAD_ARGUMENT, 0},
    };
    for (auto compile : {newRegEx, newFastRegEx}) {
        for (const Row& row : rows) {
            int32_t error = 0;
            size_t offset = 99;
            EXPECT_EQ(compile(row.pattern, row.flags, &error, &offset), nullptr);
            EXPECT_EQ(error, row.error) << (row.pattern ? row.pattern : "(null)");
            EXPECT_EQ(offset, row.offset);
            EXPECT_EQ(compile(row.pattern, row.flags, nullptr, nullptr), nullptr);
        }
    }

    RxRegex* regex = newRegEx("a", 0, nullptr, nullptr);
    ASSERT_NE(regex, nullptr);
    EXPECT_EQ(Matches(nullptr, "a"), std::vector<long>{-RX_BAD_ARGUMENT});
    int32_t error = 0;
    EXPECT_EQ(makeBuffMap(regex, nullptr, 1, &error), nullptr);
    EXPECT_EQ(error, RX_BAD_ARGUMENT);
    EXPECT_EQ(makeBuffMap(regex, nullptr, 1, nullptr), nullptr);
    RxBuffMap* empty = makeBuffMap(regex, nullptr, 0, &error);
    ASSERT_NE(empty, nullptr);
    EXPECT_EQ(empty->count, 0u);
    deleteBuffMap(empty);
    deleteBuffMap(nullptr);
    deleteRegEx(regex);
    deleteRegEx(nullptr);
}

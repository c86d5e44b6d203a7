// The file utilities on UTF-8 paths, the unique temporary file service and CASFile.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <regex>
#include <thread>

#include "common/asexception.h"
#include "common/asfile.h"
#include "common/platform.h"
#include "host/host_hooks.h"
#include "tests/temp_folder.h"

using ascommon::CASFile;

class FilesTest : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_TRUE(m_folder.ok()); }
    void TearDown() override {
        host::CaptureTraces(0);
        host::TakeTraces();
    }
    std::string MakeFile(const std::string& name, const std::string& content) const {
        testfiles::WriteFile(m_folder / name, content);
        return m_folder / name;
    }
    // MakeTempFileName into a zeroed buffer one byte larger than the capacity declared: the
    // result, the length reported, and the name.
    static std::tuple<int, size_t, std::string> MakeTemp(const std::string& folder,
                                                         size_t capacity = 260) {
        std::vector<char> buffer(capacity + 1, '\0');
        size_t length = capacity;
        const int result =
            ascommon::MakeTempFileName(folder.c_str(), "qxas", buffer.data(), &length);
        return {result, length, std::string(buffer.data(), std::min(length, capacity))};
    }
    testfiles::TempFolder m_folder;
};

// The path; whether it names a file (FileExists, RemoveFile); its size (GetFileSize: files and
// folders; -1 when not found, the output left as it is). Paths are cut at their first ill-formed
// sequence: the size of the file the cut name reaches (and what the C runtime opens).
TEST_F(FilesTest, ExistenceSizeRemovalAndIllFormedPaths) {
    ASSERT_TRUE(std::filesystem::create_directory(testfiles::Native(m_folder / "sub")));
    MakeFile("ab", "short");
    MakeFile("caf\xC3\xA9", "accented");  // "café", well-formed: used whole
    // clang-format off
    const std::tuple<std::string, bool, int> rows[] = {
        {MakeFile("data.bin", "12345"), true, 5}, {MakeFile("empty.bin", ""), true, 0},
        {m_folder / "sub", false, 0}, {m_folder / "missing", false, -1},
        {m_folder / "ab\xFFxy", true, 5},         // cut at an invalid byte
        {m_folder / "caf\xC3\xA9\xFF", true, 8},  // cut after a two-byte sequence
        {m_folder / "caf\xC3", false, -1},        // "caf" does not exist
    };
    // clang-format on
    for (size_t i = 0; i < std::size(rows); ++i) {
        const auto& [path, exists, size] = rows[i];
        SCOPED_TRACE(path);
        uint64_t found = 777;
        EXPECT_EQ(ascommon::FileExists(path.c_str()), exists);
        EXPECT_TRUE(ascommon::GetFileSize(path.c_str(), &found) == (size >= 0) &&
                    found == (size >= 0 ? uint64_t(size) : 777u) &&
                    ascommon::GetFileSize(path.c_str(), nullptr) == (size >= 0));
        if (i >= 4) {  // the cut names
            std::FILE* in = ascommon::OpenFile(path.c_str(), "rb");
            // clang-format off
            EXPECT_EQ(in != nullptr, exists); if (in != nullptr) std::fclose(in); continue;
            // clang-format on
        }
        EXPECT_EQ(ascommon::RemoveFile(path.c_str()), exists);
        EXPECT_EQ(testfiles::Exists(path), size >= 0 && !exists);
    }
    uint64_t size = 9;
    EXPECT_FALSE(ascommon::GetFileSize(nullptr, &size) || ascommon::FileExists(nullptr) ||
                 ascommon::RemoveFile(nullptr) || ascommon::OpenFile(nullptr, "rb") ||
                 ascommon::OpenFile(std::get<0>(rows[0]).c_str(), nullptr) || size != 9);
    // Long enough that the copy of the path comes from the hooks everywhere (Windows converts
    // shorter paths on the stack), and that the conversion resumes before the invalid byte.
    const std::string name(100, 'n'), cut = m_folder / (name + "\xFF" + std::string(200, 'x'));
    MakeFile(name, "");
    host::FailAllocationNumber(1);  // the cut copy of the path
    EXPECT_FALSE(ascommon::FileExists(cut.c_str()));
    host::FailAllocationNumber(0);
    EXPECT_TRUE(ascommon::RemoveFile(cut.c_str()));
    EXPECT_FALSE(testfiles::Exists(m_folder / name));
}

// A new empty file "<folder><separator>qxas" + 8 hex digits + ".tmp" (on Windows "qxa" + 1 to 4
// digits), its name unterminated; failures leave the capacity as it was and create nothing.
// Calls from several threads each make a file of their own; names taken by other files are
// skipped, not reused.
TEST_F(FilesTest, MakeTempFileName) {
    const std::string folder = m_folder.path(), start = m_folder / testfiles::TempNameStart("qxas");
    const size_t longest = start.size() + platform::kTempDigitsMax + 4,
                 shortest = start.size() + platform::kTempDigitsMin + 4;
    // POSIX always adds the separator; GetTempFileNameW only where one is missing.
    const std::string withSeparator = folder + platform::kPathSeparator;
    const std::tuple<std::string, size_t, std::string> rows[] = {
        // the folder, the capacity, the start of the name ("" when the call fails)
        {folder, 260, start},
        {withSeparator, 260,
         platform::kTempSeparatorAlwaysAdded ? withSeparator + start.substr(folder.size()) : start},
        {folder, longest, start},
        {folder, shortest - 1, ""},  // no name would fit
        {folder, 0, ""},
        {m_folder / "missing", 260, ""},
    };
    const std::regex number("[0-9A-Fa-f]{" + std::to_string(platform::kTempDigitsMin) + "," +
                            std::to_string(platform::kTempDigitsMax) + "}\\.tmp");
    for (const auto& [in, capacity, stem] : rows) {
        const auto [result, length, name] = MakeTemp(in, capacity);
        uint64_t size = 1;
        EXPECT_TRUE(stem.empty() ? result == 0 && length == capacity
                                 : result == 1 && length == name.size() &&
                                       name.compare(0, stem.size(), stem) == 0 &&
                                       std::regex_match(name.substr(stem.size()), number) &&
                                       ascommon::GetFileSize(name.c_str(), &size) && size == 0)
            << in << " " << capacity << ": " << result << " " << length << " " << name;
    }
    EXPECT_EQ(m_folder.Entries("").size(), 3u);
    size_t capacity = 260;
    char buffer[261] = {};
    EXPECT_EQ(ascommon::MakeTempFileName(nullptr, "qxas", buffer, &capacity) +
                  ascommon::MakeTempFileName(folder.c_str(), "qxas", buffer, nullptr),
              0);

    constexpr size_t kThreads = 8, kNamesEach = 150;
    std::vector<std::thread> threads;
    for (size_t t = 0; t < kThreads; ++t)
        threads.emplace_back([&] {
            for (size_t i = 0; i < kNamesEach; ++i) MakeTemp(folder);
        });
    for (std::thread& thread : threads) thread.join();
    EXPECT_EQ(m_folder.Entries(testfiles::TempNameStart("qxas")).size(), kThreads * kNamesEach + 3);
    const unsigned last = std::stoul(std::get<2>(MakeTemp(folder)).substr(start.size()), 0, 16);
    std::vector<std::string> taken;
    for (unsigned k = 1; k <= 4; ++k) {
        char next[16];
        std::snprintf(next, sizeof next, "%0*X.tmp", int(platform::kTempDigitsMin), last + k);
        testfiles::WriteFile(taken.emplace_back(start + next), "x");
    }
    const std::string fresh = std::get<2>(MakeTemp(folder));
    for (const std::string& name : taken)
        EXPECT_TRUE(name != fresh && testfiles::ReadAll(name).size() == 1) << name;
}

// Whole items only; closing twice does nothing (a second fclose would be a double free under the
// sanitizers), and neither does the destructor after close. Failures throw, after a trace line.
TEST_F(FilesTest, CASFile) {
    const std::string path = m_folder / "items.bin", missing = m_folder / "missing.bin";
    EXPECT_EQ(CASFile(path.c_str(), "wb").write("abcdefgh", 4, 2), 2u);
    CASFile in(path.c_str(), "rb");
    char buffer[12] = {};
    // 8 bytes: two whole items of 3, a short third.
    EXPECT_TRUE(in.read(buffer, 3, 4) == 2 && std::string(buffer, 8) == "abcdefgh");
    // clang-format off
    in.close(); in.close();
    // clang-format on
    EXPECT_TRUE(in.getFile() == nullptr && in.read(buffer, 1, 1) == 0 &&
                in.write(buffer, 1, 1) == 0);

    // The open failure's message ("could not open <path>: <reason>") is pinned with the streamer.
    host::CaptureTraces(1);
    const std::string kInvalid = "CASFile constructor - invalid input";
    // clang-format off
    const std::pair<std::function<void()>, std::string> rows[] = {
        {[&] { CASFile f(nullptr, "rb"); }, kInvalid}, {[&] { CASFile f(path.c_str(), nullptr); }, kInvalid},
        {[&] { CASFile(path.c_str(), "rb").read(nullptr, 1, 1); }, "CASFile::read - invalid input buffer"},
        {[&] { CASFile(path.c_str(), "rb").write(nullptr, 1, 1); }, "CASFile::write - invalid input buffer"},
    };
    // clang-format on
    for (const auto& [call, text] : rows) {
        const std::string message = "ASException - MESSAGE: " + text;
        EXPECT_THROW(call(), ascommon::ASException) << text;
        EXPECT_TRUE(host::TraceContains("- " + message + "\n")) << message;
    }
}

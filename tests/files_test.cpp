// The file utilities on UTF-8 paths, the unique temporary file service and CASFile.
#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <functional>
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
    // result, then the length reported and the name with the byte after it (which must stay 0).
    static std::pair<int, std::string> MakeTemp(const std::string& folder, size_t capacity) {
        std::vector<char> buffer(capacity + 1, '\0');
        size_t length = capacity;
        const int result =
            ascommon::MakeTempFileName(folder.c_str(), "qxas", buffer.data(), &length);
        return {result, std::to_string(length) + " " + std::string(buffer.data(), length + 1)};
    }
    testfiles::TempFolder m_folder;
};

// The path; whether it names a file (FileExists, RemoveFile); its size (GetFileSize: files and
// folders; -1 when not found, the output left as it is). Paths are cut at their first ill-formed
// sequence: the size of the file the cut name reaches.
TEST_F(FilesTest, ExistenceSizeRemovalAndIllFormedPaths) {
    ASSERT_TRUE(std::filesystem::create_directory(testfiles::Native(m_folder / "sub")));
    MakeFile("ab", "short");
    MakeFile("caf\xC3\xA9", "accented");  // "café", well-formed: used whole
    const std::tuple<std::string, bool, int> rows[] = {
        {MakeFile("data.bin", "12345"), true, 5},
        {MakeFile("empty.bin", ""), true, 0},
        {m_folder / "sub", false, 0},
        {m_folder / "missing", false, -1},
        {m_folder / "ab\xFFxy", true, 5},         // invalid byte
        {m_folder / "ab\xC0\xAF", true, 5},       // overlong "/"
        {m_folder / "ab\xED\xA0\x80", true, 5},   // surrogate
        {m_folder / "ab\xE2\x82", true, 5},       // sequence cut by the end
        {m_folder / "ab\x80", true, 5},           // stray continuation byte
        {m_folder / "caf\xC3\xA9\xFF", true, 8},  // cut after a two-byte sequence
        {m_folder / "caf\xC3", false, -1},        // "caf" does not exist
    };
    for (size_t i = 0; i < std::size(rows); ++i) {
        const auto& [path, exists, size] = rows[i];
        SCOPED_TRACE(path);
        uint64_t found = 777;
        EXPECT_EQ(ascommon::FileExists(path.c_str()), exists);
        EXPECT_EQ(ascommon::GetFileSize(path.c_str(), &found), size >= 0);
        EXPECT_EQ(found, size >= 0 ? uint64_t(size) : 777u);
        EXPECT_EQ(ascommon::GetFileSize(path.c_str(), nullptr), size >= 0);
        if (i >= 4) {  // the cut names: what the C runtime opens
            std::FILE* in = ascommon::OpenFile(path.c_str(), "rb");
            EXPECT_EQ(in != nullptr, exists);
            if (in != nullptr) std::fclose(in);
            continue;
        }
        EXPECT_EQ(ascommon::RemoveFile(path.c_str()), exists);
        EXPECT_EQ(testfiles::Exists(path), size >= 0 && !exists);
    }
    uint64_t size = 9;
    EXPECT_FALSE(ascommon::GetFileSize(nullptr, &size) || ascommon::FileExists(nullptr) ||
                 ascommon::RemoveFile(nullptr) || ascommon::OpenFile(nullptr, "rb") ||
                 ascommon::OpenFile(std::get<0>(rows[0]).c_str(), nullptr) || size != 9);
    // Long enough that the copy of the path comes from the hooks everywhere (Windows converts
    // shorter paths on the stack).
    const std::string cut = m_folder / ("ab\xFF" + std::string(300, 'x'));
    host::FailAllocationNumber(1);  // the cut copy of the path
    EXPECT_FALSE(ascommon::FileExists(cut.c_str()));
    host::FailAllocationNumber(0);
    EXPECT_TRUE(ascommon::RemoveFile(cut.c_str()));
    EXPECT_FALSE(testfiles::Exists(m_folder / "ab"));
}

// A new empty file "<folder><separator>qxas" + 8 hex digits + ".tmp" (on Windows "qxa" + 1 to 4
// digits), its name unterminated; failures leave the capacity as it was and create nothing.
TEST_F(FilesTest, MakeTempFileName) {
    const std::string folder = m_folder.path(), start = m_folder / testfiles::TempNameStart("qxas");
    const size_t longest = start.size() + platform::kTempDigitsMax + 4,
                 shortest = start.size() + platform::kTempDigitsMin + 4;
    const std::tuple<std::string, size_t, std::string> rows[] = {
        // the folder, the capacity, the start of the name ("" when the call fails)
        {folder, 260, start},
        // POSIX always adds the separator; GetTempFileNameW only where one is missing
        {folder + platform::kPathSeparator, 260,
         platform::kTempSeparatorAlwaysAdded
             ? folder + platform::kPathSeparator + start.substr(folder.size())
             : start},
        {folder, longest, start},
        {folder, shortest - 1, ""},  // no name would fit
        {folder, 0, ""},
        {m_folder / "missing", 260, ""},
    };
    for (const auto& [in, capacity, stem] : rows) {
        SCOPED_TRACE(in + " " + std::to_string(capacity));
        const auto [result, name] = MakeTemp(in, capacity);
        EXPECT_EQ(result, stem.empty() ? 0 : 1);
        if (stem.empty()) {
            EXPECT_EQ(name.substr(0, name.find(' ')), std::to_string(capacity));
            continue;
        }
        const std::string path = name.substr(name.find(' ') + 1);
        EXPECT_EQ(path.back(), '\0');  // the byte after the name is untouched
        const size_t digits = path.size() - 1 - stem.size() - 4;
        EXPECT_TRUE(path.compare(0, stem.size(), stem) == 0 && digits >= platform::kTempDigitsMin &&
                    digits <= platform::kTempDigitsMax &&
                    path.find_first_not_of("0123456789ABCDEFabcdef", stem.size()) ==
                        stem.size() + digits &&
                    path.compare(path.size() - 5, 4, ".tmp") == 0)
            << path;
        uint64_t size = 1;
        EXPECT_TRUE(ascommon::GetFileSize(path.c_str(), &size) && size == 0);
    }
    EXPECT_EQ(m_folder.Entries("").size(), 3u);
    size_t capacity = 260;
    char buffer[261] = {};
    EXPECT_EQ(ascommon::MakeTempFileName(nullptr, "qxas", buffer, &capacity), 0);
    EXPECT_EQ(ascommon::MakeTempFileName(folder.c_str(), "qxas", buffer, nullptr), 0);
}

// Every call from several threads succeeds and makes a file of its own; names already taken by
// other files are skipped, not reused.
TEST_F(FilesTest, TempNamesAreUniqueAcrossThreadsAndSkipExistingFiles) {
    constexpr size_t kThreads = 8, kNamesEach = 150;
    std::atomic<size_t> made{0};
    std::vector<std::thread> threads;
    for (size_t t = 0; t < kThreads; ++t) {
        threads.emplace_back([&] {
            for (size_t i = 0; i < kNamesEach; ++i) made += MakeTemp(m_folder.path(), 260).first;
        });
    }
    for (std::thread& thread : threads) thread.join();
    EXPECT_EQ(made, kThreads * kNamesEach);
    EXPECT_EQ(m_folder.Entries(testfiles::TempNameStart("qxas")).size(), kThreads * kNamesEach);
    const std::string first = MakeTemp(m_folder.path(), 260).second;
    const std::string stem = m_folder / testfiles::TempNameStart("qxas");
    const unsigned number =
        std::stoul(first.substr(first.find(' ') + 1 + stem.size()), nullptr, 16);
    for (unsigned k = 1; k <= 4; ++k) {
        char next[16];
        std::snprintf(next, sizeof next, "%0*X.tmp", int(platform::kTempDigitsMin), number + k);
        testfiles::WriteFile(stem + next, "x");
    }
    const std::string second = MakeTemp(m_folder.path(), 260).second;
    uint64_t size = 1;
    EXPECT_TRUE(ascommon::GetFileSize(second.substr(second.find(' ') + 1).c_str(), &size) &&
                size == 0)
        << second;
}

// Whole items only; closing twice does nothing (a second fclose would be a double free under the
// sanitizers), and neither does the destructor after close. Failures throw, after a trace line.
TEST_F(FilesTest, CASFile) {
    const std::string path = m_folder / "items.bin", missing = m_folder / "missing.bin";
    EXPECT_EQ(CASFile(path.c_str(), "wb").write("abcdefgh", 4, 2), 2u);
    CASFile in(path.c_str(), "rb");
    char buffer[12] = {};
    EXPECT_EQ(in.read(buffer, 3, 4), 2u);  // 8 bytes: two whole items of 3, a short third
    EXPECT_EQ(std::string(buffer, 8), "abcdefgh");
    in.close();
    EXPECT_EQ(in.getFile(), nullptr);
    in.close();
    EXPECT_EQ(in.read(buffer, 1, 1) + in.write(buffer, 1, 1), 0u);

    host::CaptureTraces(1);
    errno = 0;  // what opening a folder for writing sets errno to is the platform's
    EXPECT_EQ(ascommon::OpenFile(m_folder.path().c_str(), "wb"), nullptr);
    const int folderError = errno;
    auto cannotOpen = [](const std::string& file, int error) {
        return "ASException - CODE: -551 MESSAGE: could not open " + file + ": " +
               std::strerror(error);
    };
    const std::string kInvalid = "ASException - MESSAGE: CASFile constructor - invalid input";
    const std::pair<std::function<void()>, std::string> rows[] = {
        {[&] { CASFile f(nullptr, "rb"); }, kInvalid},
        {[&] { CASFile f(path.c_str(), nullptr); }, kInvalid},
        {[&] { CASFile(path.c_str(), "rb").read(nullptr, 1, 1); },
         "ASException - MESSAGE: CASFile::read - invalid input buffer"},
        {[&] { CASFile(path.c_str(), "rb").write(nullptr, 1, 1); },
         "ASException - MESSAGE: CASFile::write - invalid input buffer"},
        {[&] { CASFile f(missing.c_str(), "rb"); }, cannotOpen(missing, ENOENT)},
        {[&] { CASFile f(m_folder.path().c_str(), "wb"); },
         cannotOpen(m_folder.path(), folderError)},
    };
    for (const auto& [call, message] : rows) {
        try {
            call();
            ADD_FAILURE() << "no exception: " << message;
        } catch (const ascommon::ASException& e) {
            EXPECT_EQ(e.what(), message);
            EXPECT_EQ(e.GetCode(), message.find("-551") != std::string::npos ? -551 : -1);
            EXPECT_TRUE(host::TraceContains("- " + message + "\n")) << message;
        }
    }
}

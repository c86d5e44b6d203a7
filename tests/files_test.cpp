// The file utilities on UTF-8 paths, the unique temporary file service and CASFile.
#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "common/asexception.h"
#include "common/asfile.h"
#include "common/platform.h"
#include "host/host_hooks.h"
#include "tests/temp_folder.h"

using ascommon::CASFile;

namespace {

class FilesTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(m_folder.ok());
        host::CaptureTraces(1);
        host::TakeTraces();
        m_liveBytes = host::Counters().liveBytes;
    }
    void TearDown() override {
        host::FailAllocationNumber(0);
        host::CaptureTraces(0);
        host::TakeTraces();
        EXPECT_EQ(host::Counters().liveBytes, m_liveBytes) << "hook blocks left behind";
    }

    std::string MakeFile(const std::string& name, const std::string& content) const {
        testfiles::WriteAll(m_folder / name, {content.begin(), content.end()});
        return m_folder / name;
    }

    // MakeTempFileName into a zeroed buffer one byte larger than the capacity declared: the
    // result, the length reported and the name (with the byte after it, which must stay 0).
    struct TempName {
        int result;
        size_t length;
        std::string name;
    };
    static TempName MakeTemp(const std::string& folder, size_t capacity) {
        std::vector<char> buffer(capacity + 1, '\0');
        size_t length = capacity;
        const int result =
            ascommon::MakeTempFileName(folder.c_str(), "qxas", buffer.data(), &length);
        return {result, length, std::string(buffer.data(), result == 1 ? length + 1 : 0)};
    }

    testfiles::TempFolder m_folder;
    uint64_t m_liveBytes = 0;
};

TEST_F(FilesTest, ExistenceSizeAndRemovalOfFilesFoldersAndMissingPaths) {
    const std::string file = MakeFile("data.bin", "12345");
    ASSERT_TRUE(std::filesystem::create_directory(m_folder / "sub"));
    // The path; whether it names a file (FileExists, RemoveFile); its size (GetFileSize: files
    // and folders; -1 when not found).
    const std::tuple<std::string, bool, int> rows[] = {
        {file, true, 5},
        {MakeFile("empty.bin", ""), true, 0},
        {m_folder / "sub", false, 0},
        {m_folder / "missing", false, -1},
    };
    for (const auto& [path, exists, size] : rows) {
        uint64_t found = 777;  // left as it is when not found
        EXPECT_EQ(ascommon::FileExists(path.c_str()), exists) << path;
        EXPECT_EQ(ascommon::GetFileSize(path.c_str(), &found), size >= 0) << path;
        EXPECT_EQ(found, size >= 0 ? uint64_t(size) : 777u) << path;
        EXPECT_EQ(ascommon::GetFileSize(path.c_str(), nullptr), size >= 0) << path;
        EXPECT_EQ(ascommon::RemoveFile(path.c_str()), exists) << path;
        EXPECT_EQ(testfiles::Exists(path), size >= 0 && !exists) << path;
    }
    uint64_t size = 9;
    EXPECT_FALSE(ascommon::GetFileSize(nullptr, &size) || ascommon::FileExists(nullptr) ||
                 ascommon::RemoveFile(nullptr) || ascommon::OpenFile(nullptr, "rb") ||
                 ascommon::OpenFile(file.c_str(), nullptr));
    EXPECT_EQ(size, 9u);
}

TEST_F(FilesTest, PathsAreCutAtTheirFirstIllFormedSequence) {
    MakeFile("ab", "short");
    MakeFile("caf\xC3\xA9", "accented");  // "café", well-formed: used whole
    const std::pair<const char*, int> rows[] = {
        // the name, the size of the file the calls reach (-1: none)
        {"ab\xFFxy", 5},         // invalid byte
        {"ab\xC0\xAF", 5},       // overlong "/"
        {"ab\xED\xA0\x80", 5},   // surrogate
        {"ab\xE2\x82", 5},       // sequence cut by the end
        {"ab\x80", 5},           // stray continuation byte
        {"caf\xC3\xA9", 8},      // well-formed
        {"caf\xC3\xA9\xFF", 8},  // cut after a two-byte sequence
        {"caf\xC3", -1},         // "caf" does not exist
    };
    for (const auto& [name, size] : rows) {
        const std::string path = m_folder / name;
        uint64_t found = 0;
        EXPECT_EQ(ascommon::FileExists(path.c_str()), size >= 0) << name;
        EXPECT_EQ(ascommon::GetFileSize(path.c_str(), &found) ? int(found) : -1, size) << name;
        std::FILE* in = ascommon::OpenFile(path.c_str(), "rb");
        EXPECT_EQ(in != nullptr, size >= 0) << name;
        if (in != nullptr) std::fclose(in);
    }
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
        const TempName temp = MakeTemp(in, capacity);
        SCOPED_TRACE(in + " " + std::to_string(capacity));
        EXPECT_EQ(temp.result, stem.empty() ? 0 : 1);
        if (stem.empty()) {
            EXPECT_EQ(temp.length, capacity);
            continue;
        }
        EXPECT_EQ(temp.name.back(), '\0');  // the byte after the name is untouched
        EXPECT_EQ(temp.name.compare(0, stem.size(), stem), 0) << temp.name;
        const size_t digits = temp.length - stem.size() - 4;
        EXPECT_TRUE(digits >= platform::kTempDigitsMin && digits <= platform::kTempDigitsMax &&
                    temp.name.find_first_not_of("0123456789ABCDEFabcdef", stem.size()) ==
                        stem.size() + digits)
            << temp.name;
        EXPECT_EQ(temp.name.substr(temp.length - 4, 4), ".tmp");
        uint64_t size = 1;
        EXPECT_TRUE(ascommon::GetFileSize(temp.name.c_str(), &size) && size == 0);
    }
    EXPECT_EQ(m_folder.Entries("").size(), 3u);
    size_t capacity = 260;
    char buffer[261] = {};
    EXPECT_EQ(ascommon::MakeTempFileName(nullptr, "qxas", buffer, &capacity), 0);
    EXPECT_EQ(ascommon::MakeTempFileName(folder.c_str(), "qxas", buffer, nullptr), 0);
}

TEST_F(FilesTest, TempNamesAreUniqueAcrossThreadsAndSkipExistingFiles) {
    // Every call succeeds and makes a file of its own.
    constexpr size_t kThreads = 8, kNamesEach = 150;
    std::atomic<size_t> made{0};
    std::vector<std::thread> threads;
    for (size_t t = 0; t < kThreads; ++t) {
        threads.emplace_back([&] {
            for (size_t i = 0; i < kNamesEach; ++i) made += MakeTemp(m_folder.path(), 260).result;
        });
    }
    for (std::thread& thread : threads) thread.join();
    EXPECT_EQ(made, kThreads * kNamesEach);
    EXPECT_EQ(m_folder.Entries(testfiles::TempNameStart("qxas")).size(), kThreads * kNamesEach);

    // Occupy the next names the service could choose: it must skip them, not reuse them.
    const TempName first = MakeTemp(m_folder.path(), 260);
    const std::string stem = m_folder / testfiles::TempNameStart("qxas");
    const unsigned number = std::stoul(first.name.substr(stem.size()), nullptr, 16);
    for (unsigned k = 1; k <= 4; ++k) {
        char next[16];
        std::snprintf(next, sizeof next, "%0*X.tmp", int(platform::kTempDigitsMin), number + k);
        testfiles::WriteAll(stem + next, {'x'});
    }
    const TempName second = MakeTemp(m_folder.path(), 260);
    uint64_t size = 1;
    EXPECT_TRUE(ascommon::GetFileSize(second.name.c_str(), &size) && size == 0) << second.name;
}

TEST_F(FilesTest, CASFileReadsAndWritesWholeItemsAndClosesOnce) {
    const std::string path = m_folder / "items.bin";
    EXPECT_EQ(CASFile(path.c_str(), "wb").write("abcdefgh", 4, 2), 2u);
    CASFile in(path.c_str(), "rb");
    ASSERT_NE(in.getFile(), nullptr);
    char buffer[12] = {};
    EXPECT_EQ(in.read(buffer, 3, 4), 2u);  // 8 bytes: two whole items of 3, a short third
    EXPECT_EQ(std::string(buffer, 8), "abcdefgh");
    in.close();
    EXPECT_EQ(in.getFile(), nullptr);
    in.close();  // a second fclose would be a double free under the sanitizers
    EXPECT_EQ(in.read(buffer, 1, 1) + in.write(buffer, 1, 1), 0u);
}  // and the destructor after close does nothing

TEST_F(FilesTest, CASFileFailures) {
    const std::string present = MakeFile("present.bin", "x"), missing = m_folder / "missing.bin";
    // What opening a folder for writing sets errno to is the platform's (EISDIR, EACCES).
    errno = 0;
    EXPECT_EQ(ascommon::OpenFile(m_folder.path().c_str(), "wb"), nullptr);
    const int folderError = errno;
    EXPECT_NE(folderError, 0);
    auto cannotOpen = [](const std::string& path, int error) {
        return "ASException - CODE: -551 MESSAGE: could not open " + path + ": " +
               std::strerror(error);
    };
    const std::string kInvalid = "ASException - MESSAGE: CASFile constructor - invalid input";
    const std::pair<std::function<void()>, std::string> rows[] = {
        {[&] { CASFile f(nullptr, "rb"); }, kInvalid},
        {[&] { CASFile f(present.c_str(), nullptr); }, kInvalid},
        {[&] { CASFile(present.c_str(), "rb").read(nullptr, 1, 1); },
         "ASException - MESSAGE: CASFile::read - invalid input buffer"},
        {[&] { CASFile(present.c_str(), "rb").write(nullptr, 1, 1); },
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

TEST(FileExceptionTest, CodeConstructorsKeepTheCode) {
    const ascommon::ASFileException file(-700, "code %d", -700);
    EXPECT_EQ(file.GetCode(), -700);
    EXPECT_STREQ(file.what(), "code -700");
    const ascommon::ASException plain(-551, "%s", "y");
    EXPECT_TRUE(plain.GetCode() == -551 && !plain.GetFlag());
}

}  // namespace

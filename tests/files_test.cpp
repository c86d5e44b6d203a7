// The file utilities on UTF-8 paths, the unique temporary file service and CASFile.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <functional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "common/asexception.h"
#include "common/asfile.h"
#include "host/host_hooks.h"
#include "tests/temp_folder.h"

using ascommon::CASFile;
using testfiles::TempFolder;

namespace {

class FilesTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(m_folder.ok());
        host::FailAllocationNumber(0);
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

    std::string MakeFile(const std::string& name, const std::string& content) {
        const std::string path = m_folder / name;
        testfiles::WriteAll(path, std::vector<unsigned char>(content.begin(), content.end()));
        return path;
    }

    // Calls MakeTempFileName with a zeroed buffer one byte larger than the capacity declared.
    struct TempName {
        int result;
        size_t length;
        std::string name;
        char after;  // the byte after the name: the service writes no terminator
    };
    static TempName MakeTemp(const std::string& folder, size_t capacity,
                             const char* prefix = "qxas") {
        std::vector<char> buffer(capacity + 1, '\0');
        size_t length = capacity;
        TempName out;
        out.result = ascommon::MakeTempFileName(folder.c_str(), prefix, buffer.data(), &length);
        out.length = length;
        out.name.assign(buffer.data(), out.result == 1 ? length : 0);
        out.after = out.result == 1 ? buffer[length] : '\0';
        return out;
    }

    TempFolder m_folder;
    uint64_t m_liveBytes = 0;
};

// ---- Existence, size, removal, UTF-8 paths ----------------------------------------------------

TEST_F(FilesTest, ExistenceSizeAndRemovalOfFilesFoldersAndMissingPaths) {
    const std::string file = MakeFile("data.bin", "12345");
    const std::string empty = MakeFile("empty.bin", "");
    ASSERT_EQ(mkdir((m_folder / "sub").c_str(), 0700), 0);
    struct Row {
        std::string path;
        bool exists;    // FileExists
        bool found;     // GetFileSize
        uint64_t size;  // stored when found
    } rows[] = {
        {file, true, true, 5},
        {empty, true, true, 0},
        {m_folder / "sub", false, true, 0},
        {m_folder / "missing", false, false, 0},
        {m_folder / "missing/deeper", false, false, 0},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(ascommon::FileExists(row.path.c_str()), row.exists) << row.path;
        uint64_t size = 777;
        EXPECT_EQ(ascommon::GetFileSize(row.path.c_str(), &size), row.found) << row.path;
        EXPECT_EQ(size, row.found ? row.size : 777u) << row.path;  // untouched when not found
        EXPECT_EQ(ascommon::GetFileSize(row.path.c_str(), nullptr), row.found) << row.path;
        // Only files are removed.
        EXPECT_EQ(ascommon::RemoveFile(row.path.c_str()), row.exists) << row.path;
        EXPECT_EQ(testfiles::Exists(row.path), row.found && !row.exists) << row.path;
    }
    uint64_t size = 9;
    EXPECT_FALSE(ascommon::GetFileSize(nullptr, &size));
    EXPECT_EQ(size, 9u);
    EXPECT_FALSE(ascommon::FileExists(nullptr));
    EXPECT_FALSE(ascommon::RemoveFile(nullptr));
    EXPECT_EQ(ascommon::OpenFile(nullptr, "rb"), nullptr);
    EXPECT_EQ(ascommon::OpenFile(file.c_str(), nullptr), nullptr);
}

TEST_F(FilesTest, PathsAreCutAtTheirFirstIllFormedSequence) {
    MakeFile("ab", "short");
    MakeFile("caf\xC3\xA9", "accented");  // "café", well-formed: used whole
    struct Row {
        const char* name;
        const char* reaches;  // the content of the file the call reaches, or null
    } rows[] = {
        {"ab\xFF"
         "cd",
         "short"},                    // invalid byte
        {"ab\xC0\xAF", "short"},      // overlong "/"
        {"ab\xED\xA0\x80", "short"},  // surrogate
        {"ab\xE2\x82", "short"},      // sequence cut by the end
        {"ab\x80", "short"},          // stray continuation byte
        {"caf\xC3\xA9", "accented"},
        {"caf\xC3\xA9\xFF", "accented"},
        {"caf\xC3", nullptr},  // "caf" does not exist
    };
    for (const Row& row : rows) {
        const std::string path = m_folder / row.name;
        EXPECT_EQ(ascommon::FileExists(path.c_str()), row.reaches != nullptr) << row.name;
        std::FILE* in = ascommon::OpenFile(path.c_str(), "rb");
        ASSERT_EQ(in != nullptr, row.reaches != nullptr) << row.name;
        if (in == nullptr) continue;
        char text[16] = {};
        EXPECT_GT(std::fread(text, 1, sizeof text - 1, in), 0u);
        EXPECT_STREQ(text, row.reaches) << row.name;
        std::fclose(in);
    }
    const std::string cut = m_folder / "ab\xFF";
    host::FailAllocationNumber(1);  // the cut copy of the path
    EXPECT_FALSE(ascommon::FileExists(cut.c_str()));
    host::FailAllocationNumber(0);
    EXPECT_TRUE(ascommon::RemoveFile(cut.c_str()));
    EXPECT_FALSE(testfiles::Exists(m_folder / "ab"));
}

// ---- Unique temporary files -------------------------------------------------------------------

TEST_F(FilesTest, MakeTempFileNameCreatesAnEmptyFileAndReportsItsUnterminatedName) {
    const std::pair<std::string, std::string> rows[] = {
        {m_folder.path(), m_folder.path() + "/qxas"},
        {m_folder.path() + "/", m_folder.path() + "//qxas"},  // the separator is always added
    };
    for (const auto& row : rows) {
        const TempName temp = MakeTemp(row.first, 260);
        ASSERT_EQ(temp.result, 1);
        EXPECT_EQ(temp.length, row.second.size() + 12) << temp.name;  // 8 hex digits, ".tmp"
        EXPECT_EQ(temp.after, '\0');
        EXPECT_EQ(temp.name.compare(0, row.second.size(), row.second), 0) << temp.name;
        EXPECT_EQ(temp.name.substr(temp.name.size() - 4), ".tmp");
        uint64_t size = 1;
        EXPECT_TRUE(ascommon::GetFileSize(temp.name.c_str(), &size));
        EXPECT_EQ(size, 0u);
    }
    EXPECT_EQ(m_folder.Entries("qxas").size(), 2u);
}

TEST_F(FilesTest, MakeTempFileNameFailuresCreateNothing) {
    const size_t fits = m_folder.path().size() + 17;
    struct Row {
        std::string folder;
        size_t capacity;
    } rows[] = {
        {m_folder.path(), 0},
        {m_folder.path(), fits - 1},  // the name would not fit
        {m_folder / "missing", 260},
    };
    for (const Row& row : rows) {
        const TempName temp = MakeTemp(row.folder, row.capacity);
        EXPECT_EQ(temp.result, 0) << row.folder << " " << row.capacity;
        EXPECT_EQ(temp.length, row.capacity);  // the capacity is left as it was
    }
    EXPECT_TRUE(m_folder.Entries("").empty());
    EXPECT_EQ(MakeTemp(m_folder.path(), fits).result, 1);
    size_t capacity = 260;
    char buffer[261] = {};
    EXPECT_EQ(ascommon::MakeTempFileName(nullptr, "qxas", buffer, &capacity), 0);
    EXPECT_EQ(ascommon::MakeTempFileName(m_folder.path().c_str(), "qxas", buffer, nullptr), 0);
}

TEST_F(FilesTest, TempNamesAreUniqueAcrossThreads) {
    constexpr int kThreads = 8;
    constexpr int kNamesEach = 150;
    std::vector<std::vector<std::string>> names(kThreads);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < kNamesEach; ++i) {
                const TempName temp = MakeTemp(m_folder.path(), 260);
                if (temp.result == 1) names[t].push_back(temp.name);
            }
        });
    }
    for (std::thread& thread : threads) thread.join();
    std::set<std::string> distinct;
    for (const auto& list : names) distinct.insert(list.begin(), list.end());
    EXPECT_EQ(distinct.size(), size_t{kThreads * kNamesEach});
    EXPECT_EQ(m_folder.Entries("qxas").size(), size_t{kThreads * kNamesEach});
}

TEST_F(FilesTest, ANameThatExistsIsNeverHandedOut) {
    // Occupy the next names the service could choose: it must skip them, not reuse them.
    const TempName first = MakeTemp(m_folder.path(), 260);
    ASSERT_EQ(first.result, 1);
    const std::string stem = first.name.substr(0, first.name.size() - 12);  // folder + "/qxas"
    const unsigned number = std::stoul(first.name.substr(stem.size(), 8), nullptr, 16);
    for (unsigned k = 1; k <= 4; ++k) {
        char next[16];
        std::snprintf(next, sizeof next, "%08X.tmp", number + k);
        testfiles::WriteAll(stem + next, {'x'});
    }
    const TempName second = MakeTemp(m_folder.path(), 260);
    ASSERT_EQ(second.result, 1);
    uint64_t size = 1;
    EXPECT_TRUE(ascommon::GetFileSize(second.name.c_str(), &size));
    EXPECT_EQ(size, 0u) << second.name << " is an existing file";
}

// ---- CASFile ----------------------------------------------------------------------------------

TEST_F(FilesTest, CASFileReadsAndWritesWholeItemsAndClosesOnce) {
    const std::string path = m_folder / "items.bin";
    {
        CASFile out(path.c_str(), "wb");
        ASSERT_NE(out.getFile(), nullptr);
        EXPECT_EQ(out.write("abcdefgh", 4, 2), 2u);
    }
    CASFile in(path.c_str(), "rb");
    char buffer[12] = {};
    EXPECT_EQ(in.read(buffer, 3, 4), 2u);  // 8 bytes: two whole items of 3, a short third
    EXPECT_EQ(std::string(buffer, 8), "abcdefgh");
    in.close();
    EXPECT_EQ(in.getFile(), nullptr);
    in.close();  // a second fclose would be a double free under the sanitizers
    EXPECT_EQ(in.read(buffer, 1, 1), 0u);
    EXPECT_EQ(in.write(buffer, 1, 1), 0u);
}  // and the destructor after close does nothing

TEST_F(FilesTest, CASFileFailures) {
    const std::string present = MakeFile("present.bin", "x");
    const std::string missing = m_folder / "missing.bin";
    const std::string noFolder = m_folder / "no/such/folder.bin";
    auto cannotOpen = [](const std::string& path, int error) {
        return "ASException - CODE: -551 MESSAGE: could not open " + path + ": " +
               std::strerror(error);
    };
    const std::pair<std::function<void()>, std::string> rows[] = {
        {[&] { CASFile f(nullptr, "rb"); },
         "ASException - MESSAGE: CASFile constructor - invalid input"},
        {[&] { CASFile f(present.c_str(), nullptr); },
         "ASException - MESSAGE: CASFile constructor - invalid input"},
        {[&] { CASFile(present.c_str(), "rb").read(nullptr, 1, 1); },
         "ASException - MESSAGE: CASFile::read - invalid input buffer"},
        {[&] { CASFile(present.c_str(), "rb").write(nullptr, 1, 1); },
         "ASException - MESSAGE: CASFile::write - invalid input buffer"},
        {[&] { CASFile f(missing.c_str(), "rb"); }, cannotOpen(missing, ENOENT)},
        {[&] { CASFile f(noFolder.c_str(), "wb"); }, cannotOpen(noFolder, ENOENT)},
        {[&] { CASFile f(m_folder.path().c_str(), "wb"); }, cannotOpen(m_folder.path(), EISDIR)},
    };
    for (const auto& row : rows) {
        try {
            row.first();
            ADD_FAILURE() << "no exception: " << row.second;
        } catch (const ascommon::ASException& e) {
            EXPECT_EQ(e.what(), row.second);
            EXPECT_EQ(e.GetCode(), row.second.find("-551") != std::string::npos ? -551 : -1);
            EXPECT_TRUE(host::TraceContains("- " + row.second + "\n")) << row.second;
        }
    }
}

TEST(FileExceptionTest, CodeConstructorsCarryTheCodeShownInTheMessage) {
    const ascommon::ASFileException file(-700, "ASFileException - CODE: %d MESSAGE: x", -700);
    EXPECT_EQ(file.GetCode(), -700);
    EXPECT_STREQ(file.what(), "ASFileException - CODE: -700 MESSAGE: x");
    const ascommon::ASException plain(-551, "%s", "y");
    EXPECT_EQ(plain.GetCode(), -551);
    EXPECT_FALSE(plain.GetFlag());
    EXPECT_EQ(ascommon::ASFileException("%s", "z").GetCode(), -1);  // unchanged
}

}  // namespace

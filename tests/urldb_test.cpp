// The URL database: loading, subtracting and looking up digest keys of data files.
#include <gtest/gtest.h>

#include <string>

#include "engines/urldb2/urldb2.h"
#include "host/host_hooks.h"
#include "temp_folder.h"
#include "url_data_files.h"

using ascommon::CURLDB2;
using ascommon::sstring;
using testfiles::ListEntries;

namespace {

class URLDBTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(folder.ok());
        host::CaptureTraces(1);
        host::TakeTraces();
    }
    void TearDown() override {
        host::CaptureTraces(0);
        host::TakeTraces();
    }

    sstring Write(const std::string& name, const ListEntries& list) {
        testfiles::WriteListFile(folder / name, list, folder.path());
        return sstring((folder / name).c_str());
    }

    // Loads a file; whatever the outcome, no temporary copy may stay behind.
    int32_t Load(CURLDB2& db, const sstring& file) {
        const int32_t result = db.LoadDataFile(file, temp());
        EXPECT_TRUE(folder.Entries(testfiles::TempNameStart("qxas")).empty())
            << file.c_str() << " gave " << result;
        return result;
    }
    sstring temp() const { return sstring(folder.path().c_str()); }
    static bool Domain(CURLDB2& db, const std::string& s) {
        return db.ContainsDomain(s.data(), s.size());
    }

    testfiles::TempFolder folder;
};

TEST(DigestKeyTest, FirstEightMd5BytesLittleEndian) {
    // MD5("a") = 0cc175b9c0f1b6a831c399e269772661
    EXPECT_EQ(ascommon::DigestKey("a", 1), 0xa8b6f1c0b975c10cull);
    EXPECT_NE(ascommon::DigestKey("A", 1), ascommon::DigestKey("a", 1));  // case matters
}

TEST_F(URLDBTest, LoadsEachSectionIntoItsSet) {
    CURLDB2 db;
    const sstring file =
        Write("list.dat", {{"bad.com/path"}, {"mail.bad.com"}, {"bad.com", "evil.org"}});
    ASSERT_EQ(Load(db, file), 0);
    EXPECT_TRUE(db.ContainsURL("bad.com/path", 12));
    EXPECT_TRUE(db.ContainsSubDomain("mail.bad.com", 12));
    EXPECT_TRUE(Domain(db, "evil.org"));
    EXPECT_FALSE(Domain(db, "mail.bad.com"));  // sections do not mix
    EXPECT_FALSE(db.ContainsURL("bad.com", 7));
    EXPECT_EQ(db.m_URLs.bucket_count(), 11u);  // the file's count plus ten
    EXPECT_EQ(db.m_domains.bucket_count(), 12u);
    EXPECT_EQ(*db.m_domains.lookup(ascommon::DigestKey("evil.org", 8)), 1u);

    ASSERT_EQ(Load(db, file), 0);  // a second load adds nothing
    EXPECT_EQ(db.m_domains.size(), 2u);
    db.ClearAll();
    EXPECT_FALSE(Domain(db, "evil.org"));
    EXPECT_EQ(db.m_domains.bucket_count(), 12u);
}

TEST_F(URLDBTest, RefusedAndDamagedFiles) {
    CURLDB2 db;
    ASSERT_EQ(Load(db, Write("good.dat", {{}, {}, {"keep.com"}})), 0);

    ListEntries wrongWords{{}, {}, {"x.com"}};
    wrongWords.digestWords = 3;
    EXPECT_EQ(Load(db, Write("words.dat", wrongWords)), -9);
    EXPECT_TRUE(host::TraceContains(
        "[URLDB2 Engine] The data file was created using another number of md5 bytes!"));
    EXPECT_FALSE(Domain(db, "x.com"));

    ListEntries promising{{}, {}, {"first.com"}};
    promising.extraCount = 3;  // the file holds fewer entries than it says
    EXPECT_EQ(Load(db, Write("short.dat", promising)), -14);
    EXPECT_TRUE(host::TraceContains("[URLDB2 Engine] Data File Corrupt!"));
    EXPECT_TRUE(Domain(db, "first.com"));  // entries before the end stay
    promising.extraCount = 0xFFFFFF00;     // a hostile count sizes nothing beyond the file
    EXPECT_EQ(Load(db, Write("hostile.dat", promising)), -14);
    EXPECT_EQ(db.m_domains.bucket_count(), 11u);  // the one entry the file holds, plus ten

    EXPECT_EQ(Load(db, sstring((folder / "missing.dat").c_str())), -13);
    EXPECT_TRUE(host::TraceContains("[URLDB2 Engine] Signature file not found"));

    std::vector<unsigned char> bytes = testfiles::ReadAll(folder / "good.dat");
    bytes[bytes.size() - 1] ^= 0x01;  // one payload byte: the digest no longer fits
    testfiles::WriteAll(folder / "tampered.dat", bytes);
    EXPECT_EQ(Load(db, sstring((folder / "tampered.dat").c_str())), -13);
    EXPECT_TRUE(Domain(db, "keep.com"));
}

TEST_F(URLDBTest, EmptyCountsStillRehash) {
    CURLDB2 db;
    ASSERT_EQ(Load(db, Write("a.dat", {{}, {}, {"a.com"}})), 0);
    ASSERT_EQ(Load(db, Write("empty.dat", {})), 0);
    EXPECT_TRUE(Domain(db, "a.com"));
    EXPECT_EQ(db.m_URLs.bucket_count(), 10u);
    EXPECT_EQ(db.m_domains.bucket_count(), 10u);
}

TEST_F(URLDBTest, LoadDataFilesNeedsOneGoodFile) {
    CURLDB2 db;
    ascommon::CArray<sstring, 64> files;
    EXPECT_EQ(db.LoadDataFiles(files, temp()), -12);
    files.add(sstring((folder / "missing.dat").c_str()));
    EXPECT_EQ(db.LoadDataFiles(files, temp()), -12);
    files.add(Write("good.dat", {{}, {}, {"a.com"}}));
    EXPECT_EQ(db.LoadDataFiles(files, temp()), 0);
    EXPECT_TRUE(Domain(db, "a.com"));
    // A file that fails for want of memory is no bad file to pass over: the call fails.
    ascommon::CArray<sstring, 64> both;
    both.add(Write("first-of-two-good-files.dat", {{}, {}, {"b.com"}}));
    both.add(files.at(1));
    const sstring tempFolder = temp();
    host::FailAllocationNumber(1);  // the streamer's copy of the first file's name
    EXPECT_EQ(db.LoadDataFiles(both, tempFolder), CURLDB2::kNoMemory);
    host::FailAllocationNumber(0);
    EXPECT_FALSE(Domain(db, "b.com"));
    EXPECT_TRUE(folder.Entries(testfiles::TempNameStart("qxas")).empty());
}

TEST_F(URLDBTest, SubtractRemovesOnlyFromTheSameSection) {
    CURLDB2 db;
    ASSERT_EQ(Load(db, Write("black.dat", {{"x.com/a"}, {"x.com"}, {"x.com", "y.com"}})), 0);
    // The white list names x.com as a domain only, and a key the black list lacks.
    EXPECT_EQ(db.SubtractDataFile(Write("white.dat", {{}, {}, {"x.com", "z.com"}}), temp()), 0);
    EXPECT_FALSE(Domain(db, "x.com"));
    EXPECT_TRUE(Domain(db, "y.com"));
    EXPECT_TRUE(db.ContainsSubDomain("x.com", 5));
    EXPECT_TRUE(db.ContainsURL("x.com/a", 7));
    EXPECT_EQ(db.SubtractDataFile(sstring((folder / "missing.dat").c_str()), temp()), 0);
    EXPECT_TRUE(Domain(db, "y.com"));
    const sstring white = Write("white-list-with-a-long-name.dat", {{}, {}, {"y.com"}});
    const sstring tempFolder = temp();
    host::FailAllocationNumber(1);  // not read for want of memory: reported, nothing removed
    EXPECT_EQ(db.SubtractDataFile(white, tempFolder), CURLDB2::kNoMemory);
    host::FailAllocationNumber(0);
    EXPECT_TRUE(Domain(db, "y.com"));
    EXPECT_TRUE(folder.Entries(testfiles::TempNameStart("qxas")).empty());
}

}  // namespace

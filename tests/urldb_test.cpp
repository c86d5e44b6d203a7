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
    }
    void TearDown() override {
        EXPECT_TRUE(folder.Entries(testfiles::TempNameStart("qxas")).empty()) << "a temp copy";
        host::CaptureTraces(0);
        host::TakeTraces();
    }

    sstring Write(const std::string& name, const ListEntries& entries) {
        testfiles::WriteListFile(folder / name, entries, folder.path());
        return Path(name);
    }
    sstring Path(const std::string& name) const { return sstring((folder / name).c_str()); }
    int32_t Load(const sstring& file) { return db.LoadDataFile(file, temp); }
    bool Domain(const std::string& s) { return db.ContainsDomain(s.data(), s.size()); }

    testfiles::TempFolder folder;
    const sstring temp = sstring(folder.path().c_str());
    CURLDB2 db;
};

// Keys are the first eight MD5 bytes, little-endian (MD5("a") = 0cc175b9c0f1b6a831c399e2...),
// of the bytes as they are; each section goes into its own set, sized for its count plus ten.
TEST_F(URLDBTest, LoadsEachSectionIntoItsSet) {
    EXPECT_EQ(ascommon::DigestKey("a", 1), 0xa8b6f1c0b975c10cull);
    EXPECT_NE(ascommon::DigestKey("A", 1), ascommon::DigestKey("a", 1));
    const sstring file =
        Write("list.dat", {{"bad.com/path"}, {"mail.bad.com"}, {"bad.com", "evil.org"}});
    ASSERT_EQ(Load(file), 0);
    EXPECT_TRUE(db.ContainsURL("bad.com/path", 12));
    EXPECT_TRUE(db.ContainsSubDomain("mail.bad.com", 12));
    ASSERT_TRUE(Domain("evil.org"));
    EXPECT_FALSE(Domain("mail.bad.com"));  // sections do not mix
    EXPECT_FALSE(db.ContainsURL("bad.com", 7));
    EXPECT_EQ(db.m_URLs.bucket_count(), 11u);
    EXPECT_EQ(db.m_domains.bucket_count(), 12u);
    EXPECT_EQ(*db.m_domains.lookup(ascommon::DigestKey("evil.org", 8)), 1u);

    ASSERT_EQ(Load(file), 0);  // a second load adds nothing
    EXPECT_EQ(db.m_domains.size(), 2u);
    db.ClearAll();  // the sets keep their size
    EXPECT_EQ(db.m_URLs.size() + db.m_subDomains.size() + db.m_domains.size(), 0u);
    EXPECT_EQ(db.m_domains.bucket_count(), 12u);
    ASSERT_EQ(Load(file), 0);
    ASSERT_EQ(Load(Write("empty.dat", {})), 0);  // empty counts still rehash, keeping the keys
    EXPECT_TRUE(Domain("evil.org"));
    EXPECT_EQ(db.m_URLs.bucket_count() + db.m_domains.bucket_count(), 20u);
}

// A refused or damaged file names its fault in the trace; entries read before a damage stay, and
// a hostile count sizes nothing beyond the file.
TEST_F(URLDBTest, RefusedAndDamagedFiles) {
    ASSERT_EQ(Load(Write("good.dat", {{}, {}, {"keep.com"}})), 0);
    ListEntries wrongWords{{}, {}, {"x.com"}}, promising{{}, {}, {"first.com"}};
    wrongWords.digestWords = 3;
    EXPECT_EQ(Load(Write("words.dat", wrongWords)), CURLDB2::kWrongDigestWidth);
    EXPECT_TRUE(host::TraceContains(
        "[URLDB2 Engine] The data file was created using another number of md5 bytes!"));
    EXPECT_FALSE(Domain("x.com"));
    promising.extraCount = 3;  // the file holds fewer entries than it says
    EXPECT_EQ(Load(Write("short.dat", promising)), CURLDB2::kCorrupt);
    EXPECT_TRUE(host::TraceContains("[URLDB2 Engine] Data File Corrupt!"));
    EXPECT_TRUE(Domain("first.com"));
    promising.extraCount = 0xFFFFFF00;
    EXPECT_EQ(Load(Write("hostile.dat", promising)), CURLDB2::kCorrupt);
    EXPECT_EQ(db.m_domains.bucket_count(), 11u);  // the one entry the file holds, plus ten

    EXPECT_EQ(Load(Path("missing.dat")), CURLDB2::kNotADataFile);
    EXPECT_TRUE(host::TraceContains("[URLDB2 Engine] Signature file not found"));
    std::vector<unsigned char> bytes = testfiles::ReadAll(folder / "good.dat");
    bytes[bytes.size() - 1] ^= 0x01;  // one payload byte: the digest no longer fits
    testfiles::WriteAll(folder / "tampered.dat", bytes);
    EXPECT_EQ(Load(Path("tampered.dat")), CURLDB2::kNotADataFile);
    EXPECT_TRUE(Domain("keep.com"));
}

// A list loads when one file of it does; a file that fails for want of memory is no bad file to
// pass over: the call fails. A white list removes its keys from the same section only; a missing
// one removes nothing, and one not read for want of memory is reported.
TEST_F(URLDBTest, LoadDataFilesAndSubtract) {
    ascommon::CArray<sstring, 64> files, both;
    EXPECT_EQ(db.LoadDataFiles(files, temp), CURLDB2::kNothingLoaded);
    files.add(Path("missing.dat"));
    EXPECT_EQ(db.LoadDataFiles(files, temp), CURLDB2::kNothingLoaded);
    files.add(Write("good.dat", {{}, {}, {"a.com"}}));
    EXPECT_EQ(db.LoadDataFiles(files, temp), 0);
    EXPECT_TRUE(Domain("a.com"));
    both.add(Write("first-of-two-good-files.dat", {{}, {}, {"b.com"}}));
    both.add(files.at(1));
    host::FailAllocationNumber(1);  // the streamer's copy of the first file's name
    EXPECT_EQ(db.LoadDataFiles(both, temp), CURLDB2::kNoMemory);
    host::FailAllocationNumber(0);
    EXPECT_FALSE(Domain("b.com"));

    ASSERT_EQ(Load(Write("black.dat", {{"x.com/a"}, {"x.com"}, {"x.com", "y.com"}})), 0);
    EXPECT_EQ(db.SubtractDataFile(Write("white.dat", {{}, {}, {"x.com", "z.com"}}), temp), 0);
    EXPECT_FALSE(Domain("x.com"));
    EXPECT_TRUE(Domain("y.com"));
    EXPECT_TRUE(db.ContainsSubDomain("x.com", 5));
    EXPECT_TRUE(db.ContainsURL("x.com/a", 7));
    EXPECT_EQ(db.SubtractDataFile(Path("missing.dat"), temp), 0);
    const sstring white = Write("white-list-with-a-long-name.dat", {{}, {}, {"y.com"}});
    host::FailAllocationNumber(1);
    EXPECT_EQ(db.SubtractDataFile(white, temp), CURLDB2::kNoMemory);
    host::FailAllocationNumber(0);
    EXPECT_TRUE(Domain("y.com"));
}

}  // namespace

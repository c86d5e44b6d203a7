// The binary streamer: typed round trips, the data file frame (header, digest, scrambling), the
// refusal of damaged files, the operations' checks and messages, and that a failed open leaves
// neither a temporary file nor a hook block behind.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "common/asexception.h"
#include "common/binstreamer.h"
#include "host/host_hooks.h"
#include "tests/temp_folder.h"

using ascommon::CBinaryStreamer;
using ascommon::sstring;
using Bytes = std::vector<unsigned char>;
namespace fmt = ascommon::binformat;

namespace {

Bytes Md5Of(const Bytes& bytes, size_t from = 0) {
    Bytes digest(16);
    static const unsigned char kNothing = 0;
    ascommon::ComputeCRC(bytes.size() > from ? bytes.data() + from : &kNothing,
                         bytes.size() > from ? bytes.size() - from : 0, digest.data());
    return digest;
}

Bytes Scrambled(Bytes bytes) {
    for (unsigned char& b : bytes) b ^= fmt::kScrambleMask;
    return bytes;
}

// The message of the exception the call throws ("" when it throws none, "?" for a foreign one).
std::string MessageOf(const std::function<void()>& call) {
    try {
        call();
    } catch (const ascommon::ASException& e) {
        return e.what();
    } catch (...) {
        return "?";
    }
    return "";
}

std::string Plain(const std::string& text) {
    return "ASException - MESSAGE: " + text;
}

std::string CrcMessage(const std::string& file, int position) {
    return Plain("File CRC does not match with its stored CRC! [" + file + "] position " +
                 std::to_string(position));
}

// The index of the first byte where the stored digest of an unscrambled file differs from the
// digest of its payload; -1 when they agree.
int FirstDigestDifference(const Bytes& plain) {
    const Bytes digest = Md5Of(plain, fmt::kHeaderSize);
    for (int i = 0; i < 16; ++i) {
        if (plain.size() <= static_cast<size_t>(i) || plain[i] != digest[i]) return i;
    }
    return -1;
}

class BinStreamerTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(m_data.ok());
        ASSERT_TRUE(m_temp.ok());
        host::FailAllocationNumber(0);
        host::CaptureTraces(4);
        host::TakeTraces();
        m_liveBytes = host::Counters().liveBytes;
    }
    void TearDown() override {
        host::FailAllocationNumber(0);
        host::CaptureTraces(0);
        host::TakeTraces();
        EXPECT_TRUE(m_temp.Entries("qxas").empty()) << "temporary files left behind";
        EXPECT_EQ(host::Counters().liveBytes, m_liveBytes) << "hook blocks left behind";
    }

    // Long names, so that the streamer's strings live on the heap.
    std::string DataPath(const std::string& name = "urls-black-list-data.bin") const {
        return m_data / name;
    }
    sstring TempFolder() const { return sstring(m_temp.path().c_str()); }
    std::unique_ptr<CBinaryStreamer> Open(const std::string& path, uint32_t mode,
                                          uint32_t headerValue = 0) {
        return std::make_unique<CBinaryStreamer>(sstring(path.c_str()), mode, TempFolder(),
                                                 headerValue);
    }
    std::unique_ptr<CBinaryStreamer> Writer(const std::string& path, uint32_t headerValue = 0) {
        return Open(path, fmt::kModeWrite, headerValue);
    }
    std::unique_ptr<CBinaryStreamer> Reader(const std::string& path) {
        return Open(path, fmt::kModeRead);
    }

    // A data file with a few values: 32-bit 7, the bytes "hello", 16-bit 0xBEEF.
    std::string SmallFile(const std::string& name = "urls-black-list-data.bin") {
        const std::string path = DataPath(name);
        auto writer = Writer(path, 0x11223344);
        writer->WriteUInt32(7);
        writer->WriteBuffer("hello", 5);
        writer->WriteUInt16(0xBEEF);
        writer->Close();
        return path;
    }

    // Unscrambles the file, lets `change` edit it, fixes the digest when asked, scrambles it
    // again: a damaged file that reaches exactly the check under test.
    static void Rewrite(const std::string& path, const std::function<void(Bytes&)>& change,
                        bool fixDigest) {
        Bytes plain = Scrambled(testfiles::ReadAll(path));
        change(plain);
        if (fixDigest) {
            const Bytes digest = Md5Of(plain, fmt::kHeaderSize);
            std::copy(digest.begin(), digest.end(), plain.begin());
        }
        testfiles::WriteAll(path, Scrambled(plain));
    }

    std::string OpenFailure(const std::string& path) {
        return MessageOf([&] { Reader(path); });
    }

    testfiles::TempFolder m_data;
    testfiles::TempFolder m_temp;
    uint64_t m_liveBytes = 0;
};

// ---- Digest -----------------------------------------------------------------------------------

TEST(ComputeCrcTest, Rfc1321VectorsAndNullArguments) {
    const std::pair<std::string, std::string> rows[] = {
        {"", "d41d8cd98f00b204e9800998ecf8427e"},
        {"abc", "900150983cd24fb0d6963f7d28e17f72"},
        {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
        {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
         "57edf4a22be3c955ac49da2e2107b67a"},
    };
    for (const auto& row : rows) {
        const Bytes digest = Md5Of(Bytes(row.first.begin(), row.first.end()));
        char hex[33];
        for (int i = 0; i < 16; ++i) std::snprintf(hex + 2 * i, 3, "%02x", digest[i]);
        EXPECT_EQ(hex, row.second) << row.first;
    }
    unsigned char digest[16];
    const std::string refused = "ASBadPtrException - MESSAGE: Invalid parameters in ComputeCRC";
    EXPECT_EQ(MessageOf([&] { ascommon::ComputeCRC(nullptr, 0, digest); }), refused);
    EXPECT_EQ(MessageOf([&] { ascommon::ComputeCRC(digest, 1, nullptr); }), refused);
}

// ---- Round trips and layout -------------------------------------------------------------------

TEST_F(BinStreamerTest, EveryTypedOperationRoundTrips) {
    const std::string path = DataPath();
    const uint16_t u16s[] = {0, 0x1234, 0xFFFF};
    const int16_t i16s[] = {-32768, -1, 32767};
    const uint32_t u32s[] = {0, 0xDEADBEEF, 0xFFFFFFFF};
    const int32_t i32s[] = {INT32_MIN, -2, INT32_MAX};
    const char* text = "a string longer than the inline buffer";
    {
        auto w = Writer(path);
        EXPECT_EQ(w->WriteUInt16(0xA55A), 1u);
        EXPECT_EQ(w->WriteInt16(-2), 1u);
        EXPECT_EQ(w->WriteUInt32(0x89ABCDEF), 1u);
        EXPECT_EQ(w->WriteInt32(-123456789), 1u);
        EXPECT_EQ(w->WriteByte(0xA7), 1u);
        EXPECT_EQ(w->WriteBuffer("raw\0bytes", 9), 9u);
        EXPECT_EQ(w->WriteUInt16Array(u16s, 3), 6u);
        EXPECT_EQ(w->WriteInt16Array(i16s, 3), 6u);
        EXPECT_EQ(w->WriteUInt32Array(u32s, 3), 12u);
        EXPECT_EQ(w->WriteInt32Array(i32s, 3), 12u);
        EXPECT_EQ(w->WriteUInt32Array(u32s, 0), 0u);
        EXPECT_EQ(w->WriteBuffer("", 0), 0u);  // zero lengths transfer nothing, no error
        EXPECT_EQ(w->WriteString(sstring(text)), 38u);
        EXPECT_EQ(w->Printf("%d-%s", 42, "x"), 4);
        w->Close();
    }
    auto r = Reader(path);
    EXPECT_EQ(r->ReadUInt16(), 0xA55A);
    EXPECT_EQ(r->ReadInt16(), -2);
    EXPECT_EQ(r->ReadUInt32(), 0x89ABCDEFu);
    EXPECT_EQ(r->ReadInt32(), -123456789);
    EXPECT_EQ(r->ReadByte(), 0xA7);
    char raw[9];
    EXPECT_EQ(r->ReadBuffer(raw, 9), 9u);
    EXPECT_EQ(std::string(raw, 9), std::string("raw\0bytes", 9));
    uint16_t u16[3];
    int16_t i16[3];
    uint32_t u32[3];
    int32_t i32[3];
    EXPECT_EQ(r->ReadUInt16Array(u16, 3), 3u);
    EXPECT_EQ(r->ReadInt16Array(i16, 3), 3u);
    EXPECT_EQ(r->ReadUInt32Array(u32, 3), 3u);
    EXPECT_EQ(r->ReadInt32Array(i32, 3), 3u);
    EXPECT_EQ(r->ReadUInt32Array(u32, 0), 0u);
    EXPECT_TRUE(std::equal(u16, u16 + 3, u16s) && std::equal(i16, i16 + 3, i16s) &&
                std::equal(u32, u32 + 3, u32s) && std::equal(i32, i32 + 3, i32s));
    sstring read("previous");
    EXPECT_EQ(r->ReadString(read, 0), 0u);
    EXPECT_STREQ(read.c_str(), "");
    EXPECT_EQ(r->ReadString(read, 38), 38u);
    EXPECT_STREQ(read.c_str(), text);
    EXPECT_EQ(r->ReadString(read, 4), 4u);
    EXPECT_STREQ(read.c_str(), "42-x");
    EXPECT_EQ(MessageOf([&] { r->ReadByte(); }), Plain("cannot read from file"));
}

TEST_F(BinStreamerTest, UnscrambledLayout) {
    const std::string path = DataPath();
    {
        auto w = Writer(path, 0x01020304);
        w->WriteUInt16(0x1234);
        w->WriteInt32(-2);
        w->WriteString(sstring("ab"));
        w->Printf("%u", 9u);
    }  // the destructor finishes the file
    const Bytes disk = testfiles::ReadAll(path);
    const Bytes plain = Scrambled(disk);
    ASSERT_EQ(plain.size(), 128u + 9);
    EXPECT_EQ(Bytes(plain.begin(), plain.begin() + 16), Md5Of(plain, 128));
    EXPECT_EQ(std::string(plain.begin() + 16, plain.begin() + 116),
              std::string("File description should go here!") + std::string(68, '\0'));
    EXPECT_EQ(
        Bytes(plain.begin() + 116, plain.end()),
        (Bytes{0,    0,    0,    0,    0,    0,    0,   0,   4,  3, 2, 1,  // A, B, header value
               0x34, 0x12, 0xFE, 0xFF, 0xFF, 0xFF, 'a', 'b', '9'}));       // payload
    EXPECT_EQ(disk[16], 'F' ^ 0xA7);  // the header is scrambled too

    Writer(path)->Close();  // an empty payload has its digest too, and reads as empty
    EXPECT_EQ(FirstDigestDifference(Scrambled(testfiles::ReadAll(path))), -1);
    EXPECT_EQ(MessageOf([&] { Reader(path)->ReadByte(); }), Plain("cannot read from file"));
}

TEST_F(BinStreamerTest, ReadersWorkOnCopiesOfTheirOwnAndLeaveTheDataFileAlone) {
    const std::string path = SmallFile();
    const Bytes before = testfiles::ReadAll(path);
    auto first = Reader(path);
    auto second = Reader(path);
    EXPECT_EQ(m_temp.Entries("qxas").size(), 2u);
    EXPECT_EQ(first->ReadUInt32(), 7u);
    EXPECT_EQ(second->ReadUInt32(), 7u);
    first->Close();
    EXPECT_EQ(m_temp.Entries("qxas").size(), 1u);
    first->Close();  // closing again does nothing
    first.reset();
    second.reset();  // the destructor closes
    EXPECT_EQ(testfiles::ReadAll(path), before);
    EXPECT_TRUE(host::TraceContains("Opening file [" + path + "] for read\n"));
    EXPECT_TRUE(host::TraceContains("Bin Streamer temp file: " + m_temp.path() + "/qxas"));
    EXPECT_TRUE(host::TraceContains("Closing file [" + path + "]\n"));
}

TEST_F(BinStreamerTest, AWriterUsesNoTempFileAndFinishesTheFileOnlyAtClose) {
    const std::string path = DataPath();
    auto w = Writer(path);
    EXPECT_TRUE(m_temp.Entries("qxas").empty());
    const std::string filler(1 << 16, 'f');  // more than stdio keeps back
    w->WriteBuffer(filler.data(), filler.size());
    const Bytes unfinished = testfiles::ReadAll(path);
    ASSERT_GE(unfinished.size(), 128u);
    EXPECT_EQ(Bytes(unfinished.begin(), unfinished.begin() + 16), Bytes(16, 0));  // no digest
    EXPECT_EQ(unfinished[16], 'F');                                               // plain
}

// ---- Damaged files ----------------------------------------------------------------------------

TEST_F(BinStreamerTest, ChangedBytesFailTheDigestCheckOnlyInTheDigestOrPayload) {
    const size_t digest[] = {0, 7, 15}, header[] = {16, 60, 115, 116, 121, 127},
                 payload[] = {128, 132, 138};
    for (const size_t offset : digest) {
        const std::string path = SmallFile();
        Rewrite(
            path, [&](Bytes& plain) { plain[offset] ^= 0x01; }, false);
        EXPECT_EQ(OpenFailure(path), CrcMessage(path, static_cast<int>(offset)));
    }
    for (const size_t offset : payload) {
        const std::string path = SmallFile();
        Rewrite(
            path, [&](Bytes& plain) { plain[offset] ^= 0x01; }, false);
        const int position = FirstDigestDifference(Scrambled(testfiles::ReadAll(path)));
        EXPECT_EQ(OpenFailure(path), CrcMessage(path, position)) << offset;
        EXPECT_TRUE(host::TraceContains("Exception [" + CrcMessage(path, position) +
                                        "], removing streamer temp file...\n"));
    }
    for (const size_t offset : header) {
        const std::string path = SmallFile();
        Rewrite(
            path, [&](Bytes& plain) { plain[offset] ^= 0x01; }, false);
        EXPECT_EQ(Reader(path)->ReadUInt32(), 7u) << offset;
    }
}

TEST_F(BinStreamerTest, EveryTruncationIsRefusedCleanly) {
    const std::string path = SmallFile();
    const Bytes whole = testfiles::ReadAll(path);
    for (size_t length = 0; length < whole.size(); ++length) {
        const Bytes cut(whole.begin(), whole.begin() + length);
        testfiles::WriteAll(path, cut);
        const uint64_t live = host::Counters().liveBytes;
        EXPECT_EQ(OpenFailure(path), length < 128
                                         ? Plain("Could not read header component from file")
                                         : CrcMessage(path, FirstDigestDifference(Scrambled(cut))))
            << length;
        EXPECT_TRUE(m_temp.Entries("qxas").empty()) << length;
        EXPECT_EQ(host::Counters().liveBytes, live) << length;
    }
}

TEST_F(BinStreamerTest, FilesThatCannotBeReadWhole) {
    const std::string huge = DataPath("huge.bin");
    const int fd = open(huge.c_str(), O_CREAT | O_WRONLY | O_TRUNC, 0600);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(ftruncate(fd, static_cast<off_t>(fmt::kMaxFileSize + 1)), 0);  // sparse
    close(fd);
    const std::string missing = DataPath("missing.bin");
    const std::pair<std::string, std::string> rows[] = {
        {missing, "ASFileException - CODE: -700 MESSAGE: Could not access file [" + missing + "]"},
        {huge, "ASFileException - CODE: -700 MESSAGE: file [" + huge +
                   "]ize exceeds 50 MB. It is to large [268435457 bytes]"},
        {m_data.path(), Plain("Could not read header component from file")},  // a folder
    };
    for (const auto& row : rows) EXPECT_EQ(OpenFailure(row.first), row.second);
}

TEST_F(BinStreamerTest, TheScramblingPassAcceptsExactlyItsLimit) {
    constexpr uint64_t kLimit = 4096;
    Bytes bytes(kLimit);
    for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<unsigned char>(i * 7);
    const std::string source = DataPath("source.bin"), target = DataPath("target.bin");
    testfiles::WriteAll(source, bytes);
    ascommon::detail::ScrambleFile(source.c_str(), target.c_str(), kLimit);
    EXPECT_EQ(testfiles::ReadAll(target), Scrambled(bytes));
    ascommon::detail::ScrambleFile(target.c_str(), target.c_str(), kLimit);  // in place
    EXPECT_EQ(testfiles::ReadAll(target), bytes);
    testfiles::WriteAll(source, Bytes(kLimit + 1));
    EXPECT_EQ(
        MessageOf([&] { ascommon::detail::ScrambleFile(source.c_str(), target.c_str(), kLimit); }),
        "ASFileException - CODE: -700 MESSAGE: file [" + source +
            "]ize exceeds 50 MB. It is to large [4097 bytes]");
}

// The digest is fixed after each change, so each file passes the open and fails one later check.
TEST_F(BinStreamerTest, DamageBehindAValidDigestReachesTheReads) {
    const std::string nul = SmallFile();
    Rewrite(
        nul, [](Bytes& plain) { plain[128 + 4 + 2] = '\0'; }, true);  // "he\0lo"
    auto r = Reader(nul);
    EXPECT_EQ(r->ReadUInt32(), 7u);
    sstring text("kept");
    EXPECT_EQ(MessageOf([&] { r->ReadString(text, 5); }),
              Plain("read string contains terminating characters!"));
    EXPECT_STREQ(text.c_str(), "kept");

    const std::string cut = SmallFile("cut-short-data-file.bin");
    Rewrite(
        cut, [](Bytes& plain) { plain.pop_back(); }, true);  // half of the 16-bit value
    r = Reader(cut);
    EXPECT_EQ(r->ReadUInt32(), 7u);
    EXPECT_EQ(r->ReadString(text, 5), 5u);
    EXPECT_EQ(MessageOf([&] { r->ReadUInt16(); }), Plain("cannot read from file"));
}

// ---- Checks of the operations -----------------------------------------------------------------

TEST_F(BinStreamerTest, ModeAndOpenChecksOfEveryOperation) {
    const std::string kOk = "", kReadOnly = Plain("wrong stream mode: read-only"),
                      kWriteOnly = Plain("wrong stream mode: write-only"),
                      kNoFile = Plain("invalid reference to file"),
                      kNoFile2 = Plain(" invalid reference to file"),  // two blanks
        kNoWrite2 = Plain(" Cannot write to file");
    uint16_t u16[1] = {};
    int16_t i16[1] = {};
    uint32_t u32[1] = {};
    int32_t i32[1] = {};
    char byte[1] = {};
    sstring text;
    using Call = std::function<void(CBinaryStreamer&)>;
    struct Row {
        Call call;
        std::string onReader, onWriter, onClosedReader, onClosedWriter;
    } rows[] = {
        {[](auto& s) { s.WriteUInt16(1); }, kNoWrite2, kOk, kNoFile2, kNoFile2},
        {[](auto& s) { s.WriteInt16(1); }, kNoWrite2, kOk, kNoFile2, kNoFile2},
        {[](auto& s) { s.WriteUInt32(1); }, kNoWrite2, kOk, kNoFile2, kNoFile2},
        {[](auto& s) { s.WriteInt32(1); }, kNoWrite2, kOk, kNoFile2, kNoFile2},
        {[](auto& s) { s.WriteByte(1); }, kReadOnly, kOk, kReadOnly, kNoFile},
        {[&](auto& s) { s.WriteBuffer(byte, 1); }, kReadOnly, kOk, kReadOnly, kNoFile},
        {[&](auto& s) { s.WriteUInt16Array(u16, 1); }, kReadOnly, kOk, kReadOnly, kNoFile},
        {[&](auto& s) { s.WriteInt16Array(i16, 1); }, kReadOnly, kOk, kReadOnly, kNoFile},
        {[&](auto& s) { s.WriteUInt32Array(u32, 1); }, kReadOnly, kOk, kReadOnly, kNoFile},
        {[&](auto& s) { s.WriteInt32Array(i32, 1); }, kReadOnly, kOk, kReadOnly, kNoFile},
        {[](auto& s) { s.WriteString(sstring("x")); }, kReadOnly, kOk, kReadOnly, kNoFile},
        {[](auto& s) { s.Printf("x"); }, kReadOnly, kOk, kReadOnly, kNoFile},
        {[](auto& s) { s.ReadUInt16(); }, kOk, kWriteOnly, kNoFile, kWriteOnly},
        {[](auto& s) { s.ReadInt16(); }, kOk, kWriteOnly, kNoFile, kWriteOnly},
        {[](auto& s) { s.ReadUInt32(); }, kOk, kWriteOnly, kNoFile, kWriteOnly},
        {[](auto& s) { s.ReadInt32(); }, kOk, kWriteOnly, kNoFile, kWriteOnly},
        {[](auto& s) { s.ReadByte(); }, kOk, kWriteOnly, kNoFile, kWriteOnly},
        {[&](auto& s) { s.ReadBuffer(byte, 1); }, kOk, kWriteOnly, kNoFile, kWriteOnly},
        {[&](auto& s) { s.ReadUInt16Array(u16, 1); }, kOk, kWriteOnly, kNoFile, kWriteOnly},
        {[&](auto& s) { s.ReadInt16Array(i16, 1); }, kOk, kWriteOnly, kNoFile, kWriteOnly},
        {[&](auto& s) { s.ReadUInt32Array(u32, 1); }, kOk, kWriteOnly, kNoFile, kWriteOnly},
        {[&](auto& s) { s.ReadInt32Array(i32, 1); }, kOk, kWriteOnly, kNoFile, kWriteOnly},
        {[&](auto& s) { s.ReadString(text, 1); }, kOk, kWriteOnly, kNoFile, kWriteOnly},
    };
    const std::string path = SmallFile();
    auto reader = Reader(path), closedReader = Reader(path);
    auto writer = Writer(DataPath("written.bin")), closedWriter = Writer(DataPath("closed.bin"));
    closedReader->Close();
    closedWriter->Close();
    for (size_t slot = 1; slot <= 23; ++slot) {
        const Row& row = rows[slot - 1];
        const std::pair<CBinaryStreamer*, std::string> cases[] = {
            {reader.get(), row.onReader},
            {writer.get(), row.onWriter},
            {closedReader.get(), row.onClosedReader},
            {closedWriter.get(), row.onClosedWriter}};
        for (const auto& c : cases) {
            if (c.second.empty()) continue;  // the round trips cover the operations that work
            EXPECT_EQ(MessageOf([&] { row.call(*c.first); }), c.second) << "slot " << slot;
        }
    }
    // Each exception's trace line carries its message.
    EXPECT_TRUE(host::TraceContains("] - " + kNoFile2 + "\n"));
}

TEST_F(BinStreamerTest, NullArgumentsAreRefused) {
    const std::string kBad = Plain("invalid argument string");
    auto w = Writer(DataPath());
    const char* noFormat = nullptr;
    const std::pair<std::function<void()>, std::string> writes[] = {
        {[&] { w->WriteBuffer(nullptr, 1); }, kBad},
        {[&] { w->WriteUInt16Array(nullptr, 0); }, kBad},
        {[&] { w->WriteInt16Array(nullptr, 1); }, kBad},
        {[&] { w->WriteUInt32Array(nullptr, 1); }, kBad},
        {[&] { w->WriteInt32Array(nullptr, 1); }, kBad},
        {[&] { w->WriteString(sstring()); }, kBad},
        {[&] { w->Printf(noFormat); }, Plain("invalid format string")},
    };
    for (const auto& row : writes) EXPECT_EQ(MessageOf(row.first), row.second);
    w.reset();
    auto r = Reader(DataPath());
    const std::function<void()> reads[] = {
        [&] { r->ReadBuffer(nullptr, 1); }, [&] { r->ReadUInt16Array(nullptr, 1); },
        [&] { r->ReadInt16Array(nullptr, 1); }, [&] { r->ReadUInt32Array(nullptr, 1); },
        [&] { r->ReadInt32Array(nullptr, 1); }};
    for (const auto& read : reads) EXPECT_EQ(MessageOf(read), kBad);
}

TEST_F(BinStreamerTest, ReadStringFailures) {
    const std::string path = DataPath();
    const std::string text30 = "thirty bytes of text, no NULs.";
    {
        auto w = Writer(path);
        w->WriteBuffer("ab\0cd", 5);
        w->WriteString(sstring(text30.c_str()));
        w->WriteString(sstring(text30.c_str()));
    }
    auto r = Reader(path);
    sstring text("kept");
    EXPECT_EQ(MessageOf([&] { r->ReadString(text, 5); }),
              Plain("read string contains terminating characters!"));
    host::FailAllocationNumber(1);  // the temporary buffer: nothing is read
    EXPECT_EQ(MessageOf([&] { r->ReadString(text, 30); }),
              Plain("could not allocate temporary buffer"));
    host::FailAllocationNumber(2);  // the string's own buffer, after the bytes were read
    EXPECT_EQ(MessageOf([&] { r->ReadString(text, 30); }), Plain("problems duplicating string"));
    host::FailAllocationNumber(0);
    EXPECT_STREQ(text.c_str(), "kept");
    EXPECT_EQ(r->ReadString(text, 30), 30u);
    EXPECT_EQ(text.c_str(), text30);
    EXPECT_EQ(MessageOf([&] { r->ReadString(text, 1); }), Plain("cannot read from file"));
}

// ---- Temporary files and failures -------------------------------------------------------------

TEST_F(BinStreamerTest, TempFolders) {
    const std::string path = SmallFile();
    const std::string missing = m_temp / "missing", deep = m_temp / std::string(250, 'd');
    ASSERT_EQ(mkdir(deep.c_str(), 0700), 0);  // names must fit 260 bytes
    for (const std::string& folder : {missing, deep}) {
        for (const uint32_t mode : {fmt::kModeRead, fmt::kModeWrite}) {
            EXPECT_EQ(MessageOf([&] {
                          CBinaryStreamer s(sstring(path.c_str()), mode, sstring(folder.c_str()),
                                            0);
                      }),
                      "ASFileException - MESSAGE: Could not create a temp filename in folder \"" +
                          folder + "\"");
        }
    }
    char previous[4096];  // an uninitialised folder string means the current folder
    ASSERT_NE(getcwd(previous, sizeof previous), nullptr);
    ASSERT_EQ(chdir(m_temp.path().c_str()), 0);
    {
        CBinaryStreamer r(sstring(path.c_str()), fmt::kModeRead, sstring(), 0);
        EXPECT_EQ(m_temp.Entries("qxas").size(), 1u);
        EXPECT_TRUE(host::TraceContains("Bin Streamer temp file: ./qxas"));
    }
    ASSERT_EQ(chdir(previous), 0);
}

TEST_F(BinStreamerTest, AFailedCloseIsReportedOnceAndTheDestructorOnlyTracesIt) {
    const std::string path = DataPath();
    const std::string expected =
        "ASException - CODE: -551 MESSAGE: could not open " + path + ": " + std::strerror(ENOENT);
    {
        auto w = Writer(path);
        ASSERT_EQ(unlink(path.c_str()), 0);  // the digest pass can no longer reopen it
        EXPECT_EQ(MessageOf([&] { w->Close(); }), expected);
        EXPECT_EQ(MessageOf([&] { w->Close(); }), "");  // closed all the same
    }
    EXPECT_FALSE(host::TraceContains("Internal exception thrown when closing file"));
    {
        auto w = Writer(path);
        ASSERT_EQ(unlink(path.c_str()), 0);
    }  // the destructor closes, fails, and traces
    EXPECT_TRUE(host::TraceContains("Internal exception thrown when closing file [" + path +
                                    "] with message: " + expected + "\n"));
}

// Fails the 1st, 2nd, ... allocation of an open (and for a writer, its close) until one works:
// every failure must leave no temporary file and no hook block behind.
TEST_F(BinStreamerTest, FailedAllocationsLeaveNothingBehind) {
    const std::string path = SmallFile();
    for (const uint32_t mode : {fmt::kModeRead, fmt::kModeWrite}) {
        int failures = 0;
        bool done = false;
        for (uint64_t n = 1; !done && n < 64; ++n) {
            const uint64_t live = host::Counters().liveBytes;
            {
                const sstring name(path.c_str()), folder = TempFolder();
                host::FailAllocationNumber(n);
                try {
                    CBinaryStreamer s(name, mode, folder, 0);
                    if (mode == fmt::kModeWrite) s.WriteUInt32(7);
                    s.Close();
                    done = true;
                } catch (const ascommon::AException&) {
                    ++failures;
                }
                host::FailAllocationNumber(0);
            }
            EXPECT_TRUE(m_temp.Entries("qxas").empty()) << mode << " " << n;
            EXPECT_EQ(host::Counters().liveBytes, live) << mode << " " << n;
        }
        EXPECT_TRUE(done) << mode;
        EXPECT_GE(failures, 4) << mode;  // names, temp name, whole-file buffers, file object
    }
    EXPECT_EQ(Reader(path)->ReadUInt32(), 7u);
}

}  // namespace

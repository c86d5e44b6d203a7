// The binary streamer: typed round trips, the data file frame (header, digest, scrambling), the
// refusal of damaged files, the operations' checks and messages, and that a failed open leaves
// neither a temporary file nor a hook block behind.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <system_error>
#include <vector>

#include "common/asexception.h"
#include "common/asfile.h"
#include "common/binstreamer.h"
#include "host/host_hooks.h"
#include "tests/temp_folder.h"

using ascommon::CBinaryStreamer;
using ascommon::sstring;
using Bytes = std::vector<unsigned char>;
namespace fmt = ascommon::binformat;

namespace {

Bytes Md5Of(const Bytes& bytes, size_t from = 0) {
    Bytes payload(bytes.begin() + std::min(from, bytes.size()), bytes.end()), digest(16);
    payload.reserve(1);  // a buffer even when empty
    ascommon::ComputeCRC(payload.data(), payload.size(), digest.data());
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

// The digest failure of an unscrambled file: the first byte where its stored digest differs.
std::string CrcMessage(const std::string& file, const Bytes& plain) {
    const Bytes digest = Md5Of(plain, fmt::kHeaderSize);
    size_t i = 0;
    while (i < 16 && i < plain.size() && plain[i] == digest[i]) ++i;
    return Plain("File CRC does not match with its stored CRC! [" + file + "] position " +
                 std::to_string(i));
}

class BinStreamerTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(m_data.ok() && m_temp.ok());
        host::CaptureTraces(4);
        host::TakeTraces();
        m_liveBytes = host::Counters().liveBytes;
    }
    void TearDown() override {
        host::FailAllocationNumber(0);
        host::CaptureTraces(0);
        host::TakeTraces();
        EXPECT_TRUE(TempCopies().empty()) << "temporary files left behind";
        EXPECT_EQ(host::Counters().liveBytes, m_liveBytes) << "hook blocks left behind";
    }

    // Long names, so that the streamer's strings live on the heap.
    std::string DataPath(const std::string& name = "urls-black-list-data.bin") const {
        return m_data / name;
    }
    std::unique_ptr<CBinaryStreamer> Open(const std::string& path, uint32_t mode,
                                          uint32_t headerValue = 0) const {
        return std::make_unique<CBinaryStreamer>(sstring(path.c_str()), mode,
                                                 sstring(m_temp.path().c_str()), headerValue);
    }
    auto Reader(const std::string& path) const { return Open(path, fmt::kModeRead); }
    auto Writer(const std::string& path) const { return Open(path, fmt::kModeWrite); }
    std::string OpenFailure(const std::string& path) const {
        return MessageOf([&] { Reader(path); });
    }

    // A data file with a few values: 32-bit -2, 16-bit 0x1234, the string "ab", "9" by Printf.
    std::string SmallFile() const {
        const std::string path = DataPath();
        auto writer = Open(path, fmt::kModeWrite, 0x01020304);
        writer->WriteInt32(-2);
        writer->WriteUInt16(0x1234);
        writer->WriteString(sstring("ab"));
        writer->Printf("%u", 9u);
        return path;  // the destructor finishes the file
    }

    // The streamers' temporary copies ("qxas" names) in the temp folder.
    std::vector<std::string> TempCopies() const {
        return m_temp.Entries(testfiles::TempNameStart("qxas"));
    }

    testfiles::TempFolder m_data, m_temp;
    uint64_t m_liveBytes = 0;
};

TEST(ComputeCrcTest, Rfc1321VectorsAndNullArguments) {
    const std::pair<std::string, std::string> rows[] = {
        {"", "d41d8cd98f00b204e9800998ecf8427e"},
        {"abc", "900150983cd24fb0d6963f7d28e17f72"},
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

// Every typed operation written and read back; then the failures of ReadString, which keep the
// string as it was, and a read of a value cut short by the end of the file.
TEST_F(BinStreamerTest, EveryTypedOperationRoundTrips) {
    const std::string path = DataPath(), text = "a string longer than the inline buffer";
    const std::vector<uint16_t> u16s = {0, 0x1234, 0xFFFF};
    const std::vector<int16_t> i16s = {-32768, -1, 32767};
    const std::vector<uint32_t> u32s = {0, 0xDEADBEEF, 0xFFFFFFFF};
    const std::vector<int32_t> i32s = {INT32_MIN, -2, INT32_MAX};
    {
        // Scalars return 1, buffers and write arrays bytes; zero lengths transfer nothing.
        auto w = Writer(path);
        EXPECT_EQ((std::vector<size_t>{
                      w->WriteUInt16(0xA55A), w->WriteInt16(-2), w->WriteUInt32(0x89ABCDEF),
                      w->WriteInt32(-123456789), w->WriteByte(0xA7), w->WriteBuffer("raw\0b", 5),
                      w->WriteUInt16Array(u16s.data(), 3), w->WriteInt16Array(i16s.data(), 3),
                      w->WriteUInt32Array(u32s.data(), 3), w->WriteInt32Array(i32s.data(), 3),
                      w->WriteUInt32Array(u32s.data(), 0), w->WriteBuffer("", 0),
                      w->WriteString(sstring(text.c_str())),
                      static_cast<size_t>(w->Printf("%d-%s", 42, "x")), w->WriteBuffer("ab\0cd", 5),
                      w->WriteString(sstring(text.c_str())), w->WriteByte(1)}),
                  (std::vector<size_t>{1, 1, 1, 1, 1, 5, 6, 6, 12, 12, 0, 0, 38, 4, 5, 38, 1}));
    }
    auto r = Reader(path);
    EXPECT_EQ((std::vector<int64_t>{r->ReadUInt16(), r->ReadInt16(), r->ReadUInt32(),
                                    r->ReadInt32(), r->ReadByte()}),
              (std::vector<int64_t>{0xA55A, -2, 0x89ABCDEF, -123456789, 0xA7}));
    char raw[5];
    EXPECT_EQ(r->ReadBuffer(raw, 5), 5u);
    EXPECT_EQ(std::string(raw, 5), std::string("raw\0b", 5));
    std::vector<uint16_t> u16(3);
    std::vector<int16_t> i16(3);
    std::vector<uint32_t> u32(3);
    std::vector<int32_t> i32(3);
    EXPECT_EQ(
        (std::vector<size_t>{r->ReadUInt16Array(u16.data(), 3), r->ReadInt16Array(i16.data(), 3),
                             r->ReadUInt32Array(u32.data(), 3), r->ReadInt32Array(i32.data(), 3),
                             r->ReadUInt32Array(u32.data(), 0)}),
        (std::vector<size_t>{3, 3, 3, 3, 0}));
    EXPECT_TRUE(u16 == u16s && i16 == i16s && u32 == u32s && i32 == i32s);
    sstring read("previous");
    EXPECT_EQ(r->ReadString(read, 0), 0u);
    EXPECT_STREQ(read.c_str(), "");
    EXPECT_EQ(r->ReadString(read, 38), 38u);
    EXPECT_EQ(read.c_str(), text);
    EXPECT_EQ(r->ReadString(read, 4), 4u);
    EXPECT_STREQ(read.c_str(), "42-x");

    EXPECT_EQ(MessageOf([&] { r->ReadString(read, 5); }),
              Plain("read string contains terminating characters!"));
    host::FailAllocationNumber(1);  // the temporary buffer: nothing is read
    EXPECT_EQ(MessageOf([&] { r->ReadString(read, 38); }),
              Plain("could not allocate temporary buffer"));
    host::FailAllocationNumber(2);  // the string's own buffer, after the bytes were read
    EXPECT_EQ(MessageOf([&] { r->ReadString(read, 38); }), Plain("problems duplicating string"));
    host::FailAllocationNumber(0);
    EXPECT_STREQ(read.c_str(), "42-x");
    EXPECT_EQ(MessageOf([&] { r->ReadUInt16(); }), Plain("cannot read from file"));  // 1 of 2 bytes
}

TEST_F(BinStreamerTest, UnscrambledLayout) {
    const std::string path = SmallFile();
    const Bytes plain = Scrambled(testfiles::ReadAll(path));
    ASSERT_EQ(plain.size(), 128u + 9);
    EXPECT_EQ(Bytes(plain.begin(), plain.begin() + 16), Md5Of(plain, 128));
    EXPECT_EQ(std::string(plain.begin() + 16, plain.begin() + 116),
              std::string("File description should go here!") + std::string(68, '\0'));
    EXPECT_EQ(
        Bytes(plain.begin() + 116, plain.end()),
        (Bytes{0,    0,    0,    0,    0,    0,    0,   0,   4,  3, 2, 1,  // A, B, header value
               0xFE, 0xFF, 0xFF, 0xFF, 0x34, 0x12, 'a', 'b', '9'}));       // payload

    Writer(path)->Close();  // an empty payload has its digest too, and reads as empty
    EXPECT_EQ(MessageOf([&] { Reader(path)->ReadByte(); }), Plain("cannot read from file"));
}

// ---- Damaged files ----------------------------------------------------------------------------

// Every truncation and single changed bytes: the digest (0-15) and the payload (128-136) are
// checked, the rest of the header (description, values A, B and the header value) is not.
TEST_F(BinStreamerTest, DamagedFilesAreRefusedCleanly) {
    const std::string path = SmallFile();
    const Bytes plain = Scrambled(testfiles::ReadAll(path));
    std::vector<std::pair<Bytes, std::string>> rows;  // unscrambled file, failure of the open
    for (size_t length = 0; length < plain.size(); ++length) {
        const Bytes cut(plain.begin(), plain.begin() + length);
        rows.push_back({cut, length < 128 ? Plain("Could not read header component from file")
                                          : CrcMessage(path, cut)});
    }
    for (const size_t offset : {0, 7, 15, 16, 60, 115, 116, 121, 127, 128, 132, 136}) {
        Bytes changed = plain;
        changed[offset] ^= 0x01;
        rows.push_back({changed, offset < 16 || offset >= 128 ? CrcMessage(path, changed) : ""});
    }
    for (size_t i = 0; i < rows.size(); ++i) {
        testfiles::WriteAll(path, Scrambled(rows[i].first));
        host::TakeTraces();
        const uint64_t live = host::Counters().liveBytes;
        EXPECT_EQ(MessageOf([&] { EXPECT_EQ(Reader(path)->ReadInt32(), -2); }), rows[i].second)
            << "row " << i;
        EXPECT_TRUE(TempCopies().empty()) << "row " << i;
        EXPECT_EQ(host::Counters().liveBytes, live) << "row " << i;
        const std::string trace = "Exception [" + rows[i].second + "], removing streamer temp";
        EXPECT_EQ(host::TraceContains(trace), !rows[i].second.empty()) << "row " << i;
    }
}

TEST_F(BinStreamerTest, FilesThatCannotBeOpenedAndTheSizeLimit) {
    const std::string huge = DataPath("huge.bin"), missing = DataPath("missing.bin");
    testfiles::WriteAll(huge, {});
    std::filesystem::resize_file(huge, fmt::kMaxFileSize + 1);  // sparse
    const std::string kFile = "ASFileException - CODE: -700 MESSAGE: ";
    EXPECT_EQ(OpenFailure(missing), kFile + "Could not access file [" + missing + "]");
    EXPECT_EQ(OpenFailure(huge),
              kFile + "file [" + huge + "]ize exceeds 50 MB. It is to large [268435457 bytes]");
    // A folder: where the C runtime opens it for reading (Linux), its header cannot be read;
    // where it does not (Windows), the open fails with the runtime's reason.
    errno = 0;
    std::FILE* folder = ascommon::OpenFile(m_data.path().c_str(), "rb");
    const int folderError = errno;
    if (folder != nullptr) std::fclose(folder);
    EXPECT_EQ(OpenFailure(m_data.path()),
              folder != nullptr ? Plain("Could not read header component from file")
                                : "ASException - CODE: -551 MESSAGE: could not open " +
                                      m_data.path() + ": " + std::strerror(folderError));
    const std::string noFolder = DataPath("no/such.bin");  // a writer that cannot make its file
    EXPECT_EQ(MessageOf([&] { Writer(noFolder); }),
              "ASException - CODE: -551 MESSAGE: could not open " + noFolder + ": " +
                  std::strerror(ENOENT));
    // The scrambling pass at a small limit: exactly the limit passes.
    const std::string source = DataPath("source.bin"), target = DataPath("target.bin");
    auto scramble = [&] { ascommon::detail::ScrambleFile(source.c_str(), target.c_str(), 4096); };
    testfiles::WriteAll(source, Bytes(4096));
    EXPECT_EQ(MessageOf(scramble), "");
    testfiles::WriteAll(source, Bytes(4097));
    EXPECT_EQ(MessageOf(scramble),
              kFile + "file [" + source + "]ize exceeds 50 MB. It is to large [4097 bytes]");
}

// ---- Checks of the operations -----------------------------------------------------------------

// Every operation on an open reader, an open writer, a closed reader and a closed writer. The
// mode and open checks come before the argument checks; "" marks a call that works (the round
// trips cover those).
#define OP(...) [&](CBinaryStreamer& s) { s.__VA_ARGS__; }
TEST_F(BinStreamerTest, ModeOpenAndArgumentChecksOfEveryOperation) {
    // Slots 1 to 4 reach the file: a reader's write fails where the C runtime refuses writes to a
    // stream opened for reading (Linux); Windows' msvcrt copies them into the read buffer.
    const std::string probe = SmallFile();
    std::FILE* stream = ascommon::OpenFile(probe.c_str(), "rb");
    ASSERT_TRUE(stream != nullptr && std::fgetc(stream) != EOF);
    const bool readersRefuseWrites = std::fwrite("x", 1, 1, stream) != 1;
    std::fclose(stream);
    const std::string kReadOnly = Plain("wrong stream mode: read-only"),
                      kWriteOnly = Plain("wrong stream mode: write-only"),
                      kNoFile = Plain("invalid reference to file"),
                      kNoFile2 = Plain(" invalid reference to file"),  // two blanks
        kNoWrite2 = Plain(" Cannot write to file"), kBad = Plain("invalid argument string");
    const char* noFormat = nullptr;
    sstring text;
    struct Group {
        std::vector<std::function<void(CBinaryStreamer&)>> calls;
        std::string outcomes[4];  // reader, writer, closed reader, closed writer
    } groups[] = {
        // Slots 1 to 4 check no mode.
        {{OP(WriteUInt16(1)), OP(WriteInt16(1)), OP(WriteUInt32(1)), OP(WriteInt32(1))},
         {readersRefuseWrites ? kNoWrite2 : "", "", kNoFile2, kNoFile2}},
        {{OP(WriteByte(1)), OP(Printf("x"))}, {kReadOnly, "", kReadOnly, kNoFile}},
        {{OP(WriteBuffer(nullptr, 1)), OP(WriteUInt16Array(nullptr, 0)),  // a zero count too
          OP(WriteInt16Array(nullptr, 1)), OP(WriteUInt32Array(nullptr, 1)),
          OP(WriteInt32Array(nullptr, 1)), OP(WriteString(sstring()))},
         {kReadOnly, kBad, kReadOnly, kNoFile}},
        {{OP(Printf(noFormat))}, {kReadOnly, Plain("invalid format string"), kReadOnly, kNoFile}},
        {{OP(ReadUInt16()), OP(ReadInt16()), OP(ReadUInt32()), OP(ReadInt32()), OP(ReadByte()),
          OP(ReadString(text, 1))},
         {"", kWriteOnly, kNoFile, kWriteOnly}},
        {{OP(ReadBuffer(nullptr, 1)), OP(ReadUInt16Array(nullptr, 1)),
          OP(ReadInt16Array(nullptr, 1)), OP(ReadUInt32Array(nullptr, 1)),
          OP(ReadInt32Array(nullptr, 1))},
         {kBad, kWriteOnly, kNoFile, kWriteOnly}},
    };
    const std::string path = SmallFile();
    std::unique_ptr<CBinaryStreamer> streamers[] = {Reader(path), Writer(DataPath("written.bin")),
                                                    Reader(path), Writer(DataPath("closed"))};
    streamers[2]->Close();
    streamers[3]->Close();
    for (size_t g = 0; g < std::size(groups); ++g) {
        for (size_t c = 0; c < groups[g].calls.size(); ++c) {
            for (int s = 0; s < 4; ++s) {
                if (groups[g].outcomes[s].empty()) continue;
                EXPECT_EQ(MessageOf([&] { groups[g].calls[c](*streamers[s]); }),
                          groups[g].outcomes[s])
                    << "group " << g << " call " << c << " streamer " << s;
            }
        }
    }
    EXPECT_TRUE(host::TraceContains("] - " + kNoFile2 + "\n"));  // traced with its message
}
#undef OP

// ---- Temporary files and failures -------------------------------------------------------------

TEST_F(BinStreamerTest, TempCopiesAndTempFolders) {
    const std::string path = SmallFile();
    const Bytes before = testfiles::ReadAll(path);
    auto first = Reader(path), second = Reader(path);  // a copy each
    EXPECT_EQ(TempCopies().size(), 2u);
    EXPECT_TRUE(first->ReadInt32() == -2 && second->ReadInt32() == -2);
    first->Close();
    first->Close();  // closing again does nothing
    EXPECT_EQ(TempCopies().size(), 1u);
    second.reset();  // the destructor closes
    EXPECT_EQ(testfiles::ReadAll(path), before);
    EXPECT_TRUE(Writer(path) && TempCopies().empty());  // a writer keeps none
    // Names must fit 260 bytes: none does in a folder of 253.
    const std::string missing = m_temp / "missing",
                      deep = m_temp / std::string(252 - m_temp.path().size(), 'd');
    ASSERT_TRUE(std::filesystem::create_directory(testfiles::Native(deep)));
    for (const std::string& folder : {missing, deep}) {
        for (const uint32_t mode : {fmt::kModeRead, fmt::kModeWrite}) {
            EXPECT_EQ(MessageOf([&] {
                          CBinaryStreamer(sstring(path.c_str()), mode, sstring(folder.c_str()), 0);
                      }),
                      "ASFileException - MESSAGE: Could not create a temp filename in folder \"" +
                          folder + "\"");
        }
    }
    const auto previous = std::filesystem::current_path();  // an uninitialised folder string
    std::filesystem::current_path(testfiles::Native(m_temp.path()));  // means the current folder
    {
        CBinaryStreamer r(sstring(path.c_str()), fmt::kModeRead, sstring(), 0);
        EXPECT_EQ(TempCopies().size(), 1u);
    }
    std::filesystem::current_path(previous);
}

TEST_F(BinStreamerTest, AFailedCloseIsReportedOnceAndTheDestructorOnlyTracesIt) {
    const std::string path = DataPath();
    const std::string expected =
        "ASException - CODE: -551 MESSAGE: could not open " + path + ": " + std::strerror(ENOENT);
    {
        auto w = Writer(path);
        std::error_code error;  // the digest pass can no longer reopen it
        if (!std::filesystem::remove(testfiles::Native(path), error)) {
            GTEST_SKIP() << "a file open for writing cannot be deleted here (Windows), so the "
                            "digest pass cannot be made to fail: "
                         << error.message();
        }
        EXPECT_EQ(MessageOf([&] { w->Close(); }), expected);
        EXPECT_EQ(MessageOf([&] { w->Close(); }), "");  // closed all the same
    }
    EXPECT_FALSE(host::TraceContains("Internal exception thrown when closing file"));
    {
        auto w = Writer(path);
        ASSERT_TRUE(std::filesystem::remove(testfiles::Native(path)));
    }  // the destructor closes, fails, and traces
    EXPECT_TRUE(host::TraceContains("Internal exception thrown when closing file [" + path +
                                    "] with message: " + expected + "\n"));
}

// Fails the 1st, 2nd, ... allocation of an open (and for a writer, its close) until one works:
// every failure must leave no temporary file and no hook block behind.
TEST_F(BinStreamerTest, FailedAllocationsLeaveNothingBehind) {
    const std::string path = SmallFile();
    for (const uint32_t mode : {fmt::kModeRead, fmt::kModeWrite}) {
        std::string failure;
        uint64_t n = 0;
        do {
            const uint64_t live = host::Counters().liveBytes;
            ++n;
            failure = MessageOf([&] {
                const sstring name(path.c_str()), folder(m_temp.path().c_str());
                host::FailAllocationNumber(n);
                CBinaryStreamer s(name, mode, folder, 0);
                if (mode == fmt::kModeWrite) s.WriteInt32(-2);
                s.Close();
            });
            host::FailAllocationNumber(0);
            EXPECT_NE(failure, "?") << mode << " " << n;  // only the module's exceptions
            EXPECT_TRUE(TempCopies().empty()) << mode << " " << n;
            EXPECT_EQ(host::Counters().liveBytes, live) << mode << " " << n;
        } while (!failure.empty() && n < 64);
        EXPECT_EQ(failure, "") << mode;
        // At least names, temp name, whole-file buffers and file object fail before one works.
        EXPECT_GE(n, 5u) << mode;
    }
    EXPECT_EQ(Reader(path)->ReadInt32(), -2);
}

}  // namespace

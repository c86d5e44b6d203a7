// The binary streamer: typed round trips and the temporary copies readers keep, the data file
// frame (header, digest, scrambling), the refusal of damaged files, the operations' checks and
// messages, a failed close and the level of its trace lines, and that failed opens (allocation
// failures included) leave no temporary file.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <functional>
#include <memory>

#include "common/asexception.h"
#include "common/binstreamer.h"
#include "host/host_hooks.h"
#include "tests/temp_folder.h"
#include "tests/test_support.h"

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

// clang-format off
Bytes Scrambled(Bytes bytes) { for (unsigned char& b : bytes) b ^= fmt::kScrambleMask; return bytes; }
// clang-format on

// The message of the exception the call throws ("" when it throws none, "?" for a foreign one).
// clang-format off
std::string MessageOf(const std::function<void()>& call) {
    try { call(); return ""; } catch (const ascommon::ASException& e) { return e.what(); } catch (...) { return "?"; }
}
// clang-format on

auto Plain = [](const std::string& text) { return "ASException - MESSAGE: " + text; };
auto CannotOpen = [](const std::string& path, int error) {
    return "ASException - CODE: -551 MESSAGE: could not open " + path + ": " + std::strerror(error);
};

class BinStreamerTest : public ::testing::Test {
  protected:
    // The streamers' temporary copies ("qxas" names) in the temp folder.
    auto TempCopies() const { return m_temp.Entries(testfiles::TempNameStart("qxas")); }
    // clang-format off
    void SetUp() override { ASSERT_TRUE(m_data.ok() && m_temp.ok()); host::CaptureTraces(4); }
    void TearDown() override {
        host::CaptureTraces(0); host::TakeTraces();
        EXPECT_TRUE(TempCopies().empty()) << "temporary files left behind";
    }
    // Long names, so that the streamer's strings live on the heap.
    std::string DataPath(const std::string& name = "urls-black-list-data.bin") const { return m_data / name; }
    // clang-format on
    std::unique_ptr<CBinaryStreamer> Open(const std::string& path, uint32_t mode,
                                          uint32_t headerValue = 0, std::string temp = "") const {
        if (temp.empty()) temp = m_temp.path();
        return std::make_unique<CBinaryStreamer>(sstring(path.c_str()), mode, sstring(temp.c_str()),
                                                 headerValue);
    }
    auto Reader(const std::string& path) const { return Open(path, fmt::kModeRead); }
    auto Writer(const std::string& path) const { return Open(path, fmt::kModeWrite); }

    // A data file with a few values: 32-bit -2, 16-bit 0x1234, the string "ab", "9" by Printf.
    std::string SmallFile() const {
        const std::string path = DataPath();
        auto w = Open(path, fmt::kModeWrite, 0x01020304);
        // clang-format off
        w->WriteInt32(-2); w->WriteUInt16(0x1234); w->WriteString(sstring("ab")); w->Printf("%u", 9u);
        // clang-format on
        return path;  // the destructor finishes the file
    }

    testfiles::TempFolder m_data, m_temp;
};

// Every typed operation written and read back; then the failures of ReadString, which keep the
// string as it was, and a read of a value cut short by the end of the file. A writer keeps no
// temporary copy, each reader one until closed (closing twice does nothing); reading leaves the
// file as it was; an uninitialised temp folder string means the current folder.
TEST_F(BinStreamerTest, EveryTypedOperationRoundTripsAndTempCopies) {
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
        EXPECT_TRUE(TempCopies().empty());
    }
    const Bytes before = testfiles::ReadAll(path);
    auto r = Reader(path), second = Reader(path);
    EXPECT_EQ(TempCopies().size(), 2u);
    EXPECT_EQ((std::vector<int64_t>{r->ReadUInt16(), r->ReadInt16(), r->ReadUInt32(),
                                    r->ReadInt32(), r->ReadByte(), second->ReadUInt16()}),
              (std::vector<int64_t>{0xA55A, -2, 0x89ABCDEF, -123456789, 0xA7, 0xA55A}));
    char raw[5];
    EXPECT_TRUE(r->ReadBuffer(raw, 5) == 5 && std::string(raw, 5) == std::string("raw\0b", 5));
    auto readBack = [&](auto read, const auto& expected) {
        std::decay_t<decltype(expected)> got(expected.size());
        return (r.get()->*read)(got.data(), got.size()) == got.size() && got == expected;
    };
    EXPECT_TRUE(readBack(&CBinaryStreamer::ReadUInt16Array, u16s) &&
                readBack(&CBinaryStreamer::ReadInt16Array, i16s) &&
                readBack(&CBinaryStreamer::ReadUInt32Array, u32s) &&
                readBack(&CBinaryStreamer::ReadInt32Array, i32s));
    sstring read("previous"), full;
    // clang-format off
    EXPECT_EQ(r->ReadString(read, 0), 0u); EXPECT_STREQ(read.c_str(), "");
    EXPECT_EQ(r->ReadString(full, 38), 38u); EXPECT_EQ(full.c_str(), text);
    // clang-format on
    EXPECT_EQ(r->ReadString(read, 4), 4u);
    EXPECT_EQ(MessageOf([&] { r->ReadString(read, 5); }),
              Plain("read string contains terminating characters!"));
    // Failing the temporary buffer (nothing is read), then the string's own buffer (after).
    for (const auto& [n, failure] :
         {std::pair<int, const char*>{1, "could not allocate temporary buffer"},
          {2, "problems duplicating string"}}) {
        host::FailAllocationNumber(n);
        EXPECT_EQ(MessageOf([&] { r->ReadString(read, 38); }), Plain(failure));
    }
    host::FailAllocationNumber(0);
    EXPECT_STREQ(read.c_str(), "42-x");
    EXPECT_EQ(MessageOf([&] { r->ReadUInt16(); }), Plain("cannot read from file"));  // 1 of 2 bytes
    // clang-format off
    r->Close(); r->Close();
    // clang-format on
    EXPECT_EQ(TempCopies().size(), 1u);
    second.reset();  // the destructor closes
    EXPECT_EQ(testfiles::ReadAll(path), before);
    const auto previous = std::filesystem::current_path();
    std::filesystem::current_path(testfiles::Native(m_temp.path()));
    // clang-format off
    { CBinaryStreamer here(sstring(path.c_str()), fmt::kModeRead, sstring(), 0); EXPECT_EQ(TempCopies().size(), 1u); }
    // clang-format on
    std::filesystem::current_path(previous);
}

// The digest (an RFC 1321 vector; null arguments refused). The frame: digest of the payload,
// description, values A and B, the header value, payload. An empty payload has its digest too, and
// reads as empty. Then every truncation and single changed bytes: the digest (0-15) and the payload
// (128-136) are checked, the rest of the header is not; a refused file leaves no temporary copy and
// traces why.
TEST_F(BinStreamerTest, LayoutAndDamagedFiles) {
    EXPECT_EQ(Md5Of(Bytes{'a', 'b', 'c'}), (Bytes{0x90, 0x01, 0x50, 0x98, 0x3c, 0xd2, 0x4f, 0xb0,
                                                  0xd6, 0x96, 0x3f, 0x7d, 0x28, 0xe1, 0x7f, 0x72}));
    unsigned char digest[16];
    const std::string refused = "ASBadPtrException - MESSAGE: Invalid parameters in ComputeCRC";
    EXPECT_EQ(MessageOf([&] { ascommon::ComputeCRC(nullptr, 0, digest); }), refused);
    EXPECT_EQ(MessageOf([&] { ascommon::ComputeCRC(digest, 1, nullptr); }), refused);
    const std::string path = SmallFile();
    const Bytes plain = Scrambled(testfiles::ReadAll(path));
    ASSERT_EQ(plain.size(), 128u + 9);
    EXPECT_EQ(Bytes(plain.begin(), plain.begin() + 16), Md5Of(plain, 128));
    // The description padded to 100 bytes, A and B (0), the header value, the payload.
    EXPECT_EQ(std::string(plain.begin() + 16, plain.end()),
              "File description should go here!" + std::string(76, '\0') +
                  "\x04\x03\x02\x01\xFE\xFF\xFF\xFF\x34\x12"
                  "ab9");
    const std::string empty = DataPath("empty.bin");
    Writer(empty)->Close();
    EXPECT_EQ(MessageOf([&] { Reader(empty)->ReadByte(); }), Plain("cannot read from file"));

    // The digest failure names the first byte where the stored digest differs.
    auto crcMessage = [&](const Bytes& file) {
        const Bytes digest = Md5Of(file, fmt::kHeaderSize);
        size_t i = 0;
        while (i < 16 && i < file.size() && file[i] == digest[i]) ++i;
        return Plain("File CRC does not match with its stored CRC! [" + path + "] position " +
                     std::to_string(i));
    };
    std::vector<std::pair<Bytes, std::string>> rows;  // unscrambled file, failure of the open
    for (size_t length = 0; length < plain.size(); ++length) {
        const Bytes cut(plain.begin(), plain.begin() + length);
        rows.push_back({cut, length < 128 ? Plain("Could not read header component from file")
                                          : crcMessage(cut)});
    }
    for (const size_t offset : {0, 7, 15, 16, 60, 115, 116, 121, 127, 128, 132, 136}) {
        Bytes changed = plain;
        changed[offset] ^= 0x01;
        rows.push_back({changed, offset < 16 || offset >= 128 ? crcMessage(changed) : ""});
    }
    for (size_t i = 0; i < rows.size(); ++i) {
        SCOPED_TRACE(i);
        const auto& [file, failure] = rows[i];
        testfiles::WriteAll(path, Scrambled(file));
        host::TakeTraces();
        EXPECT_EQ(MessageOf([&] { EXPECT_EQ(Reader(path)->ReadInt32(), -2); }), failure);
        EXPECT_TRUE(TempCopies().empty());
        EXPECT_EQ(host::TraceContains("Exception [" + failure + "], removing"), !failure.empty());
    }
}

// Missing and oversized files (the size limit checked by the scrambling pass: exactly the limit
// passes), a writer that cannot make its file, and a temp folder where no name can be made.
TEST_F(BinStreamerTest, FilesAndFoldersThatCannotBeUsed) {
    const std::string huge = DataPath("huge.bin"), missing = DataPath("missing.bin");
    testfiles::WriteAll(huge, {});
    std::filesystem::resize_file(testfiles::Native(huge), fmt::kMaxFileSize + 1);  // sparse
    const std::string kFile = "ASFileException - CODE: -700 MESSAGE: ";
    EXPECT_EQ(MessageOf([&] { Reader(missing); }),
              kFile + "Could not access file [" + missing + "]");
    EXPECT_EQ(MessageOf([&] { Reader(huge); }),
              kFile + "file [" + huge + "]ize exceeds 50 MB. It is to large [268435457 bytes]");
    const std::string noFolder = DataPath("no/such.bin");
    EXPECT_EQ(MessageOf([&] { Writer(noFolder); }), CannotOpen(noFolder, ENOENT));
    const std::string source = DataPath("source.bin"), target = DataPath("target.bin");
    testfiles::WriteAll(source, Bytes(4096));  // exactly the limit
    EXPECT_EQ(
        MessageOf([&] { ascommon::detail::ScrambleFile(source.c_str(), target.c_str(), 4096); }),
        "");
    const std::string absent = m_temp / "missing";
    EXPECT_EQ(
        MessageOf([&] { Open(source, fmt::kModeWrite, 0, absent); }),
        "ASFileException - MESSAGE: Could not create a temp filename in folder \"" + absent + "\"");
}

// Each check once: the mode checks, the open check (the scalar writes have their own, with two
// blanks, and it is traced with its message), and the argument checks, which come after them.
#define OP(...) [&](CBinaryStreamer& s) { s.__VA_ARGS__; }
TEST_F(BinStreamerTest, ModeOpenAndArgumentChecks) {
    const std::string path = SmallFile();
    std::unique_ptr<CBinaryStreamer> reader = Reader(path), writer = Writer(DataPath("written")),
                                     closed = Writer(DataPath("closed"));
    closed->Close();
    const char* noFormat = nullptr;
    // clang-format off
    const std::tuple<std::function<void(CBinaryStreamer&)>, CBinaryStreamer*, std::string> rows[] = {
        {OP(WriteUInt16Array(nullptr, 1)), reader.get(), "wrong stream mode: read-only"},
        {OP(ReadBuffer(nullptr, 1)), writer.get(), "wrong stream mode: write-only"},
        {OP(ReadInt16()), closed.get(), "wrong stream mode: write-only"},
        {OP(WriteByte(1)), closed.get(), "invalid reference to file"},
        {OP(WriteInt32(1)), closed.get(), " invalid reference to file"},
        {OP(WriteBuffer(nullptr, 0)), writer.get(), "invalid argument string"},
        {OP(ReadUInt32Array(nullptr, 1)), reader.get(), "invalid argument string"},
        {OP(Printf(noFormat)), writer.get(), "invalid format string"},
    };
    // clang-format on
    for (const auto& [call, streamer, message] : rows)
        EXPECT_EQ(MessageOf([&] { call(*streamer); }), Plain(message));
    EXPECT_TRUE(host::TraceContains("] - " + Plain(" invalid reference to file") + "\n"));
    reader->Close();
    EXPECT_EQ(MessageOf([&] { reader->ReadByte(); }), Plain("invalid reference to file"));
}
#undef OP

// A close that fails (the digest pass can no longer reopen the file) throws once, closed all the
// same; the destructor only traces it. Both are traced as errors, at level 1.
TEST_F(BinStreamerTest, AFailedCloseIsReportedOnceAndTracedAtLevelOne) {
    const std::string path = DataPath(), expected = CannotOpen(path, ENOENT);
    testing_support::LeveledTraces traces;
    {
        auto w = Writer(path);
        std::error_code error;
        if (!std::filesystem::remove(testfiles::Native(path), error))
            GTEST_SKIP() << "an open file cannot be deleted here (Windows): " << error.message();
        EXPECT_EQ(MessageOf([&] { w->Close(); }), expected);
        EXPECT_EQ(MessageOf([&] { w->Close(); }), "");
    }
    const std::string destructorLine =
        "Internal exception thrown when closing file [" + path + "] with message: " + expected;
    EXPECT_EQ(std::make_pair(traces.Level("] - " + expected + "\n"), traces.Level(destructorLine)),
              std::make_pair(1, 0));
    // clang-format off
    { auto w = Writer(path); ASSERT_TRUE(std::filesystem::remove(testfiles::Native(path))); }
    // clang-format on
    EXPECT_EQ(traces.Level(destructorLine + "\n"), 1);
}

// Fails the 1st, 2nd, ... allocation of an open (and for a writer, its close) until one works:
// every failure must leave no temporary file and no hook block behind.
TEST_F(BinStreamerTest, FailedAllocationsLeaveNothingBehind) {
    const std::string path = SmallFile();
    for (const uint32_t mode : {fmt::kModeRead, fmt::kModeWrite}) {
        std::string failure;
        uint64_t n = 0;
        do {
            ++n;
            failure = MessageOf([&] {
                const sstring name(path.c_str()), folder(m_temp.path().c_str());
                host::FailAllocationNumber(n);
                CBinaryStreamer s(name, mode, folder, 0);
                if (mode == fmt::kModeWrite) s.WriteInt32(-2);
                s.Close();
            });
            host::FailAllocationNumber(0);
            // Only the module's exceptions, and no temporary file left.
            EXPECT_TRUE(failure != "?" && TempCopies().empty()) << mode << " " << n << failure;
        } while (!failure.empty() && n < 64);
        EXPECT_EQ(failure, "") << mode;
        // At least names, temp name, whole-file buffers and file object fail before one works.
        EXPECT_GE(n, 5u) << mode;
    }
    EXPECT_EQ(Reader(path)->ReadInt32(), -2);
}

}  // namespace

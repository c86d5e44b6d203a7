// Fuzz target: the data-file reader (binary streamer and URL database) on hostile files. The
// input's first byte picks how the rest becomes the file:
//   0 - the bytes are the file as it lies on disk (scrambled);
//   1 - the bytes are the unscrambled file, header included, and are scrambled here;
//   2 - the bytes are the payload: a header carrying its correct digest goes in front and the
//       whole is scrambled, so that the reads get past the digest check.
// The URL database loads the file and then subtracts it again; a streamer reads it with typed
// reads chosen by the bytes it reads. Checks: only the module's exceptions come out, a load gives
// one of its codes, subtracting a file that loaded whole empties the database again, and no
// temporary copy is left behind.
#include <cstring>
#include <functional>
#include <string>

#include "common/asexception.h"
#include "common/binstreamer.h"
#include "engines/urldb2/urldb2.h"
#include "fuzz/fuzz_support.h"
#include "tests/temp_folder.h"

namespace {

namespace fmt = ascommon::binformat;
using ascommon::CURLDB2;
using ascommon::sstring;

// An unscrambled file around `payload`: its digest, the writer's description, zero values.
std::string Framed(const std::string& payload) {
    std::string header(fmt::kHeaderSize, '\0');
    static const unsigned char kNothing = 0;
    ascommon::ComputeCRC(
        payload.empty() ? &kNothing : reinterpret_cast<const unsigned char*>(payload.data()),
        payload.size(), reinterpret_cast<unsigned char*>(&header[fmt::kDigestOffset]));
    std::memcpy(&header[fmt::kDescriptionOffset], fmt::kDescription, sizeof fmt::kDescription);
    return header + payload;
}

// Typed reads until one fails, each chosen by a byte read from the file itself: the low three
// bits pick the read, the rest its length.
void ReadEverything(const sstring& file, const sstring& folder) {
    try {
        ascommon::CBinaryStreamer in(file, fmt::kModeRead, folder, 0);
        uint8_t buffer[64];
        uint32_t words[16];
        uint16_t halves[32];
        sstring text;
        // clang-format off
        const std::function<void(size_t)> reads[] = {
            [&](size_t) { in.ReadUInt16(); }, [&](size_t) { in.ReadInt32(); }, [&](size_t n) { in.ReadBuffer(buffer, n); },
            [&](size_t n) { FUZZ_CHECK(in.ReadString(text, n) == n && text.length() == n, "ReadString %zu", n); },
            [&](size_t n) { in.ReadUInt32Array(words, n % 16); },
            [&](size_t n) { in.ReadInt16Array(reinterpret_cast<int16_t*>(halves), n); },
            [&](size_t n) { in.ReadUInt16Array(halves, n); }};
        // clang-format on
        for (uint8_t op = in.ReadByte(); (op & 7) != 7; op = in.ReadByte()) reads[op & 7](op >> 3);
        in.Close();
    } catch (const ascommon::AException&) {
        // refused files and reads past the end
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const testfiles::TempFolder workspace;  // removed at exit
    FUZZ_CHECK(workspace.ok(), "cannot make a work folder");
    fuzz::Input input(data, size);
    const uint8_t mode = input.Byte() % 3;
    std::string bytes = mode == 2 ? Framed(input.Rest()) : input.Rest();
    for (char& c : bytes) c = mode == 0 ? c : static_cast<char>(c ^ fmt::kScrambleMask);
    const std::string path = workspace / "data-file-under-test.dat";
    testfiles::WriteFile(path, bytes);
    const sstring file(path.c_str()), folder(workspace.path().c_str());
    CURLDB2 db;
    const int32_t loaded = db.LoadDataFile(file, folder);
    FUZZ_CHECK(loaded == 0 || loaded == CURLDB2::kWrongDigestWidth ||
                   loaded == CURLDB2::kNotADataFile || loaded == CURLDB2::kCorrupt,
               "load gave %d", loaded);
    FUZZ_CHECK(db.SubtractDataFile(file, folder) == 0, "subtract failed");
    FUZZ_CHECK(loaded != 0 || db.m_URLs.size() + db.m_subDomains.size() + db.m_domains.size() == 0,
               "subtracting the loaded file left keys");
    ReadEverything(file, folder);
    // Temporary copies have names of their own, so one left by any step is still there.
    FUZZ_CHECK(workspace.Entries(testfiles::TempNameStart(fmt::kTempPrefix)).empty(),
               "temp file left behind");
    return 0;
}

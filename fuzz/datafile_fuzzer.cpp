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
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <system_error>

#include "common/asexception.h"
#include "common/binstreamer.h"
#include "engines/urldb2/urldb2.h"
#include "fuzz/fuzz_support.h"

namespace {

namespace fmt = ascommon::binformat;
using ascommon::sstring;

// A folder of this process for the data file and the temporary copies, removed at exit.
struct Workspace {
    std::string folder;
    std::string file;
    Workspace() {
        char pattern[] = "/tmp/molvex-fuzz-datafile-XXXXXX";
        FUZZ_CHECK(mkdtemp(pattern) != nullptr, "cannot make a work folder");
        folder = pattern;
        file = folder + "/data-file-under-test.dat";
    }
    ~Workspace() {
        std::error_code ignored;
        std::filesystem::remove_all(folder, ignored);
    }
    void Write(const std::string& bytes) const {
        FILE* out = std::fopen(file.c_str(), "wb");
        FUZZ_CHECK(out != nullptr, "cannot write %s", file.c_str());
        if (!bytes.empty()) std::fwrite(bytes.data(), 1, bytes.size(), out);
        std::fclose(out);
    }
    void CheckNoTempFile() const {
        for (const auto& entry : std::filesystem::directory_iterator(folder)) {
            const std::string name = entry.path().filename().string();
            FUZZ_CHECK(name.compare(0, 4, fmt::kTempPrefix) != 0, "temp file %s left behind",
                       name.c_str());
        }
    }
};

std::string Scrambled(std::string bytes) {
    for (char& c : bytes) c = static_cast<char>(c ^ fmt::kScrambleMask);
    return bytes;
}

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

// Typed reads until one fails, each chosen by a byte read from the file itself.
void ReadEverything(const Workspace& w) {
    try {
        ascommon::CBinaryStreamer in(sstring(w.file.c_str()), fmt::kModeRead,
                                     sstring(w.folder.c_str()), 0);
        uint8_t buffer[64];
        uint32_t words[16];
        uint16_t halves[32];
        for (;;) {
            const uint8_t op = in.ReadByte();
            const size_t n = op >> 3;  // 0..31
            switch (op & 7) {
                case 0:
                    in.ReadUInt16();
                    break;
                case 1:
                    in.ReadInt32();
                    break;
                case 2:
                    in.ReadBuffer(buffer, n);
                    break;
                case 3: {
                    sstring text;
                    FUZZ_CHECK(in.ReadString(text, n) == n, "ReadString length");
                    FUZZ_CHECK(text.length() == n, "a read string holds %zu bytes", n);
                    break;
                }
                case 4:
                    in.ReadUInt32Array(words, n % 16);
                    break;
                case 5:
                    in.ReadInt16Array(reinterpret_cast<int16_t*>(halves), n);
                    break;
                case 6:
                    in.ReadUInt16Array(halves, n);
                    break;
                default:
                    in.Close();
                    return;
            }
        }
    } catch (const ascommon::AException&) {
        // refused files and reads past the end
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const Workspace workspace;
    fuzz::Input input(data, size);
    const uint8_t mode = input.Byte() % 3;
    const std::string rest = input.Rest();
    workspace.Write(mode == 0 ? rest : Scrambled(mode == 1 ? rest : Framed(rest)));

    const sstring file(workspace.file.c_str()), folder(workspace.folder.c_str());
    ascommon::CURLDB2 db;
    const int32_t loaded = db.LoadDataFile(file, folder);
    FUZZ_CHECK(loaded == 0 || loaded == -9 || loaded == -13 || loaded == -14, "load gave %d",
               loaded);
    workspace.CheckNoTempFile();
    const int32_t subtracted = db.SubtractDataFile(file, folder);
    FUZZ_CHECK(subtracted == 0, "subtract gave %d", subtracted);
    if (loaded == 0) {
        FUZZ_CHECK(db.m_URLs.size() == 0 && db.m_subDomains.size() == 0 && db.m_domains.size() == 0,
                   "subtracting the loaded file left %u, %u, %u keys", db.m_URLs.size(),
                   db.m_subDomains.size(), db.m_domains.size());
    }
    workspace.CheckNoTempFile();
    ReadEverything(workspace);
    workspace.CheckNoTempFile();
    return 0;
}

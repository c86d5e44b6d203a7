// Replays fuzz inputs without libFuzzer: runs the target's LLVMFuzzerTestOneInput once on every
// file named on the command line, and on every file of each folder named there (in name order).
// A path that does not exist, or nothing replayed at all, exits 1 with a message naming it, so a
// corpus that went missing fails its test; a failing input aborts in the target.
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

int main(int argc, char** argv) {
    namespace fs = std::filesystem;
    std::set<fs::path> files;  // in name order, folder by folder
    size_t replayed = 0;
    for (int i = 1; i < argc; ++i, replayed += files.size(), files.clear()) {
        std::error_code error;
        if (!fs::exists(argv[i], error)) {
            std::fprintf(stderr, "replay: %s does not exist\n", argv[i]);
            return 1;
        }
        if (!fs::is_directory(argv[i])) files.insert(argv[i]);
        for (const auto& entry :
             fs::is_directory(argv[i]) ? fs::directory_iterator(argv[i]) : fs::directory_iterator())
            if (entry.is_regular_file()) files.insert(entry.path());
        for (const fs::path& file : files) {
            std::ifstream in(file, std::ios::binary);
            const std::string bytes{std::istreambuf_iterator<char>(in), {}};
            LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
        }
    }
    std::printf("replayed %zu inputs\n", replayed);
    if (replayed == 0) std::fprintf(stderr, "replay: no input file found, nothing replayed\n");
    return replayed != 0 ? 0 : 1;
}

// A folder of its own for each file test, made under /tmp and removed with its contents at the
// end, plus whole-file helpers.
#pragma once

#include <dirent.h>
#include <ftw.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace testfiles {

class TempFolder {
  public:
    TempFolder() {
        char pattern[] = "/tmp/molvex-files-XXXXXX";
        const char* made = mkdtemp(pattern);
        if (made != nullptr) m_path = made;
    }
    ~TempFolder() {
        if (m_path.empty()) return;
        nftw(
            m_path.c_str(),
            [](const char* path, const struct stat*, int, struct FTW*) {
                return std::remove(path);
            },
            16, FTW_DEPTH | FTW_PHYS);
    }
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    bool ok() const { return !m_path.empty(); }
    const std::string& path() const { return m_path; }
    std::string operator/(const std::string& name) const { return m_path + "/" + name; }

    // The names of the entries that start with prefix.
    std::vector<std::string> Entries(const std::string& prefix) const {
        std::vector<std::string> names;
        DIR* folder = opendir(m_path.c_str());
        if (folder == nullptr) return names;
        while (const dirent* entry = readdir(folder)) {
            const std::string name = entry->d_name;
            if (name.compare(0, prefix.size(), prefix) == 0 && name != "." && name != "..") {
                names.push_back(name);
            }
        }
        closedir(folder);
        return names;
    }

  private:
    std::string m_path;
};

inline std::vector<unsigned char> ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<unsigned char>((std::istreambuf_iterator<char>(in)),
                                      std::istreambuf_iterator<char>());
}

inline void WriteAll(const std::string& path, const std::vector<unsigned char>& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
}

inline bool Exists(const std::string& path) {
    return access(path.c_str(), F_OK) == 0;
}

}  // namespace testfiles

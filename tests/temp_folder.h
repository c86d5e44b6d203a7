// A folder of its own for each file test, made under /tmp and removed with its contents at the
// end, plus whole-file helpers.
#pragma once

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <system_error>
#include <vector>

namespace testfiles {

class TempFolder {
  public:
    TempFolder() {
        char pattern[] = "/tmp/molvex-files-XXXXXX";
        if (mkdtemp(pattern) != nullptr) m_path = pattern;
    }
    ~TempFolder() {
        std::error_code ignored;
        if (ok()) std::filesystem::remove_all(m_path, ignored);
    }
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    bool ok() const { return !m_path.empty(); }
    const std::string& path() const { return m_path; }
    std::string operator/(const std::string& name) const { return m_path + "/" + name; }

    // The names of the entries that start with prefix.
    std::vector<std::string> Entries(const std::string& prefix) const {
        std::vector<std::string> names;
        std::error_code ignored;
        for (const auto& entry : std::filesystem::directory_iterator(m_path, ignored)) {
            const std::string name = entry.path().filename().string();
            if (name.compare(0, prefix.size(), prefix) == 0) names.push_back(name);
        }
        return names;
    }

  private:
    std::string m_path;
};

inline std::vector<unsigned char> ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline void WriteAll(const std::string& path, const std::vector<unsigned char>& bytes) {
    std::ofstream(path, std::ios::binary | std::ios::trunc)
        .write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
}

inline void WriteFile(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
}

inline bool Exists(const std::string& path) {
    return access(path.c_str(), F_OK) == 0;
}

}  // namespace testfiles

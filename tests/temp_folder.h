// A folder of its own for each file test, made in the system's temporary folder and removed with
// its contents at the end, plus whole-file helpers. Paths are UTF-8 strings joined with the
// platform's separator; the helpers reach the files by their UTF-8 names on every platform.
#pragma once

#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <system_error>
#include <vector>

#include "common/platform.h"

namespace testfiles {

// clang-format off
inline std::filesystem::path Native(const std::string& path) { return std::filesystem::u8path(path); }
// clang-format on

class TempFolder {
  public:
    TempFolder() {
        std::error_code error;
        const std::filesystem::path base = std::filesystem::temp_directory_path(error);
        std::random_device random;
        for (int attempt = 0; !error && attempt < 100 && m_path.empty(); ++attempt) {
            const auto folder = base / ("molvex-files-" + std::to_string(random()));
            if (std::filesystem::create_directory(folder, error)) m_path = folder.u8string();
        }
    }
    ~TempFolder() {
        std::error_code ignored;
        if (ok()) std::filesystem::remove_all(Native(m_path), ignored);
    }
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    bool ok() const { return !m_path.empty(); }
    const std::string& path() const { return m_path; }
    std::string operator/(const std::string& name) const {
        return m_path + platform::kPathSeparator + name;
    }

    // The names of the entries that start with prefix.
    std::vector<std::string> Entries(const std::string& prefix) const {
        std::vector<std::string> names;
        std::error_code ignored;
        for (const auto& entry : std::filesystem::directory_iterator(Native(m_path), ignored)) {
            const std::string name = entry.path().filename().u8string();
            if (name.compare(0, prefix.size(), prefix) == 0) names.push_back(name);
        }
        return names;
    }

  private:
    std::string m_path;
};

// How the names of the unique temporary file service start for a prefix (Windows keeps only
// its first characters).
// clang-format off
inline std::string TempNameStart(const std::string& prefix) { return prefix.substr(0, platform::kTempPrefixKept); }
// clang-format on

// Whole files: read, written (replacing any content), and whether a path exists.
// clang-format off
inline std::vector<unsigned char> ReadAll(const std::string& path) {
    std::ifstream in(Native(path), std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}
inline void WriteFile(const std::string& path, const std::string& text) { std::ofstream(Native(path), std::ios::binary) << text; }
inline void WriteAll(const std::string& path, const std::vector<unsigned char>& bytes) { WriteFile(path, {bytes.begin(), bytes.end()}); }
inline bool Exists(const std::string& path) { std::error_code ignored; return std::filesystem::exists(Native(path), ignored); }
// clang-format on

}  // namespace testfiles

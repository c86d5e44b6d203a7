// Mail inputs: collecting files and splitting mbox files.
#include "host/mail_inputs.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <system_error>

namespace host {

namespace fs = std::filesystem;

namespace {

bool EndsWith(const std::string& text, const char* suffix) {
    const size_t n = std::strlen(suffix);
    return text.size() >= n && text.compare(text.size() - n, n, suffix) == 0;
}

bool IsMailFile(const fs::path& path) {
    const std::string name = path.filename().string();
    if (name.empty() || name[0] == '.') return false;
    if (EndsWith(name, ".eml") || EndsWith(name, ".mbox")) return true;
    const std::string parent = path.parent_path().filename().string();
    return parent == "cur" || parent == "new";
}

}  // namespace

std::vector<InputFile> CollectInputs(const std::vector<std::string>& paths) {
    std::vector<InputFile> files;
    for (const std::string& path : paths) {
        std::error_code ec;
        const fs::file_status status = fs::status(path, ec);
        if (ec || !fs::exists(status)) {
            files.push_back({path, 0, ec ? ec.message() : "no such file or folder"});
            continue;
        }
        if (!fs::is_directory(status)) {
            files.push_back({path, fs::is_regular_file(status) ? fs::file_size(path, ec) : 0, ""});
            continue;
        }
        std::vector<InputFile> found;
        fs::recursive_directory_iterator it(path, fs::directory_options::skip_permission_denied,
                                            ec);
        for (; !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
            std::error_code entryError;
            if (it->is_regular_file(entryError) && IsMailFile(it->path())) {
                found.push_back({it->path().string(), it->file_size(entryError), ""});
            }
        }
        std::sort(found.begin(), found.end(),
                  [](const InputFile& a, const InputFile& b) { return a.path < b.path; });
        files.insert(files.end(), found.begin(), found.end());
        if (ec) files.push_back({path, 0, "cannot walk the folder: " + ec.message()});
    }
    return files;
}

bool LooksLikeMbox(std::string_view data) {
    return data.substr(0, 5) == "From ";
}

std::vector<std::string_view> SplitMbox(std::string_view data) {
    std::vector<std::string_view> messages;
    size_t envelope = 0;  // start of the current "From " line
    while (envelope < data.size()) {
        const size_t lineEnd = data.find('\n', envelope);
        if (lineEnd == std::string_view::npos) break;  // an envelope line and nothing else
        const size_t start = lineEnd + 1;
        size_t next = start;
        for (;;) {
            next = data.find("\nFrom ", next);
            if (next == std::string_view::npos) break;
            // Only a "From " line after a blank line starts a new message; in any other place it
            // is body text that the writer failed to quote.
            if (next > start && (data[next - 1] == '\n' ||
                                 (data[next - 1] == '\r' && next >= 2 && data[next - 2] == '\n'))) {
                break;
            }
            ++next;
        }
        size_t end = next == std::string_view::npos ? data.size() : next;
        // The line break that ends the message belongs to the separator.
        if (next != std::string_view::npos && end > start && data[end - 1] == '\r') --end;
        messages.push_back(data.substr(start, end - start));
        if (next == std::string_view::npos) break;
        envelope = next + 1;
    }
    return messages;
}

bool ReadWholeFile(const std::string& path, std::string* content, std::string* error) {
    FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) {
        *error = path + ": " + std::strerror(errno);
        return false;
    }
    content->clear();
    char buffer[1 << 16];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, file)) > 0) content->append(buffer, n);
    const bool failed = std::ferror(file) != 0;
    const int readErrno = errno;
    std::fclose(file);
    if (failed) {
        *error = path + ": " + std::strerror(readErrno);
        return false;
    }
    return true;
}

}  // namespace host

// Mail inputs: collecting files, splitting mbox files, reading messages one at a time.
#include "host/mail_inputs.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "common/platform.h"

namespace host {

namespace fs = std::filesystem;

namespace {

// Every file of a folder is a candidate except hidden ones ("." first) and the files of a
// Maildir's "tmp" folder, which are still being delivered.
bool IsCandidate(const fs::path& path) {
    const std::string name = path.filename().string();
    if (name.empty() || name[0] == '.') return false;
    const fs::path folder = path.parent_path();
    std::error_code ec;
    return !(folder.filename() == "tmp" && fs::is_directory(folder.parent_path() / "cur", ec));
}

// The reason a path that exists cannot be scanned as a file, or empty for a regular file.
std::string KindProblem(const fs::file_status& status) {
    switch (status.type()) {
        case fs::file_type::regular:
            return "";
        case fs::file_type::fifo:
            return "not a regular file (a FIFO)";
        case fs::file_type::character:
        case fs::file_type::block:
            return "not a regular file (a device)";
        case fs::file_type::socket:
            return "not a regular file (a socket)";
        default:
            return "not a regular file";
    }
}

// Walks one folder and its subfolders (without following links to folders) with a stack of its
// own; every folder that cannot be read gives an entry with the reason.
void WalkFolder(const std::string& root, std::vector<InputFile>* found) {
    std::vector<fs::path> folders{fs::path(root)};
    while (!folders.empty()) {
        const fs::path folder = std::move(folders.back());
        folders.pop_back();
        std::error_code ec;
        fs::directory_iterator it(folder, ec);
        for (; !ec && it != fs::directory_iterator(); it.increment(ec)) {
            std::error_code entryError;
            const fs::file_status link = it->symlink_status(entryError);
            if (fs::is_directory(link)) {
                folders.push_back(it->path());
                continue;
            }
            if (!IsCandidate(it->path())) continue;
            const fs::file_status status = it->status(entryError);
            if (entryError) {
                found->push_back(
                    {it->path().string(), 0, "cannot read: " + entryError.message(), true});
            } else if (fs::is_directory(status)) {
                continue;  // a link to a folder
            } else if (const std::string problem = KindProblem(status); !problem.empty()) {
                found->push_back({it->path().string(), 0, problem, true});
            } else {
                found->push_back({it->path().string(), it->file_size(entryError), "", true});
            }
        }
        if (ec) {
            found->push_back({folder.string(), 0, "cannot read the folder: " + ec.message(), true});
        }
    }
}

}  // namespace

std::vector<InputFile> CollectInputs(const std::vector<std::string>& paths) {
    std::vector<InputFile> files;
    for (const std::string& path : paths) {
        if (path == kStandardInput) {
            files.push_back({path, 0, ""});
            continue;
        }
        std::error_code ec;
        const fs::file_status status = fs::status(path, ec);
        if (ec || !fs::exists(status)) {
            files.push_back({path, 0, ec ? ec.message() : "no such file or folder"});
            continue;
        }
        if (!fs::is_directory(status)) {
            const std::string problem = KindProblem(status);
            files.push_back({path, problem.empty() ? fs::file_size(path, ec) : 0, problem});
            continue;
        }
        std::vector<InputFile> found;
        WalkFolder(path, &found);
        std::sort(found.begin(), found.end(),
                  [](const InputFile& a, const InputFile& b) { return a.path < b.path; });
        files.insert(files.end(), found.begin(), found.end());
    }
    return files;
}

bool LooksLikeMbox(std::string_view data) {
    return data.substr(0, 5) == "From ";
}

void MboxSplitter::Append(const char* data, size_t size) {
    m_message.size += size;
    const size_t room = m_message.bytes.size() < m_limit ? m_limit - m_message.bytes.size() : 0;
    m_message.bytes.append(data, size < room ? size : room);
}

void MboxSplitter::Retract(uint64_t count) {
    m_message.size -= count;
    if (m_message.bytes.size() > m_message.size) m_message.bytes.resize(m_message.size);
}

void MboxSplitter::EndLine() {
    m_previousBlank = m_lineLength == 0 || (m_lineLength == 1 && m_lastByte == '\r');
    m_previousCr = m_lineLength > 0 && m_lastByte == '\r';
    m_afterEnvelope = false;
    m_atLineStart = true;
    m_lineLength = 0;
}

void MboxSplitter::Feed(const char* p, size_t size) {
    const char* const end = p + size;
    while (p < end) {
        if (m_inEnvelope) {  // the envelope line is no part of the message
            const char* newline = static_cast<const char*>(std::memchr(p, '\n', end - p));
            if (newline == nullptr) return;
            p = newline + 1;
            m_inEnvelope = false;
            m_open = true;
            m_message = MailMessage();
            m_atLineStart = m_afterEnvelope = true;
            m_previousBlank = m_previousCr = false;
            m_lineLength = 0;
            continue;
        }
        if (m_atLineStart) {  // the first five bytes tell an envelope line
            while (p < end && m_head.size() < 5 && *p != '\n') m_head.push_back(*p++);
            if (p == end && m_head.size() < 5) return;
            if (m_head == "From " && (m_previousBlank || m_afterEnvelope)) {
                // The line break before the envelope belongs to it; after the envelope line
                // itself the message is empty.
                if (!m_afterEnvelope) Retract(m_previousCr ? 2 : 1);
                m_done.push_back(std::move(m_message));
                m_message = MailMessage();
                m_open = false;
                m_inEnvelope = true;
                m_head.clear();
                continue;
            }
            Append(m_head.data(), m_head.size());
            m_lineLength = m_head.size();
            if (!m_head.empty()) m_lastByte = m_head.back();
            m_head.clear();
            m_atLineStart = false;
            continue;
        }
        const char* newline = static_cast<const char*>(std::memchr(p, '\n', end - p));
        const char* stop = newline ? newline : end;
        if (stop > p) {
            m_lineLength += stop - p;
            m_lastByte = stop[-1];
        }
        Append(p, (newline ? newline + 1 : end) - p);
        p = newline ? newline + 1 : end;
        if (newline) EndLine();
    }
}

void MboxSplitter::Finish() {
    if (!m_open) return;
    Append(m_head.data(), m_head.size());
    m_head.clear();
    m_done.push_back(std::move(m_message));
    m_message = MailMessage();
    m_open = false;
    m_inEnvelope = true;
}

std::vector<std::string> SplitMbox(std::string_view data) {
    MboxSplitter splitter(UINT64_MAX);
    splitter.Feed(data.data(), data.size());
    splitter.Finish();
    std::vector<std::string> messages;
    for (MailMessage& message : splitter.done()) messages.push_back(std::move(message.bytes));
    return messages;
}

MailReader::~MailReader() {
    if (m_file != nullptr && m_ownsFile) std::fclose(m_file);
}

bool MailReader::Open(const std::string& path, uint64_t limit, std::string* error) {
    bool notRegular = false;
    if (path == kStandardInput) {
        m_file = stdin;  // a pipe or a terminal is welcome here
        m_ownsFile = false;
    } else {
        m_file = platform::OpenRegularFileUtf8(path.c_str(), &notRegular);
    }
    if (m_file == nullptr) {
        *error = notRegular ? "not a regular file" : std::strerror(errno);
        return false;
    }
    m_limit = limit;
    if (m_ownsFile) platform::StatFileUtf8(path.c_str(), &m_fileSize, nullptr);
    if (!Fill(error)) return false;
    if (LooksLikeMbox(m_block)) m_splitter.reset(new MboxSplitter(limit));
    return true;
}

bool MailReader::Fill(std::string* error) {
    // A block of up to 1 MiB, no larger than the rest of a file of known size (and one byte
    // more, to see its end): resizing zero-fills, which would cost a whole block per message.
    constexpr uint64_t kBlock = 1 << 20;
    const uint64_t rest = m_fileSize > m_read ? m_fileSize - m_read + 1 : 1;
    const size_t block = static_cast<size_t>(m_fileSize > 0 && rest < kBlock ? rest : kBlock);
    m_block.resize(block);
    const size_t n = std::fread(&m_block[0], 1, block, m_file);
    m_read += n;
    m_block.resize(n);
    if (n == 0) {
        if (std::ferror(m_file)) {
            *error = std::string("read error: ") + std::strerror(errno);
            return false;
        }
        m_atEnd = true;
    }
    return true;
}

bool MailReader::Next(MailMessage* message, std::string* error) {
    *message = MailMessage();
    if (m_splitter) {
        for (;;) {
            std::deque<MailMessage>& done = m_splitter->done();
            if (!done.empty()) {
                *message = std::move(done.front());
                done.pop_front();
                return true;
            }
            if (m_file == nullptr) return false;
            m_splitter->Feed(m_block.data(), m_block.size());
            m_block.clear();
            if (m_atEnd) {
                m_splitter->Finish();
                std::fclose(m_file);
                m_file = nullptr;
            } else if (!Fill(error)) {
                return false;
            }
        }
    }
    if (m_single) return false;
    m_single = true;
    // One message: read up to the limit and one byte more, to know whether it goes on.
    const uint64_t expected = m_fileSize < m_limit ? m_fileSize : m_limit;
    message->bytes.reserve(static_cast<size_t>(expected));
    for (;;) {
        message->size += m_block.size();
        const uint64_t room = m_limit - message->bytes.size();
        message->bytes.append(m_block, 0, m_block.size() < room ? m_block.size() : room);
        m_block.clear();
        if (m_atEnd) break;
        if (message->size > m_limit) {
            if (m_fileSize > message->size) message->size = m_fileSize;
            break;
        }
        if (!Fill(error)) return false;
    }
    return true;
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

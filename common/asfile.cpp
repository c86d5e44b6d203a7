// File utilities and CASFile, on the platform layer's UTF-8 file calls.
#include "common/asfile.h"

#include <cerrno>
#include <cstring>

#include "common/asexception.h"
#include "common/platform.h"

namespace ascommon {

std::FILE* OpenFile(const char* path, const char* mode) {
    return platform::OpenFileUtf8(path, mode);
}

bool GetFileSize(const char* path, uint64_t* size) {
    return platform::StatFileUtf8(path, size, nullptr);
}

bool FileExists(const char* path) {
    bool directory = false;
    return platform::StatFileUtf8(path, nullptr, &directory) && !directory;
}

bool RemoveFile(const char* path) {
    return platform::RemoveFileUtf8(path);
}

int MakeTempFileName(const char* folder, const char* prefix, char* buffer, size_t* capacity) {
    if (capacity == nullptr || *capacity == 0) return 0;
    size_t length = 0;
    if (!platform::CreateUniqueFileUtf8(folder, prefix, buffer, *capacity, &length)) return 0;
    *capacity = length;
    return 1;
}

CASFile::CASFile(const char* path, const char* mode) : m_open(false), m_file(nullptr) {
    if (path == nullptr || mode == nullptr) {
        AS_THROW(ASException, "CASFile constructor - invalid input");
    }
    m_file = OpenFile(path, mode);
    if (m_file == nullptr) {
        // The reason first: tracing may change errno.
        char reason[256];
        std::snprintf(reason, sizeof reason, "%s", std::strerror(errno));
        AS_THROW_CODE(ASException, -551, "could not open %s: %s", path, reason);
    }
    m_open = true;
}

CASFile::~CASFile() {
    close();
}

void CASFile::close() {
    if (!m_open) return;
    std::fclose(m_file);
    m_file = nullptr;
    m_open = false;
}

size_t CASFile::read(void* buffer, size_t itemSize, size_t itemCount) {
    if (buffer == nullptr) AS_THROW(ASException, "CASFile::read - invalid input buffer");
    if (!m_open) return 0;
    return std::fread(buffer, itemSize, itemCount, m_file);
}

size_t CASFile::write(const void* buffer, size_t itemSize, size_t itemCount) {
    if (buffer == nullptr) AS_THROW(ASException, "CASFile::write - invalid input buffer");
    if (!m_open) return 0;
    return std::fwrite(buffer, itemSize, itemCount, m_file);
}

}  // namespace ascommon

// File access of the common foundation: utilities on UTF-8 paths, and CASFile, the owner of one
// open stdio stream. Paths are UTF-8 and are used up to their first ill-formed sequence. The
// utilities never throw and keep no state; a CASFile belongs to one thread at a time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

namespace ascommon {

// The stream opened on path with the stdio mode, or null.
std::FILE* OpenFile(const char* path, const char* mode);

// True when the path names a file or a folder; the file's size in bytes (0 for a folder) is then
// stored through size unless it is null. Null path: false, and size is left as it is.
bool GetFileSize(const char* path, uint64_t* size);

// True when the path names an existing entry that is not a folder.
bool FileExists(const char* path);

// True when the file was deleted.
bool RemoveFile(const char* path);

// Creates a new empty file with a unique name (prefix, a number the platform chooses) in folder,
// writes its UTF-8 path into buffer WITHOUT a terminator and its byte count into *capacity, and
// returns 1. Returns 0, and creates nothing, when *capacity is 0 or the name cannot be made in
// *capacity bytes. Callers pass a zeroed buffer one byte larger than the capacity they declare.
int MakeTempFileName(const char* folder, const char* prefix, char* buffer, size_t* capacity);

// One open stdio stream, closed by close() or the destructor.
class CASFile {
  public:
    // Opens path with the stdio mode. Throws ASException "CASFile constructor - invalid input" for
    // a null argument, and "ASException - CODE: -551 MESSAGE: could not open <path>: <reason>"
    // when the file cannot be opened.
    CASFile(const char* path, const char* mode);
    ~CASFile();
    CASFile(const CASFile&) = delete;
    CASFile& operator=(const CASFile&) = delete;

    // Closes the stream once; later calls do nothing.
    void close();
    // The stream while open, else null.
    std::FILE* getFile() const { return m_open ? m_file : nullptr; }

    // fread / fwrite: the number of whole items transferred (short counts are no error here).
    // A null buffer throws ASException; a closed file transfers nothing (0).
    size_t read(void* buffer, size_t itemSize, size_t itemCount);
    size_t write(const void* buffer, size_t itemSize, size_t itemCount);

  private:
    bool m_open;
    std::FILE* m_file;
};

}  // namespace ascommon

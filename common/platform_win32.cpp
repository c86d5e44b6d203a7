// Win32 implementation of the platform layer (critical sections, kernel events, LoadLibraryW,
// wide-character file calls). Paths arrive as UTF-8 and reach the system as UTF-16, converted
// with the module's strict conversion into a temporary copy that is freed before each call
// returns: on the stack up to MAX_PATH units, beyond that from the active hook table.
#include "common/platform.h"

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <sys/stat.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <new>

#include "common/ashooks_access.h"
#include "glyphkit/utfconvert.h"

namespace platform {

static_assert(sizeof(CRITICAL_SECTION) == sizeof(CriticalSection), "the x64 critical section");
static_assert(alignof(CRITICAL_SECTION) <= alignof(CriticalSection), "section storage alignment");
static_assert(sizeof(wchar_t) == sizeof(char16_t), "Windows wide characters are UTF-16 units");

uint32_t CurrentThreadId() {
    return static_cast<uint32_t>(GetCurrentThreadId());
}

static CRITICAL_SECTION* SectionOf(CriticalSection* section) {
    return reinterpret_cast<CRITICAL_SECTION*>(section->opaque);
}

void InitSection(CriticalSection* section) {
    InitializeCriticalSection(new (section->opaque) CRITICAL_SECTION);
}
void EnterSection(CriticalSection* section) {
    EnterCriticalSection(SectionOf(section));
}
void LeaveSection(CriticalSection* section) {
    LeaveCriticalSection(SectionOf(section));
}
void DeleteSection(CriticalSection* section) {
    DeleteCriticalSection(SectionOf(section));
}

EventHandle CreateAutoResetEvent(bool signalled) {
    return CreateEventW(nullptr, FALSE, signalled ? TRUE : FALSE, nullptr);
}

void SignalEvent(EventHandle event) {
    if (event != nullptr) SetEvent(event);
}

void WaitEvent(EventHandle event) {
    if (event == nullptr) {
        SwitchToThread();
        return;
    }
    WaitForSingleObject(event, INFINITE);
}

void CloseEvent(EventHandle event) {
    if (event != nullptr) CloseHandle(event);
}

namespace {

// errno for a failed system call, from its GetLastError() code.
int ErrnoOf(DWORD error) {
    switch (error) {
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND:
        case ERROR_INVALID_NAME:
        case ERROR_BAD_NETPATH:
            return ENOENT;
        case ERROR_ACCESS_DENIED:
        case ERROR_SHARING_VIOLATION:
            return EACCES;
        case ERROR_FILE_EXISTS:
        case ERROR_ALREADY_EXISTS:
            return EEXIST;
        case ERROR_NOT_ENOUGH_MEMORY:
        case ERROR_OUTOFMEMORY:
            return ENOMEM;
        case ERROR_FILENAME_EXCED_RANGE:
            return ENAMETOOLONG;
        default:
            return EINVAL;
    }
}

// A UTF-8 text as the wide calls take it: converted up to its first ill-formed sequence (or a
// sequence cut by the end of the text) and NUL-terminated; a text of MAX_PATH bytes or more goes
// into a block from the hook table. get() is null for a null text, or when the block cannot be
// had (errno ENOMEM, last error ERROR_NOT_ENOUGH_MEMORY).
class WideText {
  public:
    explicit WideText(const char* text) : m_text(nullptr), m_block(nullptr) {
        if (text == nullptr) return;
        const size_t length = std::strlen(text);
        // UTF-16 never takes more units than UTF-8 takes bytes.
        if (length < MAX_PATH) {
            m_text = m_inline;
        } else {
            m_block = ascommon::MemAlloc((length + 1) * sizeof(char16_t));
            if (m_block == nullptr) {
                errno = ENOMEM;
                SetLastError(ERROR_NOT_ENOUGH_MEMORY);
                return;
            }
            m_text = static_cast<char16_t*>(m_block);
        }
        const uint8_t* source = reinterpret_cast<const uint8_t*>(text);
        char16_t* target = m_text;
        ascommon::ConvertUTF8toUTF16(&source, source + length, &target, m_text + length,
                                     ascommon::kStrictConversion);
        *target = u'\0';
    }
    ~WideText() {
        if (m_block != nullptr) ascommon::MemFree(m_block);
    }
    WideText(const WideText&) = delete;
    WideText& operator=(const WideText&) = delete;

    const wchar_t* get() const { return reinterpret_cast<const wchar_t*>(m_text); }

  private:
    char16_t* m_text;
    void* m_block;
    char16_t m_inline[MAX_PATH];
};

// Keeps the last error code as it was when the keeper was made, across the end of its scope
// (what runs there, such as the hook table's free, may touch it).
class LastErrorKeeper {
  public:
    LastErrorKeeper() : m_error(GetLastError()) {}
    ~LastErrorKeeper() { SetLastError(m_error); }

  private:
    DWORD m_error;
};

}  // namespace

void* OpenLibrary(const char* path, bool keepMapped) {
    if (path == nullptr) return nullptr;
    HMODULE module = nullptr;
    DWORD error = 0;
    {
        const WideText widePath(path);
        if (widePath.get() == nullptr) return nullptr;
        module = LoadLibraryW(widePath.get());
        error = GetLastError();
    }  // freeing the wide path may touch the last error: it is put back
    if (module == nullptr) {
        SetLastError(error);
        return nullptr;
    }
    if (keepMapped) {
        // Pinned: FreeLibrary no longer unmaps it, for the life of the process.
        HMODULE pinned = nullptr;
        GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_PIN,
                           reinterpret_cast<LPCWSTR>(module), &pinned);
    }
    return module;
}

void* LibrarySymbol(void* library, const char* name) {
    if (library == nullptr || name == nullptr) return nullptr;
    return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(library), name));
}

void CloseLibrary(void* library) {
    if (library != nullptr) FreeLibrary(static_cast<HMODULE>(library));
}

// The system's text for the last error: FormatMessageA from the system table, inserts ignored
// (0x1200), language 0, into a zero-filled 1024-byte buffer of which at most 1022 bytes are used.
// Empty when the formatting fails.
void LibraryError(char* out, size_t size) {
    if (out == nullptr || size == 0) return;
    const DWORD error = GetLastError();
    char text[1024] = {};
    if (FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error,
                       0, text, sizeof text - 2, nullptr) == 0) {
        text[0] = '\0';
    }
    std::snprintf(out, size, "%s", text);
}

bool LibraryLoaded(const char* path) {
    const LastErrorKeeper keep;
    const WideText widePath(path);
    return widePath.get() != nullptr && GetModuleHandleW(widePath.get()) != nullptr;
}

size_t ExecutablePath(char* out, size_t capacity) {
    if (out == nullptr || capacity == 0) return 0;
    wchar_t wide[32768];
    const DWORD units = GetModuleFileNameW(nullptr, wide, sizeof wide / sizeof wide[0]);
    if (units == 0 || units >= sizeof wide / sizeof wide[0]) return 0;
    const char16_t* source = reinterpret_cast<const char16_t*>(wide);
    uint8_t* target = reinterpret_cast<uint8_t*>(out);
    // One byte stays for the terminator; a name cut short fails.
    if (ascommon::ConvertUTF16toUTF8(&source, source + units, &target, target + capacity - 1) !=
        ascommon::kConversionOK) {
        return 0;
    }
    *target = '\0';
    return static_cast<size_t>(reinterpret_cast<char*>(target) - out);
}

WideFormatArg WideForFormat(const char16_t* wide, const char*) {
    return wide != nullptr ? reinterpret_cast<const wchar_t*>(wide) : L"";
}

std::FILE* OpenFileUtf8(const char* path, const char* mode) {
    if (path == nullptr || mode == nullptr) {
        errno = EINVAL;
        return nullptr;
    }
    const WideText widePath(path);
    const WideText wideMode(mode);
    if (widePath.get() == nullptr || wideMode.get() == nullptr) return nullptr;
    return _wfopen(widePath.get(), wideMode.get());
}

std::FILE* OpenRegularFileUtf8(const char* path, bool* notRegular) {
    *notRegular = false;
    std::FILE* file = OpenFileUtf8(path, "rb");
    if (file == nullptr) return nullptr;
    struct _stat64 status;
    const bool known = _fstat64(_fileno(file), &status) == 0;
    if (!known || (status.st_mode & _S_IFMT) != _S_IFREG) {
        const int error = errno;
        *notRegular = known;
        std::fclose(file);
        errno = error;
        return nullptr;
    }
    return file;
}

// The entry's kind from GetFileAttributesW (no wildcard matching), its size from the directory
// search FindFirstFileW.
bool StatFileUtf8(const char* path, uint64_t* size, bool* isDirectory) {
    if (path == nullptr) return false;
    const WideText widePath(path);
    if (widePath.get() == nullptr) return false;
    const DWORD attributes = GetFileAttributesW(widePath.get());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        errno = ErrnoOf(GetLastError());
        return false;
    }
    const bool directory = (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    uint64_t bytes = 0;
    if (size != nullptr && !directory) {
        WIN32_FIND_DATAW found;
        const HANDLE search = FindFirstFileW(widePath.get(), &found);
        if (search == INVALID_HANDLE_VALUE) {
            errno = ErrnoOf(GetLastError());
            return false;
        }
        FindClose(search);
        bytes = (static_cast<uint64_t>(found.nFileSizeHigh) << 32) | found.nFileSizeLow;
    }
    if (size != nullptr) *size = bytes;
    if (isDirectory != nullptr) *isDirectory = directory;
    return true;
}

bool RemoveFileUtf8(const char* path) {
    if (path == nullptr) return false;
    const WideText widePath(path);
    if (widePath.get() == nullptr) return false;
    if (DeleteFileW(widePath.get())) return true;
    errno = ErrnoOf(GetLastError());
    return false;
}

// GetTempFileNameW with the unique number 0: the service picks the number and creates the file.
// The wide name it writes (up to MAX_PATH units) is converted back to UTF-8; a name that does not
// fit the caller's buffer removes the file again and leaves the buffer as it was. A folder longer
// than the service takes (MAX_PATH - 14 units) fails here, before the call.
bool CreateUniqueFileUtf8(const char* folder, const char* prefix, char* name, size_t capacity,
                          size_t* length) {
    if (folder == nullptr || prefix == nullptr || name == nullptr || length == nullptr) {
        return false;
    }
    const WideText wideFolder(folder);
    const WideText widePrefix(prefix);
    if (wideFolder.get() == nullptr || widePrefix.get() == nullptr) return false;
    if (std::wcslen(wideFolder.get()) > MAX_PATH - 14) {
        errno = ENAMETOOLONG;
        return false;
    }
    wchar_t wideName[MAX_PATH + 1] = {};
    bool made = false;
    if (GetTempFileNameW(wideFolder.get(), widePrefix.get(), 0, wideName) == 0) {
        errno = ErrnoOf(GetLastError());
    } else {
        uint8_t utf8[MAX_PATH * 3];  // at most 3 bytes for each UTF-16 unit
        const char16_t* source = reinterpret_cast<const char16_t*>(wideName);
        uint8_t* target = utf8;
        const int result = ascommon::ConvertUTF16toUTF8(&source, source + std::wcslen(wideName),
                                                        &target, utf8 + sizeof utf8);
        const size_t bytes = static_cast<size_t>(target - utf8);
        if (result == ascommon::kConversionOK && bytes <= capacity) {
            std::memcpy(name, utf8, bytes);
            *length = bytes;
            made = true;
        } else {
            DeleteFileW(wideName);
            errno = ENAMETOOLONG;
        }
    }
    return made;
}

}  // namespace platform

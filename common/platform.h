// The platform layer: every operating-system call of the module and its host side goes through
// here (threads, sections, events, dynamic libraries, files). platform_posix.cpp implements it on
// POSIX, platform_win32.cpp on Win32; the few constants that differ are chosen below. Callable
// from any thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

namespace platform {

// The calling thread's kernel id, as the 32-bit number trace lines print.
uint32_t CurrentThreadId();

// A re-entrant mutual-exclusion section. Its storage is 40 bytes, the size of the x64 Windows
// critical section, so that classes that embed one have the same layout on every platform.
struct CriticalSection {
    alignas(8) unsigned char opaque[40];
};
static_assert(sizeof(CriticalSection) == 40, "section storage is fixed at 40 bytes");

void InitSection(CriticalSection* section);
void EnterSection(CriticalSection* section);
void LeaveSection(CriticalSection* section);
void DeleteSection(CriticalSection* section);

// An auto-reset event behind a pointer-sized handle: a kernel event on Windows, elsewhere an
// object from the active hook table. A null handle (creation failed) makes waits return at once
// after yielding.
typedef void* EventHandle;

EventHandle CreateAutoResetEvent(bool signalled);
void SignalEvent(EventHandle event);
void WaitEvent(EventHandle event);  // no time limit; consumes the signal
void CloseEvent(EventHandle event);

// Dynamic libraries by UTF-8 path. LibraryError copies the loader's last error text (on Windows
// the system's text for GetLastError()). keepMapped leaves the image in memory after CloseLibrary
// (for libraries that carry their own C++ runtime, whose process-lifetime allocations must stay
// owned). LibraryLoaded tells whether the library at path is mapped in the process, without
// loading it (for hosts and tests).
void* OpenLibrary(const char* path, bool keepMapped = false);
void* LibrarySymbol(void* library, const char* name);
void CloseLibrary(void* library);
void LibraryError(char* out, size_t size);
bool LibraryLoaded(const char* path);

// The UTF-8 path of the running program's executable (/proc/self/exe, GetModuleFileNameW), for
// hosts that find their module and data relative to themselves. Its length, or 0 when it cannot
// be had or does not fit into out[0, capacity) with its terminator.
size_t ExecutablePath(char* out, size_t capacity);

#if defined(_WIN32)
// The path separator of this platform's file names.
constexpr char kPathSeparator = '\\';
// The file names of the Unicode services and regular-expression libraries, looked for in a
// configured folder.
constexpr const char* kGlyphkitLibraryName = "glyphkit.dll";
constexpr const char* kRexkitLibraryName = "rexkit.dll";
// The printf conversion of a wide text: the C runtime prints UTF-16 itself.
#define PLATFORM_WIDE_FORMAT "%S"
typedef const wchar_t* WideFormatArg;
// Unique temporary names (CreateUniqueFileUtf8): how many characters of the prefix are kept, the
// fewest and most hexadecimal digits of the number, and whether a folder that ends in a separator
// gets a second one.
constexpr size_t kTempPrefixKept = 3;
constexpr size_t kTempDigitsMin = 1, kTempDigitsMax = 4;
constexpr bool kTempSeparatorAlwaysAdded = false;
#else
constexpr char kPathSeparator = '/';
constexpr const char* kGlyphkitLibraryName = "libglyphkit.so";
constexpr const char* kRexkitLibraryName = "librexkit.so";
constexpr size_t kTempPrefixKept = SIZE_MAX;
constexpr size_t kTempDigitsMin = 8, kTempDigitsMax = 8;
constexpr bool kTempSeparatorAlwaysAdded = true;
// Here the C runtime's wide text is 32-bit: wide texts are printed in their UTF-8 form.
#define PLATFORM_WIDE_FORMAT "%s"
typedef const char* WideFormatArg;
#endif

// The argument that PLATFORM_WIDE_FORMAT takes for a text held both as UTF-16 (wide) and as UTF-8
// (utf8): the one this platform prints; either may be null (printed as empty).
WideFormatArg WideForFormat(const char16_t* wide, const char* utf8);

// Files by UTF-8 path. A path (and an open mode) is used up to its first ill-formed UTF-8
// sequence, where the strict conversion to the wide names of the Windows calls stops; a call
// whose cut copy cannot be allocated fails. On failure errno tells why.
std::FILE* OpenFileUtf8(const char* path, const char* mode);
// True when the path names an entry, a file or a folder; its size (0 for a folder) and kind are
// stored through the pointers that are not null.
bool StatFileUtf8(const char* path, uint64_t* size, bool* isDirectory);
// Opens a regular file for reading in binary mode. Null when it cannot be opened (errno tells
// why) or, with *notRegular set, when the path names something else, such as a FIFO or a device
// (opening never waits for a FIFO's writer). For hosts: on POSIX the path's bytes are the name
// as they are, UTF-8 or not.
std::FILE* OpenRegularFileUtf8(const char* path, bool* notRegular);
// True when the file was deleted.
bool RemoveFileUtf8(const char* path);
// The unique temporary file service: creates a new empty file named folder + kPathSeparator +
// prefix + a unique hexadecimal number + kTempFileSuffix, a name that no other caller receives
// while the file exists. On Windows GetTempFileNameW makes the name, with the limits above (it
// keeps the first three characters of the prefix).
// The name goes into name[0, capacity) without a terminator and its byte count into *length.
// False, and nothing created, when the name would not fit or the file cannot be made.
bool CreateUniqueFileUtf8(const char* folder, const char* prefix, char* name, size_t capacity,
                          size_t* length);
constexpr const char* kTempFileSuffix = ".tmp";

}  // namespace platform

// The platform layer: every operating-system call of the module and its host side goes through
// here (threads, sections, events, dynamic libraries). This is the POSIX flavour's interface; a
// Win32 implementation fills the same declarations. Callable from any thread.
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

// An auto-reset event behind a pointer-sized handle. The event object comes from the active hook
// table; a null handle (allocation failed) makes waits return at once after yielding.
typedef void* EventHandle;

EventHandle CreateAutoResetEvent(bool signalled);
void SignalEvent(EventHandle event);
void WaitEvent(EventHandle event);  // no time limit; consumes the signal
void CloseEvent(EventHandle event);

// Dynamic libraries by UTF-8 path. LibraryError copies the loader's last error text.
// keepMapped leaves the image in memory after CloseLibrary (for libraries that carry their own
// C++ runtime, whose process-lifetime allocations must stay owned).
void* OpenLibrary(const char* path, bool keepMapped = false);
void* LibrarySymbol(void* library, const char* name);
void CloseLibrary(void* library);
void LibraryError(char* out, size_t size);

// The path separator of this platform's file names.
constexpr char kPathSeparator = '/';

// Files by UTF-8 path. A path (and an open mode) is used up to its first ill-formed UTF-8
// sequence, where the strict conversion to the wide names of the Windows calls stops; a call
// whose cut copy cannot be allocated fails. On failure errno tells why.
std::FILE* OpenFileUtf8(const char* path, const char* mode);
// True when the path names an entry, a file or a folder; its size (0 for a folder) and kind are
// stored through the pointers that are not null.
bool StatFileUtf8(const char* path, uint64_t* size, bool* isDirectory);
// True when the file was deleted.
bool RemoveFileUtf8(const char* path);
// The unique temporary file service: creates a new empty file named folder + kPathSeparator +
// prefix + a unique hexadecimal number + kTempFileSuffix (a folder that ends in a separator gets
// a second one), a name that no other caller receives while the file exists. The name goes into
// name[0, capacity) without a terminator and its byte count into *length. False, and nothing
// created, when the name would not fit or the file cannot be made.
bool CreateUniqueFileUtf8(const char* folder, const char* prefix, char* name, size_t capacity,
                          size_t* length);
constexpr const char* kTempFileSuffix = ".tmp";

// The file name of the Unicode services library, looked for in a configured folder.
constexpr const char* kGlyphkitLibraryName = "libglyphkit.so";

// The file name of the regular-expression library, looked for in a configured folder.
constexpr const char* kRexkitLibraryName = "librexkit.so";

}  // namespace platform

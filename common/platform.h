// The platform layer: every operating-system call of the module and its host side goes through
// here (threads, sections, events, dynamic libraries). This is the POSIX flavour's interface; a
// Win32 implementation fills the same declarations. Callable from any thread.
#pragma once

#include <cstddef>
#include <cstdint>

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

// The file name of the Unicode services library, looked for in a configured folder.
constexpr const char* kGlyphkitLibraryName = "libglyphkit.so";

// The file name of the regular-expression library, looked for in a configured folder.
constexpr const char* kRexkitLibraryName = "librexkit.so";

}  // namespace platform

// Trace lines. Every line goes to the installed trace hook as one call:
//   _as_trace(level, PREFIX text "\n", thread id, source base name, source line, arguments...)
// Levels: 1 exceptions and errors, 2 failures survived, 3 notices, 4 progress details.
// Usable from any thread; the hook decides what to keep.
#pragma once

#include <cstdint>

#include "common/ashooks_access.h"
#include "common/platform.h"

#define AS_TRACE_PREFIX "[ANTISPAM          ] [%08X][%20s:%-4d] - "
#define AS_EXCEPTION_PREFIX "[ANTISPAM EXCEPTION] [%08X][%20s:%-4d] - "

namespace ascommon {

// The base name of a source path: what follows the last separator ('\\', or '/', which both
// platforms accept and which a cross-compiler's file names hold), the whole path when it has
// none, "[no file]" for a null path.
constexpr const char* SourceBaseName(const char* path) {
    if (path == nullptr) return "[no file]";
    const char* base = path;
    for (const char* p = path; *p != '\0'; ++p) {
        if (*p == '\\' || *p == '/') base = p + 1;
    }
    return base;
}

namespace detail {
// Never called: lets the compiler check a trace format against its arguments.
inline void CheckTraceFormat(const char*, ...) __attribute__((format(printf, 1, 2)));
inline void CheckTraceFormat(const char*, ...) {}
}  // namespace detail

}  // namespace ascommon

// Trace with an explicit source file and line (for helpers that trace on a caller's behalf).
#define AS_TRACE_FULL_AT(level, file, line, fullfmt, ...)                                      \
    do {                                                                                       \
        if (false) ::ascommon::detail::CheckTraceFormat(fullfmt, 0u, "", 0, ##__VA_ARGS__);    \
        ::ascommon::installed_hooks._as_trace((level), fullfmt, ::platform::CurrentThreadId(), \
                                              ::ascommon::SourceBaseName(file),                \
                                              static_cast<int>(line), ##__VA_ARGS__);          \
    } while (0)

// A whole-format trace from the current source line; the format carries its own prefix.
#define AS_TRACE_FULL(level, fullfmt, ...)                                                     \
    do {                                                                                       \
        static constexpr const char* kAsTraceSource = ::ascommon::SourceBaseName(__FILE__);    \
        if (false) ::ascommon::detail::CheckTraceFormat(fullfmt, 0u, "", 0, ##__VA_ARGS__);    \
        ::ascommon::installed_hooks._as_trace((level), fullfmt, ::platform::CurrentThreadId(), \
                                              kAsTraceSource, __LINE__, ##__VA_ARGS__);        \
    } while (0)

// An ordinary trace line: AS_TRACE(4, "Releasing %s", name).
#define AS_TRACE(level, fmt, ...) AS_TRACE_FULL(level, AS_TRACE_PREFIX fmt "\n", ##__VA_ARGS__)

// An exception trace line.
#define AS_TRACE_EXCEPTION(level, fmt, ...) \
    AS_TRACE_FULL(level, AS_EXCEPTION_PREFIX fmt "\n", ##__VA_ARGS__)

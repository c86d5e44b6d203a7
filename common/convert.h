// Charset conversion: the binding of the Unicode services library (CStringConversion) and the
// UTF-8 / UTF-16 conversions between plain buffers and the shared string classes. The free
// functions never throw; on -50 and -51 the output holds what was converted before the problem
// and the count reports it.
//
// Results: 0 converted (also for empty input); -1 a required pointer is null; -2 no memory for
// the output string; -50 ill-formed input; -51 the input ends inside a character, or the output
// is full.
#pragma once

#include <cstddef>
#include <cstdint>

#include "common/sstring.h"
#include "common/ustring.h"
#include "glyphkit/glyphkitlib.h"

namespace ascommon {

class CStringConversion {
  public:
    CStringConversion() = default;   // no library loaded
    ~CStringConversion() = default;  // the binding releases the library
    CStringConversion(const CStringConversion&) = delete;
    CStringConversion& operator=(const CStringConversion&) = delete;

    // Loads the Unicode services library from `folder` (the library's file name is appended after
    // one separator, whatever the folder ends with) and traces the outcome at level 1. Returns 0,
    // -4 (not loaded), -5 (loaded without all entry points) or -2 (no memory for the path).
    int32_t LoadUnicodeLibrary(const sstring& folder);

    const GlyphkitLib& Library() const { return m_library; }
    // The binding record, the handle the matching lists keep.
    GlyphkitLib* Binding() { return &m_library; }

  private:
    GlyphkitLib m_library;
};

// UTF-8 bytes to UTF-16 units, strictly. *count: the buffer's capacity in units on entry, the
// units written on return.
int32_t Utf8ToWide(const char* bytes, size_t length, char16_t* buffer, size_t* count);
// UTF-8 bytes into a fresh usstring (a zeroed buffer of length + 1 units); the string's length
// stops at the first NUL of the converted text.
int32_t Utf8ToUsstring(const char* bytes, size_t length, usstring& out);
int32_t SstringToUsstring(const sstring& text, usstring& out);

// UTF-16 units to UTF-8 bytes, no terminator added. With a buffer, *size is its capacity on entry
// and the bytes written on return; with a null buffer *size receives Utf8LengthOfWide and nothing
// is converted.
int32_t WideToUtf8(const char16_t* units, size_t count, char* buffer, size_t* size);
// UTF-16 text into a fresh sstring sized by Utf8LengthOfWide; its length is that of the text up to
// the first NUL. An uninitialised source gives an empty string and -1.
int32_t UsstringToSstring(const usstring& text, sstring& out);

// A byte count that always holds the UTF-8 form: 1 per unit below U+0080, 2 below U+0800, else 3
// (a surrogate pair counts 6 but takes 4).
uint64_t Utf8LengthOfWide(const char16_t* units, size_t count);

}  // namespace ascommon

// sstring: the 8-bit (UTF-8) string shared with the host, with a 24-byte inline buffer for short
// texts, plus the small free string helpers. Buffers come from the hook table's non-throwing
// allocation; failures set the last-error field (-2 no buffer, -50 invalid input) and keep the
// previous content. Not thread-safe: guard shared strings from outside. Host-facing header.
#pragma once

#include <cstddef>
#include <cstdint>

#include "common/bbobject.h"
#include "common/layout.h"
#include "common/status.h"

namespace ascommon {

class sstring : public CBlackBoxObject {
  public:
    static constexpr size_t kInlineSize = 24;

    sstring();
    sstring(const char* text);  // NOLINT(google-explicit-constructor): text converts naturally
    sstring(const char* bytes, size_t count);
    sstring(const sstring& other);
    ~sstring() override;

    sstring& operator=(const sstring& other);
    sstring& operator=(const char* text);

    // Copies count bytes plus a terminator; length becomes count. Null resets. Returns last error.
    int32_t assign(const char* text, size_t count);
    // A zeroed buffer of count bytes (+1 when c is not NUL) filled with c. Returns 0 or -2.
    int32_t fill(size_t count, char c);
    // Appends exactly, reallocating to new length + 1 when the inline buffer no longer fits.
    int32_t append(const sstring& other);
    int32_t append(const char* text, size_t count);
    // Lower-cases the UTF-8 text with the Unicode simple mapping; see the .cpp for sizing.
    int32_t UTF8_tolower(bool validate);

    const char* c_str() const { return m_data; }
    char* data() { return m_data; }
    uint64_t length() const { return m_length; }
    uint64_t capacity() const { return m_capacity; }
    int32_t last_error() const { return m_lastError; }
    bool initialised() const { return m_data != nullptr; }
    bool is_inline() const { return m_data == m_inline; }
    // For writers that filled data() themselves (charset conversion).
    void set_length(uint64_t length) { m_length = length; }

    bool operator==(const sstring& other) const;
    bool operator!=(const sstring& other) const;
    bool operator<(const sstring& other) const;

  private:
    void Reset();
    // Makes the string hold `size` bytes copied from source, the last one replaced by a NUL.
    bool CopyIn(const char* source, size_t size);
    void FreeHeap();

    friend struct StringLayout;

    char m_marker;
    char* m_data;
    char m_inline[kInlineSize];
    uint64_t m_length;
    uint64_t m_capacity;
    int32_t m_lastError;
};

// The layout shared with the host: vtable, marker, data, inline buffer, length, capacity, error.
struct StringLayout {
    AS_LAYOUT_BEGIN
    AS_PIN(sstring, m_marker, 8);
    AS_PIN(sstring, m_data, 16);
    AS_PIN(sstring, m_inline, 24);
    AS_PIN(sstring, m_length, 48);
    AS_PIN(sstring, m_capacity, 56);
    AS_PIN(sstring, m_lastError, 64);
    AS_PIN_SIZE(sstring, 72);
    AS_LAYOUT_END
};

// A copy of an initialised string that has no text lacked its buffer (see CopyComplete).
inline bool CopyComplete(const sstring& copy, const sstring& source) {
    return !source.initialised() || copy.initialised();
}

// Structural UTF-8 check: lead and continuation bytes only; overlongs and surrogates pass.
bool IsStructurallyValidUtf8(const char* text, size_t length);

// In place, "A".."Z" to "a".."z" only; returns its argument.
char* strlwr_ascii(char* text);
// In place, the C runtime's upper-casing in the C locale; returns its argument.
char* _strupr(char* text);
// ASCII case-insensitive search; null for null arguments or an empty haystack.
const char* stristr(const char* haystack, const char* needle);
// strtok_s behaviour: null text resumes from context.
char* tokenize(char* text, const char* delimiters, char** context);
// h = 5381, then h = h * 33 ^ (signed byte) over the text; 0 for an empty or uninitialised one.
uint32_t hash_sstring(const sstring& text);

}  // namespace ascommon

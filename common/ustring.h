// usstring: the 16-bit (UTF-16) string shared with the host. Its buffer is always on the heap,
// from the hook table's non-throwing allocation; failures set the last-error field and keep the
// previous content. Not thread-safe. Host-facing header.
#pragma once

#include <cstddef>
#include <cstdint>

#include "common/bbobject.h"
#include "common/layout.h"
#include "common/sstring.h"

namespace ascommon {

class usstring : public CBlackBoxObject {
  public:
    usstring();
    usstring(const usstring& other);
    ~usstring() override;

    // Copies the source's buffer (capacity units) and length; the case flag always follows.
    usstring& operator=(const usstring& other);
    // Copies count units plus a terminator; null resets. Returns 0 or -2.
    int32_t assign(const char16_t* text, size_t count);
    // A zeroed heap buffer of count units (+1 when c is not NUL) filled with c. Returns 0 or -2.
    int32_t fill(size_t count, char16_t c);
    // Position in units of the first c; false when absent or uninitialised.
    bool find(char16_t c, uint64_t* position) const;
    // Converts with wcstombs under the current C locale; throws ASException on failure.
    sstring to_sstring() const;

    const char16_t* c_str() const { return m_data; }
    char16_t* data() { return m_data; }
    uint64_t length() const { return m_length; }
    uint64_t capacity() const { return m_capacity; }
    int32_t case_flag() const { return m_caseFlag; }
    void set_case_flag(int32_t flag) { m_caseFlag = flag; }
    int32_t last_error() const { return m_lastError; }
    bool initialised() const { return m_data != nullptr; }
    void set_length(uint64_t length) { m_length = length; }

  private:
    friend struct UStringLayout;
    void Release();

    char m_marker;
    char16_t* m_data;
    uint64_t m_length;
    uint64_t m_capacity;
    int32_t m_caseFlag;
    int32_t m_lastError;
};

// The layout shared with the host: vtable, marker, data, length, capacity, case flag, error.
struct UStringLayout {
    AS_LAYOUT_BEGIN
    AS_PIN(usstring, m_marker, 8);
    AS_PIN(usstring, m_data, 16);
    AS_PIN(usstring, m_length, 24);
    AS_PIN(usstring, m_capacity, 32);
    AS_PIN(usstring, m_caseFlag, 40);
    AS_PIN(usstring, m_lastError, 44);
    AS_PIN_SIZE(usstring, 48);
    AS_LAYOUT_END
};

// A copy of an initialised string that has no text lacked its buffer (see CopyComplete).
inline bool CopyComplete(const usstring& copy, const usstring& source) {
    return !source.initialised() || copy.initialised();
}

}  // namespace ascommon

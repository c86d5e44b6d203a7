// usstring.
#include "common/ustring.h"

#include <cstdlib>
#include <cstring>
#include <cwchar>

#include "common/ashooks_access.h"
#include "common/asexception.h"
#include "common/trace.h"

namespace ascommon {

namespace {
// A buffer of at least one unit, so that even a zero-sized request is terminated.
char16_t* AllocUnits(uint64_t units) {
    if (units > (UINT64_MAX / sizeof(char16_t)) - 1) return nullptr;
    return static_cast<char16_t*>(MemAlloc((units ? units : 1) * sizeof(char16_t)));
}
}  // namespace

usstring::usstring()
    : m_marker('Y'), m_data(nullptr), m_length(0), m_capacity(0), m_caseFlag(0), m_lastError(0) {}

usstring::usstring(const usstring& other) : usstring() {
    *this = other;
}

usstring::~usstring() {
    if (m_data) MemFree(m_data);
}

void usstring::Release() {
    if (m_data) MemFree(m_data);
    m_marker = 'Y';
    m_data = nullptr;
    m_length = 0;
    m_capacity = 0;
    m_lastError = 0;
}

usstring& usstring::operator=(const usstring& other) {
    if (this == &other) return *this;
    m_caseFlag = other.m_caseFlag;
    if (other.m_data == nullptr) {
        Release();
        m_caseFlag = other.m_caseFlag;
        return *this;
    }
    uint64_t units = other.m_capacity;
    if (units < other.m_length + 1) units = other.m_length + 1;
    char16_t* buffer = AllocUnits(units);
    if (buffer == nullptr) {
        m_lastError = kNoBuffer;
        return *this;
    }
    std::memcpy(buffer, other.m_data, (other.m_length + 1) * sizeof(char16_t));
    if (units > other.m_length + 1) {
        std::memset(buffer + other.m_length + 1, 0,
                    (units - other.m_length - 1) * sizeof(char16_t));
    }
    if (m_data) MemFree(m_data);
    m_data = buffer;
    m_capacity = other.m_capacity;
    m_length = other.m_length;
    m_lastError = 0;
    return *this;
}

int32_t usstring::assign(const char16_t* text, size_t count) {
    if (text == nullptr) {
        Release();
        return 0;
    }
    char16_t* buffer = AllocUnits(count + 1);
    if (buffer == nullptr) {
        m_lastError = kNoBuffer;
        return kNoBuffer;
    }
    std::memcpy(buffer, text, count * sizeof(char16_t));
    buffer[count] = 0;
    if (m_data) MemFree(m_data);
    m_data = buffer;
    m_length = count;
    m_capacity = count + 1;
    m_lastError = 0;
    return 0;
}

int32_t usstring::fill(size_t count, char16_t c) {
    const uint64_t units = c != 0 ? count + 1 : count;
    char16_t* buffer = AllocUnits(units);
    if (buffer == nullptr) {
        m_lastError = kNoBuffer;
        return kNoBuffer;
    }
    std::memset(buffer, 0, (units ? units : 1) * sizeof(char16_t));
    for (size_t i = 0; i < count; ++i) buffer[i] = c;
    if (m_data) MemFree(m_data);
    m_data = buffer;
    m_capacity = units;
    m_length = c != 0 ? count : 0;
    m_lastError = 0;
    return 0;
}

bool usstring::find(char16_t c, uint64_t* position) const {
    if (m_data == nullptr) return false;
    for (uint64_t i = 0; i < m_length; ++i) {
        if (m_data[i] == c) {
            if (position) *position = i;
            return true;
        }
    }
    return false;
}

sstring usstring::to_sstring() const {
    if (m_data == nullptr) {
        AS_TRACE(1, "%s - trying to convert an uninitialized string",
                 "ascommon::usstring::to_sstring");
        return sstring();
    }
    // wcstombs takes the platform's wide form: widen UTF-16 (pairing surrogates) first.
    wchar_t* wide = static_cast<wchar_t*>(MemAlloc((m_length + 1) * sizeof(wchar_t)));
    if (wide == nullptr) AS_THROW_LEVEL(2, ASException, "conversion failed");
    size_t n = 0;
    for (uint64_t i = 0; i < m_length; ++i) {
        uint32_t unit = m_data[i];
        if (sizeof(wchar_t) == 4 && unit >= 0xD800 && unit <= 0xDBFF && i + 1 < m_length &&
            m_data[i + 1] >= 0xDC00 && m_data[i + 1] <= 0xDFFF) {
            unit = 0x10000 + ((unit - 0xD800) << 10) + (m_data[i + 1] - 0xDC00u);
            ++i;
        }
        wide[n++] = static_cast<wchar_t>(unit);
    }
    wide[n] = L'\0';
    const size_t bytes = std::wcstombs(nullptr, wide, 0);
    char* narrow =
        bytes != static_cast<size_t>(-1) ? static_cast<char*>(MemAlloc(bytes + 1)) : nullptr;
    if (narrow == nullptr) {
        MemFree(wide);
        AS_THROW_LEVEL(2, ASException, "conversion failed");
    }
    // The sizing pass may pass what the conversion refuses (Wine's msvcrt does): check both.
    const size_t converted = std::wcstombs(narrow, wide, bytes + 1);
    MemFree(wide);
    if (converted != bytes) {
        MemFree(narrow);
        AS_THROW_LEVEL(2, ASException, "conversion failed");
    }
    sstring result(narrow, bytes);
    MemFree(narrow);
    return result;
}

}  // namespace ascommon

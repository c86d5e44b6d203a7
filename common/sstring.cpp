// sstring and the free string helpers.
#include "common/sstring.h"

#include <cctype>
#include <cstring>

#include "common/ascii.h"
#include "common/ashooks_access.h"
#include "common/trace.h"
#include "common/unicode_tolower.h"

namespace ascommon {

sstring::sstring() : m_marker('Y'), m_data(nullptr), m_length(0), m_capacity(0), m_lastError(0) {
    m_inline[0] = '\0';
}

sstring::sstring(const char* text) : sstring() {
    if (text == nullptr) return;
    const size_t length = std::strlen(text);
    if (CopyIn(text, length + 1)) m_length = length;
}

sstring::sstring(const char* bytes, size_t count) : sstring() {
    if (bytes == nullptr) return;
    if (CopyIn(bytes, count + 1)) m_length = std::strlen(m_data);
}

// Copies the source's text with its terminator: length + 1 bytes, so embedded NUL bytes survive
// and the inline/heap choice follows the text's own size.
sstring::sstring(const sstring& other) : sstring() {
    if (other.m_data == nullptr) return;
    if (CopyIn(other.m_data, other.m_length + 1)) m_length = other.m_length;
}

sstring::~sstring() {
    FreeHeap();
}

sstring& sstring::operator=(const sstring& other) {
    if (this == &other) return *this;
    if (other.m_data == nullptr) {
        Reset();
        return *this;
    }
    if (CopyIn(other.m_data, other.m_length + 1)) m_length = other.m_length;
    return *this;
}

sstring& sstring::operator=(const char* text) {
    if (text == m_data) return *this;
    if (text == nullptr) {
        Reset();
        return *this;
    }
    const size_t length = std::strlen(text);
    if (CopyIn(text, length + 1)) m_length = length;
    return *this;
}

int32_t sstring::assign(const char* text, size_t count) {
    if (text == nullptr) {
        Reset();
        return 0;
    }
    if (CopyIn(text, count + 1)) m_length = count;
    return m_lastError;
}

int32_t sstring::fill(size_t count, char c) {
    const size_t size = c != '\0' ? count + 1 : count;
    char* buffer = m_inline;
    if (count >= kInlineSize) {
        buffer = static_cast<char*>(MemAlloc(size));
        if (buffer == nullptr) {
            m_lastError = kNoBuffer;
            return kNoBuffer;
        }
    }
    FreeHeap();
    std::memset(buffer, 0, size);
    std::memset(buffer, c, count);
    m_data = buffer;
    m_length = c != '\0' ? count : 0;
    m_capacity = count;
    m_lastError = 0;
    return 0;
}

int32_t sstring::append(const sstring& other) {
    if (other.m_data == nullptr || other.m_length == 0) return 0;
    return append(other.m_data, other.m_length);
}

int32_t sstring::append(const char* text, size_t count) {
    if (text == nullptr || count == 0) return 0;
    if (m_data == nullptr) return assign(text, count);
    const uint64_t newLength = m_length + count;
    if (newLength + 1 < kInlineSize || (m_data != m_inline && newLength + 1 <= m_capacity)) {
        std::memmove(m_data + m_length, text, count);
        m_data[newLength] = '\0';
        m_length = newLength;
        if (m_data == m_inline) m_capacity = newLength + 1;
        return 0;
    }
    char* buffer = static_cast<char*>(MemAlloc(newLength + 1));
    if (buffer == nullptr) {
        m_lastError = kNoBuffer;
        return kNoBuffer;
    }
    std::memcpy(buffer, m_data, m_length);
    std::memcpy(buffer + m_length, text, count);
    buffer[newLength] = '\0';
    FreeHeap();
    m_data = buffer;
    m_length = newLength;
    m_capacity = newLength + 1;
    return 0;
}

// Lower-cases into a fresh buffer sized from an estimate that grows by a fifth each time the
// output does not fit (lower-case forms can be longer or shorter than the original).
int32_t sstring::UTF8_tolower(bool validate) {
    if (m_data == nullptr) return 0;
    if (validate && !IsStructurallyValidUtf8(m_data, m_length)) {
        AS_TRACE(3, "[sstring::UTF8_tolower] invalid UTF-8 buffer");
        m_lastError = kIllFormed;
        return m_lastError;
    }
    m_lastError = 0;
    uint64_t estimate = m_length;
    for (;;) {
        char* buffer = static_cast<char*>(MemAlloc(estimate + 2));
        if (buffer == nullptr) {
            m_lastError = kNoBuffer;
            return m_lastError;
        }
        size_t written = 0;
        const int32_t status =
            UNICODETOLOWER::UTF8_tolower(m_data, m_length, buffer, estimate, &written);
        if (status == kShortBuffer) {
            MemFree(buffer);
            m_lastError = kShortBuffer;
            estimate = static_cast<uint64_t>(static_cast<double>(estimate + 1) * 1.2);
            continue;
        }
        if (status != 0) {
            AS_TRACE(3, "[sstring::UTF8_tolower] UNICODETOLOWER::UTF8_tolower failed ( iRet=%d )",
                     status);
            MemFree(buffer);
            m_lastError = status;
            return m_lastError;
        }
        m_length = written;
        m_capacity = estimate + 2;
        if (written > kInlineSize - 2) {
            FreeHeap();
            m_data = buffer;
        } else {
            if (m_data != m_inline) {
                FreeHeap();
                m_capacity = kInlineSize;
            }
            std::memcpy(m_inline, buffer, written);
            MemFree(buffer);
            m_data = m_inline;
        }
        m_data[written] = '\0';
        m_lastError = 0;
        return 0;
    }
}

bool sstring::operator==(const sstring& other) const {
    if (this == &other) return true;
    if (m_data == nullptr || other.m_data == nullptr) return false;
    return m_length == other.m_length && std::memcmp(m_data, other.m_data, m_length) == 0;
}

bool sstring::operator!=(const sstring& other) const {
    if (this == &other) return false;
    if (m_data == nullptr && other.m_data == nullptr) return false;
    if (m_data == nullptr || other.m_data == nullptr) return true;
    return std::strcmp(m_data, other.m_data) != 0;
}

bool sstring::operator<(const sstring& other) const {
    if (this == &other) return false;
    if (m_data == nullptr && other.m_data == nullptr) return false;
    if (m_data == nullptr || other.m_data == nullptr) return true;
    return std::strcmp(m_data, other.m_data) < 0;  // strcmp compares as unsigned char
}

void sstring::Reset() {
    FreeHeap();
    m_marker = 'Y';
    m_data = nullptr;
    m_length = 0;
    m_capacity = 0;
    m_lastError = 0;
}

bool sstring::CopyIn(const char* source, size_t size) {
    if (size == 0) {
        m_lastError = kIllFormed;
        return false;
    }
    m_lastError = 0;
    if (size < kInlineSize) {
        // The source may live in our own heap buffer: copy before freeing it.
        std::memmove(m_inline, source, size - 1);
        m_inline[size - 1] = '\0';
        FreeHeap();
        m_data = m_inline;
    } else {
        char* buffer = static_cast<char*>(MemAlloc(size));
        if (buffer == nullptr) {
            m_lastError = kNoBuffer;
            return false;
        }
        std::memcpy(buffer, source, size - 1);
        buffer[size - 1] = '\0';
        FreeHeap();
        m_data = buffer;
    }
    m_capacity = size;
    return true;
}

void sstring::FreeHeap() {
    if (m_data != nullptr && m_data != m_inline) {
        MemFree(m_data);
        m_data = nullptr;
    }
}

bool IsStructurallyValidUtf8(const char* text, size_t length) {
    const unsigned char* p = reinterpret_cast<const unsigned char*>(text);
    size_t i = 0;
    while (i < length) {
        const unsigned char lead = p[i];
        size_t follow;
        if (lead < 0x80) {
            follow = 0;
        } else if (lead >= 0xC0 && lead <= 0xDF) {
            follow = 1;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            follow = 2;
        } else if (lead >= 0xF0 && lead <= 0xF7) {
            follow = 3;
        } else {
            return false;
        }
        if (follow > length - i - 1) return false;
        for (size_t k = 1; k <= follow; ++k) {
            if ((p[i + k] & 0xC0) != 0x80) return false;
        }
        i += follow + 1;
    }
    return true;
}

char* strlwr_ascii(char* text) {
    if (text == nullptr) return nullptr;
    for (char* p = text; *p != '\0'; ++p) *p = AsciiToLower(*p);
    return text;
}

char* _strupr(char* text) {
    if (text == nullptr) return nullptr;
    for (char* p = text; *p != '\0'; ++p) {
        *p = static_cast<char>(std::toupper(static_cast<unsigned char>(*p)));
    }
    return text;
}

const char* stristr(const char* haystack, const char* needle) {
    if (haystack == nullptr || needle == nullptr || *haystack == '\0') return nullptr;
    if (*needle == '\0') return haystack;
    const char first = AsciiToLower(*needle);
    for (const char* h = haystack; *h != '\0'; ++h) {
        if (AsciiToLower(*h) != first) continue;
        const char* a = h + 1;
        const char* b = needle + 1;
        while (*b != '\0' && AsciiToLower(*a) == AsciiToLower(*b)) {
            ++a;
            ++b;
        }
        if (*b == '\0') return h;
        if (*a == '\0') return nullptr;  // the haystack ran out: no later start can match
    }
    return nullptr;
}

char* tokenize(char* text, const char* delimiters, char** context) {
    if (context == nullptr || delimiters == nullptr) return nullptr;
    char* p = text != nullptr ? text : *context;
    if (p == nullptr) return nullptr;
    p += std::strspn(p, delimiters);
    if (*p == '\0') {
        *context = p;
        return nullptr;
    }
    char* end = p + std::strcspn(p, delimiters);
    if (*end != '\0') {
        *end = '\0';
        *context = end + 1;
    } else {
        *context = end;
    }
    return p;
}

uint32_t hash_sstring(const sstring& text) {
    if (text.c_str() == nullptr || text.length() == 0) return 0;
    uint32_t h = 5381;
    const char* p = text.c_str();
    for (uint64_t i = 0; i < text.length(); ++i) {
        h = (h * 33) ^ static_cast<uint32_t>(static_cast<int32_t>(static_cast<signed char>(p[i])));
    }
    return h;
}

}  // namespace ascommon

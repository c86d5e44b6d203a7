// The exception family's formatting and accessors.
#include "common/asexception.h"

#include <cstdio>

namespace ascommon {

ASException::ASException() : m_flag(false), m_code(-1) {
    m_message[0] = '\0';
}

ASException::ASException(Unformatted, int32_t code) : m_flag(false), m_code(code) {
    m_message[0] = '\0';
    m_message[kMessageSize] = '\0';
}

ASException::ASException(const char* format, ...) : ASException(Unformatted(), -1) {
    va_list args;
    va_start(args, format);
    Format(-1, format, args);
    va_end(args);
}

ASException::ASException(int32_t code, const char* format, ...) : ASException(Unformatted(), code) {
    va_list args;
    va_start(args, format);
    Format(code, format, args);
    va_end(args);
}

void ASException::Format(int32_t code, const char* format, va_list args) {
    m_message[0] = '\0';
    m_message[kMessageSize] = '\0';
    if (format == nullptr) {
        m_code = 0;
        return;
    }
    m_code = code;
    // vsnprintf keeps room for the terminator; the extra byte makes room for all 512 bytes.
    std::vsnprintf(m_message, kMessageSize + 1, format, args);
}

const char* ASException::what() const noexcept {
    return m_message[0] != '\0' ? m_message : "unknown exception";
}

ASInternalException::ASInternalException(const char* format, ...) : ASException(Unformatted(), -3) {
    va_list args;
    va_start(args, format);
    Format(-3, format, args);
    va_end(args);
}

ASInternalException::ASInternalException(int32_t code, const char* format, ...)
    : ASException(Unformatted(), code) {
    va_list args;
    va_start(args, format);
    Format(code, format, args);
    va_end(args);
}

}  // namespace ascommon

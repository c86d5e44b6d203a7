// Shared by the fuzz targets: a check that aborts with a message (libFuzzer reports the abort as
// a crash and keeps the input; the replay runner fails its test), a reader that takes values off
// the front of an input, and byte-exact conversions between std::string and sstring.
// Single-threaded, like the targets.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <utility>

#include "common/sstring.h"

// Checks a condition; when it fails, prints it and the printf-style message, then aborts.
#define FUZZ_CHECK(condition, ...)                                               \
    ((condition) ? void()                                                        \
                 : (std::fprintf(stderr, "fuzz check failed: %s: ", #condition), \
                    std::fprintf(stderr, __VA_ARGS__), std::fputc('\n', stderr), std::abort()))

namespace fuzz {

// Consumes an input from the front; past its end every byte is 0 and every text empty.
class Input {
  public:
    Input(const uint8_t* data, size_t size)
        : m_bytes(reinterpret_cast<const char*>(data), data ? size : 0) {}

    bool empty() const { return m_at == m_bytes.size(); }
    uint8_t Byte() { return empty() ? 0 : static_cast<uint8_t>(m_bytes[m_at++]); }
    // Bytes up to (not including) the next `separator`, which is consumed; the rest when absent.
    std::string Until(char separator) {
        const size_t end = std::min(m_bytes.find(separator, m_at), m_bytes.size());
        std::string bytes = m_bytes.substr(m_at, end - m_at);
        m_at = std::min(end + 1, m_bytes.size());
        return bytes;
    }
    std::string Rest() { return m_bytes.substr(std::exchange(m_at, m_bytes.size())); }

  private:
    std::string m_bytes;
    size_t m_at = 0;
};

// The bytes as an sstring, NUL bytes included.
inline ascommon::sstring Bytes(const std::string& text) {
    ascommon::sstring s;
    s.assign(text.data(), text.size());
    return s;
}

// The sstring's bytes; "" for a void one.
inline std::string Text(const ascommon::sstring& s) {
    return s.c_str() ? std::string(s.c_str(), s.length()) : std::string();
}

}  // namespace fuzz

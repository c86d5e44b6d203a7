// Shared by the fuzz targets: a check that aborts with a message (libFuzzer reports the abort as
// a crash and keeps the input; the replay runner fails its test), and a reader that takes typed
// values off the front of an input. Single-threaded, like the targets.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#define FUZZ_CHECK(condition, ...)                                       \
    do {                                                                 \
        if (!(condition)) {                                              \
            std::fprintf(stderr, "fuzz check failed: %s: ", #condition); \
            std::fprintf(stderr, __VA_ARGS__);                           \
            std::fputc('\n', stderr);                                    \
            std::abort();                                                \
        }                                                                \
    } while (0)

namespace fuzz {

// Consumes an input from the front; past its end every value is 0 and every text empty.
class Input {
  public:
    Input(const uint8_t* data, size_t size) : m_data(data), m_size(size) {}

    bool empty() const { return m_size == 0; }
    size_t left() const { return m_size; }

    uint8_t Byte() {
        if (m_size == 0) return 0;
        --m_size;
        return *m_data++;
    }
    // The next `count` bytes, fewer when the input ends first.
    std::string Bytes(size_t count) {
        if (count > m_size) count = m_size;
        std::string bytes(reinterpret_cast<const char*>(m_data), count);
        m_data += count;
        m_size -= count;
        return bytes;
    }
    // Bytes up to (not including) the next `separator`, which is consumed; the rest when absent.
    std::string Until(char separator) {
        size_t n = 0;
        while (n < m_size && m_data[n] != static_cast<uint8_t>(separator)) ++n;
        std::string bytes = Bytes(n);
        if (m_size != 0) Byte();
        return bytes;
    }
    std::string Rest() { return Bytes(m_size); }

  private:
    const uint8_t* m_data;
    size_t m_size;
};

}  // namespace fuzz

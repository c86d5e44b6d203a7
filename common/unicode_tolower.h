// Unicode lower-casing for the module: simple (one code point to one code point) lower-case
// mapping of UCD 15.1, for single code points and for UTF-8 text.
//
// Thread safety: the lookup tables are filled once while the library is loaded (before any
// ordinary static initializer of other units on GCC/Clang) and only read afterwards, so every
// function here may be called concurrently from any number of threads.
// Ownership: nothing is allocated; callers own the input and output buffers.
#pragma once

#include <cstddef>
#include <cstdint>

namespace ascommon {

// Generated mapping data (common/unicode_lower_table.cpp, by tools/gen_unicode_lower.js).
// Each table holds (code point, lower case) pairs in ascending code point order, only for code
// points whose lower case differs from themselves.
namespace unicode_lower_data {
extern const uint32_t kBmpPairs[][2];  // code points below 0x10000
extern const size_t kBmpPairCount;
extern const uint32_t kSupplementaryPairs[][2];  // code points 0x10000 and above
extern const size_t kSupplementaryPairCount;
}  // namespace unicode_lower_data

class UNICODETOLOWER {
  public:
    static constexpr int32_t kOk = 0;
    static constexpr int32_t kErrNullArgument = -1;
    static constexpr int32_t kErrBadSequence = -50;
    static constexpr int32_t kErrOutputFull = -51;

    // Simple lower-case mapping of one code point; code points without one (including
    // anything above 0x10FFFF) map to themselves.
    static uint32_t ToLower(uint32_t cp);

    // Lower-cases the UTF-8 text in[0..inLen) into out[0..outRoom); *outLen receives the bytes
    // written (on failure: those written before it). Returns kOk, kErrNullArgument,
    // kErrBadSequence (undecodable input) or kErrOutputFull (fewer than 4 bytes of room left
    // before a code point). Decoding is lenient; in and out must not overlap.
    static int32_t UTF8_tolower(const char* in, size_t inLen, char* out, size_t outRoom,
                                size_t* outLen);

    UNICODETOLOWER() = delete;
};

}  // namespace ascommon

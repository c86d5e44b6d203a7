// Buffer-to-buffer conversions between UTF-8, UTF-16 and UTF-32 (the classic ConvertUTF scheme).
// Each takes the source and target as start/end pointer pairs; the start pointers are advanced
// past what was consumed and produced, so a caller can resume after "target full". Nothing is
// read at or past a source end or written at or past a target end. Self-contained (no hooks,
// no allocation): the companion Unicode library compiles this file too.
#pragma once

#include <cstdint>

namespace ascommon {

// Results.
constexpr int kConversionOK = 0;     // the whole source was converted
constexpr int kSourceExhausted = 1;  // the source ends inside a sequence (left at its start)
constexpr int kTargetExhausted = 2;  // no room for the next character (source left at it)
constexpr int kSourceIllegal = 3;    // an ill-formed sequence (strict) or an out-of-range value

// Flags of the UTF-8 source conversions.
constexpr int kLenientConversion = 0;  // assemble whatever the bytes say, no checks
constexpr int kStrictConversion = 2;   // refuse ill-formed UTF-8

int ConvertUTF8toUTF16(const uint8_t** sourceStart, const uint8_t* sourceEnd,
                       char16_t** targetStart, char16_t* targetEnd, int flags);
int ConvertUTF16toUTF8(const char16_t** sourceStart, const char16_t* sourceEnd,
                       uint8_t** targetStart, uint8_t* targetEnd);
int ConvertUTF8toUTF32(const uint8_t** sourceStart, const uint8_t* sourceEnd,
                       char32_t** targetStart, char32_t* targetEnd, int flags);
int ConvertUTF32toUTF8(const char32_t** sourceStart, const char32_t* sourceEnd,
                       uint8_t** targetStart, uint8_t* targetEnd);

}  // namespace ascommon

// UTF buffer conversions. The lead byte of a UTF-8 sequence alone decides its length; in lenient
// mode the value is assembled from whatever bytes follow, in strict mode the sequence must be
// well-formed UTF-8 first.
#include "glyphkit/utfconvert.h"

namespace ascommon {

namespace {

constexpr uint32_t kReplacementChar = 0xFFFD;
constexpr uint32_t kMaxBmp = 0xFFFF;
constexpr uint32_t kMaxLegal = 0x10FFFF;
constexpr uint32_t kHighSurrogateStart = 0xD800;
constexpr uint32_t kHighSurrogateEnd = 0xDBFF;
constexpr uint32_t kLowSurrogateStart = 0xDC00;
constexpr uint32_t kLowSurrogateEnd = 0xDFFF;

// What the 6-bit shifts of a sequence of 1..6 bytes add on top of its value (lead-byte marks and
// continuation marks), indexed by the number of trailing bytes.
constexpr uint32_t kOffsetsFromUtf8[6] = {0x00000000u, 0x00003080u, 0x000E2080u,
                                          0x03C82080u, 0xFA082080u, 0x82082080u};

// Lead-byte marks of sequences of 1..4 bytes, indexed by length.
constexpr uint8_t kFirstByteMark[5] = {0x00, 0x00, 0xC0, 0xE0, 0xF0};

int TrailingBytes(uint8_t lead) {
    if (lead < 0xC0) return 0;  // ASCII, and stray continuation bytes taken on their own
    if (lead < 0xE0) return 1;
    if (lead < 0xF0) return 2;
    if (lead < 0xF8) return 3;
    if (lead < 0xFC) return 4;
    return 5;
}

bool IsSurrogate(uint32_t c) {
    return c >= kHighSurrogateStart && c <= kLowSurrogateEnd;
}

// Well-formed UTF-8 of `length` bytes (shortest form, no surrogates, at most U+10FFFF).
bool IsLegalUtf8(const uint8_t* s, int length) {
    switch (length) {
        case 4:
            if (s[3] < 0x80 || s[3] > 0xBF) return false;
            [[fallthrough]];
        case 3:
            if (s[2] < 0x80 || s[2] > 0xBF) return false;
            [[fallthrough]];
        case 2: {
            const uint8_t second = s[1];
            if (second < 0x80 || second > 0xBF) return false;
            switch (s[0]) {
                case 0xE0:  // overlong below U+0800
                    if (second < 0xA0) return false;
                    break;
                case 0xED:  // surrogates
                    if (second > 0x9F) return false;
                    break;
                case 0xF0:  // overlong below U+10000
                    if (second < 0x90) return false;
                    break;
                case 0xF4:  // above U+10FFFF
                    if (second >= 0x90) return false;
                    break;
                default:
                    break;
            }
            [[fallthrough]];
        }
        case 1:
            if (s[0] >= 0x80 && s[0] < 0xC2) return false;
            break;
        default:  // 5 and 6 byte forms
            return false;
    }
    return s[0] <= 0xF4;
}

// Reads the sequence at s (s < end). On success gives its value and length in bytes.
int ReadUtf8(const uint8_t* s, const uint8_t* end, int flags, uint32_t* value, int* length) {
    const int trailing = TrailingBytes(*s);
    if (trailing >= end - s) return kSourceExhausted;
    if (flags == kStrictConversion && !IsLegalUtf8(s, trailing + 1)) return kSourceIllegal;
    uint32_t c = 0;
    for (int i = 0; i <= trailing; ++i) {
        c += s[i];
        if (i < trailing) c <<= 6;  // wraps for 5 and 6 byte forms; the offset undoes the marks
    }
    *value = c - kOffsetsFromUtf8[trailing];
    *length = trailing + 1;
    return kConversionOK;
}

int Utf8Length(uint32_t c) {
    if (c < 0x80) return 1;
    if (c < 0x800) return 2;
    if (c < 0x10000) return 3;
    return 4;
}

// Writes c (at most U+10FFFF) as `length` bytes.
void WriteUtf8(uint32_t c, int length, uint8_t* out) {
    for (int i = length - 1; i > 0; --i) {
        out[i] = static_cast<uint8_t>((c & 0x3F) | 0x80);
        c >>= 6;
    }
    out[0] = static_cast<uint8_t>(c | kFirstByteMark[length]);
}

// Null pointer arguments that would have to be followed.
template <typename Source, typename Target>
bool BadArguments(Source* sourceStart, const void* sourceEnd, Target* targetStart,
                  const void* targetEnd) {
    if (sourceStart == nullptr || targetStart == nullptr) return true;
    if (*sourceStart == nullptr && sourceEnd != nullptr) return true;
    return *targetStart == nullptr && targetEnd != nullptr;
}

}  // namespace

int ConvertUTF8toUTF16(const uint8_t** sourceStart, const uint8_t* sourceEnd,
                       char16_t** targetStart, char16_t* targetEnd, int flags) {
    if (BadArguments(sourceStart, sourceEnd, targetStart, targetEnd)) return kSourceIllegal;
    int result = kConversionOK;
    const uint8_t* s = *sourceStart;
    char16_t* t = *targetStart;
    while (s < sourceEnd) {
        uint32_t c = 0;
        int length = 0;
        const int read = ReadUtf8(s, sourceEnd, flags, &c, &length);
        if (read != kConversionOK) {
            result = read;
            break;
        }
        if (t >= targetEnd) {
            result = kTargetExhausted;
            break;
        }
        if (c <= kMaxBmp) {
            *t++ = static_cast<char16_t>(IsSurrogate(c) ? kReplacementChar : c);
        } else if (c > kMaxLegal) {
            *t++ = static_cast<char16_t>(kReplacementChar);
        } else {
            if (targetEnd - t < 2) {
                result = kTargetExhausted;
                break;
            }
            c -= 0x10000;
            *t++ = static_cast<char16_t>(kHighSurrogateStart + (c >> 10));
            *t++ = static_cast<char16_t>(kLowSurrogateStart + (c & 0x3FF));
        }
        s += length;
    }
    *sourceStart = s;
    *targetStart = t;
    return result;
}

int ConvertUTF16toUTF8(const char16_t** sourceStart, const char16_t* sourceEnd,
                       uint8_t** targetStart, uint8_t* targetEnd) {
    if (BadArguments(sourceStart, sourceEnd, targetStart, targetEnd)) return kSourceIllegal;
    int result = kConversionOK;
    const char16_t* s = *sourceStart;
    uint8_t* t = *targetStart;
    while (s < sourceEnd) {
        const char16_t* start = s;
        uint32_t c = *s++;
        if (c >= kHighSurrogateStart && c <= kHighSurrogateEnd) {
            if (s >= sourceEnd) {  // the low half may still come with the next buffer
                s = start;
                result = kSourceExhausted;
                break;
            }
            const uint32_t low = *s;
            if (low >= kLowSurrogateStart && low <= kLowSurrogateEnd) {
                c = ((c - kHighSurrogateStart) << 10) + (low - kLowSurrogateStart) + 0x10000;
                ++s;
            }
        }
        const int length = Utf8Length(c);
        if (targetEnd - t < length) {
            s = start;
            result = kTargetExhausted;
            break;
        }
        WriteUtf8(c, length, t);
        t += length;
    }
    *sourceStart = s;
    *targetStart = t;
    return result;
}

int ConvertUTF8toUTF32(const uint8_t** sourceStart, const uint8_t* sourceEnd,
                       char32_t** targetStart, char32_t* targetEnd, int flags) {
    if (BadArguments(sourceStart, sourceEnd, targetStart, targetEnd)) return kSourceIllegal;
    int result = kConversionOK;
    const uint8_t* s = *sourceStart;
    char32_t* t = *targetStart;
    while (s < sourceEnd) {
        uint32_t c = 0;
        int length = 0;
        const int read = ReadUtf8(s, sourceEnd, flags, &c, &length);
        if (read != kConversionOK) {
            result = read;
            break;
        }
        if (t >= targetEnd) {
            result = kTargetExhausted;
            break;
        }
        if (c > kMaxLegal) {
            *t++ = kReplacementChar;
            result = kSourceIllegal;  // reported, but the rest is still converted
        } else {
            *t++ = IsSurrogate(c) ? kReplacementChar : c;
        }
        s += length;
    }
    *sourceStart = s;
    *targetStart = t;
    return result;
}

int ConvertUTF32toUTF8(const char32_t** sourceStart, const char32_t* sourceEnd,
                       uint8_t** targetStart, uint8_t* targetEnd) {
    if (BadArguments(sourceStart, sourceEnd, targetStart, targetEnd)) return kSourceIllegal;
    int result = kConversionOK;
    const char32_t* s = *sourceStart;
    uint8_t* t = *targetStart;
    while (s < sourceEnd) {
        uint32_t c = *s;
        if (c > kMaxLegal) {
            c = kReplacementChar;
            result = kSourceIllegal;  // reported, but the rest is still converted
        }
        const int length = Utf8Length(c);
        if (targetEnd - t < length) {
            result = kTargetExhausted;
            break;
        }
        WriteUtf8(c, length, t);
        t += length;
        ++s;
    }
    *sourceStart = s;
    *targetStart = t;
    return result;
}

}  // namespace ascommon

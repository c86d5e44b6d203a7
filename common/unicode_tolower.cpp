// UNICODETOLOWER: lookups over the generated UCD 15.1 simple lower-case tables
// (common/unicode_lower_table.cpp) and the module's lenient UTF-8 lower-casing.
//
// Thread safety: the 64K-entry BMP table below lives in zero-initialised static storage and is
// filled once while the library is loaded; afterwards it and the generated tables are only
// read, so all functions are safe to call concurrently. Ownership: no heap memory is used.
#include "common/unicode_tolower.h"

#include <algorithm>

#include "common/ascii.h"

namespace ascommon {
namespace {

using unicode_lower_data::kBmpPairCount;
using unicode_lower_data::kBmpPairs;
using unicode_lower_data::kSupplementaryPairCount;
using unicode_lower_data::kSupplementaryPairs;

constexpr uint32_t kBmpSize = 0x10000;
constexpr uint32_t kMaxCodePoint = 0x10FFFF;

// Lower case of every BMP code point (identity where there is no mapping).
uint32_t g_bmpLower[kBmpSize];

struct BmpTableFiller {
    BmpTableFiller() {
        for (uint32_t cp = 0; cp < kBmpSize; ++cp) g_bmpLower[cp] = cp;
        for (size_t i = 0; i < kBmpPairCount; ++i) g_bmpLower[kBmpPairs[i][0]] = kBmpPairs[i][1];
    }
};

// The generated pair tables are constant-initialised, so they are usable here. The priority
// makes the fill run ahead of other units' ordinary static initializers, which may lower-case.
#if defined(__GNUC__)
__attribute__((init_priority(101))) BmpTableFiller g_bmpTableFiller;
#else
BmpTableFiller g_bmpTableFiller;
#endif

uint32_t LowerSupplementary(uint32_t cp) {
    const uint32_t(*first)[2] = kSupplementaryPairs;
    const uint32_t(*last)[2] = kSupplementaryPairs + kSupplementaryPairCount;
    const uint32_t(*it)[2] = std::lower_bound(
        first, last, cp, [](const uint32_t(&pair)[2], uint32_t key) { return pair[0] < key; });
    return (it != last && (*it)[0] == cp) ? (*it)[1] : cp;
}

inline uint32_t Lower(uint32_t cp) {
    if (cp < kBmpSize) return g_bmpLower[cp];
    if (cp > kMaxCodePoint) return cp;
    return LowerSupplementary(cp);
}

// Shortest-form UTF-8 of cp (any value up to 0x1FFFFF) at dst; returns the byte count.
inline size_t EncodeUtf8(uint32_t cp, unsigned char* dst) {
    if (cp < 0x80) {
        dst[0] = static_cast<unsigned char>(cp);
        return 1;
    }
    if (cp < 0x800) {
        dst[0] = static_cast<unsigned char>(0xC0 | (cp >> 6));
        dst[1] = static_cast<unsigned char>(0x80 | (cp & 0x3F));
        return 2;
    }
    if (cp < 0x10000) {
        dst[0] = static_cast<unsigned char>(0xE0 | (cp >> 12));
        dst[1] = static_cast<unsigned char>(0x80 | ((cp >> 6) & 0x3F));
        dst[2] = static_cast<unsigned char>(0x80 | (cp & 0x3F));
        return 3;
    }
    dst[0] = static_cast<unsigned char>(0xF0 | (cp >> 18));
    dst[1] = static_cast<unsigned char>(0x80 | ((cp >> 12) & 0x3F));
    dst[2] = static_cast<unsigned char>(0x80 | ((cp >> 6) & 0x3F));
    dst[3] = static_cast<unsigned char>(0x80 | (cp & 0x3F));
    return 4;
}

}  // namespace

uint32_t UNICODETOLOWER::ToLower(uint32_t cp) {
    return Lower(cp);
}

int32_t UNICODETOLOWER::UTF8_tolower(const char* in, size_t inLen, char* out, size_t outRoom,
                                     size_t* outLen) {
    if (in == nullptr || out == nullptr || outLen == nullptr) return kErrNullArgument;

    const auto* src = reinterpret_cast<const unsigned char*>(in);
    auto* dst = reinterpret_cast<unsigned char*>(out);
    // Every code point needs 4 bytes of room before it is written, whatever its encoded size:
    // o + 4 <= outRoom  <=>  o < writeLimit.
    const size_t writeLimit = outRoom >= 4 ? outRoom - 3 : 0;
    size_t i = 0;
    size_t o = 0;
    int32_t rc = kOk;

    while (i < inLen) {
        const unsigned char lead = src[i];
        if (lead < 0x80) {  // ASCII: same result as the table, without the lookup
            if (o >= writeLimit) {
                rc = kErrOutputFull;
                break;
            }
            dst[o++] = static_cast<unsigned char>(AsciiToLower(static_cast<char>(lead)));
            ++i;
            continue;
        }

        // Length comes from the lead byte alone: anything below 0xE0 (a stray continuation
        // byte included) is a 2-byte lead. Overlong forms and surrogates pass through.
        size_t len;
        uint32_t cp;
        if (lead < 0xE0) {
            len = 2;
            cp = lead & 0x1Fu;
        } else if (lead < 0xF0) {
            len = 3;
            cp = lead & 0x0Fu;
        } else {
            len = 4;
            cp = lead & 0x07u;
        }
        if (len > inLen - i) {
            rc = kErrBadSequence;
            break;
        }
        bool ok = true;
        for (size_t k = 1; k < len; ++k) {
            const unsigned char c = src[i + k];
            if ((c & 0xC0u) != 0x80u) {
                ok = false;
                break;
            }
            cp = (cp << 6) | (c & 0x3Fu);
        }
        if (!ok) {
            rc = kErrBadSequence;
            break;
        }

        if (o >= writeLimit) {
            rc = kErrOutputFull;
            break;
        }
        o += EncodeUtf8(Lower(cp), dst + o);
        i += len;
    }

    *outLen = o;
    return rc;
}

}  // namespace ascommon

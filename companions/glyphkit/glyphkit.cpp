// Glyphkit, the Unicode services library. Every operation decodes its input to code points,
// works on those, and encodes the result; the UTF-8 legs use the shared buffer converters.
// Categories and scripts come from the generated UCD tables (glyphkit_tables.cpp), lower case
// from the module's generated table (common/unicode_lower_table.cpp).
#include "companions/glyphkit/glyphkit.h"

#include <strings.h>

#include <algorithm>
#include <cstring>
#include <new>
#include <string>
#include <utility>
#include <vector>

#include "common/unicode_tolower.h"
#include "companions/glyphkit/glyphkit_tables.h"
#include "glyphkit/utfconvert.h"

namespace {

using Text = std::u32string;

// Stands for an ill-formed byte or unit in the statistics: category Other.
constexpr char32_t kIllFormed = 0x110000;

// ---- Categories, case and scripts ------------------------------------------------------------

enum Case { kNoCase, kUpper, kLower };

constexpr uint32_t kMaxCodePoint = 0x10FFFF;

bool In(uint32_t c, uint32_t low, uint32_t high) {
    return c >= low && c <= high;
}

// The value of the range that holds c (at most U+10FFFF) in a generated range table.
uint32_t RangeValue(const uint32_t* ranges, size_t count, uint32_t c) {
    // The first range starting above c follows the one holding it; range 0 starts at U+0000.
    const uint32_t* next = std::upper_bound(ranges, ranges + count, c << 8 | 0xFF);
    return next[-1] & 0xFF;
}

int32_t Category(uint32_t c) {
    if (c > kMaxCodePoint) return GK_CAT_OTHER;
    return static_cast<int32_t>(
        RangeValue(glyphkit_data::kCategoryRanges, glyphkit_data::kCategoryRangeCount, c));
}

Case CaseOf(uint32_t c) {
    const int32_t category = Category(c);
    return category == GK_CAT_UPPER ? kUpper : category == GK_CAT_LOWER ? kLower : kNoCase;
}

// Simple lower-case mapping from the generated UCD table shared with the module; c itself when
// it has none.
uint32_t ToLower(uint32_t c) {
    using namespace ascommon::unicode_lower_data;
    if (c < 0x80) return In(c, 'A', 'Z') ? c + 0x20 : c;
    const bool bmp = c < 0x10000;
    const uint32_t(*first)[2] = bmp ? kBmpPairs : kSupplementaryPairs;
    const uint32_t(*last)[2] = first + (bmp ? kBmpPairCount : kSupplementaryPairCount);
    const uint32_t(*it)[2] = std::lower_bound(
        first, last, c, [](const uint32_t(&pair)[2], uint32_t key) { return pair[0] < key; });
    return (it != last && (*it)[0] == c) ? (*it)[1] : c;
}

bool IsLetter(int32_t category) {
    return category == GK_CAT_UPPER || category == GK_CAT_LOWER || category == GK_CAT_LETTER;
}

bool IsWord(uint32_t c) {
    const int32_t category = Category(c);
    return IsLetter(category) || category == GK_CAT_MARK || category == GK_CAT_DIGIT;
}

// The script of a letter or mark, as an index into glyphkit_data::kScriptNames; every other
// character counts as Common.
uint32_t ScriptOf(uint32_t c) {
    const int32_t category = Category(c);
    if (!IsLetter(category) && category != GK_CAT_MARK) return glyphkit_data::kCommonScript;
    return RangeValue(glyphkit_data::kScriptRanges, glyphkit_data::kScriptRangeCount, c);
}

// ---- Folding tables -------------------------------------------------------------------------

struct Fold {
    uint32_t from;
    char to;
};

// Greek and Cyrillic letters drawn like Latin ones.
constexpr Fold kLookAlikes[] = {
    {0x0391, 'A'}, {0x0392, 'B'}, {0x0395, 'E'}, {0x0396, 'Z'}, {0x0397, 'H'}, {0x0399, 'I'},
    {0x039A, 'K'}, {0x039C, 'M'}, {0x039D, 'N'}, {0x039F, 'O'}, {0x03A1, 'P'}, {0x03A4, 'T'},
    {0x03A5, 'Y'}, {0x03A7, 'X'}, {0x03B1, 'a'}, {0x03B9, 'i'}, {0x03BD, 'v'}, {0x03BF, 'o'},
    {0x03C1, 'p'}, {0x03C5, 'u'}, {0x0405, 'S'}, {0x0406, 'I'}, {0x0408, 'J'}, {0x0410, 'A'},
    {0x0412, 'B'}, {0x0415, 'E'}, {0x041A, 'K'}, {0x041C, 'M'}, {0x041D, 'H'}, {0x041E, 'O'},
    {0x0420, 'P'}, {0x0421, 'C'}, {0x0422, 'T'}, {0x0425, 'X'}, {0x0430, 'a'}, {0x0435, 'e'},
    {0x043E, 'o'}, {0x0440, 'p'}, {0x0441, 'c'}, {0x0443, 'y'}, {0x0445, 'x'}, {0x0455, 's'},
    {0x0456, 'i'}, {0x0458, 'j'}, {0x0501, 'd'}, {0x051B, 'q'}, {0x051D, 'w'},
};

struct Composition {
    uint32_t composed;
    char base;
    uint32_t mark;
};

// The upper-case Latin-1 letters with one accent; the lower-case ones are 0x20 above, plus ÿ.
constexpr Composition kLatin1Compositions[] = {
    {0xC0, 'A', 0x300}, {0xC1, 'A', 0x301}, {0xC2, 'A', 0x302}, {0xC3, 'A', 0x303},
    {0xC4, 'A', 0x308}, {0xC5, 'A', 0x30A}, {0xC7, 'C', 0x327}, {0xC8, 'E', 0x300},
    {0xC9, 'E', 0x301}, {0xCA, 'E', 0x302}, {0xCB, 'E', 0x308}, {0xCC, 'I', 0x300},
    {0xCD, 'I', 0x301}, {0xCE, 'I', 0x302}, {0xCF, 'I', 0x308}, {0xD1, 'N', 0x303},
    {0xD2, 'O', 0x300}, {0xD3, 'O', 0x301}, {0xD4, 'O', 0x302}, {0xD5, 'O', 0x303},
    {0xD6, 'O', 0x308}, {0xD9, 'U', 0x300}, {0xDA, 'U', 0x301}, {0xDB, 'U', 0x302},
    {0xDC, 'U', 0x308}, {0xDD, 'Y', 0x301},
};

// The precomposed Latin-1 letter of base + mark, 0 when there is none.
uint32_t Compose(uint32_t base, uint32_t mark) {
    if (base == 'y' && mark == 0x308) return 0xFF;
    for (const Composition& c : kLatin1Compositions) {
        if (c.mark != mark) continue;
        if (base == static_cast<uint32_t>(c.base)) return c.composed;
        if (base == static_cast<uint32_t>(c.base) + 0x20) return c.composed + 0x20;
    }
    return 0;
}

// The base letter of a precomposed Latin-1 letter, or c itself.
uint32_t StripAccent(uint32_t c) {
    if (c == 0xFF) return 'y';
    for (const Composition& k : kLatin1Compositions) {
        if (c == k.composed) return static_cast<uint32_t>(k.base);
        if (c == k.composed + 0x20) return static_cast<uint32_t>(k.base) + 0x20;
    }
    return c;
}

bool IsInvisible(uint32_t c) {
    return c == 0xAD || c == 0x34F || In(c, 0x200B, 0x200D) || c == 0x2060 || c == 0xFEFF;
}

bool IsCompatibilitySpace(uint32_t c) {
    return c == 0xA0 || In(c, 0x2000, 0x200A) || c == 0x202F || c == 0x205F || c == 0x3000;
}

// ---- Text operations --------------------------------------------------------------------------

Text Lower(const Text& in, bool regex) {
    Text out;
    out.reserve(in.size());
    for (size_t i = 0; i < in.size(); ++i) {
        if (regex && in[i] == '\\' && i + 1 < in.size()) {
            out.push_back(in[i]);
            out.push_back(in[++i]);
            continue;
        }
        out.push_back(ToLower(in[i]));
    }
    return out;
}

Text VisualFold(const Text& in, bool v2) {
    Text out;
    out.reserve(in.size());
    for (uint32_t c : in) {
        if (v2 && IsInvisible(c)) continue;
        if (In(c, 0xFF01, 0xFF5E)) c -= 0xFEE0;
        for (const Fold& f : kLookAlikes) {
            if (f.from == c) c = static_cast<uint32_t>(f.to);
        }
        if (v2) {
            c = StripAccent(c);
            if (c >= 0x80 && Category(c) == GK_CAT_SPACE) c = ' ';
        }
        out.push_back(c);
    }
    return out;
}

Text FormNormalize(const Text& in) {
    static const char* const kLigatures[] = {"ff", "fi", "fl", "ffi", "ffl", "st", "st"};
    Text out;
    out.reserve(in.size());
    for (uint32_t c : in) {
        if (!out.empty()) {
            const uint32_t composed = Compose(out.back(), c);
            if (composed != 0) {
                out.back() = composed;
                continue;
            }
        }
        if (In(c, 0xFF01, 0xFF5E)) {
            out.push_back(c - 0xFEE0);
        } else if (In(c, 0xFB00, 0xFB06)) {
            for (const char* p = kLigatures[c - 0xFB00]; *p; ++p) out.push_back(*p);
        } else if (IsCompatibilitySpace(c)) {
            out.push_back(' ');
        } else {
            out.push_back(c);
        }
    }
    return out;
}

// ---- Encodings --------------------------------------------------------------------------------

bool IsScalar(uint32_t c) {
    return c <= kMaxCodePoint && !In(c, 0xD800, 0xDFFF);
}

int32_t DecodeUtf8(const char* text, size_t length, Text* out) {
    out->assign(length, 0);  // never more code points than bytes
    if (length == 0) return GK_OK;
    const uint8_t* s = reinterpret_cast<const uint8_t*>(text);
    char32_t* t = &(*out)[0];
    const int result =
        ascommon::ConvertUTF8toUTF32(&s, s + length, &t, t + length, ascommon::kStrictConversion);
    out->resize(static_cast<size_t>(t - out->data()));
    return result == ascommon::kConversionOK ? GK_OK : GK_ILL_FORMED;
}

// As DecodeUtf8, but each byte that does not start a well-formed sequence becomes kIllFormed.
Text DecodeUtf8Leniently(const char* text, size_t length) {
    Text out(length, 0);
    const uint8_t* s = reinterpret_cast<const uint8_t*>(text);
    const uint8_t* end = s + length;
    char32_t* t = length ? &out[0] : nullptr;
    while (s < end) {
        // Room for one code point per byte left, so only the input can stop the conversion.
        const int result =
            ascommon::ConvertUTF8toUTF32(&s, end, &t, t + (end - s), ascommon::kStrictConversion);
        if (result == ascommon::kConversionOK) break;
        *t++ = kIllFormed;  // s is at the ill-formed or cut-off sequence: skip one byte
        ++s;
    }
    out.resize(static_cast<size_t>(t - out.data()));
    return out;
}

int32_t EncodeUtf8(const Text& in, std::string* out) {
    out->assign(in.size() * 4, '\0');
    if (in.empty()) return GK_OK;
    const char32_t* s = in.data();
    uint8_t* start = reinterpret_cast<uint8_t*>(&(*out)[0]);
    uint8_t* t = start;
    const int result = ascommon::ConvertUTF32toUTF8(&s, s + in.size(), &t, start + out->size());
    out->resize(static_cast<size_t>(t - start));
    return result == ascommon::kConversionOK ? GK_OK : GK_ILL_FORMED;
}

template <typename Unit>
int32_t DecodeUtf16(const Unit* units, size_t count, Text* out) {
    out->clear();
    for (size_t i = 0; i < count; ++i) {
        const uint32_t c = units[i];
        if (In(c, 0xD800, 0xDBFF) && i + 1 < count && In(units[i + 1], 0xDC00, 0xDFFF)) {
            out->push_back(((c - 0xD800) << 10) + (units[++i] - 0xDC00) + 0x10000);
        } else if (In(c, 0xD800, 0xDFFF)) {
            return GK_ILL_FORMED;
        } else {
            out->push_back(c);
        }
    }
    return GK_OK;
}

std::u16string EncodeUtf16(const Text& in) {
    std::u16string out;
    out.reserve(in.size());
    for (uint32_t c : in) {
        if (c >= 0x10000) {
            out.push_back(static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF)));
        } else {
            out.push_back(static_cast<char16_t>(c));
        }
    }
    return out;
}

template <typename Unit>
int32_t DecodeUtf32(const Unit* units, size_t count, Text* out) {
    out->clear();
    for (size_t i = 0; i < count; ++i) {
        if (!IsScalar(units[i])) return GK_ILL_FORMED;
        out->push_back(units[i]);
    }
    return GK_OK;
}

int Base64Value(char c) {
    if (In(static_cast<unsigned char>(c), 'A', 'Z')) return c - 'A';
    if (In(static_cast<unsigned char>(c), 'a', 'z')) return c - 'a' + 26;
    if (In(static_cast<unsigned char>(c), '0', '9')) return c - '0' + 52;
    if (c == '+') return 62;
    if (c == '/') return 63;
    return -1;
}

// UTF-7: ASCII as is; "+-" is '+'; "+" opens a run of modified base64 carrying UTF-16 units,
// closed by any other character ('-' is absorbed). Leftover bits must be fewer than 6 and zero.
int32_t DecodeUtf7(const char* bytes, size_t length, Text* out) {
    std::u16string units;
    size_t i = 0;
    while (i < length) {
        const unsigned char b = static_cast<unsigned char>(bytes[i]);
        if (b >= 0x80) return GK_ILL_FORMED;
        ++i;
        if (b != '+') {
            units.push_back(b);
            continue;
        }
        if (i < length && bytes[i] == '-') {
            units.push_back('+');
            ++i;
            continue;
        }
        uint32_t bits = 0;
        int bitCount = 0;
        for (; i < length; ++i) {
            const int value = Base64Value(bytes[i]);
            if (value < 0) break;
            bits = (bits << 6) | static_cast<uint32_t>(value);
            bitCount += 6;
            if (bitCount >= 16) {
                bitCount -= 16;
                units.push_back(static_cast<char16_t>(bits >> bitCount));
            }
            bits &= (1u << bitCount) - 1;
        }
        if (bitCount >= 6 || bits != 0) return GK_ILL_FORMED;
        if (i < length && bytes[i] == '-') ++i;
    }
    return DecodeUtf16(units.data(), units.size(), out);
}

enum class Charset {
    kUnknown,
    kUtf8,
    kUtf16,
    kUtf16Le,
    kUtf16Be,
    kUtf32,
    kUtf32Le,
    kUtf32Be,
    kUtf7,
    kLatin1,
    kAscii
};

Charset CharsetOf(const char* name) {
    static const std::pair<const char*, Charset> kNames[] = {
        {"utf-8", Charset::kUtf8},       {"utf8", Charset::kUtf8},
        {"utf-16", Charset::kUtf16},     {"utf-16le", Charset::kUtf16Le},
        {"utf-16be", Charset::kUtf16Be}, {"utf-32", Charset::kUtf32},
        {"utf-32le", Charset::kUtf32Le}, {"utf-32be", Charset::kUtf32Be},
        {"utf-7", Charset::kUtf7},       {"iso-8859-1", Charset::kLatin1},
        {"latin1", Charset::kLatin1},    {"us-ascii", Charset::kAscii},
        {"ascii", Charset::kAscii},
    };
    if (name == nullptr) return Charset::kUnknown;
    for (const auto& entry : kNames) {
        if (strcasecmp(name, entry.first) == 0) return entry.second;
    }
    return Charset::kUnknown;
}

// Units of `size` bytes in the given order, from a byte string whose length they divide.
std::vector<uint32_t> Units(const char* bytes, size_t length, size_t size, bool bigEndian) {
    std::vector<uint32_t> units;
    const unsigned char* p = reinterpret_cast<const unsigned char*>(bytes);
    for (size_t i = 0; i + size <= length; i += size) {
        uint32_t unit = 0;
        for (size_t k = 0; k < size; ++k) {
            const size_t at = bigEndian ? i + k : i + size - 1 - k;
            unit = (unit << 8) | p[at];
        }
        units.push_back(unit);
    }
    return units;
}

int32_t DecodeUnits(const char* bytes, size_t length, size_t size, Charset charset, Text* out) {
    if (length % size != 0) return GK_ILL_FORMED;
    const bool bigEndian = charset == Charset::kUtf16Be || charset == Charset::kUtf32Be;
    std::vector<uint32_t> units = Units(bytes, length, size, bigEndian);
    if ((charset == Charset::kUtf16 || charset == Charset::kUtf32) && !units.empty()) {
        const uint32_t swappedBom = size == 2 ? 0xFFFE : 0xFFFE0000u;
        if (units[0] == swappedBom) units = Units(bytes, length, size, true);
        if (units[0] == 0xFEFF) units.erase(units.begin());
    }
    return size == 2 ? DecodeUtf16(units.data(), units.size(), out)
                     : DecodeUtf32(units.data(), units.size(), out);
}

int32_t Decode(Charset charset, const char* bytes, size_t length, Text* out) {
    switch (charset) {
        case Charset::kUtf8:
            return DecodeUtf8(bytes, length, out);
        case Charset::kUtf16:
        case Charset::kUtf16Le:
        case Charset::kUtf16Be:
            return DecodeUnits(bytes, length, 2, charset, out);
        case Charset::kUtf32:
        case Charset::kUtf32Le:
        case Charset::kUtf32Be:
            return DecodeUnits(bytes, length, 4, charset, out);
        case Charset::kUtf7:
            return DecodeUtf7(bytes, length, out);
        case Charset::kLatin1:
        case Charset::kAscii:
            out->clear();
            for (size_t i = 0; i < length; ++i) {
                const unsigned char b = static_cast<unsigned char>(bytes[i]);
                if (charset == Charset::kAscii && b >= 0x80) return GK_ILL_FORMED;
                out->push_back(b);
            }
            return GK_OK;
        default:
            return GK_UNSUPPORTED;
    }
}

void PutUnit(uint32_t unit, size_t size, bool bigEndian, std::string* out) {
    for (size_t k = 0; k < size; ++k) {
        const size_t shift = 8 * (bigEndian ? size - 1 - k : k);
        out->push_back(static_cast<char>((unit >> shift) & 0xFF));
    }
}

int32_t Encode(Charset charset, const Text& in, std::string* out) {
    out->clear();
    const bool bigEndian = charset == Charset::kUtf16Be || charset == Charset::kUtf32Be;
    switch (charset) {
        case Charset::kUtf8:
            return EncodeUtf8(in, out);
        case Charset::kUtf16:
        case Charset::kUtf16Le:
        case Charset::kUtf16Be:
            for (char16_t unit : EncodeUtf16(in)) PutUnit(unit, 2, bigEndian, out);
            return GK_OK;
        case Charset::kUtf32:
        case Charset::kUtf32Le:
        case Charset::kUtf32Be:
            for (uint32_t c : in) PutUnit(c, 4, bigEndian, out);
            return GK_OK;
        case Charset::kLatin1:
        case Charset::kAscii:
            for (uint32_t c : in) {
                if (c >= (charset == Charset::kAscii ? 0x80u : 0x100u)) return GK_ILL_FORMED;
                out->push_back(static_cast<char>(c));
            }
            return GK_OK;
        default:  // no UTF-7 output
            return GK_UNSUPPORTED;
    }
}

// ---- Calling conventions ----------------------------------------------------------------------

// Copies a result out under the (out, size) rules of the header.
template <typename Unit, typename Result>
int32_t Emit(const Result& result, Unit* out, size_t* size) {
    if (out == nullptr) {
        *size = result.size();
        return GK_OK;
    }
    if (*size < result.size()) {
        *size = result.size();
        return GK_NO_ROOM;
    }
    for (size_t i = 0; i < result.size(); ++i) out[i] = static_cast<Unit>(result[i]);
    *size = result.size();
    return GK_OK;
}

// Runs an operation; nothing is thrown out of the library.
template <typename Op>
int32_t Guarded(Op op) {
    try {
        return op();
    } catch (...) {
        return GK_NO_MEMORY;
    }
}

template <typename Op>
int32_t TransformUtf8(const char* text, size_t length, char* out, size_t* size, Op op) {
    if (size == nullptr || (text == nullptr && length != 0)) return GK_BAD_ARGUMENT;
    return Guarded([&] {
        Text in;
        const int32_t decoded = DecodeUtf8(text, length, &in);
        if (decoded != GK_OK) return decoded;
        std::string bytes;
        EncodeUtf8(op(in), &bytes);
        return Emit(bytes, out, size);
    });
}

template <typename Op>
int32_t TransformUtf32(const uint32_t* text, size_t count, uint32_t* out, size_t* size, Op op) {
    if (size == nullptr || (text == nullptr && count != 0)) return GK_BAD_ARGUMENT;
    return Guarded([&] {
        Text in;
        const int32_t decoded = DecodeUtf32(text, count, &in);
        if (decoded != GK_OK) return decoded;
        return Emit(op(in), out, size);
    });
}

// The case questions: 1 or 0.
int32_t CaseAnswer(const Text& text, int question) {
    bool upper = false;
    bool lower = false;
    for (uint32_t c : text) {
        const Case k = CaseOf(c);
        upper |= k == kUpper;
        lower |= k == kLower;
    }
    switch (question) {
        case 0:
            return (upper && lower) ? 0 : 1;
        case 1:
            return lower ? 1 : 0;
        default:
            return upper ? 1 : 0;
    }
}

int32_t CaseQueryUtf8(const char* text, size_t length, int question) {
    if (text == nullptr && length != 0) return GK_BAD_ARGUMENT;
    return Guarded([&] {
        Text in;
        const int32_t decoded = DecodeUtf8(text, length, &in);
        return decoded != GK_OK ? decoded : CaseAnswer(in, question);
    });
}

int32_t CaseQueryUtf32(const uint32_t* text, size_t count, int question) {
    if (text == nullptr && count != 0) return GK_BAD_ARGUMENT;
    return Guarded([&] {
        Text in;
        const int32_t decoded = DecodeUtf32(text, count, &in);
        return decoded != GK_OK ? decoded : CaseAnswer(in, question);
    });
}

void AppendCounts(const char* section, const char* const* names, const uint64_t* counts, size_t n,
                  std::string* json) {
    *json += ",\"";
    *json += section;
    *json += "\":{";
    bool first = true;
    for (size_t i = 0; i < n; ++i) {
        if (counts[i] == 0) continue;
        if (!first) *json += ',';
        first = false;
        *json += '"';
        *json += names[i];
        *json += "\":";
        *json += std::to_string(counts[i]);
    }
    *json += '}';
}

std::string StringInfo(const Text& text, bool withCases) {
    static const char* const kGroupNames[] = {"Other", "Letter",      "Mark",   "Digit",
                                              "Space", "Punctuation", "Symbol", "Control"};
    static const char* const kCaseNames[] = {"Upper", "Lower"};
    // Other; upper, lower and uncased letters; mark; digit; space; punctuation; symbol; control.
    static const int kGroupOfCategory[] = {0, 1, 1, 1, 2, 3, 4, 5, 6, 7};
    uint64_t groups[8] = {};
    std::vector<uint64_t> scripts(glyphkit_data::kScriptCount);
    uint64_t cases[2] = {};
    for (uint32_t c : text) {
        const int32_t category = Category(c);
        ++groups[kGroupOfCategory[category]];
        ++scripts[ScriptOf(c)];
        if (category == GK_CAT_UPPER) ++cases[0];
        if (category == GK_CAT_LOWER) ++cases[1];
    }
    std::string json = "{\"Total\":" + std::to_string(text.size());
    AppendCounts("Groups", kGroupNames, groups, 8, &json);
    AppendCounts("Scripts", glyphkit_data::kScriptNames, scripts.data(), scripts.size(), &json);
    if (withCases) AppendCounts("Cases", kCaseNames, cases, 2, &json);
    json += '}';
    json.push_back('\0');
    return json;
}

int32_t StringInfoUtf8(const char* text, size_t length, char* json, size_t* size, bool v2) {
    if (size == nullptr || (text == nullptr && length != 0)) return GK_BAD_ARGUMENT;
    return Guarded(
        [&] { return Emit(StringInfo(DecodeUtf8Leniently(text, length), v2), json, size); });
}

int32_t StringInfoUtf32(const uint32_t* text, size_t count, char* json, size_t* size, bool v2) {
    if (size == nullptr || (text == nullptr && count != 0)) return GK_BAD_ARGUMENT;
    return Guarded([&] {
        Text in(text, text + count);
        for (char32_t& c : in) {
            if (!IsScalar(c)) c = kIllFormed;
        }
        return Emit(StringInfo(in, v2), json, size);
    });
}

// v2 splits words where letters meet digits and where the script of the letters changes.
bool SplitsWord(uint32_t previous, uint32_t next) {
    const int32_t a = Category(previous);
    const int32_t b = Category(next);
    if (a == GK_CAT_MARK || b == GK_CAT_MARK) return false;
    if ((a == GK_CAT_DIGIT) != (b == GK_CAT_DIGIT)) return true;
    return IsLetter(a) && IsLetter(b) && ScriptOf(previous) != ScriptOf(next);
}

// Well-formed UTF-8 as code points, with the byte offset of each and of the end.
bool DecodeWithOffsets(const char* text, size_t length, Text* points,
                       std::vector<uint32_t>* offsets) {
    const uint8_t* begin = reinterpret_cast<const uint8_t*>(text);
    const uint8_t* s = begin;
    const uint8_t* end = begin + length;
    while (s < end) {
        offsets->push_back(static_cast<uint32_t>(s - begin));
        char32_t c = 0;
        char32_t* t = &c;
        ascommon::ConvertUTF8toUTF32(&s, end, &t, &c + 1, ascommon::kStrictConversion);
        if (t == &c) return false;  // ill-formed or cut short
        points->push_back(c);
    }
    offsets->push_back(static_cast<uint32_t>(length));
    return true;
}

int32_t Tokenize(const char* text, size_t length, uint32_t* tokens, size_t* count, bool v2) {
    if (count == nullptr || (text == nullptr && length != 0)) return GK_BAD_ARGUMENT;
    if (length > UINT32_MAX) return GK_BAD_ARGUMENT;  // offsets are 32-bit
    return Guarded([&] {
        Text points;
        std::vector<uint32_t> offsets;
        if (!DecodeWithOffsets(text, length, &points, &offsets)) return GK_ILL_FORMED;
        std::vector<uint32_t> pairs;  // start, length, start, length...
        size_t start = 0;
        bool inToken = false;
        for (size_t i = 0; i <= points.size(); ++i) {
            const bool word = i < points.size() && IsWord(points[i]);
            if (inToken && (!word || (v2 && SplitsWord(points[i - 1], points[i])))) {
                pairs.push_back(offsets[start]);
                pairs.push_back(offsets[i] - offsets[start]);
                inToken = false;
            }
            if (word && !inToken) {
                start = i;
                inToken = true;
            }
        }
        const size_t n = pairs.size() / 2;
        if (tokens != nullptr && *count < n) {
            *count = n;
            return GK_NO_ROOM;
        }
        if (tokens != nullptr) std::memcpy(tokens, pairs.data(), pairs.size() * sizeof(uint32_t));
        *count = n;
        return GK_OK;
    });
}

// Decodes `input` in a named charset, then hands the code points to `finish`.
template <typename Finish>
int32_t DecodeNamed(const char* fromCharset, const char* input, size_t length, size_t* size,
                    Finish finish) {
    if (fromCharset == nullptr || size == nullptr || (input == nullptr && length != 0)) {
        return GK_BAD_ARGUMENT;
    }
    const Charset from = CharsetOf(fromCharset);
    if (from == Charset::kUnknown) return GK_UNSUPPORTED;
    return Guarded([&] {
        Text text;
        const int32_t result = Decode(from, input, length, &text);
        return result != GK_OK ? result : finish(text);
    });
}

}  // namespace

extern "C" {

const char* GetLibVersion(void) {
    return "1.2.0";
}

const char* GetLibAuthor(void) {
    return "The Molvex developers";
}

int32_t GetUnicodeCategory(uint32_t codePoint) {
    return Category(codePoint);
}

int32_t GetUTF8StringInfo(const char* text, size_t length, char* json, size_t* size) {
    return StringInfoUtf8(text, length, json, size, false);
}
int32_t GetUTF32StringInfo(const uint32_t* text, size_t count, char* json, size_t* size) {
    return StringInfoUtf32(text, count, json, size, false);
}
int32_t GetUTF8StringInfo_v2(const char* text, size_t length, char* json, size_t* size) {
    return StringInfoUtf8(text, length, json, size, true);
}
int32_t GetUTF32StringInfo_v2(const uint32_t* text, size_t count, char* json, size_t* size) {
    return StringInfoUtf32(text, count, json, size, true);
}

int32_t TolowerUTF8(const char* text, size_t length, char* out, size_t* size) {
    return TransformUtf8(text, length, out, size, [](const Text& t) { return Lower(t, false); });
}
int32_t TolowerUTF8Regex(const char* text, size_t length, char* out, size_t* size) {
    return TransformUtf8(text, length, out, size, [](const Text& t) { return Lower(t, true); });
}
int32_t TolowerUTF32(const uint32_t* text, size_t count, uint32_t* out, size_t* size) {
    return TransformUtf32(text, count, out, size, [](const Text& t) { return Lower(t, false); });
}
int32_t TolowerUTF32Regex(const uint32_t* text, size_t count, uint32_t* out, size_t* size) {
    return TransformUtf32(text, count, out, size, [](const Text& t) { return Lower(t, true); });
}

int32_t IsSameCaseUTF8(const char* text, size_t length) {
    return CaseQueryUtf8(text, length, 0);
}
int32_t HasLowerCaseUTF8(const char* text, size_t length) {
    return CaseQueryUtf8(text, length, 1);
}
int32_t HasUpperCaseUTF8(const char* text, size_t length) {
    return CaseQueryUtf8(text, length, 2);
}
int32_t IsSameCaseUTF32(const uint32_t* text, size_t count) {
    return CaseQueryUtf32(text, count, 0);
}
int32_t HasLowerCaseUTF32(const uint32_t* text, size_t count) {
    return CaseQueryUtf32(text, count, 1);
}
int32_t HasUpperCaseUTF32(const uint32_t* text, size_t count) {
    return CaseQueryUtf32(text, count, 2);
}

int32_t VisualNormalizationUTF8_v1(const char* text, size_t length, char* out, size_t* size) {
    return TransformUtf8(text, length, out, size,
                         [](const Text& t) { return VisualFold(t, false); });
}
int32_t VisualNormalizationUTF32_v1(const uint32_t* text, size_t count, uint32_t* out,
                                    size_t* size) {
    return TransformUtf32(text, count, out, size,
                          [](const Text& t) { return VisualFold(t, false); });
}
int32_t VisualNormalizationUTF8_v2(const char* text, size_t length, char* out, size_t* size) {
    return TransformUtf8(text, length, out, size,
                         [](const Text& t) { return VisualFold(t, true); });
}
int32_t VisualNormalizationUTF32_v2(const uint32_t* text, size_t count, uint32_t* out,
                                    size_t* size) {
    return TransformUtf32(text, count, out, size,
                          [](const Text& t) { return VisualFold(t, true); });
}

int32_t FormNormalizationUTF8(const char* text, size_t length, char* out, size_t* size) {
    return TransformUtf8(text, length, out, size, FormNormalize);
}

int32_t IsTokenBoundary(uint32_t previous, uint32_t next) {
    return IsWord(previous) != IsWord(next) ? 1 : 0;
}
int32_t TokenizeUTF8_v1(const char* text, size_t length, uint32_t* tokens, size_t* count) {
    return Tokenize(text, length, tokens, count, false);
}
int32_t TokenizeUTF8_v2(const char* text, size_t length, uint32_t* tokens, size_t* count) {
    return Tokenize(text, length, tokens, count, true);
}

int32_t ConvertSupported(const char* charset) {
    return CharsetOf(charset) != Charset::kUnknown ? 1 : 0;
}

int32_t Convert(const char* fromCharset, const char* toCharset, const char* input, size_t length,
                char* out, size_t* size) {
    if (fromCharset == nullptr || toCharset == nullptr || size == nullptr ||
        (input == nullptr && length != 0)) {
        return GK_BAD_ARGUMENT;
    }
    const Charset from = CharsetOf(fromCharset);
    const Charset to = CharsetOf(toCharset);
    if (from == Charset::kUnknown || to == Charset::kUnknown || to == Charset::kUtf7) {
        return GK_UNSUPPORTED;
    }
    return Guarded([&] {
        Text text;
        std::string bytes;
        int32_t result = Decode(from, input, length, &text);
        if (result == GK_OK) result = Encode(to, text, &bytes);
        return result != GK_OK ? result : Emit(bytes, out, size);
    });
}

int32_t ConvertToUTF8(const char* fromCharset, const char* input, size_t length, char* out,
                      size_t* size) {
    return Convert(fromCharset, "utf-8", input, length, out, size);
}

int32_t ConvertToUTF16(const char* fromCharset, const char* input, size_t length, uint16_t* out,
                       size_t* size) {
    return DecodeNamed(fromCharset, input, length, size,
                       [&](const Text& t) { return Emit(EncodeUtf16(t), out, size); });
}

int32_t ConvertToUTF32(const char* fromCharset, const char* input, size_t length, uint32_t* out,
                       size_t* size) {
    return DecodeNamed(fromCharset, input, length, size,
                       [&](const Text& t) { return Emit(t, out, size); });
}

int32_t ConvertFromUTF16ToUTF8(const uint16_t* text, size_t count, char* out, size_t* size) {
    if (size == nullptr || (text == nullptr && count != 0)) return GK_BAD_ARGUMENT;
    return Guarded([&] {
        Text in;
        std::string bytes;
        int32_t result = DecodeUtf16(text, count, &in);
        if (result == GK_OK) result = EncodeUtf8(in, &bytes);
        return result != GK_OK ? result : Emit(bytes, out, size);
    });
}

int32_t ConvertFromUTF32ToUTF8(const uint32_t* text, size_t count, char* out, size_t* size) {
    if (size == nullptr || (text == nullptr && count != 0)) return GK_BAD_ARGUMENT;
    return Guarded([&] {
        Text in;
        std::string bytes;
        int32_t result = DecodeUtf32(text, count, &in);
        if (result == GK_OK) result = EncodeUtf8(in, &bytes);
        return result != GK_OK ? result : Emit(bytes, out, size);
    });
}

int32_t ConvertFromUTF8ToUTF16(const char* text, size_t length, uint16_t* out, size_t* size) {
    if (size == nullptr || (text == nullptr && length != 0)) return GK_BAD_ARGUMENT;
    return Guarded([&] {
        Text in;
        const int32_t result = DecodeUtf8(text, length, &in);
        return result != GK_OK ? result : Emit(EncodeUtf16(in), out, size);
    });
}

int32_t ConvertFromUTF32ToUTF16(const uint32_t* text, size_t count, uint16_t* out, size_t* size) {
    if (size == nullptr || (text == nullptr && count != 0)) return GK_BAD_ARGUMENT;
    return Guarded([&] {
        Text in;
        const int32_t result = DecodeUtf32(text, count, &in);
        return result != GK_OK ? result : Emit(EncodeUtf16(in), out, size);
    });
}

int32_t ConvertFromUTF7ToUTF32(const char* text, size_t length, uint32_t* out, size_t* size) {
    if (size == nullptr || (text == nullptr && length != 0)) return GK_BAD_ARGUMENT;
    return Guarded([&] {
        Text in;
        const int32_t result = DecodeUtf7(text, length, &in);
        return result != GK_OK ? result : Emit(in, out, size);
    });
}

int32_t ConvertFromUTF8ToUTF32(const char* text, size_t length, uint32_t* out, size_t* size) {
    if (size == nullptr || (text == nullptr && length != 0)) return GK_BAD_ARGUMENT;
    return Guarded([&] {
        Text in;
        const int32_t result = DecodeUtf8(text, length, &in);
        return result != GK_OK ? result : Emit(in, out, size);
    });
}

int32_t ConvertFromUTF16ToUTF32(const uint16_t* text, size_t count, uint32_t* out, size_t* size) {
    if (size == nullptr || (text == nullptr && count != 0)) return GK_BAD_ARGUMENT;
    return Guarded([&] {
        Text in;
        const int32_t result = DecodeUtf16(text, count, &in);
        return result != GK_OK ? result : Emit(in, out, size);
    });
}

}  // extern "C"

// Fuzz target: the UTF-8 / UTF-16 / UTF-32 conversions, the charset conversion's string helpers
// and the Unicode lower-casing, on any bytes. The first byte gives a target room for the
// resumable conversions; the rest is the text, read as UTF-8 bytes and as UTF-16 units.
// Checks: no conversion reads or writes out of its ranges (the sanitizers watch), a strict
// conversion that accepts its input round-trips it exactly, a conversion resumed after "target
// full" gives what a single call gives, sizes stay within the bounds common/convert.h gives, and
// lower-casing of well-formed text succeeds and is idempotent.
#include <cstring>
#include <string>
#include <vector>

#include "common/convert.h"
#include "common/sstring.h"
#include "common/unicode_tolower.h"
#include "fuzz/fuzz_support.h"
#include "glyphkit/utfconvert.h"

namespace {

using namespace ascommon;

const uint8_t* Bytes(const std::string& text) {
    return reinterpret_cast<const uint8_t*>(text.data());
}

// UTF-8 to UTF-16 in pieces of at most `room` units, resuming after "target full".
int ToUtf16InPieces(const std::string& text, size_t room, int flags, std::u16string* out) {
    const uint8_t* source = Bytes(text);
    const uint8_t* end = source + text.size();
    std::vector<char16_t> piece(room);
    for (;;) {
        char16_t* target = piece.data();
        const uint8_t* before = source;
        const int result = ConvertUTF8toUTF16(&source, end, &target, piece.data() + room, flags);
        FUZZ_CHECK(source >= before && source <= end, "source pointer out of range");
        FUZZ_CHECK(target >= piece.data() && target <= piece.data() + room, "target out of range");
        out->append(piece.data(), target);
        // A piece of room 1 cannot take a surrogate pair: give up as a single call would not.
        if (result != kTargetExhausted || (source == before && target == piece.data())) {
            return result;
        }
    }
}

std::string Utf16ToUtf8(const std::u16string& units, int* result) {
    std::string out(units.size() * 3 + 1, '\0');
    const char16_t* source = units.data();
    uint8_t* target = reinterpret_cast<uint8_t*>(&out[0]);
    *result =
        ConvertUTF16toUTF8(&source, units.data() + units.size(), &target, target + out.size());
    out.resize(static_cast<size_t>(target - reinterpret_cast<uint8_t*>(&out[0])));
    return out;
}

void CheckUtf16(const std::string& text, size_t room) {
    for (const int flags : {kStrictConversion, kLenientConversion}) {
        std::u16string whole, pieces;
        const int one = ToUtf16InPieces(text, text.size() + 2, flags, &whole);
        const int many = ToUtf16InPieces(text, room, flags, &pieces);
        if (many != kTargetExhausted) {
            FUZZ_CHECK(one == many && whole == pieces, "resumed conversion differs (flags %d)",
                       flags);
        }
        if (flags == kStrictConversion && one == kConversionOK) {
            int back = -1;
            FUZZ_CHECK(Utf16ToUtf8(whole, &back) == text && back == kConversionOK,
                       "strict UTF-8 does not round-trip through UTF-16");
        }
    }
}

void CheckUtf32(const std::string& text) {
    std::u32string units(text.size() + 1, U'\0');
    const uint8_t* source = Bytes(text);
    char32_t* target = &units[0];
    const int result = ConvertUTF8toUTF32(&source, source + text.size(), &target,
                                          &units[0] + units.size(), kStrictConversion);
    units.resize(static_cast<size_t>(target - &units[0]));
    std::string back(units.size() * 4 + 1, '\0');
    const char32_t* from = units.data();
    uint8_t* to = reinterpret_cast<uint8_t*>(&back[0]);
    const int backResult = ConvertUTF32toUTF8(&from, units.data() + units.size(), &to,
                                              reinterpret_cast<uint8_t*>(&back[0]) + back.size());
    back.resize(static_cast<size_t>(to - reinterpret_cast<uint8_t*>(&back[0])));
    if (result == kConversionOK) {
        FUZZ_CHECK(back == text && backResult == kConversionOK,
                   "strict UTF-8 does not round-trip through UTF-32");
    }
}

// The bytes as UTF-16 units: the wide helpers' size bound and their round trip.
void CheckWide(const std::string& text) {
    std::u16string units(text.size() / 2, u'\0');
    std::memcpy(&units[0], text.data(), units.size() * 2);
    size_t bound = 0;
    FUZZ_CHECK(WideToUtf8(units.data(), units.size(), nullptr, &bound) == 0, "sizing failed");
    FUZZ_CHECK(bound == Utf8LengthOfWide(units.data(), units.size()), "size is not the bound");
    std::string buffer(bound + 1, '\0');
    size_t written = bound;
    WideToUtf8(units.data(), units.size(), &buffer[0], &written);
    FUZZ_CHECK(written <= bound, "wrote %zu bytes past the bound %zu", written, bound);

    usstring wide;
    wide.assign(units.data(), units.size());
    sstring narrow;
    const int32_t result = UsstringToSstring(wide, narrow);
    FUZZ_CHECK(narrow.initialised() && narrow.length() <= bound, "UsstringToSstring size");
    usstring again;
    if (result == 0 && SstringToUsstring(narrow, again) == 0) {
        // Through UTF-8 and back (no unpaired surrogate, or the way back refuses it): the units
        // up to the first NUL.
        const std::u16string expected = units.substr(0, units.find(u'\0'));
        FUZZ_CHECK(std::u16string(again.c_str(), again.length()) == expected,
                   "UTF-16 does not round-trip through UTF-8");
    }
}

void CheckLowerCase(const std::string& text, size_t room) {
    sstring lowered;
    lowered.assign(text.data(), text.size());
    const bool valid = IsStructurallyValidUtf8(text.data(), text.size());
    const int32_t result = lowered.UTF8_tolower(true);
    FUZZ_CHECK(result == (valid ? 0 : -50), "UTF8_tolower(true) gave %d, valid %d", result, valid);
    if (!valid) {
        FUZZ_CHECK(lowered.length() == text.size() &&
                       std::memcmp(lowered.c_str(), text.data(), text.size()) == 0,
                   "refused text was changed");
        return;
    }
    sstring twice(lowered);
    FUZZ_CHECK(twice.UTF8_tolower(false) == 0 && twice == lowered, "lower-casing not idempotent");
    bool ascii = true;
    for (char c : text) ascii = ascii && static_cast<unsigned char>(c) < 0x80;
    if (ascii) {
        std::string folded = text;
        for (char& c : folded) c = (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c;
        FUZZ_CHECK(std::string(lowered.c_str(), lowered.length()) == folded, "ASCII folding");
    }
    std::string out(room + 1, '\0');
    size_t written = 0;
    const int32_t raw =
        UNICODETOLOWER::UTF8_tolower(text.data(), text.size(), &out[0], room, &written);
    FUZZ_CHECK(written <= room, "wrote %zu bytes into room %zu", written, room);
    FUZZ_CHECK(raw == 0 || raw == -51, "well-formed text gave %d", raw);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::Input input(data, size);
    const size_t room = 1 + input.Byte() % 16;
    const std::string text = input.Rest();
    CheckUtf16(text, room);
    CheckUtf32(text);
    CheckWide(text);
    CheckLowerCase(text, room);
    usstring wide;
    Utf8ToUsstring(text.data(), text.size(), wide);  // any bytes: no overrun, terminated
    FUZZ_CHECK(wide.initialised() && wide.c_str()[wide.length()] == 0, "usstring not terminated");
    return 0;
}

// Fuzz target: the UTF-8 / UTF-16 / UTF-32 conversions, the charset conversion's string helpers
// and the Unicode lower-casing, on any bytes. The first byte gives a target room for the
// resumable conversions; the rest is the text, read as UTF-8 bytes and as UTF-16 units.
// Checks: no conversion reads or writes out of its ranges (the sanitizers watch), a strict
// conversion that accepts its input round-trips it exactly, a conversion resumed after "target
// full" gives what a single call gives, sizes stay within the bounds common/convert.h gives, and
// lower-casing of well-formed text succeeds and is idempotent.
#include <algorithm>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "common/convert.h"
#include "common/sstring.h"
#include "common/unicode_tolower.h"
#include "fuzz/fuzz_support.h"
#include "fuzz/matchinglist_reference.h"
#include "glyphkit/utfconvert.h"

namespace {

using namespace ascommon;
typedef std::basic_string<uint8_t> Utf8;

// Converts [begin, end) with fn into pieces of at most `room` units, resuming after "target
// full" as a caller would (a piece of room 1 cannot take a surrogate pair: then it gives up as a
// single call would not); the last result.
template <typename To, typename From, typename Fn>
int Convert(const From* begin, const From* end, size_t room, Fn fn, std::basic_string<To>* out) {
    std::vector<To> piece(room);
    for (;;) {
        To* target = piece.data();
        const From* before = begin;
        const int result = fn(&begin, end, &target, piece.data() + room);
        FUZZ_CHECK(begin >= before && begin <= end && target >= piece.data() &&
                       target <= piece.data() + room,
                   "pointers out of range");
        out->append(piece.data(), target);
        if (result != kTargetExhausted || (begin == before && target == piece.data()))
            return result;
    }
}

// Converts text into units in one call and in pieces of `room`, which must agree; a strict
// conversion that accepts the text must give it back exactly through `back`.
template <typename Unit, typename To, typename Back>
void CheckUnits(const Utf8& text, size_t room, int flags, To to, Back back) {
    using namespace std::placeholders;
    const auto convert = std::bind(to, _1, _2, _3, _4, flags);
    const uint8_t* end = text.data() + text.size();
    std::basic_string<Unit> whole, pieces;
    Utf8 again;
    const int one = Convert(text.data(), end, text.size() + 2, convert, &whole);
    const int many = Convert(text.data(), end, room, convert, &pieces);
    // A lenient conversion reports a replaced unit and goes on; a resumed one reports only what
    // its last piece met, so an earlier piece's report may be gone from its result.
    FUZZ_CHECK(
        many == kTargetExhausted ||
            (whole == pieces && (one == many || (one == kSourceIllegal && many == kConversionOK))),
        "resumed conversion differs (%zu-byte units, flags %d)", sizeof(Unit), flags);
    FUZZ_CHECK(flags != kStrictConversion || one != kConversionOK ||
                   (Convert(whole.data(), whole.data() + whole.size(), whole.size() * 4 + 1, back,
                            &again) == kConversionOK &&
                    again == text),
               "strict UTF-8 does not round-trip (%zu-byte units)", sizeof(Unit));
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

    usstring wide, again;
    wide.assign(units.data(), units.size());
    sstring narrow;
    const int32_t result = UsstringToSstring(wide, narrow);
    FUZZ_CHECK(narrow.initialised() && narrow.length() <= bound, "UsstringToSstring size");
    // Through UTF-8 and back (no unpaired surrogate, or the way back refuses it): the units up
    // to the first NUL.
    FUZZ_CHECK(
        result != 0 || SstringToUsstring(narrow, again) != 0 ||
            std::u16string(again.c_str(), again.length()) == units.substr(0, units.find(u'\0')),
        "UTF-16 does not round-trip through UTF-8");
}

void CheckLowerCase(const std::string& text, size_t room) {
    sstring lowered = fuzz::Bytes(text);
    const bool valid = IsStructurallyValidUtf8(text.data(), text.size());
    const int32_t result = lowered.UTF8_tolower(true);
    FUZZ_CHECK(result == (valid ? 0 : kIllFormed), "UTF8_tolower(true) gave %d", result);
    FUZZ_CHECK(valid || fuzz::Text(lowered) == text, "refused text was changed");
    if (!valid) return;
    sstring twice(lowered);
    FUZZ_CHECK(twice.UTF8_tolower(false) == 0 && twice == lowered, "lower-casing not idempotent");
    const bool ascii = std::all_of(text.begin(), text.end(),
                                   [](char c) { return static_cast<unsigned char>(c) < 0x80; });
    FUZZ_CHECK(!ascii || fuzz::Text(lowered) == reference::Fold(text), "ASCII folding");
    std::string out(room + 1, '\0');
    size_t written = 0;
    const int32_t raw =
        UNICODETOLOWER::UTF8_tolower(text.data(), text.size(), &out[0], room, &written);
    FUZZ_CHECK(written <= room, "wrote %zu bytes into room %zu", written, room);
    FUZZ_CHECK(raw == 0 || raw == kShortBuffer, "well-formed text gave %d", raw);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::Input input(data, size);
    const size_t room = 1 + input.Byte() % 16;
    const std::string text = input.Rest();
    for (const int flags : {kStrictConversion, kLenientConversion}) {
        const Utf8 bytes(text.begin(), text.end());
        CheckUnits<char16_t>(bytes, room, flags, ConvertUTF8toUTF16, ConvertUTF16toUTF8);
        CheckUnits<char32_t>(bytes, room, flags, ConvertUTF8toUTF32, ConvertUTF32toUTF8);
    }
    CheckWide(text);
    CheckLowerCase(text, room);
    usstring wide;
    Utf8ToUsstring(text.data(), text.size(), wide);  // any bytes: no overrun, terminated
    FUZZ_CHECK(wide.initialised() && wide.c_str()[wide.length()] == 0, "usstring not terminated");
    return 0;
}

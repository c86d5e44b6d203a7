// Charset conversion.
#include "common/convert.h"

#include <cstring>

#include "common/platform.h"
#include "common/trace.h"
#include "glyphkit/utfconvert.h"

namespace ascommon {

namespace {

int32_t ResultOf(int conversion) {
    switch (conversion) {
        case kConversionOK:
            return 0;
        case kSourceIllegal:
            return kIllFormed;
        default:  // source exhausted, target exhausted
            return kShortBuffer;
    }
}

uint64_t WideLength(const char16_t* text) {
    uint64_t length = 0;
    while (text[length] != 0) ++length;
    return length;
}

}  // namespace

int32_t CStringConversion::LoadUnicodeLibrary(const sstring& folder) {
    const char separator = platform::kPathSeparator;
    sstring path;
    if (path.assign(folder.initialised() ? folder.c_str() : "", folder.length()) != 0 ||
        path.append(&separator, 1) != 0 ||
        path.append(platform::kGlyphkitLibraryName, std::strlen(platform::kGlyphkitLibraryName)) !=
            0) {
        AS_TRACE(1, "Could not build the path of dynamic library %s in %s",
                 platform::kGlyphkitLibraryName, folder.initialised() ? folder.c_str() : "");
        return kNoBuffer;
    }
    switch (m_library.Load(path.c_str())) {
        case GlyphkitLib::kLoaded:
            AS_TRACE(1, "Successfully loaded dynamic library %s", path.c_str());
            return 0;
        case GlyphkitLib::kIncomplete:
            AS_TRACE(1, "Could not load all procedures from dynamic library %s", path.c_str());
            return GlyphkitLib::kIncomplete;
        default:
            AS_TRACE(1, "Could not load dynamic library %s", path.c_str());
            return GlyphkitLib::kNotLoaded;
    }
}

int32_t Utf8ToWide(const char* bytes, size_t length, char16_t* buffer, size_t* count) {
    if (count == nullptr) return kNullArgument;
    if (bytes == nullptr || buffer == nullptr) {
        *count = 0;
        return kNullArgument;
    }
    if (length == 0) {
        *count = 0;
        return 0;
    }
    const uint8_t* source = reinterpret_cast<const uint8_t*>(bytes);
    char16_t* target = buffer;
    const int conversion =
        ConvertUTF8toUTF16(&source, source + length, &target, buffer + *count, kStrictConversion);
    *count = static_cast<size_t>(target - buffer);
    return ResultOf(conversion);
}

int32_t Utf8ToUsstring(const char* bytes, size_t length, usstring& out) {
    if (length == SIZE_MAX || out.fill(length + 1, 0) != 0) return kNoBuffer;
    size_t units = length;  // never more units than bytes, so the terminator always fits
    const int32_t result = Utf8ToWide(bytes, length, out.data(), &units);
    out.data()[units] = 0;
    out.set_length(WideLength(out.c_str()));
    return result;
}

int32_t SstringToUsstring(const sstring& text, usstring& out) {
    return Utf8ToUsstring(text.c_str(), text.length(), out);
}

int32_t WideToUtf8(const char16_t* units, size_t count, char* buffer, size_t* size) {
    if (size == nullptr) return kNullArgument;
    if (units == nullptr) {
        *size = 0;
        return kNullArgument;
    }
    if (count == 0) {
        *size = 0;
        return 0;
    }
    if (buffer == nullptr) {
        *size = static_cast<size_t>(Utf8LengthOfWide(units, count));
        return 0;
    }
    const char16_t* source = units;
    uint8_t* start = reinterpret_cast<uint8_t*>(buffer);
    uint8_t* target = start;
    const int conversion = ConvertUTF16toUTF8(&source, units + count, &target, start + *size);
    *size = static_cast<size_t>(target - start);
    return ResultOf(conversion);
}

int32_t UsstringToSstring(const usstring& text, sstring& out) {
    const uint64_t needed = Utf8LengthOfWide(text.c_str(), text.length());
    if (needed >= SIZE_MAX || out.fill(needed + 1, '\0') != 0) return kNoBuffer;
    size_t written = static_cast<size_t>(needed);
    const int32_t result = WideToUtf8(text.c_str(), text.length(), out.data(), &written);
    out.data()[written] = '\0';
    out.set_length(std::strlen(out.c_str()));
    return result;
}

uint64_t Utf8LengthOfWide(const char16_t* units, size_t count) {
    if (units == nullptr) return 0;
    uint64_t bytes = 0;
    for (size_t i = 0; i < count; ++i) {
        bytes += units[i] < 0x80 ? 1 : units[i] < 0x800 ? 2 : 3;
    }
    return bytes;
}

}  // namespace ascommon

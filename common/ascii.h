// ASCII helpers shared by the module, the host and the tools: the one ASCII case fold ("A".."Z"
// to "a".."z" and back; every other byte, non-ASCII included, stays as it is) and the ASCII
// letter test. Header only and free of OS calls, so it builds for every target. Pure functions:
// any thread; the in-place forms change only the caller's own buffer.
#pragma once

#include <cstddef>
#include <string>

namespace ascommon {

// True for "A".."Z" and "a".."z".
constexpr bool IsAsciiAlpha(unsigned char c) {
    return static_cast<unsigned char>((c | 0x20) - 'a') < 26;
}

// c in lower case when it is "A".."Z", else c itself.
constexpr char AsciiToLower(char c) {
    return static_cast<unsigned char>(c - 'A') < 26 ? static_cast<char>(c + ('a' - 'A')) : c;
}

// c in upper case when it is "a".."z", else c itself.
constexpr char AsciiToUpper(char c) {
    return static_cast<unsigned char>(c - 'a') < 26 ? static_cast<char>(c - ('a' - 'A')) : c;
}

// Folds text[0, length) to lower case in place (embedded NUL bytes included).
inline void AsciiLowerInPlace(char* text, size_t length) {
    for (size_t i = 0; i < length; ++i) text[i] = AsciiToLower(text[i]);
}

inline void AsciiLowerInPlace(std::string& text) {
    AsciiLowerInPlace(text.data(), text.size());
}

}  // namespace ascommon

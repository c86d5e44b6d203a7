// ASCII helpers shared by the module, the host and the tools: the one ASCII case fold ("A".."Z"
// to "a".."z" and back; every other byte, non-ASCII included, stays as it is), the comparisons
// without case built on it, and the ASCII letter test. Header only and free of OS calls, so it
// builds for every target. Pure functions: any thread; the in-place forms change only the caller's
// own buffer.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace ascommon {

// True for "A".."Z" and "a".."z".
constexpr bool IsAsciiAlpha(unsigned char c) {
    return static_cast<unsigned char>((c | 0x20) - 'a') < 26;
}

// True for the blanks of mail headers: space and tab.
constexpr bool IsAsciiBlank(char c) {
    return c == ' ' || c == '\t';
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

// True when text starts with `word`, a lower-case ASCII word, in any case.
inline bool StartsWithNoCase(std::string_view text, std::string_view word) {
    if (text.size() < word.size()) return false;
    for (size_t i = 0; i < word.size(); ++i)
        if (AsciiToLower(text[i]) != word[i]) return false;
    return true;
}

// True when text is `word`, a lower-case ASCII word, in any case.
inline bool EqualsNoCase(std::string_view text, std::string_view word) {
    return text.size() == word.size() && StartsWithNoCase(text, word);
}

}  // namespace ascommon

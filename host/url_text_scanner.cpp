// TextUrlScanner: the candidate words, their schemes, hosts and rests, the trimming of a URL's
// end, and the character tests these need (see url_text_scanner.h).
#include "host/url_text_scanner.h"

#include <unicode/utf8.h>

#include <algorithm>
#include <iterator>
#include <string_view>

#include "host/public_suffix.h"
#include "host/url_finder_shared.h"

namespace host::url_finding {
namespace {

// Decodes the UTF-8 sequence at s[0, n) into *cp; returns its length, 0 when it is invalid or
// cut short. Lenient: a lead byte C2..F4 and the continuation bytes it calls for read as the
// value they spell, overlong forms, surrogates and values past U+10FFFF included.
size_t DecodeUtf8(const unsigned char* s, size_t n, uint32_t* cp) {
    if (!U8_IS_LEAD(s[0])) return 0;
    const size_t length = s[0] < 0xE0 ? 2 : s[0] < 0xF0 ? 3 : 4;
    if (n < length || !std::all_of(s + 1, s + length, [](uint8_t c) { return U8_IS_TRAIL(c); }))
        return 0;
    size_t i = 0;
    UChar32 c;
    U8_NEXT_UNSAFE(s, i, c);
    *cp = static_cast<uint32_t>(c);
    return length;
}

// Non-ASCII characters that end a URL: C1 controls, spaces, quotation marks, CJK brackets,
// commas and the fullwidth forms of ! ( ) , : ; < > ? (the single ones sorted).
constexpr uint32_t kUrlEnders[] = {0xA0,   0xAB,   0xBB,   0x1680, 0x2018, 0x2019, 0x201C,
                                   0x201D, 0x2028, 0x2029, 0x202F, 0x2039, 0x203A, 0x205F,
                                   0x3000, 0x3001, 0xFF01, 0xFF08, 0xFF09, 0xFF0C, 0xFF1A,
                                   0xFF1B, 0xFF1C, 0xFF1E, 0xFF1F, 0xFF62, 0xFF63};

bool EndsUrl(uint32_t cp) {
    return cp < 0xA0 || (cp >= 0x2000 && cp <= 0x200B) || (cp >= 0x3008 && cp <= 0x3011) ||
           (cp >= 0x3014 && cp <= 0x301B) ||
           std::binary_search(std::begin(kUrlEnders), std::end(kUrlEnders), cp);
}

// The full stops that the URL keys read as "." (ideographic, fullwidth, halfwidth).
bool IsFullStop(uint32_t cp) {
    return cp == 0x3002 || cp == 0xFF0E || cp == 0xFF61;
}

// CJK ideographs, kana, hangul and fullwidth forms.
bool IsCjk(uint32_t cp) {
    return (cp >= 0x2E80 && cp <= 0x9FFF) || (cp >= 0xAC00 && cp <= 0xD7AF) ||
           (cp >= 0xF900 && cp <= 0xFAFF) || (cp >= 0xFF00 && cp <= 0xFFEF) ||
           (cp >= 0x20000 && cp <= 0x3FFFF);
}

// ---- Top-level labels -----------------------------------------------------------------------

// Top-level labels that mail writes alone after a host name (without a path), sorted.
constexpr std::string_view kStandaloneTlds[] = {
    "app",  "asia", "au",   "best", "bid",     "biz",   "br",    "ca",    "cf",     "cfd",  "ch",
    "club", "cn",   "co",   "com",  "cyou",    "de",    "edu",   "email", "es",     "eu",   "fr",
    "fun",  "ga",   "gov",  "gq",   "icu",     "info",  "io",    "jp",    "kz",     "life", "loan",
    "ly",   "mil",  "ml",   "mobi", "monster", "net",   "news",  "nl",    "online", "org",  "ru",
    "sbs",  "se",   "shop", "site", "space",   "store", "su",    "tech",  "tk",     "top",  "tv",
    "ua",   "uk",   "us",   "vip",  "website", "win",   "world", "ws",    "xyz"};

// Top-level labels that are also common file name extensions (or, for "best", a word glued to
// the sentence before it), sorted: "sendmail.cf", "Mail.app", "setup.py", "PURPOSE.BEST".
constexpr std::string_view kFileExtensionTlds[] = {
    "ac", "ai",  "am", "app", "as", "au", "best", "cab", "cc", "cf",
    "in", "key", "la", "md",  "mk", "ml", "mo",   "mov", "ms", "news",
    "pl", "pm",  "ps", "pub", "py", "rs", "sh",   "so",  "zip"};

bool IsOneOfTlds(std::string_view label, const std::string_view* begin,
                 const std::string_view* end) {
    char lower[24];
    if (label.size() > sizeof lower) return false;
    for (size_t i = 0; i < label.size(); ++i) lower[i] = AsciiToLower(label[i]);
    return std::binary_search(begin, end, std::string_view(lower, label.size()));
}

}  // namespace

TextUrlScanner::TextUrlScanner(std::string_view text, bool bareHosts)
    : m_text(reinterpret_cast<const unsigned char*>(text.data())),
      m_size(text.size()),
      m_bareHosts(bareHosts) {
    m_dot = Find('.', 0);
    m_colon = Find(':', 0);
}

bool TextUrlScanner::Next(size_t* start, size_t* end) {
    while (m_pos < m_size) {
        if (m_dot < m_pos) m_dot = Find('.', m_pos);
        if (m_colon < m_pos) m_colon = Find(':', m_pos);
        const size_t mark = std::min(m_dot, m_colon);
        if (mark == m_size) break;
        // The word holding the dot or ending at the colon; it starts no earlier than m_pos (after
        // a URL the scan goes on from the URL's end, even within a word).
        size_t word = mark;
        while (word > m_pos && Has(m_text[word - 1], kWord)) --word;
        if (word == mark && m_text[mark] == ':') {  // no word before this colon
            m_pos = mark + 1;
            continue;
        }
        size_t wordEnd = word + 1;
        while (wordEnd < m_size && Has(m_text[wordEnd], kWord)) ++wordEnd;
        const unsigned char before = word ? m_text[word - 1] : ' ';
        size_t urlStart = word, urlEnd = 0;
        if (wordEnd + 2 < m_size && m_text[wordEnd] == ':' && m_text[wordEnd + 1] == '/' &&
            m_text[wordEnd + 2] == '/') {
            const size_t scheme = SchemeLength(word, wordEnd);
            if (scheme) {
                urlStart = wordEnd - scheme;
                urlEnd = SchemeUrl(urlStart, wordEnd + 3);
            }
        } else if (before != '@' && StartsWithNoCase(Text(word, wordEnd), "www.")) {
            urlEnd = WwwUrl(word);
        } else if (m_bareHosts && before != '@' && before != '/' && before != '\\' &&
                   !GluedToWord(word)) {
            urlEnd = BareUrl(word, wordEnd);
        }
        if (urlEnd) {
            *start = urlStart;
            *end = urlEnd;
            m_pos = urlEnd;
            return true;
        }
        m_pos = wordEnd;
    }
    return false;
}

// The position of the next byte c at or after pos, m_size when there is none.
size_t TextUrlScanner::Find(unsigned char c, size_t pos) const {
    const void* hit = pos < m_size ? std::memchr(m_text + pos, c, m_size - pos) : nullptr;
    return hit ? static_cast<const unsigned char*>(hit) - m_text : m_size;
}

std::string_view TextUrlScanner::Text(size_t from, size_t to) const {
    return std::string_view(reinterpret_cast<const char*>(m_text) + from, to - from);
}

// The length of the character at pos when it may stand in a URL, 0 when it ends the URL;
// its code point in *cp (U+FFFD for a byte that is no valid UTF-8, which is kept).
size_t TextUrlScanner::CharAt(size_t pos, uint32_t* cp) const {
    const unsigned char c = m_text[pos];
    if (c < 0x80) {
        *cp = c;
        return (kClasses.bits[c] & kUrl) ? 1 : 0;
    }
    return NonAsciiCharAt(pos, cp);
}

// CharAt for a byte of 0x80 or more.
size_t TextUrlScanner::NonAsciiCharAt(size_t pos, uint32_t* cp) const {
    const size_t len = DecodeUtf8(m_text + pos, m_size - pos, cp);
    if (!len) {
        *cp = 0xFFFD;
        return 1;
    }
    if (EndsUrl(*cp)) return 0;
    const unsigned char prev = pos ? m_text[pos - 1] : ' ';
    if (prev >= 0x80 || IsOneOf(prev, "/?#=&+-_~%.")) return len;
    // After an ASCII character: a CJK character, or a full stop that a CJK character
    // follows, starts the running text.
    if (IsFullStop(*cp)) {
        uint32_t next;
        return pos + len < m_size && DecodeUtf8(m_text + pos + len, m_size - pos - len, &next) &&
                       IsCjk(next) && !IsFullStop(next)
                   ? 0
                   : len;
    }
    return IsCjk(*cp) ? 0 : len;
}

// True when the word follows a non-ASCII character that is not CJK: then it is the tail of
// a longer word ("bücher.de" must not give "cher.de").
bool TextUrlScanner::GluedToWord(size_t word) const {
    if (!word || m_text[word - 1] < 0x80) return false;
    size_t lead = word - 1;
    while (lead > 0 && word - lead < 4 && (m_text[lead] & 0xC0) == 0x80) --lead;
    uint32_t cp;
    return !DecodeUtf8(m_text + lead, word - lead, &cp) || !(IsCjk(cp) || EndsUrl(cp));
}

// The length of the scheme that ends the word (http, https or ftp), 0 for none.
size_t TextUrlScanner::SchemeLength(size_t word, size_t wordEnd) const {
    for (std::string_view scheme : {"https", "http", "ftp"}) {
        if (wordEnd - word >= scheme.size() &&
            EqualsNoCase(Text(wordEnd - scheme.size(), wordEnd), scheme))
            return scheme.size();
    }
    return 0;
}

// The end of the host that starts at pos: a bracketed IPv6 address or a name; pos when
// there is none.
size_t TextUrlScanner::HostEnd(size_t pos) const {
    if (pos < m_size && m_text[pos] == '[') {
        size_t q = pos + 1;
        bool colon = false;
        while (q < m_size &&
               (IsAlnum(m_text[q]) || m_text[q] == ':' || m_text[q] == '.' || m_text[q] == '%')) {
            colon |= m_text[q] == ':';
            ++q;
        }
        return q < m_size && m_text[q] == ']' && colon ? q + 1 : pos;
    }
    // Per label: how many ASCII letters it starts with, and where a non-ASCII character
    // follows two or more of them (the cut for an ASCII top-level label).
    size_t p = pos, letters = 0, cut = 0;
    bool dotted = false, lettersOnly = true;
    while (p < m_size) {
        uint32_t cp;
        size_t len;
        if (m_text[p] < 0x80) {
            if (!Has(m_text[p], kHost)) break;
            cp = m_text[p];
            len = 1;
        } else {
            len = CharAt(p, &cp);
            if (!len) break;
        }
        if (cp == '.' || IsFullStop(cp)) {
            dotted = true;
            letters = cut = 0;
            lettersOnly = true;
        } else if (lettersOnly && cp < 0x80 && IsAsciiAlpha(static_cast<unsigned char>(cp))) {
            ++letters;
        } else {
            if (lettersOnly && cp >= 0x80 && letters >= 2) cut = p;
            lettersOnly = false;
        }
        p += len;
    }
    return dotted && cut ? cut : p;
}

// From the end of the host: an optional ":port", then a path, query or fragment.
size_t TextUrlScanner::RestEnd(size_t p) const {
    if (p + 1 < m_size && m_text[p] == ':' && IsDigit(m_text[p + 1])) {
        p += 2;
        while (p < m_size && IsDigit(m_text[p])) ++p;
    }
    if (p < m_size && (m_text[p] == '/' || m_text[p] == '?' || m_text[p] == '#')) {
        uint32_t cp;
        while (p < m_size) {
            const size_t len = CharAt(p, &cp);
            if (!len) break;
            p += len;
        }
    }
    return p;
}

// Drops trailing punctuation and closing brackets without a match from [start, end), not
// below floor.
size_t TextUrlScanner::Trim(size_t start, size_t floor, size_t end) const {
    // Closing minus opening brackets in [start, end), counted when a closing one first ends
    // the URL (the punctuation dropped before that holds no brackets).
    int parens = 0, brackets = 0;
    bool counted = false;
    while (end > floor) {
        const unsigned char c = m_text[end - 1];
        uint32_t cp;
        if ((c == ')' || c == ']') && !counted) {
            for (size_t p = start; p < end; ++p) {
                parens += (m_text[p] == ')') - (m_text[p] == '(');
                brackets += (m_text[p] == ']') - (m_text[p] == '[');
            }
            counted = true;
        }
        if (Has(c, kTrailing)) {
            --end;
        } else if (c == ')' && parens > 0) {
            --end, --parens;
        } else if (c == ']' && brackets > 0) {
            --end, --brackets;
        } else if (end >= floor + 3 && DecodeUtf8(m_text + end - 3, 3, &cp) == 3 &&
                   IsFullStop(cp)) {
            end -= 3;
        } else {
            break;
        }
    }
    return end;
}

// True when the host holds a letter, a digit or a non-ASCII character.
bool TextUrlScanner::HostHasName(size_t from, size_t to) const {
    for (size_t p = from; p < to; ++p)
        if (IsAlnum(m_text[p]) || m_text[p] >= 0x80) return true;
    return false;
}

// A URL with a scheme whose authority starts at `authority`; its end, 0 for none.
size_t TextUrlScanner::SchemeUrl(size_t start, size_t authority) const {
    size_t at = 0;
    uint32_t cp;
    for (size_t p = authority; p < m_size && !Has(m_text[p], kPathStart);) {
        const size_t len = CharAt(p, &cp);
        if (!len) break;
        if (m_text[p] == '@') at = p;
        p += len;
    }
    size_t host = at + 1, hostEnd = at ? HostEnd(host) : host;
    if (hostEnd == host) {  // no "user@", or nothing after it
        host = authority;
        hostEnd = HostEnd(host);
    }
    // The host is checked before the rest is scanned, so that a rejected candidate never
    // scans the text after it (which may hold the next candidate).
    if (!HostHasName(host, hostEnd)) return 0;
    const size_t end = Trim(start, host, RestEnd(hostEnd));
    return HostHasName(host, std::min(hostEnd, end)) ? end : 0;
}

// A URL whose host starts with "www."; its end, 0 for none.
size_t TextUrlScanner::WwwUrl(size_t start) const {
    if (start + 4 >= m_size || !(IsAlnum(m_text[start + 4]) || m_text[start + 4] >= 0x80)) return 0;
    const size_t hostEnd = HostEnd(start);
    if (hostEnd <= start + 4) return 0;
    const size_t end = Trim(start, start + 4, RestEnd(hostEnd));
    return std::min(hostEnd, end) > start + 4 ? end : 0;
}

// A URL from a bare host name in [word, wordEnd) (see the header for the rules); its end, 0
// for none.
size_t TextUrlScanner::BareUrl(size_t word, size_t wordEnd) const {
    if (!IsAlnum(m_text[word])) return 0;
    size_t hostEnd = wordEnd;
    while (!IsAlnum(m_text[hostEnd - 1])) --hostEnd;
    if (hostEnd - word > 253 || (hostEnd < m_size && m_text[hostEnd] == '@')) return 0;
    size_t labels = 0, label = word;
    for (size_t p = word; p <= hostEnd; ++p) {
        if (p < hostEnd && m_text[p] != '.') {
            if (!IsAlnum(m_text[p]) && m_text[p] != '-') return 0;
            continue;
        }
        if (p == label || p - label > 63 || m_text[label] == '-' || m_text[p - 1] == '-') return 0;
        ++labels;
        if (p < hostEnd) label = p + 1;
    }
    if (labels < 2 || !std::all_of(m_text + label, m_text + hostEnd, IsAsciiAlpha)) return 0;
    const size_t suffix = PublicSuffixLabels(Text(word, hostEnd));
    if (!suffix || suffix >= labels) return 0;
    // After any port, a path is evidence enough.
    size_t path = hostEnd;
    if (path + 1 < m_size && m_text[path] == ':' && IsDigit(m_text[path + 1]))
        for (++path; path < m_size && IsDigit(m_text[path]);) ++path;
    if (path == m_size || m_text[path] != '/') {
        const std::string_view tld = Text(label, hostEnd);
        const bool country = tld.size() == 2;
        if (IsOneOfTlds(tld, std::begin(kFileExtensionTlds), std::end(kFileExtensionTlds)) &&
            (labels == 2 || country))
            return 0;
        // A top-level label in capitals after a name that is not: a file ("Debian.NEWS").
        const auto upper = [](unsigned char c) { return c >= 'A' && c <= 'Z'; };
        if (std::count_if(m_text + label, m_text + hostEnd, upper) > 1 &&
            !std::all_of(m_text + word, m_text + label,
                         [](unsigned char c) { return !(c >= 'a' && c <= 'z'); }))
            return 0;
        const bool standalone =
            IsOneOfTlds(tld, std::begin(kStandaloneTlds), std::end(kStandaloneTlds));
        if (!standalone && suffix < 2 && !(country && labels >= 3)) return 0;
    }
    return Trim(word, hostEnd, RestEnd(hostEnd));
}

}  // namespace host::url_finding

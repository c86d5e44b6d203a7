// URL finding in text and HTML bodies; the rules are listed in url_finder.h. The text scanner is
// one forward pass over candidate words. The HTML side cleans the characters, bounds the
// attributes in a tag scan, parses with libxml2's HTML parser in SAX mode (no tree) gathering
// the attribute URLs and the visible text, then runs the text scanner over the visible text.
#include "host/url_finder.h"

#include <libxml/HTMLparser.h>
#include <libxml/parserInternals.h>
#include <unicode/utf8.h>

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <iterator>
#include <mutex>

#include "common/ascii.h"

namespace host {
namespace {

using ascommon::AsciiToLower;
using ascommon::IsAsciiAlpha;

// ---- Characters -----------------------------------------------------------------------------

bool IsDigit(unsigned char c) {
    return c >= '0' && c <= '9';
}
bool IsAlnum(unsigned char c) {
    return IsAsciiAlpha(c) || IsDigit(c);
}
bool IsHtmlSpace(unsigned char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f';
}
bool IsOneOf(unsigned char c, const char* set) {
    return c && std::strchr(set, c);
}

// True when text starts with the lower-case ASCII word, in any case.
bool StartsWithNoCase(std::string_view text, std::string_view word) {
    if (text.size() < word.size()) return false;
    for (size_t i = 0; i < word.size(); ++i)
        if (AsciiToLower(text[i]) != word[i]) return false;
    return true;
}

bool EqualsNoCase(std::string_view text, std::string_view word) {
    return text.size() == word.size() && StartsWithNoCase(text, word);
}

// Classes of the ASCII bytes: kWord for the bytes of a candidate word (a scheme, a www. host or
// a bare host), kHost for the bytes of a host name, kUrl for the bytes that may stand in a URL,
// kPathStart for those that end an authority, kTrailing for the punctuation dropped from a URL's
// end.
enum : uint8_t { kWord = 1, kHost = 2, kUrl = 4, kPathStart = 8, kTrailing = 16 };

struct AsciiClasses {
    uint8_t bits[128] = {};
    constexpr AsciiClasses() {
        for (int c = 0x21; c < 0x7F; ++c) bits[c] = kUrl;
        for (char c : {'"', '<', '>', '\\', '^', '`', '{', '|', '}'}) bits[int(c)] = 0;
        for (int c = 0; c < 128; ++c) {
            const bool alnum = (c >= '0' && c <= '9') || IsAsciiAlpha(c);
            if (alnum || c == '.' || c == '-' || c == '_') bits[c] |= kWord | kHost;
        }
        bits[int('%')] |= kHost;
        for (char c : {'/', '?', '#'}) bits[int(c)] |= kPathStart;
        for (char c : {'.', ',', ';', ':', '!', '?', '\''}) bits[int(c)] |= kTrailing;
    }
};
constexpr AsciiClasses kClasses;

bool Has(unsigned char c, uint8_t bit) {
    return c < 0x80 && (kClasses.bits[c] & bit);
}

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

// ---- Text scanner ---------------------------------------------------------------------------

// Top-level labels that make a bare host a URL on their own, and country codes, which need a
// path. Both sorted.
constexpr std::string_view kCommonTlds[] = {
    "app",  "asia", "au",   "best", "bid",     "biz",   "br",    "ca",    "cf",     "cfd",  "ch",
    "club", "cn",   "co",   "com",  "cyou",    "de",    "edu",   "email", "es",     "eu",   "fr",
    "fun",  "ga",   "gov",  "gq",   "icu",     "info",  "io",    "jp",    "kz",     "life", "loan",
    "ly",   "mil",  "ml",   "mobi", "monster", "net",   "news",  "nl",    "online", "org",  "ru",
    "sbs",  "se",   "shop", "site", "space",   "store", "su",    "tech",  "tk",     "top",  "tv",
    "ua",   "uk",   "us",   "vip",  "website", "win",   "world", "ws",    "xyz"};
constexpr std::string_view kCountryCodes =
    "ac ad ae af ag ai al am ao aq ar as at au aw ax az ba bb bd be bf bg bh bi bj bm bn bo br "
    "bs bt bw by bz ca cc cd cf cg ch ci ck cl cm cn co cr cu cv cw cx cy cz de dj dk dm do dz "
    "ec ee eg er es et eu fi fj fk fm fo fr ga gd ge gf gg gh gi gl gm gn gp gq gr gs gt gu gw "
    "gy hk hm hn hr ht hu id ie il im in io iq ir is it je jm jo jp ke kg kh ki km kn kp kr kw "
    "ky kz la lb lc li lk lr ls lt lu lv ly ma mc md me mg mh mk ml mm mn mo mp mq mr ms mt mu "
    "mv mw mx my mz na nc ne nf ng ni nl no np nr nu nz om pa pe pf pg ph pk pl pm pn pr ps pt "
    "pw py qa re ro rs ru rw sa sb sc sd se sg sh si sk sl sm sn so sr ss st su sv sx sy sz tc "
    "td tf tg th tj tk tl tm tn to tr tt tv tw tz ua ug uk us uy uz va vc ve vg vi vn vu wf ws "
    "ye yt za zm zw";

enum class Tld { kNone, kCountry, kCommon };

Tld ClassifyTld(std::string_view label) {
    char lower[24];
    if (label.size() < 2 || label.size() > sizeof lower) return Tld::kNone;
    for (size_t i = 0; i < label.size(); ++i) lower[i] = AsciiToLower(label[i]);
    const std::string_view tld(lower, label.size());
    if (std::binary_search(std::begin(kCommonTlds), std::end(kCommonTlds), tld))
        return Tld::kCommon;
    if (tld.size() == 2)
        for (size_t i = 0; i + 1 < kCountryCodes.size(); i += 3)
            if (kCountryCodes.compare(i, 2, tld) == 0) return Tld::kCountry;
    return Tld::kNone;
}

class TextScanner {
  public:
    explicit TextScanner(std::string_view text)
        : s_(reinterpret_cast<const unsigned char*>(text.data())), n_(text.size()) {}

    // Calls emit(start, end) for every URL, in order. Only a word that holds a "." (a www. or
    // bare host) or ends before a ":" (a scheme) can start a URL, so the scan jumps from one
    // such byte to the next and takes the word around it; the words between give nothing.
    template <class Emit>
    void Run(Emit&& emit) {
        size_t i = 0;
        size_t dot = Find('.', 0), colon = Find(':', 0);  // the next ones at or after i, or n_
        while (i < n_) {
            if (dot < i) dot = Find('.', i);
            if (colon < i) colon = Find(':', i);
            const size_t mark = std::min(dot, colon);
            if (mark == n_) break;
            // The word holding the dot or ending at the colon; it starts no earlier than i (after
            // a URL the scan goes on from the URL's end, even within a word).
            size_t word = mark;
            while (word > i && Has(s_[word - 1], kWord)) --word;
            if (word == mark && s_[mark] == ':') {  // no word before this colon
                i = mark + 1;
                continue;
            }
            size_t wordEnd = word + 1;
            while (wordEnd < n_ && Has(s_[wordEnd], kWord)) ++wordEnd;
            const unsigned char before = word ? s_[word - 1] : ' ';
            size_t start = word, end = 0;
            if (wordEnd + 2 < n_ && s_[wordEnd] == ':' && s_[wordEnd + 1] == '/' &&
                s_[wordEnd + 2] == '/') {
                const size_t scheme = SchemeLength(word, wordEnd);
                if (scheme) {
                    start = wordEnd - scheme;
                    end = SchemeUrl(start, wordEnd + 3);
                }
            } else if (before != '@' && StartsWithNoCase(Text(word, wordEnd), "www.")) {
                end = WwwUrl(word);
            } else if (before != '@' && before != '/' && before != '\\' && !GluedToWord(word)) {
                end = BareUrl(word, wordEnd);
            }
            if (end) {
                emit(start, end);
                i = end;
            } else {
                i = wordEnd;
            }
        }
    }

  private:
    // The position of the next byte c at or after pos, n_ when there is none.
    size_t Find(unsigned char c, size_t pos) const {
        const void* hit = pos < n_ ? std::memchr(s_ + pos, c, n_ - pos) : nullptr;
        return hit ? static_cast<const unsigned char*>(hit) - s_ : n_;
    }

    std::string_view Text(size_t from, size_t to) const {
        return std::string_view(reinterpret_cast<const char*>(s_) + from, to - from);
    }

    // The length of the character at pos when it may stand in a URL, 0 when it ends the URL;
    // its code point in *cp (U+FFFD for a byte that is no valid UTF-8, which is kept).
    size_t CharAt(size_t pos, uint32_t* cp) const {
        const unsigned char c = s_[pos];
        if (c < 0x80) {
            *cp = c;
            return (kClasses.bits[c] & kUrl) ? 1 : 0;
        }
        return NonAsciiCharAt(pos, cp);
    }

    // CharAt for a byte of 0x80 or more.
    size_t NonAsciiCharAt(size_t pos, uint32_t* cp) const {
        const size_t len = DecodeUtf8(s_ + pos, n_ - pos, cp);
        if (!len) {
            *cp = 0xFFFD;
            return 1;
        }
        if (EndsUrl(*cp)) return 0;
        const unsigned char prev = pos ? s_[pos - 1] : ' ';
        if (prev >= 0x80 || IsOneOf(prev, "/?#=&+-_~%.")) return len;
        // After an ASCII character: a CJK character, or a full stop that a CJK character
        // follows, starts the running text.
        if (IsFullStop(*cp)) {
            uint32_t next;
            return pos + len < n_ && DecodeUtf8(s_ + pos + len, n_ - pos - len, &next) &&
                           IsCjk(next) && !IsFullStop(next)
                       ? 0
                       : len;
        }
        return IsCjk(*cp) ? 0 : len;
    }

    // True when the word follows a non-ASCII character that is not CJK: then it is the tail of
    // a longer word ("bücher.de" must not give "cher.de").
    bool GluedToWord(size_t word) const {
        if (!word || s_[word - 1] < 0x80) return false;
        size_t lead = word - 1;
        while (lead > 0 && word - lead < 4 && (s_[lead] & 0xC0) == 0x80) --lead;
        uint32_t cp;
        return !DecodeUtf8(s_ + lead, word - lead, &cp) || !(IsCjk(cp) || EndsUrl(cp));
    }

    // The length of the scheme that ends the word (http, https or ftp), 0 for none.
    size_t SchemeLength(size_t word, size_t wordEnd) const {
        for (std::string_view scheme : {"https", "http", "ftp"}) {
            if (wordEnd - word >= scheme.size() &&
                EqualsNoCase(Text(wordEnd - scheme.size(), wordEnd), scheme))
                return scheme.size();
        }
        return 0;
    }

    // The end of the host that starts at pos: a bracketed IPv6 address or a name; pos when
    // there is none.
    size_t HostEnd(size_t pos) const {
        if (pos < n_ && s_[pos] == '[') {
            size_t q = pos + 1;
            bool colon = false;
            while (q < n_ && (IsAlnum(s_[q]) || s_[q] == ':' || s_[q] == '.' || s_[q] == '%')) {
                colon |= s_[q] == ':';
                ++q;
            }
            return q < n_ && s_[q] == ']' && colon ? q + 1 : pos;
        }
        // Per label: how many ASCII letters it starts with, and where a non-ASCII character
        // follows two or more of them (the cut for an ASCII top-level label).
        size_t p = pos, letters = 0, cut = 0;
        bool dotted = false, lettersOnly = true;
        while (p < n_) {
            uint32_t cp;
            size_t len;
            if (s_[p] < 0x80) {
                if (!Has(s_[p], kHost)) break;
                cp = s_[p];
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
    size_t RestEnd(size_t p) const {
        if (p + 1 < n_ && s_[p] == ':' && IsDigit(s_[p + 1])) {
            p += 2;
            while (p < n_ && IsDigit(s_[p])) ++p;
        }
        if (p < n_ && (s_[p] == '/' || s_[p] == '?' || s_[p] == '#')) {
            uint32_t cp;
            while (p < n_) {
                const size_t len = CharAt(p, &cp);
                if (!len) break;
                p += len;
            }
        }
        return p;
    }

    // Drops trailing punctuation and closing brackets without a match from [start, end), not
    // below floor.
    size_t Trim(size_t start, size_t floor, size_t end) const {
        // Closing minus opening brackets in [start, end), counted when a closing one first ends
        // the URL (the punctuation dropped before that holds no brackets).
        int parens = 0, brackets = 0;
        bool counted = false;
        while (end > floor) {
            const unsigned char c = s_[end - 1];
            uint32_t cp;
            if ((c == ')' || c == ']') && !counted) {
                for (size_t p = start; p < end; ++p) {
                    parens += (s_[p] == ')') - (s_[p] == '(');
                    brackets += (s_[p] == ']') - (s_[p] == '[');
                }
                counted = true;
            }
            if (Has(c, kTrailing)) {
                --end;
            } else if (c == ')' && parens > 0) {
                --end, --parens;
            } else if (c == ']' && brackets > 0) {
                --end, --brackets;
            } else if (end >= floor + 3 && DecodeUtf8(s_ + end - 3, 3, &cp) == 3 &&
                       IsFullStop(cp)) {
                end -= 3;
            } else {
                break;
            }
        }
        return end;
    }

    // True when the host holds a letter, a digit or a non-ASCII character.
    bool HostHasName(size_t from, size_t to) const {
        for (size_t p = from; p < to; ++p)
            if (IsAlnum(s_[p]) || s_[p] >= 0x80) return true;
        return false;
    }

    // A URL with a scheme whose authority starts at `authority`; its end, 0 for none.
    size_t SchemeUrl(size_t start, size_t authority) const {
        size_t at = 0;
        uint32_t cp;
        for (size_t p = authority; p < n_ && !Has(s_[p], kPathStart);) {
            const size_t len = CharAt(p, &cp);
            if (!len) break;
            if (s_[p] == '@') at = p;
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
    size_t WwwUrl(size_t start) const {
        if (start + 4 >= n_ || !(IsAlnum(s_[start + 4]) || s_[start + 4] >= 0x80)) return 0;
        const size_t hostEnd = HostEnd(start);
        if (hostEnd <= start + 4) return 0;
        const size_t end = Trim(start, start + 4, RestEnd(hostEnd));
        return std::min(hostEnd, end) > start + 4 ? end : 0;
    }

    // A URL from a bare host name in [word, wordEnd) (see the header for the rule); its end, 0
    // for none.
    size_t BareUrl(size_t word, size_t wordEnd) const {
        if (!IsAlnum(s_[word])) return 0;
        size_t hostEnd = wordEnd;
        while (!IsAlnum(s_[hostEnd - 1])) --hostEnd;
        if (hostEnd - word > 253) return 0;
        size_t labels = 0, label = word;
        for (size_t p = word; p <= hostEnd; ++p) {
            if (p < hostEnd && s_[p] != '.') {
                if (!IsAlnum(s_[p]) && s_[p] != '-') return 0;
                continue;
            }
            if (p == label || p - label > 63 || s_[label] == '-' || s_[p - 1] == '-') return 0;
            ++labels;
            if (p < hostEnd) label = p + 1;
        }
        if (labels < 2 || !std::all_of(s_ + label, s_ + hostEnd, IsAsciiAlpha)) return 0;
        const Tld kind = ClassifyTld(Text(label, hostEnd));
        if (kind == Tld::kNone) return 0;
        if (kind == Tld::kCountry) {  // a path must follow, after any port
            size_t path = hostEnd;
            if (path + 1 < n_ && s_[path] == ':' && IsDigit(s_[path + 1]))
                for (++path; path < n_ && IsDigit(s_[path]);) ++path;
            if (path == n_ || s_[path] != '/') return 0;
        }
        return Trim(word, hostEnd, RestEnd(hostEnd));
    }

    const unsigned char* s_;
    size_t n_;
};

// ---- Attribute values -----------------------------------------------------------------------

// The URL text of an attribute value, or "" when it holds no absolute URL with a host. Leading
// and trailing spaces and controls go, and so do tabs and line breaks anywhere.
std::string AttributeUrl(std::string_view value) {
    while (!value.empty() && static_cast<unsigned char>(value.front()) <= 0x20)
        value.remove_prefix(1);
    while (!value.empty() && static_cast<unsigned char>(value.back()) <= 0x20)
        value.remove_suffix(1);
    std::string v;
    v.reserve(value.size());
    size_t kept = 0;  // value[kept, p) is to be copied
    for (size_t p = 0; p < value.size(); ++p) {
        if (value[p] == '\t' || value[p] == '\n' || value[p] == '\r') {
            v.append(value, kept, p - kept);
            kept = p + 1;
        }
    }
    v.append(value, kept);

    auto slashes = [&v](size_t from) {
        size_t p = from;
        while (p < v.size() && (v[p] == '/' || v[p] == '\\')) ++p;
        return p - from;
    };
    std::string url;
    size_t host = 0;
    if (slashes(0) >= 2) {
        url = v.substr(slashes(0));  // protocol-relative: the host starts the text
    } else if (StartsWithNoCase(v, "www.")) {
        url = std::move(v);
    } else {
        size_t colon = 0;
        while (colon < v.size() && IsAsciiAlpha(v[colon])) ++colon;
        if (colon == v.size() || v[colon] != ':') return std::string();
        const std::string_view scheme(v.data(), colon);
        if (!EqualsNoCase(scheme, "http") && !EqualsNoCase(scheme, "https") &&
            !EqualsNoCase(scheme, "ftp"))
            return std::string();
        const size_t n = slashes(colon + 1);
        if (!n) return std::string();
        if (n == 2 && v[colon + 1] == '/' && v[colon + 2] == '/')
            url = std::move(v);  // already "scheme://"
        else
            url = v.substr(0, colon + 1) + "//" + v.substr(colon + 1 + n);
        host = colon + 3;
    }
    // Backslashes before the query stand for slashes.
    for (size_t p = host; p < url.size() && url[p] != '?' && url[p] != '#'; ++p)
        if (url[p] == '\\') url[p] = '/';
    // The host as FillParsedURL reads it must name something.
    if (host < url.size() && url[host] == '[')
        return url.find(']', host) != std::string::npos ? url : std::string();
    size_t hostEnd = host;
    while (hostEnd < url.size() && !Has(url[hostEnd], kPathStart)) ++hostEnd;
    const size_t at = url.rfind('@', hostEnd ? hostEnd - 1 : 0);
    if (at != std::string::npos && at >= host && at < hostEnd) host = at + 1;
    for (size_t p = host; p < hostEnd && url[p] != ':'; ++p)
        if (IsAlnum(url[p]) || static_cast<unsigned char>(url[p]) >= 0x80) return url;
    return std::string();
}

// Calls add(url) for each candidate URL of a srcset value ("a.png 1x, b.png 2x").
template <class Add>
void SrcsetUrls(std::string_view value, Add&& add) {
    size_t p = 0;
    while (p < value.size()) {
        while (p < value.size() && (IsHtmlSpace(value[p]) || value[p] == ',')) ++p;
        const size_t start = p;
        while (p < value.size() && !IsHtmlSpace(value[p])) ++p;
        size_t end = p;
        if (end > start && value[end - 1] == ',') {
            while (end > start && value[end - 1] == ',') --end;
        } else {
            // Descriptors up to the next comma outside parentheses.
            int depth = 0;
            for (; p < value.size() && (depth || value[p] != ','); ++p)
                depth += (value[p] == '(') - (value[p] == ')' && depth);
        }
        if (end > start) add(value.substr(start, end - start));
    }
}

// Calls add(url) for each url(...) of a style sheet or a style attribute.
template <class Add>
void CssUrls(std::string_view css, Add&& add) {
    for (size_t p = css.find('('); p != std::string_view::npos; p = css.find('(', p + 1)) {
        if (p < 3 || !EqualsNoCase(css.substr(p - 3, 3), "url")) continue;
        size_t q = p + 1;
        while (q < css.size() && IsHtmlSpace(css[q])) ++q;
        size_t end;
        if (q < css.size() && (css[q] == '"' || css[q] == '\'')) {
            end = css.find(css[q], q + 1);
            ++q;
        } else {
            end = css.find(')', q);
        }
        if (end == std::string_view::npos) end = css.size();
        add(css.substr(q, end - q));
        p = end == css.size() ? end - 1 : end;
    }
}

// The URL of a meta refresh's content ("5; url=http://...").
std::string_view RefreshUrl(std::string_view content) {
    for (size_t p = 0; p + 3 <= content.size(); ++p) {
        if (!EqualsNoCase(content.substr(p, 3), "url")) continue;
        size_t q = p + 3;
        while (q < content.size() && IsHtmlSpace(content[q])) ++q;
        if (q == content.size() || content[q] != '=') continue;
        ++q;
        while (q < content.size() && IsHtmlSpace(content[q])) ++q;
        std::string_view url = content.substr(q);
        if (!url.empty() && (url[0] == '"' || url[0] == '\'')) {
            const size_t close = url.find(url[0], 1);
            url = url.substr(1, close == std::string_view::npos ? close : close - 1);
        }
        return url;
    }
    return std::string_view();
}

// ---- Names ----------------------------------------------------------------------------------

// A name of at most kMaxKeyLength characters in lower case, packed into two words, big-endian
// and padded with zero bytes: keys order as the names do.
constexpr size_t kMaxKeyLength = 16;

struct NameKey {
    uint64_t high = 0, low = 0;

    constexpr explicit NameKey(std::string_view name) {
        for (size_t i = 0; i < name.size() && i < kMaxKeyLength; ++i)
            (i < 8 ? high : low) |= uint64_t{static_cast<unsigned char>(AsciiToLower(name[i]))}
                                    << (56 - 8 * (i % 8));
    }
    constexpr bool operator<(const NameKey& other) const {
        return high != other.high ? high < other.high : low < other.low;
    }
    constexpr bool operator==(const NameKey& other) const {
        return high == other.high && low == other.low;
    }
};

// An entry of a table of element or attribute names, sorted by name.
template <class Value>
struct Named {
    constexpr Named(std::string_view n, Value v) : key(n), value(v) {}
    NameKey key;
    Value value;
};

template <class Value, size_t N>
constexpr bool SortedByName(const Named<Value> (&table)[N]) {
    for (size_t i = 1; i < N; ++i)
        if (!(table[i - 1].key < table[i].key)) return false;
    return true;
}

// The value of the name (any case) in the table, Value() when it is not there.
template <class Value, size_t N>
Value Lookup(const Named<Value> (&table)[N], std::string_view name) {
    if (name.size() > kMaxKeyLength) return Value();
    const NameKey key(name);
    const Named<Value>* entry =
        std::lower_bound(std::begin(table), std::end(table), key,
                         [](const Named<Value>& e, const NameKey& k) { return e.key < k; });
    return entry != std::end(table) && entry->key == key ? entry->value : Value();
}

// What an attribute's value may give.
enum class AttributeKind : uint8_t {
    kNone,
    kUrl,        // the whole value is a URL
    kSrcset,     // image candidates
    kStyle,      // url(...) items
    kHttpEquiv,  // "refresh" for a meta refresh
    kContent,    // a meta refresh's URL
};

// An SVG link keeps its xlink prefix.
constexpr Named<AttributeKind> kAttributes[] = {
    {"action", AttributeKind::kUrl},   {"background", AttributeKind::kUrl},
    {"cite", AttributeKind::kUrl},     {"content", AttributeKind::kContent},
    {"data", AttributeKind::kUrl},     {"formaction", AttributeKind::kUrl},
    {"href", AttributeKind::kUrl},     {"http-equiv", AttributeKind::kHttpEquiv},
    {"longdesc", AttributeKind::kUrl}, {"poster", AttributeKind::kUrl},
    {"src", AttributeKind::kUrl},      {"srcset", AttributeKind::kSrcset},
    {"style", AttributeKind::kStyle},  {"xlink:href", AttributeKind::kUrl},
};
static_assert(SortedByName(kAttributes));

// ---- Characters for libxml2 -----------------------------------------------------------------
// libxml2's HTML parser ends the document at a NUL byte, reads the rest of the document as
// Latin-1 after an invalid UTF-8 sequence and drops control characters. So NUL bytes, invalid
// sequences, surrogates and U+FFFE/U+FFFF become U+FFFD, and the other control characters but
// tab and line breaks become spaces (in text both end a URL, like the control character).

// The document with the characters libxml2 cannot take replaced: the input itself, or *copy
// (empty on entry) when a character had to change.
std::string_view CleanCharacters(std::string_view html, std::string* copy) {
    const auto* s = reinterpret_cast<const unsigned char*>(html.data());
    const size_t n = html.size();
    size_t copied = 0;  // the input up to here is in *copy
    bool copying = false;
    for (size_t i = 0; i < n;) {
        // Eight characters at a time while none is non-ASCII (high bit) or a control character
        // (subtracting 0x20 from it sets the high bit of some byte of the word).
        if (n - i >= 8) {
            constexpr uint64_t kHighBits = 0x8080808080808080, kSpaces = 0x2020202020202020;
            uint64_t eight;
            std::memcpy(&eight, s + i, 8);
            if (!((eight | ((eight - kSpaces) & ~eight)) & kHighBits)) {
                i += 8;
                continue;
            }
        }
        const unsigned char c = s[i];
        size_t len = 1;
        const char* replacement = nullptr;
        if (c >= 0x80) {
            size_t next = i;
            UChar32 cp;
            U8_NEXT(s, next, n, cp);  // refuses overlong forms, surrogates, past U+10FFFF
            if (cp < 0 || cp == 0xFFFE || cp == 0xFFFF)
                replacement = "\xEF\xBF\xBD";
            else
                len = next - i;
        } else if (c < 0x20 && c != '\t' && c != '\n' && c != '\r') {
            replacement = c ? " " : "\xEF\xBF\xBD";
        }
        if (replacement) {
            if (!copying) copy->reserve(n + 64), copying = true;
            copy->append(html.data() + copied, i - copied).append(replacement);
            copied = i + 1;
        }
        i += len;
    }
    if (!copying) return html;
    copy->append(html.data() + copied, n - copied);
    return *copy;
}

// ---- Elements -------------------------------------------------------------------------------

// What the tag scan and the walk need to know of an element.
enum TagFlags : uint8_t {
    kBlock = 1,    // the visible text has a space at its start and end
    kHidden = 2,   // its text is not visible
    kRawText = 4,  // its content is text up to its end tag
    kRoot = 8,     // libxml2 drops a misplaced one, attributes and all
};

constexpr Named<uint8_t> kTags[] = {
    {"address", kBlock},    {"article", kBlock},      {"aside", kBlock},
    {"blockquote", kBlock}, {"body", kBlock | kRoot}, {"br", kBlock},
    {"button", kBlock},     {"caption", kBlock},      {"center", kBlock},
    {"dd", kBlock},         {"details", kBlock},      {"dir", kBlock},
    {"div", kBlock},        {"dl", kBlock},           {"dt", kBlock},
    {"fieldset", kBlock},   {"figcaption", kBlock},   {"figure", kBlock},
    {"footer", kBlock},     {"form", kBlock},         {"h1", kBlock},
    {"h2", kBlock},         {"h3", kBlock},           {"h4", kBlock},
    {"h5", kBlock},         {"h6", kBlock},           {"head", kBlock | kRoot},
    {"header", kBlock},     {"hr", kBlock},           {"html", kBlock | kRoot},
    {"iframe", kBlock},     {"legend", kBlock},       {"li", kBlock},
    {"listing", kBlock},    {"main", kBlock},         {"menu", kBlock},
    {"nav", kBlock},        {"ol", kBlock},           {"option", kBlock},
    {"p", kBlock},          {"pre", kBlock},          {"script", kHidden | kRawText},
    {"section", kBlock},    {"select", kBlock},       {"style", kHidden | kRawText},
    {"summary", kBlock},    {"table", kBlock},        {"tbody", kBlock},
    {"td", kBlock},         {"template", kHidden},    {"textarea", kBlock},
    {"tfoot", kBlock},      {"th", kBlock},           {"thead", kBlock},
    {"title", kBlock},      {"tr", kBlock},           {"ul", kBlock},
};

static_assert(SortedByName(kTags));

// The flags of the element with the name (any case).
uint8_t TagFlagsOf(std::string_view name) {
    return Lookup(kTags, name);
}

// ---- Tag scan -------------------------------------------------------------------------------
// libxml2 compares each attribute name with the earlier ones of its tag, and each end tag and
// <body> with the whole stack of open elements: attribute floods and deep nesting take
// quadratic time. A scan that reads the markup the way libxml2 reads it (comments, doctype,
// processing instructions, script and style text, quoted attribute values, names of at most
// kMaxNameLength characters) drops the attributes past kMaxAttributes in one tag unless their
// names may hold a URL, and renames to div an html, head or body start tag with a URL
// attribute, which libxml2 would drop where misplaced. Deep nesting is caught during the parse
// (HtmlWalk): the parse then runs again on the flat form of the document, in which every start
// tag but script, style and template closes itself ("<div ... />"), every end tag of a block
// element becomes <br> and the other end tags go, which keeps the text, the separators and the
// attributes but no tree.

constexpr size_t kMaxDepth = 256;
// The work on the stack of open elements that a parse may do before it runs again flat: each
// end tag that closes nothing, each misplaced <body> and each end tag blocked by a table costs
// libxml2 a comparison per open element and a markup error, where the walk counts it.
constexpr size_t kMaxStackWorkPerByte = 4;
constexpr size_t kMaxStackWorkBase = 1 << 20;
constexpr size_t kMaxAttributes = 256;
constexpr size_t kMaxTemplates = 64;    // in the flat form, open templates kept as elements
constexpr size_t kMaxNameLength = 100;  // libxml2 reads a longer name as several

class TagScan {
  public:
    TagScan(std::string_view html, bool flat) : s_(html), n_(html.size()), flat_(flat) {}

    // The document to parse: the input itself, or *copy (empty on entry) when tags changed.
    std::string_view Apply(std::string* copy) {
        copy_ = copy;
        Scan();
        if (!copying_) return s_;
        copy->append(s_.data() + copied_, n_ - copied_);
        return *copy;
    }

  private:
    static constexpr size_t npos = std::string_view::npos;

    // Replaces the input from begin to end with the text; edits come in the input's order.
    void Edit(size_t begin, size_t end, const char* text) {
        if (!copying_) copy_->reserve(n_ + 64), copying_ = true;
        copy_->append(s_.data() + copied_, begin - copied_).append(text);
        copied_ = end;
    }

    static bool IsBlank(unsigned char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }
    bool At(size_t p, char c) const { return p < n_ && s_[p] == c; }
    bool TagEndsAt(size_t p) const { return At(p, '>') || (At(p, '/') && At(p + 1, '>')); }

    size_t SkipBlanks(size_t p) const {
        while (p < n_ && IsBlank(s_[p])) ++p;
        return p;
    }

    // The position after the next ">" from p, or the end.
    size_t PastGreater(size_t p) const {
        const size_t gt = s_.find('>', p);
        return gt == npos ? n_ : gt + 1;
    }

    // The end of the tag or attribute name at p, p when there is none.
    size_t NameEnd(size_t p) const {
        if (p >= n_ || !(IsAsciiAlpha(s_[p]) || IsOneOf(s_[p], "_:."))) return p;
        size_t q = p + 1;
        while (q < n_ && q - p < kMaxNameLength && (IsAlnum(s_[q]) || IsOneOf(s_[q], ":-_."))) ++q;
        return q;
    }

    // The end of a quoted literal at p (the end of the input when unclosed), p for none.
    size_t LiteralEnd(size_t p) const {
        if (!At(p, '"') && !At(p, '\'')) return p;
        const size_t close = s_.find(s_[p], p + 1);
        return close == npos ? n_ : close + 1;
    }

    // True when a processing instruction's target starts at p (a letter, "_" or ":").
    bool PiTargetAt(size_t p) const {
        if (p >= n_) return false;
        const auto c = static_cast<unsigned char>(s_[p]);
        if (c < 0x80) return IsAsciiAlpha(c) || c == '_' || c == ':';
        UChar32 cp;
        U8_NEXT(reinterpret_cast<const uint8_t*>(s_.data()), p, n_, cp);
        return cp >= 0 && xmlIsLetter(cp) != 0;
    }

    void Scan() {
        size_t pos = 0;
        bool doctype = false;
        while (pos < n_) {
            const size_t lt = s_.find('<', pos);
            if (lt == npos || lt + 1 >= n_) break;
            for (size_t p = pos; prolog_ && p < lt; ++p) prolog_ = IsBlank(s_[p]);
            const char next = s_[lt + 1];
            if (next == '!' && s_.compare(lt + 2, 2, "--") == 0) {
                pos = CommentEnd(lt + 4);
                continue;
            }
            if (next == '?') {
                // "<?" without a target is dropped, the rest is text.
                pos = PiTargetAt(lt + 2) ? PastGreater(lt + 2) : lt + 2;
                continue;
            }
            if (next == '/') {
                pos = EndTag(lt);
            } else if (next == '!' && StartsWithNoCase(s_.substr(lt + 2), "doctype")) {
                pos = Doctype(lt + 9);
                // A doctype within the content: libxml2 reads a "</" or "<!DOCTYPE" right
                // after it with its "<" as text.
                if (!prolog_ || doctype) {
                    if (At(pos, '<') &&
                        (At(pos + 1, '/') || StartsWithNoCase(s_.substr(pos + 1), "!doctype")))
                        ++pos;
                    prolog_ = false;
                }
                doctype = true;
                continue;
            } else if (IsAsciiAlpha(next)) {
                pos = StartTag(lt);
            } else {
                pos = lt + 1;  // "<" in text
            }
            prolog_ = false;
        }
    }

    // The end of a comment from after "<!--": after "-->" or "--!>", or the end of the input.
    size_t CommentEnd(size_t p) const {
        for (size_t dashes = s_.find("--", p); dashes != npos; dashes = s_.find("--", dashes + 1)) {
            if (At(dashes + 2, '>')) return dashes + 3;
            if (At(dashes + 2, '!') && At(dashes + 3, '>')) return dashes + 4;
        }
        return n_;
    }

    // A doctype from after "<!DOCTYPE": a name, then public and system literals, which may
    // hold ">", then anything up to ">".
    size_t Doctype(size_t p) const {
        p = SkipBlanks(p);
        if (p < n_ && (IsAsciiAlpha(s_[p]) || IsOneOf(s_[p], "_:")))
            while (p < n_ && (IsAlnum(s_[p]) || IsOneOf(s_[p], "_:.-") || s_[p] & 0x80)) ++p;
        p = SkipBlanks(p);
        const bool system = StartsWithNoCase(s_.substr(p), "system");
        if (system || StartsWithNoCase(s_.substr(p), "public")) {
            p = LiteralEnd(SkipBlanks(p + 6));
            if (!system) p = LiteralEnd(SkipBlanks(p));
        }
        return PastGreater(p);
    }

    size_t EndTag(size_t lt) {
        const size_t nameEnd = NameEnd(lt + 2);
        if (nameEnd == lt + 2) return lt + 2;  // "</" without a name is dropped
        const size_t end = PastGreater(nameEnd);
        if (flat_) {
            const std::string_view name = s_.substr(lt + 2, nameEnd - lt - 2);
            const uint8_t flags = TagFlagsOf(name);
            if (flags & kBlock) {
                Edit(lt, end, "<br>");
            } else if (templates_ && EqualsNoCase(name, "template")) {
                --templates_;
            } else if (!(flags & kRawText) && !prolog_) {
                // Nothing that it could close is open; an empty comment joins no "<" and name
                // (and would not end the prolog).
                Edit(lt, end, "<!---->");
            }
        }
        return end;
    }

    size_t StartTag(size_t lt) {
        const size_t nameEnd = NameEnd(lt + 1);
        const std::string_view name = s_.substr(lt + 1, nameEnd - lt - 1);
        const uint8_t flags = TagFlagsOf(name);
        // html, head or body with a URL attribute becomes div (a first pass over the attributes
        // tells, before their own edits).
        bool urlAttribute = false;
        if (flags & kRoot) {
            ForEachAttribute(nameEnd, [&](size_t start, size_t attributeNameEnd, size_t) {
                urlAttribute |= IsUrlAttribute(start, attributeNameEnd);
            });
        }
        if (urlAttribute) Edit(lt + 1, nameEnd, "div");
        size_t count = 0;
        const size_t p =
            ForEachAttribute(nameEnd, [&](size_t start, size_t attributeNameEnd, size_t end) {
                if (++count > kMaxAttributes && !IsUrlAttribute(start, attributeNameEnd))
                    Edit(start, end, "");
            });
        if (p >= n_) return n_;
        if (s_[p] == '/') return p + 2;  // "/>": an element without content
        if (flat_) {
            const bool keep = (flags & kRawText) ||
                              (templates_ < kMaxTemplates && EqualsNoCase(name, "template"));
            if (!keep) {
                Edit(p, p + 1, " />");
            } else if (!(flags & kRawText)) {
                ++templates_;
            }
        }
        if (!(flags & kRawText)) return p + 1;
        return RawTextEnd(p + 1, EqualsNoCase(name, "style") ? "style" : "script");
    }

    bool IsUrlAttribute(size_t nameStart, size_t nameEnd) const {
        return Lookup(kAttributes, s_.substr(nameStart, nameEnd - nameStart)) !=
               AttributeKind::kNone;
    }

    // Calls visit(start, nameEnd, end) for each attribute of a start tag from p; returns where
    // the tag ends: at its ">" or "/>", or at the end of the input.
    template <class Visit>
    size_t ForEachAttribute(size_t p, Visit&& visit) const {
        p = SkipBlanks(p);
        while (p < n_ && !TagEndsAt(p)) {
            const size_t start = p, nameEnd = NameEnd(p);
            if (nameEnd == p) {  // not a name: skipped up to a blank or the tag's end
                while (p < n_ && !IsBlank(s_[p]) && !TagEndsAt(p)) ++p;
            } else {
                size_t end = nameEnd;
                p = SkipBlanks(nameEnd);
                if (At(p, '=')) {
                    p = SkipBlanks(p + 1);
                    end = LiteralEnd(p);
                    if (end == p)
                        while (end < n_ && !IsBlank(s_[end]) && s_[end] != '>') ++end;
                    p = end;
                }
                visit(start, nameEnd, end);
            }
            p = SkipBlanks(p);
        }
        return p;
    }

    // Where the content of a script or style element from p ends: at an end tag of its name
    // (lower case). libxml2 reads a tag at the very start of the content as markup, and so an
    // end tag with a longer name ("</scriptx"): both are made text, so that the content is what
    // the scan takes it for.
    size_t RawTextEnd(size_t p, std::string_view name) {
        if (At(p, '<') && (At(p + 1, '/') || (p + 1 < n_ && IsAsciiAlpha(s_[p + 1]))))
            Edit(p, p, " ");
        for (size_t lt = s_.find("</", p); lt != npos; lt = s_.find("</", lt + 2)) {
            if (!EqualsNoCase(s_.substr(lt + 2, name.size()), name)) continue;
            if (NameEnd(lt + 2) == lt + 2 + name.size()) return lt;
            Edit(lt, lt + 2, "< /");
        }
        return n_;
    }

    std::string_view s_;
    size_t n_;
    bool flat_;
    size_t templates_ = 0;  // open template elements kept in the flat form
    // Before any content: only blanks, comments, processing instructions and one doctype.
    bool prolog_ = true;
    std::string* copy_ = nullptr;
    bool copying_ = false;
    size_t copied_ = 0;  // the input up to here is in *copy_ (once copying_)
};

// ---- HTML walk ------------------------------------------------------------------------------

// Parses a document with libxml2's HTML parser and gathers, from its events, the attribute URLs
// (with the visible text's length where their element starts) and the visible text. The parse
// stops when more than kMaxDepth elements are open or the errors tell of too much work on them.
class HtmlWalk {
  public:
    struct Positioned {
        size_t at;  // offset in the visible text
        std::string url;
    };

    // Parses the document; false when it stopped for the depth or the work on the stack.
    bool Parse(std::string_view html) {
        static std::once_flag initialized;
        std::call_once(initialized, [] { xmlInitParser(); });
        if (html.empty()) return true;
        const int size = static_cast<int>(std::min<size_t>(html.size(), INT_MAX));  // an int
        htmlParserCtxtPtr ctxt = htmlCreateMemoryParserCtxt(html.data(), size);
        if (!ctxt) return true;
        // Our handler in place of the context's own for the parse (the options write into it).
        static const htmlSAXHandler kHandler = Handler();
        htmlSAXHandler handler = kHandler;
        htmlSAXHandler* const own = ctxt->sax;
        ctxt->sax = &handler;
        ctxt->userData = this;
        ctxt_ = ctxt;
        maxStackWork_ = kMaxStackWorkBase + kMaxStackWorkPerByte * html.size();
        // No implied html, body and p elements; the input is UTF-8 whatever a meta says.
        htmlCtxtUseOptions(ctxt, HTML_PARSE_RECOVER | HTML_PARSE_NOERROR | HTML_PARSE_NOWARNING |
                                     HTML_PARSE_NONET | HTML_PARSE_NOIMPLIED |
                                     HTML_PARSE_IGNORE_ENC);
        xmlSwitchEncoding(ctxt, XML_CHAR_ENCODING_UTF8);
        htmlParseDocument(ctxt);
        ctxt->sax = own;
        htmlFreeParserCtxt(ctxt);
        ctxt_ = nullptr;
        if (inStyle_) EndStyle();
        return !stopped_;
    }

    std::string& text() { return text_; }
    std::vector<Positioned>& urls() { return urls_; }

  private:
    static htmlSAXHandler Handler() {
        htmlSAXHandler h;
        std::memset(&h, 0, sizeof h);
        h.startElement = [](void* walk, const xmlChar* name, const xmlChar** attributes) {
            static_cast<HtmlWalk*>(walk)->Enter(Text(name), attributes);
        };
        h.endElement = [](void* walk, const xmlChar* name) {
            static_cast<HtmlWalk*>(walk)->Leave(Text(name));
        };
        h.characters = [](void* walk, const xmlChar* chars, int length) {
            static_cast<HtmlWalk*>(walk)->Characters(chars, length);
        };
        h.ignorableWhitespace = h.characters;
        // Script and style content.
        h.cdataBlock = [](void* walk, const xmlChar* chars, int length) {
            static_cast<HtmlWalk*>(walk)->RawText(chars, length);
        };
        // Markup errors are no news in mail; they count for the work on the stack.
        h.serror = [](void* walk, auto) { static_cast<HtmlWalk*>(walk)->Error(); };
        h.initialized = XML_SAX2_MAGIC;  // so that serror is used
        return h;
    }

    static std::string_view Text(const xmlChar* s) {
        return s ? std::string_view(reinterpret_cast<const char*>(s)) : std::string_view();
    }

    void Separate() {
        if (!text_.empty() && !IsHtmlSpace(text_.back())) text_ += ' ';
    }

    void Add(std::string_view value) {
        std::string url = AttributeUrl(value);
        if (!url.empty()) urls_.push_back({text_.size(), std::move(url)});
    }

    void Stop() {
        stopped_ = true;
        xmlStopParser(ctxt_);
    }

    void Error() {
        if (stopped_) return;
        stackWork_ += static_cast<size_t>(ctxt_->nameNr);
        if (stackWork_ > maxStackWork_) Stop();
    }

    // libxml2 gives element and attribute names in lower case.
    void Enter(std::string_view name, const xmlChar** attributes) {
        if (stopped_) return;
        if (static_cast<size_t>(ctxt_->nameNr) > kMaxDepth) {
            Stop();
            return;
        }
        const uint8_t flags = TagFlagsOf(name);
        if (flags & kBlock) Separate();
        if (flags & kHidden) ++hidden_;
        if (name == "style") inStyle_ = true;
        auto add = [this](std::string_view v) { Add(v); };
        bool refresh = false;
        std::string_view content;
        for (const xmlChar** a = attributes; a && a[0]; a += 2) {
            if (!a[1]) continue;
            const std::string_view value = Text(a[1]);
            switch (Lookup(kAttributes, Text(a[0]))) {
                case AttributeKind::kUrl:
                    Add(value);
                    break;
                case AttributeKind::kSrcset:
                    SrcsetUrls(value, add);
                    break;
                case AttributeKind::kStyle:
                    CssUrls(value, add);
                    break;
                case AttributeKind::kHttpEquiv:
                    refresh = EqualsNoCase(value, "refresh");
                    break;
                case AttributeKind::kContent:
                    content = value;
                    break;
                case AttributeKind::kNone:
                    break;
            }
        }
        if (refresh && name == "meta") Add(RefreshUrl(content));
    }

    void Leave(std::string_view name) {
        if (stopped_) return;
        const uint8_t flags = TagFlagsOf(name);
        if (flags & kBlock) Separate();
        if ((flags & kHidden) && hidden_) --hidden_;
        if (inStyle_ && name == "style") EndStyle();
    }

    void Characters(const xmlChar* chars, int length) {
        if (!stopped_ && !hidden_) text_.append(reinterpret_cast<const char*>(chars), length);
    }

    void RawText(const xmlChar* chars, int length) {
        if (!stopped_ && inStyle_) style_.append(reinterpret_cast<const char*>(chars), length);
    }

    // A style sheet's URLs stand where its element starts, which is where the text stands.
    void EndStyle() {
        CssUrls(style_, [this](std::string_view v) { Add(v); });
        style_.clear();
        inStyle_ = false;
    }

    htmlParserCtxtPtr ctxt_ = nullptr;
    std::string text_;
    std::vector<Positioned> urls_;
    std::string style_;  // the text of the open style element
    bool inStyle_ = false;
    int hidden_ = 0;
    size_t stackWork_ = 0;
    size_t maxStackWork_ = 0;
    bool stopped_ = false;
};

}  // namespace

void FindTextUrls(std::string_view text, std::vector<std::string>* urls) {
    TextScanner(text).Run(
        [&](size_t start, size_t end) { urls->emplace_back(text.substr(start, end - start)); });
}

void FindHtmlUrls(std::string_view html, std::vector<std::string>* urls, std::string* visibleText) {
    std::string cleaned, prepared;
    const std::string_view source = CleanCharacters(html, &cleaned);
    HtmlWalk walk;
    if (!walk.Parse(TagScan(source, false).Apply(&prepared))) {
        // Nested too deep for libxml2, or too much work on its stack: the flat form. Should
        // that stop too (markup that the tag scan reads otherwise than libxml2), what was found
        // up to there stands.
        prepared.clear();
        walk = HtmlWalk();
        walk.Parse(TagScan(source, true).Apply(&prepared));
    }
    // Attribute URLs stand where their element starts, text URLs where they start.
    const std::string& text = walk.text();
    std::vector<HtmlWalk::Positioned>& attributeUrls = walk.urls();
    size_t next = 0;
    TextScanner(text).Run([&](size_t start, size_t end) {
        for (; next < attributeUrls.size() && attributeUrls[next].at <= start; ++next)
            urls->push_back(std::move(attributeUrls[next].url));
        urls->emplace_back(text, start, end - start);
    });
    for (; next < attributeUrls.size(); ++next) urls->push_back(std::move(attributeUrls[next].url));
    if (visibleText) visibleText->append(text);
}

}  // namespace host

// URL finding in text and HTML bodies; the rules are listed in url_finder.h. The text scanner is
// one forward pass over candidate words; the HTML side is a nesting bound pass, one gumbo parse
// and one iterative walk of the tree, then the text scanner over the visible text.
#include "host/url_finder.h"

#include <gumbo.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <iterator>

namespace host {
namespace {

// ---- Characters -----------------------------------------------------------------------------

bool IsAlpha(unsigned char c) {
    return (c | 0x20) >= 'a' && (c | 0x20) <= 'z';
}
bool IsDigit(unsigned char c) {
    return c >= '0' && c <= '9';
}
bool IsAlnum(unsigned char c) {
    return IsAlpha(c) || IsDigit(c);
}
bool IsHtmlSpace(unsigned char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f';
}
unsigned char Lower(unsigned char c) {
    return c >= 'A' && c <= 'Z' ? c + 32 : c;
}
bool IsOneOf(unsigned char c, const char* set) {
    return c && std::strchr(set, c);
}

// True when text starts with the lower-case ASCII word, in any case.
bool StartsWithNoCase(std::string_view text, std::string_view word) {
    if (text.size() < word.size()) return false;
    for (size_t i = 0; i < word.size(); ++i)
        if (Lower(text[i]) != static_cast<unsigned char>(word[i])) return false;
    return true;
}

bool EqualsNoCase(std::string_view text, std::string_view word) {
    return text.size() == word.size() && StartsWithNoCase(text, word);
}

// Classes of the ASCII bytes: kWord for the bytes of a candidate word (a scheme, a www. host or
// a bare host), kHost for the bytes of a host name, kUrl for the bytes that may stand in a URL.
enum : uint8_t { kWord = 1, kHost = 2, kUrl = 4 };

struct AsciiClasses {
    uint8_t bits[128] = {};
    constexpr AsciiClasses() {
        for (int c = 0x21; c < 0x7F; ++c) bits[c] = kUrl;
        for (char c : {'"', '<', '>', '\\', '^', '`', '{', '|', '}'}) bits[int(c)] = 0;
        for (int c = 0; c < 128; ++c) {
            const bool alnum =
                (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
            if (alnum || c == '.' || c == '-' || c == '_') bits[c] |= kWord | kHost;
        }
        bits[int('%')] |= kHost;
    }
};
constexpr AsciiClasses kClasses;

bool Has(unsigned char c, uint8_t bit) {
    return c < 0x80 && (kClasses.bits[c] & bit);
}

// Decodes the UTF-8 sequence at s[0, n) into *cp; returns its length, 0 when it is invalid or
// cut short.
size_t DecodeUtf8(const unsigned char* s, size_t n, uint32_t* cp) {
    const unsigned char c = s[0];
    size_t len;
    uint32_t v;
    if (c >= 0xC2 && c <= 0xDF) {
        len = 2, v = c & 0x1F;
    } else if (c >= 0xE0 && c <= 0xEF) {
        len = 3, v = c & 0x0F;
    } else if (c >= 0xF0 && c <= 0xF4) {
        len = 4, v = c & 0x07;
    } else {
        return 0;
    }
    if (n < len) return 0;
    for (size_t i = 1; i < len; ++i) {
        if ((s[i] & 0xC0) != 0x80) return 0;
        v = (v << 6) | (s[i] & 0x3F);
    }
    *cp = v;
    return len;
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
    for (size_t i = 0; i < label.size(); ++i) lower[i] = Lower(label[i]);
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

    // Calls emit(start, end) for every URL, in order.
    template <class Emit>
    void Run(Emit&& emit) {
        size_t i = 0;
        while (i < n_) {
            if (!Has(s_[i], kWord)) {
                ++i;
                continue;
            }
            const size_t word = i;
            size_t wordEnd = i + 1;
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
            } else if (lettersOnly && cp < 0x80 && IsAlpha(static_cast<unsigned char>(cp))) {
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
        int parens = 0, brackets = 0;  // closing minus opening
        for (size_t p = start; p < end; ++p) {
            parens += (s_[p] == ')') - (s_[p] == '(');
            brackets += (s_[p] == ']') - (s_[p] == '[');
        }
        while (end > floor) {
            const unsigned char c = s_[end - 1];
            uint32_t cp;
            if (IsOneOf(c, ".,;:!?'")) {
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
        for (size_t p = authority; p < n_ && !IsOneOf(s_[p], "/?#");) {
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
        if (labels < 2 || !std::all_of(s_ + label, s_ + hostEnd, IsAlpha)) return 0;
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
    for (char c : value)
        if (c != '\t' && c != '\n' && c != '\r') v += c;

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
        while (colon < v.size() && IsAlpha(v[colon])) ++colon;
        if (colon == v.size() || v[colon] != ':') return std::string();
        const std::string_view scheme(v.data(), colon);
        if (!EqualsNoCase(scheme, "http") && !EqualsNoCase(scheme, "https") &&
            !EqualsNoCase(scheme, "ftp"))
            return std::string();
        const size_t n = slashes(colon + 1);
        if (!n) return std::string();
        url = v.substr(0, colon + 1) + "//" + v.substr(colon + 1 + n);
        host = colon + 3;
    }
    // Backslashes before the query stand for slashes.
    for (size_t p = host; p < url.size() && url[p] != '?' && url[p] != '#'; ++p)
        if (url[p] == '\\') url[p] = '/';
    // The host as FillParsedURL reads it must name something.
    if (host < url.size() && url[host] == '[')
        return url.find(']', host) != std::string::npos ? url : std::string();
    size_t hostEnd = url.find_first_of("/?#", host);
    if (hostEnd == std::string::npos) hostEnd = url.size();
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

// True for the attributes whose whole value is a URL.
bool IsPlainUrlAttribute(std::string_view name) {
    for (std::string_view known : {"href", "src", "action", "formaction", "background", "poster",
                                   "cite", "data", "longdesc"})
        if (EqualsNoCase(name, known)) return true;
    return false;
}

// True for the attributes that may hold a URL or say where one is.
bool IsUrlAttribute(std::string_view name) {
    return IsPlainUrlAttribute(name) || EqualsNoCase(name, "srcset") ||
           EqualsNoCase(name, "style") || EqualsNoCase(name, "content") ||
           EqualsNoCase(name, "http-equiv");
}

// ---- Nesting bound --------------------------------------------------------------------------
// For many start tags an HTML parser walks the open elements, it re-opens the active formatting
// elements in every paragraph, and gumbo compares each attribute name with the earlier ones of
// its tag: deep nesting and attribute-laden tags take quadratic time. A light tag scan before
// the parse follows the open elements roughly; a start tag that would open more than kMaxDepth
// elements, or more than kMaxFormatting formatting elements, becomes <wbr> with the same
// attributes (and its end tag goes), and attributes past kMaxAttributes in one tag go unless
// their names may hold a URL. Ordinary mail stays far below these bounds and is parsed as it is.

constexpr size_t kMaxDepth = 256;
constexpr size_t kMaxFormatting = 16;
constexpr size_t kMaxAttributes = 256;
constexpr size_t kEndTagReach = 32;  // open elements an end tag is matched against

// What the nesting bound and the walk need to know of a tag.
enum TagFlags : uint16_t {
    kVoid = 1,        // never has content
    kRawText = 2,     // its content is text up to its end tag
    kPlainText = 4,   // the rest of the document is text
    kFormatting = 8,  // re-opened by the parser until its own end tag
    kMarker = 16,     // its end drops the formatting elements opened inside
    kBlock = 32,      // the visible text has a space at its start and end
    kHidden = 64,     // its text is not visible
};
// Bits 8 and up of a tag's flags: the group of tags that close each other (a new li closes the
// open li), 0 for none.
constexpr int kGroupShift = 8;

using TagTable = std::array<uint16_t, GUMBO_TAG_LAST + 1>;

const TagTable& Tags() {
    static const TagTable table = [] {
        TagTable t{};
        auto mark = [&t](uint16_t flag, std::initializer_list<GumboTag> tags) {
            for (GumboTag tag : tags) t[tag] |= flag;
        };
        mark(kVoid,
             {GUMBO_TAG_AREA, GUMBO_TAG_BASE, GUMBO_TAG_BASEFONT, GUMBO_TAG_BGSOUND, GUMBO_TAG_BR,
              GUMBO_TAG_COL, GUMBO_TAG_EMBED, GUMBO_TAG_FRAME, GUMBO_TAG_HR, GUMBO_TAG_IMAGE,
              GUMBO_TAG_IMG, GUMBO_TAG_INPUT, GUMBO_TAG_KEYGEN, GUMBO_TAG_LINK, GUMBO_TAG_META,
              GUMBO_TAG_PARAM, GUMBO_TAG_SOURCE, GUMBO_TAG_TRACK, GUMBO_TAG_WBR});
        mark(kRawText, {GUMBO_TAG_SCRIPT, GUMBO_TAG_STYLE, GUMBO_TAG_TEXTAREA, GUMBO_TAG_TITLE,
                        GUMBO_TAG_XMP, GUMBO_TAG_IFRAME, GUMBO_TAG_NOEMBED, GUMBO_TAG_NOFRAMES});
        mark(kPlainText, {GUMBO_TAG_PLAINTEXT});
        mark(kFormatting,
             {GUMBO_TAG_A, GUMBO_TAG_B, GUMBO_TAG_BIG, GUMBO_TAG_CODE, GUMBO_TAG_EM, GUMBO_TAG_FONT,
              GUMBO_TAG_I, GUMBO_TAG_NOBR, GUMBO_TAG_S, GUMBO_TAG_SMALL, GUMBO_TAG_STRIKE,
              GUMBO_TAG_STRONG, GUMBO_TAG_TT, GUMBO_TAG_U});
        mark(kMarker, {GUMBO_TAG_TD, GUMBO_TAG_TH, GUMBO_TAG_CAPTION, GUMBO_TAG_TABLE,
                       GUMBO_TAG_APPLET, GUMBO_TAG_OBJECT, GUMBO_TAG_MARQUEE, GUMBO_TAG_TEMPLATE});
        mark(kBlock,
             {GUMBO_TAG_ADDRESS,    GUMBO_TAG_ARTICLE, GUMBO_TAG_ASIDE,   GUMBO_TAG_BLOCKQUOTE,
              GUMBO_TAG_BODY,       GUMBO_TAG_BR,      GUMBO_TAG_BUTTON,  GUMBO_TAG_CAPTION,
              GUMBO_TAG_CENTER,     GUMBO_TAG_DD,      GUMBO_TAG_DETAILS, GUMBO_TAG_DIR,
              GUMBO_TAG_DIV,        GUMBO_TAG_DL,      GUMBO_TAG_DT,      GUMBO_TAG_FIELDSET,
              GUMBO_TAG_FIGCAPTION, GUMBO_TAG_FIGURE,  GUMBO_TAG_FOOTER,  GUMBO_TAG_FORM,
              GUMBO_TAG_H1,         GUMBO_TAG_H2,      GUMBO_TAG_H3,      GUMBO_TAG_H4,
              GUMBO_TAG_H5,         GUMBO_TAG_H6,      GUMBO_TAG_HEAD,    GUMBO_TAG_HEADER,
              GUMBO_TAG_HR,         GUMBO_TAG_HTML,    GUMBO_TAG_IFRAME,  GUMBO_TAG_LEGEND,
              GUMBO_TAG_LI,         GUMBO_TAG_LISTING, GUMBO_TAG_MAIN,    GUMBO_TAG_MENU,
              GUMBO_TAG_NAV,        GUMBO_TAG_OL,      GUMBO_TAG_OPTION,  GUMBO_TAG_P,
              GUMBO_TAG_PRE,        GUMBO_TAG_SECTION, GUMBO_TAG_SELECT,  GUMBO_TAG_SUMMARY,
              GUMBO_TAG_TABLE,      GUMBO_TAG_TBODY,   GUMBO_TAG_TD,      GUMBO_TAG_TEXTAREA,
              GUMBO_TAG_TFOOT,      GUMBO_TAG_TH,      GUMBO_TAG_THEAD,   GUMBO_TAG_TITLE,
              GUMBO_TAG_TR,         GUMBO_TAG_UL});
        mark(kHidden, {GUMBO_TAG_SCRIPT, GUMBO_TAG_STYLE, GUMBO_TAG_TEMPLATE});
        const std::initializer_list<GumboTag> groups[] = {
            {GUMBO_TAG_LI},
            {GUMBO_TAG_DT, GUMBO_TAG_DD},
            {GUMBO_TAG_TD, GUMBO_TAG_TH},
            {GUMBO_TAG_TR},
            {GUMBO_TAG_TBODY, GUMBO_TAG_THEAD, GUMBO_TAG_TFOOT},
            {GUMBO_TAG_OPTION},
            {GUMBO_TAG_OPTGROUP},
            {GUMBO_TAG_P},
            {GUMBO_TAG_RB, GUMBO_TAG_RT, GUMBO_TAG_RP, GUMBO_TAG_RTC},
            {GUMBO_TAG_COLGROUP}};
        for (size_t g = 0; g < std::size(groups); ++g) mark((g + 1) << kGroupShift, groups[g]);
        return t;
    }();
    return table;
}

bool Is(GumboTag tag, uint16_t flag) {
    return Tags()[tag] & flag;
}

struct Replacement {
    size_t begin, end;
    const char* text;
};

class NestingBound {
  public:
    explicit NestingBound(std::string_view html) : s_(html) {}

    // The document to parse: the input itself, or *copy when tags had to change.
    std::string_view Apply(std::string* copy) {
        Scan();
        if (edits_.empty()) return s_;
        copy->reserve(s_.size());
        size_t at = 0;
        for (const Replacement& e : edits_) {
            copy->append(s_.data() + at, e.begin - at);
            copy->append(e.text);
            at = e.end;
        }
        copy->append(s_.data() + at, s_.size() - at);
        return *copy;
    }

  private:
    struct Open {
        GumboTag tag;
        std::string_view name;  // for unknown tags
        bool replaced;          // its start tag became <wbr>
        size_t height;          // formatting: the other open elements when it opened
    };

    static bool Same(const Open& open, GumboTag tag, std::string_view name) {
        return open.tag == tag && (tag != GUMBO_TAG_UNKNOWN || EqualsNoCase(open.name, name));
    }

    // The index of the topmost entry for the tag among the last kEndTagReach, or npos.
    static size_t Find(const std::vector<Open>& stack, GumboTag tag, std::string_view name) {
        for (size_t i = stack.size(); i > 0 && stack.size() - i < kEndTagReach; --i)
            if (Same(stack[i - 1], tag, name)) return i - 1;
        return std::string_view::npos;
    }

    // Closes the open elements down to and including entry `index`; a marker's end drops the
    // formatting elements opened inside it.
    void CloseTo(size_t index) {
        bool marker = false;
        for (size_t i = index; i < open_.size(); ++i) marker |= Is(open_[i].tag, kMarker);
        open_.resize(index);
        if (marker)
            while (!formatting_.empty() && formatting_.back().height > index)
                formatting_.pop_back();
    }

    void Scan() {
        const size_t n = s_.size();
        size_t pos = 0;
        while (pos < n) {
            const size_t lt = s_.find('<', pos);
            if (lt == std::string_view::npos || lt + 1 >= n) break;
            size_t p = lt + 1;
            if (s_.compare(p, 3, "!--") == 0) {
                const size_t close = s_.find("-->", p + 3);
                pos = close == std::string_view::npos ? n : close + 3;
                continue;
            }
            const bool endTag = s_[p] == '/';
            if (endTag) ++p;
            if (p >= n) break;
            if (!IsAlpha(s_[p])) {
                if (!endTag && s_[p] != '!' && s_[p] != '?') {
                    pos = p;  // a lone "<" in text
                } else {
                    // "<!DOCTYPE ...>", "<?...>", "</9...>": up to the next ">".
                    const size_t close = s_.find('>', p);
                    pos = close == std::string_view::npos ? n : close + 1;
                }
                continue;
            }
            const size_t nameStart = p;
            while (p < n && !IsHtmlSpace(s_[p]) && s_[p] != '/' && s_[p] != '>') ++p;
            const std::string_view name = s_.substr(nameStart, p - nameStart);
            const GumboTag tag = gumbo_tagn_enum(name.data(), name.size());
            if (endTag) {
                size_t count = 0;
                const size_t close = Attributes(p, false, &count);
                pos = close < n ? close + 1 : n;
                EndTag(lt, p, close, pos, count, tag, name);
            } else {
                StartTag(nameStart, p, tag, name);
                size_t count = 0;
                const size_t close = Attributes(p, true, &count);
                pos = close < n ? close + 1 : n;
                if (Is(tag, kPlainText)) break;
                if (Is(tag, kRawText)) pos = RawTextEnd(pos, name);
            }
        }
    }

    // Skips the attributes from p, counting them in *count and, when dropExcess is set, dropping
    // the excess ones; returns the position of the tag's ">" (the end when there is none).
    size_t Attributes(size_t p, bool dropExcess, size_t* count) {
        const size_t n = s_.size();
        while (p < n && s_[p] != '>') {
            if (IsHtmlSpace(s_[p]) || s_[p] == '/') {
                ++p;
                continue;
            }
            const size_t start = p++;
            while (p < n && !IsHtmlSpace(s_[p]) && !IsOneOf(s_[p], "/>=")) ++p;
            const std::string_view name = s_.substr(start, p - start);
            size_t q = p;
            while (q < n && IsHtmlSpace(s_[q])) ++q;
            if (q < n && s_[q] == '=') {
                ++q;
                while (q < n && IsHtmlSpace(s_[q])) ++q;
                if (q < n && (s_[q] == '"' || s_[q] == '\'')) {
                    const size_t close = s_.find(s_[q], q + 1);
                    q = close == std::string_view::npos ? n : close + 1;
                } else {
                    while (q < n && !IsHtmlSpace(s_[q]) && s_[q] != '>') ++q;
                }
                p = q;
            }
            if (++*count > kMaxAttributes && dropExcess && !IsUrlAttribute(name))
                edits_.push_back({start, p, ""});
        }
        return p;
    }

    // The position of the end tag that closes a raw text element (script, style, ...).
    size_t RawTextEnd(size_t p, std::string_view name) const {
        std::string lower(name);
        for (char& c : lower) c = Lower(c);
        for (size_t lt = s_.find("</", p); lt != std::string_view::npos;
             lt = s_.find("</", lt + 1)) {
            const size_t after = lt + 2 + name.size();
            if (EqualsNoCase(s_.substr(lt + 2, name.size()), lower) &&
                (after >= s_.size() || IsHtmlSpace(s_[after]) || s_[after] == '>' ||
                 s_[after] == '/'))
                return lt;
        }
        return s_.size();
    }

    static int SiblingGroup(GumboTag tag) { return Tags()[tag] >> kGroupShift; }

    // The open element that the start tag closes, or npos. Only elements that the parser
    // passes over may stand above it (p or div above an li, cells above a tr, ...); otherwise
    // the estimate keeps one element too many open, which errs on the safe side.
    size_t ClosedSibling(GumboTag tag) const {
        const int group = SiblingGroup(tag);
        if (!group) return std::string_view::npos;
        for (size_t i = open_.size(); i > 0 && open_.size() - i < 4; --i) {
            const GumboTag above = open_[i - 1].tag;
            if (SiblingGroup(above) == group) return i - 1;
            bool passed = false;
            if (group == 1 || group == 2) {
                passed =
                    above == GUMBO_TAG_P || above == GUMBO_TAG_DIV || above == GUMBO_TAG_ADDRESS;
            } else if (group == 4 || group == 5) {
                passed = above == GUMBO_TAG_TD || above == GUMBO_TAG_TH ||
                         (group == 5 && above == GUMBO_TAG_TR);
            } else if (group == 7) {
                passed = above == GUMBO_TAG_OPTION;
            }
            if (!passed) break;
        }
        return std::string_view::npos;
    }

    void StartTag(size_t nameStart, size_t nameEnd, GumboTag tag, std::string_view name) {
        if (Is(tag, kVoid | kRawText | kPlainText)) return;
        const bool formatting = Is(tag, kFormatting);
        const size_t sibling = ClosedSibling(tag);
        if (sibling != std::string_view::npos) CloseTo(sibling);
        if (tag == GUMBO_TAG_A || tag == GUMBO_TAG_NOBR) {  // a new one closes the open one
            const size_t same = Find(formatting_, tag, name);
            if (same != std::string_view::npos) formatting_.erase(formatting_.begin() + same);
        }
        const bool replace = open_.size() + formatting_.size() >= kMaxDepth ||
                             (formatting && formatting_.size() >= kMaxFormatting);
        if (replace) edits_.push_back({nameStart, nameEnd, "wbr"});
        Open entry{tag, name, replace, open_.size()};
        (formatting ? formatting_ : open_).push_back(entry);
    }

    // An end tag from lt to tagEnd, its attributes from nameEnd to close: it closes its element
    // (and goes when that one's start tag became <wbr>); excess attributes go.
    void EndTag(size_t lt, size_t nameEnd, size_t close, size_t tagEnd, size_t count, GumboTag tag,
                std::string_view name) {
        const bool formatting = Is(tag, kFormatting);
        std::vector<Open>& stack = formatting ? formatting_ : open_;
        const size_t index = Find(stack, tag, name);
        bool replaced = false;
        if (index != std::string_view::npos) {
            replaced = stack[index].replaced;
            if (formatting) {
                formatting_.erase(formatting_.begin() + index);
            } else {
                CloseTo(index);
            }
        }
        if (replaced) {
            edits_.push_back({lt, tagEnd, ""});
        } else if (count > kMaxAttributes) {
            edits_.push_back({nameEnd, close, ""});
        }
    }

    std::string_view s_;
    std::vector<Open> open_;
    std::vector<Open> formatting_;
    std::vector<Replacement> edits_;
};

// ---- HTML walk ------------------------------------------------------------------------------

// Walks gumbo's tree in document order without recursion, gathering the attribute URLs (with
// the visible text's length where their element starts) and the visible text.
class HtmlWalk {
  public:
    struct Positioned {
        size_t at;  // offset in the visible text
        std::string url;
    };

    void Run(const GumboNode* document) {
        struct Frame {
            const GumboNode* node;
            unsigned next;
        };
        std::vector<Frame> stack{{document, 0}};
        while (!stack.empty()) {
            const GumboNode* node = stack.back().node;
            const GumboVector& children = node->type == GUMBO_NODE_DOCUMENT
                                              ? node->v.document.children
                                              : node->v.element.children;
            if (stack.back().next == children.length) {
                if (node->type != GUMBO_NODE_DOCUMENT) Leave(node);
                stack.pop_back();
                continue;
            }
            const auto* child = static_cast<const GumboNode*>(children.data[stack.back().next++]);
            switch (child->type) {
                case GUMBO_NODE_ELEMENT:
                case GUMBO_NODE_TEMPLATE:
                    Enter(child);
                    stack.push_back({child, 0});
                    break;
                case GUMBO_NODE_TEXT:
                case GUMBO_NODE_CDATA:
                case GUMBO_NODE_WHITESPACE:
                    if (!hidden_) {
                        text_ += child->v.text.text;
                    } else if (node->type == GUMBO_NODE_ELEMENT &&
                               node->v.element.tag == GUMBO_TAG_STYLE) {
                        CssUrls(child->v.text.text, [this](std::string_view v) { Add(v); });
                    }
                    break;
                default:
                    break;
            }
        }
    }

    std::string& text() { return text_; }
    std::vector<Positioned>& urls() { return urls_; }

  private:
    // A template node has the template tag.
    static uint16_t Flags(const GumboNode* element) { return Tags()[element->v.element.tag]; }

    void Separate() {
        if (!text_.empty() && !IsHtmlSpace(text_.back())) text_ += ' ';
    }

    void Add(std::string_view value) {
        std::string url = AttributeUrl(value);
        if (!url.empty()) urls_.push_back({text_.size(), std::move(url)});
    }

    void Enter(const GumboNode* element) {
        const uint16_t flags = Flags(element);
        if (flags & kBlock) Separate();
        if (flags & kHidden) ++hidden_;
        // The parser re-opens formatting elements as copies; their URLs were counted already.
        if (element->parse_flags & (GUMBO_INSERTION_RECONSTRUCTED_FORMATTING_ELEMENT |
                                    GUMBO_INSERTION_ADOPTION_AGENCY_CLONED))
            return;
        const GumboVector& attributes = element->v.element.attributes;
        bool refresh = false;
        for (unsigned i = 0; i < attributes.length; ++i) {
            const auto* a = static_cast<const GumboAttribute*>(attributes.data[i]);
            const std::string_view name(a->name), value(a->value);
            if (name == "srcset") {
                SrcsetUrls(value, [this](std::string_view v) { Add(v); });
            } else if (name == "style") {
                CssUrls(value, [this](std::string_view v) { Add(v); });
            } else if (name == "http-equiv") {
                refresh = EqualsNoCase(value, "refresh");
            } else if (IsPlainUrlAttribute(name)) {
                Add(value);
            }
        }
        if (refresh && element->v.element.tag == GUMBO_TAG_META) {
            if (const GumboAttribute* content = gumbo_get_attribute(&attributes, "content"))
                Add(RefreshUrl(content->value));
        }
    }

    void Leave(const GumboNode* element) {
        const uint16_t flags = Flags(element);
        if (flags & kBlock) Separate();
        if (flags & kHidden) --hidden_;
    }

    std::string text_;
    std::vector<Positioned> urls_;
    int hidden_ = 0;
};

}  // namespace

void FindTextUrls(std::string_view text, std::vector<std::string>* urls) {
    TextScanner(text).Run(
        [&](size_t start, size_t end) { urls->emplace_back(text.substr(start, end - start)); });
}

void FindHtmlUrls(std::string_view html, std::vector<std::string>* urls, std::string* visibleText) {
    std::string bounded;
    const std::string_view source = NestingBound(html).Apply(&bounded);
    GumboOptions options = kGumboDefaultOptions;
    options.max_errors = 0;  // the errors are not read
    GumboOutput* output = gumbo_parse_with_options(&options, source.data(), source.size());
    HtmlWalk walk;
    if (output) {
        walk.Run(output->document);
        gumbo_destroy_output(&options, output);
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

// The URL finder's last step (see url_tidy.h): hosts tidied, embedded redirect targets added,
// URLs broken by quoted-printable or quoted line breaks joined.
#include "host/url_tidy.h"

#include "host/public_suffix.h"
#include "host/url_finder_shared.h"
#include "host/url_text_scanner.h"

namespace host::url_finding {
namespace {

constexpr size_t npos = std::string::npos;
constexpr int kMaxDepth = 3;         // redirects within redirects
constexpr size_t kMaxEmbedded = 16;  // embedded URLs taken from one URL

// The host of a URL as FillParsedURL reads it: after "scheme://" and any "user@", up to the
// first "/", "?" or "#".
// The first "/", "?" or "#" from `from` on, or the URL's size.
size_t Separator(const std::string& url, size_t from) {
    for (size_t p = from; p < url.size(); ++p) {
        if (url[p] == '/' || url[p] == '?' || url[p] == '#') return p;
    }
    return url.size();
}

void FindHost(const std::string& url, size_t* start, size_t* end) {
    size_t separator = Separator(url, 0);
    *start = 0;
    if (separator > 0 && url[separator] == '/' && url[separator - 1] == ':' &&
        separator + 1 < url.size() && url[separator + 1] == '/') {
        *start = separator + 2;  // the first separator is the one of "scheme://"
        separator = Separator(url, *start);
    }
    *end = separator;
    for (size_t p = *end; p-- > *start;) {
        if (url[p] == '@') {
            *start = p + 1;
            break;
        }
    }
}

// The length of the space at url[p]: ASCII blanks and controls, NBSP and the other Unicode
// spaces; 0 for any other character.
size_t SpaceAt(const std::string& url, size_t p) {
    const auto c = static_cast<unsigned char>(url[p]);
    if (c <= 0x20) return 1;
    const auto at = [&](size_t i) { return p + i < url.size() ? url[p + i] : '\0'; };
    if (c == 0xC2 && at(1) == '\xA0') return 2;
    if (c == 0xE2 && at(1) == '\x80' &&
        (static_cast<unsigned char>(at(2)) <= 0x8B || at(2) == '\xAF'))
        return 3;
    if ((c == 0xE2 && at(1) == '\x81' && at(2) == '\x9F') ||
        (c == 0xE3 && at(1) == '\x80' && at(2) == '\x80') ||
        (c == 0xEF && at(1) == '\xBB' && at(2) == '\xBF') ||
        (c == 0xE1 && at(1) == '\x9A' && at(2) == '\x80'))
        return 3;
    return 0;
}

// Tidies the host of the URL in place (see url_tidy.h); false when no host is left.
bool TidyHost(std::string* url) {
    size_t start, end;
    FindHost(*url, &start, &end);
    for (size_t p = start; p < end; ++p) {
        if (SpaceAt(*url, p)) {  // what follows a space is text, not the URL
            url->resize(p);
            end = p;
            break;
        }
    }
    size_t cut = end;
    while (cut > start && IsOneOf((*url)[cut - 1], "._-,;:!'\"~")) --cut;
    // A last label of non-ASCII letters after an ASCII host name: text that runs on.
    const size_t dot = url->rfind('.', cut ? cut - 1 : 0);
    if (dot != npos && dot > start && dot + 1 < cut) {
        const std::string_view name(url->data() + start, dot - start);
        bool otherScript = true;
        for (size_t p = dot + 1; p < cut && otherScript; ++p)
            otherScript = static_cast<unsigned char>((*url)[p]) >= 0x80;
        for (size_t p = 0; p < name.size() && otherScript; ++p)
            otherScript = static_cast<unsigned char>(name[p]) < 0x80 && name[p] != ':';
        if (otherScript && PublicSuffixLabels(name)) cut = dot;
    }
    if (cut < end) url->erase(cut, end - cut);
    for (size_t p = start; p < cut; ++p)
        if (IsAlnum((*url)[p]) || static_cast<unsigned char>((*url)[p]) >= 0x80) return true;
    return false;
}

int HexValue(char c) {
    if (IsDigit(c)) return c - '0';
    c = AsciiToLower(c);
    return c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
}

std::string PercentDecoded(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (size_t p = 0; p < text.size(); ++p) {
        int high, low;
        if (text[p] == '%' && p + 2 < text.size() && (high = HexValue(text[p + 1])) >= 0 &&
            (low = HexValue(text[p + 2])) >= 0) {
            out += static_cast<char>(high * 16 + low);
            p += 2;
        } else {
            out += text[p];
        }
    }
    return out;
}

// The length of the scheme ("http", "https", "ftp") that starts the text, 0 for none.
size_t SchemeAt(std::string_view text) {
    for (std::string_view scheme : {"https", "http", "ftp"})
        if (StartsWithNoCase(text, scheme)) return scheme.size();
    return 0;
}

void Add(std::string url, int depth, std::vector<std::string>* urls);

// Adds the URLs that the path or query of url holds (a redirect's target), from `from` on.
void AddEmbedded(const std::string& url, size_t from, int depth, std::vector<std::string>* urls) {
    const size_t query = url.find('?');
    size_t found = 0;
    for (size_t p = from; p < url.size() && found < kMaxEmbedded; ++p) {
        const char c = AsciiToLower(url[p]);
        if (c != 'h' && c != 'f' && c != 'w') continue;
        const std::string_view rest(url.data() + p, url.size() - p);
        const size_t scheme = SchemeAt(rest);
        const bool plain = scheme && rest.compare(scheme, 3, "://") == 0;
        const bool encoded = scheme && (StartsWithNoCase(rest.substr(scheme), "%3a%2f%2f") ||
                                        StartsWithNoCase(rest.substr(scheme), "%253a%252f%252f"));
        const bool www = !scheme && p > 0 && url[p - 1] == '=' && StartsWithNoCase(rest, "www.");
        if (!plain && !encoded && !www) continue;
        // Within a query, a value ends at "&" (for a plain URL: unless its own query came first).
        size_t valueEnd = url.find('&', p);
        if (plain && (query == npos || query > p || url.find('?', p) < valueEnd)) valueEnd = npos;
        if (valueEnd == npos) valueEnd = url.size();
        std::string value = url.substr(p, valueEnd - p);
        for (int round = 0; round < 3 && encoded && value.compare(scheme, 1, "%") == 0; ++round)
            value = PercentDecoded(value);
        TextUrlScanner scanner(value, false);
        size_t start, end;
        if (!scanner.Next(&start, &end) || start != 0) continue;
        ++found;
        value.resize(end);
        // A plain target goes on from its end; its own targets are its own.
        p = plain ? p + end - 1 : valueEnd - 1;
        Add(std::move(value), depth + 1, urls);
    }
}

void Add(std::string url, int depth, std::vector<std::string>* urls) {
    if (!TidyHost(&url)) return;
    size_t start, end;
    FindHost(url, &start, &end);
    urls->push_back(std::move(url));
    if (depth < kMaxDepth) AddEmbedded(std::string(urls->back()), end, depth, urls);
}

// The length of the run of ASCII URL characters at text[p], with trailing punctuation dropped.
size_t UrlRun(std::string_view text, size_t p) {
    size_t q = p;
    while (q < text.size() && Has(text[q], kUrl)) ++q;
    while (q > p && Has(text[q - 1], kTrailing)) --q;
    return q - p;
}

// The position after the line break at p ("\n" or "\r\n"), npos when none is there.
size_t AfterBreak(std::string_view text, size_t p) {
    if (p < text.size() && text[p] == '\n') return p + 1;
    if (p + 1 < text.size() && text[p] == '\r' && text[p + 1] == '\n') return p + 2;
    return npos;
}

size_t LineStart(std::string_view text, size_t p) {
    const size_t nl = p ? text.rfind('\n', p - 1) : npos;
    return nl == npos ? 0 : nl + 1;
}

}  // namespace

void AddUrl(std::string url, std::vector<std::string>* urls) {
    Add(std::move(url), 0, urls);
}

size_t JoinBrokenUrl(std::string_view text, size_t start, size_t end, std::string* joined) {
    // A quoted-printable soft break: "=" and a line break, just after the URL's end or as its
    // last character; or a plain line break right after the URL. Without either there is
    // nothing to join, and the line's start is not looked for (a URL that ends a line is the
    // only one whose search walks back over that line, so the searches stay linear).
    size_t eq = end < text.size() && text[end] == '=' ? end : end - 1;
    const bool softBreak = text[eq] == '=' && AfterBreak(text, eq + 1) != npos;
    if (!softBreak && AfterBreak(text, end) == npos) return end;
    const size_t line = LineStart(text, start);
    if (softBreak && eq + 1 - line >= 70) {
        std::string url(text.substr(start, eq - start));
        size_t next = AfterBreak(text, eq + 1);
        size_t runEnd = end;
        for (;;) {
            size_t run = next;
            while (run < text.size() && Has(text[run], kUrl)) ++run;
            if (run == next) break;
            const size_t after = AfterBreak(text, run);
            if (text[run - 1] == '=' && after != npos && run - next >= 70) {
                url.append(text, next, run - 1 - next);
                runEnd = run;
                next = after;
                continue;
            }
            const size_t length = UrlRun(text, next);
            url.append(text, next, length);
            runEnd = next + length;
            break;
        }
        if (runEnd == end) return end;
        *joined = std::move(url);
        return runEnd;
    }
    const size_t next = AfterBreak(text, end);
    if (next == npos || text[line] != '>' || end - line < 60) return end;
    size_t prefix = line;
    while (prefix < end && (text[prefix] == '>' || text[prefix] == ' ')) ++prefix;
    const std::string_view url = text.substr(start, end - start);
    const size_t host = url.find("://");
    if (url.find('/', host == npos ? 0 : host + 3) == npos) return end;  // no path yet
    if (text.compare(next, prefix - line, text, line, prefix - line) != 0) return end;
    const size_t go = next + (prefix - line), length = UrlRun(text, go);
    const std::string_view run = text.substr(go, length);
    if (!length || run.find_first_of("/?=&%#") == npos) return end;
    joined->assign(url).append(run);
    return go + length;
}

}  // namespace host::url_finding

// The HTML walk (see html_walk.h): the characters libxml2 needs cleaned, the URLs of attribute
// values (plain, srcset, style, meta refresh) and the SAX handlers that gather them with the
// visible text.
#include "host/html_walk.h"

#include <libxml/HTMLparser.h>
#include <libxml/parserInternals.h>
#include <unicode/utf8.h>

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstring>
#include <mutex>

#include "host/url_finder_shared.h"
#include "host/url_text_scanner.h"

namespace host::url_finding {
namespace {

// ---- Attribute values -----------------------------------------------------------------------

// The URL text of an attribute value, or "" when it holds no absolute URL with a host. Leading
// and trailing spaces and controls go, and so do tabs anywhere and line breaks with the blanks
// around them (the value was folded).
std::string AttributeUrl(std::string_view value) {
    while (!value.empty() && static_cast<unsigned char>(value.front()) <= 0x20)
        value.remove_prefix(1);
    while (!value.empty() && static_cast<unsigned char>(value.back()) <= 0x20)
        value.remove_suffix(1);
    std::string v;
    v.reserve(value.size());
    size_t kept = 0;  // value[kept, p) is to be copied
    for (size_t p = 0; p < value.size(); ++p) {
        if (value[p] == '\n' || value[p] == '\r') {
            // A line break folds the value: the indentation around it goes too.
            size_t before = p;
            while (before > kept && (value[before - 1] == ' ' || value[before - 1] == '\t'))
                --before;
            v.append(value, kept, before - kept);
            while (p + 1 < value.size() && IsHtmlSpace(value[p + 1])) ++p;
            kept = p + 1;
        } else if (value[p] == '\t') {
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

// ---- Walk -----------------------------------------------------------------------------------

constexpr size_t kMaxDepth = 256;
// The work on the stack of open elements that a parse may do before it runs again flat: each
// end tag that closes nothing, each misplaced <body> and each end tag blocked by a table costs
// libxml2 a comparison per open element and a markup error, where the walk counts it.
constexpr size_t kMaxStackWorkPerByte = 4;
constexpr size_t kMaxStackWorkBase = 1 << 20;

// Parses a document with libxml2's HTML parser and gathers, from its events, the attribute URLs
// (with the visible text's length where their element starts) and the visible text. The parse
// stops when more than kMaxDepth elements are open or the errors tell of too much work on them.
class HtmlWalk {
  public:
    explicit HtmlWalk(HtmlContent* content) : m_content(content) {}

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
        m_ctxt = ctxt;
        m_maxStackWork = kMaxStackWorkBase + kMaxStackWorkPerByte * html.size();
        // No implied html, body and p elements; the input is UTF-8 whatever a meta says.
        htmlCtxtUseOptions(ctxt, HTML_PARSE_RECOVER | HTML_PARSE_NOERROR | HTML_PARSE_NOWARNING |
                                     HTML_PARSE_NONET | HTML_PARSE_NOIMPLIED |
                                     HTML_PARSE_IGNORE_ENC);
        xmlSwitchEncoding(ctxt, XML_CHAR_ENCODING_UTF8);
        htmlParseDocument(ctxt);
        ctxt->sax = own;
        htmlFreeParserCtxt(ctxt);
        m_ctxt = nullptr;
        if (m_inStyle) EndStyle();
        if (m_inScript) EndScript();
        return !m_stopped;
    }

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
        if (!m_content->text.empty() && !IsHtmlSpace(m_content->text.back()))
            m_content->text += ' ';
    }

    void Add(std::string_view value) {
        std::string url = AttributeUrl(value);
        if (!url.empty()) m_content->urls.push_back({m_content->text.size(), std::move(url)});
    }

    // The URLs with a scheme or a www. host in a handler (an on... attribute) or a javascript:
    // link: "window.open('http://...')".
    void ScriptUrls(std::string_view script) {
        TextUrlScanner scanner(script, false);
        for (size_t start, end; scanner.Next(&start, &end);) Add(script.substr(start, end - start));
    }

    // The URLs that a script element navigates to: those that start within a few characters
    // after "location" (window.location=, location.href=, location.replace(...)) or "open("
    // (window.open(...)). Other URLs in a script are data, often markup it writes.
    void NavigationUrls(std::string_view script) {
        constexpr size_t kNear = 16;  // room for ".href", "=", spaces and a quote
        for (std::string_view trigger : {"location", "open("}) {
            for (size_t t = script.find(trigger); t != std::string_view::npos;
                 t = script.find(trigger, t + 1)) {
                const std::string_view after = script.substr(t + trigger.size());
                TextUrlScanner scanner(after.substr(0, kNear + 2048), false);
                size_t start, end;
                if (scanner.Next(&start, &end) && start <= kNear)
                    Add(after.substr(start, end - start));
            }
        }
    }

    void Stop() {
        m_stopped = true;
        xmlStopParser(m_ctxt);
    }

    void Error() {
        if (m_stopped) return;
        m_stackWork += static_cast<size_t>(m_ctxt->nameNr);
        if (m_stackWork > m_maxStackWork) Stop();
    }

    // libxml2 gives element and attribute names in lower case.
    void Enter(std::string_view name, const xmlChar** attributes) {
        if (m_stopped) return;
        if (static_cast<size_t>(m_ctxt->nameNr) > kMaxDepth) {
            Stop();
            return;
        }
        const uint8_t flags = TagFlagsOf(name);
        if (flags & kBlock) Separate();
        if (flags & kHidden) ++m_hidden;
        if (name == "style") m_inStyle = true;
        if (name == "script") m_inScript = true;
        auto add = [this](std::string_view v) { Add(v); };
        bool refresh = false;
        std::string_view content;
        for (const xmlChar** a = attributes; a && a[0]; a += 2) {
            if (!a[1]) continue;
            const std::string_view value = Text(a[1]);
            switch (Lookup(kAttributes, Text(a[0]))) {
                case AttributeKind::kUrl:
                    if (StartsWithNoCase(value, "javascript:"))
                        ScriptUrls(value);
                    else
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
                    if (StartsWithNoCase(Text(a[0]), "on")) ScriptUrls(value);  // a handler
                    break;
            }
        }
        if (refresh && name == "meta") Add(RefreshUrl(content));
    }

    void Leave(std::string_view name) {
        if (m_stopped) return;
        const uint8_t flags = TagFlagsOf(name);
        if (flags & kBlock) Separate();
        if ((flags & kHidden) && m_hidden) --m_hidden;
        if (m_inStyle && name == "style") EndStyle();
        if (m_inScript && name == "script") EndScript();
    }

    void Characters(const xmlChar* chars, int length) {
        if (!m_stopped && !m_hidden)
            m_content->text.append(reinterpret_cast<const char*>(chars), length);
    }

    void RawText(const xmlChar* chars, int length) {
        if (m_stopped) return;
        if (m_inStyle) m_style.append(reinterpret_cast<const char*>(chars), length);
        if (m_inScript) m_script.append(reinterpret_cast<const char*>(chars), length);
    }

    // A script's URLs stand where its element starts, which is where the text stands.
    void EndScript() {
        NavigationUrls(m_script);
        m_script.clear();
        m_inScript = false;
    }

    // A style sheet's URLs stand where its element starts, which is where the text stands.
    void EndStyle() {
        CssUrls(m_style, [this](std::string_view v) { Add(v); });
        m_style.clear();
        m_inStyle = false;
    }

    HtmlContent* m_content;
    htmlParserCtxtPtr m_ctxt = nullptr;
    std::string m_style;  // the text of the open style element
    bool m_inStyle = false;
    std::string m_script;  // the text of the open script element
    bool m_inScript = false;
    int m_hidden = 0;
    size_t m_stackWork = 0;
    size_t m_maxStackWork = 0;
    bool m_stopped = false;
};

}  // namespace

// ---- Characters for libxml2 -----------------------------------------------------------------
// libxml2's HTML parser ends the document at a NUL byte, reads the rest of the document as
// Latin-1 after an invalid UTF-8 sequence and drops control characters. So NUL bytes, invalid
// sequences, surrogates and U+FFFE/U+FFFF become U+FFFD, and the other control characters but
// tab and line breaks become spaces (in text both end a URL, like the control character).
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

bool WalkHtml(std::string_view html, HtmlContent* content) {
    return HtmlWalk(content).Parse(html);
}

}  // namespace host::url_finding

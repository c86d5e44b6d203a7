// The tag pre-scan (see html_tag_scan.h): one pass over the markup as libxml2 reads it, editing
// a copy of the document only where a tag has to change.
#include "host/html_tag_scan.h"

#include <libxml/parserInternals.h>
#include <unicode/utf8.h>

#include <cstdint>

#include "host/url_finder_shared.h"

namespace host::url_finding {
namespace {

constexpr size_t kMaxAttributes = 256;
constexpr size_t kMaxTemplates = 64;    // in the flat form, open templates kept as elements
constexpr size_t kMaxNameLength = 100;  // libxml2 reads a longer name as several

class TagScan {
  public:
    TagScan(std::string_view html, bool flat) : m_html(html), m_size(html.size()), m_flat(flat) {}

    // The document to parse: the input itself, or *copy (empty on entry) when tags changed.
    std::string_view Apply(std::string* copy) {
        m_copy = copy;
        Scan();
        if (!m_copying) return m_html;
        copy->append(m_html.data() + m_copied, m_size - m_copied);
        return *copy;
    }

  private:
    static constexpr size_t npos = std::string_view::npos;

    // Replaces the input from begin to end with the text; edits come in the input's order.
    void Edit(size_t begin, size_t end, const char* text) {
        if (!m_copying) m_copy->reserve(m_size + 64), m_copying = true;
        m_copy->append(m_html.data() + m_copied, begin - m_copied).append(text);
        m_copied = end;
    }

    static bool IsBlank(unsigned char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }
    bool At(size_t p, char c) const { return p < m_size && m_html[p] == c; }
    bool TagEndsAt(size_t p) const { return At(p, '>') || (At(p, '/') && At(p + 1, '>')); }

    size_t SkipBlanks(size_t p) const {
        while (p < m_size && IsBlank(m_html[p])) ++p;
        return p;
    }

    // The position after the next ">" from p, or the end.
    size_t PastGreater(size_t p) const {
        const size_t gt = m_html.find('>', p);
        return gt == npos ? m_size : gt + 1;
    }

    // The end of the tag or attribute name at p, p when there is none.
    size_t NameEnd(size_t p) const {
        if (p >= m_size || !(IsAsciiAlpha(m_html[p]) || IsOneOf(m_html[p], "_:."))) return p;
        size_t q = p + 1;
        while (q < m_size && q - p < kMaxNameLength &&
               (IsAlnum(m_html[q]) || IsOneOf(m_html[q], ":-_.")))
            ++q;
        return q;
    }

    // The end of a quoted literal at p (the end of the input when unclosed), p for none.
    size_t LiteralEnd(size_t p) const {
        if (!At(p, '"') && !At(p, '\'')) return p;
        const size_t close = m_html.find(m_html[p], p + 1);
        return close == npos ? m_size : close + 1;
    }

    // True when a processing instruction's target starts at p (a letter, "_" or ":").
    bool PiTargetAt(size_t p) const {
        if (p >= m_size) return false;
        const auto c = static_cast<unsigned char>(m_html[p]);
        if (c < 0x80) return IsAsciiAlpha(c) || c == '_' || c == ':';
        UChar32 cp;
        U8_NEXT(reinterpret_cast<const uint8_t*>(m_html.data()), p, m_size, cp);
        return cp >= 0 && xmlIsLetter(cp) != 0;
    }

    void Scan() {
        size_t pos = 0;
        bool doctype = false;
        while (pos < m_size) {
            const size_t lt = m_html.find('<', pos);
            if (lt == npos || lt + 1 >= m_size) break;
            for (size_t p = pos; m_prolog && p < lt; ++p) m_prolog = IsBlank(m_html[p]);
            const char next = m_html[lt + 1];
            if (next == '!' && m_html.compare(lt + 2, 2, "--") == 0) {
                pos = CommentEnd(lt + 4);
                continue;
            }
            if (next == '!' && At(lt + 2, '[') &&
                (StartsWithNoCase(m_html.substr(lt + 3), "if") ||
                 StartsWithNoCase(m_html.substr(lt + 3), "endif"))) {
                // An Office conditional marker ("<![if !supportLists]>", "<![endif]>"), which
                // libxml2 reads as text: a comment, as mail clients take it.
                const size_t close = m_html.find("]>", lt + 3);
                if (close != npos) {
                    Edit(lt, close + 2, "<!---->");
                    pos = close + 2;
                    continue;
                }
            }
            if (next == '?') {
                // "<?" without a target is dropped, the rest is text.
                pos = PiTargetAt(lt + 2) ? PastGreater(lt + 2) : lt + 2;
                continue;
            }
            if (next == '/') {
                pos = EndTag(lt);
            } else if (next == '!' && StartsWithNoCase(m_html.substr(lt + 2), "doctype")) {
                pos = Doctype(lt + 9);
                // A doctype within the content: libxml2 reads a "</" or "<!DOCTYPE" right
                // after it with its "<" as text.
                if (!m_prolog || doctype) {
                    if (At(pos, '<') &&
                        (At(pos + 1, '/') || StartsWithNoCase(m_html.substr(pos + 1), "!doctype")))
                        ++pos;
                    m_prolog = false;
                }
                doctype = true;
                continue;
            } else if (IsAsciiAlpha(next)) {
                pos = StartTag(lt);
            } else {
                pos = lt + 1;  // "<" in text
            }
            m_prolog = false;
        }
    }

    // The end of a comment from after "<!--": after "-->" or "--!>", or the end of the input.
    size_t CommentEnd(size_t p) const {
        for (size_t dashes = m_html.find("--", p); dashes != npos;
             dashes = m_html.find("--", dashes + 1)) {
            if (At(dashes + 2, '>')) return dashes + 3;
            if (At(dashes + 2, '!') && At(dashes + 3, '>')) return dashes + 4;
        }
        return m_size;
    }

    // A doctype from after "<!DOCTYPE": a name, then public and system literals, which may
    // hold ">", then anything up to ">".
    size_t Doctype(size_t p) const {
        p = SkipBlanks(p);
        if (p < m_size && (IsAsciiAlpha(m_html[p]) || IsOneOf(m_html[p], "_:")))
            while (p < m_size &&
                   (IsAlnum(m_html[p]) || IsOneOf(m_html[p], "_:.-") || m_html[p] & 0x80))
                ++p;
        p = SkipBlanks(p);
        const bool system = StartsWithNoCase(m_html.substr(p), "system");
        if (system || StartsWithNoCase(m_html.substr(p), "public")) {
            p = LiteralEnd(SkipBlanks(p + 6));
            if (!system) p = LiteralEnd(SkipBlanks(p));
        }
        return PastGreater(p);
    }

    size_t EndTag(size_t lt) {
        const size_t nameEnd = NameEnd(lt + 2);
        if (nameEnd == lt + 2) return lt + 2;  // "</" without a name is dropped
        const size_t end = PastGreater(nameEnd);
        if (m_flat) {
            const std::string_view name = m_html.substr(lt + 2, nameEnd - lt - 2);
            const uint8_t flags = TagFlagsOf(name);
            if (flags & kBlock) {
                Edit(lt, end, "<br>");
            } else if (m_templates && EqualsNoCase(name, "template")) {
                --m_templates;
            } else if (!(flags & kRawText) && !m_prolog) {
                // Nothing that it could close is open; an empty comment joins no "<" and name
                // (and would not end the prolog).
                Edit(lt, end, "<!---->");
            }
        }
        return end;
    }

    size_t StartTag(size_t lt) {
        const size_t nameEnd = NameEnd(lt + 1);
        const std::string_view name = m_html.substr(lt + 1, nameEnd - lt - 1);
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
        if (p >= m_size) return m_size;
        if (m_html[p] == '/') return p + 2;  // "/>": an element without content
        if (m_flat) {
            const bool keep = (flags & kRawText) ||
                              (m_templates < kMaxTemplates && EqualsNoCase(name, "template"));
            if (!keep) {
                Edit(p, p + 1, " />");
            } else if (!(flags & kRawText)) {
                ++m_templates;
            }
        }
        if (!(flags & kRawText)) return p + 1;
        return RawTextEnd(p + 1, EqualsNoCase(name, "style") ? "style" : "script");
    }

    bool IsUrlAttribute(size_t nameStart, size_t nameEnd) const {
        return Lookup(kAttributes, m_html.substr(nameStart, nameEnd - nameStart)) !=
               AttributeKind::kNone;
    }

    // Calls visit(start, nameEnd, end) for each attribute of a start tag from p; returns where
    // the tag ends: at its ">" or "/>", or at the end of the input.
    template <class Visit>
    size_t ForEachAttribute(size_t p, Visit&& visit) const {
        p = SkipBlanks(p);
        while (p < m_size && !TagEndsAt(p)) {
            const size_t start = p, nameEnd = NameEnd(p);
            if (nameEnd == p) {  // not a name: skipped up to a blank or the tag's end
                while (p < m_size && !IsBlank(m_html[p]) && !TagEndsAt(p)) ++p;
            } else {
                size_t end = nameEnd;
                p = SkipBlanks(nameEnd);
                if (At(p, '=')) {
                    p = SkipBlanks(p + 1);
                    end = LiteralEnd(p);
                    if (end == p)
                        while (end < m_size && !IsBlank(m_html[end]) && m_html[end] != '>') ++end;
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
        if (At(p, '<') && (At(p + 1, '/') || (p + 1 < m_size && IsAsciiAlpha(m_html[p + 1]))))
            Edit(p, p, " ");
        for (size_t lt = m_html.find("</", p); lt != npos; lt = m_html.find("</", lt + 2)) {
            if (!EqualsNoCase(m_html.substr(lt + 2, name.size()), name)) continue;
            if (NameEnd(lt + 2) == lt + 2 + name.size()) return lt;
            Edit(lt, lt + 2, "< /");
        }
        return m_size;
    }

    std::string_view m_html;
    size_t m_size;
    bool m_flat;
    size_t m_templates = 0;  // open template elements kept in the flat form
    // Before any content: only blanks, comments, processing instructions and one doctype.
    bool m_prolog = true;
    std::string* m_copy = nullptr;
    bool m_copying = false;
    size_t m_copied = 0;  // the input up to here is in *m_copy (once m_copying)
};

}  // namespace

std::string_view ScanTags(std::string_view html, bool flat, std::string* copy) {
    return TagScan(html, flat).Apply(copy);
}

}  // namespace host::url_finding

// PlainParts: the boundaries are followed as in deep_parts (a line is a boundary of an open
// multipart when it is "--" and the boundary, or that and "--", followed by nothing but white
// space; the innermost multipart with that boundary wins). GMime reads a part's content up to
// the boundary line that ends it, less the line break before that line: two bytes when the
// boundary line ends in CR LF, else one. A part is only taken when its content ends in the same
// line break, so that both readings agree.
#include "host/plain_parts.h"

#include <algorithm>
#include <cstring>
#include <unordered_map>
#include <utility>

#include "common/ascii.h"
#include "host/deep_parts.h"

namespace host {

namespace {

using ascommon::EqualsNoCase;
using ascommon::StartsWithNoCase;

bool IsCharsetChar(char c) {
    return ascommon::IsAsciiAlpha(static_cast<unsigned char>(c)) || (c >= '0' && c <= '9') ||
           c == '-' || c == '_' || c == '.' || c == ':';
}

// Reads a simple text Content-Type value: "text/plain" or "text/html" in any case, then at most
// "; charset=" and a token, plain or quoted, with blanks around. False for any other value.
bool SimpleTextType(std::string_view value, PlainPart* part) {
    size_t i = 0;
    const auto blanks = [&] {
        while (i < value.size() && ascommon::IsAsciiBlank(value[i])) ++i;
    };
    blanks();
    if (StartsWithNoCase(value.substr(i), "text/plain")) {
        i += 10;
    } else if (StartsWithNoCase(value.substr(i), "text/html")) {
        part->html = true;
        i += 9;
    } else {
        return false;
    }
    blanks();
    if (i == value.size()) return true;
    if (value[i] != ';') return false;
    ++i;
    blanks();
    if (!StartsWithNoCase(value.substr(i), "charset=")) return false;
    i += 8;
    const bool quoted = i < value.size() && value[i] == '"';
    if (quoted) ++i;
    const size_t begin = i;
    while (i < value.size() && IsCharsetChar(value[i])) ++i;
    if (i == begin) return false;
    part->charset.assign(value.substr(begin, i - begin));
    part->hasCharset = true;
    if (quoted && (i == value.size() || value[i++] != '"')) return false;
    blanks();
    return i == value.size();
}

// Enclosed messages followed at most; GMime stops at 1,024 levels of parts and messages.
constexpr size_t kMaxMessages = 512;

// True for a Content-Type value (leading blanks dropped) that GMime parses as an enclosed
// message: message/rfc822, rfc2822, global or news.
bool IsEnclosedMessage(std::string_view type) {
    if (!StartsWithNoCase(type, "message/")) return false;
    size_t end = 8;
    while (end < type.size() && type[end] != ';' && !ascommon::IsAsciiBlank(type[end])) ++end;
    const std::string_view subtype = type.substr(8, end - 8);
    for (std::string_view name : {"rfc822", "rfc2822", "global", "news"}) {
        if (EqualsNoCase(subtype, name)) return true;
    }
    return false;
}

// A character of a MIME token (type and subtype names).
bool IsTokenChar(char c) {
    return c > ' ' && c < 0x7F && std::strchr("()<>@,;:\\\"/[]?=", c) == nullptr;
}

std::string Lower(std::string_view text) {
    std::string out(text);
    ascommon::AsciiLowerInPlace(out);
    return out;
}

// A line without its line break.
std::string_view Unterminated(std::string_view line) {
    if (!line.empty() && line.back() == '\n') line.remove_suffix(1);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    return line;
}

class Collapser {
  public:
    Collapser(std::string_view text, const std::string& marker, const std::string& fieldMarker,
              size_t maxFields, std::vector<TakenRun>* fieldRuns)
        : m_text(text),
          m_marker(marker),
          m_fieldMarker(fieldMarker),
          m_maxFields(maxFields),
          m_fieldRuns(fieldRuns),
          m_fieldRunsBefore(fieldRuns->size()) {}

    // Follows the whole text; false when it cannot be followed the way GMime reads it.
    bool Follow() {
        size_t at = 0;
        while (at < m_text.size()) {
            const size_t newline = m_text.find('\n', at);
            const size_t end = newline == std::string_view::npos ? m_text.size() : newline + 1;
            if (!Line(at, end)) return false;
            at = end;
        }
        Flush();
        return true;
    }

    // True when the text has enough plain parts or a header block worth collapsing.
    bool TookAny() const {
        return m_plainParts >= kMinPlainParts || m_fieldRuns->size() > m_fieldRunsBefore;
    }

    // Drops the field runs noted.
    void Forget() { m_fieldRuns->resize(m_fieldRunsBefore); }

    // The text with each run of parts and each collapsed header block replaced.
    std::string Collapsed() {
        std::sort(m_spans.begin(), m_spans.end(),
                  [](const Span& a, const Span& b) { return a.begin < b.begin; });
        std::string out;
        size_t copied = 0;
        for (const Span& span : m_spans) {
            out.append(m_text, copied, span.begin - copied);
            out += span.text;
            copied = span.end;
        }
        out.append(m_text, copied, std::string_view::npos);
        return out;
    }

    std::vector<std::vector<PlainPart>>& runs() { return m_runs; }

  private:
    bool Line(size_t at, size_t end) {
        const std::string_view line = m_text.substr(at, end - at);
        const bool messageStart = std::exchange(m_messageStart, false);
        std::string_view bare = line;
        while (!bare.empty() &&
               (bare.back() == '\n' || bare.back() == '\r' || ascommon::IsAsciiBlank(bare.back())))
            bare.remove_suffix(1);
        if (bare.size() > 2 && bare[0] == '-' && bare[1] == '-') {
            bool last = false;
            auto found = m_index.find(std::string(bare.substr(2)));
            if (found == m_index.end() && bare.size() > 4 && bare.substr(bare.size() - 2) == "--") {
                found = m_index.find(std::string(bare.substr(2, bare.size() - 4)));
                last = true;
            }
            if (found != m_index.end()) {
                // At the start of an enclosed message the message is empty. In a part's header
                // block GMime takes it for an invalid header line while the block has no field,
                // and else ends the part there, without content.
                if (m_inHeaders && !messageStart) {
                    if (!m_inPart || !EndField()) return false;
                    if (!m_blockHasField) {
                        m_candidate = false;
                        m_fieldBegin = at;
                        m_fieldEnd = end;
                        return true;
                    }
                    if (!EndWithoutContent(at)) return false;
                }
                m_inHeaders = false;
                m_inMessage = false;
                Boundary(found->second.back(), last, at, end);
                return true;
            }
        }
        if (!m_inHeaders) return true;
        if (line == "\n" || line == "\r\n") return EndHeaders(at, end);
        if (ascommon::IsAsciiBlank(line[0])) {
            if (m_fieldBegin == m_fieldEnd) m_candidate = false;  // GMime: an invalid line
            m_fieldEnd = end;
            return true;
        }
        if (!EndField()) return false;
        m_fieldBegin = at;
        m_fieldEnd = end;
        return true;
    }

    // A boundary line of the j-th open multipart at [at, end).
    void Boundary(size_t j, bool last, size_t at, size_t end) {
        const std::string_view line = m_text.substr(at, end - at);
        const bool crlf = line.size() >= 2 && line.substr(line.size() - 2) == "\r\n";
        const size_t content = at - m_part.contentBegin;
        const size_t lineBreak = crlf ? 2 : 1;
        const bool plain =
            m_inPart && m_candidate && j == m_parent && line.back() == '\n' &&
            (content == 0 || (content >= lineBreak &&
                              m_text.substr(at - lineBreak, lineBreak) == (crlf ? "\r\n" : "\n")));
        if (plain) {
            m_part.contentSize = content == 0 ? 0 : content - lineBreak;
            if (m_run.empty()) m_runBegin = m_partBegin;
            m_run.push_back(std::move(m_part));
            m_runEnd = at;
        } else {
            Flush();
        }
        Close(last ? j : j + 1);
        m_inPart = !last;
        if (last) {
            Flush();
            return;
        }
        StartPart(j, end);
    }

    void StartPart(size_t parent, size_t begin) {
        m_inPart = true;
        m_inHeaders = true;
        m_parent = parent;
        m_partBegin = begin;
        m_fieldBegin = m_fieldEnd = begin;
        m_candidate = true;
        m_contentTypes = 0;
        m_contentType.clear();
        m_transferEncoding = false;
        m_blockHasField = false;
        m_part = PlainPart();
    }

    // Closes the multiparts from the n-th on.
    void Close(size_t n) {
        while (m_multiparts.size() > n) {
            std::vector<size_t>& at = m_index[m_multiparts.back()];
            at.pop_back();
            if (at.empty()) m_index.erase(m_multiparts.back());
            m_multiparts.pop_back();
            m_digests.pop_back();
        }
    }

    // Ends the field at [m_fieldBegin, m_fieldEnd): notes a Content-Type, and for a part that may
    // be plain, its other fields. False when a Content-Type is written in a way deep_parts misses.
    bool EndField() {
        if (m_fieldBegin == m_fieldEnd) return true;
        const std::string_view field = m_text.substr(m_fieldBegin, m_fieldEnd - m_fieldBegin);
        m_fieldBegin = m_fieldEnd;
        if (!GMimeFieldName(field).empty()) m_blockHasField = true;
        const size_t colon = field.find(':');
        std::string_view name = field.substr(0, colon == std::string_view::npos ? 0 : colon);
        while (!name.empty() && ascommon::IsAsciiBlank(name.back())) name.remove_suffix(1);
        if (EqualsNoCase(name, "content-transfer-encoding")) m_transferEncoding = true;
        if (EqualsNoCase(name, "content-type")) {
            ++m_contentTypes;
            m_contentType.clear();
            size_t at = 0;
            while (at < field.size()) {
                size_t end = field.find('\n', at);
                end = end == std::string_view::npos ? field.size() : end + 1;
                std::string_view line = field.substr(at, end - at);
                if (at == 0) line.remove_prefix(colon + 1);
                m_contentType += Unterminated(line);
                at = end;
            }
            if (m_candidate &&
                (field.find('\n') + 1 != field.size() || !SimpleTextType(m_contentType, &m_part))) {
                m_candidate = false;
            }
            return true;
        }
        if (!m_candidate) return true;
        const size_t plainColon = PlainFieldColon(field);
        if (plainColon == 0 || m_part.fields.size() + 1 >= kMaxPlainPartFields) {
            m_candidate = false;
            return true;
        }
        const std::string_view fieldName = field.substr(0, plainColon);
        for (const auto& known : m_part.fields) {
            if (EqualsLower(known.first, fieldName)) {  // GMime reports a repeated field
                m_candidate = false;
                return true;
            }
        }
        m_part.fields.emplace_back(std::string(fieldName),
                                   UnfoldPlainValue(field.substr(plainColon + 1)));
        return true;
    }

    static bool EqualsLower(std::string_view a, std::string_view b) {
        if (a.size() != b.size()) return false;
        for (size_t i = 0; i < a.size(); ++i) {
            if (ascommon::AsciiToLower(a[i]) != ascommon::AsciiToLower(b[i])) return false;
        }
        return true;
    }

    // The empty line [at, end) at the end of a header block.
    // The type GMime gives the block, as a Content-Type value without leading blanks (a part
    // of a digest without one is an enclosed message); false when GMime alone reads it: a
    // comment in a multipart or message type, a digest part's type that is not type/subtype.
    bool BlockType(std::string_view* type) const {
        *type = m_contentType;
        while (!type->empty() && ascommon::IsAsciiBlank((*type)[0])) type->remove_prefix(1);
        if (type->find('(') != std::string_view::npos) {
            const std::string lower = Lower(*type);
            if (lower.find("multipart") != std::string::npos ||
                lower.find("message") != std::string::npos)
                return false;
        }
        if (!m_inPart || !m_digests[m_parent]) return true;
        if (m_contentTypes == 0) {
            *type = "message/rfc822";
            return true;
        }
        const size_t slash = type->find('/');
        return slash != 0 && slash != std::string_view::npos && slash + 1 < type->size() &&
               IsTokenChar((*type)[slash + 1]) &&
               std::all_of(type->begin(), type->begin() + slash, IsTokenChar);
    }

    // A boundary at `at` ends the header block of the part being read: the part has no content
    // (a multipart is closed by that boundary as soon as it opens, an enclosed message is empty).
    bool EndWithoutContent(size_t at) {
        std::string_view type;
        if (!BlockType(&type)) return false;
        m_candidate = false;
        CollapseBlock(m_partBegin, at, true);
        return true;
    }

    // Opens the multipart the block declares, if any; false for a boundary that deep_parts'
    // reading of boundary lines cannot tell apart (ending in "-" or a blank).
    bool OpenMultipart(std::string_view type) {
        const std::string boundary = MultipartBoundary(m_contentType);
        if (boundary.empty()) return true;
        const char tail = boundary.back();
        if (tail == '-' || ascommon::IsAsciiBlank(tail)) return false;
        m_candidate = false;
        m_index[boundary].push_back(m_multiparts.size());
        m_multiparts.push_back(boundary);
        m_digests.push_back(StartsWithNoCase(type, "multipart/digest"));
        return true;
    }

    bool EndHeaders(size_t at, size_t end) {
        if (!EndField()) return false;
        m_inHeaders = false;
        std::string_view type;
        if (!BlockType(&type)) return false;
        if (IsEnclosedMessage(type)) {
            // GMime reads an encoded one as a leaf, and stops at its nesting limit.
            if (m_transferEncoding || ++m_messages > kMaxMessages) return false;
            if (m_inPart) CollapseBlock(m_partBegin, at, true);
            if (m_inMessage) CollapseBlock(m_blockBegin, at, false);
            EnterMessage(end);
            return true;
        }
        if (!OpenMultipart(type)) return false;
        if (!m_inPart) {
            // An enclosed message's own block reads like the message's: only the fields that
            // repeat a single-use name are reported, and those are never taken.
            if (m_inMessage) CollapseBlock(m_blockBegin, at, false);
            m_inMessage = false;
            return true;
        }
        if (m_contentTypes != 1) m_candidate = false;
        m_part.contentBegin = end;
        if (!m_candidate) CollapseBlock(m_partBegin, at, true);
        return true;
    }

    // Collapses the fields of the header block [begin, end) when it holds enough of them.
    void CollapseBlock(size_t begin, size_t end, bool part) {
        const std::string_view block = m_text.substr(begin, end - begin);
        if (CountTakenFields(block) < kMinTakenFields) return;
        Span& span = m_spans.emplace_back();
        span.begin = begin;
        span.end = end;
        // What the blocks keep counts against one cap for the message.
        m_maxFields -=
            CollapseFieldBlock(block, part, m_fieldMarker, m_maxFields, &span.text, m_fieldRuns);
    }

    // The content of an enclosed message part starts at `begin`: the message's header block,
    // unless a boundary comes first (an empty message).
    void EnterMessage(size_t begin) {
        m_inPart = false;
        m_inMessage = true;
        m_inHeaders = true;
        m_messageStart = true;
        m_blockBegin = begin;
        m_fieldBegin = m_fieldEnd = begin;
        m_contentTypes = 0;
        m_contentType.clear();
        m_transferEncoding = false;
        m_blockHasField = false;
    }

    void Flush() {
        if (m_run.empty()) return;
        m_plainParts += m_run.size();
        m_spans.push_back({m_runBegin, m_runEnd,
                           "Content-Type: text/plain\n" + m_marker + ": " +
                               std::to_string(m_runs.size()) + "\n\n"});
        m_runs.push_back(std::move(m_run));
        m_run.clear();
    }

    // A stretch of the text and what replaces it.
    struct Span {
        size_t begin, end;
        std::string text;
    };

    std::string_view m_text;
    const std::string& m_marker;
    const std::string& m_fieldMarker;
    size_t m_maxFields;
    std::vector<std::string> m_multiparts;                         // open, outermost first
    std::vector<bool> m_digests;                                   // which of them are digests
    std::unordered_map<std::string, std::vector<size_t>> m_index;  // boundary -> multiparts
    bool m_inHeaders = true;  // the message's own header block first
    bool m_inPart = false;    // inside a part of a multipart (else the top or an epilogue)
    size_t m_fieldBegin = 0, m_fieldEnd = 0;  // the field being read
    size_t m_contentTypes = 0;
    std::string m_contentType;
    bool m_transferEncoding = false;  // the block has a Content-Transfer-Encoding field
    bool m_blockHasField = false;     // the block has a field GMime reads as one
    bool m_inMessage = false;         // in the header block of an enclosed message
    bool m_messageStart = false;      // at the first line of an enclosed message
    size_t m_blockBegin = 0;          // where that block starts
    size_t m_messages = 0;            // enclosed messages entered
    // The part being read.
    size_t m_parent = 0;
    size_t m_partBegin = 0;
    bool m_candidate = false;
    PlainPart m_part;
    // The run being gathered, and those done.
    std::vector<PlainPart> m_run;
    size_t m_runBegin = 0, m_runEnd = 0;
    std::vector<Span> m_spans;
    std::vector<std::vector<PlainPart>> m_runs;
    std::vector<TakenRun>* m_fieldRuns;
    size_t m_fieldRunsBefore;
    size_t m_plainParts = 0;
};

}  // namespace

bool CollapsePlainParts(std::string_view text, const std::string& marker,
                        const std::string& fieldMarker, size_t maxFields, std::string* slim,
                        std::vector<std::vector<PlainPart>>* runs,
                        std::vector<TakenRun>* fieldRuns) {
    Collapser collapser(text, marker, fieldMarker, maxFields, fieldRuns);
    if (!collapser.Follow() || !collapser.TookAny()) {
        collapser.Forget();
        return false;
    }
    *slim = collapser.Collapsed();
    *runs = std::move(collapser.runs());
    return true;
}

}  // namespace host

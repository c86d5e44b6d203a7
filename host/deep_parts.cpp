// DeepParts: the boundaries are followed as GMime follows them: a line is a boundary of an open
// multipart when it is "--" and the boundary, or that and "--" for the last one, followed by
// nothing but white space; the innermost multipart with that boundary wins, and a boundary of an
// outer multipart ends every part inside it. Only the Content-Type of each part's header block
// is read (boundary parameter plain or quoted).
#include "host/deep_parts.h"

#include <cstring>
#include <unordered_map>

#include "common/ascii.h"

namespace host {

namespace {

using ascommon::StartsWithNoCase;

}  // namespace

std::string MultipartBoundary(std::string_view value) {
    size_t i = 0;
    while (i < value.size() && (value[i] == ' ' || value[i] == '\t')) ++i;
    if (value.size() - i < 10) return "";
    if (!StartsWithNoCase(value.substr(i), "multipart/")) return "";
    for (;;) {
        bool quoted = false;
        while (i < value.size() && (value[i] != ';' || quoted)) {
            if (value[i] == '"') quoted = !quoted;
            ++i;
        }
        if (i >= value.size()) return "";
        ++i;  // the ';'
        while (i < value.size() && (value[i] == ' ' || value[i] == '\t')) ++i;
        const size_t name = i;
        while (i < value.size() && value[i] != '=' && value[i] != ';') ++i;
        std::string key(value.substr(name, i - name));
        while (!key.empty() && (key.back() == ' ' || key.back() == '\t')) key.pop_back();
        ascommon::AsciiLowerInPlace(key.data(), key.size());
        if (i >= value.size() || value[i] != '=') continue;
        ++i;
        while (i < value.size() && (value[i] == ' ' || value[i] == '\t')) ++i;
        std::string text;
        if (i < value.size() && value[i] == '"') {
            for (++i; i < value.size() && value[i] != '"'; ++i) {
                if (value[i] == '\\' && i + 1 < value.size()) ++i;
                text += value[i];
            }
            if (i < value.size()) ++i;  // the closing quote
        } else {
            while (i < value.size() && value[i] != ';' && value[i] != ' ' && value[i] != '\t')
                text += value[i++];
        }
        if (key == "boundary") return text;
    }
}

namespace {

struct Multipart {
    std::string boundary;
    size_t depth;  // multiparts around it
};

struct Piece {
    size_t index;
    size_t base;   // multiparts open when it started: its part is a child of the last of them
    size_t depth;  // multiparts around its part
};

class Splitter {
  public:
    Splitter(const std::string& marker, std::vector<std::string>* pieces)
        : m_marker(marker), m_pieces(pieces) {
        m_pieces->assign(1, std::string());
        m_open.push_back({0, 0, 0});
    }

    void Line(std::string_view line) {
        std::string_view bare = line;
        while (!bare.empty() && (bare.back() == '\n' || bare.back() == '\r' || bare.back() == ' ' ||
                                 bare.back() == '\t'))
            bare.remove_suffix(1);
        if (bare.size() > 2 && bare[0] == '-' && bare[1] == '-' && Boundary(bare.substr(2), line))
            return;
        Out(line);
        if (!m_inHeaders) return;
        if (bare.empty()) {
            EndHeaders();
        } else if (line[0] == ' ' || line[0] == '\t') {
            if (m_inContentType) m_contentType += bare;
        } else {
            m_inContentType = StartsWithNoCase(bare, "content-type:");
            if (m_inContentType) m_contentType.assign(bare.substr(13));
        }
    }

    bool Split() const { return m_pieces->size() > 1; }

  private:
    void Out(std::string_view line) { (*m_pieces)[m_open.back().index].append(line); }

    // Handles a line that is a boundary of an open multipart; false for any other line.
    bool Boundary(std::string_view text, std::string_view line) {
        bool last = false;
        auto found = m_index.find(std::string(text));
        if (found == m_index.end() && text.size() > 2 && text.substr(text.size() - 2) == "--") {
            found = m_index.find(std::string(text.substr(0, text.size() - 2)));
            last = true;
        }
        if (found == m_index.end() || found->second.empty()) return false;
        const size_t j = found->second.back();
        while (m_open.back().base > j) m_open.pop_back();
        Out(line);
        const size_t depth = m_multiparts[j].depth + 1;
        Close(last ? j : j + 1);
        m_inHeaders = !last;
        m_inContentType = false;
        m_contentType.clear();
        if (last) return true;
        // A part starts: deep enough below its piece's part, it goes to a piece of its own.
        if (depth - m_open.back().depth >= kPieceDepth) {
            const size_t index = m_pieces->size();
            Out("Content-Type: text/plain\r\n" + m_marker + ": " + std::to_string(index) +
                "\r\n\r\n");
            m_pieces->emplace_back();
            m_open.push_back({index, m_multiparts.size(), depth});
        }
        m_partDepth = depth;
        return true;
    }

    // Closes the multiparts from the n-th on.
    void Close(size_t n) {
        while (m_multiparts.size() > n) {
            std::vector<size_t>& at = m_index[m_multiparts.back().boundary];
            at.pop_back();
            if (at.empty()) m_index.erase(m_multiparts.back().boundary);
            m_multiparts.pop_back();
        }
    }

    void EndHeaders() {
        m_inHeaders = false;
        const std::string boundary = MultipartBoundary(m_contentType);
        m_inContentType = false;
        m_contentType.clear();
        if (boundary.empty()) return;
        m_index[boundary].push_back(m_multiparts.size());
        m_multiparts.push_back({boundary, m_partDepth});
    }

    std::string m_marker;
    std::vector<std::string>* m_pieces;
    std::vector<Piece> m_open;  // the pieces the current line is inside; the last gets it
    std::vector<Multipart> m_multiparts;
    std::unordered_map<std::string, std::vector<size_t>> m_index;  // boundary -> multiparts
    bool m_inHeaders = true;  // the message's own header block first
    bool m_inContentType = false;
    std::string m_contentType;
    size_t m_partDepth = 0;
};

}  // namespace

LineCounts CountLines(std::string_view text, size_t enough) {
    LineCounts counts;
    const char* p = text.data();
    const char* end = p + text.size();
    while (p < end && (counts.dashLines < enough || counts.fieldLines < enough)) {
        if (end - p >= 2 && p[0] == '-' && p[1] == '-') {
            ++counts.dashLines;
        } else {
            const char* q = p;
            while (q < end && (ascommon::IsAsciiAlpha(static_cast<unsigned char>(*q)) ||
                               (*q >= '0' && *q <= '9') || *q == '-' || *q == '_'))
                ++q;
            if (q > p && q < end && *q == ':') ++counts.fieldLines;
        }
        const void* newline = std::memchr(p, '\n', static_cast<size_t>(end - p));
        if (newline == nullptr) break;
        p = static_cast<const char*>(newline) + 1;
    }
    return counts;
}

bool SplitDeepParts(std::string_view text, const std::string& marker,
                    std::vector<std::string>* pieces) {
    Splitter splitter(marker, pieces);
    size_t start = 0;
    while (start < text.size()) {
        const size_t newline = text.find('\n', start);
        const size_t end = newline == std::string_view::npos ? text.size() : newline + 1;
        splitter.Line(text.substr(start, end - start));
        start = end;
    }
    if (splitter.Split()) return true;
    pieces->clear();
    return false;
}

}  // namespace host

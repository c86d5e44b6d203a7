// The HTML walk of the URL finder (url_finder.h states what it finds): libxml2's HTML parser in
// SAX mode (no tree) over a document whose characters and tags have been prepared for it
// (CleanCharacters here, then ScanTags of html_tag_scan.h), gathering the URLs of the
// URL-bearing attributes and style sheets, and the visible text. libxml2 is initialized once, on
// first use; after that any thread may walk its own documents. The caller owns what it passes.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace host::url_finding {

// An attribute URL, with the length of the visible text where its element starts.
struct PositionedUrl {
    size_t at;
    std::string url;
};

// What a walk gathers, in document order.
struct HtmlContent {
    std::string text;  // the visible text
    std::vector<PositionedUrl> urls;
};

// The document with the characters libxml2 cannot take replaced: html itself, or *copy (empty on
// entry) when a character had to change.
std::string_view CleanCharacters(std::string_view html, std::string* copy);

// Parses the document into *content (empty on entry). False when the parse stopped, with more
// than 256 elements open or too much work on the stack of open elements, keeping what was found
// up to there.
bool WalkHtml(std::string_view html, HtmlContent* content);

}  // namespace host::url_finding

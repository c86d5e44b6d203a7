// The tag pre-scan of the URL finder's HTML side (url_finder.h), run before libxml2 parses.
// libxml2 compares each attribute name with the earlier ones of its tag, and each end tag and
// <body> with the whole stack of open elements: attribute floods and deep nesting take
// quadratic time. A scan that reads the markup the way libxml2 reads it (comments, doctype,
// processing instructions, script and style text, quoted attribute values, names of at most
// kMaxNameLength characters) drops the attributes past kMaxAttributes in one tag unless their
// names may hold a URL, and renames to div an html, head or body start tag with a URL
// attribute, which libxml2 would drop where misplaced, and makes Office conditional markers
// ("<![if !supportLists]>", "<![endif]>") comments. Deep nesting is caught during the parse
// (html_walk.h): the parse then runs again on the flat form of the document, in which every
// start tag but script, style and template closes itself ("<div ... />"), every end tag of a
// block element becomes <br> and the other end tags go, which keeps the text, the separators
// and the attributes but no tree. Pure function; any thread.
#pragma once

#include <string>
#include <string_view>

namespace host::url_finding {

// The document that libxml2 is to parse, in the normal form or (flat) the flat one: html itself,
// or *copy (empty on entry) when tags changed.
std::string_view ScanTags(std::string_view html, bool flat, std::string* copy);

}  // namespace host::url_finding

// URL finding: the URLs of a text/plain body and of an HTML body, in order of appearance, as the
// URL texts that FillParsedURL (message_builder.h) turns into records. HTML is parsed with
// gumbo: URLs come from the URL-bearing attributes (href, src, action, background, ...) and from
// the visible text, and the visible text itself is returned for the character statistics.
// Stateless and thread-safe.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace host {

// Appends the URLs found in plain text to *urls.
void FindTextUrls(std::string_view text, std::vector<std::string>* urls);

// Appends the URLs of an HTML document to *urls in document order and, when visibleText is not
// null, appends the document's visible text (script and style excluded) to it.
void FindHtmlUrls(std::string_view html, std::vector<std::string>* urls, std::string* visibleText);

}  // namespace host

// URL finding in text and HTML bodies; the rules are listed in url_finder.h. Text goes through
// the text scanner (url_text_scanner.h). HTML has its characters cleaned and its tags bounded
// (html_walk.h, html_tag_scan.h), is walked with libxml2 for the attribute URLs and the visible
// text, and the visible text then goes through the text scanner. Each URL found is tidied and
// gives the URLs it redirects to (url_tidy.h).
#include "host/url_finder.h"

#include <utility>

#include "host/html_tag_scan.h"
#include "host/html_walk.h"
#include "host/url_text_scanner.h"
#include "host/url_tidy.h"

namespace host {

using url_finding::AddUrl;
using url_finding::HtmlContent;
using url_finding::TextUrlScanner;

void FindTextUrls(std::string_view text, std::vector<std::string>* urls) {
    TextUrlScanner scanner(text);
    std::string joined;
    for (size_t start, end; scanner.Next(&start, &end);) {
        const size_t joinedEnd = url_finding::JoinBrokenUrl(text, start, end, &joined);
        if (joinedEnd != end) {
            scanner.SkipTo(joinedEnd);
            AddUrl(std::move(joined), urls);
        } else {
            AddUrl(std::string(text.substr(start, end - start)), urls);
        }
    }
}

void FindHtmlUrls(std::string_view html, std::vector<std::string>* urls, std::string* visibleText) {
    std::string cleaned, prepared;
    const std::string_view source = url_finding::CleanCharacters(html, &cleaned);
    HtmlContent content;
    if (!url_finding::WalkHtml(url_finding::ScanTags(source, false, &prepared), &content)) {
        // Nested too deep for libxml2, or too much work on its stack: the flat form. Should
        // that stop too (markup that the tag scan reads otherwise than libxml2), what was found
        // up to there stands.
        prepared.clear();
        content = HtmlContent();
        url_finding::WalkHtml(url_finding::ScanTags(source, true, &prepared), &content);
    }
    // Attribute URLs stand where their element starts, text URLs where they start.
    const std::string& text = content.text;
    std::vector<url_finding::PositionedUrl>& attributeUrls = content.urls;
    size_t next = 0;
    TextUrlScanner scanner(text);
    for (size_t start, end; scanner.Next(&start, &end);) {
        for (; next < attributeUrls.size() && attributeUrls[next].at <= start; ++next)
            AddUrl(std::move(attributeUrls[next].url), urls);
        AddUrl(text.substr(start, end - start), urls);
    }
    for (; next < attributeUrls.size(); ++next) AddUrl(std::move(attributeUrls[next].url), urls);
    if (visibleText) visibleText->append(text);
}

}  // namespace host

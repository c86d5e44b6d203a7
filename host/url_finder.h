// URL finding: the URLs of a text/plain body and of an HTML body, in order of appearance, as the
// URL texts that FillParsedURL (message_builder.h) turns into records. HTML is parsed with
// libxml2's HTML parser (SAX, no tree): URLs come from the URL-bearing attributes (href, src,
// action, background, ...) and from the visible text, and the visible text itself is returned
// for the character statistics. Stateless and thread-safe (libxml2 is initialized once, on
// first use); the caller owns the vectors and strings it passes in.
//
// What counts as a URL in text:
//   - "http://", "https://" or "ftp://" (any case, also at the end of a longer word: "xhttp://x"
//     gives "http://x"), an optional "user@", then a host: a name (ASCII letters, digits, "-",
//     "_", "%", ".", and any non-ASCII character, so IDN hosts in UTF-8 and ideographic full
//     stops stay whole) holding a letter or digit, four dotted numbers or a bracketed IPv6 address,
//     with an optional ":port"; then a path, query or fragment up to a space, a control byte,
//     one of < > " ` { } | \ ^, or a non-ASCII space, quotation mark, CJK bracket or comma;
//   - the same without a scheme when the host starts with "www." (any case);
//   - a bare ASCII host name without a scheme, of two to many labels, whose top-level label is
//     listed in the public suffix list (public_suffix.h) and which is longer than its public
//     suffix; not after "@" or before "@" (mail addresses), not after "/", "\" or a non-ASCII
//     letter other than CJK (the tail of an IDN word). A "/" after the host (and any port) makes
//     it a URL ("bit.ly/x", "example.cloud/x"). Without one it must read as a host, not as a
//     file name or code: refused when its top-level label is also a common file extension and
//     it has two labels ("sendmail.cf", "Mail.app", "setup.py") or the label is a country code
//     ("config.h.in"), or when that label is in capitals after a name that is not
//     ("Debian.NEWS"); then accepted when the top-level label is one that mail writes alone
//     (com, net, org, info, ru, de, io, xyz, ...), when the public suffix has two or more
//     labels ("example.co.uk") or when a country code ends a name of three or more labels.
//   A URL ends before the first CJK character that directly follows an ASCII character other
//   than / ? # = & + - _ ~ % . (Japanese text often runs on without a space); a host whose last
//   label starts with two ASCII letters ends at the first non-ASCII character of that label
//   ("example.comтекст"). Trailing . , ; : ! ? ' and full-stop characters are dropped, and so
//   are closing ) and ] without a matching opening one. A URL without a host is no URL.
//
// What counts as a URL in HTML: the absolute URLs ("http:", "https:", "ftp:" with one or more
// slashes or backslashes, written back as "scheme://"; "//host/..." returned without its
// slashes; "www....") in the attributes href, src, action, formaction, background, poster,
// cite, codebase, data, longdesc, xlink:href, each candidate of srcset, url(...) in style
// attributes and style elements, and the URL of a meta refresh, on any element; leading and
// trailing spaces are dropped, tabs removed and line breaks removed with the blanks around them.
// Script text gives URLs too: the scheme and www. URLs of on... handlers and javascript: links,
// and in script elements those that follow "location" or "open(" (window.location=...,
// window.open(...)). Office conditional markers (<![if ...]>, <![endif]>) are comments. Then the
// URLs of the visible text by the text rules. All in document order: an element's attribute URLs
// stand where the element starts. Character references are decoded as HTML 4 knows them (a name
// needs its ";"). NUL bytes and invalid UTF-8 read as U+FFFD, other control characters as spaces.
//
// Every URL then goes through url_tidy.h: its host loses whitespace and what follows it,
// trailing punctuation and a last label of another script; the URLs it redirects to follow it;
// text URLs cut by quoted-printable or quoted line breaks are joined.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace host {

// Appends the URLs found in plain text to *urls, in order.
void FindTextUrls(std::string_view text, std::vector<std::string>* urls);

// Appends the URLs of an HTML document to *urls in document order and, when visibleText is not
// null, appends the document's visible text to it: its text nodes, with a space at the start
// and end of block elements, without script, style and template content.
void FindHtmlUrls(std::string_view html, std::vector<std::string>* urls, std::string* visibleText);

}  // namespace host

// The last step of the URL finder (url_finder.h) for each URL it found: the junk that mail
// leaves in hosts goes (whitespace, NBSP included, and what follows it; trailing punctuation;
// a final label of another script after an ASCII host), the URLs that redirect links carry in
// their path or query ("/*http://...", "?target=http://...", "?URL=https%3A%2F%2F...") are
// added after the URL that holds them, and a text URL broken by a quoted-printable soft break
// or a quoted ("> ") line break is joined when the break is unambiguous. Pure functions; any
// thread; the caller owns the vectors and strings.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace host::url_finding {

// Appends the URL, tidied, and then the URLs embedded in it to *urls; nothing when no host is
// left.
void AddUrl(std::string url, std::vector<std::string>* urls);

// For the text URL [start, end) of text that a line break cuts: when the break is a
// quoted-printable soft break ("=" ending a line of 70 or more characters, the URL going on at
// the start of the next line) or a quoted line's wrap (the URL, with a path, ends a line of 60
// or more characters that starts with ">", and the next line, with the same prefix, goes on with
// a word holding / ? = & % or #), puts the joined URL in *joined and returns where its text ends;
// returns end (and leaves *joined alone) otherwise.
size_t JoinBrokenUrl(std::string_view text, size_t start, size_t end, std::string* joined);

}  // namespace host::url_finding

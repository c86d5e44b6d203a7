// HeaderRuns: keeps the plain fields of a message's top header block out of GMime's way.
// GMime makes an object, a hash entry and five string copies for every header field, about 1 KB
// and 2 µs a field; a block of short fields costs it twice the time per byte of any other shape.
// Most fields are only listed by the host, never interpreted: a "plain" field has a name of
// printable ASCII directly followed by ':', a value of ASCII without NUL bytes or encoded words,
// and is none of the fields GMime or the host read for structure, sender, recipients or subject
// (Content-*, MIME-Version, the address fields, Subject, Date, Message-ID, In-Reply-To,
// References). When a block holds many of them, CollapseHeaderRuns copies the message with each
// run of consecutive plain fields replaced by one placeholder field, whose name the caller keeps
// secret, and returns the runs' names and values as GMime would give them. GMime reads each field
// on its own, so the fields it still sees are read as before. Pure functions; any thread.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace host {

using HeaderFieldList = std::vector<std::pair<std::string, std::string>>;

// Fewer plain fields than this are left to GMime: the copy would cost more than it saves.
constexpr size_t kMinPlainFields = 32;

// Position of the colon that ends the name of a plain field, or 0 when `field` (its lines, line
// breaks included) is not plain.
size_t PlainFieldColon(std::string_view field);

// A plain value as GMime unfolds it: line breaks dropped, leading blanks and line breaks and
// trailing blanks trimmed.
std::string UnfoldPlainValue(std::string_view raw);

// Copies text into *slim with each run of plain fields in its top header block replaced by the
// line "<marker>: <n>", n indexing *runs. Returns false, writing nothing, when the block holds
// fewer than kMinPlainFields plain fields.
bool CollapseHeaderRuns(std::string_view text, const std::string& marker, std::string* slim,
                        std::vector<HeaderFieldList>* runs);

}  // namespace host

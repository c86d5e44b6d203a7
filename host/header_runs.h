// HeaderRuns: keeps most fields of a message's top header block out of GMime's way. GMime makes
// an object, a hash entry and five string copies for every header field, about 1 KB and 2 µs a
// field; a block of short fields costs it twice the time per byte of any other shape. Most
// fields are only listed by the host, never interpreted. A field can be taken when its name is
// printable ASCII directly followed by ':', it holds no NUL byte, and it is none of the fields
// GMime or the host read for structure, sender, recipients or subject (Content-*, MIME-Version,
// the address fields, Subject, Date, Message-ID, In-Reply-To, References); it is "plain" when its
// value is also ASCII without encoded words. When a block holds many fields that can be taken,
// CollapseHeaderRuns copies the message with each run of them replaced by one placeholder field,
// whose name the caller keeps secret, and returns the runs' names with the plain values unfolded
// as GMime unfolds them and the others raw, for the caller to decode as GMime would. GMime reads
// each field on its own, so the fields it still sees are read as before. Pure functions; any
// thread.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace host {

using HeaderFieldList = std::vector<std::pair<std::string, std::string>>;

// A field taken out of a header block: its name and its value, unfolded when plain, else its raw
// text after the colon (line breaks included).
struct TakenField {
    std::string name;
    std::string value;
    bool raw = false;
};
using TakenFieldList = std::vector<TakenField>;

// Fewer fields that can be taken than this are left to GMime: the copy would cost more than it
// saves.
constexpr size_t kMinTakenFields = 32;

// Position of the colon that ends the name of a plain field, or 0 when `field` (its lines, line
// breaks included) is not plain.
size_t PlainFieldColon(std::string_view field);

// A plain value as GMime unfolds it: line breaks dropped, leading blanks and line breaks and
// trailing blanks trimmed.
std::string UnfoldPlainValue(std::string_view raw);

// Copies text into *slim with each run of fields that can be taken in its top header block
// replaced by the line "<marker>: <n>", n indexing *runs. The runs keep the first maxFields
// fields; the others are dropped. Returns false, writing nothing, when the block holds fewer than
// kMinTakenFields fields that can be taken.
bool CollapseHeaderRuns(std::string_view text, const std::string& marker, size_t maxFields,
                        std::string* slim, std::vector<TakenFieldList>* runs);

}  // namespace host

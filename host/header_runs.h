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

// A run of fields taken out of a header block. repeats lists the fields of the block GMime would
// have called repeated (its name seen before), each with whether its value differs from the
// first field of that name (GMime: "conflicting").
struct TakenRun {
    std::vector<TakenField> fields;
    std::vector<std::pair<bool, std::string>> repeats;
};

// Fewer fields that can be taken than this are left to GMime: the copy would cost more than it
// saves.
constexpr size_t kMinTakenFields = 32;

// The name GMime gives a field (up to ':', trailing blanks dropped), or "" when GMime takes its
// first line for an invalid header line.
std::string_view GMimeFieldName(std::string_view field);

// Position of the colon that ends the name of a plain field, or 0 when `field` (its lines, line
// breaks included) is not plain.
size_t PlainFieldColon(std::string_view field);

// A plain value as GMime unfolds it: line breaks dropped, leading blanks and line breaks and
// trailing blanks trimmed.
std::string UnfoldPlainValue(std::string_view raw);

// The number of fields that can be taken in the header block at the start of `block`.
size_t CountTakenFields(std::string_view block);

// Appends `block` to *out with each run of fields that can be taken in the header block at its
// start replaced by one placeholder field named "<marker>-<n>", n indexing *runs (appended to).
// For a part's block (`part`: GMime reports every repeated name there), a name is only taken
// when every field of that name can be, and the repeats are noted. The runs keep the first
// maxFields fields; the others are dropped. Returns the number of fields kept.
size_t CollapseFieldBlock(std::string_view block, bool part, const std::string& marker,
                          size_t maxFields, std::string* out, std::vector<TakenRun>* runs);

// CollapseFieldBlock for a message's top header block into a copy of the whole text, *slim.
// Returns false, writing nothing, when the block holds fewer than kMinTakenFields fields that
// can be taken.
bool CollapseHeaderRuns(std::string_view text, const std::string& marker, size_t maxFields,
                        std::string* slim, std::vector<TakenRun>* runs);

}  // namespace host

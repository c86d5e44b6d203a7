// PlainParts: keeps runs of simple text parts out of GMime's way. GMime makes about ten objects
// for every part (part, header list, headers, content type, data wrapper, substream), some 7 µs
// each, whatever the part holds; a message of many small parts costs it three times the time per
// byte of any other shape. A "plain" part is a leaf whose header block has one single-line
// Content-Type of text/plain or text/html with at most a charset parameter and up to
// kMaxPlainPartFields fields in all, the others plain (header_runs) and with distinct names, and
// whose content is ended by a boundary of its own multipart. CollapsePlainParts follows the
// boundaries as GMime does (deep_parts), copies the message with each run of consecutive plain
// sibling parts replaced by one placeholder part, and returns what each part of the runs holds:
// its fields as GMime would give them, its type and the span of its content. It also takes the
// fields of the parts' header blocks that hold many of them out of GMime's way, as header_runs
// does for the message's own block. It leaves a message whose reading it cannot be sure of as it
// is (docs/mail-parser.md lists the cases). Pure functions; any thread.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "host/header_runs.h"

namespace host {

// Fewer plain parts than this are left to GMime.
constexpr size_t kMinPlainParts = 64;
// A part with more fields than this is left to GMime (checking that names differ is quadratic).
constexpr size_t kMaxPlainPartFields = 8;

struct PlainPart {
    HeaderFieldList fields;  // the fields other than Content-Type, in order
    bool html = false;       // text/html, else text/plain
    bool hasCharset = false;
    std::string charset;
    size_t contentBegin = 0;  // the content's span in the text given to CollapsePlainParts
    size_t contentSize = 0;
};

// Copies text into *slim with each run of plain parts replaced by a part whose header block is
// "Content-Type: text/plain" and "<marker>: <n>", n indexing *runs, and with the fields that can
// be taken of every other part whose header block holds kMinTakenFields of them collapsed as
// CollapseFieldBlock does (fieldMarker, at most maxFields fields kept in all, *fieldRuns appended
// to). Returns false, writing nothing, when it took nothing (fewer than kMinPlainParts plain parts
// and no such block) or cannot follow the text.
bool CollapsePlainParts(std::string_view text, const std::string& marker,
                        const std::string& fieldMarker, size_t maxFields, std::string* slim,
                        std::vector<std::vector<PlainPart>>* runs,
                        std::vector<TakenRun>* fieldRuns);

}  // namespace host

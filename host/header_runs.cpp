// HeaderRuns: runs of plain header fields taken out of the text GMime parses.
#include "host/header_runs.h"

#include "common/ascii.h"

namespace host {

namespace {

using ascommon::EqualsNoCase;
using ascommon::StartsWithNoCase;

// True when the line at `at` is empty: it ends the header block.
bool IsEmptyLine(std::string_view text, size_t at) {
    return text[at] == '\n' || (text[at] == '\r' && at + 1 < text.size() && text[at + 1] == '\n');
}

// One past the '\n' that ends the line at `at`, or npos when the text ends first.
size_t LineEnd(std::string_view text, size_t at) {
    const size_t newline = text.find('\n', at);
    return newline == std::string_view::npos ? newline : newline + 1;
}

// Fields GMime or the host read for more than their text (lower case).
bool IsKeptName(std::string_view name) {
    static constexpr std::string_view kKept[] = {
        "bcc",          "cc",         "date",     "from",   "in-reply-to", "message-id",
        "mime-version", "references", "reply-to", "sender", "subject",     "to"};
    if (StartsWithNoCase(name, "content-")) return true;
    for (std::string_view kept : kKept) {
        if (EqualsNoCase(name, kept)) return true;
    }
    return false;
}

}  // namespace

namespace {

// True when the value (the field after its colon) is ASCII without encoded words.
bool IsPlainValue(std::string_view value) {
    for (size_t i = 0; i < value.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(value[i]);
        if (c >= 0x80 || (c == '=' && i + 1 < value.size() && value[i + 1] == '?')) return false;
    }
    return true;
}

// Position of the colon that ends the name of a field that can be taken, or 0.
size_t TakenColon(std::string_view field) {
    size_t colon = 0;
    while (colon < field.size() && field[colon] > ' ' && field[colon] < 0x7F && field[colon] != ':')
        ++colon;
    if (colon == 0 || colon == field.size() || field[colon] != ':') return 0;
    if (IsKeptName(field.substr(0, colon))) return 0;
    return field.find('\0', colon) == std::string_view::npos ? colon : 0;
}

}  // namespace

size_t PlainFieldColon(std::string_view field) {
    const size_t colon = TakenColon(field);
    return colon != 0 && IsPlainValue(field.substr(colon + 1)) ? colon : 0;
}

namespace {

// Calls visit(begin, end, colon) for each field of the top header block, colon being 0 for a
// field that cannot be taken. A field is a line and the lines after it that start with a blank;
// the walk stops at the empty line that ends the block, and before a field that the text ends
// in (GMime reads an unfinished block its own way).
template <typename Visit>
void ForEachField(std::string_view text, Visit&& visit) {
    size_t at = 0;
    while (at < text.size() && !IsEmptyLine(text, at)) {
        size_t end = LineEnd(text, at);
        while (end != std::string_view::npos && end < text.size() &&
               ascommon::IsAsciiBlank(text[end]))
            end = LineEnd(text, end);
        if (end == std::string_view::npos) return;
        visit(at, end, TakenColon(text.substr(at, end - at)));
        at = end;
    }
}

}  // namespace

std::string UnfoldPlainValue(std::string_view raw) {
    size_t begin = 0;
    while (begin < raw.size() &&
           (ascommon::IsAsciiBlank(raw[begin]) || raw[begin] == '\r' || raw[begin] == '\n'))
        ++begin;
    std::string out;
    out.reserve(raw.size() - begin);
    for (size_t i = begin; i < raw.size(); ++i) {
        if (raw[i] != '\r' && raw[i] != '\n') out.push_back(raw[i]);
    }
    while (!out.empty() && ascommon::IsAsciiBlank(out.back())) out.pop_back();
    return out;
}

bool CollapseHeaderRuns(std::string_view text, const std::string& marker, size_t maxFields,
                        std::string* slim, std::vector<TakenFieldList>* runs) {
    size_t taken = 0;
    ForEachField(text, [&](size_t, size_t, size_t colon) { taken += colon != 0; });
    if (taken < kMinTakenFields) return false;

    std::string out;
    std::vector<TakenFieldList> found;
    size_t copied = 0;  // text before this is in `out` or in a run
    bool inRun = false;
    ForEachField(text, [&](size_t begin, size_t end, size_t colon) {
        if (colon == 0) {
            inRun = false;
            return;
        }
        if (!inRun) {
            out.append(text, copied, begin - copied);
            out += marker;
            out += ": ";
            out += std::to_string(found.size());
            out += '\n';
            found.emplace_back();
            inRun = true;
        }
        copied = end;
        if (maxFields == 0) return;
        --maxFields;
        const std::string_view field = text.substr(begin, end - begin);
        const std::string_view value = field.substr(colon + 1);
        TakenField& taken = found.back().emplace_back();
        taken.name.assign(field.substr(0, colon));
        taken.raw = !IsPlainValue(value);
        taken.value = taken.raw ? std::string(value) : UnfoldPlainValue(value);
    });
    out.append(text, copied, std::string_view::npos);
    *slim = std::move(out);
    *runs = std::move(found);
    return true;
}

}  // namespace host

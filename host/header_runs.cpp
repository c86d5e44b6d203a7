// HeaderRuns: runs of plain header fields taken out of the text GMime parses.
#include "host/header_runs.h"

#include <unordered_map>
#include <unordered_set>

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

std::string_view GMimeFieldName(std::string_view field) {
    size_t i = 0;
    bool blank = false;
    for (; i < field.size() && field[i] != ':'; ++i) {
        const unsigned char c = static_cast<unsigned char>(field[i]);
        if (ascommon::IsAsciiBlank(field[i])) {
            blank = true;
        } else if (blank || c < 0x20 || c == 0x7F) {
            return {};
        }
    }
    if (i == field.size()) return {};
    std::string_view name = field.substr(0, i);
    while (!name.empty() && ascommon::IsAsciiBlank(name.back())) name.remove_suffix(1);
    return name;
}

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

namespace {

std::string Lower(std::string_view text) {
    std::string out(text);
    ascommon::AsciiLowerInPlace(out);
    return out;
}

}  // namespace

size_t CollapseFieldBlock(std::string_view block, bool part, const std::string& marker,
                          size_t maxFields, std::string* out, std::vector<TakenRun>* runs) {
    // In a part GMime compares every repeated name with its first field: a name is only taken
    // when GMime sees none of its fields, and the repeats are noted here.
    std::unordered_set<std::string> keptNames;
    if (part) {
        ForEachField(block, [&](size_t begin, size_t end, size_t colon) {
            const std::string_view name = GMimeFieldName(block.substr(begin, end - begin));
            if (colon == 0 && !name.empty()) keptNames.insert(Lower(name));
        });
    }
    std::unordered_map<std::string, std::string_view> firstRaw;  // lower-case name -> raw value
    size_t copied = 0;  // the block before this is in *out or in a run
    size_t taken = 0;
    TakenRun* run = nullptr;
    ForEachField(block, [&](size_t begin, size_t end, size_t colon) {
        const std::string_view field = block.substr(begin, end - begin);
        if (colon != 0 && part && keptNames.count(Lower(field.substr(0, colon))) != 0) colon = 0;
        if (colon == 0) {
            run = nullptr;
            return;
        }
        if (run == nullptr) {
            out->append(block, copied, begin - copied);
            *out += marker + "-" + std::to_string(runs->size()) + ": 0\n";
            run = &runs->emplace_back();
        }
        copied = end;
        const std::string_view name = field.substr(0, colon), value = field.substr(colon + 1);
        if (part) {
            const auto [first, added] = firstRaw.emplace(Lower(name), value);
            if (!added) run->repeats.emplace_back(first->second != value, std::string(name));
        }
        if (taken == maxFields) return;
        ++taken;
        TakenField& kept = run->fields.emplace_back();
        kept.name.assign(name);
        kept.raw = !IsPlainValue(value);
        kept.value = kept.raw ? std::string(value) : UnfoldPlainValue(value);
    });
    out->append(block, copied, std::string_view::npos);
    return taken;
}

size_t CountTakenFields(std::string_view block) {
    size_t taken = 0;
    ForEachField(block, [&](size_t, size_t, size_t colon) { taken += colon != 0; });
    return taken;
}

bool CollapseHeaderRuns(std::string_view text, const std::string& marker, size_t maxFields,
                        std::string* slim, std::vector<TakenRun>* runs) {
    if (CountTakenFields(text) < kMinTakenFields) return false;
    std::string out;
    CollapseFieldBlock(text, false, marker, maxFields, &out, runs);
    *slim = std::move(out);
    return true;
}

}  // namespace host

// The small part that the URL finder's engines share (the text scanner of url_text_scanner.h,
// the tag pre-scan of html_tag_scan.h and the HTML walk of html_walk.h): ASCII character tests
// and classes, case-insensitive comparisons, and the sorted tables of the element and attribute
// names that matter for URLs and visible text. Constants and pure functions; any thread.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <iterator>
#include <string_view>

#include "common/ascii.h"

namespace host::url_finding {

using ascommon::AsciiToLower;
using ascommon::EqualsNoCase;
using ascommon::IsAsciiAlpha;
using ascommon::StartsWithNoCase;

// ---- Characters -----------------------------------------------------------------------------

inline bool IsDigit(unsigned char c) {
    return c >= '0' && c <= '9';
}
inline bool IsAlnum(unsigned char c) {
    return IsAsciiAlpha(c) || IsDigit(c);
}
inline bool IsHtmlSpace(unsigned char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f';
}
inline bool IsOneOf(unsigned char c, const char* set) {
    return c && std::strchr(set, c);
}

// Classes of the ASCII bytes: kWord for the bytes of a candidate word (a scheme, a www. host or
// a bare host), kHost for the bytes of a host name, kUrl for the bytes that may stand in a URL,
// kPathStart for those that end an authority, kTrailing for the punctuation dropped from a URL's
// end.
enum : uint8_t { kWord = 1, kHost = 2, kUrl = 4, kPathStart = 8, kTrailing = 16 };

struct AsciiClasses {
    uint8_t bits[128] = {};
    constexpr AsciiClasses() {
        for (int c = 0x21; c < 0x7F; ++c) bits[c] = kUrl;
        for (char c : {'"', '<', '>', '\\', '^', '`', '{', '|', '}'}) bits[int(c)] = 0;
        for (int c = 0; c < 128; ++c) {
            const bool alnum = (c >= '0' && c <= '9') || IsAsciiAlpha(c);
            if (alnum || c == '.' || c == '-' || c == '_') bits[c] |= kWord | kHost;
        }
        bits[int('%')] |= kHost;
        for (char c : {'/', '?', '#'}) bits[int(c)] |= kPathStart;
        for (char c : {'.', ',', ';', ':', '!', '?', '\''}) bits[int(c)] |= kTrailing;
    }
};
inline constexpr AsciiClasses kClasses;

inline bool Has(unsigned char c, uint8_t bit) {
    return c < 0x80 && (kClasses.bits[c] & bit);
}

// ---- Names ----------------------------------------------------------------------------------

// A name of at most kMaxKeyLength characters in lower case, packed into two words, big-endian
// and padded with zero bytes: keys order as the names do.
inline constexpr size_t kMaxKeyLength = 16;

struct NameKey {
    uint64_t high = 0, low = 0;

    constexpr explicit NameKey(std::string_view name) {
        for (size_t i = 0; i < name.size() && i < kMaxKeyLength; ++i)
            (i < 8 ? high : low) |= uint64_t{static_cast<unsigned char>(AsciiToLower(name[i]))}
                                    << (56 - 8 * (i % 8));
    }
    constexpr bool operator<(const NameKey& other) const {
        return high != other.high ? high < other.high : low < other.low;
    }
    constexpr bool operator==(const NameKey& other) const {
        return high == other.high && low == other.low;
    }
};

// An entry of a table of element or attribute names, sorted by name.
template <class Value>
struct Named {
    constexpr Named(std::string_view n, Value v) : key(n), value(v) {}
    NameKey key;
    Value value;
};

template <class Value, size_t N>
constexpr bool SortedByName(const Named<Value> (&table)[N]) {
    for (size_t i = 1; i < N; ++i)
        if (!(table[i - 1].key < table[i].key)) return false;
    return true;
}

// The value of the name (any case) in the table, Value() when it is not there.
template <class Value, size_t N>
Value Lookup(const Named<Value> (&table)[N], std::string_view name) {
    if (name.size() > kMaxKeyLength) return Value();
    const NameKey key(name);
    const Named<Value>* entry =
        std::lower_bound(std::begin(table), std::end(table), key,
                         [](const Named<Value>& e, const NameKey& k) { return e.key < k; });
    return entry != std::end(table) && entry->key == key ? entry->value : Value();
}

// What an attribute's value may give.
enum class AttributeKind : uint8_t {
    kNone,
    kUrl,        // the whole value is a URL
    kSrcset,     // image candidates
    kStyle,      // url(...) items
    kHttpEquiv,  // "refresh" for a meta refresh
    kContent,    // a meta refresh's URL
};

// An SVG link keeps its xlink prefix.
inline constexpr Named<AttributeKind> kAttributes[] = {
    {"action", AttributeKind::kUrl},
    {"background", AttributeKind::kUrl},
    {"cite", AttributeKind::kUrl},
    {"codebase", AttributeKind::kUrl},
    {"content", AttributeKind::kContent},
    {"data", AttributeKind::kUrl},
    {"formaction", AttributeKind::kUrl},
    {"href", AttributeKind::kUrl},
    {"http-equiv", AttributeKind::kHttpEquiv},
    {"longdesc", AttributeKind::kUrl},
    {"poster", AttributeKind::kUrl},
    {"src", AttributeKind::kUrl},
    {"srcset", AttributeKind::kSrcset},
    {"style", AttributeKind::kStyle},
    {"xlink:href", AttributeKind::kUrl},
};
static_assert(SortedByName(kAttributes));

// ---- Elements -------------------------------------------------------------------------------

// What the tag scan and the walk need to know of an element.
enum TagFlags : uint8_t {
    kBlock = 1,    // the visible text has a space at its start and end
    kHidden = 2,   // its text is not visible
    kRawText = 4,  // its content is text up to its end tag
    kRoot = 8,     // libxml2 drops a misplaced one, attributes and all
};

inline constexpr Named<uint8_t> kTags[] = {
    {"address", kBlock},    {"article", kBlock},      {"aside", kBlock},
    {"blockquote", kBlock}, {"body", kBlock | kRoot}, {"br", kBlock},
    {"button", kBlock},     {"caption", kBlock},      {"center", kBlock},
    {"dd", kBlock},         {"details", kBlock},      {"dir", kBlock},
    {"div", kBlock},        {"dl", kBlock},           {"dt", kBlock},
    {"fieldset", kBlock},   {"figcaption", kBlock},   {"figure", kBlock},
    {"footer", kBlock},     {"form", kBlock},         {"h1", kBlock},
    {"h2", kBlock},         {"h3", kBlock},           {"h4", kBlock},
    {"h5", kBlock},         {"h6", kBlock},           {"head", kBlock | kRoot},
    {"header", kBlock},     {"hr", kBlock},           {"html", kBlock | kRoot},
    {"iframe", kBlock},     {"legend", kBlock},       {"li", kBlock},
    {"listing", kBlock},    {"main", kBlock},         {"menu", kBlock},
    {"nav", kBlock},        {"ol", kBlock},           {"option", kBlock},
    {"p", kBlock},          {"pre", kBlock},          {"script", kHidden | kRawText},
    {"section", kBlock},    {"select", kBlock},       {"style", kHidden | kRawText},
    {"summary", kBlock},    {"table", kBlock},        {"tbody", kBlock},
    {"td", kBlock},         {"template", kHidden},    {"textarea", kBlock},
    {"tfoot", kBlock},      {"th", kBlock},           {"thead", kBlock},
    {"title", kBlock},      {"tr", kBlock},           {"ul", kBlock},
};

static_assert(SortedByName(kTags));

// The flags of the element with the name (any case).
inline uint8_t TagFlagsOf(std::string_view name) {
    return Lookup(kTags, name);
}

}  // namespace host::url_finding

// CharStats: the character-statistics document of a message (blackbox key 21234): counts of its
// text characters by Unicode script (ICU's script property, ICU's long script names such as
// "Latin", "Cyrillic", "Hiragana") and by the twelve script groups that the multipurpose filter
// reads. Feed it the texts of one message, then ask for the JSON document.
//
// Counted are all code points except the invisible ones: white space (the Unicode White_Space
// property), control characters (Cc) and format characters (Cf: byte order mark, zero-width
// joiners, bidi marks, soft hyphen). Digits, punctuation and symbols count as script Common,
// combining marks mostly as Inherited; both fall in the group "Other", which the filter leaves
// out of its shares. Invalid UTF-8 bytes are skipped one by one.
//
// One object per message, used by one thread at a time; the shared look-up table behind it is
// built on first use, thread-safely, and lives until the process ends. ScriptGroup and
// ScriptGroupName are thread-safe.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace host {

// The groups, 0 "NULL" (never assigned) to 11 "Other", in the order the filter names them.
constexpr int kScriptGroupCount = 12;

class CharStats {
  public:
    CharStats();
    // Counts the characters of UTF-8 text; invalid bytes are skipped. A character split across
    // two calls is lost as invalid, so pass whole texts.
    void Add(std::string_view utf8);
    // {"Total": N, "Groups": {...}, "Scripts": {...}} with the non-zero counts only, groups in
    // table order and scripts by ICU code; counts above INT32_MAX are written as INT32_MAX.
    std::string Json() const;
    uint64_t total() const { return m_total; }
    // The count of one ICU script code (0 for codes out of range).
    uint64_t ScriptCount(int scriptCode) const;
    // The percent of Asian and of Cyrillic characters among those outside the group "Other",
    // as the multipurpose filter computes its shares (0 when there are none).
    double AsianPercent() const;
    double CyrillicPercent() const;

  private:
    uint64_t m_total = 0;
    uint64_t m_scripts[256] = {};  // by ICU UScriptCode (all fit below 255)
};

// The group index (1 "European" .. 11 "Other") of an ICU script code; codes that ICU does not
// define (negative ones, or ones newer than the table) are "Other". Never 0.
int ScriptGroup(int scriptCode);
// The group's name for 0 .. 11 ("NULL", "European", ..., "Other"), nullptr otherwise.
const char* ScriptGroupName(int group);

}  // namespace host

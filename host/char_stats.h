// CharStats: the character-statistics document of a message (blackbox key 21234): counts of its
// text characters by Unicode script (ICU's script property, ICU's long script names such as
// "Latin", "Cyrillic", "Hiragana") and by the twelve script groups that the multipurpose filter
// reads. Feed it the texts of one message, then ask for the JSON document. One object per
// message and thread; the shared look-up table is built once, thread-safely.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace host {

class CharStats {
  public:
    CharStats();
    // Counts the characters of UTF-8 text; invalid bytes are skipped.
    void Add(std::string_view utf8);
    // {"Total": N, "Groups": {...}, "Scripts": {...}} with the non-zero counts only.
    std::string Json() const;
    uint64_t total() const { return m_total; }

  private:
    uint64_t m_total = 0;
    uint64_t m_groups[12] = {};
    uint64_t m_scripts[256] = {};  // by ICU UScriptCode (all fit below 256)
};

// The group index (0 "NULL" .. 11 "Other") of an ICU script code, and the group's name.
int ScriptGroup(int scriptCode);
const char* ScriptGroupName(int group);

}  // namespace host

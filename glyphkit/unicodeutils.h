// StringInfoParser: reads the character-statistics document of the Unicode services library, a
// JSON object such as
//   {"Total": 12, "Groups": {"Letter": 9, "Other": 2, ...}, "Scripts": {"Latin": 9, ...}}
// and answers counts from it. Counts may be numbers, booleans or numeric strings. Malformed
// documents never throw out of the parser. Not thread-safe.
#pragma once

#include <json/value.h>

#include <cstdint>

#include "common/sstring.h"

namespace ascommon {

class StringInfoParser {
  public:
    // Query results besides counts.
    static constexpr int32_t kNotInitialised = -50;  // also: no positive total without "Other"
    static constexpr int32_t kMissing = -301;        // the section or total is absent

    StringInfoParser();

    // Parses the document's text up to its first NUL. The parser counts as initialised once the
    // parse returns, whether or not the text was valid JSON (what was read stays); an exception
    // from the reader is traced and leaves it uninitialised, as does an uninitialised document.
    // std::bad_alloc alone is passed on (the parser is left uninitialised).
    bool initialize(const sstring& document);
    bool initialised() const { return m_initialised; }

    // The count for `name` in "Groups" / "Scripts": kNotInitialised, kMissing when the section is
    // absent (or the document is not an object), 0 for an empty section, a section that is not
    // an object or a name it lacks; -1 for a null name.
    int32_t GetGroupCount(const char* name) const;
    int32_t GetScriptCount(const char* name) const;
    // "Total" less the "Other" group: kNotInitialised, kMissing without "Groups" or "Total", 0 for
    // empty "Groups", the difference when at least 1, otherwise kNotInitialised.
    int32_t GetTotalWithoutOther() const;

  private:
    int32_t SectionCount(const char* section, const char* name) const;

    Json::Value m_document;
    bool m_initialised;
};

}  // namespace ascommon

// Glyphkit's Unicode property tables, generated from UCD 15.1 by tools/gen_glyphkit_tables.js
// into glyphkit_tables.cpp: constant data, read-only, safe to read from any thread.
//
// Each range table covers U+0000..U+10FFFF in ascending order, one uint32_t per range:
// (first code point << 8) | value; a range ends where the next one begins, the last at U+10FFFF.
#ifndef GLYPHKIT_GLYPHKIT_TABLES_H
#define GLYPHKIT_GLYPHKIT_TABLES_H

#include <cstddef>
#include <cstdint>

namespace glyphkit_data {

// Values: the GK_CAT_* categories of glyphkit.h (White_Space code points are GK_CAT_SPACE).
extern const uint32_t kCategoryRanges[];
extern const size_t kCategoryRangeCount;

// Values: indices into kScriptNames, the Script property's long names in ascending order.
extern const uint32_t kScriptRanges[];
extern const size_t kScriptRangeCount;
extern const char* const kScriptNames[];
extern const size_t kScriptCount;
extern const uint32_t kCommonScript;  // index of "Common"

}  // namespace glyphkit_data

#endif  // GLYPHKIT_GLYPHKIT_TABLES_H

// Command-line helpers shared by the Molvex tools: the --version text and checked numbers.
// Plain functions; any thread.
#pragma once

#include <cstdint>
#include <string>

namespace host {

// "TOOL (Molvex) VERSION\n" on standard output.
void PrintVersion(const char* tool);

// A whole decimal integer within [min, max]; false on anything else (signs, blanks, suffixes,
// overflow).
bool ParseInteger(const char* text, int64_t min, int64_t max, int64_t* value);

// A size in bytes: a decimal integer with an optional K, M or G (binary) suffix, within
// [min, max]; false otherwise.
bool ParseSize(const char* text, uint64_t min, uint64_t max, uint64_t* size);

}  // namespace host

// Command-line helpers shared by the Molvex tools: the --version text and checked numbers.
// Plain functions; any thread.
#pragma once

#include <cstdint>
#include <string>

namespace host {

// "TOOL (Molvex) VERSION\n" on standard output.
void PrintVersion(const char* tool);

// "TOOL: PROBLEM" and a pointer to --help on standard error; returns the usage exit status, 2.
int UsageError(const char* tool, const std::string& problem);

// The usage error for getopt_long's ':' (a value is missing) or '?' (unknown option) about
// argv[optind - 1].
int OptionError(const char* tool, int result, char** argv);

// A whole decimal integer within [min, max]; false on anything else (signs, blanks, suffixes,
// overflow).
bool ParseInteger(const char* text, int64_t min, int64_t max, int64_t* value);

// A size in bytes: a decimal integer with an optional K, M or G (binary) suffix, within
// [min, max]; false otherwise.
bool ParseSize(const char* text, uint64_t min, uint64_t max, uint64_t* size);

}  // namespace host

// Public suffixes of host names, by the rules of the ICANN section of the public suffix list
// (the generated table public_suffix_table.cpp, made by scripts/gen_public_suffix_table.py):
// the URL finder reads a bare word as a host name only when its top-level label is a listed
// one and something is registered under its public suffix. Constant data and pure functions;
// any thread.
#pragma once

#include <cstddef>
#include <string_view>

namespace host {

namespace public_suffix_data {
extern const std::string_view kRules[];  // lower case, in byte order
extern const size_t kRuleCount;
}  // namespace public_suffix_data

// The number of labels of the public suffix of the dotted ASCII host name (any case): 0 when
// its last label is not a listed top-level domain, else at least 1 ("example.co.uk" gives 2).
size_t PublicSuffixLabels(std::string_view host);

}  // namespace host

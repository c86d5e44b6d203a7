// Rexkit, the regular-expression library: compiled PCRE2 code behind an opaque handle, and match
// maps collected with the usual global-match loop (an empty match is retried as non-empty at the
// same place before the search moves one character on).
#define PCRE2_CODE_UNIT_WIDTH 8
#include "companions/rexkit/rexkit.h"

#include <pcre2.h>

#include <cstdlib>
#include <limits>
#include <new>
#include <vector>

struct RxRegex {
    pcre2_code* code;
    bool utf;
};

namespace {

constexpr uint32_t kKnownFlags = RX_CASELESS | RX_MULTILINE | RX_DOTALL | RX_EXTENDED | RX_UTF8;

void SetError(int32_t* error, int32_t value) {
    if (error != nullptr) *error = value;
}

uint32_t CompileOptions(uint32_t flags) {
    uint32_t options = 0;
    if (flags & RX_CASELESS) options |= PCRE2_CASELESS;
    if (flags & RX_MULTILINE) options |= PCRE2_MULTILINE;
    if (flags & RX_DOTALL) options |= PCRE2_DOTALL;
    if (flags & RX_EXTENDED) options |= PCRE2_EXTENDED;
    // Mail is full of broken UTF-8: ill-formed sequences in a subject never match, rather than
    // failing the whole search.
    if (flags & RX_UTF8) options |= PCRE2_UTF | PCRE2_UCP | PCRE2_MATCH_INVALID_UTF;
    return options;
}

RxRegex* Compile(const char* pattern, uint32_t flags, int32_t* error, size_t* errorOffset,
                 bool toMachineCode) {
    if (errorOffset != nullptr) *errorOffset = 0;
    if (pattern == nullptr || (flags & ~kKnownFlags) != 0) {
        SetError(error, RX_BAD_ARGUMENT);
        return nullptr;
    }
    int code = 0;
    PCRE2_SIZE offset = 0;
    pcre2_code* compiled =
        pcre2_compile(reinterpret_cast<PCRE2_SPTR>(pattern), PCRE2_ZERO_TERMINATED,
                      CompileOptions(flags), &code, &offset, nullptr);
    if (compiled == nullptr) {
        if (code == PCRE2_ERROR_HEAP_FAILED) {
            SetError(error, RX_NO_MEMORY);
        } else {
            SetError(error, RX_BAD_PATTERN);
            if (errorOffset != nullptr) *errorOffset = offset;
        }
        return nullptr;
    }
    // Where machine code cannot be made (no JIT, no executable memory) the regex stays
    // interpreted: same matches, only slower.
    if (toMachineCode) pcre2_jit_compile(compiled, PCRE2_JIT_COMPLETE);
    RxRegex* regex = new (std::nothrow) RxRegex{compiled, (flags & RX_UTF8) != 0};
    if (regex == nullptr) {
        pcre2_code_free(compiled);
        SetError(error, RX_NO_MEMORY);
        return nullptr;
    }
    SetError(error, RX_OK);
    return regex;
}

// The offset of the character after the one at `at` (continuation bytes skipped in UTF-8).
PCRE2_SIZE NextCharacter(PCRE2_SPTR text, PCRE2_SIZE length, PCRE2_SIZE at, bool utf) {
    ++at;
    if (utf) {
        while (at < length && (text[at] & 0xC0) == 0x80) ++at;
    }
    return at;
}

// Appends every match to offsets; RX_OK, RX_NO_MEMORY or RX_MATCH_FAILED.
int32_t CollectMatches(const RxRegex* regex, PCRE2_SPTR text, PCRE2_SIZE length,
                       pcre2_match_data* data, std::vector<size_t>* offsets) {
    PCRE2_SIZE start = 0;
    uint32_t options = 0;
    while (start <= length) {
        const int rc = pcre2_match(regex->code, text, length, start, options, data, nullptr);
        if (rc == PCRE2_ERROR_NOMATCH) {
            if (options == 0) return RX_OK;
            // No non-empty match where the empty one was: search on from the next character.
            options = 0;
            start = NextCharacter(text, length, start, regex->utf);
            continue;
        }
        if (rc < 0) return rc == PCRE2_ERROR_NOMEMORY ? RX_NO_MEMORY : RX_MATCH_FAILED;
        const PCRE2_SIZE* match = pcre2_get_ovector_pointer(data);
        // Only \K inside a lookaround (refused when compiling) could end a match before it
        // starts; never loop back over the subject.
        if (match[1] < match[0] || match[1] < start) return RX_MATCH_FAILED;
        offsets->push_back(match[0]);
        offsets->push_back(match[1]);
        options = match[0] == match[1] ? PCRE2_NOTEMPTY_ATSTART | PCRE2_ANCHORED : 0;
        start = match[1];
    }
    return RX_OK;
}

// The map and its offsets in one block.
RxBuffMap* NewMap(const std::vector<size_t>& offsets) {
    const size_t n = offsets.size();
    if (n > (std::numeric_limits<size_t>::max() - sizeof(RxBuffMap)) / sizeof(size_t)) {
        return nullptr;
    }
    char* block = static_cast<char*>(std::malloc(sizeof(RxBuffMap) + n * sizeof(size_t)));
    if (block == nullptr) return nullptr;
    size_t* copy = reinterpret_cast<size_t*>(block + sizeof(RxBuffMap));
    for (size_t i = 0; i < n; ++i) copy[i] = offsets[i];
    return new (block) RxBuffMap{n / 2, copy};
}

}  // namespace

extern "C" {

RxRegex* NewRegEx(const char* pattern, uint32_t flags, int32_t* error, size_t* errorOffset) {
    return Compile(pattern, flags, error, errorOffset, false);
}

RxRegex* NewFastRegEx(const char* pattern, uint32_t flags, int32_t* error, size_t* errorOffset) {
    return Compile(pattern, flags, error, errorOffset, true);
}

void DeleteRegEx(RxRegex* regex) {
    if (regex == nullptr) return;
    pcre2_code_free(regex->code);
    delete regex;
}

RxBuffMap* MakeBuffMap(const RxRegex* regex, const char* subject, size_t length, int32_t* error) {
    if (regex == nullptr || (subject == nullptr && length != 0)) {
        SetError(error, RX_BAD_ARGUMENT);
        return nullptr;
    }
    static const char kEmpty[1] = "";
    const PCRE2_SPTR text = reinterpret_cast<PCRE2_SPTR>(subject != nullptr ? subject : kEmpty);
    pcre2_match_data* data = pcre2_match_data_create_from_pattern(regex->code, nullptr);
    if (data == nullptr) {
        SetError(error, RX_NO_MEMORY);
        return nullptr;
    }
    RxBuffMap* map = nullptr;
    int32_t result = RX_NO_MEMORY;
    try {
        std::vector<size_t> offsets;
        result = CollectMatches(regex, text, length, data, &offsets);
        if (result == RX_OK) {
            map = NewMap(offsets);
            if (map == nullptr) result = RX_NO_MEMORY;
        }
    } catch (const std::bad_alloc&) {
        result = RX_NO_MEMORY;
    }
    pcre2_match_data_free(data);
    SetError(error, result);
    return map;
}

void DeleteBuffMap(RxBuffMap* map) {
    if (map == nullptr) return;
    map->~RxBuffMap();
    std::free(map);
}

// Machine code needs both a JIT in the PCRE2 build and executable memory at run time: a trial
// compile answers for both, once.
int32_t InitCompiledExists(void) {
    static const int32_t available = [] {
        uint32_t jit = 0;
        if (pcre2_config(PCRE2_CONFIG_JIT, &jit) < 0 || jit == 0) return 0;
        int code = 0;
        PCRE2_SIZE offset = 0;
        pcre2_code* trial = pcre2_compile(reinterpret_cast<PCRE2_SPTR>("a"), PCRE2_ZERO_TERMINATED,
                                          0, &code, &offset, nullptr);
        if (trial == nullptr) return 0;
        const int rc = pcre2_jit_compile(trial, PCRE2_JIT_COMPLETE);
        pcre2_code_free(trial);
        return rc == 0 ? 1 : 0;
    }();
    return available;
}

}  // extern "C"

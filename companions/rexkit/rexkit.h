/* Rexkit: a small regular-expression library (librexkit.so) over PCRE2, 8-bit code units.
   Patterns use the Perl syntax PCRE2 accepts. Every function has C linkage and never throws.
   A compiled regex is read-only once made: any number of threads may match it at the same time.
   Memory comes from the C heap; each object is freed by its own Delete function. */
#ifndef REXKIT_REXKIT_H
#define REXKIT_REXKIT_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#if defined(REXKIT_BUILD)
#define RX_API __attribute__((visibility("default")))
#else
#define RX_API
#endif

/* Results, through the error arguments. */
#define RX_OK 0
#define RX_BAD_ARGUMENT (-1) /* a required pointer is null, or unknown flags */
#define RX_BAD_PATTERN (-2)  /* the pattern does not compile; see the error offset */
#define RX_NO_MEMORY (-3)
#define RX_MATCH_FAILED (-4) /* matching gave up at a backtracking or depth limit */

/* Compile flags. */
#define RX_CASELESS 0x01u
#define RX_MULTILINE 0x02u /* ^ and $ also at line breaks */
#define RX_DOTALL 0x04u    /* . also matches line breaks */
#define RX_EXTENDED 0x08u  /* white space and # comments in the pattern are ignored */
#define RX_UTF8 0x10u      /* pattern and subjects are UTF-8; \w, \d... follow Unicode */

/* A compiled regex. */
typedef struct RxRegex RxRegex;

/* The matches of one regex in one buffer: `count` non-overlapping matches, left to right, as
   byte offsets into the buffer, offsets[2 * i] the start of match i and offsets[2 * i + 1] its
   end (exclusive). As with Perl's /g, after an empty match the search first tries for a
   non-empty match at the same place, then moves one character on. Read-only; freed by
   DeleteBuffMap. */
typedef struct RxBuffMap {
    size_t count;
    const size_t* offsets;
} RxBuffMap;

/* Compiles the NUL-terminated pattern. Returns the regex, or null with *error set (and, for
   RX_BAD_PATTERN, *errorOffset set to the byte offset where compiling stopped). error and
   errorOffset may be null. */
RX_API RxRegex* NewRegEx(const char* pattern, uint32_t flags, int32_t* error, size_t* errorOffset);

/* As NewRegEx, then compiles the regex to machine code when the platform allows it (see
   InitCompiledExists); otherwise the regex is interpreted, with the same results. */
RX_API RxRegex* NewFastRegEx(const char* pattern, uint32_t flags, int32_t* error,
                             size_t* errorOffset);

/* Frees a regex; null is ignored. */
RX_API void DeleteRegEx(RxRegex* regex);

/* Finds every match of regex in subject[0, length). Returns the map (count 0 when nothing
   matches), or null with *error set. A null subject is accepted with length 0. error may be
   null. */
RX_API RxBuffMap* MakeBuffMap(const RxRegex* regex, const char* subject, size_t length,
                              int32_t* error);

/* Frees a map; null is ignored. */
RX_API void DeleteBuffMap(RxBuffMap* map);

/* 1 when regexes can be compiled to machine code here (NewFastRegEx), 0 otherwise. */
RX_API int32_t InitCompiledExists(void);

#ifdef __cplusplus
}
#endif

#endif /* REXKIT_REXKIT_H */

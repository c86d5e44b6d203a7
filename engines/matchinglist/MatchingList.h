// CMatchingList: a list of address expressions a text is checked against, as the black and white
// list filters use it. Exact expressions live in a hash map keyed by their lower-case form;
// wildcard expressions ("*" any run, "?" one byte) in an array, tried in the order they were
// added. Folding changes only ASCII "A".."Z"; every other byte (UTF-8 included) compares as it
// is. The list owns its expression copies; the regex and Unicode bindings it is initialised with
// belong to the caller and are only kept. No locking: one thread at a time, the owner guards a
// shared list.
#pragma once

#include <cstdint>

#include "common/carray.h"
#include "common/cmap.h"
#include "common/sstring.h"

namespace ascommon {

class GlyphkitLib;
struct RexkitLib;

// What CMatchingList::Add stores an expression as.
enum ExpressionKind : int32_t { kExact = 0, kWildcard = 1 };

class CMatchingList {
  public:
    // Add's results.
    static constexpr int32_t kOk = 0;
    static constexpr int32_t kNoMemory = -10;
    static constexpr int32_t kEmptyExpression = -12;
    static constexpr int32_t kNotInitialised = -22;
    static constexpr int32_t kDuplicate = -50;

    // A pattern with this many "*" or more matches nothing.
    static constexpr int kMaxStars = 128;

    // Throws (from the map's bucket arrays) when memory runs out.
    CMatchingList();
    ~CMatchingList();
    CMatchingList(const CMatchingList&) = delete;
    CMatchingList& operator=(const CMatchingList&) = delete;

    // Keeps both bindings (not owned) and marks the list usable; may be called again. Throws
    // ASException, leaving the list as it was, when either is null.
    void Init(GlyphkitLib* unicode, RexkitLib* regex);

    // Stores the lower-case form of expression as an exact (kExact) or wildcard (kWildcard)
    // expression; other kinds store nothing. kOk, kNotInitialised, kEmptyExpression,
    // kDuplicate (exact only) or kNoMemory. A failure leaves both collections as they were.
    int32_t Add(const sstring& expression, int32_t kind);

    // True when the lower-case form of text equals an exact expression (matched = that form) or
    // else fits a wildcard one (matched = the first that fits). False for a void text; matched is
    // then unchanged. Should copying into matched fail, it keeps its text and last_error() is -2.
    // Throws ASException before Init or when the text cannot be copied.
    bool Match(const sstring& text, sstring& matched);

    // Frees every exact expression; the bucket count stays. Throws ASMemException when the map
    // has no bucket storage.
    void ClearExact();
    // Frees the wildcard expressions and their storage.
    void ClearWildcard();

    const CMap<sstring, int>& Exact() const { return m_exact; }
    const CArray<sstring, 64>& Wildcards() const { return m_wildcards; }
    uint64_t ExactCount() const { return m_exact.size(); }
    uint64_t WildcardCount() const { return m_wildcards.size(); }
    uint64_t Size() const { return ExactCount() + WildcardCount(); }

    // True when the whole text fits the whole pattern, byte by byte: "*" any run (empty too),
    // "?" exactly one byte, any other byte itself. Patterns with kMaxStars "*" or more fit
    // nothing. O(text x pattern) at worst. False for a null argument.
    static bool MatchWildcard(const char* text, const char* pattern);

  private:
    int32_t AddExact(const sstring& folded);
    int32_t AddWildcard(const sstring& folded);

    // The map's chains hold up to ten keys each, and walking one costs a cache miss per node:
    // too slow for lists of a million. The index finds a key among the map's nodes with about
    // one miss: open addressing over (hash, node) pairs, linear probing, at most half full.
    struct IndexSlot {
        uint32_t hash;
        const CMapNode<sstring, int>* node;  // null: free
    };
    bool IndexHas(const sstring& key, uint32_t hash) const;
    bool IndexReserve();  // room for one more key; false when memory runs out
    void IndexPut(uint32_t hash, const CMapNode<sstring, int>* node);
    void IndexClear();

    CMap<sstring, int> m_exact;
    CArray<sstring, 64> m_wildcards;
    RexkitLib* m_regex;
    GlyphkitLib* m_unicode;
    bool m_initialised;
    IndexSlot* m_index;  // m_indexMask + 1 slots, or null before the first exact key
    uint32_t m_indexMask;
    uint32_t m_indexCount;
};

}  // namespace ascommon

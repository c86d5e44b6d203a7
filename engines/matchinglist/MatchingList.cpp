// CMatchingList: exact and wildcard address expressions.
#include "engines/matchinglist/MatchingList.h"

#include <cstring>

#include "common/ascii.h"
#include "common/asexception.h"
#include "common/trace.h"

namespace ascommon {

namespace {

// The map grows to kGrowthFactor times its buckets once it holds more than kLoadLimit entries
// per bucket.
constexpr uint64_t kLoadLimit = 10;
constexpr uint64_t kGrowthFactor = 5;

// "A".."Z" to "a".."z" over the whole length (embedded NUL bytes included); nothing else.
void FoldAscii(sstring& text) {
    AsciiLowerInPlace(text.data(), text.length());
}

}  // namespace

CMatchingList::CMatchingList()
    : m_exact(nullptr),
      m_regex(nullptr),
      m_unicode(nullptr),
      m_initialised(false),
      m_index(nullptr),
      m_indexMask(0),
      m_indexCount(0) {}

CMatchingList::~CMatchingList() {
    if (m_index) MemFree(m_index);
}

void CMatchingList::Init(GlyphkitLib* unicode, RexkitLib* regex) {
    if (unicode == nullptr || regex == nullptr) {
        AS_THROW(ASException, "invalid handles passed for init routine");
    }
    m_unicode = unicode;
    m_regex = regex;
    m_initialised = true;
}

int32_t CMatchingList::Add(const sstring& expression, int32_t kind) {
    if (!m_initialised) {
        AS_TRACE(4, "the matching list was not properly initialized");
        return kNotInitialised;
    }
    if (!expression.initialised() || expression.length() == 0) {
        AS_TRACE(4, "the expression to add is empty or void");
        return kEmptyExpression;
    }
    sstring folded(expression);
    if (!folded.initialised()) return kNoMemory;
    FoldAscii(folded);
    switch (kind) {
        case kExact:
            return AddExact(folded);
        case kWildcard:
            return AddWildcard(folded);
        default:
            return kOk;
    }
}

// Grows the map first when it is too loaded, then appends the expression to its chain with the
// number of expressions held so far plus one. A failure after the growth keeps the new bucket
// count; the entries are as they were.
int32_t CMatchingList::AddExact(const sstring& folded) {
    const uint64_t buckets = m_exact.bucket_count();
    const uint64_t grown = buckets * kGrowthFactor;
    if (m_exact.size() > buckets * kLoadLimit && grown <= UINT32_MAX) {
        if (m_exact.rehash(static_cast<uint32_t>(grown)) != 0) {
            AS_TRACE(4, "CMatchingList::Add(..) - Could not resize map array");
            return kNoMemory;
        }
    }
    const uint32_t hash = hash_sstring(folded);
    if (IndexHas(folded, hash)) return kDuplicate;
    if (!IndexReserve()) return kNoMemory;
    const int value = static_cast<int>(m_exact.size()) + 1;
    const CMapNode<sstring, int>* node = m_exact.append(folded, value);  // key copy checked
    if (node == nullptr) return kNoMemory;
    IndexPut(hash, node);
    return kOk;
}

namespace {

// The first slot to probe: the top bits of the string hash times 2^32 / golden ratio (Fibonacci
// hashing), as many as the index has slots (mask + 1, a power of two).
uint32_t IndexStart(uint32_t hash, uint32_t mask) {
    const uint32_t mixed = hash * 0x9E3779B1u;
    int bits = 0;
    while (bits < 32 && (mask >> bits) != 0) ++bits;
    return bits == 0 ? 0 : mixed >> (32 - bits);
}

}  // namespace

bool CMatchingList::IndexHas(const sstring& key, uint32_t hash) const {
    if (m_index == nullptr) return false;
    for (uint32_t i = IndexStart(hash, m_indexMask);; i = (i + 1) & m_indexMask) {
        const IndexSlot& slot = m_index[i];
        if (slot.node == nullptr) return false;
        if (slot.hash == hash && slot.node->key == key) return true;
    }
}

bool CMatchingList::IndexReserve() {
    if (m_index != nullptr && (m_indexCount + 1) * uint64_t{2} <= uint64_t{m_indexMask} + 1)
        return true;
    const uint64_t slots = m_index ? (uint64_t{m_indexMask} + 1) * 2 : 64;
    if (slots > (uint64_t{1} << 31)) return false;
    IndexSlot* grown = static_cast<IndexSlot*>(MemAlloc(slots * sizeof(IndexSlot)));
    if (grown == nullptr) return false;
    std::memset(grown, 0, slots * sizeof(IndexSlot));
    IndexSlot* old = m_index;
    const uint64_t oldSlots = old ? uint64_t{m_indexMask} + 1 : 0;
    m_index = grown;
    m_indexMask = static_cast<uint32_t>(slots - 1);
    m_indexCount = 0;
    for (uint64_t i = 0; i < oldSlots; ++i) {
        if (old[i].node != nullptr) IndexPut(old[i].hash, old[i].node);
    }
    if (old) MemFree(old);
    return true;
}

void CMatchingList::IndexPut(uint32_t hash, const CMapNode<sstring, int>* node) {
    uint32_t i = IndexStart(hash, m_indexMask);
    while (m_index[i].node != nullptr) i = (i + 1) & m_indexMask;
    m_index[i] = IndexSlot{hash, node};
    ++m_indexCount;
}

void CMatchingList::IndexClear() {
    if (m_index) std::memset(m_index, 0, (uint64_t{m_indexMask} + 1) * sizeof(IndexSlot));
    m_indexCount = 0;
}

// Appends with CArray's own growth; a growth or copy that fails leaves the array as it was.
int32_t CMatchingList::AddWildcard(const sstring& folded) {
    return m_wildcards.add(folded) == 0 ? kOk : kNoMemory;
}

bool CMatchingList::Match(const sstring& text, sstring& matched) {
    if (!m_initialised) AS_THROW(ASException, "the matching list was not properly initialized");
    if (!text.initialised()) return false;
    sstring folded(text);
    if (!folded.initialised()) {
        AS_THROW(ASException, "can't create a lowercase copy of match string");
    }
    FoldAscii(folded);
    if (m_exact.lookup(folded) != nullptr) {
        matched = folded;
        return true;
    }
    const sstring* expressions = m_wildcards.data();
    for (uint64_t i = 0; i < m_wildcards.size(); ++i) {
        if (MatchWildcard(folded.c_str(), expressions[i].c_str())) {
            matched = expressions[i];
            return true;
        }
    }
    return false;
}

void CMatchingList::ClearExact() {
    if (m_exact.clear() != 0) {
        AS_THROW(ASMemException, "could not empty exact expressions map");
    }
    IndexClear();
}

void CMatchingList::ClearWildcard() {
    m_wildcards.clear();
}

// The plain definition is recursive: at a "*", try the rest of the pattern against every tail
// of the text, shortest run first, each "*" one level deeper, and fail any attempt at depth 128.
// A success passes every "*" of the pattern (it must use the pattern up), so a pattern with 128
// or more fits nothing; with fewer, no attempt ever gets that deep and the limit never applies.
// What is left is the plain glob question, which backtracking to the last "*" alone answers: a
// later "*" can absorb anything an earlier one could.
bool CMatchingList::MatchWildcard(const char* text, const char* pattern) {
    if (text == nullptr || pattern == nullptr) return false;
    int stars = 0;
    for (const char* p = pattern; *p != '\0'; ++p) {
        if (*p == '*' && ++stars >= kMaxStars) return false;
    }
    const char* t = text;
    const char* p = pattern;
    const char* afterStar = nullptr;  // the pattern just after the last "*" passed
    const char* runEnd = nullptr;     // where that "*"'s run currently ends in the text
    while (*t != '\0') {
        if (*p == '*') {
            afterStar = ++p;
            runEnd = t;
        } else if (*p == '?' || *p == *t) {  // *t is not NUL: the pattern's end fails here
            ++p;
            ++t;
        } else if (afterStar != nullptr) {
            p = afterStar;  // the last "*" takes one more byte
            t = ++runEnd;
        } else {
            return false;
        }
    }
    while (*p == '*') ++p;
    return *p == '\0';
}

}  // namespace ascommon

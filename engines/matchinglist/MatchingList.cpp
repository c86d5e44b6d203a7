// CMatchingList: exact and wildcard address expressions.
#include "engines/matchinglist/MatchingList.h"

#include "common/asexception.h"
#include "common/trace.h"

namespace ascommon {

namespace {

typedef CArray<sstring, 64> TextArray;

// The map grows to kGrowthFactor times its buckets once it holds more than kLoadLimit entries
// per bucket.
constexpr uint64_t kLoadLimit = 10;
constexpr uint64_t kGrowthFactor = 5;

// "A".."Z" to "a".."z" over the whole length (embedded NUL bytes included); nothing else.
void FoldAscii(sstring& text) {
    char* p = text.data();
    for (uint64_t i = 0; i < text.length(); ++i) {
        if (p[i] >= 'A' && p[i] <= 'Z') p[i] = static_cast<char>(p[i] - 'A' + 'a');
    }
}

// CArray moves its elements by assignment when it grows, and an sstring assignment that cannot
// get a buffer leaves the element void without telling. Keeps copies of the expressions so
// that such an element can be given its text back. False when the copies cannot be made.
bool SaveTexts(const TextArray& array, TextArray& saved) {
    if (array.size() == 0) return true;
    if (saved.resize(array.size(), true) != 0) return false;
    for (uint64_t i = 0; i < array.size(); ++i) {
        saved.at(i) = array.at(i);
        if (!saved.at(i).initialised()) return false;
    }
    return true;
}

// Gives every void element its saved text back. False when one stays void.
bool RestoreTexts(TextArray& array, const TextArray& saved) {
    bool whole = true;
    for (uint64_t i = 0; i < saved.size() && i < array.size(); ++i) {
        sstring& element = array.at(i);
        if (element.initialised()) continue;
        element = saved.at(i);
        whole = whole && element.initialised();
    }
    return whole;
}

}  // namespace

CMatchingList::CMatchingList()
    : m_exact(nullptr), m_regex(nullptr), m_unicode(nullptr), m_initialised(false) {}

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
    const int value = static_cast<int>(m_exact.size()) + 1;
    const int32_t status = m_exact.insert(folded, value);
    if (status == -451) return kDuplicate;
    if (status != 0) return kNoMemory;
    // The node copies the key by assignment, which leaves it void when no buffer can be had:
    // try once more. Should that fail too the node stays, void and counted: it never matches.
    CMap<sstring, int>::Node* node = m_exact.tail(hash_sstring(folded) % m_exact.bucket_count());
    if (node != nullptr && !node->key.initialised()) {
        node->key = folded;
        if (!node->key.initialised()) {
            AS_TRACE(2, "CMatchingList::Add(..) - Could not copy the exact expression");
            return kNoMemory;
        }
    }
    return kOk;
}

// Appends with CArray's own growth, then repairs elements whose copy came out void (see
// SaveTexts); the copies are taken only when the array is about to grow.
int32_t CMatchingList::AddWildcard(const sstring& folded) {
    const uint64_t count = m_wildcards.size();
    TextArray saved;
    if (count + 1 >= m_wildcards.capacity() && !SaveTexts(m_wildcards, saved)) return kNoMemory;
    if (m_wildcards.add(folded) != 0) return kNoMemory;
    bool whole = RestoreTexts(m_wildcards, saved);
    sstring& added = m_wildcards.at(count);
    if (!added.initialised()) added = folded;
    if (!whole || !added.initialised()) {
        AS_TRACE(2, "CMatchingList::Add(..) - Could not copy the wildcard expressions");
        return kNoMemory;
    }
    return kOk;
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

// CPartsArray's typed getters.
#include "engines/htmlparser/structs/breaker_structs.h"

#include <new>

#include "common/ashooks_access.h"
#include "common/trace.h"

namespace nsEmlComponents {

TPartsArray* NewPartsArray() {
    void* block = ascommon::MemAlloc(sizeof(TPartsArray));
    return block ? new (block) TPartsArray() : nullptr;
}

void DeletePartsArray(TPartsArray* array) {
    if (array == nullptr) return;
    array->~TPartsArray();
    ascommon::MemFree(array);
}

CPartsArray::~CPartsArray() {
    DeletePartsArray(m_textPlainParts);
    DeletePartsArray(m_htmlParts);
}

namespace {
// Builds the typed array into `cache`: store first, then fill. An append that fails fails the
// whole array, like one that cannot be allocated (the cache is null again, a later call tries
// again): a cached typed array never lacks a part of its kind.
TPartsArray* BuildTyped(const TPartsArray* all, TPartsArray** cache, uint32_t kind) {
    *cache = NewPartsArray();
    if (*cache == nullptr) return nullptr;
    for (uint64_t i = 0; i < all->size(); ++i) {
        const CPart* part = all->at(i);
        if (part->m_body->GetKind() == kind && (*cache)->add(part) != 0) {
            DeletePartsArray(*cache);
            *cache = nullptr;
            return nullptr;
        }
    }
    return *cache;
}
}  // namespace

TPartsArray* CPartsArray::GetTextPlainParts() {
    if (m_textPlainParts != nullptr) return m_textPlainParts;
    if (m_allParts == nullptr) return nullptr;
    if (BuildTyped(m_allParts, &m_textPlainParts, kBodyTextPlain) == nullptr) {
        AS_TRACE_FULL(1, AS_TRACE_PREFIX
                      "[CPartsArray] Memory allocation error while trying to create text plain "
                      "parts array\n");
    }
    return m_textPlainParts;
}

TPartsArray* CPartsArray::GetHtmlParts() {
    if (m_htmlParts != nullptr) return m_htmlParts;
    if (m_allParts == nullptr) return nullptr;
    if (BuildTyped(m_allParts, &m_htmlParts, kBodyTextHtml) == nullptr) {
        AS_TRACE_FULL(1, AS_TRACE_PREFIX
                      "[CPartsArray] Memory allocation error while trying to create html parts "
                      "array\n");
    }
    return m_htmlParts;
}

}  // namespace nsEmlComponents

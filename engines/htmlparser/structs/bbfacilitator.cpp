// CBBFacilitator.
#include "engines/htmlparser/structs/bbfacilitator.h"

#include "common/trace.h"

namespace nsEmlComponents {

CHeader* LookupHeader(THeadersMap* map, const ascommon::sstring& upperName) {
    if (map == nullptr) return nullptr;
    CHeader** found = map->lookup(upperName);
    return found ? *found : nullptr;
}

CBBFacilitator::CBBFacilitator(BlackBox* blackbox)
    : m_blackbox(blackbox),
      m_headers(nullptr),
      m_partsTree(nullptr),
      m_subject(nullptr),
      m_from(nullptr),
      m_to(nullptr) {}

int32_t CBBFacilitator::Initialize() {
    void* headers = m_blackbox->Get(asbb::kHeaders, asbb::kObject, asbb::kPlain);
    m_headers = static_cast<THeadersMap*>(headers);
    AS_TRACE(4, "BBObj headers: %p; THeadersMap: %p", headers, static_cast<void*>(m_headers));
    void* tree = m_blackbox->Get(asbb::kPartsTree, asbb::kObject, asbb::kPlain);
    m_partsTree = static_cast<CPartsArray*>(tree);
    AS_TRACE(4, "BBObj parts tree: %p; PartsTree: %p", tree, static_cast<void*>(m_partsTree));
    int32_t status = LoadHeaders();
    if (status != 0) return status;
    status = LoadTexts(&CPartsArray::GetTextPlainParts, kBodyTextPlain, &m_textPlainTexts);
    if (status != 0) return status;
    return LoadTexts(&CPartsArray::GetHtmlParts, kBodyTextHtml, &m_htmlTexts);
}

int32_t CBBFacilitator::LoadHeaders() {
    if (m_headers == nullptr) return 0;
    if (auto* subject = static_cast<CSubjectHeader*>(LookupHeader(m_headers, "SUBJECT"))) {
        m_subject = &subject->m_subject;
    }
    if (auto* from = static_cast<CAddressHeader*>(LookupHeader(m_headers, "FROM"))) {
        m_from = &from->m_addresses;
    }
    if (auto* to = static_cast<CAddressHeader*>(LookupHeader(m_headers, "TO"))) {
        m_to = &to->m_addresses;
    }
    return 0;
}

int32_t CBBFacilitator::LoadTexts(TPartsArray* (CPartsArray::*typed)(), uint32_t kind,
                                  TTextArray* texts) {
    if (m_partsTree == nullptr) return 0;
    texts->clear();
    TPartsArray* parts = (m_partsTree->*typed)();
    if (parts == nullptr) return kNoPartsArray;
    for (uint64_t i = 0; i < parts->size(); ++i) {
        const CPart* part = parts->data()[i];
        if (part == nullptr || part->m_body->GetKind() != kind) continue;
        if (texts->add(part->m_body->m_text) != 0) return kTextNotRecorded;
    }
    return 0;
}

CAddressHeader* CBBFacilitator::GetAddressHeader(const char* name, int32_t* error) const {
    int32_t ignored = 0;
    int32_t& err = error ? *error : ignored;
    err = 0;
    if (m_headers == nullptr) {
        err = kNoHeaderMap;
        return nullptr;
    }
    ascommon::sstring upper(name);
    if (upper.last_error() != 0 || !upper.initialised()) {
        err = kTextNotRecorded;
        return nullptr;
    }
    ascommon::_strupr(upper.data());
    CHeader* header = LookupHeader(m_headers, upper);
    if (header == nullptr) return nullptr;
    if (header->m_kind != kHeaderAddress) {
        err = kNotAddressHeader;
        return nullptr;
    }
    return static_cast<CAddressHeader*>(header);
}

}  // namespace nsEmlComponents

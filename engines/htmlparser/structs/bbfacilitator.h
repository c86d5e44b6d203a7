// CBBFacilitator: typed views of one message blackbox: the root header map, the parts tree, the
// Subject text, the From and To addresses, and the texts of the text/plain and HTML parts. Built
// on the stack for one message by one thread; owns only its two text arrays and never changes a
// host record (except that asking the tree for its typed arrays caches them in the tree).
#pragma once

#include <cstdint>

#include "common/carray.h"
#include "common/sstring.h"
#include "engines/htmlparser/structs/breaker_structs.h"
#include "host_interfaces.h"

namespace nsEmlComponents {

typedef ascommon::CArray<const char*, 64> TTextArray;

class CBBFacilitator {
  public:
    explicit CBBFacilitator(BlackBox* blackbox);
    CBBFacilitator(const CBBFacilitator&) = delete;
    CBBFacilitator& operator=(const CBBFacilitator&) = delete;

    // Results of Initialize and GetAddressHeader.
    static constexpr int32_t kNoPartsArray = -3;      // a typed parts array could not be built
    static constexpr int32_t kTextNotRecorded = -10;  // a text or a name could not be copied
    static constexpr int32_t kNoHeaderMap = -400;
    static constexpr int32_t kNotAddressHeader = -401;

    // Reads the header map and the parts tree and collects the texts: 0, kNoPartsArray or
    // kTextNotRecorded.
    int32_t Initialize();

    THeadersMap* GetHeadersMap() const { return m_headers; }
    CPartsArray* GetPartsTree() const { return m_partsTree; }
    const ascommon::sstring* GetSubject() const { return m_subject; }
    const TAddressArray* GetFrom() const { return m_from; }
    const TAddressArray* GetTo() const { return m_to; }
    const TTextArray* GetTextPlainTexts() const { return &m_textPlainTexts; }
    const TTextArray* GetHtmlTexts() const { return &m_htmlTexts; }

    // The root header of that name (any case) when it is an address header. *error: 0 absent,
    // kNoHeaderMap, kTextNotRecorded (the name could not be copied) or kNotAddressHeader.
    CAddressHeader* GetAddressHeader(const char* name, int32_t* error) const;

  private:
    int32_t LoadHeaders();
    int32_t LoadTexts(TPartsArray* (CPartsArray::*typed)(), uint32_t kind, TTextArray* texts);

    BlackBox* m_blackbox;
    THeadersMap* m_headers;
    CPartsArray* m_partsTree;
    const ascommon::sstring* m_subject;
    const TAddressArray* m_from;
    const TAddressArray* m_to;
    TTextArray m_textPlainTexts;
    TTextArray m_htmlTexts;
};

// The header object stored under an upper-case name in a header map, or null. A map without
// bucket arrays holds nothing.
CHeader* LookupHeader(THeadersMap* map, const ascommon::sstring& upperName);

}  // namespace nsEmlComponents

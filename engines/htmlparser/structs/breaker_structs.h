// The host's message records, as the module reads them in place: header objects and header maps,
// parts with their bodies (text bodies with the URLs found in them, ParsedURL records of
// engines/urlparser), the message source object, and the parts tree (CPartsArray) whose
// typed arrays the module builds on first request and caches in the tree. The host builds and
// owns every record; the typed arrays belong to the tree once cached. Records are read by one
// thread per message. Host-facing header: compiles on its own.
#pragma once

#include <cstdint>

#include "common/bbobject.h"
#include "common/carray.h"
#include "common/cmap.h"
#include "common/layout.h"
#include "common/sstring.h"
#include "engines/urlparser/urlparser.h"

namespace nsEmlComponents {

// Header kinds.
enum HeaderKind : uint32_t {
    kHeaderOther = 0,
    kHeaderSubject = 1,
    kHeaderContentType = 2,
    kHeaderAddress = 3,  // From, To, Cc, ... : the headers that hold address records
};

// Body kinds, as a body's slot 1 reports them.
enum BodyKind : uint32_t {
    kBodyOther = 0,
    kBodyTextPlain = 52,
    kBodyTextHtml = 53,
};

class CHeader : public ascommon::CBlackBoxObject {
  public:
    explicit CHeader(uint32_t kind) : m_kind(kind) {}
    uint32_t m_kind;
    ascommon::sstring m_value;  // the decoded value as a whole
};

class CSubjectHeader : public CHeader {
  public:
    CSubjectHeader() : CHeader(kHeaderSubject), m_charset(nullptr) {}
    ascommon::sstring m_subject;      // decoded UTF-8 text
    const char* m_charset;            // the declared charset name, or null
    ascommon::sstring m_charsetName;  // storage for m_charset
};

class CContentTypeHeader : public CHeader {
  public:
    CContentTypeHeader() : CHeader(kHeaderContentType), m_charset(nullptr) {}
    const char* m_charset;  // the charset parameter, or null
    ascommon::sstring m_mediaType;
    ascommon::sstring m_charsetName;  // storage for m_charset
};

// One address of an address header.
class CAddressRecord : public ascommon::CBlackBoxObject {
  public:
    ascommon::sstring m_address;  // local@domain
    ascommon::sstring m_name;     // the display name, may be uninitialised
};

typedef ascommon::CArray<CAddressRecord*, 64> TAddressArray;

class CAddressHeader : public CHeader {
  public:
    CAddressHeader() : CHeader(kHeaderAddress) {}
    ~CAddressHeader() override {
        for (uint64_t i = 0; i < m_addresses.size(); ++i) delete m_addresses.data()[i];
    }
    TAddressArray m_addresses;  // owned records
};

// Upper-case header name -> header object (not owned by the map).
typedef ascommon::CMap<ascommon::sstring, CHeader*> THeadersMap;

// A part's body. Slot 1 gives the kind; m_text is the decoded UTF-8 text (text parts).
class CPartBody : public ascommon::CBlackBoxObject {
  public:
    virtual uint32_t GetKind() const = 0;
    const char* m_text = nullptr;
};

// The URLs of a text/plain body, in the order in which they appear in its text.
typedef ascommon::CArray<ParsedURL, 64> TParsedURLArray;

class CPartBodyTextPlain : public CPartBody {
  public:
    uint32_t GetKind() const override { return kBodyTextPlain; }
    TParsedURLArray m_URLs;  // the body's own records
};

// The URLs of an HTML body: references, in the order in which they appear in its text. The
// collection owns the records it lists and deletes them with itself.
class CURLCollection : public ascommon::CBlackBoxObject {
  public:
    CURLCollection() = default;
    CURLCollection(const CURLCollection&) = delete;
    CURLCollection& operator=(const CURLCollection&) = delete;
    ~CURLCollection() override {
        for (uint64_t i = 0; i < m_URLs.size(); ++i) delete m_URLs.data()[i];
    }
    ascommon::CArray<ParsedURL*, 64> m_URLs;  // the host stores no null entry
};

class CPartBodyTextHtml : public CPartBody {
  public:
    CPartBodyTextHtml() = default;
    CPartBodyTextHtml(const CPartBodyTextHtml&) = delete;
    CPartBodyTextHtml& operator=(const CPartBodyTextHtml&) = delete;
    ~CPartBodyTextHtml() override { delete m_urlCollection; }
    uint32_t GetKind() const override { return kBodyTextHtml; }
    CURLCollection* m_urlCollection = nullptr;  // owned; null when the host made none
};

// Where the module finds the URL lists of the two text bodies.
struct BodyURLsLayout {
    AS_LAYOUT_BEGIN
    AS_PIN(CPartBody, m_text, 8);
    AS_PIN(CPartBodyTextPlain, m_URLs, 16);
    AS_PIN(CPartBodyTextHtml, m_urlCollection, 16);
    AS_PIN(CURLCollection, m_URLs, 8);
    AS_LAYOUT_END
};

// Any other body; the kind is the host's own code.
class CPartBodyOther : public CPartBody {
  public:
    explicit CPartBodyOther(uint32_t kind) : m_kind(kind) {}
    uint32_t GetKind() const override { return m_kind; }
    uint32_t m_kind;
};

// The raw message behind the root part. Slots 1 to 11 are the host's own; slot 12 stores the
// message size in bytes through its argument.
class CAMessageSource : public ascommon::CBlackBoxObject {
  public:
    virtual const char* Data() const = 0;
    virtual uint64_t Length() const = 0;
    virtual int32_t Read(void* buffer, uint64_t size, uint64_t* read) = 0;
    virtual int32_t Seek(uint64_t offset) = 0;
    virtual uint64_t Tell() const = 0;
    virtual bool AtEnd() const = 0;
    virtual int32_t Rewind() = 0;
    virtual const char* Name() const = 0;
    virtual int32_t SetName(const char* name) = 0;
    virtual int32_t Append(const char* bytes, uint64_t size) = 0;
    virtual void Clear() = 0;
    virtual int32_t GetSize(uint64_t* size) = 0;
};

class CPart : public ascommon::CBlackBoxObject {
  public:
    THeadersMap* m_headers = nullptr;     // the part's own headers
    CPartBody* m_body = nullptr;          // never null for a part in a parts tree
    CAMessageSource* m_source = nullptr;  // root part only
};

typedef ascommon::CArray<const CPart*, 64> TPartsArray;

// The parts tree. After the vtable: every part, the two typed arrays the module builds, four
// typed arrays of the host's own, and the root part.
class CPartsArray : public ascommon::CBlackBoxObject {
  public:
    CPartsArray() = default;
    CPartsArray(const CPartsArray&) = delete;
    CPartsArray& operator=(const CPartsArray&) = delete;
    // Frees the typed arrays cached in the tree (they come from the hook table).
    ~CPartsArray() override;

    // The text/plain (kind 52) or HTML (kind 53) parts, in all-parts order; built on the first
    // call and cached. Null without an all-parts array or when the array or one of its appends
    // cannot be allocated.
    TPartsArray* GetTextPlainParts();
    TPartsArray* GetHtmlParts();
    const CPart* GetRoot() const { return m_root; }

    TPartsArray* m_allParts = nullptr;  // owned by the host
    TPartsArray* m_textPlainParts = nullptr;
    TPartsArray* m_htmlParts = nullptr;
    TPartsArray* m_hostArrays[4] = {nullptr, nullptr, nullptr, nullptr};  // the host's own
    const CPart* m_root = nullptr;
};

struct PartsArrayLayout {
    AS_LAYOUT_BEGIN
    AS_PIN(CPartsArray, m_allParts, 8);
    AS_PIN(CPartsArray, m_textPlainParts, 16);
    AS_PIN(CPartsArray, m_htmlParts, 24);
    AS_PIN(CPartsArray, m_hostArrays, 32);
    AS_PIN(CPartsArray, m_root, 64);
    AS_PIN_SIZE(CPartsArray, 72);
    AS_LAYOUT_END
};

// Receives the parts of a tree one by one (read-only visit).
class CAPartsTreeListenerR {
  public:
    virtual ~CAPartsTreeListenerR() {}
    virtual void OnPart(const CPart* part) = 0;
};

// Typed arrays are allocated and freed through the hook table (both sides may do either).
TPartsArray* NewPartsArray();
void DeletePartsArray(TPartsArray* array);

}  // namespace nsEmlComponents

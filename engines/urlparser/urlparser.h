// ParsedURL: one URL that the host found in a text/plain or HTML part, and the three keys that the
// URL filter derives from it:
//   - the domain: the registrable domain of the host, in lower case;
//   - the sub-domain: the host itself, without a www prefix, port or final dot;
//   - the URL from its host on: the URL text from the start of the host, without a www prefix.
// The host fills the record's first fields; the keys and what they need (decoded host, port,
// flags) are computed on first use and kept in the record, so a record is changed by reading its
// keys and must be used by one thread at a time. A key counts as computed when its text is not
// empty, so a record that a host reuses or fills itself is keyed from what it holds; a key that
// cannot be computed stays empty (and is computed again when asked for).
// Host-facing header: compiles on its own.
#pragma once

#include <cstddef>
#include <cstdint>

#include "common/bbobject.h"
#include "common/layout.h"
#include "common/sstring.h"

namespace nsEmlComponents {

// What the host found as the URL's host.
enum HostKind : uint32_t {
    kHostName = 0,
    kHostIPv4 = 1,
    kHostIPv6 = 2,
};

// Result of a key that cannot be computed (bad port, or text after the port of a URL that has a
// path, query or fragment).
constexpr int32_t kUrlKeyFailed = -1338;
// The domain of a host that is not valid UTF-8 (the folding's own code).
constexpr int32_t kUrlKeyInvalidUtf8 = -50;
// "No port named" in m_port.
constexpr int32_t kNoPort = -1;
// The highest port accepted; 65535 fails the key.
constexpr int32_t kMaxPort = 65534;

class ParsedURL : public ascommon::CBlackBoxObject {
  public:
    ParsedURL()
        : m_hostOffset(0),
          m_pathLength(0),
          m_queryLength(0),
          m_fragmentLength(0),
          m_hostKind(kHostName),
          m_stripBOM(false),
          m_port(kNoPort),
          m_wwwPrefix(false),
          m_ideographicDot(false) {}
    // Member-wise copies (CArray copies records when it grows); a copy keeps computed keys.
    ParsedURL(const ParsedURL&) = default;
    ParsedURL& operator=(const ParsedURL&) = default;

    // Set by the host.
    ascommon::sstring m_url;    // the whole URL as it stands in the part's text
    uint64_t m_hostOffset;      // offset of the host within m_url
    ascommon::sstring m_host;   // the host as found, with any port
    uint64_t m_pathLength;      // 0 when absent
    uint64_t m_queryLength;     // 0 when absent
    uint64_t m_fragmentLength;  // 0 when absent
    uint32_t m_hostKind;        // HostKind
    bool m_stripBOM;            // decoding removes UTF-8 byte-order marks

    // Set on first key use.
    ascommon::sstring m_decodedHost;
    ascommon::sstring m_subDomain;
    ascommon::sstring m_domain;
    int32_t m_port;         // kNoPort unless the host names one
    bool m_wwwPrefix;       // the decoded host starts with www., ww1. ... ww5. (any case)
    bool m_ideographicDot;  // decoding turned a U+3002, U+FF0E or U+FF61 into "."
};

// A copy of a record is whole when each of its texts is (see ascommon::CopyComplete): the host's
// arrays of records check their copies with it.
inline bool CopyComplete(const ParsedURL& copy, const ParsedURL& source) {
    using ascommon::CopyComplete;
    return CopyComplete(copy.m_url, source.m_url) && CopyComplete(copy.m_host, source.m_host) &&
           CopyComplete(copy.m_decodedHost, source.m_decodedHost) &&
           CopyComplete(copy.m_subDomain, source.m_subDomain) &&
           CopyComplete(copy.m_domain, source.m_domain);
}

// The layout shared with the host: vtable, the host's fields, then the computed ones.
struct ParsedURLLayout {
    AS_LAYOUT_BEGIN
    AS_PIN(ParsedURL, m_url, 8);
    AS_PIN(ParsedURL, m_hostOffset, 80);
    AS_PIN(ParsedURL, m_host, 88);
    AS_PIN(ParsedURL, m_pathLength, 160);
    AS_PIN(ParsedURL, m_queryLength, 168);
    AS_PIN(ParsedURL, m_fragmentLength, 176);
    AS_PIN(ParsedURL, m_hostKind, 184);
    AS_PIN(ParsedURL, m_stripBOM, 188);
    AS_PIN(ParsedURL, m_decodedHost, 192);
    AS_PIN(ParsedURL, m_subDomain, 264);
    AS_PIN(ParsedURL, m_domain, 336);
    AS_PIN(ParsedURL, m_port, 408);
    AS_PIN(ParsedURL, m_wwwPrefix, 412);
    AS_PIN(ParsedURL, m_ideographicDot, 413);
    AS_PIN_SIZE(ParsedURL, 416);
    AS_LAYOUT_END
};

// ---- The keys -------------------------------------------------------------------------------

// The sub-domain, computed if not yet computed; empty when it cannot be computed. The reference
// stays valid as long as the record.
const ascommon::sstring& GetSubDomain(ParsedURL& url);
// The domain (computing the sub-domain first if needed); empty when it cannot be computed.
const ascommon::sstring& GetDomain(ParsedURL& url);
// The URL text from the host offset on, or from four bytes later when the www-prefix flag is set
// (so ask for the sub-domain or the domain first); empty when the start lies past the text.
ascommon::sstring GetUrlFromHost(const ParsedURL& url);
// The same without a copy: a pointer into m_url (NUL-terminated there) and its length. Never
// null: an empty key points to "".
const char* UrlFromHost(const ParsedURL& url, uint64_t* length);

// The same steps with their status: 0, kUrlKeyFailed, kUrlKeyInvalidUtf8, or kNoBuffer when a
// buffer could not be had. A key already computed (not empty) gives 0 at once; an empty one is
// computed again.
int32_t ComputeSubDomain(ParsedURL& url);
int32_t ComputeDomain(ParsedURL& url);

// ---- The steps, for the keys and their tests --------------------------------------------------

// Fills m_decodedHost from m_host (once): two decoding passes, then byte-order marks out when
// m_stripBOM is set. Never fails on content: 0, or -2 when a buffer could not be had (nothing
// is kept then, so a later call decodes again).
int32_t DecodeHost(ParsedURL& url);

// One decoding pass over `length` bytes of `in` into `out` (room for `length` bytes: a pass
// never lengthens its input; `out` may be `in`). Returns the output length; sets *ideographic
// when it turned a full-stop character into ".".
size_t DecodeHostPass(const char* in, size_t length, char* out, bool* ideographic);

// Removes every EF BB BF that starts at least three bytes before the end, in place; returns the
// new length.
size_t StripByteOrderMarks(char* text, size_t length);

// True when the text starts with "ww", then one of "w", "1" to "5", then "." (ASCII, any case).
bool HasWwwPrefix(const char* text, size_t length);

// The offset in `text` where the domain walk puts the domain: after the second "." from the end
// unless the tail from there is a registration suffix, then after the third; 0 when the walk
// ends without one. `text` is already folded to lower case.
size_t DomainStart(const char* text, size_t length);

// True when the bytes are exactly one of the registration suffixes (leading "." included).
bool IsRegistrationSuffix(const char* text, size_t length);

// The registration suffixes, in byte order (registration_suffix_table.cpp, which checks the count).
constexpr size_t kRegistrationSuffixCount = 984;
extern const char* const kRegistrationSuffixes[];

}  // namespace nsEmlComponents

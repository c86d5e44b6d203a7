// The URL keys: decoding of the host, www prefix, port, sub-domain, the domain walk over the
// registration suffixes, and the URL from its host on.
//
// Cost per record: every step works on the record's own texts and small stack buffers; a key
// needs a heap block only when its text, with its terminator, no longer fits an sstring's inline
// buffer (24 bytes), and hosts longer than kStackHost bytes decode through one temporary block.
#include "engines/urlparser/urlparser.h"

#include <cstring>

#include "common/ascii.h"
#include "common/ashooks_access.h"

namespace nsEmlComponents {

using ascommon::sstring;

namespace {

// Hosts up to this many bytes decode on the stack.
constexpr size_t kStackHost = 256;

int HexValue(unsigned char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// U+3002, U+FF0E, U+FF61 in UTF-8.
bool IsFullStopSequence(const unsigned char* p) {
    if (p[0] == 0xE3) return p[1] == 0x80 && p[2] == 0x82;
    if (p[0] == 0xEF) return (p[1] == 0xBC && p[2] == 0x8E) || (p[1] == 0xBD && p[2] == 0xA1);
    return false;
}

bool IsCSpace(unsigned char c) {
    return c == ' ' || (c >= '\t' && c <= '\r');
}

// The C runtime's strtol over [begin, end): blanks, a sign, decimal digits. Without digits the
// value is 0 and the number ends where it began. Large values saturate above any port.
int64_t ReadDecimal(const char* text, size_t begin, size_t end, size_t* numberEnd) {
    size_t p = begin;
    while (p < end && IsCSpace(static_cast<unsigned char>(text[p]))) ++p;
    bool negative = false;
    if (p < end && (text[p] == '+' || text[p] == '-')) {
        negative = text[p] == '-';
        ++p;
    }
    const size_t digits = p;
    int64_t value = 0;
    while (p < end && text[p] >= '0' && text[p] <= '9') {
        if (value < 1000000) value = value * 10 + (text[p] - '0');
        ++p;
    }
    if (p == digits) {
        *numberEnd = begin;
        return 0;
    }
    *numberEnd = p;
    return negative ? -value : value;
}

// Only "%" and the lead bytes of the full stops and of the byte-order mark (E3, EF) can change
// a host in decoding; most hosts have none.
bool MayChangeInDecoding(const char* text, size_t length) {
    for (size_t i = 0; i < length; ++i) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        if (c == '%' || c == 0xE3 || c == 0xEF) return true;
    }
    return false;
}

bool IsAscii(const char* text, size_t length) {
    for (size_t i = 0; i < length; ++i) {
        if (static_cast<unsigned char>(text[i]) >= 0x80) return false;
    }
    return true;
}

// Open-addressed index over the suffix table, built on first use (thread-safe static).
class SuffixIndex {
  public:
    SuffixIndex() : m_slots(), m_lengths(), m_shortest(SIZE_MAX), m_longest(0) {
        for (size_t e = 0; e < kRegistrationSuffixCount; ++e) {
            const char* text = kRegistrationSuffixes[e];
            const size_t length = std::strlen(text);
            m_lengths[e] = static_cast<uint8_t>(length);
            if (length < m_shortest) m_shortest = length;
            if (length > m_longest) m_longest = length;
            size_t slot = Hash(text, length) & kMask;
            while (m_slots[slot] != 0) slot = (slot + 1) & kMask;
            m_slots[slot] = static_cast<uint16_t>(e + 1);
        }
    }

    bool Contains(const char* text, size_t length) const {
        if (length < m_shortest || length > m_longest) return false;
        for (size_t slot = Hash(text, length) & kMask; m_slots[slot] != 0;
             slot = (slot + 1) & kMask) {
            const size_t e = m_slots[slot] - 1u;
            if (m_lengths[e] == length &&
                std::memcmp(kRegistrationSuffixes[e], text, length) == 0) {
                return true;
            }
        }
        return false;
    }

    size_t longest() const { return m_longest; }

  private:
    static constexpr size_t kSlots = 2048;  // a power of two, about twice the entries
    static constexpr size_t kMask = kSlots - 1;
    static_assert(kRegistrationSuffixCount < kSlots / 2, "suffix index too full");

    static uint32_t Hash(const char* text, size_t length) {
        uint32_t h = 2166136261u;  // FNV-1a
        for (size_t i = 0; i < length; ++i) {
            h = (h ^ static_cast<unsigned char>(text[i])) * 16777619u;
        }
        return h ^ (h >> 15);
    }

    uint16_t m_slots[kSlots];  // entry + 1; 0 is free
    uint8_t m_lengths[kRegistrationSuffixCount];
    size_t m_shortest;
    size_t m_longest;
};

const SuffixIndex& Suffixes() {
    static const SuffixIndex index;
    return index;
}

// The tail folded to lower case (ASCII) is a suffix; a tail longer than every suffix is not.
bool IsFoldedSuffix(const char* tail, size_t length) {
    const SuffixIndex& index = Suffixes();
    char folded[64];
    if (length > index.longest() || length > sizeof(folded)) return false;
    for (size_t i = 0; i < length; ++i) folded[i] = ascommon::AsciiToLower(tail[i]);
    return index.Contains(folded, length);
}

void MakeEmpty(sstring& key) {
    key = "";  // inline: cannot fail
}

}  // namespace

size_t DecodeHostPass(const char* in, size_t length, char* out, bool* ideographic) {
    const unsigned char* p = reinterpret_cast<const unsigned char*>(in);
    size_t i = 0;
    size_t w = 0;
    // Writes never pass reads (w <= i), so out may be in.
    while (length - i >= 3) {
        const unsigned char c = p[i];
        if (c == '%') {
            const int high = HexValue(p[i + 1]);
            const int low = HexValue(p[i + 2]);
            if (high >= 0 && low >= 0) {
                const int value = high * 16 + low;
                if (value != 0 && value < 127) {
                    out[w++] = static_cast<char>(value);
                    i += 3;
                    continue;
                }
            }
        } else if (c >= 129 && IsFullStopSequence(p + i)) {
            out[w++] = '.';
            *ideographic = true;
            i += 3;
            continue;
        }
        out[w++] = static_cast<char>(c);
        ++i;
    }
    while (i < length) out[w++] = static_cast<char>(p[i++]);
    return w;
}

size_t StripByteOrderMarks(char* text, size_t length) {
    const unsigned char* p = reinterpret_cast<const unsigned char*>(text);
    size_t w = 0;
    size_t i = 0;
    while (i < length) {
        if (length - i >= 3 && p[i] == 0xEF && p[i + 1] == 0xBB && p[i + 2] == 0xBF) {
            i += 3;
            continue;
        }
        text[w++] = text[i++];
    }
    return w;
}

bool HasWwwPrefix(const char* text, size_t length) {
    if (text == nullptr || length < 4) return false;
    using ascommon::AsciiToLower;
    if (AsciiToLower(text[0]) != 'w' || AsciiToLower(text[1]) != 'w' || text[3] != '.')
        return false;
    const char third = AsciiToLower(text[2]);
    return third == 'w' || (third >= '1' && third <= '5');
}

bool IsRegistrationSuffix(const char* text, size_t length) {
    return text != nullptr && Suffixes().Contains(text, length);
}

size_t DomainStart(const char* text, size_t length) {
    int dots = 0;
    for (size_t i = length; i-- > 0;) {
        if (text[i] != '.') continue;
        ++dots;
        if (dots == 2) {
            if (!IsFoldedSuffix(text + i, length - i)) return i + 1;
        } else if (dots == 3) {
            return i + 1;
        }
    }
    return 0;
}

int32_t DecodeHost(ParsedURL& url) {
    if (url.m_decodedHost.length() != 0) return 0;
    const char* source = url.m_host.c_str();
    const size_t length = source != nullptr ? url.m_host.length() : 0;
    if (length == 0) {
        MakeEmpty(url.m_decodedHost);
        return 0;
    }
    if (!MayChangeInDecoding(source, length)) {
        return url.m_decodedHost.assign(source, length) != 0 ? ascommon::kNoBuffer : 0;
    }
    char stackBuffer[kStackHost];
    char* buffer = stackBuffer;
    if (length > kStackHost) {
        buffer = static_cast<char*>(ascommon::MemAlloc(length));
        if (buffer == nullptr) return ascommon::kNoBuffer;
    }
    bool ideographic = false;
    size_t decoded = DecodeHostPass(source, length, buffer, &ideographic);
    // Every change shortens the text, so a first pass that kept the length changed nothing and
    // the second would not either.
    if (decoded != length) decoded = DecodeHostPass(buffer, decoded, buffer, &ideographic);
    if (url.m_stripBOM) decoded = StripByteOrderMarks(buffer, decoded);
    const int32_t status = url.m_decodedHost.assign(buffer, decoded) != 0 ? ascommon::kNoBuffer : 0;
    if (buffer != stackBuffer) ascommon::MemFree(buffer);
    if (status != 0) return status;
    if (ideographic) url.m_ideographicDot = true;
    return 0;
}

int32_t ComputeSubDomain(ParsedURL& url) {
    if (url.m_subDomain.length() != 0) return 0;
    if (DecodeHost(url) != 0) return ascommon::kNoBuffer;
    const char* host = url.m_decodedHost.c_str();
    size_t length = host != nullptr ? url.m_decodedHost.length() : 0;
    url.m_wwwPrefix = HasWwwPrefix(host, length);

    auto fail = [&url]() {
        MakeEmpty(url.m_subDomain);
        return kUrlKeyFailed;
    };

    size_t end = length;
    for (size_t i = length; i-- > 1;) {
        if (host[i] != ':') continue;
        size_t numberEnd = 0;
        const int64_t port = ReadDecimal(host, i + 1, length, &numberEnd);
        if (port < 0 || port > kMaxPort) return fail();
        url.m_port = static_cast<int32_t>(port);
        end = i;
        const size_t trailing = length - numberEnd;
        if (trailing > 1) {
            // Text after the port is not part of the URL: only a bare host may lose it.
            if (url.m_pathLength != 0 || url.m_queryLength != 0 || url.m_fragmentLength != 0) {
                return fail();
            }
            if (url.m_decodedHost.assign(host, numberEnd) != 0) return ascommon::kNoBuffer;
            host = url.m_decodedHost.c_str();
            length = numberEnd;
            const char* text = url.m_url.c_str();
            if (text != nullptr) {
                const uint64_t urlLength = url.m_url.length();
                const uint64_t kept = urlLength > trailing ? urlLength - trailing : 0;
                if (url.m_url.assign(text, kept) != 0) return ascommon::kNoBuffer;
            }
        }
        break;
    }

    size_t start = url.m_wwwPrefix ? 4 : 0;
    if (end < start) end = start;
    if (end > start && host[end - 1] == '.') --end;
    if (url.m_subDomain.assign(host != nullptr ? host + start : "", end - start) != 0) {
        MakeEmpty(url.m_subDomain);
        return ascommon::kNoBuffer;
    }
    return 0;
}

int32_t ComputeDomain(ParsedURL& url) {
    if (url.m_domain.length() != 0) return 0;
    auto fail = [&url](int32_t status) {
        MakeEmpty(url.m_domain);
        return status;
    };

    const int32_t status = ComputeSubDomain(url);
    if (status != 0) return fail(status);
    const sstring& sub = url.m_subDomain;
    const char* text = sub.c_str();
    const size_t length = sub.length();

    if (url.m_hostKind == kHostIPv4 || url.m_hostKind == kHostIPv6) {
        if (url.m_domain.assign(text, length) != 0) return fail(ascommon::kNoBuffer);
    } else if (IsAscii(text, length)) {
        // Folding ASCII is byte for byte, so the walk may run before it.
        const size_t start = DomainStart(text, length);
        if (url.m_domain.assign(text + start, length - start) != 0)
            return fail(ascommon::kNoBuffer);
        ascommon::AsciiLowerInPlace(url.m_domain.data(), length - start);
    } else {
        sstring folded(sub);
        if (folded.last_error() != 0) return fail(ascommon::kNoBuffer);
        const int32_t folding = folded.UTF8_tolower(true);  // traces invalid UTF-8 itself
        if (folding != 0)
            return fail(folding == ascommon::kNoBuffer ? ascommon::kNoBuffer : kUrlKeyInvalidUtf8);
        const size_t start = DomainStart(folded.c_str(), folded.length());
        if (url.m_domain.assign(folded.c_str() + start, folded.length() - start) != 0) {
            return fail(ascommon::kNoBuffer);
        }
    }
    return 0;
}

const sstring& GetSubDomain(ParsedURL& url) {
    ComputeSubDomain(url);
    return url.m_subDomain;
}

const sstring& GetDomain(ParsedURL& url) {
    ComputeDomain(url);
    return url.m_domain;
}

const char* UrlFromHost(const ParsedURL& url, uint64_t* length) {
    *length = 0;
    const char* text = url.m_url.c_str();
    if (text == nullptr) return "";
    const uint64_t total = url.m_url.length();
    const uint64_t skip = url.m_wwwPrefix ? 4 : 0;
    if (url.m_hostOffset > total || total - url.m_hostOffset < skip) return "";
    const uint64_t start = url.m_hostOffset + skip;
    *length = total - start;
    return text + start;
}

sstring GetUrlFromHost(const ParsedURL& url) {
    uint64_t length = 0;
    const char* text = UrlFromHost(url, &length);
    sstring key;
    if (key.assign(text, length) != 0) MakeEmpty(key);
    return key;
}

}  // namespace nsEmlComponents

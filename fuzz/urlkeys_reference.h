// A plain reference of the URL keys of ParsedURL, shared by the key tests and the keys' fuzz
// target: the rules written out over std::string, strtol and a std::set of the registration
// suffixes, with no state kept between calls. Any thread.
#pragma once

#include <cctype>
#include <cstdlib>
#include <set>
#include <string>
#include <tuple>

#include "engines/urlparser/urlparser.h"
#include "fuzz/fuzz_support.h"

namespace reference {

// Every key of a record: decoded host, full stop decoded, www prefix, port, sub-domain status
// and text, domain status and text, the URL (shortened by text after a port) and its key.
typedef std::tuple<std::string, bool, bool, int32_t, int32_t, std::string, int32_t, std::string,
                   std::string, std::string>
    UrlKeys;

inline const std::set<std::string>& SuffixSet() {
    static const std::set<std::string> set(
        nsEmlComponents::kRegistrationSuffixes,
        nsEmlComponents::kRegistrationSuffixes + nsEmlComponents::kRegistrationSuffixCount);
    return set;
}

// What the record's own functions give, in the URL filter's order: domain, then sub-domain.
inline UrlKeys KeysOf(nsEmlComponents::ParsedURL& r) {
    const int32_t domain = ComputeDomain(r), sub = ComputeSubDomain(r);
    return UrlKeys(fuzz::Text(r.m_decodedHost), r.m_ideographicDot, r.m_wwwPrefix, r.m_port, sub,
                   fuzz::Text(GetSubDomain(r)), domain, fuzz::Text(GetDomain(r)),
                   fuzz::Text(r.m_url), fuzz::Text(GetUrlFromHost(r)));
}

// One decoding pass: %XX of 1..126 and the three full-stop characters.
inline std::string DecodePass(const std::string& in, bool* ideographic) {
    std::string out;
    size_t i = 0;
    for (; i + 3 <= in.size(); ++i) {
        const std::string three = in.substr(i, 3);
        const bool hex = three[0] == '%' && std::isxdigit(static_cast<unsigned char>(three[1])) &&
                         std::isxdigit(static_cast<unsigned char>(three[2]));
        const long value = hex ? std::strtol(three.c_str() + 1, nullptr, 16) : 0;
        const bool stop =
            three == "\343\200\202" || three == "\357\274\216" || three == "\357\275\241";
        *ideographic = *ideographic || stop;
        out += stop ? '.' : value > 0 && value < 127 ? static_cast<char>(value) : in[i];
        if (stop || (value > 0 && value < 127)) i += 2;
    }
    return out + in.substr(i);
}

// The keys of a record as the host filled it (before any key was asked for).
inline UrlKeys PlainKeys(const nsEmlComponents::ParsedURL& record) {
    using namespace nsEmlComponents;
    bool ideographic = false;
    std::string h = DecodePass(DecodePass(fuzz::Text(record.m_host), &ideographic), &ideographic);
    for (size_t p = 0; record.m_stripBOM && (p = h.find("\357\273\277", p)) != h.npos;)
        h.erase(p, 3);
    auto lower = [&h](size_t i) { return std::tolower(static_cast<unsigned char>(h[i])); };
    const bool www = h.size() >= 4 && lower(0) == 'w' && lower(1) == 'w' && h[3] == '.' &&
                     (lower(2) == 'w' || (h[2] >= '1' && h[2] <= '5'));
    std::string url = fuzz::Text(record.m_url);
    auto key = [&url, &record, www] {
        const size_t from = record.m_hostOffset + (www ? 4 : 0);
        return record.m_hostOffset <= url.size() && from <= url.size() ? url.substr(from) : "";
    };
    int32_t port = kNoPort;
    size_t end = h.size();
    const size_t colon = h.find_last_of(':');  // the last one, after the first byte
    if (colon != h.npos && colon >= 1) {
        const std::string after = h.substr(colon + 1);
        char* stop = nullptr;
        const long number = std::strtol(after.c_str(), &stop, 10);
        const size_t trailing = after.size() - (stop - after.c_str());
        if (number >= 0 && number <= kMaxPort) port = static_cast<int32_t>(number);
        if (number < 0 || number > kMaxPort ||
            (trailing > 1 && record.m_pathLength + record.m_queryLength + record.m_fragmentLength))
            return UrlKeys(h, ideographic, www, port, kUrlKeyFailed, "", kUrlKeyFailed, "", url,
                           key());
        end = colon;
        if (trailing > 1) {
            h.resize(h.size() - trailing);
            url.resize(url.size() > trailing ? url.size() - trailing : 0);
        }
    }
    const size_t start = www ? 4 : 0;
    if (end > start && h[end - 1] == '.') --end;
    const std::string sub = end > start ? h.substr(start, end - start) : "";
    if (record.m_hostKind == kHostIPv4 || record.m_hostKind == kHostIPv6)
        return UrlKeys(h, ideographic, www, port, 0, sub, 0, sub, url, key());
    ascommon::sstring folded = fuzz::Bytes(sub);
    if (folded.UTF8_tolower(true) != 0)
        return UrlKeys(h, ideographic, www, port, 0, sub, kUrlKeyInvalidUtf8, "", url, key());
    const std::string f = fuzz::Text(folded);
    std::string domain = f;
    for (size_t i = f.size(), dots = 0; i-- > 0;) {
        if (f[i] != '.' || (++dots == 2 && SuffixSet().count(f.substr(i)))) continue;
        if (dots >= 2) {
            domain = f.substr(i + 1);
            break;
        }
    }
    return UrlKeys(h, ideographic, www, port, 0, sub, 0, domain, url, key());
}

}  // namespace reference

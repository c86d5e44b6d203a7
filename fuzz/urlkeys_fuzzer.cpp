// Fuzz target: the URL keys of ParsedURL on hostile URL text. The first byte sets byte-order-mark
// stripping and may force the host kind; the rest is the URL as the host's URL finder records it
// (FillParsedURL), whose keys are then taken in the URL filter's order: domain, sub-domain, URL
// from the host on. Checks: the statuses are those urlparser.h lists, keys are computed once and
// then stay, the domain is a tail of the folded sub-domain (for names: at most three labels), the
// URL key is a tail of the URL text, and a second record of the same URL gives the same keys.
#include <cstring>
#include <string>

#include "engines/urlparser/urlparser.h"
#include "fuzz/fuzz_support.h"
#include "host/message_builder.h"

namespace {

using namespace nsEmlComponents;

std::string Text(const ascommon::sstring& s) {
    return s.c_str() ? std::string(s.c_str(), s.length()) : std::string();
}

struct Keys {
    int32_t domainStatus, subStatus;
    std::string domain, sub, url;
    bool operator==(const Keys& o) const {
        return domainStatus == o.domainStatus && subStatus == o.subStatus && domain == o.domain &&
               sub == o.sub && url == o.url;
    }
};

Keys Take(const std::string& url, uint8_t flags) {
    ParsedURL record;
    host::FillParsedURL(url, &record);
    record.m_stripBOM = flags & 1;
    if (flags & 2) record.m_hostKind = (flags >> 2) % 3;
    Keys keys;
    keys.domainStatus = ComputeDomain(record);
    keys.subStatus = ComputeSubDomain(record);
    keys.domain = Text(GetDomain(record));
    keys.sub = Text(GetSubDomain(record));
    keys.url = Text(GetUrlFromHost(record));
    uint64_t length = 0;
    const char* fromHost = UrlFromHost(record, &length);
    FUZZ_CHECK(std::string(fromHost, length) == keys.url, "the two URL keys differ");
    FUZZ_CHECK(ComputeDomain(record) == keys.domainStatus && Text(GetDomain(record)) == keys.domain,
               "the domain changed when asked again");

    for (int32_t status : {keys.domainStatus, keys.subStatus}) {
        FUZZ_CHECK(status == 0 || status == kUrlKeyFailed || status == kUrlKeyInvalidUtf8,
                   "status %d", status);
    }
    FUZZ_CHECK(keys.subStatus != kUrlKeyInvalidUtf8, "a sub-domain never checks UTF-8");
    if (keys.subStatus != 0) FUZZ_CHECK(keys.sub.empty() && keys.domain.empty(), "failed keys");
    const std::string text = Text(record.m_url);
    FUZZ_CHECK(keys.url.size() <= text.size() &&
                   text.compare(text.size() - keys.url.size(), keys.url.size(), keys.url) == 0,
               "the URL key is not a tail of the URL");
    FUZZ_CHECK(keys.sub.size() <= Text(record.m_decodedHost).size(), "sub-domain too long");

    const bool ascii = [&] {
        for (char c : keys.sub) {
            if (static_cast<unsigned char>(c) >= 0x80) return false;
        }
        return true;
    }();
    if (keys.domainStatus == 0 && ascii) {
        std::string folded = keys.sub;
        if (record.m_hostKind == kHostName) {
            for (char& c : folded) c = (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c;
            size_t dots = 0;
            for (char c : keys.domain) dots += c == '.';
            FUZZ_CHECK(dots <= 2, "domain %s has more than three labels", keys.domain.c_str());
        }
        FUZZ_CHECK(keys.domain.size() <= folded.size() &&
                       folded.compare(folded.size() - keys.domain.size(), keys.domain.size(),
                                      keys.domain) == 0,
                   "domain %s is no tail of %s", keys.domain.c_str(), folded.c_str());
    }
    return keys;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::Input input(data, size);
    const uint8_t flags = input.Byte();
    const std::string url = input.Rest();
    const Keys first = Take(url, flags);
    FUZZ_CHECK(Take(url, flags) == first, "a second record of the URL gives other keys");
    return 0;
}

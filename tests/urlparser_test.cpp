// The URL keys of ParsedURL: the registration suffix table; the sub-domain, the domain and the URL
// from its host on, pinned for hosts where the three differ and in either order of asking;
// decoding, www prefix and port; odd records; hostile hosts and failed allocations. The plain
// reference of the key rules (fuzz/urlkeys_reference.h) meets edge-case and random hosts in the
// corpus of the urlkeys fuzz target (FuzzReplay.urlkeys).
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <tuple>
#include <vector>

#include "engines/urlparser/urlparser.h"
#include "fuzz/urlkeys_reference.h"
#include "host/host_hooks.h"

using namespace nsEmlComponents;

namespace {

// A key's text; "<null>" shows a key that is null, which none may be.
std::string Str(const ascommon::sstring& s) {
    return s.c_str() ? std::string(s.c_str(), s.length()) : std::string("<null>");
}

// Flags of the tables' kind column: the URL has a path, a query or a fragment after the host;
// decoding strips byte-order marks.
constexpr uint32_t kPath = 0x100, kQuery = 0x200, kFragment = 0x400, kStrip = 0x800;

// A record for http://<host>[/p][?q][#f], as a host would fill it.
ParsedURL Record(const std::string& host, uint32_t kind = kHostName) {
    ParsedURL r;
    r.m_pathLength = (kind & kPath) ? 2 : 0;
    r.m_queryLength = (kind & kQuery) ? 2 : 0;
    r.m_fragmentLength = (kind & kFragment) ? 2 : 0;
    const std::string url = "http://" + host + std::string("/p", r.m_pathLength) +
                            std::string("?q", r.m_queryLength) +
                            std::string("#f", r.m_fragmentLength);
    r.m_url.assign(url.data(), url.size());
    r.m_hostOffset = 7;
    r.m_host.assign(host.data(), host.size());
    r.m_hostKind = kind & 0xFF;
    r.m_stripBOM = (kind & kStrip) != 0;
    return r;
}

}  // namespace

// 984 distinct entries in byte order (982 second-level labels under 115 top-level domains, and
// .lkd.co.im and .plc.co.im), pinned whole by an FNV-1a digest over the entries and their NULs;
// the index answers like a plain set for every entry and for near misses of each.
TEST(SuffixTableTest, HoldsThePublishedSetAndLooksUpLikeAPlainSet) {
    const auto& set = reference::SuffixSet();
    ASSERT_EQ(set.size(), 984u);
    EXPECT_TRUE(std::is_sorted(kRegistrationSuffixes,
                               kRegistrationSuffixes + kRegistrationSuffixCount,
                               [](const char* a, const char* b) { return std::strcmp(a, b) < 0; }));
    uint64_t digest = 14695981039346656037ull;
    for (const char* entry : std::vector<const char*>(
             kRegistrationSuffixes, kRegistrationSuffixes + kRegistrationSuffixCount)) {
        for (size_t i = 0; i <= std::strlen(entry); ++i)
            digest = (digest ^ static_cast<unsigned char>(entry[i])) * 1099511628211ull;
    }
    EXPECT_EQ(digest, 0xf2d32febc8184e4cull);
    for (const std::string& s : set) {
        std::string upper = s;
        upper[1] = static_cast<char>(std::toupper(upper[1]));  // the lookup does not fold
        for (const std::string& p : {s, s.substr(1), s + ".", "." + s, s + "x",
                                     s.substr(0, s.size() - 1), "x" + s.substr(1), upper}) {
            EXPECT_EQ(IsRegistrationSuffix(p.data(), p.size()), set.count(p) == 1) << p;
        }
    }
    EXPECT_FALSE(IsRegistrationSuffix(nullptr, 0));
}

// Every key of a host, asked sub-domain first and, on a second record, domain first; each key
// computed once and kept. The first rows have sub-domain, domain and URL key all different, so
// that any two of them swapped fail. Decoding takes only two passes, and byte-order marks go in
// one sweep, without a rescan. Ports up to 65534; text after the port fails the keys of a URL
// that goes on after its host. Addresses are their own domain, not folded; unknown kinds are
// names.
TEST(ParsedUrlTest, KeysOfOneHost) {
    const int32_t kFailed = kUrlKeyFailed, kBadUtf8 = kUrlKeyInvalidUtf8, kNone = kNoPort;
    // host, kind, domain status, sub-domain, port, www prefix, domain, URL from the host on
    typedef std::tuple<std::string, uint32_t, int32_t, std::string, int32_t, bool, std::string,
                       std::string>
        Row;
    // clang-format off
    const Row rows[] = {
        {"WWW.Mail.Example.CO.UK.:8080", kPath, 0, "Mail.Example.CO.UK", 8080, true, "example.co.uk", "Mail.Example.CO.UK.:8080/p"},
        {"a.b.c.Tld", kQuery, 0, "a.b.c.Tld", kNone, false, "c.tld", "a.b.c.Tld?q"},
        {"%2541bc.tld", 0, 0, "Abc.tld", kNone, false, "abc.tld", "%2541bc.tld"},
        {"%252541", 0, 0, "%41", kNone, false, "%41", "%252541"},
        {"\357\357\273\277\273\277", kStrip, 0, "\357\273\277", kNone, false, "\357\273\277", "\357\357\273\277\273\277"},
        {"Ww1.name.tld", 0, 0, "name.tld", kNone, true, "name.tld", "name.tld"},
        {"ww5.a.b.tld", 0, 0, "a.b.tld", kNone, true, "b.tld", "a.b.tld"},
        {"ww0.name.tld", 0, 0, "ww0.name.tld", kNone, false, "name.tld", "ww0.name.tld"},
        {"ww6.name.tld", 0, 0, "ww6.name.tld", kNone, false, "name.tld", "ww6.name.tld"},
        {"www3.name.tld", 0, 0, "www3.name.tld", kNone, false, "name.tld", "www3.name.tld"},
        {"www.", 0, 0, "", kNone, true, "", ""},
        {"www", 0, 0, "www", kNone, false, "www", "www"},
        {"name.tld:65534", 0, 0, "name.tld", 65534, false, "name.tld", "name.tld:65534"},
        {"name.tld:65535", 0, kFailed, "", kNone, false, "", "name.tld:65535"},
        {"name.tld:80xy", 0, 0, "name.tld", 80, false, "name.tld", "name.tld:80"},
        {"name.tld:80xy", kPath, kFailed, "", 80, false, "", "name.tld:80xy/p"},
        {"name.tld:80xy", kQuery, kFailed, "", 80, false, "", "name.tld:80xy?q"},
        {"name.tld:80xy", kFragment, kFailed, "", 80, false, "", "name.tld:80xy#f"},
        {"[::1]:8080", kHostIPv6, 0, "[::1]", 8080, false, "[::1]", "[::1]:8080"},
        {"a.\303.tld", 0, kBadUtf8, "a.\303.tld", kNone, false, "", "a.\303.tld"},
        {"10.0.0.1", kHostIPv4, 0, "10.0.0.1", kNone, false, "10.0.0.1", "10.0.0.1"},
        {"Host.A.B.Example", kHostIPv4, 0, "Host.A.B.Example", kNone, false, "Host.A.B.Example", "Host.A.B.Example"},
        {"a.b.co.uk", 7, 0, "a.b.co.uk", kNone, false, "b.co.uk", "a.b.co.uk"}};
    // clang-format on
    host::CaptureTraces(3);
    for (const Row& row : rows) {
        const std::string& name = std::get<0>(row);
        const uint32_t kind = std::get<1>(row);
        ParsedURL r = Record(name, kind), d = Record(name, kind);
        const std::string sub = Str(GetSubDomain(r));
        const int32_t status = ComputeDomain(r);
        EXPECT_EQ(Row(name, kind, status, sub, r.m_port, r.m_wwwPrefix, Str(GetDomain(r)),
                      Str(GetUrlFromHost(r))),
                  row);
        EXPECT_EQ(ComputeDomain(r), status) << name;  // the same answer when asked again
        EXPECT_EQ(Str(GetDomain(d)), std::get<6>(row)) << name;
        EXPECT_EQ(Str(GetSubDomain(d)), std::get<3>(row)) << name;
    }
    const auto traces = host::TakeTraces();
    host::CaptureTraces(0);
    ASSERT_EQ(traces.size(), 4u);  // the folding's own line, for each try of the bad host
    EXPECT_NE(traces[0].find("[sstring::UTF8_tolower] invalid UTF-8 buffer"), std::string::npos);
}

// The URL key of records the host filled oddly: the www skip happens only once a key found the
// prefix, and a start past the text gives an empty key. A record never filled has empty keys. A
// key counts as computed when it holds text.
TEST(ParsedUrlTest, OddRecords) {
    // URL, host offset, host, domain and sub-domain taken before the URL key, the key
    // clang-format off
    const std::tuple<std::string, uint64_t, std::string, bool, std::string> rows[] = {
        {"http://www.name.tld/x?y", 7, "www.name.tld", false, "www.name.tld/x?y"}, {"http://x", 8, "", true, ""},
        {"http://x", 9, "x", true, ""}, {"ab", 0, "www.a", true, ""}, {std::string("h\0t://x", 7), 6, "x", true, "x"}};
    // clang-format on
    for (const auto& [url, offset, name, keysFirst, key] : rows) {
        ParsedURL r;
        r.m_url.assign(url.data(), url.size());
        r.m_hostOffset = offset;
        r.m_host.assign(name.data(), name.size());
        if (keysFirst) GetDomain(r);
        EXPECT_EQ(Str(GetUrlFromHost(r)), key) << url;
        uint64_t length = 99;
        const char* view = UrlFromHost(r, &length);
        ASSERT_NE(view, nullptr);
        EXPECT_EQ(std::string(view, length + 1), key + '\0') << url;  // NUL-terminated in place
    }
    ParsedURL empty;
    EXPECT_EQ(Str(GetUrlFromHost(empty)) + Str(GetDomain(empty)) + Str(GetSubDomain(empty)), "");

    // A record reused for another URL with its keys emptied is keyed again; a key the host
    // filled in itself is taken as it is.
    ParsedURL r = Record("a.first.example");
    EXPECT_EQ(Str(GetDomain(r)), "first.example");
    r.m_host = "b.second.example";
    r.m_decodedHost = r.m_subDomain = r.m_domain = "";
    EXPECT_EQ(Str(GetDomain(r)) + " " + Str(GetSubDomain(r)), "second.example b.second.example");
    r.m_subDomain = "Preset.Host.example";
    r.m_domain = "";
    EXPECT_EQ(Str(GetDomain(r)), "host.example");
}

// Hosts no one writes: huge, NULs inside, every byte value; nothing may read past a buffer
// (run under ASan). Failed allocations leave keys empty and are not kept.
TEST(ParsedUrlTest, HostileHostsAndFailedAllocations) {
    std::string big;
    for (int i = 0; i < 200000; ++i) big += "ab%2E";
    ParsedURL r = Record(big + "x.Co.Uk:80");
    EXPECT_EQ(Str(GetDomain(r)), "x.co.uk");
    EXPECT_EQ(r.m_port, 80);
    EXPECT_EQ(GetSubDomain(r).length(), 200000u * 3 + 7);
    ParsedURL nul = Record(std::string("a\0b.c\0d.CO.uk", 13));
    EXPECT_EQ(Str(GetDomain(nul)), std::string("c\0d.co.uk", 9));
    std::string bytes;
    for (int b = 255; b >= 0; --b) bytes += static_cast<char>(b);
    for (uint32_t kind = 0; kind < 3; ++kind) {
        ParsedURL all = Record(bytes, kind | kPath | kStrip);
        EXPECT_EQ(reference::KeysOf(all),
                  reference::PlainKeys(Record(bytes, kind | kPath | kStrip)));
    }

    ParsedURL longHost = Record(std::string(300, 'a') + "%2Etld");  // decodes in a heap block
    for (uint64_t failing : {1, 2}) {  // the decoding's block, the decoded host's
        host::FailAllocationNumber(failing);
        EXPECT_EQ(ComputeDomain(longHost), ascommon::kNoBuffer);
        host::FailAllocationNumber(0);
    }
    EXPECT_EQ(Str(GetDomain(longHost)), std::string(300, 'a') + ".tld");  // tried again
    ParsedURL s = Record(std::string(40, 'b') + ".tld");
    DecodeHost(s);
    host::FailAllocationNumber(1);  // the sub-domain's own block
    EXPECT_EQ(ComputeSubDomain(s), ascommon::kNoBuffer);
    host::FailAllocationNumber(0);
    EXPECT_EQ(Str(s.m_subDomain), "");
    EXPECT_EQ(ComputeSubDomain(s), 0);
    EXPECT_EQ(GetSubDomain(s).length(), 44u);
}

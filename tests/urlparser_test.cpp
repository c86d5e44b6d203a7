// The URL keys of ParsedURL: decoding, www prefix, port, sub-domain, the domain walk over the
// registration suffixes, the URL from its host on; the suffix table itself; the host builder's
// URL records. A plain std::string reference of the key rules (urlparser.h) checks edge-case and
// random hosts; the tables hold what it cannot reach or what urlparser.h names.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <map>
#include <random>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "engines/urlparser/urlparser.h"
#include "host/host_hooks.h"
#include "host/message_builder.h"

using namespace nsEmlComponents;

namespace {

// A key's text; never null, even when the key cannot be computed.
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

const std::set<std::string> kSuffixSet(kRegistrationSuffixes,
                                       kRegistrationSuffixes + kRegistrationSuffixCount);

}  // namespace

// 984 entries in byte order: 982 second-level labels under 115 top-level domains, and two
// three-label entries.
TEST(SuffixTableTest, HoldsTheFullSetInByteOrder) {
    ASSERT_EQ(kRegistrationSuffixCount, 984u);
    EXPECT_TRUE(std::is_sorted(kRegistrationSuffixes,
                               kRegistrationSuffixes + kRegistrationSuffixCount,
                               [](const char* a, const char* b) { return std::string(a) < b; }));
    EXPECT_EQ(kSuffixSet.size(), 984u);  // no repeats
    std::set<std::string> tlds, threeLabels;
    std::map<std::string, int> seconds;
    int comNetOrg = 0;
    for (const std::string& s : kSuffixSet) {
        ASSERT_EQ(s[0], '.') << s;
        const size_t dot = s.find('.', 1);
        const std::string tld = s.substr(dot + 1);
        if (tld.find('.') != std::string::npos) {
            threeLabels.insert(s);
            continue;
        }
        tlds.insert(tld);
        ++seconds[s.substr(1, dot - 1)];
        comNetOrg += tld == "com" || tld == "net" || tld == "org";
    }
    EXPECT_EQ(threeLabels, (std::set<std::string>{".lkd.co.im", ".plc.co.im"}));
    EXPECT_EQ(tlds.size(), 115u);
    EXPECT_EQ(comNetOrg, 21);
    const std::map<std::string, int> frequent = {{"org", 92}, {"net", 84}, {"com", 80},
                                                 {"gov", 63}, {"edu", 63}, {"co", 29},
                                                 {"ac", 29},  {"mil", 27}};
    for (const auto& f : frequent) EXPECT_EQ(seconds[f.first], f.second) << f.first;
}

// The index answers exactly like a plain set, for every entry and for near misses of each.
TEST(SuffixTableTest, LookupAgreesWithPlainSet) {
    for (const std::string& s : kSuffixSet) {
        std::string upper = s;
        upper[1] = static_cast<char>(std::toupper(upper[1]));  // the lookup does not fold
        for (const std::string& p : {s, s.substr(1), s + ".", "." + s, s + "x",
                                     s.substr(0, s.size() - 1), "x" + s.substr(1), upper}) {
            EXPECT_EQ(IsRegistrationSuffix(p.data(), p.size()), kSuffixSet.count(p) == 1) << p;
        }
    }
    EXPECT_FALSE(IsRegistrationSuffix(nullptr, 0));
}

// The sub-domain (decoding, www prefix, port) and the domain (the walk over the registration
// suffixes, folding) of one host, with the domain's status; computed once and kept.
TEST(ParsedUrlTest, SubDomainAndDomain) {
    const int32_t kFailed = kUrlKeyFailed;
    // host, kind, domain status, sub-domain, port, www prefix, domain
    typedef std::tuple<std::string, uint32_t, int32_t, std::string, int32_t, bool, std::string> Row;
    const Row rows[] = {
        {"%2541bc.tld", kHostName, 0, "Abc.tld", kNoPort, false, "abc.tld"},  // %41bc.tld, Abc.tld
        {"%252541", kHostName, 0, "%41", kNoPort, false, "%41"},  // only two decoding passes
        // Byte-order marks go in one sweep, without a rescan.
        {"\357\357\273\277\273\277", kStrip, 0, "\357\273\277", kNoPort, false, "\357\273\277"},
        {"WWW.Example.CO.UK.", kHostName, 0, "Example.CO.UK", kNoPort, true, "example.co.uk"},
        {"Ww1.name.tld", kHostName, 0, "name.tld", kNoPort, true, "name.tld"},
        {"ww0.name.tld", kHostName, 0, "ww0.name.tld", kNoPort, false, "name.tld"},
        {"ww5.a.b.tld", kHostName, 0, "a.b.tld", kNoPort, true, "b.tld"},
        {"ww6.name.tld", kHostName, 0, "ww6.name.tld", kNoPort, false, "name.tld"},
        {"www3.name.tld", kHostName, 0, "www3.name.tld", kNoPort, false, "name.tld"},
        {"www.", kHostName, 0, "", kNoPort, true, ""},
        {"www", kHostName, 0, "www", kNoPort, false, "www"},
        {"name.tld:65534", kHostName, 0, "name.tld", 65534, false, "name.tld"},
        {"name.tld:65535", kHostName, kFailed, "", kNoPort, false, ""},
        // Text after the port, in a URL that goes on after its host.
        {"name.tld:80xy", kHostName | kPath, kFailed, "", 80, false, ""},
        {"name.tld:80xy", kHostName | kQuery, kFailed, "", 80, false, ""},
        {"name.tld:80xy", kHostName | kFragment, kFailed, "", 80, false, ""},
        {"[::1]:8080", kHostIPv6, 0, "[::1]", 8080, false, "[::1]"},
        {"a.\303.tld", kHostName, kUrlKeyInvalidUtf8, "a.\303.tld", kNoPort, false, ""},
        // Addresses are their own domain, not folded; unknown kinds are names.
        {"10.0.0.1", kHostIPv4, 0, "10.0.0.1", kNoPort, false, "10.0.0.1"},
        {"Host.A.B.Example", kHostIPv4, 0, "Host.A.B.Example", kNoPort, false, "Host.A.B.Example"},
        {"a.b.co.uk", 7, 0, "a.b.co.uk", kNoPort, false, "b.co.uk"},
    };
    host::CaptureTraces(3);
    for (const Row& row : rows) {
        const std::string& name = std::get<0>(row);
        ParsedURL r = Record(name, std::get<1>(row));
        const int32_t status = ComputeDomain(r);
        EXPECT_EQ(Row(name, std::get<1>(row), status, Str(GetSubDomain(r)), r.m_port, r.m_wwwPrefix,
                      Str(GetDomain(r))),
                  row);
        EXPECT_EQ(ComputeDomain(r), status) << name;  // the same answer when asked again
    }
    const auto traces = host::TakeTraces();
    host::CaptureTraces(0);
    ASSERT_EQ(traces.size(), 3u);  // the folding's own line, once for each try of the bad host
    EXPECT_NE(traces[0].find("[sstring::UTF8_tolower] invalid UTF-8 buffer"), std::string::npos);
}

TEST(ParsedUrlTest, AKeyCountsAsComputedWhenItHoldsText) {
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

TEST(ParsedUrlTest, UrlFromHostOnWithoutWww) {
    // URL, host offset, host, domain and sub-domain taken before the URL key, the key
    const std::tuple<std::string, uint64_t, std::string, bool, std::string> rows[] = {
        {"http://www.name.tld/x?y", 7, "www.name.tld", true, "name.tld/x?y"},
        {"http://www.name.tld/x?y", 7, "www.name.tld", false, "www.name.tld/x?y"},  // too early
        {"http://x", 8, "", true, ""},
        {"http://x", 9, "x", true, ""},                   // offset past the text
        {"ab", 0, "www.a", true, ""},                     // www skip past the text
        {std::string("h\0t://x", 7), 6, "x", true, "x"},  // a NUL ahead of the host
    };
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
    ParsedURL empty;  // a record the host never filled
    EXPECT_EQ(Str(GetUrlFromHost(empty)), "");
    EXPECT_EQ(Str(GetDomain(empty)), "");
}

// Hosts no one writes: huge, NULs inside, every byte value; nothing may read past a buffer
// (run under ASan) and every block comes back. Failed allocations leave keys empty.
TEST(ParsedUrlTest, HostileHostsAndFailedAllocations) {
    const uint64_t live = host::Counters().liveBytes;
    {
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
            GetDomain(all);
            GetUrlFromHost(all);
        }

        ParsedURL longHost = Record(std::string(300, 'a') + "%2Etld");  // decodes in a heap block
        for (uint64_t failing : {1, 2}) {  // the decoding's block, the decoded host's
            host::FailAllocationNumber(failing);
            EXPECT_EQ(ComputeDomain(longHost), -2);
            host::FailAllocationNumber(0);
        }
        EXPECT_EQ(Str(GetDomain(longHost)), std::string(300, 'a') + ".tld");  // tried again
        ParsedURL s = Record(std::string(40, 'b') + ".tld");
        DecodeHost(s);
        host::FailAllocationNumber(1);  // the sub-domain's own block
        EXPECT_EQ(ComputeSubDomain(s), -2);
        host::FailAllocationNumber(0);
        EXPECT_EQ(Str(s.m_subDomain), "");
        EXPECT_EQ(ComputeSubDomain(s), 0);  // not kept: a later call tries again
        EXPECT_EQ(GetSubDomain(s).length(), 44u);
    }
    EXPECT_EQ(host::Counters().liveBytes, live);
}

namespace {

// The parts of text between "|" separators; "@" stands for a NUL byte.
std::vector<std::string> Split(const std::string& text) {
    std::vector<std::string> parts(1);
    for (const char c : text) {
        if (c == '|') parts.emplace_back();
        if (c != '|') parts.back() += c == '@' ? '\0' : c;
    }
    return parts;
}

// Every key of a record: decoded host, full stop decoded, www prefix, port, sub-domain status
// and text, domain status and text, the URL (shortened by text after a port) and its key.
typedef std::tuple<std::string, bool, bool, int32_t, int32_t, std::string, int32_t, std::string,
                   std::string, std::string>
    Keys;

Keys KeysOf(ParsedURL& r) {
    const int32_t domain = ComputeDomain(r), sub = ComputeSubDomain(r);
    return Keys(Str(r.m_decodedHost), r.m_ideographicDot, r.m_wwwPrefix, r.m_port, sub,
                Str(r.m_subDomain), domain, Str(r.m_domain), Str(r.m_url), Str(GetUrlFromHost(r)));
}

// The key rules written out plainly over std::string, strtol and a std::set.
std::string PlainPass(const std::string& in, bool* ideographic) {
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

Keys PlainKeys(const ParsedURL& record) {
    bool ideographic = false;
    std::string h = PlainPass(PlainPass(Str(record.m_host), &ideographic), &ideographic);
    for (size_t p = 0; record.m_stripBOM && (p = h.find("\357\273\277", p)) != h.npos;)
        h.erase(p, 3);
    auto lower = [&h](size_t i) { return std::tolower(static_cast<unsigned char>(h[i])); };
    const bool www = h.size() >= 4 && lower(0) == 'w' && lower(1) == 'w' && h[3] == '.' &&
                     (lower(2) == 'w' || (h[2] >= '1' && h[2] <= '5'));
    std::string url = Str(record.m_url);
    auto key = [&url, www] {
        return url.size() >= 7 + (www ? 4 : 0) ? url.substr(www ? 11 : 7) : "";
    };
    int32_t port = kNoPort;
    size_t end = h.size();
    const size_t colon = h.find_last_of(':');  // the last one, after the first byte
    if (colon != h.npos && colon >= 1) {
        const std::string after = h.substr(colon + 1);
        char* stop = nullptr;
        const long number = std::strtol(after.c_str(), &stop, 10);
        const size_t trailing = after.size() - (stop - after.c_str());
        if (number >= 0 && number <= 65534) port = static_cast<int32_t>(number);
        if (number < 0 || number > 65534 ||
            (trailing > 1 && record.m_pathLength + record.m_queryLength + record.m_fragmentLength))
            return Keys(h, ideographic, www, port, kUrlKeyFailed, "", kUrlKeyFailed, "", url,
                        key());
        end = colon;
        if (trailing > 1) {
            h.resize(h.size() - trailing);
            url.resize(url.size() > trailing ? url.size() - trailing : 0);
        }
    }
    const size_t start = www ? 4 : 0;
    if (end > start && h[end - 1] == '.') --end;
    const std::string sub = h.substr(start, end - start);
    ascommon::sstring folded;
    folded.assign(sub.data(), sub.size());
    if (folded.UTF8_tolower(true) != 0)
        return Keys(h, ideographic, www, port, 0, sub, kUrlKeyInvalidUtf8, "", url, key());
    const std::string f = Str(folded);
    std::string domain = f;
    for (size_t i = f.size(), dots = 0; i-- > 0;) {
        if (f[i] != '.' || (++dots == 2 && kSuffixSet.count(f.substr(i)))) continue;
        if (dots >= 2) {
            domain = f.substr(i + 1);
            break;
        }
    }
    return Keys(h, ideographic, www, port, 0, sub, 0, domain, url, key());
}

}  // namespace

// Hosts from the edge cases of the key rules (urlparser.h), each with and without a path and
// byte-order mark stripping, then random hosts over the bytes that those rules care about, against
// the plain reference.
TEST(ParsedUrlTest, HostsMatchPlainReference) {
    std::vector<std::string> hosts = Split(
        "name.tld..|a%7e%2E|a%6f%6F|%%4141|a%4|%00a%7Fb%FFc%4g|%E3%80%82|a\343\200\202|a\343\200|"
        "a\343\200\202b\357\274\216c\357\275\241d|\357\273\277a\357\273\277b\357\273\277|"
        "www.name.tld.:8080|[2001:db8::1]|name.tld:65535|name.tld:99999999999999999999|"
        "name.tld:-1|name.tld:-0|name.tld: +80|name.tld:|a:b:81|:80|name.tld:80x|name.tld:80xy|"
        "a.b.name.tld|x.y.z.COM.au|x.y.plc.co.im|b.co.uk|.co.uk|co.uk|a..tld|a.b.c.unknowntld|"
        "x.\303\204B.Co.Uk|a.b\304\260.co.uk|10.0.0.1|%77ww.a.tld|");
    const std::vector<std::string> pieces = Split(
        "%|2|5|4|1|e|f|E|F|.|:|-|+| |w|W|3|6|0|a|B|\343\200\202|\357\274\216|\357\275\241|"
        "\357\273\277|\303\204|\303|\200|@|.co.uk|.COM.au|www.|%2E|%252E|65534|65535|ww5.|Ww1.|"
        "ww6.");
    std::mt19937 random(20240611);
    for (int n = 0; n < 10000; ++n) {
        std::string text;
        for (int k = static_cast<int>(random() % 14); k > 0; --k)
            text += pieces[random() % pieces.size()];
        hosts.push_back(text);
    }
    for (size_t n = 0; n < 4 * hosts.size() && !::testing::Test::HasFailure(); ++n) {
        ParsedURL r = Record(hosts[n / 4], (n & 1 ? kPath : 0) | (n & 2 ? kStrip : 0));
        EXPECT_EQ(KeysOf(r), PlainKeys(r))
            << "host bytes: " << ::testing::PrintToString(hosts[n / 4]);
    }
}

TEST(ParsedUrlTest, HostBuilderFillsAndAttachesRecords) {
    // URL, host offset, host, path, query and fragment lengths, host kind
    typedef std::tuple<std::string, uint64_t, std::string, uint64_t, uint64_t, uint64_t, uint32_t>
        Row;
    const Row rows[] = {
        {"http://www.name.tld/x?y#z", 7, "www.name.tld", 2, 2, 2, kHostName},
        {"https://user:pw@name.tld:8080?q", 16, "name.tld:8080", 0, 2, 0, kHostName},
        {"www.name.tld", 0, "www.name.tld", 0, 0, 0, kHostName},  // no scheme
        {"http://10.0.0.1:80/", 7, "10.0.0.1:80", 1, 0, 0, kHostIPv4},
        {"http://10.0.0.256/", 7, "10.0.0.256", 1, 0, 0, kHostName},
        {"http://1.2.3/", 7, "1.2.3", 1, 0, 0, kHostName},
        {"ftp://[::1]:21/a", 6, "[::1]:21", 2, 0, 0, kHostIPv6},
        {"http://a.tld#/x?", 7, "a.tld", 0, 0, 4, kHostName},  // all after # is fragment
    };
    for (const Row& row : rows) {
        ParsedURL r;
        host::FillParsedURL(std::get<0>(row), &r);
        EXPECT_EQ(Row(Str(r.m_url), r.m_hostOffset, Str(r.m_host), r.m_pathLength, r.m_queryLength,
                      r.m_fragmentLength, r.m_hostKind),
                  row);
    }

    const uint64_t live = host::Counters().liveBytes;
    {
        auto message = host::MessageBuilder()
                           .TextPart("t", {"http://a.tld/", "http://www.b.co.uk/"})
                           .HtmlPart("h", {"http://c.tld/"})
                           .HtmlPart("no urls")
                           .Part({kBodyTextHtml, "", {}, {}, true})  // an empty URL collection
                           .Build();
        const TPartsArray* all = message->tree()->m_allParts;
        ASSERT_EQ(all->size(), 5u);  // the root, then the four parts
        auto* plain = static_cast<CPartBodyTextPlain*>(all->at(1)->m_body);
        ASSERT_EQ(plain->m_URLs.size(), 2u);
        EXPECT_EQ(Str(GetDomain(plain->m_URLs.at(1))), "b.co.uk");
        auto urls = [&](int i) {
            return static_cast<CPartBodyTextHtml*>(all->at(i)->m_body)->m_urlCollection;
        };
        ASSERT_NE(urls(2), nullptr);
        ASSERT_EQ(urls(2)->m_URLs.size(), 1u);
        EXPECT_EQ(Str(GetDomain(*urls(2)->m_URLs.at(0))), "c.tld");
        EXPECT_EQ(urls(3), nullptr);
        ASSERT_NE(urls(4), nullptr);
        EXPECT_EQ(urls(4)->m_URLs.size(), 0u);
    }
    EXPECT_EQ(host::Counters().liveBytes, live);  // the message frees every record
}

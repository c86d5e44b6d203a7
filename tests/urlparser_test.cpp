// The URL keys of ParsedURL: decoding, www prefix, port, sub-domain, the domain walk over the
// registration suffixes, the URL from its host on; the suffix table itself; the host builder's
// URL records. A plain std::string reference of the key rules checks random hosts.
#include <gtest/gtest.h>

#include <cctype>
#include <cstdlib>
#include <map>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "engines/urlparser/urlparser.h"
#include "host/host_hooks.h"
#include "host/message_builder.h"

using namespace nsEmlComponents;

namespace {

std::string Str(const ascommon::sstring& s) {
    return s.c_str() ? std::string(s.c_str(), s.length()) : std::string();
}

// A record for http://<host>[/p], as a host would fill it.
ParsedURL Record(const std::string& host, uint32_t kind = kHostName, bool path = false,
                 bool strip = false) {
    ParsedURL r;
    const std::string url = "http://" + host + (path ? "/p" : "");
    r.m_url.assign(url.data(), url.size());
    r.m_hostOffset = 7;
    r.m_host.assign(host.data(), host.size());
    r.m_pathLength = path ? 2 : 0;
    r.m_hostKind = kind;
    r.m_stripBOM = strip;
    return r;
}

}  // namespace

TEST(SuffixTableTest, HoldsTheFullSetInByteOrder) {
    ASSERT_EQ(kRegistrationSuffixCount, 984u);
    std::map<std::string, int> tlds, seconds;
    int comNetOrg = 0;
    std::set<std::string> threeLabels;
    for (size_t i = 0; i < kRegistrationSuffixCount; ++i) {
        const std::string s = kRegistrationSuffixes[i];
        if (i > 0) {
            EXPECT_LT(std::string(kRegistrationSuffixes[i - 1]), s) << "order at " << s;
        }
        ASSERT_EQ(s[0], '.') << s;
        const size_t dot2 = s.find('.', 1);
        if (s.find('.', dot2 + 1) != std::string::npos) {
            threeLabels.insert(s);
            continue;
        }
        const std::string tld = s.substr(dot2 + 1);
        ++tlds[tld];
        ++seconds[s.substr(1, dot2 - 1)];
        if (tld == "com" || tld == "net" || tld == "org") ++comNetOrg;
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
    const std::set<std::string> set(kRegistrationSuffixes,
                                    kRegistrationSuffixes + kRegistrationSuffixCount);
    for (const std::string& s : set) {
        const std::string probes[] = {s,
                                      s.substr(1),
                                      s + ".",
                                      "." + s,
                                      s + "x",
                                      s.substr(0, s.size() - 1),
                                      "x" + s.substr(1)};
        for (const std::string& p : probes) {
            EXPECT_EQ(IsRegistrationSuffix(p.data(), p.size()), set.count(p) == 1) << p;
        }
        std::string upper = s;
        upper[1] = static_cast<char>(std::toupper(upper[1]));
        if (upper != s) {
            EXPECT_FALSE(IsRegistrationSuffix(upper.data(), upper.size())) << upper;
        }
    }
    EXPECT_FALSE(IsRegistrationSuffix(nullptr, 0));
}

TEST(DecodeTest, TwoPassesThenByteOrderMarks) {
    struct Row {
        std::string host;
        bool strip;
        std::string decoded;
        bool ideographic;
    } rows[] = {
        {"%2541bc.tld", false, "Abc.tld", false},  // first pass %41bc.tld, second Abc.tld
        {"%252541", false, "%41", false},          // only two passes
        {"a%7e%2E", false, "a~.", false},          // either case; ends on a sequence
        {"%00a%7Fb%FFc%4g", false, "%00a%7Fb%FFc%4g", false},  // 0, 127 and up, not hex: kept
        {"%%4141", false, "%A41", false},                      // second pass meets %A4: 164 is kept
        {"a%4", false, "a%4", false},  // fewer than three bytes left: copied
        {"a\343\200\202b\357\274\216c\357\275\241d", false, "a.b.c.d", true},
        {"a\343\200\202", false, "a.", true},      // the last three bytes still count
        {"a\343\200", false, "a\343\200", false},  // cut short
        {"%E3%80%82", false, "%E3%80%82", false},  // not decoded, so never a full stop
        {"\357\273\277a\357\273\277b\357\273\277", true, "ab", false},
        {"\357\273\277a", false, "\357\273\277a", false},           // kept without the flag
        {"\357\357\273\277\273\277", true, "\357\273\277", false},  // one sweep, no rescan
        {"", false, "", false},
    };
    for (const Row& row : rows) {
        ParsedURL r = Record(row.host, kHostName, false, row.strip);
        DecodeHost(r);
        EXPECT_EQ(Str(r.m_decodedHost), row.decoded) << row.host;
        EXPECT_EQ(r.m_ideographicDot, row.ideographic) << row.host;
    }
}

TEST(SubDomainTest, PrefixPortAndFinalDot) {
    struct Row {
        std::string host;
        bool path;  // the URL has a path after the host
        int32_t status;
        std::string sub;
        int32_t port;
        bool www;
    } rows[] = {
        {"WWW.name.tld", false, 0, "name.tld", kNoPort, true},
        {"Ww3.name.tld", false, 0, "name.tld", kNoPort, true},
        {"ww5.name.tld", false, 0, "name.tld", kNoPort, true},
        {"ww6.name.tld", false, 0, "ww6.name.tld", kNoPort, false},
        {"www3.name.tld", false, 0, "www3.name.tld", kNoPort, false},
        {"www.", false, 0, "", kNoPort, true},
        {"www", false, 0, "www", kNoPort, false},
        {"Name.TLD.", false, 0, "Name.TLD", kNoPort, false},  // case kept, one dot dropped
        {"name.tld..", false, 0, "name.tld.", kNoPort, false},
        {"%2541bc.tld", false, 0, "Abc.tld", kNoPort, false},
        {"name.tld:65534", false, 0, "name.tld", 65534, false},
        {"name.tld:65535", false, kUrlKeyFailed, "", kNoPort, false},
        {"name.tld:99999999999999999999", false, kUrlKeyFailed, "", kNoPort, false},
        {"name.tld:-1", false, kUrlKeyFailed, "", kNoPort, false},
        {"name.tld:-0", false, 0, "name.tld", 0, false},
        {"name.tld: +80", false, 0, "name.tld", 80, false},  // read like strtol
        {"name.tld:", false, 0, "name.tld", 0, false},       // no digits: port 0
        {"www.name.tld.:8080", false, 0, "name.tld", 8080, true},
        {"a:b:81", false, 0, "a:b", 81, false},             // the last ":" counts
        {":80", false, 0, ":80", kNoPort, false},           // the first character is not searched
        {"name.tld:80x", false, 0, "name.tld", 80, false},  // one character after: kept
        {"name.tld:80xy", true, kUrlKeyFailed, "", 80, false},  // text after port, and a path
        {"[::1]:8080", false, 0, "[::1]", 8080, false},
        // An IPv6 host without a port meets the same rule: its last ":" reads as one.
        {"[2001:db8::1]", false, 0, "[2001:db8:", 1, false},
        {"a\343\200\202b.tld", false, 0, "a.b.tld", kNoPort, false},
        {"", false, 0, "", kNoPort, false},
    };
    for (const Row& row : rows) {
        ParsedURL r = Record(row.host, kHostName, row.path);
        EXPECT_EQ(ComputeSubDomain(r), row.status) << row.host;
        EXPECT_EQ(Str(GetSubDomain(r)), row.sub) << row.host;
        EXPECT_NE(GetSubDomain(r).c_str(), nullptr) << row.host;
        EXPECT_EQ(r.m_port, row.port) << row.host;
        EXPECT_EQ(r.m_wwwPrefix, row.www) << row.host;
    }
}

// Text after the port of a bare host is cut from the decoded host and from the URL's end.
TEST(SubDomainTest, TextAfterPortShortensBareUrl) {
    ParsedURL r = Record("name.tld:80xy");
    EXPECT_EQ(ComputeSubDomain(r), 0);
    EXPECT_EQ(Str(r.m_decodedHost), "name.tld:80");
    EXPECT_EQ(Str(r.m_url), "http://name.tld:80");
    EXPECT_EQ(Str(GetUrlFromHost(r)), "name.tld:80");
}

TEST(DomainTest, WalkOverRegistrationSuffixes) {
    struct Row {
        std::string host;
        uint32_t kind;
        int32_t status;
        std::string domain;
    } rows[] = {
        {"a.b.name.tld", kHostName, 0, "name.tld"},
        {"a.b.co.uk", kHostName, 0, "b.co.uk"},
        {"x.y.z.COM.au", kHostName, 0, "z.com.au"},
        {"b.co.uk", kHostName, 0, "b.co.uk"},  // walk ends: the whole host
        {".co.uk", kHostName, 0, ".co.uk"},
        {"co.uk", kHostName, 0, "co.uk"},
        {"localhost", kHostName, 0, "localhost"},
        {"a.b.c.unknowntld", kHostName, 0, "c.unknowntld"},
        {"x.y.plc.co.im", kHostName, 0, "plc.co.im"},  // three-label entries never match
        {"a..tld", kHostName, 0, ".tld"},
        {"WWW.Example.CO.UK.", kHostName, 0, "example.co.uk"},
        {"%2541bc.tld", kHostName, 0, "abc.tld"},
        {"x.\303\204B.Co.Uk", kHostName, 0, "\303\244b.co.uk"},  // UTF-8 folding
        {"a.b\304\260.co.uk", kHostName, 0, "bi.co.uk"},         // U+0130 folds to one byte
        {"a.\303.tld", kHostName, kUrlKeyInvalidUtf8, ""},
        {"name.tld:65535", kHostName, kUrlKeyFailed, ""},
        {"10.0.0.1", kHostIPv4, 0, "10.0.0.1"},                  // addresses are their own domain
        {"10.0.0.1", kHostName, 0, "0.1"},                       // the same text as a name
        {"Host.A.B.Example", kHostIPv4, 0, "Host.A.B.Example"},  // no folding for kinds 1, 2
        {"[::1]:80", kHostIPv6, 0, "[::1]"},
        {"a.b.co.uk", 7, 0, "b.co.uk"},  // unknown kinds are names
    };
    host::CaptureTraces(3);
    for (const Row& row : rows) {
        ParsedURL r = Record(row.host, row.kind);
        EXPECT_EQ(ComputeDomain(r), row.status) << row.host;
        EXPECT_EQ(Str(GetDomain(r)), row.domain) << row.host;
        EXPECT_EQ(ComputeDomain(r), row.status) << row.host;  // kept, not recomputed
    }
    const auto traces = host::TakeTraces();
    host::CaptureTraces(0);
    ASSERT_EQ(traces.size(), 1u);  // the folding's own line, once
    EXPECT_NE(traces[0].find("[sstring::UTF8_tolower] invalid UTF-8 buffer"), std::string::npos);
}

TEST(UrlKeyTest, FromHostOnWithoutWww) {
    struct Row {
        std::string url;
        uint64_t offset;
        std::string host;
        bool keysFirst;  // domain and sub-domain taken before the URL key
        std::string key;
    } rows[] = {
        {"http://www.name.tld/x?y", 7, "www.name.tld", true, "name.tld/x?y"},
        {"http://www.name.tld/x?y", 7, "www.name.tld", false, "www.name.tld/x?y"},  // too early
        {"http://name.tld:65535/", 7, "name.tld:65535", true, "name.tld:65535/"},   // keys fail
        {"http://a\343\200\202b.tld/", 7, "a\343\200\202b.tld", true,
         "a\343\200\202b.tld/"},                                      // raw text kept
        {"http://%77ww.a.tld/", 7, "%77ww.a.tld", true, "w.a.tld/"},  // skips 4 raw bytes
        {"http://x", 8, "", true, ""},
        {"http://x", 9, "x", true, ""},                   // offset past the text
        {"ab", 0, "www.a", true, ""},                     // www skip past the text
        {std::string("h\0t://x", 7), 6, "x", true, "x"},  // a NUL ahead of the host
    };
    for (const Row& row : rows) {
        ParsedURL r;
        r.m_url.assign(row.url.data(), row.url.size());
        r.m_hostOffset = row.offset;
        r.m_host.assign(row.host.data(), row.host.size());
        r.m_pathLength = 1;
        if (row.keysFirst) {
            GetDomain(r);
            GetSubDomain(r);
        }
        EXPECT_EQ(Str(GetUrlFromHost(r)), row.key) << row.url;
        uint64_t length = 99;
        const char* view = UrlFromHost(r, &length);
        ASSERT_NE(view, nullptr);
        EXPECT_EQ(std::string(view, length), row.key) << row.url;
        EXPECT_EQ(view[length], '\0');
    }
    ParsedURL empty;  // a record the host never filled
    EXPECT_EQ(Str(GetUrlFromHost(empty)), "");
    EXPECT_EQ(Str(GetDomain(empty)), "");
}

// Hosts no one writes: huge, NULs inside, every byte value; nothing may read past a buffer
// (run under ASan) and every block comes back.
TEST(HostileInputTest, NeverCrashesOrLeaks) {
    const uint64_t live = host::Counters().liveBytes;
    {
        std::string big;
        for (int i = 0; i < 200000; ++i) big += "ab%2E";
        big += "x.Co.Uk:80";
        ParsedURL r = Record(big);
        EXPECT_EQ(Str(GetDomain(r)), "x.co.uk");
        EXPECT_EQ(r.m_port, 80);
        EXPECT_EQ(GetSubDomain(r).length(), 200000u * 3 + 7);

        ParsedURL nul = Record(std::string("a\0b.c\0d.CO.uk", 13));
        EXPECT_EQ(Str(GetDomain(nul)), std::string("c\0d.co.uk", 9));

        std::string bytes;
        for (int b = 255; b >= 0; --b) bytes += static_cast<char>(b);
        for (uint32_t kind = 0; kind < 3; ++kind) {
            ParsedURL all = Record(bytes, kind, true, true);
            GetDomain(all);
            GetUrlFromHost(all);
        }
    }
    EXPECT_EQ(host::Counters().liveBytes, live);
}

TEST(HostileInputTest, AllocationFailuresLeaveKeysEmpty) {
    const std::string longHost(300, 'a');  // decodes through a temporary block
    ParsedURL r = Record(longHost + ".tld");
    host::FailAllocationNumber(1);
    EXPECT_EQ(ComputeDomain(r), 0);  // decoding without a buffer: an empty host
    host::FailAllocationNumber(0);
    EXPECT_EQ(Str(GetDomain(r)), "");

    ParsedURL s = Record(std::string(40, 'b') + ".tld");
    DecodeHost(s);
    host::FailAllocationNumber(1);  // the sub-domain's own block
    EXPECT_EQ(ComputeSubDomain(s), -2);
    host::FailAllocationNumber(0);
    EXPECT_EQ(Str(s.m_subDomain), "");
    EXPECT_EQ(ComputeSubDomain(s), 0);  // not kept: a later call tries again
    EXPECT_EQ(GetSubDomain(s).length(), 44u);
}

namespace {

// The key rules written out plainly over std::string, strtol and a std::set.
struct Reference {
    std::string decoded, sub, domain, url;
    int32_t port = kNoPort;
    bool www = false, subOk = true, domainOk = true;
};

std::string PlainPass(const std::string& in) {
    std::string out;
    size_t i = 0;
    for (; i + 3 <= in.size(); ++i) {
        const std::string three = in.substr(i, 3);
        char* end = nullptr;
        const long v = std::isxdigit(static_cast<unsigned char>(in[i + 1])) &&
                               std::isxdigit(static_cast<unsigned char>(in[i + 2]))
                           ? std::strtol(three.substr(1).c_str(), &end, 16)
                           : 0;
        if (in[i] == '%' && v > 0 && v < 127) {
            out += static_cast<char>(v);
        } else if (three == "\343\200\202" || three == "\357\274\216" || three == "\357\275\241") {
            out += '.';
        } else {
            out += in[i];
            continue;
        }
        i += 2;
    }
    return out + in.substr(i);
}

Reference Plain(const ParsedURL& record) {
    static const std::set<std::string> suffixes(kRegistrationSuffixes,
                                                kRegistrationSuffixes + kRegistrationSuffixCount);
    Reference ref;
    ref.url = Str(record.m_url);
    std::string h = PlainPass(PlainPass(Str(record.m_host)));
    if (record.m_stripBOM) {
        for (size_t p = 0; (p = h.find("\357\273\277", p)) != std::string::npos;) h.erase(p, 3);
    }
    std::string lower = h;
    for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    ref.www = lower.size() >= 4 && lower.compare(0, 2, "ww") == 0 &&
              std::string("w12345").find(lower[2]) != std::string::npos && lower[3] == '.';
    size_t end = h.size();
    const size_t colon = h.size() > 1 ? h.find_last_of(':') : std::string::npos;
    if (colon != std::string::npos && colon >= 1) {
        const std::string after = h.substr(colon + 1);
        char* stop = nullptr;
        const long port = std::strtol(after.c_str(), &stop, 10);
        const size_t trailing = after.size() - (stop - after.c_str());
        if (port < 0 || port > 65534 || (trailing > 1 && record.m_pathLength)) {
            ref.subOk = ref.domainOk = false;
            if (port >= 0 && port <= 65534) ref.port = static_cast<int32_t>(port);
        } else {
            ref.port = static_cast<int32_t>(port);
            end = colon;
            if (trailing > 1) {
                h.resize(h.size() - trailing);
                ref.url.resize(ref.url.size() > trailing ? ref.url.size() - trailing : 0);
            }
        }
    }
    ref.decoded = h;
    if (!ref.subOk) return ref;
    const size_t start = ref.www ? 4 : 0;
    if (end > start && h[end - 1] == '.') --end;
    ref.sub = h.substr(start, end - start);
    ascommon::sstring folded;
    folded.assign(ref.sub.data(), ref.sub.size());
    if (folded.UTF8_tolower(true) != 0) {
        ref.domainOk = false;
        return ref;
    }
    const std::string f = Str(folded);
    ref.domain = f;
    for (size_t i = f.size(), dots = 0; i-- > 0;) {
        if (f[i] != '.' || (++dots == 2 && suffixes.count(f.substr(i)))) continue;
        if (dots >= 2) {
            ref.domain = f.substr(i + 1);
            break;
        }
    }
    return ref;
}

}  // namespace

// Random hosts over the bytes that the rules care about, against the plain reference.
TEST(DifferentialTest, RandomHostsMatchPlainReference) {
    // The pieces that random hosts are made of, split at "|"; "@" stands for a NUL byte.
    std::vector<std::string> pieces;
    std::string piece;
    for (const char* p =
             "%|2|5|4|1|e|E|F|.|:|-|+| |w|W|3|6|0|a|B|\343\200\202|\357\274\216|\357\275\241|"
             "\357\273\277|\303\204|\303|\200|@|.co.uk|.COM.au|www.|%2E|%252E|65534|65535|";
         *p; ++p) {
        if (*p != '|') {
            piece += *p == '@' ? '\0' : *p;
        } else {
            pieces.push_back(piece);
            piece.clear();
        }
    }
    std::mt19937 random(20240611);
    host::CaptureTraces(0);
    for (int n = 0; n < 20000; ++n) {
        std::string hostText;
        for (int k = static_cast<int>(random() % 14); k > 0; --k) {
            hostText += pieces[random() % pieces.size()];
        }
        ParsedURL r = Record(hostText, kHostName, random() % 2 == 0, random() % 2 == 0);
        const Reference ref = Plain(r);
        const bool domainOk = ComputeDomain(r) == 0;
        const std::string where = "host bytes: " + ::testing::PrintToString(hostText);
        EXPECT_EQ(Str(r.m_decodedHost), ref.decoded) << where;
        EXPECT_EQ(r.m_wwwPrefix, ref.www) << where;
        EXPECT_EQ(r.m_port, ref.port) << where;
        EXPECT_EQ(ComputeSubDomain(r) == 0, ref.subOk) << where;
        EXPECT_EQ(Str(r.m_subDomain), ref.sub) << where;
        EXPECT_EQ(domainOk, ref.domainOk) << where;
        EXPECT_EQ(Str(r.m_domain), ref.domain) << where;
        EXPECT_EQ(Str(r.m_url), ref.url) << where;
    }
    host::TakeTraces();
}

TEST(HostRecordsTest, BuilderFillsAndAttachesUrls) {
    struct Row {
        std::string url;
        uint64_t offset;
        std::string host;
        uint64_t path, query, fragment;
        uint32_t kind;
    } rows[] = {
        {"http://www.name.tld/x?y#z", 7, "www.name.tld", 2, 2, 2, kHostName},
        {"https://user:pw@Name.tld:8080?q", 16, "Name.tld:8080", 0, 2, 0, kHostName},
        {"www.name.tld", 0, "www.name.tld", 0, 0, 0, kHostName},  // no scheme
        {"http://10.0.0.1:80/", 7, "10.0.0.1:80", 1, 0, 0, kHostIPv4},
        {"http://10.0.0.256/", 7, "10.0.0.256", 1, 0, 0, kHostName},
        {"http://1.2.3/", 7, "1.2.3", 1, 0, 0, kHostName},
        {"ftp://[::1]:21/a", 6, "[::1]:21", 2, 0, 0, kHostIPv6},
        {"http://a.tld#/x?", 7, "a.tld", 0, 0, 4, kHostName},  // all after # is fragment
    };
    for (const Row& row : rows) {
        ParsedURL r;
        host::FillParsedURL(row.url, &r);
        EXPECT_EQ(Str(r.m_url), row.url);
        EXPECT_EQ(r.m_hostOffset, row.offset) << row.url;
        EXPECT_EQ(Str(r.m_host), row.host) << row.url;
        EXPECT_EQ(r.m_pathLength, row.path) << row.url;
        EXPECT_EQ(r.m_queryLength, row.query) << row.url;
        EXPECT_EQ(r.m_fragmentLength, row.fragment) << row.url;
        EXPECT_EQ(r.m_hostKind, row.kind) << row.url;
    }

    const uint64_t live = host::Counters().liveBytes;
    {
        host::PartSpec emptyHtml;
        emptyHtml.kind = kBodyTextHtml;
        emptyHtml.urlCollection = true;
        auto message = host::MessageBuilder()
                           .TextPart("t", {"http://a.tld/", "http://www.b.co.uk/"})
                           .HtmlPart("h", {"http://c.tld/"})
                           .HtmlPart("no urls")
                           .Part(emptyHtml)
                           .Build();
        const TPartsArray* all = message->tree()->m_allParts;
        ASSERT_EQ(all->size(), 5u);  // the root, then the four parts
        auto* plain = static_cast<CPartBodyTextPlain*>(all->at(1)->m_body);
        ASSERT_EQ(plain->m_URLs.size(), 2u);
        EXPECT_EQ(Str(GetDomain(plain->m_URLs.at(1))), "b.co.uk");
        auto* html = static_cast<CPartBodyTextHtml*>(all->at(2)->m_body);
        ASSERT_NE(html->m_urlCollection, nullptr);
        ASSERT_EQ(html->m_urlCollection->m_URLs.size(), 1u);
        EXPECT_EQ(Str(GetDomain(*html->m_urlCollection->m_URLs.at(0))), "c.tld");
        EXPECT_EQ(static_cast<CPartBodyTextHtml*>(all->at(3)->m_body)->m_urlCollection, nullptr);
        auto* empty = static_cast<CPartBodyTextHtml*>(all->at(4)->m_body)->m_urlCollection;
        ASSERT_NE(empty, nullptr);
        EXPECT_EQ(empty->m_URLs.size(), 0u);
    }
    EXPECT_EQ(host::Counters().liveBytes, live);  // the message frees every record
}

// URL finding the way mail clients read real mail: host case, redirect targets, junk around
// hosts, Office conditional markers, file names that look like hosts, URLs in scripts.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "host/message_builder.h"
#include "host/url_finder.h"

namespace {

using Urls = std::vector<std::string>;

Urls Text(const std::string& text) {
    Urls urls;
    host::FindTextUrls(text, &urls);
    return urls;
}

Urls Html(const std::string& html, std::string* visible = nullptr) {
    Urls urls;
    host::FindHtmlUrls(html, &urls, visible);
    return urls;
}

struct Case {
    const char* input;
    Urls urls;
};

// Runs text rows through the text finder and rows starting with "<" through the HTML finder.
void Check(const std::vector<Case>& cases) {
    for (const Case& c : cases)
        EXPECT_EQ(c.input[0] == '<' ? Html(c.input) : Text(c.input), c.urls) << c.input;
}

}  // namespace

// Host names know no case: the records carry the host in lower case, the rest as written.
TEST(RealMailUrlsTest, RecordsCarryLowerCaseHosts) {
    const struct {
        const char *url, *recorded, *host;
    } cases[] = {
        {"http://ADS.Listed-Host.example/X?Q=A#F", "http://ads.listed-host.example/X?Q=A#F",
         "ads.listed-host.example"},
        {"www.Listed-URL.example/Promo", "www.listed-url.example/Promo", "www.listed-url.example"},
        {"HTTP://User@ПРИМЕР.РФ:8080/Путь", "HTTP://User@пример.рф:8080/Путь", "пример.рф:8080"},
    };
    for (const auto& c : cases) {
        nsEmlComponents::ParsedURL record;
        host::FillParsedURL(c.url, &record);
        EXPECT_EQ(std::string(record.m_url.c_str(), record.m_url.length()), c.recorded);
        EXPECT_EQ(std::string(record.m_host.c_str(), record.m_host.length()), c.host);
    }
}

TEST(RealMailUrlsTest, RedirectTargetsAreUrlsOfTheirOwn) {
    Check({
        {"http://redir.example/*http://198.51.100.7/",
         {"http://redir.example/*http://198.51.100.7/", "http://198.51.100.7/"}},
        {"http://r.example/go?target=http://spam.example/&id=1",
         {"http://r.example/go?target=http://spam.example/&id=1", "http://spam.example/"}},
        {"<a href='http://r.example/?URL=https%3A%2F%2Fspam.example%2Fp&x=1'>",
         {"http://r.example/?URL=https%3A%2F%2Fspam.example%2Fp&x=1", "https://spam.example/p"}},
        // A target within a target, twice encoded; a www. value.
        {"http://a.example/"
         "?u=https%253A%252F%252Fb.example%252F%253Fv%253Dhttp%25253A%25252F%25252Fc.example",
         {"http://a.example/"
          "?u=https%253A%252F%252Fb.example%252F%253Fv%253Dhttp%25253A%25252F%25252Fc."
          "example",
          "https://b.example/?v=http%3A%2F%2Fc.example", "http://c.example"}},
        {"www.r.example/l?to=www.spam.example",
         {"www.r.example/l?to=www.spam.example", "www.spam.example"}},
        {"http://plain.example/a?b=c&d=http", {"http://plain.example/a?b=c&d=http"}},
    });
}

TEST(RealMailUrlsTest, JunkLeavesHosts) {
    const std::string qpLine =
        "Click here: http://www.example.com/some/very/long/path/that/is/cut/here/bro=";
    const std::string quoted = "> see http://www.example.com/a/very/long/path/that/the/quote/br";
    Check({
        {"<a href='http://sol.no&nbsp;slovakia'>", {"http://sol.no"}},
        {"<a href='http://underscored.example___/x'>", {"http://underscored.example/x"}},
        {"see www.underscored.example___ here", {"www.underscored.example"}},
        {"<a href='http://example.com.Подробнее'>", {"http://example.com"}},
        {"<img src='http://www.\n    example.com/i.gif'>", {"http://www.example.com/i.gif"}},
        {(qpLine + "\nken/x.html and more").c_str(),
         {"http://www.example.com/some/very/long/path/that/is/cut/here/broken/x.html"}},
        {(quoted + "\n> oke/it.html\n> Thanks").c_str(),
         {"http://www.example.com/a/very/long/path/that/the/quote/broke/it.html"}},
        // Not broken: a short line, a new sentence on the next quoted line.
        {"> http://a.example/x\n> y/z", {"http://a.example/x"}},
        {(quoted + "/\n> Thanks, Bob").c_str(),
         {"http://www.example.com/a/very/long/path/that/the/quote/br/"}},
    });
}

TEST(RealMailUrlsTest, OfficeConditionalMarkersAreNotText) {
    std::string visible;
    Html("<p><![if !supportLists]>1.<![endif]>Item</p><p><![IF gte vml 1]>x<![ENDIF]></p>",
         &visible);
    EXPECT_EQ(visible, "1.Item x ");
}

TEST(RealMailUrlsTest, BareHostsAreNamesNotFiles) {
    Check({
        // File names, code and address local parts.
        {"sendmail.cf local.cf Mail.app update.ml PURPOSE.BEST setup.py run.sh a.zip", {}},
        {"config.h.in Debian.NEWS os.name f.read john.dev@example.com co.uk", {}},
        // Hosts: listed top-level labels alone, multi-label public suffixes, paths.
        {"example.com EXAMPLE.NET shop.example.xyz example.co.uk mail.post.tele.dk",
         {"example.com", "EXAMPLE.NET", "shop.example.xyz", "example.co.uk", "mail.post.tele.dk"}},
        {"zeroday.cloud/x setup.py/y bit.ly/z", {"zeroday.cloud/x", "setup.py/y", "bit.ly/z"}},
    });
}

TEST(RealMailUrlsTest, ScriptsAndHandlersNavigate) {
    Check({
        {"<script>window.location = 'http://loc.example/a';</script>", {"http://loc.example/a"}},
        {"<script>var w = window.open(\"https://open.example/\", '_blank');</script>",
         {"https://open.example/"}},
        {"<body onload=\"location.href='http://onload.example'\">", {"http://onload.example"}},
        {"<a href=\"javascript:window.open('www.js.example/p')\">", {"www.js.example/p"}},
        {"<object codebase='http://codebase.example/x.cab'></object>",
         {"http://codebase.example/x.cab"}},
    });
}

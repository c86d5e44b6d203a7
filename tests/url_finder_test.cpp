// URL finding in text and HTML: where URLs start and end, which hosts count, how the URL texts
// read as host records (host, offset, path, query and fragment lengths, kind), attribute and
// text URLs in document order, the visible text, and hostile bodies (many URLs, deep nesting,
// attribute floods, NUL bytes and invalid UTF-8); then URLs the way mail clients read real mail:
// host case, redirect targets, junk around hosts, file names that look like hosts, scripts.
#include <gtest/gtest.h>

#include <iterator>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "engines/urlparser/urlparser.h"
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

std::string Repeat(const std::string& piece, size_t count) {
    std::string s;
    for (size_t i = 0; i < count; ++i) s += piece;
    return s;
}

// An input and the URLs found in it, separated by blanks.
struct Case {
    const char *input, *urls;
    Urls Expected() const {
        std::istringstream words(urls);
        return Urls(std::istream_iterator<std::string>(words), {});
    }
};

}  // namespace

// Text rows, and HTML rows (starting with "<"). In text, trailing punctuation is no part of a
// URL; a closing bracket stays when the URL opened it. NBSP and curly quotes end a URL.
// Ideographic full stops stay in the host; a trailing one ends the sentence. Japanese runs on
// without spaces: the URL ends where CJK follows ASCII. An ASCII top-level label ends where
// Cyrillic text runs on. Not URLs: file names, abbreviations, versions, a country code without a
// path, mail addresses, the tail of a non-ASCII word, paths. A colon without a port number ends
// the URL; a port may follow a www. or bare host. "user@" without a host after it is no user
// part. Only words holding a dot or ending before a colon are looked at; a bare host ends before
// a trailing "-" of its word, and the rest of the word gives nothing.
// In HTML: candidates of a srcset, commas inside a URL included, relative ones skipped. Spaces
// around and line breaks inside are dropped; one slash or backslashes still make an absolute
// URL; protocol-relative URLs lose their slashes. Upper-case names, unquoted values, SVG links,
// www. in src; an empty or blank value. A link left open across paragraphs counts once; a second
// body tag keeps its URL. Inline markup inside a URL joins it; a block element ends it. Hidden:
// script and style text (markup at their start too), template text but not links, Office
// conditional markers.
// As real mail writes them: redirect targets are URLs of their own, encoded once or twice; junk
// after a host (entities, underscores, Cyrillic) is dropped; a URL broken by a quoted-printable
// soft line end or a quote prefix is joined again, but not a short line or a new sentence; file
// names, code and address local parts are no hosts, listed top-level labels and public suffixes
// are; scripts and handlers navigate.
TEST(UrlFinderTest, UrlsStartAndEndWhereAReaderSeesThem) {
    // clang-format off
    const Case cases[] = {
        {"http://a.com, https://b.com; ftp://c.com: ok!\nhttp://d.com/a.\tThen 'http://q.com/a', \"http://r.com\"", "http://a.com https://b.com ftp://c.com http://d.com/a http://q.com/a http://r.com"},
        {"(see http://x.org/wiki/Foo_(bar)) [http://a.com/] <https://u:pw@h.com:8080/p?q=1#f>", "http://x.org/wiki/Foo_(bar) http://a.com/ https://u:pw@h.com:8080/p?q=1#f"},
        {"HTTP://UP.COM Link:http://l.com xhttp://x.com Www.Example.COM! www.", "HTTP://UP.COM http://l.com http://x.com Www.Example.COM"},
        {"http://a.com/x\xC2\xA0next \xE2\x80\x9Chttp://b.com/\xE2\x80\x9D", "http://a.com/x http://b.com/"},
        {"http://пример.рф/путь и http://bücher.example/ http://ja.example.org/wiki/日本", "http://пример.рф/путь http://bücher.example/ http://ja.example.org/wiki/日本"},
        {"http://例え。テスト。", "http://例え。テスト"},
        {"詳しくはwww.example.co.jpへ、http://example.com/page.htmlを見て", "www.example.co.jp http://example.com/page.html"},
        {"http://example.comтекст/x example.netтекст", "http://example.com example.net"},
        {"http://[2001:db8::1]:80/x http://192.168.0.1:8080", "http://[2001:db8::1]:80/x http://192.168.0.1:8080"},
        {"Visit evil.example.com/x or EXAMPLE.NET? bit.ly/abc", "evil.example.com/x EXAMPLE.NET bit.ly/abc"},
        {"file.txt e.g. i.e. node.js v1.2.3 readme.md a.b my.name user@example.com bücher.de a/b.com", ""},
        {"http:// http:///x http://@/ http://./ mailto:x@y.com", ""},
        {"hxxp://a.com/x\x01http://b.com\x7F", "http://b.com"},
        {"http://a.com: www.b.com:8080/x c.ru:81/y d.de:x", "http://a.com www.b.com:8080/x c.ru:81/y d.de"},
        {"mail http://a.com@ now", "http://a.com"},
        {"http://x.com/a|b http://y.com/{z} http://z.com/a\\b", "http://x.com/a http://y.com/ http://z.com/a"},
        {"Note:http://a.com/x 10:30 a.com_.www.b.com.- www.c.com:8080. to:www.a.com, c.org- user@d.com", "http://a.com/x www.c.com:8080 www.a.com c.org"},
        {"<a href='http://a.com/?x=1&amp;y=2'>x</a><a href='http:&#x2F;&#x2F;b.com&#x2F;p'>y</a>", "http://a.com/?x=1&y=2 http://b.com/p"},
        {"<img srcset='http://s1.com/a.png 1x, http://s2.com/b,c.png 2x, rel.png 3x'>", "http://s1.com/a.png http://s2.com/b,c.png"},
        {"<a href='mailto:x@y.com'>m</a><a href='javascript:go()'>j</a><a href='data:text/html,http://d.com'>d</a>"
         "<img src='cid:part1'><a href='/rel'>r</a><a href='#top'>f</a><a href='page.html'>p</a>", ""},
        {"<body background='//bg.com/x.gif'><a href=' \n http://i\n.com/i.png '>x</a><a href='https:/one.com'>1</a><a href='HTTP:\\\\bs.com\\path?q=\\x'>b</a>",
         "bg.com/x.gif http://i.com/i.png https://one.com HTTP://bs.com/path?q=\\x"},
        {"<form action='www.form.com/post'><input type=image src='ftp://in.com/i' formaction='https://fa.com'></form>", "www.form.com/post ftp://in.com/i https://fa.com"},
        {"<object data='http://obj.com/o'></object><video poster='http://v.com/p.jpg'><source src='http://v.com/v.mp4'></video>"
         "<blockquote cite='http://q.com/'></blockquote><img longdesc='http://ld.com/d'>", "http://obj.com/o http://v.com/p.jpg http://v.com/v.mp4 http://q.com/ http://ld.com/d"},
        {"<head><meta http-equiv='Refresh' content='0; URL=http://refresh.com/'><style>b{background:url(\"http://css.com/b.png\")}</style></head>"
         "<div style='background-image: url( http://st.com/a.png )'>x</div>", "http://refresh.com/ http://css.com/b.png http://st.com/a.png"},
        {"<A HREF=http://up.com/?a=1&amp;b=2>u</A><svg><a xlink:href='http://svg.com'>s</a></svg><img src='www.img.com/i.png'><a href=''>e</a><a href='   '>b</a>",
         "http://up.com/?a=1&b=2 http://svg.com www.img.com/i.png"},
        {"<div style=\"background: url('data:image/png;base64,xx'), URL(https://u.com/a.png)\">", "https://u.com/a.png"},
        {"<a href='http://'>e</a><a href='http://@/'>e</a><a href='http://[::1]/'>6</a>", "http://[::1]/"},
        {"<p>http://t1.com <a href=http://a.com>http://a.com</a> http://t2.com</p><img src=http://i.com>", "http://t1.com http://a.com http://a.com http://t2.com http://i.com"},
        {"<p><a href=http://a.com>one</p><p>two</a></p>", "http://a.com"},
        {"<title>http://title.com</title><body><body background='http://bg.com'>text</body>", "http://title.com http://bg.com"},
        {"<p>exa<b>mple</b>.com</p><p>http://a.com</p><div>/x</div>", "example.com http://a.com"},
        {"<p><script></p><a href='http://script.com'></script><style>/* http://style.com */</style>"
         "<template><a href='http://tmpl.com'>http://tmpl-text.com</a></template>", "http://tmpl.com"},
        {"http://redir.example/*http://198.51.100.7/ http://r.example/go?target=http://spam.example/&id=1 www.r.example/l?to=www.spam.example http://plain.example/a?b=c&d=http",
         "http://redir.example/*http://198.51.100.7/ http://198.51.100.7/ http://r.example/go?target=http://spam.example/&id=1 http://spam.example/ www.r.example/l?to=www.spam.example www.spam.example http://plain.example/a?b=c&d=http"},
        {"<a href='http://r.example/?URL=https%3A%2F%2Fspam.example%2Fp&x=1'>", "http://r.example/?URL=https%3A%2F%2Fspam.example%2Fp&x=1 https://spam.example/p"},
        {"http://a.example/?u=https%253A%252F%252Fb.example%252F%253Fv%253Dhttp%25253A%25252F%25252Fc.example",
         "http://a.example/?u=https%253A%252F%252Fb.example%252F%253Fv%253Dhttp%25253A%25252F%25252Fc.example https://b.example/?v=http%3A%2F%2Fc.example http://c.example"},
        {"<a href='http://sol.no&nbsp;slovakia'><a href='http://underscored.example___/x'><a href='http://example.com.Подробнее'><img src='http://www.\n    example.com/i.gif'>",
         "http://sol.no http://underscored.example/x http://example.com http://www.example.com/i.gif"},
        {"see www.underscored.example___ here", "www.underscored.example"},
        {"Click here: http://www.example.com/some/very/long/path/that/is/cut/here/bro=\nken/x.html and more", "http://www.example.com/some/very/long/path/that/is/cut/here/broken/x.html"},
        {"> see http://www.example.com/a/very/long/path/that/the/quote/br\n> oke/it.html\n> Thanks", "http://www.example.com/a/very/long/path/that/the/quote/broke/it.html"},
        {"> http://a.example/x\n> y/z", "http://a.example/x"},
        {"> see http://www.example.com/a/very/long/path/that/the/quote/br/\n> Thanks, Bob", "http://www.example.com/a/very/long/path/that/the/quote/br/"},
        {"sendmail.cf local.cf Mail.app update.ml PURPOSE.BEST setup.py run.sh a.zip config.h.in Debian.NEWS os.name f.read john.dev@example.com co.uk "
         "example.com EXAMPLE.NET shop.example.xyz example.co.uk mail.post.tele.dk zeroday.cloud/x setup.py/y bit.ly/z",
         "example.com EXAMPLE.NET shop.example.xyz example.co.uk mail.post.tele.dk zeroday.cloud/x setup.py/y bit.ly/z"},
        {"<script>window.location = 'http://loc.example/a';</script><script>var w = window.open(\"https://open.example/\", '_blank');</script>"
         "<body onload=\"location.href='http://onload.example'\"><a href=\"javascript:window.open('www.js.example/p')\"><object codebase='http://codebase.example/x.cab'></object>",
         "http://loc.example/a https://open.example/ http://onload.example www.js.example/p http://codebase.example/x.cab"}};
    // clang-format on
    for (const Case& c : cases)
        EXPECT_EQ(c.input[0] == '<' ? Html(c.input) : Text(c.input), c.Expected()) << c.input;
    EXPECT_EQ(Text(std::string("http://a.com/\0http://b.com", 26)),
              (Urls{"http://a.com/", "http://b.com"}));
    // Neither the declared charset nor the byte that is no UTF-8 changes a visible character.
    std::string visible = "kept:";
    Html(
        "<meta charset=koi8-r><title>T</title><style>p{}</style><script>s(\xFF)</script><body>"
        "<p>один <b>two</b></p><div>three</div>four<br>five <noscript>six</noscript>"
        "<p><![if !supportLists]>1.<![endif]>Item</p><p><![IF gte vml 1]>x<![ENDIF]></p>",
        &visible);
    EXPECT_EQ(visible, "kept:T один two three four five six 1.Item x ");
    EXPECT_TRUE(Html("").empty());
}

// The one URL found in a text (or, starting with "<", an HTML body) read as a host record: the
// user part is no host, a bad or short dotted quad is a name, all after "#" is fragment. Host
// names know no case: the record carries the host in lower case, the rest of the URL as written.
TEST(UrlFinderTest, FoundUrlsGiveTheRightHostRecord) {
    using namespace nsEmlComponents;
    // input, host offset, host, path, query and fragment lengths, host kind
    typedef std::tuple<std::string, uint64_t, std::string, uint64_t, uint64_t, uint64_t, uint32_t>
        Row;
    // clang-format off
    const Row rows[] = {
        {"http://foo.com@evil.com/x", 15, "evil.com", 2, 0, 0, kHostName},
        {"https://user:pw@name.tld:8080?q", 16, "name.tld:8080", 0, 2, 0, kHostName},
        {"http://www.name.tld/x?y#z", 7, "www.name.tld", 2, 2, 2, kHostName},
        {"www.example.com/a?b#c", 0, "www.example.com", 2, 2, 2, kHostName},
        {"http://10.0.0.1:80/", 7, "10.0.0.1:80", 1, 0, 0, kHostIPv4},
        {"http://10.0.0.256/", 7, "10.0.0.256", 1, 0, 0, kHostName},
        {"http://1.2.3/", 7, "1.2.3", 1, 0, 0, kHostName},
        {"ftp://[::1]:21/a", 6, "[::1]:21", 2, 0, 0, kHostIPv6},
        {"http://a.tld#/x?y", 7, "a.tld", 0, 0, 5, kHostName},
        {"<a href='//cdn.example.com/x'>", 0, "cdn.example.com", 2, 0, 0, kHostName},
        {"<a href='HTTPS:\\\\evil.com\\p'>", 8, "evil.com", 2, 0, 0, kHostName},
        {"http://ADS.Listed-Host.example/X?Q=A#F", 7, "ads.listed-host.example", 2, 4, 2, kHostName},
        {"www.Listed-URL.example/Promo", 0, "www.listed-url.example", 6, 0, 0, kHostName},
        {"HTTP://User@ПРИМЕР.РФ:8080/Путь", 12, "пример.рф:8080", 9, 0, 0, kHostName}};
    // clang-format on
    for (const Row& row : rows) {
        const std::string& input = std::get<0>(row);
        const Urls urls = input[0] == '<' ? Html(input) : Text(input);
        ASSERT_EQ(urls.size(), 1u) << input;
        ParsedURL r;
        host::FillParsedURL(urls[0], &r);
        const std::string host(r.m_host.c_str(), r.m_host.length());
        EXPECT_EQ(Row(input, r.m_hostOffset, host, r.m_pathLength, r.m_queryLength,
                      r.m_fragmentLength, r.m_hostKind),
                  row);
        EXPECT_EQ(std::string(r.m_url.c_str(), r.m_url.length()),
                  urls[0].substr(0, r.m_hostOffset) + host +
                      urls[0].substr(r.m_hostOffset + host.size()));
    }
}

TEST(UrlFinderTest, HostileBodiesLoseNoUrl) {
    // Many URLs: every one, in order.
    std::string text;
    for (int i = 0; i < 100000; ++i) text += "http://h" + std::to_string(i) + ".com/x ";
    const Urls many = Text(text);
    ASSERT_EQ(many.size(), 100000u);
    EXPECT_EQ(many.back(), "http://h99999.com/x");

    // Long runs that look like a start: each gives what a short one gives.
    EXPECT_TRUE(Text(std::string(5 << 20, 'w')).empty());
    EXPECT_EQ(Text(Repeat("www.", 1 << 18)).size(), 1u);
    EXPECT_EQ(Text("http://x.com/" + std::string(1 << 20, ')')), Urls{"http://x.com/"});

    // Deep nesting, or end tags that close nothing under 255 open elements: no link lost.
    const Urls deep = Html(Repeat("<div><a href=http://d.com>", 20000) + "http://bottom.com");
    ASSERT_EQ(deep.size(), 20001u);
    EXPECT_EQ(deep.back(), "http://bottom.com");
    EXPECT_EQ(Html(Repeat("<b>", 255) + Repeat("</x>", 200000) + "x.com").back(), "x.com");

    // An attribute flood keeps the URL attribute at its end.
    std::string flood = "<a ";
    for (int i = 0; i < 20000; ++i) flood += "x" + std::to_string(i) + "=1 ";
    EXPECT_EQ(Html(flood + "href=http://last.com>t</a></a " + flood + ">"),
              Urls{"http://last.com"});

    // Unclosed quotes, NUL bytes and invalid UTF-8: no crash, and nothing on stderr.
    testing::internal::CaptureStderr();
    const char kJunk[] = "<a href=http://\xFF\xFE\0.com>\xC3\x28 http://a\xE0\x80.com\0x</a>";
    const std::string junk(kJunk, sizeof kJunk - 1);
    EXPECT_EQ(Html(Repeat(junk, 1000) + "<a href='x" + std::string(100000, 'a')).size(), 2000u);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    EXPECT_EQ(Text(Repeat(junk, 1000)).size(), 2000u);
}

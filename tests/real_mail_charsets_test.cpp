// Real mail read the way mail clients read it: bodies behind charset labels that iconv lacks,
// that only an HTML <meta> gives, or that the bytes do not fit; invalid Content-Types; and URL
// list entries stored as the URL filter derives its keys.
#include <gtest/gtest.h>
#include <iconv.h>
#include <sys/wait.h>

#include <cstdio>
#include <fstream>
#include <string>

#include "host/mail_parser.h"
#include "temp_folder.h"

namespace {

const char kBig5Text[] = "您好，我們公司提供最優惠的價格，歡迎來電諮詢。本公司專業代開各類發票";
const char kGbText[] = "您好，我们公司提供最优惠的价格，欢迎来电咨询。本公司专业代开各类发票";
const char kKoText[] = "안녕하세요 특별한 혜택을 드립니다 지금 바로 클릭하세요";
const char kJaText[] = "こんにちは、今日は特別なお知らせがあります。今すぐクリック";
const char kThText[] = "สวัสดีครับ โปรโมชั่นพิเศษสำหรับคุณวันนี้เท่านั้น คลิกที่นี่เพื่อรับส่วนลด";

std::string Encode(const std::string& utf8, const char* charset) {
    iconv_t cd = iconv_open(charset, "UTF-8");
    std::string out(utf8.size() * 4, '\0');
    char* in = const_cast<char*>(utf8.data());
    char* write = &out[0];
    size_t inLeft = utf8.size(), outLeft = out.size();
    EXPECT_NE(iconv(cd, &in, &inLeft, &write, &outLeft), static_cast<size_t>(-1)) << charset;
    iconv_close(cd);
    out.resize(out.size() - outLeft);
    return out;
}

TEST(RealMailCharsets, BodiesAreReadInTheCharsetTheyAreWrittenIn) {
    struct Row {
        const char* contentType;
        const char* meta;      // an HTML <head> content, or null for a bare body
        const char* encodeAs;  // the charset the body's bytes are in
        const char* text;
        const char* charset;  // expected in the part's charsets line
    } rows[] = {
        {"text/plain; charset=CHINESEBIG5", nullptr, "BIG5", kBig5Text, "cp950 (alias of"},
        {"text/plain; charset=ks_c_5601-1987", nullptr, "CP949", kKoText, "cp949 (alias of"},
        {"text/plain; charset=GB2312_CHARSET", nullptr, "GB2312", kGbText, "gbk (alias of"},
        {"text/plain; charset=x-sjis", nullptr, "SHIFT_JIS", kJaText, "cp932 (alias of"},
        {"text/html", "<meta charset=\"big5\">", "BIG5", kBig5Text, "big5 (meta)"},
        {"text/html; charset=bogus",
         "<META HTTP-EQUIV=\"Content-Type\" CONTENT=\"text/html; "
         "charset=gb2312\">",
         "GB2312", kGbText, "gb2312 (meta)"},
        {"text/html; charset=us-ascii", "<meta charset=\"big5\">", "BIG5", kBig5Text,
         "big5 (meta)"},
        {"text/plain; charset=us-ascii", nullptr, "BIG5", kBig5Text, "cp950 (detected, "},
        {"text/plain; charset=us-ascii", nullptr, "TIS-620", kThText, "cp874 (detected by its"},
        {"text/plain", nullptr, "SHIFT_JIS", kJaText, "cp932 (detected, "},
        {"text/plain; charset=gb2312", nullptr, "GB2312", kGbText, "gb2312 (declared)"},
        {"text/plain", nullptr, "LATIN1", "café crème", "utf-8/windows-1252 (default)"},
        {"text/plain; charset=utf-8", nullptr, "UTF-8", kThText, "utf-8 (declared)"},
    };
    for (const Row& row : rows) {
        std::string body = Encode(row.text, row.encodeAs);
        if (row.meta) body = "<html><head>" + std::string(row.meta) + "</head><body>" + body;
        const std::string raw =
            "From: a@b.example\r\nContent-Type: " + std::string(row.contentType) +
            "\r\nContent-Transfer-Encoding: 8bit\r\n\r\n" + body + "\r\n";
        host::ParsedMail mail;
        std::string error;
        ASSERT_TRUE(host::ParseMail(raw.data(), raw.size(), &mail, &error)) << error;
        ASSERT_EQ(mail.parts.size(), 1u) << row.contentType;
        EXPECT_NE(mail.parts[0].text.find(row.text), std::string::npos) << row.contentType;
        ASSERT_EQ(mail.charsets.size(), 1u) << row.contentType;
        EXPECT_NE(mail.charsets[0].find(row.charset), std::string::npos) << mail.charsets[0];
    }
}

TEST(RealMailCharsets, InvalidContentTypeIsPlainTextInUsAscii) {
    for (const char* type : {"text; charset=us-ascii", "<html>", "text/"}) {
        const std::string raw =
            "From: a@b.example\r\nContent-Type: " + std::string(type) +
            "\r\n\r\nXJS*C4JDBQADN1.NSBN3*2IDNEN*GTUBE-STANDARD-ANTI-UBE-TEST\r\n";
        host::ParsedMail mail;
        std::string error;
        ASSERT_TRUE(host::ParseMail(raw.data(), raw.size(), &mail, &error)) << error;
        ASSERT_EQ(mail.parts.size(), 1u);
        EXPECT_EQ(mail.parts[0].kind, nsEmlComponents::kBodyTextPlain) << type;
        EXPECT_EQ(mail.root.mediaType, "text/plain") << type;
        EXPECT_NE(mail.parts[0].text.find("GTUBE"), std::string::npos) << type;
        bool noted = false;
        for (const std::string& d : mail.defects)
            noted |= d.find("Content-Type in part 1") != d.npos;
        EXPECT_TRUE(noted) << type;
    }
}

std::string RunUrlDb(const std::string& arguments) {
    FILE* pipe = popen((MOLVEX_URLDB_TOOL " " + arguments + " 2>&1").c_str(), "r");
    std::string output;
    char buffer[512];
    while (pipe != nullptr && std::fgets(buffer, sizeof buffer, pipe)) output += buffer;
    const int status = pipe ? pclose(pipe) : -1;
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << output;
    return output;
}

// Each entry as a list maintainer writes it, and what building or checking must then say.
TEST(RealMailCharsets, UrlListEntriesAreStoredAsTheFilterDerivesKeys) {
    testfiles::TempFolder folder;
    ASSERT_TRUE(folder.ok());
    std::ofstream(folder / "d.txt") << "WWW.Bad.COM\nSub.Bad.net\nbad.org/path\nhttp://Ok.CO.UK\n";
    std::ofstream(folder / "s.txt") << "http://Mail.Sub.ORG:8080\nHost.example.\n";
    std::ofstream(folder / "u.txt") << "https://www.Listed.COM/Exact/Path\nhttp://\n";
    const std::string out = folder / "l.dat";
    const std::string built =
        RunUrlDb("build --domains " + folder / "d.txt" + " --subdomains " + folder / "s.txt" +
                 " --urls " + folder / "u.txt" + " -o " + out);
    const std::string checked =
        RunUrlDb("check " + out +
                 " bad.com sub.bad.net ok.co.uk mail.sub.org host.example "
                 "listed.com/Exact/Path http://WWW.bad.com/x http://listed.com/Exact/Path?q");
    const char* expected[] = {
        "d.txt:2: Sub.Bad.net is not a registrable domain (a URL's domain key would be bad.net)",
        "d.txt:3: bad.org/path has a path",
        "u.txt:2: http:// has no host",
        "3 domains, 2 sub-domains, 1 URLs written; 0 duplicates dropped; 2 entries",
        "bad.com: domains\nsub.bad.net: domains\nok.co.uk: domains\nmail.sub.org: sub-domains\n"
        "host.example: sub-domains\nlisted.com/Exact/Path: URLs\n",
        "http://WWW.bad.com/x: domain bad.com listed; sub-domain bad.com not listed; URL bad.com/x "
        "not listed\n",
        "http://listed.com/Exact/Path?q: domain listed.com not listed; sub-domain listed.com not "
        "listed; URL listed.com/Exact/Path?q not listed\n",
    };
    for (const char* text : expected)
        EXPECT_NE((built + checked).find(text), std::string::npos) << text << "\n"
                                                                   << built + checked;
}

}  // namespace

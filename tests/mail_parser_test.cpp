// Tests of the mail parser: header decoding, body conversion to UTF-8, the parts list of nested
// and broken MIME, addresses, hostile input and parsing on several threads.
#include "host/mail_parser.h"

#include <glib.h>
#include <gtest/gtest.h>

#include <random>
#include <thread>

namespace {

using host::ParsedMail;
using nsEmlComponents::kBodyTextHtml;
using nsEmlComponents::kBodyTextPlain;

ParsedMail Parse(const std::string& raw, bool expectOk = true) {
    ParsedMail mail;
    std::string error;
    EXPECT_TRUE(host::InitMailParser());
    EXPECT_EQ(expectOk, host::ParseMail(raw.data(), raw.size(), &mail, &error)) << error;
    return mail;
}

bool HasDefect(const ParsedMail& mail, const std::string& text) {
    for (const std::string& defect : mail.defects) {
        if (defect.find(text) != std::string::npos) return true;
    }
    return false;
}

// What a C-string reader of the records needs: valid UTF-8 and no embedded NUL.
void ExpectCleanText(const ParsedMail& mail) {
    auto clean = [](const std::string& s) {
        return s.find('\0') == std::string::npos && g_utf8_validate(s.data(), s.size(), nullptr);
    };
    EXPECT_TRUE(clean(mail.root.subject));
    for (const auto& other : mail.root.others) EXPECT_TRUE(clean(other.second)) << other.first;
    for (const auto& part : mail.parts) EXPECT_TRUE(clean(part.text));
}

TEST(MailParser, SubjectDecoding) {
    struct Row {
        const char* header;
        const char* subject;
        const char* charset;  // null: none expected
    } rows[] = {
        {"=?koi8-r?B?8NLJ18XU?=", "Привет", "koi8-r"},
        {"=?ISO-8859-1?Q?caf=E9_au_lait?=", "café au lait", "ISO-8859-1"},
        {"=?utf-8?Q?a?=  =?utf-8?Q?b?=", "ab", "utf-8"},  // blanks between words vanish
        {"=?iso-8859-2?Q?=B1?= and =?utf-8?B?4pyT?=", "ą and ✓", "iso-8859-2"},
        {"=?ISO-2022-JP?B?GyRCRnxLXDhsGyhC?=", "日本語", "ISO-2022-JP"},
        {"=?utf-8*en?Q?hi?=", "hi", "utf-8"},                       // RFC 2231 language dropped
        {"Re: =?utf-8?Q?broken", "Re: =?utf-8?Q?broken", nullptr},  // never terminated
        {"Gr\xc3\xbc\xc3\x9f"
         "e",
         "Grüße", nullptr},  // raw UTF-8
        {"Gr\xfc\xdf"
         "e",
         "Grüße", nullptr},  // raw Latin-1
    };
    for (const Row& row : rows) {
        ParsedMail mail = Parse(std::string("From: a@b.c\nSubject: ") + row.header + "\n\nx\n");
        EXPECT_TRUE(mail.root.hasSubject);
        EXPECT_EQ(row.subject, mail.root.subject) << row.header;
        EXPECT_EQ(row.charset != nullptr, mail.root.subjectCharset.has_value()) << row.header;
        if (row.charset && mail.root.subjectCharset) {
            EXPECT_EQ(row.charset, *mail.root.subjectCharset);
        }
    }
    EXPECT_TRUE(HasDefect(Parse("Subject: =?x-nope?Q?a?=\n\n"), "unknown charset x-nope"));
    EXPECT_TRUE(HasDefect(Parse("Subject: =?utf-8?B?no*pe?=\n\n"), "undecodable encoded word"));
    EXPECT_FALSE(Parse("From: a@b\n\nx").root.hasSubject);
}

TEST(MailParser, BodyConversion) {
    struct Row {
        const char* contentType;
        const char* encoding;
        std::string body;
        std::string text;
    } rows[] = {
        {"text/plain; charset=koi8-r", "8bit", "\xf0\xd2\xc9\xd7\xc5\xd4", "Привет"},
        {"text/plain; charset=iso-2022-jp", "7bit", "\x1b$BF|K\\8l\x1b(B", "日本語"},
        {"text/html; charset=big5", "8bit", "\xa4\xa4\xa4\xe5", "中文"},
        {"text/plain; charset=utf-8", "base64", "R3LDvMOfZSBhdXMgS8O2bG4=", "Grüße aus Köln"},
        {"text/plain; charset=utf-8", "quoted-printable", "caf=C3=A9 =\nau lait", "café au lait"},
        {"text/plain", "x-uuencode", "begin 644 a\n#86)C\n`\nend\n", "abc"},
        {"text/plain", "8bit", "caf\xe9", "café"},  // no charset: 1252 fallback
        {"text/plain; charset=utf-8", "8bit", "it\x92s \xe2\x9c\x93", "it’s ✓"},  // stray byte
        {"text/plain; charset=iso-8859-1", "8bit", "\x80 5", "€ 5"},  // read as Windows-1252
        {"text/plain", "8bit", std::string("a\0b", 3), "a b"},        // NUL becomes a space
        {"text/plain; charset=x-foo", "8bit", "ok\xff", "ok\xEF\xBF\xBD"},
        // Bytes that change, after and between runs longer than eight bytes.
        {"text/plain; charset=utf-8", "8bit",
         std::string("0123456789\x92"
                     "abcdefgh\xff",
                     20) +
             '\0' + "\xc3\xa9",
         "0123456789’abcdefghÿ é"},
        {"text/plain; charset=windows-1252", "8bit", std::string("\x93q\xe9\0", 4), "“qé "},
        {"text/calendar; charset=utf-8", "7bit", "BEGIN:VCALENDAR", "BEGIN:VCALENDAR"},
        {"application/pdf", "base64", "JVBERi0=", ""},  // attachments keep no text
        // An invalid code unit costs one unit, not one byte: the rest stays aligned.
        {"text/plain; charset=utf-16le", "base64", "ANhoAGkA", "\xEF\xBF\xBDhi"},
        {"text/plain; charset=utf-32le", "base64", "AAARAG8AAABrAAAA", "\xEF\xBF\xBDok"},
    };
    for (const Row& row : rows) {
        ParsedMail mail = Parse(std::string("From: a@b.c\nContent-Type: ") + row.contentType +
                                "\nContent-Transfer-Encoding: " + row.encoding + "\n\n" + row.body);
        ASSERT_EQ(1u, mail.parts.size()) << row.contentType;
        EXPECT_EQ(row.text, mail.parts[0].text) << row.contentType << " " << row.encoding;
        ExpectCleanText(mail);
    }
    ParsedMail unknown = Parse("Content-Type: text/plain; charset=x-foo\n\nok");
    EXPECT_TRUE(HasDefect(unknown, "unknown charset x-foo in part 1"));
    EXPECT_EQ("x-foo", unknown.root.contentCharset.value_or(""));
}

const char kNested[] =
    "From: \"Big Shop\" <Offers@Mail.Example.COM>\n"
    "Subject: outer\n"
    "X-Mailer: =?utf-8?Q?M=C3=BCller?=\n"
    "X-Folded:  a  b\r\n\tc  \r\n"
    "MIME-Version: 1.0\n"
    "Content-Type: multipart/mixed; boundary=\"outer\"\n"
    "\n"
    "preamble\n"
    "--outer\n"
    "Content-Type: multipart/alternative; boundary=inner\n"
    "\n"
    "--inner\n"
    "Content-Type: text/plain; charset=Windows-1251\n"
    "\n"
    "\xcf\xf0\xe8\xe2\xe5\xf2\n"
    "--inner\n"
    "Content-Type: text/html\n"
    "\n"
    "<p>hi</p>\n"
    "--inner--\n"
    "--outer\n"
    "Content-Type: message/rfc822\n"
    "\n"
    "Subject: =?utf-8?Q?inner_=E2=9C=93?=\n"
    "From: x@y.z\n"
    "Content-Type: text/plain\n"
    "\n"
    "forwarded\n"
    "--outer\n"
    "Content-Type: image/png\n"
    "Content-Transfer-Encoding: base64\n"
    "\n"
    "iVBORw0KGgo=\n"
    "--outer--\n";

TEST(MailParser, NestedStructure) {
    ParsedMail mail = Parse(kNested);
    EXPECT_EQ("multipart/mixed", mail.root.mediaType);
    EXPECT_EQ("outer", mail.root.subject);
    EXPECT_EQ("mail.example.com", mail.senderDomain);
    const std::vector<std::pair<uint32_t, std::string>> expected = {
        {host::kBodyMultipart, "multipart/mixed"},
        {host::kBodyMultipart, "multipart/alternative"},
        {kBodyTextPlain, "text/plain"},
        {kBodyTextHtml, "text/html"},
        {host::kBodyMessage, "message/rfc822"},
        {kBodyTextPlain, "text/plain"},
        {host::kBodyAttachment, "image/png"}};
    ASSERT_EQ(expected.size(), mail.parts.size());
    for (size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(expected[i].first, mail.parts[i].kind) << i;
        EXPECT_EQ(expected[i].second, mail.parts[i].headers.mediaType) << i;
    }
    EXPECT_EQ("Привет", mail.parts[2].text);  // the newline belongs to the boundary
    EXPECT_EQ("Windows-1251", mail.parts[2].headers.contentCharset.value_or(""));
    EXPECT_EQ("<p>hi</p>", mail.parts[3].text);
    EXPECT_EQ("inner ✓", mail.parts[4].headers.subject);  // the enclosed message's Subject
    EXPECT_EQ("forwarded", mail.parts[5].text);
    EXPECT_TRUE(mail.parts[0].text.empty());
    EXPECT_TRUE(mail.defects.empty()) << mail.defects.front();

    // Other root headers: decoded, in order, nothing represented elsewhere repeated.
    std::vector<std::string> names;
    for (const auto& other : mail.root.others) names.push_back(other.first);
    EXPECT_EQ((std::vector<std::string>{"X-Mailer", "X-Folded", "MIME-Version"}), names);
    EXPECT_EQ("Müller", mail.root.others[0].second);
    EXPECT_EQ("a  b\tc", mail.root.others[1].second);  // unfolded, inner blanks kept
}

TEST(MailParser, Addresses) {
    ParsedMail mail = Parse(
        "FROM: =?utf-8?Q?J=C3=B6rg?= <Joerg@EXAMPLE.org>, second@other.net\n"
        "To: Team: \"A, B\" <a@x.org>, b@x.org;, c@x.org\n"
        "to: d@x.org\n"
        "Reply-To: <r@x.org>\n"
        "CC: undisclosed-recipients:;\n"
        "\n");
    const std::vector<std::pair<std::string, std::vector<std::string>>> expected = {
        {"From", {"Joerg@EXAMPLE.org", "second@other.net"}},
        {"To", {"a@x.org", "b@x.org", "c@x.org", "d@x.org"}},  // group flattened, both To lines
        {"Reply-To", {"r@x.org"}},
        {"Cc", {}}};
    EXPECT_EQ(expected, mail.root.addresses);
    EXPECT_EQ("example.org", mail.senderDomain);
    EXPECT_TRUE(mail.root.others.empty());
    EXPECT_EQ("", Parse("To: a@b.c\n\n").senderDomain);
}

TEST(MailParser, BrokenInput) {
    struct Row {
        std::string raw;
        bool ok;
        size_t parts;
        const char* defect;  // a defect line that must be reported, or null
    } rows[] = {
        {"", false, 0, nullptr},
        {"just some text\nwithout any header\n", false, 0, nullptr},
        {std::string("\x7f\x45\x4c\x46\x02\x01\x00\x00\xff\xfe", 10), false, 0, nullptr},
        {"\xe9t\xe9: 8-bit name\n\nbody\n", false, 0, nullptr},  // GMime alone would take it
        // no closing boundary: the parts that were there are kept
        {"Content-Type: multipart/mixed; boundary=b\n\n--b\n\none\n--b\nContent-Type: text/html\n"
         "\n<b>two",
         true, 3, "no closing boundary in part 1"},
        {"Content-Type: multipart/mixed\n\n--b\n\none\n", true, 1, "multipart without boundary"},
        {"From: a@b\nSubject: no blank line", true, 1, "message truncated"},
        {"garbage line\nFrom: a@b\n\nbody", true, 1, "skipped 13 bytes before the headers"},
        {"\nbody without headers\n", true, 1, "no headers"},
        {std::string("From: a@b\nSubject: x\0y\n\nbody", 27), true, 1, "NUL byte in the headers"},
    };
    for (const Row& row : rows) {
        ParsedMail mail = Parse(row.raw, row.ok);
        EXPECT_EQ(row.parts, mail.parts.size()) << row.raw;
        if (row.defect) {
            EXPECT_TRUE(HasDefect(mail, row.defect)) << row.raw;
        }
        ExpectCleanText(mail);
    }
}

TEST(MailParser, HostileStructure) {
    // Nested deeper than GMime goes (1024 levels) and than the second parse: every level is
    // listed up to 2048, and the innermost leaf is still read, as text.
    for (const int levels : {1100, 2100}) {
        std::string deep = "From: a@b\n";
        for (int i = 0; i < levels; ++i)
            deep += "Content-Type: multipart/mixed; boundary=b" + std::to_string(i) + "\n\n--b" +
                    std::to_string(i) + "\n";
        deep += "\nleaf\n";
        ParsedMail mail = Parse(deep);
        EXPECT_EQ(levels < 2048 ? levels + 1u : 2049u, mail.parts.size());
        EXPECT_NE(mail.parts.back().text.find("leaf"), std::string::npos);
        EXPECT_EQ(mail.parts.back().kind, nsEmlComponents::kBodyTextPlain);
    }

    std::string many = "Content-Type: multipart/mixed; boundary=b\n\n";
    for (int i = 0; i < 3000; ++i) many += "--b\n\npart\n";
    many += "--b--\n";
    EXPECT_EQ(3001u, Parse(many).parts.size());

    // Random damage to a real message never yields unclean text.
    std::mt19937 random(7);
    for (int round = 0; round < 300; ++round) {
        std::string raw = kNested;
        for (int i = 0; i < 20; ++i) raw[random() % raw.size()] = static_cast<char>(random());
        ParsedMail damaged;
        std::string error;
        host::ParseMail(raw.data(), raw.size(), &damaged, &error);
        ExpectCleanText(damaged);
    }
}

TEST(MailParser, ThreadsParseSeparateMessages) {
    const ParsedMail reference = Parse(kNested);
    std::vector<std::thread> threads;
    std::vector<int> mismatches(4, 0);
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([t, &reference, &mismatches] {
            for (int i = 0; i < 200; ++i) {
                ParsedMail mail;
                std::string error;
                host::ParseMail(kNested, sizeof(kNested) - 1, &mail, &error);
                if (mail.parts.size() != reference.parts.size() ||
                    mail.parts[2].text != reference.parts[2].text)
                    ++mismatches[t];
            }
        });
    }
    for (std::thread& thread : threads) thread.join();
    EXPECT_EQ(std::vector<int>(4, 0), mismatches);
}

}  // namespace

// Tests of the mail parser: header decoding, body conversion to UTF-8, charsets of real mail
// (labels iconv lacks, HTML <meta>, detection from the bytes), the parts list of nested and
// broken MIME, addresses and hostile input. What the samples reach (the common charsets,
// base64 and soft line breaks) is checked end to end by scan_e2e_test; parsing on several
// threads through the scanner (scan_host_test).
#include "host/mail_parser.h"

#include <glib.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <tuple>
#include <vector>

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
    return std::any_of(mail.defects.begin(), mail.defects.end(),
                       [&](const std::string& d) { return d.find(text) != std::string::npos; });
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

// Blanks between encoded words vanish; an RFC 2231 language is dropped; a word never
// terminated stays as it is; raw UTF-8 and raw Latin-1 both read.
TEST(MailParser, SubjectDecoding) {
    // header, subject, charset (null: none expected)
    // clang-format off
    const std::tuple<const char*, const char*, const char*> rows[] = {
        {"=?ISO-8859-1?Q?caf=E9_au_lait?=", "café au lait", "ISO-8859-1"},
        {"=?utf-8?Q?a?=  =?utf-8?Q?b?=", "ab", "utf-8"}, {"=?utf-8*en?Q?hi?=", "hi", "utf-8"},
        {"=?iso-8859-2?Q?=B1?= and =?utf-8?B?4pyT?=", "ą and ✓", "iso-8859-2"},
        {"=?ISO-2022-JP?B?GyRCRnxLXDhsGyhC?=", "日本語", "ISO-2022-JP"},
        {"Re: =?utf-8?Q?broken", "Re: =?utf-8?Q?broken", nullptr},
        {"Gr\xc3\xbc\xc3\x9f" "e", "Grüße", nullptr}, {"Gr\xfc\xdf" "e", "Grüße", nullptr}};
    // clang-format on
    for (const auto& [header, subject, charset] : rows) {
        ParsedMail mail = Parse(std::string("From: a@b.c\nSubject: ") + header + "\n\nx\n");
        EXPECT_TRUE(mail.root.hasSubject);
        EXPECT_EQ(subject, mail.root.subject) << header;
        EXPECT_EQ(charset ? charset : "<none>", mail.root.subjectCharset.value_or("<none>"));
    }
    EXPECT_TRUE(HasDefect(Parse("Subject: =?x-nope?Q?a?=\n\n"), "unknown charset x-nope"));
    EXPECT_TRUE(HasDefect(Parse("Subject: =?utf-8?B?no*pe?=\n\n"), "undecodable encoded word"));
    EXPECT_FALSE(Parse("From: a@b\n\nx").root.hasSubject);
}

std::string Encode(const char* utf8, const char* charset) {
    gsize written = 0;
    gchar* bytes = g_convert(utf8, -1, charset, "UTF-8", nullptr, &written, nullptr);
    EXPECT_NE(bytes, nullptr) << charset;
    const std::string out(bytes ? bytes : "", written);
    g_free(bytes);
    return out;
}

// Without a charset a part reads as Windows-1252, and so does ISO-8859-1; a stray byte in UTF-8
// text is read as Windows-1252 too; NUL becomes a space; an unknown charset gives replacement
// characters; bytes that change come after and between runs longer than eight bytes;
// attachments keep no text. Real mail: labels iconv lacks, a charset only an HTML <meta> gives
// (also over a wrong or bogus label), bytes the declared us-ascii does not fit; the part's
// charsets line says why. An invalid Content-Type is plain text in us-ascii, with a defect noted.
TEST(MailParser, BodyConversion) {
    const char *big5 = "您好，我們公司提供最優惠的價格，歡迎來電諮詢。本公司專業代開各類發票",
               *gb = "您好，我们公司提供最优惠的价格，欢迎来电咨询。本公司专业代开各类发票",
               *ko = "안녕하세요 특별한 혜택을 드립니다 지금 바로 클릭하세요",
               *ja = "こんにちは、今日は特別なお知らせがあります。今すぐクリック",
               *th = "สวัสดีครับ โปรโมชั่นพิเศษสำหรับคุณวันนี้เท่านั้น คลิกที่นี่เพื่อรับส่วนลด";
    const std::string big5Meta = "<html><head><meta charset=\"big5\"></head><body>",
                      gbMeta =
                          "<html><head><META HTTP-EQUIV=\"Content-Type\" CONTENT=\"text/html; "
                          "charset=gb2312\"></head><body>";
    // clang-format off
    const std::string runs = std::string("0123456789\x92" "abcdefgh\xff", 20) + '\0' + "\xc3\xa9";
    // Content-Type, Content-Transfer-Encoding, body, text, the start of the charsets line
    const std::tuple<const char*, const char*, std::string, std::string, const char*> rows[] = {
        {"text/plain; charset=utf-8", "quoted-printable", "caf=C3=A9 =\nau lait", "café au lait", "utf-8 (declared)"},
        {"text/plain", "x-uuencode", "begin 644 a\n#86)C\n`\nend\n", "abc", "utf-8 (default)"},
        {"text/plain", "8bit", "caf\xe9", "café", "utf-8/windows-1252 (default)"},
        {"text/plain; charset=utf-8", "8bit", "it\x92s \xe2\x9c\x93", "it’s ✓", "utf-8 (declared)"},
        {"text/plain; charset=iso-8859-1", "8bit", "\x80 5", "€ 5", "iso-8859-1 (declared)"},
        {"text/plain", "8bit", std::string("a\0b", 3), "a b", "utf-8 (default)"},
        {"text/plain; charset=x-foo", "8bit", "ok\xff", "ok\xEF\xBF\xBD", "utf-8 (unknown charset x-foo)"},
        {"text/plain; charset=utf-8", "8bit", runs, "0123456789’abcdefghÿ é", "utf-8 (declared)"},
        {"text/plain; charset=windows-1252", "8bit", std::string("\x93q\xe9\0", 4), "“qé ", "windows-1252 (declared)"},
        {"text/calendar; charset=utf-8", "7bit", "BEGIN:VCALENDAR", "BEGIN:VCALENDAR", "utf-8 (declared)"},
        {"application/pdf", "base64", "JVBERi0=", "", ""},
        // An invalid code unit costs one unit, not one byte: the rest stays aligned.
        {"text/plain; charset=utf-16le", "base64", "ANhoAGkA", "\xEF\xBF\xBDhi", "utf-16le (declared; 1 bytes do not fit)"},
        {"text/plain; charset=utf-32le", "base64", "AAARAG8AAABrAAAA", "\xEF\xBF\xBDok", "utf-32le (declared; 1 bytes do not fit)"},
        {"text/plain; charset=CHINESEBIG5", "8bit", Encode(big5, "BIG5"), big5, "cp950 (alias of"},
        {"text/plain; charset=ks_c_5601-1987", "8bit", Encode(ko, "CP949"), ko, "cp949 (alias of"},
        {"text/plain; charset=GB2312_CHARSET", "8bit", Encode(gb, "GB2312"), gb, "gbk (alias of"},
        {"text/plain; charset=x-sjis", "8bit", Encode(ja, "SHIFT_JIS"), ja, "cp932 (alias of"},
        {"text/html", "8bit", big5Meta + Encode(big5, "BIG5"), big5Meta + big5, "big5 (meta)"},
        {"text/html; charset=bogus", "8bit", gbMeta + Encode(gb, "GB2312"), gbMeta + gb, "gb2312 (meta)"},
        {"text/html; charset=us-ascii", "8bit", big5Meta + Encode(big5, "BIG5"), big5Meta + big5, "big5 (meta)"},
        {"text/plain; charset=us-ascii", "8bit", Encode(big5, "BIG5"), big5, "cp950 (detected, "},
        {"text/plain; charset=us-ascii", "8bit", Encode(th, "TIS-620"), th, "cp874 (detected by its"},
        {"text/plain", "8bit", Encode(ja, "SHIFT_JIS"), ja, "cp932 (detected, "},
        {"text/plain; charset=gb2312", "8bit", Encode(gb, "GB2312"), gb, "gb2312 (declared)"},
        {"text/plain", "8bit", "caf\xe9 cr\xe8me", "café crème", "utf-8/windows-1252 (default)"},
        {"text/plain; charset=utf-8", "8bit", th, th, "utf-8 (declared)"},
        {"text; charset=us-ascii", "7bit", "GTUBE", "GTUBE", "us-ascii (declared)"},
        {"<html>", "7bit", "GTUBE", "GTUBE", "us-ascii (declared)"},
        {"text/", "7bit", "GTUBE", "GTUBE", "us-ascii (declared)"}};
    // clang-format on
    for (const auto& [type, encoding, body, text, charsets] : rows) {
        ParsedMail mail = Parse(std::string("From: a@b.c\nContent-Type: ") + type +
                                "\nContent-Transfer-Encoding: " + encoding + "\n\n" + body);
        ASSERT_EQ(1u, mail.parts.size()) << type;
        EXPECT_EQ(text, mail.parts[0].text) << type << " " << encoding;
        std::string lines;
        for (const std::string& line : mail.charsets) lines += line + "|";
        EXPECT_TRUE(*charsets ? lines.rfind(std::string("part 1: ") + charsets, 0) == 0
                              : lines.empty())
            << type << ": " << lines;
        ExpectCleanText(mail);
    }
    for (const char* type : {"text; charset=us-ascii", "<html>", "text/"}) {
        const ParsedMail mail = Parse("Content-Type: " + std::string(type) + "\n\nx");
        EXPECT_EQ(mail.root.mediaType, "text/plain") << type;
        EXPECT_TRUE(mail.parts[0].kind == kBodyTextPlain &&
                    HasDefect(mail, "Content-Type in part 1"));
    }
    ParsedMail unknown = Parse("Content-Type: text/plain; charset=x-foo\n\nok");
    EXPECT_TRUE(HasDefect(unknown, "unknown charset x-foo in part 1"));
    EXPECT_EQ("x-foo", unknown.root.contentCharset.value_or(""));
}

const char kNested[] =
    "FROM: =?utf-8?Q?J=C3=B6rg?= <Joerg@EXAMPLE.org>, second@other.net\nSubject: outer\n"
    "To: Team: \"A, B\" <a@x.org>, b@x.org;, c@x.org\nto: d@x.org\nReply-To: <r@x.org>\n"
    "CC: undisclosed-recipients:;\n"
    "X-Mailer: =?utf-8?Q?M=C3=BCller?=\nX-Folded:  a  b\r\n\tc  \r\nMIME-Version: 1.0\n"
    "Content-Type: multipart/mixed; boundary=\"outer\"\n\npreamble\n"
    "--outer\nContent-Type: multipart/alternative; boundary=inner\n\n"
    "--inner\nContent-Type: text/plain; charset=Windows-1251\n\n\xcf\xf0\xe8\xe2\xe5\xf2\n"
    "--inner\nContent-Type: text/html\n\n<p>hi</p>\n--inner--\n"
    "--outer\nContent-Type: message/rfc822\n\n"
    "Subject: =?utf-8?Q?inner_=E2=9C=93?=\nFrom: x@y.z\nContent-Type: text/plain\n\nforwarded\n"
    "--outer\nContent-Type: image/png\nContent-Transfer-Encoding: base64\n\niVBORw0KGgo=\n"
    "--outer--\n";

// The parts in document order with their kinds and texts (a boundary's newline is not text), the
// enclosed message's own Subject, the addresses (groups flattened, both To lines counted), and
// the other root headers: decoded, unfolded with inner blanks kept, in order, nothing represented
// elsewhere repeated; the one defect is the repeated To. No From: no sender domain.
TEST(MailParser, NestedStructure) {
    ParsedMail mail = Parse(kNested);
    EXPECT_EQ("multipart/mixed outer example.org",
              mail.root.mediaType + " " + mail.root.subject + " " + mail.senderDomain);
    // kind, media type and charset (an enclosed message: its Subject), text
    typedef std::vector<std::tuple<uint32_t, std::string, std::string>> Parts;
    const Parts expected = {{host::kBodyMultipart, "multipart/mixed ", ""},
                            {host::kBodyMultipart, "multipart/alternative ", ""},
                            {kBodyTextPlain, "text/plain Windows-1251", "Привет"},
                            {kBodyTextHtml, "text/html ", "<p>hi</p>"},
                            {host::kBodyMessage, "message/rfc822 inner ✓", ""},
                            {kBodyTextPlain, "text/plain ", "forwarded"},
                            {host::kBodyAttachment, "image/png ", ""}};
    Parts parts;
    for (const auto& p : mail.parts) {
        const auto& h = p.headers;
        const bool message = p.kind == host::kBodyMessage;
        const std::string more = message ? h.subject : h.contentCharset.value_or("");
        parts.emplace_back(p.kind, h.mediaType + " " + more, p.text);
    }
    EXPECT_EQ(expected, parts);
    EXPECT_EQ(mail.defects, std::vector<std::string>{"conflicting repeated header to"});
    const std::vector<std::pair<std::string, std::string>> others = {
        {"X-Mailer", "Müller"}, {"X-Folded", "a  b\tc"}, {"MIME-Version", "1.0"}};
    EXPECT_EQ(others, mail.root.others);
    // clang-format off
    const std::vector<std::pair<std::string, std::vector<std::string>>> addresses = {
        {"From", {"Joerg@EXAMPLE.org", "second@other.net"}}, {"To", {"a@x.org", "b@x.org", "c@x.org", "d@x.org"}},
        {"Reply-To", {"r@x.org"}}, {"Cc", {}}};
    // clang-format on
    EXPECT_EQ(addresses, mail.root.addresses);
    EXPECT_EQ("", Parse("To: a@b.c\n\n").senderDomain);
}

// Refused: nothing, no header, binary, an 8-bit header name (which GMime alone would take).
// Without a closing boundary the parts that were there are kept.
TEST(MailParser, BrokenInput) {
    const std::string binary("\x7f\x45\x4c\x46\x02\x01\x00\x00\xff\xfe", 10),
        nul("From: a@b\nSubject: x\0y\n\nbody", 27),
        unclosed(
            "Content-Type: multipart/mixed; boundary=b\n\n--b\n\none\n--b\n"
            "Content-Type: text/html\n\n<b>two");
    // message, parsed, parts, a defect that must be reported (null: none)
    // clang-format off
    const std::tuple<std::string, bool, size_t, const char*> rows[] = {
        {"", false, 0, nullptr}, {"just some text\nwithout any header\n", false, 0, nullptr},
        {binary, false, 0, nullptr}, {"\xe9t\xe9: 8-bit name\n\nbody\n", false, 0, nullptr},
        {unclosed, true, 3, "no closing boundary in part 1"},
        {"Content-Type: multipart/mixed\n\n--b\n\none\n", true, 1, "multipart without boundary"},
        {"From: a@b\nSubject: no blank line", true, 1, "message truncated"},
        {"garbage line\nFrom: a@b\n\nbody", true, 1, "skipped 13 bytes before the headers"},
        {"\nbody without headers\n", true, 1, "no headers"},
        {nul, true, 1, "NUL byte in the headers"}};
    // clang-format on
    for (const auto& [raw, ok, parts, defect] : rows) {
        ParsedMail mail = Parse(raw, ok);
        EXPECT_EQ(parts, mail.parts.size()) << raw;
        EXPECT_TRUE(defect == nullptr || HasDefect(mail, defect)) << raw;
        ExpectCleanText(mail);
    }
}

TEST(MailParser, HostileStructure) {
    // Nested deeper than GMime goes (1024 levels), in the two ways a boundary is declared (plain,
    // and folded and quoted with a space and a semicolon): every level is listed and the
    // innermost leaf is decoded.
    for (const int levels : {1100, 3000}) {
        std::string deep = "From: a@b\n";
        for (int i = 0; i < levels; ++i) {
            const std::string boundary = "b" + std::to_string(i) + (i % 2 ? " ;x" : "");
            deep += i % 2 ? "content-type: MULTIPART/mixed; a=\"1;2\";\n\tboundary=\"" + boundary +
                                "\"\n\n"
                          : "Content-Type: multipart/mixed; boundary=" + boundary + "\n\n";
            deep += "--" + boundary + "\n";
        }
        deep += "Content-Transfer-Encoding: base64\n\nbGVhZg==\n";
        ParsedMail mail = Parse(deep);
        EXPECT_EQ(levels + 1u, mail.parts.size());
        EXPECT_EQ(mail.parts.back().text, "leaf");
        EXPECT_EQ(mail.parts.back().kind, nsEmlComponents::kBodyTextPlain);
    }

    std::string many = "Content-Type: multipart/mixed; boundary=b\n\n";
    for (int i = 0; i < 3000; ++i) many += "--b\n\npart\n";
    EXPECT_EQ(3001u, Parse(many + "--b--\n").parts.size());

    // A block of many header fields (most of them kept from GMime) reads field by field as
    // each field does alone: names, values, order, the first Subject.
    // field, whether the host reads it itself (the others go to GMime)
    const std::pair<std::string, bool> fields[] = {{"X-A: plain\n", true},
                                                   {"X-B:   lead and trail  \t\n", true},
                                                   {"X-C: folded\n\tover\n  lines \n", true},
                                                   {"X-D: crlf\r\n", true},
                                                   {"X-E:\n", true},
                                                   {"X-F: bare\rcr\n", true},
                                                   {"X-G: =?utf-8?B?w6k=?=\n", true},
                                                   {"X-H: caf\xe9\n", true},
                                                   {"X-I : blank before the colon\n", false},
                                                   {"no colon\n", false},
                                                   {"Received: x\n", true},
                                                   {std::string("X-J: nul\0byte\n", 14), false},
                                                   {"Subject: s1\n", false},
                                                   {"X-Molvex-Fields-0: 0\n", true},
                                                   {"X-K: a=?b\n", true},
                                                   {"X-L: =?bogus?Q?x?=\n", true},
                                                   {"Reply-To: r@b.c\n", false},
                                                   {"Date: d\n", false},
                                                   {"To: t@b.c\n", false}};
    std::string block = "From: a@b\n";
    std::vector<std::pair<std::string, std::string>> others;
    size_t taken = 0;
    for (int round = 0; round < 5; ++round) {
        for (const auto& [field, hostReads] : fields) {
            block += field;
            taken += hostReads;
            const ParsedMail alone = Parse("From: a@b\n" + field + "\nbody\n");
            others.insert(others.end(), alone.root.others.begin(), alone.root.others.end());
        }
    }
    const ParsedMail blockMail = Parse(block + "\nbody\n");
    EXPECT_EQ(others, blockMail.root.others);
    EXPECT_EQ(taken, blockMail.fieldsRoundGMime);
    EXPECT_EQ("s1", blockMail.root.subject);
    const std::vector<std::pair<std::string, std::vector<std::string>>> addresses = {
        {"From", {"a@b"}},
        {"Reply-To", std::vector<std::string>(5, "r@b.c")},
        {"To", std::vector<std::string>(5, "t@b.c")}};
    EXPECT_EQ(addresses, blockMail.root.addresses);
    for (const char* defect :
         {"no colon", "8-bit text in header X-H", "unknown charset bogus in header X-L"})
        EXPECT_TRUE(HasDefect(blockMail, defect)) << defect;

    // Many small parts, most of them kept from GMime, read part by part as each does alone:
    // records, the charsets used and the defects (part numbers aside), with line breaks of
    // either kind around the boundaries.
    // A part whose many fields go round GMime too, repeated (same value, other value) and
    // sharing a name with a field GMime still reads.
    std::string manyFields = "X-R: 1\nX-R: 1\nX-R: 2\nX-K : kept\nX-K: not taken\nX-E: caf\xe9\n";
    for (int i = 0; i < 40; ++i) manyFields += "X-F" + std::to_string(i % 30) + ": v\n";
    // part text, how many of its parts the host reads itself (the others go to GMime)
    const std::pair<std::string, size_t> partTexts[] = {
        {manyFields + "Content-Type: text/plain\n\nfields\n", 0},
        {"Content-Type: text/plain\n\nhello http://a.example/\n", 1},
        {"Content-Type: text/html; charset=utf-8\n\n<p>hi</p>\n", 1},
        {"Content-Type: TEXT/PLAIN; charset=\"iso-8859-1\"\nX-A: 1\n\ncaf\xe9\n", 1},
        {"Content-Type: text/plain\n\n", 1},
        {"Content-Type: text/plain\r\n\r\nline\r\n", 1},
        {"Content-Type: text/plain; format=flowed\n\nx\n", 0},
        {"Content-Type: text/plain; charset=bogus-cs\n\nx\n", 1},
        {"Content-Transfer-Encoding: base64\nContent-Type: text/plain\n\naGk=\n", 0},
        {"Content-Type: text/plain\nX-A: 1\nX-a: 2\n\ndup\n", 0},
        {"Content-Type: text/plain\nX-1: 1\nX-2: 2\nX-3: 3\nX-4: 4\nX-5: 5\nX-6: 6\nX-7: 7\n\n"
         "eight fields\n",
         1},
        {"Content-Type: text/plain\nX-1: 1\nX-2: 2\nX-3: 3\nX-4: 4\nX-5: 5\nX-6: 6\nX-7: 7\n"
         "X-8: 8\n\nnine fields\n",
         0},
        {"Content-Type: multipart/alternative; boundary=in\n\n--in\nContent-Type: text/plain\n\n"
         "inner\n--in--\n",
         1},
        {"X-B: folded\n\tvalue\nContent-Type: text/html\n\n<b>x</b>\n\n", 1},
        {"Content-Type: text/plain\n\n--not-a-boundary\n", 1},
        {"X-C: 1\n\nbare\n", 0},
        {"Content-Type: text/plain ; charset=utf-8 \n\nspaces\n", 1},
        {"Content-Type: text/plain\nContent-Type: text/html\n\ntwo types\n", 0},
        {"Content-Type: text/plain\nX-A: no content\n", 0},
        {"Content-Type: multipart/mixed; boundary=c\nX-A: cut short\n", 0},
        {"Content-Type: message/rfc822\nX-A: empty\n", 0},
        {"Content-Type: text/plain (a comment)\n\ncommented\n", 0},
        {"Content-Type: multipart/digest; boundary=d\n\n--d\n\nSubject: in a digest\n\ntext\n--d\n"
         "Content-Type: text/plain\n\nplain in a digest\n--d--\n",
         1},
        {"Content-Type : message/RFC2822\n\nSubject: inner\nContent-Type: multipart/alternative; "
         "boundary=m\n\n--m\nContent-Type: text/plain\n\ninner\n--m--\n",
         1},
        {"Content-Type: message/rfc822\n\nContent-Type: multipart/mixed; boundary=b\n\n--b\n"
         "Content-Type: text/plain\n\nsame boundary\n--b\nContent-Type: text/html\n\nx\n--b--\n",
         2}};
    const auto numberless = [](std::string text) {
        text.erase(std::remove_if(text.begin(), text.end(), ::isdigit), text.end());
        return text;
    };
    const auto summary = [&](const ParsedMail& mail) {
        std::vector<std::string> out;
        for (size_t i = 1; i < mail.parts.size(); ++i) {
            const host::PartFields& part = mail.parts[i];
            std::string line = std::to_string(part.kind) + "|" + part.text + "|" +
                               part.headers.mediaType + "|" +
                               part.headers.contentCharset.value_or("-") + "|" +
                               (part.headers.hasContentType ? "ct" : "");
            for (const auto& other : part.headers.others)
                line += "|" + other.first + "=" + other.second;
            out.push_back(line);
        }
        out.push_back("charsets");  // then the notes, after the records of all parts
        for (const std::string& note : mail.charsets) out.push_back(numberless(note));
        return out;
    };
    for (const char* lineBreak : {"\n", "\r\n"}) {
        const std::string top = "From: a@b\nContent-Type: multipart/mixed; boundary=b\n\n";
        const std::string next = std::string("--b") + lineBreak,
                          end = "--b--" + std::string(lineBreak);
        std::string many = top;
        size_t plainParts = 0;
        // Every line break of the part texts as the boundaries' (those written CR LF stay).
        const auto breaks = [&](const std::string& text) {
            std::string out;
            for (size_t i = 0; i < text.size(); ++i) {
                if (text[i] == '\n' && (i == 0 || text[i - 1] != '\r'))
                    out += lineBreak;
                else
                    out += text[i];
            }
            return out;
        };
        std::vector<std::string> expected, expectedNotes{"charsets"}, expectedDefects;
        for (int round = 0; round < 8; ++round) {
            for (const auto& [lfText, hostReads] : partTexts) {
                const std::string text = breaks(lfText);
                plainParts += hostReads;
                many += next + text;
                const ParsedMail alone = Parse(top + next + text + end);
                std::vector<std::string> lines = summary(alone);
                const auto notes = std::find(lines.begin(), lines.end(), "charsets");
                expected.insert(expected.end(), lines.begin(), notes);
                expectedNotes.insert(expectedNotes.end(), notes + 1, lines.end());
                for (const std::string& defect : alone.defects)
                    expectedDefects.push_back(numberless(defect));
            }
        }
        const ParsedMail manyMail = Parse(many + end);
        EXPECT_EQ(plainParts, manyMail.partsRoundGMime) << lineBreak;
        EXPECT_EQ(8 * 44u, manyMail.fieldsRoundGMime) << lineBreak;  // the many fields
        std::vector<std::string> got = summary(manyMail), gotDefects;
        for (const std::string& defect : manyMail.defects) gotDefects.push_back(numberless(defect));
        expected.insert(expected.end(), expectedNotes.begin(), expectedNotes.end());
        EXPECT_EQ(expected, got) << lineBreak;
        for (auto* list : {&expectedDefects, &gotDefects}) {
            std::sort(list->begin(), list->end());
            list->erase(std::unique(list->begin(), list->end()), list->end());
        }
        EXPECT_EQ(expectedDefects, gotDefects) << lineBreak;
    }

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

}  // namespace

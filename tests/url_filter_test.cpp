// The URL filter through the factory-made module: list loading from the settings, white-list
// subtraction, the order of the key look-ups for URLs and the sender's domain, key extraction,
// failures and the levels of their traces.
#include <memory>

#include "temp_folder.h"
#include "test_support.h"
#include "url_data_files.h"

namespace {

using namespace testing_support;  // the suites' shared helpers

const std::string kEntityFailed = "Module Eml URL Filter failed to process entity with message: ";

class URLFilterTest : public ModuleFixture {
  protected:
    void SetUp() override {
        ASSERT_TRUE(folder.ok());
        ModuleFixture::SetUp();
        if (HasFatalFailure()) return;
        filter = CreateFilter(kURLFilter);
        m_settings.Set("/eml/global/SharedDataPath", folder.path());
        m_settings.Set("/eml/global/GlobalTempPath", folder.path());
        m_settings.Set("/eml/filter/url/filesbl", "black.dat");  // read once a test applies it
        // URL keys, sub-domains, domains. "mail.sub.org/both" and "bad.com/both" are listed
        // twice over, so that the key reported tells the order of the look-ups.
        testfiles::WriteListFile(folder / "black.dat",
                                 {{"listed.com/exact/path", "mail.sub.org/both", "bad.com/both"},
                                  {"mail.sub.org"},
                                  {"bad.com", "spam.co.uk", "a.b.tld", "b2.tld"}},
                                 folder.path());
        testfiles::WriteListFile(folder / "white.dat", {{}, {}, {"spam.co.uk"}}, folder.path());
        ASSERT_EQ(host::OpenSession(filter, kSession), 0);
        m_traces.lines.clear();
    }

    testfiles::TempFolder folder;
};

TEST_F(URLFilterTest, ListedKeysOfUrlsAndSender) {
    m_settings.Set("/eml/filter/url/filewl", "white.dat");
    ASSERT_EQ(filter->ApplySharedSettings(), 0) << HostError();
    // clang-format off
    struct { std::vector<std::string> text, html; const char *sender, *matched; } rows[] = {
        // sender null: no sender domain; matched: the keys listed, "" for none
        {{"http://www.bad.com/x", "http://mail.sub.org/"}, {}, nullptr, "bad.com "},  // first hit
        {{"http://clean.net/", "https://MAIL.bad.com:8080/p?q"}, {}, nullptr, "bad.com "},
        {{"http://listed.com/exact/path"}, {}, nullptr, "listed.com/exact/path "},
        {{"http://mail.sub.org/page"}, {}, nullptr, "mail.sub.org "},  // sub-domain key
        // the domain before the URL key, the URL key before the sub-domain
        {{"http://bad.com/both"}, {}, nullptr, "bad.com "},
        {{"http://mail.sub.org/both"}, {}, nullptr, "mail.sub.org/both "},
        {{}, {"http://www.bad.com/"}, nullptr, "bad.com "},
        {{"http://www.spam.co.uk/"}, {}, nullptr, ""},  // taken out by the white list
        {{"http://clean.net/"}, {}, nullptr, ""},
        // sender domain: parents from the top down (b.tld is tried before a.b.tld), then itself
        {{}, {}, "mail.a.b.tld", "a.b.tld "}, {{}, {}, "x.b2.tld", "b2.tld "}, {{}, {}, "bad.com", "bad.com "},
        {{"http://bad.com/"}, {}, "a.b.tld", "bad.com a.b.tld "},  // the sender adds one key
        {{}, {}, "", ""},
    };
    // clang-format on
    for (const auto& row : rows) {
        SCOPED_TRACE("row " + std::to_string(&row - rows));
        host::MessageBuilder builder;
        if (!row.text.empty()) builder.TextPart("text", row.text);
        if (!row.html.empty()) builder.HtmlPart("<a>", row.html);
        auto message = builder.Build();
        if (row.sender) message->blackbox().SetString(asbb::kSenderDomain, row.sender);
        ASSERT_EQ(Run(filter, *message, asbb::kCheckUrls), 0) << HostError();
        EXPECT_EQ(Verdicts(message->blackbox(), {asbb::kUrlListed, asbb::kUrlMatchedKeys}),
                  (*row.matched ? "1 '" : "0 '") + std::string(row.matched) + "'");
    }
    EXPECT_TRUE(m_traces.Contains("the message does not have spam URLs"));
    EXPECT_TRUE(m_traces.Contains("the message has spam URLs"));
    EXPECT_TRUE(m_traces.Contains("[RTDA] Could not get from domain from blackbox"));
}

TEST_F(URLFilterTest, MissingListFiles) {
    m_settings.Remove(host::WidenKey("/eml/filter/url/filesbl").c_str());
    ASSERT_EQ(filter->ApplySharedSettings(), 0);  // no black list: nothing is judged
    auto bad = host::MessageBuilder().TextPart("x", {"http://bad.com/"}).Build();
    ASSERT_EQ(Run(filter, *bad, asbb::kCheckUrls), 0);
    EXPECT_FALSE(bad->blackbox().Has(asbb::kUrlListed) ||
                 bad->blackbox().Has(asbb::kUrlMatchedKeys));
    m_settings.Set("/eml/filter/url/filesbl", "missing.dat\tblack.dat");
    ASSERT_EQ(filter->ApplySharedSettings(), 0) << HostError();
    EXPECT_EQ(m_traces.Level("[url] Url blacklist File Not Found!"), 1);

    m_settings.Set("/eml/filter/url/filesbl", "missing.dat other.dat");
    EXPECT_EQ(filter->ApplySharedSettings(), ascommon::kErrInternal);
    EXPECT_EQ(HostError(), "ASException - MESSAGE: Problems loading the BL URLs");
    m_settings.Set("/eml/filter/url/filesbl", "black.dat");
    m_settings.Set("/eml/filter/url/filewl", "missing-white.dat");  // no failure
    ASSERT_EQ(filter->ApplySharedSettings(), 0) << HostError();
    auto message = host::MessageBuilder().TextPart("t", {"http://spam.co.uk/"}).Build();
    ASSERT_EQ(Run(filter, *message, asbb::kCheckUrls), 0);
    EXPECT_EQ(message->blackbox().IntValue(asbb::kUrlListed, -1), 1);

    m_settings.Remove(host::WidenKey("/eml/global/GlobalTempPath").c_str());
    m_settings.Remove(host::WidenKey("/eml/filter/url/filewl").c_str());
    EXPECT_EQ(filter->ApplySharedSettings(), 0);
    EXPECT_EQ(m_traces.Level("Module Eml URL Filter failed to apply shared settings with "
                             "message: invalid EmlGlobalTempPath"),
              1);
}

// Verb 1 writes the keys without looking them up; other verbs and commands do nothing; broken
// messages are refused.
TEST_F(URLFilterTest, ExtractOtherVerbsAndBrokenMessages) {
    ASSERT_EQ(filter->ApplySharedSettings(), 0) << HostError();
    auto message = host::MessageBuilder()  // the keys come in the parts' order
                       .TextPart("t", {"http://www.bad.com/a/b?c=d"})
                       .HtmlPart("<a>", {"http://mail.example.co.uk:81/"})
                       .TextPart("t", {"http://z.tld/"})
                       .Build();
    std::unique_ptr<FILE, int (*)(FILE*)> out(std::tmpfile(), std::fclose);
    host::BlackBoxStore extra;
    extra.PutObject(asbb::kUrlKeyStream, asbb::kObject,
                    reinterpret_cast<ascommon::CBlackBoxObject*>(out.get()), false);
    ASSERT_EQ(Run(filter, *message, asbb::kExtractUrlKeys, &extra), 0) << HostError();
    EXPECT_EQ(ReadAll(out.get()),
              "bad.com\nbad.com\nbad.com/a/b?c=d\nexample.co.uk\nmail.example.co.uk\n"
              "mail.example.co.uk:81/\nz.tld\nz.tld\nz.tld/\n");
    EXPECT_EQ(Verdicts(message->blackbox(), {asbb::kUrlListed, asbb::kUrlMatchedKeys}),
              "0 ''");  // nothing looked up

    EXPECT_EQ(Run(filter, *message, asbb::kExtractUrlKeys), ascommon::kErrInternal);
    EXPECT_EQ(
        HostError(),
        kEntityFailed + "ASInternalException - MESSAGE: no output file set to extract urls to");

    auto other = host::MessageBuilder().TextPart("t", {"http://bad.com/"}).Build();
    ASSERT_EQ(Run(filter, *other, 5), 0);
    EXPECT_TRUE(m_traces.Contains("the command is unknown and could not be performed"));
    EXPECT_FALSE(other->blackbox().Has(asbb::kUrlListed));

    host::BlackBoxStore io;
    EXPECT_EQ(filter->ProcessCommand(kSession, 7, &io), 0);
    EXPECT_TRUE(
        m_traces.Contains("the release version of the URL filter does not support any commands"));

    auto noTree = host::MessageBuilder().TextPart("t").WithoutPartsTree().Build();
    EXPECT_EQ(Run(filter, *noTree, asbb::kCheckUrls), ascommon::kErrInternal);
    EXPECT_EQ(HostError(), kEntityFailed +
                               "ASBadCastException - MESSAGE: Could not convert from "
                               "CBlackBoxObject* to CPartsContainer*");

    // A body whose kind names a class it is not of is refused, not read as that class.
    for (auto [kind, name] : {std::pair{nsEmlComponents::kBodyTextPlain, "CPartBodyTextPlain"},
                              std::pair{nsEmlComponents::kBodyTextHtml, "CPartBodyTextHtml"}}) {
        auto impostor = host::MessageBuilder().TextPart("t", {"http://bad.com/"}).Build();
        auto* part = const_cast<nsEmlComponents::CPart*>(impostor->tree()->m_allParts->at(0));
        nsEmlComponents::CPartBodyOther other(kind);
        part->m_body = &other;  // the message's own body stays owned by the message
        EXPECT_EQ(Run(filter, *impostor, asbb::kCheckUrls), ascommon::kErrInternal);
        EXPECT_EQ(HostError(),
                  kEntityFailed + "ASBadCastException - MESSAGE: could not cast to " + name);
        part->m_body = nullptr;  // a part without a body is passed over
        EXPECT_EQ(Run(filter, *impostor, asbb::kCheckUrls), 0);
    }
}

}  // namespace

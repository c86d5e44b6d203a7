// The URL filter through the factory-made module: list loading from the settings, white-list
// subtraction, URL and sender-domain checks, key extraction, failures.
#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <string>

#include "common/aserrno.h"
#include "host/host_hooks.h"
#include "host/message_builder.h"
#include "host/module_host.h"
#include "host/settings_store.h"
#include "temp_folder.h"
#include "url_data_files.h"

namespace {

constexpr uint64_t kSession = 1;

class URLFilterTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(folder.ok());
        ASSERT_TRUE(library.Open(host::DefaultModulePath())) << library.error();
        host::CaptureTraces(4);
        factory = library.GetClassFactory(&host::HostHooks());
        ASSERT_NE(factory, nullptr);
        filter = static_cast<CAFilter*>(factory->CreateModule(1));
        filter->m_settings = &settings;
        settings.Set("/eml/global/SharedDataPath", folder.path());
        settings.Set("/eml/global/GlobalTempPath", folder.path());
        testfiles::WriteListFile(folder / "black.dat",
                                 {{"listed.com/exact/path"},
                                  {"mail.sub.org"},
                                  {"bad.com", "spam.co.uk", "a.b.tld", "b2.tld"}},
                                 folder.path());
        testfiles::WriteListFile(folder / "white.dat", {{}, {}, {"spam.co.uk"}}, folder.path());
        ASSERT_EQ(host::OpenSession(filter, kSession), 0);
        host::TakeTraces();
    }

    void TearDown() override {
        library.ReleaseClassFactory();
        host::CaptureTraces(0);
        host::TakeTraces();
        EXPECT_TRUE(folder.Entries(testfiles::TempNameStart("qxas"))
                        .empty());  // no temporary copy left behind
        EXPECT_EQ(host::Counters().untaggedFrees, 0u);
    }

    void UseLists(const char* black, const char* white = nullptr) {
        settings.Set("/eml/filter/url/filesbl", black);
        if (white) settings.Set("/eml/filter/url/filewl", white);
        ASSERT_EQ(filter->ApplySharedSettings(), 0) << HostError();
    }

    int32_t Run(host::Message& message, uint32_t verb, BlackBox* extra = nullptr) {
        ASEntity entity = {nullptr, nullptr, &message.blackbox(), extra};
        return filter->ProcessEntity(kSession, &entity, verb);
    }

    static std::string HostError() { return ascommon::DefaultGetErr()->GetText(); }

    testfiles::TempFolder folder;
    host::ModuleLibrary library;
    host::SettingsStore settings;
    CAClassFactory* factory = nullptr;
    CAFilter* filter = nullptr;
};

TEST_F(URLFilterTest, WithoutBlackListNothingIsJudged) {
    ASSERT_EQ(filter->ApplySharedSettings(), 0);
    auto message = host::MessageBuilder().TextPart("x", {"http://bad.com/"}).Build();
    ASSERT_EQ(Run(*message, 0), 0);
    EXPECT_FALSE(message->blackbox().Has(21030));
    EXPECT_FALSE(message->blackbox().Has(21031));
}

TEST_F(URLFilterTest, ListedKeysOfUrlsAndSender) {
    UseLists("black.dat", "white.dat");
    struct Row {
        std::vector<std::string> text, html;
        const char* sender;  // null: no sender domain
        int found;
        const char* matched;
    } rows[] = {
        {{"http://www.bad.com/x", "http://mail.sub.org/"},
         {},
         nullptr,
         1,
         "bad.com "},  // first hit ends
        {{"http://clean.net/", "https://MAIL.bad.com:8080/p?q"}, {}, nullptr, 1, "bad.com "},
        {{"http://listed.com/exact/path"}, {}, nullptr, 1, "listed.com/exact/path "},
        {{"http://mail.sub.org/page"}, {}, nullptr, 1, "mail.sub.org "},  // sub-domain key
        {{}, {"http://www.bad.com/"}, nullptr, 1, "bad.com "},
        {{"http://www.spam.co.uk/"}, {}, nullptr, 0, ""},  // taken out by the white list
        {{"http://clean.net/"}, {}, nullptr, 0, ""},
        // sender domain: parents from the top down (b.tld is tried before a.b.tld), then itself
        {{}, {}, "mail.a.b.tld", 1, "a.b.tld "},
        {{}, {}, "x.b2.tld", 1, "b2.tld "},
        {{}, {}, "bad.com", 1, "bad.com "},
        {{"http://bad.com/"}, {}, "a.b.tld", 1, "bad.com a.b.tld "},  // the sender adds one key
        {{}, {}, "", 0, ""},
    };
    for (const Row& row : rows) {
        host::MessageBuilder builder;
        if (!row.text.empty()) builder.TextPart("text", row.text);
        if (!row.html.empty()) builder.HtmlPart("<a>", row.html);
        auto message = builder.Build();
        if (row.sender) message->blackbox().SetString(21218, row.sender);
        ASSERT_EQ(Run(*message, 0), 0) << HostError();
        const std::string label = row.text.empty() ? (row.sender ? row.sender : "-") : row.text[0];
        EXPECT_EQ(message->blackbox().IntValue(21030, -1), row.found) << label;
        EXPECT_EQ(message->blackbox().Text(21031), row.matched) << label;
    }
    EXPECT_TRUE(host::TraceContains("the message does not have spam URLs"));
    EXPECT_TRUE(host::TraceContains("the message has spam URLs"));
    EXPECT_TRUE(host::TraceContains("[RTDA] Could not get from domain from blackbox"));
}

TEST_F(URLFilterTest, MissingListFiles) {
    settings.Set("/eml/filter/url/filesbl", "missing.dat\tblack.dat");
    ASSERT_EQ(filter->ApplySharedSettings(), 0) << HostError();
    auto lines = host::TakeTraces();
    int notFound = 0;
    for (const auto& line : lines)
        notFound += line.find("[url] Url blacklist File Not Found!") != std::string::npos;
    EXPECT_EQ(notFound, 1);

    settings.Set("/eml/filter/url/filesbl", "missing.dat other.dat");
    EXPECT_EQ(filter->ApplySharedSettings(), -104);
    EXPECT_EQ(HostError(), "ASException - MESSAGE: Problems loading the BL URLs");

    settings.Set("/eml/filter/url/filesbl", "black.dat");
    settings.Set("/eml/filter/url/filewl",
                 "missing-white.dat");  // a missing white list is no failure
    ASSERT_EQ(filter->ApplySharedSettings(), 0) << HostError();
    auto message = host::MessageBuilder().TextPart("t", {"http://spam.co.uk/"}).Build();
    ASSERT_EQ(Run(*message, 0), 0);
    EXPECT_EQ(message->blackbox().IntValue(21030, -1), 1);

    settings.Remove(host::WidenKey("/eml/global/GlobalTempPath").c_str());
    settings.Remove(host::WidenKey("/eml/filter/url/filewl").c_str());
    EXPECT_EQ(filter->ApplySharedSettings(), 0);
    EXPECT_TRUE(
        host::TraceContains("Module Eml URL Filter failed to apply shared settings with "
                            "message: invalid EmlGlobalTempPath"));
}

TEST_F(URLFilterTest, ExtractWritesKeysWithoutLookingThemUp) {
    UseLists("black.dat");
    auto message = host::MessageBuilder()
                       .TextPart("t", {"http://www.bad.com/a/b?c=d"})
                       .HtmlPart("<a>", {"http://mail.example.co.uk:81/"})
                       .Build();
    std::unique_ptr<FILE, int (*)(FILE*)> out(std::tmpfile(), std::fclose);
    ASSERT_NE(out, nullptr);
    host::BlackBoxStore extra;
    extra.PutObject(1030, 7, reinterpret_cast<ascommon::CBlackBoxObject*>(out.get()), false);
    ASSERT_EQ(Run(*message, 21, &extra), 0) << HostError();
    std::rewind(out.get());
    std::string written;
    char buffer[256];
    while (std::fgets(buffer, sizeof buffer, out.get())) written += buffer;
    EXPECT_EQ(written,
              "bad.com\nbad.com\nbad.com/a/b?c=d\n"
              "example.co.uk\nmail.example.co.uk\nmail.example.co.uk:81/\n");
    EXPECT_EQ(message->blackbox().IntValue(21030, -1), 0);  // extraction looks nothing up
    EXPECT_EQ(message->blackbox().Text(21031), "");

    EXPECT_EQ(Run(*message, 21), -104);
    EXPECT_EQ(HostError(),
              "Module Eml URL Filter failed to process entity with message: "
              "ASInternalException - MESSAGE: no output file set to extract urls to");
}

TEST_F(URLFilterTest, OtherVerbsCommandsAndBrokenMessages) {
    UseLists("black.dat");
    auto message = host::MessageBuilder().TextPart("t", {"http://bad.com/"}).Build();
    ASSERT_EQ(Run(*message, 5), 0);
    EXPECT_TRUE(host::TraceContains("the command is unknown and could not be performed"));
    EXPECT_FALSE(message->blackbox().Has(21030));

    host::BlackBoxStore io;
    EXPECT_EQ(filter->ProcessCommand(kSession, 7, &io), 0);
    EXPECT_TRUE(
        host::TraceContains("the release version of the URL filter does not support any commands"));

    auto noTree = host::MessageBuilder().TextPart("t").WithoutPartsTree().Build();
    EXPECT_EQ(Run(*noTree, 0), -104);
    EXPECT_EQ(HostError(),
              "Module Eml URL Filter failed to process entity with message: "
              "ASBadCastException - MESSAGE: Could not convert from CBlackBoxObject* "
              "to CPartsContainer*");
}

}  // namespace

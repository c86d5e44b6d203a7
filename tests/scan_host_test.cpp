// The reference host's own layers: mbox splitting, input collection, settings and list files,
// and a parsed message turned into records.
#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "blackbox_keys.h"
#include "engines/htmlparser/structs/breaker_structs.h"
#include "host/mail_inputs.h"
#include "host/mail_records.h"
#include "host/module_host.h"
#include "host/scan_config.h"
#include "host/scanner.h"
#include "temp_folder.h"

namespace {

using testfiles::TempFolder;

TEST(MailInputsTest, SplitMbox) {
    // A "From " line that follows text rather than a blank line is body text; an envelope line
    // alone is nothing, one with a line end an empty message.
    // clang-format off
    const std::pair<const char*, std::vector<std::string>> rows[] = {
        {"From a\nX: 1\n\nbody\n\nFrom b\nX: 2\n\nbody2\n", {"X: 1\n\nbody\n", "X: 2\n\nbody2\n"}},
        {"From a\r\nX: 1\r\n\r\nFrom b\r\nX: 2\r\n", {"X: 1\r\n", "X: 2\r\n"}},
        {"From a\nX: 1\n\nsaid\nFrom here on\n", {"X: 1\n\nsaid\nFrom here on\n"}},
        {"From a\nX: 1\n\n>From quoted\n", {"X: 1\n\n>From quoted\n"}}, {"From a", {}}, {"From a\n", {""}},
        // An empty message before the next envelope, right after its own or after a blank line.
        {"From a\nFrom b\nX: 2\n", {"", "X: 2\n"}},
        {"From a\r\n\r\nFrom b\r\nX: 2\r\n", {"", "X: 2\r\n"}}};
    // clang-format on
    for (const auto& [data, messages] : rows) {
        std::vector<std::string> got;
        for (std::string_view m : host::SplitMbox(data)) got.emplace_back(m);
        EXPECT_EQ(got, messages) << data;
    }
    EXPECT_TRUE(host::LooksLikeMbox("From x"));
    EXPECT_FALSE(host::LooksLikeMbox("From: x"));
}

TEST(MailInputsTest, CollectInputsWalksFoldersInOrder) {
    TempFolder folder;
    for (const char* name : {"b.eml", "a.mbox", "notes.txt", ".hidden.eml", "sub/c.eml",
                             "Maildir/cur/1700000000.x:2,S", "Maildir/tmp/partial"}) {
        const std::string path = folder / name;
        std::filesystem::create_directories(std::filesystem::path(path).parent_path());
        testfiles::WriteFile(path, "x");
    }
    std::vector<std::string> got;
    for (const auto& input : host::CollectInputs({folder.path(), folder / "none.eml"})) {
        got.push_back(input.path.substr(folder.path().size()) + (input.error.empty() ? "" : " !"));
    }
    EXPECT_EQ(got, (std::vector<std::string>{"/Maildir/cur/1700000000.x:2,S", "/a.mbox", "/b.eml",
                                             "/sub/c.eml", "/none.eml !"}));
}

TEST(ScanConfigTest, SettingsAndListFiles) {
    TempFolder folder;
    testfiles::WriteFile(folder / "good.conf",
                         "# comment\n; also\n\n /a/b = 1 \nkey=\n/c = x = y\r\n");
    host::SettingList settings;
    std::string error;
    ASSERT_TRUE(host::ReadSettingsFile(folder / "good.conf", &settings, &error)) << error;
    EXPECT_EQ(settings, (host::SettingList{{"/a/b", "1"}, {"key", ""}, {"/c", "x = y"}}));

    testfiles::WriteFile(folder / "bad.conf", "/a = 1\njust text\n");
    EXPECT_FALSE(host::ReadSettingsFile(folder / "bad.conf", &settings, &error));
    EXPECT_NE(error.find("bad.conf:2:"), std::string::npos) << error;
    EXPECT_FALSE(host::ReadSettingsFile(folder / "none.conf", &settings, &error));

    testfiles::WriteFile(folder / "list.txt", "# black\n *@spam.example \n\nA@B.example\r\n");
    std::vector<std::string> list;
    ASSERT_TRUE(host::ReadListFile(folder / "list.txt", &list, &error));
    EXPECT_EQ(list, (std::vector<std::string>{"*@spam.example", "A@B.example"}));
}

// Parsing, URL finding, statistics and records together on one multipart message.
TEST(MailRecordsTest, MessageBecomesRecords) {
    const std::string raw =
        "From: Ann <ann@Mail.Example.COM>\r\nTo: bob@example.org\r\nSubject: "
        "=?utf-8?q?Gr=C3=BC?=\r\n"
        "Content-Type: multipart/alternative; boundary=b\r\n\r\n--b\r\n"
        "Content-Type: text/plain; charset=utf-8\r\n\r\nsee http://one.example/a and "
        "www.two.example\r\n"
        "--b\r\nContent-Type: text/html\r\n\r\n<a "
        "href=\"http://three.example/x?a=1&amp;b=2\">Привет</a>\r\n"
        "--b--\r\n";
    ASSERT_TRUE(host::InitMailParser());
    host::ParsedMail mail;
    std::string error;
    ASSERT_TRUE(host::ParseMail(raw.data(), raw.size(), &mail, &error)) << error;
    host::MailFacts facts;
    auto message = host::BuildMailRecords(std::move(mail), raw.size(), &facts);
    EXPECT_EQ(facts.urls, 3u);
    EXPECT_EQ(message->blackbox().Text(asbb::kSenderDomain), "mail.example.com");

    auto* tree = static_cast<nsEmlComponents::CPartsArray*>(
        message->blackbox().Get(asbb::kPartsTree, asbb::kObject, 0));
    ASSERT_NE(tree, nullptr);
    auto* html = tree->GetHtmlParts();
    ASSERT_TRUE(html != nullptr && html->size() == 1);
    auto* body = static_cast<const nsEmlComponents::CPartBodyTextHtml*>(html->data()[0]->m_body);
    ASSERT_NE(body->m_urlCollection, nullptr);
    ASSERT_EQ(body->m_urlCollection->m_URLs.size(), 1u);
    EXPECT_STREQ(body->m_urlCollection->m_URLs.data()[0]->m_url.c_str(),
                 "http://three.example/x?a=1&b=2");  // the entity is decoded

    const std::string stats = message->blackbox().Text(asbb::kCharStatistics);
    EXPECT_NE(stats.find("\"Cyrillic\": 6"), std::string::npos) << stats;
    uint64_t size = 0;
    ASSERT_EQ(tree->GetRoot()->m_source->GetSize(&size), 0);
    EXPECT_EQ(size, raw.size());
}

// Several threads scanning through one scanner (one module, one session) give the verdicts of
// a single thread, message by message.
TEST(ScannerTest, ConcurrentScansMatchOneThread) {
    host::ScanConfig config = host::BuiltInScanConfig("/tmp", MOLVEX_SAMPLE_DATA);
    config.blacklist = {"*@spammer.example"};
    host::Scanner scanner;
    std::string error;
    ASSERT_TRUE(scanner.Open(config, &error)) << error;

    std::vector<std::string> messages;
    for (const auto& input : host::CollectInputs({MOLVEX_SAMPLES})) {
        std::string content;
        ASSERT_TRUE(host::ReadWholeFile(input.path, &content, &error)) << error;
        if (!host::LooksLikeMbox(content)) messages.push_back(content);
    }
    auto verdicts = [&](const std::string& m) {
        const host::ScanResult r = scanner.Scan(m.data(), m.size(), true);
        std::string text = r.error + r.urlKeys + r.expression + r.extracted;
        for (int32_t v : r.verdicts) text += std::to_string(v);
        for (const std::string& e : r.moduleErrors) text += e;
        return text;
    };
    std::vector<std::string> expected;
    for (const std::string& m : messages) expected.push_back(verdicts(m));

    std::vector<std::thread> threads;
    std::vector<int> mismatches(4, 0);
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            for (int round = 0; round < 5; ++round) {
                for (size_t i = 0; i < messages.size(); ++i) {
                    const size_t k = (i + t) % messages.size();
                    if (verdicts(messages[k]) != expected[k]) ++mismatches[t];
                }
            }
        });
    }
    for (std::thread& thread : threads) thread.join();
    EXPECT_EQ(mismatches, std::vector<int>(4, 0));
    scanner.Close();
}

}  // namespace

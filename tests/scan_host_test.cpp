// The reference host's own layers: mbox splitting, input collection, settings and list files,
// and one scanner shared by several threads. How a parsed message becomes records is checked
// end to end on the samples (scan_e2e_test: verdicts, URL keys and URL counts).
#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "host/mail_inputs.h"
#include "host/module_host.h"
#include "host/scan_config.h"
#include "host/scanner.h"
#include "temp_folder.h"

namespace {

TEST(MailInputsTest, SplitMbox) {
    // A "From " line that follows text rather than a blank line is body text; an envelope line
    // alone is nothing, one with a line end an empty message. (Plain splitting and ">From" lines:
    // the mbox sample, end to end.)
    // clang-format off
    const std::pair<const char*, std::vector<std::string>> rows[] = {
        {"From a\r\nX: 1\r\n\r\nFrom b\r\nX: 2\r\n", {"X: 1\r\n", "X: 2\r\n"}},
        {"From a\nX: 1\n\nsaid\nFrom here on\n", {"X: 1\n\nsaid\nFrom here on\n"}},
        {"From a", {}}, {"From a\n", {""}},
        // An empty message before the next envelope, right after its own or after a blank line.
        {"From a\nFrom b\nX: 2\n", {"", "X: 2\n"}},
        {"From a\r\n\r\nFrom b\r\nX: 2\r\n", {"", "X: 2\r\n"}}};
    // clang-format on
    for (const auto& [data, messages] : rows) {
        std::vector<std::string> got;
        for (std::string_view m : host::SplitMbox(data)) got.emplace_back(m);
        EXPECT_EQ(got, messages) << data;
    }
    EXPECT_TRUE(host::LooksLikeMbox("From x") && !host::LooksLikeMbox("From: x"));
}

// Inputs in name order, hidden files and unfinished Maildir messages left out; then the
// settings and list files.
TEST(MailInputsTest, CollectInputsSettingsAndListFiles) {
    testfiles::TempFolder folder;
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
                                             "/notes.txt", "/sub/c.eml", "/none.eml !"}));

    testfiles::WriteFile(folder / "good.conf",
                         "# comment\n; also\n\n /eml/filter/multi/Enabled = on \n"
                         "/eml/filter/url/filewl=\n/eml/filter/url/filesbl = a b = c\r\n");
    host::SettingList settings;
    std::string error;
    ASSERT_TRUE(host::ReadSettingsFile(folder / "good.conf", &settings, &error)) << error;
    EXPECT_EQ(settings, (host::SettingList{{"/eml/filter/multi/Enabled", "1"},
                                           {"/eml/filter/url/filewl", ""},
                                           {"/eml/filter/url/filesbl", "a b = c"}}));

    testfiles::WriteFile(folder / "bad.conf", "/molvex/policy/TagScore = 1\njust text\n");
    EXPECT_FALSE(host::ReadSettingsFile(folder / "bad.conf", &settings, &error));
    EXPECT_NE(error.find("bad.conf:2:"), std::string::npos) << error;
    EXPECT_FALSE(host::ReadSettingsFile(folder / "none.conf", &settings, &error));

    testfiles::WriteFile(folder / "list.txt", "# black\n *@spam.example \n\nA@B.example\r\n");
    std::vector<std::string> list;
    ASSERT_TRUE(host::ReadListFile(folder / "list.txt", &list, &error));
    EXPECT_EQ(list, (std::vector<std::string>{"*@spam.example", "A@B.example"}));
}

// Several threads scanning through one scanner (one module, one session) give the verdicts of
// a single thread, message by message.
TEST(ScannerTest, ConcurrentScansMatchOneThread) {
    host::ScanConfig config = host::BuiltInScanConfig("/tmp", MOLVEX_SAMPLE_DATA);
    config.blacklist = {"*@spammer.example"};
    host::Scanner scanner;
    std::string error;
    ASSERT_TRUE(scanner.Open(config, &error)) << error;

    auto verdicts = [&](const std::string& m) {
        const host::ScanResult r = scanner.Scan(m.data(), m.size(), true);
        std::string text = r.error + r.urlKeys + r.expression + r.extracted;
        for (int32_t v : r.verdicts) text += std::to_string(v);
        for (const std::string& e : r.moduleErrors) text += e;
        return text;
    };
    std::vector<std::string> messages, expected;
    for (const auto& input : host::CollectInputs({MOLVEX_SAMPLES})) {
        std::string m;
        ASSERT_TRUE(host::ReadWholeFile(input.path, &m, &error)) << error;
        if (!host::LooksLikeMbox(m)) messages.push_back(m), expected.push_back(verdicts(m));
    }
    std::vector<std::thread> threads;
    std::vector<int> mismatches(4, 0);
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&, t] {
            for (size_t n = t, size = messages.size(); n < t + 5 * size; ++n)
                mismatches[t] += verdicts(messages[n % size]) != expected[n % size];
        });
    for (std::thread& thread : threads) thread.join();
    EXPECT_EQ(mismatches, std::vector<int>(4, 0));
}

}  // namespace

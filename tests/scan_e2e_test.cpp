// End-to-end runs of the built molvex-scan on the bundled samples and on broken input: every
// verdict, matched expression, URL key and URL count of every sample, thread order, settings
// overrides, bad files and usage errors.
#include <gtest/gtest.h>
#include <json/json.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <tuple>

#include "host/scanner.h"
#include "scan_run.h"
#include "temp_folder.h"

namespace {

using testfiles::WriteFile;
using testing_support::ByFile;
using testing_support::Sample;
using testing_support::ScanRun;
const auto Scan = testing_support::RunScan;

// Every verdict the scanner writes, for every sample, and the policy's decision: the tests listed
// hit, every other one is written as a miss. 03 has a quoted-printable HTML part; 14 names no
// Cyrillic charset; 09 hits by its sender's domain. Then the list expression that matched, the URL
// keys that hit and the number of URLs found in text and HTML parts. Three threads write the same.
TEST(ScanEndToEnd, SamplesGiveTheirVerdictsAndSettingsOverride) {
    const ScanRun run = Scan("--json " + std::string(MOLVEX_SAMPLES));
    ASSERT_EQ(run.status, 0) << run.err;
    const auto results = ByFile(run.out);
    // clang-format off
    const std::tuple<std::string, std::string, std::string, std::string, int, const char*> rows[] = {
        {"01-clean.eml", "", "", "", 1, "accept"},
        {"02-gtube-text.eml", "gtube", "", "", 0, "reject"},
        {"03-gtube-html.eml", "gtube", "", "", 0, "reject"},
        {"04-explicit-subject.eml", "explicit", "", "", 0, "tag"},
        {"05-koi8r.eml", "charset cyrillic", "", "", 0, "tag"},
        {"06-iso2022jp.eml", "charset asian-charset asian", "", "", 0, "tag"},
        {"07-big5.eml", "charset asian-charset asian", "", "", 0, "tag"},
        {"08-listed-url.eml", "url", "", "cheap-pills.example", 4, "tag"},
        {"09-listed-sender-domain.eml", "url", "", "lucky-lottery.example", 0, "tag"},
        {"10-blacklisted-sender.eml", "blacklisted", "*@spammer.example", "", 0, "reject"},
        {"11-whitelisted-sender.eml", "whitelisted", "boss@partner.example", "", 0, "accept"},
        {"12-oversized.eml", "oversized", "", "", 0, "accept"},
        {"13-multipart-attachments.eml", "", "", "", 2, "accept"},
        {"14-cyrillic-utf8.eml", "cyrillic", "", "", 0, "accept"},
        {"15-mailbox.mbox#1", "", "", "", 0, "accept"},
        {"15-mailbox.mbox#2", "blacklisted url", "*@spammer.example", "cheap-pills.example", 1, "reject"},
        {"15-mailbox.mbox#3", "gtube", "", "", 0, "reject"}};
    // clang-format on
    EXPECT_EQ(results.size(), std::size(rows));
    for (const auto& [file, hits, expression, keys, urls, decision] : rows) {
        SCOPED_TRACE(file);
        ASSERT_EQ(results.count(file), 1u);
        const Json::Value& r = results.at(file);
        ASSERT_TRUE(r["ok"].asBool()) << r["error"].asString();
        EXPECT_EQ(r["decision"].asString(), decision);
        for (const host::VerdictKey& verdict : host::kVerdictKeys) {
            const bool hit =
                (" " + hits + " ").find(std::string(" ") + verdict.name + " ") != std::string::npos;
            EXPECT_TRUE(r["verdicts"][verdict.name].isBool()) << verdict.name << " not written";
            EXPECT_EQ(r["verdicts"][verdict.name].asBool(), hit) << verdict.name;
        }
        std::string hitKeys;
        for (const Json::Value& key : r["url-keys"])
            hitKeys += (hitKeys.empty() ? "" : " ") + key.asString();
        EXPECT_EQ(std::make_tuple(r["expression"].asString(), hitKeys, r["urls"].asInt()),
                  std::make_tuple(expression, keys, urls));
    }
    EXPECT_NE(run.err.find("scanned 17 messages (0 errors)"), std::string::npos) << run.err;
    EXPECT_EQ(Scan("--json -j 3 " + std::string(MOLVEX_SAMPLES)).out, run.out);  // input order
    // --set comes last: with no size limit the oversized test writes nothing.
    const ScanRun unlimited =
        Scan("--set /eml/filter/multi/MaxFileSize=0 " + Sample("12-oversized.eml"));
    EXPECT_EQ(unlimited.out.find("oversized="), std::string::npos) << unlimited.out;
    const ScanRun urls = Scan("--extract-urls " + Sample("08-listed-url.eml"));
    EXPECT_NE(urls.out.find("cheap-pills.example\n"), std::string::npos) << urls.out;
    EXPECT_NE(urls.out.find("tracker.ads-network.example\n"), std::string::npos) << urls.out;
    // Usage errors exit 2; a settings file that cannot be read is a failure, 1.
    for (const char* bad : {"", "-j", "--bogus x", "-v 9 x", "--set novalue x"})
        EXPECT_EQ(Scan(bad).status, 2) << bad;
    EXPECT_EQ(Scan("--settings /nonexistent/settings.conf x").status, 1);
}

TEST(ScanEndToEnd, BadInputIsReportedAndTheScanGoesOn) {
    testfiles::TempFolder folder;
    const std::string dir = folder.path(), url = "http://www.cheap-pills.example/\n";
    WriteFile(dir + "/a-garbage.eml", std::string("\x00\x01\xff\xfe\x00", 5) + "\x89PNG");
    WriteFile(dir + "/b-empty.eml", "");
    WriteFile(
        dir + "/c-truncated.eml",
        "From: a@b.example\r\nSubject: cut\r\nContent-Type: multipart/mixed; "
        "boundary=\"x\"\r\n\r\n--x\r\nContent-Type: text/html\r\n\r\n<a href=\"http://cheap-");
    WriteFile(dir + "/d-unknown-charset.eml",
              "From: a@b.example\r\nContent-Type: text/plain; charset=x-no\r\n\r\n\xe9t\xe9\r\n");
    mkfifo((dir + "/e-pipe.eml").c_str(), 0600);  // an error, not a scan that waits forever
    WriteFile(dir + "/f.mbox", "From a\nFrom b\nFrom: x@y.example\n\nhi\n");  // #1 empty
    std::string deep = "From: a@b.example\n";
    for (int i = 0; i < 100; ++i)
        deep += "Content-Type: multipart/mixed; boundary=b" + std::to_string(i) + "\n\n--b" +
                std::to_string(i) + "\n";
    WriteFile(dir + "/g-deep.eml", deep + "\n" + url);
    WriteFile(dir + "/h-big.eml", "From: a@b.example\n\n" + url + std::string(70000, 'x'));
    const bool root = geteuid() == 0;                // root reads any folder
    if (!root) mkdir((dir + "/locked").c_str(), 0);  // a folder nobody else may read
    const ScanRun run = Scan("--json --max-message-size 64K " + dir + " " + dir + "/missing.eml " +
                             dir + "/f.mbox");
    if (!root) chmod((dir + "/locked").c_str(), 0700);
    EXPECT_EQ(run.status, 1);
    const auto results = ByFile(run.out);
    ASSERT_EQ(results.size(), root ? 9u : 10u) << run.out;  // the garbage is not a message
    EXPECT_NE(run.err.find("1 files that are not messages skipped"), std::string::npos);
    for (const char* bad : {"b-empty.eml", "missing.eml", "e-pipe.eml", "f.mbox#1",
                            root ? "b-empty.eml" : "locked"}) {
        EXPECT_FALSE(results.at(bad)["ok"].asBool()) << bad;
    }
    auto hit = [&](const char* file, const char* test) {
        return results.at(file)["verdicts"][test].asBool();
    };
    EXPECT_FALSE(hit("f.mbox#2", "gtube"));  // the envelope after it stays one
    EXPECT_TRUE(hit("g-deep.eml", "url"));   // seen 100 levels down
    EXPECT_TRUE(hit("h-big.eml", "url"));    // the first 64 KiB are scanned
    EXPECT_FALSE(results.at("h-big.eml")["truncated"].isNull());
    // Broken but readable messages are scanned.
    EXPECT_TRUE(results.at("c-truncated.eml")["ok"].asBool());
    EXPECT_TRUE(results.at("d-unknown-charset.eml")["ok"].asBool());
}

}  // namespace

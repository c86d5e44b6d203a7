// End-to-end runs of the built molvex-scan on the bundled samples and on broken input: every
// verdict, matched expression, URL key and URL count of every sample, thread order, settings
// overrides, bad files and usage errors.
#include <gtest/gtest.h>
#include <json/json.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <map>
#include <sstream>
#include <string>
#include <tuple>

#include "host/scanner.h"
#include "temp_folder.h"

namespace {

using testfiles::TempFolder;
using testfiles::WriteFile;

struct ScanRun {
    int status;
    std::string out, err;
};

// Runs molvex-scan with the arguments (shell-quoted by the caller where needed).
ScanRun Scan(const std::string& args) {
    TempFolder folder;
    const int status = std::system((std::string(MOLVEX_SCAN) + " --no-progress " + args + " >" +
                                    (folder / "out") + " 2>" + (folder / "err"))
                                       .c_str());
    auto read = [&](const char* name) {
        const auto bytes = testfiles::ReadAll(folder / name);
        return std::string(bytes.begin(), bytes.end());
    };
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, read("out"), read("err")};
}

std::string Sample(const std::string& name) {
    return std::string(MOLVEX_SAMPLES) + "/" + name;
}

// The JSON lines of a run, by the file name without its folder.
std::map<std::string, Json::Value> ByFile(const std::string& out) {
    std::map<std::string, Json::Value> results;
    std::istringstream lines(out);
    for (std::string line; std::getline(lines, line);) {
        Json::Value value;
        std::istringstream in(line);
        EXPECT_TRUE(Json::parseFromStream(Json::CharReaderBuilder(), in, &value, nullptr)) << line;
        const std::string file = value["file"].asString();
        results[file.substr(file.find_last_of('/') + 1)] = value;
    }
    return results;
}

// Every verdict the scanner writes, for every sample: the ones listed are 1, every other one is
// written as 0. 03 has a quoted-printable HTML part; 14 names no Cyrillic charset; 09 hits by its
// sender's domain. Then the list expression that matched, the URL keys that hit and the number
// of URLs found in text and HTML parts.
TEST(ScanEndToEnd, SamplesGiveTheirVerdicts) {
    const ScanRun run = Scan("--json " + std::string(MOLVEX_SAMPLES));
    ASSERT_EQ(run.status, 0) << run.err;
    const auto results = ByFile(run.out);
    // clang-format off
    const std::tuple<std::string, std::string, std::string, std::string, int> rows[] = {
        {"01-clean.eml", "", "", "", 1},
        {"02-gtube-text.eml", "gtube", "", "", 0},
        {"03-gtube-html.eml", "gtube", "", "", 0},
        {"04-explicit-subject.eml", "explicit", "", "", 0},
        {"05-koi8r.eml", "charset cyrillic", "", "", 0},
        {"06-iso2022jp.eml", "charset asian-charset asian", "", "", 0},
        {"07-big5.eml", "charset asian-charset asian", "", "", 0},
        {"08-listed-url.eml", "url", "", "cheap-pills.example", 4},
        {"09-listed-sender-domain.eml", "url", "", "lucky-lottery.example", 0},
        {"10-blacklisted-sender.eml", "blacklisted", "*@spammer.example", "", 0},
        {"11-whitelisted-sender.eml", "whitelisted", "boss@partner.example", "", 0},
        {"12-oversized.eml", "oversized", "", "", 0},
        {"13-multipart-attachments.eml", "", "", "", 2},
        {"14-cyrillic-utf8.eml", "cyrillic", "", "", 0},
        {"15-mailbox.mbox#1", "", "", "", 0},
        {"15-mailbox.mbox#2", "blacklisted url", "*@spammer.example", "cheap-pills.example", 1},
        {"15-mailbox.mbox#3", "gtube", "", "", 0}};
    // clang-format on
    EXPECT_EQ(results.size(), std::size(rows));
    for (const auto& [file, hits, expression, keys, urls] : rows) {
        SCOPED_TRACE(file);
        ASSERT_EQ(results.count(file), 1u);
        const Json::Value& r = results.at(file);
        ASSERT_FALSE(r.isMember("error")) << r["error"].asString();
        for (const host::VerdictKey& verdict : host::kVerdictKeys) {
            const bool hit =
                (" " + hits + " ").find(std::string(" ") + verdict.name + " ") != std::string::npos;
            EXPECT_TRUE(r[verdict.name].isInt()) << verdict.name << " not written";
            EXPECT_EQ(r[verdict.name].asInt(), hit ? 1 : 0) << verdict.name;
        }
        std::string hitKeys;
        for (const Json::Value& key : r["url-keys"])
            hitKeys += (hitKeys.empty() ? "" : " ") + key.asString();
        EXPECT_EQ(std::make_tuple(r["expression"].asString(), hitKeys, r["urls"].asInt()),
                  std::make_tuple(expression, keys, urls));
    }
    EXPECT_NE(run.err.find("scanned 17 messages (0 errors)"), std::string::npos) << run.err;
}

TEST(ScanEndToEnd, ThreadsKeepInputOrderAndSettingsOverride) {
    const ScanRun one = Scan(MOLVEX_SAMPLES), three = Scan("-j 3 " + std::string(MOLVEX_SAMPLES));
    ASSERT_EQ(one.status, 0) << one.err;
    EXPECT_EQ(one.out, three.out);
    // --set comes last: with no size limit the oversized test writes nothing.
    const ScanRun unlimited =
        Scan("--set /eml/filter/multi/MaxFileSize=0 " + Sample("12-oversized.eml"));
    EXPECT_EQ(unlimited.out.find("oversized="), std::string::npos) << unlimited.out;
    const ScanRun urls = Scan("--extract-urls " + Sample("08-listed-url.eml"));
    EXPECT_NE(urls.out.find("cheap-pills.example\n"), std::string::npos) << urls.out;
    EXPECT_NE(urls.out.find("tracker.ads-network.example\n"), std::string::npos) << urls.out;
    // Usage errors exit 2; a settings file that cannot be read is a failure, 1.
    for (const char* bad : {"", "-j 0 x", "-j", "--bogus x", "-v 9 x", "--set novalue x"})
        EXPECT_EQ(Scan(bad).status, 2) << bad;
    EXPECT_EQ(Scan("--settings /nonexistent/settings.conf x").status, 1);
}

TEST(ScanEndToEnd, BadInputIsReportedAndTheScanGoesOn) {
    TempFolder folder;
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
    ASSERT_EQ(results.size(), root ? 10u : 11u) << run.out;
    for (const char* bad : {"a-garbage.eml", "b-empty.eml", "missing.eml", "e-pipe.eml", "f.mbox#1",
                            root ? "b-empty.eml" : "locked"}) {
        EXPECT_TRUE(results.at(bad).isMember("error")) << bad;
    }
    EXPECT_EQ(results.at("f.mbox#2")["gtube"].asInt(), 0);  // the envelope after it stays one
    EXPECT_EQ(results.at("g-deep.eml")["url"].asInt(), 1);  // seen 100 levels down
    EXPECT_EQ(results.at("h-big.eml")["url"].asInt(), 1);   // the first 64 KiB are scanned
    EXPECT_TRUE(results.at("h-big.eml").isMember("truncated"));
    // Broken but readable messages are scanned.
    EXPECT_EQ(results.at("c-truncated.eml")["gtube"].asInt(), 0);
    EXPECT_EQ(results.at("d-unknown-charset.eml")["gtube"].asInt(), 0);
}

}  // namespace

// End-to-end runs of the built molvex-scan on the bundled samples and on broken input.
#include <gtest/gtest.h>
#include <json/json.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "host/scanner.h"
#include "temp_folder.h"

namespace {

using testfiles::TempFolder;
using testfiles::WriteFile;

struct ScanRun {
    int status = -1;
    std::string out;
    std::string err;
};

// Runs molvex-scan with the arguments (shell-quoted by the caller where needed).
ScanRun Scan(const std::string& args) {
    TempFolder folder;
    const std::string errFile = folder.path() + "/stderr";
    const std::string command =
        std::string(MOLVEX_SCAN) + " --no-progress " + args + " 2>" + errFile;
    ScanRun run;
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) return run;
    char buffer[4096];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) run.out.append(buffer, n);
    const int status = pclose(pipe);
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    std::ifstream err(errFile);
    std::stringstream text;
    text << err.rdbuf();
    run.err = text.str();
    return run;
}

std::string Sample(const std::string& name) {
    return std::string(MOLVEX_SAMPLES) + "/" + name;
}

// The JSON lines of a run, by the file name without the samples folder.
std::map<std::string, Json::Value> ByFile(const std::string& out) {
    std::map<std::string, Json::Value> results;
    std::istringstream lines(out);
    for (std::string line; std::getline(lines, line);) {
        Json::Value value;
        std::istringstream in(line);
        if (!Json::parseFromStream(Json::CharReaderBuilder(), in, &value, nullptr)) {
            ADD_FAILURE() << "not JSON: " << line;
            continue;
        }
        std::string file = value["file"].asString();
        file = file.substr(file.find_last_of('/') + 1);
        results[file] = value;
    }
    return results;
}

TEST(ScanEndToEnd, SamplesGiveTheirVerdicts) {
    const ScanRun run = Scan("--json " + std::string(MOLVEX_SAMPLES));
    ASSERT_EQ(run.status, 0) << run.err;
    const auto results = ByFile(run.out);

    // Every verdict the scanner writes, for every sample: the ones listed must be 1,
    // the others must be written as 0. 03 has a quoted-printable HTML part; 14 names no Cyrillic
    // charset. The expression (21004) is the list expression that matched; the URL key must be
    // among the URL hits.
    const struct {
        const char* file;
        std::vector<std::string> hits;
        const char* expression;
        const char* urlKey;
    } rows[] = {
        // clang-format off
        {"01-clean.eml", {}, nullptr, nullptr},
        {"02-gtube-text.eml", {"gtube"}, nullptr, nullptr},
        {"03-gtube-html.eml", {"gtube"}, nullptr, nullptr},
        {"04-explicit-subject.eml", {"explicit"}, nullptr, nullptr},
        {"05-koi8r.eml", {"charset", "cyrillic"}, nullptr, nullptr},
        {"06-iso2022jp.eml", {"charset", "asian-charset", "asian"}, nullptr, nullptr},
        {"07-big5.eml", {"charset", "asian-charset", "asian"}, nullptr, nullptr},
        {"08-listed-url.eml", {"url"}, nullptr, "cheap-pills.example"},
        {"09-listed-sender-domain.eml", {"url"}, nullptr, "lucky-lottery.example"},
        {"10-blacklisted-sender.eml", {"blacklisted"}, "*@spammer.example", nullptr},
        {"11-whitelisted-sender.eml", {"whitelisted"}, "boss@partner.example", nullptr},
        {"12-oversized.eml", {"oversized"}, nullptr, nullptr},
        {"13-multipart-attachments.eml", {}, nullptr, nullptr},
        {"14-cyrillic-utf8.eml", {"cyrillic"}, nullptr, nullptr},
        {"15-mailbox.mbox#1", {}, nullptr, nullptr},
        {"15-mailbox.mbox#2", {"blacklisted", "url"}, "*@spammer.example", "cheap-pills.example"},
        {"15-mailbox.mbox#3", {"gtube"}, nullptr, nullptr},
        // clang-format on
    };
    EXPECT_EQ(results.size(), sizeof rows / sizeof rows[0]);
    for (const auto& row : rows) {
        SCOPED_TRACE(row.file);
        auto it = results.find(row.file);
        ASSERT_NE(it, results.end());
        const Json::Value& r = it->second;
        ASSERT_FALSE(r.isMember("error")) << r["error"].asString();
        for (const host::VerdictKey& verdict : host::kVerdictKeys) {
            const bool hit =
                std::find(row.hits.begin(), row.hits.end(), verdict.name) != row.hits.end();
            EXPECT_TRUE(r[verdict.name].isInt()) << verdict.name << " not written";
            EXPECT_EQ(r[verdict.name].asInt(), hit ? 1 : 0) << verdict.name;
        }
        EXPECT_EQ(r["expression"].asString(), row.expression ? row.expression : "");
        if (row.urlKey) {
            bool found = false;
            for (const Json::Value& key : r["url-keys"]) found |= key.asString() == row.urlKey;
            EXPECT_TRUE(found) << r["url-keys"].toStyledString();
        }
    }
    EXPECT_NE(run.err.find("scanned 17 messages (0 errors)"), std::string::npos) << run.err;
}

TEST(ScanEndToEnd, ThreadsKeepInputOrderAndSettingsOverride) {
    const std::string samples = MOLVEX_SAMPLES;
    const ScanRun one = Scan(samples);
    const ScanRun two = Scan("-j 3 " + samples);
    ASSERT_EQ(one.status, 0) << one.err;
    EXPECT_EQ(one.out, two.out);

    // --set comes last: with no size limit the oversized test writes nothing.
    const ScanRun unlimited =
        Scan("--set /eml/filter/multi/MaxFileSize=0 " + Sample("12-oversized.eml"));
    EXPECT_EQ(unlimited.out.find("oversized="), std::string::npos) << unlimited.out;

    const ScanRun urls = Scan("--extract-urls " + Sample("08-listed-url.eml"));
    EXPECT_NE(urls.out.find("cheap-pills.example\n"), std::string::npos) << urls.out;
    EXPECT_NE(urls.out.find("tracker.ads-network.example\n"), std::string::npos) << urls.out;
}

TEST(ScanEndToEnd, BadInputIsReportedAndTheScanGoesOn) {
    TempFolder folder;
    const std::string dir = folder.path();
    WriteFile(dir + "/a-garbage.eml", std::string("\x00\x01\xff\xfe\x00", 5) + "\x89PNG");
    WriteFile(dir + "/b-empty.eml", "");
    WriteFile(
        dir + "/c-truncated.eml",
        "From: a@b.example\r\nSubject: cut\r\nContent-Type: multipart/mixed; "
        "boundary=\"x\"\r\n\r\n--x\r\nContent-Type: text/html\r\n\r\n<a href=\"http://cheap-");
    WriteFile(
        dir + "/d-unknown-charset.eml",
        "From: a@b.example\r\nContent-Type: text/plain; charset=x-no-such\r\n\r\n\xe9t\xe9\r\n");
    mkfifo((dir + "/e-pipe.eml").c_str(), 0600);  // an error, not a scan that waits forever
    WriteFile(dir + "/f.mbox", "From a\nFrom b\nFrom: x@y.example\n\nhi\n");  // #1 empty
    std::string deep = "From: a@b.example\n", url = "http://www.cheap-pills.example/\n";
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

TEST(ScanEndToEnd, UsageErrors) {
    const char* const bad[] = {"", "-j 0 x", "-j", "--bogus x", "-v 9 x", "--set novalue x"};
    for (const char* args : bad) EXPECT_EQ(Scan(args).status, 2) << args;
    // A settings file that cannot be read is not a usage error but a failure.
    EXPECT_EQ(Scan("--settings /nonexistent/settings.conf x").status, 1);
}

}  // namespace

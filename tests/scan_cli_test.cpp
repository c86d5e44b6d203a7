// molvex-scan as a mail admin uses it: decisions on the samples, the JSON schema, header
// fields, exit statuses, checked configuration, URL lists by path, standard input and output
// failures.
#include <gtest/gtest.h>
#include <json/json.h>

#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "scan_run.h"

namespace {

using testing_support::RunScan;
using testing_support::Sample;

// Every object of a run has the same keys, whatever its message gave.
TEST(ScanCli, JsonSchema) {
    const auto run = RunScan("--json " + Sample("") + " /nonexistent.eml");
    std::set<std::string> keys;
    for (const auto& [file, v] : testing_support::ByFile(run.out)) {
        const std::vector<std::string> names = v.getMemberNames();
        const std::set<std::string> these(names.begin(), names.end());
        if (keys.empty()) keys = these;
        EXPECT_EQ(these, keys) << file;
        EXPECT_EQ(v["schema"].asInt(), 1);
    }
    EXPECT_EQ(keys.size(), 20u);
}

TEST(ScanCli, HeadersAndExitStatus) {
    const auto tagged = RunScan("--headers --exit-status - < " + Sample("08-listed-url.eml"));
    EXPECT_EQ(tagged.status, 20);
    EXPECT_EQ(tagged.out.rfind("X-Molvex-Status: Yes, score=8, tests=url\r\nX-Molvex-Report: "
                               "decision=tag; url (listed cheap-pills.example)\r\nFrom: ",
                               0),
              0u)
        << tagged.out;
    EXPECT_EQ(RunScan("--exit-status " + Sample("02-gtube-text.eml")).status, 22);
    const auto clean = RunScan("--headers --exit-status " + Sample("01-clean.eml"));
    EXPECT_EQ(clean.status, 0);
    EXPECT_EQ(clean.out.rfind("X-Molvex-Status: No, score=0, tests=none", 0), 0u) << clean.out;
    EXPECT_EQ(RunScan("--headers " + Sample("")).status, 2);  // one message only
}

TEST(ScanCli, ConfigurationIsChecked) {
    testfiles::TempFolder folder;
    struct Row {
        std::string args;
        int status;
        const char* err;
    } rows[] = {
        {"--set /eml/filter/multi/CyrillicCharsets=0", 2,
         "did you mean /eml/filter/multi/CyrilicCharsets"},
        {"--set /eml/filter/multi/Enabled=no", 0, ""},
        {"--set /eml/filter/multi/MaxFileSize=100k", 0, ""},
        {"--set /eml/filter/multi/MaxFileSize=2147483648", 2,
         "expected a size from 0 to 2147483647"},
        {"--set /eml/filter/multi/PercentOfAllowedAsianChars=-5", 2,
         "expected an integer from 0 to 100"},
        {"--set /molvex/policy/gtube/Action=drop", 2, "none, tag, quarantine, reject"},
        {"-j 0", 2, "-j takes 1 to 256"},
        {"--url-blacklist /nonexistent/black.dat", 1,
         "URL list /nonexistent/black.dat: no such file"},
        {"--url-blacklist " + folder.path() + "/short.dat", 1, "shorter than its 128-byte header"},
        {"--allow-bad-lists --url-blacklist " + folder.path() + "/short.dat", 0, "left out"},
        {"-c " + folder.path() + "/bom.conf", 0, ""},
        {"-c " + folder.path() + "/typo.conf", 1,
         "typo.conf:2: unknown setting /eml/filter/bwfilter/Enable"},
    };
    testfiles::WriteFile(folder.path() + "/short.dat", "not a list");
    testfiles::WriteFile(folder.path() + "/bom.conf",
                         "\xEF\xBB\xBF/eml/filter/multi/Enabled = yes\r\n");
    testfiles::WriteFile(folder.path() + "/typo.conf", "# typo\n/eml/filter/bwfilter/Enable = 1\n");
    for (const Row& row : rows) {
        const auto run = RunScan(row.args + " -q " + Sample("01-clean.eml"));
        EXPECT_EQ(run.status, row.status) << row.args << "\n" << run.err;
        EXPECT_NE(run.err.find(row.err), std::string::npos) << row.args << "\n" << run.err;
    }
    // --print-config reads back as a configuration with the same values.
    auto values = [](const std::string& printed) {
        std::string kept;
        std::istringstream lines(printed);
        for (std::string line; std::getline(lines, line);)
            if (line[0] != '#') kept += line.substr(0, line.find("    #")) + "\n";
        return kept;
    };
    const auto printed = RunScan("--print-config");
    testfiles::WriteFile(folder.path() + "/printed.conf", printed.out);
    EXPECT_EQ(values(RunScan("-c " + folder.path() + "/printed.conf --print-config").out),
              values(printed.out));
}

TEST(ScanCli, InputsAndOutputFailures) {
    testfiles::TempFolder folder;
    testfiles::WriteFile(folder.path() + "/notes.txt", "just some text\n");
    testfiles::WriteFile(folder.path() + "/\xff.eml", "From: a@b.example\n\nhi\n");
    const auto mixed = RunScan("--json " + folder.path());
    EXPECT_EQ(mixed.status, 0) << mixed.err;  // the notes are not a message: counted, no error
    EXPECT_NE(mixed.err.find("1 files that are not messages skipped"), std::string::npos);
    EXPECT_NE(mixed.out.find("/\\\\xFF.eml\""), std::string::npos) << mixed.out;
    testfiles::WriteFile(folder.path() + "/\xff.eml", "just text\n");
    EXPECT_EQ(RunScan(folder.path()).status, 1);  // nothing scanned
    EXPECT_EQ(RunScan("- < /dev/null").status, 1);
    EXPECT_EQ(RunScan("-- - < " + Sample("01-clean.eml")).status, 0);
    EXPECT_EQ(RunScan(Sample("") + " >/dev/full; exit $?").status, 1);
    // A reader that stops early (more output than a pipe holds): the scan ends quietly, 0.
    std::string scan = std::string(MOLVEX_SCAN) + " -q --json";
    for (int i = 0; i < 10; ++i) scan += " " + Sample("");
    const std::string err = folder.path() + "/err";
    FILE* pipe = popen(
        ("bash -c 'set -o pipefail; " + scan + " 2>" + err + " | head -c 1 >/dev/null; echo $?'")
            .c_str(),
        "r");
    char status[16] = {};
    ASSERT_NE(fgets(status, sizeof status, pipe), nullptr);
    pclose(pipe);
    EXPECT_STREQ(status, "0\n");
    testfiles::WriteFile(folder.path() + "/\xff.eml", "");
    EXPECT_EQ(RunScan("--print-config >/dev/null; cat " + err).out, "");
}

}  // namespace

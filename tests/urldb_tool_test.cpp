// molvex-urldb as a list maintainer uses it: build a data file from text lists, inspect it,
// query it; clear errors and a non-zero exit for missing, unreadable and corrupt files.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "temp_folder.h"

namespace {

struct Result {
    int status;
    std::string output;  // standard output and standard error
};

Result RunTool(const std::string& arguments) {
    FILE* pipe = popen((MOLVEX_URLDB_TOOL " " + arguments + " 2>&1").c_str(), "r");
    Result result{-1, ""};
    char buffer[512];
    while (pipe != nullptr && std::fgets(buffer, sizeof buffer, pipe)) result.output += buffer;
    const int status = pipe != nullptr ? pclose(pipe) : -1;
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

// Entries as list maintainers write them: comments, blanks, case, schemes, ports, a trailing dot
// and duplicates are taken as the URL filter derives its keys; an entry that cannot be a key is
// reported with its line and dropped.
TEST(URLDBToolTest, BuildInfoCheck) {
    testfiles::TempFolder folder;
    ASSERT_TRUE(folder.ok());
    testfiles::WriteFile(
        folder / "d.txt",
        "# spam senders\nWWW.Bad.COM\n\n  evil.org  \nbad.com\nSub.Bad.net\nbad.org/path\n"
        "http://Ok.CO.UK\n");
    testfiles::WriteFile(folder / "s.txt", "http://Mail.Sub.ORG:8080\r\nHost.example.\n");
    testfiles::WriteFile(folder / "u.txt", "https://www.Listed.COM/Exact/Path\nhttp://\n");
    const std::string out = folder / "black.dat";
    Result built = RunTool("build --domains " + folder / "d.txt" + " --subdomains " +
                           folder / "s.txt" + " --urls " + folder / "u.txt" + " -o " + out);
    ASSERT_EQ(built.status, 0) << built.output;
    for (const char* text :
         {"d.txt:6: Sub.Bad.net is not a registrable domain (a URL's domain key would be bad.net)",
          "d.txt:7: bad.org/path has a path", "u.txt:2: http:// has no host",
          "4 domains, 2 sub-domains, 1 URLs written; 1 duplicates dropped; 2 entries"})
        EXPECT_NE(built.output.find(text), std::string::npos) << text << "\n" << built.output;
    Result info = RunTool("info " + out);
    EXPECT_EQ(info.status, 0) << info.output;
    EXPECT_NE(info.output.find("digest ok; 4 domains, 2 sub-domains, 1 URLs"), std::string::npos)
        << info.output;
    Result check =
        RunTool("check " + out +
                " bad.com sub.bad.net ok.co.uk mail.sub.org host.example listed.com/Exact/Path "
                "other.net http://WWW.bad.com/x http://listed.com/Exact/Path?q");
    EXPECT_EQ(check.status, 0) << check.output;
    EXPECT_EQ(
        check.output,
        "bad.com: domains\nsub.bad.net: domains\nok.co.uk: domains\nmail.sub.org: sub-domains\n"
        "host.example: sub-domains\nlisted.com/Exact/Path: URLs\nother.net: not listed\n"
        "http://WWW.bad.com/x: domain bad.com listed; sub-domain bad.com not listed; URL "
        "bad.com/x not listed\nhttp://listed.com/Exact/Path?q: domain listed.com not listed; "
        "sub-domain listed.com not listed; URL listed.com/Exact/Path?q not listed\n");
}

TEST(URLDBToolTest, ErrorsExitNonZero) {
    testfiles::TempFolder folder;
    ASSERT_TRUE(folder.ok());
    testfiles::WriteFile(folder / "d.txt", "a.com\n");
    // Outputs that are not replaced: a link (unless followed) and a FIFO stay as they are.
    ASSERT_EQ(symlink("a.dat", (folder / "link.dat").c_str()), 0);
    ASSERT_EQ(mkfifo((folder / "fifo.dat").c_str(), 0600), 0);
    // clang-format off
    const std::pair<std::string, const char*> rows[] = {
        {"info " + folder / "missing.dat", "no such file"}, {"check " + folder / "missing.dat" + " a.com", "no such file"},
        {"build --domains " + folder / "missing.txt" + " -o " + folder / "x.dat", "cannot read"},
        {"build -o " + folder / "x.dat", "needs at least one of"}, {"frobnicate", "bad use of frobnicate"},
        {"build --domains " + folder / "d.txt" + " -o " + folder / "link.dat", "symbolic link"},
        {"build --domains " + folder / "d.txt" + " -o " + folder / "fifo.dat", "not a regular"}};
    // clang-format on
    for (const auto& [arguments, message] : rows) {
        const Result result = RunTool(arguments);
        EXPECT_TRUE(result.status != 0 && result.output.find(message) != std::string::npos)
            << arguments << "\n"
            << result.output;
    }
    EXPECT_FALSE(testfiles::Exists(folder / "x.dat"));
    EXPECT_FALSE(testfiles::Exists(folder / "a.dat"));  // the link was not written through
    ASSERT_EQ(RunTool("build --domains " + folder / "d.txt" + " -o " + folder / "a.dat").status, 0);
    std::vector<unsigned char> bytes = testfiles::ReadAll(folder / "a.dat");
    bytes[140] ^= 0x10;  // a payload byte: the digest check fails
    testfiles::WriteAll(folder / "a.dat", bytes);
    Result corrupt = RunTool("info " + folder / "a.dat");
    EXPECT_EQ(corrupt.status, 1);
    EXPECT_NE(corrupt.output.find("digest mismatch"), std::string::npos) << corrupt.output;
    EXPECT_NE(RunTool("check " + folder / "a.dat" + " a.com").status, 0);
}

}  // namespace

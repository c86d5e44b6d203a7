// molvex-urldb as a list maintainer uses it: build a data file from text lists, inspect it,
// query it; clear errors and a non-zero exit for missing, unreadable and corrupt files.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <string>

#include "temp_folder.h"

namespace {

struct Result {
    int status;
    std::string output;  // standard output and standard error
};

Result RunTool(const std::string& arguments) {
    const std::string command = std::string(MOLVEX_URLDB_TOOL) + " " + arguments + " 2>&1";
    Result result{-1, ""};
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) return result;
    char buffer[512];
    while (std::fgets(buffer, sizeof buffer, pipe)) result.output += buffer;
    const int status = pclose(pipe);
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

void WriteText(const std::string& path, const std::string& text) {
    std::ofstream(path) << text;
}

TEST(URLDBToolTest, BuildInfoCheck) {
    testfiles::TempFolder folder;
    ASSERT_TRUE(folder.ok());
    WriteText(folder / "domains.txt", "# spam senders\nBad.com\n\n  evil.org  \nbad.com\n");
    WriteText(folder / "subdomains.txt", "mail.sub.org\r\n");
    WriteText(folder / "urls.txt", "listed.com/exact/path\n");
    const std::string out = folder / "black.dat";

    Result built =
        RunTool("build --domains " + folder / "domains.txt" + " --subdomains " +
                folder / "subdomains.txt" + " --urls " + folder / "urls.txt" + " -o " + out);
    ASSERT_EQ(built.status, 0) << built.output;
    EXPECT_NE(built.output.find("2 domains, 1 sub-domains, 1 URLs written; 1 duplicates dropped"),
              std::string::npos)
        << built.output;

    Result info = RunTool("info " + out);
    EXPECT_EQ(info.status, 0) << info.output;
    EXPECT_NE(info.output.find("digest ok; 2 domains, 1 sub-domains, 1 URLs"), std::string::npos)
        << info.output;

    Result check =
        RunTool("check " + out + " bad.com mail.sub.org listed.com/exact/path other.net");
    EXPECT_EQ(check.status, 0) << check.output;
    EXPECT_EQ(check.output,
              "bad.com: domains\nmail.sub.org: sub-domains\nlisted.com/exact/path: URLs\n"
              "other.net: not listed\n");
}

TEST(URLDBToolTest, ErrorsExitNonZero) {
    testfiles::TempFolder folder;
    ASSERT_TRUE(folder.ok());
    WriteText(folder / "d.txt", "a.com\n");
    // Outputs that are not replaced: a link (unless followed) and a FIFO stay as they are.
    ASSERT_EQ(symlink("a.dat", (folder / "link.dat").c_str()), 0);
    ASSERT_EQ(mkfifo((folder / "fifo.dat").c_str(), 0600), 0);
    struct Row {
        std::string arguments;
        const char* message;
    } rows[] = {
        {"info " + folder / "missing.dat", "no such file"},
        {"check " + folder / "missing.dat" + " a.com", "no such file"},
        {"build --domains " + folder / "missing.txt" + " -o " + folder / "x.dat", "cannot read"},
        {"build -o " + folder / "x.dat", "needs at least one of"},
        {"frobnicate", "bad use of frobnicate"},
        {"build --domains " + folder / "d.txt" + " -o " + folder / "link.dat", "symbolic link"},
        {"build --domains " + folder / "d.txt" + " -o " + folder / "fifo.dat", "not a regular"},
    };
    for (const Row& row : rows) {
        Result result = RunTool(row.arguments);
        EXPECT_NE(result.status, 0) << row.arguments;
        EXPECT_NE(result.output.find(row.message), std::string::npos) << result.output;
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

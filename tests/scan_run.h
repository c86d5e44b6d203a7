// Runs the built molvex-scan through the shell and collects its exit status, standard output
// and standard error; reads its JSON lines. One test thread.
#pragma once

#include <sys/wait.h>

#include <gtest/gtest.h>
#include <json/json.h>

#include <cstdlib>
#include <map>
#include <sstream>
#include <string>

#include "temp_folder.h"

namespace testing_support {

struct ScanRun {
    int status;
    std::string out, err;
};

// Runs molvex-scan with the arguments, which go to the shell as they are (quote where needed;
// redirections work).
inline ScanRun RunScan(const std::string& args) {
    testfiles::TempFolder folder;
    const int status = std::system((std::string(MOLVEX_SCAN) + " --no-progress " + args + " >" +
                                    (folder / "out") + " 2>" + (folder / "err"))
                                       .c_str());
    auto read = [&](const char* name) {
        const auto bytes = testfiles::ReadAll(folder / name);
        return std::string(bytes.begin(), bytes.end());
    };
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, read("out"), read("err")};
}

inline std::string Sample(const std::string& name) {
    return std::string(MOLVEX_SAMPLES) + "/" + name;
}

// The JSON lines of a run, by the file name without its folder.
inline std::map<std::string, Json::Value> ByFile(const std::string& out) {
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

}  // namespace testing_support

// Runs the built molvex-scan through the shell and collects its exit status, standard output
// and standard error. One test thread.
#pragma once

#include <sys/wait.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

#include "temp_folder.h"

namespace testing_support {

struct ScanRun {
    int status = -1;
    std::string out;
    std::string err;
};

// `args` go to the shell as they are (quote where needed; redirections work).
inline ScanRun RunScan(const std::string& args) {
    testfiles::TempFolder folder;
    const std::string errFile = folder.path() + "/stderr";
    const std::string command =
        std::string(MOLVEX_SCAN) + " --no-progress " + args + " 2>" + errFile;
    ScanRun run;
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) return run;
    char buffer[4096];
    for (size_t n; (n = fread(buffer, 1, sizeof buffer, pipe)) > 0;) run.out.append(buffer, n);
    const int status = pclose(pipe);
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    std::ifstream err(errFile);
    std::stringstream text;
    text << err.rdbuf();
    run.err = text.str();
    return run;
}

inline std::string Sample(const std::string& name) {
    return std::string(MOLVEX_SAMPLES) + "/" + name;
}

}  // namespace testing_support

// The install layout (see install_layout.h).
#include "host/install_layout.h"

#include <cstdlib>
#include <cstring>

#include "common/platform.h"

// Relative to the folder of the installed executables; set by the build from the install dirs.
#ifndef MOLVEX_MODULE_FROM_BIN
#define MOLVEX_MODULE_FROM_BIN "../lib/molvex"
#endif
#ifndef MOLVEX_DATA_FROM_BIN
#define MOLVEX_DATA_FROM_BIN "../share/molvex"
#endif

namespace host {
namespace {

#if defined(_WIN32)
const char kModuleName[] = "molvex.dll";
#else
const char kModuleName[] = "libmolvex.so";
#endif
const char kSourceMarker[] = "molvex-source-dir.txt";

bool Exists(const std::string& path) {
    return platform::StatFileUtf8(path.c_str(), nullptr, nullptr);
}

// The folder part of a path, either separator; "." when there is none.
std::string Parent(const std::string& path) {
    const size_t slash = path.find_last_of("/\\");
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

// The first line of a small text file, without its line break; "" when it cannot be read.
std::string FirstLine(const std::string& path) {
    std::FILE* file = platform::OpenFileUtf8(path.c_str(), "rb");
    if (file == nullptr) return "";
    char line[4096] = {};
    const bool read = std::fgets(line, sizeof line, file) != nullptr;
    std::fclose(file);
    if (!read) return "";
    line[std::strcspn(line, "\r\n")] = '\0';
    return line;
}

// `relative` (whose leading ../ go up from `folder`) appended to `folder`.
std::string Join(std::string folder, std::string relative) {
    while (relative.compare(0, 3, "../") == 0 && folder != "/" && folder != ".") {
        folder = Parent(folder);
        relative.erase(0, 3);
    }
    return folder + (folder == "/" ? "" : "/") + relative;
}

const char* Environment(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr && *value ? value : nullptr;
}

}  // namespace

InstallLayout LayoutOf(const std::string& executable) {
    InstallLayout layout{kModuleName, "", "", "unknown"};
    if (executable.empty()) return layout;
    const std::string bin = Parent(executable);
    const std::string installedModule = Join(bin, MOLVEX_MODULE_FROM_BIN) + "/" + kModuleName;
    if (Exists(installedModule)) {
        const std::string data = Join(bin, MOLVEX_DATA_FROM_BIN);
        layout = {installedModule, data, data + "/lists", "installed"};
        return layout;
    }
    // Tools sit at the top of the build tree, test and benchmark programs one folder down.
    for (const std::string& folder : {bin, Parent(bin)}) {
        const std::string source = FirstLine(folder + "/" + kSourceMarker);
        if (source.empty()) continue;
        layout = {folder + "/" + kModuleName, folder + "/samples", source + "/samples/lists",
                  "build tree"};
        return layout;
    }
    return layout;
}

InstallLayout FindInstallLayout() {
    char executable[4096];
    const size_t length = platform::ExecutablePath(executable, sizeof executable);
    InstallLayout layout = LayoutOf(length ? std::string(executable, length) : "");
    const char* module = Environment("MOLVEX_LIBRARY");
    const char* data = Environment("MOLVEX_DATA_DIR");
    if (module) layout.module = module;
    if (data) {
        layout.data = data;
        layout.lists = layout.data + "/lists";
    }
    if (module || data) layout.origin += "+environment";
    return layout;
}

}  // namespace host

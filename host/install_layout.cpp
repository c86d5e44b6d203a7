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

// `name` inside `folder`, joined with this platform's separator.
std::string In(const std::string& folder, const std::string& name) {
    const bool ends = !folder.empty() && (folder.back() == '/' || folder.back() == '\\');
    return ends ? folder + name : folder + platform::kPathSeparator + name;
}

// `folder` followed by the /-separated `relative`, whose .. parts go up.
std::string Join(std::string folder, const std::string& relative) {
    for (size_t start = 0; start <= relative.size();) {
        size_t end = relative.find('/', start);
        if (end == std::string::npos) end = relative.size();
        const std::string part = relative.substr(start, end - start);
        if (part == "..") {
            folder = Parent(folder);
        } else if (!part.empty() && part != ".") {
            folder = In(folder, part);
        }
        start = end + 1;
    }
    return folder;
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
    const std::string installedModule = In(Join(bin, MOLVEX_MODULE_FROM_BIN), kModuleName);
    if (Exists(installedModule)) {
        const std::string data = Join(bin, MOLVEX_DATA_FROM_BIN);
        layout = {installedModule, data, In(data, "lists"), "installed"};
        return layout;
    }
    // Tools sit at the top of the build tree, test and benchmark programs one folder down.
    for (const std::string& folder : {bin, Parent(bin)}) {
        const std::string source = FirstLine(In(folder, kSourceMarker));
        if (source.empty()) continue;
        layout = {In(folder, kModuleName), In(folder, "samples"), Join(source, "samples/lists"),
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
        layout.lists = In(layout.data, "lists");
    }
    if (module || data) layout.origin += "+environment";
    return layout;
}

}  // namespace host

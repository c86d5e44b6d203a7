// Command-line helpers.
#include "host/cli.h"

#include <getopt.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>

#include "molvex_version.h"

namespace host {

void PrintVersion(const char* tool) {
    std::printf("%s (Molvex) %s\n", tool, MOLVEX_VERSION);
}

int UsageError(const char* tool, const std::string& problem) {
    std::fprintf(stderr, "%s: %s\nTry '%s --help'.\n", tool, problem.c_str(), tool);
    return 2;
}

int OptionError(const char* tool, int result, char** argv) {
    const std::string option = argv[optind - 1];
    return UsageError(
        tool, result == ':' ? "option " + option + " needs a value" : "unknown option " + option);
}

bool ParseInteger(const char* text, int64_t min, int64_t max, int64_t* value) {
    if (text == nullptr || *text == '\0') return false;
    const char* digits = (*text == '-') ? text + 1 : text;
    if (*digits < '0' || *digits > '9') return false;
    char* end = nullptr;
    errno = 0;
    const long long parsed = std::strtoll(text, &end, 10);
    if (errno != 0 || *end != '\0' || parsed < min || parsed > max) return false;
    *value = parsed;
    return true;
}

bool ParseSize(const char* text, uint64_t min, uint64_t max, uint64_t* size) {
    if (text == nullptr || *text < '0' || *text > '9') return false;
    char* end = nullptr;
    errno = 0;
    const unsigned long long n = std::strtoull(text, &end, 10);
    if (errno != 0) return false;
    int shift = 0;
    if (*end == 'K' || *end == 'k') shift = 10;
    if (*end == 'M' || *end == 'm') shift = 20;
    if (*end == 'G' || *end == 'g') shift = 30;
    if (shift != 0) ++end;
    if (*end != '\0' || n > (UINT64_MAX >> shift)) return false;
    const uint64_t bytes = static_cast<uint64_t>(n) << shift;
    if (bytes < min || bytes > max) return false;
    *size = bytes;
    return true;
}

}  // namespace host

// URL list checks through the host's copy of the binary streamer.
#include "host/url_lists.h"

#include <cstring>
#include <exception>
#include <filesystem>
#include <system_error>

#include "common/binstreamer.h"
#include "common/binstreamer_format.h"

namespace host {

namespace {

bool Contains(const char* text, const char* part) {
    return std::strstr(text, part) != nullptr;
}

// The reason for a failure the streamer reported with `what`.
std::string ReasonOf(const char* what, const std::string& tempFolder) {
    if (Contains(what, "does not match with its stored CRC")) {
        const char* position = std::strstr(what, "position");
        return std::string("digest mismatch") + (position ? std::string(" at ") + position : "") +
               ": the file is damaged or was changed after it was written";
    }
    if (Contains(what, "Could not create a temp filename")) {
        return "the temporary folder " + tempFolder + " is missing or not writable";
    }
    if (Contains(what, "Could not write to file")) {
        return "the temporary copy could not be written: is " + tempFolder + " full?";
    }
    if (Contains(what, "cannot read from file")) {
        return "truncated: the file holds fewer entries than its counts say";
    }
    return std::string("not a data file (") + what + ")";
}

}  // namespace

bool InspectUrlList(const std::string& path, const std::string& tempFolder, UrlListCounts* counts,
                    std::string* reason) {
    std::error_code error;
    const auto status = std::filesystem::status(path, error);
    if (!std::filesystem::exists(status)) {
        *reason = "no such file";
        return false;
    }
    if (!std::filesystem::is_regular_file(status)) {
        *reason = "not a regular file";
        return false;
    }
    const uintmax_t size = std::filesystem::file_size(path, error);
    if (error || size < ascommon::binformat::kHeaderSize) {
        *reason = "not a data file: " + std::to_string(size) + " bytes, shorter than its " +
                  std::to_string(ascommon::binformat::kHeaderSize) + "-byte header";
        return false;
    }
    try {
        ascommon::CBinaryStreamer reader(ascommon::sstring(path.c_str()), 0,
                                         ascommon::sstring(tempFolder.c_str()), 0);
        const uint32_t words = reader.ReadUInt32();
        if (words != 2) {
            *reason = "entries of " + std::to_string(words) + " words; this version reads 2";
            return false;
        }
        counts->urls = reader.ReadUInt32();
        counts->subDomains = reader.ReadUInt32();
        counts->domains = reader.ReadUInt32();
        const uint64_t entries = uint64_t(counts->urls) + counts->subDomains + counts->domains;
        for (uint64_t i = 0; i < entries; ++i) {
            reader.ReadUInt32();
            reader.ReadUInt32();
        }
        reader.Close();
    } catch (const std::exception& e) {
        *reason = ReasonOf(e.what(), tempFolder);
        return false;
    }
    return true;
}

}  // namespace host

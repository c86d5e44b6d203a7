// Mail inputs of the reference host: which files a scan reads (files as given, folders
// recursively) and how an mbox file splits into messages. Plain functions; any thread.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace host {

struct InputFile {
    std::string path;
    uint64_t size = 0;
    std::string error;  // set when the path cannot be scanned
};

// Expands the paths in order: a file is taken as it is; a folder is walked recursively (symbolic
// links to folders are not followed) for files named *.eml or *.mbox and for the message files of
// Maildir folders (any file directly inside a "cur" or "new" folder), in path order. A path that
// does not exist or cannot be walked gives an entry with its error.
std::vector<InputFile> CollectInputs(const std::vector<std::string>& paths);

// An mbox file starts with a "From " envelope line.
bool LooksLikeMbox(std::string_view data);

// The messages of an mbox file: each starts after a "From " line that begins the file or follows
// a line break; the envelope line is not part of the message, and the line break before the next
// envelope line is dropped. Quoted ">From " lines are kept as they are.
std::vector<std::string_view> SplitMbox(std::string_view data);

// Reads a whole file; false with *error ("path: reason") when it cannot.
bool ReadWholeFile(const std::string& path, std::string* content, std::string* error);

}  // namespace host

// DeepParts: cuts a deeply nested MIME message into pieces that GMime parses one at a time.
// GMime compares every line that starts with "--" against each boundary of the multiparts open
// around it and stops building the tree 1,024 levels down. SplitDeepParts makes one linear
// pass over the message, following the multipart boundaries itself, and moves every part that
// starts kPieceDepth multipart levels below the top of its piece into a piece of its own, leaving
// a placeholder part in its place. No piece nests more than kPieceDepth multiparts, so no line
// is compared against more boundaries than that, and no part is too deep to be parsed.
// Pure functions; any thread.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace host {

constexpr size_t kPieceDepth = 64;

// The value of the boundary parameter of a multipart Content-Type field value (plain or quoted),
// or "" for any other value.
std::string MultipartBoundary(std::string_view value);

// Lines of the text that start with "--" (boundary lines, perhaps) and that start like a header
// field ("Name:", the name of ASCII letters, digits, '-' and '_'), counted up to `enough` each:
// a cheap look at a message before the passes that follow its structure.
struct LineCounts {
    size_t dashLines = 0;
    size_t fieldLines = 0;
};
LineCounts CountLines(std::string_view text, size_t enough);

// Splits text into pieces (worth trying when kPieceDepth lines start with "--"); piece 0 is the
// message. A part moved out is replaced by the lines
// "Content-Type: text/plain", "<marker>: <n>" and an empty line, n being its piece's index.
// Returns false, with no pieces, when no part lies deep enough to be moved.
bool SplitDeepParts(std::string_view text, const std::string& marker,
                    std::vector<std::string>* pieces);

}  // namespace host

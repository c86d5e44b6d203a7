// The data file format of the binary streamer, in one place. On disk every byte is XOR-ed with
// kScrambleMask. Unscrambled, a file is a 128-byte header followed by the payload:
//   offset   0  16 bytes  MD5 digest of the bytes from offset 128 to the end of the file
//   offset  16 100 bytes  description, NUL-padded text
//   offset 116   4 bytes  value A (written 0)
//   offset 120   4 bytes  value B (written 0)
//   offset 124   4 bytes  header value (given to the writing streamer)
//   offset 128            payload: values one after another, integers little-endian, no tags
// See docs/data-file-format.md.
#pragma once

#include <cstddef>
#include <cstdint>

namespace ascommon {
namespace binformat {

constexpr uint8_t kScrambleMask = 0xA7;

constexpr size_t kDigestSize = 16;
constexpr size_t kDescriptionSize = 100;
constexpr size_t kDigestOffset = 0;
constexpr size_t kDescriptionOffset = kDigestOffset + kDigestSize;       // 16
constexpr size_t kValueAOffset = kDescriptionOffset + kDescriptionSize;  // 116
constexpr size_t kValueBOffset = kValueAOffset + 4;                      // 120
constexpr size_t kHeaderValueOffset = kValueBOffset + 4;                 // 124
constexpr size_t kHeaderSize = kHeaderValueOffset + 4;                   // 128
static_assert(kHeaderSize == 128, "the header is 128 bytes");

// The description every writer puts into the header, NUL-padded to kDescriptionSize.
constexpr const char kDescription[] = "File description should go here!";
static_assert(sizeof(kDescription) - 1 == 32, "32 characters, then 68 NUL bytes");

// The largest file the scrambling pass reads whole into memory (256 MB).
constexpr uint64_t kMaxFileSize = 0x10000000;

// Mode values of the streamer: 1 writes, anything else reads.
constexpr uint32_t kModeRead = 0;
constexpr uint32_t kModeWrite = 1;

// The name prefix of the temporary copies made for reading, and the longest such name.
constexpr const char kTempPrefix[] = "qxas";
constexpr size_t kTempNameCapacity = 260;

}  // namespace binformat
}  // namespace ascommon

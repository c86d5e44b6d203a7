// MD5 (RFC 1321), the digest of the data files and of the URL database keys. md5.cpp computes it
// with OpenSSL, md5_win32.cpp with the Windows provider; a build links one of them. Thread-safe.
#pragma once

#include <cstddef>
#include <cstdint>

namespace ascommon {

constexpr size_t kMd5Size = 16;

// The digest of `length` bytes at `data` into `digest` (16 bytes). Both pointers must be valid;
// `data` may be null only when `length` is 0.
void Md5(const void* data, size_t length, uint8_t* digest);

}  // namespace ascommon

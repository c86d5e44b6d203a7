// MD5 on Windows: the system's own provider through bcrypt.dll (the MD5 algorithm's pseudo-handle,
// Windows 10 and later), so the module needs no other library. Thread-safe: the pseudo-handle is
// shared and every call hashes on its own.
#include "common/md5.h"

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
// windows.h first: bcrypt.h relies on its types.
#include <bcrypt.h>

#include <cstring>

#ifndef BCRYPT_MD5_ALG_HANDLE
#define BCRYPT_MD5_ALG_HANDLE (reinterpret_cast<BCRYPT_ALG_HANDLE>(0x00000021))
#endif

namespace ascommon {

void Md5(const void* data, size_t length, uint8_t* digest) {
    static unsigned char nothing = 0;
    unsigned char* bytes =
        length != 0 ? static_cast<unsigned char*>(const_cast<void*>(data)) : &nothing;
    NTSTATUS status = 0;
    if (length <= 0xFFFFFFFFu) {
        status = BCryptHash(BCRYPT_MD5_ALG_HANDLE, nullptr, 0, bytes, static_cast<ULONG>(length),
                            digest, static_cast<ULONG>(kMd5Size));
    } else {
        // Beyond the 32-bit length of one call: the same digest, fed in pieces.
        BCRYPT_HASH_HANDLE hash = nullptr;
        status = BCryptCreateHash(BCRYPT_MD5_ALG_HANDLE, &hash, nullptr, 0, nullptr, 0, 0);
        for (size_t done = 0; status == 0 && done < length;) {
            const ULONG piece =
                static_cast<ULONG>(length - done < 0x40000000u ? length - done : 0x40000000u);
            status = BCryptHashData(hash, bytes + done, piece, 0);
            done += piece;
        }
        if (status == 0) status = BCryptFinishHash(hash, digest, static_cast<ULONG>(kMd5Size), 0);
        if (hash != nullptr) BCryptDestroyHash(hash);
    }
    // The provider does not fail on valid arguments; should it, the digest is all zero rather
    // than undefined.
    if (status != 0) std::memset(digest, 0, kMd5Size);
}

}  // namespace ascommon

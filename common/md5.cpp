// MD5 on OpenSSL's libcrypto: its one-shot MD5() (assembler block function) is the fastest for
// the short keys of the URL database. The module links libcrypto statically.
#include "common/md5.h"

#define OPENSSL_SUPPRESS_DEPRECATED  // MD5() is the low-level interface, kept by OpenSSL 3
#include <openssl/md5.h>

namespace ascommon {

void Md5(const void* data, size_t length, uint8_t* digest) {
    static const unsigned char kNothing = 0;
    const unsigned char* bytes = length != 0 ? static_cast<const unsigned char*>(data) : &kNothing;
    MD5(bytes, length, digest);
}

}  // namespace ascommon

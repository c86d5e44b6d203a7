// MD5 (RFC 1321) from the two libraries the module could take it from: Debian's libmd
// (MD5Init/MD5Update/MD5Final) and OpenSSL's libcrypto (the one-shot MD5() and the EVP interface).
// The URL database hashes every key it looks up (16 to 64 bytes); the data files hash their
// payload once per open (up to 256 MB, here 1 MB). The "module" case is the function the module
// calls, whichever library it is bound to. Build with -DCMAKE_BUILD_TYPE=Release.
#include <benchmark/benchmark.h>
// Both libraries name their context type MD5_CTX; libmd's is renamed here (its functions have C
// linkage, so the name of the type does not reach the symbols).
#define MD5_CTX LibmdContext
#include <md5.h>
#undef MD5_CTX
#define OPENSSL_SUPPRESS_DEPRECATED
#include <openssl/evp.h>
#include <openssl/md5.h>

#include <cstdint>
#include <vector>

#include "common/md5.h"

namespace {

std::vector<uint8_t> Input(size_t size) {
    std::vector<uint8_t> bytes(size);
    for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<uint8_t>(i * 131 + 7);
    return bytes;
}

void SetBytes(benchmark::State& state, size_t size) {
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(size));
}

void BM_Libmd(benchmark::State& state) {
    const std::vector<uint8_t> in = Input(static_cast<size_t>(state.range(0)));
    uint8_t digest[16];
    for (auto _ : state) {
        LibmdContext context;
        MD5Init(&context);
        MD5Update(&context, in.data(), in.size());
        MD5Final(digest, &context);
        benchmark::DoNotOptimize(digest);
    }
    SetBytes(state, in.size());
}

void BM_OpenSslMd5(benchmark::State& state) {
    const std::vector<uint8_t> in = Input(static_cast<size_t>(state.range(0)));
    uint8_t digest[16];
    for (auto _ : state) {
        MD5(in.data(), in.size(), digest);
        benchmark::DoNotOptimize(digest);
    }
    SetBytes(state, in.size());
}

void BM_OpenSslEvp(benchmark::State& state) {
    const std::vector<uint8_t> in = Input(static_cast<size_t>(state.range(0)));
    uint8_t digest[16];
    const EVP_MD* md5 = EVP_md5();
    for (auto _ : state) {
        unsigned int size = 0;
        EVP_Digest(in.data(), in.size(), digest, &size, md5, nullptr);
        benchmark::DoNotOptimize(digest);
    }
    SetBytes(state, in.size());
}

void BM_Module(benchmark::State& state) {
    const std::vector<uint8_t> in = Input(static_cast<size_t>(state.range(0)));
    uint8_t digest[16];
    for (auto _ : state) {
        ascommon::Md5(in.data(), in.size(), digest);
        benchmark::DoNotOptimize(digest);
    }
    SetBytes(state, in.size());
}

#define MD5_SIZES Arg(16)->Arg(32)->Arg(64)->Arg(1 << 20)

BENCHMARK(BM_Libmd)->MD5_SIZES;
BENCHMARK(BM_OpenSslMd5)->MD5_SIZES;
BENCHMARK(BM_OpenSslEvp)->MD5_SIZES;
BENCHMARK(BM_Module)->MD5_SIZES;

}  // namespace

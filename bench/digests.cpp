// MD5 and SHA-1 over 64 MB, ours beside OpenSSL's EVP digests.
#include <benchmark/benchmark.h>
#include <openssl/evp.h>

#include <random>
#include <vector>

#include "vidozir/digest.h"

namespace {

constexpr size_t kSize = 64u << 20;

const std::vector<unsigned char>& Input() {
    static const std::vector<unsigned char> data = [] {
        std::vector<unsigned char> bytes(kSize);
        std::mt19937 rng(64);
        for (auto& b : bytes) {
            b = static_cast<unsigned char>(rng());
        }
        return bytes;
    }();
    return data;
}

// The client hashes files in read-sized pieces; 64 KiB per call.
constexpr size_t kPiece = 64u << 10;

// Hashes the input in pieces through one of our digests: `context` is
// initialised, `update` fed and `finish` called by the given functions.
template <class Context, class Init, class Update, class Finish>
void Ours(benchmark::State& state, Init init, Update update, Finish finish) {
    const auto& data = Input();
    for (auto _ : state) {
        Context context;
        init(&context);
        for (size_t at = 0; at < data.size(); at += kPiece) {
            update(&context, data.data() + at, static_cast<uint32_t>(kPiece));
        }
        unsigned char out[20];
        finish(&context, out);
        benchmark::DoNotOptimize(out);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * data.size()));
}

void MD5_Ours(benchmark::State& state) {
    Ours<md5_context>(state, md5_init, md5_process,
                      [](md5_context* c, unsigned char* out) { md5_finish(c, out); });
}

void SHA1_Ours(benchmark::State& state) {
    Ours<sha_context>(state, sha_init, sha_update,
                      [](sha_context* c, unsigned char* out) { sha_final(out, c); });
}

void OpenSsl(benchmark::State& state, const EVP_MD* md) {
    const auto& data = Input();
    EVP_MD_CTX* context = EVP_MD_CTX_new();
    for (auto _ : state) {
        EVP_DigestInit_ex(context, md, nullptr);
        for (size_t at = 0; at < data.size(); at += kPiece) {
            EVP_DigestUpdate(context, data.data() + at, kPiece);
        }
        unsigned char out[EVP_MAX_MD_SIZE];
        unsigned int n = 0;
        EVP_DigestFinal_ex(context, out, &n);
        benchmark::DoNotOptimize(out);
    }
    EVP_MD_CTX_free(context);
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * data.size()));
}

void MD5_OpenSSL(benchmark::State& state) {
    OpenSsl(state, EVP_md5());
}
void SHA1_OpenSSL(benchmark::State& state) {
    OpenSsl(state, EVP_sha1());
}

}  // namespace

BENCHMARK(MD5_Ours)->Unit(benchmark::kMillisecond);
BENCHMARK(MD5_OpenSSL)->Unit(benchmark::kMillisecond);
BENCHMARK(SHA1_Ours)->Unit(benchmark::kMillisecond);
BENCHMARK(SHA1_OpenSSL)->Unit(benchmark::kMillisecond);

// CheckFileTrust on a 64 MB signed PE file, beside OpenSSL's SHA-256 over
// the same bytes (the ceiling: a verdict needs at least one pass of the
// signature's hash) and `osslsigncode verify` on the same file (a whole
// process, for reference). The file is made by the build (bench/CMakeLists).
//
// CheckFileTrust hashes the file once: the catalog hash is the image hash
// the signature names, and WinVerifyTrust takes it back (see
// platform/wintrust_posix.cpp). Verify_Ours shows the verifier alone
// (mapping, one image hash, signer, chain). Times are
// processor time, as the machines are shared: ours and the hash in this
// process, osslsigncode's in its child.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <openssl/evp.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "vidozir/trust.h"
#include "platform/wintrust.h"

namespace {

const std::string kDir = VIDOZIR_BENCH_TRUST_DIR;
const std::string kFile = kDir + "/big.exe";

const std::vector<unsigned char>& Bytes() {
    static const std::vector<unsigned char> data = [] {
        std::ifstream file(kFile, std::ios::binary);
        return std::vector<unsigned char>(std::istreambuf_iterator<char>(file),
                                          std::istreambuf_iterator<char>());
    }();
    return data;
}

std::wstring WidePath() {
    return std::wstring(kFile.begin(), kFile.end());
}

// Processor time (user and system) of this process or of its finished
// children: every side is timed so, as the machines are shared.
double Seconds(int who) {
    struct rusage usage;
    getrusage(who, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// Times one iteration of `work` by the processor time of `who`.
template <class Work>
void Timed(benchmark::State& state, int who, Work work) {
    const double before = Seconds(who);
    work();
    state.SetIterationTime(Seconds(who) - before);
}

// Runs `work` with standard output sent to /dev/null (the account is a few
// lines per call).
template <class Work>
int Quietly(Work work) {
    fflush(stdout);
    const int saved = dup(1);
    const int null = open("/dev/null", O_WRONLY);
    dup2(null, 1);
    const int result = work();
    fflush(stdout);
    dup2(saved, 1);
    close(null);
    close(saved);
    return result;
}

void SetUpTrust() {
    setenv("VIDOZIR_TRUST_ANCHORS", (kDir + "/anchors.pem").c_str(), 1);
}

void Trust_Ours(benchmark::State& state) {
    SetUpTrust();
    std::wstring path = WidePath();
    for (auto _ : state) {
        Timed(state, RUSAGE_SELF, [&] {
            if (Quietly([&] { return CheckFileTrust(&path[0]); }) != 1)
                state.SkipWithError("the file did not verify");
        });
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(Bytes().size()));
}

void Verify_Ours(benchmark::State& state) {
    SetUpTrust();
    std::wstring path = WidePath();
    for (auto _ : state) {
        WINTRUST_FILE_INFO file = {sizeof file, path.c_str(), nullptr, nullptr};
        WINTRUST_DATA data = {};
        data.cbStruct = sizeof data;
        data.dwUIChoice = WTD_UI_NONE;
        data.dwUnionChoice = WTD_CHOICE_FILE;
        data.pFile = &file;
        GUID action = WINTRUST_ACTION_GENERIC_VERIFY_V2;
        Timed(state, RUSAGE_SELF, [&] {
            if (WinVerifyTrustEx(nullptr, &action, &data) != 0)
                state.SkipWithError("the file did not verify");
        });
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(Bytes().size()));
}

void SHA256(benchmark::State& state) {
    const auto& data = Bytes();
    EVP_MD_CTX* context = EVP_MD_CTX_new();
    for (auto _ : state) {
        unsigned char out[EVP_MAX_MD_SIZE];
        Timed(state, RUSAGE_SELF, [&] {
            unsigned length = 0;
            EVP_DigestInit_ex(context, EVP_sha256(), nullptr);
            EVP_DigestUpdate(context, data.data(), data.size());
            EVP_DigestFinal_ex(context, out, &length);
        });
        benchmark::DoNotOptimize(out);
    }
    EVP_MD_CTX_free(context);
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(data.size()));
}

void Trust_SHA256(benchmark::State& state) {
    SHA256(state);
}
void Verify_SHA256(benchmark::State& state) {
    SHA256(state);
}

void Trust_osslsigncode(benchmark::State& state) {
    const std::string command =
        "osslsigncode verify -CAfile " + kDir + "/ca.pem -in " + kFile + " >/dev/null 2>&1";
    for (auto _ : state) {
        Timed(state, RUSAGE_CHILDREN, [&] {
            if (system(command.c_str()) != 0)
                state.SkipWithError("osslsigncode did not verify the file");
        });
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(Bytes().size()));
}

}  // namespace

BENCHMARK(Trust_Ours)->Unit(benchmark::kMillisecond)->MinTime(2)->UseManualTime();
BENCHMARK(Trust_SHA256)->Unit(benchmark::kMillisecond)->MinTime(2)->UseManualTime();
BENCHMARK(Trust_osslsigncode)->Unit(benchmark::kMillisecond)->MinTime(2)->UseManualTime();
BENCHMARK(Verify_Ours)->Unit(benchmark::kMillisecond)->MinTime(2)->UseManualTime();
BENCHMARK(Verify_SHA256)->Unit(benchmark::kMillisecond)->MinTime(2)->UseManualTime();

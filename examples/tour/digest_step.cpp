#include <cstdio>
#include <vector>

#include "tour.h"
#include "vidozir/digest.h"

namespace tour {

namespace {

void PrintHex(const unsigned char* bytes, size_t n, const char* name) {
    for (size_t i = 0; i < n; ++i) {
        std::printf("%02x", bytes[i]);
    }
    std::printf("  %s\n", name);
}

}  // namespace

void Digests(const std::vector<std::string>& args) {
    Heading("MD5 and SHA-1 (md5sum / sha1sum format)");
    const char* name = args.empty() ? "-" : args[0].c_str();
    md5_context md5;
    sha_context sha;
    md5_init(&md5);
    sha_init(&sha);
    if (args.empty()) {
        static const char sample[] = "The quick brown fox jumps over the lazy dog";
        md5_process(&md5, sample, sizeof(sample) - 1);
        sha_update(&sha, sample, sizeof(sample) - 1);
        std::printf("(no file given: hashing the built-in sample \"%s\")\n", sample);
    } else {
        std::FILE* file = std::fopen(name, "rb");
        if (file == nullptr) {
            std::printf("cannot open %s\n", name);
            return;
        }
        std::vector<unsigned char> buffer(1 << 16);
        size_t n;
        while ((n = std::fread(buffer.data(), 1, buffer.size(), file)) > 0) {
            md5_process(&md5, buffer.data(), static_cast<uint32_t>(n));
            sha_update(&sha, buffer.data(), static_cast<uint32_t>(n));
        }
        std::fclose(file);
    }
    unsigned char out[20];
    md5_finish(&md5, out);
    PrintHex(out, 16, name);
    sha_final(out, &sha);
    PrintHex(out, 20, name);
}

}  // namespace tour

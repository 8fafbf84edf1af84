// The PE version-resource reader on arbitrary bytes: in memory, and through
// GetCirrelResVersion on a file holding them.
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "platform/pe_resource.h"
#include "vidozir/diskutil.h"
#include "vidozir/version.h"

namespace {

const wchar_t* const kQueries[] = {L"\\", L"\\VarFileInfo\\Translation",
                                   L"\\StringFileInfo\\040904b0\\FileVersion",
                                   L"\\StringFileInfo\\040904B0\\CompanyName"};

std::string TempFile() {
    const char* dir = getenv("TMPDIR");
    if (!dir || !*dir)
        dir = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
    return std::string(dir) + "/vidozir-fuzz-pe-" + std::to_string(getpid()) + ".dll";
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const vidozir::pe::ReadAt read = [&](uint64_t offset, void* buffer, size_t count) {
        if (offset > size || count > size - offset)
            return false;
        std::memcpy(buffer, data + offset, count);
        return true;
    };
    uint64_t offset = 0;
    uint32_t length = 0;
    const bool found = vidozir::pe::FindVersionResource(read, size, offset, length) ==
                       vidozir::pe::FindResult::Found;
    if (found) {
        if (offset + length > size)
            __builtin_trap();
        // The block in a buffer of exactly twice its size, the second half
        // zeros, as the version functions hand it out: a value read as text
        // (lengths in 16-bit units) must stay inside, and one read as bytes
        // inside the block itself.
        std::vector<unsigned char> buffer(size_t(length) * 2, 0);
        std::memcpy(buffer.data(), data + offset, length);
        for (const wchar_t* query : kQueries) {
            const void* value = nullptr;
            unsigned valueLength = 0;
            if (!vidozir::pe::QueryVersionValue(buffer.data(), length, query, value, valueLength))
                continue;
            const auto* start = static_cast<const unsigned char*>(value);
            if (start < buffer.data() || start > buffer.data() + length)
                __builtin_trap();
            unsigned sum = 0;
            for (size_t i = 0; i < size_t(valueLength) * 2; ++i)
                sum += start[i];  // a read past the buffer is caught here
            (void)sum;
        }
    }

    // Through the file functions only when there is a block to read: the
    // file costs far more than the reader, and finds nothing new otherwise.
    static const std::string path = TempFile();
    if (!found)
        return 0;
    if (FILE* file = std::fopen(path.c_str(), "wb")) {
        std::fwrite(data, 1, size, file);
        std::fclose(file);
        DWORD a = 0, b = 0, c = 0, d = 0;
        const CLuStringW widePath = VidOzir::DiskUtil::Utf8ToWS(CLuStringA(path.c_str()));
        VidOzir::DiskUtil::GetCirrelResVersion(widePath.GetString(), a, b, c, d);
    }
    return 0;
}

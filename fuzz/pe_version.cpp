// The PE version-resource reader on arbitrary bytes: in memory, and through
// GetCirrelResVersion on a file holding them.
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "version/pe_resource.h"
#include "vidozir/diskutil.h"
#include "vidozir/version.h"

namespace {

const wchar_t* const kQueries[] = {L"\\", L"\\VarFileInfo\\Translation",
                                   L"\\StringFileInfo\\040904b0\\FileVersion",
                                   L"\\StringFileInfo\\040904B0\\CompanyName"};

std::string TempFile() {
    const char* dir = getenv("TMPDIR");
    return std::string(dir && *dir ? dir : "/tmp") + "/vidozir-fuzz-pe-" +
           std::to_string(getpid()) + ".dll";
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
    if (vidozir::pe::FindVersionResource(read, size, offset, length) ==
        vidozir::pe::FindResult::Found) {
        if (offset + length > size)
            __builtin_trap();
        // A block of exactly its own size, so a read past it is caught.
        const std::vector<unsigned char> block(data + offset, data + offset + length);
        for (size_t q = 0; q < sizeof kQueries / sizeof kQueries[0]; ++q) {
            const wchar_t* query = kQueries[q];
            const void* value = nullptr;
            unsigned valueLength = 0;
            if (vidozir::pe::QueryVersionValue(block.data(), block.size(), query, value,
                                               valueLength)) {
                const auto* start = static_cast<const unsigned char*>(value);
                const size_t bytes =
                    q >= 2 ? size_t(valueLength) * 2 : valueLength;  // texts count units
                if (start < block.data() || start + bytes > block.data() + block.size())
                    __builtin_trap();
            }
        }
    }

    static const std::string path = TempFile();
    if (FILE* file = std::fopen(path.c_str(), "wb")) {
        std::fwrite(data, 1, size, file);
        std::fclose(file);
        DWORD a = 0, b = 0, c = 0, d = 0;
        const CLuStringW widePath = VidOzir::DiskUtil::Utf8ToWS(CLuStringA(path.c_str()));
        VidOzir::DiskUtil::GetCirrelResVersion(widePath.GetString(), a, b, c, d);
    }
    return 0;
}

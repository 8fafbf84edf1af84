// Version parsing and hexadecimal decoding on arbitrary input.
#include <cstddef>
#include <cstdint>
#include <string>

#include "vidozir/diskutil.h"
#include "vidozir/version.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // Parse and StringToByte read UTF-16 units: pairs of bytes.
    CLuStringW wide;
    for (size_t i = 0; i + 1 < size; i += 2)
        wide.AppendChar(wchar_t(data[i] | (data[i + 1] << 8)));
    if (auto version = VidOzir::Version::Parse(wide)) {
        // Every accepted text is four numbers that order consistently.
        const VidOzir::Version::ClientVersion copy = *version;
        if (copy < *version || !(copy >= *version))
            __builtin_trap();
    }

    const std::string narrow(reinterpret_cast<const char*>(data), size);
    const std::string bytes = VidOzir::DiskUtil::hex2bin(narrow.c_str());
    if (bytes.size() > narrow.size() / 2 + 1)
        __builtin_trap();

    const int want = size > 0 ? data[0] % 64 : 0;
    unsigned char out[64];
    if (VidOzir::DiskUtil::StringToByte(wide, out, want)) {
        // Accepted text is exactly the upper-case digits of the bytes, blanks aside.
        CLuStringA digits = VidOzir::DiskUtil::Utf8FromWS(wide);
        digits.MakeUpper();
        digits.Trim();
        const CLuStringW again = VidOzir::DiskUtil::Encode16(out, unsigned(want));
        if (VidOzir::DiskUtil::Utf8FromWS(again).Compare(digits.GetString()) != 0)
            __builtin_trap();
    }
    return 0;
}

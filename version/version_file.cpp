// The per-user version file's path and a module's four-part file version.
#include <cstring>
#include <vector>

#include "platform/win32.h"
#include "vidozir/diskutil.h"
#include "vidozir/version.h"

namespace VidOzir {
namespace DiskUtil {

CLuStringW GetVersionFilePath() {
    wchar_t folder[MAX_PATH] = {};
    if (FAILED(SHGetFolderPathW(nullptr, CSIDL_APPDATA | CSIDL_FLAG_CREATE, nullptr,
                                SHGFP_TYPE_CURRENT, folder)))
        return CLuStringW();
    CLuStringW path(folder);
    path += L"\\Corvane";
    path += L"\\CirrelSync\\";
    path += L"Version.ini";
    return path;
}

namespace {

// A text of the version block: 16-bit UTF-16 units on every platform, at
// most `length` of them, ending at the first null.
CLuStringW BlockText(const void* value, UINT length) {
    CLuStringW text;
    const auto* bytes = static_cast<const unsigned char*>(value);
    for (UINT i = 0; i < length; ++i) {
        uint16_t unit;
        std::memcpy(&unit, bytes + 2 * i, sizeof unit);
        if (unit == 0)
            break;
        text.AppendChar(wchar_t(unit));
    }
    return text;
}

}  // namespace

int GetCirrelResVersion(const wchar_t* path, DWORD& first, DWORD& second, DWORD& third,
                        DWORD& fourth) {
    DWORD handle = 0;
    const DWORD size = GetFileVersionInfoSizeW(path, &handle);
    if (size == 0)
        return 0;
    std::vector<unsigned char> block(size);
    if (!GetFileVersionInfoW(path, handle, size, block.data()))
        return 0;
    void* value = nullptr;
    UINT length = 0;
    if (!VerQueryValueW(block.data(), L"\\VarFileInfo\\Translation", &value, &length))
        return 0;
    // Each translation is a 16-bit language followed by a 16-bit code page.
    std::vector<uint16_t> translations(length / 2);
    if (!translations.empty())
        std::memcpy(translations.data(), value, translations.size() * 2);
    CLuStringW versionText;
    for (size_t i = 0; i + 1 < translations.size(); i += 2) {
        CLuStringW query;
        query.Format(L"\\StringFileInfo\\%04x%04x\\%s", unsigned(translations[i]),
                     unsigned(translations[i + 1]), L"FileVersion");
        void* text = nullptr;
        UINT textLength = 0;
        if (VerQueryValueW(block.data(), query.GetString(), &text, &textLength)) {
            versionText = BlockText(text, textLength);
            break;
        }
    }
    std::vector<CLuStringW> pieces;
    SplitString(versionText, L".", pieces);
    if (pieces.size() != 4)
        return 0;
    first = DWORD(StrToIntW(pieces[0].GetString()));
    second = DWORD(StrToIntW(pieces[1].GetString()));
    third = DWORD(StrToIntW(pieces[3].GetString()));
    fourth = DWORD(StrToIntW(pieces[2].GetString()));
    return 1;
}

}  // namespace DiskUtil
}  // namespace VidOzir

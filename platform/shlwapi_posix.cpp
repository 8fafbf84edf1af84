// StrToInt and StrToInt64Ex as the shell parses numbers (ASCII digits only,
// arithmetic in 64 bits that wraps silently on overflow), and PathCombineW.
#include "platform/shlwapi.h"

#include <string>
#include <vector>

namespace {

bool IsDigit(unsigned c) {
    return c >= '0' && c <= '9';
}

int HexValue(unsigned c) {
    if (IsDigit(c))
        return int(c - '0');
    if (c >= 'a' && c <= 'f')
        return int(c - 'a' + 10);
    if (c >= 'A' && c <= 'F')
        return int(c - 'A' + 10);
    return -1;
}

template <typename Char>
unsigned Unit(Char c) {
    return sizeof(Char) == 1 ? unsigned(static_cast<unsigned char>(c)) : unsigned(c);
}

template <typename Char>
bool Parse(const Char* text, bool skipSpace, bool hex, LONGLONG* result) {
    *result = 0;
    if (!text)
        return false;
    if (skipSpace) {
        while (Unit(*text) == ' ' || (Unit(*text) >= '\t' && Unit(*text) <= '\r'))
            ++text;
    }
    bool negative = false;
    if (Unit(*text) == '-' || Unit(*text) == '+') {
        negative = Unit(*text) == '-';
        ++text;
    }
    ULONGLONG value = 0;
    if (hex && Unit(text[0]) == '0' && (Unit(text[1]) == 'x' || Unit(text[1]) == 'X') &&
        HexValue(Unit(text[2])) >= 0) {
        for (text += 2; HexValue(Unit(*text)) >= 0; ++text)
            value = value * 16 + ULONGLONG(HexValue(Unit(*text)));
    } else {
        if (!IsDigit(Unit(*text)))
            return false;
        for (; IsDigit(Unit(*text)); ++text)
            value = value * 10 + (Unit(*text) - '0');
    }
    *result = LONGLONG(negative ? ULONGLONG(0) - value : value);
    return true;
}

template <typename Char>
int ToInt(const Char* text) {
    LONGLONG value = 0;
    Parse(text, false, false, &value);
    return int(static_cast<unsigned>(ULONGLONG(value)));  // the low 32 bits
}

}  // namespace

int StrToIntW(LPCWSTR text) {
    return ToInt(text);
}

int StrToIntA(LPCSTR text) {
    return ToInt(text);
}

BOOL StrToInt64ExW(LPCWSTR text, DWORD flags, LONGLONG* result) {
    if (!result)
        return FALSE;
    return Parse(text, true, (flags & STIF_SUPPORT_HEX) != 0, result) ? TRUE : FALSE;
}

BOOL StrToInt64ExA(LPCSTR text, DWORD flags, LONGLONG* result) {
    if (!result)
        return FALSE;
    return Parse(text, true, (flags & STIF_SUPPORT_HEX) != 0, result) ? TRUE : FALSE;
}

namespace {

const size_t kMaxPath = 260;

bool HasDrive(const std::wstring& path) {
    return path.size() >= 2 && path[1] == L':';
}

// The part of a path that ".." never climbs out of: "\\" of a share, "X:\",
// "X:", "\", or nothing for a relative path.
size_t RootLength(const std::wstring& path) {
    if (path.compare(0, 2, L"\\\\") == 0)
        return 2;
    if (HasDrive(path))
        return path.size() > 2 && path[2] == L'\\' ? 3 : 2;
    return !path.empty() && path[0] == L'\\' ? 1 : 0;
}

std::wstring Joined(const wchar_t* dir, const wchar_t* file) {
    const std::wstring folder = dir ? dir : L"";
    const std::wstring name = file ? file : L"";
    if (name.empty())
        return folder;
    if (folder.empty() || HasDrive(name) || name.compare(0, 2, L"\\\\") == 0)
        return name;
    if (name[0] == L'\\')  // rooted: below the folder's drive, else as it is
        return HasDrive(folder) ? folder.substr(0, 2) + name : name;
    return folder + (folder.back() == L'\\' ? L"" : L"\\") + name;
}

std::wstring Canonical(const std::wstring& path) {
    const size_t rootLength = RootLength(path);
    std::wstring root = path.substr(0, rootLength);
    std::vector<std::wstring> parts;
    size_t start = rootLength;
    while (start <= path.size()) {
        size_t end = path.find(L'\\', start);
        if (end == std::wstring::npos)
            end = path.size();
        const std::wstring part = path.substr(start, end - start);
        const bool last = end == path.size();
        if (part == L"..") {
            if (!parts.empty())
                parts.pop_back();
        } else if (part != L"." && !(last && part.empty() && parts.empty())) {
            parts.push_back(part);
        }
        start = end + 1;
    }
    std::wstring result = root;
    for (size_t i = 0; i < parts.size(); ++i)
        result += (i ? L"\\" : L"") + parts[i];
    if (result.size() == 2 && result[1] == L':')
        result += L'\\';  // a bare drive is its root
    return result.empty() ? L"\\" : result;
}

}  // namespace

LPWSTR PathCombineW(LPWSTR dest, LPCWSTR dir, LPCWSTR file) {
    if (!dest)
        return nullptr;
    dest[0] = 0;
    if (!dir && !file)
        return nullptr;
    const std::wstring joined = Joined(dir, file);
    if (joined.size() >= kMaxPath)
        return nullptr;
    const std::wstring result = Canonical(joined);
    result.copy(dest, result.size());
    dest[result.size()] = 0;
    return dest;
}

// Windows paths as text: taking them apart, joining them, relations between
// them, file-name checks and shortening for display.
#include <cwchar>

#include "platform/win32.h"
#include "vidozir/diskutil.h"

namespace VidOzir {
namespace DiskUtil {

namespace {

const wchar_t kEllipsis[] = L"...";

int LastSeparator(const CLuStringW& path) {
    for (int i = path.GetLength() - 1; i >= 0; --i) {
        if (path[i] == L'\\' || path[i] == L'/')
            return i;
    }
    return -1;
}

// As _wcsnicmp compares in the C locale, which is where a process stays
// unless it calls setlocale: only A-Z fold, so the answer is the same on every
// platform and in every locale.
wchar_t FoldAscii(wchar_t c) {
    return (c >= L'A' && c <= L'Z') ? wchar_t(c + (L'a' - L'A')) : c;
}

bool StartsWithNoCase(const CLuStringW& text, const CLuStringW& prefix) {
    if (text.GetLength() < prefix.GetLength())
        return false;
    for (int i = 0; i < prefix.GetLength(); ++i) {
        if (FoldAscii(text[i]) != FoldAscii(prefix[i]))
            return false;
    }
    return true;
}

// n characters of s taken alternately from the front and the back, joined
// by the ellipsis; callers pass n below the length of s, the clamps only keep
// other values harmless.
CLuStringW Squeeze(const CLuStringW& s, int n) {
    if (n <= 0)
        return kEllipsis;
    int front = (n + 1) / 2;
    int back = n / 2;
    if (front > s.GetLength())
        front = s.GetLength();
    if (back > s.GetLength() - front)
        back = s.GetLength() - front;
    return s.Left(front) + kEllipsis + s.Right(back);
}

CLuStringW Trimmed(const CLuStringW& name) {
    CLuStringW trimmed(name);
    trimmed.Trim();
    return trimmed;
}

}  // namespace

void GetFileName(const CLuStringW& path, CLuStringW& name) {
    name = path.Mid(LastSeparator(path) + 1);
}

void GetFileNameWithoutSlash(const CLuStringW& path, CLuStringW& name) {
    GetFileName(path, name);
}

void GetFilePath(const CLuStringW& path, CLuStringW& dir) {
    int end = path.ReverseFind(L'\\');
    if (end < 0) {
        dir.Empty();
        return;
    }
    while (end > 0 && path[end - 1] == L'\\')
        --end;
    dir = path.Left(end);
}

void GetFilePathAndNameWithoutSlash(const CLuStringW& path, CLuStringW& dir, CLuStringW& name) {
    const int separator = LastSeparator(path);
    if (separator < 0) {
        dir = path;
        name = path;
        return;
    }
    const CLuStringW whole(path);  // `path` may be one of the outputs
    dir = whole.Left(separator + 1);
    name = whole.Mid(separator + 1);
}

CLuStringW GetFileExt(CLuStringW path) {
    return path.Mid(path.ReverseFind(L'.') + 1);
}

CLuStringW GetParentDir(const CLuStringW& path) {
    const CLuStringW text = Utf8ToWS(Utf8FromWS(path));
    return text.Left(text.ReverseFind(L'\\') + 1);
}

int GetPathLevel(const CLuStringW& path, const wchar_t* sep) {
    // An empty separator counts nothing: it would "occur" between every two
    // characters, which says nothing about levels.
    if (path.IsEmpty() || !sep || !sep[0])
        return 0;
    int count = 0;
    for (int at = path.Find(sep); at >= 0; at = path.Find(sep, at + 1))
        ++count;
    const int sepLength = int(wcslen(sep));
    if (path.GetLength() >= sepLength && path.Right(sepLength) == sep)
        --count;
    return count;
}

void CombinePath(const wchar_t* dir, const wchar_t* file, CLuStringW& out) {
    wchar_t buffer[520] = {};
    if (PathCombineW(buffer, dir, file))
        out = buffer;
    else
        out.Empty();
}

void ResizeFormatFileName(CLuStringW& path, int maxLen) {
    if (path.GetLength() <= maxLen)
        return;
    CLuStringW name;
    GetFileName(path, name);
    if (path.Find(L'\\') < 0) {
        path = name.GetLength() <= maxLen ? name : Squeeze(name, maxLen - 3);
        return;
    }
    CLuStringW dir;
    GetFilePath(path, dir);
    const int room = maxLen - name.GetLength() - 7;
    if (room >= 0)
        path = dir.Left(3) + dir.Mid(3, (room + 1) / 2) + kEllipsis + dir.Right(room / 2) + L'\\' +
               name;
    else
        path = dir.Left(3) + kEllipsis + dir.Right(3) + L'\\' + Squeeze(name, maxLen - 13);
}

int IsChildPath(const CLuStringW& parent, const CLuStringW& child) {
    if (parent.IsEmpty())
        return 1;
    return child.GetLength() >= parent.GetLength() + 2 && StartsWithNoCase(child, parent) &&
           child[parent.GetLength()] == L'\\';
}

int IsChild_or_SamePath(const CLuStringW& parent, const CLuStringW& child) {
    if (parent.IsEmpty())
        return 1;
    return StartsWithNoCase(child, parent) &&
           (child.GetLength() == parent.GetLength() || child[parent.GetLength()] == L'\\');
}

int IsDeviceFileName(const CLuStringW& name) {
    static const wchar_t* const kDevices[] = {L"CON", L"PRN", L"AUX", L"CLOCK$", L"NUL"};
    for (const wchar_t* device : kDevices) {
        if (name.CompareNoCase(device) == 0)
            return 1;
    }
    if (name.GetLength() != 4 || name[3] < L'0' || name[3] > L'9')
        return 0;
    const CLuStringW stem = name.Left(3);
    return stem.CompareNoCase(L"COM") == 0 || stem.CompareNoCase(L"LPT") == 0;
}

int IsFileNameCharValid(const CLuStringW& name) {
    // Carriage return and line feed are refused wherever they stand, also at
    // the ends where trimming would hide them: such a name cannot have been
    // meant. The other forbidden characters are no white space, so looking at
    // the untrimmed name changes nothing for them.
    if (name.FindOneOf(L"\\/:*?\"<>|\r\n") >= 0)
        return 0;
    const CLuStringW trimmed = Trimmed(name);
    // A name of nothing but blanks names no file: not valid.
    if (trimmed.IsEmpty())
        return 0;
    return trimmed != L"." && trimmed != L".." && trimmed[trimmed.GetLength() - 1] != L'.';
}

int IsFileNameTooLong(const CLuStringW& name, int maxLen) {
    return Trimmed(name).GetLength() >= maxLen;
}

// The limit sits where IsFileNameTooLong takes its own, so a positive one is
// held against the trimmed length the same way (equal is too long); 0 or a
// negative value is "no limit", which keeps callers that pass nothing
// meaningful there at the plain emptiness check.
int IsFileNameLengthValid(const CLuStringW& name, int maxLen) {
    const int length = Trimmed(name).GetLength();
    return length > 0 && (maxLen <= 0 || length < maxLen);
}

int IsFileNameValid(const CLuStringW& name, int maxLen) {
    return IsFileNameLengthValid(name, maxLen) && IsFileNameCharValid(name);
}

}  // namespace DiskUtil
}  // namespace VidOzir

// Every string-level path function on arbitrary UTF-16 text: no fault, and
// the promises of splitting, joining, relations and shortening hold.
#include <cstddef>
#include <cstdint>

#include "vidozir/diskutil.h"

using namespace VidOzir::DiskUtil;

namespace {

// When ResizeFormatFileName promises a result of exactly maxLen characters.
bool ShorteningPromisesLength(const CLuStringW& path, int maxLen) {
    if (path.GetLength() <= maxLen)
        return false;  // left as it is
    CLuStringW name, dir;
    GetFileName(path, name);
    GetFilePath(path, dir);
    const int room = maxLen - name.GetLength() - 7;
    if (path.Find(L'\\') < 0)
        return name.GetLength() > maxLen && maxLen >= 3;
    if (room >= 0)
        return dir.GetLength() >= 3 + room;  // enough folder text to show
    return maxLen >= 13 && dir.GetLength() >= 3;
}

void Check(bool promise) {
    if (!promise)
        __builtin_trap();
}

bool EndsWith(const CLuStringW& text, const CLuStringW& tail) {
    return text.GetLength() >= tail.GetLength() && text.Right(tail.GetLength()) == tail;
}

void CheckSplitting(const CLuStringW& path) {
    CLuStringW name, dir, head, tail;
    GetFileName(path, name);
    GetFilePath(path, dir);
    GetFilePathAndNameWithoutSlash(path, head, tail);
    Check(name == tail);
    Check(head + tail == path || (head == path && tail == path));  // no separator: both whole
    Check(path.Left(dir.GetLength()) == dir);
    Check(dir.IsEmpty() || dir[dir.GetLength() - 1] != L'\\');
    Check(EndsWith(path, GetFileExt(path)));
    const CLuStringW parent = GetParentDir(path);
    Check(parent.IsEmpty() || parent[parent.GetLength() - 1] == L'\\');
    Check(parent.Find(L'\0') < 0);
    const int level = GetPathLevel(path, L"\\");
    Check(level >= 0 && level <= path.GetLength());
}

void CheckShortening(const CLuStringW& path, int maxLen) {
    CLuStringW shown(path);
    ResizeFormatFileName(shown, maxLen);
    Check(path.GetLength() > maxLen || shown == path);
    Check(!ShorteningPromisesLength(path, maxLen) || shown.GetLength() == maxLen);
}

void CheckRelations(const CLuStringW& parent, const CLuStringW& child) {
    Check(!IsChildPath(parent, child) || IsChild_or_SamePath(parent, child));
    Check(IsChild_or_SamePath(parent, parent));
    Check(!IsDeviceFileName(child) || child.GetLength() <= 6);
    const int charValid = IsFileNameCharValid(child);
    Check(!charValid || child.FindOneOf(L"\\/:*?\"<>|\r\n") < 0);
    Check(IsFileNameValid(child, 0) == (IsFileNameLengthValid(child, 0) && charValid));
    Check(IsFileNameTooLong(child, 0));
    CLuStringW joined(L"stale");
    CombinePath(parent.GetString(), child.GetString(), joined);
    Check(joined.GetLength() < 520);
}

}  // namespace

// Input: one byte of limit (signed), then UTF-16 units in pairs of bytes; a
// unit 0x0001 divides the parent text from the child text.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0)
        return 0;
    const int maxLen = int(int8_t(data[0]));
    CLuStringW text;
    for (size_t i = 1; i + 1 < size; i += 2)
        text.AppendChar(wchar_t(data[i] | (data[i + 1] << 8)));
    const int divider = text.Find(L'\x0001');
    const CLuStringW parent = divider < 0 ? text : text.Left(divider);
    const CLuStringW child = divider < 0 ? text : text.Mid(divider + 1);
    CheckSplitting(text);
    CheckShortening(text, maxLen);
    CheckRelations(parent, child);
    return 0;
}

// When ResizeFormatFileName promises a result of exactly maxLen characters:
// shared by the property test and the fuzz target.
#pragma once

#include "vidozir/diskutil.h"

inline bool ShorteningPromisesLength(const CLuStringW& path, int maxLen) {
    if (path.GetLength() <= maxLen)
        return false;  // left as it is
    CLuStringW name, dir;
    VidOzir::DiskUtil::GetFileName(path, name);
    VidOzir::DiskUtil::GetFilePath(path, dir);
    const int room = maxLen - name.GetLength() - 7;
    if (path.Find(L'\\') < 0)
        return name.GetLength() > maxLen && maxLen >= 3;
    if (room >= 0)
        return dir.GetLength() >= 3 + room;  // enough folder text to show
    return maxLen >= 13 && dir.GetLength() >= 3;
}

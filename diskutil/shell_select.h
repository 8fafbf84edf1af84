// The platform half of "open folder and select": shows `folder` with the
// items named by `folder` followed by each name selected.
#pragma once

#include <string>
#include <vector>

namespace VidOzir {
namespace DiskUtil {

void SelectInFolder(const wchar_t* folder, const std::vector<std::wstring>& names);

}  // namespace DiskUtil
}  // namespace VidOzir

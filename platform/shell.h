// Shell special folders for non-Windows builds.
#pragma once

#include "vidozir_wintypes.h"

#define MAX_PATH 260
#define CSIDL_APPDATA 0x001a
#define CSIDL_FLAG_CREATE 0x8000
#define SHGFP_TYPE_CURRENT 0

#define S_OK ((HRESULT)0L)
#define E_FAIL ((HRESULT)0x80004005L)
#define E_INVALIDARG ((HRESULT)0x80070057L)
#define SUCCEEDED(hr) (((HRESULT)(hr)) >= 0)
#define FAILED(hr) (((HRESULT)(hr)) < 0)

// Answers CSIDL_APPDATA only: $XDG_DATA_HOME when it is an absolute path, else
// $HOME/.local/share, in Windows form (backslashes, no trailing backslash,
// such as "\home\u\.local\share"). With CSIDL_FLAG_CREATE a missing folder is
// created. `path` receives at most MAX_PATH units with the terminator.
HRESULT SHGetFolderPathW(HWND owner, int folder, HANDLE token, DWORD flags, LPWSTR path);

// CRegHelper: keys and values of the registry hive of the user logged on to
// the caller's session, and single values under HKEY_LOCAL_MACHINE. Every call
// opens its key, does its work and closes the key again.
#pragma once

#include <vector>

#include "vidozir/export.h"
#include "vidozir/lustring.h"
#include "vidozir_wintypes.h"

class VIDOZIR_API CRegHelper {
public:
    // Reads the system's major version once: from 6 on, the user's keys are
    // reached under HKEY_USERS\<SID of the session's user>, before that under
    // HKEY_CURRENT_USER.
    CRegHelper();
    CRegHelper(const CRegHelper& other);
    CRegHelper& operator=(const CRegHelper& other);
    ~CRegHelper();

    // 1 when the user key was opened or created with the REG_OPTION flags
    // `options`, 0 when both failed.
    int CreateHKCUKey(const wchar_t* subKey, DWORD options);
    // 1 when the user key can be opened for reading.
    int FindHKCUKey(const wchar_t* subKey);
    // Deletes the last component of `path` with everything below it; a path
    // of one component (or with its only backslash first) is left alone.
    void DeleteHKCUKey(const CLuStringW& path);
    void DeleteHKCUValue(const CLuStringW& subKey, const CLuStringW& name);
    // Appends the key's value names (not its subkeys) to `names`; 0 when the
    // key cannot be opened.
    int QueryHKCUKey(const CLuStringW& subKey, std::vector<CLuStringW>& names);
    void _QueryKey(HKEY key, std::vector<CLuStringW>& names);

    // The readers open the key for reading and writing, and check the type.
    DWORD ReadHKCUDWORD(const CLuStringW& subKey, const CLuStringW& name);
    // At most 258 characters; longer strings give the empty string.
    CLuStringW ReadHKCUString(const CLuStringW& subKey, const CLuStringW& name);
    // The writers create the key when it cannot be opened; failures are silent.
    void WriteHKCUDWORD(const CLuStringW& subKey, const CLuStringW& name, DWORD value);
    void WriteHKCUString(const CLuStringW& subKey, const CLuStringW& name, const CLuStringW& value);

    // HKEY_LOCAL_MACHINE readers, opened for reading only; the type is not
    // checked. Strings of at most 2047 bytes (with their terminator).
    DWORD ReadHKLMDWord(const CLuStringW& subKey, const CLuStringW& name);
    CLuStringW ReadHKLMString(const CLuStringW& subKey, const CLuStringW& name);

protected:
    BOOL m_bVistaOrLater;  // nonzero when the system's major version is 6 or more
};

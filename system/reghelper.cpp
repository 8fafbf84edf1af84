#include "vidozir/reghelper.h"

#include <string>

#include "foundation/wide_units.h"
#include "platform/win32.h"

namespace {

constexpr REGSAM kReadWrite = KEY_READ | KEY_WRITE;  // 0x2001F, for every user key

// Registry data of strings is UTF-16 units of 2 bytes on every platform; wchar_t
// holds one unit per element, so the text is copied unit by unit.
std::u16string Units(const CLuStringW& text) {
    std::u16string units(static_cast<size_t>(text.GetLength()), u'\0');
    for (int i = 0; i < text.GetLength(); ++i) {
        units[static_cast<size_t>(i)] = static_cast<char16_t>(text[i]);
    }
    return units;
}

// The text of a zero-ended unit buffer, written into one allocation.
CLuStringW Text(const char16_t* units) {
    int length = 0;
    while (units[length] != 0) {
        ++length;
    }
    return vidozir::detail::WidenUnits(units, length);
}

// The string SID of the account logged on to the calling process's session;
// empty when any step fails.
CLuStringW GetSessionUserSid() {
    DWORD session = 0;
    if (!ProcessIdToSessionId(GetCurrentProcessId(), &session)) {
        return CLuStringW();
    }
    // Information class 5 is the session's user name, 7 its domain name.
    CLuStringW user;
    CLuStringW domain;
    LPWSTR buffer = nullptr;
    DWORD bytes = 0;
    if (WTSQuerySessionInformationW(WTS_CURRENT_SERVER_HANDLE, session, WTSUserName, &buffer,
                                    &bytes) &&
        buffer != nullptr) {
        user = buffer;
        WTSFreeMemory(buffer);
    }
    buffer = nullptr;
    if (WTSQuerySessionInformationW(WTS_CURRENT_SERVER_HANDLE, session, WTSDomainName, &buffer,
                                    &bytes) &&
        buffer != nullptr) {
        domain = buffer;
        WTSFreeMemory(buffer);
    }
    CLuStringW account;
    account.Format(L"%s\\%s", domain.GetString(), user.GetString());

    BYTE sid[4096];
    DWORD sidSize = sizeof(sid);
    WCHAR domainOut[260];
    DWORD domainSize = 260;
    SID_NAME_USE use;
    CLuStringW result;
    if (LookupAccountNameW(nullptr, account.GetString(), sid, &sidSize, domainOut, &domainSize,
                           &use)) {
        LPWSTR text = nullptr;
        if (ConvertSidToStringSidW(sid, &text)) {
            result = text;
            LocalFree(text);
        }
    }
    return result;
}

// The session user's SID, a backslash and `subKey`, formed anew at each call.
CLuStringW UserPath(const wchar_t* subKey) {
    CLuStringW path = GetSessionUserSid();
    path.Preallocate(path.GetLength() + 1 +
                     static_cast<int>(std::char_traits<wchar_t>::length(subKey)));
    path += L"\\";
    path += subKey;
    return path;
}

// Opens the user key path of `subKey`: HKEY_USERS\<session user's SID>\subKey
// from major version 6, HKEY_CURRENT_USER\subKey before. An unknown SID
// leaves the path starting with its backslash, and the registry refuses it.
LONG OpenUserKey(BOOL vistaOrLater, const wchar_t* subKey, REGSAM access, HKEY* key) {
    if (!vistaOrLater) {
        return RegOpenKeyExW(HKEY_CURRENT_USER, subKey, 0, access, key);
    }
    return RegOpenKeyExW(HKEY_USERS, UserPath(subKey).GetString(), 0, access, key);
}

LONG CreateUserKey(BOOL vistaOrLater, const wchar_t* subKey, DWORD options, HKEY* key) {
    if (!vistaOrLater) {
        return RegCreateKeyExW(HKEY_CURRENT_USER, subKey, 0, nullptr, options, kReadWrite, nullptr,
                               key, nullptr);
    }
    return RegCreateKeyExW(HKEY_USERS, UserPath(subKey).GetString(), 0, nullptr, options,
                           kReadWrite, nullptr, key, nullptr);
}

// Open or else create, with read-write access.
bool OpenOrCreateUserKey(BOOL vistaOrLater, const wchar_t* subKey, DWORD options, HKEY* key) {
    return OpenUserKey(vistaOrLater, subKey, kReadWrite, key) == ERROR_SUCCESS ||
           CreateUserKey(vistaOrLater, subKey, options, key) == ERROR_SUCCESS;
}

void WriteUserValue(BOOL vistaOrLater, const CLuStringW& subKey, const CLuStringW& name, DWORD type,
                    const void* data, DWORD size) {
    HKEY key;
    if (!OpenOrCreateUserKey(vistaOrLater, subKey.GetString(), 0, &key)) {
        return;
    }
    RegSetValueExW(key, name.GetString(), 0, type, static_cast<const BYTE*>(data), size);
    RegCloseKey(key);
}

typedef LONG(WINAPI* DeleteKeyExFn)(HKEY, LPCWSTR, REGSAM, DWORD);

// RegDeleteKeyExW where the system offers it (from Vista on), looked up once.
DeleteKeyExFn FindDeleteKeyEx() {
#if defined(_WIN32)
    HMODULE advapi = GetModuleHandleW(L"Advapi32.dll");
    return advapi != nullptr ? reinterpret_cast<DeleteKeyExFn>(reinterpret_cast<void*>(
                                   GetProcAddress(advapi, "RegDeleteKeyExW")))
                             : nullptr;
#else
    // The Linux registry layer always has it; there is no module to search.
    return &RegDeleteKeyExW;
#endif
}

// Deletes `child` of the open `parent` with all its subkeys, depth first;
// false when some part could not be deleted (what remains is left).
bool DeleteTree(HKEY parent, const wchar_t* child) {
    HKEY key;
    if (RegOpenKeyExW(parent, child, 0, kReadWrite, &key) != ERROR_SUCCESS) {
        return false;
    }
    for (;;) {
        wchar_t name[256];
        DWORD length = 256;
        if (RegEnumKeyExW(key, 0, name, &length, nullptr, nullptr, nullptr, nullptr) !=
            ERROR_SUCCESS) {
            break;
        }
        if (!DeleteTree(key, name)) {
            RegCloseKey(key);
            return false;
        }
    }
    RegCloseKey(key);
    static const DeleteKeyExFn deleteKeyEx = FindDeleteKeyEx();
    LONG result =
        deleteKeyEx != nullptr ? deleteKeyEx(parent, child, 0, 0) : RegDeleteKeyW(parent, child);
    return result == ERROR_SUCCESS;
}

}  // namespace

CRegHelper::CRegHelper() : m_bVistaOrLater(0) {
    OSVERSIONINFOEXW extended = {};
    extended.dwOSVersionInfoSize = sizeof(OSVERSIONINFOEXW);
    if (GetVersionExW(reinterpret_cast<OSVERSIONINFOW*>(&extended))) {
        m_bVistaOrLater = extended.dwMajorVersion >= 6 ? 1 : 0;
        return;
    }
    OSVERSIONINFOW plain = {};
    plain.dwOSVersionInfoSize = sizeof(OSVERSIONINFOW);
    if (GetVersionExW(&plain)) {
        m_bVistaOrLater = plain.dwMajorVersion >= 6 ? 1 : 0;
    }
}

CRegHelper::CRegHelper(const CRegHelper& other) : m_bVistaOrLater(other.m_bVistaOrLater) {}

CRegHelper& CRegHelper::operator=(const CRegHelper& other) {
    m_bVistaOrLater = other.m_bVistaOrLater;
    return *this;
}

CRegHelper::~CRegHelper() {}

int CRegHelper::CreateHKCUKey(const wchar_t* subKey, DWORD options) {
    HKEY key;
    if (!OpenOrCreateUserKey(m_bVistaOrLater, subKey, options, &key)) {
        return 0;
    }
    RegCloseKey(key);
    return 1;
}

int CRegHelper::FindHKCUKey(const wchar_t* subKey) {
    HKEY key;
    if (OpenUserKey(m_bVistaOrLater, subKey, KEY_READ, &key) != ERROR_SUCCESS) {
        return 0;
    }
    RegCloseKey(key);
    return 1;
}

void CRegHelper::DeleteHKCUKey(const CLuStringW& path) {
    int last = -1;
    for (int i = 0; i < path.GetLength(); ++i) {
        if (path[i] == L'\\') {
            last = i;
        }
    }
    if (last <= 0) {
        return;
    }
    HKEY parent;
    if (OpenUserKey(m_bVistaOrLater, path.Left(last).GetString(), kReadWrite, &parent) !=
        ERROR_SUCCESS) {
        return;
    }
    DeleteTree(parent, path.Mid(last + 1).GetString());
    RegCloseKey(parent);
}

void CRegHelper::DeleteHKCUValue(const CLuStringW& subKey, const CLuStringW& name) {
    HKEY key;
    if (OpenUserKey(m_bVistaOrLater, subKey.GetString(), kReadWrite, &key) != ERROR_SUCCESS) {
        return;
    }
    RegDeleteValueW(key, name.GetString());
    RegCloseKey(key);
}

int CRegHelper::QueryHKCUKey(const CLuStringW& subKey, std::vector<CLuStringW>& names) {
    HKEY key;
    if (OpenUserKey(m_bVistaOrLater, subKey.GetString(), kReadWrite, &key) != ERROR_SUCCESS) {
        return 0;
    }
    _QueryKey(key, names);
    RegCloseKey(key);
    return 1;
}

void CRegHelper::_QueryKey(HKEY key, std::vector<CLuStringW>& names) {
    WCHAR keyClass[260] = {};
    DWORD classLength = 260;
    DWORD subKeys = 0, maxSubKey = 0, maxClass = 0, values = 0, maxValueName = 0, maxValue = 0,
          security = 0;
    FILETIME written;
    if (RegQueryInfoKeyW(key, keyClass, &classLength, nullptr, &subKeys, &maxSubKey, &maxClass,
                         &values, &maxValueName, &maxValue, &security, &written) != ERROR_SUCCESS) {
        return;
    }
    // Value names may be 16383 characters long; the buffer is on the heap.
    std::vector<WCHAR> name(16383);
    for (DWORD i = 0; i < values; ++i) {
        DWORD length = 16383;
        if (RegEnumValueW(key, i, name.data(), &length, nullptr, nullptr, nullptr, nullptr) ==
            ERROR_SUCCESS) {
            names.push_back(CLuStringW(name.data(), static_cast<int>(length)));
        }
    }
}

DWORD CRegHelper::ReadHKCUDWORD(const CLuStringW& subKey, const CLuStringW& name) {
    HKEY key;
    if (OpenUserKey(m_bVistaOrLater, subKey.GetString(), kReadWrite, &key) != ERROR_SUCCESS) {
        return 0;
    }
    DWORD value = 0;
    DWORD type = 0;
    DWORD size = sizeof(value);
    LONG result = RegQueryValueExW(key, name.GetString(), nullptr, &type,
                                   reinterpret_cast<BYTE*>(&value), &size);
    RegCloseKey(key);
    return result == ERROR_SUCCESS && type == REG_DWORD ? value : 0;
}

CLuStringW CRegHelper::ReadHKCUString(const CLuStringW& subKey, const CLuStringW& name) {
    HKEY key;
    if (OpenUserKey(m_bVistaOrLater, subKey.GetString(), kReadWrite, &key) != ERROR_SUCCESS) {
        return CLuStringW();
    }
    char16_t buffer[260] = {};
    DWORD type = 0;
    DWORD size = 259 * 2;
    LONG result = RegQueryValueExW(key, name.GetString(), nullptr, &type,
                                   reinterpret_cast<BYTE*>(buffer), &size);
    RegCloseKey(key);
    if (result != ERROR_SUCCESS || (type != REG_SZ && type != REG_EXPAND_SZ) || size % 2 != 0 ||
        (size > 0 && buffer[size / 2 - 1] != 0)) {
        return CLuStringW();
    }
    return Text(buffer);
}

void CRegHelper::WriteHKCUDWORD(const CLuStringW& subKey, const CLuStringW& name, DWORD value) {
    WriteUserValue(m_bVistaOrLater, subKey, name, REG_DWORD, &value, sizeof(value));
}

void CRegHelper::WriteHKCUString(const CLuStringW& subKey, const CLuStringW& name,
                                 const CLuStringW& value) {
    std::u16string units = Units(value);
    WriteUserValue(m_bVistaOrLater, subKey, name, REG_SZ, units.c_str(),
                   static_cast<DWORD>((units.size() + 1) * 2));
}

DWORD CRegHelper::ReadHKLMDWord(const CLuStringW& subKey, const CLuStringW& name) {
    HKEY key;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, subKey.GetString(), 0, KEY_READ, &key) != ERROR_SUCCESS) {
        return 0;
    }
    DWORD value = 0;
    DWORD size = sizeof(value);
    LONG result = RegQueryValueExW(key, name.GetString(), nullptr, nullptr,
                                   reinterpret_cast<BYTE*>(&value), &size);
    RegCloseKey(key);
    // A value longer than 4 bytes fails the query with ERROR_MORE_DATA, after
    // which the system leaves the buffer undefined: such a value reads as 0,
    // like every other failed read, rather than as whatever the buffer held.
    return result == ERROR_SUCCESS ? value : 0;
}

CLuStringW CRegHelper::ReadHKLMString(const CLuStringW& subKey, const CLuStringW& name) {
    HKEY key;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, subKey.GetString(), 0, KEY_READ, &key) != ERROR_SUCCESS) {
        return CLuStringW();
    }
    char16_t buffer[1024] = {};  // 2048 bytes, 2047 offered: the last unit stays zero
    DWORD size = 2047;
    LONG result = RegQueryValueExW(key, name.GetString(), nullptr, nullptr,
                                   reinterpret_cast<BYTE*>(buffer), &size);
    RegCloseKey(key);
    return result == ERROR_SUCCESS ? Text(buffer) : CLuStringW();
}

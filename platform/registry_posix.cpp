// The Win32 registry calls over the hive store: key handles, argument checks
// and the copying of names and data into the caller's buffers.
#include <memory>
#include <mutex>
#include <unordered_map>

#include "platform/kernel.h"
#include "platform/registry.h"
#include "platform/registry_store.h"

using vidozir::platform::RegFoldAppend;
using vidozir::platform::RegHive;
using vidozir::platform::RegKeyRef;
using vidozir::platform::RegKeyStats;

namespace {

struct OpenKey {
    RegKeyRef ref;
    REGSAM granted;
};

// Open keys by handle value. Values count up by 4 and are never reused, so a
// closed or made-up handle is refused rather than mistaken for another key.
std::mutex g_keysLock;
std::unordered_map<uintptr_t, std::shared_ptr<const OpenKey>> g_keys;
uintptr_t g_nextKey = 0x1000;

// HKEY_CURRENT_USER to HKEY_USERS: 0x80000001 to 0x80000003, sign-extended.
constexpr uintptr_t kPredefinedFirst = static_cast<uintptr_t>(static_cast<intptr_t>(-0x7FFFFFFF));
constexpr uintptr_t kPredefinedLast = kPredefinedFirst + 2;

// HKEY values are integers here; these two convert without a cast at every use.
uintptr_t Value(HKEY key) {
    return reinterpret_cast<uintptr_t>(key);
}

// The predefined keys; false for any other handle, or when the hive is missing.
bool Predefined(HKEY key, OpenKey* open) {
    RegHive* hive = nullptr;
    if (key == HKEY_LOCAL_MACHINE) {
        hive = RegHive::Machine();
    } else if (key == HKEY_CURRENT_USER) {
        hive = RegHive::User(RegHive::ProcessUserSid());
    } else if (key == HKEY_USERS) {
        *open = OpenKey{RegKeyRef{}, KEY_READ};
        return true;
    }
    if (hive == nullptr) {
        return false;
    }
    *open = OpenKey{hive->Root(), KEY_ALL_ACCESS};
    return true;
}

bool IsPredefined(HKEY key) {
    uintptr_t value = Value(key);
    return value >= kPredefinedFirst && value <= kPredefinedLast;
}

std::shared_ptr<const OpenKey> Find(HKEY key) {
    if (IsPredefined(key)) {
        OpenKey open;
        return Predefined(key, &open) ? std::make_shared<const OpenKey>(std::move(open)) : nullptr;
    }
    std::lock_guard<std::mutex> hold(g_keysLock);
    auto found = g_keys.find(Value(key));
    return found != g_keys.end() ? found->second : nullptr;
}

HKEY Add(const RegKeyRef& ref, REGSAM granted) {
    auto open = std::make_shared<const OpenKey>(OpenKey{ref, granted});
    std::lock_guard<std::mutex> hold(g_keysLock);
    uintptr_t value = g_nextKey;
    g_nextKey += 4;
    g_keys.emplace(value, std::move(open));
    return reinterpret_cast<HKEY>(value);
}

std::u16string Units(const wchar_t* text, size_t length) {
    std::u16string units(length, u'\0');
    for (size_t i = 0; i < length; ++i) {
        units[i] = static_cast<char16_t>(text[i]);
    }
    return units;
}

std::u16string Units(LPCWSTR text) {
    return text != nullptr ? Units(text, std::char_traits<wchar_t>::length(text))
                           : std::u16string();
}

// The folded form of a value name, as the store compares names.
std::string FoldedName(LPCWSTR name) {
    std::string folded;
    if (name != nullptr) {
        RegFoldAppend(&folded, name, std::char_traits<wchar_t>::length(name));
    }
    return folded;
}

// A component of a key path, in the caller's text.
struct Piece {
    const wchar_t* units;
    size_t length;
};

// Backslash-separated components; empty ones are skipped, but a path may not
// start with a backslash, and a component has at most 255 units.
LONG Split(LPCWSTR subKey, std::vector<Piece>* pieces) {
    if (subKey == nullptr) {
        return ERROR_SUCCESS;
    }
    if (*subKey == L'\\') {
        return ERROR_BAD_PATHNAME;
    }
    const wchar_t* start = subKey;
    for (const wchar_t* p = subKey;; ++p) {
        if (*p == L'\\' || *p == 0) {
            size_t length = static_cast<size_t>(p - start);
            if (length > 255) {
                return ERROR_INVALID_PARAMETER;
            }
            if (length > 0) {
                pieces->push_back(Piece{start, length});
            }
            if (*p == 0) {
                return ERROR_SUCCESS;
            }
            start = p + 1;
        }
    }
}

// Generic rights become the key's own; the view flags mean nothing here, and
// MAXIMUM_ALLOWED asks for what the key allows (everything it may allow).
REGSAM Map(REGSAM access) {
    REGSAM mapped = access & ~(KEY_WOW64_64KEY | KEY_WOW64_32KEY | GENERIC_READ | GENERIC_WRITE |
                               GENERIC_EXECUTE | GENERIC_ALL | MAXIMUM_ALLOWED);
    if (access & (GENERIC_READ | GENERIC_EXECUTE)) {
        mapped |= KEY_READ;
    }
    if (access & GENERIC_WRITE) {
        mapped |= KEY_WRITE;
    }
    if (access & (GENERIC_ALL | MAXIMUM_ALLOWED)) {
        mapped |= KEY_ALL_ACCESS;
    }
    return mapped;
}

// Splits the path and resolves its start: under HKEY_USERS the first
// component names the hive (the user's SID) and is taken off the path.
LONG Start(HKEY key, LPCWSTR subKey, std::vector<Piece>* path, OpenKey* from) {
    LONG status = Split(subKey, path);
    if (status != ERROR_SUCCESS) {
        return status;
    }
    if (IsPredefined(key)) {
        if (!Predefined(key, from)) {
            return ERROR_INVALID_HANDLE;
        }
    } else {
        std::shared_ptr<const OpenKey> open = Find(key);
        if (open == nullptr) {
            return ERROR_INVALID_HANDLE;
        }
        *from = *open;
    }
    if (from->ref.hive != nullptr || path->empty()) {
        return ERROR_SUCCESS;
    }
    RegHive* hive = RegHive::User(Units(path->front().units, path->front().length));
    if (hive == nullptr) {
        return ERROR_FILE_NOT_FOUND;
    }
    path->erase(path->begin());
    *from = OpenKey{hive->Root(), KEY_ALL_ACCESS};
    return ERROR_SUCCESS;
}

// Copies `text` and its terminator into a caller's buffer of *length units;
// ERROR_MORE_DATA when it does not fit. *length becomes the text's length.
LONG CopyName(const std::u16string& text, LPWSTR buffer, LPDWORD length) {
    if (buffer == nullptr || length == nullptr) {
        return ERROR_INVALID_PARAMETER;
    }
    if (text.size() + 1 > *length) {
        return ERROR_MORE_DATA;
    }
    for (size_t i = 0; i < text.size(); ++i) {
        buffer[i] = static_cast<wchar_t>(text[i]);
    }
    buffer[text.size()] = 0;
    *length = static_cast<DWORD>(text.size());
    return ERROR_SUCCESS;
}

// Copies value data as RegQueryValueExW does: the size always, the bytes when
// the buffer is given and large enough.
LONG CopyData(const std::string& bytes, BYTE* data, LPDWORD size) {
    if (data != nullptr && size == nullptr) {
        return ERROR_INVALID_PARAMETER;
    }
    LONG result = ERROR_SUCCESS;
    if (data != nullptr) {
        if (bytes.size() > *size) {
            result = ERROR_MORE_DATA;
        } else {
            std::copy(bytes.begin(), bytes.end(), data);
        }
    }
    if (size != nullptr) {
        *size = static_cast<DWORD>(bytes.size());
    }
    return result;
}

void SetFileTime(uint64_t ticks, PFILETIME time) {
    if (time != nullptr) {
        time->dwLowDateTime = static_cast<DWORD>(ticks);
        time->dwHighDateTime = static_cast<DWORD>(ticks >> 32);
    }
}

// The open key of a handle, if it grants `needed`.
// The open key behind `key` when it grants `needed`. A key whose hive could not
// be opened answers `noHive` where the caller gives one.
LONG Use(HKEY key, REGSAM needed, std::shared_ptr<const OpenKey>* open,
         LONG noHive = ERROR_SUCCESS) {
    *open = Find(key);
    if (*open == nullptr) {
        return ERROR_INVALID_HANDLE;
    }
    if (((*open)->granted & needed) != needed) {
        return ERROR_ACCESS_DENIED;
    }
    return (*open)->ref.hive == nullptr ? noHive : ERROR_SUCCESS;
}

}  // namespace

LONG RegOpenKeyExW(HKEY key, LPCWSTR subKey, DWORD options, REGSAM access, PHKEY result) {
    (void)options;
    if (result == nullptr) {
        return ERROR_INVALID_PARAMETER;
    }
    std::vector<Piece> path;
    OpenKey from;
    LONG status = Start(key, subKey, &path, &from);
    if (status != ERROR_SUCCESS) {
        return status;
    }
    REGSAM wanted = Map(access);
    if (from.ref.hive == nullptr) {
        *result = Add(from.ref, wanted & KEY_READ);  // HKEY_USERS itself
        return ERROR_SUCCESS;
    }
    std::string folded;
    for (const Piece& piece : path) {
        if (!folded.empty()) {
            RegFoldAppend(&folded, L"\\", 1);
        }
        RegFoldAppend(&folded, piece.units, piece.length);
    }
    RegKeyRef opened;
    REGSAM granted = 0;
    status = from.ref.hive->Open(from.ref, folded, wanted, &opened, &granted);
    if (status == ERROR_SUCCESS) {
        *result = Add(opened, granted);
    }
    return status;
}

LONG RegCreateKeyExW(HKEY key, LPCWSTR subKey, DWORD reserved, LPWSTR keyClass, DWORD options,
                     REGSAM access, LPSECURITY_ATTRIBUTES security, PHKEY result,
                     LPDWORD disposition) {
    (void)reserved;
    (void)security;  // keys carry no security descriptor here; see VidozirRegSetUserAccess
    if (result == nullptr || (options & ~REG_OPTION_VOLATILE) != 0) {
        // Links and backup semantics are not offered.
        return ERROR_INVALID_PARAMETER;
    }
    std::vector<Piece> pieces;
    OpenKey from;
    LONG status = Start(key, subKey, &pieces, &from);
    if (status != ERROR_SUCCESS) {
        return status;
    }
    if (from.ref.hive == nullptr) {
        return ERROR_ACCESS_DENIED;  // no hive is made by creating a key
    }
    std::vector<std::u16string> path;
    for (const Piece& piece : pieces) {
        path.push_back(Units(piece.units, piece.length));
    }
    RegKeyRef opened;
    REGSAM granted = 0;
    bool created = false;
    status = from.ref.hive->Create(from.ref, from.granted, path, Units(keyClass),
                                   (options & REG_OPTION_VOLATILE) != 0, Map(access), &opened,
                                   &granted, &created);
    if (status == ERROR_SUCCESS) {
        *result = Add(opened, granted);
        if (disposition != nullptr) {
            *disposition = created ? REG_CREATED_NEW_KEY : REG_OPENED_EXISTING_KEY;
        }
    }
    return status;
}

LONG RegCloseKey(HKEY key) {
    if (IsPredefined(key)) {
        return ERROR_SUCCESS;
    }
    std::shared_ptr<const OpenKey> closed;  // released outside the lock
    std::lock_guard<std::mutex> hold(g_keysLock);
    auto found = g_keys.find(Value(key));
    if (found == g_keys.end()) {
        return ERROR_INVALID_HANDLE;
    }
    closed = std::move(found->second);
    g_keys.erase(found);
    return ERROR_SUCCESS;
}

LONG RegSetValueExW(HKEY key, LPCWSTR name, DWORD reserved, DWORD type, const BYTE* data,
                    DWORD size) {
    (void)reserved;
    std::shared_ptr<const OpenKey> open;
    LONG status = Use(key, KEY_SET_VALUE, &open, ERROR_ACCESS_DENIED);
    if (status != ERROR_SUCCESS) {
        return status;
    }
    if (data == nullptr && size != 0) {
        return ERROR_NOACCESS;
    }
    std::u16string units = Units(name);
    if (units.size() > 16383) {
        return ERROR_INVALID_PARAMETER;
    }
    return open->ref.hive->SetValue(open->ref, units, type, data, size);
}

LONG RegQueryValueExW(HKEY key, LPCWSTR name, LPDWORD reserved, LPDWORD type, BYTE* data,
                      LPDWORD size) {
    std::shared_ptr<const OpenKey> open;
    LONG status = reserved != nullptr ? ERROR_INVALID_PARAMETER
                                      : Use(key, KEY_QUERY_VALUE, &open, ERROR_FILE_NOT_FOUND);
    if (status != ERROR_SUCCESS) {
        return status;
    }
    DWORD storedType = 0;
    std::string bytes;
    status = open->ref.hive->QueryValue(open->ref, FoldedName(name), &storedType, &bytes);
    if (status != ERROR_SUCCESS) {
        return status;
    }
    if (type != nullptr) {
        *type = storedType;
    }
    return CopyData(bytes, data, size);
}

LONG RegDeleteValueW(HKEY key, LPCWSTR name) {
    std::shared_ptr<const OpenKey> open;
    LONG status = Use(key, KEY_SET_VALUE, &open, ERROR_FILE_NOT_FOUND);
    return status != ERROR_SUCCESS ? status
                                   : open->ref.hive->DeleteValue(open->ref, FoldedName(name));
}

LONG RegEnumKeyExW(HKEY key, DWORD index, LPWSTR name, LPDWORD nameLength, LPDWORD reserved,
                   LPWSTR keyClass, LPDWORD classLength, PFILETIME written) {
    (void)reserved;
    std::shared_ptr<const OpenKey> open;
    LONG status = Use(key, KEY_ENUMERATE_SUB_KEYS, &open, ERROR_NO_MORE_ITEMS);
    if (status != ERROR_SUCCESS) {
        return status;
    }
    std::u16string found, foundClass;
    uint64_t ticks = 0;
    status = open->ref.hive->EnumKey(open->ref, index, &found, &foundClass, &ticks);
    if (status == ERROR_SUCCESS) {
        status = CopyName(found, name, nameLength);
    }
    if (status == ERROR_SUCCESS && keyClass != nullptr) {
        status = CopyName(foundClass, keyClass, classLength);
    }
    if (status == ERROR_SUCCESS) {
        SetFileTime(ticks, written);
    }
    return status;
}

LONG RegEnumValueW(HKEY key, DWORD index, LPWSTR name, LPDWORD nameLength, LPDWORD reserved,
                   LPDWORD type, BYTE* data, LPDWORD size) {
    (void)reserved;
    std::shared_ptr<const OpenKey> open;
    LONG status = Use(key, KEY_QUERY_VALUE, &open, ERROR_NO_MORE_ITEMS);
    if (status != ERROR_SUCCESS) {
        return status;
    }
    std::u16string found;
    DWORD storedType = 0;
    std::string bytes;
    status = open->ref.hive->EnumValue(open->ref, index, &found, &storedType, &bytes);
    if (status == ERROR_SUCCESS) {
        status = CopyName(found, name, nameLength);
    }
    if (status == ERROR_SUCCESS && type != nullptr) {
        *type = storedType;
    }
    return status == ERROR_SUCCESS ? CopyData(bytes, data, size) : status;
}

LONG RegQueryInfoKeyW(HKEY key, LPWSTR keyClass, LPDWORD classLength, LPDWORD reserved,
                      LPDWORD subKeys, LPDWORD maxSubKeyLength, LPDWORD maxClassLength,
                      LPDWORD values, LPDWORD maxValueNameLength, LPDWORD maxValueLength,
                      LPDWORD securityDescriptorLength, PFILETIME written) {
    (void)reserved;
    std::shared_ptr<const OpenKey> open;
    LONG status = Use(key, KEY_QUERY_VALUE, &open);
    if (status != ERROR_SUCCESS) {
        return status;
    }
    RegKeyStats stats;
    if (open->ref.hive != nullptr) {
        status = open->ref.hive->Stats(open->ref, &stats);
    }
    if (status == ERROR_SUCCESS && keyClass != nullptr) {
        status = CopyName(stats.keyClass, keyClass, classLength);
    }
    if (status != ERROR_SUCCESS) {
        return status;
    }
    const std::pair<LPDWORD, DWORD> outputs[] = {{subKeys, stats.subKeys},
                                                 {maxSubKeyLength, stats.maxSubKeyLength},
                                                 {maxClassLength, stats.maxClassLength},
                                                 {values, stats.values},
                                                 {maxValueNameLength, stats.maxValueNameLength},
                                                 {maxValueLength, stats.maxValueLength},
                                                 {securityDescriptorLength, 0}};
    for (const auto& [out, value] : outputs) {
        if (out != nullptr) {
            *out = value;
        }
    }
    SetFileTime(stats.written, written);
    return ERROR_SUCCESS;
}

LONG RegDeleteKeyExW(HKEY key, LPCWSTR subKey, REGSAM access, DWORD reserved) {
    (void)access;
    (void)reserved;
    HKEY target;
    LONG status = RegOpenKeyExW(key, subKey, 0, DELETE, &target);
    if (status != ERROR_SUCCESS) {
        return status;
    }
    std::shared_ptr<const OpenKey> open = Find(target);
    RegCloseKey(target);
    return open->ref.hive != nullptr ? open->ref.hive->DeleteKey(open->ref) : ERROR_ACCESS_DENIED;
}

LONG RegDeleteKeyW(HKEY key, LPCWSTR subKey) {
    return RegDeleteKeyExW(key, subKey, 0, 0);
}

LONG VidozirRegSetUserAccess(HKEY key, LPCWSTR subKey, REGSAM allowed) {
    HKEY target;
    LONG status = RegOpenKeyExW(key, subKey, 0, 0, &target);
    if (status != ERROR_SUCCESS) {
        return status;
    }
    std::shared_ptr<const OpenKey> open = Find(target);
    RegCloseKey(target);
    return open->ref.hive != nullptr ? open->ref.hive->SetUserAccess(open->ref, Map(allowed))
                                     : ERROR_ACCESS_DENIED;
}

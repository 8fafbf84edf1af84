// Raw access to a registry key through the Win32 calls, for the registry
// tests: what they set and look up beside the code they test.
#pragma once

#include <string>

#include "platform/win32.h"

namespace vidozir_test {

struct RegistryKey {
    HKEY root;
    std::wstring path;

    // Creates the key when it is missing and sets the value.
    LONG Set(const wchar_t* name, DWORD type, const void* data, DWORD size) const {
        HKEY key;
        LONG result = RegCreateKeyExW(root, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                                      &key, nullptr);
        if (result == ERROR_SUCCESS) {
            result = RegSetValueExW(key, name, 0, type, static_cast<const BYTE*>(data), size);
            RegCloseKey(key);
        }
        return result;
    }
    // The type and size of a value, or the error; with no name, whether the key opens.
    LONG Query(const wchar_t* name = nullptr, DWORD* type = nullptr, DWORD* size = nullptr) const {
        HKEY key;
        LONG result = RegOpenKeyExW(root, path.c_str(), 0, KEY_READ, &key);
        if (result == ERROR_SUCCESS) {
            if (name != nullptr)
                result = RegQueryValueExW(key, name, nullptr, type, nullptr, size);
            RegCloseKey(key);
        }
        return result;
    }
    bool Exists() const { return Query() == ERROR_SUCCESS; }
    RegistryKey Sub(const std::wstring& child) const { return {root, path + L"\\" + child}; }
};

}  // namespace vidozir_test

// Conversions between the tests' plain strings and the library's CLuStringW.
#pragma once

#include <string>

#include "vidozir/lustring.h"

namespace vidozir_test {

// An ASCII text (names, native paths of the build and temporary folders).
inline CLuStringW Wide(const std::string& ascii) {
    return CLuStringW(std::wstring(ascii.begin(), ascii.end()).c_str());
}

// UTF-16 units as they are, embedded nulls and lone surrogates included.
inline CLuStringW Wide(const std::u16string& units) {
    CLuStringW text;
    for (char16_t unit : units)
        text += static_cast<wchar_t>(unit);
    return text;
}

// The whole string, embedded nulls included, for comparing and printing.
inline std::wstring W(const CLuStringW& text) {
    return std::wstring(text.GetString(), size_t(text.GetLength()));
}

}  // namespace vidozir_test

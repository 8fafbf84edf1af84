// Well-formed UTF-8 to UTF-16 without a converter object: the quick road of
// the code-page layer for the common case of valid text.
#pragma once

#include <cstddef>

namespace vidozir::platform {

// Checks that all `length` bytes are well-formed UTF-8 (no overlong forms,
// no surrogates, nothing above U+10FFFF); if so, sets `units` to the UTF-16
// units they make and returns true.
bool Utf8Units(const char* source, size_t length, size_t& units);

// Writes the UTF-16 units of `length` bytes that Utf8Units accepted.
void Utf8ToUnits(const char* source, size_t length, wchar_t* destination);

}  // namespace vidozir::platform

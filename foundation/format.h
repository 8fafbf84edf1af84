// The printf engine behind CLuStringW::Format and CLuStringA::Format. One
// engine for both widths, so the two classes format identically; it never
// goes through the C library's wide functions, whose `%s` means something
// else on each platform and which cannot hold UTF-16 in a 32-bit wchar_t.
#pragma once

#include <cstdarg>
#include <string>

namespace vidozir::detail {

// Appends the formatted text to `out`. For CLuStringW `%s` takes UTF-16 text
// and `%S`/`%hs` narrow text; for CLuStringA `%s` takes narrow text and
// `%S`/`%ls` UTF-16 text. Narrow text meeting wide text is taken as UTF-8.
void FormatAppend(std::u16string& out, const wchar_t* format, va_list args);
void FormatAppend(std::string& out, const char* format, va_list args);

}  // namespace vidozir::detail

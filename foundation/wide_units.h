// 16-bit code units (as the UTF-8 decoder and the registry stand-in give
// them) into the string class, which holds wchar_t: 2 bytes on Windows, 4 on
// Linux, so each unit is widened on its own.
#pragma once

#include "vidozir/lustring.h"

namespace vidozir::detail {

template <class Unit>
CLuStringW WidenUnits(const Unit* units, int count) {
    CLuStringW text;
    if (count <= 0) {
        return text;
    }
    wchar_t* out = text.GetBuffer(count);
    for (int i = 0; i < count; ++i) {
        out[i] = static_cast<wchar_t>(units[i]);
    }
    text.ReleaseBuffer(count);
    return text;
}

}  // namespace vidozir::detail

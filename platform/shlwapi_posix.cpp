// StrToInt and StrToInt64Ex as the shell parses numbers: ASCII digits only,
// arithmetic in 64 bits that wraps silently on overflow.
#include "platform/shlwapi.h"

namespace {

bool IsDigit(unsigned c) {
    return c >= '0' && c <= '9';
}

int HexValue(unsigned c) {
    if (IsDigit(c))
        return int(c - '0');
    if (c >= 'a' && c <= 'f')
        return int(c - 'a' + 10);
    if (c >= 'A' && c <= 'F')
        return int(c - 'A' + 10);
    return -1;
}

template <typename Char>
unsigned Unit(Char c) {
    return sizeof(Char) == 1 ? unsigned(static_cast<unsigned char>(c)) : unsigned(c);
}

template <typename Char>
bool Parse(const Char* text, bool skipSpace, bool hex, LONGLONG* result) {
    *result = 0;
    if (!text)
        return false;
    if (skipSpace) {
        while (Unit(*text) == ' ' || (Unit(*text) >= '\t' && Unit(*text) <= '\r'))
            ++text;
    }
    bool negative = false;
    if (Unit(*text) == '-' || Unit(*text) == '+') {
        negative = Unit(*text) == '-';
        ++text;
    }
    ULONGLONG value = 0;
    if (hex && Unit(text[0]) == '0' && (Unit(text[1]) == 'x' || Unit(text[1]) == 'X') &&
        HexValue(Unit(text[2])) >= 0) {
        for (text += 2; HexValue(Unit(*text)) >= 0; ++text)
            value = value * 16 + ULONGLONG(HexValue(Unit(*text)));
    } else {
        if (!IsDigit(Unit(*text)))
            return false;
        for (; IsDigit(Unit(*text)); ++text)
            value = value * 10 + (Unit(*text) - '0');
    }
    *result = LONGLONG(negative ? ULONGLONG(0) - value : value);
    return true;
}

template <typename Char>
int ToInt(const Char* text) {
    LONGLONG value = 0;
    Parse(text, false, false, &value);
    return int(static_cast<unsigned>(ULONGLONG(value)));  // the low 32 bits
}

}  // namespace

int StrToIntW(LPCWSTR text) {
    return ToInt(text);
}

int StrToIntA(LPCSTR text) {
    return ToInt(text);
}

BOOL StrToInt64ExW(LPCWSTR text, DWORD flags, LONGLONG* result) {
    if (!result)
        return FALSE;
    return Parse(text, true, (flags & STIF_SUPPORT_HEX) != 0, result) ? TRUE : FALSE;
}

BOOL StrToInt64ExA(LPCSTR text, DWORD flags, LONGLONG* result) {
    if (!result)
        return FALSE;
    return Parse(text, true, (flags & STIF_SUPPORT_HEX) != 0, result) ? TRUE : FALSE;
}

// MultiByteToWideChar / WideCharToMultiByte on ICU converters.
//
// Windows code page numbers map to ICU converter names. Code page 0 (ANSI) is
// the character set of the user's locale. Code pages ICU has no converter for
// fail as a code page that is not installed fails on Windows.
#include "platform/codepage.h"

#include <langinfo.h>
#include <locale.h>
#include <unicode/ucnv.h>
#include <unicode/ucnv_cb.h>

#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "platform/codepage_converters_posix.h"
#include "platform/kernel.h"
#include "platform/utf8.h"

namespace {

struct CodePageName {
    UINT codePage;
    const char* icuName;
};

// Only exact (or, where noted, compatible) equivalents; everything else in the
// XML encoding table is missing from ICU: 154, 708, 853, 1361, the Mac CJK,
// Arabic, Hebrew, Romanian, Thai, Icelandic and Croatian pages, 20000-20005,
// 20105-20108, 20261, 20269 and 29001.
const CodePageName kCodePages[] = {
    {437, "ibm-437"},
    {720, "windows-720"},
    {737, "windows-737"},
    {775, "windows-775"},
    {850, "windows-850"},
    {852, "windows-852"},
    {855, "windows-855"},
    {857, "windows-857"},
    {858, "windows-858"},
    {860, "ibm-860"},
    {861, "windows-861"},
    {862, "windows-862"},
    {863, "ibm-863"},
    {864, "ibm-864"},
    {865, "ibm-865"},
    {866, "windows-866"},
    {869, "windows-869"},
    {874, "windows-874"},
    {932, "windows-932"},
    {936, "windows-936"},
    {949, "windows-949"},
    {950, "windows-950"},
    {1125, "ibm-1125"},
    {1133, "ibm-1133"},
    {1250, "windows-1250"},
    {1251, "windows-1251"},
    {1252, "windows-1252"},
    {1253, "windows-1253"},
    {1254, "windows-1254"},
    {1255, "windows-1255"},
    {1256, "windows-1256"},
    {1257, "windows-1257"},
    {1258, "windows-1258"},
    {10000, "windows-10000"},
    {10006, "windows-10006"},
    {10007, "windows-10007"},
    {10017, "x-MacUkraine"},
    {10029, "windows-10029"},
    {10081, "windows-10081"},
    {20127, "windows-20127"},
    {20866, "windows-20866"},
    {21866, "windows-21866"},
    // 20932 and 51932 are both EUC-JP; 20936 is GB2312 and 20949 Wansung, in
    // the EUC form that ICU carries as EUC-CN and EUC-KR.
    {20932, "EUC-JP"},
    {20936, "EUC-CN"},
    {20949, "EUC-KR"},
    {28591, "ISO-8859-1"},
    {28592, "windows-28592"},
    {28593, "windows-28593"},
    {28594, "windows-28594"},
    {28595, "windows-28595"},
    {28596, "windows-28596"},
    {28597, "windows-28597"},
    {28598, "windows-28598"},
    {28599, "windows-28599"},
    {28603, "windows-28603"},
    {28605, "windows-28605"},
    {38598, "ISO-8859-8-I"},
    // The three ISO-2022-JP pages differ only in how they write half-width
    // katakana; ICU reads all of them and writes the plain form.
    {50220, "ISO-2022-JP"},
    {50221, "ISO-2022-JP"},
    {50222, "ISO-2022-JP"},
    {50225, "ISO-2022-KR"},
    {50227, "ISO-2022-CN"},
    {50229, "ISO-2022-CN-EXT"},
    {51932, "EUC-JP"},
    {51936, "EUC-CN"},
    {51949, "windows-51949"},
    {52936, "HZ"},
    {54936, "windows-54936"},
    {57002, "windows-57002"},
    {57003, "windows-57003"},
    {57004, "windows-57004"},
    {57005, "windows-57005"},
    {57006, "windows-57006"},
    {57007, "windows-57007"},
    {57008, "windows-57008"},
    {57009, "windows-57009"},
    {57010, "windows-57010"},
    {57011, "windows-57011"},
    {65000, "UTF-7"},
    {65001, "UTF-8"},
};

// The character set of the user's locale (LC_ALL, LC_CTYPE, LANG), read
// without touching the process's own locale. The plain C locale names ASCII,
// which would turn every other character into "?": there we take UTF-8, the
// encoding of file names and terminals on any current system.
std::string LocaleCharset() {
    std::string name;
    if (locale_t locale = newlocale(LC_CTYPE_MASK, "", static_cast<locale_t>(0))) {
        if (const char* codeset = nl_langinfo_l(CODESET, locale))
            name = codeset;
        freelocale(locale);
    }
    if (name.empty() || name == "ANSI_X3.4-1968" || name == "ASCII")
        return "UTF-8";
    UErrorCode error = U_ZERO_ERROR;
    UConverter* probe = ucnv_open(name.c_str(), &error);
    if (U_FAILURE(error))
        return "UTF-8";
    ucnv_close(probe);
    return name;
}

const char* IcuName(UINT codePage) {
    if (codePage == CP_ACP) {
        static const std::string ansi = LocaleCharset();
        return ansi.c_str();
    }
    for (const CodePageName& entry : kCodePages) {
        if (entry.codePage == codePage)
            return entry.icuName;
    }
    return nullptr;
}

// The code pages that refuse a default character and its report (and most
// flags), as on Windows.
bool TakesNoDefaultChar(UINT codePage) {
    switch (codePage) {
        case 65000:
        case 65001:
        case 50220:
        case 50221:
        case 50222:
        case 50225:
        case 50227:
        case 50229:
        case 52936:
        case 54936:
            return true;
        default:
            return codePage >= 57002 && codePage <= 57011;
    }
}

int Fail(DWORD error) {
    SetLastError(error);
    return 0;
}

// What the from-Unicode callback substitutes, and what it saw.
struct Substitution {
    const char* defaultChar;  // caller's default character (first byte), or null
    bool utf8;                // unpaired surrogates become U+FFFD, as on Windows
    bool stop;                // WC_ERR_INVALID_CHARS: fail instead
    bool used = false;
};

void SubstituteCallback(const void* context, UConverterFromUnicodeArgs* args, const UChar*, int32_t,
                        UChar32, UConverterCallbackReason reason, UErrorCode* error) {
    if (reason > UCNV_IRREGULAR)
        return;  // reset, close, clone: nothing to do
    auto* substitution = static_cast<Substitution*>(const_cast<void*>(context));
    if (substitution->stop)
        return;  // leave the error set: the conversion fails
    *error = U_ZERO_ERROR;
    substitution->used = true;
    if (substitution->defaultChar) {
        ucnv_cbFromUWriteBytes(args, substitution->defaultChar, 1, 0, error);
    } else {
        static const UChar kReplacement = 0xFFFD;
        static const UChar kQuestion = u'?';
        const UChar* text = substitution->utf8 ? &kReplacement : &kQuestion;
        ucnv_cbFromUWriteUChars(args, &text, text + 1, 0, error);
    }
}

}  // namespace

BOOL IsValidCodePage(UINT codePage) {
    return codePage != CP_ACP && vidozir::platform::ConverterFor(codePage, IcuName) != nullptr;
}

int MultiByteToWideChar(UINT codePage, DWORD flags, LPCSTR source, int sourceLength,
                        LPWSTR destination, int destinationLength) {
    if (!source || sourceLength == 0 || sourceLength < -1 || destinationLength < 0 ||
        (destinationLength > 0 && !destination))
        return Fail(ERROR_INVALID_PARAMETER);
    if ((flags & ~(MB_PRECOMPOSED | MB_ERR_INVALID_CHARS)) != 0 ||
        (TakesNoDefaultChar(codePage) && (flags & ~MB_ERR_INVALID_CHARS) != 0))
        return Fail(ERROR_INVALID_FLAGS);
    UConverter* converter = vidozir::platform::ConverterFor(codePage, IcuName);
    if (!converter)
        return Fail(ERROR_INVALID_PARAMETER);

    const size_t length = sourceLength == -1 ? std::strlen(source) + 1 : size_t(sourceLength);
    // Valid UTF-8, by far the most common input, converts without ICU.
    size_t validUnits = 0;
    if (codePage == CP_UTF8 && vidozir::platform::Utf8Units(source, length, validUnits)) {
        if (destinationLength == 0)
            return int(validUnits);
        if (validUnits > size_t(destinationLength))
            return Fail(ERROR_INSUFFICIENT_BUFFER);
        vidozir::platform::Utf8ToUnits(source, length, destination);
        return int(validUnits);
    }
    UErrorCode error = U_ZERO_ERROR;
    if (flags & MB_ERR_INVALID_CHARS)
        ucnv_setToUCallBack(converter, UCNV_TO_U_CALLBACK_STOP, nullptr, nullptr, nullptr, &error);
    else
        ucnv_setToUCallBack(converter, UCNV_TO_U_CALLBACK_SUBSTITUTE, nullptr, nullptr, nullptr,
                            &error);
    // At most one UTF-16 unit per byte for every code page here, plus what a
    // stateful encoding flushes at the end.
    std::u16string units(length + 4, u'\0');
    error = U_ZERO_ERROR;
    const int32_t produced = ucnv_toUChars(converter, units.data(), int32_t(units.size()), source,
                                           int32_t(length), &error);
    if (U_FAILURE(error)) {
        if (error == U_BUFFER_OVERFLOW_ERROR)
            return Fail(ERROR_NOT_ENOUGH_MEMORY);
        return Fail(ERROR_NO_UNICODE_TRANSLATION);
    }
    if (destinationLength == 0)
        return produced;
    if (produced > destinationLength)
        return Fail(ERROR_INSUFFICIENT_BUFFER);
    for (int32_t i = 0; i < produced; ++i)
        destination[i] = wchar_t(units[size_t(i)]);
    return produced;
}

int WideCharToMultiByte(UINT codePage, DWORD flags, LPCWSTR source, int sourceLength,
                        LPSTR destination, int destinationLength, LPCSTR defaultChar,
                        LPBOOL usedDefaultChar) {
    if (!source || sourceLength == 0 || sourceLength < -1 || destinationLength < 0 ||
        (destinationLength > 0 && !destination))
        return Fail(ERROR_INVALID_PARAMETER);
    const bool noReport = TakesNoDefaultChar(codePage);
    if (noReport && (defaultChar || usedDefaultChar))
        return Fail(ERROR_INVALID_PARAMETER);
    const DWORD allowed = codePage == CP_UTF8 ? WC_ERR_INVALID_CHARS
                          : noReport          ? 0
                                              : (WC_NO_BEST_FIT_CHARS | WC_ERR_INVALID_CHARS);
    if ((flags & ~allowed) != 0)
        return Fail(ERROR_INVALID_FLAGS);
    UConverter* converter = vidozir::platform::ConverterFor(codePage, IcuName);
    if (!converter)
        return Fail(ERROR_INVALID_PARAMETER);

    size_t length = 0;
    if (sourceLength == -1) {
        while (source[length] != 0)
            ++length;
        ++length;  // the terminator is converted too
    } else {
        length = size_t(sourceLength);
    }
    std::u16string units(length, u'\0');
    for (size_t i = 0; i < length; ++i)
        units[i] = char16_t(source[i] & 0xFFFF);

    Substitution substitution{defaultChar, codePage == CP_UTF8 || codePage == CP_UTF7,
                              (flags & WC_ERR_INVALID_CHARS) != 0};
    UErrorCode error = U_ZERO_ERROR;
    ucnv_setFromUCallBack(converter, SubstituteCallback, &substitution, nullptr, nullptr, &error);
    // Windows maps characters without an exact equivalent to a close one
    // ("best fit") unless asked not to; ICU's fallback mappings are that.
    ucnv_setFallback(converter, (flags & WC_NO_BEST_FIT_CHARS) == 0);

    const int32_t capacity = int32_t(units.size()) * ucnv_getMaxCharSize(converter) + 16;
    std::string bytes(size_t(capacity), '\0');
    error = U_ZERO_ERROR;
    const int32_t produced = ucnv_fromUChars(converter, bytes.data(), capacity, units.data(),
                                             int32_t(units.size()), &error);
    if (U_FAILURE(error)) {
        if (error == U_BUFFER_OVERFLOW_ERROR)
            return Fail(ERROR_NOT_ENOUGH_MEMORY);
        return Fail(ERROR_NO_UNICODE_TRANSLATION);
    }
    if (destinationLength > 0) {
        if (produced > destinationLength)
            return Fail(ERROR_INSUFFICIENT_BUFFER);
        std::memcpy(destination, bytes.data(), size_t(produced));
    }
    if (usedDefaultChar)
        *usedDefaultChar = substitution.used ? TRUE : FALSE;
    return produced;
}

// Text encodings, numbers, hexadecimal text and printf-style formatting.
#if defined(_WIN32) && !defined(_WINSOCK_DEPRECATED_NO_WARNINGS)
#define _WINSOCK_DEPRECATED_NO_WARNINGS  // inet_ntoa is what the interface names
#endif
#include <algorithm>
#include <climits>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <new>
#include <vector>

#include "platform/win32.h"
#include "vidozir/diskutil.h"

namespace VidOzir {
namespace DiskUtil {

namespace {

// Both directions ask for the size of the whole null-terminated source first,
// then convert into a buffer of that size; the result ends at the first null.
void ToNarrow(UINT codePage, const CLuStringW& source, CLuStringA& destination) {
    const int size =
        WideCharToMultiByte(codePage, 0, source.GetString(), -1, nullptr, 0, nullptr, nullptr);
    if (size <= 0) {
        destination.Empty();
        return;
    }
    char* buffer = destination.GetBuffer(size);
    std::memset(buffer, 0, size_t(size));
    WideCharToMultiByte(codePage, 0, source.GetString(), -1, buffer, size, nullptr, nullptr);
    destination.ReleaseBuffer(-1);
}

void ToWide(UINT codePage, const CLuStringA& source, CLuStringW& destination) {
    const int size = MultiByteToWideChar(codePage, 0, source.GetString(), -1, nullptr, 0);
    if (size <= 0) {
        destination.Empty();
        return;
    }
    wchar_t* buffer = destination.GetBuffer(size);
    std::fill(buffer, buffer + size, L'\0');
    MultiByteToWideChar(codePage, 0, source.GetString(), -1, buffer, size);
    destination.ReleaseBuffer(-1);
}

const char kLowerDigits[] = "0123456789abcdef";
const char kUpperDigits[] = "0123456789ABCDEF";

template <typename Out>
void AppendHex(Out& out, const unsigned char* data, size_t size, const char* digits) {
    for (size_t i = 0; i < size; ++i) {
        out += digits[data[i] >> 4];
        out += digits[data[i] & 0x0F];
    }
}

int HexValue(char c) {
    if (c >= 'A' && c <= 'F')
        return c - 55;
    if (c >= '0' && c <= '9')
        return c - 48;
    return -1;
}

}  // namespace

CLuStringA AnsiFromUnicode(const CLuStringW& text) {
    CLuStringA result;
    ToNarrow(CP_ACP, text, result);
    return result;
}

CLuStringW AnsiToUnicode(const CLuStringA& text) {
    CLuStringW result;
    ToWide(CP_ACP, text, result);
    return result;
}

void WCharToMByte(const CLuStringW& source, CLuStringA& destination) {
    ToNarrow(CP_UTF8, source, destination);
}

void MByteToWChar(const CLuStringA& source, CLuStringW& destination) {
    ToWide(CP_UTF8, source, destination);
}

CLuStringA Utf8FromWS(const CLuStringW& text) {
    CLuStringA result;
    WCharToMByte(text, result);
    return result;
}

CLuStringW Utf8ToWS(const CLuStringA& text) {
    CLuStringW result;
    MByteToWChar(text, result);
    return result;
}

CLuStringA IntToStringA(int value) {
    CLuStringA result;
    result.Format("%d", value);
    return result;
}

// On Windows `unsigned long` is the 32-bit DWORD; where it is wider the whole
// value is printed rather than cut.
CLuStringW DWordToStringW(unsigned long value) {
    CLuStringW result;
    result.Format(L"%lu", value);
    return result;
}

CLuStringW Int64ToStringW(long long value) {
    CLuStringW result;
    result.Format(L"%llu", static_cast<unsigned long long>(value));
    return result;
}

int StringToInt(const CLuStringW& text) {
    return StrToIntW(text.GetString());
}

int StringToIntW(const CLuStringW& text) {
    return StringToInt(text);
}

int StringToIntA(const CLuStringA& text) {
    return StrToIntA(text.GetString());
}

int StringToDWordW(const CLuStringW& text, unsigned long& value) {
    // A negative result reads as its 32-bit unsigned pattern, as in a DWORD.
    value = static_cast<unsigned int>(StrToIntW(text.GetString()));
    return 1;
}

// The result goes through a local of the platform's type and is stored
// whether or not a number was read, as if the output were handed on.
int StringToInt64A(const CLuStringA& text, long long& value) {
    LONGLONG result = value;
    const BOOL read = StrToInt64ExA(text.GetString(), STIF_DEFAULT, &result);
    value = result;
    return read;
}

int StringToInt64W(const CLuStringW& text, long long& value) {
    LONGLONG result = value;
    const BOOL read = StrToInt64ExW(text.GetString(), STIF_DEFAULT, &result);
    value = result;
    return read;
}

CLuStringW ByteToString(const unsigned char* data, int count) {
    CLuStringW result;
    ByteToString(data, count, result);
    return result;
}

int ByteToString(const unsigned char* data, int count, CLuStringW& text) {
    if (!data || count == 0)
        return 0;
    text.Empty();
    if (count > 0) {
        if (count > INT_MAX / 2)
            throw std::bad_alloc();
        text.Preallocate(count * 2);
        AppendHex(text, data, size_t(count), kLowerDigits);
    }
    return 1;
}

CLuStringW Encode16(const void* data, unsigned int size) {
    CLuStringW result;
    if (!data || size == 0)
        return result;
    if (size > unsigned(INT_MAX / 2))
        throw std::bad_alloc();
    result.Preallocate(int(size) * 2);
    AppendHex(result, static_cast<const unsigned char*>(data), size, kUpperDigits);
    return result;
}

void Encode16(std::string& bytes) {
    std::string text;
    text.reserve(bytes.size() * 2);
    AppendHex(text, reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size(),
              kUpperDigits);
    bytes.swap(text);
}

std::string bin2hex(const char* data, unsigned int size) {
    std::string text;
    if (!data)
        return text;
    text.reserve(size_t(size) * 2);
    AppendHex(text, reinterpret_cast<const unsigned char*>(data), size, kLowerDigits);
    return text;
}

std::string bin2hex(const std::string& bytes) {
    std::string text;
    text.reserve(bytes.size() * 2);
    AppendHex(text, reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size(),
              kLowerDigits);
    return text;
}

int StringToByte(const CLuStringW& text, unsigned char* bytes, int size) {
    CLuStringA digits;
    WCharToMByte(text, digits);
    digits.MakeUpper();
    digits.Trim();
    if (static_cast<long long>(digits.GetLength()) != 2LL * size)
        return 0;
    int high = 0;
    for (int i = 0, written = 0; written < size; ++i) {
        const int value = HexValue(digits[i]);
        if (value < 0)
            return 0;  // bytes already stored stay stored
        if (i % 2 == 0)
            high = value;
        else
            bytes[written++] = static_cast<unsigned char>(high * 16 + value);
    }
    return 1;
}

std::string hex2bin(const char* text) {
    std::string bytes;
    if (!text || std::strcmp(text, "NULL") == 0)
        return bytes;
    const size_t length = std::strlen(text);
    bytes.reserve(length / 2 + 1);
    for (size_t position = 0; position < length; position += 2) {
        // A pair without a readable digit still gives one byte: 0.
        unsigned int value = 0;
        if (std::sscanf(text + position, "%2x", &value) != 1)
            value = 0;
        bytes += static_cast<char>(value & 0xFF);
    }
    return bytes;
}

// A formatting error (an invalid conversion, a text beyond INT_MAX) gives the
// empty string.
std::string format(const char* format, ...) {
    if (!format || !*format)
        return std::string();
    std::vector<char> buffer(2048, '\0');
    va_list args;
    va_start(args, format);
    va_list again;
    va_copy(again, args);
    int needed = std::vsnprintf(buffer.data(), buffer.size(), format, args);
    va_end(args);
    while (needed >= 0 && size_t(needed) >= buffer.size()) {
        buffer.assign(size_t(needed) + 1, '\0');
        va_list pass;
        va_copy(pass, again);
        needed = std::vsnprintf(buffer.data(), buffer.size(), format, pass);
        va_end(pass);
    }
    va_end(again);
    if (needed < 0)
        return std::string();
    return std::string(buffer.data(), size_t(needed));
}

CLuStringW IPToString(unsigned int address) {
    in_addr value;
    std::memset(&value, 0, sizeof value);
    value.s_addr = address;
    char text[20] = {};
    if (const char* dotted = inet_ntoa(value))
        std::strncpy(text, dotted, sizeof text - 1);
    return Utf8ToWS(CLuStringA(text));
}

}  // namespace DiskUtil
}  // namespace VidOzir

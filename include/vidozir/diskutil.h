// VidOzir::DiskUtil: text conversions, numbers and hexadecimal text, and
// splitting of strings and paths.
#pragma once

#include <string>
#include <vector>

#include "vidozir/export.h"
#include "vidozir/diskutil_system.h"
#include "vidozir/lustring.h"

namespace VidOzir {
namespace DiskUtil {

// Encodings. Each reads its source up to the first null character and
// replaces the destination as a whole. ANSI is the process's narrow code
// page; the others are UTF-8.
VIDOZIR_API CLuStringA AnsiFromUnicode(const CLuStringW& text);
VIDOZIR_API CLuStringW AnsiToUnicode(const CLuStringA& text);
VIDOZIR_API void WCharToMByte(const CLuStringW& source, CLuStringA& destination);
VIDOZIR_API void MByteToWChar(const CLuStringA& source, CLuStringW& destination);
VIDOZIR_API CLuStringA Utf8FromWS(const CLuStringW& text);
VIDOZIR_API CLuStringW Utf8ToWS(const CLuStringA& text);

// Numbers to decimal text.
VIDOZIR_API CLuStringA IntToStringA(int value);
VIDOZIR_API CLuStringW DWordToStringW(unsigned long value);
VIDOZIR_API CLuStringW Int64ToStringW(long long value);  // printed as unsigned: -1 is 2^64-1

// Decimal text to numbers (optional sign, digits up to the first other
// character; no hexadecimal prefix).
VIDOZIR_API int StringToInt(const CLuStringW& text);
VIDOZIR_API int StringToIntW(const CLuStringW& text);  // the same function
VIDOZIR_API int StringToIntA(const CLuStringA& text);
VIDOZIR_API int StringToDWordW(const CLuStringW& text, unsigned long& value);  // always 1
VIDOZIR_API int StringToInt64A(const CLuStringA& text, long long& value);
VIDOZIR_API int StringToInt64W(const CLuStringW& text, long long& value);

// Bytes and hexadecimal text: lower case for ByteToString and bin2hex, upper
// case for Encode16; two digits per byte, high nibble first.
VIDOZIR_API CLuStringW ByteToString(const unsigned char* data, int count);
VIDOZIR_API int ByteToString(const unsigned char* data, int count, CLuStringW& text);
VIDOZIR_API CLuStringW Encode16(const void* data, unsigned int size);
VIDOZIR_API void Encode16(std::string& bytes);  // in place
VIDOZIR_API std::string bin2hex(const char* data, unsigned int size);
VIDOZIR_API std::string bin2hex(const std::string& bytes);
// Exactly 2 x size digits (either case, blanks around them ignored) into
// `size` bytes: 1, or 0 for a wrong length or a character that is no digit.
VIDOZIR_API int StringToByte(const CLuStringW& text, unsigned char* bytes, int size);
// Pairs of digits to bytes; "NULL" and the empty text give the empty result.
VIDOZIR_API std::string hex2bin(const char* text);

// printf-style formatting into a narrow string of any length.
VIDOZIR_API std::string format(const char* format, ...);
// Dotted text of an IPv4 address in network byte order.
VIDOZIR_API CLuStringW IPToString(unsigned int address);

// Splitting. The Split family trims spaces from every piece, drops empty
// pieces, appends to `pieces` and returns how many it appended (the wide
// overload clears `pieces` first). An empty separator leaves the text whole.
VIDOZIR_API int Split(std::string text, std::string separator, std::vector<std::string>& pieces);
VIDOZIR_API int Split(const CLuStringW& text, const CLuStringW& separator,
                      std::vector<CLuStringW>& pieces);
VIDOZIR_API int Split(std::string text, std::string separator, std::vector<int>& numbers);
VIDOZIR_API int Split(std::string text, std::string separator, std::vector<unsigned int>& numbers);
// Keeps empty pieces; clears `pieces` for an empty text or separator.
VIDOZIR_API void SplitString(const CLuStringW& text, const CLuStringW& separator,
                             std::vector<CLuStringW>& pieces);
// Keeps empty pieces except after a final separator; the search goes on one
// character after each match, so longer separators leave their tail in the
// next piece.
VIDOZIR_API void SplitPath(const CLuStringW& text, std::vector<CLuStringW>& pieces,
                           const wchar_t* separator);

}  // namespace DiskUtil
}  // namespace VidOzir

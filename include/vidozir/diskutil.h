// VidOzir::DiskUtil: text conversions, numbers and hexadecimal text,
// splitting of strings and paths, paths and file names, application folders.
#pragma once

#include <string>
#include <vector>

#include "vidozir/export.h"
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

// Paths and file names. Backslash is the separator; GetFileName,
// GetFilePathAndNameWithoutSlash and ResizeFormatFileName also split at "/".
// Results are nonzero for yes.
VIDOZIR_API void GetFileName(const CLuStringW& path, CLuStringW& name);
VIDOZIR_API void GetFileNameWithoutSlash(const CLuStringW& path, CLuStringW& name);  // the same
VIDOZIR_API void GetFilePath(const CLuStringW& path, CLuStringW& dir);
VIDOZIR_API void GetFilePathAndNameWithoutSlash(const CLuStringW& path, CLuStringW& dir,
                                                CLuStringW& name);
VIDOZIR_API CLuStringW GetFileExt(CLuStringW path);
VIDOZIR_API CLuStringW GetParentDir(const CLuStringW& path);  // ends at the first null
VIDOZIR_API int GetPathLevel(const CLuStringW& path, const wchar_t* sep);
VIDOZIR_API void CombinePath(const wchar_t* dir, const wchar_t* file, CLuStringW& out);
// Shortens `path` in place to `maxLen` characters for display.
VIDOZIR_API void ResizeFormatFileName(CLuStringW& path, int maxLen);
VIDOZIR_API int IsChildPath(const CLuStringW& parent, const CLuStringW& child);
VIDOZIR_API int IsChild_or_SamePath(const CLuStringW& parent, const CLuStringW& child);
VIDOZIR_API int IsDeviceFileName(const CLuStringW& name);
VIDOZIR_API int IsFileNameCharValid(const CLuStringW& name);
// `maxLen` > 0 also limits the trimmed length as IsFileNameTooLong does;
// 0 or less sets no limit.
VIDOZIR_API int IsFileNameLengthValid(const CLuStringW& name, int maxLen);
VIDOZIR_API int IsFileNameTooLong(const CLuStringW& name, int maxLen);
VIDOZIR_API int IsFileNameValid(const CLuStringW& name, int maxLen);
// Directories and existence.
VIDOZIR_API int CreateAllDirectory(const CLuStringW& path);
VIDOZIR_API bool CreateDir(const std::string& path);   // narrow path; its root must exist
VIDOZIR_API int CheckDirectoryExist(CLuStringW path);  // wildcards are matched
VIDOZIR_API int IsFileExist(const CLuStringW& path, int* isFolder);
VIDOZIR_API int IsFileExist2(const CLuStringW& path);  // access denied counts as existing
VIDOZIR_API int IsFolder(const CLuStringW& path);

// Application folders; the folder of a module has no trailing backslash.
VIDOZIR_API CLuStringW GetAppdataPath();      // ends with one backslash
VIDOZIR_API CLuStringW GetUserAppDataPath();  // its Corvane\CirrelSync subfolder, same ending
VIDOZIR_API CLuStringW GetModulePath(int ofExecutable);  // else this library's folder
VIDOZIR_API CLuStringW GetExeDir();
VIDOZIR_API std::string GetTempPathW();  // narrow, with the trailing backslash

}  // namespace DiskUtil
}  // namespace VidOzir

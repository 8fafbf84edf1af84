// Whole text files of CXmlDoc: reading a file into UTF-16 text and writing it
// back, with byte order marks, null removal, byte swapping and code-page
// conversion, each step reported as a result record.
#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <memory>

#include "foundation/wide_units.h"
#include "markup/xml_internal.h"
#include "platform/win32.h"
#include "vidozir/xmldoc.h"

namespace {

using vidozir::xml::kStreamFlags;
constexpr int kFileModeFlags = kStreamFlags | CXmlDoc::DocFlagAppendFile;
constexpr int kMarkFlags =
    CXmlDoc::DocFlagUtf8Preamble | CXmlDoc::DocFlagUtf16LeFile | CXmlDoc::DocFlagUtf16BeFile;

// Byte order marks, in the order they are compared and chosen.
struct ByteOrderMark {
    const char* pBytes;
    int nBytes;
    const wchar_t* szEncoding;
    int nDocFlag;
    int nUnitSize;
};
const ByteOrderMark kMarks[] = {
    {"\xEF\xBB\xBF", 3, L"UTF-8", CXmlDoc::DocFlagUtf8Preamble, 1},
    {"\xFF\xFE", 2, L"UTF-16LE", CXmlDoc::DocFlagUtf16LeFile, 2},
    {"\xFE\xFF", 2, L"UTF-16BE", CXmlDoc::DocFlagUtf16BeFile, 2},
};

constexpr int kCodePageUtf8 = 65001;
constexpr int kCodePageUtf32 = 65005;

// The code pages that take no default-character report: asking it of them
// fails the whole conversion on Windows. (The Linux code-page layer keeps the
// same list to behave as Windows does; the two cannot share it, the layer
// sits below the library.)
bool TakesLossReport(int nCodePage) {
    static const int kNoReport[][2] = {{65000, 65001}, {50220, 50222}, {50225, 50225},
                                       {50227, 50227}, {50229, 50229}, {52936, 52936},
                                       {54936, 54936}, {57002, 57011}};
    for (const auto& range : kNoReport) {
        if (nCodePage >= range[0] && nCodePage <= range[1]) {
            return false;
        }
    }
    return true;
}

int CodePageOf(const CLuStringW& strEncoding) {
    const int nCodePage = CXmlDoc::GetEncodingCodePage(strEncoding);
    return nCodePage < 0 ? 0 : nCodePage;
}

// The code and message of the failure of the last file call: on Windows the
// system error the C runtime's file calls leave behind, elsewhere errno and
// the C library's text for it. The message ends before its first line break.
int LastFileError(CLuStringW& strMsg) {
    strMsg.Empty();
#if defined(_WIN32)
    const DWORD nError = GetLastError();
    wchar_t szMsg[100];
    const DWORD nLength = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                         nullptr, nError, 0, szMsg, 100, nullptr);
    strMsg = CLuStringW(szMsg, static_cast<int>(nLength));
#else
    const int nError = errno;
    char szBuffer[256];
    const char* szText = strerror_r(nError, szBuffer, sizeof(szBuffer));
    const int nSize = MultiByteToWideChar(CP_ACP, 0, szText, -1, nullptr, 0);
    if (nSize > 1) {
        wchar_t* pText = strMsg.GetBuffer(nSize);
        MultiByteToWideChar(CP_ACP, 0, szText, -1, pText, nSize);
        strMsg.ReleaseBuffer(nSize - 1 < 100 ? nSize - 1 : 99);
    }
#endif
    const int nBreak = strMsg.FindOneOf(L"\r\n");
    if (nBreak >= 0) {
        strMsg = strMsg.Left(nBreak);
    }
    return static_cast<int>(nError);
}

// Decodes well-formed UTF-8 straight into strText in one pass (the
// platform's conversion gives exactly these units for it). False, with
// strText empty, when the bytes are not well-formed from nDecoded on.
bool DecodeUtf8Text(const char* pBytes, int nBytes, CLuStringW& strText, int& nDecoded) {
    nDecoded = 0;
    if (nBytes == 0) {
        return true;
    }
    int nUnits = 0;
    nDecoded =
        vidozir::xml::DecodeWellFormedUtf8(pBytes, nBytes, strText.GetBuffer(nBytes), nUnits);
    if (nDecoded < nBytes) {
        strText.ReleaseBuffer(0);
        return false;
    }
    vidozir::xml::EndDecodedText(strText, nUnits, nBytes);
    return true;
}

// The bytes at the end of p[0, nBytes) that start a UTF-8 sequence the end
// cuts off (0 when none does).
int CutSequence(const char* p, int nBytes) {
    for (int n = 1; n <= 3 && n <= nBytes; ++n) {
        const unsigned nByte = static_cast<unsigned char>(p[nBytes - n]);
        if (nByte < 0x80) {
            return 0;
        }
        if (nByte >= 0xC0) {
            const int nLength = nByte >= 0xF0 ? 4 : nByte >= 0xE0 ? 3 : 2;
            return nLength > n ? n : 0;
        }
    }
    return 0;
}

}  // namespace

CLuStringW vidozir::xml::Utf8Text(const char* pBytes, int nBytes) {
    std::unique_ptr<unsigned short[]> pUnits(new unsigned short[nBytes + 1]);
    const int nUnits = CXmlDoc::UTF8To16(nullptr, pBytes, nBytes);
    CXmlDoc::UTF8To16(pUnits.get(), pBytes, nBytes);
    return vidozir::detail::WidenUnits(pUnits.get(), nUnits);
}

void vidozir::xml::EndDecodedText(CLuStringW& strText, int nUnits, int nRoom) {
    strText.ReleaseBuffer(nUnits);
    if (nUnits < nRoom - nRoom / 4) {
        strText = CLuStringW(strText.GetString(), nUnits);
    }
}

// A conversion between UTF-16 and a file's encoding. Each direction is called
// twice: once without a buffer for the size, then into a buffer of that size.
struct CXmlDoc::TextConversion {
    TextConversion(const CLuStringW& strTo, const CLuStringW& strFrom, const void* pFrom,
                   int nFromLen)
        : strToEncoding(strTo),
          strFromEncoding(strFrom),
          pFrom(pFrom),
          nFromLen(nFromLen),
          nToCount(0),
          nFailedChars(0) {}

    // Bytes in the source encoding to UTF-16; returns the units (written when
    // pTo is given, at most nToCount of them).
    int ToUtf16(wchar_t* pTo) {
        const int nCodePage = SourceCodePage(strFromEncoding);
        if (nFromLen <= 0) {
            return 0;
        }
        return MultiByteToWideChar(static_cast<UINT>(nCodePage), 0, static_cast<const char*>(pFrom),
                                   nFromLen, pTo, pTo ? nToCount : 0);
    }

    // The code page text of this encoding is read with. A file that names a
    // UTF-16 or 32-bit form (and had no mark) reaches here with its nulls
    // removed, so what remains can only be 8-bit text, the form in which its
    // declaration was read: it is read as UTF-8, within the bytes read.
    // (Windows's code-page calls refuse these forms, which would give an
    // empty document.)
    static int SourceCodePage(const CLuStringW& strEncoding) {
        const int nCodePage = CodePageOf(strEncoding);
        return UnicodeForm(nCodePage).nUnitBytes ? kCodePageUtf8 : nCodePage;
    }

    // UTF-16 units to the target encoding; returns the bytes (written when
    // pTo is given). Sets nFailedChars when the platform reports characters
    // without an equivalent.
    int FromUtf16(char* pTo) {
        const int nCodePage = CodePageOf(strToEncoding);
        const wchar_t* pUnits = static_cast<const wchar_t*>(pFrom);
        if (nFromLen <= 0) {
            return 0;
        }
        if (UnicodeForm(nCodePage).nUnitBytes) {
            return ToUnicodeForm(UnicodeForm(nCodePage), pUnits, pTo);
        }
        BOOL bUsedDefault = FALSE;
        const int nBytes = WideCharToMultiByte(
            static_cast<UINT>(nCodePage), 0, pUnits, nFromLen, pTo, pTo ? nToCount : 0, nullptr,
            TakesLossReport(nCodePage) ? &bUsedDefault : nullptr);
        if (bUsedDefault) {
            nFailedChars = 1;
        }
        return nBytes;
    }

    // The Unicode forms a text names without a mark: 65005 is the 32-bit
    // code of this class (little-endian, as the platform's own order);
    // 1200/1201 and 12000/12001 are UTF-16 and UTF-32 in either order, which
    // Windows's code-page calls refuse (they are kept for managed code), so
    // that the file would be written empty: they are written here directly.
    struct Form {
        int nUnitBytes;  // 0: not a Unicode form
        bool bBigEndian;
    };
    static Form UnicodeForm(int nCodePage) {
        switch (nCodePage) {
            case 1200:
                return {2, false};
            case 1201:
                return {2, true};
            case 12000:
            case kCodePageUtf32:
                return {4, false};
            case 12001:
                return {4, true};
            default:
                return {0, false};
        }
    }

    // UTF-16 units as they are, or as code points ("?" for a surrogate that
    // ends the text).
    int ToUnicodeForm(Form form, const wchar_t* pUnits, char* pTo) const {
        std::unique_ptr<unsigned short[]> pShort(new unsigned short[nFromLen + 1]);
        for (int n = 0; n < nFromLen; ++n) {
            pShort[n] = static_cast<unsigned short>(pUnits[n]);
        }
        pShort[nFromLen] = 0;
        const unsigned short* p = pShort.get();
        const unsigned short* const pEnd = p + nFromLen;
        int nBytes = 0;
        while (p < pEnd) {
            int nChar = form.nUnitBytes == 2 ? *p++ : DecodeCharUTF16(p, pEnd);
            if (nChar == -1) {
                nChar = '?';
            }
            if (pTo) {
                for (int n = 0; n < form.nUnitBytes; ++n) {
                    const int nShift = 8 * (form.bBigEndian ? form.nUnitBytes - 1 - n : n);
                    pTo[nBytes + n] =
                        static_cast<char>((static_cast<unsigned>(nChar) >> nShift) & 0xFF);
                }
            }
            nBytes += form.nUnitBytes;
        }
        return nBytes;
    }

    CLuStringW strToEncoding;
    CLuStringW strFromEncoding;
    const void* pFrom;
    int nFromLen;  // bytes for 8-bit encodings, units for UTF-16
    int nToCount;
    int nFailedChars;
};

// The state of one call of ReadTextFile or WriteTextFile.
struct CXmlDoc::TextFile {
    explicit TextFile(int nFlags)
        : fp(nullptr),
          nDocFlags(nFlags),
          nOpFileByteLen(0),
          nFileByteLen(0),
          nFileByteOffset(0),
          nFileCharUnitSize(1),
          nOpFileTextLen(0) {}
    ~TextFile() {
        if (fp) {
            std::fclose(fp);
        }
    }

    void FileErrorAddResult() {
        CLuStringW strMsg;
        const int nError = LastFileError(strMsg);
        x_AppendResult(strIOResult, L"file_error", strMsg, ResultMsg | ResultNumber, nError);
    }

    // Opens the file for reading (flag 16) or writing, finds or writes the
    // byte order mark.
    bool FileOpen(const wchar_t* szFileName);
    bool FileReadText(CLuStringW& strDoc);
    int FileReadUtf8(CLuStringW& strDoc);
    bool FileWriteText(const CLuStringW& strDoc);
    bool FileClose();
    bool FileWrite(const void* pBuffer, int nBytes);

    // Sets the caller's encoding, or the file's encoding from the caller's.
    void OverrideEncoding(CLuStringW* pstrEncoding) {
        if (!pstrEncoding || *pstrEncoding == strEncoding) {
            return;
        }
        if (nFileCharUnitSize == 1 && !pstrEncoding->IsEmpty()) {
            strEncoding = *pstrEncoding;
        } else {
            *pstrEncoding = strEncoding;
        }
    }

    // Hands the records so far to the caller and starts collecting afresh.
    void HandOverResult(CLuStringW* pstrResult) {
        if (pstrResult) {
            *pstrResult = strIOResult;
        }
        strIOResult.Empty();
    }

    // Closes the file, clears the mode flags and hands the step's records and
    // the final flags to the caller; false when closing failed.
    bool Finish(CLuStringW* pstrResult, int* pnDocFlags) {
        const bool bClosed = FileClose();
        nDocFlags &= ~kFileModeFlags;
        if (pstrResult) {
            *pstrResult += strIOResult;
        }
        if (pnDocFlags) {
            *pnDocFlags = nDocFlags;
        }
        return bClosed;
    }

    FILE* fp;
    int nDocFlags;
    int nOpFileByteLen;
    int nFileByteLen;
    int nFileByteOffset;
    int nFileCharUnitSize;
    int nOpFileTextLen;
    CLuStringW strIOResult;
    CLuStringW strEncoding;
};

bool CXmlDoc::TextFile::FileOpen(const wchar_t* szFileName) {
    const bool bRead = (nDocFlags & DocFlagReadFile) != 0;
    fp = szFileName ? _wfopen(szFileName, bRead ? L"rb" : L"wb") : nullptr;
    if (!fp) {
        if (!szFileName) {
            errno = EINVAL;
        }
        FileErrorAddResult();
        return false;
    }
    if (!bRead) {
        for (const ByteOrderMark& mark : kMarks) {
            if (nDocFlags & mark.nDocFlag) {
                if (!FileWrite(mark.pBytes, mark.nBytes)) {
                    return false;
                }
                strEncoding = mark.szEncoding;
                nFileCharUnitSize = mark.nUnitSize;
                x_AppendResult(strIOResult, L"bom", nullptr, 0);
                break;
            }
        }
        return true;
    }

    // The byte length; a text must fit an int of UTF-16 units.
    long nLength = -1;
    if (std::fseek(fp, 0, SEEK_END) == 0) {
        nLength = std::ftell(fp);
    }
    if (nLength > INT_MAX / 2) {
        errno = EFBIG;
#if defined(_WIN32)
        SetLastError(ERROR_FILE_TOO_LARGE);
#endif
        nLength = -1;
    }
    if (nLength < 0 || std::fseek(fp, 0, SEEK_SET) != 0) {
        FileErrorAddResult();
        return false;
    }
    nFileByteLen = static_cast<int>(nLength);
    char szHead[1024];
    const int nHead = static_cast<int>(
        std::fread(szHead, 1, nFileByteLen < 1024 ? static_cast<size_t>(nFileByteLen) : 1024, fp));
    if (nHead < (nFileByteLen < 1024 ? nFileByteLen : 1024) && std::ferror(fp)) {
        FileErrorAddResult();
        return false;
    }
    nDocFlags &= ~kMarkFlags;
    for (const ByteOrderMark& mark : kMarks) {
        if (nHead >= mark.nBytes && std::memcmp(szHead, mark.pBytes, mark.nBytes) == 0) {
            nDocFlags |= mark.nDocFlag;
            strEncoding = mark.szEncoding;
            nFileCharUnitSize = mark.nUnitSize;
            nFileByteOffset = mark.nBytes;
            x_AppendResult(strIOResult, L"bom", nullptr, 0);
            break;
        }
    }
    if (nFileByteOffset == 0 && nHead > 0) {
        strEncoding = GetDeclaredEncoding(vidozir::xml::Utf8Text(szHead, nHead));
        if (strEncoding.IsEmpty() && szHead[0] == '<') {
            strEncoding = L"UTF-8";
        }
    }
    if (std::fseek(fp, nFileByteOffset, SEEK_SET) != 0) {
        FileErrorAddResult();
        return false;
    }
    return true;
}

// Reads the rest of the file a piece at a time, each piece decoded straight
// into strDoc while the text is well-formed UTF-8 without nulls: no buffer
// of the whole file, and each piece is decoded while it is in the cache.
// Returns 1 when the whole text was; 0 when it is not, with the file back
// where reading started and strDoc empty; -1 after a read error (reported).
int CXmlDoc::TextFile::FileReadUtf8(CLuStringW& strDoc) {
    constexpr int kPiece = 64 * 1024;
    std::unique_ptr<char[]> pPiece(new char[kPiece]);
    wchar_t* const pText = strDoc.GetBuffer(nOpFileByteLen);
    int nRead = 0;
    int nUnits = 0;
    int nKept = 0;  // the start of a sequence that the last piece cut off
    for (;;) {
        const int nWant = std::min(kPiece - nKept, nOpFileByteLen - nRead);
        const int nGot =
            static_cast<int>(std::fread(pPiece.get() + nKept, 1, static_cast<size_t>(nWant), fp));
        if (nGot < nWant && std::ferror(fp)) {
            strDoc.ReleaseBuffer(0);
            FileErrorAddResult();
            return -1;
        }
        nRead += nGot;
        // A file that shrank since its length was taken gives what it has.
        const bool bLast = nGot < nWant || nRead == nOpFileByteLen;
        const int nBytes = nKept + nGot;
        const int nWhole = bLast ? nBytes : nBytes - CutSequence(pPiece.get(), nBytes);
        int nPieceUnits = 0;
        if (vidozir::xml::DecodeWellFormedUtf8(pPiece.get(), nWhole, pText + nUnits, nPieceUnits) <
            nWhole) {
            strDoc.ReleaseBuffer(0);
            if (std::fseek(fp, nFileByteOffset, SEEK_SET) != 0) {
                FileErrorAddResult();
                return -1;
            }
            return 0;
        }
        nUnits += nPieceUnits;
        if (bLast) {
            break;
        }
        nKept = nBytes - nWhole;
        std::memmove(pPiece.get(), pPiece.get() + nWhole, static_cast<size_t>(nKept));
    }
    nOpFileByteLen = nRead;
    nFileByteOffset += nRead;
    vidozir::xml::EndDecodedText(strDoc, nUnits, nRead);
    return 1;
}

bool CXmlDoc::TextFile::FileReadText(CLuStringW& strDoc) {
    nOpFileByteLen = nFileByteLen - nFileByteOffset;
    const bool bUndeclared = strEncoding.IsEmpty();
    const bool bMaybeUtf8 =
        nFileCharUnitSize == 1 &&
        (bUndeclared || TextConversion::SourceCodePage(strEncoding) == kCodePageUtf8);
    if (bMaybeUtf8) {
        const int nPieces = FileReadUtf8(strDoc);
        if (nPieces < 0) {
            return false;
        }
        if (nPieces > 0) {
            nOpFileTextLen = nOpFileByteLen;
            x_AppendResult(strIOResult, L"read", strEncoding, ResultEncoding | ResultLength,
                           nOpFileTextLen);
            if (bUndeclared) {
                strEncoding = L"UTF-8";
                x_AppendResult(strIOResult, L"read", strEncoding, ResultEncoding | ResultAmend);
                x_AppendResult(strIOResult, L"utf8_detection", nullptr, 0);
            }
            x_AppendResult(strIOResult, L"converted_to", L"UTF-16", ResultEncoding | ResultLength,
                           strDoc.GetLength());
            return true;
        }
    }
    // Any other text is read whole.
    std::unique_ptr<char[]> pData(new char[nOpFileByteLen > 0 ? nOpFileByteLen : 1]);
    const int nRead = static_cast<int>(std::fread(pData.get(), 1, nOpFileByteLen, fp));
    if (nRead < nOpFileByteLen && std::ferror(fp)) {
        FileErrorAddResult();
        return false;
    }
    // A file that shrank since its length was taken gives what it still has.
    nOpFileByteLen = nRead;
    nFileByteOffset += nRead;
    nOpFileTextLen = nOpFileByteLen / nFileCharUnitSize;
    x_AppendResult(strIOResult, L"read", strEncoding, ResultEncoding | ResultLength,
                   nOpFileTextLen);

    if (nFileCharUnitSize == 2) {
        // Nulls out and bytes in order in one pass over the units.
        const bool bSwap = (nDocFlags & DocFlagUtf16BeFile) != 0;
        const unsigned char* p = reinterpret_cast<const unsigned char*>(pData.get());
        wchar_t* pText = strDoc.GetBuffer(nOpFileTextLen);
        int nUnits = 0;
        for (int n = 0; n < nOpFileTextLen; ++n, p += 2) {
            const unsigned nUnit = bSwap ? (p[0] << 8 | p[1]) : (p[0] | p[1] << 8);
            if (nUnit) {
                pText[nUnits++] = static_cast<wchar_t>(nUnit);
            }
        }
        strDoc.ReleaseBuffer(nUnits);
        if (nUnits < nOpFileTextLen) {
            x_AppendResult(strIOResult, L"nulls_removed", nullptr, ResultCount,
                           nOpFileTextLen - nUnits);
        }
        if (bSwap) {
            x_AppendResult(strIOResult, L"endian_swap", nullptr, 0);
        }
        return true;
    }

    // Text that may be UTF-8 is decoded in the same pass that finds out
    // whether it is well-formed and free of nulls; the rest, and any file
    // that turns out not to be, goes through the platform's conversion.
    char* const pBytes = pData.get();
    int nBytes = nOpFileByteLen;
    int nDecoded = 0;
    bool bDecoded = bMaybeUtf8 && DecodeUtf8Text(pBytes, nBytes, strDoc, nDecoded);
    // Decoding stops at a null: there is none before nDecoded.
    char* const pNull =
        bDecoded ? nullptr
                 : static_cast<char*>(std::memchr(pBytes + nDecoded, 0, nBytes - nDecoded));
    if (pNull) {
        char* pOut = pNull;
        for (const char* p = pNull; p < pBytes + nBytes; ++p) {
            if (*p) {
                *pOut++ = *p;
            }
        }
        const int nKept = static_cast<int>(pOut - pBytes);
        x_AppendResult(strIOResult, L"nulls_removed", nullptr, ResultCount, nBytes - nKept);
        nBytes = nKept;
        bDecoded = bMaybeUtf8 && DecodeUtf8Text(pBytes, nBytes, strDoc, nDecoded);
    }
    if (bUndeclared) {
        // The well-formed bytes before nDecoded pass the detection too.
        if (bDecoded || DetectUTF8(pBytes + nDecoded, nBytes - nDecoded, nullptr, nullptr)) {
            strEncoding = L"UTF-8";
            x_AppendResult(strIOResult, L"read", strEncoding, ResultEncoding | ResultAmend);
        }
        x_AppendResult(strIOResult, L"utf8_detection", nullptr, 0);
    }
    if (!bDecoded) {
        TextConversion conversion(L"UTF-16", strEncoding, pBytes, nBytes);
        conversion.nToCount = conversion.ToUtf16(nullptr);
        if (conversion.nToCount > 0) {
            strDoc.ReleaseBuffer(conversion.ToUtf16(strDoc.GetBuffer(conversion.nToCount)));
        }
    }
    x_AppendResult(strIOResult, L"converted_to", L"UTF-16", ResultEncoding | ResultLength,
                   strDoc.GetLength());
    return true;
}

bool CXmlDoc::TextFile::FileWrite(const void* pBuffer, int nBytes) {
    if (nBytes > 0 &&
        std::fwrite(pBuffer, 1, static_cast<size_t>(nBytes), fp) != static_cast<size_t>(nBytes)) {
        FileErrorAddResult();
        return false;
    }
    nFileByteOffset += nBytes;
    return true;
}

bool CXmlDoc::TextFile::FileWriteText(const CLuStringW& strDoc) {
    const int nLength = strDoc.GetLength();
    nOpFileTextLen = 0;
    if (nLength == 0) {
        x_AppendResult(strIOResult, L"write", strEncoding, ResultEncoding | ResultLength, 0);
        return true;
    }
    const wchar_t* const pText = strDoc.GetString();
    std::unique_ptr<char[]> pBytes;
    if (nFileCharUnitSize == 2) {
        const bool bSwap = (nDocFlags & DocFlagUtf16BeFile) != 0;
        nOpFileByteLen = 2 * nLength;
        pBytes.reset(new char[nOpFileByteLen]);
        for (int n = 0; n < nLength; ++n) {
            const unsigned nUnit = static_cast<unsigned>(pText[n]) & 0xFFFF;
            pBytes[2 * n + (bSwap ? 1 : 0)] = static_cast<char>(nUnit & 0xFF);
            pBytes[2 * n + (bSwap ? 0 : 1)] = static_cast<char>(nUnit >> 8);
        }
        if (bSwap) {
            x_AppendResult(strIOResult, L"endian_swap", nullptr, 0);
        }
    } else {
        TextConversion conversion(strEncoding, L"UTF-16", pText, nLength);
        conversion.nToCount = conversion.FromUtf16(nullptr);
        nOpFileByteLen = 0;
        if (conversion.nToCount > 0) {
            pBytes.reset(new char[conversion.nToCount]);
            nOpFileByteLen = conversion.FromUtf16(pBytes.get());
        }
        x_AppendResult(strIOResult, L"converted_from", L"UTF-16", ResultEncoding | ResultLength,
                       nLength);
        if (conversion.nFailedChars) {
            x_AppendResult(strIOResult, L"conversion_loss", nullptr, 0);
        }
    }
    if (!FileWrite(pBytes.get(), nOpFileByteLen)) {
        return false;
    }
    nOpFileTextLen = nOpFileByteLen / nFileCharUnitSize;
    x_AppendResult(strIOResult, L"write", strEncoding, ResultEncoding | ResultLength,
                   nOpFileTextLen);
    return true;
}

bool CXmlDoc::TextFile::FileClose() {
    if (!fp) {
        return true;
    }
    FILE* const fpClose = fp;
    fp = nullptr;
    if (std::fclose(fpClose) != 0) {
        FileErrorAddResult();
        return false;
    }
    return true;
}

bool CXmlDoc::ReadTextFile(XML_CSTR szFileName, CLuStringW& strDoc, CLuStringW* pstrResult,
                           int* pnDocFlags, CLuStringW* pstrEncoding) {
    TextFile file((pnDocFlags ? *pnDocFlags : 0) | DocFlagReadFile);
    const bool bOpened = file.FileOpen(szFileName);
    file.HandOverResult(pstrResult);
    strDoc.Empty();
    if (!bOpened) {
        return false;
    }
    file.OverrideEncoding(pstrEncoding);
    const bool bRead = file.FileReadText(strDoc);
    // A failed close after a complete read loses nothing: it is reported only.
    file.Finish(pstrResult, pnDocFlags);
    return bRead;
}

bool CXmlDoc::WriteTextFile(XML_CSTR szFileName, const CLuStringW& strDoc, CLuStringW* pstrResult,
                            int* pnDocFlags, CLuStringW* pstrEncoding) {
    TextFile file((pnDocFlags ? *pnDocFlags : 0) | DocFlagWriteFile);
    const bool bOpened = file.FileOpen(szFileName);
    file.HandOverResult(pstrResult);
    if (!bOpened) {
        return false;
    }
    if (file.strEncoding.IsEmpty() && !strDoc.IsEmpty()) {
        file.strEncoding = GetDeclaredEncoding(strDoc);
        if (file.strEncoding.IsEmpty()) {
            file.strEncoding = L"UTF-8";
        }
    }
    file.OverrideEncoding(pstrEncoding);
    const bool bWritten = file.FileWriteText(strDoc);
    // Closing flushes what the C runtime still buffers: a failure there means
    // the file on disk is incomplete, so the write fails too.
    const bool bClosed = file.Finish(pstrResult, pnDocFlags);
    return bWritten && bClosed;
}

bool CXmlDoc::Load(XML_CSTR szFileName) {
    if (m_nDocFlags & kStreamFlags) {
        return false;
    }
    if (!ReadTextFile(szFileName, m_strDocText, &m_strResultText, &m_nDocFlags)) {
        // An empty text over a reset index, as for an empty document.
        m_strDocText.Empty();
        x_ParseDoc();
        return false;
    }
    return x_ParseDoc();
}

bool CXmlDoc::Save(XML_CSTR szFileName) {
    if (m_nDocFlags & kStreamFlags) {
        return false;
    }
    return WriteTextFile(szFileName, m_strDocText, &m_strResultText, &m_nDocFlags);
}

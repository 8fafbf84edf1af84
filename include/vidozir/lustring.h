// CLuStringW (UTF-16 code units) and CLuStringA (bytes): the string classes
// every text of the library's interface travels in.
//
// Value semantics: each object owns its buffer outright (no copy-on-write),
// so copies may be handed to other threads freely. `wchar_t` always holds
// UTF-16 code units, also where it is 32 bits wide.
#pragma once

#include <cstdarg>
#include <cstddef>

#include "vidozir/export.h"

class VIDOZIR_API CLuStringW {
public:
    CLuStringW() noexcept;
    CLuStringW(const wchar_t* text);  // null gives an empty string (so does the literal 0)
    CLuStringW(const wchar_t* text, int length);
    CLuStringW(const CLuStringW& other);
    CLuStringW(CLuStringW&& other) noexcept;
    ~CLuStringW();

    CLuStringW& operator=(const CLuStringW& other);
    CLuStringW& operator=(CLuStringW&& other) noexcept;
    CLuStringW& operator=(const wchar_t* text);
    void Empty();

    int GetLength() const { return m_nLength; }
    bool IsEmpty() const { return m_nLength == 0; }
    const wchar_t* GetString() const { return m_pData; }
    operator const wchar_t*() const { return m_pData; }
    wchar_t GetAt(int index) const { return m_pData[index]; }
    wchar_t operator[](int index) const { return m_pData[index]; }

    // Units the buffer holds before it must grow (without the terminator).
    int GetAllocLength() const { return m_nAlloc; }
    wchar_t* GetBuffer(int minLength);
    wchar_t* GetBuffer() { return GetBuffer(m_nLength); }
    void ReleaseBuffer(int newLength = -1);
    void Preallocate(int length);

    CLuStringW Mid(int first) const;
    CLuStringW Mid(int first, int count) const;
    CLuStringW Left(int count) const;
    CLuStringW Right(int count) const;

    int Find(const wchar_t* text, int start = 0) const;
    int Find(wchar_t unit, int start = 0) const;
    int ReverseFind(wchar_t unit) const;
    int FindOneOf(const wchar_t* units) const;

    int Replace(wchar_t from, wchar_t to);
    int Insert(int index, wchar_t unit);
    int Insert(int index, const wchar_t* text);
    int Delete(int index, int count = 1);
    CLuStringW& Trim();
    CLuStringW& MakeLower();
    CLuStringW& MakeUpper();

    int Compare(const wchar_t* text) const;
    int Compare(const CLuStringW& text) const;
    int CompareNoCase(const wchar_t* text) const;

    // printf-style; `%s` takes wide text (UTF-16), `%S` narrow text.
    void Format(const wchar_t* format, ...);
    void AppendFormat(const wchar_t* format, ...);
    void FormatV(const wchar_t* format, va_list args);
    void AppendFormatV(const wchar_t* format, va_list args);

    void Append(const wchar_t* text);
    void Append(const wchar_t* text, int count);
    void Append(const CLuStringW& text);
    void AppendChar(wchar_t unit);
    CLuStringW& operator+=(const CLuStringW& text);
    CLuStringW& operator+=(const wchar_t* text);
    CLuStringW& operator+=(wchar_t unit);

    friend bool operator==(const CLuStringW& a, const CLuStringW& b) { return a.Compare(b) == 0; }
    friend bool operator==(const CLuStringW& a, const wchar_t* b) { return a.Compare(b) == 0; }
    friend bool operator==(const wchar_t* a, const CLuStringW& b) { return b.Compare(a) == 0; }
    friend bool operator==(const CLuStringW& a, wchar_t b) {
        return a.m_nLength == 1 && a.m_pData[0] == b;
    }
    friend bool operator==(wchar_t a, const CLuStringW& b) { return b == a; }
    friend bool operator!=(const CLuStringW& a, const CLuStringW& b) { return !(a == b); }
    friend bool operator!=(const CLuStringW& a, const wchar_t* b) { return !(a == b); }
    friend bool operator!=(const wchar_t* a, const CLuStringW& b) { return !(b == a); }
    friend bool operator!=(const CLuStringW& a, wchar_t b) { return !(a == b); }
    friend bool operator!=(wchar_t a, const CLuStringW& b) { return !(b == a); }
    // Ordering by code unit, for use as a key of ordered containers.
    friend bool operator<(const CLuStringW& a, const CLuStringW& b) { return a.Compare(b) < 0; }

private:
    wchar_t* m_pData;  // never null; the shared empty text while m_nAlloc is 0
    int m_nLength;
    int m_nAlloc;
};

VIDOZIR_API CLuStringW operator+(const CLuStringW& a, const CLuStringW& b);
VIDOZIR_API CLuStringW operator+(const CLuStringW& a, const wchar_t* b);
VIDOZIR_API CLuStringW operator+(const wchar_t* a, const CLuStringW& b);
VIDOZIR_API CLuStringW operator+(const CLuStringW& a, wchar_t b);
VIDOZIR_API CLuStringW operator+(wchar_t a, const CLuStringW& b);

class VIDOZIR_API CLuStringA {
public:
    CLuStringA() noexcept;
    CLuStringA(const char* text);  // null gives an empty string
    CLuStringA(const char* text, int length);
    CLuStringA(const CLuStringA& other);
    CLuStringA(CLuStringA&& other) noexcept;
    ~CLuStringA();

    CLuStringA& operator=(const CLuStringA& other);
    CLuStringA& operator=(CLuStringA&& other) noexcept;
    CLuStringA& operator=(const char* text);
    void Empty();

    int GetLength() const { return m_nLength; }
    bool IsEmpty() const { return m_nLength == 0; }
    const char* GetString() const { return m_pData; }
    operator const char*() const { return m_pData; }
    char GetAt(int index) const { return m_pData[index]; }
    char operator[](int index) const { return m_pData[index]; }

    int GetAllocLength() const { return m_nAlloc; }
    char* GetBuffer(int minLength);
    void ReleaseBuffer(int newLength = -1);

    CLuStringA& Trim();
    CLuStringA& MakeUpper();  // ASCII letters only, independent of the locale
    int Compare(const char* text) const;

    // printf-style; `%s` takes narrow text.
    void Format(const char* format, ...);
    void FormatV(const char* format, va_list args);

    void Append(const char* text, int count);
    CLuStringA& operator+=(const char* text);
    CLuStringA& operator+=(char unit);

    friend bool operator==(const CLuStringA& a, const char* b) { return a.Compare(b) == 0; }
    friend bool operator!=(const CLuStringA& a, const char* b) { return a.Compare(b) != 0; }

private:
    char* m_pData;
    int m_nLength;
    int m_nAlloc;
};

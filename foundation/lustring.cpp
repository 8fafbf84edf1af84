// CLuStringW and CLuStringA share one implementation: each class keeps the
// same three members, and the templates below work on them.
#include "vidozir/lustring.h"

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>

#include "foundation/format.h"

namespace {

template <class Ch>
struct EmptyText {
    static Ch unit;  // the shared terminator of every unallocated string; never written
};
template <class Ch>
Ch EmptyText<Ch>::unit = 0;

template <class Ch>
int TextLength(const Ch* text) {
    if (text == nullptr) {
        return 0;
    }
    const Ch* p = text;
    while (*p != 0) {
        ++p;
    }
    return static_cast<int>(p - text);
}

// The three members of a string, seen through references.
template <class Ch>
struct Rep {
    Ch*& data;
    int& length;
    int& alloc;

    void Free() {
        if (alloc != 0) {
            std::free(data);
        }
        data = &EmptyText<Ch>::unit;
        length = 0;
        alloc = 0;
    }

    // Makes room for `needed` units plus the terminator, keeping the content.
    void Reserve(int needed) {
        if (needed <= alloc) {
            return;
        }
        if (needed < 0 || needed == INT_MAX) {
            throw std::bad_alloc();
        }
        // Grow by half again, so repeated appends stay linear.
        long long grown = static_cast<long long>(alloc) + alloc / 2;
        int capacity =
            static_cast<int>(std::min<long long>(INT_MAX - 1, std::max<long long>(needed, grown)));
        capacity = std::max(capacity, 7);
        // Through realloc: a large text that grows (a document being built)
        // is often extended where it lies instead of copied.
        const size_t bytes = (static_cast<size_t>(capacity) + 1) * sizeof(Ch);
        Ch* fresh = static_cast<Ch*>(alloc != 0 ? std::realloc(data, bytes) : std::malloc(bytes));
        if (fresh == nullptr) {
            throw std::bad_alloc();
        }
        fresh[length] = 0;
        data = fresh;
        alloc = capacity;
    }

    void SetLength(int n) {
        length = n;
        if (alloc != 0) {
            data[n] = 0;
        }
    }

    void Assign(const Ch* text, int n) {
        if (n <= 0 || text == nullptr) {
            SetLength(0);
            return;
        }
        if (text >= data && text < data + length) {
            // Assigning a piece of ourselves.
            std::basic_string<Ch> copy(text, static_cast<size_t>(n));
            Assign(copy.data(), n);
            return;
        }
        Reserve(n);
        std::copy(text, text + n, data);
        SetLength(n);
    }

    void Append(const Ch* text, int n) {
        if (n <= 0 || text == nullptr) {
            return;
        }
        if (text >= data && text < data + length) {
            std::basic_string<Ch> copy(text, static_cast<size_t>(n));
            Append(copy.data(), n);
            return;
        }
        if (n > INT_MAX - 1 - length) {
            throw std::bad_alloc();
        }
        Reserve(length + n);
        std::copy(text, text + n, data + length);
        SetLength(length + n);
    }

    Ch* GetBuffer(int minLength) {
        Reserve(std::max({minLength, length, 1}));
        return data;
    }

    void ReleaseBuffer(int newLength) {
        if (alloc == 0) {
            return;
        }
        if (newLength < 0) {
            newLength = 0;
            while (newLength < alloc && data[newLength] != 0) {
                ++newLength;
            }
        }
        SetLength(std::min(newLength, alloc));
    }
};

template <class Ch>
bool IsSpace(Ch c) {
    auto u = static_cast<unsigned long>(c);
    if (sizeof(Ch) == 1) {
        return u == ' ' || (u >= 0x09 && u <= 0x0D);
    }
    return u == ' ' || (u >= 0x09 && u <= 0x0D) || u == 0x85 || u == 0xA0 || u == 0x1680 ||
           (u >= 0x2000 && u <= 0x200A) || u == 0x2028 || u == 0x2029 || u == 0x202F ||
           u == 0x205F || u == 0x3000;
}

template <class Ch>
void Trim(Rep<Ch> rep) {
    int begin = 0;
    int end = rep.length;
    while (begin < end && IsSpace(rep.data[begin])) {
        ++begin;
    }
    while (end > begin && IsSpace(rep.data[end - 1])) {
        --end;
    }
    if (begin == 0 && end == rep.length) {
        return;
    }
    std::copy(rep.data + begin, rep.data + end, rep.data);
    rep.SetLength(end - begin);
}

// Simple one-to-one case mapping for the scripts that have it: ASCII,
// Latin-1, Latin Extended-A, Greek and Cyrillic. Locale-independent, so every
// platform compares alike.
unsigned ToLowerUnit(unsigned c) {
    if (c < 0x80) {
        return c >= 'A' && c <= 'Z' ? c + 32 : c;
    }
    if ((c >= 0xC0 && c <= 0xDE && c != 0xD7) || (c >= 0x391 && c <= 0x3AB && c != 0x3A2) ||
        (c >= 0x410 && c <= 0x42F)) {
        return c + 32;
    }
    if (c >= 0x400 && c <= 0x40F) {
        return c + 80;
    }
    if (c == 0x178) {  // the one capital of the extended block whose small letter is in Latin-1
        return 0xFF;
    }
    if (c >= 0x100 && c <= 0x17F && c != 0x130 && c != 0x131 && c != 0x138 && c != 0x149 &&
        c != 0x17F) {
        bool evenIsUpper = !((c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17E));
        if ((c % 2 == 0) == evenIsUpper) {
            return c + 1;
        }
    }
    return c;
}

unsigned ToUpperUnit(unsigned c) {
    if (c < 0x80) {
        return c >= 'a' && c <= 'z' ? c - 32 : c;
    }
    if ((c >= 0xE0 && c <= 0xFE && c != 0xF7) || (c >= 0x3B1 && c <= 0x3CB && c != 0x3C2) ||
        (c >= 0x430 && c <= 0x44F)) {
        return c - 32;
    }
    if (c >= 0x450 && c <= 0x45F) {
        return c - 80;
    }
    if (c == 0xFF) {
        return 0x178;
    }
    if (c >= 0x101 && c <= 0x17E && ToLowerUnit(c - 1) == c) {
        return c - 1;
    }
    return c;
}

template <class Ch>
int CompareUnits(const Ch* a, int na, const Ch* b, int nb, bool foldCase) {
    int n = std::min(na, nb);
    for (int i = 0; i < n; ++i) {
        unsigned x = static_cast<unsigned>(a[i]) & (sizeof(Ch) == 1 ? 0xFFu : 0xFFFFu);
        unsigned y = static_cast<unsigned>(b[i]) & (sizeof(Ch) == 1 ? 0xFFu : 0xFFFFu);
        if (foldCase) {
            x = sizeof(Ch) == 1 && x >= 0x80 ? x : ToLowerUnit(x);
            y = sizeof(Ch) == 1 && y >= 0x80 ? y : ToLowerUnit(y);
        }
        if (x != y) {
            return x < y ? -1 : 1;
        }
    }
    return na == nb ? 0 : na < nb ? -1 : 1;
}

template <class Ch>
int FindText(const Ch* data, int length, const Ch* text, int start) {
    int n = TextLength(text);
    if (start < 0 || start > length || n > length - start) {
        return -1;
    }
    if (n == 0) {
        return start;
    }
    const Ch* end = data + length;
    const Ch* hit = std::search(data + start, end, text, text + n);
    return hit == end ? -1 : static_cast<int>(hit - data);
}

}  // namespace

// ---- CLuStringW ----

#define VIDOZIR_REP(Ch) (Rep<Ch>{m_pData, m_nLength, m_nAlloc})

CLuStringW::CLuStringW() noexcept : m_pData(&EmptyText<wchar_t>::unit), m_nLength(0), m_nAlloc(0) {}
CLuStringW::CLuStringW(const wchar_t* text) : CLuStringW() {
    VIDOZIR_REP(wchar_t).Assign(text, TextLength(text));
}
CLuStringW::CLuStringW(const wchar_t* text, int length) : CLuStringW() {
    VIDOZIR_REP(wchar_t).Assign(text, length);
}
CLuStringW::CLuStringW(const CLuStringW& other) : CLuStringW() {
    VIDOZIR_REP(wchar_t).Assign(other.m_pData, other.m_nLength);
}
CLuStringW::CLuStringW(CLuStringW&& other) noexcept
    : m_pData(other.m_pData), m_nLength(other.m_nLength), m_nAlloc(other.m_nAlloc) {
    other.m_pData = &EmptyText<wchar_t>::unit;
    other.m_nLength = 0;
    other.m_nAlloc = 0;
}
CLuStringW::~CLuStringW() {
    VIDOZIR_REP(wchar_t).Free();
}

CLuStringW& CLuStringW::operator=(const CLuStringW& other) {
    if (this != &other) {
        VIDOZIR_REP(wchar_t).Assign(other.m_pData, other.m_nLength);
    }
    return *this;
}
CLuStringW& CLuStringW::operator=(CLuStringW&& other) noexcept {
    if (this != &other) {
        VIDOZIR_REP(wchar_t).Free();
        std::swap(m_pData, other.m_pData);
        std::swap(m_nLength, other.m_nLength);
        std::swap(m_nAlloc, other.m_nAlloc);
    }
    return *this;
}
CLuStringW& CLuStringW::operator=(const wchar_t* text) {
    VIDOZIR_REP(wchar_t).Assign(text, TextLength(text));
    return *this;
}
void CLuStringW::Empty() {
    VIDOZIR_REP(wchar_t).SetLength(0);
}

wchar_t* CLuStringW::GetBuffer(int minLength) {
    return VIDOZIR_REP(wchar_t).GetBuffer(minLength);
}
void CLuStringW::ReleaseBuffer(int newLength) {
    VIDOZIR_REP(wchar_t).ReleaseBuffer(newLength);
}
void CLuStringW::Preallocate(int length) {
    VIDOZIR_REP(wchar_t).Reserve(length);
}

CLuStringW CLuStringW::Mid(int first) const {
    return Mid(first, INT_MAX);
}
CLuStringW CLuStringW::Mid(int first, int count) const {
    first = std::max(first, 0);
    count = std::max(count, 0);
    if (first >= m_nLength) {
        return CLuStringW();
    }
    count = std::min(count, m_nLength - first);
    return CLuStringW(m_pData + first, count);
}
CLuStringW CLuStringW::Left(int count) const {
    return Mid(0, count);
}
CLuStringW CLuStringW::Right(int count) const {
    count = std::min(std::max(count, 0), m_nLength);
    return CLuStringW(m_pData + m_nLength - count, count);
}

int CLuStringW::Find(const wchar_t* text, int start) const {
    return FindText(m_pData, m_nLength, text, start);
}
int CLuStringW::Find(wchar_t unit, int start) const {
    for (int i = std::max(start, 0); i < m_nLength; ++i) {
        if (m_pData[i] == unit) {
            return i;
        }
    }
    return -1;
}
int CLuStringW::ReverseFind(wchar_t unit) const {
    for (int i = m_nLength - 1; i >= 0; --i) {
        if (m_pData[i] == unit) {
            return i;
        }
    }
    return -1;
}
int CLuStringW::FindOneOf(const wchar_t* units) const {
    int n = TextLength(units);
    for (int i = 0; i < m_nLength; ++i) {
        if (std::find(units, units + n, m_pData[i]) != units + n) {
            return i;
        }
    }
    return -1;
}

int CLuStringW::Replace(wchar_t from, wchar_t to) {
    int count = 0;
    for (int i = 0; i < m_nLength; ++i) {
        if (m_pData[i] == from) {
            m_pData[i] = to;
            ++count;
        }
    }
    return count;
}
int CLuStringW::Insert(int index, wchar_t unit) {
    return Insert(index, CLuStringW(&unit, 1));
}
int CLuStringW::Insert(int index, const wchar_t* text) {
    index = std::min(std::max(index, 0), m_nLength);
    CLuStringW tail(m_pData + index, m_nLength - index);
    VIDOZIR_REP(wchar_t).SetLength(index);
    Append(text);
    Append(tail);
    return m_nLength;
}
int CLuStringW::Delete(int index, int count) {
    index = std::max(index, 0);
    if (index < m_nLength && count > 0) {
        count = std::min(count, m_nLength - index);
        std::copy(m_pData + index + count, m_pData + m_nLength, m_pData + index);
        VIDOZIR_REP(wchar_t).SetLength(m_nLength - count);
    }
    return m_nLength;
}
CLuStringW& CLuStringW::Trim() {
    ::Trim(VIDOZIR_REP(wchar_t));
    return *this;
}
CLuStringW& CLuStringW::MakeLower() {
    for (int i = 0; i < m_nLength; ++i) {
        m_pData[i] = static_cast<wchar_t>(ToLowerUnit(static_cast<unsigned>(m_pData[i]) & 0xFFFF));
    }
    return *this;
}
CLuStringW& CLuStringW::MakeUpper() {
    for (int i = 0; i < m_nLength; ++i) {
        m_pData[i] = static_cast<wchar_t>(ToUpperUnit(static_cast<unsigned>(m_pData[i]) & 0xFFFF));
    }
    return *this;
}

int CLuStringW::Compare(const wchar_t* text) const {
    return CompareUnits(m_pData, m_nLength, text, TextLength(text), false);
}
int CLuStringW::Compare(const CLuStringW& text) const {
    // The whole length counts, embedded zeros included.
    return CompareUnits(m_pData, m_nLength, text.m_pData, text.m_nLength, false);
}
int CLuStringW::CompareNoCase(const wchar_t* text) const {
    return CompareUnits(m_pData, m_nLength, text, TextLength(text), true);
}

void CLuStringW::Format(const wchar_t* format, ...) {
    va_list args;
    va_start(args, format);
    FormatV(format, args);
    va_end(args);
}
void CLuStringW::AppendFormat(const wchar_t* format, ...) {
    va_list args;
    va_start(args, format);
    AppendFormatV(format, args);
    va_end(args);
}
void CLuStringW::FormatV(const wchar_t* format, va_list args) {
    Empty();
    AppendFormatV(format, args);
}
void CLuStringW::AppendFormatV(const wchar_t* format, va_list args) {
    if (format == nullptr) {
        return;
    }
    std::u16string out;
    vidozir::detail::FormatAppend(out, format, args);
    VIDOZIR_REP(wchar_t).Reserve(m_nLength + static_cast<int>(out.size()));
    for (char16_t unit : out) {
        m_pData[m_nLength++] = static_cast<wchar_t>(unit);
    }
    VIDOZIR_REP(wchar_t).SetLength(m_nLength);
}

void CLuStringW::Append(const wchar_t* text) {
    VIDOZIR_REP(wchar_t).Append(text, TextLength(text));
}
void CLuStringW::Append(const wchar_t* text, int count) {
    // All `count` units, zeros included, as the counted constructor keeps them.
    VIDOZIR_REP(wchar_t).Append(text, count);
}
void CLuStringW::Append(const CLuStringW& text) {
    VIDOZIR_REP(wchar_t).Append(text.m_pData, text.m_nLength);
}
void CLuStringW::AppendChar(wchar_t unit) {
    VIDOZIR_REP(wchar_t).Append(&unit, 1);
}
CLuStringW& CLuStringW::operator+=(const CLuStringW& text) {
    Append(text);
    return *this;
}
CLuStringW& CLuStringW::operator+=(const wchar_t* text) {
    Append(text);
    return *this;
}
CLuStringW& CLuStringW::operator+=(wchar_t unit) {
    AppendChar(unit);
    return *this;
}

CLuStringW operator+(const CLuStringW& a, const CLuStringW& b) {
    CLuStringW result;
    result.Preallocate(a.GetLength() + b.GetLength());
    result += a;
    result += b;
    return result;
}
CLuStringW operator+(const CLuStringW& a, const wchar_t* b) {
    return a + CLuStringW(b);
}
CLuStringW operator+(const wchar_t* a, const CLuStringW& b) {
    return CLuStringW(a) + b;
}
CLuStringW operator+(const CLuStringW& a, wchar_t b) {
    return a + CLuStringW(&b, 1);
}
CLuStringW operator+(wchar_t a, const CLuStringW& b) {
    return CLuStringW(&a, 1) + b;
}

// ---- CLuStringA ----

CLuStringA::CLuStringA() noexcept : m_pData(&EmptyText<char>::unit), m_nLength(0), m_nAlloc(0) {}
CLuStringA::CLuStringA(const char* text) : CLuStringA() {
    VIDOZIR_REP(char).Assign(text, TextLength(text));
}
CLuStringA::CLuStringA(const char* text, int length) : CLuStringA() {
    VIDOZIR_REP(char).Assign(text, length);
}
CLuStringA::CLuStringA(const CLuStringA& other) : CLuStringA() {
    VIDOZIR_REP(char).Assign(other.m_pData, other.m_nLength);
}
CLuStringA::CLuStringA(CLuStringA&& other) noexcept
    : m_pData(other.m_pData), m_nLength(other.m_nLength), m_nAlloc(other.m_nAlloc) {
    other.m_pData = &EmptyText<char>::unit;
    other.m_nLength = 0;
    other.m_nAlloc = 0;
}
CLuStringA::~CLuStringA() {
    VIDOZIR_REP(char).Free();
}

CLuStringA& CLuStringA::operator=(const CLuStringA& other) {
    if (this != &other) {
        VIDOZIR_REP(char).Assign(other.m_pData, other.m_nLength);
    }
    return *this;
}
CLuStringA& CLuStringA::operator=(CLuStringA&& other) noexcept {
    if (this != &other) {
        VIDOZIR_REP(char).Free();
        std::swap(m_pData, other.m_pData);
        std::swap(m_nLength, other.m_nLength);
        std::swap(m_nAlloc, other.m_nAlloc);
    }
    return *this;
}
CLuStringA& CLuStringA::operator=(const char* text) {
    VIDOZIR_REP(char).Assign(text, TextLength(text));
    return *this;
}
void CLuStringA::Empty() {
    VIDOZIR_REP(char).SetLength(0);
}
char* CLuStringA::GetBuffer(int minLength) {
    return VIDOZIR_REP(char).GetBuffer(minLength);
}
void CLuStringA::ReleaseBuffer(int newLength) {
    VIDOZIR_REP(char).ReleaseBuffer(newLength);
}

CLuStringA& CLuStringA::Trim() {
    ::Trim(VIDOZIR_REP(char));
    return *this;
}
CLuStringA& CLuStringA::MakeUpper() {
    for (int i = 0; i < m_nLength; ++i) {
        if (m_pData[i] >= 'a' && m_pData[i] <= 'z') {
            m_pData[i] = static_cast<char>(m_pData[i] - 32);
        }
    }
    return *this;
}
int CLuStringA::Compare(const char* text) const {
    return CompareUnits(m_pData, m_nLength, text, TextLength(text), false);
}

void CLuStringA::Format(const char* format, ...) {
    va_list args;
    va_start(args, format);
    FormatV(format, args);
    va_end(args);
}
void CLuStringA::FormatV(const char* format, va_list args) {
    Empty();
    if (format == nullptr) {
        return;
    }
    std::string out;
    vidozir::detail::FormatAppend(out, format, args);
    VIDOZIR_REP(char).Assign(out.data(), static_cast<int>(out.size()));
}

void CLuStringA::Append(const char* text, int count) {
    VIDOZIR_REP(char).Append(text, count);
}
CLuStringA& CLuStringA::operator+=(const char* text) {
    VIDOZIR_REP(char).Append(text, TextLength(text));
    return *this;
}
CLuStringA& CLuStringA::operator+=(char unit) {
    VIDOZIR_REP(char).Append(&unit, 1);
    return *this;
}

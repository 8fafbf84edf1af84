// Client versions: parsing, the packed ordering, the running client's numbers.
#include "vidozir/version.h"

#include <stdexcept>

namespace VidOzir {
namespace Version {

CLuStringW m_strExternalMajor;
DWORD m_nExternalMinor = 0;
BYTE m_nInternalMajor = 0;
BYTE m_nInternalMinor = 0;
DWORD m_nIntervalDefault = 0;
DWORD m_nInternalBuild = 0;
DWORD m_nInternalRevision = 0;

namespace {

// ((p1 x 100 + p2) x 10 + p3) x 10000 + p4 in wrapping 32-bit arithmetic.
uint32_t Pack(uint32_t p1, uint32_t p2, uint32_t p3, uint32_t p4) {
    return ((p1 * 100u + p2) * 10u + p3) * 10000u + p4;
}

int32_t PackSigned(const ClientVersion& version) {
    return static_cast<int32_t>(Pack(uint32_t(version.m_nPart1), uint32_t(version.m_nPart2),
                                     uint32_t(version.m_nPart3), uint32_t(version.m_nPart4)));
}

bool IsBlank(wchar_t unit) {
    return unit == L' ' || (unit >= L'\t' && unit <= L'\r');
}

// The piece [begin, end) of `text` read as std::stoi reads decimal text:
// leading blanks, an optional sign, digits; anything after them is ignored.
int ReadNumber(const wchar_t* text, int begin, int end) {
    int position = begin;
    while (position < end && IsBlank(text[position]))
        ++position;
    bool negative = false;
    if (position < end && (text[position] == L'-' || text[position] == L'+')) {
        negative = text[position] == L'-';
        ++position;
    }
    if (position >= end || text[position] < L'0' || text[position] > L'9')
        throw std::invalid_argument("invalid stoi argument");
    long long value = 0;
    for (; position < end && text[position] >= L'0' && text[position] <= L'9'; ++position) {
        value = value * 10 + (text[position] - L'0');
        if (value > 2147483648LL)
            throw std::out_of_range("stoi argument out of range");
    }
    if (negative)
        value = -value;
    if (value > 2147483647LL)
        throw std::out_of_range("stoi argument out of range");
    return int(value);
}

}  // namespace

ClientVersion::ClientVersion(const std::vector<int>& parts)
    : m_nPart1(0), m_nPart2(0), m_nPart3(0), m_nPart4(0) {
    int* fields[] = {&m_nPart1, &m_nPart2, &m_nPart3, &m_nPart4};
    for (size_t i = 0; i < parts.size() && i < 4; ++i)
        *fields[i] = parts[i];
}

ClientVersion& ClientVersion::operator=(const ClientVersion& other) {
    m_nPart1 = other.m_nPart1;
    m_nPart2 = other.m_nPart2;
    m_nPart3 = other.m_nPart3;
    m_nPart4 = other.m_nPart4;
    return *this;
}

ClientVersion& ClientVersion::operator=(ClientVersion&& other) noexcept {
    return *this = static_cast<const ClientVersion&>(other);
}

std::shared_ptr<ClientVersion> Parse(const CLuStringW& text) {
    std::vector<int> numbers;
    try {
        const CLuStringW working(text);
        const wchar_t* units = working.GetString();
        const int length = working.GetLength();
        int begin = 0;
        while (true) {
            const int dot = working.Find(L'.', begin);
            numbers.push_back(ReadNumber(units, begin, dot < 0 ? length : dot));
            if (dot < 0)
                break;
            // Five numbers already fail; the rest of a long text need not be read.
            if (numbers.size() > 4)
                return std::shared_ptr<ClientVersion>();
            begin = dot + 1;
        }
    } catch (...) {
        return std::shared_ptr<ClientVersion>();
    }
    if (numbers.size() != 4)
        return std::shared_ptr<ClientVersion>();
    return std::make_shared<ClientVersion>(numbers);
}

bool operator<(ClientVersion a, ClientVersion b) {
    return PackSigned(a) < PackSigned(b);
}

bool operator>=(ClientVersion a, ClientVersion b) {
    return PackSigned(a) >= PackSigned(b);
}

void InitVersion(const CLuStringW& externalMajor, DWORD externalMinor, BYTE internalMajor,
                 BYTE internalMinor, DWORD internalBuild, DWORD internalRevision,
                 DWORD internalDefault) {
    m_strExternalMajor = externalMajor;
    m_nExternalMinor = externalMinor;
    m_nInternalMajor = internalMajor;
    m_nInternalMinor = internalMinor;
    m_nInternalBuild = internalBuild;
    m_nInternalRevision = internalRevision;
    m_nIntervalDefault = internalDefault;
}

CLuStringW GetExternalMajor() {
    return m_strExternalMajor;
}
DWORD GetExternalMinor() {
    return m_nExternalMinor;
}
BYTE GetInternalMajor() {
    return m_nInternalMajor;
}
BYTE GetInternalMinor() {
    return m_nInternalMinor;
}
DWORD GetInternalBuild() {
    return m_nInternalBuild;
}
DWORD GetInternalRevision() {
    return m_nInternalRevision;
}
DWORD GetInternalDefault() {
    return m_nIntervalDefault;
}

}  // namespace Version

namespace DiskUtil {

DWORD GetLocalVersion() {
    using namespace Version;
    return Pack(m_nInternalMajor, m_nInternalMinor, m_nInternalRevision, m_nInternalBuild);
}

}  // namespace DiskUtil
}  // namespace VidOzir

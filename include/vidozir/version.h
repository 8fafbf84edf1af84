// VidOzir::Version: dotted four-part client versions, their parsing and
// ordering, and the running client's version numbers. The version file and a
// module's file version are reached through VidOzir::DiskUtil.
#pragma once

#include <memory>
#include <vector>

#include "vidozir/export.h"
#include "vidozir/lustring.h"
#include "vidozir_wintypes.h"

namespace VidOzir {
namespace Version {

struct VIDOZIR_API ClientVersion {
    // Parts 1 to 4 take elements 0 to 3; missing elements leave 0.
    explicit ClientVersion(const std::vector<int>& parts);
    ClientVersion(const ClientVersion& other) = default;
    ClientVersion& operator=(const ClientVersion& other);
    ClientVersion& operator=(ClientVersion&& other) noexcept;

    int m_nPart1;
    int m_nPart2;
    int m_nPart3;
    int m_nPart4;
};

// "1.2.3.4" to a version; an empty pointer when the text is not exactly four
// decimal numbers separated by dots. Never throws for a bad text.
VIDOZIR_API std::shared_ptr<ClientVersion> Parse(const CLuStringW& text);

// Versions compare by one packed number (p1 x 10000000 + p2 x 100000 +
// p3 x 10000 + p4, wrapping in 32 bits, signed), not part by part: parts that
// reach the next weight overlap with it.
VIDOZIR_API bool operator<(ClientVersion a, ClientVersion b);
VIDOZIR_API bool operator>=(ClientVersion a, ClientVersion b);

// The running client's version, 0 and empty until InitVersion sets them.
VIDOZIR_API extern CLuStringW m_strExternalMajor;
VIDOZIR_API extern DWORD m_nExternalMinor;
VIDOZIR_API extern BYTE m_nInternalMajor;
VIDOZIR_API extern BYTE m_nInternalMinor;
VIDOZIR_API extern DWORD m_nIntervalDefault;  // behind GetInternalDefault
VIDOZIR_API extern DWORD m_nInternalBuild;
VIDOZIR_API extern DWORD m_nInternalRevision;

// Stores all seven values, overwriting earlier ones; not synchronised with
// readers on other threads.
VIDOZIR_API void InitVersion(const CLuStringW& externalMajor, DWORD externalMinor,
                             BYTE internalMajor, BYTE internalMinor, DWORD internalBuild,
                             DWORD internalRevision, DWORD internalDefault);
VIDOZIR_API CLuStringW GetExternalMajor();
VIDOZIR_API DWORD GetExternalMinor();
VIDOZIR_API BYTE GetInternalMajor();
VIDOZIR_API BYTE GetInternalMinor();
VIDOZIR_API DWORD GetInternalBuild();
VIDOZIR_API DWORD GetInternalRevision();
VIDOZIR_API DWORD GetInternalDefault();

}  // namespace Version

namespace DiskUtil {

// The running client's packed version: internal major, minor, revision and
// build (revision third, build fourth).
VIDOZIR_API DWORD GetLocalVersion();

// The application-data folder followed by \Corvane\CirrelSync\Version.ini;
// empty when the folder is unknown. Nothing is created but that folder.
VIDOZIR_API CLuStringW GetVersionFilePath();

// The file version text ("FileVersion" of the first translation that has one)
// of the module at `path`, split at "."; with exactly four pieces stores
// pieces 1, 2, 4, 3 into the outputs and returns 1. Otherwise returns 0 and
// leaves the outputs alone.
VIDOZIR_API int GetCirrelResVersion(const wchar_t* path, DWORD& first, DWORD& second, DWORD& third,
                                    DWORD& fourth);

}  // namespace DiskUtil
}  // namespace VidOzir

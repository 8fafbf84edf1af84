// Tokens, privileges and security descriptors for non-Windows builds.
//
// The process token holds the groups Everyone (S-1-1-0), one S-1-22-2-<gid>
// per Unix group of the process, and the logon-session group
// S-1-5-5-0-<session> of the process's session (see session.h). Privileges
// carry their Windows names and identifiers; those with a Linux counterpart
// are held when that capability is in the permitted set, and enabling one
// raises the capability into the effective set.
#pragma once

#include "vidozir_wintypes.h"
#include "platform/process.h"
#include "platform/session.h"

#define TOKEN_ADJUST_PRIVILEGES 0x0020u
#define TOKEN_ADJUST_GROUPS 0x0040u
#define TOKEN_ADJUST_DEFAULT 0x0080u
#define TOKEN_QUERY 0x0008u
#define READ_CONTROL 0x00020000u

#define SE_PRIVILEGE_ENABLED 0x00000002u
#define SE_GROUP_LOGON_ID 0xC0000000u
#define SE_GROUP_MANDATORY 0x00000001u
#define SE_GROUP_ENABLED_BY_DEFAULT 0x00000002u
#define SE_GROUP_ENABLED 0x00000004u
#define ANYSIZE_ARRAY 1

#define SDDL_REVISION_1 1
#define OWNER_SECURITY_INFORMATION 0x00000001u
#define GROUP_SECURITY_INFORMATION 0x00000002u
#define DACL_SECURITY_INFORMATION 0x00000004u

#define ERROR_NOT_ALL_ASSIGNED 1300L
#define ERROR_NO_SUCH_PRIVILEGE 1313L
#define ERROR_UNKNOWN_REVISION 1305L
#define ERROR_INVALID_ACL 1336L
#define ERROR_INVALID_SECURITY_DESCR 1338L

typedef struct _LUID {
    DWORD LowPart;
    LONG HighPart;
} LUID, *PLUID;

typedef struct _LUID_AND_ATTRIBUTES {
    LUID Luid;
    DWORD Attributes;
} LUID_AND_ATTRIBUTES;

typedef struct _TOKEN_PRIVILEGES {
    DWORD PrivilegeCount;
    LUID_AND_ATTRIBUTES Privileges[ANYSIZE_ARRAY];
} TOKEN_PRIVILEGES, *PTOKEN_PRIVILEGES;

typedef struct _SID_AND_ATTRIBUTES {
    PSID Sid;
    DWORD Attributes;
} SID_AND_ATTRIBUTES;

typedef struct _TOKEN_GROUPS {
    DWORD GroupCount;
    SID_AND_ATTRIBUTES Groups[ANYSIZE_ARRAY];
} TOKEN_GROUPS, *PTOKEN_GROUPS;

typedef enum _TOKEN_INFORMATION_CLASS { TokenUser = 1, TokenGroups = 2 } TOKEN_INFORMATION_CLASS;

// Only the calling process's own token; `access` limits what the handle may do.
BOOL OpenProcessToken(HANDLE process, DWORD access, PHANDLE token);
// TokenGroups only (TOKEN_QUERY access): the record with its SIDs after it in
// the one buffer; ERROR_INSUFFICIENT_BUFFER with the size needed.
BOOL GetTokenInformation(HANDLE token, TOKEN_INFORMATION_CLASS kind, void* buffer, DWORD length,
                         DWORD* returnLength);
// Names are compared ignoring case; an unknown one gives ERROR_NO_SUCH_PRIVILEGE.
BOOL LookupPrivilegeValueW(LPCWSTR systemName, LPCWSTR name, PLUID luid);
// Succeeds with ERROR_NOT_ALL_ASSIGNED as the last error when the token does
// not hold one of the privileges. No previous state is returned.
BOOL AdjustTokenPrivileges(HANDLE token, BOOL disableAll, PTOKEN_PRIVILEGES newState,
                           DWORD bufferLength, PTOKEN_PRIVILEGES previousState,
                           DWORD* returnLength);

// Security descriptor texts, the subset: "O:", "G:" and "D:" parts; DACL
// flags P, AI, AR; access-allowed (A) and access-denied (D) entries with the
// flags OI, CI, NP, IO, ID, rights as two-letter names or a number, no
// object types; SIDs as S-... or two-letter aliases (WD, SY, BA, BU, AU, CO,
// AN, IU, LS, NS). The descriptor is self-relative, freed with LocalFree.
BOOL ConvertStringSecurityDescriptorToSecurityDescriptorW(LPCWSTR text, DWORD revision,
                                                          PSECURITY_DESCRIPTOR* descriptor,
                                                          ULONG* size);
BOOL ConvertSecurityDescriptorToStringSecurityDescriptorW(PSECURITY_DESCRIPTOR descriptor,
                                                          DWORD revision, DWORD information,
                                                          LPWSTR* text, ULONG* length);
// The binary SID in a LocalAlloc block.
BOOL ConvertStringSidToSidW(LPCWSTR text, PSID* sid);

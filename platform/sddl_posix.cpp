// Security descriptor texts and SID texts: the subset that security.h lists.
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <string>
#include <vector>

#include "platform/kernel.h"
#include "platform/localmem.h"
#include "platform/security.h"

namespace {

constexpr WORD kSelfRelative = 0x8000;
constexpr WORD kDaclPresent = 0x0004;
constexpr BYTE kAllowed = 0;
constexpr BYTE kDenied = 1;

struct Name {
    const char* text;
    DWORD value;
};
// Rights with a two-letter name; a mask written back takes the first exact match.
const Name kRights[] = {
    {"GA", 0x10000000}, {"GR", 0x80000000}, {"GW", 0x40000000}, {"GX", 0x20000000},
    {"FA", 0x001F01FF}, {"FR", 0x00120089}, {"FW", 0x00120116}, {"FX", 0x001200A0},
    {"KA", 0x000F003F}, {"KR", 0x00020019}, {"KW", 0x00020006}, {"SD", 0x00010000},
    {"RC", 0x00020000}, {"WD", 0x00040000}, {"WO", 0x00080000},
};
const Name kAceFlags[] = {{"OI", 0x01}, {"CI", 0x02}, {"NP", 0x04}, {"IO", 0x08}, {"ID", 0x10}};
const Name kDaclFlags[] = {{"P", 0x1000}, {"AI", 0x0400}, {"AR", 0x0100}};
struct Alias {
    const char* name;
    const char* sid;
};
const Alias kAliases[] = {
    {"WD", "S-1-1-0"},      {"CO", "S-1-3-0"},      {"AN", "S-1-5-7"},  {"IU", "S-1-5-4"},
    {"AU", "S-1-5-11"},     {"SY", "S-1-5-18"},     {"LS", "S-1-5-19"}, {"NS", "S-1-5-20"},
    {"BA", "S-1-5-32-544"}, {"BU", "S-1-5-32-545"},
};

using Bytes = std::vector<BYTE>;

// "S-1-<authority>-<sub>..." with up to 15 sub-authorities, to binary.
bool ParseSid(const std::string& text, Bytes* sid) {
    for (const Alias& alias : kAliases) {
        if (text == alias.name) {
            return ParseSid(alias.sid, sid);
        }
    }
    if (text.compare(0, 4, "S-1-") != 0) {
        return false;
    }
    std::vector<unsigned long long> parts;
    size_t at = 4;
    while (true) {
        size_t end = text.find('-', at);
        std::string part = text.substr(at, end == text.npos ? text.npos : end - at);
        if (part.empty() || part.size() > 20 || part.find_first_not_of("0123456789") != part.npos) {
            return false;
        }
        parts.push_back(std::strtoull(part.c_str(), nullptr, 10));
        if (end == text.npos) {
            break;
        }
        at = end + 1;
    }
    if (parts.size() > 16 || parts[0] >> 48 != 0) {
        return false;
    }
    *sid = {1, static_cast<BYTE>(parts.size() - 1)};
    for (int shift = 40; shift >= 0; shift -= 8) {
        sid->push_back(static_cast<BYTE>(parts[0] >> shift));
    }
    for (size_t i = 1; i < parts.size(); ++i) {
        if (parts[i] > 0xFFFFFFFFull) {
            return false;
        }
        for (int shift = 0; shift < 32; shift += 8) {
            sid->push_back(static_cast<BYTE>(parts[i] >> shift));
        }
    }
    return true;
}

std::string SidText(const BYTE* sid) {
    std::string text;
    LPWSTR wide = nullptr;
    if (ConvertSidToStringSidW(const_cast<BYTE*>(sid), &wide)) {
        for (LPWSTR c = wide; *c != 0; ++c) {
            text += static_cast<char>(*c);
        }
        LocalFree(wide);
    }
    for (const Alias& alias : kAliases) {
        if (text == alias.sid) {
            return alias.name;
        }
    }
    return text;
}

// Reads the letters of `text` as a run of names of `table`, ORing their values.
bool ParseFlags(const std::string& text, const Name* table, size_t count, DWORD* value) {
    *value = 0;
    size_t at = 0;
    while (at < text.size()) {
        size_t i = 0;
        while (i < count && text.compare(at, std::strlen(table[i].text), table[i].text) != 0) {
            ++i;
        }
        if (i == count) {
            return false;
        }
        *value |= table[i].value;
        at += std::strlen(table[i].text);
    }
    return true;
}

bool ParseRights(const std::string& text, DWORD* mask) {
    if (text.compare(0, 2, "0x") == 0 || text.compare(0, 2, "0X") == 0) {
        char* end = nullptr;
        unsigned long long value = std::strtoull(text.c_str() + 2, &end, 16);
        *mask = static_cast<DWORD>(value);
        return text.size() > 2 && *end == 0 && value <= 0xFFFFFFFFull;
    }
    return !text.empty() && ParseFlags(text, kRights, sizeof(kRights) / sizeof(kRights[0]), mask);
}

// One "(type;flags;rights;object;inherited object;sid)" entry into `acl`.
bool ParseAce(const std::string& text, Bytes* acl) {
    std::vector<std::string> fields;
    size_t at = 0;
    for (size_t end; (end = text.find(';', at)) != text.npos; at = end + 1) {
        fields.push_back(text.substr(at, end - at));
    }
    fields.push_back(text.substr(at));
    DWORD flags = 0;
    DWORD mask = 0;
    Bytes sid;
    if (fields.size() != 6 || (fields[0] != "A" && fields[0] != "D") || !fields[3].empty() ||
        !fields[4].empty() || !ParseFlags(fields[1], kAceFlags, 5, &flags) ||
        !ParseRights(fields[2], &mask) || !ParseSid(fields[5], &sid)) {
        return false;
    }
    const size_t size = 8 + sid.size();
    const BYTE head[8] = {fields[0] == "A" ? kAllowed : kDenied,
                          static_cast<BYTE>(flags),
                          static_cast<BYTE>(size),
                          static_cast<BYTE>(size >> 8),
                          static_cast<BYTE>(mask),
                          static_cast<BYTE>(mask >> 8),
                          static_cast<BYTE>(mask >> 16),
                          static_cast<BYTE>(mask >> 24)};
    acl->insert(acl->end(), head, head + 8);
    acl->insert(acl->end(), sid.begin(), sid.end());
    return true;
}

// "flags(ace)(ace)..." into an ACL and the descriptor's DACL control bits.
bool ParseDacl(const std::string& text, Bytes* acl, WORD* control) {
    size_t open = text.find('(');
    DWORD flags = 0;
    if (!ParseFlags(text.substr(0, open), kDaclFlags, 3, &flags)) {
        return false;
    }
    *control |= static_cast<WORD>(flags) | kDaclPresent;
    *acl = Bytes(8, 0);
    WORD count = 0;
    while (open != text.npos) {
        size_t close = text.find(')', open);
        if (close == text.npos || !ParseAce(text.substr(open + 1, close - open - 1), acl)) {
            return false;
        }
        ++count;
        open = close + 1;
        if (open < text.size() && text[open] != '(') {
            return false;
        }
        open = open < text.size() ? open : text.npos;
    }
    if (acl->size() > 0xFFFF) {
        return false;
    }
    (*acl)[0] = 2;  // ACL_REVISION
    (*acl)[2] = static_cast<BYTE>(acl->size());
    (*acl)[3] = static_cast<BYTE>(acl->size() >> 8);
    (*acl)[4] = static_cast<BYTE>(count);
    (*acl)[5] = static_cast<BYTE>(count >> 8);
    return true;
}

void PutOffset(Bytes* out, size_t field, size_t offset) {
    for (int i = 0; i < 4; ++i) {
        (*out)[field + i] = static_cast<BYTE>(offset >> (8 * i));
    }
}

DWORD GetOffset(const BYTE* descriptor, size_t field) {
    DWORD value = 0;
    std::memcpy(&value, descriptor + field, 4);
    return value;
}

template <class T>
T* CopyToLocal(const std::vector<T>& data) {
    auto* block = static_cast<T*>(LocalAlloc(LMEM_FIXED, data.size() * sizeof(T)));
    if (block != nullptr) {
        std::memcpy(block, data.data(), data.size() * sizeof(T));
    }
    return block;
}

std::string Narrow(LPCWSTR text) {
    std::string narrow;
    for (; *text != 0; ++text) {
        narrow += *text < 0x80 ? static_cast<char>(*text) : '\x7f';  // non-ASCII never parses
    }
    return narrow;
}

// The self-relative layout: the 20-byte header, then DACL, owner and group.
constexpr size_t kOwnerField = 4;
constexpr size_t kGroupField = 8;
constexpr size_t kDaclField = 16;

}  // namespace

BOOL ConvertStringSidToSidW(LPCWSTR text, PSID* sid) {
    Bytes bytes;
    if (text == nullptr || sid == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (!ParseSid(Narrow(text), &bytes)) {
        SetLastError(ERROR_INVALID_SID);
        return FALSE;
    }
    *sid = CopyToLocal(bytes);
    return *sid != nullptr;
}

BOOL ConvertStringSecurityDescriptorToSecurityDescriptorW(LPCWSTR text, DWORD revision,
                                                          PSECURITY_DESCRIPTOR* descriptor,
                                                          ULONG* size) {
    if (text == nullptr || descriptor == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (revision != SDDL_REVISION_1) {
        SetLastError(ERROR_UNKNOWN_REVISION);
        return FALSE;
    }
    const std::string sddl = Narrow(text);
    Bytes out(20, 0);
    out[0] = 1;
    WORD control = kSelfRelative;
    size_t at = 0;
    while (at < sddl.size()) {
        // A part runs to the next "X:" that is not inside an entry.
        char kind = sddl[at];
        if (at + 1 >= sddl.size() || sddl[at + 1] != ':') {
            SetLastError(ERROR_INVALID_PARAMETER);
            return FALSE;
        }
        size_t end = at + 2;
        int depth = 0;
        while (end < sddl.size() && (depth > 0 || end + 1 >= sddl.size() || sddl[end + 1] != ':')) {
            depth += sddl[end] == '(' ? 1 : sddl[end] == ')' ? -1 : 0;
            ++end;
        }
        const std::string body = sddl.substr(at + 2, end - at - 2);
        Bytes part;
        size_t field = kind == 'O' ? kOwnerField : kind == 'G' ? kGroupField : kDaclField;
        bool parsed = kind == 'D' ? ParseDacl(body, &part, &control)
                                  : (kind == 'O' || kind == 'G') && ParseSid(body, &part);
        if (!parsed || GetOffset(out.data(), field) != 0) {
            SetLastError(kind == 'D' ? ERROR_INVALID_ACL : ERROR_INVALID_PARAMETER);
            return FALSE;
        }
        PutOffset(&out, field, out.size());
        out.insert(out.end(), part.begin(), part.end());
        at = end;
    }
    out[2] = static_cast<BYTE>(control);
    out[3] = static_cast<BYTE>(control >> 8);
    *descriptor = CopyToLocal(out);
    if (*descriptor == nullptr) {
        return FALSE;
    }
    if (size != nullptr) {
        *size = static_cast<ULONG>(out.size());
    }
    return TRUE;
}

BOOL ConvertSecurityDescriptorToStringSecurityDescriptorW(PSECURITY_DESCRIPTOR descriptor,
                                                          DWORD revision, DWORD information,
                                                          LPWSTR* text, ULONG* length) {
    const BYTE* sd = static_cast<const BYTE*>(descriptor);
    if (sd == nullptr || text == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (revision != SDDL_REVISION_1) {
        SetLastError(ERROR_UNKNOWN_REVISION);
        return FALSE;
    }
    WORD control = static_cast<WORD>(sd[2] | sd[3] << 8);
    if (sd[0] != 1 || (control & kSelfRelative) == 0) {
        SetLastError(ERROR_INVALID_SECURITY_DESCR);  // only the self-relative form is made here
        return FALSE;
    }
    std::string out;
    const std::pair<DWORD, size_t> sids[] = {{OWNER_SECURITY_INFORMATION, kOwnerField},
                                             {GROUP_SECURITY_INFORMATION, kGroupField}};
    for (const auto& entry : sids) {
        DWORD offset = GetOffset(sd, entry.second);
        if ((information & entry.first) != 0 && offset != 0) {
            out += entry.first == OWNER_SECURITY_INFORMATION ? "O:" : "G:";
            out += SidText(sd + offset);
        }
    }
    DWORD daclOffset = GetOffset(sd, kDaclField);
    if ((information & DACL_SECURITY_INFORMATION) != 0 && (control & kDaclPresent) != 0) {
        out += "D:";
        for (const Name& flag : kDaclFlags) {
            out += (control & flag.value) != 0 ? flag.text : "";
        }
        const BYTE* acl = sd + daclOffset;
        int count = daclOffset != 0 ? acl[4] | acl[5] << 8 : 0;
        const BYTE* ace = acl + 8;
        for (int i = 0; i < count; ++i, ace += ace[2] | ace[3] << 8) {
            out += ace[0] == kAllowed ? "(A;" : "(D;";
            for (const Name& flag : kAceFlags) {
                out += (ace[1] & flag.value) != 0 ? flag.text : "";
            }
            DWORD mask = 0;
            std::memcpy(&mask, ace + 4, 4);
            const char* right = nullptr;
            for (const Name& name : kRights) {
                right = right == nullptr && name.value == mask ? name.text : right;
            }
            char number[16];
            std::snprintf(number, sizeof(number), "0x%x", static_cast<unsigned>(mask));
            out += std::string(";") + (right != nullptr ? right : number) + ";;;";
            out += SidText(ace + 8) + ")";
        }
    }
    std::vector<wchar_t> wide(out.begin(), out.end());
    wide.push_back(0);
    *text = CopyToLocal(wide);
    if (*text == nullptr) {
        return FALSE;
    }
    if (length != nullptr) {
        *length = static_cast<ULONG>(wide.size());
    }
    return TRUE;
}

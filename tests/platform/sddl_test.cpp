// Security descriptor texts: the subset the library uses, parsed into a
// self-relative descriptor and written back; on Windows the system's own
// conversions answer the same table.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "platform/win32.h"

namespace {

std::wstring Wide(const std::string& text) {
    return std::wstring(text.begin(), text.end());
}

std::string RoundTrip(const std::string& sddl, DWORD information) {
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    ULONG size = 0;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(Wide(sddl).c_str(), SDDL_REVISION_1,
                                                              &descriptor, &size))
        return "<rejected>";
    EXPECT_GE(size, 20u);
    LPWSTR text = nullptr;
    std::string out = "<not written>";
    if (ConvertSecurityDescriptorToStringSecurityDescriptorW(descriptor, SDDL_REVISION_1,
                                                             information, &text, nullptr)) {
        out.clear();
        for (LPWSTR c = text; *c != 0; ++c)
            out += char(*c);
        LocalFree(text);
    }
    LocalFree(descriptor);
    return out;
}

TEST(SecurityDescriptorText, RoundTripsTheSubset) {
    const DWORD all =
        OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION;
    const struct {
        const char* in;
        DWORD information;
        const char* out;
    } cases[] = {
        {"D:(A;OICI;GA;;;S-1-5-5-0-42)", DACL_SECURITY_INFORMATION, nullptr},
        {"D:(A;OICI;GA;;;S-1-5-5-3-4294967295)", DACL_SECURITY_INFORMATION, nullptr},
        {"O:BAG:SYD:P(A;;FA;;;SY)(D;CIIO;GW;;;WD)", all, nullptr},
        {"O:BAG:SYD:(A;;GR;;;BU)", DACL_SECURITY_INFORMATION, "D:(A;;GR;;;BU)"},
        {"D:(A;;GA;;;S-1-1-0)", DACL_SECURITY_INFORMATION, "D:(A;;GA;;;WD)"},
        {"D:", DACL_SECURITY_INFORMATION, nullptr},
        // Rejected: unclosed entry, unknown type, empty sub-authority,
        // unknown right, object types, an unknown part.
        {"D:(A;OICI;GA;;;WD", all, "<rejected>"},
        {"D:(X;;GA;;;WD)", all, "<rejected>"},
        {"D:(A;;GA;;;S-1-5-)", all, "<rejected>"},
        {"D:(A;;ZZ;;;WD)", all, "<rejected>"},
        {"D:(A;;GA;x;;WD)", all, "<rejected>"},
        {"Q:(A;;GA;;;WD)", all, "<rejected>"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(RoundTrip(c.in, c.information), c.out != nullptr ? c.out : c.in) << c.in;
    }
}

TEST(SecurityDescriptorText, NumericRightsAndEntryLayout) {
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorW(
        L"D:(A;OICI;0x1200a9;;;S-1-5-5-0-7)", SDDL_REVISION_1, &descriptor, nullptr));
    const BYTE* sd = static_cast<const BYTE*>(descriptor);
    DWORD daclOffset = 0;
    std::memcpy(&daclOffset, sd + 16, 4);
    ASSERT_NE(daclOffset, 0u);
    const BYTE* acl = sd + daclOffset;
    EXPECT_EQ(acl[4], 1);  // one entry
    const BYTE* ace = acl + 8;
    EXPECT_EQ(ace[0], 0);     // access allowed
    EXPECT_EQ(ace[1], 0x03);  // object and container inherit
    DWORD mask = 0;
    std::memcpy(&mask, ace + 4, 4);
    EXPECT_EQ(mask, 0x1200a9u);
    const BYTE sid[] = {1, 3, 0, 0, 0, 0, 0, 5, 5, 0, 0, 0, 0, 0, 0, 0, 7, 0, 0, 0};
    EXPECT_EQ(std::memcmp(ace + 8, sid, sizeof(sid)), 0);
    EXPECT_EQ(LocalFree(descriptor), nullptr);
}

}  // namespace

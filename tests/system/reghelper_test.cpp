#include "vidozir/reghelper.h"

#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

#include "platform/win32.h"
#include "support/test_support.h"
#include "support/text.h"

#if !defined(_WIN32)
#include <unistd.h>
#endif

namespace {

const bool g_registry = vidozir_test::UseTempRegistry();

// The SID the helper must find, learnt another way: the process token's user
// on Windows (the session's user when nothing is elevated), the Unix user SID
// of the real user here.
std::wstring ExpectedSid() {
#if defined(_WIN32)
    HANDLE token;
    OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token);
    BYTE buffer[512];
    DWORD size = 0;
    GetTokenInformation(token, TokenUser, buffer, sizeof(buffer), &size);
    CloseHandle(token);
    LPWSTR text = nullptr;
    ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER*>(buffer)->User.Sid, &text);
    std::wstring sid = text != nullptr ? text : L"";
    LocalFree(text);
    return sid;
#else
    std::string sid = "S-1-22-1-" + std::to_string(getuid());
    return std::wstring(sid.begin(), sid.end());
#endif
}

// Raw access to the hive, beside the helper.
struct Raw {
    HKEY root;
    std::wstring path;

    LONG Set(const wchar_t* name, DWORD type, const void* data, DWORD size) const {
        HKEY key;
        LONG result = RegCreateKeyExW(root, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                                      &key, nullptr);
        if (result == ERROR_SUCCESS) {
            result = RegSetValueExW(key, name, 0, type, static_cast<const BYTE*>(data), size);
            RegCloseKey(key);
        }
        return result;
    }
    // The type and size of a value, or the error.
    LONG Query(const wchar_t* name, DWORD* type, DWORD* size) const {
        HKEY key;
        LONG result = RegOpenKeyExW(root, path.c_str(), 0, KEY_READ, &key);
        if (result == ERROR_SUCCESS) {
            result = RegQueryValueExW(key, name, nullptr, type, nullptr, size);
            RegCloseKey(key);
        }
        return result;
    }
    bool Exists() const {
        HKEY key;
        const bool found = RegOpenKeyExW(root, path.c_str(), 0, KEY_READ, &key) == ERROR_SUCCESS;
        if (found)
            RegCloseKey(key);
        return found;
    }
    Raw Sub(const std::wstring& child) const { return Raw{root, path + L"\\" + child}; }
};

using vidozir_test::Wide;

class RegHelperTest : public testing::Test {
protected:
    void SetUp() override {
        static int counter = 0;
        std::wstring id =
            std::to_wstring(GetCurrentProcessId()) + L"-" + std::to_wstring(++counter);
        top_ = L"VidozirTest-" + id;
        sub_ = top_ + L"\\Keys";
        user_ = Raw{HKEY_USERS, ExpectedSid() + L"\\" + sub_};
        machine_ = Raw{HKEY_LOCAL_MACHINE, L"Software\\" + top_};
        ASSERT_EQ(helper_.CreateHKCUKey(sub_.c_str(), 0), 1);
    }
    void TearDown() override {
        DeleteTree(HKEY_USERS, ExpectedSid() + L"\\" + top_);
        DeleteTree(HKEY_LOCAL_MACHINE, L"Software\\" + top_);
    }
    static void DeleteTree(HKEY parent, const std::wstring& name) {
        HKEY key;
        if (RegOpenKeyExW(parent, name.c_str(), 0, KEY_ALL_ACCESS, &key) != ERROR_SUCCESS)
            return;
        wchar_t child[256];
        DWORD length = 256;
        while (RegEnumKeyExW(key, 0, child, &length, nullptr, nullptr, nullptr, nullptr) == 0) {
            DeleteTree(key, child);
            length = 256;
        }
        RegCloseKey(key);
        RegDeleteKeyW(parent, name.c_str());
    }
    CLuStringW Sub() const { return sub_.c_str(); }

    CRegHelper helper_;
    std::wstring top_, sub_;
    Raw user_, machine_;
};

TEST_F(RegHelperTest, WritersUseTheSessionUsersKeysAndCreateThem) {
    helper_.WriteHKCUDWORD(Sub(), L"Number", 0x12345678);
    helper_.WriteHKCUString(Sub() + L"\\Deeper", L"Text", L"hello");
    helper_.WriteHKCUString(Sub() + L"\\New\\Deep", L"Empty", L"");
    helper_.WriteHKCUDWORD(Sub() + L"\\New\\Deep", L"", 7);  // the default value
    const std::tuple<Raw, const wchar_t*, DWORD, DWORD> written[] = {
        {user_, L"Number", REG_DWORD, 4},
        {user_.Sub(L"Deeper"), L"Text", REG_SZ, 12},
        {user_.Sub(L"New\\Deep"), L"Empty", REG_SZ, 2},
        {user_.Sub(L"New\\Deep"), L"", REG_DWORD, 4}};
    for (const auto& [raw, name, expectedType, expectedSize] : written) {
        DWORD type = 0, size = 0;
        EXPECT_EQ(raw.Query(name, &type, &size), ERROR_SUCCESS) << name;
        EXPECT_EQ(type, expectedType) << name;
        EXPECT_EQ(size, expectedSize) << name;
    }
    EXPECT_EQ(helper_.ReadHKCUDWORD(Sub(), L"Number"), 0x12345678u);
    EXPECT_EQ(helper_.ReadHKCUString(Sub() + L"\\Deeper", L"Text"), L"hello");
    EXPECT_EQ(helper_.ReadHKCUDWORD(Sub() + L"\\New\\Deep", L""), 7u);
    EXPECT_EQ(helper_.FindHKCUKey((sub_ + L"\\DEEPER").c_str()), 1);
    EXPECT_EQ(helper_.FindHKCUKey((sub_ + L"\\Missing").c_str()), 0);
    helper_.DeleteHKCUValue(Sub(), L"Number");
    DWORD type = 0, size = 0;
    EXPECT_EQ(user_.Query(L"Number", &type, &size), ERROR_FILE_NOT_FOUND);

    // An existing key is opened as it is; a volatile key takes no stored subkey.
    ASSERT_EQ(user_.Sub(L"New").Set(L"Kept", REG_DWORD, "\x01\x02\x03\x04", 4), 0);
    ASSERT_EQ(user_.Sub(L"New").Set(L"Second", REG_BINARY, "", 0), 0);
    EXPECT_EQ(helper_.CreateHKCUKey((sub_ + L"\\New").c_str(), REG_OPTION_VOLATILE), 1);
    EXPECT_EQ(helper_.ReadHKCUDWORD(Sub() + L"\\New", L"Kept"), 0x04030201u);
    EXPECT_EQ(helper_.CreateHKCUKey((sub_ + L"\\Volatile").c_str(), REG_OPTION_VOLATILE), 1);
    EXPECT_TRUE(user_.Sub(L"Volatile").Exists());
    EXPECT_EQ(helper_.CreateHKCUKey((sub_ + L"\\Volatile\\Stored").c_str(), 0), 0);
    std::vector<CLuStringW> names = {L"held"};
    EXPECT_EQ(helper_.QueryHKCUKey(Sub() + L"\\New", names), 1);  // two values, one subkey
    EXPECT_EQ(names, (std::vector<CLuStringW>{L"held", L"Kept", L"Second"}));  // in set order
    EXPECT_EQ(helper_.QueryHKCUKey(Sub() + L"\\Missing", names), 0);
    EXPECT_EQ(names.size(), 3u);
}

TEST_F(RegHelperTest, VersionFiveWorksUnderTheCurrentUser) {
    struct Old : CRegHelper {
        Old() { m_bVistaOrLater = 0; }
    } old;
    Raw current{HKEY_CURRENT_USER, sub_ + L"\\Old"};
    old.WriteHKCUString(Sub() + L"\\Old", L"Text", L"five");
    old.WriteHKCUDWORD(Sub() + L"\\Old", L"Number", 5);
    DWORD type = 0, size = 0;
    EXPECT_EQ(current.Query(L"Text", &type, &size), ERROR_SUCCESS);
    EXPECT_EQ(old.ReadHKCUString(Sub() + L"\\Old", L"Text"), L"five");
    EXPECT_EQ(old.ReadHKCUDWORD(Sub() + L"\\Old", L"Number"), 5u);
    EXPECT_EQ(old.FindHKCUKey((sub_ + L"\\Old").c_str()), 1);
    std::vector<CLuStringW> names;
    EXPECT_EQ(old.QueryHKCUKey(Sub() + L"\\Old", names), 1);
    EXPECT_EQ(names.size(), 2u);
    old.DeleteHKCUKey(Sub() + L"\\Old");
    EXPECT_FALSE(current.Exists());
    // This system reports a major version of 6 or more.
    CRegHelper copy(old);
    copy = helper_;
    EXPECT_EQ(copy.FindHKCUKey(sub_.c_str()), 1);
}

TEST_F(RegHelperTest, DeleteTakesTheLastComponentWithEverythingBelow) {
    Raw top{HKEY_USERS, ExpectedSid() + L"\\" + top_};
    // path below the test's top-level key; whether top, Keys and Child stay
    const std::tuple<const wchar_t*, bool, bool, bool> cases[] = {
        {L"", true, true, true},                // one component: nothing happens
        {L"\\", true, true, true},              // only backslash first: nothing
        {L"\\Keys\\Child", true, true, false},  // three components: the third goes
        {L"\\Keys", true, false, false},        // two: the second with its subtree
    };
    for (const auto& [below, topStays, keysStays, childStays] : cases) {
        ASSERT_EQ(top.Sub(L"Keys\\Child\\Grand").Set(L"v", REG_DWORD, "abcd", 4), 0);
        ASSERT_EQ(top.Sub(L"Keys\\Child").Set(L"w", REG_DWORD, "abcd", 4), 0);
        helper_.DeleteHKCUKey((std::wstring(below) == L"\\" ? L"\\" + top_ : top_ + below).c_str());
        EXPECT_EQ(top.Exists(), topStays) << below;
        EXPECT_EQ(top.Sub(L"Keys").Exists(), keysStays) << below;
        EXPECT_EQ(top.Sub(L"Keys\\Child").Exists(), childStays) << below;
        EXPECT_EQ(top.Sub(L"Keys\\Child\\Grand").Exists(), childStays) << below;
    }
}

// The user readers check type and size (259 units at most, ended); the machine
// readers check no type, and longer than their buffers reads as nothing (for a
// number: more than 4 bytes).
TEST_F(RegHelperTest, ReadersCheckTypesAndSizes) {
    const std::u16string text = u"text", x258(258, u'x');
    const std::tuple<const wchar_t*, DWORD, std::u16string, DWORD, DWORD, std::u16string> user[] = {
        {L"sz", REG_SZ, text + u'\0', 10, 0, text},
        {L"expand", REG_EXPAND_SZ, u"%TEMP%" + std::u16string(1, 0), 14, 0, u"%TEMP%"},
        {L"dword", REG_DWORD, u"\x5678\x1234", 4, 0x12345678, u""},
        {L"binary4", REG_BINARY, u"\x5678\x1234", 4, 0, u""},
        {L"empty", REG_SZ, u"", 0, 0, u""},
        {L"unended", REG_SZ, text, 8, 0, u""},
        {L"oddSize", REG_SZ, u"odd" + std::u16string(1, 0), 7, 0, u""},
        {L"at258", REG_SZ, x258 + u'\0', 518, 0, x258},
        {L"at259", REG_SZ, x258 + u"x" + u'\0', 520, 0, u""}};
    for (const auto& [name, type, data, size, asDword, asString] : user) {
        if (vidozir_test::IsWine() && std::wstring(name) == L"unended")
            continue;  // Wine stores a REG_SZ without its terminator with one added
        ASSERT_EQ(user_.Set(name, type, data.c_str(), size), ERROR_SUCCESS) << name;
        EXPECT_EQ(helper_.ReadHKCUDWORD(Sub(), name), asDword) << name;
        EXPECT_EQ(helper_.ReadHKCUString(Sub(), name), Wide(asString)) << name;
    }
    EXPECT_EQ(helper_.ReadHKCUDWORD(Sub(), L"missing"), 0u);
    EXPECT_EQ(helper_.ReadHKCUString(Sub() + L"\\Missing", L"sz"), L"");

    const std::u16string x1022(1022, u'x');
    const std::tuple<const wchar_t*, DWORD, std::u16string, DWORD, DWORD, std::u16string>
        machine[] = {{L"binary4", REG_BINARY, u"\x5678\x1234", 4, 0x12345678, u"\x5678\x1234"},
                     {L"binary2", REG_BINARY, u"\xBEEF", 2, 0xBEEF, u"\xBEEF"},
                     {L"binary8", REG_BINARY, u"\x0001\x0002\x0003\x0004", 8, 0,
                      u"\x0001\x0002\x0003\x0004"},
                     {L"dwordAsText", REG_DWORD, u"AB", 4, 0x00420041, u"AB"},
                     {L"at2046", REG_SZ, x1022 + u'\0', 2046, 0, x1022},
                     {L"at2048", REG_SZ, x1022 + u"x" + u'\0', 2048, 0, u""}};
    const CLuStringW subKey = (L"Software\\" + top_).c_str();
    for (const auto& [name, type, data, size, asDword, asString] : machine) {
        ASSERT_EQ(machine_.Set(name, type, data.c_str(), size), ERROR_SUCCESS) << name;
        EXPECT_EQ(helper_.ReadHKLMDWord(subKey, name), asDword) << name;
        EXPECT_EQ(helper_.ReadHKLMString(subKey, name), Wide(asString)) << name;
    }
    EXPECT_EQ(helper_.ReadHKLMDWord(L"Software\\VidozirTest-missing", L"x"), 0u);
    EXPECT_EQ(helper_.ReadHKLMString(L"Software\\VidozirTest-missing", L"x"), L"");
}

// The user may read the key but not write it: on Windows by its security
// descriptor, here by the user's rights that the store keeps per key.
LONG SetReadOnly(const Raw& raw, bool readOnly) {
#if defined(_WIN32)
    HKEY key;
    LONG result = RegOpenKeyExW(raw.root, raw.path.c_str(), 0, READ_CONTROL | WRITE_DAC, &key);
    if (result != ERROR_SUCCESS) {
        return result;
    }
    std::wstring sddl =
        std::wstring(L"D:P(A;;") + (readOnly ? L"KR" : L"KA") + L";;;" + ExpectedSid() + L")";
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl.c_str(), SDDL_REVISION_1, &descriptor,
                                                         nullptr);
    result = RegSetKeySecurity(key, DACL_SECURITY_INFORMATION, descriptor);
    LocalFree(descriptor);
    RegCloseKey(key);
    return result;
#else
    return VidozirRegSetUserAccess(raw.root, raw.path.c_str(),
                                   readOnly ? KEY_READ : KEY_ALL_ACCESS);
#endif
}

TEST_F(RegHelperTest, AKeyTheUserMayOnlyReadIsFoundButNotRead) {
    Raw locked = user_.Sub(L"Locked");
    ASSERT_EQ(locked.Set(L"Number", REG_DWORD, "\x01\x00\x00\x00", 4), 0);
    ASSERT_EQ(locked.Set(L"Text", REG_SZ, u"x", 4), 0);
    ASSERT_EQ(SetReadOnly(locked, true), ERROR_SUCCESS);
    CLuStringW path = Sub() + L"\\Locked";
    EXPECT_EQ(helper_.FindHKCUKey(path), 1);
    EXPECT_EQ(helper_.ReadHKCUDWORD(path, L"Number"), 0u);
    EXPECT_EQ(helper_.ReadHKCUString(path, L"Text"), L"");
    std::vector<CLuStringW> names;
    EXPECT_EQ(helper_.QueryHKCUKey(path, names), 0);
    EXPECT_EQ(helper_.CreateHKCUKey(path, 0), 0);
    helper_.WriteHKCUDWORD(path, L"Number", 2);
    helper_.DeleteHKCUKey(path);
    EXPECT_TRUE(locked.Exists());
    ASSERT_EQ(SetReadOnly(locked, false), ERROR_SUCCESS);
    EXPECT_EQ(helper_.ReadHKCUDWORD(path, L"Number"), 1u);
}

}  // namespace

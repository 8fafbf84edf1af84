#include "vidozir/reghelper.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/win32.h"
#include "support/test_support.h"

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
    LONG SetText(const wchar_t* name, DWORD type, const std::u16string& units, DWORD size) const {
        return Set(name, type, units.c_str(), size);
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
        if (RegOpenKeyExW(root, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) {
            return false;
        }
        RegCloseKey(key);
        return true;
    }
    Raw Sub(const std::wstring& child) const { return Raw{root, path + L"\\" + child}; }
};

std::u16string Repeat(size_t count, char16_t unit = u'x') {
    return std::u16string(count, unit);
}

CLuStringW Text(const std::u16string& units) {
    CLuStringW text;
    for (char16_t unit : units) {
        text += static_cast<wchar_t>(unit);
    }
    return text;
}

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
        HKEY root;
        if (RegOpenKeyExW(HKEY_USERS, ExpectedSid().c_str(), 0, KEY_ALL_ACCESS, &root) == 0) {
            DeleteTree(root, top_);
            RegCloseKey(root);
        }
        if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"Software", 0, KEY_ALL_ACCESS, &root) == 0) {
            DeleteTree(root, top_);
            RegCloseKey(root);
        }
    }
    static void DeleteTree(HKEY parent, const std::wstring& name) {
        HKEY key;
        if (RegOpenKeyExW(parent, name.c_str(), 0, KEY_ALL_ACCESS, &key) != ERROR_SUCCESS) {
            return;
        }
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

TEST_F(RegHelperTest, UserKeysLiveUnderTheSessionUsersSid) {
    helper_.WriteHKCUDWORD(Sub(), L"Number", 0x12345678);
    helper_.WriteHKCUString(Sub() + L"\\Deeper", L"Text", L"hello");
    DWORD type = 0, size = 0;
    EXPECT_EQ(user_.Query(L"Number", &type, &size), ERROR_SUCCESS);
    EXPECT_EQ(type, REG_DWORD);
    EXPECT_EQ(size, 4u);
    EXPECT_EQ(user_.Sub(L"Deeper").Query(L"Text", &type, &size), ERROR_SUCCESS);
    EXPECT_EQ(type, REG_SZ);
    EXPECT_EQ(size, 12u);
    EXPECT_EQ(helper_.ReadHKCUDWORD(Sub(), L"Number"), 0x12345678u);
    EXPECT_EQ(helper_.ReadHKCUString(Sub() + L"\\Deeper", L"Text"), L"hello");
    EXPECT_EQ(helper_.FindHKCUKey((sub_ + L"\\DEEPER").c_str()), 1);
    EXPECT_EQ(helper_.FindHKCUKey((sub_ + L"\\Missing").c_str()), 0);
    helper_.DeleteHKCUValue(Sub(), L"Number");
    EXPECT_EQ(user_.Query(L"Number", &type, &size), ERROR_FILE_NOT_FOUND);
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
    struct Case {
        const wchar_t* path;  // below the test's top-level key
        bool topStays, keysStays, childStays;
    } const cases[] = {
        {L"", true, true, true},                // one component: nothing happens
        {L"\\", true, true, true},              // only backslash first: nothing
        {L"\\Keys\\Child", true, true, false},  // three components: the third goes
        {L"\\Keys", true, false, false},        // two: the second with its subtree
    };
    for (const Case& c : cases) {
        ASSERT_EQ(top.Sub(L"Keys\\Child\\Grand").Set(L"v", REG_DWORD, "abcd", 4), 0);
        ASSERT_EQ(top.Sub(L"Keys\\Child").Set(L"w", REG_DWORD, "abcd", 4), 0);
        std::wstring path = std::wstring(c.path) == L"\\" ? L"\\" + top_ : top_ + c.path;
        helper_.DeleteHKCUKey(path.c_str());
        EXPECT_EQ(top.Exists(), c.topStays) << c.path;
        EXPECT_EQ(top.Sub(L"Keys").Exists(), c.keysStays) << c.path;
        EXPECT_EQ(top.Sub(L"Keys\\Child").Exists(), c.childStays) << c.path;
        EXPECT_EQ(top.Sub(L"Keys\\Child\\Grand").Exists(), c.childStays) << c.path;
    }
}

TEST_F(RegHelperTest, ReadersCheckTypesAndSizes) {
    const std::u16string text = u"text";
    const std::u16string odd = u"odd";
    struct Case {
        const wchar_t* name;
        DWORD type;
        std::u16string data;  // the bytes as units; `size` may cut them
        DWORD size;
        DWORD asDword;
        const wchar_t* asString;
    } const cases[] = {
        {L"sz", REG_SZ, text + u'\0', 10, 0, L"text"},
        {L"expand", REG_EXPAND_SZ, u"%TEMP%" + std::u16string(1, 0), 14, 0, L"%TEMP%"},
        {L"dword", REG_DWORD, u"\x5678\x1234", 4, 0x12345678, L""},
        {L"binary4", REG_BINARY, u"\x5678\x1234", 4, 0, L""},
        {L"empty", REG_SZ, u"", 0, 0, L""},
        {L"unended", REG_SZ, text, 8, 0, L""},
        {L"oddSize", REG_SZ, odd + u'\0', 7, 0, L""},
        {L"at258", REG_SZ, Repeat(258) + u'\0', 518, 0, nullptr},
        {L"at259", REG_SZ, Repeat(259) + u'\0', 520, 0, L""},
    };
    for (const Case& c : cases) {
        if (vidozir_test::IsWine() && std::wstring(c.name) == L"unended") {
            continue;  // Wine stores a REG_SZ without its terminator with one added
        }
        ASSERT_EQ(user_.SetText(c.name, c.type, c.data, c.size), ERROR_SUCCESS) << c.name;
        EXPECT_EQ(helper_.ReadHKCUDWORD(Sub(), c.name), c.asDword) << c.name;
        CLuStringW expected = c.asString != nullptr ? CLuStringW(c.asString) : Text(Repeat(258));
        EXPECT_EQ(helper_.ReadHKCUString(Sub(), c.name), expected) << c.name;
    }
    EXPECT_EQ(helper_.ReadHKCUDWORD(Sub(), L"missing"), 0u);
    EXPECT_EQ(helper_.ReadHKCUString(Sub() + L"\\Missing", L"sz"), L"");

    // The machine readers check no type; longer than their buffers reads as
    // nothing (for a number: more than 4 bytes).
    struct MachineCase {
        const wchar_t* name;
        DWORD type;
        std::u16string data;
        DWORD size;
        DWORD asDword;
        std::u16string asString;
    } const machine[] = {
        {L"binary4", REG_BINARY, u"\x5678\x1234", 4, 0x12345678, u"\x5678\x1234"},
        {L"binary2", REG_BINARY, u"\xBEEF", 2, 0xBEEF, u"\xBEEF"},
        {L"binary8", REG_BINARY, u"\x0001\x0002\x0003\x0004", 8, 0, u"\x0001\x0002\x0003\x0004"},
        {L"dwordAsText", REG_DWORD, u"AB", 4, 0x00420041, u"AB"},
        {L"at2046", REG_SZ, Repeat(1022) + u'\0', 2046, 0, Repeat(1022)},
        {L"at2048", REG_SZ, Repeat(1023) + u'\0', 2048, 0, u""},
    };
    for (const MachineCase& c : machine) {
        ASSERT_EQ(machine_.SetText(c.name, c.type, c.data, c.size), ERROR_SUCCESS) << c.name;
        CLuStringW subKey = (L"Software\\" + top_).c_str();
        EXPECT_EQ(helper_.ReadHKLMDWord(subKey, c.name), c.asDword) << c.name;
        EXPECT_EQ(helper_.ReadHKLMString(subKey, c.name), Text(c.asString)) << c.name;
    }
    EXPECT_EQ(helper_.ReadHKLMDWord(L"Software\\VidozirTest-missing", L"x"), 0u);
    EXPECT_EQ(helper_.ReadHKLMString(L"Software\\VidozirTest-missing", L"x"), L"");
}

TEST_F(RegHelperTest, WritersCreateKeysAndWriteTheFormats) {
    helper_.WriteHKCUString(Sub() + L"\\New\\Deep", L"Empty", L"");
    helper_.WriteHKCUDWORD(Sub() + L"\\New\\Deep", L"", 7);  // the default value
    DWORD type = 0, size = 0;
    EXPECT_EQ(user_.Sub(L"New\\Deep").Query(L"Empty", &type, &size), ERROR_SUCCESS);
    EXPECT_EQ(type, REG_SZ);
    EXPECT_EQ(size, 2u);
    EXPECT_EQ(helper_.ReadHKCUString(Sub() + L"\\New\\Deep", L"Empty"), L"");
    EXPECT_EQ(helper_.ReadHKCUDWORD(Sub() + L"\\New\\Deep", L""), 7u);

    // An existing key is opened as it is.
    ASSERT_EQ(user_.Sub(L"New").Set(L"Kept", REG_DWORD, "\x01\x02\x03\x04", 4), 0);
    ASSERT_EQ(user_.Sub(L"New").Set(L"Second", REG_BINARY, "", 0), 0);
    EXPECT_EQ(helper_.CreateHKCUKey((sub_ + L"\\New").c_str(), REG_OPTION_VOLATILE), 1);
    EXPECT_EQ(helper_.ReadHKCUDWORD(Sub() + L"\\New", L"Kept"), 0x04030201u);
    EXPECT_EQ(helper_.CreateHKCUKey((sub_ + L"\\Volatile").c_str(), REG_OPTION_VOLATILE), 1);
    EXPECT_TRUE(user_.Sub(L"Volatile").Exists());
    EXPECT_EQ(helper_.CreateHKCUKey((sub_ + L"\\Volatile\\Stored").c_str(), 0), 0);

    std::vector<CLuStringW> names = {L"held"};
    EXPECT_EQ(helper_.QueryHKCUKey(Sub() + L"\\New", names), 1);  // two values, one subkey
    ASSERT_EQ(names.size(), 3u);
    EXPECT_EQ(names[0], L"held");
    EXPECT_EQ(names[1], L"Kept");  // values in the order they were first set
    EXPECT_EQ(names[2], L"Second");
    EXPECT_EQ(helper_.QueryHKCUKey(Sub() + L"\\Missing", names), 0);
    EXPECT_EQ(names.size(), 3u);
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
    ASSERT_EQ(locked.SetText(L"Text", REG_SZ, u"x", 4), 0);
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

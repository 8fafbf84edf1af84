// The Linux registry store: several processes at once, a writer killed
// mid-way, volatile keys, names that ignore case.
#include <fcntl.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <set>
#include <string>
#include <thread>

#include "platform/win32.h"
#include "support/child_process.h"
#include "support/registry_key.h"
#include "support/test_support.h"

namespace {

const bool g_registry = vidozir_test::UseTempRegistry();

std::wstring Wide(const std::string& text) {
    return std::wstring(text.begin(), text.end());
}

// Writes `name` = `value` as REG_SZ, opening and closing the key as the
// registry helper does.
LONG Write(const std::wstring& path, const std::wstring& name, const std::wstring& value) {
    const std::u16string units(value.begin(), value.end());
    return vidozir_test::RegistryKey{HKEY_CURRENT_USER, path}.Set(
        name.c_str(), REG_SZ, units.c_str(), static_cast<DWORD>((units.size() + 1) * 2));
}

// The REG_SZ value, or "<error N>".
std::wstring Read(const std::wstring& path, const std::wstring& name) {
    HKEY key;
    LONG result = RegOpenKeyExW(HKEY_CURRENT_USER, path.c_str(), 0, KEY_READ, &key);
    if (result != ERROR_SUCCESS) {
        return L"<error " + std::to_wstring(result) + L">";
    }
    char16_t units[64] = {};
    DWORD size = sizeof(units) - 2;
    result = RegQueryValueExW(key, name.c_str(), nullptr, nullptr, reinterpret_cast<BYTE*>(units),
                              &size);
    RegCloseKey(key);
    return result == ERROR_SUCCESS
               ? std::wstring(units, units + std::char_traits<char16_t>::length(units))
               : L"<error " + std::to_wstring(result) + L">";
}

DWORD ValueCount(const std::wstring& path) {
    HKEY key;
    DWORD values = 0;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, path.c_str(), 0, KEY_READ, &key) == ERROR_SUCCESS) {
        RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &values,
                         nullptr, nullptr, nullptr, nullptr);
        RegCloseKey(key);
    }
    return values;
}

std::wstring Expected(const std::string& writer, int i) {
    return Wide(writer + "#" + std::to_string(i) + "#" + std::string(i % 40, 'v'));
}

// args: key path, writer name, count (0: until killed), progress file or "-".
VIDOZIR_TEST_CHILD(reg_writer) {
    const std::wstring path = Wide(args.at(0));
    const int count = std::stoi(args.at(2));
    int progress = args.at(3) == "-" ? -1 : open(args.at(3).c_str(), O_WRONLY | O_APPEND);
    for (int i = 0; count == 0 || i < count; ++i) {
        std::wstring name = Wide(args.at(1) + "-" + std::to_string(i));
        if (Write(path, name, Expected(args.at(1), i)) != ERROR_SUCCESS) {
            return 2;
        }
        if (progress >= 0) {
            // Reported only once the write has returned, so committed.
            std::string line = std::to_string(i) + "\n";
            if (write(progress, line.data(), line.size()) != static_cast<ssize_t>(line.size())) {
                return 3;
            }
        }
    }
    return 0;
}

TEST(RegistryStore, FourProcessesWritingOneKeyLoseNothing) {
    const std::string path = "Software\\VidozirStore\\Shared" + std::to_string(getpid());
    std::vector<std::unique_ptr<vidozir_test::ChildProcess>> writers;
    for (int w = 0; w < 4; ++w) {
        writers.push_back(std::make_unique<vidozir_test::ChildProcess>(
            "reg_writer", std::vector<std::string>{path, "w" + std::to_string(w), "1000", "-"}));
        ASSERT_TRUE(writers.back()->Started());
    }
    for (auto& writer : writers) {
        EXPECT_EQ(writer->Wait(240000), 0);
    }
    EXPECT_EQ(ValueCount(Wide(path)), 4000u);
    int wrong = 0;
    for (int w = 0; w < 4; ++w) {
        std::string writer = "w" + std::to_string(w);
        for (int i = 0; i < 1000; ++i) {
            wrong +=
                Read(Wide(path), Wide(writer + "-" + std::to_string(i))) != Expected(writer, i);
        }
    }
    EXPECT_EQ(wrong, 0);
}

TEST(RegistryStore, AWriterKilledMidWayLeavesEveryCommittedValue) {
    const std::string path = "Software\\VidozirStore\\Killed" + std::to_string(getpid());
    const std::string progress = vidozir_test::MakeTempDir("regkill") + "/progress";
    close(open(progress.c_str(), O_CREAT | O_WRONLY, 0600));
    {
        vidozir_test::ChildProcess writer("reg_writer", {path, "k", "0", progress});
        ASSERT_TRUE(writer.Started());
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        struct stat info = {};
        while (stat(progress.c_str(), &info) == 0 && info.st_size < 3000 &&
               std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    }  // killed with SIGKILL, most likely in the middle of a write
    std::ifstream lines(progress);
    int committed = -1;
    for (int i; lines >> i;) {
        committed = i;
    }
    ASSERT_GT(committed, 100);
    for (int i = 0; i <= committed; ++i) {
        ASSERT_EQ(Read(Wide(path), Wide("k-" + std::to_string(i))), Expected("k", i)) << i;
    }
    EXPECT_GE(ValueCount(Wide(path)), static_cast<DWORD>(committed + 1));
    EXPECT_LE(ValueCount(Wide(path)), static_cast<DWORD>(committed + 2));

    // The store itself is whole.
    std::string file = std::string(std::getenv("VIDOZIR_REGISTRY_USER_DIR")) + "/S-1-22-1-" +
                       std::to_string(geteuid()) + ".db";
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open_v2(file.c_str(), &db, SQLITE_OPEN_READONLY, nullptr), SQLITE_OK);
    sqlite3_stmt* check = nullptr;
    sqlite3_prepare_v2(db, "PRAGMA integrity_check", -1, &check, nullptr);
    ASSERT_EQ(sqlite3_step(check), SQLITE_ROW);
    EXPECT_STREQ(reinterpret_cast<const char*>(sqlite3_column_text(check, 0)), "ok");
    sqlite3_finalize(check);
    sqlite3_close(db);
}

// args: key path, volatile folder. Reports what a process of a later boot
// (another volatile folder) sees: 0 when the stored key is there and the
// volatile one is not.
VIDOZIR_TEST_CHILD(reg_next_boot) {
    setenv("VIDOZIR_REGISTRY_VOLATILE_DIR", args.at(1).c_str(), 1);
    std::wstring path = Wide(args.at(0));
    HKEY key;
    int code = 0;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, (path + L"\\Stored").c_str(), 0, KEY_READ, &key) != 0) {
        code |= 1;
    } else {
        RegCloseKey(key);
    }
    if (RegOpenKeyExW(HKEY_CURRENT_USER, (path + L"\\Volatile").c_str(), 0, KEY_READ, &key) !=
        ERROR_FILE_NOT_FOUND) {
        code |= 2;
    }
    return code;
}

TEST(RegistryStore, VolatileKeysLiveInTheStoreOfTheBoot) {
    const std::string path = "Software\\VidozirStore\\Boot" + std::to_string(getpid());
    ASSERT_EQ(Write(Wide(path + "\\Stored"), L"v", L"kept"), ERROR_SUCCESS);
    HKEY key;
    ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, Wide(path + "\\Volatile\\Inner").c_str(), 0,
                              nullptr, REG_OPTION_VOLATILE, KEY_ALL_ACCESS, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    RegCloseKey(key);
    // Both kinds are children of one stored key, in name order.
    ASSERT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, Wide(path).c_str(), 0, KEY_READ, &key), 0);
    wchar_t name[32];
    std::vector<std::wstring> names;
    for (DWORD i = 0, length = 32;
         RegEnumKeyExW(key, i, name, &length, nullptr, nullptr, nullptr, nullptr) == 0;
         ++i, length = 32) {
        names.push_back(name);
    }
    RegCloseKey(key);
    EXPECT_EQ(names, (std::vector<std::wstring>{L"Stored", L"Volatile"}));

    vidozir_test::ChildProcess sameBoot("reg_next_boot",
                                        {path, std::getenv("VIDOZIR_REGISTRY_VOLATILE_DIR")});
    EXPECT_EQ(sameBoot.Wait(60000), 2);  // the volatile key is seen in this boot
    vidozir_test::ChildProcess nextBoot("reg_next_boot",
                                        {path, vidozir_test::MakeTempDir("regboot")});
    EXPECT_EQ(nextBoot.Wait(60000), 0);
}

TEST(RegistryStore, NamesIgnoreCaseAndKeepTheirWrittenCase) {
    const std::wstring path = Wide("Software\\VidozirStore\\Case" + std::to_string(getpid()));
    ASSERT_EQ(Write(path + L"\\MixedCase\\\u00c4rger", L"VaLue", L"one"), ERROR_SUCCESS);
    ASSERT_EQ(Write(path + L"\\MIXEDCASE\\\u00e4RGER", L"value", L"two"), ERROR_SUCCESS);
    EXPECT_EQ(Read(path + L"\\mixedcase\\\u00c4RGER", L"VALUE"), L"two");
    HKEY key;
    ASSERT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, (path + L"\\mixedCASE").c_str(), 0, KEY_READ, &key),
              0);
    wchar_t name[32];
    DWORD length = 32;
    ASSERT_EQ(RegEnumKeyExW(key, 0, name, &length, nullptr, nullptr, nullptr, nullptr), 0);
    EXPECT_EQ(std::wstring(name), L"\u00c4rger");
    EXPECT_EQ(RegEnumKeyExW(key, 1, name, &length, nullptr, nullptr, nullptr, nullptr),
              ERROR_NO_MORE_ITEMS);
    RegCloseKey(key);
    ASSERT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, (path + L"\\MixedCase\\\u00c4rger").c_str(), 0,
                            KEY_READ, &key),
              0);
    length = 32;
    ASSERT_EQ(RegEnumValueW(key, 0, name, &length, nullptr, nullptr, nullptr, nullptr), 0);
    EXPECT_EQ(std::wstring(name), L"VaLue");
    RegCloseKey(key);
}

// args: key path. Deletes Gone, leaves Locked readable only, and replaces
// Renewed by a new key with "new" in v.
VIDOZIR_TEST_CHILD(reg_change) {
    const std::wstring path = Wide(args.at(0));
    return (RegDeleteKeyW(HKEY_CURRENT_USER, (path + L"\\Gone").c_str()) != 0) |
           (VidozirRegSetUserAccess(HKEY_CURRENT_USER, (path + L"\\Locked").c_str(), KEY_READ) != 0)
               << 1 |
           (RegDeleteKeyW(HKEY_CURRENT_USER, (path + L"\\Renewed").c_str()) != 0) << 2 |
           (Write(path + L"\\Renewed", L"v", L"new") != 0) << 3;
}

// Keys this process has opened are looked up again once another process
// changed the hive: none is found, granted or read through an old look-up.
TEST(RegistryStore, OpensSeeWhatAnotherProcessChanged) {
    const std::wstring path = Wide("Software\\VidozirStore\\Seen" + std::to_string(getpid()));
    const wchar_t* const names[] = {L"\\Gone", L"\\Locked", L"\\Renewed"};
    for (const wchar_t* name : names) {
        ASSERT_EQ(Write(path + name, L"v", L"old"), ERROR_SUCCESS);
    }
    for (const wchar_t* name : names) {
        ASSERT_EQ(Read(path + name, L"v"), L"old");
    }
    vidozir_test::ChildProcess change("reg_change", {std::string(path.begin(), path.end())});
    ASSERT_EQ(change.Wait(60000), 0);
    HKEY key;
    EXPECT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, (path + L"\\Gone").c_str(), 0, KEY_READ, &key),
              ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, (path + L"\\Locked").c_str(), 0, KEY_WRITE, &key),
              ERROR_ACCESS_DENIED);
    EXPECT_EQ(Read(path + L"\\Renewed", L"v"), L"new");
}

// args: user store folder, the text expected in HKCU\Software v. Bit 0: the
// read gave something else; bit 1: writing w failed.
VIDOZIR_TEST_CHILD(reg_layout) {
    setenv("VIDOZIR_REGISTRY_USER_DIR", args.at(0).c_str(), 1);
    setenv("VIDOZIR_REGISTRY_VOLATILE_DIR", args.at(0).c_str(), 1);
    return (Read(L"Software", L"v") != Wide(args.at(1))) |
           (Write(L"Software", L"w", L"new") != ERROR_SUCCESS) << 1;
}

int64_t QueryNumber(sqlite3* db, const char* sql) {
    sqlite3_stmt* statement = nullptr;
    sqlite3_prepare_v2(db, sql, -1, &statement, nullptr);
    int64_t value = sqlite3_step(statement) == SQLITE_ROW ? sqlite3_column_int64(statement, 0) : -1;
    sqlite3_finalize(statement);
    return value;
}

// A store of the first layout (values without their own time) is brought up
// to date with its contents; a store of a later layout is left alone.
TEST(RegistryStore, AnOlderStoreIsUpgradedAndANewerOneRefused) {
    const std::string dir = vidozir_test::MakeTempDir("reglayout");
    const std::string file = dir + "/S-1-22-1-" + std::to_string(geteuid()) + ".db";
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(file.c_str(), &db), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(
                  db,
                  "PRAGMA encoding='UTF-16le'; PRAGMA journal_mode=WAL;"
                  "CREATE TABLE keys(id INTEGER PRIMARY KEY AUTOINCREMENT, parent INTEGER NOT NULL,"
                  " path BLOB NOT NULL UNIQUE, name TEXT NOT NULL, class TEXT NOT NULL,"
                  " access INTEGER NOT NULL, written INTEGER NOT NULL);"
                  "CREATE INDEX keys_by_parent ON keys(parent,path);"
                  "CREATE TABLE vals(key INTEGER NOT NULL, fold BLOB NOT NULL, name TEXT NOT NULL,"
                  " type INTEGER NOT NULL, data BLOB NOT NULL, UNIQUE(key,fold));"
                  "CREATE INDEX vals_in_order ON vals(key);"
                  "INSERT INTO keys VALUES(1,0,x'','','',983103,0),"
                  " (2,1,x'0053004F004600540057004100520045','Software','',983103,0);"
                  "INSERT INTO vals VALUES(2,x'0056','v',1,x'6F006C0064000000');",
                  nullptr, nullptr, nullptr),
              SQLITE_OK);
    sqlite3_close(db);

    vidozir_test::ChildProcess upgrade("reg_layout", {dir, "old"});
    EXPECT_EQ(upgrade.Wait(60000), 0);
    ASSERT_EQ(sqlite3_open(file.c_str(), &db), SQLITE_OK);
    EXPECT_EQ(QueryNumber(db, "PRAGMA user_version"), 1);
    EXPECT_GT(QueryNumber(db, "SELECT written FROM vals WHERE name='w'"), 0);

    ASSERT_EQ(sqlite3_exec(db, "PRAGMA user_version=99", nullptr, nullptr, nullptr), SQLITE_OK);
    sqlite3_close(db);
    vidozir_test::ChildProcess refuse("reg_layout", {dir, "old"});
    EXPECT_EQ(refuse.Wait(60000), 3);
    ASSERT_EQ(sqlite3_open(file.c_str(), &db), SQLITE_OK);
    EXPECT_EQ(QueryNumber(db, "PRAGMA user_version"), 99);
    EXPECT_EQ(QueryNumber(db, "SELECT count(*) FROM vals"), 2);
    sqlite3_close(db);
}
}  // namespace

// The registry store of non-Windows builds: one SQLite database per hive
// (HKEY_LOCAL_MACHINE, and HKEY_USERS\<SID> for each user), with the hive's
// volatile keys in a second database that does not outlive the boot. Several
// processes use a hive at once: write-ahead log, a busy time-out and one short
// transaction per call, so a process killed mid-write loses only that write.
//
// Store folders (each can be redirected, the tests use that):
//   user hives      VIDOZIR_REGISTRY_USER_DIR, else <data folder>/vidozir/registry,
//                   the data folder being $XDG_DATA_HOME or ~/.local/share
//   machine hive    VIDOZIR_REGISTRY_MACHINE_DIR, else /var/lib/vidozir/registry
//   volatile keys   VIDOZIR_REGISTRY_VOLATILE_DIR, else $XDG_RUNTIME_DIR/vidozir
//                   (user hives) or /run/vidozir (machine hive), else /dev/shm
#pragma once

#include <stdint.h>

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/registry.h"
#include "platform/registry_keycache_posix.h"

struct sqlite3;

namespace vidozir::platform {

class RegHive;

// A key as a handle refers to it. Stored keys have positive ids, volatile
// keys negative ones; `folded` is the key's path below the hive's root with
// every component upper-cased, as big-endian UTF-16 (byte order is unit order).
struct RegKeyRef {
    RegHive* hive = nullptr;  // null: HKEY_USERS itself, which has no hive
    int64_t id = 0;
    std::string folded;
};

struct RegKeyStats {
    std::u16string keyClass;
    DWORD subKeys = 0, maxSubKeyLength = 0, maxClassLength = 0;
    DWORD values = 0, maxValueNameLength = 0, maxValueLength = 0;
    uint64_t written = 0;  // FILETIME ticks
};

class RegHive {
public:
    static constexpr int64_t kRootId = 1;

    // The machine hive; a store that cannot be opened is an empty hive that
    // refuses writes. Hives stay loaded for the life of the process.
    static RegHive* Machine();
    // The hive of a user SID "S-1-22-1-<uid>"; null for any other SID and for
    // a user the system does not know.
    static RegHive* User(const std::u16string& sid);
    // The SID of the process's effective user (the hive of HKEY_CURRENT_USER).
    static std::u16string ProcessUserSid();

    RegKeyRef Root() { return RegKeyRef{this, kRootId, std::string()}; }

    // `folded` is the path below `from`, folded (RegFoldAppend). `wanted` is a
    // mapped access mask; on success *granted holds what the key allows of it.
    LONG Open(const RegKeyRef& from, const std::string& folded, REGSAM wanted, RegKeyRef* key,
              REGSAM* granted);
    // Creates what is missing; `fromGranted` are the rights of the handle of
    // `from`, needed when the first new key goes directly below it.
    LONG Create(const RegKeyRef& from, REGSAM fromGranted, const std::vector<std::u16string>& path,
                const std::u16string& keyClass, bool isVolatile, REGSAM wanted, RegKeyRef* key,
                REGSAM* granted, bool* created);
    // Deletes a key that has no subkeys.
    LONG DeleteKey(const RegKeyRef& key);

    LONG SetValue(const RegKeyRef& key, const std::u16string& name, DWORD type, const BYTE* data,
                  DWORD size);
    // `folded` is the value's name folded (RegFoldAppend).
    LONG QueryValue(const RegKeyRef& key, const std::string& folded, DWORD* type,
                    std::string* data);
    LONG DeleteValue(const RegKeyRef& key, const std::string& folded);
    LONG EnumKey(const RegKeyRef& key, DWORD index, std::u16string* name, std::u16string* keyClass,
                 uint64_t* written);
    LONG EnumValue(const RegKeyRef& key, DWORD index, std::u16string* name, DWORD* type,
                   std::string* data);
    LONG Stats(const RegKeyRef& key, RegKeyStats* stats);

    // The rights the user may be granted on the key (KEY_ALL_ACCESS for new
    // keys). Within a user's own hive this reproduces keys that the user may
    // read but not write; the boundary between users is the files' ownership.
    LONG SetUserAccess(const RegKeyRef& key, REGSAM allowed);

    ~RegHive();

private:
    struct Statements;
    static RegHive* UserHive(const std::u16string& sid);
    RegHive(const std::string& file, const std::string& volatileFile, unsigned ownerUid);
    bool Setup(const std::string& file, const std::string& volatileFile, bool readOnly);
    // Brings the layout of an attached store up to date; false when it cannot.
    bool Upgrade(const char* schema, bool writable);
    void Close();
    LONG Lookup(const std::string& folded, int64_t* id, REGSAM* allowed);
    LONG Exists(const RegKeyRef& key);
    LONG Result(int code);
    REGSAM Allowed(REGSAM stored) const;

    std::mutex lock_;  // one connection per hive, one caller at a time
    sqlite3* db_ = nullptr;
    bool readOnly_ = false;
    bool volatileAvailable_ = false;
    std::unique_ptr<Statements> statements_;
    RegKeyCache keys_;  // under lock_
};

// Upper-cased components joined by backslashes, as big-endian UTF-16 bytes.
std::string RegFold(const std::string& base, const std::vector<std::u16string>& components);
// Appends `length` units (UTF-16, one per element) upper-cased, as RegFold does.
void RegFoldAppend(std::string* out, const wchar_t* units, size_t length);

}  // namespace vidozir::platform

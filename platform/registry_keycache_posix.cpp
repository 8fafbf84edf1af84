#include "platform/registry_keycache_posix.h"

#include <sqlite3.h>

#include <atomic>
#include <cstring>

namespace vidozir::platform {

namespace {

// The log index starts with its header twice, 48 bytes each; the writer
// writes the second copy first, so equal copies are a whole header. Byte 12
// is nonzero once the header is set up.
constexpr size_t kHeaderWords = 12;
constexpr size_t kInitByte = 12;
// The first page of the log index, as SQLite maps it (32 KiB pages).
constexpr int kIndexPage = 32768;
constexpr size_t kMaxEntries = 1024;

bool InWalMode(sqlite3* db, const char* schema) {
    std::string sql = std::string("PRAGMA ") + schema + ".journal_mode";
    sqlite3_stmt* statement = nullptr;
    bool wal = false;
    if (sqlite3_prepare_v2(db, sql.c_str(), -1, &statement, nullptr) == SQLITE_OK &&
        sqlite3_step(statement) == SQLITE_ROW) {
        const unsigned char* mode = sqlite3_column_text(statement, 0);
        wal = mode != nullptr && std::strcmp(reinterpret_cast<const char*>(mode), "wal") == 0;
    }
    sqlite3_finalize(statement);
    return wal;
}

// The connection's own mapping of a database's log index, or null. The file
// is never opened here: closing a descriptor of the "-shm" file would drop
// every POSIX lock this process holds on it, SQLite's among them, and another
// process could then reset the index under the connection.
const volatile uint32_t* LogIndex(sqlite3* db, const char* schema) {
    sqlite3_file* file = nullptr;
    if (!InWalMode(db, schema) ||
        sqlite3_file_control(db, schema, SQLITE_FCNTL_FILE_POINTER, &file) != SQLITE_OK ||
        file == nullptr || file->pMethods == nullptr || file->pMethods->iVersion < 2 ||
        file->pMethods->xShmMap == nullptr) {
        return nullptr;
    }
    void volatile* region = nullptr;
    if (file->pMethods->xShmMap(file, 0, kIndexPage, 0, &region) != SQLITE_OK) {
        return nullptr;
    }
    return static_cast<const volatile uint32_t*>(region);
}

}  // namespace

void RegKeyCache::Attach(sqlite3* db, const char* const schemas[kDatabases]) {
    Detach();
    on_ = true;
    for (int d = 0; d < kDatabases; ++d) {
        const char* file = sqlite3_db_filename(db, schemas[d]);
        if (file == nullptr || *file == 0) {
            continue;  // in memory: only this connection changes it
        }
        index_[d] = LogIndex(db, schemas[d]);
        if (index_[d] == nullptr) {
            on_ = false;
        }
    }
    if (!on_) {
        Detach();
    }
}

void RegKeyCache::Detach() {
    // The mappings are the connection's: nothing to release here.
    for (int d = 0; d < kDatabases; ++d) {
        index_[d] = nullptr;
    }
    on_ = false;
    entries_.clear();
}

bool RegKeyCache::Read(Stamp* now) const {
    for (int d = 0; d < kDatabases; ++d) {
        const volatile uint32_t* index = index_[d];
        if (index == nullptr) {
            continue;
        }
        uint32_t second[kHeaderWords];
        for (size_t i = 0; i < kHeaderWords; ++i) {
            now->header[d][i] = index[i];
        }
        std::atomic_thread_fence(std::memory_order_seq_cst);
        for (size_t i = 0; i < kHeaderWords; ++i) {
            second[i] = index[kHeaderWords + i];
        }
        unsigned char init = 0;
        std::memcpy(&init, reinterpret_cast<const unsigned char*>(now->header[d]) + kInitByte, 1);
        if (init == 0 || std::memcmp(now->header[d], second, sizeof(second)) != 0) {
            return false;  // a writer is between the two copies
        }
    }
    return true;
}

bool RegKeyCache::Take(Stamp* now) {
    if (!on_ || !Read(now)) {
        return false;
    }
    if (std::memcmp(now, &stamp_, sizeof(Stamp)) != 0) {
        entries_.clear();
        stamp_ = *now;
    }
    return true;
}

bool RegKeyCache::Find(const std::string& folded, int64_t* id, REGSAM* allowed) const {
    auto found = entries_.find(folded);
    if (found == entries_.end()) {
        return false;
    }
    *id = found->second.id;
    *allowed = found->second.allowed;
    return true;
}

void RegKeyCache::Add(const Stamp& before, const std::string& folded, int64_t id, REGSAM allowed) {
    Stamp after;
    if (!on_ || std::memcmp(&before, &stamp_, sizeof(Stamp)) != 0 || !Read(&after) ||
        std::memcmp(&before, &after, sizeof(Stamp)) != 0) {
        return;
    }
    if (entries_.size() >= kMaxEntries) {
        entries_.clear();
    }
    entries_[folded] = Entry{id, allowed};
}

}  // namespace vidozir::platform

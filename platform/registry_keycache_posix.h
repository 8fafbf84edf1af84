// Key look-ups of one hive connection (folded path to key id and rights), kept
// only while no process has committed anything to the hive's databases.
//
// Every key open would otherwise cost a read transaction of its own, and the
// registry helper opens a key at every call. Whether anything was committed
// is read from SQLite's write-ahead-log index (the "-shm" file that every
// process using a database in WAL mode maps): its header, kept twice, changes
// with every commit and every reset of the log. A look-up found while the
// header stayed the same before and after it is current for as long as the
// header stays so. A database that other processes cannot reach (in memory)
// has no such file; the hive clears the cache after each of its own calls
// that change keys, whose uncommitted work the header does not show either.
#pragma once

#include <stdint.h>

#include <string>
#include <unordered_map>

#include "platform/registry.h"

struct sqlite3;

namespace vidozir::platform {

class RegKeyCache {
public:
    static constexpr int kDatabases = 2;  // the stored keys ("main"), the volatile ones ("vol")
    struct Stamp {
        uint32_t header[kDatabases][12] = {};
    };

    RegKeyCache() = default;
    RegKeyCache(const RegKeyCache&) = delete;
    RegKeyCache& operator=(const RegKeyCache&) = delete;
    ~RegKeyCache() { Detach(); }

    // Finds the connection's mapping of the log index of each database of
    // `db` that lives in a file; without all of them the cache stays off.
    void Attach(sqlite3* db, const char* const schemas[kDatabases]);
    void Detach();

    // The state of the databases now; false when the cache is off or a writer
    // is changing the header. Entries of another state are dropped.
    bool Take(Stamp* now);
    bool Find(const std::string& folded, int64_t* id, REGSAM* allowed) const;
    // Keeps a look-up made after Take gave `before`, if nothing was committed since.
    void Add(const Stamp& before, const std::string& folded, int64_t id, REGSAM allowed);
    void Clear() { entries_.clear(); }

private:
    struct Entry {
        int64_t id;
        REGSAM allowed;
    };
    bool Read(Stamp* now) const;

    const volatile uint32_t* index_[kDatabases] = {};  // null: in memory, nothing to watch
    bool on_ = false;
    Stamp stamp_;
    std::unordered_map<std::string, Entry> entries_;
};

}  // namespace vidozir::platform

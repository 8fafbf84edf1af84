#include "platform/registry_store.h"

#include <fcntl.h>
#include <pwd.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <unicode/uchar.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <map>

#include "platform/kernel.h"
#include "platform/registry.h"

#define ERROR_REGISTRY_IO_FAILED 1016L

namespace vidozir::platform {

namespace {

constexpr REGSAM kReadRights = KEY_READ | KEY_NOTIFY;

// Writes wait this long for another process's transaction to end. A call never
// holds a transaction longer than one statement or two, so the wait is short
// unless a process hangs mid-write.
constexpr int kBusyTimeoutMs = 30000;

uint64_t NowTicks() {
    timeval now;
    gettimeofday(&now, nullptr);
    // 100-nanosecond ticks since 1601, as FILETIME counts.
    return (static_cast<uint64_t>(now.tv_sec) + 11644473600ull) * 10000000ull +
           static_cast<uint64_t>(now.tv_usec) * 10u;
}

char16_t Upper(char16_t unit) {
    if (unit < 0x80) {
        return unit >= u'a' && unit <= u'z' ? static_cast<char16_t>(unit - 32) : unit;
    }
    if (unit >= 0xD800 && unit <= 0xDFFF) {
        return unit;
    }
    UChar32 mapped = u_toupper(unit);
    // A mapping that leaves the unit's plane is not taken.
    return mapped <= 0xFFFF ? static_cast<char16_t>(mapped) : unit;
}

// Appends units upper-cased, each as two bytes, high byte first.
template <typename Unit>
void FoldUnits(std::string* out, const Unit* units, size_t length) {
    size_t at = out->size();
    out->resize(at + 2 * length);
    char* bytes = &(*out)[at];
    for (size_t i = 0; i < length; ++i) {
        char16_t upper = Upper(static_cast<char16_t>(units[i]));
        bytes[2 * i] = static_cast<char>(upper >> 8);
        bytes[2 * i + 1] = static_cast<char>(upper & 0xFF);
    }
}

void AppendFolded(std::string* out, char16_t unit) {
    FoldUnits(out, &unit, 1);
}

std::string Env(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr ? std::string(value) : std::string();
}

// Makes the missing folders of `dir` (private ones for a user's stores) and
// checks that the last one belongs to `ownerUid`, or to this process.
bool MakeDirs(const std::string& dir, unsigned ownerUid, mode_t mode = 0700) {
    for (size_t at = 1; at <= dir.size(); ++at) {
        if (at == dir.size() || dir[at] == '/') {
            std::string part = dir.substr(0, at);
            if (mkdir(part.c_str(), mode) == 0 && geteuid() == 0 && ownerUid != 0) {
                // An elevated process making a user's folders hands them to the user.
                if (chown(part.c_str(), ownerUid, static_cast<gid_t>(-1)) != 0) {
                    return false;
                }
            }
        }
    }
    struct stat info;
    return stat(dir.c_str(), &info) == 0 && S_ISDIR(info.st_mode) &&
           (info.st_uid == ownerUid || info.st_uid == geteuid());
}

std::string BootId() {
    std::string id;
    int fd = open("/proc/sys/kernel/random/boot_id", O_RDONLY | O_CLOEXEC);
    if (fd >= 0) {
        char buffer[64];
        ssize_t n = read(fd, buffer, sizeof(buffer));
        close(fd);
        for (ssize_t i = 0; i < n; ++i) {
            if (buffer[i] != '-' && buffer[i] != '\n') {
                id.push_back(buffer[i]);
            }
        }
    }
    return id.empty() ? std::string("boot") : id;
}

// The folder of volatile keys: memory-backed, gone after a reboot. The boot id
// in the file name keeps a folder that does survive from showing old keys.
std::string VolatileFile(const std::string& hiveName, bool machine, unsigned ownerUid) {
    std::string dir = Env("VIDOZIR_REGISTRY_VOLATILE_DIR");
    if (dir.empty()) {
        std::string runtime = Env("XDG_RUNTIME_DIR");
        if (machine) {
            dir = "/run/vidozir";
        } else if (!runtime.empty() && ownerUid == geteuid()) {
            dir = runtime + "/vidozir";
        } else {
            dir = "/dev/shm/vidozir-" + std::to_string(ownerUid);
        }
    }
    if (!MakeDirs(dir, ownerUid, machine ? 0755 : 0700)) {
        return std::string();
    }
    return dir + "/" + hiveName + "-" + BootId() + ".db";
}

// The SQL of the calls, prepared once per hive for the stored keys (main) and
// again for the volatile ones (vol). Statements written over several lines are
// parenthesised so the compiler knows their concatenation is meant.
const char* const kKeySql[] = {
    // 0: a key's existence
    "SELECT 1 FROM %s.keys WHERE id=?1",
    // 1: insert a key
    "INSERT INTO %s.keys(parent,path,name,class,access,written) VALUES(?1,?2,?3,?4,?5,?6)",
    // 2: delete a key with its values
    "DELETE FROM %s.keys WHERE id=?1",
    "DELETE FROM %s.vals WHERE key=?1",
    // 4: set a value; the value keeps its place and its first-written name.
    // The time of the write is the value's: a key's last write is the latest
    // of its own time and its values', so a write changes one row, not two.
    ("INSERT INTO %s.vals(key,fold,name,type,data,written) SELECT ?1,?2,?3,?4,?5,?6 WHERE"
     " EXISTS (SELECT 1 FROM %s.keys WHERE id=?1) ON CONFLICT(key,fold) DO UPDATE SET"
     " type=excluded.type, data=excluded.data, written=excluded.written"),
    "UPDATE %s.keys SET written=?2 WHERE id=?1",
    // 6: read, delete and enumerate values
    "SELECT type,data FROM %s.vals WHERE key=?1 AND fold=?2",
    "DELETE FROM %s.vals WHERE key=?1 AND fold=?2",
    "SELECT name,type,data FROM %s.vals WHERE key=?1 ORDER BY rowid LIMIT 1 OFFSET ?2",
    ("SELECT count(*),max(length(CAST(name AS BLOB))/2),max(length(data)) FROM %s.vals"
     " WHERE key=?1"),
    // 10: a key's class and time, its user rights
    ("SELECT class,max(written,ifnull((SELECT max(written) FROM %s.vals WHERE key=?1),0))"
     " FROM %s.keys WHERE id=?1"),
    "UPDATE %s.keys SET access=?2 WHERE id=?1",
    // 12: a key by its folded path
    "SELECT id,access FROM %s.keys WHERE path=?1",
};
enum KeyStatement {
    kExists,
    kInsertKey,
    kDeleteKey,
    kDeleteKeyValues,
    kSetValue,
    kTouch,
    kGetValue,
    kDeleteValue,
    kEnumValue,
    kValueStats,
    kKeyInfo,
    kSetAccess,
    kFind,
    kKeyStatements
};

// Statements over both stores at once (children of a stored key can be volatile).
const char* const kTreeSql[] = {
    ("SELECT name,class,written FROM (SELECT k.path AS path,k.name AS name,k.class AS class,"
     " max(k.written,ifnull((SELECT max(v.written) FROM main.vals v WHERE v.key=k.id),0))"
     " AS written FROM main.keys k WHERE k.parent=?1 UNION ALL SELECT k.path,k.name,k.class,"
     " max(k.written,ifnull((SELECT max(v.written) FROM vol.vals v WHERE v.key=k.id),0))"
     " FROM vol.keys k WHERE k.parent=?1) ORDER BY path LIMIT 1 OFFSET ?2"),
    ("SELECT count(*),max(length(CAST(name AS BLOB))/2),max(length(CAST(class AS BLOB))/2) FROM"
     " (SELECT name,class FROM main.keys WHERE parent=?1 UNION ALL"
     " SELECT name,class FROM vol.keys WHERE parent=?1)"),
};
enum TreeStatement { kEnumKey, kKeyStats, kTreeStatements };

// Transaction control, prepared once rather than parsed at every call.
const char* const kControlSql[] = {"BEGIN IMMEDIATE", "BEGIN", "COMMIT", "ROLLBACK"};
enum ControlStatement { kBeginWrite, kBeginDeferred, kCommit, kRollback, kControlStatements };

const char kSchema[] =
    "CREATE TABLE IF NOT EXISTS %s.keys(id INTEGER PRIMARY KEY AUTOINCREMENT,"
    " parent INTEGER NOT NULL, path BLOB NOT NULL UNIQUE, name TEXT NOT NULL,"
    " class TEXT NOT NULL, access INTEGER NOT NULL, written INTEGER NOT NULL);"
    "CREATE INDEX IF NOT EXISTS %s.keys_by_parent ON keys(parent,path);"
    "CREATE TABLE IF NOT EXISTS %s.vals(key INTEGER NOT NULL, fold BLOB NOT NULL,"
    " name TEXT NOT NULL, type INTEGER NOT NULL, data BLOB NOT NULL,"
    " written INTEGER NOT NULL DEFAULT 0, UNIQUE(key,fold));"
    "CREATE INDEX IF NOT EXISTS %s.vals_in_order ON vals(key);";

// The layout of a store is numbered in its user_version: 0 the first one, whose
// values had no time of their own, 1 this one. An older store is brought up
// to date when a process opens it for writing (adding the column rewrites
// nothing, and a process of the older build still reads and writes it). A
// newer store, or an older one this process may only read, is refused: the
// hive then behaves as a store that cannot be opened, rather than misreading
// a layout it does not know.
constexpr int kLayout = 1;

std::string WithSchema(const char* sql, const char* schema) {
    std::string out;
    for (const char* p = sql; *p != 0; ++p) {
        if (p[0] == '%' && p[1] == 's') {
            out += schema;
            ++p;
        } else {
            out += *p;
        }
    }
    return out;
}

// Binds and resets a statement for one use; steps give SQLITE_ROW/DONE.
class Use {
public:
    explicit Use(sqlite3_stmt* statement) : s_(statement) {}
    ~Use() {
        sqlite3_reset(s_);
        sqlite3_clear_bindings(s_);
    }
    Use& Int(int at, int64_t value) {
        sqlite3_bind_int64(s_, at, value);
        return *this;
    }
    Use& Blob(int at, const void* data, size_t size) {
        sqlite3_bind_blob64(s_, at, size == 0 ? "" : data, size, SQLITE_STATIC);
        return *this;
    }
    Use& Text(int at, const std::u16string& text) {
        sqlite3_bind_text16(s_, at, text.data(), static_cast<int>(text.size() * 2), SQLITE_STATIC);
        return *this;
    }
    int Step() { return sqlite3_step(s_); }
    int64_t Int(int column) { return sqlite3_column_int64(s_, column); }
    std::u16string Text(int column) {
        const void* data = sqlite3_column_text16(s_, column);
        size_t bytes = static_cast<size_t>(sqlite3_column_bytes16(s_, column));
        return std::u16string(static_cast<const char16_t*>(data), bytes / 2);
    }
    std::string Blob(int column) {
        const void* data = sqlite3_column_blob(s_, column);
        size_t bytes = static_cast<size_t>(sqlite3_column_bytes(s_, column));
        return data != nullptr ? std::string(static_cast<const char*>(data), bytes) : std::string();
    }

private:
    sqlite3_stmt* s_;
};

bool Exec(sqlite3* db, const std::string& sql) {
    return sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr) == SQLITE_OK;
}

// Runs a statement that returns no rows; SQLITE_OK when it succeeded.
int Run(sqlite3_stmt* statement) {
    int step = sqlite3_step(statement);
    sqlite3_reset(statement);
    return step == SQLITE_DONE ? SQLITE_OK : step;
}

// A transaction, rolled back unless committed. `begin` is kBeginWrite (both
// stores locked at once) or kBeginDeferred (only what the statements touch is
// locked, when they touch it, and the busy time-out applies).
class Transaction {
public:
    Transaction(sqlite3_stmt* const* control, ControlStatement begin) : control_(control) {
        begun_ = Run(control_[begin]) == SQLITE_OK;
    }
    ~Transaction() {
        if (begun_) {
            Run(control_[kRollback]);
        }
    }
    bool Begun() const { return begun_; }
    int Commit() {
        int result = Run(control_[kCommit]);
        if (result == SQLITE_OK) {
            begun_ = false;
        }
        return result;
    }

private:
    sqlite3_stmt* const* control_;
    bool begun_;
};

// Drops the cached key look-ups when a call that changes keys returns: its
// uncommitted or in-memory changes do not show in the log index.
struct ForgetKeysOnExit {
    RegKeyCache* keys;
    ~ForgetKeysOnExit() { keys->Clear(); }
};

int Store(int64_t id) {
    return id < 0 ? 1 : 0;
}
int64_t Row(int64_t id) {
    return id < 0 ? -id : id;
}

std::mutex g_hivesLock;
std::map<std::u16string, std::unique_ptr<RegHive>>& Hives() {
    static std::map<std::u16string, std::unique_ptr<RegHive>> hives;
    return hives;
}

}  // namespace

std::string RegFold(const std::string& base, const std::vector<std::u16string>& components) {
    std::string out = base;
    for (const std::u16string& component : components) {
        if (!out.empty()) {
            AppendFolded(&out, u'\\');
        }
        FoldUnits(&out, component.data(), component.size());
    }
    return out;
}

void RegFoldAppend(std::string* out, const wchar_t* units, size_t length) {
    FoldUnits(out, units, length);
}

struct RegHive::Statements {
    sqlite3_stmt* key[2][kKeyStatements] = {};
    sqlite3_stmt* tree[kTreeStatements] = {};
    sqlite3_stmt* control[kControlStatements] = {};
};

RegHive::RegHive(const std::string& file, const std::string& volatileFile, unsigned ownerUid)
    : statements_(new Statements) {
    bool created = access(file.c_str(), F_OK) != 0;
    if (!Setup(file, volatileFile, false)) {
        // A store this process may read but not write (the machine's, for
        // most users) is opened read-only; a store it cannot open at all is an
        // empty hive of its own that refuses writes.
        if (!Setup(file, volatileFile, true)) {
            Setup(":memory:", std::string(), false);
        }
        readOnly_ = true;
    }
    if (created && geteuid() == 0 && ownerUid != 0) {
        // An elevated process making a user's store hands it to the user; the
        // store's log files follow the owner of the store.
        if (chown(file.c_str(), ownerUid, static_cast<gid_t>(-1)) != 0 ||
            (volatileAvailable_ &&
             chown(volatileFile.c_str(), ownerUid, static_cast<gid_t>(-1)) != 0)) {
            readOnly_ = true;
        }
    }
}

bool RegHive::Setup(const std::string& file, const std::string& volatileFile, bool readOnly) {
    Close();
    int flags = readOnly ? SQLITE_OPEN_READONLY : SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE;
    if (sqlite3_open_v2(file.c_str(), &db_, flags | SQLITE_OPEN_NOMUTEX, nullptr) != SQLITE_OK) {
        return false;
    }
    sqlite3_busy_timeout(db_, kBusyTimeoutMs);
    // Text in the store's own encoding needs no conversion and keeps every unit.
    Exec(db_, "PRAGMA encoding='UTF-16le'");
    // In WAL mode a commit is durable against a killed process without a sync;
    // only a power loss can take back the last commits, as with the Windows
    // registry's lazy flush.
    Exec(db_, "PRAGMA journal_mode=WAL");
    Exec(db_, "PRAGMA synchronous=NORMAL");
    sqlite3_stmt* attach = nullptr;
    sqlite3_prepare_v2(db_, "ATTACH DATABASE ?1 AS vol", -1, &attach, nullptr);
    sqlite3_bind_text(attach, 1, volatileFile.empty() ? ":memory:" : volatileFile.c_str(), -1,
                      SQLITE_TRANSIENT);
    bool attached = sqlite3_step(attach) == SQLITE_DONE;
    sqlite3_finalize(attach);
    volatileAvailable_ = attached && !volatileFile.empty();
    if (volatileAvailable_) {
        Exec(db_, "PRAGMA vol.journal_mode=WAL");
        Exec(db_, "PRAGMA vol.synchronous=OFF");  // nothing of it outlives the boot
    } else if (!attached && !Exec(db_, "ATTACH DATABASE ':memory:' AS vol")) {
        return false;
    }
    // Two processes may set up a new store at once: the write transaction
    // serialises them (the busy time-out applies) and the statements tolerate
    // each other's work.
    if (!Exec(db_, readOnly ? "BEGIN" : "BEGIN IMMEDIATE")) {
        return false;
    }
    std::string root = "INSERT OR IGNORE INTO main.keys VALUES(1,0,x'','','',";
    root += std::to_string(KEY_ALL_ACCESS) + "," + std::to_string(NowTicks()) + ")";
    bool laidOut = (readOnly || (Exec(db_, WithSchema(kSchema, "main")) && Exec(db_, root))) &&
                   Exec(db_, WithSchema(kSchema, "vol")) && Upgrade("main", !readOnly) &&
                   Upgrade("vol", true);
    if (!laidOut || !Exec(db_, "COMMIT")) {
        Exec(db_, "ROLLBACK");
        return false;
    }
    for (int store = 0; store < 2; ++store) {
        for (int i = 0; i < kKeyStatements; ++i) {
            std::string sql = WithSchema(kKeySql[i], store == 0 ? "main" : "vol");
            if (sqlite3_prepare_v3(db_, sql.c_str(), -1, SQLITE_PREPARE_PERSISTENT,
                                   &statements_->key[store][i], nullptr) != SQLITE_OK) {
                return false;
            }
        }
    }
    for (int i = 0; i < kTreeStatements; ++i) {
        if (sqlite3_prepare_v3(db_, kTreeSql[i], -1, SQLITE_PREPARE_PERSISTENT,
                               &statements_->tree[i], nullptr) != SQLITE_OK) {
            return false;
        }
    }
    for (int i = 0; i < kControlStatements; ++i) {
        if (sqlite3_prepare_v3(db_, kControlSql[i], -1, SQLITE_PREPARE_PERSISTENT,
                               &statements_->control[i], nullptr) != SQLITE_OK) {
            return false;
        }
    }
    static const char* const kSchemas[RegKeyCache::kDatabases] = {"main", "vol"};
    keys_.Attach(db_, kSchemas);
    return true;
}

bool RegHive::Upgrade(const char* schema, bool writable) {
    int version = -1;
    sqlite3_stmt* statement = nullptr;
    std::string sql = std::string("PRAGMA ") + schema + ".user_version";
    if (sqlite3_prepare_v2(db_, sql.c_str(), -1, &statement, nullptr) == SQLITE_OK &&
        sqlite3_step(statement) == SQLITE_ROW) {
        version = sqlite3_column_int(statement, 0);
    }
    sqlite3_finalize(statement);
    if (version == kLayout) {
        return true;
    }
    if (version < 0 || version > kLayout || !writable) {
        return false;
    }
    // Layout 0 to 1: values get their time (a new store has the column already).
    statement = nullptr;
    sql = std::string("SELECT written FROM ") + schema + ".vals LIMIT 0";
    bool hasTimes = sqlite3_prepare_v2(db_, sql.c_str(), -1, &statement, nullptr) == SQLITE_OK;
    sqlite3_finalize(statement);
    return (hasTimes || Exec(db_, WithSchema("ALTER TABLE %s.vals ADD COLUMN written INTEGER NOT"
                                             " NULL DEFAULT 0",
                                             schema))) &&
           Exec(db_, sql.assign("PRAGMA ") + schema + ".user_version=" + std::to_string(kLayout));
}

void RegHive::Close() {
    keys_.Detach();
    for (auto& store : statements_->key) {
        for (sqlite3_stmt*& statement : store) {
            sqlite3_finalize(statement);
            statement = nullptr;
        }
    }
    for (sqlite3_stmt*& statement : statements_->tree) {
        sqlite3_finalize(statement);
        statement = nullptr;
    }
    for (sqlite3_stmt*& statement : statements_->control) {
        sqlite3_finalize(statement);
        statement = nullptr;
    }
    sqlite3_close(db_);
    db_ = nullptr;
}

RegHive::~RegHive() {
    Close();
}

RegHive* RegHive::Machine() {
    std::lock_guard<std::mutex> hold(g_hivesLock);
    std::unique_ptr<RegHive>& hive = Hives()[u""];
    if (!hive) {
        std::string dir = Env("VIDOZIR_REGISTRY_MACHINE_DIR");
        if (dir.empty()) {
            dir = "/var/lib/vidozir/registry";
        }
        std::string file = MakeDirs(dir, 0, 0755) ? dir + "/machine.db" : std::string(":memory:");
        hive.reset(new RegHive(file, VolatileFile("machine", true, 0), 0));
    }
    return hive.get();
}

std::u16string RegHive::ProcessUserSid() {
    std::string text = "S-1-22-1-" + std::to_string(geteuid());
    return std::u16string(text.begin(), text.end());
}

RegHive* RegHive::User(const std::u16string& sid) {
    // Hives stay loaded, so the last one this thread asked for needs no lock.
    thread_local std::u16string lastSid;
    thread_local RegHive* lastHive = nullptr;
    if (lastHive != nullptr && sid == lastSid) {
        return lastHive;
    }
    RegHive* hive = UserHive(sid);
    if (hive != nullptr) {
        lastSid = sid;
        lastHive = hive;
    }
    return hive;
}

RegHive* RegHive::UserHive(const std::u16string& sid) {
    static const std::u16string prefix = u"S-1-22-1-";
    if (sid.size() <= prefix.size() || sid.size() > prefix.size() + 10 ||
        (sid[0] != u'S' && sid[0] != u's') || sid.compare(1, 8, prefix, 1, 8) != 0 ||
        (sid[prefix.size()] == u'0' && sid.size() > prefix.size() + 1)) {
        return nullptr;
    }
    uint64_t uid = 0;
    for (size_t i = prefix.size(); i < sid.size(); ++i) {
        if (sid[i] < u'0' || sid[i] > u'9') {
            return nullptr;
        }
        uid = uid * 10 + (sid[i] - u'0');
    }
    if (uid > 0xFFFFFFFEu) {
        return nullptr;
    }
    std::u16string canonical = u"S" + sid.substr(1);
    std::lock_guard<std::mutex> hold(g_hivesLock);
    std::unique_ptr<RegHive>& hive = Hives()[canonical];
    if (!hive) {
        unsigned owner = static_cast<unsigned>(uid);
        std::string dir = Env("VIDOZIR_REGISTRY_USER_DIR");
        if (dir.empty()) {
            std::string data = owner == geteuid() ? Env("XDG_DATA_HOME") : std::string();
            if (data.empty()) {
                std::string home = owner == geteuid() ? Env("HOME") : std::string();
                if (home.empty()) {
                    passwd entry;
                    passwd* found = nullptr;
                    char buffer[4096];
                    if (getpwuid_r(owner, &entry, buffer, sizeof(buffer), &found) == 0 &&
                        found != nullptr) {
                        home = found->pw_dir;
                    }
                }
                data = home.empty() ? std::string() : home + "/.local/share";
            }
            dir = data.empty() ? std::string() : data + "/vidozir/registry";
        }
        if (dir.empty() || !MakeDirs(dir, owner)) {
            Hives().erase(canonical);
            return nullptr;
        }
        std::string name(canonical.begin(), canonical.end());
        hive.reset(new RegHive(dir + "/" + name + ".db", VolatileFile(name, false, owner), owner));
    }
    return hive.get();
}

LONG RegHive::Result(int code) {
    switch (code) {
        case SQLITE_OK:
        case SQLITE_DONE:
        case SQLITE_ROW:
            return ERROR_SUCCESS;
        case SQLITE_READONLY:
        case SQLITE_PERM:
        case SQLITE_AUTH:
            return ERROR_ACCESS_DENIED;
        case SQLITE_NOMEM:
            return ERROR_NOT_ENOUGH_MEMORY;
        default:
            return ERROR_REGISTRY_IO_FAILED;
    }
}

REGSAM RegHive::Allowed(REGSAM stored) const {
    return readOnly_ ? stored & kReadRights : stored;
}

// Stored keys are looked for first, volatile ones only when that fails: an
// ordinary key's look-up touches (and locks) one database, not two.
// A key found once is found again without a transaction while no process
// commits anything to the hive (see RegKeyCache).
LONG RegHive::Lookup(const std::string& folded, int64_t* id, REGSAM* allowed) {
    RegKeyCache::Stamp before;
    bool stamped = keys_.Take(&before);
    if (stamped && keys_.Find(folded, id, allowed)) {
        return ERROR_SUCCESS;
    }
    for (int store = 0; store < 2; ++store) {
        Use find(statements_->key[store][kFind]);
        int step = find.Blob(1, folded.data(), folded.size()).Step();
        if (step == SQLITE_ROW) {
            *id = store == 1 ? -find.Int(0) : find.Int(0);
            *allowed = Allowed(static_cast<REGSAM>(find.Int(1)));
            if (stamped) {
                keys_.Add(before, folded, *id, *allowed);
            }
            return ERROR_SUCCESS;
        }
        if (step != SQLITE_DONE) {
            return Result(step);
        }
    }
    return ERROR_FILE_NOT_FOUND;
}

LONG RegHive::Exists(const RegKeyRef& key) {
    if (key.id == kRootId) {
        return ERROR_SUCCESS;
    }
    Use exists(statements_->key[Store(key.id)][kExists]);
    int step = exists.Int(1, Row(key.id)).Step();
    return step == SQLITE_ROW    ? ERROR_SUCCESS
           : step == SQLITE_DONE ? ERROR_KEY_DELETED
                                 : Result(step);
}

LONG RegHive::Open(const RegKeyRef& from, const std::string& folded, REGSAM wanted, RegKeyRef* key,
                   REGSAM* granted) {
    std::lock_guard<std::mutex> hold(lock_);
    LONG result = Exists(from);
    if (result != ERROR_SUCCESS) {
        return result;
    }
    RegKeyRef found{this, 0, from.folded};
    if (!found.folded.empty() && !folded.empty()) {
        AppendFolded(&found.folded, u'\\');
    }
    found.folded += folded;
    REGSAM allowed = 0;
    if (folded.empty()) {
        found.id = from.id;
        if (from.id == kRootId) {
            allowed = Allowed(KEY_ALL_ACCESS);
        } else {
            result = Lookup(found.folded, &found.id, &allowed);
        }
    } else {
        result = Lookup(found.folded, &found.id, &allowed);
    }
    if (result != ERROR_SUCCESS) {
        return result;
    }
    if ((wanted & ~allowed) != 0) {
        return ERROR_ACCESS_DENIED;
    }
    *key = std::move(found);
    *granted = wanted;
    return ERROR_SUCCESS;
}

LONG RegHive::Create(const RegKeyRef& from, REGSAM fromGranted,
                     const std::vector<std::u16string>& path, const std::u16string& keyClass,
                     bool isVolatile, REGSAM wanted, RegKeyRef* key, REGSAM* granted,
                     bool* created) {
    std::lock_guard<std::mutex> hold(lock_);
    ForgetKeysOnExit forget{&keys_};  // the keys change, in this or no transaction
    Transaction transaction(statements_->control, kBeginWrite);
    if (!transaction.Begun()) {
        return readOnly_ ? ERROR_ACCESS_DENIED : ERROR_REGISTRY_IO_FAILED;
    }
    LONG result = Exists(from);
    if (result != ERROR_SUCCESS) {
        return result;
    }
    int64_t parent = from.id;
    REGSAM allowed = from.id == kRootId ? Allowed(KEY_ALL_ACCESS) : 0;
    if (from.id != kRootId && Lookup(from.folded, &parent, &allowed) != ERROR_SUCCESS) {
        return ERROR_KEY_DELETED;
    }
    allowed &= fromGranted;  // a new key directly below needs the handle's right too
    std::string folded = from.folded;
    *created = false;
    uint64_t now = NowTicks();
    for (const std::u16string& component : path) {
        folded = RegFold(folded, {component});
        int64_t id = 0;
        REGSAM childAllowed = 0;
        result = Lookup(folded, &id, &childAllowed);
        if (result == ERROR_FILE_NOT_FOUND) {
            if ((allowed & KEY_CREATE_SUB_KEY) == 0) {
                return ERROR_ACCESS_DENIED;
            }
            if (parent < 0 && !isVolatile) {
                return ERROR_CHILD_MUST_BE_VOLATILE;
            }
            if (isVolatile && !volatileAvailable_) {
                return ERROR_ACCESS_DENIED;
            }
            int store = isVolatile ? 1 : 0;
            bool last = &component == &path.back();
            Use insert(statements_->key[store][kInsertKey]);
            int step = insert.Int(1, parent)
                           .Blob(2, folded.data(), folded.size())
                           .Text(3, component)
                           .Text(4, last ? keyClass : std::u16string())
                           .Int(5, KEY_ALL_ACCESS)
                           .Int(6, static_cast<int64_t>(now))
                           .Step();
            if (step != SQLITE_DONE) {
                return Result(step);
            }
            id = sqlite3_last_insert_rowid(db_) * (store == 1 ? -1 : 1);
            childAllowed = KEY_ALL_ACCESS;
            *created = true;
        } else if (result != ERROR_SUCCESS) {
            return result;
        }
        parent = id;
        allowed = childAllowed;
    }
    if ((wanted & ~allowed) != 0) {
        return ERROR_ACCESS_DENIED;
    }
    if (*created) {
        result = Result(transaction.Commit());
        if (result != ERROR_SUCCESS) {
            return result;
        }
    }
    *key = RegKeyRef{this, parent, folded};
    *granted = wanted;
    return ERROR_SUCCESS;
}

LONG RegHive::DeleteKey(const RegKeyRef& key) {
    if (key.id == kRootId) {
        return ERROR_ACCESS_DENIED;
    }
    std::lock_guard<std::mutex> hold(lock_);
    ForgetKeysOnExit forget{&keys_};  // the keys change, in this or no transaction
    Transaction transaction(statements_->control, kBeginWrite);
    if (!transaction.Begun()) {
        return readOnly_ ? ERROR_ACCESS_DENIED : ERROR_REGISTRY_IO_FAILED;
    }
    LONG result = Exists(key);
    if (result != ERROR_SUCCESS) {
        return result;
    }
    {
        Use children(statements_->tree[kKeyStats]);
        if (children.Int(1, key.id).Step() == SQLITE_ROW && children.Int(0) > 0) {
            return ERROR_ACCESS_DENIED;
        }
    }
    for (KeyStatement statement : {kDeleteKeyValues, kDeleteKey}) {
        Use remove(statements_->key[Store(key.id)][statement]);
        int step = remove.Int(1, Row(key.id)).Step();
        if (step != SQLITE_DONE) {
            return Result(step);
        }
    }
    return Result(transaction.Commit());
}

LONG RegHive::SetValue(const RegKeyRef& key, const std::u16string& name, DWORD type,
                       const BYTE* data, DWORD size) {
    std::string fold = RegFold(std::string(), {name});
    std::lock_guard<std::mutex> hold(lock_);
    // One statement, so one transaction that locks only the store of the key.
    Use set(statements_->key[Store(key.id)][kSetValue]);
    int step = set.Int(1, Row(key.id))
                   .Blob(2, fold.data(), fold.size())
                   .Text(3, name)
                   .Int(4, type)
                   .Blob(5, data, size)
                   .Int(6, static_cast<int64_t>(NowTicks()))
                   .Step();
    if (step != SQLITE_DONE) {
        return Result(step);
    }
    return sqlite3_changes(db_) > 0 ? ERROR_SUCCESS : ERROR_KEY_DELETED;
}

LONG RegHive::QueryValue(const RegKeyRef& key, const std::string& fold, DWORD* type,
                         std::string* data) {
    std::lock_guard<std::mutex> hold(lock_);
    Use get(statements_->key[Store(key.id)][kGetValue]);
    int step = get.Int(1, Row(key.id)).Blob(2, fold.data(), fold.size()).Step();
    if (step != SQLITE_ROW) {
        if (step != SQLITE_DONE) {
            return Result(step);
        }
        return Exists(key) == ERROR_KEY_DELETED ? ERROR_KEY_DELETED : ERROR_FILE_NOT_FOUND;
    }
    *type = static_cast<DWORD>(get.Int(0));
    *data = get.Blob(1);
    return ERROR_SUCCESS;
}

LONG RegHive::DeleteValue(const RegKeyRef& key, const std::string& fold) {
    std::lock_guard<std::mutex> hold(lock_);
    // The key's time moves on with the deletion, as it does with a write.
    Transaction transaction(statements_->control, kBeginDeferred);
    if (!transaction.Begun()) {
        return ERROR_REGISTRY_IO_FAILED;
    }
    int step;
    {
        Use remove(statements_->key[Store(key.id)][kDeleteValue]);
        step = remove.Int(1, Row(key.id)).Blob(2, fold.data(), fold.size()).Step();
    }
    if (step != SQLITE_DONE) {
        return Result(step);
    }
    if (sqlite3_changes(db_) == 0) {
        return ERROR_FILE_NOT_FOUND;
    }
    {
        Use touch(statements_->key[Store(key.id)][kTouch]);
        step = touch.Int(1, Row(key.id)).Int(2, static_cast<int64_t>(NowTicks())).Step();
    }
    if (step != SQLITE_DONE) {
        return Result(step);
    }
    return Result(transaction.Commit());
}

LONG RegHive::EnumKey(const RegKeyRef& key, DWORD index, std::u16string* name,
                      std::u16string* keyClass, uint64_t* written) {
    std::lock_guard<std::mutex> hold(lock_);
    Use enumerate(statements_->tree[kEnumKey]);
    int step = enumerate.Int(1, key.id).Int(2, index).Step();
    if (step != SQLITE_ROW) {
        return step == SQLITE_DONE ? ERROR_NO_MORE_ITEMS : Result(step);
    }
    *name = enumerate.Text(0);
    *keyClass = enumerate.Text(1);
    *written = static_cast<uint64_t>(enumerate.Int(2));
    return ERROR_SUCCESS;
}

LONG RegHive::EnumValue(const RegKeyRef& key, DWORD index, std::u16string* name, DWORD* type,
                        std::string* data) {
    std::lock_guard<std::mutex> hold(lock_);
    Use enumerate(statements_->key[Store(key.id)][kEnumValue]);
    int step = enumerate.Int(1, Row(key.id)).Int(2, index).Step();
    if (step != SQLITE_ROW) {
        return step == SQLITE_DONE ? ERROR_NO_MORE_ITEMS : Result(step);
    }
    *name = enumerate.Text(0);
    *type = static_cast<DWORD>(enumerate.Int(1));
    *data = enumerate.Blob(2);
    return ERROR_SUCCESS;
}

LONG RegHive::Stats(const RegKeyRef& key, RegKeyStats* stats) {
    std::lock_guard<std::mutex> hold(lock_);
    // One read transaction, so the counts agree with each other.
    Transaction transaction(statements_->control, kBeginDeferred);
    LONG result = ERROR_KEY_DELETED;
    {
        Use info(statements_->key[Store(key.id)][kKeyInfo]);
        Use children(statements_->tree[kKeyStats]);
        Use values(statements_->key[Store(key.id)][kValueStats]);
        if (info.Int(1, Row(key.id)).Step() == SQLITE_ROW &&
            children.Int(1, key.id).Step() == SQLITE_ROW &&
            values.Int(1, Row(key.id)).Step() == SQLITE_ROW) {
            stats->keyClass = info.Text(0);
            stats->written = static_cast<uint64_t>(info.Int(1));
            stats->subKeys = static_cast<DWORD>(children.Int(0));
            stats->maxSubKeyLength = static_cast<DWORD>(children.Int(1));
            stats->maxClassLength = static_cast<DWORD>(children.Int(2));
            stats->values = static_cast<DWORD>(values.Int(0));
            stats->maxValueNameLength = static_cast<DWORD>(values.Int(1));
            stats->maxValueLength = static_cast<DWORD>(values.Int(2));
            result = ERROR_SUCCESS;
        }
    }
    transaction.Commit();
    return result;
}

LONG RegHive::SetUserAccess(const RegKeyRef& key, REGSAM allowed) {
    std::lock_guard<std::mutex> hold(lock_);
    ForgetKeysOnExit forget{&keys_};  // the keys change, in this or no transaction
    Use update(statements_->key[Store(key.id)][kSetAccess]);
    int step = update.Int(1, Row(key.id)).Int(2, allowed).Step();
    if (step != SQLITE_DONE) {
        return Result(step);
    }
    return sqlite3_changes(db_) > 0 ? ERROR_SUCCESS : ERROR_KEY_DELETED;
}

}  // namespace vidozir::platform

// Registry round trips through CRegHelper (each call finds the session's
// user, opens its key, works and closes it) beside the same reads and writes
// done directly on SQLite, the store underneath, as the ceiling.
#include <benchmark/benchmark.h>
#include <sqlite3.h>
#include <stdlib.h>
#include <unistd.h>

#include <chrono>
#include <string>

#include "vidozir/reghelper.h"

namespace {

// The stores live in a fresh folder of this run.
const std::string& Folder() {
    static const std::string folder = [] {
        char pattern[] = "/tmp/vidozir-bench-registry-XXXXXX";
        std::string dir = mkdtemp(pattern) != nullptr ? pattern : "/tmp";
        for (const char* kind : {"USER", "MACHINE", "VOLATILE"}) {
            setenv((std::string("VIDOZIR_REGISTRY_") + kind + "_DIR").c_str(), dir.c_str(), 1);
        }
        return dir;
    }();
    return folder;
}

const wchar_t kKey[] = L"Software\\Corvane\\CirrelSync\\Bench";

void Read_Ours(benchmark::State& state) {
    Folder();
    CRegHelper helper;
    helper.WriteHKCUString(kKey, L"Value", L"C:\\Users\\someone\\CirrelSync");
    for (auto _ : state) {
        CLuStringW text = helper.ReadHKCUString(kKey, L"Value");
        benchmark::DoNotOptimize(text.GetLength());
    }
    state.SetItemsProcessed(state.iterations());
}

void Write_Ours(benchmark::State& state) {
    Folder();
    CRegHelper helper;
    int i = 0;
    for (auto _ : state) {
        helper.WriteHKCUString(kKey, L"Written", (i++ & 1) ? L"one value" : L"another value");
    }
    state.SetItemsProcessed(state.iterations());
}

// The ceiling: the same work done directly on SQLite, as plainly as it
// allows. Same file settings as the store (UTF-16 text, write-ahead log,
// synchronous=NORMAL), the same tables (keys by their folded full path with
// their rights, values by key and folded name with their written name, type
// and time), and one statement, so one transaction, per call: a read finds the
// key, checks the read-write rights the helper asks for and reads the value;
// a write does the same and sets the value with its time. Only what the
// registry interface adds is left out: finding the session's user, handles,
// folding names, and a separate open before the value is touched.
constexpr int64_t kReadWrite = 0x2001F;

std::string Folded(const char16_t* text) {
    std::string out;
    for (; *text != 0; ++text) {
        char16_t unit = *text >= u'a' && *text <= u'z' ? *text - 32 : *text;
        out.push_back(static_cast<char>(unit >> 8));
        out.push_back(static_cast<char>(unit & 0xFF));
    }
    return out;
}

int64_t Now() {
    return static_cast<int64_t>(std::chrono::system_clock::now().time_since_epoch().count());
}

sqlite3* OpenBare(const char* file) {
    sqlite3* db = nullptr;
    sqlite3_open_v2((Folder() + "/" + file).c_str(), &db,
                    SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX, nullptr);
    sqlite3_busy_timeout(db, 30000);
    sqlite3_exec(db,
                 "PRAGMA encoding='UTF-16le'; PRAGMA journal_mode=WAL; PRAGMA synchronous=NORMAL",
                 nullptr, nullptr, nullptr);
    return db;
}

struct Bare {
    sqlite3* db = OpenBare("bare.db");
    sqlite3_stmt* read = nullptr;
    sqlite3_stmt* write = nullptr;
    const std::string path = Folded(u"Software\\Corvane\\CirrelSync\\Bench");
    Bare() {
        sqlite3_exec(db,
                     "CREATE TABLE IF NOT EXISTS keys(id INTEGER PRIMARY KEY AUTOINCREMENT,"
                     " parent INTEGER NOT NULL, path BLOB NOT NULL UNIQUE, name TEXT NOT NULL,"
                     " class TEXT NOT NULL, access INTEGER NOT NULL, written INTEGER NOT NULL);"
                     "CREATE TABLE IF NOT EXISTS vals(key INTEGER NOT NULL, fold BLOB NOT NULL,"
                     " name TEXT NOT NULL, type INTEGER NOT NULL, data BLOB NOT NULL,"
                     " written INTEGER NOT NULL, UNIQUE(key,fold))",
                     nullptr, nullptr, nullptr);
        // The key and its parents, as a registry of nested keys holds them.
        sqlite3_stmt* key = nullptr;
        sqlite3_prepare_v2(db,
                           "INSERT OR IGNORE INTO keys(parent,path,name,class,access,written)"
                           " VALUES(0,?1,'','',983103,0)",  // KEY_ALL_ACCESS
                           -1, &key, nullptr);
        for (const char16_t* prefix :
             {u"Software", u"Software\\Corvane", u"Software\\Corvane\\CirrelSync",
              u"Software\\Corvane\\CirrelSync\\Bench"}) {
            std::string folded = Folded(prefix);
            sqlite3_bind_blob(key, 1, folded.data(), static_cast<int>(folded.size()),
                              SQLITE_TRANSIENT);
            sqlite3_step(key);
            sqlite3_reset(key);
        }
        sqlite3_finalize(key);
        sqlite3_prepare_v2(db,
                           "SELECT v.type,v.data FROM keys k JOIN vals v ON v.key=k.id AND"
                           " v.fold=?2 WHERE k.path=?1 AND k.access&?3=?3",
                           -1, &read, nullptr);
        sqlite3_prepare_v2(db,
                           "INSERT INTO vals(key,fold,name,type,data,written) SELECT id,?2,?3,1,"
                           "?4,?5 FROM keys WHERE path=?1 AND access&?6=?6 ON CONFLICT(key,fold)"
                           " DO UPDATE SET type=excluded.type,data=excluded.data,"
                           "written=excluded.written",
                           -1, &write, nullptr);
    }
    ~Bare() {
        sqlite3_finalize(read);
        sqlite3_finalize(write);
        sqlite3_close(db);
    }
    void Write(const char16_t* name, const std::u16string& value) {
        std::string fold = Folded(name);
        std::u16string written(name);
        sqlite3_bind_blob(write, 1, path.data(), static_cast<int>(path.size()), SQLITE_STATIC);
        sqlite3_bind_blob(write, 2, fold.data(), static_cast<int>(fold.size()), SQLITE_STATIC);
        sqlite3_bind_text16(write, 3, written.data(), static_cast<int>(written.size() * 2),
                            SQLITE_STATIC);
        sqlite3_bind_blob(write, 4, value.c_str(), static_cast<int>(value.size() * 2 + 2),
                          SQLITE_STATIC);
        sqlite3_bind_int64(write, 5, Now());
        sqlite3_bind_int64(write, 6, kReadWrite);
        sqlite3_step(write);
        sqlite3_reset(write);
    }
    std::u16string Read(const std::string& fold) {
        std::u16string text;
        sqlite3_bind_blob(read, 1, path.data(), static_cast<int>(path.size()), SQLITE_STATIC);
        sqlite3_bind_blob(read, 2, fold.data(), static_cast<int>(fold.size()), SQLITE_STATIC);
        sqlite3_bind_int64(read, 3, kReadWrite);
        if (sqlite3_step(read) == SQLITE_ROW) {
            text.assign(static_cast<const char16_t*>(sqlite3_column_blob(read, 1)),
                        static_cast<size_t>(sqlite3_column_bytes(read, 1)) / 2);
        }
        sqlite3_reset(read);
        return text;
    }
};

void Read_SQLite(benchmark::State& state) {
    Bare bare;
    bare.Write(u"Value", u"C:\\Users\\someone\\CirrelSync");
    const std::string fold = Folded(u"Value");
    for (auto _ : state) {
        std::u16string text = bare.Read(fold);
        benchmark::DoNotOptimize(text.size());
    }
    state.SetItemsProcessed(state.iterations());
}

void Write_SQLite(benchmark::State& state) {
    Bare bare;
    int i = 0;
    for (auto _ : state) {
        bare.Write(u"Written", (i++ & 1) ? u"one value" : u"another value");
    }
    state.SetItemsProcessed(state.iterations());
}

// The ceiling this benchmark had before: one table of values by path and
// name, no key rows, no rights and no time. It leaves out work that any
// registry of nested keys does, so it is shown for comparison only.
struct Flat {
    sqlite3* db = OpenBare("flat.db");
    sqlite3_stmt* read = nullptr;
    sqlite3_stmt* write = nullptr;
    const std::string path = Folded(u"Software\\Corvane\\CirrelSync\\Bench");
    Flat() {
        sqlite3_exec(db,
                     "CREATE TABLE IF NOT EXISTS vals(path BLOB, name BLOB, type INTEGER,"
                     " data BLOB, PRIMARY KEY(path,name))",
                     nullptr, nullptr, nullptr);
        sqlite3_prepare_v2(db, "SELECT type,data FROM vals WHERE path=?1 AND name=?2", -1, &read,
                           nullptr);
        sqlite3_prepare_v2(db,
                           "INSERT INTO vals VALUES(?1,?2,1,?3) ON CONFLICT(path,name)"
                           " DO UPDATE SET data=excluded.data",
                           -1, &write, nullptr);
    }
    ~Flat() {
        sqlite3_finalize(read);
        sqlite3_finalize(write);
        sqlite3_close(db);
    }
    void Write(const std::string& fold, const std::u16string& value) {
        sqlite3_bind_blob(write, 1, path.data(), static_cast<int>(path.size()), SQLITE_STATIC);
        sqlite3_bind_blob(write, 2, fold.data(), static_cast<int>(fold.size()), SQLITE_STATIC);
        sqlite3_bind_blob(write, 3, value.c_str(), static_cast<int>(value.size() * 2 + 2),
                          SQLITE_STATIC);
        sqlite3_step(write);
        sqlite3_reset(write);
    }
};

void Read_SQLiteFlat(benchmark::State& state) {
    Flat flat;
    const std::string fold = Folded(u"Value");
    flat.Write(fold, u"C:\\Users\\someone\\CirrelSync");
    for (auto _ : state) {
        sqlite3_bind_blob(flat.read, 1, flat.path.data(), static_cast<int>(flat.path.size()),
                          SQLITE_STATIC);
        sqlite3_bind_blob(flat.read, 2, fold.data(), static_cast<int>(fold.size()), SQLITE_STATIC);
        if (sqlite3_step(flat.read) == SQLITE_ROW) {
            std::u16string text(static_cast<const char16_t*>(sqlite3_column_blob(flat.read, 1)),
                                static_cast<size_t>(sqlite3_column_bytes(flat.read, 1)) / 2);
            benchmark::DoNotOptimize(text.size());
        }
        sqlite3_reset(flat.read);
    }
    state.SetItemsProcessed(state.iterations());
}

void Write_SQLiteFlat(benchmark::State& state) {
    Flat flat;
    const std::string fold = Folded(u"Written");
    int i = 0;
    for (auto _ : state) {
        flat.Write(fold, (i++ & 1) ? u"one value" : u"another value");
    }
    state.SetItemsProcessed(state.iterations());
}

}  // namespace

BENCHMARK(Read_Ours);
BENCHMARK(Read_SQLite);
BENCHMARK(Read_SQLiteFlat);
BENCHMARK(Write_Ours);
BENCHMARK(Write_SQLite);
BENCHMARK(Write_SQLiteFlat);

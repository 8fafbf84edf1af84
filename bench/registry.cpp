// Registry round trips through CRegHelper (each call finds the session's
// user, opens its key, works and closes it) beside the same reads and writes
// done directly on SQLite, the store underneath, as the ceiling.
#include <benchmark/benchmark.h>
#include <sqlite3.h>
#include <stdlib.h>
#include <unistd.h>

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

// Bare SQLite in the same journal and sync settings: one table of values by
// key path and name, one prepared statement per operation.
struct Bare {
    sqlite3* db = nullptr;
    sqlite3_stmt* read = nullptr;
    sqlite3_stmt* write = nullptr;
    Bare() {
        sqlite3_open_v2((Folder() + "/bare.db").c_str(), &db,
                        SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX, nullptr);
        sqlite3_exec(db,
                     "PRAGMA encoding='UTF-16le'; PRAGMA journal_mode=WAL;"
                     " PRAGMA synchronous=NORMAL; CREATE TABLE IF NOT EXISTS vals(path BLOB,"
                     " name BLOB, type INTEGER, data BLOB, PRIMARY KEY(path,name))",
                     nullptr, nullptr, nullptr);
        sqlite3_prepare_v2(db, "SELECT type,data FROM vals WHERE path=?1 AND name=?2", -1, &read,
                           nullptr);
        sqlite3_prepare_v2(db,
                           "INSERT INTO vals VALUES(?1,?2,1,?3) ON CONFLICT(path,name)"
                           " DO UPDATE SET data=excluded.data",
                           -1, &write, nullptr);
    }
    ~Bare() {
        sqlite3_finalize(read);
        sqlite3_finalize(write);
        sqlite3_close(db);
    }
    void Write(const std::u16string& name, const std::u16string& value) {
        static const std::u16string path = u"SOFTWARE\\CORVANE\\CIRRELSYNC\\BENCH";
        sqlite3_bind_blob(write, 1, path.data(), static_cast<int>(path.size() * 2), SQLITE_STATIC);
        sqlite3_bind_blob(write, 2, name.data(), static_cast<int>(name.size() * 2), SQLITE_STATIC);
        sqlite3_bind_blob(write, 3, value.c_str(), static_cast<int>(value.size() * 2 + 2),
                          SQLITE_STATIC);
        sqlite3_step(write);
        sqlite3_reset(write);
    }
};

void Read_SQLite(benchmark::State& state) {
    Bare bare;
    bare.Write(u"VALUE", u"C:\\Users\\someone\\CirrelSync");
    static const std::u16string path = u"SOFTWARE\\CORVANE\\CIRRELSYNC\\BENCH";
    static const std::u16string name = u"VALUE";
    for (auto _ : state) {
        sqlite3_bind_blob(bare.read, 1, path.data(), static_cast<int>(path.size() * 2),
                          SQLITE_STATIC);
        sqlite3_bind_blob(bare.read, 2, name.data(), static_cast<int>(name.size() * 2),
                          SQLITE_STATIC);
        if (sqlite3_step(bare.read) == SQLITE_ROW) {
            std::u16string text(static_cast<const char16_t*>(sqlite3_column_blob(bare.read, 1)),
                                static_cast<size_t>(sqlite3_column_bytes(bare.read, 1)) / 2);
            benchmark::DoNotOptimize(text.size());
        }
        sqlite3_reset(bare.read);
    }
    state.SetItemsProcessed(state.iterations());
}

void Write_SQLite(benchmark::State& state) {
    Bare bare;
    int i = 0;
    for (auto _ : state) {
        bare.Write(u"WRITTEN", (i++ & 1) ? u"one value" : u"another value");
    }
    state.SetItemsProcessed(state.iterations());
}

}  // namespace

BENCHMARK(Read_Ours);
BENCHMARK(Read_SQLite);
BENCHMARK(Write_Ours);
BENCHMARK(Write_SQLite);

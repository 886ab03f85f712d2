// Storing logs in the log store (its public storage interface) beside a raw
// sqlite3 loop that inserts the same archived rows, one per transaction, in
// the same run. Each iteration stores one round of 50 logs on each side,
// taking turns about which side goes first.
//
// The raw side is set up as the store sets up its own file, read from the
// store's connection at start: the same journal mode (write-ahead log), the
// same synchronous level, auto-vacuum and page size, and the store's own
// CREATE TABLE and CREATE INDEX statements, so both sides maintain the same
// indexes and sync the same way on every commit.
//
// Before timing, a first round is read back from both: the store must give
// back the very logs it was given, in order, and the raw table the very rows.
//
// Counters: items/s is logs per second of the store, sqlite_items/s the raw
// loop's, time_ratio = store time / raw time (below 1: the store is faster).
// Where the comparison still leans: the raw loop is given rows archived
// beforehand, so archiving (and anything else the store does per log, such
// as its size limit and target columns) counts against the store; the raw
// loop binds only the columns a plain log fills.
//
// Without VEXIL_HOME the files go to a fresh temporary directory.

#include <sqlite3.h>
#include <stdlib.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "DerAvedur/DerAvedur/Shared/Model/DAVLogWithProperties.h"
#include "DerAvedur/DerAvedur/Internals/Storage/DAVLogDBStorage.h"
#include "DerAvedur/DerAvedur/Shared/Util/DAVLogger.h"
#include "DerAvedur/DerAvedur/Shared/Util/DAVUtility.h"
#include "Platform/Foundation/Text.h"
#include "bench/support/SideBySide.h"
#include "tests/DerAvedur/DerAvedur/DerAvedurTestSupport.h"

namespace {

bool gFailed = false;
constexpr std::size_t kRound = 50;

std::shared_ptr<DAVLogWithProperties> makeLog(int i) {
    auto log = std::make_shared<DAVLogWithProperties>();
    log->setType("event");
    log->setTimestamp(Foundation::Date{1700000000.0 + i});
    log->setSid(Foundation::makeUUIDString());
    log->setDevice(DAVTest::makeDevice());
    log->properties.set("name", Foundation::Value("Color Picked"));
    log->properties.set("colour", Foundation::Value("#FF8800"));
    log->properties.set("index", Foundation::Value(std::to_string(i)));
    return log;
}

struct RawLoop {
    sqlite3* db = nullptr;
    sqlite3_stmt* insert = nullptr;
    std::string path, settings;
    bool ok = false;

    // Mirrors the store's file: its settings and its schema as SQLite holds them.
    explicit RawLoop(DAVLogDBStorage& storage) {
        path = DAVUtility::sdkDirectory() + "/bench/" + Foundation::makeUUIDString() + ".sqlite";
        std::string journal, schema;
        std::int64_t synchronous = -1, autoVacuum = 0, pageSize = 0;
        storage.executeQueryUsingBlock([&](sqlite3* store) {
            auto text = [&](const char* sql) {
                auto rows = DAVDBStorage::executeSelectionQuery(sql, store);
                auto* s = rows.empty() || rows[0].empty() ? nullptr : rows[0][0].stringOrNull();
                return s ? *s : std::string();
            };
            journal = text("PRAGMA journal_mode");
            synchronous = DAVDBStorage::querySingleValue("PRAGMA synchronous", store);
            autoVacuum = DAVDBStorage::querySingleValue("PRAGMA auto_vacuum", store);
            pageSize = DAVDBStorage::querySingleValue("PRAGMA page_size", store);
            // Tables before their indexes; SQLite makes its own sequence table.
            for (auto& row : DAVDBStorage::executeSelectionQuery(
                     "SELECT sql FROM sqlite_master WHERE sql IS NOT NULL AND name NOT LIKE 'sqlite_%'"
                     " ORDER BY type = 'index', rowid",
                     store))
                if (auto* s = row.empty() ? nullptr : row[0].stringOrNull()) schema += *s + ";";
            return SQLITE_OK;
        });
        settings = "journal_mode=" + journal + " synchronous=" + std::to_string(synchronous) +
                   " auto_vacuum=" + std::to_string(autoVacuum) + " page_size=" + std::to_string(pageSize);
        ok = !journal.empty() && synchronous >= 0 && !schema.empty() &&
             sqlite3_open(path.c_str(), &db) == SQLITE_OK &&
             exec("PRAGMA page_size=" + std::to_string(pageSize) + "; PRAGMA auto_vacuum=" +
                  std::to_string(autoVacuum) + "; PRAGMA journal_mode=" + journal + "; PRAGMA synchronous=" +
                  std::to_string(synchronous) + ";" + schema) &&
             sqlite3_prepare_v2(db, "INSERT INTO \"logs\" (\"groupId\", \"log\", \"priority\") VALUES (?, ?, ?)",
                                -1, &insert, nullptr) == SQLITE_OK;
        // The settings as the raw connection has them, to compare with the store's.
        if (ok) {
            std::string mode;
            sqlite3_stmt* q = nullptr;
            sqlite3_prepare_v2(db, "PRAGMA journal_mode", -1, &q, nullptr);
            if (sqlite3_step(q) == SQLITE_ROW) mode = reinterpret_cast<const char*>(sqlite3_column_text(q, 0));
            sqlite3_finalize(q);
            ok = mode == journal;
        }
    }
    bool exec(const std::string& sql) { return sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr) == SQLITE_OK; }
    ~RawLoop() {
        sqlite3_finalize(insert);
        sqlite3_close(db);
        std::filesystem::remove(path);
    }
    // One row, one transaction.
    bool store(const std::string& row) {
        sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr);
        sqlite3_bind_text(insert, 1, "Analytics", -1, SQLITE_STATIC);
        sqlite3_bind_text(insert, 2, row.c_str(), static_cast<int>(row.size()), SQLITE_STATIC);
        sqlite3_bind_int64(insert, 3, 1);
        bool ok = sqlite3_step(insert) == SQLITE_DONE;
        sqlite3_reset(insert);
        return sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr) == SQLITE_OK && ok;
    }
    std::vector<std::string> rows() const {
        std::vector<std::string> out;
        sqlite3_stmt* q = nullptr;
        sqlite3_prepare_v2(db, "SELECT \"log\" FROM \"logs\" ORDER BY \"id\"", -1, &q, nullptr);
        while (sqlite3_step(q) == SQLITE_ROW)
            out.emplace_back(reinterpret_cast<const char*>(sqlite3_column_text(q, 0)));
        sqlite3_finalize(q);
        return out;
    }
    void clear() { sqlite3_exec(db, "DELETE FROM \"logs\"", nullptr, nullptr, nullptr); }
};

bool fail(benchmark::State& state, const char* why) {
    std::fprintf(stderr, "log store: %s\n", why);
    gFailed = true;
    state.SkipWithError(why);
    return false;
}

// Stores the round in both and reads it back.
bool sameRound(benchmark::State& state, DAVLogDBStorage& storage, RawLoop& raw,
               const std::vector<std::shared_ptr<DAVLogWithProperties>>& logs, const std::vector<std::string>& rows) {
    for (std::size_t i = 0; i < kRound; ++i)
        if (!storage.saveLog(logs[i], "Analytics", DAVFlagsNormal) || !raw.store(rows[i]))
            return fail(state, "a log was not stored");
    std::vector<std::shared_ptr<DAVLog>> loaded;
    storage.loadLogsWithGroupId(
        "Analytics", kRound, std::nullopt,
        [&](const std::vector<std::shared_ptr<DAVLog>>& l, const std::optional<std::string>&) { loaded = l; });
    if (loaded.size() != kRound) return fail(state, "the store gave back a different number of logs");
    for (std::size_t i = 0; i < kRound; ++i) {
        auto* log = dynamic_cast<const DAVAbstractLog*>(loaded[i].get());
        if (!log || !log->isEqual(*logs[i])) return fail(state, "the store gave back different logs");
    }
    if (raw.rows() != std::vector<std::string>(rows.begin(), rows.begin() + kRound))
        return fail(state, "the raw table holds different rows");
    storage.deleteLogsWithGroupId("Analytics");
    raw.clear();
    return true;
}

void saveLogs(benchmark::State& state) {
    std::vector<std::shared_ptr<DAVLogWithProperties>> logs;
    std::vector<std::string> rows;
    for (std::size_t i = 0; i < kRound; ++i) {
        logs.push_back(makeLog(static_cast<int>(i)));
        rows.push_back(Foundation::base64Encode(*DAVUtility::archiveKeyedData(Foundation::Value(logs.back()))));
    }
    const std::string file = "bench/" + Foundation::makeUUIDString() + ".sqlite";
    DAVLogDBStorage storage(file);
    RawLoop raw(storage);
    if (!raw.ok) {
        fail(state, "the raw table could not be set up as the store's");
    } else if (sameRound(state, storage, raw, logs, rows)) {
        bench::SideBySide sides(state);
        bool stored = true;
        for (auto _ : state) {
            sides.iteration(
                [&] {
                    for (auto& log : logs) stored = storage.saveLog(log, "Analytics", DAVFlagsNormal) && stored;
                },
                [&] {
                    for (auto& row : rows) stored = raw.store(row) && stored;
                });
        }
        if (!stored) fail(state, "a log was not stored");
        sides.report(static_cast<std::int64_t>(kRound), "sqlite", true);
        state.SetLabel(raw.settings);
    }
    std::filesystem::remove(storage.dbFileURL());
}

}  // namespace

int main(int argc, char** argv) {
    std::string scratch;
    if (!std::getenv("VEXIL_HOME")) {
        scratch = std::filesystem::temp_directory_path() / ("bench-log-store-" + Foundation::makeUUIDString());
        std::filesystem::create_directories(scratch);
        ::setenv("VEXIL_HOME", scratch.c_str(), 1);
    }
    DAVLogger::setLogHandler(nullptr);
    std::filesystem::create_directories(DAVUtility::sdkDirectory() + "/bench");
    benchmark::RegisterBenchmark("save_log", saveLogs)->UseManualTime()->Unit(benchmark::kMillisecond);
    int status = bench::runBenchmarks(argc, argv, gFailed);
    if (!scratch.empty()) std::filesystem::remove_all(scratch);
    return status;
}

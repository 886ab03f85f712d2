// Storing logs in the log store beside a raw sqlite3 loop that inserts the
// same rows, one per transaction, into a table of the same layout in the same
// run. Prints logs per second, p50 and p99 per store call, and the ratio.
//
//   bench_log_store [count]      (default 2000)
//
// Without VEXIL_HOME the files go to a fresh temporary directory.

#include <sqlite3.h>
#include <stdlib.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "DerAvedur/DerAvedur/Internals/Model/DAVLogWithProperties.h"
#include "DerAvedur/DerAvedur/Internals/Storage/DAVLogDBStorage.h"
#include "DerAvedur/DerAvedur/Internals/Util/DAVLogger.h"
#include "DerAvedur/DerAvedur/Internals/Util/DAVUtility.h"
#include "Platform/Foundation/Text.h"
#include "tests/DerAvedur/DerAvedur/DerAvedurTestSupport.h"

namespace {

using Clock = std::chrono::steady_clock;

std::shared_ptr<DAVLogWithProperties> makeLog(int i) {
    auto device = DAVTest::makeDevice();
    auto log = std::make_shared<DAVLogWithProperties>();
    log->setType("event");
    log->setTimestamp(Foundation::Date{1700000000.0 + i});
    log->setSid(Foundation::makeUUIDString());
    log->setDevice(device);
    log->properties.set("name", Foundation::Value("Color Picked"));
    log->properties.set("colour", Foundation::Value("#FF8800"));
    log->properties.set("index", Foundation::Value(std::to_string(i)));
    return log;
}

struct Stats {
    double total = 0;  // seconds
    double p50 = 0, p99 = 0;  // microseconds
};

Stats summarize(std::vector<double> micros) {
    Stats stats;
    for (double m : micros) stats.total += m / 1e6;
    std::sort(micros.begin(), micros.end());
    stats.p50 = micros[micros.size() / 2];
    stats.p99 = micros[std::min(micros.size() - 1, micros.size() * 99 / 100)];
    return stats;
}

double since(Clock::time_point start) {
    return std::chrono::duration<double, std::micro>(Clock::now() - start).count();
}

// The store and the raw loop take turns in rounds of this many logs, so that
// both meet the same disk conditions.
constexpr std::size_t kRound = 50;

struct RawLoop {
    sqlite3* db = nullptr;
    sqlite3_stmt* insert = nullptr;
    std::string path;

    RawLoop() {
        path = DAVUtility::sdkDirectory() + "/bench/" + Foundation::makeUUIDString() + ".sqlite";
        sqlite3_open(path.c_str(), &db);
        sqlite3_exec(db,
                     "PRAGMA auto_vacuum = FULL;"
                     "CREATE TABLE \"logs\" (\"id\" INTEGER PRIMARY KEY AUTOINCREMENT, \"groupId\" TEXT NOT NULL, "
                     "\"log\" TEXT NOT NULL, \"targetToken\" TEXT, \"targetKey\" TEXT, \"priority\" INTEGER);"
                     "CREATE INDEX \"ix_logs_priority\" ON \"logs\" (\"priority\");",
                     nullptr, nullptr, nullptr);
        sqlite3_prepare_v2(db, "INSERT INTO \"logs\" (\"groupId\", \"log\", \"priority\") VALUES (?, ?, ?)", -1,
                           &insert, nullptr);
    }
    ~RawLoop() {
        sqlite3_finalize(insert);
        sqlite3_close(db);
        std::filesystem::remove(path);
    }
    // One row, one transaction.
    void store(const std::string& row) {
        sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr);
        sqlite3_bind_text(insert, 1, "Analytics", -1, SQLITE_STATIC);
        sqlite3_bind_text(insert, 2, row.c_str(), static_cast<int>(row.size()), SQLITE_STATIC);
        sqlite3_bind_int64(insert, 3, 1);
        if (sqlite3_step(insert) != SQLITE_DONE) std::fprintf(stderr, "raw insert failed\n");
        sqlite3_reset(insert);
        sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
    }
};

void print(const char* name, const Stats& stats, std::size_t count) {
    std::printf("%-10s %10.0f logs/s   p50 %8.1f us   p99 %8.1f us\n", name, count / stats.total, stats.p50, stats.p99);
}

}  // namespace

int main(int argc, char** argv) {
    const int count = argc > 1 ? std::max(10, std::atoi(argv[1])) : 2000;
    std::string scratch;
    if (!std::getenv("VEXIL_HOME")) {
        scratch = std::filesystem::temp_directory_path() / ("bench-log-store-" + Foundation::makeUUIDString());
        std::filesystem::create_directories(scratch);
        ::setenv("VEXIL_HOME", scratch.c_str(), 1);
    }
    DAVLogger::setLogHandler(nullptr);
    std::filesystem::create_directories(DAVUtility::sdkDirectory() + "/bench");

    std::vector<std::shared_ptr<DAVLogWithProperties>> logs;
    std::vector<std::string> rows;
    for (int i = 0; i < count; ++i) {
        logs.push_back(makeLog(i));
        rows.push_back(Foundation::base64Encode(*DAVUtility::archiveKeyedData(Foundation::Value(logs.back()))));
    }
    std::printf("log store vs raw sqlite3, %d logs of %zu base64 bytes, files in %s\n", count, rows.front().size(),
                DAVUtility::sdkDirectory().c_str());

    const std::string file = "bench/" + Foundation::makeUUIDString() + ".sqlite";
    DAVLogDBStorage storage(file);
    RawLoop raw;
    std::vector<double> storeMicros, rawMicros;
    for (std::size_t begin = 0; begin < logs.size(); begin += kRound) {
        const std::size_t end = std::min(logs.size(), begin + kRound);
        for (std::size_t i = begin; i < end; ++i) {
            auto start = Clock::now();
            if (!storage.saveLog(logs[i], "Analytics", DAVFlagsNormal)) std::fprintf(stderr, "store failed\n");
            storeMicros.push_back(since(start));
        }
        for (std::size_t i = begin; i < end; ++i) {
            auto start = Clock::now();
            raw.store(rows[i]);
            rawMicros.push_back(since(start));
        }
    }
    std::filesystem::remove(storage.dbFileURL());
    Stats store = summarize(storeMicros);
    Stats rawStats = summarize(rawMicros);
    print("store", store, logs.size());
    print("raw", rawStats, rows.size());
    std::printf("ratio (store time / raw time): %.2f\n", store.total / rawStats.total);
    if (!scratch.empty()) std::filesystem::remove_all(scratch);
    return 0;
}

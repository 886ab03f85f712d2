// How many tracked events a kill -9 during a burst loses.
//
//   telemetry-kill-loss [kills] [events] [window ms]     (default 30, 1000, measured)
//
// Each round a child process tracks `events` events into a channel unit as
// fast as it can (the unit's flush interval is long, so nothing is sent) and
// counts in shared memory the track calls that returned. The parent kills it
// with SIGKILL at a random moment of the window after the burst began (by
// default the time a whole burst takes to be stored, measured first by an
// unkilled round), then counts the rows in the store's file.
// Lost = tracked - stored. Prints each round and the total.
//
// Without VEXIL_HOME the files go to a fresh temporary directory.

#include <signal.h>
#include <sqlite3.h>
#include <stdlib.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <random>
#include <string>
#include <thread>

#include "DerAvedur/DerAvedur/Internals/Channel/DAVChannelGroupDefault.h"
#include "DerAvedur/DerAvedur/Internals/Channel/DAVChannelUnitDefault.h"
#include "DerAvedur/DerAvedur/Internals/HttpClient/DAVHttpClient.h"
#include "DerAvedur/DerAvedur/Shared/Model/DAVLogWithProperties.h"
#include "DerAvedur/DerAvedur/Internals/Storage/DAVLogDBStorage.h"
#include "DerAvedur/DerAvedur/Shared/Util/DAVLogger.h"
#include "DerAvedur/DerAvedur/Shared/Util/DAVUtility.h"
#include "Platform/Foundation/Text.h"

namespace {

using Clock = std::chrono::steady_clock;

struct Shared {
    std::atomic<int> ready;
    std::atomic<long> tracked;
    std::atomic<long> stored;
    std::atomic<long long> burstNanoseconds;  // tracking start to last commit
    std::atomic<long long> trackNanoseconds;  // tracking start to the last track call's return
};

class StoredCounter : public DAVChannelDelegate {
public:
    explicit StoredCounter(Shared* shared) : shared_(shared) {}
    void channelDidCompleteEnqueueingLog(const std::shared_ptr<DAVChannelProtocol>&, const std::shared_ptr<DAVLog>&,
                                         const std::string&) override {
        shared_->stored.fetch_add(1);
    }

private:
    Shared* shared_;
};

[[noreturn]] void child(Shared* shared, const std::string& file, long events) {
    DAVLogger::setLogHandler(nullptr);
    auto client = std::make_shared<DAVHttpClient>();
    auto ingestion =
        std::make_shared<DAVDerAvedurIngestion>(client, "http://127.0.0.1:9", "0B1D7C1E-2C3A-4F3B-8D8E-6F1A2B3C4D5E");
    ingestion->setAppSecret(std::string("5f1d3a9e-7c44-4b1f-9e2a-0c6b8d4e2f11"));
    auto group = std::make_shared<DAVChannelGroupDefault>(ingestion, std::make_shared<DAVLogDBStorage>(file),
                                                          DAVChannelUnitDependencies::shared());
    auto counter = std::make_shared<StoredCounter>(shared);
    group->addDelegate(counter);
    auto unit = group->addChannelUnitWithConfiguration(
        DAVChannelUnitConfiguration::initDefaultConfigurationWithGroupId("Burst", 86400));
    std::vector<std::shared_ptr<DAVLogWithProperties>> logs;
    for (long i = 0; i < events; ++i) {
        auto log = std::make_shared<DAVLogWithProperties>();
        log->setType("event");
        log->properties.set("name", Foundation::Value("Color Picked"));
        log->properties.set("index", Foundation::Value(std::to_string(i)));
        logs.push_back(log);
    }
    shared->ready.store(1);
    const auto start = Clock::now();
    for (const auto& log : logs) {
        unit->enqueueItem(log, DAVFlagsNormal);
        shared->tracked.fetch_add(1);
    }
    shared->trackNanoseconds.store(std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now() - start).count());
    while (shared->stored.load() < events) std::this_thread::sleep_for(std::chrono::microseconds(200));
    shared->burstNanoseconds.store(std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now() - start).count());
    ::_exit(0);
}

long countRows(const std::string& path) {
    sqlite3* db = nullptr;
    long rows = -1;
    if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr) == SQLITE_OK) {
        sqlite3_stmt* statement = nullptr;
        if (sqlite3_prepare_v2(db, "SELECT COUNT(*) FROM logs", -1, &statement, nullptr) == SQLITE_OK &&
            sqlite3_step(statement) == SQLITE_ROW)
            rows = sqlite3_column_int(statement, 0);
        sqlite3_finalize(statement);
    }
    sqlite3_close(db);
    return rows;
}

// Runs one child; kills it `killAfter` after its burst began (never when absent).
bool round(Shared* shared, const std::string& file, long events, std::optional<std::chrono::nanoseconds> killAfter) {
    shared->ready.store(0);
    shared->tracked.store(0);
    shared->stored.store(0);
    shared->burstNanoseconds.store(0);
    const pid_t pid = ::fork();
    if (pid < 0) return false;
    if (pid == 0) child(shared, file, events);
    while (shared->ready.load() == 0) std::this_thread::sleep_for(std::chrono::microseconds(100));
    if (killAfter) {
        std::this_thread::sleep_until(Clock::now() + *killAfter);
        ::kill(pid, SIGKILL);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc > 4) {
        std::fprintf(stderr, "usage: %s [kills] [events] [window ms]\n", argv[0]);
        return 2;
    }
    char* end = nullptr;
    const long kills = argc > 1 ? std::strtol(argv[1], &end, 10) : 30;
    if (argc > 1 && (*end || kills <= 0)) return std::fprintf(stderr, "kills: a positive number\n"), 2;
    const long events = argc > 2 ? std::strtol(argv[2], &end, 10) : 1000;
    if (argc > 2 && (*end || events <= 0)) return std::fprintf(stderr, "events: a positive number\n"), 2;
    const double windowMs = argc > 3 ? std::strtod(argv[3], &end) : 0;
    if (argc > 3 && (*end || windowMs <= 0)) return std::fprintf(stderr, "window: a positive number of ms\n"), 2;

    std::string scratch;
    if (!std::getenv("VEXIL_HOME")) {
        scratch = std::filesystem::temp_directory_path() / ("telemetry-kill-loss-" + Foundation::makeUUIDString());
        std::filesystem::create_directories(scratch);
        ::setenv("VEXIL_HOME", scratch.c_str(), 1);
    }
    auto* shared = static_cast<Shared*>(
        ::mmap(nullptr, sizeof(Shared), PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0));
    new (shared) Shared{};

    // The time a whole burst takes, unkilled.
    const std::string calibration = "kill-calibration.sqlite";
    round(shared, calibration, events, std::nullopt);
    const auto stored = std::chrono::nanoseconds(shared->burstNanoseconds.load());
    const auto burst = windowMs > 0 ? std::chrono::nanoseconds(static_cast<long long>(windowMs * 1e6)) : stored;
    std::printf("%ld events tracked in %.1f ms and stored in %.1f ms without a kill\n", events,
                shared->trackNanoseconds.load() / 1e6, stored.count() / 1e6);
    std::printf("kills fall at random within %.1f ms of the burst's start\n", burst.count() / 1e6);

    std::mt19937_64 random(std::random_device{}());
    long totalLost = 0, totalTracked = 0, worst = 0;
    for (long k = 0; k < kills; ++k) {
        const std::string file = "kill-" + std::to_string(k) + ".sqlite";
        const auto after = std::chrono::nanoseconds(
            std::uniform_int_distribution<long long>(0, std::max<long long>(1, burst.count()))(random));
        round(shared, file, events, after);
        const long tracked = shared->tracked.load();
        const long rows = countRows(DAVUtility::sdkDirectory() + "/" + file);
        const long lost = std::max(0L, tracked - rows);
        totalLost += lost;
        totalTracked += tracked;
        worst = std::max(worst, lost);
        std::printf("kill %2ld at %6.2f ms: %4ld tracked, %4ld stored, %4ld lost\n", k + 1, after.count() / 1e6,
                    tracked, rows, lost);
    }
    std::printf("%ld kills: %ld of %ld tracked events lost (at most %ld in one kill)\n", kills, totalLost, totalTracked,
                worst);
    if (!scratch.empty()) std::filesystem::remove_all(scratch);
    return 0;
}

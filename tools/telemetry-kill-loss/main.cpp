// How many tracked events a kill -9 during a burst loses.
//
//   telemetry-kill-loss [kills] [events] [window ms]     (default 30, 1000, measured)
//
// Each round a child process tracks `events` events into a channel unit as
// fast as it can, with the ingestion server down, and counts in shared memory
// the track calls that returned. The parent kills it with SIGKILL at a random
// moment of the window after the burst began (by default the time a whole
// burst takes to be stored, measured first by an unkilled round) and checks
// the store's file (PRAGMA integrity_check). A second child then starts as
// the next launch would, against a recording server on loopback, until every
// tracked event of the round has arrived or 30 s have passed.
// Lost = tracked events that never arrived; duplicates = events that arrived
// more than once. Prints each round and the totals; exits 1 when anything
// was lost or a store failed its check.
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
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <mutex>
#include <random>
#include <string>
#include <thread>

#include <httplib.h>
#include <nlohmann/json.hpp>

#include "DerAvedur/DerAvedur/Internals/Channel/DAVChannelGroupDefault.h"
#include "DerAvedur/DerAvedur/Internals/Channel/DAVChannelUnitDefault.h"
#include "DerAvedur/DerAvedur/Internals/HttpClient/DAVHttpClient.h"
#include "DerAvedur/DerAvedur/Internals/HttpClient/DAVHttpUtil.h"
#include "DerAvedur/DerAvedur/Internals/Storage/DAVLogDBStorage.h"
#include "DerAvedur/DerAvedur/Shared/Model/DAVLogWithProperties.h"
#include "DerAvedur/DerAvedur/Shared/Util/DAVLogger.h"
#include "DerAvedur/DerAvedur/Shared/Util/DAVUtility.h"
#include "Platform/Foundation/Text.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr const char* kGroup = "Burst";

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

// The recording ingestion server: per round, how often each index arrived.
class Server {
public:
    Server() {
        server_.Post("/logs", [this](const httplib::Request& request, httplib::Response& response) {
            const bool packed = request.body.size() >= 2 && static_cast<unsigned char>(request.body[0]) == 0x1f;
            std::string body = request.body;
            if (packed) {
                auto data = DAVHttpUtil::decompressData(Foundation::Data(body.begin(), body.end()));
                body = data ? std::string(data->begin(), data->end()) : std::string();
            }
            const nlohmann::json json = nlohmann::json::parse(body, nullptr, false);
            std::lock_guard<std::mutex> guard(mutex_);
            if (json.is_object() && json.contains("logs"))
                for (const auto& log : json["logs"]) {
                    const auto& properties = log.value("properties", nlohmann::json::object());
                    if (properties.contains("round") && properties.contains("index"))
                        ++received_[properties["round"].get<std::string>()][properties["index"].get<std::string>()];
                }
            response.status = 200;
        });
        port_ = server_.bind_to_any_port("127.0.0.1");
        thread_ = std::thread([this] { server_.listen_after_bind(); });
        while (!server_.is_running()) std::this_thread::yield();
    }
    ~Server() {
        server_.stop();
        thread_.join();
    }
    std::string base() const { return "http://127.0.0.1:" + std::to_string(port_); }
    std::map<std::string, int> received(const std::string& round) {
        std::lock_guard<std::mutex> guard(mutex_);
        return received_[round];
    }

private:
    httplib::Server server_;
    int port_ = 0;
    std::thread thread_;
    std::mutex mutex_;
    std::map<std::string, std::map<std::string, int>> received_;
};

std::shared_ptr<DAVChannelGroupDefault> makeGroup(const std::string& base, const std::string& file) {
    auto client = std::make_shared<DAVHttpClient>();
    auto ingestion = std::make_shared<DAVDerAvedurIngestion>(client, base, "0B1D7C1E-2C3A-4F3B-8D8E-6F1A2B3C4D5E");
    ingestion->setAppSecret(std::string("5f1d3a9e-7c44-4b1f-9e2a-0c6b8d4e2f11"));
    return std::make_shared<DAVChannelGroupDefault>(ingestion, std::make_shared<DAVLogDBStorage>(file),
                                                    DAVChannelUnitDependencies::shared());
}

[[noreturn]] void burstChild(Shared* shared, const std::string& file, const std::string& round, long events) {
    DAVLogger::setLogHandler(nullptr);
    auto group = makeGroup("http://127.0.0.1:9", file);  // nothing listens there
    auto counter = std::make_shared<StoredCounter>(shared);
    group->addDelegate(counter);
    auto unit = group->addChannelUnitWithConfiguration(
        DAVChannelUnitConfiguration::initDefaultConfigurationWithGroupId(kGroup, 86400));
    std::vector<std::shared_ptr<DAVLogWithProperties>> logs;
    for (long i = 0; i < events; ++i) {
        auto log = std::make_shared<DAVLogWithProperties>();
        log->setType("event");
        log->properties.set("name", Foundation::Value("Color Picked"));
        log->properties.set("round", Foundation::Value(round));
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

// The next launch: the unit folds what the killed one left and sends it.
[[noreturn]] void restartChild(const std::string& base, const std::string& file) {
    DAVLogger::setLogHandler(nullptr);
    auto group = makeGroup(base, file);
    group->addChannelUnitWithConfiguration(std::make_shared<DAVChannelUnitConfiguration>(kGroup, 1, 0, 50, 3));
    for (;;) std::this_thread::sleep_for(std::chrono::seconds(1));
}

std::string integrity(const std::string& path) {
    sqlite3* db = nullptr;
    std::string result = "cannot open";
    if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
        sqlite3_stmt* statement = nullptr;
        if (sqlite3_prepare_v2(db, "PRAGMA integrity_check", -1, &statement, nullptr) == SQLITE_OK &&
            sqlite3_step(statement) == SQLITE_ROW)
            result = reinterpret_cast<const char*>(sqlite3_column_text(statement, 0));
        sqlite3_finalize(statement);
    }
    sqlite3_close(db);
    return result;
}

pid_t start(Shared* shared, const std::string& file, const std::string& round, long events) {
    shared->ready.store(0);
    shared->tracked.store(0);
    shared->stored.store(0);
    shared->burstNanoseconds.store(0);
    const pid_t pid = ::fork();
    if (pid == 0) burstChild(shared, file, round, events);
    while (pid > 0 && shared->ready.load() == 0) std::this_thread::sleep_for(std::chrono::microseconds(100));
    return pid;
}

void finish(pid_t pid, bool kill) {
    if (kill) ::kill(pid, SIGKILL);
    int status = 0;
    ::waitpid(pid, &status, 0);
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
    finish(start(shared, "kill-calibration.sqlite", "calibration", events), false);
    const auto stored = std::chrono::nanoseconds(shared->burstNanoseconds.load());
    const auto burst = windowMs > 0 ? std::chrono::nanoseconds(static_cast<long long>(windowMs * 1e6)) : stored;
    std::printf("%ld events tracked in %.1f ms and stored in %.1f ms without a kill (%.0f events/s)\n", events,
                shared->trackNanoseconds.load() / 1e6, stored.count() / 1e6, events / (stored.count() / 1e9));
    std::printf("kills fall at random within %.1f ms of the burst's start\n", burst.count() / 1e6);

    Server server;
    std::mt19937_64 random(std::random_device{}());
    long totalLost = 0, totalTracked = 0, totalDuplicates = 0, worst = 0, damaged = 0;
    for (long k = 0; k < kills; ++k) {
        const std::string file = "kill-" + std::to_string(k) + ".sqlite";
        const std::string round = std::to_string(k);
        const auto after = std::chrono::nanoseconds(
            std::uniform_int_distribution<long long>(0, std::max<long long>(1, burst.count()))(random));
        const pid_t pid = start(shared, file, round, events);
        std::this_thread::sleep_until(Clock::now() + after);
        finish(pid, true);
        const long tracked = shared->tracked.load();
        const std::string path = DAVUtility::sdkDirectory() + "/" + file;
        const std::string afterKill = integrity(path);

        const pid_t next = ::fork();
        if (next == 0) restartChild(server.base(), file);
        std::map<std::string, int> received;
        const auto deadline = Clock::now() + std::chrono::seconds(30);
        auto delivered = [&] {
            for (long i = 0; i < tracked; ++i)
                if (!received.count(std::to_string(i))) return false;
            return true;
        };
        while (!delivered() && Clock::now() < deadline) {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
            received = server.received(round);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(200));  // late copies, if any
        received = server.received(round);
        finish(next, true);
        const std::string afterRestart = integrity(path);

        long lost = 0, duplicates = 0;
        for (long i = 0; i < tracked; ++i) lost += received.count(std::to_string(i)) ? 0 : 1;
        for (const auto& [index, count] : received) duplicates += count - 1;
        const bool intact = afterKill == "ok" && afterRestart == "ok";
        damaged += intact ? 0 : 1;
        totalLost += lost;
        totalTracked += tracked;
        totalDuplicates += duplicates;
        worst = std::max(worst, lost);
        std::printf("kill %2ld at %6.2f ms: %4ld tracked, %4zu delivered, %4ld lost, %ld duplicate(s), store %s\n",
                    k + 1, after.count() / 1e6, tracked, received.size(), lost, duplicates,
                    intact ? "ok" : (afterKill + " / " + afterRestart).c_str());
    }
    std::printf(
        "%ld kills: %ld of %ld tracked events lost (at most %ld in one kill), %ld duplicate(s), %ld store(s) "
        "failing the integrity check\n",
        kills, totalLost, totalTracked, worst, totalDuplicates, damaged);
    if (!scratch.empty()) std::filesystem::remove_all(scratch);
    return totalLost > 0 || damaged > 0 ? 1 : 0;
}

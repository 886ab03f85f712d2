// Sending logs end to end (enqueue, store, batch of 50, JSON, gzip, POST,
// answer, delete) through a channel unit to a local server, beside raw
// libcurl posting the same gzipped bodies to the same server with as many in
// flight (3), in the same run. Rounds alternate; medians are printed with
// the ratio.
//
//   bench_telemetry_send [logs per round] [rounds]     (default 2000, 5)
//
// Without VEXIL_HOME the files go to a fresh temporary directory.

#include <curl/curl.h>
#include <stdlib.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <filesystem>
#include <map>
#include <set>
#include <mutex>
#include <thread>
#include <vector>

#include <httplib.h>

#include "DerAvedur/DerAvedur/Internals/Channel/DAVChannelGroupDefault.h"
#include "DerAvedur/DerAvedur/Internals/Channel/DAVChannelUnitDefault.h"
#include "DerAvedur/DerAvedur/Internals/HttpClient/DAVHttpClient.h"
#include "DerAvedur/DerAvedur/Internals/HttpClient/DAVHttpUtil.h"
#include "DerAvedur/DerAvedur/Internals/Model/DAVLogWithProperties.h"
#include "DerAvedur/DerAvedur/Internals/Storage/DAVLogDBStorage.h"
#include "DerAvedur/DerAvedur/Internals/Util/DAVLogger.h"
#include "DerAvedur/DerAvedur/Internals/Util/DAVUtility.h"
#include "Platform/Foundation/Text.h"
#include "tests/DerAvedur/DerAvedur/DerAvedurTestSupport.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr std::size_t kBatch = 50;
constexpr std::size_t kInFlight = 3;
constexpr const char* kSecret = "5f1d3a9e-7c44-4b1f-9e2a-0c6b8d4e2f11";
constexpr const char* kInstallId = "0B1D7C1E-2C3A-4F3B-8D8E-6F1A2B3C4D5E";

std::shared_ptr<DAVLogWithProperties> makeLog(std::size_t i) {
    auto device = DAVTest::makeDevice();
    auto log = std::make_shared<DAVLogWithProperties>();
    log->setType("event");
    log->setTimestamp(Foundation::Date{1700000000.0 + static_cast<double>(i)});
    log->setSid(Foundation::makeUUIDString());
    log->setDevice(device);
    log->properties.set("name", Foundation::Value("Color Picked"));
    log->properties.set("colour", Foundation::Value("#FF8800"));
    log->properties.set("index", Foundation::Value(std::to_string(i)));
    return log;
}

// The log store's contract kept in memory: shows what the pipeline costs
// besides SQLite's durable inserts.
class MemoryStorage : public DAVStorage {
public:
    bool saveLog(const std::shared_ptr<DAVLog>& log, const std::string& groupId, DAVFlags) override {
        rows_.push_back({nextId_++, groupId, log, false});
        return true;
    }
    bool loadLogsWithGroupId(const std::string& groupId, std::size_t limit, const std::optional<std::vector<std::string>>&,
                             const DAVLoadDataCompletionHandler& completionHandler) override {
        std::vector<std::shared_ptr<DAVLog>> logs;
        std::vector<std::int64_t> ids;
        bool more = false;
        for (Row& row : rows_) {
            if (row.groupId != groupId || row.handedOut) continue;
            if (logs.size() == limit) {
                more = true;
                break;
            }
            row.handedOut = true;
            logs.push_back(row.log);
            ids.push_back(row.id);
        }
        std::optional<std::string> batchId;
        if (!logs.empty()) {
            batchId = Foundation::makeUUIDString();
            batches_[*batchId] = ids;
        }
        completionHandler(logs, batchId);
        return more;
    }
    void deleteLogsWithBatchId(const std::string& batchId, const std::string&) override {
        auto batch = batches_.find(batchId);
        if (batch == batches_.end()) return;
        std::set<std::int64_t> ids(batch->second.begin(), batch->second.end());
        rows_.erase(std::remove_if(rows_.begin(), rows_.end(), [&](const Row& row) { return ids.count(row.id) > 0; }),
                    rows_.end());
        batches_.erase(batch);
    }
    std::vector<std::shared_ptr<DAVLog>> deleteLogsWithGroupId(const std::string&) override { return {}; }
    void releaseLogsWithBatchId(const std::string& batchId, const std::string&) override { batches_.erase(batchId); }
    std::size_t countLogs() override { return rows_.size(); }
    std::size_t countLogsWithGroupId(const std::string&) override { return rows_.size(); }
    void setMaxStorageSize(std::int64_t, const std::function<void(bool)>& completion) override {
        if (completion) completion(true);
    }

private:
    struct Row {
        std::int64_t id;
        std::string groupId;
        std::shared_ptr<DAVLog> log;
        bool handedOut;
    };
    std::vector<Row> rows_;
    std::map<std::string, std::vector<std::int64_t>> batches_;
    std::int64_t nextId_ = 1;
};

// Counts answered logs and wakes the sender.
class Counter : public DAVChannelDelegate {
public:
    void channelDidSucceedSendingLog(const std::shared_ptr<DAVChannelProtocol>&, const std::shared_ptr<DAVLog>&) override {
        add();
    }
    void channelDidFailSendingLog(const std::shared_ptr<DAVChannelProtocol>&, const std::shared_ptr<DAVLog>&,
                                  const std::optional<Foundation::Error>&) override {
        failed.fetch_add(1);
        add();
    }
    void waitUntil(const std::function<bool(std::size_t)>& done) {
        std::unique_lock<std::mutex> lock(mutex_);
        cv_.wait(lock, [&] { return done(answered_); });
    }
    void reset() {
        std::lock_guard<std::mutex> guard(mutex_);
        answered_ = 0;
    }
    std::atomic<std::size_t> failed{0};

private:
    void add() {
        {
            std::lock_guard<std::mutex> guard(mutex_);
            ++answered_;
        }
        cv_.notify_all();
    }
    std::mutex mutex_;
    std::condition_variable cv_;
    std::size_t answered_ = 0;
};

// The SDK path: batches are released as the unit would see an application
// log them, keeping at most three batches in flight.
double runSdk(DAVChannelUnitDefault& unit, Counter& counter, const std::vector<std::shared_ptr<DAVLogWithProperties>>& logs) {
    counter.reset();
    const auto start = Clock::now();
    for (std::size_t first = 0; first < logs.size(); first += kBatch) {
        const std::size_t sentBatches = first / kBatch;
        counter.waitUntil([&](std::size_t answered) { return sentBatches - answered / kBatch < kInFlight; });
        for (std::size_t i = first; i < std::min(logs.size(), first + kBatch); ++i) unit.enqueueItem(logs[i], DAVFlagsNormal);
    }
    counter.waitUntil([&](std::size_t answered) { return answered >= logs.size(); });
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// The floor: the same gzipped bodies, posted with libcurl, three at a time.
double runRaw(const std::string& url, const std::vector<Foundation::Data>& bodies) {
    CURLM* multi = curl_multi_init();
    curl_multi_setopt(multi, CURLMOPT_MAX_TOTAL_CONNECTIONS, static_cast<long>(kInFlight));
    curl_slist* headers = nullptr;
    for (const char* header : {"Content-Type: application/json", "Content-Encoding: gzip", "Expect:"})
        headers = curl_slist_append(headers, header);
    headers = curl_slist_append(headers, (std::string("App-Secret: ") + kSecret).c_str());
    headers = curl_slist_append(headers, (std::string("Install-ID: ") + kInstallId).c_str());
    auto discard = +[](char*, size_t size, size_t count, void*) -> size_t { return size * count; };

    const auto start = Clock::now();
    std::size_t next = 0, done = 0, running = 0;
    while (done < bodies.size()) {
        while (running < kInFlight && next < bodies.size()) {
            CURL* easy = curl_easy_init();
            curl_easy_setopt(easy, CURLOPT_URL, url.c_str());
            curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
            curl_easy_setopt(easy, CURLOPT_HTTPHEADER, headers);
            curl_easy_setopt(easy, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(bodies[next].size()));
            curl_easy_setopt(easy, CURLOPT_POSTFIELDS, bodies[next].data());
            curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, discard);
            curl_multi_add_handle(multi, easy);
            ++next;
            ++running;
        }
        int active = 0;
        curl_multi_perform(multi, &active);
        int queued = 0;
        while (CURLMsg* message = curl_multi_info_read(multi, &queued)) {
            if (message->msg != CURLMSG_DONE) continue;
            CURL* easy = message->easy_handle;
            curl_multi_remove_handle(multi, easy);
            curl_easy_cleanup(easy);
            --running;
            ++done;
        }
        // Wait only when no new post can start now.
        const bool canStart = running < kInFlight && next < bodies.size();
        if (done < bodies.size() && !canStart) curl_multi_poll(multi, nullptr, 0, 1000, nullptr);
    }
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    curl_slist_free_all(headers);
    curl_multi_cleanup(multi);
    return seconds;
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
    const std::size_t count = argc > 1 ? std::max<std::size_t>(kBatch, std::strtoul(argv[1], nullptr, 10) / kBatch * kBatch) : 2000;
    const int rounds = argc > 2 ? std::max(1, std::atoi(argv[2])) : 5;
    std::string scratch;
    if (!std::getenv("VEXIL_HOME")) {
        scratch = std::filesystem::temp_directory_path() / ("bench-telemetry-send-" + Foundation::makeUUIDString());
        std::filesystem::create_directories(scratch);
        ::setenv("VEXIL_HOME", scratch.c_str(), 1);
    }
    DAVLogger::setLogHandler(nullptr);
    curl_global_init(CURL_GLOBAL_DEFAULT);

    std::atomic<std::size_t> requests{0};
    httplib::Server server;
    server.Post("/logs", [&](const httplib::Request&, httplib::Response& response) {
        requests.fetch_add(1);
        response.status = 200;
    });
    const int port = server.bind_to_any_port("127.0.0.1");
    std::thread serverThread([&] { server.listen_after_bind(); });
    while (!server.is_running()) std::this_thread::yield();
    const std::string base = "http://127.0.0.1:" + std::to_string(port);

    std::vector<std::shared_ptr<DAVLogWithProperties>> logs;
    for (std::size_t i = 0; i < count; ++i) logs.push_back(makeLog(i));
    std::vector<Foundation::Data> bodies;
    for (std::size_t first = 0; first < count; first += kBatch) {
        std::vector<std::shared_ptr<DAVLog>> batch(logs.begin() + static_cast<long>(first),
                                                   logs.begin() + static_cast<long>(std::min(count, first + kBatch)));
        const std::string json = *DAVLogContainer("batch", batch).serializeLog();
        bodies.push_back(*DAVHttpUtil::compressData(Foundation::Data(json.begin(), json.end())));
    }

    auto counter = std::make_shared<Counter>();
    auto makeUnit = [&](std::shared_ptr<DAVStorage> storage) {
        auto client = std::make_shared<DAVHttpClient>();
        auto ingestion = std::make_shared<DAVDerAvedurIngestion>(client, base, kInstallId);
        ingestion->setAppSecret(std::string(kSecret));
        auto group = std::make_shared<DAVChannelGroupDefault>(ingestion, std::move(storage));
        group->addDelegate(counter);
        auto unit = std::dynamic_pointer_cast<DAVChannelUnitDefault>(group->addChannelUnitWithConfiguration(
            DAVChannelUnitConfiguration::initDefaultConfigurationWithGroupId("Bench")));
        return std::make_pair(group, unit);
    };
    auto [sqliteGroup, sqliteUnit] =
        makeUnit(std::make_shared<DAVLogDBStorage>("bench-send-" + Foundation::makeUUIDString() + ".sqlite"));
    auto [memoryGroup, memoryUnit] = makeUnit(std::make_shared<MemoryStorage>());

    const std::string url = base + "/logs?api-version=1.0.0";
    runRaw(url, bodies);  // warm up connections and caches
    std::vector<double> sqliteRates, memoryRates, rawRates;
    for (int round = 0; round < rounds; ++round) {
        sqliteRates.push_back(static_cast<double>(count) / runSdk(*sqliteUnit, *counter, logs));
        memoryRates.push_back(static_cast<double>(count) / runSdk(*memoryUnit, *counter, logs));
        rawRates.push_back(static_cast<double>(count) / runRaw(url, bodies));
    }
    const double sqlite = median(sqliteRates), memory = median(memoryRates), raw = median(rawRates);
    std::printf("telemetry send, %zu logs per round in batches of %zu, %d rounds, %zu requests, %zu failures\n", count,
                kBatch, rounds, requests.load(), counter->failed.load());
    std::printf("  SDK end to end, SQLite log store : %9.0f logs/s\n", sqlite);
    std::printf("  SDK end to end, store in memory  : %9.0f logs/s\n", memory);
    std::printf("  raw libcurl, same gzipped bodies : %9.0f logs/s\n", raw);
    std::printf("  ratio raw / SDK                  : %9.2fx (SQLite store), %.2fx (store in memory)\n", raw / sqlite,
                raw / memory);

    sqliteUnit.reset();
    memoryUnit.reset();
    sqliteGroup.reset();
    memoryGroup.reset();
    server.stop();
    serverThread.join();
    if (!scratch.empty()) std::filesystem::remove_all(scratch);
    return counter->failed.load() == 0 ? 0 : 1;
}

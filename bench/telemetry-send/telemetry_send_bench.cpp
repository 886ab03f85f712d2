// Sending telemetry end to end against a local ingestion server, beside a
// reference pipeline in the same binary on the same logs and server:
//
//   SDK       enqueue -> group commit into the log store -> batches of 50 ->
//             JSON -> gzip -> POST (3 batches handed out, one request on the
//             wire at a time) -> answer -> delete (unsynced) -> next POST
//   reference the same rows (archived, Base64) inserted with raw sqlite3 in
//             transactions of the same group size into a file of the same
//             settings (auto-vacuum, write-ahead log), the same JSON built from
//             the logs in memory (the rows are never read back: a favour to
//             the reference), gzipped with zlib, POSTed with libcurl, 3 in
//             flight, rows deleted by id after each answer.
//
// Before timing, one round of each sends to a recording server and the two
// must deliver the same logs. BM_EndToEnd runs the two in turns within every
// iteration (which goes first alternates), so both see the same load; its
// counters hold each side's mean time and the ratio SDK/reference is printed
// (the aim: at most 1.2). Where it could still favour one side: the SDK
// overlaps storing with sending and deletes without a sync, but puts one
// request on the wire at a time where the reference keeps three there and
// writes each log to its journal too; the reference never reads its rows
// back.
//
// BM_JournalCost tracks 1,000 events into a unit with its journal and into
// one without (the same store, with journalling withheld), in turns, and
// reports per event the tracking thread's time and the time until each log
// is committed, for both. Both must store the same rows first.
//
// BM_Burst10000Stored reports how long 10,000 events tracked at once take
// until every one is committed (the aim: within 2 s, at least 3,000/s).
//
//   bench_telemetry_send [Google Benchmark flags]
//
// Without VEXIL_HOME the files go to a fresh temporary directory.

#include <benchmark/benchmark.h>
#include <curl/curl.h>
#include <sqlite3.h>
#include <stdlib.h>
#include <zlib.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <map>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

#include <httplib.h>
#include <nlohmann/json.hpp>

#include "DerAvedur/DerAvedur/Internals/Channel/DAVChannelGroupDefault.h"
#include "DerAvedur/DerAvedur/Internals/Channel/DAVChannelUnitDefault.h"
#include "DerAvedur/DerAvedur/Internals/HttpClient/DAVHttpClient.h"
#include "DerAvedur/DerAvedur/Internals/HttpClient/DAVHttpUtil.h"
#include "DerAvedur/DerAvedur/Shared/Model/DAVLogWithProperties.h"
#include "DerAvedur/DerAvedur/Internals/Storage/DAVLogDBStorage.h"
#include "DerAvedur/DerAvedur/Shared/Util/DAVLogger.h"
#include "DerAvedur/DerAvedur/Shared/Util/DAVUtility.h"
#include "Platform/Foundation/KeyedArchiver.h"
#include "Platform/Foundation/Text.h"
#include "tests/DerAvedur/DerAvedur/DerAvedurTestSupport.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr std::size_t kLogs = 2000;
constexpr std::size_t kBatch = 50;
constexpr std::size_t kInFlight = 3;
constexpr std::size_t kGroup = DAVChannelUnitDefault::kMaxLogsPerCommit;
constexpr const char* kSecret = "5f1d3a9e-7c44-4b1f-9e2a-0c6b8d4e2f11";
constexpr const char* kInstallId = "0B1D7C1E-2C3A-4F3B-8D8E-6F1A2B3C4D5E";

std::shared_ptr<DAVLogWithProperties> makeLog(std::size_t i) {
    auto log = std::make_shared<DAVLogWithProperties>();
    log->setType("event");
    log->setTimestamp(Foundation::Date{1700000000.0 + static_cast<double>(i)});
    log->setSid(Foundation::makeUUIDString());
    log->setDevice(DAVTest::makeDevice());
    log->properties.set("name", Foundation::Value("Color Picked"));
    log->properties.set("colour", Foundation::Value("#FF8800"));
    log->properties.set("index", Foundation::Value(std::to_string(i)));
    return log;
}

std::optional<std::string> gunzip(const std::string& bytes) {
    auto data = DAVHttpUtil::decompressData(Foundation::Data(bytes.begin(), bytes.end()));
    if (!data) return std::nullopt;
    return std::string(data->begin(), data->end());
}

// The local ingestion server; records the logs it receives while asked to.
class Server {
public:
    Server() {
        server_.Post("/logs", [this](const httplib::Request& request, httplib::Response& response) {
            requests_.fetch_add(1);
            if (recording_) {
                // Debian's build of the server may have unpacked the body already.
                const bool packed = request.body.size() >= 2 && static_cast<unsigned char>(request.body[0]) == 0x1f;
                const nlohmann::json json =
                    nlohmann::json::parse(packed ? gunzip(request.body).value_or("") : request.body, nullptr, false);
                std::lock_guard<std::mutex> guard(mutex_);
                if (json.is_object() && json.contains("logs"))
                    for (const auto& log : json["logs"]) logs_.insert(log.dump());
                else
                    logs_.insert("<unreadable body>");
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
    void record(bool on) {
        std::lock_guard<std::mutex> guard(mutex_);
        recording_ = on;
        if (on) logs_.clear();
    }
    std::size_t requests() const { return requests_.load(); }
    std::multiset<std::string> logs() const {
        std::lock_guard<std::mutex> guard(mutex_);
        return logs_;
    }

private:
    httplib::Server server_;
    int port_ = 0;
    std::thread thread_;
    mutable std::mutex mutex_;
    std::atomic<bool> recording_{false};
    std::atomic<std::size_t> requests_{0};
    std::multiset<std::string> logs_;
};

// Counts answered and stored logs and wakes the waiting thread.
class Counter : public DAVChannelDelegate {
public:
    void channelDidSucceedSendingLog(const std::shared_ptr<DAVChannelProtocol>&,
                                     const std::shared_ptr<DAVLog>&) override {
        bump(answered_);
    }
    void channelDidFailSendingLog(const std::shared_ptr<DAVChannelProtocol>&, const std::shared_ptr<DAVLog>&,
                                  const std::optional<Foundation::Error>&) override {
        failed.fetch_add(1);
        bump(answered_);
    }
    void channelDidCompleteEnqueueingLog(const std::shared_ptr<DAVChannelProtocol>&, const std::shared_ptr<DAVLog>&,
                                         const std::string&) override {
        bump(stored_);
    }
    void waitAnswered(std::size_t count) { wait(answered_, count); }
    void waitStored(std::size_t count) { wait(stored_, count); }
    void reset() {
        std::lock_guard<std::mutex> guard(mutex_);
        answered_ = stored_ = 0;
    }
    std::atomic<std::size_t> failed{0};

private:
    void bump(std::size_t& value) {
        {
            std::lock_guard<std::mutex> guard(mutex_);
            ++value;
        }
        cv_.notify_all();
    }
    void wait(std::size_t& value, std::size_t count) {
        std::unique_lock<std::mutex> lock(mutex_);
        cv_.wait(lock, [&] { return value >= count; });
    }
    std::mutex mutex_;
    std::condition_variable cv_;
    std::size_t answered_ = 0;
    std::size_t stored_ = 0;
};

// The log store with journalling withheld: the unjournalled path.
class WithoutJournal : public DAVStorage {
public:
    explicit WithoutJournal(std::shared_ptr<DAVStorage> inner) : inner_(std::move(inner)) {}
    bool saveLog(const std::shared_ptr<DAVLog>& log, const std::string& groupId, DAVFlags flags) override {
        return inner_->saveLog(log, groupId, flags);
    }
    std::vector<bool> saveLogs(const std::vector<DAVLogToStore>& logs, const std::string& groupId,
                               std::vector<DAVEvictedLog>* evicted) override {
        return inner_->saveLogs(logs, groupId, evicted);
    }
    bool loadLogsWithGroupId(const std::string& groupId, std::size_t limit,
                             const std::optional<std::vector<std::string>>& excludedTargetKeys,
                             const DAVLoadDataCompletionHandler& completionHandler) override {
        return inner_->loadLogsWithGroupId(groupId, limit, excludedTargetKeys, completionHandler);
    }
    void deleteLogsWithBatchId(const std::string& batchId, const std::string& groupId) override {
        inner_->deleteLogsWithBatchId(batchId, groupId);
    }
    void releaseLogsWithBatchId(const std::string& batchId, const std::string& groupId) override {
        inner_->releaseLogsWithBatchId(batchId, groupId);
    }
    std::vector<std::shared_ptr<DAVLog>> deleteLogsWithGroupId(const std::string& groupId) override {
        return inner_->deleteLogsWithGroupId(groupId);
    }
    std::size_t countLogs() override { return inner_->countLogs(); }
    std::size_t countLogsWithGroupId(const std::string& groupId) override {
        return inner_->countLogsWithGroupId(groupId);
    }
    void setMaxStorageSize(std::int64_t size, const std::function<void(bool)>& completion) override {
        inner_->setMaxStorageSize(size, completion);
    }

private:
    std::shared_ptr<DAVStorage> inner_;
};

struct Sdk {
    std::shared_ptr<Counter> counter = std::make_shared<Counter>();
    std::shared_ptr<DAVChannelGroupDefault> group;
    std::shared_ptr<DAVChannelUnitDefault> unit;

    std::shared_ptr<DAVLogDBStorage> store;

    Sdk(const std::string& base, unsigned long flushInterval, bool journal = true) {
        auto client = std::make_shared<DAVHttpClient>();
        auto ingestion = std::make_shared<DAVDerAvedurIngestion>(client, base, kInstallId);
        ingestion->setAppSecret(std::string(kSecret));
        store = std::make_shared<DAVLogDBStorage>("bench-sdk-" + Foundation::makeUUIDString() + ".sqlite");
        std::shared_ptr<DAVStorage> storage = store;
        if (!journal) storage = std::make_shared<WithoutJournal>(store);
        group = std::make_shared<DAVChannelGroupDefault>(ingestion, storage, DAVChannelUnitDependencies::shared());
        group->addDelegate(counter);
        unit = std::dynamic_pointer_cast<DAVChannelUnitDefault>(group->addChannelUnitWithConfiguration(
            DAVChannelUnitConfiguration::initDefaultConfigurationWithGroupId("Bench", flushInterval)));
    }
    // Tracks every log at once and waits until each is answered.
    void run(const std::vector<std::shared_ptr<DAVLogWithProperties>>& logs) {
        counter->reset();
        for (const auto& log : logs) unit->enqueueItem(log, DAVFlagsNormal);
        counter->waitAnswered(logs.size());
    }
};

// The reference pipeline.
class Reference {
public:
    explicit Reference(const std::string& base) : url_(base + "/logs?api-version=1.0.0") {
        const std::string path =
            DAVUtility::sdkDirectory() + "/bench-reference-" + Foundation::makeUUIDString() + ".sqlite";
        sqlite3_open(path.c_str(), &db_);
        // The store's own file settings: auto-vacuum, write-ahead log, full sync.
        exec("PRAGMA auto_vacuum = FULL");
        exec("PRAGMA journal_mode = WAL");
        exec(
            "CREATE TABLE \"logs\" (\"id\" INTEGER PRIMARY KEY AUTOINCREMENT, \"groupId\" TEXT NOT NULL, \"log\" TEXT "
            "NOT NULL, \"targetToken\" TEXT, \"targetKey\" TEXT, \"priority\" INTEGER)");
        exec("CREATE INDEX \"ix_logs_priority\" ON \"logs\" (\"priority\")");
        exec("CREATE INDEX \"ix_logs_groupId_priority_id\" ON \"logs\" (\"groupId\", \"priority\" DESC, \"id\")");
        sqlite3_prepare_v2(db_, "INSERT INTO logs (groupId, log, priority) VALUES ('Bench', ?, 1)", -1, &insert_,
                           nullptr);
        multi_ = curl_multi_init();
        curl_multi_setopt(multi_, CURLMOPT_MAX_TOTAL_CONNECTIONS, static_cast<long>(kInFlight));
        for (const char* header : {"Content-Type: application/json", "Content-Encoding: gzip", "Expect:"})
            headers_ = curl_slist_append(headers_, header);
        headers_ = curl_slist_append(headers_, (std::string("App-Secret: ") + kSecret).c_str());
        headers_ = curl_slist_append(headers_, (std::string("Install-ID: ") + kInstallId).c_str());
    }
    ~Reference() {
        sqlite3_finalize(insert_);
        sqlite3_close(db_);
        curl_slist_free_all(headers_);
        curl_multi_cleanup(multi_);
    }

    void run(const std::vector<std::shared_ptr<DAVLogWithProperties>>& logs) {
        // Store: the same rows, in groups of the same size.
        std::vector<std::int64_t> ids;
        for (std::size_t first = 0; first < logs.size(); first += kGroup) {
            exec("BEGIN IMMEDIATE");
            for (std::size_t i = first; i < std::min(logs.size(), first + kGroup); ++i) {
                auto archive = DAVUtility::archiveKeyedData(
                    Foundation::Value(std::static_pointer_cast<Foundation::Coding>(logs[i])));
                const std::string base64 = Foundation::base64Encode(*archive);
                sqlite3_bind_text(insert_, 1, base64.data(), static_cast<int>(base64.size()), SQLITE_STATIC);
                sqlite3_step(insert_);
                sqlite3_reset(insert_);
                ids.push_back(sqlite3_last_insert_rowid(db_));
            }
            exec("COMMIT");
        }
        // Send: batches of 50, three in flight, each deleted once answered.
        struct Post {
            std::string body;
            std::vector<std::int64_t> ids;
        };
        std::map<CURL*, std::unique_ptr<Post>> running;
        std::size_t next = 0;
        auto discard = +[](char*, size_t size, size_t count, void*) -> size_t { return size * count; };
        while (next < logs.size() || !running.empty()) {
            while (running.size() < kInFlight && next < logs.size()) {
                const std::size_t end = std::min(logs.size(), next + kBatch);
                std::vector<std::shared_ptr<DAVLog>> batch(logs.begin() + static_cast<long>(next),
                                                           logs.begin() + static_cast<long>(end));
                auto post = std::make_unique<Post>();
                post->body = gzip(*DAVLogContainer("batch", batch).serializeLog());
                post->ids.assign(ids.begin() + static_cast<long>(next), ids.begin() + static_cast<long>(end));
                CURL* easy = curl_easy_init();
                curl_easy_setopt(easy, CURLOPT_URL, url_.c_str());
                curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
                curl_easy_setopt(easy, CURLOPT_HTTPHEADER, headers_);
                curl_easy_setopt(easy, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(post->body.size()));
                curl_easy_setopt(easy, CURLOPT_POSTFIELDS, post->body.data());
                curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, discard);
                curl_multi_add_handle(multi_, easy);
                running.emplace(easy, std::move(post));
                next = end;
            }
            int active = 0;
            curl_multi_perform(multi_, &active);
            int queued = 0;
            while (CURLMsg* message = curl_multi_info_read(multi_, &queued)) {
                if (message->msg != CURLMSG_DONE) continue;
                CURL* easy = message->easy_handle;
                deleteRows(running[easy]->ids);
                curl_multi_remove_handle(multi_, easy);
                curl_easy_cleanup(easy);
                running.erase(easy);
            }
            const bool canStart = running.size() < kInFlight && next < logs.size();
            if (!running.empty() && !canStart) curl_multi_poll(multi_, nullptr, 0, 1000, nullptr);
        }
    }

private:
    void exec(const char* sql) { sqlite3_exec(db_, sql, nullptr, nullptr, nullptr); }
    void deleteRows(const std::vector<std::int64_t>& ids) {
        std::string sql = "DELETE FROM logs WHERE id IN (";
        for (std::size_t i = 0; i < ids.size(); ++i) sql += (i ? "," : "") + std::to_string(ids[i]);
        exec((sql + ")").c_str());
    }
    static std::string gzip(const std::string& text) {
        z_stream stream{};
        deflateInit2(&stream, Z_DEFAULT_COMPRESSION, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY);
        std::string out(deflateBound(&stream, text.size()), '\0');
        stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(text.data()));
        stream.avail_in = static_cast<uInt>(text.size());
        stream.next_out = reinterpret_cast<Bytef*>(out.data());
        stream.avail_out = static_cast<uInt>(out.size());
        deflate(&stream, Z_FINISH);
        out.resize(stream.total_out);
        deflateEnd(&stream);
        return out;
    }

    std::string url_;
    sqlite3* db_ = nullptr;
    sqlite3_stmt* insert_ = nullptr;
    CURLM* multi_ = nullptr;
    curl_slist* headers_ = nullptr;
};

struct World {
    Server server;
    std::vector<std::shared_ptr<DAVLogWithProperties>> logs;
    std::unique_ptr<Sdk> sdk;
    std::unique_ptr<Reference> reference;
    World() {
        for (std::size_t i = 0; i < kLogs; ++i) logs.push_back(makeLog(i));
        sdk = std::make_unique<Sdk>(server.base(), DAVChannelUnitConfiguration::kDefaultFlushInterval);
        reference = std::make_unique<Reference>(server.base());
    }
};
World* gWorld = nullptr;
std::map<std::string, double> gRates;  // logs per second, per benchmark

double secondsOf(const std::function<void()>& work) {
    const auto start = Clock::now();
    work();
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// Both pipelines in every iteration, in alternating order.
void BM_EndToEnd(benchmark::State& state) {
    double sdk = 0, reference = 0;
    std::size_t turn = 0;
    for (auto _ : state) {
        double s = 0, r = 0;
        if (turn++ % 2 == 0) {
            s = secondsOf([] { gWorld->sdk->run(gWorld->logs); });
            r = secondsOf([] { gWorld->reference->run(gWorld->logs); });
        } else {
            r = secondsOf([] { gWorld->reference->run(gWorld->logs); });
            s = secondsOf([] { gWorld->sdk->run(gWorld->logs); });
        }
        sdk += s;
        reference += r;
        state.SetIterationTime(s + r);
    }
    const double n = static_cast<double>(state.iterations());
    state.counters["sdk_ms"] = sdk / n * 1e3;
    state.counters["reference_ms"] = reference / n * 1e3;
    state.counters["ratio"] = sdk / reference;
}

// One burst of 1,000 into a fresh unit: seconds to track them all, and
// seconds until the last is committed.
std::pair<double, double> trackBurst(const std::vector<std::shared_ptr<DAVLogWithProperties>>& logs, bool journal) {
    Sdk sdk(gWorld->server.base(), 3600, journal);  // nothing leaves during the burst
    const auto start = Clock::now();
    for (const auto& log : logs) sdk.unit->enqueueItem(log, DAVFlagsNormal);
    const double tracked = std::chrono::duration<double>(Clock::now() - start).count();
    sdk.counter->waitStored(logs.size());
    const double stored = std::chrono::duration<double>(Clock::now() - start).count();
    sdk.group->setEnabled(false, false);
    return {tracked, stored};
}

void BM_JournalCost(benchmark::State& state) {
    const std::vector<std::shared_ptr<DAVLogWithProperties>> logs(gWorld->logs.begin(), gWorld->logs.begin() + 1000);
    double track[2] = {0, 0}, store[2] = {0, 0};  // [journalled, unjournalled]
    std::size_t turn = 0;
    for (auto _ : state) {
        double total = 0;
        for (int side : turn++ % 2 == 0 ? std::vector<int>{0, 1} : std::vector<int>{1, 0}) {
            auto [tracked, stored] = trackBurst(logs, side == 0);
            track[side] += tracked;
            store[side] += stored;
            total += stored;
        }
        state.SetIterationTime(total);
    }
    const double perEvent = 1e6 / (static_cast<double>(state.iterations()) * static_cast<double>(logs.size()));
    state.counters["track_us_journal"] = track[0] * perEvent;
    state.counters["track_us_plain"] = track[1] * perEvent;
    state.counters["stored_us_journal"] = store[0] * perEvent;
    state.counters["stored_us_plain"] = store[1] * perEvent;
}

// The rows a burst leaves in the store, as a multiset of archives.
std::multiset<std::string> storedRows(bool journal) {
    Sdk sdk(gWorld->server.base(), 3600, journal);
    for (std::size_t i = 0; i < 1000; ++i) sdk.unit->enqueueItem(gWorld->logs[i], DAVFlagsNormal);
    sdk.counter->waitStored(1000);
    std::multiset<std::string> rows;
    sdk.store->loadLogsWithGroupId("Bench", 5000, std::nullopt, [&](const auto& logs, const auto&) {
        for (const auto& log : logs)
            rows.insert(Foundation::base64Encode(*DAVUtility::archiveKeyedData(
                Foundation::Value(std::dynamic_pointer_cast<Foundation::Coding>(log)))));
    });
    sdk.group->setEnabled(false, false);
    return rows;
}

// 10,000 events tracked at once; timed until the last one is committed.
void BM_Burst10000Stored(benchmark::State& state) {
    std::vector<std::shared_ptr<DAVLogWithProperties>> burst;
    for (std::size_t i = 0; i < 10000; ++i) burst.push_back(makeLog(i));
    for (auto _ : state) {
        state.PauseTiming();
        Sdk sdk(gWorld->server.base(), 3600);  // nothing leaves during the burst
        state.ResumeTiming();
        for (const auto& log : burst) sdk.unit->enqueueItem(log, DAVFlagsNormal);
        sdk.counter->waitStored(burst.size());
        state.PauseTiming();
        sdk.group->setEnabled(false, false);
        state.ResumeTiming();
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * burst.size()));
}

BENCHMARK(BM_EndToEnd)->Unit(benchmark::kMillisecond)->UseManualTime()->MinTime(6);
BENCHMARK(BM_JournalCost)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(10);
BENCHMARK(BM_Burst10000Stored)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

// Keeps each run's mean time for the summary.
class Summary : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& run : runs)
            if (run.run_type == Run::RT_Iteration) {
                seconds[run.benchmark_name()] = run.GetAdjustedRealTime() / 1e3;  // reported in ms
                for (const auto& [name, counter] : run.counters) counters[run.benchmark_name() + "." + name] = counter;
            }
        ConsoleReporter::ReportRuns(runs);
    }
    std::map<std::string, double> seconds;
    std::map<std::string, double> counters;
};

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 2;
    std::string scratch;
    if (!std::getenv("VEXIL_HOME")) {
        scratch = std::filesystem::temp_directory_path() / ("bench-telemetry-send-" + Foundation::makeUUIDString());
        std::filesystem::create_directories(scratch);
        ::setenv("VEXIL_HOME", scratch.c_str(), 1);
    }
    DAVLogger::setLogHandler(nullptr);
    curl_global_init(CURL_GLOBAL_DEFAULT);
    int status = 0;
    {
        World world;
        gWorld = &world;
        // Same output: one recorded round of each delivers the same logs.
        world.server.record(true);
        world.sdk->run(world.logs);
        const auto sdkLogs = world.server.logs();
        world.server.record(true);
        world.reference->run(world.logs);
        const auto referenceLogs = world.server.logs();
        world.server.record(false);
        const bool sameRows = storedRows(true) == storedRows(false);
        if (!sameRows) {
            std::fprintf(stderr, "The journalled and the unjournalled unit stored different rows.\n");
            status = 1;
        } else if (sdkLogs != referenceLogs || sdkLogs.size() != kLogs) {
            std::fprintf(stderr, "The SDK and the reference delivered different logs (%zu and %zu, %zu requests).\n",
                         sdkLogs.size(), referenceLogs.size(), world.server.requests());
            status = 1;
        } else {
            Summary summary;
            benchmark::RunSpecifiedBenchmarks(&summary);
            auto find = [&](const char* prefix) -> std::optional<double> {
                for (const auto& [name, seconds] : summary.seconds)
                    if (name.rfind(prefix, 0) == 0) return seconds;
                return std::nullopt;
            };
            auto counter = [&](const char* prefix, const std::string& name) -> double {
                for (const auto& [key, value] : summary.counters)
                    if (key.rfind(prefix, 0) == 0 && key.size() > name.size() &&
                        key.compare(key.size() - name.size() - 1, std::string::npos, "." + name) == 0)
                        return value;
                return 0;
            };
            if (find("BM_EndToEnd")) {
                const double sdk = counter("BM_EndToEnd", "sdk_ms"), reference = counter("BM_EndToEnd", "reference_ms");
                std::printf("SDK / reference end to end: %.2fx the time (%.0f against %.0f logs/s; aim: at most 1.2x)\n",
                            sdk / reference, kLogs / sdk * 1e3, kLogs / reference * 1e3);
            }
            if (find("BM_JournalCost"))
                std::printf(
                    "journal per event: tracking %.1f against %.1f us, until committed %.1f against %.1f us\n",
                    counter("BM_JournalCost", "track_us_journal"), counter("BM_JournalCost", "track_us_plain"),
                    counter("BM_JournalCost", "stored_us_journal"), counter("BM_JournalCost", "stored_us_plain"));
            if (auto burst = find("BM_Burst10000Stored"))
                std::printf("10,000-event burst stored in %.2f s, %.0f events/s (aim: within 2 s)\n", *burst,
                            10000 / *burst);
            if (world.sdk->counter->failed.load() > 0) status = 1;
        }
        world.sdk.reset();
        gWorld = nullptr;
    }
    benchmark::Shutdown();
    if (!scratch.empty()) std::filesystem::remove_all(scratch);
    return status;
}

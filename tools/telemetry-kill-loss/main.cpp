// How many tracked events a kill -9 during a burst loses, and how many it
// makes the server receive twice, with the application's own calls: the SDK
// entry configured with a secret and a log URL, the analytics service
// started, `DAVAnalytics::trackEvent` per event.
//
//   telemetry-kill-loss [--server down|up] [kills] [events] [window ms]
//   telemetry-kill-loss --close-after-body N [events]
//
// Kill rounds (default 30 kills of 1,000 events, server down): a child
// process, with a home of its own per round, tracks the events as fast as it
// can and counts in shared memory the track calls that returned. The parent
// kills it with SIGKILL at a random moment of the window after the burst
// began (by default the time a whole burst takes to be stored, measured first
// by an unkilled round) and checks the store's file (PRAGMA
// integrity_check). With "--server down" the burst's log URL leads nowhere;
// with "--server up" it is the recording server, so batches leave during the
// burst. A second child then starts as the next launch would, against the
// recording server on loopback, until every tracked event of the round has
// arrived or 30 s have passed; the store is checked again.
// Lost = tracked events that never arrived, less those the store evicted
// when full (10 MiB by default, some 7,000 of these events; they are
// reported failed); duplicates = arrivals beyond the first. A batch is 50
// events: a kill should repeat at most one.
//
// "--close-after-body N": one launch tracks the events (default 120) against
// a server that reads the whole body of each of the first N requests and
// then closes the connection without answering; every event must arrive,
// none more than twice.
//
// Prints each round and the totals; exits 1 when anything was lost, a store
// failed its check, or an event arrived more often than allowed.
// Each launch is this program run again ("--child", never typed by hand): a
// process forked from the threaded parent and carrying on could inherit a
// lock another thread held (the address sanitizer's allocator does not
// prepare for fork), so the child starts afresh and finds the counters in a
// memory file it inherits.
// Without VEXIL_HOME the files go to a fresh temporary directory.

#include <signal.h>
#include <sqlite3.h>
#include <stdlib.h>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/prctl.h>
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
#include <vector>

#include <nlohmann/json.hpp>

#include "DerAvedur/DerAvedur/DAVDerAvedur.h"
#include "DerAvedur/DerAvedur/DAVErrors.h"
#include "DerAvedur/DerAvedur/Shared/Util/DAVUtility.h"
#include "DerAvedurAnalytics/DerAvedurAnalytics/DAVAnalytics.h"
#include "Platform/Foundation/Text.h"
#include "tests/DerAvedur/DerAvedur/RawIngestionServer.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr const char* kSecret = "5f1d3a9e-7c44-4b1f-9e2a-0c6b8d4e2f11";
constexpr const char* kNowhere = "http://127.0.0.1:9";  // nothing listens there
constexpr long kBatch = 50;

struct Shared {
    std::atomic<int> ready;
    std::atomic<long> tracked;
    std::atomic<long> stored;
    std::atomic<long long> burstNanoseconds;  // tracking start to last commit
    std::atomic<long long> trackNanoseconds;  // tracking start to the last track call's return
    std::atomic<long> evicted;                // events the full store gave up, as reported, per launch
    std::atomic<long> evictedAtRestart;
    char storePath[4096];
};

bool isEvent(const std::shared_ptr<DAVLog>& log) { return log->type() == std::optional<std::string>("event"); }

// Counts the burst's events as their store task completes, and those the
// store evicts to stay within its size (the oldest first, reported failed).
class Watcher : public DAVChannelDelegate {
public:
    Watcher(std::atomic<long>* stored, std::atomic<long>* evicted) : stored_(stored), evicted_(evicted) {}
    void channelDidCompleteEnqueueingLog(const std::shared_ptr<DAVChannelProtocol>&, const std::shared_ptr<DAVLog>& log,
                                         const std::string&) override {
        if (stored_ && isEvent(log)) stored_->fetch_add(1);
    }
    void channelDidFailSendingLog(const std::shared_ptr<DAVChannelProtocol>&, const std::shared_ptr<DAVLog>& log,
                                  const std::optional<Foundation::Error>& error) override {
        if (isEvent(log) && error && error->code == DAVLogEvictedErrorCode) evicted_->fetch_add(1);
    }

private:
    std::atomic<long>* stored_;
    std::atomic<long>* evicted_;
};

// The recording side: per round, how often each index arrived.
class Recorder {
public:
    explicit Recorder(DAVTest::RawIngestionServer& server) {
        server.keepRequests(false);
        server.onRequest([this](const DAVTest::RecordedRequest& request, DAVTest::RawIngestionServer::Action action) {
            const bool answered = action == DAVTest::RawIngestionServer::Action::Answer;
            const nlohmann::json json = nlohmann::json::parse(request.body, nullptr, false);
            if (!json.is_object() || !json.contains("logs")) return;
            std::lock_guard<std::mutex> guard(mutex_);
            for (const auto& log : json["logs"]) {
                std::string round, index;
                for (const auto& property : log.value("typedProperties", nlohmann::json::array())) {
                    const std::string name = property.value("name", "");
                    if (name == "round") round = property.value("value", "");
                    if (name == "index") index = property.value("value", "");
                }
                if (round.empty() || index.empty()) continue;
                ++received_[round][index];
                if (answered) ++answered_[round][index];
            }
        });
    }
    // Every arrival, answered or not.
    std::map<std::string, int> received(const std::string& round) {
        std::lock_guard<std::mutex> guard(mutex_);
        return received_[round];
    }
    // Arrivals the server answered: the SDK knows of these.
    std::map<std::string, int> answered(const std::string& round) {
        std::lock_guard<std::mutex> guard(mutex_);
        return answered_[round];
    }

private:
    std::mutex mutex_;
    std::map<std::string, std::map<std::string, int>> received_;
    std::map<std::string, std::map<std::string, int>> answered_;
};

// As the application starts telemetry, in a home of its own; a launch ends
// with the tool, should the tool end first.
void launch(const std::string& home, const std::string& url) {
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    ::setenv("VEXIL_HOME", home.c_str(), 1);
    DAVDerAvedur::setLogHandler(nullptr);
    DAVDerAvedur::setLogUrl(url);
    DAVDerAvedur::start(std::string(kSecret), std::vector<DAVServiceClass>{DAVAnalytics::serviceClass()});
}

[[noreturn]] void burstChild(Shared* shared, const std::string& home, const std::string& url,
                             const std::string& round, long events) {
    launch(home, url);
    auto watcher = std::make_shared<Watcher>(&shared->stored, &shared->evicted);
    DAVDerAvedur::sharedInstance()->channelGroup()->addDelegate(watcher);
    std::snprintf(shared->storePath, sizeof shared->storePath, "%s/Logs.sqlite", DAVUtility::sdkDirectory().c_str());
    std::vector<Foundation::Dictionary> properties;
    for (long i = 0; i < events; ++i)
        properties.push_back(Foundation::Dictionary{{"round", round}, {"index", std::to_string(i)}});
    shared->ready.store(1);
    const auto start = Clock::now();
    for (const auto& entry : properties) {
        DAVAnalytics::trackEvent("Color Picked", entry);
        shared->tracked.fetch_add(1);
    }
    shared->trackNanoseconds.store(std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now() - start).count());
    while (shared->stored.load() < events) std::this_thread::sleep_for(std::chrono::microseconds(200));
    shared->burstNanoseconds.store(std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now() - start).count());
    // Stays as a running application would, sending, until the parent ends it.
    for (;;) std::this_thread::sleep_for(std::chrono::seconds(1));
}

// The next launch: the analytics unit folds what the killed one left and sends it.
[[noreturn]] void restartChild(Shared* shared, const std::string& home, const std::string& url) {
    launch(home, url);
    auto watcher = std::make_shared<Watcher>(nullptr, &shared->evictedAtRestart);
    DAVDerAvedur::sharedInstance()->channelGroup()->addDelegate(watcher);
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

// The counters live in a memory file the launches inherit across exec.
Shared* makeShared(int* fd) {
    *fd = ::memfd_create("telemetry-kill-loss", 0);
    if (*fd < 0 || ::ftruncate(*fd, sizeof(Shared)) != 0) {
        std::perror("telemetry-kill-loss: memfd");
        std::exit(1);
    }
    void* memory = ::mmap(nullptr, sizeof(Shared), PROT_READ | PROT_WRITE, MAP_SHARED, *fd, 0);
    if (memory == MAP_FAILED) {
        std::perror("telemetry-kill-loss: mmap");
        std::exit(1);
    }
    return new (memory) Shared{};
}

int g_sharedFd = -1;

// A launch: this program again, in child mode.
pid_t spawn(std::vector<std::string> args) {
    args.insert(args.begin(), {"telemetry-kill-loss", "--child", std::to_string(g_sharedFd)});
    // Built before the fork: the child allocates nothing before exec.
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::execv("/proc/self/exe", argv.data());
        ::_exit(127);
    }
    if (pid < 0) {
        std::perror("telemetry-kill-loss: fork");
        std::exit(1);
    }
    return pid;
}

pid_t startBurst(Shared* shared, const std::string& home, const std::string& url, const std::string& round,
                 long events) {
    shared->ready.store(0);
    shared->tracked.store(0);
    shared->stored.store(0);
    shared->burstNanoseconds.store(0);
    shared->evicted.store(0);
    shared->evictedAtRestart.store(0);
    shared->storePath[0] = '\0';
    const pid_t pid = spawn({"burst", home, url, round, std::to_string(events)});
    int status = 0;
    while (shared->ready.load() == 0) {
        if (::waitpid(pid, &status, WNOHANG) == pid) {
            std::fprintf(stderr, "telemetry-kill-loss: a launch ended before its burst began\n");
            std::exit(1);
        }
        std::this_thread::sleep_for(std::chrono::microseconds(100));
    }
    return pid;
}

void end(pid_t pid) {
    ::kill(pid, SIGKILL);
    int status = 0;
    ::waitpid(pid, &status, 0);
}

// Waits until each of the first `count` indexes arrived in an answered
// request (or the deadline), then a little longer for late copies; every
// arrival counts.
std::map<std::string, int> awaitDelivery(Recorder& recorder, const std::string& round, long count,
                                         std::chrono::seconds limit) {
    std::map<std::string, int> answered;
    auto delivered = [&] {
        for (long i = 0; i < count; ++i)
            if (!answered.count(std::to_string(i))) return false;
        return true;
    };
    const auto deadline = Clock::now() + limit;
    while (!delivered() && Clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        answered = recorder.answered(round);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    return recorder.received(round);
}

long parsePositive(const char* text, const char* what) {
    char* end = nullptr;
    const long value = std::strtol(text, &end, 10);
    if (*end || value <= 0) {
        std::fprintf(stderr, "%s: a positive number\n", what);
        std::exit(2);
    }
    return value;
}

int closeAfterBody(const std::string& scratch, long closes, long events) {
    DAVTest::RawIngestionServer server;
    Recorder recorder(server);
    std::vector<DAVTest::RawIngestionServer::Action> script(static_cast<std::size_t>(closes),
                                                           DAVTest::RawIngestionServer::Action::Close);
    server.script(script);
    Shared* shared = makeShared(&g_sharedFd);
    const auto start = Clock::now();
    const pid_t pid = startBurst(shared, scratch + "/closing", server.url(), "closing", events);
    auto received = awaitDelivery(recorder, "closing", events, std::chrono::seconds(90));
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    end(pid);
    long lost = 0, duplicates = 0, most = 0;
    for (long i = 0; i < events; ++i) {
        const auto it = received.find(std::to_string(i));
        const int count = it == received.end() ? 0 : it->second;
        lost += count == 0 ? 1 : 0;
        duplicates += count > 1 ? count - 1 : 0;
        most = std::max<long>(most, count);
    }
    std::printf(
        "%ld events, the first %ld request(s) closed after their body: %ld lost, %ld duplicate(s), no event more "
        "than %ld time(s), %zu request(s), all in %.1f s\n",
        events, closes, lost, duplicates, most, server.requestCount(), seconds);
    return lost > 0 || most > 2 ? 1 : 0;
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    // A launch started by this program: --child <fd> burst <home> <url> <round> <events> | restart <home> <url>
    if (args.size() >= 2 && args[0] == "--child") {
        const int fd = std::atoi(args[1].c_str());
        void* memory = ::mmap(nullptr, sizeof(Shared), PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
        if (memory == MAP_FAILED) return 1;
        auto* shared = static_cast<Shared*>(memory);
        if (args.size() == 7 && args[2] == "burst")
            burstChild(shared, args[3], args[4], args[5], parsePositive(args[6].c_str(), "events"));
        if (args.size() == 5 && args[2] == "restart") restartChild(shared, args[3], args[4]);
        return 2;
    }
    bool serverUp = false;
    long closes = 0;
    std::vector<std::string> numbers;
    for (std::size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "--server" && i + 1 < args.size() && (args[i + 1] == "up" || args[i + 1] == "down")) {
            serverUp = args[++i] == "up";
        } else if (args[i] == "--close-after-body" && i + 1 < args.size()) {
            closes = parsePositive(args[++i].c_str(), "--close-after-body");
        } else if (!args[i].empty() && args[i][0] != '-' && numbers.size() < 3) {
            numbers.push_back(args[i]);
        } else {
            std::fprintf(stderr,
                         "usage: %s [--server down|up] [kills] [events] [window ms]\n"
                         "       %s --close-after-body N [events]\n",
                         argv[0], argv[0]);
            return 2;
        }
    }
    if (closes > 0 && (serverUp || numbers.size() > 1)) {
        std::fprintf(stderr, "--close-after-body takes only the number of events\n");
        return 2;
    }

    std::string scratch;
    bool ownScratch = false;
    if (const char* home = std::getenv("VEXIL_HOME"); home && *home) {
        scratch = home;
    } else {
        scratch = std::filesystem::temp_directory_path() / ("telemetry-kill-loss-" + Foundation::makeUUIDString());
        ownScratch = true;
    }
    std::filesystem::create_directories(scratch);
    auto finish = [&](int status) {
        if (ownScratch) std::filesystem::remove_all(scratch);
        return status;
    };

    if (closes > 0) {
        const long events = numbers.empty() ? 120 : parsePositive(numbers[0].c_str(), "events");
        return finish(closeAfterBody(scratch, closes, events));
    }

    const long kills = numbers.size() > 0 ? parsePositive(numbers[0].c_str(), "kills") : 30;
    const long events = numbers.size() > 1 ? parsePositive(numbers[1].c_str(), "events") : 1000;
    double windowMs = 0;
    if (numbers.size() > 2) {
        char* end = nullptr;
        windowMs = std::strtod(numbers[2].c_str(), &end);
        if (*end || windowMs <= 0) return std::fprintf(stderr, "window: a positive number of ms\n"), finish(2);
    }

    DAVTest::RawIngestionServer server;
    Recorder recorder(server);
    Shared* shared = makeShared(&g_sharedFd);
    const std::string burstUrl = serverUp ? server.url() : kNowhere;

    // The time a whole burst takes, unkilled.
    end([&] {
        const pid_t pid = startBurst(shared, scratch + "/calibration", burstUrl, "calibration", events);
        while (shared->burstNanoseconds.load() == 0) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        return pid;
    }());
    const auto stored = std::chrono::nanoseconds(shared->burstNanoseconds.load());
    const auto burst = windowMs > 0 ? std::chrono::nanoseconds(static_cast<long long>(windowMs * 1e6)) : stored;
    std::printf("server %s; %ld events tracked in %.1f ms and stored in %.1f ms without a kill (%.0f events/s)\n",
                serverUp ? "up during the burst" : "down during the burst", events,
                shared->trackNanoseconds.load() / 1e6, stored.count() / 1e6, events / (stored.count() / 1e9));
    std::printf("kills fall at random within %.1f ms of the burst's start\n", burst.count() / 1e6);
    std::fflush(stdout);

    std::mt19937_64 random(std::random_device{}());
    long totalLost = 0, totalEvicted = 0, totalTracked = 0, totalDuplicates = 0, worst = 0, mostDuplicates = 0, damaged = 0;
    for (long k = 0; k < kills; ++k) {
        const std::string round = std::to_string(k);
        const std::string home = scratch + "/kill-" + round;
        const auto after = std::chrono::nanoseconds(
            std::uniform_int_distribution<long long>(0, std::max<long long>(1, burst.count()))(random));
        const pid_t pid = startBurst(shared, home, burstUrl, round, events);
        std::this_thread::sleep_until(Clock::now() + after);
        end(pid);
        const long tracked = shared->tracked.load();
        const std::string path = shared->storePath;
        const std::string afterKill = integrity(path);

        const pid_t next = spawn({"restart", home, server.url()});
        const auto received = awaitDelivery(recorder, round, tracked, std::chrono::seconds(30));
        end(next);
        const std::string afterRestart = integrity(path);

        long missing = 0, duplicates = 0;
        for (long i = 0; i < tracked; ++i) missing += received.count(std::to_string(i)) ? 0 : 1;
        // Events the store evicted when full were reported failed: given up, not lost unawares.
        const long evicted = shared->evicted.load() + shared->evictedAtRestart.load();
        const long lost = std::max(0L, missing - evicted);
        for (const auto& [index, count] : received) duplicates += count - 1;
        const bool intact = afterKill == "ok" && afterRestart == "ok";
        damaged += intact ? 0 : 1;
        totalLost += lost;
        totalEvicted += evicted;
        totalTracked += tracked;
        totalDuplicates += duplicates;
        worst = std::max(worst, lost);
        mostDuplicates = std::max(mostDuplicates, duplicates);
        std::printf("kill %2ld at %7.2f ms: %5ld tracked, %5zu delivered, %4ld lost, %3ld duplicate(s), store %s%s\n",
                    k + 1, after.count() / 1e6, tracked, received.size(), lost, duplicates,
                    intact ? "ok after kill and restart" : (afterKill + " / " + afterRestart).c_str(),
                    evicted ? Foundation::format(", %ld evicted by the full store", evicted).c_str() : "");
        std::fflush(stdout);
    }
    std::printf(
        "%ld kills: %ld of %ld tracked events lost (at most %ld in one kill), %ld duplicate(s) (at most %ld in one "
        "kill; a batch is %ld), %ld store(s) failing the integrity check",
        kills, totalLost, totalTracked, worst, totalDuplicates, mostDuplicates, kBatch, damaged);
    if (totalEvicted) std::printf(", %ld evicted by the full store and reported", totalEvicted);
    std::printf("\n");
    return finish(totalLost > 0 || damaged > 0 || mostDuplicates > kBatch ? 1 : 0);
}

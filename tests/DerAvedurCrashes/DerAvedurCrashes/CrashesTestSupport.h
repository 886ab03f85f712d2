#pragma once
// The crashes service's fixture: a clean SDK directory and crash directory,
// the SDK started against a local ingestion server on the manual clock, and
// what reached the server, log by log.

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "DerAvedur/DerAvedur/DAVDerAvedur.h"
#include "DerAvedur/DerAvedur/DerAvedurTestSupport.h"
#include "DerAvedur/DerAvedur/IngestionServer.h"
#include "DerAvedur/DerAvedur/Internals/HttpClient/DAVDependencyConfiguration.h"
#include "DerAvedur/DerAvedur/Internals/HttpClient/DAVHttpClient.h"
#include "DerAvedur/DerAvedur/Shared/Util/DAVUtility.h"
#include "DerAvedurCrashes/DerAvedurCrashes/DAVCrashes.h"
#include "DerAvedurCrashes/DerAvedurCrashes/Internals/Util/DAVCrashesUtil.h"
#include "Platform/Foundation/Dispatch.h"
#include "Platform/Foundation/UserDefaults.h"
#include "Vendor/VXCrashReporter/Source/VXCrashReporter.h"

namespace CrashesTest {

namespace fs = std::filesystem;

inline constexpr const char* kAppSecret = "5f1d3a9e-7c44-4b1f-9e2a-0c6b8d4e2f11";

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
inline constexpr bool kSanitized = true;
#else
inline constexpr bool kSanitized = false;
#endif

// The sanitizers own the fault signals: crashing children are left to the plain build.
#define CRASHES_SKIP_WHEN_SANITIZED()                                                         \
    do {                                                                                      \
        if (CrashesTest::kSanitized) GTEST_SKIP() << "fault signals belong to the sanitizer"; \
    } while (0)

inline std::string sdkPath(const std::string& component) { return DAVUtility::sdkDirectory() + "/" + component; }

inline std::vector<std::string> filesIn(const std::string& directory) {
    std::vector<std::string> names;
    std::error_code error;
    for (fs::directory_iterator it(directory, error), end; !error && it != end; it.increment(error))
        names.push_back(it->path().filename().string());
    return names;
}

// The build id (GNU note) of this executable, as the crash report writes it
// (BuildId.cpp: the resolver header httplib brings defines "p_type").
std::string executableBuildId();

struct Child {
    bool exited = false;
    int status = -1;  // exit code, or the signal that ended it
    pid_t pid = 0;
    std::string describe() const { return (exited ? "exit " : "signal ") + std::to_string(status); }
};

// This test binary again, as "--crash-child <scenario>", sharing the test's home.
inline Child runCrashChild(const std::string& scenario) {
    Child child;
    pid_t pid = fork();
    if (pid == 0) {
        struct rlimit noCore = {0, 0};
        setrlimit(RLIMIT_CORE, &noCore);
        execl("/proc/self/exe", "crash-child", "--crash-child", scenario.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    child.pid = pid;
    if (WIFEXITED(status)) {
        child.exited = true;
        child.status = WEXITSTATUS(status);
    } else if (WIFSIGNALED(status)) {
        child.status = WTERMSIG(status);
    }
    // The child wrote the user defaults: read them again.
    Foundation::UserDefaults::resetStandard();
    return child;
}

// Forgets every SDK key, file and singleton a run leaves behind.
inline void resetSdkState() {
    DAVCrashes::resetSharedInstance();
    DAVDerAvedur::resetSharedInstance();
    DAVDependencyConfiguration::setHttpClient(nullptr);
    Foundation::UserDefaults& defaults = Foundation::UserDefaults::standard();
    for (const std::string& key : defaults.persistentDomain().keys())
        if (key.rfind("DAVDerAvedur", 0) == 0) defaults.removeObjectForKey(key);
    std::error_code error;
    for (const char* component : {"crashes", "crasheslogbuffer", "crasheswrapperexceptions", "Logs.sqlite",
                                  "Logs.sqlite-wal", "Logs.sqlite-shm"})
        fs::remove_all(sdkPath(component), error);
    DAVCrashesUtil::resetDirectory();
    fs::remove_all(VXCrashReporter(std::make_shared<VXCrashReporterConfig>()).crashReportDirectory(), error);
}

// The pending report a crash of the last run would have left.
inline void writePendingReport(const std::vector<uint8_t>& bytes) {
    VXCrashReporter reporter(std::make_shared<VXCrashReporterConfig>());
    fs::create_directories(reporter.crashReportDirectory());
    std::ofstream(reporter.crashReportPath(), std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

inline std::string pendingReportPath() {
    return VXCrashReporter(std::make_shared<VXCrashReporterConfig>()).crashReportPath();
}

class ServiceFixture : public ::testing::Test {
protected:
    void SetUp() override {
        resetSdkState();
        if (getenv("CRASHES_TEST_VERBOSE")) DAVLogger::setCurrentLogLevel(DAVLogLevelVerbose);
    }

    void TearDown() override {
        if (executor) {
            if (server) server->release();
            if (client) executor->runUntil([&] { return client->callsInProgress() == 0; });
        }
        resetSdkState();
        // The client's kept-alive connections close before the server stops,
        // which would otherwise wait for them to time out.
        client.reset();
        executor.reset();
        server.reset();
    }

    // The next run: the SDK configured against the local server, crashes started.
    void startSdk() {
        if (!executor) executor = Foundation::TestExecutor::install();
        if (!server) server = std::make_unique<DAVTest::IngestionServer>();
        client = std::make_shared<DAVHttpClient>();
        DAVDependencyConfiguration::setHttpClient(client);
        DAVDerAvedur::setLogUrl(server->url());
        DAVDerAvedur::configureWithAppSecret(std::string(kAppSecret));
        DAVDerAvedur::startService(DAVCrashes::serviceClass());
        executor->drain();
    }

    // Another launch in the same process: new singletons over the same files.
    void restartSdk() {
        executor->runUntil([&] { return client->callsInProgress() == 0; });
        DAVCrashes::resetSharedInstance();
        DAVDerAvedur::resetSharedInstance();
        startSdk();
    }

    // Every log of that type that reached "/logs", in arrival order.
    std::vector<nlohmann::json> sentLogs(const std::string& type) const {
        std::vector<nlohmann::json> logs;
        forEachSentLog(type, [&](const nlohmann::json& log) { logs.push_back(log); });
        return logs;
    }
    std::size_t sentLogCount(const std::string& type) const {
        std::size_t count = 0;
        forEachSentLog(type, [&](const nlohmann::json&) { ++count; });
        return count;
    }

    // Runs the queues until that many logs of the type have arrived: waits (in
    // real time) only while a request is on the wire, and otherwise moves the
    // manual clock to the next timer, at most a minute ahead.
    bool waitForLogs(const std::string& type, std::size_t count) {
        auto done = [&] { return sentLogCount(type) >= count; };
        for (int step = 0; step < 1000; ++step) {
            executor->drain();
            if (done()) return true;
            if (client->callsInProgress() > 0) {
                executor->runUntil([&] { return done() || client->callsInProgress() == 0; });
                continue;
            }
            auto next = executor->nextDueIn();
            if (!next || *next > 60) return false;
            executor->runNext();
        }
        return false;
    }

    // Runs every timer due in the next `seconds` and waits for what they send.
    void settle(double seconds) {
        executor->advance(seconds);
        executor->runUntil([&] { return client->callsInProgress() == 0; });
        executor->drain();
    }

    std::vector<std::string> savedReports() const {
        std::vector<std::string> names;
        for (const std::string& name : filesIn(sdkPath("crashes")))
            if (name != DAVCrashes::kAnalyzerFileName) names.push_back(name);
        return names;
    }

    std::unique_ptr<Foundation::TestExecutor> executor;
    std::unique_ptr<DAVTest::IngestionServer> server;
    std::shared_ptr<DAVHttpClient> client;

private:
    template <class Visit>
    void forEachSentLog(const std::string& type, Visit visit) const {
        // Bodies are parsed once each: an attachment's body is megabytes.
        const std::size_t arrived = server->requestCount();
        if (parsedBodies_.size() < arrived) {
            const auto requests = server->requests();
            for (std::size_t i = parsedBodies_.size(); i < requests.size(); ++i)
                parsedBodies_.push_back(requests[i].path == "/logs" ? requests[i].json() : nlohmann::json::object());
        }
        for (const nlohmann::json& body : parsedBodies_) {
            if (!body.contains("logs")) continue;
            for (const auto& log : body.at("logs"))
                if (log.contains("type") && log.at("type").get<std::string>() == type) visit(log);
        }
    }

    mutable std::vector<nlohmann::json> parsedBodies_;
};

}  // namespace CrashesTest

#pragma once
// A local ingestion server for the telemetry suites: cpp-httplib on
// 127.0.0.1 at an ephemeral port. It records every request as it arrived
// (gzip bodies also unpacked) and answers with scripted statuses.

#include <zlib.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include <httplib.h>
#include <nlohmann/json.hpp>

namespace DAVTest {

inline bool equalsIgnoringCase(const std::string& a, const std::string& b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
           });
}

struct RecordedRequest {
    std::string method;
    std::string path;
    std::string query;  // as sent, without "?"
    std::vector<std::pair<std::string, std::string>> headers;
    std::size_t wireLength = 0;  // Content-Length: the bytes as they travelled
    std::string body;            // unpacked when the request was gzipped

    std::optional<std::string> header(const std::string& name) const {
        for (const auto& [key, value] : headers)
            if (equalsIgnoringCase(key, name)) return value;
        return std::nullopt;
    }
    nlohmann::json json() const { return nlohmann::json::parse(body); }
    // The "logs" array of a Der Avedur batch.
    std::size_t logCount() const { return json().at("logs").size(); }
};

inline std::optional<std::string> gunzip(const std::string& bytes) {
    z_stream stream{};
    if (inflateInit2(&stream, 15 + 16) != Z_OK) return std::nullopt;
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(bytes.data()));
    stream.avail_in = static_cast<uInt>(bytes.size());
    std::string out;
    char buffer[8192];
    int result = Z_OK;
    while (result == Z_OK) {
        stream.next_out = reinterpret_cast<Bytef*>(buffer);
        stream.avail_out = sizeof buffer;
        result = inflate(&stream, Z_NO_FLUSH);
        out.append(buffer, sizeof buffer - stream.avail_out);
        if (result == Z_BUF_ERROR && stream.avail_in == 0) break;
    }
    inflateEnd(&stream);
    if (result != Z_STREAM_END) return std::nullopt;
    return out;
}

class IngestionServer {
public:
    IngestionServer() {
        server_.Post(
            ".*", [this](const httplib::Request& request, httplib::Response& response) { handle(request, response); });
        port_ = server_.bind_to_any_port("127.0.0.1");
        thread_ = std::thread([this] { server_.listen_after_bind(); });
        // stop() is ignored until the loop runs.
        while (!server_.is_running()) std::this_thread::yield();
    }
    ~IngestionServer() {
        release();
        server_.stop();
        thread_.join();
    }
    IngestionServer(const IngestionServer&) = delete;
    IngestionServer& operator=(const IngestionServer&) = delete;

    std::string url() const { return "http://127.0.0.1:" + std::to_string(port_); }

    // The next requests get these statuses in turn; later ones the default.
    void respondWith(std::vector<int> statuses) {
        std::lock_guard<std::mutex> guard(mutex_);
        script_.insert(script_.end(), statuses.begin(), statuses.end());
    }
    void setDefaultStatus(int status) {
        std::lock_guard<std::mutex> guard(mutex_);
        defaultStatus_ = status;
    }
    void setResponseBody(std::string body, std::string contentType) {
        std::lock_guard<std::mutex> guard(mutex_);
        responseBody_ = std::move(body);
        responseContentType_ = std::move(contentType);
    }
    // While held, requests are recorded at once but answered only after release().
    void hold() {
        std::lock_guard<std::mutex> guard(mutex_);
        held_ = true;
    }
    void release() {
        {
            std::lock_guard<std::mutex> guard(mutex_);
            held_ = false;
        }
        cv_.notify_all();
    }

    std::vector<RecordedRequest> requests() const {
        std::lock_guard<std::mutex> guard(mutex_);
        return requests_;
    }
    std::size_t requestCount() const {
        std::lock_guard<std::mutex> guard(mutex_);
        return requests_.size();
    }
    std::size_t answeredCount() const {
        std::lock_guard<std::mutex> guard(mutex_);
        return answered_;
    }
    // For suites that run real queues: waits (on a condition, at most
    // `timeout`) until `count` requests have arrived.
    bool waitForRequests(std::size_t count, std::chrono::seconds timeout = std::chrono::seconds(20)) {
        std::unique_lock<std::mutex> lock(mutex_);
        return cv_.wait_for(lock, timeout, [&] { return requests_.size() >= count; });
    }

private:
    void handle(const httplib::Request& request, httplib::Response& response) {
        RecordedRequest recorded;
        recorded.method = request.method;
        recorded.path = request.path;
        std::string target = request.target;
        if (auto mark = target.find('?'); mark != std::string::npos) recorded.query = target.substr(mark + 1);
        for (const auto& [key, value] : request.headers) recorded.headers.emplace_back(key, value);
        recorded.wireLength = std::stoul(recorded.header("Content-Length").value_or("0"));
        recorded.body = request.body;
        // Debian's build of the server may have unpacked it already.
        const bool packed = request.body.size() >= 2 && static_cast<unsigned char>(request.body[0]) == 0x1f &&
                            static_cast<unsigned char>(request.body[1]) == 0x8b;
        if (recorded.header("Content-Encoding") == std::optional<std::string>("gzip") && packed)
            recorded.body = gunzip(request.body).value_or("<not gzip>");

        std::unique_lock<std::mutex> lock(mutex_);
        requests_.push_back(std::move(recorded));
        int status = defaultStatus_;
        if (!script_.empty()) {
            status = script_.front();
            script_.pop_front();
        }
        cv_.notify_all();
        cv_.wait(lock, [&] { return !held_; });
        ++answered_;
        response.status = status;
        if (!responseBody_.empty()) response.set_content(responseBody_, responseContentType_.c_str());
    }

    httplib::Server server_;
    int port_ = 0;
    std::thread thread_;
    mutable std::mutex mutex_;
    std::condition_variable cv_;
    std::vector<RecordedRequest> requests_;
    std::deque<int> script_;
    int defaultStatus_ = 200;
    std::size_t answered_ = 0;
    bool held_ = false;
    std::string responseBody_;
    std::string responseContentType_ = "application/json";
};

}  // namespace DAVTest

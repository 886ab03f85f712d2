#include "Platform/CloudKit/Transport.h"
#include "Platform/Foundation/ThreadSignalStack.h"

#include <curl/curl.h>

#include <nlohmann/json.hpp>

#include <chrono>

namespace CloudKit {

using wire::Json;

namespace {

Json networkFailure(const std::string& what) {
    return Json{{"error", wire::encodeError(makeCKError(CKErrorNetworkFailure, what))}};
}

}  // namespace

// --- in process ----------------------------------------------------------------

InProcessTransport::InProcessTransport(std::shared_ptr<CloudServer> server, std::string userId, std::string deviceId)
    : server_(std::move(server)), userId_(std::move(userId)), deviceId_(std::move(deviceId)) {}

InProcessTransport::~InProcessTransport() { server_->setPushSink(deviceId_, {}); }

Json InProcessTransport::send(const std::string& methodName, const Json& body) {
    return server_->handle(userId_, deviceId_, methodName, body);
}

void InProcessTransport::setPushSink(PushSink sink) { server_->setPushSink(deviceId_, std::move(sink)); }

// --- no cloud ------------------------------------------------------------------

Json NoCloudTransport::send(const std::string& methodName, const Json&) {
    if (methodName == "accountStatus") return Json{{"status", static_cast<int>(CKAccountStatus::noAccount)}};
    if (methodName == "longLivedIDs") return Json{{"ids", Json::array()}};
    return Json{{"error", wire::encodeError(makeCKError(CKErrorNotAuthenticated))}};
}

// --- HTTP ----------------------------------------------------------------------

struct HTTPTransport::Shared {
    std::mutex mutex;
    std::condition_variable wake;
    PushSink sink;
    CKTransport::ConnectedSink connected;
    bool stopping = false;
    std::atomic<bool> stop{false};
};

namespace {

std::once_flag curlInit;

std::size_t collect(char* data, std::size_t size, std::size_t count, void* out) {
    static_cast<std::string*>(out)->append(data, size * count);
    return size * count;
}

int abortWhenStopping(void* flag, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
    return static_cast<std::atomic<bool>*>(flag)->load() ? 1 : 0;
}

// POSTs JSON; the parsed reply, or nullopt with `error` set.
std::optional<Json> post(const std::string& url, const std::string& user, const std::string& device, const Json& body,
                         long timeoutSeconds, std::atomic<bool>* stop, std::string& error) {
    std::call_once(curlInit, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
    CURL* curl = curl_easy_init();
    if (!curl) {
        error = "cannot start a request";
        return std::nullopt;
    }
    std::string payload = body.dump();
    std::string response;
    curl_slist* headers = nullptr;
    headers = curl_slist_append(headers, "Content-Type: application/json");
    headers = curl_slist_append(headers, ("X-Vexil-User: " + user).c_str());
    headers = curl_slist_append(headers, ("X-Vexil-Device: " + device).c_str());
    curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers);
    curl_easy_setopt(curl, CURLOPT_POSTFIELDS, payload.c_str());
    curl_easy_setopt(curl, CURLOPT_POSTFIELDSIZE, static_cast<long>(payload.size()));
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, collect);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &response);
    curl_easy_setopt(curl, CURLOPT_TIMEOUT, timeoutSeconds);
    curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT, 5L);
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    if (stop) {
        curl_easy_setopt(curl, CURLOPT_NOPROGRESS, 0L);
        curl_easy_setopt(curl, CURLOPT_XFERINFOFUNCTION, abortWhenStopping);
        curl_easy_setopt(curl, CURLOPT_XFERINFODATA, stop);
    }
    CURLcode rc = curl_easy_perform(curl);
    long status = 0;
    curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
    curl_slist_free_all(headers);
    curl_easy_cleanup(curl);
    if (rc != CURLE_OK) {
        error = curl_easy_strerror(rc);
        return std::nullopt;
    }
    if (status != 200) {
        error = "HTTP status " + std::to_string(status);
        return std::nullopt;
    }
    Json reply = Json::parse(response, nullptr, false);
    if (reply.is_discarded() || !reply.is_object()) {
        error = "reply is not a JSON object";
        return std::nullopt;
    }
    return reply;
}

}  // namespace

static void pollPushes(const std::shared_ptr<HTTPTransport::Shared>& shared, const std::string& url,
                       const std::string& userId, const std::string& deviceId);

HTTPTransport::HTTPTransport(std::string baseURL, std::string userId, std::string deviceId)
    : baseURL_(std::move(baseURL)),
      userId_(std::move(userId)),
      deviceId_(std::move(deviceId)),
      shared_(std::make_shared<Shared>()) {
    while (!baseURL_.empty() && baseURL_.back() == '/') baseURL_.pop_back();
}

HTTPTransport::~HTTPTransport() {
    {
        std::lock_guard lock(shared_->mutex);
        shared_->stopping = true;
        shared_->sink = nullptr;
    }
    shared_->stop = true;
    shared_->wake.notify_all();
    if (!poller_.joinable()) return;
    // The last owner may let go from inside a push the poller delivers; the
    // poller then ends on its own (it holds only what it shares).
    if (poller_.get_id() == std::this_thread::get_id()) {
        poller_.detach();
    } else {
        poller_.join();
    }
}

Json HTTPTransport::send(const std::string& methodName, const Json& body) {
    std::string error;
    auto reply = post(baseURL_ + "/v1/" + methodName, userId_, deviceId_, body, 60, nullptr, error);
    if (!reply) return networkFailure("cloud daemon at " + baseURL_ + ": " + error);
    return *reply;
}

void HTTPTransport::setConnectedSink(ConnectedSink sink) {
    std::lock_guard lock(shared_->mutex);
    shared_->connected = std::move(sink);
}

void HTTPTransport::setPushSink(PushSink sink) {
    {
        std::lock_guard lock(shared_->mutex);
        shared_->sink = std::move(sink);
    }
    if (!poller_.joinable()) {
        poller_ = std::thread([shared = shared_, url = baseURL_ + "/v1/pushes", user = userId_, device = deviceId_] {
            Foundation::ThreadSignalStack signalStack;
            pollPushes(shared, url, user, device);
        });
    }
}

static void pollPushes(const std::shared_ptr<HTTPTransport::Shared>& shared, const std::string& url,
                       const std::string& userId, const std::string& deviceId) {
    bool lost = false;
    for (;;) {
        {
            std::lock_guard lock(shared->mutex);
            if (shared->stopping) return;
        }
        std::string error;
        auto reply = post(url, userId, deviceId, Json{{"wait", 20}}, 40, &shared->stop, error);
        if (reply && reply->contains("pushes") && (*reply)["pushes"].is_array()) {
            if (lost) {
                lost = false;
                CKTransport::ConnectedSink connected;
                {
                    std::lock_guard lock(shared->mutex);
                    connected = shared->connected;
                }
                if (connected) connected();
            }
            for (const auto& p : (*reply)["pushes"]) {
                Dictionary userInfo;
                try {
                    Value v = wire::decodeValue(p);
                    if (const auto* d = v.dictionaryOrNull()) userInfo = *d;
                } catch (const std::exception&) {
                    continue;
                }
                CKTransport::PushSink sink;
                {
                    std::lock_guard lock(shared->mutex);
                    sink = shared->sink;
                }
                if (sink) sink(userInfo);
            }
            continue;
        }
        // The daemon is away: try again shortly, unless stopping.
        lost = true;
        std::unique_lock lock(shared->mutex);
        shared->wake.wait_for(lock, std::chrono::seconds(1), [&] { return shared->stopping; });
    }
}

}  // namespace CloudKit

#include "DerAvedur/DerAvedur/Internals/HttpClient/DAVHttpClient.h"

#include <curl/curl.h>

#include <algorithm>
#include <condition_variable>
#include <cstring>
#include <map>
#include <mutex>
#include <random>
#include <thread>

#include "DerAvedur/DerAvedur/DAVConstants.h"
#include "DerAvedur/DerAvedur/Internals/HttpClient/DAVHttpUtil.h"
#include "DerAvedur/DerAvedur/Shared/Util/DAVLogger.h"
#include "Platform/Foundation/Dispatch.h"
#include "Platform/Foundation/Text.h"
#include "Platform/Foundation/ThreadSignalStack.h"

namespace {

constexpr const char* kTag = kDAVDerAvedurLogTag;
constexpr long kConnectTimeoutSeconds = 30;
constexpr long kTransferTimeoutSeconds = 60;

void globalInit() {
    static Foundation::OnceFlag flag;
    Foundation::once(flag, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

Foundation::Error cancelError() {
    return Foundation::makeError(kDAVDerAvedurErrorDomain, DAVCanceledErrorCode, "Canceled, the request was canceled.");
}

bool equalsIgnoringCase(const std::string& a, const std::string& b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
           });
}

// One attempt handed to the transfer thread.
struct Transfer {
    std::uint64_t callId = 0;
    std::string url;
    std::string method;
    DAVHttpHeaders headers;
    std::shared_ptr<const Foundation::Data> body;  // shared with the call, never copied per attempt
};

struct TransferResult {
    std::uint64_t callId = 0;
    CURLcode code = CURLE_OK;
    std::string errorText;
    long statusCode = 0;
    std::vector<std::pair<std::string, std::string>> headers;
    Foundation::Data body;
};

// Drives libcurl's multi interface on a thread of its own, started by the
// first transfer. Results leave through the sink.
class CurlWorker {
public:
    using Sink = std::function<void(TransferResult)>;

    CurlWorker(Sink sink, long maxConnections) : sink_(std::move(sink)), maxConnections_(maxConnections) {}

    ~CurlWorker() {
        shutdown();
        if (multi_) curl_multi_cleanup(multi_);
    }

    // Ends every transfer and joins the thread; later transfers are dropped.
    void shutdown() {
        {
            std::lock_guard<std::mutex> guard(mutex_);
            stopping_ = true;
            if (multi_) curl_multi_wakeup(multi_);
        }
        std::lock_guard<std::mutex> guard(joinMutex_);
        if (thread_.joinable()) thread_.join();
    }

    void add(Transfer transfer) {
        std::lock_guard<std::mutex> guard(mutex_);
        if (stopping_) return;
        if (!multi_) {
            globalInit();
            multi_ = curl_multi_init();
            if (!multi_) {
                TransferResult failed;
                failed.callId = transfer.callId;
                failed.code = CURLE_FAILED_INIT;
                failed.errorText = curl_easy_strerror(CURLE_FAILED_INIT);
                sink_(std::move(failed));
                return;
            }
            thread_ = std::thread([this] {
                Foundation::ThreadSignalStack signalStack;
                run();
            });
        }
        toAdd_.push_back(std::move(transfer));
        curl_multi_wakeup(multi_);
    }

    void cancel(std::vector<std::uint64_t> callIds) {
        std::lock_guard<std::mutex> guard(mutex_);
        toCancel_.insert(toCancel_.end(), callIds.begin(), callIds.end());
        if (multi_) curl_multi_wakeup(multi_);
    }

    void setMaxConnections(long count) {
        std::lock_guard<std::mutex> guard(mutex_);
        maxConnections_ = count;
        maxConnectionsChanged_ = true;
        if (multi_) curl_multi_wakeup(multi_);
    }

private:
    struct Active {
        Transfer transfer;
        CURL* easy = nullptr;
        curl_slist* headerList = nullptr;
        TransferResult result;
        char errorBuffer[CURL_ERROR_SIZE] = {};
        std::size_t bodyOffset = 0;  // how much of the body libcurl has taken
        int requestsMade = 0;        // on this transfer, libcurl's own repeats included
    };

    // The body goes out through a reader rather than as fixed fields, so
    // that libcurl cannot send it again by itself: when a reused connection
    // dies after the body left, libcurl would repeat the request on a fresh
    // one, and a server that had taken the first would get the batch twice.
    // Rewinding is refused once a byte is out; the attempt then fails and the
    // caller's own retry decides. A repeat that would start afresh before
    // the rewind (the body read but not written) is stopped as it begins.
    static size_t onReadBody(char* buffer, size_t size, size_t count, void* context) {
        auto* active = static_cast<Active*>(context);
        const Foundation::Data& body = *active->transfer.body;
        const std::size_t length = std::min(size * count, body.size() - active->bodyOffset);
        if (length > 0) std::memcpy(buffer, body.data() + active->bodyOffset, length);
        active->bodyOffset += length;
        return length;
    }

    static int onSeekBody(void* context, curl_off_t offset, int origin) {
        auto* active = static_cast<Active*>(context);
        if (origin != SEEK_SET || offset != 0 || active->bodyOffset > 0) return CURL_SEEKFUNC_CANTSEEK;
        return CURL_SEEKFUNC_OK;
    }

    static int onRequestStart(void* context, char*, char*, int, int) {
        auto* active = static_cast<Active*>(context);
        if (active->requestsMade++ > 0 && active->bodyOffset > 0) return CURL_PREREQFUNC_ABORT;
        return CURL_PREREQFUNC_OK;
    }

    static size_t onBody(char* data, size_t size, size_t count, void* context) {
        auto* active = static_cast<Active*>(context);
        active->result.body.insert(active->result.body.end(), data, data + size * count);
        return size * count;
    }

    static size_t onHeader(char* data, size_t size, size_t count, void* context) {
        auto* active = static_cast<Active*>(context);
        std::string line(data, size * count);
        while (!line.empty() && (line.back() == '\r' || line.back() == '\n')) line.pop_back();
        if (line.rfind("HTTP/", 0) == 0) {
            active->result.headers.clear();  // a new response (after an interim one) starts over
        } else if (auto colon = line.find(':'); colon != std::string::npos) {
            std::string value = line.substr(colon + 1);
            const auto first = value.find_first_not_of(" \t");
            value = first == std::string::npos ? std::string() : value.substr(first);
            active->result.headers.emplace_back(line.substr(0, colon), value);
        }
        return size * count;
    }

    void start(Transfer transfer) {
        auto active = std::make_unique<Active>();
        active->transfer = std::move(transfer);
        active->result.callId = active->transfer.callId;
        CURL* easy = curl_easy_init();
        if (!easy) {
            active->result.code = CURLE_FAILED_INIT;
            active->result.errorText = curl_easy_strerror(CURLE_FAILED_INIT);
            sink_(std::move(active->result));
            return;
        }
        active->easy = easy;
        for (const auto& [name, value] : active->transfer.headers)
            active->headerList = curl_slist_append(active->headerList, (name + ": " + value).c_str());
        // No "Expect: 100-continue" round trip before larger bodies.
        active->headerList = curl_slist_append(active->headerList, "Expect:");

        curl_easy_setopt(easy, CURLOPT_URL, active->transfer.url.c_str());
        curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, "http,https");
        curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
        curl_easy_setopt(easy, CURLOPT_CONNECTTIMEOUT, kConnectTimeoutSeconds);
        curl_easy_setopt(easy, CURLOPT_TIMEOUT, kTransferTimeoutSeconds);
        curl_easy_setopt(easy, CURLOPT_HTTPHEADER, active->headerList);
        if (active->transfer.method == "POST") {
            curl_easy_setopt(easy, CURLOPT_POST, 1L);
        } else if (active->transfer.method != "GET") {
            curl_easy_setopt(easy, CURLOPT_CUSTOMREQUEST, active->transfer.method.c_str());
        }
        if (active->transfer.body) {
            curl_easy_setopt(easy, CURLOPT_POST, 1L);  // a body is posted; a custom method keeps its name
            curl_easy_setopt(easy, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(active->transfer.body->size()));
            curl_easy_setopt(easy, CURLOPT_READFUNCTION, &CurlWorker::onReadBody);
            curl_easy_setopt(easy, CURLOPT_READDATA, active.get());
            curl_easy_setopt(easy, CURLOPT_SEEKFUNCTION, &CurlWorker::onSeekBody);
            curl_easy_setopt(easy, CURLOPT_SEEKDATA, active.get());
            curl_easy_setopt(easy, CURLOPT_PREREQFUNCTION, &CurlWorker::onRequestStart);
            curl_easy_setopt(easy, CURLOPT_PREREQDATA, active.get());
        } else if (active->transfer.method == "POST") {
            curl_easy_setopt(easy, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(0));
            curl_easy_setopt(easy, CURLOPT_POSTFIELDS, "");
        }
        curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, &CurlWorker::onBody);
        curl_easy_setopt(easy, CURLOPT_WRITEDATA, active.get());
        curl_easy_setopt(easy, CURLOPT_HEADERFUNCTION, &CurlWorker::onHeader);
        curl_easy_setopt(easy, CURLOPT_HEADERDATA, active.get());
        curl_easy_setopt(easy, CURLOPT_ERRORBUFFER, active->errorBuffer);
        curl_easy_setopt(easy, CURLOPT_PRIVATE, active.get());
        curl_multi_add_handle(multi_, easy);
        active_.emplace(easy, std::move(active));
    }

    void release(CURL* easy) {
        auto it = active_.find(easy);
        curl_multi_remove_handle(multi_, easy);
        curl_easy_cleanup(easy);
        if (it != active_.end()) {
            curl_slist_free_all(it->second->headerList);
            active_.erase(it);
        }
    }

    void finish(CURL* easy, CURLcode code) {
        auto it = active_.find(easy);
        if (it == active_.end()) return;
        Active& active = *it->second;
        active.result.code = code;
        if (code == CURLE_OK) {
            curl_easy_getinfo(easy, CURLINFO_RESPONSE_CODE, &active.result.statusCode);
        } else {
            active.result.statusCode = 0;
            active.result.errorText = active.errorBuffer[0] ? active.errorBuffer : curl_easy_strerror(code);
        }
        TransferResult result = std::move(active.result);
        release(easy);
        sink_(std::move(result));
    }

    void run() {
        for (;;) {
            std::vector<Transfer> toAdd;
            std::vector<std::uint64_t> toCancel;
            bool changed = false;
            long maxConnections = 0;
            {
                std::lock_guard<std::mutex> guard(mutex_);
                if (stopping_) break;
                toAdd.swap(toAdd_);
                toCancel.swap(toCancel_);
                changed = maxConnectionsChanged_ || !configured_;
                maxConnectionsChanged_ = false;
                configured_ = true;
                maxConnections = maxConnections_;
            }
            if (changed) {
                curl_multi_setopt(multi_, CURLMOPT_MAX_TOTAL_CONNECTIONS, maxConnections);
                curl_multi_setopt(multi_, CURLMOPT_MAX_HOST_CONNECTIONS, maxConnections);
            }
            for (std::uint64_t id : toCancel) {
                for (auto it = active_.begin(); it != active_.end();) {
                    CURL* easy = it->first;
                    const bool match = it->second->transfer.callId == id;
                    ++it;
                    if (match) release(easy);
                }
                toAdd.erase(
                    std::remove_if(toAdd.begin(), toAdd.end(), [id](const Transfer& t) { return t.callId == id; }),
                    toAdd.end());
            }
            for (Transfer& transfer : toAdd) start(std::move(transfer));

            int running = 0;
            curl_multi_perform(multi_, &running);
            int queued = 0;
            while (CURLMsg* message = curl_multi_info_read(multi_, &queued)) {
                if (message->msg == CURLMSG_DONE) finish(message->easy_handle, message->data.result);
            }
            curl_multi_poll(multi_, nullptr, 0, 1000, nullptr);
        }
        for (auto it = active_.begin(); it != active_.end(); it = active_.begin()) release(it->first);
    }

    Sink sink_;
    std::mutex mutex_;
    std::mutex joinMutex_;
    CURLM* multi_ = nullptr;  // made with the thread, guarded by mutex_ until then
    std::thread thread_;
    std::vector<Transfer> toAdd_;
    std::vector<std::uint64_t> toCancel_;
    long maxConnections_;
    bool maxConnectionsChanged_ = false;
    bool configured_ = false;
    bool stopping_ = false;
    std::map<CURL*, std::unique_ptr<Active>> active_;  // transfer thread only
};

}  // namespace

std::optional<std::string> DAVHttpResponse::valueForHeader(const std::string& name) const {
    for (const auto& [key, value] : headers)
        if (equalsIgnoringCase(key, name)) return value;
    return std::nullopt;
}

struct DAVHttpClient::Core : std::enable_shared_from_this<DAVHttpClient::Core> {
    struct Call {
        std::string url;
        std::string method;
        DAVHttpHeaders headers;
        std::shared_ptr<const Foundation::Data> body;
        std::vector<double> retryIntervals;
        std::size_t attempt = 0;
        bool waitingForRetry = false;
        DAVHttpRequestCompletionHandler completion;
        std::weak_ptr<DAVHttpClientDelegate> delegate;
    };

    explicit Core(long maxConnections)
        : queue(Foundation::DispatchQueue::makeSerial(kQueueLabel)),
          maxConnections(maxConnections),
          random(std::random_device{}()) {}

    // Made after construction: the sink needs the core's weak self.
    void makeWorker() {
        std::weak_ptr<Core> weak = weak_from_this();
        std::shared_ptr<Foundation::DispatchQueue> resultQueue = queue;
        worker = std::make_unique<CurlWorker>(
            [weak, resultQueue](TransferResult result) {
                resultQueue->async([weak, result = std::move(result)]() mutable {
                    if (auto core = weak.lock()) core->finishAttempt(std::move(result));
                });
            },
            maxConnections);
    }

    void startAttempt(std::uint64_t id) {
        Transfer transfer;
        std::weak_ptr<DAVHttpClientDelegate> delegate;
        {
            std::lock_guard<std::mutex> guard(mutex);
            auto it = calls.find(id);
            if (it == calls.end()) return;  // canceled meanwhile
            Call& call = *it->second;
            call.waitingForRetry = false;
            transfer = Transfer{id, call.url, call.method, call.headers, call.body};
            delegate = call.delegate;
        }
        if (auto listener = delegate.lock()) listener->willSendHTTPRequestToURL(transfer.url, transfer.headers);
        worker->add(std::move(transfer));
    }

    void finishAttempt(TransferResult result) {
        std::shared_ptr<Call> finished;
        {
            std::lock_guard<std::mutex> guard(mutex);
            auto it = calls.find(result.callId);
            if (it == calls.end()) return;  // canceled meanwhile
            Call& call = *it->second;
            if (DAVHttpUtil::isRecoverableError(result.statusCode) && call.attempt < call.retryIntervals.size()) {
                const double interval = std::max(0.0, call.retryIntervals[call.attempt++]);
                const double delay = interval / 2 + std::uniform_real_distribution<double>(0, interval / 2)(random);
                call.waitingForRetry = true;
                DAVLogWarning(kTag, "HTTP call failed with status code: %ld, retrying in %.0f second(s).",
                              result.statusCode, delay);
                std::weak_ptr<Core> weak = weak_from_this();
                const std::uint64_t id = result.callId;
                queue->after(delay, [weak, id] {
                    if (auto core = weak.lock()) core->startAttempt(id);
                });
                return;
            }
            finished = it->second;
            calls.erase(it);
        }
        std::optional<DAVHttpResponse> response;
        std::optional<Foundation::Error> error;
        if (result.code == CURLE_OK) {
            response = DAVHttpResponse{result.statusCode, std::move(result.headers)};
        } else {
            error = Foundation::makeError(kDAVHttpErrorDomain, static_cast<long>(result.code), result.errorText);
        }
        std::optional<Foundation::Data> body;
        if (!result.body.empty()) body = std::move(result.body);
        if (finished->completion) finished->completion(body, response, error);
    }

    std::shared_ptr<Foundation::DispatchQueue> queue;
    long maxConnections;
    mutable std::mutex mutex;
    std::map<std::uint64_t, std::shared_ptr<Call>> calls;
    std::uint64_t nextId = 1;
    std::mt19937_64 random;  // guarded by mutex
    std::unique_ptr<CurlWorker> worker;
};

DAVHttpClient::DAVHttpClient(long maxNumberOfConnections)
    : core_(std::make_shared<Core>(std::max(1L, maxNumberOfConnections))) {
    core_->makeWorker();
}

DAVHttpClient::~DAVHttpClient() {
    // Stop the transfers first so that no result is delivered afterwards.
    core_->worker->shutdown();
    std::lock_guard<std::mutex> guard(core_->mutex);
    core_->calls.clear();
}

void DAVHttpClient::sendAsync(const std::string& url, const std::string& method, const DAVHttpHeaders& headers,
                              const std::optional<Foundation::Data>& data, const std::vector<double>& retryIntervals,
                              bool compressionEnabled, DAVHttpRequestCompletionHandler completionHandler,
                              std::weak_ptr<DAVHttpClientDelegate> delegate) {
    auto call = std::make_shared<Core::Call>();
    call->url = url;
    call->method = method;
    call->headers = headers;
    call->retryIntervals = retryIntervals;
    call->completion = std::move(completionHandler);
    call->delegate = std::move(delegate);
    if (data) {
        std::optional<Foundation::Data> compressed;
        if (compressionEnabled && data->size() >= DAVHttpUtil::kMinGZipLength)
            compressed = DAVHttpUtil::compressData(*data);
        if (compressed) {
            call->headers["Content-Encoding"] = "gzip";
            call->body = std::make_shared<const Foundation::Data>(std::move(*compressed));
        } else {
            call->body = std::make_shared<const Foundation::Data>(*data);
        }
    }
    std::uint64_t id = 0;
    {
        std::lock_guard<std::mutex> guard(core_->mutex);
        id = core_->nextId++;
        core_->calls.emplace(id, std::move(call));
    }
    std::weak_ptr<Core> weak = core_;
    core_->queue->async([weak, id] {
        if (auto core = weak.lock()) core->startAttempt(id);
    });
}

void DAVHttpClient::cancelAllCalls() {
    std::map<std::uint64_t, std::shared_ptr<Core::Call>> canceled;
    {
        std::lock_guard<std::mutex> guard(core_->mutex);
        canceled.swap(core_->calls);
    }
    if (canceled.empty()) return;
    std::vector<std::uint64_t> ids;
    for (const auto& entry : canceled) ids.push_back(entry.first);
    core_->worker->cancel(std::move(ids));
    DAVLogDebug(kTag, "Canceled %zu HTTP call(s).", canceled.size());
    for (auto& entry : canceled) {
        auto call = entry.second;
        core_->queue->async([call] {
            if (call->completion) call->completion(std::nullopt, std::nullopt, cancelError());
        });
    }
}

void DAVHttpClient::setMaxNumberOfConnections(long count) { core_->worker->setMaxConnections(std::max(1L, count)); }

std::size_t DAVHttpClient::callsInProgress() const {
    std::lock_guard<std::mutex> guard(core_->mutex);
    return static_cast<std::size_t>(std::count_if(core_->calls.begin(), core_->calls.end(),
                                                  [](const auto& entry) { return !entry.second->waitingForRetry; }));
}

std::size_t DAVHttpClient::callsWaitingForRetry() const {
    std::lock_guard<std::mutex> guard(core_->mutex);
    return static_cast<std::size_t>(std::count_if(core_->calls.begin(), core_->calls.end(),
                                                  [](const auto& entry) { return entry.second->waitingForRetry; }));
}

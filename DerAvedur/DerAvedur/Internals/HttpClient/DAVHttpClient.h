#pragma once
// The HTTP client: libcurl's multi interface on one transfer thread of its
// own; attempts, retries and completions run on the client's serial queue
// "com.vaveruvav.deravedur.HttpClient" (virtual under the test executor, so
// retry delays follow the manual clock).

#include <memory>

#include "DerAvedur/DerAvedur/Internals/HttpClient/DAVHttpClientProtocol.h"

class DAVHttpClient : public DAVHttpClientProtocol {
public:
    static constexpr long kDefaultMaxNumberOfConnections = 4;
    static constexpr const char* kQueueLabel = "com.vaveruvav.deravedur.HttpClient";

    explicit DAVHttpClient(long maxNumberOfConnections = kDefaultMaxNumberOfConnections);
    // Stops the transfer thread; calls still open end without a completion
    // (their owners are going away with the client).
    ~DAVHttpClient() override;
    DAVHttpClient(const DAVHttpClient&) = delete;
    DAVHttpClient& operator=(const DAVHttpClient&) = delete;

    // A body of at least DAVHttpUtil::kMinGZipLength bytes is gzipped when
    // compression is enabled, with "Content-Encoding: gzip". A recoverable
    // answer (DAVHttpUtil::isRecoverableError) is retried after each interval
    // in turn, each wait drawn between half and the whole of its interval so
    // that clients failing together do not retry together.
    void sendAsync(const std::string& url, const std::string& method, const DAVHttpHeaders& headers,
                   const std::optional<Foundation::Data>& data, const std::vector<double>& retryIntervals,
                   bool compressionEnabled, DAVHttpRequestCompletionHandler completionHandler,
                   std::weak_ptr<DAVHttpClientDelegate> delegate = {}) override;
    void cancelAllCalls() override;
    void setMaxNumberOfConnections(long count) override;

    // Open calls: on the wire, and waiting for their next attempt.
    std::size_t callsInProgress() const;
    std::size_t callsWaitingForRetry() const;

    struct Core;

private:
    std::shared_ptr<Core> core_;
};

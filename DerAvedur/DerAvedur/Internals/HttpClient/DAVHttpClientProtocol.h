#pragma once
// What the ingestions ask of an HTTP client: one call per request, retried
// by the client, answered once.

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "Platform/Foundation/Error.h"
#include "Platform/Foundation/Value.h"

// Request headers by name. Sorted, so that traces read the same every time.
using DAVHttpHeaders = std::map<std::string, std::string>;

struct DAVHttpResponse {
    long statusCode = 0;
    // Response headers in the order they arrived.
    std::vector<std::pair<std::string, std::string>> headers;

    // The first header of that name, compared without letter case.
    std::optional<std::string> valueForHeader(const std::string& name) const;
};

// Body, response (nothing when no answer came: transport error or cancel,
// status 0) and error (transport failures and cancels only; an HTTP status
// is not an error).
using DAVHttpRequestCompletionHandler =
    std::function<void(const std::optional<Foundation::Data>& body, const std::optional<DAVHttpResponse>& response,
                       const std::optional<Foundation::Error>& error)>;

// Told before each attempt of a request; the ingestion that made it masks
// its secrets when it traces them.
class DAVHttpClientDelegate {
public:
    virtual ~DAVHttpClientDelegate() = default;
    virtual void willSendHTTPRequestToURL(const std::string& url, const DAVHttpHeaders& headers) = 0;
};

class DAVHttpClientProtocol {
public:
    virtual ~DAVHttpClientProtocol() = default;

    // Sends once, then again after each of `retryIntervals` (seconds) while
    // the answer is recoverable; the completion runs exactly once, on the
    // client's queue. `delegate` hears of every attempt.
    virtual void sendAsync(const std::string& url, const std::string& method, const DAVHttpHeaders& headers,
                           const std::optional<Foundation::Data>& data, const std::vector<double>& retryIntervals,
                           bool compressionEnabled, DAVHttpRequestCompletionHandler completionHandler,
                           std::weak_ptr<DAVHttpClientDelegate> delegate = {}) = 0;

    // Ends every call in progress or waiting for a retry: each completes once
    // with the cancel error and no response.
    virtual void cancelAllCalls() = 0;

    // At most this many connections at once (default 4).
    virtual void setMaxNumberOfConnections(long count) = 0;
};

#pragma once
// The common base of the ingestions: the send URL, the fixed headers, the
// dispatch of calls to the HTTP client, and verbose traces of requests and
// responses with their secrets masked.

#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "DerAvedur/DerAvedur/Internals/Ingestion/DAVIngestionProtocol.h"
#include "Platform/Foundation/Value.h"

class DAVHttpIngestion : public DAVIngestionProtocol,
                         public DAVHttpClientDelegate,
                         public std::enable_shared_from_this<DAVHttpIngestion> {
public:
    static const std::vector<double>& defaultRetryIntervals();  // none: the channel unit retries
    static constexpr long kDefaultMaxNumberOfConnections = 4;

    // `queryStrings` holds text values, sent in its order.
    DAVHttpIngestion(std::shared_ptr<DAVHttpClientProtocol> httpClient, const std::string& baseUrl,
                     const std::string& apiPath, DAVHttpHeaders headers, const Foundation::Dictionary& queryStrings,
                     std::vector<double> retryIntervals = defaultRetryIntervals(),
                     long maxNumberOfConnections = kDefaultMaxNumberOfConnections);

    bool isReadyToSend() override { return true; }
    // A fresh call id (a new UUID) per call.
    void sendAsync(const std::shared_ptr<DAVLogContainer>& data,
                   DAVSendAsyncCompletionHandler completionHandler) override;
    void sendAsync(const std::shared_ptr<DAVLogContainer>& data, const std::optional<std::string>& eTag,
                   DAVSendAsyncCompletionHandler completionHandler);
    // While disabled nothing is sent and the completion gets the cancel error
    // at once, so that the caller is never left waiting for an answer.
    void sendAsync(const std::shared_ptr<DAVLogContainer>& data, const std::optional<std::string>& eTag,
                   const std::string& callId, DAVSendAsyncCompletionHandler completionHandler);

    // The flag to delete data is not ours to act on.
    void setEnabled(bool isEnabled, bool deleteDataOnDisabled) override;
    bool isEnabled() const;

    std::string baseURL() const;
    // Takes scheme, user, password, host, port and path from the new base URL
    // and the API path, keeping the query of the current send URL.
    void setBaseURL(const std::string& baseURL);
    std::string sendURL() const;
    const std::string& apiPath() const { return apiPath_; }
    const DAVHttpHeaders& httpHeaders() const { return httpHeaders_; }
    const std::shared_ptr<DAVHttpClientProtocol>& httpClient() const { return httpClient_; }
    const std::vector<double>& callsRetryIntervals() const { return callsRetryIntervals_; }
    long maxNumberOfConnections() const { return maxNumberOfConnections_; }

    // "%@%@" of base URL and API path, then "?" and the percent-encoded query
    // when there is one.
    static std::string buildURLWithBaseURL(const std::string& baseURL, const std::string& apiPath,
                                           const Foundation::Dictionary& queryStrings);
    // The first header named "etag" in any letter case.
    static std::optional<std::string> eTagFromResponse(const DAVHttpResponse& response);

    // DAVHttpClientDelegate: at VERBOSE, the URL and the masked headers.
    void willSendHTTPRequestToURL(const std::string& url, const DAVHttpHeaders& headers) override;
    void printResponse(const std::optional<DAVHttpResponse>& response, const std::optional<Foundation::Data>& body,
                       const std::optional<Foundation::Error>& error);

    // Hooks of the concrete ingestions, called by sendAsync with lock_ held:
    // they must not take it again.
    virtual DAVHttpHeaders getHeadersWithData(const std::shared_ptr<DAVLogContainer>& data,
                                              const std::optional<std::string>& eTag);
    virtual std::optional<Foundation::Data> getPayloadWithData(const std::shared_ptr<DAVLogContainer>& data);
    virtual std::optional<std::string> obfuscateResponsePayload(const std::optional<std::string>& payload);
    virtual std::string getHttpMethod() const { return "POST"; }

protected:
    // A header's value as traces may show it.
    virtual std::string obfuscateHeaderValue(const std::string& name, const std::string& value) const;

    // Sending, enabling, the URL and the subclasses' settings.
    mutable std::mutex lock_;

private:
    std::string baseURL_;
    std::string apiPath_;
    std::string sendURL_;
    DAVHttpHeaders httpHeaders_;
    std::shared_ptr<DAVHttpClientProtocol> httpClient_;
    std::vector<double> callsRetryIntervals_;
    long maxNumberOfConnections_;
    bool enabled_ = true;
};

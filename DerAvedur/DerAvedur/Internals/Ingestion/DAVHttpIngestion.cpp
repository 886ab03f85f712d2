#include "DerAvedur/DerAvedur/Internals/Ingestion/DAVHttpIngestion.h"

#include <curl/curl.h>

#include <cstring>

#include "DerAvedur/DerAvedur/DAVErrors.h"
#include "DerAvedur/DerAvedur/Shared/Util/DAVLogger.h"
#include "DerAvedur/DerAvedur/Shared/Util/DAVUtility.h"
#include "Platform/Foundation/Text.h"

namespace {

constexpr const char* kTag = kDAVDerAvedurLogTag;

// The characters a URL query may hold as they are.
bool isQueryAllowed(unsigned char c) { return std::isalnum(c) || std::strchr("-._~!$&'()*+,;=:@/?", c) != nullptr; }

std::string percentEncodedQuery(const std::string& text) {
    static const char* hex = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : text) {
        if (c != 0 && isQueryAllowed(c)) {
            out += static_cast<char>(c);
        } else {
            out += '%';
            out += hex[c >> 4];
            out += hex[c & 0xF];
        }
    }
    return out;
}

std::string valueText(const Foundation::Value& value) {
    if (const std::string* text = value.stringOrNull()) return *text;
    if (auto number = value.integerValue()) return std::to_string(*number);
    return value.debugDescription();
}

struct CurlUrl {
    CURLU* handle = curl_url();
    ~CurlUrl() { curl_url_cleanup(handle); }
    bool parse(const std::string& text) {
        return handle && curl_url_set(handle, CURLUPART_URL, text.c_str(), 0) == CURLUE_OK;
    }
    std::optional<std::string> get(CURLUPart part) const {
        char* value = nullptr;
        if (curl_url_get(handle, part, &value, 0) != CURLUE_OK || !value) return std::nullopt;
        std::string text(value);
        curl_free(value);
        return text;
    }
};

bool startsWith(const std::string& text, const char* prefix) { return text.rfind(prefix, 0) == 0; }

}  // namespace

// No retries of its own: the channel unit's backoff is the one retry clock,
// so a failed batch is tried again on that clock only, never on two.
const std::vector<double>& DAVHttpIngestion::defaultRetryIntervals() {
    static const std::vector<double> intervals{};
    return intervals;
}

DAVHttpIngestion::DAVHttpIngestion(std::shared_ptr<DAVHttpClientProtocol> httpClient, const std::string& baseUrl,
                                   const std::string& apiPath, DAVHttpHeaders headers,
                                   const Foundation::Dictionary& queryStrings, std::vector<double> retryIntervals,
                                   long maxNumberOfConnections)
    : baseURL_(baseUrl),
      apiPath_(apiPath),
      sendURL_(buildURLWithBaseURL(baseUrl, apiPath, queryStrings)),
      httpHeaders_(std::move(headers)),
      httpClient_(std::move(httpClient)),
      callsRetryIntervals_(std::move(retryIntervals)),
      maxNumberOfConnections_(maxNumberOfConnections) {
    if (httpClient_) httpClient_->setMaxNumberOfConnections(maxNumberOfConnections_);
}

std::string DAVHttpIngestion::buildURLWithBaseURL(const std::string& baseURL, const std::string& apiPath,
                                                  const Foundation::Dictionary& queryStrings) {
    std::string url = baseURL + apiPath;
    std::string query;
    for (const auto& [key, value] : queryStrings) query += (query.empty() ? "" : "&") + key + "=" + valueText(value);
    if (!query.empty()) url += "?" + percentEncodedQuery(query);
    return url;
}

std::optional<std::string> DAVHttpIngestion::eTagFromResponse(const DAVHttpResponse& response) {
    return response.valueForHeader("etag");
}

void DAVHttpIngestion::sendAsync(const std::shared_ptr<DAVLogContainer>& data,
                                 DAVSendAsyncCompletionHandler completionHandler) {
    sendAsync(data, std::nullopt, std::move(completionHandler));
}

void DAVHttpIngestion::sendAsync(const std::shared_ptr<DAVLogContainer>& data, const std::optional<std::string>& eTag,
                                 DAVSendAsyncCompletionHandler completionHandler) {
    sendAsync(data, eTag, Foundation::makeUUIDString(), std::move(completionHandler));
}

void DAVHttpIngestion::sendAsync(const std::shared_ptr<DAVLogContainer>& data, const std::optional<std::string>& eTag,
                                 const std::string& callId, DAVSendAsyncCompletionHandler completionHandler) {
    {
        std::lock_guard<std::mutex> guard(lock_);
        if (enabled_ && httpClient_) {
            DAVHttpHeaders headers = getHeadersWithData(data, eTag);
            std::optional<Foundation::Data> payload = getPayloadWithData(data);
            std::weak_ptr<DAVHttpIngestion> weak = weak_from_this();
            httpClient_->sendAsync(
                sendURL_, getHttpMethod(), headers, payload, callsRetryIntervals_, true,
                [weak, callId, completionHandler](const std::optional<Foundation::Data>& body,
                                                  const std::optional<DAVHttpResponse>& response,
                                                  const std::optional<Foundation::Error>& error) {
                    if (auto self = weak.lock()) self->printResponse(response, body, error);
                    if (completionHandler) completionHandler(callId, response, body, error);
                },
                weak);
            return;
        }
    }
    DAVLogDebug(kTag, "Ingestion is disabled; the call %s is canceled.", callId.c_str());
    if (completionHandler) completionHandler(callId, std::nullopt, std::nullopt, DAVIngestionDisabledError());
}

void DAVHttpIngestion::setEnabled(bool isEnabled, bool) {
    std::lock_guard<std::mutex> guard(lock_);
    enabled_ = isEnabled;
}

bool DAVHttpIngestion::isEnabled() const {
    std::lock_guard<std::mutex> guard(lock_);
    return enabled_;
}

std::string DAVHttpIngestion::baseURL() const {
    std::lock_guard<std::mutex> guard(lock_);
    return baseURL_;
}

std::string DAVHttpIngestion::sendURL() const {
    std::lock_guard<std::mutex> guard(lock_);
    return sendURL_;
}

void DAVHttpIngestion::setBaseURL(const std::string& baseURL) {
    std::lock_guard<std::mutex> guard(lock_);
    baseURL_ = baseURL;
    CurlUrl fresh;
    CurlUrl current;
    std::optional<std::string> updated;
    if (fresh.parse(baseURL + apiPath_) && current.parse(sendURL_)) {
        const CURLUPart parts[] = {CURLUPART_SCHEME, CURLUPART_USER, CURLUPART_PASSWORD,
                                   CURLUPART_HOST,   CURLUPART_PORT, CURLUPART_PATH};
        bool ok = true;
        for (CURLUPart part : parts) {
            std::optional<std::string> value = fresh.get(part);
            ok = ok && curl_url_set(current.handle, part, value ? value->c_str() : nullptr, 0) == CURLUE_OK;
        }
        if (ok) updated = current.get(CURLUPART_URL);
    }
    if (updated) {
        sendURL_ = *updated;
    } else {
        DAVLogInfo(kTag, "Failed to update HTTP URL %s with %s", sendURL_.c_str(), baseURL.c_str());
    }
}

DAVHttpHeaders DAVHttpIngestion::getHeadersWithData(const std::shared_ptr<DAVLogContainer>&,
                                                    const std::optional<std::string>&) {
    return {};
}

std::optional<Foundation::Data> DAVHttpIngestion::getPayloadWithData(const std::shared_ptr<DAVLogContainer>&) {
    return std::nullopt;
}

std::optional<std::string> DAVHttpIngestion::obfuscateResponsePayload(const std::optional<std::string>&) {
    return std::nullopt;
}

std::string DAVHttpIngestion::obfuscateHeaderValue(const std::string&, const std::string& value) const { return value; }

void DAVHttpIngestion::willSendHTTPRequestToURL(const std::string& url, const DAVHttpHeaders& headers) {
    if (DAVLogger::currentLogLevel() > DAVLogLevelVerbose) return;
    std::string text;
    for (const auto& [name, value] : headers)
        text += (text.empty() ? "" : ", ") + name + " = " + obfuscateHeaderValue(name, value);
    DAVLogVerbose(kTag, "URL: %s", url.c_str());
    DAVLogVerbose(kTag, "Headers: %s", text.c_str());
}

void DAVHttpIngestion::printResponse(const std::optional<DAVHttpResponse>& response,
                                     const std::optional<Foundation::Data>& body,
                                     const std::optional<Foundation::Error>& error) {
    if (error) {
        DAVLogDebug(kTag, "HTTP request error with code: %ld, domain: %s, description: %s", error->code,
                    error->domain.c_str(), error->description.c_str());
        return;
    }
    if (DAVLogger::currentLogLevel() > DAVLogLevelVerbose) return;
    std::string payload;
    if (body && !body->empty()) {
        const std::string contentType = response ? response->valueForHeader("Content-Type").value_or("") : "";
        const std::string text(body->begin(), body->end());
        if (startsWith(contentType, "application/json")) {
            payload = obfuscateResponsePayload(DAVUtility::prettyPrintJson(*body)).value_or("");
        } else if (contentType.empty() || startsWith(contentType, "text/") || startsWith(contentType, "application/")) {
            payload = obfuscateResponsePayload(text).value_or("");
        } else {
            payload = "<binary>";
        }
    }
    DAVLogVerbose(kTag, "HTTP response received with status code: %ld, payload:\n%s",
                  response ? response->statusCode : 0L, payload.c_str());
}

#pragma once
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "DerAvedur/DerAvedur/Shared/Channel/DAVChannelProtocol.h"
#include "DerAvedur/DerAvedur/Internals/HttpClient/DAVHttpClientProtocol.h"
#include "DerAvedur/DerAvedur/Internals/Ingestion/DAVLogContainer.h"

// Call id, response (nothing when no answer came), body, error.
using DAVSendAsyncCompletionHandler =
    std::function<void(const std::string& callId, const std::optional<DAVHttpResponse>& response,
                       const std::optional<Foundation::Data>& data, const std::optional<Foundation::Error>& error)>;

// Turns a batch into one request and hands the answer back.
class DAVIngestionProtocol : public DAVEnable {
public:
    virtual bool isReadyToSend() = 0;
    // The completion runs exactly once, on the HTTP client's queue or, for a
    // batch refused before sending, on the caller's thread.
    virtual void sendAsync(const std::shared_ptr<DAVLogContainer>& data,
                           DAVSendAsyncCompletionHandler completionHandler) = 0;
};

#pragma once
#include "DerAvedur/DerAvedur/Internals/Ingestion/DAVHttpIngestion.h"

// Posts Common Schema logs, one JSON line each, to the collector's
// "<base URL>/RirIvovovozu/1.0", addressed by their target tokens.
class DAVRirIvovovozuIngestion : public DAVHttpIngestion {
public:
    static constexpr const char* kApiPathPrefix = "/RirIvovovozu";
    static constexpr const char* kApiVersion = "1.0";
    static constexpr const char* kApiKeyHeader = "apikey";
    static constexpr const char* kUploadTimeHeader = "Upload-Time";
    static constexpr const char* kTicketsHeader = "Tickets";

    DAVRirIvovovozuIngestion(std::shared_ptr<DAVHttpClientProtocol> httpClient, const std::string& baseUrl);

    // An invalid container completes at once with an error and sends nothing.
    void sendAsync(const std::shared_ptr<DAVLogContainer>& data,
                   DAVSendAsyncCompletionHandler completionHandler) override;

    DAVHttpHeaders getHeadersWithData(const std::shared_ptr<DAVLogContainer>& data,
                                      const std::optional<std::string>& eTag) override;
    std::optional<Foundation::Data> getPayloadWithData(const std::shared_ptr<DAVLogContainer>& data) override;
    // Any "token" value becomes "***".
    std::optional<std::string> obfuscateResponsePayload(const std::optional<std::string>& payload) override;

protected:
    std::string obfuscateHeaderValue(const std::string& name, const std::string& value) const override;
};

#pragma once
#include "DerAvedur/DerAvedur/Internals/Ingestion/DAVHttpIngestion.h"

// Posts JSON batches to "<base URL>/logs?api-version=1.0.0" with the app
// secret and the install id.
class DAVDerAvedurIngestion : public DAVHttpIngestion {
public:
    static constexpr const char* kApiPath = "/logs";
    static constexpr const char* kApiVersion = "1.0.0";
    static constexpr const char* kAppSecretHeader = "App-Secret";
    static constexpr const char* kInstallIdHeader = "Install-ID";

    DAVDerAvedurIngestion(std::shared_ptr<DAVHttpClientProtocol> httpClient, const std::string& baseUrl,
                          const std::string& installId);

    std::optional<std::string> appSecret() const;
    void setAppSecret(const std::optional<std::string>& appSecret);

    // Exactly when an app secret is set.
    bool isReadyToSend() override;
    // The batch id is the call id. An invalid container, or a missing app
    // secret, completes at once with an error and sends nothing.
    void sendAsync(const std::shared_ptr<DAVLogContainer>& data,
                   DAVSendAsyncCompletionHandler completionHandler) override;

    DAVHttpHeaders getHeadersWithData(const std::shared_ptr<DAVLogContainer>& data,
                                      const std::optional<std::string>& eTag) override;
    std::optional<Foundation::Data> getPayloadWithData(const std::shared_ptr<DAVLogContainer>& data) override;
    std::optional<std::string> obfuscateResponsePayload(const std::optional<std::string>& payload) override {
        return payload;
    }

protected:
    std::string obfuscateHeaderValue(const std::string& name, const std::string& value) const override;

private:
    std::optional<std::string> appSecret_;
};

#include "DerAvedur/DerAvedur/Internals/Ingestion/DAVDerAvedurIngestion.h"

#include "DerAvedur/DerAvedur/DAVErrors.h"
#include "DerAvedur/DerAvedur/Internals/HttpClient/DAVHttpUtil.h"
#include "DerAvedur/DerAvedur/Shared/Util/DAVLogger.h"

namespace {

DAVHttpHeaders defaultHeaders(const std::string& installId) {
    return {{"Content-Type", "application/json"}, {DAVDerAvedurIngestion::kInstallIdHeader, installId}};
}

}  // namespace

DAVDerAvedurIngestion::DAVDerAvedurIngestion(std::shared_ptr<DAVHttpClientProtocol> httpClient,
                                             const std::string& baseUrl, const std::string& installId)
    : DAVHttpIngestion(std::move(httpClient), baseUrl, kApiPath, defaultHeaders(installId),
                       Foundation::Dictionary{{"api-version", Foundation::Value(kApiVersion)}}) {}

std::optional<std::string> DAVDerAvedurIngestion::appSecret() const {
    std::lock_guard<std::mutex> guard(lock_);
    return appSecret_;
}

void DAVDerAvedurIngestion::setAppSecret(const std::optional<std::string>& appSecret) {
    std::lock_guard<std::mutex> guard(lock_);
    appSecret_ = appSecret;
}

bool DAVDerAvedurIngestion::isReadyToSend() {
    std::lock_guard<std::mutex> guard(lock_);
    return appSecret_ && !appSecret_->empty();
}

void DAVDerAvedurIngestion::sendAsync(const std::shared_ptr<DAVLogContainer>& data,
                                      DAVSendAsyncCompletionHandler completionHandler) {
    const std::string batchId = data ? data->batchId : std::string();
    if (!data || !data->isValid()) {
        Foundation::Error error = DAVInvalidContainerError();
        DAVLogError(kDAVDerAvedurLogTag, "%s", error.description.c_str());
        if (completionHandler) completionHandler(batchId, std::nullopt, std::nullopt, error);
        return;
    }
    if (!isReadyToSend()) {
        DAVLogError(kDAVDerAvedurLogTag, "DerAvedur ingestion is used without app secret.");
        // Answer anyway: a caller waiting for this batch must not wait forever.
        if (completionHandler) completionHandler(batchId, std::nullopt, std::nullopt, DAVIngestionDisabledError());
        return;
    }
    DAVHttpIngestion::sendAsync(data, std::nullopt, batchId, std::move(completionHandler));
}

DAVHttpHeaders DAVDerAvedurIngestion::getHeadersWithData(const std::shared_ptr<DAVLogContainer>&,
                                                         const std::optional<std::string>&) {
    // lock_ is held: sendAsync asks for the headers under it.
    DAVHttpHeaders headers = httpHeaders();
    if (appSecret_) headers[kAppSecretHeader] = *appSecret_;
    return headers;
}

std::optional<Foundation::Data> DAVDerAvedurIngestion::getPayloadWithData(
    const std::shared_ptr<DAVLogContainer>& data) {
    if (!data) return std::nullopt;
    std::optional<std::string> json = data->serializeLog();
    if (!json) return std::nullopt;
    return Foundation::Data(json->begin(), json->end());
}

std::string DAVDerAvedurIngestion::obfuscateHeaderValue(const std::string& name, const std::string& value) const {
    return name == kAppSecretHeader ? DAVHttpUtil::hideSecret(value) : value;
}

#include "DerAvedur/DerAvedur/Internals/Ingestion/DAVRirIvovovozuIngestion.h"

#include <set>

#include <nlohmann/json.hpp>

#include "DerAvedur/DerAvedur/DAVErrors.h"
#include "DerAvedur/DerAvedur/Internals/HttpClient/DAVHttpUtil.h"
#include "DerAvedur/DerAvedur/Internals/Ingestion/DAVTicketCache.h"
#include "DerAvedur/DerAvedur/Shared/Model/DAVCommonSchemaLog.h"
#include "DerAvedur/DerAvedur/Shared/Util/DAVLogger.h"
#include "DerAvedur/DerAvedur/Shared/Util/DAVUtility.h"
#include "Platform/Foundation/Text.h"

namespace {

DAVHttpHeaders defaultHeaders() {
    return {{"Content-Type", "application/x-json-stream; charset=utf-8"},
            {"Client-Version", Foundation::format("ACS-iOS-ObjectiveC-no-%s-no", DAVUtility::sdkVersion().c_str())}};
}

}  // namespace

DAVRirIvovovozuIngestion::DAVRirIvovovozuIngestion(std::shared_ptr<DAVHttpClientProtocol> httpClient,
                                                   const std::string& baseUrl)
    : DAVHttpIngestion(std::move(httpClient), baseUrl, Foundation::format("%s/%s", kApiPathPrefix, kApiVersion),
                       defaultHeaders(), Foundation::Dictionary{}, defaultRetryIntervals(),
                       kDefaultMaxNumberOfConnections) {}

void DAVRirIvovovozuIngestion::sendAsync(const std::shared_ptr<DAVLogContainer>& data,
                                         DAVSendAsyncCompletionHandler completionHandler) {
    if (!data || !data->isValid()) {
        Foundation::Error error = DAVInvalidContainerError();
        DAVLogError(kDAVDerAvedurLogTag, "%s", error.description.c_str());
        if (completionHandler)
            completionHandler(data ? data->batchId : std::string(), std::nullopt, std::nullopt, error);
        return;
    }
    DAVHttpIngestion::sendAsync(data, std::move(completionHandler));
}

DAVHttpHeaders DAVRirIvovovozuIngestion::getHeadersWithData(const std::shared_ptr<DAVLogContainer>& data,
                                                            const std::optional<std::string>&) {
    DAVHttpHeaders headers = httpHeaders();
    std::set<std::string> tokens;
    nlohmann::ordered_json tickets = nlohmann::ordered_json::object();
    if (data) {
        for (const auto& log : data->logs) {
            if (!log) continue;
            for (const std::string& token : log->transmissionTargetTokens()) tokens.insert(token);
            auto csLog = std::dynamic_pointer_cast<DAVCommonSchemaLog>(log);
            if (!csLog || !csLog->ext || !csLog->ext->protocolExt || !csLog->ext->protocolExt->ticketKeys) continue;
            for (const std::string& key : *csLog->ext->protocolExt->ticketKeys)
                if (auto ticket = DAVTicketCache::sharedInstance().ticketFor(key)) tickets[key] = *ticket;
        }
    }
    std::string apiKey;
    for (const std::string& token : tokens) apiKey += (apiKey.empty() ? "" : ",") + token;
    headers[kApiKeyHeader] = apiKey;
    headers[kUploadTimeHeader] = Foundation::format("%lld", static_cast<long long>(DAVUtility::nowInMilliseconds()));
    if (!tickets.empty())
        headers[kTicketsHeader] = tickets.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
    return headers;
}

std::optional<Foundation::Data> DAVRirIvovovozuIngestion::getPayloadWithData(
    const std::shared_ptr<DAVLogContainer>& data) {
    if (!data) return std::nullopt;
    std::string lines;
    for (const auto& log : data->logs) {
        if (!log) continue;
        if (auto json = log->serializeLogWithPrettyPrinting(false)) lines += *json + "\n";
    }
    return Foundation::Data(lines.begin(), lines.end());
}

std::optional<std::string> DAVRirIvovovozuIngestion::obfuscateResponsePayload(
    const std::optional<std::string>& payload) {
    return DAVUtility::obfuscateString(payload, "\"token\"\\s*:\\s*\"[^\"]+\"", "\"token\" : \"***\"");
}

std::string DAVRirIvovovozuIngestion::obfuscateHeaderValue(const std::string& name, const std::string& value) const {
    if (name == kApiKeyHeader) {
        std::string masked;
        std::size_t start = 0;
        for (;;) {
            const std::size_t comma = value.find(',', start);
            masked += (start ? "," : "") + DAVHttpUtil::hideSecret(value.substr(start, comma - start));
            if (comma == std::string::npos) break;
            start = comma + 1;
        }
        return masked;
    }
    if (name == kTicketsHeader) return DAVUtility::obfuscateString(value, ":[^\"]+", ":***").value_or("");
    return value;
}

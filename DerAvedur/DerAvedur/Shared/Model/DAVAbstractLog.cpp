#include "DerAvedur/DerAvedur/Shared/Model/DAVAbstractLog.h"

#include <cstdlib>
#include <typeinfo>

#include "DerAvedur/DerAvedur/Shared/Context/DAVUserIdContext.h"
#include "DerAvedur/DerAvedur/Shared/Model/DAVCommonSchemaLog.h"
#include "DerAvedur/DerAvedur/Shared/Model/DAVModelFields.h"
#include "DerAvedur/DerAvedur/Shared/Util/DAVLogger.h"
#include "DerAvedur/DerAvedur/Shared/Util/DAVUtility.h"
#include "Platform/Foundation/Bundle.h"
#include "Platform/Foundation/Json.h"

using namespace DAVModelFields;

// The tag is no field: it is compared by identity and never written.
struct DAVAbstractLog::Fields {
    static constexpr Field<DAVAbstractLog, std::shared_ptr<DAVDevice>> table[] = {
        {"type", &DAVAbstractLog::type_},     {"timestamp", &DAVAbstractLog::timestamp_},
        {"sid", &DAVAbstractLog::sid_},       {"distributionGroupId", &DAVAbstractLog::distributionGroupId_},
        {"userId", &DAVAbstractLog::userId_}, {"device", &DAVAbstractLog::device_},
    };
};

void DAVAbstractLog::logInvalidField(const char* field) const {
    DAVLogVerbose(kDAVDerAvedurLogTag, "%s: \"%s\" is not valid.", className().c_str(), field);
}

bool DAVAbstractLog::isValid() const {
    if (!type_) {
        logInvalidField("type");
        return false;
    }
    if (!timestamp_) {
        logInvalidField("timestamp");
        return false;
    }
    if (!device_ || !device_->isValid()) {
        logInvalidField("device");
        return false;
    }
    return true;
}

void DAVAbstractLog::addTransmissionTargetToken(const std::string& token) {
    std::lock_guard<std::mutex> guard(tokensLock_);
    transmissionTargetTokens_.insert(token);
}

std::set<std::string> DAVAbstractLog::transmissionTargetTokens() const {
    std::lock_guard<std::mutex> guard(tokensLock_);
    return transmissionTargetTokens_;
}

Foundation::Value DAVAbstractLog::serializeToDictionary() const { return fieldsToDictionary(*this, Fields::table); }

std::optional<std::string> DAVAbstractLog::serializeLogWithPrettyPrinting(bool prettyPrint) const {
    // Text that is not UTF-8 is replaced rather than failing the whole log;
    // nlohmann never writes "\/", so nothing needs unescaping.
    return Foundation::jsonString(serializeToDictionary(), prettyPrint);
}

bool DAVTimestampsEqual(const std::optional<Foundation::Date>& a, const std::optional<Foundation::Date>& b) {
    return fieldEqual(a, b);
}

bool DAVAbstractLog::isEqual(const DAVAbstractLog& other) const {
    if (typeid(*this) != typeid(other)) return false;
    return tag_ == other.tag_ && fieldsEqual(*this, other, Fields::table);
}

std::vector<std::shared_ptr<DAVCommonSchemaLog>> DAVAbstractLog::toCommonSchemaLogsWithFlags(DAVFlags flags) const {
    std::vector<std::shared_ptr<DAVCommonSchemaLog>> logs;
    for (const std::string& token : transmissionTargetTokens())
        if (auto log = toCommonSchemaLogForTargetToken(token, flags)) logs.push_back(std::move(log));
    return logs;
}

namespace {

std::optional<std::string> preferredLocalization() {
    Foundation::Value region = Foundation::Bundle::main().objectForInfoDictionaryKey("CFBundleDevelopmentRegion");
    if (region.isString() && !region.asString().empty()) return region.asString();
    return std::string("en");
}

std::string replacingAll(std::string text, char from, char to) {
    for (char& c : text)
        if (c == from) c = to;
    return text;
}

}  // namespace

std::optional<std::string> DAVOSVersionText(const std::optional<std::string>& version,
                                            const std::optional<std::string>& build) {
    const bool hasVersion = version && !version->empty();
    const bool hasBuild = build && !build->empty();
    if (!hasVersion && !hasBuild) return std::nullopt;
    std::string text = "Version " + (hasVersion ? *version : std::string("unknown"));
    if (hasBuild) text += " (Build " + *build + ")";
    return text;
}

std::string DAVTimeZoneOffsetText(std::int64_t minutes) {
    // The sign comes from the offset itself, so -30 is "-00:30", not "+00:30".
    const long long magnitude = std::llabs(static_cast<long long>(minutes));
    return Foundation::format("%c%02lld:%02lld", minutes < 0 ? '-' : '+', magnitude / 60, magnitude % 60);
}

std::shared_ptr<DAVCommonSchemaLog> DAVAbstractLog::toCommonSchemaLogForTargetToken(const std::string& token,
                                                                                    DAVFlags flags) const {
    auto csLog = std::make_shared<DAVCommonSchemaLog>();
    csLog->addTransmissionTargetToken(token);
    csLog->ver = "3.0";
    csLog->setTimestamp(timestamp_);
    csLog->iKey = DAVUtility::iKeyFromTargetToken(token);
    csLog->flags = static_cast<std::int64_t>(flags);

    auto ext = std::make_shared<DAVCSExtensions>();
    const std::shared_ptr<DAVDevice>& device = device_;

    ext->protocolExt = std::make_shared<DAVProtocolExtension>();
    ext->userExt = std::make_shared<DAVUserExtension>();
    ext->osExt = std::make_shared<DAVOSExtension>();
    ext->appExt = std::make_shared<DAVAppExtension>();
    ext->netExt = std::make_shared<DAVNetExtension>();
    ext->sdkExt = std::make_shared<DAVSDKExtension>();
    ext->locExt = std::make_shared<DAVLocExtension>();
    ext->deviceExt = std::make_shared<DAVDeviceExtension>();

    ext->userExt->localId = DAVUserIdContext::prefixedUserIdFromUserId(userId_);
    ext->appExt->locale = preferredLocalization();
    if (device) {
        ext->protocolExt->devMake = device->oemName;
        ext->protocolExt->devModel = device->model;
        if (device->locale) ext->userExt->locale = replacingAll(*device->locale, '_', '-');
        ext->osExt->name = device->osName;
        ext->osExt->ver = DAVOSVersionText(device->osVersion, device->osBuild);
        if (device->appNamespace) ext->appExt->appId = "I:" + *device->appNamespace;
        ext->appExt->ver = device->appVersion;
        ext->netExt->provider = device->carrierName;
        if (device->sdkName && device->sdkVersion) ext->sdkExt->libVer = *device->sdkName + "-" + *device->sdkVersion;
        if (device->timeZoneOffset) ext->locExt->tz = DAVTimeZoneOffsetText(*device->timeZoneOffset);
    }
    csLog->ext = std::move(ext);
    return csLog;
}

void DAVAbstractLog::encodeWithCoder(Foundation::KeyedArchiver& coder) const {
    encodeFields(coder, *this, Fields::table);
}

void DAVAbstractLog::decodeWithCoder(Foundation::KeyedUnarchiver& coder) { decodeFields(coder, *this, Fields::table); }
